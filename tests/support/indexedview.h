// An indexed view as a scan leaves it (owner, columns, a clustered and a covering index), and
// its Views.sql text as an engine writes it: for the scan-file round trips of both engines.
#pragma once

#include <string>

#include "common/records.h"
#include "platform/files.h"
#include "support/fixtures.h"

namespace testsupport {

inline CViewStoredProc* NewIndexedView() {
  auto* v = new CViewStoredProc;
  v->m_strName = "Totals";
  v->m_strOwner = "sales";
  v->m_strText = "CREATE VIEW sales.Totals WITH SCHEMABINDING AS SELECT OrderID, Total FROM sales.T";
  v->AddColumn(1, "OrderID");
  v->AddColumn(3, "Total");
  CIndexInfo cx;
  cx.m_dwId = 1;
  cx.m_strName = "CX_Totals";
  cx.m_bClustered = cx.m_bUnique = 1;
  cx.m_vecColumns = {1};
  cx.m_vecDescending = {false};
  CIndexInfo ix;
  ix.m_dwId = 2;
  ix.m_strName = "IX_Totals";
  ix.m_bNonClustered = 1;
  ix.m_vecColumns = {3};
  ix.m_vecDescending = {true};
  ix.m_vecIncluded = {1};
  v->m_vecIndexes = {cx, ix};
  return v;
}

constexpr const char* kIndexedViewIndexes =
    "CREATE UNIQUE CLUSTERED INDEX [CX_Totals] ON [sales].[Totals] ([OrderID] ASC)\r\ngo\r\n"
    "CREATE NONCLUSTERED INDEX [IX_Totals] ON [sales].[Totals] ([Total] DESC) INCLUDE ([OrderID])\r\ngo\r\n";

// What the engine writes to Views.sql for one view.
template <class Engine>
std::string ViewScript(Engine& engine, CViewStoredProc* view, const TempDir& dir) {
  const std::string path = dir.file("Views.sql");
  engine.m_hViewsSqlFile = CreateFileForWrite(path.c_str());
  engine.GenerateViewQueries(view);
  CloseFileHandle(engine.m_hViewsSqlFile);
  return ReadFile(path);
}

}  // namespace testsupport
