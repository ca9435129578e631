// The scan thread: locate the chosen set, read the database name, run the page census in
// step with the progress partner, then the catalog stages in their fixed order.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "common/backupreader.h"
#include "common/executionlog.h"
#include "common/page.h"
#include "pellwyn2008.h"
#include "platform/threads.h"

namespace {
constexpr DWORD kPfsInterval = 8088;  // pages covered by one page free space page
constexpr int kPfsFirstByte = 100;    // offset of the first page's byte in a PFS page
constexpr BYTE kPfsAllocated = 0x40;
constexpr unsigned kWaitSliceMs = 100;
constexpr size_t kCensusChunkPages = 128;  // the census reads 1 MiB at a time

void Log(const char* text) { CExecutionLog::WriteLog(0, 0, text, false); }

// The PFS page that covers a page: page 1 for the first interval, then every 8088th page.
DWORD PfsBaseOf(DWORD pageId) { return pageId < kPfsInterval ? 1 : pageId / kPfsInterval * kPfsInterval; }

// The allocated bits of one PFS page, and where in the stream that interval's first PFS
// page lay.
struct PfsInterval {
  std::array<std::uint64_t, (kPfsInterval + 63) / 64> allocated{};
  DWORD firstIndex = 0;
};

// What the PFS pages seen so far say about allocation; the last PFS page of an interval wins.
class PfsMap {
 public:
  void Store(const BYTE* page, DWORD pageId, DWORD index) {
    std::array<BYTE, kPageSize> copy;
    std::memcpy(copy.data(), page, kPageSize);
    RestoreTornBitsIfPresent(copy.data());
    auto [it, inserted] = m_map.try_emplace(PfsBaseOf(pageId));
    if (inserted) it->second.firstIndex = index;
    it->second.allocated.fill(0);
    for (DWORD slot = 0; slot < kPfsInterval; ++slot)
      if (copy[kPfsFirstByte + slot] & kPfsAllocated) it->second.allocated[slot / 64] |= std::uint64_t(1) << (slot % 64);
  }
  const PfsInterval* Find(DWORD base) {
    if (m_last && m_lastBase == base) return m_last;
    auto it = m_map.find(base);
    if (it == m_map.end()) return nullptr;
    m_lastBase = base;
    m_last = &it->second;
    return m_last;
  }
  // Without a PFS page for its interval (known = false) a page counts as allocated.
  bool Allocated(DWORD pageId, bool& known) {
    const DWORD base = PfsBaseOf(pageId);
    const PfsInterval* interval = Find(base);
    known = interval != nullptr;
    if (!interval) return true;
    const DWORD slot = pageId < kPfsInterval ? pageId : pageId - base;
    return (interval->allocated[slot / 64] >> (slot % 64)) & 1;
  }

