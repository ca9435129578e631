// The program's connection pool: five threads, each with its own connection, export five
// different tables of one engine at once, while the user previews a sixth. Each table must
// reach its server exactly as it does when it is exported alone, and the preview must show
// what it shows alone; the thread-sanitizer build runs this test for races.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/fakedatabase.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"

namespace {

using testsupport::FakeDatabase;
using Statements = std::vector<std::string>;

// Schema and rows of one table on its own connection, as a pool thread's job runs it.
Statements ExportOn(CSQLServer2008& engine, CTable* table, FakeDatabase& db) {
  engine.GenerateTableQueries(table, &db);
  return db.Statements();
}

// Every preview window of a table, each started on the engine directly as a preview thread
// starts it, whatever the export mode says.
std::vector<std::string> WalkAllWindows(CSQLServer2008& engine, CTable* table) {
  CEngineStatus* status = engine.m_pStatus;
  std::vector<std::string> rows;
  engine.m_bPaging = 0;
  engine.m_stkWindowStarts.clear();
  for (int window = 0; window < 10000; ++window) {
    status->m_pPreviewTable = table;
    engine.StartRecoverTableRecordThread();
    if (!status->m_bRecordThreadDone.WaitFor(1, std::chrono::seconds(60))) break;
    size_t before = rows.size();
    {
      std::lock_guard<std::mutex> lock(status->m_csPreviewRows);
      for (const CString& row : status->m_vecPreviewRows) rows.push_back(row.str());
      status->m_vecPreviewRows.clear();
    }
    if (engine.m_bLastWindow || rows.size() == before) break;
    engine.m_bPaging = 1;
    engine.m_bPageForward = 1;
  }
  return rows;
}

TEST(ExportPool, FiveTablesAtOnceReachTheServerAsEachDoesAlone) {
  REQUIRE_FIXTURE(path, "bak2008_northwind_thuyluv.bak");
  testsupport::ModuleFolderScope module;
  CSQLServer2008 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  // Large values (image, ntext), identity, many pages and plain rows.
  const char* names[] = {"Employees", "Categories", "Order Details", "Orders", "Customers"};
  std::vector<CTable*> tables;
  for (const char* name : names) {
    tables.push_back(testsupport::FindTable(engine, name));
    ASSERT_NE(tables.back(), nullptr) << name;
  }
  CTable* previewed = testsupport::FindTable(engine, "Products");
  ASSERT_NE(previewed, nullptr);
  const std::vector<std::string> previewAlone = testsupport::AllRows(engine, previewed);
  ASSERT_FALSE(previewAlone.empty());
  engine.m_bExportToServer = 1;
  engine.m_bExportRows = 1;

  std::map<std::string, Statements> alone;
  std::map<std::string, int> aloneRows;
  for (CTable* table : tables) {
    FakeDatabase db;
    alone[table->m_strName.str()] = ExportOn(engine, table, db);
    aloneRows[table->m_strName.str()] = table->m_nRowsExported;
    ASSERT_GT(table->m_nRowsExported, 0) << table->m_strName.str();
  }

  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::vector<std::unique_ptr<FakeDatabase>> connections;
    for (size_t i = 0; i < tables.size(); ++i) connections.push_back(std::make_unique<FakeDatabase>());
    std::vector<Statements> together(tables.size());
    std::atomic<int> ready{0};
    std::vector<std::thread> pool;
    for (size_t i = 0; i < tables.size(); ++i) {
      pool.emplace_back([&, i] {
        ++ready;
        while (ready.load() < int(tables.size())) std::this_thread::yield();
        together[i] = ExportOn(engine, tables[i], *connections[i]);
      });
    }
    // Preview walks beside the export walks. The program starts none while it exports; the
    // engine must keep them apart all the same.
    while (ready.load() < int(tables.size())) std::this_thread::yield();
    const std::vector<std::string> previewBeside = WalkAllWindows(engine, previewed);
    for (std::thread& t : pool) t.join();
    EXPECT_EQ(previewBeside, previewAlone);
    for (size_t i = 0; i < tables.size(); ++i) {
      const std::string name = tables[i]->m_strName.str();
      EXPECT_EQ(together[i], alone[name]) << name;
      EXPECT_EQ(tables[i]->m_nRowsExported, aloneRows[name]) << name;
    }
  }
}

}  // namespace

namespace {

// Notes the preview's done flag each time a statement reaches the server.
class FlagWatchingDatabase : public FakeDatabase {
 public:
  explicit FlagWatchingDatabase(const CEngineStatus* status) : m_status(status) {}
  void ExecuteSQL(const char* sql) override {
    seen.push_back(m_status->m_bRecordThreadDone.load());
    FakeDatabase::ExecuteSQL(sql);
  }
  std::vector<BYTE> seen;

 private:
  const CEngineStatus* m_status;
};

std::vector<std::string> TakeRows(CEngineStatus* status) {
  std::lock_guard<std::mutex> lock(status->m_csPreviewRows);
  std::vector<std::string> rows;
  for (const CString& row : status->m_vecPreviewRows) rows.push_back(row.str());
  status->m_vecPreviewRows.clear();
  return rows;
}

}  // namespace

// The done flag tells the program's preview thread that a window's rows are ready. A pool
// thread's export must neither take it back from a window that is ready nor raise it for a
// window that is still on its way.
TEST(ExportPool, AnExportLeavesThePreviewsDoneFlagAlone) {
  REQUIRE_FIXTURE(path, "bak2008_northwind_thuyluv.bak");
  testsupport::ModuleFolderScope module;
  CSQLServer2008 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  CTable* previewed = testsupport::FindTable(engine, "Products");
  CTable* exported = testsupport::FindTable(engine, "Shippers");
  ASSERT_TRUE(previewed && exported);
  testsupport::Preview preview(engine);
  const std::vector<std::string> window = preview.Select(previewed).rows;
  ASSERT_FALSE(window.empty());
  CEngineStatus* status = engine.m_pStatus;
  engine.m_bExportToServer = 1;
  engine.m_bExportRows = 1;

  // A window that is ready and not yet taken: it stays ready while a table is exported.
  status->m_bRecordThreadDone = 0;
  status->m_pPreviewTable = previewed;
  engine.m_bPaging = 0;
  engine.m_stkWindowStarts.clear();
  engine.StartRecoverTableRecordThread();
  while (!status->m_bRecordThreadDone) std::this_thread::yield();
  FlagWatchingDatabase db(status);
  std::thread pool([&] { engine.GenerateTableQueries(exported, &db); });
  pool.join();
  ASSERT_FALSE(db.seen.empty());
  for (BYTE flag : db.seen) EXPECT_EQ(int(flag), 1);
  EXPECT_EQ(int(status->m_bRecordThreadDone), 1);
  EXPECT_EQ(TakeRows(status), window);

  // A window asked for and not yet walked: an export that ends meanwhile does not say it is ready.
  status->m_bRecordThreadDone = 0;
  const UINT64 ticket = engine.TakePreviewTicket();
  FakeDatabase other;
  std::thread again([&] { engine.GenerateTableQueries(exported, &other); });
  again.join();
  EXPECT_EQ(int(status->m_bRecordThreadDone), 0);
  CSQLServer2008::RunPreviewWalk(&engine, engine.m_pPreviewWalks, ticket);
  EXPECT_EQ(int(status->m_bRecordThreadDone), 1);
  EXPECT_EQ(TakeRows(status), window);
}
