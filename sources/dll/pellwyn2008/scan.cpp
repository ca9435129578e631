// The scan thread: locate the chosen set, read the database name, run the page census in
// step with the progress partner, then the catalog stages in their fixed order.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>

#include "common/allocation.h"
#include "common/backupreader.h"
#include "common/enginesupport.h"
#include "common/executionlog.h"
#include "common/page.h"
#include "common/pagesource.h"
#include "common/placement.h"
#include "pellwyn2008.h"
#include "platform/threads.h"

namespace {

void Log(const char* text) { CExecutionLog::WriteLog(0, 0, text, false); }

// Runs in stream order to runs sorted by page id with no id in two of them: where pages
// share an id, the one earlier in the stream keeps it.
template <class Run>
std::vector<Run> IndexByPageId(const std::vector<Run>& inStreamOrder) {
  std::vector<Run> sorted(inStreamOrder);
  std::sort(sorted.begin(), sorted.end(), [](const Run& a, const Run& b) {
    return a.pageId != b.pageId ? a.pageId < b.pageId : a.index < b.index;
  });
  bool overlap = false;
  for (size_t i = 1; i < sorted.size() && !overlap; ++i)
    overlap = UINT64(sorted[i - 1].pageId) + sorted[i - 1].count > sorted[i].pageId;
  if (!overlap) return sorted;
  // Shared ids (zeroed pages all say 0, stale pages repeat ids): each run in stream order
  // takes the ids no earlier run holds.
  std::map<DWORD, Run> placed;
  for (const Run& r : inStreamOrder) {
    const UINT64 end = UINT64(r.pageId) + r.count;
    UINT64 at = r.pageId;
    auto it = placed.upper_bound(r.pageId);
    if (it != placed.begin()) {
      auto before = std::prev(it);
      at = std::max(at, UINT64(before->first) + before->second.count);
    }
    while (at < end) {
      it = placed.lower_bound(DWORD(at));
      const UINT64 stop = it == placed.end() ? end : std::min<UINT64>(end, it->first);
      if (stop > at) placed.emplace(DWORD(at), Run{DWORD(at), DWORD(r.index + (at - r.pageId)), DWORD(stop - at)});
      if (it == placed.end()) break;
      at = std::max(at, UINT64(it->first) + it->second.count);
    }
  }
  std::vector<Run> out;
  out.reserve(placed.size());
  for (const auto& e : placed) out.push_back(e.second);
  return out;
}

}  // namespace

CString CSQLServer2008::GetFileExtension() const { return EngineSourceExtension(*this); }

bool CSQLServer2008::IsBackupExtension() const { return IsBackupExtensionText(m_strExtension); }

void CSQLServer2008::ScanDataSets() {
  m_strExtension = GetFileExtension();
  // Listing the sets starts a new load: the file as it is now, not one pinned earlier.
  m_sourcePin.Release();
  PinEngineSource(*this);
  if (!IsBackupExtension()) return;
  // The reader and its sets live as long as the engine; a second call replaces them.
  m_pCurrentSet = nullptr;
  m_pBaseSet = nullptr;
  m_vecSetSegments.clear();
  m_nDataSetCount = ReadBackupSets(m_strFilePath, m_pBackupReader);
}

void CSQLServer2008::ScanMdfFile() {
  m_bBusy = 1;
  if (!StartDetachedThread([this] { RecoverSQLServerMDF(this); })) m_bBusy = 0;
}

void CSQLServer2008::LocateBackupDataSet() {
  m_nDataSetStart = 0;
  m_nDataSetLength = 0;
  m_pCurrentSet = nullptr;
  m_pBaseSet = nullptr;
  m_vecSetSegments.clear();
  if (!m_pBackupReader) return;
  CBackupSet* set = nullptr;
  if (!m_pBackupReader->m_mapSets.Lookup(FormatString("%d", m_nSelectedDataSet).view(), set)) return;
  m_pCurrentSet = set;
  if (!set || !set->m_pStream || set->m_pStream->nOffset == 0) return;
  m_nDataSetStart = INT64(set->m_pStream->nOffset);
  // The chosen set's own stream length, so the page total belongs to this set alone.
  m_nDataSetLength = INT64(set->m_pStream->nLength);
  // A differential holds only the extents changed since its base: read alone, its catalog
  // has holes. Read over its base, as a restore would, it is the whole database.
  if (set->m_nBackupType == 2) m_pBaseSet = FindDifferentialBase(m_nSelectedDataSet, set);
  CSourceFile file;
  const UINT64 fileSize = file.Open(m_strFilePath) ? file.Size() : 0;
  for (const CBackupSet* s : {static_cast<const CBackupSet*>(set), static_cast<const CBackupSet*>(m_pBaseSet)}) {
    if (!s || !s->m_pStream) continue;
    const UINT64 offset = s->m_pStream->nOffset;
    const UINT64 held = offset >= fileSize ? 0 : std::min(s->m_pStream->nLength, fileSize - offset);
    m_vecSetSegments.push_back({offset, std::min<UINT64>(held / kPageSize, 0x7FFFFFFF)});
  }
}

