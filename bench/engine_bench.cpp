// engine-bench: throughput and memory of the 2008 engine on one large backup, each figure
// set against a baseline measured in the same run on the same file or disk.
//
//   engine-bench SMALL.bak LARGE.bak WORKDIR [--repeat N] [--hand-over N] [--only LIST]
//                [--mdf2000 LARGE.mdf]
//
// LIST picks figures by name, comma-separated: census, scan, preview, presses, export,
// memory (the preview, the presses and the export run on the engine of the full scan, so they
// measure it too); census2000 and scan2000 (the 2000 engine on LARGE.mdf, a 2000 database
// grown by make-large-mdf2000); tree (the object tree of a synthetic catalog of 20,000
// tables, built by the program's core and mirrored into the window's tree).
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
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "benchsupport.h"
#include "common/backupreader.h"
#include "common/page.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/fakeprogram.h"
#include "ui/core/enginefactory.h"
#include "ui/core/objecttree.h"
#include "ui/core/previewdriver.h"
#include "ui/core/scanfollower.h"
#include "treefill.h"

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

// Either engine: a 2008 one on a backup's first set, a 2000 one on a plain database file.
template <class Engine>
CensusRun RunCensus(const std::string& path, int handOverEvery) {
  CensusRun run;
  Engine engine;
  engine.m_strFilePath = path.c_str();
  engine.ScanDataSets();
  engine.m_nSelectedDataSet = 1;
  if constexpr (std::is_same_v<Engine, CSQLServer2008>) engine.LocateBackupDataSet();
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

ScanRun RunScan(CSQLServer& engine, const std::string& path, int handOverEvery) {
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

// "Next" pressed again and again in the preview, through the program's preview driver: the
// time from each press to its page in the sink. Empty when the table ends before `presses`.
class PageClock : public uicore::IPreviewSink {
 public:
  void ShowPage(const uicore::PreviewPage& page) override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_pages;
      m_next = page.nextEnabled;
      m_rows = page.rows.size();
    }
    m_cv.notify_all();
  }
  // Waits for page number `n` (1 for the first); false when it did not come in time.
  bool WaitFor(int n, bool& next, size_t& rows) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_cv.wait_for(lock, std::chrono::seconds(10), [&] { return m_pages >= n; })) return false;
    next = m_next;
    rows = m_rows;
    return true;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  int m_pages = 0;
  bool m_next = false;
  size_t m_rows = 0;
};

std::vector<double> PressNext(CSQLServer& engine, CTable* table, int presses) {
  PageClock sink;
  uicore::PreviewDriver driver(engine, sink);
  bool next = false;
  size_t rows = 0;
  if (driver.SelectTable(table) != uicore::PreviewStart::Started || !sink.WaitFor(1, next, rows)) return {};
  std::vector<double> seconds;
  for (int k = 1; k <= presses; ++k) {
    if (!next) return {};
    // The driver takes a press once its page is out; the sink sees the page right after.
    driver.WaitIdle(std::chrono::seconds(10));
    const auto start = Clock::now();
    if (driver.NextPage() != uicore::PreviewStart::Started || !sink.WaitFor(k + 1, next, rows)) return {};
    seconds.push_back(SecondsSince(start));
    if (rows == 0) return {};
  }
  return seconds;
}

// The median of presses [from, from + 4] (1-based).
double MedianPress(std::vector<double> seconds, size_t from) {
  std::vector<double> five(seconds.begin() + long(from - 1), seconds.begin() + long(std::min(seconds.size(), from + 4)));
  std::sort(five.begin(), five.end());
  return five[five.size() / 2];
}

// A catalog as a scan of a big database would leave it: `tables` tables of `columns` columns.
void FillSyntheticCatalog(CSQLServer2008& engine, int tables, int columns) {
  engine.m_strDatabaseName = "Synthetic";
  for (int i = 0; i < tables; ++i) {
    CTable* t = engine.NewTable();
    t->m_strName = FormatString("table%05d", i);
    t->m_strOwner = "dbo";
    t->m_dwObjectId = DWORD(100000 + i);
    for (int c = 0; c < columns; ++c) {
      auto* column = new CColumn();
      column->m_strName = FormatString("column%02d", c);
      column->m_strType = c == 0 ? "int" : "nvarchar";
      column->m_wLength = WORD(c == 0 ? 4 : 80);
      column->m_nColumnId = c + 1;
      t->AppendColumn(column);
    }
    engine.m_mapTables.SetAt(FormatString("%lu", (unsigned long)t->m_dwObjectId).view(), t);
  }
}

