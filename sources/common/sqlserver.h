// The abstract engine: the 21 operations every engine offers, in their fixed order, and
// the data members the desktop program shares with every engine.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "common/enginestatus.h"
#include "common/records.h"
#include "platform/collections.h"
#include "platform/cstring.h"
#include "platform/files.h"
#include "platform/types.h"
#include "platform/waitableflag.h"

class CArchive;
class CDatabase;
class CBackupReader;
class CBackupSet;

// Position in a table's data page list; empty means none.
using PagePosition = std::optional<size_t>;

// Where a preview window began: page-list position, slot-array position, slot index.
struct WindowStart {
  PagePosition posPage;
  int nSlotPos = 0;
  int nSlotIndex = 0;
};

using ByteFlag = std::atomic<BYTE>;

class CSQLServer {
 public:
  CSQLServer() = default;
  CSQLServer(const CSQLServer&) = delete;
  CSQLServer& operator=(const CSQLServer&) = delete;

  virtual DWORD RecoverSQLServerMDF(void* engine) = 0;
  virtual void ScanMdfFile() = 0;
  virtual void ScanDataSets() = 0;
  virtual CString GetDatabaseName() = 0;
  virtual void GetTableRecord(BYTE* pageBody, WORD recordOffset, CTable* table) = 0;
  virtual WORD ExportTableRecord(BYTE* pageBody, WORD recordOffset, CTable* table, CDatabase* database,
                                 CString* batch, bool* batchFull) = 0;
  virtual void ReadExtentPages(DWORD extent, CString objectId) = 0;
  virtual void StartRecoverTableRecordThread() = 0;
  virtual void FreeRecoveredObjects() = 0;
  virtual void GenerateUserDataTypeQueries() = 0;
  virtual void SaveScanInfo() = 0;
  virtual void LoadScanInfo(CArchive& ar) = 0;
  virtual void GenerateTableQueries(CTable* table) = 0;
  virtual void GenerateTableQueries(CTable* table, CDatabase* database) = 0;
  virtual void GenerateViewQueries(CViewStoredProc* object) = 0;
  virtual void GenerateStoredProcQueries(CViewStoredProc* object) = 0;
  virtual void GenerateRulesQueries(CViewStoredProc* object) = 0;
  virtual void GenerateTriggerQueries(CViewStoredProc* object) = 0;
  virtual void GenerateFunctionQueries(CViewStoredProc* object) = 0;
  virtual void GenerateForeignKeyConstraint() = 0;
  virtual CString RealToString(DWORD bits) = 0;
  // After the 21 operations, so their order stays as it is.
  virtual ~CSQLServer() = default;

  // Members shared with the program, in declaration order.
  CString m_strFilePath;
  ByteFlag m_bPaging{0};
  ByteFlag m_bLastWindow{0};
  ByteFlag m_bExportMode{0};
  ByteFlag m_bExportRows{0};
  ByteFlag m_bExportToServer{0};
  ByteFlag m_bPageForward{0};
  ByteFlag m_bRecoverDeleted{0};
  // 1 from construction until a scan thread leaves the engine; waitable, so the program can
  // learn that the scan thread has ended without polling.
  WaitableFlag m_bBusy{0};
  int m_nShownSlotPos = 0;
  int m_nShownSlotIndex = 0;
  CEngineStatus* m_pStatus = nullptr;
  std::deque<WindowStart> m_stkWindowStarts;
  PagePosition m_posShownPage;
  CDatabase* m_pDatabase = nullptr;
  CString m_strDatabaseName;
  CString m_strLastOwnerName;

  // Script-file handles, opened, closed and owned by the program's export worker.
  FILE_HANDLE m_hViewsSqlFile = kInvalidFile;
  FILE_HANDLE m_hProcSqlFile = kInvalidFile;
  FILE_HANDLE m_hTableSqlFile = kInvalidFile;
  FILE_HANDLE m_hDefaultSqlFile = kInvalidFile;
  FILE_HANDLE m_hRulesSqlFile = kInvalidFile;
  FILE_HANDLE m_hTriggersSqlFile = kInvalidFile;
  FILE_HANDLE m_hUserTypesSqlFile = kInvalidFile;
  FILE_HANDLE m_hConstraintSqlFile = kInvalidFile;
  FILE_HANDLE m_hFunctionsSqlFile = kInvalidFile;

  CStringKeyMap<CViewStoredProc*> m_mapViews;
  CStringKeyMap<CViewStoredProc*> m_mapStoredProcs;
  CStringKeyMap<CViewStoredProc*> m_mapRules;
  CStringKeyMap<CViewStoredProc*> m_mapTriggers;
  CStringKeyMap<CViewStoredProc*> m_mapFunctions;
  CStringKeyMap<CDataType*> m_mapDataTypes;
  CStringKeyMap<CTable*> m_mapTables;
  CMapStringToString m_mapOwnerNames;
  CMapStringToString m_mapTextPages;

  // Members every engine has and the program reads.
  int m_nViewCount = 0;
  int m_nProcCount = 0;
  int m_nRuleCount = 0;
  int m_nTriggerCount = 0;
  int m_nFunctionCount = 0;
  int m_nDataTypeCount = 0;
  int m_nIndexCount = 0;
  int m_nTableCount = 0;
  CBackupReader* m_pBackupReader = nullptr;
  CBackupSet* m_pCurrentSet = nullptr;
  int m_nSelectedDataSet = 0;
  int m_nDataSetCount = 0;
  // The folder the program's export worker writes into (script export).
  CString m_strOutputFolder;
  // The SQL Server version whose files the engine reads: 2000, 2005 or 2008 (0: not said).
  // The export takes from it, not from the window's labels, which client the batch file runs
  // and whether foreign keys get a script of their own.
  int m_nFormatVersion = 0;
  // The source held open from the listing of its sets through the scan and every export, so
  // every read of the work goes to the one file first opened (see PinEngineSource).
  CSourcePin m_sourcePin;
  // What the last scan could not recover, by name (tables without columns or rows, data pages
  // left unread), each also in the error log; empty when it lost nothing it knows of.
  std::vector<std::string> m_vecScanWarnings;
  // The recovery whose catalog this is was stopped before its end: the catalog holds only
  // what was read before the stop. Kept by the scan file, so a reopened scan still says so.
  bool m_bRecoveryStopped = false;
  // Read the source as a database file whatever its name ends in: set by the program when the
  // file itself says it is one (a database file named ".bak"), never by the name alone.
  bool m_bSourceIsDatabaseFile = false;
};
