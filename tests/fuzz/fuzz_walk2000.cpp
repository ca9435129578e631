// The 2000 engine's record walks over one data page of a fixed table (fuzz_tables2000.h): the
// export walk to a script and to a recording connection, and a preview window. Beyond the
// record decoder the walks read the slot array (first-slot repair, deleted-row chains from
// one record's end to the next) and the page header. Input: page_input.h (byte 1, bit 2: the
// page belongs to another object).
#include <cstdint>
#include <string>

#include "common/page.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "fuzz_tables2000.h"
#include "fuzzsupport.h"
#include "page_input.h"
#include "platform/files.h"
#include "support/fakedatabase.h"
#include "support/tsqllexer.h"

namespace {

void CheckAscii(const std::string& text) {
  for (unsigned char c : text) FUZZ_CHECK(c < 0x7F && (c >= 0x20 || c == '\t' || c == '\r' || c == '\n'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  // One engine for the whole run: an engine keeps its status block for the process's life.
  static CSQLServer2000* shared = [] {
    fuzzsupport::ScratchDir();
    return new CSQLServer2000();
  }();
  CSQLServer2000& engine = *shared;
  const pageinput::Input in = pageinput::Split(data, size);
  std::unique_ptr<CTable> table = fuzztables2000::Make(in.table);
  const bool foreign = size > 1 && (data[1] & 4);
  table->m_dwObjectId = PageObjectId(in.page.data()) + (foreign ? 1 : 0);
  table->m_vecDataPages = {0};
  engine.m_strFilePath = pageinput::WriteDatabase(in, "walk2000.mdf").c_str();
  engine.m_nDataSetCount = 0;
  engine.m_bRecoverDeleted = in.deleted ? 1 : 0;
  engine.m_pStatus->m_bStopRecords = 0;

  const std::string script = fuzzsupport::ScratchDir() + "/walk2000.sql";
  engine.m_hTableSqlFile = CreateFileForWrite(script.c_str());
  engine.ExportTableRows(table.get(), nullptr);
  CloseFileHandle(engine.m_hTableSqlFile);
  engine.m_hTableSqlFile = kInvalidFile;
  const int written = table->m_nRowsExported;
  std::string text;
  ReadWholeFile(script.c_str(), text, 64u << 20);
  CheckAscii(text);
  for (const std::string& batch : testsupport::SplitSqlBatches(text)) FUZZ_CHECK(testsupport::LexSqlBatch(batch).ok());

  testsupport::FakeDatabase server;
  engine.ExportTableRows(table.get(), &server);
  // The same rows reach a connection as a script: no statement is refused here.
  FUZZ_CHECK(table->m_nRowsExported == written);
  for (const std::string& s : server.Statements()) CheckAscii(s);
  if (foreign) FUZZ_CHECK(written == 0);

  engine.m_pStatus->m_pPreviewTable = table.get();
  engine.m_bExportMode = 0;
  engine.m_bPaging = 0;
  engine.m_stkWindowStarts.clear();
  engine.m_pStatus->m_bRecordThreadDone = 0;
  CSQLServer2000::RecoverTableRecordThread(&engine);
  FUZZ_CHECK(engine.m_pStatus->m_bRecordThreadDone == 1);
  {
    std::lock_guard<std::mutex> lock(engine.m_pStatus->m_csPreviewRows);
    FUZZ_CHECK(engine.m_pStatus->m_vecPreviewRows.size() <= size_t(CSQLServer2000::kPreviewWindowRows));
    if (foreign) FUZZ_CHECK(engine.m_pStatus->m_vecPreviewRows.empty());
    engine.m_pStatus->m_vecPreviewRows.clear();
  }
  engine.m_pStatus->m_pPreviewTable = nullptr;
  return 0;
}
