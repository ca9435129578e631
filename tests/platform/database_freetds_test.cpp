// The ODBC connection on the path a user's statements take: the program's connection
// string, unixODBC, FreeTDS's driver and TDS on a socket, answered by the recording
// endpoint, whose log shows what arrived.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/database.h"
#include "support/tdsendpoint.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// One value from a query, read with raw ODBC on the connection's own handle.
std::string QueryScalar(CDatabase& db, const char* sql) {
  SQLHSTMT st = nullptr;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, db.GetConnectionHandle(), &st))) return "<no statement>";
  std::string value = "<no row>";
  if (SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)sql, SQL_NTS)) && SQL_SUCCEEDED(SQLFetch(st))) {
    // Read as UTF-16, as the program sends: the driver's 8-bit text would depend on its code page.
    char16_t buffer[1024] = {};
    SQLLEN indicator = 0;
    if (SQL_SUCCEEDED(SQLGetData(st, 1, SQL_C_WCHAR, buffer, sizeof buffer, &indicator))) {
      value = indicator == SQL_NULL_DATA ? "<null>" : NarrowUtf16(buffer, std::char_traits<char16_t>::length(buffer));
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  return value;
}

// The batches the test sent, in log order: FreeTDS may send statements of its own.
std::vector<std::string> Marked(const std::vector<std::string>& batches, const std::string& marker) {
  std::vector<std::string> kept;
  for (const std::string& b : batches) {
    if (b.find(marker) != std::string::npos) kept.push_back(b);
  }
  return kept;
}

TEST(FreeTdsConnection, StatementsFromSeveralConnectionsArriveWholeAndInOrder) {
  REQUIRE_ENDPOINT(endpoint);
  constexpr int kThreads = 4;
  constexpr int kStatements = 30;
  // Statement i of thread t; some cross the 4096-byte packet many times over, some hold
  // bytes above 0x7F, quotes, brackets and line ends.
  auto statement = [](int t, int i) {
    std::string sql = "INSERT INTO [dbo].[Order Details] VALUES (" + std::to_string(t) + ", " + std::to_string(i) + ", '";
    switch (i % 5) {
      case 0: sql += "caf\xE9 \xC0\xFF \x80"; break;
      case 1: sql += std::string(5000 + i, 'x'); break;           // two packets
      case 2: sql += "It''s [x]\r\ngo\r\n?"; break;                  // a script separator inside a literal
      case 3: sql += std::string(70000, '\xE4'); break;           // many packets of non-ASCII
      default: sql += "plain"; break;
    }
    return sql + "') -- marker\n";
  };
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      try {
        CDatabase db;
        db.OpenEx(endpoint.ConnectString().c_str(), CDatabase::noOdbcDialog);
        for (int i = 0; i < kStatements; ++i) db.ExecuteSQL(statement(t, i).c_str());
      } catch (const CDBException& e) {
        failures[t] = e.m_strError.c_str();
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;

  // The log is split at its separators, so the batch holding one comes back in two.
  std::string log = testsupport::ReadFile(endpoint.LogPath());
  std::map<int, std::vector<std::string>> byThread;
  size_t at = 0;
  size_t found = 0;
  while ((at = log.find("INSERT INTO [dbo].[Order Details] VALUES (", at)) != std::string::npos) {
    const int t = std::atoi(log.c_str() + at + 42);
    const size_t end = log.find(" -- marker\n\r\ngo\r\n", at);
    ASSERT_NE(end, std::string::npos);
    byThread[t].push_back(log.substr(at, end + 11 - at));
    at = end;
    ++found;
  }
  ASSERT_EQ(found, size_t(kThreads * kStatements));
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(byThread[t].size(), size_t(kStatements)) << "thread " << t;
    for (int i = 0; i < kStatements; ++i) {
      const std::string expected = testsupport::Latin1ToUtf8(statement(t, i));
      EXPECT_TRUE(byThread[t][i] == expected) << "thread " << t << " statement " << i << ": "
                                              << byThread[t][i].size() << " bytes, " << expected.size() << " expected";
    }
  }
}

TEST(FreeTdsConnection, RefusedStatementThrowsTheServersMessageAndTheConnectionGoesOn) {
  REQUIRE_ENDPOINT(endpoint, testsupport::RefusingStatements("^CREATE TABLE \\[refused\\]"));
  CDatabase db;
  ASSERT_TRUE(db.OpenEx(endpoint.ConnectString().c_str(), CDatabase::noOdbcDialog));
  db.ExecuteSQL("CREATE TABLE [kept] (id int)");
  try {
    db.ExecuteSQL("CREATE TABLE [refused] (id int)");
    ADD_FAILURE() << "the refused statement did not throw";
  } catch (const CDBException& e) {
    EXPECT_EQ(e.m_nRetCode, SQL_ERROR);
    EXPECT_EQ(e.m_nNativeError, 50000);
    EXPECT_EQ(e.m_strSqlState, "42000");
    EXPECT_NE(e.m_strError.Find("Message:[FreeTDS][SQL Server]Statement refused by the recording endpoint"), -1)
        << e.m_strError.c_str();
  }
  EXPECT_TRUE(db.IsOpen());
  EXPECT_NO_THROW(db.ExecuteSQL("INSERT INTO [kept] VALUES (1)"));
  EXPECT_EQ(Marked(endpoint.Batches(), "[kept]").size(), 2u);
  EXPECT_EQ(Marked(endpoint.Batches(), "[refused]"), std::vector<std::string>{"CREATE TABLE [refused] (id int)"});
}

TEST(FreeTdsConnection, RefusedLoginThrowsAtOnceWithoutThePassword) {
  struct Case {
    const char* name;
    testsupport::TdsEndpointOptions options;
  } cases[] = {
      {"every login refused", testsupport::RefusingLogins()},
      {"wrong password", testsupport::AcceptingOnly("the right one")},
  };
  for (Case& c : cases) {
    REQUIRE_ENDPOINT(endpoint, c.options);
    CDatabase db;
    const auto start = Clock::now();
    try {
      db.OpenEx(endpoint.ConnectString("sa", "Wr0ngPassw0rd").c_str(), CDatabase::noOdbcDialog);
      ADD_FAILURE() << c.name << ": the login was accepted";
    } catch (const CDBException& e) {
      EXPECT_EQ(e.m_nRetCode, SQL_ERROR) << c.name;
      EXPECT_NE(e.m_strError.Find("Login failed for user 'sa'."), -1) << c.name << ": " << e.m_strError.c_str();
      EXPECT_EQ(e.m_strError.Find("Wr0ngPassw0rd"), -1) << c.name;
      EXPECT_EQ(e.m_strError.Find("PWD"), -1) << c.name;
    }
    // The refusal ends the open, not the 15-second login time-out.
    EXPECT_LT(SecondsSince(start), 5.0) << c.name;
    EXPECT_FALSE(db.IsOpen()) << c.name;
    EXPECT_TRUE(endpoint.Batches().empty()) << c.name;
  }
}

TEST(FreeTdsConnection, CredentialsWithSeparatorsAndBracesArriveWhole) {
  REQUIRE_FREETDS();
  struct Case {
    const char* user;
    const char* password;
    const char* database;
  } cases[] = {
      {"sa", "plain", "Northwind"},
      {"u;x", "a;b", "d;b"},
      {"sa", "x;DATABASE=master", "Northwind"},  // would move the export elsewhere unquoted
      {"sa", "}", "{Braced}"},
      {"sa", "a}}b{c", "ends}"},
      {"sa", "a=b", "x=y"},
      {" lead", "trail ", "two words"},
      {"sa", "", "Northwind"},
      // Any character, Latin-1 or not: the credentials cross the driver as UTF-16.
      {"\xD0\x9F\xD1\x91\xD1\x82\xD1\x80", "p\xC3\xA4ss\xE5\xAF\x86\xE7\xA0\x81\xF0\x9F\x94\x91", "\xE6\x95\xB0\xE6\x8D\xAE"},
  };
  for (const Case& c : cases) {
    testsupport::TdsEndpoint endpoint(testsupport::AcceptingOnly(c.password));
    ASSERT_TRUE(endpoint.Running()) << endpoint.Error();
    CDatabase db;
    try {
      db.OpenEx(endpoint.ConnectString(c.user, c.password, c.database).c_str(), CDatabase::noOdbcDialog);
    } catch (const CDBException& e) {
      ADD_FAILURE() << "password [" << c.password << "] refused: " << e.m_strError.c_str();
      continue;
    }
    EXPECT_EQ(QueryScalar(db, "select suser_sname()"), c.user) << c.password;
    EXPECT_EQ(QueryScalar(db, "select db_name()"), c.database) << c.password;
  }
}

// A host that takes the connection and never answers: the open must end at the login
// time-out with the driver's message instead of waiting for ever.
class SilentServer {
 public:
  SilentServer() {
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(m_listener, 8) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] {
      for (;;) {
        int c = accept(m_listener, nullptr, nullptr);
        if (c < 0) return;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_accepted.push_back(c);
      }
    });
  }
  ~SilentServer() { Close(); }
  int Port() const { return m_port; }
  // Stops listening and drops every connection it took.
  void Close() {
    if (m_listener >= 0) {
      shutdown(m_listener, SHUT_RDWR);
      close(m_listener);
      m_listener = -1;
    }
    if (m_thread.joinable()) m_thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int c : m_accepted) {
      shutdown(c, SHUT_RDWR);
      close(c);
    }
    m_accepted.clear();
  }

 private:
  int m_listener = -1;
  int m_port = 0;
  std::thread m_thread;
  std::mutex m_mutex;
  std::vector<int> m_accepted;
};

