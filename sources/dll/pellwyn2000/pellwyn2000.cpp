#include "pellwyn2000.h"

#include <bit>
#include <cstdio>

#include "common/backupreader.h"
#include "common/enginesupport.h"
#include "common/executionlog.h"
#include "platform/database.h"
#include "platform/threads.h"

CTable* m_objTable = nullptr;

namespace {
// The library's start-up and shut-down: the exported table object lives while the library
// is loaded.
struct LibraryLife {
  LibraryLife() { m_objTable = new CTable(); }
  ~LibraryLife() {
    delete m_objTable;
    m_objTable = nullptr;
  }
} g_libraryLife;

template <class Record>
void DeleteAll(CStringKeyMap<Record*>& map) {
  for (auto& e : map) delete e.second;
  map.RemoveAll();
}
}  // namespace

std::mutex& ScriptLock2000() {
  static std::mutex lock;
  return lock;
}

CSQLServer2000::CSQLServer2000() {
  m_nFormatVersion = 2000;
  m_nSelectedDataSet = 0;
  m_nDataSetCount = 0;
  FreeRecoveredObjects();
  m_strFilePath = "";
  m_strDatabaseName = "";
  m_strLastOwnerName = "";
  m_pStatus = new CEngineStatus();
  {
    CExecutionLog banner;
  }
  CExecutionLog::GetModuleFolder();
  CExecutionLog::WriteLog(0, 0, "2000 Format", false);
  m_nRowCount = 0;
  m_nUnicodeNameCounter = 1;
  m_bPaging = 0;
  m_bPageForward = 0;
  m_bLastWindow = 0;
  m_bExportMode = 0;
  m_bExportRows = 0;
  m_bExportToServer = 0;
  m_bRecoverDeleted = 0;
  m_bAvoidDuplicate = 0;
  m_bBusy = 0;
  m_strExtension.Empty();
  ResetEvent(m_pStatus->m_hSysTabEvent);
  ResetEvent(m_pStatus->m_hTableExtractedEvent);
  ResetEvent(m_pStatus->m_hExportReady);
}

// The program never deletes an engine; tests and tools do, so release what it owns.
CSQLServer2000::~CSQLServer2000() {
  StopRecordWalks();
  FreeRecoveredObjects();
  m_pCurrentSet = nullptr;
  delete m_pBackupReader;
  m_pBackupReader = nullptr;
  RetireStatusBlock(m_pStatus);
}

CTable* CSQLServer2000::NewTable() { return m_tablePool.New(); }

void CSQLServer2000::FreeRecoveredObjects() {
  // Tables live in the pool: the maps that point at them are only emptied, and each table
  // is freed exactly once below, also one that NameUnnamedTables dropped.
  m_mapTables.RemoveAll();
  m_mapForeignKeyTables.RemoveAll();
  for (auto* map : {&m_mapViews, &m_mapStoredProcs, &m_mapRules, &m_mapTriggers, &m_mapFunctions}) DeleteAll(*map);
  DeleteAll(m_mapDataTypes);
  DeleteAll(m_mapObjectTexts);
  m_mapOwnerNames.RemoveAll();
  m_strLastOwnerName = "";
  m_mapForeignKeyNames.RemoveAll();
  m_mapConstraintObjects.clear();
  m_mapExecutedStatements.RemoveAll();
  m_mapTextPages.RemoveAll();
  m_setNonTableObjects.clear();
  m_mapTextPieces.clear();
  m_tablePool.Clear();
}

void CSQLServer2000::ScanMdfFile() {
  m_bBusy = 1;
  if (!StartDetachedThread([this] { RecoverSQLServerMDF(this); })) m_bBusy = 0;
}

void CSQLServer2000::GenerateFunctionQueries(CViewStoredProc* object) {
  if (!object) return;
  CString text = object->m_strText + "\r\n";
  if (m_bExportToServer == 1) {
    if (!m_pDatabase) return;
    try {
      m_pDatabase->ExecuteSQL(text);
    } catch (const CDBException&) {
      // A function the server refuses is left out; the export goes on.
    }
    return;
  }
  if (object->m_strText.IsEmpty()) return;
  text += "\r\ngo\r\n";
  WriteScript(m_hFunctionsSqlFile, text);
}

CString CSQLServer2000::RealToString(DWORD bits) {
  // A pattern of fewer than eight hex digits shows as 0.
  float value = 0.0f;
  if (bits >= 0x10000000u) value = std::bit_cast<float>(bits);
  return FormatString("%e", double(value));
}

