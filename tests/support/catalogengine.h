// An engine whose catalog a test builds by hand: tables with columns and indexes, and the
// object maps, without any backup. Every operation is inert unless a test gives it work.
#pragma once

#include <functional>
#include <string>

#include "common/enginestatus.h"
#include "common/records.h"
#include "common/sqlserver.h"

namespace testsupport {

class CatalogEngine : public CSQLServer {
 public:
  CatalogEngine();
  ~CatalogEngine() override;

  // Builders; the engine owns what they create. Map keys are the id's decimal text.
  CTable* AddTable(unsigned id, const std::string& owner, const std::string& name, int dataPages = 1);
  CColumn* AddColumn(CTable* table, const std::string& name, const std::string& type, int length,
                     bool dropped = false);
  CIndexInfo* AddIndex(CTable* table, unsigned indexId, const std::string& name, bool clustered, bool nonClustered);
  CViewStoredProc* AddObject(CStringKeyMap<CViewStoredProc*>& map, unsigned id, const std::string& name,
                             const std::string& text);

  // Runs on its own thread when the program starts the scan; m_bBusy is 1 until it returns.
  // Like an engine's scan thread it is detached: the program never joins it.
  std::function<void(CatalogEngine&)> m_fnScan;

  DWORD RecoverSQLServerMDF(void* engine) override;
  void ScanMdfFile() override;
  void ScanDataSets() override {}
  CString GetDatabaseName() override { return m_strDatabaseName; }
  void GetTableRecord(BYTE*, WORD, CTable*) override {}
  WORD ExportTableRecord(BYTE*, WORD, CTable*, CDatabase*, CString*, bool*) override { return 0; }
  void ReadExtentPages(DWORD, CString) override {}
  void StartRecoverTableRecordThread() override {}
  void FreeRecoveredObjects() override;
  void GenerateUserDataTypeQueries() override {}
  void SaveScanInfo() override {}
  void LoadScanInfo(CArchive&) override {}
  void GenerateTableQueries(CTable*) override {}
  void GenerateTableQueries(CTable*, CDatabase*) override {}
  void GenerateViewQueries(CViewStoredProc*) override {}
  void GenerateStoredProcQueries(CViewStoredProc*) override {}
  void GenerateRulesQueries(CViewStoredProc*) override {}
  void GenerateTriggerQueries(CViewStoredProc*) override {}
  void GenerateFunctionQueries(CViewStoredProc*) override {}
  void GenerateForeignKeyConstraint() override {}
  CString RealToString(DWORD) override { return CString(); }
};

}  // namespace testsupport