double ThreadCpuSeconds() {
  rusage u {};
  getrusage(RUSAGE_THREAD, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
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

// Each run of a read figure is paired with a plain read just before it, so both see the
// machine alike; the pair with the median ratio is the one reported.
struct Pair {
  double readSeconds = 0;
  double seconds = 0;
  double ratio() const { return readSeconds / seconds; }
};

Pair median(std::vector<Pair> pairs) {
  std::sort(pairs.begin(), pairs.end(), [](const Pair& x, const Pair& y) { return x.ratio() < y.ratio(); });
  return pairs[pairs.size() / 2];
}

// `repeat` censuses of the file, each after its plain read; `counted` says whether every one
// counted each page.
template <class Engine>
Pair CensusFigure(const std::string& path, const Stream& stream, int handOver, int repeat, bool& counted) {
  std::vector<Pair> pairs;
  counted = true;
  for (int i = 0; i < repeat; ++i) {
    Pair p;
    p.readSeconds = PlainRead(path, stream);
    const CensusRun run = RunCensus<Engine>(path, handOver);
    p.seconds = run.seconds;
    counted = counted && run.counted == (long long)stream.pages();
    pairs.push_back(p);
  }
  return median(pairs);
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
  std::string only = "census,scan,preview,presses,export,memory,census2000,scan2000,tree";
  std::string mdf2000;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--repeat" && i + 1 < argc) repeat = std::max(1, std::atoi(argv[++i]));
    else if (a == "--only" && i + 1 < argc) only = argv[++i];
    else if (a == "--hand-over" && i + 1 < argc) handOver = std::max(2, std::atoi(argv[++i]));
    else if (a == "--mdf2000" && i + 1 < argc) mdf2000 = argv[++i];
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
  double readSeconds = 0;  // of the pairs reported, for the last line
  auto readFigure = [&](const Pair& p) { return Grouped(pages / p.readSeconds) + " read"; };

  if (wanted("census")) {
    bool counted = true;
    const Pair m = CensusFigure<CSQLServer2008>(large, stream, handOver, repeat, counted);
    readSeconds = m.readSeconds;
    rows.push_back({"census, coalesced partner (pages/s)", Grouped(pages / m.seconds), readFigure(m),
                    Fmt("%.2f", m.ratio()), ">= 0.50", counted ? verdict(m.ratio() >= 0.5) : verdict(false) + " (count)"});
    Pair strict;
    strict.readSeconds = PlainRead(large, stream);
    const CensusRun run = RunCensus<CSQLServer2008>(large, 1);
    strict.seconds = run.seconds;
    rows.push_back({"census, strict lock-step (us/page)", Fmt("%.2f", strict.seconds / pages * 1e6),
                    Fmt("%.2f", strict.readSeconds / pages * 1e6) + " read", Fmt("%.2f", strict.ratio()),
                    "(for information)", run.counted == (long long)pages ? "" : "count wrong"});
  }

  // The engine of the last full scan serves the preview and the export.
  CSQLServer2008* kept = nullptr;
  if (wanted("scan") || wanted("preview") || wanted("presses") || wanted("export")) {
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

  if (table && wanted("presses")) {
    const std::vector<double> presses = PressNext(*kept, table, 1004);
    if (presses.empty()) {
      rows.push_back({"preview page after presses of next (ms)", "n/a", "", "", "< 20 ms", verdict(false) + " (no page)"});
    } else {
      const double first = MedianPress(presses, 1);
      for (size_t at : {size_t(1), size_t(100), size_t(1000)}) {
        const double t = MedianPress(presses, at);
        // A press costs what the page costs, wherever it lies in the table: no more than
        // half again the first presses'.
        const bool flat = t <= first * 1.5 + 0.0005;
        rows.push_back({"preview page after press " + std::to_string(at) + " of next (ms, median of 5)",
                        Fmt("%.2f", t * 1e3), at == 1 ? "" : Fmt("%.2f", first * 1e3) + " at press 1",
                        at == 1 ? "" : Fmt("%.2f", t / first), "< 20 ms, flat",
                        verdict(t < 0.020 && flat)});
      }
    }
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
  if ((wanted("census2000") || wanted("scan2000")) && !mdf2000.empty()) {
    std::error_code ec;
    const Stream whole{0, UINT64(fs::file_size(mdf2000, ec))};
    const double pages2000 = double(whole.pages());
    std::printf("2000 database: %s, %.0f pages (%.1f MB)\n", mdf2000.c_str(), pages2000, double(whole.length) / 1e6);
    auto read2000 = [&](const Pair& p) { return Grouped(pages2000 / p.readSeconds) + " read"; };
    PlainRead(mdf2000, whole);
    if (wanted("census2000")) {
      bool counted = true;
      const Pair m = CensusFigure<CSQLServer2000>(mdf2000, whole, handOver, repeat, counted);
      rows.push_back({"2000 engine: census, coalesced partner (pages/s)", Grouped(pages2000 / m.seconds), read2000(m),
                      Fmt("%.2f", m.ratio()), ">= 0.50", counted ? verdict(m.ratio() >= 0.5) : verdict(false) + " (count)"});
    }
    if (wanted("scan2000")) {
      std::vector<Pair> pairs;
      bool finished = true;
      for (int i = 0; i < repeat; ++i) {
        CSQLServer2000 engine;
        Pair p;
        p.readSeconds = PlainRead(mdf2000, whole);
        const ScanRun run = RunScan(engine, mdf2000, uicore::ScanFollowerOptions().handOverEvery);
        p.seconds = run.seconds;
        finished = finished && run.finished && run.counted == (long long)pages2000;
        pairs.push_back(p);
      }
      const Pair m = median(pairs);
      rows.push_back({"2000 engine: scan followed by the program's scan follower (pages/s)", Grouped(pages2000 / m.seconds),
                      read2000(m), Fmt("%.2f", m.ratio()), ">= 0.50",
                      finished ? verdict(m.ratio() >= 0.5) : verdict(false) + " (unfinished)"});
    }
    // The 2000 engine's script export, beside the 2008 figure, comes with its row decoders.
    rows.push_back({"2000 engine: script export of its largest table (rows/s)", "n/a", "", "", "beside 2008",
                    "not built"});
  } else if (wanted("census2000") || wanted("scan2000")) {
    rows.push_back({"2000 engine: census and scan", "n/a", "", "", ">= 0.50", "not run (no --mdf2000)"});
  }

  if (wanted("tree")) {
    constexpr int kTables = 20000, kColumns = 10;
    auto* engine = new CSQLServer2008();
    FillSyntheticCatalog(*engine, kTables, kColumns);
    std::vector<double> core;
    size_t items = 0;
    for (int i = 0; i < std::max(repeat, 3); ++i) {
      const auto start = Clock::now();
      const ObjectTreeContent tree = BuildObjectTree(*engine, FindEngineVersion(3)->label);
      core.push_back(SecondsSince(start));
      items = tree.Folder(ObjectFolder::Tables).size();
    }
    std::sort(core.begin(), core.end());
    const std::string catalog = Grouped(kTables) + " tables x " + std::to_string(kColumns) + " columns";
    rows.push_back({"object tree content of " + catalog + " (ms)", Fmt("%.1f", core[core.size() / 2] * 1e3), "", "",
                    "< 1000 ms", verdict(items == size_t(kTables) && core[core.size() / 2] < 1.0)});
    // The window keeps the engine it adopted.
    std::vector<double> window = TimeWindowTreeFill(engine, 3);
    if (window.empty()) {
      rows.push_back({"window tree fill of " + catalog + " (ms)", "n/a", "", "", "< 1000 ms", "not measured"});
    } else {
      std::sort(window.begin(), window.end());
      rows.push_back({"window tree fill of " + catalog + " (ms, offscreen)", Fmt("%.1f", window[window.size() / 2] * 1e3),
                      "", "", "< 1000 ms", verdict(window[window.size() / 2] < 1.0)});
    }
  }

  // The server export of the large backup's rows (FreeTDS to the recording endpoint, on 1 and
  // on 5 connections) comes with the program's export worker and its server pool.
  rows.push_back({"server export, 1 and 5 connections (rows/s)", "n/a", "", "", "(for information)", "not built"});

  if (readSeconds > 0) std::printf("plain read of the stream: %.3f s (%.0f MB/s)\n", readSeconds, mb / readSeconds);
  std::printf("\n");
  PrintTable(rows);
  return allMet ? 0 : 1;
}
