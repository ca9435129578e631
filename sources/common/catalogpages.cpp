#include "catalogpages.h"

#include <algorithm>

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

bool CCatalogPageCheck::Walked(const BYTE* page, const SlotWalkOptions& options, std::vector<int>& failed) {
  const CatalogPageRef where{PageFileIdOf(page), PageIdOf(page)};
  m_setWalked.insert(where);
  for (size_t at : {size_t(8), size_t(16)}) {
    const CatalogPageRef link = LinkAt(page, at);
    if (link.pageId != 0) m_setLinked.insert(link);
  }
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

void CCatalogPageCheck::Finish(WORD fileId, bool inBackup, const ReadById& read, bool unreadUnknown) {
  std::vector<BYTE> buffer(kPageSize);
  for (const CatalogPageRef& ref : Unwalked(fileId)) {
    if (m_told.count(ref)) continue;
    std::fill(buffer.begin(), buffer.end(), BYTE(0));
    const bool held = read(ref.pageId, buffer.data());
    if (!held && unreadUnknown) continue;
    const std::string why = WhyNotCatalogPage(buffer.data(), held, inBackup, ref, m_dwObjectId);
    if (!why.empty()) Tell(ref, why, "its rows were not read");
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
