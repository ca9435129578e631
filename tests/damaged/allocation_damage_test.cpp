// Damaged allocation pages lose no rows: copies of real data files whose PFS page is zeroed,
// whose allocated bits are all cleared, or which lost an IAM page still give every table with
// its name and every row of the undamaged file. Damage is made once with the page's
// protection left stale (the page's own checks catch it) and once with it rewritten, as a
// faulty writer would leave it (only the other allocation structure can catch it then).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/allocation.h"
#include "common/page.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/allocationpages.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"

namespace {

using Tables = std::map<std::string, std::vector<std::string>>;  // table name -> sorted rows

struct Scanned {
  Tables tables;
  std::string log;
};

Scanned Scan(const std::string& path) {
  testsupport::ModuleFolderScope scope;
  CSQLServer2008 engine;
  Scanned s;
  if (!testsupport::RunRecovery(engine, path).finished) return s;
  for (const auto& e : engine.m_mapTables) {
    std::vector<std::string> rows = testsupport::AllRows(engine, e.second);
    std::sort(rows.begin(), rows.end());
    s.tables[e.second->m_strOwner.str() + "." + e.second->m_strName.str()] = rows;
  }
  s.log = scope.ReadExecLog();
  return s;
}

BYTE* PageAt(std::string& file, DWORD n) { return reinterpret_cast<BYTE*>(&file[size_t(n) * kPageSize]); }

// Changes a page's content. Left as it is, the page's checksum or torn-page bits no longer
// fit; with `reprotect` the change is made as a writer would: on the page's true bytes (torn
// bits put back first), its checksum or torn-page bits then made to fit again.
template <class F>
void Modify(std::string& file, DWORD n, bool reprotect, F change) {
  if (!reprotect) {
    change(PageAt(file, n));
    return;
  }
  allocpages::Page page(PageAt(file, n), PageAt(file, n) + kPageSize);
  const WORD flags = PageFlagBits(page.data());
  const bool torn = (flags & 0x300) == 0x100;
  if (torn) RestoreTornBits(page.data() + kPageHeaderSize, PageTornBits(page.data()));
  change(page.data());
  if (flags & 0x200) allocpages::Checksum(page);
  else if (torn) allocpages::TornBits(page);
  std::copy(page.begin(), page.end(), PageAt(file, n));
}

// Pages an IAM page claims: its single-page slots and eight per owned extent.
int Claims(const BYTE* page, std::vector<DWORD>* singles = nullptr) {
  allocpages::Page p(page, page + kPageSize);
  if ((PageFlagBits(p.data()) & 0x300) == 0x100) RestoreTornBits(p.data() + kPageHeaderSize, PageTornBits(p.data()));
  int claims = 0;
  for (int i = 0; i < 8; ++i) {
    const DWORD s = ReadU32(p.data() + 96 + 46 + 6 * size_t(i));
    if (!s) continue;
    ++claims;
    if (singles) singles->push_back(s);
  }
  const WORD bitmap = ReadU16(p.data() + kPageSize - 4);
  if (bitmap >= 190 && bitmap + 4 + 7988 <= kPageSize)
    for (size_t b = 0; b < 7988; ++b) claims += 8 * __builtin_popcount(p[bitmap + 4 + b]);
  return claims;
}

}  // namespace

