// Schema scripts: CREATE TABLE with sizes, defaults and identity, keys and indexes, user data
// types and object texts, in script files and on a connection; quoting of hostile names; the
// script folder of every fixture, checked with a T-SQL lexer and against the public Northwind
// schema.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dll/pellwyn2008/pellwyn2008.h"
#include "common/sqltext.h"
#include "platform/database.h"
#include "platform/files.h"
#include "common/unicodetext.h"
#include "support/fakedatabase.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "support/installscript.h"
#include "support/renamedcopy.h"
#include "support/oraclerows.h"
#include "support/schemareader.h"
#include "support/tsqllexer.h"

namespace fs = std::filesystem;
using testsupport::FakeDatabase;
using testsupport::LexSqlBatch;
using testsupport::ModuleFolderScope;
using testsupport::ReadFile;
using testsupport::SplitSqlBatches;
using testsupport::SqlToken;
using testsupport::TempDir;
using testsupport::oraclerows::Utf16ToNarrow;
using namespace testsupport::schemareader;

namespace {

const std::string kGo = "\r\ngo\r\n";

struct ColumnSpec {
  std::string name;
  const char* type;
  WORD length = 4;
  bool nullable = true;
  BYTE precision = 0;
  BYTE scale = 0;
  const char* userType = nullptr;
};

// An engine with a crafted catalog and the script files the export worker would open.
class ScriptTest : public ::testing::Test {
 protected:
  ModuleFolderScope m_module;  // before the engine, so its log goes to the test's folder
  TempDir m_dir;
  CSQLServer2008 m_engine;

  CTable* Table(const std::string& owner, const std::string& name, DWORD id = 1001) {
    CTable* t = m_engine.NewTable();
    t->m_strOwner = owner.c_str();
    t->m_strName = name.c_str();
    t->m_dwObjectId = id;
    m_engine.m_mapTables.SetAt(FormatString("%lu", id).view(), t);
    return t;
  }
  CColumn* Column(CTable* t, const ColumnSpec& s) {
    auto* c = new CColumn;
    c->m_strName = s.name.c_str();
    c->m_strType = s.type;
    c->m_strUserType = s.userType ? s.userType : s.type;
    c->m_wLength = s.length;
    c->m_bNullable = s.nullable;
    c->m_bPrecision = s.precision;
    c->m_bScale = s.scale;
    c->m_wColOrder = WORD(++t->m_nAllColumns);
    ++t->m_nCatalogColumns;
    t->AppendColumn(c);
    return c;
  }
  CIndexInfo* Index(CTable* t, const char* key, const std::string& name, std::vector<int> columns) {
    auto* i = new CIndexInfo;
    i->m_strName = name.c_str();
    i->m_vecColumns = std::move(columns);
    i->m_vecDescending.assign(i->m_vecColumns.size(), false);
    t->SetIndex(key, i);
    return i;
  }
  // The column index by column id, as the scan leaves it.
  void Organize() { m_engine.OrganizeSchemaInfo(); }

