// A whole scan of a small database image: the page census and every catalog stage, then the
// schema scripts of what it recovered (no rows: the record target covers those).
#include <cstdint>
#include <sstream>

#include "dll/pellwyn2008/pellwyn2008.h"
#include "fuzzsupport.h"
#include "support/catalogtext.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string path = fuzzsupport::WriteScratch("census.mdf", data, size);
  CSQLServer2008 engine;
  FUZZ_CHECK(fuzzsupport::ScanInProcess(engine, path));
  FUZZ_CHECK(engine.m_pStatus->m_nTotalPages == int(size / 8192));
  // What the program's tree shows, and the scripts of it.
  std::ostringstream text;
  testsupport::PrintCatalog(engine, text);
  fuzzsupport::ExportScripts(engine, false);
  return 0;
}
