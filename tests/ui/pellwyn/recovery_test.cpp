// Load as a user runs it: the version and set dialogs (answered by the scripted prompts), the
// recovery progress dialog following the scan, the filled tree and counts; Stop and Close at
// any moment; then the preview of a table's rows, Save Scan and Open Scan. A scripted engine
// holds the scan where a test needs it; the real engine runs on the fixtures.
#include <QLabel>
#include <QProgressBar>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "common/backupreader.h"
#include "support/fakeengine.h"
#include "support/fakepreview.h"
#include "support/fixtures.h"
#include "ui/core/openscan.h"
#include "ui/pellwyn/backupsetdlg.h"
#include "ui/pellwyn/pellwyndlg.h"
#include "ui/pellwyn/progressdlg.h"
#include "ui/pellwyn/sqlformatoptdlg.h"
#include "ui/pellwyn/tabctrlex.h"
#include "desktoptest.h"
#include "recoverysteps.h"

using coretest::FakeEngine;
using desktoptest::Child;
using desktoptest::ChildTexts;
using desktoptest::Harness;
using namespace recoverysteps;

namespace {

const char* const kStopQuestion = "Are you sure you want stop the recovery process ?";

// Makes the scripted engines Recover asks for, each with a small catalog.
struct FakeEngines {
  coretest::ScanScript script;
  std::vector<FakeEngine*> made;
  std::function<CreatedEngine(int)> Factory() {
    return [this](int version) {
      auto* engine = new FakeEngine(script);
      CTable* orders = engine->AddTable(10, "dbo", "Orders");
      engine->AddColumn(orders, "OrderID", "int", 4);
      engine->AddColumn(orders, "ShipName", "nvarchar", 80);
      CTable* notes = engine->AddTable(20, "dbo", "notes", 0);
      engine->AddColumn(notes, "body", "text", 16);
      engine->AddObject(engine->m_mapViews, 30, "Recent", "create view Recent as select * from Orders");
      engine->m_strDatabaseName = script.databaseName.c_str();
      made.push_back(engine);
      CreatedEngine created;
      created.engine.reset(engine);
      created.version = FindEngineVersion(version);
      return created;
    };
  }
};

coretest::ScanScript HeldScan() {
  coretest::ScanScript script;
  script.totalPages = 1000;
  script.pages = 1000;
  script.gateAtPage = 400;
  script.backupSets = 2;
  return script;
}

}  // namespace

class RecoveryTest : public desktoptest::DesktopTestCase {
  Q_OBJECT

 private slots:
  void progressDialogFollowsTheScanToTheFilledTree();
  void stopAndCloseEndTheRecoveryCleanly();
  void previewPagesThroughATable();
  void northwindFromLoadToItsRows();
  void bothSetsOfABackup();
  void everyBackupLoadsToItsTree();
  void saveScanThenOpenScan();
  void openScanRefusesWhatItCannotRead();
  void rowsOfAReopenedScanNeedItsBackup();
  void nextLoadTakesTheClosedDialogWithItsQueuedReports();
};

