// The recording TDS endpoint (tests/tds/recording-endpoint) as a test resource: started
// on a free loopback port with its log in a temporary folder, stopped with SIGTERM, its
// log read back as the list of batches it received. Statements reach it through the real
// FreeTDS ODBC driver and the program's own connection string.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/fixtures.h"

namespace testsupport {

// Why a test of the real ODBC path cannot run here ("" when it can): FreeTDS's ODBC driver
// must be registered with unixODBC (as "SQL Server" or "FreeTDS") and Python 3 present.
std::string FreeTdsUnavailableReason();

struct TdsEndpointOptions {
  std::string refuse;                   // --refuse REGEX ("" = none)
  bool refuseLogin = false;             // --refuse-login
  std::optional<std::string> password;  // --password PWD: other passwords are refused
  int port = 0;                         // 0 = any free port
  int dropAt = 0;                       // --drop-at K: the K-th INSERT batch closes its connection
  int exitAt = 0;                       // --exit-at K: the endpoint ends at the K-th INSERT batch
};

inline TdsEndpointOptions RefusingStatements(std::string regex) {
  TdsEndpointOptions o;
  o.refuse = std::move(regex);
  return o;
}
inline TdsEndpointOptions RefusingLogins() {
  TdsEndpointOptions o;
  o.refuseLogin = true;
  return o;
}
inline TdsEndpointOptions AcceptingOnly(std::string password) {
  TdsEndpointOptions o;
  o.password = std::move(password);
  return o;
}

class TdsEndpoint {
 public:
  explicit TdsEndpoint(TdsEndpointOptions options = {});
  ~TdsEndpoint();  // stops the endpoint if it still runs
  TdsEndpoint(const TdsEndpoint&) = delete;
  TdsEndpoint& operator=(const TdsEndpoint&) = delete;

  // Whether it started and listens; otherwise Error() says why (its standard error).
  bool Running() const { return m_pid > 0 && m_port > 0; }
  const std::string& Error() const { return m_error; }
  int Port() const { return m_port; }
  pid_t Pid() const { return m_pid; }
  const std::string& LogPath() const { return m_log; }

  // The SERVER value that reaches it: "127.0.0.1,PORT".
  std::string Server() const;
  // The program's connection string ("DRIVER=SQL SERVER;SERVER=...;UID=...;PWD=...;DATABASE=...").
  std::string ConnectString(const std::string& user = "sa", const std::string& password = "secret",
                            const std::string& database = "Recovered") const;

  // Every batch received so far, in the order they were written (UTF-8).
  std::vector<std::string> Batches() const;
  // The INSERT statements a server would have stored (the endpoint's --stored file), one
  // each, blanks for their line breaks.
  std::vector<std::string> Stored() const;

  // Sends SIGTERM and waits up to `timeoutMs`. Returns the exit status (128 + signal when a
  // signal ended it), or -1 when it did not end in time (it is then killed).
  int Stop(int timeoutMs = 10000);

 private:
  TempDir m_dir;
  std::string m_log;
  std::string m_stored;
  std::string m_error;
  pid_t m_pid = -1;
  int m_port = 0;
  int m_stdout = -1;  // read end of the endpoint's standard output
};

// The log's text cut into batches: each batch is followed by "\r\ngo\r\n". A batch that
// itself holds that separator comes back in pieces; a trailing piece without one is kept.
std::vector<std::string> SplitBatches(std::string_view log);

// The program's 8-bit texts reach the server as ISO 8859-1 through FreeTDS (each byte one
// UTF-16 unit), and the endpoint writes them in UTF-8: this gives the text to expect.
std::string Latin1ToUtf8(std::string_view text);
// The way back, for reading the log as the program's 8-bit text: each character below 256 one
// byte, any other '?'.
std::string Utf8ToLatin1(std::string_view text);

}  // namespace testsupport

#define REQUIRE_FREETDS()                                                       \
  do {                                                                          \
    std::string why_ = ::testsupport::FreeTdsUnavailableReason();              \
    if (!why_.empty()) GTEST_SKIP() << why_;                                    \
  } while (0)

#define REQUIRE_ENDPOINT(var, ...)                                                  \
  REQUIRE_FREETDS();                                                                \
  ::testsupport::TdsEndpoint var{__VA_ARGS__};                                      \
  ASSERT_TRUE(var.Running()) << "the recording endpoint did not start: " << var.Error()
