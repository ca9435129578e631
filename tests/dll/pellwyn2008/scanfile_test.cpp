#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <string>

#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/archive.h"
#include "support/catalogtext.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "support/indexedview.h"
#include "support/scanfilebytes.h"

using testsupport::ModuleFolderScope;

namespace {

const char* const kFixtures[] = {
    "bak2005_northwind_gabrujo.bak", "bak2005_northwnd_mina.bak",     "bak2005_stdb2sql_2sets.bak",
    "bak2008_library_small.bak",     "bak2008_northwind_512blk.bak",  "bak2008_northwind_thuyluv.bak",
    "bak2008r2_entrepot_fr.bak",     "bak2008r2_northwind_victor.bak", "mdf2005_pubs_upg2000.mdf",
    "mdf2008_qlsinhvien.mdf",        "mdf2008_pubs_itsligo.mdf",       "mdf2008_northwnd_itsligo.mdf",
    "mdf2008r2_northwnd_upg2000.mdf",
};

std::string CatalogText(const CSQLServer2008& engine) {
  std::ostringstream out;
  testsupport::PrintCatalog(engine, out);
  return out.str();
}

// Opens a scan file as the program's Open Scan does. Returns false when the archive raised.
bool OpenScan(const std::string& path, CSQLServer2008& engine, std::string* failure = nullptr) {
  CArchive ar;
  if (!ar.Open(path.c_str(), CArchive::load)) return false;
  try {
    CString magic, version;
    ar >> magic >> version;
    if (magic != "tarnwell" || version != "2008") return false;
    engine.FreeRecoveredObjects();
    engine.LoadScanInfo(ar);
    return true;
  } catch (const CArchiveException& e) {
    if (failure) *failure = e.what();
    return false;
  }
}

// Per table, what the catalog text does not print: its freed pages and its columns' collations.
std::string FactsText(const CSQLServer2008& engine, size_t* freed = nullptr, size_t* collated = nullptr) {
  std::ostringstream out;
  for (const auto& [key, t] : engine.m_mapTables) {
    out << key << ":";
    for (DWORD page : t->m_vecFreedPages) out << " " << page;
    out << " |";
    for (const CColumn* c = t->m_pColumnHead; c; c = c->m_pNext) {
      out << " " << c->m_dwCollation;
      if (collated && c->m_dwCollation) ++*collated;
    }
    out << "\n";
    if (freed) *freed += t->m_vecFreedPages.size();
  }
  return out.str();
}

}  // namespace

TEST(ScanFile, EveryFixtureSavesAndLoadsTheSameCatalog) {
  size_t collated = 0;
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  for (const char* file : kFixtures) {
    ModuleFolderScope scope;
    testsupport::TempDir dir;
    CSQLServer2008 scanned;
    ASSERT_TRUE(testsupport::RunRecovery(scanned, testsupport::FixturePath(file)).finished) << file;
    const std::string path = dir.file("scan.str");
    scanned.m_fnAskSavePath = [&](CString& p) {
      p = path.c_str();
      return true;
    };
    scanned.SaveScanInfo();
    ASSERT_EQ(scanned.m_nLastSaveResult, 1) << file;
    std::string bytes = testsupport::ReadFile(path);
    ASSERT_GE(bytes.size(), 46u);
    EXPECT_EQ(bytes.substr(0, 14), std::string("\x08tarnwell\x04" "2008", 14)) << file;
    CSQLServer2008 loaded;
    ASSERT_TRUE(OpenScan(path, loaded)) << file;
    EXPECT_EQ(CatalogText(loaded), CatalogText(scanned)) << file;
    EXPECT_EQ(FactsText(loaded), FactsText(scanned, nullptr, &collated)) << file;
    EXPECT_EQ(loaded.m_strFilePath, scanned.m_strFilePath);
    // A loaded scan saves back to the same bytes.
    ASSERT_TRUE(loaded.SaveScanFile(dir.file("again.str").c_str()));
    EXPECT_EQ(testsupport::ReadFile(dir.file("again.str")), bytes) << file;
  }
  // Collated columns are on every fixture; freed pages the synthetic tests show.
  EXPECT_GT(collated, 0u);
}

