#include "dll/pellwyn2000/record2000.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/records.h"
#include "dll/pellwyn2000/insert2000.h"
#include "dll/pellwyn2008/record_builder.h"
#include "text_pages.h"

using namespace rows2000;
using recordtest::Ascii;
using recordtest::Bytes;
using recordtest::BuildRecord;
using recordtest::LE;
using recordtest::RecordParts;
using recordtest::TableBuilder;
using recordtest::Utf16;

namespace {

// A page body holding one record at `at` (a body offset).
Bytes Body(const Bytes& record, size_t at = 0) {
  Bytes body(kPageBodySize, 0);
  for (size_t i = 0; i < record.size() && at + i < body.size(); ++i) body[at + i] = record[i];
  return body;
}

struct Decoded {
  Verdict verdict = Verdict::kNoRecord;
  DecodedRow row;
  std::vector<std::string> shown;  // each value as the preview shows it
  std::vector<Mark> marks;
};

Decoded Decode(const CTable& table, const Bytes& body, WORD offset = 0, Mode mode = Mode::kDisplay,
               bool recoverDeleted = false, const LobReader* lob = nullptr) {
  RowPlan plan(table);
  DecodeOptions options;
  options.mode = mode;
  options.recoverDeleted = recoverDeleted;
  options.lob = lob;
  Decoded d;
  d.verdict = DecodeRecord(plan, ByteView(body.data(), body.size()), offset, options, d.row);
  for (const Value& v : d.row.values) {
    d.shown.push_back(v.Shown());
    d.marks.push_back(v.mark);
  }
  return d;
}

using Strings = std::vector<std::string>;

// T(Id int, Name varchar(20) not null, Qty int): the smallest table with both kinds.
struct SmallTable {
  CTable table;
  SmallTable() {
    TableBuilder b(table);
    b.Fixed("Id", "int", 4, false);
    b.Variable("Name", "varchar", 20, false);
    b.Fixed("Qty", "int", 4);
  }
  RecordParts Row(int id, const std::string& name, int qty) const {
    RecordParts r;
    r.Set(4, LE(DWORD(id), 4));
    r.Set(8, LE(DWORD(qty), 4));
    r.columnCount = 3;
    r.vars.push_back({Ascii(name)});
    return r;
  }
};

}  // namespace

TEST(DecodeRecord, RejectsWhatIsNoDataRow) {
  SmallTable t;
  auto with = [&](auto change) {
    RecordParts r = t.Row(7, "x", 1);
    change(r);
    return BuildRecord(r);
  };
  const Bytes good = BuildRecord(t.Row(7, "x", 1));
  struct Case {
    const char* name;
    Bytes body;
    WORD offset;
    bool recoverDeleted;
    Verdict verdict;
  } cases[] = {
      {"a sound row", Body(good), 0, false, Verdict::kDecoded},
      {"offset past the body", Body(good), WORD(kPageBodySize), false, Verdict::kOutOfPage},
      {"header cut by the page end", Body(good, kPageBodySize - 3), WORD(kPageBodySize - 3), false,
       Verdict::kOutOfPage},
      {"status word 0", Body(with([](RecordParts& r) { r.statusA = 0; })), 0, false, Verdict::kNoRecord},
      {"ghost", Body(with([](RecordParts& r) { r.statusA = 0x3C; })), 0, false, Verdict::kGhost},
      {"ghost, deleted rows wanted", Body(with([](RecordParts& r) { r.statusA = 0x3C; })), 0, true,
       Verdict::kDecoded},
      {"forwarded", Body(with([](RecordParts& r) { r.statusA = 0x32; })), 0, false, Verdict::kDecoded},
      {"forwarding stub", Body(with([](RecordParts& r) { r.statusA = 0x34; })), 0, true, Verdict::kForwardingStub},
      {"index record", Body(with([](RecordParts& r) { r.statusA = 0x36; })), 0, true, Verdict::kNotData},
      {"type 7", Body(with([](RecordParts& r) { r.statusA = 0x3E; })), 0, true, Verdict::kNotData},
      {"1000 columns", Body(with([](RecordParts& r) { r.columnCount = 1000; })), 0, false, Verdict::kDecoded},
      {"1001 columns", Body(with([](RecordParts& r) { r.columnCount = 1001; })), 0, false,
       Verdict::kBadColumnCount},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Decode(t.table, c.body, c.offset, Mode::kDisplay, c.recoverDeleted).verdict, c.verdict);
  }
  Bytes header = good;
  recordtest::Put(header, 2, 3, 2);  // F inside the 4-byte header
  EXPECT_EQ(Decode(t.table, Body(header)).verdict, Verdict::kBadHeader);
}

