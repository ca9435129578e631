#include "catalogpages.h"

#include <algorithm>

#include "common/allocation.h"
#include "common/datarecord.h"

namespace {

std::string PageText(const CatalogPageRef& page) {
  return std::to_string(page.fileId) + ":" + std::to_string(page.pageId);
}

bool AllZero(const BYTE* page) {
  return std::all_of(page, page + kPageSize, [](BYTE b) { return b == 0; });
}

// A link field (page id, then file id) of the header; page 0 names no page.
CatalogPageRef LinkAt(const BYTE* page, size_t at) { return {ReadU16(page + at + 4), ReadU32(page + at)}; }

}  // namespace

std::string CatalogPageWarning(const CatalogPageRef& page, const std::string& table, const std::string& why,
                               const char* lost) {
  return "catalog page " + PageText(page) + " (" + table + ") failed its checks (" + why + "): " + lost;
}

std::string WhyNotCatalogPage(const BYTE* page, bool read, bool inBackup, const CatalogPageRef& expected,
                              DWORD objectId) {
  if (!read) return inBackup ? "the backup does not hold it" : "it lies past the end of the file";
  if (AllZero(page)) return "zeroed";
  // Header version 1 is the only one these formats write.
  if (page[0] != 1) return "its header fails: header version " + std::to_string(page[0]);
  const CatalogPageRef own{PageFileIdOf(page), PageIdOf(page)};
  if (!(own == expected)) return "its header gives page " + PageText(own);
  if (PageTypeOf(page) != kPageData) return "page type " + std::to_string(PageTypeOf(page)) + ", not a data page";
  if (PageObjectId(page) != objectId || PageIndexId(page) > 1)
    return "its header names object " + std::to_string(PageObjectId(page)) + " index " +
           std::to_string(PageIndexId(page));
  return std::string();
}

int CatalogRecordFailures(const BYTE* page, const SlotWalkOptions& options, std::vector<int>* failed) {
  const int count = SlotCountCapped(page);
  if (options.skipPageAbove > 0 && count > options.skipPageAbove) return 0;
  // Records lie between the header and the slot array.
  const WORD limit = WORD(kPageSize - 2 * count);
  int looked = 0;
  for (int i = 0; i < count; ++i) {
    const WORD entry = SlotEntry(page, i, options);
    if (entry == 0) continue;
    ++looked;
    bool ok = false;
    if (entry < limit) {
      switch ((page[entry] >> 1) & 7) {
        case 0:  // primary
        case 1:  // forwarded
        case 6:  // ghost data
          ok = RecordEndOf(page, entry, limit) != 0;
          break;
        case 2:  // forwarding stub: a pointer, no columns
        case 7:  // ghost version record
          ok = true;
          break;
        default: ok = false;  // index, text or ghost index records have no place on a data page
      }
    }
    if (!ok && failed) failed->push_back(i);
  }
  return looked;
}

bool LocateThroughExtent(DWORD pageId, const std::function<bool(DWORD pageId, DWORD& index)>& locate,
                         DWORD& index) {
  if (locate(pageId, index)) return true;
  const DWORD first = pageId - pageId % 8;
  for (DWORD p = first; p < first + 8; ++p) {
    DWORD at = 0;
    if (p == pageId || !locate(p, at)) continue;
    const INT64 guess = INT64(at) + INT64(pageId) - INT64(p);
    if (guess < 0) continue;
    index = DWORD(guess);
    return true;
  }
  return false;
}

std::vector<DWORD> CatalogPagesHeld(const CAllocationEvidence& evidence, WORD fileId, DWORD objectId,
                                    DWORD pageLimit) {
  std::vector<DWORD> held;
  for (const DWORD pageId : evidence.PagesHeldBy(fileId, objectId, 1)) {
    if (pageId >= pageLimit) break;
    CAllocationEvidence::IamUnit unit;
    if (evidence.OwnerOf(fileId, pageId, unit) != CAllocationEvidence::Owners::kOne || unit.objectId != objectId ||
        unit.indexId > 1)
      continue;
    // A uniform extent is the unit's whole, but only the pages the PFS marks in use hold
    // anything: the others may never have been written.
    if (evidence.Judge(fileId, pageId) == CAllocationEvidence::Verdict::kInUse) held.push_back(pageId);
  }
  return held;
}

