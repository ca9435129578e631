#include "ui/core/catalogloss.h"

#include <set>

#include "common/sqlserver.h"

namespace uicore {

namespace {

// "3", "1-7", "1-7, 9".
std::string Ranges(const std::vector<int>& ids) {
  std::string text;
  for (size_t i = 0; i < ids.size();) {
    size_t j = i;
    while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    text += std::to_string(ids[i]);
    if (j > i) text += "-" + std::to_string(ids[j]);
    i = j + 1;
  }
  return text;
}

}  // namespace

std::string DescribeCatalogLoss(const CTable& table) {
  std::set<int> present;
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext) present.insert(c->m_wColOrder);
  std::vector<std::string> parts;
  if (present.empty()) {
    parts.push_back("every column is missing");
  } else {
    std::vector<int> missing;
    for (int id = 1; id < *present.rbegin(); ++id)
      if (!present.count(id)) missing.push_back(id);
    if (!missing.empty())
      parts.push_back((missing.size() == 1 ? "column " : "columns ") + Ranges(missing) + " missing");
  }
  for (const auto& entry : table.m_mapTableIndexes) {
    const CIndexInfo* index = entry.second;
    if (!index) continue;
    // Key columns are held by key position; positions no row named stay 0.
    bool named = false, lost = false;
    for (int id : index->m_vecColumns) {
      if (id == 0) continue;
      named = true;
      lost = lost || !present.count(id);
    }
    lost = lost || !named;
    if (lost) parts.push_back("key columns of index " + index->m_strName.str() + " missing");
  }
  std::string text;
  for (const std::string& p : parts) text += (text.empty() ? "" : "; ") + p;
  return text;
}

int MarkCatalogLosses(CSQLServer& engine) {
  int marked = 0;
  for (const auto& entry : engine.m_mapTables) {
    CTable* table = entry.second;
    if (!table || table->m_strName.IsEmpty()) continue;
    const std::string loss = DescribeCatalogLoss(*table);
    table->m_strCatalogLoss = loss.c_str();
    marked += !loss.empty();
  }
  return marked;
}

std::string CatalogLossComment(const CTable& table) {
  if (table.m_strCatalogLoss.IsEmpty()) return std::string();
  return "-- The catalog of this table is incomplete (the source was cut off before its end): " +
         table.m_strCatalogLoss.str() + ". This script holds only what was read.\r\n";
}

}  // namespace uicore
