#include <QAction>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "common/backupreader.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/catalogengine.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "ui/core/programfolder.h"
#include "ui/core/sinks.h"
#include "ui/pellwyn/aboutdlg.h"
#include "ui/pellwyn/guipost.h"
#include "ui/pellwyn/pellwyndlg.h"
#include "ui/pellwyn/splittercontrol.h"
#include "ui/pellwyn/tabctrlex.h"
#include "ui/pellwyn/textconv.h"
#include "desktoptest.h"

using desktoptest::Child;
using desktoptest::ChildTexts;
using desktoptest::Harness;
using desktoptest::RecordingShell;
using desktoptest::ScriptedPrompts;
using testsupport::CatalogEngine;

namespace {

const char* const kLoadFilter =
    "Backups and database files (*.bak *.BAK *.mdf *.MDF *.ndf *.NDF);;Backups (*.bak *.BAK);;"
    "Database files (*.mdf *.MDF *.ndf *.NDF);;All files (*)";

bool PagingRowHidden(const Harness& h) {
  for (const char* name : {"id1070", "id1071", "id1064", "id1100", "id1074"})
    if (h.Find<QWidget>(name)->isVisible()) return false;
  return true;
}

// A small catalog with every kind of item.
void BuildCatalog(CatalogEngine& e) {
  e.m_strDatabaseName = "pubs";
  e.m_strFilePath = "/backups/pubs.bak";
  CTable* titles = e.AddTable(10, "dbo", "titles");
  e.AddColumn(titles, "title_id", "varchar", 6);
  e.AddColumn(titles, "title", "nvarchar", 160);
  e.AddIndex(titles, 1, "UPKCL_titleidind", true, false);
  CTable* authors = e.AddTable(20, "dbo", "authors", 0);
  e.AddColumn(authors, "au_id", "char", 11);
  e.AddObject(e.m_mapViews, 30, "titleview", "CREATE VIEW titleview\r\nAS\r\nselect title from titles");
  e.AddObject(e.m_mapStoredProcs, 40, "byroyalty", "CREATE PROCEDURE byroyalty @percentage int");
  e.AddObject(e.m_mapRules, 50, "r_zip", "create rule r_zip as @z like '[0-9][0-9][0-9][0-9][0-9]'");
  e.AddObject(e.m_mapFunctions, 60, "fn_two", "create function fn_two() returns int as begin return 2 end");
}

}  // namespace

class MainWindowTest : public desktoptest::DesktopTestCase {
  Q_OBJECT

 private slots:
  void initialState();
  void tooltips();
  void commandsReachTheirHandlers();
  void closeConfirmation();
  void exportBeforeAnyLoad();
  void helpOpensTheProgramFoldersFileFromAnyWorkingDirectory();
  void loadEndsEarly();
  void failedLoadsSayWhy();
  void loadListsTheBackupSets();
  void splitterDragResizesThePanes();
  void treeFromAFakeEngine();
  void selectionShowsDefinitions();
  void recoverSwallowsExactlyTheChangeItCauses();
  void treeFromARealScan();
  void workersReachTheWindowOnlyThroughTheGuiThread();
};

