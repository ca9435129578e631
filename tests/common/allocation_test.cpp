#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/allocation.h"
#include "common/page.h"
#include "support/allocationpages.h"
#include "support/fixtures.h"

using allocpages::Page;
using Verdict = CAllocationEvidence::Verdict;

namespace {

// Pages 0-19, 24-29 and 31 in use; 20-23, 30 and everything from 32 on free.
bool InUse(DWORD i) { return i < 20 || (i >= 24 && i <= 29) || i == 31; }

struct Placed {
  Page page;
  INT64 number;  // place in a plain file, or kInsideBackup
};

CAllocationEvidence Evidence(const std::vector<Placed>& pages) {
  CAllocationEvidence e;
  for (const Placed& p : pages) e.AddPage(p.page.data(), p.number);
  e.Finish();
  return e;
}

}  // namespace

TEST(PageProtection, ChecksumAndTornBits) {
  Page plain = allocpages::Pfs(1, InUse);
  Page summed = plain;
  allocpages::Checksum(summed);
  Page torn = plain;
  allocpages::TornBits(torn);
  auto changed = [](Page p, size_t at, BYTE value) {
    p[at] = value;
    return p;
  };
  auto pattern = [](Page p, DWORD word) {
    allocpages::Put(p.data(), 60, word, 4);
    return p;
  };
  struct Case {
    const char* what;
    Page page;
    bool intact;
  } cases[] = {
      {"no protection", plain, true},
      {"checksum", summed, true},
      {"checksum, one body byte changed", changed(summed, 4000, 0x41), false},
      {"checksum, body zeroed", [&] { Page p = summed; std::fill(p.begin() + 96, p.end(), 0); return p; }(), false},
      {"torn bits", torn, true},
      {"torn bits, one sector end differs", changed(torn, 512 * 7 + 511, BYTE(torn[512 * 7 + 511] ^ 3)), false},
      {"torn bits, body zeroed", [&] { Page p = torn; std::fill(p.begin() + 96, p.end(), 0); return p; }(), false},
      {"torn pattern 00", pattern(torn, ReadU32(torn.data() + 60) & ~3u), false},
  };
  for (const Case& c : cases) EXPECT_EQ(PageProtectionIntact(c.page.data()), c.intact) << c.what;
}

// The checksum as SQL Server computes it: every page that says it carries one, in a real file.
TEST(PageProtection, ChecksumsOfARealDataFile) {
  REQUIRE_FIXTURE(path, "mdf2008_northwnd_itsligo.mdf");
  const std::string bytes = testsupport::ReadFile(path);
  int checked = 0;
  for (size_t at = 0; at + kPageSize <= bytes.size(); at += kPageSize) {
    const BYTE* page = reinterpret_cast<const BYTE*>(bytes.data() + at);
    if (!(PageFlagBits(page) & 0x200)) continue;
    ++checked;
    EXPECT_EQ(PageChecksum(page), PageTornBits(page)) << "page " << at / kPageSize;
  }
  EXPECT_GT(checked, 300);
}

