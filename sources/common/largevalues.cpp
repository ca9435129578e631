#include "common/largevalues.h"

#include <algorithm>
#include <random>

#include "platform/guid.h"
#include "platform/types.h"

namespace {

bool ThroughPointer(ChunkForm form) {
  return form == ChunkForm::kNText || form == ChunkForm::kText || form == ChunkForm::kImage;
}

}  // namespace

const char* ChunkedPlaceholder(ChunkForm form) {
  switch (form) {
    case ChunkForm::kImage:
    case ChunkForm::kWriteBinary: return "0x";
    default: return "''";
  }
}

bool NeedsSeveralBatches(const std::vector<ChunkedValue>& values) {
  size_t digits = 0;
  for (const ChunkedValue& v : values) digits += v.hex.size();
  return digits > kBatchHexDigits;
}

CString NewRowMarkerLiteral() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  BYTE bytes[16];
  for (size_t i = 0; i < 16; i += 8) {
    const UINT64 r = random();
    for (size_t k = 0; k < 8; ++k) bytes[i + k] = BYTE(r >> (8 * k));
  }
  // A version-4 (random) identifier.
  bytes[7] = BYTE((bytes[7] & 0x0F) | 0x40);
  bytes[8] = BYTE((bytes[8] & 0x3F) | 0x80);
  return "'" + GuidToString(bytes) + "'";
}

void AppendChunkedValues(std::string& out, const CString& table, const CString& tempColumn, const CString& idVariable,
                         const char* pointerLineEnd, const std::vector<ChunkedValue>& values,
                         const std::string& batchBreak) {
  const std::string match = " where " + tempColumn.str() + " = " + idVariable.str();
  const std::string where = match + " \r\n";
  bool textDeclared = false;
  size_t batchDigits = 0;
  for (const ChunkedValue& v : values) {
    const std::string& column = v.quotedColumn.str();
    // What a piece of this value needs before it in its batch.
    auto prepare = [&] {
      if (v.form == ChunkForm::kText && !textDeclared) {
        // UPDATETEXT takes a literal or a variable only, and a text piece must be converted
        // from its bytes; a batch declares the variable once.
        out += "Declare @TEXT VarChar(8000) \r\n";
        textDeclared = true;
      }
      if (ThroughPointer(v.form)) out += "Select @PTR = TEXTPTR(" + column + ") from " + table.str() + match + pointerLineEnd;
    };
    prepare();
    for (size_t at = 0; at < v.hex.size(); at += kChunkHexDigits) {
      const size_t n = std::min(kChunkHexDigits, v.hex.size() - at);
      if (!batchBreak.empty() && batchDigits + n > kBatchHexDigits && batchDigits > 0) {
        out += batchBreak;
        batchDigits = 0;
        textDeclared = false;
        prepare();
      }
      batchDigits += n;
      switch (v.form) {
        case ChunkForm::kNText:
        case ChunkForm::kText: {
          const bool national = v.form == ChunkForm::kNText;
          out += national ? "SET @NTEXT = Convert(nvarchar(4000),0x" : "SET @TEXT = Convert(varchar(8000),0x";
          out.append(v.hex, at, n);
          out += ")\r\n";
          out += "Updatetext " + table.str() + "." + column + (national ? " @PTR NULL 0 @NTEXT \r\n" : " @PTR NULL 0 @TEXT \r\n");
          break;
        }
        case ChunkForm::kImage:
          out += "Updatetext " + table.str() + "." + column + " @PTR NULL 0 0x";
          out.append(v.hex, at, n);
          out += " \r\n";
          break;
        case ChunkForm::kWriteBinary:
        case ChunkForm::kWriteVarChar:
        case ChunkForm::kWriteNVarChar: {
          out += "UPDATE " + table.str() + " SET " + column + ".WRITE(";
          out += v.form == ChunkForm::kWriteBinary    ? "0x"
                 : v.form == ChunkForm::kWriteVarChar ? "CONVERT(varchar(8000),0x"
                                                      : "CONVERT(nvarchar(4000),0x";
          out.append(v.hex, at, n);
          out += v.form == ChunkForm::kWriteBinary ? ",NULL,0)" : "),NULL,0)";
          out += where;
          break;
        }
      }
    }
  }
}
