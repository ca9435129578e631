// The 2000 engine on the real SQL Server 2000 files: the recovered catalogs of Northwind and
// pubs against their public install scripts, the backup path through real 2000 pages in a
// real backup's tape framing, scan files, and every newer fixture as wrong-format input.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/backupreader.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "platform/archive.h"
#include "support/backupwrap.h"
#include "support/catalogtext.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "support/oracleddl.h"

using testsupport::ModuleFolderScope;
using testsupport::LowerText;
using testsupport::OracleSchema;
using testsupport::RunRecovery;

namespace {

std::string CatalogText(const CSQLServer2000& engine) {
  std::ostringstream out;
  testsupport::PrintCatalog(engine, out);
  return out.str();
}

// Parentheses, blanks and case do not count in a default's text.
std::string DefaultKey(const std::string& s) {
  std::string out;
  for (char c : LowerText(s))
    if (c != '(' && c != ')' && c != ' ') out += c;
  return out;
}

// Stored length of a column as the script declares it; -1 when the script does not say.
int DeclaredLength(const std::string& type, int n) {
  static const std::map<std::string, int> fixed = {
      {"int", 4},      {"smallint", 2}, {"tinyint", 1}, {"bit", 1},   {"datetime", 8}, {"smalldatetime", 4},
      {"money", 8},    {"smallmoney", 4}, {"real", 4},  {"float", 8}, {"ntext", 16},   {"text", 16},
      {"image", 16},   {"uniqueidentifier", 16}};
  if (auto it = fixed.find(type); it != fixed.end()) return it->second;
  if (type == "nchar" || type == "nvarchar") return n < 0 ? -1 : 2 * n;
  if (type == "char" || type == "varchar" || type == "binary" || type == "varbinary") return n;
  return -1;
}

const CColumn* ColumnById(const CTable* t, int id) {
  for (const CColumn* c = t->m_pColumnHead; c; c = c->m_pNext)
    if (c->m_nColumnId == id) return c;
  return nullptr;
}

// The recovered catalog of one database, compared with its install script.
void CompareWithScript(CSQLServer2000& engine, const OracleSchema& oracle, int foreignKeys) {
  std::map<std::string, const CTable*> tables;
  for (const auto& e : engine.m_mapTables) tables[e.second->m_strName.str()] = e.second;
  std::set<std::string> expectedNames, names;
  for (const auto& e : oracle.tables) expectedNames.insert(e.first);
  for (const auto& e : tables) names.insert(e.first);
  ASSERT_EQ(names, expectedNames);

  int keysSeen = 0;
  for (const auto& [name, expected] : oracle.tables) {
    SCOPED_TRACE(name);
    const CTable* t = tables.at(name);
    EXPECT_EQ(t->m_strOwner, "dbo");
    std::vector<const CColumn*> columns;
    for (const CColumn* c = t->m_pColumnHead; c; c = c->m_pNext) columns.push_back(c);
    ASSERT_EQ(columns.size(), expected.columns.size());
    std::set<std::string> keyColumns;
    for (const auto& k : expected.keys)
      if (k.primary) keyColumns.insert(k.columns.begin(), k.columns.end());
    for (size_t i = 0; i < columns.size(); ++i) {
      const CColumn* c = columns[i];
      const auto& x = expected.columns[i];
      SCOPED_TRACE(x.name);
      EXPECT_EQ(c->m_strName, x.name.c_str());
      EXPECT_EQ(LowerText(c->m_strUserType.str()), x.type);
      auto userType = oracle.userTypes.find(x.type);
      int length = DeclaredLength(x.type, x.length);
      std::optional<bool> nullable = x.nullable;
      if (userType != oracle.userTypes.end()) {
        const std::string base = userType->second.base;
        const size_t paren = base.find('(');
        length = DeclaredLength(base.substr(0, paren), paren == std::string::npos ? -1 : std::stoi(base.substr(paren + 1)));
        EXPECT_EQ(c->m_strType.str(), base.substr(0, paren));
        if (!nullable && userType->second.notNull) nullable = false;
      }
      if (!nullable && (keyColumns.count(x.name) || x.identity)) nullable = false;
      if (length >= 0) EXPECT_EQ(c->m_wLength, length);
      if (nullable) EXPECT_EQ(c->m_bNullable, *nullable);
      EXPECT_EQ(c->m_bIdentity, x.identity);
      if (x.identity) {
        EXPECT_EQ(c->m_nIdentitySeed64, x.seed);
        EXPECT_EQ(c->m_nIdentityIncrement64, x.increment);
      }
      EXPECT_EQ(DefaultKey(c->m_strDefault.str()), DefaultKey(x.defaultText));
    }

    // Keys and indexes: each of the script's, by name (a primary key the script leaves
    // unnamed is found as the primary key), and nothing else (no statistics).
    ASSERT_EQ(t->m_mapTableIndexes.GetCount(), int(expected.keys.size()));
    for (const auto& k : expected.keys) {
      const CIndexInfo* found = nullptr;
      for (const auto& e : t->m_mapTableIndexes)
        if (k.name.empty() ? bool(e.second->m_bPrimaryKey) : e.second->m_strName == k.name.c_str()) found = e.second;
      ASSERT_NE(found, nullptr) << k.name;
      EXPECT_EQ(bool(found->m_bPrimaryKey), k.primary) << k.name;
      EXPECT_EQ(bool(found->m_bClustered), k.clustered) << k.name;
      std::vector<std::string> columnNames;
      for (int id : found->m_vecColumns) columnNames.push_back(ColumnById(t, id)->m_strName.str());
      EXPECT_EQ(columnNames, k.columns) << k.name;
    }

    // Foreign keys with their column pairs; an unnamed reference means the primary key.
    std::multiset<std::string> expectedKeys, keys;
    for (const auto& fk : expected.foreignKeys) {
      std::vector<std::string> refColumns = fk.refColumns;
      if (refColumns.empty())
        for (const auto& k : oracle.tables.at(fk.refTable).keys)
          if (k.primary) refColumns = k.columns;
      std::string text = fk.refTable + ":";
      for (size_t i = 0; i < fk.columns.size(); ++i) text += fk.columns[i] + "->" + refColumns.at(i) + ",";
      expectedKeys.insert(text);
    }
    for (const CForeignKey* k = t->m_pForeignKeyHead; k; k = k->m_pNext) {
      CTable* ref = nullptr;
      ASSERT_TRUE(engine.m_mapTables.Lookup(FormatString("%ld", k->m_dwRefTableId).view(), ref));
      std::string text = ref->m_strName.str() + ":";
      for (size_t i = 0; i < k->m_vecKeyColumns.size(); ++i)
        text += ColumnById(t, k->m_vecKeyColumns[i])->m_strName.str() + "->" +
                ColumnById(ref, k->m_vecRefColumns[i])->m_strName.str() + ",";
      keys.insert(text);
      EXPECT_TRUE(engine.m_mapForeignKeyNames.Contains(FormatString("%lu", k->m_dwConstraintId).view()));
      ++keysSeen;
    }
    EXPECT_EQ(keys, expectedKeys);
  }
  EXPECT_EQ(keysSeen, foreignKeys);

  // Views, procedures and triggers with their whole texts.
  const std::pair<const CStringKeyMap<CViewStoredProc*>*, const std::map<std::string, std::string>*> kinds[] = {
      {&engine.m_mapViews, &oracle.views}, {&engine.m_mapStoredProcs, &oracle.procedures},
      {&engine.m_mapTriggers, &oracle.triggers}};
  for (const auto& [map, texts] : kinds) {
    std::map<std::string, std::string> found;
    for (const auto& e : *map) found[e.second->m_strName.str()] = testsupport::CollapseSpace(e.second->m_strText.str());
    ASSERT_EQ(found.size(), texts->size());
    for (const auto& [name, text] : *texts) {
      ASSERT_TRUE(found.count(name)) << name;
      EXPECT_EQ(found[name], text) << name;
    }
  }
  EXPECT_EQ(engine.m_mapFunctions.GetCount(), 0);
}

struct Database {
  const char* file;
  const char* script;
  const char* name;
  int tables, views, procedures, foreignKeys;
};
const Database kDatabases[] = {
    {"sample2000_NORTHWND.MDF", "oracle/instnwnd.sql", "Northwind", 13, 16, 7, 13},
    {"sample2000_PUBS.MDF", "oracle/instpubs.sql", "pubs", 11, 1, 4, 10},
};

}  // namespace

