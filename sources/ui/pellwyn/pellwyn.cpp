#include "pellwyn.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "ui/pellwyn/pellwyndlg.h"
#include "ui/pellwyn/qtprompts.h"
#include "ui/pellwyn/style.h"

namespace {

const char* const kUsage =
    "Usage: corvane [FILE]\n"
    "Recovers SQL Server 2000, 2005 and 2008 databases from backup (.bak) and database (.mdf)\n"
    "files without a server: lists the backup sets, rebuilds the catalog, previews the rows\n"
    "and exports the database as T-SQL scripts or into a live server.\n"
    "\n"
    "  FILE       a backup or database file, loaded at start as Load does\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n";

// The toolkit's own options that take the next argument as their value.
bool TakesValue(const char* arg) {
  static const char* const kNames[] = {"platform", "platformpluginpath", "platformtheme", "plugin", "style",
                                       "stylesheet", "session", "display", "geometry", "title", "qwindowgeometry",
                                       "qwindowtitle", "qwindowicon", "name", "qmljsdebugger"};
  const char* name = arg + (arg[1] == '-' ? 2 : 1);
  if (std::strchr(name, '=')) return false;
  for (const char* n : kNames)
    if (std::strcmp(name, n) == 0) return true;
  return false;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
      if (std::strcmp(arg, "--") == 0) {
        optionsEnded = true;
      } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
        line.action = CommandLine::Action::Print;
        line.text = kUsage;
        return line;
      } else if (std::strcmp(arg, "--version") == 0) {
        line.action = CommandLine::Action::Print;
        line.text = std::string("corvane ") + kProgramVersion + "\n";
        return line;
      } else if (TakesValue(arg) && i + 1 < argc) {
        ++i;  // the toolkit's option and its value are the toolkit's to read
      }
      continue;
    }
    if (!line.file.empty()) {
      line.action = CommandLine::Action::Fail;
      line.file.clear();
      line.text = std::string("corvane: one file at a time\n") + kUsage;
      return line;
    }
    line.file = arg;
  }
  return line;
}

int CPellwynApp::Run(int argc, char** argv) {
  // Read before the toolkit starts: --help and --version need no display.
  const CommandLine line = ParseCommandLine(argc, argv);
  if (line.action != CommandLine::Action::Run) {
    std::fputs(line.text.c_str(), line.action == CommandLine::Action::Print ? stdout : stderr);
    return line.action == CommandLine::Action::Print ? 0 : 2;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Corvane"));
  ApplyProgramStyle(app);

  QtPrompts prompts;
  QtDesktopShell shell;
  CPellwynDlg::Services services;
  services.prompts = &prompts;
  services.shell = &shell;
  int status = 0;
  bool threadsEnded = true;
  {
    CPellwynDlg window(services);
    prompts.SetParent(&window);
    window.show();
    if (!line.file.empty()) {
      // Once the event loop runs, so the dialogs Load shows have their parent on the screen.
      std::error_code error;
      std::filesystem::path file = std::filesystem::absolute(line.file, error);
      if (error) file = line.file;
      QTimer::singleShot(0, &window, [&window, file = file.string()] { window.LoadFile(file); });
    }
    status = app.exec();
    threadsEnded = window.AllThreadsEnded();
  }
  // An engine thread that did not stop in time may still use what the destructors of the
  // libraries' globals would free: end without running them.
  if (!threadsEnded) std::quick_exit(status);
  return status;
}
