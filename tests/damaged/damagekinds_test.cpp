// Damage that must cost only what it touches, made on temporary copies of the fixtures: a
// source changed under the scan, pages in the wrong place, impossible slot arrays.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <memory>
#include <set>
#include <string>

#include "common/backupreader.h"
#include "common/enginesupport.h"
#include "common/page.h"
#include "damaged/damagedcase.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2000/record2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/backupwrap.h"
#include "support/fakepreview.h"
#include "support/everyobject.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "support/quietexportsink.h"
#include "ui/core/exportworker.h"
#include "ui/core/openscan.h"
#include "ui/core/scanfollower.h"

namespace {

using damaged::Bytes;

std::unique_ptr<CSQLServer> EngineFor(int format) {
  if (format == 2000) return std::make_unique<CSQLServer2000>();
  return std::make_unique<CSQLServer2008>();
}

// Rows of every table the scan of `bytes` finds, by table name.
std::map<std::string, size_t> RowsOf(int format, const Bytes& bytes, const std::string& path) {
  testsupport::WriteFile(path, std::string(bytes.begin(), bytes.end()));
  std::unique_ptr<CSQLServer> engine = EngineFor(format);
  const testsupport::RecoveryResult r = testsupport::RunRecovery(*engine, path);
  EXPECT_TRUE(r.finished) << path;
  std::map<std::string, size_t> rows;
  for (const auto& entry : engine->m_mapTables)
    if (entry.second) rows[entry.second->m_strName.str()] = testsupport::AllRows(*engine, entry.second).size();
  return rows;
}

void CopyPage(Bytes& file, size_t from, size_t to) {
  std::copy(file.begin() + from * 8192, file.begin() + (from + 1) * 8192, file.begin() + to * 8192);
}

// File position of stream page n of a backup's first set.
size_t StreamPage(const std::string& backup, size_t n) {
  CBackupReader* reader = nullptr;
  ReadBackupSets(backup.c_str(), reader);
  const CBackupSet* set = reader ? reader->GetSet(1) : nullptr;
  const size_t offset = set && set->m_pStream ? size_t(set->m_pStream->nOffset) : 0;
  delete reader;
  return offset + n * 8192;
}

// A fixture read for damage: its path, its extension (".bak", ".mdf") and its bytes; empty path
// when the fixtures are not here.
struct Original {
  std::string path, ext;
  Bytes bytes;
};
Original ReadOriginal(const std::string& name) {
  Original o;
  o.path = testsupport::FixturePath(name);
  if (o.path.empty()) return o;
  o.ext = name.substr(name.rfind('.'));
  o.bytes = damaged::ReadBytes(o.path);
  return o;
}

void PutU16(Bytes& file, size_t at, WORD value) {
  file[at] = BYTE(value);
  file[at + 1] = BYTE(value >> 8);
}

void ZeroPage(Bytes& file, size_t at) { std::fill(file.begin() + at, file.begin() + at + 8192, 0); }

}  // namespace

// A file put in the source's place after its sets were listed: the scan reads the file first
// opened, every page of it, and says the source changed.
TEST(SourceChange, AFileReplacedDuringTheScanIsReadAsFirstOpenedAndTold) {
  REQUIRE_FIXTURE(fixture, "mdf2008_northwnd_itsligo.mdf");
  testsupport::ModuleFolderScope logs;
  testsupport::TempDir dir;
  const Bytes bytes = damaged::ReadBytes(fixture);
  const std::map<std::string, size_t> whole = RowsOf(2008, bytes, dir.file("whole.mdf"));

  const std::string path = dir.file("moving.mdf");
  testsupport::WriteFile(path, std::string(bytes.begin(), bytes.end()));
  CSQLServer2008 engine;
  uicore::ListBackupSets(engine, path);
  testsupport::WriteFile(dir.file("other"), std::string(8192 * 20, '\0'));
  ASSERT_EQ(std::rename(dir.file("other").c_str(), path.c_str()), 0);
  ASSERT_TRUE(testsupport::FollowScan(engine).finished);
  std::map<std::string, size_t> rows;
  for (const auto& entry : engine.m_mapTables) rows[entry.second->m_strName.str()] = testsupport::AllRows(engine, entry.second).size();
  EXPECT_EQ(rows, whole);
  std::string how;
  EXPECT_TRUE(engine.m_sourcePin.Changed(&how));
  EXPECT_EQ(how, "another file took its name (the one opened first was read throughout)");
  EXPECT_NE(logs.ReadErrorLog().find("changed during the scan: another file took its name"), std::string::npos);
}

