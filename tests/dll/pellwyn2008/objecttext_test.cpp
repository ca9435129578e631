// Object definition texts: which row feeds which object, the record search, UTF-16 texts
// narrowed to 8-bit text, texts stored off row, damaged rows, and the Northwind texts of the
// real backups against the public install script.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <map>
#include <sstream>

#include "dll/pellwyn2008/catalog_rows.h"
#include "dll/pellwyn2008/synthetic_pages.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"

using testsupport::ModuleFolderScope;
using testsupport::TempDir;
namespace sp = synthpages;
using sp::Bytes;

namespace {

using catalogrows::ValueRow;

struct ObjectTextTest : ::testing::Test {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  CViewStoredProc* Add(CStringKeyMap<CViewStoredProc*>& map, int id, const char* name) {
    auto* o = new CViewStoredProc;
    o->m_strName = name;
    map.SetAt(FormatString("%ld", id).view(), o);
    return o;
  }
  void Decode(const ValueRow& row, WORD offset = 0) {
    catalogrows::Decode(engine, &CSQLServer2008::DecodeObjectValueRow, row.Build(), offset);
  }
  ValueRow Text(int id, const std::string& text, BYTE valueClass = 1, int sub = 0, int number = 0) {
    ValueRow r;
    r.objectId = id;
    r.valueClass = valueClass;
    r.subObjectId = sub;
    r.valueNumber = number;
    r.text = sp::Utf16(text);
    return r;
  }
};

}  // namespace

TEST_F(ObjectTextTest, EachRowFeedsItsObject) {
  CViewStoredProc* view = Add(engine.m_mapViews, 1001, "v");
  CViewStoredProc* proc = Add(engine.m_mapStoredProcs, 1002, "p");
  CViewStoredProc* rule = Add(engine.m_mapRules, 1003, "r");
  CViewStoredProc* trigger = Add(engine.m_mapTriggers, 1004, "t");
  CViewStoredProc* function = Add(engine.m_mapFunctions, 1005, "f");
  CTable* table = catalogrows::AddTable(engine, 1006, "T");

  Decode(Text(1001, "CREATE VIEW v AS SELECT 1"));
  Decode(Text(1001, "a later row"));  // the first text stays
  Decode(Text(1002, "CREATE PROCEDURE p AS RETURN", 1, 1));
  Decode(Text(1003, "CREATE RULE r AS @x > 0"));
  Decode(Text(1004, "events", 70, 1, 1));   // trigger rows need class 1, sub-object and number 0
  Decode(Text(1004, "second", 1, 0, 1));
  Decode(Text(1004, "CREATE TRIGGER t ON T FOR INSERT AS RETURN"));
  Decode(Text(1005, "CREATE FUNCTION f() RETURNS int AS BEGIN RETURN 1 END"));
  Decode(Text(1006, "([a]+[b])", 2, 3));
  Decode(Text(1006, "([a]*(2))", 2, 3));   // the later text of a column wins
  Decode(Text(1006, "((0))", 2, 4));
  Decode(Text(1006, "statistics", 1, 5));  // table rows need class 2
  Decode(Text(2001, "CREATE DEFAULT d AS 0"));
  Decode(Text(1500, "unknown, listed nowhere"));

  EXPECT_EQ(view->m_strText, "CREATE VIEW v AS SELECT 1");
  EXPECT_EQ(proc->m_strText, "CREATE PROCEDURE p AS RETURN");
  EXPECT_EQ(rule->m_strText, "CREATE RULE r AS @x > 0");
  EXPECT_EQ(trigger->m_strText, "CREATE TRIGGER t ON T FOR INSERT AS RETURN");
  EXPECT_EQ(function->m_strText, "CREATE FUNCTION f() RETURNS int AS BEGIN RETURN 1 END");
  EXPECT_EQ(table->m_mapComputed.GetCount(), 2);
  CString computed;
  EXPECT_TRUE(table->m_mapComputed.Lookup("3", computed));
  EXPECT_EQ(computed, "([a]*(2))");
  EXPECT_TRUE(table->m_mapComputed.Lookup("4", computed));
  EXPECT_EQ(computed, "((0))");
  CIndexInfo* unlisted = nullptr;
  ASSERT_TRUE(engine.m_mapIndexes.Lookup("2001", unlisted));
  EXPECT_EQ(unlisted->m_nValue, 2001);
  EXPECT_EQ(unlisted->m_strText, "CREATE DEFAULT d AS 0");
  EXPECT_FALSE(engine.m_mapIndexes.Contains("1500"));
  // A second row for an unlisted object replaces the first record.
  Decode(Text(2001, "CREATE DEFAULT d AS 1"));
  ASSERT_TRUE(engine.m_mapIndexes.Lookup("2001", unlisted));
  EXPECT_EQ(unlisted->m_strText, "CREATE DEFAULT d AS 1");

  // A view and a table with one id: the view's map is asked first.
  CTable* twin = catalogrows::AddTable(engine, 1001, "Twin");
  Decode(Text(1001, "x", 2, 1));
  EXPECT_TRUE(twin->m_mapComputed.IsEmpty());
}

