// A connection that records statements instead of sending them: engine tests read what
// would have reached the server and make chosen statements fail.
#pragma once

#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/database.h"

namespace testsupport {

class FakeDatabase : public CDatabase {
 public:
  // Open from the start, like the connection the program hands to an engine.
  FakeDatabase() = default;

  bool OpenEx(const char* connect, DWORD = 0) override {
    std::lock_guard<std::mutex> lock(m_fakeMutex);
    m_connect = connect ? connect : "";
    m_open = true;
    return true;
  }
  bool IsOpen() const override {
    std::lock_guard<std::mutex> lock(m_fakeMutex);
    return m_open;
  }
  void Close() override {
    std::lock_guard<std::mutex> lock(m_fakeMutex);
    m_open = false;
  }

  // Every attempt is recorded, the failing ones too, with the time-out in force.
  void ExecuteSQL(const char* sql) override {
    std::lock_guard<std::mutex> lock(m_fakeMutex);
    if (!m_open) throw CDBException(-1, "ExecuteSQL: the connection is not open", "08003");
    const std::string text = sql ? sql : "";
    m_statements.push_back(text);
    m_timeouts.push_back(GetQueryTimeout());
    const int n = int(m_statements.size());
    const bool matches = !m_failContaining.empty() && text.find(m_failContaining) != std::string::npos;
    if (m_failOn.count(n) || matches) {
      m_failed.push_back(n);
      throw CDBException(-1, m_failMessage.c_str(), "42000", 0);
    }
    if (m_otherOn.count(n)) {
      m_failed.push_back(n);
      throw std::runtime_error("fake: not a database error");
    }
  }

  // Statement numbers count from 1 over the fake's life.
  void FailOnStatement(int n) { std::lock_guard<std::mutex> lock(m_fakeMutex); m_failOn.insert(n); }
  void FailWhenContains(std::string text) { std::lock_guard<std::mutex> lock(m_fakeMutex); m_failContaining = std::move(text); }
  // Some callers also catch "any other exception": this raises one that is not CDBException.
  void ThrowOtherOnStatement(int n) { std::lock_guard<std::mutex> lock(m_fakeMutex); m_otherOn.insert(n); }
  void SetFailMessage(std::string message) { std::lock_guard<std::mutex> lock(m_fakeMutex); m_failMessage = std::move(message); }

  std::vector<std::string> Statements() const { std::lock_guard<std::mutex> lock(m_fakeMutex); return m_statements; }
  std::vector<DWORD> Timeouts() const { std::lock_guard<std::mutex> lock(m_fakeMutex); return m_timeouts; }
  std::vector<int> Failed() const { std::lock_guard<std::mutex> lock(m_fakeMutex); return m_failed; }
  std::string Connect() const { std::lock_guard<std::mutex> lock(m_fakeMutex); return m_connect; }

 private:
  mutable std::mutex m_fakeMutex;
  bool m_open = true;
  std::string m_connect;
  std::vector<std::string> m_statements;
  std::vector<DWORD> m_timeouts;
  std::vector<int> m_failed;
  std::set<int> m_failOn;
  std::set<int> m_otherOn;
  std::string m_failContaining;
  std::string m_failMessage = "State:42000,Native:0,Message:fake failure";
};

}  // namespace testsupport
