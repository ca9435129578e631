// The export worker against an engine whose generators write one marker statement each: the
// script folder it leaves, its batch file byte for byte, the order of the engine calls, where a
// stop ends it, and what it refuses.
#include "ui/core/exportworker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/database.h"
#include "support/catalogengine.h"
#include "support/fakedatabase.h"
#include "support/fakeengine.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "ui/core/exportnames.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using uicore::ExportRequest;
using uicore::ExportResult;
using uicore::ExportWorker;

const char kStamp[] = "_3_8_2009_19_5_9";

// Each generator writes "-- <call>" and a separator into the handle it is meant to use, and
// notes the call ("(no file)" when that handle was not open).
class ScriptEngine : public testsupport::CatalogEngine {
 public:
  explicit ScriptEngine(int format) {
    m_nFormatVersion = format;
    m_strDatabaseName = "C:\\data\\R&D";
  }

  std::vector<std::string> calls;
  std::vector<CDatabase*> connections;
  std::string stopAt;  // the record-stop flag goes up during this call
  std::string gateAt;  // this call waits at the gate
  coretest::Gate gate;

  void GenerateUserDataTypeQueries() override { Call("udt", m_hUserTypesSqlFile); }
  void GenerateTableQueries(CTable* table, CDatabase* db) override {
    connections.push_back(db);
    const std::string name = table->m_strName.str();
    Write(m_hConstraintSqlFile, "-- keys of " + name);
    Write(m_hDefaultSqlFile, "-- default of " + name);
    table->m_nRowsExported = int(table->m_dwObjectId);
    // With deleted rows: one of the rows was deleted, and two copies were left out.
    if (m_bRecoverDeleted) {
      table->m_nDeletedRecovered = 1;
      table->m_nDeletedCopies = 2;
    }
    Call("table " + name, m_hTableSqlFile);
  }
  void GenerateForeignKeyConstraint() override { Call("fk", m_hTableSqlFile); }
  void GenerateViewQueries(CViewStoredProc* o) override { Call("view " + o->m_strName.str(), m_hViewsSqlFile); }
  void GenerateStoredProcQueries(CViewStoredProc* o) override { Call("proc " + o->m_strName.str(), m_hProcSqlFile); }
  void GenerateFunctionQueries(CViewStoredProc* o) override {
    Call("function " + o->m_strName.str(), m_hFunctionsSqlFile);
  }
  void GenerateRulesQueries(CViewStoredProc* o) override { Call("rule " + o->m_strName.str(), m_hRulesSqlFile); }
  void GenerateTriggerQueries(CViewStoredProc* o) override {
    Call("trigger " + o->m_strName.str(), m_hTriggersSqlFile);
  }

  bool AllScriptFilesClosed() const {
    for (FILE_HANDLE h : {m_hViewsSqlFile, m_hProcSqlFile, m_hTableSqlFile, m_hDefaultSqlFile, m_hRulesSqlFile,
                          m_hTriggersSqlFile, m_hUserTypesSqlFile, m_hConstraintSqlFile, m_hFunctionsSqlFile})
      if (h != kInvalidFile) return false;
    return true;
  }

 private:
  static void Write(FILE_HANDLE h, const std::string& text) {
    if (h == kInvalidFile) return;
    const std::string statement = text + "\r\ngo\r\n";
    WriteFileAll(h, statement.data(), statement.size());
  }
  void Call(const std::string& what, FILE_HANDLE h) {
    calls.push_back(h == kInvalidFile ? what + " (no file)" : what);
    Write(h, "-- " + what);
    if (what == gateAt) gate.Pass([this] { return m_pStatus->m_bStopRecords.load() != 0; });
    if (what == stopAt) m_pStatus->m_bStopRecords = 1;
  }
};

// Every sink call as one line, in order.
class RecordingSink : public uicore::IExportSink {
 public:
  void AppendStatus(const std::string& line) override { Add("status " + line); }
  void SetDialogPercent(int p) override { Add("dialog " + std::to_string(p)); }
  void SetMainPercent(int p) override { Add("main " + std::to_string(p)); }
  void SetCounterText(const std::string& text) override { Add("counter " + text); }
  void AddObjectRow(const std::string& name, const std::string& count, bool first) override {
    Add("row " + name + "," + count + (first ? " first" : ""));
  }
  void AppendReport(const std::string& line) override { Add("report " + line); }
  void ShowMessage(const std::string& text) override { Add("message " + text); }
  void Finished(bool toServer, const std::string& message) override {
    Add(std::string("finished ") + (toServer ? "server" : "scripts"));
    std::lock_guard<std::mutex> lock(m_mutex);
    completion = message;
  }
  void EndedEarly() override { Add("ended early"); }

  // The calls that begin with `prefix`, the prefix cut off.
  std::vector<std::string> Calls(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> out;
    for (const std::string& e : events)
      if (e.rfind(prefix, 0) == 0) out.push_back(e.substr(prefix.size()));
    return out;
  }
  std::vector<std::string> Events() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return events;
  }
  std::string completion;

 private:
  void Add(const std::string& e) {
    std::lock_guard<std::mutex> lock(m_mutex);
    events.push_back(e);
  }
  mutable std::mutex m_mutex;
  std::vector<std::string> events;
};

// A parent folder for the script folder, the program's folder with its ReadMe.txt, and the
// state folder with the settings and the output list.
struct Folders {
  Folders() {
    fs::create_directories(parent());
    fs::create_directories(program());
    fs::create_directories(state());
    WriteFile(program() + "/ReadMe.txt", "how to run the scripts\r\n");
  }
  std::string parent() const { return dir.file("out"); }
  std::string program() const { return dir.file("program"); }
  std::string state() const { return dir.file("state"); }
  std::string scriptFolder() const { return parent() + "/Tarnwell_Pellwyn_R&D" + kStamp; }
  TempDir dir;
  testsupport::ModuleFolderScope logs;
};

ExportRequest ScriptRequest(const Folders& f) {
  ExportRequest r;
  r.toServer = false;
  r.folder = f.parent();
  return r;
}

// Runs one export to its end.
void RunExport(ExportWorker& worker, ScriptEngine& engine, ExportRequest request, RecordingSink& sink,
               CDatabase* main = nullptr) {
  ASSERT_TRUE(worker.Start(engine, std::move(request), sink, main));
  worker.Join();
}

std::vector<std::string> FileTree(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    files.push_back(fs::relative(e.path(), folder).generic_string() + (e.is_directory() ? "/" : ""));
  std::sort(files.begin(), files.end());
  return files;
}

const char kBatchHeader[] =
    "@echo off\r\n"
    "set op1=false\r\n"
    "set op2=false\r\n"
    "if not \"%0\"==\"\" (if not \"%1\"==\"\" (if not \"%2\"==\"\" set op1=true))\r\n"
    "if not \"%3\"==\"\" (if not \"%4\"==\"\" set op2=true)\r\n"
    "if \"%op1%\"==\"true\" (if \"%op2%\"==\"true\" goto label2)\r\n"
    "if \"%op1%\"==\"true\" (if \"%op2%\"==\"false\" goto label1)\r\n"
    "goto label3\r\n"
    ":label1\r\n";

