// Reading the public install scripts (instnwnd.sql, instpubs.sql) that tests take as ground
// truth: the file's text, and the pieces of statements that both the schema reader and the
// row reader take apart.
#pragma once

#include <cctype>
#include <string>
#include <vector>

#include "support/tsqllexer.h"

namespace testsupport {

inline std::string LowerText(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

inline std::string UpperText(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

inline void AppendUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | cp >> 6);
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | cp >> 12);
    out += char(0x80 | (cp >> 6 & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | cp >> 18);
    out += char(0x80 | (cp >> 12 & 0x3F));
    out += char(0x80 | (cp >> 6 & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// A script in UTF-16LE (with its mark) as UTF-8; any other file as it is.
inline std::string InstallScriptText(const std::string& bytes) {
  if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF || static_cast<unsigned char>(bytes[1]) != 0xFE)
    return bytes;
  auto unitAt = [&](size_t i) {
    return unsigned(static_cast<unsigned char>(bytes[i])) | unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8;
  };
  std::string out;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    unsigned unit = unitAt(i);
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00);
      i += 2;
    }
    AppendUtf8(out, unit);
  }
  return out;
}

// The qualified name at t[i] ("dbo"."x" or x): its last part; i moves past it.
inline std::string QualifiedNameAt(const std::vector<SqlToken>& t, size_t& i) {
  std::string name = i < t.size() ? t[i++].text : "";
  while (i + 1 < t.size() && t[i].IsSymbol('.')) {
    name = t[i + 1].text;
    i += 2;
  }
  return name;
}

// The items of the parenthesised list at t[i] == '(', split at its top-level commas; i moves
// past the closing ')'.
inline std::vector<std::vector<SqlToken>> ListItemsAt(const std::vector<SqlToken>& t, size_t& i) {
  std::vector<std::vector<SqlToken>> items(1);
  int depth = 0;
  for (; i < t.size(); ++i) {
    if (t[i].IsSymbol('(') && depth++ == 0) continue;
    if (t[i].IsSymbol(')') && --depth == 0) {
      ++i;
      break;
    }
    if (depth == 1 && t[i].IsSymbol(',')) {
      items.emplace_back();
      continue;
    }
    items.back().push_back(t[i]);
  }
  if (items.back().empty()) items.pop_back();
  return items;
}

// The first token of each item of the list at t[i]; empty when no list begins there.
inline std::vector<std::string> NameListAt(const std::vector<SqlToken>& t, size_t& i) {
  std::vector<std::string> names;
  if (i >= t.size() || !t[i].IsSymbol('(')) return names;
  for (const auto& item : ListItemsAt(t, i))
    if (!item.empty()) names.push_back(item.front().text);
  return names;
}

}  // namespace testsupport
