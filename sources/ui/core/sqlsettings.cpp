#include "sqlsettings.h"

#include <cstdlib>

#include "common/settings.h"
#include "ui/core/programfolder.h"

SqlSettings SqlSettings::Parse(std::string_view text) {
  SqlSettings settings;
  settings.m_bFileFound = true;
  // A key given twice: the later line wins.
  for (const SettingLine& line : SettingLines(text)) settings.m_values[std::string(line.key)] = std::string(line.value);
  return settings;
}

SqlSettings SqlSettings::Read(const std::string& path) {
  std::string bytes;
  if (!ReadSettingsFile(path, bytes)) return SqlSettings();
  return Parse(bytes);
}

SqlSettings SqlSettings::ReadProgramSettings() { return Read(StateFile(kSettingsFileName)); }

std::optional<std::string> SqlSettings::Value(std::string_view key) const {
  auto it = m_values.find(key);
  if (it == m_values.end()) return std::nullopt;
  return it->second;
}

int SqlSettings::ThreadSize(int current) const {
  auto v = Value("Thread_Size");
  return v ? std::atoi(v->c_str()) : current;
}

std::string SqlSettings::AvoidDuplicate() const {
  if (!m_bFileFound) return "0";
  return Value("Avoid_Duplicate").value_or("");
}
