#include "enginehost.h"

#include <algorithm>
#include <thread>

#include "common/sqlserver.h"

namespace {

// Engines live until the process ends. The list is reachable from a global, so leak checkers
// do not report what is kept on purpose.
void KeepForProcess(std::vector<CSQLServer*>& engines) {
  static std::mutex mutex;
  static auto* kept = new std::vector<std::unique_ptr<CSQLServer>>();
  std::lock_guard<std::mutex> lock(mutex);
  for (CSQLServer* engine : engines) kept->emplace_back(engine);
  engines.clear();
}

void StopAndWake(CSQLServer& engine) {
  CEngineStatus* status = engine.m_pStatus;
  if (!status) return;
  status->m_bStopScan = 1;
  status->m_bStopRecords = 1;
  // Every event a scan or record thread can be waiting on; a stopped scan checks the flag
  // after each wake-up and does not wait again.
  SetEvent(status->m_hRecordEvent);
  SetEvent(status->m_hRecordEvent2);
  SetEvent(status->m_hSystemTabRdyEvent);
  SetEvent(status->m_hTableExtractedEvent);
}

}  // namespace

EngineHost::~EngineHost() { KeepForProcess(m_engines); }

void EngineHost::MarkCatalogComplete(bool partial) {
  m_bCatalogComplete = m_pCurrent != nullptr;
  m_bCatalogPartial = m_bCatalogComplete && (partial || m_pCurrent->m_bRecoveryStopped);
  if (m_pCurrent) m_pCurrent->m_bRecoveryStopped = m_bCatalogPartial;
}

void EngineHost::Adopt(CreatedEngine created) {
  if (!created.engine) return;
  // The engine set aside no longer holds its source open for others opening the same path;
  // what its threads still read stays open for them.
  if (m_pCurrent) m_pCurrent->m_sourcePin.Release();
  m_pCurrent = created.engine.release();
  m_pVersion = created.version;
  m_bCatalogComplete = m_bCatalogPartial = false;
  m_engines.push_back(m_pCurrent);
}

void EngineHost::StartScan() {
  if (!m_pCurrent) return;
  if (std::find(m_scanned.begin(), m_scanned.end(), m_pCurrent) == m_scanned.end()) m_scanned.push_back(m_pCurrent);
  m_pCurrent->ScanMdfFile();
}

bool EngineHost::Shutdown(std::chrono::milliseconds bound) {
  for (CSQLServer* engine : m_engines) StopAndWake(*engine);
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (CSQLServer* engine : m_scanned) {
    while (engine->m_bBusy.load()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  return true;
}