// A page copied over another (a misdirected write) is read once, as the page it is; a slot
// count of 65535 is cut to the slots that fit its page. No table gains a row.
TEST(PagePlace, CopiedPagesAndImpossibleSlotCountsAddNoRow) {
  struct Case {
    const char* fixture;
    int format;
    void (*damage)(Bytes&, const std::string& path);
  } cases[] = {
      {"mdf2008r2_northwnd_upg2000.mdf", 2008, [](Bytes& b, const std::string&) { CopyPage(b, 235, 78); }},
      {"sample2000_NORTHWND.MDF", 2000, [](Bytes& b, const std::string&) { CopyPage(b, 266, 120); }},
      {"bak2005_northwind_gabrujo.bak", 2008,
       [](Bytes& b, const std::string& path) { PutU16(b, StreamPage(path, 128) + 22, 65535); }},
      {"sample2000_NORTHWND.MDF", 2000, [](Bytes& b, const std::string&) { PutU16(b, 266 * 8192 + 22, 65535); }},
      // Past Region's four slots the free space holds old entries that point inside its records.
      {"sample2000_NORTHWND.MDF", 2000, [](Bytes& b, const std::string&) { PutU16(b, 300 * 8192 + 22, 65535); }},
  };
  testsupport::ModuleFolderScope logs;
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const Original o = ReadOriginal(c.fixture);
    if (o.path.empty()) GTEST_SKIP() << "fixtures not available";
    const std::string& fixture = o.path;
    const std::string& ext = o.ext;
    const Bytes& whole = o.bytes;
    Bytes damaged = whole;
    c.damage(damaged, fixture);
    const std::map<std::string, size_t> before = RowsOf(c.format, whole, dir.file("whole" + ext));
    const std::map<std::string, size_t> after = RowsOf(c.format, damaged, dir.file("damaged" + ext));
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [name, rows] : after) EXPECT_LE(rows, before.at(name)) << name;
  }
  EXPECT_NE(logs.ReadExecLog().find("Page census: page 78 of the file says it is page 1:235; set aside (that page is "
                                    "in its place)"),
            std::string::npos);
}

// A zeroed catalog page costs no table in silence: the data pages the lost allocation rows
// tied to their tables go to the tables their records fit; a 2005 table whose column rows are
// lost gets its columns back from the stored layout of its rows, as Column_N, and every row,
// value by value; a 2000 table whose columns are lost keeps its rows as raw bytes and is named
// for it (its rows and bytes: A2000TableWithoutColumnRowsKeepsEveryRowAsItsStoredBytes).
// The undamaged files say nothing of the kind.
TEST(CatalogDamage, AZeroedCatalogPageLosesNoTableInSilence) {
  struct Case {
    const char* fixture;
    int format;
    std::vector<size_t> pages;  // stream pages of a backup, pages of a database file
    std::vector<std::string> named;    // tables kept as raw bytes; empty: every row comes back
    std::vector<std::string> rebuilt;  // tables whose columns were rebuilt, every row back
    std::vector<std::string> tied = {};  // tables whose rowset rows were lost, tied by their columns
  } cases[] = {
      {"mdf2008_northwnd_itsligo.mdf", 2008, {130}, {}, {}},
      // Every page of the column catalog (sysrscols keeps the layout).
      {"mdf2008_northwnd_itsligo.mdf", 2008, {40, 41, 42, 43, 67, 68, 79, 85, 107, 112, 113}, {},
       {"dbo.Orders", "dbo.Employees", "dbo.Categories", "dbo.Shippers", "dbo.CustomerDemographics"}},
      // The same with decimal, text and image columns.
      {"mdf2008_pubs_itsligo.mdf", 2008, {22, 40, 41, 42, 67, 68, 85, 107, 112, 113}, {},
       {"dbo.discounts", "dbo.pub_info", "dbo.titles"}},
      // sysdiagrams holds a varbinary(max) column, which the layout stores with no length.
      {"mdf2008_qlsinhvien.mdf", 2008, {40, 41, 42, 67, 68, 85, 107, 112, 113, 157}, {},
       {"dbo.sysdiagrams", "dbo.Hoc", "dbo.Lop", "dbo.MonHoc", "dbo.SinhVien"}},
      // Page 404 (the 2005 hobt-column catalog keeps the layout).
      {"bak2005_northwnd_mina.bak", 2008, {396}, {}, {"dbo.Orders", "dbo.Products", "dbo.Order Details"}},
      {"sample2000_NORTHWND.MDF", 2000, {85}, {"dbo.Orders", "dbo.Products", "dbo.Order Details"}, {}},
      // The one sysrowsets page, or either of two: the rowsets of the tables it named are tied
      // to them by their stored columns, each told.
      {"bak2008_library_small.bak", 2008, {18}, {}, {},
       {"dbo.sysdiagrams", "dbo.Authors", "dbo.Books", "dbo.BooksAuthors", "dbo.History", "dbo.Readers", "dbo.RoleData"}},
      {"bak2008r2_northwind_victor.bak", 2008, {18}, {}, {},
       {"dbo.Employees", "dbo.Categories", "dbo.Customers", "dbo.Shippers", "dbo.Suppliers", "dbo.Orders", "dbo.Products"}},
      {"bak2008r2_northwind_victor.bak", 2008, {371}, {}, {},
       {"dbo.Region", "dbo.Territories", "dbo.EmployeeTerritories", "dbo.titulos_de_contacto"}},
  };
  testsupport::ModuleFolderScope logs;
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const Original o = ReadOriginal(c.fixture);
    if (o.path.empty()) GTEST_SKIP() << "fixtures not available";
    const std::string& fixture = o.path;
    const std::string& ext = o.ext;
    const Bytes& whole = o.bytes;
    Bytes bytes = whole;
    for (const size_t page : c.pages) {
      const size_t at = ext == ".bak" ? StreamPage(fixture, page) : page * 8192;
      std::fill(bytes.begin() + at, bytes.begin() + at + 8192, 0);
    }

    std::unique_ptr<CSQLServer> undamaged = EngineFor(c.format);
    testsupport::WriteFile(dir.file("whole" + ext), std::string(whole.begin(), whole.end()));
    ASSERT_TRUE(testsupport::RunRecovery(*undamaged, dir.file("whole" + ext)).finished);
    EXPECT_TRUE(undamaged->m_vecScanWarnings.empty());

    const std::string path = dir.file("damaged" + ext);
    testsupport::WriteFile(path, std::string(bytes.begin(), bytes.end()));
    std::unique_ptr<CSQLServer> engine = EngineFor(c.format);
    ASSERT_TRUE(testsupport::RunRecovery(*engine, path).finished);
    std::string warnings;
    for (const std::string& w : engine->m_vecScanWarnings) warnings += w + "\n";
    if (c.named.empty()) {
      // Every table back, under its own name, with the same rows value by value.
      for (const auto& entry : undamaged->m_mapTables) {
        CTable* table = nullptr;
        ASSERT_TRUE(engine->m_mapTables.Lookup(entry.first, table) && table) << entry.second->m_strName.str();
        EXPECT_EQ(table->m_strName, entry.second->m_strName);
        EXPECT_EQ(testsupport::AllRows(*engine, table), testsupport::AllRows(*undamaged, entry.second))
            << table->m_strName.str();
      }
      for (const std::string& name : c.rebuilt)
        EXPECT_NE(warnings.find("table " + name + ": its column rows were lost"), std::string::npos) << warnings;
      if (c.rebuilt.empty()) EXPECT_EQ(warnings.find("Column_N"), std::string::npos) << warnings;
      for (const std::string& name : c.tied)
        EXPECT_NE(warnings.find("table " + name + ": its rowset rows were lost; the "), std::string::npos) << warnings;
      continue;
    }
    // Every table the undamaged file has is either there with its rows or named.
    for (const auto& entry : undamaged->m_mapTables) {
      const std::string name = entry.second->m_strOwner.str() + "." + entry.second->m_strName.str();
      const bool present = engine->m_mapTables.Contains(entry.first);
      const bool told = warnings.find("table " + name + ":") != std::string::npos;
      EXPECT_TRUE(present || told) << name << "\n" << warnings;
    }
    for (const std::string& name : c.named)
      EXPECT_NE(warnings.find("table " + name + ": its syscolumns rows are lost; its rows are kept as raw bytes"),
                std::string::npos)
          << warnings;
  }
}

