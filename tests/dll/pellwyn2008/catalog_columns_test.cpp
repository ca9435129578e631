// Column catalog rows: the column list, its variable columns, identity, names and the
// bounds every damaged row must respect.
#include <gtest/gtest.h>

#include <random>

#include "dll/pellwyn2008/catalog_rows.h"
#include "support/fixtures.h"

using namespace catalogrows;
using testsupport::ModuleFolderScope;

namespace {

struct ColumnsTest : ::testing::Test {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  CTable* table = nullptr;
  void SetUp() override { table = AddTable(engine, 1001, "T"); }
  void Add(const ColumnRow& row, WORD offset = 0) {
    Decode(engine, &CSQLServer2008::DecodeColumnRow, row.Build(), offset);
  }
};

ColumnRow Col(DWORD id, BYTE type, WORD length, const char* name) {
  ColumnRow r;
  r.columnId = id;
  r.systemType = type;
  r.length = length;
  r.name = name;
  return r;
}

Bytes IdentityBlock(int width, std::int64_t last, std::int64_t seed, std::int64_t increment) {
  Bytes b;
  Put(b, 0, std::uint64_t(last), width);
  Put(b, width, std::uint64_t(seed), width);
  Put(b, 2 * width, std::uint64_t(increment), width);
  b.push_back(0);
  return b;
}

}  // namespace

TEST(ColumnTypeNames, EverySystemTypeId) {
  const struct {
    int id;
    const char* name;
  } cases[] = {{34, "image"},         {35, "text"},      {36, "uniqueidentifier"}, {40, "date"},
               {41, "time"},          {42, "datetime2"}, {43, "datetimeoffset"},   {48, "tinyint"},
               {52, "smallint"},      {56, "int"},       {58, "smalldatetime"},    {59, "real"},
               {60, "money"},         {61, "datetime"},  {62, "float"},            {98, "sql_variant"},
               {99, "ntext"},         {104, "bit"},      {106, "decimal"},         {108, "numeric"},
               {122, "smallmoney"},   {127, "bigint"},   {165, "varbinary"},       {167, "varchar"},
               {173, "binary"},       {175, "char"},     {189, "timestamp"},       {231, "nvarchar"},
               {239, "nchar"},        {240, "varbinary"}, {241, "xml"}};
  int named = 0;
  for (const auto& c : cases) EXPECT_EQ(CSQLServer2008::GetTypeName(BYTE(c.id)), c.name) << c.id;
  for (int id = 0; id < 256; ++id) named += CSQLServer2008::GetTypeName(BYTE(id)).IsEmpty() ? 0 : 1;
  EXPECT_EQ(named, int(std::size(cases)));  // every other id is nameless
}

// Rows arrive out of order, one of them a ghost (a dropped column) and one a column added
// later: the list is in column-id order and the table's counts say what it holds.
TEST_F(ColumnsTest, ListInColumnIdOrderWithDroppedAndVariableColumns) {
  ColumnRow ghost = Col(3, 167, 30, "Gone");
  ghost.statusA = 0x3C;  // ghost record: the column was dropped
  Add(Col(4, 104, 1, "Flag"));
  Add(ghost);
  Add(Col(1, 56, 4, "Id"));
  Add(Col(2, 231, 80, "Name"));
  Add(Col(5, 104, 1, "Flag2"));
  Add(Col(6, 241, 0xFFFF, "Doc"));

  auto cols = Columns(table);
  ASSERT_EQ(cols.size(), 6u);
  const char* names[] = {"Id", "Name", "Gone", "Flag", "Flag2", "Doc"};
  for (size_t i = 0; i < cols.size(); ++i) {
    EXPECT_EQ(cols[i]->m_strName, names[i]);
    EXPECT_EQ(cols[i]->m_wColOrder, i + 1);
    EXPECT_EQ(cols[i]->m_dwRowsetColumn, i + 1);
  }
  EXPECT_EQ(table->m_pColumnTail, cols.back());
  EXPECT_EQ(cols[0]->m_strType, "int");
  EXPECT_EQ(cols[0]->m_strUserType, "int");
  EXPECT_EQ(cols[1]->m_strType, "nvarchar");
  EXPECT_EQ(cols[1]->m_wLength, 80);
  EXPECT_TRUE(cols[2]->m_bDropped);
  EXPECT_FALSE(cols[1]->m_bDropped);

  // Variable columns in column order, numbered as stored rows hold them, although their
  // rows came in another order.
  auto vars = VarColumns(table);
  ASSERT_EQ(vars.size(), 3u);
  EXPECT_EQ(vars[0]->m_strName, "Name");
  EXPECT_EQ(vars[0]->m_nVarIndex, -1);
  EXPECT_EQ(vars[1]->m_strName, "Gone");
  EXPECT_EQ(vars[1]->m_nVarIndex, -2);
  EXPECT_EQ(vars[2]->m_strType, "xml");
  EXPECT_EQ(vars[2]->m_nVarIndex, -3);
  EXPECT_EQ(table->m_pVarTail, vars.back());
  EXPECT_EQ(cols[1]->m_nOffset, -1);
  EXPECT_EQ(cols[2]->m_nOffset, -2);
  EXPECT_EQ(cols[5]->m_nOffset, -3);
  EXPECT_EQ(cols[0]->m_nOffset, 0);

  EXPECT_EQ(table->m_nCatalogColumns, 5);
  EXPECT_EQ(table->m_nAllColumns, 6);
  EXPECT_EQ(table->m_nVarColumns, 3);
  EXPECT_EQ(table->m_wVarColumnCap, 2);
  EXPECT_EQ(table->m_nBitColumns, 2);
  EXPECT_EQ(table->m_nMaxColumnId, 6);
  EXPECT_FALSE(table->m_bHasIdentity);
}

