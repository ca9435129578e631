// Reading the rows of an export back and comparing them with a public install script
// (instnwnd.sql, instpubs.sql), value by value: our INSERT statements with the pieces that
// fill their large values, and the install script's INSERTs as the scan's tables take them. The
// script export's tests and the server export's tests read their output the same way.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/records.h"
#include "common/sqlserver.h"
#include "platform/cstring.h"
#include "platform/types.h"
#include "support/fixtures.h"
#include "support/tsqllexer.h"

namespace testsupport::oraclerows {

inline std::string Utf16Text(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned unit = BYTE(bytes[i]) | BYTE(bytes[i + 1]) << 8;
    out += unit < 256 ? char(unit) : '?';
  }
  return out;
}

inline std::string FromHex(const std::string& hex) {
  std::string out;
  size_t i = hex.size() >= 2 && hex[0] == '0' && (hex[1] == 'x' || hex[1] == 'X') ? 2 : 0;
  for (; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// A value of a row as the scripts (ours and the install script) give it.
struct Value {
  enum Kind { kNull, kText, kNumber, kDate, kBinary, kOther } kind = kOther;
  std::string v;
};
using Row = std::map<std::string, Value>;
struct TableRows {
  std::map<std::string, std::vector<Row>> rows;
  std::map<std::string, std::vector<std::string>> columns;  // our column order
  // From the scan: each table's identity and bit columns and its primary key's columns.
  std::map<std::string, std::set<std::string>> identity;
  std::map<std::string, std::set<std::string>> bits;
  std::map<std::string, std::vector<std::string>> primaryKey;
};

// What the scan knows of each table that the comparison needs.
inline void ReadTableFacts(const CSQLServer& engine, TableRows& out) {
  for (const auto& entry : engine.m_mapTables) {
    const CTable* t = entry.second;
    const std::string name = t->m_strName.str();
    for (const CColumn* c = t->m_pColumnHead; c; c = c->m_pNext)
      if (c->m_bIdentity) out.identity[name].insert(c->m_strName.str());
    for (const CColumn* c = t->m_pColumnHead; c; c = c->m_pNext)
      if (c->m_strType == "bit") out.bits[name].insert(c->m_strName.str());
    for (const auto& index : t->m_mapTableIndexes) {
      if (!index.second || !index.second->m_bPrimaryKey) continue;
      for (size_t p = 1; p < index.second->m_vecColumns.size(); ++p) {
        const int id = index.second->m_vecColumns[p];
        if (id > 0 && size_t(id) < t->m_vecColumnById.size() && t->m_vecColumnById[id])
          out.primaryKey[name].push_back(t->m_vecColumnById[id]->m_strName.str());
      }
    }
  }
}

inline Value NumberValue(const std::string& text) {
  Value v;
  v.kind = Value::kNumber;
  v.v = FormatString("%.12g", double(std::strtold(text.c_str(), nullptr))).str();
  return v;
}

// yyyy-mm-dd, then the time when it is not midnight.
inline std::string DateText(int y, int m, int d, long long ms) {
  std::string s = FormatString("%04d-%02d-%02d", y, m, d).str();
  if (ms) s += FormatString(" %lld", ms).str();
  return s;
}

inline Value DateFromHex(const std::string& hex, bool small) {
  const std::string b = FromHex(hex);
  long long days = 0, ms = 0;
  if (small && b.size() == 4) {
    days = BYTE(b[0]) << 8 | BYTE(b[1]);
    ms = (BYTE(b[2]) << 8 | BYTE(b[3])) * 60000ll;
  } else if (b.size() == 8) {
    days = std::int32_t(DWORD(BYTE(b[0])) << 24 | DWORD(BYTE(b[1])) << 16 | DWORD(BYTE(b[2])) << 8 | BYTE(b[3]));
    ms = (DWORD(BYTE(b[4])) << 24 | DWORD(BYTE(b[5])) << 16 | DWORD(BYTE(b[6])) << 8 | BYTE(b[7])) * 10ll / 3;
  }
  // Civil date of a day count from 1900-01-01.
  const long long z = days + 693901;  // days since 0000-03-01
  const long long era = z / 146097, doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const int d = int(doy - (153 * mp + 2) / 5 + 1), m = int(mp < 10 ? mp + 3 : mp - 9);
  const int y = int(yoe + era * 400 + (m <= 2));
  Value v;
  v.kind = Value::kDate;
  v.v = DateText(y, m, d, ms);
  return v;
}

// The qualified name at tokens[i]: its last part; i moves past it.
inline std::string NameAt(const std::vector<SqlToken>& t, size_t& i) {
  std::string name = i < t.size() ? t[i++].text : "";
  while (i + 1 < t.size() && t[i].IsSymbol('.')) {
    name = t[i + 1].text;
    i += 2;
  }
  return name;
}

// The tokens of one expression, up to the next top-level "," or the closing ")".
inline std::vector<SqlToken> Expression(const std::vector<SqlToken>& t, size_t& i) {
  std::vector<SqlToken> e;
  for (int depth = 0; i < t.size(); ++i) {
    if (depth == 0 && (t[i].IsSymbol(',') || t[i].IsSymbol(')'))) break;
    depth += t[i].IsSymbol('(') - t[i].IsSymbol(')');
    e.push_back(t[i]);
  }
  return e;
}

inline bool IsHex(const SqlToken& t) { return t.kind == SqlToken::kNumber && t.text.size() >= 2 && (t.text[1] == 'x' || t.text[1] == 'X'); }

// Our literals: NULL, numbers, strings, 0x.., CONVERT(nvarchar|varchar|datetime|smalldatetime, 0x..).
inline Value OurValue(const std::vector<SqlToken>& e) {
  Value v;
  if (e.size() == 1 && e[0].Is("NULL")) v.kind = Value::kNull;
  else if (e.size() == 1 && e[0].kind == SqlToken::kString) v = {Value::kText, e[0].text};
  else if (e.size() == 1 && IsHex(e[0])) v = {Value::kBinary, FromHex(e[0].text)};
  else if (e.size() == 1 && e[0].kind == SqlToken::kNumber) v = NumberValue(e[0].text);
  else if (e.size() == 2 && e[0].IsSymbol('-')) v = NumberValue("-" + e[1].text);
  else if (e.size() >= 4 && e[0].Is("CONVERT") && IsHex(e[e.size() - 2])) {
    const std::string bytes = FromHex(e[e.size() - 2].text);
    if (e[2].Is("nvarchar")) v = {Value::kText, Utf16Text(bytes)};
    else if (e[2].Is("varchar")) v = {Value::kText, bytes};
    else if (e[2].Is("datetime")) v = DateFromHex(e[e.size() - 2].text, false);
    else if (e[2].Is("smalldatetime")) v = DateFromHex(e[e.size() - 2].text, true);
  }
  return v;
}

// Reads the rows of our table scripts: each INSERT, then the pieces that fill its large values
// (UPDATETEXT through @NTEXT or @TEXT or with a binary literal, UPDATE ... .WRITE). A piece is
// appended to the value the INSERT gave, of the kind that value has.
inline void ReadOurRows(const std::string& script, TableRows& out) {
  Row* current = nullptr;
  for (const std::string& batch : SplitSqlBatches(script)) {
    const std::vector<SqlToken> t = LexSqlBatch(batch).tokens;
    std::string chunk;
    bool nationalChunk = false;
    for (size_t i = 0; i < t.size(); ++i) {
      if (t[i].Is("Insert") && i + 1 < t.size() && t[i + 1].Is("into")) {
        i += 2;
        const std::string table = NameAt(t, i);
        std::vector<std::string> columns;
        if (i < t.size() && t[i].IsSymbol('(')) {
          for (++i; i < t.size() && !t[i].IsSymbol(')'); ++i)
            if (t[i].IsIdentifier()) columns.push_back(t[i].text);
        }
        Row row;
        if (i + 2 < t.size() && t[i + 1].Is("values") && t[i + 2].IsSymbol('(')) {
          i += 3;
          for (size_t c = 0; c < columns.size() && i < t.size(); ++c) {
            std::vector<SqlToken> e = Expression(t, i);
            if (columns[c] != "_TARNWELL_TEMPCOL") row[columns[c]] = OurValue(e);
            if (i < t.size() && t[i].IsSymbol(',')) ++i;
          }
        }
        out.rows[table].push_back(row);
        current = &out.rows[table].back();
        std::erase(columns, "_TARNWELL_TEMPCOL");
        out.columns[table] = columns;
      } else if (t[i].Is("SET") && i + 1 < t.size() && (t[i + 1].text == "@NTEXT" || t[i + 1].text == "@TEXT")) {
        // SET @NTEXT = Convert ( nvarchar ( 4000 ) , 0x.. ), or @TEXT and varchar(8000)
        nationalChunk = t[i + 1].text == "@NTEXT";
        chunk = i + 10 < t.size() ? FromHex(t[i + 10].text) : "";
      } else if (t[i].Is("Updatetext") && current) {
        ++i;
        const std::string column = NameAt(t, i);
        i += 3;  // @PTR NULL 0
        if (i < t.size() && IsHex(t[i])) (*current)[column].v += FromHex(t[i].text);
        else (*current)[column].v += nationalChunk ? Utf16Text(chunk) : chunk;
      } else if (t[i].Is("WRITE") && current && i >= 2 && t[i - 1].IsSymbol('.') && i + 1 < t.size() &&
                 t[i + 1].IsSymbol('(')) {
        // [c] . WRITE ( 0x.. , NULL , 0 ), or with CONVERT ( varchar|nvarchar ( n ) , 0x.. )
        const std::string column = t[i - 2].text;
        size_t j = i + 2;
        const std::vector<SqlToken> e = Expression(t, j);
        Value piece = OurValue(e);
        (*current)[column].v += piece.v;
      }
    }
  }
}

// The install script's INSERT statements; positional values take our column order without
// the identity column, which SQL Server fills. Money literals are written "$19.99"; a bit
// column stores 1 for any number but 0.
inline void ReadOracleRows(const std::string& script, const TableRows& ours, TableRows& out) {
  for (const std::string& batch : SplitSqlBatches(script)) {
    const std::vector<SqlToken> t = LexSqlBatch(batch).tokens;
    for (size_t i = 0; i < t.size(); ++i) {
      if (!t[i].Is("INSERT")) continue;
      ++i;
      if (i < t.size() && t[i].Is("INTO")) ++i;
      const std::string table = NameAt(t, i);
      std::vector<std::string> columns;
      if (i < t.size() && t[i].IsSymbol('(')) {
        for (++i; i < t.size() && !t[i].IsSymbol(')'); ++i)
          if (t[i].IsIdentifier()) columns.push_back(t[i].text);
        ++i;
      }
      if (columns.empty()) {
        auto it = ours.columns.find(table);
        if (it == ours.columns.end()) continue;
        auto identity = ours.identity.find(table);
        for (const std::string& c : it->second)
          if (identity == ours.identity.end() || !identity->second.count(c)) columns.push_back(c);
      }
      if (i + 1 >= t.size() || !t[i].Is("VALUES") || !t[i + 1].IsSymbol('(')) continue;
      i += 2;
      Row row;
      for (size_t c = 0; c < columns.size() && i < t.size(); ++c) {
        std::vector<SqlToken> e = Expression(t, i);
        Value v;
        if (e.size() == 1 && e[0].Is("NULL")) v.kind = Value::kNull;
        else if (e.size() == 1 && e[0].kind == SqlToken::kString) v = {Value::kText, e[0].text};
        else if (e.size() == 1 && IsHex(e[0])) v = {Value::kBinary, FromHex(e[0].text)};
        else if (e.size() == 1 && e[0].kind == SqlToken::kNumber) v = NumberValue(e[0].text);
        else if (e.size() == 2 && e[0].IsSymbol('-')) v = NumberValue("-" + e[1].text);
        else if (!e.empty() && e[0].text.rfind('$', 0) == 0)
          v = NumberValue(e[0].text.substr(1) + (e.size() > 1 ? e[1].text : ""));
        auto bits = ours.bits.find(table);
        if (bits != ours.bits.end() && bits->second.count(columns[c]) && v.kind == Value::kNumber && v.v != "0")
          v.v = "1";
        row[columns[c]] = v;
        if (i < t.size() && t[i].IsSymbol(',')) ++i;
      }
      out.rows[table].push_back(row);
    }
  }
}

// Stands in an install script's text for a character its copy lost (a replacement character).
constexpr char kLostCharacter = '\x1A';

// One value as comparable text, read as the kind our side has: the install scripts write
// dates as text, m/d/y with two or four digits of year (two-digit years as SQL Server reads
// them), and pad nchar values.
inline std::string ValueText(Value v, const Value& ours) {
  if (ours.kind == Value::kDate && v.kind == Value::kText) {
    int m = 0, d = 0, y = 0;
    std::sscanf(v.v.c_str(), "%d/%d/%d", &m, &d, &y);
    if (y < 100) y += y < 50 ? 2000 : 1900;
    v = {Value::kDate, DateText(y, m, d, 0)};
  }
  std::string text = v.v;
  if (v.kind == Value::kText)
    while (!text.empty() && text.back() == ' ') text.pop_back();
  return std::to_string(int(v.kind)) + ":" + text;
}

// A row as one comparable text over the columns of `shape`.
inline std::string RowKey(const Row& row, const Row& shape) {
  std::string key;
  for (const auto& [name, ours] : shape) {
    auto it = row.find(name);
    key += name + "=" + ValueText(it == row.end() ? Value() : it->second, ours) + "|";
  }
  return key;
}

inline std::string Utf16ToNarrow(const std::string& bytes) {
  std::string out;
  size_t i = bytes.size() >= 2 && BYTE(bytes[0]) == 0xFF && BYTE(bytes[1]) == 0xFE ? 2 : 0;
  for (; i + 1 < bytes.size(); i += 2) out += bytes[i + 1] ? '?' : bytes[i];
  return out;
}

// Compares the rows of our scripts with the install script's, value by value: each install
// row is found among ours by its primary key (or, where it gives no key, by every value it
// gives), and each value it gives must equal ours. Where the row counts agree the rows are the
// same; where a database's owner added rows, the install script's rows are among ours.
inline void CompareWithOracle(const TableRows& ours, const TableRows& oracle, const std::string& name, size_t tables,
                       const std::string& edited = "") {
  size_t compared = 0;
  for (const auto& [table, expected] : oracle.rows) {
    SCOPED_TRACE(name + ": " + table);
    if (table == edited) continue;
    auto it = ours.rows.find(table);
    ASSERT_NE(it, ours.rows.end());
    ASSERT_FALSE(it->second.empty());
    const std::vector<Row>& got = it->second;
    const Row& shape = got.front();
    auto pk = ours.primaryKey.find(table);
    const std::vector<std::string> key = pk == ours.primaryKey.end() ? std::vector<std::string>() : pk->second;
    // The columns an install row gives, with our kinds.
    auto shapeOf = [&](const Row& r, bool keyOnly) {
      Row s;
      for (const auto& [column, v] : r) {
        auto ourKind = shape.find(column);
        if (ourKind == shape.end()) continue;
        if (!keyOnly || std::find(key.begin(), key.end(), column) != key.end()) s[column] = ourKind->second;
      }
      return s;
    };
    // Our rows indexed by the text of the columns matched on, per set of such columns.
    std::map<std::string, std::multimap<std::string, size_t>> indexes;
    std::vector<bool> used(got.size(), false);
    for (const Row& r : expected) {
      const Row keyShape = shapeOf(r, true);
      const bool byKey = !key.empty() && keyShape.size() == key.size();
      const Row match = byKey ? keyShape : shapeOf(r, false);
      std::string columns;
      for (const auto& m : match) columns += m.first + "|";
      auto [index, fresh] = indexes.try_emplace(columns);
      if (fresh)
        for (size_t k = 0; k < got.size(); ++k) index->second.emplace(RowKey(got[k], match), k);
      const std::string wanted = RowKey(r, match);
      size_t found = got.size();
      for (auto [at, end] = index->second.equal_range(wanted); at != end && found == got.size(); ++at)
        if (!used[at->second]) found = at->second;
      if (found == got.size()) {
        ADD_FAILURE() << "no row " << wanted;
        continue;
      }
      used[found] = true;
      for (const auto& [column, v] : r) {
        auto ourKind = shape.find(column);
        ASSERT_NE(ourKind, shape.end()) << column;
        auto ourValue = got[found].find(column);
        const std::string have = ValueText(ourValue == got[found].end() ? Value() : ourValue->second, ourKind->second);
        const std::string want = ValueText(v, ourKind->second);
        // kLostCharacter in an install script stands for a character its copy lost.
        bool same = have.size() == want.size();
        for (size_t k = 0; same && k < have.size(); ++k) same = have[k] == want[k] || want[k] == kLostCharacter;
        EXPECT_TRUE(same) << wanted << " column " << column << "\n ours: " << have << "\n want: " << want;
      }
    }
    if (got.size() == expected.size()) {
      EXPECT_EQ(std::count(used.begin(), used.end(), false), 0);
    }
    ++compared;
  }
  EXPECT_EQ(compared, edited.empty() ? tables : tables - 1);
}

}  // namespace testsupport::oraclerows
