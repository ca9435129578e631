#include "dll/pellwyn2008/record.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "common/records.h"
#include "record_builder.h"

using namespace recordtest;

namespace {

// A table of one int, one nullable int and two nvarchar columns.
struct SmallTable {
  CTable table;
  CColumn* id;
  CColumn* qty;
  CColumn* name;
  CColumn* note;
  SmallTable() {
    TableBuilder b(table);
    id = b.Fixed("id", "int", 4, false);
    qty = b.Fixed("qty", "int", 4, true);
    name = b.Variable("name", "nvarchar", 40, false);
    note = b.Variable("note", "nvarchar", 40, true);
  }
  RecordParts Parts() const {
    RecordParts s;
    s.Set(4, LE(7, 4));
    s.Set(8, LE(42, 4));
    s.columnCount = 4;
    s.vars = {{Utf16("ab")}, {Utf16("xyz")}};
    return s;
  }
};

// Records kept for the life of the test program, so the cells that view them stay valid.
const Bytes& Keep(Bytes record) {
  static std::deque<Bytes> kept;
  kept.push_back(std::move(record));
  return kept.back();
}

RecordVerdict Decode(const RecordPlan& plan, const Bytes& record, DecodedRecord& out, bool ghosts = false,
                     const OffRowReader* reader = nullptr) {
  RecordDecodeOptions o;
  o.includeGhosts = ghosts;
  o.offRow = reader;
  return DecodeRecord(plan, ByteView(record.data(), record.size()), o, out);
}

std::string CellBytes(const RecordCell& c) {
  ByteView v = c.bytes();
  return std::string(reinterpret_cast<const char*>(v.data()), v.size());
}

}  // namespace

TEST(RecordDecoder, RecordTypeDecidesWhatIsARow) {
  SmallTable t;
  RecordPlan plan(t.table);
  struct Case {
    BYTE statusA;
    RecordVerdict plain;
    RecordVerdict withGhosts;
  } cases[] = {
      {0x30, RecordVerdict::kDecoded, RecordVerdict::kDecoded},            // primary
      {0x32, RecordVerdict::kDecoded, RecordVerdict::kDecoded},            // forwarded
      {0x34, RecordVerdict::kForwardingStub, RecordVerdict::kForwardingStub},
      {0x36, RecordVerdict::kNotData, RecordVerdict::kNotData},            // index record
      {0x38, RecordVerdict::kNotData, RecordVerdict::kNotData},            // large-value fragment
      {0x3A, RecordVerdict::kNotData, RecordVerdict::kNotData},            // ghost index
      {0x3C, RecordVerdict::kGhost, RecordVerdict::kDecoded},              // deleted row
      {0x3E, RecordVerdict::kGhost, RecordVerdict::kDecoded},              // ghost version
      {0x70, RecordVerdict::kDecoded, RecordVerdict::kDecoded},            // row-versioning tag
  };
  for (const Case& c : cases) {
    RecordParts s = t.Parts();
    s.statusA = c.statusA;
    Bytes r = BuildRecord(s);
    DecodedRecord out;
    EXPECT_EQ(Decode(plan, r, out), c.plain) << std::hex << int(c.statusA);
    EXPECT_EQ(Decode(plan, r, out, true), c.withGhosts) << std::hex << int(c.statusA);
  }
  // A status word of 0 holds nothing, and a record that ends inside its header is rejected.
  Bytes zero(16, 0);
  DecodedRecord out;
  EXPECT_EQ(Decode(plan, zero, out), RecordVerdict::kNoRecord);
  Bytes shortRecord = {0x30, 0x00, 0x08};
  EXPECT_EQ(Decode(plan, shortRecord, out), RecordVerdict::kOutOfPage);
}

