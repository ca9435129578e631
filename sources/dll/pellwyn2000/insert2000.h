// The INSERT statement of one exported 2000 row, built from the row's values (record2000.h,
// export mode) and the table's column list, and the large-value block that fills its ntext
// values through the table's temporary column.
//
// What a value becomes:
//   a stored value   its literal by the column's type (below)
//   NULL             NULL in a column that takes it; '' in a character column that does not;
//                    any other column is left to the server
//   empty            '' in a character column, 0x in a binary one
//   damaged, or a datetime the server would refuse
//                    '' in a character column that takes no NULL; otherwise left to the server
//   computed, dropped, timestamp
//                    never named: the server computes or fills them
//   sql_variant      a literal of its base type, cast back to it; one whose base type
//                    cannot be read is left to the server ('' when the column takes no NULL)
// Literals: nvarchar and nchar as CONVERT(nvarchar(n), 0x...) of their UTF-16 bytes; varchar,
// char and text quoted, or, when they hold a byte outside printable ASCII, as
// CONVERT(varchar(n), 0x...), so a statement is pure ASCII and no line of a value is ever a
// script's "go"; binary values 0x...; datetime and smalldatetime CONVERT(..., 0x...) of their
// stored bytes; numbers as they are (float and real with an exponent, so the server reads a
// float, exactly).
//
// ntext values, and in a script text and image values longer than 8000 bytes, are too long for
// one literal: the INSERT gives the column an empty value and the row a new identifier in
// "[_TARNWELL_TEMPCOL]", and the block appends the value in pieces of 7998 bytes with
// UPDATETEXT (common/largevalues.h), which SQL Server 2000 takes; nothing in a script needs a
// (max) type. The block is one transaction, complete in itself.
#pragma once

#include <string>
#include <vector>

#include "platform/cstring.h"
#include "values2000.h"

class CTable;

namespace rows2000 {

enum class Target : BYTE { kScript, kServer };

struct RowStatement {
  // The INSERT. Script: ends ")\r\ngo\r\n" (in a block ", @ID)\r\n"); server: ends ");" (in a
  // block ",@ID);").
  CString insert;
  // The large-value block, holding the INSERT; empty when no value of the row goes in pieces.
  CString block;
  int columns = 0;          // columns the INSERT names
  bool identity = false;    // it names an identity column
  int pieces = 0;           // UPDATETEXT pieces in the block
  int nullsInNotNull = 0;   // NULLs of NOT NULL character columns, written as ''
  int variantsLeftOut = 0;  // sql_variant values whose base type could not be read

  bool HasBlock() const { return !block.IsEmpty(); }
  // What a script file receives for the row: the INSERT, or the block and its "go".
  CString ScriptText() const;
  // What a connection executes for the row: the INSERT, or the block.
  const CString& ServerText() const { return HasBlock() ? block : insert; }
};

// What the statements of one table's rows share, resolved once per walk: the quoted names,
// the types and what each column takes. The table must outlive the plan.
class InsertPlan {
 public:
  explicit InsertPlan(const CTable& table);

  // The statement of one row: `values` in the order of the table's column list, as the
  // decoder gives them; columns past the values, or values past the columns, are not used.
  RowStatement Build(const std::vector<Value>& values, Target target) const;

 private:
  struct Column {
    CString quotedName;
    SqlType type = SqlType::kUnknown;
    bool named = true;  // false: computed, dropped, timestamp
    bool character = false;
    bool binary = false;
    bool nullable = false;
    bool identity = false;
    std::string nationalLength;  // nvarchar(n) of nchar and nvarchar columns
  };
  CString m_tableName;  // [owner].[name]
  std::vector<Column> m_columns;
};

// One row's statement with a plan of its own.
RowStatement BuildInsert(const CTable& table, const std::vector<Value>& values, Target target);

// "SET IDENTITY_INSERT [owner].[table] ON" or "... OFF".
CString IdentityInsertText(const CTable& table, bool on);

}  // namespace rows2000
