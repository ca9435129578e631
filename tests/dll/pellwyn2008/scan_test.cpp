#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "common/backupreader.h"
#include "common/page.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/allocationpages.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"

using testsupport::ModuleFolderScope;
using testsupport::RecoveryOptions;
using testsupport::RunRecovery;

namespace {

// The 2005-2008 R2 fixtures with the database name the boot page holds.
const std::map<std::string, std::string> kScannable = {
    {"bak2005_northwind_gabrujo.bak", "Northwind"},
    {"bak2005_northwnd_mina.bak", "NORTHWND"},
    {"bak2005_stdb2sql_2sets.bak", "StDb2SQL"},
    {"bak2008_library_small.bak", "Library"},
    {"bak2008_northwind_512blk.bak", "Northwind"},
    {"bak2008_northwind_thuyluv.bak", "Northwind"},
    {"bak2008r2_entrepot_fr.bak", "Entrepot"},
    {"bak2008r2_northwind_victor.bak", "Northwind"},
    {"mdf2005_pubs_upg2000.mdf", "pubs"},
    {"mdf2008_qlsinhvien.mdf", "QLSinhVien"},
    {"mdf2008_pubs_itsligo.mdf", "C:\\DBS\\PUBS.MDF"},
    {"mdf2008_northwnd_itsligo.mdf", "C:\\DBS\\NORTHWND.MDF"},
    {"mdf2008r2_northwnd_upg2000.mdf", "NORTHWND"},
};

// Runs the census alone with a partner that answers every page, as the progress thread does.
struct CensusRun {
  long long answered = 0;
  bool sawAllPagesReadOnLastWake = false;
};
CensusRun RunCensus(CSQLServer2008& engine, const std::string& path, int set = 1) {
  CensusRun run;
  engine.m_strFilePath = path.c_str();
  engine.ScanDataSets();
  engine.m_nSelectedDataSet = set;
  if (engine.IsBackupExtension()) engine.LocateBackupDataSet();
  std::atomic<bool> done{false};
  CEngineStatus* st = engine.m_pStatus;
  std::thread partner([&] {
    while (!done) {
      if (WaitForEvent(st->m_hPageRead, 20) != WaitResult::Signalled) continue;
      ResetEvent(st->m_hPageRead);
      run.sawAllPagesReadOnLastWake = st->m_bAllPagesRead;
      ++run.answered;
      SetEvent(st->m_hRecordEvent);
    }
  });
  engine.ReadAllPages();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  done = true;
  partner.join();
  return run;
}

std::vector<std::string> StageLines(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  std::string line;
  const std::string prefix = "Code:0  Error:0  MSG:";
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(prefix, 0) != 0) continue;
    std::string msg = line.substr(prefix.size());
    if (msg.rfind("Found : ", 0) == 0 || msg == "2008 Format" || msg.rfind("Page census: ", 0) == 0 ||
        msg.rfind("Waiting for Progress", 0) == 0 ||
        msg.rfind("Event Fonund", 0) == 0 || msg.rfind("Existing Progress", 0) == 0)
      continue;
    out.push_back(msg);
  }
  return out;
}

const std::vector<std::string> kStageOrder = {
    "Reading all the pages of mdf file",
    "Reading allocation information",
    "Reading Rowsets",
    "Gathering Datatypes",
    "Reading object information",
    "Waiting for event after reading object information",
    "Event found",
    "Gathering views,stored procedures,triggers etc",
    "Waiting for event after Gathering views,stored procedures,triggers etc",
    "Event found",
    "Gathering Index information",
    "Gathering schema information",
    "Reading rscols",
    "Filtering Objects",
    "Reading IsCols",
    "Organizing Schema information",
    "Parse Complete",
};

}  // namespace

