// CArchive: the scan file's binary stream. Little-endian primitives and length-prefixed
// 8-bit strings over a file, buffered 4096 bytes at a time, in store or load mode.
//
// Every failure raises CArchiveException: a read past the end, a declared length or count
// larger than what is left of the file, a malformed prefix, or a failed write. Callers
// catch that one type; nothing else is thrown.
#pragma once

#include <cstddef>
#include <exception>
#include <string>

#include "cstring.h"
#include "files.h"
#include "types.h"

class CArchiveException : public std::exception {
 public:
  enum Cause {
    endOfFile,    // short file, or a length/count that cannot fit in what is left
    badFormat,    // a prefix this archive does not accept (the wide-string tag), or a count no writer gives
    writeFailed,  // the file could not be written, flushed or closed
  };
  explicit CArchiveException(Cause cause) : m_cause(cause) {}
  const char* what() const noexcept override;

  Cause m_cause;
};

class CArchive {
 public:
  enum Mode { store, load };
  static constexpr size_t kBufferSize = 4096;

  CArchive() = default;
  // Closes without raising; a store archive that was not Close()d may lose its tail.
  ~CArchive();
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  // store: creates the file or replaces an existing one; load: opens an existing file
  // for reading. False when the file cannot be opened.
  bool Open(const char* path, Mode mode);
  // Store mode: writes the buffer out and syncs the file, raising writeFailed when any of
  // it fails (the file is closed either way). Load mode: just closes.
  void Close();
  // Closes without writing what is still buffered and without raising.
  void Abort();
  // Store mode: writes the buffer out (raises writeFailed).
  void Flush();

  bool IsOpen() const { return m_mode != closed; }
  bool IsStoring() const { return m_mode == storing; }
  bool IsLoading() const { return m_mode == loading; }
  // Load mode: bytes not yet read.
  UINT64 BytesLeft() const { return m_nFileSize - m_nConsumed; }

  CArchive& operator<<(BYTE v);
  CArchive& operator<<(WORD v);
  CArchive& operator<<(short v);
  CArchive& operator<<(int v);
  CArchive& operator<<(DWORD v);
  CArchive& operator<<(const CString& s);
  CArchive& operator<<(const char* s) { return *this << CString(s); }
  // Flags go through WriteFlag, counts through WriteCount; keep bool and wider integers
  // from picking an overload silently.
  CArchive& operator<<(bool) = delete;
  CArchive& operator<<(char) = delete;
  CArchive& operator<<(long) = delete;
  CArchive& operator<<(unsigned long) = delete;

  CArchive& operator>>(BYTE& v);
  CArchive& operator>>(WORD& v);
  CArchive& operator>>(short& v);
  CArchive& operator>>(int& v);
  CArchive& operator>>(DWORD& v);
  CArchive& operator>>(CString& s);
  CArchive& operator>>(bool&) = delete;

  // A one-byte flag travels as the int 1 or 0 and reads back as set when non-zero.
  void WriteFlag(bool set) { *this << int(set ? 1 : 0); }
  bool ReadFlag();
  template <class F>
  void ReadFlag(F& flag) { flag = F(ReadFlag() ? 1 : 0); }

  // Element counts: written as int. Read: a negative count is 0, and a count whose
  // elements (each at least minItemBytes long) cannot fit in the bytes left raises
  // endOfFile before anything is allocated.
  void WriteCount(size_t count);
  int ReadCount(size_t minItemBytes);

  // Raw bytes (no prefix).
  void Write(const void* data, size_t count);
  void Read(void* data, size_t count);

 private:
  enum State { closed, storing, loading };
  void FillBuffer();
  void WriteBuffer();
  UINT64 ReadLittleEndian(size_t width);
  void WriteLittleEndian(UINT64 value, size_t width);
  void Require(UINT64 count) const;

  State m_mode = closed;
  FILE_HANDLE m_hOut = kInvalidFile;
  CSourceFile m_in;
  UINT64 m_nFileSize = 0;   // load: size of the file when it was opened
  UINT64 m_nConsumed = 0;   // load: bytes handed to the caller
  UINT64 m_nFileOffset = 0; // load: file offset of the next buffer fill
  BYTE m_buffer[kBufferSize] = {};
  size_t m_nBufferPos = 0;
  size_t m_nBufferLen = 0;
};
