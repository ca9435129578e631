// Synthetic allocation pages for tests: PFS and IAM pages laid out as SQL Server writes them,
// with the checksum or torn-page protection of real pages when asked for.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "common/allocation.h"
#include "common/page.h"

namespace allocpages {

using Page = std::vector<BYTE>;

inline void Put(BYTE* p, size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) p[at + i] = BYTE(value >> (8 * i));
}

inline Page Header(BYTE type, DWORD pageId, WORD fileId = 1, DWORD objectId = 0, WORD indexId = 0) {
  Page p(kPageSize, 0);
  p[0] = 1;
  p[1] = type;
  Put(p.data(), 6, indexId, 2);
  Put(p.data(), 24, objectId, 4);
  Put(p.data(), 32, pageId, 4);
  Put(p.data(), 36, fileId, 2);
  return p;
}

// A PFS page; `allocated(i)` says whether the i-th page it covers is in use (byte 0x40,
// else 0x00).
template <class F>
Page Pfs(DWORD pageId, F allocated, WORD fileId = 1) {
  Page p = Header(kPagePfs, pageId, fileId, 99);
  for (DWORD i = 0; i < CAllocationEvidence::kPfsInterval; ++i) p[100 + i] = allocated(i) ? 0x40 : 0x00;
  return p;
}

// An IAM page mapping the interval from `start`: single-page slots and owned extents
// (extent numbers counted from the interval's start).
inline Page Iam(DWORD pageId, std::initializer_list<DWORD> singles, std::initializer_list<DWORD> extents,
                DWORD start = 0, WORD fileId = 1, DWORD objectId = 7, WORD indexId = 0) {
  Page p = Header(10, pageId, fileId, objectId, indexId);
  Put(p.data(), 22, 2, 2);
  Put(p.data(), kPageSize - 2, 96, 2);
  Put(p.data(), kPageSize - 4, 190, 2);
  BYTE* h = p.data() + 96;
  Put(h, 2, 94, 2);
  Put(h, 40, start, 4);
  Put(h, 44, fileId, 2);
  int i = 0;
  for (DWORD s : singles) {
    Put(h, 46 + 6 * size_t(i), s, 4);
    Put(h, 50 + 6 * size_t(i), fileId, 2);
    if (++i == 8) break;
  }
  BYTE* r = p.data() + 190;
  Put(r, 2, 4 + 7988, 2);
  for (DWORD e : extents) r[4 + e / 8] |= BYTE(1u << (e % 8));
  return p;
}

// Gives the page the checksum protection of a 2005/2008 page.
inline void Checksum(Page& p) {
  Put(p.data(), 4, ReadU16(p.data() + 4) | 0x200, 2);
  Put(p.data(), 60, PageChecksum(p.data()), 4);
}

// Gives the page torn-page protection: pattern 01 in every sector's last byte, the bits it
// replaced kept in the torn-bits word.
inline void TornBits(Page& p) {
  Put(p.data(), 4, ReadU16(p.data() + 4) | 0x100, 2);
  DWORD word = 1;
  for (int s = 1; s < 16; ++s) {
    BYTE& b = p[512 * size_t(s) + 511];
    word |= DWORD(b & 3) << (2 * s);
    b = BYTE((b & 0xFC) | 1);
  }
  Put(p.data(), 60, word, 4);
}

}  // namespace allocpages
