#include "enginestatus.h"

namespace {
// Every status block has events of its own. Shared by name, a new engine would inherit what
// an abandoned engine's threads left signalled (a released hand-shake, a set "RecordEvent"),
// and its scan would run ahead of the program that follows it.
EVENT_HANDLE OwnEvent() { return CreateNamedEvent(nullptr); }
}  // namespace

CEngineStatus::CEngineStatus() {
  m_hTableExtractedEvent = OwnEvent();
  m_hSysTabEvent = OwnEvent();
  m_hProgressRdyEvent = OwnEvent();
  m_hExportEvent = OwnEvent();
  m_hExportReady = OwnEvent();
  m_hExportProgressComplete = OwnEvent();
  m_hSysRead = OwnEvent();
  m_hPageRead = OwnEvent();
  m_hSystemTabRdyEvent = OwnEvent();
  // "RecordEvent" has two handles: the census waits on the first, the row decoders and Stop
  // set the second.
  m_hRecordEvent = OwnEvent();
  m_hRecordEvent2 = m_hRecordEvent;
  m_hPageReadComplete = OwnEvent();
}
