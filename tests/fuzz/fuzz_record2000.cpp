// The 2000 record decoder on one data page of a fixed table (fuzz_tables2000.h), in both
// modes, with its off-row values read from the pages that follow in the input, and each
// decoded row's INSERT statement. Input: page_input.h (byte 1, bit 1: export mode).
#include <cstdint>
#include <cstring>
#include <string>

#include "common/page.h"
#include "dll/pellwyn2000/insert2000.h"
#include "dll/pellwyn2000/record2000.h"
#include "fuzz_tables2000.h"
#include "fuzzsupport.h"
#include "page_input.h"
#include "support/tsqllexer.h"

namespace {

using namespace rows2000;

// A script's statement is printable ASCII (tabs and line ends aside), one batch (a large-value
// block: and the batch that switches XACT_ABORT off again), and lexes as T-SQL, whatever the row
// held.
void CheckStatement(const std::string& text) {
  for (unsigned char c : text) FUZZ_CHECK(c < 0x7F && (c >= 0x20 || c == '\t' || c == '\r' || c == '\n'));
  const auto batches = testsupport::SplitSqlBatches(text);
  const bool block = text.rfind("SET XACT_ABORT ON \r\n", 0) == 0;
  FUZZ_CHECK(batches.size() == (block ? 3u : 2u));
  if (block) FUZZ_CHECK(batches[1] == "SET XACT_ABORT OFF\r\n");
  for (size_t i = 0; i + 1 < batches.size(); ++i) FUZZ_CHECK(testsupport::LexSqlBatch(batches[i]).ok());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const pageinput::Input in = pageinput::Split(data, size);
  const std::unique_ptr<CTable> table = fuzztables2000::Make(in.table);
  const bool exportMode = size > 1 && (data[1] & 2);
  const RowPlan plan(*table);
  const InsertPlan statements(*table);
  const LobReader lob([&](const lobcore::Rid& rid, BYTE* out) {
    auto it = in.extra.find(rid.page);
    if (it == in.extra.end()) return false;
    std::memcpy(out, it->second.data(), kPageSize);
    return true;
  });
  DecodeOptions options;
  options.mode = exportMode ? Mode::kExport : Mode::kDisplay;
  options.recoverDeleted = in.deleted;
  options.lob = &lob;
  std::vector<BYTE> page = in.page;
  RestoreTornBitsIfPresent(page.data());
  const ByteView body(page.data() + kPageHeaderSize, kPageBodySize);
  ForEachSlot(page.data(), [&](int, WORD entry) {
    DecodedRow row;
    if (DecodeRecord(plan, body, WORD(entry - kPageHeaderSize), options, row) != Verdict::kDecoded) return true;
    FUZZ_CHECK(row.values.size() == plan.ValueCount());
    FUZZ_CHECK(row.endOffset <= kPageBodySize);
    FUZZ_CHECK(row.incompleteValues <= row.varCount);
    if (!exportMode) {
      std::string text;
      if (PreviewRowText(row, text)) {
        size_t separators = 0;
        for (size_t at = text.find("$#$"); at != std::string::npos; at = text.find("$#$", at + 3)) ++separators;
        FUZZ_CHECK(separators >= row.values.size());
      } else {
        FUZZ_CHECK(row.allNull);
      }
      return true;
    }
    for (const Value& v : row.values) FUZZ_CHECK(v.mark != Mark::kDefault);
    const RowStatement script = statements.Build(row.values, Target::kScript);
    CheckStatement(script.ScriptText().str());
    FUZZ_CHECK(script.columns <= int(row.values.size()));
    // The server's text differs from the script's only in its endings: lexed once is enough.
    const std::string server = statements.Build(row.values, Target::kServer).ServerText().str();
    for (unsigned char c : server) FUZZ_CHECK(c < 0x7F && (c >= 0x20 || c == '\t' || c == '\r' || c == '\n'));
    return true;
  });
  return 0;
}
