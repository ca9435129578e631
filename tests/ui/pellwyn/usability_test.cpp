// The window as a keyboard user and a returning user meet it: focus order and keys, the set
// dialog's first choice, the command line, what the preview's cells and paging row say, and
// what the window shows after a load ends or is replaced.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/catalogengine.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "ui/core/openscan.h"
#include "ui/core/programfolder.h"
#include "ui/pellwyn/exportcontroller.h"
#include "ui/pellwyn/exportoptiondlg.h"
#include "ui/pellwyn/pellwyn.h"
#include "ui/pellwyn/pellwyndlg.h"
#include "ui/pellwyn/qtprompts.h"
#include "ui/pellwyn/splittercontrol.h"
#include "ui/pellwyn/usersettings.h"
#include "ui/pellwyn/tabctrlex.h"
#include "desktoptest.h"

using desktoptest::Child;
using desktoptest::Harness;
using testsupport::CatalogEngine;

namespace {

// A hand-built engine whose tables page like a real one: 500 row texts a page, forward and
// back, with the paging state the preview driver reads.
class PagedEngine : public CatalogEngine {
 public:
  std::vector<std::string> rows;  // the row texts of every table
  size_t pageRows = 500;

  void StartRecoverTableRecordThread() override {
    if (!m_bPaging && m_stkWindowStarts.empty()) m_start = 0;
    if (m_bPaging && m_bPageForward) {
      m_stkWindowStarts.push_back(WindowStart());
      m_starts.push_back(m_start);
      m_start = m_end;
    } else if (m_bPaging && !m_bPageForward && !m_starts.empty()) {
      m_start = m_starts.back();
      m_starts.pop_back();
      m_stkWindowStarts.pop_back();
    }
    m_end = std::min(rows.size(), m_start + pageRows);
    {
      std::lock_guard<std::mutex> lock(m_pStatus->m_csPreviewRows);
      for (size_t i = m_start; i < m_end; ++i) m_pStatus->m_vecPreviewRows.push_back(CString(rows[i]));
    }
    m_bLastWindow = m_end >= rows.size() ? 1 : 0;
    m_pStatus->m_bRecordThreadDone = 1;
  }

 private:
  size_t m_start = 0, m_end = 0;
  std::vector<size_t> m_starts;
};

PagedEngine* AdoptPaged(Harness& h, int rowCount) {
  auto* engine = new PagedEngine();
  engine->m_strDatabaseName = "shop";
  CTable* orders = engine->AddTable(10, "dbo", "Orders");
  engine->AddColumn(orders, "Id", "int", 4);
  engine->AddColumn(orders, "Note", "nvarchar", 200);
  engine->AddObject(engine->m_mapViews, 30, "recent", "CREATE VIEW recent AS SELECT 1");
  for (int i = 1; i <= rowCount; ++i)
    engine->rows.push_back(std::to_string(i) + "$#$note " + std::to_string(i) + "$#$");
  CreatedEngine created;
  created.engine.reset(engine);
  created.version = FindEngineVersion(3);
  h.window->Engines().Adopt(std::move(created));
  h.window->Engines().MarkCatalogComplete();
  h.window->FillObjectTree();
  return engine;
}

QTreeWidgetItem* TableItem(Harness& h, const char* text = "dbo.Orders") { return Child(h.Folder(0), QString::fromLatin1(text)); }

// Selects the item and waits for the preview page it starts.
void SelectAndWait(Harness& h, QTreeWidgetItem* item) {
  const int before = h.window->PreviewPagesShown();
  h.Tree()->setCurrentItem(item);
  QTRY_VERIFY(h.window->PreviewPagesShown() > before);
}

// A window as a new run of the program makes it: with whatever the user settings hold (the
// harness starts from none).
struct NextRun {
  desktoptest::ScriptedPrompts prompts;
  desktoptest::RecordingShell shell;
  std::unique_ptr<CPellwynDlg> window;
  NextRun() {
    CPellwynDlg::Services services;
    services.prompts = &prompts;
    services.shell = &shell;
    services.splashDelayMs = -1;
    window = std::make_unique<CPellwynDlg>(services);
  }
};

QString RowsShown(const Harness& h) { return h.Find<QLabel>("rowsShown")->text(); }

}  // namespace

