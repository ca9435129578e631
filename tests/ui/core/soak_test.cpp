// Recoveries one after another on the real fixtures, run as the program runs them (engine
// host, scan follower, object tree, preview driver, export worker), each broken off at a moment
// a seeded generator picks, then closed as Exit closes the program. Whatever was running, every
// thread of the recovery must be gone within 2 s of the close. The server exports go through
// FreeTDS to the recording endpoint; where that cannot run, script exports take their place.
// PELLWYN_SOAK_COUNT raises the number of recoveries for a long local run; PELLWYN_SOAK_SEED
// replays one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/sqlserver.h"
#include "platform/database.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "support/tdsendpoint.h"
#include "ui/core/enginefactory.h"
#include "ui/core/enginehost.h"
#include "ui/core/exportworker.h"
#include "ui/core/objecttree.h"
#include "ui/core/previewdriver.h"
#include "ui/core/scanfollower.h"
#include "ui/core/serverconnection.h"

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

// The files of `folder` the process still holds open.
std::vector<std::string> OpenFilesIn(const std::string& folder) {
  std::vector<std::string> open;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
    if (!ec && target.rfind(folder + "/", 0) == 0) open.push_back(target);
  }
  return open;
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

// The export dialog: it counts what the worker reports, so that the Stop button can be
// pressed once the export has got that far; Finished and EndedEarly end the dialog.
class ExportDialog : public uicore::IExportSink {
 public:
  void AppendStatus(const std::string&) override { Report(); }
  void SetDialogPercent(int) override { Report(); }
  void SetMainPercent(int) override { Report(); }
  void SetCounterText(const std::string&) override { Report(); }
  void AddObjectRow(const std::string&, const std::string&, bool) override { Report(); }
  void AppendReport(const std::string&) override { Report(); }
  void ShowMessage(const std::string& text) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    message = text;
  }
  void Finished(bool, const std::string&) override { End(); }
  void EndedEarly() override { End(); }

  // Until the worker has reported `count` times or the dialog has ended; false on time-out.
  bool WaitForReports(int count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] { return m_reports >= count || m_ends > 0; });
  }
  int Ends() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ends;
  }
  std::string message;

 private:
  void Report() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_reports;
    }
    m_cv.notify_all();
  }
  void End() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_ends;
    }
    m_cv.notify_all();
  }
  std::mutex m_mutex;
  std::condition_variable m_cv;
  int m_reports = 0;
  int m_ends = 0;
};

enum class Moment { Census, HandShake, Preview, ScriptExport, ServerExport, Finished };
const char* const kMomentNames[] = {"census", "hand-shake", "preview", "script export", "server export", "finished"};
constexpr int kMoments = 6;

// How an export ends: Stop pressed once the worker has reported some number of times,
// let run to its end, or still running when the program closes.
enum class ExportEnd { Stopped, Finished, ClosedRunning };

