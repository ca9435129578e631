// Schema scripts of the 2000 engine on crafted catalogs: CREATE TABLE, keys and indexes with
// their fix-ups, default objects, the temporary ntext column, foreign keys, user data types
// and object texts, in script files and on a recording connection; hostile names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "dll/pellwyn2000/pellwyn2000.h"
#include "platform/database.h"
#include "platform/files.h"
#include "support/fakedatabase.h"
#include "support/fixtures.h"
#include "support/tsqllexer.h"

using testsupport::FakeDatabase;
using testsupport::LexSqlBatch;
using testsupport::ModuleFolderScope;
using testsupport::ReadFile;
using testsupport::SplitSqlBatches;
using testsupport::SqlToken;
using testsupport::TempDir;

namespace {

const std::string kGo = "\r\ngo\r\n";

struct ColumnSpec {
  std::string name;
  const char* type;
  WORD length = 4;
  bool nullable = true;
  BYTE precision = 0;
  BYTE scale = 0;
};

class Scripts2000Test : public ::testing::Test {
 protected:
  ModuleFolderScope m_module;  // before the engine, so its log goes to the test's folder
  TempDir m_dir;
  CSQLServer2000 m_engine;

  CTable* Table(const std::string& owner, const std::string& name, DWORD id = 1001) {
    CTable* t = m_engine.NewTable();
    t->m_strOwner = owner.c_str();
    t->m_strName = name.c_str();
    t->m_dwObjectId = id;
    m_engine.m_mapTables.SetAt(FormatString("%ld", id).view(), t);
    return t;
  }
  CColumn* Column(CTable* t, const ColumnSpec& s) {
    auto* c = new CColumn;
    c->m_strName = s.name.c_str();
    c->m_strType = s.type;
    c->m_strUserType = s.type;
    c->m_wLength = s.length;
    c->m_bNullable = s.nullable;
    c->m_bPrecision = s.precision;
    c->m_bScale = s.scale;
    c->m_nColumnId = ++t->m_nAllColumns;
    c->m_wColOrder = WORD(c->m_nColumnId);
    ++t->m_nCatalogColumns;
    t->AppendColumn(c);
    return c;
  }
  CIndexInfo* Index(CTable* t, const char* key, const std::string& name, std::vector<int> columns) {
    auto* i = new CIndexInfo;
    i->m_strName = name.c_str();
    i->m_vecColumns = std::move(columns);
    t->SetIndex(key, i);
    return i;
  }
  CForeignKey* ForeignKey(CTable* from, DWORD constraintId, const std::string& name, DWORD refTable,
                          std::vector<WORD> columns, std::vector<WORD> refColumns) {
    auto* k = new CForeignKey;
    k->m_dwConstraintId = constraintId;
    k->m_dwTableId = from->m_dwObjectId;
    k->m_dwRefTableId = refTable;
    k->m_vecKeyColumns = std::move(columns);
    k->m_vecRefColumns = std::move(refColumns);
    from->AppendForeignKey(k);
    m_engine.m_mapForeignKeyTables.SetAt(FormatString("%lu", from->m_dwObjectId).view(), from);
    if (!name.empty()) m_engine.m_mapForeignKeyNames.SetAt(FormatString("%lu", constraintId).view(), name.c_str());
    return k;
  }

