// Large values in a script: a value too long for one literal of a statement line is inserted
// empty and then appended in pieces, each piece one line of hex digits, so every value of a
// row travels inside the script itself and no line or batch outgrows what osql, sqlcmd and
// the server take. The row is found again through the table's temporary column, which the
// INSERT sets to the batch's identifier variable.
//
// The forms, by the column's type:
//   text, ntext, image   SELECT @PTR = TEXTPTR(...), then UPDATETEXT ... @PTR NULL 0 per piece
//                        (ntext and text through a variable of nvarchar(4000) / varchar(8000),
//                        image with the piece's binary literal); SQL Server 2000 on
//   varchar(max), nvarchar(max), varbinary(max)
//                        UPDATE ... SET [c].WRITE(piece, NULL, 0); SQL Server 2005 on
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/cstring.h"

enum class ChunkForm {
  kNText,          // UPDATETEXT through @NTEXT nvarchar(4000)
  kText,           // UPDATETEXT through @TEXT varchar(8000)
  kImage,          // UPDATETEXT with the piece's binary literal
  kWriteBinary,    // .WRITE of the piece's binary literal
  kWriteVarChar,   // .WRITE of CONVERT(varchar(8000), piece)
  kWriteNVarChar,  // .WRITE of CONVERT(nvarchar(4000), piece)
};

struct ChunkedValue {
  CString quotedColumn;  // [name]
  ChunkForm form = ChunkForm::kImage;
  std::string hex;       // the value's bytes, two lower-case hex digits each
};

// Hex digits of one piece: 7998 bytes, which fit varchar(8000), and as UTF-16 (3999 characters)
// nvarchar(4000).
constexpr size_t kChunkHexDigits = 15996;

// Values longer than this many bytes are appended in pieces; shorter ones stay in the INSERT.
constexpr size_t kInlineValueBytes = 8000;

// A row's pieces beyond this many hex digits go on in further batches of a script: osql and
// sqlcmd hold a whole batch and send it as one request, which a server takes up to 65,536
// network packets (256 MB at the default packet size of 4 KB). 16 MB of value a batch.
constexpr size_t kBatchHexDigits = size_t(32) << 20;

// The statements that fill `values` of the row the INSERT of the same batch marked with
// `idVariable` ("@ID") in the temporary column `tempColumn` ([_TARNWELL_TEMPCOL]) of
// `table` ([owner].[name]). `pointerLineEnd` ends each TEXTPTR line. Appended to `out`.
// With a `batchBreak`, every kBatchHexDigits of pieces the batch ends with it: a "go" line and
// the declarations of the next batch, which sets the variable to the row's marker again; the
// pointer and the text variable are taken again after it.
void AppendChunkedValues(std::string& out, const CString& table, const CString& tempColumn, const CString& idVariable,
                         const char* pointerLineEnd, const std::vector<ChunkedValue>& values,
                         const std::string& batchBreak = std::string());

// Whether the pieces of `values` need more than one batch.
bool NeedsSeveralBatches(const std::vector<ChunkedValue>& values);

// A new marker for a row whose pieces span batches, as a uniqueidentifier literal: a variable
// does not outlive its batch, so each batch sets it to this literal.
CString NewRowMarkerLiteral();

// What an INSERT puts in a column whose value follows in pieces: an empty value of its kind,
// which UPDATETEXT can point into and .WRITE can append to (neither takes a NULL).
const char* ChunkedPlaceholder(ChunkForm form);
