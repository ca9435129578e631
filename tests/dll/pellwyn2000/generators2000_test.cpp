// The library's script-set generators, called the way an outside caller binds them: by
// symbol name from the loaded library. Row texts are set by hand (nothing in the engine
// fills them); the rows-only generator runs against a watching thread.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "dll/pellwyn2000/pellwyn2000.h"
#include "platform/events.h"
#include "platform/threads.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "support/tsqllexer.h"

using testsupport::ModuleFolderScope;
using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

using Generator = void (*)(CSQLServer2000*, const char*);

struct Library {
  void* handle = nullptr;
  Generator queries = nullptr;
  Generator inserts = nullptr;
  CTable** table = nullptr;

  Library() {
    handle = dlopen(PELLWYN2000_LIBRARY, RTLD_NOW);
    if (!handle) return;
    queries = reinterpret_cast<Generator>(dlsym(handle, "GenerateQueries"));
    inserts = reinterpret_cast<Generator>(dlsym(handle, "GenerateTableInsertQueries"));
    table = static_cast<CTable**>(dlsym(handle, "m_objTable"));
  }
  ~Library() {
    if (handle) dlclose(handle);
  }
};

// Answers each "ExportEvent" with "ExportReady" until the generator says its file is
// complete. A stop is raised when the generator is not done in time, so a fault ends the
// test instead of hanging it.
class Watcher {
 public:
  explicit Watcher(CSQLServer2000& engine) : m_engine(engine), m_thread([this] { Run(); }) {}
  ~Watcher() {
    m_quit = true;
    m_thread.join();
  }
  int HandOvers() const { return m_handOvers; }
  bool SawComplete() const { return m_sawComplete; }

 private:
  // The generator raises "ExportEvent" and then clears "ExportReady"; it is answered once
  // both have happened. Waiting for "ExportEvent" to drop instead would miss a generator that
  // clears and raises it again at once.
  void Run() {
    CEngineStatus& status = *m_engine.m_pStatus;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto waiting = [&] { return IsEventSet(status.m_hExportEvent) && !IsEventSet(status.m_hExportReady); };
    while (!m_quit) {
      if (std::chrono::steady_clock::now() > deadline) status.m_bStopRecords = 1;
      SleepMs(waiting() ? 50 : 5);
      if (!waiting()) continue;
      const bool complete = status.m_bExportComplete.load() == 1;
      ++m_handOvers;
      SetEvent(status.m_hExportReady);
      if (complete) {
        m_sawComplete = true;
        return;
      }
    }
  }

  CSQLServer2000& m_engine;
  std::atomic<bool> m_quit{false};
  std::atomic<int> m_handOvers{0};
  std::atomic<bool> m_sawComplete{false};
  std::thread m_thread;
};

CTable* AddTable(CSQLServer2000& engine, DWORD id, const char* name, std::vector<std::pair<const char*, const char*>> columns) {
  CTable* t = engine.NewTable();
  t->m_strName = name;
  t->m_strOwner = "dbo";
  t->m_dwObjectId = id;
  for (const auto& [column, type] : columns) {
    auto* c = new CColumn;
    c->m_strName = column;
    c->m_strType = type;
    c->m_strUserType = type;
    c->m_wLength = std::string(type) == "varchar" ? 20 : 4;
    c->m_nColumnId = ++t->m_nAllColumns;
    ++t->m_nCatalogColumns;
    t->AppendColumn(c);
  }
  engine.m_mapTables.SetAt(FormatString("%ld", id).view(), t);
  return t;
}

void ExpectBatchesLex(const std::string& script, const std::string& what) {
  for (const std::string& batch : testsupport::SplitSqlBatches(script)) {
    const auto lexed = testsupport::LexSqlBatch(batch);
    EXPECT_TRUE(lexed.ok()) << what << ": " << lexed.error << "\n" << batch;
  }
}

}  // namespace

TEST(Generators2000, ExportedUnderTheirPlainNames) {
  Library lib;
  ASSERT_NE(lib.handle, nullptr) << dlerror();
  EXPECT_NE(lib.queries, nullptr);
  EXPECT_NE(lib.inserts, nullptr);
  EXPECT_NE(lib.table, nullptr);
  // The table object the library made when it was loaded (a program that links the library
  // holds the variable itself, so it is looked up where that program's code finds it).
  auto* table = static_cast<CTable**>(dlsym(RTLD_DEFAULT, "m_objTable"));
  ASSERT_NE(table, nullptr);
  EXPECT_NE(*table, nullptr);
}