void RecoveryTest::progressDialogFollowsTheScanToTheFilledTree() {
  FakeEngines fakes;
  fakes.script = HeldScan();
  Harness h(fakes.Factory());
  h.prompts.files = {std::string("/data/fake.bak")};
  h.prompts.versions = {3};
  h.prompts.sets = {2};
  h.Trigger(kCmdLoad);
  QCOMPARE(h.prompts.Count("set"), 1);
  QCOMPARE(fakes.made.size(), size_t(1));
  FakeEngine* engine = fakes.made[0];
  QCOMPARE(engine->m_nSelectedDataSet, 2);
  CProgressDlg* dialog = h.window->ProgressDialog();
  QVERIFY(dialog);
  QTRY_VERIFY(dialog->isVisible());
  QVERIFY(dialog->isModal());
  QCOMPARE(dialog->windowTitle(), QStringLiteral("Tarnwell Brackmoor"));

  // Mid-scan: the census held before its 400th page.
  QVERIFY(engine->scanGate.WaitReached());
  QTRY_COMPARE(Text(h, "pagesRead"), QStringLiteral("399"));
  QTRY_COMPARE(Text(h, "percentText"), QStringLiteral("19 %"));
  QCOMPARE(dialog->findChild<QProgressBar*>("progressBar")->value(), 19);
  QCOMPARE(Text(h, "databaseName"), QStringLiteral("FakeDb"));
  QCOMPARE(Text(h, "databaseVersion"), QStringLiteral("2008 Format"));
  QCOMPARE(Text(h, "tables"), QStringLiteral("0 (0)"));
  QCOMPARE(Text(h, "statusText"), QStringLiteral("Analyzing mdf file..."));
  QCOMPARE(DialogButton(h)->text(), QStringLiteral("Stop"));
  QVERIFY(!h.window->CommandAction(kCmdExport)->isEnabled());
  QVERIFY(!h.window->CommandAction(kCmdSaveScan)->isEnabled());
  desktoptest::SaveScreenshot(dialog, QStringLiteral("progress-dialog-mid-scan"));

  // Stop answered No changes nothing: the scan goes on when released.
  h.prompts.yesNo = {false};
  DialogButton(h)->click();
  QCOMPARE(h.prompts.Count("question"), 1);
  QCOMPARE(h.prompts.asked.back().title, std::string("Tarnwell Brackmoor Server"));
  QCOMPARE(h.prompts.asked.back().text, std::string(kStopQuestion));
  QVERIFY(dialog->isVisible());
  engine->scanGate.Open();

  QTRY_COMPARE_WITH_TIMEOUT(Text(h, "statusText"), QStringLiteral("Recovery Complete"), kScanTimeoutMs);
  QCOMPARE(Text(h, "pagesRead"), QStringLiteral("1000"));
  QCOMPARE(Text(h, "percentText"), QStringLiteral("100 %"));
  QCOMPARE(DialogButton(h)->text(), QStringLiteral("Close"));
  const char* const counts[][2] = {{"tables", "3 (3)"}, {"views", "1 (1)"},    {"procedures", "2 (2)"},
                                   {"rules", "0 (0)"},  {"triggers", "0 (0)"}, {"functions", "4 (4)"}};
  for (const auto& c : counts) QCOMPARE(Text(h, c[0]), QString::fromLatin1(c[1]));
  // The tree came from the engine's maps, under the set and the version label.
  QCOMPARE(h.Tree()->topLevelItem(0)->text(0), QStringLiteral("Fake set 2(SQL Server 2008)"));
  QCOMPARE(h.Database()->text(0), QStringLiteral("FakeDb(SQL Server 2008)"));
  QCOMPARE(ChildTexts(h.Folder(0)), (QStringList{"dbo.notes", "dbo.Orders"}));
  QCOMPARE(ChildTexts(h.Folder(1)), (QStringList{"Recent"}));
  desktoptest::SaveScreenshot(dialog, QStringLiteral("progress-dialog-complete"));

  // Close after completion asks nothing.
  QTRY_VERIFY(h.window->CommandAction(kCmdExport)->isEnabled());
  DialogButton(h)->click();
  QCOMPARE(h.prompts.Count("question"), 1);
  QTRY_VERIFY(!h.window->ProgressDialog());
  QCOMPARE(h.window->StatusText(), QStringLiteral("Recovery complete"));
  for (int id : {kCmdExport, kCmdExportMenu, kCmdSaveScan}) QVERIFY(h.window->CommandAction(id)->isEnabled());
  QVERIFY(engine->parseComplete);
}

