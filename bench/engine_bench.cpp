// engine-bench: throughput and memory of the 2008 engine on one large backup, each figure
// set against a baseline measured in the same run on the same file or disk.
//
//   engine-bench SMALL.bak LARGE.bak WORKDIR [--repeat N] [--hand-over N] [--only LIST]
//
// LIST picks figures by name, comma-separated: census, scan, preview, export, memory (the
// preview and the export run on the engine of the full scan, so they measure it too).
// --hand-over sets the census pages per hand-over of the census figure and the memory scans;
// the scan figure follows the scan as the program does, with the program's own hand-over.
//
// SMALL is the backup LARGE was grown from (make-large-backup); it gives the memory of a
// scan with the catalog alone. WORKDIR receives the logs, the export and the write
// baseline, on the disk the export would use. Prints one table; exit status 0 when every
// figure that could be measured met its target, 1 when one missed it.
#include <sys/resource.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "benchsupport.h"
#include "common/backupreader.h"
#include "common/page.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/fakeprogram.h"
#include "ui/core/previewdriver.h"
#include "ui/core/scanfollower.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace bench;

// The chosen set's data stream: what the census reads.
struct Stream {
  UINT64 offset = 0;
  UINT64 length = 0;
  UINT64 pages() const { return length / kPageSize; }
};

bool FindStream(const std::string& path, Stream& s) {
  CBackupReader reader;
  reader.ReadDataSets(path.c_str());
  CBackupSet* set = reader.GetSet(1);
  if (!set || !set->m_pStream) return false;
  s.offset = set->m_pStream->nOffset;
  s.length = set->m_pStream->nLength;
  return true;
}

// The baseline of the read figures: the stream's bytes read front to back in 1 MiB pieces.
double PlainRead(const std::string& path, const Stream& s) {
  CSourceFile f;
  if (!f.Open(path.c_str())) return 0;
  std::vector<BYTE> buffer(size_t(1) << 20);
  const auto start = Clock::now();
  UINT64 done = 0;
  unsigned sink = 0;
  while (done < s.length) {
    size_t want = size_t(std::min<UINT64>(buffer.size(), s.length - done));
    size_t got = f.ReadAt(s.offset + done, buffer.data(), want);
    if (got == 0) break;
    sink += buffer[0];
    done += got;
  }
  const double seconds = SecondsSince(start);
  if (sink == 0xFFFFFFFFu) std::puts("");
  return seconds;
}

// The census alone, with a headless progress partner answering every hand-over as the
// program's page thread does. Strict: one page counted per "PageRead"; else the partner
// counts what the engine says it has read.
struct CensusRun {
  double seconds = 0;
  long long counted = 0;
  long long handOvers = 0;
};

CensusRun RunCensus(const std::string& path, int handOverEvery) {
  CensusRun run;
  CSQLServer2008 engine;
  engine.m_strFilePath = path.c_str();
  engine.ScanDataSets();
  engine.m_nSelectedDataSet = 1;
  engine.LocateBackupDataSet();
  engine.SetCensusHandOverEvery(handOverEvery);
  CEngineStatus* st = engine.m_pStatus;
  const bool strict = handOverEvery <= 1;
  std::thread partner([&] {
    long long count = 0;
    for (;;) {
      if (WaitForEvent(st->m_hPageRead, 100) != WaitResult::Signalled) continue;
      ResetEvent(st->m_hPageRead);
      ++run.handOvers;
      count = strict ? count + 1 : engine.m_nCensusPagesRead.load(std::memory_order_acquire);
      const bool end = count >= st->m_nTotalPages || st->m_bAllPagesRead;
      SetEvent(st->m_hRecordEvent);
      if (end) break;
    }
    run.counted = count;
  });
  const auto start = Clock::now();
  engine.ReadAllPages();
  run.seconds = SecondsSince(start);
  partner.join();
  // As the scan thread does once the partner has finished: the census's last "PageRead" would
  // otherwise wake the next partner in this process before its census has begun.
  ResetEvent(st->m_hPageRead);
  ResetEvent(st->m_hRecordEvent);
  return run;
}

