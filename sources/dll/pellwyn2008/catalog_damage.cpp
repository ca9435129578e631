// What a damaged catalog would lose without a word: data pages whose allocation unit no
// catalog row ties to a table. They go to the table whose records they hold, found by the
// record layout the rowset columns give (fixed-part length and column count), when exactly
// one table without pages has it; whatever is still unclaimed is counted and named.
#include <map>
#include <string>
#include <vector>

#include "common/allocation.h"
#include "common/catalogpages.h"
#include "common/executionlog.h"
#include "common/page.h"
#include "pellwyn2008.h"
#include "record.h"

namespace {

struct Layout {
  int fixedEnd = 0;
  int columns = 0;
  bool operator<(const Layout& o) const { return fixedEnd != o.fixedEnd ? fixedEnd < o.fixedEnd : columns < o.columns; }
};

}  // namespace

void CSQLServer2008::NoteScanWarning(const CString& text) {
  m_vecScanWarnings.push_back(text.str());
  CExecutionLog::WriteLog(0, 0, "Warning: " + text, true);
}

bool PageRecordLayout(const BYTE* page, int& fixedEnd, int& columns) {
  if (!page || PageTypeOf(page) != kPageData) return false;
  std::vector<BYTE> copy(page, page + kPageSize);
  RestoreTornBitsIfPresent(copy.data());
  bool found = false;
  ForEachSlot(copy.data(), [&](int, WORD entry) {
    if (entry + 4 > kPageSize) return true;
    const BYTE status = copy[entry];
    // A primary data record with a null bitmap.
    if ((status & 0x0E) != 0 || !(status & 0x10)) return true;
    const WORD f = ReadU16(copy.data() + entry + 2);
    if (f < 4 || entry + f + 2 > kPageSize) return true;
    fixedEnd = f;
    columns = ReadU16(copy.data() + entry + f);
    found = true;
    return false;
  });
  return found;
}

const char* CSQLServer2008::SystemTableName(DWORD objectId) {
  static const struct {
    DWORD id;
    const char* name;
  } kNames[] = {
      {3, "sysrscols"},        {4, "sysrowsetcolumns"}, {5, "sysrowsets"},     {7, "sysallocunits"},
      {13, "syshobtcolumns"},  {27, "sysowners"},       {34, "sysschobjs"},    {41, "syscolpars"},
      {50, "sysscalartypes"},  {54, "sysidxstats"},     {55, "sysiscols"},     {60, "sysobjvalues"},
      {64, "sysclsobjs"},      {74, "syssingleobjrefs"},
  };
  for (const auto& n : kNames)
    if (n.id == objectId) return n.name;
  return nullptr;
}

void CSQLServer2008::CheckCatalogFirstPages() {
  // Files of the 2005 previews (before on-disk version 611) lay their allocation rows out
  // otherwise: there the first-page field names other pages.
  if (ReadOnDiskVersion() < 611) return;
  m_catalogChecks.CheckFirstPages([this](CCatalogPageCheck& check) { FinishCatalogPageCheck(check); });
}

void CSQLServer2008::FinishCatalogPageCheck(CCatalogPageCheck& check) {
  const bool backup = m_nDataSetCount > 0;
  check.Finish(1, backup, [this, backup](DWORD pageId, BYTE* buffer) {
    if (!backup) return ReadSourcePage(pageId, buffer);
    DWORD index = 0;
    return LocateThroughExtent(pageId, [this](DWORD id, DWORD& at) { return StreamIndexOfPageId(id, at); }, index) &&
           ReadSourcePage(index, buffer);
  }, false, m_catalogChecks.HeldPages(check.ObjectId()));
}

bool CSQLServer2008::PageGroupLayout(const CTable& group, int& fixedEnd, int& columns) {
  std::vector<BYTE> page(kPageSize);
  for (DWORD index : group.m_vecDataPages)
    if (ReadSourcePage(index, page.data()) && PageRecordLayout(page.data(), fixedEnd, columns)) return true;
  return false;
}