void RecoveryTest::stopAndCloseEndTheRecoveryCleanly() {
  enum class How { StopButton, CloseBox, Escape };
  struct Case {
    How how;
    const char* name;
    bool atHandShake;  // held at the second catalog hand-shake instead of in the census
  } cases[] = {
      {How::StopButton, "Stop in the census", false},
      {How::CloseBox, "close box in the census", false},
      {How::Escape, "Esc at a hand-shake", true},
      {How::StopButton, "Stop at a hand-shake", true},
  };
  FakeEngines fakes;
  Harness h(fakes.Factory());
  for (const Case& c : cases) {
    QTest::qWait(1);
    fakes.script = HeldScan();
    if (c.atHandShake) {
      fakes.script.gateAtPage = 0;
      fakes.script.gateAtHandShake = 2;
    }
    h.prompts.asked.clear();
    h.prompts.files = {std::string("/data/fake.bak")};
    h.prompts.versions = {2};
    h.prompts.sets = {1};
    h.Trigger(kCmdLoad);
    FakeEngine* engine = fakes.made.back();
    CProgressDlg* dialog = h.window->ProgressDialog();
    QVERIFY2(dialog, c.name);
    QVERIFY(engine->scanGate.WaitReached());
    QTRY_VERIFY(dialog->isVisible());
    const QString before = h.window->StatusText();

    auto press = [&] {
      if (c.how == How::StopButton) DialogButton(h)->click();
      else if (c.how == How::CloseBox) dialog->close();
      else QTest::keyClick(dialog, Qt::Key_Escape);
    };
    // No keeps the dialog and the scan.
    h.prompts.yesNo = {false};
    press();
    QCOMPARE(h.prompts.Count("question"), 1);
    QCOMPARE(h.prompts.asked.back().text, std::string(kStopQuestion));
    QVERIFY2(h.window->ProgressDialog() && dialog->isVisible(), c.name);
    // Yes ends it: the held scan leaves the engine. Stop keeps the dialog on "Recovery
    // stopped" until Close; the close box and Esc close it at once.
    h.prompts.yesNo = {true};
    press();
    if (c.how == How::StopButton) {
      QVERIFY2(h.window->ProgressDialog() && dialog->isVisible(), c.name);
      QCOMPARE(Text(h, "statusText"), QStringLiteral("Recovery stopped"));
      QVERIFY(dialog->findChild<QLabel*>("endText")->isVisible());
      QCOMPARE(DialogButton(h)->text(), QStringLiteral("Close"));
      if (!c.atHandShake) desktoptest::SaveScreenshot(dialog, QStringLiteral("progress-dialog-recovery-stopped"));
      DialogButton(h)->click();
      QCOMPARE(h.prompts.Count("question"), 2);  // Close after the stop asks nothing
    }
    QTRY_VERIFY2(!h.window->ProgressDialog(), c.name);
    QTRY_VERIFY_WITH_TIMEOUT(engine->m_bBusy.load() == 0, 10000);
    QVERIFY(!engine->parseComplete);
    QCOMPARE(h.window->StatusText(), QStringLiteral("Recovery stopped"));
    // Once the scan thread has gone the tree shows what the engine read (this scripted engine
    // holds its catalog from the start), and Export and Save Scan may run, after a warning.
    QTRY_VERIFY(h.window->CommandAction(kCmdExport)->isEnabled());
    QVERIFY(h.window->CommandAction(kCmdSaveScan)->isEnabled());
    QCOMPARE(ChildTexts(h.Folder(0)), (QStringList{"dbo.notes", "dbo.Orders"}));
    QVERIFY(h.window->Engines().CatalogPartial());
    for (int command : {kCmdExport, kCmdSaveScan}) {
      h.prompts.asked.clear();
      h.prompts.yesNo = {false};
      h.Trigger(command);
      QCOMPARE(h.prompts.asked.size(), size_t(1));
      QCOMPARE(h.prompts.asked[0].kind, std::string("question"));
      QVERIFY(h.prompts.asked[0].text.find("The recovery was stopped: the catalog holds only what was read") == 0);
    }
    QVERIFY(!h.window->Exporter()->Running());
  }

  // A recovery right after the stopped ones runs to its end, its events its own.
  fakes.script = HeldScan();
  fakes.script.gateAtPage = 0;
  h.prompts.files = {std::string("/data/fake.bak")};
  h.prompts.versions = {3};
  h.prompts.sets = {1};
  h.Trigger(kCmdLoad);
  QTRY_COMPARE_WITH_TIMEOUT(Text(h, "statusText"), QStringLiteral("Recovery Complete"), kScanTimeoutMs);
  QCOMPARE(Text(h, "pagesRead"), QStringLiteral("1000"));
  QCOMPARE(h.Folder(0)->childCount(), 2);
  DialogButton(h)->click();
  QTRY_VERIFY(!h.window->ProgressDialog());
}

