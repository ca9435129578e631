// Test helpers: the real SQL Server files in the shared fixtures folder, temporary
// folders, and reading pages.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// Folder of the real fixture files ("" when absent).
std::string FixturesDir();
// Full path of a fixture, or "" when it is not there.
std::string FixturePath(const std::string& name);

// A fresh temporary folder, removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return m_path; }
  std::string file(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// The pages of the 2000 fixture sample2000_NORTHWND.MDF in the tape framing of a real backup
// (WrapPagesInBackup), written into `dir` as a ".bak"; the file's path, "" when the fixtures
// are not there.
std::string Northwind2000Backup(const TempDir& dir);

// Points the module folder (logs, settings) at a temporary folder for the test's life.
class ModuleFolderScope {
 public:
  ModuleFolderScope();
  ~ModuleFolderScope();
  const std::string& path() const { return m_dir.path(); }
  std::string ReadExecLog() const;
  std::string ReadErrorLog() const;

 private:
  TempDir m_dir;
};

// Runs `body` in a child process as a user who owns none of the test's folders: "nobody" when
// the tests run as root (root may write anywhere, so only another user meets a folder that is
// not writable), the test's own user otherwise. Returns body's result, or -1 when the child
// could not run or did not end normally. `body` must not start threads.
int RunAsOrdinaryUser(const std::function<int()>& body);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// Reads one 8192-byte page at a byte position; empty when short.
std::vector<std::uint8_t> ReadPageAt(const std::string& path, std::uint64_t offset);

}  // namespace testsupport

#define REQUIRE_FIXTURE(var, name)                                          \
  std::string var = ::testsupport::FixturePath(name);                       \
  if (var.empty()) GTEST_SKIP() << "fixture " << (name) << " not available"
