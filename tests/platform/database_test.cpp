// The ODBC connection against a real driver: unixODBC with the SQLite3 ODBC driver, named
// by its library path so nothing is registered on the host. The tests read back what
// arrived through a second, raw ODBC connection, not through the class under test.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/database.h"
#include "support/fakedatabase.h"
#include "support/fixtures.h"

namespace {

std::string SqliteDriverPath() {
  for (const char* p : {"/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so", "/usr/lib/aarch64-linux-gnu/odbc/libsqlite3odbc.so",
                        "/usr/lib/odbc/libsqlite3odbc.so", "/usr/lib64/libsqlite3odbc.so"}) {
    if (std::filesystem::exists(p)) return p;
  }
  return std::string();
}

#define REQUIRE_SQLITE_DRIVER(var)             \
  std::string var = SqliteDriverPath();        \
  if (var.empty()) GTEST_SKIP() << "libsqliteodbc is not installed"

// No fsync per statement: the tests run many small autocommitted inserts.
std::string SqliteConnect(const std::string& driver, const std::string& dbFile) {
  return "DRIVER=" + driver + ";Database=" + dbFile + ";SyncPragma=OFF";
}

// Rows of the first column, read on a separate raw ODBC connection; "<null>" for NULL.
std::vector<std::string> QueryFirstColumn(const std::string& connect, const std::string& sql) {
  std::vector<std::string> rows;
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  SQLHSTMT st = nullptr;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR*)connect.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                  SQL_DRIVER_NOPROMPT);
  EXPECT_TRUE(SQL_SUCCEEDED(rc)) << "raw connect failed";
  if (SQL_SUCCEEDED(rc)) {
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    rc = SQLExecDirect(st, (SQLCHAR*)sql.c_str(), SQL_NTS);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << "raw query failed: " << sql;
    while (SQL_SUCCEEDED(rc) && SQL_SUCCEEDED(SQLFetch(st))) {
      std::string value;
      char buf[4096];
      for (;;) {
        SQLLEN ind = 0;
        SQLRETURN g = SQLGetData(st, 1, SQL_C_CHAR, buf, sizeof buf, &ind);
        if (g == SQL_NO_DATA || !SQL_SUCCEEDED(g)) break;
        if (ind == SQL_NULL_DATA) {
          value = "<null>";
          break;
        }
        size_t got = (ind == SQL_NO_TOTAL || ind >= SQLLEN(sizeof buf)) ? sizeof buf - 1 : size_t(ind);
        value.append(buf, got);
        if (g == SQL_SUCCESS) break;
      }
      rows.push_back(value);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return rows;
}

bool RegisteredDriver(const char* name) { return RegisteredOdbcDriver(name).has_value(); }

class SqliteConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    m_driver = SqliteDriverPath();
    if (m_driver.empty()) GTEST_SKIP() << "libsqliteodbc is not installed";
    m_connect = SqliteConnect(m_driver, m_dir.file("t.db"));
    ASSERT_TRUE(m_db.OpenEx(m_connect.c_str()));
    m_db.ExecuteSQL("CREATE TABLE [t] (id integer, txt text)");
  }
  std::vector<std::string> Query(const std::string& sql) { return QueryFirstColumn(m_connect, sql); }

  testsupport::TempDir m_dir;
  std::string m_driver;
  std::string m_connect;
  CDatabase m_db;
};

TEST_F(SqliteConnection, StatementsArriveByteForByte) {
  const std::string longText(200000, 'x');
  struct Case {
    const char* name;
    std::string stored;  // the text value as it must come back
    std::string literal;  // as it appears in the statement
  } cases[] = {
      {"embedded quote", "It's", "'It''s'"},
      {"brackets and separators", "[dbo].[t]; go\r\n", "'[dbo].[t]; go\r\n'"},
      {"high bytes", "caf\xE9 \x80\xFF", "'caf\xE9 \x80\xFF'"},
      {"long text", longText, "'" + longText + "'"},
  };
  int id = 0;
  for (const Case& c : cases) {
    ++id;
    std::string sql = "INSERT INTO [t] (id, txt) VALUES (" + std::to_string(id) + ", " + c.literal + ")";
    ASSERT_NO_THROW(m_db.ExecuteSQL(sql.c_str())) << c.name;
  }
  std::vector<std::string> rows = Query("SELECT txt FROM t ORDER BY id");
  ASSERT_EQ(rows.size(), std::size(cases));
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].size(), cases[i].stored.size()) << cases[i].name;
    EXPECT_TRUE(rows[i] == cases[i].stored) << cases[i].name;
  }
}

