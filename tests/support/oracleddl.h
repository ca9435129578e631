// The schema of a public install script (instnwnd.sql, instpubs.sql) as tests compare it:
// tables with their columns, keys, indexes and foreign keys, user types, and the texts of
// views, procedures and triggers. It reads only the forms these two scripts use.
#pragma once

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/installscript.h"
#include "support/tsqllexer.h"

namespace testsupport {

struct OracleColumn {
  std::string name;
  std::string type;  // as written, lower case: a system type or a user type
  int length = -1;   // (n) as written; -1 when none
  std::optional<bool> nullable;
  bool identity = false;
  long long seed = 0, increment = 0;
  std::string defaultText;  // the DEFAULT expression's tokens, joined
  std::string defaultName;  // CONSTRAINT name before DEFAULT; empty when none
};

struct OracleKey {
  std::string name;  // empty when the script names none
  bool primary = false, clustered = false;
  std::vector<std::string> columns;
};

struct OracleForeignKey {
  std::string name;  // empty when the script names none
  std::vector<std::string> columns;
  std::string refTable;
  std::vector<std::string> refColumns;  // empty: the referenced table's primary key
  std::string onDelete, onUpdate;       // "CASCADE", "SET NULL"...; empty: no action
};

struct OracleCheck {
  std::string name;  // empty when the script names none
  std::string text;  // the condition's tokens, joined (parentheses as written)
};

struct OracleTable {
  std::string name;
  std::vector<OracleColumn> columns;
  std::vector<OracleKey> keys;  // primary keys, unique constraints and indexes
  std::vector<OracleForeignKey> foreignKeys;
  std::vector<OracleCheck> checks;
};

struct OracleUserType {
  std::string base;  // as sp_addtype names it, e.g. "varchar(11)"
  bool notNull = false;
};

struct OracleSchema {
  std::map<std::string, OracleTable> tables;
  std::map<std::string, OracleUserType> userTypes;
  std::map<std::string, std::string> views, procedures, triggers;  // name -> text from CREATE
};

// White space runs as one blank, none at the ends.
inline std::string CollapseSpace(const std::string& s) {
  std::string out;
  bool blank = false;
  for (char c : s) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

namespace oracle_detail {

using Tokens = std::vector<SqlToken>;

inline std::string Join(const Tokens& t, size_t from, size_t to) {
  std::string s;
  for (size_t i = from; i < to && i < t.size(); ++i) s += t[i].kind == SqlToken::kString ? "'" + t[i].text + "'" : t[i].text;
  return s;
}

// ON DELETE / ON UPDATE actions after REFERENCES, and NOT FOR REPLICATION.
inline void ReadActions(const Tokens& t, size_t& at, OracleForeignKey& fk) {
  while (at + 2 < t.size() && t[at].Is("ON") && (t[at + 1].Is("DELETE") || t[at + 1].Is("UPDATE"))) {
    std::string& action = t[at + 1].Is("DELETE") ? fk.onDelete : fk.onUpdate;
    at += 2;
    if (t[at].Is("NO") && at + 1 < t.size()) {
      at += 2;  // NO ACTION
      continue;
    }
    action = UpperText(t[at].text);
    ++at;
    if ((action == "SET") && at < t.size()) action += " " + UpperText(t[at++].text);
  }
}

// Constraint clauses after a column or at table level; `column` is the column they follow.
inline void ReadConstraints(const Tokens& t, size_t at, OracleTable& table, OracleColumn* column) {
  std::string name;
  while (at < t.size()) {
    if (t[at].Is("CONSTRAINT")) {
      name = t[at + 1].text;
      at += 2;
    } else if (t[at].Is("PRIMARY") || t[at].Is("UNIQUE")) {
      OracleKey key;
      key.name = name;
      key.primary = t[at].Is("PRIMARY");
      at += key.primary ? 2 : 1;
      key.clustered = key.primary;
      if (at < t.size() && (t[at].Is("CLUSTERED") || t[at].Is("NONCLUSTERED"))) key.clustered = t[at++].Is("CLUSTERED");
      key.columns = NameListAt(t, at);
      if (key.columns.empty() && column) key.columns = {column->name};
      table.keys.push_back(key);
      name.clear();
    } else if (t[at].Is("FOREIGN")) {
      at += 2;
      OracleForeignKey fk;
      fk.name = name;
      fk.columns = NameListAt(t, at);
      if (at < t.size() && t[at].Is("REFERENCES")) {
        ++at;
        fk.refTable = QualifiedNameAt(t, at);
        fk.refColumns = NameListAt(t, at);
      }
      ReadActions(t, at, fk);
      table.foreignKeys.push_back(fk);
      name.clear();
    } else if (t[at].Is("REFERENCES") && column) {
      ++at;
      OracleForeignKey fk;
      fk.name = name;
      fk.columns = {column->name};
      fk.refTable = QualifiedNameAt(t, at);
      fk.refColumns = NameListAt(t, at);
      ReadActions(t, at, fk);
      table.foreignKeys.push_back(fk);
      name.clear();
    } else if (t[at].Is("DEFAULT") && column) {
      size_t end = ++at;
      int depth = 0;
      while (end < t.size() && (depth > 0 || !(t[end].Is("CONSTRAINT") || t[end].Is("NULL") || t[end].Is("NOT") ||
                                               t[end].Is("CHECK") || t[end].Is("PRIMARY") || t[end].Is("UNIQUE") ||
                                               t[end].Is("REFERENCES")))) {
        if (t[end].IsSymbol('(')) ++depth;
        if (t[end].IsSymbol(')')) --depth;
        ++end;
      }
      column->defaultText = Join(t, at, end);
      column->defaultName = name;
      name.clear();
      at = end;
    } else if (t[at].Is("CHECK")) {
      ++at;
      if (at + 2 < t.size() && t[at].Is("NOT") && t[at + 1].Is("FOR")) at += 3;  // NOT FOR REPLICATION
      if (at < t.size() && t[at].IsSymbol('(')) {
        const size_t from = at;
        ListItemsAt(t, at);
        table.checks.push_back({name, Join(t, from, at)});
      }
      name.clear();
    } else if (t[at].Is("NOT") && at + 1 < t.size() && t[at + 1].Is("NULL") && column) {
      column->nullable = false;
      at += 2;
    } else if (t[at].Is("NULL") && column) {
      column->nullable = true;
      ++at;
    } else if (t[at].Is("IDENTITY") && column) {
      column->identity = true;
      ++at;
      column->seed = column->increment = 1;
      if (at < t.size() && t[at].IsSymbol('(')) {
        auto parts = ListItemsAt(t, at);
        if (parts.size() == 2 && !parts[0].empty() && !parts[1].empty()) {
          column->seed = std::stoll(parts[0][0].text);
          column->increment = std::stoll(parts[1][0].text);
        }
      }
    } else {
      ++at;
    }
  }
}

inline void ReadTable(const Tokens& t, size_t at, OracleSchema& schema) {
  OracleTable table;
  table.name = QualifiedNameAt(t, at);
  for (const Tokens& item : ListItemsAt(t, at)) {
    if (item.empty()) continue;
    if (item[0].Is("CONSTRAINT") || item[0].Is("PRIMARY") || item[0].Is("FOREIGN") || item[0].Is("UNIQUE") ||
        item[0].Is("CHECK")) {
      ReadConstraints(item, 0, table, nullptr);
      continue;
    }
    OracleColumn c;
    c.name = item[0].text;
    size_t k = 1;
    if (k < item.size()) c.type = LowerText(item[k++].text);
    if (c.type == "dec") c.type = "decimal";
    if (k < item.size() && item[k].IsSymbol('(')) {
      auto parts = ListItemsAt(item, k);
      if (!parts.empty() && !parts[0].empty() && parts[0][0].kind == SqlToken::kNumber) c.length = std::stoi(parts[0][0].text);
    }
    table.columns.push_back(c);
    ReadConstraints(item, k, table, &table.columns.back());
  }
  schema.tables[table.name] = table;
}

}  // namespace oracle_detail

inline OracleSchema ReadOracleSchema(const std::string& script) {
  using namespace oracle_detail;
  OracleSchema schema;
  for (const std::string& batch : SplitSqlBatches(script)) {
    const SqlLexResult lexed = LexSqlBatch(batch);
    const Tokens& t = lexed.tokens;
    const std::string lower = LowerText(batch);
    for (size_t i = 0; i + 1 < t.size(); ++i) {
      if (t[i].Is("ALTER") && t[i + 1].Is("TABLE")) {
        size_t at = i + 2;
        const std::string name = QualifiedNameAt(t, at);
        if (at + 1 < t.size() && t[at].Is("WITH") && (t[at + 1].Is("CHECK") || t[at + 1].Is("NOCHECK"))) at += 2;
        if (at < t.size() && t[at].Is("ADD")) ReadConstraints(t, at + 1, schema.tables[name], nullptr);
        break;
      }
      if (t[i].Is("CREATE") && t[i + 1].Is("TABLE")) {
        ReadTable(t, i + 2, schema);
        break;
      }
      if (t[i].Is("CREATE") && (t[i + 1].Is("VIEW") || t[i + 1].Is("PROCEDURE") || t[i + 1].Is("PROC") ||
                                t[i + 1].Is("TRIGGER"))) {
        size_t at = i + 2;
        const std::string name = QualifiedNameAt(t, at);
        const std::string kind = LowerText(t[i + 1].text);
        const size_t from = lower.find("create " + (kind == "proc" ? std::string("proc") : kind));
        const std::string text = CollapseSpace(batch.substr(from == std::string::npos ? 0 : from));
        (kind == "view" ? schema.views : kind == "trigger" ? schema.triggers : schema.procedures)[name] = text;
        break;
      }
      if (t[i].Is("CREATE") && (t[i + 1].Is("INDEX") || t[i + 1].Is("UNIQUE") || t[i + 1].Is("CLUSTERED") ||
                                t[i + 1].Is("NONCLUSTERED"))) {
        size_t at = i + 1;
        OracleKey key;
        for (; at < t.size() && !t[at].Is("INDEX"); ++at)
          if (t[at].Is("CLUSTERED")) key.clustered = true;
        key.name = t[at + 1].text;
        at += 3;  // INDEX name ON
        const std::string tableName = QualifiedNameAt(t, at);
        key.columns = NameListAt(t, at);
        schema.tables[tableName].keys.push_back(key);
        break;
      }
      if (t[i].Is("sp_addtype")) {
        // sp_addtype name, 'base'[, 'NOT NULL']; several may share a batch.
        std::vector<std::string> args;
        size_t at = i + 1;
        for (; at < t.size() && !t[at].Is("sp_addtype") && !t[at].Is("exec") && !t[at].Is("execute"); ++at)
          if (!t[at].IsSymbol(',')) args.push_back(t[at].text);
        if (args.size() >= 2)
          schema.userTypes[args[0]] = {LowerText(args[1]), args.size() > 2 && LowerText(args[2]) == "not null"};
        i = at - 1;
      }
    }
  }
  return schema;
}

}  // namespace testsupport
