// The connection pool of a server export against an engine that only records who exports
// which table on which connection: pool sizes, exclusive connections, every job once, a stop
// in the middle, connections that do not open, and a second export after the first. The
// thread-sanitizer build runs these for races.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/catalogengine.h"
#include "support/fakedatabase.h"
#include "support/fixtures.h"
#include "support/recordingexportsink.h"
#include "ui/core/exportnames.h"
#include "ui/core/exportpool.h"
#include "ui/core/exportworker.h"

namespace {

using testsupport::FakeDatabase;
using testsupport::RecordingExportSink;
using uicore::ExportPool;
using uicore::PoolOutcome;
using namespace std::chrono_literals;

// Records every engine call of the pool; a table can be held at the start of its export
// until the test lets it go.
class PoolEngine : public testsupport::CatalogEngine {
 public:
  struct Call {
    std::string table;
    CDatabase* db;
    std::thread::id thread;
  };

  void GenerateTableQueries(CTable* table, CDatabase* db) override {
    const std::string name = table->m_strName.str();
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_calls.push_back({name, db, std::this_thread::get_id()});
      if (!db || !db->IsOpen()) m_closedUse = true;
      if (++m_inUse[db] > 1) m_sharedUse = true;
      ++m_running;
      m_maxRunning = std::max(m_maxRunning, m_running);
      m_changed.notify_all();
      if (m_held.count(name)) {
        m_reached.insert(name);
        m_changed.notify_all();
        m_changed.wait_for(lock, 20s, [&] { return m_released; });
      }
      // Hold every job until `together` of them run at once, or a while has passed.
      m_changed.wait_for(lock, 2s, [&] { return m_running >= together; });
    }
    db->ExecuteSQL(("CREATE TABLE [" + name + "]").c_str());
    table->m_nRowsExported = int(name.size());
    std::this_thread::sleep_for(1ms);  // long enough for other threads to look for work
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_inUse[db];
    --m_running;
    if (name == throwing) throw std::runtime_error("not a database error");
  }

  void Hold(std::set<std::string> names) { m_held = std::move(names); }
  bool WaitReached(size_t count) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, 20s, [&] { return m_reached.size() >= count; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_released = true;
    m_changed.notify_all();
  }

  std::vector<Call> Calls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
  }
  bool SharedUse() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sharedUse;
  }
  bool ClosedUse() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closedUse;
  }
  int MaxRunning() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_maxRunning;
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
    m_inUse.clear();
    m_maxRunning = 0;
  }

  int together = 1;      // jobs that must run at once before any goes on
  std::string throwing;  // a table whose export throws after its statement

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<Call> m_calls;
  std::map<CDatabase*, int> m_inUse;
  int m_running = 0;
  int m_maxRunning = 0;
  bool m_sharedUse = false;
  bool m_closedUse = false;
  std::set<std::string> m_held, m_reached;
  bool m_released = false;
};

// Hands out fake connections and keeps them, so a test can look at them after the pool has
// gone; the openings listed in `failing` (counted from 0) fail.
class Connections {
 public:
  explicit Connections(std::set<int> failing = {}) : m_failing(std::move(failing)) {}

  uicore::ConnectionFactory Factory() {
    return [this](std::string* error) -> std::unique_ptr<CDatabase> {
      std::lock_guard<std::mutex> lock(m_mutex);
      const int n = m_opened++;
      if (m_failing.count(n)) {
        *error = "State:28000,Native:18456,Message:Login failed for user 'sa'.";
        return nullptr;
      }
      // The pool owns and frees the connection; the fake's statements are copied out when
      // it closes, below, so nothing here points at it afterwards.
      auto db = std::make_unique<Recorded>(this);
      m_live.insert(db.get());
      return db;
    };
  }
  int Opened() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_opened;
  }
  // Statements of each connection that closed, in closing order.
  std::vector<std::vector<std::string>> Closed() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
  }
  std::set<CDatabase*> Live() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_live;
  }
  // Connections freed while still open.
  int FreedOpen() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_freedOpen;
  }

 private:
  class Recorded : public FakeDatabase {
   public:
    explicit Recorded(Connections* owner) : m_owner(owner) {}
    ~Recorded() override {
      std::lock_guard<std::mutex> lock(m_owner->m_mutex);
      if (FakeDatabase::IsOpen()) ++m_owner->m_freedOpen;
      m_owner->m_live.erase(this);
    }
    void Close() override {
      if (!FakeDatabase::IsOpen()) return;
      FakeDatabase::Close();
      std::lock_guard<std::mutex> lock(m_owner->m_mutex);
      m_owner->m_closed.push_back(Statements());
    }

   private:
    Connections* m_owner;
  };

  std::mutex m_mutex;
  std::set<int> m_failing;
  int m_opened = 0;
  int m_freedOpen = 0;
  std::set<CDatabase*> m_live;
  std::vector<std::vector<std::string>> m_closed;
};

