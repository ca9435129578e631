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
// When a backup set was written, as the set dialog lists it: "Mon 15/3/2010  2:5 PM".
// Numbers without leading zeros; 12:00 to 23:59 count from 0 again with " PM".
std::string BackupSetDateText(const SYSTEMTIME& written);

// A file-system path as the program's message texts (UTF-8) show it: UTF-8 as it is; a byte
// that is no UTF-8 (a name written under a Latin-1 locale) as the Latin-1 letter it was.
std::string PathForDisplay(std::string_view path);

// Case-insensitive order of the tree's item texts (ASCII letters folded; ties broken by the
// bytes, so the order is total and the same on every run).
bool TreeTextLess(std::string_view a, std::string_view b);
