#include "desktoptest.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QRegularExpression>
#include <QTest>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "ui/pellwyn/style.h"

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

int ScriptedPrompts::ChooseVersion() {
  asked.push_back({"version", "", ""});
  return Take(versions, 0);
}

int ScriptedPrompts::ChooseBackupSet(const CBackupReader& reader) {
  asked.push_back({"set", "", ""});
  if (onChooseSet) onChooseSet(reader);
  return Take(sets, -1);
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
