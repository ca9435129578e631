// The 2000 system-table row parsers on synthetic rows: what each keeps, what it drops, and
// that damaged rows never reach outside the page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/constraintscripts.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "platform/files.h"
#include "pages2000.h"
#include "support/fixtures.h"

using namespace pages2000;

namespace {

// Hands one row, placed at the start of a page body, to a parser.
template <class Parse>
void ParseOne(CSQLServer2000& engine, Parse parse, const Bytes& row) {
  Page page(1, 1, 1);
  page.Add(row);
  (engine.*parse)(page.body(), 0);
}

CTable* Table(CSQLServer2000& engine, DWORD id) {
  CTable* t = nullptr;
  engine.m_mapTables.Lookup(FormatString("%ld", id).view(), t);
  return t;
}

std::vector<std::string> ColumnNames(const CTable* t) {
  std::vector<std::string> names;
  for (const CColumn* c = t->m_pColumnHead; c; c = c->m_pNext) names.push_back(c->m_strName.str());
  return names;
}

class Catalog2000 : public ::testing::Test {
 protected:
  testsupport::ModuleFolderScope scope;
  CSQLServer2000 engine;
};

}  // namespace

TEST_F(Catalog2000, ObjectTypesAreDispatchedOnBothCharacters) {
  engine.m_mapOwnerNames.SetAt("1", "dbo");
  struct Case {
    const char* type;
    DWORD parent;
    CStringKeyMap<CViewStoredProc*>* map;  // null: no object record
  } cases[] = {
      {"V ", 0, &engine.m_mapViews},     {"P ", 0, &engine.m_mapStoredProcs}, {"R ", 0, &engine.m_mapRules},
      {"TR", 500, &engine.m_mapTriggers}, {"FN", 0, &engine.m_mapFunctions},   {"IF", 0, &engine.m_mapFunctions},
      {"TF", 0, &engine.m_mapFunctions}, {"F ", 500, nullptr},                {"PK", 500, nullptr},
      // A parent id whose low 16 bits are 0 is still a parent.
      {"PK", 0x10000, nullptr},          {"UQ", 0, nullptr},                  {"D ", 0, nullptr},
      {"C ", 0, nullptr},                {"S ", 0, nullptr},                  {"X ", 0, nullptr},
  };
  DWORD id = 1000;
  for (const Case& c : cases) {
    ++id;
    ParseOne(engine, &CSQLServer2000::ParseSysObjectsRow, ObjectRow(id, c.type, "obj", 0, c.parent));
    const CString key = FormatString("%ld", id);
    for (auto* map : {&engine.m_mapViews, &engine.m_mapStoredProcs, &engine.m_mapRules, &engine.m_mapTriggers,
                      &engine.m_mapFunctions})
      EXPECT_EQ(map->Contains(key.view()), map == c.map) << c.type;
    EXPECT_FALSE(engine.m_mapTables.Contains(key.view())) << c.type;
  }
  // 'F ' is a foreign-key name and nothing else.
  CString name;
  EXPECT_TRUE(engine.m_mapForeignKeyNames.Lookup("1008", name));
  EXPECT_EQ(name, "obj");
  EXPECT_EQ(engine.m_mapFunctions.GetCount(), 3);
}

