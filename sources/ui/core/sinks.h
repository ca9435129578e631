// What the program's worker threads report, and to whom. A worker never touches a window:
// it calls a sink, and the window side carries the call over to the GUI thread, where it is
// dropped when the window has gone. Every text is the program's 8-bit text.
#pragma once

#include <string>
#include <vector>

// The main window.
class IMainWindowSink {
 public:
  virtual ~IMainWindowSink() = default;
  // Status pane 0.
  virtual void SetStatusText(const std::string& text) = 0;
  // Fills the object tree from the current engine, whose maps the scan has finished writing.
  virtual void FillObjectTree() = 0;
  // The current engine's scan thread has ended: Export and Save Scan may be used.
  virtual void ScanEnded() = 0;
};

// The recovery progress dialog.
class IScanProgressSink {
 public:
  virtual ~IScanProgressSink() = default;
  virtual void SetPagesRead(long long pages) = 0;
  virtual void SetDatabaseName(const std::string& name) = 0;
  // The bar and the percentage text.
  virtual void SetPercent(int percent) = 0;
  struct ObjectCounts {
    int tables = 0, views = 0, procedures = 0, rules = 0, triggers = 0, functions = 0;
  };
  virtual void SetObjectCounts(const ObjectCounts& counts) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  // The scan is complete: the button becomes "Close".
  virtual void Finished() = 0;
  virtual void CloseDialog() = 0;
};

// The record list and its paging row.
class IPreviewSink {
 public:
  virtual ~IPreviewSink() = default;
  // One window of rows, handed over whole.
  struct Page {
    std::vector<std::string> columns;            // every column of the table, dropped ones too
    std::vector<std::vector<std::string>> rows;  // cell texts, "Empty" already shown blank
    int pageNumber = 0;
    bool previousEnabled = false;
    bool nextEnabled = false;
  };
  virtual void ShowPage(const Page& page) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
};

// The export progress dialog and the main window's export texts.
class IExportSink {
 public:
  virtual ~IExportSink() = default;
  virtual void AppendStatus(const std::string& line) = 0;
  virtual void SetDialogPercent(int percent) = 0;
  virtual void SetMainPercent(int percent) = 0;
  virtual void SetCounterText(const std::string& text) = 0;
  virtual void AddObjectRow(const std::string& name, int rowsExported) = 0;
  virtual void AppendReport(const std::string& name, int rowsExported) = 0;
  virtual void Finish(const std::string& message) = 0;
  virtual void CloseDialog() = 0;
};
