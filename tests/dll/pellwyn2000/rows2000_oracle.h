// The real SQL Server 2000 sample databases against the public install scripts, value by
// value and by primary key: comparable texts of decoded values and script literals, the
// tables' layouts from the scripts' CREATE TABLE statements as the 2000 row format stores
// them (fixed columns one after the other from offset 4, a bit column sharing its byte with up
// to seven more, variable columns numbered in column order after the uniquifier, null bits by
// column order), and the rows read back from exported INSERT statements.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/records.h"
#include "dll/pellwyn2000/insert2000.h"
#include "dll/pellwyn2000/record2000.h"
#include "oracle2000.h"
#include "platform/timeutil.h"
#include "support/fixtures.h"

namespace rowsoracle {

using namespace rows2000;
using oracle2000::ColumnDef;
using oracle2000::Literal;
using oracle2000::TableDef;

// A plain 2000 data file: page n at n x 8192.
class DataFile {
 public:
  explicit DataFile(const std::string& path) : m_bytes(testsupport::ReadFile(path)) {}
  DWORD PageCount() const { return DWORD(m_bytes.size() / kPageSize); }
  bool Read(DWORD page, BYTE* out) const {
    if (page >= PageCount()) return false;
    std::memcpy(out, m_bytes.data() + size_t(page) * kPageSize, kPageSize);
    return true;
  }
  lobcore::PageReader Reader() const {
    return [this](const lobcore::Rid& rid, BYTE* out) { return Read(rid.page, out); };
  }

