// Damaged input through the program's own code, as the window drives it with its prompts
// answered: Open Scan of truncated and mutated scan files of both engines' formats (the
// engine host adopts what opened, the object tree is built, the rows' backup is attached and
// a table previewed), and Load of damaged backups (sets listed, the first chosen, the scan
// followed, the tree built, a table previewed, then Exit's shutdown). Each case ends in a
// message or a tree; a crash or a hang (the watchdog) fails the run.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "common/sqlserver.h"
#include "damaged/damagedcase.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "ui/core/enginefactory.h"
#include "ui/core/enginehost.h"
#include "ui/core/objecttree.h"
#include "ui/core/openscan.h"
#include "ui/core/previewdriver.h"
#include "ui/core/scanfollower.h"
#include "support/scanfilebytes.h"

namespace {

using namespace std::chrono_literals;
using damaged::Bytes;

constexpr unsigned kCaseSeconds = 60;

class PageWaiter : public uicore::IPreviewSink {
 public:
  void ShowPage(const uicore::PreviewPage& page) override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_rows += page.rows.size();
      m_shown = true;
    }
    m_cv.notify_all();
  }
  bool Wait(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] { return m_shown; });
  }
  size_t Rows() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rows;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_shown = false;
  size_t m_rows = 0;
};

struct Counts {
  int cases = 0;
  int trees = 0;     // a tree was shown
  int messages = 0;  // the program said why not
  int quiet = 0;     // a backup without a readable set: Load ends before the dialog, as it does
  long long tables = 0;
  long long previewRows = 0;
};

// The first page of the tree's first table; false when the page did not come in time.
bool PreviewFirstTable(CSQLServer& engine, const ObjectTreeContent& tree, Counts& counts) {
  for (const TreeNode& node : tree.Folder(ObjectFolder::Tables)) {
    if (!node.table) continue;
    PageWaiter list;
    uicore::PreviewDriver driver(engine, list);
    if (driver.SelectTable(node.table) != uicore::PreviewStart::Started) return true;
    if (!list.Wait(30s)) return false;
    counts.previewRows += (long long)list.Rows();
    return true;
  }
  return true;
}

void CountTree(const ObjectTreeContent& tree, Counts& counts) {
  ++counts.trees;
  counts.tables += (long long)tree.Folder(ObjectFolder::Tables).size();
}

// Open Scan as the window runs it; the tree is built from the engine it made current.
void OpenScan(const std::string& path, const std::string& label, Counts& counts) {
  damaged::Watchdog watchdog(label, kCaseSeconds);
  ++counts.cases;
  uicore::OpenScanResult opened = uicore::OpenScanFile(path);
  if (!opened.Loaded()) {
    EXPECT_FALSE(opened.message.empty()) << label;
    ++counts.messages;
    return;
  }
  EngineHost host;
  CreatedEngine created;
  created.engine = std::move(opened.engine);
  created.version = FindEngineVersion(opened.version);
  ASSERT_NE(created.version, nullptr) << label << ": opened with version " << opened.version;
  host.Adopt(std::move(created));
  host.MarkCatalogComplete();
  CSQLServer& engine = *host.Current();
  const ObjectTreeContent tree = BuildObjectTree(engine, host.CurrentVersion()->label);
  CountTree(tree, counts);
  const uicore::PageSourceCheck source = uicore::AttachPageSource(engine, [](const CBackupReader&) { return 1; });
  if (source.ready) {
    EXPECT_TRUE(PreviewFirstTable(engine, tree, counts)) << label;
  }
  EXPECT_TRUE(host.Shutdown(2s)) << label;
}

