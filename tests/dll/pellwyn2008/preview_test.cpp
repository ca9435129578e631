#include <charconv>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/page.h"
#include "common/records.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "dll/pellwyn2008/record.h"
#include "platform/archive.h"
#include "record_builder.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "support/installscript.h"

using namespace recordtest;
using testsupport::ModuleFolderScope;
using testsupport::PreviewWindow;
using testsupport::TempDir;

namespace {

std::vector<std::string> TakeRows(CSQLServer2008& engine) {
  std::vector<std::string> rows;
  std::lock_guard<std::mutex> lock(engine.m_pStatus->m_csPreviewRows);
  for (const CString& r : engine.m_pStatus->m_vecPreviewRows) rows.push_back(r.str());
  engine.m_pStatus->m_vecPreviewRows.clear();
  return rows;
}

// The preview text of one record of `table`, as GetTableRecord appends it ("" for no row).
std::string RowOf(CSQLServer2008& engine, CTable& table, const Bytes& record) {
  Bytes page = DataPage(1, 1, {record});
  engine.GetTableRecord(page.data() + kPageHeaderSize, 0, &table);
  std::vector<std::string> rows = TakeRows(engine);
  EXPECT_LE(rows.size(), 1u);
  return rows.empty() ? std::string() : rows[0];
}

// A table of one fixed column and the record holding `value` in it.
std::string FixedText(CSQLServer2008& engine, const char* type, WORD length, const Bytes& value, BYTE precision = 0,
                      BYTE scale = 0) {
  CTable table;
  TableBuilder b(table);
  b.Fixed("c", type, length, true, precision, scale);
  RecordParts s;
  s.statusA = 0x10;
  s.Set(4, value);
  s.fixed.resize(4 + length);
  s.columnCount = 1;
  std::string row = RowOf(engine, table, BuildRecord(s));
  return row.size() >= 3 ? row.substr(0, row.size() - 3) : "<no row>";
}

Bytes Decimal(bool positive, unsigned __int128 magnitude, size_t bytes) {
  Bytes b = {BYTE(positive ? 1 : 0)};
  for (size_t i = 0; i < bytes; ++i) b.push_back(BYTE(magnitude >> (8 * i)));
  return b;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

// ---- value texts

TEST(PreviewText, FixedLengthValues) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  unsigned __int128 nines = 1;
  for (int i = 0; i < 38; ++i) nines *= 10;
  nines -= 1;
  struct Case {
    const char* type;
    WORD length;
    BYTE precision;
    BYTE scale;
    Bytes value;
    std::string text;
  } cases[] = {
      {"int", 4, 10, 0, LE(42, 4), "42"},
      {"int", 4, 10, 0, LE(0xFFFFFFFF, 4), "-1"},
      {"tinyint", 1, 3, 0, LE(255, 1), "255"},
      {"smallint", 2, 5, 0, LE(0xFFFF, 2), "-1"},
      {"bigint", 8, 19, 0, LE(std::uint64_t(-5), 8), "-5"},
      // Approximate numbers: the shortest text that reads back to the stored bits.
      {"real", 4, 24, 0, LE(0x3FC00000, 4), "1.5"},
      {"real", 4, 24, 0, LE(0x3E19999A, 4), "0.15"},
      {"real", 4, 24, 0, LE(0x0FFFFFFF, 4), "2.5243547e-29"},
      {"real", 4, 24, 0, LE(0x7FC00000, 4), "nan"},  // no server stores it: the printf text
      {"float", 8, 53, 0, LE(0x3FF8000000000000ull, 8), "1.5"},
      {"float", 8, 53, 0, LE(0x3FB999999999999Aull, 8), "0.1"},
      // Exact numbers plainly, at their scale, whatever the precision.
      {"decimal", 5, 5, 2, Decimal(true, 150, 4), "1.50"},
      {"decimal", 5, 5, 2, Decimal(false, 123, 4), "-1.23"},
      {"decimal", 5, 5, 2, Decimal(true, 5, 4), "0.05"},
      {"numeric", 5, 5, 0, Decimal(true, 7, 4), "7"},
      {"numeric", 5, 5, 0, Decimal(true, 0, 4), "0"},
      {"decimal", 17, 38, 0, Decimal(true, nines, 16), std::string(38, '9')},
      {"decimal", 17, 38, 10, Decimal(false, nines, 16), "-" + std::string(28, '9') + "." + std::string(10, '9')},
      {"decimal", 13, 28, 4, Decimal(true, (unsigned __int128)(1) << 70, 12), "118059162071741130.3424"},
      {"money", 8, 19, 4, LE(180000, 8), "18.0000"},
      {"money", 8, 19, 4, LE(std::uint64_t(-12345), 8), "-1.2345"},
      {"money", 8, 19, 4, LE(0, 8), "0.0000"},
      {"smallmoney", 4, 10, 4, LE(std::uint32_t(-12345), 4), "-1.2345"},
      // datetime: 1900-01-01 00:00:00.000 is a value; milliseconds as the server rounds ticks.
      {"datetime", 8, 23, 3, LE(0, 8), "1900-01-01 00:00:00.000"},
      {"datetime", 8, 23, 3, LE(1, 8), "1900-01-01 00:00:00.003"},
      {"datetime", 8, 23, 3, LE(2, 8), "1900-01-01 00:00:00.007"},
      {"datetime", 8, 23, 3, Concat(LE(300 * 60 * 60 * 24 - 1, 4), LE(38170, 4)), "2004-07-04 23:59:59.997"},
      {"datetime", 8, 23, 3, Concat(LE(1, 4), LE(0xFFFFFFFF, 4)), "1899-12-31 00:00:00.003"},
      // smalldatetime shows its stored hours and minutes.
      {"smalldatetime", 4, 16, 0, Concat(LE(61, 2), LE(1, 2)), "1900-01-02 01:01:00"},
      {"smalldatetime", 4, 16, 0, Concat(LE(0, 2), LE(0xFFFF, 2)), "2079-06-06 00:00:00"},
      {"date", 3, 10, 0, LE(0, 3), "0001-01-01"},
      {"date", 3, 10, 0, LE(3652058, 3), "9999-12-31"},
      {"time", 5, 16, 7, LE(372350000000ull, 5), "10:20:35.0000000 "},
      {"time", 5, 16, 7, LE(37235000000ull, 5), "01:02:03.5000000 "},
      {"time", 3, 8, 0, LE(3723, 3), "01:02:03.0 "},
      {"datetime2", 7, 23, 3, Concat(LE(3723456, 4), LE(730119, 3)), "2000-01-01 01:02:03.456"},
      {"datetimeoffset", 8, 26, 0, Concat(Concat(LE(0, 3), LE(730119, 3)), LE(std::uint16_t(-90), 2)),
       "1999-12-31 22:30:00 -01:30"},
      {"char", 5, 0, 0, Ascii(std::string("ab\0\0\0", 5)), "ab"},
      {"char", 5, 0, 0, Bytes(5, 0), "Empty"},
      {"nchar", 6, 0, 0, Utf16("AB "), "AB "},
      {"nchar", 4, 0, 0, Bytes{0x10, 0x04, 0x41, 0x00}, "\xD0\x90" "A"},  // every character shown
      {"binary", 2, 0, 0, Bytes{0x0A, 0xFF}, "0x0aff"},
      {"uniqueidentifier", 16, 0, 0,
       Bytes{0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF},
       "{00112233-4455-6677-8899-AABBCCDDEEFF}"},
      {"timestamp", 8, 0, 0, LE(0x7D1, 8), "<binary data>"},
      {"", 3, 0, 0, Bytes{1, 2, 3}, "0x010203"},  // a type the catalog could not name
  };
  for (const Case& c : cases)
    EXPECT_EQ(FixedText(engine, c.type, c.length, c.value, c.precision, c.scale), c.text)
        << c.type << "(" << int(c.precision) << "," << int(c.scale) << ")";
}

TEST(PreviewText, BitColumnsShareAByte) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  CTable table;
  TableBuilder b(table);
  b.Bit("b0", 0);
  b.Bit("b3", 3);
  b.Bit("b7", 7);
  RecordParts s;
  s.statusA = 0x10;
  s.Set(4, Bytes{0x08});
  s.columnCount = 3;
  EXPECT_EQ(RowOf(engine, table, BuildRecord(s)), "0$#$1$#$0$#$");
  s.Set(4, Bytes{0x81});
  EXPECT_EQ(RowOf(engine, table, BuildRecord(s)), "1$#$0$#$1$#$");
}

