// The scan follower against a scripted engine: how it counts, when it reaches 50 %, what it
// reports, and how Stop and Close end a recovery at any moment without a thread left waiting.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "support/catalogengine.h"
#include "support/fakeengine.h"
#include "support/fixtures.h"
#include "ui/core/scanfollower.h"

namespace {

using coretest::FakeEngine;
using coretest::ScanScript;
using uicore::ScanFollower;
using uicore::ScanFollowerOptions;
using namespace std::chrono_literals;

// Keeps every report in order, as text.
class RecordingSink : public uicore::IScanProgressSink {
 public:
  void ShowFormat(const std::string& f) override { Add("format " + f); }
  void ShowDatabaseName(const std::string& n) override { Add("name " + n); }
  void ShowPercent(int p) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    percents.push_back(p);
  }
  void ShowPagesRead(long long n) override { Add("pages " + std::to_string(n)); }
  void FillObjectTree() override { Add("tree"); }
  void ShowCounts(const uicore::ObjectCounts& c) override {
    Add("counts " + uicore::CountText(c.tables) + " " + uicore::CountText(c.views) + " " +
        uicore::CountText(c.procedures) + " " + uicore::CountText(c.rules) + " " + uicore::CountText(c.triggers) +
        " " + uicore::CountText(c.functions));
  }
  void RecoveryComplete() override { Add("complete"); }
  void ScanEnded() override { Add("ended"); }

  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return events;
  }
  std::vector<int> Percents() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return percents;
  }
  bool WaitFor(const std::string& event, std::chrono::milliseconds timeout = 20s) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_added.wait_for(lock, timeout,
                            [&] { return std::find(events.begin(), events.end(), event) != events.end(); });
  }

 private:
  void Add(std::string e) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      events.push_back(std::move(e));
    }
    m_added.notify_all();
  }
  std::mutex m_mutex;
  std::condition_variable m_added;
  std::vector<std::string> events;
  std::vector<int> percents;
};

// Answers the stop question and counts how often it was asked.
struct Answer {
  bool yes;
  int asked = 0;
  uicore::AskYesNo Ask() {
    return [this](const std::string& question, const std::string& title) {
      EXPECT_EQ(question, ScanFollower::kStopQuestion);
      EXPECT_EQ(title, ScanFollower::kStopTitle);
      ++asked;
      return yes;
    };
  }
};

ScanFollowerOptions Options(FakeEngine& engine, int handOverEvery) {
  ScanFollowerOptions o;
  o.format = "2008 Format";
  o.handOverEvery = handOverEvery;
  if (handOverEvery > 1) o.handOver = engine.HandOver();
  return o;
}

const std::vector<std::string> kCompleteTail = {"tree", "counts 3 (3) 1 (1) 2 (2) 0 (0) 0 (0) 4 (4)", "complete"};

// The end of the scan thread may come among the dialog's reports at any point.
std::vector<std::string> WithoutEnded(std::vector<std::string> events) {
  events.erase(std::remove(events.begin(), events.end(), "ended"), events.end());
  return events;
}

// The reports ending with a filled tree.
bool EndsComplete(std::vector<std::string> events) {
  events = WithoutEnded(std::move(events));
  return events.size() >= kCompleteTail.size() &&
         std::equal(kCompleteTail.begin(), kCompleteTail.end(), events.end() - long(kCompleteTail.size()));
}

}  // namespace

