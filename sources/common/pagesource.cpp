#include "pagesource.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/backupreader.h"
#include "common/enginestatus.h"
#include "common/page.h"
#include "common/unicodetext.h"

namespace {
constexpr unsigned kWaitSliceMs = 100;
constexpr size_t kCensusChunkPages = 128;  // 1 MiB a read
constexpr int kBootPageId = 9;
constexpr size_t kNameFieldOffset = 148;
constexpr size_t kVersionFieldOffset = 100;
constexpr int kNameFieldUnits = 128;
}  // namespace

UINT64 StreamPageCount(const CBackupSet* set) {
  if (!set || !set->m_pStream) return 0;
  return set->m_pStream->nLength / kPageSize;
}

UINT64 StreamPageOffset(const CBackupSet* set, INT64 page) {
  if (page < 0 || UINT64(page) >= StreamPageCount(set)) return 0;
  return set->m_pStream->nOffset + UINT64(page) * kPageSize;
}

UINT64 SegmentPageOffset(const std::vector<PageSegment>& segments, UINT64 page) {
  for (const PageSegment& segment : segments) {
    if (page < segment.pages) return segment.offset + page * kPageSize;
    page -= segment.pages;
  }
  return 0;
}

bool CPageSource::OpenPlain(const char* path) {
  Close();
  if (!m_file.Open(path)) return false;
  m_vecSegments = {{0, m_file.Size() / kPageSize}};
  m_nPages = m_vecSegments[0].pages;
  return true;
}

bool CPageSource::OpenStream(const char* path, UINT64 offset, UINT64 pages) {
  return OpenSegments(path, {{offset, pages}});
}

bool CPageSource::OpenSegments(const char* path, const std::vector<PageSegment>& segments) {
  Close();
  if (!m_file.Open(path)) return false;
  const UINT64 size = m_file.Size();
  for (const PageSegment& s : segments) {
    const UINT64 held = s.offset >= size ? 0 : std::min(s.pages, (size - s.offset) / kPageSize);
    m_vecSegments.push_back({s.offset, held});
    m_nPages += held;
  }
  return true;
}

void CPageSource::Close() {
  m_file.Close();
  m_vecSegments.clear();
  m_nPages = 0;
}

bool CPageSource::Locate(UINT64 page, UINT64& offset, UINT64& left) const {
  for (const PageSegment& segment : m_vecSegments) {
    if (page < segment.pages) {
      offset = segment.offset + page * kPageSize;
      left = segment.pages - page;
      return true;
    }
    page -= segment.pages;
  }
  return false;
}

UINT64 CPageSource::Offset(UINT64 page) const {
  UINT64 offset = 0, left = 0;
  return Locate(page, offset, left) ? offset : 0;
}

bool CPageSource::ReadPage(UINT64 page, BYTE* buffer) const {
  if (!buffer) return false;
  UINT64 offset = 0, left = 0;
  if (Locate(page, offset, left) && m_file.ReadExact(offset, buffer, kPageSize)) return true;
  std::memset(buffer, 0, kPageSize);
  return false;
}

size_t CPageSource::ReadPages(UINT64 first, size_t count, BYTE* buffer) const {
  UINT64 offset = 0, left = 0;
  if (!buffer || !Locate(first, offset, left)) return 0;
  // Pages of the next segment do not follow in the file.
  count = size_t(std::min<UINT64>(count, left));
  const size_t got = m_file.ReadAt(offset, buffer, count * kPageSize);
  return got / kPageSize;
}

CString DatabaseNameFromBootPage(const BYTE* page) {
  if (!page || PageTypeOf(page) != kPageBoot || PageIdOf(page) != kBootPageId) return CString();
  std::vector<WORD> units;
  for (int i = 0; i < kNameFieldUnits; ++i) {
    const WORD u = ReadU16(page + kNameFieldOffset + size_t(i) * 2);
    if (u == 0) break;
    units.push_back(u);
  }
  while (!units.empty() && (units.back() == 0x20 || units.back() == 0x2020)) units.pop_back();
  std::string bytes;
  for (WORD u : units) {
    bytes += char(u & 0xFF);
    bytes += char(u >> 8);
  }
  return CString(Utf16ToUtf8(ByteView(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size())));
}

bool BootPageVersions(const BYTE* page, int& current, int& created) {
  if (!page || PageTypeOf(page) != kPageBoot || PageIdOf(page) != kBootPageId) return false;
  current = ReadU16(page + kVersionFieldOffset);
  created = ReadU16(page + kVersionFieldOffset + 2);
  return current != 0;
}

bool WaitUnlessStopped(const EVENT_HANDLE& event, const std::atomic<BYTE>* stop) {
  for (;;) {
    if (stop && stop->load()) return false;
    const WaitResult r = WaitForEvent(event, kWaitSliceMs);
    if (r == WaitResult::Signalled) return !(stop && stop->load());
    if (r == WaitResult::Failed) return false;
  }
}

bool ForEachSourcePage(const CPageSource& source, UINT64 limit, const std::function<void(const BYTE*, DWORD)>& visit,
                       const std::function<bool(UINT64 counted)>& counted) {
  std::vector<BYTE> chunk(kCensusChunkPages * kPageSize);
  std::vector<BYTE> single(kPageSize);
  const bool opened = source.IsOpen();
  if (opened) {
    UINT64 left = limit;
    for (const PageSegment& segment : source.Segments()) {
      const UINT64 pages = std::min(left, segment.pages);
      if (pages > 0) source.File().AdviseSequential(segment.offset, pages * kPageSize);
      left -= pages;
    }
  }
  for (UINT64 first = 0; first < limit; first += kCensusChunkPages) {
    const size_t count = size_t(std::min<UINT64>(kCensusChunkPages, limit - first));
    const size_t whole = opened ? source.ReadPages(first, count, chunk.data()) : 0;
    for (size_t k = 0; k < count; ++k) {
      const UINT64 index = first + k;
      const BYTE* page = chunk.data() + k * kPageSize;
      bool read = k < whole;
      // A piece that came back short (or ran into the next segment): the rest of it page by
      // page, so a bad spot costs only the pages it holds.
      if (!read && opened) {
        read = source.ReadPage(index, single.data());
        page = single.data();
      }
      if (read) visit(page, DWORD(index));
      // A page that could not be read is counted all the same, so a partner counting pages
      // stays in step.
      if (!counted(index + 1)) return false;
    }
  }
  return true;
}

bool RunCensusLoop(const CPageSource& source, UINT64 limit, CEngineStatus* status, int handOverEvery,
                   std::atomic<long long>& pagesRead, const std::function<void(const BYTE*, DWORD)>& visit) {
  if (limit > 0x7FFFFFFF) limit = 0x7FFFFFFF;
  if (handOverEvery < 1) handOverEvery = 1;
  return ForEachSourcePage(source, limit, visit, [&](UINT64 counted) {
    const long long n = (long long)counted;
    pagesRead.store(n, std::memory_order_release);
    if (handOverEvery <= 1 || n % handOverEvery == 0 || counted == limit) {
      SetEvent(status->m_hPageRead);
      if (!WaitUnlessStopped(status->m_hRecordEvent, &status->m_bStopScan)) {
        ResetEvent(status->m_hPageRead);
        ResetEvent(status->m_hRecordEvent);
        return false;
      }
      ResetEvent(status->m_hRecordEvent);
    }
    return true;
  });
}