const char kBatchTail[] =
    "goto end\r\n"
    ":label3\r\n"
    "echo.\r\n"
    "echo Syntax:\r\n"
    "echo\t^<batch file path^> ^[^<user name^> ^<password^>^] ^<server name^> ^<database name^>\r\n"
    "echo.\r\n"
    "echo  Options:\r\n"
    "echo.\r\n"
    "echo    batch file path    : path of batch file which will run the exported SQL scrip                        ts\r\n"
    "echo.\r\n"
    "echo    user name password : user name and password for SQL Server^(for SQL Server Aut                        "
    "hentication^)\r\n"
    "echo.\r\n"
    "echo    server name        : instance of SQL Server to which to connect\r\n"
    "echo.\r\n"
    "echo    database name      : name of database to which data will be exported\r\n"
    "echo.\r\n"
    ":end";

// The Windows-authentication lines of a batch file: between ":label1" and "goto end".
std::string WindowsSection(const std::string& bat) {
  const size_t from = bat.find(":label1\r\n"), to = bat.find("goto end\r\n");
  if (from == std::string::npos || to == std::string::npos || to < from) return "<no section>";
  return bat.substr(from + 9, to - from - 9);
}

}  // namespace

TEST(ExportWorker, ScriptExportOfA2008EngineWritesTheFolderAndTheSqlcmdBatchFile) {
  Folders f;
  ScriptEngine engine(2008);
  ExportRequest request = ScriptRequest(f);
  // Two names that differ only in a character a file name cannot hold, in two schemas.
  request.tables = {engine.AddTable(5, "dbo", "a*b"), engine.AddTable(9, "sales", "a?b")};
  request.views = {engine.AddObject(engine.m_mapViews, 20, "V1", "")};
  request.procedures = {engine.AddObject(engine.m_mapStoredProcs, 21, "P1", "")};
  request.rules = {engine.AddObject(engine.m_mapRules, 22, "R1", "")};
  RecordingSink sink;
  ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
  RunExport(worker, engine, request, sink);

  const std::string folder = f.scriptFolder();
  EXPECT_EQ(worker.OutputFolder(), folder);
  EXPECT_EQ(FileTree(folder),
            (std::vector<std::string>{"Default.sql", "ForeignKeys.sql", "R_D.bat", "R_D.sh", "ReadMe.txt", "Rules.sql",
                                      "Stored_Procedure.sql", "Tables/", "Tables/ab.sql", "Tables/ab_9.sql",
                                      "Tables/ab_9_Constraint.sql", "Tables/ab_Constraint.sql",
                                      "UserDefinedDatatypes.sql", "Views.sql"}));
  const std::string expected = std::string(kBatchHeader) +
                               "sqlcmd -E -S %1 -d %2 -i UserDefinedDatatypes.sql\r\n"
                               "sqlcmd -E -S %1 -d %2 -i Default.sql\r\n"
                               "sqlcmd -E -S %1 -d %2 -i \"Tables\\ab.sql\"\r\n"
                               "sqlcmd -E -S %1 -d %2 -i \"Tables\\ab_Constraint.sql\"\r\n"
                               "sqlcmd -E -S %1 -d %2 -i \"Tables\\ab_9.sql\"\r\n"
                               "sqlcmd -E -S %1 -d %2 -i \"Tables\\ab_9_Constraint.sql\"\r\n"
                               "sqlcmd -E -S %1 -d %2 -i ForeignKeys.sql\r\n"
                               "sqlcmd -E -S %1 -d %2 -i Views.sql\r\n"
                               "sqlcmd -E -S %1 -d %2 -i Stored_Procedure.sql \r\n"
                               "sqlcmd -E -S %1 -d %2 -i Rules.sql \r\n"
                               "goto end\r\n"
                               ":label2\r\n"
                               "sqlcmd -U %1 -P %2 -S %3 -d %4 -i UserDefinedDatatypes.sql\r\n"
                               "sqlcmd -U %1 -P %2 -S %3 -d %4 -i Default.sql\r\n"
                               "sqlcmd -U %1 -P %2 -S %3 -d %4 -i \"Tables\\ab.sql\"\r\n"
                               "sqlcmd -U %1 -P %2 -S %3 -d %4 -i \"Tables\\ab_Constraint.sql\"\r\n"
                               "sqlcmd -U %1 -P %2 -S %3 -d %4 -i \"Tables\\ab_9.sql\"\r\n"
                               "sqlcmd -U %1 -P %2 -S %3 -d %4 -i \"Tables\\ab_9_Constraint.sql\"\r\n"
                               "sqlcmd -U %1 -P %2 -S %3 -d %4 -i ForeignKeys.sql\r\n"
                               "sqlcmd -U %1 -P %2 -S %3 -d %4 -i Views.sql\r\n"
                               "sqlcmd -U %1 -P %2 -S %3 -d %4 -i Stored_Procedure.sql \r\n"
                               "sqlcmd -U %1 -P %2 -S %3 -d %4 -i Rules.sql \r\n" +
                               kBatchTail;
  EXPECT_EQ(ReadFile(folder + "/R_D.bat"), expected);

  // Each script holds what its generator wrote; the defaults of every table are kept.
  EXPECT_EQ(ReadFile(folder + "/Default.sql"), "-- default of a*b\r\ngo\r\n-- default of a?b\r\ngo\r\n");
  EXPECT_EQ(ReadFile(folder + "/Tables/ab_9.sql"), "-- table a?b\r\ngo\r\n");
  EXPECT_EQ(ReadFile(folder + "/Tables/ab_Constraint.sql"), "-- keys of a*b\r\ngo\r\n");
  EXPECT_EQ(ReadFile(folder + "/Rules.sql"), "-- rule R1\r\ngo\r\n");
  EXPECT_EQ(ReadFile(folder + "/ReadMe.txt"), "how to run the scripts\r\n");
  EXPECT_EQ(ReadFile(f.state() + "/OutputFldr.txt"), folder + "\n");

  // Foreign keys after every table, and nothing ran without its file.
  EXPECT_EQ(engine.calls,
            (std::vector<std::string>{"udt", "table a*b", "table a?b", "fk", "view V1", "proc P1", "rule R1"}));
  EXPECT_EQ(engine.connections, (std::vector<CDatabase*>{nullptr, nullptr}));
  EXPECT_TRUE(engine.AllScriptFilesClosed());
  EXPECT_EQ(engine.m_bExportMode.load(), 0);

  EXPECT_EQ(sink.Calls("status "), (std::vector<std::string>{"Exporting table : dbo.a*b", "Exporting table : sales.a?b",
                                                             "Exporting View : V1", "Exporting Stored Procedure : P1",
                                                             "Exporting Rule : R1", "Export Complete."}));
  EXPECT_EQ(sink.Calls("dialog "), (std::vector<std::string>{"15", "30", "60", "60", "90", "100"}));
  EXPECT_EQ(sink.Calls("main "), (std::vector<std::string>{"30", "90"}));
  EXPECT_EQ(sink.Calls("counter ").front(), "(1 / 2)");
  EXPECT_EQ(sink.Calls("counter ").back(), "");
  EXPECT_TRUE(sink.Calls("row ").empty());
  EXPECT_EQ(sink.Events().back(), "finished scripts");
  EXPECT_EQ(sink.completion.rfind("Your scripts have been saved at the location : " + folder + "\r\n", 0), 0u);
  EXPECT_NE(sink.completion.find("R_D.bat <server name> <database name>"), std::string::npos);
  EXPECT_NE(sink.completion.find("It runs UserDefinedDatatypes.sql, Default.sql, the script of each of the 2 tables "
                                 "in Tables, each followed by its _Constraint.sql, ForeignKeys.sql, Views.sql, "
                                 "Stored_Procedure.sql and Rules.sql, in this order."),
            std::string::npos)
      << sink.completion;
  EXPECT_EQ(worker.Result().end, ExportResult::End::kFinished);
  ASSERT_EQ(worker.Result().tables.size(), 2u);
  EXPECT_EQ(worker.Result().tables[1].script, "Tables/ab_9.sql");
  EXPECT_EQ(worker.Result().tables[1].rows, 9);

  const std::string log = f.logs.ReadExecLog();
  size_t at = 0;
  for (const char* line : {"Generating user datatypes", "Generating tables", "Exporting a*b", "Exporting a?b",
                           "Generating Views", "Generating Stored Procedures", "Generating Rules", "Export Complete"}) {
    at = log.find(std::string("MSG:") + line, at);
    EXPECT_NE(at, std::string::npos) << line << "\n" << log;
  }
}

