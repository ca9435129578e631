#include "support/fakeprogram.h"

#include <chrono>
#include <thread>

#include "common/executionlog.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"

namespace testsupport {

namespace {
using Clock = std::chrono::steady_clock;

// Waits as the program does (without end), but gives up at the deadline so a test can fail
// instead of hanging.
bool WaitUntil(const EVENT_HANDLE& e, Clock::time_point deadline, const CEngineStatus* stopOn = nullptr) {
  while (Clock::now() < deadline) {
    if (WaitForEvent(e, 50) == WaitResult::Signalled) return true;
    // The progress dialog's Stop ends both of its threads.
    if (stopOn && stopOn->m_bStopScan) return false;
  }
  return false;
}

// Both engines meet the program the same way; only their types differ.
template <class Engine>
RecoveryResult RunRecoveryOn(Engine& engine, const std::string& path, const RecoveryOptions& options) {
  RecoveryResult result;
  CEngineStatus* status = engine.m_pStatus;
  const auto deadline = Clock::now() + std::chrono::milliseconds(options.timeoutMs);

  engine.m_strFilePath = path.c_str();
  status->m_bStopScan = 0;
  status->m_bAllPagesRead = 0;
  ResetEvent(status->m_hSysTabEvent);
  ResetEvent(status->m_hTableExtractedEvent);
  ResetEvent(status->m_hProgressRdyEvent);
  engine.ScanDataSets();
  engine.m_nSelectedDataSet = options.selectedSet;
  const bool coalesced = options.censusHandOverEvery > 1;
  engine.SetCensusHandOverEvery(options.censusHandOverEvery);
  engine.ScanMdfFile();

  std::atomic<bool> pageDone{false};
  std::thread pageThread([&] {
    long long count = 0;
    for (;;) {
      if (!WaitUntil(status->m_hPageRead, deadline, status)) break;
      ResetEvent(status->m_hPageRead);
      if (status->m_bStopScan) break;
      if (coalesced) count = engine.m_nCensusPagesRead.load(std::memory_order_acquire);
      else ++count;
      const int total = status->m_nTotalPages;
      int percent = total > 0 ? int(count * 50 / total) : 50;
      if (percent > 50 || status->m_bAllPagesRead) percent = 50;
      if (options.stopAfterPages >= 0 && count >= options.stopAfterPages) {
        status->m_bStopScan = 1;
        SetEvent(status->m_hTableExtractedEvent);
        SetEvent(status->m_hRecordEvent2);
        break;
      }
      if (count >= total || percent == 50) {
        ResetEvent(status->m_hPageRead);
        SetEvent(status->m_hProgressRdyEvent);
        result.progressReady = true;
        SetEvent(status->m_hRecordEvent);
        break;
      }
      SetEvent(status->m_hRecordEvent);
    }
    result.pagesCounted = count;
    CExecutionLog::WriteLog(0, 0, "Existing Progress event for Reading Pages", false);
    SetEvent(status->m_hPageReadComplete);
    pageDone = true;
  });

  std::thread sysThread([&] {
    for (int round = 1; round <= 3; ++round) {
      CExecutionLog::WriteLog(0, 0, "Waiting for Progress event : -Reading System table", false);
      if (!WaitUntil(status->m_hSysRead, deadline, status)) return;
      CExecutionLog::WriteLog(0, 0, "Event Fonund for Progress  : -Reading System table", false);
      ResetEvent(status->m_hSysRead);
      if (status->m_bStopScan) return;
      if (options.stopAtSysRound == round) {
        status->m_bStopScan = 1;
        SetEvent(status->m_hTableExtractedEvent);
        SetEvent(status->m_hRecordEvent2);
        return;
      }
      result.sysRounds = round;
      SetEvent(status->m_hSystemTabRdyEvent);
    }
  });

  pageThread.join();
  sysThread.join();
  // The scan thread is detached: wait for it to leave the engine.
  while (engine.m_bBusy && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  result.finished = !engine.m_bBusy;
  (void)pageDone;
  return result;
}
}  // namespace

RecoveryResult RunRecovery(CSQLServer2008& engine, const std::string& path, const RecoveryOptions& options) {
  return RunRecoveryOn(engine, path, options);
}

RecoveryResult RunRecovery(CSQLServer2000& engine, const std::string& path, const RecoveryOptions& options) {
  return RunRecoveryOn(engine, path, options);
}

}  // namespace testsupport