void MainWindowTest::initialState() {
  Harness h;
  CPellwynDlg* w = h.window.get();
  QCOMPARE(w->windowTitle(), QStringLiteral("Tarnwell Brackmoor - v4.10"));
  QVERIFY(!w->windowIcon().isNull());
  // Verdana where it is installed, else DejaVu Sans, at 8 points.
  const QFontInfo font(w->font());
  QVERIFY2(font.family() == QLatin1String("Verdana") || font.family() == QLatin1String("DejaVu Sans"),
           qPrintable(font.family()));
  QCOMPARE(font.pointSize(), 8);

  // Menu: Actions (every toolbar command but Help, with mnemonics and the usual keys) and Help
  // (Help Contents on F1, About Us); Export grayed.
  const QList<QAction*> menus = w->menuBar()->actions();
  QCOMPARE(menus.size(), 2);
  QCOMPARE(menus[0]->text(), QStringLiteral("&Actions"));
  QCOMPARE(menus[1]->text(), QStringLiteral("&Help"));
  auto describe = [](QMenu* menu) {
    QStringList items;
    for (QAction* a : menu->actions())
      items << (a->isSeparator() ? QStringLiteral("-")
                                 : a->objectName() + QLatin1Char(':') + a->text() + QLatin1Char(':') +
                                       a->shortcut().toString());
    return items;
  };
  QCOMPARE(describe(menus[0]->menu()),
           (QStringList{"id32771:&Load...:Ctrl+O", "id32789:&Open Scan...:Ctrl+Shift+O", "id32790:&Save Scan...:Ctrl+S",
                        "-", "id32772:&Export...:Ctrl+E", "-", "id32786:Su&pport:", "-", "id32773:E&xit:Ctrl+Q"}));
  QCOMPARE(describe(menus[1]->menu()), (QStringList{"id32774:&Help Contents:F1", "id32775:&About Us:"}));
  QStringList items;
  QVERIFY(!w->CommandAction(kCmdExportMenu)->isEnabled());
  QVERIFY(w->CommandAction(kCmdExport)->isEnabled());
  QVERIFY(w->CommandAction(kCmdSaveScan)->isEnabled());

  // Toolbar of 50 x 50 buttons, separators between the groups.
  QToolBar* bar = h.Find<QToolBar>("id184");
  QCOMPARE(bar->iconSize(), QSize(50, 50));
  items.clear();
  for (QAction* a : bar->actions()) {
    items << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    if (!a->isSeparator()) QVERIFY(a->icon().availableSizes().contains(QSize(50, 50)));
  }
  QCOMPARE(items, (QStringList{"id32787", "id32789", "id32790", "-", "id32788", "-", "id32786", "-", "id32784", "-",
                               "id32783"}));

  // Status pane and its grey.
  QCOMPARE(w->StatusText(), QStringLiteral("Ready"));
  QCOMPARE(w->statusBar()->palette().color(QPalette::Window), QColor(180, 180, 180));
  QVERIFY(w->statusBar()->autoFillBackground());

  // The tree's empty folders, root and database open.
  QTreeWidget* tree = h.Tree();
  QCOMPARE(tree->topLevelItemCount(), 1);
  QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("Set 1"));
  QCOMPARE(h.Database()->text(0), QStringLiteral("<Database Name>"));
  QVERIFY(tree->topLevelItem(0)->isExpanded());
  QVERIFY(h.Database()->isExpanded());
  QCOMPARE(ChildTexts(h.Database()), (QStringList{"Tables", "Views", "Stored Procedures", "Rules", "Triggers",
                                                  "Functions"}));
  for (int f = 0; f < 6; ++f) {
    QCOMPARE(h.Folder(f)->childCount(), 0);
    QVERIFY(!h.Folder(f)->icon(0).isNull());
  }

  // The list in view, the text box and the paging row not; the hidden state controls.
  QVERIFY(h.List()->isVisible());
  QVERIFY(!h.TextBox()->isVisible());
  QVERIFY(PagingRowHidden(h));
  QVERIFY(h.Find<QLabel>("id1064")->text().isEmpty());
  QCOMPARE(h.Find<QLabel>("id1100")->text(), QStringLiteral("of Page "));
  for (const char* name : {"id1007", "id1008", "id1009"}) QVERIFY(!h.Find<QPushButton>(name)->isEnabled());
  for (const char* name : {"id1005", "id1006", "id1007", "id1008", "id1009", "id1056"})
    QVERIFY(!h.Find<QWidget>(name)->isVisible());
  CTabCtrlEx* tab = h.Find<CTabCtrlEx>("id1123");
  QCOMPARE(tab->count(), 1);
  QCOMPARE(tab->tabText(0), QString(26, QLatin1Char(' ')));

  // What is painted: the tab's grey, the status bar's grey, black on white elsewhere.
  const QImage tabPicture = tab->grab().toImage();
  QCOMPARE(tabPicture.pixelColor(tab->tabRect(0).center()), QColor(244, 244, 244));
  const QImage barPicture = w->statusBar()->grab().toImage();
  QCOMPARE(barPicture.pixelColor(barPicture.width() / 2, barPicture.height() / 2), QColor(180, 180, 180));
  QCOMPARE(w->palette().color(QPalette::Window), QColor(Qt::white));
  QCOMPARE(h.List()->palette().color(QPalette::Base), QColor(Qt::white));
  QCOMPARE(h.List()->palette().color(QPalette::Text), QColor(Qt::black));

  // The log's banner in both files; no engine yet.
  QVERIFY(h.scope.ReadExecLog().find("Last Log On") != std::string::npos);
  QVERIFY(h.scope.ReadErrorLog().find("Last Log On") != std::string::npos);
  QCOMPARE(w->Engines().Current(), nullptr);

  desktoptest::SaveScreenshot(w, QStringLiteral("main-window-empty"));
}