void RecoveryTest::previewPagesThroughATable() {
  FakeEngines fakes;
  fakes.script.gateAtPage = 0;
  fakes.script.backupSets = 1;
  Harness h(fakes.Factory());
  StartLoad(h, "/data/fake.bak", 3, 1);
  QTRY_COMPARE_WITH_TIMEOUT(Text(h, "statusText"), QStringLiteral("Recovery Complete"), kScanTimeoutMs);
  DialogButton(h)->click();
  FakeEngine* engine = fakes.made.back();
  CTable* orders = testsupport::FindTable(*engine, "Orders");
  QVERIFY(orders);
  // A dropped column gets its header too.
  engine->AddColumn(orders, "Dropped", "int", 4, true);
  engine->AddColumn(orders, "Note", "varchar", 10);
  std::vector<std::string> rows;
  for (int i = 1; i <= 1200; ++i) rows.push_back(std::to_string(i) + "$#$Ship " + std::to_string(i) + "$#$0$#$n$#$");
  rows[0] = "a$#$$#$c";                      // a run of separators counts as one
  rows[1] = "2$#$Empty$#$0$#$Empty$#$";      // what the engine sends for an empty value
  engine->rows = rows;

  QVERIFY(Preview(h, "dbo.Orders"));
  QCOMPARE(h.List()->columnCount(), 4);
  QStringList headers;
  for (int c = 0; c < 4; ++c) {
    headers << h.List()->horizontalHeaderItem(c)->text();
    QCOMPARE(h.List()->columnWidth(c), 180);
  }
  QCOMPARE(headers, (QStringList{"OrderID", "ShipName", "Dropped", "Note"}));
  QCOMPARE(h.Find<CTabCtrlEx>("id1123")->tabText(0), QStringLiteral("  dbo.Orders  "));
  struct Page {
    int rows;
    const char* number;
    bool previous, next;
    const char* firstCell;
  };
  const Page pages[] = {{500, "1", false, true, "a"}, {500, "2", true, true, "501"}, {200, "3", true, false, "1001"}};
  auto expect = [&](const Page& p) {
    QCOMPARE(RowCount(h), QString::number(p.rows));
    QCOMPARE(h.List()->rowCount(), p.rows);
    QCOMPARE(PageNumber(h), QString::fromLatin1(p.number));
    QCOMPARE(Prev(h)->isEnabled(), p.previous);
    QCOMPARE(Next(h)->isEnabled(), p.next);
    QCOMPARE(Cell(h, 0, 0), QString::fromLatin1(p.firstCell));
  };
  expect(pages[0]);
  QCOMPARE(Cell(h, 0, 1), QStringLiteral("c"));
  QCOMPARE(Cell(h, 0, 2), QString());
  QCOMPARE(Cell(h, 1, 1), QStringLiteral(" "));
  QCOMPARE(Cell(h, 1, 3), QStringLiteral(" "));
  int before = h.window->PreviewPagesShown();
  Next(h)->click();
  QVERIFY(!Next(h)->isEnabled() && !Prev(h)->isEnabled());  // while the page is read
  QVERIFY(WaitForPage(h, before));
  expect(pages[1]);
  QVERIFY(Turn(h, Next(h)));
  expect(pages[2]);
  QVERIFY(Turn(h, Prev(h)));
  expect(pages[1]);
  QCOMPARE(Cell(h, 499, 1), QStringLiteral("Ship 1000"));
  QVERIFY(Turn(h, Prev(h)));
  expect(pages[0]);

  // Another table selected while a page is read: the selection goes back to the table read.
  coretest::Gate gate;
  engine->previewGate = &gate;
  QTreeWidgetItem* ordersItem = Child(h.Folder(0), QStringLiteral("dbo.Orders"));
  QTreeWidgetItem* notesItem = Child(h.Folder(0), QStringLiteral("dbo.notes"));
  before = h.window->PreviewPagesShown();
  Next(h)->click();
  QVERIFY(gate.WaitReached());
  h.Tree()->setCurrentItem(notesItem);
  QTRY_COMPARE(h.Tree()->currentItem(), ordersItem);
  QCOMPARE(engine->recordThreads.load(), 6);  // no page was started for the other table
  gate.Open();
  QVERIFY(WaitForPage(h, before));
  expect(pages[1]);
  engine->previewGate = nullptr;

  // A table without rows: its headers, no rows, ">" disabled.
  engine->rowsOf[testsupport::FindTable(*engine, "notes")] = {};
  QVERIFY(Preview(h, "dbo.notes"));
  QCOMPARE(h.List()->horizontalHeaderItem(0)->text(), QStringLiteral("body"));
  QCOMPARE(RowCount(h), QStringLiteral("0"));
  QVERIFY(!Next(h)->isEnabled());
  QVERIFY(!Prev(h)->isEnabled());
  QCOMPARE(h.Find<CTabCtrlEx>("id1123")->tabText(0), QStringLiteral("  dbo.notes  "));
}