TEST(ScanFile, EmptyEngineCancelAndFailedSave) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  CSQLServer2008 engine;
  engine.m_strDatabaseName = "db";
  ASSERT_TRUE(engine.SaveScanFile(dir.file("empty.str").c_str()));
  // Header, name, empty path, eight zero counts, and the extension with its empty schema.
  std::string want =
      std::string("\x08tarnwell\x04" "2008\x02" "db\x00", 18) + std::string(32, '\0') + testsupport::EmptySchemaExtension();
  EXPECT_EQ(testsupport::ReadFile(dir.file("empty.str")), want);
  // Cancelled dialog: nothing written.
  engine.m_fnAskSavePath = [](CString&) { return false; };
  engine.SaveScanInfo();
  EXPECT_EQ(engine.m_nLastSaveResult, -1);
  // A failed save leaves the old file intact and says so.
  testsupport::WriteFile(dir.file("keep.str"), "old contents");
  CString error;
  EXPECT_FALSE(engine.SaveScanFile((dir.path() + "/missing-folder/x.str").c_str(), &error));
  EXPECT_FALSE(error.IsEmpty());
  std::string blocker = dir.file("keep.str") + ".tmp";
  std::filesystem::create_directory(blocker);  // the temporary file cannot be created
  EXPECT_FALSE(engine.SaveScanFile(dir.file("keep.str").c_str()));
  EXPECT_EQ(testsupport::ReadFile(dir.file("keep.str")), "old contents");
}

TEST(ScanFile, CountsFollowTheMapsSoTheFileAlwaysLoads) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  CSQLServer2008 engine;
  auto* view = new CViewStoredProc;
  view->m_strName = "v";
  view->m_strText = "create view v as select 1";
  engine.m_mapViews.SetAt("101", view);
  CTable* t = engine.NewTable();
  t->m_strName = "T";
  t->m_dwObjectId = 7;
  engine.m_mapTables.SetAt("7", t);
  engine.m_nViewCount = 5;  // stale counts must not reach the file
  engine.m_nTableCount = 0;
  ASSERT_TRUE(engine.SaveScanFile(dir.file("s.str").c_str()));
  CSQLServer2008 loaded;
  ASSERT_TRUE(OpenScan(dir.file("s.str"), loaded));
  EXPECT_EQ(loaded.m_mapViews.GetCount(), 1);
  EXPECT_EQ(loaded.m_mapTables.GetCount(), 1);
  EXPECT_EQ(loaded.m_nViewCount, 1);
}

// Save Scan then Open Scan keeps an indexed view's indexes, so its Views.sql is the same; a
// file of the layout before them opens with the view and no index, and says so.
TEST(ScanFile, IndexedViewKeepsItsIndexesAndAnOlderFileOpensWithout) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  CSQLServer2008 engine;
  engine.m_mapViews.SetAt("2001", testsupport::NewIndexedView());
  const std::string file = dir.file("s.str");
  ASSERT_TRUE(engine.SaveScanFile(file.c_str()));
  engine.BeginSchemaExport();
  const std::string scanned = testsupport::ViewScript(engine, engine.m_mapViews.begin()->second, dir);
  ASSERT_NE(scanned.find(testsupport::kIndexedViewIndexes), std::string::npos) << scanned;

  CSQLServer2008 loaded;
  ASSERT_TRUE(OpenScan(file, loaded));
  ASSERT_EQ(loaded.m_mapViews.GetCount(), 1);
  loaded.BeginSchemaExport();
  EXPECT_EQ(testsupport::ViewScript(loaded, loaded.m_mapViews.begin()->second, dir), scanned);

  // The same file cut where the extension begins: a file of the older layout.
  const std::string bytes = testsupport::ReadFile(file);
  const size_t layoutEnd = testsupport::ScanExtensionOffset(bytes);
  ASSERT_NE(layoutEnd, std::string::npos);
  testsupport::WriteFile(dir.file("old.str"), bytes.substr(0, layoutEnd));
  CSQLServer2008 older;
  ASSERT_TRUE(OpenScan(dir.file("old.str"), older));
  ASSERT_EQ(older.m_mapViews.GetCount(), 1);
  CViewStoredProc* view = older.m_mapViews.begin()->second;
  EXPECT_TRUE(view->m_vecIndexes.empty() && view->m_vecColumns.empty());
  older.BeginSchemaExport();
  EXPECT_EQ(testsupport::ViewScript(older, view, dir), view->m_strText.str() + "\r\n\r\ngo\r\n");
  EXPECT_NE(scope.ReadExecLog().find("Scan file written before indexes on views were kept"), std::string::npos);
}

