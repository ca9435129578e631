// engine-driver: a front end of the desktop program's core without a window; it plays the
// program's side of the engine and prints what the engine recovers as stable text. A test
// and inspection tool, not installed.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "common/executionlog.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/database.h"
#include "platform/files.h"
#include "support/catalogtext.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/everyobject.h"
#include "support/quietexportsink.h"
#include "ui/core/catalogloss.h"
#include "ui/core/enginefactory.h"
#include "ui/core/exportworker.h"
#include "ui/core/openscan.h"
#include "ui/core/scanfollower.h"
#include "ui/core/serverconnection.h"
#include "ui/core/sourcedetection.h"

namespace {

const char* const kUsage = R"(usage: engine-driver COMMAND ...

  sets FILE              list the backup sets of a backup file
  scan FILE [--set N]    scan FILE (set N of a backup, 1 by default) and print the catalog
  save FILE SCANFILE [--set N]
                         scan FILE and save the scan to SCANFILE
  load SCANFILE          open a scan file as the program's Open Scan does and print its catalog
  export FILE DIR [--set N] [--rows] [--deleted]
                         scan FILE and export it as the program does to scripts (every
                         object, rows with --rows), the script folder being DIR
  export FILE --server CONNECTION-STRING [--set N] [--rows] [--deleted] [--threads K]
                         scan FILE and export every table into the server the ODBC connection
                         string names, through the program's connection pool: K pooled
                         connections (sql.settings' Thread_Size by default), at most 5
  rows FILE TABLE [--set N] [--window K] [--back M] [--deleted]
                         scan FILE, then preview TABLE ("name" or "owner.name") as the program
                         does: select it, press next page until window K (1 by default) is
                         shown, then press previous page M times (0 by default)
  help                   this text

--deleted is the export options' "Recover deleted rows": the export (and, for "rows", the
preview) also recovers the rows that were deleted but are still on the pages.
Every command takes --format 2000|2005|2008: the engine that reads FILE, or the engine that
writes SCANFILE. Without it FILE's own version picks the engine, as the program's version
dialog preselects it (the boot page's on-disk version, or the backup set's software version
where the boot page is missing; 2008 after a line "warning: FILE does not say ..." when the
file says neither); a --format of the other
engine family than the file says is obeyed after a line "warning: FILE holds ...". 2005 files
are read by the 2008 engine. A 2000 "export" also writes ForeignKeys.sql, run after the tables.
A FILE the program refuses (newer than SQL Server 2008 R2, compressed, not a backup or
database file, empty, unreadable) ends the command with status 1 and one line
"COMMAND failed: " and the program's message. A backup cut off inside its data stream gives
"warning: ... N of M pages were read." first (a database file that ends inside a page: "...
only the N whole pages before it were read ..."),
and after the scan "warning: table [owner].[name] is incomplete: WHAT" for each table whose
catalog rows were lost (column ids missing, index keys naming columns the catalog lacks).
A differential set is read over its base full set in the same file; without one,
"warning: Backup set N is a differential backup, and this file holds no full backup ..."
comes before the scan.
Every command that scans prints, before its own output, a line "warning: ..." for each thing
the scan could not recover (a table whose columns or rows are lost, data pages no table claims,
by name and count) and for a source file that changed while it was read; "export" into DIR
needs DIR new or empty.

Output of "sets": a line "sets: COUNT", then per set
  set N: <Full Backup|Differential Backup> name="..." user="..." date=YYYY-MM-DD HH:MM:SS
         number=SSET-NUMBER offset=STREAM-OFFSET length=STREAM-BYTES pages=P first=F last=L
Output of "scan": the recovery result ("recovery: finished|unfinished pages-counted=N
sys-rounds=R"), the census ("database:", "total pages:", group counts), then the catalog:
"tables: N" and per table "table [owner].[name] id=OBJECT-ID pages=N freed=N identity=0|1"
followed by its "column ..." lines, "index ..." lines and (2000 engine) "foreign-key [name]
columns=IDS references=[owner].[table] columns=IDS" lines; a column line's pos= is where rows
hold the column (its offset in the fixed part, or minus its variable index), followed (2005
and 2008) by "from-order" when the catalog did not give it and the decoders compute it from
the column order, and by nullbit=, its null-bitmap number. Then views, procedures, rules,
triggers and functions with their definition text (lines prefixed "| "), then user data types.
"save" prints "saved: PATH" or "save failed: REASON"; it replaces an existing SCANFILE only
when that is a scan file, and adds ".str" to a name without an extension. "load" prints
"loaded: PATH" and the catalog text exactly as "scan" prints it, or the program's message for
a file that is not a scan file ("load failed: ..." for one that cannot be read). "export" prints, per table in object-id order, "table [owner].[name] rows=N
script=Tables/NAME.sql", then "objects without text: N", then "file RELATIVE-PATH bytes=N" for
every file in DIR (sorted), and "script write failures: N" when writes failed (exit status 1).
"export --server" runs the program's export worker with every object selected: the tables
through its connection pool, the other objects on a main connection. It prints, per table
reported, in object-id order, "table [owner].[name] rows=N" (N: the rows the server took),
then "connections: K" and "tables reported: R of T", then per table some of whose rows the server
did not store (refused, or lost with a connection that could not be opened again) a line
"warning: table [owner].[name] N rows not stored", and exit status 2; when the server takes no connection,
"export failed: Could not connect to the server" (the reasons are in the log), exit status 1.
"rows" prints the rows of the window shown last, one line per row ("$#$" after every value;
a carriage return, line feed or backslash inside a value is printed as \r, \n or \\), then
"rows: COUNT last-window: 0|1".
Tables and objects are ordered by object id. Exit status 0 on success, 1 on failure, 2 on
bad usage. A FILE that cannot be opened or read, a backup without a set, or a --set that is
not one of its sets ends the command with status 1 and one line "COMMAND failed: REASON".
The scan, preview, save and load run through the desktop program's own core (its scan
follower, preview driver and Open Scan). The engine's log goes to "Log Files" beside the
driver.
)";

// A command that ran to its end but could not keep everything (rows the server did not store):
// exit status 2, without the usage text.
constexpr int kIncomplete = -2;

struct Args {
  std::string command;
  std::vector<std::string> positional;
  int set = 1;
  bool rows = false;
  bool deleted = false;  // "Recover deleted rows"
  int window = 1;
  int back = 0;
  int format = 0;  // 0: FILE's own version decides
  std::optional<std::string> server;  // export --server: the connection string
  std::optional<int> threads;
};

bool Parse(int argc, char** argv, Args& a) {
  if (argc < 2) return false;
  a.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--set" && i + 1 < argc) {
      a.set = std::atoi(argv[++i]);
    } else if (arg == "--server" && i + 1 < argc) {
      a.server = argv[++i];
    } else if (arg == "--threads" && i + 1 < argc) {
      a.threads = std::atoi(argv[++i]);
    } else if (arg == "--rows") {
      a.rows = true;
    } else if (arg == "--deleted") {
      a.deleted = true;
    } else if (arg == "--window" && i + 1 < argc) {
      a.window = std::atoi(argv[++i]);
      if (a.window < 1) return false;
    } else if (arg == "--back" && i + 1 < argc) {
      a.back = std::atoi(argv[++i]);
      if (a.back < 0) return false;
    } else if (arg == "--format" && i + 1 < argc) {
      a.format = std::atoi(argv[++i]);
      if (a.format != 2000 && a.format != 2005 && a.format != 2008) return false;
    } else if (arg.rfind("--", 0) == 0) {
      return false;
    } else {
      a.positional.push_back(arg);
    }
  }
  return true;
}

