// The public install scripts of the Northwind and pubs sample databases as ground truth for
// the 2000 row decoder: their CREATE TABLE statements give each table's columns (and from them
// the 2000 row layout), their INSERT statements every row, value by value.
#pragma once

#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "support/installscript.h"
#include "support/tsqllexer.h"

namespace oracle2000 {

struct ColumnDef {
  std::string name;
  std::string type;  // lower case; user types resolved to their base type
  int size = 0;      // (n) or (p, ...); 0 when the type has none
  int scale = 0;
  bool identity = false;  // a positional INSERT leaves it to the server
};

struct TableDef {
  std::string name;
  std::vector<ColumnDef> columns;
  std::vector<std::string> primaryKey;
  bool nonUniqueClustered = false;  // a clustered index that is not unique: rows hold a uniquifier
};

struct Literal {
  enum Kind { kNull, kString, kBinary, kNumber } kind = kNull;
  std::string text;  // strings: the value (UTF-8); binary: lower-case hex digits; numbers: as written
};

using Row = std::map<std::string, Literal>;  // column name -> value, the columns the INSERT names

struct Script {
  std::map<std::string, TableDef> tables;
  std::map<std::string, std::vector<Row>> rows;
};

namespace detail {

using testsupport::ListItemsAt;
using testsupport::NameListAt;
using testsupport::QualifiedNameAt;
using testsupport::SqlToken;

inline int Number(const std::vector<SqlToken>& t, size_t i) {
  return i < t.size() && t[i].kind == SqlToken::kNumber ? std::atoi(t[i].text.c_str()) : 0;
}

inline bool IsHex(const SqlToken& t) {
  return t.kind == SqlToken::kNumber && t.text.size() >= 2 && (t.text[1] == 'x' || t.text[1] == 'X');
}

inline Literal LiteralOf(const std::vector<SqlToken>& e) {
  Literal v;
  if (e.size() == 1 && e[0].Is("NULL")) return v;
  if (e.size() == 1 && e[0].kind == SqlToken::kString) return {Literal::kString, e[0].text};
  if (e.size() == 1 && IsHex(e[0])) return {Literal::kBinary, testsupport::LowerText(e[0].text.substr(2))};
  // Numbers, signed or with a currency sign ($20.00 lexes as "$20", ".", "00").
  std::string text;
  for (const SqlToken& t : e) text += t.text;
  if (!text.empty() && text[0] == '$') text.erase(0, 1);
  return {Literal::kNumber, text};
}

// "CREATE TABLE name ( column, ..., constraint, ... )".
inline void ReadTable(const std::vector<SqlToken>& t, size_t& i, const std::map<std::string, ColumnDef>& userTypes,
                      Script& out) {
  TableDef table;
  table.name = QualifiedNameAt(t, i);
  for (const auto& item : ListItemsAt(t, i)) {
    if (item.empty()) continue;
    const SqlToken& head = item.front();
    if (head.Is("CONSTRAINT") || head.Is("PRIMARY") || head.Is("FOREIGN") || head.Is("CHECK") || head.Is("UNIQUE")) {
      for (size_t k = 0; k + 1 < item.size(); ++k) {
        if (!item[k].Is("PRIMARY") || !item[k + 1].Is("KEY")) continue;
        size_t at = k + 2;
        while (at < item.size() && !item[at].IsSymbol('(')) ++at;
        table.primaryKey = NameListAt(item, at);
      }
      continue;
    }
    ColumnDef c;
    c.name = head.text;
    c.type = item.size() > 1 ? testsupport::LowerText(item[1].text) : "";
    if (c.type == "dec") c.type = "decimal";
    if (item.size() > 3 && item[2].IsSymbol('(')) {
      c.size = Number(item, 3);
      if (item.size() > 5 && item[4].IsSymbol(',')) c.scale = Number(item, 5);
    }
    auto user = userTypes.find(c.type);
    if (user != userTypes.end()) {
      c.type = user->second.type;
      c.size = user->second.size;
      c.scale = user->second.scale;
    }
    for (size_t k = 2; k < item.size(); ++k) {
      if (k + 1 < item.size() && item[k].Is("PRIMARY") && item[k + 1].Is("KEY")) table.primaryKey = {c.name};
      if (item[k].Is("IDENTITY")) c.identity = true;
    }
    table.columns.push_back(c);
  }
  out.tables[table.name] = table;
}

// "INSERT [INTO] name [( columns )] VALUES ( values )".
inline void ReadInsert(const std::vector<SqlToken>& t, size_t& i, Script& out) {
  if (i < t.size() && t[i].Is("INTO")) ++i;
  const std::string table = QualifiedNameAt(t, i);
  std::vector<std::string> columns;
  if (i < t.size() && t[i].IsSymbol('(')) columns = NameListAt(t, i);
  if (i >= t.size() || !t[i].Is("VALUES")) return;
  ++i;
  const auto values = ListItemsAt(t, i);
  if (columns.empty()) {
    auto it = out.tables.find(table);
    if (it == out.tables.end()) return;
    for (const ColumnDef& c : it->second.columns)
      if (!c.identity) columns.push_back(c.name);
  }
  Row row;
  for (size_t c = 0; c < columns.size() && c < values.size(); ++c) row[columns[c]] = LiteralOf(values[c]);
  out.rows[table].push_back(row);
}

}  // namespace detail

inline Script ReadScript(const std::string& text) {
  using detail::SqlToken;
  Script out;
  std::map<std::string, ColumnDef> userTypes;
  for (const std::string& batch : testsupport::SplitSqlBatches(text)) {
    const std::vector<SqlToken> t = testsupport::LexSqlBatch(batch).tokens;
    for (size_t i = 0; i < t.size(); ++i) {
      if (t[i].Is("sp_addtype") && i + 3 < t.size() && t[i + 3].kind == SqlToken::kString) {
        // sp_addtype name, 'base(n)': lexed again for its parts.
        const auto base = testsupport::LexSqlBatch(t[i + 3].text).tokens;
        ColumnDef c;
        c.type = base.empty() ? "" : testsupport::LowerText(base[0].text);
        c.size = detail::Number(base, 2);
        userTypes[testsupport::LowerText(t[i + 1].text)] = c;
      } else if (t[i].Is("CREATE") && i + 1 < t.size() && t[i + 1].Is("TABLE")) {
        i += 2;
        detail::ReadTable(t, i, userTypes, out);
        if (i > 0) --i;
      } else if (t[i].Is("CREATE") && i + 3 < t.size() && t[i + 1].Is("CLUSTERED") && t[i + 2].Is("INDEX")) {
        // Not UNIQUE: the table's rows carry a uniquifier.
        size_t at = i + 4;
        if (at < t.size() && t[at].Is("ON")) ++at;
        const std::string table = detail::QualifiedNameAt(t, at);
        auto it = out.tables.find(table);
        if (it != out.tables.end()) it->second.nonUniqueClustered = true;
      } else if (t[i].Is("INSERT")) {
        ++i;
        detail::ReadInsert(t, i, out);
        if (i > 0) --i;
      }
    }
  }
  return out;
}

}  // namespace oracle2000