TEST(AllocationEvidence, FreeOnlyWhenPfsAndIamAgree) {
  const Page pfs = allocpages::Pfs(1, InUse);
  // Unit A holds 16 and 17 in single-page slots and owns extent 3 (pages 24-31).
  const Page iam = allocpages::Iam(10, {16, 17}, {3});
  struct Case {
    const char* what;
    std::vector<Placed> pages;
    std::vector<std::pair<DWORD, Verdict>> expect;
  } cases[] = {
      {"both agree",
       {{pfs, 1}, {iam, 10}},
       {{18, Verdict::kInUse},
        {21, Verdict::kFree},    // no IAM page holds it or owns its extent
        {30, Verdict::kFree},    // in an owned extent whose other pages are in use
        {5000, Verdict::kFree},
        {9000, Verdict::kNoPfs}}},  // beyond the PFS page's interval
      {"order of the pages does not matter", {{iam, 10}, {pfs, 1}}, {{21, Verdict::kFree}, {18, Verdict::kInUse}}},
      {"no IAM page", {{pfs, 1}}, {{21, Verdict::kNoIam}, {18, Verdict::kInUse}}},
      {"no PFS page", {{iam, 10}}, {{21, Verdict::kNoPfs}}},
      {"an IAM page holds a page the PFS shows free",
       {{pfs, 1}, {allocpages::Iam(10, {16, 21}, {3}), 10}},
       {{21, Verdict::kPfsContradicted}, {30, Verdict::kPfsContradicted}, {18, Verdict::kInUse}}},
      {"an IAM page owns an extent the PFS shows wholly free",
       {{pfs, 1}, {allocpages::Iam(10, {}, {3, 700}), 10}},  // pages 5600-5607
       {{21, Verdict::kPfsContradicted}}},
      {"every allocated bit lost",
       {{allocpages::Pfs(1, [](DWORD) { return false; }), 1}, {iam, 10}},
       {{18, Verdict::kPfsContradicted}, {21, Verdict::kPfsContradicted}}},
      {"the only IAM page zeroed", {{pfs, 1}, {Page(kPageSize, 0), 10}}, {{21, Verdict::kNoIam}}},
      {"a PFS page at the wrong place of a plain file", {{pfs, 2}, {iam, 10}}, {{21, Verdict::kNoPfs}}},
      {"a PFS page whose id no PFS page has", {{allocpages::Pfs(2, InUse), 2}, {iam, 10}}, {{21, Verdict::kNoPfs}}},
      {"inside a backup a page's place is not its id",
       {{pfs, CAllocationEvidence::kInsideBackup}, {iam, CAllocationEvidence::kInsideBackup}},
       {{21, Verdict::kFree}}},
      {"the PFS page of another file", {{allocpages::Pfs(1, InUse, 2), 1}, {iam, 10}}, {{21, Verdict::kNoPfs}}},
  };
  for (const Case& c : cases) {
    CAllocationEvidence e = Evidence(c.pages);
    for (const auto& [page, verdict] : c.expect) EXPECT_EQ(int(e.Judge(1, page)), int(verdict)) << c.what << ", page " << page;
  }
}

TEST(AllocationEvidence, DamagedAllocationPagesAreNoEvidence) {
  Page summedPfs = allocpages::Pfs(1, InUse);
  allocpages::Checksum(summedPfs);
  Page zeroedBody = summedPfs;
  std::fill(zeroedBody.begin() + 96, zeroedBody.end(), 0);
  Page tornPfs = allocpages::Pfs(1, InUse);
  allocpages::TornBits(tornPfs);
  Page tornZeroed = tornPfs;
  std::fill(tornZeroed.begin() + 96, tornZeroed.end(), 0);
  Page iam = allocpages::Iam(10, {16, 17}, {3});
  Page misplacedHeader = iam;
  allocpages::Put(misplacedHeader.data(), kPageSize - 2, 120, 2);  // slot 0 not at 96
  Page badStart = allocpages::Iam(10, {16, 17}, {3}, 4096);          // not an interval start
  struct Case {
    const char* what;
    std::vector<Placed> pages;
    Verdict page21;
    int rejectedPfs, rejectedIam;
  } cases[] = {
      {"checksummed PFS page", {{summedPfs, 1}, {iam, 10}}, Verdict::kFree, 0, 0},
      {"checksummed PFS page, body zeroed", {{zeroedBody, 1}, {iam, 10}}, Verdict::kNoPfs, 1, 0},
      {"torn-page PFS page", {{tornPfs, 1}, {iam, 10}}, Verdict::kFree, 0, 0},
      {"torn-page PFS page, body zeroed", {{tornZeroed, 1}, {iam, 10}}, Verdict::kNoPfs, 1, 0},
      {"IAM page whose header record is elsewhere", {{summedPfs, 1}, {misplacedHeader, 10}}, Verdict::kNoIam, 0, 1},
      {"IAM page mapping no interval start", {{summedPfs, 1}, {badStart, 10}}, Verdict::kNoIam, 0, 1},
  };
  for (const Case& c : cases) {
    CAllocationEvidence e = Evidence(c.pages);
    EXPECT_EQ(int(e.Judge(1, 21)), int(c.page21)) << c.what;
    EXPECT_EQ(e.RejectedPfsPages(), c.rejectedPfs) << c.what;
    EXPECT_EQ(e.RejectedIamPages(), c.rejectedIam) << c.what;
  }
}

