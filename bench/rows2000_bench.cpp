// rows2000-bench: the 2000 engine's record walks on a large SQL Server 2000 data file, each
// figure set against a baseline measured in the same run on the same file or disk.
//
//   rows2000-bench DATAFILE.MDF WORKDIR [--table NAME] [--pages N]
//
// The data file (the real Northwind by default in bench/run.sh) is grown in WORKDIR to about N
// data pages of TABLE (default "Order Details", 60,000 pages) by appending copies of its data
// pages: the census files them with the table, so the walks read a table of millions of rows.
// Figures: the script export (rows/s, and MB of script/s against writing as many bytes), and
// the first preview window (ms, against reading its pages). Exit status 0 when every figure
// met its target, 1 when one missed it.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "benchsupport.h"
#include "common/page.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"

namespace {

namespace fs = std::filesystem;
using namespace bench;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The file with the table's data pages copied onto its end until it holds `pages` of them.
bool Grow(const std::string& from, const std::string& to, DWORD objectId, size_t pages) {
  const std::string file = ReadAll(from);
  std::vector<size_t> own;
  for (size_t at = 0; at + kPageSize <= file.size(); at += kPageSize) {
    const BYTE* p = reinterpret_cast<const BYTE*>(file.data() + at);
    if (PageTypeOf(p) == kPageData && PageObjectId(p) == objectId) own.push_back(at);
  }
  if (own.empty()) return false;
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out.write(file.data(), std::streamsize(file.size()));
  for (size_t n = own.size(), k = 0; n < pages; ++n, ++k) out.write(file.data() + own[k % own.size()], kPageSize);
  return bool(out);
}

// Reads the first `count` pages of the list as a walk would, without decoding them.
double PlainPageRead(const std::string& path, const std::vector<DWORD>& pages, size_t count) {
  CSourceFile f;
  if (!f.Open(path.c_str())) return 0;
  std::vector<BYTE> page(kPageSize);
  unsigned sink = 0;
  const auto start = Clock::now();
  for (size_t i = 0; i < count && i < pages.size(); ++i) {
    f.ReadAt(UINT64(pages[i]) * kPageSize, page.data(), kPageSize);
    sink += page[100];
  }
  const double seconds = SecondsSince(start);
  if (sink == 1) std::printf(" ");
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: rows2000-bench DATAFILE.MDF WORKDIR [--table NAME] [--pages N]\n");
    return 2;
  }
  const std::string source = argv[1], work = argv[2];
  std::string tableName = "Order Details";
  size_t pages = 60000;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--table") tableName = argv[i + 1];
    else if (std::string(argv[i]) == "--pages") pages = size_t(std::atoll(argv[i + 1]));
  }
  fs::create_directories(fs::path(work) / "Log Files");
  SetModuleFolderOverride(work);

  // The table's object id, from a scan of the file as it is.
  DWORD objectId = 0;
  {
    CSQLServer2000 small;
    if (!testsupport::RunRecovery(small, source).finished) return 1;
    CTable* t = testsupport::FindTable(small, tableName);
    if (!t) {
      std::fprintf(stderr, "rows2000-bench: no table %s\n", tableName.c_str());
      return 1;
    }
    objectId = t->m_dwObjectId;
  }
  const std::string large = (fs::path(work) / "large.mdf").string();
  if (!Grow(source, large, objectId, pages)) return 1;
  testsupport::RecoveryOptions options;
  options.censusHandOverEvery = 1024;
  CSQLServer2000 engine;
  if (!testsupport::RunRecovery(engine, large, options).finished) return 1;
  CTable* table = testsupport::FindTable(engine, tableName);
  if (!table) return 1;

  bool ok = true;
  // Script export.
  const std::string script = (fs::path(work) / "table.sql").string();
  engine.m_hTableSqlFile = CreateFileForWrite(script.c_str());
  ::sync();
  const double cpuStart = ThreadCpuSeconds();
  const auto start = Clock::now();
  engine.ExportTableRows(table, nullptr);
  const double seconds = SecondsSince(start);
  const double cpu = ThreadCpuSeconds() - cpuStart;
  CloseFileHandle(engine.m_hTableSqlFile);
  engine.m_hTableSqlFile = kInvalidFile;
  std::error_code ec;
  const UINT64 bytes = fs::file_size(script, ec);
  fs::remove(script, ec);
  const double writeSeconds = PlainWrite((fs::path(work) / "write.tmp").string(), bytes);
  const double rowRate = double(table->m_nRowsExported) / seconds;
  const double outRate = double(bytes) / 1e6 / seconds, writeRate = double(bytes) / 1e6 / writeSeconds;
  std::printf("script export: %d rows of %zu pages, %.1f MB of script, in %.2f s (%.2f s of CPU)\n",
              table->m_nRowsExported, table->m_vecDataPages.size(), double(bytes) / 1e6, seconds, cpu);
  const bool exportOk = rowRate > 250000;
  ok = ok && exportOk;
  std::printf("%-44s %14.0f  %-22s %-8s %s\n", "script export (rows/s)", rowRate, "", "> 250,000",
              exportOk ? "met" : "MISSED");
  std::printf("%-44s %14.1f  %-22s %-8s\n", "script export (MB of script/s)", outRate,
              (std::to_string(int(writeRate)) + " write, ratio " + std::to_string(outRate / writeRate).substr(0, 4)).c_str(),
              "(information)");

  // The first preview window, the best of five, against reading the pages it took.
  double best = -1;
  size_t shown = 0;
  for (int i = 0; i < 5; ++i) {
    testsupport::Preview preview(engine);
    const auto t0 = Clock::now();
    const testsupport::PreviewWindow w = preview.Select(table);
    const double s = SecondsSince(t0);
    if (!w.finished) break;
    shown = w.rows.size();
    if (best < 0 || s < best) best = s;
  }
  const size_t windowPages = engine.m_posResume.posPage.value_or(0) + 1;
  const double readSeconds = PlainPageRead(large, table->m_vecDataPages, windowPages);
  const bool previewOk = best >= 0 && best < 0.020 && shown == 500;
  ok = ok && previewOk;
  std::printf("%-44s %14.2f  %-22s %-8s %s\n", ("first preview window (ms), " + std::to_string(shown) + " rows").c_str(),
              best * 1e3, (std::to_string(readSeconds * 1e3).substr(0, 5) + " ms read").c_str(), "< 20 ms",
              previewOk ? "met" : "MISSED");
  fs::remove(large, ec);
  return ok ? 0 : 1;
}
