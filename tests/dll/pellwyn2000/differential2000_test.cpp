// A 2000 differential backup set is read over its base full set, as a restore lays it: the
// full set's pages with the differential's laid over them by page id. The differential is made
// from the 2000 Northwind in the tape framing of a real backup: the first two extents, the
// Region page with a changed row, and an added Region page with the PFS byte that allocates it.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/backupreader.h"
#include "common/page.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "support/backupwriter.h"
#include "support/differentialsets.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "ui/core/scanfollower.h"

namespace {

using Tables = std::map<std::string, std::vector<std::string>>;

// What the program tells before the scan of the set.
std::string WarningBefore(const std::string& path, int set) {
  CSQLServer2000 engine;
  uicore::ListBackupSets(engine, path);
  engine.m_nSelectedDataSet = set;
  return uicore::MissingBaseWarning(engine);
}

// A differential made from the 2000 Northwind's full set: the Eastern region renamed, the four
// regions added again under ids 101-104.
testsupport::DifferentialPages MakeDifferential(const std::string& fullPath, const std::string& databaseName = "") {
  testsupport::DifferentialEdit edit;
  edit.row = "Eastern";
  edit.renamed = "Oriente";
  edit.databaseName = databaseName;
  return testsupport::MakeDifferentialPages(fullPath, edit);
}

}  // namespace

TEST(Differential2000, ReadOverItsBaseFullSet) {
  testsupport::TempDir dir;
  const std::string fullPath = testsupport::Northwind2000Backup(dir);
  if (fullPath.empty()) GTEST_SKIP() << "fixtures not available";
  const testsupport::ScannedSet full = testsupport::ScanSet<CSQLServer2000>(fullPath, 1);
  ASSERT_TRUE(full.finished);
  ASSERT_EQ(full.tables.count("Region"), 1u);
  const std::vector<std::string> regions = full.tables.at("Region");
  ASSERT_EQ(regions.size(), 4u);

  testsupport::DifferentialPages d = MakeDifferential(fullPath);
  std::string file = d.full;
  backupwriter::AppendSet(file, backupwriter::kDifferentialBackup, 3, u"Northwind-Differential", d.pages);
  const std::string both = dir.file("full+diff.bak");
  testsupport::WriteFile(both, file);

  // The replaced pages: those of the first two extents that are in use, and the Region page
  // (the added page is new). The frame holds a second full set, of another database: the differential is set 3, and
  // its base is found by its database's name.
  const testsupport::ScannedSet diff = testsupport::ScanSet<CSQLServer2000>(both, 3);
  ASSERT_TRUE(diff.finished);
  EXPECT_NE(diff.log.find("Page census: differential backup set 3 read over its base, full backup set 1; "
                          "15 pages of the full backup replaced by the differential's"),
            std::string::npos)
      << diff.log;
  // Every table with its rows; Region with the changed row and the added ones.
  Tables expected = full.tables;
  std::vector<std::string>& region = expected.at("Region");
  for (std::string& row : region) {
    const size_t at = row.find("Eastern");
    if (at != std::string::npos) row.replace(at, 7, "Oriente");
  }
  for (const std::string& row : regions) region.push_back(std::to_string(std::stoi(row) + 100) + row.substr(row.find("$#$")));
  EXPECT_EQ(diff.tables, expected);
  EXPECT_EQ(WarningBefore(both, 3), "");
  // The full set reads as before.
  const testsupport::ScannedSet again = testsupport::ScanSet<CSQLServer2000>(both, 1);
  EXPECT_EQ(again.tables, full.tables);
  EXPECT_EQ(again.log.find("differential"), std::string::npos);
}

TEST(Differential2000, WithoutItsBaseTheChangedPagesAloneAreRead) {
  testsupport::TempDir dir;
  const std::string fullPath = testsupport::Northwind2000Backup(dir);
  if (fullPath.empty()) GTEST_SKIP() << "fixtures not available";
  struct Case {
    const char* what;
    bool withFull;
    const char* databaseName;  // the differential's, when not the full set's
  } cases[] = {{"no full set in the file", false, ""}, {"the full set is of another database", true, "Archive"}};
  for (const Case& c : cases) {
    testsupport::DifferentialPages d = MakeDifferential(fullPath, c.databaseName);
    std::string file = c.withFull ? d.full : std::string();
    backupwriter::AppendSet(file, backupwriter::kDifferentialBackup, 3, u"Northwind-Differential", d.pages);
    const std::string alone = dir.file("diff.bak");
    testsupport::WriteFile(alone, file);
    const int set = c.withFull ? 3 : 1;
    const testsupport::ScannedSet s = testsupport::ScanSet<CSQLServer2000>(alone, set);
    EXPECT_TRUE(s.finished) << c.what;
    EXPECT_NE(s.log.find("Page census: the base full backup of differential backup set " + std::to_string(set) +
                         " is missing: only the changed pages were read"),
              std::string::npos)
        << c.what;
    EXPECT_EQ(WarningBefore(alone, set), "Backup set " + std::to_string(set) +
                             " is a differential backup, and this file holds no full backup of its database to read "
                             "it over: only the pages it changed are read, so tables and rows may be missing.");
    // Nothing of the full set's is taken for the differential's.
    EXPECT_EQ(s.tables.count("Customers"), 0u) << c.what;
  }
}
