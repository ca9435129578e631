#include "dll/pellwyn2000/values2000.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dll/pellwyn2008/record_builder.h"

using namespace rows2000;
using recordtest::Bytes;
using recordtest::LE;

namespace {

std::string Text(const CString& s) { return s.str(); }

ByteView View(const Bytes& b) { return ByteView(b.data(), b.size()); }

// What a value shows: its text, or its mark's text.
std::string Shown(const Value& v) { return v.Shown(); }

}  // namespace

TEST(FormatDateTime2000, CalendarAndClock) {
  struct Case {
    DWORD ticks;
    LONG days;
    const char* text;
  } cases[] = {
      {0, 0, "1900-01-01 00:00:00"},
      {0, -1, "1899-12-31 00:00:00"},
      {299, 0, "1900-01-01 00:00:00"},       // a tick short of a second
      {300, 0, "1900-01-01 00:00:01"},
      {25919999, 0, "1900-01-01 23:59:59"},  // the last tick of a day
      {0, 36523, "1999-12-31 00:00:00"},
      {0, 36584, "2000-03-01 00:00:00"},      // past 2000-02-29
      {0, -53690, "1753-01-01 00:00:00"},     // the first day the server stores
      {0, 2958463, "9999-12-31 00:00:00"},    // the last
      {25920000, 0, "Invalid DateTime."},    // a whole day of ticks is no time of day
      {0, -53691, "Invalid DateTime."},
      {0, 2958464, "Invalid DateTime."},
      {0, LONG(0x80000000u), "Invalid DateTime."},
      {0xFFFFFFFFu, 0x7FFFFFFF, "Invalid DateTime."},
  };
  for (const Case& c : cases) EXPECT_EQ(Text(FormatDateTime2000(c.ticks, c.days)), c.text) << c.ticks << "/" << c.days;
}