TEST(DecodeRecord, NullBitmapSizes) {
  // The bitmap takes 1 byte below 8 columns, then ceil(N/8): the variable count after it must
  // be found where the record keeps it.
  for (int n : {0, 7, 8, 9, 16, 17}) {
    SCOPED_TRACE(n);
    CTable table;
    TableBuilder b(table);
    b.Variable("v", "varchar", 10, false);
    RecordParts r;
    r.columnCount = n;
    r.vars.push_back({Ascii("abc")});
    const Decoded d = Decode(table, Body(BuildRecord(r)));
    ASSERT_EQ(d.verdict, Verdict::kDecoded);
    // With N = 0 the record stores no column: the value is one the record predates.
    EXPECT_EQ(d.shown[0], n == 0 ? "NULL" : "abc");
  }
}

TEST(DecodeRecord, NullEmptyAndMissingValues) {
  CTable table;
  TableBuilder b(table);
  b.Fixed("OrderID", "int", 4, false);
  b.Variable("ShipName", "nvarchar", 80);
  b.Variable("ShipRegion", "nvarchar", 30);
  b.Variable("Note", "varchar", 30);
  b.Variable("Code", "varchar", 10);
  CColumn* added = b.Fixed("Added", "int", 4);
  added->m_strDefault = "(0)";
  CColumn* freight = b.Fixed("Freight", "money", 8);
  freight->m_bPrecision = 19;
  freight->m_bScale = 4;

  RecordParts r;
  r.Set(4, LE(10248, 4));
  r.Set(8, LE(0, 4));
  r.Set(12, LE(323800, 8));
  r.columnCount = 7;
  // ShipRegion is NULL with a zero-length entry, as the server stores it; Note is a stored
  // empty string; Code lies past the stored entries with its null bit set.
  r.nullBits = {3, 5};
  r.vars = {{Utf16("Vins")}, {}, {}};
  const Bytes body = Body(BuildRecord(r));
  Decoded d = Decode(table, body);
  ASSERT_EQ(d.verdict, Verdict::kDecoded);
  EXPECT_EQ(d.shown, (Strings{"10248", "Vins", "NULL", "Empty", "NULL", "0", "32.3800"}));
  d = Decode(table, body, 0, Mode::kExport);
  EXPECT_EQ(d.shown, (Strings{"10248", "560069006e007300", "NULL", "Empty", "NULL", "0", "000000000000032.3800"}));

  // A record written before the last two columns were added stores 5: the preview shows the
  // default where there is one, the export leaves the columns to the server.
  r.columnCount = 5;
  const Bytes older = Body(BuildRecord(r));
  d = Decode(table, older);
  EXPECT_EQ(d.shown[5], "(0)");
  EXPECT_EQ(d.marks[5], Mark::kDefault);
  EXPECT_EQ(d.shown[6], "NULL");
  d = Decode(table, older, 0, Mode::kExport);
  EXPECT_EQ(d.marks[5], Mark::kNull);

  // Without a variable part every live variable column is NULL.
  RecordParts fixedOnly;
  fixedOnly.statusA = 0x10;
  fixedOnly.Set(4, LE(1, 4));
  fixedOnly.Set(8, LE(2, 4));
  fixedOnly.Set(12, LE(0, 8));
  fixedOnly.columnCount = 7;
  d = Decode(table, Body(BuildRecord(fixedOnly)));
  EXPECT_EQ(d.shown, (Strings{"1", "NULL", "NULL", "NULL", "NULL", "2", "0.0000"}));
  EXPECT_EQ(d.row.varCount, 0);

  // A fixed column flagged in the bitmap is NULL whatever its bytes.
  r.columnCount = 7;
  r.nullBits = {7};
  d = Decode(table, Body(BuildRecord(r)));
  EXPECT_EQ(d.shown[6], "NULL");
}

