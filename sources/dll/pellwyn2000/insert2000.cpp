#include "insert2000.h"

#include <algorithm>

#include "common/largevalues.h"
#include "common/records.h"
#include "common/sqltext.h"
#include "common/sqlvariant.h"

namespace rows2000 {

namespace {

constexpr const char* kTempColumn = "_TARNWELL_TEMPCOL";

bool IsCharacterType(SqlType t) {
  switch (t) {
    case SqlType::kVarChar:
    case SqlType::kNVarChar:
    case SqlType::kNText:
    case SqlType::kText:
    case SqlType::kChar:
    case SqlType::kNChar: return true;
    default: return false;
  }
}

bool IsBinaryType(SqlType t) { return t == SqlType::kBinary || t == SqlType::kVarBinary || t == SqlType::kImage; }

// nvarchar(n) for a column of `length` bytes: its characters, at most 4000.
std::string NationalLength(WORD length) {
  if (length >= 4000) return "4000";
  return std::to_string(std::max(length / 2, 1));
}

// The literal of a fixed-length value from the decoder's export token (values2000.h).
CString FixedLiteral(SqlType type, const std::string& token) {
  switch (type) {
    case SqlType::kChar:
    case SqlType::kUniqueIdentifier: return SqlAnsiTextLiteral(token);
    case SqlType::kSmallDateTime: return CString("CONVERT(smalldatetime, 0x" + token + ")");
    case SqlType::kDateTime: return CString("CONVERT(datetime, 0x" + token + ")");
    case SqlType::kReal:
    case SqlType::kFloat: return token.find_first_of("eE") == std::string::npos ? CString(token + "E0") : CString(token);
    default: return CString(token);
  }
}

// A sql_variant value as a literal of its base type cast back to that type; false when its
// base type is not one a SQL Server 2000 value has, or its bytes are not a value of it.
bool VariantLiteral(const std::string& hex, CString& out) {
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
  SqlVariantValue variant;
  if (!ParseSqlVariant(ByteView(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()), variant)) return false;
  const ByteView data = variant.data;
  CString literal;
  switch (variant.type) {
    case SqlType::kVarChar: literal = SqlVarcharLiteral(data.data(), data.size()); break;
    case SqlType::kNVarChar:
      literal = "CONVERT(nvarchar(" + CString(NationalLength(WORD(variant.length))) + "),0x" +
                CString(HexDigits(data)) + ")";
      break;
    case SqlType::kBinary: literal = SqlBinaryLiteral(data.data(), data.size()); break;
    case SqlType::kDate:
    case SqlType::kTime:
    case SqlType::kDateTime2:
    case SqlType::kDateTimeOffset: return false;
    default: {
      FixedColumn column;
      column.type = variant.type;
      column.length = WORD(data.size());
      column.precision = BYTE(variant.precision);
      column.scale = BYTE(variant.scale);
      const Value v = RenderFixed(column, data, Mode::kExport);
      if (v.mark != Mark::kValue) return false;
      literal = FixedLiteral(variant.type, v.text);
      break;
    }
  }
  out = "CAST(" + literal + " AS " + variant.castType + ")";
  return true;
}

struct Parts {
  CString columns;
  CString values;
  int count = 0;
  void Add(const CString& quotedName, const CString& value) {
    if (count++) {
      columns += ',';
      values += ',';
    }
    columns += quotedName;
    values += value;
  }
};

}  // namespace

CString RowStatement::ScriptText() const { return HasBlock() ? block + kSqlScriptGo : insert; }

CString IdentityInsertText(const CTable& table, bool on) {
  return "SET IDENTITY_INSERT " + SqlQualifiedName(table.m_strOwner, table.m_strName) + (on ? " ON" : " OFF");
}

InsertPlan::InsertPlan(const CTable& table) : m_tableName(SqlQualifiedName(table.m_strOwner, table.m_strName)) {
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext) {
    Column col;
    col.quotedName = SqlQuoteName(c->m_strName);
    col.type = SqlTypeFromName(c->m_strType);
    col.named = !c->m_bDropped && c->m_strComputed.IsEmpty() && col.type != SqlType::kTimestamp;
    col.character = IsCharacterType(col.type);
    col.binary = IsBinaryType(col.type);
    col.nullable = c->m_bNullable;
    col.identity = c->m_bIdentity;
    if (col.type == SqlType::kNChar || col.type == SqlType::kNVarChar) col.nationalLength = NationalLength(c->m_wLength);
    m_columns.push_back(std::move(col));
  }
}

RowStatement BuildInsert(const CTable& table, const std::vector<Value>& values, Target target) {
  return InsertPlan(table).Build(values, target);
}

