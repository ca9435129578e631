#include "common/sqlvariant.h"

bool ParseSqlVariant(ByteView v, SqlVariantValue& out) {
  if (v.size() < 2) return false;
  const BYTE base = v.data()[0];
  out = SqlVariantValue();
  SqlVariantValue& t = out;
  size_t header = 2;
  CString& castType = out.castType;
  auto u16 = [&](size_t at) { return at + 2 <= v.size() ? int(v.data()[at] | v.data()[at + 1] << 8) : -1; };
  switch (base) {
    case 48: t.type = SqlType::kTinyInt; castType = "tinyint"; break;
    case 52: t.type = SqlType::kSmallInt; castType = "smallint"; break;
    case 56: t.type = SqlType::kInt; castType = "int"; break;
    case 127: t.type = SqlType::kBigInt; castType = "bigint"; break;
    case 104: t.type = SqlType::kBit; castType = "bit"; break;
    case 59: t.type = SqlType::kReal; castType = "real"; break;
    case 62: t.type = SqlType::kFloat; castType = "float"; break;
    case 60: t.type = SqlType::kMoney; t.precision = 19; castType = "money"; break;
    case 122: t.type = SqlType::kSmallMoney; t.precision = 10; castType = "smallmoney"; break;
    case 61: t.type = SqlType::kDateTime; castType = "datetime"; break;
    case 58: t.type = SqlType::kSmallDateTime; castType = "smalldatetime"; break;
    case 36: t.type = SqlType::kUniqueIdentifier; castType = "uniqueidentifier"; break;
    case 40: t.type = SqlType::kDate; castType = "date"; break;
    case 106:
    case 108:
      if (v.size() < 4) return false;
      t.type = base == 106 ? SqlType::kDecimal : SqlType::kNumeric;
      t.precision = v.data()[2];
      t.scale = v.data()[3];
      header = 4;
      castType = FormatString("%s(%d,%d)", base == 106 ? "decimal" : "numeric", t.precision, t.scale);
      break;
    case 41:
    case 42:
    case 43:
      if (v.size() < 3) return false;
      t.type = base == 41 ? SqlType::kTime : base == 42 ? SqlType::kDateTime2 : SqlType::kDateTimeOffset;
      t.scale = v.data()[2];
      header = 3;
      castType = FormatString("%s(%d)", base == 41 ? "time" : base == 42 ? "datetime2" : "datetimeoffset", t.scale);
      break;
    case 173:
    case 165:
      t.length = u16(2);
      header = 4;
      t.type = SqlType::kBinary;
      castType = FormatString("%s(%d)", base == 173 ? "binary" : "varbinary", t.length);
      break;
    case 175:
    case 167:
    case 239:
    case 231: {
      // Maximum length (2 bytes) and collation (4 bytes).
      t.length = u16(2);
      header = 8;
      const bool national = base == 239 || base == 231;
      t.type = national ? SqlType::kNVarChar : SqlType::kVarChar;
      const char* name = base == 175 ? "char" : base == 167 ? "varchar" : base == 239 ? "nchar" : "nvarchar";
      castType = FormatString("%s(%d)", name, national ? t.length / 2 : t.length);
      if (national && t.length % 2 != 0) return false;
      break;
    }
    default: return false;
  }
  if (header > v.size()) return false;
  ByteView data(v.data() + header, v.size() - header);
  // A length that does not hold the value means these are not the properties of its type.
  if ((base == 173 || base == 165 || base == 175 || base == 167 || base == 239 || base == 231) &&
      (t.length < int(data.size()) || t.length < 1 || t.length > 8000))
    return false;
  out.data = data;
  return true;
}

