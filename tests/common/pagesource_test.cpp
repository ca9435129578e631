#include "common/pagesource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/page.h"
#include "support/fixtures.h"

namespace {

// A file of `pages` pages after a 512-byte head; byte 0 of each page holds its number.
std::string NumberedFile(int pages) {
  std::string bytes(512, 'h');
  for (int i = 0; i < pages; ++i) {
    std::string page(kPageSize, '\0');
    page[0] = char(i);
    bytes += page;
  }
  bytes += std::string(100, 't');  // a torn tail that is no page
  return bytes;
}

}  // namespace

// A differential's stream and then its base's are one source: page numbers go on from one
// segment to the next, a read never runs from one segment into the next, and a segment that
// reaches past the file holds only its whole pages.
TEST(PageSource, SegmentsNumberPagesOnAndStayApart) {
  testsupport::TempDir dir;
  const std::string path = dir.file("set.bak");
  testsupport::WriteFile(path, NumberedFile(10));
  auto at = [](int n) { return UINT64(512 + n * kPageSize); };

  CPageSource source;
  // Pages 6-7 of the file, then pages 1-3, then a segment claiming 5 pages from page 8.
  ASSERT_TRUE(source.OpenSegments(path.c_str(), {{at(6), 2}, {at(1), 3}, {at(8), 5}}));
  EXPECT_EQ(source.PageCount(), 7u);
  EXPECT_EQ(source.Segments()[2], (PageSegment{at(8), 2}));
  std::vector<BYTE> buffer(8 * kPageSize);
  const int expected[] = {6, 7, 1, 2, 3, 8, 9};
  for (int n = 0; n < 7; ++n) {
    ASSERT_TRUE(source.ReadPage(UINT64(n), buffer.data())) << n;
    EXPECT_EQ(buffer[0], expected[n]) << n;
    EXPECT_EQ(source.Offset(UINT64(n)), SegmentPageOffset(source.Segments(), UINT64(n)));
  }
  buffer[1] = 0x55;
  EXPECT_FALSE(source.ReadPage(7, buffer.data()));
  EXPECT_EQ(buffer[1], 0);  // nothing of an earlier page is left behind
  EXPECT_EQ(source.Offset(7), 0u);

  // Asked for 5 pages from page 1: the first segment ends after one.
  ASSERT_EQ(source.ReadPages(1, 5, buffer.data()), 1u);
  EXPECT_EQ(buffer[0], 7);
  ASSERT_EQ(source.ReadPages(2, 8, buffer.data()), 3u);
  EXPECT_EQ(buffer[2 * kPageSize], 3);
  EXPECT_EQ(source.ReadPages(7, 1, buffer.data()), 0u);

  // A plain file: every whole page, the torn tail left out.
  ASSERT_TRUE(source.OpenPlain(path.c_str()));
  EXPECT_EQ(source.PageCount(), 10u);
}
