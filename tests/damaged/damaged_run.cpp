// damaged-run: the full damaged-backup run of one fixture, or a slice of it.
//   damaged-run FIXTURE truncate FROM COUNT   truncations at 512 x (FROM .. FROM+COUNT-1)
//   damaged-run FIXTURE mutate FROM COUNT     mutants with seeds FROM .. FROM+COUNT-1
//   damaged-run FIXTURE pages FROM COUNT      page damage (PageDamage) with seeds FROM .. FROM+COUNT-1
//   damaged-run FIXTURE zero FROM COUNT       page i zeroed (stream page i of a backup's first set)
//   damaged-run FIXTURE slots FROM COUNT      the slot count of page i set to 65535
// zero and slots compare each case with the undamaged file's scan, table by table (see
// ZeroedPageFaults, SlotCountFaults); a case that breaks the rule is named on stderr with the
// table, both row counts and the warnings (exit status 1).
// Prints one summary line; a crash, a sanitizer report or a case over its time-out (abort)
// ends the process with the case named on stderr, and a case whose preview and export disagree
// on a table's row count is named there too (exit status 1). tests/damaged/run-full.sh drives it.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "damaged/damagedcase.h"
#include "support/fixtures.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: damaged-run FIXTURE truncate|mutate|pages|zero|slots FROM COUNT\n");
    return 2;
  }
  const std::string fixture = argv[1], mode = argv[2];
  const long long from = std::atoll(argv[3]), count = std::atoll(argv[4]);
  const std::string path = std::filesystem::exists(fixture) ? fixture : testsupport::FixturePath(fixture);
  if (path.empty()) {
    std::fprintf(stderr, "damaged-run: no fixture %s\n", fixture.c_str());
    return 2;
  }
  testsupport::TempDir dir;
  damaged::SilenceLogs(dir.path());
  const damaged::Bytes file = damaged::ReadBytes(path);
  const std::string name = std::filesystem::path(path).filename().string();
  long long cases = 0, scanned = 0, rows = 0, exported = 0, disagreements = 0;
  if (mode == "zero" || mode == "slots") {
    const bool format2000 = damaged::Is2000Fixture(name);
    const bool backup = name.size() > 4 && name.compare(name.size() - 4, 4, ".bak") == 0;
    const std::string ext = backup ? ".bak" : ".mdf";
    const damaged::ScanSummary whole =
        damaged::SummarizeScan(format2000, backup, file, dir.file("whole" + ext), name + " undamaged");
    const size_t pages = damaged::PageCount(path, backup, file.size());
    const size_t first = damaged::PagePosition(path, backup, 0);
    long long failed = 0;
    for (long long i = from; i < from + count && size_t(i) < pages; ++i) {
      damaged::Bytes bytes = file;
      const size_t at = first + size_t(i) * 8192;
      if (mode == "zero") std::fill(bytes.begin() + long(at), bytes.begin() + long(at + 8192), std::uint8_t(0));
      else bytes[at + 22] = bytes[at + 23] = 0xFF;
      const std::string label = name + " " + mode + " " + std::to_string(i);
      const damaged::ScanSummary after = damaged::SummarizeScan(format2000, backup, bytes, dir.file("case" + ext), label);
      ++cases;
      std::vector<std::string> faults;
      if (!after.finished) faults.push_back("the scan did not finish");
      else if (mode == "zero") faults = damaged::ZeroedPageFaults(whole, after, size_t(i));
      else faults = damaged::SlotCountFaults(whole, after);
      for (const std::string& f : faults) std::fprintf(stderr, "damaged: %s page %lld: %s\n", name.c_str(), i, f.c_str());
      if (!faults.empty()) ++failed;
      scanned += after.finished;
      for (const auto& t : after.tables) rows += t.second.rows;
    }
    std::printf("%s %s %lld+%lld: cases=%lld scanned=%lld rows=%lld failed=%lld pages=%zu\n", name.c_str(), mode.c_str(),
                from, count, cases, scanned, rows, failed, pages);
    return failed ? 1 : 0;
  }
  for (long long i = from; i < from + count; ++i) {
    damaged::Bytes bytes;
    if (mode == "truncate") {
      if (size_t(i) * 512 >= file.size()) break;
      bytes = damaged::Truncated(file, size_t(i) * 512);
    } else if (mode == "mutate") {
      bytes = damaged::Mutant(file, std::uint64_t(i));
    } else if (mode == "pages") {
      bytes = damaged::PageDamage(file, std::uint64_t(i));
    } else {
      return 2;
    }
    const std::string label = name + " " + mode + " " + std::to_string(i);
    const damaged::CaseResult r = damaged::Is2000Fixture(name) ? damaged::RunCase2000(bytes, dir.path(), label)
                                                               : damaged::RunCase(bytes, dir.path(), label);
    for (const std::string& d : r.disagreements) {
      std::fprintf(stderr, "damaged: case %s: preview and export disagree: %s\n", label.c_str(), d.c_str());
      ++disagreements;
    }
    ++cases;
    scanned += r.scanned;
    rows += r.previewRows;
    exported += r.exportedRows;
  }
  std::printf("%s %s %lld+%lld: cases=%lld scanned=%lld preview-rows=%lld exported-rows=%lld\n", name.c_str(),
              mode.c_str(), from, count, cases, scanned, rows, exported);
  return disagreements ? 1 : 0;
}
