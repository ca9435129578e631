// Page access of the 2000 format: the backup sets, where a page lies, the page census and
// the skeleton of the system-table readers.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_set>
#include <vector>

#include "common/allocation.h"
#include "common/backupreader.h"
#include "common/enginesupport.h"
#include "common/executionlog.h"
#include "common/page.h"
#include "common/placement.h"
#include "pellwyn2000.h"

namespace {
constexpr int kBootPage = 9;
constexpr int kMaxSystemTableSlots = 500;
// Rows start inside the page: 96 to 8191.
constexpr int kLastRowStart = kPageSize - 1;

// A backup's stream leaves out unallocated extents, so a text page's place in it is noted
// under its page id.
void NoteTextPage(CMapStringToString& textPages, const BYTE* page, DWORD index) {
  const BYTE type = PageTypeOf(page);
  if (type == kPageTextMix || type == kPageTextTree || type == kPageSort)
    textPages.SetAt(FormatString("%ld", PageIdOf(page)).view(), FormatString("%ld", index));
}
}  // namespace

bool CSQLServer2000::IsBackupSource() const { return IsBackupExtensionText(m_strExtension); }

void CSQLServer2000::ScanDataSets() {
  m_strExtension = GetFileExtension();
  // Listing the sets starts a new load: the file as it is now, not one pinned earlier.
  m_sourcePin.Release();
  PinEngineSource(*this);
  if (!IsBackupSource()) return;
  // The reader and its sets live as long as the engine; a second call replaces them.
  m_pCurrentSet = nullptr;
  m_pBaseSet = nullptr;
  m_nDataSetCount = 0;
  m_nDataSetCount = ReadBackupSets(m_strFilePath, m_pBackupReader);
}

void CSQLServer2000::LocateDataSet() {
  if (!IsBackupSource()) return;
  m_llDataSetStart = 0;
  m_llDataSetLength = 0;
  m_pCurrentSet = nullptr;
  m_pBaseSet = nullptr;
  if (!m_pBackupReader) return;
  CBackupSet* set = m_pBackupReader->GetSet(m_nSelectedDataSet);
  m_pCurrentSet = set;
  if (!set) {
    CExecutionLog::WriteLog(1, 0, FormatString("No backup set %d in the backup", m_nSelectedDataSet), true);
    return;
  }
  if (set->m_pStream && set->m_pStream->nOffset > 0) {
    m_llDataSetStart = INT64(set->m_pStream->nOffset);
    if (set->m_pStream->nLength > 0) m_llDataSetLength = INT64(set->m_pStream->nLength);
  }
  // A differential holds only the extents changed since its base: read alone, its catalog
  // has holes. Read over its base, as a restore would, it is the whole database.
  if (set->m_nBackupType == 2 && set->m_pStream) {
    CSourceFile file;
    if (file.Open(m_strFilePath)) m_pBaseSet = FindDifferentialBase(*m_pBackupReader, file, m_nSelectedDataSet, set);
  }
}

std::vector<PageSegment> CSQLServer2000::SetSegments() const {
  std::vector<PageSegment> segments;
  for (const CBackupSet* s : {static_cast<const CBackupSet*>(m_pCurrentSet), static_cast<const CBackupSet*>(m_pBaseSet)})
    if (s && s->m_pStream) segments.push_back({s->m_pStream->nOffset, StreamPageCount(s)});
  return segments;
}

void CSQLServer2000::GetPageOffset(int page, INT64* offset) {
  if (!offset) return;
  *offset = 0;
  if (page < 0) return;
  if (m_nDataSetCount > 0) {
    // Page n of the chosen set is the n-th block of its own stream, full or differential, and
    // past a differential's own pages its base's; without a located set the source has none.
    *offset = m_pCurrentSet && m_pCurrentSet->m_pStream ? INT64(SegmentPageOffset(SetSegments(), UINT64(page))) : 0;
    return;
  }
  *offset = INT64(page) * kPageSize;
}

