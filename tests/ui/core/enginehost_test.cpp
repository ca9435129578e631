#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/catalogengine.h"
#include "ui/core/enginehost.h"

using namespace std::chrono_literals;
using testsupport::CatalogEngine;

namespace {

CreatedEngine Wrap(CSQLServer* engine, int version = 3) {
  CreatedEngine created;
  created.engine.reset(engine);
  created.version = FindEngineVersion(version);
  return created;
}

// A scan that waits for the progress partner's hand-shake as the real scan does, and leaves
// when it is told to stop.
void WaitForHandShake(CatalogEngine& e) {
  while (!e.m_pStatus->m_bStopScan) WaitForEvent(e.m_pStatus->m_hSystemTabRdyEvent, 1000);
}

}  // namespace

TEST(EngineHost, AdoptKeepsThePreviousEngineAndIgnoresARefusal) {
  EngineHost host;
  EXPECT_EQ(host.Current(), nullptr);
  EXPECT_EQ(host.CurrentVersion(), nullptr);
  auto* first = new CatalogEngine();
  host.Adopt(Wrap(first, 2));
  EXPECT_EQ(host.Current(), first);
  EXPECT_EQ(host.CurrentVersion()->number, 2);

  CreatedEngine refused;
  refused.refusal = "no";
  host.Adopt(std::move(refused));
  EXPECT_EQ(host.Current(), first);

  auto* second = new CatalogEngine();
  host.Adopt(Wrap(second));
  EXPECT_EQ(host.Current(), second);
  EXPECT_EQ(host.CurrentVersion()->number, 3);
  // The replaced engine is still whole: a thread of it may still be using it.
  first->AddTable(1, "dbo", "t");
  EXPECT_EQ(first->m_mapTables.GetCount(), 1);
}

// Exit stops every engine, the replaced ones too, and waits for the scans it started.
TEST(EngineHost, ShutdownStopsEveryEngineAndWaitsForItsScans) {
  EngineHost host;
  auto* old = new CatalogEngine();
  old->m_fnScan = WaitForHandShake;
  host.Adopt(Wrap(old));
  host.StartScan();
  auto* current = new CatalogEngine();
  current->m_fnScan = WaitForHandShake;
  host.Adopt(Wrap(current));
  host.StartScan();
  ASSERT_TRUE(old->m_bBusy && current->m_bBusy);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(host.Shutdown(2s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  for (CatalogEngine* e : {old, current}) {
    EXPECT_EQ(e->m_bBusy, 0);
    EXPECT_EQ(e->m_pStatus->m_bStopScan, 1);
    EXPECT_EQ(e->m_pStatus->m_bStopRecords, 1);
  }
}

// A scan stuck where it reads no flag is not waited for beyond the bound.
TEST(EngineHost, ShutdownGivesUpOnAStuckScanAtItsBound) {
  std::atomic<bool> release{false};
  EngineHost host;
  auto* engine = new CatalogEngine();
  engine->m_fnScan = [&](CatalogEngine&) {
    while (!release) std::this_thread::sleep_for(1ms);
  };
  host.Adopt(Wrap(engine));
  host.StartScan();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(host.Shutdown(100ms));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 100ms);
  EXPECT_LT(waited, 1s);
  release = true;
  EXPECT_TRUE(host.Shutdown(2s));
}
