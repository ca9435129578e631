// A system page whose header names another unit or object is still read as its system
// table's: copies of real files in which one catalog page's index id or object id field is
// damaged give the tables and rows of the undamaged file, with no substitute-named table
// made of catalog rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/page.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"

namespace {

using Tables = std::map<std::string, std::vector<std::string>>;  // owner.name -> sorted rows

struct Scanned {
  bool finished = false;
  Tables tables;
  std::string log;
  // File positions of the system tables' data pages (object id below 100, index id 0 or 1),
  // one per system table: every catalog a census files by that header.
  std::vector<UINT64> systemPages;
};

template <class Engine>
Scanned Scan(const std::string& path, const std::string& bytes = {}) {
  auto owned = std::make_unique<Engine>();
  Engine& engine = *owned;
  testsupport::ModuleFolderScope scope;
  Scanned s;
  s.finished = testsupport::RunRecovery(engine, path).finished;
  if (!s.finished) return s;
  for (const auto& e : engine.m_mapTables) {
    std::vector<std::string> rows = testsupport::AllRows(engine, e.second);
    std::sort(rows.begin(), rows.end());
    s.tables[e.second->m_strOwner.str() + "." + e.second->m_strName.str()] = rows;
  }
  s.log = scope.ReadExecLog();
  std::map<DWORD, UINT64> firstOf;
  for (int n = 0; !bytes.empty() && n < engine.m_pStatus->m_nTotalPages; ++n) {
    // A backup's pages lie where its set's stream puts them, a data file's in page order.
    INT64 at = INT64(n) * kPageSize;
    if (path.size() > 4 && path.substr(path.size() - 4) == ".bak") engine.GetPageOffset(n, &at);
    if (at < 0 || UINT64(at) + kPageSize > bytes.size() || (n > 0 && at == 0)) continue;
    const BYTE* p = reinterpret_cast<const BYTE*>(bytes.data() + at);
    if (PageTypeOf(p) == kPageData && PageIndexId(p) <= 1 && PageObjectId(p) < 100 && PageSlotCount(p) > 0)
      firstOf.emplace(PageObjectId(p), UINT64(at));
  }
  for (const auto& e : firstOf) s.systemPages.push_back(e.second);
  return s;
}

void Put(std::string& file, UINT64 at, UINT64 value, int width) {
  for (int i = 0; i < width; ++i) file[size_t(at) + size_t(i)] = char(value >> (8 * i));
}

struct FieldDamage {
  const char* what;
  size_t offset;  // in the page header
  int width;
  UINT64 value;
  bool loseIam = false;  // the IAM page holding the page zeroed too (a data file's only)
};

// The page number of the IAM page that holds page `pageId` of a data file (in a single-page
// slot or by its extent), or -1.
long long HoldingIam(const std::string& file, DWORD pageId) {
  for (size_t n = 0; (n + 1) * kPageSize <= file.size(); ++n) {
    const BYTE* p = reinterpret_cast<const BYTE*>(file.data() + n * kPageSize);
    if (PageTypeOf(p) != 10) continue;
    for (int i = 0; i < 8; ++i)
      if (ReadU32(p + 96 + 46 + 6 * size_t(i)) == pageId) return (long long)(n);
    const WORD bitmap = ReadU16(p + kPageSize - 4);
    const DWORD extent = pageId / 8;
    if (bitmap >= 190 && bitmap + 4 + 7988 <= kPageSize && extent / 8 < 7988 && (p[bitmap + 4 + extent / 8] >> (extent % 8) & 1))
      return (long long)(n);
  }
  return -1;
}

// Every system table's first page with each damage in turn, against the undamaged scan.
template <class Engine>
void ExpectTablesUnchanged(const char* fixture, const std::vector<FieldDamage>& damages, size_t atLeastPages) {
  const std::string path = testsupport::FixturePath(fixture);
  if (path.empty()) GTEST_SKIP() << "fixtures not available";
  const std::string original = testsupport::ReadFile(path);
  const Scanned whole = Scan<Engine>(path, original);
  ASSERT_TRUE(whole.finished) << fixture;
  ASSERT_GE(whole.tables.size(), 5u) << fixture;
  ASSERT_GE(whole.systemPages.size(), atLeastPages) << fixture;
  for (const auto& [name, rows] : whole.tables) ASSERT_EQ(name.find("RecoveredTab"), std::string::npos) << name;
  testsupport::TempDir dir;
  const std::string extension = path.substr(path.rfind('.'));
  for (const FieldDamage& d : damages) {
    // Stale catalog pages (free by their PFS byte and their IAM pages) are set aside whatever
    // their header says; the pages in use are placed by their IAM pages, and logged.
    int placedByIam = 0;
    for (UINT64 at : whole.systemPages) {
      std::string copy = original;
      const BYTE* page = reinterpret_cast<const BYTE*>(copy.data() + at);
      SCOPED_TRACE(std::string(fixture) + ": page " + std::to_string(PageIdOf(page)) + " of object " +
                   std::to_string(PageObjectId(page)) + ", " + d.what);
      Put(copy, at + d.offset, d.value, d.width);
      if (d.loseIam) {
        const long long iam = HoldingIam(original, DWORD(at / kPageSize));
        ASSERT_GE(iam, 0);
        std::fill_n(copy.begin() + iam * kPageSize, kPageSize, '\0');
      }
      ASSERT_NE(copy, original);
      const std::string damagedPath = dir.file("damaged" + extension);
      testsupport::WriteFile(damagedPath, copy);
      const Scanned s = Scan<Engine>(damagedPath);
      ASSERT_TRUE(s.finished);
      placedByIam += s.log.find(d.loseIam ? "its records have the layout of" : "but the IAM pages of") != std::string::npos;
      for (const auto& [name, rows] : s.tables) {
        auto it = whole.tables.find(name);
        ASSERT_NE(it, whole.tables.end()) << "a table the undamaged file does not have: " << name << " ("
                                          << rows.size() << " rows)";
        EXPECT_EQ(rows, it->second) << name << ": " << it->second.size() << " rows before, " << rows.size() << " after";
      }
      EXPECT_EQ(s.tables.size(), whole.tables.size());
    }
    // Without its IAM page a table's only page has no other page to be laid out like: it is
    // counted with the unclaimed pages, which the tables above show costs no user row.
    EXPECT_GE(placedByIam, int(whole.systemPages.size()) / (d.loseIam ? 3 : 2)) << fixture << ", " << d.what;
  }
}

}  // namespace