CBackupSet* CSQLServer2008::FindDifferentialBase(int number, const CBackupSet* differential) {
  if (!m_pBackupReader || !differential) return nullptr;
  CSourceFile file;
  if (!file.Open(m_strFilePath)) return nullptr;
  return ::FindDifferentialBase(*m_pBackupReader, file, number, differential);
}

void CSQLServer2008::GetPageOffset(int page, INT64* position) {
  if (!position) return;
  CBackupSet* set = m_pCurrentSet;
  if (page < 0 || !set || !set->m_pStream) {
    *position = 0;
    return;
  }
  if (m_vecSetSegments.empty()) {
    // Page n of the set is the n-th 8192-byte block of its own data stream; pages beyond
    // the stream are not in the set.
    const UINT64 pages = set->m_pStream->nLength / kPageSize;
    *position = UINT64(page) < pages ? INT64(set->m_pStream->nOffset + UINT64(page) * kPageSize) : 0;
    return;
  }
  *position = INT64(SegmentPageOffset(m_vecSetSegments, UINT64(page)));
}

bool CSQLServer2008::OpenSource() {
  // Callers hold m_csSource.
  const bool backup = m_nDataSetCount > 0;
  if (m_source.IsOpen() && m_strSourceOpened == m_strFilePath && m_bSourceIsBackup == backup &&
      (!backup || m_vecSourceSegments == m_vecSetSegments))
    return true;
  m_source.Close();
  m_strSourceOpened = m_strFilePath;
  m_bSourceIsBackup = backup;
  m_vecSourceSegments = backup ? m_vecSetSegments : std::vector<PageSegment>();
  return backup ? m_source.OpenSegments(m_strFilePath, m_vecSourceSegments) : m_source.OpenPlain(m_strFilePath);
}

bool CSQLServer2008::ReadSourcePage(DWORD page, BYTE* buffer) {
  if (!buffer) return false;
  std::memset(buffer, 0, kPageSize);
  // A backup without a located set (for example a scan loaded from file): reading it as a
  // plain database file would decode tape blocks as pages.
  if (m_nDataSetCount <= 0 && IsBackupExtension()) return false;
  std::lock_guard<std::mutex> lock(m_csSource);
  if (!OpenSource()) return false;
  return m_source.ReadPage(page, buffer);
}

bool CSQLServer2008::StreamIndexOfPageId(DWORD pageId, DWORD& index) const {
  auto it = std::upper_bound(m_vecPageIdRuns.begin(), m_vecPageIdRuns.end(), pageId,
                             [](DWORD id, const PageIdRun& r) { return id < r.pageId; });
  if (it == m_vecPageIdRuns.begin()) return false;
  --it;
  if (pageId - it->pageId >= it->count) return false;
  index = it->index + (pageId - it->pageId);
  return true;
}

bool CSQLServer2008::ReadPageById(DWORD pageId, BYTE* buffer) {
  if (m_nDataSetCount > 0) {
    DWORD index = 0;
    CString text;
    if (m_mapTextPages.Lookup(FormatString("%ld", pageId).view(), text) && !text.IsEmpty()) {
      index = DWORD(std::strtoul(text, nullptr, 10));
    } else if (!StreamIndexOfPageId(pageId, index)) {
      // The set does not hold this page: a page id is never a stream position.
      std::memset(buffer, 0, kPageSize);
      return false;
    }
    return ReadSourcePage(index, buffer);
  }
  return ReadSourcePage(pageId, buffer);
}

bool CSQLServer2008::WaitUnlessStopped(const EVENT_HANDLE& event) {
  return ::WaitUnlessStopped(event, m_pStatus ? &m_pStatus->m_bStopScan : nullptr);
}

