// Synthetic 2000 text pages for the off-row value tests: the fragments a text page holds
// (small values, data, large roots, tree nodes), laid out as the server writes them, and a
// page source over a handful of pages.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/lobcore.h"
#include "dll/pellwyn2008/record_builder.h"

namespace textpages {

using recordtest::Bytes;
using recordtest::Put;

// The 14-byte fragment header and its body.
inline Bytes Fragment(WORD kind, DWORD valueId, const Bytes& body) {
  Bytes f(14 + body.size(), 0);
  f[0] = 0x08;
  Put(f, 2, f.size(), 2);
  Put(f, 4, valueId, 4);
  Put(f, 12, kind, 2);
  std::copy(body.begin(), body.end(), f.begin() + 14);
  return f;
}

inline Bytes Data(const std::string& data, DWORD valueId = 0) {
  return Fragment(3, valueId, Bytes(data.begin(), data.end()));
}

inline Bytes Small(const std::string& data, DWORD valueId) {
  Bytes body(6, 0);
  Put(body, 0, data.size(), 2);
  body.insert(body.end(), data.begin(), data.end());
  return Fragment(0, valueId, body);
}

struct Link {
  DWORD page = 0;
  WORD slot = 0;
};

// A large root (kind 4 unless told) whose links name the value's pieces.
inline Bytes Root(DWORD valueId, const std::vector<Link>& links, WORD maxLinks = 5, WORD kind = 4) {
  Bytes body(10, 0);
  Put(body, 0, maxLinks, 2);
  Put(body, 2, links.size(), 2);
  for (const Link& l : links) {
    Bytes link(12, 0);
    Put(link, 4, l.page, 4);
    Put(link, 8, 1, 2);
    Put(link, 10, l.slot, 2);
    body.insert(body.end(), link.begin(), link.end());
  }
  return Fragment(kind, valueId, body);
}

// A tree node of a text-tree page; `tail` bytes after the entries belong to no entry.
inline Bytes Node(DWORD valueId, const std::vector<Link>& entries, size_t tail = 0) {
  Bytes body(6, 0);
  Put(body, 0, 504, 2);
  Put(body, 2, entries.size(), 2);
  for (const Link& l : entries) {
    Bytes entry(16, 0);
    Put(entry, 8, l.page, 4);
    Put(entry, 12, 1, 2);
    Put(entry, 14, l.slot, 2);
    body.insert(body.end(), entry.begin(), entry.end());
  }
  body.resize(body.size() + tail, 0);
  return Fragment(2, valueId, body);
}

// A text page (kind 3) or text-tree page (kind 4) holding these fragments in slot order.
inline Bytes TextPage(DWORD pageId, const std::vector<Bytes>& fragments, BYTE type = kPageTextMix) {
  return recordtest::DataPage(pageId, 99, fragments, type);
}

// A page source over pages by number; every read is counted.
struct Pages {
  std::map<DWORD, Bytes> pages;
  mutable int reads = 0;

  lobcore::PageReader Reader() const {
    return [this](const lobcore::Rid& rid, BYTE* out) {
      ++reads;
      auto it = pages.find(rid.page);
      if (it == pages.end()) return false;
      std::copy(it->second.begin(), it->second.end(), out);
      return true;
    };
  }
};

}  // namespace textpages
