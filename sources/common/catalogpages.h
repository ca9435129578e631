// The pages of one system table as a catalog walk reads them, and the ones it should have read
// and could not. A catalog page that is zeroed or overwritten is not filed under its table by
// the census (its header no longer says whose it is), so the walk would simply not see it and
// the catalog would lose its rows in silence. The pages around it still name it: the previous
// and next page links of a table's pages form one chain per level, and a link to a page the
// walk did not get points at a page that failed. Each such page is judged where it lies and
// told once, with the reason, in one text both engines share.
//
// The links name the two ends of a run of failed pages, never the pages inside it: a failed
// page has no links left to follow. Where the chain breaks so, the table's own allocation
// pages (the IAM pages of its heap or clustered index, with the PFS marking the page in use)
// say which other pages are its: each of them that fails is told as well. Without that
// witness one warning says where the chain breaks and that how many pages were lost with it
// is not known.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/page.h"
#include "platform/types.h"

class CAllocationEvidence;

struct CatalogPageRef {
  WORD fileId = 0;
  DWORD pageId = 0;
  bool operator<(const CatalogPageRef& o) const { return fileId != o.fileId ? fileId < o.fileId : pageId < o.pageId; }
  bool operator==(const CatalogPageRef& o) const { return fileId == o.fileId && pageId == o.pageId; }
};

// "catalog page <file>:<page> (<table>) failed its checks (<why>): <what was lost>".
std::string CatalogPageWarning(const CatalogPageRef& page, const std::string& table, const std::string& why,
                               const char* lost = "its rows were not read");

// Why a page read where `expected` should be is not a data page of system table `objectId`
// (index id 0 or 1 in its header); empty when it is one. `read` false: the source holds no
// page there. In a plain file `inBackup` is false and a page that cannot be read lies past
// the file's end.
std::string WhyNotCatalogPage(const BYTE* page, bool read, bool inBackup, const CatalogPageRef& expected,
                              DWORD objectId);

// The slots of a catalog page whose records fail their header checks: the header, the null
// bitmap and the variable part must lie inside the record area of the page (below the slot
// array), and the record must be of a kind a table's data page holds. Returns the count of
// slots looked at; `failed` gets the failing slot numbers.
int CatalogRecordFailures(const BYTE* page, const SlotWalkOptions& options, std::vector<int>* failed);

// A source position for a page id found through the pages of its extent: a backup keeps an
// allocated extent's eight pages one after the other, so when the page itself cannot be found
// by id (a zeroed page names no id), a page of its extent that can gives its place.
bool LocateThroughExtent(DWORD pageId, const std::function<bool(DWORD pageId, DWORD& index)>& locate,
                         DWORD& index);

// The pages of file `fileId` below `pageLimit` that the IAM pages of system table `objectId`'s
// heap or clustered index (index id 0 or 1) hold and whose PFS byte marks them in use, in page
// order. A page two units claim is no one's.
std::vector<DWORD> CatalogPagesHeld(const CAllocationEvidence& evidence, WORD fileId, DWORD objectId,
                                    DWORD pageLimit);

class CCatalogPageCheck {
 public:
  // Takes one warning text to the scan's warnings.
  using Note = std::function<void(const std::string& warning)>;
  // Reads the page with this page id into an 8192-byte buffer; false when the source holds
  // no page there.
  using ReadById = std::function<bool(DWORD pageId, BYTE* buffer)>;
  // The table's pages by its allocation pages (CatalogPagesHeld), asked only where the chain
  // breaks; empty when they cannot say.
  using HeldPages = std::function<std::vector<DWORD>()>;

  // `told`: the pages told in this scan, shared by every walk of it, so each is told once.
  // `table`: the system table's name; null names it "object N".
  CCatalogPageCheck(DWORD objectId, const char* table, std::set<CatalogPageRef>& told, Note note)
      : m_dwObjectId(objectId),
        m_strTable(table ? std::string(table) : "object " + std::to_string(objectId)),
        m_told(told),
        m_note(std::move(note)) {}