// Section counts that cannot describe the bytes after them: a negative one (whose section
// would otherwise be read as the next one's) or counts too large for the file together.
TEST(ScanFile, SectionCountsThatDoNotFitAreRefused) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  CSQLServer2008 engine;
  engine.m_strDatabaseName = "db";
  CTable* t = engine.NewTable();
  t->m_strName = "T";
  t->m_dwObjectId = 7;
  engine.m_mapTables.SetAt("7", t);
  auto* view = new CViewStoredProc;
  view->m_strName = "v";
  view->m_strText = "create view v as select 1";
  engine.m_mapViews.SetAt("101", view);
  ASSERT_TRUE(engine.SaveScanFile(dir.file("s.str").c_str()));
  const std::string good = testsupport::ReadFile(dir.file("s.str"));
  const size_t countsAt = 18;  // header, "db", empty source path
  auto withCount = [&](int section, int value) {
    std::string bytes = good;
    for (int i = 0; i < 4; ++i) bytes[countsAt + 4 * section + i] = char(unsigned(value) >> (8 * i));
    return bytes;
  };
  const int left = int(good.size() - countsAt - 32);
  const struct {
    const char* what;
    int section;
    int value;
  } cases[] = {
      {"no data types, but a negative count", 0, -1},
      {"the table read as a view", 2, -1},
      {"a view count far below zero", 3, -2147483647 - 1},
      // Views alone would fit; with the table in front of them they cannot.
      {"views and the table together too long", 3, left / int(1 + CViewStoredProc::kMinArchiveBytes)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::WriteFile(dir.file("d.str"), withCount(c.section, c.value));
    CSQLServer2008 loaded;
    std::string failure;
    EXPECT_FALSE(OpenScan(dir.file("d.str"), loaded, &failure));
    EXPECT_FALSE(failure.empty());
    EXPECT_TRUE(loaded.m_mapTables.IsEmpty());
    EXPECT_TRUE(loaded.m_mapViews.IsEmpty());
  }
  EXPECT_NE(scope.ReadExecLog().find("Scan file refused: section 3 has a negative count"), std::string::npos);
  EXPECT_NE(scope.ReadExecLog().find("Scan file refused: its section counts do not fit the file"), std::string::npos);
  CSQLServer2008 loaded;
  ASSERT_TRUE(OpenScan(dir.file("s.str"), loaded));
  EXPECT_EQ(loaded.m_mapTables.GetCount(), 1);
  EXPECT_EQ(loaded.m_mapViews.GetCount(), 1);
}

TEST(ScanFile, LoadedBackupScanReadsNoPages) {
  REQUIRE_FIXTURE(path, "bak2008_library_small.bak");
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  CSQLServer2008 scanned;
  ASSERT_TRUE(testsupport::RunRecovery(scanned, path).finished);
  ASSERT_TRUE(scanned.SaveScanFile(dir.file("s.str").c_str()));
  CSQLServer2008 loaded;
  ASSERT_TRUE(OpenScan(dir.file("s.str"), loaded));
  EXPECT_FALSE(loaded.HasPageSource());
  std::vector<BYTE> page(8192);
  EXPECT_FALSE(loaded.ReadSourcePage(9, page.data()));  // not read as a plain file
}

