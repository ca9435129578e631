// The schema scripts of the real SQL Server 2000 files, exported through engine-driver as the
// program's export worker writes them, read back against the public install scripts: every
// table's columns, keys, indexes and foreign keys, and every statement a clean T-SQL batch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dll/pellwyn2000/pellwyn2000.h"
#include "support/fakedatabase.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "support/oracleddl.h"
#include "support/oraclerows.h"
#include "support/tsqllexer.h"

namespace fs = std::filesystem;
using testsupport::LowerText;
using testsupport::OracleSchema;
using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

struct ExportRun {
  int status = -1;
  std::string output;
};

ExportRun RunExport(const std::string& file, const std::string& dir, const std::string& logDir, bool rows = false) {
  const std::string out = dir + ".out";
  const std::string cmd = "cd '" + logDir + "' && '" + std::string(PELLWYN_ENGINE_DRIVER) + "' export '" + file +
                          "' '" + dir + "' --format 2000" + (rows ? " --rows" : "") + " > '" + out + "' 2>&1";
  ExportRun r;
  r.status = std::system(cmd.c_str());
  r.output = ReadFile(out);
  return r;
}

// Parentheses, blanks and case do not count in a default's text.
std::string DefaultKey(const std::string& s) {
  std::string out;
  for (char c : LowerText(s))
    if (c != '(' && c != ')' && c != ' ') out += c;
  return out;
}

std::string KeyText(const testsupport::OracleKey& k) {
  std::string s = std::string(k.primary ? "primary" : "key") + (k.clustered ? " clustered" : "") + " (";
  for (const std::string& c : k.columns) s += c + ",";
  return s + ")";
}

// A foreign key as "referenced:column->referenced column,..."; an unnamed reference is the
// referenced table's primary key.
std::multiset<std::string> ForeignKeyTexts(const OracleSchema& schema, const testsupport::OracleTable& table) {
  std::multiset<std::string> out;
  for (const auto& fk : table.foreignKeys) {
    std::vector<std::string> refColumns = fk.refColumns;
    if (refColumns.empty() && schema.tables.count(fk.refTable))
      for (const auto& k : schema.tables.at(fk.refTable).keys)
        if (k.primary) refColumns = k.columns;
    std::string text = fk.refTable + ":";
    for (size_t i = 0; i < fk.columns.size(); ++i)
      text += fk.columns[i] + "->" + (i < refColumns.size() ? refColumns[i] : "?") + ",";
    out.insert(text);
  }
  return out;
}

struct Database {
  const char* file;
  const char* script;
  int tables, foreignKeys;
};
const Database kDatabases[] = {
    {"sample2000_NORTHWND.MDF", "oracle/instnwnd.sql", 13, 13},
    {"sample2000_PUBS.MDF", "oracle/instpubs.sql", 11, 10},
};

}  // namespace

