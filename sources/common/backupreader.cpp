#include "backupreader.h"

#include <climits>
#include <cstring>
#include <string>

#include "common/executionlog.h"
#include "common/unicodetext.h"
#include "common/page.h"

namespace {
constexpr size_t kStreamHeaderSize = 22;
// Data begins 2 bytes past the stream header.
constexpr size_t kStreamDataOffset = 24;
// Fixed part of an SSET block, up to and including the write date.
constexpr size_t kSetBlockBytes = 94;
constexpr UINT64 kPageBytes = 8192;
constexpr DWORD kMaxPad = 1024;

constexpr DWORD Tag(const char* id) {
  return DWORD(BYTE(id[0])) | DWORD(BYTE(id[1])) << 8 | DWORD(BYTE(id[2])) << 16 | DWORD(BYTE(id[3])) << 24;
}

int ClampToInt(INT64 v) {
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return int(v);
}
}  // namespace

CBackupReader::~CBackupReader() = default;

void CBackupReader::Reset() {
  // Sets of an earlier walk stay allocated: callers may still point at them.
  m_pFile = nullptr;
  m_pMemory = nullptr;
  m_nFileSize = 0;
  m_nFirstPage = m_nLastPage = m_nSetCount = m_nFullStream = 0;
  m_nPosition = m_nSetPosition = m_nStreamBytes = m_nDataBytes = 0;
  m_pLastSet = nullptr;
  m_mapSets.RemoveAll();
  m_nStreamCount = 0;
  m_nTotalPages = 0;
}

void CBackupReader::ReadDataSets(const char* path) {
  Reset();
  CSourceFile file;
  if (!path || !file.Open(path)) {
    LogValue("Error in opening a file", 0);
    return;
  }
  m_pFile = &file;
  m_nFileSize = file.Size();
  Walk();
  m_pFile = nullptr;
  m_nFileSize = 0;
}

void CBackupReader::ReadDataSets(const BYTE* data, size_t size) {
  Reset();
  m_pMemory = data;
  m_nFileSize = data ? size : 0;
  Walk();
  m_pMemory = nullptr;
  m_nFileSize = 0;
}

void CBackupReader::Walk() {
  m_nPosition = 0;
  for (;;) {
    if (m_nSetPosition == 0 && !FindNextSet()) break;
    UINT64 descriptor = 0;
    if (!FindBlock("MSDA", descriptor)) break;
    int recorded = m_nStreamCount;
    bool found = ReadDataDescriptor() == 1;
    if (found) LogValue("Sql Data Descriptor block found successfully.", 0);
    // A descriptor that led to no stream (no pad, or no stream where the pad ends) would
    // drop the set from the list; search the stream out instead.
    if (!found || m_nStreamCount == recorded) {
      Seek64(descriptor, begin);
      ScanSqlStreams();
    }
    m_nSetPosition = 0;
  }
}

CBackupSet* CBackupReader::GetSet(int number) const {
  CBackupSet* const* set = m_mapSets.Find(FormatString("%d", number).view());
  return set ? *set : nullptr;
}

size_t CBackupReader::ReadAt(UINT64 position, BYTE* buffer, size_t count) const {
  if (position >= m_nFileSize) return 0;
  if (UINT64(count) > m_nFileSize - position) count = size_t(m_nFileSize - position);
  if (m_pMemory) {
    std::memcpy(buffer, m_pMemory + position, count);
    return count;
  }
  return m_pFile ? m_pFile->ReadAt(position, buffer, count) : 0;
}

size_t CBackupReader::ReadBlock(BYTE* window) {
  size_t got = ReadAt(m_nPosition, window, kWindowSize);
  if (got < kWindowSize) std::memset(window + got, 0, kWindowSize - got);
  else m_nPosition += kWindowSize;
  return got;
}

bool CBackupReader::Seek64(UINT64 offset, SeekOrigin origin) {
  UINT64 target = offset;
  if (origin == current) {
    if (offset > UINT64_MAX - m_nPosition) return false;
    target = m_nPosition + offset;
  } else if (origin == end) {
    if (offset > m_nFileSize) return false;
    target = m_nFileSize - offset;
  }
  m_nPosition = target;
  return true;
}

