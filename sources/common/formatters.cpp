#include "formatters.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/timeutil.h"

namespace {

using UINT128 = unsigned __int128;

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kMillisPerDay = kSecondsPerDay * 1000;
// Largest day count FormatDateFromDays accepts: far past any stored date, and small enough that
// the year stays within an int.
constexpr double kMaxDayCount = 2147483647.0;

// Little-endian unsigned integer of `width` bytes (at most 8); the caller has checked the length.
UINT64 ReadLE(const BYTE* p, size_t width) {
  UINT64 v = 0;
  for (size_t i = width; i-- > 0;) v = v << 8 | p[i];
  return v;
}

const std::int64_t kEpoch0001 = DaysFromCivil(1, 1, 1);     // day 0 of date, datetime2
const std::int64_t kEpoch1900 = DaysFromCivil(1900, 1, 1);  // day 0 of datetime, smalldatetime

// "yyyy-mm-dd" of a day count relative to 1970-01-01.
CString CivilText(std::int64_t daysSince1970) {
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(daysSince1970, y, m, d);
  return FormatString("%04d-%02d-%02d", int(y), m, d);
}

// `v` in decimal, left-padded with zeros to at least `width` digits.
std::string Digits(UINT128 v, int width) {
  char buf[48];
  int n = 0;
  // Most values fit 64 bits, where a digit costs no 128-bit division.
  while (v > UINT128(UINT64_MAX)) {
    buf[n++] = char('0' + int(v % 10));
    v /= 10;
  }
  UINT64 low = UINT64(v);
  do {
    buf[n++] = char('0' + int(low % 10));
    low /= 10;
  } while (low != 0);
  std::string s;
  if (width > n) s.assign(size_t(width - n), '0');
  while (n > 0) s += buf[--n];
  return s;
}

// Sign, the magnitude padded to `width` digits (and to at least `scale` digits, so no fraction
// digit is ever cut), and a point before the last `scale` digits.
CString ScaledText(bool negative, UINT128 magnitude, int width, int scale) {
  if (width < scale) width = scale;
  std::string digits = Digits(magnitude, width);
  std::string text = negative ? "-" : "";
  if (scale > 0) {
    const size_t whole = digits.size() - size_t(scale);
    text.append(digits, 0, whole);
    text += '.';
    text.append(digits, whole, std::string::npos);
  } else {
    text += digits;
  }
  return CString(std::move(text));
}

bool MoneyText(INT64 value, int precision, CString& out) {
  const bool negative = value < 0;
  const UINT64 magnitude = negative ? 0 - UINT64(value) : UINT64(value);
  out = ScaledText(negative, magnitude, precision, 4);
  return true;
}

UINT64 PowerOfTen(int n) {
  UINT64 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// "hh:mm:ss[.f...]" of `ticks` units of 10^-scale s; false at 24 hours or more.
bool TimeText(UINT64 ticks, int scale, CString& out) {
  const UINT64 unit = PowerOfTen(scale);
  if (ticks >= UINT64(kSecondsPerDay) * unit) return false;
  const UINT64 seconds = ticks / unit;
  out.Format("%02d:%02d:%02d", int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60));
  if (scale > 0) {
    out += '.';
    out += Digits(ticks % unit, scale).c_str();
  }
  return true;
}

// Reads the time and date parts shared by datetime2 and datetimeoffset.
bool ReadTimeAndDate(const BYTE* data, size_t length, int scale, size_t extra, UINT64& ticks,
                     std::int64_t& days) {
  const size_t timeBytes = TimeBytesForScale(scale);
  if (!data || timeBytes == 0 || length != timeBytes + 3 + extra) return false;
  ticks = ReadLE(data, timeBytes);
  days = std::int64_t(ReadLE(data + timeBytes, 3));
  return ticks < UINT64(kSecondsPerDay) * PowerOfTen(scale);
}

template <class T>
bool ShortestText(T value, CString& out) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  if (r.ec != std::errc()) return false;
  out = CString(buf, int(r.ptr - buf));
  return true;
}

}  // namespace

