#include "module.h"

#include <mutex>
#include <unistd.h>

namespace {
std::mutex g_mutex;
std::string g_override;
}  // namespace

std::string GetModuleFolderPath() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_override.empty()) {
      std::string f = g_override;
      if (f.back() != '/') f += '/';
      return f;
    }
  }
  std::string path(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return std::string();
  path.resize(size_t(n));
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return path;
  return path.substr(0, slash + 1);
}

void SetModuleFolderOverride(const std::string& folder) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_override = folder;
}