namespace {

std::string Hex(const BYTE* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

// The preview text of the record in `slot` of `page`, read straight from its bytes as a table
// rebuilt with `entries` variable columns shows it: the fixed part, then every variable entry
// from `firstEntry` on, NULL where the record stores no byte of it.
std::string RawRowText(const BYTE* page, int slot, int firstEntry, int entries) {
  const size_t at = size_t(page[8192 - 2 - 2 * slot]) | size_t(page[8192 - 1 - 2 * slot]) << 8;
  const BYTE* r = page + at;
  auto u16 = [&](size_t o) { return size_t(r[o]) | size_t(r[o + 1]) << 8; };
  const size_t f = u16(2), n = u16(f);
  std::string text = "0x" + Hex(r + 4, f - 4) + "$#$";
  size_t pos = f + 2 + (n + 7) / 8;
  size_t v = 0;
  std::vector<std::pair<size_t, size_t>> spans;
  if (r[0] & 0x20) {
    v = u16(pos);
    size_t start = pos + 2 + 2 * v;
    for (size_t i = 0; i < v; ++i) {
      const size_t end = u16(pos + 2 + 2 * i);
      spans.emplace_back(start, end - start);
      start = end;
    }
  }
  for (int e = firstEntry; e <= entries; ++e) {
    const bool stored = size_t(e) <= spans.size() && spans[size_t(e) - 1].second > 0;
    text += (stored ? "0x" + Hex(r + spans[size_t(e) - 1].first, spans[size_t(e) - 1].second) : "NULL") + "$#$";
  }
  return text;
}

}  // namespace

// A 2000 table whose syscolumns rows are lost (Northwind's page 85 holds all of Orders',
// Products' and Order Details') keeps every row, as the bytes its records store, under its own
// name, and is named by a warning; preview, script export and a saved and reopened scan give the
// same. Every other table comes back value by value.
TEST(CatalogDamage, A2000TableWithoutColumnRowsKeepsEveryRowAsItsStoredBytes) {
  const Original o = ReadOriginal("sample2000_NORTHWND.MDF");
  if (o.path.empty()) GTEST_SKIP() << "fixtures not available";
  testsupport::ModuleFolderScope logs;
  testsupport::TempDir dir;
  Bytes bytes = o.bytes;
  std::fill(bytes.begin() + 85 * 8192, bytes.begin() + 86 * 8192, 0);
  const std::string path = dir.file("damaged.mdf");
  testsupport::WriteFile(path, std::string(bytes.begin(), bytes.end()));
  CSQLServer2000 undamaged, engine;
  ASSERT_TRUE(testsupport::RunRecovery(undamaged, o.path).finished);
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  std::string warnings;
  for (const std::string& w : engine.m_vecScanWarnings) warnings += w + "\n";

  const std::set<std::string> rebuilt = {"Orders", "Products", "Order Details"};
  std::map<std::string, std::vector<std::string>> rebuiltRows;
  int checkedRecords = 0;
  ASSERT_EQ(engine.m_mapTables.GetCount(), undamaged.m_mapTables.GetCount());
  for (const auto& [key, whole] : undamaged.m_mapTables) {
    const std::string name = whole->m_strName.str();
    SCOPED_TRACE(name);
    CTable* table = nullptr;
    ASSERT_TRUE(engine.m_mapTables.Lookup(key, table) && table);
    EXPECT_EQ(table->m_strName, whole->m_strName);
    EXPECT_EQ(table->m_strOwner, whole->m_strOwner);
    const std::vector<std::string> want = testsupport::AllRows(undamaged, whole);
    const std::vector<std::string> got = testsupport::AllRows(engine, table);
    const bool told = warnings.find("table dbo." + name + ": its syscolumns rows are lost; its rows are kept as raw "
                                    "bytes") != std::string::npos;
    if (!rebuilt.count(name)) {
      EXPECT_FALSE(rows2000::IsRawBytesTable(*table));
      EXPECT_FALSE(told) << warnings;
      EXPECT_EQ(got, want);
      continue;
    }
    EXPECT_TRUE(rows2000::IsRawBytesTable(*table));
    EXPECT_TRUE(told) << warnings;
    ASSERT_EQ(got.size(), want.size());
    ASSERT_FALSE(whole->m_vecDataPages.empty());
    // The first records of the table's first data page, read from the undamaged file.
    std::vector<BYTE> page;
    for (const DWORD id : whole->m_vecDataPages) {
      const BYTE* at = o.bytes.data() + size_t(id) * 8192;
      ASSERT_EQ(DWORD(at[32] | at[33] << 8 | at[34] << 16 | DWORD(at[35]) << 24), id);
      if (PageTypeOf(at) != kPageData) continue;
      page.assign(at, at + 8192);
      RestoreTornBitsIfPresent(page.data());
      break;
    }
    ASSERT_FALSE(page.empty());
    const int entries = table->m_nCatalogColumns - 1 + (table->m_nExtraColumn ? 1 : 0);
    for (int slot = 0; slot < 3; ++slot) {
      const std::string text = RawRowText(page.data(), slot, table->m_nExtraColumn ? 2 : 1, entries);
      EXPECT_NE(std::find(got.begin(), got.end(), text), got.end()) << text;
      ++checkedRecords;
    }
    rebuiltRows[name] = got;
  }
  EXPECT_EQ(rebuiltRows.size(), rebuilt.size());
  EXPECT_EQ(checkedRecords, 9);
  // Orders keeps its text columns' bytes: the first row's ShipName, as UTF-16, in its first entry.
  ASSERT_FALSE(rebuiltRows["Orders"].empty());
  EXPECT_NE(rebuiltRows["Orders"].front().find("$#$0x560069006e007300200065007400200061006c0063006f006f006c0073"),
            std::string::npos)
      << rebuiltRows["Orders"].front();

  // The script export: every row an INSERT of its bytes, and no CHECK condition naming a column
  // the rebuilt table does not have.
  uicore::ExportRequest request = testsupport::EveryObject(engine);
  request.rows = true;
  request.outputFolder = dir.file("export");
  testsupport::QuietExportSink sink;
  uicore::ExportWorker worker("");
  ASSERT_TRUE(worker.Start(engine, std::move(request), sink));
  worker.Join();
  ASSERT_EQ(worker.Result().end, uicore::ExportResult::End::kFinished);
  for (const auto& [name, rows] : rebuiltRows) {
    SCOPED_TRACE(name);
    const std::string script = testsupport::ReadFile(dir.file("export/Tables/" + name + ".sql"));
    size_t inserts = 0;
    for (size_t at = script.find("Insert into"); at != std::string::npos; at = script.find("Insert into", at + 1))
      ++inserts;
    EXPECT_EQ(inserts, rows.size());
    const std::string first = rows.front().substr(0, rows.front().find("$#$"));
    EXPECT_NE(script.find("values(" + first), std::string::npos) << first;
    EXPECT_EQ(testsupport::ReadFile(dir.file("export/Tables/" + name + "_Constraint.sql")).find("CHECK"),
              std::string::npos);
  }

  // Saved and opened again, the rebuilt tables keep their columns and rows.
  const std::string scan = dir.file("damaged.str");
  ASSERT_TRUE(engine.SaveScanFile(scan.c_str()));
  uicore::OpenScanResult opened = uicore::OpenScanFile(scan);
  ASSERT_TRUE(opened.Loaded()) << opened.message;
  for (const auto& [key, table] : engine.m_mapTables) {
    if (!rebuilt.count(table->m_strName.str())) continue;
    SCOPED_TRACE(table->m_strName.str());
    CTable* reopened = nullptr;
    ASSERT_TRUE(opened.engine->m_mapTables.Lookup(key, reopened) && reopened);
    EXPECT_TRUE(rows2000::IsRawBytesTable(*reopened));
    EXPECT_EQ(reopened->m_nCatalogColumns, table->m_nCatalogColumns);
    EXPECT_EQ(testsupport::AllRows(*opened.engine, reopened), rebuiltRows[table->m_strName.str()]);
  }
}

// A catalog page that fails its checks is told by its page id and system table, whether its
// neighbours link to it, the first page its table's allocation or index row names is it, or
// its own records fail. The undamaged files tell nothing of the kind.
TEST(CatalogDamage, AFailedCatalogPageIsToldByPageAndSystemTable) {
  struct Case {
    const char* fixture;
    int format;
    void (*damage)(Bytes&, const std::string& path);
    const char* told;
  } cases[] = {
      {"mdf2008_northwnd_itsligo.mdf", 2008, [](Bytes& b, const std::string&) { ZeroPage(b, 130 * 8192); },
       "catalog page 1:130 (sysallocunits) failed its checks (zeroed): its rows were not read"},
      // The first record of syscolpars' page 40 says its fixed part ends past the page.
      {"mdf2008_northwnd_itsligo.mdf", 2008,
       [](Bytes& b, const std::string&) { PutU16(b, 40 * 8192 + ReadU16(b.data() + 41 * 8192 - 2) + 2, 0x2000); },
       "catalog page 1:40 (syscolpars) failed its checks (1 of 66 records fail their header checks): those rows "
       "were not read"},
      // Stream page 396 of the backup is page 404: found through the pages of its extent.
      {"bak2005_northwnd_mina.bak", 2008,
       [](Bytes& b, const std::string& path) { ZeroPage(b, StreamPage(path, 396)); },
       "catalog page 1:404 (syscolpars) failed its checks (zeroed): its rows were not read"},
      {"sample2000_NORTHWND.MDF", 2000, [](Bytes& b, const std::string&) { ZeroPage(b, 85 * 8192); },
       "catalog page 1:85 (syscolumns) failed its checks (zeroed): its rows were not read"},
      // A data page of Orders written over it (a misdirected write).
      {"sample2000_NORTHWND.MDF", 2000, [](Bytes& b, const std::string&) { CopyPage(b, 266, 85); },
       "catalog page 1:85 (syscolumns) failed its checks (its header gives page 1:266): its rows were not read"},
      // systypes has one page: its sysindexes row names it.
      {"sample2000_NORTHWND.MDF", 2000, [](Bytes& b, const std::string&) { ZeroPage(b, 28 * 8192); },
       "catalog page 1:28 (systypes) failed its checks (zeroed): its rows were not read"},
  };
  testsupport::ModuleFolderScope logs;
  testsupport::TempDir dir;
  std::set<std::string> undamagedChecked;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.told);
    const Original o = ReadOriginal(c.fixture);
    if (o.path.empty()) GTEST_SKIP() << "fixtures not available";
    if (undamagedChecked.insert(c.fixture).second) {
      std::unique_ptr<CSQLServer> engine = EngineFor(c.format);
      testsupport::WriteFile(dir.file("whole" + o.ext), std::string(o.bytes.begin(), o.bytes.end()));
      ASSERT_TRUE(testsupport::RunRecovery(*engine, dir.file("whole" + o.ext)).finished);
      for (const std::string& w : engine->m_vecScanWarnings) EXPECT_EQ(w.find("catalog page"), std::string::npos) << w;
    }
    Bytes bytes = o.bytes;
    c.damage(bytes, o.path);
    const std::string path = dir.file("damaged" + o.ext);
    testsupport::WriteFile(path, std::string(bytes.begin(), bytes.end()));
    std::unique_ptr<CSQLServer> engine = EngineFor(c.format);
    ASSERT_TRUE(testsupport::RunRecovery(*engine, path).finished);
    std::string warnings;
    for (const std::string& w : engine->m_vecScanWarnings) warnings += w + "\n";
    EXPECT_NE(warnings.find(std::string(c.told) + "\n"), std::string::npos) << warnings;
    // One warning for one page.
    EXPECT_EQ(warnings.find("catalog page"), warnings.rfind("catalog page")) << warnings;
  }
  EXPECT_NE(logs.ReadErrorLog().find("Warning: catalog page 1:28 (systypes) failed its checks"), std::string::npos);
}

