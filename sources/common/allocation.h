// Which data pages of a database are no longer in use, by the evidence of its allocation
// pages. A page census reads deallocated pages too: they keep their old header and rows, so
// taking them as live would bring rows back twice. One damaged allocation page must not lose
// live data either, so a data page counts as free only when two independent structures agree:
//   - its PFS byte (page free space page, type 11: one byte per page, 0x40 = allocated), and
//   - the IAM pages (type 10) of every allocation unit read: none holds the page in a
//     single-page slot, and none owns its extent while the PFS shows the whole extent free.
// An allocation page that fails its own checks (type, page id, the checksum of a page that
// carries one, the torn-page bits of a page that carries them) is no evidence. A PFS page that
// contradicts the IAM pages (a page an IAM page holds, or an extent it owns, shown free) is no
// evidence for any page it covers: a PFS page with its allocated bits lost looks exactly so.
//
// The 2000 and the 2005/2008 formats lay these pages out alike:
//   header      1  type; 4 flags (0x100 torn-page bits at 60, 0x200 checksum at 60);
//              32  page id; 36 file id
//   PFS       100  8088 bytes, the first for page base (base 0 for the first PFS page, id 1)
//   IAM slot 0      94-byte record: 40 first page of the mapped interval (page id, file id),
//                   46 eight single-page slots of 6 bytes (page id, file id), 0:0 = empty
//   IAM slot 1      record of 4 + 7988 bytes: one bit per extent of the mapped interval
//
// A census offers every page it reads to AddPage, files data pages as live meanwhile (the
// allocation pages may come after the pages they speak of), then calls Finish, asks SetAside
// about each data page and logs LogLines.
//
// The IAM pages are also the second witness of whose a page is: an IAM page's header names
// the allocation unit it maps for (index id at 6, object id at 24; in the 2000 format the
// object and index themselves), so OwnerOf says which unit holds a page, and a census need
// not take one damaged header field's word for it.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "platform/cstring.h"
#include "platform/types.h"

// The page checksum of a page that carries one (flag 0x200): the xor of each 512-byte
// sector's 32-bit words, rotated left by 15 - sector, xor-ed together; the word at 60, where
// the checksum lives, is left out.
DWORD PageChecksum(const BYTE* page);
// False when the page's own protection shows it damaged: the checksum (flag 0x200) does not
// match, or the torn-page bits (flag 0x100) are not the same 01 or 10 pattern in the last
// byte of every sector after the first. Pages that carry neither pass.
bool PageProtectionIntact(const BYTE* page);

// The leaf level of an index is one chain of pages, each linked to the next and back (header:
// level at 3, previous page at 8 and next page at 16, each a page id then a file id). Where no
// PFS page is left to say which of an index's pages are in use, that chain does: a freed page
// keeps its old links, but no page in use links to it.
struct ChainLinks {
  UINT64 self = 0, prev = 0, next = 0;  // (file << 32 | page); 0 for no page
  bool leaf = false;                    // a level-0 page: one the chain must hold
  bool heldByIam = false;               // an IAM page of the unit holds it
};
// `self` is where the page stands, not what its header says.
ChainLinks ChainLinksOf(const BYTE* page, WORD fileId, DWORD pageId, bool heldByIam);
// For the pages of one unit: sets `outside` (one flag per page) for the leaf pages no chain in
// use holds. A chain is in use when it runs from a leaf page with no previous page, over links
// both ends agree on, to one with no next page, and the unit's IAM pages hold every page of it.
// Returns false, deciding nothing, unless exactly one chain is: a heap (every page a chain of
// its own), a chain broken by a damaged page, or an old and a new chain both held decide
// nothing.
bool LeafPagesOutsideTheChain(const std::vector<ChainLinks>& pages, std::vector<bool>& outside);

class CAllocationEvidence {
 public:
  static constexpr DWORD kPfsInterval = 8088;     // pages covered by one PFS page
  static constexpr DWORD kIamInterval = 511232;   // pages mapped by one IAM page
  // For AddPage: a page read from a backup stream, where a page's place is not its id.
  static constexpr INT64 kInsideBackup = -1;

