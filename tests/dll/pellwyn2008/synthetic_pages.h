// Small synthetic pages for the catalog-walk, off-row and object-text tests: 8192-byte
// pages with a header and a slot array, large-value records and the off-row pointers rows
// hold, written out as a plain database file (page n at n x 8192) an engine can read.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/page.h"
#include "dll/pellwyn2008/lob.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/fixtures.h"

namespace synthpages {

using Bytes = std::vector<BYTE>;

inline void PutLE(Bytes& b, size_t at, std::uint64_t value, int width) {
  if (b.size() < at + width) b.resize(at + width, 0);
  for (int i = 0; i < width; ++i) b[at + i] = BYTE(value >> (8 * i));
}

// A page: header fields, records placed one after another from offset 96, one slot each.
struct Page {
  Bytes bytes = Bytes(kPageSize, 0);
  WORD next = kPageHeaderSize;

  Page() = default;
  Page(BYTE type, DWORD pageId, DWORD objectId = 0, WORD indexId = 0) {
    bytes[0] = 1;
    bytes[1] = type;
    PutLE(bytes, 6, indexId, 2);
    PutLE(bytes, 24, objectId, 4);
    PutLE(bytes, 32, pageId, 4);
    PutLE(bytes, 36, 1, 2);
  }
  WORD SlotCount() const { return WORD(bytes[22] | bytes[23] << 8); }
  void SetSlotCount(WORD n) { PutLE(bytes, 22, n, 2); }
  void SetSlot(int slot, WORD entry) {
    PutLE(bytes, kPageSize - 2 * (slot + 1), entry, 2);
    if (slot >= SlotCount()) SetSlotCount(WORD(slot + 1));
  }
  void PlaceAt(size_t offset, const Bytes& record) {
    for (size_t i = 0; i < record.size() && offset + i < bytes.size(); ++i) bytes[offset + i] = record[i];
  }
  // Appends a record with the next slot; returns its slot number.
  WORD Add(const Bytes& record) {
    const WORD slot = SlotCount();
    PlaceAt(next, record);
    SetSlot(slot, next);
    next = WORD(next + record.size());
    return slot;
  }
};

// A plain database file: page n at n x 8192, pages not given are zero.
struct PageFile {
  std::map<DWORD, Page> pages;
  Page& At(DWORD n, BYTE type, DWORD objectId = 0, WORD indexId = 0) {
    auto it = pages.find(n);
    if (it == pages.end()) it = pages.emplace(n, Page(type, n, objectId, indexId)).first;
    return it->second;
  }
  std::string Write(const testsupport::TempDir& dir, const std::string& name = "synthetic.mdf") const {
    DWORD last = pages.empty() ? 0 : pages.rbegin()->first;
    std::string data(size_t(last + 1) * kPageSize, '\0');
    for (const auto& [n, page] : pages)
      std::copy(page.bytes.begin(), page.bytes.end(), data.begin() + size_t(n) * kPageSize);
    const std::string path = dir.file(name);
    testsupport::WriteFile(path, data);
    return path;
  }
};

// Lets the engine read `path` as a plain database file.
inline void UsePlainFile(CSQLServer2008& engine, const std::string& path) {
  engine.m_strFilePath = path.c_str();
  engine.m_strExtension = "mdf";
  engine.m_nDataSetCount = 0;
}

// ---- large-value records (text pages) and the pointers rows hold

inline Bytes LobHeader(DWORD stamp, WORD kind) {
  Bytes r(14, 0);
  r[0] = 0x08;
  PutLE(r, 4, stamp, 4);
  PutLE(r, 12, kind, 2);
  return r;
}
inline void SetLength(Bytes& r) { PutLE(r, 2, r.size(), 2); }

inline Bytes LobData(DWORD stamp, const Bytes& data) {
  Bytes r = LobHeader(stamp, 3);
  r.insert(r.end(), data.begin(), data.end());
  SetLength(r);
  return r;
}

inline Bytes LobSmall(DWORD stamp, const Bytes& data) {
  Bytes r = LobHeader(stamp, 0);
  PutLE(r, 14, data.size(), 2);
  r.resize(20, 0);
  r.insert(r.end(), data.begin(), data.end());
  if (r.size() < 84) r.resize(84, 0);
  SetLength(r);
  return r;
}

struct Link {
  DWORD page;
  WORD slot;
  DWORD end = 0;  // running byte count after this piece
};

// A large root (kind 5, or 4): links from 24, 12 bytes each.
inline Bytes LobRoot(DWORD stamp, const std::vector<Link>& links, WORD maxLinks = 5, WORD kind = 5,
                     int curLinks = -1) {
  Bytes r = LobHeader(stamp, kind);
  PutLE(r, 14, maxLinks, 2);
  PutLE(r, 16, curLinks >= 0 ? WORD(curLinks) : WORD(links.size()), 2);
  r.resize(24, 0);
  for (const Link& l : links) {
    const size_t at = r.size();
    PutLE(r, at, l.end, 4);
    PutLE(r, at + 4, l.page, 4);
    PutLE(r, at + 8, 1, 2);
    PutLE(r, at + 10, l.slot, 2);
  }
  if (r.size() < 84) r.resize(84, 0);
  SetLength(r);
  return r;
}

// An internal node (kind 2): links from 20, 16 bytes each.
inline Bytes LobNode(DWORD stamp, const std::vector<Link>& links, int curLinks = -1) {
  Bytes r = LobHeader(stamp, 2);
  PutLE(r, 14, 501, 2);
  PutLE(r, 16, curLinks >= 0 ? WORD(curLinks) : WORD(links.size()), 2);
  r.resize(20, 0);
  for (const Link& l : links) {
    const size_t at = r.size();
    PutLE(r, at, l.end, 8);
    PutLE(r, at + 8, l.page, 4);
    PutLE(r, at + 12, 1, 2);
    PutLE(r, at + 14, l.slot, 2);
  }
  SetLength(r);
  return r;
}

// The 16-byte text pointer of a text, ntext or image column.
inline Bytes TextPointer(DWORD stamp, DWORD page, WORD slot) {
  Bytes r(16, 0);
  PutLE(r, 0, stamp, 4);
  PutLE(r, 8, page, 4);
  PutLE(r, 12, 1, 2);
  PutLE(r, 14, slot, 2);
  return r;
}

// One entry of the root a row holds: the running byte count, then where the piece lives.
struct Entry {
  DWORD end;
  DWORD page;
  WORD slot;
};

// The root a max-type column keeps in the row when its value lives off row.
inline Bytes InlineRoot(DWORD stamp, const std::vector<Entry>& entries, BYTE form = 4, BYTE level = 0) {
  Bytes r(12, 0);
  r[0] = form;
  r[1] = level;
  r[3] = 0xFF;
  PutLE(r, 4, 1, 2);
  PutLE(r, 6, stamp, 4);
  for (const Entry& e : entries) {
    const size_t at = r.size();
    PutLE(r, at, e.end, 4);
    PutLE(r, at + 4, e.page, 4);
    PutLE(r, at + 8, 1, 2);
    PutLE(r, at + 10, e.slot, 2);
  }
  return r;
}

inline Bytes Utf16(const std::string& text) {
  Bytes out;
  for (unsigned char c : text) {
    out.push_back(c);
    out.push_back(0);
  }
  return out;
}
inline Bytes Ascii(const std::string& text) { return Bytes(text.begin(), text.end()); }
inline std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

}  // namespace synthpages
