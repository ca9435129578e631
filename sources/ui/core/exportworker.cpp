#include "ui/core/exportworker.h"

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "common/enginestatus.h"
#include "common/executionlog.h"
#include "common/enginesupport.h"
#include "common/records.h"
#include "common/sqlserver.h"
#include "common/unicodetext.h"
#include "platform/database.h"
#include "platform/files.h"
#include "ui/core/catalogloss.h"
#include "ui/core/creationorder.h"
#include "ui/core/displaytext.h"
#include "ui/core/exportbatch.h"
#include "ui/core/exportnames.h"
#include "ui/core/programfolder.h"
#include "ui/core/serverconnection.h"
#include "ui/core/sqlsettings.h"

namespace uicore {

namespace {

namespace fs = std::filesystem;

void Log(const std::string& text) { CExecutionLog::WriteLog(0, 0, text.c_str(), false); }

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::string Counter(int done, int total) {
  char text[48];
  std::snprintf(text, sizeof text, "(%d / %d)", done, total);
  return text;
}

// The message of a folder the export could not make: which folder, and why when known.
std::string FolderNotMade(const std::string& folder, const std::error_code& why) {
  std::string text = "Directory could not be created";
  if (folder.empty()) return text + ": no folder was chosen";
  text += ": " + PathForDisplay(folder);
  if (why) text += " (" + why.message() + ")";
  return text;
}

// While tables' rows are walked: every so often the rows exported so far and the share of
// the pages read. For one table of the serial stage the bar moves too, inside the table's
// share; the connection pool reports its bar per finished table, and its tables are followed
// by their text alone (a second source for the bar would make it go back). Its own thread,
// ended (and joined) before the worker reports what was done.
class TableProgress {
 public:
  // One table of the serial stage: `done` tables of `total` are behind it.
  TableProgress(CSQLServer& engine, const CTable& table, IExportSink& sink, int done, int total)
      : TableProgress(engine, table.m_strOwner.str() + "." + table.m_strName.str(), PagesOf(engine, table), sink,
                      done, total) {}
  // The tables the pool exports at once, under one name.
  TableProgress(CSQLServer& engine, const std::vector<CTable*>& tables, IExportSink& sink)
      : TableProgress(engine, "Tables", PagesOf(engine, tables), sink, -1, int(tables.size())) {}
  ~TableProgress() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_end = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
  }
  TableProgress(const TableProgress&) = delete;
  TableProgress& operator=(const TableProgress&) = delete;

  static constexpr std::chrono::milliseconds kEvery{250};

 private:
  TableProgress(CSQLServer& engine, std::string name, size_t pages, IExportSink& sink, int done, int total)
      : m_status(engine.m_pStatus), m_sink(sink), m_name(std::move(name)), m_pages(pages), m_done(done), m_total(total) {
    if (!m_status || total <= 0) return;
    m_pagesAtStart = m_status->m_nExportPagesRead.load();
    m_rowsAtStart = m_status->m_nRecordsProcessed.load();
    m_thread = std::thread([this] { Follow(); });
  }
  static size_t PagesOf(const CSQLServer& engine, const CTable& table) {
    return table.m_vecDataPages.size() + (engine.m_bRecoverDeleted ? table.m_vecFreedPages.size() : 0);
  }
  static size_t PagesOf(const CSQLServer& engine, const std::vector<CTable*>& tables) {
    size_t pages = 0;
    for (const CTable* t : tables) pages += PagesOf(engine, *t);
    return pages;
  }

  void Follow() {
    // Only what moved is reported: the worker reported the table's start itself.
    const bool movesBar = m_done >= 0;
    int lastPercent = movesBar ? m_done * 30 / m_total : 0;
    long long lastRows = 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_wake.wait_for(lock, kEvery, [&] { return m_end; })) {
      const long long pages = m_status->m_nExportPagesRead.load() - m_pagesAtStart;
      const long long rows = m_status->m_nRecordsProcessed.load() - m_rowsAtStart;
      // The table's share of the stage's 30 %, short of its end, which the worker reports.
      const double read = m_pages ? std::min(0.99, double(pages) / double(m_pages)) : 0.0;
      const int percent = movesBar ? int((m_done + read) * 30.0 / m_total) : 0;
      if (movesBar && percent != lastPercent) m_sink.SetDialogPercent(percent);
      if (rows != lastRows) {
        m_sink.ShowTableProgress(TableProgressText(m_name, rows, std::min<long long>(pages, m_pages), m_pages));
      }
      lastPercent = percent;
      lastRows = rows;
    }
  }

  CEngineStatus* const m_status;
  IExportSink& m_sink;
  const std::string m_name;
  const size_t m_pages;
  const int m_done;
  const int m_total;
  long long m_pagesAtStart = 0;
  long long m_rowsAtStart = 0;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_end = false;
  std::thread m_thread;
};

