#include "ui/core/scanfollower.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "common/backupreader.h"
#include "common/enginesupport.h"
#include "common/executionlog.h"
#include "common/page.h"
#include "common/sqlserver.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "ui/core/sourcedetection.h"
#include "dll/pellwyn2008/pellwyn2008.h"

namespace uicore {

namespace {

// Waits for the scan's signal, or until the recovery is stopped: false for a stop. Never for
// the event alone: a census that sees the stop flag clears "PageRead" on its way out (so the
// next recovery starts in step), and that can take away the very wake-up Stop gave this
// thread before it ran.
bool AwaitScan(const EVENT_HANDLE& event, const CEngineStatus& status, const std::atomic<bool>& quit) {
  constexpr unsigned kSliceMs = 20;
  for (;;) {
    if (status.m_bStopScan || quit) return false;
    const WaitResult r = WaitForEvent(event, kSliceMs);
    if (r == WaitResult::Signalled) return true;
    if (r == WaitResult::Failed) return false;
  }
}

}  // namespace

bool IsBackupFile(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = char(std::tolower((unsigned char)c));
  return ext == "bak";
}

int ListBackupSets(CSQLServer& engine, const std::string& path) {
  engine.m_strFilePath = path.c_str();
  // The engines go by the name's extension; a database file named ".bak" is still read as one.
  engine.m_bSourceIsDatabaseFile = IsBackupFile(path) && ReadAsDatabaseFile(path);
  engine.ScanDataSets();
  return std::max(engine.m_nDataSetCount, 0);
}

bool HasBackupSet(const CSQLServer& engine, int set) {
  if (set < 1 || set > engine.m_nDataSetCount || !engine.m_pBackupReader) return false;
  return engine.m_pBackupReader->GetSet(set) != nullptr;
}

std::string SourceCutOffText(const CSQLServer& engine) {
  unsigned long long held = 0, declared = 0;
  if (engine.m_nDataSetCount > 0) {
    const CBackupSet* set = engine.m_pBackupReader ? engine.m_pBackupReader->GetSet(engine.m_nSelectedDataSet) : nullptr;
    if (!set || !set->m_pStream) return std::string();
    held = set->m_pStream->nLength / kPageSize;
    declared = std::max(set->m_pStream->nDeclaredLength, set->m_pStream->nLength) / kPageSize;
  } else {
    CSourceFile file;
    if (!file.Open(engine.m_strFilePath.c_str())) return std::string();
    held = file.Size() / kPageSize;
    declared = (file.Size() + kPageSize - 1) / kPageSize;
  }
  if (held >= declared) return std::string();
  if (engine.m_nDataSetCount > 0)
    return "The backup is truncated: " + std::to_string(held) + " of " + std::to_string(declared) +
           " pages were read.";
  // A database file does not say how large it was: only the partial last page shows the cut,
  // so no total is given that the file never held.
  return "The database file is truncated: it ends inside a page; only the " + std::to_string(held) +
         " whole pages before it were read, and how many pages followed is not known.";
}

std::string MissingBaseWarning(const CSQLServer& engine) {
  if (engine.m_nDataSetCount <= 0 || !engine.m_pBackupReader) return std::string();
  const int number = engine.m_nSelectedDataSet;
  const CBackupSet* set = engine.m_pBackupReader->GetSet(number);
  if (!set || set->m_nBackupType != 2) return std::string();
  CSourceFile file;
  if (file.Open(engine.m_strFilePath.c_str()) && FindDifferentialBase(*engine.m_pBackupReader, file, number, set))
    return std::string();
  return "Backup set " + std::to_string(number) +
         " is a differential backup, and this file holds no full backup of its database to read it over: only "
         "the pages it changed are read, so tables and rows may be missing.";
}

std::string CountText(int count) {
  char text[32];
  std::snprintf(text, sizeof text, "%d (%d)", count, count);
  return text;
}

CensusHandOver CoalescedCensusOf(CSQLServer& engine) {
  CensusHandOver h;
  // Both censuses hand over in batches; the 2005 stand-in is a 2008 engine too.
  auto coalesce = [&h](auto* e) {
    h.setEvery = [e](int every) { e->SetCensusHandOverEvery(every); };
    h.pagesRead = [e] { return e->m_nCensusPagesRead.load(std::memory_order_acquire); };
  };
  if (auto* e = dynamic_cast<CSQLServer2008*>(&engine)) coalesce(e);
  else if (auto* e2000 = dynamic_cast<CSQLServer2000*>(&engine)) coalesce(e2000);
  return h;
}

namespace {
void Log(const char* text) { CExecutionLog::WriteLog(0, 0, text, false); }

// The census fills the bar from 0 to 50 %. A total of 0 (nothing to read, or a size that could
// not be learnt) counts as done.
int CensusPercent(long long count, int total, bool allPagesRead) {
  if (total <= 0 || allPagesRead) return 50;
  return std::min(50, int(double(count) / double(total) * 50.0));
}
}  // namespace

long long ScanFollower::PagesCounted() const {
  const long long counted = m_pages.load(std::memory_order_relaxed);
  if (!m_coalesced || !m_counting.load()) return counted;
  return std::max(counted, m_options.handOver.pagesRead());
}

int ScanFollower::Percent() const {
  const int shown = m_percent.load(std::memory_order_relaxed);
  if (!m_coalesced || !m_counting.load()) return shown;
  // Until the census has said how many pages it reads, the bar keeps what it shows.
  const int total = m_engine.m_pStatus->m_nTotalPages;
  if (total <= 0) return shown;
  return std::max(shown, CensusPercent(PagesCounted(), total, false));
}

ScanFollower::ScanFollower(CSQLServer& engine, IScanProgressSink& sink, ScanFollowerOptions options)
    : m_engine(engine), m_sink(sink), m_options(std::move(options)) {
  if (!m_options.handOver) m_options.handOver = CoalescedCensusOf(engine);
  m_coalesced = m_options.handOverEvery > 1 && bool(m_options.handOver);
}

ScanFollower::~ScanFollower() {
  if (m_pageThread.joinable() || m_sysThread.joinable()) {
    Detach();
    if (!m_complete && !m_stopped) StopRecovery();
    JoinFollowerThreads();
  }
  if (m_watchThread.joinable()) {
    m_unwatch = true;
    m_engine.m_bBusy.Wake();
    m_watchThread.join();
  }
}

void ScanFollower::Start() {
  // One recovery per follower: the dialog is made anew for each.
  if (m_watchThread.joinable()) return;
  CEngineStatus* status = m_engine.m_pStatus;
  status->m_bStopScan = 0;
  status->m_bAllPagesRead = 0;
  ResetEvent(status->m_hSysTabEvent);
  ResetEvent(status->m_hTableExtractedEvent);
  ResetEvent(status->m_hProgressRdyEvent);
  if (m_options.handOver) m_options.handOver.setEvery(m_coalesced ? m_options.handOverEvery : 1);
  const std::string cutOff = SourceCutOffText(m_engine);
  if (!cutOff.empty()) Log(("Page census: " + cutOff + " The scan goes on with what the file holds.").c_str());
  if (m_options.startScan)
    m_options.startScan();
  else
    m_engine.ScanMdfFile();
  {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_threadsRunning = 2;
  }
  m_counting = true;
  m_pageThread = std::thread([this] { PageThread(); });
  m_sysThread = std::thread([this] { SysTableThread(); });
  m_watchThread = std::thread([this] { WatchScanThread(); });
}

template <class F>
void ScanFollower::Report(F&& call) {
  std::lock_guard<std::mutex> lock(m_reportMutex);
  if (!m_detached) call();
}

void ScanFollower::Detach() {
  std::lock_guard<std::mutex> lock(m_reportMutex);
  m_detached = true;
}

void ScanFollower::StopRecovery() {
  CEngineStatus* status = m_engine.m_pStatus;
  m_quit = true;
  status->m_bStopScan = 1;
  // The census waits for "RecordEvent", the scan's hand-shakes for "SystemTabRdyEvent"; the
  // follower's threads wait for "PageRead" and "SysRead". Each leaves when it wakes and finds
  // the flag raised.
  SetEvent(status->m_hTableExtractedEvent);
  SetEvent(status->m_hRecordEvent);
  SetEvent(status->m_hSystemTabRdyEvent);
  SetEvent(status->m_hPageReadComplete);
  SetEvent(status->m_hPageRead);
  SetEvent(status->m_hSysRead);
}

void ScanFollower::StopFromFollower() {
  m_stopped = true;
  Detach();
  StopRecovery();
}

void ScanFollower::JoinFollowerThreads() {
  if (m_pageThread.joinable()) m_pageThread.join();
  if (m_sysThread.joinable()) m_sysThread.join();
}

void ScanFollower::ThreadEnded() {
  {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    --m_threadsRunning;
  }
  m_stateChanged.notify_all();
}

bool ScanFollower::Stop(const AskYesNo& ask) {
  if (!m_complete && !m_stopped) {
    if (!ask || !ask(kStopQuestion, kStopTitle)) return false;
    Detach();
    m_stopped = true;
    StopRecovery();
  }
  Detach();
  JoinFollowerThreads();
  return true;
}

bool ScanFollower::Close(const AskYesNo& ask) {
  if (!m_complete && !m_stopped) {
    if (!ask || !ask(kStopQuestion, kStopTitle)) return false;
    Detach();
    StopRecovery();
  }
  Detach();
  JoinFollowerThreads();
  return true;
}

bool ScanFollower::WaitUntilFinished(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_stateMutex);
  return m_stateChanged.wait_for(lock, timeout, [&] { return m_scanEnded.load() && m_threadsRunning == 0; });
}

