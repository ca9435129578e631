// The census as a partner that counts pages from the engine's counter sees it: handed over
// every N pages instead of every page, it must file the same pages in the same groups, give
// the same catalog and end with the same sequence. Also the parts of the census that read
// ahead of the partner: the page-id index and pages filed before their PFS page.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/backupreader.h"
#include "common/page.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/allocationpages.h"
#include "support/backupwriter.h"
#include "support/catalogtext.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"

using testsupport::ModuleFolderScope;
using testsupport::RecoveryOptions;
using testsupport::RunRecovery;

namespace {

std::string PageList(const std::vector<DWORD>& pages) {
  std::string s;
  for (DWORD p : pages) s += std::to_string(p) + ",";
  return s;
}

// Every group of both maps with its live and freed pages, and the text-page map.
std::string GroupsText(const CSQLServer2008& engine) {
  std::ostringstream out;
  for (const auto* map : {&engine.m_mapTables, &engine.m_mapPageGroups}) {
    std::map<std::string, const CTable*> sorted;
    for (const auto& e : *map) sorted[e.first] = e.second;
    for (const auto& [key, g] : sorted)
      out << key << " live=" << PageList(g->m_vecDataPages) << " freed=" << PageList(g->m_vecFreedPages) << "\n";
    out << "--\n";
  }
  std::map<std::string, std::string> text;
  for (const auto& e : engine.m_mapTextPages) text[e.first] = e.second.str();
  for (const auto& [id, index] : text) out << "text " << id << "=" << index << "\n";
  return out.str();
}

// The engine's own log lines in order; the partner threads' lines interleave by timing.
std::vector<std::string> EngineLogLines(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Code:", 0) != 0) continue;
    if (line.find("Waiting for Progress") != std::string::npos || line.find("Event Fonund") != std::string::npos ||
        line.find("Existing Progress") != std::string::npos)
      continue;
    out.push_back(line);
  }
  return out;
}

struct Recovered {
  testsupport::RecoveryResult result;
  std::string groups;
  std::string catalog;
  std::vector<std::string> log;
  int totalPages = 0;
};

Recovered Recover(const std::string& path, int handOverEvery) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  RecoveryOptions o;
  o.censusHandOverEvery = handOverEvery;
  Recovered r;
  r.result = RunRecovery(engine, path, o);
  r.groups = GroupsText(engine);
  std::ostringstream catalog;
  testsupport::PrintCensus(engine, catalog);
  testsupport::PrintCatalog(engine, catalog);
  r.catalog = catalog.str();
  r.log = EngineLogLines(scope.ReadExecLog());
  r.totalPages = engine.m_pStatus->m_nTotalPages;
  return r;
}

// What a partner that never leaves sees at each "PageRead": the engine's page count and
// whether the census said it had ended.
struct Wake {
  long long pages;
  bool allPagesRead;
  bool operator==(const Wake&) const = default;
};

// The census alone, on a source the engine has been pointed at, answered at every hand-over.
std::vector<Wake> Census(CSQLServer2008& engine, const std::string& path, int handOverEvery) {
  engine.m_strFilePath = path.c_str();
  engine.ScanDataSets();
  engine.m_nSelectedDataSet = 1;
  if (engine.IsBackupExtension()) engine.LocateBackupDataSet();
  engine.SetCensusHandOverEvery(handOverEvery);
  CEngineStatus* st = engine.m_pStatus;
  std::vector<Wake> wakes;
  std::atomic<bool> done{false};
  std::thread partner([&] {
    while (!done) {
      if (WaitForEvent(st->m_hPageRead, 20) != WaitResult::Signalled) continue;
      ResetEvent(st->m_hPageRead);
      wakes.push_back({engine.m_nCensusPagesRead.load(), st->m_bAllPagesRead != 0});
      SetEvent(st->m_hRecordEvent);
    }
  });
  engine.ReadAllPages();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  done = true;
  partner.join();
  // As the scan thread does after the census, so the next census in this process starts clean.
  ResetEvent(st->m_hPageRead);
  ResetEvent(st->m_hRecordEvent);
  return wakes;
}

}  // namespace

