// Files: read-only sources with 64-bit positioned reads, write handles for scripts, and a
// few directory helpers. Paths use '/'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cstring.h"

// A read-only source file (backup or database file). Reads are positioned, so one open
// file can serve several readers.
class CSourceFile {
 public:
  CSourceFile() = default;
  ~CSourceFile() { Close(); }
  CSourceFile(const CSourceFile&) = delete;
  CSourceFile& operator=(const CSourceFile&) = delete;
  CSourceFile(CSourceFile&& o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }

  bool Open(const char* path);
  bool IsOpen() const { return m_fd >= 0; }
  void Close();
  // Bytes actually read (0 at or past the end, or on error); never more than count.
  size_t ReadAt(std::uint64_t offset, void* buffer, size_t count) const;
  // Reads exactly count bytes or fails.
  bool ReadExact(std::uint64_t offset, void* buffer, size_t count) const { return ReadAt(offset, buffer, count) == count; }
  std::uint64_t Size() const;
  // Tells the system the range will be read front to back, so it reads ahead further. A hint.
  void AdviseSequential(std::uint64_t offset, std::uint64_t length) const;

 private:
  int m_fd = -1;
};

// Script and data file handles: plain descriptors, -1 when none.
using FILE_HANDLE = int;
constexpr FILE_HANDLE kInvalidFile = -1;

// Creates or truncates a file for writing (no sharing semantics on this platform).
FILE_HANDLE CreateFileForWrite(const char* path);
// Creates a file that must not exist yet, for reading and writing.
FILE_HANDLE CreateNewFile(const char* path);
// Opens (creating when missing) a file for appending.
FILE_HANDLE OpenFileForAppend(const char* path);
// Writes all bytes; false when the write failed or was short.
bool WriteFileAll(FILE_HANDLE h, const void* data, size_t count);
inline bool WriteFileText(FILE_HANDLE h, const CString& text) { return WriteFileAll(h, text.c_str(), size_t(text.GetLength())); }
void CloseFileHandle(FILE_HANDLE& h);

// Open write handles whose file was turned into UTF-16 text (common/scriptfile.h): marked
// while the handle is open, forgotten when CloseFileHandle closes it.
void MarkUtf16File(FILE_HANDLE h);
bool IsUtf16File(FILE_HANDLE h);
// Everything a write handle's file holds so far, read through a second descriptor (the handle
// itself may be write-only); false when it cannot be read.
bool ReadWrittenFile(FILE_HANDLE h, std::string& out);
// Writes `data` from the start of the file (which must not be shorter than what it held) and
// leaves the handle at the file's end.
bool RewriteFileFromStart(FILE_HANDLE h, const std::string& data);

bool FileExists(const char* path);
bool CreateDirectoryPath(const char* path);  // one level; true when it exists afterwards
bool RemoveFilePath(const char* path);
bool ReadWholeFile(const char* path, std::string& out, size_t maxBytes = SIZE_MAX);
