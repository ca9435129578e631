// Row export: the literal of every type, NULL, empty and marker-like values, the large-value
// scripts (ntext chunks, Blob files, hex chunks on a connection) with the identity switch,
// delivery and counts on a connection, the export walks over a table's pages (deleted rows,
// stop, failed writes, several walks at once), and whole exports of the real fixtures compared
// value by value with the public Northwind and pubs install scripts.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/page.h"
#include "common/records.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "dll/pellwyn2008/record.h"
#include "platform/database.h"
#include "platform/files.h"
#include "platform/module.h"
#include "record_builder.h"
#include "support/fakedatabase.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "support/oraclerows.h"
#include "support/quietexportsink.h"
#include "support/tsqllexer.h"
#include "synthetic_pages.h"

namespace fs = std::filesystem;
using namespace recordtest;
using testsupport::FakeDatabase;
using testsupport::LexSqlBatch;
using testsupport::ModuleFolderScope;
using testsupport::ReadFile;
using testsupport::SplitSqlBatches;
using testsupport::SqlToken;
using testsupport::TempDir;
using namespace testsupport::oraclerows;

namespace {

const std::string kGo = "\r\ngo\r\n";

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Decimal(bool positive, unsigned __int128 magnitude, size_t bytes) {
  Bytes b = {BYTE(positive ? 1 : 0)};
  for (size_t i = 0; i < bytes; ++i) b.push_back(BYTE(magnitude >> (8 * i)));
  return b;
}

// What a script batch is made of, or why it is not T-SQL.
std::string LexError(const std::string& script) {
  for (const std::string& batch : SplitSqlBatches(script)) {
    testsupport::SqlLexResult r = LexSqlBatch(batch);
    if (!r.ok()) return r.error + "\n" + batch.substr(0, 400);
  }
  return std::string();
}

// A table of its own and an engine whose table script file the test reads.
class ExportTest : public ::testing::Test {
 protected:
  ModuleFolderScope m_module;  // before the engine, so its log goes to the test's folder
  TempDir m_dir;
  CSQLServer2008 m_engine;
  std::string m_scriptPath = m_dir.file("T.sql");
  size_t m_read = 0;

  void SetUp() override { m_engine.m_hTableSqlFile = CreateFileForWrite(m_scriptPath.c_str()); }
  void TearDown() override { CloseFileHandle(m_engine.m_hTableSqlFile); }

  // What the script file received since the last call.
  std::string Written() {
    const std::string all = ReadFile(m_scriptPath);
    std::string fresh = all.substr(std::min(m_read, all.size()));
    m_read = all.size();
    return fresh;
  }
  // One record exported by a direct call; returns its result.
  WORD Export(CTable& table, const Bytes& record, CDatabase* db = nullptr, CString* batch = nullptr) {
    Bytes page = DataPage(1, 1, {record});
    CString local;
    bool full = false;
    return m_engine.ExportTableRecord(page.data() + kPageHeaderSize, 0, &table, db, batch ? batch : &local, &full);
  }
  std::string Log() const { return m_module.ReadExecLog(); }
};

// The value list of a script-mode statement of one row ("" when the row was not written).
std::string ValuesOf(const std::string& statement) {
  const size_t at = statement.find(" values(");
  const size_t end = statement.rfind(')');
  if (at == std::string::npos || end == std::string::npos || end < at) return statement;
  return statement.substr(at + 8, end - at - 8);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Literals

TEST_F(ExportTest, FixedLengthLiteralsByType) {
  unsigned __int128 nines = 1;
  for (int i = 0; i < 38; ++i) nines *= 10;
  nines -= 1;
  struct Case {
    const char* type;
    WORD length;
    BYTE precision;
    BYTE scale;
    Bytes value;
    std::string literal;  // "" = the column is left out
  } cases[] = {
      {"int", 4, 10, 0, LE(42, 4), "42"},
      {"int", 4, 10, 0, LE(0xFFFFFFFF, 4), "-1"},
      {"tinyint", 1, 3, 0, LE(255, 1), "255"},
      {"smallint", 2, 5, 0, LE(0xFFFF, 2), "-1"},
      {"bigint", 8, 19, 0, LE(std::uint64_t(-5), 8), "-5"},
      {"decimal", 5, 3, 1, Decimal(true, 123, 4), "12.3"},
      {"decimal", 5, 3, 1, Decimal(false, 123, 4), "-12.3"},
      {"decimal", 5, 3, 1, Decimal(true, 1, 4), "00.1"},
      {"decimal", 5, 3, 1, Decimal(false, 1, 4), "-0.1"},
      {"numeric", 5, 5, 0, Decimal(true, 7, 4), "00007"},
      // Beyond 18 digits the value is still exact.
      {"decimal", 17, 38, 0, Decimal(true, nines, 16), std::string(38, '9')},
      {"money", 8, 19, 4, LE(123, 8), "000000000000000.0123"},
      {"money", 8, 19, 4, LE(std::uint64_t(-123), 8), "-000000000000000.0123"},
      {"smallmoney", 4, 10, 4, LE(std::uint32_t(-123), 4), "-000000.0123"},
      // datetime and smalldatetime go as their bytes, most significant first: exact.
      {"datetime", 8, 23, 3, Bytes{0, 0, 0, 0, 0x5B, 0x95, 0, 0}, "CONVERT(datetime, 0x0000955b00000000)"},
      {"smalldatetime", 4, 16, 0, Concat(LE(1, 2), LE(61, 2)), "CONVERT(smalldatetime, 0x003d0001)"},
      {"date", 3, 10, 0, LE(0, 3), "'0001-01-01'"},
      {"time", 5, 16, 7, LE(36000000000ull, 5), "'01:00:00.0000000'"},
      {"datetime2", 7, 23, 3, Concat(LE(3723456, 4), LE(730119, 3)), "'2000-01-01 01:02:03.456'"},
      {"datetimeoffset", 8, 26, 0, Concat(Concat(LE(0, 3), LE(730119, 3)), LE(std::uint16_t(-90), 2)),
       "'1999-12-31 22:30:00 -01:30'"},
      // At the ends of the range the local time would fall on year 0 or 10000: the UTC time,
      // moved to the offset.
      {"datetimeoffset", 8, 26, 0, Concat(Concat(LE(0, 3), LE(0, 3)), LE(std::uint16_t(-60), 2)),
       "SWITCHOFFSET(CONVERT(datetimeoffset(0), '0001-01-01 00:00:00 +00:00'), '-01:00')"},
      {"datetimeoffset", 8, 26, 0, Concat(Concat(LE(84600, 3), LE(3652058, 3)), LE(60, 2)),
       "SWITCHOFFSET(CONVERT(datetimeoffset(0), '9999-12-31 23:30:00 +00:00'), '+01:00')"},
      {"datetimeoffset", 10, 34, 7, Concat(Concat(LE(0, 5), LE(3652058, 3)), LE(840, 2)),
       "'9999-12-31 14:00:00.0000000 +14:00'"},
      {"char", 5, 0, 0, Ascii(std::string("ab\0\0\0", 5)), "'ab'"},
      {"char", 5, 0, 0, Bytes(5, 0), "''"},
      {"char", 9, 0, 0, Ascii("O'Brien  "), "'O''Brien  '"},
      {"nchar", 6, 0, 0, Utf16("AB "), "CONVERT(nvarchar(3),0x410042002000)"},
      {"binary", 2, 0, 0, Bytes{0x0A, 0xFF}, "0x0aff"},
      {"uniqueidentifier", 16, 0, 0,
       Bytes{0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF},
       "'{00112233-4455-6677-8899-AABBCCDDEEFF}'"},
      {"real", 4, 24, 0, LE(0x3FC00000, 4), "1.5E0"},
      {"float", 8, 53, 0, LE(0x3FB999999999999Aull, 8), "0.1E0"},
      // The server fills a timestamp itself; a type without a name has no literal.
      {"timestamp", 8, 0, 0, LE(0x7D1, 8), ""},
      {"", 3, 0, 0, Bytes{1, 2, 3}, ""},
  };
  for (const Case& c : cases) {
    CTable table;
    TableBuilder b(table);
    b.Fixed("c", c.type, c.length, true, c.precision, c.scale);
    RecordParts s;
    s.statusA = 0x10;
    s.Set(4, c.value);
    s.fixed.resize(4 + c.length);
    s.columnCount = 1;
    Export(table, BuildRecord(s));
    const std::string expected = c.literal.empty() ? "Insert into [dbo].[T] DEFAULT VALUES\r\n"
                                                   : "Insert into [dbo].[T] ([c])  values(" + c.literal + ")\r\n";
    EXPECT_EQ(Written(), expected) << c.type << "(" << int(c.precision) << "," << int(c.scale) << ")";
  }
}

TEST_F(ExportTest, RealValuesReadBackToTheSameBits) {
  CTable table;
  TableBuilder b(table);
  b.Fixed("r", "real", 4, false);
  b.Fixed("f", "float", 8, false, 53);
  // Patterns below 2^-95, denormals, the largest values, and a spread of ordinary ones.
  std::vector<std::uint32_t> reals = {0x0FFFFFFF, 0x00000001, 0x007FFFFF, 0x7F7FFFFF, 0xFF7FFFFF, 0x3DCCCCCD, 0x80000000};
  for (std::uint32_t x = 0x00012345; x < 0x7F000000; x += 0x00F0F0F1) reals.push_back(x);
  for (std::uint32_t bits : reals) {
    const double d = double(std::bit_cast<float>(bits)) * 3.0000001;
    RecordParts s;
    s.statusA = 0x10;
    s.Set(4, LE(bits, 4));
    s.Set(8, LE(std::bit_cast<std::uint64_t>(d), 8));
    s.columnCount = 2;
    Export(table, BuildRecord(s));
    const std::string values = ValuesOf(Written());
    const size_t comma = values.find(',');
    ASSERT_NE(comma, std::string::npos) << values;
    // A server reads a float literal as a double and narrows it for a real column.
    const float r = float(std::strtod(values.substr(0, comma).c_str(), nullptr));
    const double f = std::strtod(values.substr(comma + 1).c_str(), nullptr);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(r), bits) << values;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(f), std::bit_cast<std::uint64_t>(d)) << values;
  }
}

