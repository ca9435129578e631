// Quoting of names and texts that go into T-SQL statements. Names and values come from
// damaged or hostile pages, so every identifier and every literal built from them goes
// through these routines; nothing splices a raw name into a statement.
#pragma once

#include <string>
#include <string_view>

#include "platform/cstring.h"

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

// 8-bit text as a literal: quoted when it is plain, else CONVERT(varchar(n),0x...) of its
// bytes, which keeps every byte and keeps the statement ASCII. Values over 8000 bytes need
// varchar(max).
inline CString SqlAnsiTextLiteral(std::string_view bytes) {
  if (SqlIsPlainText(bytes)) return SqlQuoteString(CString(bytes));
  static const char kHex[] = "0123456789abcdef";
  CString out;
  std::string& s = out.str();
  s.reserve(bytes.size() * 2 + 32);
  s += "CONVERT(varchar(";
  s += bytes.size() > 8000 ? std::string("max") : std::to_string(bytes.empty() ? 1 : bytes.size());
  s += "),0x";
  for (char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    s += kHex[u >> 4];
    s += kHex[u & 15];
  }
  s += ')';
  return out;
}