TEST(AllocationEvidence, LaterIntervalsAndTheLastPfsPageOfAnInterval) {
  // The second PFS page (id 8088) covers 8088-16175; inside a backup a later copy of a PFS
  // page replaces an earlier one.
  const Page second = allocpages::Pfs(8088, [](DWORD i) { return i != 2; });
  const Page secondAllFree = allocpages::Pfs(8088, [](DWORD) { return false; });
  const Page iam = allocpages::Iam(10, {}, {});
  const INT64 b = CAllocationEvidence::kInsideBackup;
  CAllocationEvidence e = Evidence({{secondAllFree, b}, {second, b}, {iam, b}});
  EXPECT_EQ(int(e.Judge(1, 8090)), int(Verdict::kFree));
  EXPECT_EQ(int(e.Judge(1, 8091)), int(Verdict::kInUse));
  EXPECT_EQ(int(e.Judge(1, 100)), int(Verdict::kNoPfs));
  // An IAM page of the second 511232-page interval maps nothing of the first.
  CAllocationEvidence far = Evidence({{second, b}, {allocpages::Iam(10, {}, {}, 511232), b}});
  EXPECT_EQ(int(far.Judge(1, 8090)), int(Verdict::kNoIam));
}

TEST(AllocationEvidence, LogLinesSayWhatWasSetAsideAndWhy) {
  CAllocationEvidence e = Evidence({{allocpages::Pfs(1, InUse), 1},
                                    {allocpages::Iam(10, {16, 17}, {3}), 10},
                                    {allocpages::Pfs(8088, [](DWORD) { return false; }), 8088},
                                    {allocpages::Iam(12, {8100}, {}), 12},
                                    {Page(allocpages::Header(11, 16176)), 16000}});
  for (DWORD page : {18u, 21u, 22u, 30u, 8090u, 20000u}) e.SetAside(1, page);
  EXPECT_EQ(e.Count(Verdict::kFree), 3);
  EXPECT_EQ(e.Count(Verdict::kInUse), 1);
  EXPECT_EQ(e.KeptAgainstPfs(), 1);
  std::string all;
  for (const CString& line : e.LogLines()) all += line.str() + "\n";
  EXPECT_EQ(all,
            "Page census: 1 PFS and 0 IAM pages failed their own checks and are no evidence of allocation\n"
            "Page census: PFS page 1:8088 contradicts the IAM pages on 1 pages and is no evidence of allocation\n"
            "Page census: 3 data pages set aside: free by their PFS byte and by the IAM pages\n"
            "Page census: 1 data pages kept although their PFS byte says free: their PFS page contradicts the IAM pages\n"
            "Page census: 1 data pages kept: no PFS page that passed its checks covers them\n");
  CAllocationEvidence quiet = Evidence({{allocpages::Pfs(1, InUse), 1}});
  quiet.SetAside(1, 5);
  EXPECT_TRUE(quiet.LogLines().empty());
}

