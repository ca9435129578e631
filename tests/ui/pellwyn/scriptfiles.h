// The files a script export writes, read back for comparison: by their paths, with the
// output folder's name replaced, and split into sorted statements or lines.
#pragma once

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace scriptfiles {

// The regular files under `dir`, by their paths relative to it.
inline std::map<std::string, std::string> FilesUnder(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.is_regular_file())
      files[std::filesystem::relative(e.path(), dir).generic_string()] = testsupport::ReadFile(e.path().string());
  return files;
}

inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The pieces of a text between separators, sorted: two files hold the same statements, or
// lines, whatever order their objects were written in.
inline std::vector<std::string> SortedPieces(const std::string& text, const std::string& separator) {
  std::vector<std::string> pieces;
  size_t at = 0;
  while (at <= text.size()) {
    const size_t end = text.find(separator, at);
    pieces.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + separator.size();
  }
  std::sort(pieces.begin(), pieces.end());
  return pieces;
}

}  // namespace scriptfiles