TEST(CensusCoalesced, SameGroupsCatalogAndStagesAsTheStrictLockStep) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  // A 2008 R2 backup (user pages under allocation units), one upgraded from 2000 (user pages
  // under object ids), one whose stream holds pages out of page-id order, and a data file.
  for (const char* file : {"bak2008r2_northwind_victor.bak", "bak2008_northwind_thuyluv.bak",
                           "bak2005_northwnd_mina.bak", "mdf2008_pubs_itsligo.mdf"}) {
    const std::string path = testsupport::FixturePath(file);
    ASSERT_FALSE(path.empty()) << file;
    const Recovered strict = Recover(path, 1);
    ASSERT_TRUE(strict.result.finished) << file;
    // 7 leaves a short last hand-over; 1,000,000 hands over only at the end.
    for (int every : {7, 1000000}) {
      const Recovered coalesced = Recover(path, every);
      ASSERT_TRUE(coalesced.result.finished) << file << " every " << every;
      EXPECT_EQ(coalesced.result.pagesCounted, strict.result.pagesCounted) << file << " every " << every;
      EXPECT_EQ(coalesced.result.pagesCounted, coalesced.totalPages) << file << " every " << every;
      EXPECT_TRUE(coalesced.result.progressReady) << file << " every " << every;
      EXPECT_EQ(coalesced.result.sysRounds, 3) << file << " every " << every;
      EXPECT_EQ(coalesced.groups, strict.groups) << file << " every " << every;
      EXPECT_EQ(coalesced.catalog, strict.catalog) << file << " every " << every;
      EXPECT_EQ(coalesced.log, strict.log) << file << " every " << every;
    }
  }
}

TEST(CensusCoalesced, HandOversEndWithTheLastPageThenOneMore) {
  REQUIRE_FIXTURE(path, "bak2008_library_small.bak");
  ModuleFolderScope scope;
  CSQLServer2008 strictEngine;
  const std::vector<Wake> strict = Census(strictEngine, path, 1);
  const int total = strictEngine.m_pStatus->m_nTotalPages;
  ASSERT_GT(total, 10);
  ASSERT_EQ(strict.size(), size_t(total) + 1);
  EXPECT_EQ(strict.back(), (Wake{total, true}));
  for (int every : {2, 9, total, total + 5}) {
    CSQLServer2008 engine;
    const std::vector<Wake> wakes = Census(engine, path, every);
    ASSERT_EQ(engine.m_pStatus->m_nTotalPages, total);
    ASSERT_EQ(wakes.size(), size_t((total + every - 1) / every) + 1) << every;
    // Every hand-over before the last page is a whole step, with the census still going.
    for (size_t i = 0; i + 2 < wakes.size(); ++i)
      EXPECT_EQ(wakes[i], (Wake{static_cast<long long>(i + 1) * every, false})) << every;
    // The end as the strict partner sees it: the last page, then one more with the census over.
    EXPECT_EQ(wakes[wakes.size() - 2], strict[strict.size() - 2]) << every;
    EXPECT_EQ(wakes.back(), strict.back()) << every;
  }
}

TEST(CensusCoalesced, StopInACoalescedCensusEndsTheScan) {
  REQUIRE_FIXTURE(path, "bak2008_northwind_thuyluv.bak");
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  RecoveryOptions o;
  o.censusHandOverEvery = 16;
  o.stopAfterPages = 50;
  o.timeoutMs = 20000;
  auto start = std::chrono::steady_clock::now();
  auto r = RunRecovery(engine, path, o);
  EXPECT_TRUE(r.finished);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(r.pagesCounted, 64);  // the first hand-over at or past 50 pages
  const std::vector<std::string> lines = EngineLogLines(scope.ReadExecLog());
  EXPECT_TRUE(std::none_of(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.find("Parse Complete") != std::string::npos; }));
}

