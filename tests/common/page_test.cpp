#include <gtest/gtest.h>

#include <vector>

#include "common/page.h"
#include "support/fixtures.h"

namespace {
struct Page {
  std::vector<BYTE> b = std::vector<BYTE>(kPageSize, 0);
  void Slot(int i, WORD v) {
    b[kPageSize - 2 * (i + 1)] = BYTE(v);
    b[kPageSize - 2 * (i + 1) + 1] = BYTE(v >> 8);
  }
  void Count(WORD n) {
    b[22] = BYTE(n);
    b[23] = BYTE(n >> 8);
  }
};
}  // namespace

TEST(SlotRules, FirstSlotRepairAndBounds) {
  struct Case {
    int slot;
    WORD entry;
    WORD want;
  } cases[] = {
      // No record lies at 0x160 on this page: slot 0 is read as 96.
      {0, 0x0060, 96}, {0, 0x0160, 96},  {0, 0x2060, 96},    {0, 0xFF60, 96},  {0, 0x0000, 0},
      {0, 0x005F, 0},  {0, 0x2000, 8192}, {1, 0x0060, 96},   {1, 0x0160, 352}, {1, 0x2060, 0},
      {1, 0x2000, 8192}, {1, 0x2001, 0},  {1, 0x0000, 0},
  };
  for (const auto& c : cases) {
    Page p;
    p.Count(2);
    p.Slot(c.slot, c.entry);
    EXPECT_EQ(SlotEntry(p.b.data(), c.slot), c.want) << "slot " << c.slot << " entry " << c.entry;
  }
}

// The first slot's high byte ends sector 15. On a page whose torn bits are not yet back it
// holds the torn pattern, which the torn-bits word puts right; on any other page a first slot
// at 0x560 (as a real catalog page has it) is read there, not at 96: the record at 96 belongs
// to another slot and would be read twice.
TEST(SlotRules, TheFirstSlotIsReadWhereItPoints) {
  Page torn;
  torn.Count(2);
  torn.Slot(0, 0x0160);  // 0x0060 with the pattern 01 in its high byte's low bits
  torn.Slot(1, 0x00A0);
  torn.b[5] = 0x01;       // torn bits present
  torn.b[60] = 0x01;      // sector 1's bits; sector 15's (30, 31) are 00
  EXPECT_EQ(SlotEntry(torn.b.data(), 0), 96);
  Page plain;
  plain.Count(2);
  plain.Slot(0, 0x0560);
  plain.Slot(1, 96);
  std::vector<WORD> read;
  ForEachSlot(plain.b.data(), [&](int, WORD entry) {
    read.push_back(entry);
    return true;
  });
  EXPECT_EQ(read, (std::vector<WORD>{0x0560, 96}));
  // Alone, an entry is sound where a record starts; where none does, its high byte is taken for
  // damaged.
  Page alone;
  alone.Count(1);
  alone.Slot(0, 0x0160);
  alone.b[0x160] = 0x10;  // a data record with a null bitmap: fixed part to 4, no columns
  alone.b[0x162] = 4;
  EXPECT_EQ(SlotEntry(alone.b.data(), 0), 0x0160);
  // A damaged count (65535) bounds the records by the free-space offset, not by an array that
  // would reach down to the header.
  alone.Count(65535);
  alone.b[30] = 0x00;
  alone.b[31] = 0x02;  // free space from 0x200
  EXPECT_EQ(SlotEntry(alone.b.data(), 0), 0x0160);
  alone.Count(1);
  alone.b[0x160] = 0;
  alone.b[0x162] = 0;
  EXPECT_EQ(SlotEntry(alone.b.data(), 0), 96);
}

TEST(SlotRules, HugeSlotCountStaysInsideThePage) {
  Page p;
  p.Count(65535);
  for (int i = 0; i < kMaxSlots; ++i) p.Slot(i, WORD(96 + i));
  int visited = 0;
  ForEachSlot(p.b.data(), [&](int, WORD entry) {
    EXPECT_GE(entry, 96);
    EXPECT_LT(entry, kPageSize - 2 * visited);
    ++visited;
    return true;
  });
  // Slot 2698 would lie at 2794, under the record start of slot 2697 (2793); a damaged count
  // also ends the array at the first entry inside an earlier slot's record, sooner here.
  EXPECT_GT(visited, 0);
  EXPECT_LE(visited, 2698);
}

