// The scan thread: the census, then the system tables in their fixed order, meeting the
// progress partner once per page and three times between stages.
#include "common/executionlog.h"
#include "pellwyn2000.h"

namespace {
void Log(const char* text) { CExecutionLog::WriteLog(0, 0, text, false); }
}  // namespace

DWORD CSQLServer2000::RecoverSQLServerMDF(void* arg) {
  auto* engine = arg ? static_cast<CSQLServer2000*>(arg) : this;
  if (engine != this) return engine->RecoverSQLServerMDF(engine);
  m_bBusy = 1;
  RunScan();
  m_bBusy = 0;
  return 1;
}

bool CSQLServer2000::Stage(const char* text) {
  if (ScanStopped()) return false;
  Log(text);
  return true;
}

bool CSQLServer2000::HandShake(const char* waitingText, const char* receivedText) {
  if (ScanStopped()) return false;
  SetEvent(m_pStatus->m_hSysRead);
  if (waitingText) Log(waitingText);
  if (!WaitUnlessStopped(m_pStatus->m_hSystemTabRdyEvent, &m_pStatus->m_bStopScan)) return false;
  if (receivedText) Log(receivedText);
  ResetEvent(m_pStatus->m_hSystemTabRdyEvent);
  return true;
}

void CSQLServer2000::PublishCounts() {
  m_pStatus->m_nTableCount = m_mapTables.GetCount();
  m_pStatus->m_nViewCount = m_mapViews.GetCount();
  m_pStatus->m_nProcCount = m_mapStoredProcs.GetCount();
  m_pStatus->m_nRuleCount = m_mapRules.GetCount();
  m_pStatus->m_nTriggerCount = m_mapTriggers.GetCount();
  m_pStatus->m_nFunctionCount = m_mapFunctions.GetCount();
  m_nTableCount = m_pStatus->m_nTableCount;
  m_nViewCount = m_pStatus->m_nViewCount;
  m_nProcCount = m_pStatus->m_nProcCount;
  m_nRuleCount = m_pStatus->m_nRuleCount;
  m_nTriggerCount = m_pStatus->m_nTriggerCount;
  m_nFunctionCount = m_pStatus->m_nFunctionCount;
  m_nDataTypeCount = m_mapDataTypes.GetCount();
  m_nIndexCount = m_mapObjectTexts.GetCount();
}

void CSQLServer2000::RunScan() {
  PinEngineSource(*this);
  if (IsBackupSource()) LocateDataSet();
  FreeRecoveredObjects();
  m_vecScanWarnings.clear();
  m_catalogChecks.Clear();
  m_mapCatalogPagePlaces.clear();
  // Substitute names are numbered per scan, and an unnamed table takes the owner last seen in
  // this scan, so scanning a file again names it the same way.
  m_nUnicodeNameCounter = 1;
  m_strLastOwnerName = "";
  const CString name = GetDatabaseName();
  m_pStatus->m_strDatabaseName = name;
  m_strDatabaseName = m_pStatus->m_strDatabaseName;

  // A stop ends the scan at the next stage or hand-shake; what was read so far is still
  // cleaned and counted, so the maps never hold system tables or unnamed tables.
  auto stopped = [this] {
    NameUnnamedTables();
    PublishCounts();
    Log("Scan stopped");
  };
  if (!Stage("Read All Pages")) return stopped();
  ReadAllPages();
  // The progress partner says when it has counted the last page; then what the census's
  // last hand-over left signalled is cleared, so a later recovery in this process starts in
  // step.
  if (!WaitUnlessStopped(m_pStatus->m_hPageReadComplete, &m_pStatus->m_bStopScan)) return stopped();
  ResetEvent(m_pStatus->m_hPageRead);
  ResetEvent(m_pStatus->m_hRecordEvent);
  if (!Stage("Gathering datatypes")) return stopped();
  ReadSysTypes();
  ReadSysUsers();
  if (!Stage("Reading sysobjects")) return stopped();
  ReadSysObjects();
  Log("Reading sysobjects completed.");
  if (!HandShake("Waiting For Event after reading sysobjects.", "Event recieved")) return stopped();
  if (ScanStopped()) return stopped();
  ReadSysIndexes();
  ReadSysForeignKeys();
  if (!Stage("Gathering view, stored procedures,triggers etc")) return stopped();
  ReadSysComments();
  if (!Stage("Reading column information")) return stopped();
  ReadSysColumns();
  CheckCatalogFirstPages();
  m_catalogChecks.ForgetEvidence();
  if (ScanStopped()) return stopped();
  Log("Waiting For Event after reading column information.");
  if (!HandShake(nullptr, "Event recieved")) return stopped();
  NameUnnamedTables();
  AttachConstraints();
  PublishCounts();
  if (!HandShake(nullptr, nullptr)) {
    Log("Scan stopped");
    return;
  }
  ReportSourceChange(*this, "scan");
  Log("Parse Complete");
}
