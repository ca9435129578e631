// The 2000 engine end to end on a small synthetic database file: the engine object, the
// census with its allocation evidence, the system-table walk, the scan thread's stages and
// hand-shakes, stops, and the scan file.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "dll/pellwyn2000/pellwyn2000.h"
#include "pages2000.h"
#include "platform/archive.h"
#include "support/catalogtext.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "ui/core/enginefactory.h"
#include "ui/core/openscan.h"
#include "ui/core/scanfollower.h"
#include "support/indexedview.h"
#include "support/scanfilebytes.h"

using namespace pages2000;
using testsupport::ModuleFolderScope;
using testsupport::RecoveryOptions;
using testsupport::RunRecovery;

namespace {

constexpr DWORD kTable = 300;
constexpr DWORD kView = 400;
// The key cascades both ways, is not for replication and is switched off: a saved scan must
// bring all of it back.
constexpr DWORD kForeignKeyStatus = 0x3000 | 0x400 | 0x100 | 0x800;

Page BootPage(const Bytes& nameField) {
  Page p(13, 0, 9);
  std::memcpy(p.data() + 148, nameField.data(), nameField.size());
  return p;
}

// The table's IAM page: the interval from page 0 of file 1, the given single pages, no
// extents.
Page IamPage(const std::vector<DWORD>& singles) {
  Page iam(10, kTable, 10);
  Bytes header(94, 0);
  header[2] = 94;
  header[44] = 1;
  for (size_t k = 0; k < singles.size(); ++k) {
    header[46 + 6 * k] = BYTE(singles[k]);
    header[50 + 6 * k] = 1;
  }
  iam.Add(header);
  iam.Add(Bytes(4 + 7988, 0));
  return iam;
}

// Fourteen pages: the system tables, a boot page named "db", a table with live pages 5 and
// 11 and a stale page 7 that the PFS page marks free and no IAM page lists.
std::vector<Page> SyntheticDatabase() {
  std::vector<Page> pages;
  for (DWORD i = 0; i < 14; ++i) pages.emplace_back(0, 0, i);
  Page pfs(11, 99, 1);
  for (int i = 0; i < 14; ++i) pfs.Put(100 + size_t(i), i == 7 ? 0x00 : 0x40, 1);
  pages[1] = pfs;

  Page objects(1, 1, 2);
  objects.Add(ObjectRow(kTable, "U ", "T"));
  objects.Add(ObjectRow(kView, "V ", "V"));
  objects.Add(ObjectRow(500, "F ", "FK_T_T", kForeignKeyStatus, kTable));
  pages[2] = objects;

  Page columns(1, 3, 3);
  ColumnSpec id{kTable, "id", 56, 4, 1, 1, 4, true, true, Le(3, 4) + Le(1, 4) + Le(1, 4) + Le(0x82, 1)};
  ColumnSpec name{kTable, "name", 167, 20, 2, 2, -1};
  ColumnSpec parent{kTable, "parent", 56, 4, 3, 3, 8};
  columns.Add(ColumnRow(name));
  columns.Add(ColumnRow(id));
  columns.Add(ColumnRow(parent));
  columns.Add(ColumnRow({kView, "x", 56, 4, 1, 1, 4}));
  pages[3] = columns;

  Page indexes(1, 2, 4);
  indexes.Add(IndexRow(kTable, 1, 0x812, {{1, 0}}, "PK_T"));
  pages[4] = indexes;

  for (DWORD at : {5u, 7u, 11u}) pages[at] = Page(1, kTable, at);

  Page users(1, 10, 6);
  users.Add(UserRow(1, "dbo"));
  pages[6] = users;

  Page comments(1, 6, 8);
  comments.Add(CommentRow(kView, 1, 2, "as select 1 as x"));
  comments.Add(CommentRow(kView, 1, 1, "create view V "));
  pages[8] = comments;

  Bytes field = Utf16("db");
  field.insert(field.end(), 20, 0x20);
  pages[9] = BootPage(field);

  pages[10] = IamPage({5, 11});

  Page types(1, 4, 12);
  types.Add(TypeRow(167, 257, 11, "id_t"));
  pages[12] = types;

  Page references(1, 14, 13);
  references.Add(ForeignKeyRow(500, kTable, kTable, {3}, {1}));
  pages[13] = references;
  return pages;
}

std::string WriteDatabase(const testsupport::TempDir& dir, const std::vector<Page>& pages,
                          const std::string& name = "db.mdf") {
  std::string bytes;
  for (const Page& p : pages) bytes.append(reinterpret_cast<const char*>(p.bytes().data()), p.bytes().size());
  const std::string path = dir.file(name);
  testsupport::WriteFile(path, bytes);
  return path;
}

std::string CatalogText(const CSQLServer& engine) {
  std::ostringstream out;
  testsupport::PrintCatalog(engine, out);
  return out.str();
}

}  // namespace