TEST(RecordDecoder, VariablePartIsPresentExactlyWhenBit0x20IsSet) {
  SmallTable t;
  RecordPlan plan(t.table);
  DecodedRecord out;

  // Versioned (0x40) with a variable part: read like any other.
  RecordParts versioned = t.Parts();
  versioned.statusA = 0x70;
  ASSERT_EQ(Decode(plan, Keep(BuildRecord(versioned)), out), RecordVerdict::kDecoded);
  EXPECT_EQ(CellBytes(out.cells[2]), std::string("a\0b\0", 4));
  EXPECT_EQ(CellBytes(out.cells[3]), std::string("x\0y\0z\0", 6));

  // Versioned without a variable part: the bytes after the bitmap are not a variable count.
  for (BYTE status : {BYTE(0x10), BYTE(0x50)}) {
    RecordParts none = t.Parts();
    none.statusA = status;
    ASSERT_EQ(Decode(plan, Keep(BuildRecord(none)), out), RecordVerdict::kDecoded);
    EXPECT_FALSE(out.hasVarPart);
    EXPECT_EQ(out.cells[0].state, CellState::kValue);
    EXPECT_EQ(out.cells[2].state, CellState::kNull) << int(status);
    EXPECT_EQ(out.cells[3].state, CellState::kNull) << int(status);
  }

  // A variable part with no entries: the columns are not in the record.
  RecordParts empty = t.Parts();
  empty.vars.clear();
  ASSERT_EQ(Decode(plan, Keep(BuildRecord(empty)), out), RecordVerdict::kDecoded);
  EXPECT_TRUE(out.hasVarPart);
  EXPECT_EQ(out.cells[2].state, CellState::kMissing);
  EXPECT_EQ(out.cells[3].state, CellState::kMissing);
}

TEST(RecordDecoder, ColumnCountCheck) {
  CTable table;
  TableBuilder b(table);
  for (int i = 0; i < 10; ++i) b.Fixed(FormatString("c%d", i), "tinyint", 1, false);
  struct Case {
    int n;
    int allColumns;
    bool extra;
    bool accepted;
  } cases[] = {
      {0, 10, false, true},  // N = 0 still reads one bitmap byte
      {10, 10, false, true},
      {999, 10, false, true},
      {1000, 10, false, true},
      {1001, 10, false, false},
      {1001, 1001, false, true},  // the count including dropped columns
      {1001, 10, true, false},
      {11, 10, true, true},  // catalog count + 1 with the extra (uniquifier) column
  };
  for (const Case& c : cases) {
    table.m_nAllColumns = c.allColumns;
    table.m_nExtraColumn = c.extra ? 1 : 0;
    RecordPlan plan(table);
    RecordParts s;
    s.statusA = 0x10;
    s.fixed.resize(14, 1);
    s.columnCount = c.n;
    DecodedRecord out;
    Bytes r = BuildRecord(s);
    EXPECT_EQ(Decode(plan, r, out) == RecordVerdict::kDecoded, c.accepted) << c.n << " " << c.allColumns;
    if (c.accepted) {
      EXPECT_EQ(out.columnCount, c.n);
    }
  }
}

TEST(RecordDecoder, NullBitmap) {
  CTable table;
  TableBuilder b(table);
  for (int i = 1; i <= 8; ++i) b.Fixed(FormatString("c%d", i), "tinyint", 1, true);
  CColumn* ninth = b.Fixed("c9", "tinyint", 1, true);
  CColumn* notNull = b.Fixed("c10", "tinyint", 1, false);
  RecordParts s;
  s.statusA = 0x10;
  for (int i = 0; i < 10; ++i) s.Set(4 + i, LE(BYTE(i + 1), 1));
  s.columnCount = 10;
  s.nullBits = {2, 9, 10};  // bit 9 and 10 live in the second bitmap byte
  {
    RecordPlan plan(table);
    DecodedRecord out;
    const Bytes record = BuildRecord(s);
    ASSERT_EQ(Decode(plan, record, out), RecordVerdict::kDecoded);
    EXPECT_EQ(out.cells[0].state, CellState::kValue);
    EXPECT_EQ(out.cells[1].state, CellState::kNull);
    EXPECT_EQ(out.cells[8].state, CellState::kNull);
    // A column declared NOT NULL is never null, whatever its bit says.
    ASSERT_EQ(out.cells[9].state, CellState::kValue);
    EXPECT_EQ(out.cells[9].bytes().data()[0], 10);
  }
  // A null-bit number the catalog never matched, or one beyond the record's own count (a
  // nullable column added after the record was written), is not a flag to read.
  ninth->m_dwRowsetColumn = 0;
  notNull->m_bNullable = true;
  notNull->m_dwRowsetColumn = 11;
  s.nullBits.clear();
  RecordPlan plan(table);
  DecodedRecord out;
  ASSERT_EQ(Decode(plan, Keep(BuildRecord(s)), out), RecordVerdict::kDecoded);
  EXPECT_EQ(out.cells[8].state, CellState::kNull);
  EXPECT_EQ(out.cells[9].state, CellState::kNull);
}