void RecoveryTest::northwindFromLoadToItsRows() {
  const std::string path = testsupport::FixturePath("bak2008_northwind_thuyluv.bak");
  if (path.empty()) QSKIP("fixtures not available");
  Harness h;
  h.prompts.files = {path};
  h.prompts.versions = {3};
  h.prompts.sets = {1};
  h.Trigger(kCmdLoad);
  QVERIFY(h.window->ProgressDialog());
  QCOMPARE(h.prompts.Last("open"), std::string("Backups and database files (*.bak *.BAK *.mdf *.MDF *.ndf *.NDF);;"
                                               "Backups (*.bak *.BAK);;Database files (*.mdf *.MDF *.ndf *.NDF);;"
                                               "All files (*)"));
  // The version dialog opened on the version the backup says.
  QCOMPARE(h.prompts.Last("version"), std::string("3"));
  QTRY_COMPARE_WITH_TIMEOUT(Text(h, "statusText"), QStringLiteral("Recovery Complete"), kScanTimeoutMs);
  QCOMPARE(Text(h, "pagesRead"), QStringLiteral("440"));
  QCOMPARE(Text(h, "databaseName"), QStringLiteral("Northwind"));
  QCOMPARE(Text(h, "databaseVersion"), QStringLiteral("2008 Format"));
  QCOMPARE(Text(h, "tables"), QStringLiteral("13 (13)"));
  QCOMPARE(Text(h, "views"), QStringLiteral("16 (16)"));
  QCOMPARE(Text(h, "procedures"), QStringLiteral("7 (7)"));
  QCOMPARE(Text(h, "rules"), QStringLiteral("0 (0)"));
  QCOMPARE(Text(h, "triggers"), QStringLiteral("0 (0)"));
  QCOMPARE(h.Folder(0)->childCount(), 13);
  QCOMPARE(h.Folder(1)->childCount(), 16);
  QCOMPARE(h.Folder(2)->childCount(), 7);
  QCOMPARE(Text(h, "functions"), QStringLiteral("%1 (%1)").arg(h.Folder(5)->childCount()));
  QCOMPARE(h.Database()->text(0), QStringLiteral("Northwind(SQL Server 2008)"));
  desktoptest::SaveScreenshot(h.window->ProgressDialog(), QStringLiteral("progress-dialog-northwind-complete"));
  DialogButton(h)->click();
  QTRY_VERIFY(!h.window->ProgressDialog());
  QTRY_VERIFY(h.window->CommandAction(kCmdExport)->isEnabled());

  CheckNorthwindCustomers(h);
  QVERIFY(!QTest::currentTestFailed());
  CheckNorthwindOrders(h, QStringLiteral("main-window-orders-page-2"));
}

