// Schema completion: physical column positions from the rowset-column catalog, the table
// map filter and the column index by column id.
#include <gtest/gtest.h>

#include "dll/pellwyn2008/catalog_rows.h"
#include "support/fixtures.h"

using namespace catalogrows;
using testsupport::ModuleFolderScope;

namespace {

constexpr std::int64_t kRowset = 72057594038779904;

struct PositionsTest : ::testing::Test {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  CTable* table = nullptr;
  void SetUp() override {
    table = AddTable(engine, 1001, "T");
    // The allocation unit of the table's rowset, as the rowset stage leaves it.
    CTable* unit = engine.NewTable();
    unit->m_dwObjectId = 1001;
    engine.m_mapAllocUnits[FormatString("%I64d", kRowset).view()].push_back(unit);
  }
  void AddColumn(DWORD id, BYTE type, WORD length, const char* name, int statusA = -1) {
    ColumnRow c;
    c.columnId = id;
    c.systemType = type;
    c.length = length;
    c.name = name;
    c.statusA = statusA;
    Decode(engine, &CSQLServer2008::DecodeColumnRow, c.Build());
  }
  void Place(DWORD rowsetColumn, DWORD physical, short offset, WORD bit = 0, DWORD status = 0) {
    RsColRow r;
    r.rowsetColumn = rowsetColumn;
    r.physicalColumn = physical;
    r.offset = offset;
    r.bitPosition = bit;
    r.status = status;
    Decode(engine, &CSQLServer2008::DecodeRsColRow, r.Build());
  }
  const CColumn* Col(const char* name) { return ColumnNamed(table, name); }
};

}  // namespace

// A table that had column 3 dropped and column 5 added after rows were written: the
// dropped column keeps its place in old rows but names no column; the added column gets
// its own position and null-bitmap number, past what old rows hold.
TEST_F(PositionsTest, DroppedAndAddedColumns) {
  AddColumn(1, 56, 4, "Id");
  AddColumn(2, 167, 20, "Name");
  AddColumn(4, 61, 8, "When");
  AddColumn(5, 231, 40, "Note");
  Place(1, 1, 4);
  Place(2, 2, -1);
  Place(0x04000003, 3, 8, 0, 0x02);  // the dropped column, with its dropped flag
  Place(4, 4, 12);
  Place(5, 5, -2);

  EXPECT_EQ(Col("Id")->m_nOffset, 4);
  EXPECT_TRUE(Col("Id")->m_bCatalogOffset);
  EXPECT_EQ(Col("Name")->m_nOffset, -1);
  EXPECT_EQ(Col("When")->m_nOffset, 12);
  EXPECT_EQ(Col("When")->m_dwRowsetColumn, 4u);
  EXPECT_EQ(Col("Note")->m_nOffset, -2);
  EXPECT_EQ(Col("Note")->m_dwRowsetColumn, 5u);
  auto vars = VarColumns(table);
  ASSERT_EQ(vars.size(), 2u);
  EXPECT_EQ(vars[1]->m_nVarIndex, -2);
  EXPECT_EQ(vars[1]->m_dwRowsetColumn, 5u);
  CString type;
  EXPECT_TRUE(table->m_mapVarTypes.Lookup("-1", type));
  EXPECT_EQ(type, "varchar");
  EXPECT_TRUE(table->m_mapVarTypes.Lookup("-2", type));
  EXPECT_EQ(type, "nvarchar");
  EXPECT_FALSE(table->m_mapVarTypes.Contains("4"));
  EXPECT_EQ(table->m_mapVarTypes.GetCount(), 2);
}

