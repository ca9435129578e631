#include "support/fakeprogram.h"

#include <chrono>

#include "common/sqlserver.h"
#include "ui/core/scanfollower.h"

namespace testsupport {

RecoveryResult RunRecovery(CSQLServer& engine, const std::string& path, const RecoveryOptions& options) {
  uicore::ListBackupSets(engine, path);
  return FollowScan(engine, options);
}

RecoveryResult FollowScan(CSQLServer& engine, const RecoveryOptions& options) {
  engine.m_nSelectedDataSet = options.selectedSet;

  uicore::ScanFollowerOptions o;
  o.handOverEvery = options.censusHandOverEvery;
  if (options.stopAfterPages >= 0)
    o.stopAfterHandOver = [n = options.stopAfterPages](long long pages) { return pages >= n; };
  if (options.stopAtSysRound > 0)
    o.stopAtHandShake = [n = options.stopAtSysRound](int round) { return round == n; };
  SilentScanSink sink;
  uicore::ScanFollower follower(engine, sink, o);
  follower.Start();
  RecoveryResult result;
  result.finished = follower.WaitUntilFinished(std::chrono::milliseconds(options.timeoutMs));
  if (!result.finished) {
    follower.Close([](const std::string&, const std::string&) { return true; });
    // The caller frees the engine next: give its stopped scan thread time to leave.
    follower.WaitUntilFinished(std::chrono::seconds(10));
  }
  result.pagesCounted = follower.PagesCounted();
  result.sysRounds = follower.SysRounds();
  result.progressReady = follower.ProgressReady();
  return result;
}

}  // namespace testsupport
