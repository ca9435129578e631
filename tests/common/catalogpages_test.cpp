#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/allocation.h"
#include "common/catalogpages.h"
#include "common/page.h"
#include "support/allocationpages.h"

namespace {

void Put16(std::vector<BYTE>& b, size_t at, WORD v) {
  b[at] = BYTE(v);
  b[at + 1] = BYTE(v >> 8);
}
void Put32(std::vector<BYTE>& b, size_t at, DWORD v) {
  for (int i = 0; i < 4; ++i) b[at + i] = BYTE(v >> (8 * i));
}

// A record of two ints and one variable entry: status A, fixed part 12, 3 columns.
std::vector<BYTE> Row(BYTE statusA) {
  std::vector<BYTE> r = {statusA, 0, 12, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 1, 0};
  const WORD end = WORD(r.size() + 2 + 3);
  r.push_back(BYTE(end));
  r.push_back(BYTE(end >> 8));
  r.insert(r.end(), {'a', 'b', 'c'});
  return r;
}

// A data page of system object `objectId` (header version 1, index id 1), page id `pageId`
// of file 1, linked to `prev` and `next`, holding `rows`.
std::vector<BYTE> CatalogPage(DWORD objectId, DWORD pageId, DWORD prev, DWORD next,
                              const std::vector<std::vector<BYTE>>& rows) {
  std::vector<BYTE> p(kPageSize, 0);
  p[0] = 1;
  p[1] = kPageData;
  Put16(p, 6, 1);
  Put32(p, 8, prev);
  Put16(p, 12, prev ? 1 : 0);
  Put32(p, 16, next);
  Put16(p, 20, next ? 1 : 0);
  Put32(p, 24, objectId);
  Put32(p, 32, pageId);
  Put16(p, 36, 1);
  size_t at = kPageHeaderSize;
  for (size_t i = 0; i < rows.size(); ++i) {
    std::memcpy(p.data() + at, rows[i].data(), rows[i].size());
    Put16(p, kPageSize - 2 * (i + 1), WORD(at));
    at += rows[i].size();
  }
  Put16(p, 22, WORD(rows.size()));
  Put16(p, 30, WORD(at));
  return p;
}

// A source of pages by page id, and the warnings one scan tells.
struct Source {
  std::map<DWORD, std::vector<BYTE>> pages;
  std::set<CatalogPageRef> told;
  std::vector<std::string> warnings;