TEST_F(Catalog2000, UserTablesTakeNameOwnerAndTheSharedUnicodeCounter) {
  engine.m_mapOwnerNames.SetAt("5", "sales");
  ParseOne(engine, &CSQLServer2000::ParseSysObjectsRow, ObjectRow(199, "U ", "low"));
  ParseOne(engine, &CSQLServer2000::ParseSysObjectsRow, ObjectRow(200, "U ", "Orders  ", 0, 0, 5));
  EXPECT_EQ(Table(engine, 199), nullptr);
  ASSERT_NE(Table(engine, 200), nullptr);
  EXPECT_EQ(Table(engine, 200)->m_strName, "Orders");
  EXPECT_EQ(Table(engine, 200)->m_strOwner, "sales");
  EXPECT_EQ(engine.m_strLastOwnerName, "sales");

  // Names come out as stored, every letter of them (U+0461, then U+4E00 whose low byte is 0).
  Bytes wide = Utf16("ab");
  wide[1] = 0x04;
  wide[2] = 0x00;
  wide[3] = 0x4E;
  engine.m_nUnicodeNameCounter = 1;
  auto column = [&](DWORD table, const Bytes& name) {
    ParseOne(engine, &CSQLServer2000::DecodeColumnRow,
             Row(40).Put(4, table, 4).Put(8, 56, 1).Put(12, 4, 2).Put(16, 1, 2).Put(34, 1, 2).Columns(21).Var(name).Build());
  };
  auto table = [&](DWORD id, const Bytes& name) {
    ParseOne(engine, &CSQLServer2000::ParseSysObjectsRow,
             Row(42).Put(4, id, 4).Put(8, 'U', 1).Put(9, ' ', 1).Columns(25).Var(name).Build());
  };
  column(300, wide);
  table(301, wide);
  EXPECT_EQ(Table(engine, 300)->m_pColumnHead->m_strName, "\xD1\xA1\xE4\xB8\x80");
  EXPECT_EQ(Table(engine, 301)->m_strName, "\xD1\xA1\xE4\xB8\x80");
  // Only a name that is no text takes a substitute: a column number 1, so the next table 2.
  Bytes broken = Utf16("a\n");
  column(302, broken);
  broken[2] = 0x00;
  broken[3] = 0xD8;  // a high surrogate alone
  table(303, broken);
  EXPECT_EQ(Table(engine, 302)->m_pColumnHead->m_strName, "UnicodeCol#_1");
  EXPECT_EQ(Table(engine, 303)->m_strName, "UnicodeTab#_2");
}

TEST_F(Catalog2000, ShippedObjectsAndLongNamesAreRejected) {
  ParseOne(engine, &CSQLServer2000::ParseSysObjectsRow, ObjectRow(1961058022, "V ", "sysconstraints", 0xa0000000));
  ParseOne(engine, &CSQLServer2000::ParseSysObjectsRow, ObjectRow(2001, "V ", "mine", 0x60000000));
  EXPECT_FALSE(engine.m_mapViews.Contains("1961058022"));
  EXPECT_TRUE(engine.m_mapViews.Contains("2001"));
  // A shipped table (the diagram table) stays a table.
  ParseOne(engine, &CSQLServer2000::ParseSysObjectsRow, ObjectRow(2002, "U ", "dtproperties", 0x80000003));
  ASSERT_NE(Table(engine, 2002), nullptr);
  EXPECT_EQ(Table(engine, 2002)->m_strName, "dtproperties");
  ParseOne(engine, &CSQLServer2000::ParseSysObjectsRow, ObjectRow(3000, "P ", std::string(250, 'a')));
  ParseOne(engine, &CSQLServer2000::ParseSysObjectsRow, ObjectRow(3001, "P ", std::string(251, 'a')));
  EXPECT_TRUE(engine.m_mapStoredProcs.Contains("3000"));
  EXPECT_FALSE(engine.m_mapStoredProcs.Contains("3001"));
}

TEST_F(Catalog2000, ColumnsAreOrderedAndDuplicatesAddNothing) {
  for (WORD order : {3, 1, 2})
    ParseOne(engine, &CSQLServer2000::DecodeColumnRow,
             ColumnRow({500, "c" + std::to_string(order), 56, 4, order, order, short(4 * order)}));
  // The same name again (a bit column: it still counts as one) and a row without a variable part.
  ParseOne(engine, &CSQLServer2000::DecodeColumnRow, ColumnRow({500, "c2", 104, 1, 9, 9, 20}));
  ParseOne(engine, &CSQLServer2000::DecodeColumnRow, ColumnRow({500, "c4", 56, 4, 4, 4, 16}, 0x0010));
  CTable* t = Table(engine, 500);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(ColumnNames(t), (std::vector<std::string>{"c1", "c2", "c3"}));
  EXPECT_EQ(t->m_nCatalogColumns, 3);
  EXPECT_EQ(t->m_nBitColumns, 1);
}