  enum class Verdict : BYTE {
    kInUse,          // the PFS marks the page allocated
    kFree,           // the PFS and the IAM pages agree the page is free
    kNoPfs,            // no PFS page that passed its checks covers the page
    // The PFS byte says free, but:
    kPfsContradicted,  // the covering PFS page contradicts the IAM pages
    kNoIam,            // no IAM page that passed its checks maps the page's interval
  };

  // Offers one page as it was read (torn-page bits not yet restored). PFS and IAM pages that
  // pass their checks become evidence; every other page is ignored. `plainPageNumber` is the
  // page's place in a plain database file, which its page id must equal, or kInsideBackup.
  // Where two PFS pages claim one interval, the later one holds.
  void AddPage(const BYTE* page, INT64 plainPageNumber);
  // Compares the PFS pages with the IAM pages; call once, after the last AddPage.
  void Finish();

  Verdict Judge(WORD fileId, DWORD pageId) const;
  // Judge as a census asks it: true when the page is to be set aside; every verdict is
  // counted for LogLines. Where no PFS page covers the page, `chain` speaks for it when it
  // knows (LeafPagesOutsideTheChain decided for the page's unit).
  enum class Chain : BYTE { kUnknown, kInChain, kOutside };
  bool SetAside(WORD fileId, DWORD pageId, Chain chain = Chain::kUnknown);
  // The chain's word on each of one unit's pages (`self` is where each stands), for SetAside:
  // asked only where some page has no PFS page to witness it; kUnknown for every page unless
  // LeafPagesOutsideTheChain decides.
  std::vector<Chain> ChainWords(const std::vector<ChainLinks>& pages) const;

  // What the census should log: the pages set aside, the pages kept although their PFS byte
  // said free and why, and the allocation pages that were no evidence. Empty when there is
  // nothing to say (no page marked free, no allocation page rejected).
  std::vector<CString> LogLines() const;
  // What a user must be told when pages were read with no PFS page to say whether they were in
  // use (the one that covers them is lost), and no page chain said it either: freed pages
  // among them can bring back old rows. Empty otherwise.
  CString LostPfsWarning() const;

  // The allocation unit an IAM page maps for, as its header names it.
  struct IamUnit {
    WORD indexId = 0;
    DWORD objectId = 0;
    bool operator==(const IamUnit& o) const { return indexId == o.indexId && objectId == o.objectId; }
    bool operator!=(const IamUnit& o) const { return !(*this == o); }
  };
  enum class Owners : BYTE { kNone, kOne, kMany };
  // Which units' IAM pages hold the page, in a single-page slot or by owning its extent:
  // kOne fills `unit`; kMany (two units claim it: one of them is damaged) is no answer.
  // Call after Finish.
  Owners OwnerOf(WORD fileId, DWORD pageId, IamUnit& unit) const;
  // The pages of file `fileId` whose single-page slot or owned extent an IAM page of a unit of
  // `objectId` with index id `maxIndexId` or less gives, in page order, each once. Call after
  // Finish. Only the IAM pages are walked: a damaged page id far out in the file costs nothing.
  std::vector<DWORD> PagesHeldBy(WORD fileId, DWORD objectId, WORD maxIndexId) const;
  // The one unit whose IAM pages hold a page still in use. A page the evidence sets aside is
  // a stale page of the unit its header names, whatever unit its extent went to since: no
  // owner then.
  bool InUseOwner(WORD fileId, DWORD pageId, IamUnit& unit) const {
    return OwnerOf(fileId, pageId, unit) == Owners::kOne && Judge(fileId, pageId) != Verdict::kFree;
  }

