#include "page.h"

void RestoreTornBits(BYTE* body, DWORD tornBits) {
  if (!body) return;
  BYTE* page = body - kPageHeaderSize;
  for (int s = 1; s <= 15; ++s) {
    BYTE& b = page[512 * s + 511];
    BYTE low = BYTE(((tornBits >> (2 * s)) & 1) | (((tornBits >> (2 * s + 1)) & 1) << 1));
    b = BYTE((b & 0xFC) | low);
  }
}

void RestoreTornBitsIfPresent(BYTE* page) {
  if (page && PageHasTornBits(page)) RestoreTornBits(page + kPageHeaderSize, PageTornBits(page));
}

int SlotCountCapped(const BYTE* page) {
  int count = PageSlotCount(page);
  return count > kMaxSlots ? kMaxSlots : count;
}

WORD SlotEntry(const BYTE* page, int slot) {
  if (slot < 0 || slot >= kMaxSlots) return 0;
  WORD entry = ReadU16(page + kPageSize - 2 * (slot + 1));
  if (slot == 0 && entry != kPageHeaderSize && (entry & 0xFF) == kPageHeaderSize) entry = kPageHeaderSize;
  if (entry == 0 || entry < kPageHeaderSize || entry > kPageSize) return 0;
  return entry;
}

WORD SlotEntry(const BYTE* page, int slot, const SlotWalkOptions& options) {
  if (slot < 0 || slot >= kMaxSlots) return 0;
  WORD entry = ReadU16(page + kPageSize - 2 * (slot + 1));
  if (options.repairFirstSlot && slot == 0 && entry != kPageHeaderSize && (entry & 0xFF) == kPageHeaderSize)
    entry = kPageHeaderSize;
  if (entry < kPageHeaderSize || int(entry) > options.maxEntry) return 0;
  return entry;
}

CString BytesToString(const BYTE* bytes, int count, bool asHex) {
  CString out;
  if (!bytes || count <= 0) return out;
  std::string& s = out.str();
  static const char kHex[] = "0123456789abcdef";
  if (asHex) {
    s.reserve(size_t(count) * 2);
    for (int i = 0; i < count; ++i) {
      s += kHex[bytes[i] >> 4];
      s += kHex[bytes[i] & 15];
    }
  } else {
    for (int i = 0; i < count; ++i)
      if (bytes[i]) s += char(bytes[i]);
  }
  return out;
}