class UsabilityTest : public desktoptest::DesktopTestCase {
  Q_OBJECT

 private slots:
  void tabWalksTreeListAndPagingButtons();
  void menuKeysReachTheirCommands();
  void pageKeysAndEnterTurnPages();
  void commandLine();
  void previewCellsShowWholeValues();
  void windowPlacementIsRemembered();
  void firstWindowFitsTheScreen();
  void fileDialogsOpenWhereTheyWereLeft();
  void disabledControlsLookDisabled();
  void tabCaptionFollowsThePane();
  void loadsAndScansClearThePane();
};

void UsabilityTest::tabWalksTreeListAndPagingButtons() {
  Harness h;
  AdoptPaged(h, 1200);
  h.Tree()->setFocus();
  SelectAndWait(h, TableItem(h));
  QTRY_VERIFY(h.Find<QPushButton>("id1071")->isEnabled());
  // A table chosen in the tree by the keys leaves them there.
  QVERIFY(h.Tree()->hasFocus());
  // Tab: tree, list, ">" ("<" is disabled on the first page), and round to the tree; Shift+Tab
  // back. Inside the list Tab no longer walks the cells.
  const char* order[] = {"id1002", "id1071", "id1001"};
  for (const char* name : order) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTRY_COMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(name));
  }
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
  QTRY_COMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("id1071"));
  // The arrow keys still move in the list.
  QTableWidget* list = h.List();
  list->setFocus();
  list->setCurrentCell(0, 0);
  QTest::keyClick(list, Qt::Key_Down);
  QCOMPARE(list->currentRow(), 1);
  // A view's text box passes Tab on too.
  h.Tree()->setCurrentItem(Child(h.Folder(1), QStringLiteral("recent")));
  QTRY_VERIFY(h.TextBox()->isVisible());
  h.TextBox()->setFocus();
  QTest::keyClick(h.TextBox(), Qt::Key_Tab);
  QTRY_VERIFY(!h.TextBox()->hasFocus());
}

void UsabilityTest::menuKeysReachTheirCommands() {
  Harness h;
  testsupport::WriteFile(ProgramFile(kHelpFileName), "<html></html>");
  h.window->activateWindow();
  QTRY_VERIFY(h.window->isActiveWindow());
  // Each key does what its menu item does: the same question, message or file dialog.
  struct Case {
    QKeySequence keys;
    int command;
    const char* kind;  // what the command asks
  } cases[] = {
      {QKeySequence(QStringLiteral("Ctrl+O")), kCmdLoadMenu, "open"},
      {QKeySequence(QStringLiteral("Ctrl+Shift+O")), kCmdOpenScan, "open"},
      {QKeySequence(QStringLiteral("Ctrl+S")), kCmdSaveScan, "info"},
      {QKeySequence(QStringLiteral("Ctrl+Q")), kCmdExitMenu, "question"},
  };
  for (const Case& c : cases) {
    h.prompts.asked.clear();
    h.Trigger(c.command);
    const std::string asked = h.prompts.Last(c.kind);
    QVERIFY(!asked.empty());
    h.prompts.asked.clear();
    QTest::keySequence(h.window.get(), c.keys);
    QVERIFY2(h.prompts.Count(c.kind) == 1, qPrintable(c.keys.toString()));
    QCOMPARE(h.prompts.Last(c.kind), asked);
  }
  QVERIFY(h.window->isVisible());  // Ctrl+Q was answered No
  QTest::keySequence(h.window.get(), QKeySequence(Qt::Key_F1));
  QCOMPARE(h.shell.documents.size(), size_t(1));
  // Ctrl+E is the menu's Export: grayed, so silent, before a load; once a catalog is there it
  // opens the export options.
  h.prompts.asked.clear();
  QTest::keySequence(h.window.get(), QKeySequence(QStringLiteral("Ctrl+E")));
  QVERIFY(h.prompts.asked.empty());
  QVERIFY(!h.window->Exporter()->OptionsDialog() || !h.window->Exporter()->OptionsDialog()->isVisible());
  AdoptPaged(h, 3);
  h.window->OnScanEnded();
  QVERIFY(h.window->CommandAction(kCmdExportMenu)->isEnabled());
  QTest::keySequence(h.window.get(), QKeySequence(QStringLiteral("Ctrl+E")));
  QTRY_VERIFY(h.window->Exporter()->OptionsDialog()->isVisible());
  h.window->Exporter()->OptionsDialog()->reject();

  // Alt+A opens the Actions menu; its mnemonics choose the command.
  QMenu* actions = h.window->findChild<QMenu*>(QStringLiteral("menuActions"));
  // (The offscreen platform cannot grab the keyboard for a popup, and says so.)
  QTest::ignoreMessage(QtWarningMsg, "This plugin does not support grabbing the keyboard");
  QTest::keyClick(h.window.get(), Qt::Key_A, Qt::AltModifier);
  QTRY_VERIFY(actions->isVisible());
  desktoptest::SaveScreenshot(actions, QStringLiteral("actions-menu"));
  h.prompts.asked.clear();
  QTest::keyClick(actions, Qt::Key_O);
  QTRY_VERIFY(!actions->isVisible());
  QCOMPARE(h.prompts.Last("open"), std::string("Scan Files (*.str *.STR)"));
}

