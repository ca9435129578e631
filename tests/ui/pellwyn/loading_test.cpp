// What Load tells before and after the scan: the version dialog on the version the file says,
// the question a contrary choice asks (the program's own message box), the message of a file
// it cannot load, and database files of both engine families loaded like backups.
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "support/backupwriter.h"
#include "support/differentialsets.h"
#include "support/fixtures.h"
#include "ui/core/openscan.h"
#include "ui/core/sourcedetection.h"
#include "ui/pellwyn/progressdlg.h"
#include "ui/pellwyn/qtprompts.h"
#include "ui/pellwyn/sqlformatoptdlg.h"
#include "desktoptest.h"
#include "recoverysteps.h"

using desktoptest::Harness;
using namespace recoverysteps;

namespace {

// Runs `show` (which opens a modal message box) and, once the box is up, pictures it as `name`,
// keeps its text and presses `answer`.
QString PictureMessageBox(const std::function<void()>& show, const QString& name, QMessageBox::StandardButton answer) {
  QString text;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    text = box->text();
    desktoptest::SaveScreenshot(box, name);
    box->button(answer)->click();
  });
  show();
  return text;
}

}  // namespace

class LoadingTest : public desktoptest::DesktopTestCase {
  Q_OBJECT

 private slots:
  void theVersionDialogOpensOnTheFilesVersion();
  void aContraryChoiceAndAFailedLoadInTheProgramsMessageBoxes();
  void databaseFilesOfBothFamiliesLoadToTheirRows();
  void whatADamagedCatalogLosesIsNamedAtTheEnd();
  void aCutOffBackupSaysSoAndMarksItsTables();
  void aDifferentialWithoutItsBaseIsReadAfterAWord();
};

void LoadingTest::theVersionDialogOpensOnTheFilesVersion() {
  if (testsupport::FixturesDir().empty()) QSKIP("fixtures not available");
  struct Case {
    const char* file;
    int version;
    const char* picture;
  } cases[] = {
      {"sample2000_PUBS.MDF", 1, "version-dialog-preselected-2000"},
      {"bak2005_northwind_gabrujo.bak", 2, "version-dialog-preselected-2005"},
      {"bak2008_library_small.bak", 3, "version-dialog-preselected-2008"},
  };
  Harness h;
  for (const Case& c : cases) {
    const std::string path = testsupport::FixturePath(c.file);
    // The window asks the dialog for the file's version (cancelled here: nothing loads).
    h.prompts.asked.clear();
    h.prompts.files = {path};
    h.Trigger(kCmdLoad);
    QCOMPARE(h.prompts.Last("version"), std::to_string(c.version));
    QVERIFY(!h.window->ProgressDialog());
    // And the dialog opens with that version's button on; OK gives it.
    CSqlFormatOptDlg dialog(h.window.get(), uicore::DetectSource(path).engine);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (int v = 1; v <= 3; ++v)
      QCOMPARE(dialog.findChild<QRadioButton*>(QStringLiteral("version%1").arg(v))->isChecked(), v == c.version);
    desktoptest::SaveScreenshot(&dialog, QString::fromLatin1(c.picture));
    dialog.accept();
    QCOMPARE(dialog.m_nVersion, c.version);
  }
}

void LoadingTest::aContraryChoiceAndAFailedLoadInTheProgramsMessageBoxes() {
  const std::string library = testsupport::FixturePath("bak2008_library_small.bak");
  if (library.empty()) QSKIP("fixtures not available");
  Harness h;
  QtPrompts real(h.window.get());
  const uicore::SourceFacts facts = uicore::DetectSource(library);
  const std::string question = uicore::ContraryChoiceQuestion(facts, 1);
  QCOMPARE(question, std::string("This backup holds a SQL Server 2008 database (version 655). Read it as SQL Server 2000?"));
  bool yes = true;
  const QString asked = PictureMessageBox([&] { yes = real.AskYesNo(kMessageTitle, question); },
                                          QStringLiteral("load-question-contrary-version"), QMessageBox::No);
  QCOMPARE(asked, QString::fromStdString(question));
  QVERIFY(!yes);

  // No to the question opens the dialog once more on the file's version; a second contrary
  // choice is taken without asking again.
  h.prompts.files = {library};
  h.prompts.versions = {1, 1};
  h.prompts.sets = {1};
  h.prompts.yesNo = {false};
  h.Trigger(kCmdLoad);
  QCOMPARE(h.prompts.Count("version"), 2);
  QCOMPARE(h.prompts.Count("question"), 1);
  QCOMPARE(h.prompts.Last("question"), question);
  QVERIFY(h.window->ProgressDialog());
  QCOMPARE(h.window->Engines().CurrentVersion()->number, 1);
  h.prompts.yesNo = {true};
  QTest::keyClick(h.window->ProgressDialog(), Qt::Key_Escape);
  QTRY_VERIFY_WITH_TIMEOUT(!h.window->ProgressDialog(), kScanTimeoutMs);

  // A failed Load's message as the program shows it.
  const std::string compressed = testsupport::FixturePath("bak_compressed_northwind.bak");
  const std::string why = uicore::DetectSource(compressed).failure;
  const QString shown = PictureMessageBox([&] { real.Inform(kMessageTitle, why); },
                                          QStringLiteral("load-failed-compressed-message"), QMessageBox::Ok);
  QCOMPARE(shown, QString::fromStdString(why));
}

