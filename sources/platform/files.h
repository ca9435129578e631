// Files: read-only sources with 64-bit positioned reads, write handles for scripts, and a
// few directory helpers. Paths use '/'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "cstring.h"

struct SourceDescriptor;

// Why a file of this kind (st_mode) is no source: "is a folder, not a file", "is a named pipe
// (FIFO), not a file", ...; nullptr for a regular file.
const char* FileKindRefusal(unsigned mode);

// A read-only source file (backup or database file). Reads are positioned, so one open
// file can serve several readers. Only regular files are opened: a named pipe, a device or
// a directory is refused at once (the open itself never waits for a writer), with the reason
// in Refusal(). While a CSourcePin holds a path, every source file opened on that path reads
// through the pin's one descriptor, so the scan and the export of a source read the same file
// even when another file is put in its place meanwhile.
class CSourceFile {
 public:
  CSourceFile() = default;
  ~CSourceFile() { Close(); }
  CSourceFile(const CSourceFile&) = delete;
  CSourceFile& operator=(const CSourceFile&) = delete;
  CSourceFile(CSourceFile&& o) noexcept;

  bool Open(const char* path);
  bool IsOpen() const;
  void Close();
  // Why the last Open failed ("" after one that succeeded), to follow the path: a
  // FileKindRefusal text, or "cannot be opened: No such file or directory", ...
  const std::string& Refusal() const { return m_strRefusal; }
  // Bytes actually read (0 at or past the end, or on error); never more than count.
  size_t ReadAt(std::uint64_t offset, void* buffer, size_t count) const;
  // Reads exactly count bytes or fails.
  bool ReadExact(std::uint64_t offset, void* buffer, size_t count) const { return ReadAt(offset, buffer, count) == count; }
  std::uint64_t Size() const;
  // Tells the system the range will be read front to back, so it reads ahead further. A hint.
  void AdviseSequential(std::uint64_t offset, std::uint64_t length) const;

 private:
  friend class CSourcePin;
  std::shared_ptr<SourceDescriptor> m_pDescriptor;
  std::string m_strRefusal;
};

// Keeps a source open for as long as the work on it lasts (an engine pins its file from the
// listing of its sets through the scan and every export), remembering its size and
// modification time when it was pinned.
class CSourcePin {
 public:
  CSourcePin() = default;
  ~CSourcePin() { Release(); }
  CSourcePin(const CSourcePin&) = delete;
  CSourcePin& operator=(const CSourcePin&) = delete;
  // Opens and holds `path`; nothing to do when it already holds it. False, with the reason in
  // Refusal(), when the path cannot be opened as a source.
  bool Pin(const char* path);
  void Release();
  bool IsPinned() const;
  std::string Path() const;
  // Why the last Pin failed.
  std::string Refusal() const;
  // Whether the file changed since it was pinned: its size or modification time differ, or
  // its path now names another file. `what` says how, e.g. "its size changed from 8388608 to
  // 4194304 bytes".
  bool Changed(std::string* what = nullptr) const;

 private:
  void ReleaseLocked();
  // A pin is released by the thread that sets its engine aside while the engine's own
  // threads may still ask it.
  mutable std::mutex m_mutex;
  CSourceFile m_file;
  std::string m_strPath;
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
// One level, true only when this call made it: a folder of that name already there is
// someone else's (alreadyThere says so).
bool CreateNewDirectory(const char* path, bool* alreadyThere = nullptr);
bool RemoveFilePath(const char* path);
bool ReadWholeFile(const char* path, std::string& out, size_t maxBytes = SIZE_MAX);
