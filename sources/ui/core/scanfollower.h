// The recovery progress dialog's two threads, without the dialog: the page thread answers the
// page census hand-over by hand-over and counts its pages, the system-table thread answers the
// three catalog hand-shakes and, after the third, has the object tree filled. What they find
// goes to a sink the window implements; the page count itself is an atomic that the window's
// timer reads, so a scan of a million pages posts no million events.
//
// Stop and Close never end a thread by force: they raise the scan's stop flag, set every event
// a thread of the recovery may wait on, and join the follower's threads. The engine's scan
// thread leaves at its next check of the flag; ScanEnded tells when it has.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CSQLServer;

namespace uicore {

struct ObjectCounts {
  int tables = 0;
  int views = 0;
  int procedures = 0;
  int rules = 0;
  int triggers = 0;
  int functions = 0;
};

// Recover's steps before the progress dialog, for every engine.
// True when the path ends in ".bak" in any letter case: the engines locate a backup's pages
// through its sets, any other file at page number x 8192.
bool IsBackupFile(const std::string& path);
// Stores the path in the engine and lets it list the backup sets (ScanDataSets); gives the
// number of sets, 0 for a file that is not a backup or holds none.
int ListBackupSets(CSQLServer& engine, const std::string& path);
// True when the engine's listed sets hold set number `set` (1-based, as the set dialog gives).
bool HasBackupSet(const CSQLServer& engine, int set);

// How much of the chosen source (the selected set's stream, or the database file) the file
// holds when it was cut off before its end: "The backup is truncated: 401 of 440 pages were
// read."; empty for a whole source. The follower logs it as the scan starts; the progress
// dialog's end and engine-driver show it.
std::string SourceCutOffText(const CSQLServer& engine);

// What the user is told before the scan of a differential set whose base full set the file
// does not hold (only the pages it changed can be read); empty for any other set.
std::string MissingBaseWarning(const CSQLServer& engine);

// A count as the progress dialog shows it: "%d (%d)", the count in both places.
std::string CountText(int count);

// Receives the follower's findings. Every call comes from a follower thread, so a window
// posts it to its own thread; no call may wait for the thread that calls Stop or Close.
// After Stop or Close has returned only ScanEnded still comes.
class IScanProgressSink {
 public:
  virtual ~IScanProgressSink() = default;
  virtual void ShowFormat(const std::string& format) = 0;   // "Database Version :"
  virtual void ShowDatabaseName(const std::string& name) = 0;  // once, when first known
  virtual void ShowPercent(int percent) = 0;                // when it changes: 0-50, 60, 70, 100
  // The exact page count, once, when the page thread ends; until then the window's timer
  // reads ScanFollower::PagesCounted().
  virtual void ShowPagesRead(long long pages) = 0;
  // After the third hand-shake, in this order.
  virtual void FillObjectTree() = 0;
  virtual void ShowCounts(const ObjectCounts& counts) = 0;
  virtual void RecoveryComplete() = 0;  // "Recovery Complete", the button becomes "Close"
  // The engine's scan thread has left the engine: its maps are final and the engine may be
  // exported, saved or freed. Comes after a stopped scan as well.
  virtual void ScanEnded() = 0;
};

// A census that hands over pages in batches: the follower asks for one hand-over every N
// pages and counts the pages the engine says it has read. Empty for an engine whose census
// hands over page by page.
struct CensusHandOver {
  std::function<void(int every)> setEvery;
  std::function<long long()> pagesRead;
  explicit operator bool() const { return setEvery && pagesRead; }
};
CensusHandOver CoalescedCensusOf(CSQLServer& engine);

// Asks the user a Yes/No question (question, title); true for Yes.
using AskYesNo = std::function<bool(const std::string& question, const std::string& title)>;

struct ScanFollowerOptions {
  std::string format;  // "2000 Format", "2005 Format" or "2008 Format"
  // Census pages per hand-over when the engine can batch them; 1 keeps the strict lock-step
  // (one "PageRead" per page), which costs the scan several microseconds a page. Each
  // hand-over waits for this thread to be scheduled, so few of them keep the census at the
  // speed of the disk; the window still sees every page through PagesCounted(), and a Stop
  // reaches the census at its next hand-over (64 MiB of pages at most).
  int handOverEvery = 8192;
  CensusHandOver handOver;  // empty: CoalescedCensusOf(engine)
  // Stop points for front ends that stop a recovery at a chosen moment instead of a click:
  // asked on the page thread after each counted hand-over (the pages counted), and on the
  // system-table thread at each hand-shake (1-3) before it is answered. True stops the
  // recovery there, as a confirmed Stop at that moment would.
  std::function<bool(long long pages)> stopAfterHandOver;
  std::function<bool(int round)> stopAtHandShake;
  // Starts the engine's scan thread; empty: the engine's ScanMdfFile. The program starts it
  // through its engine host, which must know every scan it has to wait for at exit.
  std::function<void()> startScan;
};

class ScanFollower {
 public:
  static constexpr const char* kStopQuestion = "Are you sure you want stop the recovery process ?";
  static constexpr const char* kStopTitle = "Tarnwell Brackmoor Server";
  // Status pane 0 of the main window once Stop has ended a recovery in the middle, and once
  // the button has closed a completed one.
  static constexpr const char* kStoppedStatus = "Recovery stopped";
  static constexpr const char* kCompleteStatus = "Recovery complete";