TEST(ScanDataSets, ExtensionDecidesWhatIsABackup) {
  ModuleFolderScope scope;
  struct Case {
    const char* path;
    const char* ext;
    bool backup;
  } cases[] = {
      {"x.BAK", "BAK", true}, {"/d/x.bak", "bak", true}, {"x.Bak", "Bak", true}, {"ab", "", false},
      {"noext", "", false},   {"/dir.v2/file", "v2/file", false}, {"x.mdf", "mdf", false},
  };
  for (const auto& c : cases) {
    CSQLServer2008 engine;
    engine.m_strFilePath = c.path;
    engine.ScanDataSets();
    EXPECT_EQ(engine.m_strExtension.str(), c.ext) << c.path;
    EXPECT_EQ(engine.IsBackupExtension(), c.backup) << c.path;
    EXPECT_EQ(engine.m_nDataSetCount, 0) << c.path;  // none of these files exists
    EXPECT_EQ(engine.m_pBackupReader != nullptr, c.backup) << c.path;
  }
}

TEST(GetDatabaseName, BootPageNameField) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  auto make = [&](const std::u16string& name, BYTE type, DWORD pageId, size_t fileSize) {
    std::string bytes(fileSize, '\0');
    if (fileSize >= 10 * 8192) {
      bytes[9 * 8192 + 1] = char(type);
      for (int i = 0; i < 4; ++i) bytes[9 * 8192 + 32 + i] = char(pageId >> (8 * i));
      for (size_t i = 0; i < name.size() && i < 128; ++i) {
        bytes[9 * 8192 + 148 + 2 * i] = char(name[i] & 0xFF);
        bytes[9 * 8192 + 148 + 2 * i + 1] = char(name[i] >> 8);
      }
    }
    std::string path = dir.file("db.mdf");
    testsupport::WriteFile(path, bytes);
    CSQLServer2008 engine;
    engine.m_strFilePath = path.c_str();
    return engine.GetDatabaseName().str();
  };
  EXPECT_EQ(make(u"MyDB", 13, 9, 16 * 8192), "MyDB");
  EXPECT_EQ(make(u"My DB", 13, 9, 16 * 8192), "My DB");  // a space inside the name stays
  EXPECT_EQ(make(u"Pad    ", 13, 9, 16 * 8192), "Pad");
  EXPECT_EQ(make(u"Pad\x2020\x2020", 13, 9, 16 * 8192), "Pad");
  EXPECT_EQ(make(std::u16string(128, u'x'), 13, 9, 16 * 8192), std::string(128, 'x'));
  EXPECT_EQ(make(u"Caf\u00e9\u4e2d", 13, 9, 16 * 8192), "Caf\xC3\xA9\xE4\xB8\xAD");
  EXPECT_EQ(make(u"\u4e00\u4e8c", 13, 9, 16 * 8192), "\xE4\xB8\x80\xE4\xBA\x8C");  // low bytes 0: not the end
  EXPECT_EQ(make(u"MyDB", 1, 9, 16 * 8192), "");    // not a boot page
  EXPECT_EQ(make(u"MyDB", 13, 10, 16 * 8192), "");  // wrong page id
  EXPECT_EQ(make(u"MyDB", 13, 9, 8 * 8192), "");    // file too short
}