  // A page of the table the walk read, before its rows are read: its id and links are noted
  // and the page judged. False when none of its rows may be read; otherwise `failed` gets the
  // slots (in order) whose records fail their header checks, which are not to be read.
  bool Walked(const BYTE* page, const SlotWalkOptions& options, std::vector<int>& failed);
  // After the walk: the pages the walked pages link to (file `fileId` only: the catalog lies
  // in the primary file) that the walk did not get, each judged where it lies. A page of the
  // table found in its place was set aside by the census as free, and is not told. With
  // `unreadUnknown`, a page the reader cannot find is not told either: the reader knows too
  // few places to say the source does not hold it.
  // Where a failed page leaves the chain open (a page next to it in the chain is not among
  // the pages walked), the pages `held` names that the walk did not get are judged too, and
  // each that is no page of the table is told; a page of the table of another kind (an index
  // page) is not. When `held` cannot say (it is empty, or lacks a page the walk read), one
  // warning names the failed pages the chain breaks at.
  void Finish(WORD fileId, bool inBackup, const ReadById& read, bool unreadUnknown = false,
              const HeldPages& held = nullptr);

  // A page the table should have, by another witness than the links (the first page its
  // allocation row or index row names): judged by Finish like a linked page.
  void Expect(const CatalogPageRef& page) {
    if (page.pageId == 0) return;
    m_setLinked.insert(page);
    m_setExpected.insert(page);
  }

  DWORD ObjectId() const { return m_dwObjectId; }

  // The linked pages not walked, in page order.
  std::vector<CatalogPageRef> Unwalked(WORD fileId) const;

 private:
  void Tell(const CatalogPageRef& page, const std::string& why, const char* lost);
  // The failed pages (told in this scan) next to which the chain goes on to a page no walk
  // read, in page order; `walkedNext`: one of them lies next to a walked page.
  std::vector<CatalogPageRef> OpenEnds(WORD fileId, bool* walkedNext) const;
  void JudgeHeld(WORD fileId, bool inBackup, const ReadById& read, bool unreadUnknown, const HeldPages& held,
                 const std::vector<CatalogPageRef>& ends, bool walkedNext);

  DWORD m_dwObjectId;
  std::string m_strTable;
  std::set<CatalogPageRef>& m_told;
  Note m_note;
  std::set<CatalogPageRef> m_setWalked;
  std::set<CatalogPageRef> m_setLinked;
  std::set<CatalogPageRef> m_setExpected;
  // Each walked page's previous and next links (0:0 for none).
  std::map<CatalogPageRef, std::pair<CatalogPageRef, CatalogPageRef>> m_mapLinks;
  bool m_bBreakTold = false;
};

// What a scan keeps of its catalog page checks, alike in both formats: the pages told, the
// check of each system table's last walk, each system table's first page as its allocation
// row gives it, and the census's allocation evidence, which says which other pages are a
// table's where its chain breaks. It hands its checks a reference to its told pages: it is
// neither copied nor moved.
class CCatalogPageChecks {
 public:
  using NameOf = const char* (*)(DWORD objectId);
  CCatalogPageChecks(NameOf nameOf, CCatalogPageCheck::Note note) : m_nameOf(nameOf), m_note(std::move(note)) {}
  CCatalogPageChecks(const CCatalogPageChecks&) = delete;
  CCatalogPageChecks& operator=(const CCatalogPageChecks&) = delete;

  // A new scan: nothing told, checked or kept.
  void Clear();
  // A check for the walk of system table `objectId`; Keep files it once the walk is finished.
  CCatalogPageCheck Start(DWORD objectId) const;
  void Keep(CCatalogPageCheck check);
  void SetFirstPage(DWORD objectId, const CatalogPageRef& first) { m_mapFirstPages[objectId] = first; }
  // The census's evidence, and the page ids of file 1 it may speak of: a backup holds its
  // allocated extents, so past the last page id read lies at most the rest of its extent; a
  // plain file holds `filePages` pages.
  void KeepEvidence(std::shared_ptr<const CAllocationEvidence> evidence, bool backup, DWORD lastPageId,
                    UINT64 filePages);
  void ForgetEvidence() { m_pEvidence.reset(); }
  // The held pages of `objectId` for CCatalogPageCheck::Finish: empty without evidence.
  CCatalogPageCheck::HeldPages HeldPages(DWORD objectId) const;
  // Each named system table's check expects the first page its allocation row gives, and is
  // finished again by `finish`.
  void CheckFirstPages(const std::function<void(CCatalogPageCheck&)>& finish);

 private:
  NameOf m_nameOf;
  CCatalogPageCheck::Note m_note;
  mutable std::set<CatalogPageRef> m_setTold;
  std::map<DWORD, CCatalogPageCheck> m_mapChecks;
  std::map<DWORD, CatalogPageRef> m_mapFirstPages;
  std::shared_ptr<const CAllocationEvidence> m_pEvidence;
  DWORD m_dwPageLimit = 0;
};