// A run of failed catalog pages: the pages around it name its ends, the table's allocation
// pages the pages inside it. With those lost too, the ends are told and where the chain breaks.
TEST(CatalogDamage, ARunOfFailedCatalogPagesIsToldPageByPage) {
  struct Case {
    const char* fixture;
    int format;
    std::vector<size_t> zeroed;     // pages of a database file, stream pages of a backup
    std::vector<std::string> told;  // "<page> (<table>)", each zeroed
    bool breakTold;
  } cases[] = {
      // syscolumns' chain runs 16, 45, 60, 74, 85, 91, 299, 88.
      {"sample2000_NORTHWND.MDF", 2000, {60, 74, 85}, {"1:60 (syscolumns)", "1:74 (syscolumns)", "1:85 (syscolumns)"},
       false},
      // Page 26 is syscolumns' IAM page: nothing says what lay between the ends.
      {"sample2000_NORTHWND.MDF", 2000, {60, 74, 85, 26}, {"1:60 (syscolumns)", "1:85 (syscolumns)"}, true},
      // syscolpars' chain runs ... 67, 41, 42, 43, 79 ...
      {"mdf2008_northwnd_itsligo.mdf", 2008, {41, 42, 43},
       {"1:41 (syscolpars)", "1:42 (syscolpars)", "1:43 (syscolpars)"}, false},
      // Every page of sysschobjs: no neighbour is left, the first page its allocation row names
      // is, and its IAM page the others.
      {"mdf2008_northwnd_itsligo.mdf", 2008, {110, 114, 116},
       {"1:110 (sysschobjs)", "1:114 (sysschobjs)", "1:116 (sysschobjs)"}, false},
      // Stream pages 400, 401 and 396 are syscolpars' 408, 409 and 404, one after the other
      // in its chain: the middle one is found through its extent.
      {"bak2005_northwnd_mina.bak", 2008, {400, 401, 396},
       {"1:404 (syscolpars)", "1:408 (syscolpars)", "1:409 (syscolpars)"}, false},
  };
  testsupport::ModuleFolderScope logs;
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture + std::string(" ") + std::to_string(c.zeroed.front()));
    const Original o = ReadOriginal(c.fixture);
    if (o.path.empty()) GTEST_SKIP() << "fixtures not available";
    Bytes bytes = o.bytes;
    for (size_t p : c.zeroed) ZeroPage(bytes, o.ext == ".bak" ? StreamPage(o.path, p) : p * 8192);
    const std::string path = dir.file("run" + o.ext);
    testsupport::WriteFile(path, std::string(bytes.begin(), bytes.end()));
    std::unique_ptr<CSQLServer> engine = EngineFor(c.format);
    ASSERT_TRUE(testsupport::RunRecovery(*engine, path).finished);
    std::vector<std::string> told;
    bool breakTold = false;
    for (const std::string& w : engine->m_vecScanWarnings) {
      if (w.rfind("catalog page ", 0) == 0) {
        EXPECT_NE(w.find(" failed its checks (zeroed): its rows were not read"), std::string::npos) << w;
        told.push_back(w.substr(13, w.find(')') - 12));
      }
      if (w.find("page chain of") != std::string::npos) breakTold = true;
    }
    std::sort(told.begin(), told.end());
    EXPECT_EQ(told, c.told);
    EXPECT_EQ(breakTold, c.breakTold);
  }
}