// The engine the program creates for the version the user chose (--format).
std::unique_ptr<CSQLServer> NewEngine(const Args& a) {
  CreatedEngine created = CreateEngine(std::to_string(a.format ? a.format : 2008));
  if (!created) std::cout << "engine failed: " << created.refusal << "\n";
  return std::move(created.engine);
}

// Why an input file cannot be used at all; empty when it can be opened and read.
std::string Unusable(const std::string& path) {
  CSourceFile file;
  if (!file.Open(path.c_str())) return path + " " + file.Refusal() + ".";
  BYTE first = 0;
  if (file.ReadAt(0, &first, 1) != 1) return path + " cannot be read";
  return "";
}

// A "warning:" line when the source changed since the engine first opened it.
void WarnIfSourceChanged(const CSQLServer& engine, const char* work) {
  std::string how;
  if (engine.m_sourcePin.Changed(&how))
    std::cout << "warning: the source changed during the " << work << ": " << how << "\n";
}

// Recover as the program runs it: the file into the engine, its backup sets listed, the set
// chosen and the scan followed by the program's scan follower. False, after one line that
// says why, when the input cannot be used; an unfinished scan is the caller's to report.
bool Recover(CSQLServer& engine, const std::string& path, int set, const char* command,
             testsupport::RecoveryResult& result) {
  std::string problem = Unusable(path);
  const int sets = problem.empty() ? uicore::ListBackupSets(engine, path) : 0;
  if (problem.empty() && !uicore::ReadAsDatabaseFile(path)) {
    if (sets == 0) problem = path + " holds no backup set";
    else if (!uicore::HasBackupSet(engine, set))
      problem = path + " has no backup set " + std::to_string(set) + " (it holds " + std::to_string(sets) + ")";
  }
  if (!problem.empty()) {
    std::cout << command << " failed: " << problem << "\n";
    return false;
  }
  testsupport::RecoveryOptions options;
  options.selectedSet = set;
  options.censusHandOverEvery = uicore::ScanFollowerOptions().handOverEvery;
  engine.m_nSelectedDataSet = set;
  const std::string alone = uicore::MissingBaseWarning(engine);
  if (!alone.empty()) std::cout << "warning: " << alone << "\n";
  const std::string cut = uicore::SourceCutOffText(engine);
  if (!cut.empty()) std::cout << "warning: " << cut << "\n";
  result = testsupport::FollowScan(engine, options);
  WarnIfSourceChanged(engine, "scan");
  for (const std::string& lost : engine.m_vecScanWarnings) std::cout << "warning: " << lost << "\n";
  if (!cut.empty() && uicore::MarkCatalogLosses(engine) > 0) {
    for (const auto& entry : engine.m_mapTables) {
      const CTable* table = entry.second;
      if (table && !table->m_strCatalogLoss.IsEmpty())
        std::cout << "warning: table [" << table->m_strOwner.str() << "].[" << table->m_strName.str()
                  << "] is incomplete: " << table->m_strCatalogLoss.str() << "\n";
    }
  }
  return true;
}