TEST(Census, GroupsDataPagesByOwner) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  // Pages: 0 file header, 1 PFS (all allocated but page 5), 2 catalog page of object 7,
  // 3 user page of object 1234 (index 256), 4 text page, 5 a free catalog page of object 7,
  // 6 another page of 1234, 7 an IAM page that holds none of them, then half a page.
  std::string bytes(8 * 8192 + 4000, '\0');
  auto header = [&](int n, BYTE type, WORD indexId, DWORD objectId) {
    char* p = &bytes[size_t(n) * 8192];
    p[1] = char(type);
    p[6] = char(indexId);
    p[7] = char(indexId >> 8);
    for (int i = 0; i < 4; ++i) p[24 + i] = char(objectId >> (8 * i));
    for (int i = 0; i < 4; ++i) p[32 + i] = char(DWORD(n) >> (8 * i));
  };
  header(0, 15, 0, 0);
  header(1, 11, 0, 99);
  for (int i = 0; i < 8088; ++i) bytes[8192 + 100 + i] = char(i == 5 ? 0x00 : 0x40);
  header(2, 1, 0, 7);
  header(3, 1, 256, 1234);
  header(4, 3, 0, 1234);
  header(5, 1, 0, 7);
  header(6, 1, 256, 1234);
  const allocpages::Page iam = allocpages::Iam(7, {}, {}, 0, 0);  // file id 0, as the pages above
  bytes.replace(7 * 8192, 8192, reinterpret_cast<const char*>(iam.data()), 8192);
  std::string path = dir.file("census.mdf");
  testsupport::WriteFile(path, bytes);
  CSQLServer2008 engine;
  CensusRun run = RunCensus(engine, path);
  EXPECT_EQ(engine.m_pStatus->m_nTotalPages, 8);  // the half page is not read
  EXPECT_EQ(run.answered, 9);                      // one "PageRead" per page, and one more
  EXPECT_TRUE(run.sawAllPagesReadOnLastWake);
  EXPECT_EQ(engine.m_pStatus->m_bAllPagesRead, 1);
  CTable* t7 = nullptr;
  ASSERT_TRUE(engine.m_mapTables.Lookup("7", t7));
  EXPECT_EQ(t7->m_dwObjectId, 7u);
  EXPECT_EQ(t7->m_vecDataPages, std::vector<DWORD>({2}));
  EXPECT_EQ(t7->m_vecFreedPages, std::vector<DWORD>({5}));
  CTable* unit = nullptr;
  ASSERT_TRUE(engine.m_mapPageGroups.Lookup("72057594118799360", unit));
  EXPECT_EQ(unit->m_vecDataPages, std::vector<DWORD>({3, 6}));
  EXPECT_EQ(engine.m_mapTables.GetCount(), 1);
  EXPECT_EQ(engine.m_mapPageGroups.GetCount(), 1);
  EXPECT_TRUE(engine.m_mapTextPages.IsEmpty());  // text pages are mapped only inside backups
}