// Load as the window runs it: version chosen, sets listed, the first set chosen, the scan
// followed to its end, the tree built; then Exit.
void Load(const std::string& path, int version, const std::string& label, Counts& counts) {
  damaged::Watchdog watchdog(label, kCaseSeconds);
  ++counts.cases;
  EngineHost host;
  host.Adopt(CreateEngine(version));
  ASSERT_NE(host.Current(), nullptr);
  CSQLServer& engine = *host.Current();
  if (uicore::ListBackupSets(engine, path) == 0 || !engine.m_pBackupReader) {
    ++counts.quiet;
    return;
  }
  engine.m_nSelectedDataSet = 1;
  uicore::ScanFollowerOptions options;
  options.format = host.CurrentVersion()->formatText;
  options.startScan = [&host] { host.StartScan(); };
  testsupport::SilentScanSink dialog;
  uicore::ScanFollower follower(engine, dialog, options);
  follower.Start();
  ASSERT_TRUE(follower.WaitUntilFinished(std::chrono::seconds(kCaseSeconds))) << label;
  ASSERT_TRUE(follower.Complete()) << label << ": the scan ended without its last hand-shake";
  host.MarkCatalogComplete();
  const ObjectTreeContent tree = BuildObjectTree(engine, host.CurrentVersion()->label);
  CountTree(tree, counts);
  EXPECT_TRUE(PreviewFirstTable(engine, tree, counts)) << label;
  follower.Close([](const std::string&, const std::string&) { return true; });
  EXPECT_TRUE(host.Shutdown(2s)) << label;
}

// Lengths to cut a file at: every length of its first bytes (the magic word, the version and
// the first counts), then lengths spread over the rest, and the last bytes missing.
std::vector<size_t> Cuts(size_t size) {
  std::vector<size_t> cuts;
  for (size_t n = 0; n < std::min<size_t>(size, 48); ++n) cuts.push_back(n);
  for (int k = 1; k < 80; ++k) cuts.push_back(size * size_t(k) / 80);
  for (size_t back = 1; back <= 4 && back < size; ++back) cuts.push_back(size - back);
  return cuts;
}

// A scan file with 1 to 8 changes: bits flipped, bytes set, four-byte runs set to all ones
// (a length or a count grown huge); half of them in the first 4 KiB, where the file's heads
// and its first lengths are.
Bytes MutateScanFile(const Bytes& file, std::uint64_t seed) {
  Bytes out = file;
  if (out.empty()) return out;
  std::mt19937_64 random(seed * 0x9E3779B97F4A7C15ull + 7);
  auto below = [&](size_t n) { return size_t(std::uniform_int_distribution<std::uint64_t>(0, n - 1)(random)); };
  const int changes = 1 + int(below(8));
  for (int i = 0; i < changes; ++i) {
    const size_t at = below(2) ? below(std::min<size_t>(out.size(), 4096)) : below(out.size());
    switch (below(3)) {
      case 0: out[at] ^= std::uint8_t(1u << below(8)); break;
      case 1: out[at] = std::uint8_t(below(256)); break;
      default:
        for (size_t k = at; k < std::min(out.size(), at + 4); ++k) out[k] = 0xFF;
    }
  }
  return out;
}

// Mutants a file gets; PELLWYN_DAMAGED_MUTANTS raises it for a long local run.
std::uint64_t Mutants(std::uint64_t fallback) {
  const char* text = std::getenv("PELLWYN_DAMAGED_MUTANTS");
  return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  testsupport::WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

}  // namespace