void LoadingTest::databaseFilesOfBothFamiliesLoadToTheirRows() {
  if (testsupport::FixturesDir().empty()) QSKIP("fixtures not available");
  struct Case {
    const char* file;
    int version;
    const char* database;
    const char* table;
    const char* rows;
    const char* firstCell;
    const char* picture;
    const char* namedAs = nullptr;  // a link of this name to the file: a database file named ".bak"
  } cases[] = {
      {"sample2000_PUBS.MDF", 1, "pubs(SQL Server 2000)", "dbo.authors", "23", "172-32-1176",
       "main-window-database-file-2000"},
      {"mdf2008_pubs_itsligo.mdf", 3, "C:\\DBS\\PUBS.MDF(SQL Server 2008)", "dbo.authors", "23", "172-32-1176",
       "main-window-database-file-2008"},
      {"sample2000_PUBS.MDF", 1, "pubs(SQL Server 2000)", "dbo.authors", "23", "172-32-1176",
       "main-window-database-file-2000-named-bak", "pubs-copy.bak"},
      {"mdf2008_pubs_itsligo.mdf", 3, "C:\\DBS\\PUBS.MDF(SQL Server 2008)", "dbo.authors", "23", "172-32-1176",
       "main-window-database-file-2008-named-bak", "pubs-copy.bak"},
  };
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    Harness h;
    std::string path = testsupport::FixturePath(c.file);
    if (c.namedAs) {
      const std::string link = dir.file(std::string(c.picture) + "-" + c.namedAs);
      QVERIFY(::symlink(path.c_str(), link.c_str()) == 0);
      path = link;
    }
    QVERIFY2(LoadToTheEnd(h, path, c.version, -1), c.file);
    QCOMPARE(h.prompts.Count("set"), 0);
    QCOMPARE(h.prompts.Count("question"), 0);
    QCOMPARE(h.Database()->text(0), QString::fromLatin1(c.database));
    QCOMPARE(h.Folder(0)->childCount(), 11);
    QVERIFY(Preview(h, c.table));
    QCOMPARE(RowCount(h), QString::fromLatin1(c.rows));
    QCOMPARE(Cell(h, 0, 0), QString::fromLatin1(c.firstCell));
    Picture(h, QString::fromLatin1(c.picture));

    // Save Scan and Open Scan: the same tree, and the rows read from the database file again.
    const QStringList tree = Dump(h.Database());
    const std::string scanFile = dir.file(std::string(c.picture) + ".str");
    h.prompts.asked.clear();
    h.prompts.files = {scanFile};
    h.Trigger(kCmdSaveScan);
    QCOMPARE(h.prompts.Count("info"), 0);
    QVERIFY(uicore::IsScanFile(scanFile));
    h.prompts.files = {scanFile};
    h.Trigger(kCmdOpenScan);
    QCOMPARE(h.prompts.Last("info"), std::string(uicore::kLoadComplete));
    QCOMPARE(Dump(h.Database()), tree);
    QVERIFY(Preview(h, c.table));
    QCOMPARE(RowCount(h), QString::fromLatin1(c.rows));
    QCOMPARE(Cell(h, 0, 0), QString::fromLatin1(c.firstCell));
    QVERIFY(h.window->CommandAction(kCmdExport)->isEnabled());
  }
}

