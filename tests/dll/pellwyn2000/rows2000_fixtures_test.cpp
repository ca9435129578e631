// Every row of the real SQL Server 2000 sample databases, decoded from their pages, against
// the public install scripts, value by value and by primary key. The tables' layouts come
// from the scripts' CREATE TABLE statements; each table's pages are found by the object id in
// their headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "rows2000_oracle.h"

using namespace rows2000;
using namespace rowsoracle;

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
            "10248$#$VINET$#$5$#$1996-07-04 00:00:00$#$1996-08-01 00:00:00$#$1996-07-16 00:00:00$#$3$#$"
            "32.3800$#$Vins et alcools Chevalier$#$59 rue de l'Abbaye$#$Reims$#$NULL$#$51100$#$"
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
  // HomePage that are not NULL; and the two pr_info texts of pubs longer than 8000 bytes.
  EXPECT_EQ(blocks, 9 + 8 + 5 + 2);
  EXPECT_EQ(identities, 830 + 77 + 8 + 9 + 29 + 3 + 14);
}

