// SQL type names of the system type ids stored in column rows. Both page formats share the
// ids of SQL Server 2000; the 2005-2008 format adds the date and time types, xml and the
// CLR types.
#pragma once

#include "platform/cstring.h"
#include "platform/types.h"

// The type name of a system type id; empty for an id the format does not have.
// `laterTypes`: also the ids SQL Server 2005 and 2008 added.
CString SqlTypeName(BYTE systemTypeId, bool laterTypes);

// SQL types as the row decoders tell them apart, resolved from a column's type name once per
// walk. The 2000 format has no date, time, datetime2 or datetimeoffset columns; its decoders
// read those names as they read kUnknown.
enum class SqlType : BYTE {
  kUnknown,  // a name the decoders do not know (or none): the 2005+ decoder shows its bytes as
             // hex, the 2000 decoder reads a fixed column as a little-endian integer
  kBit,
  kTinyInt,
  kSmallInt,
  kInt,
  kBigInt,
  kReal,
  kFloat,
  kDecimal,
  kNumeric,
  kMoney,
  kSmallMoney,
  kDateTime,
  kSmallDateTime,
  kDate,
  kTime,
  kDateTime2,
  kDateTimeOffset,
  kChar,
  kNChar,
  kBinary,
  kUniqueIdentifier,
  kTimestamp,
  kVarChar,
  kNVarChar,
  kText,
  kNText,
  kImage,
  kVarBinary,
  kXml,
  kSqlVariant,
};

// Exact, case-sensitive match of the catalog's type names (lower case); anything else is
// kUnknown.
SqlType SqlTypeFromName(const CString& name);