void LoadingTest::aCutOffBackupSaysSoAndMarksItsTables() {
  const std::string fixture = testsupport::FixturePath("bak2008_northwind_thuyluv.bak");
  if (fixture.empty()) QSKIP("fixtures not available");
  testsupport::TempDir dir;
  const std::string bytes = testsupport::ReadFile(fixture);
  const std::string path = dir.file("northwind-cut.bak");
  testsupport::WriteFile(path, bytes.substr(0, bytes.size() * 89 / 100));
  Harness h;
  QVERIFY(LoadToTheEnd(h, path, 3, 1, [&] {
    auto* end = h.window->ProgressDialog()->findChild<QLabel*>(QStringLiteral("endText"));
    QVERIFY(end && end->isVisible());
    // Then, a line each, the tables the cut took the columns of, by what is left of them.
    QVERIFY2(end->text().startsWith(QStringLiteral("The backup is truncated: 401 of 440 pages were read.")),
             qPrintable(end->text()));
    QTest::qWait(100);  // the picture once the dialog has laid the end out, as a user sees it
    desktoptest::SaveScreenshot(h.window->ProgressDialog(), QStringLiteral("progress-dialog-truncated-backup"));
  }));
  QCOMPARE(h.window->StatusText(), QStringLiteral("Recovery complete. The backup is truncated: 401 of 440 pages were read."));
  QTreeWidgetItem* employees = desktoptest::Child(h.Folder(0), QStringLiteral("dbo.Employees"));
  QVERIFY(employees);
  QCOMPARE(employees->child(0)->text(0),
           QStringLiteral("Catalog incomplete: columns 1-7 missing; key columns of index PK_Employees missing; key "
                          "columns of index LastName missing"));
  QTreeWidgetItem* customers = desktoptest::Child(h.Folder(0), QStringLiteral("dbo.Customers"));
  QVERIFY(customers);
  QCOMPARE(customers->child(0)->text(0), QStringLiteral("Columns"));
  employees->setExpanded(true);
  h.Tree()->scrollToItem(employees);
  Picture(h, QStringLiteral("main-window-truncated-backup-marked-table"));
}

void LoadingTest::aDifferentialWithoutItsBaseIsReadAfterAWord() {
  testsupport::TempDir dir;
  const std::string full = testsupport::Northwind2000Backup(dir);
  if (full.empty()) QSKIP("fixtures not available");
  testsupport::DifferentialEdit edit;
  edit.row = "Eastern";
  edit.renamed = "Oriente";
  const testsupport::DifferentialPages d = testsupport::MakeDifferentialPages(full, edit);
  std::string alone;
  backupwriter::AppendSet(alone, backupwriter::kDifferentialBackup, 1, u"Northwind-Differential", d.pages);
  const std::string path = dir.file("differential.bak");
  testsupport::WriteFile(path, alone);
  Harness h;
  QVERIFY(LoadToTheEnd(h, path, 1, 1));
  QCOMPARE(h.prompts.Count("info"), 1);
  QCOMPARE(h.prompts.Last("info"),
           std::string("Backup set 1 is a differential backup, and this file holds no full backup of its database to "
                       "read it over: only the pages it changed are read, so tables and rows may be missing."));
}

DESKTOP_TEST(LoadingTest);

// A copy of the 2000 Northwind whose syscolumns page is zeroed: the dialog's end names the
// page and the tables whose columns were lost and rebuilt as raw bytes, as the log does, rather
// than showing them as if their columns were known; what does not fit its few lines is counted.
void LoadingTest::whatADamagedCatalogLosesIsNamedAtTheEnd() {
  const std::string fixture = testsupport::FixturePath("sample2000_NORTHWND.MDF");
  if (fixture.empty()) QSKIP("fixtures not available");
  testsupport::TempDir dir;
  std::string bytes = testsupport::ReadFile(fixture);
  bytes.replace(85 * 8192, 8192, std::string(8192, '\0'));
  const std::string path = dir.file("damaged.mdf");
  testsupport::WriteFile(path, bytes);
  Harness h;
  QString end;
  QVERIFY(LoadToTheEnd(h, path, 1, -1, [&] {
    end = Text(h, "endText");
    QTest::qWait(100);
    desktoptest::SaveScreenshot(h.window->ProgressDialog(), QStringLiteral("progress-end-catalog-damage"));
  }));
  QVERIFY2(end.contains(QStringLiteral("catalog page 1:85 (syscolumns) failed its checks (zeroed)")), qPrintable(end));
  QVERIFY2(end.contains(QStringLiteral("table dbo.Orders: its syscolumns rows are lost; its rows are kept as raw bytes")),
           qPrintable(end));
  QVERIFY(end.contains(QStringLiteral("table dbo.Products:")));
  QVERIFY2(end.contains(QStringLiteral("... and 1 more losses, named in the error log")), qPrintable(end));
}

#include "loading_test.moc"
