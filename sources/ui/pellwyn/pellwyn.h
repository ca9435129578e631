// The application: builds the main window, runs the event loop until the window closes, and
// ends the process.
#pragma once

class CPellwynApp {
 public:
  // Returns the process's exit status.
  int Run(int argc, char** argv);
};