TEST(Engine2000, NewEngineIsEmptyAndLogsItsFormat) {
  ModuleFolderScope scope;
  CSQLServer2000 engine;
  EXPECT_EQ(engine.m_nDataSetCount, 0);
  EXPECT_EQ(engine.m_nUnicodeNameCounter, 1);
  EXPECT_EQ(engine.m_mapTables.GetCount() + engine.m_mapViews.GetCount() + engine.m_mapDataTypes.GetCount(), 0);
  EXPECT_FALSE(engine.m_bBusy);
  const std::string log = scope.ReadExecLog();
  const size_t banner = log.rfind("Last Log On");
  ASSERT_NE(banner, std::string::npos);
  EXPECT_NE(log.find("MSG:2000 Format", banner), std::string::npos);
  EXPECT_NE(scope.ReadErrorLog().find("Last Log On"), std::string::npos);
  EXPECT_NE(m_objTable, nullptr);
}

TEST(Engine2000, FreeRecoveredObjectsFreesEachTableOnce) {
  ModuleFolderScope scope;
  CSQLServer2000 engine;
  CTable* both = engine.NewTable();
  CTable* keyOnly = engine.NewTable();
  engine.m_mapTables.SetAt("300", both);
  engine.m_mapForeignKeyTables.SetAt("300", both);
  engine.m_mapForeignKeyTables.SetAt("301", keyOnly);
  engine.m_mapViews.SetAt("400", new CViewStoredProc());
  engine.m_mapDataTypes.SetAt("257", new CDataType());
  engine.m_mapObjectTexts.SetAt("2001", new CIndexInfo());
  engine.m_mapOwnerNames.SetAt("1", "dbo");
  engine.m_mapForeignKeyNames.SetAt("500", "FK");
  engine.FreeRecoveredObjects();  // the sanitizer build catches a double free or a leak
  EXPECT_EQ(engine.m_mapTables.GetCount() + engine.m_mapForeignKeyTables.GetCount() + engine.m_mapViews.GetCount() +
                engine.m_mapDataTypes.GetCount() + engine.m_mapObjectTexts.GetCount() +
                engine.m_mapOwnerNames.GetCount() + engine.m_mapForeignKeyNames.GetCount(),
            0);
}

