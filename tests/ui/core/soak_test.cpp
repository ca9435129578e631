// Recoveries one after another on the real fixtures, run as the program runs them (engine
// host, scan follower, object tree, preview driver), each broken off at a moment a seeded
// generator picks, then closed as Exit closes the program. Whatever was running, every thread
// of the recovery must be gone within 2 s of the close. PELLWYN_SOAK_COUNT raises the number
// of recoveries for a long local run; PELLWYN_SOAK_SEED replays one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/sqlserver.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "ui/core/enginefactory.h"
#include "ui/core/enginehost.h"
#include "ui/core/objecttree.h"
#include "ui/core/previewdriver.h"
#include "ui/core/scanfollower.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int ThreadCount() {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    (void)entry;
    ++n;
  }
  return n;
}

long long EnvNumber(const char* name, long long fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoll(text) : fallback;
}

struct Source {
  std::string path;
  int version;  // as the version dialog gives it
};

// The three engines' formats: 2008 and 2005 backups and files, and the 2000 engine on a plain
// file and on its pages framed as a backup.
std::vector<Source> Sources(const testsupport::TempDir& dir) {
  std::vector<Source> sources;
  const std::pair<const char*, int> fixtures[] = {
      {"bak2008_northwind_thuyluv.bak", 3}, {"bak2008_library_small.bak", 3}, {"mdf2008_pubs_itsligo.mdf", 3},
      {"bak2005_northwnd_mina.bak", 2},     {"bak2005_stdb2sql_2sets.bak", 2}, {"sample2000_NORTHWND.MDF", 1},
      {"sample2000_PUBS.MDF", 1},
  };
  for (const auto& [name, version] : fixtures) {
    const std::string path = testsupport::FixturePath(name);
    if (!path.empty()) sources.push_back({path, version});
  }
  if (const std::string wrapped = testsupport::Northwind2000Backup(dir); !wrapped.empty())
    sources.push_back({wrapped, 1});
  return sources;
}

// The list: pages arrive on the driver's thread.
class List : public uicore::IPreviewSink {
 public:
  std::atomic<int> pages{0};
  void ShowPage(const uicore::PreviewPage&) override { ++pages; }
};

enum class Moment { Census, HandShake, Preview, Finished };
const char* const kMomentNames[] = {"census", "hand-shake", "preview", "finished"};

struct RecoveryRun {
  Moment moment = Moment::Finished;
  bool treeFilled = false;
  int pagesShown = 0;
  Clock::duration closing{};  // from the close to the last thread gone
  bool shutdownInTime = false;
  bool threadsGone = false;
};

std::vector<CTable*> TablesOfTheTree(const ObjectTreeContent& tree) {
  std::vector<CTable*> tables;
  for (const TreeNode& node : tree.Folder(ObjectFolder::Tables))
    if (node.table) tables.push_back(node.table);
  return tables;
}

// With a `session`, the recovery is one Load of a program that goes on: its close is the
// next Load's, and Exit comes once, after every recovery.
RecoveryRun Recover(const Source& source, std::mt19937_64& random, int threadsBefore, EngineHost* session = nullptr) {
  auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  RecoveryRun run;
  run.moment = Moment(pick(0, 3));
  EngineHost own;
  EngineHost& host = session ? *session : own;
  host.Adopt(CreateEngine(source.version));
  if (!host.Current()) {
    ADD_FAILURE() << "no engine for version " << source.version;
    return run;
  }
  CSQLServer& engine = *host.Current();
  uicore::ListBackupSets(engine, source.path);
  engine.m_nSelectedDataSet = 1;

  uicore::ScanFollowerOptions options;
  options.format = host.CurrentVersion()->formatText;
  options.startScan = [&host] { host.StartScan(); };
  if (run.moment == Moment::Census) {
    // Small hand-overs, so that the stop lands inside the census of a small fixture.
    options.handOverEvery = pick(1, 64);
    const long long stopAt = pick(1, 400);
    options.stopAfterHandOver = [stopAt](long long pages) { return pages >= stopAt; };
  } else if (run.moment == Moment::HandShake) {
    const int round = pick(1, 3);
    options.stopAtHandShake = [round](int r) { return r == round; };
  }
  testsupport::SilentScanSink dialog;
  auto follower = std::make_unique<uicore::ScanFollower>(engine, dialog, options);
  follower->Start();

  List list;
  std::unique_ptr<uicore::PreviewDriver> driver;
  if (run.moment == Moment::Preview || run.moment == Moment::Finished) {
    EXPECT_TRUE(follower->WaitUntilFinished(60s)) << "the scan did not end";
    if (follower->Complete()) {
      host.MarkCatalogComplete();
      const ObjectTreeContent tree = BuildObjectTree(engine, host.CurrentVersion()->label);
      run.treeFilled = true;
      const std::vector<CTable*> tables = TablesOfTheTree(tree);
      if (run.moment == Moment::Preview && !tables.empty()) {
        driver = std::make_unique<uicore::PreviewDriver>(engine, list);
        driver->SelectTable(tables[size_t(pick(0, int(tables.size()) - 1))]);
        // Some presses, each made as soon as the driver takes it or after a short look, and
        // the close comes whether the last page is in or not.
        const int presses = pick(0, 4);
        for (int i = 0; i < presses; ++i) {
          if (pick(0, 1)) driver->WaitIdle(5s);
          std::this_thread::sleep_for(std::chrono::microseconds(pick(0, 3000)));
          if (pick(0, 3)) driver->NextPage();
          else driver->PreviousPage();
        }
      }
    }
  } else {
    // Stopped inside the scan: the close may also come before the stop point is reached.
    std::this_thread::sleep_for(std::chrono::milliseconds(pick(0, 30)));
  }

  // Exit: the dialog's close box answered Yes, the window's preview goes, the host stops
  // every engine and waits for its scans.
  const auto closed = Clock::now();
  follower->Close([](const std::string&, const std::string&) { return true; });
  if (driver) run.pagesShown = list.pages;
  driver.reset();
  follower.reset();
  if (session) {
    run.shutdownInTime = run.threadsGone = true;
    return run;
  }
  run.shutdownInTime = host.Shutdown(2s);
  while (ThreadCount() > threadsBefore && Clock::now() - closed < 2s) std::this_thread::sleep_for(1ms);
  run.closing = Clock::now() - closed;
  run.threadsGone = ThreadCount() <= threadsBefore;
  return run;
}