TEST(Scripts2000Fixtures, NorthwindAndPubsScriptsEqualTheirInstallScripts) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  TempDir dir;
  for (const Database& db : kDatabases) {
    SCOPED_TRACE(db.file);
    REQUIRE_FIXTURE(path, db.file);
    REQUIRE_FIXTURE(script, db.script);
    const OracleSchema oracle = testsupport::ReadOracleSchema(testsupport::InstallScriptText(ReadFile(script)));
    const std::string out = dir.file(std::string(db.file) + ".export");
    // With the rows: their statements must lex too, and the schema read past them.
    const ExportRun run = RunExport(path, out, dir.path(), true);
    ASSERT_EQ(run.status, 0) << run.output;

    // Every statement of every script splits on "go" and lexes; the tables' scripts, keys
    // and foreign keys together are read as the install script is.
    // In the order the batch file runs them: a key is read into the table it belongs to.
    std::string types, tables, keys, foreign;
    int scripts = 0;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
      if (entry.path().extension() != ".sql") continue;
      const std::string text = ReadFile(entry.path().string());
      for (const std::string& batch : testsupport::SplitSqlBatches(text)) {
        const auto lexed = testsupport::LexSqlBatch(batch);
        EXPECT_TRUE(lexed.ok()) << entry.path() << ": " << lexed.error << "\n" << batch;
      }
      const std::string name = entry.path().filename().string();
      std::string* part = nullptr;
      if (entry.path().parent_path().filename() == "Tables")
        part = name.size() > 15 && name.substr(name.size() - 15) == "_Constraint.sql" ? &keys : &tables;
      else if (name == "ForeignKeys.sql") part = &foreign;
      else if (name == "UserDefinedDatatypes.sql") part = &types;
      if (part) {
        *part += text + "\r\ngo\r\n";
        ++scripts;
      }
    }
    const std::string all = types + tables + keys + foreign;
    EXPECT_EQ(scripts, 2 * db.tables + 2);
    const OracleSchema exported = testsupport::ReadOracleSchema(all);

    std::set<std::string> names, expectedNames;
    for (const auto& e : oracle.tables) expectedNames.insert(e.first);
    for (const auto& e : exported.tables) names.insert(e.first);
    ASSERT_EQ(names, expectedNames);

    int foreignKeys = 0;
    for (const auto& [name, expected] : oracle.tables) {
      SCOPED_TRACE(name);
      const testsupport::OracleTable& got = exported.tables.at(name);
      std::set<std::string> keyColumns;
      for (const auto& k : expected.keys)
        if (k.primary) keyColumns.insert(k.columns.begin(), k.columns.end());
      ASSERT_EQ(got.columns.size(), expected.columns.size());
      for (size_t i = 0; i < got.columns.size(); ++i) {
        const auto& c = got.columns[i];
        const auto& x = expected.columns[i];
        SCOPED_TRACE(x.name);
        EXPECT_EQ(c.name, x.name);
        // The table names the base type of a user type, with its size.
        std::string type = x.type;
        int length = x.length;
        bool notNull = false;
        if (auto user = oracle.userTypes.find(x.type); user != oracle.userTypes.end()) {
          const std::string& base = user->second.base;
          const size_t paren = base.find('(');
          type = base.substr(0, paren);
          length = paren == std::string::npos ? -1 : std::stoi(base.substr(paren + 1));
          notNull = user->second.notNull;
        }
        EXPECT_EQ(c.type, type);
        EXPECT_EQ(c.length, length);
        const bool nullable = x.nullable.value_or(!(notNull || keyColumns.count(x.name) || x.identity));
        EXPECT_EQ(c.nullable.value_or(true), nullable);
        EXPECT_EQ(c.identity, x.identity);
        EXPECT_EQ(c.seed, x.seed);
        EXPECT_EQ(c.increment, x.increment);
        EXPECT_EQ(DefaultKey(c.defaultText), DefaultKey(x.defaultText));
      }

      // Primary keys, unique constraints and indexes: each of the script's, by name (the
      // primary key as the primary key), and nothing else.
      ASSERT_EQ(got.keys.size(), expected.keys.size());
      for (const auto& k : expected.keys) {
        const testsupport::OracleKey* found = nullptr;
        for (const auto& g : got.keys)
          if (k.name.empty() ? g.primary : g.name == k.name) found = &g;
        ASSERT_NE(found, nullptr) << k.name;
        EXPECT_EQ(KeyText(*found), KeyText(k)) << k.name;
      }
      EXPECT_EQ(ForeignKeyTexts(exported, got), ForeignKeyTexts(oracle, expected));
      foreignKeys += int(got.foreignKeys.size());
    }
    EXPECT_EQ(foreignKeys, db.foreignKeys);
  }
}

// The same export to a server: every statement the scripts hold reaches the connection (and
// a schema statement per table), and the foreign keys come after the last table.
TEST(Scripts2000Fixtures, ServerExportSendsWhatTheScriptsHold) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  TempDir dir;
  for (const Database& db : kDatabases) {
    SCOPED_TRACE(db.file);
    REQUIRE_FIXTURE(path, db.file);
    const std::string out = dir.file(std::string(db.file) + ".export");
    const ExportRun run = RunExport(path, out, dir.path());
    ASSERT_EQ(run.status, 0) << run.output;
    std::multiset<std::string> scripted;
    for (const auto& entry : fs::recursive_directory_iterator(out))
      if (entry.path().extension() == ".sql")
        for (const std::string& s : testsupport::SplitSqlStatements(ReadFile(entry.path().string()))) scripted.insert(s);

    testsupport::ModuleFolderScope module;
    CSQLServer2000 engine;
    ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
    testsupport::FakeDatabase connection;
    engine.m_bExportToServer = 1;
    engine.m_pDatabase = &connection;
    engine.GenerateUserDataTypeQueries();
    for (const auto& e : engine.m_mapTables) engine.GenerateTableQueries(e.second, &connection);
    const size_t tablesDone = connection.Statements().size();
    engine.GenerateForeignKeyConstraint();
    for (auto* map : {&engine.m_mapViews, &engine.m_mapStoredProcs, &engine.m_mapFunctions, &engine.m_mapRules,
                      &engine.m_mapTriggers})
      for (const auto& e : *map) {
        if (map == &engine.m_mapViews) engine.GenerateViewQueries(e.second);
        else if (map == &engine.m_mapStoredProcs) engine.GenerateStoredProcQueries(e.second);
        else if (map == &engine.m_mapFunctions) engine.GenerateFunctionQueries(e.second);
        else if (map == &engine.m_mapRules) engine.GenerateRulesQueries(e.second);
        else engine.GenerateTriggerQueries(e.second);
      }

    const std::vector<std::string> statements = connection.Statements();
    std::multiset<std::string> sent;
    int schemas = 0, foreignKeys = 0;
    for (size_t i = 0; i < statements.size(); ++i) {
      // As a script batch reads it: blanks around it do not count.
      const std::vector<std::string> one = testsupport::SplitSqlStatements(statements[i]);
      ASSERT_LE(one.size(), 1u) << statements[i];
      const std::string s = one.empty() ? "" : one[0];
      if (s == "CREATE SCHEMA [dbo]") {
        ++schemas;
        continue;
      }
      if (s.find("FOREIGN KEY") != std::string::npos) {
        ++foreignKeys;
        EXPECT_GE(i, tablesDone) << s;
      }
      sent.insert(s);
    }
    EXPECT_EQ(schemas, db.tables);
    EXPECT_EQ(foreignKeys, db.foreignKeys);
    EXPECT_EQ(sent, scripted);
  }
}

