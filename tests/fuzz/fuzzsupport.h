// Shared by the fuzz targets: a scratch folder on a memory file system for the files the
// engine reads by path, logs that go nowhere (an execution costs no disk writes), a whole scan
// with the program's side played in-process, and the script export of what a scan found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "platform/archive.h"
#include "support/catalogtext.h"
#include "ui/core/openscan.h"

class CSQLServer2000;
class CSQLServer2008;

namespace fuzzsupport {

// Created once per process (removed at exit); the engine's module folder points at it and
// its "Log Files" entries are /dev/null.
const std::string& ScratchDir();
// Writes the bytes as a file of the scratch folder (replacing it) and returns its path.
std::string WriteScratch(const std::string& name, const std::uint8_t* data, size_t size);

// Writes fuzz input as a database file: pages of 8192 bytes (the last zero-padded), each put
// at the place its own page id names, as in a real database file; a page whose place is
// taken, or lies at or beyond `maxPlace`, goes into the first free place. Returns the
// file's size in pages; `pages` (optional) receives the pages in input order.
std::uint32_t WriteDatabaseImage(const std::string& path, const std::uint8_t* data, size_t size,
                                 std::uint32_t maxPlace, std::vector<std::vector<std::uint8_t>>* pages = nullptr);

// Reports a broken invariant the way a sanitizer reports a fault: a message, then abort, so
// libFuzzer keeps the input.
[[noreturn]] void Fail(const char* what);
#define FUZZ_CHECK(cond)                                                      \
  do {                                                                        \
    if (!(cond)) ::fuzzsupport::Fail(#cond " (" __FILE__ ":" FUZZ_LINE ")");  \
  } while (0)
#define FUZZ_STR2(x) #x
#define FUZZ_STR(x) FUZZ_STR2(x)
#define FUZZ_LINE FUZZ_STR(__LINE__)

// Runs the engine's scan of the file at `path` on this thread, with a minimal partner on
// another that answers the hand-shakes as the progress dialog does (one census hand-over).
// True when the scan ran to its end.
bool ScanInProcess(CSQLServer2008& engine, const std::string& path, int set = 1);
bool ScanInProcess(CSQLServer2000& engine, const std::string& path, int set = 1);

// The export worker's script mode into files that go nowhere: user data types, every table
// (with its rows when `rows`), views, procedures, functions, rules and triggers.
void ExportScripts(CSQLServer2008& engine, bool rows);

// Open Scan as the program does it: the magic word and the version first, then the engine's
// LoadScanInfo and the program's care of texts from older files. False when the file is not a scan file of `version`; `whole` tells whether
// the rest loaded without damage.
template <class Engine>
bool OpenScanFile(Engine& engine, const std::string& path, const char* version, bool& whole) {
  CArchive ar;
  whole = false;
  if (!ar.Open(path.c_str(), CArchive::load)) return false;
  try {
    CString magic, found;
    ar >> magic;
    if (magic != "tarnwell") return false;
    ar >> found;
    if (found != version) return false;
  } catch (const CArchiveException&) {
    return false;
  }
  engine.FreeRecoveredObjects();
  try {
    engine.LoadScanInfo(ar);
    uicore::KeepLoadedTextsUtf8(engine);
    whole = true;
  } catch (const CArchiveException&) {
  }
  return true;
}

// The catalog as the program's tree shows it.
template <class Engine>
std::string CatalogText(const Engine& engine) {
  std::ostringstream text;
  testsupport::PrintCatalog(engine, text);
  return text.str();
}

}  // namespace fuzzsupport
