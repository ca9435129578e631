#include "schemasection.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "common/executionlog.h"
#include "common/scanextension.h"

namespace {

void Log(const CString& text) { CExecutionLog::WriteLog(0, 0, text.c_str(), false); }

void WriteState(ScanExtensionWriter& w, const ConstraintState& s) {
  w.Flag(s.notTrusted).Flag(s.disabled).Flag(s.notForReplication).Flag(s.systemNamed);
}

ConstraintState ReadState(ScanExtensionReader& r) {
  ConstraintState s;
  s.notTrusted = r.Flag();
  s.disabled = r.Flag();
  s.notForReplication = r.Flag();
  s.systemNamed = r.Flag();
  return s;
}

struct ColumnExtra {
  CString defaultName;
  INT64 seed = 0;
  INT64 increment = 0;
};

struct TableExtra {
  std::string key;
  std::vector<ColumnExtra> columns;
  struct IndexExtra {
    std::string key;
    std::vector<bool> descending;
    std::vector<int> included;
  };
  std::vector<IndexExtra> indexes;
  std::vector<std::unique_ptr<CForeignKey>> keys;
  std::vector<CCheckConstraint> checks;
};

}  // namespace

void WriteSchemaSection(CScanFileExtension& extension, const CStringKeyMap<CTable*>& tables) {
  ScanExtensionWriter& w = extension.Add(kSchemaSectionTag);
  size_t count = 0;
  for (const auto& e : tables) count += e.second ? 1 : 0;
  w.Count(count);
  for (const auto& [key, table] : tables) {
    if (!table) continue;
    w.Text(CString(key));
    size_t columns = 0;
    for (const CColumn* c = table->m_pColumnHead; c; c = c->m_pNext) ++columns;
    w.Count(columns);
    for (const CColumn* c = table->m_pColumnHead; c; c = c->m_pNext)
      w.Text(c->m_strDefaultName).I64(c->m_nIdentitySeed64).I64(c->m_nIdentityIncrement64);
    size_t indexes = 0;
    for (const auto& i : table->m_mapTableIndexes) indexes += i.second ? 1 : 0;
    w.Count(indexes);
    for (const auto& [indexKey, index] : table->m_mapTableIndexes) {
      if (!index) continue;
      w.Text(CString(indexKey)).Count(index->m_vecDescending.size());
      for (bool d : index->m_vecDescending) w.Flag(d);
      w.Count(index->m_vecIncluded.size());
      for (int id : index->m_vecIncluded) w.I32(id);
    }
    size_t keys = 0;
    for (const CForeignKey* k = table->m_pForeignKeyHead; k; k = k->m_pNext) ++keys;
    w.Count(keys);
    for (const CForeignKey* k = table->m_pForeignKeyHead; k; k = k->m_pNext) {
      w.U32(k->m_dwConstraintId).U32(k->m_dwTableId).U32(k->m_dwRefTableId).Text(k->m_strName);
      w.U8(k->m_bDeleteAction).U8(k->m_bUpdateAction);
      WriteState(w, k->m_state);
      const size_t pairs = std::min(k->m_vecKeyColumns.size(), k->m_vecRefColumns.size());
      w.Count(pairs);
      for (size_t i = 0; i < pairs; ++i) w.U16(k->m_vecKeyColumns[i]).U16(k->m_vecRefColumns[i]);
    }
    w.Count(table->m_vecChecks.size());
    for (const CCheckConstraint& c : table->m_vecChecks) {
      w.U32(c.m_dwId).Text(c.m_strName).Text(c.m_strText).U16(c.m_wColumnId);
      WriteState(w, c.m_state);
    }
  }
  // Added after the tables, so a reader that stops there still reads the rest: the
  // predicates of filtered indexes, by table and index key.
  size_t filters = 0;
  for (const auto& [key, table] : tables)
    if (table)
      for (const auto& i : table->m_mapTableIndexes) filters += i.second && !i.second->m_strFilter.IsEmpty() ? 1 : 0;
  w.Count(filters);
  for (const auto& [key, table] : tables) {
    if (!table) continue;
    for (const auto& [indexKey, index] : table->m_mapTableIndexes)
      if (index && !index->m_strFilter.IsEmpty()) w.Text(CString(key)).Text(CString(indexKey)).Text(index->m_strFilter);
  }
}