TEST_F(SqliteConnection, RefusedStatementRaisesDriverTextAndConnectionStaysUsable) {
  for (const char* tsqlOnly : {"SET IDENTITY_INSERT [t] ON", "CREATE SCHEMA [x]"}) {
    try {
      m_db.ExecuteSQL(tsqlOnly);
      ADD_FAILURE() << "no exception for " << tsqlOnly;
    } catch (const CDBException& e) {
      EXPECT_EQ(e.m_nRetCode, SQL_ERROR) << tsqlOnly;
      EXPECT_EQ(e.m_strSqlState, "HY000") << tsqlOnly;
      // The driver's own words, with state and native code.
      EXPECT_NE(e.m_strError.Find("syntax error"), -1) << e.m_strError.c_str();
      EXPECT_EQ(e.m_strError.Find("State:HY000,Native:1,Message:[SQLite]"), 0) << e.m_strError.c_str();
      EXPECT_STREQ(e.what(), e.m_strError.c_str());
    }
    EXPECT_TRUE(m_db.IsOpen());
    ASSERT_NO_THROW(m_db.ExecuteSQL("INSERT INTO [t] (id, txt) VALUES (1, 'after')"));
  }
  EXPECT_EQ(Query("SELECT count(*) FROM t"), std::vector<std::string>{"2"});
}

TEST_F(SqliteConnection, NoRowsAffectedAndResultSetsAreNotErrors) {
  m_db.ExecuteSQL("INSERT INTO [t] VALUES (1, 'a')");
  m_db.ExecuteSQL("INSERT INTO [t] VALUES (2, 'b')");
  // A DELETE or UPDATE that matches nothing answers "no data".
  EXPECT_NO_THROW(m_db.ExecuteSQL("DELETE FROM [t] WHERE id = 99"));
  EXPECT_NO_THROW(m_db.ExecuteSQL("UPDATE [t] SET txt = 'z' WHERE id = 99"));
  // The rows of a SELECT are consumed: an open cursor on t would make SQLite refuse to drop it.
  EXPECT_NO_THROW(m_db.ExecuteSQL("SELECT * FROM [t]"));
  EXPECT_NO_THROW(m_db.ExecuteSQL("DROP TABLE [t]"));
  EXPECT_EQ(Query("SELECT count(*) FROM sqlite_master WHERE name = 't'"), std::vector<std::string>{"0"});
}

// The SQLite driver accepts the time-out attribute but ignores it and reads back 0, so
// the driver manager's trace shows what each statement was given.
TEST_F(SqliteConnection, QueryTimeoutReachesEveryLaterStatement) {
  EXPECT_EQ(m_db.GetQueryTimeout(), CDatabase::kDefaultQueryTimeout);
  const std::string traceFile = m_dir.file("trace.log");
  SQLHDBC dbc = m_db.GetConnectionHandle();
  ASSERT_NE(dbc, nullptr);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectAttr(dbc, SQL_ATTR_TRACEFILE, (SQLPOINTER)traceFile.c_str(), SQL_NTS)));
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectAttr(dbc, SQL_ATTR_TRACE, (SQLPOINTER)SQL_OPT_TRACE_ON, 0)));

  const std::string first = "INSERT INTO [t] VALUES (1, 'it''s [x]')";
  m_db.SetQueryTimeout(1800);
  EXPECT_EQ(m_db.GetQueryTimeout(), 1800u);
  m_db.ExecuteSQL(first.c_str());
  m_db.ExecuteSQL("INSERT INTO [t] VALUES (2, 'b')");
  m_db.SetQueryTimeout(60);
  m_db.ExecuteSQL("INSERT INTO [t] VALUES (3, 'c')");
  SQLSetConnectAttr(dbc, SQL_ATTR_TRACE, (SQLPOINTER)SQL_OPT_TRACE_OFF, 0);

  const std::string trace = testsupport::ReadFile(traceFile);
  ASSERT_FALSE(trace.empty()) << "the driver manager wrote no trace";
  std::vector<unsigned long> given;
  for (size_t at = trace.find("Attribute = SQL_ATTR_QUERY_TIMEOUT"); at != std::string::npos;
       at = trace.find("Attribute = SQL_ATTR_QUERY_TIMEOUT", at + 1)) {
    size_t v = trace.find("Value = ", at);
    ASSERT_NE(v, std::string::npos);
    given.push_back(std::strtoul(trace.c_str() + v + 8, nullptr, 16));
  }
  EXPECT_EQ(given, (std::vector<unsigned long>{1800, 1800, 60}));
  // The text went with its length, not as a zero-terminated string.
  EXPECT_NE(trace.find("SQL = [" + first + "][length = " + std::to_string(first.size()) + "]"), std::string::npos);
}

