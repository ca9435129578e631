#include "settings.h"

#include <cstring>

#include "platform/files.h"
#include "platform/module.h"

namespace {
// A settings file is a few lines; anything larger is not one.
constexpr size_t kMaxSettingsBytes = 1 << 20;

std::string Trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}
}  // namespace

SettingLookup FindSetting(const std::string& text, const char* key, std::string& value) {
  if (!key) return SettingLookup::NoKey;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    if (eq == std::string::npos || Trimmed(line.substr(0, eq)) != key) continue;
    value = Trimmed(line.substr(eq + 1));
    return SettingLookup::Found;
  }
  return SettingLookup::NoKey;
}

SettingLookup ReadSetting(const char* key, std::string& value) {
  std::string text;
  if (!ReadWholeFile((GetStateFolderPath() + "sql.settings").c_str(), text, kMaxSettingsBytes))
    return SettingLookup::NoFile;
  return FindSetting(text, key, value);
}
