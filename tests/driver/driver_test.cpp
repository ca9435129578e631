// engine-driver as a front end of the desktop core: input it cannot use ends with status 1 and
// one line that says why, save never replaces a file that is not a scan file, and a saved scan
// opens to the catalog the scan printed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/tdsendpoint.h"

namespace {

struct DriverRun {
  int status = -1;
  std::string out;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

DriverRun Driver(const std::vector<std::string>& args, const std::string& logDir) {
  std::string cmd = "cd " + Quote(logDir) + " && " + Quote(PELLWYN_ENGINE_DRIVER);
  for (const std::string& a : args) cmd += " " + Quote(a);
  cmd += " 2>&1";
  DriverRun r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// The catalog part of "scan" output: from its second "database:" line (the first is the census's).
std::string CatalogOfScan(const std::string& out) {
  const size_t first = out.find("database: ");
  const size_t second = first == std::string::npos ? first : out.find("\ndatabase: ", first);
  return second == std::string::npos ? "" : out.substr(second + 1);
}

}  // namespace

TEST(EngineDriver, InputItCannotUseGivesOneLineAndStatusOne) {
  REQUIRE_FIXTURE(backup, "bak2008_northwind_thuyluv.bak");
  testsupport::TempDir dir;
  const std::string text = dir.file("notes.bak");
  testsupport::WriteFile(text, "not a tape\n");
  testsupport::WriteFile(dir.file("notes.str"), "not a scan\n");
  const std::string missing = dir.file("missing.bak");
  // A named pipe nobody writes to would hold an open for reading for ever.
  const std::string pipe = dir.file("pipe.bak");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  // A folder that holds another export's scripts.
  const std::string used = dir.file("used");
  ASSERT_EQ(mkdir(used.c_str(), 0755), 0);
  testsupport::WriteFile(dir.file("used/Tables.sql"), "");
  struct Case {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{"scan", missing}, "scan failed: " + missing + " cannot be opened: No such file or directory."},
      {{"rows", missing, "Orders"}, "rows failed: " + missing + " cannot be opened: No such file or directory."},
      {{"sets", dir.path()}, "sets failed: " + dir.path() + " is a folder, not a file."},
      {{"scan", text}, "scan failed: " + text + " is not a SQL Server backup: it has no tape header."},
      {{"export", text, dir.file("out")}, "export failed: " + text + " is not a SQL Server backup: it has no tape header."},
      {{"sets", pipe}, "sets failed: " + pipe + " is a named pipe (FIFO), not a file."},
      {{"scan", pipe}, "scan failed: " + pipe + " is a named pipe (FIFO), not a file."},
      {{"scan", "/dev/zero", "--format", "2000"}, "scan failed: /dev/zero is a device, not a file."},
      {{"export", backup, used},
       "export failed: " + used + " is not an empty folder (it may hold another export)"},
      {{"scan", backup, "--set", "2"}, "scan failed: " + backup + " has no backup set 2 (it holds 1)"},
      {{"save", backup, dir.file("x.str"), "--set", "0"}, "save failed: " + backup + " has no backup set 0 (it holds 1)"},
      {{"load", dir.file("notes.str")}, "The selected file is not an str file."},
      {{"load", missing}, "load failed: The selected file could not be read."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const DriverRun r = Driver(c.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.line + "\n");
  }
}

// Without --format the file's own version picks the engine; a --format of the other family is
// obeyed after a warning; files newer than 2008 R2 and compressed backups are refused.
TEST(EngineDriver, TheFilesVersionPicksTheEngine) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  testsupport::TempDir dir;
  const std::string pubs2000 = testsupport::FixturePath("sample2000_PUBS.MDF");
  const std::string library = testsupport::FixturePath("bak2008_library_small.bak");
  // The same catalog as with the right --format, without it.
  for (const auto& [file, format] : {std::pair{pubs2000, "2000"}, std::pair{library, "2008"}}) {
    const DriverRun chosen = Driver({"scan", file, "--format", format}, dir.path());
    const DriverRun detected = Driver({"scan", file}, dir.path());
    ASSERT_EQ(detected.status, 0) << detected.out.substr(0, 300);
    EXPECT_EQ(detected.out, chosen.out);
  }
  const DriverRun wrong = Driver({"scan", library, "--format", "2000"}, dir.path());
  EXPECT_EQ(wrong.out.rfind("warning: " + library +
                                " holds a SQL Server 2008 database (version 655); read as SQL Server 2000 as --format says\n",
                            0),
            0u)
      << wrong.out.substr(0, 300);
  // A file whose boot page is lost says no version: the engine taken is named as a guess.
  std::string noBoot = testsupport::ReadFile(pubs2000);
  std::fill_n(noBoot.begin() + 9 * 8192, 8192, '\0');
  const std::string noBootPath = dir.file("pubs-no-boot.mdf");
  testsupport::WriteFile(noBootPath, noBoot);
  const DriverRun guessed = Driver({"scan", noBootPath}, dir.path());
  EXPECT_EQ(guessed.status, 0);
  EXPECT_EQ(guessed.out.rfind("warning: " + noBootPath +
                                  " does not say which SQL Server version it holds; read as SQL Server 2008 "
                                  "(--format chooses another)\n",
                              0),
            0u)
      << guessed.out.substr(0, 300);
  EXPECT_EQ(Driver({"scan", noBootPath, "--format", "2000"}, dir.path()).out.find("warning:"), std::string::npos);
  // 2005 and 2008 are one family: no warning between them.
  EXPECT_EQ(Driver({"scan", library, "--format", "2005"}, dir.path()).out.find("warning:"), std::string::npos);