// A column's domain names its bound rule; an id that is no rule of the database (a CHECK
// constraint's, or damage) binds nothing.
TEST_F(Catalog2000, ColumnKeepsTheRuleBoundToIt) {
  auto* rule = new CViewStoredProc();
  rule->m_strName = "range_rule";
  engine.m_mapRules.SetAt("7100", rule);
  const struct {
    const char* name;
    DWORD ruleId;
    const char* expected;
  } cases[] = {{"bound", 7100, "range_rule"}, {"none", 0, ""}, {"check", 7200, ""}};
  WORD id = 0;
  for (const auto& c : cases) {
    ++id;
    ColumnSpec spec{650, c.name, 56, 4, id, id, short(4 * id)};
    spec.ruleId = c.ruleId;
    ParseOne(engine, &CSQLServer2000::DecodeColumnRow, ColumnRow(spec));
  }
  CTable* t = Table(engine, 650);
  ASSERT_NE(t, nullptr);
  const CColumn* c = t->m_pColumnHead;
  for (const auto& expected : cases) {
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->m_strName, expected.name);
    EXPECT_EQ(c->m_strRuleName, expected.expected) << expected.name;
    c = c->m_pNext;
  }
}

TEST_F(Catalog2000, VariableColumnsUserTypesAndDefaults) {
  auto* type = new CDataType();
  type->m_strName = "empid";
  engine.m_mapDataTypes.SetAt("257", type);
  auto* text = new CIndexInfo();
  text->m_strText = "create default d as 0";
  engine.m_mapObjectTexts.SetAt("7001", text);
  ColumnSpec name{600, "name", 231, 80, 1, 1, -1};
  name.userType = 257;
  ColumnSpec qty{600, "qty", 56, 4, 2, 2, 4};
  qty.notNull = true;
  qty.defaultId = 7001;
  ParseOne(engine, &CSQLServer2000::DecodeColumnRow, ColumnRow(name));
  ParseOne(engine, &CSQLServer2000::DecodeColumnRow, ColumnRow(qty));
  CTable* t = Table(engine, 600);
  ASSERT_NE(t, nullptr);
  const CColumn* c = t->m_pColumnHead;
  EXPECT_EQ(c->m_strType, "nvarchar");
  EXPECT_EQ(c->m_strUserType, "empid");
  EXPECT_TRUE(c->m_bNullable);
  EXPECT_EQ(c->m_pNext->m_strDefault, "create default d as 0");
  EXPECT_FALSE(c->m_pNext->m_bNullable);
  ASSERT_NE(t->m_pVarHead, nullptr);
  EXPECT_EQ(t->m_pVarHead->m_strName, "name");
  EXPECT_EQ(t->m_pVarHead->m_nVarIndex, -1);
  CString varType;
  EXPECT_TRUE(t->m_mapVarTypes.Lookup("-1", varType));
  EXPECT_EQ(varType, "nvarchar");
  EXPECT_EQ(t->m_wVarColumnCap, 1);
}

TEST_F(Catalog2000, IdentitySeedAndIncrementFollowTheCurrentValue) {
  // autoval is [current][seed][increment] (+ a flag byte), each as wide as the column.
  struct Case {
    const char* label;
    BYTE typeId;
    WORD length;
    Bytes autoval;
    INT64 seed, increment;
  } cases[] = {
      {"int", 56, 4, Le(11077, 4) + Le(100, 4) + Le(5, 4) + Le(0x82, 1), 100, 5},
      {"smallint", 52, 2, Le(14, 2) + Le(1, 2) + Le(1, 2) + Le(0x82, 1), 1, 1},
      {"tinyint", 48, 1, Le(9, 1) + Le(3, 1) + Le(2, 1), 3, 2},
      {"bigint", 127, 8, Le(7, 8) + Le(5000000000ull, 8) + Le(UINT64(-10), 8), 5000000000ll, -10},
      {"numeric", 108, 5, Le(1, 1) + Le(9, 4) + Le(1, 1) + Le(1000, 4) + Le(1, 1) + Le(10, 4), 1000, 10},
      // A view column marked identity has no autoval: nothing is read past the row.
      {"int without autoval", 56, 4, Bytes(), 0, 0},
  };
  DWORD id = 700;
  for (const Case& c : cases) {
    ColumnSpec spec{++id, "id", c.typeId, c.length, 1, 1, 4};
    spec.identity = true;
    spec.autoval = c.autoval;
    ParseOne(engine, &CSQLServer2000::DecodeColumnRow, ColumnRow(spec));
    CTable* t = Table(engine, id);
    ASSERT_NE(t, nullptr) << c.label;
    EXPECT_TRUE(t->m_bHasIdentity) << c.label;
    EXPECT_TRUE(t->m_pColumnHead->m_bIdentity) << c.label;
    EXPECT_EQ(t->m_pColumnHead->m_nIdentitySeed64, c.seed) << c.label;
    EXPECT_EQ(t->m_pColumnHead->m_nIdentityIncrement64, c.increment) << c.label;
  }
}

