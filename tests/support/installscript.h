// Reading the public install scripts (instnwnd.sql, instpubs.sql) that tests take as ground
// truth: the file's text, and the pieces of statements that both the schema reader and the
// row reader take apart.
#pragma once

#include <cctype>
#include <string>
#include <vector>

#include "common/unicodetext.h"
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

// A script in UTF-16LE (with its mark) as UTF-8; any other file as it is.
inline std::string InstallScriptText(const std::string& bytes) {
  if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF || static_cast<unsigned char>(bytes[1]) != 0xFE)
    return bytes;
  return Utf16ToUtf8(ByteView(reinterpret_cast<const BYTE*>(bytes.data()) + 2, bytes.size() - 2));
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
