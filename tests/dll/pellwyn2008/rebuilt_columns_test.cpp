// Tables whose column rows were lost, rebuilt from the stored layout of their rows (the 2008
// rowset-column catalog, or the 2005 hobt-column catalog): every type is declared as its
// column row would declare it and its values read as a live column's are; a layout that
// names no type this reader decodes is kept as its bytes, and the warning says so.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/sqltext.h"
#include "dll/pellwyn2008/catalog_rows.h"
#include "dll/pellwyn2008/record_builder.h"
#include "platform/files.h"
#include "support/fixtures.h"

using catalogrows::ColumnRow;
using catalogrows::HobtColRow;
using catalogrows::RsColRow;
using recordtest::Bytes;
using recordtest::LE;
using recordtest::RecordParts;

namespace {

constexpr std::int64_t kLiveRowset = 72057594038779904;
constexpr std::int64_t kLostRowset = 72057594038845440;

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Where the lost table's layout comes from.
enum class Layout { k2008RowsetColumns, k2005HobtColumns };
const char* LayoutName(Layout l) { return l == Layout::k2008RowsetColumns ? "2008 layout" : "2005 layout"; }

// One stored column of a lost table: its place, and its type as each catalog stores it.
struct StoredColumn {
  DWORD id = 1;
  short offset = 4;  // negative: the variable index
  // The 2005 hobt-column row holds the type as the column row does.
  BYTE type = 56;
  WORD length = 4;
  BYTE precision = 10;
  BYTE scale = 0;
  DWORD collation = 0;
  // The 2008 rowset-column row packs it into one field.
  DWORD typeInfo = 56;
};

class RebuildTest {
 public:
  testsupport::ModuleFolderScope scope;  // before the engine, so its log goes to the test's folder
  testsupport::TempDir dir;
  CSQLServer2008 engine;

  CTable* Table(DWORD objectId, const char* name, std::int64_t rowset) {
    CTable* table = catalogrows::AddTable(engine, objectId, name);
    CTable* unit = engine.NewTable();
    unit->m_dwObjectId = objectId;
    engine.m_mapAllocUnits[FormatString("%I64d", rowset).view()].push_back(unit);
    return table;
  }
  // A column of the lost table's layout, in the catalog `layout` names.
  void Store(Layout layout, std::int64_t rowset, const StoredColumn& c) {
    if (layout == Layout::k2008RowsetColumns) {
      RsColRow r;
      r.rowsetId = rowset;
      r.rowsetColumn = r.physicalColumn = c.id;
      r.offset = c.offset;
      r.typeInfo = c.typeInfo;
      r.collation = c.collation;
      catalogrows::Decode(engine, &CSQLServer2008::DecodeRsColRow, r.Build());
      return;
    }
    HobtColRow h;
    h.hobtId = rowset;
    h.hobtColumn = c.id;
    h.nullBit = WORD(c.id);
    h.offset = c.offset;
    h.status = 0;  // takes NULL, as the rowset-column row above says
    h.systemType = c.type;
    h.length = c.length;
    h.precision = c.precision;
    h.scale = c.scale;
    h.collation = c.collation;
    catalogrows::Decode(engine, &CSQLServer2008::DecodeHobtColumnRow, h.Build());
  }

