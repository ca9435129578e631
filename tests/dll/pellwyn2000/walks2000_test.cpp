// The 2000 engine's record walks over small synthetic database files: which slots and pages
// they read, how the export batches its rows, the stop flag, failed writes, deleted rows, and
// where preview windows begin and end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dll/pellwyn2000/pellwyn2000.h"
#include "pages2000.h"
#include "platform/files.h"
#include "rows2000_oracle.h"
#include "support/fakedatabase.h"
#include "support/fakepreview.h"
#include "support/fixtures.h"

using pages2000::Bytes;
using pages2000::Page;
using pages2000::Row;
using testsupport::ModuleFolderScope;

namespace {

constexpr DWORD kTableId = 500;

// A row of T(id int, name varchar(20)).
Bytes TRow(int id, const std::string& name, WORD status = 0x0030) {
  return Row(8, status).Put(4, DWORD(id), 4).Columns(2).Var(Bytes(name.begin(), name.end())).Build();
}

Page DataPage(DWORD objectId = kTableId) { return Page(kPageData, objectId, 0); }

// A plain database file of the given pages (page n at n x 8192) and an engine whose catalog
// holds T over the data pages listed.
struct Database {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  CSQLServer2000 engine;
  CTable* table = nullptr;

  Database(std::vector<Page> pages, std::vector<DWORD> dataPages) {
    std::string bytes;
    for (const Page& p : pages) bytes.append(reinterpret_cast<const char*>(p.bytes().data()), p.bytes().size());
    testsupport::WriteFile(dir.file("t.mdf"), bytes);
    engine.m_strFilePath = dir.file("t.mdf").c_str();
    table = engine.NewTable();
    table->m_strName = "T";
    table->m_strOwner = "dbo";
    table->m_dwObjectId = kTableId;
    rowsoracle::AddColumn(*table, "id", "int", 4, 4, 1)->m_bNullable = true;
    rowsoracle::AddColumn(*table, "name", "varchar", -1, 20, 2)->m_bNullable = true;
    table->m_mapVarTypes.SetAt("-1", "varchar");
    table->m_nCatalogColumns = table->m_nAllColumns = 2;
    table->m_vecDataPages = std::move(dataPages);
    engine.m_mapTables.SetAt("500", table);
  }

  void Settings(const std::string& text) { testsupport::WriteFile(scope.path() + "/sql.settings", text); }

  std::string ExportScript() {
    const std::string path = dir.file("T.sql");
    engine.m_hTableSqlFile = CreateFileForWrite(path.c_str());
    engine.ExportTableRows(table, nullptr);
    CloseFileHandle(engine.m_hTableSqlFile);
    engine.m_hTableSqlFile = kInvalidFile;
    return testsupport::ReadFile(path);
  }
};

// The ids a text names, in order ("values(7," ...).
std::vector<int> Ids(const std::string& text) {
  std::vector<int> ids;
  for (size_t at = 0; (at = text.find("values(", at)) != std::string::npos; at += 7)
    ids.push_back(std::atoi(text.c_str() + at + 7));
  return ids;
}

std::vector<int> Range(int first, int last) {
  std::vector<int> v;
  for (int i = first; i <= last; ++i) v.push_back(i);
  return v;
}

}  // namespace

