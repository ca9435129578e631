// An engine with a scripted scan and a scripted record thread, for the desktop core's tests:
// its census hands over pages as the real engines do (one "PageRead" per page, or in batches),
// its scan answers the three hand-shakes, and its record thread pages through a list of row
// texts 500 at a time. Gates hold the scan or a preview page at a chosen point, so a test can
// press Stop or select another table there.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/backupreader.h"
#include "common/records.h"
#include "support/catalogengine.h"
#include "ui/core/scanfollower.h"

namespace coretest {

// A point one thread waits at until the test opens it (or a stop condition holds).
class Gate {
 public:
  // Marks the gate reached and waits until it is opened or `stop()` holds (checked every
  // few milliseconds, as the engines check their stop flag).
  void Pass(const std::function<bool()>& stop) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_reached = true;
    m_changed.notify_all();
    while (!m_open && !stop()) m_changed.wait_for(lock, std::chrono::milliseconds(2));
  }
  bool WaitReached(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_reached; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = true;
    m_changed.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_reached = false;
  bool m_open = false;
};

struct ScanScript {
  int totalPages = 1000;  // what the census says it will read
  int pages = 1000;       // the pages it hands over
  // Raise m_bAllPagesRead with the hand-over of this page and read no further (0: never early).
  int allPagesReadWith = 0;
  std::string databaseName = "FakeDb";
  uicore::ObjectCounts counts{3, 1, 2, 0, 0, 4};
  // Hold the census before handing over this page, or the scan before this hand-shake (1-3).
  int gateAtPage = 0;
  int gateAtHandShake = 0;
  // Backup sets ScanDataSets lists ("Fake set 1", ...); 0: the source is no backup.
  int backupSets = 0;
};

// The catalog builders and the inert rest of the interface come from CatalogEngine.
class FakeEngine : public testsupport::CatalogEngine {
 public:
  explicit FakeEngine(ScanScript script = {}) : m_script(std::move(script)) {
    m_bBusy = 1;  // as the real engines: busy from construction until a scan leaves
  }
  ~FakeEngine() override {
    if (m_scan.joinable()) m_scan.join();
    if (m_preview.joinable()) m_preview.join();
    m_bBusy = 0;
    m_pCurrentSet = nullptr;
    m_pBackupReader = nullptr;
  }

  // ---- backup sets
  void ScanDataSets() override {
    if (m_script.backupSets <= 0) return;
    m_reader = std::make_unique<CBackupReader>();
    m_sets.clear();
    for (int n = 1; n <= m_script.backupSets; ++n) {
      auto set = std::make_unique<CBackupSet>();
      set->m_pszName = ("Fake set " + std::to_string(n)).c_str();
      set->m_nBackupType = n == 1 ? 1 : 2;
      set->m_tmWritten.wYear = 2010;
      set->m_tmWritten.wMonth = 3;
      set->m_tmWritten.wDay = WORD(14 + n);
      set->m_tmWritten.wHour = 14;
      set->m_tmWritten.wMinute = 5;
      m_reader->m_mapSets.SetAt(std::to_string(n), set.get());
      m_sets.push_back(std::move(set));
    }
    m_reader->m_nStreamCount = m_script.backupSets;
    m_pBackupReader = m_reader.get();
    m_nDataSetCount = m_script.backupSets;
  }

  // ---- scan
  void ScanMdfFile() override {
    m_bBusy = 1;
    m_scan = std::thread([this] {
      RunScan();
      m_bBusy = 0;
    });
  }
  // A census that can batch its hand-overs, for the follower's coalesced path.
  uicore::CensusHandOver HandOver() {
    uicore::CensusHandOver h;
    h.setEvery = [this](int every) { m_every = every; };
    h.pagesRead = [this] { return m_pagesRead.load(); };
    return h;
  }
  // Called on the scan thread each time the census is released, with the pages it handed over.
  std::function<void(int pages)> onReleased;
  Gate scanGate;
  std::atomic<int> handOvers{0};
  std::atomic<int> progressReadySeenAt{0};  // first released page that found "ProgressRdyEvent" set
  std::atomic<bool> parseComplete{false};

  // ---- record thread: rows of one table, 500 to a page
  std::vector<std::string> rows;
  Gate* previewGate = nullptr;  // held before the rows of a page are appended
  std::atomic<int> recordThreads{0};
  // Row lists by table, for tests that preview several tables; a table without one pages
  // through `rows`.
  std::map<const CTable*, std::vector<std::string>> rowsOf;
  void StartRecoverTableRecordThread() override {
    if (m_preview.joinable()) m_preview.join();
    ++recordThreads;
    {
      std::lock_guard<std::mutex> lock(m_windowMutex);
      m_pStatus->m_bRecordThreadDone = 0;
    }
    m_preview = std::thread([this] { RunWindow(); });
  }

