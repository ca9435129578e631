#include "treefill.h"

#include <QApplication>
#include <QTreeWidget>
#include <chrono>
#include <memory>

#include "common/sqlserver.h"
#include "ui/core/enginefactory.h"
#include "ui/core/prompts.h"
#include "ui/pellwyn/pellwyndlg.h"

namespace {

// Nothing is asked during a fill; every question would be answered as cancelled.
class NoPrompts : public IPrompts {
 public:
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
  void Inform(const std::string&, const std::string&) override {}
  std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
  std::optional<std::string> SaveFile(const std::string&, const std::string&) override { return std::nullopt; }
  std::optional<std::string> ChooseFolder(const std::string&, const std::string&) override { return std::nullopt; }
  int ChooseVersion(int) override { return 0; }
  int ChooseBackupSet(const CBackupReader&) override { return -1; }
};

class NoShell : public IDesktopShell {
 public:
  bool OpenDocument(const std::string&) override { return false; }
  bool OpenUrl(const std::string&) override { return false; }
};

}  // namespace

std::vector<double> TimeWindowTreeFill(CSQLServer* engine, int repeat) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "engine-bench";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
  NoPrompts prompts;
  NoShell shell;
  CPellwynDlg::Services services;
  services.prompts = &prompts;
  services.shell = &shell;
  services.splashDelayMs = -1;
  CPellwynDlg window(services);
  window.show();
  QApplication::processEvents();
  CreatedEngine created;
  created.engine.reset(engine);
  created.version = FindEngineVersion(3);
  window.Engines().Adopt(std::move(created));
  std::vector<double> seconds;
  for (int i = 0; i < repeat; ++i) {
    const auto start = std::chrono::steady_clock::now();
    window.FillObjectTree();
    // The items laid out and painted once, as a user would first see them.
    QApplication::processEvents();
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return seconds;
}