TEST(Scan2000, SyntheticDatabaseEndToEnd) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  const std::string path = WriteDatabase(dir, SyntheticDatabase());
  CSQLServer2000 engine;
  const auto result = RunRecovery(engine, path);
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.sysRounds, 3);
  EXPECT_EQ(result.pagesCounted, 14);
  EXPECT_EQ(engine.m_pStatus->m_nTotalPages, 14);
  EXPECT_EQ(engine.m_strDatabaseName, "db");

  ASSERT_EQ(engine.m_mapTables.GetCount(), 1);
  CTable* t = *engine.m_mapTables.Find("300");
  EXPECT_EQ(t->m_strName, "T");
  EXPECT_EQ(t->m_strOwner, "dbo");
  EXPECT_EQ(t->m_vecDataPages, (std::vector<DWORD>{5, 11}));
  EXPECT_EQ(t->m_vecFreedPages, std::vector<DWORD>{7});
  ASSERT_NE(t->m_pColumnHead, nullptr);
  EXPECT_EQ(t->m_pColumnHead->m_strName, "id");
  EXPECT_EQ(t->m_pColumnHead->m_nIdentitySeed64, 1);
  ASSERT_NE(t->m_pForeignKeyHead, nullptr);
  EXPECT_EQ(t->m_pForeignKeyHead->m_vecKeyColumns, std::vector<WORD>{3});
  EXPECT_TRUE(t->m_mapTableIndexes.Contains("1"));
  ASSERT_TRUE(engine.m_mapViews.Contains("400"));
  EXPECT_EQ((*engine.m_mapViews.Find("400"))->m_strText, "create view V as select 1 as x");
  EXPECT_TRUE(engine.m_mapDataTypes.Contains("257"));
  EXPECT_EQ(engine.m_pStatus->m_nTableCount, 1);
  EXPECT_EQ(engine.m_pStatus->m_nViewCount, 1);

  // The stage texts, exactly and in order.
  const std::string log = scope.ReadExecLog();
  size_t at = 0;
  for (const char* line :
       {"Read All Pages", "Gathering datatypes", "Reading sysobjects", "Reading sysobjects completed.",
        "Waiting For Event after reading sysobjects.", "Event recieved", "Gathering view, stored procedures,triggers etc",
        "Reading column information", "Waiting For Event after reading column information.", "Event recieved",
        "Parse Complete"}) {
    at = log.find(std::string("MSG:") + line + "\r\n", at);
    ASSERT_NE(at, std::string::npos) << line;
  }

  // A second scan on the same engine carries nothing over, and a partner that is handed the
  // census pages four at a time sees the same scan.
  const std::string first = CatalogText(engine);
  ASSERT_TRUE(RunRecovery(engine, path).finished);
  EXPECT_EQ(CatalogText(engine), first);
  RecoveryOptions coalesced;
  coalesced.censusHandOverEvery = 4;
  CSQLServer2000 other;
  const auto byFour = RunRecovery(other, path, coalesced);
  ASSERT_TRUE(byFour.finished);
  EXPECT_EQ(byFour.pagesCounted, 14);
  EXPECT_EQ(CatalogText(other), first);
}

// The census sets a data page aside only when the PFS page and the IAM pages agree it is
// free; allocation pages that are no evidence keep every page they speak of.
TEST(Scan2000, CensusSetsAsideOnlyWhatPfsAndIamAgreeIsFree) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  struct Case {
    const char* label;
    void (*change)(std::vector<Page>&);
    std::vector<DWORD> live, freed;
    const char* logged;
  } cases[] = {
      {"both agree", [](std::vector<Page>&) {}, {5, 11}, {7},
       "1 data pages set aside: free by their PFS byte and by the IAM pages"},
      {"no IAM page", [](std::vector<Page>& p) { p[10] = Page(0, 0, 10); }, {5, 7, 11}, {},
       "no IAM page maps them"},
      {"the IAM page holds the page the PFS shows free", [](std::vector<Page>& p) { p[10] = IamPage({5, 7, 11}); },
       {5, 7, 11}, {}, "contradicts the IAM pages"},
      {"the PFS page at another page's place", [](std::vector<Page>& p) { std::swap(p[1], p[12]); }, {5, 7, 11}, {},
       "failed their own checks"},
      // Torn-page protection whose pattern (01) the sectors' last bytes do not carry.
      {"a torn PFS page", [](std::vector<Page>& p) { p[1].Put(4, 0x100, 2).Put(60, 1, 4); },
       {5, 7, 11}, {}, "failed their own checks"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto pages = SyntheticDatabase();
    c.change(pages);
    CSQLServer2000 engine;
    ASSERT_TRUE(RunRecovery(engine, WriteDatabase(dir, pages)).finished);
    CTable* t = *engine.m_mapTables.Find("300");
    EXPECT_EQ(t->m_vecDataPages, c.live);
    EXPECT_EQ(t->m_vecFreedPages, c.freed);
    EXPECT_NE(scope.ReadExecLog().find(c.logged), std::string::npos) << scope.ReadExecLog();
  }
}