namespace {

// The scripts a batch file runs, from its Windows-authentication lines, as paths relative to
// its folder.
std::vector<std::string> BatchScripts(const std::string& bat) {
  std::vector<std::string> scripts;
  const std::string section = WindowsSection(bat);
  for (size_t at = 0; (at = section.find(" -i ", at)) != std::string::npos;) {
    at += 4;
    std::string path = section.substr(at, section.find("\r\n", at) - at);
    while (!path.empty() && path.back() == ' ') path.pop_back();
    if (path.size() >= 2 && path.front() == '"') path = path.substr(1, path.size() - 2);
    std::replace(path.begin(), path.end(), '\\', '/');
    scripts.push_back(path);
  }
  return scripts;
}

// Runs a shell script with a sqlcmd on PATH that records each call: its arguments joined by
// "|" and the password it was given in SQLCMDPASSWORD, one line a call. The stub fails for the
// script `failing`. The script is started from / so it must find its folder itself.
struct ShellRun {
  int status = -1;
  std::vector<std::string> calls;
  std::string errors;
};
ShellRun RunShell(const std::string& script, const std::string& arguments, const std::string& failing = "") {
  TempDir bin;
  WriteFile(bin.path() + "/sqlcmd",
            "#!/bin/sh\n"
            "printf '%s|' \"$@\" >> \"$STUB_LOG\"\n"
            "printf '%s\\n' \"${SQLCMDPASSWORD-}\" >> \"$STUB_LOG\"\n"
            "for a in \"$@\"; do [ -n \"$STUB_FAIL\" ] && [ \"$a\" = \"$STUB_FAIL\" ] && exit 1; done\n"
            "exit 0\n");
  chmod((bin.path() + "/sqlcmd").c_str(), 0755);
  const std::string log = bin.path() + "/calls", err = bin.path() + "/errors";
  const std::string command = "cd / && PATH='" + bin.path() + "':\"$PATH\" STUB_LOG='" + log + "' STUB_FAIL='" +
                              failing + "' '" + script + "' " + arguments + " 2>'" + err + "'";
  ShellRun run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const std::string calls = ReadFile(log);
  for (size_t at = 0; at < calls.size();) {
    const size_t end = calls.find('\n', at);
    run.calls.push_back(calls.substr(at, end - at));
    at = end == std::string::npos ? calls.size() : end + 1;
  }
  run.errors = ReadFile(err);
  return run;
}

}  // namespace

// Beside the batch file, a shell script runs the same scripts in the same order with sqlcmd,
// for either engine (the 2000 batch file runs osql, Linux has sqlcmd): the same two or four
// arguments, "sqlcmd -b", and the first script that fails ends the run and is named.
TEST(ExportWorker, ShellScriptRunsWhatTheBatchFileRuns) {
  for (int version : {2008, 2000}) {
    SCOPED_TRACE(version);
    Folders f;
    ScriptEngine engine(version);
    ExportRequest request = ScriptRequest(f);
    request.tables = {engine.AddTable(5, "dbo", "a*b"), engine.AddTable(9, "sales", "O'Hara")};
    request.views = {engine.AddObject(engine.m_mapViews, 20, "V1", "")};
    request.triggers = {engine.AddObject(engine.m_mapTriggers, 30, "G1", "")};
    RecordingSink sink;
    ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
    RunExport(worker, engine, request, sink);

    const std::string folder = f.scriptFolder();
    const std::string script = folder + "/R_D.sh";
    const std::string text = ReadFile(script);
    EXPECT_EQ(text.rfind("#!/bin/sh\n", 0), 0u);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat(script.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);

    const std::vector<std::string> scripts = BatchScripts(ReadFile(folder + "/R_D.bat"));
    // Both formats run ForeignKeys.sql after the tables.
    ASSERT_EQ(scripts.size(), 9u);
    EXPECT_EQ(scripts[2], "Tables/ab.sql");
    EXPECT_EQ(scripts[4], "Tables/O'Hara.sql");
    std::vector<std::string> windows, sql;
    for (const std::string& s : scripts) {
      windows.push_back("-b|-E|-S|srv|-d|db|-i|" + s + "|");
      sql.push_back("-b|-U|sa|-S|srv|-d|db|-i|" + s + "|secret word");
    }
    ShellRun run = RunShell(script, "srv db");
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.calls, windows);
    run = RunShell(script, "sa 'secret word' srv db");
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.calls, sql);

    EXPECT_NE(sink.completion.find("On Linux, sh R_D.sh takes the same arguments"), std::string::npos);

    // The first failing script ends the run, by name; no later script runs.
    run = RunShell(script, "srv db", scripts[3]);
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.calls, std::vector<std::string>(windows.begin(), windows.begin() + 4));
    EXPECT_NE(run.errors.find(scripts[3] + " failed"), std::string::npos) << run.errors;

    // Any other count of arguments prints the syntax and runs nothing.
    run = RunShell(script, "srv");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.calls.empty());
    EXPECT_NE(run.errors.find("Syntax:"), std::string::npos);
  }
}

TEST(ExportWorker, A2000FormatEngineGetsOsqlLinesAndItsForeignKeysInTheirOwnScript) {
  Folders f;
  ScriptEngine engine(2000);
  ExportRequest request = ScriptRequest(f);
  request.rows = false;
  request.tables = {engine.AddTable(5, "dbo", "Orders")};
  request.triggers = {engine.AddObject(engine.m_mapTriggers, 30, "G1", "")};
  RecordingSink sink;
  ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
  RunExport(worker, engine, request, sink);

  const std::string folder = f.scriptFolder();
  EXPECT_EQ(ReadFile(folder + "/R_D.bat"),
            std::string(kBatchHeader) +
                "osql -E -S %1 -d %2 -i UserDefinedDatatypes.sql\r\n"
                "osql -E -S %1 -d %2 -i Default.sql\r\n"
                "osql -E -S %1 -d %2 -i \"Tables\\Orders.sql\"\r\n"
                "osql -E -S %1 -d %2 -i \"Tables\\Orders_Constraint.sql\"\r\n"
                "osql -E -S %1 -d %2 -i ForeignKeys.sql\r\n"
                "osql -E -S %1 -d %2 -i Triggers.sql \r\n"
                "goto end\r\n"
                ":label2\r\n"
                "osql -U %1 -P %2 -S %3 -d %4 -i UserDefinedDatatypes.sql\r\n"
                "osql -U %1 -P %2 -S %3 -d %4 -i Default.sql\r\n"
                "osql -U %1 -P %2 -S %3 -d %4 -i \"Tables\\Orders.sql\"\r\n"
                "osql -U %1 -P %2 -S %3 -d %4 -i \"Tables\\Orders_Constraint.sql\"\r\n"
                "osql -U %1 -P %2 -S %3 -d %4 -i ForeignKeys.sql\r\n"
                "osql -U %1 -P %2 -S %3 -d %4 -i Triggers.sql \r\n" +
                kBatchTail);
  // The foreign keys come once, after the tables, into a file of their own (the table's
  // script was closed before).
  EXPECT_EQ(engine.calls, (std::vector<std::string>{"udt", "table Orders", "fk", "trigger G1"}));
  EXPECT_EQ(ReadFile(folder + "/ForeignKeys.sql"), "-- fk\r\ngo\r\n");
  EXPECT_EQ(ReadFile(folder + "/Tables/Orders.sql"), "-- table Orders\r\ngo\r\n");
  EXPECT_EQ(engine.m_bExportRows.load(), 0);
  EXPECT_NE(sink.completion.find("_Constraint.sql, ForeignKeys.sql and Triggers.sql, in this order."),
            std::string::npos)
      << sink.completion;
}