void UsabilityTest::pageKeysAndEnterTurnPages() {
  Harness h;
  AdoptPaged(h, 1200);
  SelectAndWait(h, TableItem(h));
  QTableWidget* list = h.List();
  QCOMPARE(list->rowCount(), 500);
  QCOMPARE(RowsShown(h), QStringLiteral("rows 1-500"));
  // Page Down in the list turns to the next page and keeps the keys in the list.
  list->setFocus();
  int before = h.window->PreviewPagesShown();
  QTest::keyClick(list, Qt::Key_PageDown);
  QTRY_VERIFY(h.window->PreviewPagesShown() > before);
  QCOMPARE(list->item(0, 0)->text(), QStringLiteral("501"));
  QCOMPARE(RowsShown(h), QStringLiteral("rows 501-1000"));
  QTRY_VERIFY(list->hasFocus());
  // Enter on the focused ">" presses it: the last page, and now the table's size is known.
  QPushButton* next = h.Find<QPushButton>("id1071");
  next->setFocus();
  before = h.window->PreviewPagesShown();
  QTest::keyClick(next, Qt::Key_Return);
  QTRY_VERIFY(h.window->PreviewPagesShown() > before);
  QCOMPARE(list->rowCount(), 200);
  QCOMPARE(RowsShown(h), QStringLiteral("rows 1001-1200 of 1200"));
  QVERIFY(!next->isEnabled());
  // Page Down on the last page does nothing; Page Up goes back, the total still known.
  before = h.window->PreviewPagesShown();
  QTest::keyClick(list, Qt::Key_PageDown);
  QTest::qWait(50);
  QCOMPARE(h.window->PreviewPagesShown(), before);
  QTest::keyClick(list, Qt::Key_PageUp);
  QTRY_VERIFY(h.window->PreviewPagesShown() > before);
  QCOMPARE(list->item(0, 0)->text(), QStringLiteral("501"));
  QCOMPARE(RowsShown(h), QStringLiteral("rows 501-1000 of 1200"));
  desktoptest::SaveScreenshot(h.window.get(), QStringLiteral("preview-page-2-of-3"));
}