  std::string Path(const std::string& name) const { return m_dir.file(name); }
  void OpenTableFiles() {
    m_engine.m_hTableSqlFile = CreateFileForWrite(Path("T.sql").c_str());
    m_engine.m_hConstraintSqlFile = CreateFileForWrite(Path("T_Constraint.sql").c_str());
    m_engine.m_hDefaultSqlFile = OpenFileForAppend(Path("Default.sql").c_str());
  }
  void CloseTableFiles() {
    CloseFileHandle(m_engine.m_hTableSqlFile);
    CloseFileHandle(m_engine.m_hConstraintSqlFile);
    CloseFileHandle(m_engine.m_hDefaultSqlFile);
  }
  // One table exported to scripts as the export worker does it.
  void ScriptTable(CTable* t) {
    OpenTableFiles();
    m_engine.GenerateTableQueries(t, nullptr);
    CloseTableFiles();
  }
  std::string File(const std::string& name) const { return ReadFile(Path(name)); }
  std::string Log() const { return m_module.ReadExecLog(); }
};

std::string SchemaLine(const std::string& owner) {
  return "IF SCHEMA_ID(N'" + owner + "') IS NULL EXEC(N'CREATE SCHEMA [" + owner + "]')";
}

std::vector<std::string> Statements(const std::string& script) { return testsupport::SplitSqlStatements(script); }

// ---------------------------------------------------------------------------------------
// CREATE TABLE

TEST_F(ScriptTest, ColumnDefinitionsCarryTheirFullType) {
  struct Case {
    ColumnSpec column;
    const char* definition;
  } cases[] = {
      {{"c", "nvarchar", 8000}, "[c] [nvarchar](4000)"},
      {{"c", "nvarchar", 0xFFFF}, "[c] [nvarchar](max)"},
      {{"c", "varchar", 8000}, "[c] [varchar](8000)"},
      {{"c", "varbinary", 8001}, "[c] [varbinary](max)"},
      {{"c", "binary", 16, false}, "[c] [binary](16) NOT NULL"},
      {{"c", "nchar", 10}, "[c] [nchar](5)"},
      {{"c", "decimal", 9, true, 18, 2}, "[c] [decimal](18,2)"},
      {{"c", "numeric", 5, false, 5, 0}, "[c] [numeric](5,0) NOT NULL"},
      {{"c", "datetime2", 7, true, 23, 3}, "[c] [datetime2](3)"},
      {{"c", "time", 5, true, 16, 7}, "[c] [time](7)"},
      {{"c", "int", 4}, "[c] [int]"},
      {{"c", "datetime", 8, false}, "[c] [datetime] NOT NULL"},
      // A user data type carries its own size.
      {{"c", "varchar", 20, true, 0, 0, "Phone"}, "[c] [Phone]"},
  };
  DWORD id = 2000;
  for (const Case& k : cases) {
    CTable* t = Table("dbo", "T", ++id);
    Column(t, k.column);
    ScriptTable(t);
    EXPECT_EQ(Statements(File("T.sql")).at(1), std::string("CREATE TABLE [dbo].[T] (") + k.definition + ")")
        << k.definition;
  }
}

TEST_F(ScriptTest, IdentityDefaultsAndComputedColumns) {
  CTable* t = Table("dbo", "T");
  CColumn* total = Column(t, {"total", "int"});
  total->m_strComputed = "([a]*(2))";
  CColumn* id = Column(t, {"id", "smallint", 2, false});
  id->m_bIdentity = true;
  id->m_nIdentitySeed64 = 100;
  id->m_nIdentityIncrement64 = -1;  // stored as 0xFFFF: must stay negative
  CColumn* big = Column(t, {"big", "bigint", 8, false});
  big->m_bIdentity = true;
  big->m_nIdentitySeed64 = 5000000000LL;
  big->m_nIdentityIncrement64 = 1;
  CColumn* flag = Column(t, {"flag", "bit", 1, false});
  flag->m_strDefault = "((0))";
  CColumn* gone = Column(t, {"gone", "int"});
  gone->m_bDropped = 1;
  ScriptTable(t);
  EXPECT_EQ(Statements(File("T.sql")).at(1),
            "CREATE TABLE [dbo].[T] ([total] as ([a]*(2)),[id] [smallint] NOT NULL IDENTITY(100,-1) ,"
            "[big] [bigint] NOT NULL IDENTITY(5000000000,1) ,[flag] [bit] DEFAULT ((0)) NOT NULL)");
}

TEST_F(ScriptTest, TableScriptLayoutWithAndWithoutRows) {
  for (bool rows : {true, false}) {
    CTable* t = Table("", "Cat", rows ? 7 : 8);
    CColumn* id = Column(t, {"id", "int", 4, false});
    id->m_bIdentity = true;
    id->m_nIdentitySeed64 = 1;
    id->m_nIdentityIncrement64 = 1;
    Column(t, {"notes", "ntext", 16});
    m_engine.m_bExportRows = rows;
    ScriptTable(t);
    const std::string create =
        "CREATE TABLE [dbo].[Cat] ([id] [int] NOT NULL IDENTITY(1,1) ,[notes] [ntext])\r\n";
    std::string expected = kGo + SchemaLine("dbo") + kGo + create + kGo;
    if (rows) {
      // The temporary column exists only while the rows are written.
      expected += "ALTER TABLE [dbo].[Cat] ADD [_TARNWELL_TEMPCOL] uniqueidentifier null \r\ngo\r\n"
                  "Alter Table [dbo].[Cat] Drop Column [_TARNWELL_TEMPCOL]";
    }
    EXPECT_EQ(File("T.sql"), expected) << "rows " << rows;
    // An empty owner becomes dbo in the record too.
    EXPECT_EQ(t->m_strOwner, "dbo");
    // Without rows the flags stay for the scan file; after rows they are cleared.
    EXPECT_EQ(t->m_bHasNtext, !rows);
  }
}

TEST_F(ScriptTest, EdgeTables) {
  // Every column dropped.
  CTable* t = Table("dbo", "T");
  Column(t, {"a", "int"})->m_bDropped = 1;
  ScriptTable(t);
  EXPECT_EQ(File("T.sql"), kGo + SchemaLine("dbo") + kGo + "CREATE TABLE [dbo].[T] ()\r\n" + kGo);

  // No table: nothing at all.
  OpenTableFiles();
  m_engine.GenerateTableQueries(nullptr, nullptr);
  CloseTableFiles();
  EXPECT_EQ(File("T.sql"), "");

  // A stop before the walk: the schema, then nothing once the first column is reached,
  // except that column's default object.
  CTable* s = Table("dbo", "S", 1002);
  Column(s, {"x", "int"})->m_strDefault = "create default [D] as 0";
  Column(s, {"y", "int"});
  Index(s, "1", "PK_S", {0, 1})->m_bPrimaryKey = 1;
  m_engine.m_pStatus->m_bStopRecords = 1;
  ScriptTable(s);
  m_engine.m_pStatus->m_bStopRecords = 0;
  EXPECT_EQ(File("T.sql"), kGo + SchemaLine("dbo") + kGo);
  EXPECT_EQ(File("T_Constraint.sql"), "");
  EXPECT_EQ(File("Default.sql"), "create default [D] as 0" + kGo);
}

// Each rule is bound right after its CREATE RULE to every live column that uses it; a rule
// without text creates nothing and so binds nothing.
TEST_F(ScriptTest, RulesAreBoundToTheirColumnsAfterTheirCreation) {
  Column(Table("dbo", "A", 1001), {"qty", "int"})->m_strRuleName = "positive";
  CTable* b = Table("sales", "B", 1002);
  Column(b, {"amount", "int"})->m_strRuleName = "positive";
  CColumn* dropped = Column(b, {"old", "int"});
  dropped->m_strRuleName = "positive";
  dropped->m_bDropped = 1;
  Column(b, {"code", "char", 2})->m_strRuleName = "empty";
  CViewStoredProc positive, empty;
  positive.m_strName = "positive";
  positive.m_strText = "CREATE RULE positive AS @v > 0";
  empty.m_strName = "empty";
  m_engine.m_hRulesSqlFile = CreateFileForWrite(Path("Rules.sql").c_str());
  m_engine.GenerateRulesQueries(&positive);
  m_engine.GenerateRulesQueries(&empty);
  CloseFileHandle(m_engine.m_hRulesSqlFile);
  EXPECT_EQ(Statements(File("Rules.sql")),
            (std::vector<std::string>{"CREATE RULE positive AS @v > 0", "EXEC sp_bindrule N'[positive]', N'[dbo].[A].[qty]'",
                                      "EXEC sp_bindrule N'[positive]', N'[sales].[B].[amount]'"}));
}

// A rule bound to a user data type is bound to the type before any column: the plain bind
// gives it to the type's columns without a rule, so a column of the type that had none is
// unbound again and a column with a rule of its own keeps it.
TEST_F(ScriptTest, RuleOfAUserTypeIsBoundToTheTypeBeforeItsColumns) {
  auto* type = new CDataType;
  type->m_strName = "qty_t";
  type->m_bSystemTypeId = 56;
  type->m_strRuleName = "positive";
  m_engine.m_mapDataTypes.SetAt("300", type);
  CTable* a = Table("dbo", "A", 1001);
  CColumn* inherits = Column(a, {"q1", "int"});
  inherits->m_strUserType = "qty_t";
  inherits->m_strRuleName = "positive";
  Column(a, {"q2", "int"})->m_strUserType = "qty_t";
  CColumn* own = Column(a, {"q3", "int"});
  own->m_strUserType = "qty_t";
  own->m_strRuleName = "small";
  Column(a, {"n", "int"});
  CViewStoredProc positive;
  positive.m_strName = "positive";
  positive.m_strText = "CREATE RULE positive AS @v > 0";
  m_engine.m_hRulesSqlFile = CreateFileForWrite(Path("Rules.sql").c_str());
  m_engine.GenerateRulesQueries(&positive);
  CloseFileHandle(m_engine.m_hRulesSqlFile);
  EXPECT_EQ(Statements(File("Rules.sql")),
            (std::vector<std::string>{"CREATE RULE positive AS @v > 0", "EXEC sp_bindrule N'[positive]', N'[qty_t]'",
                                      "EXEC sp_bindrule N'[positive]', N'[dbo].[A].[q1]'",
                                      "EXEC sp_unbindrule N'[dbo].[A].[q2]'"}));
  for (auto& e : m_engine.m_mapDataTypes) delete e.second;
  m_engine.m_mapDataTypes.RemoveAll();
}

// With the types exported, the type's rule is created and bound to it right after them,
// before any table; the table unbinds a column that had none, and the rules' own export then
// binds only the columns with the rule.
TEST_F(ScriptTest, RuleOfAUserTypeComesWithTheTypes) {
  auto* positive = new CViewStoredProc;
  positive->m_strName = "positive";
  positive->m_strText = "CREATE RULE positive AS @v > 0";
  m_engine.m_mapRules.SetAt("700", positive);
  for (const char* name : {"qty_t", "also_t"}) {
    auto* type = new CDataType;
    type->m_strName = name;
    type->m_bSystemTypeId = 56;
    type->m_dwRuleId = 700;
    type->m_strRuleName = "positive";
    m_engine.m_mapDataTypes.SetAt(name == std::string("qty_t") ? "300" : "301", type);
  }
  m_engine.m_hUserTypesSqlFile = CreateFileForWrite(Path("UserTypes.sql").c_str());
  m_engine.GenerateUserDataTypeQueries();
  const auto typeScript = Statements(File("UserTypes.sql"));
  ASSERT_EQ(typeScript.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(typeScript.begin() + 2, typeScript.end()),
            (std::vector<std::string>{"CREATE RULE positive AS @v > 0", "EXEC sp_bindrule N'[positive]', N'[qty_t]'",
                                      "EXEC sp_bindrule N'[positive]', N'[also_t]'"}));
  CTable* a = Table("dbo", "A", 1001);
  CColumn* inherits = Column(a, {"q1", "int"});
  inherits->m_strUserType = "qty_t";
  inherits->m_strRuleName = "positive";
  Column(a, {"q2", "int"})->m_strUserType = "also_t";  // had no rule although its type has one
  ScriptTable(a);
  EXPECT_EQ(Statements(File("T_Constraint.sql")), std::vector<std::string>{"EXEC sp_unbindrule N'[dbo].[A].[q2]'"});
  m_engine.m_hRulesSqlFile = CreateFileForWrite(Path("Rules.sql").c_str());
  m_engine.GenerateRulesQueries(positive);
  CloseFileHandle(m_engine.m_hRulesSqlFile);
  EXPECT_EQ(Statements(File("Rules.sql")), std::vector<std::string>{"EXEC sp_bindrule N'[positive]', N'[dbo].[A].[q1]'"});
  for (auto& e : m_engine.m_mapDataTypes) delete e.second;
  m_engine.m_mapDataTypes.RemoveAll();
  for (auto& e : m_engine.m_mapRules) delete e.second;
  m_engine.m_mapRules.RemoveAll();
}

// A type's bound default is created and bound to the type before the first table of the
// type, so its columns take it as they are made; a column that had none is unbound after,
// one with its own default object is bound to it, and a type whose default object was not
// recovered is not bound at all.
TEST_F(ScriptTest, DefaultOfAUserTypeIsBoundToTheTypeBeforeItsColumns) {
  const CString zero = "CREATE DEFAULT [dbo].[zero] AS 0";
  auto addType = [&](const char* key, const char* name, DWORD defaultId, const CString& text) {
    auto* type = new CDataType;
    type->m_strName = name;
    type->m_bSystemTypeId = 56;
    type->m_dwDefaultObjectId = defaultId;
    type->m_strDefaultText = text;
    m_engine.m_mapDataTypes.SetAt(key, type);
  };
  addType("300", "qty_t", 501, zero);
  addType("301", "lost_t", 502, CString());  // the id names no recovered default object
  m_engine.m_hUserTypesSqlFile = CreateFileForWrite(Path("UserTypes.sql").c_str());
  m_engine.GenerateUserDataTypeQueries();  // starts the export and closes its file
  EXPECT_NE(Log().find("[lost_t]: its default object (id 502) was not recovered"), std::string::npos) << Log();
  EXPECT_EQ(Log().find("[qty_t]: its default"), std::string::npos);
  CTable* a = Table("dbo", "A", 1001);
  struct Case {
    const char* column;
    const char* type;
    CString ownDefault;
  };
  const Case cases[] = {
      {"q1", "qty_t", zero},                         // inherits the type's default
      {"q2", "qty_t", CString()},                    // had none although its type has one
      {"q3", "qty_t", "create default [one] as 1"},  // its own default object
      {"q4", "qty_t", "(5)"},                        // its own DEFAULT constraint
      {"l1", "lost_t", CString()},                   // nothing to unbind from
  };
  for (const Case& c : cases) {
    CColumn* column = Column(a, {c.column, "int"});
    column->m_strUserType = c.type;
    column->m_strDefault = c.ownDefault;
  }
  ScriptTable(a);
  ScriptTable(a);  // a second table of the type binds nothing again
  // The type's default came with the types; the tables create only the columns' own.
  const auto typeScript = Statements(File("UserTypes.sql"));
  ASSERT_EQ(typeScript.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(typeScript.begin() + 2, typeScript.end()),
            (std::vector<std::string>{"CREATE DEFAULT [dbo].[zero] AS 0", "EXEC sp_bindefault N'[dbo].[zero]', N'[qty_t]'"}));
  EXPECT_EQ(Statements(File("Default.sql")), std::vector<std::string>{"create default [one] as 1"});
  EXPECT_EQ(Statements(File("T_Constraint.sql")),
            (std::vector<std::string>{"EXEC sp_bindefault N'[dbo].[zero]', N'[dbo].[A].[q1]'",
                                      "EXEC sp_unbindefault N'[dbo].[A].[q2]'",
                                      "EXEC sp_bindefault N'[one]', N'[dbo].[A].[q3]'"}));
  for (auto& e : m_engine.m_mapDataTypes) delete e.second;
  m_engine.m_mapDataTypes.RemoveAll();
}

TEST_F(ScriptTest, DefaultObjectsAreCreatedOnceAndBoundAfterTheRows) {
  m_engine.BeginSchemaExport();
  const CString dflt = "\r\nCREATE DEFAULT [dbo].[Zero] AS 0\r\n";
  CTable* t = Table("dbo", "T");
  Column(t, {"a", "int"})->m_strDefault = dflt;
  Column(t, {"b", "int"})->m_strDefault = dflt;
  Column(t, {"c", "int"})->m_strDefault = "create default One as 1";
  Column(t, {"d", "int"})->m_strDefault = "(7)";
  m_engine.m_bExportRows = 1;
  ScriptTable(t);
  // The column definitions hold the expression only.
  EXPECT_EQ(Statements(File("T.sql")).at(1),
            "CREATE TABLE [dbo].[T] ([a] [int],[b] [int],[c] [int],[d] [int] DEFAULT (7))");
  EXPECT_EQ(File("Default.sql"), dflt.str() + kGo + "create default One as 1" + kGo);
  EXPECT_EQ(Statements(File("T_Constraint.sql")),
            (std::vector<std::string>{"EXEC sp_bindefault N'[dbo].[Zero]', N'[dbo].[T].[a]'",
                                      "EXEC sp_bindefault N'[dbo].[Zero]', N'[dbo].[T].[b]'",
                                      "EXEC sp_bindefault N'One', N'[dbo].[T].[c]'"}));

  // A second table of the same export binds the default without creating it again.
  CTable* u = Table("dbo", "U", 1002);
  Column(u, {"a", "int"})->m_strDefault = dflt;
  ScriptTable(u);
  EXPECT_EQ(File("Default.sql"), dflt.str() + kGo + "create default One as 1" + kGo);
  EXPECT_EQ(Statements(File("T_Constraint.sql")),
            std::vector<std::string>{"EXEC sp_bindefault N'[dbo].[Zero]', N'[dbo].[U].[a]'"});
}

// ---------------------------------------------------------------------------------------
// Keys, constraints and indexes

TEST_F(ScriptTest, KeyAndIndexStatements) {
  struct Case {
    const char* what;
    std::vector<int> keys;
    bool primaryKey, clustered, nonClustered, unique;
    std::vector<std::string> expected;
    bool uniqueConstraint = false;
  } cases[] = {
      // Nullable key columns are made NOT NULL with their full type; NOT NULL ones need nothing.
      {"pk over nullable columns", {0, 2, 3}, true, true, false, true,
       {"ALTER TABLE [dbo].[T] ALTER COLUMN [name] [nvarchar](50) NOT NULL",
        "ALTER TABLE [dbo].[T] ALTER COLUMN [amount] [decimal](10,2) NOT NULL",
        "ALTER TABLE [dbo].[T] ADD CONSTRAINT [k] PRIMARY KEY CLUSTERED ([name],[amount])"}},
      {"nonclustered pk", {0, 1}, true, false, true, true,
       {"ALTER TABLE [dbo].[T] ADD CONSTRAINT [k] PRIMARY KEY NONCLUSTERED ([id])"}},
      {"unique clustered", {0, 1, 4}, false, true, false, true,
       {"CREATE UNIQUE CLUSTERED INDEX [k] ON [dbo].[T]([id] ASC ,[code] ASC )"}},
      {"clustered, not unique", {0, 4}, false, true, false, false,
       {"CREATE CLUSTERED INDEX [k] ON [dbo].[T]([code] ASC )"}},
      {"zeros between keys", {0, 1, 0, 4, 0}, false, false, true, false,
       {"CREATE NONCLUSTERED INDEX [k] ON [dbo].[T]([id] ASC ,[code] ASC )"}},
      {"first entries empty", {0, 0, 4, 0}, false, false, true, false,
       {"CREATE NONCLUSTERED INDEX [k] ON [dbo].[T]([code] ASC )"}},
      {"unknown and dropped column ids", {0, 9, 5, 1}, false, false, true, false,
       {"CREATE NONCLUSTERED INDEX [k] ON [dbo].[T]([id] ASC )"}},
      // A UNIQUE constraint stays one; a unique index stays an index.
      {"unique constraint", {0, 4, 1}, false, false, true, true,
       {"ALTER TABLE [dbo].[T] ADD CONSTRAINT [k] UNIQUE NONCLUSTERED ([code],[id])"}, true},
      {"no key columns", {}, false, false, true, false, {}},
      {"only a dropped key column", {0, 5}, true, true, false, true, {}},
      {"disabled or hypothetical", {0, 1}, false, false, false, false, {}},
  };
  DWORD id = 3000;
  for (const Case& k : cases) {
    CTable* t = Table("dbo", "T", ++id);
    Column(t, {"id", "int", 4, false});
    Column(t, {"name", "nvarchar", 100});
    Column(t, {"amount", "decimal", 9, true, 10, 2});
    Column(t, {"code", "char", 3, false});
    Column(t, {"old", "int"})->m_bDropped = 1;
    CIndexInfo* i = Index(t, "1", "k", k.keys);
    i->m_bPrimaryKey = k.primaryKey;
    i->m_bConstraint = k.primaryKey || k.uniqueConstraint;
    i->m_bClustered = k.clustered;
    i->m_bNonClustered = k.nonClustered;
    i->m_bUnique = k.unique;
    Organize();
    ScriptTable(t);
    EXPECT_EQ(Statements(File("T_Constraint.sql")), k.expected) << k.what;
  }
}

TEST_F(ScriptTest, ClusteredIndexComesFirstAndDescendingKeysStay) {
  CTable* t = Table("dbo", "T");
  Column(t, {"a", "int", 4, false});
  Column(t, {"b", "int", 4, false});
  CIndexInfo* pk = Index(t, "2", "PK_T", {0, 1});
  pk->m_bPrimaryKey = pk->m_bConstraint = pk->m_bUnique = pk->m_bNonClustered = 1;
  CIndexInfo* later = Index(t, "10", "IX_late", {0, 2});
  later->m_bNonClustered = 1;
  CIndexInfo* clustered = Index(t, "1", "IX_b", {0, 2, 1});
  clustered->m_bClustered = 1;
  clustered->m_vecDescending[1] = true;
  Organize();
  ScriptTable(t);
  EXPECT_EQ(Statements(File("T_Constraint.sql")),
            (std::vector<std::string>{"CREATE CLUSTERED INDEX [IX_b] ON [dbo].[T]([b] DESC ,[a] ASC )",
                                      "ALTER TABLE [dbo].[T] ADD CONSTRAINT [PK_T] PRIMARY KEY NONCLUSTERED ([a])",
                                      "CREATE NONCLUSTERED INDEX [IX_late] ON [dbo].[T]([b] ASC )"}));
}

TEST_F(ScriptTest, IncludedColumnsFollowTheKeys) {
  CTable* t = Table("dbo", "T");
  Column(t, {"a", "int", 4, false});
  Column(t, {"b", "int", 4, false});
  Column(t, {"c", "nvarchar", 20});
  CIndexInfo* cover = Index(t, "2", "IX_cover", {0, 1});
  cover->m_bNonClustered = 1;
  cover->m_vecIncluded = {3, 9, 2};  // 9: a column the scan does not have
  Organize();
  ScriptTable(t);
  EXPECT_EQ(Statements(File("T_Constraint.sql")),
            (std::vector<std::string>{"CREATE NONCLUSTERED INDEX [IX_cover] ON [dbo].[T]([a] ASC ) INCLUDE ([c],[b])"}));
}

TEST_F(ScriptTest, FilteredIndexKeepsItsPredicate) {
  CTable* t = Table("dbo", "T");
  Column(t, {"a", "int", 4, false});
  Column(t, {"b", "int", 4});
  CIndexInfo* f = Index(t, "2", "IX_f", {0, 2});
  f->m_bNonClustered = f->m_bUnique = 1;
  f->m_strFilter = "([b] IS NOT NULL)";
  CIndexInfo* g = Index(t, "3", "IX_g", {0, 1});
  g->m_bNonClustered = 1;
  g->m_vecIncluded = {2};
  g->m_strFilter = "([a]>(0))";
  Organize();
  ScriptTable(t);
  EXPECT_EQ(Statements(File("T_Constraint.sql")),
            (std::vector<std::string>{
                "CREATE UNIQUE NONCLUSTERED INDEX [IX_f] ON [dbo].[T]([b] ASC ) WHERE ([b] IS NOT NULL)",
                "CREATE NONCLUSTERED INDEX [IX_g] ON [dbo].[T]([a] ASC ) INCLUDE ([b]) WHERE ([a]>(0))"}));
}

// ---------------------------------------------------------------------------------------
// Server export through a connection

TEST_F(ScriptTest, ServerStatementsRunOnTheJobsConnectionAndFailuresAreLogged) {
  FakeDatabase programConnection;
  FakeDatabase job;
  m_engine.m_pDatabase = &programConnection;
  m_engine.m_bExportToServer = 1;
  m_engine.BeginSchemaExport();
  CTable* t = Table("sales", "T");
  // A long column list, so the logged excerpt can be told from the whole statement.
  for (int i = 0; i < 20; ++i) Column(t, {FormatString("column_%02d", i).str(), "int", 4, i != 0});
  Column(t, {"d", "int"})->m_strDefault = "create default D as 0";
  CIndexInfo* pk = Index(t, "1", "PK_T", {0, 1});
  pk->m_bPrimaryKey = pk->m_bClustered = pk->m_bUnique = 1;
  Index(t, "2", "IX_T", {0, 2})->m_bNonClustered = 1;
  Organize();
  job.FailWhenContains("CREATE TABLE");
  job.ThrowOtherOnStatement(2);  // the default object: not a database error
  job.SetFailMessage("State:42000,Native:102,Message:Incorrect syntax");

  m_engine.GenerateTableQueries(t, &job);

  // Nothing ran on the program's own connection.
  EXPECT_TRUE(programConnection.Statements().empty());
  const std::vector<std::string> sent = job.Statements();
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(sent[0], SchemaLine("sales"));
  // The default object exists before the table that uses it.
  EXPECT_EQ(sent[1], "create default D as 0");
  EXPECT_EQ(sent[2].rfind("CREATE TABLE [sales].[T] ([column_00] [int] NOT NULL,", 0), 0u);
  EXPECT_EQ(sent[3], "EXEC sp_bindefault N'D', N'[sales].[T].[d]'");
  EXPECT_EQ(sent[4], "ALTER TABLE [sales].[T] ADD CONSTRAINT [PK_T] PRIMARY KEY CLUSTERED ([column_00]) ");
  EXPECT_EQ(sent[5], "CREATE NONCLUSTERED INDEX [IX_T] ON [sales].[T]([column_01] ASC ) ");
  // Index builds after the rows get a long time-out.
  for (DWORD timeout : job.Timeouts()) EXPECT_EQ(timeout, CSQLServer2008::kSchemaQueryTimeout);

  EXPECT_EQ(m_engine.FailedStatementCount(t), 2);
  const std::string log = Log();
  const std::string excerpt = sent[2].substr(0, 200);
  EXPECT_NE(log.find("Create Table failed: " + excerpt + " | State:42000,Native:102,Message:Incorrect syntax"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find(sent[2].substr(0, 201)), std::string::npos) << "more than 200 characters logged";
  EXPECT_NE(log.find("Create Default failed: create default D as 0 | fake: not a database error"), std::string::npos);
  EXPECT_NE(log.find("Table [sales].[T]: 2 statements failed on the server"), std::string::npos);
}

TEST_F(ScriptTest, ConcurrentJobsKeepToTheirOwnConnections) {
  constexpr int kJobs = 5;
  m_engine.m_bExportToServer = 1;
  const CString dflt = "create default Shared as 1";
  std::vector<CTable*> tables;
  for (int i = 0; i < kJobs; ++i) {
    CTable* t = Table("dbo", FormatString("T%d", i).str(), DWORD(4000 + i));
    Column(t, {"id", "int", 4, false});
    Column(t, {"v", "int"})->m_strDefault = dflt;
    CIndexInfo* pk = Index(t, "1", FormatString("PK_T%d", i).str(), {0, 1});
    pk->m_bPrimaryKey = pk->m_bClustered = pk->m_bUnique = 1;
    tables.push_back(t);
  }
  Organize();

  // The serial run is the reference for each table's statement stream.
  std::vector<std::vector<std::string>> serial(kJobs);
  for (int i = 0; i < kJobs; ++i) {
    m_engine.BeginSchemaExport();  // each its own export, so each creates the default
    FakeDatabase db;
    m_engine.GenerateTableQueries(tables[i], &db);
    serial[i] = db.Statements();
  }

  m_engine.BeginSchemaExport();
  std::vector<FakeDatabase> connections(kJobs);
  std::vector<std::thread> pool;
  for (int i = 0; i < kJobs; ++i)
    pool.emplace_back([&, i] { m_engine.GenerateTableQueries(tables[i], &connections[i]); });
  for (std::thread& th : pool) th.join();

  int created = 0;
  for (int i = 0; i < kJobs; ++i) {
    std::vector<std::string> got = connections[i].Statements();
    const bool createdHere = std::count(got.begin(), got.end(), dflt.str()) == 1;
    created += createdHere;
    std::vector<std::string> expected = serial[i];
    if (!createdHere) expected.erase(std::find(expected.begin(), expected.end(), dflt.str()));
    EXPECT_EQ(got, expected) << "job " << i;
  }
  EXPECT_EQ(created, 1) << "the default object is created once per export";
}

// ---------------------------------------------------------------------------------------
// User data types and objects

TEST_F(ScriptTest, UserDataTypeStatements) {
  struct Case {
    const char* key;
    const char* name;
    BYTE systemType;
    WORD length;
    BYTE precision, scale;
  } types[] = {
      {"257", "Phone", 167, 20, 0, 0},   {"258", "Amount", 106, 9, 10, 2},  {"259", "Flag", 104, 1, 0, 0},
      {"260", "Notes", 231, 0xFFFF, 0, 0}, {"261", "Code", 239, 100, 0, 0},  {"262", "Bytes", 165, 8000, 0, 0},
      {"263", "Huge", 165, 8001, 0, 0},  {"264", "After", 56, 4, 10, 0},    {"265", "Nameless", 200, 4, 0, 0},
      {"128", "hierarchyid", 240, 892, 0, 0},
  };
  for (const Case& c : types) {
    auto* t = new CDataType;
    t->m_strName = c.name;
    t->m_bSystemTypeId = c.systemType;
    t->m_wLength = c.length;
    t->m_bPrecision = c.precision;
    t->m_bScale = c.scale;
    m_engine.m_mapDataTypes.SetAt(c.key, t);
  }
  m_engine.m_hUserTypesSqlFile = CreateFileForWrite(Path("UserDefinedDatatypes.sql").c_str());
  m_engine.GenerateUserDataTypeQueries();
  // The engine closes the file itself.
  EXPECT_EQ(m_engine.m_hUserTypesSqlFile, kInvalidFile);
  EXPECT_EQ(File("UserDefinedDatatypes.sql"),
            "sp_addtype [Phone], 'varchar(20)' " + kGo + "sp_addtype [Amount], 'decimal(10,2)'" + kGo +
                "sp_addtype [Flag], bit" + kGo + "CREATE TYPE [Notes] FROM nvarchar(max)" + kGo +
                "sp_addtype [Code], 'nchar(50)' " + kGo + "sp_addtype [Bytes], 'varbinary(8000)' " + kGo +
                "CREATE TYPE [Huge] FROM varbinary(max)" + kGo + "sp_addtype [After], int" + kGo);
  EXPECT_NE(Log().find("User data type [Nameless] has no known base type (200): not exported"), std::string::npos);

  // No types: nothing written, and the file is still closed.
  for (auto& e : m_engine.m_mapDataTypes) delete e.second;
  m_engine.m_mapDataTypes.RemoveAll();
  m_engine.m_hUserTypesSqlFile = CreateFileForWrite(Path("Empty.sql").c_str());
  m_engine.GenerateUserDataTypeQueries();
  EXPECT_EQ(m_engine.m_hUserTypesSqlFile, kInvalidFile);
  EXPECT_EQ(File("Empty.sql"), "");
}

TEST_F(ScriptTest, ObjectTextsInScriptsAndOnTheServer) {
  CViewStoredProc view, empty, proc;
  view.m_strName = "V";
  view.m_strText = "create view V as select 1 as one";
  empty.m_strName = "FK_Orders_Customers";
  empty.m_strText = " \r\n";
  proc.m_strName = "P";
  proc.m_strText = "create procedure P as select 2";

  m_engine.BeginSchemaExport();
  m_engine.m_hViewsSqlFile = CreateFileForWrite(Path("Views.sql").c_str());
  m_engine.GenerateViewQueries(&view);
  m_engine.GenerateViewQueries(&empty);
  m_engine.GenerateViewQueries(nullptr);
  CloseFileHandle(m_engine.m_hViewsSqlFile);
  EXPECT_EQ(File("Views.sql"), "create view V as select 1 as one\r\n" + kGo);
  EXPECT_EQ(m_engine.ObjectsWithoutText(), 1);
  EXPECT_NE(Log().find("View [FK_Orders_Customers] has no definition text: not exported (1 without text"),
            std::string::npos);

  // Server: the text with its line end on the engine's connection; a refused one is logged.
  FakeDatabase db;
  db.FailOnStatement(1);
  m_engine.m_pDatabase = &db;
  m_engine.m_bExportToServer = 1;
  m_engine.GenerateFunctionQueries(&view);
  m_engine.GenerateStoredProcQueries(&proc);
  m_engine.GenerateTriggerQueries(&empty);
  EXPECT_EQ(db.Statements(), (std::vector<std::string>{"create view V as select 1 as one\r\n",
                                                        "create procedure P as select 2\r\n"}));
  EXPECT_NE(Log().find("Function failed: create view V as select 1 as one | State:42000"), std::string::npos);
}

// An indexed view: its indexes follow its own batch in Views.sql and on the server; an index
// whose keys cannot be named is logged by name and not written.
TEST_F(ScriptTest, IndexedViewIsIndexedRightAfterItsBatch) {
  CViewStoredProc view, next;
  view.m_strName = "V";
  view.m_strOwner = "sales";
  view.m_strText = "create view sales.V with schemabinding as select a, b from sales.T";
  view.AddColumn(1, "a");
  view.AddColumn(2, "b");
  CIndexInfo cx;
  cx.m_dwId = 1;
  cx.m_strName = "CX_V";
  cx.m_bClustered = cx.m_bUnique = 1;
  cx.m_vecColumns = {0, 1};
  CIndexInfo ix = cx;
  ix.m_dwId = 2;
  ix.m_strName = "IX_V";
  ix.m_bClustered = ix.m_bUnique = 0;
  ix.m_bNonClustered = 1;
  ix.m_vecColumns = {0, 2};
  ix.m_vecDescending = {false, true};
  CIndexInfo lost = ix;
  lost.m_dwId = 3;
  lost.m_strName = "IX_lost";
  lost.m_vecColumns = {0, 5};
  view.m_vecIndexes = {lost, ix, cx};
  next.m_strName = "W";
  next.m_strText = "create view W as select 1 as one";

  m_engine.BeginSchemaExport();
  m_engine.m_hViewsSqlFile = CreateFileForWrite(Path("Views.sql").c_str());
  m_engine.GenerateViewQueries(&view);
  m_engine.GenerateViewQueries(&next);
  CloseFileHandle(m_engine.m_hViewsSqlFile);
  const std::string options = "SET ARITHABORT ON\r\nSET NUMERIC_ROUNDABORT OFF";
  EXPECT_EQ(File("Views.sql"), view.m_strText.str() + "\r\n" + kGo + options + kGo +
                                   "CREATE UNIQUE CLUSTERED INDEX [CX_V] ON [sales].[V] ([a] ASC)" + kGo +
                                   "CREATE NONCLUSTERED INDEX [IX_V] ON [sales].[V] ([b] DESC)" + kGo +
                                   next.m_strText.str() + "\r\n" + kGo);
  EXPECT_NE(Log().find("Index [IX_lost] of view [sales].[V]: its name or columns cannot be read: not created"),
            std::string::npos);

  FakeDatabase db;
  m_engine.m_pDatabase = &db;
  m_engine.m_bExportToServer = 1;
  m_engine.GenerateViewQueries(&view);
  EXPECT_EQ(db.Statements(), (std::vector<std::string>{view.m_strText.str() + "\r\n", options,
                                                        "CREATE UNIQUE CLUSTERED INDEX [CX_V] ON [sales].[V] ([a] ASC)",
                                                        "CREATE NONCLUSTERED INDEX [IX_V] ON [sales].[V] ([b] DESC)"}));
}

TEST_F(ScriptTest, PlainTableScript) {
  CTable* t = Table("", "T");
  CColumn* id = Column(t, {"id", "int", 4, false});
  id->m_bIdentity = true;
  id->m_nIdentitySeed64 = id->m_nIdentityIncrement64 = 1;
  Column(t, {"pic", "image", 16});
  m_engine.m_bExportRows = 1;
  OpenTableFiles();
  m_engine.GenerateTableQueries(t);
  CloseTableFiles();
  // No owner default, no identity, no separator before the rows, no flags, no keys.
  EXPECT_EQ(File("T.sql"), "CREATE TABLE [].[T] ([id] [int] NOT NULL,[pic] [image])\r\n");
  EXPECT_EQ(t->m_strOwner, "");
  EXPECT_FALSE(t->m_bHasBlob);
  EXPECT_EQ(m_engine.m_pStatus->m_pExportTable.load(), t);
  EXPECT_EQ(m_engine.m_bExportMode.load(), 1);
}

// ---------------------------------------------------------------------------------------
// Quoting

TEST(SqlText, QuotingDoublesTheClosingCharacter) {
  EXPECT_EQ(SqlQuoteName("a]b"), "[a]]b]");
  EXPECT_EQ(SqlQuoteName("]]"), "[]]]]]");
  EXPECT_EQ(SqlQuoteName("it's [x"), "[it's [x]");
  EXPECT_EQ(SqlQualifiedName("o]", "t"), "[o]]].[t]");
  EXPECT_EQ(SqlQuoteString("O'Brien"), "'O''Brien'");
  EXPECT_EQ(SqlQuoteNString("]'"), "N']'''");
}

// Names from damaged pages: every statement must keep each name one identifier and each
// literal one literal, whatever the names hold.
TEST_F(ScriptTest, HostileNamesNeverEndAStatementEarly) {
  const std::string owner = "s]'; DROP TABLE x --";
  const std::string table = "t]]'x";
  const std::string column = "c]) ; --'";
  const std::string index = "i]'";
  const std::string dflt = "d]'";
  m_engine.BeginSchemaExport();
  CTable* t = Table(owner, table);
  Column(t, {column, "int", 4, true});
  Column(t, {"pic", "varbinary", 0xFFFF});
  Column(t, {"v", "int"})->m_strDefault = CString("create default ") + SqlQuoteName(dflt.c_str()) + " as 0";
  CIndexInfo* pk = Index(t, "1", index.c_str(), {0, 1});
  pk->m_bPrimaryKey = pk->m_bClustered = pk->m_bUnique = 1;
  Index(t, "2", index + "2", {0, 1, 3})->m_bNonClustered = 1;
  Organize();
  m_engine.m_bExportRows = 1;
  m_engine.m_strOutputFolder = m_dir.path().c_str();
  ScriptTable(t);

  auto lexAll = [](const std::string& script) {
    std::vector<std::vector<SqlToken>> out;
    for (const std::string& batch : SplitSqlBatches(script)) {
      testsupport::SqlLexResult r = LexSqlBatch(batch);
      EXPECT_TRUE(r.ok()) << r.error << "\n" << batch;
      if (!r.tokens.empty()) out.push_back(r.tokens);
    }
    return out;
  };
  auto names = [](const std::vector<SqlToken>& tokens) {
    std::vector<std::string> out;
    for (const SqlToken& tk : tokens)
      if (tk.kind == SqlToken::kName) out.push_back(tk.text);
    return out;
  };
  auto strings = [](const std::vector<SqlToken>& tokens) {
    std::vector<std::string> out;
    for (const SqlToken& tk : tokens)
      if (tk.kind == SqlToken::kString) out.push_back(tk.text);
    return out;
  };

  const auto tableBatches = lexAll(File("T.sql"));
  ASSERT_EQ(tableBatches.size(), 4u);
  // The schema statement: its name literal, and the nested statement as one literal.
  EXPECT_EQ(strings(tableBatches[0]), (std::vector<std::string>{owner, "CREATE SCHEMA " + SqlQuoteName(owner.c_str()).str()}));
  EXPECT_EQ(names(tableBatches[1]),
            (std::vector<std::string>{owner, table, column, "int", "pic", "varbinary", "v", "int"}));
  EXPECT_EQ(names(tableBatches[2]), (std::vector<std::string>{owner, table, "_TARNWELL_TEMPCOL"}));
  EXPECT_EQ(names(tableBatches[3]), (std::vector<std::string>{owner, table, "_TARNWELL_TEMPCOL"}));

  const auto keyBatches = lexAll(File("T_Constraint.sql"));
  ASSERT_EQ(keyBatches.size(), 4u);
  // The binding names the default and the column through two literals that hold quoted names.
  EXPECT_EQ(strings(keyBatches[0]),
            (std::vector<std::string>{SqlQuoteName(dflt.c_str()).str(),
                                      SqlQualifiedName(owner.c_str(), table.c_str()).str() + ".[v]"}));
  // The nullable key column is made NOT NULL first.
  EXPECT_EQ(names(keyBatches[1]), (std::vector<std::string>{owner, table, column, "int"}));
  EXPECT_EQ(names(keyBatches[2]), (std::vector<std::string>{owner, table, index, column}));
  EXPECT_EQ(names(keyBatches[3]), (std::vector<std::string>{index + "2", owner, table, column, "v"}));

  const auto defaultBatches = lexAll(File("Default.sql"));
  ASSERT_EQ(defaultBatches.size(), 1u);
  EXPECT_EQ(names(defaultBatches[0]), std::vector<std::string>{dflt});

  // Large values go inside the scripts: no folder is made for them, whatever the name holds.
  EXPECT_TRUE(t->m_strBlobFolder.IsEmpty());
  for (const auto& entry : fs::directory_iterator(m_dir.path())) EXPECT_FALSE(entry.is_directory()) << entry.path();
}

// ---------------------------------------------------------------------------------------
// Server export against a real ODBC driver (SQLite, which refuses the T-SQL-only statements)

std::string SqliteDriverPath() {
  for (const char* p : {"/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so", "/usr/lib/aarch64-linux-gnu/odbc/libsqlite3odbc.so",
                        "/usr/lib/odbc/libsqlite3odbc.so", "/usr/lib64/libsqlite3odbc.so"}) {
    if (fs::exists(p)) return p;
  }
  return std::string();
}

TEST_F(ScriptTest, ServerExportThroughARealOdbcDriver) {
  const std::string driver = SqliteDriverPath();
  if (driver.empty()) GTEST_SKIP() << "libsqliteodbc is not installed";
  CDatabase db;
  ASSERT_TRUE(db.OpenEx(("DRIVER=" + driver + ";Database=" + Path("main.db") + ";SyncPragma=OFF").c_str()));
  // The table's schema, as SQLite understands one.
  db.ExecuteSQL(("ATTACH DATABASE '" + Path("dbo.db") + "' AS dbo").c_str());

  m_engine.m_bExportToServer = 1;
  m_engine.BeginSchemaExport();
  CTable* t = Table("dbo", "T");
  Column(t, {"id", "int", 4, false});
  Column(t, {"name", "varchar", 20});
  CIndexInfo* pk = Index(t, "1", "PK_T", {0, 1});
  pk->m_bPrimaryKey = pk->m_bClustered = pk->m_bUnique = 1;
  Index(t, "2", "IX_T", {0, 2})->m_bNonClustered = 1;
  Organize();

  m_engine.GenerateTableQueries(t, &db);

  // The table reached the server after the refused schema statement.
  EXPECT_NO_THROW(db.ExecuteSQL("INSERT INTO dbo.T (id, name) VALUES (1, 'x')"));
  EXPECT_THROW(db.ExecuteSQL("INSERT INTO dbo.T (id, missing) VALUES (1, 'x')"), CDBException);
  EXPECT_EQ(db.GetQueryTimeout(), CSQLServer2008::kSchemaQueryTimeout);
  // The schema guard, the key and the index are T-SQL that SQLite refuses: logged, counted.
  EXPECT_EQ(m_engine.FailedStatementCount(t), 3);
  const std::string log = Log();
  EXPECT_NE(log.find("Create Schema failed: " + SchemaLine("dbo") + " | State:HY000"), std::string::npos) << log;
  EXPECT_NE(log.find("Constraint failed: ALTER TABLE [dbo].[T] ADD CONSTRAINT [PK_T]"), std::string::npos);
  EXPECT_NE(log.find("Constraint failed: CREATE NONCLUSTERED INDEX [IX_T]"), std::string::npos);
  EXPECT_EQ(log.find("Create Table failed"), std::string::npos);
}

// ---------------------------------------------------------------------------------------
// Fixtures: the script folder of a whole export

struct ExportRun {
  int status = -1;
  std::string output;
};

ExportRun RunExport(const std::string& file, const std::string& dir, int set = 1, const std::string& locale = "") {
  const std::string out = dir + ".out";
  const std::string env = locale.empty() ? std::string() : "LC_ALL=" + locale + " LANG=" + locale + " ";
  const std::string cmd = env + "'" + PELLWYN_ENGINE_DRIVER + "' export '" + file + "' '" + dir +
                          "' --rows --set " + std::to_string(set) + " > '" + out + "' 2>&1";
  ExportRun r;
  r.status = std::system(cmd.c_str());
  r.output = ReadFile(out);
  return r;
}

const char* const kScriptFixtures[] = {
    "bak2005_northwind_gabrujo.bak",   "bak2005_northwnd_mina.bak",         "bak2005_stdb2sql_2sets.bak",
    "bak2008_library_small.bak",       "bak2008_northwind_512blk.bak",      "bak2008_northwind_thuyluv.bak",
    "bak2008r2_entrepot_fr.bak",       "bak2008r2_northwind_victor.bak",    "mdf2005_pubs_upg2000.mdf",
    "mdf2005pre_database_sp_v590.mdf", "mdf2005pre_prosseappsch07_v607.mdf", "mdf2008_northwnd_itsligo.mdf",
    "mdf2008_pubs_itsligo.mdf",        "mdf2008_qlsinhvien.mdf",            "mdf2008r2_northwnd_upg2000.mdf",
};

int CountLines(const std::string& text, const std::string& prefix) {
  int n = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) n += line.rfind(prefix, 0) == 0;
  return n;
}

TEST(ScriptFixtures, EveryExportLexesCleanly) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  ModuleFolderScope module;
  TempDir dir;
  int exported = 0;
  for (const char* name : kScriptFixtures) {
    const std::string file = testsupport::FixturePath(name);
    if (file.empty()) continue;
    for (int set = 1; set <= (std::string(name).find("2sets") != std::string::npos ? 2 : 1); ++set) {
      const std::string out = dir.file(std::string(name) + "_" + std::to_string(set));
      ExportRun run = RunExport(file, out, set);
      ASSERT_EQ(run.status, 0) << name << "\n" << run.output;
      ++exported;
      // The batch file runs every script of the folder, and names none that is missing.
      std::set<std::string> batchScripts, folderScripts;
      int batchFiles = 0;
      for (const auto& entry : fs::directory_iterator(out)) {
        if (entry.path().extension() != ".bat") continue;
        ++batchFiles;
        std::istringstream lines(ReadFile(entry.path().string()));
        for (std::string line; std::getline(lines, line);) {
          if (line.rfind("sqlcmd -E ", 0) != 0) continue;
          std::string script = line.substr(line.find(" -i ") + 4);
          while (!script.empty() && (script.back() == '\r' || script.back() == ' ')) script.pop_back();
          if (script.size() > 1 && script.front() == '"') script = script.substr(1, script.size() - 2);
          std::replace(script.begin(), script.end(), '\\', '/');
          batchScripts.insert(script);
        }
      }
      for (const auto& entry : fs::recursive_directory_iterator(out))
        if (entry.path().extension() == ".sql") folderScripts.insert(fs::relative(entry.path(), out).generic_string());
      EXPECT_EQ(batchFiles, 1) << name;
      EXPECT_EQ(batchScripts, folderScripts) << name;
      EXPECT_TRUE(batchScripts.count("UserDefinedDatatypes.sql")) << name;

      int creates = 0;
      for (const auto& entry : fs::recursive_directory_iterator(out)) {
        if (entry.path().extension() != ".sql") continue;
        const bool tableScript = entry.path().parent_path().filename() == "Tables";
        // A script beyond ASCII is UTF-16 behind its mark: read as sqlcmd reads it.
        const std::string script = testsupport::InstallScriptText(ReadFile(entry.path().string()));
        for (const std::string& batch : SplitSqlBatches(script)) {
          testsupport::SqlLexResult r = LexSqlBatch(batch);
          EXPECT_TRUE(r.ok()) << name << " " << entry.path().filename() << ": " << r.error << "\n" << batch;
          for (size_t i = 0; tableScript && i + 1 < r.tokens.size(); ++i)
            creates += r.tokens[i].Is("CREATE") && r.tokens[i + 1].Is("TABLE");
        }
      }
      // One CREATE TABLE per exported table (a database may hold none).
      EXPECT_EQ(creates, CountLines(run.output, "table [")) << name;
    }
  }
  if (exported == 0) GTEST_SKIP() << "no 2005-2008 R2 fixture available";
}