bool CSQLServer2000::OpenPageSource(CPageSource& source) {
  bool opened = false;
  if (m_nDataSetCount > 0) {
    if (!m_pCurrentSet || !m_pCurrentSet->m_pStream) {
      CExecutionLog::WriteLog(1, 0, "No backup set is located: the source has no pages", true);
      return false;
    }
    opened = source.OpenSegments(m_strFilePath, SetSegments());
  } else if (IsBackupSource()) {
    // A backup whose sets are not listed (a scan loaded from a scan file, or a backup with
    // no readable set): reading it as a database file would take tape blocks for pages.
    return false;
  } else {
    opened = source.OpenPlain(m_strFilePath);
  }
  if (!opened) CExecutionLog::WriteLog(0, 0, "Error in opening a file", true);
  return opened;
}

void CSQLServer2000::ReadAllPages() {
  CEngineStatus* status = m_pStatus;
  // A stale signal of an earlier scan in this process must not release this census.
  ResetEvent(status->m_hPageRead);
  ResetEvent(status->m_hRecordEvent);
  ResetEvent(status->m_hPageReadComplete);
  status->m_bAllPagesRead = 0;
  m_nCensusPagesRead = 0;

  CPageSource source;
  OpenPageSource(source);
  const UINT64 limit = std::min<UINT64>(source.PageCount(), 0x7FFFFFFF);
  status->m_nTotalPages = int(limit);
  const bool backup = m_nDataSetCount > 0;

  auto kept = std::make_shared<CAllocationEvidence>();
  CAllocationEvidence& evidence = *kept;
  DWORD lastPageId = 0;
  struct Filed {
    DWORD objectId;  // as the page header names it
    WORD indexId;
    DWORD index;
    DWORD pageId;
    WORD fileId;
    ChainLinks links;
  };
  std::vector<Filed> filed;
  std::map<DWORD, CTable*> groups;
  CTable* lastGroup = nullptr;
  DWORD lastObject = 0;
  auto groupOf = [&](DWORD objectId) {
    if (lastGroup && lastObject == objectId) return lastGroup;
    CTable*& slot = groups[objectId];
    if (!slot) {
      const CString key = FormatString("%ld", objectId);
      if (!m_mapTables.Lookup(key.view(), slot) || !slot) {
        slot = NewTable();
        slot->m_dwObjectId = objectId;
        slot->m_dwValue6 = objectId;
        m_mapTables.SetAt(key.view(), slot);
      }
    }
    lastGroup = slot;
    lastObject = objectId;
    return slot;
  };

  // place: where the page stands in the file's numbering (its index in a plain file, or the
  // page it stands for when it was read in place of a page the file does not hold). An
  // allocation page out of its place is no evidence all the same: it is judged where it lies.
  auto file = [&](const BYTE* page, DWORD index, DWORD place) {
    const BYTE type = PageTypeOf(page);
    evidence.AddPage(page, backup ? CAllocationEvidence::kInsideBackup : INT64(index));
    if (PageFileIdOf(page) == 1) lastPageId = std::max(lastPageId, PageIdOf(page));
    if (type == kPageData) {
      const DWORD pageId = backup ? PageIdOf(page) : place;
      filed.push_back({PageObjectId(page), PageIndexId(page), index, pageId, PageFileIdOf(page),
                       ChainLinksOf(page, PageFileIdOf(page), pageId, false)});
    } else if (backup) {
      NoteTextPage(m_mapTextPages, page, index);
    }
  };
  // A page out of its place is neither evidence nor filed until the census knows whether the
  // page it names is anywhere else.
  CPagePlacement placement(backup, limit);
  // A differential read over its base holds the newer copy of each page it has: the base's
  // copies of those pages (same file and page id) are passed over.
  const UINT64 ownPages = m_pBaseSet && !source.Segments().empty() ? source.Segments().front().pages : 0;
  std::unordered_set<UINT64> newer;
  int superseded = 0;
  const bool finished = RunCensusLoop(source, limit, status, m_nCensusHandOverEvery, m_nCensusPagesRead,
                                      [&](const BYTE* page, DWORD index) {
    if (ownPages > 0) {
      const UINT64 key = UINT64(PageFileIdOf(page)) << 32 | PageIdOf(page);
      if (index < ownPages) {
        // An unformatted page (type 0) names no page it could replace.
        if (PageTypeOf(page) != 0) newer.insert(key);
      } else if (newer.count(key)) {
        ++superseded;
        return;
      }
    }
    if (placement.Admit(page, index)) file(page, index, index);
  });
  {
    std::vector<BYTE> page(kPageSize);
    for (const CPagePlacement::Stand& s : placement.Finish())
      if (source.ReadPage(s.index, page.data())) file(page.data(), s.index, s.pageId);
  }
  for (const CString& line : placement.LogLines()) CExecutionLog::WriteLog(0, 0, line, false);

  // Allocation pages may follow the data pages they describe, so pages are sorted into
  // live and set aside once every page has been seen; each list keeps page order.
  evidence.Finish();
  // A page's table has two witnesses: the object id in its header, and the IAM pages of the
  // heap or clustered index (index id 0 or 1) that hold it. Where they disagree the IAM
  // pages place it: a damaged header field must not file a system table's rows as another
  // table's.
  CUnitWitnessLog placementLog;
  // The pages of each table in census order; where no PFS page is left for some of them, the
  // table's page chain speaks for them.
  std::map<CTable*, std::vector<size_t>> members;
  std::vector<CTable*> order;
  for (size_t i = 0; i < filed.size(); ++i) {
    Filed& f = filed[i];
    DWORD objectId = f.objectId;
    CAllocationEvidence::IamUnit owner;
    const bool owned = evidence.InUseOwner(f.fileId, f.pageId, owner) && owner.indexId <= 1;
    if (owned && owner.objectId != objectId) {
      placementLog.Moved(f.fileId, f.pageId, {f.indexId, f.objectId}, owner);
      objectId = owner.objectId;
    }
    f.links.heldByIam = owned;
    CTable* table = groupOf(objectId);
    table->m_nBitColumns = 0;
    auto& own = members[table];
    if (own.empty()) order.push_back(table);
    own.push_back(i);
  }
  for (CTable* table : order) {
    const std::vector<size_t>& own = members[table];
    std::vector<ChainLinks> links;
    links.reserve(own.size());
    for (size_t i : own) links.push_back(filed[i].links);
    const std::vector<CAllocationEvidence::Chain> chain = evidence.ChainWords(links);
    for (size_t k = 0; k < own.size(); ++k) {
      const Filed& f = filed[own[k]];
      if (evidence.SetAside(f.fileId, f.pageId, chain[k])) table->m_vecFreedPages.push_back(f.index);
      else table->m_vecDataPages.push_back(f.index);
    }
  }
  for (const CString& line : placementLog.LogLines()) CExecutionLog::WriteLog(0, 0, line, false);
  for (const CString& line : evidence.LogLines()) CExecutionLog::WriteLog(0, 0, line, false);
  m_catalogChecks.KeepEvidence(kept, backup, lastPageId, UINT64(limit));
  if (const CString lost = evidence.LostPfsWarning(); !lost.IsEmpty()) NoteScanWarning(lost);
  if (backup && m_pCurrentSet && m_pCurrentSet->m_nBackupType == 2) {
    if (m_pBaseSet) {
      int baseNumber = 0;
      for (int k = 1; k <= m_pBackupReader->m_nStreamCount && !baseNumber; ++k)
        if (m_pBackupReader->GetSet(k) == m_pBaseSet) baseNumber = k;
      CExecutionLog::WriteLog(0, 0,
                              FormatString("Page census: differential backup set %d read over its base, full backup "
                                           "set %d; %d pages of the full backup replaced by the differential's",
                                           m_nSelectedDataSet, baseNumber, superseded),
                              false);
    } else {
      CExecutionLog::WriteLog(0, 0,
                              FormatString("Page census: the base full backup of differential backup set %d is "
                                           "missing: only the changed pages were read",
                                           m_nSelectedDataSet),
                              false);
    }
  }
  // Before the final "PageRead", so a partner that wakes on it sees the census has ended.
  status->m_bAllPagesRead = 1;
  if (finished) SetEvent(status->m_hPageRead);
}