TEST_F(Catalog2000, ViewColumnsAndParametersMakeNoTable) {
  ParseOne(engine, &CSQLServer2000::ParseSysObjectsRow, ObjectRow(800, "V ", "v"));
  ParseOne(engine, &CSQLServer2000::ParseSysObjectsRow, ObjectRow(801, "P ", "p"));
  ParseOne(engine, &CSQLServer2000::ParseSysObjectsRow, ObjectRow(802, "U ", "t"));
  for (DWORD id : {800u, 801u, 802u}) ParseOne(engine, &CSQLServer2000::DecodeColumnRow, ColumnRow({id, "x", 56, 4, 1, 1, 4}));
  EXPECT_EQ(Table(engine, 800), nullptr);
  EXPECT_EQ(Table(engine, 801), nullptr);
  ASSERT_NE(Table(engine, 802), nullptr);
  EXPECT_EQ(ColumnNames(Table(engine, 802)), (std::vector<std::string>{"x"}));
}

// An indexed view: its syscolumns rows name its columns by colid and its sysindexes rows
// become its indexes (indid 1 the clustered one); both follow the view in Views.sql, and an
// index whose key the view has no column for is logged and left out.
TEST_F(Catalog2000, IndexedViewKeepsItsColumnsAndIndexesAndScriptsThem) {
  engine.m_mapOwnerNames.SetAt("5", "sales");
  ParseOne(engine, &CSQLServer2000::ParseSysObjectsRow, ObjectRow(800, "V ", "Totals", 0, 0, 5));
  for (const ColumnSpec& c : {ColumnSpec{800, "OrderID", 56, 4, 1, 1}, ColumnSpec{800, "Total", 60, 8, 3, 2},
                              ColumnSpec{800, "Total", 60, 8, 3, 2}})
    ParseOne(engine, &CSQLServer2000::DecodeColumnRow, ColumnRow(c));
  ParseOne(engine, &CSQLServer2000::ParseSysIndexesRow, IndexRow(800, 1, 0x2, {{1, 0}}, "CX_Totals"));
  ParseOne(engine, &CSQLServer2000::ParseSysIndexesRow, IndexRow(800, 2, 0x0, {{3, 0}, {1, 0}}, "IX_Totals"));
  ParseOne(engine, &CSQLServer2000::ParseSysIndexesRow, IndexRow(800, 2, 0x0, {{3, 0}}, "IX_again"));
  ParseOne(engine, &CSQLServer2000::ParseSysIndexesRow, IndexRow(800, 3, 0x0, {{9, 0}}, "IX_lost"));
  ParseOne(engine, &CSQLServer2000::ParseSysIndexesRow, IndexRow(800, 4, 0x800060, {{1, 0}}, "_WA_Sys_v"));

  EXPECT_EQ(Table(engine, 800), nullptr);
  CViewStoredProc* view = nullptr;
  ASSERT_TRUE(engine.m_mapViews.Lookup("800", view) && view);
  EXPECT_EQ(view->m_strOwner, CString("sales"));
  ASSERT_EQ(view->m_vecColumns.size(), 2u);
  EXPECT_EQ(view->m_vecColumns[1].id, 3);
  EXPECT_EQ(view->m_vecColumns[1].name, CString("Total"));
  ASSERT_EQ(view->m_vecIndexes.size(), 3u);
  EXPECT_TRUE(view->FindIndex(1)->m_bClustered && view->FindIndex(1)->m_bUnique);
  EXPECT_EQ(view->FindIndex(2)->m_strName, CString("IX_Totals"));
  EXPECT_EQ(view->FindIndex(2)->m_vecColumns, (std::vector<int>{3, 1}));

  testsupport::TempDir dir;
  view->m_strText = "CREATE VIEW sales.Totals WITH SCHEMABINDING AS SELECT OrderID, Total FROM sales.T";
  engine.m_hViewsSqlFile = CreateFileForWrite(dir.file("Views.sql").c_str());
  engine.GenerateViewQueries(view);
  CloseFileHandle(engine.m_hViewsSqlFile);
  const std::string go = "\r\ngo\r\n";
  EXPECT_EQ(testsupport::ReadFile(dir.file("Views.sql")),
            view->m_strText.str() + "\r\n" + go + "SET ARITHABORT ON\r\nSET NUMERIC_ROUNDABORT OFF" + go +
                "CREATE UNIQUE CLUSTERED INDEX [CX_Totals] ON [sales].[Totals] ([OrderID] ASC)" + go +
                "CREATE NONCLUSTERED INDEX [IX_Totals] ON [sales].[Totals] ([Total] ASC, [OrderID] ASC)" + go);
  EXPECT_NE(scope.ReadExecLog().find("Index [IX_lost] of view [sales].[Totals]: its name or columns cannot be read"),
            std::string::npos);
}