  // The engine and the sink must outlive the follower.
  ScanFollower(CSQLServer& engine, IScanProgressSink& sink, ScanFollowerOptions options = {});
  // A recovery still running is stopped as a confirmed Close would stop it.
  ~ScanFollower();
  ScanFollower(const ScanFollower&) = delete;
  ScanFollower& operator=(const ScanFollower&) = delete;

  // Prepares the status block, starts the engine's scan (ScanMdfFile) and the two threads.
  // The caller has stored the source path in the engine, listed its sets and chosen one.
  // A second call does nothing.
  void Start();

  // The Stop button. Before completion it asks kStopQuestion: No changes nothing and gives
  // false. Otherwise the recovery is stopped (tree not filled) and true says: close the
  // dialog with the cancel result and show kStoppedStatus.
  bool Stop(const AskYesNo& ask);
  // The close box (and Esc). While the scan runs it asks the same question: No gives false
  // and the dialog stays. Otherwise the recovery is stopped and true says: close the dialog.
  bool Close(const AskYesNo& ask);

  // For the window's timer: the pages counted so far and the bar's percentage. While a
  // batching census runs, both follow the engine's own page count between hand-overs.
  long long PagesCounted() const;
  int Percent() const;
  int SysRounds() const { return m_sysRounds.load(); }
  bool ProgressReady() const { return m_progressReady.load(); }  // "ProgressRdyEvent" was set
  bool Complete() const { return m_complete.load(); }            // the tree was filled
  bool Stopped() const { return m_stopped.load(); }              // Stop was confirmed
  bool ScanThreadEnded() const { return m_scanEnded.load(); }

  // For front ends without a window: waits until the engine's scan thread has ended and both
  // follower threads with it; false when the time-out came first.
  bool WaitUntilFinished(std::chrono::milliseconds timeout);

 private:
  void PageThread();
  void SysTableThread();
  void WatchScanThread();
  // Calls the sink unless Stop or Close has detached it; serialised with the detach, so no
  // report starts after Stop or Close has returned.
  template <class F>
  void Report(F&& call);
  // Raises the stop flag and sets every event the recovery's threads may wait on.
  void StopRecovery();
  void Detach();
  // A stop point said stop: as a confirmed Stop, from one of the follower's own threads.
  void StopFromFollower();
  void JoinFollowerThreads();
  void ThreadEnded();

  CSQLServer& m_engine;
  IScanProgressSink& m_sink;
  ScanFollowerOptions m_options;
  bool m_coalesced = false;

  std::atomic<long long> m_pages{0};
  std::atomic<bool> m_counting{false};  // the page thread has not ended
  std::atomic<int> m_percent{0};
  std::atomic<int> m_sysRounds{0};
  std::atomic<bool> m_progressReady{false};
  std::atomic<bool> m_complete{false};
  std::atomic<bool> m_stopped{false};
  std::atomic<bool> m_quit{false};     // the page and system-table threads are to leave
  std::atomic<bool> m_unwatch{false};  // the follower goes: stop waiting for the scan thread
  std::atomic<bool> m_scanEnded{false};

  std::mutex m_reportMutex;
  bool m_detached = false;  // guarded by m_reportMutex

  std::mutex m_stateMutex;
  std::condition_variable m_stateChanged;
  int m_threadsRunning = 0;  // guarded by m_stateMutex

  std::thread m_pageThread;
  std::thread m_sysThread;
  std::thread m_watchThread;
};

}  // namespace uicore