TEST(FreeTdsConnection, SilentServerEndsTheOpenAtTheLoginTimeout) {
  REQUIRE_FREETDS();
  SilentServer server;
  ASSERT_GT(server.Port(), 0);
  const std::string address = "127.0.0.1," + std::to_string(server.Port());
  struct Outcome {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::string state;
    double seconds = 0;
  };
  // Shared with the opener, which is left behind if it never returns.
  auto outcome = std::make_shared<Outcome>();
  std::thread opener([outcome, connect = SqlServerConnectString(address.c_str(), "sa", "secret", "Northwind")] {
    CDatabase db;
    db.SetLoginTimeout(2);
    const auto start = Clock::now();
    std::string result = "opened";
    try {
      db.OpenEx(connect, CDatabase::noOdbcDialog);
    } catch (const CDBException& e) {
      result = e.m_strSqlState.c_str();
    }
    std::lock_guard<std::mutex> lock(outcome->mutex);
    outcome->seconds = SecondsSince(start);
    outcome->state = result;
    outcome->done = true;
    outcome->ended.notify_all();
  });
  std::unique_lock<std::mutex> lock(outcome->mutex);
  if (!outcome->ended.wait_for(lock, std::chrono::seconds(30), [&] { return outcome->done; })) {
    opener.detach();
    FAIL() << "OpenEx still waits after 30 s with a 2-s login time-out";
  }
  lock.unlock();
  opener.join();
  EXPECT_EQ(outcome->state, "HYT00");
  EXPECT_GE(outcome->seconds, 1.5);
  EXPECT_LT(outcome->seconds, 10.0);
}

