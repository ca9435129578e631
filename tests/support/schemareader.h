// The tables of a schema script as tests compare them: columns (type, size, null, identity,
// default), the primary key and the indexes, read from CREATE TABLE, ALTER TABLE ... PRIMARY KEY
// and CREATE INDEX statements in the public install scripts' spelling and in ours.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/tsqllexer.h"

namespace testsupport::schemareader {

struct ColumnDef {
  std::string name, type, size, identity, defaultValue;
  bool nullable = true;
  bool operator==(const ColumnDef&) const = default;
};
struct KeyDef {
  std::string name;
  bool clustered = false;
  std::vector<std::string> columns;
  bool operator==(const KeyDef&) const = default;
};
struct IndexDef {
  bool unique = false, clustered = false;
  std::vector<std::string> columns;
  bool operator==(const IndexDef&) const = default;
};
struct TableDef {
  std::vector<ColumnDef> columns;
  std::optional<KeyDef> primaryKey;
  std::map<std::string, IndexDef> indexes;
};
using SchemaDefs = std::map<std::string, TableDef>;

inline std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

inline std::ostream& operator<<(std::ostream& o, const ColumnDef& c) {
  return o << c.name << " " << c.type << "(" << c.size << ") null=" << c.nullable << " identity=" << c.identity
           << " default=" << c.defaultValue;
}
inline std::ostream& operator<<(std::ostream& o, const KeyDef& k) {
  o << k.name << (k.clustered ? " clustered" : " nonclustered");
  for (const auto& c : k.columns) o << " " << c;
  return o;
}
inline std::ostream& operator<<(std::ostream& o, const IndexDef& i) {
  o << (i.unique ? "unique " : "") << (i.clustered ? "clustered" : "nonclustered");
  for (const auto& c : i.columns) o << " " << c;
  return o;
}

// Reads CREATE TABLE, ALTER TABLE ... PRIMARY KEY and CREATE INDEX statements, in the
// install script's spelling and in ours.
class SchemaReader {
 public:
  explicit SchemaReader(const std::vector<SqlToken>& t) : m_t(t) {}

  void Read(SchemaDefs& out) {
    for (m_i = 0; m_i < m_t.size(); ++m_i) {
      if (At(0).Is("create") && At(1).Is("table")) {
        m_i += 2;
        CreateTable(out);
      } else if (At(0).Is("alter") && At(1).Is("table")) {
        m_i += 2;
        AlterTable(out);
      } else if (At(0).Is("create")) {
        size_t j = 1;
        IndexDef index;
        index.unique = At(j).Is("unique");
        j += index.unique;
        index.clustered = At(j).Is("clustered");
        j += index.clustered || At(j).Is("nonclustered");
        if (!At(j).Is("index")) continue;
        m_i += j + 1;
        const std::string name = Next().text;
        if (!Next().Is("on")) continue;
        const std::string table = QualifiedName();
        index.columns = ColumnList();
        out[table].indexes[name] = index;
      }
    }
  }

