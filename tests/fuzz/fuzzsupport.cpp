#include "fuzzsupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "common/executionlog.h"
#include "common/page.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/files.h"
#include "platform/module.h"

namespace fs = std::filesystem;

namespace fuzzsupport {

namespace {
std::string MakeScratch() {
  std::error_code ec;
  fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string tmpl = (base / "pellwyn-fuzz-XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  if (!made) Fail("cannot create the scratch folder");
  std::string dir = made;
  fs::create_directories(dir + "/Log Files", ec);
  // Every engine logs each stage, and the fuzzer runs many thousands of scans.
  fs::create_symlink("/dev/null", dir + "/Log Files/ExecLog.log", ec);
  fs::create_symlink("/dev/null", dir + "/Log Files/ErrorLog.log", ec);
  SetModuleFolderOverride(dir);
  CExecutionLog::GetModuleFolder();
  static std::string atExitDir = dir;
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(atExitDir, ignored);
  });
  return dir;
}
}  // namespace

const std::string& ScratchDir() {
  static const std::string dir = MakeScratch();
  return dir;
}

std::string WriteScratch(const std::string& name, const std::uint8_t* data, size_t size) {
  std::string path = ScratchDir() + "/" + name;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot write a scratch file");
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) Fail("short write of a scratch file");
    done += size_t(n);
  }
  ::close(fd);
  return path;
}

void Fail(const char* what) {
  std::fprintf(stderr, "==fuzz== invariant broken: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

// ---- whole scans and script exports

namespace {
// Waits in short slices until the event is set or `done` says the scan has ended.
bool WaitOrDone(const EVENT_HANDLE& event, const std::atomic<bool>& done) {
  while (!done.load()) {
    if (WaitForEvent(event, 5) == WaitResult::Signalled) return true;
  }
  return false;
}
}  // namespace

namespace {
template <class Engine>
bool ScanOnThisThread(Engine& engine, const std::string& path, int set) {
  CEngineStatus* status = engine.m_pStatus;
  engine.m_strFilePath = path.c_str();
  status->m_bStopScan = 0;
  engine.ScanDataSets();
  engine.m_nSelectedDataSet = set;
  engine.SetCensusHandOverEvery(1 << 30);
  std::atomic<bool> done{false};
  std::atomic<int> rounds{0};
  std::thread partner([&] {
    if (!WaitOrDone(status->m_hPageRead, done)) return;
    ResetEvent(status->m_hPageRead);
    SetEvent(status->m_hRecordEvent);
    SetEvent(status->m_hPageReadComplete);
    for (int round = 1; round <= 3; ++round) {
      if (!WaitOrDone(status->m_hSysRead, done)) return;
      ResetEvent(status->m_hSysRead);
      rounds = round;
      SetEvent(status->m_hSystemTabRdyEvent);
    }
  });
  engine.RecoverSQLServerMDF(&engine);
  done = true;
  partner.join();
  // Nothing of this scan may release the next one.
  for (const EVENT_HANDLE* e : {&status->m_hPageRead, &status->m_hRecordEvent, &status->m_hPageReadComplete,
                                &status->m_hSysRead, &status->m_hSystemTabRdyEvent})
    ResetEvent(*e);
  return rounds == 3;
}
}  // namespace

std::uint32_t WriteDatabaseImage(const std::string& path, const std::uint8_t* data, size_t size,
                                 std::uint32_t maxPlace, std::vector<std::vector<std::uint8_t>>* pages) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot write the database image");
  std::set<DWORD> taken;
  DWORD freePlace = 0;
  DWORD count = 0;
  std::vector<BYTE> page(kPageSize);
  for (size_t at = 0; at < size; at += kPageSize) {
    std::memset(page.data(), 0, kPageSize);
    std::memcpy(page.data(), data + at, std::min<size_t>(size - at, kPageSize));
    DWORD place = PageIdOf(page.data());
    if (place >= maxPlace || taken.count(place)) {
      while (taken.count(freePlace)) ++freePlace;
      place = freePlace;
    }
    taken.insert(place);
    if (::pwrite(fd, page.data(), kPageSize, off_t(place) * kPageSize) != kPageSize) Fail("pwrite");
    count = std::max(count, place + 1);
    if (pages) pages->push_back(page);
  }
  ::close(fd);
  return count;
}

bool ScanInProcess(CSQLServer2008& engine, const std::string& path, int set) {
  return ScanOnThisThread(engine, path, set);
}

bool ScanInProcess(CSQLServer2000& engine, const std::string& path, int set) {
  return ScanOnThisThread(engine, path, set);
}

void ExportScripts(CSQLServer2008& engine, bool rows) {
  const char* sink = "/dev/null";
  engine.m_bExportToServer = 0;
  engine.m_strOutputFolder = (ScratchDir() + "/export").c_str();
  CreateDirectoryPath(engine.m_strOutputFolder);
  engine.m_hUserTypesSqlFile = CreateFileForWrite(sink);
  engine.GenerateUserDataTypeQueries();
  CloseFileHandle(engine.m_hUserTypesSqlFile);
  engine.m_bExportRows = rows ? 1 : 0;
  engine.m_hTableSqlFile = CreateFileForWrite(sink);
  engine.m_hConstraintSqlFile = CreateFileForWrite(sink);
  engine.m_hDefaultSqlFile = CreateFileForWrite(sink);
  std::vector<CTable*> tables;
  for (const auto& e : engine.m_mapTables)
    if (e.second) tables.push_back(e.second);
  for (CTable* table : tables) engine.GenerateTableQueries(table, nullptr);
  CloseFileHandle(engine.m_hTableSqlFile);
  CloseFileHandle(engine.m_hConstraintSqlFile);
  CloseFileHandle(engine.m_hDefaultSqlFile);
  engine.m_bExportMode = 0;
  engine.m_bExportRows = 0;
  struct Kind {
    FILE_HANDLE CSQLServer::*handle;
    CStringKeyMap<CViewStoredProc*> CSQLServer::*objects;
    void (CSQLServer2008::*generate)(CViewStoredProc*);
  } kinds[] = {
      {&CSQLServer::m_hViewsSqlFile, &CSQLServer::m_mapViews, &CSQLServer2008::GenerateViewQueries},
      {&CSQLServer::m_hProcSqlFile, &CSQLServer::m_mapStoredProcs, &CSQLServer2008::GenerateStoredProcQueries},
      {&CSQLServer::m_hFunctionsSqlFile, &CSQLServer::m_mapFunctions, &CSQLServer2008::GenerateFunctionQueries},
      {&CSQLServer::m_hRulesSqlFile, &CSQLServer::m_mapRules, &CSQLServer2008::GenerateRulesQueries},
      {&CSQLServer::m_hTriggersSqlFile, &CSQLServer::m_mapTriggers, &CSQLServer2008::GenerateTriggerQueries},
  };
  for (const Kind& k : kinds) {
    engine.*k.handle = CreateFileForWrite(sink);
    for (const auto& e : engine.*k.objects)
      if (e.second) (engine.*k.generate)(e.second);
    CloseFileHandle(engine.*k.handle);
  }
}

}  // namespace fuzzsupport