// Where an early end happens decides what it resets, as the window expects it.
enum class Stage { kStart, kTables, kViews, kLater };

// One kind of the objects created after the tables: where its script goes and what the
// export says while it creates them.
struct ObjectKind {
  const char* what;     // "View", "Function" ... for the log
  const char* logLine;
  const char* file;
  const char* batchArgument;  // the kind's "-i" argument: some end with a blank
  FILE_HANDLE CSQLServer::*handle;
  void (CSQLServer::*generate)(CViewStoredProc*);
  const char* statusPrefix;
  const char* stopLine;
  Stage stage;
};

const ObjectKind kViews{"View", "Generating Views", "Views.sql", "Views.sql", &CSQLServer::m_hViewsSqlFile,
                        &CSQLServer::GenerateViewQueries, "Exporting View : ", "Export terminated", Stage::kViews};
const ObjectKind kFunctions{"Function", "Generating Functions", "Functions.sql", "Functions.sql ",
                            &CSQLServer::m_hFunctionsSqlFile, &CSQLServer::GenerateFunctionQueries,
                            "Exporting Functions : ", "Export Terminated", Stage::kLater};
const ObjectKind kProcedures{"Stored Procedure", "Generating Stored Procedures", "Stored_Procedure.sql",
                             "Stored_Procedure.sql ", &CSQLServer::m_hProcSqlFile,
                             &CSQLServer::GenerateStoredProcQueries, "Exporting Stored Procedure : ",
                             "Export Terminated", Stage::kLater};
const ObjectKind kRules{"Rule", "Generating Rules", "Rules.sql", "Rules.sql ", &CSQLServer::m_hRulesSqlFile,
                        &CSQLServer::GenerateRulesQueries, "Exporting Rule : ", "Export Terminated", Stage::kLater};
const ObjectKind kTriggers{"Trigger", "Generating Triggers", "Triggers.sql", "Triggers.sql ",
                           &CSQLServer::m_hTriggersSqlFile, &CSQLServer::GenerateTriggerQueries,
                           "Exporting Trigger: ", "Export Terminated", Stage::kLater};

std::string Named(const ObjectKind& kind, const CViewStoredProc& object) {
  std::string what = kind.what;
  for (char& c : what) c = char(std::tolower(static_cast<unsigned char>(c)));
  return what + " [" + object.m_strName.str() + "]";
}

// One export: the worker thread runs exactly one of these from start to end.
class ExportRun {
 public:
  ExportRun(CSQLServer& engine, ExportRequest& request, IExportSink& sink, CDatabase* mainConnection,
            const std::string& programFolder, const std::string& stateFolder, const ExportWorker::Clock& clock,
            int& threadSize, ExportResult& result, std::mutex& resultMutex)
      : m_engine(engine),
        m_request(request),
        m_sink(sink),
        m_pMain(mainConnection),
        m_programFolder(programFolder),
        m_stateFolder(stateFolder),
        m_clock(clock),
        m_threadSize(threadSize),
        m_result(result),
        m_resultMutex(resultMutex),
        m_bServer(request.toServer),
        m_b2000(engine.m_nFormatVersion == 2000),
        m_batch(m_b2000 ? BatchClient::kOsql : BatchClient::kSqlcmd) {}

  void Run();

 private:
  bool Stopped() const { return m_engine.m_pStatus && m_engine.m_pStatus->m_bStopRecords.load() != 0; }
  std::string Path(const std::string& relative) const { return (fs::path(m_folder) / relative).string(); }
  FILE_HANDLE Create(const std::string& relative) const { return CreateFileForWrite(Path(relative).c_str()); }

  // False when the folder could not be made; m_folder names it (empty: none was chosen).
  bool MakeOutputFolder(std::error_code& ec);
  // The mark a given script folder carries while an export writes into it, so a second
  // export into the same folder is refused rather than interleaved.
  bool ClaimGivenFolder();
  void ReleaseGivenFolder();
  // Server target: the completion text when some rows were not stored ("" when all were).
  std::string NotStoredMessage() const;
  int TableStage();
  // The table stage of a server export without Avoid_Duplicate: the tables go through the
  // connection pool (m_threadSize connections, the main one kept for the rest), each with
  // its object row and report line. Returns the percentage the stage ended at, or -1 after
  // EndEarly.
  int ServerTableStage();
  // Tables one after another on this thread; the stage's end percentage, or -1 when it ended early.
  int SerialTableStage();
  std::string UniqueTableFileName(const CTable& table);
  void ForeignKeyStage();
  bool ObjectStages(int tablesEnd);
  bool ViewAndFunctionStage(int tablesEnd);
  void AddObjectScript(const ObjectKind& kind);
  void Finish();
  void EndEarly(const char* statusLine, Stage stage);
  void CloseScriptFiles();
  void CloseMainConnection();
  void ClearSelection();