// A saved scan of a real fixture of each engine, cut at many lengths and mutated: Open Scan
// gives a tree or a message for each.
TEST(DamagedThroughTheProgram, OpenScanOfTruncatedAndMutatedScanFiles) {
  testsupport::TempDir dir;
  damaged::SilenceLogs(dir.path());
  struct Source {
    const char* fixture;
    int version;
  } sources[] = {{"bak2008_northwind_thuyluv.bak", 3}, {"sample2000_NORTHWND.MDF", 1}};
  const std::uint64_t mutants = Mutants(200);
  int formats = 0;
  for (const Source& s : sources) {
    const std::string fixture = testsupport::FixturePath(s.fixture);
    if (fixture.empty()) continue;
    SCOPED_TRACE(s.fixture);
    CreatedEngine created = CreateEngine(s.version);
    ASSERT_TRUE(created);
    ASSERT_TRUE(testsupport::RunRecovery(*created.engine, fixture).finished);
    const std::string saved = dir.file(std::string(created.version->text) + ".str");
    const uicore::SaveScanResult written = uicore::SaveScan(created.engine.get(), fixture, [&]() -> std::optional<std::string> { return saved; });
    ASSERT_EQ(written.outcome, uicore::SaveScanResult::Outcome::Saved) << written.message;
    const Bytes file = damaged::ReadBytes(saved);
    ASSERT_GT(file.size(), 1024u);
    ++formats;

    Counts whole;
    OpenScan(saved, std::string(s.fixture) + " whole", whole);
    ASSERT_EQ(whole.trees, 1);
    EXPECT_GT(whole.tables, 0);
    // The 2000 engine has no preview walk yet: its pages come back empty.
    if (s.version != 1) {
      EXPECT_GT(whole.previewRows, 0);
    }

    Counts cut, mutated;
    const std::string path = dir.file("case.str");
    const size_t layoutEnd = testsupport::ScanExtensionOffset(file);
    for (size_t length : Cuts(file.size())) {
      // Cut where the extension begins, it is a whole file of the older layout.
      if (length == layoutEnd) continue;
      WriteBytes(path, damaged::Truncated(file, length));
      OpenScan(path, std::string(s.fixture) + " cut at " + std::to_string(length), cut);
    }
    for (std::uint64_t seed = 1; seed <= mutants; ++seed) {
      WriteBytes(path, MutateScanFile(file, seed));
      OpenScan(path, std::string(s.fixture) + " mutant " + std::to_string(seed), mutated);
    }
    // Cut short anywhere, a scan file is refused (with the reason), never opened as part of
    // a catalog.
    EXPECT_EQ(cut.trees, 0);
    EXPECT_EQ(cut.messages, cut.cases);
    std::printf("open scan %s (%zu bytes): truncations %d: trees %d, messages %d; mutants %d: trees %d "
                "(tables %lld, preview rows %lld), messages %d\n",
                created.version->text, file.size(), cut.cases, cut.trees, cut.messages, mutated.cases, mutated.trees,
                mutated.tables, mutated.previewRows, mutated.messages);
  }
  if (formats == 0) GTEST_SKIP() << "fixtures not available";
}

// Damaged backups of the 2005-2008 fixtures and of the 2000 engine's framed pages, loaded as
// the window loads them.
TEST(DamagedThroughTheProgram, LoadOfDamagedBackups) {
  testsupport::TempDir dir;
  damaged::SilenceLogs(dir.path());
  std::vector<std::pair<std::string, int>> backups;
  for (const std::string& name : damaged::BackupFixtures())
    if (const std::string path = testsupport::FixturePath(name); !path.empty())
      backups.emplace_back(path, name.rfind("bak2005", 0) == 0 ? 2 : 3);
  if (const std::string wrapped = testsupport::Northwind2000Backup(dir); !wrapped.empty())
    backups.emplace_back(wrapped, 1);
  if (backups.empty()) GTEST_SKIP() << "fixtures not available";

  const std::uint64_t mutants = Mutants(6);
  Counts all;
  const std::string path = dir.file("case.bak");
  for (const auto& [backup, version] : backups) {
    const std::string name = std::filesystem::path(backup).filename().string();
    const Bytes file = damaged::ReadBytes(backup);
    const size_t blocks = file.size() / 512;
    std::vector<size_t> cuts = {0, 1, 3, 8, 17, 24, 33, 50, 100, blocks / 4, blocks / 2, blocks * 3 / 4, blocks - 1};
    for (size_t cut : cuts) {
      WriteBytes(path, damaged::Truncated(file, cut * 512));
      Load(path, version, name + " cut at block " + std::to_string(cut), all);
    }
    for (std::uint64_t seed = 1; seed <= mutants; ++seed) {
      WriteBytes(path, damaged::Mutant(file, seed));
      Load(path, version, name + " mutant " + std::to_string(seed), all);
    }
    Counts whole;
    Load(backup, version, name + " whole", whole);
    EXPECT_EQ(whole.trees, 1) << name;
    if (version != 1) {
      EXPECT_GT(whole.previewRows, 0) << name;
    }
  }
  std::printf("load of damaged backups: %zu backups, %d cases: trees %d (tables %lld, preview rows %lld), "
              "no readable set %d\n",
              backups.size(), all.cases, all.trees, all.tables, all.previewRows, all.quiet);
}