bool CSQLServer2000::HasPageSource() const {
  return !IsBackupSource() || (m_nDataSetCount > 0 && m_pCurrentSet && m_pCurrentSet->m_pStream);
}

bool CSQLServer2000::IndexTextPages() {
  CPageSource source;
  if (!OpenPageSource(source)) return false;
  m_mapTextPages.RemoveAll();
  if (m_nDataSetCount <= 0) return true;  // a plain file: a page's place is its id
  constexpr size_t kChunkPages = 64;
  std::vector<BYTE> chunk(kChunkPages * kPageSize);
  std::vector<BYTE> single(kPageSize);
  const UINT64 ownPages = m_pBaseSet && !source.Segments().empty() ? source.Segments().front().pages : 0;
  CString noted;
  for (UINT64 first = 0; first < source.PageCount(); first += kChunkPages) {
    const size_t count = size_t(std::min<UINT64>(kChunkPages, source.PageCount() - first));
    const size_t whole = source.ReadPages(first, count, chunk.data());
    for (size_t k = 0; k < count; ++k) {
      const BYTE* page = chunk.data() + k * kPageSize;
      // A piece that came back short: the rest of it page by page, as the census reads it.
      if (k >= whole) {
        if (!source.ReadPage(first + k, single.data())) continue;
        page = single.data();
      }
      // Past a differential's own pages, a base page the differential also holds stays its.
      if (first + k >= ownPages && ownPages > 0 && m_mapTextPages.Lookup(FormatString("%ld", PageIdOf(page)).view(), noted))
        continue;
      NoteTextPage(m_mapTextPages, page, DWORD(first + k));
    }
  }
  CExecutionLog::WriteLog(0, 0, FormatString("Text pages of backup set %d indexed: %d", m_nSelectedDataSet,
                                             int(m_mapTextPages.GetCount())), false);
  return true;
}

