// Index catalog rows (kinds, names, bounds) and their key columns.
#include <gtest/gtest.h>

#include "dll/pellwyn2008/catalog_rows.h"
#include "support/fixtures.h"

using namespace catalogrows;
using testsupport::ModuleFolderScope;

namespace {

struct IndexesTest : ::testing::Test {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  CTable* table = nullptr;
  void SetUp() override { table = AddTable(engine, 1001, "T"); }
  void AddIndex(const IndexRow& row) { Decode(engine, &CSQLServer2008::DecodeIndexRow, row.Build()); }
  void AddKey(const IsColRow& row) { Decode(engine, &CSQLServer2008::DecodeIsColRow, row.Build()); }
  CIndexInfo* Index(const char* id) {
    CIndexInfo** found = table->m_mapTableIndexes.Find(id);
    return found ? *found : nullptr;
  }
  void AddColumns(std::initializer_list<DWORD> ids) {
    for (DWORD id : ids) {
      ColumnRow c;
      c.columnId = id;
      c.name = "c" + std::to_string(id);
      Decode(engine, &CSQLServer2008::DecodeColumnRow, c.Build());
    }
  }
};

IndexRow Ix(DWORD indexId, DWORD status, const char* name = "IX") {
  IndexRow r;
  r.indexId = indexId;
  r.status = status;
  r.name = name;
  return r;
}

IsColRow Key(int indexId, DWORD columnId, BYTE ordinal, DWORD status = 0x03) {
  IsColRow r;
  r.indexId = indexId;
  r.columnId = columnId;
  r.keyOrdinal = ordinal;
  r.status = status;
  return r;
}

}  // namespace

// Kind flags by index id and status bits. Status values are those SQL Server writes:
// 0x2b for a clustered primary key, 0x03 for a plain index, 0x2002 for statistics.
TEST_F(IndexesTest, KindsFromIndexIdAndStatus) {
  const struct {
    DWORD indexId, status;
    bool kept, constraint, primaryKey, clustered, nonClustered, unique, extraColumn;
  } cases[] = {
      {1, 0x2b, true, true, true, true, false, true, false},     // PRIMARY KEY CLUSTERED
      {1, 0x01, true, false, false, true, false, false, true},   // clustered, not unique
      {1, 0x09, true, false, false, true, false, true, false},   // unique clustered
      {2, 0x03, true, false, false, false, true, false, false},  // nonclustered
      {2, 0x13, true, false, false, false, true, false, false},  // padded: still nonclustered
      {3, 0x4b, true, true, false, false, true, true, false},    // UNIQUE constraint
      {2, 0x2b, true, true, true, false, true, true, false},     // nonclustered primary key
      {2, 0x83, true, false, false, false, false, false, false}, // disabled
      {2, 0x101, true, false, false, false, false, false, false},// hypothetical
      {0, 0x01, true, false, false, false, false, false, false}, // a heap row with a name
      {4, 0x2002, false, false, false, false, false, false, false},  // statistics
      {5, 0x02, false, false, false, false, false, false, false},    // statistics a user made
  };
  for (const auto& c : cases) {
    CSQLServer2008 e;
    CTable* t = AddTable(e, 1001, "T");
    Decode(e, &CSQLServer2008::DecodeIndexRow, Ix(c.indexId, c.status, "K").Build());
    CIndexInfo** found = t->m_mapTableIndexes.Find(FormatString("%lu", c.indexId).view());
    const std::string label = "index " + std::to_string(c.indexId) + " status " + std::to_string(c.status);
    ASSERT_EQ(found != nullptr, c.kept) << label;
    if (!found) continue;
    const CIndexInfo* ix = *found;
    EXPECT_EQ(ix->m_strName, "K");
    EXPECT_EQ(ix->m_bConstraint != 0, c.constraint) << label;
    EXPECT_EQ(ix->m_bPrimaryKey != 0, c.primaryKey) << label;
    EXPECT_EQ(ix->m_bClustered != 0, c.clustered) << label;
    EXPECT_EQ(ix->m_bNonClustered != 0, c.nonClustered) << label;
    EXPECT_EQ(ix->m_bUnique != 0, c.unique) << label;
    EXPECT_EQ(t->m_nExtraColumn != 0, c.extraColumn) << label;
    EXPECT_TRUE(ix->m_vecColumns.empty());
  }
}