TEST(Scan2000, IamPagesWitnessAPagesTableAgainstItsHeader) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  const std::string whole = [&] {
    CSQLServer2000 engine;
    return RunRecovery(engine, WriteDatabase(dir, SyntheticDatabase(), "whole.mdf")).finished ? CatalogText(engine)
                                                                                              : std::string();
  }();
  ASSERT_NE(whole.find("[T]"), std::string::npos) << whole;
  struct Case {
    const char* label;
    DWORD page;      // the table's page whose object id field is damaged
    DWORD objectId;  // what it reads
    bool iam;        // the table's IAM page is there to witness
    std::vector<DWORD> live;
    const char* logged;
  } cases[] = {
      {"a syscolumns id, the IAM page holds it", 5, 3, true, {5, 11},
       "data page 1:5 names index id 0, object id 3 in its header, but the IAM pages of index id 0, object id 300 "
       "hold it"},
      {"no object's id, the IAM page holds it", 11, 12345, true, {5, 11}, "data page 1:11 names index id 0, object id 12345"},
      // Without the second witness the header is all there is: the page is kept as its header says.
      {"a syscolumns id, no IAM page", 5, 3, false, {7, 11}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto pages = SyntheticDatabase();
    pages[c.page].Put(24, c.objectId, 4);
    if (!c.iam) pages[10] = Page(0, 0, 10);
    const size_t logged = scope.ReadExecLog().size();
    CSQLServer2000 engine;
    ASSERT_TRUE(RunRecovery(engine, WriteDatabase(dir, pages)).finished);
    CTable* t = *engine.m_mapTables.Find("300");
    EXPECT_EQ(t->m_vecDataPages, c.live);
    const std::string log = scope.ReadExecLog().substr(logged);
    if (c.logged) {
      EXPECT_NE(log.find(c.logged), std::string::npos) << log;
      EXPECT_EQ(CatalogText(engine), whole);
    } else {
      EXPECT_EQ(log.find("Page census: data page"), std::string::npos) << log;
    }
  }
}

TEST(Scan2000, WithoutSysobjectsTablesAreRecoveredUnderSubstituteNames) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  auto pages = SyntheticDatabase();
  pages[2] = Page(0, 0, 2);
  CSQLServer2000 engine;
  const auto result = RunRecovery(engine, WriteDatabase(dir, pages));
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.sysRounds, 3);
  EXPECT_NE(scope.ReadErrorLog().find("Could not find Sysobjects table"), std::string::npos);
  EXPECT_NE(scope.ReadExecLog().find("Parse Complete"), std::string::npos);
  // The view's columns have no sysobjects row to say they are not a table.
  ASSERT_EQ(engine.m_mapTables.GetCount(), 2);
  for (const auto& e : engine.m_mapTables) EXPECT_EQ(e.second->m_strName.Left(14), "RecoveredTab#_");

  // Scanned again on the same engine, the tables get the same owner: not one an earlier scan
  // (or a stray row) left behind.
  engine.m_strLastOwnerName = "(convert(smallint,0))";
  ASSERT_TRUE(RunRecovery(engine, WriteDatabase(dir, pages)).finished);
  ASSERT_EQ(engine.m_mapTables.GetCount(), 2);
  for (const auto& e : engine.m_mapTables) EXPECT_EQ(e.second->m_strOwner, "dbo");
}

TEST(Scan2000, SlotRulesOfTheSystemTables) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  struct Case {
    const char* label;
    int slotCount;
    WORD slot0;
    bool ownerFound;
  } cases[] = {
      {"500 slots are walked", 500, 96, true},
      {"501 slots are not", 501, 96, false},
      {"slot 0 of 0x0160 reads as 96", 1, 0x0160, true},
      {"an entry of 8192 is no row", 1, 8192, false},
  };
  for (const Case& c : cases) {
    auto pages = SyntheticDatabase();
    Page users(1, 10, 6);
    users.Add(UserRow(1, "dbo"));
    users.SetSlotCount(c.slotCount);
    users.SetSlot(0, c.slot0);
    pages[6] = users;
    CSQLServer2000 engine;
    ASSERT_TRUE(RunRecovery(engine, WriteDatabase(dir, pages)).finished) << c.label;
    EXPECT_EQ(engine.m_mapOwnerNames.Contains("1"), c.ownerFound) << c.label;
  }
  // syscomments takes slot 0 as it stands: 0x0160 reads the row at byte 352, not the one at 96.
  auto pages = SyntheticDatabase();
  Page comments(1, 6, 8);
  comments.Place(96, CommentRow(kView, 1, 1, "at 96"));
  comments.Place(352, CommentRow(kView, 1, 1, "at 352"));
  comments.SetSlot(0, 0x0160);
  pages[8] = comments;
  CSQLServer2000 engine;
  ASSERT_TRUE(RunRecovery(engine, WriteDatabase(dir, pages)).finished);
  EXPECT_EQ((*engine.m_mapViews.Find("400"))->m_strText, "at 352");
}

