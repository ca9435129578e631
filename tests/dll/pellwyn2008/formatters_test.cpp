#include "common/formatters.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/timeutil.h"
#include "support/fixtures.h"

namespace {

using Bytes = std::vector<BYTE>;
using UINT128 = unsigned __int128;

// `width` little-endian bytes of v.
Bytes LE(UINT128 v, size_t width) {
  Bytes b(width);
  for (size_t i = 0; i < width; ++i) b[i] = BYTE(v >> (8 * i));
  return b;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Independent reference: "yyyy-mm-dd" of days since 0001-01-01.
std::string CivilRef(std::int64_t daysSince0001) {
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(daysSince0001 + DaysFromCivil(1, 1, 1), y, m, d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", int(y), m, d);
  return buf;
}

std::int64_t Day0001(int y, unsigned m, unsigned d) { return DaysFromCivil(y, m, d) - DaysFromCivil(1, 1, 1); }

// The stored bytes of a time(n)/datetime2(n)/datetimeoffset(n) value.
Bytes TimeBytes(UINT64 ticks, int scale) { return LE(ticks, TimeBytesForScale(scale)); }
Bytes DateTime2Bytes(UINT64 ticks, std::int64_t days, int scale) { return Concat(TimeBytes(ticks, scale), LE(UINT64(days), 3)); }
Bytes OffsetBytes(UINT64 ticks, std::int64_t days, int offset, int scale) {
  return Concat(DateTime2Bytes(ticks, days, scale), LE(UINT64(WORD(std::int16_t(offset))), 2));
}

UINT64 Ticks(int h, int m, int s, UINT64 fraction, int scale) {
  UINT64 unit = 1;
  for (int i = 0; i < scale; ++i) unit *= 10;
  return (UINT64(h) * 3600 + UINT64(m) * 60 + UINT64(s)) * unit + fraction;
}

std::string Text(const CString& s) { return s.str(); }

// ---- dates of the "date" type

TEST(FormatDateFromDays, CalendarEdges) {
  struct Case {
    double days;
    const char* text;
  } cases[] = {
      {0, "0001-01-01"},
      {365, "0002-01-01"},
      {366, "0002-01-02"},
      {1460, "0004-12-31"},           // last day of the first leap year
      {1461, "0005-01-01"},
      {double(Day0001(1900, 2, 28)) + 1, "1900-03-01"},  // 1900 is not a leap year
      {double(Day0001(2000, 2, 29)), "2000-02-29"},       // 2000 is
      {double(Day0001(2000, 12, 31)), "2000-12-31"},      // the 400-year cycle's long last year
      {3652058, "9999-12-31"},
      {3652059, "10000-01-01"},       // past the type's range: still a date, no failure
      {0.75, "0001-01-01"},           // a time of day is not printed
      {365.999, "0002-01-01"},
  };
  for (const Case& c : cases) EXPECT_EQ(Text(FormatDateFromDays(c.days)), c.text) << c.days;
  EXPECT_EQ(Text(FormatDateFromDays(16777215)), CivilRef(16777215));  // largest 3-byte count
}

TEST(FormatDateFromDays, UnusableCountsGiveEmpty) {
  for (double d : {-1.0, -0.5, std::nan(""), std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity(), 1e300})
    EXPECT_TRUE(FormatDateFromDays(d).IsEmpty()) << d;
}

TEST(FormatDateFromDays, EveryDayOfTheTypeMatchesTheProlepticCalendar) {
  int mismatches = 0;
  for (std::int64_t d = 0; d <= 3652058 && mismatches < 5; ++d) {
    CString text = FormatDateFromDays(double(d));
    if (text.str() != CivilRef(d)) {
      ADD_FAILURE() << d << ": " << text.str() << " != " << CivilRef(d);
      ++mismatches;
    }
  }
}

TEST(FormatDate, ThreeStoredBytes) {
  CString out;
  Bytes b = LE(3652058, 3);
  ASSERT_TRUE(FormatDate(b.data(), b.size(), out));
  EXPECT_EQ(Text(out), "9999-12-31");
  b = LE(Day0001(2004, 9, 7), 3);
  ASSERT_TRUE(FormatDate(b.data(), b.size(), out));
  EXPECT_EQ(Text(out), "2004-09-07");
  b = {0xFF, 0xFF, 0xFF};
  ASSERT_TRUE(FormatDate(b.data(), b.size(), out));
  EXPECT_EQ(Text(out), CivilRef(0xFFFFFF));
}

// ---- smalldatetime and datetime

TEST(FormatSmallDate, DatePartOnly) {
  EXPECT_EQ(Text(FormatSmallDate(0)), "1900-01-01");
  EXPECT_EQ(Text(FormatSmallDate(0xFFFF0000u)), "2079-06-06");
  EXPECT_EQ(Text(FormatSmallDate(0x0000FFFFu)), "1900-01-01");  // the minutes never change it
  EXPECT_EQ(Text(FormatSmallDate(0xFFFF059Fu)), "2079-06-06");
}

TEST(FormatSmallDateTime, ShowsTheStoredMinutes) {
  struct Case {
    DWORD value;
    std::string text;
  } cases[] = {
      {0, "1900-01-01 00:00:00"},
      {720, "1900-01-01 12:00:00"},
      {61, "1900-01-01 01:01:00"},
      {(38235u << 16) | 1439, "2004-09-07 23:59:00"},
      {0xFFFF059Fu, "2079-06-06 23:59:00"},       // the type's last value
      {1440, "1900-01-02 00:00:00"},              // an impossible minute count carries
      {0xFFFFFFFFu, CivilRef(Day0001(1900, 1, 1) + 0xFFFF + 65535 / 1440) + " 12:15:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(Text(FormatSmallDateTime(c.value)), c.text) << std::hex << c.value;

  Bytes b = LE((38235u << 16) | 754, 4);
  CString out;
  ASSERT_TRUE(FormatSmallDateTime(b.data(), b.size(), out));
  EXPECT_EQ(Text(out), "2004-09-07 12:34:00");
}

TEST(FormatDateTime, ZeroIsAValueAndMillisecondsRoundLikeTheServer) {
  struct Case {
    DWORD ticks;
    LONG days;
    const char* text;
  } cases[] = {
      {0, 0, "1900-01-01 00:00:00.000"},
      {300, 0, "1900-01-01 00:00:01.000"},  // every field in two digits
      {1, 0, "1900-01-01 00:00:00.003"},
      {2, 0, "1900-01-01 00:00:00.007"},
      {3, 0, "1900-01-01 00:00:00.010"},
      {4, 0, "1900-01-01 00:00:00.013"},
      {5, 0, "1900-01-01 00:00:00.017"},
      {299, 0, "1900-01-01 00:00:00.997"},
      {300 * 3600 * 13 + 300 * 60 * 7 + 300 * 9 + 150, 38235, "2004-09-07 13:07:09.500"},
      {25919999, 0, "1900-01-01 23:59:59.997"},  // the last tick of a day
      {25920000, 0, "1900-01-02 00:00:00.000"},   // a tick count past the day carries
      {1, -1, "1899-12-31 00:00:00.003"},
      {0, -53690, "1753-01-01 00:00:00.000"},     // the type's first day
      {0, -200000, "1352-06-02 00:00:00.000"},    // before 1601 works too
      {25919999, 2958463, "9999-12-31 23:59:59.997"},
      {0, 2958464, "10000-01-01 00:00:00.000"},
  };
  for (const Case& c : cases) EXPECT_EQ(Text(FormatDateTime(c.ticks, c.days)), c.text) << c.ticks << " " << c.days;

  // Extreme words still give a text.
  EXPECT_FALSE(FormatDateTime(0xFFFFFFFFu, std::numeric_limits<LONG>::min()).IsEmpty());
  EXPECT_FALSE(FormatDateTime(0xFFFFFFFFu, std::numeric_limits<LONG>::max()).IsEmpty());
}

TEST(FormatDateTime, FromStoredBytes) {
  Bytes b = {0x00, 0x00, 0x00, 0x00, 0x5B, 0x95, 0x00, 0x00};  // ticks 0, day 0x955B
  CString out;
  ASSERT_TRUE(FormatDateTime(b.data(), b.size(), out));
  EXPECT_EQ(Text(out), "2004-09-07 00:00:00.000");
  b = Concat(LE(1, 4), LE(DWORD(-1), 4));
  ASSERT_TRUE(FormatDateTime(b.data(), b.size(), out));
  EXPECT_EQ(Text(out), "1899-12-31 00:00:00.003");
}

// ---- real, preview text

TEST(RealToString, PreviewText) {
  testsupport::ModuleFolderScope scope;
  auto engine = std::make_unique<CSQLServer2008>();
  struct Case {
    DWORD bits;
    const char* text;
  } cases[] = {
      {0x3FC00000u, "1.500000e+00"},   // 1.5
      {0x80000000u, "-0.000000e+00"},  // -0.0: eight hex digits, so its sign is kept
      {0x0FFFFFFFu, "0.000000e+00"},   // top four bits 0: shown as 0.0
      {0x00000001u, "0.000000e+00"},
      {0x10000000u, "2.524355e-29"},   // the smallest pattern shown as itself
      {0x7F7FFFFFu, "3.402823e+38"},
      {0xBDCCCCCDu, "-1.000000e-01"},
  };
  for (const Case& c : cases) EXPECT_EQ(Text(engine->RealToString(c.bits)), c.text) << std::hex << c.bits;
}

// ---- decimal, numeric

TEST(FormatDecimal, LayoutAndSigns) {
  struct Case {
    BYTE sign;
    UINT64 magnitude;
    int precision, scale;
    const char* text;
  } cases[] = {
      {1, 150, 5, 2, "001.50"},
      {0, 123, 5, 2, "-01.23"},
      {1, 7, 5, 0, "00007"},
      {1, 123, 3, 1, "12.3"},
      {0, 123, 3, 1, "-12.3"},
      {1, 1, 3, 1, "00.1"},
      {0, 1, 3, 1, "-0.1"},      // the minus sign takes one of the three places
      {0, 1250, 4, 2, "-12.50"},
      {0, 0, 3, 1, "00.0"},      // a negative zero is zero
      {2, 5, 2, 0, "05"},        // any sign byte but 0 is positive
      {1, 5, 3, 3, ".005"},
      {0, 1, 2, 2, "-.01"},      // the sign never lands among the fraction digits
      {0, 123, 3, 3, "-.123"},
      {1, 12345, 3, 0, "12345"}, // wider than the precision: every digit kept
      {0, 12345, 3, 1, "-1234.5"},
      {1, 0, 0, 0, "0"},
  };
  for (const Case& c : cases) {
    Bytes b = Concat({c.sign}, LE(c.magnitude, 4));
    CString out;
    ASSERT_TRUE(FormatDecimal(b.data(), b.size(), c.precision, c.scale, out)) << c.text;
    EXPECT_EQ(Text(out), c.text);
  }
}

TEST(FormatDecimal, ThirtyEightDigitsExact) {
  UINT128 max38 = 1;
  for (int i = 0; i < 38; ++i) max38 *= 10;
  max38 -= 1;
  const std::string nines(38, '9');
  struct Case {
    BYTE sign;
    UINT128 magnitude;
    int precision, scale;
    std::string text;
  } cases[] = {
      {1, max38, 38, 0, nines},
      {0, max38, 38, 0, "-" + nines},
      {1, max38, 38, 38, "." + nines},
      {0, max38, 38, 38, "-." + nines},
      {1, max38, 38, 10, std::string(28, '9') + "." + std::string(10, '9')},
      {0, max38, 38, 10, "-" + std::string(28, '9') + "." + std::string(10, '9')},
      {1, 1, 38, 38, "." + std::string(37, '0') + "1"},
      {0, 1, 38, 38, "-." + std::string(37, '0') + "1"},
      {1, UINT128(1) << 64, 20, 0, "18446744073709551616"},  // just past 64 bits
      {0, ~UINT128(0), 38, 0, "-340282366920938463463374607431768211455"},  // every bit set
  };
  for (const Case& c : cases) {
    Bytes b = Concat({c.sign}, LE(c.magnitude, 16));
    CString out;
    ASSERT_TRUE(FormatDecimal(b.data(), b.size(), c.precision, c.scale, out)) << c.text;
    EXPECT_EQ(Text(out), c.text);
  }
  // The same value in every stored magnitude width.
  for (size_t width : {4u, 8u, 12u, 16u}) {
    Bytes b = Concat({0}, LE(987654321, width));
    CString out;
    ASSERT_TRUE(FormatDecimal(b.data(), b.size(), 18, 4, out));
    EXPECT_EQ(Text(out), "-0000000098765.4321") << width;
  }
}

// The preview's plain forms: no padding, a digit before the point, every fraction digit.
TEST(FormatPlain, DecimalAndMoneyAtTheirScale) {
  struct Case {
    BYTE sign;
    UINT64 magnitude;
    int scale;
    const char* text;
  } decimals[] = {
      {1, 150, 2, "1.50"},    {0, 123, 2, "-1.23"},  {1, 7, 0, "7"},        {1, 5, 3, "0.005"},
      {0, 1, 2, "-0.01"},     {0, 0, 1, "0.0"},      {1, 0, 0, "0"},        {1, 12345, 1, "1234.5"},
      {0, 987654321, 4, "-98765.4321"},
  };
  for (const Case& c : decimals) {
    Bytes b = Concat({c.sign}, LE(c.magnitude, 8));
    CString out;
    ASSERT_TRUE(FormatDecimalPlain(b.data(), b.size(), c.scale, out)) << c.text;
    EXPECT_EQ(Text(out), c.text);
  }
  CString out;
  Bytes one = {1, 5};
  EXPECT_FALSE(FormatDecimalPlain(one.data(), one.size(), 256, out));
  EXPECT_FALSE(FormatDecimalPlain(one.data(), 18, 0, out));

  const std::pair<INT64, const char*> money[] = {
      {180000, "18.0000"}, {-12345, "-1.2345"}, {123, "0.0123"}, {0, "0.0000"},
      {std::numeric_limits<INT64>::min(), "-922337203685477.5808"},
  };
  for (const auto& [value, text] : money) {
    Bytes b = LE(UINT64(value), 8);
    ASSERT_TRUE(FormatMoneyPlain(b.data(), b.size(), out)) << text;
    EXPECT_EQ(Text(out), text);
  }
  Bytes small = LE(std::uint32_t(-15000), 4);
  ASSERT_TRUE(FormatSmallMoneyPlain(small.data(), small.size(), out));
  EXPECT_EQ(Text(out), "-1.5000");
}

// ---- money, smallmoney

TEST(FormatMoney, ExactTenThousandths) {
  struct Case {
    INT64 value;
    int precision;
    const char* text;
  } cases[] = {
      {15000, 19, "000000000000001.5000"},
      {-15000, 19, "-000000000000001.5000"},
      {123, 19, "000000000000000.0123"},
      {-123, 19, "-000000000000000.0123"},
      {-12345, 19, "-000000000000001.2345"},  // minus, fourteen zeros, 1.2345
      {0, 19, "000000000000000.0000"},
      {std::numeric_limits<INT64>::max(), 19, "922337203685477.5807"},
      {std::numeric_limits<INT64>::min(), 19, "-922337203685477.5808"},
      {15000, 0, "000000000000001.5000"},     // no precision: the type's own
      {15000, 2, "1.5000"},                   // a short precision never cuts digits
  };
  for (const Case& c : cases) {
    Bytes b = LE(UINT64(c.value), 8);
    CString out;
    ASSERT_TRUE(FormatMoney(b.data(), b.size(), c.precision, out)) << c.text;
    EXPECT_EQ(Text(out), c.text);
  }
  // As a data page holds it: UnitPrice 18.00 of a real product row, low half first.
  Bytes stored = {0x20, 0xBF, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00};
  CString out;
  ASSERT_TRUE(FormatMoney(stored.data(), stored.size(), 19, out));
  EXPECT_EQ(Text(out), "000000000000018.0000");
}

TEST(FormatSmallMoney, ExactTenThousandths) {
  struct Case {
    std::int32_t value;
    int precision;
    const char* text;
  } cases[] = {
      {-12345, 10, "-000001.2345"},  // minus, five zeros, 1.2345
      {-123, 10, "-000000.0123"},
      {15000, 10, "000001.5000"},
      {std::numeric_limits<std::int32_t>::max(), 10, "214748.3647"},
      {std::numeric_limits<std::int32_t>::min(), 10, "-214748.3648"},
      {-123, 0, "-000000.0123"},
      {-123, 19, "-000000000000000.0123"},  // the same text a money column of that precision gives
  };
  for (const Case& c : cases) {
    Bytes b = LE(UINT64(DWORD(c.value)), 4);
    CString out;
    ASSERT_TRUE(FormatSmallMoney(b.data(), b.size(), c.precision, out)) << c.text;
    EXPECT_EQ(Text(out), c.text);
  }
}

// ---- float, real

bool FloatRoundTrips(double v, std::string* text) {
  Bytes b = LE(std::bit_cast<UINT64>(v), 8);
  CString out;
  if (!FormatFloat(b.data(), b.size(), out)) return false;
  *text = out.str();
  char* end = nullptr;
  double back = std::strtod(out.c_str(), &end);
  return *end == '\0' && std::bit_cast<UINT64>(back) == std::bit_cast<UINT64>(v);
}

// The text reads back to the same float both directly and through a double.
bool RealRoundTrips(float v, std::string* text) {
  Bytes b = LE(std::bit_cast<DWORD>(v), 4);
  CString out;
  if (!FormatReal(b.data(), b.size(), out)) return false;
  *text = out.str();
  char* end = nullptr;
  float direct = std::strtof(out.c_str(), &end);
  if (*end != '\0') return false;
  float viaDouble = float(std::strtod(out.c_str(), nullptr));
  return std::bit_cast<DWORD>(direct) == std::bit_cast<DWORD>(v) &&
         std::bit_cast<DWORD>(viaDouble) == std::bit_cast<DWORD>(v);
}

TEST(FormatFloat, ShortestTextThatReadsBackExactly) {
  const double awkward[] = {0.0, -0.0, 0.1, 1.5, -123.456, 1.0 / 3, M_PI, 1e23, 9007199254740993.0,
                            DBL_MAX, -DBL_MAX, DBL_MIN, std::numeric_limits<double>::denorm_min(),
                            std::bit_cast<double>(UINT64(0x000FFFFFFFFFFFFF)),  // largest denormal
                            5e-324, 2.2250738585072011e-308, 1e-300, 123456789012345680000.0};
  std::string text;
  for (double v : awkward) EXPECT_TRUE(FloatRoundTrips(v, &text)) << v << " -> " << text;
  // A deterministic spread over the whole pattern space.
  UINT64 x = 0x9E3779B97F4A7C15ull;
  int failures = 0;
  for (int i = 0; i < 200000 && failures < 5; ++i) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    double v = std::bit_cast<double>(x);
    if (!std::isfinite(v)) continue;
    if (!FloatRoundTrips(v, &text)) {
      ADD_FAILURE() << std::hex << x << " -> " << text;
      ++failures;
    }
  }
  FloatRoundTrips(0.1, &text);
  EXPECT_EQ(text, "0.1");
  FloatRoundTrips(-0.0, &text);
  EXPECT_EQ(text, "-0");
  FloatRoundTrips(1.5, &text);
  EXPECT_EQ(text, "1.5");
}

TEST(FormatReal, ShortestTextThatReadsBackExactly) {
  const float awkward[] = {0.0f, -0.0f, 0.1f, 1.5f, -123.456f, 1.0f / 3, FLT_MAX, -FLT_MAX, FLT_MIN,
                           std::numeric_limits<float>::denorm_min(),
                           std::bit_cast<float>(DWORD(0x007FFFFF)),  // largest denormal
                           std::bit_cast<float>(DWORD(0x0FFFFFFF)),  // shown as 0.0 in the preview
                           16777217.0f, 3.4028235e38f};
  std::string text;
  for (float v : awkward) EXPECT_TRUE(RealRoundTrips(v, &text)) << v << " -> " << text;
  int failures = 0;
  for (UINT64 p = 0; p <= 0xFFFFFFFFull && failures < 5; p += 4093) {
    float v = std::bit_cast<float>(DWORD(p));
    if (!std::isfinite(v)) continue;
    if (!RealRoundTrips(v, &text)) {
      ADD_FAILURE() << std::hex << p << " -> " << text;
      ++failures;
    }
  }
  RealRoundTrips(0.1f, &text);
  EXPECT_EQ(text, "0.1");
  RealRoundTrips(std::numeric_limits<float>::denorm_min(), &text);
  EXPECT_EQ(text, "1e-45");
  // The one magnitude whose shortest text, read as a double and narrowed, lands on the
  // neighbouring float: it gets nine digits instead.
  for (DWORD bits : {0x15AE43FDu, 0x95AE43FDu}) {
    EXPECT_TRUE(RealRoundTrips(std::bit_cast<float>(bits), &text)) << text;
    EXPECT_EQ(text.size(), bits & 0x80000000u ? 15u : 14u) << text;
  }
}

TEST(FormatFloatAndReal, NonFiniteValuesAreNotNumbers) {
  CString out = "stale";
  for (double v : {std::nan(""), -std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    Bytes b = LE(std::bit_cast<UINT64>(v), 8);
    EXPECT_FALSE(FormatFloat(b.data(), b.size(), out));
    EXPECT_TRUE(out.IsEmpty());
    Bytes r = LE(std::bit_cast<DWORD>(float(v)), 4);
    EXPECT_FALSE(FormatReal(r.data(), r.size(), out));
    EXPECT_TRUE(out.IsEmpty());
  }
}

// ---- time, datetime2, datetimeoffset

TEST(FormatTime, EveryScale) {
  struct Case {
    int scale;
    UINT64 ticks;
    const char* text;
  } cases[] = {
      {7, Ticks(1, 2, 3, 5000000, 7), "01:02:03.5000000"},
      {0, Ticks(1, 2, 3, 0, 0), "01:02:03"},
      {1, Ticks(1, 2, 3, 5, 1), "01:02:03.5"},
      {2, Ticks(23, 59, 59, 99, 2), "23:59:59.99"},
      {3, Ticks(0, 0, 0, 7, 3), "00:00:00.007"},
      {4, Ticks(12, 0, 0, 1, 4), "12:00:00.0001"},
      {5, Ticks(12, 0, 0, 12345, 5), "12:00:00.12345"},
      {6, Ticks(0, 0, 1, 0, 6), "00:00:01.000000"},
      {7, Ticks(1, 0, 0, 0, 7), "01:00:00.0000000"},
      {7, Ticks(23, 59, 59, 9999999, 7), "23:59:59.9999999"},
  };
  for (const Case& c : cases) {
    Bytes b = TimeBytes(c.ticks, c.scale);
    CString out;
    ASSERT_TRUE(FormatTime(b.data(), b.size(), c.scale, out)) << c.text;
    EXPECT_EQ(Text(out), c.text);
  }
}

TEST(FormatTime, OutOfDayAndBadScaleFail) {
  CString out = "stale";
  Bytes b = TimeBytes(Ticks(24, 0, 0, 0, 7), 7);
  EXPECT_FALSE(FormatTime(b.data(), b.size(), 7, out));
  EXPECT_TRUE(out.IsEmpty());
  b = {0xFF, 0xFF, 0xFF};  // 16777215 s at scale 0
  EXPECT_FALSE(FormatTime(b.data(), b.size(), 0, out));
  for (int scale : {-1, 8, 255}) {
    b = Bytes(5, 0);
    EXPECT_FALSE(FormatTime(b.data(), b.size(), scale, out)) << scale;
  }
}

TEST(FormatDateTime2, SeveralScales) {
  struct Case {
    int scale;
    UINT64 ticks;
    std::int64_t days;
    const char* text;
  } cases[] = {
      {7, Ticks(12, 34, 56, 1234567, 7), Day0001(2024, 2, 29), "2024-02-29 12:34:56.1234567"},
      {0, 0, 0, "0001-01-01 00:00:00"},
      {3, Ticks(23, 59, 59, 999, 3), 3652058, "9999-12-31 23:59:59.999"},
      {4, Ticks(8, 5, 0, 50, 4), Day0001(1600, 12, 31), "1600-12-31 08:05:00.0050"},
      {2, Ticks(0, 0, 0, 1, 2), Day0001(1900, 1, 1), "1900-01-01 00:00:00.01"},
  };
  for (const Case& c : cases) {
    Bytes b = DateTime2Bytes(c.ticks, c.days, c.scale);
    CString out;
    ASSERT_TRUE(FormatDateTime2(b.data(), b.size(), c.scale, out)) << c.text;
    EXPECT_EQ(Text(out), c.text);
  }
}

TEST(FormatDateTimeOffset, ShowsLocalTimeWithItsOffset) {
  struct Case {
    int scale;
    UINT64 utcTicks;
    std::int64_t utcDays;
    int offset;
    const char* text;
  } cases[] = {
      {7, Ticks(3, 0, 0, 0, 7), Day0001(2024, 1, 1), -300, "2023-12-31 22:00:00.0000000 -05:00"},
      {7, Ticks(20, 0, 0, 1, 7), Day0001(2024, 1, 1), 330, "2024-01-02 01:30:00.0000001 +05:30"},
      {0, Ticks(12, 0, 0, 0, 0), Day0001(2024, 6, 1), 0, "2024-06-01 12:00:00 +00:00"},
      {3, Ticks(10, 0, 0, 250, 3), Day0001(2008, 2, 28), 840, "2008-02-29 00:00:00.250 +14:00"},
      {3, Ticks(10, 0, 0, 250, 3), Day0001(2008, 3, 1), -840, "2008-02-29 20:00:00.250 -14:00"},
      {5, Ticks(0, 0, 0, 0, 5), 0, -60, "0000-12-31 23:00:00.00000 -01:00"},
      {2, Ticks(23, 0, 0, 0, 2), 3652058, 120, "10000-01-01 01:00:00.00 +02:00"},
  };
  for (const Case& c : cases) {
    Bytes b = OffsetBytes(c.utcTicks, c.utcDays, c.offset, c.scale);
    CString out;
    ASSERT_TRUE(FormatDateTimeOffset(b.data(), b.size(), c.scale, out)) << c.text;
    EXPECT_EQ(Text(out), c.text);
  }
  CString out;
  Bytes b = OffsetBytes(0, 0, 841, 7);
  EXPECT_FALSE(FormatDateTimeOffset(b.data(), b.size(), 7, out));
  b = OffsetBytes(0, 0, -841, 7);
  EXPECT_FALSE(FormatDateTimeOffset(b.data(), b.size(), 7, out));
}

// ---- lengths: every raw-byte formatter refuses a wrong length and never reads past it

TEST(Formatters, WrongLengthsFailWithAnEmptyText) {
  using Fn = bool (*)(const BYTE*, size_t, CString&);
  struct Case {
    const char* name;
    size_t goodLength;
    Fn fn;
  } cases[] = {
      {"date", 3, [](const BYTE* d, size_t n, CString& o) { return FormatDate(d, n, o); }},
      {"datetime", 8, [](const BYTE* d, size_t n, CString& o) { return FormatDateTime(d, n, o); }},
      {"smalldatetime", 4, [](const BYTE* d, size_t n, CString& o) { return FormatSmallDateTime(d, n, o); }},
      {"money", 8, [](const BYTE* d, size_t n, CString& o) { return FormatMoney(d, n, 19, o); }},
      {"smallmoney", 4, [](const BYTE* d, size_t n, CString& o) { return FormatSmallMoney(d, n, 10, o); }},
      {"money plain", 8, [](const BYTE* d, size_t n, CString& o) { return FormatMoneyPlain(d, n, o); }},
      {"smallmoney plain", 4, [](const BYTE* d, size_t n, CString& o) { return FormatSmallMoneyPlain(d, n, o); }},
      {"float", 8, [](const BYTE* d, size_t n, CString& o) { return FormatFloat(d, n, o); }},
      {"real", 4, [](const BYTE* d, size_t n, CString& o) { return FormatReal(d, n, o); }},
      {"time(7)", 5, [](const BYTE* d, size_t n, CString& o) { return FormatTime(d, n, 7, o); }},
      {"time(3)", 4, [](const BYTE* d, size_t n, CString& o) { return FormatTime(d, n, 3, o); }},
      {"time(0)", 3, [](const BYTE* d, size_t n, CString& o) { return FormatTime(d, n, 0, o); }},
      {"datetime2(7)", 8, [](const BYTE* d, size_t n, CString& o) { return FormatDateTime2(d, n, 7, o); }},
      {"datetime2(0)", 6, [](const BYTE* d, size_t n, CString& o) { return FormatDateTime2(d, n, 0, o); }},
      {"datetimeoffset(7)", 10, [](const BYTE* d, size_t n, CString& o) { return FormatDateTimeOffset(d, n, 7, o); }},
      {"datetimeoffset(4)", 9, [](const BYTE* d, size_t n, CString& o) { return FormatDateTimeOffset(d, n, 4, o); }},
  };
  for (const Case& c : cases) {
    // Each buffer is exactly as long as the length given, so a read past it is a sanitizer error.
    for (size_t n : {c.goodLength - 1, c.goodLength + 1, size_t(0)}) {
      auto buf = std::make_unique<BYTE[]>(n ? n : 1);
      CString out = "stale";
      EXPECT_FALSE(c.fn(buf.get(), n, out)) << c.name << " length " << n;
      EXPECT_TRUE(out.IsEmpty()) << c.name;
    }
    CString out = "stale";
    EXPECT_FALSE(c.fn(nullptr, c.goodLength, out)) << c.name;
    EXPECT_TRUE(out.IsEmpty()) << c.name;
    auto buf = std::make_unique<BYTE[]>(c.goodLength);
    for (size_t i = 0; i < c.goodLength; ++i) buf[i] = 0;
    EXPECT_TRUE(c.fn(buf.get(), c.goodLength, out)) << c.name;
  }
  // decimal: a sign byte and 1 to 16 magnitude bytes; precision and scale as a column holds them.
  CString out;
  for (size_t n : {size_t(0), size_t(1), size_t(18)}) {
    auto buf = std::make_unique<BYTE[]>(n ? n : 1);
    EXPECT_FALSE(FormatDecimal(buf.get(), n, 10, 2, out)) << n;
  }
  Bytes ok = {1, 5};
  EXPECT_TRUE(FormatDecimal(ok.data(), ok.size(), 3, 0, out));
  EXPECT_EQ(Text(out), "005");
  EXPECT_FALSE(FormatDecimal(nullptr, 5, 10, 2, out));
  EXPECT_FALSE(FormatDecimal(ok.data(), ok.size(), 256, 0, out));
  EXPECT_FALSE(FormatDecimal(ok.data(), ok.size(), 10, -1, out));
}

}  // namespace
