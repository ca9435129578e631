// A scan reopened from its file finds its rows again in the backup it was made from: the set
// is located as Recover locates it, and the rows come back as they did after the scan.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/backupreader.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "ui/core/openscan.h"

namespace {

using testsupport::ModuleFolderScope;
using testsupport::TempDir;

struct Scanned {
  std::vector<std::string> rows;       // every row of the table after the scan
  std::vector<std::string> otherRows;  // and of the other table asked for
  std::string scanFile;
};

// Recovers `backup` (set `set`) through a link in `dir`, so a test can take the backup away
// again; keeps the rows of `table` (and `other`) and saves the scan.
Scanned ScanAndSave(const TempDir& dir, const std::string& backup, int set, const std::string& table,
                    const std::string& other = "") {
  Scanned s;
  const std::string link = dir.file("source.bak");
  std::filesystem::remove(link);
  std::filesystem::create_symlink(backup, link);
  CSQLServer2008 engine;
  testsupport::RecoveryOptions options;
  options.selectedSet = set;
  EXPECT_TRUE(testsupport::RunRecovery(engine, link, options).finished);
  CTable* t = testsupport::FindTable(engine, table);
  EXPECT_NE(t, nullptr) << table;
  if (t) s.rows = testsupport::AllRows(engine, t);
  if (CTable* o = other.empty() ? nullptr : testsupport::FindTable(engine, other)) s.otherRows = testsupport::AllRows(engine, o);
  s.scanFile = dir.file("scan" + std::to_string(set) + ".str");
  EXPECT_TRUE(engine.SaveScanFile(s.scanFile.c_str()));
  return s;
}

}  // namespace

TEST(PageSource, AReopenedScanReadsItsRowsFromTheBackupItNames) {
  REQUIRE_FIXTURE(backup, "bak2008_northwind_thuyluv.bak");
  ModuleFolderScope scope;
  TempDir dir;
  // Employees' notes and photos lie on text pages, found by their page ids.
  const Scanned scanned = ScanAndSave(dir, backup, 1, "Customers", "Employees");
  ASSERT_EQ(scanned.rows.size(), 91u);
  ASSERT_EQ(scanned.otherRows.size(), 9u);
  ASSERT_NE(scanned.otherRows[0].find("Education includes a BA in psychology"), std::string::npos);

  uicore::OpenScanResult opened = uicore::OpenScanFile(scanned.scanFile);
  ASSERT_TRUE(opened.Loaded()) << opened.message;
  CSQLServer& engine = *opened.engine;
  CTable* customers = testsupport::FindTable(engine, "Customers");
  ASSERT_NE(customers, nullptr);
  // Before the set is located the engine refuses to read the backup as a plain file.
  EXPECT_TRUE(testsupport::AllRows(engine, customers).empty());

  int asked = 0;
  const uicore::ChooseSet choose = [&](const CBackupReader&) { return ++asked, 1; };
  uicore::PageSourceCheck check = uicore::AttachPageSource(engine, choose);
  ASSERT_TRUE(check.ready) << check.message;
  EXPECT_EQ(asked, 0);  // one set: nothing to choose
  EXPECT_EQ(testsupport::AllRows(engine, customers), scanned.rows);
  EXPECT_EQ(testsupport::AllRows(engine, testsupport::FindTable(engine, "Employees")), scanned.otherRows);
  // Once located, the set is not asked for again.
  EXPECT_TRUE(uicore::AttachPageSource(engine, choose).ready);
  EXPECT_EQ(asked, 0);
}

TEST(PageSource, SeveralSetsAreChosenFromAndACancelledChoiceReadsNothing) {
  REQUIRE_FIXTURE(backup, "bak2005_stdb2sql_2sets.bak");
  ModuleFolderScope scope;
  TempDir dir;
  const Scanned scanned = ScanAndSave(dir, backup, 2, "Students");
  ASSERT_FALSE(scanned.rows.empty());

  struct Case {
    int answer;
    bool ready;
  } cases[] = {{-1, false}, {2, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    uicore::OpenScanResult opened = uicore::OpenScanFile(scanned.scanFile);
    ASSERT_TRUE(opened.Loaded());
    int listed = 0;
    uicore::PageSourceCheck check = uicore::AttachPageSource(*opened.engine, [&](const CBackupReader& reader) {
      listed = reader.m_nStreamCount;
      return c.answer;
    });
    EXPECT_EQ(listed, 2);
    EXPECT_EQ(check.ready, c.ready);
    CTable* students = testsupport::FindTable(*opened.engine, "Students");
    ASSERT_NE(students, nullptr);
    if (c.ready) {
      EXPECT_EQ(testsupport::AllRows(*opened.engine, students), scanned.rows);
    } else {
      EXPECT_EQ(check.message, std::string(uicore::kRowsNeedBackup) + dir.file("source.bak") + ".");
      EXPECT_TRUE(testsupport::AllRows(*opened.engine, students).empty());
    }
  }
}

TEST(PageSource, AMissingSourceIsNamedAndNothingIsRead) {
  REQUIRE_FIXTURE(backup, "bak2008_library_small.bak");
  ModuleFolderScope scope;
  TempDir dir;
  const Scanned scanned = ScanAndSave(dir, backup, 1, "Books");
  std::filesystem::remove(dir.file("source.bak"));
  uicore::OpenScanResult opened = uicore::OpenScanFile(scanned.scanFile);
  ASSERT_TRUE(opened.Loaded());
  bool asked = false;
  uicore::PageSourceCheck check = uicore::AttachPageSource(*opened.engine, [&](const CBackupReader&) {
    asked = true;
    return 1;
  });
  EXPECT_FALSE(check.ready);
  EXPECT_FALSE(asked);
  EXPECT_EQ(check.message, std::string(uicore::kRowsNeedBackup) + dir.file("source.bak") + ".");
  EXPECT_NE(scope.ReadExecLog().find("cannot be read"), std::string::npos);

  // A plain database file is read where it lies, and only while it is there.
  REQUIRE_FIXTURE(mdf, "mdf2008_pubs_itsligo.mdf");
  CSQLServer2008 plain;
  plain.m_strFilePath = mdf.c_str();
  EXPECT_TRUE(uicore::AttachPageSource(plain, nullptr).ready);
  plain.m_strFilePath = dir.file("gone.mdf").c_str();
  EXPECT_FALSE(uicore::AttachPageSource(plain, nullptr).ready);
}
