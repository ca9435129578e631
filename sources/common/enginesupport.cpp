#include "enginesupport.h"

#include <vector>

#include "common/backupreader.h"
#include "common/enginestatus.h"
#include "common/executionlog.h"
#include "common/page.h"
#include "common/pagesource.h"
#include "common/records.h"
#include "common/sqlserver.h"

CString FileExtensionOf(const CString& path) {
  if (path.GetLength() <= 2) return CString();
  const int dot = path.ReverseFind('.');
  if (dot < 0) return CString();
  return path.Mid(dot + 1);
}

CString EngineSourceExtension(const CSQLServer& engine) {
  return engine.m_bSourceIsDatabaseFile ? CString("mdf") : FileExtensionOf(engine.m_strFilePath);
}

bool IsBackupExtensionText(const CString& extension) {
  return !extension.IsEmpty() && extension.CompareNoCase("bak") == 0;
}

int ReadBackupSets(const CString& path, CBackupReader*& reader) {
  auto* fresh = new CBackupReader();
  fresh->ReadDataSets(path);
  CBackupReader* old = reader;
  reader = fresh;
  delete old;
  return fresh->m_nStreamCount;
}

bool PinEngineSource(CSQLServer& engine) {
  const CString& path = engine.m_strFilePath;
  if (path.IsEmpty()) return false;
  if (engine.m_sourcePin.Pin(path.c_str())) return true;
  CExecutionLog::WriteLog(0, 0, FormatString("The source %s %s", path.c_str(), engine.m_sourcePin.Refusal().c_str()), true);
  return false;
}

bool ReportSourceChange(CSQLServer& engine, const char* work) {
  std::string how;
  if (!engine.m_sourcePin.Changed(&how)) return false;
  CExecutionLog::WriteLog(0, 0,
                          FormatString("Warning: the source %s changed during the %s: %s; what was read from it may "
                                       "not belong together",
                                       engine.m_sourcePin.Path().c_str(), work, how.c_str()),
                          true);
  return true;
}

CString DatabaseNameOfSet(const CSourceFile& file, const CBackupSet& set) {
  if (!set.m_pStream || set.m_pStream->nLength < kBootPageOffset + kPageSize) return CString();
  std::vector<BYTE> page(kPageSize);
  if (!file.ReadExact(set.m_pStream->nOffset + kBootPageOffset, page.data(), kPageSize)) return CString();
  return DatabaseNameFromBootPage(page.data());
}

CBackupSet* FindDifferentialBase(const CBackupReader& reader, const CSourceFile& file, int number,
                                 const CBackupSet* differential) {
  if (!differential || differential->m_nBackupType != 2) return nullptr;
  const CString name = DatabaseNameOfSet(file, *differential);
  if (name.IsEmpty()) {
    CBackupSet* base = reader.GetSet(differential->m_nBaseStream);
    return base && base != differential && base->m_nBackupType == 1 && base->m_pStream ? base : nullptr;
  }
  for (int k = number - 1; k >= 1; --k) {
    CBackupSet* candidate = reader.GetSet(k);
    if (!candidate || candidate == differential || candidate->m_nBackupType != 1 || !candidate->m_pStream) continue;
    if (DatabaseNameOfSet(file, *candidate) == name) return candidate;
  }
  return nullptr;
}

void RetireStatusBlock(CEngineStatus* status) {
  static std::mutex retiredMutex;
  static auto* retired = new std::vector<CEngineStatus*>();
  std::lock_guard<std::mutex> lock(retiredMutex);
  retired->push_back(status);
}

CTable* CTablePool::New() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_tables.push_back(std::make_unique<CTable>());
  return m_tables.back().get();
}

void CTablePool::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_tables.clear();
}
