#include "scanfacts.h"

#include <string>
#include <utility>
#include <vector>

#include "common/executionlog.h"
#include "common/scanextension.h"

namespace {

void Log(const char* text) { CExecutionLog::WriteLog(0, 0, text, false); }

size_t CountTables(const CStringKeyMap<CTable*>& tables) {
  size_t count = 0;
  for (const auto& e : tables) count += e.second ? 1 : 0;
  return count;
}

template <class Fill>
void WritePerTable(CScanFileExtension& extension, const char* tag, const CStringKeyMap<CTable*>& tables,
                   Fill fill) {
  ScanExtensionWriter& w = extension.Add(tag);
  w.Count(CountTables(tables));
  for (const auto& [key, table] : tables)
    if (table) fill(w.Text(CString(key)), *table);
}

// Reads a per-table section whole before any table is changed: a damaged one changes none.
// read(r) gives one table's value; apply(table, value) sets it.
template <class Value, class Read, class Apply>
bool ReadPerTable(const std::string& bytes, size_t minItemBytes, CStringKeyMap<CTable*>& tables, Read read,
                  Apply apply) {
  ScanExtensionReader r(bytes);
  std::vector<std::pair<std::string, Value>> values;
  const size_t count = r.Count(minItemBytes);
  for (size_t i = 0; i < count && r.ok(); ++i) {
    std::string key = r.Text().str();
    Value v = read(r);
    values.emplace_back(std::move(key), std::move(v));
  }
  if (!r.ok()) return false;
  for (auto& [key, v] : values) {
    CTable* table = nullptr;
    if (tables.Lookup(key, table) && table) apply(*table, v);
  }
  return true;
}

std::vector<DWORD> ReadDwords(ScanExtensionReader& r) {
  std::vector<DWORD> v(r.Count(4));
  for (size_t i = 0; i < v.size() && r.ok(); ++i) v[i] = r.U32();
  return v;
}

}  // namespace

void WriteScanFactSections(CScanFileExtension& extension, const CStringKeyMap<CTable*>& tables, bool stopped) {
  WritePerTable(extension, kFreedPagesSectionTag, tables, [](ScanExtensionWriter& w, const CTable& t) {
    w.Count(t.m_vecFreedPages.size());
    for (DWORD page : t.m_vecFreedPages) w.U32(page);
  });
  WritePerTable(extension, kCollationSectionTag, tables, [](ScanExtensionWriter& w, const CTable& t) {
    size_t columns = 0;
    for (const CColumn* c = t.m_pColumnHead; c; c = c->m_pNext) ++columns;
    w.Count(columns);
    for (const CColumn* c = t.m_pColumnHead; c; c = c->m_pNext) w.U32(c->m_dwCollation);
  });
  // The stop flag comes first, the tables' marks after it.
  ScanExtensionWriter& w = extension.Add(kCatalogLossSectionTag);
  w.Flag(stopped).Count(CountTables(tables));
  for (const auto& [key, table] : tables)
    if (table) w.Text(CString(key)).Text(table->m_strCatalogLoss);
}

bool ApplyScanFactSections(const CScanFileExtension& extension, CStringKeyMap<CTable*>& tables) {
  if (const std::string* bytes = extension.Find(kFreedPagesSectionTag)) {
    // Each table: its key's length prefix and its page count at least.
    if (!ReadPerTable<std::vector<DWORD>>(*bytes, 5, tables, ReadDwords,
                                          [](CTable& t, std::vector<DWORD>& pages) { t.m_vecFreedPages = pages; }))
      Log("Scan file: its freed-pages section is damaged: no deleted rows are recovered from freed pages");
  } else {
    Log(kFreedPagesSectionMissing);
  }
  if (const std::string* bytes = extension.Find(kCollationSectionTag)) {
    if (!ReadPerTable<std::vector<DWORD>>(*bytes, 5, tables, ReadDwords, [](CTable& t, std::vector<DWORD>& ids) {
          // Columns in their saved order; a column the section does not reach keeps its id.
          size_t i = 0;
          for (CColumn* c = t.m_pColumnHead; c && i < ids.size(); c = c->m_pNext, ++i) c->m_dwCollation = ids[i];
        }))
      Log("Scan file: its collations section is damaged: previews show char, varchar and text values in the "
          "default code page");
  } else {
    Log(kCollationSectionMissing);
  }
  const std::string* bytes = extension.Find(kCatalogLossSectionTag);
  if (!bytes) {
    Log(kCatalogLossSectionMissing);
    return false;
  }
  ScanExtensionReader r(*bytes);
  const bool stopped = r.Flag();
  std::vector<std::pair<std::string, CString>> marks;
  const size_t count = r.Count(2);
  for (size_t i = 0; i < count && r.ok(); ++i) {
    std::string key = r.Text().str();
    marks.emplace_back(std::move(key), r.Text());
  }
  if (!r.ok()) {
    // A damaged section may have lost a stop: the scan is taken as partial, which only asks.
    Log("Scan file: its catalog-loss section is damaged: the scan is treated as a stopped recovery");
    return true;
  }
  for (auto& [key, mark] : marks) {
    CTable* table = nullptr;
    if (tables.Lookup(key, table) && table) table->m_strCatalogLoss = mark;
  }
  return stopped;
}
