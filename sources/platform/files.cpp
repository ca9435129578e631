#include "files.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
struct FileState {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t mtimeNs = 0;
};

FileState StateOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

}  // namespace

const char* FileKindRefusal(unsigned mode) {
  if (S_ISREG(mode)) return nullptr;
  if (S_ISDIR(mode)) return "is a folder, not a file";
  if (S_ISFIFO(mode)) return "is a named pipe (FIFO), not a file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a file";
  if (S_ISSOCK(mode)) return "is a socket, not a file";
  return "is not a regular file";
}

struct SourceDescriptor {
  int fd = -1;
  FileState opened;
  ~SourceDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

namespace {
// The pinned sources by path. A pin holds its descriptor; the files opened on its path share it.
std::mutex g_pinsMutex;
std::map<std::string, std::weak_ptr<SourceDescriptor>>& Pins() {
  static std::map<std::string, std::weak_ptr<SourceDescriptor>> pins;
  return pins;
}
}  // namespace

CSourceFile::CSourceFile(CSourceFile&& o) noexcept
    : m_pDescriptor(std::move(o.m_pDescriptor)), m_strRefusal(std::move(o.m_strRefusal)) {}

bool CSourceFile::IsOpen() const { return m_pDescriptor && m_pDescriptor->fd >= 0; }

bool CSourceFile::Open(const char* path) {
  Close();
  m_strRefusal.clear();
  if (!path || !*path) {
    m_strRefusal = "no file was named";
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(g_pinsMutex);
    auto it = Pins().find(path);
    if (it != Pins().end()) {
      m_pDescriptor = it->second.lock();
      if (m_pDescriptor) return true;
    }
  }
  // Non-blocking, so a named pipe without a writer (or a device that waits for a medium)
  // cannot hold the open; the kind is checked on the descriptor itself, so what is checked is
  // what is read.
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    m_strRefusal = std::string("cannot be opened: ") + std::strerror(error);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const char* kind = FileKindRefusal(st.st_mode);
    m_strRefusal = kind ? kind : "cannot be examined";
    ::close(fd);
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  auto descriptor = std::make_shared<SourceDescriptor>();
  descriptor->fd = fd;
  descriptor->opened = StateOf(st);
  m_pDescriptor = std::move(descriptor);
  return true;
}

void CSourceFile::Close() { m_pDescriptor.reset(); }

size_t CSourceFile::ReadAt(std::uint64_t offset, void* buffer, size_t count) const {
  if (!IsOpen() || !buffer || offset > std::uint64_t(INT64_MAX)) return 0;
  const int fd = m_pDescriptor->fd;
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, count - done, off_t(offset + done));
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
  if (!IsOpen()) return 0;
  struct stat st {};
  if (::fstat(m_pDescriptor->fd, &st) != 0) return 0;
  return std::uint64_t(st.st_size);
}

bool CSourcePin::IsPinned() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_file.IsOpen();
}

std::string CSourcePin::Path() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_strPath;
}

std::string CSourcePin::Refusal() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_file.Refusal();
}

bool CSourcePin::Pin(const char* path) {
  if (!path) path = "";
  std::lock_guard<std::mutex> own(m_mutex);
  if (m_file.IsOpen() && m_strPath == path) return true;
  ReleaseLocked();
  if (!m_file.Open(path)) return false;
  m_strPath = path;
  std::lock_guard<std::mutex> lock(g_pinsMutex);
  // Another pin of the same path keeps its own entry; this one serves the files opened after it.
  Pins()[m_strPath] = m_file.m_pDescriptor;
  return true;
}

void CSourcePin::Release() {
  std::lock_guard<std::mutex> own(m_mutex);
  ReleaseLocked();
}

void CSourcePin::ReleaseLocked() {
  if (!m_file.IsOpen()) return;
  {
    std::lock_guard<std::mutex> lock(g_pinsMutex);
    auto it = Pins().find(m_strPath);
    if (it != Pins().end() && it->second.lock() == m_file.m_pDescriptor) Pins().erase(it);
  }
  m_file.Close();
  m_strPath.clear();
}

bool CSourcePin::Changed(std::string* what) const {
  std::lock_guard<std::mutex> own(m_mutex);
  if (what) what->clear();
  if (!m_file.IsOpen()) return false;
  const FileState& then = m_file.m_pDescriptor->opened;
  struct stat st {};
  std::string how;
  if (::fstat(m_file.m_pDescriptor->fd, &st) == 0) {
    const FileState now = StateOf(st);
    if (now.size != then.size)
      how = "its size changed from " + std::to_string(then.size) + " to " + std::to_string(now.size) + " bytes";
    else if (now.mtimeNs != then.mtimeNs)
      how = "it was written to";
  }
  struct stat byPath {};
  if (how.empty() && (::stat(m_strPath.c_str(), &byPath) != 0 || byPath.st_dev != then.device || byPath.st_ino != then.inode))
    how = "another file took its name (the one opened first was read throughout)";
  if (what) *what = how;
  return !how.empty();
}

void CSourceFile::AdviseSequential(std::uint64_t offset, std::uint64_t length) const {
  if (!IsOpen() || offset > std::uint64_t(INT64_MAX) || length > std::uint64_t(INT64_MAX)) return;
  (void)::posix_fadvise(m_pDescriptor->fd, off_t(offset), off_t(length), POSIX_FADV_SEQUENTIAL);
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

bool CreateNewDirectory(const char* path, bool* alreadyThere) {
  if (alreadyThere) *alreadyThere = false;
  if (!path) return false;
  if (::mkdir(path, 0755) == 0) return true;
  if (alreadyThere) *alreadyThere = errno == EEXIST;
  return false;
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
