// The table stage of a server export on the wire: the real engines, the pool and its
// connections through the real FreeTDS driver and the program's connection string, against the
// recording endpoint. What the endpoint logged is read back as a server would have run it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/database.h"
#include "support/catalogengine.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "support/oraclerows.h"
#include "support/recordingexportsink.h"
#include "support/renamedcopy.h"
#include "support/schemareader.h"
#include "support/tdsendpoint.h"
#include "support/tsqllexer.h"
#include "ui/core/exportpool.h"
#include "ui/core/exportworker.h"
#include "ui/core/serverconnection.h"

namespace {

using testsupport::RecordingExportSink;
using uicore::ExportPool;
using uicore::PoolOutcome;
namespace rows = testsupport::oraclerows;
namespace schema = testsupport::schemareader;

uicore::ConnectionFactory ConnectionsTo(const testsupport::TdsEndpoint& endpoint, std::string password = "secret") {
  uicore::ServerLogin login{endpoint.Server(), "sa", std::move(password), "Northwind_Recovered"};
  return [login](std::string* error) { return uicore::NewServerConnection(login, error); };
}

std::vector<CTable*> AllTables(CSQLServer& engine) {
  std::vector<CTable*> tables;
  for (auto& entry : engine.m_mapTables) tables.push_back(entry.second);
  return tables;
}

// The table a batch is about: the one its first CREATE TABLE, ALTER TABLE, INSERT, SET
// IDENTITY_INSERT or UPDATETEXT names ("" for none).
std::string TableOf(const std::string& batch) {
  const std::vector<testsupport::SqlToken> t = testsupport::LexSqlBatch(batch).tokens;
  for (size_t i = 0; i + 2 < t.size(); ++i) {
    size_t at = 0;
    if ((t[i].Is("create") || t[i].Is("alter")) && t[i + 1].Is("table")) at = i + 2;
    else if (t[i].Is("insert") && t[i + 1].Is("into")) at = i + 2;
    else if (t[i].Is("identity_insert")) at = i + 1;
    if (at) return rows::NameAt(t, at);
    if (t[i].Is("updatetext")) {
      // Updatetext [owner].[table].[column]: the part before the column.
      std::string table;
      for (size_t k = i + 1; k + 1 < t.size() && t[k].IsIdentifier(); k += 2) {
        if (!t[k + 1].IsSymbol('.')) break;
        table = t[k].text;
      }
      return table;
    }
  }
  return std::string();
}

// The log's batches grouped by table, each table's in the order they arrived. One table goes
// through one connection, so its batches keep their order; other tables' may come between.
std::map<std::string, std::string> ScriptsByTable(const std::vector<std::string>& batches) {
  std::map<std::string, std::string> scripts;
  for (const std::string& utf8 : batches) {
    const std::string batch = testsupport::Utf8ToLatin1(utf8);
    scripts[TableOf(batch)] += batch + "\r\ngo\r\n";
  }
  return scripts;
}

// A whole Northwind through five connections: every table of the install script arrives with
// its columns, primary key and indexes, and every row with every value; the object list counts
// the rows each table sent.
TEST(ServerExport, WholeNorthwindOnFiveConnectionsArrivesAsTheInstallScriptHasIt) {
  REQUIRE_FIXTURE(path, "bak2008_northwind_thuyluv.bak");
  REQUIRE_FIXTURE(install, "oracle/instnwnd.sql");
  REQUIRE_ENDPOINT(endpoint);
  testsupport::ModuleFolderScope module;
  CSQLServer2008 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  engine.m_bExportToServer = 1;
  engine.m_bExportRows = 1;
  const std::vector<CTable*> tables = AllTables(engine);
  RecordingExportSink sink;
  const PoolOutcome outcome = ExportPool::Run(engine, tables, 5, sink, ConnectionsTo(endpoint));
  ASSERT_EQ(outcome.connections, 5);
  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(outcome.tablesReported, int(tables.size()));
  EXPECT_EQ(outcome.percent, 30);
  EXPECT_EQ(module.ReadExecLog().find(" failed: "), std::string::npos) << module.ReadExecLog();

  const std::map<std::string, std::string> scripts = ScriptsByTable(endpoint.Batches());
  const std::string installText = rows::Utf16ToNarrow(testsupport::ReadFile(install));

  // The schema: the same reading the script export's test gives the install script.
  schema::SchemaDefs expected, ours;
  schema::ReadSchema(installText, expected);
  ASSERT_EQ(expected.size(), 13u);
  for (const auto& [table, script] : scripts) schema::ReadSchema(script, ours);
  for (const auto& [table, want] : expected) {
    SCOPED_TRACE(table);
    ASSERT_TRUE(ours.count(table));
    const schema::TableDef& got = ours[table];
    EXPECT_EQ(got.columns, want.columns);
    ASSERT_TRUE(got.primaryKey.has_value());
    EXPECT_EQ(*got.primaryKey, *want.primaryKey);
    EXPECT_EQ(got.indexes, want.indexes);
  }

  // The rows, value by value.
  rows::TableRows ourRows, oracleRows;
  for (const auto& [table, script] : scripts) rows::ReadOurRows(script, ourRows);
  rows::ReadTableFacts(engine, ourRows);
  rows::ReadOracleRows(installText, ourRows, oracleRows);
  ASSERT_EQ(oracleRows.rows["Order Details"].size(), 2155u);
  rows::CompareWithOracle(ourRows, oracleRows, "server", 11);

  // The object list: one row per table with the rows it sent.
  std::map<std::string, std::string> counts;
  for (const auto& row : sink.Rows()) counts[row.name] = row.count;
  ASSERT_EQ(counts.size(), tables.size());
  long total = 0;
  for (const auto& [table, list] : ourRows.rows) {
    EXPECT_EQ(counts[table], std::to_string(list.size())) << table;
    total += long(list.size());
  }
  EXPECT_EQ(total, 3308);
}

// Names beyond Latin-1 reach the server as they were stored: the statements cross the driver
// as UTF-16, and the endpoint logs what it received.
TEST(ServerExport, CjkNamesArriveWhole) {
  testsupport::TempDir dir;
  const std::string copy = dir.file("cjk.mdf");
  if (!testsupport::WriteCjkNorthwind(copy)) GTEST_SKIP() << "fixture not available";
  REQUIRE_ENDPOINT(endpoint);
  testsupport::ModuleFolderScope module;
  CSQLServer2008 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, copy).finished);
  engine.m_bExportToServer = 1;
  engine.m_bExportRows = 1;
  const std::vector<CTable*> tables = AllTables(engine);
  RecordingExportSink sink;
  const PoolOutcome outcome = ExportPool::Run(engine, tables, 2, sink, ConnectionsTo(endpoint));
  EXPECT_EQ(outcome.tablesReported, int(tables.size()));
  const std::string table = testsupport::kCjkTable, column = testsupport::kCjkColumn;
  int creates = 0, inserts = 0;
  for (const std::string& batch : endpoint.Batches()) {
    creates += batch.find("CREATE TABLE [dbo].[" + table + "] ([ShipperID] [int] NOT NULL IDENTITY(1,1) ,[" + column +
                          "] [nvarchar](40) NOT NULL") != std::string::npos;
    for (size_t at = batch.find("Insert into [dbo].[" + table + "] ([ShipperID],[" + column + "],[Phone])");
         at != std::string::npos; at = batch.find("Insert into [dbo].[" + table + "]", at + 1))
      ++inserts;
  }
  EXPECT_EQ(creates, 1);
  EXPECT_EQ(inserts, 3);
  // The object list names the table as the tree does.
  bool listed = false;
  for (const auto& row : sink.Rows()) listed = listed || (row.name == table && row.count == "3");
  EXPECT_TRUE(listed);
}

