#include "enginestatus.h"

CEngineStatus::CEngineStatus() {
  // Unnamed, so private to this block; "RecordEvent" keeps its two handles on one event.
  m_hTableExtractedEvent = CreateNamedEvent(nullptr);
  m_hSysTabEvent = CreateNamedEvent(nullptr);
  m_hProgressRdyEvent = CreateNamedEvent(nullptr);
  m_hExportEvent = CreateNamedEvent(nullptr);
  m_hExportReady = CreateNamedEvent(nullptr);
  m_hExportProgressComplete = CreateNamedEvent(nullptr);
  m_hRecordEvent = CreateNamedEvent(nullptr);
  m_hRecordEvent2 = m_hRecordEvent;
  m_hSysRead = CreateNamedEvent(nullptr);
  m_hPageRead = CreateNamedEvent(nullptr);
  m_hSystemTabRdyEvent = CreateNamedEvent(nullptr);
  m_hPageReadComplete = CreateNamedEvent(nullptr);
}
