#include "ui/core/exportpool.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/executionlog.h"
#include "common/records.h"
#include "common/sqlserver.h"
#include "platform/database.h"
#include "platform/events.h"
#include "ui/core/exportnames.h"
#include "ui/core/exportworker.h"

namespace uicore {

int PoolSize(int threadSize, int tables) {
  if (tables <= 0) return 0;
  return std::min(std::clamp(threadSize, 1, kMaxPoolThreads), tables);
}

namespace {

void Log(const std::string& text, bool error = false) { CExecutionLog::WriteLog(0, 0, text.c_str(), error); }

// One export's pool. Every member below the lock is guarded by it.
struct Pool {
  Pool(CSQLServer& e, IExportSink& s, int total) : engine(e), sink(s), tableCount(total) {}

  CSQLServer& engine;
  IExportSink& sink;
  const int tableCount;
  // Unnamed, so neither another export nor another program can see or signal them.
  EVENT_HANDLE jobAvailable = CreateNamedEvent(nullptr);
  EVENT_HANDLE wakeMainThread = CreateNamedEvent(nullptr);
  std::vector<CDatabase*> connections;  // every pooled connection, in opening order

  std::mutex lock;
  std::deque<CTable*> queue;
  std::deque<CDatabase*> freeConnections;
  int activeThreads = 0;
  int jobsCompleted = 0;
  int tablesDone = 0;
  int percent = 0;
  std::vector<PoolOutcome::Reported> reported;

  bool StopRequested() const { return engine.m_pStatus->m_bStopRecords.load() != 0; }

  // Only the last thread to leave gets here, so no connection is in use any more.
  void CloseAll() {
    for (CDatabase* db : connections) {
      try {
        db->Close();
      } catch (...) {
        // A connection that fails to close is of no further use either way.
      }
    }
    SetEvent(wakeMainThread);
  }

  // A thread leaves the pool; the last one out closes the connections and wakes the worker.
  void Leave(CDatabase* held) {
    if (held) {
      try {
        held->Close();
      } catch (...) {
      }
    }
    bool last;
    {
      std::lock_guard<std::mutex> guard(lock);
      last = --activeThreads == 0;
    }
    if (last) CloseAll();
  }

  // Exports one table on the held connection. False when a stop came while it ran: the table
  // is then not reported, since its rows may have been cut short.
  bool RunJob(CTable* table, CDatabase* db) {
    const std::string name = table->m_strName.str();
    {
      std::lock_guard<std::mutex> guard(lock);
      sink.AppendStatus("Exporting table : " + name);
      Log("Exporting " + name);
    }
    table->m_nRowsExported = 0;
    table->m_nDeletedRecovered = table->m_nDeletedCopies = 0;
    try {
      engine.GenerateTableQueries(table, db);
    } catch (const std::exception& e) {
      // The engine logs each failed statement and goes on; anything that still escapes ends
      // this table only. What was sent stays sent, and is reported below.
      Log("Exporting " + name + " ended early: " + e.what(), true);
    } catch (...) {
      Log("Exporting " + name + " ended early", true);
    }
    if (StopRequested()) return false;

    std::lock_guard<std::mutex> guard(lock);
    const int count = table->m_nRowsExported;
    sink.AddObjectRow(name, std::to_string(count), false);
    sink.AppendReport(engine.m_bRecoverDeleted && engine.m_bExportRows
                          ? ExportReportLine(name, count, table->m_nDeletedRecovered, table->m_nDeletedCopies)
                          : ExportReportLine(name, count));
    table->m_nRowsExported = 0;
    reported.push_back({table, count});
    ++tablesDone;
    char counter[48];
    std::snprintf(counter, sizeof counter, "(%d / %d)", tablesDone, tableCount);
    sink.SetCounterText(counter);
    sink.SetDialogPercent(tablesDone * 30 / tableCount);
    if (StopRequested()) return false;
    sink.SetMainPercent(30);
    percent = 30;
    return true;
  }