TEST(ExportWorker, WithoutTablesThereIsNoTablesFolderAndTheTableStageShows30AtOnce) {
  Folders f;
  ScriptEngine engine(2008);
  ExportRequest request = ScriptRequest(f);
  request.views = {engine.AddObject(engine.m_mapViews, 20, "V1", "")};
  RecordingSink sink;
  ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
  RunExport(worker, engine, request, sink);

  const std::string folder = f.scriptFolder();
  EXPECT_FALSE(fs::exists(folder + "/Tables"));
  EXPECT_FALSE(fs::exists(folder + "/Default.sql"));
  EXPECT_EQ(sink.Calls("dialog ").front(), "30");
  EXPECT_EQ(WindowsSection(ReadFile(folder + "/R_D.bat")),
            "sqlcmd -E -S %1 -d %2 -i UserDefinedDatatypes.sql\r\n"
            "sqlcmd -E -S %1 -d %2 -i Views.sql\r\n");
  // A second export lists its folder after the first one's.
  ExportRequest again = ScriptRequest(f);
  ExportWorker later(f.program(), [] { return std::string("_3_8_2009_19_5_10"); }, f.state());
  RecordingSink sink2;
  RunExport(later, engine, again, sink2);
  EXPECT_EQ(ReadFile(f.state() + "/OutputFldr.txt"),
            folder + "\n" + f.parent() + "/Tarnwell_Pellwyn_R&D_3_8_2009_19_5_10\n");
}

// Two exports never share a folder: the time-stamped name met again (the same second, or a
// folder left from before) takes a suffix, and a given folder another export is writing into
// is refused.
TEST(ExportWorker, EachExportWritesIntoAFolderOfItsOwn) {
  Folders f;
  ScriptEngine engine(2008);
  std::vector<std::string> folders;
  for (int round = 0; round < 3; ++round) {
    ExportRequest request = ScriptRequest(f);
    request.tables = {engine.AddTable(5 + round, "dbo", "T" + std::to_string(round))};
    RecordingSink sink;
    ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
    RunExport(worker, engine, request, sink);
    EXPECT_EQ(worker.Result().end, ExportResult::End::kFinished);
    folders.push_back(worker.OutputFolder());
  }
  EXPECT_EQ(folders, (std::vector<std::string>{f.scriptFolder(), f.scriptFolder() + "_2", f.scriptFolder() + "_3"}));
  EXPECT_TRUE(fs::is_regular_file(f.scriptFolder() + "_2/Tables/T1.sql"));
  EXPECT_FALSE(fs::exists(f.scriptFolder() + "/Tables/T1.sql"));

  // A given folder: marked while the export writes, the mark gone at its end; one that bears
  // another export's mark is refused before anything is written.
  const std::string given = f.dir.file("given");
  {
    ExportRequest request = ScriptRequest(f);
    request.outputFolder = given;
    RecordingSink sink;
    ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
    RunExport(worker, engine, request, sink);
    EXPECT_EQ(worker.Result().end, ExportResult::End::kFinished);
    EXPECT_FALSE(fs::exists(given + "/.export-in-progress"));
  }
  WriteFile(given + "/.export-in-progress", "");
  ExportRequest request = ScriptRequest(f);
  request.outputFolder = given;
  RecordingSink sink;
  ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
  engine.calls.clear();
  RunExport(worker, engine, request, sink);
  EXPECT_EQ(sink.Calls("message "),
            std::vector<std::string>{"Directory could not be created: " + given + " (" +
                                     std::make_error_code(std::errc::device_or_resource_busy).message() + ")"});
  EXPECT_TRUE(engine.calls.empty());
  EXPECT_TRUE(fs::exists(given + "/.export-in-progress"));
}

// A database and tables named in CJK characters give folder, batch and script names of those
// letters; the batch file, beyond ASCII now, first switches the console to UTF-8.
TEST(ExportWorker, NamesBeyondAsciiGiveFilesOfTheirLetters) {
  Folders f;
  ScriptEngine engine(2008);
  engine.m_strDatabaseName = "D:\\\xE6\x95\xB0\xE6\x8D\xAE\\\xE9\x94\x80\xE5\x94\xAE";  // D:\数据\销售
  ExportRequest request = ScriptRequest(f);
  request.rows = false;
  request.tables = {engine.AddTable(5, "dbo", "\xE5\xAE\xA2\xE6\x88\xB7")};  // 客户
  RecordingSink sink;
  ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
  RunExport(worker, engine, request, sink);

  const std::string folder = f.parent() + "/Tarnwell_Pellwyn_\xE9\x94\x80\xE5\x94\xAE" + kStamp;
  ASSERT_EQ(worker.OutputFolder(), folder);
  EXPECT_TRUE(fs::is_regular_file(folder + "/Tables/\xE5\xAE\xA2\xE6\x88\xB7.sql"));
  const std::string batch = ReadFile(folder + "/\xE9\x94\x80\xE5\x94\xAE.bat");
  EXPECT_EQ(batch.rfind("@echo off\r\nchcp 65001 >nul\r\n", 0), 0u) << batch.substr(0, 40);
  EXPECT_NE(batch.find("-i \"Tables\\\xE5\xAE\xA2\xE6\x88\xB7.sql\""), std::string::npos);
}

// No table's script replaces another's: the folder is meant for Windows, whose file names
// ignore case, and a name made unique must not meet a table of that name. Lost names still
// give files one can see.
TEST(ExportWorker, TablesWhoseNamesGiveOneFileNameKeepAScriptEach) {
  Folders f;
  ScriptEngine engine(2008);
  ExportRequest request = ScriptRequest(f);
  request.rows = false;
  request.tables = {engine.AddTable(5, "dbo", "a*b"),        engine.AddTable(9, "x", "a?b"),
                    engine.AddTable(11, "dbo", "AB"),         engine.AddTable(12, "dbo", "ab_9"),
                    engine.AddTable(13, "y", "a<b"),          engine.AddTable(14, "dbo", ""),
                    engine.AddTable(15, "dbo", "\xC3\x84pfel"), engine.AddTable(16, "dbo", "\xC3\xA4pfel")};
  engine.m_strDatabaseName = "";  // its boot page unreadable
  RecordingSink sink;
  ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
  RunExport(worker, engine, request, sink);

  std::vector<std::string> scripts;
  for (const ExportResult::Table& t : worker.Result().tables) {
    scripts.push_back(t.script);
    EXPECT_EQ(ReadFile(f.parent() + "/Tarnwell_Pellwyn_" + kStamp + "/" + t.script),
              "-- table " + t.table->m_strName.str() + "\r\ngo\r\n");
  }
  // Windows leaves out nothing but what it forbids, and tells no letters apart by case, Ä and ä
  // among them.
  EXPECT_EQ(scripts, (std::vector<std::string>{"Tables/ab.sql", "Tables/ab_9.sql", "Tables/AB_11.sql",
                                               "Tables/ab_9_12.sql", "Tables/ab_13.sql", "Tables/Table_14.sql",
                                               "Tables/\xC3\x84pfel.sql", "Tables/\xC3\xA4pfel_16.sql"}));
  EXPECT_TRUE(fs::is_regular_file(f.parent() + "/Tarnwell_Pellwyn_" + kStamp + "/Database.bat"));
}