TEST_F(Catalog2000, IndexesFlagsKeysAndSkippedRows) {
  CTable* t = engine.NewTable();
  t->m_dwObjectId = 900;
  engine.m_mapTables.SetAt("900", t);
  // Key entries 2, 0, 2, 5 and a locator (byte 30 = 1) give 2, 5.
  ParseOne(engine, &CSQLServer2000::ParseSysIndexesRow,
           IndexRow(900, 1, 0x10, {{2, 0}, {0, 0}, {2, 0}, {5, 0}, {7, 1}}, "ix_clu"));
  ParseOne(engine, &CSQLServer2000::ParseSysIndexesRow, IndexRow(900, 2, 0x802 | 0x1000, {{1, 0}}, "PK_t"));
  ParseOne(engine, &CSQLServer2000::ParseSysIndexesRow, IndexRow(900, 3, 0x10, {{3, 0}}, "uq_hidden"));
  // Statistics, hypothetical, heap and text rows are no index.
  ParseOne(engine, &CSQLServer2000::ParseSysIndexesRow, IndexRow(900, 4, 0x800060, {{3, 0}}, "_WA_Sys_x"));
  ParseOne(engine, &CSQLServer2000::ParseSysIndexesRow, IndexRow(900, 5, 0x20, {{3, 0}}, "hypo"));
  ParseOne(engine, &CSQLServer2000::ParseSysIndexesRow, IndexRow(900, 0, 0, {}, "heap"));
  ParseOne(engine, &CSQLServer2000::ParseSysIndexesRow, IndexRow(900, 255, 2, {}, "tt"));
  EXPECT_EQ(t->m_mapTableIndexes.GetCount(), 3);
  const CIndexInfo* clustered = *t->m_mapTableIndexes.Find("1");
  EXPECT_EQ(clustered->m_vecColumns, (std::vector<int>{2, 5}));
  EXPECT_TRUE(clustered->m_bClustered);
  EXPECT_FALSE(clustered->m_bUnique);
  EXPECT_EQ(t->m_nExtraColumn, 1);  // clustered, not unique: rows carry a uniquifier
  const CIndexInfo* pk = *t->m_mapTableIndexes.Find("2");
  EXPECT_TRUE(pk->m_bPrimaryKey && pk->m_bUnique && pk->m_bNonClustered && pk->m_bConstraint);
  EXPECT_FALSE((*t->m_mapTableIndexes.Find("3"))->m_bNonClustered);
  EXPECT_TRUE(t->m_bHasIndexes);
}

TEST_F(Catalog2000, IndexRowsAreFoundBehindATornSlotEntry) {
  CTable* t = engine.NewTable();
  engine.m_mapTables.SetAt("901", t);
  Page page(1, 2, 1);
  page.Add(Bytes(256, 0));  // filler: the row lies 256 bytes past the slot's offset
  page.Add(IndexRow(901, 1, 2, {{1, 0}}, "PK_x"));
  engine.ParseSysIndexesRow(page.body(), 0);
  EXPECT_TRUE(t->m_mapTableIndexes.Contains("1"));
}

