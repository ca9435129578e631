// The scan thread: locate the chosen set, read the database name, run the page census in
// step with the progress partner, then the catalog stages in their fixed order.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "common/backupreader.h"
#include "common/executionlog.h"
#include "common/page.h"
#include "pellwyn2008.h"
#include "platform/threads.h"

namespace {
constexpr int kPfsInterval = 8088;  // pages covered by one page free space page
constexpr int kPfsFirstByte = 100;  // offset of the first page's byte in a PFS page
constexpr BYTE kPfsAllocated = 0x40;
constexpr unsigned kWaitSliceMs = 100;

void Log(const char* text) { CExecutionLog::WriteLog(0, 0, text, false); }
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
  auto it = std::lower_bound(m_vecPageIdIndex.begin(), m_vecPageIdIndex.end(), std::make_pair(pageId, DWORD(0)));
  if (it == m_vecPageIdIndex.end() || it->first != pageId) return false;
  index = it->second;
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
  m_vecPageIdIndex.clear();

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

  // Allocation state from the page free space pages: PFS base page id -> its bytes.
  std::map<DWORD, std::vector<BYTE>> pfs;
  struct Deferred {
    CTable* group;
    DWORD index;
    DWORD pageId;
  };
  std::vector<Deferred> deferred;  // data pages seen before the PFS page that covers them
  auto pfsBaseOf = [](DWORD pageId) -> DWORD { return pageId < kPfsInterval ? 1 : pageId / kPfsInterval * kPfsInterval; };
  auto allocated = [&](DWORD pageId, bool& known) -> bool {
    auto it = pfs.find(pfsBaseOf(pageId));
    if (it == pfs.end()) {
      known = false;
      return true;
    }
    known = true;
    DWORD slot = pageId < kPfsInterval ? pageId : pageId - it->first;
    return (it->second[slot] & kPfsAllocated) != 0;
  };
  auto file_page = [](CTable* group, DWORD index, bool live) {
    (live ? group->m_vecDataPages : group->m_vecFreedPages).push_back(index);
  };

  // Page groups looked up by integer key; the text keys are formatted once per group.
  std::map<DWORD, CTable*> catalogGroups;
  std::map<INT64, CTable*> unitGroups;
  std::vector<BYTE> page(kPageSize);
  const int handOver = m_nCensusHandOverEvery;
  bool stopped = false;
  for (int n = 1; n <= limit; ++n) {
    const DWORD index = DWORD(n - 1);
    bool read = false;
    if (opened) {
      UINT64 position = 0;
      if (backup) {
        INT64 p = 0;
        GetPageOffset(int(index), &p);
        position = UINT64(std::max<INT64>(p, 0));
        read = p > 0 && file.ReadExact(position, page.data(), kPageSize);
      } else {
        read = file.ReadExact(UINT64(index) * kPageSize, page.data(), kPageSize);
      }
    }
    if (read) {
      const BYTE type = PageTypeOf(page.data());
      const DWORD pageId = PageIdOf(page.data());
      if (backup) m_vecPageIdIndex.emplace_back(pageId, index);
      if (type == kPagePfs) {
        std::vector<BYTE> copy(page.begin(), page.end());
        RestoreTornBitsIfPresent(copy.data());
        std::vector<BYTE> bits(copy.begin() + kPfsFirstByte, copy.begin() + kPfsFirstByte + kPfsInterval);
        pfs[pageId < kPfsInterval ? 1 : pageId / kPfsInterval * kPfsInterval] = std::move(bits);
      } else if (type == kPageData) {
        const DWORD objectId = PageObjectId(page.data());
        const WORD indexId = PageIndexId(page.data());
        CTable* group = nullptr;
        if (indexId == 0 || indexId == 1) {
          CTable*& slot = catalogGroups[objectId];
          if (!slot) {
            CString key = FormatString("%ld", objectId);
            if (!m_mapTables.Lookup(key.view(), slot) || !slot) {
              slot = NewTable();
              slot->m_dwObjectId = objectId;
              m_mapTables.SetAt(key.view(), slot);
            }
          }
          group = slot;
        } else {
          const INT64 unitId = INT64(UINT64(objectId) * 65536u + (UINT64(1) << 56));
          CTable*& slot = unitGroups[unitId];
          if (!slot) {
            CString key = FormatString("%I64d", unitId);
            if (!m_mapPageGroups.Lookup(key.view(), slot) || !slot) {
              slot = NewTable();
              m_mapPageGroups.SetAt(key.view(), slot);
            }
          }
          group = slot;
        }
        bool known = false;
        bool live = allocated(pageId, known);
        if (known) file_page(group, index, live);
        else deferred.push_back({group, index, pageId});
      }
      if (backup && m_pCurrentSet && int(index) >= m_pCurrentSet->m_nFirstPage &&
          int(index) <= m_pCurrentSet->m_nLastPage &&
          (type == kPageTextMix || type == kPageTextTree || type == kPageSort)) {
        m_mapTextPages.SetAt(FormatString("%ld", pageId).view(), FormatString("%ld", index));
      }
    }
    // A page that could not be read is not counted as anything, but the partner still
    // counts it, so the two sides stay in step.
    m_nCensusPagesRead.fetch_add(1, std::memory_order_release);
    if (handOver <= 1 || n % handOver == 0 || n == limit) {
      SetEvent(status->m_hPageRead);
      if (!WaitUnlessStopped(status->m_hRecordEvent)) {
        stopped = true;
        break;
      }
      ResetEvent(status->m_hRecordEvent);
    }
  }
  // Pages whose PFS page came later, or never: without a PFS page a page counts as allocated.
  for (const Deferred& d : deferred) {
    bool known = false;
    file_page(d.group, d.index, allocated(d.pageId, known));
  }
  // Deferred pages join late: keep each group's lists in stream order.
  if (!deferred.empty()) {
    auto order = [](CTable* g) {
      std::sort(g->m_vecDataPages.begin(), g->m_vecDataPages.end());
      std::sort(g->m_vecFreedPages.begin(), g->m_vecFreedPages.end());
    };
    for (auto& g : catalogGroups) order(g.second);
    for (auto& g : unitGroups) order(g.second);
  }
  std::sort(m_vecPageIdIndex.begin(), m_vecPageIdIndex.end());
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
