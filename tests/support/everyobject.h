// The export request engine-driver and the fixture tests make: every object of a scan, each
// kind in object-id order.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "common/sqlserver.h"
#include "ui/core/exportworker.h"

namespace testsupport {

// Orders a map's entries by the object id their key holds, as the catalog text does.
template <class V>
std::vector<V> ByObjectId(const CStringKeyMap<V>& map) {
  std::vector<std::pair<long long, V>> entries;
  for (const auto& e : map)
    if (e.second) entries.emplace_back(std::atoll(e.first.c_str()), e.second);
  std::stable_sort(entries.begin(), entries.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  std::vector<V> out;
  for (auto& e : entries) out.push_back(e.second);
  return out;
}

inline uicore::ExportRequest EveryObject(CSQLServer& engine) {
  uicore::ExportRequest request;
  request.tables = ByObjectId(engine.m_mapTables);
  request.views = ByObjectId(engine.m_mapViews);
  request.procedures = ByObjectId(engine.m_mapStoredProcs);
  request.functions = ByObjectId(engine.m_mapFunctions);
  request.rules = ByObjectId(engine.m_mapRules);
  request.triggers = ByObjectId(engine.m_mapTriggers);
  return request;
}

}  // namespace testsupport
