// SQL Server 2000 sources through the window, as a user runs them: Load with version 1, the
// set, the scan followed by the progress dialog, the tree under its "(SQL Server 2000)"
// label, the preview's pages, Save Scan and Open Scan. No real 2000 backup exists, so the
// 2000 sample databases are put inside the tape framing of real backups (one set, and two
// sets); the database files themselves come in through a scan file made from them.
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <string>
#include <vector>

#include "common/backupreader.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "support/backupwrap.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "ui/core/openscan.h"
#include "support/tsqllexer.h"
#include "ui/pellwyn/exportcontroller.h"
#include "ui/pellwyn/exportoptiondlg.h"
#include "ui/pellwyn/exportprogressdlg.h"
#include "ui/pellwyn/pellwyndlg.h"
#include "ui/pellwyn/progressdlg.h"
#include "desktoptest.h"
#include "recoverysteps.h"
#include "scriptfiles.h"

using desktoptest::Child;
using desktoptest::Harness;
using namespace recoverysteps;
using namespace scriptfiles;

namespace {

constexpr int kVersion2000 = 1;

// The sample databases framed as backups in a folder of the test's own: `oneSet` holds
// Northwind alone, `twoSets` Northwind as set 1 and pubs as set 2. Empty paths without the
// fixtures.
struct Backups2000 {
  testsupport::TempDir dir;
  std::string oneSet, twoSets;
  std::string northwindFile, pubsFile;

  Backups2000() {
    northwindFile = testsupport::FixturePath("sample2000_NORTHWND.MDF");
    pubsFile = testsupport::FixturePath("sample2000_PUBS.MDF");
    if (northwindFile.empty() || pubsFile.empty()) return;
    oneSet = Wrap("bak2008_northwind_thuyluv.bak", {northwindFile}, "northwind2000.bak");
    twoSets = Wrap("bak2005_stdb2sql_2sets.bak", {northwindFile, pubsFile}, "nwpubs2000.bak");
  }
  bool Ready() const { return !oneSet.empty() && !twoSets.empty(); }

 private:
  std::string Wrap(const char* frame, const std::vector<std::string>& files, const char* name) {
    const std::string framePath = testsupport::FixturePath(frame);
    if (framePath.empty()) return "";
    std::vector<std::string> images;
    for (const std::string& f : files) images.push_back(testsupport::ReadFile(f));
    std::string wrapped;
    if (!testsupport::WrapPagesInBackup(testsupport::ReadFile(framePath), images, wrapped)) return "";
    const std::string path = dir.file(name);
    testsupport::WriteFile(path, wrapped);
    return path;
  }
};

// The six counts of the progress dialog once the scan is complete.
QString Counts(const Harness& h) {
  QStringList counts;
  for (const char* name : {"tables", "views", "procedures", "rules", "triggers", "functions"}) counts << Text(h, name);
  return counts.join(QLatin1Char('|'));
}

// The script export from the toolbar: the options dialog with its defaults (every object,
// schema and data), the scripts target, `parent` as the folder, the progress dialog to its end
// (where `finished` looks at it) and closed. The folder the export made; "" when it did not
// end or made none.
std::string ExportScripts(Harness& h, const std::string& parent,
                          const std::function<void(CExportProgressDlg&)>& finished = {}) {
  CExportController& exporter = *h.window->Exporter();
  h.Trigger(kCmdExport);
  if (!QTest::qWaitFor([&] { return exporter.OptionsDialog()->isVisible(); }, 5000)) return "";
  exporter.OptionsDialog()->findChild<QRadioButton*>("id1042")->click();
  h.prompts.files = {parent};
  exporter.OptionsDialog()->findChild<QPushButton*>("id1021")->click();
  if (!QTest::qWaitFor([&] { return exporter.ProgressDialog() && exporter.ProgressDialog()->ExportFinished(); },
                       kScanTimeoutMs))
    return "";
  if (finished) finished(*exporter.ProgressDialog());
  exporter.ProgressDialog()->findChild<QPushButton*>("id1098")->click();
  if (!QTest::qWaitFor([&] { return !exporter.Running(); }, kScanTimeoutMs)) return "";
  std::vector<std::string> folders;
  for (const auto& e : std::filesystem::directory_iterator(parent)) folders.push_back(e.path().string());
  return folders.size() == 1 ? folders[0] : "";
}

}  // namespace