// Close from another thread waits for the statement in progress instead of freeing the
// handles under it; the worker then sees a clean "not open".
TEST_F(SqliteConnection, CloseFromAnotherThreadWaitsForTheRunningStatement) {
  std::atomic<int> done{0};
  for (int round = 0; round < 10; ++round) {  // the race shows only now and then
    if (round > 0) {
      ASSERT_TRUE(m_db.OpenEx(m_connect.c_str()));
    }
    const int before = done;
    std::string endState = "worker did not end";
    std::thread worker([&] {
      for (int i = 0;; ++i) {
        std::string sql = "INSERT INTO [t] VALUES (" + std::to_string(i) + ", 'r')";
        try {
          m_db.ExecuteSQL(sql.c_str());
          ++done;
        } catch (const CDBException& e) {
          endState = e.m_strSqlState.c_str();
          return;
        }
      }
    });
    while (done < before + 5) std::this_thread::yield();
    m_db.Close();
    worker.join();
    EXPECT_EQ(endState, "08003") << "round " << round;
  }
  EXPECT_EQ(Query("SELECT count(*) FROM t"), std::vector<std::string>{std::to_string(done.load())});
}

TEST(Database, OpenWithBadDriverFailsCleanlyAndTheObjectStaysUsable) {
  REQUIRE_SQLITE_DRIVER(driver);
  testsupport::TempDir dir;
  CDatabase db;
  const char* bad[] = {
      "DRIVER=/nonexistent/libnothing.so;Database=/tmp/x.db",
      "DRIVER={No Such Driver};SERVER=x",
      "",
  };
  for (const char* connect : bad) {
    try {
      db.OpenEx(connect);
      ADD_FAILURE() << "opened " << connect;
    } catch (const CDBException& e) {
      EXPECT_EQ(e.m_nRetCode, SQL_ERROR) << connect;
      EXPECT_FALSE(e.m_strError.IsEmpty()) << connect;
      EXPECT_FALSE(e.m_strSqlState.IsEmpty()) << connect;
    }
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(db.GetConnectionHandle(), nullptr);
  }
  EXPECT_THROW(db.OpenEx(nullptr), CDBException);
  // The message names what could not be loaded, so the program can show it.
  try {
    db.OpenEx(bad[0]);
  } catch (const CDBException& e) {
    EXPECT_NE(e.m_strError.Find("/nonexistent/libnothing.so"), -1) << e.m_strError.c_str();
  }
  EXPECT_TRUE(db.OpenEx(SqliteConnect(driver, dir.file("ok.db")).c_str()));
  EXPECT_TRUE(db.IsOpen());
}

