// The 2000 scan-file loader: Open Scan as the program does it (magic word and version, then
// LoadScanInfo); a file that loads whole saves and loads back to the same catalog, and one
// that does not leaves the engine empty.
#include <cstdint>
#include <sstream>

#include "dll/pellwyn2000/pellwyn2000.h"
#include "fuzzsupport.h"
#include "platform/archive.h"
#include "support/catalogtext.h"

namespace {

// False when the file is not a 2000 scan file.
bool OpenScan(CSQLServer2000& engine, const std::string& path, bool& whole) {
  CArchive ar;
  whole = false;
  if (!ar.Open(path.c_str(), CArchive::load)) return false;
  try {
    CString magic, version;
    ar >> magic;
    if (magic != "tarnwell") return false;
    ar >> version;
    if (version != "2000") return false;
  } catch (const CArchiveException&) {
    return false;
  }
  engine.FreeRecoveredObjects();
  try {
    engine.LoadScanInfo(ar);
    whole = true;
  } catch (const CArchiveException&) {
  }
  return true;
}

std::string CatalogText(const CSQLServer2000& engine) {
  std::ostringstream text;
  testsupport::PrintCatalog(engine, text);
  return text.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string path = fuzzsupport::WriteScratch("scan2000.str", data, size);
  static CSQLServer2000* first = new CSQLServer2000();
  static CSQLServer2000* second = new CSQLServer2000();
  bool whole = false;
  if (!OpenScan(*first, path, whole)) return 0;
  if (!whole) {
    FUZZ_CHECK(first->m_mapTables.GetCount() == 0 && first->m_mapViews.GetCount() == 0);
    return 0;
  }
  const std::string loaded = CatalogText(*first);
  const std::string again = fuzzsupport::ScratchDir() + "/again2000.str";
  CString error;
  FUZZ_CHECK(first->SaveScanFile(again.c_str(), &error));
  bool reloaded = false;
  FUZZ_CHECK(OpenScan(*second, again, reloaded) && reloaded);
  FUZZ_CHECK(CatalogText(*second) == loaded);
  return 0;
}