TEST_F(Catalog2000, ForeignKeysKeepTheirColumnPairsAndRejectDamagedCounts) {
  CTable* t = engine.NewTable();
  engine.m_mapTables.SetAt("1000", t);
  ParseOne(engine, &CSQLServer2000::ParseSysForeignKeysRow, ForeignKeyRow(5000, 1000, 1001, {3, 4}, {1, 2}));
  ParseOne(engine, &CSQLServer2000::ParseSysForeignKeysRow, ForeignKeyRow(5001, 1000, 1001, {3}, {1}, 3));
  ParseOne(engine, &CSQLServer2000::ParseSysForeignKeysRow, ForeignKeyRow(5002, 1000, 1001, {3}, {1}, 0xFFFF));
  ParseOne(engine, &CSQLServer2000::ParseSysForeignKeysRow, ForeignKeyRow(5003, 1999, 1001, {3}, {1}));
  ASSERT_NE(t->m_pForeignKeyHead, nullptr);
  EXPECT_EQ(t->m_pForeignKeyHead->m_dwConstraintId, 5000u);
  EXPECT_EQ(t->m_pForeignKeyHead->m_vecKeyColumns, (std::vector<WORD>{3, 4}));
  EXPECT_EQ(t->m_pForeignKeyHead->m_vecRefColumns, (std::vector<WORD>{1, 2}));
  EXPECT_EQ(t->m_pForeignKeyHead->m_pNext, nullptr);
  EXPECT_TRUE(engine.m_mapForeignKeyTables.Contains("1000"));
  EXPECT_FALSE(engine.m_mapTables.Contains("1999"));
}

// The constraint's sysobjects status word carries its actions and its state; the fixtures'
// keys and CHECKs show 0x2 (a column constraint), 0x4 and 0x800 only, so those must not move.
TEST_F(Catalog2000, ConstraintStatusGivesActionsAndState) {
  struct Case {
    DWORD status;
    const char* foreignKey;  // its statements, joined by " | "
    const char* check;
  };
  const Case cases[] = {
      {0x2, "ALTER TABLE [dbo].[T] WITH CHECK ADD CONSTRAINT [K] FOREIGN KEY ([a]) REFERENCES [dbo].[R] ([id])",
       "ALTER TABLE [dbo].[T] WITH CHECK ADD CONSTRAINT [C] CHECK ([a] > 0)"},
      {0x802, "ALTER TABLE [dbo].[T] WITH NOCHECK ADD CONSTRAINT [K] FOREIGN KEY ([a]) REFERENCES [dbo].[R] ([id])",
       "ALTER TABLE [dbo].[T] WITH NOCHECK ADD CONSTRAINT [C] CHECK ([a] > 0)"},
      {0x1000, "ALTER TABLE [dbo].[T] WITH CHECK ADD CONSTRAINT [K] FOREIGN KEY ([a]) REFERENCES [dbo].[R] ([id]) "
               "ON DELETE CASCADE",
       nullptr},
      {0x3004, "ALTER TABLE [dbo].[T] WITH CHECK ADD CONSTRAINT [K] FOREIGN KEY ([a]) REFERENCES [dbo].[R] ([id]) "
               "ON DELETE CASCADE ON UPDATE CASCADE",
       nullptr},
      {0x2400, "ALTER TABLE [dbo].[T] WITH CHECK ADD CONSTRAINT [K] FOREIGN KEY ([a]) REFERENCES [dbo].[R] ([id]) "
               "ON UPDATE CASCADE NOT FOR REPLICATION",
       "ALTER TABLE [dbo].[T] WITH CHECK ADD CONSTRAINT [C] CHECK NOT FOR REPLICATION ([a] > 0)"},
      // NOCHECK CONSTRAINT sets both: switched off, and not checked since.
      {0x902, "ALTER TABLE [dbo].[T] WITH NOCHECK ADD CONSTRAINT [K] FOREIGN KEY ([a]) REFERENCES [dbo].[R] ([id]) | "
              "ALTER TABLE [dbo].[T] NOCHECK CONSTRAINT [K]",
       "ALTER TABLE [dbo].[T] WITH NOCHECK ADD CONSTRAINT [C] CHECK ([a] > 0) | "
       "ALTER TABLE [dbo].[T] NOCHECK CONSTRAINT [C]"},
  };
  auto joined = [](const std::vector<CString>& statements) {
    std::string out;
    for (const CString& s : statements) out += (out.empty() ? "" : " | ") + s.str();
    return out;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FormatString("status 0x%lx", c.status).str());
    CSQLServer2000 e;
    CTable* t = e.NewTable();
    t->m_strName = "T";
    t->m_strOwner = "dbo";
    t->m_dwObjectId = 1000;
    e.m_mapTables.SetAt("1000", t);
    ParseOne(e, &CSQLServer2000::ParseSysObjectsRow, ObjectRow(5000, "F ", "K", c.status, 1000));
    ParseOne(e, &CSQLServer2000::ParseSysObjectsRow, ObjectRow(5001, "C ", "C", c.status, 1000));
    ParseOne(e, &CSQLServer2000::ParseSysForeignKeysRow, ForeignKeyRow(5000, 1000, 1001, {1}, {1}));
    auto* text = new CIndexInfo();
    text->m_strText = "([a] > 0)";
    e.m_mapObjectTexts.SetAt("5001", text);
    e.AttachConstraints();
    const CForeignKey* k = t->m_pForeignKeyHead;
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->m_strName, "K");
    EXPECT_EQ(joined(SqlForeignKeyStatements("[dbo].[T]", k->m_strName, {"a"}, "[dbo].[R]", {"id"},
                                             k->m_bDeleteAction, k->m_bUpdateAction, k->m_state)),
              c.foreignKey);
    EXPECT_EQ(k->m_state.systemNamed, (c.status & 0x4) != 0);
    ASSERT_EQ(t->m_vecChecks.size(), 1u);
    if (c.check) {
      EXPECT_EQ(joined(SqlCheckStatements("[dbo].[T]", t->m_vecChecks[0])), c.check);
    }
    // A CASCADE read from these bits is named in the log, for a user to check.
    const bool cascade = (c.status & 0x3000) != 0;
    EXPECT_EQ(scope.ReadExecLog().find(FormatString("Foreign key [K] of [dbo].[T] is scripted with%s%s, as its status "
                                                    "word 0x%lx gives it",
                                                    (c.status & 0x1000) ? " ON DELETE CASCADE" : "",
                                                    (c.status & 0x2000) ? " ON UPDATE CASCADE" : "", c.status)
                                           .str()) != std::string::npos,
              cascade);
  }
}