void MainWindowTest::tooltips() {
  Harness h;
  const std::pair<int, const char*> expected[] = {{32787, "Load"},    {32789, "Open Scan"}, {32790, "Save Scan"},
                                                  {32788, "Export"},  {32786, "Support"},   {32784, "Help"},
                                                  {32783, "Exit"}};
  QToolBar* bar = h.Find<QToolBar>("id184");
  for (const auto& [id, text] : expected) {
    QWidget* button = bar->widgetForAction(h.window->CommandAction(id));
    QVERIFY(button);
    QCOMPARE(button->size(), QSize(56, 56));
    // What a person sees: the tooltip the button shows when asked.
    const QPoint at(10, 10);
    QHelpEvent help(QEvent::ToolTip, at, button->mapToGlobal(at));
    QApplication::sendEvent(button, &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), QString::fromLatin1(text));
    QToolTip::hideText();
  }
}

void MainWindowTest::commandsReachTheirHandlers() {
  Harness h;
  testsupport::WriteFile(ProgramFile(kHelpFileName), "<html></html>");
  struct Case {
    int id;               // a command, or 0 for the hidden button below
    const char* button;
    const char* kind;     // what the handler asks
    const char* text;     // and with which text ("" = any)
  } cases[] = {
      {kCmdLoad, nullptr, "open", kLoadFilter},
      {kCmdLoadMenu, nullptr, "open", kLoadFilter},
      {kCmdExport, nullptr, "info", "Please load bak file before export"},
      {kCmdExportMenu, nullptr, "info", "Please load bak file before export"},
      {kCmdExit, nullptr, "question", "Are you sure you want to close the application ?"},
      {kCmdExitMenu, nullptr, "question", "Are you sure you want to close the application ?"},
      {kCmdSaveScan, nullptr, "info", "Please load mdf file before saving"},
      {kCmdOpenScan, nullptr, "open", "Scan Files (*.str *.STR)"},
      {0, "id1006", "open", "MDF Files (*.mdf *.MDF *.ndf *.NDF);;All files (*)"},
      {0, "id1007", "info", ""},  // Recover with no file chosen: the load fails, saying why
      {0, "id1008", "info", "Please load bak file before export"},
  };
  for (const Case& c : cases) {
    h.prompts.asked.clear();
    if (c.id) {
      QAction* action = h.window->CommandAction(c.id);
      action->setEnabled(true);  // the menu's Export is grayed before a load
      action->trigger();
    } else {
      auto* button = h.Find<QPushButton>(c.button);
      button->setEnabled(true);
      button->click();
    }
    QVERIFY2(h.prompts.Count(c.kind) == 1, c.button ? c.button : qPrintable(QString::number(c.id)));
    if (*c.text) QCOMPARE(h.prompts.Last(c.kind), std::string(c.text));
    QVERIFY(h.window->isVisible());  // every question was answered No
  }

  h.Trigger(kCmdHelp);
  h.Trigger(kCmdHelpContents);
  QCOMPARE(h.shell.documents.size(), size_t(2));
  h.Trigger(kCmdSupport);
  QCOMPARE(h.shell.urls, std::vector<std::string>{kSupportUrl});
  for (int id : {kCmdAboutUs, kCmdAbout}) {
    h.Trigger(id);
    CAboutDlg* about = h.window->findChild<CAboutDlg*>();
    QVERIFY(about);
    QTRY_VERIFY(about->isVisible());
    about->accept();
    QTRY_VERIFY(!h.window->findChild<CAboutDlg*>());
  }
}

void MainWindowTest::closeConfirmation() {
  for (bool viaExit : {true, false}) {
    Harness h;
    h.prompts.yesNo = {false};
    if (viaExit) h.Trigger(kCmdExit);
    else QVERIFY(!h.window->close());
    QCOMPARE(h.prompts.Count("question"), 1);
    QCOMPARE(h.prompts.asked.back().title, std::string("Tarnwell Brackmoor"));
    QCOMPARE(h.prompts.asked.back().text, std::string("Are you sure you want to close the application ?"));
    QVERIFY(h.window->isVisible());

    h.prompts.yesNo = {true};
    if (viaExit) h.Trigger(kCmdExit);
    else QVERIFY(h.window->close());
    // One question per attempt: Exit's Yes is not asked again by the close that follows.
    QCOMPARE(h.prompts.Count("question"), 2);
    QVERIFY(!h.window->isVisible());
    QVERIFY(h.window->AllThreadsEnded());
  }
}

