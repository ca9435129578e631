// Backups and database files cut off before their end, as copies of real fixtures cut at
// several places: the scan goes on with what is there, says how many pages of how many were
// read, and the tables whose catalog rows were past the cut are marked, in the export's log
// and at the top of their scripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "support/quietexportsink.h"
#include "ui/core/catalogloss.h"
#include "ui/core/enginefactory.h"
#include "ui/core/exportworker.h"
#include "ui/core/scanfollower.h"
#include "ui/core/sourcedetection.h"

namespace {

std::string CutCopy(const testsupport::TempDir& dir, const std::string& fixture, size_t keep, const char* name) {
  const std::string bytes = testsupport::ReadFile(fixture);
  const std::string path = dir.file(name);
  testsupport::WriteFile(path, bytes.substr(0, std::min(keep, bytes.size())));
  return path;
}

TEST(Truncation, CutCopiesSayWhatWasReadAndNeverCrash) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  testsupport::ModuleFolderScope logs;
  testsupport::TempDir dir;
  struct Case {
    const char* fixture;
    const char* copy;
    double keep;          // share of the file kept
    long long extra;      // bytes added to (or taken from) that share
    const char* warning;  // "" = the source is whole
  } cases[] = {
      // Inside the catalog pages: most of the catalog is gone.
      {"bak2008_library_small.bak", "library30.bak", 0.30, 0, "The backup is truncated: 71 of 232 pages were read."},
      // Inside a data page near the end.
      {"bak2008_northwind_thuyluv.bak", "northwind89.bak", 0.89, 100, "The backup is truncated: 401 of 440 pages were read."},
      // A database file cut inside its last page, and one cut at a page boundary.
      {"mdf2008_northwnd_itsligo.mdf", "northwnd-part.mdf", 1.0, -100,
       "The database file is truncated: it ends inside a page; only the 415 whole pages before it were read, and "
       "how many pages followed is not known."},
      // A database file cut early: no total is made up from the partial page.
      {"sample2000_NORTHWND.MDF", "northwnd2000-5.mdf", 0.05, 100,
       "The database file is truncated: it ends inside a page; only the 16 whole pages before it were read, and "
       "how many pages followed is not known."},
      {"sample2000_PUBS.MDF", "pubs-at-page.mdf", 0.5, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.copy);
    const std::string fixture = testsupport::FixturePath(c.fixture);
    const size_t size = testsupport::ReadFile(fixture).size();
    const size_t keep = size_t((long long)(double(size) * c.keep) + c.extra);
    const std::string path = CutCopy(dir, fixture, keep, c.copy);
    const uicore::SourceFacts facts = uicore::DetectSource(path);
    ASSERT_TRUE(facts.Loadable()) << facts.failure;
    CreatedEngine created = CreateEngine(facts.engine);
    ASSERT_TRUE(created);
    CSQLServer& engine = *created.engine;
    uicore::ListBackupSets(engine, path);
    engine.m_nSelectedDataSet = 1;
    EXPECT_EQ(uicore::SourceCutOffText(engine), c.warning);
    const testsupport::RecoveryResult r = testsupport::FollowScan(engine);
    EXPECT_TRUE(r.finished);
    uicore::MarkCatalogLosses(engine);
    if (*c.warning) EXPECT_NE(logs.ReadExecLog().find(std::string("Page census: ") + c.warning), std::string::npos);
  }
}

TEST(Truncation, TablesWhoseCatalogRowsWereLostAreMarkedInTheExport) {
  REQUIRE_FIXTURE(fixture, "bak2008_northwind_thuyluv.bak");
  testsupport::ModuleFolderScope logs;
  testsupport::TempDir dir;
  const size_t size = testsupport::ReadFile(fixture).size();
  const std::string path = CutCopy(dir, fixture, size * 89 / 100, "northwind89.bak");
  CSQLServer2008 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  // Employees, and the table whose column rows were cut but whose stored layout kept two of
  // its columns: it comes back with those two, marked for the twelve it lacks.
  ASSERT_EQ(uicore::MarkCatalogLosses(engine), 2);
  CTable* employees = testsupport::FindTable(engine, "Employees");
  ASSERT_TRUE(employees);
  // Columns 1-7 (EmployeeID to HireDate) and with them the keys of two indexes were on the
  // pages past the cut.
  EXPECT_EQ(employees->m_strCatalogLoss.str(),
            "columns 1-7 missing; key columns of index PK_Employees missing; key columns of index LastName missing");
  const CTable* customers = testsupport::FindTable(engine, "Customers");
  ASSERT_TRUE(customers);
  EXPECT_TRUE(customers->m_strCatalogLoss.IsEmpty());

  uicore::ExportRequest request;
  for (const auto& entry : engine.m_mapTables)
    if (entry.second && !entry.second->m_strName.IsEmpty()) request.tables.push_back(entry.second);
  request.outputFolder = dir.file("out");
  std::filesystem::create_directories(request.outputFolder);
  testsupport::QuietExportSink sink;
  uicore::ExportWorker worker("");
  ASSERT_TRUE(worker.Start(engine, std::move(request), sink, nullptr));
  worker.Join();
  const std::string script = testsupport::ReadFile(dir.file("out/Tables/Employees.sql"));
  EXPECT_EQ(script.rfind("-- The catalog of this table is incomplete (the source was cut off before its end): "
                         "columns 1-7 missing;",
                         0),
            0u)
      << script.substr(0, 200);
  EXPECT_EQ(testsupport::ReadFile(dir.file("out/Tables/Customers.sql")).rfind("--", 0), std::string::npos);
  EXPECT_NE(logs.ReadExecLog().find("Table dbo.Employees is exported incomplete: columns 1-7 missing"),
            std::string::npos);
}

TEST(Truncation, DescribesTheGapsOfATablesCatalog) {
  CTable table;
  EXPECT_EQ(uicore::DescribeCatalogLoss(table), "every column is missing");
  for (WORD id : {3, 4, 6, 9}) {
    auto* c = new CColumn();
    c->m_wColOrder = id;
    table.AppendColumn(c);
  }
  auto* index = new CIndexInfo();
  index->m_strName = "PK_t";
  index->m_vecColumns = {0, 4};  // key positions no row named stay 0
  table.SetIndex("1", index);
  EXPECT_EQ(uicore::DescribeCatalogLoss(table), "columns 1-2, 5, 7-8 missing");
  index->m_vecColumns = {0, 5};
  EXPECT_EQ(uicore::DescribeCatalogLoss(table), "columns 1-2, 5, 7-8 missing; key columns of index PK_t missing");
}

}  // namespace
