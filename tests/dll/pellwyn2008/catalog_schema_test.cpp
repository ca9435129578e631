// Schema completion: physical column positions from the rowset-column catalog, the table
// map filter and the column index by column id.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "dll/pellwyn2008/catalog_rows.h"
#include "dll/pellwyn2008/synthetic_pages.h"
#include "support/fixtures.h"

using namespace catalogrows;
using testsupport::ModuleFolderScope;

namespace {

constexpr std::int64_t kRowset = 72057594038779904;

// A column row of table `objectId`, decoded as the column stage does.
void AddColumnRow(CSQLServer2008& engine, int objectId, DWORD id, BYTE type, WORD length, const char* name,
                  int statusA = -1) {
  ColumnRow c;
  c.objectId = objectId;
  c.columnId = id;
  c.systemType = type;
  c.length = length;
  c.name = name;
  c.statusA = statusA;
  Decode(engine, &CSQLServer2008::DecodeColumnRow, c.Build());
}

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
    AddColumnRow(engine, 1001, id, type, length, name, statusA);
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

namespace {

constexpr std::int64_t kOtherRowset = 72057594038845440;

// The stage "Reading rscols" over a synthetic database file: its boot page (or none), the
// 2005 position catalogs (objects 13 and 4) and the 2008 one (object 3).
struct Catalog2005 {
  int bootVersion = 611;  // 0: no boot page
  bool with2008Rows = false;
};

struct StageResult {
  std::map<std::string, std::pair<short, DWORD>> places;  // table.column -> offset, null bit
  std::set<std::string> unplaced;
  BYTE bit = 0;
  std::string log;
};

StageResult RunPositionsStage(const Catalog2005& c) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  synthpages::PageFile file;
  if (c.bootVersion) {
    synthpages::Page& boot = file.At(9, kPageBoot);
    synthpages::PutLE(boot.bytes, kPageHeaderSize + 4, WORD(c.bootVersion), 2);
  }
  // pubs "employee" as a 2005 file keeps it: the uniquifier of its clustered index first
  // in the variable part, then lname and fname, which are rowset columns 4 and 2.
  synthpages::Page& hobt = file.At(20, kPageData, 13);
  const struct {
    DWORD column;
    short offset;
    WORD nullBit;
    WORD bit;
  } hobtColumns[] = {{0, -1, 0, 0}, {1, 4, 1, 0}, {2, -2, 2, 0}, {3, 13, 3, 0}, {4, -3, 4, 0}, {5, 14, 5, 0x0302}};
  for (const auto& h : hobtColumns) {
    HobtColRow r;
    r.hobtColumn = h.column;
    r.offset = h.offset;
    r.nullBit = h.nullBit;
    r.bitPosition = h.bit;
    hobt.Add(r.Build());
  }
  // A second table whose rowset-column rows were lost: its hobt column ids stand in.
  for (DWORD column : {1u, 2u}) {
    HobtColRow r;
    r.hobtId = kOtherRowset;
    r.hobtColumn = column;
    r.offset = short(4 * column);
    r.nullBit = WORD(column);
    hobt.Add(r.Build());
  }
  // A ghost row places nothing.
  HobtColRow ghost;
  ghost.hobtColumn = 3;
  ghost.offset = 99;
  ghost.statusA = 0x1C;
  hobt.Add(ghost.Build());
  synthpages::Page& rowsetColumns = file.At(21, kPageData, 4);
  for (const auto& [rowsetColumn, hobtColumn] : {std::pair{0u, 0u}, {1u, 1u}, {2u, 4u}, {3u, 3u}, {4u, 2u}, {5u, 5u}}) {
    RowsetColRow r;
    r.rowsetColumn = rowsetColumn;
    r.hobtColumn = hobtColumn;
    rowsetColumns.Add(r.Build());
  }
  synthpages::Page& rscols = file.At(22, kPageData, 3);
  if (c.with2008Rows) {
    RsColRow r;
    r.physicalColumn = 1;
    r.offset = 40;
    rscols.Add(r.Build());
  }