void MainWindowTest::exportBeforeAnyLoad() {
  Harness h;
  h.Trigger(kCmdExport);
  QCOMPARE(h.prompts.asked.size(), size_t(1));
  QCOMPARE(h.prompts.asked[0].kind, std::string("info"));
  QCOMPARE(h.prompts.asked[0].title, std::string("Tarnwell Brackmoor"));
  QCOMPARE(h.prompts.asked[0].text, std::string("Please load bak file before export"));
  QVERIFY(!h.window->CommandAction(kCmdExportMenu)->isEnabled());

  // A cancelled first Load enables the menu's Export; it still finds no engine to use.
  h.Trigger(kCmdLoad);
  h.prompts.files = {std::string("/nowhere/x.bak")};
  h.Trigger(kCmdLoad);
  QVERIFY(h.window->CommandAction(kCmdExportMenu)->isEnabled());
  h.prompts.asked.clear();
  h.Trigger(kCmdExportMenu);
  QCOMPARE(h.prompts.Last("info"), std::string("Please load bak file before export"));
  QCOMPARE(h.window->Engines().Current(), nullptr);
}

void MainWindowTest::helpOpensTheProgramFoldersFileFromAnyWorkingDirectory() {
  Harness h;
  const std::string help = h.scope.path() + "/Help.html";
  testsupport::WriteFile(help, "<html></html>");
  testsupport::TempDir elsewhere;
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(elsewhere.path());
  h.Trigger(kCmdHelp);
  std::filesystem::current_path(before);
  QCOMPARE(h.shell.documents, std::vector<std::string>{help});
  QCOMPARE(h.prompts.Count("info"), 0);

  // No help file, or nothing to open it with: the user is told, naming the file.
  for (bool present : {false, true}) {
    h.prompts.asked.clear();
    h.shell.answer = present ? false : true;
    if (!present) std::filesystem::remove(help);
    else testsupport::WriteFile(help, "<html></html>");
    h.Trigger(kCmdHelp);
    QCOMPARE(h.prompts.Last("info"), "The help file " + help + " could not be opened.");
  }
}

void MainWindowTest::loadEndsEarly() {
  Harness h;
  // Cancel in the file dialog.
  h.Trigger(kCmdLoad);
  QCOMPARE(h.window->StatusText(), QStringLiteral("Ready"));
  QCOMPARE(h.prompts.Count("version"), 0);

  // A previous load whose tree stays when the version dialog is cancelled.
  CatalogEngine* previous = h.AdoptFake();
  BuildCatalog(*previous);
  h.window->OnScanEnded();
  h.window->FillObjectTree();
  QCOMPARE(h.Folder(0)->childCount(), 2);
  const std::string path = "/data/B\xc3\xa4" "ckup.bak";
  // The file is taken for a loadable one of unknown version: the version dialog comes.
  h.detect = [](const std::string&) {
    uicore::SourceFacts facts;
    facts.backup = true;
    return facts;
  };
  h.prompts.files = {path};
  h.Trigger(kCmdLoad);
  QCOMPARE(h.prompts.Count("version"), 1);
  // Nothing is recovered once the version dialog is cancelled: the status says so.
  QCOMPARE(h.window->StatusText(), QStringLiteral("Ready"));
  QVERIFY(!h.List()->isVisible());
  QVERIFY(!h.TextBox()->isVisible());
  QCOMPARE(h.window->Engines().Current(), previous);
  QCOMPARE(h.Folder(0)->childCount(), 2);
  QVERIFY(h.window->CommandAction(kCmdExportMenu)->isEnabled());
  QCOMPARE(h.Find<QLineEdit>("id1005")->text(), FromPath(path));

  // A version whose engine this build does not have: said so, nothing created or emptied.
  if (!EngineAvailable(1)) {
    h.prompts.asked.clear();
    h.prompts.files = {path};
    h.prompts.versions = {1};
    h.Trigger(kCmdLoad);
    QCOMPARE(h.prompts.Count("info"), 1);
    QVERIFY(h.prompts.Last("info").find("SQL Server 2000") != std::string::npos);
    QCOMPARE(h.prompts.asked.back().title, std::string("Tarnwell Brackmoor"));
    QCOMPARE(h.window->Engines().Current(), previous);
    QCOMPARE(h.Folder(0)->childCount(), 2);
  }
}

