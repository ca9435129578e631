// Every row of the real SQL Server 2000 sample databases, decoded from their pages, against
// the public install scripts, value by value and by primary key. The tables' layouts come
// from the scripts' CREATE TABLE statements as the 2000 row format stores them (fixed columns
// one after the other from offset 4, a bit column sharing its byte with up to seven more,
// variable columns numbered in column order after the uniquifier, null bits by column order);
// each table's pages are found by the object id in their headers.
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

using namespace rows2000;
using oracle2000::ColumnDef;
using oracle2000::Literal;
using oracle2000::TableDef;

namespace {

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
void SizeOf(const ColumnDef& d, CColumn& c) {
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
std::unique_ptr<CTable> TableFromDdl(const TableDef& def, DWORD objectId) {
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

std::string Latin1ToUtf8(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) testsupport::AppendUtf8(out, c);
  return out;
}

std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::string Utf16ToUtf8(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    testsupport::AppendUtf8(out, BYTE(bytes[i]) | BYTE(bytes[i + 1]) << 8);
  return out;
}

std::string DecimalKey(std::string s) {
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

std::string FloatKey(const std::string& s, bool single) {
  double v = std::strtod(s.c_str(), nullptr);
  char buf[64];
  const auto r = single ? std::to_chars(buf, buf + sizeof buf, float(v)) : std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string DateKey(long long days, long long ticks) { return std::to_string(days) + "+" + std::to_string(ticks); }

// 'm/d/yyyy' or 'mm/dd/yy' (two-digit years before 50 are 20xx, as the server reads them).
std::string OracleDateKey(const std::string& text) {
  int m = 0, d = 0, y = 0;
  if (std::sscanf(text.c_str(), "%d/%d/%d", &m, &d, &y) != 3) return "date? " + text;
  if (y < 50) y += 2000;
  else if (y < 100) y += 1900;
  return DateKey(DaysFromCivil(y, unsigned(m), unsigned(d)) - DaysFromCivil(1900, 1, 1), 0);
}

std::string TrimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string NoCarriageReturns(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  return s;
}

// The comparable text of one of our exported values.
std::string OurKey(const std::string& type, const Value& v) {
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

std::string OracleKey(const std::string& type, const Literal& v) {
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
bool SameValue(const std::string& ours, const std::string& oracle) {
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
std::map<DWORD, std::vector<DWORD>> DataPagesByObject(const DataFile& file) {
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

// User tables by name, read from sysobjects (object 1) with the decoder itself: name is its
// first variable column, id an int at 4, xtype a char(2) at 8.
std::map<std::string, DWORD> UserTables(const DataFile& file, const std::vector<DWORD>& sysobjectsPages) {
  CTable sysobjects;
  auto add = [&](const char* name, const char* type, short offset, WORD length, WORD order) {
    auto* c = new CColumn;
    c->m_strName = name;
    c->m_strType = type;
    c->m_nOffset = offset;
    c->m_wLength = length;
    c->m_wColOrder = order;
    sysobjects.AppendColumn(c);
  };
  add("name", "nvarchar", -1, 256, 1);
  add("id", "int", 4, 4, 2);
  add("xtype", "char", 8, 2, 3);
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

std::unique_ptr<Database> Decode(const std::string& path, const oracle2000::Script& script) {
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
void CompareWithScript(const Database& db, const oracle2000::Script& script, int& compared) {
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

// A row's values read back from the statement the export writes for it, as the decoder's
// export tokens in the table's column order; a column the statement does not name is NULL.
// The script text must be ASCII and one batch, whatever the values hold.
std::vector<Value> ValuesFromStatement(const CTable& table, const std::string& text) {
  using testsupport::SqlToken;
  std::vector<std::string> names;
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext) names.push_back(c->m_strName.str());
  std::vector<Value> values(names.size(), Value::Marked(Mark::kNull));
  auto at = [&](const std::string& name) { return size_t(std::find(names.begin(), names.end(), name) - names.begin()); };
  for (unsigned char c : text) EXPECT_TRUE(c < 0x7F && (c >= 0x20 || c == '\t' || c == '\r' || c == '\n')) << int(c);
  const auto batches = testsupport::SplitSqlBatches(text);
  EXPECT_EQ(batches.size(), 2u);
  const auto lexed = testsupport::LexSqlBatch(batches.front());
  EXPECT_TRUE(lexed.ok()) << lexed.error;
  const std::vector<SqlToken>& t = lexed.tokens;
  std::string piece;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i].Is("Insert") && i + 1 < t.size() && t[i + 1].Is("into")) {
      i += 2;
      testsupport::QualifiedNameAt(t, i);
      const std::vector<std::string> columns = testsupport::NameListAt(t, i);
      if (i >= t.size() || !t[i].Is("values")) continue;
      ++i;
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
    } else if (t[i].Is("Updatetext")) {
      ++i;
      const size_t column = at(testsupport::QualifiedNameAt(t, i));
      if (column < values.size()) values[column].text += piece;
      --i;
    }
  }
  return values;
}

const oracle2000::Script& NorthwindScript() {
  static const oracle2000::Script script = [] {
    const std::string path = testsupport::FixturePath("oracle/instnwnd.sql");
    return oracle2000::ReadScript(testsupport::InstallScriptText(path.empty() ? "" : testsupport::ReadFile(path)));
  }();
  return script;
}

const oracle2000::Script& PubsScript() {
  static const oracle2000::Script script = [] {
    const std::string path = testsupport::FixturePath("oracle/instpubs.sql");
    return oracle2000::ReadScript(path.empty() ? "" : testsupport::ReadFile(path));
  }();
  return script;
}

size_t ColumnIndex(const DecodedTable& t, const char* name) {
  size_t i = 0;
  for (const CColumn* c = t.table->m_pColumnHead; c; c = c->m_pNext, ++i)
    if (c->m_strName == name) return i;
  return size_t(-1);
}

}  // namespace

TEST(Rows2000Fixtures, NorthwindEqualsItsInstallScript) {
  REQUIRE_FIXTURE(path, "sample2000_NORTHWND.MDF");
  REQUIRE_FIXTURE(oracle, "oracle/instnwnd.sql");
  const oracle2000::Script& script = NorthwindScript();
  ASSERT_EQ(script.rows.at("Order Details").size(), 2155u);
  const auto db = Decode(path, script);
  int compared = 0;
  CompareWithScript(*db, script, compared);
  EXPECT_EQ(compared, 3308);

  // Large values through their pointers: every Description, Picture, Notes, Photo and HomePage.
  const DecodedTable& categories = db->tables.at("Categories");
  const size_t picture = ColumnIndex(categories, "Picture");
  for (const auto& row : categories.exported) EXPECT_GT(row[picture].text.size(), 20000u);
  // NULL stays NULL: the orders hold 526 NULL variable values, 507 of them ShipRegion, in the
  // export and in the preview.
  const DecodedTable& orders = db->tables.at("Orders");
  const size_t region = ColumnIndex(orders, "ShipRegion");
  int nulls = 0, variableNulls = 0;
  for (const auto& row : orders.exported) {
    nulls += row[region].mark == Mark::kNull;
    size_t i = 0;
    for (const CColumn* c = orders.table->m_pColumnHead; c; c = c->m_pNext, ++i)
      variableNulls += c->m_nOffset < 0 && row[i].mark == Mark::kNull;
  }
  EXPECT_EQ(nulls, 507);
  EXPECT_EQ(variableNulls, 526);
  int shownNull = 0;
  for (const std::string& text : orders.previewRows) {
    std::vector<std::string> cells;
    for (size_t at = 0, next; (next = text.find("$#$", at)) != std::string::npos; at = next + 3)
      cells.push_back(text.substr(at, next - at));
    ASSERT_EQ(cells.size(), 14u);
    shownNull += cells[region] == "NULL";
  }
  EXPECT_EQ(shownNull, 507);
  EXPECT_EQ(orders.previewRows.front(),
            "10248$#$VINET$#$5$#$1996-07-04 0:00:00$#$1996-08-01 0:00:00$#$1996-07-16 0:00:00$#$3$#$"
            "000000000000032.3800$#$Vins et alcools Chevalier$#$59 rue de l'Abbaye$#$Reims$#$NULL$#$51100$#$"
            "France$#$");
  // The preview shows every row of every table.
  for (const auto& [name, t] : db->tables) {
    EXPECT_EQ(t.previewRows.size(), t.exported.size()) << name;
    EXPECT_EQ(t.notShown, 0) << name;
  }
  // An ntext value as the preview shows it.
  const DecodedTable& employees = db->tables.at("Employees");
  const size_t notes = ColumnIndex(employees, "Notes");
  const std::string& first = employees.previewRows.front();
  size_t at = 0;
  for (size_t k = 0; k < notes; ++k) at = first.find("$#$", at) + 3;
  EXPECT_EQ(first.substr(at, 37), "Education includes a BA in psychology");
}

TEST(Rows2000Fixtures, PubsEqualsItsInstallScript) {
  REQUIRE_FIXTURE(path, "sample2000_PUBS.MDF");
  REQUIRE_FIXTURE(oracle, "oracle/instpubs.sql");
  const oracle2000::Script& script = PubsScript();
  ASSERT_TRUE(script.tables.at("employee").nonUniqueClustered);
  const auto db = Decode(path, script);
  int compared = 0;
  CompareWithScript(*db, script, compared);
  EXPECT_EQ(compared, 23 + 18 + 21 + 43 + 14 + 8 + 6 + 86 + 3 + 25 + 8);

  // pr_info of 0736 is 65,071 bytes, read through its text tree.
  const DecodedTable& info = db->tables.at("pub_info");
  const size_t prInfo = ColumnIndex(info, "pr_info");
  size_t longest = 0;
  for (const auto& row : info.exported) longest = std::max(longest, row[prInfo].text.size());
  EXPECT_EQ(longest, 65071u);
}

TEST(Rows2000Fixtures, ExportStatementsCarryEveryValue) {
  // Each row's INSERT (and ntext block) as a script holds it, read back value by value:
  // the same rows as the pages', so the statements lose nothing on the way.
  struct Source {
    const char* file;
    const oracle2000::Script& script;
  } const sources[] = {{"sample2000_NORTHWND.MDF", NorthwindScript()}, {"sample2000_PUBS.MDF", PubsScript()}};
  int rows = 0, blocks = 0, identities = 0;
  for (const Source& source : sources) {
    SCOPED_TRACE(source.file);
    const std::string path = testsupport::FixturePath(source.file);
    if (path.empty() || source.script.rows.empty()) GTEST_SKIP() << "fixtures not available";
    auto db = Decode(path, source.script);
    for (auto& [name, t] : db->tables) {
      for (CColumn* c = t.table->m_pColumnHead; c; c = c->m_pNext)
        c->m_bIdentity = source.script.tables.at(name).columns[size_t(c->m_wColOrder - 1)].identity;
      const InsertPlan plan(*t.table);
      for (auto& values : t.exported) {
        const RowStatement statement = plan.Build(values, Target::kScript);
        blocks += statement.HasBlock();
        identities += statement.identity;
        values = ValuesFromStatement(*t.table, statement.ScriptText().str());
        ++rows;
      }
    }
    int compared = 0;
    CompareWithScript(*db, source.script, compared);
    EXPECT_GT(compared, 0);
  }
  EXPECT_EQ(rows, 3308 + 255);
  // ntext values: every employee's Notes and category's Description, and the five suppliers'
  // HomePage that are not NULL.
  EXPECT_EQ(blocks, 9 + 8 + 5);
  EXPECT_EQ(identities, 830 + 77 + 8 + 9 + 29 + 3 + 14);
}