bool ReadSchemaSection(const std::string& bytes, CStringKeyMap<CTable*>& tables) {
  ScanExtensionReader r(bytes);
  std::vector<TableExtra> extras;
  // Every item's least size keeps a damaged count from reserving what the section cannot hold.
  const size_t count = r.Count(17);
  for (size_t t = 0; t < count && r.ok(); ++t) {
    TableExtra x;
    x.key = r.Text().str();
    const size_t columns = r.Count(17);
    for (size_t i = 0; i < columns && r.ok(); ++i) {
      ColumnExtra c;
      c.defaultName = r.Text();
      c.seed = r.I64();
      c.increment = r.I64();
      x.columns.push_back(c);
    }
    const size_t indexes = r.Count(9);
    for (size_t i = 0; i < indexes && r.ok(); ++i) {
      TableExtra::IndexExtra ix;
      ix.key = r.Text().str();
      ix.descending.resize(r.Count(1));
      for (size_t f = 0; f < ix.descending.size() && r.ok(); ++f) ix.descending[f] = r.Flag();
      ix.included.resize(r.Count(4));
      for (size_t f = 0; f < ix.included.size() && r.ok(); ++f) ix.included[f] = r.I32();
      x.indexes.push_back(std::move(ix));
    }
    const size_t keys = r.Count(23);
    for (size_t i = 0; i < keys && r.ok(); ++i) {
      auto k = std::make_unique<CForeignKey>();
      k->m_dwConstraintId = r.U32();
      k->m_dwTableId = r.U32();
      k->m_dwRefTableId = r.U32();
      k->m_strName = r.Text();
      k->m_bDeleteAction = r.U8();
      k->m_bUpdateAction = r.U8();
      k->m_state = ReadState(r);
      const size_t pairs = r.Count(4);
      for (size_t p = 0; p < pairs && r.ok(); ++p) {
        k->m_vecKeyColumns.push_back(r.U16());
        k->m_vecRefColumns.push_back(r.U16());
      }
      x.keys.push_back(std::move(k));
    }
    const size_t checks = r.Count(12);
    for (size_t i = 0; i < checks && r.ok(); ++i) {
      CCheckConstraint c;
      c.m_dwId = r.U32();
      c.m_strName = r.Text();
      c.m_strText = r.Text();
      c.m_wColumnId = r.U16();
      c.m_state = ReadState(r);
      x.checks.push_back(c);
    }
    extras.push_back(std::move(x));
  }
  // A section written before filtered indexes were kept ends after its tables.
  struct FilterExtra {
    std::string table, index;
    CString text;
  };
  std::vector<FilterExtra> filters;
  if (r.ok() && !r.AtEnd()) {
    const size_t n = r.Count(3);
    for (size_t i = 0; i < n && r.ok(); ++i) {
      FilterExtra f;
      f.table = r.Text().str();
      f.index = r.Text().str();
      f.text = r.Text();
      filters.push_back(std::move(f));
    }
  }
  if (!r.ok()) {
    Log("Scan file: its schema section is damaged: foreign keys, CHECK constraints and default names not loaded");
    return false;
  }
  for (TableExtra& x : extras) {
    CTable* table = nullptr;
    if (!tables.Lookup(x.key, table) || !table) continue;
    size_t i = 0;
    for (CColumn* c = table->m_pColumnHead; c; c = c->m_pNext, ++i) {
      if (i >= x.columns.size()) break;
      c->m_strDefaultName = x.columns[i].defaultName;
      c->m_nIdentitySeed64 = x.columns[i].seed;
      c->m_nIdentityIncrement64 = x.columns[i].increment;
    }
    for (auto& ix : x.indexes) {
      CIndexInfo* index = nullptr;
      if (!table->m_mapTableIndexes.Lookup(ix.key, index) || !index) continue;
      ix.descending.resize(index->m_vecColumns.size(), false);
      index->m_vecDescending = ix.descending;
      index->m_vecIncluded = ix.included;
    }
    // The section's keys are the whole list: they replace what the first layout carried.
    for (CForeignKey* k = table->m_pForeignKeyHead; k;) {
      CForeignKey* next = k->m_pNext;
      delete k;
      k = next;
    }
    table->m_pForeignKeyHead = table->m_pForeignKeyTail = nullptr;
    for (auto& k : x.keys) table->AppendForeignKey(k.release());
    table->m_vecChecks = std::move(x.checks);
  }
  for (const FilterExtra& f : filters) {
    CTable* table = nullptr;
    CIndexInfo* index = nullptr;
    if (tables.Lookup(f.table, table) && table && table->m_mapTableIndexes.Lookup(f.index, index) && index)
      index->m_strFilter = f.text;
  }
  return true;
}

void ApplySchemaSection(const CScanFileExtension& extension, CStringKeyMap<CTable*>& tables) {
  if (const std::string* bytes = extension.Find(kSchemaSectionTag)) ReadSchemaSection(*bytes, tables);
  else Log(kSchemaSectionMissing);
}

