#include "pellwyn.h"

#include <QApplication>
#include <cstdlib>

#include "ui/pellwyn/pellwyndlg.h"
#include "ui/pellwyn/qtprompts.h"
#include "ui/pellwyn/style.h"

int CPellwynApp::Run(int argc, char** argv) {
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
    status = app.exec();
    threadsEnded = window.AllThreadsEnded();
  }
  // An engine thread that did not stop in time may still use what the destructors of the
  // libraries' globals would free: end without running them.
  if (!threadsEnded) std::quick_exit(status);
  return status;
}
