#include "insert2000.h"

#include <algorithm>

#include "common/largevalues.h"
#include "common/records.h"
#include "common/sqltext.h"

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
    col.named = !c->m_bDropped && c->m_strComputed.IsEmpty() && col.type != SqlType::kTimestamp &&
                col.type != SqlType::kSqlVariant;
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
        if (c.nullable) add("NULL");
        else if (character) add("''");
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
      case SqlType::kVarChar:
      case SqlType::kChar:
      case SqlType::kUniqueIdentifier: add(SqlAnsiTextLiteral(token)); break;
      case SqlType::kSmallDateTime: add(CString("CONVERT(smalldatetime, 0x" + token + ")")); break;
      case SqlType::kDateTime: add(CString("CONVERT(datetime, 0x" + token + ")")); break;
      case SqlType::kReal:
      case SqlType::kFloat:
        add(token.find_first_of("eE") == std::string::npos ? CString(token + "E0") : CString(token));
        break;
      default: add(CString(token)); break;
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
  b = "begin transaction \r\n";
  b += "Declare @ID Uniqueidentifier \r\n Declare @NTEXT NVarchar(4000) \r\n Declare @PTR VarBinary(16) \r\n Set @ID = "
       "NewId() \r\n";
  b += s + "\r\n";
  AppendChunkedValues(b.str(), tableName, SqlQuoteName(kTempColumn), "@ID", " \r\n", chunks);
  for (const ChunkedValue& v : chunks) out.pieces += int((v.hex.size() + kChunkHexDigits - 1) / kChunkHexDigits);
  b += "commit transaction";
  return out;
}

}  // namespace rows2000
