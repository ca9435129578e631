// A stored sql_variant value: its base type byte, a version byte, the base type's properties,
// then the value's own bytes. Both engines write such a value as a literal of its base type
// cast back to that type, so the restored value keeps the type it had.
#pragma once

#include "common/page.h"
#include "common/sqltypes.h"
#include "platform/cstring.h"

struct SqlVariantValue {
  // The type the value's bytes are read as: binary and varbinary as kBinary, char and varchar
  // as kVarChar, nchar and nvarchar as kNVarChar, every other base type as itself.
  SqlType type = SqlType::kUnknown;
  int length = 0;  // the base type's maximum length in bytes, for the types that have one
  int precision = 0;
  int scale = 0;
  CString castType;  // the base type as CAST names it: "int", "decimal(5,2)", "nvarchar(10)"
  ByteView data;     // the value's bytes
};

// False when the base type is not one known here or the properties do not fit the bytes.
bool ParseSqlVariant(ByteView v, SqlVariantValue& out);
