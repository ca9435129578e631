// The scan-file loader: Open Scan as the program does it (magic word and version first, then
// the engine's LoadScanInfo), then what the program does with a loaded scan: the tree, the
// schema scripts, and saving it again, which must load back to the same catalog.
#include <cstdint>
#include <sstream>

#include "dll/pellwyn2008/pellwyn2008.h"
#include "fuzzsupport.h"
#include "platform/archive.h"
#include "support/catalogtext.h"

namespace {

// False when the file is not a 2008 scan file; the engine holds what was read before any
// damage.
bool OpenScan(CSQLServer2008& engine, const std::string& path, bool& whole) {
  return fuzzsupport::OpenScanFile(engine, path, "2008", whole);
}

std::string CatalogText(const CSQLServer2008& engine) { return fuzzsupport::CatalogText(engine); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string path = fuzzsupport::WriteScratch("scan.str", data, size);
  // One engine per process: each engine keeps its status block for the process's life.
  static CSQLServer2008* first = new CSQLServer2008();
  static CSQLServer2008* second = new CSQLServer2008();
  for (CSQLServer2008* e : {first, second}) {
    for (auto& t : e->m_mapDataTypes) delete t.second;
    e->m_mapDataTypes.RemoveAll();
  }
  bool whole = false;
  if (!OpenScan(*first, path, whole)) return 0;
  if (whole) {
    // A scan that loaded whole saves and loads back unchanged.
    const std::string loaded = CatalogText(*first);
    const std::string again = fuzzsupport::ScratchDir() + "/again.str";
    CString error;
    FUZZ_CHECK(first->SaveScanFile(again.c_str(), &error));
    bool reloaded = false;
    FUZZ_CHECK(OpenScan(*second, again, reloaded) && reloaded);
    FUZZ_CHECK(CatalogText(*second) == loaded);
  } else {
    (void)CatalogText(*first);
  }
  fuzzsupport::ExportScripts(*first, false);
  return 0;
}