// A stop is seen at the stage check after the call that raised it; the export then ends
// early: its status line, no batch file, every script file closed, the export flag cleared.
TEST(ExportWorker, AStopEndsTheExportAtTheNextStageCheck) {
  struct Case {
    const char* stopAt;
    bool objects;  // views, procedures, ... selected besides the tables
    const char* lastCall;
    const char* statusLine;
  } cases[] = {
      {"udt", true, "table T1", "Export terminated"},        {"table T1", true, "table T1", "Export terminated"},
      {"table T2", true, "table T2", "Export terminated"},   {"view V1", true, "view V1", "Export terminated"},
      {"proc P1", true, "proc P1", "Export Terminated"},     {"function F1", true, "function F1", "Export Terminated"},
      {"rule R1", true, "rule R1", "Export Terminated"},     {"trigger G1", true, "trigger G1", "Export Terminated"},
      {"fk", false, "fk", "Export Terminated"},  // no stage check after it: the one at the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stopAt);
    Folders f;
    ScriptEngine engine(2000);
    engine.stopAt = c.stopAt;
    ExportRequest request = ScriptRequest(f);
    request.tables = {engine.AddTable(5, "dbo", "T1"), engine.AddTable(6, "dbo", "T2")};
    if (c.objects) {
      request.views = {engine.AddObject(engine.m_mapViews, 20, "V1", "")};
      request.procedures = {engine.AddObject(engine.m_mapStoredProcs, 21, "P1", "")};
      request.functions = {engine.AddObject(engine.m_mapFunctions, 22, "F1", "")};
      request.rules = {engine.AddObject(engine.m_mapRules, 23, "R1", "")};
      request.triggers = {engine.AddObject(engine.m_mapTriggers, 24, "G1", "")};
    }
    RecordingSink sink;
    ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
    RunExport(worker, engine, request, sink);

    ASSERT_FALSE(engine.calls.empty());
    EXPECT_EQ(engine.calls.back(), c.lastCall);
    EXPECT_EQ(sink.Calls("status ").back(), c.statusLine);
    EXPECT_EQ(sink.Events().back(), "ended early");
    EXPECT_TRUE(sink.Calls("finished").empty());
    EXPECT_EQ(worker.Result().end, ExportResult::End::kEndedEarly);
    EXPECT_FALSE(fs::exists(f.scriptFolder() + "/R_D.bat"));
    EXPECT_FALSE(fs::exists(f.state() + "/OutputFldr.txt"));
    EXPECT_TRUE(engine.AllScriptFilesClosed());
    EXPECT_EQ(engine.m_bExportMode.load(), 0);
    EXPECT_FALSE(worker.Busy());
  }
}

