// Off-row values: the pointer parser, the bounded walk over text pages (small sets of
// synthetic pages, damaged in one place each), the engine's readers, and the multi-piece
// values of real backups.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "dll/pellwyn2008/synthetic_pages.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"

using namespace synthpages;
using testsupport::ModuleFolderScope;
using testsupport::TempDir;

namespace {

constexpr DWORD kStamp = 0x07D40000;

// Pages held in memory, handed to a walker by page id.
struct MemoryPages {
  std::map<DWORD, Page> pages;
  int reads = 0;
  Page& At(DWORD id, BYTE type = kPageTextMix) {
    auto it = pages.find(id);
    if (it == pages.end()) it = pages.emplace(id, Page(type, id, 40, 256)).first;
    return it->second;
  }
  LobPageReader Reader() {
    return [this](DWORD id, BYTE* out) {
      ++reads;
      auto it = pages.find(id);
      if (it == pages.end()) return false;
      std::copy(it->second.bytes.begin(), it->second.bytes.end(), out);
      return true;
    };
  }
};

Bytes Fill(char c, size_t n) { return Bytes(n, BYTE(c)); }

std::string ReadPointer(MemoryPages& pages, const Bytes& column, LobReadReport* report = nullptr,
                        const LobLimits& limits = LobLimits()) {
  OffRowPointer pointer;
  EXPECT_TRUE(ParseOffRowPointer(ByteView(column.data(), column.size()), pointer));
  LobWalker walker(pages.Reader(), limits);
  LobBytesSink sink;
  walker.ReadPointer(pointer, sink);
  if (report) *report = walker.report();
  return sink.bytes;
}

}  // namespace

