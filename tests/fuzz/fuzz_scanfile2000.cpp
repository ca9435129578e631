// The 2000 scan-file loader: Open Scan as the program does it (magic word and version, then
// LoadScanInfo), and the program's own Open Scan (ui/core) agreeing with it; a file that loads
// whole saves and loads back to the same catalog, and one that does not leaves the engine
// empty.
#include <cstdint>

#include "dll/pellwyn2000/pellwyn2000.h"
#include "fuzzsupport.h"
#include "platform/archive.h"
#include "support/catalogtext.h"
#include "ui/core/openscan.h"

namespace {

// False when the file is not a 2000 scan file.
bool OpenScan(CSQLServer2000& engine, const std::string& path, bool& whole) {
  return fuzzsupport::OpenScanFile(engine, path, "2000", whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string path = fuzzsupport::WriteScratch("scan2000.str", data, size);
  static CSQLServer2000* first = new CSQLServer2000();
  static CSQLServer2000* second = new CSQLServer2000();
  bool whole = false;
  if (!OpenScan(*first, path, whole)) return 0;
  const uicore::OpenScanResult program = uicore::OpenScanFile(path);
  FUZZ_CHECK(program.Loaded() == whole);
  if (program.Loaded()) FUZZ_CHECK(fuzzsupport::CatalogText(*program.engine) == fuzzsupport::CatalogText(*first));
  if (!whole) {
    FUZZ_CHECK(first->m_mapTables.GetCount() == 0 && first->m_mapViews.GetCount() == 0);
    return 0;
  }
  const std::string loaded = fuzzsupport::CatalogText(*first);
  const std::string again = fuzzsupport::ScratchDir() + "/again2000.str";
  CString error;
  FUZZ_CHECK(first->SaveScanFile(again.c_str(), &error));
  bool reloaded = false;
  FUZZ_CHECK(OpenScan(*second, again, reloaded) && reloaded);
  FUZZ_CHECK(fuzzsupport::CatalogText(*second) == loaded);
  return 0;
}