// Page by page, and in batches as the program asks the 2005/2008 engine for: every page is
// counted once, the census is never released ahead of the count, and "ProgressRdyEvent" is
// set only when the last page has been counted.
TEST(ScanFollower, CountsAThousandPagesToExactlyAThousand) {
  testsupport::ModuleFolderScope scope;
  for (int every : {1, 64, 5000}) {
    SCOPED_TRACE(every);
    FakeEngine engine;
    RecordingSink sink;
    ScanFollower follower(engine, sink, Options(engine, every));
    std::vector<std::pair<int, long long>> released;  // census page, pages counted then
    engine.onReleased = [&](int n) { released.emplace_back(n, follower.PagesCounted()); };
    follower.Start();
    ASSERT_TRUE(follower.WaitUntilFinished(20s));
    EXPECT_EQ(follower.PagesCounted(), 1000);
    EXPECT_TRUE(follower.Complete());
    EXPECT_EQ(follower.SysRounds(), 3);
    EXPECT_TRUE(engine.parseComplete);
    EXPECT_EQ(engine.handOvers, every == 1 ? 1000 : (1000 + every - 1) / every);
    for (const auto& [page, counted] : released) EXPECT_EQ(counted, page);
    EXPECT_EQ(engine.progressReadySeenAt, 1000);

    // The bar climbs to 50 % with the pages, then 60, 70 and 100 at the hand-shakes.
    std::vector<int> percents = sink.Percents();
    ASSERT_GE(percents.size(), 4u);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(std::vector<int>(percents.end() - 4, percents.end()), (std::vector<int>{50, 60, 70, 100}));
    if (every == 1) EXPECT_EQ(percents.size(), 51u + 3u);  // 0 (page 1 of 1000) to 50, one call each
    EXPECT_EQ(follower.Percent(), 100);

    const std::vector<std::string> events = sink.Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "name FakeDb"), 1);
    EXPECT_EQ(events.front(), "format 2008 Format");
    EXPECT_EQ(std::count(events.begin(), events.end(), "pages 1000"), 1);
    EXPECT_TRUE(EndsComplete(events));
    EXPECT_TRUE(sink.WaitFor("ended"));
  }
}

// Between the hand-overs of a batching census the window's timer still sees the pages go by.
TEST(ScanFollower, TheTimerSeesPagesBetweenHandOvers) {
  testsupport::ModuleFolderScope scope;
  ScanScript script;
  script.gateAtPage = 600;
  FakeEngine engine(script);
  RecordingSink sink;
  ScanFollower follower(engine, sink, Options(engine, 5000));
  follower.Start();
  ASSERT_TRUE(engine.scanGate.WaitReached());
  EXPECT_EQ(engine.handOvers, 0);
  EXPECT_EQ(follower.PagesCounted(), 599);
  EXPECT_EQ(follower.Percent(), 29);
  EXPECT_TRUE(sink.Percents().empty());
  engine.scanGate.Open();
  ASSERT_TRUE(follower.WaitUntilFinished(20s));
  EXPECT_EQ(follower.PagesCounted(), 1000);
  EXPECT_EQ(follower.Percent(), 100);
  EXPECT_EQ(engine.handOvers, 1);
}

// The census ends before the count reaches the total (the engine says all pages are read):
// the bar goes to 50 % at that page and the page thread ends there.
TEST(ScanFollower, AllPagesReadBeforeTheTotalEndsTheCountAtThatPage) {
  testsupport::ModuleFolderScope scope;
  ScanScript script;
  script.pages = 1000;
  script.allPagesReadWith = 400;
  FakeEngine engine(script);
  RecordingSink sink;
  ScanFollower follower(engine, sink, Options(engine, 1));
  follower.Start();
  ASSERT_TRUE(follower.WaitUntilFinished(20s));
  EXPECT_EQ(follower.PagesCounted(), 400);
  EXPECT_TRUE(follower.ProgressReady());
  const std::vector<int> percents = sink.Percents();
  ASSERT_GE(percents.size(), 5u);
  EXPECT_EQ(percents[percents.size() - 5], 19);  // page 399 of 1000
  EXPECT_EQ(percents[percents.size() - 4], 50);
  EXPECT_TRUE(follower.Complete());
}

