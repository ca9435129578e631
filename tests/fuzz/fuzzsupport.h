// Shared by the fuzz targets: a scratch folder on a memory file system for the files the
// engine reads by path, logs that go nowhere (an execution costs no disk writes), a whole scan
// with the program's side played in-process, and the script export of what a scan found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CSQLServer2000;
class CSQLServer2008;

namespace fuzzsupport {

// Created once per process (removed at exit); the engine's module folder points at it and
// its "Log Files" entries are /dev/null.
const std::string& ScratchDir();
// Writes the bytes as a file of the scratch folder (replacing it) and returns its path.
std::string WriteScratch(const std::string& name, const std::uint8_t* data, size_t size);

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

}  // namespace fuzzsupport
