#include "archive.h"

#include <cstring>
#include <unistd.h>

const char* CArchiveException::what() const noexcept {
  switch (m_cause) {
    case endOfFile: return "archive: unexpected end of file";
    case badFormat: return "archive: bad format";
    case writeFailed: return "archive: write failed";
  }
  return "archive: error";
}

CArchive::~CArchive() {
  if (m_mode == storing) {
    try {
      Close();
    } catch (const CArchiveException&) {
      // Nothing can be reported from here; callers that care call Close() themselves.
    }
  }
  Abort();
}

bool CArchive::Open(const char* path, Mode mode) {
  Abort();
  if (!path) return false;
  if (mode == store) {
    m_hOut = CreateFileForWrite(path);
    if (m_hOut == kInvalidFile) return false;
    m_mode = storing;
  } else {
    if (!m_in.Open(path)) return false;
    m_nFileSize = m_in.Size();
    m_mode = loading;
  }
  return true;
}

void CArchive::Abort() {
  if (m_hOut != kInvalidFile) CloseFileHandle(m_hOut);
  m_in.Close();
  m_mode = closed;
  m_nFileSize = m_nConsumed = m_nFileOffset = 0;
  m_nBufferPos = m_nBufferLen = 0;
}

void CArchive::Flush() {
  if (m_mode == storing) WriteBuffer();
}

void CArchive::Close() {
  if (m_mode == storing) {
    bool ok = true;
    try {
      WriteBuffer();
    } catch (const CArchiveException&) {
      ok = false;
    }
    // The file only counts as written once it is on disk.
    if (ok && ::fsync(m_hOut) != 0) ok = false;
    int fd = m_hOut;
    m_hOut = kInvalidFile;
    if (::close(fd) != 0) ok = false;
    Abort();
    if (!ok) throw CArchiveException(CArchiveException::writeFailed);
    return;
  }
  Abort();
}

void CArchive::WriteBuffer() {
  if (m_nBufferLen == 0) return;
  if (!WriteFileAll(m_hOut, m_buffer, m_nBufferLen)) {
    // The buffered bytes are lost either way; do not write them again on Close.
    m_nBufferLen = 0;
    throw CArchiveException(CArchiveException::writeFailed);
  }
  m_nBufferLen = 0;
}

void CArchive::FillBuffer() {
  size_t want = kBufferSize;
  UINT64 left = m_nFileSize - m_nFileOffset;
  if (left < want) want = size_t(left);
  size_t got = want ? m_in.ReadAt(m_nFileOffset, m_buffer, want) : 0;
  if (got == 0) throw CArchiveException(CArchiveException::endOfFile);
  m_nFileOffset += got;
  m_nBufferPos = 0;
  m_nBufferLen = got;
}

void CArchive::Require(UINT64 count) const {
  if (count > BytesLeft()) throw CArchiveException(CArchiveException::endOfFile);
}

void CArchive::Write(const void* data, size_t count) {
  if (m_mode != storing) throw CArchiveException(CArchiveException::writeFailed);
  const BYTE* p = static_cast<const BYTE*>(data);
  while (count > 0) {
    if (m_nBufferLen == kBufferSize) WriteBuffer();
    size_t n = kBufferSize - m_nBufferLen;
    if (n > count) n = count;
    std::memcpy(m_buffer + m_nBufferLen, p, n);
    m_nBufferLen += n;
    p += n;
    count -= n;
  }
}

void CArchive::Read(void* data, size_t count) {
  if (m_mode != loading) throw CArchiveException(CArchiveException::endOfFile);
  Require(count);
  BYTE* p = static_cast<BYTE*>(data);
  while (count > 0) {
    if (m_nBufferPos == m_nBufferLen) FillBuffer();
    size_t n = m_nBufferLen - m_nBufferPos;
    if (n > count) n = count;
    std::memcpy(p, m_buffer + m_nBufferPos, n);
    m_nBufferPos += n;
    m_nConsumed += n;
    p += n;
    count -= n;
  }
}

void CArchive::WriteLittleEndian(UINT64 value, size_t width) {
  BYTE bytes[8];
  for (size_t i = 0; i < width; ++i) bytes[i] = BYTE(value >> (8 * i));
  Write(bytes, width);
}

UINT64 CArchive::ReadLittleEndian(size_t width) {
  BYTE bytes[8];
  Read(bytes, width);
  UINT64 value = 0;
  for (size_t i = 0; i < width; ++i) value |= UINT64(bytes[i]) << (8 * i);
  return value;
}

CArchive& CArchive::operator<<(BYTE v) { WriteLittleEndian(v, 1); return *this; }
CArchive& CArchive::operator<<(WORD v) { WriteLittleEndian(v, 2); return *this; }
CArchive& CArchive::operator<<(short v) { WriteLittleEndian(WORD(v), 2); return *this; }
CArchive& CArchive::operator<<(int v) { WriteLittleEndian(DWORD(v), 4); return *this; }
CArchive& CArchive::operator<<(DWORD v) { WriteLittleEndian(v, 4); return *this; }

CArchive& CArchive::operator>>(BYTE& v) { v = BYTE(ReadLittleEndian(1)); return *this; }
CArchive& CArchive::operator>>(WORD& v) { v = WORD(ReadLittleEndian(2)); return *this; }
CArchive& CArchive::operator>>(short& v) { v = short(WORD(ReadLittleEndian(2))); return *this; }
CArchive& CArchive::operator>>(int& v) { v = int(DWORD(ReadLittleEndian(4))); return *this; }
CArchive& CArchive::operator>>(DWORD& v) { v = DWORD(ReadLittleEndian(4)); return *this; }

CArchive& CArchive::operator<<(const CString& s) {
  size_t n = size_t(s.GetLength());
  if (n < 0xFF) {
    *this << BYTE(n);
  } else if (n < 0xFFFE) {
    *this << BYTE(0xFF) << WORD(n);
  } else {
    if (n >= 0xFFFFFFFFu) throw CArchiveException(CArchiveException::writeFailed);
    *this << BYTE(0xFF) << WORD(0xFFFF) << DWORD(n);
  }
  Write(s.c_str(), n);
  return *this;
}

CArchive& CArchive::operator>>(CString& s) {
  UINT64 n;
  BYTE b;
  *this >> b;
  if (b < 0xFF) {
    n = b;
  } else {
    WORD w;
    *this >> w;
    if (w < 0xFFFE) {
      n = w;
    } else if (w == 0xFFFE) {
      // The wide-string tag: never written by this system.
      throw CArchiveException(CArchiveException::badFormat);
    } else {
      DWORD d;
      *this >> d;
      n = d;
      if (d == 0xFFFFFFFFu) n = ReadLittleEndian(8);
    }
  }
  Require(n);
  std::string text(size_t(n), '\0');
  if (n) Read(text.data(), size_t(n));
  s = CString(std::move(text));
  return *this;
}

bool CArchive::ReadFlag() {
  int v;
  *this >> v;
  return v != 0;
}

void CArchive::WriteCount(size_t count) {
  if (count > size_t(0x7FFFFFFF)) throw CArchiveException(CArchiveException::writeFailed);
  *this << int(count);
}

int CArchive::ReadCount(size_t minItemBytes) {
  int count;
  *this >> count;
  if (count <= 0) return 0;
  if (minItemBytes == 0) minItemBytes = 1;
  if (UINT64(count) * minItemBytes > BytesLeft()) throw CArchiveException(CArchiveException::endOfFile);
  return count;
}
