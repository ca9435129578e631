// The scan file of the 2000 format: the catalog of a finished scan, with its object texts,
// the foreign-key tables and the constraint names.
#include "common/executionlog.h"
#include "common/scanextension.h"
#include "common/scanfacts.h"
#include "common/schemasection.h"
#include "common/scanfilesupport.h"
#include "pellwyn2000.h"
#include "platform/archive.h"
#include "records2000.h"

namespace {
void SaveObject(CArchive& ar, const CViewStoredProc& o) { o.Save(ar); }
void LoadObject(CArchive& ar, CViewStoredProc& o) { o.Load(ar); }
}  // namespace

bool CSQLServer2000::SaveScanFile(const char* path, CString* error) {
  // Each total is the number of entries its section really writes, so the file loads back.
  m_nDataTypeCount = CountEntries(m_mapDataTypes);
  m_nIndexCount = CountEntries(m_mapObjectTexts);
  m_nTableCount = CountEntries(m_mapTables);
  m_nViewCount = CountEntries(m_mapViews);
  m_nProcCount = CountEntries(m_mapStoredProcs);
  m_nRuleCount = CountEntries(m_mapRules);
  m_nTriggerCount = CountEntries(m_mapTriggers);
  m_nFunctionCount = CountEntries(m_mapFunctions);
  return WriteScanFileAtomically(
      path,
      [&](CArchive& ar) {
        ar << CString("tarnwell") << CString("2000") << m_strDatabaseName << m_strFilePath;
        for (int count : {m_nDataTypeCount, m_nIndexCount, m_nTableCount, m_nViewCount, m_nProcCount, m_nRuleCount,
                          m_nTriggerCount, m_nFunctionCount})
          ar << count;
        SaveSection(ar, m_mapDataTypes, [](CArchive& a, const CDataType& r) { archive2000::Save(a, r); });
        SaveSection(ar, m_mapObjectTexts, [](CArchive& a, const CIndexInfo& r) { archive2000::Save(a, r); });
        SaveSection(ar, m_mapTables, [](CArchive& a, const CTable& r) { archive2000::Save(a, r); });
        ar << CountEntries(m_mapForeignKeyTables);
        for (const auto& e : m_mapForeignKeyTables)
          if (e.second) ar << CString(e.first);
        ar.WriteCount(size_t(m_mapForeignKeyNames.GetCount()));
        for (const auto& [key, name] : m_mapForeignKeyNames) ar << CString(key) << name;
        for (auto* map : {&m_mapViews, &m_mapStoredProcs, &m_mapRules, &m_mapTriggers, &m_mapFunctions})
          SaveSection(ar, *map, SaveObject);
        CScanFileExtension extension;
        WriteSchemaSection(extension, m_mapTables);
        WriteScanFactSections(extension, m_mapTables, m_bRecoveryStopped);
        WriteTypeSection(extension, m_mapDataTypes);
        WriteRuleSection(extension, m_mapTables);
        WriteTypeBindingSection(extension, m_mapDataTypes);
        WriteViewIndexSection(extension, m_mapViews);
        extension.Write(ar);
      },
      error);
}

void CSQLServer2000::SaveScanInfo() {
  m_nLastSaveResult = SaveScanWhereAsked(m_fnAskSavePath, [this](const CString& path) { return SaveScanFile(path); });
}

void CSQLServer2000::LoadScanInfo(CArchive& ar) {
  try {
    // The scan's source is opened anew when its rows are read.
    m_sourcePin.Release();
    ar >> m_strDatabaseName >> m_strFilePath;
    m_pStatus->m_strDatabaseName = m_strDatabaseName;
    // A loaded scan has no located backup set: the pages of a backup source are not read.
    m_strExtension = GetFileExtension();
    m_nDataSetCount = 0;
    m_pCurrentSet = nullptr;
    // A section entry is at least its key's one-byte prefix and the record's least form.
    m_nDataTypeCount = ar.ReadCount(1 + archive2000::kDataTypeMinBytes);
    m_nIndexCount = ar.ReadCount(1 + archive2000::kIndexMinBytes);
    m_nTableCount = ar.ReadCount(1 + archive2000::kTableMinBytes);
    m_nViewCount = ar.ReadCount(1 + CViewStoredProc::kMinArchiveBytes);
    m_nProcCount = ar.ReadCount(1 + CViewStoredProc::kMinArchiveBytes);
    m_nRuleCount = ar.ReadCount(1 + CViewStoredProc::kMinArchiveBytes);
    m_nTriggerCount = ar.ReadCount(1 + CViewStoredProc::kMinArchiveBytes);
    m_nFunctionCount = ar.ReadCount(1 + CViewStoredProc::kMinArchiveBytes);
    LoadSection(ar, m_nDataTypeCount, m_mapDataTypes, [](CArchive& a, CDataType& r) { archive2000::Load(a, r); });
    LoadSection(ar, m_nIndexCount, m_mapObjectTexts, [](CArchive& a, CIndexInfo& r) { archive2000::Load(a, r); });
    for (int i = 0; i < m_nTableCount; ++i) {
      CString key;
      ar >> key;
      CTable* table = NewTable();  // owned by the pool, so a half-read table is never leaked
      archive2000::Load(ar, *table);
      m_mapTables.SetAt(key.view(), table);
    }
    int count = ar.ReadCount(1);
    for (int i = 0; i < count; ++i) {
      CString key;
      ar >> key;
      CTable* table = nullptr;
      if (m_mapTables.Lookup(key.view(), table) && table) m_mapForeignKeyTables.SetAt(key.view(), table);
    }
    count = ar.ReadCount(2);
    for (int i = 0; i < count; ++i) {
      CString key, name;
      ar >> key >> name;
      m_mapForeignKeyNames.SetAt(key.view(), name);
    }
    LoadSection(ar, m_nViewCount, m_mapViews, LoadObject);
    LoadSection(ar, m_nProcCount, m_mapStoredProcs, LoadObject);
    LoadSection(ar, m_nRuleCount, m_mapRules, LoadObject);
    LoadSection(ar, m_nTriggerCount, m_mapTriggers, LoadObject);
    LoadSection(ar, m_nFunctionCount, m_mapFunctions, LoadObject);
    CScanFileExtension extension;
    extension.Read(ar);
    ApplySchemaSection(extension, m_mapTables);
    m_bRecoveryStopped = ApplyScanFactSections(extension, m_mapTables);
    ApplyTypeSection(extension, m_mapDataTypes);
    ApplyRuleSection(extension, m_mapTables, m_mapRules.GetCount() > 0);
    ApplyTypeBindingSection(extension, m_mapDataTypes);
    ApplyViewIndexSection(extension, m_mapViews);
    // A file without the schema section still names its keys (in the names map).
    AttachConstraints();
  } catch (const CArchiveException&) {
    // A damaged file leaves nothing half-loaded behind; the caller reports the failure.
    FreeRecoveredObjects();
    m_nDataTypeCount = m_nIndexCount = m_nTableCount = m_nViewCount = m_nProcCount = m_nRuleCount =
        m_nTriggerCount = m_nFunctionCount = 0;
    throw;
  }
  if (IsBackupSource())
    CExecutionLog::WriteLog(0, 0, "Scan loaded from a scan file of a backup: rows are not read without the backup set",
                            false);
}