TEST_F(ExportTest, NullEmptyAndMarkerLikeValuesStayThemselves) {
  CTable table;
  TableBuilder b(table);
  b.Variable("v1", "varchar", 20);
  b.Variable("v2", "varchar", 20);
  b.Variable("v3", "varchar", 20);
  b.Variable("v4", "varchar", 40);
  b.Variable("n1", "nvarchar", 20);
  b.Variable("n2", "nvarchar", 20);
  b.Variable("b1", "varbinary", 20);
  b.Variable("b2", "varbinary", 20);
  b.Variable("x", "xml", 0xFFFF);
  b.Computed("total", "int", "([q]+(1))");
  CColumn* dropped = b.Variable("gone", "varchar", 20);
  dropped->m_bDropped = 1;
  CColumn* q = b.Fixed("q", "int", 4);
  q->m_strDefault = "((5))";
  b.Variable("late", "varchar", 20, false);  // added after the row was written
  RecordParts s;
  s.Set(4, LE(0, 4));
  s.columnCount = 13;
  s.nullBits = {6, 8, 12};
  s.vars = {{Ascii("NULL")}, {Ascii("a$#$b")}, {Ascii("O'Brien")}, {Ascii("x\r\ngo\r\ny")}, {},  {},
            {},              {},              {Ascii("<a/>")},    {Ascii("old")}};
  const WORD end = Export(table, BuildRecord(s));
  EXPECT_EQ(end, BuildRecord(s).size());
  const std::string written = Written();
  // A NULL stays NULL (not q's default), an empty value stays empty, a text that reads like a
  // marker or holds the row separator is itself; a line "go" inside a value cannot end a batch.
  EXPECT_EQ(written,
            "Insert into [dbo].[T] ([v1],[v2],[v3],[v4],[n1],[n2],[b1],[b2],[q],[late])  values('NULL','a$#$b',"
            "'O''Brien',CONVERT(varchar(8),0x780d0a676f0d0a79),'',NULL,0x,NULL,NULL,'')\r\n");
  EXPECT_EQ(LexError(written), "");
  EXPECT_EQ(SplitSqlBatches(written).size(), 1u);
}

TEST_F(ExportTest, NationalTextKeepsItsFullLength) {
  CTable table;
  TableBuilder b(table);
  b.Variable("short", "nvarchar", 40);
  b.Variable("long", "nvarchar", 0xFFFF);
  RecordParts s;
  s.columnCount = 2;
  s.vars = {{Utf16("Hi")}, {Utf16(std::string(3990, 'z'))}};
  Export(table, BuildRecord(s));
  const std::string values = ValuesOf(Written());
  EXPECT_EQ(values.substr(0, 40), "CONVERT(nvarchar(20),0x48006900),CONVERT");
  // nvarchar(max) is never squeezed into nvarchar(4000).
  EXPECT_EQ(values.substr(33, 24), "CONVERT(nvarchar(max),0x");
}

TEST_F(ExportTest, SqlVariantGoesThroughItsBaseType) {
  CTable table;
  TableBuilder b(table);
  b.Variable("v", "sql_variant", 8016);
  struct Case {
    Bytes stored;
    std::string literal;
  } cases[] = {
      {Concat(Bytes{56, 1}, LE(42, 4)), "CAST(42 AS int)"},
      {Concat(Bytes{106, 1, 5, 2}, Decimal(true, 150, 4)), "CAST(001.50 AS decimal(5,2))"},
      {Concat(Concat(Bytes{231, 1}, LE(10, 2)), Concat(LE(0x3401D008, 4), Utf16("Hi"))),
       "CAST(CONVERT(nvarchar(5),0x48006900) AS nvarchar(5))"},
      {Concat(Concat(Bytes{167, 1}, LE(8, 2)), Concat(LE(0x3401D008, 4), Ascii("it's"))),
       "CAST('it''s' AS varchar(8))"},
      {Concat(Bytes{61, 1}, Bytes{0, 0, 0, 0, 0x5B, 0x95, 0, 0}), "CAST(CONVERT(datetime, 0x0000955b00000000) AS datetime)"},
      {Concat(Concat(Bytes{165, 1}, LE(4, 2)), Bytes{0xDE, 0xAD}), "CAST(0xdead AS varbinary(4))"},
  };
  for (const Case& c : cases) {
    RecordParts s;
    s.columnCount = 1;
    s.vars = {{c.stored}};
    Export(table, BuildRecord(s));
    EXPECT_EQ(ValuesOf(Written()), c.literal);
  }
  // A base type this exporter does not know is left out, not guessed.
  RecordParts s;
  s.columnCount = 1;
  s.vars = {{Bytes{0xF0, 1, 9, 9}}};
  Export(table, BuildRecord(s));
  EXPECT_EQ(Written(), "Insert into [dbo].[T] DEFAULT VALUES\r\n");
}

// ---------------------------------------------------------------------------------------
// Records the decoder refuses, and the stop flag

TEST_F(ExportTest, RecordsThatAreNoRowsAndTheStopFlag) {
  CTable table;
  TableBuilder b(table);
  b.Fixed("id", "int", 4, false);
  b.Variable("name", "varchar", 20);
  RecordParts s;
  s.Set(4, LE(1, 4));
  s.columnCount = 2;
  s.vars = {{Ascii("a")}};
  const Bytes row = BuildRecord(s);
  const int processed = m_engine.m_pStatus->m_nRecordsProcessed;
  ResetEvent(m_engine.m_pStatus->m_hRecordEvent);

  // The result is the end of the record, so a walk can find a record after it.
  EXPECT_EQ(Export(table, row), row.size());
  EXPECT_EQ(Written(), "Insert into [dbo].[T] ([id],[name])  values(1,'a')\r\n");

  Bytes stub = row, ghost = row, tooMany = row;
  stub[0] = 0x34;
  ghost[0] = 0x3C;
  Put(tooMany, 8, 1001, 2);
  EXPECT_EQ(Export(table, Bytes(12, 0)), 0);
  EXPECT_EQ(Export(table, stub), 0);
  EXPECT_EQ(Export(table, ghost), 0);
  EXPECT_EQ(Export(table, tooMany), 0);
  Bytes page = DataPage(1, 1, {row});
  CString batch;
  bool full = false;
  EXPECT_EQ(m_engine.ExportTableRecord(page.data() + kPageHeaderSize, kPageBodySize, &table, nullptr, &batch, &full), 0);
  EXPECT_EQ(Written(), "");
  // A deleted row is a row when deleted rows are wanted.
  m_engine.m_bRecoverDeleted = 1;
  EXPECT_EQ(Export(table, ghost), row.size());
  EXPECT_EQ(Written(), "Insert into [dbo].[T] ([id],[name])  values(1,'a')\r\n");
  EXPECT_EQ(m_engine.m_pStatus->m_nRecordsProcessed - processed, 2);
  EXPECT_EQ(table.m_nRowsExported, 2);

  // Rows count as processed without touching "RecordEvent", the census hand-shake.
  EXPECT_FALSE(IsEventSet(m_engine.m_pStatus->m_hRecordEvent));

  m_engine.m_pStatus->m_bStopRecords = 1;
  m_engine.m_pStatus->m_bRecordThreadDone = 0;
  EXPECT_EQ(Export(table, row), 0);
  EXPECT_EQ(m_engine.m_pStatus->m_bRecordThreadDone, 1);
  EXPECT_EQ(Written(), "");
  EXPECT_EQ(m_engine.m_pStatus->m_nRecordsProcessed - processed, 2);
}

// ---------------------------------------------------------------------------------------
// Identity and large values