// Ids from `firstId` on: the engine's map owns its tables, and a second table under one id
// would replace the first.
std::vector<CTable*> AddTables(PoolEngine& engine, int count, const std::string& prefix = "T", unsigned firstId = 1) {
  std::vector<CTable*> tables;
  for (int i = 1; i <= count; ++i)
    tables.push_back(engine.AddTable(firstId + unsigned(i - 1), "dbo", prefix + std::to_string(i)));
  return tables;
}

std::multiset<std::string> TablesCalled(PoolEngine& engine) {
  std::multiset<std::string> names;
  for (const PoolEngine::Call& c : engine.Calls()) names.insert(c.table);
  return names;
}

std::multiset<std::string> Names(const std::vector<CTable*>& tables) {
  std::multiset<std::string> names;
  for (CTable* t : tables) names.insert(t->m_strName.str());
  return names;
}

TEST(ExportPool, SizeIsTheSettingClampedAndNoMoreThanTheTables) {
  struct Case {
    int threadSize, tables, size;
  } cases[] = {{4, 2, 2}, {3, 3, 3}, {0, 3, 1}, {-2, 3, 1}, {7, 10, 5}, {7, 3, 3}, {5, 5, 5}, {1, 0, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(uicore::PoolSize(c.threadSize, c.tables), c.size) << c.threadSize << " " << c.tables;
}

// The pool opens as many connections as it needs, runs them side by side, hands each to one
// thread at a time, runs every job once and reports each table once; then it closes and frees
// every connection.
TEST(ExportPool, EveryTableExportedOnceOnConnectionsNeverShared) {
  struct Case {
    int threadSize, tables, connections;
  } cases[] = {{4, 2, 2}, {3, 3, 3}, {7, 40, 5}, {0, 12, 1}, {-1, 4, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.threadSize) + " / " + std::to_string(c.tables));
    testsupport::ModuleFolderScope module;
    PoolEngine engine;
    engine.together = c.connections;  // a pool of N must really run N jobs at once
    const std::vector<CTable*> tables = AddTables(engine, c.tables);
    Connections connections;
    RecordingExportSink sink;
    const PoolOutcome outcome = ExportPool::Run(engine, tables, c.threadSize, sink, connections.Factory());

    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(outcome.connections, c.connections);
    EXPECT_EQ(connections.Opened(), c.connections);
    EXPECT_EQ(engine.MaxRunning(), c.connections);
    EXPECT_EQ(TablesCalled(engine), Names(tables));
    EXPECT_FALSE(engine.SharedUse());
    EXPECT_FALSE(engine.ClosedUse());
    std::set<std::thread::id> threads;
    for (const PoolEngine::Call& call : engine.Calls()) threads.insert(call.thread);
    EXPECT_EQ(int(threads.size()), c.connections);
    EXPECT_FALSE(threads.count(std::this_thread::get_id()));

    // Every statement went through a pooled connection, each table's once.
    std::multiset<std::string> sent;
    for (const auto& statements : connections.Closed()) sent.insert(statements.begin(), statements.end());
    std::multiset<std::string> expected;
    for (CTable* t : tables) expected.insert("CREATE TABLE [" + t->m_strName.str() + "]");
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(int(connections.Closed().size()), c.connections);
    EXPECT_TRUE(connections.Live().empty());
    EXPECT_EQ(connections.FreedOpen(), 0);

    // One row and one report line per table, with its count; the counter and the bar count up.
    EXPECT_EQ(outcome.tablesReported, c.tables);
    EXPECT_EQ(outcome.percent, 30);
    std::multiset<std::string> rows;
    std::string report;
    for (const auto& row : sink.Rows()) {
      rows.insert(row.name);
      EXPECT_EQ(row.count, std::to_string(row.name.size()));
      EXPECT_FALSE(row.first);
      report += uicore::ExportReportLine(row.name, long(row.name.size()));
    }
    EXPECT_EQ(rows, Names(tables));
    EXPECT_EQ(sink.Report(), report);  // in the order the rows were added
    ASSERT_EQ(outcome.reported.size(), sink.Rows().size());
    for (size_t i = 0; i < outcome.reported.size(); ++i) {
      EXPECT_EQ(outcome.reported[i].table->m_strName.str(), sink.Rows()[i].name);
      EXPECT_EQ(std::to_string(outcome.reported[i].rows), sink.Rows()[i].count);
    }
    std::vector<std::string> counters, expectedCounters;
    std::vector<int> percents;
    for (int done = 1; done <= c.tables; ++done) {
      expectedCounters.push_back("(" + std::to_string(done) + " / " + std::to_string(c.tables) + ")");
      percents.push_back(done * 30 / c.tables);
    }
    EXPECT_EQ(sink.Counters(), expectedCounters);
    EXPECT_EQ(sink.DialogPercents(), percents);
    EXPECT_EQ(sink.Status().size(), size_t(c.tables));
    EXPECT_TRUE(sink.Messages().empty());
    for (CTable* t : tables) EXPECT_EQ(t->m_nRowsExported, 0);  // reported, then cleared
    EXPECT_NE(module.ReadExecLog().find("Export pool: " + std::to_string(c.connections) + " connections for " +
                                        std::to_string(c.tables) + " tables (Thread_Size " +
                                        std::to_string(c.threadSize) + ")"),
              std::string::npos);
  }
}

TEST(ExportPool, OnlyConnectionsThatOpenedAreUsed) {
  testsupport::ModuleFolderScope module;
  PoolEngine engine;
  const std::vector<CTable*> tables = AddTables(engine, 9);
  Connections connections({0, 2});  // two of four fail
  RecordingExportSink sink;
  const PoolOutcome outcome = ExportPool::Run(engine, tables, 4, sink, connections.Factory());
  EXPECT_EQ(connections.Opened(), 4);
  EXPECT_EQ(outcome.connections, 2);
  EXPECT_FALSE(outcome.noConnection);
  EXPECT_EQ(TablesCalled(engine), Names(tables));
  EXPECT_FALSE(engine.ClosedUse());
  EXPECT_EQ(outcome.tablesReported, 9);
  EXPECT_TRUE(sink.Messages().empty());
  const std::string errors = module.ReadErrorLog();
  // The four open side by side, so which two failed is the factory's order, not the pool's.
  int failures = 0;
  for (size_t at = 0; (at = errors.find(" of 4 could not be opened: State:28000", at)) != std::string::npos; ++at)
    ++failures;
  EXPECT_EQ(failures, 2) << errors;
}

// The connections open side by side: an unreachable server costs one login time-out, not one
// per connection. Each open here waits until all five are under way (or gives up after a while).
TEST(ExportPool, ConnectionsOpenSideBySide) {
  testsupport::ModuleFolderScope module;
  PoolEngine engine;
  const std::vector<CTable*> tables = AddTables(engine, 5);
  std::mutex mutex;
  std::condition_variable changed;
  int opening = 0, mostAtOnce = 0;
  uicore::ConnectionFactory factory = [&](std::string*) -> std::unique_ptr<CDatabase> {
    std::unique_lock<std::mutex> lock(mutex);
    mostAtOnce = std::max(mostAtOnce, ++opening);
    changed.notify_all();
    changed.wait_for(lock, 5s, [&] { return mostAtOnce >= 5; });
    --opening;
    return std::make_unique<FakeDatabase>();
  };
  RecordingExportSink sink;
  const PoolOutcome outcome = ExportPool::Run(engine, tables, 5, sink, factory);
  EXPECT_EQ(outcome.connections, 5);
  EXPECT_EQ(mostAtOnce, 5);
  EXPECT_EQ(outcome.tablesReported, 5);
}

// Not one connection: the message, and the export ends as a stop ends it, with no job run and
// nothing waiting for good.
TEST(ExportPool, NoConnectionEndsTheExportWithAMessage) {
  testsupport::ModuleFolderScope module;
  PoolEngine engine;
  const std::vector<CTable*> tables = AddTables(engine, 3);
  Connections connections({0, 1, 2});
  RecordingExportSink sink;
  const PoolOutcome outcome = ExportPool::Run(engine, tables, 5, sink, connections.Factory());
  EXPECT_TRUE(outcome.noConnection);
  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(connections.Opened(), 3);
  EXPECT_TRUE(engine.Calls().empty());
  EXPECT_EQ(sink.Messages(), std::vector<std::string>{"Could not connect to the server"});
  EXPECT_EQ(int(engine.m_pStatus->m_bStopRecords), 1);
  EXPECT_TRUE(sink.Rows().empty());
  EXPECT_EQ(sink.Report(), "");
}

TEST(ExportPool, NoTablesOpensNothing) {
  PoolEngine engine;
  Connections connections;
  RecordingExportSink sink;
  const PoolOutcome outcome = ExportPool::Run(engine, {}, 5, sink, connections.Factory());
  EXPECT_EQ(connections.Opened(), 0);
  EXPECT_EQ(outcome.percent, 30);
  EXPECT_FALSE(outcome.stopped);
}

// A table whose export throws still counts what it sent, and the others go on.
TEST(ExportPool, AnEngineFailureEndsOnlyItsTable) {
  testsupport::ModuleFolderScope module;
  PoolEngine engine;
  engine.throwing = "T2";
  const std::vector<CTable*> tables = AddTables(engine, 4);
  Connections connections;
  RecordingExportSink sink;
  const PoolOutcome outcome = ExportPool::Run(engine, tables, 2, sink, connections.Factory());
  EXPECT_EQ(outcome.tablesReported, 4);
  EXPECT_EQ(TablesCalled(engine), Names(tables));
  EXPECT_NE(module.ReadErrorLog().find("Exporting T2 ended early: not a database error"), std::string::npos);
}

// Stop while two tables are being exported: the tables reported before stay, the two under
// way leave no row, no further job starts, every connection is closed, and the next export
// of the same engine starts from an idle pool.
TEST(ExportPool, StopMidStageKeepsTheReportedTablesAndTheNextExportStartsAfresh) {
  testsupport::ModuleFolderScope module;
  PoolEngine engine;
  engine.together = 2;
  const std::vector<CTable*> tables = AddTables(engine, 8);
  engine.Hold({"T3", "T4"});
  Connections connections;
  RecordingExportSink sink;
  PoolOutcome outcome;
  std::thread worker([&] { outcome = ExportPool::Run(engine, tables, 2, sink, connections.Factory()); });
  ASSERT_TRUE(engine.WaitReached(2));
  engine.m_pStatus->m_bStopRecords = 1;
  engine.Release();
  worker.join();

  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(TablesCalled(engine), (std::multiset<std::string>{"T1", "T2", "T3", "T4"}));
  std::multiset<std::string> rows;
  for (const auto& row : sink.Rows()) rows.insert(row.name);
  EXPECT_EQ(rows, (std::multiset<std::string>{"T1", "T2"}));
  EXPECT_EQ(outcome.tablesReported, 2);
  EXPECT_EQ(sink.Report().find("T3"), std::string::npos);
  EXPECT_EQ(sink.Report().find("T4"), std::string::npos);
  EXPECT_EQ(int(connections.Closed().size()), 2);
  EXPECT_TRUE(connections.Live().empty());
  EXPECT_EQ(connections.FreedOpen(), 0);

  // The next export: the program clears the flag before it starts.
  engine.m_pStatus->m_bStopRecords = 0;
  engine.Reset();
  engine.together = 1;
  const std::vector<CTable*> again = AddTables(engine, 3, "U", 100);
  Connections second;
  RecordingExportSink secondSink;
  const PoolOutcome next = ExportPool::Run(engine, again, 2, secondSink, second.Factory());
  EXPECT_FALSE(next.stopped);
  EXPECT_EQ(TablesCalled(engine), Names(again));
  EXPECT_EQ(next.tablesReported, 3);
  EXPECT_EQ(secondSink.Counters().front(), "(1 / 3)");
  EXPECT_EQ(secondSink.Counters().back(), "(3 / 3)");
  EXPECT_EQ(second.Opened(), 2);
}

}  // namespace