TEST(Scan2000, DatabaseNameOfTheBootPage) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  Bytes zeroFilled = Utf16("db");
  zeroFilled.insert(zeroFilled.end(), 8, 0);
  Bytes blankInside = Utf16("my db");
  blankInside.insert(blankInside.end(), 16, 0x20);
  struct Case {
    const char* label;
    const char* name;
  } cases[] = {
      {"zero fill", "db"},
      {"blank padding", "my db"},
      {"no boot page", ""},
  };
  for (int i = 0; i < 3; ++i) {
    auto pages = SyntheticDatabase();
    if (i == 0) pages[9] = BootPage(zeroFilled);
    if (i == 1) pages[9] = BootPage(blankInside);
    if (i == 2) pages.erase(pages.begin() + 9, pages.end());
    CSQLServer2000 engine;
    engine.m_strFilePath = WriteDatabase(dir, pages).c_str();
    EXPECT_EQ(engine.GetDatabaseName(), cases[i].name) << cases[i].label;
  }
}

TEST(Scan2000, StopsEndTheScanWithoutAHang) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  const std::string path = WriteDatabase(dir, SyntheticDatabase());
  for (int round : {-1, 1, 2, 3}) {
    CSQLServer2000 engine;
    RecoveryOptions options;
    options.timeoutMs = 20000;
    if (round < 0) options.stopAfterPages = 4;
    else options.stopAtSysRound = round;
    const auto result = RunRecovery(engine, path, options);
    EXPECT_TRUE(result.finished) << round;
    // Whatever was read is cleaned: no system table is left in the map.
    for (const auto& e : engine.m_mapTables) EXPECT_GE(e.second->m_dwObjectId, 200u) << round;
  }
  EXPECT_EQ(scope.ReadExecLog().find("Parse Complete"), std::string::npos);
}

TEST(Scan2000, UnreadableSourceStillRunsEveryStage) {
  ModuleFolderScope scope;
  CSQLServer2000 engine;
  const auto result = RunRecovery(engine, "/nonexistent/db.mdf");
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.sysRounds, 3);
  EXPECT_NE(scope.ReadErrorLog().find("Error in opening a file"), std::string::npos);
  EXPECT_NE(scope.ReadExecLog().find("Parse Complete"), std::string::npos);
}

TEST(ScanFile2000, EmptyEngineFileIsExact) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  CSQLServer2000 engine;
  engine.m_strDatabaseName = "db";
  engine.m_strFilePath = "x.mdf";
  ASSERT_TRUE(engine.SaveScanFile(dir.file("e.str").c_str()));
  std::string expected;
  for (const char* s : {"tarnwell", "2000", "db", "x.mdf"}) expected += char(std::strlen(s)) + std::string(s);
  expected += std::string(8 * 4 + 2 * 4, '\0') + testsupport::EmptySchemaExtension(true);
  EXPECT_EQ(testsupport::ReadFile(dir.file("e.str")), expected);
}