TEST_F(IndexesTest, NamesAndBounds) {
  IndexRow utf16 = Ix(2, 0x03);
  utf16.rawName = {0x49, 0, 0x58, 0, 0x5F, 0, 0x61, 0};
  AddIndex(utf16);
  ASSERT_NE(Index("2"), nullptr);
  EXPECT_EQ(Index("2")->m_strName, "IX_a");

  const struct {
    const char* what;
    IndexRow row;
    bool kept;
  } cases[] = {
      {"N = 0", [] { auto r = Ix(3, 3); r.columns = 0; return r; }(), false},
      {"N = 101", [] { auto r = Ix(3, 3); r.columns = 101; return r; }(), false},
      {"N = 100", [] { auto r = Ix(3, 3); r.columns = 100; return r; }(), true},
      {"500-byte name", [] { auto r = Ix(3, 3); r.rawName = Bytes(500, 'n'); return r; }(), true},
      {"501-byte name", [] { auto r = Ix(3, 3); r.rawName = Bytes(501, 'n'); return r; }(), false},
      {"automatic statistics", Ix(3, 0x03, "_WA_Sys_00000004_014935CB"), false},
      {"_WA_Sys in the middle", Ix(3, 0x03, "x_WA_Sys"), false},
      {"ghost row", [] { auto r = Ix(3, 3); r.statusA = 0x3C; return r; }(), false},
      {"no variable part", [] { auto r = Ix(3, 3); r.statusA = 0x10; return r; }(), false},
      {"unknown table", [] { auto r = Ix(3, 3); r.objectId = 55555; return r; }(), false},
  };
  for (const auto& c : cases) {
    CSQLServer2008 e;
    CTable* t = AddTable(e, 1001, "T");
    Decode(e, &CSQLServer2008::DecodeIndexRow, c.row.Build());
    EXPECT_EQ(t->m_mapTableIndexes.Contains("3"), c.kept) << c.what;
  }

  // V keeps only its low byte: 0x0102 reads as 2 variable columns.
  IndexRow twoVars = Ix(4, 0x03);
  Bytes row = Record([] {
    Bytes f(39, 0);
    Put(f, 4, 1001, 4);
    Put(f, 8, 4, 4);
    Put(f, 12, 3, 4);
    return f;
  }(), 11, {Utf16("Two"), Bytes{1, 2}});
  Put(row, 39 + 2 + 2, 0x0102, 2);
  Decode(engine, &CSQLServer2008::DecodeIndexRow, row);
  ASSERT_NE(Index("4"), nullptr);
  EXPECT_EQ(Index("4")->m_strName, "Two");

  // A later row for the same index replaces the earlier record.
  AddIndex(Ix(2, 0x03, "Renamed"));
  EXPECT_EQ(Index("2")->m_strName, "Renamed");
}

// Key columns are matched by column id in key order; included columns, statistics columns
// and repeated rows add nothing.
TEST_F(IndexesTest, KeyColumnsByColumnIdInKeyOrder) {
  AddColumns({1, 2, 4, 5});  // column 3 was dropped: ids and list positions differ
  AddIndex(Ix(1, 0x2b, "PK"));
  AddIndex(Ix(2, 0x03, "IX"));
  AddIndex(Ix(3, 0x03, "Cover"));

  AddKey(Key(1, 2, 2));
  AddKey(Key(1, 4, 1));
  AddKey(Key(1, 4, 1));  // the same row again
  EXPECT_EQ(Index("1")->m_vecColumns, (std::vector<int>{0, 4, 2}));

  AddKey(Key(2, 5, 1, 0x03 | 0x04));  // descending
  AddKey(Key(2, 1, 2));
  EXPECT_EQ(Index("2")->m_vecColumns, (std::vector<int>{0, 5, 1}));
  EXPECT_EQ(Index("2")->m_vecDescending, (std::vector<bool>{false, true, false}));

  AddKey(Key(3, 1, 1));
  AddKey(Key(3, 2, 0, 0x03 | 0x10));  // included column
  AddKey(Key(3, 4, 2, 0x01));         // a statistics column
  AddKey(Key(3, 3, 2));               // no such column
  AddKey(Key(3, 5, 0));               // no key position
  EXPECT_EQ(Index("3")->m_vecColumns, (std::vector<int>{0, 1}));
  // The included column is carried beside the keys, once however often its row is read.
  AddKey(Key(3, 2, 0, 0x03 | 0x10));
  EXPECT_EQ(Index("3")->m_vecIncluded, (std::vector<int>{2}));

  // Rows of unknown tables or indexes, and of object 55 itself, change nothing.
  IsColRow other = Key(1, 1, 3);
  other.objectId = 4242;
  AddKey(other);
  AddKey(Key(9, 1, 1));
  IsColRow self = Key(1, 1, 3);
  self.objectId = 55;
  AddTable(engine, 55, "");
  AddKey(self);
  EXPECT_EQ(Index("1")->m_vecColumns, (std::vector<int>{0, 4, 2}));
}

