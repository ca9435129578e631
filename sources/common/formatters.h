// Value texts of stored column values: the dates and times the row decoders show, and the
// exact number and date texts that the preview and the export both use.
//
// Every function is pure and re-entrant. The raw-byte functions read only [data, data + length);
// a length that does not match the type's stored size (or a null pointer) gives false and an
// empty text, so callers can mark the column "Corrupt". All stored integers are little-endian.
#pragma once

#include <cstddef>

#include "platform/cstring.h"
#include "platform/types.h"

// "date": whole days since 0001-01-01 (proleptic Gregorian), as "yyyy-mm-dd". A fraction (a
// time of day) is ignored. A negative, non-finite or absurdly large count gives "".
CString FormatDateFromDays(double days);

// "smalldatetime" word (high 16 bits: days since 1900-01-01; low 16 bits: minutes since
// midnight). FormatSmallDate gives the date part "yyyy-mm-dd" only; FormatSmallDateTime adds
// the stored time as " hh:mm:00" (minutes past a day carry into the next day).
CString FormatSmallDate(DWORD value);
CString FormatSmallDateTime(DWORD value);

// "datetime": ticks of 1/300 s since midnight and signed days since 1900-01-01, as
// "yyyy-mm-dd hh:mm:ss.mmm". The milliseconds are the ticks
// rounded the way SQL Server shows them (.000, .003, .007, .010, ...). Ticks past the end of a
// day carry into the next day; any day count gives a date (years outside 1753..9999 included).
CString FormatDateTime(DWORD ticks, LONG days);
// The same from the 8 stored bytes (ticks in bytes 0-3, days in bytes 4-7).
bool FormatDateTime(const BYTE* data, size_t length, CString& out);
// The same as FormatSmallDateTime from the 4 stored bytes.
bool FormatSmallDateTime(const BYTE* data, size_t length, CString& out);

// "decimal"/"numeric": a sign byte (0 = negative, anything else = positive) and a magnitude of
// 1 to 16 bytes (4, 8, 12 or 16 as stored), so length 2 to 17. The digits are zero-padded to the
// precision, a minus sign taking one of those places, and a point goes before the last `scale`
// digits: decimal(5,2) 1.50 -> "001.50", -1.23 -> "-01.23"; decimal(3,1) -0.1 -> "-0.1".
// The padding never cuts digits: a magnitude wider than the precision prints in full, and
// there are always at least `scale` fraction digits. Precision and scale outside 0..255 fail.
bool FormatDecimal(const BYTE* data, size_t length, int precision, int scale, CString& out);

// "money" (8 bytes) and "smallmoney" (4 bytes): a signed count of ten-thousandths, always
// printed with four fraction digits. The digits after the minus sign are zero-padded to the
// precision (money 19 -> "000000000000001.5000", "-000000000000001.5000"); a precision of 0 or
// less uses the type's own (19, 10).
bool FormatMoney(const BYTE* data, size_t length, int precision, CString& out);
bool FormatSmallMoney(const BYTE* data, size_t length, int precision, CString& out);

// The same numbers as the preview shows them: no padding, one digit before the point at
// least, `scale` digits after it (money four): "18.0000", "-1.23", "0.50", "7".
bool FormatDecimalPlain(const BYTE* data, size_t length, int scale, CString& out);
bool FormatMoneyPlain(const BYTE* data, size_t length, CString& out);
bool FormatSmallMoneyPlain(const BYTE* data, size_t length, CString& out);

// "float" (8-byte IEEE) and "real" (4-byte IEEE): the shortest text that reads back to the same
// bits ("0.1", "1.5e-300", "-0"). The real text also reads back exactly when it is parsed as a
// double first and then narrowed, as a server parsing a float literal does. NaN and infinities
// are not storable values: false.
bool FormatFloat(const BYTE* data, size_t length, CString& out);
bool FormatReal(const BYTE* data, size_t length, CString& out);

// Stored size of the time part of time(n), datetime2(n) and datetimeoffset(n): 3 bytes for
// scale 0-2, 4 for 3-4, 5 for 5-7; 0 for any other scale.
size_t TimeBytesForScale(int scale);

// "date": 3 bytes of days since 0001-01-01 -> "yyyy-mm-dd".
bool FormatDate(const BYTE* data, size_t length, CString& out);
// "time(n)": ticks of 10^-n s since midnight -> "hh:mm:ss" plus ".fffffff" with n digits when
// n > 0. A value of 24 hours or more is not a time of day: false.
bool FormatTime(const BYTE* data, size_t length, int scale, CString& out);
// "datetime2(n)": the time bytes, then the 3 date bytes -> "yyyy-mm-dd hh:mm:ss[.fffffff]".
bool FormatDateTime2(const BYTE* data, size_t length, int scale, CString& out);
// "datetimeoffset(n)": the UTC time and date as datetime2, then a signed 16-bit offset in
// minutes -> the local time with its offset, "yyyy-mm-dd hh:mm:ss[.fffffff] +hh:mm". An offset
// beyond +-14:00 fails. A local time before 0001-01-01 shows year 0000.
bool FormatDateTimeOffset(const BYTE* data, size_t length, int scale, CString& out);

// The preview text of a "float" value: scientific notation with `digits` digits after the
// point ("%.*e"; the column's precision, 53 as catalogs give it). A damaged precision stays
// within what printf prints: below 0 gives 0 digits, above 300 gives 300.
CString FormatScientific(double value, int digits);

// The preview text of a "real" value that both engines' RealToString give: the 4 bytes as one
// 32-bit pattern printed with "%e"; a pattern whose top four bits are all 0 prints as 0.
CString RealToStringText(DWORD bits);
