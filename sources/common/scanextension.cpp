#include "scanextension.h"

#include <cstring>

#include "common/executionlog.h"
#include "platform/archive.h"

namespace {

// The least a section takes: a one-byte tag prefix and its DWORD byte count.
constexpr UINT64 kMinSectionBytes = 5;

void Log(const CString& text) { CExecutionLog::WriteLog(0, 0, text.c_str(), false); }

}  // namespace

ScanExtensionWriter& ScanExtensionWriter::U8(BYTE v) {
  m_bytes.push_back(char(v));
  return *this;
}

ScanExtensionWriter& ScanExtensionWriter::U16(WORD v) { return U8(BYTE(v)).U8(BYTE(v >> 8)); }

ScanExtensionWriter& ScanExtensionWriter::U32(DWORD v) { return U16(WORD(v)).U16(WORD(v >> 16)); }

ScanExtensionWriter& ScanExtensionWriter::I64(INT64 v) {
  const UINT64 u = UINT64(v);
  return U32(DWORD(u)).U32(DWORD(u >> 32));
}

ScanExtensionWriter& ScanExtensionWriter::Text(const CString& s) {
  const size_t n = s.str().size();
  if (n < 0xFF) {
    U8(BYTE(n));
  } else if (n < 0xFFFE) {
    U8(0xFF).U16(WORD(n));
  } else {
    U8(0xFF).U16(0xFFFF).U32(DWORD(n));
  }
  m_bytes += s.str();
  return *this;
}

bool ScanExtensionReader::Take(size_t n, const char** at) {
  if (!m_ok || n > m_bytes.size() - m_pos) {
    m_ok = false;
    return false;
  }
  *at = m_bytes.data() + m_pos;
  m_pos += n;
  return true;
}

BYTE ScanExtensionReader::U8() {
  const char* p = nullptr;
  return Take(1, &p) ? BYTE(*p) : 0;
}

WORD ScanExtensionReader::U16() {
  const WORD lo = U8();
  return WORD(lo | WORD(U8()) << 8);
}

DWORD ScanExtensionReader::U32() {
  const DWORD lo = U16();
  return lo | DWORD(U16()) << 16;
}

INT64 ScanExtensionReader::I64() {
  const UINT64 lo = U32();
  return INT64(lo | UINT64(U32()) << 32);
}

size_t ScanExtensionReader::Count(size_t minItemBytes) {
  const DWORD n = U32();
  if (!m_ok) return 0;
  if (minItemBytes && UINT64(n) * minItemBytes > m_bytes.size() - m_pos) {
    m_ok = false;
    return 0;
  }
  return n;
}

CString ScanExtensionReader::Text() {
  size_t n = U8();
  if (n == 0xFF) {
    n = U16();
    if (n == 0xFFFF) n = U32();
  }
  const char* p = nullptr;
  if (!Take(n, &p)) return CString();
  return CString(std::string(p, n));
}

ScanExtensionWriter& CScanFileExtension::Add(const std::string& tag) {
  for (auto& [t, writer] : m_writers)
    if (t == tag) return writer = ScanExtensionWriter();
  m_writers.emplace_back(tag, ScanExtensionWriter());
  return m_writers.back().second;
}

void CScanFileExtension::Write(CArchive& ar) const {
  ar << CString(kScanExtensionMarker) << kScanExtensionVersion << DWORD(m_writers.size());
  for (const auto& [tag, writer] : m_writers) {
    ar << CString(tag) << DWORD(writer.Bytes().size());
    ar.Write(writer.Bytes().data(), writer.Bytes().size());
  }
}

bool CScanFileExtension::Read(CArchive& ar) {
  m_sections.clear();
  if (ar.BytesLeft() == 0) return false;
  try {
    CString marker;
    ar >> marker;
    if (marker != kScanExtensionMarker) throw CArchiveException(CArchiveException::badFormat);
    DWORD version = 0, count = 0;
    ar >> version >> count;
    // A later frame version keeps this frame's form: its sections are read alike.
    if (UINT64(count) * kMinSectionBytes > ar.BytesLeft()) throw CArchiveException(CArchiveException::endOfFile);
    for (DWORD i = 0; i < count; ++i) {
      CString tag;
      DWORD bytes = 0;
      ar >> tag >> bytes;
      if (bytes > ar.BytesLeft()) throw CArchiveException(CArchiveException::endOfFile);
      std::string data(bytes, '\0');
      if (bytes) ar.Read(data.data(), bytes);
      m_sections[tag.str()] = std::move(data);
    }
  } catch (const CArchiveException& e) {
    // A cut or damaged file is refused as a whole, as one cut inside its catalog is: loaded
    // in part, it would export a schema without what the lost sections held and say nothing.
    Log(FormatString("Scan file: its extension is damaged (%s)", e.what()));
    m_sections.clear();
    throw;
  }
  return true;
}

const std::string* CScanFileExtension::Find(const std::string& tag) const {
  const auto it = m_sections.find(tag);
  return it == m_sections.end() ? nullptr : &it->second;
}
