// Shared pieces of the desktop tests: prompts and a desktop shell that answer as a test
// scripts them and record what was asked, screenshots for a person to look at, and the
// runner that registers each test class.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/catalogengine.h"
#include "support/fixtures.h"
#include "ui/core/prompts.h"
#include "ui/pellwyn/exportcontroller.h"
#include "ui/pellwyn/pellwyndlg.h"

class QPlainTextEdit;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace desktoptest {

class ScriptedPrompts : public IPrompts {
 public:
  struct Asked {
    std::string kind;  // "question", "info", "open", "save", "folder", "version", "set"
    std::string title;
    std::string text;  // the message, the file dialog's filter, or the version preselected
  };

  // Answers, taken in order; when a queue is empty: No, cancel, 0 or -1.
  std::deque<bool> yesNo;
  std::deque<std::optional<std::string>> files;
  std::deque<int> versions;
  std::deque<int> sets;
  // Runs when the set dialog would be shown, with the reader it would list.
  std::function<void(const CBackupReader&)> onChooseSet;

  std::vector<Asked> asked;
  int Count(const std::string& kind) const;
  // The last message of that kind, or "".
  std::string Last(const std::string& kind) const;

  bool AskYesNo(const std::string& title, const std::string& text) override;
  void Inform(const std::string& title, const std::string& text) override;
  std::optional<std::string> OpenFile(const std::string& filter) override;
  std::optional<std::string> SaveFile(const std::string& filter, const std::string& defaultSuffix) override;
  std::optional<std::string> ChooseFolder(const std::string& title, const std::string& start) override;
  int ChooseVersion(int preselected) override;
  int ChooseBackupSet(const CBackupReader& reader) override;
};

class RecordingShell : public IDesktopShell {
 public:
  std::vector<std::string> documents;
  std::vector<std::string> urls;
  bool answer = true;
  bool OpenDocument(const std::string& path) override {
    documents.push_back(path);
    return answer;
  }
  bool OpenUrl(const std::string& url) override {
    urls.push_back(url);
    return answer;
  }
};

// One main window with scripted prompts, its logs in a folder of the test's own. Recover
// makes its engines with `createEngine` when one is given; the files such tests load need not
// exist, so Load then takes every file for a loadable one of unknown version (`detect` may say
// otherwise).
struct Harness {
  testsupport::ModuleFolderScope scope;
  ScriptedPrompts prompts;
  RecordingShell shell;
  // What Load learns of a file; empty: the core's DetectSource.
  std::function<uicore::SourceFacts(const std::string& path)> detect;
  std::unique_ptr<CPellwynDlg> window;

  explicit Harness(std::function<CreatedEngine(int version)> createEngine = {},
                   std::function<std::unique_ptr<IExportRunner>()> createExportRunner = {});
  template <class T>
  T* Find(const char* name) const {
    T* w = window->findChild<T*>(QString::fromLatin1(name));
    if (!w) qFatal("no control %s", name);
    return w;
  }
  QTreeWidget* Tree() const;
  QTreeWidgetItem* Database() const;
  QTreeWidgetItem* Folder(int i) const;
  QTableWidget* List() const;
  QPlainTextEdit* TextBox() const;
  void Trigger(int id) const;
  // A hand-built engine, made current with its scan over, and shown in the tree.
  testsupport::CatalogEngine* AdoptFake(int version = 3);
};

QStringList ChildTexts(const QTreeWidgetItem* item);
QTreeWidgetItem* Child(const QTreeWidgetItem* item, const QString& text);

// Base of every desktop test class: a Qt warning during a test function fails it (a widget
// touched from another thread, a bad connection), except two notes of the environment: the
// offscreen platform cannot resize to hints or raise a window, and a CI machine may have no
// runtime folder.
class DesktopTestCase : public QObject {
  Q_OBJECT

 private slots:
  void init();
};

// Writes the widget's picture to <build>/screenshots/<name>.png; returns the path.
QString SaveScreenshot(QWidget* widget, const QString& name);

// Test classes register themselves; main() runs them (all, or the one named on the
// command line).
using Factory = std::function<QObject*()>;
bool Register(const char* name, Factory factory);

}  // namespace desktoptest

#define DESKTOP_TEST(Class) \
  static const bool Class##_registered = ::desktoptest::Register(#Class, [] { return new Class(); })
