// An export sink for front ends without a window (engine-driver, the fixture tests): it keeps
// only what a message box would have said and how the export ended.
#pragma once

#include <string>

#include "ui/core/exportworker.h"

namespace testsupport {

class QuietExportSink : public uicore::IExportSink {
 public:
  void AppendStatus(const std::string&) override {}
  void SetDialogPercent(int) override {}
  void SetMainPercent(int) override {}
  void SetCounterText(const std::string&) override {}
  void AddObjectRow(const std::string&, const std::string&, bool) override {}
  void AppendReport(const std::string&) override {}
  void ShowMessage(const std::string& text) override { message = text; }
  void Finished(bool, const std::string&) override {}
  void EndedEarly() override {}

  std::string message;  // the last message box's text
};

}  // namespace testsupport
