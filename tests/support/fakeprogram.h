// Plays the desktop program's side of a recovery without a GUI: the page-progress thread
// and the system-table thread, answering the engine's hand-shakes as the program does.
#pragma once

#include <atomic>
#include <string>

class CSQLServer2000;
class CSQLServer2008;

namespace testsupport {

struct RecoveryResult {
  bool finished = false;         // the scan thread ended (m_bBusy back to 0) in time
  long long pagesCounted = 0;    // pages the progress thread counted
  int sysRounds = 0;             // system-table hand-shakes answered
  bool progressReady = false;    // "ProgressRdyEvent" was set by the page thread
};

struct RecoveryOptions {
  int selectedSet = 1;            // for a backup source
  unsigned timeoutMs = 120000;    // whole recovery
  // Stop the recovery (as the progress dialog's Stop does) after this many counted pages,
  // or at this system-table round (1-3); -1 = never.
  long long stopAfterPages = -1;
  int stopAtSysRound = -1;
  // 1: the program's strict lock-step, one "PageRead" per page, each counted as one page.
  // N > 1: the census hands over every N pages (and at its end), and the page thread counts
  // the pages the engine's m_nCensusPagesRead says were read.
  int censusHandOverEvery = 1;
};

// Stores the path, lists the sets (ScanDataSets), chooses a set and runs the scan with the
// two progress threads. The engine must be freshly constructed.
RecoveryResult RunRecovery(CSQLServer2008& engine, const std::string& path, const RecoveryOptions& options = {});
RecoveryResult RunRecovery(CSQLServer2000& engine, const std::string& path, const RecoveryOptions& options = {});

}  // namespace testsupport