// A whole scan as the program runs it: the program's scan follower answers the hand-overs
// and hand-shakes (testsupport::RunRecovery is a thin front end of it).
struct ScanRun {
  double seconds = 0;
  bool finished = false;
  long long counted = 0;
};

ScanRun RunScan(CSQLServer2008& engine, const std::string& path, int handOverEvery) {
  testsupport::RecoveryOptions o;
  o.censusHandOverEvery = handOverEvery;
  o.timeoutMs = 600000;
  const auto start = Clock::now();
  testsupport::RecoveryResult r = testsupport::RunRecovery(engine, path, o);
  ScanRun run;
  run.seconds = SecondsSince(start);
  run.finished = r.finished;
  run.counted = r.pagesCounted;
  return run;
}

CTable* LargestTable(CSQLServer2008& engine) {
  CTable* best = nullptr;
  for (const auto& e : engine.m_mapTables) {
    CTable* t = e.second;
    if (t && !t->m_strName.IsEmpty() && (!best || t->m_vecDataPages.size() > best->m_vecDataPages.size())) best = t;
  }
  return best;
}

// The first preview window of a table, started as the program's tree selection starts it.
// Seconds until the record thread says it is done; negative when it never does.
double FirstPreviewWindow(CSQLServer2008& engine, CTable* table, size_t& rows) {
  CEngineStatus* st = engine.m_pStatus;
  uicore::ResetPaging(engine);
  {
    std::lock_guard<std::mutex> lock(st->m_csPreviewRows);
    st->m_vecPreviewRows.clear();
  }
  st->m_pPreviewTable = table;
  const auto start = Clock::now();
  engine.StartRecoverTableRecordThread();
  while (!st->m_bRecordThreadDone) {
    if (SecondsSince(start) > 10) return -1;
    std::this_thread::yield();
  }
  const double seconds = SecondsSince(start);
  {
    std::lock_guard<std::mutex> lock(st->m_csPreviewRows);
    rows = st->m_vecPreviewRows.size();
  }
  // The record thread sets its done flag just before it returns.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return seconds;
}

// Script export of one table's rows, with the files the program's export worker opens.
struct ExportRun {
  double seconds = 0;
  double cpuSeconds = 0;  // of the exporting thread: user and system
  long long rows = 0;
  UINT64 bytes = 0;
};

ExportRun ExportRows(CSQLServer2008& engine, CTable* table, const std::string& dir) {
  ExportRun run;
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(fs::path(dir) / "Tables", ec);
  auto path = [&](const std::string& name) { return (fs::path(dir) / name).string(); };
  engine.m_bExportToServer = 0;
  engine.m_strOutputFolder = dir.c_str();
  engine.m_hUserTypesSqlFile = CreateFileForWrite(path("UserDefinedDatatypes.sql").c_str());
  engine.GenerateUserDataTypeQueries();
  engine.m_bExportRows = 1;
  const std::string script = path("Tables/table.sql");
  engine.m_hTableSqlFile = CreateFileForWrite(script.c_str());
  engine.m_hConstraintSqlFile = CreateFileForWrite(path("Tables/table_Constraint.sql").c_str());
  engine.m_hDefaultSqlFile = OpenFileForAppend(path("Default.sql").c_str());
  table->m_nRowsExported = 0;
  // Both the export and its baseline start with nothing of earlier writes waiting for the disk.
  ::sync();
  const double cpuStart = ThreadCpuSeconds();
  const auto start = Clock::now();
  engine.GenerateTableQueries(table, nullptr);
  run.seconds = SecondsSince(start);
  run.cpuSeconds = ThreadCpuSeconds() - cpuStart;
  CloseFileHandle(engine.m_hTableSqlFile);
  CloseFileHandle(engine.m_hConstraintSqlFile);
  CloseFileHandle(engine.m_hDefaultSqlFile);
  engine.m_bExportMode = 0;
  run.rows = table->m_nRowsExported;
  run.bytes = fs::file_size(script, ec);
  if (ec) run.bytes = 0;
  return run;
}

long ReadHighWaterKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// Peak resident memory of a whole scan, in a child process of its own.
struct MemoryRun {
  long hwmKb = -1;
  long long pages = 0;
};

MemoryRun ScanInChild(const std::string& self, const std::string& path, int handOverEvery) {
  MemoryRun run;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  const std::string hand = std::to_string(handOverEvery);
  std::vector<char*> args = {const_cast<char*>(self.c_str()), const_cast<char*>("--child-scan"),
                             const_cast<char*>(path.c_str()), const_cast<char*>(hand.c_str()), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  std::string text;
  char buf[256];
  ssize_t n;
  while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) text.append(buf, size_t(n));
  close(pipeFds[0]);
  if (rc != 0) return run;
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return run;
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    if (word.rfind("hwm_kb=", 0) == 0) run.hwmKb = std::atol(word.c_str() + 7);
    if (word.rfind("pages=", 0) == 0) run.pages = std::atoll(word.c_str() + 6);
  }
  return run;
}

int ChildScan(const std::string& path, int handOverEvery) {
  CSQLServer2008 engine;
  ScanRun run = RunScan(engine, path, handOverEvery);
  if (!run.finished) return 1;
  std::printf("pages=%d hwm_kb=%ld\n", int(engine.m_pStatus->m_nTotalPages), ReadHighWaterKb());
  return 0;
}

// ---- the table

struct Row {
  std::string figure, measured, baseline, ratio, target, verdict;
};

std::string Fmt(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// 1234567 -> "1,234,567"
std::string Grouped(double v) {
  std::string digits = std::to_string((long long)(v + 0.5));
  std::string out;
  int n = 0;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (n && n % 3 == 0 && *it != '-') out.insert(out.begin(), ',');
    out.insert(out.begin(), *it);
    ++n;
  }
  return out;
}