// A file no engine can read ends Load before the version dialog: the message box says why, the
// tree goes back to its empty state, and the status pane says the load failed.
void MainWindowTest::failedLoadsSayWhy() {
  testsupport::TempDir dir;
  const std::string missing = dir.file("gone.bak");
  const std::string text = dir.file("notes.txt");
  testsupport::WriteFile(text, "a text file\n");
  const std::string zeros = dir.file("plain.mdf");
  testsupport::WriteFile(zeros, std::string(8192, '\0'));
  const std::string empty = dir.file("empty.bak");
  testsupport::WriteFile(empty, "");
  const std::string tape = dir.file("tape.bak");
  testsupport::WriteFile(tape, "TAPE" + std::string(20000, '\0'));
  std::vector<std::string> files = {missing, text, zeros, empty, tape};
  const char* const pictures[] = {"load-failed-missing", "load-failed-not-a-database", "load-failed-zeros",
                                  "load-failed-empty", "load-failed-no-set"};
  for (const char* fixture : {"bak_compressed_northwind.bak", "bak2012_diff_6sets_2dbs.bak",
                              "bak2014_northwind_noboot.bak"}) {
    const std::string path = testsupport::FixturePath(fixture);
    if (!path.empty()) files.push_back(path);
  }
  Harness h;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& file = files[i];
    // A previous load's tree, to be emptied.
    CatalogEngine* previous = h.AdoptFake();
    BuildCatalog(*previous);
    h.window->OnScanEnded();
    h.window->FillObjectTree();
    QCOMPARE(h.Folder(0)->childCount(), 2);
    h.prompts.asked.clear();
    h.prompts.files = {file};
    h.prompts.versions = {3};
    h.Trigger(kCmdLoad);
    const std::string why = uicore::DetectSource(file).failure;
    QVERIFY2(!why.empty(), file.c_str());
    QCOMPARE(h.prompts.Count("version"), 0);
    QCOMPARE(h.prompts.Count("info"), 1);
    QCOMPARE(h.prompts.Last("info"), why);
    QVERIFY(!h.window->ProgressDialog());
    QCOMPARE(h.window->Engines().Current(), nullptr);
    QCOMPARE(h.Tree()->topLevelItem(0)->text(0), QStringLiteral("Set 1"));
    QCOMPARE(h.Database()->text(0), QStringLiteral("<Database Name>"));
    for (int f = 0; f < 6; ++f) QCOMPARE(h.Folder(f)->childCount(), 0);
    QCOMPARE(h.window->StatusText(), QStringLiteral("Load failed: ") + QString::fromUtf8(why.c_str()));
    // The empty tab is shown whole, with no scroll arrows beside it.
    QCoreApplication::sendPostedEvents();
    CTabCtrlEx* tab = h.Find<CTabCtrlEx>("id1123");
    QVERIFY2(tab->tabRect(0).right() < tab->width(), file.c_str());
    QVERIFY2(!tab->findChild<QToolButton*>() || !tab->findChild<QToolButton*>()->isVisible(), file.c_str());
    if (i < std::size(pictures)) desktoptest::SaveScreenshot(h.window.get(), QString::fromLatin1(pictures[i]));
    // Export has nothing to export, and says so.
    h.prompts.asked.clear();
    h.Trigger(kCmdExportMenu);
    QCOMPARE(h.prompts.Last("info"), std::string("Please load bak file before export"));
  }
  QVERIFY(h.prompts.asked.size() == 1);
}

void MainWindowTest::loadListsTheBackupSets() {
  const std::string path = testsupport::FixturePath("bak2005_stdb2sql_2sets.bak");
  if (path.empty()) QSKIP("fixtures not available");
  Harness h;
  int listed = 0;
  h.prompts.onChooseSet = [&](const CBackupReader& reader) { listed = reader.m_nStreamCount; };
  h.prompts.files = {path};
  h.prompts.versions = {2};
  h.prompts.sets = {2};
  h.Trigger(kCmdLoad);
  QCOMPARE(listed, 2);
  CSQLServer* engine = h.window->Engines().Current();
  QVERIFY(engine);
  QCOMPARE(engine->m_nDataSetCount, 2);
  QCOMPARE(engine->m_nSelectedDataSet, 2);

  // Cancel in the set dialog leaves the engine with no set chosen.
  h.prompts.files = {path};
  h.prompts.versions = {3};
  h.Trigger(kCmdLoad);
  QVERIFY(h.window->Engines().Current() != engine);
  QCOMPARE(h.window->Engines().Current()->m_nSelectedDataSet, 0);
}