TEST(Generators2000, RowValuesOfBothGenerators) {
  Library lib;
  ASSERT_TRUE(lib.queries && lib.inserts) << dlerror();
  ModuleFolderScope module;
  TempDir dir;
  CSQLServer2000 engine;
  engine.m_strDatabaseName = "db]x";
  CTable* t = AddTable(engine, 1001, "t", {{"a", "int"}, {"b", "varchar"}, {"c", "char"}});
  t->m_strRowText =
      "1$#$O'Neil$#$NULL$#$#&#"        // a quote doubled; NULL never quoted
      "Empty$#$NULL$#$x$#$extra$#$#&#"  // a missing value; a value with no column
      "Empty$#$Empty$#$Empty$#$#&#"     // nothing but missing values
      "2$#$a^b$#$#&#";                  // a "^" is data like any other byte
  AddTable(engine, 1002, "no rows", {{"a", "int"}});

  lib.queries(&engine, dir.path().c_str());
  EXPECT_EQ(ReadFile(dir.file("Create_Database.sql")), "CREATE DATABASE [db]]x]");
  EXPECT_EQ(ReadFile(dir.file("Create_Table.sql")),
            "CREATE TABLE [t]([a] int,[b] varchar(20),[c] char(4))\r\nCREATE TABLE [no rows]([a] int)\r\n");
  EXPECT_EQ(ReadFile(dir.file("Insert_Queries.sql")),
            "Insert into  [t] values(1,'O''Neil',NULL)\r\n"
            "Insert into  [t] values(NULL,NULL,x)\r\n"
            "Insert into  [t] values(NULL,NULL,NULL)\r\n"
            "Insert into  [t] values(2,'a^b',NULL)\r\n");

  {
    Watcher watcher(engine);
    lib.inserts(&engine, dir.path().c_str());
    EXPECT_TRUE(watcher.SawComplete());
    EXPECT_EQ(watcher.HandOvers(), 3);  // two tables and the end
  }
  EXPECT_EQ(ReadFile(dir.file("Insert_Queries.sql")),
            "Insert into [t] ([a],[b],[c])  values(1,'O''Neil',NULL)\r\ngo\r\n"
            "Insert into [t] ([b],[c])  values(NULL,x)\r\ngo\r\n"
            "Insert into [t] DEFAULT VALUES\r\ngo\r\n"
            "Insert into [t] ([a],[b])  values(2,'a^b')\r\ngo\r\n");
  EXPECT_EQ(engine.m_pStatus->m_bExportComplete, 1);
  EXPECT_EQ(engine.m_strBatchCommands, "sqlcmd -i Insert_Queries.sql\r\n");
}

// A stop ends the rows-only generator at its next hand-over, before anything is written,
// even with no watcher to answer it.
TEST(Generators2000, StopEndsTheRowsOnlyGeneratorWithoutAWatcher) {
  Library lib;
  ASSERT_TRUE(lib.inserts) << dlerror();
  ModuleFolderScope module;
  TempDir dir;
  CSQLServer2000 engine;
  AddTable(engine, 1001, "t", {{"a", "int"}})->m_strRowText = "1$#$#&#";
  std::thread stopper([&] {
    SleepMs(300);
    engine.m_pStatus->m_bStopRecords = 1;
  });
  lib.inserts(&engine, dir.path().c_str());
  stopper.join();
  EXPECT_EQ(ReadFile(dir.file("Insert_Queries.sql")), "");
  EXPECT_EQ(engine.m_pStatus->m_bExportComplete, 0);
  EXPECT_EQ(engine.m_strBatchCommands, "");
}

TEST(Generators2000, FiveFilesForNorthwind) {
  REQUIRE_FIXTURE(path, "sample2000_NORTHWND.MDF");
  Library lib;
  ASSERT_TRUE(lib.queries) << dlerror();
  ModuleFolderScope module;
  TempDir dir;
  CSQLServer2000 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  CTable* shippers = nullptr;
  for (const auto& e : engine.m_mapTables)
    if (e.second->m_strName == "Shippers") shippers = e.second;
  ASSERT_NE(shippers, nullptr);
  shippers->m_strRowText = "1$#$Speedy Express$#$(503) 555-9831$#$#&#";

  lib.queries(&engine, dir.path().c_str());
  EXPECT_EQ(ReadFile(dir.file("Create_Database.sql")), "CREATE DATABASE [Northwind]");
  const std::string tables = ReadFile(dir.file("Create_Table.sql"));
  EXPECT_NE(tables.find("CREATE TABLE [Order Details]([OrderID] int,[ProductID] int,[UnitPrice] money,"
                        "[Quantity] smallint,[Discount] real)\r\n"),
            std::string::npos)
      << tables;
  int creates = 0;
  for (size_t at = tables.find("CREATE TABLE"); at != std::string::npos; at = tables.find("CREATE TABLE", at + 1))
    ++creates;
  EXPECT_EQ(creates, 13);
  ExpectBatchesLex(tables, "Create_Table.sql");
  const struct {
    const char* file;
    size_t objects;
  } objects[] = {{"Views.sql", 16}, {"Stored_Procedure.sql", 7}};
  for (const auto& o : objects) {
    const std::string text = ReadFile(dir.file(o.file));
    ExpectBatchesLex(text, o.file);
    size_t batches = 0;
    for (const std::string& b : testsupport::SplitSqlBatches(text)) batches += !testsupport::LexSqlBatch(b).tokens.empty();
    EXPECT_EQ(batches, o.objects) << o.file;
  }
  EXPECT_EQ(ReadFile(dir.file("Insert_Queries.sql")),
            "Insert into  [Shippers] values(1,'Speedy Express','(503) 555-9831')\r\n");
}
