// Names and texts beyond Latin-1 in the window, as they were stored: nvarchar rows in
// Vietnamese, set names in Chinese (holding U+4E00) and Cyrillic in the set dialog and at the
// tree's root, and CJK table, column and database names in the tree and the preview.
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

#include "common/backupreader.h"
#include "support/fixtures.h"
#include "support/renamedcopy.h"
#include "ui/pellwyn/backupsetdlg.h"
#include "desktoptest.h"
#include "recoverysteps.h"

using desktoptest::Harness;
using namespace recoverysteps;

class UnicodeNamesTest : public desktoptest::DesktopTestCase {
  Q_OBJECT

 private slots:
  void vietnameseRowsShowAsStored();
  void setNamesShowWhole();
  void cjkTableColumnAndDatabaseNames();
};

void UnicodeNamesTest::vietnameseRowsShowAsStored() {
  const std::string path = testsupport::FixturePath("mdf2008_qlsinhvien.mdf");
  if (path.empty()) QSKIP("fixtures not available");
  Harness h;
  QVERIFY(LoadToTheEnd(h, path, 3, -1));
  QVERIFY(Preview(h, "dbo.SinhVien"));
  QVERIFY(h.List()->rowCount() > 0);
  // The first row as the file (and the export's N'' literals) hold it.
  QCOMPARE(Cell(h, 0, 0), QStringLiteral("1551010143"));
  QCOMPARE(Cell(h, 0, 1), QString::fromUtf8("Nguy\xe1\xbb\x85n Anh"));
  QCOMPARE(Cell(h, 0, 2), QString::fromUtf8("Tu\xe1\xba\xa5n"));
  QCOMPARE(Cell(h, 0, 4).left(10), QStringLiteral("1997-09-03"));
  QCOMPARE(Cell(h, 0, 5), QString::fromUtf8("Vi\xe1\xbb\x87t Nam"));
  for (int r = 0; r < h.List()->rowCount(); ++r)
    for (int c = 0; c < h.List()->columnCount(); ++c) QVERIFY2(!Cell(h, r, c).contains(QStringLiteral("?????")), qPrintable(Cell(h, r, c)));
  Picture(h, QStringLiteral("main-window-vietnamese-rows"));
}

void UnicodeNamesTest::setNamesShowWhole() {
  if (testsupport::FixturesDir().empty()) QSKIP("fixtures not available");
  testsupport::TempDir dir;
  int n = 0;
  for (const testsupport::RenamedSet& renamed : testsupport::kRenamedSets) {
    const std::string copy = dir.file("renamed" + std::to_string(++n) + ".bak");
    QVERIFY(testsupport::WriteRenamedSetBackup(copy, renamed.stored));
    const QString name = QString::fromUtf8(renamed.utf8);
    Harness h;
    QString listed;
    h.prompts.onChooseSet = [&](const CBackupReader& reader) {
      CBackupSetDlg sets(reader, h.prompts, h.window.get());
      sets.show();
      listed = sets.List()->topLevelItem(0)->text(1);
      desktoptest::SaveScreenshot(&sets, QStringLiteral("backup-set-dialog-set-name-%1").arg(n));
    };
    QVERIFY(LoadToTheEnd(h, copy, 3, 1));
    QCOMPARE(listed, name);
    QCOMPARE(h.Tree()->topLevelItem(0)->text(0), name + QStringLiteral("(SQL Server 2008)"));
    Picture(h, QStringLiteral("main-window-set-name-%1").arg(n));
  }
}

void UnicodeNamesTest::cjkTableColumnAndDatabaseNames() {
  testsupport::TempDir dir;
  const std::string copy = dir.file("cjk.mdf");
  if (!testsupport::WriteCjkNorthwind(copy)) QSKIP("fixtures not available");
  Harness h;
  QVERIFY(LoadToTheEnd(h, copy, 3, -1));
  QCOMPARE(h.Database()->text(0), QString::fromUtf8(testsupport::kCjkDatabase) + QStringLiteral("(SQL Server 2008)"));
  QTreeWidgetItem* table = desktoptest::Child(h.Folder(0), QStringLiteral("dbo.") + QString::fromUtf8(testsupport::kCjkTable));
  QVERIFY(table);
  const int before = h.window->PreviewPagesShown();
  h.Tree()->setCurrentItem(table);
  QVERIFY(WaitForPage(h, before));
  QCOMPARE(h.List()->horizontalHeaderItem(1)->text(), QString::fromUtf8(testsupport::kCjkColumn));
  QCOMPARE(Cell(h, 0, 1), QStringLiteral("Speedy Express"));
  Picture(h, QStringLiteral("main-window-cjk-names"));
}

DESKTOP_TEST(UnicodeNamesTest);

#include "unicodenames_test.moc"
