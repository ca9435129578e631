#include "enginestatus.h"

CEngineStatus::CEngineStatus() {
  m_hTableExtractedEvent = CreateNamedEvent("TableExtractedEvent");
  m_hSysTabEvent = CreateNamedEvent("SysTabEvent");
  m_hProgressRdyEvent = CreateNamedEvent("ProgressRdyEvent");
  m_hExportEvent = CreateNamedEvent("ExportEvent");
  m_hExportReady = CreateNamedEvent("ExportReady");
  m_hExportProgressComplete = CreateNamedEvent("ExportProgressComplete");
  m_hRecordEvent2 = CreateNamedEvent("RecordEvent");
  m_hSysRead = CreateNamedEvent("SysRead");
  m_hPageRead = CreateNamedEvent("PageRead");
  m_hSystemTabRdyEvent = CreateNamedEvent("SystemTabRdyEvent");
  m_hRecordEvent = CreateNamedEvent("RecordEvent");
  m_hPageReadComplete = CreateNamedEvent("PageReadComplete");
  ResetEvent(m_hExportReady);
  ResetEvent(m_hExportProgressComplete);
}