bool CCatalogPageCheck::Walked(const BYTE* page, const SlotWalkOptions& options, std::vector<int>& failed) {
  const CatalogPageRef where{PageFileIdOf(page), PageIdOf(page)};
  m_setWalked.insert(where);
  const CatalogPageRef prev = LinkAt(page, 8), next = LinkAt(page, 16);
  for (const CatalogPageRef& link : {prev, next})
    if (link.pageId != 0) m_setLinked.insert(link);
  m_mapLinks[where] = {prev, next};
  failed.clear();
  // The walk reads the slots that fit the page, as the check counts them: a damaged count
  // (65535) cut to its array costs no row, so it is no failure of the page.
  if (options.skipPageAbove > 0 && SlotCountCapped(page) > options.skipPageAbove) {
    Tell(where,
         "slot count " + std::to_string(SlotCountCapped(page)) + ", more than the " +
             std::to_string(options.skipPageAbove) + " its rows can take",
         "its rows were not read");
    return false;
  }
  const int looked = CatalogRecordFailures(page, options, &failed);
  if (failed.empty()) return true;
  if (int(failed.size()) == looked) {
    Tell(where, "every record fails its header checks", "its rows were not read");
    return false;
  }
  Tell(where, std::to_string(failed.size()) + " of " + std::to_string(looked) + " records fail their header checks",
       "those rows were not read");
  return true;
}

void CCatalogPageCheck::Finish(WORD fileId, bool inBackup, const ReadById& read, bool unreadUnknown,
                               const HeldPages& held) {
  std::vector<BYTE> buffer(kPageSize);
  for (const CatalogPageRef& ref : Unwalked(fileId)) {
    if (m_told.count(ref)) continue;
    std::fill(buffer.begin(), buffer.end(), BYTE(0));
    const bool got = read(ref.pageId, buffer.data());
    if (!got && unreadUnknown) continue;
    const std::string why = WhyNotCatalogPage(buffer.data(), got, inBackup, ref, m_dwObjectId);
    if (!why.empty()) Tell(ref, why, "its rows were not read");
  }
  bool walkedNext = false;
  const std::vector<CatalogPageRef> ends = OpenEnds(fileId, &walkedNext);
  if (!ends.empty()) JudgeHeld(fileId, inBackup, read, unreadUnknown, held, ends, walkedNext);
}

std::vector<CatalogPageRef> CCatalogPageCheck::OpenEnds(WORD fileId, bool* walkedNext) const {
  // A failed page's own links are lost; its neighbours are known only from the walked pages
  // that link to it (and the first page has none before it).
  std::set<CatalogPageRef> before, after;  // failed pages with a walked page before / after them
  for (const auto& [page, links] : m_mapLinks) {
    after.insert(links.first);
    before.insert(links.second);
  }
  std::vector<CatalogPageRef> ends;
  for (const CatalogPageRef& ref : Unwalked(fileId)) {
    if (!m_told.count(ref)) continue;
    const bool predecessorKnown = before.count(ref) || m_setExpected.count(ref);
    if (!predecessorKnown || !after.count(ref)) ends.push_back(ref);
  }
  if (walkedNext) {
    // A break the walk saw: one end at least lies next to a page it read.
    *walkedNext = std::any_of(ends.begin(), ends.end(),
                              [&](const CatalogPageRef& e) { return before.count(e) || after.count(e); });
  }
  return ends;
}

