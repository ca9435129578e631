// What the tools that grow a real database or backup into a large one share: their command
// line, little-endian stores into a page, and a buffered writer.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/page.h"
#include "common/sqlserver.h"
#include "platform/files.h"
#include "platform/types.h"

namespace largefile {

struct GrowArgs {
  std::string in, out;
  UINT64 bytes = UINT64(1) << 30;
  std::string table;  // the table to grow; empty: the one with the most records
};

// IN OUT [--bytes N] [--table NAME]; false when IN or OUT is missing or a word is left over.
inline bool ParseGrowArgs(int argc, char** argv, GrowArgs& a) {
  bool extra = false;
  for (int i = 1; i < argc; ++i) {
    std::string w = argv[i];
    if (w == "--bytes" && i + 1 < argc) a.bytes = std::strtoull(argv[++i], nullptr, 10);
    else if (w == "--table" && i + 1 < argc) a.table = argv[++i];
    else if (a.in.empty()) a.in = w;
    else if (a.out.empty()) a.out = w;
    else extra = true;
  }
  return !extra && !a.in.empty() && !a.out.empty();
}

inline void PutU32(BYTE* p, DWORD v) {
  for (int i = 0; i < 4; ++i) p[i] = BYTE(v >> (8 * i));
}
inline void PutU64(BYTE* p, UINT64 v) {
  for (int i = 0; i < 8; ++i) p[i] = BYTE(v >> (8 * i));
}

// The user table to grow, as the engine's scan filed it: the one named, else the one with the
// most records (the slots of its data pages, `pages` holding `pageCount` pages from page
// number 0). Null when there is none.
inline CTable* TableToGrow(CSQLServer& engine, const BYTE* pages, UINT64 pageCount, const std::string& name) {
  CTable* biggest = nullptr;
  UINT64 biggestRecords = 0;
  for (const auto& e : engine.m_mapTables) {
    CTable* t = e.second;
    if (!t || t->m_strName.IsEmpty() || t->m_vecDataPages.empty()) continue;
    UINT64 records = 0;
    for (DWORD n : t->m_vecDataPages)
      if (UINT64(n) < pageCount) records += PageSlotCount(pages + UINT64(n) * kPageSize);
    if (!name.empty()) {
      if (t->m_strName.str() == name) biggest = t;
    } else if (!biggest || records > biggestRecords) {
      biggest = t;
      biggestRecords = records;
    }
  }
  return biggest;
}

// Buffered writer: the output is written in 1 MiB pieces.
class Output {
 public:
  explicit Output(const std::string& path) : m_fd(CreateFileForWrite(path.c_str())) { m_buffer.reserve(kChunk); }
  ~Output() { CloseFileHandle(m_fd); }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  bool ok() const { return m_fd != kInvalidFile && m_ok; }
  void Put(const BYTE* data, size_t size) {
    while (size > 0) {
      size_t n = std::min(size, kChunk - m_buffer.size());
      m_buffer.insert(m_buffer.end(), data, data + n);
      data += n;
      size -= n;
      if (m_buffer.size() == kChunk) Flush();
    }
  }
  bool Finish() {
    Flush();
    return ok();
  }

 private:
  static constexpr size_t kChunk = size_t(1) << 20;
  void Flush() {
    if (!m_buffer.empty() && !WriteFileAll(m_fd, m_buffer.data(), m_buffer.size())) m_ok = false;
    m_buffer.clear();
  }
  FILE_HANDLE m_fd;
  bool m_ok = true;
  std::vector<BYTE> m_buffer;
};

}  // namespace largefile