  CCatalogPageCheck Check(DWORD objectId, const char* name) {
    return CCatalogPageCheck(objectId, name, told, [this](const std::string& w) { warnings.push_back(w); });
  }
  CCatalogPageCheck::ReadById Reader() {
    return [this](DWORD id, BYTE* buffer) {
      auto it = pages.find(id);
      if (it == pages.end()) return false;
      std::memcpy(buffer, it->second.data(), kPageSize);
      return true;
    };
  }
  // Walks the pages of `ids` as a catalog walk does; returns the rows it may read.
  int Walk(CCatalogPageCheck& check, const std::vector<DWORD>& ids) {
    int rows = 0;
    SlotWalkOptions options;
    options.skipPageAbove = 500;
    std::vector<int> failed;
    for (DWORD id : ids) {
      if (!check.Walked(pages.at(id).data(), options, failed)) continue;
      ForEachSlot(pages.at(id).data(), options, [&](int slot, WORD) {
        if (std::find(failed.begin(), failed.end(), slot) == failed.end()) ++rows;
        return true;
      });
    }
    check.Finish(1, false, Reader());
    return rows;
  }
};

TEST(CatalogPages, APageWhereACatalogPageShouldBeIsJudgedByItsHeader) {
  const CatalogPageRef at{1, 85};
  const std::vector<BYTE> good = CatalogPage(3, 85, 74, 91, {Row(0x30)});
  auto with = [&](size_t offset, BYTE value) {
    std::vector<BYTE> p = good;
    p[offset] = value;
    return p;
  };
  struct Case {
    const char* what;
    std::vector<BYTE> page;
    bool read;
    bool backup;
    std::string why;
  } cases[] = {
      {"a page of the table", good, true, false, ""},
      {"zeroed", std::vector<BYTE>(kPageSize, 0), true, false, "zeroed"},
      {"header version", with(0, 0x5A), true, false, "its header fails: header version 90"},
      {"another page id", with(32, 86), true, false, "its header gives page 1:86"},
      {"another file", with(36, 2), true, false, "its header gives page 2:85"},
      {"an IAM page", with(1, 10), true, false, "page type 10, not a data page"},
      {"another object", with(24, 4), true, false, "its header names object 4 index 1"},
      {"a nonclustered index's page", with(6, 2), true, false, "its header names object 3 index 2"},
      {"past the file", good, false, false, "it lies past the end of the file"},
      {"not in the backup", good, false, true, "the backup does not hold it"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WhyNotCatalogPage(c.page.data(), c.read, c.backup, at, 3), c.why) << c.what;
  EXPECT_EQ(CatalogPageWarning(at, "syscolumns", "zeroed"),
            "catalog page 1:85 (syscolumns) failed its checks (zeroed): its rows were not read");
}

TEST(CatalogPages, RecordsThatLeaveTheirPageOrAreNoDataRecordsFail) {
  std::vector<BYTE> longFixed = Row(0x30);
  longFixed[2] = 0xF0;  // F = 8176: the column count would lie in the slot array
  longFixed[3] = 0x1F;
  std::vector<BYTE> farEntry = Row(0x30);
  farEntry[17] = 0xFF;  // the variable entry would end past the page
  farEntry[18] = 0x7F;
  const std::vector<BYTE> page = CatalogPage(
      3, 85, 0, 0, {Row(0x30), Row(0x3C), Row(0x36), longFixed, Row(0x04), farEntry, Row(0x30)});
  std::vector<int> failed;
  EXPECT_EQ(CatalogRecordFailures(page.data(), SlotWalkOptions(), &failed), 7);
  // Slot 1 is a ghost and slot 4 a forwarding stub: both belong on a data page.
  EXPECT_EQ(failed, (std::vector<int>{2, 3, 5}));
}

TEST(CatalogPages, AMissingPageOfTheChainIsToldOnceWithItsTable) {
  Source s;
  s.pages[74] = CatalogPage(3, 74, 60, 85, {Row(0x30), Row(0x30)});
  s.pages[85] = std::vector<BYTE>(kPageSize, 0);  // zeroed: the census filed it nowhere
  s.pages[91] = CatalogPage(3, 91, 85, 299, {Row(0x30)});
  s.pages[299] = CatalogPage(3, 299, 91, 0, {Row(0x30)});
  // Page 60 is a page of the table the census set aside as free: nothing failed there.
  s.pages[60] = CatalogPage(3, 60, 0, 74, {Row(0x30)});
  CCatalogPageCheck check = s.Check(3, "syscolumns");
  EXPECT_EQ(s.Walk(check, {74, 91, 299}), 4);
  EXPECT_EQ(s.warnings, (std::vector<std::string>{
                            "catalog page 1:85 (syscolumns) failed its checks (zeroed): its rows were not read"}));

  // A later walk, or the first-page witness, that meets the page again tells nothing more.
  CCatalogPageCheck again = s.Check(3, "syscolumns");
  again.Expect({1, 85});
  again.Finish(1, false, s.Reader());
  EXPECT_EQ(s.warnings.size(), 1u);
}

// The links of the pages around a run of failed pages name its two ends only. The table's own
// allocation pages name the rest; a page they do not hold is never told, nor one of the
// table's own index pages. Without them one warning says where the chain breaks.
TEST(CatalogPages, ARunOfFailedPagesIsToldPageByPageWhereTheAllocationPagesHoldThem) {
  auto told = [](DWORD id) { return CatalogPageWarning({1, id}, "syscolumns", "zeroed"); };
  const std::string breaks =
      "the page chain of syscolumns breaks at failed catalog pages 1:85, 1:87: more of its pages may have been lost "
      "with them, and its allocation pages cannot say which or how many";
  using Ids = std::vector<DWORD>;
  using Texts = std::vector<std::string>;
  struct Case {
    const char* what;
    Ids zeroed;    // of the chain 74, 85, 86, 87, 91
    Ids held;      // by the table's allocation pages; empty: they cannot say
    bool expect;   // the first page its allocation row names (85) is expected
    Texts warnings;
  } cases[] = {
      {"three in a run, held", {85, 86, 87}, {17, 74, 85, 86, 87, 91}, false, {told(85), told(87), told(86)}},
      {"three in a run, no allocation pages", {85, 86, 87}, {}, false, {told(85), told(87), breaks}},
      // A witness that misses a page the walk read cannot speak for the others.
      {"three in a run, a walked page not held", {85, 86, 87}, {17, 74, 85, 86, 87}, false,
       {told(85), told(87), breaks}},
      {"two in a run: nothing lies between", {85, 86}, {17, 74, 85, 86, 87, 91}, false, {told(85), told(86)}},
      {"the last pages", {86, 87, 91}, {17, 74, 85, 86, 87, 91}, false, {told(86), told(87), told(91)}},
      // No page left to walk: the first page is found by its row, the others by the witness;
      // without it no chain is seen to break, the table may have had that page alone.
      {"every page, held", {74, 85, 86, 87, 91}, {17, 74, 85, 86, 87, 91}, true,
       {told(85), told(74), told(86), told(87), told(91)}},
      {"every page, no allocation pages", {74, 85, 86, 87, 91}, {}, true, {told(85)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Source s;
    const Ids chain = {74, 85, 86, 87, 91};
    Ids walk;
    for (size_t i = 0; i < chain.size(); ++i) {
      const DWORD id = chain[i];
      if (std::find(c.zeroed.begin(), c.zeroed.end(), id) != c.zeroed.end()) {
        s.pages[id] = std::vector<BYTE>(kPageSize, 0);
        continue;
      }
      s.pages[id] = CatalogPage(3, id, i ? chain[i - 1] : 0, i + 1 < chain.size() ? chain[i + 1] : 0, {Row(0x30)});
      walk.push_back(id);
    }
    // The root of the clustered index is the table's too, and no failure.
    s.pages[17] = CatalogPage(3, 17, 0, 0, {});
    s.pages[17][1] = 2;
    // Page 88 is zeroed as well, but not the table's: never told.
    s.pages[88] = std::vector<BYTE>(kPageSize, 0);
    CCatalogPageCheck check = s.Check(3, "syscolumns");
    SlotWalkOptions options;
    std::vector<int> failed;
    for (DWORD id : walk) check.Walked(s.pages.at(id).data(), options, failed);
    if (c.expect) check.Expect({1, 85});
    int asked = 0;
    const Ids held = c.held;
    auto witness = [&] {
      ++asked;
      return held;
    };
    check.Finish(1, false, s.Reader(), false, witness);
    EXPECT_EQ(s.warnings, c.warnings);
    // Told once: a later finish of the same walk adds nothing.
    check.Finish(1, false, s.Reader(), false, witness);
    EXPECT_EQ(s.warnings.size(), c.warnings.size());
    EXPECT_GT(asked, 0);
  }
  // A chain whose every break is one page is told by its links alone: the allocation pages
  // are not asked.
  Source s;
  s.pages[74] = CatalogPage(3, 74, 0, 85, {Row(0x30)});
  s.pages[85] = std::vector<BYTE>(kPageSize, 0);
  s.pages[91] = CatalogPage(3, 91, 85, 0, {Row(0x30)});
  CCatalogPageCheck check = s.Check(3, "syscolumns");
  SlotWalkOptions options;
  std::vector<int> failed;
  for (DWORD id : {74u, 91u}) check.Walked(s.pages.at(id).data(), options, failed);
  bool asked = false;
  check.Finish(1, false, s.Reader(), false, [&] {
    asked = true;
    return std::vector<DWORD>{};
  });
  EXPECT_FALSE(asked);
  EXPECT_EQ(s.warnings, (Texts{told(85)}));
}

// The pages a system table's allocation pages hold: its heap's or clustered index's IAM pages
// name them (in a single-page slot or by an extent), and the PFS marks them in use.
TEST(CatalogPages, ATablesPagesAreTheOnesItsAllocationPagesHoldInUse) {
  // In use: 16..20, 40..42 and 48; page 43 and the rest of extent 5 (40..47) are free.
  const allocpages::Page pfs =
      allocpages::Pfs(1, [](DWORD i) { return (i >= 16 && i <= 20) || (i >= 40 && i <= 42) || i == 48; });
  CAllocationEvidence evidence;
  evidence.AddPage(pfs.data(), 1);
  const std::pair<allocpages::Page, INT64> iams[] = {
      {allocpages::Iam(10, {16, 17, 20}, {5}, 0, 1, 3, 1), 10},  // syscolumns' clustered index
      {allocpages::Iam(11, {18}, {}, 0, 1, 3, 2), 11},           // a nonclustered index of it
      {allocpages::Iam(12, {19}, {6}, 0, 1, 4, 1), 12},          // another system table
      {allocpages::Iam(13, {20}, {}, 0, 1, 5, 0), 13},           // claims page 20 as well
  };
  for (const auto& [page, at] : iams) evidence.AddPage(page.data(), at);
  evidence.Finish();
  EXPECT_EQ(CatalogPagesHeld(evidence, 1, 3, 64), (std::vector<DWORD>{16, 17, 40, 41, 42}));
  EXPECT_EQ(CatalogPagesHeld(evidence, 1, 4, 64), (std::vector<DWORD>{19, 48}));
  EXPECT_EQ(CatalogPagesHeld(evidence, 1, 3, 41), (std::vector<DWORD>{16, 17, 40}));
  EXPECT_TRUE(CatalogPagesHeld(evidence, 2, 3, 64).empty());
}

TEST(CatalogPages, AnOnlyPageIsFoundByTheFirstPageItsRowNames) {
  Source s;
  // An unknown system table is named by its id; a link to another file is not followed.
  s.pages[28] = CatalogPage(4, 28, 0, 0, {Row(0x30)});
  s.pages[28][0] = 7;
  CCatalogPageCheck check = s.Check(4, nullptr);
  check.Finish(1, false, s.Reader());
  EXPECT_TRUE(s.warnings.empty());
  check.Expect({1, 28});
  check.Expect({2, 5});
  check.Expect({1, 0});
  check.Finish(1, false, s.Reader());
  EXPECT_EQ(s.warnings, (std::vector<std::string>{"catalog page 1:28 (object 4) failed its checks (its header fails: "
                                                  "header version 7): its rows were not read"}));
}

TEST(CatalogPages, AWalkedPageWhoseRecordsFailIsToldAndTheyAreNotRead) {
  Source s;
  std::vector<BYTE> bad = Row(0x30);
  bad[2] = 2;  // F below the record header
  s.pages[16] = CatalogPage(7, 16, 0, 130, {Row(0x30), bad, Row(0x30)});
  s.pages[130] = CatalogPage(7, 130, 16, 131, {bad, bad});
  s.pages[131] = CatalogPage(7, 131, 130, 0, {Row(0x30)});
  Put16(s.pages[131], 22, 600);  // more slots than the walk reads
  CCatalogPageCheck check = s.Check(7, "sysallocunits");
  EXPECT_EQ(s.Walk(check, {16, 130, 131}), 2);
  EXPECT_EQ(s.warnings,
            (std::vector<std::string>{
                "catalog page 1:16 (sysallocunits) failed its checks (1 of 3 records fail their header checks): "
                "those rows were not read",
                "catalog page 1:130 (sysallocunits) failed its checks (every record fails its header checks): its "
                "rows were not read",
                "catalog page 1:131 (sysallocunits) failed its checks (slot count 600, more than the 500 its rows "
                "can take): its rows were not read"}));
}

TEST(CatalogPages, ABackupPageIsFoundThroughItsExtent) {
  // Pages 400..407 lie at stream places 40..47, but page 404 is zeroed and names no id.
  std::map<DWORD, DWORD> known = {{400, 40}, {403, 43}, {405, 45}, {16, 3}};
  auto locate = [&](DWORD id, DWORD& at) {
    auto it = known.find(id);
    if (it == known.end()) return false;
    at = it->second;
    return true;
  };
  DWORD index = 0;
  ASSERT_TRUE(LocateThroughExtent(403, locate, index));
  EXPECT_EQ(index, 43u);
  ASSERT_TRUE(LocateThroughExtent(404, locate, index));
  EXPECT_EQ(index, 44u);
  ASSERT_TRUE(LocateThroughExtent(407, locate, index));
  EXPECT_EQ(index, 47u);
  EXPECT_FALSE(LocateThroughExtent(130, locate, index));
  // Page 17 is in the extent of page 16 (16..23): one place on.
  ASSERT_TRUE(LocateThroughExtent(17, locate, index));
  EXPECT_EQ(index, 4u);
}

}  // namespace