TEST(PreviewText, VariableLengthValuesAndMarkers) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  CTable table;
  TableBuilder b(table);
  b.Variable("nv", "nvarchar", 40);
  b.Variable("nvWide", "nvarchar", 40);
  b.Variable("nvLate", "nvarchar", 40);
  b.Variable("v", "varchar", 20)->m_dwCollation = 0xD000 | 0x18;  // Cyrillic_General: 1251
  b.Variable("bin", "varbinary", 20);
  b.Variable("empty", "nvarchar", 20);
  b.Variable("null", "nvarchar", 20);
  b.Variable("odd", "", 20);
  b.Variable("corrupt", "varchar", 20);
  CColumn* added = b.Variable("added", "varchar", 20, false);
  added->m_strDefault = "('n/a')";
  b.Variable("addedNoDefault", "varchar", 20, false);
  RecordParts s;
  s.columnCount = 11;
  s.nullBits = {7};
  s.vars = {{Utf16("AB")},
            {Bytes{0x10, 0x04, 0x41, 0x00}},       // a non-Latin character first
            {Concat(Utf16("ABC"), Bytes{0x10, 0x04})},  // ... and last
            {Ascii("a\x01z\xC0")},                  // by the column's code page
            {Bytes{0x41, 0x00, 0x42}},
            {},
            {},
            {Bytes{0xDE, 0xAD}},
            {}};
  Bytes record = BuildRecord(s);
  // Make the ninth value end before it starts: its length cannot be right.
  const size_t offsets = 4 + 2 + 2 + 2;
  Put(record, offsets + 2 * 8, 5, 2);
  EXPECT_EQ(RowOf(engine, table, record),
            "AB$#$\xD0\x90" "A$#$ABC\xD0\x90$#$a\x01z\xD0\x90$#$<binary data>$#$Empty$#$NULL$#$0xdead$#$Corrupt$#$('n/a')$#$Empty$#$");
}

