// The constraints of the real files, exported through engine-driver as the program writes
// them and read back: every foreign key, CHECK constraint and named default of each file's
// catalog is in the scripts under its name; on the Northwind and pubs files each equals the
// public install script's (columns, referenced table and columns, actions, condition text,
// default value, user data types with their nullability); every batch lexes; the batch file
// runs ForeignKeys.sql after every table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "support/installscript.h"
#include "support/oracleddl.h"
#include "support/tsqllexer.h"

namespace fs = std::filesystem;
using testsupport::LowerText;
using testsupport::OracleSchema;
using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

struct Fixture {
  const char* file;
  int format;           // 2000, 2005 or 2008
  const char* oracle;   // install script it was made from, or null
};

const Fixture kFixtures[] = {
    {"sample2000_NORTHWND.MDF", 2000, "oracle/instnwnd.sql"},
    {"sample2000_PUBS.MDF", 2000, "oracle/instpubs.sql"},
    {"bak2005_northwind_gabrujo.bak", 2005, "oracle/instnwnd.sql"},
    {"bak2005_northwnd_mina.bak", 2005, "oracle/instnwnd.sql"},
    {"bak2005_stdb2sql_2sets.bak", 2005, nullptr},
    {"mdf2005_pubs_upg2000.mdf", 2005, "oracle/instpubs.sql"},
    {"mdf2005pre_prosseappsch07_v607.mdf", 2005, nullptr},
    {"bak2008_northwind_thuyluv.bak", 2008, "oracle/instnwnd.sql"},
    {"bak2008_northwind_512blk.bak", 2008, nullptr},
    {"bak2008_library_small.bak", 2008, nullptr},
    {"bak2008r2_northwind_victor.bak", 2008, nullptr},
    {"bak2008r2_entrepot_fr.bak", 2008, nullptr},
    {"mdf2008_qlsinhvien.mdf", 2008, nullptr},
    {"mdf2008_pubs_itsligo.mdf", 2008, "oracle/instpubs.sql"},
    {"mdf2008_northwnd_itsligo.mdf", 2008, "oracle/instnwnd.sql"},
    {"mdf2008r2_northwnd_upg2000.mdf", 2008, "oracle/instnwnd.sql"},
};

int RunExport(const std::string& file, int format, const std::string& dir, const std::string& logDir) {
  const std::string cmd = "cd '" + logDir + "' && '" + std::string(PELLWYN_ENGINE_DRIVER) + "' export '" + file +
                          "' '" + dir + "' --format " + std::to_string(format) + " > '" + dir + ".out' 2>&1";
  return std::system(cmd.c_str());
}

// The "-i" arguments of the batch file's Windows-authentication section, in order.
std::vector<std::string> BatchScripts(const std::string& bat) {
  std::vector<std::string> out;
  const size_t from = bat.find(":label1\r\n"), to = bat.find("goto end\r\n");
  if (from == std::string::npos || to == std::string::npos) return out;
  size_t at = from;
  while ((at = bat.find(" -i ", at)) != std::string::npos && at < to) {
    at += 4;
    const size_t end = bat.find("\r\n", at);
    std::string name = bat.substr(at, end - at);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.size() > 1 && name.front() == '"') name = name.substr(1, name.size() - 2);
    for (char& c : name)
      if (c == '\\') c = '/';
    out.push_back(name);
  }
  return out;
}

// White space, brackets, parentheses and case do not count in a condition or a value.
std::string Normalized(const std::string& s) {
  std::string out;
  for (char c : LowerText(s))
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '[' && c != ']' && c != '(' && c != ')' && c != '"')
      out += c;
  return out;
}