TEST(DecodeRecord, DamagedEntriesAndFixedValuesOutsideTheFixedPart) {
  CTable table;
  TableBuilder b(table);
  b.Fixed("Id", "int", 4, false);
  b.Variable("Name", "varchar", 20, false);
  b.Variable("Tail", "varchar", 10);
  b.Fixed("Qty", "int", 4);
  RecordParts r;
  r.Set(4, LE(7, 4));
  r.Set(8, LE(3, 4));
  r.columnCount = 4;
  r.vars = {{Ascii("abc")}, {Ascii("zz")}};
  const Bytes sound = BuildRecord(r);
  const size_t endsAt = 12 + 2 + 1 + 2;  // fixed part, N, bitmap, V
  const WORD dataAt = WORD(endsAt + 4);

  // Entry 0 ends before it starts: Corrupt; the next entry starts at that stored end, here
  // the offset array's last byte (0x00, which the text leaves out).
  Bytes rec = sound;
  recordtest::Put(rec, endsAt, dataAt - 1, 2);
  Decoded d = Decode(table, Body(rec));
  ASSERT_EQ(d.verdict, Verdict::kDecoded);
  EXPECT_EQ(d.shown, (Strings{"7", "Corrupt", "abczz", "3"}));

  // An entry running past the page end is Corrupt; the columns before it still decode.
  rec = sound;
  recordtest::Put(rec, endsAt + 2, 8000, 2);
  d = Decode(table, Body(rec, kPageBodySize - rec.size()), WORD(kPageBodySize - rec.size()));
  ASSERT_EQ(d.verdict, Verdict::kDecoded);
  EXPECT_EQ(d.shown, (Strings{"7", "abc", "Corrupt", "3"}));

  // A fixed part cut short: the value whose bytes would lie beyond it is not read from the
  // column count and bitmap that follow.
  RecordParts shortFixed = r;
  shortFixed.fixed.resize(10);
  d = Decode(table, Body(BuildRecord(shortFixed)));
  ASSERT_EQ(d.verdict, Verdict::kDecoded);
  EXPECT_EQ(d.shown[3], "Corrupt");
  EXPECT_EQ(d.shown[0], "7");
}

TEST(DecodeRecord, ComputedDroppedAndUnfilledPositions) {
  CTable table;
  TableBuilder b(table);
  b.Fixed("a", "int", 4);
  b.Computed("twice", "int", "([a] * 2)");
  CColumn* oldFixed = b.Fixed("old", "int", 4);
  oldFixed->m_bDropped = 1;
  CColumn* oldVar = b.Variable("oldv", "varchar", 5);
  oldVar->m_bDropped = 1;
  b.Variable("v", "varchar", 5);
  b.Fixed("z", "smallint", 2);
  // Two more positions than the list has columns, as a damaged scan file can say.
  table.m_nAllColumns += 2;
  RecordParts r;
  r.Set(4, LE(5, 4));
  r.Set(8, LE(99, 4));
  r.Set(12, LE(9, 2));
  r.columnCount = 6;
  r.vars = {{Ascii("gone")}, {Ascii("here")}};
  const Decoded d = Decode(table, Body(BuildRecord(r)));
  ASSERT_EQ(d.verdict, Verdict::kDecoded);
  // The computed column reads nothing and shifts nothing; the dropped variable column still
  // shows what the record holds for it.
  EXPECT_EQ(d.shown, (Strings{"5", "FORMULA", "Deleted", "gone", "here", "9", "Empty", "Empty"}));
}