TEST(PreviewText, ComputedDroppedAndRunningPositions) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  CTable table;
  TableBuilder b(table);
  // Columns without catalog positions: a dropped int still takes its 4 bytes, a computed
  // column takes none.
  CColumn* dropped = b.Fixed("gone", "int", 4, false);
  b.Computed("total", "int", "([a]+(1))");
  CColumn* a = b.Fixed("a", "int", 4, false);
  CColumn* name = b.Variable("droppedName", "nvarchar", 20);
  for (CColumn* c : {dropped, a}) c->m_bCatalogOffset = false;
  dropped->m_bDropped = 1;
  name->m_bDropped = 1;
  RecordParts s;
  s.Set(4, LE(99, 4));
  s.Set(8, LE(5, 4));
  s.columnCount = 4;
  s.vars = {{Utf16("x")}};
  EXPECT_EQ(RowOf(engine, table, BuildRecord(s)), "Deleted$#$FORMULA$#$5$#$Deleted$#$");
}

TEST(PreviewText, NullAndEmptyApartAndRowsOfNulls) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  CTable table;
  TableBuilder b(table);
  CColumn* qty = b.Fixed("qty", "int", 4);
  qty->m_strDefault = "((0))";
  b.Variable("a", "nvarchar", 20);
  b.Variable("b", "nvarchar", 20);
  RecordParts s;
  s.columnCount = 3;
  s.nullBits = {1, 2, 3};
  s.vars = {{}, {}};
  // A NULL shows NULL, not the column's default; a row of NULLs is a row.
  EXPECT_EQ(RowOf(engine, table, BuildRecord(s)), "NULL$#$NULL$#$NULL$#$");
  s.nullBits = {1, 3};
  EXPECT_EQ(RowOf(engine, table, BuildRecord(s)), "NULL$#$Empty$#$NULL$#$");
  // A record without a variable part: its variable columns are NULL.
  s.statusA = 0x10;
  s.vars.clear();
  s.nullBits.clear();
  s.Set(4, LE(3, 4));
  EXPECT_EQ(RowOf(engine, table, BuildRecord(s)), "3$#$NULL$#$NULL$#$");
  // More values than the listed columns: the missing ones read "Empty".
  table.m_nAllColumns = 4;
  EXPECT_EQ(RowOf(engine, table, BuildRecord(s)), "3$#$NULL$#$NULL$#$Empty$#$");
}

TEST(GetTableRecord, RecordTypesAndTheLog) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  CTable table;
  TableBuilder b(table);
  b.Fixed("id", "int", 4, false);
  RecordParts s;
  s.statusA = 0x10;
  s.Set(4, LE(1, 4));
  s.columnCount = 1;
  const int before = engine.m_pStatus->m_nRecordsProcessed;
  EXPECT_EQ(RowOf(engine, table, BuildRecord(s)), "1$#$");
  s.statusA = 0x14;  // forwarding stub
  EXPECT_EQ(RowOf(engine, table, BuildRecord(s)), "");
  s.statusA = 0x1C;  // deleted row
  EXPECT_EQ(RowOf(engine, table, BuildRecord(s)), "");
  engine.m_bRecoverDeleted = 1;
  EXPECT_EQ(RowOf(engine, table, BuildRecord(s)), "1$#$");
  EXPECT_EQ(RowOf(engine, table, Bytes(8, 0)), "");
  EXPECT_EQ(engine.m_pStatus->m_nRecordsProcessed - before, 2);
  // One "In GetTableRecord" line per call, whatever became of the record.
  const std::string log = scope.ReadExecLog();
  size_t lines = 0;
  for (size_t p = 0; (p = log.find("Code:0  Error:0  MSG:In GetTableRecord\r\n", p)) != std::string::npos; ++p) ++lines;
  EXPECT_EQ(lines, 5u);
}

// ---- the preview walk on a synthetic database file

