// A differential backup set is read over its base full set, as a restore lays it: the full
// set's pages with the differential's laid over them by page id. The differential here is
// made from a real full backup: the first two extents, one data page with a changed row and
// one added data page, with the PFS page that allocates it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/backupreader.h"
#include "common/page.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/allocationpages.h"
#include "support/backupwriter.h"
#include "support/differentialsets.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"


namespace {

using Tables = std::map<std::string, std::vector<std::string>>;

// A differential made from the full set of bak2008_library_small.bak: an Authors row changed,
// four Authors rows added.
testsupport::DifferentialPages MakeDifferential(const std::string& path, const std::string& databaseName = "") {
  testsupport::DifferentialEdit edit;
  edit.row = "Author 2";
  edit.renamed = "Writer 2";
  edit.addedFrom = "Author";
  edit.addedTo = "Second";
  edit.databaseName = databaseName;
  edit.seal = [](std::vector<BYTE>& page) { allocpages::Checksum(page); };
  return testsupport::MakeDifferentialPages(path, edit);
}

}  // namespace

TEST(Differential, ReadOverItsBaseFullSet) {
  REQUIRE_FIXTURE(path, "bak2008_library_small.bak");
  testsupport::TempDir dir;
  const testsupport::ScannedSet full = testsupport::ScanSet<CSQLServer2008>(path, 1);
  ASSERT_TRUE(full.finished);
  ASSERT_EQ(full.tables.count("Authors"), 1u);
  ASSERT_EQ(full.tables.at("Authors").size(), 4u);

  testsupport::DifferentialPages d = MakeDifferential(path);
  std::string file = d.full;
  backupwriter::AppendSet(file, backupwriter::kDifferentialBackup, 2, u"Library-Differential", d.pages);
  const std::string both = dir.file("full+diff.bak");
  testsupport::WriteFile(both, file);

  const testsupport::ScannedSet diff = testsupport::ScanSet<CSQLServer2008>(both, 2);
  ASSERT_TRUE(diff.finished);
  EXPECT_EQ(diff.sets, 2);
  EXPECT_NE(diff.log.find("Page census: differential backup set 2 read over its base, full backup set 1; "
                          "15 pages of the full backup replaced by the differential's"),
            std::string::npos);
  // Every table with its name and rows; Authors with the changed row and the added ones.
  Tables expected = full.tables;
  std::vector<std::string>& authors = expected.at("Authors");
  for (std::string& row : authors) {
    const size_t at = row.find("Author 2");
    if (at != std::string::npos) row.replace(at, 8, "Writer 2");
  }
  for (const std::string& row : full.tables.at("Authors")) {
    std::string extra = std::to_string(std::stoi(row) + 100) + row.substr(row.find("$#$"));
    extra.replace(extra.find("Author"), 6, "Second");
    authors.push_back(extra);
  }
  EXPECT_EQ(diff.tables, expected);
  // The full set reads as before.
  const testsupport::ScannedSet again = testsupport::ScanSet<CSQLServer2008>(both, 1);
  EXPECT_EQ(again.tables, full.tables);
  EXPECT_EQ(again.log.find("differential"), std::string::npos);
}

TEST(Differential, WithoutItsBaseTheChangedPagesAloneAreRead) {
  REQUIRE_FIXTURE(path, "bak2008_library_small.bak");
  testsupport::TempDir dir;
  struct Case {
    const char* what;
    bool withFull;
    const char* databaseName;  // the differential's, when not the full set's
  } cases[] = {{"no full set in the file", false, ""}, {"the full set is of another database", true, "Archive"}};
  for (const Case& c : cases) {
    testsupport::DifferentialPages d = MakeDifferential(path, c.databaseName);
    std::string file = c.withFull ? d.full : std::string();
    backupwriter::AppendSet(file, backupwriter::kDifferentialBackup, 2, u"Library-Differential", d.pages);
    const std::string alone = dir.file("diff.bak");
    testsupport::WriteFile(alone, file);
    const int set = c.withFull ? 2 : 1;
    const testsupport::ScannedSet s = testsupport::ScanSet<CSQLServer2008>(alone, set);
    EXPECT_TRUE(s.finished) << c.what;
    EXPECT_NE(s.log.find("Page census: the base full backup of differential backup set " + std::to_string(set) +
                         " is missing: only the changed pages were read"),
              std::string::npos)
        << c.what;
    // Only the pages it holds: no catalog, so no table; and nothing of the full set's.
    EXPECT_TRUE(s.tables.empty()) << c.what;
  }
}

// Real differentials written by SQL Server 2012, of two databases, with no full set.
TEST(Differential, RealDifferentialsWithoutTheirBase) {
  REQUIRE_FIXTURE(path, "bak2012_diff_6sets_2dbs.bak");
  for (int set = 1; set <= 6; ++set) {
    const testsupport::ScannedSet s = testsupport::ScanSet<CSQLServer2008>(path, set);
    EXPECT_TRUE(s.finished) << set;
    EXPECT_EQ(s.sets, 6);
    EXPECT_NE(s.log.find("Page census: the base full backup of differential backup set " + std::to_string(set) +
                         " is missing"),
              std::string::npos)
        << set;
    EXPECT_NE(s.log.find("Parse Complete"), std::string::npos) << set;
  }
}
