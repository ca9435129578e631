// engine-driver: plays the desktop program's side of the engine without a GUI and prints
// what the engine recovers as stable text. A test and inspection tool, not installed.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/archive.h"
#include "platform/files.h"
#include "support/catalogtext.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"

namespace {

const char* const kUsage = R"(usage: engine-driver COMMAND ...

  sets FILE              list the backup sets of a backup file
  scan FILE [--set N]    scan FILE (set N of a backup, 1 by default) and print the catalog
  save FILE SCANFILE [--set N]
                         scan FILE and save the scan to SCANFILE
  load SCANFILE          open a scan file as the program's Open Scan does and print its catalog
  export FILE DIR [--set N] [--rows]
                         scan FILE and write its schema scripts (and rows with --rows) into DIR
  rows FILE TABLE [--set N] [--window K] [--back M]
                         scan FILE, then preview TABLE ("name" or "owner.name") as the program
                         does: select it, press next page until window K (1 by default) is
                         shown, then press previous page M times (0 by default)
  help                   this text

Every command takes --format 2000|2005|2008 (2008 by default): the engine that reads FILE, or
the engine that writes SCANFILE. 2005 files are read by the 2008 engine. The 2000 engine does
not decode rows or write scripts yet: "export" and "rows" refuse --format 2000.

Output of "sets": a line "sets: COUNT", then per set
  set N: <Full Backup|Differential Backup> name="..." user="..." date=YYYY-MM-DD HH:MM:SS
         number=SSET-NUMBER offset=STREAM-OFFSET length=STREAM-BYTES pages=P first=F last=L
Output of "scan": the recovery result ("recovery: finished|unfinished pages-counted=N
sys-rounds=R"), the census ("database:", "total pages:", group counts), then the catalog:
"tables: N" and per table "table [owner].[name] id=OBJECT-ID pages=N freed=N identity=0|1"
followed by its "column ..." and "index ..." lines, then views, procedures, rules, triggers and
functions with their definition text (lines prefixed "| "), then user data types.
"save" prints "saved: PATH" or "save failed: REASON". "load" prints "loaded: PATH" and the
catalog text exactly as "scan" prints it, or the program's message for a file that is not a
scan file. "export" prints, per table in object-id order, "table [owner].[name] rows=N
script=Tables/NAME.sql", then "objects without text: N", then "file RELATIVE-PATH bytes=N" for
every file in DIR (sorted), and "script write failures: N" when writes failed (exit status 1).
"rows" prints the rows of the window shown last, one line per row ("$#$" after every value;
a carriage return, line feed or backslash inside a value is printed as \r, \n or \\), then
"rows: COUNT last-window: 0|1".
Tables and objects are ordered by object id. Exit status 0 on success, 1 on failure, 2 on
bad usage. The engine's log goes to "Log Files" beside the driver.
)";

struct Args {
  std::string command;
  std::vector<std::string> positional;
  int set = 1;
  bool rows = false;
  int window = 1;
  int back = 0;
  int format = 2008;
};

bool Parse(int argc, char** argv, Args& a) {
  if (argc < 2) return false;
  a.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--set" && i + 1 < argc) {
      a.set = std::atoi(argv[++i]);
    } else if (arg == "--rows") {
      a.rows = true;
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

// The engine of the --format given: 2000 for 2000 files, the 2008 engine for 2005 and 2008.
template <class Engine>
int Sets(const Args& a) {
  if (a.positional.size() != 1) return 2;
  Engine engine;
  engine.m_strFilePath = a.positional[0].c_str();
  engine.ScanDataSets();
  testsupport::PrintSets(engine, std::cout);
  return 0;
}

template <class Engine>
int Scan(const Args& a) {
  if (a.positional.size() != 1) return 2;
  Engine engine;
  testsupport::RecoveryOptions options;
  options.selectedSet = a.set;
  testsupport::RecoveryResult r = testsupport::RunRecovery(engine, a.positional[0], options);
  std::cout << "recovery: " << (r.finished ? "finished" : "unfinished") << " pages-counted=" << r.pagesCounted
            << " sys-rounds=" << r.sysRounds << "\n";
  testsupport::PrintCensus(engine, std::cout);
  testsupport::PrintCatalog(engine, std::cout);
  return r.finished ? 0 : 1;
}

template <class Engine>
int Save(const Args& a) {
  if (a.positional.size() != 2) return 2;
  Engine engine;
  testsupport::RecoveryOptions options;
  options.selectedSet = a.set;
  testsupport::RecoveryResult r = testsupport::RunRecovery(engine, a.positional[0], options);
  if (!r.finished) {
    std::cout << "save failed: the scan did not finish\n";
    return 1;
  }
  CString error;
  if (!engine.SaveScanFile(a.positional[1].c_str(), &error)) {
    std::cout << "save failed: " << error.str() << "\n";
    return 1;
  }
  std::cout << "saved: " << a.positional[1] << "\n";
  return 0;
}

template <class Engine>
int LoadWith(CArchive& ar, const Args& a) {
  auto engine = std::make_unique<Engine>();
  engine->FreeRecoveredObjects();
  try {
    engine->LoadScanInfo(ar);
  } catch (const CArchiveException& e) {
    std::cout << "load failed: " << e.what() << "\n";
    testsupport::PrintCatalog(*engine, std::cout);
    return 1;
  }
  std::cout << "loaded: " << a.positional[0] << "\n";
  testsupport::PrintCatalog(*engine, std::cout);
  return 0;
}

// Open Scan: the file's own version picks the engine.
int Load(const Args& a) {
  if (a.positional.size() != 1) return 2;
  CString version;
  CArchive ar;
  if (!ar.Open(a.positional[0].c_str(), CArchive::load)) {
    std::cout << "load failed: the file cannot be opened\n";
    return 1;
  }
  try {
    CString magic;
    ar >> magic;
    if (magic != "tarnwell") throw CArchiveException(CArchiveException::badFormat);
    ar >> version;
  } catch (const CArchiveException&) {
    std::cout << "The selected file is not an str file.\n";
    return 1;
  }
  if (version == "2000") return LoadWith<CSQLServer2000>(ar, a);
  if (version == "2008") return LoadWith<CSQLServer2008>(ar, a);
  std::cout << "load failed: scan file of version " << version.str() << "\n";
  return 1;
}

// Orders a map's entries by the object id their key holds, as the catalog text does.
template <class V>
std::vector<V> ByObjectId(const CStringKeyMap<V>& map) {
  std::vector<std::pair<long long, V>> entries;
  for (const auto& e : map)
    if (e.second) entries.emplace_back(std::atoll(e.first.c_str()), e.second);
  std::stable_sort(entries.begin(), entries.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  std::vector<V> out;
  for (auto& e : entries) out.push_back(e.second);
  return out;
}

// The table script's file name, as the program's export worker builds it.
std::string ScriptFileName(const CString& tableName) {
  std::string name = tableName.str();
  for (char& c : name)
    if (c != '\0' && std::strchr("*/\\:?<>", c)) c = '_';
  return name;
}

// Plays the program's export worker for a script target: the same files, opened in the same
// order, and the engine's operations called in the program's order.
int Export(const Args& a) {
  if (a.positional.size() != 2) return 2;
  namespace fs = std::filesystem;
  const std::string dir = a.positional[1];
  std::error_code ec;
  fs::create_directories(fs::path(dir) / "Tables", ec);
  if (ec) {
    std::cout << "export failed: Directory could not be created\n";
    return 1;
  }
  CSQLServer2008 engine;
  testsupport::RecoveryOptions options;
  options.selectedSet = a.set;
  testsupport::RecoveryResult r = testsupport::RunRecovery(engine, a.positional[0], options);
  if (!r.finished) {
    std::cout << "export failed: the scan did not finish\n";
    return 1;
  }
  auto path = [&](const std::string& name) { return (fs::path(dir) / name).string(); };

  engine.m_bExportToServer = 0;
  engine.m_strOutputFolder = dir.c_str();
  engine.m_hUserTypesSqlFile = CreateFileForWrite(path("UserDefinedDatatypes.sql").c_str());
  engine.GenerateUserDataTypeQueries();  // closes its file itself

  engine.m_bExportRows = a.rows ? 1 : 0;
  // Default.sql gathers the default objects of every table, so it is started once and each
  // table's defaults are appended.
  FILE_HANDLE defaults = CreateFileForWrite(path("Default.sql").c_str());
  CloseFileHandle(defaults);
  std::set<std::string> usedNames;
  for (CTable* table : ByObjectId(engine.m_mapTables)) {
    std::string base = ScriptFileName(table->m_strName);
    // Two schemas may hold tables of one name: the second script must not replace the first.
    if (!usedNames.insert(base).second) {
      base += "_" + std::to_string(table->m_dwObjectId);
      usedNames.insert(base);
    }
    const std::string script = "Tables/" + base + ".sql";
    engine.m_hTableSqlFile = CreateFileForWrite(path(script).c_str());
    engine.m_hConstraintSqlFile = CreateFileForWrite(path("Tables/" + base + "_Constraint.sql").c_str());
    engine.m_hDefaultSqlFile = OpenFileForAppend(path("Default.sql").c_str());
    table->m_nRowsExported = 0;
    engine.GenerateTableQueries(table, nullptr);
    CloseFileHandle(engine.m_hTableSqlFile);
    CloseFileHandle(engine.m_hConstraintSqlFile);
    CloseFileHandle(engine.m_hDefaultSqlFile);
    std::cout << "table [" << table->m_strOwner.str() << "].[" << table->m_strName.str()
              << "] rows=" << table->m_nRowsExported << " script=" << script << "\n";
  }
  engine.m_bExportMode = 0;

  struct Kind {
    const char* file;
    FILE_HANDLE CSQLServer::*handle;
    CStringKeyMap<CViewStoredProc*>* objects;
    void (CSQLServer2008::*generate)(CViewStoredProc*);
  } kinds[] = {
      {"Views.sql", &CSQLServer::m_hViewsSqlFile, &engine.m_mapViews, &CSQLServer2008::GenerateViewQueries},
      {"Stored_Procedure.sql", &CSQLServer::m_hProcSqlFile, &engine.m_mapStoredProcs,
       &CSQLServer2008::GenerateStoredProcQueries},
      {"Functions.sql", &CSQLServer::m_hFunctionsSqlFile, &engine.m_mapFunctions,
       &CSQLServer2008::GenerateFunctionQueries},
      {"Rules.sql", &CSQLServer::m_hRulesSqlFile, &engine.m_mapRules, &CSQLServer2008::GenerateRulesQueries},
      {"Triggers.sql", &CSQLServer::m_hTriggersSqlFile, &engine.m_mapTriggers, &CSQLServer2008::GenerateTriggerQueries},
  };
  for (const Kind& k : kinds) {
    engine.*k.handle = CreateFileForWrite(path(k.file).c_str());
    for (CViewStoredProc* object : ByObjectId(*k.objects)) (engine.*k.generate)(object);
    CloseFileHandle(engine.*k.handle);
  }
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
  CSQLServer2008 engine;
  testsupport::RecoveryOptions options;
  options.selectedSet = a.set;
  testsupport::RecoveryResult r = testsupport::RunRecovery(engine, a.positional[0], options);
  if (!r.finished) {
    std::cout << "rows failed: the scan did not finish\n";
    return 1;
  }
  CTable* table = testsupport::FindTable(engine, a.positional[1]);
  if (!table) {
    std::cout << "rows failed: no table " << a.positional[1] << "\n";
    return 1;
  }
  testsupport::PreviewWindow w = testsupport::SelectTable(engine, table);
  for (int k = 1; k < a.window && w.finished; ++k) w = testsupport::NextWindow(engine);
  for (int k = 0; k < a.back && w.finished; ++k) w = testsupport::PreviousWindow(engine);
  if (!w.finished) {
    std::cout << "rows failed: the record thread did not finish\n";
    return 1;
  }
  for (const std::string& row : w.rows) std::cout << RowLine(row) << "\n";
  std::cout << "rows: " << w.rows.size() << " last-window: " << (w.lastWindow ? 1 : 0) << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Args a;
  if (!Parse(argc, argv, a) || a.command == "help" || a.command == "--help") {
    std::cout << kUsage;
    return (a.command == "help" || a.command == "--help") ? 0 : 2;
  }
  int rc = 2;
  const bool format2000 = a.format == 2000;
  if ((a.command == "export" || a.command == "rows") && format2000) {
    std::cout << a.command << " failed: the 2000 engine does not decode rows or write scripts yet\n";
    return 1;
  }
  if (a.command == "sets") rc = format2000 ? Sets<CSQLServer2000>(a) : Sets<CSQLServer2008>(a);
  else if (a.command == "scan") rc = format2000 ? Scan<CSQLServer2000>(a) : Scan<CSQLServer2008>(a);
  else if (a.command == "save") rc = format2000 ? Save<CSQLServer2000>(a) : Save<CSQLServer2008>(a);
  else if (a.command == "load") rc = Load(a);
  else if (a.command == "export") rc = Export(a);
  else if (a.command == "rows") rc = Rows(a);
  if (rc == 2) std::cerr << kUsage;
  return rc;
}