  void Thread() {
    WaitForEvent(jobAvailable);
    for (;;) {
      CTable* table = nullptr;
      CDatabase* held = nullptr;
      {
        std::lock_guard<std::mutex> guard(lock);
        // Every thread has a connection of its own, so one is always free when a job is;
        // should that ever not hold, the thread leaves rather than share a connection.
        if (!StopRequested() && !queue.empty() && !freeConnections.empty()) {
          table = queue.front();
          queue.pop_front();
          held = freeConnections.front();
          freeConnections.pop_front();
        }
      }
      if (!table) return Leave(nullptr);
      if (!RunJob(table, held)) return Leave(held);
      std::lock_guard<std::mutex> guard(lock);
      ++jobsCompleted;
      freeConnections.push_back(held);
    }
  }
};

// Opens the pool's connections side by side, so an unreachable server costs one login
// time-out and not one per connection. Failures are logged with the driver's reason.
std::vector<std::unique_ptr<CDatabase>> OpenConnections(int count, const ConnectionFactory& factory) {
  const size_t n = count > 0 ? size_t(count) : 0;
  std::vector<std::unique_ptr<CDatabase>> opened(n);
  std::vector<std::string> errors(n);
  auto open = [&](int i) {
    try {
      opened[size_t(i)] = factory(&errors[size_t(i)]);
      if (opened[size_t(i)] && !opened[size_t(i)]->IsOpen()) opened[size_t(i)].reset();
    } catch (const std::exception& e) {
      errors[size_t(i)] = e.what();
    } catch (...) {
      errors[size_t(i)] = "unknown failure";
    }
  };
  std::vector<std::thread> openers;
  for (int i = 1; i < count; ++i) {
    try {
      openers.emplace_back(open, i);
    } catch (const std::system_error&) {
      open(i);  // no thread to spare: open it here
    }
  }
  open(0);
  for (std::thread& t : openers) t.join();

  std::vector<std::unique_ptr<CDatabase>> usable;
  for (int i = 0; i < count; ++i) {
    if (opened[size_t(i)]) {
      usable.push_back(std::move(opened[size_t(i)]));
    } else {
      Log("Pooled connection " + std::to_string(i + 1) + " of " + std::to_string(count) +
              " could not be opened: " + (errors[size_t(i)].empty() ? "no reason given" : errors[size_t(i)]),
          true);
    }
  }
  return usable;
}

}  // namespace

PoolOutcome ExportPool::Run(CSQLServer& engine, const std::vector<CTable*>& tables, int threadSize,
                            IExportSink& sink, const ConnectionFactory& factory) {
  PoolOutcome outcome;
  const int total = int(tables.size());
  if (total == 0) {
    outcome.percent = 30;
    return outcome;
  }
  const int size = PoolSize(threadSize, total);
  Log("Export pool: " + std::to_string(size) + " connections for " + std::to_string(total) +
      " tables (Thread_Size " + std::to_string(threadSize) + ")");

  std::vector<std::unique_ptr<CDatabase>> owned = OpenConnections(size, factory);
  if (owned.empty()) {
    Log(kNoConnectionMessage, true);
    sink.ShowMessage(kNoConnectionMessage);
    engine.m_pStatus->m_bStopRecords = 1;
    outcome.noConnection = true;
    outcome.stopped = true;
    return outcome;
  }
  if (int(owned.size()) < size) {
    Log("Export pool: going on with the " + std::to_string(owned.size()) + " connections that opened");
  }

  Pool pool(engine, sink, total);
  for (auto& db : owned) pool.connections.push_back(db.get());
  pool.freeConnections.assign(pool.connections.begin(), pool.connections.end());
  pool.queue.assign(tables.begin(), tables.end());
  SetEvent(pool.jobAvailable);

  // Every thread counts itself in before any starts, so none can find itself the last one
  // while others are still to come.
  pool.activeThreads = int(owned.size());
  std::vector<std::thread> threads;
  int notStarted = 0;
  for (size_t i = 0; i < owned.size(); ++i) {
    try {
      threads.emplace_back([&pool] { pool.Thread(); });
    } catch (const std::system_error&) {
      ++notStarted;
    }
  }
  if (notStarted > 0) {
    Log("Export pool: " + std::to_string(notStarted) + " pool threads could not be started", true);
    bool none;
    {
      std::lock_guard<std::mutex> guard(pool.lock);
      pool.activeThreads -= notStarted;
      none = pool.activeThreads == 0;
      if (none) pool.activeThreads = 1;
    }
    // Not one thread to spare: the worker runs the jobs itself rather than drop the tables.
    if (none) pool.Thread();
  }

  WaitForEvent(pool.wakeMainThread);
  for (std::thread& t : threads) t.join();
  ResetEvent(pool.jobAvailable);
  ResetEvent(pool.wakeMainThread);

  std::lock_guard<std::mutex> guard(pool.lock);
  outcome.percent = pool.percent;
  outcome.tablesReported = pool.tablesDone;
  outcome.reported = std::move(pool.reported);
  outcome.connections = int(owned.size());
  outcome.stopped = pool.StopRequested();
  return outcome;
}

}  // namespace uicore
