#include "support/fixtures.h"

#include "support/backupwrap.h"

#include <errno.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/executionlog.h"
#include "platform/module.h"

namespace fs = std::filesystem;

namespace testsupport {

std::string FixturesDir() {
  const char* env = std::getenv("PELLWYN_FIXTURES");
  std::string dir = env && *env ? env : PELLWYN_FIXTURES_DIR;
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return fs::canonical(dir, ec).string();
  return std::string();
}

std::string FixturePath(const std::string& name) {
  std::string dir = FixturesDir();
  if (dir.empty()) return std::string();
  std::string p = dir + "/" + name;
  std::error_code ec;
  return fs::is_regular_file(p, ec) ? p : std::string();
}

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "pellwyn-test-XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  m_path = made ? made : tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(m_path, ec);
}

ModuleFolderScope::ModuleFolderScope() {
  SetModuleFolderOverride(m_dir.path());
  fs::create_directories(m_dir.path() + "/Log Files");
  CExecutionLog::GetModuleFolder();
}

ModuleFolderScope::~ModuleFolderScope() {
  SetModuleFolderOverride("");
  CExecutionLog::GetModuleFolder();
}

std::string ModuleFolderScope::ReadExecLog() const { return ReadFile(m_dir.path() + "/Log Files/ExecLog.log"); }
std::string ModuleFolderScope::ReadErrorLog() const { return ReadFile(m_dir.path() + "/Log Files/ErrorLog.log"); }

int RunAsOrdinaryUser(const std::function<int()>& body) {
  constexpr uid_t kNobody = 65534;
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
      ::_exit(125);
    int result = 126;
    try {
      result = body();
    } catch (...) {
    }
    std::fflush(nullptr);
    ::_exit(result & 0xff);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::vector<std::uint8_t> ReadPageAt(const std::string& path, std::uint64_t offset) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(std::streamoff(offset));
  std::vector<std::uint8_t> page(8192);
  in.read(reinterpret_cast<char*>(page.data()), 8192);
  if (in.gcount() != 8192) page.clear();
  return page;
}

std::string Northwind2000Backup(const TempDir& dir) {
  const std::string frame = FixturePath("bak2005_stdb2sql_2sets.bak");
  const std::string pages = FixturePath("sample2000_NORTHWND.MDF");
  std::string wrapped;
  if (frame.empty() || pages.empty() || !WrapPagesInBackup(ReadFile(frame), {ReadFile(pages)}, wrapped)) return "";
  const std::string path = dir.file("northwind2000.bak");
  WriteFile(path, wrapped);
  return path;
}

}  // namespace testsupport
