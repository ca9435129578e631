// The 2000 engine's record walks on the real sample databases: the catalog the engine's own
// scan recovered, the rows its export walk writes to a script or sends to a connection, and
// the preview's pages, against the public install scripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dll/pellwyn2000/pellwyn2000.h"
#include "platform/files.h"
#include "rows2000_oracle.h"
#include "support/backupwrap.h"
#include "support/fakedatabase.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"

using namespace rowsoracle;
using testsupport::ModuleFolderScope;

namespace {

struct Source {
  const char* file;
  const oracle2000::Script& (*script)();
  int rows;
};
const Source kSources[] = {{"sample2000_NORTHWND.MDF", NorthwindScript, 3308},
                           {"sample2000_PUBS.MDF", PubsScript, 255}};

std::unique_ptr<CSQLServer2000> Scanned(const std::string& path, int set = 1) {
  auto engine = std::make_unique<CSQLServer2000>();
  testsupport::RecoveryOptions options;
  options.selectedSet = set;
  EXPECT_TRUE(testsupport::RunRecovery(*engine, path, options).finished);
  return engine;
}

// The script text one table's export walk writes.
std::string ExportToScript(CSQLServer2000& engine, CTable* table, const std::string& file) {
  engine.m_hTableSqlFile = CreateFileForWrite(file.c_str());
  EXPECT_NE(engine.m_hTableSqlFile, kInvalidFile);
  engine.ExportTableRows(table, nullptr);
  CloseFileHandle(engine.m_hTableSqlFile);
  engine.m_hTableSqlFile = kInvalidFile;
  return testsupport::ReadFile(file);
}

void AddRows(DecodedTable& t, const CTable& table, const std::string& text) {
  for (const std::string& batch : testsupport::SplitSqlBatches(text))
    for (auto& row : RowsFromBatch(table, batch)) t.exported.push_back(std::move(row));
}

// Every table the script fills, exported by the engine's walk (`send` writes or executes it),
// read back and compared with the script by primary key.
template <class Send>
void ExportAndCompare(CSQLServer2000& engine, const Source& source, const std::string& path, Send&& send) {
  const oracle2000::Script& script = source.script();
  Database db(path);
  int exported = 0;
  for (const auto& [name, rows] : script.rows) {
    CTable* table = testsupport::FindTable(engine, name);
    ASSERT_NE(table, nullptr) << name;
    const std::string text = send(table);
    ExpectAscii(text);
    EXPECT_EQ(table->m_nRowsExported, int(rows.size())) << name;
    exported += table->m_nRowsExported;
    AddRows(db.tables[name], *table, text);
  }
  EXPECT_EQ(exported, source.rows);
  int compared = 0;
  CompareWithScript(db, script, compared);
  EXPECT_EQ(compared, source.rows);
}

}  // namespace

namespace {

// Whether a table script's rows can land in the table it creates: rows under IDENTITY_INSERT
// need an identity column, rows that name the temporary column need it added before them and
// dropped after them. Empty when they can; else what is missing.
std::string WhatTheRowsLack(const std::string& script) {
  const std::string temp = "[_TARNWELL_TEMPCOL]";
  const size_t create = script.find("CREATE TABLE ");
  if (create == std::string::npos) return "no CREATE TABLE";
  const std::string table = script.substr(create, script.find("\r\n", create) - create);
  const size_t identityOn = script.find("SET IDENTITY_INSERT ");
  if (identityOn != std::string::npos && table.find(" IDENTITY(") == std::string::npos)
    return "IDENTITY_INSERT on a table without identity";
  const size_t firstUse = script.find("," + temp + ")");
  if (firstUse == std::string::npos) return "";
  const size_t added = script.find("ADD " + temp);
  if (added == std::string::npos || added > firstUse) return "the temporary column is not added before the rows";
  const size_t lastUse = script.rfind("," + temp + ")");
  const size_t dropped = script.rfind("Drop Column " + temp);
  if (dropped == std::string::npos || dropped < lastUse) return "the temporary column is not dropped after the rows";
  return "";
}

}  // namespace