namespace {

// A plain database file holding a table's data page (page 1) and a 20,000-byte value on the
// text pages 2 to 5: three data records, and a root (page 5) that a text pointer names.
struct LargeValueFile {
  static constexpr DWORD kStamp = 0x2A;
  std::string value;  // the value's bytes: UTF-16 text
  synthpages::PageFile file;
  explicit LargeValueFile(size_t bytes = 20000) {
    std::string text;
    for (size_t i = 0; text.size() < bytes / 2; ++i) text += char('a' + i % 26);
    value = synthpages::Str(synthpages::Utf16(text));
    value.resize(bytes);
    std::vector<synthpages::Link> links;
    DWORD page = 2;
    for (size_t at = 0; at < value.size(); at += 8000, ++page) {
      const std::string fragment = value.substr(at, 8000);
      file.At(page, kPageTextMix).Add(synthpages::LobData(kStamp, synthpages::Bytes(fragment.begin(), fragment.end())));
      links.push_back({page, 0, DWORD(at + fragment.size())});
    }
    file.At(page, kPageTextMix).Add(synthpages::LobRoot(kStamp, links));
    m_rootPage = page;
    for (const auto& l : links) m_entries.push_back({l.end, l.page, l.slot});
  }
  Bytes TextPointer() const { return synthpages::TextPointer(kStamp, m_rootPage, 0); }
  Bytes InlineRoot() const { return synthpages::InlineRoot(kStamp, m_entries); }
  void Write(CSQLServer2008& engine, const TempDir& dir, const std::vector<Bytes>& rows) {
    synthpages::Page& data = file.At(1, kPageData, 77);
    for (const Bytes& r : rows) data.Add(synthpages::Bytes(r.begin(), r.end()));
    synthpages::UsePlainFile(engine, file.Write(dir));
  }
  DWORD m_rootPage = 0;
  std::vector<synthpages::Entry> m_entries;
};

// id int identity, notes ntext, pic image, doc varbinary(max), big nvarchar(max): every large
// value of the row is the file's value.
void LargeValueTable(CTable& table, RecordParts& s, const LargeValueFile& f) {
  TableBuilder b(table);
  CColumn* id = b.Fixed("id", "int", 4, false);
  id->m_bIdentity = true;
  table.m_bHasIdentity = true;
  b.Variable("notes", "ntext", 16);
  b.Variable("pic", "image", 16);
  b.Variable("doc", "varbinary", 0xFFFF);
  b.Variable("big", "nvarchar", 0xFFFF);
  s.Set(4, LE(7, 4));
  s.columnCount = 5;
  s.vars = {{f.TextPointer(), true}, {f.TextPointer(), true}, {f.InlineRoot(), true}, {f.InlineRoot(), true}};
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

std::vector<size_t> ChunkSizes(const std::string& script, const std::string& lead) {
  std::vector<size_t> sizes;
  for (size_t p = script.find(lead); p != std::string::npos; p = script.find(lead, p + 1)) {
    const size_t start = p + lead.size();
    size_t end = start;
    while (end < script.size() && std::isxdigit(static_cast<unsigned char>(script[end]))) ++end;
    sizes.push_back(end - start);
  }
  return sizes;
}

}  // namespace

namespace {
bool PureAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return BYTE(c) < 0x80; });
}
}  // namespace

// 8-bit text whose bytes are not all printable ASCII goes as its stored bytes, so the script
// or batch means the same in any client code page and the server stores those bytes.
TEST_F(ExportTest, EightBitTextGoesAsItsStoredBytes) {
  const struct {
    const char* type;
    bool fixed;
    WORD length;
    Bytes stored;
    std::string literal;
  } cases[] = {
      {"varchar", false, 20, Ascii("Am\xe9rique"), "CONVERT(varchar(8),0x416de97269717565)"},
      {"varchar", false, 20, Ascii("\xff"), "CONVERT(varchar(1),0xff)"},
      {"varchar", false, 20, Ascii("del\x7f"), "CONVERT(varchar(4),0x64656c7f)"},
      {"varchar", false, 20, Ascii("a\tb 'q' ~"), "'a\tb ''q'' ~'"},
      {"char", true, 6, Ascii(std::string("caf\xe9\0\0", 6)), "CONVERT(varchar(4),0x636166e9)"},
      {"sql_variant", false, 8016, Concat(Concat(Bytes{167, 1}, LE(8, 2)), Concat(LE(0x3401D008, 4), Ascii("\xe9t\xe9"))),
       "CAST(CONVERT(varchar(3),0xe974e9) AS varchar(8))"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.literal);
    CTable table;
    TableBuilder b(table);
    RecordParts s;
    s.columnCount = 1;
    if (c.fixed) {
      b.Fixed("c", c.type, c.length);
      s.statusA = 0x10;
      s.Set(4, c.stored);
    } else {
      b.Variable("c", c.type, c.length);
      s.vars = {{c.stored}};
    }
    Export(table, BuildRecord(s));
    const std::string written = Written();
    EXPECT_EQ(ValuesOf(written), c.literal);
    EXPECT_TRUE(PureAscii(written));
  }

  // Up to 8000 bytes the value stays in the row, its length spelled out as varchar(n) takes;
  // beyond, the row holds '' and the value follows in pieces.
  for (size_t bytes : {size_t(8000), size_t(8001)}) {
    LargeValueFile f(bytes);
    CTable table;
    TableBuilder(table).Variable("doc", "varchar", 0xFFFF);
    RecordParts s;
    s.columnCount = 1;
    s.vars = {{f.InlineRoot(), true}};
    f.Write(m_engine, m_dir, {BuildRecord(s)});
    Bytes page(kPageSize);
    ASSERT_TRUE(m_engine.ReadSourcePage(1, page.data()));
    CString batch;
    bool full = false;
    ASSERT_NE(m_engine.ExportTableRecord(page.data() + kPageHeaderSize, 0, &table, nullptr, &batch, &full), 0);
    const std::string written = Written();
    EXPECT_EQ(written.find("(max)"), std::string::npos);
    if (bytes <= 8000) {
      const std::string values = ValuesOf(written);
      const std::string lead = "CONVERT(varchar(8000),0x";
      ASSERT_EQ(values.substr(0, lead.size()), lead);
      EXPECT_EQ(FromHex(values.substr(lead.size(), values.size() - lead.size() - 1)), f.value);
    } else {
      EXPECT_NE(written.find("values('', @_ID)"), std::string::npos);
      EXPECT_EQ(ChunkSizes(written, "SET [doc].WRITE(CONVERT(varchar(8000),0x"), (std::vector<size_t>{15996, 6}));
      testsupport::oraclerows::TableRows rows;
      testsupport::oraclerows::ReadOurRows(written, rows);
      ASSERT_EQ(rows.rows["T"].size(), 1u);
      EXPECT_EQ(rows.rows["T"][0]["doc"].v, f.value);
    }
  }
}

// The longest line of a text, line ends not counted.
size_t LongestLine(const std::string& text) {
  size_t longest = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    longest = std::max(longest, end - at);
    at = end + 1;
  }
  return longest;
}

TEST_F(ExportTest, LargeValueScriptWithIdentityInAScript) {
  LargeValueFile f;
  CTable table;
  RecordParts s;
  LargeValueTable(table, s, f);
  f.Write(m_engine, m_dir, {BuildRecord(s)});

  Bytes page(kPageSize);
  ASSERT_TRUE(m_engine.ReadSourcePage(1, page.data()));
  CString batch;
  bool full = false;
  ASSERT_NE(m_engine.ExportTableRecord(page.data() + kPageHeaderSize, 0, &table, nullptr, &batch, &full), 0);
  const std::string script = Written();
  EXPECT_EQ(LexError(script), "");
  // The row's batch, then the batch that switches XACT_ABORT and the identity off again, so
  // a refused row leaves neither on for the rows after it.
  EXPECT_EQ(SplitSqlBatches(script).size(), 3u);
  const std::string head =
      "SET IDENTITY_INSERT [dbo].[T] ON\r\nSET XACT_ABORT ON \r\nbegin transaction \r\nDeclare @_ID Uniqueidentifier \r\n Declare @NTEXT "
      "NVarchar(4000) \r\n Declare @PTR VarBinary(16) \r\n Set @_ID = NewId() \r\nInsert into [dbo].[T] "
      "([id],[notes],[pic],[doc],[big],[_TARNWELL_TEMPCOL])  values(7,'',0x,0x,'', @_ID)\r\n\r\n";
  EXPECT_EQ(script.substr(0, head.size()), head);
  EXPECT_NE(script.find("Select @PTR = TEXTPTR([notes]) from [dbo].[T] where [_TARNWELL_TEMPCOL] = @_ID "
                        "\r\n SET @NTEXT = Convert(nvarchar(4000),0x"),
            std::string::npos);
  // 40,000 hex characters of ntext: three chunks, each appended to the value; the image, the
  // varbinary(max) and the nvarchar(max) the same way, in their own forms.
  const std::vector<size_t> pieces{15996, 15996, 8008};
  EXPECT_EQ(ChunkSizes(script, "SET @NTEXT = Convert(nvarchar(4000),0x"), pieces);
  EXPECT_EQ(Count(script, "Updatetext [dbo].[T].[notes] @PTR NULL 0 @NTEXT \r\n"), 3u);
  EXPECT_NE(script.find("Select @PTR = TEXTPTR([pic]) from [dbo].[T] where [_TARNWELL_TEMPCOL] = @_ID \r\n "),
            std::string::npos);
  EXPECT_EQ(ChunkSizes(script, "Updatetext [dbo].[T].[pic] @PTR NULL 0 0x"), pieces);
  EXPECT_EQ(ChunkSizes(script, "UPDATE [dbo].[T] SET [doc].WRITE(0x"), pieces);
  EXPECT_EQ(ChunkSizes(script, "UPDATE [dbo].[T] SET [big].WRITE(CONVERT(nvarchar(4000),0x"), pieces);
  EXPECT_EQ(Count(script, ",NULL,0) where [_TARNWELL_TEMPCOL] = @_ID \r\n"), 6u);
  // Nothing the server would have to read from a disk, and no line longer than a piece's.
  EXPECT_EQ(script.find("OPENROWSET"), std::string::npos);
  EXPECT_LT(LongestLine(script), 16100u);
  const std::string tail =
      "commit transaction\r\ngo\r\nSET XACT_ABORT OFF\r\nSET IDENTITY_INSERT [dbo].[T] OFF\r\ngo\r\n";
  EXPECT_EQ(script.substr(script.size() - tail.size()), tail);
  // Read back, every value is whole.
  testsupport::oraclerows::TableRows rows;
  testsupport::oraclerows::ReadOurRows(script, rows);
  ASSERT_EQ(rows.rows["T"].size(), 1u);
  auto& row = rows.rows["T"][0];
  const std::string narrow = testsupport::oraclerows::Utf16Text(f.value);
  EXPECT_EQ(row["notes"].v, narrow);
  EXPECT_EQ(row["pic"].v, f.value);
  EXPECT_EQ(row["doc"].v, f.value);
  EXPECT_EQ(row["big"].v, narrow);
  EXPECT_EQ(row["pic"].kind, testsupport::oraclerows::Value::kBinary);
}