// Save Scan then Open Scan keeps an indexed view's indexes, so its Views.sql is the same; a
// file of the layout before them opens with the view and no index, and says so.
TEST(ScanFile2000, IndexedViewKeepsItsIndexesAndAnOlderFileOpensWithout) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  CSQLServer2000 engine;
  engine.m_mapViews.SetAt("800", testsupport::NewIndexedView());
  const std::string file = dir.file("s.str");
  ASSERT_TRUE(engine.SaveScanFile(file.c_str()));
  const std::string scanned = testsupport::ViewScript(engine, engine.m_mapViews.begin()->second, dir);
  ASSERT_NE(scanned.find(testsupport::kIndexedViewIndexes), std::string::npos) << scanned;

  auto open = [&](const std::string& path, CSQLServer2000& into) {
    CArchive ar;
    ASSERT_TRUE(ar.Open(path.c_str(), CArchive::load));
    CString magic, version;
    ar >> magic >> version;
    into.FreeRecoveredObjects();
    into.LoadScanInfo(ar);
  };
  CSQLServer2000 loaded;
  open(file, loaded);
  ASSERT_EQ(loaded.m_mapViews.GetCount(), 1);
  EXPECT_EQ(testsupport::ViewScript(loaded, loaded.m_mapViews.begin()->second, dir), scanned);

  const std::string bytes = testsupport::ReadFile(file);
  const size_t layoutEnd = testsupport::ScanExtensionOffset(bytes);
  ASSERT_NE(layoutEnd, std::string::npos);
  testsupport::WriteFile(dir.file("old.str"), bytes.substr(0, layoutEnd));
  CSQLServer2000 older;
  open(dir.file("old.str"), older);
  ASSERT_EQ(older.m_mapViews.GetCount(), 1);
  CViewStoredProc* view = older.m_mapViews.begin()->second;
  EXPECT_TRUE(view->m_vecIndexes.empty());
  EXPECT_EQ(testsupport::ViewScript(older, view, dir), view->m_strText.str() + "\r\n\r\ngo\r\n");
  EXPECT_NE(scope.ReadExecLog().find("Scan file written before indexes on views were kept"), std::string::npos);
}

TEST(ScanFile2000, SaveAnswersAndFailures) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  CSQLServer2000 engine;
  engine.SaveScanInfo();  // nobody to ask
  EXPECT_EQ(engine.m_nLastSaveResult, -1);
  engine.m_fnAskSavePath = [](CString&) { return false; };
  engine.SaveScanInfo();
  EXPECT_EQ(engine.m_nLastSaveResult, -1);
  engine.m_fnAskSavePath = [](CString& p) {
    p = "/nonexistent/dir/scan";
    return true;
  };
  engine.SaveScanInfo();
  EXPECT_EQ(engine.m_nLastSaveResult, 0);
  EXPECT_NE(scope.ReadErrorLog().find("Scan file could not be created"), std::string::npos);
  const std::string target = dir.file("scan");
  engine.m_fnAskSavePath = [&](CString& p) {
    p = target.c_str();
    return true;
  };
  engine.SaveScanInfo();
  EXPECT_EQ(engine.m_nLastSaveResult, 1);
  EXPECT_FALSE(testsupport::ReadFile(target + ".str").empty());
}