void CSQLServer2008::ReadAllPages() {
  CEngineStatus* status = m_pStatus;
  // A stale signal of an earlier scan in this process must not release this census.
  ResetEvent(status->m_hPageRead);
  ResetEvent(status->m_hRecordEvent);
  ResetEvent(status->m_hPageReadComplete);
  status->m_bAllPagesRead = 0;
  m_nCensusPagesRead = 0;
  m_vecPageIdRuns.clear();

  CPageSource source;
  OpenCensusSource(source);
  const bool backup = m_nDataSetCount > 0;
  const CensusPlan plan = PlanCensus(source);
  status->m_nTotalPages = int(plan.totalPages);

  CAllocationEvidence evidence;
  // Every page read, in census order.
  std::vector<CensusRun> runs;

  // Page groups looked up by integer key, the last one remembered (neighbouring pages mostly
  // share an owner); the text keys are formatted once per group.
  std::map<DWORD, CTable*> catalogGroups;
  std::map<DWORD, CTable*> unitGroups;
  CTable* lastGroup = nullptr;
  DWORD lastObject = 0;
  bool lastCatalog = false;
  auto groupOf = [&](DWORD objectId, bool catalog) -> CTable* {
    if (lastGroup && lastObject == objectId && lastCatalog == catalog) return lastGroup;
    CTable*& slot = (catalog ? catalogGroups : unitGroups)[objectId];
    if (!slot) {
      if (catalog) {
        CString key = FormatString("%ld", objectId);
        if (!m_mapTables.Lookup(key.view(), slot) || !slot) {
          slot = NewTable();
          slot->m_dwObjectId = objectId;
          m_mapTables.SetAt(key.view(), slot);
        }
      } else {
        const INT64 unitId = INT64(UINT64(objectId) * 65536u + (UINT64(1) << 56));
        CString key = FormatString("%I64d", unitId);
        if (!m_mapPageGroups.Lookup(key.view(), slot) || !slot) {
          slot = NewTable();
          m_mapPageGroups.SetAt(key.view(), slot);
        }
      }
    }
    lastGroup = slot;
    lastObject = objectId;
    lastCatalog = catalog;
    return slot;
  };

  // A page out of its place is neither evidence nor filed until the census knows whether the
  // page it names is anywhere else.
  CPagePlacement placement(backup, plan.totalPages);
  // Plain file: the pages read in place of the page their header names.
  std::map<DWORD, DWORD> standsFor;
  // An allocation page out of its place is no evidence, even where it stands in for the page
  // it names: it is judged where it lies.
  auto file = [&](const BYTE* page, DWORD index) {
    const BYTE type = PageTypeOf(page);
    const DWORD pageId = PageIdOf(page);
    evidence.AddPage(page, backup ? CAllocationEvidence::kInsideBackup : INT64(index));
    if (type == kPageData) {
      const WORD indexId = PageIndexId(page);
      groupOf(PageObjectId(page), indexId == 0 || indexId == 1)->m_vecDataPages.push_back(index);
    } else if (backup && (type == kPageTextMix || type == kPageTextTree || type == kPageSort)) {
      m_mapTextPages.SetAt(FormatString("%ld", pageId).view(), FormatString("%ld", index));
    }
  };
  // Data pages are filed as live here; what the allocation pages say, which may come later
  // in the stream, sorts them out once every page has been read.
  auto census = [&](const BYTE* page, DWORD index) {
    AddToRuns(runs, page, index);
    if (placement.Admit(page, index)) file(page, index);
  };

  // The partner is handed every page (or every N pages) in turn, read or not.
  const int handOver = m_nCensusHandOverEvery;
  bool stopped = false;
  const int superseded = WalkCensusPages(source, plan, census, [&](int n) {
    m_nCensusPagesRead.store(n, std::memory_order_release);
    if (handOver <= 1 || n % handOver == 0 || n == plan.limit) {
      SetEvent(status->m_hPageRead);
      if (!WaitUnlessStopped(status->m_hRecordEvent)) {
        stopped = true;
        return false;
      }
      ResetEvent(status->m_hRecordEvent);
    }
    return true;
  });

  {
    std::vector<BYTE> page(kPageSize);
    for (const CPagePlacement::Stand& s : placement.Finish()) {
      if (!source.ReadPage(s.index, page.data())) continue;
      standsFor[s.index] = s.pageId;
      file(page.data(), s.index);
    }
  }
  for (const CString& line : placement.LogLines()) Log(line);
  // Sort the data pages out by the allocation evidence of every page read.
  evidence.Finish();
  // The run holding a census index: mostly the one of the page before, or the next one.
  size_t lastRun = 0;
  auto locate = [&](DWORD index, WORD& fileId, DWORD& pageId) {
    auto holds = [&](size_t r) { return r < runs.size() && index >= runs[r].index && index - runs[r].index < runs[r].count; };
    if (!holds(lastRun)) {
      if (holds(lastRun + 1)) {
        ++lastRun;
      } else {
        auto it = std::upper_bound(runs.begin(), runs.end(), index,
                                   [](DWORD i, const CensusRun& r) { return i < r.index; });
        if (it == runs.begin()) return false;
        lastRun = size_t(it - runs.begin()) - 1;
        if (!holds(lastRun)) return false;
      }
    }
    fileId = runs[lastRun].fileId;
    pageId = runs[lastRun].pageId + (index - runs[lastRun].index);
    return true;
  };
  auto sortOut = [&](CTable* group) {
    std::vector<DWORD> live;
    live.reserve(group->m_vecDataPages.size());
    for (DWORD index : group->m_vecDataPages) {
      WORD fileId = 0;
      DWORD pageId = 0;
      // In a plain file a page's place is its id, whatever its (maybe damaged) header says.
      const bool located = locate(index, fileId, pageId);
      if (!backup) {
        auto stand = standsFor.find(index);
        pageId = stand == standsFor.end() ? index : stand->second;
      }
      if (located && evidence.SetAside(fileId, pageId)) group->m_vecFreedPages.push_back(index);
      else live.push_back(index);
    }
    group->m_vecDataPages.swap(live);
  };
  for (auto& g : catalogGroups) sortOut(g.second);
  for (auto& g : unitGroups) sortOut(g.second);
  for (const CString& line : evidence.LogLines()) Log(line);
  if (backup && m_pCurrentSet && m_pCurrentSet->m_nBackupType == 2) {
    if (plan.overlay) {
      int baseNumber = 0;
      for (int k = 1; k <= m_pBackupReader->m_nStreamCount && !baseNumber; ++k)
        if (m_pBackupReader->GetSet(k) == m_pBaseSet) baseNumber = k;
      Log(FormatString("Page census: differential backup set %d read over its base, full backup set %d; "
                       "%d pages of the full backup replaced by the differential's",
                       m_nSelectedDataSet, baseNumber, superseded));
    } else {
      Log(FormatString("Page census: the base full backup of differential backup set %d is missing: "
                       "only the changed pages were read",
                       m_nSelectedDataSet));
    }
  }

  if (backup) SetPageIdIndex(runs);
  // Before the final "PageRead", so a partner that wakes on it sees the census has ended.
  status->m_bAllPagesRead = 1;
  if (stopped) {
    // Nobody counts any more; leave nothing signalled for a later recovery.
    ResetEvent(status->m_hPageRead);
    ResetEvent(status->m_hRecordEvent);
  } else {
    SetEvent(status->m_hPageRead);
  }
}

