// A small T-SQL lexer for tests: splits a script into the batches sqlcmd would send (on
// lines that hold only "go") and reads each batch into tokens. It finds what makes a
// generated script unsafe or broken: a string, bracketed name or comment that does not end
// where it should, a stray "]", unbalanced parentheses.
#pragma once

#include <cctype>
#include <string>
#include <vector>

namespace testsupport {

struct SqlToken {
  enum Kind { kWord, kName, kString, kNumber, kSymbol };
  Kind kind = kWord;
  // kWord: as written; kName ([..] or ".."): the name with its quoting undone; kString: the
  // value with doubled quotes undone; kNumber and kSymbol: as written.
  std::string text;
  bool national = false;  // N'...'

  // A word or a name equal to `s`, ignoring case (for keywords).
  bool Is(const char* s) const {
    if (kind != kWord) return false;
    std::string a = text, b = s;
    for (char& c : a) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : b) c = char(std::tolower(static_cast<unsigned char>(c)));
    return a == b;
  }
  bool IsSymbol(char c) const { return kind == kSymbol && text.size() == 1 && text[0] == c; }
  bool IsIdentifier() const { return kind == kWord || kind == kName; }
};

struct SqlLexResult {
  std::vector<SqlToken> tokens;
  std::string error;  // empty when the batch lexed cleanly
  bool ok() const { return error.empty(); }
};

// The batches of a script: the texts between lines that hold only "go" (any case, blanks
// around it). Empty batches are kept, so batch numbers match the file.
inline std::vector<std::string> SplitSqlBatches(const std::string& script) {
  std::vector<std::string> batches(1);
  size_t pos = 0;
  while (pos <= script.size()) {
    size_t end = script.find('\n', pos);
    const bool last = end == std::string::npos;
    if (last) end = script.size();
    std::string line = script.substr(pos, end - pos);
    std::string trimmed;
    for (char c : line)
      if (!std::isspace(static_cast<unsigned char>(c))) trimmed += char(std::tolower(static_cast<unsigned char>(c)));
    if (trimmed == "go") {
      batches.emplace_back();
    } else {
      batches.back() += line;
      if (!last) batches.back() += '\n';
    }
    if (last) break;
    pos = end + 1;
  }
  return batches;
}

// The statements of a script, one per batch, trimmed; blank batches left out.
inline std::vector<std::string> SplitSqlStatements(const std::string& script) {
  std::vector<std::string> out;
  for (std::string b : SplitSqlBatches(script)) {
    while (!b.empty() && std::isspace(static_cast<unsigned char>(b.back()))) b.pop_back();
    size_t start = 0;
    while (start < b.size() && std::isspace(static_cast<unsigned char>(b[start]))) ++start;
    if (start < b.size()) out.push_back(b.substr(start));
  }
  return out;
}

inline bool SqlWordChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || c == '@' || c == '#' || c == '$' || u >= 0x80;
}

inline SqlLexResult LexSqlBatch(const std::string& s) {
  SqlLexResult r;
  int depth = 0;
  size_t i = 0;
  auto fail = [&](const std::string& why) {
    r.error = why + " at offset " + std::to_string(i);
    return r;
  };
  while (i < s.size()) {
    const char c = s[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      while (i < s.size() && s[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      int nesting = 0;
      do {
        if (i + 1 >= s.size()) return fail("unterminated comment");
        if (s[i] == '/' && s[i + 1] == '*') {
          ++nesting;
          i += 2;
        } else if (s[i] == '*' && s[i + 1] == '/') {
          --nesting;
          i += 2;
        } else {
          ++i;
        }
      } while (nesting > 0);
    } else if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < s.size() && s[i + 1] == '\'')) {
      SqlToken t;
      t.kind = SqlToken::kString;
      t.national = c != '\'';
      i += t.national ? 2 : 1;
      for (;;) {
        if (i >= s.size()) return fail("unterminated string");
        if (s[i] == '\'') {
          if (i + 1 < s.size() && s[i + 1] == '\'') {
            t.text += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        t.text += s[i++];
      }
      r.tokens.push_back(t);
    } else if (c == '[' || c == '"') {
      const char close = c == '[' ? ']' : '"';
      SqlToken t;
      t.kind = SqlToken::kName;
      ++i;
      for (;;) {
        if (i >= s.size()) return fail(c == '[' ? "unterminated [name]" : "unterminated \"name\"");
        if (s[i] == close) {
          if (i + 1 < s.size() && s[i + 1] == close) {
            t.text += close;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        t.text += s[i++];
      }
      r.tokens.push_back(t);
    } else if (c == ']') {
      return fail("stray ]");
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      SqlToken t;
      t.kind = SqlToken::kNumber;
      while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '.' ||
                              ((s[i] == '+' || s[i] == '-') && (s[i - 1] == 'e' || s[i - 1] == 'E'))))
        t.text += s[i++];
      r.tokens.push_back(t);
    } else if (SqlWordChar(c)) {
      SqlToken t;
      while (i < s.size() && SqlWordChar(s[i])) t.text += s[i++];
      r.tokens.push_back(t);
    } else {
      if (c == '(') ++depth;
      if (c == ')' && --depth < 0) return fail("unbalanced )");
      SqlToken t;
      t.kind = SqlToken::kSymbol;
      t.text = std::string(1, c);
      r.tokens.push_back(t);
      ++i;
    }
  }
  if (depth != 0) return fail("unclosed (");
  return r;
}

}  // namespace testsupport
