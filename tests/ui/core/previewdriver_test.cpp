// The preview driver against a scripted record thread: pages of 500, the buttons, the cells
// the list shows, and a second selection while a page is being read.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/fakeengine.h"
#include "ui/core/previewdriver.h"

namespace {

using coretest::FakeEngine;
using uicore::PreviewDriver;
using uicore::PreviewPage;
using uicore::PreviewStart;
using namespace std::chrono_literals;

class PageSink : public uicore::IPreviewSink {
 public:
  void ShowPage(const PreviewPage& page) override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      pages.push_back(page);
    }
    m_shown.notify_all();
  }
  std::vector<PreviewPage> Pages() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return pages;
  }
  // The driver is idle before the sink has the page: wait for the page itself.
  bool WaitForPages(size_t count, std::chrono::milliseconds timeout = 20s) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_shown.wait_for(lock, timeout, [&] { return pages.size() >= count; });
  }
  // The first page not yet taken, once it is shown.
  PreviewPage Take() {
    if (!WaitForPages(m_taken + 1)) return PreviewPage();
    std::lock_guard<std::mutex> lock(m_mutex);
    return pages[m_taken++];
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_shown;
  std::vector<PreviewPage> pages;
  size_t m_taken = 0;
};

std::vector<std::string> RowTexts(int first, int last) {
  std::vector<std::string> rows;
  for (int i = first; i <= last; ++i) rows.push_back(std::to_string(i) + "$#$name " + std::to_string(i) + "$#$");
  return rows;
}

// A table whose column list holds a dropped column between two live ones.
struct TableWithDroppedColumn {
  CTable table;
  TableWithDroppedColumn() {
    for (const char* name : {"id", "old", "name"}) {
      auto* c = new CColumn();
      c->m_strName = name;
      c->m_bDropped = std::string(name) == "old";
      table.AppendColumn(c);
    }
    table.m_strName = "T";
  }
};

PreviewPage Shown(PreviewDriver& driver, PageSink& sink, PreviewStart started) {
  EXPECT_EQ(started, PreviewStart::Started);
  PreviewPage page = sink.Take();
  EXPECT_TRUE(driver.WaitIdle(20s));
  return page;
}

}  // namespace

// 1200 rows: 500, 500 and 200; the buttons follow the pages; back from page 3 to page 2 shows
// the same rows as before.
TEST(PreviewDriver, TwelveHundredRowsInPagesOf500) {
  FakeEngine engine;
  engine.rows = RowTexts(1, 1200);
  TableWithDroppedColumn t;
  PageSink sink;
  PreviewDriver driver(engine, sink);

  struct Expect {
    int page, first, last;
    bool previous, next, lastPage;
  };
  const Expect forward[] = {{1, 1, 500, false, true, false}, {2, 501, 1000, true, true, false},
                            {3, 1001, 1200, true, false, true}};
  for (const Expect& e : forward) {
    SCOPED_TRACE(e.page);
    const PreviewPage p = Shown(driver, sink, e.page == 1 ? driver.SelectTable(&t.table) : driver.NextPage());
    EXPECT_EQ(p.table, &t.table);
    EXPECT_EQ(p.pageNumber, e.page);
    EXPECT_EQ(driver.PageNumber(), e.page);
    EXPECT_EQ(p.rowTexts, RowTexts(e.first, e.last));
    EXPECT_EQ(p.rows.size(), size_t(e.last - e.first + 1));
    EXPECT_EQ(p.previousEnabled, e.previous);
    EXPECT_EQ(p.nextEnabled, e.next);
    EXPECT_EQ(p.lastPage, e.lastPage);
    EXPECT_EQ(driver.PreviousEnabled(), e.previous);
    EXPECT_EQ(driver.NextEnabled(), e.next);
    EXPECT_EQ(p.headers, (std::vector<std::string>{"id", "old", "name"}));
  }
  const PreviewPage back = Shown(driver, sink, driver.PreviousPage());
  EXPECT_EQ(back.pageNumber, 2);
  EXPECT_EQ(back.rowTexts, RowTexts(501, 1000));
  EXPECT_TRUE(back.previousEnabled);
  EXPECT_TRUE(back.nextEnabled);
  const PreviewPage first = Shown(driver, sink, driver.PreviousPage());
  EXPECT_EQ(first.pageNumber, 1);
  EXPECT_EQ(first.rowTexts, RowTexts(1, 500));
  EXPECT_FALSE(first.previousEnabled);
  EXPECT_EQ(sink.Pages().size(), 5u);
  EXPECT_EQ(engine.recordThreads, 5);
}

TEST(PreviewDriver, CellsOfRowTexts) {
  struct Case {
    const char* text;
    std::vector<std::string> cells;
  } cases[] = {
      {"a$#$$#$c", {"a", "c"}},  // the empty piece is dropped: c moves into the second column
      {"a$#$b$#$c$#$", {"a", "b", "c"}},
      {"$#$a", {"a"}},
      {"Empty$#$x$#$Empty$#$", {" ", "x", " "}},
      {"Emptyish$#$", {"Emptyish"}},
      {"", {}},
      {"$#$$#$", {}},
      {"a$#b", {"a$#b"}},
  };
  for (const Case& c : cases) EXPECT_EQ(uicore::SplitRowText(c.text), c.cells) << c.text;

  // A text with no piece adds no row; the row count is that of the list.
  FakeEngine engine;
  engine.rows = {"a$#$$#$c", "$#$", "Empty$#$b$#$"};
  TableWithDroppedColumn t;
  PageSink sink;
  PreviewDriver driver(engine, sink);
  const PreviewPage p = Shown(driver, sink, driver.SelectTable(&t.table));
  EXPECT_EQ(p.rowTexts.size(), 3u);
  EXPECT_EQ(p.rows, (std::vector<std::vector<std::string>>{{"a", "c"}, {" ", "b"}}));
  EXPECT_FALSE(p.nextEnabled);
}