TEST(Fixtures2000, NorthwindAndPubsEqualTheirInstallScripts) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  for (const Database& db : kDatabases) {
    SCOPED_TRACE(db.file);
    REQUIRE_FIXTURE(path, db.file);
    REQUIRE_FIXTURE(script, db.script);
    const OracleSchema oracle = testsupport::ReadOracleSchema(testsupport::InstallScriptText(testsupport::ReadFile(script)));
    ASSERT_EQ(int(oracle.tables.size()), db.tables);
    ASSERT_EQ(int(oracle.views.size()), db.views);
    ASSERT_EQ(int(oracle.procedures.size()), db.procedures);
    ModuleFolderScope scope;
    CSQLServer2000 engine;
    const auto result = RunRecovery(engine, path);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.sysRounds, 3);
    EXPECT_EQ(engine.m_strDatabaseName, db.name);
    EXPECT_EQ(engine.m_pStatus->m_nTableCount, db.tables);
    EXPECT_EQ(engine.m_pStatus->m_nViewCount, db.views);
    EXPECT_EQ(engine.m_pStatus->m_nProcCount, db.procedures);
    CompareWithScript(engine, oracle, db.foreignKeys);
  }
}

TEST(Fixtures2000, ModelDatabaseHasNoUserObjects) {
  REQUIRE_FIXTURE(path, "sql2000data_model.mdf");
  ModuleFolderScope scope;
  CSQLServer2000 engine;
  const auto result = RunRecovery(engine, path);
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(engine.m_strDatabaseName, "model");
  EXPECT_EQ(engine.m_mapTables.GetCount(), 0);
  EXPECT_EQ(engine.m_mapViews.GetCount(), 0);  // syssegments and sysconstraints are the server's
  EXPECT_NE(scope.ReadExecLog().find("Parse Complete"), std::string::npos);
}