// In a clustered table whose key is not the first column the physical order differs from
// the column order (pubs "sales": title_id, column 6, is stored third). Each column gets
// its own position, even when its physical id is another column's column id.
TEST_F(PositionsTest, PhysicalOrderDiffersFromColumnOrder) {
  AddColumn(1, 175, 4, "stor_id");
  AddColumn(2, 167, 20, "ord_num");
  AddColumn(3, 61, 8, "ord_date");
  AddColumn(4, 52, 2, "qty");
  AddColumn(5, 167, 12, "payterms");
  AddColumn(6, 167, 6, "title_id");
  Place(1, 1, 4);
  Place(2, 2, -1);
  Place(6, 3, -2);
  Place(3, 4, 8);
  Place(4, 5, 16);
  Place(5, 6, -3);
  const struct {
    const char* name;
    short offset;
    DWORD physical;
  } expected[] = {{"stor_id", 4, 1},  {"ord_num", -1, 2},   {"ord_date", 8, 4},
                  {"qty", 16, 5},     {"payterms", -3, 6},  {"title_id", -2, 3}};
  for (const auto& e : expected) {
    EXPECT_EQ(Col(e.name)->m_nOffset, e.offset) << e.name;
    EXPECT_EQ(Col(e.name)->m_dwRowsetColumn, e.physical) << e.name;
    EXPECT_TRUE(Col(e.name)->m_bCatalogOffset) << e.name;
  }
}

TEST_F(PositionsTest, BitColumnsShareAByte) {
  AddColumn(1, 104, 1, "A");
  AddColumn(2, 104, 1, "B");
  AddColumn(3, 104, 1, "C");
  Place(1, 1, 8, 0);
  Place(2, 2, 8, 1);
  Place(3, 3, 8, 0x0103);  // only the low byte is the bit
  for (const char* n : {"A", "B", "C"}) EXPECT_EQ(Col(n)->m_nOffset, 8) << n;
  EXPECT_EQ(Col("A")->m_bBitPosition, 0);
  EXPECT_EQ(Col("B")->m_bBitPosition, 1);
  EXPECT_EQ(Col("C")->m_bBitPosition, 3);
  EXPECT_EQ(table->m_nBitColumns, 3);
}

// Positions that cannot be true are not taken; negative positions make any type a
// variable column.
TEST_F(PositionsTest, ImplausiblePositionsAndVariableOnlyByPosition) {
  AddColumn(1, 56, 4, "Before");    // offset inside the record header
  AddColumn(2, 56, 4, "After");     // past the largest fixed part
  AddColumn(3, 167, 10, "VarFixed");  // a variable type with a fixed position
  AddColumn(4, 98, 8016, "Variant");
  AddColumn(5, 240, 892, "Node");     // a CLR type: variable binary
  AddColumn(256, 56, 4, "Wide");
  AddColumn(300, 56, 4, "Wider");
  Place(1, 1, 2);
  Place(2, 2, 8058);
  Place(3, 3, 12);
  Place(4, 4, -1);
  Place(5, 5, -2);
  Place(256, 256, 20);
  Place(300, 300, 24);
  Place(0, 7, 30);  // the uniquifier names no column
  EXPECT_FALSE(Col("Before")->m_bCatalogOffset);
  EXPECT_FALSE(Col("After")->m_bCatalogOffset);
  EXPECT_FALSE(Col("VarFixed")->m_bCatalogOffset);
  EXPECT_EQ(Col("VarFixed")->m_nOffset, -1);  // the column catalog's own variable index
  EXPECT_EQ(Col("Variant")->m_nOffset, -1);
  EXPECT_EQ(Col("Node")->m_strType, "varbinary");
  EXPECT_EQ(Col("Node")->m_nOffset, -2);
  EXPECT_EQ(Col("Wide")->m_nOffset, 20);
  EXPECT_EQ(Col("Wider")->m_nOffset, 24);
  CString type;
  EXPECT_TRUE(table->m_mapVarTypes.Lookup("-1", type));
  EXPECT_EQ(type, "sql_variant");
  EXPECT_TRUE(table->m_mapVarTypes.Lookup("-2", type));
  EXPECT_EQ(type, "varbinary");
}

