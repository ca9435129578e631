// The record preview's program side, without the window: a table selected in the tree, or the
// "<" and ">" buttons, start one page of at most 500 rows; a thread of the driver starts the
// engine's record thread, sleeps until the engine says the rows are ready, takes them, splits
// each row text into the list's cells and hands the whole page to a sink at once.
//
// The page is ready for the next press before the sink sees it: a window that answers a page
// with ">" at once (or a sink that presses it itself) gets the next page, not Busy.
//
// Only one page of an engine is read at a time: a selection or a button while a page is read
// is refused (the window puts its selection back on the table being read).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CColumn;
class CSQLServer;
class CTable;

namespace uicore {

// The cells of one row text: the pieces between "$#$" separators, a run of separators (or one
// at the start) counting as one, so an empty piece is never produced; a piece "Empty" becomes
// one blank. A text with no piece gives no cell.
std::vector<std::string> SplitRowText(const std::string& rowText);

// A column whose values are numbers: the integer, exact and approximate number types.
bool IsNumericColumn(const CColumn& column);

// A table's first page: no paging state of an earlier page or table survives (and the
// export mode is cleared, as a table selection clears it).
void ResetPaging(CSQLServer& engine);

struct PreviewPage {
  CTable* table = nullptr;
  int pageNumber = 0;                     // 1 for a table's first page
  std::vector<std::string> headers;       // every column of the table's list, dropped ones too
  std::vector<bool> numeric;              // per header: the column holds numbers (shown right-aligned)
  std::vector<std::string> rowTexts;      // the rows as the engine delivered them
  std::vector<std::vector<std::string>> rows;  // the list's rows (a text without cells adds none)
  bool lastPage = false;                  // the engine read the table's last page to its end
  bool previousEnabled = false;           // "<": pages before this one
  bool nextEnabled = false;               // ">": not the last page, and this one has rows
};

// Receives each page from the driver's thread; a window posts it to its own thread.
class IPreviewSink {
 public:
  virtual ~IPreviewSink() = default;
  virtual void ShowPage(const PreviewPage& page) = 0;
};

enum class PreviewStart {
  Started,
  Busy,           // a page of this engine is being read
  ExportRunning,  // an export is reading records: no preview
  Unavailable,    // no table selected
};

class PreviewDriver {
 public:
  // The engine and the sink must outlive the driver.
  PreviewDriver(CSQLServer& engine, IPreviewSink& sink);
  // Leaves a page being read to the engine and ends the driver's thread; nothing reaches
  // the sink afterwards.
  ~PreviewDriver();
  PreviewDriver(const PreviewDriver&) = delete;
  PreviewDriver& operator=(const PreviewDriver&) = delete;

  // Called on the window's thread. The buttons' handlers do what the buttons do whatever
  // their state; the window keeps them disabled as NextEnabled and PreviousEnabled say (the
  // engine answers "<" on a first page with the first page again).
  PreviewStart SelectTable(CTable* table);
  PreviewStart NextPage();
  PreviewStart PreviousPage();

  bool Running() const { return m_running.load(); }
  // The table of the page being read or shown last: where a refused selection goes back to.
  CTable* Table() const;
  int PageNumber() const;
  // Button states: both disabled while a page is read.
  bool NextEnabled() const;
  bool PreviousEnabled() const;

  // For front ends without a window: waits until no page is being read. The last page may
  // still be on its way to the sink: wait for the page itself to read it.
  bool WaitIdle(std::chrono::milliseconds timeout);

 private:
  PreviewStart Begin();
  PreviewStart Turn(bool forward);
  void Launch(CTable* table, int pageNumber);
  void PageThread();
  void ReadPage(CTable* table, int pageNumber);
  void Finish(bool previousEnabled, bool nextEnabled);

  CSQLServer& m_engine;
  IPreviewSink& m_sink;

  mutable std::mutex m_mutex;
  std::condition_variable m_idle;
  CTable* m_table = nullptr;      // guarded by m_mutex
  int m_pageNumber = 0;           // guarded by m_mutex
  bool m_nextEnabled = false;     // guarded by m_mutex
  bool m_previousEnabled = false; // guarded by m_mutex
  // The page the page thread is to read next (guarded by m_mutex): one thread reads every
  // page in turn, so a press made from the sink, on that thread, never has to join it.
  CTable* m_requestTable = nullptr;
  int m_requestPage = 0;
  std::condition_variable m_requested;
  std::atomic<bool> m_running{false};
  std::atomic<bool> m_quit{false};
  std::thread m_thread;
};

}  // namespace uicore