TEST_F(ExportTest, LargeValuesTravelOverTheConnectionInAServerExport) {
  LargeValueFile f(10000);
  CTable table;
  RecordParts s;
  LargeValueTable(table, s, f);
  f.Write(m_engine, m_dir, {BuildRecord(s)});
  table.m_strBlobFolder = m_dir.file("Blob_T").c_str();
  ASSERT_TRUE(CreateDirectoryPath(table.m_strBlobFolder));
  m_engine.m_bExportToServer = 1;
  FakeDatabase db;
  Bytes page(kPageSize);
  ASSERT_TRUE(m_engine.ReadSourcePage(1, page.data()));
  CString batch = "stale";
  bool full = false;
  const int sent = m_engine.m_pStatus->m_nRecordsSent;
  ASSERT_NE(m_engine.ExportTableRecord(page.data() + kPageHeaderSize, 0, &table, &db, &batch, &full), 0);
  ASSERT_EQ(db.Statements().size(), 1u);
  const std::string sql = db.Statements()[0];
  // Any failed piece rolls the whole row back.
  EXPECT_EQ(sql.rfind("SET IDENTITY_INSERT [dbo].[T] ON \r\nSET XACT_ABORT ON \r\nbegin transaction \r\n", 0), 0u);
  EXPECT_NE(sql.find("values(7,'',0x,0x,CONVERT(nvarchar(max),0x"), std::string::npos);
  EXPECT_NE(sql.find(",@_ID);\r\n"), std::string::npos);
  // No path the server would have to read, and no "go", which a server does not know.
  EXPECT_EQ(sql.find("OPENROWSET"), std::string::npos);
  EXPECT_EQ(SplitSqlBatches(sql).size(), 1u);
  EXPECT_EQ(LexError(sql), "");
  EXPECT_TRUE(fs::is_empty(table.m_strBlobFolder.str()));
  // The image in UPDATETEXT chunks through its text pointer, the varbinary(max) with .WRITE.
  std::string pic, doc;
  const std::string picLead = "Updatetext [dbo].[T].[pic] @PTR NULL 0 0x";
  const std::string docLead = "UPDATE [dbo].[T] SET [doc].WRITE(0x";
  for (size_t p = sql.find(picLead); p != std::string::npos; p = sql.find(picLead, p + 1))
    pic += FromHex(sql.substr(p + picLead.size(), sql.find(' ', p + picLead.size()) - p - picLead.size()));
  for (size_t p = sql.find(docLead); p != std::string::npos; p = sql.find(docLead, p + 1))
    doc += FromHex(sql.substr(p + docLead.size(), sql.find(',', p) - p - docLead.size()));
  EXPECT_EQ(pic, f.value);
  EXPECT_EQ(doc, f.value);
  EXPECT_NE(sql.find("Select @PTR = TEXTPTR([pic]) from [dbo].[T] where"), std::string::npos);
  EXPECT_EQ(m_engine.m_pStatus->m_nRecordsSent - sent, 1);
  EXPECT_TRUE(batch.IsEmpty());
}

// A refused block stops at its error, before its own switch-off: the switch goes alone after
// it, or every identity row of the next table would be refused.
TEST_F(ExportTest, ARefusedLargeValueRowSwitchesTheIdentityOffAlone) {
  LargeValueFile f(10000);
  CTable table;
  RecordParts s;
  LargeValueTable(table, s, f);
  f.Write(m_engine, m_dir, {BuildRecord(s)});
  m_engine.m_bExportToServer = 1;
  FakeDatabase db;
  db.FailOnStatement(1);
  Bytes page(kPageSize);
  ASSERT_TRUE(m_engine.ReadSourcePage(1, page.data()));
  CString batch;
  bool full = false;
  m_engine.ExportTableRecord(page.data() + kPageHeaderSize, 0, &table, &db, &batch, &full);
  ASSERT_EQ(db.Statements().size(), 2u);
  EXPECT_EQ(db.Failed(), std::vector<int>{1});
  EXPECT_EQ(db.Statements()[0].rfind("SET IDENTITY_INSERT [dbo].[T] ON \r\nSET XACT_ABORT ON \r\n", 0), 0u);
  EXPECT_EQ(db.Statements()[1], "SET IDENTITY_INSERT [dbo].[T] OFF");
}

TEST_F(ExportTest, BlobNamesGoOnPastAHundredAndShortBinariesStayInTheirRow) {
  const std::string folder = m_dir.file("Blob_O'Brien");
  ASSERT_TRUE(CreateDirectoryPath(folder.c_str()));
  EXPECT_EQ(m_engine.GetFreeBlobFileName(folder.c_str()), folder + "/Blob1");
  for (int i = 1; i <= 3; ++i) testsupport::WriteFile(folder + "/Blob" + std::to_string(i), "x");
  EXPECT_EQ(m_engine.GetFreeBlobFileName(folder.c_str()), folder + "/Blob4");
  for (int i = 4; i <= 100; ++i) testsupport::WriteFile(folder + "/Blob" + std::to_string(i), "x");
  EXPECT_EQ(m_engine.GetFreeBlobFileName(folder.c_str()), folder + "/Blob101");

  CTable table;
  TableBuilder b(table, "O'Brien");
  b.Variable("b]in", "varbinary", 20, false);
  b.Variable("empty", "varbinary", 20);
  table.m_strBlobFolder = folder.c_str();
  RecordParts s;
  s.columnCount = 2;
  s.vars = {{Bytes{1, 2, 3}}, {}};
  Export(table, BuildRecord(s));
  const std::string script = Written();
  // The values are in the row; no file is written, whatever folder the table names.
  EXPECT_EQ(script, "Insert into [dbo].[O'Brien] ([b]]in],[empty])  values(0x010203,0x)\r\n");
  EXPECT_FALSE(fs::exists(folder + "/Blob101"));
  bool column = false;
  for (const SqlToken& t : LexSqlBatch(script).tokens) column = column || (t.kind == SqlToken::kName && t.text == "b]in");
  EXPECT_TRUE(column) << script;
}

TEST_F(ExportTest, IdentityRowsInScriptsAndOnAServer) {
  CTable table;
  TableBuilder b(table);
  b.Fixed("id", "int", 4, false)->m_bIdentity = true;
  table.m_bHasIdentity = true;
  b.Variable("name", "varchar", 20);
  auto row = [](int id) {
    RecordParts s;
    s.Set(4, LE(DWORD(id), 4));
    s.columnCount = 2;
    s.vars = {{Ascii("n" + std::to_string(id))}};
    return BuildRecord(s);
  };
  Export(table, row(1));
  EXPECT_EQ(Written(), "SET IDENTITY_INSERT [dbo].[T] ON" + kGo + "Insert into [dbo].[T] ([id],[name])  values(1,'n1')\r\n" +
                           kGo + "SET IDENTITY_INSERT [dbo].[T] OFF" + kGo);

  m_engine.m_bExportToServer = 1;
  FakeDatabase db;
  db.FailOnStatement(2);
  db.ThrowOtherOnStatement(3);
  const int sent = m_engine.m_pStatus->m_nRecordsSent;
  const int processed = m_engine.m_pStatus->m_nRecordsProcessed;
  table.m_nRowsExported = 0;
  CString batch;
  for (int id = 1; id <= 4; ++id) EXPECT_EQ(Export(table, row(id), &db, &batch), row(id).size());
  // Each row runs on its own; a failed row is logged and never sent again with the next one.
  const std::vector<std::string> expected = {
      "SET IDENTITY_INSERT [dbo].[T] ON Insert into [dbo].[T] ([id],[name])  values(1,'n1'); SET IDENTITY_INSERT [dbo].[T] OFF",
      "SET IDENTITY_INSERT [dbo].[T] ON Insert into [dbo].[T] ([id],[name])  values(2,'n2'); SET IDENTITY_INSERT [dbo].[T] OFF",
      "SET IDENTITY_INSERT [dbo].[T] ON Insert into [dbo].[T] ([id],[name])  values(3,'n3'); SET IDENTITY_INSERT [dbo].[T] OFF",
      "SET IDENTITY_INSERT [dbo].[T] ON Insert into [dbo].[T] ([id],[name])  values(4,'n4'); SET IDENTITY_INSERT [dbo].[T] OFF"};
  EXPECT_EQ(db.Statements(), expected);
  EXPECT_TRUE(batch.IsEmpty());
  EXPECT_EQ(m_engine.m_pStatus->m_nRecordsSent - sent, 2);
  EXPECT_EQ(table.m_nRowsExported, 2);
  EXPECT_EQ(m_engine.m_pStatus->m_nRecordsProcessed - processed, 4);
  const std::string log = Log();
  EXPECT_NE(log.find("Insert failed: SET IDENTITY_INSERT [dbo].[T] ON Insert into [dbo].[T] ([id],[name])  values(2,"),
            std::string::npos);
  EXPECT_NE(log.find("values(3,'n3'); SET IDENTITY_INSERT [dbo].[T] OFF | fake: not a database error"), std::string::npos);
  EXPECT_EQ(Written(), "");
}