TEST_F(ColumnsTest, NullabilityUserTypesDefaultsAndComputedTexts) {
  auto* type = new CDataType;
  type->m_strName = "Phone";
  engine.m_mapDataTypes.SetAt("257", type);
  auto* def = new CIndexInfo;
  def->m_strText = "((0))";
  engine.m_mapIndexes.SetAt("5001", def);
  table->m_mapComputed.SetAt("3", "([a]+[b])");

  ColumnRow phone = Col(1, 167, 24, "Tel");
  phone.userType = 257;
  phone.status = 0x01;  // NOT NULL
  phone.defaultId = 5001;
  Add(phone);
  ColumnRow noType = Col(2, 56, 4, "Qty");
  noType.userType = 300;  // no such user type: the system type's name
  noType.defaultId = 7777;  // no such default object
  Add(noType);
  Add(Col(3, 56, 4, "Sum"));

  auto cols = Columns(table);
  ASSERT_EQ(cols.size(), 3u);
  EXPECT_EQ(cols[0]->m_strUserType, "Phone");
  EXPECT_EQ(cols[0]->m_strType, "varchar");
  EXPECT_FALSE(cols[0]->m_bNullable);
  EXPECT_EQ(cols[0]->m_strDefault, "((0))");
  EXPECT_EQ(VarColumns(table)[0]->m_strDefault, "((0))");
  EXPECT_EQ(cols[1]->m_strUserType, "int");
  EXPECT_TRUE(cols[1]->m_bNullable);
  EXPECT_TRUE(cols[1]->m_strDefault.IsEmpty());
  EXPECT_EQ(cols[2]->m_strComputed, "([a]+[b])");
  EXPECT_TRUE(cols[1]->m_strComputed.IsEmpty());
}

// The column's chk field names its bound rule; an id that is no rule of the database binds
// nothing.
TEST_F(ColumnsTest, ColumnKeepsTheRuleBoundToIt) {
  auto* rule = new CViewStoredProc;
  rule->m_strName = "range_rule";
  engine.m_mapRules.SetAt("6100", rule);
  const struct {
    const char* name;
    int ruleId;
    const char* expected;
  } cases[] = {{"Bound", 6100, "range_rule"}, {"None", 0, ""}, {"Other", 6200, ""}};
  DWORD id = 0;
  for (const auto& c : cases) {
    ColumnRow r = Col(++id, 56, 4, c.name);
    r.ruleId = c.ruleId;
    Add(r);
  }
  auto cols = Columns(table);
  ASSERT_EQ(cols.size(), 3u);
  for (size_t i = 0; i < cols.size(); ++i) EXPECT_EQ(cols[i]->m_strRuleName, cases[i].expected) << cases[i].name;
}