TEST(ScanFile2000, RoundTripAndDamagedFiles) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  CSQLServer2000 engine;
  ASSERT_TRUE(RunRecovery(engine, WriteDatabase(dir, SyntheticDatabase())).finished);
  // A bound rule travels in its own section of the file.
  std::string ruleTable;
  for (auto& [key, table] : engine.m_mapTables)
    if (table && table->m_pColumnHead && ruleTable.empty()) {
      ruleTable = key;
      table->m_pColumnHead->m_strRuleName = "positive";
    }
  ASSERT_FALSE(ruleTable.empty());
  // What the catalog text does not print: a column's collation, a cut-off mark, a stop.
  CTable* scannedTable = engine.m_mapTables.begin()->second;
  scannedTable->m_pColumnHead->m_pNext->m_dwCollation = 0x3400d008;
  scannedTable->m_strCatalogLoss = "indexes missing";
  engine.m_bRecoveryStopped = true;
  const std::string file = dir.file("s.str");
  ASSERT_TRUE(engine.SaveScanFile(file.c_str()));
  const std::string bytes = testsupport::ReadFile(file);

  auto load = [&](const std::string& content, CSQLServer2000& into) {
    const std::string path = dir.file("in.str");
    testsupport::WriteFile(path, content);
    CArchive ar;
    EXPECT_TRUE(ar.Open(path.c_str(), CArchive::load));
    CString magic, version;
    ar >> magic >> version;
    into.FreeRecoveredObjects();
    into.LoadScanInfo(ar);
  };
  CSQLServer2000 loaded;
  load(bytes, loaded);
  // Pages set aside by the census come back with the scan.
  ASSERT_EQ(engine.m_mapTables.GetCount(), 1);
  EXPECT_FALSE(engine.m_mapTables.begin()->second->m_vecFreedPages.empty());
  EXPECT_EQ(CatalogText(loaded), CatalogText(engine));
  EXPECT_TRUE(loaded.m_mapForeignKeyTables.Contains("300"));
  CTable* reloaded = nullptr;
  ASSERT_TRUE(loaded.m_mapTables.Lookup(ruleTable, reloaded) && reloaded && reloaded->m_pColumnHead);
  EXPECT_EQ(reloaded->m_pColumnHead->m_strRuleName, "positive");
  CTable* loadedTable = loaded.m_mapTables.begin()->second;
  EXPECT_EQ(loadedTable->m_vecFreedPages, scannedTable->m_vecFreedPages);
  EXPECT_EQ(loadedTable->m_pColumnHead->m_pNext->m_dwCollation, 0x3400d008u);
  EXPECT_EQ(loadedTable->m_strCatalogLoss, "indexes missing");
  EXPECT_TRUE(loaded.m_bRecoveryStopped);
  ASSERT_TRUE(loaded.SaveScanFile(dir.file("again.str").c_str()));
  EXPECT_EQ(testsupport::ReadFile(dir.file("again.str")), bytes);

  // Cut anywhere after the version, or with a byte flipped: a clean archive exception (or a
  // load), an engine left consistent, nothing leaked.
  const size_t layoutEnd = testsupport::ScanExtensionOffset(bytes);
  ASSERT_NE(layoutEnd, std::string::npos);
  for (size_t cut = 15; cut < bytes.size(); cut += 7) {
    // Cut where the extension begins, it is a whole file of the older layout.
    if (cut == layoutEnd) continue;
    CSQLServer2000 partial;
    EXPECT_THROW(load(bytes.substr(0, cut), partial), CArchiveException) << cut;
    EXPECT_EQ(partial.m_mapTables.GetCount(), 0) << cut;
  }
  for (size_t at = 15; at < bytes.size(); at += 3) {
    std::string flipped = bytes;
    flipped[at] = char(~flipped[at]);
    CSQLServer2000 damaged;
    try {
      load(flipped, damaged);
    } catch (const CArchiveException&) {
    }
  }
}

// The program's own steps with a 2000 engine: the engine its factory makes for the version
// dialog's 1 and a scan file's "2000", its census followed in batches, and Save Scan and Open
// Scan carrying the catalog (foreign-key names included) through a 2000 scan file.
TEST(ScanFile2000, TheProgramsSaveScanAndOpenScan) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  for (int which = 0; which < 2; ++which) {
    const CreatedEngine made = which == 0 ? CreateEngine(1) : CreateEngine("2000");
    EXPECT_NE(dynamic_cast<CSQLServer2000*>(made.engine.get()), nullptr);
  }

  CSQLServer2000 engine;
  EXPECT_TRUE(bool(uicore::CoalescedCensusOf(engine)));
  const std::string source = WriteDatabase(dir, SyntheticDatabase());
  ASSERT_TRUE(RunRecovery(engine, source).finished);
  const std::string scanned = CatalogText(engine);
  ASSERT_NE(scanned.find("foreign-key [FK_T_T]"), std::string::npos) << scanned;
  ASSERT_NE(scanned.find("on-delete=1 on-update=1"), std::string::npos) << scanned;

  const uicore::SaveScanResult saved =
      uicore::SaveScan(&engine, source, [&]() -> std::optional<std::string> { return dir.file("scan"); });
  ASSERT_EQ(saved.outcome, uicore::SaveScanResult::Outcome::Saved) << saved.message;
  EXPECT_EQ(saved.path, dir.file("scan.str"));
  const uicore::OpenScanResult opened = uicore::OpenScanFile(saved.path);
  ASSERT_TRUE(opened.Loaded()) << opened.message;
  EXPECT_EQ(opened.version, "2000");
  ASSERT_NE(dynamic_cast<CSQLServer2000*>(opened.engine.get()), nullptr);
  EXPECT_EQ(CatalogText(*opened.engine), scanned);
}