TEST(DecodeRecord, UniquifierEntryBelongsToNoColumn) {
  // As pubs' employee: a non-unique clustered index keeps its uniquifier in entry 0, so the
  // columns' entries start at 2; the record stores N = the catalog's column count.
  CTable table;
  TableBuilder b(table);
  b.Fixed("emp_id", "char", 9, false);
  CColumn* fname = b.Variable("fname", "varchar", 20, false);
  CColumn* lname = b.Variable("lname", "varchar", 30, false);
  fname->m_nOffset = -2;
  lname->m_nOffset = -3;
  table.m_mapVarTypes.RemoveAll();
  table.m_mapVarTypes.SetAt("-2", "varchar");
  table.m_mapVarTypes.SetAt("-3", "varchar");
  table.m_nExtraColumn = 1;
  RecordParts r;
  r.Set(4, Ascii("PMA42628M"));
  r.columnCount = 3;
  r.vars = {{}, {Ascii("Paolo")}, {Ascii("Accorti")}};
  const Decoded d = Decode(table, Body(BuildRecord(r)));
  ASSERT_EQ(d.verdict, Verdict::kDecoded);
  EXPECT_EQ(d.shown, (Strings{"PMA42628M", "Paolo", "Accorti"}));
}

TEST(DecodeRecord, EndOffsets) {
  SmallTable t;
  RecordParts r = t.Row(7, "abcd", 1);
  const Bytes rec = BuildRecord(r);
  // Past the last in-row entry, counted from the page body.
  EXPECT_EQ(Decode(t.table, Body(rec, 100), 100).row.endOffset, 100 + rec.size());
  // A row without a variable part ends after its bitmap.
  RecordParts fixedOnly = r;
  fixedOnly.statusA = 0x10;
  fixedOnly.vars.clear();
  const Bytes f = BuildRecord(fixedOnly);
  EXPECT_EQ(Decode(t.table, Body(f, 40), 40).row.endOffset, 40 + f.size());
  // A variable part of no entries ends after V.
  RecordParts none = r;
  none.vars.clear();
  const Bytes n = BuildRecord(none);
  const Decoded d = Decode(t.table, Body(n));
  EXPECT_EQ(d.row.endOffset, n.size());
  EXPECT_EQ(d.shown[1], "Empty");
}

TEST(DecodeRecord, AllNullRowsAreNotShown) {
  CTable table;
  TableBuilder b(table);
  b.Fixed("a", "int", 4);
  b.Variable("v", "varchar", 5);
  RecordParts r;
  r.Set(4, LE(0, 4));
  r.columnCount = 2;
  r.nullBits = {1, 2};
  r.vars = {{}};
  const Decoded d = Decode(table, Body(BuildRecord(r)));
  ASSERT_EQ(d.verdict, Verdict::kDecoded);
  EXPECT_TRUE(d.row.allNull);
  std::string text;
  EXPECT_FALSE(PreviewRowText(d.row, text));
  EXPECT_TRUE(text.empty());
}

TEST(DecodeRecord, StoredTextsThatLookLikeMarkersStayValues) {
  CTable table;
  TableBuilder b(table);
  b.Variable("a", "varchar", 10);
  b.Variable("b", "varchar", 10);
  RecordParts r;
  r.columnCount = 2;
  r.vars = {{Ascii("NULL")}, {Ascii("x$#$y")}};
  const Decoded d = Decode(table, Body(BuildRecord(r)), 0, Mode::kExport);
  ASSERT_EQ(d.verdict, Verdict::kDecoded);
  EXPECT_EQ(d.marks, (std::vector<Mark>{Mark::kValue, Mark::kValue}));
  EXPECT_EQ(d.row.values[1].text, "x$#$y");
  std::string text;
  ASSERT_TRUE(PreviewRowText(Decode(table, Body(BuildRecord(r))).row, text));
  EXPECT_EQ(text, "NULL$#$x$#$y$#$");
}