TEST(LobPointer, FormsAreToldApartByLengthAndFormByte) {
  // The 48-byte root of a 17,924-byte value in a real backup: three entries.
  const Bytes real = {0x04, 0x00, 0x00, 0xff, 0x10, 0x00, 0x00, 0x00, 0x67, 0x0a, 0x00, 0x00, 0x68, 0x1f, 0x00, 0x00,
                      0xc1, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xd0, 0x3e, 0x00, 0x00, 0xc2, 0x01, 0x00, 0x00,
                      0x01, 0x00, 0x00, 0x00, 0x04, 0x46, 0x00, 0x00, 0xbf, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
  OffRowPointer p;
  ASSERT_TRUE(ParseOffRowPointer(ByteView(real.data(), real.size()), p));
  EXPECT_EQ(p.form, OffRowPointer::Form::kRoot);
  EXPECT_EQ(p.stamp, 0x0A670000u);
  ASSERT_EQ(p.links.size(), 3u);
  EXPECT_EQ(p.links[0].rid.page, 0x1C1u);
  EXPECT_EQ(p.links[1].rid.page, 0x1C2u);
  EXPECT_EQ(p.links[2].rid.page, 0x1BFu);
  EXPECT_EQ(p.ExpectedBytes(), 17924u);
  EXPECT_FALSE(p.truncated);

  // A text pointer whose first byte happens to be 4 is still a text pointer: 16 bytes fit no root.
  const Bytes tp = TextPointer(0x00000404, 0xAC, 3);
  ASSERT_TRUE(ParseOffRowPointer(ByteView(tp.data(), tp.size()), p));
  EXPECT_EQ(p.form, OffRowPointer::Form::kTextPointer);
  EXPECT_EQ(p.stamp, 0x00000404u);
  ASSERT_EQ(p.links.size(), 1u);
  EXPECT_EQ(p.links[0].rid.page, 0xACu);
  EXPECT_EQ(p.links[0].rid.slot, 3u);

  const Bytes overflow = InlineRoot(kStamp, {{300, 2, 5000}}, 2);
  ASSERT_TRUE(ParseOffRowPointer(ByteView(overflow.data(), overflow.size()), p));
  EXPECT_EQ(p.rootKind, 2);

  const struct {
    const char* what;
    Bytes bytes;
  } rejected[] = {
      {"forwarding back-pointer", {0x00, 0x04, 0xd2, 0x00, 0x00, 0x00, 0x01, 0x00, 0x61, 0x00}},
      {"empty", {}},
      {"root header without entries", Bytes(12, 0x04)},
      {"length between the forms", Bytes(20, 0x04)},
      {"root length not header plus entries", Bytes(30, 0x04)},
      {"unknown form byte", InlineRoot(kStamp, {{100, 1, 0}}, 3)},
      {"first entry counts no bytes", InlineRoot(kStamp, {{0, 1, 0}, {100, 2, 0}})},
  };
  for (const auto& c : rejected) {
    EXPECT_FALSE(ParseOffRowPointer(ByteView(c.bytes.data(), c.bytes.size()), p)) << c.what;
    EXPECT_TRUE(p.links.empty()) << c.what;
  }

  // Entries after a count that stops growing are garbage and left out.
  const Bytes tail = InlineRoot(kStamp, {{8040, 1, 0}, {9000, 2, 0}, {9000, 3, 0}, {0, 0, 0}});
  ASSERT_TRUE(ParseOffRowPointer(ByteView(tail.data(), tail.size()), p));
  EXPECT_EQ(p.links.size(), 2u);
  EXPECT_TRUE(p.truncated);
}

TEST(LobWalker, AssemblesEveryRecordKindInLinkOrder) {
  MemoryPages pages;
  // Data records on two pages, one small value, a large root with three links, and an
  // internal node on a text-tree page.
  pages.At(10).Add(LobData(kStamp, Fill('a', 40)));                               // 10:0
  pages.At(11).Add(LobData(kStamp, Fill('b', 40)));                               // 11:0
  pages.At(11).Add(LobData(kStamp, Fill('c', 10)));                               // 11:1
  pages.At(12).Add(LobRoot(kStamp, {{10, 0, 40}, {11, 0, 80}, {11, 1, 90}}));      // 12:0
  pages.At(12).Add(LobSmall(kStamp + 1, Utf16("Cheeses")));                       // 12:1
  pages.At(13, kPageTextTree).Add(LobNode(kStamp, {{11, 1, 10}, {10, 0, 50}}));    // 13:0
  pages.At(12).Add(LobRoot(kStamp + 2, {{13, 0, 50}}));                           // 12:2, level 1

  const std::string expected = std::string(40, 'a') + std::string(40, 'b') + std::string(10, 'c');
  const std::string viaNode = std::string(10, 'c') + std::string(40, 'a');
  LobReadReport report;
  // A text pointer names the root; a max-type root in the row names the data directly.
  EXPECT_EQ(ReadPointer(pages, TextPointer(kStamp, 12, 0), &report), expected);
  EXPECT_TRUE(report.complete());
  EXPECT_EQ(report.records, 4u);
  EXPECT_EQ(ReadPointer(pages, InlineRoot(kStamp, {{40, 10, 0}, {80, 11, 0}, {90, 11, 1}}), &report), expected);
  EXPECT_TRUE(report.complete());
  EXPECT_EQ(ReadPointer(pages, TextPointer(kStamp + 1, 12, 1)), Str(Utf16("Cheeses")));
  // Root -> internal node -> data, and a level-1 row root straight to the node.
  EXPECT_EQ(ReadPointer(pages, TextPointer(kStamp + 2, 12, 2), &report), viaNode);
  EXPECT_TRUE(report.complete());
  EXPECT_EQ(ReadPointer(pages, InlineRoot(kStamp, {{50, 13, 0}}, 4, 1)), viaNode);
  // Old-style large roots (kind 4) read the same.
  pages.At(14).Add(LobRoot(kStamp + 3, {{11, 1, 10}}, 5, 4));
  EXPECT_EQ(ReadPointer(pages, TextPointer(kStamp + 3, 14, 0)), std::string(10, 'c'));
}

TEST(LobWalker, RootRulesOfTheValueReader) {
  MemoryPages pages;
  pages.At(10).Add(LobData(kStamp, Fill('x', 50)));
  pages.At(10).Add(LobRoot(kStamp, {{10, 0, 50}}));                    // slot 1
  pages.At(10).Add(LobRoot(kStamp, {{10, 0, 50}}, 1, 5, 2));           // slot 2: 2 links, at most 1
  LobReadReport report;
  // A root whose identifier is not the pointer's is not expanded.
  EXPECT_EQ(ReadPointer(pages, TextPointer(kStamp + 0x10000, 10, 1), &report), "");
  EXPECT_EQ(report.stop, LobStop::kDamaged);
  EXPECT_EQ(ReadPointer(pages, TextPointer(kStamp, 10, 2), &report), "");
  EXPECT_EQ(report.stop, LobStop::kDamaged);
  // A root reached through a link (not as a pointer's target) is not a piece of the value.
  EXPECT_EQ(ReadPointer(pages, InlineRoot(kStamp, {{50, 10, 1}}), &report), "");
  EXPECT_EQ(report.stop, LobStop::kDamaged);

  // Slot 0 whose stored offset has low byte 0x60 is read at 96.
  Page& p = pages.At(20);
  p.Add(LobData(kStamp, Fill('s', 10)));
  p.SetSlot(0, 0x1160);
  EXPECT_EQ(ReadPointer(pages, TextPointer(kStamp, 20, 0)), "ssssssssss");
}

TEST(LobWalker, TornBitsArePutBackBeforeARecordIsRead) {
  MemoryPages pages;
  Page& p = pages.At(30);
  p.Add(LobData(kStamp, Fill('t', 2000)));
  // The last byte of sector 1 (offset 1023) was torn: its two low bits come back from bits
  // 2 and 3 of the torn-bits word.
  p.bytes[1023] = BYTE('t' | 0x03);
  PutLE(p.bytes, 60, 0x00000001, 4);
  PutLE(p.bytes, 4, 0x0100, 2);
  EXPECT_EQ(ReadPointer(pages, TextPointer(kStamp, 30, 0)), std::string(2000, 't'));
}

// Each case breaks one link of a three-piece value; the walk ends cleanly, the other pieces
// stay, and the report names the damage.
TEST(LobWalker, DamagedLinksEndCleanlyWithWhatWasRead) {
  const struct {
    const char* what;
    std::function<void(MemoryPages&)> damage;
  } cases[] = {
      {"page missing from the source", [](MemoryPages& m) { m.pages.erase(11); }},
      {"page of another type", [](MemoryPages& m) { m.At(11).bytes[1] = kPageData; }},
      {"page whose own id differs", [](MemoryPages& m) { PutLE(m.At(11).bytes, 32, 99, 4); }},
      {"slot beyond the slot count", [](MemoryPages& m) { m.At(11).SetSlotCount(0); }},
      {"slot entry inside the header", [](MemoryPages& m) { m.At(11).SetSlot(0, 0x0040); }},
      {"record longer than the page", [](MemoryPages& m) { PutLE(m.At(11).bytes, 96 + 2, 0xFFF0, 2); }},
      {"record shorter than its header", [](MemoryPages& m) { PutLE(m.At(11).bytes, 96 + 2, 6, 2); }},
      {"record of an unknown kind", [](MemoryPages& m) { PutLE(m.At(11).bytes, 96 + 12, 9, 2); }},
      {"small value longer than its record", [](MemoryPages& m) {
         m.At(11) = Page(kPageTextMix, 11, 40, 256);
         Bytes small = LobSmall(kStamp, Fill('b', 4));
         PutLE(small, 14, 4000, 2);
         m.At(11).Add(small);
       }},
  };
  for (const auto& c : cases) {
    MemoryPages pages;
    pages.At(10).Add(LobData(kStamp, Fill('a', 5)));
    pages.At(11).Add(LobData(kStamp, Fill('b', 5)));
    pages.At(12).Add(LobData(kStamp, Fill('c', 5)));
    c.damage(pages);
    LobReadReport report;
    EXPECT_EQ(ReadPointer(pages, InlineRoot(kStamp, {{5, 10, 0}, {10, 11, 0}, {15, 12, 0}}), &report), "aaaaaccccc")
        << c.what;
    EXPECT_EQ(report.stop, LobStop::kDamaged) << c.what;
    EXPECT_EQ(report.bytes, 10u) << c.what;
  }
}

TEST(LobWalker, CyclesDepthAndSizeAreBounded) {
  MemoryPages pages;
  // A node that names itself, and two nodes that name each other.
  pages.At(40, kPageTextTree).Add(LobNode(kStamp, {{41, 0, 5}, {40, 0, 10}}));
  pages.At(41).Add(LobData(kStamp, Fill('d', 5)));
  pages.At(42, kPageTextTree).Add(LobNode(kStamp, {{43, 0, 5}}));
  pages.At(43, kPageTextTree).Add(LobNode(kStamp, {{42, 0, 5}}));
  LobReadReport report;
  EXPECT_EQ(ReadPointer(pages, InlineRoot(kStamp, {{10, 40, 0}}, 4, 1), &report), "ddddd");
  EXPECT_EQ(report.stop, LobStop::kCycle);
  EXPECT_EQ(ReadPointer(pages, InlineRoot(kStamp, {{5, 42, 0}}, 4, 1), &report), "");
  EXPECT_EQ(report.stop, LobStop::kCycle);
  // The same record named twice by one root is a cycle too: its bytes are read once.
  EXPECT_EQ(ReadPointer(pages, InlineRoot(kStamp, {{5, 41, 0}, {10, 41, 0}}), &report), "ddddd");
  EXPECT_EQ(report.stop, LobStop::kCycle);

  // A chain of nodes deeper than any real tree.
  for (DWORD id = 100; id < 120; ++id) pages.At(id, kPageTextTree).Add(LobNode(kStamp, {{id + 1, 0, 5}}));
  pages.At(120).Add(LobData(kStamp, Fill('e', 5)));
  EXPECT_EQ(ReadPointer(pages, InlineRoot(kStamp, {{5, 100, 0}}, 4, 1), &report), "");
  EXPECT_EQ(report.stop, LobStop::kDepth);
  EXPECT_LE(report.records, 10u);
  LobLimits deep;
  deep.maxDepth = 30;
  EXPECT_EQ(ReadPointer(pages, InlineRoot(kStamp, {{5, 100, 0}}, 4, 1), &report, deep), "eeeee");
  EXPECT_TRUE(report.complete());

  // Byte and record limits cut the value where they are reached.
  pages.At(50).Add(LobData(kStamp, Fill('f', 100)));
  pages.At(50).Add(LobData(kStamp, Fill('g', 100)));
  LobLimits small;
  small.maxBytes = 150;
  EXPECT_EQ(ReadPointer(pages, InlineRoot(kStamp, {{100, 50, 0}, {200, 50, 1}}), &report, small),
            std::string(100, 'f') + std::string(50, 'g'));
  EXPECT_EQ(report.stop, LobStop::kBytes);
  LobLimits few;
  few.maxRecords = 1;
  EXPECT_EQ(ReadPointer(pages, InlineRoot(kStamp, {{100, 50, 0}, {200, 50, 1}}), &report, few), std::string(100, 'f'));
  EXPECT_EQ(report.stop, LobStop::kRecords);
}

TEST(LobWalker, RefusingSinkStopsTheWalk) {
  struct Refuse : LobSink {
    int calls = 0;
    bool Append(const BYTE*, size_t) override {
      ++calls;
      return false;
    }
  } sink;
  MemoryPages pages;
  pages.At(10).Add(LobData(kStamp, Fill('a', 5)));
  pages.At(10).Add(LobData(kStamp, Fill('b', 5)));
  OffRowPointer pointer;
  const Bytes root = InlineRoot(kStamp, {{5, 10, 0}, {10, 10, 1}});
  ASSERT_TRUE(ParseOffRowPointer(ByteView(root.data(), root.size()), pointer));
  LobWalker walker(pages.Reader());
  walker.ReadPointer(pointer, sink);
  EXPECT_EQ(sink.calls, 1);
  EXPECT_EQ(walker.report().stop, LobStop::kSink);
  // Both records share a page: it was read once.
  EXPECT_EQ(pages.reads, 1);
}

TEST(LobRendering, HexTextCheckAndPlainText) {
  const Bytes abcde = Utf16("abcde");
  const auto render = [](const Bytes& b, bool hex, bool check) {
    return std::string(RenderLobText(b.data(), b.size(), hex, check).c_str());
  };
  EXPECT_EQ(render(abcde, false, true), "abcde");
  EXPECT_EQ(render(abcde, true, false), "61006200630064006500");
  // Only bytes 1, 3 and 5 are checked: a non-ASCII byte elsewhere is kept as a character.
  EXPECT_EQ(render({'a', 0, 'b', 0, 0xE9, 0, 'x', 'y'}, false, true), "ab\xE9xy");
  EXPECT_EQ(render({'a', 0, 'b', 1, 'c', 0}, false, true), "?????");
  EXPECT_EQ(render({'a', 'b'}, false, true), "?????");
  EXPECT_EQ(render({'a', 'b'}, false, false), "ab");
  EXPECT_EQ(render({}, true, true), "");
}

// The engine's readers over a plain file of synthetic pages, as the decoders call them.
TEST(EngineLobReaders, TextHexBlobAndDamagedLinks) {
  ModuleFolderScope scope;
  TempDir dir;
  PageFile file;
  file.At(3, kPageTextMix).Add(LobData(kStamp, Fill('p', 40)));     // 3:0
  file.At(3, kPageTextMix).Add(LobData(kStamp, Fill('q', 10)));     // 3:1
  file.At(4, kPageTextMix).Add(LobData(kStamp, Fill('r', 5)));      // 4:0
  file.At(5, kPageTextMix).Add(LobRoot(kStamp, {{3, 0, 40}, {3, 1, 50}, {4, 0, 55}}));  // 5:0
  file.At(6, kPageTextTree).Add(LobNode(kStamp, {{4, 0, 5}, {3, 1, 15}}));                     // 6:0
  file.At(7, kPageData);  // a data page, where no value lives
  file.At(5, kPageTextMix).Add(LobRoot(kStamp, {{4, 0, 5}, {900, 0, 10}, {5, 1, 15}}));   // 5:1: outside, itself
  CSQLServer2008 engine;
  UsePlainFile(engine, file.Write(dir));

  const std::string whole = std::string(40, 'p') + std::string(10, 'q') + std::string(5, 'r');
  EXPECT_EQ(engine.ReadLobValue(5, 0, kStamp, false, true, false, false, nullptr).str(), whole);
  EXPECT_EQ(engine.ReadLobValue(4, 0, kStamp, true, true, false, false, nullptr).str(), "7272727272");
  EXPECT_EQ(engine.ReadLobFragment(6, 0, kStamp, false, false, false, nullptr).str(), "rrrrrqqqqqqqqqq");
  EXPECT_EQ(engine.ReadLobValue(7, 0, kStamp, false, true, false, false, nullptr).str(), "");
  EXPECT_EQ(engine.ReadLobValue(5000, 0, kStamp, false, true, false, false, nullptr).str(), "");
  // A link outside the file and a link back to its own root: what was read stays.
  EXPECT_EQ(engine.ReadLobValue(5, 1, kStamp, false, true, false, false, nullptr).str(), "rrrrr");
  EXPECT_NE(scope.ReadExecLog().find("Off-row value at page 5 slot 1"), std::string::npos);

  // Blob mode: the runs reach the table's file in link order and the result is empty.
  CTable* table = engine.NewTable();
  const std::string blobPath = dir.file("Blob1");
  table->m_hBlobFile = CreateFileForWrite(blobPath.c_str());
  ASSERT_NE(table->m_hBlobFile, kInvalidFile);
  EXPECT_EQ(engine.ReadLobValue(5, 0, kStamp, false, true, false, true, table).str(), "");
  EXPECT_EQ(engine.ReadLobFragment(6, 0, kStamp, false, false, true, table).str(), "");
  CloseFileHandle(table->m_hBlobFile);
  EXPECT_EQ(testsupport::ReadFile(blobPath), whole + "rrrrrqqqqqqqqqq");
  // Without an open Blob file nothing is read.
  EXPECT_EQ(engine.ReadLobValue(5, 0, kStamp, false, true, false, true, table).str(), "");

  OffRowPointer pointer;
  const Bytes root = InlineRoot(kStamp, {{40, 3, 0}, {50, 3, 1}, {55, 4, 0}});
  ASSERT_TRUE(ParseOffRowPointer(ByteView(root.data(), root.size()), pointer));
  LobBytesSink sink;
  LobReadReport report;
  EXPECT_TRUE(engine.ReadOffRowValue(pointer, sink, &report));
  EXPECT_EQ(sink.bytes, whole);
  EXPECT_EQ(report.bytes, pointer.ExpectedBytes());
}

namespace {

// Every off-row pointer in the user data of a scanned source: complex variable columns of
// the records on the pages of user tables and of every allocation unit the census grouped
// (tables the catalog stages leave out, such as the diagram table, included).
struct FoundPointer {
  DWORD page;
  OffRowPointer pointer;
};

std::vector<FoundPointer> OffRowPointersOf(CSQLServer2008& engine) {
  std::vector<FoundPointer> found;
  std::set<DWORD> seen;
  std::vector<BYTE> page(kPageSize);
  auto scan = [&](const CTable* group) {
    for (DWORD n : group->m_vecDataPages) {
      if (!seen.insert(n).second) continue;
      if (!engine.ReadSourcePage(n, page.data()) || PageTypeOf(page.data()) != kPageData) continue;
      RestoreTornBitsIfPresent(page.data());
      ForEachSlot(page.data(), [&](int, WORD entry) {
        ByteView r(page.data() + entry, kPageSize - entry);
        const BYTE status = r.U8(0);
        // Rows and forwarded rows with a variable part.
        if ((status >> 1 & 7) > 1 || !(status & 0x20)) return true;
        const WORD fixed = r.U16(2);
        const WORD columns = r.U16(fixed);
        const size_t vars = fixed + 2 + (columns + 7) / 8;
        const WORD count = r.U16(vars);
        size_t start = vars + 2 + 2 * size_t(count);
        for (WORD v = 0; v < count && r.ok(); ++v) {
          const WORD end = r.U16(vars + 2 + 2 * v);
          if ((end & 0x8000) && (end & 0x7FFF) >= start) {
            ByteView column = r.Sub(start, (end & 0x7FFF) - start);
            FoundPointer f;
            f.page = n;
            if (r.ok() && ParseOffRowPointer(column, f.pointer)) found.push_back(f);
          }
          start = end & 0x7FFF;
        }
        return true;
      });
    }
  };
  for (const auto& e : engine.m_mapTables)
    if (e.second && e.second->m_dwObjectId >= 200) scan(e.second);
  for (const auto& e : engine.m_mapPageGroups)
    if (e.second) scan(e.second);
  return found;
}

}  // namespace

// Values of several pieces come back whole: 36-byte roots in the library backup, the
// three-entry root of a 17,924-byte value in the 512-block Northwind, and text pointers
// (whose roots are on text pages a backup stores out of page-id order).
TEST(EngineLobReaders, FixtureValuesComeBackAtTheirFullLength) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  const struct {
    const char* file;
    size_t roots;          // max-type roots in the rows
    bool textPointers;
    UINT64 largest;        // the largest root value
  } cases[] = {
      {"bak2008_library_small.bak", 3, false, 12804},
      {"bak2008_northwind_512blk.bak", 1, true, 17924},
      {"bak2008r2_northwind_victor.bak", 0, true, 0},
      {"bak2005_northwnd_mina.bak", 0, true, 0},
      {"mdf2008_northwnd_itsligo.mdf", 0, true, 0},
      {"mdf2008_pubs_itsligo.mdf", 0, true, 0},  // an image whose root names an internal node
  };
  for (const auto& c : cases) {
    const std::string path = testsupport::FixturePath(c.file);
    ASSERT_FALSE(path.empty()) << c.file;
    ModuleFolderScope scope;
    CSQLServer2008 engine;
    ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished) << c.file;
    size_t roots = 0, textPointers = 0;
    UINT64 largest = 0, textBytes = 0;
    for (const FoundPointer& f : OffRowPointersOf(engine)) {
      LobBytesSink sink;
      LobReadReport report;
      EXPECT_TRUE(engine.ReadOffRowValue(f.pointer, sink, &report))
          << c.file << " page " << f.page << ": " << LobStopText(report.stop);
      if (f.pointer.form == OffRowPointer::Form::kRoot) {
        ++roots;
        EXPECT_EQ(sink.bytes.size(), f.pointer.ExpectedBytes()) << c.file << " page " << f.page;
        largest = std::max<UINT64>(largest, sink.bytes.size());
      } else {
        ++textPointers;
        textBytes += sink.bytes.size();
      }
    }
    EXPECT_EQ(roots, c.roots) << c.file;
    EXPECT_EQ(textPointers > 0, c.textPointers) << c.file;
    EXPECT_EQ(largest, c.largest) << c.file;
    if (c.textPointers) {
      EXPECT_GT(textBytes, 0u) << c.file;
    }
    EXPECT_EQ(scope.ReadExecLog().find("Off-row value"), std::string::npos) << c.file;
  }
}
