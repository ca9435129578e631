// The application: reads the command line, builds the main window, runs the event loop until
// the window closes, and ends the process.
#pragma once

#include <string>

// The version the window's title and --version give.
inline constexpr const char* kProgramVersion = "4.10";

struct CommandLine {
  enum class Action { Run, Print, Fail };
  Action action = Action::Run;
  std::string text;  // Print: for standard output; Fail: for standard error
  std::string file;  // Run: the file to load at start (file-system bytes), or empty
};

// `corvane [FILE]`, `--help`, `--version`. Options the toolkit reads (-platform xcb, --style=x)
// are passed over; "--" ends the options.
CommandLine ParseCommandLine(int argc, const char* const* argv);

class CPellwynApp {
 public:
  // Returns the process's exit status.
  int Run(int argc, char** argv);
};