  CSQLServer2008 engine;
  synthpages::UsePlainFile(engine, file.Write(dir));
  for (const auto& [key, page] : {std::pair{"13", 20u}, {"4", 21u}, {"3", 22u}}) {
    CTable* group = engine.NewTable();
    group->m_vecDataPages = {page};
    engine.m_mapTables.SetAt(key, group);
  }
  auto table = [&](DWORD id, const char* name, std::int64_t rowset) {
    CTable* t = AddTable(engine, id, name);
    t->m_nExtraColumn = 1;  // clustered, not unique: every row has a uniquifier
    if (rowset) {
      CTable* unit = engine.NewTable();
      unit->m_dwObjectId = id;
      engine.m_mapAllocUnits[FormatString("%I64d", rowset).view()].push_back(unit);
    }
  };
  table(1001, "employee", kRowset);
  table(1002, "lost", kOtherRowset);
  table(1003, "uncatalogued", 0);
  auto column = [&](int object, DWORD id, BYTE type, WORD length, const char* name) {
    AddColumnRow(engine, object, id, type, length, name);
  };
  column(1001, 1, 175, 9, "emp_id");
  column(1001, 2, 167, 20, "fname");
  column(1001, 3, 175, 1, "minit");
  column(1001, 4, 167, 30, "lname");
  column(1001, 5, 104, 1, "flag");
  column(1002, 1, 56, 4, "a");
  column(1002, 2, 56, 4, "b");
  column(1003, 1, 56, 4, "id");
  column(1003, 2, 167, 10, "text");
  engine.ReadRsCols();

  StageResult out;
  for (const auto& [key, t] : engine.m_mapTables) {
    if (t->m_dwObjectId < 1000) continue;
    for (const CColumn* col = t->m_pColumnHead; col; col = col->m_pNext) {
      const std::string name = t->m_strName.str() + "." + col->m_strName.str();
      out.places[name] = {col->m_nOffset, col->m_dwRowsetColumn};
      if (!col->m_bCatalogOffset) out.unplaced.insert(name);
      if (col->m_strType == "bit") out.bit = col->m_bBitPosition;
    }
  }
  out.log = scope.ReadExecLog();
  return out;
}

size_t Lines(const std::string& log, const std::string& part) {
  size_t n = 0;
  for (size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + 1)) ++n;
  return n;
}

}  // namespace

// A 2005-format file places its columns from objects 13 and 4: rowset column to hobt column,
// hobt column to offset, null bit and bit position; the uniquifier names no column.
TEST(Positions2005, PlacesFromTheHobtAndRowsetColumnCatalogs) {
  const StageResult r = RunPositionsStage({});
  const std::map<std::string, std::pair<short, DWORD>> expected = {
      {"employee.emp_id", {4, 1}}, {"employee.fname", {-3, 4}}, {"employee.minit", {13, 3}},
      {"employee.lname", {-2, 2}}, {"employee.flag", {14, 5}},  {"lost.a", {4, 1}},
      {"lost.b", {8, 2}},          {"uncatalogued.id", {0, 1}},  {"uncatalogued.text", {-2, 2}}};
  EXPECT_EQ(r.places, expected);
  EXPECT_EQ(r.bit, 2);
  // Where the catalog holds nothing, the places are computed, the variable ones after the
  // uniquifier, and the table is named in the log once.
  EXPECT_EQ(r.unplaced, (std::set<std::string>{"uncatalogued.id", "uncatalogued.text"}));
  EXPECT_EQ(Lines(r.log, "the catalog gives no stored place"), 1u);
  EXPECT_EQ(Lines(r.log, "Table uncatalogued (object 1003): the catalog gives no stored place for 2 of its 2 columns"),
            1u);
}

// The boot page's version chooses the catalog; without a boot page, the 2008 catalog when it
// places anything, else the 2005 one.
TEST(Positions2005, TheBootPageChoosesTheCatalog) {
  const struct {
    Catalog2005 file;
    short empIdOffset;
    bool fnamePlaced;
  } cases[] = {
      {{611, true}, 4, true},    // 2005: object 3 is another catalog there
      {{590, false}, 4, true},   // a pre-release 2005 file
      {{655, true}, 40, false},  // 2008: the 2005 catalogs are left-overs of an upgrade
      {{661, false}, 0, false},
      {{0, true}, 40, false},
      {{0, false}, 4, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "version " << c.file.bootVersion << " 2008 rows " << c.file.with2008Rows);
    const StageResult r = RunPositionsStage(c.file);
    EXPECT_EQ(r.places.at("employee.emp_id").first, c.empIdOffset);
    EXPECT_EQ(r.unplaced.count("employee.fname") == 0, c.fnamePlaced);
  }
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
