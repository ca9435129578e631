// What the program's worker threads report, and to whom. A worker never touches a window:
// it calls a sink, and the window side carries the call over to the GUI thread, where it is
// dropped when the window has gone. Every text is the program's 8-bit text. The scan
// follower's and the preview driver's sinks live beside them (scanfollower.h,
// previewdriver.h).
#pragma once

#include <string>

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

// The export worker's and the connection pool's sink (IExportSink) lives in exportworker.h.
