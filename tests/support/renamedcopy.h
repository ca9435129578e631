// A copy of a visible fixture with names rewritten in its pages, for showing what names beyond
// Latin-1 do: UTF-16 texts replaced by texts of as many units (so every row keeps its length),
// and the boot page's database name replaced.
#pragma once

#include <string>

#include "support/fixtures.h"

namespace testsupport {

// Replaces every UTF-16LE occurrence of `from` in `bytes` by `to` (of the same length);
// returns how many there were.
inline int ReplaceUtf16(std::string& bytes, const std::u16string& from, const std::u16string& to) {
  auto encode = [](const std::u16string& text) {
    std::string out;
    for (char16_t u : text) {
      out += char(u & 0xFF);
      out += char(u >> 8);
    }
    return out;
  };
  const std::string a = encode(from), b = encode(to);
  if (a.size() != b.size() || a.empty()) return -1;
  int count = 0;
  for (size_t at = bytes.find(a); at != std::string::npos; at = bytes.find(a, at + b.size())) {
    bytes.replace(at, a.size(), b);
    ++count;
  }
  return count;
}

// Writes `name` (and a zero unit) into the database name field of the boot page (page 9).
inline void SetBootDatabaseName(std::string& bytes, const std::u16string& name) {
  const size_t field = 9 * 8192 + 148;
  for (size_t i = 0; i <= name.size() && field + 2 * i + 1 < bytes.size(); ++i) {
    const char16_t u = i < name.size() ? name[i] : u'\0';
    bytes[field + 2 * i] = char(u & 0xFF);
    bytes[field + 2 * i + 1] = char(u >> 8);
  }
}

// Northwind (mdf2008_northwnd_itsligo.mdf) with table Shippers named "運送業者一覧表丁",
// every column CompanyName named "会社名称一二三四五六七" and the database named "北風貿易",
// written to `path`. False when the fixture is not there or did not hold the names.
inline bool WriteCjkNorthwind(const std::string& path) {
  const std::string source = FixturePath("mdf2008_northwnd_itsligo.mdf");
  if (source.empty()) return false;
  std::string bytes = ReadFile(source);
  if (ReplaceUtf16(bytes, u"Shippers", u"\u904B\u9001\u696D\u8005\u4E00\u89A7\u8868\u4E01") <= 0) return false;
  if (ReplaceUtf16(bytes, u"CompanyName",
                   u"\u4F1A\u793E\u540D\u79F0\u4E00\u4E8C\u4E09\u56DB\u4E94\u516D\u4E03") <= 0)
    return false;
  SetBootDatabaseName(bytes, u"\u5317\u98A8\u8CBF\u6613");
  WriteFile(path, bytes);
  return true;
}

// The same names as UTF-8, as the program carries them.
constexpr const char* kCjkTable = "\xE9\x81\x8B\xE9\x80\x81\xE6\xA5\xAD\xE8\x80\x85\xE4\xB8\x80\xE8\xA6\xA7\xE8\xA1\xA8\xE4\xB8\x81";
constexpr const char* kCjkColumn =
    "\xE4\xBC\x9A\xE7\xA4\xBE\xE5\x90\x8D\xE7\xA7\xB0\xE4\xB8\x80\xE4\xBA\x8C\xE4\xB8\x89\xE5\x9B\x9B\xE4\xBA\x94\xE5\x85\xAD\xE4\xB8\x83";
constexpr const char* kCjkDatabase = "\xE5\x8C\x97\xE9\xA2\xA8\xE8\xB2\xBF\xE6\x98\x93";

// bak2008_library_small.bak with its set name ("Library-Full Database Backup", 28 units)
// rewritten to `name` (28 units too), written to `path`. False without the fixture.
inline bool WriteRenamedSetBackup(const std::string& path, const std::u16string& name) {
  const std::string source = FixturePath("bak2008_library_small.bak");
  if (source.empty()) return false;
  std::string bytes = ReadFile(source);
  if (ReplaceUtf16(bytes, u"Library-Full Database Backup", name) <= 0) return false;
  WriteFile(path, bytes);
  return true;
}

// Set names beyond Latin-1: Chinese holding U+4E00 (whose low byte is 0), and Cyrillic; each
// as stored and as the program carries it.
struct RenamedSet {
  std::u16string stored;
  const char* utf8;
};
inline const RenamedSet kRenamedSets[] = {
    {u"\u56FE\u4E66\u9986\u4E00\u53F7\u9986\u85CF\u5B8C\u6574\u6570\u636E\u5E93\u5907\u4EFD\u4E8E\u4E8C"
     u"\u3007\u4E00\u516D\u5E74\u5341\u4E8C\u6708\u5341\u4E8C\u65E5\u665A\u4E0A",
     "\xe5\x9b\xbe\xe4\xb9\xa6\xe9\xa6\x86\xe4\xb8\x80\xe5\x8f\xb7\xe9\xa6\x86\xe8\x97\x8f\xe5\xae\x8c\xe6\x95\xb4"
     "\xe6\x95\xb0\xe6\x8d\xae\xe5\xba\x93\xe5\xa4\x87\xe4\xbb\xbd\xe4\xba\x8e\xe4\xba\x8c\xe3\x80\x87\xe4\xb8\x80"
     "\xe5\x85\xad\xe5\xb9\xb4\xe5\x8d\x81\xe4\xba\x8c\xe6\x9c\x88\xe5\x8d\x81\xe4\xba\x8c\xe6\x97\xa5\xe6\x99\x9a"
     "\xe4\xb8\x8a"},
    {u"\u0411\u0438\u0431\u043B\u0438\u043E\u0442\u0435\u043A\u0430: \u043F\u043E\u043B\u043D\u0430\u044F "
     u"\u043A\u043E\u043F\u0438\u044F \u0431\u0430\u0437",
     "\xd0\x91\xd0\xb8\xd0\xb1\xd0\xbb\xd0\xb8\xd0\xbe\xd1\x82\xd0\xb5\xd0\xba\xd0\xb0: \xd0\xbf\xd0\xbe\xd0\xbb"
     "\xd0\xbd\xd0\xb0\xd1\x8f \xd0\xba\xd0\xbe\xd0\xbf\xd0\xb8\xd1\x8f \xd0\xb1\xd0\xb0\xd0\xb7"},
};

}  // namespace testsupport
