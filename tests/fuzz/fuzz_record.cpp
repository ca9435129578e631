// The record decoders on one data page of a fixed table: the preview walk of the engine over
// that page (with its off-row values read from the pages that follow it in the input), and
// the decoder itself on every slot with and without deleted rows.
//
// Input: byte 0 chooses the table, byte 1 holds options (bit 0: deleted rows wanted), then
// the data page (8192 bytes, zero-padded), then any number of pages for off-row values, each
// placed in the file at its own page id as a database file holds it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "common/page.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "dll/pellwyn2008/record.h"
#include "fuzz_tables.h"
#include "fuzzsupport.h"

namespace {

constexpr DWORD kMaxPlacedPageId = 4096;  // keeps the sparse file small

struct Input {
  unsigned table = 0;
  bool deleted = false;
  std::vector<BYTE> page = std::vector<BYTE>(kPageSize, 0);
  std::map<DWORD, std::vector<BYTE>> extra;  // page id -> page
};

Input Split(const std::uint8_t* data, size_t size) {
  Input in;
  if (size > 0) in.table = data[0];
  if (size > 1) in.deleted = data[1] & 1;
  size_t at = std::min<size_t>(size, 2);
  std::memcpy(in.page.data(), data + at, std::min<size_t>(size - at, kPageSize));
  at += kPageSize;
  for (; at < size; at += kPageSize) {
    std::vector<BYTE> p(kPageSize, 0);
    std::memcpy(p.data(), data + at, std::min<size_t>(size - at, kPageSize));
    const DWORD id = PageIdOf(p.data());
    if (id >= 1 && id < kMaxPlacedPageId) in.extra.emplace(id, std::move(p));
  }
  return in;
}

std::string WriteDatabase(const Input& in) {
  const std::string path = fuzzsupport::WriteScratch("record.mdf", in.page.data(), in.page.size());
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  for (const auto& [id, p] : in.extra)
    if (::pwrite(fd, p.data(), p.size(), off_t(id) * kPageSize) != ssize_t(p.size())) fuzzsupport::Fail("pwrite");
  ::close(fd);
  return path;
}

CSQLServer2008& Engine() {
  // One engine for the whole run: an engine keeps its status block for the process's life.
  static CSQLServer2008* engine = [] {
    fuzzsupport::ScratchDir();
    auto* e = new CSQLServer2008();
    return e;
  }();
  return *engine;
}

void Preview(CSQLServer2008& engine, CTable& table) {
  CEngineStatus* status = engine.m_pStatus;
  status->m_pPreviewTable = &table;
  engine.m_bPaging = 0;
  engine.m_bPageForward = 0;
  engine.m_bLastWindow = 0;
  engine.m_bExportMode = 0;
  engine.m_posShownPage.reset();
  engine.m_posNextPage.reset();
  engine.m_stkWindowStarts.clear();
  const int valueCount = RecordPlan(table).ValueCount();
  for (int window = 0; window < 20; ++window) {
    status->m_bRecordThreadDone = 0;
    CSQLServer2008::RunPreviewWalk(&engine, engine.m_pPreviewWalks, engine.TakePreviewTicket());
    FUZZ_CHECK(status->m_bRecordThreadDone);
    size_t rows = 0;
    {
      std::lock_guard<std::mutex> lock(status->m_csPreviewRows);
      rows = status->m_vecPreviewRows.size();
      for (const CString& row : status->m_vecPreviewRows) {
        // Every value is followed by the separator: a row never has fewer than its values.
        int separators = 0;
        for (int at = row.Find("$#$"); at >= 0; at = row.Find("$#$", at + 3)) ++separators;
        FUZZ_CHECK(separators >= valueCount);
      }
      status->m_vecPreviewRows.clear();
    }
    FUZZ_CHECK(rows <= size_t(CSQLServer2008::kPreviewWindowRows));
    if (engine.m_bLastWindow || rows == 0) break;
    engine.m_bPaging = 1;
    engine.m_bPageForward = 1;
  }
  status->m_pPreviewTable = nullptr;
}

void DecodeEverySlot(const Input& in, const CTable& table) {
  const RecordPlan plan(table);
  const OffRowReader reader = [&](const OffRowPointer& pointer, LobSink& sink, LobReadReport* report) {
    LobWalker walker([&](DWORD id, BYTE* out) {
      auto it = in.extra.find(id);
      if (it == in.extra.end()) return false;
      std::memcpy(out, it->second.data(), kPageSize);
      return true;
    });
    walker.ReadPointer(pointer, sink);
    if (report) *report = walker.report();
    return walker.report().complete();
  };
  std::vector<BYTE> page = in.page;
  RestoreTornBitsIfPresent(page.data());
  ForEachSlot(page.data(), [&](int, WORD entry) {
    for (bool ghosts : {false, true}) {
      RecordDecodeOptions options;
      options.includeGhosts = ghosts;
      options.offRow = &reader;
      DecodedRecord record;
      ByteView bytes(page.data() + entry, size_t(kPageSize - entry));
      if (DecodeRecord(plan, bytes, options, record) != RecordVerdict::kDecoded) continue;
      FUZZ_CHECK(record.cells.size() == plan.columns().size());
      FUZZ_CHECK(record.recordEnd <= bytes.size() || !record.hasVarPart);
      for (const RecordCell& cell : record.cells) {
        const ByteView v = cell.bytes();
        if (!cell.offRow && v.size()) FUZZ_CHECK(v.data() >= bytes.data() && v.data() + v.size() <= bytes.data() + bytes.size());
      }
    }
    return true;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const Input in = Split(data, size);
  std::unique_ptr<CTable> table = fuzztables::Make(in.table);
  table->m_vecDataPages = {0};
  CSQLServer2008& engine = Engine();
  engine.m_strFilePath = WriteDatabase(in).c_str();
  engine.m_strExtension = "mdf";
  engine.m_nDataSetCount = 0;
  engine.m_bRecoverDeleted = in.deleted ? 1 : 0;
  Preview(engine, *table);
  DecodeEverySlot(in, *table);
  return 0;
}