TEST_F(ExportTest, IsValidTextPageSlot) {
  synthpages::PageFile file;
  for (int i = 0; i < 5; ++i) file.At(3, kPageTextMix).Add(synthpages::LobData(1, {1, 2}));
  file.At(4, kPageData).Add(synthpages::LobData(1, {1, 2}));
  synthpages::UsePlainFile(m_engine, file.Write(m_dir));
  EXPECT_TRUE(m_engine.IsValidTextPageSlot(3, 4));
  EXPECT_FALSE(m_engine.IsValidTextPageSlot(3, 5));
  EXPECT_FALSE(m_engine.IsValidTextPageSlot(4, 0));
  EXPECT_FALSE(m_engine.IsValidTextPageSlot(100000, 0));
}

// ---------------------------------------------------------------------------------------
// The export walks

namespace {

constexpr DWORD kObjectId = 4321;

// A table (id int, name varchar) whose pages lie in a plain database file.
struct WalkTable {
  TempDir dir;
  std::vector<Bytes> pages = {Bytes(kPageSize, 0)};
  CTable table;
  explicit WalkTable(const char* name = "T") {
    TableBuilder b(table, name);
    b.Fixed("id", "int", 4, false);
    b.Variable("name", "varchar", 40);
    table.m_dwObjectId = kObjectId;
  }
  static Bytes Row(int id, BYTE statusA = 0x30) {
    RecordParts s;
    s.statusA = statusA;
    s.Set(4, LE(DWORD(id), 4));
    s.columnCount = 2;
    s.vars = {{Ascii(FormatString("row%d", id).str())}};
    return BuildRecord(s);
  }
  static std::string Statement(int id) {
    return FormatString("Insert into [dbo].[%s] ([id],[name])  values(%d,'row%d')\r\n", "T", id, id).str();
  }
  DWORD AddPage(const std::vector<Bytes>& records, BYTE type = kPageData) {
    pages.push_back(DataPage(DWORD(pages.size()), kObjectId, records, type));
    return DWORD(pages.size() - 1);
  }
  std::vector<DWORD> AddRows(int first, int last, int perPage) {
    std::vector<DWORD> added;
    for (int id = first; id <= last; id += perPage) {
      std::vector<Bytes> records;
      for (int k = id; k < id + perPage && k <= last; ++k) records.push_back(Row(k));
      added.push_back(AddPage(records));
    }
    return added;
  }
  void Attach(CSQLServer2008& engine) {
    std::string bytes;
    for (const Bytes& p : pages) bytes.append(reinterpret_cast<const char*>(p.data()), p.size());
    const std::string path = dir.file("rows.mdf");
    testsupport::WriteFile(path, bytes);
    engine.m_strFilePath = path.c_str();
  }
};

std::string Statements(int first, int last) {
  std::string s;
  for (int id = first; id <= last; ++id) s += WalkTable::Statement(id);
  return s;
}

}  // namespace

TEST_F(ExportTest, WalkExportsEveryDataPageAndDeletedRowsOnlyWhenAsked) {
  WalkTable t;
  std::vector<DWORD> pages = t.AddRows(1, 250, 100);
  pages.insert(pages.begin() + 1, t.AddPage({WalkTable::Row(900)}, kPageTextMix));  // not a data page
  // A page holding a deleted row, and a record whose slot was zeroed when its row was deleted:
  // it starts where the record before it ends (body offset 300, page offset 396).
  RecordParts s;
  s.Set(4, LE(251, 4));
  s.fixed.resize(300 - 2 - 1 - 2 - 2 - 6);  // a fixed part that makes the record 300 bytes long
  s.columnCount = 2;
  s.vars = {{Ascii("row251")}};
  const Bytes first = BuildRecord(s);
  ASSERT_EQ(first.size(), 300u);
  const DWORD lastPage = DWORD(t.pages.size());
  t.pages.push_back(DataPage(lastPage, kObjectId, {first, WalkTable::Row(252, 0x3C)}));
  Put(t.pages.back(), kPageSize - 4, 0, 2);  // slot 1 zeroed
  pages.push_back(lastPage);
  t.table.m_vecDataPages = pages;
  t.table.m_vecFreedPages = t.AddRows(300, 301, 10);
  t.Attach(m_engine);

  const int processed = m_engine.m_pStatus->m_nRecordsProcessed;
  const long long pagesBefore = m_engine.m_pStatus->m_nExportPagesRead;
  m_engine.m_pStatus->m_bRecordThreadDone = 0;
  EXPECT_EQ(CSQLServer2008::RecoverTableRecordThread(&m_engine, &t.table, nullptr), 1u);
  EXPECT_EQ(m_engine.m_pStatus->m_bRecordThreadDone, 1);
  // Every page of the list counts for the export's progress, the one that is no data page too.
  EXPECT_EQ(m_engine.m_pStatus->m_nExportPagesRead - pagesBefore, (long long)pages.size());
  EXPECT_EQ(Written(), Statements(1, 251));
  EXPECT_EQ(t.table.m_nRowsExported, 251);
  EXPECT_EQ(m_engine.m_pStatus->m_nRecordsProcessed - processed, 251);
  EXPECT_NE(Log().find("Exported 251 rows of table [dbo].[T]"), std::string::npos);

  m_engine.m_bRecoverDeleted = 1;
  EXPECT_EQ(CSQLServer2008::RecoverTableRecordThread(&m_engine, &t.table, nullptr), 1u);
  EXPECT_EQ(Written(), Statements(1, 252) + Statements(300, 301));
  EXPECT_EQ(t.table.m_nRowsExported, 254);
}

// Deleted rows read soundly: a zeroed slot whose record starts after the stale tail of a
// shortened row, a zeroed slot over free space, ghosts and pages set aside; a deleted row
// whose primary key a live row (or an earlier recovered row) has is left out and logged. The
// preview lists exactly the rows the export writes, in its order.
TEST_F(ExportTest, DeletedRowsFitTheTableAreNeverCopiesAndPreviewAsExported) {
  WalkTable t;
  auto* key = new CIndexInfo;
  key->m_strName = "PK_T";
  key->m_bPrimaryKey = key->m_bUnique = key->m_bConstraint = 1;
  key->m_vecColumns = {0, 1};
  t.table.SetIndex("1", key);
  // Page 1: rows 1 and 2, the two stale bytes a shortened row left, deleted row 3 under a
  // zeroed slot, row 4.
  const DWORD first = t.AddPage({WalkTable::Row(1), WalkTable::Row(2), Concat({0x30, 0x00}, WalkTable::Row(3)),
                                 WalkTable::Row(4)});
  Put(t.pages[first], kPageSize - 6, 0, 2);
  // Page 2: row 5, a zeroed slot with nothing after row 5, and a ghost of row 1 (the same key).
  const DWORD second = t.AddPage({WalkTable::Row(5), Bytes(), WalkTable::Row(1, 0x3C)});
  Put(t.pages[second], kPageSize - 4, 0, 2);
  // A page set aside: a ghost of row 6, a leftover copy of row 2, row 7, and a ghost of a
  // recovered row.
  const DWORD freed = t.AddPage({WalkTable::Row(6, 0x3C), WalkTable::Row(2), WalkTable::Row(7), WalkTable::Row(6, 0x3C)});
  t.table.m_vecDataPages = {first, second};
  t.table.m_vecFreedPages = {freed};
  t.Attach(m_engine);

  EXPECT_EQ(CSQLServer2008::RecoverTableRecordThread(&m_engine, &t.table, nullptr), 1u);
  EXPECT_EQ(Written(), Statements(1, 2) + Statements(4, 5));
  m_engine.m_bRecoverDeleted = 1;
  EXPECT_EQ(CSQLServer2008::RecoverTableRecordThread(&m_engine, &t.table, nullptr), 1u);
  const std::string exported = Written();
  EXPECT_EQ(exported, Statements(1, 7));
  EXPECT_EQ(t.table.m_nRowsExported, 7);
  EXPECT_EQ(t.table.m_nDeletedRecovered, 3);
  EXPECT_EQ(t.table.m_nDeletedCopies, 3);
  const std::string log = Log();
  EXPECT_NE(log.find("Exported 7 rows of table [dbo].[T], 3 of them deleted rows recovered; 3 deleted rows left out "
                     "as copies, 1 that could not be read"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Deleted row of table [dbo].[T] left out as a copy: its key [id]=1 is that of a live row; its "
                     "values: 1, row1"),
            std::string::npos);
  EXPECT_NE(log.find("its key [id]=6 is that of another recovered row"), std::string::npos);
  EXPECT_NE(log.find("page 2 slot 1 is zeroed and no deleted row that fits the table was found for it"),
            std::string::npos);

  std::vector<std::string> shown;
  for (int id = 1; id <= 7; ++id) shown.push_back(FormatString("%d$#$row%d$#$", id, id).str());
  EXPECT_EQ(testsupport::AllRows(m_engine, &t.table), shown);
}

