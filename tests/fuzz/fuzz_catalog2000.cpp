// The 2000 system-table readers: a whole 2000-format scan of a small database image, every
// page's slots also handed straight to each row parser, then the scan saved and loaded back.
//
// Input: pages of 8192 bytes (the last zero-padded), each put back at the place its own page
// id names (a taken place or one beyond 4096 pages: the first free place).

#include <cstdint>
#include <cstring>
#include <sstream>
#include <vector>

#include "common/page.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "fuzzsupport.h"
#include "platform/archive.h"
#include "support/catalogtext.h"

namespace {

constexpr DWORD kMaxPlace = 4096;

using fuzzsupport::CatalogText;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string path = fuzzsupport::ScratchDir() + "/catalog2000.mdf";
  std::vector<std::vector<BYTE>> pages;
  fuzzsupport::WriteDatabaseImage(path, data, size, kMaxPlace, &pages);
  // One engine for the run, as a program session reuses its engine scan after scan.
  static CSQLServer2000* shared = new CSQLServer2000();
  CSQLServer2000& engine = *shared;
  FUZZ_CHECK(fuzzsupport::ScanInProcess(engine, path));
  const std::string scanned = CatalogText(engine);

  // Every row parser on every slot of every page, whatever the page says it holds.
  static const CSQLServer2000::RowParser kParsers[] = {
      &CSQLServer2000::ParseSysObjectsRow, &CSQLServer2000::DecodeColumnRow,
      &CSQLServer2000::ParseSysIndexesRow, &CSQLServer2000::ParseSysForeignKeysRow,
      &CSQLServer2000::ParseSysCommentsRow, &CSQLServer2000::ParseSysUsersRow,
      &CSQLServer2000::ParseSysTypesRow};
  SlotWalkOptions options;
  options.maxEntry = kPageSize - 1;
  for (auto& page : pages) {
    RestoreTornBitsIfPresent(page.data());
    ForEachSlot(page.data(), options, [&](int, WORD entry) {
      for (auto parse : kParsers) (engine.*parse)(page.data() + kPageHeaderSize, WORD(entry - kPageHeaderSize));
      return true;
    });
  }
  engine.ReadExtentPages(0, "3");
  engine.NameUnnamedTables();

  // What a scan found saves and loads back to the same catalog.
  const std::string saved = fuzzsupport::ScratchDir() + "/catalog2000.str";
  CString error;
  engine.FreeRecoveredObjects();
  FUZZ_CHECK(fuzzsupport::ScanInProcess(engine, path));
  FUZZ_CHECK(CatalogText(engine) == scanned);
  FUZZ_CHECK(engine.SaveScanFile(saved.c_str(), &error));
  static CSQLServer2000* reader = new CSQLServer2000();
  bool whole = false;
  FUZZ_CHECK(fuzzsupport::OpenScanFile(*reader, saved, "2000", whole) && whole);
  for (auto& e : engine.m_mapTables) e.second->m_vecFreedPages.clear();  // not carried by the file
  FUZZ_CHECK(CatalogText(*reader) == CatalogText(engine));
  return 0;
}