namespace {

constexpr DWORD kObjectId = 1234;

// A table of (id int, name nvarchar) whose rows lie on the pages of a plain database file.
struct SyntheticTable {
  TempDir dir;
  std::string path = dir.file("rows.mdf");
  std::vector<Bytes> pages = {Bytes(kPageSize, 0)};  // page 0 is not the table's
  CTable table;
  SyntheticTable() {
    TableBuilder b(table);
    b.Fixed("id", "int", 4, false);
    b.Variable("name", "nvarchar", 80);
  }
  // A row; a bare one has no variable part (its name is NULL) and takes 11 bytes.
  static Bytes Row(int id, BYTE statusA = 0x30, bool bare = false) {
    RecordParts s;
    s.statusA = bare ? 0x10 : statusA;
    s.Set(4, LE(DWORD(id), 4));
    s.columnCount = 2;
    if (bare) s.nullBits = {2};
    else s.vars = {{Utf16(FormatString("row%d", id).str())}};
    return BuildRecord(s);
  }
  static std::string Text(int id) { return FormatString("%d$#$row%d$#$", id, id).str(); }
  // Adds pages of `perPage` rows holding ids first..last; returns their page numbers.
  std::vector<DWORD> AddRows(int first, int last, int perPage, BYTE type = kPageData, bool bare = false) {
    std::vector<DWORD> added;
    for (int id = first; id <= last; id += perPage) {
      std::vector<Bytes> records;
      for (int k = id; k < id + perPage && k <= last; ++k) records.push_back(Row(k, 0x30, bare));
      added.push_back(DWORD(pages.size()));
      pages.push_back(DataPage(DWORD(pages.size()), kObjectId, records, type));
    }
    return added;
  }
  void Attach(CSQLServer2008& engine) {
    std::string bytes;
    for (const Bytes& p : pages) bytes.append(reinterpret_cast<const char*>(p.data()), p.size());
    testsupport::WriteFile(path, bytes);
    engine.m_strFilePath = path.c_str();
  }
};

std::vector<std::string> Texts(int first, int last) {
  std::vector<std::string> v;
  for (int id = first; id <= last; ++id) v.push_back(SyntheticTable::Text(id));
  return v;
}

std::vector<std::string> BareTexts(int first, int last) {
  std::vector<std::string> v;
  for (int id = first; id <= last; ++id) v.push_back(FormatString("%d$#$NULL$#$", id).str());
  return v;
}

bool WaitDone(CSQLServer2008& engine) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!engine.m_pStatus->m_bRecordThreadDone && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return engine.m_pStatus->m_bRecordThreadDone != 0;
}

}  // namespace

TEST(PreviewWalk, WindowsOf500WithPagingBackAndForth) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  SyntheticTable t;
  // 180 rows a page: windows end in the middle of pages 3 and 6.
  t.table.m_vecDataPages = t.AddRows(1, 1200, 180);
  t.Attach(engine);
  testsupport::Preview preview(engine);
  PreviewWindow w1 = preview.Select(&t.table);
  ASSERT_TRUE(w1.finished);
  EXPECT_EQ(w1.rows, Texts(1, 500));
  EXPECT_FALSE(w1.lastWindow);
  PreviewWindow w2 = preview.Next();
  EXPECT_EQ(w2.rows, Texts(501, 1000));
  EXPECT_FALSE(w2.lastWindow);
  PreviewWindow w3 = preview.Next();
  EXPECT_EQ(w3.rows, Texts(1001, 1200));
  EXPECT_TRUE(w3.lastWindow);
  EXPECT_EQ(preview.Previous().rows, Texts(501, 1000));
  PreviewWindow back = preview.Previous();
  EXPECT_EQ(back.rows, Texts(1, 500));
  EXPECT_FALSE(back.lastWindow);
  // Back at the first window there is nothing further back: it shows again.
  EXPECT_EQ(preview.Previous().rows, Texts(1, 500));
  EXPECT_EQ(preview.Next().rows, Texts(501, 1000));
  EXPECT_EQ(preview.Next().rows, Texts(1001, 1200));
  // A new table selected: its first window, whatever was shown before.
  EXPECT_EQ(preview.Select(&t.table).rows, Texts(1, 500));
}

TEST(PreviewWalk, LastPageWithMoreRowsThanAWindow) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  SyntheticTable t;
  t.table.m_vecDataPages = t.AddRows(1, 520, 520, kPageData, true);
  ASSERT_EQ(PageSlotCount(t.pages[1].data()), 520);
  t.Attach(engine);
  testsupport::Preview preview(engine);
  PreviewWindow w1 = preview.Select(&t.table);
  EXPECT_EQ(w1.rows, BareTexts(1, 500));
  // Rows are left on the last page: this is not the last window yet.
  EXPECT_FALSE(w1.lastWindow);
  PreviewWindow w2 = preview.Next();
  EXPECT_EQ(w2.rows, BareTexts(501, 520));
  EXPECT_TRUE(w2.lastWindow);
}

TEST(PreviewWalk, EmptyTablesAndPagesThatHoldNoRows) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  SyntheticTable t;
  t.Attach(engine);
  testsupport::Preview preview(engine);
  PreviewWindow empty = preview.Select(&t.table);
  EXPECT_TRUE(empty.finished);
  EXPECT_TRUE(empty.rows.empty());
  EXPECT_TRUE(empty.lastWindow);

  // A text page, a page beyond the end of the file and a stub are no rows; a window may end
  // on such a page and still be the last.
  std::vector<DWORD> pages = t.AddRows(1, 3, 10);
  std::vector<DWORD> text = t.AddRows(100, 102, 10, kPageTextMix);
  t.pages.push_back(DataPage(DWORD(t.pages.size()), kObjectId, {SyntheticTable::Row(4), SyntheticTable::Row(99, 0x34)}));
  pages.push_back(text[0]);
  pages.push_back(DWORD(t.pages.size() - 1));
  pages.push_back(5000);
  t.table.m_vecDataPages = pages;
  t.Attach(engine);
  PreviewWindow w = preview.Select(&t.table);
  EXPECT_EQ(w.rows, Texts(1, 4));
  EXPECT_TRUE(w.lastWindow);
}

