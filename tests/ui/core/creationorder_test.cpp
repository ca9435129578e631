#include "ui/core/creationorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Objects {
  std::vector<std::unique_ptr<CViewStoredProc>> owned;
  CStringKeyMap<CViewStoredProc*> map, functions;
  CViewStoredProc* Add(int id, const char* name, const char* text) { return AddTo(map, id, name, text); }
  CViewStoredProc* AddTo(CStringKeyMap<CViewStoredProc*>& into, int id, const char* name, const char* text) {
    owned.push_back(std::make_unique<CViewStoredProc>());
    owned.back()->m_strName = name;
    owned.back()->m_strText = text;
    into.SetAt(std::to_string(id), owned.back().get());
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

// Views and functions go in one order: the ids of both maps rank them, and a use counts
// whichever kind the used object is. Each step also says what it uses and, for an object a
// cycle put first, what it uses that comes after it ("a<b": a goes before b, which it uses).
TEST(CreationOrder, ViewsAndFunctionsInOneOrderAcrossTheirKinds) {
  const struct {
    const char* what;
    // In object-id order: a view ("v...") or a function ("f..."), and its text.
    std::vector<std::pair<const char*, const char*>> objects;
    const char* order;
    const char* early;
  } cases[] = {
      {"a view that calls a function of a higher id",
       {{"vTotals", "create view vTotals as select dbo.fTax(Freight) t from Orders"},
        {"fTax", "create function fTax(@x money) returns money as begin return @x * 2 end"}},
       "fTax,vTotals", ""},
      {"a function that selects from a view of a higher id",
       {{"fRecent", "create function fRecent() returns table as return (select * from [dbo].[vOrders])"},
        {"vOrders", "create view vOrders as select * from Orders"}},
       "vOrders,fRecent", ""},
      {"both ways without a cycle: interleaved",
       {{"fOf", "create function fOf() returns table as return select * from vBase"},
        {"vTop", "create view vTop as select * from dbo.fOf()"},
        {"vBase", "create view vBase as select 1 x"}},
       "vBase,fOf,vTop", ""},
      {"a name in a string literal or a comment is no use",
       {{"vNote", "create view vNote as select 'fLater' x -- fLater()\n/* select dbo.fLater() */"},
        {"fLater", "create function fLater() returns int as begin return 1 end"}},
       "vNote,fLater", ""},
      {"a cycle across the kinds: object-id order, the first before what it uses",
       {{"vLoop", "create view vLoop as select dbo.fLoop() x"},
        {"fLoop", "create function fLoop() returns int as begin return (select count(*) from vLoop) end"}},
       "vLoop,fLoop", "vLoop<fLoop"},
  };
  for (const auto& c : cases) {
    Objects o;
    std::vector<CViewStoredProc*> given;
    int id = 100;
    for (const auto& [name, text] : c.objects) given.push_back(o.AddTo(name[0] == 'v' ? o.map : o.functions, id++, name, text));
    // Functions listed first, as if selected in another order: the ids decide.
    std::vector<CViewStoredProc*> reversed(given.rbegin(), given.rend());
    for (const auto* list : {&given, &reversed}) {
      const std::vector<uicore::CreationStep> steps = uicore::CreationSteps(*list, {&o.map, &o.functions});
      std::vector<CViewStoredProc*> order;
      std::string early;
      for (const uicore::CreationStep& step : steps) {
        order.push_back(step.object);
        for (const CViewStoredProc* later : step.usesLater)
          early += (early.empty() ? "" : ",") + step.object->m_strName.str() + "<" + later->m_strName.str();
        // Every use found is among the objects ordered, and not the object itself.
        for (const CViewStoredProc* used : step.uses) {
          EXPECT_NE(used, step.object) << c.what;
          EXPECT_NE(std::find(given.begin(), given.end(), used), given.end()) << c.what;
        }
      }
      EXPECT_EQ(Names(order), c.order) << c.what;
      EXPECT_EQ(early, c.early) << c.what;
    }
  }
  // What a step uses, named: the view of the interleaved case uses the function only.
  Objects o;
  CViewStoredProc* f = o.AddTo(o.functions, 1, "f", "create function f() returns table as return select * from b");
  CViewStoredProc* v = o.AddTo(o.map, 2, "v", "create view v as select * from f()");
  CViewStoredProc* b = o.AddTo(o.map, 3, "b", "create view b as select 1 x");
  const std::vector<uicore::CreationStep> steps = uicore::CreationSteps({v, b, f}, {&o.map, &o.functions});
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[1].object, f);
  EXPECT_EQ(steps[1].uses, std::vector<CViewStoredProc*>{b});
  EXPECT_EQ(steps[2].uses, std::vector<CViewStoredProc*>{f});
  EXPECT_TRUE(steps[0].uses.empty());
}