class Recovery2000Test : public desktoptest::DesktopTestCase {
  Q_OBJECT

 private slots:
  void northwindFromLoadToItsRows();
  void bothSetsOfABackup();
  void saveScanThenOpenScan();
  void databaseFilesComeInThroughTheirScanFiles();
  void aWrongVersionEndsItsScan();
  void scriptExportWritesWhatTheDriverWrites();
  void exportAfterOpenScanReadsTheBackupItNames();
};

void Recovery2000Test::northwindFromLoadToItsRows() {
  Backups2000 backups;
  if (!backups.Ready()) QSKIP("fixtures not available");
  Harness h;
  QString counts, pages, name, format;
  QVERIFY(LoadToTheEnd(h, backups.oneSet, kVersion2000, 1, [&] {
    counts = Counts(h);
    pages = Text(h, "pagesRead");
    name = Text(h, "databaseName");
    format = Text(h, "databaseVersion");
    desktoptest::SaveScreenshot(h.window->ProgressDialog(), QStringLiteral("progress-dialog-2000-northwind-complete"));
  }));
  QCOMPARE(h.prompts.Count("version"), 1);
  QCOMPARE(h.prompts.Count("set"), 1);
  QCOMPARE(format, QStringLiteral("2000 Format"));
  QCOMPARE(name, QStringLiteral("Northwind"));
  QCOMPARE(pages, QStringLiteral("336"));  // the whole database file, 8 KB a page
  QCOMPARE(counts.section(QLatin1Char('|'), 0, 4), QStringLiteral("13 (13)|16 (16)|7 (7)|0 (0)|0 (0)"));
  QCOMPARE(h.window->Engines().CurrentVersion()->number, kVersion2000);
  QVERIFY(dynamic_cast<CSQLServer2000*>(h.window->Engines().Current()));

  // The tree: the set and the database under the 2000 label, the counts' objects listed.
  QCOMPARE(h.Tree()->topLevelItem(0)->text(0), QStringLiteral("Northwind-Full Database Backup(SQL Server 2000)"));
  QCOMPARE(h.Database()->text(0), QStringLiteral("Northwind(SQL Server 2000)"));
  QCOMPARE(h.Folder(0)->childCount(), 13);
  QCOMPARE(h.Folder(1)->childCount(), 16);
  QCOMPARE(h.Folder(2)->childCount(), 7);
  QCOMPARE(counts.section(QLatin1Char('|'), 5), QStringLiteral("%1 (%1)").arg(h.Folder(5)->childCount()));
  QVERIFY(Child(h.Folder(1), QStringLiteral("Alphabetical list of products")));
  QVERIFY(Child(h.Folder(2), QStringLiteral("CustOrderHist")));

  CheckNorthwindCustomers(h);
  QVERIFY(!QTest::currentTestFailed());
  h.Folder(0)->setExpanded(true);
  h.Folder(1)->setExpanded(true);
  Picture(h, QStringLiteral("main-window-2000-northwind-customers"));
  h.Folder(1)->setExpanded(false);
  CheckNorthwindOrders(h, QStringLiteral("main-window-2000-orders-page-2"));
  QVERIFY(!QTest::currentTestFailed());

  // Off-row values: Employees' notes lie on text pages.
  QVERIFY(Preview(h, "dbo.Employees"));
  QCOMPARE(RowCount(h), QStringLiteral("9"));
  bool notes = false;
  for (int c = 0; c < h.List()->columnCount() && !notes; ++c)
    notes = Cell(h, 0, c).contains(QStringLiteral("Education includes a BA in psychology"));
  QVERIFY(notes);
}

