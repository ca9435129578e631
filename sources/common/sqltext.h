// Quoting of names and texts that go into T-SQL statements. Names and values come from
// damaged or hostile pages, so every identifier and every literal built from them goes
// through these routines; nothing splices a raw name into a statement.
#pragma once

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