TEST_F(ExportTest, WalkRefusalsAndAScanWithoutItsBackup) {
  WalkTable t;
  t.table.m_vecDataPages = t.AddRows(1, 3, 10);
  t.Attach(m_engine);
  CTable empty;
  empty.m_strName = "E";
  for (CTable* table : {static_cast<CTable*>(nullptr), &empty}) {
    m_engine.m_pStatus->m_bRecordThreadDone = 0;
    EXPECT_EQ(CSQLServer2008::RecoverTableRecordThread(&m_engine, table, nullptr), 0u);
    EXPECT_EQ(m_engine.m_pStatus->m_bRecordThreadDone, 1);
  }
  m_engine.m_pStatus->m_bStopRecords = 1;
  EXPECT_EQ(CSQLServer2008::RecoverTableRecordThread(&m_engine, &t.table, nullptr), 0u);
  m_engine.m_pStatus->m_bStopRecords = 0;
  // A backup whose set is not located (a scan loaded from its file) has no pages to read.
  m_engine.m_strExtension = "bak";
  EXPECT_EQ(CSQLServer2008::RecoverTableRecordThread(&m_engine, &t.table, nullptr), 0u);
  EXPECT_EQ(Written(), "");
  EXPECT_NE(Log().find("Rows of table [dbo].[T] not exported: the scan was loaded without its backup"), std::string::npos);
}

namespace {

// A connection that asks the export to stop when it receives its n-th statement.
class StoppingDatabase : public FakeDatabase {
 public:
  StoppingDatabase(CEngineStatus* status, size_t n) : m_status(status), m_n(n) {}
  void ExecuteSQL(const char* sql) override {
    FakeDatabase::ExecuteSQL(sql);
    if (Statements().size() == m_n) m_status->m_bStopRecords = 1;
  }

 private:
  CEngineStatus* m_status;
  size_t m_n;
};

}  // namespace

TEST_F(ExportTest, WalkStopsAfterTheCurrentRowAndOnAFailedWrite) {
  WalkTable t;
  t.table.m_vecDataPages = t.AddRows(1, 30, 10);
  t.Attach(m_engine);
  m_engine.m_bExportToServer = 1;
  StoppingDatabase db(m_engine.m_pStatus, 12);
  EXPECT_EQ(CSQLServer2008::RecoverTableRecordThread(&m_engine, &t.table, &db), 0u);
  EXPECT_EQ(db.Statements().size(), 12u);
  EXPECT_EQ(t.table.m_nRowsExported, 12);
  EXPECT_EQ(db.Timeouts().back(), 1800u);
  m_engine.m_pStatus->m_bStopRecords = 0;

  // A full disk: the first failed write ends the table's export, which is reported failed.
  m_engine.m_bExportToServer = 0;
  CloseFileHandle(m_engine.m_hTableSqlFile);
  m_engine.m_hTableSqlFile = ::open("/dev/full", O_WRONLY);
  ASSERT_NE(m_engine.m_hTableSqlFile, kInvalidFile);
  EXPECT_EQ(CSQLServer2008::RecoverTableRecordThread(&m_engine, &t.table, nullptr), 0u);
  EXPECT_EQ(t.table.m_nRowsExported, 0);
  EXPECT_EQ(m_engine.FailedScriptWrites(), 1);
  EXPECT_NE(Log().find("Export of table [dbo].[T] failed: its script could not be written"), std::string::npos);
}

TEST_F(ExportTest, WalkLogsTheValuesItLeavesOutOrEmpties) {
  WalkTable t;
  CColumn* x = new CColumn;  // an xml column after the two of WalkTable
  x->m_strName = "doc";
  x->m_strType = x->m_strUserType = "xml";
  x->m_bNullable = true;
  x->m_wColOrder = 3;
  x->m_dwRowsetColumn = 3;
  x->m_nOffset = -2;
  x->m_bCatalogOffset = true;
  t.table.AppendColumn(x);
  ++t.table.m_nCatalogColumns;
  ++t.table.m_nAllColumns;
  // name takes no NULL: a row holding one there keeps '', and the log counts it.
  t.table.m_pColumnHead->m_pNext->m_bNullable = false;
  RecordParts s;
  s.Set(4, LE(1, 4));
  s.columnCount = 3;
  s.vars = {{Ascii("a")}, {Ascii("<x/>")}};
  // A record without a variable part holds NULL in each variable column.
  RecordParts nullName = s;
  nullName.statusA = 0x10;
  nullName.writeVarPart = false;
  nullName.vars.clear();
  t.table.m_vecDataPages = {t.AddPage({BuildRecord(s), BuildRecord(s), BuildRecord(nullName)})};
  t.Attach(m_engine);
  EXPECT_EQ(CSQLServer2008::RecoverTableRecordThread(&m_engine, &t.table, nullptr), 1u);
  EXPECT_EQ(Written(), "Insert into [dbo].[T] ([id],[name])  values(1,'a')\r\nInsert into [dbo].[T] ([id],[name])  values(1,'a')\r\n"
                       "Insert into [dbo].[T] ([id],[name])  values(1,'')\r\n");
  EXPECT_NE(Log().find("Table [dbo].[T]: 2 xml values left out (binary xml is not decoded)"), std::string::npos);
  EXPECT_NE(Log().find("Table [dbo].[T]: 1 NULL values of NOT NULL character columns written as ''"), std::string::npos);
}

TEST_F(ExportTest, PlainTableScriptPutsLargeValuesInline) {
  LargeValueFile f(600);
  CTable table;
  RecordParts s;
  LargeValueTable(table, s, f);
  f.Write(m_engine, m_dir, {BuildRecord(s)});
  table.m_vecDataPages = {1};
  table.m_strBlobFolder = m_dir.file("unused").c_str();
  m_engine.m_bExportRows = 1;
  // The plain table script creates no identity and no temporary column: its rows need neither.
  m_engine.GenerateTableQueries(&table);
  const std::string script = Written();
  EXPECT_EQ(LexError(script), "");
  const std::string hex = [&] {
    std::string h;
    for (unsigned char c : f.value) h += FormatString("%02x", unsigned(c)).str();
    return h;
  }();
  const std::string insert = "Insert into [dbo].[T] ([id],[notes],[pic],[doc],[big])  values(7,CONVERT(nvarchar(max),0x" +
                             hex + "),0x" + hex + ",0x" + hex + ",CONVERT(nvarchar(max),0x" + hex + "))\r\ngo\r\n";
  EXPECT_NE(script.find(")\r\n" + insert), std::string::npos) << script.substr(0, 300);
  EXPECT_EQ(script.find("IDENTITY_INSERT"), std::string::npos);
  EXPECT_EQ(script.find(kGo + insert), std::string::npos);
  EXPECT_EQ(m_engine.m_pStatus->m_bRecordThreadDone, 1);
}

TEST(ExportWalk, WalksOfTwoTablesAtOnceKeepApart) {
  ModuleFolderScope module;
  CSQLServer2008 engine;
  WalkTable a("A"), b("B");
  // Both tables in one file: B's rows after A's pages.
  b.table.m_dwObjectId = kObjectId + 1;
  a.table.m_vecDataPages = a.AddRows(1, 3000, 150);
  std::vector<Bytes> bRecords;
  for (int id = 5001; id <= 8000; ++id) bRecords.push_back(WalkTable::Row(id));
  for (size_t i = 0; i < bRecords.size(); i += 120)
    b.table.m_vecDataPages.push_back(
        a.AddPage(std::vector<Bytes>(bRecords.begin() + long(i), bRecords.begin() + long(std::min(i + 120, bRecords.size())))));
  a.Attach(engine);
  engine.m_bExportToServer = 1;

  auto serial = [&](CTable& t) {
    FakeDatabase db;
    EXPECT_EQ(CSQLServer2008::RecoverTableRecordThread(&engine, &t, &db), 1u);
    return db.Statements();
  };
  const std::vector<std::string> aAlone = serial(a.table), bAlone = serial(b.table);
  ASSERT_EQ(aAlone.size(), 3000u);
  ASSERT_EQ(bAlone.size(), 3000u);
  EXPECT_EQ(bAlone.front(), "Insert into [dbo].[B] ([id],[name])  values(5001,'row5001');");

  const int sent = engine.m_pStatus->m_nRecordsSent;
  FakeDatabase dbA, dbB;
  std::atomic<bool> go{false};
  DWORD resultA = 0, resultB = 0;
  std::thread ta([&] {
    while (!go) std::this_thread::yield();
    resultA = CSQLServer2008::RecoverTableRecordThread(&engine, &a.table, &dbA);
  });
  std::thread tb([&] {
    while (!go) std::this_thread::yield();
    resultB = CSQLServer2008::RecoverTableRecordThread(&engine, &b.table, &dbB);
  });
  go = true;
  // The program clears the shared mode when a table is selected meanwhile: the walks export still.
  engine.m_bExportMode = 0;
  ta.join();
  tb.join();
  EXPECT_EQ(resultA, 1u);
  EXPECT_EQ(resultB, 1u);
  EXPECT_EQ(dbA.Statements(), aAlone);
  EXPECT_EQ(dbB.Statements(), bAlone);
  EXPECT_EQ(a.table.m_nRowsExported, 3000);
  EXPECT_EQ(b.table.m_nRowsExported, 3000);
  EXPECT_EQ(engine.m_pStatus->m_nRecordsSent - sent, 6000);
}