// The identity block holds the last value, the seed and the increment in the column's own
// width; the seed and increment keep their sign (and 64 bits for bigint).
TEST_F(ColumnsTest, IdentitySeedAndIncrement) {
  const struct {
    BYTE type;
    Bytes block;
    std::int64_t seed, increment;
    DWORD seed32, increment32;
  } cases[] = {
      {56, IdentityBlock(4, 11077, 1, 1), 1, 1, 1, 1},  // Northwind Orders after 830 rows
      {56, IdentityBlock(4, 100, -5, -10), -5, -10, 0xFFFFFFFBu, 0xFFFFFFF6u},
      {52, IdentityBlock(2, 14, 1, -1), 1, -1, 1, 0xFFFFFFFFu},
      {48, IdentityBlock(1, 7, 200, 5), 200, 5, 200, 5},
      {127, IdentityBlock(8, 0, 5000000000LL, 3), 5000000000LL, 3, DWORD(5000000000ULL), 3},
      {56, Bytes{1, 0, 0, 0}, 1, 1, 1, 1},  // block too short: SQL Server's default (1, 1)
  };
  DWORD id = 1;
  for (const auto& c : cases) {
    ColumnRow r = Col(id, c.type, 4, "I");
    r.status = 0x05;
    r.identity = c.block;
    Add(r);
    const CColumn* col = Columns(table).back();
    ASSERT_EQ(col->m_wColOrder, id);
    EXPECT_TRUE(col->m_bIdentity);
    EXPECT_EQ(col->m_nIdentitySeed64, c.seed) << int(c.type);
    EXPECT_EQ(col->m_nIdentityIncrement64, c.increment) << int(c.type);
    EXPECT_EQ(col->m_dwIdentitySeed, c.seed32);
    EXPECT_EQ(col->m_dwIdentityIncrement, c.increment32);
    ++id;
  }
  EXPECT_TRUE(table->m_bHasIdentity);
}

// Identity is status bit 0x04, however the other bits add up in the rebuilt status byte.
TEST_F(ColumnsTest, IdentityFlagIsStatusBit4) {
  const struct {
    DWORD status;
    bool identity;
  } cases[] = {{0x04, true}, {0x214, true}, {0x210, false}, {0x05, true}, {0x01, false}};
  DWORD id = 1;
  for (const auto& c : cases) {
    ColumnRow r = Col(id++, 56, 4, "I");
    r.status = c.status;
    r.identity = IdentityBlock(4, 0, 1, 1);
    Add(r);
    EXPECT_EQ(Columns(table).back()->m_bIdentity, c.identity) << std::hex << c.status;
  }
  // The status byte itself wraps where the flag would be lost.
  EXPECT_EQ(CSQLServer2008::BuildColumnStatus(56, 0x214) & 0x80, 0);
  EXPECT_EQ(CSQLServer2008::BuildColumnStatus(56, 0x210) & 0x80, 0x80);
  EXPECT_EQ(CSQLServer2008::BuildColumnStatus(175, 0x00), 0x28);
}

TEST_F(ColumnsTest, NamesAreDecodedAndOnlyBrokenOnesGetSubstitutes) {
  ColumnRow katakana = Col(1, 56, 4, "");
  katakana.rawName = {0x11, 0x04, 'x', 0};  // first unit U+0411
  ColumnRow second = Col(2, 167, 10, "");
  second.rawName = {'a', 0, 0x00, 0xD8};  // a high surrogate with no low one
  ColumnRow oneChar = Col(3, 56, 4, "");
  oneChar.rawName = {'z', 0};
  ColumnRow padded = Col(4, 56, 4, "  Spaced  ");
  Add(katakana);
  Add(second);
  Add(oneChar);
  Add(padded);
  auto cols = Columns(table);
  ASSERT_EQ(cols.size(), 4u);
  EXPECT_EQ(cols[0]->m_strName, "\xD0\x91x");
  EXPECT_EQ(cols[1]->m_strName, "UnicodeCol#_1");
  EXPECT_EQ(VarColumns(table)[0]->m_strName, "UnicodeCol#_1");
  EXPECT_EQ(cols[2]->m_strName, "z");
  EXPECT_EQ(cols[3]->m_strName, "Spaced");
  EXPECT_EQ(engine.m_nUnicodeNameSerial, 2);
}