// Another table selected, or a button pressed, while a page is read: refused, and the
// selection goes back to the table being read; a second driver of the same engine is refused
// as well. Only the first page is read and shown.
TEST(PreviewDriver, ReselectionWhileAPageIsRead) {
  FakeEngine engine;
  engine.rows = RowTexts(1, 800);
  coretest::Gate gate;
  engine.previewGate = &gate;
  TableWithDroppedColumn first, second;
  PageSink sink;
  PreviewDriver driver(engine, sink);
  ASSERT_EQ(driver.SelectTable(&first.table), PreviewStart::Started);
  ASSERT_TRUE(gate.WaitReached());
  EXPECT_TRUE(driver.Running());
  EXPECT_EQ(driver.SelectTable(&second.table), PreviewStart::Busy);
  EXPECT_EQ(driver.Table(), &first.table);
  EXPECT_EQ(driver.NextPage(), PreviewStart::Busy);
  EXPECT_FALSE(driver.NextEnabled());
  PageSink otherSink;
  PreviewDriver other(engine, otherSink);
  EXPECT_EQ(other.SelectTable(&second.table), PreviewStart::Busy);
  gate.Open();
  ASSERT_TRUE(sink.WaitForPages(1));
  ASSERT_TRUE(driver.WaitIdle(20s));
  const std::vector<PreviewPage> pages = sink.Pages();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].table, &first.table);
  EXPECT_EQ(pages[0].rowTexts, RowTexts(1, 500));
  EXPECT_EQ(engine.recordThreads, 1);
  EXPECT_TRUE(otherSink.Pages().empty());
  // Once the page is shown the other table can be selected.
  sink.Take();
  const PreviewPage p = Shown(driver, sink, driver.SelectTable(&second.table));
  EXPECT_EQ(p.table, &second.table);
  EXPECT_EQ(p.pageNumber, 1);
}

TEST(PreviewDriver, NoPreviewWhileAnExportReadsRecords) {
  FakeEngine engine;
  engine.rows = RowTexts(1, 10);
  TableWithDroppedColumn t;
  PageSink sink;
  PreviewDriver driver(engine, sink);
  engine.m_bExportMode = 1;
  EXPECT_EQ(driver.SelectTable(&t.table), PreviewStart::ExportRunning);
  EXPECT_EQ(driver.NextPage(), PreviewStart::Unavailable);  // nothing selected yet
  EXPECT_EQ(driver.SelectTable(nullptr), PreviewStart::Unavailable);
  EXPECT_EQ(engine.recordThreads, 0);
  EXPECT_FALSE(driver.Running());
}

// The window closes while a page is read: the driver goes at once, and the page that comes
// later reaches no one.
TEST(PreviewDriver, DestroyedWhileAPageIsRead) {
  FakeEngine engine;
  engine.rows = RowTexts(1, 10);
  coretest::Gate gate;
  engine.previewGate = &gate;
  TableWithDroppedColumn t;
  PageSink sink;
  {
    PreviewDriver driver(engine, sink);
    ASSERT_EQ(driver.SelectTable(&t.table), PreviewStart::Started);
    ASSERT_TRUE(gate.WaitReached());
  }
  gate.Open();
  EXPECT_TRUE(engine.m_pStatus->m_bRecordThreadDone.WaitFor(1, 20s));
  EXPECT_TRUE(sink.Pages().empty());
  // The engine is free for a new driver.
  PreviewDriver again(engine, sink);
  engine.previewGate = nullptr;
  const PreviewPage p = Shown(again, sink, again.SelectTable(&t.table));
  EXPECT_EQ(p.rowTexts, RowTexts(1, 10));
}

// A window that answers each page with ">" the moment it sees it (here the sink itself, on
// the driver's own thread) gets the next page every time, to the table's end.
TEST(PreviewDriver, NextPressedFromInsideShowPage) {
  class Pressing : public uicore::IPreviewSink {
   public:
    PreviewDriver* driver = nullptr;
    std::mutex mutex;
    std::condition_variable done;
    std::vector<int> pages;
    std::vector<PreviewStart> presses;
    void ShowPage(const PreviewPage& page) override {
      const bool more = page.nextEnabled;
      const PreviewStart pressed = more ? driver->NextPage() : PreviewStart::Unavailable;
      std::lock_guard<std::mutex> lock(mutex);
      pages.push_back(page.pageNumber);
      if (more) presses.push_back(pressed);
      done.notify_all();
    }
  };
  FakeEngine engine;
  engine.rows = RowTexts(1, 1700);
  TableWithDroppedColumn t;
  Pressing sink;
  PreviewDriver driver(engine, sink);
  sink.driver = &driver;
  ASSERT_EQ(driver.SelectTable(&t.table), PreviewStart::Started);
  std::unique_lock<std::mutex> lock(sink.mutex);
  ASSERT_TRUE(sink.done.wait_for(lock, 20s, [&] { return sink.pages.size() == 4; }));
  EXPECT_EQ(sink.pages, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(sink.presses, std::vector<PreviewStart>(3, PreviewStart::Started));
  lock.unlock();
  ASSERT_TRUE(driver.WaitIdle(20s));
  EXPECT_EQ(engine.recordThreads, 4);
  EXPECT_EQ(driver.PageNumber(), 4);
  EXPECT_FALSE(driver.NextEnabled());
  EXPECT_TRUE(driver.PreviousEnabled());
}