CString FormatDateFromDays(double dayCount) {
  // Common and leap years: days before the first of each month, then the year's length.
  static const int kCumulative[2][13] = {
      {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
      {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366},
  };
  if (!std::isfinite(dayCount) || dayCount < 0 || dayCount > kMaxDayCount) return CString();
  std::int64_t n = std::int64_t(dayCount);
  // 400-, 100-, 4- and 1-year cycles from 0001-01-01; the last year of a 100- or 4-year cycle
  // is the one that may run a day longer, hence the caps at 3.
  std::int64_t year = 1 + 400 * (n / 146097);
  n %= 146097;
  std::int64_t c = n / 36524;
  if (c > 3) c = 3;
  year += 100 * c;
  n -= 36524 * c;
  year += 4 * (n / 1461);
  n %= 1461;
  std::int64_t o = n / 365;
  if (o > 3) o = 3;
  year += o;
  n -= 365 * o;
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  const int* table = kCumulative[leap ? 1 : 0];
  int m = 0;
  while (m < 11 && n >= table[m + 1]) ++m;
  return FormatString("%04d-%02d-%02d", int(year), m + 1, int(n - table[m] + 1));
}

CString FormatSmallDate(DWORD value) { return CivilText(kEpoch1900 + std::int64_t(value >> 16)); }

CString FormatSmallDateTime(DWORD value) {
  const std::int64_t minutes = value & 0xFFFF;
  CString text = CivilText(kEpoch1900 + std::int64_t(value >> 16) + minutes / 1440);
  text.AppendFormat(" %02d:%02d:00", int(minutes % 1440 / 60), int(minutes % 60));
  return text;
}

CString FormatDateTime(DWORD ticks, LONG days) {
  // A tick is 1/300 s; its milliseconds are 10/3 per tick, rounded half up (the thirds make
  // .003 and .007, never a tie).
  std::int64_t millis = (std::int64_t(ticks) * 10 + 1) / 3;
  const std::int64_t day = kEpoch1900 + days + millis / kMillisPerDay;
  millis %= kMillisPerDay;
  const std::int64_t seconds = millis / 1000;
  CString text = CivilText(day);
  text.AppendFormat(" %02d:%02d:%02d.%03d", int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60),
                    int(millis % 1000));
  return text;
}

bool FormatDateTime(const BYTE* data, size_t length, CString& out) {
  out.Empty();
  if (!data || length != 8) return false;
  out = FormatDateTime(DWORD(ReadLE(data, 4)), LONG(DWORD(ReadLE(data + 4, 4))));
  return true;
}

bool FormatSmallDateTime(const BYTE* data, size_t length, CString& out) {
  out.Empty();
  if (!data || length != 4) return false;
  out = FormatSmallDateTime(DWORD(ReadLE(data, 4)));
  return true;
}

bool FormatDecimal(const BYTE* data, size_t length, int precision, int scale, CString& out) {
  out.Empty();
  if (!data || length < 2 || length > 17) return false;
  if (precision < 0 || precision > 255 || scale < 0 || scale > 255) return false;
  UINT128 magnitude = 0;
  for (size_t i = length; i-- > 1;) magnitude = magnitude << 8 | data[i];
  // A negative zero prints as zero; the minus sign otherwise takes one of the precision places.
  const bool negative = data[0] == 0 && magnitude != 0;
  out = ScaledText(negative, magnitude, negative ? precision - 1 : precision, scale);
  return true;
}

bool FormatMoney(const BYTE* data, size_t length, int precision, CString& out) {
  out.Empty();
  if (!data || length != 8) return false;
  return MoneyText(INT64(ReadLE(data, 8)), precision > 0 ? precision : 19, out);
}

bool FormatSmallMoney(const BYTE* data, size_t length, int precision, CString& out) {
  out.Empty();
  if (!data || length != 4) return false;
  return MoneyText(INT64(std::int32_t(DWORD(ReadLE(data, 4)))), precision > 0 ? precision : 10, out);
}

bool FormatDecimalPlain(const BYTE* data, size_t length, int scale, CString& out) {
  // The padded text's checks and sign, then the digits again without the padding.
  if (!FormatDecimal(data, length, std::clamp(scale, 0, 255), scale, out)) return false;
  UINT128 magnitude = 0;
  for (size_t i = length; i-- > 1;) magnitude = magnitude << 8 | data[i];
  out = ScaledText(data[0] == 0 && magnitude != 0, magnitude, scale + 1, scale);
  return true;
}

