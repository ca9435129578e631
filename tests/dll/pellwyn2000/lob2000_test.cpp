#include "dll/pellwyn2000/lob2000.h"

#include <gtest/gtest.h>

#include <string>

#include "text_pages.h"

using namespace rows2000;
using namespace textpages;

namespace {

TextPointer Pointer(DWORD page, WORD slot, DWORD valueId) {
  TextPointer p;
  p.valueId = valueId;
  p.page = page;
  p.file = 1;
  p.slot = slot;
  return p;
}

struct ReadResult {
  std::string bytes;
  lobcore::Report report;
};

ReadResult Read(const Pages& pages, const TextPointer& p, const lobcore::Limits& limits = lobcore::Limits()) {
  LobReader reader(pages.Reader(), limits);
  ReadResult r;
  r.report = reader.Read(p, r.bytes);
  return r;
}

}  // namespace

TEST(TextPointer, SixteenBytesWhateverTheFirstWord) {
  // The first word of a 2000 pointer is 0 for every 65,536th value: still a pointer.
  const Bytes raw = {0, 0, 0, 0, 0, 0, 0, 0, 0x5F, 0, 0, 0, 1, 0, 3, 0};
  TextPointer p;
  ASSERT_TRUE(ParseTextPointer(ByteView(raw.data(), raw.size()), p));
  EXPECT_EQ(p.valueId, 0u);
  EXPECT_EQ(p.page, 0x5Fu);
  EXPECT_EQ(p.file, 1u);
  EXPECT_EQ(p.slot, 3u);
  EXPECT_FALSE(ParseTextPointer(ByteView(raw.data(), 15), p));
}

