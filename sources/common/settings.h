// "sql.settings" in the program's state folder (GetStateFolderPath): lines of key=value. Each
// caller keeps its own defaults, which differ between a missing file and a missing key.
#pragma once

#include <string>

enum class SettingLookup { NoFile, NoKey, Found };

// The value of `key` (exact, case-sensitive; blanks around the key and the value and one
// trailing carriage return ignored). The first line with the key wins.
SettingLookup ReadSetting(const char* key, std::string& value);
// The same, from the text of a settings file.
SettingLookup FindSetting(const std::string& text, const char* key, std::string& value);