TEST(Database, ClosedOrDoublyOpenedConnectionRaises) {
  REQUIRE_SQLITE_DRIVER(driver);
  testsupport::TempDir dir;
  const std::string connect = SqliteConnect(driver, dir.file("c.db"));
  CDatabase db;
  auto stateOf = [&db](auto&& call) -> std::string {
    try {
      call();
    } catch (const CDBException& e) {
      EXPECT_EQ(e.m_nRetCode, SQL_ERROR);
      return e.m_strSqlState.c_str();
    }
    return "no exception";
  };
  EXPECT_EQ(stateOf([&] { db.ExecuteSQL("CREATE TABLE a (x)"); }), "08003");  // never opened

  ASSERT_TRUE(db.OpenEx(connect.c_str()));
  EXPECT_EQ(stateOf([&] { db.OpenEx(connect.c_str()); }), "08002");
  EXPECT_EQ(stateOf([&] { db.ExecuteSQL(nullptr); }), "HY009");
  EXPECT_NO_THROW(db.ExecuteSQL("CREATE TABLE a (x)"));  // the first connection is intact

  db.Close();
  EXPECT_FALSE(db.IsOpen());
  EXPECT_NO_THROW(db.Close());
  EXPECT_EQ(stateOf([&] { db.ExecuteSQL("INSERT INTO a VALUES (1)"); }), "08003");
  EXPECT_EQ(QueryFirstColumn(connect, "SELECT count(*) FROM a"), std::vector<std::string>{"0"});
}

TEST(Database, WindowsDriverNameIsReplaced) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"DRIVER=SQL SERVER;SERVER=h;UID=u;PWD=p;DATABASE=d", "DRIVER={FreeTDS};SERVER=h;UID=u;PWD=p;DATABASE=d"},
      {"driver={Sql Server};SERVER=h", "driver={FreeTDS};SERVER=h"},
      {"SERVER=h; Driver = SQL Server ;UID=u", "SERVER=h; Driver = {FreeTDS};UID=u"},
      {"SERVER=h;DRIVER=SQL Server", "SERVER=h;DRIVER={FreeTDS}"},
      // Another driver, or one whose name only starts the same, stays.
      {"DRIVER={SQL Server Native Client 10.0};SERVER=h", "DRIVER={SQL Server Native Client 10.0};SERVER=h"},
      {"DRIVER=/usr/lib/odbc/libsqlite3odbc.so;Database=x", "DRIVER=/usr/lib/odbc/libsqlite3odbc.so;Database=x"},
      // A braced value may hide "DRIVER=SQL Server"; only the real attribute counts.
      {"PWD={a;DRIVER=SQL Server;}}b};DRIVER=Other", "PWD={a;DRIVER=SQL Server;}}b};DRIVER=Other"},
      {"PWD={x}};y};DRIVER=SQL Server;UID=u", "PWD={x}};y};DRIVER={FreeTDS};UID=u"},
      // The first DRIVER is the one the driver manager loads.
      {"DRIVER=Other;DRIVER=SQL Server", "DRIVER=Other;DRIVER=SQL Server"},
      {"SERVER=h;UID=u", "SERVER=h;UID=u"},
      {"", ""},
      {"junk;DRIVER=SQL Server", "junk;DRIVER={FreeTDS}"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplaceOdbcDriver(c.in, "SQL Server", "FreeTDS"), c.out) << c.in;
  }
  EXPECT_EQ(ReplaceOdbcDriver(nullptr, "SQL Server", "FreeTDS"), "");
}

