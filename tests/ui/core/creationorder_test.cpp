#include "ui/core/creationorder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct Objects {
  std::vector<std::unique_ptr<CViewStoredProc>> owned;
  CStringKeyMap<CViewStoredProc*> map;
  CViewStoredProc* Add(int id, const char* name, const char* text) {
    owned.push_back(std::make_unique<CViewStoredProc>());
    owned.back()->m_strName = name;
    owned.back()->m_strText = text;
    map.SetAt(std::to_string(id), owned.back().get());
    return owned.back().get();
  }
};

std::string Names(const std::vector<CViewStoredProc*>& objects) {
  std::string out;
  for (const CViewStoredProc* o : objects) out += (out.empty() ? "" : ",") + o->m_strName.str();
  return out;
}

}  // namespace

TEST(CreationOrder, EachObjectAfterTheOnesItsTextUses) {
  const struct {
    const char* what;
    std::vector<std::pair<const char*, const char*>> objects;  // in object-id order: name, text
    const char* order;
  } cases[] = {
      {"no uses: object-id order",
       {{"b", "create view b as select 1 x"}, {"a", "create view a as select 2 x"}}, "b,a"},
      {"a quoted name with blanks, used by an object of lower id",
       {{"Category Sales", "create view \"Category Sales\" as select * from \"Product Sales\""},
        {"Product Sales", "create view \"Product Sales\" as select * from dbo.[Order Details]"}},
       "Product Sales,Category Sales"},
      {"bracketed, any case, schema-qualified; chains go deep",
       {{"v3", "create view v3 as select * from [dbo].[V2]"}, {"v2", "create view v2 as select * from V1"},
        {"v1", "create view v1 as select 1 x"}},
       "v1,v2,v3"},
      {"literals and comments use nothing; a longer word is another name",
       {{"p1", "create proc p1 as select 'p2' -- p2\n/* exec p2 */ exec p2x"}, {"p2", "create proc p2 as select 1"}},
       "p1,p2"},
      {"a cycle goes in object-id order, after what it uses",
       {{"c1", "create view c1 as select * from c2, base"}, {"c2", "create view c2 as select * from c1"},
        {"base", "create view base as select 1 x"}},
       "base,c1,c2"},
  };
  for (const auto& c : cases) {
    Objects o;
    std::vector<CViewStoredProc*> given;
    int id = 100;
    for (const auto& [name, text] : c.objects) given.push_back(o.Add(id++, name, text));
    // The order the caller lists them in does not matter.
    std::vector<CViewStoredProc*> reversed(given.rbegin(), given.rend());
    EXPECT_EQ(Names(uicore::CreationOrder(given, o.map)), c.order) << c.what;
    EXPECT_EQ(Names(uicore::CreationOrder(reversed, o.map)), c.order) << c.what;
  }
}

TEST(CreationOrder, ObjectsOutsideTheMapRankLastInTheirGivenOrder) {
  Objects o;
  CViewStoredProc* listed = o.Add(5, "listed", "create view listed as select * from stray");
  CViewStoredProc stray;
  stray.m_strName = "stray";
  stray.m_strText = "create view stray as select 1 x";
  // The stray one is still created before the view that uses it.
  EXPECT_EQ(Names(uicore::CreationOrder({listed, &stray, nullptr}, o.map)), "stray,listed");
  CViewStoredProc other;
  other.m_strName = "other";
  // Ready before the listed one, which waits for the stray one.
  EXPECT_EQ(Names(uicore::CreationOrder({&other, listed, &stray}, o.map)), "other,stray,listed");
}