TEST_F(ObjectTextTest, RecordSearchAndStatusWord) {
  CViewStoredProc* a = Add(engine.m_mapViews, 1001, "a");
  CViewStoredProc* b = Add(engine.m_mapViews, 1002, "b");
  CViewStoredProc* c = Add(engine.m_mapViews, 1003, "c");
  CViewStoredProc* d = Add(engine.m_mapViews, 1004, "d");
  CViewStoredProc* e = Add(engine.m_mapViews, 1005, "e");
  // Slot entry 0x0160 whose record is really at 0x0260 (256 further), and entry 0x0260 whose
  // record is at 0x0160 (256 back): offsets within the body are 96 less.
  {
    catalogrows::Body body;
    body.Place(Text(1001, "found 256 further").Build(), 0x0260 - 96);
    engine.DecodeObjectValueRow(body.data(), 0x0160 - 96);
  }
  {
    catalogrows::Body body;
    body.Place(Text(1002, "found 256 back").Build(), 0x0160 - 96);
    engine.DecodeObjectValueRow(body.data(), 0x0260 - 96);
  }
  EXPECT_EQ(a->m_strText, "found 256 further");
  EXPECT_EQ(b->m_strText, "found 256 back");

  // Rows of catalog tables carry the versioning bit; ghosts are deleted rows.
  ValueRow versioned = Text(1003, "versioned");
  versioned.statusA = 0x70;
  Decode(versioned);
  EXPECT_EQ(c->m_strText, "versioned");
  ValueRow ghost = Text(1004, "deleted");
  ghost.statusA = 0x3C;
  Decode(ghost);
  EXPECT_TRUE(d->m_strText.IsEmpty());
  engine.m_bRecoverDeleted = 1;
  Decode(ghost);
  EXPECT_EQ(d->m_strText, "deleted");
  engine.m_bRecoverDeleted = 0;
  ValueRow fixedOnly = Text(1005, "no variable part");
  fixedOnly.statusA = 0x10;
  Decode(fixedOnly);
  EXPECT_TRUE(e->m_strText.IsEmpty());
}

// Texts are UTF-16: characters, not bytes, become 8-bit text, and what 8 bits cannot hold
// becomes "?".
TEST_F(ObjectTextTest, Utf16TextsComeOutAsUtf8) {
  const struct {
    Bytes stored;
    const char* text;
  } cases[] = {
      {sp::Utf16("abc"), "abc"},
      {sp::Ascii("abc"), "abc"},    // already 8-bit
      {sp::Ascii("abcd"), "abcd"},  // even length, still 8-bit: no zero high byte
      {{'c', 0, 'a', 0, 'f', 0, 0xE9, 0x00}, "caf\xC3\xA9"},
      {{'(', 0, 0x16, 0x04, ')', 0}, "(\xD0\x96)"},                   // U+0416
      {{'N', 0, 0x3D, 0xD8, 0x00, 0xDE, '\'', 0}, "N\xF0\x9F\x98\x80'"},  // outside the BMP
      {{'a', 0, 0x00, 0x4E, 'b', 0}, "a\xE4\xB8\x80" "b"},          // U+4E00: its low byte is 0
      {{'a', 0, 0, 0, 'b', 0}, "ab"},                                 // zero units left out
      {{'c', 'a', 'f', 0xE9}, "caf\xC3\xA9"},                          // 8-bit text, read as 1252
  };
  int id = 1001;
  for (const auto& c : cases) {
    CViewStoredProc* v = Add(engine.m_mapViews, id, "v");
    ValueRow row;
    row.objectId = id++;
    row.text = c.stored;
    Decode(row);
    EXPECT_EQ(v->m_strText, c.text);
  }
}

