#include "viewindexes.h"

#include <algorithm>

#include "common/sqltext.h"

namespace {

// "[k] ASC, [k2] DESC", or false when a key cannot be named.
bool KeyList(const CViewStoredProc& view, const CIndexInfo& index, CString& out) {
  size_t keys = 0;
  for (size_t p = 0; p < index.m_vecColumns.size(); ++p) {
    const int id = index.m_vecColumns[p];
    if (p == 0 && id == 0) continue;
    const CString* name = view.ColumnName(id);
    if (id == 0 || !name || name->IsEmpty()) return false;
    const bool descending = p < index.m_vecDescending.size() && index.m_vecDescending[p];
    if (keys++) out += ", ";
    out += SqlQuoteName(*name) + (descending ? " DESC" : " ASC");
  }
  return keys > 0;
}

bool IncludeList(const CViewStoredProc& view, const CIndexInfo& index, CString& out) {
  for (int id : index.m_vecIncluded) {
    const CString* name = view.ColumnName(id);
    if (!name || name->IsEmpty()) return false;
    if (!out.IsEmpty()) out += ", ";
    out += SqlQuoteName(*name);
  }
  return true;
}

}  // namespace

std::vector<CString> SqlViewIndexStatements(const CViewStoredProc& view, std::vector<CString>& problems) {
  std::vector<CString> statements;
  if (view.m_vecIndexes.empty()) return statements;
  const CString owner = view.m_strOwner.IsEmpty() ? CString("dbo") : view.m_strOwner;
  const CString viewName = SqlQualifiedName(owner, view.m_strName);
  CString text(view.m_strText);
  text.Trim();
  if (text.IsEmpty()) {
    problems.push_back(FormatString("View %s has no definition text: its %d indexes are not created", viewName,
                                    int(view.m_vecIndexes.size())));
    return statements;
  }

  std::vector<const CIndexInfo*> order;
  for (const CIndexInfo& index : view.m_vecIndexes) order.push_back(&index);
  std::stable_sort(order.begin(), order.end(), [](const CIndexInfo* a, const CIndexInfo* b) {
    if ((a->m_bClustered != 0) != (b->m_bClustered != 0)) return a->m_bClustered != 0;
    return a->m_dwId < b->m_dwId;
  });

  bool clustered = false;
  for (const CIndexInfo* index : order) {
    const CString what = "Index " + SqlQuoteName(index->m_strName) + " of view " + viewName;
    if (!index->m_bClustered && !index->m_bNonClustered) {
      problems.push_back(what + ": disabled or hypothetical: not created");
      continue;
    }
    if (!index->m_bClustered && !clustered) {
      problems.push_back(what + ": the view's clustered index is not created, so neither is this one");
      continue;
    }
    CString keys, include;
    if (index->m_strName.IsEmpty() || !KeyList(view, *index, keys) || !IncludeList(view, *index, include)) {
      problems.push_back(what + ": its name or columns cannot be read: not created");
      continue;
    }
    CString statement = CString("CREATE ") + (index->m_bUnique ? "UNIQUE " : "") +
                        (index->m_bClustered ? "CLUSTERED" : "NONCLUSTERED") + " INDEX " +
                        SqlQuoteName(index->m_strName) + " ON " + viewName + " (" + keys + ")";
    if (!include.IsEmpty()) statement += " INCLUDE (" + include + ")";
    statements.push_back(statement);
    if (index->m_bClustered) clustered = true;
  }
  // An index on a view is refused unless the session aborts on arithmetic errors and does not
  // round-abort: a connection to a SQL Server 2000 or a database at level 80 has ARITHABORT off
  // by default. Both stay so for the rest of the session, which changes no row the export sends.
  if (!statements.empty()) statements.insert(statements.begin(), CString("SET ARITHABORT ON\r\nSET NUMERIC_ROUNDABORT OFF"));
  return statements;
}