// Inside a backup a zeroed page names no id: its place is found through the catalog pages of
// its extent (page 84 of sysindexes lies next to syscolumns' page 85), and so is each page of a
// run of them the table's allocation pages name.
TEST(CatalogDamage, AFailedCatalogPageOfA2000BackupIsFoundThroughItsExtent) {
  REQUIRE_FIXTURE(backup, "bak2005_stdb2sql_2sets.bak");
  REQUIRE_FIXTURE(northwind, "sample2000_NORTHWND.MDF");
  testsupport::ModuleFolderScope logs;
  testsupport::TempDir dir;
  for (const std::vector<size_t>& zeroed : {std::vector<size_t>{85}, std::vector<size_t>{60, 74, 85}}) {
    SCOPED_TRACE(zeroed.size());
    std::string image = testsupport::ReadFile(northwind);
    for (size_t p : zeroed) image.replace(p * 8192, 8192, std::string(8192, '\0'));
    std::string wrapped, error;
    ASSERT_TRUE(testsupport::WrapPagesInBackup(testsupport::ReadFile(backup), {image}, wrapped, &error)) << error;
    const std::string path = dir.file("wrapped.bak");
    testsupport::WriteFile(path, wrapped);
    CSQLServer2000 engine;
    ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
    ASSERT_GT(engine.m_nDataSetCount, 0);  // read as a backup, not as a database file
    std::string warnings;
    for (const std::string& w : engine.m_vecScanWarnings) warnings += w + "\n";
    for (size_t p : zeroed)
      EXPECT_NE(warnings.find("catalog page 1:" + std::to_string(p) +
                              " (syscolumns) failed its checks (zeroed): its rows were not read\n"),
                std::string::npos)
          << warnings;
    size_t count = 0;
    for (size_t at = warnings.find("catalog page"); at != std::string::npos; at = warnings.find("catalog page", at + 1))
      ++count;
    EXPECT_EQ(count, zeroed.size()) << warnings;
  }
}