// A count or an entry that cannot fit the page is cut to what fits; a sound page keeps
// every slot, even when the torn bits hide a slot's high byte.
TEST(SlotRules, TheCountIsCutToWhatFitsThePage) {
  struct Case {
    const char* what;
    WORD count;
    WORD freeData;
    std::vector<WORD> entries;
    int want;
  } cases[] = {
      {"a sound page", 3, 300, {96, 150, 200}, 3},
      {"records out of slot order", 3, 300, {200, 96, 150}, 3},
      {"a count of 65535 over a page of three records", 65535, 300, {96, 150, 200}, 3},
      {"a damaged count keeps a deleted slot between live ones", 65535, 300, {96, 0, 200}, 3},
      {"a free-space offset outside the page is no bound", 5, 9000, {96, 150, 200, 250, 280}, 5},
      {"a slot whose entry lies inside the array ends it", 4, 0, {96, 150, 8189, 200}, 2},
      {"an entry that is the page's end", 1, 0, {8192}, 0},
      // A count of 65535 reads the free space as slots: the array ends at the first entry no
      // record can have: past the free-space offset, in the header, or inside a record.
      {"a damaged count: an entry past the free-space offset", 65535, 600, {96, 150, 200, 700, 250}, 3},
      {"a damaged count: an entry in the header", 65535, 600, {96, 150, 200, 40, 250}, 3},
      {"a damaged count: an entry that repeats an earlier slot's", 65535, 600, {96, 150, 200, 150, 250}, 3},
      {"a sound count keeps an entry past the free-space offset", 4, 600, {96, 150, 200, 700}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Page p;
    p.Count(c.count);
    p.b[30] = BYTE(c.freeData);
    p.b[31] = BYTE(c.freeData >> 8);
    for (size_t i = 0; i < c.entries.size(); ++i) p.Slot(int(i), c.entries[i]);
    EXPECT_EQ(SlotCountCapped(p.b.data()), c.want);
  }
  // Slot 256's high byte is the last byte of sector 14: written as 0x1E, it reads 0x1D once the
  // torn bits are back, and the slot is in its place.
  Page torn;
  torn.Count(261);
  torn.b[30] = BYTE(7665 & 0xFF);
  torn.b[31] = BYTE(7665 >> 8);
  for (int i = 0; i < 261; ++i) torn.Slot(i, WORD(96 + 29 * i));
  torn.Slot(256, 0x1E60);
  torn.b[5] = 0x01;                    // torn bits present
  torn.b[60 + 3] = 0x10;               // bits 28, 29: sector 14's last byte ends in 01
  EXPECT_EQ(SlotCountCapped(torn.b.data()), 261);
}

// A page split leaves the entries of the records it moved away past the live array, pointing at
// whole records. With the count damaged, the header's free count tells where the array ended:
// the live records and their entries fill exactly the space it leaves.
TEST(SlotRules, TheFreeCountEndsADamagedArray) {
  // Five 19-byte records (fixed part to 16, two columns, one bitmap byte) at 96, 115, ...; the
  // first three are live.
  auto page = [](WORD count, WORD freeCount) {
    Page p;
    p.Count(count);
    p.b[28] = BYTE(freeCount);
    p.b[29] = BYTE(freeCount >> 8);
    const WORD freeData = 96 + 5 * 19;
    p.b[30] = BYTE(freeData);
    p.b[31] = BYTE(freeData >> 8);
    for (int i = 0; i < 5; ++i) {
      BYTE* r = p.b.data() + 96 + 19 * i;
      r[0] = 0x10;  // a data record with a null bitmap
      r[2] = 16;    // fixed part ends at 16
      r[16] = 2;    // two columns
      r[4] = BYTE(i + 1);
      p.Slot(i, WORD(96 + 19 * i));
    }
    return p;
  };
  const WORD live = WORD(kPageBodySize - 3 * (19 + 2));
  struct Case {
    const char* what;
    WORD count, freeCount;
    int want;
  } cases[] = {
      {"a sound count", 3, live, 3},
      {"a damaged count, the free count intact", 65535, live, 3},
      {"a damaged count, a free count no array matches: the old entries stay", 65535, WORD(live - 7), 5},
      {"a damaged count, a free count of 0", 65535, 0, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Page p = page(c.count, c.freeCount);
    EXPECT_EQ(SlotCountCapped(p.b.data()), c.want);
  }
}

TEST(ByteView, ReadsOutsideTheWindowFail) {
  std::vector<BYTE> data(kPageBodySize, 0xAB);
  ByteView body(data.data(), data.size());
  EXPECT_EQ(body.U16(kPageBodySize - 2), 0xABAB);
  EXPECT_TRUE(body.ok());
  // A record at offset 8096 (slot entry 8192) has no bytes: its first read fails.
  EXPECT_EQ(body.U16(8096), 0);
  EXPECT_FALSE(body.ok());
  ByteView v(data.data(), 10);
  EXPECT_FALSE(v.Has(8, 3));
  EXPECT_FALSE(v.Has(SIZE_MAX, 2));
  EXPECT_EQ(v.Sub(5, 10).size(), 0u);
}

TEST(TornBits, RestoreSetsLowBitsOfSectorEnds) {
  Page p;
  for (auto& x : p.b) x = 0xF0;
  RestoreTornBits(p.b.data() + kPageHeaderSize, 0xFFFFFFFFu);
  EXPECT_EQ(p.b[511], 0xF0);
  for (int s = 1; s < 16; ++s) EXPECT_EQ(p.b[512 * s + 511], 0xF3) << s;
  Page q;
  for (auto& x : q.b) x = 0xFF;
  RestoreTornBits(q.b.data() + kPageHeaderSize, 0x4);
  EXPECT_EQ(q.b[1023], 0xFD);  // bit 2 -> lowest bit, bit 3 clear
  RestoreTornBits(q.b.data() + kPageHeaderSize, 0x8);
  EXPECT_EQ(q.b[1023], 0xFE);
  // Only a non-zero word with flag 0x100 counts as torn bits present.
  Page r;
  r.b[5] = 0x01;  // flag 0x100
  EXPECT_FALSE(PageHasTornBits(r.b.data()));
  r.b[60] = 1;
  EXPECT_TRUE(PageHasTornBits(r.b.data()));
  r.b[5] = 0;
  EXPECT_FALSE(PageHasTornBits(r.b.data()));
}

TEST(BytesToString, TextAndHex) {
  const BYTE ab[] = {0x41, 0x00, 0x42};
  const BYTE hex[] = {0x0a, 0x1b};
  EXPECT_EQ(BytesToString(ab, 3, false).str(), "AB");
  EXPECT_EQ(BytesToString(ab, 3, true).str(), "410042");
  EXPECT_EQ(BytesToString(hex, 2, true).str(), "0a1b");
  EXPECT_EQ(BytesToString(ab, 0, true).str(), "");
  EXPECT_EQ(BytesToString(ab, 0, false).str(), "");
}

TEST(RealPages, DatabaseFileHeaderBootAndDataPages) {
  for (const char* name : {"mdf2008_pubs_itsligo.mdf", "mdf2008r2_northwnd_upg2000.mdf", "mdf2005_pubs_upg2000.mdf"}) {
    std::string path = testsupport::FixturePath(name);
    if (path.empty()) GTEST_SKIP() << "fixtures not available";
    auto p0 = testsupport::ReadPageAt(path, 0);
    ASSERT_EQ(p0.size(), 8192u);
    EXPECT_EQ(PageTypeOf(p0.data()), kPageFileHeader) << name;
    EXPECT_EQ(PageIdOf(p0.data()), 0u);
    auto p9 = testsupport::ReadPageAt(path, 9 * 8192);
    EXPECT_EQ(PageTypeOf(p9.data()), kPageBoot) << name;
    EXPECT_EQ(PageIdOf(p9.data()), 9u);
    // Every accepted slot of every data page points inside the page, past the header.
    int dataPages = 0;
    for (std::uint64_t n = 0;; ++n) {
      auto p = testsupport::ReadPageAt(path, n * 8192);
      if (p.empty()) break;
      if (PageTypeOf(p.data()) != kPageData) continue;
      ++dataPages;
      EXPECT_EQ(PageIdOf(p.data()), n);
      int slots = 0;
      ForEachSlot(p.data(), [&](int, WORD entry) {
        EXPECT_GE(entry, kPageHeaderSize);
        EXPECT_LT(entry, kPageSize);
        ++slots;
        return true;
      });
      EXPECT_LE(slots, PageSlotCount(p.data()));
    }
    EXPECT_GT(dataPages, 10) << name;
  }
}