TEST(AllocationEvidence, OwnerIsTheUnitWhoseIamPagesHoldThePage) {
  using Owners = CAllocationEvidence::Owners;
  using Unit = CAllocationEvidence::IamUnit;
  // Unit (1, 34) holds pages 16 and 17 in single-page slots and extent 3 (pages 24-31); unit
  // (256, 46) holds page 40 and extent 6 (pages 48-55). Pages 20-23 and 30 are free.
  const Page system = allocpages::Iam(10, {16, 17}, {3}, 0, 1, 34, 1);
  const Page user = allocpages::Iam(12, {40}, {6}, 0, 1, 46, 256);
  // A damaged IAM page of another unit that also claims page 17 and extent 6.
  const Page rival = allocpages::Iam(14, {17}, {6}, 0, 1, 50, 256);
  struct Case {
    const char* what;
    std::vector<Placed> pages;
    DWORD page;
    Owners owners;
    Unit unit;
    bool inUse;  // InUseOwner answers
  } cases[] = {
      {"single-page slot", {{allocpages::Pfs(1, InUse), 1}, {system, 10}, {user, 12}}, 16, Owners::kOne, {1, 34}, true},
      {"owned extent", {{allocpages::Pfs(1, InUse), 1}, {system, 10}, {user, 12}}, 27, Owners::kOne, {1, 34}, true},
      {"another unit's extent", {{allocpages::Pfs(1, InUse), 1}, {system, 10}, {user, 12}}, 55, Owners::kOne, {256, 46}, true},
      // A free page of an owned extent is a stale page of whatever unit its header names.
      {"free page of an owned extent", {{allocpages::Pfs(1, InUse), 1}, {system, 10}}, 30, Owners::kOne, {1, 34}, false},
      {"no IAM page holds it", {{allocpages::Pfs(1, InUse), 1}, {system, 10}, {user, 12}}, 18, Owners::kNone, {}, false},
      {"the same unit twice is one answer", {{system, 10}, {system, 10}}, 17, Owners::kOne, {1, 34}, true},
      {"two units claim the slot", {{system, 10}, {rival, 14}}, 17, Owners::kMany, {}, false},
      {"two units claim the extent", {{user, 12}, {rival, 14}}, 50, Owners::kMany, {}, false},
      {"an IAM page that failed its checks", {{allocpages::Iam(10, {16}, {}, 4096, 1, 34, 1), 10}}, 16, Owners::kNone, {},
       false},
  };
  for (const Case& c : cases) {
    CAllocationEvidence e = Evidence(c.pages);
    Unit unit{7, 7};
    EXPECT_EQ(int(e.OwnerOf(1, c.page, unit)), int(c.owners)) << c.what;
    if (c.owners == Owners::kOne) EXPECT_TRUE(unit == c.unit) << c.what << ": " << unit.indexId << "/" << unit.objectId;
    EXPECT_EQ(e.InUseOwner(1, c.page, unit), c.inUse) << c.what;
    // Another file's page of the same number is no unit's.
    EXPECT_EQ(int(e.OwnerOf(2, c.page, unit)), int(Owners::kNone)) << c.what;
  }
}