// A table that holds no row loses nothing but its definition when its column rows are lost:
// it is still named, never left out of the export in silence.
TEST(CatalogDamage, ATableWithoutRowsWhoseColumnsAreLostIsNamed) {
  struct Case {
    const char* fixture;
    int format;
    size_t page;  // stream page of a backup, page of a database file
    std::vector<std::string> named;
    bool layoutLeft;  // another catalog still gives its columns back
  } cases[] = {
      {"sample2000_NORTHWND.MDF", 2000, 299, {"dbo.CustomerCustomerDemo", "dbo.CustomerDemographics"}, false},
      // The stored layout of its rows rebuilds it; what must never happen is its silent absence.
      {"bak2008r2_northwind_victor.bak", 2008, 43, {"dbo.sysdiagrams"}, true},
  };
  testsupport::ModuleFolderScope logs;
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const Original o = ReadOriginal(c.fixture);
    if (o.path.empty()) GTEST_SKIP() << "fixtures not available";
    Bytes bytes = o.bytes;
    const size_t at = o.ext == ".bak" ? StreamPage(o.path, c.page) : c.page * 8192;
    std::fill(bytes.begin() + at, bytes.begin() + at + 8192, 0);
    const std::string path = dir.file("damaged" + o.ext);
    testsupport::WriteFile(path, std::string(bytes.begin(), bytes.end()));
    std::unique_ptr<CSQLServer> engine = EngineFor(c.format);
    ASSERT_TRUE(testsupport::RunRecovery(*engine, path).finished);
    std::string warnings;
    for (const std::string& w : engine->m_vecScanWarnings) warnings += w + "\n";
    for (const std::string& name : c.named) {
      bool kept = false;
      for (const auto& entry : engine->m_mapTables)
        if (entry.second && entry.second->m_strOwner + "." + entry.second->m_strName == CString(name)) kept = true;
      // Either it came back, or a warning says it did not.
      EXPECT_TRUE(kept || warnings.find("table " + name + ": its columns could not be recovered") != std::string::npos)
          << name << "\n" << warnings;
      if (!c.layoutLeft) EXPECT_FALSE(kept) << name << " has nothing left to read its columns from";
    }
  }
}

namespace {

// A fixture and its undamaged scan, for the page sweep: each copy is a page of it damaged.
struct Swept {
  Original o;
  bool format2000 = false, backup = false;
  size_t first = SIZE_MAX;  // file position of census page 0
  damaged::ScanSummary whole;
  std::string dir;