TEST(PreviewWalk, DeletedRowsOnlyWhenAskedFor) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  SyntheticTable t;
  t.pages.push_back(DataPage(1, kObjectId, {SyntheticTable::Row(1), SyntheticTable::Row(2, 0x3C), SyntheticTable::Row(3)}));
  t.table.m_vecDataPages = {1};
  t.table.m_vecFreedPages = t.AddRows(10, 11, 5);
  t.Attach(engine);
  testsupport::Preview preview(engine);
  EXPECT_EQ(preview.Select(&t.table).rows, (std::vector<std::string>{t.Text(1), t.Text(3)}));
  engine.m_bRecoverDeleted = 1;
  EXPECT_EQ(preview.Select(&t.table).rows,
            (std::vector<std::string>{t.Text(1), t.Text(2), t.Text(3), t.Text(10), t.Text(11)}));
}

// Windows that end inside a page read the deleted rows of that page where the plan has them:
// paging forward shows every row once, a deleted row among them where its slot lies.
TEST(PreviewWalk, DeletedRowsKeepTheirPlaceAcrossWindows) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  SyntheticTable t;
  std::vector<DWORD> pages = t.AddRows(1, 450, 90);
  // Row 451 was deleted: a ghost in the middle of a page whose rows cross a window's end.
  std::vector<Bytes> records;
  for (int id = 452; id <= 560; ++id) records.push_back(SyntheticTable::Row(id));
  records.insert(records.begin() + 60, SyntheticTable::Row(451, 0x3C));
  pages.push_back(DWORD(t.pages.size()));
  t.pages.push_back(DataPage(DWORD(t.pages.size()), kObjectId, records));
  t.table.m_vecDataPages = pages;
  t.Attach(engine);
  engine.m_bRecoverDeleted = 1;
  int windows = 0;
  std::vector<std::string> expected = Texts(1, 450);
  for (int id = 452; id <= 511; ++id) expected.push_back(SyntheticTable::Text(id));
  expected.push_back(SyntheticTable::Text(451));
  for (int id = 512; id <= 560; ++id) expected.push_back(SyntheticTable::Text(id));
  EXPECT_EQ(testsupport::AllRows(engine, &t.table, &windows), expected);
  EXPECT_EQ(windows, 2);
}

TEST(PreviewWalk, ScanLoadedWithoutItsBackupGivesNoRows) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  SyntheticTable t;
  t.table.m_vecDataPages = t.AddRows(1, 10, 10);
  t.Attach(engine);
  engine.m_strFilePath = "/nowhere/db.bak";
  engine.m_strExtension = "bak";
  ASSERT_FALSE(engine.HasPageSource());
  testsupport::Preview preview(engine);
  PreviewWindow w = preview.Select(&t.table);
  EXPECT_TRUE(w.finished);
  EXPECT_TRUE(w.rows.empty());
  EXPECT_TRUE(w.lastWindow);
  EXPECT_NE(scope.ReadExecLog().find("Record preview of [dbo].[T]: no rows, the scan was loaded without its backup"),
            std::string::npos);
}

TEST(PreviewWalk, ReplacedWalksLeaveNoTrace) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  SyntheticTable t;
  t.table.m_vecDataPages = t.AddRows(1, 1200, 150);
  t.Attach(engine);
  testsupport::Preview preview(engine);
  ASSERT_EQ(preview.Select(&t.table).rows, Texts(1, 500));

  // A walk whose request was replaced before it ran touches nothing.
  const UINT64 stale = engine.TakePreviewTicket();
  engine.TakePreviewTicket();
  engine.m_pStatus->m_bRecordThreadDone = 0;
  engine.m_bPaging = 1;
  engine.m_bPageForward = 1;
  EXPECT_EQ(CSQLServer2008::RunPreviewWalk(&engine, engine.m_pPreviewWalks, stale), 0u);
  EXPECT_TRUE(TakeRows(engine).empty());
  EXPECT_EQ(engine.m_pStatus->m_bRecordThreadDone, 0);
  EXPECT_EQ(engine.m_nNextSlotIndex, 500 - 3 * 150);

  // Requests in quick succession, as rapid clicks make them: the walks run one at a time, a
  // replaced one takes its rows back, and the window state is that of one first window.
  engine.m_bPaging = 0;
  engine.m_stkWindowStarts.clear();
  engine.m_pStatus->m_pPreviewTable = &t.table;
  for (int i = 0; i < 30; ++i) engine.StartRecoverTableRecordThread();
  ASSERT_TRUE(WaitDone(engine));
  // A walk that finished before the next request came published its whole window; a replaced
  // one took its rows back. Only whole first windows are left, never a mix.
  std::vector<std::string> rows = TakeRows(engine);
  ASSERT_FALSE(rows.empty());
  ASSERT_EQ(rows.size() % 500, 0u);
  for (size_t i = 0; i < rows.size(); i += 500)
    EXPECT_EQ(std::vector<std::string>(rows.begin() + long(i), rows.begin() + long(i) + 500), Texts(1, 500));
  EXPECT_TRUE(engine.m_stkWindowStarts.empty());
  EXPECT_EQ(preview.Next().rows, Texts(501, 1000));
}