struct RecoveryRun {
  Moment moment = Moment::Finished;
  bool treeFilled = false;
  int pagesShown = 0;
  int exportsFinished = 0, exportsEndedEarly = 0;
  long long rowsExported = 0;
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

std::vector<CViewStoredProc*> ObjectsOfTheTree(const ObjectTreeContent& tree, ObjectFolder folder) {
  std::vector<CViewStoredProc*> objects;
  for (const TreeNode& node : tree.Folder(folder))
    if (node.object) objects.push_back(node.object);
  return objects;
}

// Every object of the tree checked, as "Select All" leaves the export dialog.
uicore::ExportRequest EverythingInTheTree(const ObjectTreeContent& tree, bool rows, const std::string& folder) {
  uicore::ExportRequest request;
  request.rows = rows;
  request.outputFolder = folder;
  request.tables = TablesOfTheTree(tree);
  request.views = ObjectsOfTheTree(tree, ObjectFolder::Views);
  request.procedures = ObjectsOfTheTree(tree, ObjectFolder::StoredProcedures);
  request.rules = ObjectsOfTheTree(tree, ObjectFolder::Rules);
  request.triggers = ObjectsOfTheTree(tree, ObjectFolder::Triggers);
  request.functions = ObjectsOfTheTree(tree, ObjectFolder::Functions);
  return request;
}

// Where the exports of the recoveries go: `folder` receives the script folder, `endpoint`
// (null when it cannot run) the server exports.
struct ExportTargets {
  std::string folder;
  const testsupport::TdsEndpoint* endpoint = nullptr;
};

// With a `session`, the recovery is one Load of a program that goes on: its close is the
// next Load's, and Exit comes once, after every recovery.

RecoveryRun Recover(const Source& source, std::mt19937_64& random, int threadsBefore, const ExportTargets& targets,
                    EngineHost* session = nullptr) {
  auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  RecoveryRun run;
  run.moment = Moment(pick(0, kMoments - 1));
  if (run.moment == Moment::ServerExport && !targets.endpoint) run.moment = Moment::ScriptExport;
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
  ExportDialog exportDialog;
  std::unique_ptr<CDatabase> mainConnection;  // the options dialog's, of a server export
  std::unique_ptr<uicore::ExportWorker> exporter;
  ExportEnd exportEnd = ExportEnd::Finished;
  const bool exporting = run.moment == Moment::ScriptExport || run.moment == Moment::ServerExport;
  if (run.moment == Moment::Preview || exporting || run.moment == Moment::Finished) {
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
      if (exporting) {
        exporter = std::make_unique<uicore::ExportWorker>("");
        exportEnd = ExportEnd(pick(0, 2));
        const bool rows = pick(0, 3) != 0;
        uicore::ExportRequest request = EverythingInTheTree(tree, rows, targets.folder);
        if (run.moment == Moment::ServerExport) {
          const std::string connect = targets.endpoint->ConnectString("sa", "secret", "Soak");
          request.toServer = true;
          request.threadSize = pick(1, 5);
          request.connections = [connect](std::string* why) { return uicore::NewServerConnection(connect, why); };
          std::string error;
          mainConnection = uicore::NewServerConnection(connect, &error);
          EXPECT_TRUE(mainConnection) << error;
        }
        EXPECT_TRUE(exporter->Start(engine, std::move(request), exportDialog, mainConnection.get()));
        if (exportEnd == ExportEnd::Stopped) {
          // Some reports in: inside the tables, the objects after them, or at the very end.
          exportDialog.WaitForReports(pick(0, 40), 30s);
          exporter->Stop();
          exporter->Join();
        } else if (exportEnd == ExportEnd::Finished) {
          exporter->Join();
          const uicore::ExportResult result = exporter->Result();
          EXPECT_EQ(result.end, uicore::ExportResult::End::kFinished) << exportDialog.message;
          if (run.moment == Moment::ServerExport) {
            EXPECT_GE(result.poolConnections, 1);
          }
          for (const uicore::ExportResult::Table& t : result.tables)
            if (!t.script.empty()) {
              EXPECT_TRUE(std::filesystem::is_regular_file(result.folder + "/" + t.script)) << t.script;
            }
        } else {
          std::this_thread::sleep_for(std::chrono::microseconds(pick(0, 20000)));
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
  if (exporter) {
    // Exit stops an export that still runs, as its Stop button would, and waits for it.
    exporter->Stop();
    exporter->Join();
    const uicore::ExportResult result = exporter->Result();
    const uicore::ExportResult::End end = result.end;
    for (const uicore::ExportResult::Table& t : result.tables) run.rowsExported += t.rows;
    // Whatever moment the stop came at, the export ended one way or the other, and told the
    // dialog exactly once.
    EXPECT_NE(end, uicore::ExportResult::End::kNone);
    EXPECT_EQ(exportDialog.Ends(), 1);
    if (exportEnd == ExportEnd::Finished) {
      EXPECT_EQ(end, uicore::ExportResult::End::kFinished);
    }
    run.exportsFinished += end == uicore::ExportResult::End::kFinished;
    run.exportsEndedEarly += end == uicore::ExportResult::End::kEndedEarly;
    exporter.reset();
    mainConnection.reset();
  }
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
    // A sanitizer's runtime starts a thread of its own with the process's first thread and
    // keeps it: started here, it is among the threads counted before the recoveries.
    std::thread([] {}).join();
    count = EnvNumber("PELLWYN_SOAK_COUNT", 50);
    seed = std::uint64_t(EnvNumber("PELLWYN_SOAK_SEED", 20260101));
    noServer = testsupport::FreeTdsUnavailableReason();
    if (noServer.empty()) {
      endpoint = std::make_unique<testsupport::TdsEndpoint>();
      ASSERT_TRUE(endpoint->Running()) << "the recording endpoint did not start: " << endpoint->Error();
    }
  }
  ExportTargets Targets(const std::string& folder) const { return {dir.file(folder), endpoint.get()}; }

  testsupport::ModuleFolderScope scope;
  testsupport::TempDir dir;
  std::string noServer;  // why the server exports are script exports here
  std::unique_ptr<testsupport::TdsEndpoint> endpoint;
  std::vector<Source> sources;
  long long count = 0;
  std::uint64_t seed = 0;
};

}  // namespace

TEST_F(Soak, RecoveriesStoppedAtRandomMomentsCloseCleanly) {
  std::mt19937_64 random(seed);

  const int threadsBefore = ThreadCount();
  int byMoment[kMoments] = {};
  int trees = 0, pages = 0, exportsFinished = 0, exportsEndedEarly = 0;
  long long rowsExported = 0;
  Clock::duration slowest{};
  for (long long i = 0; i < count; ++i) {
    const Source& source = sources[size_t(i) % sources.size()];
    const ExportTargets targets = Targets("export" + std::to_string(i));
    const RecoveryRun run = Recover(source, random, threadsBefore, targets);
    SCOPED_TRACE(std::filesystem::path(source.path).filename().string() + " recovery " + std::to_string(i) +
                 " stopped at " + kMomentNames[int(run.moment)] + " (seed " + std::to_string(seed) + ")");
    EXPECT_TRUE(run.shutdownInTime);
    EXPECT_TRUE(run.threadsGone) << ThreadCount() << " threads, " << threadsBefore << " before";
    EXPECT_LT(run.closing, 2s);
    // However the export ended, none of its scripts is left open.
    EXPECT_EQ(OpenFilesIn(targets.folder), std::vector<std::string>());
    if (run.moment == Moment::Finished) {
      EXPECT_TRUE(run.treeFilled);
    }
    ++byMoment[int(run.moment)];
    trees += run.treeFilled;
    pages += run.pagesShown;
    exportsFinished += run.exportsFinished;
    exportsEndedEarly += run.exportsEndedEarly;
    rowsExported += run.rowsExported;
    slowest = std::max(slowest, run.closing);
    if (HasFatalFailure()) break;
  }
  EXPECT_EQ(ThreadCount(), threadsBefore);
  // The server exports reached the server, not only the dialog.
  if (endpoint && byMoment[int(Moment::ServerExport)] > 0) {
    EXPECT_FALSE(endpoint->Batches().empty());
  }
  if (!noServer.empty()) std::printf("soak: server exports replaced by script exports: %s\n", noServer.c_str());
  std::printf("soak: %lld recoveries of %zu sources; stopped in the census %d, at a hand-shake %d, in a preview %d, "
              "in a script export %d, in a server export %d (exports: %d ended early, %d finished, %lld rows), "
              "finished %d; trees %d, preview pages %d; slowest close %lld ms\n",
              count, sources.size(), byMoment[0], byMoment[1], byMoment[2], byMoment[3], byMoment[4],
              exportsEndedEarly, exportsFinished, rowsExported, byMoment[5], trees, pages,
              (long long)std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count());
}

// The recoveries as Loads of one program, each replacing the last whatever it left running,
// and one Exit at the end.
TEST_F(Soak, RecoveriesInOneProgramThenExit) {
  std::mt19937_64 random(seed + 1);
  const int threadsBefore = ThreadCount();
  EngineHost host;
  for (long long i = 0; i < count; ++i) {
    const RecoveryRun run =
        Recover(sources[size_t(i) % sources.size()], random, threadsBefore, Targets("program" + std::to_string(i)), &host);
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
