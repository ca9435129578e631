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
#include "record.h"

namespace {

void Log(const char* text) { CExecutionLog::WriteLog(0, 0, text, false); }

// A data page as the census met it: its place and the unit its header names.
struct HeaderUnit {
  DWORD index;
  WORD indexId;
  DWORD objectId;
  ChainLinks links;  // its place (self) is filled once the census knows where it stands
};

// The unit a data page can belong to, by the two header fields that form its allocation
// unit id (index id << 48 | object id << 16). Index id 0 or 1 is a system table's heap or
// clustered index, whose unit id is that small number; 256 starts every other unit id
// (1 << 56). Any other index id is no unit data pages live in: a damaged field.
struct DataUnit {
  enum Kind : BYTE { kNone, kSystem, kUser };
  Kind kind = kNone;
  DWORD objectId = 0;
  INT64 unitId = 0;
  bool operator!=(const DataUnit& o) const { return kind != o.kind || unitId != o.unitId; }
};

DataUnit DataUnitOf(WORD indexId, DWORD objectId) {
  DataUnit u;
  u.objectId = objectId;
  u.unitId = INT64(UINT64(indexId) << 48 | UINT64(objectId) << 16);
  if (indexId == 0 || indexId == 1) {
    u.kind = DataUnit::kSystem;
    u.unitId = objectId;
  } else if (indexId == 256) {
    u.kind = DataUnit::kUser;
  }
  return u;
}

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

  auto kept = std::make_shared<CAllocationEvidence>();
  CAllocationEvidence& evidence = *kept;
  DWORD lastPageId = 0;
  // Every page read, in census order.
  std::vector<CensusRun> runs;