// A filtered index (status 0x20000) takes its predicate from the definition text filed under
// its table with the index id as sub-object; without that text it is left out, not widened
// to every row. Column texts (class 2) and module texts (sub-object 0) are no predicates.
TEST_F(IndexesTest, FilteredIndexesTakeTheirPredicate) {
  auto text = [&](BYTE valueClass, int sub, const std::string& t) {
    ValueRow v;
    v.valueClass = valueClass;
    v.objectId = 1001;
    v.subObjectId = sub;
    v.text = Utf16(t);
    Decode(engine, &CSQLServer2008::DecodeObjectValueRow, v.Build());
  };
  text(1, 2, "([c2] IS NOT NULL)");
  text(2, 3, "((0))");
  text(1, 0, "not a predicate");
  AddIndex(Ix(2, 0x20003, "IX_f"));
  AddIndex(Ix(3, 0x20003, "IX_lost"));
  AddIndex(Ix(4, 0x00003, "IX_plain"));
  ASSERT_NE(Index("2"), nullptr);
  EXPECT_EQ(Index("2")->m_strFilter, "([c2] IS NOT NULL)");
  EXPECT_EQ(Index("3"), nullptr);
  ASSERT_NE(Index("4"), nullptr);
  EXPECT_TRUE(Index("4")->m_strFilter.IsEmpty());
  EXPECT_EQ(table->m_mapComputed.Find("3") != nullptr, true);
}

// Rows under a view's object id go to the view: its columns by column id (a dropped one left
// out), its index rows with their kind, its key and included columns. No table is made of it.
TEST_F(IndexesTest, RowsOfAnIndexedViewGoToTheView) {
  auto* view = new CViewStoredProc;
  view->m_strName = "V";
  engine.m_mapViews.SetAt("2001", view);
  auto column = [&](DWORD id, const char* name, int statusA = -1) {
    ColumnRow c;
    c.objectId = 2001;
    c.columnId = id;
    c.name = name;
    c.statusA = statusA;
    Decode(engine, &CSQLServer2008::DecodeColumnRow, c.Build());
  };
  column(1, "OrderID");
  column(2, "Total");
  column(3, "gone", 0x3C);  // a ghost: a dropped column
  column(2, "Total");       // the page read twice
  auto index = [&](IndexRow r) {
    r.objectId = 2001;
    AddIndex(r);
  };
  index(Ix(1, 0x09, "CX_V"));
  index(Ix(2, 0x01, "IX_V"));
  index(Ix(2, 0x01, "IX_V"));
  index(Ix(3, 0x00, "stats"));  // statistics
  auto key = [&](IsColRow r) {
    r.objectId = 2001;
    AddKey(r);
  };
  key(Key(1, 1, 1));
  key(Key(2, 2, 1, 0x03 | 0x04));
  key(Key(2, 1, 0, 0x03 | 0x10));
  key(Key(9, 1, 1));  // no such index

  ASSERT_EQ(view->m_vecColumns.size(), 2u);
  EXPECT_EQ(view->m_vecColumns[0].id, 1);
  EXPECT_EQ(view->m_vecColumns[0].name, CString("OrderID"));
  EXPECT_EQ(view->m_vecColumns[1].name, CString("Total"));
  ASSERT_EQ(view->m_vecIndexes.size(), 2u);
  const CIndexInfo* cx = view->FindIndex(1);
  ASSERT_NE(cx, nullptr);
  EXPECT_EQ(cx->m_strName, CString("CX_V"));
  EXPECT_TRUE(cx->m_bClustered && cx->m_bUnique);
  EXPECT_EQ(cx->m_vecColumns, (std::vector<int>{0, 1}));
  const CIndexInfo* ix = view->FindIndex(2);
  ASSERT_NE(ix, nullptr);
  EXPECT_TRUE(ix->m_bNonClustered && !ix->m_bUnique);
  EXPECT_EQ(ix->m_vecColumns, (std::vector<int>{0, 2}));
  EXPECT_EQ(ix->m_vecDescending, (std::vector<bool>{false, true}));
  EXPECT_EQ(ix->m_vecIncluded, (std::vector<int>{1}));
  // Only the fixture's table: the view's rows made none, and its indexes are not the table's.
  EXPECT_EQ(engine.m_mapTables.GetCount(), 1);
  EXPECT_EQ(table->m_mapTableIndexes.GetCount(), 0);
  EXPECT_EQ(table->m_pColumnHead, nullptr);
}
