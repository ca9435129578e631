// make-large-mdf2000: grows a real SQL Server 2000 database file into a large one whose
// biggest user table (the one with the most records) has as many pages as it takes to reach
// the size asked for.
//
// Every page of the original file stays at its place (file header, allocation maps, boot
// page, catalog), so a scan finds the same catalog. After them come copies of the biggest
// table's data pages; in a plain file a page's place is its id, so each copy gets the id of
// its place and links to its neighbours (the owner fields are unchanged, so the census files
// them with that table). A page free space page starts every 8088-page interval and marks each
// page of it allocated, as in a real big database; the original file's own first one is
// extended over the pages that now follow it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/page.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/fakeprogram.h"
#include "largefile.h"

namespace {

using largefile::PutU32;

constexpr DWORD kPfsInterval = 8088;
constexpr size_t kPfsFirstByte = 100;
constexpr BYTE kPfsAllocated = 0x40;
constexpr WORD kTornBitsFlag = 0x100;

int Fail(const std::string& why) {
  std::fprintf(stderr, "make-large-mdf2000: %s\n", why.c_str());
  return 1;
}

// A PFS page that marks pages [from, to) of its interval allocated. Torn-page detection is
// switched off on it: the run of bytes written covers the sector ends whose bits the header
// would otherwise have to match.
void MarkAllocated(BYTE* pfs, DWORD from, DWORD to) {
  WORD flags = WORD(pfs[4] | pfs[5] << 8);
  flags = WORD(flags & ~kTornBitsFlag);
  pfs[4] = BYTE(flags);
  pfs[5] = BYTE(flags >> 8);
  for (DWORD i = from; i < to && kPfsFirstByte + i < kPageSize; ++i) pfs[kPfsFirstByte + i] = kPfsAllocated;
}

}  // namespace

int main(int argc, char** argv) {
  largefile::GrowArgs args;
  if (!largefile::ParseGrowArgs(argc, argv, args) || !args.table.empty()) {
    std::fprintf(stderr, "usage: make-large-mdf2000 DATABASE.mdf OUT.mdf [--bytes N]\n");
    return 2;
  }
  const std::string& in = args.in;
  const std::string& out = args.out;
  const UINT64 bytes = args.bytes;
  std::string source;
  if (!ReadWholeFile(in.c_str(), source)) return Fail("cannot read " + in);
  if (source.size() < 2 * kPageSize || source.size() % kPageSize != 0) return Fail(in + " is not whole pages");
  const BYTE* src = reinterpret_cast<const BYTE*>(source.data());
  const DWORD filePages = DWORD(source.size() / kPageSize);
  const std::string logFolder = std::filesystem::path(out).parent_path().string();
  SetModuleFolderOverride(logFolder.empty() ? "." : logFolder);

  // The biggest table as the engine itself sees it.
  CSQLServer2000 engine;
  testsupport::RecoveryOptions options;
  options.censusHandOverEvery = 64;
  if (!testsupport::RunRecovery(engine, in, options).finished) return Fail("the scan of " + in + " did not finish");
  CTable* biggest = largefile::TableToGrow(engine, src, filePages, "");
  if (!biggest) return Fail("no user table with data pages");
  std::vector<DWORD> tablePages;
  for (DWORD n : biggest->m_vecDataPages)
    if (n < filePages) tablePages.push_back(n);
  const BYTE* pfsTemplate = PageTypeOf(src + kPageSize) == kPagePfs ? src + kPageSize : nullptr;
  if (!pfsTemplate) return Fail("page 1 is not a page free space page");

  const UINT64 wantedPages = std::max<UINT64>(bytes / kPageSize, UINT64(filePages) + 1);
  if (wantedPages > 0x7FFFFFFF) return Fail("too many pages");
  largefile::Output o(out);
  if (!o.ok()) return Fail("cannot create " + out);
  auto put = [&](const BYTE* data, size_t size) { o.Put(data, size); };
  std::vector<BYTE> page(source.begin(), source.begin() + kPageSize);
  put(page.data(), kPageSize);
  page.assign(src + kPageSize, src + 2 * kPageSize);
  MarkAllocated(page.data(), filePages, kPfsInterval);
  put(page.data(), kPageSize);
  put(src + 2 * kPageSize, source.size() - 2 * kPageSize);

  auto isPfs = [](DWORD id) { return id % kPfsInterval == 0; };
  size_t next = 0;
  DWORD previousDataId = 0;
  UINT64 copies = 0;
  for (DWORD id = filePages; id < wantedPages; ++id) {
    if (isPfs(id)) {
      page.assign(pfsTemplate, pfsTemplate + kPageSize);
      MarkAllocated(page.data(), 0, kPfsInterval);
    } else {
      page.assign(src + UINT64(tablePages[next]) * kPageSize, src + UINT64(tablePages[next] + 1) * kPageSize);
      next = (next + 1) % tablePages.size();
      DWORD nextId = id + 1;
      if (isPfs(nextId)) ++nextId;
      PutU32(page.data() + 8, previousDataId);
      PutU32(page.data() + 16, nextId >= wantedPages ? 0 : nextId);
      previousDataId = id;
      ++copies;
    }
    PutU32(page.data() + 32, id);
    put(page.data(), kPageSize);
  }
  if (!o.Finish()) return Fail("write failed on " + out);
  std::printf("wrote %s: %llu pages, table [%s] gets %llu more pages\n", out.c_str(), (unsigned long long)wantedPages,
              biggest->m_strName.str().c_str(), (unsigned long long)copies);
  return 0;
}