TEST(PreviewWalk, PreviewsWhateverTheExportModeSaysMeanwhile) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  SyntheticTable t;
  t.table.m_vecDataPages = t.AddRows(1, 20, 10);
  t.Attach(engine);
  testsupport::Preview preview(engine);
  preview.Select(&t.table);
  // An export of another table sets the mode while the user previews this one.
  engine.m_bExportMode = 1;
  engine.m_pStatus->m_pPreviewTable = &t.table;
  engine.m_bPaging = 0;
  engine.m_stkWindowStarts.clear();
  engine.StartRecoverTableRecordThread();
  ASSERT_TRUE(WaitDone(engine));
  EXPECT_EQ(TakeRows(engine), Texts(1, 20));
  // Called directly in export mode, the routine leaves the preview list alone.
  engine.m_pStatus->m_bRecordThreadDone = 0;
  EXPECT_EQ(CSQLServer2008::RecoverTableRecordThread(&engine), 0u);
  EXPECT_EQ(engine.m_pStatus->m_bRecordThreadDone, 1);
  EXPECT_TRUE(TakeRows(engine).empty());
}

// ---- real files: the Northwind rows against the public install script

namespace {

// The install script as 8-bit text (UTF-16 units above 0xFF become '?').
const std::string& NorthwindScript() {
  static const std::string text = [] {
    std::string path = testsupport::FixturePath("oracle/instnwnd.sql");
    std::string raw = path.empty() ? std::string() : testsupport::ReadFile(path);
    // The preview shows text as UTF-8: the script's UTF-16 read the same way.
    return testsupport::InstallScriptText(raw);
  }();
  return text;
}

struct Token {
  bool quoted = false;
  std::string text;
};

// The value lists of the script's INSERT statements into `table`.
std::vector<std::vector<Token>> ScriptRows(const std::string& table) {
  const std::string& sql = NorthwindScript();
  std::vector<std::vector<Token>> rows;
  const std::string names[] = {"INSERT \"" + table + "\"", "INSERT INTO \"" + table + "\""};
  for (const std::string& name : names) {
    for (size_t at = sql.find(name); at != std::string::npos; at = sql.find(name, at + 1)) {
      size_t i = sql.find("VALUES", at + name.size());
      if (i == std::string::npos) break;
      i = sql.find('(', i) + 1;
      std::vector<Token> row;
      while (i < sql.size() && sql[i] != ')') {
        char c = sql[i];
        if (c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
          ++i;
          continue;
        }
        Token t;
        if (c == 'N' && sql[i + 1] == '\'') c = sql[++i];
        if (c == '\'') {
          t.quoted = true;
          for (++i; i < sql.size(); ++i) {
            if (sql[i] == '\'' && sql[i + 1] == '\'') {
              t.text += '\'';
              ++i;
            } else if (sql[i] == '\'') {
              ++i;
              break;
            } else {
              t.text += sql[i];
            }
          }
        } else {
          while (i < sql.size() && sql[i] != ',' && sql[i] != ')' && !std::isspace(BYTE(sql[i]))) t.text += sql[i++];
        }
        row.push_back(t);
      }
      rows.push_back(row);
    }
  }
  return rows;
}

// The preview text of a script value, by the column's kind: i number, s text, c<n> nchar(n),
// d datetime, m money, r real, b image.
std::string Expected(const std::string& kind, const Token& t) {
  if (!t.quoted && (t.text == "NULL" || t.text == "null")) return "NULL";
  if (kind == "s") return t.text.empty() ? "Empty" : t.text;
  if (kind[0] == 'c') return t.text + std::string(size_t(std::max(0, std::atoi(kind.c_str() + 1) - int(t.text.size()))), ' ');
  if (kind == "d") {
    int m = 0, d = 0, y = 0;
    std::sscanf(t.text.c_str(), "%d/%d/%d", &m, &d, &y);
    return FormatString("%04d-%02d-%02d 00:00:00.000", y, m, d).str();
  }
  if (kind == "m") {
    const size_t dot = t.text.find('.');
    std::string whole = t.text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : t.text.substr(dot + 1);
    fraction.resize(4, '0');
    return whole + "." + fraction;
  }
  if (kind == "r") {
    // The shortest text that reads back to the same single-precision value.
    char buf[64];
    const auto end = std::to_chars(buf, buf + sizeof buf, std::strtof(t.text.c_str(), nullptr)).ptr;
    return std::string(buf, end);
  }
  if (kind == "b") return "<binary data>";
  return t.text;
}

struct NorthwindTable {
  const char* name;
  std::vector<std::string> kinds;
  const char* firstRow;  // the first row of the first window, as a Northwind database shows it
};

const std::vector<NorthwindTable>& NorthwindTables() {
  static const std::vector<NorthwindTable> tables = {
      {"Customers",
       {"c5", "s", "s", "s", "s", "s", "s", "s", "s", "s", "s"},
       "ALFKI$#$Alfreds Futterkiste$#$Maria Anders$#$Sales Representative$#$Obere Str. 57$#$Berlin$#$NULL$#$"
       "12209$#$Germany$#$030-0074321$#$030-0076545$#$"},
      {"Orders",
       {"i", "c5", "i", "d", "d", "d", "i", "m", "s", "s", "s", "s", "s", "s"},
       "10248$#$VINET$#$5$#$1996-07-04 00:00:00.000$#$1996-08-01 00:00:00.000$#$1996-07-16 00:00:00.000$#$3$#$"
       "32.3800$#$Vins et alcools Chevalier$#$59 rue de l'Abbaye$#$Reims$#$NULL$#$51100$#$France$#$"},
      {"Order Details", {"i", "i", "m", "i", "r"}, "10248$#$11$#$14.0000$#$12$#$0$#$"},
      {"Products",
       {"i", "s", "i", "i", "s", "m", "i", "i", "i", "i"},
       "1$#$Chai$#$1$#$1$#$10 boxes x 20 bags$#$18.0000$#$39$#$0$#$10$#$0$#$"},
      {"Employees",
       {"i", "s", "s", "s", "s", "d", "d", "s", "s", "s", "s", "s", "s", "s", "b", "s", "i", "s"},
       "1$#$Davolio$#$Nancy$#$Sales Representative$#$Ms.$#$1948-12-08 00:00:00.000$#$1992-05-01 00:00:00.000$#$"
       "507 - 20th Ave. E.\r\nApt. 2A$#$Seattle$#$WA$#$98122$#$USA$#$(206) 555-9857$#$5467$#$<binary data>$#$"
       "Education includes a BA in psychology from Colorado State University in 1970.  She also completed "
       "\"The Art of the Cold Call.\"  Nancy is a member of Toastmasters International.$#$2$#$"
       "http://accweb/emmployees/davolio.bmp$#$"},
  };
  return tables;
}

std::vector<std::string> ScriptTexts(const NorthwindTable& t) {
  std::vector<std::string> texts;
  for (const std::vector<Token>& row : ScriptRows(t.name)) {
    std::string text;
    for (size_t i = 0; i < row.size() && i < t.kinds.size(); ++i) text += Expected(t.kinds[i], row[i]) + "$#$";
    texts.push_back(text);
  }
  std::sort(texts.begin(), texts.end());
  return texts;
}

}  // namespace

