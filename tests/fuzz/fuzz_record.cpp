// The record decoders on one data page of a fixed table: the preview walk of the engine over
// that page (with its off-row values read from the pages that follow it in the input), and
// the decoder itself on every slot with and without deleted rows; with deleted rows the
// slots are read as the deleted-row plan says. Input: page_input.h.
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "common/datarecord.h"
#include "common/deletedrows.h"
#include "common/page.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "dll/pellwyn2008/record.h"
#include "fuzz_tables.h"
#include "fuzzsupport.h"
#include "page_input.h"

namespace {

using pageinput::Input;

CSQLServer2008& Engine() {
  // One engine for the whole run: an engine keeps its status block for the process's life.
  static CSQLServer2008* engine = [] {
    fuzzsupport::ScratchDir();
    auto* e = new CSQLServer2008();
    return e;
  }();
  return *engine;
}

// Every window of the table's one page, paging forward as the program does; gives the rows.
size_t Preview(CSQLServer2008& engine, CTable& table) {
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
  size_t total = 0;
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
    total += rows;
    if (engine.m_bLastWindow || rows == 0) break;
    engine.m_bPaging = 1;
    engine.m_bPageForward = 1;
  }
  status->m_pPreviewTable = nullptr;
  return total;
}

// Gives the records that decode as rows with deleted rows as the input asks: with them, the
// slots as the plan reads them (the preview's own reading).
size_t DecodeEverySlot(const Input& in, CSQLServer2008& engine, const CTable& table) {
  size_t rows = 0;
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
  std::optional<DeletedRowPlan> deleted;
  if (in.deleted && PageTypeOf(page.data()) == kPageData) {
    deleted.emplace(engine.PlanDeletedRowsOf(table, table.m_vecDataPages, plan, false));
    FUZZ_CHECK(deleted->recovered >= 0 && deleted->copies >= 0);
  }
  const int slots = SlotCountCapped(page.data());
  for (int slot = 0; slot < slots; ++slot) {
    WORD entry = SlotEntry(page.data(), slot);
    if (deleted) {
      const WORD at = deleted->RowAt(0, slot);
      if (at != DeletedRowPlan::kAsStored) {
        entry = at;
        // A deleted row the plan takes is a record of the table's shape inside the page.
        if (at) FUZZ_CHECK(at >= kPageHeaderSize && at < kPageSize - 4);
        if (at) FUZZ_CHECK(RecordEndOf(page.data(), at, kPageSize) != 0);
      }
    }
    if (entry == 0) continue;
    for (bool ghosts : {false, true}) {
      RecordDecodeOptions options;
      options.includeGhosts = ghosts;
      options.offRow = &reader;
      DecodedRecord record;
      ByteView bytes(page.data() + entry, size_t(kPageSize - entry));
      if (DecodeRecord(plan, bytes, options, record) != RecordVerdict::kDecoded) continue;
      if (ghosts == in.deleted) ++rows;
      FUZZ_CHECK(record.cells.size() == plan.columns().size());
      for (const RecordCell& cell : record.cells) {
        const ByteView v = cell.bytes();
        if (cell.offRow || v.size() == 0) continue;
        FUZZ_CHECK(v.data() >= bytes.data() && v.data() + v.size() <= bytes.data() + bytes.size());
      }
    }
  }
  return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const Input in = pageinput::Split(data, size);
  std::unique_ptr<CTable> table = fuzztables::Make(in.table);
  table->m_vecDataPages = {0};
  CSQLServer2008& engine = Engine();
  engine.m_strFilePath = pageinput::WriteDatabase(in, "record.mdf").c_str();
  engine.m_strExtension = "mdf";
  engine.m_nDataSetCount = 0;
  engine.m_bRecoverDeleted = in.deleted ? 1 : 0;
  const size_t shown = Preview(engine, *table);
  // The windows together show every row of the page once, however the page splits into them.
  if (PageTypeOf(in.page.data()) == kPageData) FUZZ_CHECK(shown == DecodeEverySlot(in, engine, *table));
  else DecodeEverySlot(in, engine, *table);
  return 0;
}