void Recovery2000Test::bothSetsOfABackup() {
  Backups2000 backups;
  if (!backups.Ready()) QSKIP("fixtures not available");
  Harness h;
  int listed = 0;
  h.prompts.onChooseSet = [&](const CBackupReader& reader) { listed = reader.m_nStreamCount; };
  struct Set {
    int number;
    const char* database;
    const char* pages;
    int tables;
    const char* table;
    const char* rows;
    const char* firstCell;
  } sets[] = {{1, "Northwind", "336", 13, "dbo.Customers", "91", "ALFKI"},
              {2, "pubs", "160", 11, "dbo.authors", "23", "172-32-1176"}};
  for (const Set& s : sets) {
    QString pages, format;
    QVERIFY(LoadToTheEnd(h, backups.twoSets, kVersion2000, s.number, [&] {
      pages = Text(h, "pagesRead");
      format = Text(h, "databaseVersion");
    }));
    QCOMPARE(listed, 2);
    QCOMPARE(pages, QString::fromLatin1(s.pages));
    QCOMPARE(format, QStringLiteral("2000 Format"));
    QCOMPARE(h.window->Engines().Current()->m_nSelectedDataSet, s.number);
    QCOMPARE(h.Database()->text(0), QString::fromLatin1(s.database) + QStringLiteral("(SQL Server 2000)"));
    QCOMPARE(h.Folder(0)->childCount(), s.tables);
    QVERIFY(Preview(h, s.table));
    QCOMPARE(RowCount(h), QString::fromLatin1(s.rows));
    QCOMPARE(Cell(h, 0, 0), QString::fromLatin1(s.firstCell));
  }
}

void Recovery2000Test::saveScanThenOpenScan() {
  Backups2000 backups;
  if (!backups.Ready()) QSKIP("fixtures not available");
  const std::string backup2008 = testsupport::FixturePath("bak2008_library_small.bak");
  struct Case {
    const char* name;
    std::string backup;
    int set;
    int setsAsked;  // by the first preview after Open Scan
    const char* table;
    const char* rows;
    const char* firstCell;
  } cases[] = {{"one set", backups.oneSet, 1, 0, "dbo.Customers", "91", "ALFKI"},
               {"two sets", backups.twoSets, 2, 1, "dbo.authors", "23", "172-32-1176"}};
  Harness h;
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    QVERIFY2(LoadToTheEnd(h, c.backup, kVersion2000, c.set), c.name);
    const QStringList tree = Dump(h.Database());
    const std::string scanFile = dir.file(std::string(c.name) == "one set" ? "one.str" : "two.str");
    h.prompts.files = {scanFile};
    h.Trigger(kCmdSaveScan);
    QVERIFY2(uicore::IsScanFile(scanFile), c.name);
    // Another format in between: the reopened scan's engine and label come from the file.
    if (!backup2008.empty()) {
      QVERIFY(LoadToTheEnd(h, backup2008, 3, 1));
      QVERIFY(h.Database()->text(0).endsWith(QStringLiteral("(SQL Server 2008)")));
    }

    h.prompts.asked.clear();
    h.prompts.files = {scanFile};
    h.Trigger(kCmdOpenScan);
    QCOMPARE(h.prompts.Last("info"), std::string(uicore::kLoadComplete));
    QCOMPARE(h.window->Engines().CurrentVersion()->number, kVersion2000);
    QCOMPARE(h.window->Engines().CurrentVersion()->text, "2000");
    QVERIFY(dynamic_cast<CSQLServer2000*>(h.window->Engines().Current()));
    QCOMPARE(Dump(h.Database()), tree);
    for (int id : {kCmdExport, kCmdExportMenu, kCmdSaveScan}) QVERIFY(h.window->CommandAction(id)->isEnabled());

    // The rows come from the backup at the path the scan file keeps; with two sets the set
    // dialog asks which one, and Cancel there reads nothing.
    if (c.setsAsked) {
      h.prompts.sets = {-1};
      h.Tree()->setCurrentItem(Child(h.Folder(0), QString::fromLatin1(c.table)));
      QCOMPARE(h.prompts.Count("set"), 1);
      QCOMPARE(h.window->StatusText(), QStringLiteral("The rows need the backup file ") +
                                           QString::fromStdString(c.backup) + QStringLiteral("."));
      QCOMPARE(h.List()->rowCount(), 0);
      h.Tree()->setCurrentItem(h.Folder(1));
      h.prompts.sets = {c.set};
    }
    QVERIFY2(Preview(h, c.table), c.name);
    QCOMPARE(h.prompts.Count("set"), c.setsAsked * 2);
    QCOMPARE(RowCount(h), QString::fromLatin1(c.rows));
    QCOMPARE(Cell(h, 0, 0), QString::fromLatin1(c.firstCell));
    // Found at last, the rows replace the word that they could not be read.
    QCOMPARE(h.window->StatusText(), QStringLiteral("Ready"));
    if (c.setsAsked) Picture(h, QStringLiteral("main-window-2000-reopened-pubs-authors"));
  }
}

