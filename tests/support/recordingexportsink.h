// An export sink that keeps every call, for tests and for engine-driver: the worker and the pool
// threads call it at once, so each call takes the lock, as the window side's posting would.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "ui/core/exportworker.h"

namespace testsupport {

class RecordingExportSink : public uicore::IExportSink {
 public:
  struct ObjectRow {
    std::string name, count;
    bool first = false;
  };

  void AppendStatus(const std::string& line) override { Add(m_status, line); }
  void SetDialogPercent(int percent) override { Add(m_dialogPercents, percent); }
  void SetMainPercent(int percent) override { Add(m_mainPercents, percent); }
  void SetCounterText(const std::string& text) override { Add(m_counters, text); }
  void AddObjectRow(const std::string& name, const std::string& count, bool first) override {
    Add(m_rows, ObjectRow{name, count, first});
  }
  void AppendReport(const std::string& line) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_report += line;
  }
  void ShowMessage(const std::string& text) override { Add(m_messages, text); }
  void Finished(bool toServer, const std::string& message) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_finished;
    m_finishedToServer = toServer;
    m_finishMessage = message;
  }
  void EndedEarly() override {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_endedEarly;
  }

  std::vector<std::string> Status() const { return Get(m_status); }
  std::vector<int> DialogPercents() const { return Get(m_dialogPercents); }
  std::vector<int> MainPercents() const { return Get(m_mainPercents); }
  std::vector<std::string> Counters() const { return Get(m_counters); }
  std::vector<ObjectRow> Rows() const { return Get(m_rows); }
  std::vector<std::string> Messages() const { return Get(m_messages); }
  std::string Report() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_report;
  }
  int FinishedCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_finished;
  }
  int EndedEarlyCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_endedEarly;
  }

 private:
  template <class T>
  void Add(std::vector<T>& to, T value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    to.push_back(std::move(value));
  }
  template <class T>
  std::vector<T> Get(const std::vector<T>& from) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return from;
  }

  mutable std::mutex m_mutex;
  std::vector<std::string> m_status, m_counters, m_messages;
  std::vector<int> m_dialogPercents, m_mainPercents;
  std::vector<ObjectRow> m_rows;
  std::string m_report;
  int m_finished = 0;
  int m_endedEarly = 0;
  bool m_finishedToServer = false;
  std::string m_finishMessage;
};

}  // namespace testsupport
