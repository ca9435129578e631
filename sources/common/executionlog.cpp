#include "executionlog.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "common/unicodetext.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/timeutil.h"

namespace {
std::mutex g_mutex;
std::string g_folder;
// Log files stay open for appending: one descriptor per path, one write per line.
std::map<std::string, FILE_HANDLE>& OpenLogs() {
  static auto* m = new std::map<std::string, FILE_HANDLE>();
  return *m;
}

const char* const kRule = "===============================================================================";

bool AppendLine(const std::string& path, const std::string& line, bool keepOpen) {
  // The write stays under the lock: another writer may close a cached descriptor whose file
  // was deleted, and the number it frees can be handed to a script or scan file at once.
  std::lock_guard<std::mutex> lock(g_mutex);
  auto& logs = OpenLogs();
  auto it = logs.find(path);
  // A cached descriptor is only trusted while its file still exists.
  if (it != logs.end() && !FileExists(path.c_str())) {
    CloseFileHandle(it->second);
    logs.erase(it);
    it = logs.end();
  }
  if (it != logs.end()) return WriteFileAll(it->second, line.data(), line.size());
  FILE_HANDLE fd = OpenFileForAppend(path.c_str());
  if (fd == kInvalidFile) return false;
  const bool ok = WriteFileAll(fd, line.data(), line.size());
  if (keepOpen) logs.emplace(path, fd);
  else CloseFileHandle(fd);
  return ok;
}
}  // namespace

CExecutionLog::CExecutionLog() {
  std::string folder = GetStateFolderPath() + "Log Files";
  CreateDirectoryPath(folder.c_str());
  SYSTEMTIME utc, local;
  GetSystemTimeUtc(utc);
  GetLocalTimeNow(local);
  std::string banner;
  banner += kRule;
  banner += "\r\nLast Log On\r\n";
  banner += "Date : " + std::to_string(utc.wDay) + "/" + std::to_string(utc.wMonth) + "/" + std::to_string(utc.wYear) +
            "\r\n";
  banner += "Time : " + std::to_string(local.wHour) + ":" + std::to_string(local.wMinute) + ":" +
            std::to_string(local.wSecond) + "\r\n";
  banner += kRule;
  banner += "\r\n";
  AppendLine(folder + "/ErrorLog.log", banner, false);
  AppendLine(folder + "/ExecLog.log", banner, false);
}

CExecutionLog::~CExecutionLog() = default;

void CExecutionLog::GetModuleFolder() {
  std::string folder = GetStateFolderPath();
  std::lock_guard<std::mutex> lock(g_mutex);
  g_folder = folder;
}

std::string CExecutionLog::LogFolder() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_folder;
}

bool CExecutionLog::WriteLog(int code, int error, const char* message, bool toErrorLog) {
  try {
    std::string path = LogFolder() + (toErrorLog ? "Log Files/ErrorLog.log" : "Log Files/ExecLog.log");
    std::string line = "Code:" + std::to_string(code) + "  Error:" + std::to_string(error) + "  MSG:";
    // The log is UTF-8 whatever a caller hands it: a stray 8-bit byte becomes its Latin-1 letter.
    if (message) line += ValidUtf8(message);
    line += "\r\n";
    return AppendLine(path, line, true);
  } catch (...) {
    return false;
  }
}
