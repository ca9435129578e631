// Quoting of names and texts that go into T-SQL statements. Names and values come from
// damaged or hostile pages, so every identifier and every literal built from them goes
// through these routines; nothing splices a raw name into a statement.
#pragma once

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/cstring.h"
#include "platform/types.h"

// The identifier as a bracketed name: [a]]b] for a]b. A bracketed name ends only at a
// single "]", so doubling every "]" inside keeps the whole name one identifier.
inline CString SqlQuoteName(const CString& name) {
  CString out;
  std::string& s = out.str();
  s.reserve(size_t(name.GetLength()) + 2);
  s += '[';
  for (char c : name.view()) {
    s += c;
    if (c == ']') s += ']';
  }
  s += ']';
  return out;
}

// [owner].[name], each part quoted.
inline CString SqlQualifiedName(const CString& owner, const CString& name) {
  return SqlQuoteName(owner) + "." + SqlQuoteName(name);
}

// The text as a string literal: 'O''Brien' for O'Brien.
inline CString SqlQuoteString(const CString& text) {
  CString out;
  std::string& s = out.str();
  s.reserve(size_t(text.GetLength()) + 2);
  s += '\'';
  for (char c : text.view()) {
    s += c;
    if (c == '\'') s += '\'';
  }
  s += '\'';
  return out;
}

// The text as a national string literal: N'...'.
inline CString SqlQuoteNString(const CString& text) { return "N" + SqlQuoteString(text); }

// Lower-case hex digits of the bytes, two a byte, high half first, without "0x".
inline std::string SqlHexDigits(const BYTE* data, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s(count * 2, '0');
  for (size_t i = 0; i < count; ++i) {
    s[2 * i] = kDigits[data[i] >> 4];
    s[2 * i + 1] = kDigits[data[i] & 15];
  }
  return s;
}

// The bytes as a binary literal: 0x0aff.
inline CString SqlBinaryLiteral(const BYTE* data, size_t count) { return CString("0x" + SqlHexDigits(data, count)); }

// A stored datetime (8 bytes) or smalldatetime (4 bytes) as a conversion of its bytes, most
// significant first: exact, whatever date format or language the server uses.
inline CString SqlDateTimeLiteral(const BYTE* data, size_t count, bool small) {
  std::string reversed(reinterpret_cast<const char*>(data), count);
  std::reverse(reversed.begin(), reversed.end());
  const std::string digits = SqlHexDigits(reinterpret_cast<const BYTE*>(reversed.data()), count);
  return CString((small ? "CONVERT(smalldatetime, 0x" : "CONVERT(datetime, 0x") + digits + ")");
}

// 8-bit text as a varchar literal. Only printable ASCII and tabs go between quotes: a line
// break could make a line "go" that ends a script batch, and a byte above 0x7F would be read
// in the code page of whichever client runs the script or the batch. Other text goes as its
// stored bytes, which the server keeps as they are; the length is spelled out up to 8000
// bytes, so the statement also runs on servers without varchar(max).
inline CString SqlVarcharLiteral(const BYTE* data, size_t count) {
  if (count == 0) return CString("''");
  bool plain = true;
  for (size_t i = 0; i < count && plain; ++i) plain = (data[i] >= 0x20 && data[i] < 0x7F) || data[i] == '\t';
  if (plain) return SqlQuoteString(CString(reinterpret_cast<const char*>(data), int(count)));
  const CString size = count > 8000 ? CString("max") : FormatString("%d", int(count));
  return "CONVERT(varchar(" + size + "),0x" + CString(SqlHexDigits(data, count)) + ")";
}

// UTF-16 text as an nvarchar literal long enough for the whole value: the column's length in
// characters, or the value's when longer, and max beyond 4000 characters (or when forced).
inline CString SqlNVarcharLiteral(const BYTE* data, size_t count, int columnLength, bool forceMax) {
  const int length = std::max(columnLength / 2, int((count + 1) / 2));
  const bool max = forceMax || columnLength > 8000 || count > 8000 || length > 4000;
  const CString size = max ? CString("max") : FormatString("%d", std::max(length, 1));
  return "CONVERT(nvarchar(" + size + "),0x" + CString(SqlHexDigits(data, count)) + ")";
}

// What separates two statements of a script file that osql or sqlcmd runs.
constexpr const char* kSqlScriptGo = "\r\ngo\r\n";

// Whether 8-bit text can stand in a quoted literal as it is: printable ASCII and tabs only. A
// byte above 0x7E means a code page the script's reader may not share; a line break could
// make a line of the value read "go" and end the script's batch there.
inline bool SqlIsPlainText(std::string_view bytes) {
  for (char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 0x20 && u != '\t') || u > 0x7E) return false;
  }
  return true;
}

// 8-bit text as a literal: quoted when it is plain, else its stored bytes (see
// SqlVarcharLiteral).
inline CString SqlAnsiTextLiteral(std::string_view bytes) {
  return SqlVarcharLiteral(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
}

// The size part of a type as a statement declares it: "(n)" (characters for the national
// types), "(max)" beyond 8000 bytes, "(p,s)", a time type's scale; empty for every other
// name, user data types included (they carry their own size). A table, the fix-up of one of
// its columns and a user type all spell a type this one way, so an ALTER never narrows a
// column (a bare "decimal" would be decimal(18,0)).
inline CString SqlTypeSuffix(const CString& type, WORD length, BYTE precision, BYTE scale) {
  auto is = [&](std::initializer_list<const char*> names) {
    for (const char* n : names)
      if (type == n) return true;
    return false;
  };
  const bool national = is({"nvarchar", "nchar"});
  if (national || is({"varchar", "char", "varbinary", "binary"})) {
    if (length > 8000) return "(max)";
    return FormatString("(%d)", national ? length / 2 : length);
  }
  if (is({"decimal", "numeric"})) return FormatString("(%d,%d)", precision, scale);
  if (is({"time", "datetime2", "datetimeoffset"}) && scale <= 7) return FormatString("(%d)", scale);
  return CString();
}

// The statement that creates a user data type over a base type: sp_addtype with the sized
// base quoted ('varchar(10)' followed by a blank), or CREATE TYPE for a (max) base, which
// sp_addtype does not take.
inline CString SqlAddTypeStatement(const CString& name, const CString& base, WORD length, BYTE precision, BYTE scale,
                                   bool notNull = false) {
  const CString suffix = SqlTypeSuffix(base, length, precision, scale);
  if (suffix == "(max)") return "CREATE TYPE " + SqlQuoteName(name) + " FROM " + base + suffix + (notNull ? " NOT NULL" : "");
  CString statement = "sp_addtype " + SqlQuoteName(name) + ",";
  const CString nullability = notNull ? ", 'NOT NULL'" : "";
  if (base == "decimal" || base == "numeric") return statement + " '" + base + suffix + "'" + nullability;
  if (!suffix.IsEmpty()) return statement + " '" + base + suffix + "'" + (notNull ? nullability : CString(" "));
  return statement + " " + base + nullability;
}