// A census that reads nothing, or whose total is not known: no division by zero, the bar
// shows 50 % and the recovery goes on to the end.
TEST(ScanFollower, TotalOfZeroShowsFiftyPercent) {
  testsupport::ModuleFolderScope scope;
  ScanScript script;
  script.totalPages = 0;
  script.pages = 0;
  FakeEngine engine(script);
  RecordingSink sink;
  ScanFollower follower(engine, sink, Options(engine, 1));
  follower.Start();
  ASSERT_TRUE(follower.WaitUntilFinished(20s));
  EXPECT_EQ(sink.Percents(), (std::vector<int>{50, 60, 70, 100}));
  EXPECT_TRUE(follower.ProgressReady());
  EXPECT_TRUE(follower.Complete());
}

TEST(ScanFollower, StopAnsweredNoChangesNothing) {
  testsupport::ModuleFolderScope scope;
  ScanScript script;
  script.gateAtPage = 500;
  FakeEngine engine(script);
  RecordingSink sink;
  ScanFollower follower(engine, sink, Options(engine, 1));
  follower.Start();
  ASSERT_TRUE(engine.scanGate.WaitReached());
  Answer no{false};
  EXPECT_FALSE(follower.Stop(no.Ask()));
  EXPECT_FALSE(follower.Close(no.Ask()));
  EXPECT_EQ(no.asked, 2);
  EXPECT_FALSE(follower.Stopped());
  EXPECT_EQ(engine.m_pStatus->m_bStopScan, 0);
  engine.scanGate.Open();
  ASSERT_TRUE(follower.WaitUntilFinished(20s));
  EXPECT_EQ(follower.PagesCounted(), 1000);
  EXPECT_TRUE(follower.Complete());
  EXPECT_TRUE(EndsComplete(sink.Events()));
  // After completion Stop asks nothing and closes the dialog.
  Answer yes{true};
  EXPECT_TRUE(follower.Stop(yes.Ask()));
  EXPECT_EQ(yes.asked, 0);
}

// Yes to the question, in the census and at a hand-shake: the dialog closes at once, the tree
// is not filled, nothing more is reported but the end of the scan thread, which leaves the
// engine without anyone releasing it.
TEST(ScanFollower, StopAnsweredYesEndsEverything) {
  testsupport::ModuleFolderScope scope;
  for (int where : {0, 1, 2, 3}) {
    SCOPED_TRACE(where);
    ScanScript script;
    if (where == 0) script.gateAtPage = 500;
    else script.gateAtHandShake = where;
    FakeEngine engine(script);
    RecordingSink sink;
    ScanFollower follower(engine, sink, Options(engine, 1));
    follower.Start();
    ASSERT_TRUE(engine.scanGate.WaitReached());
    Answer yes{true};
    ASSERT_TRUE(follower.Stop(yes.Ask()));
    EXPECT_EQ(yes.asked, 1);
    EXPECT_TRUE(follower.Stopped());
    EXPECT_EQ(engine.m_pStatus->m_bStopScan, 1);
    const std::vector<std::string> reported = WithoutEnded(sink.Events());
    const std::vector<int> percents = sink.Percents();
    ASSERT_TRUE(follower.WaitUntilFinished(20s));  // the gate is never opened: the stop alone ends the scan
    EXPECT_FALSE(engine.parseComplete);
    EXPECT_FALSE(follower.Complete());
    const std::vector<std::string> events = sink.Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "tree"), 0);
    // Only the end of the scan thread may come after Stop.
    EXPECT_TRUE(sink.WaitFor("ended"));
    EXPECT_EQ(WithoutEnded(sink.Events()), reported);
    EXPECT_EQ(sink.Percents(), percents);
    if (where == 0) EXPECT_EQ(follower.PagesCounted(), 499);
    else EXPECT_EQ(follower.SysRounds(), where - 1);
  }
}

