// The census's page placement: a page is read where it belongs, once.
#include <gtest/gtest.h>

#include <vector>

#include "common/page.h"
#include "common/placement.h"

namespace {

std::vector<BYTE> Page(BYTE type, DWORD pageId, WORD fileId) {
  std::vector<BYTE> p(kPageSize, 0);
  p[1] = type;
  for (int i = 0; i < 4; ++i) p[32 + i] = BYTE(pageId >> (8 * i));
  p[36] = BYTE(fileId);
  p[37] = BYTE(fileId >> 8);
  return p;
}

struct Met {
  BYTE type;
  DWORD pageId;
  WORD fileId;
};

}  // namespace

TEST(PagePlacement, PlainFilePagesAreReadInTheirPlaceOrInPlaceOfAPageTheFileLacks) {
  struct Case {
    const char* what;
    std::vector<Met> pages;          // page n met at place n
    std::vector<bool> admitted;
    std::vector<std::pair<DWORD, DWORD>> stands;  // (place, page it stands for)
    int setAside;
  } cases[] = {
      {"every page in its place", {{15, 0, 1}, {11, 1, 1}, {1, 2, 1}, {0, 0, 0}}, {true, true, true, true}, {}, 0},
      {"a page copied over another whose own page is in place",
       {{15, 0, 1}, {1, 3, 1}, {1, 2, 1}, {1, 3, 1}}, {true, false, true, true}, {}, 1},
      {"a page written to the wrong place: read as the page it names",
       {{15, 0, 1}, {1, 3, 1}, {1, 2, 1}, {0, 0, 0}}, {true, false, true, true}, {{1, 3}}, 0},
      {"two copies of a page the file lacks: the first stands in",
       {{15, 0, 1}, {1, 3, 1}, {1, 3, 1}, {0, 0, 0}}, {true, false, false, true}, {{1, 3}}, 1},
      {"another file's page, a page beyond the file",
       {{15, 0, 1}, {1, 1, 4}, {1, 900, 1}}, {true, false, false}, {}, 2},
      {"no file header: any file id is taken", {{0, 0, 0}, {1, 1, 0}, {1, 2, 7}}, {true, true, true}, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CPagePlacement placement(false, c.pages.size());
    std::vector<bool> admitted;
    for (size_t n = 0; n < c.pages.size(); ++n)
      admitted.push_back(placement.Admit(Page(c.pages[n].type, c.pages[n].pageId, c.pages[n].fileId).data(), DWORD(n)));
    EXPECT_EQ(admitted, c.admitted);
    std::vector<std::pair<DWORD, DWORD>> stands;
    for (const CPagePlacement::Stand& s : placement.Finish()) stands.emplace_back(s.index, s.pageId);
    EXPECT_EQ(stands, c.stands);
    EXPECT_EQ(placement.SetAsideCount(), c.setAside);
    EXPECT_EQ(placement.LogLines().size(), size_t(c.setAside) + c.stands.size());
  }
}

TEST(PagePlacement, ABackupReadsAPageIdOnceAndLogsWithinBounds) {
  CPagePlacement placement(true, 0);
  EXPECT_TRUE(placement.Admit(Page(1, 40, 1).data(), 0));
  EXPECT_TRUE(placement.Admit(Page(1, 40, 3).data(), 1));  // the same id in another file
  EXPECT_FALSE(placement.Admit(Page(1, 40, 1).data(), 2));
  EXPECT_TRUE(placement.Admit(Page(0, 0, 0).data(), 3));
  EXPECT_TRUE(placement.Admit(Page(0, 0, 0).data(), 4));  // unformatted pages name nothing
  EXPECT_TRUE(placement.Finish().empty());
  EXPECT_EQ(placement.LogLines(),
            std::vector<CString>{"Page census: page 1:40 met again at stream page 2; the copy met first is read"});

  // A file shifted whole: a bounded log and a count of the rest.
  CPagePlacement shifted(false, 200);
  for (DWORD n = 0; n < 200; ++n) shifted.Admit(Page(1, n + 1000, 1).data(), n);
  shifted.Finish();
  EXPECT_EQ(shifted.SetAsideCount(), 200);
  EXPECT_EQ(shifted.LogLines().size(), 51u);
  EXPECT_EQ(shifted.LogLines().back(), "Page census: 150 more pages out of place");
}
