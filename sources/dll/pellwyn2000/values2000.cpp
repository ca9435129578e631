#include "values2000.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "common/formatters.h"
#include "common/unicodetext.h"
#include "platform/guid.h"
#include "platform/timeutil.h"

namespace rows2000 {

namespace {

const char* const kBinaryMarker = "<binary data>";

constexpr std::int64_t kTicksPerDay = 300LL * 86400;
// datetime's range, in days from 1900-01-01: 1753-01-01 and 9999-12-31.
constexpr LONG kFirstDay = -53690;
constexpr LONG kLastDay = 2958463;

UINT64 ReadLE(ByteView v) {
  UINT64 x = 0;
  for (size_t i = std::min<size_t>(v.size(), 8); i-- > 0;) x = x << 8 | v.data()[i];
  return x;
}

std::string Decimal(INT64 v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string ReversedHex(ByteView v) {
  std::string reversed(reinterpret_cast<const char*>(v.data()), v.size());
  std::reverse(reversed.begin(), reversed.end());
  return HexDigits(ByteView(reinterpret_cast<const BYTE*>(reversed.data()), reversed.size()));
}

Value FromText(const CString& text) { return Value::Of(text.str()); }

// A text that came out empty is the empty value.
Value TextOrEmpty(std::string text) {
  if (text.empty()) return Value::Marked(Mark::kEmpty);
  return Value::Of(std::move(text));
}

}  // namespace

bool IsVariableType(SqlType type) {
  switch (type) {
    case SqlType::kVarChar:
    case SqlType::kNVarChar:
    case SqlType::kNText:
    case SqlType::kText:
    case SqlType::kImage:
    case SqlType::kVarBinary:
    case SqlType::kXml:
    case SqlType::kSqlVariant: return true;
    default: return false;
  }
}

const char* MarkText(Mark mark) {
  switch (mark) {
    case Mark::kNull: return "NULL";
    case Mark::kEmpty: return "Empty";
    case Mark::kCorrupt: return "Corrupt";
    case Mark::kFormula: return "FORMULA";
    case Mark::kDeleted: return "Deleted";
    case Mark::kInvalidDate: return "Invalid DateTime.";
    case Mark::kValue:
    case Mark::kDefault: return "";
  }
  return "";
}

std::string Value::Shown() const {
  if (mark != Mark::kValue && mark != Mark::kDefault) return MarkText(mark);
  return text.empty() ? std::string(MarkText(Mark::kEmpty)) : text;
}

std::string FilteredText(ByteView bytes) {
  std::string s;
  s.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i)
    if (bytes.data()[i] > 2) s += char(bytes.data()[i]);
  return s;
}

std::string UnicodeShown(ByteView bytes) {
  std::string s = Utf16ToUtf8(bytes);
  s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
  return s;
}

std::string CodePageShown(const std::string& bytes, unsigned codePage) {
  return CodePageToUtf8(ByteView(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()), codePage);
}

std::string HexDigits(ByteView bytes) {
  return BytesToString(bytes.data(), int(bytes.size()), true).str();
}

bool IsValidDateTime2000(DWORD ticks, LONG days) {
  return std::int64_t(ticks) < kTicksPerDay && days >= kFirstDay && days <= kLastDay;
}

bool IsValidSmallDateTime2000(DWORD value) { return (value & 0xFFFF) < 1440; }

CString FormatDateTime2000(DWORD ticks, LONG days) {
  if (!IsValidDateTime2000(ticks, days)) return MarkText(Mark::kInvalidDate);
  std::int64_t year;
  unsigned month, day;
  CivilFromDays(DaysFromCivil(1900, 1, 1) + days, year, month, day);
  // Whole hundredths first, then seconds: the ticks are cut, never rounded up into the next
  // second.
  const std::int64_t seconds = std::int64_t(ticks / 3) / 100;
  return FormatString("%04d-%02d-%02d %02d:%02d:%02d", int(year), month, day, int(seconds / 3600),
                      int(seconds / 60 % 60), int(seconds % 60));
}

size_t FixedWidth(const FixedColumn& column) {
  switch (column.type) {
    case SqlType::kBit:
    case SqlType::kTinyInt: return 1;
    case SqlType::kSmallInt: return 2;
    case SqlType::kReal:
    case SqlType::kSmallMoney:
    case SqlType::kSmallDateTime: return 4;
    case SqlType::kBigInt:
    case SqlType::kFloat:
    case SqlType::kMoney:
    case SqlType::kDateTime: return 8;
    case SqlType::kUniqueIdentifier: return 16;
    case SqlType::kTimestamp:
    case SqlType::kSqlVariant: return 0;
    default: return column.length;
  }
}

Value RenderFixed(const FixedColumn& column, ByteView v, Mode mode) {
  const bool display = mode == Mode::kDisplay;
  const Value corrupt = Value::Marked(Mark::kCorrupt);
  switch (column.type) {
    case SqlType::kTimestamp: return display ? Value::Of(kBinaryMarker) : Value::Marked(Mark::kNull);
    case SqlType::kSqlVariant: return Value::Marked(Mark::kNull);
    default: break;
  }
  if (!v.data() || v.size() != FixedWidth(column)) return corrupt;
  const BYTE* b = v.data();
  CString text;
  switch (column.type) {
    case SqlType::kBit:
      if (column.bitPosition > 7) return corrupt;
      return Value::Of((b[0] >> column.bitPosition & 1) ? "1" : "0");
    case SqlType::kTinyInt: return Value::Of(Decimal(b[0]));
    case SqlType::kSmallInt: return Value::Of(Decimal(std::int16_t(WORD(ReadLE(v)))));
    case SqlType::kBigInt: return Value::Of(Decimal(INT64(ReadLE(v))));
    // Approximate numbers as the shortest text that reads back to the stored value, in the
    // preview as in the export; a pattern no server stores (NaN, infinity) previews as the
    // printf text it has.
    case SqlType::kReal:
      if (FormatReal(b, v.size(), text)) return FromText(text);
      return display ? FromText(RealToStringText(DWORD(ReadLE(v)))) : corrupt;
    case SqlType::kFloat:
      if (FormatFloat(b, v.size(), text)) return FromText(text);
      return display ? FromText(FormatScientific(std::bit_cast<double>(ReadLE(v)), column.precision)) : corrupt;
    // Exact numbers: the preview plainly at their scale, the export its padded literals.
    case SqlType::kDecimal:
    case SqlType::kNumeric:
      if (!(display ? FormatDecimalPlain(b, v.size(), column.scale, text)
                    : FormatDecimal(b, v.size(), column.precision, column.scale, text)))
        return corrupt;
      return FromText(text);
    case SqlType::kMoney:
      if (!(display ? FormatMoneyPlain(b, v.size(), text) : FormatMoney(b, v.size(), column.precision, text)))
        return corrupt;
      return FromText(text);
    case SqlType::kSmallMoney:
      if (!(display ? FormatSmallMoneyPlain(b, v.size(), text)
                    : FormatSmallMoney(b, v.size(), column.precision, text)))
        return corrupt;
      return FromText(text);
    case SqlType::kDateTime: {
      const DWORD ticks = DWORD(ReadLE(ByteView(b, 4)));
      const LONG days = LONG(DWORD(ReadLE(ByteView(b + 4, 4))));
      if (!IsValidDateTime2000(ticks, days)) return Value::Marked(Mark::kInvalidDate);
      return display ? FromText(FormatDateTime2000(ticks, days)) : Value::Of(ReversedHex(v));
    }
    case SqlType::kSmallDateTime: {
      const DWORD word = DWORD(ReadLE(v));
      if (!IsValidSmallDateTime2000(word)) return Value::Marked(Mark::kInvalidDate);
      // The preview shows the time of day the value holds, to the minute it is stored in; a
      // fixed noon would show every time but 12:00 wrongly.
      return display ? FromText(FormatSmallDateTime(word)) : Value::Of(ReversedHex(v));
    }
    case SqlType::kChar: {
      const BYTE* end = std::find(b, b + v.size(), BYTE(0));
      std::string text(reinterpret_cast<const char*>(b), size_t(end - b));
      return TextOrEmpty(display ? CodePageShown(text, column.codePage) : text);
    }
    case SqlType::kNChar:
      if (!display) return Value::Of(HexDigits(v));
      return TextOrEmpty(UnicodeShown(v));
    case SqlType::kBinary: return Value::Of("0x" + HexDigits(v));
    case SqlType::kUniqueIdentifier: return FromText(GuidToString(b));
    default:
      // "int" and any type this decoder does not name: the low 32 bits of the stored integer.
      return Value::Of(Decimal(std::int32_t(DWORD(ReadLE(v)))));
  }
}

}  // namespace rows2000