TEST(DecodeRecord, InRowVariableValuesByType) {
  CTable table;
  TableBuilder b(table);
  b.Variable("vc", "varchar", 10);
  b.Variable("nv", "nvarchar", 10);
  b.Variable("nvw", "nvarchar", 10);
  b.Variable("vb", "varbinary", 10);
  // A text value kept in the row, as a table with "text in row" holds it: 8-bit text still.
  b.Variable("tx", "text", 16);
  // A sql_variant lies in the variable part too: its base type's header, then the value.
  b.Variable("sv", "sql_variant", 8016);
  RecordParts r;
  r.columnCount = 6;
  r.vars = {{{0x41, 0x01, 0x42, 0x00, 0x43}}, {Utf16("AB")}, {{0x41, 0x00, 0x1F, 0x04}}, {{0x01, 0xAB}}, {Ascii("Hi")},
            {{56, 1, 42, 0, 0, 0}}};
  const Bytes body = Body(BuildRecord(r));
  EXPECT_EQ(Decode(table, body).shown, (Strings{"ABC", "AB", "A\xD0\x9F", "?????", "Hi", "<binary data>"}));
  EXPECT_EQ(Decode(table, body, 0, Mode::kExport).shown,
            (Strings{"ABC", "41004200", "41001f04", "01ab", "Hi", "38012a000000"}));
}

TEST(DecodeRecord, OffRowValuesThroughTheirPointers) {
  using namespace textpages;
  Pages pages;
  pages.pages[95] = TextPage(95, {
                                     Small("Soft drinks", 0x870000),             // 0: text
                                     Small(std::string("C\0h\0", 4), 0x880000),  // 1: ntext
                                     Small("\x15\x1c\x2f", 0x890000),            // 2: image
                                     Small("", 0x8A0000),                        // 3: empty image
                                     Small("", 0x8B0000),                        // 4: empty text
                                 });
  LobReader lob(pages.Reader());
  CTable table;
  TableBuilder b(table);
  b.Fixed("id", "int", 4, false);
  b.Variable("t", "text", 16);
  b.Variable("n", "ntext", 16);
  b.Variable("i", "image", 16);
  b.Variable("e", "image", 16);
  b.Variable("et", "text", 16);
  auto pointer = [](DWORD valueId, WORD slot) {
    Bytes p(16, 0);
    recordtest::Put(p, 0, valueId, 4);
    recordtest::Put(p, 8, 95, 4);
    recordtest::Put(p, 12, 1, 2);
    recordtest::Put(p, 14, slot, 2);
    return p;
  };
  RecordParts r;
  r.Set(4, LE(1, 4));
  r.columnCount = 6;
  r.vars = {{pointer(0x870000, 0), true}, {pointer(0x880000, 1), true}, {pointer(0x890000, 2), true},
            {pointer(0x8A0000, 3), true}, {pointer(0x8B0000, 4), true}};
  const Bytes rec = BuildRecord(r);
  const Bytes body = Body(rec);
  Decoded d = Decode(table, body, 0, Mode::kDisplay, false, &lob);
  ASSERT_EQ(d.verdict, Verdict::kDecoded);
  EXPECT_EQ(d.shown, (Strings{"1", "Soft drinks", "Ch", "<binary data>", "<binary data>", "Empty"}));
  const int displayReads = pages.reads;
  EXPECT_EQ(d.row.incompleteValues, 0);
  d = Decode(table, body, 0, Mode::kExport, false, &lob);
  EXPECT_EQ(d.shown, (Strings{"1", "Soft drinks", "43006800", "151c2f", "0x", "Empty"}));
  // The preview reads no binary value.
  EXPECT_EQ(displayReads, 3);
  // A pointer counts 16 bytes towards the record's end.
  EXPECT_EQ(d.row.endOffset, rec.size());

  // Without a page source a value cannot be read: empty, and counted.
  d = Decode(table, body, 0, Mode::kExport);
  EXPECT_EQ(d.shown, (Strings{"1", "Empty", "Empty", "0x", "0x", "Empty"}));
  EXPECT_EQ(d.row.incompleteValues, 5);
  EXPECT_EQ(d.row.firstLobStop, lobcore::Stop::kDamaged);
}