void PrintTable(const std::vector<Row>& rows) {
  size_t w[6] = {6, 8, 8, 5, 6, 7};
  auto fit = [&](const Row& r) {
    const std::string* c[6] = {&r.figure, &r.measured, &r.baseline, &r.ratio, &r.target, &r.verdict};
    for (int i = 0; i < 6; ++i) w[i] = std::max(w[i], c[i]->size());
  };
  Row head{"figure", "measured", "baseline", "ratio", "target", "verdict"};
  fit(head);
  for (const Row& r : rows) fit(r);
  auto line = [&](const Row& r) {
    std::printf("| %-*s | %*s | %*s | %*s | %-*s | %-*s |\n", int(w[0]), r.figure.c_str(), int(w[1]),
                r.measured.c_str(), int(w[2]), r.baseline.c_str(), int(w[3]), r.ratio.c_str(), int(w[4]),
                r.target.c_str(), int(w[5]), r.verdict.c_str());
  };
  line(head);
  std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(w[0] + 2, '-').c_str(), std::string(w[1] + 2, '-').c_str(),
              std::string(w[2] + 2, '-').c_str(), std::string(w[3] + 2, '-').c_str(),
              std::string(w[4] + 2, '-').c_str(), std::string(w[5] + 2, '-').c_str());
  for (const Row& r : rows) line(r);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--child-scan") {
    SetModuleFolderOverride(fs::temp_directory_path().string());
    return ChildScan(argv[2], std::atoi(argv[3]));
  }
  std::string small, large, work;
  int repeat = 5;
  int handOver = 1024;
  std::string only = "census,scan,preview,export,memory";
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--repeat" && i + 1 < argc) repeat = std::max(1, std::atoi(argv[++i]));
    else if (a == "--only" && i + 1 < argc) only = argv[++i];
    else if (a == "--hand-over" && i + 1 < argc) handOver = std::max(2, std::atoi(argv[++i]));
    else if (small.empty()) small = a;
    else if (large.empty()) large = a;
    else if (work.empty()) work = a;
  }
  if (work.empty()) {
    std::fprintf(stderr, "usage: engine-bench SMALL.bak LARGE.bak WORKDIR [--repeat N] [--hand-over N] [--only LIST]\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  fs::create_directories(fs::path(work) / "logs");
  SetModuleFolderOverride((fs::path(work) / "logs").string());
  // The child scans log beside their own temporary folder, so keep theirs in WORKDIR too.
  setenv("TMPDIR", (fs::path(work) / "logs").c_str(), 1);

  Stream stream;
  if (!FindStream(large, stream)) {
    std::fprintf(stderr, "engine-bench: no backup set in %s\n", large.c_str());
    return 1;
  }
  const double pages = double(stream.pages());
  const double mb = double(stream.length) / 1e6;
  std::printf("large backup: %s, %.0f pages (%.1f MB) in its data stream; median of %d paired runs; "
              "census hands over every %d pages\n\n",
              large.c_str(), pages, mb, repeat, handOver);

  std::vector<std::string> figures;
  for (std::stringstream list(only); list.good();) {
    std::string name;
    std::getline(list, name, ',');
    figures.push_back(name);
  }
  auto wanted = [&](const char* figure) { return std::find(figures.begin(), figures.end(), figure) != figures.end(); };
  std::vector<Row> rows;
  bool allMet = true;
  auto verdict = [&](bool met) {
    allMet = allMet && met;
    return std::string(met ? "met" : "MISSED");
  };

  PlainRead(large, stream);  // brings the file into the page cache
  // Each run of a read figure is paired with a plain read just before it, so both see the
  // machine alike; the pair with the median ratio is the one reported.
  struct Pair {
    double readSeconds = 0;
    double seconds = 0;
    double ratio() const { return readSeconds / seconds; }
  };
  auto median = [](std::vector<Pair> pairs) {
    std::sort(pairs.begin(), pairs.end(), [](const Pair& x, const Pair& y) { return x.ratio() < y.ratio(); });
    return pairs[pairs.size() / 2];
  };
  double readSeconds = 0;  // of the pairs reported, for the last line
  auto readFigure = [&](const Pair& p) { return Grouped(pages / p.readSeconds) + " read"; };

  if (wanted("census")) {
    std::vector<Pair> pairs;
    bool counted = true;
    for (int i = 0; i < repeat; ++i) {
      Pair p;
      p.readSeconds = PlainRead(large, stream);
      const CensusRun run = RunCensus(large, handOver);
      p.seconds = run.seconds;
      counted = counted && run.counted == (long long)pages;
      pairs.push_back(p);
    }
    const Pair m = median(pairs);
    readSeconds = m.readSeconds;
    rows.push_back({"census, coalesced partner (pages/s)", Grouped(pages / m.seconds), readFigure(m),
                    Fmt("%.2f", m.ratio()), ">= 0.50", counted ? verdict(m.ratio() >= 0.5) : verdict(false) + " (count)"});
    Pair strict;
    strict.readSeconds = PlainRead(large, stream);
    const CensusRun run = RunCensus(large, 1);
    strict.seconds = run.seconds;
    rows.push_back({"census, strict lock-step (us/page)", Fmt("%.2f", strict.seconds / pages * 1e6),
                    Fmt("%.2f", strict.readSeconds / pages * 1e6) + " read", Fmt("%.2f", strict.ratio()),
                    "(for information)", run.counted == (long long)pages ? "" : "count wrong"});
  }

  // The engine of the last full scan serves the preview and the export.
  CSQLServer2008* kept = nullptr;
  if (wanted("scan") || wanted("preview") || wanted("export")) {
    std::vector<Pair> pairs;
    bool finished = true;
    for (int i = 0; i < (wanted("scan") ? repeat : 1); ++i) {
      delete kept;
      kept = new CSQLServer2008();
      Pair p;
      p.readSeconds = PlainRead(large, stream);
      // The hand-over the program itself asks for.
      const ScanRun run = RunScan(*kept, large, uicore::ScanFollowerOptions().handOverEvery);
      p.seconds = run.seconds;
      finished = finished && run.finished && run.counted == (long long)pages;
      pairs.push_back(p);
    }
    if (wanted("scan")) {
      const Pair m = median(pairs);
      if (readSeconds == 0) readSeconds = m.readSeconds;
      rows.push_back({"scan followed by the program's scan follower (pages/s)", Grouped(pages / m.seconds), readFigure(m),
                      Fmt("%.2f", m.ratio()), ">= 0.50",
                      finished ? verdict(m.ratio() >= 0.5) : verdict(false) + " (unfinished)"});
    }
  }

  CTable* table = kept ? LargestTable(*kept) : nullptr;
  if (kept)
    std::printf("largest table: %s\n", table ? ("[" + table->m_strName.str() + "], " +
                                               std::to_string(table->m_vecDataPages.size()) + " pages")
                                                  .c_str()
                                             : "none");

  if (table && wanted("preview")) {
    size_t windowRows = 0;
    double best = -1;
    for (int i = 0; i < std::max(repeat, 5); ++i) {
      size_t r = 0;
      double s = FirstPreviewWindow(*kept, table, r);
      if (s < 0) break;
      if (best < 0 || s < best) best = s;
      windowRows = r;
    }
    if (best < 0 || windowRows == 0)
      rows.push_back({"first preview window (ms)", "n/a", "", "", "< 20 ms", "not built"});
    else
      rows.push_back({"first preview window (ms), " + std::to_string(windowRows) + " rows", Fmt("%.2f", best * 1e3),
                      "", "", "< 20 ms", verdict(best < 0.020 && windowRows == 500)});
  }

  if (table && wanted("export")) {
    const std::string exportDir = (fs::path(work) / "export").string();
    ExportRun ex = ExportRows(*kept, table, exportDir);
    if (ex.rows == 0) {
      rows.push_back({"script export (rows/s)", "n/a", "", "", "> 1,000,000", "not built"});
    } else {
      std::printf("script export: %lld rows, %.1f MB of script, %.1f bytes a row, in %.2f s (%.2f s of CPU)\n",
                  ex.rows, double(ex.bytes) / 1e6, double(ex.bytes) / double(ex.rows), ex.seconds, ex.cpuSeconds);
      std::error_code ec;
      fs::remove_all(exportDir, ec);
      const double writeSeconds = PlainWrite((fs::path(work) / "write.tmp").string(), ex.bytes);
      const double rowRate = double(ex.rows) / ex.seconds;
      const double outRate = double(ex.bytes) / 1e6 / ex.seconds;
      const double writeRate = double(ex.bytes) / 1e6 / writeSeconds;
      rows.push_back({"script export, " + Grouped(double(ex.rows)) + " rows (rows/s)", Grouped(rowRate), "", "",
                      "> 1,000,000", verdict(rowRate > 1e6)});
      rows.push_back({"script export (MB of script/s)", Fmt("%.1f", outRate), Fmt("%.1f", writeRate) + " write",
                      Fmt("%.2f", outRate / writeRate), "(for information)", ""});
    }
    std::error_code ec;
    fs::remove_all(exportDir, ec);
  }
  delete kept;

  if (wanted("memory")) {
    const MemoryRun base = ScanInChild(self, small, handOver);
    const MemoryRun big = ScanInChild(self, large, handOver);
    if (base.hwmKb < 0 || big.hwmKb < 0 || big.pages <= base.pages) {
      rows.push_back({"scan peak memory (bytes/page)", "n/a", "", "", "<= 16", verdict(false) + " (child failed)"});
    } else {
      const double perPage = double(big.hwmKb - base.hwmKb) * 1024.0 / double(big.pages - base.pages);
      rows.push_back({"scan peak memory beyond the catalog (bytes/page)", Fmt("%.1f", perPage),
                      Grouped(double(base.hwmKb)) + " KiB small", "", "<= 16", verdict(perPage <= 16)});
      std::printf("peak resident: %ld KiB for %lld pages, %ld KiB for %lld pages\n", base.hwmKb, base.pages,
                  big.hwmKb, big.pages);
    }
  }
  if (readSeconds > 0) std::printf("plain read of the stream: %.3f s (%.0f MB/s)\n", readSeconds, mb / readSeconds);
  std::printf("\n");
  PrintTable(rows);
  return allMet ? 0 : 1;
}
