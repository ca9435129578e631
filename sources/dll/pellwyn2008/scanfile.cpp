// The scan file: the catalog of a finished scan, written so it can be reopened without the
// backup.
#include "common/executionlog.h"
#include "common/scanextension.h"
#include "common/scanfacts.h"
#include "common/schemasection.h"
#include "common/scanfilesupport.h"
#include "pellwyn2008.h"
#include "platform/archive.h"

namespace {

template <class Record>
void SaveRecord(CArchive& ar, const Record& record) {
  record.Save(ar);
}

template <class Record>
void LoadRecord(CArchive& ar, Record& record) {
  record.Load(ar);
}

}  // namespace

bool CSQLServer2008::HasPageSource() const { return !(IsBackupExtension() && !m_pCurrentSet); }

bool CSQLServer2008::SaveScanFile(const char* path, CString* error) {
  if (!path || !*path) {
    if (error) *error = "no file name";
    return false;
  }
  // Each section's count is the number of entries it really writes, so the file always
  // loads back; the count members follow.
  m_nDataTypeCount = CountEntries(m_mapDataTypes);
  m_nIndexCount = CountEntries(m_mapIndexes);
  m_nTableCount = CountEntries(m_mapTables);
  m_nViewCount = CountEntries(m_mapViews);
  m_nProcCount = CountEntries(m_mapStoredProcs);
  m_nRuleCount = CountEntries(m_mapRules);
  m_nTriggerCount = CountEntries(m_mapTriggers);
  m_nFunctionCount = CountEntries(m_mapFunctions);
  return WriteScanFileAtomically(
      path,
      [&](CArchive& ar) {
        ar << CString("tarnwell") << CString(m_szScanFileVersion) << m_strDatabaseName << m_strFilePath;
        for (int count : {m_nDataTypeCount, m_nIndexCount, m_nTableCount, m_nViewCount, m_nProcCount, m_nRuleCount,
                          m_nTriggerCount, m_nFunctionCount})
          ar << count;
        SaveSection(ar, m_mapDataTypes, SaveRecord<CDataType>);
        SaveSection(ar, m_mapIndexes, SaveRecord<CIndexInfo>);
        SaveSection(ar, m_mapTables, SaveRecord<CTable>);
        for (auto* map : {&m_mapViews, &m_mapStoredProcs, &m_mapRules, &m_mapTriggers, &m_mapFunctions})
          SaveSection(ar, *map, SaveRecord<CViewStoredProc>);
        CScanFileExtension extension;
        WriteSchemaSection(extension, m_mapTables);
        WriteScanFactSections(extension, m_mapTables, m_bRecoveryStopped);
        WriteRuleSection(extension, m_mapTables);
        WriteTypeBindingSection(extension, m_mapDataTypes);
        WriteViewIndexSection(extension, m_mapViews);
        extension.Write(ar);
      },
      error, ScanFileLogTarget{0, false});
}

void CSQLServer2008::SaveScanInfo() {
  m_nLastSaveResult = SaveScanWhereAsked(m_fnAskSavePath, [this](const CString& path) { return SaveScanFile(path); });
}

void CSQLServer2008::LoadScanInfo(CArchive& ar) {
  // The scan's source is opened anew when its rows are read.
  m_sourcePin.Release();
  ar >> m_strDatabaseName >> m_strFilePath;
  m_pStatus->m_strDatabaseName = m_strDatabaseName;
  // A loaded scan has no located backup set: pages of a backup source cannot be read.
  m_strExtension = GetFileExtension();
  m_nDataSetCount = 0;
  m_pCurrentSet = nullptr;
  // The eight section counts, then the sections. A negative count, or counts whose entries
  // (each at least its key's one-byte prefix and the record's smallest form) cannot all fit
  // in what is left, mean the sections would be read from the wrong bytes: the file is
  // refused before anything is loaded, as a truncated one is.
  int* const counts[] = {&m_nDataTypeCount, &m_nIndexCount, &m_nTableCount,   &m_nViewCount,
                         &m_nProcCount,     &m_nRuleCount,  &m_nTriggerCount, &m_nFunctionCount};
  const size_t entryBytes[] = {CDataType::kMinArchiveBytes,       CIndexInfo::kMinArchiveBytes,
                               CTable::kMinArchiveBytes,          CViewStoredProc::kMinArchiveBytes,
                               CViewStoredProc::kMinArchiveBytes, CViewStoredProc::kMinArchiveBytes,
                               CViewStoredProc::kMinArchiveBytes, CViewStoredProc::kMinArchiveBytes};
  int read[8];
  UINT64 needed = 0;
  for (int& count : read) ar >> count;
  for (size_t i = 0; i < 8; ++i) {
    if (read[i] < 0) {
      CExecutionLog::WriteLog(0, 0, FormatString("Scan file refused: section %d has a negative count", int(i + 1)),
                              false);
      throw CArchiveException(CArchiveException::badFormat);
    }
    needed += UINT64(read[i]) * (1 + entryBytes[i]);
  }
  if (needed > ar.BytesLeft()) {
    CExecutionLog::WriteLog(0, 0, "Scan file refused: its section counts do not fit the file", false);
    throw CArchiveException(CArchiveException::endOfFile);
  }
  for (size_t i = 0; i < 8; ++i) *counts[i] = read[i];
  // Data types survive FreeRecoveredObjects; a type loaded under a known key replaces it.
  LoadSection(ar, m_nDataTypeCount, m_mapDataTypes, LoadRecord<CDataType>);
  LoadSection(ar, m_nIndexCount, m_mapIndexes, LoadRecord<CIndexInfo>);
  // Table records belong to the engine's pool, so a half-read one is never leaked.
  for (int i = 0; i < m_nTableCount; ++i) {
    CString key;
    ar >> key;
    CTable* table = NewTable();
    table->Load(ar);
    m_mapTables.SetAt(key.view(), table);
  }
  LoadSection(ar, m_nViewCount, m_mapViews, LoadRecord<CViewStoredProc>);
  LoadSection(ar, m_nProcCount, m_mapStoredProcs, LoadRecord<CViewStoredProc>);
  LoadSection(ar, m_nRuleCount, m_mapRules, LoadRecord<CViewStoredProc>);
  LoadSection(ar, m_nTriggerCount, m_mapTriggers, LoadRecord<CViewStoredProc>);
  LoadSection(ar, m_nFunctionCount, m_mapFunctions, LoadRecord<CViewStoredProc>);
  CScanFileExtension extension;
  extension.Read(ar);
  ApplySchemaSection(extension, m_mapTables);
  m_bRecoveryStopped = ApplyScanFactSections(extension, m_mapTables);
  ApplyRuleSection(extension, m_mapTables, m_mapRules.GetCount() > 0);
  ApplyTypeBindingSection(extension, m_mapDataTypes);
  ApplyViewIndexSection(extension, m_mapViews);
  // The type's status is part of its record here.
  for (auto& e : m_mapDataTypes)
    if (e.second) e.second->m_bNotNull = (e.second->m_dwValue2 & 0x1) != 0;
  OrganizeSchemaInfo();
  if (IsBackupExtension())
    CExecutionLog::WriteLog(0, 0, "Scan loaded from a scan file of a backup: rows are not read without the backup set",
                            false);
}