  std::string Path(const std::string& name) const { return m_dir.file(name); }
  std::string File(const std::string& name) const { return ReadFile(Path(name)); }
  // One table exported to scripts as the export worker does it.
  void ScriptTable(CTable* t) {
    m_engine.m_hTableSqlFile = CreateFileForWrite(Path("T.sql").c_str());
    m_engine.m_hConstraintSqlFile = CreateFileForWrite(Path("T_Constraint.sql").c_str());
    m_engine.m_hDefaultSqlFile = OpenFileForAppend(Path("Default.sql").c_str());
    m_engine.GenerateTableQueries(t, nullptr);
    CloseFileHandle(m_engine.m_hTableSqlFile);
    CloseFileHandle(m_engine.m_hConstraintSqlFile);
    CloseFileHandle(m_engine.m_hDefaultSqlFile);
  }
  std::string ScriptForeignKeys() {
    m_engine.m_hTableSqlFile = CreateFileForWrite(Path("ForeignKeys.sql").c_str());
    m_engine.GenerateForeignKeyConstraint();
    CloseFileHandle(m_engine.m_hTableSqlFile);
    return File("ForeignKeys.sql");
  }
};

std::vector<std::string> Statements(const std::string& script) { return testsupport::SplitSqlStatements(script); }

// ---- CREATE TABLE

TEST_F(Scripts2000Test, ComputedFirstColumnIsSeparatedFromTheNext) {
  CTable* t = Table("", "t");
  Column(t, {"a", "int"})->m_strComputed = "(b+1)";
  Column(t, {"b", "int", 4, false});
  ScriptTable(t);
  EXPECT_EQ(File("T.sql"), kGo + "CREATE TABLE [dbo].[t] ([a] as (b+1),[b] [int] NOT NULL)\r\n" + kGo);
  EXPECT_EQ(t->m_strOwner, "dbo");  // kept after the script
  EXPECT_EQ(File("T_Constraint.sql"), "");
}

TEST_F(Scripts2000Test, ColumnDefinitions) {
  struct Case {
    ColumnSpec column;
    const char* definition;
  } cases[] = {
      {{"c", "nvarchar", 100}, "[c] [nvarchar](50)"},
      {{"c", "varchar", 8000}, "[c] [varchar](8000)"},
      {{"c", "nchar", 20, false}, "[c] [nchar](10) NOT NULL"},
      {{"c", "varbinary", 8001}, "[c] [varbinary](max)"},
      {{"c", "binary", 16}, "[c] [binary](16)"},
      {{"c", "decimal", 9, true, 19, 4}, "[c] [decimal](19,4)"},
      {{"c", "numeric", 5, false, 5, 0}, "[c] [numeric](5,0) NOT NULL"},
      {{"c", "int", 4}, "[c] [int]"},  // nullable: no nullability text at all
      {{"c", "datetime", 8, false}, "[c] [datetime] NOT NULL"},
      {{"c", "ntext", 16}, "[c] [ntext]"},
  };
  DWORD id = 2000;
  for (const Case& k : cases) {
    CTable* t = Table("dbo", "T", ++id);
    Column(t, k.column);
    ScriptTable(t);
    EXPECT_EQ(Statements(File("T.sql")).at(0), std::string("CREATE TABLE [dbo].[T] (") + k.definition + ")")
        << k.definition;
  }
}

TEST_F(Scripts2000Test, IdentityAndInlineDefaults) {
  CTable* t = Table("dbo", "T");
  CColumn* id = Column(t, {"id", "int", 4, false});
  id->m_bIdentity = true;
  id->m_nIdentitySeed64 = 100;
  id->m_nIdentityIncrement64 = 5;
  CColumn* big = Column(t, {"big", "bigint", 8, false});
  big->m_bIdentity = true;
  big->m_nIdentitySeed64 = 5000000000LL;
  big->m_nIdentityIncrement64 = -1;
  // A damaged autoval with increment 0 would make the server refuse the table and its rows.
  CColumn* broken = Column(t, {"broken", "smallint", 2, false});
  broken->m_bIdentity = true;
  broken->m_nIdentitySeed64 = 7;
  Column(t, {"flag", "bit", 1, false})->m_strDefault = "(0)";
  ScriptTable(t);
  EXPECT_EQ(Statements(File("T.sql")).at(0),
            "CREATE TABLE [dbo].[T] ([id] [int] NOT NULL IDENTITY(100,5) ,[big] [bigint] NOT NULL "
            "IDENTITY(5000000000,-1) ,[broken] [smallint] NOT NULL IDENTITY(7,1) ,[flag] [bit] DEFAULT (0) NOT NULL)");
}

// Default objects are shared by columns and tables: each is created once per export, as a
// batch of its own, in whatever case its statement was written.
TEST_F(Scripts2000Test, DefaultObjectsAreWrittenOncePerExport) {
  m_engine.GenerateUserDataTypeQueries();  // starts the export
  const char* zero = "create default [dbo].[zero] as 0";
  CTable* a = Table("dbo", "A", 1001);
  Column(a, {"x", "int"})->m_strDefault = zero;
  Column(a, {"y", "int"})->m_strDefault = zero;
  Column(a, {"z", "int"})->m_strDefault = "CREATE DEFAULT [dbo].[one] AS 1";
  CTable* b = Table("dbo", "B", 1002);
  Column(b, {"x", "int"})->m_strDefault = zero;
  ScriptTable(a);
  EXPECT_EQ(Statements(File("T.sql")).at(0), "CREATE TABLE [dbo].[A] ([x] [int],[y] [int],[z] [int])");
  // Each column is bound to its object once its table exists.
  EXPECT_EQ(Statements(File("T_Constraint.sql")),
            (std::vector<std::string>{"EXEC sp_bindefault N'[dbo].[zero]', N'[dbo].[A].[x]'",
                                      "EXEC sp_bindefault N'[dbo].[zero]', N'[dbo].[A].[y]'",
                                      "EXEC sp_bindefault N'[dbo].[one]', N'[dbo].[A].[z]'"}));
  ScriptTable(b);
  EXPECT_EQ(File("Default.sql"), std::string(zero) + kGo + "CREATE DEFAULT [dbo].[one] AS 1" + kGo);
  // A new export starts over.
  m_engine.GenerateUserDataTypeQueries();
  ScriptTable(b);
  EXPECT_EQ(Statements(File("Default.sql")).size(), 3u);
}

// The temporary ntext column exists only while rows are written, and is dropped again.
TEST_F(Scripts2000Test, TemporaryColumnOnlyWithRows) {
  for (bool rows : {false, true}) {
    SCOPED_TRACE(rows);
    CTable* t = Table("dbo", "N", rows ? 7 : 8);
    Column(t, {"id", "int", 4, false});
    Column(t, {"notes", "ntext", 16});
    m_engine.m_bExportRows = rows;
    ScriptTable(t);
    std::string expected = kGo + "CREATE TABLE [dbo].[N] ([id] [int] NOT NULL,[notes] [ntext])\r\n" + kGo;
    if (rows)
      expected += "ALTER TABLE [dbo].[N] ADD [_TARNWELL_TEMPCOL] uniqueidentifier null \r\n" + kGo +
                  "Alter Table [dbo].[N] Drop Column [_TARNWELL_TEMPCOL]" + kGo;
    EXPECT_EQ(File("T.sql"), expected);
    EXPECT_FALSE(t->m_bHasNtext);
  }
}

TEST_F(Scripts2000Test, StopDuringTheColumnWalkWritesNothingOfTheTable) {
  CTable* t = Table("dbo", "T");
  Column(t, {"a", "int", 4, false});
  Index(t, "1", "pk", {1})->m_bPrimaryKey = 1;
  m_engine.m_pStatus->m_bStopRecords = 1;
  ScriptTable(t);
  EXPECT_EQ(File("T.sql"), kGo);
  EXPECT_EQ(File("T_Constraint.sql"), "");
}

// The simpler table script: columns, defaults and nullability through the engine's own
// connection, no keys, and the rows walked on the caller's thread with nothing left to wait for
// afterwards. Without rows the table has no identity; with them it takes what they use: the
// identity their IDENTITY_INSERT needs and, for the ntext pieces, the temporary column.
TEST_F(Scripts2000Test, PlainTableScript) {
  CTable* t = Table("dbo", "P");
  CColumn* id = Column(t, {"id", "int", 4, false});
  id->m_bIdentity = true;
  id->m_nIdentitySeed64 = id->m_nIdentityIncrement64 = 1;
  Column(t, {"n", "ntext", 16});
  Column(t, {"d", "int"})->m_strDefault = "(1)";
  Index(t, "1", "pk", {1})->m_bPrimaryKey = 1;
  m_engine.m_bExportRows = 0;
  m_engine.m_hTableSqlFile = CreateFileForWrite(Path("P.sql").c_str());
  m_engine.GenerateTableQueries(t);
  CloseFileHandle(m_engine.m_hTableSqlFile);
  EXPECT_EQ(File("P.sql"), "CREATE TABLE [dbo].[P] ([id] [int] NOT NULL,[n] [ntext],[d] [int] DEFAULT (1))\r\n" + kGo);

  m_engine.m_bExportRows = 1;
  m_engine.m_hTableSqlFile = CreateFileForWrite(Path("P.sql").c_str());
  m_engine.GenerateTableQueries(t);
  CloseFileHandle(m_engine.m_hTableSqlFile);
  const std::string withRows = "CREATE TABLE [dbo].[P] ([id] [int] NOT NULL IDENTITY(1,1) ,[n] [ntext],[d] [int] DEFAULT (1))\r\n";
  const std::string add = "ALTER TABLE [dbo].[P] ADD [_TARNWELL_TEMPCOL] uniqueidentifier null \r\n";
  const std::string drop = "Alter Table [dbo].[P] Drop Column [_TARNWELL_TEMPCOL]";
  EXPECT_EQ(File("P.sql"), withRows + kGo + add + kGo + drop + kGo);
  EXPECT_FALSE(t->m_bHasNtext);

  FakeDatabase db;
  m_engine.m_bExportToServer = 1;
  m_engine.m_pDatabase = &db;
  m_engine.GenerateTableQueries(t);
  EXPECT_EQ(db.Statements(), (std::vector<std::string>{withRows + add, drop}));
}

// ---- keys and indexes

TEST_F(Scripts2000Test, KeysIndexesAndTheirFixUps) {
  CTable* t = Table("dbo", "Order Details");
  Column(t, {"a", "int"});                        // 1, nullable
  Column(t, {"b", "decimal", 9, true, 10, 2});    // 2, nullable
  Column(t, {"c", "nvarchar", 8002});             // 3, nullable
  Column(t, {"d", "int", 4, false});              // 4
  CIndexInfo* pk = Index(t, "1", "pk", {1, 2, 4});
  pk->m_bPrimaryKey = pk->m_bConstraint = pk->m_bClustered = pk->m_bUnique = 1;
  CIndexInfo* wide = Index(t, "2", "pk_wide", {3});
  wide->m_bPrimaryKey = wide->m_bNonClustered = 1;
  Index(t, "3", "ix", {1})->m_bNonClustered = 1;
  CIndexInfo* unique = Index(t, "4", "ux", {4, 1});
  unique->m_bUnique = unique->m_bNonClustered = 1;
  CIndexInfo* uq = Index(t, "5", "uq", {4});
  uq->m_bConstraint = uq->m_bUnique = uq->m_bNonClustered = 1;
  Index(t, "6", "empty", {})->m_bNonClustered = 1;       // a key read from an older scan file
  Index(t, "7", "unknown", {0, 9})->m_bNonClustered = 1;  // no column of the table
  ScriptTable(t);
  const std::string table = "ALTER TABLE [dbo].[Order Details] ";
  const std::vector<std::string> expected = {
      // Only columns that may hold NULL need the fix-up, spelled with their full type.
      table + "ALTER COLUMN [a] [int] NOT NULL",
      table + "ALTER COLUMN [b] [decimal](10,2) NOT NULL",
      table + "ADD CONSTRAINT [pk] PRIMARY KEY CLUSTERED ([a],[b],[d])",
      table + "ALTER COLUMN [c] [nvarchar](max) NOT NULL",
      table + "ADD CONSTRAINT [pk_wide] PRIMARY KEY NONCLUSTERED ([c])",
      "CREATE NONCLUSTERED INDEX [ix] ON [dbo].[Order Details]([a] ASC)",
      "CREATE UNIQUE NONCLUSTERED INDEX [ux] ON [dbo].[Order Details]([d] ASC,[a] ASC)",
      table + "ADD CONSTRAINT [uq] UNIQUE NONCLUSTERED ([d] ASC)",
  };
  EXPECT_EQ(Statements(File("T_Constraint.sql")), expected);
  // Every statement is its own batch.
  EXPECT_EQ(File("T_Constraint.sql").find(table + "ALTER COLUMN [a] [int] NOT NULL" + kGo), 0u);
}

// Column ids are looked up as they are: a table keeps the ids after a dropped column, so an id
// above the live-column count is still a column, and skipped ids leave no empty entry.
TEST_F(Scripts2000Test, KeyColumnsAfterADroppedColumn) {
  CTable* t = Table("dbo", "T");
  Column(t, {"a", "int", 4, false});
  Column(t, {"c", "int", 4, false})->m_nColumnId = 3;  // column 2 was dropped
  t->m_nCatalogColumns = 2;
  CIndexInfo* pk = Index(t, "1", "pk", {3, 1, 2});
  pk->m_bPrimaryKey = pk->m_bClustered = 1;
  ScriptTable(t);
  EXPECT_EQ(Statements(File("T_Constraint.sql")),
            std::vector<std::string>{"ALTER TABLE [dbo].[T] ADD CONSTRAINT [pk] PRIMARY KEY CLUSTERED ([c],[a])"});
}

TEST_F(Scripts2000Test, TableMissingFromTheCatalogGetsNoKeys) {
  CTable* t = m_engine.NewTable();  // not in the table map
  t->m_strName = "loose";
  t->m_dwObjectId = 77;
  Column(t, {"a", "int", 4, false});
  Index(t, "1", "pk", {1})->m_bPrimaryKey = 1;
  ScriptTable(t);
  EXPECT_EQ(File("T_Constraint.sql"), "");
}

// ---- a connection

TEST_F(Scripts2000Test, ServerStatementsAndTheirFailures) {
  FakeDatabase db;
  db.FailWhenContains("CREATE SCHEMA");
  m_engine.m_bExportToServer = 1;
  m_engine.m_bExportRows = 1;
  CTable* t = Table("sales", "T");
  Column(t, {"a", "int"});
  Column(t, {"n", "ntext", 16});
  Column(t, {"d", "int"})->m_strDefault = "CREATE DEFAULT [d] AS 1";
  CIndexInfo* pk = Index(t, "1", "pk", {1});
  pk->m_bPrimaryKey = pk->m_bClustered = 1;
  m_engine.GenerateTableQueries(t, &db);
  const std::vector<std::string> expected = {
      "CREATE SCHEMA [sales]",
      "CREATE DEFAULT [d] AS 1",
      "CREATE TABLE [sales].[T] ([a] [int],[n] [ntext],[d] [int])\r\n"
      "ALTER TABLE [sales].[T] ADD [_TARNWELL_TEMPCOL] uniqueidentifier null \r\n",
      "EXEC sp_bindefault N'[d]', N'[sales].[T].[d]'",
      "ALTER TABLE [sales].[T] ALTER COLUMN [a] [int] NOT NULL",
      "ALTER TABLE [sales].[T] ADD CONSTRAINT [pk] PRIMARY KEY CLUSTERED ([a])",
      "Alter Table [sales].[T] Drop Column [_TARNWELL_TEMPCOL]",
  };
  EXPECT_EQ(db.Statements(), expected);
  EXPECT_NE(m_module.ReadExecLog().find("Create Schema failed"), std::string::npos);

  // A refused CREATE TABLE goes to the error log with its text; the table's keys still follow.
  FakeDatabase refusing;
  refusing.FailWhenContains("CREATE TABLE");
  m_engine.m_bExportRows = 0;
  m_engine.GenerateTableQueries(t, &refusing);
  EXPECT_NE(m_module.ReadErrorLog().find("CREATE TABLE [sales].[T]"), std::string::npos);
  EXPECT_EQ(refusing.Statements().back(), "ALTER TABLE [sales].[T] ADD CONSTRAINT [pk] PRIMARY KEY CLUSTERED ([a])");
}

// Pool threads script their tables on one engine at once, each on its own connection.
TEST_F(Scripts2000Test, ConcurrentTablesOnOneEngine) {
  m_engine.m_bExportToServer = 1;
  constexpr int kTables = 8;
  std::vector<CTable*> tables;
  for (int i = 0; i < kTables; ++i) {
    CTable* t = Table("dbo", "T" + std::to_string(i), DWORD(3000 + i));
    Column(t, {"a", "int"});
    Column(t, {"b", "int"})->m_strDefault = "CREATE DEFAULT [shared] AS 0";
    CIndexInfo* pk = Index(t, "1", "pk" + std::to_string(i), {1});
    pk->m_bPrimaryKey = pk->m_bClustered = 1;
    tables.push_back(t);
  }
  std::vector<FakeDatabase> dbs(kTables);
  std::vector<std::thread> threads;
  for (int i = 0; i < kTables; ++i) threads.emplace_back([&, i] { m_engine.GenerateTableQueries(tables[i], &dbs[i]); });
  for (auto& th : threads) th.join();
  int defaults = 0;
  for (int i = 0; i < kTables; ++i) {
    const auto statements = dbs[i].Statements();
    for (const auto& s : statements) defaults += s.rfind("CREATE DEFAULT", 0) == 0;
    EXPECT_EQ(statements.back(), "ALTER TABLE [dbo].[T" + std::to_string(i) + "] ADD CONSTRAINT [pk" +
                                     std::to_string(i) + "] PRIMARY KEY CLUSTERED ([a])");
  }
  EXPECT_EQ(defaults, 1);
}

// ---- hostile names

TEST_F(Scripts2000Test, HostileNamesStayOneIdentifier) {
  const std::string owner = "o]';x", name = "t]'; DROP TABLE x;--", column = "c]]'", index = "i] ON;", fk = "f]k'";
  CTable* t = Table(owner, name, 1001);
  Column(t, {column, "int", 4, true});
  CIndexInfo* pk = Index(t, "1", index, {1});
  pk->m_bPrimaryKey = pk->m_bClustered = 1;
  Index(t, "2", index + "2", {1})->m_bNonClustered = 1;
  CTable* ref = Table("dbo", "r'];", 1002);
  Column(ref, {"k]", "int", 4, false});
  ForeignKey(t, 5, fk, 1002, {1}, {1});
  ScriptTable(t);
  const std::string all = File("T.sql") + File("T_Constraint.sql") + ScriptForeignKeys();
  int batches = 0;
  for (const std::string& batch : SplitSqlBatches(all)) {
    const auto lexed = LexSqlBatch(batch);
    ASSERT_TRUE(lexed.ok()) << lexed.error << "\n" << batch;
    if (lexed.tokens.empty()) continue;
    // The owner's guard holds the owner inside its literal, quotes doubled, and that one
    // literal alone.
    if (lexed.tokens[0].Is("IF")) {
      EXPECT_NE(batch.find("CREATE SCHEMA [o]]'''';x]"), std::string::npos) << batch;
      continue;
    }
    ++batches;
    // Every name comes back whole; no statement ends early at a ";" or a quote.
    std::vector<std::string> names;
    for (const SqlToken& tok : lexed.tokens) {
      if (tok.kind == SqlToken::kName) names.push_back(tok.text);
      EXPECT_FALSE(tok.IsSymbol(';')) << batch;
      EXPECT_NE(tok.kind, SqlToken::kString) << batch;
    }
    EXPECT_NE(std::find(names.begin(), names.end(), owner), names.end()) << batch;
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << batch;
  }
  EXPECT_EQ(batches, 5);  // table, fix-up, key, index, foreign key
}

// ---- foreign keys

TEST_F(Scripts2000Test, ForeignKeys) {
  CTable* orders = Table("", "Orders", 1001);  // an owner never scripted: dbo
  Column(orders, {"OrderID", "int", 4, false});
  Column(orders, {"CustomerID", "nchar", 10});
  Column(orders, {"ShipID", "int"});
  CTable* customers = Table("dbo", "Customers", 1002);
  Column(customers, {"CustomerID", "nchar", 10, false});
  Column(customers, {"ShipID", "int", 4, false});
  ForeignKey(orders, 11, "FK_Orders_Customers", 1002, {2, 3}, {1, 2});
  ForeignKey(orders, 12, "", 1002, {2}, {1});                 // its name was not recovered
  ForeignKey(orders, 13, "FK_gone", 999, {2}, {1});           // nor its referenced table
  ForeignKey(orders, 14, "FK_column", 1002, {2, 9}, {1, 2});  // nor one of its columns
  ForeignKey(orders, 15, "FK_Orders_Orders", 1001, {3}, {1});
  EXPECT_EQ(ScriptForeignKeys(),
            "ALTER TABLE [dbo].[Orders] WITH CHECK ADD CONSTRAINT [FK_Orders_Customers] FOREIGN KEY ([CustomerID],[ShipID]) "
            "REFERENCES [dbo].[Customers] ([CustomerID],[ShipID])" +
                kGo +
                "ALTER TABLE [dbo].[Orders] WITH CHECK ADD CONSTRAINT [FK_Orders_Orders] FOREIGN KEY ([ShipID]) REFERENCES "
                "[dbo].[Orders] ([OrderID])" +
                kGo);
  const std::string log = m_module.ReadExecLog();
  for (const char* skipped : {"Foreign key 12", "Foreign key 13", "Foreign key 14"})
    EXPECT_NE(log.find(skipped), std::string::npos) << skipped;

  // On the server a refused key is logged with the server's words and the next one follows.
  FakeDatabase db;
  db.FailOnStatement(1);
  db.SetFailMessage("State:42000,Native:1776,Message:no matching key");
  m_engine.m_bExportToServer = 1;
  m_engine.m_pDatabase = &db;
  m_engine.GenerateForeignKeyConstraint();
  EXPECT_EQ(db.Statements().size(), 2u);
  EXPECT_NE(m_module.ReadExecLog().find("no matching key"), std::string::npos);
}

// ---- user data types and object texts

TEST_F(Scripts2000Test, UserDataTypes) {
  struct Case {
    const char* name;
    BYTE systemType;
    WORD length;
    BYTE precision, scale;
  } cases[] = {{"code", 167, 10, 0, 0}, {"amount", 106, 17, 19, 4}, {"counter", 56, 4, 0, 0},
               {"initials", 239, 20, 0, 0}, {"x]'y", 175, 3, 0, 0}, {"odd", 1, 4, 0, 0}};
  int id = 257;
  for (const Case& c : cases) {
    auto* type = new CDataType;
    type->m_strName = c.name;
    type->m_bSystemTypeId = c.systemType;
    type->m_wLength = c.length;
    type->m_bPrecision = c.precision;
    type->m_bScale = c.scale;
    m_engine.m_mapDataTypes.SetAt(FormatString("%d", id++).view(), type);
  }
  m_engine.m_hUserTypesSqlFile = CreateFileForWrite(Path("UserDefinedDatatypes.sql").c_str());
  m_engine.GenerateUserDataTypeQueries();
  EXPECT_EQ(m_engine.m_hUserTypesSqlFile, kInvalidFile);  // the engine closes this file itself
  EXPECT_EQ(File("UserDefinedDatatypes.sql"), "sp_addtype [code], 'varchar(10)' " + kGo +
                                                  "sp_addtype [amount], 'decimal(19,4)'" + kGo +
                                                  "sp_addtype [counter], int" + kGo +
                                                  "sp_addtype [initials], 'nchar(10)' " + kGo +
                                                  "sp_addtype [x]]'y], 'char(3)' " + kGo);
  EXPECT_NE(m_module.ReadExecLog().find("User data type [odd] has no known base type"), std::string::npos);
}

TEST_F(Scripts2000Test, ObjectTextsToScriptsAndServer) {
  CViewStoredProc empty, proc;
  proc.m_strText = "CREATE PROCEDURE p AS SELECT 1";
  m_engine.m_hViewsSqlFile = CreateFileForWrite(Path("Views.sql").c_str());
  m_engine.GenerateViewQueries(&empty);
  CloseFileHandle(m_engine.m_hViewsSqlFile);
  EXPECT_EQ(File("Views.sql"), "\r\n" + kGo);
  EXPECT_EQ(m_engine.ObjectsWithoutText(), 1);

  FakeDatabase db;
  db.FailOnStatement(2);
  db.FailOnStatement(4);
  m_engine.m_bExportToServer = 1;
  m_engine.m_pDatabase = &db;
  m_engine.GenerateViewQueries(&empty);       // 1 sent
  m_engine.GenerateStoredProcQueries(&proc);  // 2 refused: logged
  m_engine.GenerateTriggerQueries(&proc);     // 3 sent
  m_engine.GenerateRulesQueries(&proc);       // 4 refused: not logged
  EXPECT_EQ(db.Statements(), (std::vector<std::string>{"\r\n", proc.m_strText.str() + "\r\n",
                                                        proc.m_strText.str() + "\r\n", proc.m_strText.str() + "\r\n"}));
  EXPECT_EQ(m_engine.m_pStatus->m_nRecordsSent, 2);
  const std::string errors = m_module.ReadErrorLog();
  EXPECT_NE(errors.find("CREATE PROCEDURE p"), std::string::npos);
  EXPECT_EQ(errors.find("CREATE PROCEDURE p"), errors.rfind("CREATE PROCEDURE p"));
}

// Each rule is bound right after its CREATE RULE to every column that uses it, whatever the
// table; a rule without text creates nothing and so binds nothing.
TEST_F(Scripts2000Test, RulesAreBoundToTheirColumnsAfterTheirCreation) {
  Column(Table("dbo", "A", 1001), {"qty", "int"})->m_strRuleName = "positive";
  CTable* b = Table("sales", "B", 1002);
  Column(b, {"n", "int"});
  Column(b, {"amount", "int"})->m_strRuleName = "positive";
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

  FakeDatabase db;
  db.FailOnStatement(2);
  m_engine.m_bExportToServer = 1;
  m_engine.m_pDatabase = &db;
  m_engine.GenerateRulesQueries(&positive);
  EXPECT_EQ(db.Statements().size(), 3u);
  EXPECT_NE(m_module.ReadExecLog().find("Bind Rule failed: EXEC sp_bindrule N'[positive]', N'[dbo].[A].[qty]'"),
            std::string::npos);
}

// A rule bound to a user data type is bound to the type before any column: the plain bind
// gives it to the type's columns without a rule, so a column of the type that had none is
// unbound again and a column with a rule of its own keeps it.
TEST_F(Scripts2000Test, RuleOfAUserTypeIsBoundToTheTypeBeforeItsColumns) {
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
}

// A type's bound default is created and bound to the type before the first table of the
// type, so its columns take it as they are made; a column that had none is unbound after,
// one with its own default object is bound to it, and a type whose default object was not
// recovered is not bound at all.
TEST_F(Scripts2000Test, DefaultOfAUserTypeIsBoundToTheTypeBeforeItsColumns) {
  m_engine.GenerateUserDataTypeQueries();  // starts the export
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
  const auto defaults = Statements(File("Default.sql"));
  EXPECT_EQ(defaults, (std::vector<std::string>{"CREATE DEFAULT [dbo].[zero] AS 0", "EXEC sp_bindefault N'[dbo].[zero]', N'[qty_t]'",
                                                "create default [one] as 1"}));
  EXPECT_EQ(Statements(File("T_Constraint.sql")),
            (std::vector<std::string>{"EXEC sp_bindefault N'[dbo].[zero]', N'[dbo].[A].[q1]'",
                                      "EXEC sp_unbindefault N'[dbo].[A].[q2]'",
                                      "EXEC sp_bindefault N'[one]', N'[dbo].[A].[q3]'"}));
  for (auto& e : m_engine.m_mapDataTypes) delete e.second;
  m_engine.m_mapDataTypes.RemoveAll();
}

// A type's own rule and default follow the type: created once and bound right after the types,
// whether or not the rules or any table of the type are exported; the later stages then
// create neither again and keep the columns' own bindings.
TEST_F(Scripts2000Test, TypeBindingsAreScriptedWithTheTypes) {
  auto* positive = new CViewStoredProc;
  positive->m_strName = "positive";
  positive->m_strText = "CREATE RULE positive AS @v > 0";
  m_engine.m_mapRules.SetAt("700", positive);
  auto* textless = new CViewStoredProc;  // its text was not recovered: nothing to create
  textless->m_strName = "lost";
  m_engine.m_mapRules.SetAt("701", textless);
  const CString zero = "CREATE DEFAULT [dbo].[zero] AS 0";
  struct TypeCase {
    const char* key;
    const char* name;
    DWORD ruleId;
    const char* rule;
    CString defaultText;
  };
  const TypeCase types[] = {
      {"300", "qty_t", 700, "positive", zero},
      {"301", "also_t", 700, "positive", zero},  // the same rule and default: each created once
      {"302", "plain_t", 0, "", CString()},
      {"303", "lost_t", 701, "lost", CString()},
  };
  for (const TypeCase& c : types) {
    auto* type = new CDataType;
    type->m_strName = c.name;
    type->m_bSystemTypeId = 56;
    type->m_dwRuleId = c.ruleId;
    type->m_strRuleName = c.rule;
    type->m_strDefaultText = c.defaultText;
    m_engine.m_mapDataTypes.SetAt(c.key, type);
  }
  m_engine.m_hUserTypesSqlFile = CreateFileForWrite(Path("UserDefinedDatatypes.sql").c_str());
  m_engine.GenerateUserDataTypeQueries();
  const auto typeScript = Statements(File("UserDefinedDatatypes.sql"));
  ASSERT_EQ(typeScript.size(), 10u);
  EXPECT_EQ(std::vector<std::string>(typeScript.begin() + 4, typeScript.end()),
            (std::vector<std::string>{"CREATE RULE positive AS @v > 0", "EXEC sp_bindrule N'[positive]', N'[qty_t]'",
                                      "EXEC sp_bindrule N'[positive]', N'[also_t]'", "CREATE DEFAULT [dbo].[zero] AS 0",
                                      "EXEC sp_bindefault N'[dbo].[zero]', N'[qty_t]'",
                                      "EXEC sp_bindefault N'[dbo].[zero]', N'[also_t]'"}));

  CTable* a = Table("dbo", "A", 1001);
  CColumn* inherits = Column(a, {"q1", "int"});
  inherits->m_strUserType = "qty_t";
  inherits->m_strRuleName = "positive";
  inherits->m_strDefault = zero;
  Column(a, {"q2", "int"})->m_strUserType = "qty_t";  // had neither although its type has both
  ScriptTable(a);
  EXPECT_EQ(File("Default.sql"), "");
  // The table's own script unbinds what the type gave a column that had neither, so it holds
  // whether or not the rules are exported.
  EXPECT_EQ(Statements(File("T_Constraint.sql")),
            (std::vector<std::string>{"EXEC sp_bindefault N'[dbo].[zero]', N'[dbo].[A].[q1]'",
                                      "EXEC sp_unbindefault N'[dbo].[A].[q2]'", "EXEC sp_unbindrule N'[dbo].[A].[q2]'"}));
  m_engine.m_hRulesSqlFile = CreateFileForWrite(Path("Rules.sql").c_str());
  m_engine.GenerateRulesQueries(positive);
  CloseFileHandle(m_engine.m_hRulesSqlFile);
  EXPECT_EQ(Statements(File("Rules.sql")), std::vector<std::string>{"EXEC sp_bindrule N'[positive]', N'[dbo].[A].[q1]'"});
  for (auto& e : m_engine.m_mapDataTypes) delete e.second;
  m_engine.m_mapDataTypes.RemoveAll();
  for (auto& e : m_engine.m_mapRules) delete e.second;
  m_engine.m_mapRules.RemoveAll();
}

// A full disk must not end as a finished export: failed writes are counted and logged.
TEST_F(Scripts2000Test, FailedScriptWritesAreCounted) {
  if (!std::ifstream("/dev/full")) GTEST_SKIP() << "no /dev/full";
  CTable* t = Table("dbo", "T");
  Column(t, {"a", "int"});
  m_engine.GenerateUserDataTypeQueries();
  m_engine.m_hTableSqlFile = CreateFileForWrite("/dev/full");
  m_engine.GenerateTableQueries(t, nullptr);
  CloseFileHandle(m_engine.m_hTableSqlFile);
  EXPECT_EQ(m_engine.FailedScriptWrites(), 2);  // the separator and the table
  EXPECT_NE(m_module.ReadExecLog().find("Script write failed"), std::string::npos);
}

}  // namespace