TEST_F(Catalog2000, SplitTextsAreJoinedInColidOrder) {
  auto* view = new CViewStoredProc();
  engine.m_mapViews.SetAt("2100", view);
  CTable* t = engine.NewTable();
  engine.m_mapTables.SetAt("2200", t);
  // Pages meet the rows out of order; a repeated colid is ignored.
  ParseOne(engine, &CSQLServer2000::ParseSysCommentsRow, CommentRow(2100, 1, 2, "world"));
  ParseOne(engine, &CSQLServer2000::ParseSysCommentsRow, CommentRow(2100, 1, 1, "hello "));
  ParseOne(engine, &CSQLServer2000::ParseSysCommentsRow, CommentRow(2100, 1, 2, "again"));
  ParseOne(engine, &CSQLServer2000::ParseSysCommentsRow, CommentRow(2200, 3, 1, "([a] + [b])"));
  ParseOne(engine, &CSQLServer2000::ParseSysCommentsRow, CommentRow(99, 0, 1, "dropped"));
  ParseOne(engine, &CSQLServer2000::ParseSysCommentsRow, CommentRow(2000, 0, 1, "dropped"));
  ParseOne(engine, &CSQLServer2000::ParseSysCommentsRow, CommentRow(2001, 0, 1, "create default d as 0"));
  engine.ReadSysComments();  // no syscomments pages: only joins what was parsed
  EXPECT_EQ(view->m_strText, "hello world");
  EXPECT_EQ(view->m_wValue1, 1);
  EXPECT_EQ(view->m_wValue2, 1);
  CString computed;
  EXPECT_TRUE(t->m_mapComputed.Lookup("3", computed));
  EXPECT_EQ(computed, "([a] + [b])");
  EXPECT_EQ(engine.m_mapObjectTexts.GetCount(), 1);
  EXPECT_EQ((*engine.m_mapObjectTexts.Find("2001"))->m_strText, "create default d as 0");
}