void CSQLServer2008::OpenCensusSource(CPageSource& source) const {
  if (m_nDataSetCount > 0) source.OpenSegments(m_strFilePath, m_vecSetSegments);
  else source.OpenPlain(m_strFilePath);
}

CSQLServer2008::CensusPlan CSQLServer2008::PlanCensus(const CPageSource& source) const {
  CensusPlan plan;
  const bool backup = m_nDataSetCount > 0;
  // One piece after the other, numbering the pages on: the file itself, or the chosen set's
  // stream and then its base's (each bounded by the file).
  if (backup) {
    if (m_pCurrentSet) plan.pieces = source.IsOpen() ? source.Segments() : m_vecSetSegments;
  } else if (source.IsOpen()) {
    plan.pieces = source.Segments();
  }
  for (PageSegment& piece : plan.pieces) {
    piece.pages = std::min<UINT64>(piece.pages, 0x7FFFFFFF - plan.totalPages);
    plan.totalPages += piece.pages;
  }
  plan.limit = int(plan.totalPages);
  if (backup && !m_pBaseSet) plan.limit = m_pCurrentSet ? std::min(plan.limit, std::max(m_pCurrentSet->m_nPages, 0)) : 0;
  plan.overlay = backup && m_pBaseSet && plan.pieces.size() > 1;
  return plan;
}