 private:
  std::string m_bytes;
};

// Stored size, precision and scale of a column type as syscolumns gives them.
inline void SizeOf(const ColumnDef& d, CColumn& c) {
  struct Fixed {
    const char* type;
    WORD length;
    BYTE precision;
    BYTE scale;
  } static const kFixed[] = {
      {"int", 4, 10, 0},      {"smallint", 2, 5, 0},   {"tinyint", 1, 3, 0},     {"bigint", 8, 19, 0},
      {"bit", 1, 1, 0},       {"money", 8, 19, 4},     {"smallmoney", 4, 10, 4}, {"datetime", 8, 23, 3},
      {"smalldatetime", 4, 16, 0}, {"real", 4, 24, 0}, {"float", 8, 53, 0},     {"text", 16, 0, 0},
      {"ntext", 16, 0, 0},    {"image", 16, 0, 0},     {"uniqueidentifier", 16, 0, 0},
  };
  for (const Fixed& f : kFixed) {
    if (d.type != f.type) continue;
    c.m_wLength = f.length;
    c.m_bPrecision = f.precision;
    c.m_bScale = f.scale;
    return;
  }
  if (d.type == "decimal" || d.type == "numeric") {
    const int p = d.size ? d.size : 18;
    c.m_wLength = WORD(p <= 9 ? 5 : p <= 19 ? 9 : p <= 28 ? 13 : 17);
    c.m_bPrecision = BYTE(p);
    c.m_bScale = BYTE(d.scale);
    return;
  }
  const int n = d.size ? d.size : 1;
  c.m_wLength = WORD(d.type == "nchar" || d.type == "nvarchar" ? 2 * n : n);
}

// The table record the catalog would give, with the 2000 layout of its columns.
inline std::unique_ptr<CTable> TableFromDdl(const TableDef& def, DWORD objectId) {
  auto table = std::make_unique<CTable>();
  table->m_strName = def.name.c_str();
  table->m_strOwner = "dbo";
  table->m_dwObjectId = objectId;
  int fixedEnd = 4;
  int bitByte = -1, bitsInByte = 0;
  int varIndex = def.nonUniqueClustered ? 1 : 0;  // the uniquifier takes the first entry
  WORD order = 0;
  for (const ColumnDef& d : def.columns) {
    auto* c = new CColumn;
    c->m_strName = d.name.c_str();
    c->m_strType = d.type.c_str();
    c->m_wColOrder = ++order;
    c->m_nColumnId = order;
    c->m_bNullable = true;
    SizeOf(d, *c);
    if (IsVariableType(SqlTypeFromName(c->m_strType))) {
      c->m_nOffset = short(-(++varIndex));
      table->m_mapVarTypes.SetAt(FormatString("%hd", c->m_nOffset).view(), c->m_strType);
    } else if (d.type == "bit") {
      if (bitByte < 0 || bitsInByte == 8) {
        bitByte = fixedEnd++;
        bitsInByte = 0;
      }
      c->m_nOffset = short(bitByte);
      c->m_bBitPosition = BYTE(bitsInByte++);
    } else {
      c->m_nOffset = short(fixedEnd);
      fixedEnd += c->m_wLength;
    }
    table->AppendColumn(c);
  }
  table->m_nCatalogColumns = order;
  table->m_nAllColumns = order;
  table->m_nExtraColumn = def.nonUniqueClustered ? 1 : 0;
  return table;
}

// ---- one comparable text per value, from either side

inline std::string Latin1ToUtf8(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += char(c);
    } else {
      out += char(0xC0 | c >> 6);
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

inline std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

inline std::string Utf16ToUtf8(const std::string& bytes) {
  return ::Utf16ToUtf8(ByteView(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()));
}

inline std::string DecimalKey(std::string s) {
  const bool negative = !s.empty() && s[0] == '-';
  if (negative) s.erase(0, 1);
  std::string whole = s, fraction;
  const size_t dot = s.find('.');
  if (dot != std::string::npos) {
    whole = s.substr(0, dot);
    fraction = s.substr(dot + 1);
  }
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  std::string key = whole.empty() ? "0" : whole;
  if (!fraction.empty()) key += "." + fraction;
  return (negative && key != "0" ? "-" : "") + key;
}

inline std::string FloatKey(const std::string& s, bool single) {
  double v = std::strtod(s.c_str(), nullptr);
  char buf[64];
  const auto r = single ? std::to_chars(buf, buf + sizeof buf, float(v)) : std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

inline std::string DateKey(long long days, long long ticks) { return std::to_string(days) + "+" + std::to_string(ticks); }

// 'm/d/yyyy' or 'mm/dd/yy' (two-digit years before 50 are 20xx, as the server reads them).
inline std::string OracleDateKey(const std::string& text) {
  int m = 0, d = 0, y = 0;
  if (std::sscanf(text.c_str(), "%d/%d/%d", &m, &d, &y) != 3) return "date? " + text;
  if (y < 50) y += 2000;
  else if (y < 100) y += 1900;
  return DateKey(DaysFromCivil(y, unsigned(m), unsigned(d)) - DaysFromCivil(1900, 1, 1), 0);
}

inline std::string TrimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

inline std::string NoCarriageReturns(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  return s;
}

// The comparable text of one of our exported values.
inline std::string OurKey(const std::string& type, const Value& v) {
  switch (v.mark) {
    case Mark::kNull: return "NULL";
    case Mark::kEmpty: return type == "image" || type == "varbinary" ? "0x" : "''";
    case Mark::kValue: break;
    default: return std::string("marked ") + MarkText(v.mark);
  }
  const std::string& t = v.text;
  if (type == "money" || type == "smallmoney" || type == "decimal" || type == "numeric") return DecimalKey(t);
  if (type == "real" || type == "float") return FloatKey(t, type == "real");
  if (type == "datetime") return DateKey(std::stoll(t.substr(0, 8), nullptr, 16), std::stoll(t.substr(8), nullptr, 16));
  if (type == "nchar" || type == "nvarchar" || type == "ntext")
    return "'" + NoCarriageReturns(TrimRight(Utf16ToUtf8(FromHex(t)))) + "'";
  if (type == "char" || type == "varchar" || type == "text") return "'" + NoCarriageReturns(TrimRight(Latin1ToUtf8(t))) + "'";
  if (type == "image" || type == "varbinary" || type == "binary") return "0x" + (t.rfind("0x", 0) == 0 ? t.substr(2) : t);
  return t;
}

inline std::string OracleKey(const std::string& type, const Literal& v) {
  switch (v.kind) {
    case Literal::kNull: return "NULL";
    case Literal::kBinary: return "0x" + v.text;
    case Literal::kString:
      if (type == "datetime" || type == "smalldatetime") return OracleDateKey(v.text);
      return "'" + NoCarriageReturns(TrimRight(v.text)) + "'";
    case Literal::kNumber: break;
  }
  if (type == "money" || type == "smallmoney" || type == "decimal" || type == "numeric") return DecimalKey(v.text);
  if (type == "real" || type == "float") return FloatKey(v.text, type == "real");
  // Any number but 0 stores as 1 in a bit column.
  if (type == "bit") return std::atoi(v.text.c_str()) ? "1" : "0";
  return v.text;
}

// The script holds a replacement character where a page holds a code-page byte it could not
// carry over: any one non-ASCII character matches it.
inline bool SameValue(const std::string& ours, const std::string& oracle) {
  static const std::string kReplacement = "\xEF\xBF\xBD";
  if (oracle.find(kReplacement) == std::string::npos) return ours == oracle;
  size_t i = 0, j = 0;
  while (i < ours.size() && j < oracle.size()) {
    if (oracle.compare(j, 3, kReplacement) == 0) {
      if (static_cast<unsigned char>(ours[i]) < 0x80) return false;
      ++i;
      while (i < ours.size() && (static_cast<unsigned char>(ours[i]) & 0xC0) == 0x80) ++i;
      j += 3;
    } else if (ours[i++] != oracle[j++]) {
      return false;
    }
  }
  return i == ours.size() && j == oracle.size();
}

// ---- the database

struct DecodedTable {
  std::unique_ptr<CTable> table;
  std::vector<DWORD> pages;
  std::vector<std::vector<Value>> exported;  // every row, export mode
  std::vector<std::string> previewRows;      // every row, as the preview joins it
  int notShown = 0;                          // rows the preview leaves out
  int incompleteValues = 0;
};

struct Database {
  DataFile file;
  std::map<std::string, DecodedTable> tables;
  explicit Database(const std::string& path) : file(path) {}
};

// The data pages of every object, from the page headers; torn bits put back.
inline std::map<DWORD, std::vector<DWORD>> DataPagesByObject(const DataFile& file) {
  std::map<DWORD, std::vector<DWORD>> pages;
  std::vector<BYTE> page(kPageSize);
  for (DWORD n = 0; n < file.PageCount(); ++n) {
    file.Read(n, page.data());
    if (PageTypeOf(page.data()) == kPageData) pages[PageObjectId(page.data())].push_back(n);
  }
  return pages;
}

template <class F>
void ForEachRecord(const DataFile& file, const std::vector<DWORD>& pages, F&& fn) {
  std::vector<BYTE> page(kPageSize);
  for (DWORD n : pages) {
    file.Read(n, page.data());
    RestoreTornBitsIfPresent(page.data());
    const ByteView body(page.data() + kPageHeaderSize, kPageBodySize);
    ForEachSlot(page.data(), [&](int, WORD entry) {
      fn(body, WORD(entry - kPageHeaderSize));
      return true;
    });
  }
}

// Appends a column to a table written by hand: where rows hold it (a fixed offset, or minus
// its variable index), its stored length and its column order.
inline CColumn* AddColumn(CTable& table, const char* name, const char* type, short offset, WORD length, WORD order) {
  auto* c = new CColumn;
  c->m_strName = name;
  c->m_strType = type;
  c->m_nOffset = offset;
  c->m_wLength = length;
  c->m_wColOrder = order;
  table.AppendColumn(c);
  return c;
}

// User tables by name, read from sysobjects (object 1) with the decoder itself: name is its
// first variable column, id an int at 4, xtype a char(2) at 8.
inline std::map<std::string, DWORD> UserTables(const DataFile& file, const std::vector<DWORD>& sysobjectsPages) {
  CTable sysobjects;
  AddColumn(sysobjects, "name", "nvarchar", -1, 256, 1);
  AddColumn(sysobjects, "id", "int", 4, 4, 2);
  AddColumn(sysobjects, "xtype", "char", 8, 2, 3);
  sysobjects.m_mapVarTypes.SetAt("-1", "nvarchar");
  sysobjects.m_nCatalogColumns = sysobjects.m_nAllColumns = 3;
  const RowPlan plan(sysobjects);
  DecodeOptions options;
  options.mode = Mode::kExport;
  std::map<std::string, DWORD> tables;
  ForEachRecord(file, sysobjectsPages, [&](ByteView body, WORD offset) {
    DecodedRow row;
    if (DecodeRecord(plan, body, offset, options, row) != Verdict::kDecoded) return;
    if (row.values[2].text != "U ") return;
    tables[Utf16ToUtf8(FromHex(row.values[0].text))] = DWORD(std::stoul(row.values[1].text));
  });
  return tables;
}

inline std::unique_ptr<Database> Decode(const std::string& path, const oracle2000::Script& script) {
  auto db = std::make_unique<Database>(path);
  const auto pages = DataPagesByObject(db->file);
  const auto ids = UserTables(db->file, pages.count(1) ? pages.at(1) : std::vector<DWORD>());
  const LobReader lob(db->file.Reader());
  for (const auto& [name, def] : script.tables) {
    auto id = ids.find(name);
    if (id == ids.end()) continue;
    DecodedTable& t = db->tables[name];
    t.table = TableFromDdl(def, id->second);
    if (pages.count(id->second)) t.pages = pages.at(id->second);
    const RowPlan plan(*t.table);
    for (Mode mode : {Mode::kExport, Mode::kDisplay}) {
      DecodeOptions options;
      options.mode = mode;
      options.lob = &lob;
      ForEachRecord(db->file, t.pages, [&](ByteView body, WORD offset) {
        DecodedRow row;
        if (DecodeRecord(plan, body, offset, options, row) != Verdict::kDecoded) return;
        t.incompleteValues += row.incompleteValues;
        if (mode == Mode::kExport) {
          t.exported.push_back(row.values);
          return;
        }
        std::string text;
        if (PreviewRowText(row, text)) t.previewRows.push_back(text);
        else ++t.notShown;
      });
    }
  }
  return db;
}

// Compares every row of every table the script fills, found by its primary key, or by the
// values the script gives where it leaves a key column to the server (an identity) or the
// table has no key. Counts the rows compared.
inline void CompareWithScript(const Database& db, const oracle2000::Script& script, int& compared) {
  compared = 0;
  for (const auto& [name, expected] : script.rows) {
    SCOPED_TRACE(name);
    auto it = db.tables.find(name);
    ASSERT_NE(it, db.tables.end()) << "no table in the file";
    const DecodedTable& t = it->second;
    const TableDef& def = script.tables.at(name);
    EXPECT_EQ(t.exported.size(), expected.size());
    EXPECT_EQ(t.incompleteValues, 0);
    std::map<std::string, size_t> index;
    for (size_t i = 0; i < def.columns.size(); ++i) index[def.columns[i].name] = i;
    // Our rows as comparable texts, column by column; each is matched once.
    std::vector<std::vector<std::string>> ours;
    for (const auto& values : t.exported) {
      std::vector<std::string> keys;
      for (size_t i = 0; i < def.columns.size(); ++i) keys.push_back(OurKey(def.columns[i].type, values[i]));
      ours.push_back(keys);
    }
    std::vector<bool> matched(ours.size(), false);
    std::map<std::string, size_t> byKey;
    auto keyOf = [&](const std::vector<std::string>& keys) {
      std::string k;
      for (const std::string& c : def.primaryKey) k += keys[index.at(c)] + "|";
      return k;
    };
    if (!def.primaryKey.empty())
      for (size_t r = 0; r < ours.size(); ++r) byKey.emplace(keyOf(ours[r]), r);
    for (const oracle2000::Row& row : expected) {
      std::vector<std::string> want(def.columns.size());
      std::vector<bool> given(def.columns.size(), false);
      for (const auto& [column, literal] : row) {
        ASSERT_TRUE(index.count(column)) << column;
        want[index[column]] = OracleKey(def.columns[index[column]].type, literal);
        given[index[column]] = true;
      }
      bool keyGiven = !def.primaryKey.empty();
      for (const std::string& c : def.primaryKey) keyGiven = keyGiven && given[index.at(c)];
      size_t found = ours.size();
      if (keyGiven) {
        auto k = byKey.find(keyOf(want));
        if (k != byKey.end() && !matched[k->second]) found = k->second;
      } else {
        for (size_t r = 0; r < ours.size() && found == ours.size(); ++r) {
          bool same = !matched[r];
          for (size_t i = 0; i < want.size() && same; ++i) same = !given[i] || SameValue(ours[r][i], want[i]);
          if (same) found = r;
        }
      }
      std::string shown;
      for (size_t i = 0; i < want.size(); ++i) shown += (given[i] ? want[i].substr(0, 40) : "-") + "|";
      if (found == ours.size()) {
        ADD_FAILURE() << "row " << shown << " not decoded";
        continue;
      }
      matched[found] = true;
      ++compared;
      for (size_t i = 0; i < want.size(); ++i) {
        if (!given[i]) continue;
        EXPECT_TRUE(SameValue(ours[found][i], want[i]))
            << "row " << shown << " column " << def.columns[i].name << ": " << ours[found][i].substr(0, 200)
            << " against " << want[i].substr(0, 200);
      }
    }
    EXPECT_EQ(std::count(matched.begin(), matched.end(), false), 0) << "decoded rows the script does not hold";
  }
}

// The rows of a batch read back from its INSERT statements (and the UPDATETEXT pieces that
// follow one), as the decoder's export tokens in the table's column order; a column a
// statement does not name is NULL.
inline std::vector<std::vector<Value>> RowsFromBatch(const CTable& table, const std::string& batch) {
  using testsupport::SqlToken;
  std::vector<std::string> names;
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext) names.push_back(c->m_strName.str());
  std::vector<std::vector<Value>> rows;
  auto at = [&](const std::string& name) { return size_t(std::find(names.begin(), names.end(), name) - names.begin()); };
  const auto lexed = testsupport::LexSqlBatch(batch);
  EXPECT_TRUE(lexed.ok()) << lexed.error;
  const std::vector<SqlToken>& t = lexed.tokens;
  std::string piece;  // the last @NTEXT piece as hex digits, or @TEXT piece as its bytes
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i].Is("Insert") && i + 1 < t.size() && t[i + 1].Is("into")) {
      i += 2;
      testsupport::QualifiedNameAt(t, i);
      const std::vector<std::string> columns = testsupport::NameListAt(t, i);
      if (i >= t.size() || !t[i].Is("values")) continue;
      ++i;
      rows.emplace_back(names.size(), Value::Marked(Mark::kNull));
      std::vector<Value>& values = rows.back();
      const auto items = testsupport::ListItemsAt(t, i);
      for (size_t k = 0; k < columns.size() && k < items.size(); ++k) {
        const std::vector<SqlToken>& e = items[k];
        const size_t column = at(columns[k]);
        if (column >= values.size()) continue;
        Value& v = values[column];
        if (e.size() == 1 && e[0].Is("NULL")) v = Value::Marked(Mark::kNull);
        else if (e.size() == 1 && e[0].kind == SqlToken::kString) v = Value::Of(e[0].text);
        else if (e.size() == 1 && oracle2000::detail::IsHex(e[0])) v = Value::Of(e[0].text.substr(2));
        else if (e.size() > 2 && e[0].Is("CONVERT") && oracle2000::detail::IsHex(e[e.size() - 2])) {
          const std::string hex = e[e.size() - 2].text.substr(2);
          v = Value::Of(e[2].Is("varchar") ? FromHex(hex) : hex);
        } else {
          std::string number;
          for (const SqlToken& x : e) number += x.text;
          v = Value::Of(number);
        }
      }
      --i;
    } else if (t[i].Is("SET") && i + 10 < t.size() && t[i + 1].text == "@NTEXT") {
      piece = t[i + 10].text.substr(2);
    } else if (t[i].Is("SET") && i + 10 < t.size() && t[i + 1].text == "@TEXT") {
      piece = FromHex(t[i + 10].text.substr(2));
    } else if (t[i].Is("Updatetext") && !rows.empty()) {
      ++i;
      const size_t column = at(testsupport::QualifiedNameAt(t, i));
      // @PTR NULL 0, then the variable or an image piece's binary literal (as the decoder's hex).
      const bool literal = i + 3 < t.size() && oracle2000::detail::IsHex(t[i + 3]);
      if (column < rows.back().size()) rows.back()[column].text += literal ? t[i + 3].text.substr(2) : piece;
      --i;
    }
  }
  return rows;
}