void RecoveryTest::bothSetsOfABackup() {
  const std::string path = testsupport::FixturePath("bak2005_stdb2sql_2sets.bak");
  if (path.empty()) QSKIP("fixtures not available");
  Harness h;
  // What the two dialogs look like, over what this backup holds.
  {
    CSqlFormatOptDlg versions(h.window.get());
    versions.show();
    desktoptest::SaveScreenshot(&versions, QStringLiteral("version-dialog"));
  }
  bool pictured = false;
  h.prompts.onChooseSet = [&](const CBackupReader& reader) {
    if (pictured) return;
    pictured = true;
    CBackupSetDlg sets(reader, h.prompts, h.window.get());
    sets.show();
    QCOMPARE(sets.List()->topLevelItemCount(), 2);
    desktoptest::SaveScreenshot(&sets, QStringLiteral("backup-set-dialog-two-sets"));
  };
  // Two full backups of one database, taken at different times.
  struct Set {
    int number;
    const char* counts;  // tables, views, procedures, rules, triggers, functions
    const char* firstTable;
  } sets[] = {{1, "8 (8)|2 (2)|30 (30)|0 (0)|0 (0)|0 (0)", "dbo.Courses"},
              {2, "8 (8)|2 (2)|32 (32)|0 (0)|2 (2)|7 (7)", "dbo.Courses"}};
  for (const Set& s : sets) {
    QString shown;
    QVERIFY(LoadToTheEnd(h, path, 2, s.number, [&] {
      QStringList counts;
      for (const char* name : {"tables", "views", "procedures", "rules", "triggers", "functions"})
        counts << Text(h, name);
      shown = counts.join(QLatin1Char('|'));
      QCOMPARE(Text(h, "databaseVersion"), QStringLiteral("2005 Format"));
      QCOMPARE(Text(h, "pagesRead"), QStringLiteral("208"));
    }));
    QCOMPARE(shown, QString::fromLatin1(s.counts));
    QCOMPARE(h.window->Engines().Current()->m_nSelectedDataSet, s.number);
    QCOMPARE(h.Database()->text(0), QStringLiteral("StDb2SQL(SQL Server 2005)"));
    QCOMPARE(h.Folder(0)->childCount(), 8);
    QCOMPARE(h.Folder(0)->child(0)->text(0), QString::fromLatin1(s.firstTable));
    // The tree lists what the counts count.
    const QStringList counts = shown.split(QLatin1Char('|'));
    for (int f : {2, 4, 5}) QCOMPARE(QStringLiteral("%1 (%1)").arg(h.Folder(f)->childCount()), counts[f]);
  }
  QVERIFY(pictured);

  // The 2005 engine's scan file opens with the 2005 engine again, under its label.
  const QStringList tree = Dump(h.Database());
  testsupport::TempDir dir;
  h.prompts.files = {dir.file("stdb.str")};
  h.Trigger(kCmdSaveScan);
  h.prompts.files = {dir.file("stdb.str")};
  h.Trigger(kCmdOpenScan);
  QCOMPARE(h.prompts.Last("info"), std::string("Load Complete"));
  QCOMPARE(h.window->Engines().CurrentVersion()->number, 2);
  QCOMPARE(Dump(h.Database()), tree);
}