TEST(Walks2000, ExportBatchesFollowExportsizeAndPageEnds) {
  // Two pages of five rows; slot 2 of the first page is empty and still counts.
  Page a = DataPage(), b = DataPage();
  for (int i = 1; i <= 5; ++i) a.Add(TRow(i, "a"));
  a.SetSlot(5, 0);
  a.SetSlot(6, a.Add(TRow(6, "a")));
  for (int i = 7; i <= 11; ++i) b.Add(TRow(i, "b"));
  struct Case {
    const char* settings;  // nullptr: no file
    std::vector<std::vector<int>> batches;
  } cases[] = {
      // No file: 100 slots to a batch, so only the page ends send.
      {nullptr, {Range(1, 6), Range(7, 11)}},
      // A file without the key: every slot sends.
      {"Thread_Size=4\n", {{1}, {2}, {3}, {4}, {5}, {6}, {7}, {8}, {9}, {10}, {11}}},
      // Four slots, the empty one among them, and the count runs on across the page end.
      {"Exportsize=4\r\n", {Range(1, 4), {5, 6}, {7}, Range(8, 11)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings ? c.settings : "no settings file");
    Database db({Page(kPageData, 0, 0), a, b}, {1, 2});
    if (c.settings) db.Settings(c.settings);
    testsupport::FakeDatabase server;
    db.engine.ExportTableRows(db.table, &server);
    std::vector<std::vector<int>> sent;
    for (const std::string& s : server.Statements()) sent.push_back(Ids(s));
    EXPECT_EQ(sent, c.batches);
    EXPECT_EQ(db.table->m_nRowsExported, 11);
    EXPECT_EQ(db.engine.m_pStatus->m_nRecordsSent, 11);
  }
}

TEST(Walks2000, ExportPassesOverPagesItCannotUse) {
  // A page of another object and a page that is not a data page sit in the list: the rows
  // after them are still exported.
  Page first = DataPage(), foreign = DataPage(kTableId + 1), last = DataPage();
  first.Add(TRow(1, "x"));
  foreign.Add(TRow(99, "other"));
  Page text(kPageTextMix, kTableId, 3);
  last.Add(TRow(2, "y"));
  Database db({Page(kPageData, 0, 0), first, foreign, text, last}, {1, 2, 3, 4, 40});
  const std::string script = db.ExportScript();
  EXPECT_EQ(Ids(script), std::vector<int>({1, 2}));
  EXPECT_EQ(script, "Insert into [dbo].[T] ([id],[name])  values(1,'x')\r\ngo\r\n"
                    "Insert into [dbo].[T] ([id],[name])  values(2,'y')\r\ngo\r\n");
  EXPECT_EQ(db.table->m_nRowsExported, 2);
  EXPECT_NE(db.scope.ReadExecLog().find("1 pages of other objects"), std::string::npos);
}

TEST(Walks2000, NullsOfANotNullColumnAreWrittenAsEmptyAndCounted) {
  // The second row has no variable part: its name is NULL, which the column does not take.
  Page page = DataPage();
  page.Add(TRow(1, "x"));
  page.Add(Row(8, 0x0010).Put(4, DWORD(2), 4).Columns(2).Build());
  Database db({Page(kPageData, 0, 0), page}, {1});
  db.table->m_pColumnHead->m_pNext->m_bNullable = false;
  EXPECT_EQ(db.ExportScript(), "Insert into [dbo].[T] ([id],[name])  values(1,'x')\r\ngo\r\n"
                               "Insert into [dbo].[T] ([id],[name])  values(2,'')\r\ngo\r\n");
  EXPECT_NE(db.scope.ReadExecLog().find("Table [dbo].[T]: 1 NULL values of NOT NULL character columns written as ''"),
            std::string::npos);
}

TEST(Walks2000, FirstSlotRepairAndSlotBounds) {
  Page p = DataPage();
  p.Add(TRow(1, "first"));  // at 96
  const WORD second = p.Add(TRow(2, "second"));
  // Slot 0's low byte survived (0x0160 reads as 96); an entry past the page, one inside the
  // header and an empty one are passed over.
  p.SetSlot(0, 0x0160);
  p.SetSlot(1, second);
  p.SetSlot(2, 0x2100);
  p.SetSlot(3, 40);
  p.SetSlot(4, 0);
  Database db({Page(kPageData, 0, 0), p}, {1});
  EXPECT_EQ(Ids(db.ExportScript()), std::vector<int>({1, 2}));
  const auto rows = testsupport::AllRows(db.engine, db.table);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], "1$#$first$#$");
}

TEST(Walks2000, PreviewTakesADamagedHighByteOfTheFirstSlotTheExportDoesNot) {
  // Slot 0 reads 0x0170 while the record lies at 0x70: the preview reads it there, the export
  // keeps the entry as it is and finds no record at 0x170.
  Page p = DataPage();
  p.Place(0x70, TRow(5, "low"));
  p.SetSlot(0, 0x0170);
  Database db({Page(kPageData, 0, 0), p}, {1});
  EXPECT_EQ(testsupport::AllRows(db.engine, db.table), std::vector<std::string>({"5$#$low$#$"}));
  EXPECT_EQ(db.ExportScript(), "");
}

TEST(Walks2000, DeletedRowsFollowTheRecordBeforeThem) {
  // Rows 2 and 3 were deleted: their slots are zero, their records still follow row 1's.
  Page p = DataPage();
  p.Add(TRow(1, "kept"));
  p.Add(TRow(2, "gone"));
  p.Add(TRow(3, "gone"));
  p.SetSlot(1, 0);
  p.SetSlot(2, 0);
  const WORD fourth = p.Add(TRow(4, "kept"));
  p.SetSlot(3, fourth);
  Database db({Page(kPageData, 0, 0), p}, {1});
  EXPECT_EQ(Ids(db.ExportScript()), std::vector<int>({1, 4}));
  db.engine.m_bRecoverDeleted = 1;
  EXPECT_EQ(Ids(db.ExportScript()), std::vector<int>({1, 2, 3, 4}));
}

