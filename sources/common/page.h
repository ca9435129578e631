// The 8192-byte database page: header fields, the slot array and its rules, torn-bit
// restore, and a bounded view that every decoder reads through.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/cstring.h"
#include "platform/types.h"

constexpr int kPageSize = 8192;
constexpr int kPageHeaderSize = 96;
constexpr int kPageBodySize = kPageSize - kPageHeaderSize;
// Slot i lives at 8192 - 2(i+1); beyond this many slots the array would reach the header.
constexpr int kMaxSlots = (kPageSize - kPageHeaderSize) / 2;

enum PageType : BYTE {
  kPageData = 1,
  kPageTextMix = 3,
  kPageTextTree = 4,
  kPageSort = 5,
  kPagePfs = 11,
  kPageBoot = 13,
  kPageFileHeader = 15,
};

// A bounded window of bytes. Every read names its offset and width; a read that would
// leave the window fails (returns false or 0 with ok() turning false) instead of reading
// outside it.
class ByteView {
 public:
  ByteView() = default;
  ByteView(const BYTE* data, size_t size) : m_data(data), m_size(data ? size : 0) {}

  const BYTE* data() const { return m_data; }
  size_t size() const { return m_size; }
  bool ok() const { return m_ok; }
  void clear_error() { m_ok = true; }

  bool Has(size_t offset, size_t width) const { return offset <= m_size && width <= m_size - offset; }
  // Sub-view; an out-of-range request gives an empty view and marks this view failed.
  ByteView Sub(size_t offset, size_t width) {
    if (!Has(offset, width)) {
      m_ok = false;
      return ByteView();
    }
    return ByteView(m_data + offset, width);
  }
  bool Copy(size_t offset, void* out, size_t width) {
    if (!Has(offset, width)) {
      m_ok = false;
      return false;
    }
    if (width) std::memcpy(out, m_data + offset, width);
    return true;
  }
  BYTE U8(size_t offset) {
    if (!Has(offset, 1)) return Fail<BYTE>();
    return m_data[offset];
  }
  WORD U16(size_t offset) {
    if (!Has(offset, 2)) return Fail<WORD>();
    return WORD(m_data[offset] | m_data[offset + 1] << 8);
  }
  DWORD U32(size_t offset) {
    if (!Has(offset, 4)) return Fail<DWORD>();
    return DWORD(m_data[offset]) | DWORD(m_data[offset + 1]) << 8 | DWORD(m_data[offset + 2]) << 16 |
           DWORD(m_data[offset + 3]) << 24;
  }
  UINT64 U64(size_t offset) {
    if (!Has(offset, 8)) return Fail<UINT64>();
    return UINT64(U32(offset)) | UINT64(U32(offset + 4)) << 32;
  }
  short I16(size_t offset) { return short(U16(offset)); }
  int I32(size_t offset) { return int(U32(offset)); }
  INT64 I64(size_t offset) { return INT64(U64(offset)); }

 private:
  template <class T>
  T Fail() {
    m_ok = false;
    return T(0);
  }
  const BYTE* m_data = nullptr;
  size_t m_size = 0;
  bool m_ok = true;
};

// Little-endian reads from a whole page whose bounds the caller already holds.
inline WORD ReadU16(const BYTE* p) { return WORD(p[0] | p[1] << 8); }
inline DWORD ReadU32(const BYTE* p) {
  return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24;
}

// Header fields of a whole 8192-byte page.
inline BYTE PageTypeOf(const BYTE* page) { return page[1]; }
inline WORD PageFlagBits(const BYTE* page) { return ReadU16(page + 4); }
inline WORD PageIndexId(const BYTE* page) { return ReadU16(page + 6); }
inline WORD PageSlotCount(const BYTE* page) { return ReadU16(page + 22); }
inline WORD PageFreeDataOffset(const BYTE* page) { return ReadU16(page + 30); }
inline DWORD PageObjectId(const BYTE* page) { return ReadU32(page + 24); }
inline DWORD PageIdOf(const BYTE* page) { return ReadU32(page + 32); }
inline WORD PageFileIdOf(const BYTE* page) { return ReadU16(page + 36); }
inline DWORD PageTornBits(const BYTE* page) { return ReadU32(page + 60); }

// Torn bits are present when the word is not 0 and flag 0x100 is set.
inline bool PageHasTornBits(const BYTE* page) { return PageTornBits(page) != 0 && (PageFlagBits(page) & 0x100); }

// Puts the torn-page bits back: for sectors 1..15, the low two bits of the sector's last
// byte come from bits 2s and 2s+1 of the word. body = page + 96.
void RestoreTornBits(BYTE* body, DWORD tornBits);
// Restores the torn bits of a whole page when the page says they are present.
void RestoreTornBitsIfPresent(BYTE* page);

// The slot rules: slots 0..count-1, the count cut to what fits: the array never leaves the
// page, never reaches below the free-space offset (when that lies in the page) and never
// covers a record start of a slot before it;
// slot 0's high byte has its torn bits put back, and an impossible slot 0 entry with low byte
// 0x60 reads as 96; an entry is accepted when 96 <= entry <= 8192.
// Returns the accepted entry, or 0 when the slot is rejected.
WORD SlotEntry(const BYTE* page, int slot);
int SlotCountCapped(const BYTE* page);

// Calls fn(slotIndex, entry) for every accepted slot, in order. fn returns false to stop.
template <class F>
void ForEachSlot(const BYTE* page, F&& fn) {
  const int count = SlotCountCapped(page);
  for (int i = 0; i < count; ++i) {
    WORD entry = SlotEntry(page, i);
    if (entry == 0) continue;
    if (!fn(i, entry)) return;
  }
}

// Slot rules that differ between readers. The defaults are those of SlotEntry above.
struct SlotWalkOptions {
  bool repairFirstSlot = true;  // slot 0 as SlotEntry above reads it
  int maxEntry = kPageSize;     // highest accepted entry
  // A page with more slots than this yields none (0 = no limit). The slots counted are those
  // that fit the page: a damaged count (65535) over a catalog page costs none of its rows.
  int skipPageAbove = 0;
};

// The entry of one slot under `options`; 0 when the slot is rejected.
WORD SlotEntry(const BYTE* page, int slot, const SlotWalkOptions& options);

// Calls fn(slotIndex, entry) for every accepted slot under `options`, in order; the slot
// index never reaches the header. fn returns false to stop.
template <class F>
void ForEachSlot(const BYTE* page, const SlotWalkOptions& options, F&& fn) {
  const int count = SlotCountCapped(page);
  if (options.skipPageAbove > 0 && count > options.skipPageAbove) return;
  for (int i = 0; i < count; ++i) {
    WORD entry = SlotEntry(page, i, options);
    if (entry == 0) continue;
    if (!fn(i, entry)) return;
  }
}

// Bytes of a record's null bitmap for n columns (at least one byte, as records store it).
inline size_t BitmapBytes(int n) { return n < 8 ? 1 : size_t(n + 7) / 8; }

// The record that starts at `offset` in a page body (page + 96), up to the body's end.
inline ByteView RecordView(BYTE* body, WORD offset) {
  if (!body || offset >= kPageBodySize) return ByteView();
  return ByteView(body + offset, size_t(kPageBodySize - offset));
}

// Raw bytes as two lower-case hex digits each, or as text with zero bytes left out.
CString BytesToString(const BYTE* bytes, int count, bool asHex);