TEST(PreviewFixtures, NorthwindRowsEqualTheInstallScript) {
  REQUIRE_FIXTURE(script, "oracle/instnwnd.sql");
  // Fixtures whose owners left these tables as the script made them (victor added six
  // customers of its own: its script customers are all there).
  for (const char* name : {"bak2008_northwind_thuyluv.bak", "mdf2008_northwnd_itsligo.mdf",
                           "mdf2008r2_northwnd_upg2000.mdf", "bak2008r2_northwind_victor.bak"}) {
    REQUIRE_FIXTURE(path, name);
    ModuleFolderScope scope;
    CSQLServer2008 engine;
    ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished) << name;
    for (const NorthwindTable& t : NorthwindTables()) {
      SCOPED_TRACE(std::string(name) + " " + t.name);
      CTable* table = testsupport::FindTable(engine, t.name);
      ASSERT_NE(table, nullptr);
      std::vector<std::string> rows = testsupport::AllRows(engine, table);
      ASSERT_FALSE(rows.empty());
      const bool edited = std::string(name) == "bak2008r2_northwind_victor.bak" && std::string(t.name) == "Customers";
      if (!edited) {
        EXPECT_EQ(rows[0], t.firstRow);
      }
      std::sort(rows.begin(), rows.end());
      const std::vector<std::string> expected = ScriptTexts(t);
      if (edited) {
        EXPECT_EQ(rows.size(), 97u);
        EXPECT_TRUE(std::includes(rows.begin(), rows.end(), expected.begin(), expected.end()));
      } else {
        EXPECT_EQ(rows, expected);
      }
    }
  }
}

TEST(PreviewFixtures, OrdersPreviewInWindowsOf500) {
  REQUIRE_FIXTURE(path, "bak2008_northwind_thuyluv.bak");
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  CTable* orders = testsupport::FindTable(engine, "dbo.Orders");
  ASSERT_NE(orders, nullptr);
  testsupport::Preview preview(engine);
  PreviewWindow first = preview.Select(orders);
  ASSERT_EQ(first.rows.size(), 500u);
  EXPECT_FALSE(first.lastWindow);
  PreviewWindow second = preview.Next();
  EXPECT_EQ(second.rows.size(), 330u);
  EXPECT_TRUE(second.lastWindow);
  EXPECT_EQ(second.rows.back().substr(0, 11), "11077$#$RAT");
  PreviewWindow back = preview.Previous();
  EXPECT_EQ(back.rows, first.rows);
  EXPECT_FALSE(back.lastWindow);
}