namespace {

using uicore::ExportRequest;
using uicore::ExportResult;
using uicore::ExportWorker;

// A server export through the worker: the settings' Thread_Size and the request's tables.
struct WorkerRun {
  explicit WorkerRun(const std::string& settings) {
    testsupport::WriteFile(dir.path() + "/sql.settings", settings);
  }
  ExportRequest Request(Connections& connections, const std::vector<CTable*>& tables) {
    ExportRequest r;
    r.toServer = true;
    r.tables = tables;
    r.connections = connections.Factory();
    return r;
  }
  testsupport::ModuleFolderScope module;
  testsupport::TempDir dir;
  ExportWorker worker{dir.path(), [] { return std::string("_1_2_2010_3_4_5"); }, dir.path()};
};

// The worker's table stage of a server export is the pool's: the setting's pool size, every
// table on a pooled connection (never the main one, which the other stages keep), one row
// and one report line per table, and the export finishes.
TEST(ExportPoolInTheWorker, ServerTablesGoThroughThePool) {
  WorkerRun run("Thread_Size=4\r\n");
  PoolEngine engine;
  const std::vector<CTable*> tables = AddTables(engine, 7);
  Connections connections;
  FakeDatabase main;
  RecordingExportSink sink;
  ASSERT_TRUE(run.worker.Start(engine, run.Request(connections, tables), sink, &main));
  run.worker.Join();
  const ExportResult result = run.worker.Result();
  EXPECT_EQ(result.end, ExportResult::End::kFinished);
  EXPECT_EQ(result.poolConnections, 4);
  EXPECT_EQ(connections.Opened(), 4);
  EXPECT_EQ(TablesCalled(engine), Names(tables));
  for (const PoolEngine::Call& c : engine.Calls()) EXPECT_NE(c.db, &main);
  EXPECT_TRUE(main.Statements().empty());
  EXPECT_EQ(result.tables.size(), tables.size());
  EXPECT_EQ(sink.Rows().size(), tables.size());
  const std::string report = sink.Report();
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 7);
  EXPECT_EQ(sink.FinishedCount(), 1);
  EXPECT_TRUE(connections.Live().empty());
}