// No real 2000 backup exists: the real 2000 files inside the tape framing of a real backup
// with two sets must list both sets and scan, set by set, to the catalog of the file itself.
TEST(Fixtures2000, WrappedBackupsScanLikeTheirDatabaseFiles) {
  REQUIRE_FIXTURE(backup, "bak2005_stdb2sql_2sets.bak");
  REQUIRE_FIXTURE(northwind, "sample2000_NORTHWND.MDF");
  REQUIRE_FIXTURE(pubs, "sample2000_PUBS.MDF");
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  std::map<std::string, std::string> plain;
  for (const std::string& file : {northwind, pubs}) {
    CSQLServer2000 engine;
    ASSERT_TRUE(RunRecovery(engine, file).finished);
    plain[file] = CatalogText(engine);
  }
  struct Case {
    std::vector<std::string> files;
  } cases[] = {{{northwind}}, {{northwind, pubs}}, {{pubs, northwind}}};
  for (const Case& c : cases) {
    std::vector<std::string> images;
    for (const std::string& f : c.files) images.push_back(testsupport::ReadFile(f));
    std::string wrapped, error;
    ASSERT_TRUE(testsupport::WrapPagesInBackup(testsupport::ReadFile(backup), images, wrapped, &error)) << error;
    const std::string path = dir.file("wrapped.bak");
    testsupport::WriteFile(path, wrapped);
    for (size_t set = 1; set <= c.files.size(); ++set) {
      SCOPED_TRACE(c.files[set - 1] + " as set " + std::to_string(set));
      CSQLServer2000 engine;
      testsupport::RecoveryOptions options;
      options.selectedSet = int(set);
      const auto result = RunRecovery(engine, path, options);
      ASSERT_TRUE(result.finished);
      EXPECT_EQ(engine.m_nDataSetCount, 2);
      EXPECT_EQ(engine.m_pStatus->m_nTotalPages, int(images[set - 1].size() / 8192));
      EXPECT_EQ(CatalogText(engine), plain[c.files[set - 1]]);
      INT64 offset = 0;
      engine.GetPageOffset(0, &offset);
      EXPECT_EQ(UINT64(offset), engine.m_pCurrentSet->m_pStream->nOffset);
      engine.GetPageOffset(int(images[set - 1].size() / 8192), &offset);
      EXPECT_EQ(offset, 0);  // past the set's own stream
    }
  }
}

