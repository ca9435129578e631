#include "common/lobcore.h"

#include <gtest/gtest.h>

#include <string>

#include "dll/pellwyn2000/text_pages.h"

using namespace textpages;

namespace {

std::string ReadWith(const Pages& pages, const lobcore::Policy& policy, DWORD page, WORD slot, DWORD valueId = 0) {
  lobcore::Walker walker(pages.Reader(), policy);
  lobcore::Rid rid;
  rid.page = page;
  rid.slot = slot;
  std::string out;
  walker.ReadValue(rid, valueId, out);
  return out;
}

}  // namespace

// The two page formats read slots and tree nodes by different rules; the walk takes either.
TEST(LobWalk, PolicyOfEachFormat) {
  Pages pages;
  Bytes data = TextPage(1, {Data("in"), Data("past")});
  // The slot count says 1: slot 1 lies past it.
  recordtest::Put(data, 22, 1, 2);
  pages.pages[1] = data;
  // A node whose count field says 1 while its length holds 2 entries.
  Bytes node = TextPage(2, {Node(9, {{3, 0}, {3, 1}})}, kPageTextTree);
  recordtest::Put(node, 96 + 16, 1, 2);
  pages.pages[2] = node;
  pages.pages[3] = TextPage(3, {Data("a"), Data("b")});

  lobcore::Policy later;  // the 2005+ rules
  lobcore::Policy format2000;
  format2000.extraSlots = 2;
  format2000.nodeEntriesFromLength = true;
  EXPECT_EQ(ReadWith(pages, later, 1, 1), "");
  EXPECT_EQ(ReadWith(pages, format2000, 1, 1), "past");
  EXPECT_EQ(ReadWith(pages, later, 2, 0), "a");
  EXPECT_EQ(ReadWith(pages, format2000, 2, 0), "ab");

  // Two entries naming page 4 slot 0, the second in file 2: one record to a reader that
  // finds pages by id alone, so the second link is a cycle; two records otherwise.
  Bytes twice = TextPage(5, {Node(9, {{4, 0}, {4, 0}})}, kPageTextTree);
  recordtest::Put(twice, 96 + 20 + 16 + 12, 2, 2);
  pages.pages[5] = twice;
  pages.pages[4] = TextPage(4, {Data("x")});
  lobcore::Policy byId = later;
  byId.pagesByIdAlone = true;
  EXPECT_EQ(ReadWith(pages, later, 5, 0), "xx");
  EXPECT_EQ(ReadWith(pages, byId, 5, 0), "x");
  lobcore::Walker walker(pages.Reader(), byId);
  lobcore::BytesSink sink;
  EXPECT_EQ(walker.ReadRecord({5, 1, 0}, 0, false, sink).stop, lobcore::Stop::kCycle);
}