// ---- the public Northwind schema, read from its install script and from ours

// A definition with its white space collapsed.
std::string Collapsed(const std::string& text) {
  std::string out;
  bool blank = false;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

// Batches of a script that create a view or a procedure, collapsed, without the line
// comments before the CREATE (a tool may have stored one there).
std::set<std::string> ModuleTexts(const std::string& script, const char* kind) {
  std::set<std::string> out;
  for (std::string batch : SplitSqlBatches(script)) {
    for (;;) {
      const size_t start = batch.find_first_not_of(" \t\r\n");
      if (start == std::string::npos || batch.compare(start, 2, "--") != 0) break;
      const size_t end = batch.find('\n', start);
      batch = end == std::string::npos ? std::string() : batch.substr(end + 1);
    }
    const std::string text = Collapsed(batch);
    if (Lower(text).rfind(std::string("create ") + kind, 0) == 0) out.insert(text);
  }
  return out;
}

TEST(ScriptFixtures, NorthwindScriptsEqualThePublicSchema) {
  REQUIRE_FIXTURE(oracle, "oracle/instnwnd.sql");
  const std::string install = Utf16ToNarrow(ReadFile(oracle));
  SchemaDefs expected;
  ReadSchema(install, expected);
  ASSERT_EQ(expected.size(), 13u);
  ASSERT_EQ(expected["Orders"].indexes.size(), 8u);
  ASSERT_EQ(expected["Orders"].columns.at(0).identity, "1,1");
  ASSERT_EQ(expected["Orders"].columns.at(7).defaultValue, "0");
  ASSERT_FALSE(expected["Region"].primaryKey->clustered);
  const std::set<std::string> views = ModuleTexts(install, "view");
  const std::set<std::string> procedures = ModuleTexts(install, "proc");
  ASSERT_EQ(views.size(), 16u);
  ASSERT_EQ(procedures.size(), 7u);

  ModuleFolderScope module;
  TempDir dir;
  int compared = 0;
  for (const char* name : {"bak2005_northwind_gabrujo.bak", "bak2005_northwnd_mina.bak", "bak2008_northwind_thuyluv.bak",
                           "bak2008r2_northwind_victor.bak", "mdf2008_northwnd_itsligo.mdf",
                           "mdf2008r2_northwnd_upg2000.mdf"}) {
    const std::string file = testsupport::FixturePath(name);
    if (file.empty()) continue;
    const std::string out = dir.file(name);
    ExportRun run = RunExport(file, out);
    ASSERT_EQ(run.status, 0) << name << "\n" << run.output;
    ++compared;
    SchemaDefs ours;
    for (const auto& entry : fs::directory_iterator(out + "/Tables")) ReadSchema(ReadFile(entry.path().string()), ours);
    for (const auto& [table, want] : expected) {
      ASSERT_TRUE(ours.count(table)) << name << ": " << table;
      TableDef got = ours[table];
      EXPECT_EQ(got.columns, want.columns) << name << ": " << table;
      ASSERT_TRUE(got.primaryKey.has_value()) << name << ": " << table;
      EXPECT_EQ(*got.primaryKey, *want.primaryKey) << name << ": " << table;
      // This database's owner made ProductName unique: its index row has status 0x0B.
      if (std::string(name) == "bak2005_northwind_gabrujo.bak" && table == "Products") {
        EXPECT_TRUE(got.indexes["ProductName"].unique);
        got.indexes["ProductName"].unique = false;
      }
      EXPECT_EQ(got.indexes, want.indexes) << name << ": " << table;
    }
    EXPECT_EQ(ModuleTexts(ReadFile(out + "/Views.sql"), "view"), views) << name;
    // Some databases hold procedures of their own besides the public ones.
    const std::set<std::string> ourProcedures = ModuleTexts(ReadFile(out + "/Stored_Procedure.sql"), "proc");
    for (const std::string& p : procedures) EXPECT_TRUE(ourProcedures.count(p)) << name << ": " << p;
  }
  if (compared == 0) GTEST_SKIP() << "no Northwind fixture available";
}

// Names beyond Latin-1 are written as they were stored: a Northwind whose Shippers table,
// CompanyName columns and database name were rewritten in CJK characters gives a batch file,
// script files and statements of those names; the scripts that hold them are UTF-16 behind
// their mark, the others stay plain ASCII.
TEST(ScriptFixtures, CjkNamesGiveScriptsAndFilesOfTheirLetters) {
  TempDir dir;
  const std::string copy = dir.file("cjk.mdf");
  if (!testsupport::WriteCjkNorthwind(copy)) GTEST_SKIP() << "fixture not available";
  const std::string out = dir.file("out");
  ExportRun run = RunExport(copy, out);
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string table = testsupport::kCjkTable, column = testsupport::kCjkColumn;

  EXPECT_TRUE(fs::is_regular_file(out + "/" + testsupport::kCjkDatabase + ".bat"));
  const std::string raw = ReadFile(out + "/Tables/" + table + ".sql");
  ASSERT_GE(raw.size(), 2u);
  EXPECT_EQ(raw.substr(0, 2), "\xFF\xFE");
  const std::string script = testsupport::InstallScriptText(raw);
  EXPECT_NE(script.find("CREATE TABLE [dbo].[" + table + "] ([ShipperID] [int] NOT NULL IDENTITY(1,1) ,[" + column +
                        "] [nvarchar](40) NOT NULL,[Phone] [nvarchar](24))"),
            std::string::npos)
      << script.substr(0, 400);
  // Three rows, their values the ASCII literals they always were.
  EXPECT_EQ(CountLines(script, "Insert into [dbo].[" + table + "] ([ShipperID],[" + column + "],[Phone])"), 3);
  EXPECT_NE(script.find("CONVERT(nvarchar(40),0x53007000650065006400790020004500"), std::string::npos);  // Speedy E
  const std::string customers = testsupport::InstallScriptText(ReadFile(out + "/Tables/Customers.sql"));
  EXPECT_NE(customers.find("[" + column + "] [nvarchar](40) NOT NULL"), std::string::npos);
  // A table with no such name keeps its plain script.
  const std::string categories = ReadFile(out + "/Tables/Categories.sql");
  EXPECT_NE(categories.find("CREATE TABLE [dbo].[Categories]"), std::string::npos);
  EXPECT_TRUE(IsAsciiText(categories));
}

// The preview shows nvarchar and nchar as the export writes them: every value of
// qlsinhvien's SinhVien literals (UTF-16 in hex, Vietnamese letters among them) is a cell of
// the preview's rows, where the preview once showed "?????".
TEST(ScriptFixtures, PreviewShowsTheUnicodeValuesTheExportWrites) {
  const std::string file = testsupport::FixturePath("mdf2008_qlsinhvien.mdf");
  if (file.empty()) GTEST_SKIP() << "fixture not available";
  ModuleFolderScope module;
  TempDir dir;
  const std::string out = dir.file("ql");
  ExportRun run = RunExport(file, out);
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string script = testsupport::InstallScriptText(ReadFile(out + "/Tables/SinhVien.sql"));
  std::vector<std::string> literals;
  for (size_t at = script.find("CONVERT(n"); at != std::string::npos; at = script.find("CONVERT(n", at + 1)) {
    if (script.compare(at, 17, "CONVERT(nvarchar(") != 0 && script.compare(at, 14, "CONVERT(nchar(") != 0) continue;
    const size_t hex = script.find("),0x", at);
    const size_t end = hex == std::string::npos ? hex : script.find(')', hex + 1);
    if (end == std::string::npos) break;
    std::string bytes;
    for (size_t k = hex + 4; k + 1 < end; k += 2) bytes += char(std::stoi(script.substr(k, 2), nullptr, 16));
    literals.push_back(Utf16ToUtf8(ByteView(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size())));
  }
  ASSERT_FALSE(literals.empty());

  CSQLServer2008 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, file).finished);
  CTable* table = testsupport::FindTable(engine, "SinhVien");
  ASSERT_NE(table, nullptr);
  std::set<std::string> cells;
  for (const std::string& row : testsupport::AllRows(engine, table))
    for (size_t at = 0, next; at < row.size(); at = next + 3) {
      next = row.find("$#$", at);
      if (next == std::string::npos) next = row.size();
      cells.insert(row.substr(at, next - at));
    }
  int beyondAscii = 0;
  for (const std::string& value : literals) {
    EXPECT_TRUE(cells.count(value)) << value;
    beyondAscii += !IsAsciiText(value);
  }
  EXPECT_GT(beyondAscii, 0);
  EXPECT_TRUE(cells.count("Nguy\xE1\xBB\x85n Anh"));
}