TEST(Walks2000Fixtures, ExportWalkWritesEveryRowToTheTableScripts) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  for (const Source& source : kSources) {
    SCOPED_TRACE(source.file);
    REQUIRE_FIXTURE(path, source.file);
    if (source.script().rows.empty()) GTEST_SKIP() << "install scripts not available";
    auto engine = Scanned(path);
    std::string orders;
    ExportAndCompare(*engine, source, path, [&](CTable* table) {
      const long long pagesBefore = engine->m_pStatus->m_nExportPagesRead;
      const std::string text = ExportToScript(*engine, table, dir.file("table.sql"));
      // Each of the table's pages counts once for the export's progress.
      EXPECT_EQ(engine->m_pStatus->m_nExportPagesRead - pagesBefore, (long long)table->m_vecDataPages.size());
      if (table->m_strName == "Orders") orders = text;
      return text;
    });
    if (std::string(source.file) == "sample2000_NORTHWND.MDF") {
      // An identity table's rows run under one IDENTITY_INSERT, switched off at the end.
      EXPECT_EQ(orders.rfind("SET IDENTITY_INSERT [dbo].[Orders] ON\r\ngo\r\nInsert into [dbo].[Orders] (", 0), 0u);
      const std::string off = "\r\ngo\r\nSET IDENTITY_INSERT [dbo].[Orders] OFF\r\ngo\r\n";
      ASSERT_GT(orders.size(), off.size());
      EXPECT_EQ(orders.substr(orders.size() - off.size()), off);
      EXPECT_EQ(orders.find("IDENTITY_INSERT", 20), orders.size() - off.size() + 10);
    }

    // The library's one-argument table script with rows: every row goes into a table made to
    // take it (Northwind's Categories, Employees and Suppliers use the identity and the
    // temporary column, pubs' pub_info the temporary column), and reads back the same.
    engine->m_bExportRows = 1;
    int withBlocks = 0;
    ExportAndCompare(*engine, source, path, [&](CTable* table) {
      const std::string file = dir.file("plain.sql");
      engine->m_hTableSqlFile = CreateFileForWrite(file.c_str());
      engine->GenerateTableQueries(table);
      CloseFileHandle(engine->m_hTableSqlFile);
      engine->m_hTableSqlFile = kInvalidFile;
      const std::string text = testsupport::ReadFile(file);
      EXPECT_EQ(WhatTheRowsLack(text), "") << table->m_strName.str();
      if (text.find("Declare @ID") != std::string::npos) ++withBlocks;
      return text;
    });
    EXPECT_EQ(withBlocks, source.rows == 3308 ? 3 : 1);
  }
}

TEST(Walks2000Fixtures, ExportWalkSendsEveryRowInBatches) {
  ModuleFolderScope scope;
  testsupport::WriteFile(scope.path() + "/sql.settings", "Exportsize=7\r\n");
  for (const Source& source : kSources) {
    SCOPED_TRACE(source.file);
    REQUIRE_FIXTURE(path, source.file);
    if (source.script().rows.empty()) GTEST_SKIP() << "install scripts not available";
    auto engine = Scanned(path);
    engine->m_bExportToServer = 1;
    size_t largest = 0;
    int blocks = 0;
    ExportAndCompare(*engine, source, path, [&](CTable* table) {
      testsupport::FakeDatabase db;
      engine->ExportTableRows(table, &db);
      std::string all;
      for (const std::string& s : db.Statements()) {
        size_t inserts = 0;
        for (size_t at = 0; (at = s.find("Insert into", at)) != std::string::npos; at += 11) ++inserts;
        // A row with ntext values runs as its own block, never inside a batch.
        if (s.find("Declare @ID") != std::string::npos) {
          EXPECT_EQ(inserts, 1u);
          EXPECT_EQ(s.rfind("SET XACT_ABORT ON \r\nbegin transaction", 0), 0u);
          ++blocks;
        }
        largest = std::max(largest, inserts);
        all += s + "\r\ngo\r\n";
      }
      for (DWORD timeout : db.Timeouts()) EXPECT_EQ(timeout, 1800u);
      return all;
    });
    // Seven slots to a batch (and the end of each page): never more rows than that at once.
    EXPECT_GT(largest, 1u);
    EXPECT_LE(largest, 7u);
    // Every category's Description and employee's Notes, and the five suppliers' HomePage
    // that are not NULL; pubs has no ntext column, but two pr_info texts longer than 8000 bytes.
    EXPECT_EQ(blocks, source.rows == 3308 ? 8 + 9 + 5 : 2);
  }
}