bool CSQLServer2000::ReadSystemTable(const SystemTable& systemTable) {
  CTable* table = nullptr;
  if (!m_mapTables.Lookup(systemTable.objectId, table) || !table) {
    CExecutionLog::WriteLog(1, 0, systemTable.missingMessage, true);
    return false;
  }
  CPageSource source;
  if (!OpenPageSource(source)) return true;
  CExecutionLog::WriteLog(0, 0, FormatString("Found : %d", int(table->m_vecDataPages.size())), false);
  SlotWalkOptions options;
  options.repairFirstSlot = systemTable.repairFirstSlot;
  options.maxEntry = kLastRowStart;
  options.skipPageAbove = kMaxSystemTableSlots;
  std::vector<BYTE> page(kPageSize);
  const DWORD objectId = DWORD(std::strtoul(systemTable.objectId, nullptr, 10));
  CCatalogPageCheck check = m_catalogChecks.Start(objectId);
  std::vector<int> failed;
  // The pages the census set aside as free are no rows, but their places are known.
  if (m_nDataSetCount > 0)
    for (DWORD index : table->m_vecFreedPages)
      if (source.ReadPage(index, page.data())) m_mapCatalogPagePlaces.emplace(PageIdOf(page.data()), index);
  // The page list is copied: a parser may add pages to no list, but it must not matter.
  const std::vector<DWORD> pages = table->m_vecDataPages;
  for (DWORD index : pages) {
    if (!source.ReadPage(index, page.data()) || PageTypeOf(page.data()) != kPageData) continue;
    RestoreTornBitsIfPresent(page.data());
    m_mapCatalogPagePlaces.emplace(PageIdOf(page.data()), index);
    if (!check.Walked(page.data(), options, failed)) continue;
    BYTE* body = page.data() + kPageHeaderSize;
    ForEachSlot(page.data(), options, [&](int slot, WORD entry) {
      if (std::binary_search(failed.begin(), failed.end(), slot)) return true;
      try {
        (this->*systemTable.parser)(body, WORD(entry - kPageHeaderSize));
      } catch (...) {
        // A row that cannot be parsed is left out; the walk goes on with the next slot.
      }
      return true;
    });
  }
  FinishCatalogPageCheck(check, source);
  m_catalogChecks.Keep(std::move(check));
  return true;
}