  // The copy with the page at census position `page` zeroed, or its slot count set to 65535.
  damaged::ScanSummary Damaged(size_t page, bool zero) const {
    Bytes bytes = o.bytes;
    const size_t at = first + page * 8192;
    if (first == SIZE_MAX || at + 8192 > bytes.size()) return {};
    if (zero) std::fill(bytes.begin() + long(at), bytes.begin() + long(at + 8192), 0);
    else PutU16(bytes, at + 22, 65535);
    return damaged::SummarizeScan(format2000, backup, bytes, dir + "/case" + o.ext, "case");
  }
};

// Empty `o.path` when the fixtures are not here.
Swept Sweep(const std::string& name, const std::string& dir) {
  Swept s;
  s.o = ReadOriginal(name);
  if (s.o.path.empty()) return s;
  s.dir = dir;
  s.format2000 = damaged::Is2000Fixture(name);
  s.backup = s.o.ext == ".bak";
  s.first = damaged::PagePosition(s.o.path, s.backup, 0);
  s.whole = damaged::SummarizeScan(s.format2000, s.backup, s.o.bytes, dir + "/whole" + s.o.ext, "undamaged");
  return s;
}

}  // namespace

// A slice of the page sweep of tests/damaged/run-full.sh (DAMAGED_MODES="zero slots"): pages
// spread over a 2008 backup and a 2000 data file, each zeroed and each given a slot count of
// 65535, compared with the undamaged scan table by table. The slot counts include catalog
// pages (object names, owners) that once lost every name on the page, a one-row data page whose
// free space repeats its slot entry (read twice once), and a catalog page whose damaged array
// ends in zero entries (once skipped whole as a page of too many slots). A zeroed 2000 sysusers
// page (40) costs no owner: user id 1 is dbo.
TEST(PageSweep, ZeroedPagesAndImpossibleSlotCountsCostOnlyWhatTheyTouch) {
  struct Case {
    const char* fixture;
    std::vector<size_t> zero, slots;  // census positions (stream pages of a backup)
  } cases[] = {
      {"bak2008_library_small.bak", {0, 25, 50, 75, 100, 125, 150, 175, 200, 225}, {0, 50, 100, 116, 150, 209, 215, 225}},
      {"sample2000_NORTHWND.MDF", {0, 34, 40, 68, 102, 136, 170, 204, 238, 272, 306}, {8, 40, 68, 136, 204, 266, 300, 308}},
      // Page 203 keeps, past its 15 live slots, the entries of the records a page split moved
      // away: whole records that only the header's free count tells from live ones.
      {"bak2008r2_northwind_victor.bak", {}, {110, 203}},
      // A zeroed sysrowsets page: the tables it counted are tied to their rowsets by their
      // stored columns, or named with the pages left unread where two have the same columns.
      {"bak2005_stdb2sql_2sets.bak", {15}, {}},
      {"bak2008r2_entrepot_fr.bak", {18}, {}},
      // Zeroed object-row pages: tables that held no row are told by the object ids their
      // rowsets give, as their names went with the page.
      {"bak2005_northwind_gabrujo.bak", {383, 427}, {}},
  };
  testsupport::ModuleFolderScope logs;
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const Swept s = Sweep(c.fixture, dir.path());
    if (s.o.path.empty()) GTEST_SKIP() << "fixtures not available";
    const damaged::ScanSummary& whole = s.whole;
    ASSERT_TRUE(whole.finished);
    ASSERT_FALSE(whole.tables.empty());
    ASSERT_NE(s.first, SIZE_MAX);
    for (const bool zero : {true, false}) {
      for (const size_t page : zero ? c.zero : c.slots) {
        SCOPED_TRACE((zero ? "zeroed page " : "slot count of page ") + std::to_string(page));
        const damaged::ScanSummary after = s.Damaged(page, zero);
        ASSERT_TRUE(after.finished);
        const std::vector<std::string> faults =
            zero ? damaged::ZeroedPageFaults(whole, after, page) : damaged::SlotCountFaults(whole, after);
        for (const std::string& f : faults) ADD_FAILURE() << f;
      }
    }
  }
}

