// Damaged backups made from the real fixtures, and the end-to-end run each one gets: the
// scan, the preview of every table, and the script export with rows. Shared by the bounded
// ctest sample and the damaged-run tool of the full run.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace damaged {

using Bytes = std::vector<std::uint8_t>;

// The 2005 to 2008 R2 backups among the fixtures (names only; see FixturePath).
std::vector<std::string> BackupFixtures();

// The SQL Server 2000 data files among the fixtures, which the 2000 engine reads.
std::vector<std::string> DataFile2000Fixtures();
// True for a fixture the 2000 engine reads.
bool Is2000Fixture(const std::string& name);

// The first `length` bytes of the file.
Bytes Truncated(const Bytes& file, size_t length);
// A mutant with random byte and bit changes: from 1 to 16 changes (bytes set, bits flipped,
// short runs zeroed or filled), a quarter of them inside the tape headers at the front of the
// file. The same seed gives the same mutant.
Bytes Mutant(const Bytes& file, std::uint64_t seed);

// Damage on the page grid (the file header page found in the file, 8192-byte pages from there),
// one kind by the seed: a data page copied over another (a misdirected write), a page id
// rewritten, a data page's slot count set to 65535 or its slot entries to garbage, a catalog
// page (object id below 100) zeroed. The same seed gives the same copy; a file without a grid
// comes back unchanged.
Bytes PageDamage(const Bytes& file, std::uint64_t seed);

// Aborts the process, naming the case, when it is not destroyed within `seconds`: a case that
// hangs must not pass.
class Watchdog {
 public:
  Watchdog(const std::string& label, unsigned seconds);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::string m_label;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_done = false;
  std::thread m_thread;
};

struct CaseResult {
  bool scanned = false;  // the scan ran to its end
  int tables = 0;
  long long previewRows = 0;
  long long exportedRows = 0;
  // Tables whose preview and export disagree on the number of rows ("name preview=N export=M"):
  // the two decoders read one record the same way, so a damaged record is a row for both or
  // for neither.
  std::vector<std::string> disagreements;
};

// Writes the bytes to a file in `folder` (as a .bak) and runs them end to end. A case that
// takes longer than `timeoutSeconds` aborts the process with `label`, as a hang must not pass.
CaseResult RunCase(const Bytes& bytes, const std::string& folder, const std::string& label,
                   unsigned timeoutSeconds = 60);
// The same for a SQL Server 2000 data file (written as a .mdf) and the 2000 engine: scanned,
// every table previewed and its rows exported to a script. The two walks read a damaged first
// slot and a row of NULLs differently, so their counts are not compared.
CaseResult RunCase2000(const Bytes& bytes, const std::string& folder, const std::string& label,
                       unsigned timeoutSeconds = 60);

// Where the page at census position `n` lies in the file: stream page n of the first set of
// a backup (`backup`), page n of a database file. SIZE_MAX when the file has no such page.
size_t PagePosition(const std::string& path, bool backup, size_t n);
// Pages a sweep walks: those of the first set's stream of a backup, those of a database file.
size_t PageCount(const std::string& path, bool backup, size_t fileSize);

// One scan seen table by table, for comparing a damaged copy with the undamaged file.
struct ScanTable {
  unsigned long objectId = 0;
  long long rows = 0;  // rows read through the preview walk the export uses
  // Census position -> records that page may hold for the table (its slot count), over the
  // data pages and the pages set aside for deleted rows.
  std::map<size_t, long long> pageRecords;
};
struct ScanSummary {
  bool finished = false;
  std::map<std::string, ScanTable> tables;  // by "owner.name"
  std::vector<std::string> warnings;        // the engine's scan warnings
};
// Writes the bytes to `path` and scans them (the 2000 engine when `format2000`), each table read
// to its last row. A case over `timeoutSeconds` aborts the process with `label`.
ScanSummary SummarizeScan(bool format2000, bool backup, const Bytes& bytes, const std::string& path,
                          const std::string& label, unsigned timeoutSeconds = 60);

// What a page zeroed at census position `page` may cost: a table keeps at least its rows less
// the records of that page, unless a warning names it; a table gone, or one the damage made up
// with rows, is named by a warning (a table whose name was lost, by its object id). One line per table that breaks this; empty when it holds.
std::vector<std::string> ZeroedPageFaults(const ScanSummary& whole, const ScanSummary& damaged, size_t page);
// What an impossible slot count may cost: no table gains a row and none is made up.
std::vector<std::string> SlotCountFaults(const ScanSummary& whole, const ScanSummary& damaged);

// Points the engine's logs at files that go nowhere (the runs log every stage of every case).
void SilenceLogs(const std::string& folder);

Bytes ReadBytes(const std::string& path);

}  // namespace damaged
