// A whole scan of a small database image: the page census and every catalog stage, then the
// schema scripts of what it recovered (no rows: the record target covers those).
//
// Input: pages of 8192 bytes (the last zero-padded). Each goes into the database file at the
// place its own page id names, as in a real database file, so the input needs no empty pages;
// a page whose place is taken, or lies beyond 16384 pages, goes into the first free place.

#include <cstdint>
#include <cstring>
#include <sstream>
#include <vector>

#include "common/page.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "fuzzsupport.h"
#include "support/catalogtext.h"

namespace {

constexpr DWORD kMaxPlace = 16384;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string path = fuzzsupport::ScratchDir() + "/census.mdf";
  const DWORD pages = fuzzsupport::WriteDatabaseImage(path, data, size, kMaxPlace);
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