// SQL Server keeps "x in ('a', 'b')" as "x = 'a' or x = 'b'": such a condition is compared
// by the literals it lists.
std::string CheckKey(const std::string& text) {
  const std::string plain = Normalized(text);
  if (plain.find("in'") == std::string::npos && plain.find("='") == std::string::npos) return plain;
  std::multiset<std::string> literals;
  for (size_t at = 0; (at = text.find('\'', at)) != std::string::npos;) {
    const size_t end = text.find('\'', at + 1);
    if (end == std::string::npos) break;
    literals.insert(text.substr(at, end - at + 1));
    at = end + 1;
  }
  std::string out = "literals:";
  for (const std::string& l : literals) out += l;
  return out;
}

std::string ForeignKeyText(const OracleSchema& schema, const testsupport::OracleForeignKey& fk) {
  std::vector<std::string> refColumns = fk.refColumns;
  if (refColumns.empty() && schema.tables.count(fk.refTable))
    for (const auto& k : schema.tables.at(fk.refTable).keys)
      if (k.primary) refColumns = k.columns;
  std::string text = fk.refTable + ":";
  for (size_t i = 0; i < fk.columns.size(); ++i)
    text += fk.columns[i] + "->" + (i < refColumns.size() ? refColumns[i] : "?") + ",";
  return text + " delete=" + fk.onDelete + " update=" + fk.onUpdate;
}

struct Names {
  std::set<std::string> foreignKeys, checks, defaults;
};

Names CatalogNames(const CSQLServer& engine) {
  Names n;
  for (const auto& [key, table] : engine.m_mapTables) {
    if (!table) continue;
    for (const CForeignKey* k = table->m_pForeignKeyHead; k; k = k->m_pNext) n.foreignKeys.insert(k->m_strName.str());
    for (const CCheckConstraint& c : table->m_vecChecks) n.checks.insert(c.m_strName.str());
    for (const CColumn* c = table->m_pColumnHead; c; c = c->m_pNext)
      if (!c->m_strDefaultName.IsEmpty()) n.defaults.insert(c->m_strDefaultName.str());
  }
  return n;
}

Names ScriptNames(const OracleSchema& schema) {
  Names n;
  for (const auto& [name, table] : schema.tables) {
    for (const auto& fk : table.foreignKeys) n.foreignKeys.insert(fk.name);
    for (const auto& c : table.checks) n.checks.insert(c.name);
    for (const auto& c : table.columns)
      if (!c.defaultName.empty()) n.defaults.insert(c.defaultName);
  }
  return n;
}

}  // namespace