TEST(RenderFixed, EveryTypeInBothModes) {
  struct Case {
    const char* name;
    FixedColumn column;
    Bytes bytes;
    const char* display;
    const char* exported;
  };
  auto col = [](SqlType t, WORD length, BYTE precision = 0, BYTE scale = 0, BYTE bit = 0) {
    FixedColumn c;
    c.type = t;
    c.length = length;
    c.precision = precision;
    c.scale = scale;
    c.bitPosition = bit;
    return c;
  };
  const Bytes guid = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  std::vector<Case> cases = {
      {"tinyint", col(SqlType::kTinyInt, 1), {0xFF}, "255", "255"},
      {"smallint", col(SqlType::kSmallInt, 2), LE(0xFFFE, 2), "-2", "-2"},
      {"int", col(SqlType::kInt, 4), LE(0xFFFFFFFF, 4), "-1", "-1"},
      {"bigint", col(SqlType::kBigInt, 8), LE(0x8000000000000000ull, 8), "-9223372036854775808",
       "-9223372036854775808"},
      // A type the decoder does not name reads as an integer of its stored bytes.
      {"unknown", col(SqlType::kUnknown, 3), {0x01, 0x02, 0x03}, "197121", "197121"},
      {"bit 0 of 0x02", col(SqlType::kBit, 1, 1, 0, 0), {0x02}, "0", "0"},
      {"bit 1 of 0x02", col(SqlType::kBit, 1, 1, 0, 1), {0x02}, "1", "1"},
      {"bit position past the byte", col(SqlType::kBit, 1, 1, 0, 9), {0xFF}, "Corrupt", "Corrupt"},
      // decimal(5,2) 12.34 and -12.34: plain in the preview, padded to the precision in the export.
      {"decimal", col(SqlType::kDecimal, 5, 5, 2), {1, 0xD2, 0x04, 0, 0}, "12.34", "012.34"},
      {"negative decimal", col(SqlType::kDecimal, 5, 5, 2), {0, 0xD2, 0x04, 0, 0}, "-12.34", "-12.34"},
      {"decimal, scale 0", col(SqlType::kNumeric, 5, 6, 0), {1, 7, 0, 0, 0}, "7", "000007"},
      // A scale above the precision (damaged catalog) still gives every stored digit.
      {"scale above precision", col(SqlType::kDecimal, 5, 2, 4), {1, 0x39, 0x30, 0, 0}, "1.2345", "1.2345"},
      // 38 digits: wider than 64 bits.
      {"decimal(38,0)", col(SqlType::kDecimal, 17, 38, 0),
       {1, 0xFF, 0xFF, 0xFF, 0xFF, 0x3F, 0x22, 0x8A, 0x09, 0x7A, 0xC4, 0x86, 0x5A, 0xA8, 0x4C, 0x3B, 0x4B},
       "99999999999999999999999999999999999999", "99999999999999999999999999999999999999"},
      {"money 1.5", col(SqlType::kMoney, 8, 19, 4), LE(15000, 8), "1.5000", "000000000000001.5000"},
      {"money -1.5", col(SqlType::kMoney, 8, 19, 4), LE(UINT64(-15000LL), 8), "-1.5000",
       "-000000000000001.5000"},
      {"smallmoney -1.5", col(SqlType::kSmallMoney, 4, 10, 4), LE(DWORD(-15000), 4), "-1.5000", "-000001.5000"},
      // Approximate numbers: the shortest exact text in both modes; NaN (never stored) as printf
      // shows it in the preview.
      {"real", col(SqlType::kReal, 4, 24), LE(0x3FC00000, 4), "1.5", "1.5"},
      {"real 0.15", col(SqlType::kReal, 4, 24), LE(0x3E19999A, 4), "0.15", "0.15"},
      {"real NaN", col(SqlType::kReal, 4, 24), LE(0x7FC00000, 4), "nan", "Corrupt"},
      {"float", col(SqlType::kFloat, 8, 3), LE(0x3FF8000000000000ull, 8), "1.5", "1.5"},
      {"datetime", col(SqlType::kDateTime, 8, 23, 3), {0, 0, 0, 0, 0x5C, 0x9B, 0, 0}, "2008-11-22 00:00:00",
       "00009b5c00000000"},
      {"datetime out of range", col(SqlType::kDateTime, 8, 23, 3), {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F},
       "Invalid DateTime.", "Invalid DateTime."},
      // 60 minutes past midnight: the preview shows the time the value holds.
      {"smalldatetime", col(SqlType::kSmallDateTime, 4), {0x3C, 0x00, 0x5C, 0x9B}, "2008-11-22 01:00:00", "9b5c003c"},
      {"smalldatetime in the afternoon", col(SqlType::kSmallDateTime, 4), {0xF3, 0x03, 0x5C, 0x9B},
       "2008-11-22 16:51:00", "9b5c03f3"},
      {"smalldatetime minutes past the day", col(SqlType::kSmallDateTime, 4), {0xA0, 0x05, 0x5C, 0x9B},
       "Invalid DateTime.", "Invalid DateTime."},
      {"char", col(SqlType::kChar, 4), {0x61, 0x62, 0x00, 0x63}, "ab", "ab"},
      {"char starting with zero", col(SqlType::kChar, 2), {0x00, 0x61}, "Empty", "Empty"},
      {"nchar", col(SqlType::kNChar, 2), {0x41, 0x00}, "A", "4100"},
      {"nchar beyond 8 bits", col(SqlType::kNChar, 2), {0x41, 0x04}, "\xD1\x81", "4104"},
      {"binary", col(SqlType::kBinary, 2), {0x01, 0xAB}, "0x01ab", "0x01ab"},
      {"uniqueidentifier", col(SqlType::kUniqueIdentifier, 16), guid, "{00112233-4455-6677-8899-AABBCCDDEEFF}",
       "{00112233-4455-6677-8899-AABBCCDDEEFF}"},
      {"timestamp", col(SqlType::kTimestamp, 8), {}, "<binary data>", "NULL"},
      {"sql_variant", col(SqlType::kSqlVariant, 8016), {}, "NULL", "NULL"},
      // Bytes that are not the type's width are not its value.
      {"short int", col(SqlType::kInt, 4), {1, 2}, "Corrupt", "Corrupt"},
      {"short money", col(SqlType::kMoney, 8, 19, 4), {1, 2, 3}, "Corrupt", "Corrupt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Shown(RenderFixed(c.column, View(c.bytes), Mode::kDisplay)), c.display);
    EXPECT_EQ(Shown(RenderFixed(c.column, View(c.bytes), Mode::kExport)), c.exported);
  }
}

TEST(RenderFixed, MarksAreNotTexts) {
  // A stored char value that reads like a marker stays a value.
  FixedColumn c;
  c.type = SqlType::kChar;
  c.length = 4;
  const Bytes bytes = recordtest::Ascii("NULL");
  const Value v = RenderFixed(c, View(bytes), Mode::kExport);
  EXPECT_EQ(v.mark, Mark::kValue);
  EXPECT_EQ(v.text, "NULL");
  FixedColumn t;
  t.type = SqlType::kTimestamp;
  EXPECT_EQ(RenderFixed(t, ByteView(), Mode::kExport).mark, Mark::kNull);
}

TEST(VariableTexts, FilteringDecodingAndHex) {
  const Bytes varchar = {0x41, 0x01, 0x42, 0x00, 0x43, 0x02};
  EXPECT_EQ(FilteredText(View(varchar)), "ABC");
  const Bytes ab = recordtest::Utf16("AB");
  EXPECT_EQ(UnicodeShown(View(ab)), "AB");
  EXPECT_EQ(HexDigits(View(ab)), "41004200");
  // Every character is shown, wherever it stands; zero units are left out.
  const Bytes early = {0x41, 0x00, 0x42, 0x04, 0x00, 0x00};
  EXPECT_EQ(UnicodeShown(View(early)), "A\xD1\x82");
  const Bytes cjk = {0x00, 0x4E, 0x2D, 0x4E};
  EXPECT_EQ(UnicodeShown(View(cjk)), "\xE4\xB8\x80\xE4\xB8\xAD");
  EXPECT_EQ(CodePageShown("\xC0\xE1", 1251), "\xD0\x90\xD0\xB1");
  const Bytes three = {0x41, 0x00, 0x42};
  EXPECT_EQ(Text(BytesToString(three.data(), 3, false)), "AB");
  EXPECT_EQ(Text(BytesToString(three.data(), 3, true)), "410042");
}