bool FormatMoneyPlain(const BYTE* data, size_t length, CString& out) {
  if (!FormatMoney(data, length, 19, out)) return false;
  return MoneyText(INT64(ReadLE(data, 8)), 5, out);
}

bool FormatSmallMoneyPlain(const BYTE* data, size_t length, CString& out) {
  if (!FormatSmallMoney(data, length, 10, out)) return false;
  return MoneyText(INT64(std::int32_t(DWORD(ReadLE(data, 4)))), 5, out);
}

bool FormatFloat(const BYTE* data, size_t length, CString& out) {
  out.Empty();
  if (!data || length != 8) return false;
  const double value = std::bit_cast<double>(ReadLE(data, 8));
  if (!std::isfinite(value)) return false;
  return ShortestText(value, out);
}

bool FormatReal(const BYTE* data, size_t length, CString& out) {
  out.Empty();
  if (!data || length != 4) return false;
  const float value = std::bit_cast<float>(DWORD(ReadLE(data, 4)));
  if (!std::isfinite(value)) return false;
  if (!ShortestText(value, out)) return false;
  // The shortest float text can sit so close to the edge of the value's rounding interval that
  // parsing it as a double and then narrowing lands on the neighbour. Nine significant digits
  // never do.
  double wide = 0;
  auto r = std::from_chars(out.c_str(), out.c_str() + out.GetLength(), wide);
  if (r.ec == std::errc() && std::bit_cast<DWORD>(float(wide)) == std::bit_cast<DWORD>(value)) return true;
  char buf[64];
  auto w = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 9);
  if (w.ec != std::errc()) return false;
  out = CString(buf, int(w.ptr - buf));
  return true;
}

size_t TimeBytesForScale(int scale) {
  if (scale < 0 || scale > 7) return 0;
  return scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
}

bool FormatDate(const BYTE* data, size_t length, CString& out) {
  out.Empty();
  if (!data || length != 3) return false;
  out = FormatDateFromDays(double(ReadLE(data, 3)));
  return true;
}

bool FormatTime(const BYTE* data, size_t length, int scale, CString& out) {
  out.Empty();
  const size_t timeBytes = TimeBytesForScale(scale);
  if (!data || timeBytes == 0 || length != timeBytes) return false;
  CString text;
  if (!TimeText(ReadLE(data, timeBytes), scale, text)) return false;
  out = text;
  return true;
}

bool FormatDateTime2(const BYTE* data, size_t length, int scale, CString& out) {
  out.Empty();
  UINT64 ticks;
  std::int64_t days;
  if (!ReadTimeAndDate(data, length, scale, 0, ticks, days)) return false;
  CString time;
  TimeText(ticks, scale, time);
  out = CivilText(kEpoch0001 + days) + " " + time;
  return true;
}

bool FormatDateTimeOffset(const BYTE* data, size_t length, int scale, CString& out) {
  out.Empty();
  UINT64 ticks;
  std::int64_t days;
  if (!ReadTimeAndDate(data, length, scale, 2, ticks, days)) return false;
  const int offset = std::int16_t(WORD(ReadLE(data + length - 2, 2)));
  if (offset < -840 || offset > 840) return false;
  // Stored as UTC; shown as local time, which may fall on the day before or after.
  const std::int64_t perDay = kSecondsPerDay * std::int64_t(PowerOfTen(scale));
  std::int64_t local = std::int64_t(ticks) + std::int64_t(offset) * 60 * std::int64_t(PowerOfTen(scale));
  if (local < 0) {
    local += perDay;
    --days;
  } else if (local >= perDay) {
    local -= perDay;
    ++days;
  }
  CString time;
  TimeText(UINT64(local), scale, time);
  const int minutes = offset < 0 ? -offset : offset;
  out = CivilText(kEpoch0001 + days) + " " + time;
  out.AppendFormat(" %c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return true;
}

CString FormatScientific(double value, int digits) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*e", std::clamp(digits, 0, 300), value);
  return CString(buf);
}

CString RealToStringText(DWORD bits) {
  // Patterns whose top four bits are all 0 (+0.0 and positive values below about 2.5e-29) show
  // as 0.0 in the preview; the export takes FormatReal, which is exact.
  float value = 0.0f;
  if (bits >= 0x10000000u) value = std::bit_cast<float>(bits);
  return FormatString("%e", double(value));
}