void MainWindowTest::splitterDragResizesThePanes() {
  Harness h;
  auto* bar = h.Find<CSplitterControl>("id1120");
  QCOMPARE(bar->width(), CSplitterControl::kThickness);
  QCOMPARE(bar->GetOrientation(), CSplitterControl::Vertical);
  QCOMPARE(bar->cursor().shape(), Qt::SplitHCursor);
  // Its face: a light grey fill inside a grey outline, within the 3-D frame.
  const QImage face = bar->grab().toImage();
  const int middle = face.height() / 2;
  QCOMPARE(face.pixelColor(2, middle), QColor(220, 220, 220));
  QCOMPARE(face.pixelColor(1, middle), QColor(200, 200, 200));
  QCOMPARE(face.pixelColor(3, middle), QColor(200, 200, 200));
  QTreeWidget* tree = h.Tree();
  QWidget* prev = h.Find<QWidget>("id1070");
  QWidget* right = h.Find<QWidget>("rightSide");
  QSignalSpy moved(bar, &CSplitterControl::moved);
  const int tree0 = tree->width();
  const int right0 = right->width();
  const int paging0 = prev->mapTo(h.window.get(), QPoint(0, 0)).x();
  const int y = bar->height() / 2;

  auto drag = [&](int dx) {
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(2, y));
    QTest::mouseMove(bar, QPoint(2 + dx, y));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(2 + dx, y));
    QApplication::processEvents();
  };
  struct Step {
    int dx;        // mouse movement from the bar's centre
    int reported;  // distance the parent is told
    int tree;      // tree width against the start
  } steps[] = {
      {40, 40, 40},       // the edge case of the window: the tree 40 wider, the paging row 40 along
      {400, 235, 275},    // beyond the range: stops 275 right of where the bar started
      {0, 0, 275},        // a click
      {-1000, -337, -62}, // and 62 left of the start
  };
  for (const Step& s : steps) {
    drag(s.dx);
    QCOMPARE(moved.size(), 1);
    QCOMPARE(moved.takeFirst().at(0).toInt(), s.reported);
    QTRY_COMPARE(tree->width(), tree0 + s.tree);
    QTRY_COMPARE(right->width(), right0 - s.tree);
    QCOMPARE(prev->mapTo(h.window.get(), QPoint(0, 0)).x(), paging0 + s.tree);
  }
  desktoptest::SaveScreenshot(h.window.get(), QStringLiteral("main-window-splitter-left"));

  // A bar made from a wide rectangle lies across and is dragged up and down.
  CSplitterControl across(QRect(0, 0, 300, 40), h.window.get(), 7);
  QCOMPARE(across.GetOrientation(), CSplitterControl::Horizontal);
  QCOMPARE(across.height(), CSplitterControl::kThickness);
  QCOMPARE(across.cursor().shape(), Qt::SplitVCursor);
}

void MainWindowTest::treeFromAFakeEngine() {
  Harness h;
  CatalogEngine* engine = h.AdoptFake(2);
  BuildCatalog(*engine);
  h.window->FillObjectTree();
  QCOMPARE(h.Tree()->topLevelItem(0)->text(0), QStringLiteral("pubs.bak(SQL Server 2005)"));
  QCOMPARE(h.Database()->text(0), QStringLiteral("pubs(SQL Server 2005)"));
  QCOMPARE(ChildTexts(h.Folder(0)), (QStringList{"dbo.authors", "dbo.titles"}));
  QTreeWidgetItem* titles = h.Folder(0)->child(1);
  QTreeWidgetItem* authors = h.Folder(0)->child(0);
  QVERIFY(titles->font(0).bold());
  QVERIFY(!authors->font(0).bold());
  QCOMPARE(ChildTexts(titles), (QStringList{"Columns", "Keys", "Indexes"}));
  QCOMPARE(ChildTexts(titles->child(0)), (QStringList{"title_id (varchar (6))", "title (nvarchar (80))"}));
  QCOMPARE(titles->child(1)->childCount(), 0);
  QCOMPARE(ChildTexts(titles->child(2)), (QStringList{"UPKCL_titleidind"}));
  QCOMPARE(ChildTexts(h.Folder(1)), (QStringList{"titleview"}));
  QCOMPARE(ChildTexts(h.Folder(2)), (QStringList{"byroyalty"}));
  QCOMPARE(ChildTexts(h.Folder(3)), (QStringList{"r_zip"}));
  QCOMPARE(h.Folder(4)->childCount(), 0);
  QCOMPARE(ChildTexts(h.Folder(5)), (QStringList{"fn_two"}));
  for (QTreeWidgetItem* item : {titles, titles->child(0)->child(0), h.Folder(1)->child(0)})
    QVERIFY(!item->icon(0).isNull());

  // A second fill replaces the objects, it does not add to them.
  h.window->FillObjectTree();
  QCOMPARE(h.Folder(0)->childCount(), 2);
  QCOMPARE(h.Folder(1)->childCount(), 1);
}