// ---------------------------------------------------------------------------------------
// Fixtures

namespace {

// The program's export worker for a script target, every table with its rows, into `dir`:
// each table's script text by table name.
std::map<std::string, std::string> ExportTables(CSQLServer2008& engine, const std::string& dir) {
  uicore::ExportRequest request;
  request.rows = true;
  request.outputFolder = dir;
  for (auto& entry : engine.m_mapTables) request.tables.push_back(entry.second);
  testsupport::QuietExportSink sink;
  uicore::ExportWorker worker("");  // the test's module folder: its settings, its output list
  EXPECT_TRUE(worker.Start(engine, std::move(request), sink));
  worker.Join();
  EXPECT_EQ(worker.Result().end, uicore::ExportResult::End::kFinished) << sink.message;
  std::map<std::string, std::string> scripts;
  for (const uicore::ExportResult::Table& t : worker.Result().tables)
    scripts[t.table->m_strName.str()] = ReadFile(dir + "/" + t.script);
  return scripts;
}

// Scans a fixture, exports its tables as scripts into `dir` and reads the rows of those
// scripts, and the install script's rows as that scan's tables take them.
void ExportAndReadRows(const std::string& path, const std::string& dir, const std::string& installScript,
                       TableRows& ours, TableRows& oracle) {
  CSQLServer2008 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  const std::map<std::string, std::string> scripts = ExportTables(engine, dir);
  for (const auto& [table, script] : scripts) {
    ASSERT_EQ(LexError(script), "") << table;
    ReadOurRows(script, ours);
  }
  ReadTableFacts(engine, ours);
  ReadOracleRows(installScript, ours, oracle);
}

const char* const kNorthwindFixtures[] = {"mdf2008_northwnd_itsligo.mdf",   "mdf2008r2_northwnd_upg2000.mdf",
                                          "bak2008_northwind_thuyluv.bak",  "bak2008r2_northwind_victor.bak",
                                          "bak2005_northwind_gabrujo.bak",  "bak2005_northwnd_mina.bak"};

}  // namespace

// Each fixture's rows per table, as engine-driver's export reports them, equal the counts of
// row-counts.json. The two readers behind that file counted the forwarding stubs of the
// 512blk heaps as rows; every forwarded row is exported once, where it lies.
TEST(ExportFixtures, RowCountsEqualTheOracle) {
  REQUIRE_FIXTURE(counts, "oracle/row-counts.json");
  std::map<std::string, std::map<std::string, int>> expected;
  {
    // Lines of the form  "name": {  (a fixture) and  "name": N,  (one of its tables).
    std::istringstream in(ReadFile(counts));
    std::string file;
    for (std::string line; std::getline(in, line);) {
      const size_t open = line.find('"'), close = line.find("\": ", open + 1);
      if (open == std::string::npos || close == std::string::npos) continue;
      const std::string key = line.substr(open + 1, close - open - 1), rest = line.substr(close + 3);
      if (rest.rfind("{", 0) == 0 && (key.ends_with(".bak") || key.ends_with(".mdf"))) file = key;
      else if (!file.empty() && !rest.empty() && std::isdigit(static_cast<unsigned char>(rest[0])))
        expected[file][key] = std::atoi(rest.c_str());
    }
  }
  ASSERT_GE(expected.size(), 9u);
  ModuleFolderScope module;
  TempDir dir;
  for (const auto& [file, tables] : expected) {
    const std::string path = testsupport::FixturePath(file);
    if (path.empty()) continue;
    SCOPED_TRACE(file);
    const std::string out = dir.file(file);
    const std::string cmd = std::string("'") + PELLWYN_ENGINE_DRIVER + "' export '" + path + "' '" + out + "' --rows > '" +
                            out + ".out' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << ReadFile(out + ".out");
    std::map<std::string, int> rows;
    // "table [owner].[name] rows=N script=..."
    std::istringstream lines(ReadFile(out + ".out"));
    for (std::string line; std::getline(lines, line);) {
      const size_t dot = line.find("].["), end = line.find("] rows=");
      if (line.rfind("table [", 0) != 0 || dot == std::string::npos || end == std::string::npos) continue;
      rows[line.substr(dot + 3, end - dot - 3)] = std::atoi(line.c_str() + end + 7);
    }
    std::map<std::string, int> stubs;
    if (file == "bak2008_northwind_512blk.bak") {
      CSQLServer2008 engine;
      ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
      std::vector<BYTE> page(kPageSize);
      for (const auto& [id, table] : engine.m_mapTables)
        for (DWORD p : table->m_vecDataPages)
          if (engine.ReadSourcePage(p, page.data()) && PageTypeOf(page.data()) == kPageData)
            ForEachSlot(page.data(), [&](int, WORD entry) {
              stubs[table->m_strName.str()] += ((page[entry] >> 1) & 7) == 2;
              return true;
            });
      EXPECT_EQ(stubs["OrderDetail"], 530);
    }
    for (const auto& [table, count] : tables) {
      ASSERT_TRUE(rows.count(table)) << table;
      EXPECT_EQ(rows[table], count - stubs[table]) << table;
    }
  }
}

TEST(ExportFixtures, NorthwindRowsEqualTheInstallScript) {
  REQUIRE_FIXTURE(install, "oracle/instnwnd.sql");
  const std::string oracleScript = Utf16ToNarrow(ReadFile(install));
  ModuleFolderScope module;
  TempDir dir;
  int fixtures = 0;
  for (const char* name : kNorthwindFixtures) {
    const std::string path = testsupport::FixturePath(name);
    if (path.empty()) continue;
    ++fixtures;
    SCOPED_TRACE(name);
    TableRows ours, oracle;
    ExportAndReadRows(path, dir.file(name), oracleScript, ours, oracle);
    if (HasFatalFailure()) return;
    ASSERT_EQ(oracle.rows["Order Details"].size(), 2155u);
    // This database's owner changed and added products ("Chai2" at 16.50, ...): its pages
    // hold 83 products, not the install script's 77.
    const bool gabrujo = std::string(name) == "bak2005_northwind_gabrujo.bak";
    CompareWithOracle(ours, oracle, name, 11, gabrujo ? "Products" : "");
    if (gabrujo) {
      EXPECT_EQ(ours.rows["Products"].size(), 83u);
    }

    // Chosen values, spelled out: a picture from its Blob file, notes from their chunks.
    const Row* beverages = nullptr;
    for (const Row& r : ours.rows["Categories"])
      if (r.at("CategoryID").v == "1") beverages = &r;
    ASSERT_NE(beverages, nullptr);
    EXPECT_EQ(beverages->at("Picture").v.size(), 10746u);
    EXPECT_EQ(beverages->at("Picture").v.substr(0, 4), std::string("\x15\x1c\x2f\x00", 4));
    EXPECT_EQ(beverages->at("Description").v, "Soft drinks, coffees, teas, beers, and ales");
    const Row* davolio = nullptr;
    for (const Row& r : ours.rows["Employees"])
      if (r.at("EmployeeID").v == "1") davolio = &r;
    ASSERT_NE(davolio, nullptr);
    EXPECT_EQ(davolio->at("Notes").v,
              "Education includes a BA in psychology from Colorado State University in 1970.  She also completed \"The "
              "Art of the Cold Call.\"  Nancy is a member of Toastmasters International.");
    EXPECT_EQ(davolio->at("ReportsTo").v, "2");
  }
  if (fixtures == 0) GTEST_SKIP() << "no Northwind fixture available";
}

namespace {

// The pubs install script is UTF-8, and its copy lost the one character above 0x7F it had
// (the u umlaut of "München", now a replacement character; the databases hold 0xFC in one
// place and 0x81, its old OEM code, in another). The databases also keep the line breaks of
// the script they were made from: a carriage return and a line feed where this copy has a
// line feed alone.
std::string Utf8ToLatin1(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const BYTE c = BYTE(utf8[i]);
    if (utf8.compare(i, 3, "\xEF\xBF\xBD") == 0) {
      out += kLostCharacter;
      i += 2;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
      out += char(((c & 0x1F) << 6) | (BYTE(utf8[++i]) & 0x3F));
    } else {
      out += char(c);
    }
  }
  return out;
}

void LineFeedsOnly(TableRows& rows) {
  for (auto& [table, list] : rows.rows)
    for (Row& row : list)
      for (auto& [column, v] : row)
        if (v.kind == Value::kText)
          for (size_t at; (at = v.v.find("\r\n")) != std::string::npos;) v.v.erase(at, 1);
}

}  // namespace