RowStatement InsertPlan::Build(const std::vector<Value>& values, Target target) const {
  const bool server = target == Target::kServer;
  const CString& tableName = m_tableName;
  RowStatement out;
  Parts parts;
  // Values that follow the INSERT in pieces: ntext always, text longer than varchar(8000) (SQL
  // Server 2000 has no varchar(max) to convert it to), and in a script image values too long
  // for one line (a connection takes them in the statement).
  std::vector<ChunkedValue> chunks;
  for (size_t i = 0; i < m_columns.size() && i < values.size(); ++i) {
    const Column& c = m_columns[i];
    const Value& v = values[i];
    if (!c.named || v.mark == Mark::kFormula) continue;
    const SqlType type = c.type;
    const bool character = c.character;
    auto add = [&](const CString& literal) {
      parts.Add(c.quotedName, literal);
      if (c.identity) out.identity = true;
    };
    switch (v.mark) {
      case Mark::kValue: break;
      case Mark::kEmpty:
        if (character) add("''");
        else if (c.binary) add("0x");
        continue;
      case Mark::kNull:
        // Named, so the server stores NULL and not the column's default.
        if (c.nullable) {
          add("NULL");
        } else if (character) {
          // A NULL the column does not take: the row keeps '', and the walk says how often.
          add("''");
          ++out.nullsInNotNull;
        }
        continue;
      default:
        // Damaged or refused values, and a display-only default.
        if (character && !c.nullable) add("''");
        continue;
    }
    const std::string& token = v.text;
    switch (type) {
      case SqlType::kImage:
        if (!server && token != "0x" && token.size() / 2 > kInlineValueBytes) {
          add(ChunkedPlaceholder(ChunkForm::kImage));
          chunks.push_back({c.quotedName, ChunkForm::kImage, token});
          break;
        }
        [[fallthrough]];
      case SqlType::kVarBinary:
      case SqlType::kXml:
        // The decoder gives their bytes as hex digits (an empty image as "0x").
        add(token == "0x" ? CString("0x") : CString("0x" + token));
        break;
      case SqlType::kNVarChar:
      case SqlType::kNChar: add(CString("CONVERT(nvarchar(" + c.nationalLength + "),0x" + token + ")")); break;
      case SqlType::kSqlVariant: {
        CString literal;
        if (VariantLiteral(token, literal)) {
          add(literal);
        } else {
          // Its base type cannot be read: left to the server, and counted.
          ++out.variantsLeftOut;
          if (!c.nullable) add("''");
        }
        break;
      }
      case SqlType::kNText:
        add(ChunkedPlaceholder(ChunkForm::kNText));
        chunks.push_back({c.quotedName, ChunkForm::kNText, token});
        break;
      case SqlType::kText:
        if (token.size() > kInlineValueBytes) {
          add(ChunkedPlaceholder(ChunkForm::kText));
          chunks.push_back({c.quotedName, ChunkForm::kText,
                            SqlHexDigits(reinterpret_cast<const BYTE*>(token.data()), token.size())});
          break;
        }
        add(SqlAnsiTextLiteral(token));
        break;
      case SqlType::kVarChar: add(SqlAnsiTextLiteral(token)); break;
      default: add(FixedLiteral(type, token)); break;
    }
  }
  out.columns = parts.count;

  CString& s = out.insert;
  s = "Insert into " + tableName;
  if (parts.count == 0) {
    // Every value left to the server: still one row.
    s += " DEFAULT VALUES";
    s += server ? ";" : kSqlScriptGo;
  } else {
    s += " (" + parts.columns;
    s += chunks.empty() ? CString(") ") : CString(",") + SqlQuoteName(kTempColumn) + ") ";
    s += " values(" + parts.values;
    if (chunks.empty()) s += server ? ");" : ")\r\ngo\r\n";
    else s += server ? ",@ID);" : ", @ID)\r\n";
  }
  if (chunks.empty()) return out;

  CString& b = out.block;
  // A script's row whose pieces need several batches sets its marker from a literal in each.
  const bool batches = !server && NeedsSeveralBatches(chunks);
  const CString declarations = "Declare @ID Uniqueidentifier \r\n Declare @NTEXT NVarchar(4000) \r\n Declare @PTR "
                               "VarBinary(16) \r\n Set @ID = " +
                               (batches ? NewRowMarkerLiteral() : CString("NewId()")) + " \r\n";
  // XACT_ABORT makes any failed piece roll the whole row back, or the commit would store a
  // row whose value stops where the error was.
  b = "SET XACT_ABORT ON \r\nbegin transaction \r\n" + declarations;
  b += s + "\r\n";
  AppendChunkedValues(b.str(), tableName, SqlQuoteName(kTempColumn), "@ID", " \r\n", chunks,
                      batches ? "go\r\n" + declarations.str() : std::string());
  for (const ChunkedValue& v : chunks) out.pieces += int((v.hex.size() + kChunkHexDigits - 1) / kChunkHexDigits);
  b += "commit transaction";
  // Script batches after the block run as they did before it: one refused row aborts nothing else.
  if (!server) b += "\r\ngo\r\nSET XACT_ABORT OFF";
  return out;
}

}  // namespace rows2000