// The fixtures, the number of recoveries and the seed, from the environment when it says.
class Soak : public ::testing::Test {
 protected:
  void SetUp() override {
    sources = Sources(dir);
    if (sources.empty()) GTEST_SKIP() << "fixtures not available";
    count = EnvNumber("PELLWYN_SOAK_COUNT", 50);
    seed = std::uint64_t(EnvNumber("PELLWYN_SOAK_SEED", 20260101));
  }
  testsupport::ModuleFolderScope scope;
  testsupport::TempDir dir;
  std::vector<Source> sources;
  long long count = 0;
  std::uint64_t seed = 0;
};

}  // namespace

TEST_F(Soak, RecoveriesStoppedAtRandomMomentsCloseCleanly) {
  std::mt19937_64 random(seed);

  const int threadsBefore = ThreadCount();
  int byMoment[4] = {};
  int trees = 0, pages = 0;
  Clock::duration slowest{};
  for (long long i = 0; i < count; ++i) {
    const Source& source = sources[size_t(i) % sources.size()];
    const RecoveryRun run = Recover(source, random, threadsBefore);
    SCOPED_TRACE(std::filesystem::path(source.path).filename().string() + " recovery " + std::to_string(i) +
                 " stopped at " + kMomentNames[int(run.moment)] + " (seed " + std::to_string(seed) + ")");
    EXPECT_TRUE(run.shutdownInTime);
    EXPECT_TRUE(run.threadsGone) << ThreadCount() << " threads, " << threadsBefore << " before";
    EXPECT_LT(run.closing, 2s);
    if (run.moment == Moment::Finished) {
      EXPECT_TRUE(run.treeFilled);
    }
    ++byMoment[int(run.moment)];
    trees += run.treeFilled;
    pages += run.pagesShown;
    slowest = std::max(slowest, run.closing);
    if (HasFatalFailure()) break;
  }
  EXPECT_EQ(ThreadCount(), threadsBefore);
  std::printf("soak: %lld recoveries of %zu sources; stopped in the census %d, at a hand-shake %d, in a preview %d, "
              "finished %d; trees %d, preview pages %d; slowest close %lld ms\n",
              count, sources.size(), byMoment[0], byMoment[1], byMoment[2], byMoment[3], trees, pages,
              (long long)std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count());
}

// The recoveries as Loads of one program, each replacing the last whatever it left running,
// and one Exit at the end.
TEST_F(Soak, RecoveriesInOneProgramThenExit) {
  std::mt19937_64 random(seed + 1);
  const int threadsBefore = ThreadCount();
  EngineHost host;
  for (long long i = 0; i < count; ++i) {
    const RecoveryRun run = Recover(sources[size_t(i) % sources.size()], random, threadsBefore, &host);
    // A scan that ran to its end fills the tree although earlier engines may still be busy.
    if (run.moment == Moment::Finished) {
      EXPECT_TRUE(run.treeFilled) << "recovery " << i << ", seed " << seed + 1;
    }
  }
  const auto exited = Clock::now();
  EXPECT_TRUE(host.Shutdown(2s));
  while (ThreadCount() > threadsBefore && Clock::now() - exited < 2s) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(ThreadCount(), threadsBefore) << "seed " << seed + 1;
  EXPECT_LT(Clock::now() - exited, 2s);
}