  CSQLServer& m_engine;
  ExportRequest& m_request;
  IExportSink& m_sink;
  CDatabase* m_pMain;
  const std::string& m_programFolder;
  const std::string& m_stateFolder;
  const ExportWorker::Clock& m_clock;
  int& m_threadSize;
  ExportResult& m_result;
  std::mutex& m_resultMutex;

  const bool m_bServer;
  const bool m_b2000;
  std::string m_avoidDuplicate;
  std::string m_folder;
  std::string m_claim;  // the mark of a given folder this export holds ("" when none)
  BatchFile m_batch;
  ScriptFolderContents m_contents;
  std::set<std::string> m_usedTableFiles;
};

void ExportRun::Run() {
  const SqlSettings settings = SqlSettings::Read(m_stateFolder + kSettingsFileName);
  m_threadSize = settings.ThreadSize(m_threadSize);
  m_avoidDuplicate = settings.AvoidDuplicate();

  // Avoiding duplicate statements on a server is the 2000 engine's own work; the other
  // engines would export duplicates in silence.
  if (m_bServer && m_avoidDuplicate == "1" && !m_b2000) return EndEarly("Export terminated", Stage::kStart);

  // The engines would send every statement through a null connection.
  if (m_bServer && !m_pMain) {
    m_sink.ShowMessage("Could not connect to the server");
    return EndEarly(nullptr, Stage::kStart);
  }
  // Read through the descriptor the scan read, whatever has taken the file's name since.
  PinEngineSource(m_engine);
  m_engine.m_bExportToServer = m_bServer ? 1 : 0;
  if (m_bServer) m_engine.m_pDatabase = m_pMain;

  if (!m_bServer) {
    std::error_code why;
    if (!MakeOutputFolder(why)) {
      m_sink.ShowMessage(FolderNotMade(m_folder, why));
      return EndEarly(nullptr, Stage::kStart);
    }
    m_engine.m_hUserTypesSqlFile = Create("UserDefinedDatatypes.sql");
    m_batch.Add("UserDefinedDatatypes.sql");
  }
  Log("Generating user datatypes");
  m_engine.GenerateUserDataTypeQueries();
  // Engines differ in whether they close it themselves; a second close does nothing.
  CloseFileHandle(m_engine.m_hUserTypesSqlFile);

  m_engine.m_bExportRows = m_request.rows ? 1 : 0;
  const int tablesEnd = TableStage();
  if (tablesEnd < 0) return;
  ForeignKeyStage();
  if (!ObjectStages(tablesEnd)) return;
  Finish();
}

bool ExportRun::MakeOutputFolder(std::error_code& ec) {
  if (!m_request.outputFolder.empty()) {
    m_folder = m_request.outputFolder;
    fs::create_directories(m_folder, ec);
    if (std::error_code probe; !fs::is_directory(m_folder, probe)) return false;
    if (!ClaimGivenFolder()) {
      ec = std::make_error_code(std::errc::device_or_resource_busy);
      return false;
    }
  } else {
    // Without a parent the folder would land wherever the working directory happens to be.
    if (m_request.folder.empty()) return false;
    const std::string stamp = m_clock ? m_clock() : ExportTimeStampNow();
    const std::string base = (fs::path(m_request.folder) /
                              ("Tarnwell_Pellwyn_" + DatabaseFolderPart(m_engine.m_strDatabaseName.str()) + stamp))
                                 .string();
    // One level, as the user chose the parent: a parent that is not there is an error. The
    // folder is this export's only when this export made it: a name already there (an export
    // started within the same second, or one still running) takes a suffix.
    constexpr int kMostSuffixes = 1000;
    bool made = false;
    for (int n = 1; n <= kMostSuffixes && !made; ++n) {
      m_folder = n == 1 ? base : base + "_" + std::to_string(n);
      bool taken = false;
      made = CreateNewDirectory(m_folder.c_str(), &taken);
      if (!made && !taken) {
        ec = std::error_code(errno, std::generic_category());
        return false;
      }
    }
    if (!made) {
      ec = std::make_error_code(std::errc::file_exists);
      return false;
    }
  }
  m_engine.m_strOutputFolder = m_folder.c_str();
  std::lock_guard<std::mutex> lock(m_resultMutex);
  m_result.folder = m_folder;
  return true;
}

std::string ExportRun::NotStoredMessage() const {
  std::lock_guard<std::mutex> lock(m_resultMutex);
  long rows = 0;
  std::string tables;
  for (const ExportResult::Table& t : m_result.tables) {
    if (t.notStored <= 0 || !t.table) continue;
    rows += t.notStored;
    tables += (tables.empty() ? "" : ", ") + t.table->m_strName.str() + " (" + std::to_string(t.notStored) + ")";
  }
  if (rows == 0) return std::string();
  const std::string text = "The export is incomplete: " + std::to_string(rows) +
                           " rows were not stored by the server (refused, or lost with the connection): " + tables +
                           ". The log and the report say which.";
  Log(text);
  return text;
}