TEST(RecordDecoder, VariableIndexesAreCheckedAgainstTheRecord) {
  SmallTable t;
  DecodedRecord out;
  {
    // A third entry in the record belongs to no column of the table and is not read.
    RecordPlan plan(t.table);
    RecordParts s = t.Parts();
    s.vars.push_back({Bytes(20, 0xEE), true});
    ASSERT_EQ(Decode(plan, Keep(BuildRecord(s)), out), RecordVerdict::kDecoded);
    EXPECT_EQ(out.varCount, 3);
    EXPECT_EQ(CellBytes(out.cells[3]), std::string("x\0y\0z\0", 6));
  }
  // Variable index 0 (none) and one beyond V: the column is not in this record.
  t.name->m_nOffset = 0;
  t.note->m_nOffset = -5;
  RecordPlan plan(t.table);
  ASSERT_EQ(Decode(plan, Keep(BuildRecord(t.Parts())), out), RecordVerdict::kDecoded);
  EXPECT_EQ(out.cells[2].state, CellState::kMissing);
  EXPECT_EQ(out.cells[3].state, CellState::kMissing);
}

TEST(RecordDecoder, StoredTypeOfAVariableValue) {
  CTable table;
  TableBuilder b(table);
  b.Variable("a", "nvarchar", 20);
  b.Variable("b", "varchar", 20);
  b.Variable("c", "", 20);
  // Without a map entry or a variable-column record: the column's own type, else unknown.
  table.m_mapVarTypes.RemoveKey("-2");
  table.m_mapVarTypes.RemoveKey("-3");
  delete table.m_pVarHead->m_pNext->m_pNext;
  table.m_pVarHead->m_pNext->m_pNext = nullptr;
  table.m_pVarTail = table.m_pVarHead->m_pNext;
  RecordPlan plan(table);
  EXPECT_EQ(plan.columns()[0].storedType, SqlType::kNVarChar);
  EXPECT_EQ(plan.columns()[1].storedType, SqlType::kVarChar);
  EXPECT_EQ(plan.columns()[2].storedType, SqlType::kUnknown);
  // A negative position makes a column variable whatever its type name.
  EXPECT_EQ(plan.columns()[2].role, ColumnRole::kVariable);
  EXPECT_EQ(plan.MaxVarIndex(), 3);
}

TEST(RecordDecoder, ForwardedRecordBackPointerIsNotAColumn) {
  SmallTable t;
  RecordPlan plan(t.table);
  int reads = 0;
  const OffRowReader reader = [&](const OffRowPointer&, LobSink&, LobReadReport*) {
    ++reads;
    return true;
  };
  // The 10-byte pointer back to the stub: complex-column header 0x0400, then page, file, slot.
  Bytes back = {0x00, 0x04, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x03, 0x00};
  RecordParts s = t.Parts();
  s.statusA = 0x32;
  s.vars.push_back({back, true});
  DecodedRecord out;
  ASSERT_EQ(Decode(plan, Keep(BuildRecord(s)), out, false, &reader), RecordVerdict::kDecoded);
  EXPECT_EQ(out.type, RecordType::kForwarded);
  EXPECT_EQ(CellBytes(out.cells[2]), std::string("a\0b\0", 4));
  EXPECT_EQ(CellBytes(out.cells[3]), std::string("x\0y\0z\0", 6));
  // Its last column NULL, so not stored: the back-pointer takes its place in the entries.
  s.vars = {{Utf16("ab")}, {back, true}};
  s.nullBits = {4};
  ASSERT_EQ(Decode(plan, Keep(BuildRecord(s)), out, false, &reader), RecordVerdict::kDecoded);
  EXPECT_EQ(out.cells[3].state, CellState::kNull);
  // The same record, but the column is declared NOT NULL: still not the pointer's bytes.
  t.note->m_bNullable = false;
  RecordPlan strict(t.table);
  ASSERT_EQ(Decode(strict, Keep(BuildRecord(s)), out, false, &reader), RecordVerdict::kDecoded);
  EXPECT_EQ(out.cells[3].state, CellState::kMissing);
  EXPECT_EQ(reads, 0);
  EXPECT_EQ(out.recordEnd, BuildRecord(s).size());
}