int CSQLServer2008::WalkCensusPages(const CPageSource& source, const CensusPlan& plan,
                                    const std::function<void(const BYTE* page, DWORD index)>& visit,
                                    const std::function<bool(int counted)>& counted) const {
  // A differential read over its base holds the newer copy of each page it has: the base's
  // copies of those pages are passed over. Keys (file, page id) of the differential's pages.
  std::vector<UINT64> newer;
  bool newerSorted = false;
  int superseded = 0;
  const UINT64 ownPages = plan.overlay ? plan.pieces.front().pages : 0;
  auto keyOf = [](const BYTE* page) { return UINT64(PageFileIdOf(page)) << 32 | PageIdOf(page); };
  ForEachSourcePage(
      source, UINT64(std::max(plan.limit, 0)),
      [&](const BYTE* page, DWORD index) {
        if (!plan.overlay) {
          visit(page, index);
        } else if (index < ownPages) {
          // An unformatted page (type 0) names no page it could replace.
          if (PageTypeOf(page) != 0) newer.push_back(keyOf(page));
          visit(page, index);
        } else {
          if (!newerSorted) {
            std::sort(newer.begin(), newer.end());
            newer.erase(std::unique(newer.begin(), newer.end()), newer.end());
            newerSorted = true;
          }
          if (std::binary_search(newer.begin(), newer.end(), keyOf(page))) ++superseded;
          else visit(page, index);
        }
      },
      [&](UINT64 n) { return counted(int(n)); });
  return superseded;
}

void CSQLServer2008::AddToRuns(std::vector<CensusRun>& runs, const BYTE* page, DWORD index) {
  const DWORD pageId = PageIdOf(page);
  const WORD fileId = PageFileIdOf(page);
  if (!runs.empty() && runs.back().index + runs.back().count == index && runs.back().fileId == fileId &&
      UINT64(runs.back().pageId) + runs.back().count == pageId)
    ++runs.back().count;
  else
    runs.push_back({pageId, index, 1, fileId});
}

void CSQLServer2008::SetPageIdIndex(const std::vector<CensusRun>& runs) {
  std::vector<PageIdRun> inOrder;
  inOrder.reserve(runs.size());
  for (const CensusRun& r : runs) inOrder.push_back({r.pageId, r.index, r.count});
  m_vecPageIdRuns = IndexByPageId(inOrder);
}

bool CSQLServer2008::IndexSourcePages() {
  if (m_nDataSetCount <= 0 || !m_pCurrentSet) return false;
  CPageSource source;
  OpenCensusSource(source);
  if (!source.IsOpen()) return false;
  const CensusPlan plan = PlanCensus(source);
  std::vector<CensusRun> runs;
  WalkCensusPages(source, plan, [&](const BYTE* page, DWORD index) { AddToRuns(runs, page, index); },
                  [](int) { return true; });
  SetPageIdIndex(runs);
  Log(FormatString("Pages of backup set %d indexed: %d", m_nSelectedDataSet, int(plan.totalPages)));
  return true;
}

bool CSQLServer2008::Stage(const char* text) {
  if (ScanStopped()) return false;
  Log(text);
  return true;
}

bool CSQLServer2008::HandShake(const char* waitingText) {
  if (ScanStopped()) return false;
  SetEvent(m_pStatus->m_hSysRead);
  if (waitingText) Log(waitingText);
  if (!WaitUnlessStopped(m_pStatus->m_hSystemTabRdyEvent)) return false;
  if (waitingText) Log("Event found");
  ResetEvent(m_pStatus->m_hSystemTabRdyEvent);
  return true;
}

CString CSQLServer2008::GetDatabaseName() {
  // The name is read only from the real boot page (type 13, page id 9). A differential read
  // over its base takes it from the base when its own stream lacks the page.
  CSourceFile file;
  if (!file.Open(m_strFilePath)) return CString();
  std::vector<BYTE> page(kPageSize, 0);
  if (m_nDataSetCount <= 0) return file.ReadExact(kBootPageOffset, page.data(), kPageSize) ? DatabaseNameFromBootPage(page.data()) : CString();
  const UINT64 start = UINT64(std::max<INT64>(m_nDataSetStart, 0));
  CString name = file.ReadExact(start + kBootPageOffset, page.data(), kPageSize) ? DatabaseNameFromBootPage(page.data()) : CString();
  if (name.IsEmpty() && m_pBaseSet) name = DatabaseNameOfSet(file, *m_pBaseSet);
  return name;
}