void Recovery2000Test::databaseFilesComeInThroughTheirScanFiles() {
  Backups2000 backups;
  if (backups.northwindFile.empty() || backups.pubsFile.empty()) QSKIP("fixtures not available");
  Harness h;
  // Load reads a database file itself: no set to choose, the scan, the tree and the rows.
  QVERIFY(LoadToTheEnd(h, backups.northwindFile, kVersion2000, -1));
  QCOMPARE(h.prompts.Last("version"), std::to_string(kVersion2000));
  QCOMPARE(h.prompts.Count("set"), 0);
  QCOMPARE(h.prompts.Count("question"), 0);
  QCOMPARE(h.Database()->text(0), QStringLiteral("Northwind(SQL Server 2000)"));
  QCOMPARE(h.Folder(0)->childCount(), 13);
  QVERIFY(Preview(h, "dbo.Customers"));
  QCOMPARE(RowCount(h), QStringLiteral("91"));
  QCOMPARE(Cell(h, 0, 0), QStringLiteral("ALFKI"));
  Picture(h, QStringLiteral("main-window-2000-database-file-customers"));
  QVERIFY(h.window->CommandAction(kCmdExport)->isEnabled());
  QVERIFY(h.window->CommandAction(kCmdSaveScan)->isEnabled());

  struct Case {
    const std::string& file;
    const char* database;
    const char* table;
    const char* rows;
    const char* firstCell;
  } cases[] = {{backups.northwindFile, "Northwind", "dbo.Customers", "91", "ALFKI"},
               {backups.pubsFile, "pubs", "dbo.titles", "18", "BU1032"}};
  for (const Case& c : cases) {
    // The scan file of the database file, written by the engine as a scan run without the
    // window writes it.
    const std::string scanFile = backups.dir.file(std::string(c.database) + ".str");
    {
      CSQLServer2000 engine;
      QVERIFY(testsupport::RunRecovery(engine, c.file).finished);
      QVERIFY(engine.SaveScanFile(scanFile.c_str()));
    }
    h.prompts.asked.clear();
    h.prompts.files = {scanFile};
    h.Trigger(kCmdOpenScan);
    QCOMPARE(h.prompts.Last("info"), std::string(uicore::kLoadComplete));
    QCOMPARE(h.window->Engines().CurrentVersion()->number, kVersion2000);
    QCOMPARE(h.Database()->text(0), QString::fromLatin1(c.database) + QStringLiteral("(SQL Server 2000)"));
    // Rows are read from the database file at page x 8192; nothing to choose.
    QVERIFY2(Preview(h, c.table), c.database);
    QCOMPARE(h.prompts.Count("set"), 0);
    QCOMPARE(RowCount(h), QString::fromLatin1(c.rows));
    QCOMPARE(Cell(h, 0, 0), QString::fromLatin1(c.firstCell));
  }
}

