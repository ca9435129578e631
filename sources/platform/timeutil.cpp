#include "timeutil.h"

#include <ctime>
#include <mutex>
#include <sys/time.h>

namespace {
std::mutex g_mutex;
std::function<std::int64_t()> g_clock;
std::function<int()> g_offset;

void FromEpochSeconds(std::int64_t secs, int millis, SYSTEMTIME& out) {
  std::int64_t days = secs / 86400;
  std::int64_t rem = secs % 86400;
  if (rem < 0) {
    rem += 86400;
    --days;
  }
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  out.wYear = WORD(y);
  out.wMonth = WORD(m);
  out.wDay = WORD(d);
  out.wDayOfWeek = WORD(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
  out.wHour = WORD(rem / 3600);
  out.wMinute = WORD((rem / 60) % 60);
  out.wSecond = WORD(rem % 60);
  out.wMilliseconds = WORD(millis);
}

void Now(std::int64_t& secs, int& millis) {
  std::function<std::int64_t()> clock;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    clock = g_clock;
  }
  if (clock) {
    secs = clock();
    millis = 0;
    return;
  }
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  secs = ts.tv_sec;
  millis = int(ts.tv_nsec / 1000000);
}
}  // namespace

void SetClockOverride(std::function<std::int64_t()> f) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_clock = std::move(f);
}

void SetLocalOffsetOverride(std::function<int()> f) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_offset = std::move(f);
}

void GetSystemTimeUtc(SYSTEMTIME& out) {
  std::int64_t s;
  int ms;
  Now(s, ms);
  FromEpochSeconds(s, ms, out);
}

void GetLocalTimeNow(SYSTEMTIME& out) {
  std::int64_t s;
  int ms;
  Now(s, ms);
  std::function<int()> offset;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    offset = g_offset;
  }
  long off = 0;
  if (offset) {
    off = offset();
  } else {
    time_t t = time_t(s);
    struct tm lt {};
    localtime_r(&t, &lt);
    off = lt.tm_gmtoff;
  }
  FromEpochSeconds(s + off, ms, out);
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + std::int64_t(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = std::int64_t(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

namespace {
constexpr std::int64_t kDays1601To1970 = 134774;
}

bool SystemTimeToFileTime(const SYSTEMTIME& st, std::uint64_t& ft) {
  if (st.wYear < 1601 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 || st.wDay > 31 || st.wHour > 23 ||
      st.wMinute > 59 || st.wSecond > 59 || st.wMilliseconds > 999)
    return false;
  std::int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay) + kDays1601To1970;
  std::int64_t secs = days * 86400 + st.wHour * 3600 + st.wMinute * 60 + st.wSecond;
  ft = std::uint64_t(secs) * 10000000ull + std::uint64_t(st.wMilliseconds) * 10000ull;
  return true;
}

bool FileTimeToSystemTime(std::uint64_t ft, SYSTEMTIME& st) {
  if (ft > 0x7FFFFFFFFFFFFFFFull) return false;
  std::int64_t secs = std::int64_t(ft / 10000000ull);
  int millis = int((ft / 10000ull) % 1000ull);
  FromEpochSeconds(secs - kDays1601To1970 * 86400, millis, st);
  return true;
}
