// Damaged backups made from the real fixtures, and the end-to-end run each one gets: the
// scan, the preview of every table, and the script export with rows. Shared by the bounded
// ctest sample and the damaged-run tool of the full run.
#pragma once

#include <condition_variable>
#include <cstdint>
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

// Points the engine's logs at files that go nowhere (the runs log every stage of every case).
void SilenceLogs(const std::string& folder);

Bytes ReadBytes(const std::string& path);

}  // namespace damaged