void UsabilityTest::commandLine() {
  struct Case {
    std::vector<const char*> args;
    CommandLine::Action action;
    const char* file;
    const char* textStart;
  } cases[] = {
      {{"corvane"}, CommandLine::Action::Run, "", ""},
      {{"corvane", "/data/pubs.bak"}, CommandLine::Action::Run, "/data/pubs.bak", ""},
      {{"corvane", "--help", "/data/pubs.bak"}, CommandLine::Action::Print, "", "Usage: corvane [FILE]"},
      {{"corvane", "-h"}, CommandLine::Action::Print, "", "Usage: corvane [FILE]"},
      {{"corvane", "--version"}, CommandLine::Action::Print, "", "corvane 4.10\n"},
      // The toolkit's options and their values are not files.
      {{"corvane", "-platform", "xcb", "--style=Fusion", "n.mdf"}, CommandLine::Action::Run, "n.mdf", ""},
      {{"corvane", "--", "-odd.bak"}, CommandLine::Action::Run, "-odd.bak", ""},
      {{"corvane", "a.bak", "b.bak"}, CommandLine::Action::Fail, "", "corvane: one file at a time"},
  };
  for (const Case& c : cases) {
    const CommandLine line = ParseCommandLine(int(c.args.size()), c.args.data());
    QVERIFY2(int(line.action) == int(c.action), c.args.back());
    QVERIFY2(line.file == c.file, c.args.back());
    QVERIFY2(line.text.rfind(c.textStart, 0) == 0, line.text.c_str());
  }
  // A file given there goes the way one chosen in Load's dialog goes: the same questions and
  // messages after the dialog, the same status.
  testsupport::TempDir dir;
  const std::string backup = testsupport::FixturePath("bak2008_library_small.bak");
  const std::string notABackup = dir.file("notes.bak");
  testsupport::WriteFile(notABackup, std::string(4096, 'x'));
  for (const std::string& path : {backup, notABackup}) {
    if (path.empty()) continue;
    auto asked = [](const desktoptest::ScriptedPrompts& p) {
      std::vector<std::string> kinds;
      for (const auto& a : p.asked) kinds.push_back(a.kind + ":" + a.text);
      return kinds;
    };
    Harness viaDialog;
    viaDialog.prompts.files = {path};
    viaDialog.Trigger(kCmdLoad);
    std::vector<std::string> dialogAsked = asked(viaDialog.prompts);
    QVERIFY(!dialogAsked.empty());
    QCOMPARE(dialogAsked.front().rfind("open:", 0), size_t(0));
    dialogAsked.erase(dialogAsked.begin());
    Harness viaLine;
    viaLine.window->LoadFile(path);
    QVERIFY2(asked(viaLine.prompts) == dialogAsked, path.c_str());
    QCOMPARE(viaLine.window->StatusText(), viaDialog.window->StatusText());
    QCOMPARE(viaLine.Find<QLineEdit>("id1005")->text(), QString::fromStdString(path));
  }
}

void UsabilityTest::previewCellsShowWholeValues() {
  Harness h;
  PagedEngine* engine = AdoptPaged(h, 0);
  const std::string longNote = "A note far too long for its cell: " + std::string(300, 'x') + " (end)";
  engine->rows = {"7$#$" + longNote + "$#$", "8$#$short$#$"};
  SelectAndWait(h, TableItem(h));
  QTableWidget* list = h.List();
  QCOMPARE(list->rowCount(), 2);
  QCOMPARE(RowsShown(h), QStringLiteral("rows 1-2 of 2"));
  // Numbers line up on the right, texts on the left.
  QCOMPARE(list->item(0, 0)->textAlignment(), int(Qt::AlignRight | Qt::AlignVCenter));
  QVERIFY(!(list->item(0, 1)->textAlignment() & Qt::AlignRight));
  // The cut value shows whole in its tooltip; a value that fits has none.
  auto tipAt = [&](int row, int column) -> QString {
    QToolTip::hideText();
    QTest::qWaitFor([] { return !QToolTip::isVisible(); });
    const QPoint at = list->visualRect(list->model()->index(row, column)).center();
    QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
  };
  const QString tip = tipAt(0, 1);
  QVERIFY2(tip.contains(QString::fromStdString(longNote)), qPrintable(tip));
  QVERIFY(tipAt(1, 1).isEmpty());
  QVERIFY(tipAt(0, 0).isEmpty());
  QToolTip::hideText();
  // Ctrl+C copies the whole value of the current cell.
  list->setFocus();
  list->setCurrentCell(0, 1);
  QTest::keySequence(list, QKeySequence::Copy);
  QCOMPARE(QApplication::clipboard()->text(), QString::fromStdString(longNote));
}