int Sets(const Args& a) {
  if (a.positional.size() != 1) return 2;
  const std::string problem = Unusable(a.positional[0]);
  if (!problem.empty()) {
    std::cout << "sets failed: " << problem << "\n";
    return 1;
  }
  std::unique_ptr<CSQLServer> engine = NewEngine(a);
  if (!engine) return 1;
  uicore::ListBackupSets(*engine, a.positional[0]);
  testsupport::PrintSets(*engine, std::cout);
  return 0;
}

int Scan(const Args& a) {
  if (a.positional.size() != 1) return 2;
  std::unique_ptr<CSQLServer> engine = NewEngine(a);
  testsupport::RecoveryResult r;
  if (!engine || !Recover(*engine, a.positional[0], a.set, "scan", r)) return 1;
  std::cout << "recovery: " << (r.finished ? "finished" : "unfinished") << " pages-counted=" << r.pagesCounted
            << " sys-rounds=" << r.sysRounds << "\n";
  testsupport::PrintCensus(*engine, std::cout);
  testsupport::PrintCatalog(*engine, std::cout);
  return r.finished ? 0 : 1;
}

int Save(const Args& a) {
  if (a.positional.size() != 2) return 2;
  std::unique_ptr<CSQLServer> engine = NewEngine(a);
  testsupport::RecoveryResult r;
  if (!engine || !Recover(*engine, a.positional[0], a.set, "save", r)) return 1;
  if (!r.finished) {
    std::cout << "save failed: the scan did not finish\n";
    return 1;
  }
  const std::string target = a.positional[1];
  const uicore::SaveScanResult saved =
      uicore::SaveScan(engine.get(), a.positional[0], [&]() -> std::optional<std::string> { return target; });
  if (saved.outcome != uicore::SaveScanResult::Outcome::Saved) {
    std::cout << "save failed: " << (saved.message.empty() ? "nothing saved" : saved.message) << "\n";
    return 1;
  }
  std::cout << "saved: " << saved.path << "\n";
  return 0;
}

// Open Scan: the file's own version picks the engine.
int Load(const Args& a) {
  if (a.positional.size() != 1) return 2;
  uicore::OpenScanResult opened = uicore::OpenScanFile(a.positional[0]);
  if (opened.outcome == uicore::OpenScanResult::Outcome::NotScanFile) {
    std::cout << opened.message << "\n";
    return 1;
  }
  if (!opened.Loaded()) {
    std::cout << "load failed: " << opened.message << "\n";
    return 1;
  }
  std::cout << "loaded: " << a.positional[0] << "\n";
  testsupport::PrintCatalog(*opened.engine, std::cout);
  return 0;
}

using testsupport::ByObjectId;
using testsupport::EveryObject;