TEST(Fixtures2000, ScanFilesRoundTrip) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  for (const char* file : {"sample2000_NORTHWND.MDF", "sample2000_PUBS.MDF", "sql2000data_model.mdf"}) {
    SCOPED_TRACE(file);
    REQUIRE_FIXTURE(path, file);
    CSQLServer2000 engine;
    ASSERT_TRUE(RunRecovery(engine, path).finished);
    const std::string saved = dir.file("scan.str");
    ASSERT_TRUE(engine.SaveScanFile(saved.c_str()));
    CArchive ar;
    ASSERT_TRUE(ar.Open(saved.c_str(), CArchive::load));
    CString magic, version;
    ar >> magic >> version;
    EXPECT_EQ(magic, "tarnwell");
    EXPECT_EQ(version, "2000");
    CSQLServer2000 loaded;
    loaded.FreeRecoveredObjects();
    loaded.LoadScanInfo(ar);
    EXPECT_EQ(CatalogText(loaded), CatalogText(engine));
    const std::string again = dir.file("again.str");
    ASSERT_TRUE(loaded.SaveScanFile(again.c_str()));
    EXPECT_EQ(testsupport::ReadFile(again), testsupport::ReadFile(saved));
  }
}

// Pages of another format are the hardest input these readers get: every newer fixture
// must end the scan, with its three hand-shakes, and nothing read outside a buffer.
TEST(Fixtures2000, NewerFormatsEndTheScan) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  for (const char* file :
       {"bak2005_northwind_gabrujo.bak", "bak2005_northwnd_mina.bak", "bak2005_stdb2sql_2sets.bak",
        "bak2008_library_small.bak", "bak2008_northwind_512blk.bak", "bak2008_northwind_thuyluv.bak",
        "bak2008r2_entrepot_fr.bak", "bak2008r2_northwind_victor.bak", "bak2012_diff_6sets_2dbs.bak",
        "bak2014_northwind_noboot.bak", "bak_compressed_northwind.bak", "mdf2005_pubs_upg2000.mdf",
        "mdf2005pre_database_sp_v590.mdf", "mdf2005pre_prosseappsch07_v607.mdf", "mdf2008_qlsinhvien.mdf",
        "mdf2008_pubs_itsligo.mdf", "mdf2008_northwnd_itsligo.mdf", "mdf2008r2_northwnd_upg2000.mdf"}) {
    SCOPED_TRACE(file);
    const std::string path = testsupport::FixturePath(file);
    if (path.empty()) continue;
    ModuleFolderScope scope;
    CSQLServer2000 engine;
    const auto result = RunRecovery(engine, path);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.sysRounds, 3);
    EXPECT_NE(scope.ReadExecLog().find("Parse Complete"), std::string::npos);
  }
}