bool ExportRun::ClaimGivenFolder() {
  const std::string mark = Path(".export-in-progress");
  FILE_HANDLE h = CreateNewFile(mark.c_str());
  if (h == kInvalidFile) {
    Log("The folder " + m_folder + " is in use by another export (it holds .export-in-progress)");
    return false;
  }
  CloseFileHandle(h);
  m_claim = mark;
  return true;
}

void ExportRun::ReleaseGivenFolder() {
  if (m_claim.empty()) return;
  RemoveFilePath(m_claim.c_str());
  m_claim.clear();
}

int ExportRun::TableStage() {
  Log("Generating tables");
  // A table whose catalog a cut-off source lost in part is exported as read, never as whole
  // without a word.
  for (CTable* t : m_request.tables)
    if (t && !t->m_strCatalogLoss.IsEmpty())
      Log("Table " + t->m_strOwner.str() + "." + t->m_strName.str() + " is exported incomplete: " +
          t->m_strCatalogLoss.str());
  if (m_request.tables.empty()) m_sink.SetDialogPercent(30);
  if (m_bServer && m_request.recoverDeleted && m_request.rows) m_sink.AppendReport(kDeletedRowsReportHeader);
  if (m_bServer && m_avoidDuplicate != "1") return ServerTableStage();
  return SerialTableStage();
}

int ExportRun::ServerTableStage() {
  std::vector<CTable*> tables;
  for (CTable* t : m_request.tables)
    if (t) tables.push_back(t);
  ConnectionFactory factory = m_request.connections;
  if (!factory) {
    const ServerLogin login{m_request.server, m_request.user, m_request.password, m_request.database};
    factory = [login](std::string* error) { return NewServerConnection(login, error); };
  }
  const int threadSize = m_request.threadSize ? *m_request.threadSize : m_threadSize;
  PoolOutcome outcome;
  {
    const TableProgress progress(m_engine, tables, m_sink);
    outcome = ExportPool::Run(m_engine, tables, threadSize, m_sink, factory);
  }
  m_sink.ShowTableProgress("");
  {
    std::lock_guard<std::mutex> lock(m_resultMutex);
    for (const PoolOutcome::Reported& r : outcome.reported) m_result.tables.push_back({r.table, "", r.rows, r.notStored});
    m_result.poolConnections = outcome.connections;
  }
  // A stop, or not one connection: the export ends here as Stop ends it, the tables already
  // reported staying in the list and the report.
  if (outcome.stopped) {
    EndEarly("Export terminated", Stage::kTables);
    return -1;
  }
  m_engine.m_bExportMode = 0;
  return outcome.percent;
}

std::string ExportRun::UniqueTableFileName(const CTable& table) {
  // Tables of one name in two schemas, or names that differ only in characters a file name
  // cannot hold or only in letter case (the folder is meant for Windows, whose file names
  // ignore case), would otherwise share a script, and the later would replace the earlier.
  auto take = [this](const std::string& name) { return m_usedTableFiles.insert(FoldedCase(name)).second; };
  // A name the catalog lost would give the hidden file ".sql".
  std::string base = TableFileName(table.m_strName.str());
  if (base.empty()) base = "Table_" + std::to_string(table.m_dwObjectId);
  if (take(base)) return base;
  std::string name = base + "_" + std::to_string(table.m_dwObjectId);
  for (int n = 2; !take(name); ++n) name = base + "_" + std::to_string(table.m_dwObjectId) + "_" + std::to_string(n);
  return name;
}