bool CBackupReader::FindBlock(const char* id, UINT64& position) {
  BYTE window[kWindowSize];
  for (;;) {
    if (m_nPosition >= m_nFileSize) return false;
    UINT64 start = m_nPosition;
    // Only whole windows are searched; the tail of the file that does not fill one is not.
    if (ReadBlock(window) != kWindowSize) return false;
    // Consecutive windows overlap by 3 bytes, so an identifier across the border is found
    // in the next one.
    Seek64(start + kWindowSize - 3, begin);
    const void* hit = memmem(window, kWindowSize, id, 4);
    if (hit) {
      position = start + UINT64(static_cast<const BYTE*>(hit) - window);
      Seek64(position, begin);
      return true;
    }
  }
}

bool CBackupReader::FindNextSet() {
  m_nSetPosition = 0;
  UINT64 position = 0;
  if (!FindBlock("SSET", position)) return false;
  BYTE window[kWindowSize];
  if (ReadBlock(window) < kSetBlockBytes) return false;
  ByteView view(window, kWindowSize);
  if (view.U32(4) != 0) return false;
  m_nSetPosition = position;
  AddBackupSet(window, position);
  Seek64(position + kSetBlockBytes, begin);
  return true;
}

CString CBackupReader::ReadTapeText(const BYTE* window, size_t addressOffset) {
  ByteView view(window, kWindowSize);
  WORD size = view.U16(addressOffset);
  WORD offset = view.U16(addressOffset + 2);
  if (!view.ok() || size == 0 || offset == 0) return CString();
  // UTF-16LE as UTF-8; the text ends at the window's end or at the first zero unit (a
  // character such as U+4E00 has a zero low byte and goes on).
  size_t end = offset;
  while (end + 2 <= size_t(offset) + size && end + 2 <= kWindowSize && (window[end] | window[end + 1])) end += 2;
  return CString(Utf16ToUtf8(ByteView(window + offset, end - offset)));
}

SYSTEMTIME CBackupReader::DecodeWriteDate(const BYTE* p) {
  // 40 bits, most significant first: year 14, month 4, day 5, hour 5, minute 6, second 6.
  SYSTEMTIME t;
  t.wYear = WORD(p[0] << 6 | p[1] >> 2);
  t.wMonth = WORD((p[1] & 3) << 2 | p[2] >> 6);
  t.wDay = WORD((p[2] >> 1) & 31);
  t.wHour = WORD((p[2] & 1) << 4 | p[3] >> 4);
  t.wMinute = WORD((p[3] & 15) << 2 | p[4] >> 6);
  t.wSecond = WORD(p[4] & 63);
  return t;
}

void CBackupReader::AddBackupSet(const BYTE* window, UINT64 position) {
  auto set = std::make_unique<CBackupSet>();
  set->m_nPosition = position;
  ByteView view(window, kWindowSize);
  DWORD attributes = view.U32(52);
  if (attributes & 4) set->m_nBackupType = 1;
  else if (attributes & 8) set->m_nBackupType = 2;
  set->m_wSetNumber = view.U16(62);
  set->m_nSoftwareMajor = view.U8(93);
  set->m_nSoftwareMinor = view.U8(94);
  set->m_pszName = ReadTapeText(window, 64);
  set->m_pszPassword = ReadTapeText(window, 72);
  set->m_pszUser = ReadTapeText(window, 76);
  set->m_tmWritten = DecodeWriteDate(window + 88);
  m_pLastSet = set.get();
  m_sets.push_back(std::move(set));
  ++m_nSetCount;
}

int CBackupReader::ReadDataDescriptor() {
  UINT64 windowPosition = m_nPosition;
  BYTE window[kWindowSize];
  ReadBlock(window);  // what cannot be read counts as zeros
  ByteView view(window, kWindowSize);
  DWORD attributes = view.U32(4);
  if (attributes != 0) {
    LogValue("Block Attributes :", attributes);
    return 0;
  }
  size_t first = view.U16(8);
  if (first == 0) {
    LogValue("First Stream Offset:", 0);
    return 0;
  }
  if (!view.Has(first, kStreamHeaderSize)) {
    LogValue("Norm Scan APAD not found", 0);
    return 0;
  }
  DWORD id = view.U32(first);
  if (id != Tag("APAD")) {
    LogValue("Norm Scan APAD not found", id);
    return 0;
  }
  DWORD pad = DWORD(view.U64(first + 8));
  if (pad > 0 && pad < kMaxPad) {
    size_t stream = first + kStreamHeaderSize + pad;
    // A data stream header that does not fit the window fails as a missing pad does.
    if (!view.Has(stream, kStreamHeaderSize)) {
      LogValue("Norm Scan APAD not found", 0);
      return 0;
    }
    ReadSqlStream(window, windowPosition, stream);
    return 1;
  }
  if (pad > kMaxPad) {
    LogValue("APAD Stream length :", pad);
    return 0;
  }
  return 1;
}

