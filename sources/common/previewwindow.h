// One preview window of a table: the walk over the table's page list that stops when the
// window holds its rows, where a window starts (the table's first, the next, or the one
// before from the stack of window starts) and the paging state it leaves. Both engines page
// alike; only how a page is read and a row decoded is theirs.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>

#include "common/enginestatus.h"
#include "common/sqlserver.h"
#include "platform/threads.h"
#include "platform/types.h"

struct PreviewWindowSteps {
  // Reads the page at this place of the list into an 8192-byte buffer; false passes it over
  // (unreadable, not a data page, or not the table's).
  std::function<bool(size_t position, BYTE* page)> readPage;
  // The slot's entry as the walk reads it; 0 when the slot holds no row to read.
  std::function<WORD(const BYTE* page, int slot)> slotEntry;
  // Decodes the row at this entry of the page.
  std::function<void(BYTE* page, WORD entry)> decodeRow;
  // Rows the window holds so far.
  std::function<int()> rows;
  // True when the window is no longer wanted: the walk leaves at once.
  std::function<bool()> superseded;
};

struct PreviewWindowEnd {
  WindowStart next;        // where the next window begins: after the last slot read
  bool reachedEnd = false;  // the last page was read to its end
  bool abandoned = false;   // superseded on the way
};

// Walks the pages from `start` until `windowRows` rows are in or the list ends.
PreviewWindowEnd WalkPreviewWindow(size_t pageCount, const WindowStart& start, int windowRows,
                                   const PreviewWindowSteps& steps);

struct WindowRequest {
  WindowStart start;
  bool backward = false;  // the window before the one shown
  bool paging = false;    // the engine's paging flag when the walk began
};

// Where the requested window starts, from the engine's paging flags and stack: the first
// window of a table, `next` for the next one, the top of the stack for the one before.
// Changes nothing.
WindowRequest ChooseWindowStart(const CSQLServer& engine, const WindowStart& next);

// The paging state after the requested window was shown: the stack popped (backward) or
// given the window shown before (forward while paging), the shown window and the last-window
// flag.
void RecordShownWindow(CSQLServer& engine, const WindowRequest& request, bool reachedEnd);

// Starts the walk of a new preview window on a thread of its own. The ticket is taken here, on
// the caller's thread, so a walk still running for an earlier request knows at once that its
// window is no longer wanted; from then on only the new walk may say the window is done.
// `walks` is the engine's walk state (its `state` lock, `latest` ticket and `windowPending`);
// run(ticket) walks. False when no thread could start: the window is then the last and done.
template <class Walks, class Run>
bool StartPreviewWalk(CSQLServer& engine, const std::shared_ptr<Walks>& walks, Run run) {
  UINT64 ticket = 0;
  {
    std::lock_guard<std::mutex> lock(walks->state);
    ticket = ++walks->latest;
    walks->windowPending = true;
    engine.m_pStatus->m_bRecordThreadDone = 0;
  }
  if (StartDetachedThread([walks, ticket, run] { run(walks, ticket); })) return true;
  std::lock_guard<std::mutex> lock(walks->state);
  engine.m_bLastWindow = 1;
  if (walks->latest.load() == ticket) walks->windowPending = false;
  engine.m_pStatus->m_bRecordThreadDone = 1;
  return false;
}