int ExportRun::SerialTableStage() {
  std::vector<CTable*> tables;
  for (CTable* t : m_request.tables)
    if (t) tables.push_back(t);
  const int total = int(tables.size());

  if (!m_bServer && total > 0) {
    std::error_code ec;
    fs::create_directory(Path("Tables"), ec);
    if (std::error_code probe; !fs::is_directory(Path("Tables"), probe)) {
      m_sink.ShowMessage(FolderNotMade(Path("Tables"), ec));
      EndEarly(nullptr, Stage::kTables);
      return -1;
    }
    // One file for the defaults of every table, run before any constraint script binds them.
    m_engine.m_hDefaultSqlFile = Create("Default.sql");
    m_batch.Add("Default.sql");
    m_contents.defaults = true;
  }

  int done = 0;
  for (CTable* table : tables) {
    const std::string name = table->m_strName.str();
    m_sink.AppendStatus("Exporting table : " + table->m_strOwner.str() + "." + name);
    Log("Exporting " + name);
    std::string script;
    if (!m_bServer) {
      const std::string file = UniqueTableFileName(*table);
      script = "Tables/" + file + ".sql";
      m_engine.m_hTableSqlFile = Create(script);
      const std::string loss = CatalogLossComment(*table);
      if (!loss.empty() && m_engine.m_hTableSqlFile != kInvalidFile)
        WriteFileAll(m_engine.m_hTableSqlFile, loss.data(), loss.size());
      m_engine.m_hConstraintSqlFile = Create("Tables/" + file + "_Constraint.sql");
      m_batch.AddTableScript(file + ".sql");
      m_batch.AddTableScript(file + "_Constraint.sql");
      ++m_contents.tables;
    }
    table->m_nRowsExported = 0;
    table->m_nDeletedRecovered = table->m_nDeletedCopies = 0;
    {
      const TableProgress progress(m_engine, *table, m_sink, done, total);
      m_engine.GenerateTableQueries(table, m_bServer ? m_pMain : nullptr);
    }
    m_sink.ShowTableProgress("");
    const long rows = table->m_nRowsExported;
    {
      std::lock_guard<std::mutex> lock(m_resultMutex);
      m_result.tables.push_back({table, script, rows});
    }
    if (!m_bServer && m_request.recoverDeleted && m_request.rows) {
      m_contents.deletedRows = true;
      m_contents.deletedRecovered += table->m_nDeletedRecovered;
      m_contents.deletedCopies += table->m_nDeletedCopies;
    }
    if (m_bServer) {
      // The rows that reached the server, whichever path sent them.
      m_sink.AddObjectRow(name, std::to_string(rows), false);
      m_sink.AppendReport(m_request.recoverDeleted && m_request.rows
                              ? ExportReportLine(name, rows, table->m_nDeletedRecovered, table->m_nDeletedCopies)
                              : ExportReportLine(name, rows));
      if (m_engine.m_pStatus) m_engine.m_pStatus->m_nRecordsSent = 0;
    }
    ++done;
    m_sink.SetCounterText(Counter(done, total));
    m_sink.SetDialogPercent(done * 30 / total);
    if (Stopped()) {
      EndEarly("Export terminated", Stage::kTables);
      return -1;
    }
    CloseFileHandle(m_engine.m_hTableSqlFile);
    CloseFileHandle(m_engine.m_hConstraintSqlFile);
  }
  CloseFileHandle(m_engine.m_hDefaultSqlFile);
  m_engine.m_bExportMode = 0;
  m_sink.SetMainPercent(30);
  return 30;
}

void ExportRun::ForeignKeyStage() {
  // Without tables there is nothing a key could be added to.
  if (m_request.tables.empty()) return;
  // The engine writes foreign keys through the table handle; they get a file of their own,
  // run once every table exists.
  if (!m_bServer) m_engine.m_hTableSqlFile = Create("ForeignKeys.sql");
  m_engine.GenerateForeignKeyConstraint();
  if (!m_bServer) {
    CloseFileHandle(m_engine.m_hTableSqlFile);
    m_batch.Add("ForeignKeys.sql");
    m_contents.foreignKeys = true;
  }
}

bool ExportRun::ObjectStages(int tablesEnd) {
  if (!ViewAndFunctionStage(tablesEnd)) return false;
  // Procedures and triggers resolve the names they use when they run, so they may come after
  // the views and functions; each still follows the objects of its kind that it uses.
  const struct {
    std::vector<CViewStoredProc*>* selected;
    CStringKeyMap<CViewStoredProc*> CSQLServer::*map;
    const ObjectKind* kind;
  } later[] = {{&m_request.procedures, &CSQLServer::m_mapStoredProcs, &kProcedures},
               {&m_request.rules, &CSQLServer::m_mapRules, &kRules},
               {&m_request.triggers, &CSQLServer::m_mapTriggers, &kTriggers}};
  for (const auto& [selected, map, kindOf] : later) {
    const ObjectKind& kind = *kindOf;
    const bool procedures = &kind == &kProcedures;
    const bool rules = &kind == &kRules;
    std::vector<CViewStoredProc*> objects;
    for (CViewStoredProc* o : *selected)
      if (o) objects.push_back(o);
    // Rules use none.
    if (!rules) objects = CreationOrder(objects, m_engine.*map);
    const int total = int(objects.size());
    if (total == 0) {
      if (procedures) m_sink.SetMainPercent(90);
      continue;
    }
    Log(kind.logLine);
    if (!m_bServer) m_engine.*kind.handle = Create(kind.file);
    int done = 0;
    for (CViewStoredProc* object : objects) {
      m_sink.AppendStatus(kind.statusPrefix + object->m_strName.str());
      if (rules && m_bServer) m_sink.AddObjectRow(object->m_strName.str(), "", true);
      (m_engine.*kind.generate)(object);
      ++done;
      if (procedures) {
        m_sink.SetCounterText(Counter(done, total));
        m_sink.SetDialogPercent(60 + done * 30 / total);
      }
      if (Stopped()) {
        EndEarly(kind.stopLine, kind.stage);
        return false;
      }
    }
    if (!m_bServer) {
      CloseFileHandle(m_engine.*kind.handle);
      AddObjectScript(kind);
    }
    m_sink.SetCounterText("");
    if (procedures) m_sink.SetMainPercent(90);
  }
  return true;
}