// A statement the server refuses is logged with the server's message; the table and the
// export go on, and the object list counts only the rows that were taken.
TEST(ServerExport, RefusedStatementIsLoggedAndTheExportGoesOn) {
  REQUIRE_FIXTURE(path, "bak2008_northwind_thuyluv.bak");
  REQUIRE_ENDPOINT(endpoint, testsupport::RefusingStatements("Insert into \\[dbo\\]\\.\\[Shippers\\]"));
  testsupport::ModuleFolderScope module;
  CSQLServer2008 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  engine.m_bExportToServer = 1;
  engine.m_bExportRows = 1;
  std::vector<CTable*> tables;
  for (CTable* t : AllTables(engine))
    if (t->m_strName == "Shippers" || t->m_strName == "Region" || t->m_strName == "Categories") tables.push_back(t);
  ASSERT_EQ(tables.size(), 3u);
  RecordingExportSink sink;
  const PoolOutcome outcome = ExportPool::Run(engine, tables, 3, sink, ConnectionsTo(endpoint));
  EXPECT_EQ(outcome.tablesReported, 3);
  EXPECT_FALSE(outcome.stopped);
  // The engine logs each failed statement with the server's message, and goes on.
  const std::string log = module.ReadExecLog();
  EXPECT_NE(log.find("Insert failed: SET IDENTITY_INSERT [dbo].[Shippers] ON Insert into [dbo].[Shippers]"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Exported 0 rows of table [dbo].[Shippers], 3 rows refused by the server"), std::string::npos);
  EXPECT_NE(log.find("Statement refused by the recording endpoint"), std::string::npos) << log;

  std::map<std::string, std::string> counts;
  for (const auto& row : sink.Rows()) counts[row.name] = row.count;
  EXPECT_EQ(counts["Region"], "4");
  EXPECT_EQ(counts["Categories"], "8");
  EXPECT_EQ(counts["Shippers"], "0");
  // Shippers' statements after the refused ones still went out.
  const std::map<std::string, std::string> scripts = ScriptsByTable(endpoint.Batches());
  ASSERT_TRUE(scripts.count("Shippers"));
  EXPECT_NE(scripts.at("Shippers").find("Insert into [dbo].[Shippers]"), std::string::npos);
  EXPECT_NE(scripts.at("Shippers").find("PRIMARY KEY"), std::string::npos);
}

// Every login refused: the message, at once, no job run, the password nowhere in the logs.
TEST(ServerExport, RefusedLoginGivesTheMessageWithoutWaiting) {
  REQUIRE_ENDPOINT(endpoint, testsupport::RefusingLogins());
  testsupport::ModuleFolderScope module;
  testsupport::CatalogEngine engine;
  std::vector<CTable*> tables;
  for (unsigned id = 1; id <= 4; ++id) tables.push_back(engine.AddTable(id, "dbo", "T" + std::to_string(id)));
  RecordingExportSink sink;
  const auto start = std::chrono::steady_clock::now();
  const PoolOutcome outcome = ExportPool::Run(engine, tables, 4, sink, ConnectionsTo(endpoint, "Pa55;word"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(outcome.noConnection);
  EXPECT_EQ(sink.Messages(), std::vector<std::string>{ExportPool::kNoConnectionMessage});
  EXPECT_TRUE(sink.Rows().empty());
  EXPECT_TRUE(endpoint.Batches().empty());
  const std::string logs = module.ReadErrorLog() + module.ReadExecLog();
  EXPECT_NE(logs.find("Login failed for user 'sa'."), std::string::npos) << logs;
  EXPECT_EQ(logs.find("Pa55"), std::string::npos) << logs;
  EXPECT_EQ(logs.find("PWD"), std::string::npos) << logs;
}

}  // namespace

// A whole 2000-format Northwind through the program's export worker to a server: the tables on
// five pooled connections arrive as the install script has them, rows and all, and the foreign
// keys come on the main connection once every table is there, so no key names a table that
// does not exist yet.
// Through the export worker, both formats: the tables through the pool, then the foreign
// keys on the main connection after the last table; each CHECK constraint after its table's
// rows, WITH NOCHECK where Northwind's were never checked.
template <class Engine>
void ExportNorthwindWithItsConstraints(const char* fixture, const char* what) {
  SCOPED_TRACE(what);
  REQUIRE_FIXTURE(path, fixture);
  REQUIRE_FIXTURE(install, "oracle/instnwnd.sql");
  REQUIRE_ENDPOINT(endpoint);
  testsupport::ModuleFolderScope module;
  Engine engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);

  std::string error;
  std::unique_ptr<CDatabase> main = ConnectionsTo(endpoint)(&error);
  ASSERT_TRUE(main) << error;
  uicore::ExportRequest request;
  request.toServer = true;
  request.rows = true;
  request.connections = ConnectionsTo(endpoint);
  request.threadSize = 5;
  request.tables = AllTables(engine);
  RecordingExportSink sink;
  uicore::ExportWorker worker(module.path(), {}, module.path());
  ASSERT_TRUE(worker.Start(engine, std::move(request), sink, main.get()));
  worker.Join();
  ASSERT_EQ(worker.Result().end, uicore::ExportResult::End::kFinished);
  EXPECT_EQ(worker.Result().poolConnections, 5);

  const std::vector<std::string> batches = endpoint.Batches();
  size_t lastCreate = 0, firstKey = batches.size();
  int keys = 0, checks = 0;
  std::map<std::string, size_t> lastInsert;  // table name -> its last INSERT batch
  for (size_t i = 0; i < batches.size(); ++i) {
    const std::vector<testsupport::SqlToken> t = testsupport::LexSqlBatch(batches[i]).tokens;
    for (size_t k = 0; k + 1 < t.size(); ++k) {
      if (t[k].Is("create") && t[k + 1].Is("table")) lastCreate = i;
      if (t[k].Is("insert") && k + 4 < t.size() && t[k + 1].Is("into")) lastInsert[t[k + 4].text] = i;
      if (t[k].Is("foreign") && t[k + 1].Is("key")) {
        firstKey = std::min(firstKey, i);
        ++keys;
      }
    }
    if (t.size() > 8 && t[0].Is("ALTER") && t[6].Is("NOCHECK") && t[7].Is("ADD") && t.back().IsSymbol(')') &&
        batches[i].find(" CHECK (") != std::string::npos) {
      ++checks;
      // [dbo].[Products]: the table's name is the fifth token.
      EXPECT_GT(i, lastInsert[t[4].text]) << batches[i];
    }
  }
  EXPECT_EQ(keys, 13);
  EXPECT_GT(firstKey, lastCreate);
  EXPECT_EQ(checks, 8);

  const std::map<std::string, std::string> scripts = ScriptsByTable(batches);
  const std::string installText = rows::Utf16ToNarrow(testsupport::ReadFile(install));
  schema::SchemaDefs expected, ours;
  schema::ReadSchema(installText, expected);
  for (const auto& [table, script] : scripts) schema::ReadSchema(script, ours);
  for (const auto& [table, want] : expected) {
    SCOPED_TRACE(table);
    ASSERT_TRUE(ours.count(table));
    EXPECT_EQ(ours[table].columns, want.columns);
    ASSERT_TRUE(ours[table].primaryKey.has_value());
    EXPECT_EQ(*ours[table].primaryKey, *want.primaryKey);
  }
  rows::TableRows ourRows, oracleRows;
  for (const auto& [table, script] : scripts) rows::ReadOurRows(script, ourRows);
  rows::ReadTableFacts(engine, ourRows);
  rows::ReadOracleRows(installText, ourRows, oracleRows);
  rows::CompareWithOracle(ourRows, oracleRows, what, 11);
  long total = 0;
  for (const auto& [table, list] : ourRows.rows) total += long(list.size());
  EXPECT_EQ(total, 3308);
}

TEST(ServerExport, Whole2000NorthwindArrivesWithItsConstraintsAfterTheRows) {
  ExportNorthwindWithItsConstraints<CSQLServer2000>("sample2000_NORTHWND.MDF", "server 2000");
}

TEST(ServerExport, Whole2008NorthwindArrivesWithItsConstraintsAfterTheRows) {
  ExportNorthwindWithItsConstraints<CSQLServer2008>("bak2008_northwind_thuyluv.bak", "server 2008");
}

// One statement of a batch refused: the batch is one transaction, rolled back whole, and its
// statements are run again one by one. What the server stored is every row but the refused
// one, each once, and what is reported is what was stored.
TEST(ServerExport, ARefusedStatementOfA2000BatchStoresNoRowTwice) {
  REQUIRE_FIXTURE(path, "sample2000_NORTHWND.MDF");
  REQUIRE_ENDPOINT(endpoint, testsupport::RefusingStatements("Insert into \\[dbo\\]\\.\\[Orders\\][^;]*values\\(10300,"));
  testsupport::ModuleFolderScope module;
  CSQLServer2000 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  engine.m_bExportToServer = 1;
  engine.m_bExportRows = 1;
  std::vector<CTable*> tables;
  for (CTable* t : AllTables(engine))
    if (t->m_strName == "Orders") tables.push_back(t);
  ASSERT_EQ(tables.size(), 1u);
  RecordingExportSink sink;
  const PoolOutcome outcome = ExportPool::Run(engine, tables, 1, sink, ConnectionsTo(endpoint));
  ASSERT_EQ(outcome.reported.size(), 1u);
  EXPECT_EQ(outcome.reported[0].rows, 829);

  std::map<std::string, int> stored;
  for (const std::string& s : endpoint.Stored())
    if (s.find("Insert into [dbo].[Orders]") != std::string::npos) ++stored[s];
  EXPECT_EQ(stored.size(), 829u);
  for (const auto& [statement, times] : stored) {
    EXPECT_EQ(times, 1) << statement;
    EXPECT_EQ(statement.find("values(10300,"), std::string::npos);
  }
  EXPECT_NE(module.ReadExecLog().find("Exported 829 rows of table [dbo].[Orders], 1 rows refused by the server"),
            std::string::npos);
}