void CSQLServer2000::FinishCatalogPageCheck(CCatalogPageCheck& check, CPageSource& source) {
  const bool backup = m_nDataSetCount > 0;
  // Inside a backup a page is found only through the catalog pages read so far in its
  // extent; one that cannot be found there is not judged.
  check.Finish(1, backup, [&](DWORD pageId, BYTE* buffer) {
    if (!backup) return source.ReadPage(pageId, buffer);
    auto locate = [&](DWORD id, DWORD& at) {
      auto it = m_mapCatalogPagePlaces.find(id);
      if (it == m_mapCatalogPagePlaces.end()) return false;
      at = it->second;
      return true;
    };
    DWORD index = 0;
    return LocateThroughExtent(pageId, locate, index) && source.ReadPage(index, buffer);
  }, backup, m_catalogChecks.HeldPages(check.ObjectId()));
}

void CSQLServer2000::CheckCatalogFirstPages() {
  CPageSource source;
  if (!OpenPageSource(source)) return;
  m_catalogChecks.CheckFirstPages([&](CCatalogPageCheck& check) { FinishCatalogPageCheck(check, source); });
}

void CSQLServer2000::NoteScanWarning(const CString& text) {
  m_vecScanWarnings.push_back(text.str());
  CExecutionLog::WriteLog(0, 0, "Warning: " + text, true);
}

const char* CSQLServer2000::SystemTableName(DWORD objectId) {
  static const struct {
    DWORD id;
    const char* name;
  } kNames[] = {
      {1, "sysobjects"}, {2, "sysindexes"}, {3, "syscolumns"},  {4, "systypes"},
      {6, "syscomments"}, {10, "sysusers"}, {14, "sysreferences"},
  };
  for (const auto& n : kNames)
    if (n.id == objectId) return n.name;
  return nullptr;
}

void CSQLServer2000::ReadExtentPages(DWORD extent, CString objectId) {
  CPageSource source;
  if (!OpenPageSource(source)) return;
  RowParser parser = nullptr;
  if (objectId == "3") parser = &CSQLServer2000::DecodeColumnRow;
  else if (objectId == "6") parser = &CSQLServer2000::ParseSysCommentsRow;
  else if (objectId == "1") parser = &CSQLServer2000::ParseSysObjectsRow;
  else if (objectId == "2") parser = &CSQLServer2000::ParseSysIndexesRow;
  const bool catalog = parser || objectId == "2";
  SlotWalkOptions options;
  options.maxEntry = kLastRowStart;
  std::vector<BYTE> page(kPageSize);
  const UINT64 first = UINT64(extent) * 8;
  for (UINT64 p = first; p < first + 8; ++p) {
    if (!source.ReadPage(p, page.data()) || PageTypeOf(page.data()) != kPageData) continue;
    CTable* table = nullptr;
    if (!catalog && m_mapTables.Lookup(objectId.view(), table) && table) table->m_vecExtentPages.push_back(int(p));
    if (!parser) continue;
    BYTE* body = page.data() + kPageHeaderSize;
    ForEachSlot(page.data(), options, [&](int, WORD entry) {
      try {
        (this->*parser)(body, WORD(entry - kPageHeaderSize));
      } catch (...) {
      }
      return true;
    });
  }
  if (objectId == "6") StoreObjectTexts();
}

CString CSQLServer2000::GetDatabaseName() {
  CPageSource source;
  if (!OpenPageSource(source)) return CString();
  std::vector<BYTE> page(kPageSize);
  CString name = source.ReadPage(kBootPage, page.data()) ? DatabaseNameFromBootPage(page.data()) : CString();
  // A differential without its own copy of the boot page: its base's.
  if (name.IsEmpty() && m_pBaseSet && !source.Segments().empty() &&
      source.ReadPage(source.Segments().front().pages + kBootPage, page.data()))
    name = DatabaseNameFromBootPage(page.data());
  return name;
}