// The zeroed slot of a deleted row after a shortened row's stale tail, a zeroed slot over
// free space, a ghost of a live row and a page set aside holding copies: only the deleted rows
// that fit the table and copy no other row (T has no key: all its values tell rows apart) are
// exported, and the preview shows exactly the exported rows.
TEST(Walks2000, DeletedRowsFitTheTableAreNeverCopiesAndPreviewAsExported) {
  Page p = DataPage();
  p.Add(TRow(1, "a"));
  p.Add(TRow(2, "b"));
  p.Add(Bytes{0x30, 0x00});
  p.Add(TRow(3, "c"));
  p.SetSlot(2, 0);
  p.SetSlot(3, 0);
  p.SetSlot(3, p.Add(TRow(4, "d")));
  p.SetSlotCount(4);
  Page q = DataPage();
  q.Add(TRow(5, "e"));
  q.SetSlot(1, 0);
  q.SetSlot(2, q.Add(TRow(1, "a", 0x003C)));
  Page freed = DataPage();
  freed.Add(TRow(2, "b"));
  freed.Add(TRow(6, "f", 0x003C));
  freed.Add(TRow(7, "g"));
  Database db({Page(kPageData, 0, 0), p, q, freed}, {1, 2});
  db.table->m_vecFreedPages = {3};
  EXPECT_EQ(Ids(db.ExportScript()), std::vector<int>({1, 2, 4, 5}));
  db.engine.m_bRecoverDeleted = 1;
  EXPECT_EQ(Ids(db.ExportScript()), Range(1, 7));
  EXPECT_EQ(db.table->m_nDeletedRecovered, 3);
  EXPECT_EQ(db.table->m_nDeletedCopies, 2);
  const std::string log = db.scope.ReadExecLog();
  EXPECT_NE(log.find("Exported 7 rows of table [dbo].[T], 3 of them deleted rows recovered; 2 deleted rows left out as "
                     "copies, 1 that could not be read"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Deleted row of table [dbo].[T] left out as a copy: its key (all columns) is that of a live row; "
                     "its values: 1, a"),
            std::string::npos);
  std::vector<std::string> shown;
  for (int id = 1; id <= 7; ++id) shown.push_back(std::to_string(id) + "$#$" + std::string(1, char('a' + id - 1)) + "$#$");
  EXPECT_EQ(testsupport::AllRows(db.engine, db.table), shown);
}

TEST(Walks2000, StopEndsTheExportAndReleasesTheCaller) {
  Page p = DataPage();
  for (int i = 1; i <= 3; ++i) p.Add(TRow(i, "r"));
  Database db({Page(kPageData, 0, 0), p}, {1});
  db.engine.m_pStatus->m_bRecordThreadDone = 0;
  db.engine.m_pStatus->m_bStopRecords = 1;
  testsupport::FakeDatabase server;
  db.engine.ExportTableRows(db.table, &server);
  EXPECT_TRUE(server.Statements().empty());
  EXPECT_EQ(db.table->m_nRowsExported, 0);
  EXPECT_EQ(db.engine.m_pStatus->m_bRecordThreadDone, 1);
  EXPECT_EQ(db.ExportScript(), "");
}

TEST(Walks2000, ScriptThatCannotBeWrittenIsReportedNotCounted) {
  Page p = DataPage();
  p.Add(TRow(1, "r"));
  Database db({Page(kPageData, 0, 0), p}, {1});
  db.engine.m_hTableSqlFile = kInvalidFile;
  db.engine.ExportTableRows(db.table, nullptr);
  EXPECT_EQ(db.table->m_nRowsExported, 0);
  EXPECT_EQ(db.engine.m_nFailedRowWrites, 1);
  EXPECT_NE(db.scope.ReadErrorLog().find("could not be written"), std::string::npos);
}

