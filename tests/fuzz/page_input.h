// The input of the record targets: byte 0 chooses the table, byte 1 holds options (bit 0:
// deleted rows wanted), then the data page (8192 bytes, zero-padded), then any number of pages
// for off-row values, each placed in the database file at its own page id.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/page.h"
#include "fuzzsupport.h"

namespace pageinput {

constexpr DWORD kMaxPlacedPageId = 4096;  // keeps the sparse file small

struct Input {
  unsigned table = 0;
  bool deleted = false;
  std::vector<BYTE> page = std::vector<BYTE>(kPageSize, 0);
  std::map<DWORD, std::vector<BYTE>> extra;  // page id -> page
};

inline Input Split(const std::uint8_t* data, size_t size) {
  Input in;
  if (size > 0) in.table = data[0];
  if (size > 1) in.deleted = data[1] & 1;
  size_t at = std::min<size_t>(size, 2);
  std::memcpy(in.page.data(), data + at, std::min<size_t>(size - at, kPageSize));
  at += kPageSize;
  for (; at < size; at += kPageSize) {
    std::vector<BYTE> p(kPageSize, 0);
    std::memcpy(p.data(), data + at, std::min<size_t>(size - at, kPageSize));
    const DWORD id = PageIdOf(p.data());
    if (id >= 1 && id < kMaxPlacedPageId) in.extra.emplace(id, std::move(p));
  }
  return in;
}

inline std::string WriteDatabase(const Input& in, const std::string& name) {
  const std::string path = fuzzsupport::WriteScratch(name, in.page.data(), in.page.size());
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  for (const auto& [id, p] : in.extra)
    if (::pwrite(fd, p.data(), p.size(), off_t(id) * kPageSize) != ssize_t(p.size())) fuzzsupport::Fail("pwrite");
  ::close(fd);
  return path;
}

}  // namespace pageinput
