#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "dll/pellwyn2005/pellwyn2005.h"
#include "platform/archive.h"
#include "support/catalogtext.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"

using testsupport::ModuleFolderScope;

namespace {

struct Source {
  const char* file;
  int set;
};

// Every 2005-format file of the fixtures, each set of the two-set backup, and the two
// pre-release files, whose odd on-disk versions both engines must survive alike.
const Source kSources2005[] = {
    {"bak2005_northwind_gabrujo.bak", 1}, {"bak2005_northwnd_mina.bak", 1},
    {"bak2005_stdb2sql_2sets.bak", 1},    {"bak2005_stdb2sql_2sets.bak", 2},
    {"mdf2005_pubs_upg2000.mdf", 1},      {"mdf2005pre_database_sp_v590.mdf", 1},
    {"mdf2005pre_prosseappsch07_v607.mdf", 1},
};

std::string CatalogText(const CSQLServer2008& engine) {
  std::ostringstream out;
  testsupport::PrintCensus(engine, out);
  testsupport::PrintCatalog(engine, out);
  return out.str();
}

std::string SaveTo(CSQLServer2008& engine, const std::string& path) {
  engine.m_fnAskSavePath = [&](CString& p) {
    p = path.c_str();
    return true;
  };
  engine.SaveScanInfo();
  EXPECT_EQ(engine.m_nLastSaveResult, 1) << path;
  return testsupport::ReadFile(path);
}

std::string ScanFileHead(const char* version) { return std::string("\x08tarnwell\x04", 10) + version; }

}  // namespace

// The stand-in recovers what the 2008 engine recovers, byte for byte in its scan file but for
// the version, and says which engine it is in the log.
TEST(Engine2005, ReadsEvery2005FixtureAsThe2008EngineDoes) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  for (const Source& source : kSources2005) {
    SCOPED_TRACE(std::string(source.file) + " set " + std::to_string(source.set));
    const std::string path = testsupport::FixturePath(source.file);
    ASSERT_FALSE(path.empty());
    testsupport::TempDir dir;
    testsupport::RecoveryOptions options;
    options.selectedSet = source.set;

    std::string bytes2008;
    std::string catalog2008;
    {
      ModuleFolderScope scope;
      CSQLServer2008 engine;
      ASSERT_TRUE(testsupport::RunRecovery(engine, path, options).finished);
      catalog2008 = CatalogText(engine);
      bytes2008 = SaveTo(engine, dir.file("2008.str"));
    }

    ModuleFolderScope scope;
    CSQLServer2005 engine;
    ASSERT_TRUE(testsupport::RunRecovery(engine, path, options).finished);
    EXPECT_EQ(CatalogText(engine), catalog2008);
    const std::string log = scope.ReadExecLog();
    EXPECT_NE(log.find("MSG:2005 Format"), std::string::npos);
    EXPECT_EQ(log.find("MSG:2008 Format"), std::string::npos);
    EXPECT_NE(log.find("MSG:Parse Complete"), std::string::npos);

    const std::string bytes2005 = SaveTo(engine, dir.file("2005.str"));
    ASSERT_GE(bytes2008.size(), 14u);
    ASSERT_EQ(bytes2005.substr(0, 14), ScanFileHead("2005"));
    EXPECT_EQ(bytes2008.substr(0, 14), ScanFileHead("2008"));
    EXPECT_EQ(bytes2005.substr(14), bytes2008.substr(14));
  }
}

// A scan file of the stand-in reopens with the stand-in as the program's Open Scan does.
TEST(Engine2005, ItsScanFileReopensWithTheSameCatalog) {
  REQUIRE_FIXTURE(path, "bak2005_northwind_gabrujo.bak");
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  CSQLServer2005 scanned;
  ASSERT_TRUE(testsupport::RunRecovery(scanned, path).finished);
  SaveTo(scanned, dir.file("scan.str"));

  CSQLServer2005 loaded;
  CArchive ar;
  ASSERT_TRUE(ar.Open(dir.file("scan.str").c_str(), CArchive::load));
  CString magic, version;
  ar >> magic >> version;
  EXPECT_EQ(magic, "tarnwell");
  EXPECT_EQ(version, loaded.ScanFileVersion());
  loaded.FreeRecoveredObjects();
  loaded.LoadScanInfo(ar);
  std::ostringstream a, b;
  testsupport::PrintCatalog(scanned, a);
  testsupport::PrintCatalog(loaded, b);
  EXPECT_EQ(b.str(), a.str());
  EXPECT_NE(a.str().find("Customers"), std::string::npos);
}
