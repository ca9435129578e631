// Pure formatters of what the windows show: texts built from the engine's records.
#pragma once

#include <string>
#include <string_view>

class CColumn;
class CTable;
struct SYSTEMTIME;

// A column of the object tree: "Name (varchar (50))", "Title (nvarchar (50))" (national types
// count characters, half the stored bytes), "Notes (nvarchar (max))", "Id (int)".
std::string ColumnLine(const CColumn& column);
// A table of the object tree: owner + "." + name.
std::string TableItemText(const CTable& table);
// When a backup set was written, as the set dialog lists it: "Mon 15/3/2010  2:05 PM".
// Day, month, year and hour without leading zeros, minutes in two digits, on a 12-hour clock
// ("12:30 PM" for half past noon, "12:07 AM" for seven past midnight).
std::string BackupSetDateText(const SYSTEMTIME& written);

// The rows a preview page shows, for the paging row: "rows 501-830", and " of 830" once the
// table's row count is known (`total` >= 0). `first` counts from 0; -1 when the page's place
// is not known ("830 rows"). A page without rows: "no rows".
std::string PagerRowsText(long long first, long long count, long long total);

// A table's export so far, for the progress dialog: "dbo.Orders: 12000 rows (page 340 of
// 1200)"; without pages to read, "dbo.Orders: 12000 rows".
std::string TableProgressText(const std::string& table, long long rows, long long pagesRead, long long pages);

// A file-system path as the program's message texts (UTF-8) show it: UTF-8 as it is; a byte
// that is no UTF-8 (a name written under a Latin-1 locale) as the Latin-1 letter it was.
std::string PathForDisplay(std::string_view path);

// Case-insensitive order of the tree's item texts (ASCII letters folded; ties broken by the
// bytes, so the order is total and the same on every run).
bool TreeTextLess(std::string_view a, std::string_view b);