TEST_F(ObjectTextTest, OffRowTextsAreReadThroughTheirPointer) {
  TempDir dir;
  sp::PageFile file;
  const DWORD stamp = 0x01200000;
  const std::string first = "CREATE VIEW [big] AS SELECT ";
  const std::string second = "1 AS [one]";
  file.At(20, kPageTextMix).Add(sp::LobData(stamp, sp::Utf16(first)));
  file.At(21, kPageTextMix).Add(sp::LobData(stamp, sp::Utf16(second)));
  file.At(22, kPageTextMix).Add(sp::LobData(stamp, sp::Utf16("JUNK")));
  file.At(23, kPageTextMix).Add(sp::LobSmall(stamp, sp::Utf16("CREATE RULE [small] AS @v > 0")));
  sp::UsePlainFile(engine, file.Write(dir));

  const DWORD end1 = DWORD(2 * first.size()), end2 = DWORD(2 * (first.size() + second.size()));
  CViewStoredProc* big = Add(engine.m_mapViews, 1001, "big");
  ValueRow root = Text(1001, "");
  root.offRow = true;
  root.text = sp::InlineRoot(stamp, {{end1, 20, 0}, {end2, 21, 0}});
  // Bytes that follow the pointer look like a third entry; the pointer's length ends it.
  Bytes row = root.Build();
  const Bytes junk = sp::InlineRoot(stamp, {{end2 + 8, 22, 0}});
  row.insert(row.end(), junk.begin() + 12, junk.end());
  catalogrows::Decode(engine, &CSQLServer2008::DecodeObjectValueRow, row);
  EXPECT_EQ(big->m_strText.str(), first + second);

  CViewStoredProc* small = Add(engine.m_mapRules, 1002, "small");
  ValueRow pointer = Text(1002, "");
  pointer.offRow = true;
  pointer.text = sp::TextPointer(stamp, 23, 0);
  Decode(pointer);
  EXPECT_EQ(small->m_strText, "CREATE RULE [small] AS @v > 0");

  // Pieces that cannot be read leave what was read before them.
  CViewStoredProc* partial = Add(engine.m_mapStoredProcs, 1003, "partial");
  ValueRow broken = Text(1003, "");
  broken.offRow = true;
  broken.text = sp::InlineRoot(stamp, {{end1, 20, 0}, {end2, 9000, 0}});
  Decode(broken);
  EXPECT_EQ(partial->m_strText.str(), first);

  // Bytes that are no pointer of either form: the row gives no text.
  CViewStoredProc* none = Add(engine.m_mapFunctions, 1004, "none");
  ValueRow garbage = Text(1004, "");
  garbage.offRow = true;
  garbage.text = Bytes(20, 0x04);
  Decode(garbage);
  EXPECT_TRUE(none->m_strText.IsEmpty());
}

// One good row, broken in one place per case: nothing is stored and nothing is read outside
// the page body.
TEST_F(ObjectTextTest, DamagedRowsAreDropped) {
  const struct {
    const char* what;
    std::function<void(Bytes&)> damage;
    WORD offset;
  } cases[] = {
      {"fixed part ends beyond 30", [](Bytes& r) { r[2] = 40; }, 0},
      {"no columns", [](Bytes& r) { r[17] = r[18] = 0; }, 0},
      {"one variable column only", [](Bytes& r) { r[20] = 1; }, 0},
      {"text ends before it starts", [](Bytes& r) { r[24] = 10; r[25] = 0; }, 0},
      {"text ends beyond the page", [](Bytes& r) { r[24] = 0xF0; r[25] = 0x1F; }, 0},
      {"record cut by the end of the body", [](Bytes&) {}, WORD(kPageBodySize - 20)},
      {"record at the end of the body", [](Bytes&) {}, WORD(kPageBodySize)},
  };
  for (const auto& c : cases) {
    CViewStoredProc* v = Add(engine.m_mapViews, 1001, "v");
    Bytes row = Text(1001, "CREATE VIEW v AS SELECT 1").Build();
    c.damage(row);
    catalogrows::Body body;
    body.Place(row, c.offset);
    engine.DecodeObjectValueRow(body.data(), c.offset);
    EXPECT_TRUE(v->m_strText.IsEmpty()) << c.what << ": " << v->m_strText.str();
    engine.m_mapViews.RemoveKey("1001");
    delete v;
  }
}