void UsabilityTest::windowPlacementIsRemembered() {
  QRect geometry;
  int treeWidth = 0;
  {
    Harness h;
    h.window->resize(900, 620);
    h.window->move(40, 30);
    // A splitter drag 60 to the right.
    auto* bar = h.Find<CSplitterControl>("id1120");
    const int y = bar->height() / 2;
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(2, y));
    QTest::mouseMove(bar, QPoint(62, y));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(62, y));
    QTRY_COMPARE(h.Tree()->width(), 320);
    geometry = h.window->geometry();
    treeWidth = h.Tree()->width();
    h.prompts.yesNo = {true};
    h.Trigger(kCmdExitMenu);
    QTRY_VERIFY(!h.window->isVisible());
  }
  // Kept in the user's configuration folder, which the test run points elsewhere.
  const QString file = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + QStringLiteral("/corvane/corvane.conf");
  QVERIFY2(QFileInfo::exists(file), qPrintable(file));
  // The next run's window: the same size, place and tree.
  NextRun run;
  CPellwynDlg& again = *run.window;
  again.show();
  QVERIFY(QTest::qWaitForWindowExposed(&again));
  QCOMPARE(again.size(), geometry.size());
  QCOMPARE(again.geometry().topLeft(), geometry.topLeft());
  auto* tree = again.findChild<QTreeWidget*>(QStringLiteral("id1001"));
  QTRY_COMPARE(tree->width(), treeWidth);
  // The splitter still reaches as far as it did from where the tree first started: 275 right
  // of 260, whatever the width the tree came back with.
  auto* bar = again.findChild<CSplitterControl*>(QStringLiteral("id1120"));
  const int y = bar->height() / 2;
  QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(2, y));
  QTest::mouseMove(bar, QPoint(500, y));
  QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(500, y));
  QTRY_COMPARE(tree->width(), 260 + 275);
  // The list keeps room beside it, and the window can still be made smaller: the tree gives
  // way, never the list below its least width.
  again.resize(700, 500);
  QTRY_COMPARE(again.width(), 700);
  auto* right = again.findChild<QWidget*>(QStringLiteral("rightSide"));
  QTRY_VERIFY(right->width() >= 320);
  QVERIFY(tree->width() < 260 + 275);
  QVERIFY(again.minimumSizeHint().width() <= 520);
  desktoptest::SaveScreenshot(&again, QStringLiteral("main-window-narrowed-after-wide-tree"));
  again.resize(1000, 700);
  QTRY_COMPARE(tree->width(), 260 + 275);  // wide again once there is room
  OpenUserSettings()->clear();
}

void UsabilityTest::firstWindowFitsTheScreen() {
  OpenUserSettings()->clear();
  NextRun run;
  CPellwynDlg& window = *run.window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  const QRect free = window.screen()->availableGeometry();
  QVERIFY2(free.contains(window.frameGeometry()), qPrintable(QStringLiteral("%1x%2 in %3x%4")
                                                                  .arg(window.frameGeometry().width())
                                                                  .arg(window.frameGeometry().height())
                                                                  .arg(free.width())
                                                                  .arg(free.height())));
  // The whole window is usable there: the paging row and the status bar inside it.
  for (const char* name : {"id1070", "statusBar"}) {
    QWidget* w = window.findChild<QWidget*>(QString::fromLatin1(name));
    const QRect at(w->mapTo(&window, QPoint(0, 0)), w->size());
    QVERIFY2(window.rect().contains(at), name);
  }
  QVERIFY(window.minimumSizeHint().width() <= free.width() && window.minimumSizeHint().height() <= free.height());
  desktoptest::SaveScreenshot(&window, QStringLiteral("main-window-first-run-on-a-small-screen"));
}