void MainWindowTest::selectionShowsDefinitions() {
  Harness h;
  BuildCatalog(*h.AdoptFake());
  h.window->FillObjectTree();
  QTreeWidget* tree = h.Tree();
  struct Case {
    QTreeWidgetItem* item;
    bool textShown;      // the text box in place of the list
    const char* text;    // its content ("" = unchanged)
  } cases[] = {
      {h.Folder(1)->child(0), true, "CREATE VIEW titleview\nAS\nselect title from titles"},
      {h.Folder(1), true, ""},                 // the Views folder does nothing
      {h.Folder(3), true, ""},                 // nor the Rules folder
      {h.Folder(0)->child(1)->child(0), true, ""},  // nor a Columns item
      {h.Folder(2)->child(0), true, "CREATE PROCEDURE byroyalty @percentage int"},
      {h.Folder(5)->child(0), true, "create function fn_two() returns int as begin return 2 end"},
      {h.Database(), true, ""},
      {h.Folder(0)->child(1), false, ""},      // a table: its rows and their paging row take the place
  };
  for (const Case& c : cases) {
    tree->setCurrentItem(c.item);
    QCOMPARE(h.TextBox()->isVisible(), c.textShown);
    QCOMPARE(h.List()->isVisible(), !c.textShown);
    if (*c.text) {
      QCOMPARE(h.TextBox()->toPlainText(), QString::fromLatin1(c.text));
      QVERIFY(h.TextBox()->hasFocus());
    }
    QCOMPARE(PagingRowHidden(h), c.textShown);
  }
}

void MainWindowTest::recoverSwallowsExactlyTheChangeItCauses() {
  Harness h;
  testsupport::TempDir dir;
  const std::string mdf = dir.file("plain.mdf");
  testsupport::WriteFile(mdf, std::string(8192, '\0'));
  QTreeWidget* tree = h.Tree();
  QSignalSpy changes(tree, &QTreeWidget::currentItemChanged);
  // Qt's own order: removing the current item's row moves the current item to the parent
  // folder with one signal; removing the row of one of its ancestors drops the current item
  // without any signal. Either way no change reaches the handler but the one swallowed, and
  // Recover clears the flag at its end in case none came.
  // Afterwards no item is current: the emptied pane shows nothing chosen.
  struct Case {
    const char* selected;  // path of texts below the database item
    int changes;           // selection changes Recover causes
  } cases[] = {
      {"Tables/dbo.titles", 1},
      {"Views/titleview", 1},
      {"Tables/dbo.titles/Columns/title (nvarchar (80))", 0},
      {"Tables/dbo.titles/Indexes", 0},
      {"Tables", 0},  // outside the emptied folders: nothing moves
  };
  for (const Case& c : cases) {
    BuildCatalog(*h.AdoptFake());
    h.window->OnScanEnded();
    h.window->FillObjectTree();
    QTreeWidgetItem* item = h.Database();
    for (const QString& part : QString::fromLatin1(c.selected).split(QLatin1Char('/'))) {
      item = Child(item, part);
      QVERIFY2(item, c.selected);
    }
    tree->setCurrentItem(item);
    QCOMPARE(h.TextBox()->isVisible(), QString::fromLatin1(c.selected).startsWith(QLatin1String("Views/")));
    changes.clear();
    h.prompts.files = {mdf};
    h.prompts.versions = {3};
    h.Trigger(kCmdLoad);
    QCOMPARE(changes.size(), c.changes);
    QCOMPARE(tree->currentItem(), nullptr);
    QVERIFY(!h.TextBox()->isVisible());
  }
  // The user's next selection is handled again.
  BuildCatalog(*h.AdoptFake());
  h.window->FillObjectTree();
  tree->setCurrentItem(h.Folder(1)->child(0));
  QVERIFY(h.TextBox()->isVisible());
}

