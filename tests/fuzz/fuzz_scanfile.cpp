// The scan-file loader: the program's Open Scan (ui/core: magic word and version first, then a
// new engine's LoadScanInfo), checked against the engine loading the same bytes itself, then
// what the program does with a loaded scan: the tree, the schema scripts, and saving it again,
// which must load back to the same catalog.
#include <cstdint>
#include <sstream>

#include "dll/pellwyn2008/pellwyn2008.h"
#include "fuzzsupport.h"
#include "platform/archive.h"
#include "support/catalogtext.h"
#include "ui/core/openscan.h"

namespace {

// False when the file is not a 2008 scan file; the engine holds what was read before any
// damage.
bool OpenScan(CSQLServer2008& engine, const std::string& path, bool& whole) {
  return fuzzsupport::OpenScanFile(engine, path, "2008", whole);
}

std::string CatalogText(const CSQLServer& engine) { return fuzzsupport::CatalogText(engine); }

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
  // The program's Open Scan loads whole what the engine loads whole, and nothing else.
  const uicore::OpenScanResult program = uicore::OpenScanFile(path);
  FUZZ_CHECK(program.Loaded() == (program.engine != nullptr));
  FUZZ_CHECK(program.Loaded() || !program.message.empty());
  bool whole = false;
  if (!OpenScan(*first, path, whole)) {
    // The 2005 stand-in reads the 2008 variant, the 2000 engine its own; no other file opens.
    FUZZ_CHECK(!program.Loaded() || program.version == "2005" || program.version == "2000");
    return 0;
  }
  FUZZ_CHECK(program.Loaded() == whole);
  if (program.Loaded()) FUZZ_CHECK(CatalogText(*program.engine) == CatalogText(*first));
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