TEST_F(ColumnsTest, DuplicateRowsOfABackupChangeNothing) {
  engine.m_nDataSetCount = 1;
  ColumnRow name = Col(2, 231, 40, "Name");
  Add(Col(1, 104, 1, "B"));
  Add(name);
  Add(Col(1, 104, 1, "B"));  // the same page read twice
  Add(name);
  EXPECT_EQ(Columns(table).size(), 2u);
  EXPECT_EQ(VarColumns(table).size(), 1u);
  EXPECT_EQ(table->m_nBitColumns, 1);
  EXPECT_EQ(table->m_nVarColumns, 1);
  EXPECT_EQ(table->m_nAllColumns, 2);

  // A plain database file keeps both, in arrival order.
  CSQLServer2008 plain;
  CTable* t = AddTable(plain, 1001, "T");
  ColumnRow first = Col(1, 56, 4, "First");
  ColumnRow again = Col(1, 56, 4, "Again");
  Decode(plain, &CSQLServer2008::DecodeColumnRow, first.Build());
  Decode(plain, &CSQLServer2008::DecodeColumnRow, again.Build());
  auto cols = Columns(t);
  ASSERT_EQ(cols.size(), 2u);
  EXPECT_EQ(cols[0]->m_strName, "First");
  EXPECT_EQ(cols[1]->m_strName, "Again");
}

// Each mutation of a good row must cost that row only.
TEST_F(ColumnsTest, DamagedRowsAreSkipped) {
  const Bytes good = Col(1, 56, 4, "Id").Build();
  const WORD nameEndAt = 45 + 2 + 2 + 2;  // F, N, 2 bitmap bytes, V
  struct Case {
    const char* what;
    Bytes row;
    WORD offset;
  };
  std::vector<Case> cases;
  auto mutate = [&](const char* what, auto change, WORD offset = 0) {
    Bytes r = good;
    change(r);
    cases.push_back({what, r, offset});
  };
  mutate("unknown table", [](Bytes& r) { Put(r, 4, 999, 4); });
  mutate("forwarding stub", [](Bytes& r) { r[0] = 0x34; });
  mutate("no variable part", [](Bytes& r) { r[0] = 0x10; });
  mutate("fixed part past the page", [](Bytes& r) { Put(r, 2, 9000, 2); });
  mutate("name ends before it starts", [&](Bytes& r) { Put(r, nameEndAt, 40, 2); });
  mutate("name over 500 bytes", [&](Bytes& r) { Put(r, nameEndAt, 53 + 502, 2); });
  // The good row is 57 bytes: placed 55 bytes before the end its name is cut, 30 bytes
  // before the end its fixed part is.
  mutate("name cut by the page end", [](Bytes&) {}, WORD(kPageBodySize - 55));
  mutate("record cut by the page end", [](Bytes&) {}, WORD(kPageBodySize - 30));
  for (const Case& c : cases) {
    CSQLServer2008 e;
    CTable* t = AddTable(e, 1001, "T");
    Decode(e, &CSQLServer2008::DecodeColumnRow, c.row, c.offset);
    EXPECT_EQ(t->m_pColumnHead, nullptr) << c.what;
    EXPECT_EQ(t->m_nAllColumns, 0) << c.what;
  }
  // A column count above 50 keeps its low byte: 0x0110 reads as 16, the real count.
  Bytes wide = good;
  Put(wide, 45, 0x0110, 2);
  Add(ColumnRow{});
  Decode(engine, &CSQLServer2008::DecodeColumnRow, wide);
  EXPECT_EQ(Columns(table).size(), 2u);
}

// Random bytes and randomly damaged rows: every decoder stays inside the page body (the
// sanitizer build checks the reads) and never throws.
TEST(CatalogDecodersFuzz, StayInsideThePageBody) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  CTable* t = AddTable(engine, 1001, "T");
  engine.m_mapAllocUnits["72057594038779904"].push_back(t);
  auto* ix = new CIndexInfo;
  t->SetIndex("1", ix);
  const Bytes seeds[] = {Col(1, 56, 4, "Id").Build(), IndexRow{}.Build(), RsColRow{}.Build(), IsColRow{}.Build()};
  const CSQLServer2008::RowDecoder decoders[] = {&CSQLServer2008::DecodeColumnRow, &CSQLServer2008::DecodeIndexRow,
                                                 &CSQLServer2008::DecodeRsColRow, &CSQLServer2008::DecodeIsColRow};
  std::mt19937 rng(20260509);
  for (int round = 0; round < 3000; ++round) {
    Body body;
    const size_t kind = round % 4;
    Bytes row = seeds[kind];
    for (int m = 0; m < 1 + round % 5; ++m) row[rng() % row.size()] = BYTE(rng());
    const WORD offset = WORD(round % 7 == 0 ? kPageBodySize - rng() % 64 : rng() % kPageBodySize);
    body.Place(row, offset);
    if (round % 11 == 0)
      for (BYTE& b : body.bytes) b = BYTE(rng());
    for (const auto decoder : decoders) EXPECT_NO_THROW((engine.*decoder)(body.data(), offset));
  }
}
