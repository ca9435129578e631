// damaged-run: the full damaged-backup run of one fixture, or a slice of it.
//   damaged-run FIXTURE truncate FROM COUNT   truncations at 512 x (FROM .. FROM+COUNT-1)
//   damaged-run FIXTURE mutate FROM COUNT     mutants with seeds FROM .. FROM+COUNT-1
//   damaged-run FIXTURE pages FROM COUNT      page damage (PageDamage) with seeds FROM .. FROM+COUNT-1
// Prints one summary line; a crash, a sanitizer report or a case over its time-out (abort)
// ends the process with the case named on stderr, and a case whose preview and export disagree
// on a table's row count is named there too (exit status 1). tests/damaged/run-full.sh drives it.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "damaged/damagedcase.h"
#include "support/fixtures.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: damaged-run FIXTURE truncate|mutate|pages FROM COUNT\n");
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
