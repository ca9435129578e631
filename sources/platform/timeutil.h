// Calendar time records and conversions.
#pragma once

#include <cstdint>
#include <functional>

#include "types.h"

// Calendar date and time in eight 16-bit fields.
struct SYSTEMTIME {
  WORD wYear = 0;
  WORD wMonth = 0;
  WORD wDayOfWeek = 0;
  WORD wDay = 0;
  WORD wHour = 0;
  WORD wMinute = 0;
  WORD wSecond = 0;
  WORD wMilliseconds = 0;
};

void GetSystemTimeUtc(SYSTEMTIME& out);
void GetLocalTimeNow(SYSTEMTIME& out);
// Tests fix the clock: the function returns seconds since 1970 (UTC) and milliseconds.
void SetClockOverride(std::function<std::int64_t()> secondsSinceEpoch);
// Tests fix the local offset from UTC in seconds (east positive); unset uses the system zone.
void SetLocalOffsetOverride(std::function<int()> offsetSeconds);

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day);
void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day);

// 100-ns units since 1601-01-01 00:00 (proleptic Gregorian). Dates before 1601 fail.
bool SystemTimeToFileTime(const SYSTEMTIME& st, std::uint64_t& fileTime);
bool FileTimeToSystemTime(std::uint64_t fileTime, SYSTEMTIME& st);