TEST(ExportWorker, AFolderThatCannotBeMadeEndsTheExportWithTheMessage) {
  struct Case {
    const char* what;
    // Prepares the folders and the request that meets them.
    std::function<ExportRequest(const Folders&)> prepare;
    std::vector<std::string> calls;
    // The folder the message names ("" when none was chosen).
    std::function<std::string(const Folders&)> named;
  } cases[] = {
      {"the parent is a file",
       [](const Folders& f) {
         WriteFile(f.dir.file("plain"), "x");
         ExportRequest r = ScriptRequest(f);
         r.folder = f.dir.file("plain");
         return r;
       },
       {},
       [](const Folders& f) { return f.dir.file("plain") + "/Tarnwell_Pellwyn_R&D" + kStamp; }},
      {"the parent is missing (one level is made, as the user chose the parent)",
       [](const Folders& f) {
         ExportRequest r = ScriptRequest(f);
         r.folder = f.dir.file("missing/deeper");
         return r;
       },
       {},
       [](const Folders& f) { return f.dir.file("missing/deeper") + "/Tarnwell_Pellwyn_R&D" + kStamp; }},
      {"no parent was chosen",
       [](const Folders& f) {
         ExportRequest r = ScriptRequest(f);
         r.folder.clear();
         return r;
       },
       {},
       [](const Folders&) { return std::string(); }},
      {"the parent is read-only",
       [](const Folders& f) {
         ::chmod(f.parent().c_str(), 0555);
         return ScriptRequest(f);
       },
       {},
       [](const Folders& f) { return f.scriptFolder(); }},
      {"Tables is taken by a file: after the user data types",
       [](const Folders& f) {
         ExportRequest r = ScriptRequest(f);
         r.outputFolder = f.dir.file("given");
         fs::create_directories(r.outputFolder);
         WriteFile(r.outputFolder + "/Tables", "x");
         return r;
       },
       {"udt"},
       [](const Folders& f) { return f.dir.file("given") + "/Tables"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Folders f;
    ScriptEngine engine(2008);
    ExportRequest request = c.prepare(f);
    // Root writes into a read-only folder: nothing to show there.
    if (access(f.parent().c_str(), W_OK) == 0 && std::string(c.what) == "the parent is read-only") {
      ::chmod(f.parent().c_str(), 0755);
      continue;
    }
    request.tables = {engine.AddTable(5, "dbo", "T1")};
    RecordingSink sink;
    ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
    RunExport(worker, engine, request, sink);
    ::chmod(f.parent().c_str(), 0755);

    // The message names the folder and says why it could not be made.
    const std::vector<std::string> messages = sink.Calls("message ");
    ASSERT_EQ(messages.size(), 1u);
    const std::string named = c.named(f);
    if (named.empty()) {
      EXPECT_EQ(messages[0], "Directory could not be created: no folder was chosen");
    } else {
      EXPECT_EQ(messages[0].rfind("Directory could not be created: " + named + " (", 0), 0u) << messages[0];
      EXPECT_EQ(messages[0].back(), ')');
    }
    EXPECT_TRUE(sink.Calls("status ").empty());
    EXPECT_EQ(sink.Events().back(), "ended early");
    EXPECT_EQ(engine.calls, c.calls);
    EXPECT_TRUE(engine.AllScriptFilesClosed());
  }
}

TEST(ExportWorker, ASecondExportIsRefusedUntilTheFirstIsJoined) {
  Folders f;
  ScriptEngine engine(2008);
  engine.gateAt = "table T1";
  ExportRequest request = ScriptRequest(f);
  request.tables = {engine.AddTable(5, "dbo", "T1")};
  RecordingSink sink;
  ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
  ASSERT_TRUE(worker.Start(engine, request, sink));
  ASSERT_TRUE(engine.gate.WaitReached());

  RecordingSink second;
  EXPECT_FALSE(worker.Start(engine, request, second));
  EXPECT_TRUE(worker.Busy());
  EXPECT_TRUE(second.Events().empty());

  engine.gate.Open();
  worker.Join();
  EXPECT_FALSE(worker.Busy());
  EXPECT_EQ(sink.Events().back(), "finished scripts");

  // Once joined, the next export runs.
  engine.gateAt.clear();
  EXPECT_TRUE(worker.Start(engine, request, second));
  worker.Join();
  EXPECT_EQ(second.Events().back(), "finished scripts");
}

// A window may join as soon as it hears of the end, even on the call that tells it.
TEST(ExportWorker, JoiningFromTheEndCallDoesNotWaitForItself) {
  struct JoiningSink : RecordingSink {
    ExportWorker* worker = nullptr;
    void Finished(bool toServer, const std::string& message) override {
      worker->Join();
      RecordingSink::Finished(toServer, message);
    }
  };
  Folders f;
  ScriptEngine engine(2008);
  JoiningSink sink;
  ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
  sink.worker = &worker;
  ASSERT_TRUE(worker.Start(engine, ScriptRequest(f), sink));
  // The end call must come before the test's own Join takes the thread.
  for (int waited = 0; sink.Calls("finished ").empty() && waited < 20000; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  worker.Join();
  EXPECT_EQ(sink.Calls("finished "), std::vector<std::string>{"scripts"});
  EXPECT_TRUE(sink.Calls("ended").empty());
  EXPECT_FALSE(worker.Busy());
}

TEST(ExportWorker, DestroyingTheWorkerStopsAndJoinsTheExport) {
  Folders f;
  ScriptEngine engine(2008);
  engine.gateAt = "table T1";  // held until the stop flag goes up
  ExportRequest request = ScriptRequest(f);
  request.tables = {engine.AddTable(5, "dbo", "T1"), engine.AddTable(6, "dbo", "T2")};
  RecordingSink sink;
  {
    ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
    ASSERT_TRUE(worker.Start(engine, request, sink));
    ASSERT_TRUE(engine.gate.WaitReached());
  }
  EXPECT_EQ(engine.calls, (std::vector<std::string>{"udt", "table T1"}));
  EXPECT_EQ(sink.Calls("status ").back(), "Export terminated");
  EXPECT_EQ(sink.Events().back(), "ended early");
}

// With "Recover deleted rows" the report and the completion message say how many deleted rows
// each table gave and how many copies were left out; without it neither changes.
TEST(ExportWorker, DeletedRowsAreCountedInTheReportAndTheCompletionMessage) {
  for (bool deleted : {false, true}) {
    SCOPED_TRACE(deleted ? "deleted rows" : "no deleted rows");
    Folders f;
    WriteFile(f.state() + "/sql.settings", "Avoid_Duplicate=1\r\n");
    ScriptEngine engine(2000);
    ExportRequest request;
    request.toServer = true;
    request.recoverDeleted = deleted;
    request.tables = {engine.AddTable(5, "dbo", "T1"), engine.AddTable(9, "dbo", "a,b")};
    CDatabase main;
    RecordingSink sink;
    ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
    RunExport(worker, engine, request, sink, &main);
    const std::vector<std::string> withDeleted = {
        "Table,Rows,Deleted rows recovered,Deleted rows left out as copies\r\n", "T1,5,1,2\r\n", "\"a,b\",9,1,2\r\n"};
    const std::vector<std::string> without = {"T1,5\r\n", "\"a,b\",9\r\n"};
    EXPECT_EQ(sink.Calls("report "), deleted ? withDeleted : without);

    ScriptEngine scripted(2008);
    ExportRequest scripts = ScriptRequest(f);
    scripts.recoverDeleted = deleted;
    scripts.tables = {scripted.AddTable(5, "dbo", "T1"), scripted.AddTable(9, "dbo", "T2")};
    RecordingSink scriptSink;
    RunExport(worker, scripted, scripts, scriptSink);
    const size_t said = scriptSink.completion.find(
        "Deleted rows: 2 recovered into the scripts, 4 left out as copies of other rows (the execution log names them).");
    EXPECT_EQ(said != std::string::npos, deleted) << scriptSink.completion;
  }
}

// A server export on the worker's own thread: the tables on the main connection, one object
// row and one report line per table with the rows that reached the server, each function once
// (none uses another), no file anywhere.
TEST(ExportWorker, ServerExportWithAvoidDuplicateRunsTheTablesOnTheWorkerFor2000Only) {
  Folders f;
  // Written on Windows: the carriage returns must not change the values.
  WriteFile(f.state() + "/sql.settings", "Thread_Size=3\r\nAvoid_Duplicate=1\r\n");
  ScriptEngine engine(2000);
  ExportRequest request;
  request.toServer = true;
  request.tables = {engine.AddTable(5, "dbo", "T1"), engine.AddTable(9, "dbo", "a,b")};
  request.functions = {engine.AddObject(engine.m_mapFunctions, 22, "F1", ""),
                       engine.AddObject(engine.m_mapFunctions, 23, "F2", "")};
  request.rules = {engine.AddObject(engine.m_mapRules, 24, "R1", "")};
  CDatabase main;
  RecordingSink sink;
  ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
  RunExport(worker, engine, request, sink, &main);

  EXPECT_EQ(engine.calls, (std::vector<std::string>{"udt (no file)", "table T1 (no file)", "table a,b (no file)",
                                                    "fk (no file)", "function F1 (no file)", "function F2 (no file)",
                                                    "rule R1 (no file)"}));
  EXPECT_EQ(engine.connections, (std::vector<CDatabase*>{&main, &main}));
  EXPECT_EQ(engine.m_bExportToServer.load(), 1);
  EXPECT_EQ(engine.m_pDatabase, nullptr);  // the closed connection is not left to the engine
  EXPECT_EQ(sink.Calls("row "), (std::vector<std::string>{"T1,5", "a,b,9", "R1, first"}));
  EXPECT_EQ(sink.Calls("report "), (std::vector<std::string>{"T1,5\r\n", "\"a,b\",9\r\n"}));
  EXPECT_EQ(sink.Events().back(), "finished server");
  EXPECT_EQ(sink.completion, "");
  EXPECT_TRUE(FileTree(f.parent()).empty());
  EXPECT_FALSE(fs::exists(f.state() + "/OutputFldr.txt"));
  EXPECT_EQ(worker.ThreadSize(), 3);

  // Without a connection nothing is sent.
  ScriptEngine unconnected(2000);
  ExportRequest noConnection;
  noConnection.toServer = true;
  noConnection.tables = {unconnected.AddTable(5, "dbo", "T1")};
  RecordingSink sink1;
  RunExport(worker, unconnected, noConnection, sink1, nullptr);
  EXPECT_TRUE(unconnected.calls.empty());
  EXPECT_EQ(sink1.Events(), (std::vector<std::string>{"message Could not connect to the server", "main 0", "counter ",
                                                      "ended early"}));

  // The 2005-2008 engines cannot avoid duplicates on a server: nothing is exported.
  ScriptEngine engine2008(2008);
  ExportRequest refused;
  refused.toServer = true;
  refused.tables = {engine2008.AddTable(5, "dbo", "T1")};
  RecordingSink sink2;
  RunExport(worker, engine2008, refused, sink2, &main);
  EXPECT_TRUE(engine2008.calls.empty());
  EXPECT_EQ(sink2.Calls("status "), std::vector<std::string>{"Export terminated"});
  EXPECT_EQ(sink2.Events().back(), "ended early");
}

// A large table's export is followed while it runs: the bar moves by the pages read and the
// dialog says how many rows have gone so far.
TEST(ExportWorker, ProgressMovesInsideATable) {
  struct Sink : RecordingSink {
    void ShowTableProgress(const std::string& text) override {
      std::lock_guard<std::mutex> lock(mutex);
      texts.push_back(text);
    }
    std::vector<std::string> Texts() {
      std::lock_guard<std::mutex> lock(mutex);
      return texts;
    }
    // A report of rows so far has come.
    bool Seen() {
      for (const std::string& t : Texts())
        if (!t.empty()) return true;
      return false;
    }
    std::mutex mutex;
    std::vector<std::string> texts;
  };
  // Halfway through its pages the table's walk waits until the follower has reported it.
  struct Engine : ScriptEngine {
    Engine() : ScriptEngine(2008) {}
    Sink* sink = nullptr;
    void GenerateTableQueries(CTable* table, CDatabase* db) override {
      if (table->m_strName.str() == "big") {
        m_pStatus->m_nExportPagesRead += 5;
        m_pStatus->m_nRecordsProcessed += 1200;
        for (int i = 0; i < 2000 && !sink->Seen(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        m_pStatus->m_nExportPagesRead += 5;
        m_pStatus->m_nRecordsProcessed += 1000;
      }
      ScriptEngine::GenerateTableQueries(table, db);
    }
  };
  Folders f;
  Engine engine;
  Sink sink;
  engine.sink = &sink;
  ExportRequest request = ScriptRequest(f);
  CTable* small = engine.AddTable(5, "dbo", "small");
  CTable* big = engine.AddTable(9, "dbo", "big", 10);
  request.tables = {small, big};
  ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
  RunExport(worker, engine, request, sink);

  // Nothing moved while the small table ran; the big one was reported halfway, and the text
  // is cleared after each table.
  // (A loaded machine may let one more report through before the walk ends.)
  const std::vector<std::string> texts = sink.Texts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[0], "");
  EXPECT_EQ(texts[1], "dbo.big: 1200 rows (page 5 of 10)");
  EXPECT_EQ(texts.back(), "");
  // The second of two tables spans 15 % to 30 %: half its pages read puts the bar at 22 %.
  const std::vector<std::string> percents = sink.Calls("dialog ");
  ASSERT_GE(percents.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(percents.begin(), percents.begin() + 2), (std::vector<std::string>{"15", "22"}));
  EXPECT_NE(std::find(percents.begin(), percents.end(), "30"), percents.end());

  // Through the connection pool: the rows and pages of every table so far, and the bar only
  // as the pool moves it, table by table.
  Engine pooled;
  Sink poolSink;
  pooled.sink = &poolSink;
  ExportRequest server;
  server.toServer = true;
  server.threadSize = 1;
  server.connections = [](std::string*) -> std::unique_ptr<CDatabase> {
    return std::make_unique<testsupport::FakeDatabase>();
  };
  server.tables = {pooled.AddTable(5, "dbo", "small"), pooled.AddTable(9, "dbo", "big", 10)};
  testsupport::FakeDatabase main;
  RunExport(worker, pooled, server, poolSink, &main);
  const std::vector<std::string> poolTexts = poolSink.Texts();
  ASSERT_GE(poolTexts.size(), 2u);
  EXPECT_EQ(poolTexts[0], "Tables: 1200 rows (page 5 of 11)");
  EXPECT_EQ(poolTexts.back(), "");
  for (const std::string& p : poolSink.Calls("dialog ")) EXPECT_TRUE(p == "15" || p == "30" || std::stoi(p) > 30) << p;
}

namespace {

// The views and functions of the cases below, in object-id order ("v..." views, "f..."
// functions), each with a text that uses the others it names.
struct ObjectCase {
  const char* what;
  std::vector<std::pair<const char*, const char*>> objects;
};

void AddObjects(ScriptEngine& engine, ExportRequest& request, const ObjectCase& c) {
  unsigned id = 40;
  for (const auto& [name, text] : c.objects) {
    if (name[0] == 'v') request.views.push_back(engine.AddObject(engine.m_mapViews, id++, name, text));
    else request.functions.insert(request.functions.begin(), engine.AddObject(engine.m_mapFunctions, id++, name, text));
  }
}

}  // namespace

// Scripts: the calls run in the one order of views and functions; the batch file (and the
// shell script, made from the same list) runs Functions.sql first when only views use
// functions, and when the uses go both ways Views.sql holds every one of them in that order.
TEST(ExportWorker, ViewsAndFunctionsReachTheirScriptsInTheOrderTheyUseEachOther) {
  const struct {
    ObjectCase objects;
    std::vector<std::string> calls;
    std::vector<std::string> scripts;  // the batch file's object scripts, in its order
    std::string views, functions;      // the two files ("<none>" when not written)
    const char* logged;                // a line the log holds ("" for none to check)
  } cases[] = {
      {{"no uses across the kinds",
        {{"v1", "create view v1 as select 1 x"}, {"f1", "create function f1() returns int as begin return 1 end"}}},
       {"view v1", "function f1"},
       {"Views.sql", "Functions.sql", "Stored_Procedure.sql"},
       "-- view v1\r\ngo\r\n",
       "-- function f1\r\ngo\r\n",
       ""},
      {{"a view uses a function",
        {{"v1", "create view v1 as select dbo.f1() x"}, {"f1", "create function f1() returns int as begin return 1 end"}}},
       {"function f1", "view v1"},
       {"Functions.sql", "Views.sql", "Stored_Procedure.sql"},
       "-- view v1\r\ngo\r\n",
       "-- function f1\r\ngo\r\n",
       "Functions.sql runs before Views.sql: view [v1] uses function [f1]"},
      {{"a function uses a view",
        {{"f1", "create function f1() returns table as return select * from v1"}, {"v1", "create view v1 as select 1 x"}}},
       {"view v1", "function f1"},
       {"Views.sql", "Functions.sql", "Stored_Procedure.sql"},
       "-- view v1\r\ngo\r\n",
       "-- function f1\r\ngo\r\n",
       ""},
      {{"both ways: one file",
        {{"f1", "create function f1() returns table as return select * from vBase"},
         {"vTop", "create view vTop as select * from f1()"},
         {"vBase", "create view vBase as select 1 x"}}},
       {"view vBase", "function f1", "view vTop"},
       {"Views.sql", "Stored_Procedure.sql"},
       "-- view vBase\r\ngo\r\n-- function f1\r\ngo\r\n-- view vTop\r\ngo\r\n",
       "<none>",
       "Views and functions use each other (view [vTop] uses function [f1], function [f1] uses view [vBase]): "
       "Views.sql holds the functions too"},
      {{"a cycle: the first in id order is named as one the server may refuse",
        {{"vLoop", "create view vLoop as select dbo.fLoop() x"},
         {"fLoop", "create function fLoop() returns int as begin return (select count(*) from vLoop) end"}}},
       {"view vLoop", "function fLoop"},
       {"Views.sql", "Stored_Procedure.sql"},
       "-- view vLoop\r\ngo\r\n-- function fLoop\r\ngo\r\n",
       "<none>",
       "The view [vLoop] uses function [fLoop], written after it (their texts use each other): the server may refuse "
       "it on the first run; running Views.sql once more creates it"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.objects.what);
    Folders f;
    ScriptEngine engine(2008);
    ExportRequest request = ScriptRequest(f);
    AddObjects(engine, request, c.objects);
    request.procedures = {engine.AddObject(engine.m_mapStoredProcs, 90, "P1", "create proc P1 as select * from v1")};
    RecordingSink sink;
    ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
    RunExport(worker, engine, request, sink);

    std::vector<std::string> calls = c.calls;
    calls.insert(calls.begin(), "udt");
    calls.push_back("proc P1");
    EXPECT_EQ(engine.calls, calls);
    EXPECT_TRUE(engine.AllScriptFilesClosed());
    const std::string folder = f.scriptFolder();
    std::vector<std::string> scripts = c.scripts;
    scripts.insert(scripts.begin(), "UserDefinedDatatypes.sql");
    EXPECT_EQ(BatchScripts(ReadFile(folder + "/R_D.bat")), scripts);
    // The shell script names them in the same order.
    const std::string shell = ReadFile(folder + "/R_D.sh");
    size_t at = 0;
    for (const std::string& s : scripts) {
      at = shell.find("'" + s + "'", at);
      EXPECT_NE(at, std::string::npos) << s << "\n" << shell;
    }
    EXPECT_EQ(ReadFile(folder + "/Views.sql"), c.views);
    EXPECT_EQ(fs::exists(folder + "/Functions.sql") ? ReadFile(folder + "/Functions.sql") : "<none>", c.functions);
    const bool oneFile = c.functions == "<none>";
    EXPECT_EQ(sink.completion.find("Views.sql (with the functions)") != std::string::npos, oneFile) << sink.completion;
    if (*c.logged) EXPECT_NE(f.logs.ReadExecLog().find(c.logged), std::string::npos) << f.logs.ReadExecLog();
  }
}

// Server: views and functions interleaved in the one order, with one counter and one stretch
// of the bar; only an object a cycle put before what it uses is sent a second time, after
// the others.
TEST(ExportWorker, AServerGetsViewsAndFunctionsInOneOrderAndACycleTwice) {
  Folders f;
  WriteFile(f.state() + "/sql.settings", "Avoid_Duplicate=1\r\n");
  ScriptEngine engine(2000);
  ExportRequest request;
  request.toServer = true;
  AddObjects(engine, request,
             {"",
              {{"vLoop", "create view vLoop as select dbo.fLoop() x"},
               {"fTop", "create function fTop() returns table as return select * from vBase"},
               {"vBase", "create view vBase as select 1 x"},
               {"fLoop", "create function fLoop() returns int as begin return (select count(*) from vLoop) end"}}});
  CDatabase main;
  RecordingSink sink;
  ExportWorker worker(f.program(), [] { return std::string(kStamp); }, f.state());
  RunExport(worker, engine, request, sink, &main);

  EXPECT_EQ(engine.calls,
            (std::vector<std::string>{"udt (no file)", "view vBase (no file)", "function fTop (no file)",
                                      "view vLoop (no file)", "function fLoop (no file)", "view vLoop (no file)"}));
  EXPECT_EQ(sink.Calls("status "),
            (std::vector<std::string>{"Exporting View : vBase", "Exporting Functions : fTop", "Exporting View : vLoop",
                                      "Exporting Functions : fLoop", "Export Complete."}));
  EXPECT_EQ(sink.Calls("counter "),
            (std::vector<std::string>{"(1 / 4)", "(2 / 4)", "(3 / 4)", "(4 / 4)", "", ""}));
  EXPECT_EQ(sink.Calls("dialog "), (std::vector<std::string>{"30", "37", "45", "52", "60", "60", "100"}));
  EXPECT_EQ(sink.Events().back(), "finished server");
  EXPECT_NE(f.logs.ReadExecLog().find("The view [vLoop] uses function [fLoop], created after it (their texts use each "
                                      "other): it is created again now"),
            std::string::npos);
  EXPECT_TRUE(FileTree(f.parent()).empty());
}

// A real 2005 Northwind through the 2008 engine: its 16 views and its one function
// (fn_diagramobjects, which uses no view) keep their files in the old order. Once its first
// view calls the function, the batch file runs Functions.sql first and a server gets the
// function before that view; "Product Sales for 1997" still goes before "Category Sales for
// 1997", which selects from it.
TEST(ExportWorker, ARealNorthwindsViewThatCallsItsFunctionComesAfterIt) {
  REQUIRE_FIXTURE(path, "bak2005_northwnd_mina.bak");
  testsupport::ModuleFolderScope module;
  CSQLServer2008 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  auto all = [](const CStringKeyMap<CViewStoredProc*>& map) {
    std::vector<CViewStoredProc*> objects;
    for (const auto& entry : map) objects.push_back(entry.second);
    return objects;
  };
  CViewStoredProc* first = nullptr;
  for (CViewStoredProc* v : all(engine.m_mapViews))
    if (v->m_strName == "Customer and Suppliers by City") first = v;
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(engine.m_mapViews.GetCount(), 16);
  ASSERT_EQ(engine.m_mapFunctions.GetCount(), 1);
  const std::string original = first->m_strText.str();

  for (const bool calls : {false, true}) {
    SCOPED_TRACE(calls ? "the first view calls the function" : "as stored");
    first->m_strText = calls ? "create view \"Customer and Suppliers by City\" AS\r\nSELECT dbo.fn_diagramobjects() AS n"
                             : original;
    TempDir dir;
    ExportRequest scripts;
    scripts.outputFolder = dir.file("out");
    scripts.views = all(engine.m_mapViews);
    scripts.functions = all(engine.m_mapFunctions);
    RecordingSink sink;
    ExportWorker worker(dir.file("program"), {}, dir.file("state"));
    ASSERT_TRUE(worker.Start(engine, scripts, sink));
    worker.Join();
    const std::vector<std::string> batch = BatchScripts(ReadFile(dir.file("out") + "/NORTHWND.bat"));
    EXPECT_EQ(batch, calls ? (std::vector<std::string>{"UserDefinedDatatypes.sql", "Functions.sql", "Views.sql"})
                           : (std::vector<std::string>{"UserDefinedDatatypes.sql", "Views.sql", "Functions.sql"}));
    const std::string views = ReadFile(dir.file("out") + "/Views.sql");
    EXPECT_LT(views.find("create view \"Product Sales for 1997\""), views.find("create view \"Category Sales for 1997\""));
    EXPECT_NE(ReadFile(dir.file("out") + "/Functions.sql").find("CREATE FUNCTION dbo.fn_diagramobjects"),
              std::string::npos);

    ExportRequest server;
    server.toServer = true;
    server.views = scripts.views;
    server.functions = scripts.functions;
    server.threadSize = 1;
    server.connections = [](std::string*) -> std::unique_ptr<CDatabase> {
      return std::make_unique<testsupport::FakeDatabase>();
    };
    testsupport::FakeDatabase main;
    RecordingSink serverSink;
    ASSERT_TRUE(worker.Start(engine, server, serverSink, &main));
    worker.Join();
    const std::vector<std::string> sent = main.Statements();
    auto at = [&](const std::string& text) {
      for (size_t i = 0; i < sent.size(); ++i)
        if (sent[i].find(text) != std::string::npos) return i;
      return sent.size();
    };
    const size_t function = at("CREATE FUNCTION dbo.fn_diagramobjects"), view = at("Customer and Suppliers by City");
    ASSERT_LT(function, sent.size());
    ASSERT_LT(view, sent.size());
    EXPECT_EQ(function < view, calls);
    EXPECT_LT(at("create view \"Product Sales for 1997\""), at("create view \"Category Sales for 1997\""));
    EXPECT_EQ(serverSink.Events().back(), "finished server");
  }
  first->m_strText = original;
}
