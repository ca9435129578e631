#include "support/catalogtext.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "common/backupreader.h"
#include "common/records.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "dll/pellwyn2008/record.h"
#include "common/sqlserver.h"

namespace testsupport {

namespace {
// One line per text line, so definitions diff line by line.
void PrintText(std::ostream& out, const char* indent, const CString& text) {
  std::string s = text.str();
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find('\n', start);
    std::string line = s.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out << indent << "| " << line << "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

template <class Map>
std::vector<std::pair<long long, typename Map::const_iterator>> ByNumericKey(const Map& map) {
  std::vector<std::pair<long long, typename Map::const_iterator>> v;
  for (auto it = map.begin(); it != map.end(); ++it) v.emplace_back(std::strtoll(it->first.c_str(), nullptr, 10), it);
  std::sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return v;
}

const char* Flag(bool b) { return b ? "1" : "0"; }
}  // namespace

void PrintSets(const CSQLServer& engine, std::ostream& out) {
  out << "sets: " << engine.m_nDataSetCount << "\n";
  const CBackupReader* reader = engine.m_pBackupReader;
  if (!reader) return;
  for (int i = 1; i <= reader->m_nStreamCount; ++i) {
    CBackupSet* set = nullptr;
    if (!reader->m_mapSets.Lookup(FormatString("%d", i).view(), set) || !set) continue;
    const SYSTEMTIME& t = set->m_tmWritten;
    out << FormatString("set %d: %s name=\"%s\" user=\"%s\" date=%04u-%02u-%02u %02u:%02u:%02u number=%u", i,
                        set->m_nBackupType == 1 ? "Full Backup" : "Differential Backup", set->m_pszName, set->m_pszUser,
                        unsigned(t.wYear), unsigned(t.wMonth), unsigned(t.wDay), unsigned(t.wHour),
                        unsigned(t.wMinute), unsigned(t.wSecond), unsigned(set->m_wSetNumber));
    if (set->m_pStream)
      out << FormatString(" offset=%I64u length=%I64u", set->m_pStream->nOffset, set->m_pStream->nLength);
    out << FormatString(" pages=%d first=%d last=%d\n", set->m_nPages, set->m_nFirstPage, set->m_nLastPage);
  }
}

void PrintCensus(const CSQLServer& engine, std::ostream& out) {
  out << "database: " << engine.m_strDatabaseName.str() << "\n";
  out << "total pages: " << engine.m_pStatus->m_nTotalPages << "\n";
  out << "text pages: " << engine.m_mapTextPages.GetCount() << "\n";
}

std::string StateText(const ConstraintState& state) {
  std::string out;
  if (state.notTrusted) out += " not-trusted";
  if (state.disabled) out += " disabled";
  if (state.notForReplication) out += " not-for-replication";
  if (state.systemNamed) out += " system-named";
  return out;
}

void PrintCatalog(const CSQLServer& engine, std::ostream& out) {
  // The 2000 engine keeps the names of its foreign keys apart.
  const auto* engine2000 = dynamic_cast<const CSQLServer2000*>(&engine);
  const CMapStringToString* foreignKeyNames = engine2000 ? &engine2000->m_mapForeignKeyNames : nullptr;
  out << "database: " << engine.m_strDatabaseName.str() << "\n";
  out << "tables: " << engine.m_mapTables.GetCount() << "\n";
  for (const auto& [id, it] : ByNumericKey(engine.m_mapTables)) {
    (void)id;
    const CTable* t = it->second;
    out << FormatString("table [%s].[%s] id=%lu pages=%d freed=%d identity=%s\n", t->m_strOwner, t->m_strName,
                        t->m_dwObjectId, int(t->m_vecDataPages.size()), int(t->m_vecFreedPages.size()),
                        Flag(t->m_bHasIdentity));
    // Where the row decoders read each column: the catalog's place, or the one the 2008
    // decoder computes from the column order when the catalog gave none. The 2000 decoder
    // reads every column at its catalog place.
    const std::optional<RecordPlan> plan = engine2000 ? std::nullopt : std::make_optional<RecordPlan>(*t);
    size_t planned = 0;
    for (const CColumn* c = t->m_pColumnHead; c; c = c->m_pNext, ++planned) {
      const ColumnPlan* p = plan && planned < plan->columns().size() ? &plan->columns()[planned] : nullptr;
      out << FormatString("  column %u [%s] %s", unsigned(c->m_wColOrder), c->m_strName, c->m_strType);
      if (c->m_strUserType != c->m_strType) out << FormatString(" usertype=%s", c->m_strUserType);
      out << FormatString(" len=%u prec=%u scale=%u null=%s", unsigned(c->m_wLength), unsigned(c->m_bPrecision),
                          unsigned(c->m_bScale), Flag(c->m_bNullable));
      if (c->m_bIdentity)
        out << FormatString(" identity(%I64d,%I64d)", c->m_nIdentitySeed64, c->m_nIdentityIncrement64);
      int pos = c->m_nOffset;
      const bool stored = p && (p->role == ColumnRole::kFixed || p->role == ColumnRole::kVariable);
      if (stored && !c->m_bCatalogOffset) pos = p->role == ColumnRole::kFixed ? p->offset : -p->varIndex;
      if (engine2000) out << FormatString(" id=%d pos=%d", c->m_nColumnId, pos);
      else
        out << FormatString(" id=%d pos=%d%s nullbit=%lu", c->m_nColumnId, pos,
                            stored && !c->m_bCatalogOffset ? " from-order" : "", c->m_dwRowsetColumn);
      if (c->m_strType == "bit") out << FormatString(" bit=%u", unsigned(c->m_bBitPosition));
      if (c->m_bDropped) out << " dropped";
      if (!c->m_strDefault.IsEmpty()) out << FormatString(" default=%s", c->m_strDefault);
      if (!c->m_strComputed.IsEmpty()) out << FormatString(" computed=%s", c->m_strComputed);
      out << "\n";
    }
    for (const auto& [key, index] : t->m_mapTableIndexes) {
      if (!index) continue;
      out << FormatString("  index %s [%s]%s%s%s%s%s columns=", key.c_str(), index->m_strName,
                          index->m_bPrimaryKey ? " primary-key" : "", index->m_bConstraint ? " constraint" : "",
                          index->m_bClustered ? " clustered" : "", index->m_bNonClustered ? " nonclustered" : "",
                          index->m_bUnique ? " unique" : "");
      bool first = true;
      for (size_t i = 0; i < index->m_vecColumns.size(); ++i) {
        if (index->m_vecColumns[i] == 0) continue;
        out << (first ? "" : ",") << index->m_vecColumns[i];
        if (i < index->m_vecDescending.size() && index->m_vecDescending[i]) out << " desc";
        first = false;
      }
      out << "\n";
    }
    for (const CForeignKey* k = t->m_pForeignKeyHead; k; k = k->m_pNext) {
      CString name = k->m_strName;
      if (name.IsEmpty() && foreignKeyNames)
        foreignKeyNames->Lookup(FormatString("%lu", k->m_dwConstraintId).view(), name);
      CTable* referenced = nullptr;
      engine.m_mapTables.Lookup(FormatString("%ld", k->m_dwRefTableId).view(), referenced);
      auto ids = [](const std::vector<WORD>& v) {
        std::string s;
        for (WORD id : v) s += (s.empty() ? "" : ",") + std::to_string(id);
        return s;
      };
      out << FormatString("  foreign-key [%s] columns=%s references=", name, ids(k->m_vecKeyColumns).c_str());
      if (referenced) out << FormatString("[%s].[%s]", referenced->m_strOwner, referenced->m_strName);
      else out << FormatString("id=%lu", k->m_dwRefTableId);
      out << FormatString(" columns=%s", ids(k->m_vecRefColumns).c_str());
      if (k->m_bDeleteAction) out << FormatString(" on-delete=%d", int(k->m_bDeleteAction));
      if (k->m_bUpdateAction) out << FormatString(" on-update=%d", int(k->m_bUpdateAction));
      out << StateText(k->m_state) << "\n";
    }
    for (const CCheckConstraint& check : t->m_vecChecks)
      out << FormatString("  check [%s]", check.m_strName) << StateText(check.m_state) << " " << check.m_strText.str()
          << "\n";
    for (const CColumn* c = t->m_pColumnHead; c; c = c->m_pNext)
      if (!c->m_strDefaultName.IsEmpty())
        out << FormatString("  default [%s] column=[%s]\n", c->m_strDefaultName, c->m_strName);
  }
  struct Kind {
    const char* label;
    const CStringKeyMap<CViewStoredProc*>* map;
  } kinds[] = {{"view", &engine.m_mapViews},
               {"procedure", &engine.m_mapStoredProcs},
               {"rule", &engine.m_mapRules},
               {"trigger", &engine.m_mapTriggers},
               {"function", &engine.m_mapFunctions}};
  for (const Kind& k : kinds) {
    out << k.label << "s: " << k.map->GetCount() << "\n";
    for (const auto& [id, it] : ByNumericKey(*k.map)) {
      const CViewStoredProc* v = it->second;
      if (!v) continue;
      out << FormatString("%s [%s] id=%I64d\n", k.label, v->m_strName, id);
      PrintText(out, "    ", v->m_strText);
    }
  }
  out << "user data types: " << engine.m_mapDataTypes.GetCount() << "\n";
  for (const auto& [id, it] : ByNumericKey(engine.m_mapDataTypes)) {
    const CDataType* d = it->second;
    if (!d) continue;
    out << FormatString("type [%s] id=%I64d system=%u len=%u prec=%u scale=%u\n", d->m_strName, id,
                        unsigned(d->m_bSystemTypeId), unsigned(d->m_wLength), unsigned(d->m_bPrecision),
                        unsigned(d->m_bScale));
  }
}

}  // namespace testsupport
