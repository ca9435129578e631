#include "support/catalogengine.h"

#include <chrono>
#include <thread>

namespace testsupport {

CatalogEngine::CatalogEngine() { m_pStatus = new CEngineStatus(); }

CatalogEngine::~CatalogEngine() {
  // A scan still running would use the engine after it is gone.
  while (m_bBusy) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  FreeRecoveredObjects();
  delete m_pStatus;
}

CTable* CatalogEngine::AddTable(unsigned id, const std::string& owner, const std::string& name, int dataPages) {
  auto* table = new CTable();
  table->m_dwObjectId = id;
  table->m_strOwner = owner;
  table->m_strName = name;
  for (int i = 0; i < dataPages; ++i) table->m_vecDataPages.push_back(DWORD(100 + i));
  m_mapTables.SetAt(std::to_string(id), table);
  return table;
}

CColumn* CatalogEngine::AddColumn(CTable* table, const std::string& name, const std::string& type, int length,
                                  bool dropped) {
  auto* column = new CColumn();
  column->m_strName = name;
  column->m_strType = type;
  column->m_wLength = WORD(length);
  column->m_bDropped = dropped ? 1 : 0;
  table->AppendColumn(column);
  return column;
}

CIndexInfo* CatalogEngine::AddIndex(CTable* table, unsigned indexId, const std::string& name, bool clustered,
                                    bool nonClustered) {
  auto* index = new CIndexInfo();
  index->m_dwId = indexId;
  index->m_strName = name;
  index->m_bClustered = clustered ? 1 : 0;
  index->m_bNonClustered = nonClustered ? 1 : 0;
  table->SetIndex(std::to_string(indexId), index);
  return index;
}

CViewStoredProc* CatalogEngine::AddObject(CStringKeyMap<CViewStoredProc*>& map, unsigned id, const std::string& name,
                                          const std::string& text) {
  auto* object = new CViewStoredProc();
  object->m_strName = name;
  object->m_strText = text;
  map.SetAt(std::to_string(id), object);
  return object;
}

DWORD CatalogEngine::RecoverSQLServerMDF(void*) {
  if (m_fnScan) m_fnScan(*this);
  m_bBusy = 0;
  return 1;
}

void CatalogEngine::ScanMdfFile() {
  m_bBusy = 1;
  std::thread([this] { RecoverSQLServerMDF(this); }).detach();
}

void CatalogEngine::FreeRecoveredObjects() {
  for (auto& e : m_mapTables) delete e.second;
  m_mapTables.RemoveAll();
  for (auto* map : {&m_mapViews, &m_mapStoredProcs, &m_mapRules, &m_mapTriggers, &m_mapFunctions}) {
    for (auto& e : *map) delete e.second;
    map->RemoveAll();
  }
}

}  // namespace testsupport