int CBackupReader::ReadSqlStream(const BYTE* window, UINT64 windowPosition, size_t offset) {
  ByteView view(window, kWindowSize);
  if (!view.Has(offset, kStreamHeaderSize) || view.U32(offset) != Tag("MQDA")) {
    LogValue("SQL Data Stream not found", 0);
    return 0;
  }
  UINT64 declared = view.U64(offset + 8);
  if (declared == 0 && m_nStreamCount == 0) {
    LogValue("Stream Length :", 0);
    return 0;
  }
  if (declared <= 4) return 0;  // no data beyond the 2 leading bytes
  UINT64 length = declared - 2;
  UINT64 position = windowPosition + offset + kStreamDataOffset;
  if (view.U16(offset + 6) & 4) return 0;
  // The length comes from the file: a stream ends at the end of the file at the latest,
  // so the walk never seeks backwards or past the end.
  if (position >= m_nFileSize) return 0;
  const UINT64 declaredData = length;
  if (length > m_nFileSize - position) {
    length = m_nFileSize - position;
    // A cut-off backup: what is there is read, and the log says how much is missing.
    CExecutionLog::WriteLog(0, 1,
                            FormatString("The file ends inside a SQL data stream: %llu of its %llu pages are in the file",
                                         (unsigned long long)(length / kPageBytes),
                                         (unsigned long long)(declaredData / kPageBytes)),
                            false);
  }
  if (length <= 2) return 0;
  m_nStreamBytes += length;
  AddDataStream(position, length);
  if (m_pLastSet && m_pLastSet->m_pStream) m_pLastSet->m_pStream->nDeclaredLength = declaredData;
  Seek64(position + length, begin);
  return 1;
}

void CBackupReader::ScanSqlStreams() {
  BYTE window[kWindowSize];
  for (;;) {
    UINT64 position = 0;
    if (!FindBlock("MQDA", position)) return;
    if (ReadBlock(window) < kStreamHeaderSize) return;
    if (ReadSqlStream(window, position, 0) == 0) return;
  }
}

void CBackupReader::AddDataStream(UINT64 position, UINT64 length) {
  CBackupSet* set = m_pLastSet;
  if (!set) return;
  if (set->m_pStream) {
    // A second stream of one set gets its own entry, with its own stream and pages.
    auto copy = std::make_unique<CBackupSet>(*set);
    set = copy.get();
    m_sets.push_back(std::move(copy));
    m_pLastSet = set;
  }
  auto stream = std::make_unique<DataStreamInfo>();
  stream->nOffset = position;
  stream->nLength = length;
  INT64 pages = ClampToInt(INT64(length / kPageBytes));

  if (set->m_nBackupType == 2) {
    set->m_nBaseStream = m_nFullStream;
    set->m_nFirstPage = ClampToInt(INT64(m_nLastPage) + 1);
    set->m_nLastPage = ClampToInt(INT64(m_nLastPage) + pages - 1);
    m_nLastPage = set->m_nLastPage;
    m_nTotalPages = ClampToInt(INT64(m_nTotalPages) + pages);
    set->m_nPages = m_nTotalPages;
  } else {
    m_nFirstPage = 0;
    m_nTotalPages = int(pages);
    set->m_nPages = int(pages);
    m_nFullStream = m_nStreamCount + 1;
    set->m_nFirstPage = 0;
    set->m_nLastPage = int(pages - 1);
    m_nLastPage = int(pages - 1);
  }

  m_nDataBytes += length;
  stream->nLogicalEnd = m_nStreamBytes;
  stream->nLogicalStart = m_nStreamBytes >= length ? m_nStreamBytes - length : 0;
  stream->pNext = nullptr;
  set->m_pStream = stream.get();
  m_streams.push_back(std::move(stream));

  ++m_nStreamCount;
  m_mapSets.SetAt(FormatString("%d", m_nStreamCount).view(), set);
}

void CBackupReader::LogValue(const char* message, UINT64 value) {
  CExecutionLog::WriteLog(0, 1, message, false);
  if (value == 0) return;
  DWORD low = DWORD(value);
  DWORD high = DWORD(value >> 32);
  if (value > 2147483648ULL) {
    CExecutionLog::WriteLog(0, 1, "8 byte Value", false);
    CExecutionLog::WriteLog(0, 1, FormatString("%x", low), false);
    CExecutionLog::WriteLog(0, 1, FormatString("%x", high), false);
  } else {
    CExecutionLog::WriteLog(0, 1, FormatString("%x", low), false);
  }
}