// Runs the program's export worker to its end: its result when the export finished; otherwise
// nothing, after the line that says why.
std::optional<uicore::ExportResult> RunWorker(CSQLServer& engine, uicore::ExportRequest request,
                                              CDatabase* main = nullptr) {
  testsupport::QuietExportSink sink;
  uicore::ExportWorker worker("");
  if (!worker.Start(engine, std::move(request), sink, main)) {
    std::cout << "export failed: an export is running\n";
    return std::nullopt;
  }
  worker.Join();
  uicore::ExportResult result = worker.Result();
  if (result.end != uicore::ExportResult::End::kFinished) {
    std::cout << "export failed: " << (sink.message.empty() ? "the export ended early" : sink.message) << "\n";
    return std::nullopt;
  }
  return result;
}

// The scan an export starts from; false after the line that says why it cannot go on.
template <class Engine>
bool RecoverForExport(Engine& engine, const Args& a) {
  testsupport::RecoveryResult r;
  if (!Recover(engine, a.positional[0], a.set, "export", r)) return false;
  if (!r.finished) std::cout << "export failed: the scan did not finish\n";
  return r.finished;
}

// The program's server export of every table, through its connection pool.
template <class Engine>
int ServerExport(const Args& a) {
  if (a.positional.size() != 1) return 2;
  Engine engine;
  if (!RecoverForExport(engine, a)) return 1;
  const std::string connect = *a.server;
  // The program's options dialog opens the main connection before the export starts; the
  // worker refuses to start a server export without one.
  std::string error;
  std::unique_ptr<CDatabase> main = uicore::NewServerConnection(connect, &error);
  if (!main) CExecutionLog::WriteLog(0, 0, ("The main connection could not be opened: " + error).c_str(), true);

  uicore::ExportRequest request = EveryObject(engine);
  request.toServer = true;
  request.rows = a.rows;
  request.recoverDeleted = a.deleted;
  request.threadSize = a.threads;
  request.connections = [connect](std::string* why) { return uicore::NewServerConnection(connect, why); };
  const std::optional<uicore::ExportResult> result = RunWorker(engine, std::move(request), main.get());
  if (!result) return 1;
  std::map<const CTable*, long> rows, notStored;
  for (const uicore::ExportResult::Table& t : result->tables) {
    rows[t.table] = t.rows;
    if (t.notStored > 0) notStored[t.table] = t.notStored;
  }
  const std::vector<CTable*> tables = ByObjectId(engine.m_mapTables);
  for (CTable* table : tables) {
    auto it = rows.find(table);
    if (it == rows.end()) continue;
    std::cout << "table [" << table->m_strOwner.str() << "].[" << table->m_strName.str() << "] rows=" << it->second
              << "\n";
  }
  std::cout << "connections: " << result->poolConnections << "\n";
  std::cout << "tables reported: " << rows.size() << " of " << tables.size() << "\n";
  for (CTable* table : tables) {
    auto it = notStored.find(table);
    if (it != notStored.end())
      std::cout << "warning: table [" << table->m_strOwner.str() << "].[" << table->m_strName.str() << "] "
                << it->second << " rows not stored\n";
  }
  if (rows.size() != tables.size()) return 1;
  return notStored.empty() ? 0 : kIncomplete;
}

// The program's export worker, script target, every object selected, writing into DIR.
template <class Engine>
int Export(const Args& a) {
  if (a.server) return ServerExport<Engine>(a);
  if (a.positional.size() != 2) return 2;
  namespace fs = std::filesystem;
  const std::string dir = a.positional[1];
  std::error_code ec;
  // Another export's scripts in DIR would be mixed with this one's.
  if (fs::exists(dir, ec) && !(fs::is_directory(dir, ec) && fs::is_empty(dir, ec))) {
    std::cout << "export failed: " << dir << " is not an empty folder (it may hold another export)\n";
    return 1;
  }
  fs::create_directories(dir, ec);
  if (ec) {
    std::cout << "export failed: Directory could not be created: " << dir << " (" << ec.message() << ")\n";
    return 1;
  }
  Engine engine;
  if (!RecoverForExport(engine, a)) return 1;

  uicore::ExportRequest request = EveryObject(engine);
  request.toServer = false;
  request.rows = a.rows;
  request.recoverDeleted = a.deleted;
  request.outputFolder = dir;
  const std::optional<uicore::ExportResult> result = RunWorker(engine, std::move(request));
  if (!result) return 1;
  if (!result->sourceChange.empty())
    std::cout << "warning: the source changed during the export: " << result->sourceChange << "\n";
  for (const uicore::ExportResult::Table& t : result->tables)
    std::cout << "table [" << t.table->m_strOwner.str() << "].[" << t.table->m_strName.str() << "] rows=" << t.rows
              << " script=" << t.script << "\n";
  std::cout << "objects without text: " << engine.ObjectsWithoutText() << "\n";

  std::vector<std::pair<std::string, std::uintmax_t>> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir, ec))
    if (entry.is_regular_file()) files.emplace_back(fs::relative(entry.path(), dir).generic_string(), entry.file_size());
  std::sort(files.begin(), files.end());
  for (const auto& [name, bytes] : files) std::cout << "file " << name << " bytes=" << bytes << "\n";
  if (engine.FailedScriptWrites() > 0) {
    std::cout << "script write failures: " << engine.FailedScriptWrites() << "\n";
    return 1;
  }
  return 0;
}