TEST(PreviewFixtures, ForwardedRecordsOnceAndNoStubs) {
  REQUIRE_FIXTURE(path, "bak2008_northwind_512blk.bak");
  REQUIRE_FIXTURE(script, "oracle/instnwnd.sql");
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  CTable* details = testsupport::FindTable(engine, "OrderDetail");
  ASSERT_NE(details, nullptr);
  // Count the records on the heap's pages by their type: primary, forwarded, stubs.
  std::map<int, int> types;
  std::vector<BYTE> page(kPageSize);
  for (DWORD p : details->m_vecDataPages) {
    ASSERT_TRUE(engine.ReadSourcePage(p, page.data()));
    ForEachSlot(page.data(), [&](int, WORD entry) {
      ++types[(page[entry] >> 1) & 7];
      return true;
    });
  }
  ASSERT_GT(types[2], 500);  // the heap holds forwarding stubs
  ASSERT_EQ(types[1], types[2]);
  std::vector<std::string> rows = testsupport::AllRows(engine, details);
  EXPECT_EQ(int(rows.size()), types[0] + types[1]);
  // Its columns are ID, then those of Order Details, then a rowversion.
  std::vector<std::string> values;
  for (const std::string& row : rows) {
    const size_t id = row.find("$#$");
    const size_t version = row.rfind("<binary data>$#$");
    ASSERT_NE(version, std::string::npos) << row;
    values.push_back(row.substr(id + 3, version - id - 3));
  }
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, ScriptTexts(NorthwindTables()[2]));
}

TEST(PreviewFixtures, ScanFileOfABackupHasNoRows) {
  REQUIRE_FIXTURE(path, "bak2008_northwind_thuyluv.bak");
  ModuleFolderScope scope;
  TempDir dir;
  const std::string scanFile = dir.file("northwind.str");
  {
    CSQLServer2008 engine;
    ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
    ASSERT_TRUE(engine.SaveScanFile(scanFile.c_str()));
  }
  CSQLServer2008 loaded;
  CArchive ar;
  ASSERT_TRUE(ar.Open(scanFile.c_str(), CArchive::load));
  CString magic, version;
  ar >> magic;
  ar >> version;
  loaded.FreeRecoveredObjects();
  loaded.LoadScanInfo(ar);
  CTable* orders = testsupport::FindTable(loaded, "Orders");
  ASSERT_NE(orders, nullptr);
  ASSERT_FALSE(orders->m_vecDataPages.empty());
  testsupport::Preview preview(loaded);
  PreviewWindow w = preview.Select(orders);
  EXPECT_TRUE(w.finished);
  EXPECT_TRUE(w.rows.empty());
  EXPECT_TRUE(w.lastWindow);
  EXPECT_NE(scope.ReadExecLog().find("Record preview of [dbo].[Orders]: no rows"), std::string::npos);
}

// Every table of every fixture, previewed to its last window: each window finishes, and each
// row has one value per column.
TEST(PreviewFixtures, EveryTableOfEveryFixture) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  const char* files[] = {"bak2005_northwind_gabrujo.bak",  "bak2005_northwnd_mina.bak",
                         "bak2005_stdb2sql_2sets.bak",     "bak2008_library_small.bak",
                         "bak2008_northwind_512blk.bak",   "bak2008_northwind_thuyluv.bak",
                         "bak2008r2_entrepot_fr.bak",      "bak2008r2_northwind_victor.bak",
                         "bak2012_diff_6sets_2dbs.bak",    "bak2014_northwind_noboot.bak",
                         "bak_compressed_northwind.bak",   "mdf2005_pubs_upg2000.mdf",
                         "mdf2005pre_database_sp_v590.mdf", "mdf2005pre_prosseappsch07_v607.mdf",
                         "mdf2008_qlsinhvien.mdf",         "mdf2008_pubs_itsligo.mdf",
                         "mdf2008_northwnd_itsligo.mdf",   "mdf2008r2_northwnd_upg2000.mdf"};
  size_t totalRows = 0;
  for (const char* name : files) {
    const std::string path = testsupport::FixturePath(name);
    if (path.empty()) continue;
    SCOPED_TRACE(name);
    ModuleFolderScope scope;
    CSQLServer2008 engine;
    testsupport::RunRecovery(engine, path);
    ASSERT_FALSE(engine.m_bBusy);
    for (const auto& entry : engine.m_mapTables) {
      CTable* table = entry.second;
      int windows = 0;
      std::vector<std::string> rows = testsupport::AllRows(engine, table, &windows);
      SCOPED_TRACE(table->m_strName.str());
      ASSERT_TRUE(engine.m_bLastWindow);
      EXPECT_EQ(windows, std::max<int>(1, int((rows.size() + 499) / 500)));
      const size_t values = size_t(RecordPlan(*table).ValueCount());
      for (const std::string& row : rows) {
        size_t separators = 0;
        for (size_t p = row.find("$#$"); p != std::string::npos; p = row.find("$#$", p + 3)) ++separators;
        ASSERT_GE(separators, values) << row;
      }
      totalRows += rows.size();
    }
  }
  EXPECT_GT(totalRows, 0u);
}
