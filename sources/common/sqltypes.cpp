#include "sqltypes.h"

CString SqlTypeName(BYTE id, bool laterTypes) {
  switch (id) {
    case 34: return "image";
    case 35: return "text";
    case 36: return "uniqueidentifier";
    case 48: return "tinyint";
    case 52: return "smallint";
    case 56: return "int";
    case 58: return "smalldatetime";
    case 59: return "real";
    case 60: return "money";
    case 61: return "datetime";
    case 62: return "float";
    case 98: return "sql_variant";
    case 99: return "ntext";
    case 104: return "bit";
    case 106: return "decimal";
    case 108: return "numeric";
    case 122: return "smallmoney";
    case 127: return "bigint";
    case 165: return "varbinary";
    case 167: return "varchar";
    case 173: return "binary";
    case 175: return "char";
    case 189: return "timestamp";
    case 231: return "nvarchar";
    case 239: return "nchar";
    default: break;
  }
  if (!laterTypes) return CString();
  switch (id) {
    case 40: return "date";
    case 41: return "time";
    case 42: return "datetime2";
    case 43: return "datetimeoffset";
    // CLR types (hierarchyid, geometry, geography and user CLR types) are stored as
    // serialised bytes: carried as variable binary, they keep their data.
    case 240: return "varbinary";
    case 241: return "xml";
    default: return CString();
  }
}

namespace {

struct TypeName {
  const char* name;
  SqlType type;
};
constexpr TypeName kTypeNames[] = {
    {"bit", SqlType::kBit},
    {"tinyint", SqlType::kTinyInt},
    {"smallint", SqlType::kSmallInt},
    {"int", SqlType::kInt},
    {"bigint", SqlType::kBigInt},
    {"real", SqlType::kReal},
    {"float", SqlType::kFloat},
    {"decimal", SqlType::kDecimal},
    {"numeric", SqlType::kNumeric},
    {"money", SqlType::kMoney},
    {"smallmoney", SqlType::kSmallMoney},
    {"datetime", SqlType::kDateTime},
    {"smalldatetime", SqlType::kSmallDateTime},
    {"date", SqlType::kDate},
    {"time", SqlType::kTime},
    {"datetime2", SqlType::kDateTime2},
    {"datetimeoffset", SqlType::kDateTimeOffset},
    {"char", SqlType::kChar},
    {"nchar", SqlType::kNChar},
    {"binary", SqlType::kBinary},
    {"uniqueidentifier", SqlType::kUniqueIdentifier},
    {"timestamp", SqlType::kTimestamp},
    {"varchar", SqlType::kVarChar},
    {"nvarchar", SqlType::kNVarChar},
    {"text", SqlType::kText},
    {"ntext", SqlType::kNText},
    {"image", SqlType::kImage},
    {"varbinary", SqlType::kVarBinary},
    {"xml", SqlType::kXml},
    {"sql_variant", SqlType::kSqlVariant},
};

}  // namespace

SqlType SqlTypeFromName(const CString& name) {
  for (const TypeName& t : kTypeNames)
    if (name == t.name) return t.type;
  return SqlType::kUnknown;
}