namespace {

// The rebuilt table of `records`: each one taken into the layout, then the columns built.
struct RawTable {
  CTable table;
  RawLayout layout;
  bool built = false;
  explicit RawTable(const std::vector<Bytes>& records, bool uniquifier = false) {
    table.m_nExtraColumn = uniquifier ? 1 : 0;
    for (const Bytes& r : records) layout.Take(ByteView(r.data(), r.size()));
    built = BuildRawBytesColumns(table, layout);
  }
  Strings Columns() const {
    Strings out;
    for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext)
      out.push_back(c->m_strName.str() + " " + c->m_strType.str() + "(" + std::to_string(c->m_wLength) + ")");
    return out;
  }
};

}  // namespace

// A table whose syscolumns rows are lost: the layout comes from every record, and each record
// gives its fixed part and its entries as stored, whatever its null bits say. An entry without
// bytes is NULL unless the record shows no column NULL (see below).
TEST(RawBytesColumns, EveryRecordGivesItsStoredBytes) {
  RecordParts full;
  full.Set(4, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
  full.columnCount = 5;
  full.nullBits = {1, 2, 3, 4, 5};  // ignored: which bit is whose is not known
  full.vars = {{Ascii("ab")}, {}, {Ascii("z")}};
  RecordParts shortFixed;  // written before fixed columns were added
  shortFixed.Set(4, Bytes{9, 9, 9, 9});
  shortFixed.columnCount = 3;
  shortFixed.vars = {{Ascii("c")}};  // fewer entries than the others
  RecordParts fixedOnly;  // no variable part at all
  fixedOnly.statusA = 0x10;
  fixedOnly.Set(4, Bytes{0xA, 0xB, 0xC, 0xD, 0xE, 0xF, 0x10, 0x11});
  fixedOnly.columnCount = 5;
  const RawTable t({BuildRecord(full), BuildRecord(shortFixed), BuildRecord(fixedOnly)});
  ASSERT_TRUE(t.built);
  EXPECT_EQ(t.layout.records, 3);
  EXPECT_EQ(t.layout.storedColumns, 5);
  EXPECT_EQ(t.Columns(),
            (Strings{"Column_1 binary(8)", "Column_2 varbinary(8000)", "Column_3 varbinary(8000)",
                     "Column_4 varbinary(8000)"}));
  EXPECT_EQ(t.table.m_nCatalogColumns, 4);
  EXPECT_TRUE(IsRawBytesTable(t.table));

  struct Case {
    const char* name;
    const RecordParts& record;
    Strings display, exported;
  } cases[] = {
      {"every entry", full, {"0x0102030405060708", "0x6162", "NULL", "0x7a"},
       {"0x0102030405060708", "6162", "NULL", "7a"}},
      {"short fixed part, one entry", shortFixed, {"0x09090909", "0x63", "NULL", "NULL"},
       {"0x09090909", "63", "NULL", "NULL"}},
      // Every column stored and none NULL: the variable ones are all empty.
      {"no variable part", fixedOnly, {"0x0a0b0c0d0e0f1011", "Empty", "Empty", "Empty"},
       {"0x0a0b0c0d0e0f1011", "Empty", "Empty", "Empty"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes body = Body(BuildRecord(c.record));
    Decoded d = Decode(t.table, body);
    ASSERT_EQ(d.verdict, Verdict::kDecoded);
    EXPECT_EQ(d.shown, c.display);
    EXPECT_EQ(Decode(t.table, body, 0, Mode::kExport).shown, c.exported);
  }
  // A ghost of the table, asked for, decodes the same way.
  RecordParts ghost = full;
  ghost.statusA = 0x3C;
  EXPECT_EQ(Decode(t.table, Body(BuildRecord(ghost)), 0, Mode::kDisplay, true).shown, cases[0].display);
}

TEST(RawBytesColumns, LayoutOfWhatTheRecordsHold) {
  RecordParts plain;
  plain.Set(4, LE(7, 4));
  plain.columnCount = 3;
  plain.vars = {{Ascii("u")}, {Ascii("abc")}};
  // Only primary and forwarded data records with a null bitmap and a header that fits count.
  {
    std::vector<Bytes> refused;
    for (BYTE status : {BYTE(0x34), BYTE(0x36), BYTE(0x20), BYTE(0x2C)}) {
      RecordParts r = plain;
      r.statusA = status;
      refused.push_back(BuildRecord(r));
    }
    Bytes badF = BuildRecord(plain);
    recordtest::Put(badF, 2, 3, 2);
    refused.push_back(badF);
    Bytes cut = BuildRecord(plain);
    cut.resize(9);  // ends inside its variable offsets
    refused.push_back(cut);
    RecordParts tooMany = plain;
    tooMany.columnCount = 1;  // more entries than columns
    refused.push_back(BuildRecord(tooMany));
    for (const Bytes& r : refused) {
      RawLayout layout;
      EXPECT_FALSE(layout.Take(ByteView(r.data(), r.size())));
    }
    const RawTable none(refused);
    EXPECT_FALSE(none.built);
    EXPECT_EQ(none.table.m_pColumnHead, nullptr);
  }
  // The uniquifier entry of a non-unique clustered index gets no column; an entry holding a text
  // pointer in any record is image.
  RecordParts pointer = plain;
  pointer.vars[1] = {Bytes(16, 0x11), true};
  const RawTable u({BuildRecord(plain), BuildRecord(pointer)}, true);
  ASSERT_TRUE(u.built);
  EXPECT_EQ(u.Columns(), (Strings{"Column_1 binary(4)", "Column_2 image(16)"}));
  EXPECT_EQ(u.layout.pointer, (std::vector<bool>{false, true}));
  // Records holding nothing but their header give no column.
  RecordParts empty;
  empty.statusA = 0x10;
  empty.columnCount = 1;
  EXPECT_FALSE(RawTable({BuildRecord(empty)}).built);
  // A fixed part over 8000 bytes is split, as binary holds at most 8000.
  RecordParts wide;
  wide.statusA = 0x10;
  wide.Set(8000, Bytes(10, 0x5A));
  wide.columnCount = 1;
  const RawTable w({BuildRecord(wide)});
  EXPECT_EQ(w.Columns(), (Strings{"Column_1 binary(8000)", "Column_2 binary(6)"}));
  const Decoded d = Decode(w.table, Body(BuildRecord(wide)));
  ASSERT_EQ(d.verdict, Verdict::kDecoded);
  EXPECT_EQ(d.shown[1], "0x5a5a5a5a5a5a");
}

// An entry without bytes is an empty value or a NULL one, and with no column ids the null bit
// of a raw column is not known. What the record itself proves: when none of its null bits is
// set no column is NULL, so a zero-length entry is empty; an entry it does not store is empty
// only when it also holds every column (a record with fewer predates the columns it lacks).
TEST(RawBytesColumns, AnEntryWithoutBytesIsEmptyOnlyWhenNoColumnIsNull) {
  auto record = [](int columns, std::vector<int> nullBits, std::vector<std::string> vars) {
    RecordParts r;
    r.Set(4, LE(7, 4));
    r.columnCount = columns;
    r.nullBits = std::move(nullBits);
    for (const std::string& v : vars) r.vars.push_back({Ascii(v)});
    return r;
  };
  // The layout: 5 columns stored, three variable entries.
  const RawTable t({BuildRecord(record(5, {}, {"a", "b", "c"}))});
  ASSERT_TRUE(t.built);
  ASSERT_EQ(t.Columns(), (Strings{"Column_1 binary(4)", "Column_2 varbinary(8000)", "Column_3 varbinary(8000)",
                                  "Column_4 varbinary(8000)"}));
  struct Case {
    const char* name;
    RecordParts record;
    Strings vars;  // Column_2..Column_4 as exported
  } cases[] = {
      {"no null bit: a zero-length entry is empty", record(5, {}, {"ab", "", "z"}), {"6162", "Empty", "7a"}},
      {"a null bit set: it may be that entry's", record(5, {4}, {"ab", "", "z"}), {"6162", "NULL", "7a"}},
      {"every column, none NULL: entries not stored are empty", record(5, {}, {"ab"}), {"6162", "Empty", "Empty"}},
      {"a null bit set: entries not stored may be NULL", record(5, {2}, {"ab"}), {"6162", "NULL", "NULL"}},
      {"fewer columns: an entry not stored may be a column added since", record(3, {}, {"ab", ""}),
       {"6162", "Empty", "NULL"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded d = Decode(t.table, Body(BuildRecord(c.record)), 0, Mode::kExport);
    ASSERT_EQ(d.verdict, Verdict::kDecoded);
    EXPECT_EQ(Strings(d.shown.begin() + 1, d.shown.end()), c.vars);
  }
  // The script keeps the difference: an empty varbinary is 0x, a NULL one NULL.
  const Decoded d = Decode(t.table, Body(BuildRecord(cases[0].record)), 0, Mode::kExport);
  const std::string insert = BuildInsert(t.table, d.row.values, Target::kScript).insert.str();
  EXPECT_NE(insert.find("0x6162,0x,0x7a"), std::string::npos) << insert;
  const Decoded n = Decode(t.table, Body(BuildRecord(cases[1].record)), 0, Mode::kExport);
  const std::string nullInsert = BuildInsert(t.table, n.row.values, Target::kScript).insert.str();
  EXPECT_NE(nullInsert.find("0x6162,NULL,0x7a"), std::string::npos) << nullInsert;
}

// A deleted row may have been written with more variable entries than any row still live: the
// layout takes it, so its values get their columns. A record read later that holds still more
// (one no slot vouches for) has them counted, never dropped in silence.
TEST(RawBytesColumns, ADeletedRowWiderThanEveryLiveRowKeepsItsValues) {
  RecordParts live;
  live.Set(4, LE(1, 4));
  live.columnCount = 4;
  live.vars = {{Ascii("a")}};
  RecordParts deleted = live;
  deleted.statusA = 0x3C;
  deleted.vars = {{Ascii("b")}, {Ascii("cd")}, {Ascii("e")}};
  const RawTable t({BuildRecord(live), BuildRecord(deleted)});
  ASSERT_TRUE(t.built);
  EXPECT_EQ(t.layout.records, 2);
  EXPECT_EQ(t.layout.entries, 3);
  const Decoded d = Decode(t.table, Body(BuildRecord(deleted)), 0, Mode::kDisplay, true);
  ASSERT_EQ(d.verdict, Verdict::kDecoded);
  EXPECT_EQ(d.shown, (Strings{"0x01000000", "0x62", "0x6364", "0x65"}));
  EXPECT_EQ(d.row.entriesLeftOut, 0);

  RecordParts wider = deleted;
  wider.columnCount = 6;
  wider.vars.push_back({Ascii("f")});
  wider.vars.push_back({Ascii("g")});
  const Decoded w = Decode(t.table, Body(BuildRecord(wider)), 0, Mode::kDisplay, true);
  ASSERT_EQ(w.verdict, Verdict::kDecoded);
  EXPECT_EQ(w.shown, d.shown);
  EXPECT_EQ(w.row.entriesLeftOut, 2);
  // A table rebuilt with its fixed part alone reads no entry: every one is counted.
  RecordParts fixedOnly = live;
  fixedOnly.statusA = 0x10;
  fixedOnly.vars.clear();
  const RawTable f({BuildRecord(fixedOnly)});
  ASSERT_TRUE(f.built);
  EXPECT_EQ(Decode(f.table, Body(BuildRecord(wider)), 0, Mode::kDisplay, true).row.entriesLeftOut, 5);
}