void ScanFollower::PageThread() {
  CEngineStatus* status = m_engine.m_pStatus;
  Report([&] { m_sink.ShowFormat(m_options.format); });
  long long count = 0;
  bool nameShown = false;
  int shown = -1;
  for (;;) {
    if (!AwaitScan(status->m_hPageRead, *status, m_quit)) break;
    ResetEvent(status->m_hPageRead);
    // Before anything else of the status block is read: a stop may wake this thread before
    // the scan has written a thing.
    if (status->m_bStopScan || m_quit) break;
    if (!nameShown && !status->m_strDatabaseName.IsEmpty()) {
      const std::string name = status->m_strDatabaseName.str();
      Report([&] { m_sink.ShowDatabaseName(name); });
      nameShown = true;
    }
    count = m_coalesced ? m_options.handOver.pagesRead() : count + 1;
    m_pages.store(count, std::memory_order_relaxed);
    if (m_options.stopAfterHandOver && m_options.stopAfterHandOver(count)) {
      StopFromFollower();
      break;
    }
    const int total = status->m_nTotalPages;
    const int percent = CensusPercent(count, total, status->m_bAllPagesRead != 0);
    if (percent != shown) {
      shown = percent;
      m_percent = percent;
      Report([&] { m_sink.ShowPercent(percent); });
    }
    if ((unsigned long long)count >= (unsigned long long)(unsigned)total || percent == 50) {
      ResetEvent(status->m_hPageRead);
      SetEvent(status->m_hProgressRdyEvent);
      m_progressReady = true;
      SetEvent(status->m_hRecordEvent);
      break;
    }
    SetEvent(status->m_hRecordEvent);
  }
  m_counting = false;
  Report([&] { m_sink.ShowPagesRead(count); });
  Log("Existing Progress event for Reading Pages");
  SetEvent(status->m_hPageReadComplete);
  ThreadEnded();
}

