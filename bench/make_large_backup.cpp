// make-large-backup: grows a real full backup into a large one whose biggest user table (the
// one with the most records, or the one named) has as many pages as it takes to reach the
// size asked for.
//
// The output keeps the backup's tape blocks before the data stream, with the stream's
// declared length rewritten, and every page of the original stream at its place (file
// header, allocation maps, boot page, catalog, text pages), so a scan finds the same
// catalog. After them come new pages: copies of the biggest table's data pages with fresh
// page ids (their owner fields unchanged, so the census files them with that table), and a
// page free space page at the start of every 8088-page interval marking every page of it
// allocated, as a real backup of a big database holds. The original stream's last bytes and
// the tape blocks after the stream follow.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/allocation.h"
#include "common/backupreader.h"
#include "common/page.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/fakeprogram.h"
#include "largefile.h"

namespace {

using largefile::Output;
using largefile::PutU32;
using largefile::PutU64;

constexpr DWORD kPfsInterval = 8088;
constexpr size_t kPfsFirstByte = 100;
constexpr BYTE kPfsAllocated = 0x40;
constexpr size_t kStreamHeaderToData = 24;  // the stream header sits 24 bytes before the data

int Fail(const std::string& why) {
  std::fprintf(stderr, "make-large-backup: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  largefile::GrowArgs args;
  if (!largefile::ParseGrowArgs(argc, argv, args)) {
    std::fprintf(stderr, "usage: make-large-backup FULL-BACKUP.bak OUT.bak [--bytes N] [--table NAME]\n");
    return 2;
  }
  const std::string& in = args.in;
  const std::string& out = args.out;
  const std::string& tableName = args.table;
  const UINT64 bytes = args.bytes;
  std::string source;
  if (!ReadWholeFile(in.c_str(), source)) return Fail("cannot read " + in);
  const BYTE* src = reinterpret_cast<const BYTE*>(source.data());

  // The engine's log goes beside the output, not beside this program.
  const std::string logFolder = std::filesystem::path(out).parent_path().string();
  SetModuleFolderOverride(logFolder.empty() ? "." : logFolder);

  // Where the stream lies, and which table is the biggest, as the engine itself sees them.
  CSQLServer2008 engine;
  testsupport::RecoveryOptions options;
  options.censusHandOverEvery = 64;
  testsupport::RecoveryResult scan = testsupport::RunRecovery(engine, in, options);
  if (!scan.finished || !engine.m_pCurrentSet || !engine.m_pCurrentSet->m_pStream)
    return Fail("the scan of " + in + " did not finish on a backup set");
  if (engine.m_pCurrentSet->m_nBackupType != 1) return Fail("the first set is not a full backup");
  const UINT64 streamOffset = engine.m_pCurrentSet->m_pStream->nOffset;
  const UINT64 streamLength = engine.m_pCurrentSet->m_pStream->nLength;
  if (streamOffset < kStreamHeaderToData || streamOffset + streamLength > source.size() ||
      std::memcmp(src + streamOffset - kStreamHeaderToData, "MQDA", 4) != 0)
    return Fail("no data stream header before the pages");
  // The table with the most records (slots of its data pages), unless one is named.
  CTable* biggest = largefile::TableToGrow(engine, src + streamOffset, streamLength / kPageSize, tableName);
  if (!biggest) return Fail(tableName.empty() ? "no user table with data pages" : "no table " + tableName);
  const std::vector<DWORD> tablePages = biggest->m_vecDataPages;

  const UINT64 streamPages = streamLength / kPageSize;
  const UINT64 wantedPages = std::max<UINT64>(bytes / kPageSize, streamPages + 1);
  if (wantedPages > 0x7FFFFFFF) return Fail("too many pages");
  const UINT64 extraPages = wantedPages - streamPages;
  // New page ids start at the first page free space interval after the original ones.
  const DWORD firstId = DWORD((streamPages + kPfsInterval - 1) / kPfsInterval * kPfsInterval);

  const BYTE* pfsTemplate = nullptr;
  for (UINT64 n = 0; n < streamPages && !pfsTemplate; ++n) {
    const BYTE* p = src + streamOffset + n * kPageSize;
    if (PageTypeOf(p) == kPagePfs) pfsTemplate = p;
  }
  if (!pfsTemplate) return Fail("the stream holds no page free space page");

  Output o(out);
  if (!o.ok()) return Fail("cannot create " + out);
  std::vector<BYTE> head(src, src + streamOffset);
  // The stream's declared length counts the 2 bytes before the first page.
  PutU64(head.data() + streamOffset - kStreamHeaderToData + 8, streamLength + extraPages * kPageSize + 2);
  o.Put(head.data(), head.size());
  o.Put(src + streamOffset, streamPages * kPageSize);

  auto isPfsId = [](DWORD id) { return id % kPfsInterval == 0; };
  std::vector<BYTE> page(kPageSize);
  size_t next = 0;
  DWORD previousDataId = 0;
  UINT64 copies = 0;
  for (UINT64 k = 0; k < extraPages; ++k) {
    const DWORD id = firstId + DWORD(k);
    if (isPfsId(id)) {
      std::memcpy(page.data(), pfsTemplate, kPageSize);
      std::memset(page.data() + kPfsFirstByte, kPfsAllocated, kPfsInterval);
    } else {
      std::memcpy(page.data(), src + streamOffset + UINT64(tablePages[next]) * kPageSize, kPageSize);
      next = (next + 1) % tablePages.size();
      DWORD nextId = id + 1;
      if (isPfsId(nextId)) ++nextId;
      const bool last = k + 1 == extraPages || (k + 2 == extraPages && isPfsId(id + 1));
      PutU32(page.data() + 8, previousDataId);
      PutU32(page.data() + 16, last ? 0 : nextId);
      previousDataId = id;
      ++copies;
    }
    PutU32(page.data() + 32, id);
    // A copy keeps its checksum valid, as the allocation evidence checks the PFS pages'.
    if (PageFlagBits(page.data()) & 0x200) PutU32(page.data() + 60, PageChecksum(page.data()));
    o.Put(page.data(), kPageSize);
  }
  // The stream's bytes after its last whole page, then the tape blocks after the stream.
  o.Put(src + streamOffset + streamPages * kPageSize, streamLength - streamPages * kPageSize);
  o.Put(src + streamOffset + streamLength, source.size() - (streamOffset + streamLength));
  if (!o.Finish()) return Fail("write failed on " + out);
  std::printf("wrote %s: %llu pages in the data stream, table [%s] gets %llu more pages\n", out.c_str(),
              (unsigned long long)wantedPages, biggest->m_strName.str().c_str(),
              (unsigned long long)copies);
  return 0;
}