  // The preview text of one record of `table`.
  std::string Preview(CTable* table, const Bytes& record) {
    Bytes page = recordtest::DataPage(1, 1, {record});
    engine.GetTableRecord(page.data() + kPageHeaderSize, 0, table);
    std::lock_guard<std::mutex> lock(engine.m_pStatus->m_csPreviewRows);
    std::string row = engine.m_pStatus->m_vecPreviewRows.empty() ? "" : engine.m_pStatus->m_vecPreviewRows.back().str();
    engine.m_pStatus->m_vecPreviewRows.clear();
    return row;
  }
  // The value list of the INSERT statement the export writes for one record of `table`.
  std::string InsertValues(CTable* table, const Bytes& record) {
    const std::string path = dir.file(table->m_strName.str() + ".sql");
    engine.m_hTableSqlFile = CreateFileForWrite(path.c_str());
    Bytes page = recordtest::DataPage(1, 1, {record});
    CString batch;
    bool full = false;
    engine.ExportTableRecord(page.data() + kPageHeaderSize, 0, table, nullptr, &batch, &full);
    CloseFileHandle(engine.m_hTableSqlFile);
    const std::string statement = testsupport::ReadFile(path);
    const size_t at = statement.find(" values(");
    const size_t end = statement.rfind(')');
    if (at == std::string::npos || end == std::string::npos || end < at) return statement;
    return statement.substr(at + 8, end - at - 8);
  }
  std::string Warnings() const {
    std::string all;
    for (const std::string& w : engine.m_vecScanWarnings) all += w + "\n";
    return all;
  }
};

// Everything of a table's columns the decoders, the preview and the scripts read.
std::string Describe(const CTable* table) {
  std::string out;
  for (const CColumn* c = table->m_pColumnHead; c; c = c->m_pNext)
    out += FormatString("%s %s/%s len %u prec %u scale %u coll %lx null %d at %d%s phys %lu; ", c->m_strName,
                        c->m_strType, c->m_strUserType, unsigned(c->m_wLength), unsigned(c->m_bPrecision),
                        unsigned(c->m_bScale), c->m_dwCollation, int(c->m_bNullable), int(c->m_nOffset),
                        c->m_bCatalogOffset ? "" : " (computed)", c->m_dwRowsetColumn)
               .str();
  out += FormatString("vars %d types %d", table->m_nVarColumns, int(table->m_mapVarTypes.GetCount())).str();
  return out;
}

std::string Declared(const CColumn* c) {
  return c ? (c->m_strType + SqlTypeSuffix(c->m_strType, c->m_wLength, c->m_bPrecision, c->m_bScale)).str() : "";
}

// A record of one column holding `value`, in the fixed part at offset 4 or as the one variable value.
Bytes OneColumnRecord(bool variable, const Bytes& value) {
  RecordParts s;
  s.columnCount = 1;
  if (variable) {
    s.vars = {{value}};
  } else {
    s.statusA = 0x10;
    s.Set(4, value);
  }
  return recordtest::BuildRecord(s);
}

}  // namespace