void RecoveryTest::everyBackupLoadsToItsTree() {
  struct Case {
    const char* file;
    int version;
    const char* database;
  } cases[] = {
      {"bak2005_northwind_gabrujo.bak", 2, "Northwind"},   {"bak2005_northwnd_mina.bak", 2, "NORTHWND"},
      {"bak2008_northwind_512blk.bak", 3, "Northwind"},    {"bak2008_library_small.bak", 3, "Library"},
      {"bak2008r2_northwind_victor.bak", 3, "Northwind"},  {"bak2008r2_entrepot_fr.bak", 3, "Entrepot"},
  };
  int loaded = 0;
  Harness h;
  for (const Case& c : cases) {
    const std::string path = testsupport::FixturePath(c.file);
    if (path.empty()) continue;
    QString pages, tables, format;
    QVERIFY2(LoadToTheEnd(h, path, c.version, 1, [&] {
      pages = Text(h, "pagesRead");
      tables = Text(h, "tables");
      format = Text(h, "databaseVersion");
    }), c.file);
    CSQLServer* engine = h.window->Engines().Current();
    QCOMPARE(pages, QString::number(engine->m_pStatus->m_nTotalPages.load()));
    QCOMPARE(format, QString::fromLatin1(FindEngineVersion(c.version)->formatText));
    QCOMPARE(h.Database()->text(0), QString::fromLatin1(c.database) + QString::fromLatin1(FindEngineVersion(c.version)->label));
    QVERIFY2(h.Folder(0)->childCount() > 0, c.file);
    QCOMPARE(tables, QStringLiteral("%1 (%1)").arg(h.Folder(0)->childCount()));
    ++loaded;
  }
  if (loaded == 0) QSKIP("fixtures not available");
}

void RecoveryTest::saveScanThenOpenScan() {
  const std::string path = testsupport::FixturePath("bak2008_northwind_thuyluv.bak");
  if (path.empty()) QSKIP("fixtures not available");
  Harness h;
  QVERIFY(LoadToTheEnd(h, path, 3, 1));
  const QStringList tree = Dump(h.Database());
  CSQLServer* scanned = h.window->Engines().Current();
  testsupport::TempDir dir;

  // Save Scan: the file dialog with the scan files' suffix, ".str" added to a bare name.
  h.prompts.asked.clear();
  h.prompts.files = {dir.file("northwind")};
  h.Trigger(kCmdSaveScan);
  QCOMPARE(h.prompts.Count("save"), 1);
  QCOMPARE(h.prompts.Count("info"), 0);
  const std::string scanFile = dir.file("northwind.str");
  QVERIFY(uicore::IsScanFile(scanFile));
  // The backup chosen by mistake is left alone.
  h.prompts.files = {path};
  h.Trigger(kCmdSaveScan);
  QCOMPARE(h.prompts.Last("info"), std::string(uicore::kNotReplaced));

  // Open Scan: a new engine, the same tree, "Load Complete".
  h.Tree()->setCurrentItem(h.Folder(1));
  h.prompts.asked.clear();
  h.prompts.files = {scanFile};
  h.Trigger(kCmdOpenScan);
  QCOMPARE(h.prompts.Last("open"), std::string("Scan Files (*.str *.STR)"));
  QCOMPARE(h.prompts.Count("info"), 1);
  QCOMPARE(h.prompts.asked.back().title, std::string("Tarnwell Brackmoor"));
  QCOMPARE(h.prompts.Last("info"), std::string("Load Complete"));
  QCOMPARE(h.window->StatusText(), QStringLiteral("Ready"));
  QVERIFY(h.window->Engines().Current() != scanned);
  QCOMPARE(h.window->Engines().CurrentVersion()->number, 3);
  QCOMPARE(Dump(h.Database()), tree);
  for (int id : {kCmdExport, kCmdExportMenu, kCmdSaveScan}) QVERIFY(h.window->CommandAction(id)->isEnabled());

  // Its rows come from the backup it names, as after the scan.
  QVERIFY(Preview(h, "dbo.Customers"));
  QCOMPARE(RowCount(h), QStringLiteral("91"));
  QCOMPARE(Cell(h, 0, 0), QStringLiteral("ALFKI"));
  QCOMPARE(h.prompts.Count("set"), 0);  // one set: nothing to choose
}

