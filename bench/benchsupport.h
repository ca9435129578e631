// Pieces both benchmarks measure with: the clock, the CPU time of the calling thread, and the
// write baseline of an export (as many bytes written to a file in the same folder).
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/types.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

inline double ThreadCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Seconds to write `bytes` to `path` in 1 MiB pieces, nothing of earlier writes waiting for
// the disk; the file is removed afterwards. 0 when it cannot be created.
inline double PlainWrite(const std::string& path, UINT64 bytes) {
  FILE_HANDLE h = CreateFileForWrite(path.c_str());
  if (h == kInvalidFile) return 0;
  std::vector<char> buffer(size_t(1) << 20, 'x');
  ::sync();
  const auto start = Clock::now();
  for (UINT64 done = 0; done < bytes;) {
    const size_t n = size_t(std::min<UINT64>(buffer.size(), bytes - done));
    if (!WriteFileAll(h, buffer.data(), n)) break;
    done += n;
  }
  CloseFileHandle(h);
  const double seconds = SecondsSince(start);
  std::error_code ec;
  std::filesystem::remove(path, ec);
  return seconds;
}

}  // namespace bench