void CSQLServer2008::RecoverUnclaimedPages() {
  // Tables the catalog names, with columns, but no page: where lost pages may belong.
  // A layout some table with pages shares says nothing of whose pages these are.
  std::map<Layout, std::vector<CTable*>> waiting;
  std::map<Layout, int> tablesOfLayout;
  std::vector<const CTable*> rowsetsLost;
  for (auto& entry : m_mapTables) {
    CTable* t = entry.second;
    if (!t || t->m_dwObjectId < 200 || !t->m_pColumnHead) continue;
    const RecordShape shape = RecordPlan(*t).Shape();
    if (shape.fixedEnd <= 0) continue;
    const Layout layout{shape.fixedEnd, shape.columnCount};
    ++tablesOfLayout[layout];
    // Only a table its rowsets say holds rows is waiting for pages: an empty one has none. A
    // table whose rowset rows were all lost may hold rows too, but pages given to it by layout
    // alone could be another unit's (an empty table took a system unit's row): it is named.
    if (t->m_vecDataPages.empty() && m_mapCatalogRowCounts.count(t->m_dwObjectId)) waiting[layout].push_back(t);
    if (t->m_vecDataPages.empty() && !m_setTablesWithRowsets.count(t->m_dwObjectId)) rowsetsLost.push_back(t);
  }
  int unreadPages = 0;
  for (auto& entry : m_mapPageGroups) {
    CTable* group = entry.second;
    if (!group || group->m_vecDataPages.empty() || m_setLinkedUnits.count(entry.first)) continue;
    const size_t pages = group->m_vecDataPages.size();
    Layout layout;
    const bool known = PageGroupLayout(*group, layout.fixedEnd, layout.columns);
    auto it = known ? waiting.find(layout) : waiting.end();
    if (it != waiting.end() && it->second.size() == 1 && tablesOfLayout[layout] == 1) {
      CTable* table = it->second.front();
      table->m_vecDataPages = group->m_vecDataPages;
      table->m_vecFreedPages = group->m_vecFreedPages;
      waiting.erase(it);
      CExecutionLog::WriteLog(0, 0,
                              FormatString("Table %s: %d data pages no catalog row ties to it were given to it by the "
                                           "layout of their records (allocation unit %s)",
                                           table->m_strName, int(pages), entry.first.c_str()),
                              true);
      continue;
    }
    unreadPages += int(pages);
    NoteScanWarning(FormatString("%d data pages of allocation unit %s belong to no table the catalog names%s: "
                                 "they were left unread",
                                 int(pages), entry.first.c_str(),
                                 it != waiting.end() ? " (their layout fits more than one table)" : ""));
  }
  // A table its rowsets say holds rows, with no page: its rows are lost, and said so.
  for (const auto& [layout, tables] : waiting)
    for (const CTable* t : tables)
      NoteScanWarning(FormatString("table %s.%s: its rowsets count %I64d rows but no data page could be tied to it: "
                                   "no rows were recovered",
                                   t->m_strOwner, t->m_strName, m_mapCatalogRowCounts[t->m_dwObjectId]));
  // Its rowset rows are lost: it may be empty, or its rows are on pages left unread.
  if (unreadPages > 0)
    for (const CTable* t : rowsetsLost)
      NoteScanWarning(FormatString("table %s.%s: its rowset rows were lost and no data page could be tied to it: its "
                                   "rows, if it had any, are among the %d data pages left unread",
                                   t->m_strOwner, t->m_strName, unreadPages));
  // Its rowsets say it was a table, but no object row names it and no page made it one: its
  // name and columns cannot be told apart from another object's, so only its id is left.
  for (const DWORD id : m_setTablesWithRowsets) {
    if (id < 200 || m_setObjectRowIds.count(id) || m_mapTables.Contains(FormatString("%lu", id).view()))
      continue;
    const auto rows = m_mapCatalogRowCounts.find(id);
    NoteScanWarning(FormatString("a table with object id %lu: its object row was lost, so its name is not known; its "
                                 "rowsets count %I64d rows and no data page was tied to it: it is not exported",
                                 id, rows == m_mapCatalogRowCounts.end() ? INT64(0) : rows->second));
  }
}
