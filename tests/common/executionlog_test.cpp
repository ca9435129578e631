#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "common/executionlog.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/timeutil.h"
#include "support/fixtures.h"

using testsupport::ModuleFolderScope;

namespace {
const std::string kRule(79, '=');

struct ClockScope {
  ClockScope(std::int64_t utcSeconds, int localOffset) {
    SetClockOverride([utcSeconds] { return utcSeconds; });
    SetLocalOffsetOverride([localOffset] { return localOffset; });
  }
  ~ClockScope() {
    SetClockOverride(nullptr);
    SetLocalOffsetOverride(nullptr);
  }
};

std::int64_t Utc(int y, unsigned m, unsigned d, int hh, int mm, int ss) {
  return DaysFromCivil(y, m, d) * 86400 + hh * 3600 + mm * 60 + ss;
}
}  // namespace

TEST(ExecutionLog, BannerUsesUniversalDateAndLocalTime) {
  ModuleFolderScope scope;
  std::filesystem::remove_all(scope.path() + "/Log Files");
  {
    // 08:05:03 local on 9 December 2026, local = UTC.
    ClockScope clock(Utc(2026, 12, 9, 8, 5, 3), 0);
    CExecutionLog banner;
  }
  std::string want = kRule + "\r\nLast Log On\r\nDate : 9/12/2026\r\nTime : 8:5:3\r\n" + kRule + "\r\n";
  EXPECT_EQ(scope.ReadErrorLog(), want);
  EXPECT_EQ(scope.ReadExecLog(), want);
  {
    // 00:30 local one hour east of UTC: the date is the universal (previous) day.
    ClockScope clock(Utc(2026, 12, 8, 23, 30, 7), 3600);
    CExecutionLog banner;
  }
  std::string second = scope.ReadExecLog().substr(want.size());
  EXPECT_EQ(second, kRule + "\r\nLast Log On\r\nDate : 8/12/2026\r\nTime : 0:30:7\r\n" + kRule + "\r\n");
}

TEST(ExecutionLog, LineFormatAndTarget) {
  ModuleFolderScope scope;
  std::string before = scope.ReadErrorLog();
  EXPECT_TRUE(CExecutionLog::WriteLog(0, 0, "Reading Rowsets", false));
  EXPECT_TRUE(CExecutionLog::WriteLog(0, 0, "", false));
  EXPECT_TRUE(CExecutionLog::WriteLog(-3, -1, "neg", false));
  EXPECT_TRUE(CExecutionLog::WriteLog(0, 0, nullptr, false));
  EXPECT_EQ(scope.ReadExecLog(),
            "Code:0  Error:0  MSG:Reading Rowsets\r\nCode:0  Error:0  MSG:\r\nCode:-3  Error:-1  MSG:neg\r\n"
            "Code:0  Error:0  MSG:\r\n");
  EXPECT_EQ(scope.ReadErrorLog(), before);
  EXPECT_TRUE(CExecutionLog::WriteLog(1, 2, "err", true));
  EXPECT_EQ(scope.ReadErrorLog(), before + "Code:1  Error:2  MSG:err\r\n");
  // The log is UTF-8: UTF-8 stays, a byte that is none becomes the Latin-1 letter it was.
  EXPECT_TRUE(CExecutionLog::WriteLog(0, 0, "\xE4\xB8\x80 Donn\xE9" "es", true));
  EXPECT_EQ(scope.ReadErrorLog(), before + "Code:1  Error:2  MSG:err\r\nCode:0  Error:0  MSG:\xE4\xB8\x80 Donn\xC3\xA9" "es\r\n");
}

TEST(ExecutionLog, MissingFolderWritesNothing) {
  ModuleFolderScope scope;
  std::filesystem::remove_all(scope.path() + "/Log Files");
  EXPECT_FALSE(CExecutionLog::WriteLog(0, 0, "lost", false));
  EXPECT_FALSE(std::filesystem::exists(scope.path() + "/Log Files"));
}

TEST(ExecutionLog, ConcurrentLinesStayWhole) {
  ModuleFolderScope scope;
  const int kThreads = 8, kLines = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      std::string msg = "thread " + std::to_string(t) + " " + std::string(100, char('a' + t));
      for (int i = 0; i < kLines; ++i) CExecutionLog::WriteLog(0, 0, msg.c_str(), false);
    });
  for (auto& th : threads) th.join();
  std::istringstream in(scope.ReadExecLog());
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    ASSERT_EQ(line.size(), std::string("Code:0  Error:0  MSG:thread 0 \r").size() + 100) << line;
    char c = line[line.size() - 2];
    EXPECT_EQ(line.find(std::string(100, c)), line.size() - 101);
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

// The log file deleted while lines are written: a writer reopens it, and the descriptor it
// closes may be handed straight to another file the process opens. No line may land there.
TEST(ExecutionLog, DeletedLogFileNeverSendsLinesElsewhere) {
  ModuleFolderScope scope;
  const std::string log = scope.path() + "/Log Files/ExecLog.log";
  std::atomic<bool> stop{false};
  std::atomic<int> strayLines{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      while (!stop) CExecutionLog::WriteLog(0, 0, "a log line", false);
    });
  threads.emplace_back([&] {
    while (!stop) std::filesystem::remove(log);
  });
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&, t] {
      const std::string path = scope.path() + "/script" + std::to_string(t) + ".sql";
      while (!stop) {
        FILE_HANDLE h = CreateFileForWrite(path.c_str());
        WriteFileAll(h, "go\r\n", 4);
        CloseFileHandle(h);
        if (testsupport::ReadFile(path) != "go\r\n") ++strayLines;
      }
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  stop = true;
  for (auto& th : threads) th.join();
  EXPECT_EQ(strayLines, 0);
}

// An installed copy, whose folder the user may not write: the banner and the lines go to the
// user's state folder, and nothing is left beside the program.
TEST(ExecutionLog, InstalledCopyLogsUnderTheUsersStateFolder) {
  testsupport::TempDir program, user;
  ASSERT_EQ(::chmod(program.path().c_str(), 0555), 0);
  ASSERT_EQ(::chmod(user.path().c_str(), 0777), 0);
  const std::string programPath = program.path(), state = user.path() + "/state";
  const int result = testsupport::RunAsOrdinaryUser([&] {
    SetModuleFolderOverride(programPath);
    ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    { CExecutionLog banner; }
    CExecutionLog::GetModuleFolder();
    return CExecutionLog::WriteLog(0, 0, "2008 Format", false) && CExecutionLog::WriteLog(1, 2, "err", true) ? 0 : 1;
  });
  EXPECT_EQ(result, 0);
  const std::string logs = state + "/corvane/Log Files/";
  const std::string exec = testsupport::ReadFile(logs + "ExecLog.log");
  EXPECT_NE(exec.find("\r\nLast Log On\r\n"), std::string::npos) << exec;
  EXPECT_NE(exec.find("Code:0  Error:0  MSG:2008 Format\r\n"), std::string::npos) << exec;
  EXPECT_NE(testsupport::ReadFile(logs + "ErrorLog.log").find("Code:1  Error:2  MSG:err\r\n"), std::string::npos);
  ::chmod(program.path().c_str(), 0755);
  EXPECT_TRUE(std::filesystem::is_empty(program.path()));
}