void RecoveryTest::openScanRefusesWhatItCannotRead() {
  const std::string path = testsupport::FixturePath("bak2008_library_small.bak");
  if (path.empty()) QSKIP("fixtures not available");
  Harness h;
  QVERIFY(LoadToTheEnd(h, path, 3, 1));
  const QStringList tree = Dump(h.Database());
  CSQLServer* engine = h.window->Engines().Current();
  testsupport::TempDir dir;
  h.prompts.files = {dir.file("library.str")};
  h.Trigger(kCmdSaveScan);
  const std::string whole = testsupport::ReadFile(dir.file("library.str"));
  QVERIFY(whole.size() > 100);
  testsupport::WriteFile(dir.file("notes.str"), "These are notes, renamed.\r\n");
  testsupport::WriteFile(dir.file("cut.str"), whole.substr(0, whole.size() / 2));
  struct Case {
    const char* file;
    const char* message;
  } cases[] = {
      {"notes.str", "The selected file is not an str file."},
      {"cut.str", "The selected file could not be read."},
      {"absent.str", "The selected file could not be read."},
  };
  for (const Case& c : cases) {
    h.prompts.asked.clear();
    h.prompts.files = {dir.file(c.file)};
    h.Trigger(kCmdOpenScan);
    QCOMPARE(h.prompts.Last("info"), std::string(c.message));
    QCOMPARE(h.prompts.asked.back().title, std::string("Tarnwell Brackmoor"));
    // The engine in use and its tree stay.
    QCOMPARE(h.window->Engines().Current(), engine);
    QCOMPARE(Dump(h.Database()), tree);
  }
  QVERIFY(Preview(h, "dbo.Books"));
  QVERIFY(RowCount(h).toInt() > 0);
}

void RecoveryTest::rowsOfAReopenedScanNeedItsBackup() {
  const std::string fixture = testsupport::FixturePath("bak2008_northwind_thuyluv.bak");
  if (fixture.empty()) QSKIP("fixtures not available");
  testsupport::TempDir dir;
  const std::string link = dir.file("moved.bak");
  std::filesystem::create_symlink(fixture, link);
  Harness h;
  QVERIFY(LoadToTheEnd(h, link, 3, 1));
  h.prompts.files = {dir.file("moved.str")};
  h.Trigger(kCmdSaveScan);
  std::filesystem::remove(link);
  h.prompts.files = {dir.file("moved.str")};
  h.Trigger(kCmdOpenScan);
  QCOMPARE(h.prompts.Last("info"), std::string("Load Complete"));
  h.Tree()->setCurrentItem(Child(h.Folder(0), QStringLiteral("dbo.Customers")));
  QCOMPARE(h.window->StatusText(), QStringLiteral("The rows need the backup file ") + QString::fromStdString(link) +
                                       QStringLiteral("."));
  QCOMPARE(h.List()->rowCount(), 0);
  QCOMPARE(RowCount(h), QStringLiteral("0"));
  QVERIFY(!Next(h)->isEnabled());
  // Put back, the backup gives the rows.
  std::filesystem::create_symlink(fixture, link);
  h.Tree()->setCurrentItem(h.Folder(1));
  QVERIFY(Preview(h, "dbo.Customers"));
  QCOMPARE(RowCount(h), QStringLiteral("91"));
}

// A recovery completes while the window's thread is busy, so its last reports wait in the
// queue for the dialog; the dialog is closed and the next Load comes before they run. The
// closed dialog goes with its follower: the reports find no dialog, and nothing reads the
// follower the next Load freed (the sanitizer build sees any read).
void RecoveryTest::nextLoadTakesTheClosedDialogWithItsQueuedReports() {
  FakeEngines fakes;
  fakes.script.totalPages = fakes.script.pages = 50;
  fakes.script.backupSets = 1;
  Harness h(fakes.Factory());
  StartLoad(h, "/data/fake.bak", 3, 1);
  QPointer<CProgressDlg> first = h.window->ProgressDialog();
  QVERIFY(first);
  // Without the event loop: the reports of the finished recovery stay queued.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (fakes.made[0]->m_bBusy.load() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  QVERIFY(fakes.made[0]->parseComplete);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  first->close();
  QVERIFY(!h.window->ProgressDialog());
  StartLoad(h, "/data/fake.bak", 3, 1);
  QVERIFY(!first);
  QVERIFY(h.window->ProgressDialog());
  QTRY_COMPARE_WITH_TIMEOUT(Text(h, "statusText"), QStringLiteral("Recovery Complete"), kScanTimeoutMs);
}

DESKTOP_TEST(RecoveryTest);
#include "recovery_test.moc"