TEST(RecordDecoder, ValuesThatCannotBeRight) {
  SmallTable t;
  RecordPlan plan(t.table);
  DecodedRecord out;
  const Bytes good = BuildRecord(t.Parts());
  const size_t offsets = 4 + 8 + 2 + 1 + 2;  // header, two ints, N, bitmap, V

  // An end offset before its start: that value is corrupt, the next starts where it ended.
  Bytes backwards = good;
  Put(backwards, offsets, 10, 2);
  ASSERT_EQ(Decode(plan, backwards, out), RecordVerdict::kDecoded);
  EXPECT_EQ(out.cells[2].state, CellState::kCorrupt);
  EXPECT_EQ(out.cells[0].state, CellState::kValue);

  // An end offset beyond the page: the offsets are not this record's.
  Bytes beyond = good;
  Put(beyond, offsets + 2, 0x1F00, 2);
  EXPECT_EQ(Decode(plan, beyond, out), RecordVerdict::kOutOfPage);

  // A fixed part that ends inside the header, or a column count outside the record.
  Bytes badHeader = good;
  Put(badHeader, 2, 2, 2);
  EXPECT_EQ(Decode(plan, badHeader, out), RecordVerdict::kBadHeader);
  Bytes farEnd = good;
  Put(farEnd, 2, 0x1000, 2);
  EXPECT_EQ(Decode(plan, farEnd, out), RecordVerdict::kOutOfPage);

  // A fixed column whose bytes lie past the fixed part is not in this record.
  RecordParts shortFixed = t.Parts();
  shortFixed.fixed.resize(8);
  ASSERT_EQ(Decode(plan, Keep(BuildRecord(shortFixed)), out), RecordVerdict::kDecoded);
  EXPECT_EQ(out.cells[0].state, CellState::kValue);
  EXPECT_EQ(out.cells[1].state, CellState::kMissing);
}