// A stop while the pool works, and a server that takes no connection: the export ends early
// with "Export terminated", keeping the tables already reported.
TEST(ExportPoolInTheWorker, StopAndNoConnectionEndTheExportEarly) {
  {
    WorkerRun run("Thread_Size=1\r\n");
    PoolEngine engine;
    const std::vector<CTable*> tables = AddTables(engine, 4);
    engine.Hold({"T3"});
    Connections connections;
    FakeDatabase main;
    RecordingExportSink sink;
    ASSERT_TRUE(run.worker.Start(engine, run.Request(connections, tables), sink, &main));
    ASSERT_TRUE(engine.WaitReached(1));
    run.worker.Stop();
    engine.Release();
    run.worker.Join();
    const ExportResult result = run.worker.Result();
    EXPECT_EQ(result.end, ExportResult::End::kEndedEarly);
    ASSERT_EQ(result.tables.size(), 2u);
    EXPECT_EQ(result.tables[0].table, tables[0]);
    EXPECT_EQ(result.tables[1].table, tables[1]);
    EXPECT_EQ(sink.Rows().size(), 2u);
    EXPECT_EQ(sink.Status().back(), "Export terminated");
    EXPECT_EQ(sink.EndedEarlyCount(), 1);
    EXPECT_EQ(TablesCalled(engine), (std::multiset<std::string>{"T1", "T2", "T3"}));
  }
  {
    WorkerRun run("Thread_Size=2\r\n");
    PoolEngine engine;
    Connections connections({0, 1});
    FakeDatabase main;
    RecordingExportSink sink;
    ASSERT_TRUE(run.worker.Start(engine, run.Request(connections, AddTables(engine, 3)), sink, &main));
    run.worker.Join();
    EXPECT_EQ(run.worker.Result().end, ExportResult::End::kEndedEarly);
    EXPECT_EQ(sink.Messages(), std::vector<std::string>{"Could not connect to the server"});
    EXPECT_EQ(sink.Status().back(), "Export terminated");
    EXPECT_TRUE(engine.Calls().empty());
    EXPECT_FALSE(main.IsOpen());  // the early end closes the main connection too
  }
}

}  // namespace
