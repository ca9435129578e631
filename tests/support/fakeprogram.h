// A recovery as the desktop program runs it, without a window: the program's scan follower
// (ui/core) answers the engine's hand-shakes, and this file waits for the end.
#pragma once

#include <string>

#include "ui/core/scanfollower.h"

class CSQLServer;

namespace testsupport {

// Nobody looks at the dialog: the follower's own counters say what happened.
class SilentScanSink : public uicore::IScanProgressSink {
 public:
  void ShowFormat(const std::string&) override {}
  void ShowDatabaseName(const std::string&) override {}
  void ShowPercent(int) override {}
  void ShowPagesRead(long long) override {}
  void FillObjectTree() override {}
  void ShowCounts(const uicore::ObjectCounts&) override {}
  void RecoveryComplete() override {}
  void ScanEnded() override {}
};

struct RecoveryResult {
  bool finished = false;         // the scan thread ended (and the follower with it) in time
  long long pagesCounted = 0;    // pages the follower's page thread counted
  int sysRounds = 0;             // system-table hand-shakes answered
  bool progressReady = false;    // "ProgressRdyEvent" was set by the page thread
};

struct RecoveryOptions {
  int selectedSet = 1;            // for a backup source
  unsigned timeoutMs = 120000;    // whole recovery
  // Stop the recovery (as a confirmed Stop would) after this many counted pages, or at this
  // system-table round (1-3); -1 = never.
  long long stopAfterPages = -1;
  int stopAtSysRound = -1;
  // 1: the strict lock-step, one "PageRead" per page, each counted as one page. N > 1: the
  // census hands over every N pages (and at its end), and the follower counts the pages the
  // engine says were read.
  int censusHandOverEvery = 1;
};

// Stores the path, lists the sets (ScanDataSets), chooses a set and runs the scan with the
// follower's two threads. The engine must be freshly constructed.
RecoveryResult RunRecovery(CSQLServer& engine, const std::string& path, const RecoveryOptions& options = {});
// The same once the path is stored and the sets are listed: chooses the set, follows the scan.
RecoveryResult FollowScan(CSQLServer& engine, const RecoveryOptions& options = {});

}  // namespace testsupport