// The index the census builds over a real set: where stream pages share a page id (zeroed
// pages, stale pages of unallocated space) the first in the stream is the one found.
TEST(CensusIndex, PageIdsFindTheFirstStreamPageThatHoldsThem) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  for (const char* file : {"bak2008r2_northwind_victor.bak", "bak2005_northwnd_mina.bak",
                           "bak2005_northwind_gabrujo.bak"}) {
    const std::string path = testsupport::FixturePath(file);
    ASSERT_FALSE(path.empty()) << file;
    ModuleFolderScope scope;
    CSQLServer2008 looked;
    Census(looked, path, 64);
    ASSERT_NE(looked.m_pCurrentSet, nullptr) << file;
    const std::string bytes = testsupport::ReadFile(path);
    const UINT64 start = UINT64(looked.m_nDataSetStart);
    std::map<DWORD, DWORD> first;  // page id -> first stream index holding it
    for (int n = 0; n < looked.m_pStatus->m_nTotalPages; ++n) {
      const BYTE* page = reinterpret_cast<const BYTE*>(bytes.data() + start + UINT64(n) * kPageSize);
      first.try_emplace(PageIdOf(page), DWORD(n));
    }
    ASSERT_LT(first.size(), size_t(looked.m_pStatus->m_nTotalPages)) << file << ": no shared ids to resolve";
    for (const auto& [id, index] : first) {
      DWORD found = 0xFFFFFFFF;
      EXPECT_TRUE(looked.StreamIndexOfPageId(id, found)) << file << " id " << id;
      EXPECT_EQ(found, index) << file << " id " << id;
    }
    // Ids next to the ones present but not in the set are not found.
    for (const auto& [id, index] : first) {
      if (id == 0xFFFFFFFF || first.count(id + 1)) continue;
      DWORD found = 0;
      EXPECT_FALSE(looked.StreamIndexOfPageId(id + 1, found)) << file << " id " << id + 1;
    }
  }
}

// A backup whose PFS page comes after data pages it covers: those pages are filed by what
// that PFS page says, as pages after it are.
TEST(CensusIndex, DataPagesBeforeTheirPfsPageFollowIt) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  // Stream: 0 file header; 1-3 data pages of object 7 (ids 2, 3, 4) before the PFS page; 4 the
  // PFS page (id 1): id 3 and id 6 free; 5-6 data pages (ids 5, 6) after it; 7 a data page
  // whose id lies in an interval no PFS page covers; 8 an IAM page holding none of them.
  std::vector<std::vector<BYTE>> pages;
  for (const auto& [type, id] : std::vector<std::pair<BYTE, DWORD>>{{15, 0}, {1, 2}, {1, 3}, {1, 4}})
    pages.push_back(allocpages::Header(type, id, 1, type == 1 ? 7 : 0));
  pages.push_back(allocpages::Pfs(1, [](DWORD i) { return i != 3 && i != 6; }));
  for (DWORD id : {5u, 6u, 20000u}) pages.push_back(allocpages::Header(1, id, 1, 7));
  pages.push_back(allocpages::Iam(9, {}, {}));
  std::string tape;
  backupwriter::AppendSet(tape, backupwriter::kFullBackup, 1, u"late", pages);
  tape.resize(tape.size() + 8192, '\0');
  const std::string path = dir.file("late.bak");
  testsupport::WriteFile(path, tape);
  for (int every : {1, 3}) {
    CSQLServer2008 engine;
    Census(engine, path, every);
    EXPECT_EQ(engine.m_pStatus->m_nTotalPages, 9);
    CTable* t7 = nullptr;
    ASSERT_TRUE(engine.m_mapTables.Lookup("7", t7));
    EXPECT_EQ(t7->m_vecDataPages, std::vector<DWORD>({1, 3, 5, 7})) << every;
    EXPECT_EQ(t7->m_vecFreedPages, std::vector<DWORD>({2, 6})) << every;
  }
}