// The driver cancels a statement that outlives the query time-out by an attention; once
// the server has acknowledged it, the same connection runs the next statement.
TEST(FreeTdsConnection, QueryTimeoutCancelsTheStatementAndTheConnectionGoesOn) {
  REQUIRE_ENDPOINT(endpoint);
  CDatabase db;
  ASSERT_TRUE(db.OpenEx(endpoint.ConnectString().c_str(), CDatabase::noOdbcDialog));
  const std::string session = QueryScalar(db, "select @@spid");
  db.SetQueryTimeout(1);
  const auto start = Clock::now();
  try {
    db.ExecuteSQL("WAITFOR DELAY '00:00:30'");
    ADD_FAILURE() << "the statement ran for 30 s";
  } catch (const CDBException& e) {
    EXPECT_EQ(e.m_strSqlState, "HYT00") << e.m_strError.c_str();
  }
  EXPECT_LT(SecondsSince(start), 10.0);
  db.SetQueryTimeout(15);
  EXPECT_NO_THROW(db.ExecuteSQL("INSERT INTO [t] VALUES (1)"));
  EXPECT_EQ(QueryScalar(db, "select @@spid"), session);
  EXPECT_EQ(Marked(endpoint.Batches(), "[t]"), std::vector<std::string>{"INSERT INTO [t] VALUES (1)"});
}

// The endpoint going away under an open connection is a failed statement, not a hang.
TEST(FreeTdsConnection, ServerEndingUnderAnOpenConnectionFailsTheNextStatement) {
  REQUIRE_ENDPOINT(endpoint);
  CDatabase db;
  ASSERT_TRUE(db.OpenEx(endpoint.ConnectString().c_str(), CDatabase::noOdbcDialog));
  db.ExecuteSQL("INSERT INTO [t] VALUES (1)");
  EXPECT_EQ(endpoint.Stop(), 0);
  EXPECT_THROW(db.ExecuteSQL("INSERT INTO [t] VALUES (2)"), CDBException);
  EXPECT_NO_THROW(db.Close());
}

}  // namespace