void ScanFollower::SysTableThread() {
  CEngineStatus* status = m_engine.m_pStatus;
  static constexpr int kPercentAfterPass[3] = {60, 70, 100};
  bool answered = true;
  for (int pass = 0; pass < 3 && answered; ++pass) {
    Log("Waiting for Progress event : -Reading System table");
    if (!AwaitScan(status->m_hSysRead, *status, m_quit)) {
      answered = false;
      break;
    }
    Log("Event Fonund for Progress  : -Reading System table");
    ResetEvent(status->m_hSysRead);
    if (status->m_bStopScan || m_quit) {
      answered = false;
      break;
    }
    if (m_options.stopAtHandShake && m_options.stopAtHandShake(pass + 1)) {
      StopFromFollower();
      answered = false;
      break;
    }
    m_percent = kPercentAfterPass[pass];
    Report([&] { m_sink.ShowPercent(kPercentAfterPass[pass]); });
    m_sysRounds = pass + 1;
    SetEvent(status->m_hSystemTabRdyEvent);
  }
  if (answered) {
    // The scan set the counts before its third hand-shake.
    ObjectCounts counts;
    counts.tables = status->m_nTableCount;
    counts.views = status->m_nViewCount;
    counts.procedures = status->m_nProcCount;
    counts.rules = status->m_nRuleCount;
    counts.triggers = status->m_nTriggerCount;
    counts.functions = status->m_nFunctionCount;
    Report([&] {
      m_sink.FillObjectTree();
      m_sink.ShowCounts(counts);
      m_sink.RecoveryComplete();
      // Inside the report: a Stop that finds the recovery complete found the tree filled.
      m_complete = true;
    });
  }
  ThreadEnded();
}

void ScanFollower::WatchScanThread() {
  if (!m_engine.m_bBusy.WaitUnless(0, [&] { return m_unwatch.load(); })) return;
  {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_scanEnded = true;
  }
  m_stateChanged.notify_all();
  m_sink.ScanEnded();
}

}  // namespace uicore
