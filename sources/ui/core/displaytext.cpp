#include "displaytext.h"

#include <algorithm>

#include "common/records.h"
#include "common/unicodetext.h"
#include "platform/timeutil.h"

namespace {

// Longest size a sized character or binary type can have; larger stored lengths are the
// (max) types.
constexpr WORD kLargestSizedLength = 8000;

bool IsOneOf(const CString& s, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return s == n; });
}

// ASCII only, whatever the process locale: the order must not change with the user's locale.
unsigned char Fold(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

}  // namespace

std::string ColumnLine(const CColumn& column) {
  const CString& type = column.m_strType;
  if (!IsOneOf(type, {"varchar", "nvarchar", "ntext", "text", "varbinary", "char", "nchar"}))
    return FormatString("%s (%s)", column.m_strName, type).str();
  const bool national = IsOneOf(type, {"nchar", "nvarchar"});
  const bool sized = !IsOneOf(type, {"text", "ntext"});
  if (sized && column.m_wLength > kLargestSizedLength)
    return FormatString("%s (%s (max))", column.m_strName, type).str();
  const int length = national ? column.m_wLength / 2 : column.m_wLength;
  return FormatString("%s (%s (%d))", column.m_strName, type, length).str();
}

std::string TableItemText(const CTable& table) { return (table.m_strOwner + "." + table.m_strName).str(); }

std::string BackupSetDateText(const SYSTEMTIME& t) {
  static const char* const kDays[] = {"Sun ", "Mon ", "Tue ", "Wed ", "Thu ", "Fri ", "Sat "};
  // 1970-01-01 was a Thursday.
  const std::int64_t days = DaysFromCivil(t.wYear, t.wMonth, t.wDay);
  const int weekday = int(((days % 7) + 7 + 4) % 7);
  // A 12-hour clock as people read one: 12 for noon and midnight, minutes in two digits.
  const bool pm = t.wHour >= 12;
  const unsigned hour = t.wHour % 12u == 0 ? 12u : t.wHour % 12u;
  return FormatString("%s%u/%u/%u  %u:%02u%s", kDays[weekday], unsigned(t.wDay), unsigned(t.wMonth), unsigned(t.wYear),
                      hour, unsigned(t.wMinute), pm ? " PM" : " AM")
      .str();
}

std::string PagerRowsText(long long first, long long count, long long total) {
  if (count <= 0) return "no rows";
  if (first < 0) return FormatString("%lld rows", count).str();
  std::string text = FormatString("rows %lld-%lld", first + 1, first + count).str();
  if (total >= 0) text += FormatString(" of %lld", total).str();
  return text;
}

std::string TableProgressText(const std::string& table, long long rows, long long pagesRead, long long pages) {
  std::string text = table + FormatString(": %lld %s", rows, rows == 1 ? "row" : "rows").str();
  if (pages > 0) text += FormatString(" (page %lld of %lld)", std::clamp(pagesRead, 0LL, pages), pages).str();
  return text;
}

bool TreeTextLess(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = Fold(a[i]), y = Fold(b[i]);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

std::string PathForDisplay(std::string_view path) { return ValidUtf8(path); }