TEST(AllocationDamage, EveryTableKeepsItsNameAndEveryRow) {
  // One file whose pages carry checksums, one whose pages carry torn-page bits.
  for (const char* fixture : {"mdf2008_northwnd_itsligo.mdf", "mdf2008r2_northwnd_upg2000.mdf"}) {
    const std::string path = testsupport::FixturePath(fixture);
    if (path.empty()) GTEST_SKIP() << "fixtures not available";
    const std::string original = testsupport::ReadFile(path);
    const DWORD pages = DWORD(original.size() / kPageSize);
    const Scanned whole = Scan(path);
    ASSERT_GE(whole.tables.size(), 13u) << fixture;
    ASSERT_NE(whole.log.find("data pages set aside"), std::string::npos) << fixture;

    // The IAM page that claims the most pages, and the one holding the objects table's
    // (system object 34) first page.
    DWORD biggestIam = 0, objectsIam = 0;
    int most = -1;
    DWORD objectsPage = 0;
    for (DWORD n = 0; n < pages; ++n) {
      const BYTE* p = reinterpret_cast<const BYTE*>(&original[size_t(n) * kPageSize]);
      if (PageTypeOf(p) == kPageData && PageObjectId(p) == 34 && PageIndexId(p) <= 1 && !objectsPage) objectsPage = n;
    }
    for (DWORD n = 0; n < pages; ++n) {
      const BYTE* p = reinterpret_cast<const BYTE*>(&original[size_t(n) * kPageSize]);
      if (PageTypeOf(p) != 10) continue;
      std::vector<DWORD> singles;
      const int claims = Claims(p, &singles);
      if (claims > most) most = claims, biggestIam = n;
      if (std::find(singles.begin(), singles.end(), objectsPage) != singles.end()) objectsIam = n;
    }
    ASSERT_GT(most, 8) << fixture;
    ASSERT_NE(objectsIam, 0u) << fixture;

    struct Damage {
      const char* what;
      std::function<void(std::string&)> apply;
      const char* logged;  // why the damaged page was no evidence
    };
    auto zeroPfs = [](bool reprotect) {
      return [reprotect](std::string& f) { Modify(f, 1, reprotect, [](BYTE* p) { std::fill(p + 96, p + kPageSize, 0); }); };
    };
    auto clearAllocated = [&](std::string& f) {
      std::vector<DWORD> data;
      for (DWORD n = 0; n < pages; ++n)
        if (PageTypeOf(PageAt(f, n)) == kPageData) data.push_back(PageIdOf(PageAt(f, n)));
      Modify(f, 1, true, [&](BYTE* p) {
        for (DWORD id : data)
          if (id < CAllocationEvidence::kPfsInterval) p[100 + id] &= BYTE(~0x40);
      });
    };
    auto zeroPage = [](DWORD n) { return [n](std::string& f) { std::fill_n(PageAt(f, n), kPageSize, 0); }; };
    const Damage damages[] = {
        {"PFS body zeroed", zeroPfs(false), "1 PFS and 0 IAM pages failed their own checks"},
        {"PFS body zeroed, protection rewritten", zeroPfs(true), "PFS page 1:1 contradicts the IAM pages"},
        {"every data page's allocated bit cleared", clearAllocated, "PFS page 1:1 contradicts the IAM pages"},
        {"the IAM page claiming the most pages zeroed", zeroPage(biggestIam), nullptr},
        {"the objects table's IAM page zeroed", zeroPage(objectsIam), nullptr},
    };
    testsupport::TempDir dir;
    for (const Damage& d : damages) {
      SCOPED_TRACE(std::string(fixture) + ": " + d.what);
      std::string copy = original;
      d.apply(copy);
      ASSERT_NE(copy, original);
      const std::string damagedPath = dir.file("damaged.mdf");
      testsupport::WriteFile(damagedPath, copy);
      const Scanned s = Scan(damagedPath);
      if (d.logged) EXPECT_NE(s.log.find(d.logged), std::string::npos);
      for (const auto& [name, rows] : whole.tables) {
        auto it = s.tables.find(name);
        ASSERT_NE(it, s.tables.end()) << "table " << name << " lost its name";
        // Pages the damaged page no longer shows free come back, with the rows they hold:
        // every row of the whole file is there, some may come twice.
        EXPECT_TRUE(std::includes(it->second.begin(), it->second.end(), rows.begin(), rows.end()))
            << name << ": " << rows.size() << " rows before, " << it->second.size() << " after";
      }
      EXPECT_EQ(s.tables.size(), whole.tables.size());
    }
  }
}