// The version dialog warns that a wrong choice may give inconsistent results; it must not
// give a scan that never ends, nor keep the next Load from reading the backup as it is.
void Recovery2000Test::aWrongVersionEndsItsScan() {
  Backups2000 backups;
  const std::string backup2008 = testsupport::FixturePath("bak2008_northwind_thuyluv.bak");
  if (!backups.Ready() || backup2008.empty()) QSKIP("fixtures not available");
  struct Case {
    const std::string& file;
    int wrong, right;
  } cases[] = {{backups.oneSet, 3, kVersion2000}, {backup2008, kVersion2000, 3}};
  Harness h;
  for (const Case& c : cases) {
    // The dialog opens on the file's own version; the other family's engine is asked about
    // once, naming what the file holds, and read as chosen after Yes.
    h.prompts.asked.clear();
    h.prompts.yesNo = {true};
    QVERIFY(LoadToTheEnd(h, c.file, c.wrong, 1));
    QCOMPARE(h.prompts.Last("version"), std::to_string(c.right));
    QCOMPARE(h.prompts.Count("question"), 1);
    const std::string holds = c.right == kVersion2000 ? "a SQL Server 2000 database (version 539)"
                                                      : "a SQL Server 2008 database (version 655)";
    QCOMPARE(h.prompts.Last("question"), "This backup holds " + holds + ". Read it as " +
                                             (c.wrong == kVersion2000 ? "SQL Server 2000" : "SQL Server 2008") + "?");
    h.prompts.asked.clear();
    QVERIFY(h.Database()->text(0).endsWith(QString::fromLatin1(FindEngineVersion(c.wrong)->label)));
    QVERIFY(LoadToTheEnd(h, c.file, c.right, 1));
    QCOMPARE(h.prompts.Count("question"), 0);
    QCOMPARE(h.Database()->text(0), QStringLiteral("Northwind") + QString::fromLatin1(FindEngineVersion(c.right)->label));
    QCOMPARE(h.Folder(0)->childCount(), 13);
    QVERIFY(Preview(h, "dbo.Customers"));
    QCOMPARE(RowCount(h), QStringLiteral("91"));
  }
}

// The script export of a 2000 backup from the window: the options dialog, the folder, the
// progress dialog to its end. The files are those engine-driver's export of the same backup
// writes with the same worker; the batch file runs osql, the foreign keys last.
void Recovery2000Test::scriptExportWritesWhatTheDriverWrites() {
  Backups2000 backups;
  if (!backups.Ready()) QSKIP("fixtures not available");
  Harness h;
  QVERIFY(LoadToTheEnd(h, backups.oneSet, kVersion2000, 1));
  testsupport::TempDir parent;
  const std::string folder = ExportScripts(h, parent.path(), [&](CExportProgressDlg& done) {
    const QString message = done.findChild<QPlainTextEdit*>("id1096")->toPlainText();
    QVERIFY2(message.contains(QStringLiteral("ForeignKeys.sql")), qPrintable(message));
    desktoptest::SaveScreenshot(&done, QStringLiteral("export-finished-2000-northwind"));
  });
  QVERIFY(!folder.empty());
  const std::map<std::string, std::string> ours = FilesUnder(folder);
  QVERIFY(ours.count("Northwind.bat") && ours.count("ForeignKeys.sql"));

  // The batch file: osql for both logins, every script once per login, the foreign keys
  // after the last table's constraints.
  const std::string& bat = ours.at("Northwind.bat");
  QVERIFY(bat.find("sqlcmd") == std::string::npos);
  const QStringList lines = QString::fromStdString(bat).split(QStringLiteral("\r\n"));
  const QStringList windows = lines.filter(QRegularExpression(QStringLiteral("^osql -E -S %1 -d %2 -i ")));
  const QStringList logins = lines.filter(QRegularExpression(QStringLiteral("^osql -U %1 -P %2 -S %3 -d %4 -i ")));
  QCOMPARE(windows.size(), logins.size());
  QCOMPARE(windows.filter(QStringLiteral("Tables\\")).size(), 26);
  const int foreignKeys = int(windows.indexOf(QStringLiteral("osql -E -S %1 -d %2 -i ForeignKeys.sql")));
  QVERIFY(foreignKeys > 0);
  QVERIFY(windows[foreignKeys - 1].endsWith(QStringLiteral("_Constraint.sql\"")));
  QVERIFY(windows.mid(foreignKeys).filter(QStringLiteral("Tables\\")).isEmpty());

  // Northwind's thirteen foreign keys, each a statement that lexes as T-SQL.
  int constraints = 0;
  for (const std::string& batch : testsupport::SplitSqlBatches(ours.at("ForeignKeys.sql"))) {
    const testsupport::SqlLexResult lexed = testsupport::LexSqlBatch(batch);
    QVERIFY2(lexed.ok(), (lexed.error + ": " + batch).c_str());
    if (batch.find("FOREIGN KEY") != std::string::npos) ++constraints;
  }
  QCOMPARE(constraints, 13);

  // engine-driver's export of the same backup, rows included.
  testsupport::TempDir driverDir;
  QProcess driver;
  driver.start(QStringLiteral(PELLWYN_ENGINE_DRIVER),
               {QStringLiteral("export"), QString::fromStdString(backups.oneSet), QString::fromStdString(driverDir.path()),
                QStringLiteral("--rows"), QStringLiteral("--format"), QStringLiteral("2000")});
  QVERIFY(driver.waitForFinished(120000));
  QCOMPARE(driver.exitCode(), 0);
  const std::map<std::string, std::string> theirs = FilesUnder(driverDir.path());
  QStringList ourNames, theirNames;
  for (const auto& e : ours) ourNames << QString::fromStdString(e.first);
  for (const auto& e : theirs) theirNames << QString::fromStdString(e.first);
  QCOMPARE(ourNames, theirNames);
  for (const auto& [name, bytes] : ours) {
    const std::string a = Replaced(bytes, folder, "<folder>");
    const std::string b = Replaced(theirs.at(name), driverDir.path(), "<folder>");
    // The tree lists objects by name, the driver by object id: the object scripts, the batch
    // file and the shell script hold the same statements or lines, in another order.
    const bool table = name.find('/') != std::string::npos;
    const auto endsWith = [&](const std::string& end) {
      return name.size() > end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
    };
    const std::string separator = endsWith(".bat") ? "\r\n" : endsWith(".sh") ? "\n" : "\r\ngo\r\n";
    QVERIFY2(table ? a == b : SortedPieces(a, separator) == SortedPieces(b, separator), name.c_str());
  }
  QVERIFY(ours.at("Tables/Orders.sql").find("Insert into [dbo].[Orders]") != std::string::npos);
}