TEST(UnitWitness, ACatalogPageWithADamagedIndexIdStaysItsSystemTables) {
  // 256 makes the page's unit id one of the user units' (1 << 56 | object id << 16); 0x1234
  // is no unit's. The backup is the one whose Service Broker queue such a page turned into
  // a table.
  const std::vector<FieldDamage> damages = {{"index id 256", 6, 2, 256}, {"index id 0x1234", 6, 2, 0x1234}};
  ExpectTablesUnchanged<CSQLServer2008>("mdf2008_northwnd_itsligo.mdf", damages, 15);
  ExpectTablesUnchanged<CSQLServer2008>("bak2005_northwind_gabrujo.bak", damages, 15);
  // Without the IAM page the layout of the page's records places it: that of its system
  // table's other pages. (A table of two pages whose IAM page is lost has no majority: such a
  // page stays where its header says, and is counted with the unclaimed pages.)
  ExpectTablesUnchanged<CSQLServer2008>("mdf2008_northwnd_itsligo.mdf", {{"index id 0x1234, IAM page lost", 6, 2, 0x1234, true}},
                                        15);
}

TEST(UnitWitness, A2000CatalogPageWithADamagedObjectIdStaysItsSystemTables) {
  // 21575115 is the Orders table's object id; 0x12345678 is no object's.
  const std::vector<FieldDamage> damages = {{"object id of Orders", 24, 4, 21575115},
                                            {"object id 0x12345678", 24, 4, 0x12345678}};
  ExpectTablesUnchanged<CSQLServer2000>("sample2000_NORTHWND.MDF", damages, 8);
}
