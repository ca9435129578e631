#include "support/fakepreview.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "dll/pellwyn2008/pellwyn2008.h"

namespace testsupport {

namespace {
using Clock = std::chrono::steady_clock;

// CPellwynDlg::RecordPreviewThread: the table into the status block, the engine's record
// thread started, the done flag polled, then the rows taken out.
PreviewWindow RunWindow(CSQLServer2008& engine, CTable* table, unsigned timeoutMs) {
  PreviewWindow window;
  CEngineStatus* status = engine.m_pStatus;
  status->m_pPreviewTable = table;
  engine.StartRecoverTableRecordThread();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!status->m_bRecordThreadDone && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  window.finished = status->m_bRecordThreadDone != 0;
  if (!window.finished) return window;
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  {
    std::lock_guard<std::mutex> lock(status->m_csPreviewRows);
    for (const CString& row : status->m_vecPreviewRows) window.rows.push_back(row.str());
    status->m_vecPreviewRows.clear();
  }
  window.lastWindow = engine.m_bLastWindow != 0;
  return window;
}

PreviewWindow Page(CSQLServer2008& engine, bool forward, unsigned timeoutMs) {
  if (engine.m_bExportMode == 1) return PreviewWindow();
  engine.m_bPaging = 1;
  engine.m_bPageForward = forward ? 1 : 0;
  engine.m_pStatus->m_bRecordThreadDone = 0;
  return RunWindow(engine, engine.m_pStatus->m_pPreviewTable, timeoutMs);
}
}  // namespace

CTable* FindTable(CSQLServer2008& engine, const std::string& name) {
  for (const auto& entry : engine.m_mapTables) {
    CTable* t = entry.second;
    if (!t) continue;
    if (name == t->m_strName.str() || name == t->m_strOwner.str() + "." + t->m_strName.str()) return t;
  }
  return nullptr;
}

PreviewWindow SelectTable(CSQLServer2008& engine, CTable* table, unsigned timeoutMs) {
  // CPellwynDlg::OnTreeSelChanged.
  engine.m_pStatus->m_bRecordThreadDone = 0;
  engine.m_bPaging = 0;
  engine.m_bPageForward = 0;
  engine.m_bLastWindow = 0;
  engine.m_bExportMode = 0;
  engine.m_posShownPage.reset();
  engine.m_nShownSlotPos = 0;
  engine.m_nShownSlotIndex = 0;
  engine.m_stkWindowStarts.clear();
  return RunWindow(engine, table, timeoutMs);
}

PreviewWindow NextWindow(CSQLServer2008& engine, unsigned timeoutMs) { return Page(engine, true, timeoutMs); }
PreviewWindow PreviousWindow(CSQLServer2008& engine, unsigned timeoutMs) { return Page(engine, false, timeoutMs); }

std::vector<std::string> AllRows(CSQLServer2008& engine, CTable* table, int* windows) {
  std::vector<std::string> rows;
  int count = 0;
  PreviewWindow w = SelectTable(engine, table);
  for (;;) {
    ++count;
    rows.insert(rows.end(), w.rows.begin(), w.rows.end());
    // A window that ends without rows ends the table as well, whatever the flag says.
    if (!w.finished || w.lastWindow || w.rows.empty() || count > 100000) break;
    w = NextWindow(engine);
  }
  if (windows) *windows = count;
  return rows;
}

}  // namespace testsupport