TEST(Walks2000Fixtures, RefusedBatchLosesOnlyTheRefusedRow) {
  REQUIRE_FIXTURE(path, "sample2000_NORTHWND.MDF");
  ModuleFolderScope scope;
  auto engine = Scanned(path);
  CTable* orders = testsupport::FindTable(*engine, "Orders");
  ASSERT_NE(orders, nullptr);
  testsupport::FakeDatabase db;
  db.FailWhenContains("values(10250,");
  engine->ExportTableRows(orders, &db);
  EXPECT_EQ(orders->m_nRowsExported, 829);
  const std::vector<std::string> statements = db.Statements();
  ASSERT_FALSE(statements.empty());
  EXPECT_EQ(statements.front(), "SET IDENTITY_INSERT [dbo].[Orders] ON");
  EXPECT_EQ(statements.back(), "SET IDENTITY_INSERT [dbo].[Orders] OFF");
  // The batch with the refused row, then each of its rows alone: the refused one twice.
  EXPECT_EQ(db.Failed().size(), 2u);
  const std::string errors = scope.ReadErrorLog();
  EXPECT_NE(errors.find("fake failure"), std::string::npos);
  EXPECT_NE(errors.find("values(10250,"), std::string::npos);
  EXPECT_NE(scope.ReadExecLog().find("Exported 829 rows of table [dbo].[Orders], 1 rows refused by the server"),
            std::string::npos);
}

TEST(Walks2000Fixtures, PreviewPagesThroughOrdersAndBack) {
  REQUIRE_FIXTURE(path, "sample2000_NORTHWND.MDF");
  ModuleFolderScope scope;
  auto engine = Scanned(path);
  CTable* orders = testsupport::FindTable(*engine, "Orders");
  ASSERT_NE(orders, nullptr);
  testsupport::Preview preview(*engine);
  const testsupport::PreviewWindow first = preview.Select(orders);
  ASSERT_TRUE(first.finished);
  EXPECT_EQ(first.rows.size(), 500u);
  EXPECT_FALSE(first.lastWindow);
  EXPECT_FALSE(first.previousEnabled);
  EXPECT_TRUE(first.nextEnabled);
  EXPECT_EQ(first.rows.front().substr(0, 18), "10248$#$VINET$#$5$");
  const testsupport::PreviewWindow second = preview.Next();
  EXPECT_EQ(second.rows.size(), 330u);
  EXPECT_TRUE(second.lastWindow);
  EXPECT_TRUE(second.previousEnabled);
  EXPECT_FALSE(second.nextEnabled);
  EXPECT_EQ(second.rows.front().substr(0, 5), "10748");
  const testsupport::PreviewWindow back = preview.Previous();
  EXPECT_EQ(back.rows, first.rows);
  EXPECT_FALSE(back.previousEnabled);
  EXPECT_TRUE(back.nextEnabled);
  // And on again from there.
  EXPECT_EQ(preview.Next().rows, second.rows);

  // Order Details: 2155 rows in five windows, and back through them.
  CTable* details = testsupport::FindTable(*engine, "Order Details");
  ASSERT_NE(details, nullptr);
  std::vector<std::vector<std::string>> windows = {preview.Select(details).rows};
  for (int k = 1; k < 5; ++k) {
    const testsupport::PreviewWindow w = preview.Next();
    EXPECT_EQ(w.lastWindow, k == 4);
    windows.push_back(w.rows);
  }
  std::vector<size_t> sizes;
  for (const auto& w : windows) sizes.push_back(w.size());
  EXPECT_EQ(sizes, std::vector<size_t>({500, 500, 500, 500, 155}));
  for (int k = 3; k >= 0; --k) EXPECT_EQ(preview.Previous().rows, windows[size_t(k)]) << "window " << k + 1;
}