// Procedure texts keep their letters whatever the locale the program runs under: the French
// accents of entrepot_fr's procedures come out the same under C, C.UTF-8 and a Latin-1 one.
TEST(ScriptFixtures, DefinitionTextsAreTheSameUnderAnyLocale) {
  const std::string file = testsupport::FixturePath("bak2008r2_entrepot_fr.bak");
  if (file.empty()) GTEST_SKIP() << "fixture not available";
  TempDir dir;
  std::string first;
  for (const char* locale : {"C", "C.UTF-8", "fr_FR.ISO-8859-1", "POSIX"}) {
    const std::string out = dir.file(std::string("fr_") + locale);
    ExportRun run = RunExport(file, out, 1, locale);
    ASSERT_EQ(run.status, 0) << locale << "\n" << run.output;
    const std::string procedures = ReadFile(out + "/Stored_Procedure.sql");
    if (first.empty()) first = procedures;
    EXPECT_EQ(procedures, first) << locale;
  }
  const std::string text = testsupport::InstallScriptText(first);
  EXPECT_NE(text.find("THEN '\xC3\x89t\xC3\xA9'"), std::string::npos);      // Été
  EXPECT_NE(text.find("THEN 'B\xC3\xA9lier'"), std::string::npos);            // Bélier
}

}  // namespace