TEST(LobReader, SmallValuesDataAndLargeRoots) {
  Pages pages;
  pages.pages[10] = TextPage(10, {
                                     Small("Cheeses", 0x870000),                      // 0
                                     Root(0x880000, {{10, 2}, {11, 0}, {10, 3}}),     // 1
                                     Data("Hello, "),                                 // 2
                                     Data("!"),                                       // 3
                                     Data(""),                                        // 4: length 14
                                     Small("", 0x890000),                             // 5: length 0
                                     Root(0x8A0000, {{10, 2}}, 0),                    // 6: more links than its max
                                     Root(0x8B0000, {{10, 1}}),                       // 7: links to another root
                                 });
  pages.pages[11] = TextPage(11, {Data("world")});
  struct Case {
    const char* name;
    TextPointer pointer;
    const char* bytes;
    bool complete;
  } cases[] = {
      {"small value in the root slot", Pointer(10, 0, 0x870000), "Cheeses", true},
      {"large root over two pages", Pointer(10, 1, 0x880000), "Hello, world!", true},
      {"root of another value", Pointer(10, 1, 0x990000), "", false},
      {"data fragment of length 14", Pointer(10, 4, 0), "", true},
      {"small value of length 0", Pointer(10, 5, 0x890000), "", true},
      {"link count above the maximum", Pointer(10, 6, 0x8A0000), "", false},
      {"root reached through a link", Pointer(10, 7, 0x8B0000), "", false},
      {"page not in the source", Pointer(12, 0, 0), "", false},
      {"slot far past the count", Pointer(10, 40, 0), "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ReadResult r = Read(pages, c.pointer);
    EXPECT_EQ(r.bytes, c.bytes);
    EXPECT_EQ(r.report.complete(), c.complete) << lobcore::StopText(r.report.stop);
  }
}

TEST(LobReader, TextTreesAndTheirNodes) {
  Pages pages;
  // A root whose first link leads to a text-tree page, as a long text value is stored.
  pages.pages[20] = TextPage(20, {Root(0x6F0000, {{21, 0}, {20, 1}}), Data("tail")});
  pages.pages[21] = TextPage(21, {Node(0x6F0000, {{22, 0}, {22, 1}}, 2)}, kPageTextTree);
  pages.pages[22] = TextPage(22, {Data("alpha-"), Data("beta-"), Data("never")});
  const ReadResult r = Read(pages, Pointer(20, 0, 0x6F0000));
  // The node's area holds two entries and 2 bytes: exactly two entries are read.
  EXPECT_EQ(r.bytes, "alpha-beta-tail");
  EXPECT_TRUE(r.report.complete());
  // A pointer straight to a tree page reads the tree.
  EXPECT_EQ(Read(pages, Pointer(21, 0, 0)).bytes, "alpha-beta-");
}

TEST(LobReader, CyclesAndDeepTreesEndWithWhatWasRead) {
  Pages pages;
  // Node 30 names data, then itself; node 31 names node 32, which names node 31.
  pages.pages[30] = TextPage(30, {Node(1, {{33, 0}, {30, 0}, {33, 1}})}, kPageTextTree);
  pages.pages[31] = TextPage(31, {Node(1, {{33, 0}, {32, 0}})}, kPageTextTree);
  pages.pages[32] = TextPage(32, {Node(1, {{31, 0}})}, kPageTextTree);
  pages.pages[33] = TextPage(33, {Data("kept"), Data("-after")});
  ReadResult self = Read(pages, Pointer(30, 0, 1));
  EXPECT_EQ(self.bytes, "kept");
  EXPECT_EQ(self.report.stop, lobcore::Stop::kCycle);
  ReadResult loop = Read(pages, Pointer(31, 0, 1));
  EXPECT_EQ(loop.bytes, "kept");
  EXPECT_EQ(loop.report.stop, lobcore::Stop::kCycle);

  // A chain of nodes deeper than the limit.
  for (DWORD p = 40; p < 60; ++p) pages.pages[p] = TextPage(p, {Node(1, {{p + 1, 0}})}, kPageTextTree);
  pages.pages[60] = TextPage(60, {Data("deep")});
  lobcore::Limits limits;
  limits.maxDepth = 8;
  ReadResult deep = Read(pages, Pointer(40, 0, 1), limits);
  EXPECT_EQ(deep.bytes, "");
  EXPECT_EQ(deep.report.stop, lobcore::Stop::kDepth);
  limits.maxDepth = 30;
  EXPECT_EQ(Read(pages, Pointer(40, 0, 1), limits).bytes, "deep");

  limits.maxBytes = 6;
  pages.pages[61] = TextPage(61, {Root(5, {{33, 0}, {33, 1}})});
  ReadResult capped = Read(pages, Pointer(61, 0, 5), limits);
  EXPECT_EQ(capped.bytes, "kept-a");
  EXPECT_EQ(capped.report.stop, lobcore::Stop::kBytes);
}

TEST(LobReader, DamagedPiecesAreLeftOutAndTheRestKept) {
  Pages pages;
  pages.pages[70] = TextPage(70, {Root(7, {{71, 0}, {72, 0}, {71, 1}})});
  pages.pages[71] = TextPage(71, {Data("first,"), Data("last")});
  // Page 72 is a data page, not a text page.
  pages.pages[72] = recordtest::DataPage(72, 5, {Data("not text")});
  const ReadResult r = Read(pages, Pointer(70, 0, 7));
  EXPECT_EQ(r.bytes, "first,last");
  EXPECT_EQ(r.report.stop, lobcore::Stop::kDamaged);

  // A page whose header names another page is not the page asked for.
  pages.pages[73] = TextPage(74, {Data("elsewhere")});
  EXPECT_EQ(Read(pages, Pointer(73, 0, 0)).bytes, "");

  // A fragment whose length runs past the page end, and one shorter than its header.
  Bytes page = TextPage(75, {Data("x"), Data("y")});
  recordtest::Put(page, 96 + 2, 9000, 2);
  const WORD second = WORD(page[kPageSize - 4] | page[kPageSize - 3] << 8);
  recordtest::Put(page, second + 2, 10, 2);
  pages.pages[75] = page;
  EXPECT_EQ(Read(pages, Pointer(75, 0, 0)).report.stop, lobcore::Stop::kDamaged);
  EXPECT_EQ(Read(pages, Pointer(75, 1, 0)).report.stop, lobcore::Stop::kDamaged);
}

TEST(LobReader, SlotRulesOfTheFormat) {
  Pages pages;
  Bytes page = TextPage(80, {Data("zero"), Data("one")});
  // Slot 0's entry with a damaged high byte (0x0160) still means offset 96.
  recordtest::Put(page, kPageSize - 2, 0x0160, 2);
  // A slot entry one past the count is still looked at: the format's reader allows it.
  const WORD one = WORD(page[kPageSize - 4] | page[kPageSize - 3] << 8);
  recordtest::Put(page, kPageSize - 6, one, 2);
  pages.pages[80] = page;
  EXPECT_EQ(Read(pages, Pointer(80, 0, 0)).bytes, "zero");
  EXPECT_EQ(Read(pages, Pointer(80, 2, 0)).bytes, "one");
  EXPECT_EQ(Read(pages, Pointer(80, 4, 0)).bytes, "");
}

TEST(LobReader, TornBitsArePutBack) {
  Pages pages;
  // A data fragment over sectors 1 to 14. The header's torn-bits word keeps the true low two
  // bits of each sector's last byte (01 of 'A'); a torn write left other bits in one of them.
  const std::string text(7700, 'A');
  Bytes page = TextPage(90, {Data(text)});
  DWORD torn = 0;
  for (int sector = 1; sector <= 14; ++sector) torn |= DWORD(1) << (2 * sector);
  page[7679] = 'B';  // the end of sector 14: 0x42 on disk for 0x41
  recordtest::Put(page, 4, 0x100, 2);
  recordtest::Put(page, 60, torn, 4);
  pages.pages[90] = page;
  EXPECT_EQ(Read(pages, Pointer(90, 0, 0)).bytes, text);
}

TEST(RenderLob, TheThreeRenderings) {
  const std::string utf16("A\0B\0", 4);
  EXPECT_EQ(RenderLob(utf16, LobRender::kHex), "41004200");
  EXPECT_EQ(RenderLob(utf16, LobRender::kUnicode), "AB");
  EXPECT_EQ(RenderLob(utf16, LobRender::kText), "AB");
  EXPECT_EQ(RenderLob(std::string("A\0\x04\x04", 4), LobRender::kUnicode), "A\xD0\x84");  // U+0404
  EXPECT_EQ(RenderLob("", LobRender::kUnicode), "");
}