// The sweep's rules themselves: a loss within the zeroed page's records passes, a larger one
// only with a warning naming the table, a made-up table with rows only when named; a slot count
// may add neither a row nor a table.
TEST(PageSweep, TheRulesCatchLossesGainsAndMadeUpTables) {
  damaged::ScanSummary whole;
  whole.finished = true;
  whole.tables["dbo.Orders"].rows = 10;
  whole.tables["dbo.Orders"].pageRecords[7] = 4;
  whole.tables["dbo.Region"].rows = 3;
  auto with = [&](std::map<std::string, long long> rows, std::vector<std::string> warnings) {
    damaged::ScanSummary s;
    s.finished = true;
    for (const auto& [name, n] : rows) s.tables[name].rows = n;
    s.warnings = std::move(warnings);
    return s;
  };
  EXPECT_TRUE(damaged::ZeroedPageFaults(whole, with({{"dbo.Orders", 6}, {"dbo.Region", 3}}, {}), 7).empty());
  EXPECT_EQ(damaged::ZeroedPageFaults(whole, with({{"dbo.Orders", 5}, {"dbo.Region", 3}}, {}), 7).size(), 1u);
  EXPECT_EQ(damaged::ZeroedPageFaults(whole, with({{"dbo.Orders", 9}, {"dbo.Region", 3}}, {}), 8).size(), 1u);
  EXPECT_TRUE(damaged::ZeroedPageFaults(whole, with({{"dbo.Orders", 0}, {"dbo.Region", 3}},
                                                    {"table dbo.Orders: its rows could not be read"}), 8).empty());
  EXPECT_EQ(damaged::ZeroedPageFaults(whole, with({{"dbo.Orders", 10}}, {}), 8).size(), 1u);  // Region gone
  EXPECT_EQ(damaged::ZeroedPageFaults(whole, with({{"dbo.Orders", 11}, {"dbo.Region", 3}},
                                                  {"table dbo.Orders: named"}), 8).size(), 1u);
  const auto madeUp = with({{"dbo.Orders", 10}, {"dbo.Region", 3}, {"dbo.RecoveredTab#_1", 2}}, {});
  EXPECT_EQ(damaged::ZeroedPageFaults(whole, madeUp, 8).size(), 1u);
  EXPECT_EQ(damaged::SlotCountFaults(whole, madeUp).size(), 1u);
  // A table whose name was lost is told by its object id, whole.
  whole.tables["dbo.Region"].objectId = 1234;
  EXPECT_TRUE(damaged::ZeroedPageFaults(whole, with({{"dbo.Orders", 10}, {"dbo.RecoveredTab#_1", 3}},
                                                    {"table dbo.RecoveredTab#_1: its name was lost (no object row "
                                                     "for object id 1234)"}),
                                        8)
                  .empty());
  EXPECT_EQ(damaged::ZeroedPageFaults(whole, with({{"dbo.Orders", 10}}, {"no object row for object id 12345"}), 8)
                .size(),
            1u);
  EXPECT_TRUE(damaged::SlotCountFaults(whole, with({{"dbo.Orders", 10}, {"dbo.Region", 1}}, {})).empty());
  EXPECT_EQ(damaged::SlotCountFaults(whole, with({{"dbo.Orders", 11}, {"dbo.Region", 3}}, {})).size(), 1u);
}

// A zeroed object-name page: its tables come back under made-up names with every row, and a
// warning names each of them; the rows of the tables gone are the rows of the tables made up.
TEST(PageSweep, TablesWhoseNamesWereLostAreNamedByAWarning) {
  struct Case {
    const char* fixture;
    size_t page;  // the first object-catalog page (sysobjects, sysschobjs)
  } cases[] = {{"sample2000_NORTHWND.MDF", 8}, {"bak2008_library_small.bak", 116}};
  testsupport::ModuleFolderScope logs;
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const Swept s = Sweep(c.fixture, dir.path());
    if (s.o.path.empty()) GTEST_SKIP() << "fixtures not available";
    const damaged::ScanSummary& whole = s.whole;
    const damaged::ScanSummary after = s.Damaged(c.page, true);
    ASSERT_TRUE(after.finished);
    long long gone = 0, madeUp = 0;
    for (const auto& [name, t] : whole.tables)
      if (!after.tables.count(name)) gone += t.rows;
    int named = 0;
    for (const auto& [name, t] : after.tables) {
      if (whole.tables.count(name)) continue;
      madeUp += t.rows;
      bool told = false;
      for (const std::string& w : after.warnings)
        told = told || w.rfind("table " + name + ": its name was lost", 0) == 0;
      EXPECT_TRUE(told) << name;
      named += told;
    }
    EXPECT_GT(gone, 0);
    EXPECT_EQ(madeUp, gone);
    EXPECT_GT(named, 0);
    // Every table gone is told by its object id, so the sweep's rule holds on this page.
    EXPECT_TRUE(damaged::ZeroedPageFaults(whole, after, c.page).empty());
  }
}

// A lost PFS page leaves the pages it covered without their first witness. Where an index's
// page chain is whole it speaks for them: Dates of the 2008 R2 backup keeps freed pages (their
// old rows once came back, 1185 -> 1318) in extents it still owns, and no page in use links to
// them. Pages no chain witnesses (heaps, units of dropped tables) are read, and the scan says
// so. The undamaged files say nothing.
TEST(AllocationDamage, ALostPfsPageCostsNothingWhereThePageChainsWitness) {
  testsupport::ModuleFolderScope logs;
  testsupport::TempDir dir;
  struct Case {
    const char* fixture;
    bool toldAfter;  // pages no chain witnesses are left
  } cases[] = {{"bak2008r2_entrepot_fr.bak", true}, {"sample2000_NORTHWND.MDF", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const Swept s = Sweep(c.fixture, dir.path());
    if (s.o.path.empty()) GTEST_SKIP() << "fixtures not available";
    const damaged::ScanSummary after = s.Damaged(1, true);
    ASSERT_TRUE(after.finished);
    auto told = [](const damaged::ScanSummary& scan) {
      for (const std::string& w : scan.warnings)
        if (w.find("with no page free space page to say whether they are in use") != std::string::npos) return true;
      return false;
    };
    EXPECT_EQ(told(after), c.toldAfter);
    EXPECT_FALSE(told(s.whole));
    // Every table keeps its rows, and none gains one.
    for (const auto& [name, t] : s.whole.tables) {
      auto it = after.tables.find(name);
      ASSERT_NE(it, after.tables.end()) << name;
      EXPECT_EQ(it->second.rows, t.rows) << name;
    }
    for (const std::string& f : damaged::SlotCountFaults(s.whole, after)) ADD_FAILURE() << f;
  }
}