  struct Refused {
    const char* file;
    const char* says;
  } refused[] = {
      {"bak2012_diff_6sets_2dbs.bak", " holds a SQL Server 2012 database (version 706), which is not supported"},
      {"bak2014_northwind_noboot.bak", " is a backup written by SQL Server 2014 (software version 12.0), which is not supported"},
      {"bak_compressed_northwind.bak", " is a compressed backup, which is not supported"},
  };
  for (const Refused& r : refused) {
    const std::string path = testsupport::FixturePath(r.file);
    for (const char* command : {"scan", "sets"}) {
      const DriverRun run = Driver({command, path}, dir.path());
      SCOPED_TRACE(run.out);
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.out.rfind(std::string(command) + " failed: " + path + r.says, 0), 0u);
      EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1);
    }
  }
}

TEST(EngineDriver, SaveReplacesOnlyScanFilesAndLoadGivesTheScannedCatalog) {
  REQUIRE_FIXTURE(backup, "bak2008_northwind_thuyluv.bak");
  testsupport::TempDir dir;
  const DriverRun scan = Driver({"scan", backup}, dir.path());
  ASSERT_EQ(scan.status, 0) << scan.out;
  ASSERT_EQ(scan.out.rfind("recovery: finished pages-counted=440 sys-rounds=3\n", 0), 0u) << scan.out;

  // A backup named as the scan file (the arguments swapped by mistake) is never replaced.
  const std::string copy = dir.file("copy.bak");
  testsupport::WriteFile(copy, testsupport::ReadFile(backup));
  const DriverRun refused = Driver({"save", backup, copy}, dir.path());
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "save failed: The selected file is not an str file and was not replaced.\n");
  EXPECT_EQ(testsupport::ReadFile(copy), testsupport::ReadFile(backup));

  const std::string scanFile = dir.file("northwind.str");
  for (int round = 0; round < 2; ++round) {  // the second save replaces the first scan file
    const DriverRun saved = Driver({"save", backup, scanFile}, dir.path());
    ASSERT_EQ(saved.status, 0) << saved.out;
    EXPECT_EQ(saved.out, "saved: " + scanFile + "\n");
  }
  const DriverRun loaded = Driver({"load", scanFile}, dir.path());
  ASSERT_EQ(loaded.status, 0) << loaded.out;
  const std::string head = "loaded: " + scanFile + "\n";
  ASSERT_EQ(loaded.out.rfind(head, 0), 0u);
  EXPECT_EQ(loaded.out.substr(head.size()), CatalogOfScan(scan.out));

  // A truncated scan file: refused, one line.
  const std::string whole = testsupport::ReadFile(scanFile);
  testsupport::WriteFile(scanFile, whole.substr(0, whole.size() / 2));
  const DriverRun cut = Driver({"load", scanFile}, dir.path());
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.out, "load failed: The selected file could not be read.\n");
}