// One row per line: the line breaks inside values are escaped.
std::string RowLine(const std::string& row) {
  std::string line;
  line.reserve(row.size());
  for (char c : row) {
    if (c == '\\') line += "\\\\";
    else if (c == '\r') line += "\\r";
    else if (c == '\n') line += "\\n";
    else line += c;
  }
  return line;
}

int Rows(const Args& a) {
  if (a.positional.size() != 2) return 2;
  std::unique_ptr<CSQLServer> engine = NewEngine(a);
  testsupport::RecoveryResult r;
  if (!engine || !Recover(*engine, a.positional[0], a.set, "rows", r)) return 1;
  if (!r.finished) {
    std::cout << "rows failed: the scan did not finish\n";
    return 1;
  }
  CTable* table = testsupport::FindTable(*engine, a.positional[1]);
  if (!table) {
    std::cout << "rows failed: no table " << a.positional[1] << "\n";
    return 1;
  }
  // The program's preview after an export with "Recover deleted rows": the option stays on.
  engine->m_bRecoverDeleted = a.deleted ? 1 : 0;
  // The program's preview: the table selected, then ">" and "<" pressed.
  testsupport::Preview preview(*engine);
  testsupport::PreviewWindow w = preview.Select(table);
  for (int k = 1; k < a.window && w.finished; ++k) w = preview.Next();
  for (int k = 0; k < a.back && w.finished; ++k) w = preview.Previous();
  if (!w.finished) {
    std::cout << "rows failed: the record thread did not finish\n";
    return 1;
  }
  for (const std::string& row : w.rows) std::cout << RowLine(row) << "\n";
  std::cout << "rows: " << w.rows.size() << " last-window: " << (w.lastWindow ? 1 : 0) << "\n";
  return 0;
}

// What the program's Load finds out before the version dialog: a file it refuses ends the
// command; otherwise the file's version picks the engine unless --format chose one.
bool DetectInput(Args& a) {
  if (a.positional.empty()) return true;
  const std::string& path = a.positional[0];
  const uicore::SourceFacts facts = uicore::DetectSource(path);
  if (!facts.Loadable()) {
    std::cout << a.command << " failed: " << facts.failure << "\n";
    return false;
  }
  static const int kFormats[] = {2008, 2000, 2005, 2008};
  const int detected = facts.engine >= 1 && facts.engine <= 3 ? kFormats[facts.engine] : 0;
  if (a.format == 0) {
    a.format = detected ? detected : 2008;
    // A guess must not pass for the file's word: a 2000 file read as 2008 finds no table.
    if (!detected)
      std::cout << "warning: " << path << " does not say which SQL Server version it holds; read as SQL Server "
                << a.format << " (--format chooses another)\n";
  } else if (detected && !uicore::SameEngineFamily(facts.engine, a.format == 2000 ? 1 : 3)) {
    std::cout << "warning: " << path << " holds " << facts.holds << "; read as SQL Server " << a.format
              << " as --format says\n";
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Args a;
  if (!Parse(argc, argv, a) || a.command == "help" || a.command == "--help") {
    std::cout << kUsage;
    return (a.command == "help" || a.command == "--help") ? 0 : 2;
  }
  int rc = 2;
  // A scan file says its own version; every other command starts from a backup or database file.
  if (a.command != "load" && !DetectInput(a)) return 1;
  if (a.command == "sets") rc = Sets(a);
  else if (a.command == "scan") rc = Scan(a);
  else if (a.command == "save") rc = Save(a);
  else if (a.command == "load") rc = Load(a);
  else if (a.command == "export") rc = a.format == 2000 ? Export<CSQLServer2000>(a) : Export<CSQLServer2008>(a);
  else if (a.command == "rows") rc = Rows(a);
  if (rc == 2) std::cerr << kUsage;
  return rc == kIncomplete ? 2 : rc;
}
