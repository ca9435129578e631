// A whole scan of a small database image: the page census and every catalog stage, then the
// schema scripts of what it recovered (no rows: the record target covers those).
//
// Input: pages of 8192 bytes (the last zero-padded). Each goes into the database file at the
// place its own page id names, as in a real database file, so the input needs no empty pages;
// a page whose place is taken, or lies beyond 16384 pages, goes into the first free place.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <sstream>
#include <vector>

#include "common/page.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "fuzzsupport.h"
#include "support/catalogtext.h"

namespace {

constexpr DWORD kMaxPlace = 16384;

// Returns the file's size in pages.
DWORD WriteDatabase(const std::string& path, const std::uint8_t* data, size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) fuzzsupport::Fail("cannot write the database image");
  std::set<DWORD> taken;
  DWORD freePlace = 0;
  DWORD pages = 0;
  std::vector<BYTE> page(kPageSize);
  for (size_t at = 0; at < size; at += kPageSize) {
    std::memset(page.data(), 0, kPageSize);
    std::memcpy(page.data(), data + at, std::min<size_t>(size - at, kPageSize));
    DWORD place = PageIdOf(page.data());
    if (place >= kMaxPlace || taken.count(place)) {
      while (taken.count(freePlace)) ++freePlace;
      place = freePlace;
    }
    taken.insert(place);
    if (::pwrite(fd, page.data(), kPageSize, off_t(place) * kPageSize) != kPageSize) fuzzsupport::Fail("pwrite");
    pages = std::max(pages, place + 1);
  }
  ::close(fd);
  return pages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string path = fuzzsupport::ScratchDir() + "/census.mdf";
  const DWORD pages = WriteDatabase(path, data, size);
  // One engine for the run, as a program session reuses its engine for scan after scan; an
  // engine keeps its status block for the process's life, and the user data types across
  // scans, so those are cleared here.
  static CSQLServer2008* shared = new CSQLServer2008();
  CSQLServer2008& engine = *shared;
  for (auto& t : engine.m_mapDataTypes) delete t.second;
  engine.m_mapDataTypes.RemoveAll();
  FUZZ_CHECK(fuzzsupport::ScanInProcess(engine, path));
  FUZZ_CHECK(engine.m_pStatus->m_nTotalPages == int(pages));
  // What the program's tree shows, and the scripts of it.
  std::ostringstream text;
  testsupport::PrintCatalog(engine, text);
  fuzzsupport::ExportScripts(engine, false);
  return 0;
}