void MainWindowTest::treeFromARealScan() {
  const std::string path = testsupport::FixturePath("bak2008_northwind_thuyluv.bak");
  if (path.empty()) QSKIP("fixtures not available");
  Harness h;
  CreatedEngine created = CreateEngine(3);
  auto* engine = dynamic_cast<CSQLServer2008*>(created.engine.get());
  QVERIFY(engine);
  QVERIFY(testsupport::RunRecovery(*engine, path).finished);
  h.window->Engines().Adopt(std::move(created));
  h.window->OnScanEnded();
  h.window->FillObjectTree();

  QCOMPARE(h.Tree()->topLevelItem(0)->text(0),
           FromEngineText(engine->m_pCurrentSet->m_pszName.str()) + QStringLiteral("(SQL Server 2008)"));
  QCOMPARE(h.Database()->text(0), QStringLiteral("Northwind(SQL Server 2008)"));
  QCOMPARE(ChildTexts(h.Folder(0)),
           (QStringList{"dbo.Categories", "dbo.CustomerCustomerDemo", "dbo.CustomerDemographics", "dbo.Customers",
                        "dbo.Employees", "dbo.EmployeeTerritories", "dbo.Order Details", "dbo.Orders",
                        "dbo.Products", "dbo.Region", "dbo.Shippers", "dbo.Suppliers", "dbo.Territories"}));
  for (int i = 0; i < h.Folder(0)->childCount(); ++i) {
    QTreeWidgetItem* table = h.Folder(0)->child(i);
    const bool empty = table->text(0) == QLatin1String("dbo.CustomerCustomerDemo") ||
                       table->text(0) == QLatin1String("dbo.CustomerDemographics");
    QCOMPARE(table->font(0).bold(), !empty);
  }
  QTreeWidgetItem* customers = Child(h.Folder(0), QStringLiteral("dbo.Customers"));
  QCOMPARE(ChildTexts(customers->child(0)),
           (QStringList{"CustomerID (nchar (5))", "CompanyName (nvarchar (40))", "ContactName (nvarchar (30))",
                        "ContactTitle (nvarchar (30))", "Address (nvarchar (60))", "City (nvarchar (15))",
                        "Region (nvarchar (15))", "PostalCode (nvarchar (10))", "Country (nvarchar (15))",
                        "Phone (nvarchar (24))", "Fax (nvarchar (24))"}));
  QStringList indexes = ChildTexts(customers->child(2));
  indexes.sort();
  QCOMPARE(indexes, (QStringList{"City", "CompanyName", "PK_Customers", "PostalCode", "Region"}));
  QTreeWidgetItem* employees = Child(h.Folder(0), QStringLiteral("dbo.Employees"));
  QVERIFY(ChildTexts(employees->child(0)).contains(QStringLiteral("Notes (ntext (16))")));
  QCOMPARE(h.Folder(1)->childCount(), 16);
  QCOMPARE(h.Folder(2)->childCount(), 7);
  QCOMPARE(h.Folder(3)->childCount(), 0);
  QCOMPARE(h.Folder(4)->childCount(), 0);
  QCOMPARE(h.Folder(5)->childCount(), engine->m_mapFunctions.GetCount());
  QCOMPARE(ChildTexts(h.Folder(1)).first(), QStringLiteral("Alphabetical list of products"));
  QCOMPARE(ChildTexts(h.Folder(2)).first(), QStringLiteral("CustOrderHist"));

  h.Folder(0)->setExpanded(true);
  h.Folder(1)->setExpanded(true);
  QTreeWidgetItem* invoices = Child(h.Folder(1), QStringLiteral("Invoices"));
  h.Tree()->setCurrentItem(invoices);
  h.Tree()->scrollToItem(invoices);
  QVERIFY(h.TextBox()->isVisible());
  QVERIFY(h.TextBox()->toPlainText().contains(QStringLiteral("Invoices")));
  QVERIFY(h.TextBox()->toPlainText().contains(QStringLiteral("Orders.ShipName")));
  QVERIFY(h.window->CommandAction(kCmdExport)->isEnabled());
  desktoptest::SaveScreenshot(h.window.get(), QStringLiteral("main-window-northwind-view"));
}

void MainWindowTest::workersReachTheWindowOnlyThroughTheGuiThread() {
  // The helper runs the call on the GUI thread.
  QObject target;
  std::atomic<QThread*> ranOn{nullptr};
  std::thread([&] {
    PostToGui(QPointer<QObject>(&target), [&](QObject&) { ranOn = QThread::currentThread(); });
  }).join();
  QTRY_VERIFY(ranOn.load() != nullptr);
  QCOMPARE(ranOn.load(), QApplication::instance()->thread());

  auto h = std::make_unique<Harness>();
  BuildCatalog(*h->AdoptFake());
  std::shared_ptr<IMainWindowSink> sink = h->window->MainSink();
  std::thread worker([sink] {
    sink->FillObjectTree();
    sink->SetStatusText("Recovery complete");
    sink->ScanEnded();
  });
  worker.join();
  QTRY_COMPARE(h->window->StatusText(), QStringLiteral("Recovery complete"));
  QCOMPARE(h->Folder(0)->childCount(), 2);
  QVERIFY(h->window->CommandAction(kCmdExportMenu)->isEnabled());

  // After the window has gone, what a late worker sends is dropped.
  h.reset();
  std::thread late([sink] {
    for (int i = 0; i < 100; ++i) {
      sink->SetStatusText("late");
      sink->FillObjectTree();
      sink->ScanEnded();
    }
  });
  late.join();
  QTest::qWait(20);
}

DESKTOP_TEST(MainWindowTest);
#include "mainwindow_test.moc"
