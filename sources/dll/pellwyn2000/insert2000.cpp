#include "insert2000.h"

#include <algorithm>

#include "common/records.h"
#include "common/sqltext.h"

namespace rows2000 {

namespace {

constexpr const char* kTempColumn = "_TARNWELL_TEMPCOL";
// 7998 bytes of UTF-16 (3999 characters) fit one nvarchar(4000) variable.
constexpr size_t kNtextPieceDigits = 15996;

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
  void Add(const CString& name, const CString& value) {
    if (count++) {
      columns += ',';
      values += ',';
    }
    columns += SqlQuoteName(name);
    values += value;
  }
};

}  // namespace

CString RowStatement::ScriptText() const { return HasBlock() ? block + kSqlScriptGo : insert; }

CString IdentityInsertText(const CTable& table, bool on) {
  return "SET IDENTITY_INSERT " + SqlQualifiedName(table.m_strOwner, table.m_strName) + (on ? " ON" : " OFF");
}

RowStatement BuildInsert(const CTable& table, const std::vector<Value>& values, Target target) {
  const bool server = target == Target::kServer;
  const CString tableName = SqlQualifiedName(table.m_strOwner, table.m_strName);
  RowStatement out;
  Parts parts;
  std::vector<std::pair<CString, const std::string*>> ntext;  // column, hex digits of its value
  size_t i = 0;
  for (const CColumn* c = table.m_pColumnHead; c && i < values.size(); c = c->m_pNext, ++i) {
    const Value& v = values[i];
    const SqlType type = SqlTypeFromName(c->m_strType);
    if (c->m_bDropped || !c->m_strComputed.IsEmpty() || v.mark == Mark::kFormula) continue;
    if (type == SqlType::kTimestamp || type == SqlType::kSqlVariant) continue;
    const bool character = IsCharacterType(type);
    auto add = [&](const CString& literal) {
      parts.Add(c->m_strName, literal);
      if (c->m_bIdentity) out.identity = true;
    };
    switch (v.mark) {
      case Mark::kValue: break;
      case Mark::kEmpty:
        if (character) add("''");
        else if (IsBinaryType(type)) add("0x");
        continue;
      case Mark::kNull:
        // Named, so the server stores NULL and not the column's default.
        if (c->m_bNullable) add("NULL");
        else if (character) add("''");
        continue;
      default:
        // Damaged or refused values, and a display-only default.
        if (character && !c->m_bNullable) add("''");
        continue;
    }
    const std::string& token = v.text;
    switch (type) {
      case SqlType::kVarBinary:
      case SqlType::kImage:
      case SqlType::kXml:
        // The decoder gives their bytes as hex digits (an empty image as "0x").
        add(token == "0x" ? CString("0x") : CString("0x" + token));
        break;
      case SqlType::kNVarChar:
      case SqlType::kNChar:
        add(CString("CONVERT(nvarchar(" + NationalLength(c->m_wLength) + "),0x" + token + ")"));
        break;
      case SqlType::kNText:
        add("''");
        ntext.emplace_back(c->m_strName, &token);
        break;
      case SqlType::kVarChar:
      case SqlType::kText:
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
    s += ntext.empty() ? CString(") ") : CString(",") + SqlQuoteName(kTempColumn) + ") ";
    s += " values(" + parts.values;
    if (ntext.empty()) s += server ? ");" : ")\r\ngo\r\n";
    else s += server ? ",@ID);" : ", @ID)\r\n";
  }
  if (ntext.empty()) return out;

  CString& b = out.block;
  b = "begin transaction \r\n";
  b += "Declare @ID Uniqueidentifier \r\n Declare @NTEXT NVarchar(4000) \r\n Declare @PTR VarBinary(16) \r\n Set @ID = "
       "NewId() \r\n";
  b += s + "\r\n";
  for (const auto& [column, hex] : ntext) {
    const CString name = SqlQuoteName(column);
    b += "Select @PTR = TEXTPTR(" + name + ") from " + tableName + " where " + SqlQuoteName(kTempColumn) +
         " = @ID \r\n";
    for (size_t at = 0; at < hex->size(); at += kNtextPieceDigits) {
      b += "SET @NTEXT = Convert(nvarchar(4000),0x";
      b.str().append(*hex, at, kNtextPieceDigits);
      b += ")\r\n";
      b += "Updatetext " + tableName + "." + name + " @PTR NULL 0 @NTEXT \r\n";
      ++out.ntextPieces;
    }
  }
  b += "commit transaction";
  return out;
}

}  // namespace rows2000
