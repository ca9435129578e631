// The recording endpoint itself: what later tests rely on when they read its log. Most
// cases go through the real FreeTDS driver; a raw socket client sends what a driver would
// not (damaged packets, an attention with nothing running, an abandoned message).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/database.h"
#include "support/tdsendpoint.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Utf16(const std::string& ascii) {
  Bytes out;
  for (char c : ascii) {
    out.push_back(std::uint8_t(c));
    out.push_back(0);
  }
  return out;
}

void PutLe(Bytes& b, std::uint32_t v, int size) {
  for (int i = 0; i < size; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
}

// A TDS client on a plain socket, for what no driver sends.
class RawClient {
 public:
  explicit RawClient(int port) {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(m_fd);
      m_fd = -1;
    }
    int one = 1;
    if (m_fd >= 0) setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~RawClient() {
    if (m_fd >= 0) close(m_fd);
  }
  bool Connected() const { return m_fd >= 0; }

  void SendRaw(const Bytes& bytes) {
    if (m_fd >= 0 && !bytes.empty()) (void)!send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  void SendPacket(std::uint8_t type, std::uint8_t status, const Bytes& payload) {
    Bytes p = {type, status, std::uint8_t((payload.size() + 8) >> 8), std::uint8_t(payload.size() + 8), 0, 0, 1, 0};
    p.insert(p.end(), payload.begin(), payload.end());
    SendRaw(p);
  }

  // One reply message (its packets joined), or nothing when the connection ended or no
  // answer came within `timeoutMs`.
  std::optional<Bytes> ReadReply(int timeoutMs = 5000) {
    Bytes message;
    for (;;) {
      Bytes header = Read(8, timeoutMs);
      if (header.size() < 8) return std::nullopt;
      const size_t length = size_t(header[2]) << 8 | header[3];
      if (length < 8) return std::nullopt;
      Bytes body = Read(length - 8, timeoutMs);
      if (body.size() < length - 8) return std::nullopt;
      message.insert(message.end(), body.begin(), body.end());
      if (header[1] & 0x01) return message;
    }
  }
  // Whether the endpoint closed the connection within `timeoutMs`.
  bool ClosedByPeer(int timeoutMs = 5000) {
    for (;;) {
      pollfd p = {m_fd, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) return false;
      char c[4096];
      ssize_t got = recv(m_fd, c, sizeof c, 0);
      if (got <= 0) return true;
    }
  }

  // Pre-login and a LOGIN7 of TDS 7.3 with empty names, as a minimal driver sends them.
  bool LogIn() {
    SendPacket(0x12, 0x01, {0xFF});
    std::optional<Bytes> prelogin = ReadReply();
    if (!prelogin) return false;
    Bytes login;
    PutLe(login, 94, 4);          // length
    PutLe(login, 0x730B0003, 4);  // TDS 7.3B
    PutLe(login, 4096, 4);        // packet size
    login.resize(36, 0);
    for (int field = 0; field < 12; ++field) {  // offsets and lengths: all empty, at the end
      PutLe(login, 94, 2);
      PutLe(login, 0, 2);
      if (field == 8) login.resize(login.size() + 6, 0);  // client id, after the database
    }
    PutLe(login, 0, 4);  // long SSPI length
    SendPacket(0x10, 0x01, login);
    std::optional<Bytes> ack = ReadReply();
    return ack && std::find(ack->begin(), ack->end(), std::uint8_t(0xAD)) != ack->end();
  }

 private:
  Bytes Read(size_t count, int timeoutMs) {
    Bytes out;
    while (out.size() < count) {
      pollfd p = {m_fd, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) break;
      std::uint8_t buffer[65536];
      ssize_t got = recv(m_fd, buffer, std::min(sizeof buffer, count - out.size()), 0);
      if (got <= 0) break;
      out.insert(out.end(), buffer, buffer + got);
    }
    return out;
  }

  int m_fd = -1;
};

// A 7.2+ SQL batch: the transaction-descriptor header, then the text.
Bytes BatchPayload(const std::string& ascii) {
  Bytes p;
  PutLe(p, 22, 4);  // total header length
  PutLe(p, 18, 4);  // this header's length
  PutLe(p, 2, 2);   // transaction descriptor
  PutLe(p, 0, 4);
  PutLe(p, 0, 4);
  PutLe(p, 1, 4);  // outstanding requests
  Bytes text = Utf16(ascii);
  p.insert(p.end(), text.begin(), text.end());
  return p;
}

// The DONE status of a reply that is one DONE token of TDS 7.2+ (13 bytes), or -1.
int DoneStatus(const std::optional<Bytes>& reply) {
  if (!reply || reply->size() < 13) return -1;
  const Bytes& r = *reply;
  const size_t at = r.size() - 13;
  if (r[at] != 0xFD) return -1;
  return r[at + 1] | r[at + 2] << 8;
}

TEST(RecordingEndpoint, AnswersAttentionAndSkipsAbandonedMessages) {
  REQUIRE_ENDPOINT(endpoint);
  RawClient client(endpoint.Port());
  ASSERT_TRUE(client.Connected());
  ASSERT_TRUE(client.LogIn());

  // Nothing runs: the acknowledgement still comes, as a client waits for it after a
  // cancel that crossed the end of its statement.
  client.SendPacket(0x06, 0x01, {});
  EXPECT_EQ(DoneStatus(client.ReadReply()) & 0x20, 0x20);

  // A message the client gave up half-way (the ignore bit on its last packet) is neither
  // answered nor logged; the next one, cut into three packets, is.
  Bytes abandoned = BatchPayload("INSERT INTO [abandoned] VALUES (1)");
  client.SendPacket(0x01, 0x00, Bytes(abandoned.begin(), abandoned.begin() + 30));
  client.SendPacket(0x01, 0x03, Bytes(abandoned.begin() + 30, abandoned.end()));
  Bytes kept = BatchPayload("INSERT INTO [kept] VALUES (1)");
  client.SendPacket(0x01, 0x00, Bytes(kept.begin(), kept.begin() + 5));
  client.SendPacket(0x01, 0x00, Bytes(kept.begin() + 5, kept.begin() + 31));  // splits a UTF-16 unit
  client.SendPacket(0x01, 0x01, Bytes(kept.begin() + 31, kept.end()));
  const int status = DoneStatus(client.ReadReply());
  EXPECT_EQ(status & 0x10, 0x10) << "a row count";
  EXPECT_EQ(status & 0x02, 0) << "no error";
  EXPECT_EQ(endpoint.Batches(), std::vector<std::string>{"INSERT INTO [kept] VALUES (1)"});
}

TEST(RecordingEndpoint, DamagedInputEndsOnlyThatConnection) {
  REQUIRE_ENDPOINT(endpoint);
  std::mt19937 random(20);
  Bytes noise(3000);
  for (auto& b : noise) b = std::uint8_t(random());
  Bytes shortLogin = {0x10, 0x01, 0x00, 0x10, 0, 0, 1, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  Bytes wildOffsets = {0x10, 0x01, 0x00, 102, 0, 0, 1, 0};
  for (int i = 0; i < 94; ++i) wildOffsets.push_back(i < 4 ? 0 : 0xFF);  // every offset and length 0xFFFF
  struct Case {
    const char* name;
    Bytes bytes;
    bool expectClose;  // a complete but bad request is refused by closing
  } cases[] = {
      {"length below the header", {0x01, 0x01, 0x00, 0x04, 0, 0, 1, 0}, true},
      {"length beyond the largest packet", {0x01, 0x01, 0xFF, 0xFF, 0, 0, 1, 0}, true},
      {"batch before login", {0x01, 0x01, 0x00, 0x0A, 0, 0, 1, 0, 'x', 0}, true},
      {"login record too short", shortLogin, true},
      {"login offsets past its end", wildOffsets, false},
      {"unknown packet type", {0x55, 0x01, 0x00, 0x08, 0, 0, 1, 0}, true},
      {"random bytes", noise, false},
      {"header cut short", {0x12, 0x01, 0x00}, false},
  };
  for (const Case& c : cases) {
    RawClient client(endpoint.Port());
    ASSERT_TRUE(client.Connected()) << c.name;
    client.SendRaw(c.bytes);
    if (c.expectClose) {
      EXPECT_TRUE(client.ClosedByPeer()) << c.name;
    }
  }
  // The damage left no trace, and a real client is served as before.
  CDatabase db;
  ASSERT_NO_THROW(db.OpenEx(endpoint.ConnectString().c_str(), CDatabase::noOdbcDialog));
  EXPECT_NO_THROW(db.ExecuteSQL("INSERT INTO [after] VALUES (1)"));
  std::vector<std::string> batches = endpoint.Batches();
  EXPECT_EQ(std::count(batches.begin(), batches.end(), "INSERT INTO [after] VALUES (1)"), 1);
  EXPECT_EQ(batches.size(), 1u) << "a damaged request was logged";
}

// Each protocol version a server of 2000 to 2008 R2 may be reached with: the text comes
// whole (7.2 put headers before it), and result rows and counts decode on the driver side.
TEST(RecordingEndpoint, EveryTdsVersionDeliversBatchesWhole) {
  REQUIRE_ENDPOINT(endpoint);
  const std::string longText = "INSERT INTO [v] VALUES ('" + std::string(9000, '\xE9') + "')";
  for (const char* version : {"7.0", "7.1", "7.2", "7.3", "7.4"}) {
    CDatabase db;
    const std::string connect = endpoint.ConnectString() + ";TDS_Version=" + version;
    try {
      db.OpenEx(connect.c_str(), CDatabase::noOdbcDialog);
    } catch (const CDBException& e) {
      ADD_FAILURE() << version << ": " << e.m_strError.c_str();
      continue;
    }
    const std::string marker = std::string("INSERT INTO [v] VALUES ('") + version + "')";
    EXPECT_NO_THROW(db.ExecuteSQL(marker.c_str())) << version;
    EXPECT_NO_THROW(db.ExecuteSQL(longText.c_str())) << version;
    SQLHSTMT st = nullptr;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, db.GetConnectionHandle(), &st)));
    SQLINTEGER spid = 0;
    SQLLEN indicator = 0;
    EXPECT_TRUE(SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)"select @@spid", SQL_NTS))) << version;
    EXPECT_TRUE(SQL_SUCCEEDED(SQLFetch(st))) << version;
    EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(st, 1, SQL_C_SLONG, &spid, 0, &indicator))) << version;
    EXPECT_GE(spid, 51) << version;
    SQLCloseCursor(st);
    EXPECT_TRUE(SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)"INSERT INTO [a] VALUES (1); INSERT INTO [a] VALUES (2)",
                                            SQL_NTS)))
        << version;
    SQLLEN rows = -1;
    SQLRowCount(st, &rows);
    EXPECT_EQ(rows, 2) << version;
    SQLFreeHandle(SQL_HANDLE_STMT, st);

    std::vector<std::string> batches = endpoint.Batches();
    auto at = std::find(batches.begin(), batches.end(), marker);
    ASSERT_NE(at, batches.end()) << version;
    ASSERT_NE(at + 1, batches.end()) << version;
    EXPECT_TRUE(at[1] == testsupport::Latin1ToUtf8(longText)) << version << ": " << at[1].size() << " bytes";
  }
}

