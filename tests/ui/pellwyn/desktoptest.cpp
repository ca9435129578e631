#include "desktoptest.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTreeWidget>
#include <QPixmap>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <map>
#include <memory>

#include "ui/core/scanfollower.h"
#include "ui/pellwyn/style.h"
#include "ui/pellwyn/usersettings.h"

namespace desktoptest {

void DesktopTestCase::init() {
  QTest::failOnWarning(QRegularExpression(
      QStringLiteral("^(?!This plugin does not support (propagateSizeHints|raise)\\(\\)|QStandardPaths: "
                     "XDG_RUNTIME_DIR not set)")));
}

namespace {
// The next scripted answer, or what a cancelled dialog gives.
template <class T>
T Take(std::deque<T>& answers, T cancelled) {
  if (answers.empty()) return cancelled;
  T answer = std::move(answers.front());
  answers.pop_front();
  return answer;
}
}  // namespace

int ScriptedPrompts::Count(const std::string& kind) const {
  int n = 0;
  for (const Asked& a : asked) n += a.kind == kind;
  return n;
}

std::string ScriptedPrompts::Last(const std::string& kind) const {
  for (auto it = asked.rbegin(); it != asked.rend(); ++it)
    if (it->kind == kind) return it->text;
  return std::string();
}

bool ScriptedPrompts::AskYesNo(const std::string& title, const std::string& text) {
  asked.push_back({"question", title, text});
  return Take(yesNo, false);
}

void ScriptedPrompts::Inform(const std::string& title, const std::string& text) {
  asked.push_back({"info", title, text});
}

std::optional<std::string> ScriptedPrompts::OpenFile(const std::string& filter) {
  asked.push_back({"open", "", filter});
  return Take(files, std::optional<std::string>());
}

std::optional<std::string> ScriptedPrompts::SaveFile(const std::string& filter, const std::string&) {
  asked.push_back({"save", "", filter});
  return Take(files, std::optional<std::string>());
}

std::optional<std::string> ScriptedPrompts::ChooseFolder(const std::string& title, const std::string&) {
  asked.push_back({"folder", title, ""});
  return Take(files, std::optional<std::string>());
}

int ScriptedPrompts::ChooseVersion(int preselected) {
  asked.push_back({"version", "", std::to_string(preselected)});
  return Take(versions, 0);
}

int ScriptedPrompts::ChooseBackupSet(const CBackupReader& reader) {
  asked.push_back({"set", "", ""});
  if (onChooseSet) onChooseSet(reader);
  return Take(sets, -1);
}

Harness::Harness(std::function<CreatedEngine(int version)> createEngine,
                 std::function<std::unique_ptr<IExportRunner>()> createExportRunner) {
  // Every window starts as on a first run: nothing an earlier test left is remembered.
  OpenUserSettings()->clear();
  CPellwynDlg::Services services;
  services.prompts = &prompts;
  services.shell = &shell;
  services.splashDelayMs = -1;
  if (createEngine) {
    detect = [](const std::string& path) {
      uicore::SourceFacts facts;
      facts.backup = uicore::IsBackupFile(path);
      return facts;
    };
  }
  services.createEngine = std::move(createEngine);
  services.createExportRunner = std::move(createExportRunner);
  services.detectSource = [this](const std::string& path) { return detect ? detect(path) : uicore::DetectSource(path); };
  window = std::make_unique<CPellwynDlg>(services);
  // The size the tests' pictures and pixel positions are made for, whatever the screen.
  window->resize(1024, 740);
  window->show();
  QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

QTreeWidget* Harness::Tree() const { return Find<QTreeWidget>("id1001"); }
QTreeWidgetItem* Harness::Database() const { return Tree()->topLevelItem(0)->child(0); }
QTreeWidgetItem* Harness::Folder(int i) const { return Database()->child(i); }
QTableWidget* Harness::List() const { return Find<QTableWidget>("id1002"); }
QPlainTextEdit* Harness::TextBox() const { return Find<QPlainTextEdit>("id1003"); }

void Harness::Trigger(int id) const {
  QAction* action = window->CommandAction(id);
  if (!action) qFatal("no command %d", id);
  action->trigger();
}

testsupport::CatalogEngine* Harness::AdoptFake(int version) {
  auto* engine = new testsupport::CatalogEngine();
  CreatedEngine created;
  created.engine.reset(engine);
  created.version = FindEngineVersion(version);
  window->Engines().Adopt(std::move(created));
  return engine;
}

QStringList ChildTexts(const QTreeWidgetItem* item) {
  QStringList texts;
  for (int i = 0; i < item->childCount(); ++i) texts << item->child(i)->text(0);
  return texts;
}

QTreeWidgetItem* Child(const QTreeWidgetItem* item, const QString& text) {
  for (int i = 0; i < item->childCount(); ++i)
    if (item->child(i)->text(0) == text) return item->child(i);
  return nullptr;
}

QString SaveScreenshot(QWidget* widget, const QString& name) {
  QDir dir(QStringLiteral(PELLWYN_SCREENSHOT_DIR));
  dir.mkpath(QStringLiteral("."));
  const QString path = dir.filePath(name + QStringLiteral(".png"));
  widget->grab().save(path);
  return path;
}

namespace {

std::map<std::string, Factory>& Registry() {
  static std::map<std::string, Factory> registry;
  return registry;
}

}  // namespace

bool Register(const char* name, Factory factory) {
  Registry()[name] = std::move(factory);
  return true;
}

}  // namespace desktoptest

int main(int argc, char** argv) {
  // What the windows remember goes to a configuration folder of this run, never the user's.
  std::string config = (std::filesystem::temp_directory_path() / "corvane-desktop-tests-XXXXXX").string();
  if (!mkdtemp(config.data())) return 2;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config));
  struct RemoveAtExit {
    std::string path;
    ~RemoveAtExit() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  } removeConfig{config};
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                     : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  ApplyProgramStyle(app);
  // desktop_tests [Class] [Qt Test arguments]
  QStringList args = app.arguments();
  QString only;
  if (args.size() > 1 && !args[1].startsWith(QLatin1Char('-'))) only = args.takeAt(1);
  int failures = 0;
  int ran = 0;
  for (auto& [name, factory] : desktoptest::Registry()) {
    if (!only.isEmpty() && only != QString::fromStdString(name)) continue;
    std::unique_ptr<QObject> test(factory());
    failures += QTest::qExec(test.get(), args);
    ++ran;
  }
  if (ran == 0) {
    std::fprintf(stderr, "no test class named %s\n", qPrintable(only));
    return 2;
  }
  return failures == 0 ? 0 : 1;
}