// Rows exported after Open Scan come from the backup the scan file names, its set located as
// for a preview; without the backup the schema is exported alone, and the user is told.
void Recovery2000Test::exportAfterOpenScanReadsTheBackupItNames() {
  Backups2000 backups;
  if (!backups.Ready()) QSKIP("fixtures not available");
  Harness h;
  QVERIFY(LoadToTheEnd(h, backups.twoSets, kVersion2000, 2));
  const std::string scanFile = backups.dir.file("pubs.str");
  h.prompts.files = {scanFile};
  h.Trigger(kCmdSaveScan);
  const std::string moved = backups.dir.file("elsewhere.bak");
  struct Case {
    const char* name;
    bool backupThere;
  } cases[] = {{"backup there", true}, {"backup gone", false}};
  for (const Case& c : cases) {
    if (!c.backupThere) std::filesystem::rename(backups.twoSets, moved);
    h.prompts.files = {scanFile};
    h.Trigger(kCmdOpenScan);
    QCOMPARE(h.prompts.Last("info"), std::string(uicore::kLoadComplete));
    h.prompts.asked.clear();
    h.prompts.sets = {2};
    testsupport::TempDir parent;
    const std::string folder = ExportScripts(h, parent.path());
    QVERIFY2(!folder.empty(), c.name);
    const std::string authors = testsupport::ReadFile(folder + "/Tables/authors.sql");
    QVERIFY2(authors.find("CREATE TABLE") != std::string::npos, c.name);
    QCOMPARE(h.prompts.Count("set"), c.backupThere ? 1 : 0);
    if (c.backupThere) {
      QVERIFY(authors.find("Insert into [dbo].[authors]") != std::string::npos);
      QVERIFY(authors.find("'172-32-1176'") != std::string::npos);
    } else {
      QVERIFY(authors.find("Insert into [dbo].[authors]") == std::string::npos);
      QCOMPARE(h.prompts.Count("info"), 1);
      QCOMPARE(h.prompts.Last("info"), std::string(uicore::kRowsNeedBackup) + backups.twoSets +
                                                 ". The schema is exported without rows.");
    }
  }
  std::filesystem::rename(moved, backups.twoSets);
}

DESKTOP_TEST(Recovery2000Test);
#include "recovery2000_test.moc"
