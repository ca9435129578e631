#include "support/tdsendpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/cstring.h"
#include "platform/database.h"

extern char** environ;

namespace testsupport {

namespace {

const char* const kPython = "/usr/bin/python3";

}  // namespace

std::string FreeTdsUnavailableReason() {
  if (access(PELLWYN_TDS_ENDPOINT, X_OK) != 0) return std::string("the endpoint script is missing: ") + PELLWYN_TDS_ENDPOINT;
  if (access(kPython, X_OK) != 0) return "python3 is not installed";
  for (const char* name : {"SQL Server", "FreeTDS"}) {
    std::optional<CString> attributes = RegisteredOdbcDriver(name);
    if (attributes && attributes->Find("libtdsodbc") != -1) return std::string();
  }
  return "FreeTDS's ODBC driver (tdsodbc) is not registered with unixODBC";
}

TdsEndpoint::TdsEndpoint(TdsEndpointOptions options) {
  m_log = m_dir.file("batches.log");
  m_stored = m_dir.file("stored.log");
  const std::string errorFile = m_dir.file("stderr.txt");
  std::vector<std::string> args = {PELLWYN_TDS_ENDPOINT, "--port", std::to_string(options.port), "--log", m_log,
                                   "--stored", m_stored};
  if (options.dropAt > 0) args.insert(args.end(), {"--drop-at", std::to_string(options.dropAt)});
  if (options.exitAt > 0) args.insert(args.end(), {"--exit-at", std::to_string(options.exitAt)});
  if (!options.refuse.empty()) args.insert(args.end(), {"--refuse", options.refuse});
  if (options.refuseLogin) args.push_back("--refuse-login");
  if (options.password) args.insert(args.end(), {"--password", *options.password});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    m_error = std::string("pipe: ") + std::strerror(errno);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    m_error = std::string("posix_spawn: ") + std::strerror(rc);
    return;
  }
  m_pid = pid;
  m_stdout = out[0];

  // The endpoint names its port once it listens; until then nothing can connect.
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p = {m_stdout, POLLIN, 0};
    if (poll(&p, 1, int(left.count())) <= 0) continue;
    char buffer[256];
    ssize_t got = read(m_stdout, buffer, sizeof buffer);
    if (got <= 0) break;  // it ended
    line.append(buffer, size_t(got));
  }
  const std::string prefix = "listening on 127.0.0.1:";
  if (line.compare(0, prefix.size(), prefix) == 0) m_port = std::atoi(line.c_str() + prefix.size());
  if (m_port <= 0) {
    Stop(2000);
    m_error = "no port announced; stderr: " + ReadFile(errorFile);
  }
}

TdsEndpoint::~TdsEndpoint() {
  if (m_pid > 0) Stop();
}

std::string TdsEndpoint::Server() const { return "127.0.0.1," + std::to_string(m_port); }

std::string TdsEndpoint::ConnectString(const std::string& user, const std::string& password,
                                       const std::string& database) const {
  return SqlServerConnectString(Server().c_str(), user.c_str(), password.c_str(), database.c_str()).str();
}

std::vector<std::string> TdsEndpoint::Batches() const { return SplitBatches(ReadFile(m_log)); }

std::vector<std::string> TdsEndpoint::Stored() const {
  std::vector<std::string> lines;
  const std::string text = ReadFile(m_stored);
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

int TdsEndpoint::Stop(int timeoutMs) {
  if (m_pid <= 0) return -1;
  kill(m_pid, SIGTERM);
  int status = 0;
  pid_t done = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while ((done = waitpid(m_pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  int result = -1;
  if (done == m_pid) {
    result = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  } else {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, &status, 0);
  }
  m_pid = -1;
  if (m_stdout >= 0) close(m_stdout);
  m_stdout = -1;
  return result;
}

std::vector<std::string> SplitBatches(std::string_view log) {
  static constexpr std::string_view kSeparator = "\r\ngo\r\n";
  std::vector<std::string> batches;
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find(kSeparator, at);
    if (end == std::string_view::npos) {
      batches.emplace_back(log.substr(at));
      break;
    }
    batches.emplace_back(log.substr(at, end - at));
    at = end + kSeparator.size();
  }
  return batches;
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += char(c);
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Utf8ToLatin1(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = text[i];
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + length > text.size()) length = text.size() - i;
    if (length == 2 && c < 0xC4) {
      out += char(((c & 0x1F) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
    } else {
      out += length == 1 && c < 0x80 ? char(c) : '?';
    }
    i += length;
  }
  return out;
}

}  // namespace testsupport