// Each type a lost table may hold, from either layout: the rebuilt column is the column its
// column row would have made (type, size, collation, place), declared as such, and a record
// reads to the same preview text and INSERT value as through the live column.
TEST(RebuiltColumns, EveryTypeIsDeclaredAndReadAsALiveColumn) {
  const DWORD kLatin = 0x3400D008;
  struct Case {
    StoredColumn stored;
    Bytes value;
    const char* declared;
    const char* preview;  // with its separator; nullptr: whatever the live column shows
    const char* insert;   // the INSERT value; "": the column is left out of the statement
    bool asBytes;         // named in the warning as kept as bytes
  } cases[] = {
      {{1, 4, 41, 5, 16, 7, 0, 0x0729}, LE(37235000000ull, 5), "time(7)", "01:02:03.5000000 $#$",
       "'01:02:03.5000000'", false},
      {{1, 4, 41, 3, 8, 0, 0, 0x0029}, LE(3723, 3), "time(0)", "01:02:03.0 $#$", "'01:02:03'", false},
      {{1, 4, 42, 7, 23, 3, 0, 0x032A}, Concat(LE(3723456, 4), LE(730119, 3)), "datetime2(3)",
       "2000-01-01 01:02:03.456$#$", "'2000-01-01 01:02:03.456'", false},
      {{1, 4, 42, 8, 27, 7, 0, 0x072A}, Concat(LE(37235000000ull, 5), LE(730119, 3)), "datetime2(7)",
       "2000-01-01 01:02:03.5000000$#$", "'2000-01-01 01:02:03.5000000'", false},
      {{1, 4, 43, 10, 34, 7, 0, 0x072B}, Concat(Concat(LE(0, 5), LE(3652058, 3)), LE(840, 2)), "datetimeoffset(7)",
       "9999-12-31 14:00:00.0000000 +14:00$#$", "'9999-12-31 14:00:00.0000000 +14:00'", false},
      {{1, 4, 43, 8, 26, 0, 0, 0x002B}, Concat(Concat(LE(0, 3), LE(730119, 3)), LE(std::uint16_t(-90), 2)),
       "datetimeoffset(0)", "1999-12-31 22:30:00 -01:30$#$", "'1999-12-31 22:30:00 -01:30'", false},
      {{1, -1, 98, 8016, 0, 0, 0, 0x62}, Concat(Bytes{56, 1}, LE(42, 4)), "sql_variant", nullptr, "CAST(42 AS int)", false},
      {{1, -1, 241, 0xFFFF, 0, 0, 0, 0xF1}, recordtest::Utf16("<a/>"), "xml", "<a/>$#$", "", false},
      {{1, 4, 60, 8, 19, 4, 0, 0x3C}, LE(180000, 8), "money", "18.0000$#$", "000000000000018.0000", false},
      {{1, 4, 122, 4, 10, 4, 0, 0x7A}, LE(std::uint32_t(-12345), 4), "smallmoney", "-1.2345$#$", "-000001.2345", false},
      {{1, 4, 62, 8, 53, 0, 0, 0x3E}, LE(0x3FB999999999999Aull, 8), "float", "0.1$#$", "0.1E0", false},
      {{1, 4, 61, 8, 23, 3, 0, 0x3D}, LE(1, 8), "datetime", "1900-01-01 00:00:00.003$#$",
       "CONVERT(datetime, 0x0000000000000001)", false},
      {{1, 4, 106, 5, 5, 2, 0, 0x02056A}, Concat(Bytes{1}, LE(150, 4)), "decimal(5,2)", "1.50$#$", "001.50", false},
      {{1, -1, 167, 0xFFFF, 0, 0, kLatin, 0xA7}, recordtest::Ascii("it's"), "varchar(max)", "it's$#$", "'it''s'", false},
      {{1, 4, 239, 8, 0, 0, kLatin, 0x08EF}, recordtest::Utf16("abcd"), "nchar(4)", "abcd$#$",
       "CONVERT(nvarchar(4),0x6100620063006400)", false},
      {{1, 4, 175, 3, 0, 0, kLatin, 0x03AF}, recordtest::Ascii("xyz"), "char(3)", "xyz$#$", "'xyz'", false},
      // CLR types are their serialised bytes, as a live column of them reads too.
      {{1, -1, 240, 892, 0, 0, 0, 0x037CF0}, Bytes{0x58}, "varbinary(892)", "<binary data>$#$", "0x58", true},
      {{1, -1, 240, 0xFFFF, 0, 0, 0, 0xF0}, Bytes{0xDE, 0xAD}, "varbinary(max)", "<binary data>$#$", "0xdead", true},
  };
  for (const Layout layout : {Layout::k2008RowsetColumns, Layout::k2005HobtColumns}) {
    for (const Case& c : cases) {
      const std::string label = std::string(LayoutName(layout)) + " " + c.declared;
      SCOPED_TRACE(label);
      RebuildTest t;
      CTable* live = t.Table(1001, "Live", kLiveRowset);
      CTable* lost = t.Table(1002, "Lost", kLostRowset);
      ColumnRow row;
      row.objectId = 1001;
      row.name = "Column_1";
      row.systemType = c.stored.type;
      row.length = c.stored.length;
      row.precision = c.stored.precision;
      row.scale = c.stored.scale;
      row.collation = c.stored.collation;
      catalogrows::Decode(t.engine, &CSQLServer2008::DecodeColumnRow, row.Build());
      t.Store(Layout::k2008RowsetColumns, kLiveRowset, c.stored);  // places the live column
      t.Store(layout, kLostRowset, c.stored);
      t.engine.RebuildAndPlaceLostColumns();

      if (!lost->m_pColumnHead) {
        ADD_FAILURE() << "not rebuilt";
        continue;
      }
      EXPECT_EQ(Describe(lost), Describe(live));
      EXPECT_EQ(Declared(lost->m_pColumnHead), c.declared);
      const Bytes record = OneColumnRecord(c.stored.offset < 0, c.value);
      const std::string preview = t.Preview(live, record);
      EXPECT_EQ(t.Preview(lost, record), preview);
      if (c.preview) {
        EXPECT_EQ(preview, c.preview);
      }
      const std::string values = t.InsertValues(lost, record);
      EXPECT_EQ(values, *c.insert ? std::string(c.insert) : "Insert into [dbo].[Lost] DEFAULT VALUES\r\n");
      EXPECT_EQ(t.InsertValues(live, record),
                *c.insert ? std::string(c.insert) : "Insert into [dbo].[Live] DEFAULT VALUES\r\n");

      const std::string warnings = t.Warnings();
      EXPECT_NE(warnings.find("table dbo.Lost: its column rows were lost; 1 columns were rebuilt"), std::string::npos)
          << warnings;
      EXPECT_EQ(warnings.find("kept as bytes: Column_1 as " + std::string(c.declared) + " (a CLR type") !=
                    std::string::npos,
                c.asBytes)
          << warnings;
    }
  }
}