 private:
  const SqlToken& At(size_t k) const {
    static const SqlToken none;
    return m_i + k < m_t.size() ? m_t[m_i + k] : none;
  }
  const SqlToken& Next() { return m_i < m_t.size() ? m_t[m_i++] : At(0); }
  std::string QualifiedName() {
    std::string name = Next().text;
    while (At(0).IsSymbol('.')) {
      ++m_i;
      name = Next().text;
    }
    return name;
  }
  // "( a [ASC|DESC], b ... )"
  std::vector<std::string> ColumnList() {
    std::vector<std::string> columns;
    if (!Next().IsSymbol('(')) return columns;
    while (m_i < m_t.size() && !At(0).IsSymbol(')')) {
      const SqlToken& tk = Next();
      if (tk.IsIdentifier() && !tk.Is("asc") && !tk.Is("desc")) columns.push_back(tk.text);
      else if (tk.Is("desc")) columns.back() += " desc";
    }
    return columns;
  }
  bool PrimaryKey(KeyDef& key) {
    if (!Next().Is("primary") || !Next().Is("key")) return false;
    key.clustered = At(0).Is("clustered");
    m_i += key.clustered || At(0).Is("nonclustered");
    key.columns = ColumnList();
    return true;
  }
  void AlterTable(SchemaDefs& out) {
    const std::string table = QualifiedName();
    if (!Next().Is("add")) return;
    KeyDef key;
    if (At(0).Is("constraint")) {
      ++m_i;
      key.name = Next().text;
    }
    if (PrimaryKey(key)) out[table].primaryKey = key;
  }
  void CreateTable(SchemaDefs& out) {
    const std::string table = QualifiedName();
    TableDef& def = out[table];
    if (!Next().IsSymbol('(')) return;
    // The elements between the top-level commas.
    std::vector<std::vector<SqlToken>> elements(1);
    for (int depth = 0; m_i < m_t.size(); ++m_i) {
      const SqlToken& tk = m_t[m_i];
      if (tk.IsSymbol('(')) ++depth;
      if (tk.IsSymbol(')') && depth-- == 0) break;
      if (depth == 0 && tk.IsSymbol(',')) elements.emplace_back();
      else elements.back().push_back(tk);
    }
    for (const auto& e : elements) {
      if (e.empty()) continue;
      if (e[0].Is("constraint")) {
        SchemaReader r(e);
        r.m_i = 2;
        KeyDef key;
        key.name = e.size() > 1 ? e[1].text : "";
        if (r.PrimaryKey(key)) def.primaryKey = key;
        continue;
      }
      def.columns.push_back(ColumnOf(e));
    }
  }
  static std::string Joined(const std::vector<SqlToken>& e, size_t from, size_t to) {
    std::string s;
    for (size_t k = from; k < to && k < e.size(); ++k) s += e[k].kind == SqlToken::kString ? "'" + e[k].text + "'" : e[k].text;
    return s;
  }
  static ColumnDef ColumnOf(const std::vector<SqlToken>& e) {
    ColumnDef c;
    c.name = e[0].text;
    if (e.size() < 2) return c;
    if (e[1].Is("as")) {
      c.type = "computed";
      return c;
    }
    c.type = Lower(e[1].text);
    size_t k = 2;
    if (k < e.size() && e[k].IsSymbol('(')) {
      const size_t start = ++k;
      while (k < e.size() && !e[k].IsSymbol(')')) ++k;
      c.size = Lower(Joined(e, start, k));
      ++k;
    }
    for (; k < e.size(); ++k) {
      if (e[k].Is("not") && k + 1 < e.size() && e[k + 1].Is("null")) {
        c.nullable = false;
        ++k;
      } else if (e[k].Is("identity") && k + 1 < e.size() && e[k + 1].IsSymbol('(')) {
        const size_t start = k + 2;
        k = start;
        while (k < e.size() && !e[k].IsSymbol(')')) ++k;
        c.identity = Joined(e, start, k);
      } else if (e[k].Is("default")) {
        const size_t start = ++k;
        int depth = 0;
        while (k < e.size() && (depth > 0 || !(e[k].Is("not") || e[k].Is("null") || e[k].Is("identity")))) {
          depth += e[k].IsSymbol('(') - e[k].IsSymbol(')');
          ++k;
        }
        std::string value = Joined(e, start, k);
        // Servers of different versions store (0) or ((0)).
        while (value.size() >= 2 && value.front() == '(' && value.back() == ')') value = value.substr(1, value.size() - 2);
        c.defaultValue = value;
        --k;
      }
    }
    return c;
  }

  const std::vector<SqlToken>& m_t;
  size_t m_i = 0;
};

inline void ReadSchema(const std::string& script, SchemaDefs& out) {
  for (const std::string& batch : SplitSqlBatches(script)) {
    testsupport::SqlLexResult r = LexSqlBatch(batch);
    EXPECT_TRUE(r.ok()) << r.error;
    SchemaReader(r.tokens).Read(out);
  }
}

}  // namespace testsupport::schemareader