// "export --server" runs the program's server export of every object through the export
// worker, its connection pool and the real FreeTDS driver: each table arrives with its rows, on
// as many connections as asked for; a server that refuses every login ends it with the
// program's message.
TEST(EngineDriver, ServerExportSendsEveryTableThroughThePool) {
  REQUIRE_FIXTURE(backup, "bak2008_northwind_thuyluv.bak");
  testsupport::TempDir dir;
  {
    REQUIRE_ENDPOINT(endpoint);
    const DriverRun run =
        Driver({"export", backup, "--server", endpoint.ConnectString(), "--rows", "--threads", "5"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("table [dbo].[Order Details] rows=2155\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("table [dbo].[Shippers] rows=3\n"), std::string::npos);
    EXPECT_NE(run.out.find("\nconnections: 5\n"), std::string::npos);
    const size_t reported = run.out.find("tables reported: ");
    ASSERT_NE(reported, std::string::npos);
    const int tables = std::atoi(run.out.c_str() + reported + 17);
    EXPECT_NE(run.out.find("tables reported: " + std::to_string(tables) + " of " + std::to_string(tables) + "\n"),
              std::string::npos);
    long rows = 0;
    int creates = 0, views = 0, procedures = 0;
    for (size_t at = 0; (at = run.out.find(" rows=", at)) != std::string::npos; ++at) rows += std::atol(run.out.c_str() + at + 6);
    for (const std::string& batch : endpoint.Batches()) {
      creates += batch.rfind("CREATE TABLE", 0) == 0;
      // The other kinds go through the worker on the main connection, as the database has them.
      const size_t start = batch.find_first_not_of(" \t\r\n");
      std::string head = start == std::string::npos ? "" : batch.substr(start, 12);
      for (char& c : head) c = char(std::tolower(static_cast<unsigned char>(c)));
      views += head.rfind("create view", 0) == 0;
      procedures += head.rfind("create proc", 0) == 0;
    }
    EXPECT_EQ(rows, 3308);
    EXPECT_EQ(creates, tables);
    EXPECT_EQ(views, 16);
    EXPECT_EQ(procedures, 7);
  }
  {
    REQUIRE_ENDPOINT(endpoint, testsupport::RefusingLogins());
    const DriverRun run = Driver({"export", backup, "--server", endpoint.ConnectString(), "--threads", "3"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "export failed: Could not connect to the server\n");
  }
}

TEST(EngineDriver, RowsPagesThroughA2000Table) {
  REQUIRE_FIXTURE(northwind, "sample2000_NORTHWND.MDF");
  testsupport::TempDir dir;
  struct Case {
    std::vector<std::string> paging;
    size_t rows;
    std::string first;  // the first row's start
    std::string tail;
  } cases[] = {
      {{}, 500, "10248$#$VINET$#$5$#$1996-07-04 00:00:00$#$", "rows: 500 last-window: 0\n"},
      {{"--window", "2"}, 330, "10748$#$", "rows: 330 last-window: 1\n"},
      {{"--window", "2", "--back", "1"}, 500, "10248$#$", "rows: 500 last-window: 0\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"rows", northwind, "Orders", "--format", "2000"};
    args.insert(args.end(), c.paging.begin(), c.paging.end());
    const DriverRun r = Driver(args, dir.path());
    SCOPED_TRACE(r.out.substr(0, 300));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(c.first, 0), 0u);
    size_t lines = 0;
    for (char ch : r.out) lines += ch == '\n';
    EXPECT_EQ(lines, c.rows + 1);
    ASSERT_GE(r.out.size(), c.tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - c.tail.size()), c.tail);
  }
}

namespace {

// "table [owner].[name] rows=N" lines of a server export, by "[owner].[name]".
std::map<std::string, long> ReportedRows(const std::string& printed) {
  std::map<std::string, long> rows;
  const std::string out = "\n" + printed;
  size_t at = 0;
  while ((at = out.find("\ntable ", at)) != std::string::npos) {
    const size_t end = out.find(" rows=", at);
    rows[out.substr(at + 7, end - at - 7)] = std::atol(out.c_str() + end + 6);
    at = end;
  }
  return rows;
}

// The rows a server stored by table, and whether any row was stored twice.
std::map<std::string, long> StoredRows(const testsupport::TdsEndpoint& endpoint, bool& twice) {
  std::map<std::string, long> rows;
  std::set<std::string> seen;
  twice = false;
  for (const std::string& s : endpoint.Stored()) {
    const size_t end = s.find(" (", 12);
    const size_t values = s.find(" DEFAULT VALUES", 12);
    rows[s.substr(12, std::min(end, values) - 12)]++;
    twice = twice || !seen.insert(s).second;
  }
  return rows;
}

// Every file an export wrote, by its path under the export folder, with that folder's name
// replaced (Blob paths name it).
std::map<std::string, std::string> ExportedFiles(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::string text = testsupport::ReadFile(e.path().string());
    for (size_t at = text.find(dir); at != std::string::npos; at = text.find(dir, at)) text.replace(at, dir.size(), "<dir>");
    files[std::filesystem::relative(e.path(), dir).generic_string()] = text;
  }
  return files;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

// A connection that drops is opened again and its table goes on where it stopped; a server
// that goes away mid-export leaves rows unstored, and the driver names them and ends with 2.
// Either way what was reported is what the server stored, and nothing twice.
TEST(EngineDriver, AServerThatDropsOrGoesAwayLosesNoRowInSilence) {
  REQUIRE_FIXTURE(backup2008, "bak2008_northwind_thuyluv.bak");
  REQUIRE_FIXTURE(file2000, "sample2000_NORTHWND.MDF");
  REQUIRE_FREETDS();
  testsupport::TempDir dir;
  struct Case {
    std::string file;
    int dropAt, exitAt;
  } cases[] = {{backup2008, 40, 0}, {file2000, 4, 0}, {backup2008, 0, 400}, {file2000, 0, 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + (c.dropAt ? " dropped" : " gone"));
    testsupport::TdsEndpointOptions options;
    options.dropAt = c.dropAt;
    options.exitAt = c.exitAt;
    testsupport::TdsEndpoint endpoint(options);
    ASSERT_TRUE(endpoint.Running()) << endpoint.Error();
    const DriverRun run =
        Driver({"export", c.file, "--server", endpoint.ConnectString(), "--rows", "--threads", "1"}, dir.path());
    bool twice = false;
    const std::map<std::string, long> stored = StoredRows(endpoint, twice);
    EXPECT_FALSE(twice);
    long reportedTotal = 0;
    for (const auto& [table, rows] : ReportedRows(run.out)) {
      EXPECT_EQ(rows, stored.count(table) ? stored.at(table) : 0) << table;
      reportedTotal += rows;
    }
    if (c.dropAt) {
      EXPECT_EQ(run.status, 0) << run.out;
      EXPECT_EQ(reportedTotal, 3308);
      EXPECT_EQ(run.out.find("warning:"), std::string::npos) << run.out;
    } else {
      EXPECT_EQ(run.status, 2) << run.out;
      long lost = 0;
      for (size_t at = 0; (at = run.out.find("warning: table ", at)) != std::string::npos; ++at)
        lost += std::atol(run.out.c_str() + run.out.find("] ", at) + 2);
      EXPECT_GT(lost, 0) << run.out;
      EXPECT_EQ(reportedTotal + lost, 3308) << run.out;
    }
  }
}

// --deleted on the real files: the one deleted row of stdb2sql's Enrollment comes back (its
// record starts two bytes past the end of the row before it), 512blk's deleted copy of
// Category 1 does not, and no other file gains a row.
TEST(EngineDriver, DeletedRowsOfTheRealFilesComeBackOnceAndSound) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  testsupport::TempDir dir;
  auto exported = [&](const std::string& file, const std::string& name, bool deleted) {
    std::vector<std::string> args = {"export", testsupport::FixturePath(file), dir.file(name), "--rows"};
    if (deleted) args.push_back("--deleted");
    const DriverRun run = Driver(args, dir.path());
    EXPECT_EQ(run.status, 0) << run.out.substr(0, 400);
    return ExportedFiles(dir.file(name));
  };
  {
    const auto plain = exported("bak2005_stdb2sql_2sets.bak", "st0", false);
    const auto deleted = exported("bak2005_stdb2sql_2sets.bak", "st1", true);
    ASSERT_EQ(plain.size(), deleted.size());
    for (const auto& [name, text] : deleted) {
      EXPECT_EQ(text.find("851968"), std::string::npos) << name;
      if (name != "Tables/Enrollment.sql") EXPECT_EQ(text, plain.at(name)) << name;
    }
    const std::string row =
        "Insert into [dbo].[Enrollment] ([CourseNum],[StudentID],[SectionNum],[CNum])  "
        "values(CONVERT(nvarchar(10),0x43005300340034003000),80586,1,13)\r\n";
    const std::string& enrollment = deleted.at("Tables/Enrollment.sql");
    ASSERT_NE(enrollment.find(row), std::string::npos) << enrollment;
    EXPECT_EQ(std::string(enrollment).erase(enrollment.find(row), row.size()), plain.at("Tables/Enrollment.sql"));
    // The preview shows what the export wrote.
    const DriverRun rows = Driver({"rows", testsupport::FixturePath("bak2005_stdb2sql_2sets.bak"), "Enrollment", "--deleted"},
                                  dir.path());
    EXPECT_NE(rows.out.find("\nCS440$#$80586$#$1$#$13$#$\n"), std::string::npos) << rows.out;
    EXPECT_NE(rows.out.find("\nrows: 13 last-window: 1\n"), std::string::npos) << rows.out;
  }
  {
    // The driver's log is beside it; only what this export adds to it is looked at.
    const std::string log =
        std::filesystem::path(PELLWYN_ENGINE_DRIVER).parent_path().string() + "/Log Files/ExecLog.log";
    const size_t before = testsupport::ReadFile(log).size();
    const auto deleted = exported("bak2008_northwind_512blk.bak", "nw", true);
    EXPECT_EQ(Count(deleted.at("Tables/Category.sql"), "values(1,"), 1u);
    const std::string added = testsupport::ReadFile(log).substr(before);
    EXPECT_NE(added.find("Deleted row of table [dbo].[Category] left out as a copy: its key [ID]=1 is that of a live "
                         "row; its values: 1, Beverages 122"),
              std::string::npos);
    EXPECT_NE(added.find("Exported 8 rows of table [dbo].[Category], 0 of them deleted rows recovered; 1 deleted rows "
                         "left out as copies"),
              std::string::npos);
  }
  // Every other file the program reads: its deleted rows are all copies of live rows, or it
  // holds none, so nothing changes.
  int compared = 0;
  for (const auto& e : std::filesystem::directory_iterator(testsupport::FixturesDir())) {
    const std::string file = e.path().filename().string();
    if (!e.is_regular_file() || file == "bak2005_stdb2sql_2sets.bak" || file == "MANIFEST.md") continue;
    SCOPED_TRACE(file);
    const DriverRun plain = Driver({"export", e.path().string(), dir.file(file + ".0"), "--rows"}, dir.path());
    if (plain.status != 0) continue;  // a file the program refuses
    const DriverRun deleted =
        Driver({"export", e.path().string(), dir.file(file + ".1"), "--rows", "--deleted"}, dir.path());
    ASSERT_EQ(deleted.status, 0) << deleted.out.substr(0, 400);
    const auto files = ExportedFiles(dir.file(file + ".0"));
    EXPECT_FALSE(files.empty());
    EXPECT_EQ(ExportedFiles(dir.file(file + ".1")), files);
    ++compared;
  }
  EXPECT_GE(compared, 10);
}