void WriteTypeSection(CScanFileExtension& extension, const CStringKeyMap<CDataType*>& types) {
  ScanExtensionWriter& w = extension.Add(kTypeSectionTag);
  size_t count = 0;
  for (const auto& e : types) count += e.second ? 1 : 0;
  w.Count(count);
  for (const auto& [key, type] : types)
    if (type) w.Text(CString(key)).Flag(type->m_bNotNull);
}

void ApplyTypeSection(const CScanFileExtension& extension, CStringKeyMap<CDataType*>& types) {
  const std::string* bytes = extension.Find(kTypeSectionTag);
  if (!bytes) {
    if (types.GetCount() > 0) Log("Scan file written before type nullability was kept: its user data types load as nullable");
    return;
  }
  ScanExtensionReader r(*bytes);
  std::vector<std::pair<std::string, bool>> flags;
  const size_t count = r.Count(2);
  for (size_t i = 0; i < count && r.ok(); ++i) {
    std::string key = r.Text().str();
    const bool notNull = r.Flag();
    flags.emplace_back(std::move(key), notNull);
  }
  if (!r.ok()) {
    Log("Scan file: its type nullability section is damaged: user data types load as nullable");
    return;
  }
  for (const auto& [key, notNull] : flags) {
    CDataType* type = nullptr;
    if (types.Lookup(key, type) && type) type->m_bNotNull = notNull;
  }
}

void WriteRuleSection(CScanFileExtension& extension, const CStringKeyMap<CTable*>& tables) {
  auto hasRule = [](const CTable* table) {
    for (const CColumn* c = table->m_pColumnHead; c; c = c->m_pNext)
      if (!c->m_strRuleName.IsEmpty()) return true;
    return false;
  };
  ScanExtensionWriter& w = extension.Add(kRuleSectionTag);
  size_t count = 0;
  for (const auto& e : tables) count += e.second && hasRule(e.second) ? 1 : 0;
  w.Count(count);
  for (const auto& [key, table] : tables) {
    if (!table || !hasRule(table)) continue;
    size_t columns = 0;
    for (const CColumn* c = table->m_pColumnHead; c; c = c->m_pNext) ++columns;
    w.Text(CString(key)).Count(columns);
    for (const CColumn* c = table->m_pColumnHead; c; c = c->m_pNext) w.Text(c->m_strRuleName);
  }
}

void ApplyRuleSection(const CScanFileExtension& extension, CStringKeyMap<CTable*>& tables, bool rulesExist) {
  const std::string* bytes = extension.Find(kRuleSectionTag);
  if (!bytes) {
    if (rulesExist) Log("Scan file written before column rules were kept: no rule is bound in its exports");
    return;
  }
  ScanExtensionReader r(*bytes);
  std::vector<std::pair<std::string, std::vector<CString>>> rules;
  const size_t count = r.Count(5);
  for (size_t t = 0; t < count && r.ok(); ++t) {
    std::string key = r.Text().str();
    std::vector<CString> names(r.Count(1));
    for (size_t i = 0; i < names.size() && r.ok(); ++i) names[i] = r.Text();
    rules.emplace_back(std::move(key), std::move(names));
  }
  if (!r.ok()) {
    Log("Scan file: its column rule section is damaged: no rule is bound in its exports");
    return;
  }
  for (const auto& [key, names] : rules) {
    CTable* table = nullptr;
    if (!tables.Lookup(key, table) || !table) continue;
    size_t i = 0;
    for (CColumn* c = table->m_pColumnHead; c && i < names.size(); c = c->m_pNext, ++i) c->m_strRuleName = names[i];
  }
}

void WriteTypeBindingSection(CScanFileExtension& extension, const CStringKeyMap<CDataType*>& types) {
  ScanExtensionWriter& w = extension.Add(kTypeBindingSectionTag);
  size_t count = 0;
  for (const auto& e : types) count += e.second ? 1 : 0;
  w.Count(count);
  for (const auto& [key, type] : types)
    if (type) w.Text(CString(key)).U32(type->m_dwDefaultObjectId).U32(type->m_dwRuleId).Text(type->m_strRuleName).Text(type->m_strDefaultText);
}