TEST(RecordDecoder, OffRowValues) {
  CTable table;
  TableBuilder b(table);
  b.Variable("notes", "ntext", 16);
  b.Variable("body", "nvarchar", 0xFFFF);
  b.Variable("pic", "image", 16);
  b.Variable("tail", "varchar", 10);
  // 16-byte text pointer; root of two entries (12 + 2 x 12 bytes); a text pointer to an image.
  Bytes textPointer = LE(0x1234, 8);
  Put(textPointer, 8, 200, 4);
  Put(textPointer, 12, 1, 2);
  Put(textPointer, 14, 3, 2);
  Bytes root = {4, 0};
  Put(root, 6, 0x55, 4);
  Put(root, 12, 8040, 4);
  Put(root, 16, 300, 4);
  Put(root, 20, 1, 2);
  Put(root, 22, 0, 2);
  Put(root, 24, 9000, 4);
  Put(root, 28, 301, 4);
  Put(root, 32, 1, 2);
  Put(root, 34, 2, 2);
  RecordParts s;
  s.columnCount = 4;
  s.vars = {{textPointer, true}, {root, true}, {textPointer, true}, {Ascii("end")}};

  std::vector<OffRowPointer> asked;
  const OffRowReader reader = [&](const OffRowPointer& p, LobSink& sink, LobReadReport*) {
    asked.push_back(p);
    const std::string v = p.form == OffRowPointer::Form::kRoot ? "root value" : "text value";
    return sink.Append(reinterpret_cast<const BYTE*>(v.data()), v.size());
  };
  RecordPlan plan(table);
  DecodedRecord out;
  ASSERT_EQ(Decode(plan, Keep(BuildRecord(s)), out, false, &reader), RecordVerdict::kDecoded);
  EXPECT_EQ(CellBytes(out.cells[0]), "text value");
  EXPECT_EQ(CellBytes(out.cells[1]), "root value");
  // Images are streamed by their consumer: the cell keeps the pointer and nothing is read.
  EXPECT_TRUE(out.cells[2].offRow);
  EXPECT_FALSE(out.cells[2].assembled);
  EXPECT_EQ(out.cells[2].pointer.links.at(0).rid.page, 200u);
  // The value after the pointers starts where the last pointer ends.
  EXPECT_EQ(CellBytes(out.cells[3]), "end");
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].links.at(0).rid.page, 200u);
  EXPECT_EQ(asked[0].links.at(0).rid.slot, 3);
  EXPECT_EQ(asked[0].stamp, 0x1234u);
  ASSERT_EQ(asked[1].links.size(), 2u);
  EXPECT_EQ(asked[1].links[1].rid.page, 301u);
  EXPECT_EQ(asked[1].stamp, 0x55u);

  // A pointer of neither form is corrupt; an unreadable value with nothing read is corrupt;
  // a value read whole that holds no bytes is empty.
  s.vars[0] = {Bytes(20, 0x11), true};
  const OffRowReader nothing = [](const OffRowPointer& p, LobSink&, LobReadReport*) {
    return p.form == OffRowPointer::Form::kRoot;
  };
  ASSERT_EQ(Decode(plan, Keep(BuildRecord(s)), out, false, &nothing), RecordVerdict::kDecoded);
  EXPECT_EQ(out.cells[0].state, CellState::kCorrupt);
  EXPECT_EQ(out.cells[1].state, CellState::kEmpty);
  s.vars[0] = {textPointer, true};
  ASSERT_EQ(Decode(plan, Keep(BuildRecord(s)), out, false, &nothing), RecordVerdict::kDecoded);
  EXPECT_EQ(out.cells[0].state, CellState::kCorrupt);
}

// Damaged records are the normal case: whatever the bytes, decoding stays inside the record's
// view (the sanitizer build checks the reads) and every value it hands out lies inside it.
TEST(RecordDecoder, DamagedRecordsStayInsideTheirView) {
  CTable table;
  TableBuilder b(table);
  b.Fixed("id", "int", 4, false);
  b.Fixed("price", "money", 8);
  b.Bit("flag", 0);
  b.Variable("name", "nvarchar", 80);
  b.Variable("text", "ntext", 16);
  b.Variable("code", "varchar", 20);
  RecordPlan plan(table);
  RecordParts s;
  s.Set(4, LE(1, 4));
  s.Set(8, LE(123456, 8));
  s.Set(16, LE(1, 1));
  s.columnCount = 6;
  Bytes pointer = LE(9, 8);
  Put(pointer, 8, 77, 4);
  s.vars = {{Utf16("name")}, {pointer, true}, {Ascii("code")}};
  const Bytes good = BuildRecord(s);
  const OffRowReader reader = [](const OffRowPointer&, LobSink& sink, LobReadReport*) {
    return sink.Append(reinterpret_cast<const BYTE*>("v"), 1);
  };
  auto check = [&](const Bytes& bytes) {
    DecodedRecord out;
    if (Decode(plan, bytes, out, true, &reader) != RecordVerdict::kDecoded) return;
    ASSERT_EQ(out.cells.size(), plan.columns().size());
    for (const RecordCell& c : out.cells) {
      if (c.state != CellState::kValue || c.offRow) continue;
      ASSERT_GE(c.inRow.data(), bytes.data());
      ASSERT_LE(c.inRow.data() + c.inRow.size(), bytes.data() + bytes.size());
    }
  };
  for (size_t n = 0; n <= good.size(); ++n) check(Bytes(good.begin(), good.begin() + n));
  std::mt19937 random(2008);
  for (int round = 0; round < 20000; ++round) {
    Bytes damaged = good;
    const int flips = 1 + int(random() % 4);
    for (int f = 0; f < flips; ++f) damaged[random() % damaged.size()] = BYTE(random());
    check(damaged);
  }
}