// The rowset's units are visited in order; a unit whose table has no record ends the row.
TEST_F(PositionsTest, RowsetUnitsWithoutATable) {
  AddColumn(1, 56, 4, "Id");
  CTable* stray = engine.NewTable();
  stray->m_dwObjectId = 77777;
  auto& units = *engine.m_mapAllocUnits.Find(FormatString("%I64d", kRowset).view());
  units.insert(units.begin(), stray);
  Place(1, 1, 4);
  EXPECT_FALSE(Col("Id")->m_bCatalogOffset);
  // An unknown rowset changes nothing either.
  RsColRow other;
  other.rowsetId = 5;
  Decode(engine, &CSQLServer2008::DecodeRsColRow, other.Build());
  EXPECT_FALSE(Col("Id")->m_bCatalogOffset);
}

TEST(FilterObjects, SystemObjectsNamelessAndEmptyTables) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  auto withColumn = [&](CTable* t) {
    auto* c = new CColumn;
    c->m_strName = "c";
    t->AppendColumn(c);
    return t;
  };
  withColumn(AddTable(engine, 3, ""));
  withColumn(AddTable(engine, 55, ""));
  withColumn(AddTable(engine, 199, "sysx"));
  withColumn(AddTable(engine, 200, "First"));
  AddTable(engine, 300, "NoColumns");
  withColumn(AddTable(engine, 400, "", ""));
  withColumn(AddTable(engine, 500, "", ""));
  AddTable(engine, 600, "", "");
  withColumn(AddTable(engine, 700, "sysdiagrams"));
  engine.m_strLastOwnerName = "";
  engine.FilterObjects();

  std::vector<std::string> keys;
  for (const auto& e : engine.m_mapTables) keys.push_back(e.first);
  // The diagram table is user data (its diagrams are worth restoring), so it stays.
  EXPECT_EQ(keys, (std::vector<std::string>{"200", "400", "500", "55", "700"}));
  CTable* t400 = engine.m_mapTables["400"];
  CTable* t500 = engine.m_mapTables["500"];
  EXPECT_EQ(t400->m_strName, "RecoveredTab#_1");
  EXPECT_EQ(t400->m_strOwner, "dbo");
  EXPECT_EQ(t500->m_strName, "RecoveredTab#_2");
  EXPECT_TRUE(engine.m_mapTables["55"]->m_strName.IsEmpty());

  // Another run numbers from 1 again and takes the owner of the last table row read.
  CSQLServer2008 second;
  withColumn(AddTable(second, 900, "", ""));
  second.m_strLastOwnerName = "sales";
  second.FilterObjects();
  EXPECT_EQ(second.m_mapTables["900"]->m_strName, "RecoveredTab#_1");
  EXPECT_EQ(second.m_mapTables["900"]->m_strOwner, "sales");
}

TEST(OrganizeSchemaInfo, ColumnsIndexedByColumnId) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  CTable* t = AddTable(engine, 1001, "T");
  for (DWORD id : {1u, 2u, 4u, 300u, 1024u}) {
    ColumnRow c;
    c.columnId = id;
    c.name = "c" + std::to_string(id);
    Decode(engine, &CSQLServer2008::DecodeColumnRow, c.Build());
  }
  ColumnRow ghost;
  ghost.columnId = 2;
  ghost.name = "old";
  ghost.statusA = 0x3C;
  Decode(engine, &CSQLServer2008::DecodeColumnRow, ghost.Build());
  for (int run = 0; run < 2; ++run) {  // also after a scan file is loaded: same result
    engine.OrganizeSchemaInfo();
    ASSERT_EQ(t->m_vecColumnById.size(), 1025u);
    EXPECT_EQ(t->m_vecColumnById[0], nullptr);
    EXPECT_EQ(t->m_vecColumnById[3], nullptr);
    for (size_t id : {1u, 2u, 4u, 300u, 1024u}) {
      ASSERT_NE(t->m_vecColumnById[id], nullptr) << id;
      EXPECT_EQ(t->m_vecColumnById[id]->m_wColOrder, id);
      EXPECT_FALSE(t->m_vecColumnById[id]->m_bDropped) << id;
    }
  }
  EXPECT_EQ(ColumnNamed(t, "c300")->m_wColOrder, 300);
}
