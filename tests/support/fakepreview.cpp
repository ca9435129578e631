#include "support/fakepreview.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "common/sqlserver.h"
#include "ui/core/previewdriver.h"

namespace testsupport {

struct Preview::Collector : uicore::IPreviewSink {
  std::mutex mutex;
  std::condition_variable shown;
  std::optional<uicore::PreviewPage> page;
  void ShowPage(const uicore::PreviewPage& p) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      page = p;
    }
    shown.notify_all();
  }
  std::optional<uicore::PreviewPage> Take() {
    std::lock_guard<std::mutex> lock(mutex);
    std::optional<uicore::PreviewPage> p = std::move(page);
    page.reset();
    return p;
  }
  // The driver is free before its sink sees the page: waiting for idle is not waiting for it.
  std::optional<uicore::PreviewPage> Await(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!shown.wait_for(lock, timeout, [&] { return page.has_value(); })) return std::nullopt;
    std::optional<uicore::PreviewPage> p = std::move(page);
    page.reset();
    return p;
  }
};

namespace {
PreviewWindow Await(uicore::PreviewStart started, Preview::Collector& collector, unsigned timeoutMs) {
  PreviewWindow w;
  if (started != uicore::PreviewStart::Started) return w;
  std::optional<uicore::PreviewPage> page = collector.Await(std::chrono::milliseconds(timeoutMs));
  if (!page) return w;
  w.finished = true;
  w.rows = std::move(page->rowTexts);
  w.lastWindow = page->lastPage;
  w.previousEnabled = page->previousEnabled;
  w.nextEnabled = page->nextEnabled;
  return w;
}
}  // namespace

Preview::Preview(CSQLServer& engine)
    : m_collector(std::make_unique<Collector>()),
      m_driver(std::make_unique<uicore::PreviewDriver>(engine, *m_collector)) {}

Preview::~Preview() = default;

PreviewWindow Preview::Select(CTable* table, unsigned timeoutMs) {
  m_collector->Take();
  return Await(m_driver->SelectTable(table), *m_collector, timeoutMs);
}

PreviewWindow Preview::Next(unsigned timeoutMs) {
  m_collector->Take();
  return Await(m_driver->NextPage(), *m_collector, timeoutMs);
}

PreviewWindow Preview::Previous(unsigned timeoutMs) {
  m_collector->Take();
  return Await(m_driver->PreviousPage(), *m_collector, timeoutMs);
}

CTable* FindTable(CSQLServer& engine, const std::string& name) {
  for (const auto& entry : engine.m_mapTables) {
    CTable* t = entry.second;
    if (!t) continue;
    if (name == t->m_strName.str() || name == t->m_strOwner.str() + "." + t->m_strName.str()) return t;
  }
  return nullptr;
}

std::vector<std::string> AllRows(CSQLServer& engine, CTable* table, int* windows) {
  std::vector<std::string> rows;
  int count = 0;
  Preview preview(engine);
  PreviewWindow w = preview.Select(table);
  for (;;) {
    ++count;
    rows.insert(rows.end(), w.rows.begin(), w.rows.end());
    // A window that ends without rows ends the table as well, whatever the flag says.
    if (!w.finished || w.lastWindow || w.rows.empty() || count > 100000) break;
    w = preview.Next();
  }
  if (windows) *windows = count;
  return rows;
}

}  // namespace testsupport
