// The census's allocation rule: a data page is set aside only when its PFS byte and the IAM
// pages of its owner both say it is free.
#include <gtest/gtest.h>

#include "dll/pellwyn2000/allocation2000.h"
#include "pages2000.h"

using namespace rows2000;

namespace {

constexpr DWORD kOwner = 300;

Page PfsPage(const std::vector<DWORD>& allocated) {
  Page pfs(11, 99, 1);
  for (DWORD p : allocated) pfs.Put(100 + p, 0x40, 1);
  return pfs;
}

// An IAM page of the owner: single pages, and the extents of its bitmap (from page 0).
Page IamPage(DWORD owner, const std::vector<DWORD>& singles, const std::vector<DWORD>& extents) {
  Page iam(10, owner, 20);
  Bytes header(94, 0);
  header[2] = 94;
  for (size_t k = 0; k < singles.size(); ++k) {
    header[46 + 6 * k] = BYTE(singles[k]);
    header[47 + 6 * k] = BYTE(singles[k] >> 8);
    header[50 + 6 * k] = 1;
  }
  iam.Add(header);
  Bytes bitmap(4 + 64, 0);
  for (DWORD e : extents) bitmap[4 + e / 8] |= BYTE(1 << (e % 8));
  iam.Add(bitmap);
  return iam;
}

}  // namespace

TEST(Allocation2000, PageIsSetAsideOnlyWhenBothSourcesSayFree) {
  CAllocationEvidence2000 evidence;
  evidence.Note(PfsPage({40, 41}).data());           // pages 40, 41 allocated; the rest free
  evidence.Note(IamPage(kOwner, {50}, {7}).data());  // single page 50, extent 7 = pages 56-63
  struct Case {
    const char* label;
    DWORD page, owner;
    bool aside;
  } cases[] = {
      {"free in PFS, listed nowhere", 45, kOwner, true},
      {"allocated in PFS", 40, kOwner, false},
      {"free in PFS, an IAM single page", 50, kOwner, false},
      {"free in PFS, inside an IAM extent", 60, kOwner, false},
      {"free in PFS, an owner without IAM pages", 45, 301, false},
      {"beyond every PFS page seen", 9000, kOwner, false},
  };
  for (const Case& c : cases) EXPECT_EQ(evidence.SetAside(c.page, c.owner), c.aside) << c.label;
}