  CString GetDatabaseName() override { return CString(m_script.databaseName.c_str()); }

 private:
  bool Stopped() const { return m_pStatus->m_bStopScan != 0; }
  // As the engines wait: in slices, leaving when the scan is stopped.
  bool WaitUnlessStopped(const EVENT_HANDLE& e) {
    for (;;) {
      if (Stopped()) return false;
      if (WaitForEvent(e, 5) == WaitResult::Signalled) return !Stopped();
    }
  }

  void RunScan() {
    CEngineStatus* st = m_pStatus;
    if (m_pBackupReader) m_pCurrentSet = m_pBackupReader->GetSet(m_nSelectedDataSet);
    st->m_strDatabaseName = m_script.databaseName.c_str();
    st->m_nTotalPages = m_script.totalPages;
    const int every = m_every.load();
    for (int n = 1; n <= m_script.pages; ++n) {
      if (n == m_script.gateAtPage) scanGate.Pass([&] { return Stopped(); });
      m_pagesRead = n;
      const bool last = n == m_script.pages || n == m_script.allPagesReadWith;
      if (n == m_script.allPagesReadWith) st->m_bAllPagesRead = 1;
      if (every <= 1 || n % every == 0 || last) {
        ++handOvers;
        SetEvent(st->m_hPageRead);
        if (!WaitUnlessStopped(st->m_hRecordEvent)) return;
        ResetEvent(st->m_hRecordEvent);
        if (IsEventSet(st->m_hProgressRdyEvent) && progressReadySeenAt == 0) progressReadySeenAt = n;
        if (onReleased) onReleased(n);
      }
      if (n == m_script.allPagesReadWith) break;
    }
    st->m_bAllPagesRead = 1;
    SetEvent(st->m_hPageRead);
    if (!WaitUnlessStopped(st->m_hPageReadComplete)) return;
    for (int round = 1; round <= 3; ++round) {
      if (round == m_script.gateAtHandShake) scanGate.Pass([&] { return Stopped(); });
      if (Stopped()) return;
      if (round == 3) {
        const uicore::ObjectCounts& c = m_script.counts;
        st->m_nTableCount = c.tables;
        st->m_nViewCount = c.views;
        st->m_nProcCount = c.procedures;
        st->m_nRuleCount = c.rules;
        st->m_nTriggerCount = c.triggers;
        st->m_nFunctionCount = c.functions;
      }
      SetEvent(st->m_hSysRead);
      if (!WaitUnlessStopped(st->m_hSystemTabRdyEvent)) return;
      ResetEvent(st->m_hSystemTabRdyEvent);
    }
    parseComplete = true;
  }

  // One window, paged as the engines page: the first window when not paging and no history,
  // the next one forward, the one before from the history backwards.
  void RunWindow() {
    if (previewGate) previewGate->Pass([] { return false; });
    std::lock_guard<std::mutex> lock(m_windowMutex);
    const size_t kWindow = 500;
    size_t start = 0;
    const bool paging = m_bPaging != 0;
    const bool forward = m_bPageForward != 0;
    bool backward = false;
    if (m_stkWindowStarts.empty() && !paging) {
      start = 0;
    } else if (forward) {
      start = m_next;
    } else {
      backward = true;
      if (!m_stkWindowStarts.empty()) start = *m_stkWindowStarts.back().posPage;
    }
    auto own = rowsOf.find(m_pStatus->m_pPreviewTable.load());
    const std::vector<std::string>& table = own == rowsOf.end() ? rows : own->second;
    const size_t end = std::min(table.size(), start + kWindow);
    {
      std::lock_guard<std::mutex> rowsLock(m_pStatus->m_csPreviewRows);
      for (size_t i = start; i < end; ++i) m_pStatus->m_vecPreviewRows.push_back(CString(table[i].c_str()));
    }
    if (backward) {
      if (!m_stkWindowStarts.empty()) m_stkWindowStarts.pop_back();
    } else if (paging && m_posShownPage) {
      m_stkWindowStarts.push_back(WindowStart{m_posShownPage, 0, 0});
    }
    m_posShownPage = start;
    m_next = end;
    m_bLastWindow = end >= table.size() ? 1 : 0;
    m_pStatus->m_bRecordThreadDone = 1;
  }

  ScanScript m_script;
  std::unique_ptr<CBackupReader> m_reader;
  std::vector<std::unique_ptr<CBackupSet>> m_sets;
  std::atomic<int> m_every{1};
  std::atomic<long long> m_pagesRead{0};
  std::thread m_scan;
  std::thread m_preview;
  std::mutex m_windowMutex;
  size_t m_next = 0;
};

}  // namespace coretest