// Close (or Esc) while the scan runs asks the same question; Yes ends the recovery. A second
// recovery right after, on a new engine, is not disturbed by the first: exact counts, and the
// closed dialog hears nothing more.
TEST(ScanFollower, CloseDuringTheScanThenASecondScan) {
  testsupport::ModuleFolderScope scope;
  ScanScript script;
  script.gateAtHandShake = 2;
  FakeEngine first(script);
  RecordingSink firstSink;
  {
    ScanFollower follower(first, firstSink, Options(first, 1));
    follower.Start();
    ASSERT_TRUE(first.scanGate.WaitReached());
    Answer yes{true};
    ASSERT_TRUE(follower.Close(yes.Ask()));
    EXPECT_EQ(yes.asked, 1);
    EXPECT_FALSE(follower.Stopped());  // Close is not Stop: the status pane keeps its text
    ASSERT_TRUE(follower.WaitUntilFinished(20s));
  }
  const std::vector<std::string> closed = firstSink.Events();
  EXPECT_EQ(std::count(closed.begin(), closed.end(), "tree"), 0);

  FakeEngine second;
  RecordingSink secondSink;
  ScanFollower follower(second, secondSink, Options(second, 1));
  follower.Start();
  ASSERT_TRUE(follower.WaitUntilFinished(20s));
  EXPECT_EQ(follower.PagesCounted(), 1000);
  EXPECT_EQ(second.progressReadySeenAt, 1000);
  EXPECT_TRUE(follower.Complete());
  EXPECT_EQ(firstSink.Events(), closed);
  // Closing a finished recovery asks nothing.
  Answer yes{true};
  EXPECT_TRUE(follower.Close(yes.Ask()));
  EXPECT_EQ(yes.asked, 0);
}

// A follower that goes while the scan runs (the window closed without a question) leaves
// nothing waiting: its destructor stops the scan, and the engine's scan thread leaves.
TEST(ScanFollower, DestroyedMidScanStopsTheRecovery) {
  testsupport::ModuleFolderScope scope;
  ScanScript script;
  script.gateAtPage = 300;
  FakeEngine engine(script);
  RecordingSink sink;
  {
    ScanFollower follower(engine, sink, Options(engine, 1));
    follower.Start();
    ASSERT_TRUE(engine.scanGate.WaitReached());
  }
  EXPECT_EQ(engine.m_pStatus->m_bStopScan, 1);
  EXPECT_TRUE(engine.m_bBusy.WaitFor(0, 20s));
}

// A census that sees the stop flag clears "PageRead" as it leaves, which can take away the
// wake-up Stop gave the page thread: Close must return all the same, at once.
TEST(ScanFollower, CloseReturnsWhenTheStoppedCensusClearsItsSignal) {
  testsupport::ModuleFolderScope scope;
  testsupport::CatalogEngine engine;
  std::atomic<bool> waiting{false};
  engine.m_fnScan = [&](testsupport::CatalogEngine& e) {
    CEngineStatus* status = e.m_pStatus;
    waiting = true;
    while (!status->m_bStopScan) WaitForEvent(status->m_hRecordEvent, 1000);
    const auto until = std::chrono::steady_clock::now() + 300ms;
    while (std::chrono::steady_clock::now() < until) ResetEvent(status->m_hPageRead);
  };
  RecordingSink sink;
  ScanFollower follower(engine, sink);
  follower.Start();
  while (!waiting) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(20ms);  // the page thread is asleep on "PageRead"
  Answer yes{true};
  auto closed = std::async(std::launch::async, [&] { return follower.Close(yes.Ask()); });
  if (closed.wait_for(5s) != std::future_status::ready) {
    std::fprintf(stderr, "Close did not return: a follower thread missed the stop\n");
    std::abort();
  }
  EXPECT_TRUE(closed.get());
  EXPECT_TRUE(follower.WaitUntilFinished(5s));
}

TEST(ScanFollower, BackupFileNames) {
  struct Case {
    const char* path;
    bool backup;
  } cases[] = {{"/x/db.bak", true}, {"/x/DB.BAK", true}, {"db.Bak", true}, {"/x/db.mdf", false},
               {"/x.bak/db", false}, {"/x/db.bak.str", false}, {"bak", false}};
  for (const Case& c : cases) EXPECT_EQ(uicore::IsBackupFile(c.path), c.backup) << c.path;
}
