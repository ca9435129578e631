// A 2000-format scan reopened from its file finds its rows again where the scan found them:
// in the chosen set of the backup it names (located as Recover locates it, its text pages
// indexed as the census indexes them), or in the database file itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/backupreader.h"
#include "common/page.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "support/backupwrap.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "ui/core/openscan.h"

namespace {

using testsupport::ModuleFolderScope;
using testsupport::TempDir;

constexpr size_t kPage = 8192;

struct Scanned {
  std::vector<std::string> rows;
  std::string scanFile;
};

// Scans set `set` of `source` with the 2000 engine, keeps every row of `table` and saves the
// scan beside the source.
Scanned ScanAndSave(const TempDir& dir, const std::string& source, int set, const std::string& table) {
  Scanned s;
  CSQLServer2000 engine;
  testsupport::RecoveryOptions options;
  options.selectedSet = set;
  EXPECT_TRUE(testsupport::RunRecovery(engine, source, options).finished);
  CTable* t = testsupport::FindTable(engine, table);
  EXPECT_NE(t, nullptr) << table;
  if (t) s.rows = testsupport::AllRows(engine, t);
  s.scanFile = dir.file("scan" + std::to_string(set) + ".str");
  EXPECT_TRUE(engine.SaveScanFile(s.scanFile.c_str()));
  return s;
}

// The pubs image with the text page of one pr_info value moved to the end of the file and
// the page there moved into its place. In a real backup the stream leaves out unallocated extents, so a
// text page seldom lies at its page id; this puts one elsewhere on purpose.
std::string WithATextPageOutOfPlace(std::string image) {
  const size_t pages = image.size() / kPage;
  for (size_t p = 0; p + 1 < pages; ++p) {
    const BYTE* page = reinterpret_cast<const BYTE*>(image.data() + p * kPage);
    if (PageTypeOf(page) != kPageTextMix ||
        std::string_view(image.data() + p * kPage, kPage).find("publisher 1756 in the pubs") == std::string::npos)
      continue;
    std::swap_ranges(image.begin() + long(p * kPage), image.begin() + long((p + 1) * kPage),
                     image.begin() + long((pages - 1) * kPage));
    return image;
  }
  return std::string();
}

}  // namespace

TEST(PageSource2000, AReopenedBackupScanReadsTheChosenSet) {
  REQUIRE_FIXTURE(frame, "bak2005_stdb2sql_2sets.bak");
  REQUIRE_FIXTURE(northwind, "sample2000_NORTHWND.MDF");
  REQUIRE_FIXTURE(pubs, "sample2000_PUBS.MDF");
  ModuleFolderScope scope;
  TempDir dir;
  const std::string moved = WithATextPageOutOfPlace(testsupport::ReadFile(pubs));
  ASSERT_FALSE(moved.empty());
  std::string wrapped, error;
  ASSERT_TRUE(testsupport::WrapPagesInBackup(testsupport::ReadFile(frame),
                                             {testsupport::ReadFile(northwind), moved}, wrapped, &error))
      << error;
  const std::string backup = dir.file("nwpubs.bak");
  testsupport::WriteFile(backup, wrapped);
  // pub_info keeps its pr_info text and its logo image off the row.
  const Scanned scanned = ScanAndSave(dir, backup, 2, "pub_info");
  ASSERT_EQ(scanned.rows.size(), 8u);
  ASSERT_NE(scanned.rows[0].find("This is sample text data for"), std::string::npos);

  struct Case {
    int answer;  // of the set dialog
    bool ready;
  } cases[] = {{-1, false}, {2, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    uicore::OpenScanResult opened = uicore::OpenScanFile(scanned.scanFile);
    ASSERT_TRUE(opened.Loaded()) << opened.message;
    EXPECT_EQ(opened.version, "2000");
    CSQLServer& engine = *opened.engine;
    CTable* table = testsupport::FindTable(engine, "pub_info");
    ASSERT_NE(table, nullptr);
    // Before its set is located the engine does not take the tape blocks for pages.
    EXPECT_TRUE(testsupport::AllRows(engine, table).empty());
    int listed = 0;
    const uicore::PageSourceCheck check = uicore::AttachPageSource(engine, [&](const CBackupReader& reader) {
      listed = reader.m_nStreamCount;
      return c.answer;
    });
    EXPECT_EQ(listed, 2);
    EXPECT_EQ(check.ready, c.ready);
    if (!c.ready) {
      EXPECT_EQ(check.message, std::string(uicore::kRowsNeedBackup) + backup + ".");
      EXPECT_TRUE(testsupport::AllRows(engine, table).empty());
      continue;
    }
    EXPECT_EQ(testsupport::AllRows(engine, table), scanned.rows);
    // Located once: the next preview asks nothing.
    EXPECT_TRUE(uicore::AttachPageSource(engine, [&](const CBackupReader&) { return ++listed, -1; }).ready);
    EXPECT_EQ(listed, 2);
  }

  // Located without its text pages indexed, the moved page's values are not found: the
  // index is what finds them above.
  uicore::OpenScanResult bare = uicore::OpenScanFile(scanned.scanFile);
  ASSERT_TRUE(bare.Loaded());
  auto* engine = dynamic_cast<CSQLServer2000*>(bare.engine.get());
  ASSERT_NE(engine, nullptr);
  engine->ScanDataSets();
  engine->m_nSelectedDataSet = 2;
  engine->LocateDataSet();
  ASSERT_TRUE(engine->HasPageSource());
  const std::vector<std::string> unindexed = testsupport::AllRows(*engine, testsupport::FindTable(*engine, "pub_info"));
  ASSERT_EQ(unindexed.size(), scanned.rows.size());
  const auto ramona = [](const std::vector<std::string>& rows) {
    for (const std::string& row : rows)
      if (row.rfind("1756$#$", 0) == 0) return row;
    return std::string();
  };
  EXPECT_NE(ramona(scanned.rows).find("Ramona Publishers is located in Dallas"), std::string::npos);
  EXPECT_EQ(ramona(unindexed).find("Ramona Publishers"), std::string::npos);
}

TEST(PageSource2000, AReopenedDatabaseFileScanReadsTheFileWhileItIsThere) {
  REQUIRE_FIXTURE(northwind, "sample2000_NORTHWND.MDF");
  ModuleFolderScope scope;
  TempDir dir;
  const std::string link = dir.file("NORTHWND.MDF");
  std::filesystem::create_symlink(northwind, link);
  const Scanned scanned = ScanAndSave(dir, link, 1, "Customers");
  ASSERT_EQ(scanned.rows.size(), 91u);

  uicore::OpenScanResult opened = uicore::OpenScanFile(scanned.scanFile);
  ASSERT_TRUE(opened.Loaded());
  bool asked = false;
  const uicore::ChooseSet choose = [&](const CBackupReader&) { return asked = true, 1; };
  ASSERT_TRUE(uicore::AttachPageSource(*opened.engine, choose).ready);
  EXPECT_FALSE(asked);
  EXPECT_EQ(testsupport::AllRows(*opened.engine, testsupport::FindTable(*opened.engine, "Customers")), scanned.rows);

  std::filesystem::remove(link);
  const uicore::PageSourceCheck gone = uicore::AttachPageSource(*opened.engine, choose);
  EXPECT_FALSE(gone.ready);
  EXPECT_EQ(gone.message, std::string(uicore::kRowsNeedBackup) + link + ".");
}