// A 2000 export runs on SQL Server 2000: no script of any 2000 fixture names a (max) type, a
// .WRITE or a file, and the longest values come back whole from their pieces: pub_info's
// eight logos and texts, the longest 65,071 bytes, as the install script holds them.
TEST(Scripts2000Fixtures, ExportsTakeOnlyWhatSqlServer2000Runs) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  TempDir dir;
  for (const char* file : {"sample2000_NORTHWND.MDF", "sample2000_PUBS.MDF", "sql2000data_model.mdf"}) {
    SCOPED_TRACE(file);
    const std::string path = testsupport::FixturePath(file);
    if (path.empty()) continue;
    const std::string out = dir.file(std::string(file) + ".export");
    const ExportRun run = RunExport(path, out, dir.path(), true);
    ASSERT_EQ(run.status, 0) << run.output;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
      if (!entry.is_regular_file()) continue;
      const std::string text = LowerText(ReadFile(entry.path().string()));
      for (const char* refused : {"(max)", ".write", "openrowset", "varchar(max"})
        EXPECT_EQ(text.find(refused), std::string::npos) << entry.path() << " holds " << refused;
    }
  }

  REQUIRE_FIXTURE(pubs, "sample2000_PUBS.MDF");
  REQUIRE_FIXTURE(install, "oracle/instpubs.sql");
  namespace rows = testsupport::oraclerows;
  rows::TableRows ours, oracle;
  rows::ReadOurRows(ReadFile(dir.file("sample2000_PUBS.MDF.export") + "/Tables/pub_info.sql"), ours);
  rows::ReadOracleRows(ReadFile(install), ours, oracle);
  const std::vector<rows::Row>& got = ours.rows["pub_info"];
  const std::vector<rows::Row>& want = oracle.rows["pub_info"];
  ASSERT_EQ(got.size(), 8u);
  ASSERT_EQ(want.size(), 8u);
  size_t longest = 0;
  for (const rows::Row& w : want) {
    const std::string id = w.at("pub_id").v;
    SCOPED_TRACE(id);
    auto it = std::find_if(got.begin(), got.end(), [&](const rows::Row& r) { return r.at("pub_id").v == id; });
    ASSERT_NE(it, got.end());
    EXPECT_EQ(it->at("logo").kind, rows::Value::kBinary);
    EXPECT_EQ(it->at("logo").v, w.at("logo").v);
    // The file keeps the line breaks of the script it was made from (CR LF), this copy LF.
    std::string text = it->at("pr_info").v;
    longest = std::max(longest, text.size());
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    // The copy lost the one character above 0x7F it had (a replacement character now).
    std::string expected = w.at("pr_info").v;
    for (size_t at; (at = expected.find("\xEF\xBF\xBD")) != std::string::npos;) expected.replace(at, 3, 1, rows::kLostCharacter);
    while (text.size() > expected.size() && text.back() == '\n') text.pop_back();
    ASSERT_EQ(text.size(), expected.size());
    for (size_t k = 0; k < text.size(); ++k)
      if (expected[k] != rows::kLostCharacter) ASSERT_EQ(text[k], expected[k]) << "at " << k;
  }
  EXPECT_EQ(longest, 65071u);
}