TEST(Walks2000Fixtures, PreviewShowsEveryRowAsTheDecoderDoes) {
  // Every table paged through to its end gives the decoder's rows of the same pages, in page
  // order: the catalog the scan recovered decodes as the install script's layout does.
  ModuleFolderScope scope;
  for (const Source& source : kSources) {
    SCOPED_TRACE(source.file);
    REQUIRE_FIXTURE(path, source.file);
    if (source.script().rows.empty()) GTEST_SKIP() << "install scripts not available";
    auto engine = Scanned(path);
    const auto decoded = Decode(path, source.script());
    int rows = 0;
    for (const auto& [name, t] : decoded->tables) {
      SCOPED_TRACE(name);
      CTable* table = testsupport::FindTable(*engine, name);
      ASSERT_NE(table, nullptr);
      int windows = 0;
      const std::vector<std::string> shown = testsupport::AllRows(*engine, table, &windows);
      EXPECT_EQ(shown, t.previewRows);
      EXPECT_EQ(windows, std::max<int>(1, int((t.previewRows.size() + 499) / 500)));
      rows += int(shown.size());
    }
    EXPECT_EQ(rows, source.rows);
  }
}

TEST(Walks2000Fixtures, WrappedBackupsGiveTheSameRows) {
  REQUIRE_FIXTURE(backup, "bak2005_stdb2sql_2sets.bak");
  REQUIRE_FIXTURE(northwind, "sample2000_NORTHWND.MDF");
  REQUIRE_FIXTURE(pubs, "sample2000_PUBS.MDF");
  if (NorthwindScript().rows.empty()) GTEST_SKIP() << "install scripts not available";
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  std::string wrapped, error;
  ASSERT_TRUE(testsupport::WrapPagesInBackup(testsupport::ReadFile(backup),
                                             {testsupport::ReadFile(northwind), testsupport::ReadFile(pubs)}, wrapped,
                                             &error))
      << error;
  const std::string path = dir.file("wrapped.bak");
  testsupport::WriteFile(path, wrapped);
  const std::string plain[] = {northwind, pubs};
  for (int set = 1; set <= 2; ++set) {
    SCOPED_TRACE(set);
    const Source& source = kSources[set - 1];
    auto engine = Scanned(path, set);
    ExportAndCompare(*engine, source, plain[set - 1], [&](CTable* table) {
      return ExportToScript(*engine, table, dir.file("table.sql"));
    });
    // The large values come through the backup's text pages as they do from the file.
    const char* large = set == 1 ? "Categories" : "pub_info";
    auto file = Scanned(plain[set - 1]);
    EXPECT_EQ(testsupport::AllRows(*engine, testsupport::FindTable(*engine, large)),
              testsupport::AllRows(*file, testsupport::FindTable(*file, large)));
  }
}

TEST(Walks2000Fixtures, PoolThreadsExportTablesOfOneEngineAtOnce) {
  // As the program's connection pool does: one thread and one connection per table, all on
  // one engine; each table gets exactly the statements it gets alone.
  REQUIRE_FIXTURE(path, "sample2000_NORTHWND.MDF");
  ModuleFolderScope scope;
  auto engine = Scanned(path);
  engine->m_bExportToServer = 1;
  const char* const names[] = {"Orders", "Order Details", "Customers", "Employees", "Categories", "Products"};
  std::map<std::string, std::vector<std::string>> alone;
  for (const char* name : names) {
    testsupport::FakeDatabase db;
    engine->ExportTableRows(testsupport::FindTable(*engine, name), &db);
    alone[name] = db.Statements();
  }
  std::map<std::string, std::unique_ptr<testsupport::FakeDatabase>> connections;
  for (const char* name : names) connections[name] = std::make_unique<testsupport::FakeDatabase>();
  std::vector<std::thread> pool;
  for (const char* name : names)
    pool.emplace_back([&, name] { engine->ExportTableRows(testsupport::FindTable(*engine, name), connections[name].get()); });
  for (std::thread& t : pool) t.join();
  for (const char* name : names) {
    EXPECT_EQ(connections[name]->Statements(), alone[name]) << name;
    EXPECT_EQ(testsupport::FindTable(*engine, name)->m_nRowsExported,
              int(NorthwindScript().rows.at(name).size())) << name;
  }
  EXPECT_EQ(engine->m_pStatus->m_bRecordThreadDone, 1);
}
