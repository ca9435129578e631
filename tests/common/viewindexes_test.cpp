#include "common/viewindexes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

CIndexInfo ViewIndex(DWORD id, const char* name, std::vector<int> keys, bool clustered, bool unique = false) {
  CIndexInfo i;
  i.m_dwId = id;
  i.m_strName = name;
  i.m_vecColumns = std::move(keys);
  i.m_vecDescending.assign(i.m_vecColumns.size(), false);
  i.m_bClustered = clustered ? 1 : 0;
  i.m_bNonClustered = clustered ? 0 : 1;
  i.m_bUnique = unique ? 1 : 0;
  return i;
}

CViewStoredProc IndexedView() {
  CViewStoredProc v;
  v.m_strName = "Order Totals";
  v.m_strOwner = "sales";
  v.m_strText = "CREATE VIEW [sales].[Order Totals] WITH SCHEMABINDING AS SELECT ...";
  v.AddColumn(1, "OrderID");
  v.AddColumn(2, "Total");
  v.AddColumn(4, "Rows]x");  // id 3 was dropped: ids are not positions
  return v;
}

std::vector<std::string> Texts(const std::vector<CString>& v) {
  std::vector<std::string> out;
  for (const CString& s : v) out.push_back(s.str());
  return out;
}

}  // namespace

// What a session needs before it may index a view, whatever the server's defaults.
const char* const kSessionOptions = "SET ARITHABORT ON\r\nSET NUMERIC_ROUNDABORT OFF";

// The clustered index first whatever order the catalog gave, keys by column id with their
// direction, INCLUDE by column id; both key-list forms (from 0 and from 1) name the same keys.
TEST(ViewIndexes, ClusteredFirstThenTheOthersWithDirectionAndIncludes) {
  CViewStoredProc v = IndexedView();
  CIndexInfo cover = ViewIndex(3, "IX_cover", {0, 2, 4}, false);
  cover.m_vecDescending = {false, true, false};
  cover.m_vecIncluded = {1};
  v.m_vecIndexes.push_back(cover);
  v.m_vecIndexes.push_back(ViewIndex(2, "IX_total", {2}, false, true));
  v.m_vecIndexes.push_back(ViewIndex(1, "IX_Order Totals", {0, 1}, true, true));
  std::vector<CString> problems;
  EXPECT_EQ(Texts(SqlViewIndexStatements(v, problems)),
            (std::vector<std::string>{
                kSessionOptions,
                "CREATE UNIQUE CLUSTERED INDEX [IX_Order Totals] ON [sales].[Order Totals] ([OrderID] ASC)",
                "CREATE UNIQUE NONCLUSTERED INDEX [IX_total] ON [sales].[Order Totals] ([Total] ASC)",
                "CREATE NONCLUSTERED INDEX [IX_cover] ON [sales].[Order Totals] ([Total] DESC, [Rows]]x] ASC) "
                "INCLUDE ([OrderID])"}));
  EXPECT_TRUE(problems.empty());

  // No owner read: dbo, as for tables.
  v.m_strOwner.Empty();
  problems.clear();
  EXPECT_EQ(SqlViewIndexStatements(v, problems).at(1).str(),
            "CREATE UNIQUE CLUSTERED INDEX [IX_Order Totals] ON [dbo].[Order Totals] ([OrderID] ASC)");
}

// An index that cannot be written whole is left out and named in the problems; without its
// clustered index no other index of the view can exist.
TEST(ViewIndexes, AnIndexThatCannotBeNamedWholeIsLeftOut) {
  const struct Case {
    const char* what;
    std::vector<int> clusteredKeys;
    std::vector<int> otherKeys;
    std::vector<int> otherIncluded;
    std::vector<std::string> statements;
    std::vector<std::string> problems;
  } cases[] = {
      {"a key the view has no column of", {0, 1}, {0, 9}, {},
       {kSessionOptions, "CREATE UNIQUE CLUSTERED INDEX [CX] ON [dbo].[V] ([OrderID] ASC)"},
       {"Index [IX] of view [dbo].[V]: its name or columns cannot be read: not created"}},
      {"an included column it has not", {0, 1}, {0, 2}, {7},
       {kSessionOptions, "CREATE UNIQUE CLUSTERED INDEX [CX] ON [dbo].[V] ([OrderID] ASC)"},
       {"Index [IX] of view [dbo].[V]: its name or columns cannot be read: not created"}},
      {"a key position that was never read", {0, 1, 0, 2}, {0, 2}, {},
       {},
       {"Index [CX] of view [dbo].[V]: its name or columns cannot be read: not created",
        "Index [IX] of view [dbo].[V]: the view's clustered index is not created, so neither is this one"}},
      {"a clustered index without keys", {}, {0, 2}, {},
       {},
       {"Index [CX] of view [dbo].[V]: its name or columns cannot be read: not created",
        "Index [IX] of view [dbo].[V]: the view's clustered index is not created, so neither is this one"}},
      {"a column whose name was no text", {0, 3}, {0, 2}, {},
       {},
       {"Index [CX] of view [dbo].[V]: its name or columns cannot be read: not created",
        "Index [IX] of view [dbo].[V]: the view's clustered index is not created, so neither is this one"}},
  };
  for (const Case& c : cases) {
    CViewStoredProc v;
    v.m_strName = "V";
    v.m_strText = "create view V with schemabinding as select 1 as a";
    v.AddColumn(1, "OrderID");
    v.AddColumn(2, "Total");
    v.AddColumn(3, "");
    v.m_vecIndexes.push_back(ViewIndex(1, "CX", c.clusteredKeys, true, true));
    CIndexInfo other = ViewIndex(2, "IX", c.otherKeys, false);
    other.m_vecIncluded = c.otherIncluded;
    v.m_vecIndexes.push_back(other);
    std::vector<CString> problems;
    EXPECT_EQ(Texts(SqlViewIndexStatements(v, problems)), c.statements) << c.what;
    EXPECT_EQ(Texts(problems), c.problems) << c.what;
  }

  // A nameless, a disabled index, and a view whose text was not found.
  CViewStoredProc v = IndexedView();
  v.m_vecIndexes.push_back(ViewIndex(1, "", {0, 1}, true, true));
  CIndexInfo disabled = ViewIndex(2, "IX_off", {0, 2}, false);
  disabled.m_bNonClustered = 0;
  v.m_vecIndexes.push_back(disabled);
  std::vector<CString> problems;
  EXPECT_TRUE(SqlViewIndexStatements(v, problems).empty());
  EXPECT_EQ(Texts(problems), (std::vector<std::string>{
                                 "Index [] of view [sales].[Order Totals]: its name or columns cannot be read: not created",
                                 "Index [IX_off] of view [sales].[Order Totals]: disabled or hypothetical: not created"}));
  v.m_strText = " \r\n";
  problems.clear();
  EXPECT_TRUE(SqlViewIndexStatements(v, problems).empty());
  EXPECT_EQ(Texts(problems),
            (std::vector<std::string>{"View [sales].[Order Totals] has no definition text: its 2 indexes are not created"}));

  // A view without indexes: nothing, and nothing to say.
  CViewStoredProc plain = IndexedView();
  problems.clear();
  EXPECT_TRUE(SqlViewIndexStatements(plain, problems).empty());
  EXPECT_TRUE(problems.empty());
}
