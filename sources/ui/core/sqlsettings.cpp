#include "sqlsettings.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "ui/core/programfolder.h"

SqlSettings SqlSettings::Parse(std::string_view text) {
  SqlSettings settings;
  settings.m_bFileFound = true;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    settings.m_values[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
  }
  return settings;
}

SqlSettings SqlSettings::Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return SqlSettings();
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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
