#include "files.h"

#include <cerrno>
#include <mutex>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool CSourceFile::Open(const char* path) {
  Close();
  if (!path) return false;
  m_fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (m_fd < 0) return false;
  struct stat st {};
  if (::fstat(m_fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    Close();
    return false;
  }
  return true;
}

void CSourceFile::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

size_t CSourceFile::ReadAt(std::uint64_t offset, void* buffer, size_t count) const {
  if (m_fd < 0 || !buffer || offset > std::uint64_t(INT64_MAX)) return 0;
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::pread(m_fd, static_cast<char*>(buffer) + done, count - done, off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    done += size_t(n);
  }
  return done;
}

std::uint64_t CSourceFile::Size() const {
  if (m_fd < 0) return 0;
  struct stat st {};
  if (::fstat(m_fd, &st) != 0) return 0;
  return std::uint64_t(st.st_size);
}

void CSourceFile::AdviseSequential(std::uint64_t offset, std::uint64_t length) const {
  if (m_fd < 0 || offset > std::uint64_t(INT64_MAX) || length > std::uint64_t(INT64_MAX)) return;
  (void)::posix_fadvise(m_fd, off_t(offset), off_t(length), POSIX_FADV_SEQUENTIAL);
}

FILE_HANDLE CreateFileForWrite(const char* path) {
  if (!path) return kInvalidFile;
  return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

FILE_HANDLE CreateNewFile(const char* path) {
  if (!path) return kInvalidFile;
  return ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
}

FILE_HANDLE OpenFileForAppend(const char* path) {
  if (!path) return kInvalidFile;
  return ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

bool WriteFileAll(FILE_HANDLE h, const void* data, size_t count) {
  if (h < 0) return false;
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t n = ::write(h, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    count -= size_t(n);
  }
  return true;
}

namespace {
std::mutex g_utf16Lock;
std::set<int>& Utf16Files() {
  static auto* files = new std::set<int>();
  return *files;
}
}  // namespace

void CloseFileHandle(FILE_HANDLE& h) {
  if (h >= 0) {
    {
      // Forgotten before the number is free for another file.
      std::lock_guard<std::mutex> hold(g_utf16Lock);
      Utf16Files().erase(h);
    }
    ::close(h);
  }
  h = kInvalidFile;
}

void MarkUtf16File(FILE_HANDLE h) {
  if (h < 0) return;
  std::lock_guard<std::mutex> hold(g_utf16Lock);
  Utf16Files().insert(h);
}

bool IsUtf16File(FILE_HANDLE h) {
  std::lock_guard<std::mutex> hold(g_utf16Lock);
  return Utf16Files().count(h) != 0;
}

bool ReadWrittenFile(FILE_HANDLE h, std::string& out) {
  out.clear();
  if (h < 0) return false;
  const std::string self = "/proc/self/fd/" + std::to_string(h);
  const int fd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    out.append(buffer, size_t(n));
  }
  ::close(fd);
  return ok;
}

bool RewriteFileFromStart(FILE_HANDLE h, const std::string& data) {
  if (h < 0) return false;
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::pwrite(h, data.data() + done, data.size() - done, off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return ::lseek(h, 0, SEEK_END) >= 0;
}

bool FileExists(const char* path) {
  struct stat st {};
  return path && ::stat(path, &st) == 0;
}

bool CreateDirectoryPath(const char* path) {
  if (!path) return false;
  if (::mkdir(path, 0755) == 0) return true;
  struct stat st {};
  return errno == EEXIST && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveFilePath(const char* path) { return path && ::unlink(path) == 0; }

bool ReadWholeFile(const char* path, std::string& out, size_t maxBytes) {
  out.clear();
  CSourceFile f;
  if (!f.Open(path)) return false;
  std::uint64_t size = f.Size();
  size_t want = size > maxBytes ? maxBytes : size_t(size);
  out.resize(want);
  size_t got = f.ReadAt(0, out.data(), want);
  out.resize(got);
  return true;
}
