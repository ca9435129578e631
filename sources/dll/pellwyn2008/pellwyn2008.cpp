#include "pellwyn2008.h"

#include <cstdlib>

#include "common/backupreader.h"
#include "common/enginesupport.h"
#include "common/executionlog.h"
#include "common/page.h"

CSQLServer2008::CSQLServer2008() : CSQLServer2008("2008 Format", "2008") {}

CSQLServer2008::CSQLServer2008(const char* formatLogText, const char* scanFileVersion)
    : m_szScanFileVersion(scanFileVersion) {
  m_nFormatVersion = std::atoi(scanFileVersion);
  m_nSelectedDataSet = 0;
  m_nDataSetCount = 0;
  m_strFilePath = "";
  m_strDatabaseName = "";
  m_nObjectSerial = 0;
  m_pStatus = new CEngineStatus();
  {
    CExecutionLog banner;
  }
  CExecutionLog::GetModuleFolder();
  CExecutionLog::WriteLog(0, 0, formatLogText, false);
  m_nWindowRows = 0;
  m_bPageForward = 0;
  m_bPaging = 0;
  m_bLastWindow = 0;
  m_bExportRows = 0;
  m_bExportMode = 0;
  m_bExportToServer = 0;
  m_bLobFlag = 0;
  m_bRecoverDeleted = 0;
  m_bBusy = 1;
  m_nUnicodeNameSerial = 1;
  m_posShownPage.reset();
  m_strExtension.Empty();
  m_nShownSlotPos = 0;
  m_nShownSlotIndex = 0;
  ResetEvent(m_pStatus->m_hSysTabEvent);
  ResetEvent(m_pStatus->m_hTableExtractedEvent);
  ResetEvent(m_pStatus->m_hExportReady);
}

// The program never deletes an engine; tests and tools do, so release what it owns.
CSQLServer2008::~CSQLServer2008() {
  FreeRecoveredObjects();
  for (auto& e : m_mapDataTypes) delete e.second;
  m_mapDataTypes.RemoveAll();
  m_pCurrentSet = nullptr;
  delete m_pBackupReader;
  m_pBackupReader = nullptr;
  RetireStatusBlock(m_pStatus);
}

CTable* CSQLServer2008::NewTable() { return m_tablePool.New(); }

void CSQLServer2008::FreeRecoveredObjects() {
  // Table records (tables, allocation units, page groups) all live in the pool, so the
  // maps are only emptied here and each record is freed exactly once below.
  m_mapTables.RemoveAll();
  for (auto* map : {&m_mapViews, &m_mapStoredProcs, &m_mapRules, &m_mapTriggers, &m_mapFunctions}) {
    for (auto& e : *map) delete e.second;
    map->RemoveAll();
  }
  m_mapAllocUnits.RemoveAll();
  m_mapRowsets.RemoveAll();
  for (auto& e : m_mapIndexes) delete e.second;
  m_mapIndexes.RemoveAll();
  m_mapConstraintObjects.clear();
  m_mapForeignKeyReferences.clear();
  m_mapIndexFilterTexts.clear();
  m_mapPageGroups.RemoveAll();
  m_mapRowsetObjects.RemoveAll();
  m_setLinkedUnits.clear();
  m_mapCatalogRowCounts.clear();
  m_setTablesWithRowsets.clear();
  m_setObjectRowIds.clear();
  m_mapTextPages.RemoveAll();
  // An unnamed table takes the owner last seen: never one of an earlier scan.
  m_strLastOwnerName = "";
  m_tablePool.Clear();
}

void CSQLServer2008::RestoreTornBits(BYTE* body, DWORD tornBits) { ::RestoreTornBits(body, tornBits); }