void ExportRun::AddObjectScript(const ObjectKind& kind) {
  m_batch.Add(kind.batchArgument);
  m_contents.objectScripts.push_back(kind.file);
}

bool ExportRun::ViewAndFunctionStage(int tablesEnd) {
  // SQL Server resolves the names a view or a function uses when it is created, so the two
  // kinds go in one order: a view that calls a function after it, a function that selects
  // from a view after that view.
  std::set<const CViewStoredProc*> views;
  std::vector<CViewStoredProc*> objects;
  for (CViewStoredProc* o : m_request.views)
    if (o && views.insert(o).second) objects.push_back(o);
  bool anyFunction = false;
  for (CViewStoredProc* o : m_request.functions)
    if (o && !views.count(o)) {
      objects.push_back(o);
      anyFunction = true;
    }
  const std::vector<CreationStep> steps = CreationSteps(objects, {&m_engine.m_mapViews, &m_engine.m_mapFunctions});
  const int total = int(steps.size());
  if (total == 0) {
    m_sink.SetDialogPercent(60);
    return true;
  }
  auto kindOf = [&](const CViewStoredProc* o) -> const ObjectKind& { return views.count(o) ? kViews : kFunctions; };

  // A view that uses a function, and a function that uses a view (the first of each).
  std::string viewUsesFunction, functionUsesView;
  for (const CreationStep& step : steps)
    for (const CViewStoredProc* used : step.uses) {
      const bool user = views.count(step.object) != 0, usedView = views.count(used) != 0;
      std::string& said = user ? viewUsesFunction : functionUsesView;
      if (user != usedView && said.empty())
        said = Named(kindOf(step.object), *step.object) + " uses " + Named(kindOf(used), *used);
    }

  if (!views.empty()) Log(kViews.logLine);
  if (anyFunction) Log(kFunctions.logLine);
  // Scripts: two files run one after the other can keep the order only while the uses go
  // one way. When they go both ways Views.sql holds the functions too, in the one order, so
  // a first run creates them all; a rerun of the scripts would not help, as it would add
  // every table's rows a second time.
  const bool oneFile = !m_bServer && !viewUsesFunction.empty() && !functionUsesView.empty();
  const bool functionsFirst = !m_bServer && !viewUsesFunction.empty() && functionUsesView.empty();
  if (!m_bServer) {
    if (!views.empty()) m_engine.m_hViewsSqlFile = Create(kViews.file);
    if (anyFunction) m_engine.m_hFunctionsSqlFile = oneFile ? m_engine.m_hViewsSqlFile : Create(kFunctions.file);
    if (oneFile)
      Log("Views and functions use each other (" + viewUsesFunction + ", " + functionUsesView +
          "): Views.sql holds the functions too, each after what it uses, and there is no Functions.sql");
    else if (functionsFirst)
      Log("Functions.sql runs before Views.sql: " + viewUsesFunction);
  }

  int done = 0;
  for (const CreationStep& step : steps) {
    const ObjectKind& kind = kindOf(step.object);
    m_sink.AppendStatus(kind.statusPrefix + step.object->m_strName.str());
    (m_engine.*kind.generate)(step.object);
    ++done;
    m_sink.SetCounterText(Counter(done, total));
    m_sink.SetDialogPercent(tablesEnd + done * 30 / total);
    if (Stopped()) {
      EndEarly(kind.stopLine, kind.stage);
      return false;
    }
  }
  // Objects whose texts use each other in a cycle: one of them had to go before what it
  // uses. On a server it is created a second time once the others exist; a script cannot
  // retry, so the log says which the server may refuse.
  for (const CreationStep& step : steps) {
    if (step.usesLater.empty()) continue;
    std::string later;
    for (const CViewStoredProc* used : step.usesLater) later += (later.empty() ? "" : ", ") + Named(kindOf(used), *used);
    const ObjectKind& kind = kindOf(step.object);
    if (m_bServer) {
      Log("The " + Named(kind, *step.object) + " uses " + later +
          ", created after it (their texts use each other): it is created again now");
      (m_engine.*kind.generate)(step.object);
    } else {
      Log("The " + Named(kind, *step.object) + " uses " + later +
          ", written after it (their texts use each other): the server may refuse it on the first run; running " +
          (oneFile ? std::string(kViews.file) : std::string(kind.file)) +
          " once more creates it (the objects already there then fail as existing)");
    }
  }
  if (!m_bServer) {
    // One handle must not be closed twice.
    if (oneFile) m_engine.m_hFunctionsSqlFile = kInvalidFile;
    CloseFileHandle(m_engine.m_hViewsSqlFile);
    CloseFileHandle(m_engine.m_hFunctionsSqlFile);
    if (functionsFirst) AddObjectScript(kFunctions);
    if (!views.empty()) AddObjectScript(kViews);
    if (anyFunction && !functionsFirst && !oneFile) AddObjectScript(kFunctions);
    m_contents.functionsInViews = oneFile && anyFunction;
  }
  m_sink.SetCounterText("");
  m_sink.SetDialogPercent(60);
  return true;
}

