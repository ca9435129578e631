#include "settings.h"

#include "platform/files.h"
#include "platform/module.h"

namespace {
// A settings file is a few lines; anything larger is not one.
constexpr size_t kMaxSettingsBytes = 1 << 20;

std::string_view Trimmed(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::string_view();
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}
}  // namespace

std::vector<SettingLine> SettingLines(std::string_view text) {
  std::vector<SettingLine> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    lines.push_back({line.substr(0, eq), line.substr(eq + 1)});
  }
  return lines;
}

std::string SettingsFilePath() { return GetStateFolderPath() + "sql.settings"; }

bool ReadSettingsFile(const std::string& path, std::string& text) {
  return ReadWholeFile(path.c_str(), text, kMaxSettingsBytes);
}

SettingLookup FindSetting(const std::string& text, const char* key, std::string& value) {
  if (!key) return SettingLookup::NoKey;
  for (const SettingLine& line : SettingLines(text)) {
    if (Trimmed(line.key) != key) continue;
    value = std::string(Trimmed(line.value));
    return SettingLookup::Found;
  }
  return SettingLookup::NoKey;
}

SettingLookup ReadSetting(const char* key, std::string& value) {
  std::string text;
  if (!ReadSettingsFile(SettingsFilePath(), text)) return SettingLookup::NoFile;
  return FindSetting(text, key, value);
}