TEST(Database, ConnectStringQuotesOnlyValuesThatNeedIt) {
  struct Case {
    const char* server;
    const char* user;
    const char* password;
    const char* database;
    const char* out;
  } cases[] = {
      // Plain values give the program's string as it always was.
      {"HOST\\SQL2008", "sa", "p@ss.w0rd!", "Northwind",
       "DRIVER=SQL SERVER;SERVER=HOST\\SQL2008;UID=sa;PWD=p@ss.w0rd!;DATABASE=Northwind"},
      {"127.0.0.1,1433", "", "", "", "DRIVER=SQL SERVER;SERVER=127.0.0.1,1433;UID=;PWD=;DATABASE="},
      // A separator cannot add an attribute; every braced value is closed by "};".
      {"h", "sa", "x;DATABASE=master", "d", "DRIVER=SQL SERVER;SERVER=h;UID=sa;PWD={x;DATABASE=master};DATABASE=d"},
      {"h", "sa", "p", "two words", "DRIVER=SQL SERVER;SERVER=h;UID=sa;PWD=p;DATABASE={two words};"},
      {"h", " u", "p ", "d", "DRIVER=SQL SERVER;SERVER=h;UID={ u};PWD={p };DATABASE=d"},
      // Braces inside are taken literally by FreeTDS, so they are not doubled.
      {"h", "sa", "}", "{d}", "DRIVER=SQL SERVER;SERVER=h;UID=sa;PWD={}};DATABASE={{d}};"},
      {"h", "sa", "a=b", "d", "DRIVER=SQL SERVER;SERVER=h;UID=sa;PWD={a=b};DATABASE=d"},
      {nullptr, nullptr, nullptr, nullptr, "DRIVER=SQL SERVER;SERVER=;UID=;PWD=;DATABASE="},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SqlServerConnectString(c.server, c.user, c.password, c.database), c.out) << c.out;
  }
  // "};" ends a braced value for the driver whatever follows: such a value is refused, and
  // the message names the attribute, not the secret.
  try {
    SqlServerConnectString("h", "sa", "a};DATABASE=master", "d");
    ADD_FAILURE() << "no exception";
  } catch (const CDBException& e) {
    EXPECT_EQ(e.m_strSqlState, "HY024");
    EXPECT_NE(e.m_strError.Find("PWD"), -1) << e.m_strError.c_str();
    EXPECT_EQ(e.m_strError.Find("master"), -1) << e.m_strError.c_str();
  }
}

// Reaches FreeTDS through the Windows driver name, registered by the install script or
// mapped onto "FreeTDS". Only the loopback address is used, on a port where no server
// answers, so the open fails at once with FreeTDS's own message.
TEST(Database, WindowsDriverNameOpensThroughFreeTds) {
  if (!RegisteredDriver("FreeTDS") && !RegisteredDriver("SQL Server")) {
    GTEST_SKIP() << "needs FreeTDS registered as SQL Server or as FreeTDS";
  }
  CDatabase db;
  db.SetLoginTimeout(2);
  try {
    db.OpenEx("DRIVER=SQL SERVER;SERVER=127.0.0.1;PORT=9;UID=u;PWD=p;DATABASE=d");
    ADD_FAILURE() << "a server answered on 127.0.0.1:9";
  } catch (const CDBException& e) {
    EXPECT_NE(e.m_strError.Find("[FreeTDS]"), -1) << e.m_strError.c_str();
    EXPECT_EQ(e.m_strSqlState.Left(2), "08") << e.m_strError.c_str();  // connection exception class
  }
  EXPECT_FALSE(db.IsOpen());
}

TEST(FakeDatabase, RecordsEveryAttemptAndFailsWhereTold) {
  testsupport::FakeDatabase db;
  db.FailOnStatement(2);
  db.ThrowOtherOnStatement(3);
  db.FailWhenContains("IDENTITY_INSERT");
  db.SetQueryTimeout(1800);
  EXPECT_NO_THROW(db.ExecuteSQL("CREATE TABLE [a] (x int)"));
  EXPECT_THROW(db.ExecuteSQL("INSERT 2"), CDBException);
  EXPECT_THROW(db.ExecuteSQL("INSERT 3"), std::runtime_error);
  db.SetQueryTimeout(0);
  EXPECT_THROW(db.ExecuteSQL("SET IDENTITY_INSERT [a] ON"), CDBException);
  EXPECT_NO_THROW(db.ExecuteSQL("INSERT 5"));
  EXPECT_EQ(db.Statements(), (std::vector<std::string>{"CREATE TABLE [a] (x int)", "INSERT 2", "INSERT 3",
                                                       "SET IDENTITY_INSERT [a] ON", "INSERT 5"}));
  EXPECT_EQ(db.Failed(), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(db.Timeouts(), (std::vector<DWORD>{1800, 1800, 1800, 0, 0}));
  db.Close();
  EXPECT_THROW(db.ExecuteSQL("INSERT 6"), CDBException);
  EXPECT_EQ(db.Statements().size(), 5u);
}

}  // namespace
