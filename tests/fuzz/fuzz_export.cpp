// The export record decoder on one data page of a fixed table: the script export of the
// table as the export worker runs it (CREATE TABLE, the row walk with its INSERTs, large-value
// scripts, then keys), and ExportTableRecord called on every slot on its own.
// Input: page_input.h.
#include <cstdint>
#include <filesystem>

#include "common/page.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "dll/pellwyn2008/record.h"
#include "fuzz_tables.h"
#include "fuzzsupport.h"
#include "page_input.h"
#include "platform/files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  // One engine for the whole run: an engine keeps its status block for the process's life.
  static CSQLServer2008* shared = [] {
    fuzzsupport::ScratchDir();
    return new CSQLServer2008();
  }();
  CSQLServer2008& engine = *shared;
  const pageinput::Input in = pageinput::Split(data, size);
  std::unique_ptr<CTable> table = fuzztables::Make(in.table);
  table->m_vecDataPages = {0};
  engine.m_strFilePath = pageinput::WriteDatabase(in, "export.mdf").c_str();
  engine.m_strExtension = "mdf";
  engine.m_nDataSetCount = 0;
  engine.m_bRecoverDeleted = in.deleted ? 1 : 0;
  const std::string out = fuzzsupport::ScratchDir() + "/export-out";
  std::filesystem::create_directories(out);
  engine.m_strOutputFolder = out.c_str();
  engine.m_bExportToServer = 0;
  engine.m_bExportRows = 1;
  engine.m_hTableSqlFile = CreateFileForWrite("/dev/null");
  engine.m_hConstraintSqlFile = CreateFileForWrite("/dev/null");
  engine.m_hDefaultSqlFile = CreateFileForWrite("/dev/null");
  engine.GenerateTableQueries(table.get(), nullptr);
  const int walked = table->m_nRowsExported;

  // Each slot through the operation itself, outside any walk.
  std::vector<BYTE> page = in.page;
  RestoreTornBitsIfPresent(page.data());
  CString batch;
  bool full = false;
  table->m_nRowsExported = 0;
  ForEachSlot(page.data(), [&](int, WORD entry) {
    const WORD end = engine.ExportTableRecord(page.data() + kPageHeaderSize, WORD(entry - kPageHeaderSize), table.get(),
                                              nullptr, &batch, &full);
    FUZZ_CHECK(end <= kPageBodySize);
    return true;
  });
  // A row the walk exports is a row the operation exports, and a record the decoder takes for
  // a row. The walk reads data pages only, and with deleted rows also the records behind
  // zeroed slots.
  if (!in.deleted && PageTypeOf(in.page.data()) == kPageData) {
    FUZZ_CHECK(table->m_nRowsExported == walked);
    const RecordPlan plan(*table);
    int decoded = 0;
    ForEachSlot(page.data(), [&](int, WORD entry) {
      DecodedRecord record;
      ByteView bytes(page.data() + entry, size_t(kPageSize - entry));
      decoded += DecodeRecord(plan, bytes, RecordDecodeOptions(), record) == RecordVerdict::kDecoded;
      return true;
    });
    FUZZ_CHECK(walked == decoded);
  }
  CloseFileHandle(engine.m_hTableSqlFile);
  CloseFileHandle(engine.m_hConstraintSqlFile);
  CloseFileHandle(engine.m_hDefaultSqlFile);
  engine.m_bExportMode = 0;
  std::error_code ec;
  std::filesystem::remove_all(out, ec);
  return 0;
}
