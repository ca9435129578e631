// What tests need to know of a scan file's bytes: where the extension begins, that is where
// the layout an older reader reads ends (a file cut exactly there is a complete file of that
// layout), and the extension a scan without tables writes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

#include "common/scanextension.h"

namespace testsupport {

template <class Bytes>
size_t ScanExtensionOffset(const Bytes& bytes) {
  const std::string marker = char(std::char_traits<char>::length(kScanExtensionMarker)) + std::string(kScanExtensionMarker);
  const auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
  return at == bytes.end() ? std::string::npos : size_t(at - bytes.begin());
}

// Marker, frame version 1, the section count, then "schema" of eight bytes (a table count and
// a filtered-index count of 0), "freed-pages" and "collations" of four bytes each (a count of
// 0), "catalog-loss" of five (not stopped, no tables), where the format writes it
// "type-nullability" of four bytes (a type count of 0), "column-rules" of four bytes (a table
// count of 0), "type-bindings" of four bytes (a type count of 0) and "view-indexes" of four bytes
// (a view count of 0).
inline std::string EmptySchemaExtension(bool withTypes = false) {
  std::string out("\x0ctarnwell-ext\x01\x00\x00\x00", 17);
  out += std::string(withTypes ? "\x08" : "\x07") + std::string(3, '\0');
  out += std::string("\x06schema\x08\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 19);
  out += std::string("\x0b" "freed-pages\x04\x00\x00\x00\x00\x00\x00\x00", 20);
  out += std::string("\x0a" "collations\x04\x00\x00\x00\x00\x00\x00\x00", 19);
  out += std::string("\x0c" "catalog-loss\x05\x00\x00\x00\x00\x00\x00\x00\x00", 22);
  if (withTypes) out += std::string("\x10type-nullability\x04\x00\x00\x00\x00\x00\x00\x00", 25);
  out += std::string("\x0c" "column-rules\x04\x00\x00\x00\x00\x00\x00\x00", 21);
  out += std::string("\x0d" "type-bindings\x04\x00\x00\x00\x00\x00\x00\x00", 22);
  out += std::string("\x0c" "view-indexes\x04\x00\x00\x00\x00\x00\x00\x00", 21);
  return out;
}

}  // namespace testsupport
