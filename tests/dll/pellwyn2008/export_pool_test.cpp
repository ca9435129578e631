// The program's connection pool: five threads, each with its own connection, export five
// different tables of one engine at once. Each table must reach its server exactly as it does
// when it is exported alone; the thread-sanitizer build runs this test for races.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
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
    // The program's tree selection clears the shared mode while the pool works.
    while (ready.load() < int(tables.size())) std::this_thread::yield();
    engine.m_bExportMode = 0;
    for (std::thread& t : pool) t.join();
    for (size_t i = 0; i < tables.size(); ++i) {
      const std::string name = tables[i]->m_strName.str();
      EXPECT_EQ(together[i], alone[name]) << name;
      EXPECT_EQ(tables[i]->m_nRowsExported, aloneRows[name]) << name;
    }
  }
}

}  // namespace