// Both pubs fixtures: the 2008 one, whose rows SQL Server stored clustered-key first, and the
// 2005 one upgraded from 2000, whose "employee" rows begin their variable part with the
// uniquifier of a clustered index that is not unique. Every row and value of the 11 tables of
// the install script, employee and sales included.
TEST(ExportFixtures, PubsRowsEqualTheInstallScript) {
  REQUIRE_FIXTURE(install, "oracle/instpubs.sql");
  const std::string oracleScript = Utf8ToLatin1(ReadFile(install));
  ModuleFolderScope module;
  TempDir dir;
  int fixtures = 0;
  for (const char* name : {"mdf2008_pubs_itsligo.mdf", "mdf2005_pubs_upg2000.mdf"}) {
    const std::string path = testsupport::FixturePath(name);
    if (path.empty()) continue;
    ++fixtures;
    SCOPED_TRACE(name);
    TableRows ours, oracle;
    ExportAndReadRows(path, dir.file(name), oracleScript, ours, oracle);
    if (HasFatalFailure()) return;
    LineFeedsOnly(ours);
    LineFeedsOnly(oracle);
    if (std::string(name) == "mdf2005_pubs_upg2000.mdf") {
      // This database's owner renamed job 14: its page holds the row's earlier version,
      // "Designer", in its free space, and the live row says "Web Designer".
      for (Row& r : oracle.rows["jobs"])
        if (r.at("job_desc").v == "Designer") r["job_desc"].v = "Web Designer";
      // It was made from an older install script, whose publisher texts end in line breaks
      // where this one's end at the last full stop (the pages hold them, the 2008 one not).
      for (TableRows* side : {&ours, &oracle})
        for (Row& r : side->rows["pub_info"])
          while (r["pr_info"].v.ends_with("\n")) r["pr_info"].v.pop_back();
    }
    ASSERT_EQ(oracle.rows["employee"].size(), 43u);
    ASSERT_EQ(oracle.rows["sales"].size(), 21u);
    EXPECT_EQ(ours.rows["employee"].size(), 43u);
    EXPECT_EQ(ours.rows["sales"].size(), 21u);
    CompareWithOracle(ours, oracle, name, 11);

    const Row* cramer = nullptr;
    for (const Row& r : ours.rows["employee"])
      if (r.at("emp_id").v == "PTC11962M") cramer = &r;
    ASSERT_NE(cramer, nullptr);
    EXPECT_EQ(cramer->at("fname").v, "Philip");
    EXPECT_EQ(cramer->at("minit").v, "T");
    EXPECT_EQ(cramer->at("lname").v, "Cramer");
  }
  if (fixtures == 0) GTEST_SKIP() << "no pubs fixture available";
}

// Values of three or more fragments are whole: 17,924 bytes behind the 3-entry root of
// 512blk's diagram, 12,804 bytes behind each 36-byte root of the library's diagrams.
// Every script export of every 2005-2008 fixture carries its values itself: no script loads a
// file (OPENROWSET) or names a path, no folder but Tables is made, and the diagrams, the
// largest binary values there are, read back whole from their pieces.
TEST(ExportFixtures, ScriptsHoldEveryValueThemselves) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  ModuleFolderScope module;
  TempDir dir;
  struct Case {
    const char* file;
    std::vector<size_t> diagrams;  // sizes of sysdiagrams.definition, row order
  } cases[] = {{"bak2008_northwind_512blk.bak", {17924}},
               {"bak2008_library_small.bak", {12804, 12804, 12804}},
               {"bak2005_stdb2sql_2sets.bak", {}},
               {"bak2005_northwind_gabrujo.bak", {}},
               {"bak2005_northwnd_mina.bak", {}},
               {"bak2008_northwind_thuyluv.bak", {}},
               {"bak2008r2_northwind_victor.bak", {}},
               {"bak2008r2_entrepot_fr.bak", {}},
               {"mdf2005_pubs_upg2000.mdf", {}},
               {"mdf2008_qlsinhvien.mdf", {}},
               {"mdf2008_pubs_itsligo.mdf", {}},
               {"mdf2008_northwnd_itsligo.mdf", {}},
               {"mdf2008r2_northwnd_upg2000.mdf", {}}};
  int exported = 0;
  for (const Case& c : cases) {
    const std::string path = testsupport::FixturePath(c.file);
    if (path.empty()) continue;
    SCOPED_TRACE(c.file);
    CSQLServer2008 engine;
    ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
    const std::string out = dir.file(c.file);
    const std::map<std::string, std::string> scripts = ExportTables(engine, out);
    ++exported;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
      if (entry.is_directory()) {
        EXPECT_EQ(entry.path().filename(), "Tables");
        continue;
      }
      const std::string text = ReadFile(entry.path().string());
      EXPECT_EQ(text.find("OPENROWSET"), std::string::npos) << entry.path();
      EXPECT_EQ(text.find(dir.path()), std::string::npos) << entry.path();
      EXPECT_EQ(text.find(GetStateFolderPath()), std::string::npos) << entry.path();
    }
    auto script = scripts.find("sysdiagrams");
    if (c.diagrams.empty()) continue;
    ASSERT_NE(script, scripts.end());
    TableRows rows;
    ReadOurRows(script->second, rows);
    std::vector<size_t> sizes;
    for (Row& row : rows.rows["sysdiagrams"]) {
      sizes.push_back(row["definition"].v.size());
      // A diagram is a compound document.
      EXPECT_EQ(row["definition"].v.substr(0, 4), "\xD0\xCF\x11\xE0");
      EXPECT_EQ(row["definition"].kind, Value::kBinary);
    }
    EXPECT_EQ(sizes, c.diagrams);
  }
  if (exported == 0) GTEST_SKIP() << "no 2005-2008 fixture available";
}

// A server export of a whole Northwind: every text it sends is one T-SQL batch without a
// "go", large values travel as hex, and every row arrives.
TEST(ExportFixtures, ServerExportSendsValuesNotPaths) {
  REQUIRE_FIXTURE(path, "bak2008_northwind_thuyluv.bak");
  REQUIRE_FIXTURE(install, "oracle/instnwnd.sql");
  ModuleFolderScope module;
  CSQLServer2008 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  engine.m_bExportToServer = 1;
  engine.m_bExportRows = 1;
  TableRows ours;
  int rows = 0;
  const int sent = engine.m_pStatus->m_nRecordsSent;
  for (auto& entry : engine.m_mapTables) {
    FakeDatabase db;
    CTable* table = entry.second;
    engine.GenerateTableQueries(table, &db);
    rows += table->m_nRowsExported;
    std::string inserts;
    for (const std::string& sql : db.Statements()) {
      EXPECT_EQ(SplitSqlBatches(sql).size(), 1u) << sql.substr(0, 200);
      EXPECT_EQ(LexError(sql), "");
      EXPECT_EQ(sql.find("OPENROWSET"), std::string::npos);
      if (sql.find("Insert into") != std::string::npos) inserts += sql + "\r\ngo\r\n";
    }
    ReadOurRows(inserts, ours);
  }
  EXPECT_EQ(rows, 3308);
  EXPECT_EQ(engine.m_pStatus->m_nRecordsSent - sent, 3308);
  ReadTableFacts(engine, ours);
  TableRows oracle;
  ReadOracleRows(Utf16ToNarrow(ReadFile(install)), ours, oracle);
  CompareWithOracle(ours, oracle, "server", 11);
}

// The French warehouse keeps its accented values in 8-bit text columns: every INSERT line of
// its scripts, and every statement sent to a server, is plain ASCII, and the stored bytes
// come back as they are.
TEST(ExportFixtures, EightBitTextIsWrittenAsAscii) {
  REQUIRE_FIXTURE(path, "bak2008r2_entrepot_fr.bak");
  ModuleFolderScope module;
  TempDir dir;
  CSQLServer2008 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  TableRows ours;
  int inserts = 0, accented = 0;
  for (const auto& [table, script] : ExportTables(engine, dir.file("scripts"))) {
    SCOPED_TRACE(table);
    EXPECT_EQ(LexError(script), "");
    std::istringstream lines(script);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("Insert into", 0) != 0) continue;
      ++inserts;
      EXPECT_TRUE(PureAscii(line)) << line;
      accented += line.find("CONVERT(varchar(") != std::string::npos;
    }
    ReadOurRows(script, ours);
  }
  EXPECT_GT(inserts, 1000);
  EXPECT_GE(accented, 100);  // Client and Produit rows with accented names and places
  const Row* trujillo = nullptr;
  for (const Row& r : ours.rows["Client"])
    if (r.at("ClientId").v == "2") trujillo = &r;
  ASSERT_NE(trujillo, nullptr);
  EXPECT_EQ(trujillo->at("NomContact").v, "Ana Trujillo");
  EXPECT_EQ(trujillo->at("Continent").v, "Am\xe9rique du Nord");

  engine.m_bExportToServer = 1;
  for (auto& entry : engine.m_mapTables) {
    FakeDatabase db;
    engine.GenerateTableQueries(entry.second, &db);
    for (const std::string& sql : db.Statements())
      if (sql.find("Insert into") != std::string::npos) EXPECT_TRUE(PureAscii(sql)) << sql.substr(0, 300);
  }
  EXPECT_EQ(engine.m_pStatus->m_nRecordsSent, inserts);
}