  // Page groups looked up by integer key, the last one remembered (neighbouring pages mostly
  // share an owner); the text keys are formatted once per group. A system table's pages are
  // grouped by its object id, every other unit's by its allocation unit id; the pages no
  // witness places by the unit id their header names, under a key no catalog row has.
  std::map<DWORD, CTable*> catalogGroups;
  std::map<INT64, CTable*> unitGroups;
  std::map<INT64, CTable*> unplacedGroups;
  CTable* lastGroup = nullptr;
  INT64 lastKey = -1;
  DataUnit::Kind lastKind = DataUnit::kNone;
  auto groupOf = [&](const DataUnit& unit) -> CTable* {
    const INT64 key = unit.kind == DataUnit::kSystem ? INT64(unit.objectId) : unit.unitId;
    if (lastGroup && lastKey == key && lastKind == unit.kind) return lastGroup;
    CTable*& slot = unit.kind == DataUnit::kSystem ? catalogGroups[DWORD(key)]
                    : unit.kind == DataUnit::kUser ? unitGroups[key]
                                                   : unplacedGroups[key];
    if (!slot) {
      if (unit.kind == DataUnit::kSystem) {
        CString text = FormatString("%ld", DWORD(key));
        if (!m_mapTables.Lookup(text.view(), slot) || !slot) {
          slot = NewTable();
          slot->m_dwObjectId = DWORD(key);
          m_mapTables.SetAt(text.view(), slot);
        }
      } else {
        CString text = unit.kind == DataUnit::kUser ? FormatString("%I64d", key) : FormatString("%I64d (unplaced)", key);
        if (!m_mapPageGroups.Lookup(text.view(), slot) || !slot) {
          slot = NewTable();
          m_mapPageGroups.SetAt(text.view(), slot);
        }
      }
    }
    lastGroup = slot;
    lastKey = key;
    lastKind = unit.kind;
    return slot;
  };
  // Data pages with the unit their header names, filed once the IAM pages (which may come
  // later in the stream) can witness it.
  std::vector<HeaderUnit> dataPages;

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
    if (PageFileIdOf(page) == 1) lastPageId = std::max(lastPageId, pageId);
    if (type == kPageData) {
      dataPages.push_back({index, PageIndexId(page), PageObjectId(page), ChainLinksOf(page, 0, 0, false)});
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
  // Where a page stands: in a plain file its place is its id, whatever its (maybe damaged)
  // header says.
  auto placeOf = [&](DWORD index, WORD& fileId, DWORD& pageId) {
    const bool located = locate(index, fileId, pageId);
    if (!backup) {
      auto stand = standsFor.find(index);
      pageId = stand == standsFor.end() ? index : stand->second;
    }
    return located;
  };
  // A page's unit has witnesses: its header, the IAM pages of the unit that holds it, and the
  // layout of its records. Where the header and the IAM pages disagree the IAM pages place
  // it. A page in use that no IAM page holds keeps its header's unit, unless the header names
  // no unit, or names one whose IAM-held pages are laid out otherwise: then it goes to the
  // one of the system table and the user unit of its object id whose records have its
  // layout, when only one has. A page no witness places is filed under the unit id its
  // header names with a key no catalog row has, so it is counted and named with the other
  // unclaimed pages.
  struct Placed {
    DataUnit unit;
    bool witnessed = false;  // an IAM page holds it
    bool candidate = false;  // in use, no IAM page holds it
    WORD fileId = 0;
    DWORD pageId = 0;
  };
  using Unit = CAllocationEvidence::IamUnit;
  CUnitWitnessLog placementLog;
  std::vector<Placed> placed(dataPages.size());
  bool anyCandidate = false;
  for (size_t i = 0; i < dataPages.size(); ++i) {
    const HeaderUnit& d = dataPages[i];
    Placed& p = placed[i];
    CAllocationEvidence::IamUnit owner;
    const bool located = placeOf(d.index, p.fileId, p.pageId);
    const bool owned = located && evidence.InUseOwner(p.fileId, p.pageId, owner);
    const DataUnit byHeader = DataUnitOf(d.indexId, d.objectId);
    const DataUnit byIam = owned ? DataUnitOf(owner.indexId, owner.objectId) : DataUnit{};
    p.unit = byHeader;
    p.witnessed = byIam.kind != DataUnit::kNone;
    if (p.witnessed && byIam != byHeader) {
      p.unit = byIam;
      placementLog.Moved(p.fileId, p.pageId, {d.indexId, d.objectId}, owner);
    }
    p.candidate = !p.witnessed && (!located || evidence.Judge(p.fileId, p.pageId) != CAllocationEvidence::Verdict::kFree);
    anyCandidate = anyCandidate || p.candidate;
  }
  if (anyCandidate) {
    // The pages of each (kind, object id) the candidates could belong to.
    auto keyOf = [](const DataUnit& u) { return UINT64(u.kind) << 32 | u.objectId; };
    std::map<UINT64, std::vector<size_t>> members;
    for (const Placed& p : placed) {
      if (!p.candidate) continue;
      members[keyOf(DataUnitOf(1, p.unit.objectId))];
      members[keyOf(DataUnitOf(256, p.unit.objectId))];
    }
    for (size_t i = 0; i < placed.size(); ++i) {
      auto it = members.find(keyOf(placed[i].unit));
      if (it != members.end()) it->second.push_back(i);
    }
    // Each page's layout is read once; a group's is that of its first page an IAM page
    // holds, else of its first other page, and each group keeps the first two pages that
    // have one (the page being weighed is never its own witness). A large unit no IAM page
    // vouches for is so weighed in one pass, not once per page.
    std::vector<BYTE> buffer(kPageSize);
    std::vector<signed char> layoutRead(placed.size(), 0);  // 0 not read, 1 found, -1 none
    std::vector<std::pair<int, int>> layouts(placed.size());
    auto layoutOf = [&](size_t i, std::pair<int, int>& layout) {
      if (layoutRead[i] == 0) {
        const bool found = source.ReadPage(dataPages[i].index, buffer.data()) &&
                           PageRecordLayout(buffer.data(), layouts[i].first, layouts[i].second);
        layoutRead[i] = found ? 1 : -1;
      }
      layout = layouts[i];
      return layoutRead[i] == 1;
    };
    std::map<std::pair<UINT64, bool>, std::pair<long long, long long>> firstTwo;
    auto groupLayout = [&](const DataUnit& unit, size_t except, std::pair<int, int>& layout, bool witnessedOnly) {
      auto it = members.find(keyOf(unit));
      if (it == members.end()) return false;
      auto cached = firstTwo.find({it->first, witnessedOnly});
      if (cached == firstTwo.end()) {
        std::pair<long long, long long> found{-1, -1};
        std::pair<int, int> any;
        for (bool witnessed : {true, false}) {
          if (!witnessed && witnessedOnly) break;
          for (size_t i : it->second) {
            if (placed[i].witnessed != witnessed || !layoutOf(i, any)) continue;
            (found.first < 0 ? found.first : found.second) = (long long)(i);
            if (found.second >= 0) break;
          }
          if (found.second >= 0) break;
        }
        cached = firstTwo.emplace(std::make_pair(it->first, witnessedOnly), found).first;
      }
      const long long pick = cached->second.first != (long long)(except) ? cached->second.first : cached->second.second;
      if (pick < 0) return false;
      layout = layouts[size_t(pick)];
      return true;
    };
    // Pages of a group other than `except` (a page is in the group of its own unit).
    auto others = [&](const DataUnit& unit, size_t except) {
      auto it = members.find(keyOf(unit));
      if (it == members.end()) return size_t(0);
      return it->second.size() - (keyOf(placed[except].unit) == it->first ? 1 : 0);
    };
    // A page placed here counts for its new unit when later pages are weighed.
    auto refile = [&](size_t i, const DataUnit& to) {
      for (const DataUnit& u : {placed[i].unit, to}) {
        firstTwo.erase({keyOf(u), true});
        firstTwo.erase({keyOf(u), false});
      }
      auto from = members.find(keyOf(placed[i].unit));
      if (from != members.end()) from->second.erase(std::remove(from->second.begin(), from->second.end(), i), from->second.end());
      auto into = members.find(keyOf(to));
      if (into != members.end()) into->second.push_back(i);
      placed[i].unit = to;
    };
    // Pages whose header names a unit first, then those whose header names none: a page
    // damaged one way is not the evidence that places a page damaged the other.
    for (bool namesNone : {false, true}) {
      for (size_t i = 0; i < placed.size(); ++i) {
        Placed& p = placed[i];
        std::pair<int, int> own, layout;
        if (!p.candidate || (p.unit.kind == DataUnit::kNone) != namesNone || !layoutOf(i, own)) continue;
        p.candidate = false;
        // The header's word stands unless it names no unit, or the unit it names has pages
        // its IAM pages hold, laid out otherwise (two witnesses speak against it then), or it
        // names a user unit with no other data page where the system table of its object id
        // has more than one (a system page's index id damaged, its IAM page lost with it).
        const DataUnit asSystem = DataUnitOf(1, p.unit.objectId);
        const DataUnit asUser = DataUnitOf(256, p.unit.objectId);
        // The last is only a doubt: it moves the page when the layout fits, and unplaces none.
        const bool contradicted = namesNone || (groupLayout(p.unit, i, layout, true) && layout != own);
        const bool doubted = p.unit.kind == DataUnit::kUser && others(p.unit, i) == 0 && others(asSystem, i) >= 2;
        if (!contradicted && !doubted) continue;
        const bool fitsSystem =
            p.unit.kind != DataUnit::kSystem && groupLayout(asSystem, i, layout, false) && layout == own;
        const bool fitsUser = p.unit.kind != DataUnit::kUser && groupLayout(asUser, i, layout, false) && layout == own;
        const Unit header{dataPages[i].indexId, dataPages[i].objectId};
        if (fitsSystem != fitsUser) {
          placementLog.ByLayout(p.fileId, p.pageId, header, {WORD(fitsSystem ? 1 : 256), p.unit.objectId});
          refile(i, fitsSystem ? asSystem : asUser);
        } else if (contradicted && !namesNone) {
          placementLog.NotItsUnits(p.fileId, p.pageId, header);
          DataUnit none;
          none.objectId = p.unit.objectId;
          none.unitId = INT64(UINT64(header.indexId) << 48 | UINT64(header.objectId) << 16);
          refile(i, none);
        }
      }
    }
  }
  // The census pages of each group, in the order of its data pages.
  std::map<CTable*, std::vector<size_t>> members;
  for (size_t i = 0; i < placed.size(); ++i) {
    const DataUnit& unit = placed[i].unit;
    if (unit.kind == DataUnit::kNone && DataUnitOf(dataPages[i].indexId, 0).kind == DataUnit::kNone)
      placementLog.Unplaced(placed[i].fileId, placed[i].pageId, {dataPages[i].indexId, dataPages[i].objectId});
    CTable* group = groupOf(unit);
    group->m_vecDataPages.push_back(dataPages[i].index);
    members[group].push_back(i);
  }
  for (const CString& line : placementLog.LogLines()) Log(line);
  auto sortOut = [&](CTable* group) {
    // Where no PFS page is left for some of a unit's pages, its page chain speaks for them.
    const std::vector<size_t>& own = members[group];
    std::vector<CAllocationEvidence::Chain> chain(group->m_vecDataPages.size(), CAllocationEvidence::Chain::kUnknown);
    if (own.size() == group->m_vecDataPages.size()) {
      std::vector<ChainLinks> links;
      links.reserve(own.size());
      for (size_t i : own) {
        ChainLinks l = dataPages[i].links;
        l.self = UINT64(placed[i].fileId) << 32 | placed[i].pageId;
        l.heldByIam = placed[i].witnessed;
        links.push_back(l);
      }
      chain = evidence.ChainWords(links);
    }
    std::vector<DWORD> live;
    live.reserve(group->m_vecDataPages.size());
    for (size_t k = 0; k < group->m_vecDataPages.size(); ++k) {
      const DWORD index = group->m_vecDataPages[k];
      WORD fileId = 0;
      DWORD pageId = 0;
      const bool located = placeOf(index, fileId, pageId);
      if (located && evidence.SetAside(fileId, pageId, chain[k])) group->m_vecFreedPages.push_back(index);
      else live.push_back(index);
    }
    group->m_vecDataPages.swap(live);
  };
  for (auto& g : catalogGroups) sortOut(g.second);
  for (auto& g : unitGroups) sortOut(g.second);
  for (auto& g : unplacedGroups) sortOut(g.second);
  for (const CString& line : evidence.LogLines()) Log(line);
  m_catalogChecks.KeepEvidence(kept, backup, lastPageId, plan.totalPages);
  if (const CString lost = evidence.LostPfsWarning(); !lost.IsEmpty()) NoteScanWarning(lost);
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
  m_catalogChecks.Clear();
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
  m_catalogChecks.ForgetEvidence();
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
