// "sql.settings" in the program's state folder, as the desktop reads it: the lines of the
// shared reader (common/settings.h) as a map. The key is the text before the first '=', the
// value the rest of the line without one trailing carriage return (a file edited on Windows
// still reads the same); a later line wins over an earlier one.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

class SqlSettings {
 public:
  // Reads the file; a missing or unreadable file gives settings with FileFound() false.
  static SqlSettings Read(const std::string& path);
  // The program's own file (StateFile("sql.settings")).
  static SqlSettings ReadProgramSettings();
  // From the bytes of a settings file.
  static SqlSettings Parse(std::string_view text);

  bool FileFound() const { return m_bFileFound; }
  std::optional<std::string> Value(std::string_view key) const;
  const std::map<std::string, std::string, std::less<>>& Values() const { return m_values; }

  // Connections and pool threads of an export to a server: the number the file gives (a text
  // that is not a number reads 0), or `current` when the file does not set it.
  int ThreadSize(int current) const;
  // "1" or "0" as the file says; "0" without the file, empty without the key.
  std::string AvoidDuplicate() const;

 private:
  bool m_bFileFound = false;
  std::map<std::string, std::string, std::less<>> m_values;
};
