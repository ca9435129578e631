// The engines the program has made. One is current: the engine of the loaded backup or scan
// file. A later Load or Open Scan makes a new one current; the one it replaces is never used
// again but is never destroyed either, because threads it started (a scan, a record walk)
// may still be reading it.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "ui/core/enginefactory.h"

class CSQLServer;

class EngineHost {
 public:
  EngineHost() = default;
  // The engines outlive the host: they stay in memory for the rest of the process.
  ~EngineHost();
  EngineHost(const EngineHost&) = delete;
  EngineHost& operator=(const EngineHost&) = delete;

  CSQLServer* Current() const { return m_pCurrent; }
  // Version of the current engine; null when there is none.
  const EngineVersion* CurrentVersion() const { return m_pVersion; }

  // Makes the engine current. Does nothing for a refused one.
  void Adopt(CreatedEngine created);
  // The current engine's catalog is whole (its scan thread ended, or it was read from a scan
  // file): only then may it be exported or saved.
  // A stopped scan's catalog is usable as well, but holds only what was read before the stop:
  // `partial` says so, and Export and Save Scan warn before they go on.
  // An engine that read a scan file of a stopped recovery stays partial; the engine keeps the
  // mark, so its own Save Scan writes it.
  void MarkCatalogComplete(bool partial = false);
  bool CatalogComplete() const { return m_bCatalogComplete; }
  bool CatalogPartial() const { return m_bCatalogPartial; }
  // A failed Load: no engine is current any more (the one that was stays in memory, as every
  // engine does).
  void ReleaseCurrent() {
    m_pCurrent = nullptr;
    m_pVersion = nullptr;
    m_bCatalogComplete = m_bCatalogPartial = false;
  }
  // Starts the current engine's scan thread (ScanMdfFile) and remembers the engine, so that
  // Shutdown can wait for the scan to leave it.
  void StartScan();

  // Exit: asks every engine to stop (scan and record work) and wakes whatever their threads
  // wait on, so each leaves at its next check; then waits up to `bound` for every scan started
  // here to end. False when one did not: the caller must then end the process without running
  // destructors that such a thread may still reach.
  bool Shutdown(std::chrono::milliseconds bound);

 private:
  std::vector<CSQLServer*> m_engines;  // every engine adopted, the current one included
  std::vector<CSQLServer*> m_scanned;  // engines whose scan thread was started here
  CSQLServer* m_pCurrent = nullptr;
  const EngineVersion* m_pVersion = nullptr;
  bool m_bCatalogComplete = false;
  bool m_bCatalogPartial = false;
};
