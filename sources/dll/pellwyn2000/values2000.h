// Value texts of SQL Server 2000 column values, as the preview shows them and as the export
// hands them to its statement builder.
//
// A value travels as a mark and a text. The marks ("NULL", "Empty", "Corrupt", ...) are kept
// apart from the texts, so a stored value that happens to read "NULL" or holds "$#$" is still
// that value; the preview joins the texts, the statement builder reads the marks.
//
// Two modes (fixed once per walk by its caller, never read from the engine mid-row):
//   display  readable texts: dates formatted, UTF-16 and the char types' code pages as UTF-8,
//            binary shown as a marker;
//   export   statement tokens: nchar, datetime, smalldatetime and every variable-length type
//            but varchar and off-row text as lower-case hex digits (datetime and
//            smalldatetime byte-reversed, so the day count comes first), binary as "0x" + hex,
//            numbers exactly.
#pragma once

#include <cstddef>
#include <string>

#include "common/page.h"
#include "common/sqltypes.h"
#include "platform/cstring.h"
#include "platform/types.h"

namespace rows2000 {

// SQL types and their names, shared with the 2005+ decoder. A name this decoder does not
// know (kUnknown, or a type the 2000 format does not have) a fixed column reads as a
// little-endian integer.
using ::SqlType;
using ::SqlTypeFromName;

// The types whose values live in the record's variable part.
bool IsVariableType(SqlType type);

enum class Mode : BYTE { kDisplay, kExport };

enum class Mark : BYTE {
  kValue,        // text holds the value
  kNull,         // NULL
  kEmpty,        // a zero-length value, or a position no column fills
  kCorrupt,      // the stored bytes cannot be this column's value
  kFormula,      // a computed column: nothing stored
  kDeleted,      // a dropped column without a stored value
  kInvalidDate,  // a datetime or smalldatetime outside what the server accepts
  kDefault,      // display only: the column's default text, for a column the record predates
};

// The text the preview shows for a mark ("NULL", "Empty", "Corrupt", "FORMULA", "Deleted",
// "Invalid DateTime."); "" for kValue and kDefault, whose text is their own.
const char* MarkText(Mark mark);

struct Value {
  Mark mark = Mark::kEmpty;
  std::string text;

  static Value Of(std::string text) { return Value{Mark::kValue, std::move(text)}; }
  static Value Marked(Mark mark) { return Value{mark, std::string()}; }
  // What the preview shows: the text, or the mark's text. An empty text shows "Empty".
  std::string Shown() const;
};

// The column facts a fixed-length value needs.
struct FixedColumn {
  SqlType type = SqlType::kUnknown;
  WORD length = 0;
  BYTE precision = 0;
  BYTE scale = 0;
  BYTE bitPosition = 0;
  unsigned codePage = 1252;  // char values in the preview: the code page of the collation
};

// Stored width read for a fixed type: the type's own for fixed-width types, else the column's
// length (char, nchar, binary, decimal, numeric and unknown types).
size_t FixedWidth(const FixedColumn& column);

// The value of a fixed-length column from its stored bytes (exactly FixedWidth bytes; any
// other count is kCorrupt). timestamp reads nothing: "<binary data>" in the preview and kNull
// in the export. (sql_variant is stored in the variable part; a fixed one reads kNull.)
Value RenderFixed(const FixedColumn& column, ByteView bytes, Mode mode);

// "datetime": ticks of 1/300 s since midnight and days since 1900-01-01, as
// "yyyy-mm-dd hh:mm:ss" (the ticks cut to whole seconds).
// Outside 1753-01-01..9999-12-31, or with ticks of a whole day or more, the value is not one
// the server stores: "Invalid DateTime.".
CString FormatDateTime2000(DWORD ticks, LONG days);
bool IsValidDateTime2000(DWORD ticks, LONG days);
// "smalldatetime" minutes past midnight must stay within the day.
bool IsValidSmallDateTime2000(DWORD value);

// In-row bytes of a variable-length column shown as text: every byte but 0x00, 0x01 and 0x02.
std::string FilteredText(ByteView bytes);
// nchar, nvarchar and ntext as the preview shows them: the UTF-16 as UTF-8, zero units left out.
std::string UnicodeShown(ByteView bytes);
// char, varchar and text as the preview shows them: bytes of `codePage` as UTF-8.
std::string CodePageShown(const std::string& bytes, unsigned codePage);
// Two lower-case hex digits per byte, no prefix.
std::string HexDigits(ByteView bytes);

}  // namespace rows2000