// Every line of an exported text is ASCII: no code page can change it on the way.
inline void ExpectAscii(const std::string& text) {
  for (unsigned char c : text) EXPECT_TRUE(c < 0x7F && (c >= 0x20 || c == '\t' || c == '\r' || c == '\n')) << int(c);
}

// A row's values read back from the statement the export writes for it. The script text must
// be ASCII and one batch, whatever the values hold; a large-value block is followed by the
// batch that switches XACT_ABORT off again.
inline std::vector<Value> ValuesFromStatement(const CTable& table, const std::string& text) {
  ExpectAscii(text);
  const auto batches = testsupport::SplitSqlBatches(text);
  const bool block = text.rfind("SET XACT_ABORT ON \r\nbegin transaction", 0) == 0;
  EXPECT_EQ(batches.size(), block ? 3u : 2u);
  if (block && batches.size() == 3u) EXPECT_EQ(batches[1], "SET XACT_ABORT OFF\r\n");
  auto rows = RowsFromBatch(table, batches.front());
  EXPECT_EQ(rows.size(), 1u);
  return rows.empty() ? std::vector<Value>() : rows.front();
}

inline const oracle2000::Script& NorthwindScript() {
  static const oracle2000::Script script = [] {
    const std::string path = testsupport::FixturePath("oracle/instnwnd.sql");
    return oracle2000::ReadScript(testsupport::InstallScriptText(path.empty() ? "" : testsupport::ReadFile(path)));
  }();
  return script;
}

inline const oracle2000::Script& PubsScript() {
  static const oracle2000::Script script = [] {
    const std::string path = testsupport::FixturePath("oracle/instpubs.sql");
    return oracle2000::ReadScript(path.empty() ? "" : testsupport::ReadFile(path));
  }();
  return script;
}

inline size_t ColumnIndex(const DecodedTable& t, const char* name) {
  size_t i = 0;
  for (const CColumn* c = t.table->m_pColumnHead; c; c = c->m_pNext, ++i)
    if (c->m_strName == name) return i;
  return size_t(-1);
}

}  // namespace rowsoracle