TEST_F(Catalog2000, OwnersAndUserTypes) {
  ParseOne(engine, &CSQLServer2000::ParseSysUsersRow, UserRow(1, "dbo"));
  Bytes withOne = Utf16("ab");
  withOne.insert(withOne.begin() + 2, {1, 0});
  ParseOne(engine, &CSQLServer2000::ParseSysUsersRow, Row(16).Put(4, 7, 2).Columns(9).Var(withOne).Build());
  CString owner;
  EXPECT_TRUE(engine.m_mapOwnerNames.Lookup("1", owner));
  EXPECT_EQ(owner, "dbo");
  EXPECT_TRUE(engine.m_mapOwnerNames.Lookup("7", owner));
  EXPECT_EQ(owner, "ab");

  ParseOne(engine, &CSQLServer2000::ParseSysTypesRow, TypeRow(167, 167, 8000, "varchar"));
  ParseOne(engine, &CSQLServer2000::ParseSysTypesRow, TypeRow(231, 256, 256, "sysname"));
  ParseOne(engine, &CSQLServer2000::ParseSysTypesRow, TypeRow(167, 257, 11, "id"));
  EXPECT_EQ(engine.m_mapDataTypes.GetCount(), 1);
  const CDataType* id = *engine.m_mapDataTypes.Find("257");
  EXPECT_EQ(id->m_strName, "id");
  EXPECT_EQ(id->m_bSystemTypeId, 167);
  EXPECT_EQ(id->m_wLength, 11);
  EXPECT_EQ(id->m_dwValue1, 0x5678u);  // collation id
  EXPECT_EQ(id->m_dwValue2, 0x1234u);  // default object
}

TEST_F(Catalog2000, RowsNearThePageEndStayInsideIt) {
  // Every parser, on rows cut off by the end of the body at every length: nothing is read
  // outside the page (the sanitizer build checks), and no cut row is taken.
  const std::vector<std::pair<CSQLServer2000::RowParser, Bytes>> rows = {
      {&CSQLServer2000::ParseSysObjectsRow, ObjectRow(3000, "U ", "tbl")},
      {&CSQLServer2000::DecodeColumnRow, ColumnRow({3000, "col", 56, 4, 1, 1, 4, false, true, Le(0, 12)})},
      {&CSQLServer2000::ParseSysIndexesRow, IndexRow(3000, 1, 0, {{1, 0}}, "ix")},
      {&CSQLServer2000::ParseSysForeignKeysRow, ForeignKeyRow(1, 3000, 3000, {1}, {1})},
      {&CSQLServer2000::ParseSysCommentsRow, CommentRow(3000, 1, 1, "text")},
      {&CSQLServer2000::ParseSysUsersRow, UserRow(1, "dbo")},
      {&CSQLServer2000::ParseSysTypesRow, TypeRow(167, 300, 10, "t")},
  };
  for (const auto& [parser, row] : rows) {
    for (size_t keep = 0; keep < row.size(); ++keep) {
      CSQLServer2000 fresh;
      Page page(1, 1, 1);
      BYTE* body = page.body();
      const WORD at = WORD(kPageBodySize - keep);
      std::memcpy(body + at, row.data(), keep);
      (fresh.*parser)(body, at);
      EXPECT_EQ(fresh.m_mapTables.GetCount() + fresh.m_mapOwnerNames.GetCount() + fresh.m_mapDataTypes.GetCount(), 0)
          << keep;
    }
  }
}

TEST_F(Catalog2000, NameUnnamedTablesCleansTheMap) {
  auto add = [&](DWORD id, const char* name, bool withColumn) {
    CTable* t = engine.NewTable();
    t->m_dwObjectId = id;
    t->m_strName = name;
    if (withColumn) t->AppendColumn(new CColumn());
    engine.m_mapTables.SetAt(FormatString("%ld", id).view(), t);
    return t;
  };
  add(3, "", true);
  add(250, "", false);
  CTable* lost = add(260, "", true);
  add(270, "named", true);
  engine.m_mapForeignKeyTables.SetAt("250", Table(engine, 250));
  engine.m_strLastOwnerName = "";
  engine.NameUnnamedTables();
  EXPECT_EQ(engine.m_mapTables.GetCount(), 2);
  EXPECT_EQ(lost->m_strName, "RecoveredTab#_1");
  EXPECT_EQ(lost->m_strOwner, "dbo");
  EXPECT_FALSE(engine.m_mapForeignKeyTables.Contains("250"));
}