void ExportRun::Finish() {
  if (Stopped()) return EndEarly("Export Terminated", Stage::kLater);
  ClearSelection();
  std::string change;
  if (m_engine.m_sourcePin.Changed(&change)) {
    ReportSourceChange(m_engine, "export");
    m_sink.AppendStatus("Warning: the source file changed during the export");
    std::lock_guard<std::mutex> lock(m_resultMutex);
    m_result.sourceChange = change;
  }
  if (m_bServer) CloseMainConnection();

  std::string message;
  if (!m_bServer) {
    std::string batchName = BatchFileName(m_engine.m_strDatabaseName.str());
    // A database whose name could not be read still gets a batch file one can see and run.
    if (batchName.empty()) batchName = "Database";
    const std::string shellName = batchName + ".sh";
    batchName += ".bat";
    std::string text = m_batch.Text();
    // The command interpreter reads a batch file in the console's code page: one that names
    // scripts beyond ASCII (UTF-8 here) switches it to UTF-8 first. ASCII ones stay as they were.
    if (!IsAsciiText(text)) {
      const size_t firstLine = text.find("\r\n");
      text.insert(firstLine == std::string::npos ? 0 : firstLine + 2, "chcp 65001 >nul\r\n");
    }
    FILE_HANDLE bat = Create(batchName);
    if (!WriteFileAll(bat, text.data(), text.size())) Log("The batch file could not be written: " + Path(batchName));
    CloseFileHandle(bat);
    // The same scripts for a Linux machine, runnable as it is.
    const std::string shell = m_batch.ShellText();
    FILE_HANDLE sh = Create(shellName);
    if (!WriteFileAll(sh, shell.data(), shell.size())) Log("The shell script could not be written: " + Path(shellName));
    CloseFileHandle(sh);
    std::error_code shellMode;
    fs::permissions(Path(shellName),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                        fs::perms::others_exec,
                    shellMode);
    m_batch.ClearWindowsSection();

    m_contents.folder = m_folder;
    m_contents.batchFile = batchName;
    m_contents.shellFile = shellName;
    message = ExportCompletionMessage(m_contents);

    // The list of every script folder made, for the user to find them again ("\n" ends each).
    if (!m_stateFolder.empty()) {
      FILE_HANDLE list = OpenFileForAppend((m_stateFolder + kOutputListFileName).c_str());
      const std::string line = m_folder + "\n";
      WriteFileAll(list, line.data(), line.size());
      CloseFileHandle(list);
    }
    // The program's ReadMe.txt says how to run the scripts; without one the folder has none.
    if (!m_programFolder.empty()) {
      std::error_code ec;
      fs::copy_file(m_programFolder + "ReadMe.txt", Path("ReadMe.txt"), fs::copy_options::overwrite_existing, ec);
    }
  }
  ReleaseGivenFolder();
  if (m_bServer) message = NotStoredMessage();
  m_sink.SetDialogPercent(100);
  m_sink.AppendStatus("Export Complete.");
  m_sink.SetCounterText("");
  m_engine.m_bExportMode = 0;
  Log("Export Complete");
  {
    std::lock_guard<std::mutex> lock(m_resultMutex);
    m_result.end = ExportResult::End::kFinished;
  }
  m_sink.Finished(m_bServer, message);
}

void ExportRun::EndEarly(const char* statusLine, Stage stage) {
  if (statusLine) m_sink.AppendStatus(statusLine);
  ClearSelection();
  if (stage != Stage::kLater) {
    m_batch.ClearWindowsSection();
    m_sink.SetMainPercent(0);
  }
  if (stage == Stage::kStart || stage == Stage::kViews) m_sink.SetCounterText("");
  // Cleared at every early end, not only where the window expects it: a flag left set would
  // keep the previews off for the rest of the session.
  m_engine.m_bExportMode = 0;
  if (m_bServer && stage != Stage::kStart) CloseMainConnection();
  // Whatever stage it was, no script file stays open.
  CloseScriptFiles();
  ReleaseGivenFolder();
  {
    std::lock_guard<std::mutex> lock(m_resultMutex);
    m_result.end = ExportResult::End::kEndedEarly;
  }
  m_sink.EndedEarly();
}

