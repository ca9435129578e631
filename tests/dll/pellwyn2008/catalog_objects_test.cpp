// Catalog stages I: the system-table walk, allocation units and rowsets with the linking of
// table pages, user data types, principals and schemas, objects, and the user tables every
// 2005-2008 R2 fixture holds.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>

#include "dll/pellwyn2008/catalog_rows.h"
#include "dll/pellwyn2008/synthetic_pages.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"

using catalogrows::Put;
using catalogrows::Record;
using testsupport::ModuleFolderScope;
using testsupport::TempDir;
namespace sp = synthpages;
using sp::Bytes;

namespace {

using E = CSQLServer2008;

Bytes Name16(const std::string& text) { return sp::Utf16(text); }

// System object 7: a unit of `rowset`.
Bytes UnitRow(INT64 unitId, INT64 rowset, BYTE type = 1, int statusA = 0x10) {
  Bytes f(69, 0);
  Put(f, 4, std::uint64_t(unitId), 8);
  Put(f, 12, type, 1);
  Put(f, 13, std::uint64_t(rowset), 8);
  Put(f, 39, 0x1234, 4);
  Put(f, 43, 1, 2);
  return Record(f, 14, {}, statusA);
}

// System object 5.
Bytes RowsetRow(INT64 rowset, DWORD objectId, DWORD indexId, int statusA = 0x10, BYTE statusB = 0) {
  Bytes f(33, 0);
  Put(f, 4, std::uint64_t(rowset), 8);
  Put(f, 13, objectId, 4);
  Put(f, 17, indexId, 4);
  Bytes r = Record(f, 11, {}, statusA);
  r[1] = statusB;
  return r;
}

// System object 50.
Bytes TypeRow(int typeId, BYTE systemType, const Bytes& name, WORD columns = 13, int statusA = -1) {
  Bytes f(49, 0);
  Put(f, 4, DWORD(typeId), 4);
  Put(f, 8, 1, 4);
  Put(f, 12, systemType, 1);
  Put(f, 13, 20, 2);
  Put(f, 15, 7, 1);
  Put(f, 16, 2, 1);
  Put(f, 17, 0xC0FFEE, 4);
  Put(f, 21, 0x11, 4);
  Put(f, 41, 3001, 4);
  Put(f, 45, 3002, 4);
  return Record(f, columns, {name}, statusA);
}

// System object 27: a principal (name, then its security id).
Bytes PrincipalRow(DWORD id, const Bytes& name, int statusA = -1) {
  Bytes f(29, 0);
  Put(f, 4, id, 4);
  return Record(f, 9, {name, Bytes{1, 5, 0, 0}}, statusA);
}

// System object 64: a class object (50 = schema).
Bytes ClassRow(BYTE objectClass, DWORD id, const std::string& name, int statusA = -1) {
  Bytes f(35, 0);
  Put(f, 4, objectClass, 1);
  Put(f, 5, id, 4);
  return Record(f, 8, {Name16(name)}, statusA);
}

// System object 34.
Bytes ObjectRow(int id, const char* type, const Bytes& name, DWORD schema = 1, int statusA = -1, WORD columns = 11) {
  Bytes f(44, 0);
  Put(f, 4, DWORD(id), 4);
  Put(f, 8, schema, 4);
  f[17] = BYTE(type[0]);
  f[18] = BYTE(type[1] ? type[1] : ' ');
  return Record(f, columns, {name}, statusA);
}

void Decode(E& engine, E::RowDecoder decoder, const Bytes& row) { catalogrows::Decode(engine, decoder, row); }

CTable* Group(E& engine, const char* key, std::vector<DWORD> pages, bool unitGroup) {
  CTable* g = engine.NewTable();
  g->m_vecDataPages = std::move(pages);
  (unitGroup ? engine.m_mapPageGroups : engine.m_mapTables).SetAt(key, g);
  return g;
}

const CTable* TableAt(const E& engine, const char* key) {
  CTable* t = nullptr;
  return engine.m_mapTables.Lookup(key, t) ? t : nullptr;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

// The walk reads the pages of the system object's group, in list order, and hands every slot
// the slot rules accept to the decoder.
TEST(CatalogWalk, PagesSlotsAndTornBits) {
  ModuleFolderScope scope;
  TempDir dir;
  sp::PageFile file;
  // Page 2: slot 0 stored as 0x0160 is read at 0x60; slot 1 holding 0x0160 is used there;
  // slot 2 holding 0x2000 reaches the decoder, which finds no room for a row.
  sp::Page& p2 = file.At(2, kPageData, 27);
  p2.PlaceAt(0x60, PrincipalRow(1, Name16("dbo")));
  p2.PlaceAt(0x160, PrincipalRow(2, Name16("guest")));
  p2.SetSlot(0, 0x0160);
  p2.SetSlot(1, 0x0160);
  p2.SetSlot(2, 0x2000);
  // Page 3 is an index page, page 4 has more slots than a catalog page may.
  file.At(3, 2, 27).Add(PrincipalRow(3, Name16("fromIndexPage")));
  sp::Page& p4 = file.At(4, kPageData, 27);
  p4.Add(PrincipalRow(4, Name16("crowded")));
  p4.SetSlotCount(501);
  // Page 5: the row's name crosses the end of sector 1, whose last byte was torn.
  sp::Page& p5 = file.At(5, kPageData, 27);
  const WORD at = 970;
  p5.PlaceAt(at, PrincipalRow(5, Name16("TornOwnerName")));
  p5.SetSlot(0, at);
  const BYTE original = p5.bytes[1023];
  const BYTE slotHigh = p5.bytes[kPageSize - 1];
  p5.bytes[1023] = BYTE(original ^ 0x03);
  const DWORD torn = 1u | DWORD(original & 3) << 2 | DWORD(slotHigh & 3) << 30;
  sp::PutLE(p5.bytes, 60, torn, 4);
  sp::PutLE(p5.bytes, 4, 0x0100, 2);

  E engine;
  sp::UsePlainFile(engine, file.Write(dir));
  Group(engine, "27", {5, 2, 3, 4, 900}, false);  // 900 lies beyond the file
  Group(engine, "64", {}, false);
  engine.ReadOwnerNames();

  std::map<std::string, std::string> names;
  for (const auto& e : engine.m_mapOwnerNames) names[e.first] = e.second.c_str();
  EXPECT_EQ(names, (std::map<std::string, std::string>{{"1", "dbo"}, {"2", "guest"}, {"5", "TornOwnerName"}}));
  const std::string log = scope.ReadExecLog();
  EXPECT_EQ(Count(log, "MSG:Found : 5\r\n"), 1u);
  EXPECT_EQ(Count(log, "MSG:Found : 0\r\n"), 1u);

  // No group for the system object: nothing is read and nothing logged.
  E other;
  other.ReadObjectInfo();
  other.ReadAllocationInfo();
  EXPECT_EQ(Count(scope.ReadExecLog(), "MSG:Found"), 2u);

  // Every walk logs its page count, except the one over the index columns.
  Group(other, "3", {7, 8}, false);
  Group(other, "55", {7, 8, 9}, false);
  other.ReadRsCols();
  other.ReadIsCols();
  EXPECT_EQ(Count(scope.ReadExecLog(), "MSG:Found : 2\r\n"), 1u);
  EXPECT_EQ(Count(scope.ReadExecLog(), "MSG:Found"), 3u);
}

TEST(CatalogUnits, StatusTypeAndFirstRecordOfAnId) {
  ModuleFolderScope scope;
  E engine;
  const struct {
    INT64 unit;
    INT64 rowset;
    BYTE type;
    int statusA;
    bool kept;
  } cases[] = {
      {1001, 501, 1, 0x10, true},   // in-row data
      {1002, 501, 3, 0x10, true},   // row-overflow data
      {1003, 501, 2, 0x10, false},  // large-object data holds text pages only
      {1004, 502, 1, 0x50, true},   // versioned row
      {1005, 502, 1, 0x1C, false},  // ghost
      {1006, 502, 1, 0x30, false},  // not a unit row
      {1001, 503, 1, 0x10, true},   // the same id again: its rowset lists it, the id keeps the first
  };
  for (const auto& c : cases) Decode(engine, &E::DecodeAllocUnitRow, UnitRow(c.unit, c.rowset, c.type, c.statusA));
  ASSERT_TRUE(engine.m_mapAllocUnits.Contains("501"));
  EXPECT_EQ(engine.m_mapAllocUnits["501"].size(), 2u);
  EXPECT_EQ(engine.m_mapAllocUnits["502"].size(), 1u);
  EXPECT_EQ(engine.m_mapAllocUnits["503"].size(), 1u);
  EXPECT_EQ(engine.m_mapRowsets.GetCount(), 3);
  CTable* first = nullptr;
  ASSERT_TRUE(engine.m_mapRowsets.Lookup("1001", first));
  EXPECT_EQ(first, engine.m_mapAllocUnits["501"][0]);
  EXPECT_EQ(first->m_nAllocUnitId, 1001);
  EXPECT_EQ(first->m_dwFirstIamPage, 0x1234u);
  EXPECT_EQ(first->m_wFirstIamFile, 1);
  EXPECT_EQ(first->m_dwObjectId, 0u);
}

TEST(CatalogRowsets, ClaimUnitsAndLinkTheirPagesToTables) {
  ModuleFolderScope scope;
  E engine;
  const INT64 u1 = 72057594039894016, u2 = 72057594039959552;  // two units of one clustered table
  const INT64 heap = 72057594040025088, index = 72057594040090624, wide = 72057594040156160;
  const INT64 legacy = 72057594040221696, noPages = 72057594040287232;
  for (const auto& [unit, rowset] : std::vector<std::pair<INT64, INT64>>{
           {u1, 11}, {u2, 11}, {heap, 12}, {index, 13}, {wide, 14}, {legacy, 15}, {noPages, 16}})
    Decode(engine, &E::DecodeAllocUnitRow, UnitRow(unit, rowset));
  Decode(engine, &E::DecodeRowsetRow, RowsetRow(11, 2001, 1));
  Decode(engine, &E::DecodeRowsetRow, RowsetRow(12, 2002, 0, 0x10, 0xAB));  // high status byte ignored
  Decode(engine, &E::DecodeRowsetRow, RowsetRow(13, 2001, 2));              // a nonclustered index
  Decode(engine, &E::DecodeRowsetRow, RowsetRow(14, 2004, 65537));          // 0x10001 counts as 1
  Decode(engine, &E::DecodeRowsetRow, RowsetRow(15, 2003, 1, 0x50));
  Decode(engine, &E::DecodeRowsetRow, RowsetRow(16, 2005, 1));
  Decode(engine, &E::DecodeRowsetRow, RowsetRow(16, 9999, 1, 0x1C));        // ghost: skipped
  Decode(engine, &E::DecodeRowsetRow, RowsetRow(11, 7777, 0, 0x30));        // not a rowset row
  EXPECT_FALSE(engine.m_mapAllocUnits.Contains("13"));
  CString owner;
  EXPECT_TRUE(engine.m_mapRowsetObjects.Lookup("11", owner));
  EXPECT_EQ(owner, "2001");

  // The census: page groups by unit id; a table upgraded from 2000 already has its own group.
  const auto key = [](INT64 id) { return FormatString("%I64d", id).str(); };
  Group(engine, key(u1).c_str(), {10, 11}, true);
  Group(engine, key(u2).c_str(), {12}, true)->m_vecFreedPages = {13};
  Group(engine, key(heap).c_str(), {20}, true);
  Group(engine, key(index).c_str(), {40}, true);
  Group(engine, key(wide).c_str(), {50}, true);
  Group(engine, key(legacy).c_str(), {31}, true);
  CTable* upgraded = Group(engine, "2003", {30}, false);
  upgraded->m_dwObjectId = 2003;
  engine.ReadRowsets();  // no rowset pages: the walk is empty, the linking runs

  const CTable* clustered = TableAt(engine, "2001");
  ASSERT_NE(clustered, nullptr);
  EXPECT_EQ(clustered->m_vecDataPages, (std::vector<DWORD>{10, 11, 12}));
  EXPECT_EQ(clustered->m_vecFreedPages, (std::vector<DWORD>{13}));
  EXPECT_EQ(clustered->m_dwObjectId, 2001u);
  ASSERT_NE(TableAt(engine, "2002"), nullptr);
  EXPECT_EQ(TableAt(engine, "2002")->m_vecDataPages, (std::vector<DWORD>{20}));
  ASSERT_NE(TableAt(engine, "2004"), nullptr);
  EXPECT_EQ(TableAt(engine, "2004")->m_vecDataPages, (std::vector<DWORD>{50}));
  EXPECT_EQ(TableAt(engine, "2003"), upgraded);
  EXPECT_EQ(upgraded->m_vecDataPages, (std::vector<DWORD>{30, 31}));
  EXPECT_EQ(TableAt(engine, "2005"), nullptr);  // its unit has no census pages
  EXPECT_EQ(TableAt(engine, "9999"), nullptr);
  EXPECT_EQ(engine.m_mapTables.GetCount(), 4);
}

TEST(CatalogTypes, OnlyUserTypesAreKept) {
  ModuleFolderScope scope;
  E engine;
  const struct {
    int id;
    BYTE system;
    Bytes name;
    WORD columns;
    int statusA;
    bool kept;
  } cases[] = {
      {56, 56, Name16("int"), 13, -1, false},            // built in: id = system type
      {256, 231, Name16("sysname"), 13, -1, false},
      {128, 240, Name16("hierarchyid"), 13, -1, false},  // built-in CLR types
      {257, 167, Name16("phone"), 13, -1, true},
      {258, 167, Name16("toomany"), 41, -1, false},      // column count above 40
      {259, 167, Bytes(502, 'x'), 13, -1, false},        // name longer than 500 bytes
      {260, 167, Name16("dropped"), 13, 0x3C, false},    // ghost
      {261, 106, {'L', 0, 0x41, 0x01, 'x', 0}, 13, 0x70, true},  // versioned; 0x01 bytes vanish
  };
  for (const auto& c : cases) Decode(engine, &E::DecodeDataTypeRow, TypeRow(c.id, c.system, c.name, c.columns, c.statusA));
  ASSERT_EQ(engine.m_mapDataTypes.GetCount(), 2);
  CDataType* t = nullptr;
  ASSERT_TRUE(engine.m_mapDataTypes.Lookup("257", t));
  EXPECT_EQ(t->m_strName, "phone");
  EXPECT_EQ(t->m_bSystemTypeId, 167);
  EXPECT_EQ(t->m_wLength, 20);
  EXPECT_EQ(t->m_bPrecision, 7);
  EXPECT_EQ(t->m_bScale, 2);
  EXPECT_EQ(t->m_dwValue1, 0xC0FFEEu);
  EXPECT_EQ(t->m_dwValue2, 0x11u);
  EXPECT_EQ(t->m_dwValue3, 3001u);
  EXPECT_EQ(t->m_dwValue4, 3002u);
  ASSERT_TRUE(engine.m_mapDataTypes.Lookup("261", t));
  EXPECT_EQ(t->m_strName, "L\xC5\x81x");  // U+0141 whole
  // A later scan stores over the earlier record.
  Decode(engine, &E::DecodeDataTypeRow, TypeRow(257, 175, Name16("phone2")));
  ASSERT_TRUE(engine.m_mapDataTypes.Lookup("257", t));
  EXPECT_EQ(t->m_strName, "phone2");
}

// Tables belong to schemas: a schema's name wins over the principal of the same id, and a
// principal answers where no schema row was found.
TEST(CatalogOwners, SchemasThenPrincipals) {
  ModuleFolderScope scope;
  E engine;
  Decode(engine, &E::DecodeOwnerRow, PrincipalRow(1, Name16("dbo")));
  Decode(engine, &E::DecodeOwnerRow, PrincipalRow(5, Name16("fuse8datareader")));
  Decode(engine, &E::DecodeOwnerRow, PrincipalRow(65543, Name16("seven")));  // kept under "7"
  Decode(engine, &E::DecodeSchemaRow, ClassRow(50, 5, "Sales"));
  Decode(engine, &E::DecodeSchemaRow, ClassRow(5, 1, "PRIMARY"));             // a filegroup
  Decode(engine, &E::DecodeSchemaRow, ClassRow(50, 9, "Gone", 0x3C));         // a dropped schema
  Bytes longFixed = PrincipalRow(6, Name16("x"));
  longFixed[2] = 31;  // fixed part ending beyond 30
  Decode(engine, &E::DecodeOwnerRow, longFixed);

  std::map<std::string, std::string> names;
  for (const auto& e : engine.m_mapOwnerNames) names[e.first] = e.second.c_str();
  EXPECT_EQ(names, (std::map<std::string, std::string>{{"1", "dbo"}, {"5", "Sales"}, {"7", "seven"}}));

  const struct {
    int id;
    DWORD schema;
    const char* owner;
  } tables[] = {{2001, 5, "Sales"}, {2002, 7, "seven"}, {2003, 1, "dbo"}, {2004, 42, ""}};
  for (const auto& t : tables) {
    Decode(engine, &E::DecodeObjectRow, ObjectRow(t.id, "U", Name16("T"), t.schema));
    const CTable* table = TableAt(engine, FormatString("%ld", t.id).c_str());
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->m_strOwner, t.owner) << t.id;
    EXPECT_EQ(engine.m_strLastOwnerName, t.owner) << t.id;
  }
}

TEST(CatalogObjects, TypeCodesGoToTheirMaps) {
  ModuleFolderScope scope;
  E engine;
  const struct {
    const char* type;
    int id;
  } rows[] = {{"U", 2001}, {"V", 2002},  {"P", 2003},  {"R", 2004},  {"TR", 2005}, {"T", 2006}, {"PK", 2007},
              {"FN", 2008}, {"IF", 2009}, {"TF", 2010}, {"F", 2011}, {"D", 2012}, {"S", 2013}, {"IT", 2014},
              {"u", 2015},  {"UQ", 2016}, {"V", 2001}};
  for (const auto& r : rows) Decode(engine, &E::DecodeObjectRow, ObjectRow(r.id, r.type, Name16(FormatString("o%d", r.id).str())));
  const auto ids = [](const CStringKeyMap<CViewStoredProc*>& m) {
    std::set<std::string> s;
    for (const auto& e : m) s.insert(e.first + "=" + e.second->m_strName.c_str());
    return s;
  };
  EXPECT_EQ(ids(engine.m_mapViews), (std::set<std::string>{"2001=o2001", "2002=o2002"}));
  EXPECT_EQ(ids(engine.m_mapStoredProcs), (std::set<std::string>{"2003=o2003"}));
  EXPECT_EQ(ids(engine.m_mapRules), (std::set<std::string>{"2004=o2004"}));
  EXPECT_EQ(ids(engine.m_mapTriggers), (std::set<std::string>{"2005=o2005", "2006=o2006"}));
  // Foreign keys, defaults and unique keys are constraints of their tables, not functions.
  EXPECT_EQ(ids(engine.m_mapFunctions), (std::set<std::string>{"2008=o2008", "2009=o2009", "2010=o2010"}));
  std::set<std::string> constraints;
  for (const auto& [id, c] : engine.m_mapConstraintObjects)
    constraints.insert(std::to_string(id) + "=" + c.type.str() + ":" + c.name.str());
  EXPECT_EQ(constraints, (std::set<std::string>{"2011=F:o2011", "2012=D:o2012", "2016=UQ:o2016"}));
  ASSERT_EQ(engine.m_mapIndexes.GetCount(), 1);
  CIndexInfo* pk = nullptr;
  ASSERT_TRUE(engine.m_mapIndexes.Lookup("2007", pk));
  EXPECT_EQ(pk->m_nValue, 2007);
  ASSERT_EQ(engine.m_mapTables.GetCount(), 1);
  EXPECT_EQ(TableAt(engine, "2001")->m_strName, "o2001");  // the view with the same id is apart
  EXPECT_EQ(engine.m_nObjectSerial, 1);
}

TEST(CatalogObjects, TableNamesOwnersAndSubstitutes) {
  ModuleFolderScope scope;
  E engine;
  engine.m_mapOwnerNames.SetAt("1", "dbo");
  CTable* linked = engine.NewTable();  // as the rowset stage leaves a table with pages
  linked->m_vecDataPages = {7};
  engine.m_mapTables.SetAt("2002", linked);
  const Bytes cyrillic = {0x1F, 0x04, 0x40, 0x04, 'x', 0};         // first unit above U+00FF
  const Bytes broken = {'A', 0, 0x14, 0xDC};                        // a low surrogate alone
  Decode(engine, &E::DecodeObjectRow, ObjectRow(2001, "U", cyrillic));
  Decode(engine, &E::DecodeObjectRow, ObjectRow(2002, "U", cyrillic));  // an existing record as well
  Decode(engine, &E::DecodeObjectRow, ObjectRow(2003, "U", broken));
  Decode(engine, &E::DecodeObjectRow, ObjectRow(2004, "U", Name16("Trailing  ")));
  Decode(engine, &E::DecodeObjectRow, ObjectRow(150, "U", Name16("sysbase")));    // system object ids
  CTable* system = engine.NewTable();
  engine.m_mapTables.SetAt("151", system);
  Decode(engine, &E::DecodeObjectRow, ObjectRow(151, "U", Name16("sysbase2")));
  // A column count of 0x0129 is read as 0x29: a bitmap of 6 bytes.
  Bytes odd = ObjectRow(2005, "U", Name16("Wide"), 1, -1, 0x29);
  odd[45] = 0x01;
  Decode(engine, &E::DecodeObjectRow, odd);
  // Names up to 128 characters end beyond byte 255 of the row.
  const std::string longName(120, 'L');
  Decode(engine, &E::DecodeObjectRow, ObjectRow(2006, "U", Name16(longName)));

  EXPECT_EQ(TableAt(engine, "2001")->m_strName, "\xD0\x9F\xD1\x80x");
  EXPECT_EQ(TableAt(engine, "2002")->m_strName, "\xD0\x9F\xD1\x80x");
  EXPECT_EQ(TableAt(engine, "2002"), linked);
  EXPECT_EQ(linked->m_dwObjectId, 2002u);
  EXPECT_EQ(linked->m_strOwner, "dbo");
  EXPECT_EQ(TableAt(engine, "2003")->m_strName, "UnicodeTab#_1");
  EXPECT_EQ(engine.m_nUnicodeNameSerial, 2);
  EXPECT_EQ(TableAt(engine, "2004")->m_strName, "Trailing");
  EXPECT_EQ(TableAt(engine, "150"), nullptr);
  EXPECT_TRUE(system->m_strName.IsEmpty());
  EXPECT_EQ(TableAt(engine, "2005")->m_strName, "Wide");
  ASSERT_NE(TableAt(engine, "2006"), nullptr);
  EXPECT_EQ(TableAt(engine, "2006")->m_strName.str(), longName);
  EXPECT_EQ(engine.m_nObjectSerial, 5);
}

// A table or column name goes into statements and file names: every name that is text comes
// out as it was stored, in UTF-8; one with a control character or a broken surrogate pair,
// anywhere in the name, gets a numbered substitute, whether the object row or the column row
// meets it and whether the table record is new or was linked to its pages before. Tables and
// columns draw on one serial, in the order their rows are read.
TEST(CatalogObjects, NamesThatAreNoTextGetSubstitutes) {
  ModuleFolderScope scope;
  E engine;
  engine.m_mapOwnerNames.SetAt("1", "dbo");
  CTable* linked = engine.NewTable();
  linked->m_vecDataPages = {7};
  engine.m_mapTables.SetAt("2002", linked);
  auto units = [](std::initializer_list<WORD> text) {
    Bytes b;
    for (WORD u : text) {
      b.push_back(BYTE(u));
      b.push_back(BYTE(u >> 8));
    }
    return b;
  };
  const struct {
    int id;
    Bytes name;
    const char* expected;
  } tables[] = {
      {2001, units({0x4E2D, 0x6587}), "\xE4\xB8\xAD\xE6\x96\x87"},        // Chinese
      {2002, units({0x4E00, 0x6587}), "\xE4\xB8\x80\xE6\x96\x87"},        // on the linked record
      {2003, units({'A', 'B', 0xD83D, 0xDE00}), "AB\xF0\x9F\x98\x80"},      // a surrogate pair
      {2004, units({'L', 'i', 'n', 'e', 0x0A, 'F'}), "UnicodeTab#_1"},  // a line feed
      {2005, units({'x', 0x0085}), "UnicodeTab#_2"},                   // a C1 control
      {2006, units({'x', 0x0000, 'y'}), "UnicodeTab#_3"},              // a zero unit
      {2007, units({'C', 'a', 'f', 0x00E9}), "Caf\xC3\xA9"},           // Latin-1
      {2008, units({0x00C0, '~', 0x00FF, ' ', ' '}), "\xC3\x80~\xC3\xBF"},  // blanks trimmed
  };
  for (const auto& t : tables) Decode(engine, &E::DecodeObjectRow, ObjectRow(t.id, "U", t.name));
  // The same row read again (a page held twice) keeps the name it gave.
  Decode(engine, &E::DecodeObjectRow, ObjectRow(2001, "U", tables[0].name));
  for (const auto& t : tables) {
    ASSERT_NE(TableAt(engine, std::to_string(t.id).c_str()), nullptr) << t.id;
    EXPECT_EQ(TableAt(engine, std::to_string(t.id).c_str())->m_strName, t.expected) << t.id;
  }
  EXPECT_EQ(TableAt(engine, "2002"), linked);
  EXPECT_EQ(engine.m_nUnicodeNameSerial, 4);

  const struct {
    DWORD id;
    Bytes name;
    const char* expected;
  } columns[] = {
      {1, units({0x65E5, 0x4ED8}), "\xE6\x97\xA5\xE4\xBB\x98"},         // Japanese
      {2, units({'a', 'b', 'c', 0xDBFF}), "UnicodeCol#_4"},           // a surrogate cut off
      {3, units({'T', 0x09, 'b'}), "UnicodeCol#_5"},                  // a tab
      {4, units({'G', 'r', 0x00F6, 0x00DF, 'e'}), "Gr\xC3\xB6\xC3\x9F" "e"},  // Latin-1
      {5, units({' ', 'p', 'l', 'a', 'i', 'n', ' '}), "plain"},
  };
  for (const auto& c : columns) {
    catalogrows::ColumnRow row;
    row.objectId = 2007;
    row.columnId = c.id;
    row.rawName = c.name;
    Decode(engine, &E::DecodeColumnRow, row.Build());
  }
  std::vector<std::string> names;
  for (const CColumn* c = TableAt(engine, "2007")->m_pColumnHead; c; c = c->m_pNext) names.push_back(c->m_strName.str());
  std::vector<std::string> expected;
  for (const auto& c : columns) expected.push_back(c.expected);
  EXPECT_EQ(names, expected);
  EXPECT_EQ(engine.m_nUnicodeNameSerial, 6);
}

TEST(CatalogObjects, DroppedObjectsOnlyWhenDeletedRecordsAreAsked) {
  ModuleFolderScope scope;
  E engine;
  Decode(engine, &E::DecodeObjectRow, ObjectRow(2001, "V", Name16("live"), 1, 0x70));  // versioned
  Decode(engine, &E::DecodeObjectRow, ObjectRow(2002, "V", Name16("dropped"), 1, 0x3C));
  Decode(engine, &E::DecodeObjectRow, ObjectRow(2003, "U", Name16("droppedTable"), 1, 0x3C));
  EXPECT_EQ(engine.m_mapViews.GetCount(), 1);
  EXPECT_TRUE(engine.m_mapTables.IsEmpty());
  engine.m_bRecoverDeleted = 1;
  Decode(engine, &E::DecodeObjectRow, ObjectRow(2002, "V", Name16("dropped"), 1, 0x3C));
  Decode(engine, &E::DecodeObjectRow, ObjectRow(2003, "U", Name16("droppedTable"), 1, 0x3C));
  Decode(engine, &E::DecodeObjectRow, ObjectRow(2001, "V", Name16("ghostOfLive"), 1, 0x3C));
  EXPECT_EQ(engine.m_mapViews.GetCount(), 2);
  CViewStoredProc* v = nullptr;
  ASSERT_TRUE(engine.m_mapViews.Lookup("2001", v));
  EXPECT_EQ(v->m_strName, "live");  // a dropped row never replaces a live one
  ASSERT_NE(TableAt(engine, "2003"), nullptr);
  EXPECT_EQ(TableAt(engine, "2003")->m_strName, "droppedTable");
}

// One good row of each kind, broken in one place per case: nothing is stored.
TEST(CatalogRows, DamagedRowsAreSkipped) {
  const struct {
    const char* what;
    E::RowDecoder decoder;
    Bytes row;
    std::function<void(Bytes&)> damage;
  } cases[] = {
      {"unit row cut short", &E::DecodeAllocUnitRow, UnitRow(1001, 501), [](Bytes& r) { r.resize(40); }},
      {"rowset row cut short", &E::DecodeRowsetRow, RowsetRow(11, 2001, 1), [](Bytes& r) { r.resize(19); }},
      {"type name ends before it starts", &E::DecodeDataTypeRow, TypeRow(257, 167, Name16("t")),
       [](Bytes& r) { r[55] = 10; r[56] = 0; }},
      {"type fixed part beyond the page", &E::DecodeDataTypeRow, TypeRow(257, 167, Name16("t")),
       [](Bytes& r) { r[2] = 0x01; r[3] = 0x21; }},
      {"type name beyond the page", &E::DecodeDataTypeRow, TypeRow(257, 167, Name16("t")),
       [](Bytes& r) { r[55] = 0xF0; r[56] = 0x1F; }},
      {"principal without columns", &E::DecodeOwnerRow, PrincipalRow(3, Name16("p")), [](Bytes& r) { r[29] = 0; }},
      {"principal with a huge variable count", &E::DecodeOwnerRow, PrincipalRow(3, Name16("p")),
       [](Bytes& r) { r[33] = 0xFF; r[34] = 0x0F; }},
      {"schema name beyond the page", &E::DecodeSchemaRow, ClassRow(50, 5, "s"), [](Bytes& r) { r[40] = 0xFF; r[41] = 0x7F; }},
      {"object name end before start", &E::DecodeObjectRow, ObjectRow(2001, "U", Name16("T")),
       [](Bytes& r) { r[50] = 4; r[51] = 0; }},
      {"object row cut inside its name", &E::DecodeObjectRow, ObjectRow(2001, "V", Name16("Viewname")),
       [](Bytes& r) { r.resize(56); }},
  };
  for (const auto& c : cases) {
    ModuleFolderScope scope;
    E engine;
    Bytes row = c.row;
    c.damage(row);
    // Placed at the very end of the body, so a read past the row leaves the body.
    catalogrows::Body body;
    const WORD offset = WORD(kPageBodySize - row.size());
    body.Place(row, offset);
    (engine.*c.decoder)(body.data(), offset);
    EXPECT_TRUE(engine.m_mapAllocUnits.IsEmpty() && engine.m_mapRowsetObjects.IsEmpty() &&
                engine.m_mapDataTypes.IsEmpty() && engine.m_mapOwnerNames.IsEmpty() &&
                engine.m_mapTables.IsEmpty() && engine.m_mapViews.IsEmpty())
        << c.what;
  }
}

// Random bytes at every offset of a body: the decoders stay inside it (checked by the
// sanitizer build) and whatever they keep is well formed.
TEST(CatalogRows, RandomBytesStayInsideTheBody) {
  ModuleFolderScope scope;
  E engine;
  std::mt19937 random(1234);
  const E::RowDecoder decoders[] = {&E::DecodeAllocUnitRow, &E::DecodeRowsetRow, &E::DecodeDataTypeRow,
                                    &E::DecodeOwnerRow,     &E::DecodeSchemaRow, &E::DecodeObjectRow,
                                    &E::DecodeObjectValueRow};
  std::vector<BYTE> body(kPageBodySize);
  for (int round = 0; round < 300; ++round) {
    for (auto& b : body) b = BYTE(random());
    // Plausible status bytes make the decoders go deeper.
    const WORD offset = WORD(random() % (kPageBodySize + 1));
    if (offset + 1 < kPageBodySize) {
      body[offset] = BYTE(0x30 | (random() & 0x40));
      body[offset + 1] = 0;
    }
    for (auto decoder : decoders) (engine.*decoder)(body.data(), offset);
  }
  for (const auto& e : engine.m_mapTables) EXPECT_NE(e.second, nullptr);
}

namespace {

// The types of the pubs install script: id varchar(11), tid varchar(6), empid char(9).
const char* const kPubsTypes = "empid:175:9,id:167:11,tid:167:6";

// The user tables of MANIFEST.md, and which of them hold no rows (so no pages).
const struct {
  const char* file;
  const char* tables;
  const char* empty;
  const char* types = "";  // user data types, as "name:system type:length"
} kFixtureTables[] = {
    {"bak2005_stdb2sql_2sets.bak", "Courses,CoursesOffered,CoursesTaken,Enrollment,Prerequisites,Students,Users,dtproperties",
     "dtproperties"},
    {"bak2005_northwind_gabrujo.bak",
     "Categories,CustomerCustomerDemo,CustomerDemographics,Customers,EmployeeTerritories,Employees,Order Details,Orders,"
     "Products,Region,Shippers,Suppliers,Territories,dtproperties",
     "CustomerCustomerDemo,CustomerDemographics,dtproperties"},
    {"bak2005_northwnd_mina.bak",
     "Categories,CustomerCustomerDemo,CustomerDemographics,Customers,EmployeeTerritories,Employees,Order Details,Orders,"
     "Products,Region,Shippers,Suppliers,Territories",
     "CustomerCustomerDemo,CustomerDemographics"},
    {"bak2008_northwind_512blk.bak", "Category,Customer,Employee,Order,OrderDetail,Product,Shipper,Supplier", ""},
    {"bak2008_northwind_thuyluv.bak",
     "Categories,CustomerCustomerDemo,CustomerDemographics,Customers,EmployeeTerritories,Employees,Order Details,Orders,"
     "Products,Region,Shippers,Suppliers,Territories",
     "CustomerCustomerDemo,CustomerDemographics"},
    {"bak2008_library_small.bak", "Authors,Books,BooksAuthors,History,Readers,RoleData", ""},
    {"bak2008r2_northwind_victor.bak",
     "Categories,CustomerCustomerDemo,CustomerDemographics,Customers,EmployeeTerritories,Employees,Order Details,Orders,"
     "Products,Region,Shippers,Suppliers,Territories,titulos_de_contacto",
     "CustomerCustomerDemo,CustomerDemographics"},
    {"bak2008r2_entrepot_fr.bak", "Client,Dates,Employe,Faits,Produit", "Faits"},
    // MANIFEST.md leaves out "sales": its object row is the first of a page whose slot 0 is
    // stored as 0x0260, which the slot rules read at 0x60.
    {"mdf2005_pubs_upg2000.mdf",
     "Menus,Users,authors,discounts,employee,jobs,pub_info,publishers,roysched,sales,stores,titleauthor,titles", "Users",
     kPubsTypes},
    {"mdf2005pre_prosseappsch07_v607.mdf", "ClassGrades,Classes,Students", ""},
    {"mdf2008_qlsinhvien.mdf", "Hoc,Lop,MonHoc,SinhVien", ""},
    {"mdf2008_pubs_itsligo.mdf",
     "authors,discounts,employee,jobs,pub_info,publishers,roysched,sales,stores,titleauthor,titles", "", kPubsTypes},
    {"mdf2008_northwnd_itsligo.mdf",
     "Categories,CustomerCustomerDemo,CustomerDemographics,Customers,EmployeeTerritories,Employees,Order Details,Orders,"
     "Products,Region,Shippers,Suppliers,Territories",
     "CustomerCustomerDemo,CustomerDemographics"},
    {"mdf2008r2_northwnd_upg2000.mdf",
     "Categories,CustomerCustomerDemo,CustomerDemographics,Customers,EmployeeTerritories,Employees,Order Details,Orders,"
     "Products,Region,Shippers,Suppliers,Territories",
     "CustomerCustomerDemo,CustomerDemographics"},
};

std::set<std::string> SplitList(const std::string& list) {
  std::set<std::string> out;
  size_t start = 0;
  while (start < list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    if (comma > start) out.insert(list.substr(start, comma - start));
    start = comma + 1;
  }
  return out;
}

}  // namespace

// Every user table is found by name, in dbo, with its data pages: databases created on 2005
// or 2008 (pages reach tables through their allocation units) and databases upgraded from
// 2000 (whose table pages the census groups under the object id).
TEST(CatalogObjectFixtures, UserTablesWithOwnerAndPages) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  for (const auto& f : kFixtureTables) {
    const std::string path = testsupport::FixturePath(f.file);
    ASSERT_FALSE(path.empty()) << f.file;
    ModuleFolderScope scope;
    E engine;
    ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished) << f.file;
    std::map<std::string, const CTable*> byName;
    for (const auto& e : engine.m_mapTables) {
      ASSERT_NE(e.second, nullptr) << f.file;
      EXPECT_EQ(e.first, FormatString("%lu", e.second->m_dwObjectId).str()) << f.file;
      byName[e.second->m_strName.c_str()] = e.second;
    }
    const std::set<std::string> empty = SplitList(f.empty);
    for (const std::string& name : SplitList(f.tables)) {
      auto it = byName.find(name);
      ASSERT_NE(it, byName.end()) << f.file << ": " << name;
      EXPECT_EQ(it->second->m_strOwner, "dbo") << f.file << ": " << name;
      EXPECT_EQ(it->second->m_vecDataPages.empty(), empty.count(name) == 1) << f.file << ": " << name;
    }
    std::set<std::string> types;
    for (const auto& e : engine.m_mapDataTypes)
      types.insert(FormatString("%s:%u:%u", e.second->m_strName, unsigned(e.second->m_bSystemTypeId),
                                unsigned(e.second->m_wLength))
                       .str());
    EXPECT_EQ(types, SplitList(f.types)) << f.file;
    EXPECT_EQ(scope.ReadExecLog().find("Off-row value"), std::string::npos) << f.file;
  }
}
