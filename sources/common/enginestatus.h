// The status block: where the engine's threads and the program's threads meet. Events for
// the hand-shakes, and flags and counters both sides read and write. Every block has events
// of its own: an abandoned engine's threads, or a second program in the same process, must
// never release or stall another engine's scan.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>

#include "platform/cstring.h"
#include "platform/events.h"
#include "platform/types.h"
#include "platform/waitableflag.h"

class CTable;

class CEngineStatus {
 public:
  CEngineStatus();
  ~CEngineStatus() = default;
  CEngineStatus(const CEngineStatus&) = delete;
  CEngineStatus& operator=(const CEngineStatus&) = delete;

  EVENT_HANDLE m_hPageReadComplete;
  EVENT_HANDLE m_hExportEvent;
  EVENT_HANDLE m_hExportReady;
  EVENT_HANDLE m_hExportProgressComplete;
  EVENT_HANDLE m_hProgressRdyEvent;
  EVENT_HANDLE m_hTableExtractedEvent;
  EVENT_HANDLE m_hSysTabEvent;
  EVENT_HANDLE m_hPageRead;
  EVENT_HANDLE m_hSysRead;
  EVENT_HANDLE m_hSystemTabRdyEvent;
  EVENT_HANDLE m_hRecordEvent;
  EVENT_HANDLE m_hRecordEvent2;  // a second handle of "RecordEvent"

  std::atomic<CTable*> m_pPreviewTable{nullptr};
  std::atomic<CTable*> m_pExportTable{nullptr};
  // Preview rows, each the column texts joined by "$#$". Guarded by m_csPreviewRows; the
  // record thread publishes a window before it sets m_bRecordThreadDone.
  std::deque<CString> m_vecPreviewRows;
  std::mutex m_csPreviewRows;

  std::atomic<int> m_nTotalPages{0};
  std::atomic<BYTE> m_bStopScan{0};
  std::atomic<BYTE> m_bStopRecords{0};
  // Raised by whoever ends record work; the program sleeps on it until a window is ready.
  WaitableFlag m_bRecordThreadDone{0};
  std::atomic<int> m_nRecordsSent{0};
  CString m_strDatabaseName;  // written by the scan thread before its first "PageRead"
  std::atomic<int> m_nRecordsProcessed{0};
  // Data pages the export walks have read, counting up for the whole life of the engine: a
  // follower of one table's export takes the difference.
  std::atomic<long long> m_nExportPagesRead{0};
  std::atomic<BYTE> m_bAllPagesRead{0};
  // Set by a script-set generator when its file is complete, for the thread that watches it.
  std::atomic<BYTE> m_bExportComplete{0};
  std::atomic<int> m_nTableCount{0};
  std::atomic<int> m_nViewCount{0};
  std::atomic<int> m_nProcCount{0};
  std::atomic<int> m_nRuleCount{0};
  std::atomic<int> m_nTriggerCount{0};
  std::atomic<int> m_nFunctionCount{0};
};