TEST(RecordingEndpoint, SigtermEndsItWithClientsConnectedAndTheLogWhole) {
  REQUIRE_ENDPOINT(endpoint);
  CDatabase first, second;
  ASSERT_TRUE(first.OpenEx(endpoint.ConnectString().c_str(), CDatabase::noOdbcDialog));
  ASSERT_TRUE(second.OpenEx(endpoint.ConnectString().c_str(), CDatabase::noOdbcDialog));
  first.ExecuteSQL("CREATE TABLE [a] (x int)");
  second.ExecuteSQL("INSERT INTO [a] VALUES (N'\xFC')");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(endpoint.Stop(), 0);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
  EXPECT_EQ(testsupport::ReadFile(endpoint.LogPath()),
            "CREATE TABLE [a] (x int)\r\ngo\r\nINSERT INTO [a] VALUES (N'\xC3\xBC')\r\ngo\r\n");
}

TEST(RecordingEndpoint, TakenPortIsReportedNotIgnored) {
  REQUIRE_ENDPOINT(first);
  testsupport::TdsEndpointOptions options;
  options.port = first.Port();
  testsupport::TdsEndpoint second(options);
  EXPECT_FALSE(second.Running());
  EXPECT_NE(second.Error().find("in use"), std::string::npos) << second.Error();
}

TEST(RecordingEndpoint, SplitBatchesKeepsEveryPiece) {
  using testsupport::SplitBatches;
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitBatches(""), V{});
  EXPECT_EQ(SplitBatches("a\r\ngo\r\n"), V{"a"});
  EXPECT_EQ(SplitBatches("a\r\ngo\r\n\r\ngo\r\nb\r\ngo\r\n"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitBatches("a\r\ngo\r\nhalf"), (V{"a", "half"}));
  EXPECT_EQ(SplitBatches("a\ngo\nb\r\ngo\r\n"), V{"a\ngo\nb"});
}

}  // namespace