// Where no PFS page is left, the leaf chain of an index says which of its pages are in use:
// only one whole chain the unit's IAM pages hold decides, and it decides against every leaf
// page outside it.
TEST(PageChain, OnlyOneWholeChainHeldByTheIamPagesDecides) {
  // (page, prev, next) in file 1, every page a leaf; `held` lists the pages the IAM pages hold
  // (all when empty).
  struct Link {
    DWORD page, prev, next;
  };
  struct Case {
    const char* what;
    std::vector<Link> links;
    std::vector<DWORD> unheld;
    bool decided;
    std::vector<DWORD> outside;
  } cases[] = {
      {"a freed page linked from the chain's old end (the chain now ends before it)",
       {{10, 0, 11}, {11, 10, 12}, {12, 11, 0}, {13, 12, 14}}, {}, true, {13}},
      {"a freed page of a chain of one page", {{10, 0, 0}, {20, 7, 21}}, {}, true, {20}},
      {"a heap: every page a chain of its own", {{10, 0, 0}, {11, 0, 0}, {12, 0, 0}}, {}, false, {}},
      {"a chain broken by a lost page", {{10, 0, 11}, {11, 10, 12}, {13, 12, 0}}, {}, false, {}},
      {"a link one end does not agree on", {{10, 0, 11}, {11, 9, 0}}, {}, false, {}},
      {"an old and a new chain, both held", {{10, 0, 11}, {11, 10, 0}, {20, 0, 21}, {21, 20, 0}}, {}, false, {}},
      {"an old chain in extents no IAM page holds", {{10, 0, 11}, {11, 10, 0}, {20, 0, 21}, {21, 20, 0}}, {20, 21},
       true, {20, 21}},
      {"a cycle", {{10, 0, 11}, {11, 10, 12}, {12, 11, 11}}, {}, false, {}},
      {"one place met twice", {{10, 0, 11}, {11, 10, 0}, {11, 10, 0}}, {}, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<ChainLinks> pages;
    for (const Link& l : c.links) {
      Page p(kPageSize, 0);  // level 0: a leaf
      auto put = [&](size_t at, DWORD id) {
        p[at] = BYTE(id);
        p[at + 1] = BYTE(id >> 8);
        p[at + 2] = BYTE(id >> 16);
        p[at + 3] = BYTE(id >> 24);
        p[at + 4] = id ? 1 : 0;  // file 1
      };
      put(8, l.prev);
      put(16, l.next);
      const bool held = std::find(c.unheld.begin(), c.unheld.end(), l.page) == c.unheld.end();
      pages.push_back(ChainLinksOf(p.data(), 1, l.page, held));
    }
    std::vector<bool> outside;
    EXPECT_EQ(LeafPagesOutsideTheChain(pages, outside), c.decided);
    ASSERT_EQ(outside.size(), pages.size());
    std::vector<DWORD> got;
    for (size_t i = 0; i < pages.size(); ++i)
      if (outside[i]) got.push_back(c.links[i].page);
    EXPECT_EQ(got, c.outside);
  }
  // An index page (level 1) is no page of the leaf chain: never outside it.
  Page leaf(kPageSize, 0), index(kPageSize, 0);
  index[3] = 1;
  std::vector<ChainLinks> withIndex{ChainLinksOf(leaf.data(), 1, 10, true), ChainLinksOf(index.data(), 1, 11, true)};
  std::vector<bool> outside;
  EXPECT_TRUE(LeafPagesOutsideTheChain(withIndex, outside));
  EXPECT_FALSE(outside[1]);
}

// A page no PFS page covers follows its chain's word, and is counted apart from the pages no
// witness spoke for: only those make the lost-PFS warning.
TEST(PageChain, SetAsideFollowsTheChainWhereNoPfsPageIs) {
  CAllocationEvidence e = Evidence({});
  using Chain = CAllocationEvidence::Chain;
  EXPECT_TRUE(e.SetAside(1, 40, Chain::kOutside));
  EXPECT_FALSE(e.SetAside(1, 41, Chain::kInChain));
  EXPECT_TRUE(e.LostPfsWarning().IsEmpty());
  EXPECT_FALSE(e.SetAside(1, 42));
  EXPECT_NE(e.LostPfsWarning().str().find("1 data pages were read"), std::string::npos);
  bool logged = false;
  for (const CString& line : e.LogLines())
    logged = logged || line.str().find("sorted by their index's page chain: 1 in it kept, 1 outside it set aside") != std::string::npos;
  EXPECT_TRUE(logged);
  // Where a PFS page speaks, the chain is not asked.
  CAllocationEvidence withPfs = Evidence({{allocpages::Pfs(1, InUse), 1}});
  EXPECT_FALSE(withPfs.SetAside(1, 5, Chain::kOutside));
}

// The pages a unit's IAM pages hold are listed from the IAM pages alone, whatever page ids the
// file's other pages carry: a damaged id far out in the file once made a walk over every page
// number up to it.
TEST(AllocationEvidence, PagesHeldByAUnitComeFromItsIamPages) {
  const Page system = allocpages::Iam(10, {16, 17}, {3}, 0, 1, 34, 1);
  const Page user = allocpages::Iam(12, {40}, {6}, 0, 1, 46, 256);
  Page far = allocpages::Header(1, 0x7FFFFFF0, 1, 34, 1);
  CAllocationEvidence e = Evidence({{allocpages::Pfs(1, InUse), 1}, {system, 10}, {user, 12}, {far, 13}});
  EXPECT_EQ(e.PagesHeldBy(1, 34, 1), (std::vector<DWORD>{16, 17, 24, 25, 26, 27, 28, 29, 30, 31}));
  EXPECT_EQ(e.PagesHeldBy(1, 46, 1), std::vector<DWORD>{});  // its unit is index 256
  EXPECT_EQ(e.PagesHeldBy(1, 46, 256), (std::vector<DWORD>{40, 48, 49, 50, 51, 52, 53, 54, 55}));
  EXPECT_EQ(e.PagesHeldBy(2, 34, 1), std::vector<DWORD>{});
}
