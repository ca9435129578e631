// "sql.settings" in the program's state folder (GetStateFolderPath): lines of key=value. One
// reader for the desktop and both engines. Each caller keeps its own defaults, which differ
// between a missing file and a missing key, and its own rule for a key given twice.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class SettingLookup { NoFile, NoKey, Found };

// One line of a settings file that holds '=': the text before the first '=' and the rest of
// the line, without one trailing carriage return (a file edited on Windows reads the same).
// Both views point into the text they were split from.
struct SettingLine {
  std::string_view key;
  std::string_view value;
};

// The lines of `text` that hold '=', in file order; lines without one are passed over.
std::vector<SettingLine> SettingLines(std::string_view text);

// "sql.settings" in the program's state folder.
std::string SettingsFilePath();
// The bytes of a settings file (at most the first MiB: anything larger is not one); false
// when the file cannot be opened.
bool ReadSettingsFile(const std::string& path, std::string& text);

// The value of `key` (exact, case-sensitive; blanks around the key and the value and one
// trailing carriage return ignored). The first line with the key wins.
SettingLookup ReadSetting(const char* key, std::string& value);
// The same, from the text of a settings file.
SettingLookup FindSetting(const std::string& text, const char* key, std::string& value);