DWORD CSQLServer2008::RecoverSQLServerMDF(void* arg) {
  auto* engine = arg ? static_cast<CSQLServer2008*>(arg) : this;
  if (engine != this) return engine->RecoverSQLServerMDF(engine);
  m_bBusy = 1;
  RunScan();
  m_bBusy = 0;
  return 1;
}

void CSQLServer2008::RunScan() {
  PinEngineSource(*this);
  if (IsBackupExtension()) LocateBackupDataSet();
  CString name = GetDatabaseName();
  m_pStatus->m_strDatabaseName = name;
  m_strDatabaseName = name;
  FreeRecoveredObjects();
  m_vecScanWarnings.clear();
  m_setCatalogPagesTold.clear();
  m_mapCatalogChecks.clear();
  m_mapCatalogFirstPages.clear();
  // A stopped scan ends at the next stage or hand-shake and leaves the maps as they are.
  if (!Stage("Reading all the pages of mdf file")) return;
  ReadAllPages();
  if (!Stage("Reading allocation information")) return;
  ReadAllocationInfo();
  if (!Stage("Reading Rowsets")) return;
  ReadRowsets();
  if (!Stage("Gathering Datatypes")) return;
  GatherDataTypes();
  if (!WaitUnlessStopped(m_pStatus->m_hPageReadComplete)) return;
  // The progress partner has finished counting: clear what the census's last hand-over left
  // signalled, so the next recovery in this process starts in step.
  ResetEvent(m_pStatus->m_hPageRead);
  ResetEvent(m_pStatus->m_hRecordEvent);
  ReadOwnerNames();
  if (!Stage("Reading object information")) return;
  ReadObjectInfo();
  ReadObjectReferences();
  if (!HandShake("Waiting for event after reading object information")) return;
  if (!Stage("Gathering views,stored procedures,triggers etc")) return;
  ReadObjectValues();
  if (!HandShake("Waiting for event after Gathering views,stored procedures,triggers etc")) return;
  if (!Stage("Gathering Index information")) return;
  ReadIndexInfo();
  if (!Stage("Gathering schema information")) return;
  ReadColumnInfo();
  if (!Stage("Reading rscols")) return;
  ReadRsCols();
  if (!Stage("Filtering Objects")) return;
  FilterObjects();
  if (!Stage("Reading IsCols")) return;
  ReadIsCols();
  if (!Stage("Organizing Schema information")) return;
  OrganizeSchemaInfo();
  m_mapTables.RemoveKey("55");
  AttachConstraints();
  CheckCatalogFirstPages();
  RecoverUnclaimedPages();
  m_nTableCount = m_mapTables.GetCount();
  m_nViewCount = m_mapViews.GetCount();
  m_nProcCount = m_mapStoredProcs.GetCount();
  m_nRuleCount = m_mapRules.GetCount();
  m_nTriggerCount = m_mapTriggers.GetCount();
  m_nFunctionCount = m_mapFunctions.GetCount();
  m_nDataTypeCount = m_mapDataTypes.GetCount();
  m_nIndexCount = m_mapIndexes.GetCount();
  m_pStatus->m_nTableCount = m_nTableCount;
  m_pStatus->m_nViewCount = m_nViewCount;
  m_pStatus->m_nProcCount = m_nProcCount;
  m_pStatus->m_nRuleCount = m_nRuleCount;
  m_pStatus->m_nTriggerCount = m_nTriggerCount;
  m_pStatus->m_nFunctionCount = m_nFunctionCount;
  if (!HandShake(nullptr)) return;
  ReportSourceChange(*this, "scan");
  Log("Parse Complete");
}

void CSQLServer2008::ReadExtentPages(DWORD extent, CString objectId) {
  std::vector<BYTE> page(kPageSize);
  const bool catalogObject = objectId == "41" || objectId == "5" || objectId == "7" || objectId == "60" || objectId == "34";
  for (DWORD p = extent * 8; p < extent * 8 + 8; ++p) {
    if (!ReadSourcePage(p, page.data()) || PageTypeOf(page.data()) != kPageData) continue;
    CTable* table = nullptr;
    if (!catalogObject && m_mapTables.Lookup(objectId.view(), table) && table) table->m_vecExtentPages.push_back(int(p));
    ForEachSlot(page.data(), [&](int, WORD entry) {
      DecodeCatalogRow(objectId, page.data(), entry);
      return true;
    });
  }
}
