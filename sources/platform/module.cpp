#include "module.h"

#include <cerrno>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::mutex g_mutex;
std::string g_override;

// The folder under the XDG state home that holds the program's files.
constexpr const char* kStateFolderName = "corvane";

bool IsAbsolute(const char* path) { return path && path[0] == '/'; }

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

// Every missing level of `folder` (which ends in '/'), each with mode 0700 as the XDG base
// directory rules ask; a level that exists is left as it is.
void CreateFolderChain(const std::string& folder) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
    const std::string level = folder.substr(0, slash);
    if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) return;
  }
}

// HOME, or the account's home directory when the variable is unset (a service or a
// stripped environment).
std::string HomeFolder() {
  if (const char* home = ::getenv("HOME")) return home;
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return std::string();
}
}  // namespace

std::string GetModuleFolderPath() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_override.empty()) return WithSlash(g_override);
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

bool IsWritableFolder(const std::string& folder) {
  if (folder.empty()) return false;
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string ChooseStateFolder(const std::string& moduleFolder, bool moduleFolderWritable, const char* xdgStateHome,
                              const char* home) {
  if (moduleFolderWritable) return WithSlash(moduleFolder);
  // A relative XDG value is to be ignored, as if it were unset.
  if (IsAbsolute(xdgStateHome)) return WithSlash(xdgStateHome) + kStateFolderName + "/";
  if (IsAbsolute(home)) return WithSlash(home) + ".local/state/" + kStateFolderName + "/";
  return WithSlash(moduleFolder);
}

std::string GetStateFolderPath() {
  const std::string module = GetModuleFolderPath();
  if (IsWritableFolder(module)) return module;
  const std::string home = HomeFolder();
  std::string folder = ChooseStateFolder(module, false, ::getenv("XDG_STATE_HOME"), home.c_str());
  if (folder != module) CreateFolderChain(folder);
  return folder;
}
