#include "page.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "common/datarecord.h"

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

namespace {
// Slot 0's entry. Its high byte is the page's last byte, the end of sector 15, which on a page
// that carries torn bits holds the torn-page pattern until the bits are put back: they are put
// back from the torn-bits word. An entry whose low byte is 0x60 may still have a damaged high
// byte, and is read as 96, where records begin, unless it is sound where it points: inside the
// page, held by no other slot, and at a record or with another slot at 96. A first slot may well lie at 0x560 (the
// lowest key, not the lowest address); read as 96 it would show the record at 96 twice and
// lose its own.
int FirstSlotEntry(const BYTE* page, int entry) {
  if (PageHasTornBits(page)) {
    const DWORD bits = PageTornBits(page);
    entry = (entry & 0xFCFF) | int((bits >> 30) & 3) << 8;
  }
  if (entry == kPageHeaderSize || (entry & 0xFF) != kPageHeaderSize) return entry;
  // Records end at the free-space offset, when it lies in the page; a damaged slot count
  // (65535) must not make every entry look like one inside the slot array.
  const int freeData = PageFreeDataOffset(page);
  const bool freeKnown = freeData > kPageHeaderSize && freeData <= kPageSize - 2;
  int count = std::clamp<int>(PageSlotCount(page), 1, kMaxSlots);
  if (freeKnown) count = std::min(count, (kPageSize - freeData) / 2);
  const int slotArray = freeKnown ? freeData : kPageSize - 2 * count;
  if (entry <= kPageHeaderSize || entry >= slotArray) return kPageHeaderSize;
  // Two slots never share a record: an entry another slot holds is the damaged one.
  bool anotherAt96 = false;
  for (int i = 1; i < count; ++i) {
    const int other = ReadU16(page + kPageSize - 2 * (i + 1));
    if (other == entry) return kPageHeaderSize;
    anotherAt96 = anotherAt96 || other == kPageHeaderSize;
  }
  return anotherAt96 || RecordEndOf(page, WORD(entry), WORD(slotArray)) ? entry : kPageHeaderSize;
}

// Slot i's entry as it reads once the torn bits are back (restoring them twice changes
// nothing, so a page restored already reads the same): the high byte of slots 256, 512, ...
// is the last byte of a sector.
int RestoredSlotEntry(const BYTE* page, int slot) {
  const size_t at = size_t(kPageSize - 2 * (slot + 1));
  BYTE high = page[at + 1];
  const int sector = 15 - slot / 256;
  if (slot > 0 && slot % 256 == 0 && sector >= 1 && PageHasTornBits(page)) {
    const DWORD bits = PageTornBits(page);
    high = BYTE((high & 0xFC) | ((bits >> (2 * sector)) & 1) | (((bits >> (2 * sector + 1)) & 1) << 1));
  }
  int entry = page[at] | high << 8;
  if (slot == 0) entry = FirstSlotEntry(page, entry);
  return entry;
}

// The header's free count is a second witness of where a damaged array ends: the body holds
// the live slots' records and their 2-byte entries, and the rest is free (deleted records not
// yet compacted count as free). Old entries left by a page split point at whole, real records
// the split moved away, which no rule of the array alone tells from live ones; the one count
// whose records and entries fill exactly the space the free count leaves is the real one.
// 0 when no count up to `count` does, or a record before it cannot be measured.
int CountByFreeSpace(const BYTE* page, int count, int freeData) {
  const int usedBytes = kPageBodySize - ReadU16(page + 28);
  int measured = 0;
  for (int i = 0; i < count && measured < usedBytes; ++i) {
    const int entry = RestoredSlotEntry(page, i);
    measured += 2;
    if (entry != 0) {
      if (entry < kPageHeaderSize || entry >= freeData) return 0;
      const WORD end = RecordEndOf(page, WORD(entry), WORD(freeData));
      if (!end) return 0;
      measured += int(end) - entry;
    }
    if (measured == usedBytes) return i + 1;
  }
  return 0;
}
}  // namespace

int SlotCountCapped(const BYTE* page) {
  int count = PageSlotCount(page);
  if (count > kMaxSlots) count = kMaxSlots;
  // The slot array grows down from the page's end, the records up from the header, and the
  // free-space offset lies between them: a count that would take the array below it (a
  // damaged count, 65535) is cut to what fits.
  const int freeData = PageFreeDataOffset(page);
  const bool freeKnown = freeData >= kPageHeaderSize && freeData <= kPageSize;
  if (freeKnown) count = std::min(count, (kPageSize - freeData) / 2);
  // A count that did not fit is damaged, and the slots read past the real array are free
  // space: there the array also ends at the first entry no record of this page can have (in
  // the header, at or past the free-space offset, or at or inside a record of an earlier
  // slot: an old entry left in the free space often repeats a live slot's entry, and read as
  // a slot it would show that row twice).
  const bool countDamaged = PageSlotCount(page) > count;
  std::vector<std::pair<int, int>> records;  // [start, end) of the earlier slots' records
  // Zero entries at the end of a damaged array are free space, not deleted slots: the cut
  // count ends after the last entry in use, so a catalog reader's slot limit sees the slots
  // the page really has.
  int used = 0;
  auto cut = [&](int i) { return countDamaged ? std::min(i, used) : i; };
  if (countDamaged) {
    if (const int n = CountByFreeSpace(page, count, freeKnown ? freeData : kPageSize); n > 0) return n;
  }
  // Whatever the free-space offset says, no record starts inside the slot array: the array
  // ends before the first slot that would reach a record start.
  int highest = 0;
  for (int i = 0; i < count; ++i) {
    const int entry = RestoredSlotEntry(page, i);
    if (entry >= kPageHeaderSize && entry <= kPageSize) highest = std::max(highest, entry);
    if (highest >= kPageSize - 2 * (i + 1)) return cut(i);
    if (!countDamaged || entry == 0) continue;
    if (entry < kPageHeaderSize || (freeKnown && entry >= freeData)) return cut(i);
    for (const auto& [start, end] : records)
      if (entry >= start && entry < end) return cut(i);
    const int limit = freeKnown ? freeData : kPageSize - 2 * (i + 1);
    const WORD end = RecordEndOf(page, WORD(entry), WORD(std::max(limit, entry)));
    records.emplace_back(entry, end ? int(end) : entry + 1);
    used = i + 1;
  }
  return cut(count);
}

WORD SlotEntry(const BYTE* page, int slot) {
  if (slot < 0 || slot >= kMaxSlots) return 0;
  WORD entry = ReadU16(page + kPageSize - 2 * (slot + 1));
  if (slot == 0) entry = WORD(FirstSlotEntry(page, entry));
  if (entry == 0 || entry < kPageHeaderSize || entry > kPageSize) return 0;
  return entry;
}

WORD SlotEntry(const BYTE* page, int slot, const SlotWalkOptions& options) {
  if (slot < 0 || slot >= kMaxSlots) return 0;
  WORD entry = ReadU16(page + kPageSize - 2 * (slot + 1));
  if (options.repairFirstSlot && slot == 0) entry = WORD(FirstSlotEntry(page, entry));
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