 private:
  std::map<DWORD, PfsInterval> m_map;
  DWORD m_lastBase = 0;
  const PfsInterval* m_last = nullptr;
};

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

CString CSQLServer2008::GetFileExtension() const {
  if (m_strFilePath.GetLength() <= 2) return CString();
  int dot = m_strFilePath.ReverseFind('.');
  if (dot < 0) return CString();
  return m_strFilePath.Mid(dot + 1);
}

bool CSQLServer2008::IsBackupExtension() const {
  return !m_strExtension.IsEmpty() && m_strExtension.CompareNoCase("bak") == 0;
}

void CSQLServer2008::ScanDataSets() {
  m_strExtension = GetFileExtension();
  if (!IsBackupExtension()) return;
  // The reader and its sets live as long as the engine; a second call replaces them.
  auto* reader = new CBackupReader();
  reader->ReadDataSets(m_strFilePath);
  CBackupReader* old = m_pBackupReader;
  m_pBackupReader = reader;
  m_pCurrentSet = nullptr;
  delete old;
  m_nDataSetCount = reader->m_nStreamCount;
}

void CSQLServer2008::ScanMdfFile() {
  m_bBusy = 1;
  if (!StartDetachedThread([this] { RecoverSQLServerMDF(this); })) m_bBusy = 0;
}

void CSQLServer2008::LocateBackupDataSet() {
  m_nDataSetStart = 0;
  m_nDataSetLength = 0;
  m_pCurrentSet = nullptr;
  if (!m_pBackupReader) return;
  CBackupSet* set = nullptr;
  if (!m_pBackupReader->m_mapSets.Lookup(FormatString("%d", m_nSelectedDataSet).view(), set)) return;
  m_pCurrentSet = set;
  if (set && set->m_pStream && set->m_pStream->nOffset > 0) {
    m_nDataSetStart = INT64(set->m_pStream->nOffset);
    // The chosen set's own stream length, so the page total belongs to this set alone.
    m_nDataSetLength = INT64(set->m_pStream->nLength);
  }
}

void CSQLServer2008::GetPageOffset(int page, INT64* position) {
  if (!position) return;
  CBackupSet* set = m_pCurrentSet;
  if (page < 0 || !set || !set->m_pStream) {
    *position = 0;
    return;
  }
  // Full and differential sets alike: page n of the set is the n-th 8192-byte block of its
  // own data stream, which holds the page's true bytes; pages beyond the stream are not in
  // the set.
  const UINT64 pages = set->m_pStream->nLength / kPageSize;
  if (UINT64(page) >= pages) {
    *position = 0;
    return;
  }
  *position = INT64(set->m_pStream->nOffset + UINT64(page) * kPageSize);
}

bool CSQLServer2008::OpenSource() {
  // Callers hold m_csSource.
  if (m_source.IsOpen() && m_strSourceOpened == m_strFilePath) return true;
  m_source.Close();
  m_strSourceOpened = m_strFilePath;
  return m_source.Open(m_strFilePath);
}

bool CSQLServer2008::ReadSourcePage(DWORD page, BYTE* buffer) {
  if (!buffer) return false;
  std::memset(buffer, 0, kPageSize);
  INT64 position = 0;
  if (m_nDataSetCount > 0) {
    GetPageOffset(int(std::min<DWORD>(page, 0x7FFFFFFF)), &position);
    if (position <= 0) return false;
  } else if (IsBackupExtension()) {
    // A backup without a located set (for example a scan loaded from file): reading it as
    // a plain database file would decode tape blocks as pages.
    return false;
  } else {
    position = INT64(page) * kPageSize;
  }
  std::lock_guard<std::mutex> lock(m_csSource);
  if (!OpenSource()) return false;
  if (!m_source.ReadExact(UINT64(position), buffer, kPageSize)) {
    std::memset(buffer, 0, kPageSize);
    return false;
  }
  return true;
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
  for (;;) {
    if (ScanStopped()) return false;
    WaitResult r = WaitForEvent(event, kWaitSliceMs);
    if (r == WaitResult::Signalled) return !ScanStopped();
    if (r == WaitResult::Failed) return false;
  }
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

  CSourceFile file;
  const bool opened = file.Open(m_strFilePath);
  const UINT64 fileSize = opened ? file.Size() : 0;
  const bool backup = m_nDataSetCount > 0;
  UINT64 size = 0;
  if (backup) {
    // The set's stream, bounded by what the file really holds.
    UINT64 start = UINT64(std::max<INT64>(m_nDataSetStart, 0));
    UINT64 length = UINT64(std::max<INT64>(m_nDataSetLength, 0));
    if (m_pCurrentSet && m_pCurrentSet->m_pStream && start > 0)
      size = start >= fileSize ? 0 : std::min(length, fileSize - start);
  } else {
    size = fileSize;
  }
  UINT64 totalPages = size / kPageSize;
  if (totalPages > 0x7FFFFFFF) totalPages = 0x7FFFFFFF;
  status->m_nTotalPages = int(totalPages);
  int limit = int(totalPages);
  if (backup) limit = m_pCurrentSet ? std::min(limit, std::max(m_pCurrentSet->m_nPages, 0)) : 0;
  // Page n of the census lies at base + n x 8192: the set's stream inside a backup (every
  // page below the limit is inside it), else the file itself.
  UINT64 base = 0;
  if (backup && limit > 0) {
    INT64 p = 0;
    GetPageOffset(0, &p);
    if (p > 0) base = UINT64(p);
    else limit = 0;
  }

  PfsMap pfs;
  // PFS intervals that had data pages filed before their PFS page was seen: those pages
  // were filed as live and are checked again at the end.
  std::set<DWORD> provisional;
  DWORD lastProvisional = 0;
  // Every page read, as runs of consecutive ids at consecutive places, in stream order.
  std::vector<PageIdRun> runs;

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

  auto census = [&](const BYTE* page, DWORD index) {
    const BYTE type = PageTypeOf(page);
    const DWORD pageId = PageIdOf(page);
    if (!runs.empty() && runs.back().index + runs.back().count == index &&
        UINT64(runs.back().pageId) + runs.back().count == pageId)
      ++runs.back().count;
    else
      runs.push_back({pageId, index, 1});
    if (type == kPagePfs) {
      pfs.Store(page, pageId, index);
    } else if (type == kPageData) {
      const WORD indexId = PageIndexId(page);
      CTable* group = groupOf(PageObjectId(page), indexId == 0 || indexId == 1);
      bool known = false;
      const bool live = pfs.Allocated(pageId, known);
      (live ? group->m_vecDataPages : group->m_vecFreedPages).push_back(index);
      if (!known) {
        const DWORD interval = PfsBaseOf(pageId);
        if (interval != lastProvisional) provisional.insert(interval);
        lastProvisional = interval;
      }
    }
    if (backup && m_pCurrentSet && int(index) >= m_pCurrentSet->m_nFirstPage &&
        int(index) <= m_pCurrentSet->m_nLastPage &&
        (type == kPageTextMix || type == kPageTextTree || type == kPageSort)) {
      m_mapTextPages.SetAt(FormatString("%ld", pageId).view(), FormatString("%ld", index));
    }
  };

  // Read in 1 MiB pieces; the partner is still handed every page (or every N pages) in turn.
  std::vector<BYTE> chunk(kCensusChunkPages * kPageSize);
  std::vector<BYTE> single(kPageSize);
  if (opened && limit > 0) file.AdviseSequential(base, UINT64(limit) * kPageSize);
  const int handOver = m_nCensusHandOverEvery;
  bool stopped = false;
  for (int first = 0; first < limit && !stopped; first += int(kCensusChunkPages)) {
    const int count = std::min(int(kCensusChunkPages), limit - first);
    const size_t got =
        opened ? file.ReadAt(base + UINT64(first) * kPageSize, chunk.data(), size_t(count) * kPageSize) : 0;
    for (int k = 0; k < count; ++k) {
      const int n = first + k + 1;
      const DWORD index = DWORD(n - 1);
      const BYTE* page = chunk.data() + size_t(k) * kPageSize;
      bool read = size_t(k + 1) * kPageSize <= got;
      // A piece that came back short: the rest of it page by page, so a bad spot costs only
      // the pages it holds.
      if (!read && opened) {
        read = file.ReadExact(base + UINT64(index) * kPageSize, single.data(), kPageSize);
        page = single.data();
      }
      if (read) census(page, index);
      // A page that could not be read is not counted as anything, but the partner still
      // counts it, so the two sides stay in step.
      m_nCensusPagesRead.store(n, std::memory_order_release);
      if (handOver <= 1 || n % handOver == 0 || n == limit) {
        SetEvent(status->m_hPageRead);
        if (!WaitUnlessStopped(status->m_hRecordEvent)) {
          stopped = true;
          break;
        }
        ResetEvent(status->m_hRecordEvent);
      }
    }
  }

  // Pages filed before the PFS page of their interval came: what that PFS page says now
  // decides. Pages whose PFS page never came stay live.
  std::vector<DWORD> late;
  for (DWORD interval : provisional)
    if (pfs.Find(interval)) late.push_back(interval);
  if (!late.empty()) {
    std::sort(late.begin(), late.end());
    auto idAt = [&](DWORD index, DWORD& pageId) {
      auto it = std::upper_bound(runs.begin(), runs.end(), index,
                                 [](DWORD i, const PageIdRun& r) { return i < r.index; });
      if (it == runs.begin()) return false;
      --it;
      if (index - it->index >= it->count) return false;
      pageId = it->pageId + (index - it->index);
      return true;
    };
    auto recheck = [&](CTable* g) {
      std::vector<DWORD> freed;
      auto keep = std::remove_if(g->m_vecDataPages.begin(), g->m_vecDataPages.end(), [&](DWORD index) {
        DWORD pageId = 0;
        if (!idAt(index, pageId)) return false;
        const DWORD interval = PfsBaseOf(pageId);
        if (!std::binary_search(late.begin(), late.end(), interval)) return false;
        const PfsInterval* bits = pfs.Find(interval);
        if (index >= bits->firstIndex) return false;  // filed when the PFS page was known
        bool known = false;
        if (pfs.Allocated(pageId, known)) return false;
        freed.push_back(index);
        return true;
      });
      g->m_vecDataPages.erase(keep, g->m_vecDataPages.end());
      if (freed.empty()) return;
      const size_t middle = g->m_vecFreedPages.size();
      g->m_vecFreedPages.insert(g->m_vecFreedPages.end(), freed.begin(), freed.end());
      std::inplace_merge(g->m_vecFreedPages.begin(), g->m_vecFreedPages.begin() + ptrdiff_t(middle),
                         g->m_vecFreedPages.end());
    };
    for (auto& g : catalogGroups) recheck(g.second);
    for (auto& g : unitGroups) recheck(g.second);
  }
  if (backup) m_vecPageIdRuns = IndexByPageId(runs);
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
  // The name is read only from the real boot page (type 13, page id 9): the whole 128-unit
  // field, with its trailing padding (zero units, blanks, 0x2020 pairs) trimmed.
  std::vector<BYTE> page(kPageSize, 0);
  bool read = false;
  {
    CSourceFile file;
    if (file.Open(m_strFilePath)) {
      UINT64 position = 9ull * kPageSize;
      if (m_nDataSetCount > 0) position += UINT64(std::max<INT64>(m_nDataSetStart, 0));
      read = file.ReadExact(position, page.data(), kPageSize);
    }
  }
  if (!read || PageTypeOf(page.data()) != kPageBoot || PageIdOf(page.data()) != 9) return CString();
  ByteView field(page.data() + 148, 256);
  std::vector<WORD> units;
  for (int i = 0; i < 128; ++i) {
    WORD u = field.U16(size_t(i) * 2);
    if (u == 0) break;
    units.push_back(u);
  }
  while (!units.empty() && (units.back() == 0x20 || units.back() == 0x2020 || units.back() == 0)) units.pop_back();
  CString name;
  for (WORD u : units) name += u <= 0xFF ? char(u) : '?';
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
  if (IsBackupExtension()) LocateBackupDataSet();
  CString name = GetDatabaseName();
  m_pStatus->m_strDatabaseName = name;
  m_strDatabaseName = name;
  FreeRecoveredObjects();
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