void CCatalogPageCheck::JudgeHeld(WORD fileId, bool inBackup, const ReadById& read, bool unreadUnknown,
                                  const HeldPages& held, const std::vector<CatalogPageRef>& ends,
                                  bool walkedNext) {
  const std::vector<DWORD> pages = held ? held() : std::vector<DWORD>();
  // A witness that does not hold every page the walk read holds too little to speak for the
  // rest.
  const std::set<DWORD> heldSet(pages.begin(), pages.end());
  bool witness = !heldSet.empty();
  for (const CatalogPageRef& walked : m_setWalked)
    if (walked.fileId == fileId && !heldSet.count(walked.pageId)) witness = false;
  if (!witness) {
    // A table none of whose pages was read shows no chain that breaks: one page may well be
    // all it has.
    if (m_bBreakTold || !walkedNext) return;
    m_bBreakTold = true;
    std::string at;
    for (const CatalogPageRef& end : ends) at += (at.empty() ? "" : ", ") + PageText(end);
    if (m_note)
      m_note("the page chain of " + m_strTable + " breaks at failed catalog page" + (ends.size() > 1 ? "s " : " ") +
             at + ": more of its pages may have been lost with " + (ends.size() > 1 ? "them" : "it") +
             ", and its allocation pages cannot say which or how many");
    return;
  }
  std::vector<BYTE> buffer(kPageSize);
  for (DWORD pageId : pages) {
    const CatalogPageRef ref{fileId, pageId};
    if (m_setWalked.count(ref) || m_told.count(ref)) continue;
    std::fill(buffer.begin(), buffer.end(), BYTE(0));
    const bool got = read(pageId, buffer.data());
    if (!got && unreadUnknown) continue;
    const std::string why = WhyNotCatalogPage(buffer.data(), got, inBackup, ref, m_dwObjectId);
    if (why.empty()) continue;
    // A page of the table of another kind: the clustered index's own pages are its too.
    const BYTE* b = buffer.data();
    if (got && b[0] == 1 && CatalogPageRef{PageFileIdOf(b), PageIdOf(b)} == ref && PageTypeOf(b) != kPageData &&
        PageObjectId(b) == m_dwObjectId)
      continue;
    Tell(ref, why, "its rows were not read");
  }
}

std::vector<CatalogPageRef> CCatalogPageCheck::Unwalked(WORD fileId) const {
  std::vector<CatalogPageRef> out;
  for (const CatalogPageRef& link : m_setLinked)
    if (link.fileId == fileId && !m_setWalked.count(link)) out.push_back(link);
  return out;
}

void CCatalogPageCheck::Tell(const CatalogPageRef& page, const std::string& why, const char* lost) {
  if (!m_told.insert(page).second) return;
  if (m_note) m_note(CatalogPageWarning(page, m_strTable, why, lost));
}

void CCatalogPageChecks::Clear() {
  m_setTold.clear();
  m_mapChecks.clear();
  m_mapFirstPages.clear();
  m_pEvidence.reset();
  m_dwPageLimit = 0;
}

CCatalogPageCheck CCatalogPageChecks::Start(DWORD objectId) const {
  return CCatalogPageCheck(objectId, m_nameOf(objectId), m_setTold, m_note);
}

void CCatalogPageChecks::Keep(CCatalogPageCheck check) {
  const DWORD objectId = check.ObjectId();
  m_mapChecks.erase(objectId);
  m_mapChecks.emplace(objectId, std::move(check));
}

void CCatalogPageChecks::KeepEvidence(std::shared_ptr<const CAllocationEvidence> evidence, bool backup,
                                      DWORD lastPageId, UINT64 filePages) {
  m_pEvidence = std::move(evidence);
  m_dwPageLimit = backup ? std::min<DWORD>(lastPageId, 0x7FFFFFF0) / 8 * 8 + 8
                         : DWORD(std::min<UINT64>(filePages, 0x7FFFFFFF));
}

CCatalogPageCheck::HeldPages CCatalogPageChecks::HeldPages(DWORD objectId) const {
  return [this, objectId] {
    return m_pEvidence ? CatalogPagesHeld(*m_pEvidence, 1, objectId, m_dwPageLimit) : std::vector<DWORD>();
  };
}

void CCatalogPageChecks::CheckFirstPages(const std::function<void(CCatalogPageCheck&)>& finish) {
  for (const auto& [objectId, first] : m_mapFirstPages) {
    if (!m_nameOf(objectId)) continue;
    auto it = m_mapChecks.find(objectId);
    if (it == m_mapChecks.end()) it = m_mapChecks.emplace(objectId, Start(objectId)).first;
    it->second.Expect(first);
    finish(it->second);
  }
}