namespace {

// The view and procedure batches of the public Northwind script, by object name, with their
// white space collapsed.
std::string Collapse(const std::string& text) {
  std::string out;
  bool space = false;
  for (unsigned char ch : text) {
    if (std::isspace(ch)) {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += char(ch);
  }
  return out;
}

std::string Lower(std::string s) {
  for (char& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

std::map<std::string, std::string> NorthwindDefinitions(const std::string& path) {
  const std::string raw = testsupport::ReadFile(path);
  std::string script;
  for (size_t i = (raw.size() >= 2 && BYTE(raw[0]) == 0xFF && BYTE(raw[1]) == 0xFE) ? 2 : 0; i + 1 < raw.size(); i += 2)
    script += raw[i + 1] == 0 ? raw[i] : '?';
  std::map<std::string, std::string> out;
  std::istringstream lines(script);
  std::string line, batch;
  auto finish = [&] {
    const std::string lower = Lower(batch);
    for (const char* kind : {"create view ", "create procedure "}) {
      const size_t at = lower.find(kind);
      if (at == std::string::npos) continue;
      size_t n = at + std::string(kind).size();
      std::string name;
      if (batch[n] == '"') name = batch.substr(n + 1, batch.find('"', n + 1) - n - 1);
      else
        while (n < batch.size() && (std::isalnum(static_cast<unsigned char>(batch[n])) || batch[n] == '_'))
          name += batch[n++];
      out[name] = Collapse(batch.substr(at));
    }
    batch.clear();
  };
  while (std::getline(lines, line)) {
    if (Lower(Collapse(line)) == "go") finish();
    else batch += line + "\n";
  }
  finish();
  return out;
}

}  // namespace

// The 16 views and 7 procedures of the install script, texts equal after white space is
// collapsed: in-row and off-row texts, 2005 to 2008 R2, and the backup whose text pages sit
// away from their page ids.
TEST(ObjectTextFixtures, NorthwindViewsAndProceduresMatchTheInstallScript) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  const std::string oracle = testsupport::FixturePath("oracle/instnwnd.sql");
  ASSERT_FALSE(oracle.empty());
  const auto definitions = NorthwindDefinitions(oracle);
  ASSERT_EQ(definitions.size(), 23u);
  for (const char* file : {"bak2005_northwind_gabrujo.bak", "bak2005_northwnd_mina.bak", "bak2008_northwind_thuyluv.bak",
                           "bak2008r2_northwind_victor.bak", "mdf2008r2_northwnd_upg2000.mdf",
                           "mdf2008_northwnd_itsligo.mdf"}) {
    const std::string path = testsupport::FixturePath(file);
    ASSERT_FALSE(path.empty()) << file;
    ModuleFolderScope scope;
    CSQLServer2008 engine;
    ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished) << file;
    std::map<std::string, std::string> found;
    for (auto* map : {&engine.m_mapViews, &engine.m_mapStoredProcs})
      for (const auto& e : *map) found[e.second->m_strName.c_str()] = e.second->m_strText.c_str();
    // This data file's owner ran the script through a debugger, which put a comment first.
    const bool commented = std::string(file) == "mdf2008_northwnd_itsligo.mdf";
    for (const auto& [name, text] : definitions) {
      auto it = found.find(name);
      ASSERT_NE(it, found.end()) << file << ": " << name;
      const std::string got = Collapse(it->second);
      if (commented) {
        EXPECT_NE(Lower(got).find(Lower(text)), std::string::npos) << file << ": " << name;
      } else {
        EXPECT_EQ(Lower(got), Lower(text)) << file << ": " << name;
        EXPECT_TRUE(Lower(got).rfind("create view ", 0) == 0 || Lower(got).rfind("create procedure ", 0) == 0)
            << file << ": " << name;
      }
    }
  }
}