TEST(ConstraintsFixtures, ExportsHoldTheCatalogsConstraintsAndTheInstallScriptsOnes) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  TempDir dir;
  int exported = 0, compared = 0;
  for (const Fixture& f : kFixtures) {
    SCOPED_TRACE(f.file);
    const std::string path = testsupport::FixturesDir() + "/" + f.file;
    if (!fs::exists(path)) continue;
    const std::string out = dir.file(std::string(f.file) + ".export");
    ASSERT_EQ(RunExport(path, f.format, out, dir.path()), 0) << ReadFile(out + ".out");
    ++exported;

    // The scripts in the order the batch file runs them; every batch lexes.
    std::string bat;
    for (const auto& e : fs::directory_iterator(out))
      if (e.path().extension() == ".bat") bat = ReadFile(e.path().string());
    const std::vector<std::string> runs = BatchScripts(bat);
    ASSERT_FALSE(runs.empty());
    size_t lastTable = 0, foreignKeys = runs.size();
    for (size_t i = 0; i < runs.size(); ++i) {
      if (runs[i].rfind("Tables/", 0) == 0) lastTable = i;
      if (runs[i] == "ForeignKeys.sql") foreignKeys = i;
    }
    ASSERT_LT(foreignKeys, runs.size());
    EXPECT_GT(foreignKeys, lastTable);
    std::string schemaText;
    for (const std::string& run : runs) {
      // Scripts beyond ASCII are UTF-16LE with a byte-order mark.
      const std::string text = testsupport::InstallScriptText(ReadFile(out + "/" + run));
      for (const std::string& batch : testsupport::SplitSqlBatches(text)) {
        const auto lexed = testsupport::LexSqlBatch(batch);
        EXPECT_TRUE(lexed.ok()) << run << ": " << lexed.error << "\n" << batch;
      }
      if (run.rfind("Tables/", 0) == 0 || run == "ForeignKeys.sql" || run == "UserDefinedDatatypes.sql")
        schemaText += text + "\r\ngo\r\n";
    }
    const OracleSchema scripts = testsupport::ReadOracleSchema(schemaText);

    // Every constraint of the file's catalog, under its name.
    testsupport::ModuleFolderScope module;
    std::unique_ptr<CSQLServer> engine;
    if (f.format == 2000) engine = std::make_unique<CSQLServer2000>();
    else engine = std::make_unique<CSQLServer2008>();
    ASSERT_TRUE(testsupport::RunRecovery(*engine, path).finished);
    const Names catalog = CatalogNames(*engine), written = ScriptNames(scripts);
    EXPECT_EQ(written.foreignKeys, catalog.foreignKeys);
    EXPECT_EQ(written.checks, catalog.checks);
    EXPECT_EQ(written.defaults, catalog.defaults);

    if (!f.oracle) continue;
    const std::string oraclePath = testsupport::FixturesDir() + "/" + f.oracle;
    if (!fs::exists(oraclePath)) continue;
    ++compared;
    const OracleSchema oracle = testsupport::ReadOracleSchema(testsupport::InstallScriptText(ReadFile(oraclePath)));
    // User data types with their base type and nullability.
    ASSERT_EQ(scripts.userTypes.size(), oracle.userTypes.size());
    for (const auto& [name, type] : oracle.userTypes) {
      ASSERT_TRUE(scripts.userTypes.count(name)) << name;
      EXPECT_EQ(scripts.userTypes.at(name).base, type.base) << name;
      EXPECT_EQ(scripts.userTypes.at(name).notNull, type.notNull) << name;
    }
    for (const auto& [name, expected] : oracle.tables) {
      SCOPED_TRACE(name);
      ASSERT_TRUE(scripts.tables.count(name));
      const testsupport::OracleTable& got = scripts.tables.at(name);
      // Foreign keys: by name where the install script names them, else by what they are.
      std::multiset<std::string> want, have;
      for (const auto& fk : expected.foreignKeys)
        want.insert((fk.name.empty() ? "" : fk.name + " ") + ForeignKeyText(oracle, fk));
      for (const auto& fk : got.foreignKeys) {
        bool named = false;
        for (const auto& x : expected.foreignKeys) named = named || x.name == fk.name;
        have.insert((named ? fk.name + " " : "") + ForeignKeyText(scripts, fk));
      }
      EXPECT_EQ(have, want);
      std::multiset<std::string> wantChecks, haveChecks;
      for (const auto& c : expected.checks) wantChecks.insert((c.name.empty() ? "" : c.name + " ") + CheckKey(c.text));
      for (const auto& c : got.checks) {
        bool named = false;
        for (const auto& x : expected.checks) named = named || x.name == c.name;
        haveChecks.insert((named ? c.name + " " : "") + CheckKey(c.text));
      }
      EXPECT_EQ(haveChecks, wantChecks);
      // Defaults: the value, and the name where the install script gives one.
      ASSERT_EQ(got.columns.size(), expected.columns.size());
      for (size_t i = 0; i < got.columns.size(); ++i) {
        const auto& x = expected.columns[i];
        SCOPED_TRACE(x.name);
        EXPECT_EQ(Normalized(got.columns[i].defaultText), Normalized(x.defaultText));
        if (!x.defaultName.empty()) EXPECT_EQ(got.columns[i].defaultName, x.defaultName);
      }
    }
  }
  if (exported == 0) GTEST_SKIP() << "fixtures not available";
  EXPECT_GT(compared, 0);
}
