// engine-driver: plays the desktop program's side of the engine without a GUI and prints
// what the engine recovers as stable text. A test and inspection tool, not installed.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/archive.h"
#include "support/catalogtext.h"
#include "support/fakeprogram.h"

namespace {

const char* const kUsage = R"(usage: engine-driver COMMAND ...

  sets FILE              list the backup sets of a backup file
  scan FILE [--set N]    scan FILE (set N of a backup, 1 by default) and print the catalog
  save FILE SCANFILE [--set N]
                         scan FILE and save the scan to SCANFILE
  load SCANFILE          open a scan file as the program's Open Scan does and print its catalog
  help                   this text

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
scan file. Tables and objects are ordered by object id. Exit status 0 on success, 1 on failure, 2 on
bad usage. The engine's log goes to "Log Files" beside the driver.
)";

struct Args {
  std::string command;
  std::vector<std::string> positional;
  int set = 1;
};

bool Parse(int argc, char** argv, Args& a) {
  if (argc < 2) return false;
  a.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--set" && i + 1 < argc) {
      a.set = std::atoi(argv[++i]);
    } else if (arg.rfind("--", 0) == 0) {
      return false;
    } else {
      a.positional.push_back(arg);
    }
  }
  return true;
}

int Sets(const Args& a) {
  if (a.positional.size() != 1) return 2;
  CSQLServer2008 engine;
  engine.m_strFilePath = a.positional[0].c_str();
  engine.ScanDataSets();
  testsupport::PrintSets(engine, std::cout);
  return 0;
}

int Scan(const Args& a) {
  if (a.positional.size() != 1) return 2;
  CSQLServer2008 engine;
  testsupport::RecoveryOptions options;
  options.selectedSet = a.set;
  testsupport::RecoveryResult r = testsupport::RunRecovery(engine, a.positional[0], options);
  std::cout << "recovery: " << (r.finished ? "finished" : "unfinished") << " pages-counted=" << r.pagesCounted
            << " sys-rounds=" << r.sysRounds << "\n";
  testsupport::PrintCensus(engine, std::cout);
  testsupport::PrintCatalog(engine, std::cout);
  return r.finished ? 0 : 1;
}

int Save(const Args& a) {
  if (a.positional.size() != 2) return 2;
  CSQLServer2008 engine;
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

int Load(const Args& a) {
  if (a.positional.size() != 1) return 2;
  CString version;
  std::unique_ptr<CSQLServer2008> engine;
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
  if (version != "2008") {
    std::cout << "load failed: scan file of version " << version.str() << "\n";
    return 1;
  }
  engine = std::make_unique<CSQLServer2008>();
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

}  // namespace

int main(int argc, char** argv) {
  Args a;
  if (!Parse(argc, argv, a) || a.command == "help" || a.command == "--help") {
    std::cout << kUsage;
    return (a.command == "help" || a.command == "--help") ? 0 : 2;
  }
  int rc = 2;
  if (a.command == "sets") rc = Sets(a);
  else if (a.command == "scan") rc = Scan(a);
  else if (a.command == "save") rc = Save(a);
  else if (a.command == "load") rc = Load(a);
  if (rc == 2) std::cerr << kUsage;
  return rc;
}