void ExportRun::CloseScriptFiles() {
  // Views and functions may share one file.
  if (m_engine.m_hFunctionsSqlFile == m_engine.m_hViewsSqlFile) m_engine.m_hFunctionsSqlFile = kInvalidFile;
  for (FILE_HANDLE CSQLServer::*h :
       {&CSQLServer::m_hViewsSqlFile, &CSQLServer::m_hProcSqlFile, &CSQLServer::m_hTableSqlFile,
        &CSQLServer::m_hDefaultSqlFile, &CSQLServer::m_hRulesSqlFile, &CSQLServer::m_hTriggersSqlFile,
        &CSQLServer::m_hUserTypesSqlFile, &CSQLServer::m_hConstraintSqlFile, &CSQLServer::m_hFunctionsSqlFile})
    CloseFileHandle(m_engine.*h);
}

void ExportRun::CloseMainConnection() {
  if (!m_pMain) return;
  try {
    m_pMain->Close();
  } catch (const CDBException&) {
    // The export is over either way; a connection that fails to close has nothing to lose.
  }
  // It belongs to the caller; the engine must not use it once it is closed.
  if (m_engine.m_pDatabase == m_pMain) m_engine.m_pDatabase = nullptr;
}

void ExportRun::ClearSelection() {
  m_request.tables.clear();
  m_request.views.clear();
  m_request.procedures.clear();
  m_request.rules.clear();
  m_request.triggers.clear();
  m_request.functions.clear();
}

}  // namespace

struct ExportWorker::State {
  std::string programFolder;
  std::string stateFolder;
  Clock clock;

  mutable std::mutex mutex;  // guards the members below
  std::thread thread;
  std::atomic<bool> running{false};
  CSQLServer* engine = nullptr;
  ExportRequest request;
  int threadSize = 0;
  ExportResult result;
};

ExportWorker::ExportWorker(std::string programFolder, Clock clock, std::string stateFolder)
    : m_state(std::make_unique<State>()) {
  m_state->programFolder = WithSlash(programFolder.empty() ? ProgramFolder() : std::move(programFolder));
  m_state->stateFolder = WithSlash(stateFolder.empty() ? StateFolder() : std::move(stateFolder));
  m_state->clock = std::move(clock);
}

ExportWorker::~ExportWorker() {
  Stop();
  Join();
}

bool ExportWorker::Start(CSQLServer& engine, ExportRequest request, IExportSink& sink, CDatabase* mainConnection) {
  State& s = *m_state;
  std::thread finished;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.running.load()) return false;
    // An export that has ended but was not joined yet: nothing of it runs any more.
    finished = std::move(s.thread);
  }
  if (finished.joinable()) finished.join();

  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.running.load() || s.thread.joinable()) return false;
  if (engine.m_pStatus) engine.m_pStatus->m_bStopRecords = 0;
  engine.m_bRecoverDeleted = request.recoverDeleted ? 1 : 0;
  s.engine = &engine;
  s.request = std::move(request);
  s.result = ExportResult();
  s.running = true;
  s.thread = std::thread([&s, &engine, &sink, mainConnection] {
    int threadSize;
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      threadSize = s.threadSize;
    }
    ExportRun run(engine, s.request, sink, mainConnection, s.programFolder, s.stateFolder, s.clock, threadSize,
                  s.result, s.mutex);
    try {
      run.Run();
    } catch (const std::exception& e) {
      // Out of memory and the like: the export cannot go on, but the window must learn it ended.
      Log(std::string("Export failed: ") + e.what());
      {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.result.end = ExportResult::End::kEndedEarly;
      }
      sink.EndedEarly();
    }
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      s.threadSize = threadSize;
    }
    s.running = false;
  });
  return true;
}

void ExportWorker::Stop() {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  if (m_state->running.load() && m_state->engine && m_state->engine->m_pStatus)
    m_state->engine->m_pStatus->m_bStopRecords = 1;
}

void ExportWorker::Join() {
  std::thread t;
  {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    // A sink that joins from its own end call runs on the export thread: it cannot wait for
    // itself, and a later Join from another thread still will.
    if (m_state->thread.get_id() == std::this_thread::get_id()) return;
    t = std::move(m_state->thread);
  }
  if (t.joinable()) t.join();
}

bool ExportWorker::Busy() const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  return m_state->running.load() || m_state->thread.joinable();
}

std::string ExportWorker::OutputFolder() const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  return m_state->result.folder;
}

ExportResult ExportWorker::Result() const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  return m_state->result;
}

int ExportWorker::ThreadSize() const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  return m_state->threadSize;
}

}  // namespace uicore
