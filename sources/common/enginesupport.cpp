#include "enginesupport.h"

#include "common/backupreader.h"
#include "common/enginestatus.h"
#include "common/records.h"

CString FileExtensionOf(const CString& path) {
  if (path.GetLength() <= 2) return CString();
  const int dot = path.ReverseFind('.');
  if (dot < 0) return CString();
  return path.Mid(dot + 1);
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