// A layout that names no type this reader decodes (an unknown type id, a time type of a scale
// no server writes) keeps its bytes: binary of its width in the fixed part, varbinary in the
// variable part. A fixed column whose width nothing tells is left out, the others still read;
// the warning names each.
TEST(RebuiltColumns, UndecodableLayoutsAreKeptAsBytesAndTold) {
  // Fixed part: 77 (3 bytes) at 4, time of scale 9 (5 bytes) at 7, int at 12, type 0 at 16;
  // an unknown type id in the variable part.
  const StoredColumn columns[] = {
      {1, 4, 77, 3, 0, 0, 0, 77 | 3 << 8},
      {2, 7, 41, 5, 18, 9, 0, 0x0929},
      {3, 12, 56, 4, 10, 0, 0, 0x38},
      {4, -1, 200, 0xFFFF, 0, 0, 0, 200},
      {5, 16, 0, 0, 0, 0, 0, 0},
  };
  RecordParts s;
  s.columnCount = 5;
  s.Set(4, Bytes{1, 2, 3});
  s.Set(7, LE(0x0504030201ull, 5));
  s.Set(12, LE(42, 4));
  s.Set(16, Bytes{9, 9});
  s.vars = {{Bytes{0xAB, 0xCD}}};
  const Bytes record = recordtest::BuildRecord(s);

  for (const Layout layout : {Layout::k2008RowsetColumns, Layout::k2005HobtColumns}) {
    SCOPED_TRACE(LayoutName(layout));
    RebuildTest t;
    CTable* lost = t.Table(1002, "Lost", kLostRowset);
    for (const StoredColumn& c : columns) t.Store(layout, kLostRowset, c);
    t.engine.RebuildAndPlaceLostColumns();

    std::vector<std::string> declared;
    for (const CColumn* c = lost->m_pColumnHead; c; c = c->m_pNext) declared.push_back(Declared(c));
    EXPECT_EQ(declared, (std::vector<std::string>{"binary(3)", "binary(5)", "int", "varbinary(max)"}));
    EXPECT_EQ(t.Preview(lost, record), "0x010203$#$0x0102030405$#$42$#$<binary data>$#$");
    EXPECT_EQ(t.InsertValues(lost, record), "0x010203,0x0102030405,42,0xabcd");
    const std::string warnings = t.Warnings();
    EXPECT_NE(warnings.find("table dbo.Lost: its column rows were lost; 4 columns were rebuilt as Column_N from the "
                            "stored layout of its rows (names, identity and defaults are not known); kept as bytes: "
                            "Column_1 as binary(3) (type id 77 names no type of these formats), Column_2 as "
                            "binary(5) (time with scale 9 and length"),
              std::string::npos)
        << warnings;
    EXPECT_NE(warnings.find("Column_4 as varbinary(max) (type id 200 names no type of these formats); left out: "
                            "Column_5 (type id 0 names no type of these formats, and its width is not known)"),
              std::string::npos)
        << warnings;
  }
}

// Damaged layout rows (any type id, size field and place): every rebuilt column is declared as
// a type the decoders read, no fixed character or binary column wider than a server declares,
// and a record of random bytes reads without leaving its page.
TEST(RebuiltColumns, DamagedLayoutsGiveDecodableColumns) {
  std::mt19937 random(34);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    const Layout layout = round % 2 ? Layout::k2005HobtColumns : Layout::k2008RowsetColumns;
    RebuildTest t;
    CTable* lost = t.Table(1002, "Lost", kLostRowset);
    for (DWORD id = 1; id <= 1 + random() % 6; ++id) {
      StoredColumn c;
      c.id = id;
      c.offset = short(random() % 3 ? int(random() % 200) - 20 : int(random() % 65536) - 32768);
      c.type = BYTE(random());
      c.length = WORD(random());
      c.precision = BYTE(random());
      c.scale = BYTE(random() % 12);
      c.typeInfo = DWORD(random());
      t.Store(layout, kLostRowset, c);
    }
    t.engine.RebuildAndPlaceLostColumns();
    for (const CColumn* c = lost->m_pColumnHead; c; c = c->m_pNext) {
      EXPECT_FALSE(c->m_strType.IsEmpty()) << Describe(lost);
      if (c->m_strType == "binary" || c->m_strType == "char" || c->m_strType == "nchar") {
        EXPECT_LE(c->m_wLength, 8000) << Describe(lost);
      }
    }
    RecordParts s;
    s.columnCount = 6;
    for (int i = 0; i < 60; ++i) s.Set(4 + i, Bytes{BYTE(random())});
    s.vars = {{Bytes(5, 0x41)}, {Bytes(3, 0x42)}};
    const Bytes record = recordtest::BuildRecord(s);
    t.Preview(lost, record);
    t.InsertValues(lost, record);
  }
}