void ApplyTypeBindingSection(const CScanFileExtension& extension, CStringKeyMap<CDataType*>& types) {
  const std::string* bytes = extension.Find(kTypeBindingSectionTag);
  if (!bytes) {
    if (types.GetCount() > 0) Log("Scan file written before type bindings were kept: no rule or default is bound to a user data type in its exports");
    return;
  }
  struct Binding {
    std::string key;
    DWORD defaultId;
    DWORD ruleId;
    CString ruleName;
    CString defaultText;
  };
  ScanExtensionReader r(*bytes);
  std::vector<Binding> bindings;
  const size_t count = r.Count(10);
  for (size_t i = 0; i < count && r.ok(); ++i) {
    Binding b;
    b.key = r.Text().str();
    b.defaultId = r.U32();
    b.ruleId = r.U32();
    b.ruleName = r.Text();
    b.defaultText = r.Text();
    bindings.push_back(std::move(b));
  }
  if (!r.ok()) {
    Log("Scan file: its type binding section is damaged: no rule or default is bound to a user data type in its exports");
    return;
  }
  for (const Binding& b : bindings) {
    CDataType* type = nullptr;
    if (!types.Lookup(b.key, type) || !type) continue;
    type->m_dwDefaultObjectId = b.defaultId;
    type->m_dwRuleId = b.ruleId;
    type->m_strRuleName = b.ruleName;
    type->m_strDefaultText = b.defaultText;
  }
}

void WriteViewIndexSection(CScanFileExtension& extension, const CStringKeyMap<CViewStoredProc*>& views) {
  ScanExtensionWriter& w = extension.Add(kViewIndexSectionTag);
  size_t count = 0;
  for (const auto& e : views) count += e.second && !e.second->m_vecIndexes.empty() ? 1 : 0;
  w.Count(count);
  for (const auto& [key, view] : views) {
    if (!view || view->m_vecIndexes.empty()) continue;
    w.Text(CString(key)).Text(view->m_strOwner).Count(view->m_vecColumns.size());
    for (const ViewColumn& c : view->m_vecColumns) w.I32(c.id).Text(c.name);
    w.Count(view->m_vecIndexes.size());
    for (const CIndexInfo& index : view->m_vecIndexes) {
      w.U32(index.m_dwId).Text(index.m_strName);
      w.U8(index.m_bClustered).U8(index.m_bNonClustered).U8(index.m_bUnique).U8(index.m_bFlag6).U8(index.m_bFlag7);
      w.Count(index.m_vecColumns.size());
      for (size_t p = 0; p < index.m_vecColumns.size(); ++p)
        w.I32(index.m_vecColumns[p]).Flag(p < index.m_vecDescending.size() && index.m_vecDescending[p]);
      w.Count(index.m_vecIncluded.size());
      for (int id : index.m_vecIncluded) w.I32(id);
    }
  }
}

void ApplyViewIndexSection(const CScanFileExtension& extension, CStringKeyMap<CViewStoredProc*>& views) {
  const std::string* bytes = extension.Find(kViewIndexSectionTag);
  if (!bytes) {
    if (views.GetCount() > 0) Log("Scan file written before indexes on views were kept: its views load without indexes");
    return;
  }
  struct ViewExtra {
    std::string key;
    CString owner;
    std::vector<ViewColumn> columns;
    std::vector<CIndexInfo> indexes;
  };
  ScanExtensionReader r(*bytes);
  std::vector<ViewExtra> extras;
  // Least sizes: a view of two empty texts and two counts, a column of an id and an empty
  // name, an index of its id, empty name, five flags and two counts, a key of id and flag.
  const size_t count = r.Count(10);
  for (size_t v = 0; v < count && r.ok(); ++v) {
    ViewExtra x;
    x.key = r.Text().str();
    x.owner = r.Text();
    const size_t columns = r.Count(5);
    for (size_t i = 0; i < columns && r.ok(); ++i) {
      ViewColumn c;
      c.id = r.I32();
      c.name = r.Text();
      x.columns.push_back(c);
    }
    const size_t indexes = r.Count(18);
    for (size_t i = 0; i < indexes && r.ok(); ++i) {
      CIndexInfo index;
      index.m_dwId = r.U32();
      index.m_strName = r.Text();
      index.m_bClustered = r.U8();
      index.m_bNonClustered = r.U8();
      index.m_bUnique = r.U8();
      index.m_bFlag6 = r.U8();
      index.m_bFlag7 = r.U8();
      const size_t keys = r.Count(5);
      for (size_t k = 0; k < keys && r.ok(); ++k) {
        index.m_vecColumns.push_back(r.I32());
        index.m_vecDescending.push_back(r.Flag());
      }
      const size_t included = r.Count(4);
      for (size_t k = 0; k < included && r.ok(); ++k) index.m_vecIncluded.push_back(r.I32());
      x.indexes.push_back(std::move(index));
    }
    extras.push_back(std::move(x));
  }
  if (!r.ok()) {
    Log("Scan file: its view index section is damaged: its views load without indexes");
    return;
  }
  for (ViewExtra& x : extras) {
    CViewStoredProc* view = nullptr;
    if (!views.Lookup(x.key, view) || !view) continue;
    view->m_strOwner = x.owner;
    view->m_vecColumns = std::move(x.columns);
    view->m_vecIndexes = std::move(x.indexes);
  }
}
