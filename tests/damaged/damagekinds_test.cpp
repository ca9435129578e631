// Damage that must cost only what it touches, made on temporary copies of the fixtures: a
// source changed under the scan, pages in the wrong place, impossible slot arrays.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "common/backupreader.h"
#include "common/enginesupport.h"
#include "common/page.h"
#include "damaged/damagedcase.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/backupwrap.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
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
// value by value; a 2000 table whose columns are lost is named with the pages left unread.
// The undamaged files say nothing of the kind.
TEST(CatalogDamage, AZeroedCatalogPageLosesNoTableInSilence) {
  struct Case {
    const char* fixture;
    int format;
    std::vector<size_t> pages;  // stream pages of a backup, pages of a database file
    std::vector<std::string> named;    // tables named as lost; empty: every row comes back
    std::vector<std::string> rebuilt;  // tables whose columns were rebuilt, every row back
  } cases[] = {
      {"mdf2008_northwnd_itsligo.mdf", 2008, {130}, {}, {}},
      // Every page of the column catalog (sysrscols keeps the layout).
      {"mdf2008_northwnd_itsligo.mdf", 2008, {40, 41, 42, 43, 67, 68, 79, 85, 107, 112, 113}, {},
       {"dbo.Orders", "dbo.Employees", "dbo.Categories", "dbo.Shippers", "dbo.CustomerDemographics"}},
      // The same with decimal, text and image columns.
      {"mdf2008_pubs_itsligo.mdf", 2008, {22, 40, 41, 42, 67, 68, 85, 107, 112, 113}, {},
       {"dbo.discounts", "dbo.pub_info", "dbo.titles"}},
      // Page 404 (the 2005 hobt-column catalog keeps the layout).
      {"bak2005_northwnd_mina.bak", 2008, {396}, {}, {"dbo.Orders", "dbo.Products", "dbo.Order Details"}},
      {"sample2000_NORTHWND.MDF", 2000, {85}, {"dbo.Orders", "dbo.Products", "dbo.Order Details"}, {}},
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
      EXPECT_NE(warnings.find("table " + name + ": its columns could not be recovered"), std::string::npos)
          << warnings;
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
      // Every page of sysschobjs: no neighbour is left, the first page its allocation row names is.
      {"mdf2008_northwnd_itsligo.mdf", 2008,
       [](Bytes& b, const std::string&) {
         for (size_t p : {110, 114, 116}) ZeroPage(b, p * 8192);
       },
       "catalog page 1:116 (sysschobjs) failed its checks (zeroed): its rows were not read"},
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

// Inside a backup a zeroed page names no id: its place is found through the catalog pages of
// its extent (page 84 of sysindexes lies next to syscolumns' page 85).
TEST(CatalogDamage, AFailedCatalogPageOfA2000BackupIsFoundThroughItsExtent) {
  REQUIRE_FIXTURE(backup, "bak2005_stdb2sql_2sets.bak");
  REQUIRE_FIXTURE(northwind, "sample2000_NORTHWND.MDF");
  testsupport::ModuleFolderScope logs;
  testsupport::TempDir dir;
  std::string image = testsupport::ReadFile(northwind);
  image.replace(85 * 8192, 8192, std::string(8192, '\0'));
  std::string wrapped, error;
  ASSERT_TRUE(testsupport::WrapPagesInBackup(testsupport::ReadFile(backup), {image}, wrapped, &error)) << error;
  const std::string path = dir.file("wrapped.bak");
  testsupport::WriteFile(path, wrapped);
  CSQLServer2000 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  ASSERT_GT(engine.m_nDataSetCount, 0);  // read as a backup, not as a database file
  std::string warnings;
  for (const std::string& w : engine.m_vecScanWarnings) warnings += w + "\n";
  EXPECT_NE(warnings.find("catalog page 1:85 (syscolumns) failed its checks (zeroed): its rows were not read\n"),
            std::string::npos)
      << warnings;
  EXPECT_EQ(warnings.find("catalog page"), warnings.rfind("catalog page")) << warnings;
}