TEST(ScanFile, DamagedFilesNeverCrash) {
  REQUIRE_FIXTURE(path, "bak2008_northwind_512blk.bak");
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  CSQLServer2008 scanned;
  ASSERT_TRUE(testsupport::RunRecovery(scanned, path).finished);
  ASSERT_TRUE(scanned.SaveScanFile(dir.file("s.str").c_str()));
  const std::string good = testsupport::ReadFile(dir.file("s.str"));
  std::mt19937 rng(1234);
  int raised = 0, cases = 0;
  auto tryLoad = [&](const std::string& bytes) {
    testsupport::WriteFile(dir.file("d.str"), bytes);
    CSQLServer2008 engine;
    std::string failure;
    if (!OpenScan(dir.file("d.str"), engine, &failure) && !failure.empty()) ++raised;
    ++cases;
  };
  for (size_t cut = 0; cut < good.size(); cut += std::max<size_t>(1, good.size() / 300)) tryLoad(good.substr(0, cut));
  for (int round = 0; round < 150; ++round) {
    std::string bytes = good;
    for (int k = 0; k < 8; ++k) bytes[rng() % bytes.size()] = char(rng());
    tryLoad(bytes);
  }
  // A text file named .str: its first byte announces a string longer than the file.
  tryLoad("Content of a text file that is not a scan file at all\n");
  EXPECT_GT(raised, 250);  // nearly every truncation raises
  EXPECT_GT(cases, 400);
}

// A file of the layout before the extension (the same file cut where it begins) still opens;
// the log says what its scan lacks, and the constraints are not made up.
TEST(ScanFile, AFileWithoutTheExtensionOpensAndSaysWhatItLacks) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  REQUIRE_FIXTURE(path, "mdf2008_northwnd_itsligo.mdf");
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  CSQLServer2008 scanned;
  ASSERT_TRUE(testsupport::RunRecovery(scanned, path).finished);
  const std::string file = dir.file("new.str");
  ASSERT_TRUE(scanned.SaveScanFile(file.c_str()));
  const std::string bytes = testsupport::ReadFile(file);
  const size_t layoutEnd = testsupport::ScanExtensionOffset(bytes);
  ASSERT_NE(layoutEnd, std::string::npos);
  testsupport::WriteFile(dir.file("old.str"), bytes.substr(0, layoutEnd));

  CSQLServer2008 loaded;
  ASSERT_TRUE(OpenScan(dir.file("old.str"), loaded));
  EXPECT_NE(scope.ReadExecLog().find("Scan file written before constraints were kept"), std::string::npos);
  EXPECT_NE(scope.ReadExecLog().find("Scan file written before freed pages were kept"), std::string::npos);
  EXPECT_FALSE(loaded.m_bRecoveryStopped);
  int keys = 0, checks = 0, named = 0, tables = 0;
  for (const auto& [key, t] : loaded.m_mapTables) {
    ++tables;
    for (const CForeignKey* k = t->m_pForeignKeyHead; k; k = k->m_pNext) ++keys;
    checks += int(t->m_vecChecks.size());
    for (const CColumn* c = t->m_pColumnHead; c; c = c->m_pNext) named += c->m_strDefaultName.IsEmpty() ? 0 : 1;
  }
  EXPECT_EQ(tables, 13);
  EXPECT_EQ(keys + checks + named, 0);

  // The whole file brings them back.
  CSQLServer2008 whole;
  ASSERT_TRUE(OpenScan(file, whole));
  EXPECT_EQ(CatalogText(whole), CatalogText(scanned));
}
