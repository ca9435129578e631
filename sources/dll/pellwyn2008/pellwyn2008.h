// The 2005/2008-format engine.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "common/sqlserver.h"

#if defined(__GNUC__)
#define PELLWYN_EXPORT __attribute__((visibility("default")))
#else
#define PELLWYN_EXPORT
#endif

class PELLWYN_EXPORT CSQLServer2008 : public CSQLServer {
 public:
  CSQLServer2008();
  ~CSQLServer2008() override;

  // The 21 operations.
  DWORD RecoverSQLServerMDF(void* engine) override;
  void ScanMdfFile() override;
  void ScanDataSets() override;
  CString GetDatabaseName() override;
  void GetTableRecord(BYTE* pageBody, WORD recordOffset, CTable* table) override;
  WORD ExportTableRecord(BYTE* pageBody, WORD recordOffset, CTable* table, CDatabase* database, CString* batch,
                         bool* batchFull) override;
  void ReadExtentPages(DWORD extent, CString objectId) override;
  void StartRecoverTableRecordThread() override;
  void FreeRecoveredObjects() override;
  void GenerateUserDataTypeQueries() override;
  void SaveScanInfo() override;
  void LoadScanInfo(CArchive& ar) override;
  void GenerateTableQueries(CTable* table) override;
  void GenerateTableQueries(CTable* table, CDatabase* database) override;
  void GenerateViewQueries(CViewStoredProc* object) override;
  void GenerateStoredProcQueries(CViewStoredProc* object) override;
  void GenerateRulesQueries(CViewStoredProc* object) override;
  void GenerateTriggerQueries(CViewStoredProc* object) override;
  void GenerateFunctionQueries(CViewStoredProc* object) override;
  void GenerateForeignKeyConstraint() override;
  CString RealToString(DWORD bits) override;

  // Record recovery threads (preview with the engine alone; export with a table and a
  // connection).
  static DWORD RecoverTableRecordThread(void* engine);
  static DWORD RecoverTableRecordThread(void* engine, CTable* table, CDatabase* database);

  // Page helper kept as an engine operation: body = page + 96.
  void RestoreTornBits(BYTE* body, DWORD tornBits);

  // Every table record of the engine is created here; the engine owns it until
  // FreeRecoveredObjects, whichever maps point at it.
  CTable* NewTable();

  // Members the 2008 engine adds, in declaration order.
  INT64 m_nDataSetStart = 0;
  INT64 m_nDataSetLength = 0;
  CString m_strSqlBatch;
  ByteFlag m_bBatchFull{0};
  int m_nObjectSerial = 0;
  std::atomic<int> m_nWindowRows{0};
  int m_nUnicodeNameSerial = 1;
  int m_nLobState = 0;
  ByteFlag m_bLobFlag{0};
  CStringKeyMap<std::vector<CTable*>> m_mapAllocUnits;
  CStringKeyMap<CTable*> m_mapRowsets;
  CStringKeyMap<CIndexInfo*> m_mapIndexes;
  CStringKeyMap<CTable*> m_mapPageGroups;
  CMapStringToString m_mapRowsetObjects;
  PagePosition m_posNextPage;
  int m_nNextSlotPos = 0;
  int m_nNextSlotIndex = 0;
  // Text after the last '.' of the source path; empty until ScanDataSets has run or when
  // the path has none.
  CString m_strExtension;

 private:
  std::mutex m_csTablePool;
  std::vector<std::unique_ptr<CTable>> m_tablePool;
};