void UsabilityTest::fileDialogsOpenWhereTheyWereLeft() {
  OpenUserSettings()->clear();
  testsupport::TempDir dir;
  const QString first = QString::fromStdString(dir.file("first"));
  const QString second = QString::fromStdString(dir.file("second"));
  QDir().mkpath(first);
  QDir().mkpath(second);
  testsupport::WriteFile(dir.file("second/pubs.bak"), "x");
  // Each dialog by its own text; a folder gone since is forgotten.
  RememberFolder("BAK Files (*.bak *.BAK)", first);
  RememberFolder("Scan Files (*.str *.STR)", second);
  QCOMPARE(RememberedFolder("BAK Files (*.bak *.BAK)"), first);
  QCOMPARE(RememberedFolder("Scan Files (*.str *.STR)"), second);
  QCOMPARE(RememberedFolder("Other"), QString());
  RememberFolder("Other", QString::fromStdString(dir.file("gone")));
  QCOMPARE(RememberedFolder("Other"), QString());

  // The program's own Load dialog opens in the folder kept for it and keeps the next one.
  QtPrompts prompts;
  QString shownIn;
  QTimer::singleShot(0, [&] {
    QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    shownIn = dialog->directory().absolutePath();
    dialog->selectFile(second + QStringLiteral("/pubs.bak"));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  const std::optional<std::string> chosen = prompts.OpenFile("BAK Files (*.bak *.BAK)");
  QCOMPARE(shownIn, first);
  QVERIFY(chosen);
  QCOMPARE(QString::fromStdString(*chosen), second + QStringLiteral("/pubs.bak"));
  QCOMPARE(RememberedFolder("BAK Files (*.bak *.BAK)"), second);
  // A folder chooser starts where it was left rather than where its caller suggests.
  RememberFolder(CExportOptionDlg::kFolderTitle, first);
  QTimer::singleShot(0, [&] {
    QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    shownIn = dialog->directory().absolutePath();
    dialog->reject();
  });
  QVERIFY(!prompts.ChooseFolder(CExportOptionDlg::kFolderTitle, second.toStdString()));
  QCOMPARE(shownIn, first);
  QCOMPARE(RememberedFolder(CExportOptionDlg::kFolderTitle), first);  // a cancel keeps it
  OpenUserSettings()->clear();
}

void UsabilityTest::disabledControlsLookDisabled() {
  Harness h;
  AdoptPaged(h, 600);
  SelectAndWait(h, TableItem(h));
  QPushButton* prev = h.Find<QPushButton>("id1070");
  QPushButton* next = h.Find<QPushButton>("id1071");
  QVERIFY(!prev->isEnabled());
  QTRY_VERIFY(next->isEnabled());
  // "<" on the first page: grey text on a grey face, not the black on white of ">".
  const QImage off = prev->grab().toImage();
  const QImage on = next->grab().toImage();
  const QPoint middle(off.width() / 2, off.height() / 2);
  QVERIFY(off.pixelColor(3, middle.y()) != on.pixelColor(3, middle.y()));
  auto darkest = [](const QImage& image) {
    int least = 255;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) least = std::min(least, qGray(image.pixel(x, y)));
    return least;
  };
  QVERIFY2(darkest(off) > 90, qPrintable(QString::number(darkest(off))));  // no black glyph
  QVERIFY(darkest(on) < 60);
  desktoptest::SaveScreenshot(h.Find<QWidget>("rightSide"), QStringLiteral("paging-first-page"));

  // The export options' credentials, greyed while the target is a folder of scripts.
  h.window->OnScanEnded();
  h.Trigger(kCmdExportMenu);
  CExportOptionDlg* options = h.window->Exporter()->OptionsDialog();
  QTRY_VERIFY(options->isVisible());
  auto* server = options->findChild<QLineEdit*>(QStringLiteral("id1044"));
  options->OnScriptTarget();
  QVERIFY(!server->isEnabled());
  const QPalette p = server->palette();
  QVERIFY(p.color(QPalette::Disabled, QPalette::Base) != p.color(QPalette::Active, QPalette::Base));
  QVERIFY(p.color(QPalette::Disabled, QPalette::Text) != p.color(QPalette::Active, QPalette::Text));
  QCOMPARE(p.color(QPalette::Active, QPalette::Base), QColor(Qt::white));
  desktoptest::SaveScreenshot(options, QStringLiteral("export-options-credentials-greyed"));
  options->reject();
}

void UsabilityTest::tabCaptionFollowsThePane() {
  Harness h;
  AdoptPaged(h, 3);
  CTabCtrlEx* tab = h.Find<CTabCtrlEx>("id1123");
  SelectAndWait(h, TableItem(h));
  QCOMPARE(tab->tabText(0), QStringLiteral("  dbo.Orders  "));
  h.Tree()->setCurrentItem(Child(h.Folder(1), QStringLiteral("recent")));
  QTRY_VERIFY(h.TextBox()->isVisible());
  QCOMPARE(tab->tabText(0), QStringLiteral("  recent  "));
  desktoptest::SaveScreenshot(h.window.get(), QStringLiteral("view-text-under-its-tab"));
  SelectAndWait(h, TableItem(h));
  QCOMPARE(tab->tabText(0), QStringLiteral("  dbo.Orders  "));
}

void UsabilityTest::loadsAndScansClearThePane() {
  testsupport::TempDir dir;
  const std::string notAScan = dir.file("notes.str");
  testsupport::WriteFile(notAScan, "just text\n");
  const std::string plain = dir.file("plain.mdf");
  testsupport::WriteFile(plain, std::string(8192, '\0'));
  // A scan file to open, saved by the engine the program uses, when the fixtures are here.
  std::string scan;
  const std::string backup = testsupport::FixturePath("bak2008_library_small.bak");
  if (!backup.empty()) {
    testsupport::ModuleFolderScope scope;
    CSQLServer2008 engine;
    QVERIFY(testsupport::RunRecovery(engine, backup).finished);
    scan = dir.file("library.str");
    QVERIFY(uicore::SaveScan(&engine, backup, [&] { return std::optional<std::string>(scan); }).message.empty());
  }
  enum class After { PageKept, PaneCleared, PaneAndTreeCleared };
  struct Case {
    const char* name;
    std::vector<std::optional<std::string>> files;
    std::vector<int> versions;
    int command;
    After after;
  } cases[] = {
      {"Load cancelled in the version dialog", {backup}, {}, kCmdLoad, After::PaneCleared},
      {"Load of a file that is no backup", {plain}, {3}, kCmdLoad, After::PaneAndTreeCleared},
      // The previous engine is given up once the version is chosen: its name must not stay.
      {"Load cancelled in the set dialog", {backup}, {3}, kCmdLoad, After::PaneAndTreeCleared},
      {"Open Scan cancelled", {}, {}, kCmdOpenScan, After::PageKept},
      {"Open Scan of a file that is not a scan", {notAScan}, {}, kCmdOpenScan, After::PageKept},
      {"Open Scan", {scan}, {}, kCmdOpenScan, After::PaneCleared},
  };
  for (const Case& c : cases) {
    if (c.files.size() == 1 && c.files[0] && c.files[0]->empty()) continue;  // no fixtures: no scan file
    Harness h;
    AdoptPaged(h, 700);
    SelectAndWait(h, TableItem(h));
    QCOMPARE(h.Find<QLabel>("id1064")->text(), QStringLiteral("500"));
    h.prompts.files.assign(c.files.begin(), c.files.end());
    h.prompts.versions.assign(c.versions.begin(), c.versions.end());
    h.Trigger(c.command);
    // Whatever happened, nothing is said to be loading or recovering now.
    const QString status = h.window->StatusText();
    QVERIFY2(!status.startsWith(QLatin1String("Recovering file")) && !status.startsWith(QLatin1String("Loading")) &&
                 !status.isEmpty(),
             qPrintable(status));
    if (c.after == After::PageKept) {
      // Nothing was opened: the engine, its tree and the table's page stay.
      QVERIFY2(h.List()->rowCount() == 500, c.name);
      continue;
    }
    QVERIFY2(h.List()->rowCount() == 0 && h.List()->columnCount() == 0, c.name);
    QVERIFY2(h.TextBox()->toPlainText().isEmpty(), c.name);
    QVERIFY2(h.Find<CTabCtrlEx>("id1123")->tabText(0).trimmed().isEmpty(), c.name);
    for (const char* name : {"id1070", "id1071", "id1064", "id1100", "id1074", "rowsShown"})
      QVERIFY2(!h.Find<QWidget>(name)->isVisible(), name);
    if (c.after == After::PaneAndTreeCleared) {
      QVERIFY2(h.Tree()->topLevelItem(0)->text(0) == QStringLiteral("Set 1"), c.name);
      QVERIFY2(h.Tree()->topLevelItem(0)->child(0)->text(0) == QStringLiteral("<Database Name>"), c.name);
    }
    if (c.after == After::PaneCleared && c.command == kCmdLoad) {
      // The previous engine and its tree stay; its table previews again.
      SelectAndWait(h, TableItem(h));
      QCOMPARE(h.List()->rowCount(), 500);
      QVERIFY(h.Find<QWidget>("id1071")->isVisible());
    }
  }
}

DESKTOP_TEST(UsabilityTest);
#include "usability_test.moc"