TEST(Walks2000, PreviewWindowsEndAtFiveHundredRows) {
  auto page = [](int first, int count) {
    Page p = DataPage();
    for (int i = first; i < first + count; ++i) p.Add(TRow(i, ""));
    return p;
  };
  auto ids = [](const testsupport::PreviewWindow& w) {
    std::vector<int> v;
    for (const std::string& r : w.rows) v.push_back(std::atoi(r.c_str()));
    return v;
  };
  struct Case {
    const char* what;
    std::vector<int> pageRows;
    std::vector<std::vector<int>> windows;
  } cases[] = {
      // The window fills on the last page with rows left there: they get a window of their
      // own, and only that one is the last.
      {"full on the last page", {300, 300}, {Range(1, 500), Range(501, 600)}},
      // The 500th row is the last slot of a page: the next window starts past it, on the
      // next page.
      {"full at a page end", {250, 250, 10}, {Range(1, 500), Range(501, 510)}},
      {"exactly one window", {250, 250}, {Range(1, 500)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Page> pages = {Page(kPageData, 0, 0)};
    std::vector<DWORD> list;
    int next = 1;
    for (int n : c.pageRows) {
      list.push_back(DWORD(pages.size()));
      pages.push_back(page(next, n));
      next += n;
    }
    Database db(pages, list);
    testsupport::Preview preview(db.engine);
    testsupport::PreviewWindow w = preview.Select(db.table);
    for (size_t k = 0; k < c.windows.size(); ++k) {
      if (k) w = preview.Next();
      EXPECT_EQ(ids(w), c.windows[k]) << "window " << k + 1;
      EXPECT_EQ(w.lastWindow, k + 1 == c.windows.size()) << "window " << k + 1;
      EXPECT_EQ(w.previousEnabled, k > 0);
    }
    // Back through every window to the first.
    for (size_t k = c.windows.size() - 1; k-- > 0;) EXPECT_EQ(ids(preview.Previous()), c.windows[k]);
  }
}

TEST(Walks2000, PreviewOfATableWithoutPages) {
  Database db({Page(kPageData, 0, 0)}, {});
  testsupport::Preview preview(db.engine);
  const auto w = preview.Select(db.table);
  EXPECT_TRUE(w.finished);
  EXPECT_TRUE(w.rows.empty());
  EXPECT_TRUE(w.lastWindow);
  EXPECT_FALSE(w.nextEnabled);
}

TEST(Walks2000, AvoidDuplicateSendsARepeatedRowOnce) {
  Page p = DataPage();
  p.Add(TRow(1, "same"));
  p.Add(TRow(1, "same"));
  p.Add(TRow(2, "same"));
  for (const char* setting : {"Avoid_Duplicate=0\n", "Avoid_Duplicate=1\n"}) {
    SCOPED_TRACE(setting);
    Database db({Page(kPageData, 0, 0), p}, {1});
    db.Settings(setting);
    const bool avoid = setting[16] == '1';
    testsupport::FakeDatabase server;
    db.engine.ExportTableRows(db.table, &server);
    std::vector<int> sent;
    for (const std::string& s : server.Statements())
      for (int id : Ids(s)) sent.push_back(id);
    EXPECT_EQ(sent, avoid ? std::vector<int>({1, 2}) : std::vector<int>({1, 1, 2}));
    EXPECT_EQ(db.table->m_nRowsExported, avoid ? 2 : 3);
    // The script target writes every row whatever the setting: the script is run by hand.
    EXPECT_EQ(Ids(db.ExportScript()).size(), 3u);
  }
}

TEST(Walks2000, ExportTableRecordOnItsOwn) {
  // Called outside a walk the operation writes its row at once and gives the record's end.
  Page p = DataPage();
  const WORD first = p.Add(TRow(1, "ab"));
  const WORD ghost = p.Add(TRow(2, "cd", 0x003C));
  Database db({Page(kPageData, 0, 0), p}, {1});
  const std::string path = db.dir.file("one.sql");
  db.engine.m_hTableSqlFile = CreateFileForWrite(path.c_str());
  BYTE* body = p.body();
  bool full = false;
  struct Case {
    WORD offset;
    bool deleted;
    WORD end;
  } cases[] = {
      {WORD(first - 96), false, WORD(first - 96 + 17)},  // 8 fixed, count, bitmap, V, one end, "ab"
      {8193, false, 0},
      {WORD(ghost - 96), false, 0},                        // a deleted row, not asked for
      {WORD(ghost - 96), true, WORD(ghost - 96 + 17)},
      {WORD(ghost + 17 - 96), false, 0},                   // no record there
  };
  for (const Case& c : cases) {
    db.engine.m_bRecoverDeleted = c.deleted ? 1 : 0;
    EXPECT_EQ(db.engine.ExportTableRecord(body, c.offset, db.table, nullptr, nullptr, &full), c.end) << c.offset;
  }
  CloseFileHandle(db.engine.m_hTableSqlFile);
  db.engine.m_hTableSqlFile = kInvalidFile;
  EXPECT_EQ(Ids(testsupport::ReadFile(path)), std::vector<int>({1, 2}));
}

TEST(Walks2000, AConnectionThatRefusesEverythingIsLoggedOnlyAtFirst) {
  Page p = DataPage();
  for (int i = 1; i <= 300; ++i) p.Add(TRow(i, ""));
  Database db({Page(kPageData, 0, 0), p}, {1});
  db.Settings("Exportsize=1\n");
  testsupport::FakeDatabase server;
  server.FailWhenContains("Insert");
  db.engine.ExportTableRows(db.table, &server);
  EXPECT_EQ(db.table->m_nRowsExported, 0);
  const std::string errors = db.scope.ReadErrorLog();
  size_t lines = 0;
  for (size_t at = 0; (at = errors.find("fake failure", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 100u);
  EXPECT_NE(errors.find("Further refusals of table [dbo].[T] are counted, not logged"), std::string::npos);
  EXPECT_NE(db.scope.ReadExecLog().find("Exported 0 rows of table [dbo].[T], 300 rows refused by the server"),
            std::string::npos);
}