  int PfsPagesUsed() const { return int(m_pfs.size()); }
  int IamPagesUsed() const { return m_nIamPages; }
  int RejectedPfsPages() const { return m_nRejectedPfs; }
  int RejectedIamPages() const { return m_nRejectedIam; }
  int Count(Verdict v) const { return m_nVerdicts[size_t(v)]; }
  // Data pages kept although their PFS byte said free (counted by SetAside).
  int KeptAgainstPfs() const { return Count(Verdict::kPfsContradicted) + Count(Verdict::kNoIam); }

 private:
  struct PfsPage {
    DWORD pageId = 0;
    std::vector<std::uint64_t> allocated;  // one bit per covered page
    int contradictions = 0;                // IAM claims this page shows free
  };
  static UINT64 Key(WORD fileId, DWORD page) { return UINT64(fileId) << 32 | page; }
  static DWORD PfsBase(DWORD pageId) { return pageId < kPfsInterval ? 0 : pageId / kPfsInterval * kPfsInterval; }
  const PfsPage* FindPfs(WORD fileId, DWORD pageId) const;
  // -1 when no PFS page covers the page, else 1 allocated, 0 free.
  int Allocated(WORD fileId, DWORD pageId) const;
  void AddPfs(const BYTE* page);
  void AddIam(const BYTE* page);

  static Verdict Decide(const PfsPage* pfs, DWORD pageId, bool iamMapped);
  bool IamMapped(WORD fileId, DWORD pageId) const;
  // SetAside is asked about one page after another, mostly in the same intervals.
  Verdict JudgeCached(WORD fileId, DWORD pageId);
  UINT64 m_lastPfsKey = ~UINT64(0);
  const PfsPage* m_lastPfs = nullptr;
  UINT64 m_lastIamKey = ~UINT64(0);
  bool m_lastIamMapped = false;

  std::map<UINT64, PfsPage> m_pfs;                       // (file, interval base) -> PFS page
  std::vector<UINT64> m_vecSingles;                      // (file, page) held in single-page slots
  std::map<UINT64, std::vector<std::uint64_t>> m_extents;  // (file, interval start) -> owned extents
  // (file, page) of a single-page slot or (file, first page) of an owned extent, with the
  // unit (index id << 32 | object id) of the IAM page that says so; sorted by Finish.
  std::vector<std::pair<UINT64, UINT64>> m_vecSingleOwners;
  std::vector<std::pair<UINT64, UINT64>> m_vecExtentOwners;
  int m_nIamPages = 0;
  int m_nRejectedPfs = 0;
  int m_nRejectedIam = 0;
  int m_nVerdicts[5] = {};
  int m_nChainKept = 0;      // no PFS page, kept as pages of their index's chain
  int m_nChainSetAside = 0;  // no PFS page, set aside as outside it
  bool m_bFinished = false;
};

// What a census logs of data pages whose unit its two witnesses (the header and the IAM
// pages) disagree on: the pages placed by the IAM pages against their header, and the pages
// neither witness places. Each kind names its first pages and counts the rest.
class CUnitWitnessLog {
 public:
  using Unit = CAllocationEvidence::IamUnit;
  void Moved(WORD fileId, DWORD pageId, Unit header, Unit iam);
  // No IAM page holds the page; the layout of its records is that of `placed`'s.
  void ByLayout(WORD fileId, DWORD pageId, Unit header, Unit placed);
  void Unplaced(WORD fileId, DWORD pageId, Unit header);
  // The unit the header names holds the page in none of its IAM pages, and the page's records
  // are not laid out as that unit's.
  void NotItsUnits(WORD fileId, DWORD pageId, Unit header);
  int MovedCount() const { return m_nMoved; }
  int ByLayoutCount() const { return m_nByLayout; }
  int UnplacedCount() const { return m_nUnplaced; }
  std::vector<CString> LogLines() const;
  // What a user must be told when pages were read with no PFS page to say whether they were in
  // use (the one that covers them is lost): freed pages among them can bring back old rows.
  // Empty otherwise.
  CString LostPfsWarning() const;

 private:
  static constexpr int kNamed = 8;
  std::vector<CString> m_vecLines;
  int m_nMoved = 0;
  int m_nByLayout = 0;
  int m_nUnplaced = 0;
};
