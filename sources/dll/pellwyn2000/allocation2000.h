// Allocation evidence of the 2000 census: what the PFS pages and the IAM pages say about
// which pages are in use. Working copies hold deallocated pages that still carry their old
// owner's object id; filing them as data would bring deleted rows back as live ones.
#pragma once

#include <map>
#include <set>
#include <vector>

#include "platform/types.h"

class CAllocationEvidence2000 {
 public:
  // Takes what a PFS page (type 11) or an IAM page (type 10) says; other pages are ignored.
  void Note(const BYTE* page);
  // The one question the census asks: is this data page set aside? Only when both sources
  // agree it is free: its PFS byte has the allocated bit clear, and no IAM page of the
  // owning object lists it (as a single page or inside one of its extents). A page no PFS
  // page covers, or whose owner has no IAM page at all, is kept.
  bool SetAside(DWORD pageId, DWORD objectId) const;

 private:
  struct Iam {
    std::set<DWORD> singlePages;
    std::set<DWORD> extents;  // first page of each extent the bitmaps hold
  };
  std::map<DWORD, std::vector<bool>> m_pfs;  // first page of each PFS interval -> allocated bits
  std::map<DWORD, Iam> m_iam;                // object id -> what its IAM pages list
};