TEST(Census, HeaderAndIamPagesWitnessAPagesUnit) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  // Pages: 0 file header, 1 PFS (all allocated but page 9), 2 a page of system table 34,
  // 3 and 4 two more of its pages whose index id field was damaged (to 256, a user unit's,
  // and to 0x1234, no unit's), 5 a page whose index id is damaged and no IAM page holds,
  // 6 a user page of unit (256, 46) whose object id field reads 34, 7 the IAM page of
  // (1, 34): pages 2-4 in single-page slots and extent 1 (pages 8-15), 8 the IAM page of
  // (256, 46): page 6, 9 a stale page of system table 7 left in extent 1 (free by the PFS),
  // 10 a page of extent 1 whose header names unit (256, 99).
  std::string bytes(11 * 8192, '\0');
  auto header = [&](int n, BYTE type, WORD indexId, DWORD objectId) {
    char* p = &bytes[size_t(n) * 8192];
    p[1] = char(type);
    p[6] = char(indexId);
    p[7] = char(indexId >> 8);
    for (int i = 0; i < 4; ++i) p[24 + i] = char(objectId >> (8 * i));
    for (int i = 0; i < 4; ++i) p[32 + i] = char(DWORD(n) >> (8 * i));
  };
  header(0, 15, 0, 0);
  header(1, 11, 0, 99);
  for (int i = 0; i < 8088; ++i) bytes[8192 + 100 + i] = char(i == 9 ? 0x00 : 0x40);
  header(2, 1, 1, 34);
  header(3, 1, 256, 34);
  header(4, 1, 0x1234, 34);
  header(5, 1, 0x1234, 50);
  header(6, 1, 256, 34);
  header(9, 1, 0, 7);
  header(10, 1, 256, 99);
  auto put = [&](int n, const allocpages::Page& page) {
    bytes.replace(size_t(n) * 8192, 8192, reinterpret_cast<const char*>(page.data()), 8192);
  };
  put(7, allocpages::Iam(7, {2, 3, 4}, {1}, 0, 0, 34, 1));  // file id 0, as the pages above
  put(8, allocpages::Iam(8, {6}, {}, 0, 0, 46, 256));
  const std::string path = dir.file("census.mdf");
  testsupport::WriteFile(path, bytes);
  CSQLServer2008 engine;
  RunCensus(engine, path);

  CTable* objects = nullptr;
  ASSERT_TRUE(engine.m_mapTables.Lookup("34", objects));
  EXPECT_EQ(objects->m_vecDataPages, std::vector<DWORD>({2, 3, 4, 10}));
  // The stale page stays its header's: its extent went to another unit since.
  CTable* units = nullptr;
  ASSERT_TRUE(engine.m_mapTables.Lookup("7", units));
  EXPECT_EQ(units->m_vecFreedPages, std::vector<DWORD>({9}));
  EXPECT_TRUE(units->m_vecDataPages.empty());
  CTable* user = nullptr;
  ASSERT_TRUE(engine.m_mapPageGroups.Lookup(std::to_string((UINT64(1) << 56) | (UINT64(46) << 16)), user));
  EXPECT_EQ(user->m_vecDataPages, std::vector<DWORD>({6}));
  // The page no witness places is filed under the unit its header names, which no catalog
  // row ties to a table: it is counted with the unclaimed pages, not read as anyone's.
  CTable* unplaced = nullptr;
  ASSERT_TRUE(engine.m_mapPageGroups.Lookup(
      std::to_string((UINT64(0x1234) << 48) | (UINT64(50) << 16)) + " (unplaced)", unplaced));
  EXPECT_EQ(unplaced->m_vecDataPages, std::vector<DWORD>({5}));
  EXPECT_EQ(engine.m_mapPageGroups.GetCount(), 2);
  EXPECT_EQ(engine.m_mapTables.GetCount(), 2);

  const std::string log = scope.ReadExecLog();
  for (const char* line :
       {"data page 0:3 names index id 256, object id 34 in its header, but the IAM pages of index id 1, object id 34 "
        "hold it",
        "data page 0:4 names index id 4660, object id 34 in its header, but the IAM pages of index id 1, object id 34",
        "data page 0:6 names index id 256, object id 34 in its header, but the IAM pages of index id 256, object id 46",
        "data page 0:10 names index id 256, object id 99",
        "data page 0:5 names index id 4660, object id 50 in its header, which is no unit of data pages, and no IAM "
        "page holds it: it is unplaced"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  EXPECT_EQ(log.find("data page 0:2 "), std::string::npos);
  EXPECT_EQ(log.find("data page 0:9 "), std::string::npos);
}

TEST(Census, RecordLayoutPlacesAPageNoIamPageHolds) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  // Pages: 0 file header, 1 PFS (all allocated), 2 and 3 pages of system table 34 (records
  // of 20 fixed bytes and 5 columns) that no IAM page holds, 4 and 5 two more of its pages
  // whose index id field reads 0x1234 (no unit) and 256 (a user unit with no other page),
  // 6 and 7 pages of user unit (256, 46) (records of 12 bytes and 3 columns) its IAM page 9
  // holds, 8 a page naming (256, 46) laid out as table 34's, which that IAM page does not
  // hold, 10 a page naming (0x1234, 50) laid out as no other page, 11 and 12 pages of
  // system table 60, 13 the only page of user unit (256, 60), laid out otherwise: a lone
  // page whose layout fits no other unit keeps its header's.
  std::string bytes(14 * 8192, '\0');
  auto header = [&](int n, BYTE type, WORD indexId, DWORD objectId) {
    char* p = &bytes[size_t(n) * 8192];
    p[1] = char(type);
    p[6] = char(indexId);
    p[7] = char(indexId >> 8);
    for (int i = 0; i < 4; ++i) p[24 + i] = char(objectId >> (8 * i));
    for (int i = 0; i < 4; ++i) p[32 + i] = char(DWORD(n) >> (8 * i));
  };
  // One record at 96: status 0x10 (null bitmap), the fixed part, the column count, a bitmap.
  auto record = [&](int n, int fixedEnd, int columns) {
    char* p = &bytes[size_t(n) * 8192];
    char* r = p + 96;
    r[0] = 0x10;
    r[2] = char(fixedEnd);
    r[fixedEnd] = char(columns);
    p[22] = 1;                              // one slot
    const int freeData = 96 + fixedEnd + 3;  // after the column count and one bitmap byte
    p[30] = char(freeData);
    p[31] = char(freeData >> 8);
    p[8190] = 96;
  };
  header(0, 15, 0, 0);
  header(1, 11, 0, 99);
  for (int i = 0; i < 8088; ++i) bytes[8192 + 100 + i] = char(0x40);
  const struct {
    int page;
    WORD indexId;
    DWORD objectId;
    int fixedEnd, columns;
  } data[] = {{2, 1, 34, 20, 5},  {3, 1, 34, 20, 5},  {4, 0x1234, 34, 20, 5}, {5, 256, 34, 20, 5},
              {6, 256, 46, 12, 3}, {7, 256, 46, 12, 3}, {8, 256, 46, 20, 5},   {10, 0x1234, 50, 30, 2},
              {11, 1, 60, 10, 2},  {12, 1, 60, 10, 2},  {13, 256, 60, 40, 9}};
  for (const auto& d : data) {
    header(d.page, 1, d.indexId, d.objectId);
    record(d.page, d.fixedEnd, d.columns);
  }
  const allocpages::Page iam = allocpages::Iam(9, {6, 7}, {}, 0, 0, 46, 256);
  bytes.replace(9 * 8192, 8192, reinterpret_cast<const char*>(iam.data()), 8192);
  const std::string path = dir.file("layout.mdf");
  testsupport::WriteFile(path, bytes);
  CSQLServer2008 engine;
  RunCensus(engine, path);

  CTable* objects = nullptr;
  ASSERT_TRUE(engine.m_mapTables.Lookup("34", objects));
  EXPECT_EQ(objects->m_vecDataPages, std::vector<DWORD>({2, 3, 4, 5}));
  const std::string user = std::to_string((UINT64(1) << 56) | (UINT64(46) << 16));
  CTable* group = nullptr;
  ASSERT_TRUE(engine.m_mapPageGroups.Lookup(user, group));
  EXPECT_EQ(group->m_vecDataPages, std::vector<DWORD>({6, 7}));
  ASSERT_TRUE(engine.m_mapPageGroups.Lookup(user + " (unplaced)", group));
  EXPECT_EQ(group->m_vecDataPages, std::vector<DWORD>({8}));
  ASSERT_TRUE(engine.m_mapPageGroups.Lookup(
      std::to_string((UINT64(0x1234) << 48) | (UINT64(50) << 16)) + " (unplaced)", group));
  EXPECT_EQ(group->m_vecDataPages, std::vector<DWORD>({10}));
  ASSERT_TRUE(engine.m_mapPageGroups.Lookup(std::to_string((UINT64(1) << 56) | (UINT64(60) << 16)), group));
  EXPECT_EQ(group->m_vecDataPages, std::vector<DWORD>({13}));
  EXPECT_EQ(engine.m_mapPageGroups.GetCount(), 4);

  const std::string log = scope.ReadExecLog();
  for (const char* line :
       {"data page 0:4 names index id 4660, object id 34 in its header; no IAM page holds it, and its records have the "
        "layout of index id 1, object id 34",
        "data page 0:5 names index id 256, object id 34 in its header; no IAM page holds it, and its records have the "
        "layout of index id 1, object id 34",
        "data page 0:8 names index id 256, object id 46 in its header, but that unit's IAM pages do not hold it",
        "data page 0:10 names index id 4660, object id 50 in its header, which is no unit of data pages"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  EXPECT_EQ(log.find("data page 0:2 "), std::string::npos);
  EXPECT_EQ(log.find("data page 0:6 "), std::string::npos);
  EXPECT_EQ(log.find("data page 0:13 "), std::string::npos);
}

TEST(Census, BackupStreamPositionsAndTextPages) {
  REQUIRE_FIXTURE(path, "bak2008_library_small.bak");
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  RunCensus(engine, path);
  ASSERT_NE(engine.m_pCurrentSet, nullptr);
  EXPECT_EQ(engine.m_nDataSetStart, 7680);
  EXPECT_EQ(engine.m_pStatus->m_nTotalPages, engine.m_pCurrentSet->m_nPages);
  INT64 pos = -1;
  engine.GetPageOffset(9, &pos);
  EXPECT_EQ(pos, 7680 + 9 * 8192);
  engine.GetPageOffset(engine.m_pCurrentSet->m_nPages, &pos);
  EXPECT_EQ(pos, 0);  // beyond the set
  std::vector<BYTE> page(8192);
  ASSERT_TRUE(engine.ReadSourcePage(9, page.data()));
  EXPECT_EQ(PageTypeOf(page.data()), kPageBoot);
  // Every text page found by the census is where the map says, under its own page id.
  ASSERT_FALSE(engine.m_mapTextPages.IsEmpty());
  for (const auto& [id, index] : engine.m_mapTextPages) {
    ASSERT_TRUE(engine.ReadPageById(DWORD(std::stoul(id)), page.data()));
    EXPECT_EQ(PageIdOf(page.data()), std::stoul(id));
    BYTE type = PageTypeOf(page.data());
    EXPECT_TRUE(type == 3 || type == 4 || type == 5) << int(type);
  }
}

TEST(Census, BackupsFileUserPagesAndKeepFreedPagesAside) {
  struct Expect {
    const char* file;
    bool unitGroups;  // databases upgraded from 2000 keep user pages under index id 0/1
  } cases[] = {{"bak2008_northwind_thuyluv.bak", false}, {"bak2008r2_northwind_victor.bak", true},
               {"bak2008r2_entrepot_fr.bak", true}};
  for (const auto& c : cases) {
    std::string path = testsupport::FixturePath(c.file);
    if (path.empty()) GTEST_SKIP() << "fixtures not available";
    ModuleFolderScope scope;
    CSQLServer2008 engine;
    RunCensus(engine, path);
    EXPECT_EQ(!engine.m_mapPageGroups.IsEmpty(), c.unitGroups) << c.file;
    // The catalog's own tables are there: objects (34), columns (41), rowsets (5), units (7).
    for (const char* id : {"5", "7", "34", "41"}) {
      CTable* t = nullptr;
      EXPECT_TRUE(engine.m_mapTables.Lookup(id, t) && t && !t->m_vecDataPages.empty()) << c.file << " " << id;
    }
    size_t freed = 0;
    for (const auto& e : engine.m_mapTables) freed += e.second->m_vecFreedPages.size();
    for (const auto& e : engine.m_mapPageGroups) freed += e.second->m_vecFreedPages.size();
    if (std::string(c.file) == "bak2008r2_entrepot_fr.bak") {
      EXPECT_EQ(freed, 19u);
    }
  }
}

TEST(Scan, EveryFixtureRunsTheStagesInOrder) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  for (const auto& [file, name] : kScannable) {
    std::string path = testsupport::FixturePath(file);
    ASSERT_FALSE(path.empty()) << file;
    ModuleFolderScope scope;
    CSQLServer2008 engine;
    auto r = RunRecovery(engine, path);
    ASSERT_TRUE(r.finished) << file;
    EXPECT_EQ(r.sysRounds, 3) << file;
    EXPECT_EQ(r.pagesCounted, engine.m_pStatus->m_nTotalPages) << file;
    EXPECT_TRUE(r.progressReady) << file;
    EXPECT_EQ(engine.m_strDatabaseName.str(), name) << file;
    EXPECT_EQ(engine.m_pStatus->m_strDatabaseName.str(), name) << file;
    EXPECT_EQ(StageLines(scope.ReadExecLog()), kStageOrder) << file;
    EXPECT_FALSE(engine.m_mapTables.Contains("55")) << file;
    EXPECT_EQ(engine.m_pStatus->m_nTableCount, engine.m_mapTables.GetCount()) << file;
    EXPECT_EQ(engine.m_pStatus->m_nViewCount, engine.m_mapViews.GetCount()) << file;
    EXPECT_EQ(engine.m_pStatus->m_nProcCount, engine.m_mapStoredProcs.GetCount()) << file;
    EXPECT_EQ(engine.m_pStatus->m_nFunctionCount, engine.m_mapFunctions.GetCount()) << file;
    EXPECT_EQ(engine.m_nDataTypeCount, engine.m_mapDataTypes.GetCount()) << file;
    if (engine.m_nDataSetCount > 0) {
      // The page total is the chosen set's own.
      ASSERT_NE(engine.m_pCurrentSet, nullptr);
      EXPECT_EQ(engine.m_pStatus->m_nTotalPages, int(engine.m_pCurrentSet->m_pStream->nLength / 8192)) << file;
    }
  }
}

TEST(Scan, BothSetsOfATwoSetBackup) {
  REQUIRE_FIXTURE(path, "bak2005_stdb2sql_2sets.bak");
  std::vector<INT64> starts;
  for (int set : {1, 2}) {
    ModuleFolderScope scope;
    CSQLServer2008 engine;
    RecoveryOptions o;
    o.selectedSet = set;
    auto r = RunRecovery(engine, path, o);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(engine.m_nDataSetCount, 2);
    EXPECT_EQ(engine.m_strDatabaseName.str(), "StDb2SQL");
    EXPECT_EQ(r.pagesCounted, 208);
    starts.push_back(engine.m_nDataSetStart);
    EXPECT_EQ(StageLines(scope.ReadExecLog()).back(), "Parse Complete");
  }
  EXPECT_NE(starts[0], starts[1]);
}

TEST(Scan, OddInputEndsCleanly) {
  for (const char* file : {"bak2014_northwind_noboot.bak", "mdf2005pre_database_sp_v590.mdf",
                           "mdf2005pre_prosseappsch07_v607.mdf", "bak_compressed_northwind.bak",
                           "bak2012_diff_6sets_2dbs.bak", "sql2000data_model.mdf"}) {
    std::string path = testsupport::FixturePath(file);
    if (path.empty()) GTEST_SKIP() << "fixtures not available";
    ModuleFolderScope scope;
    CSQLServer2008 engine;
    auto r = RunRecovery(engine, path);
    EXPECT_TRUE(r.finished) << file;
    EXPECT_EQ(StageLines(scope.ReadExecLog()).back(), "Parse Complete") << file;
    if (std::string(file) == "bak2014_northwind_noboot.bak") {
      EXPECT_EQ(engine.m_strDatabaseName.str(), "");
    }
  }
}

TEST(Scan, NoSelectedSetGivesAnEmptyCatalog) {
  REQUIRE_FIXTURE(path, "bak2008_library_small.bak");
  for (int set : {0, -1, 7}) {
    ModuleFolderScope scope;
    CSQLServer2008 engine;
    RecoveryOptions o;
    o.selectedSet = set;
    auto r = RunRecovery(engine, path, o);
    EXPECT_TRUE(r.finished) << set;
    EXPECT_EQ(engine.m_pCurrentSet, nullptr);
    EXPECT_EQ(engine.m_pStatus->m_nTotalPages, 0);
    EXPECT_TRUE(engine.m_mapTables.IsEmpty());
    EXPECT_EQ(StageLines(scope.ReadExecLog()).back(), "Parse Complete");
  }
}

TEST(Scan, StopInTheCensusOrAtAHandShakeEndsTheScanPromptly) {
  REQUIRE_FIXTURE(path, "bak2008_northwind_thuyluv.bak");
  for (int where : {0, 1, 2, 3}) {
    ModuleFolderScope scope;
    CSQLServer2008 engine;
    RecoveryOptions o;
    if (where == 0) o.stopAfterPages = 50;
    else o.stopAtSysRound = where;
    o.timeoutMs = 20000;
    auto start = std::chrono::steady_clock::now();
    auto r = RunRecovery(engine, path, o);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(r.finished) << where;
    // The whole run, the reading up to the stop included, so the bound leaves room for a loaded
    // machine; a stop that went unheard would be waited out only at the 20 s guard.
    EXPECT_LT(elapsed, std::chrono::seconds(5)) << where;
    auto lines = StageLines(scope.ReadExecLog());
    EXPECT_TRUE(lines.empty() || lines.back() != "Parse Complete") << where;
  }
  // A later recovery in the same process is not disturbed by the stopped ones.
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  auto r = RunRecovery(engine, path);
  EXPECT_TRUE(r.finished);
  EXPECT_EQ(r.pagesCounted, engine.m_pStatus->m_nTotalPages);
  EXPECT_EQ(StageLines(scope.ReadExecLog()), kStageOrder);
}
