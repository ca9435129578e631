// The 2000 scan-file forms of the catalog records: byte-exact golden forms, round trips, and
// damaged input that fails cleanly.
#include <gtest/gtest.h>

#include <string>

#include "common/records.h"
#include "dll/pellwyn2000/records2000.h"
#include "platform/archive.h"
#include "support/fixtures.h"

namespace {

// Little-endian pieces of a golden form.
struct Golden {
  std::string bytes;
  Golden& B(int v) { bytes += char(BYTE(v)); return *this; }
  Golden& W(int v) { return B(v).B(v >> 8); }
  Golden& D(long long v) { return W(int(v)).W(int(v >> 16)); }
  Golden& S(const std::string& s) { B(int(s.size())); bytes += s; return *this; }
};

template <class Write>
std::string Store(Write write) {
  testsupport::TempDir dir;
  const std::string path = dir.file("a");
  CArchive ar;
  EXPECT_TRUE(ar.Open(path.c_str(), CArchive::store));
  write(ar);
  ar.Close();
  return testsupport::ReadFile(path);
}

template <class Read>
void LoadBytes(const std::string& bytes, Read read) {
  testsupport::TempDir dir;
  const std::string path = dir.file("a");
  testsupport::WriteFile(path, bytes);
  CArchive ar;
  ASSERT_TRUE(ar.Open(path.c_str(), CArchive::load));
  read(ar);
}

CTable* SampleTable() {
  auto* t = new CTable();
  t->m_strName = "T";
  t->m_strOwner = "dbo";
  t->m_dwValue6 = 300;
  t->m_dwObjectId = 300;
  t->m_nCatalogColumns = 2;
  t->m_nAllColumns = 2;
  t->m_nVarColumns = 1;
  t->m_wVarColumnCap = 1;
  t->m_bHasIdentity = true;
  auto* id = new CColumn();
  id->m_strName = "id";
  id->m_strType = id->m_strUserType = "int";
  id->m_wColOrder = 1;
  id->m_dwIdentitySeed = 100;
  id->m_dwIdentityIncrement = 5;
  id->m_nOffset = 4;
  id->m_nColumnId = 1;
  id->m_wLength = 4;
  id->m_bPrecision = 10;
  id->m_bIdentity = true;
  t->AppendColumn(id);
  auto* n = new CColumn();
  n->m_strName = "n";
  n->m_strType = n->m_strUserType = "varchar";
  n->m_wColOrder = 2;
  n->m_nOffset = -1;
  n->m_nColumnId = 2;
  n->m_wLength = 20;
  n->m_bNullable = true;
  t->AppendColumn(n);
  auto* v = new CVarColumn();
  v->m_strName = "n";
  v->m_strType = "varchar";
  v->m_wColOrder = 2;
  v->m_wLength = 20;
  v->m_nVarIndex = -1;
  t->AppendVarColumn(v);
  auto* pk = new CIndexInfo();
  pk->m_dwId = 1;
  pk->m_bPrimaryKey = pk->m_bClustered = pk->m_bUnique = 1;
  pk->m_bFlag9 = 7;  // any non-zero flag is archived as 1
  pk->m_bFlag11 = 1;  // not archived
  pk->m_strName = "PK_T";
  pk->m_vecColumns = {1};
  t->SetIndex("1", pk);
  auto* fk = new CForeignKey();
  fk->m_dwConstraintId = 500;
  fk->m_dwTableId = 300;
  fk->m_dwRefTableId = 400;
  fk->m_vecKeyColumns = {3, 4};
  fk->m_vecRefColumns = {1, 2};
  t->AppendForeignKey(fk);
  t->AppendForeignKey(new CForeignKey());  // n = 0: the three ids and the WORD 0
  t->m_mapVarTypes.SetAt("-1", "varchar");
  t->m_vecDataPages = {5, 9};
  return t;
}

Golden SampleTableForm() {
  Golden g;
  g.S("T").S("").S("").S("").S("dbo").D(300).D(300);
  g.D(2).D(0).D(2).D(1).D(0).S("").W(1).D(1).D(0).D(0);
  g.D(2);
  g.S("id").S("int").S("int").S("").S("").W(1).D(100).D(5).W(4).D(1).W(4).B(10).B(0).B(0).D(0).D(0).D(0).D(1);
  g.S("n").S("varchar").S("varchar").S("").S("").W(2).D(0).D(0).W(0xFFFF).D(2).W(20).B(0).B(0).B(0).D(0).D(0).D(1).D(0);
  g.D(1).S("n").S("").S("varchar").W(2).W(20).D(0).D(0).W(0xFFFF);
  g.D(1).S("1").D(1).D(0).D(1).D(1).D(0).D(1).D(0).D(0).D(0).D(1).D(0).D(0).S("PK_T").S("").D(1).D(1);
  g.D(2).D(500).D(300).D(400).W(2).W(3).W(4).W(1).W(2).D(0).D(0).D(0).W(0);
  g.D(1).S("-1").S("varchar");
  g.D(0);
  g.D(2).D(5).D(9);
  return g;
}

}  // namespace

TEST(Records2000, GoldenForms) {
  CDataType type;
  type.m_strName = "empid";
  type.m_wLength = 9;
  type.m_bSystemTypeId = 175;
  type.m_dwValue1 = 0x12345678;
  type.m_dwValue2 = 2;
  type.m_dwValue3 = 99;  // not in the 2000 form
  EXPECT_EQ(Store([&](CArchive& ar) { archive2000::Save(ar, type); }),
            Golden().S("empid").W(9).B(175).B(0).B(0).D(0x12345678).D(2).bytes);

  std::unique_ptr<CTable> table(SampleTable());
  EXPECT_EQ(Store([&](CArchive& ar) { archive2000::Save(ar, *table); }), SampleTableForm().bytes);
}

TEST(Records2000, TableRoundTripKeepsOrderKeysAndPairs) {
  std::unique_ptr<CTable> original(SampleTable());
  const std::string bytes = Store([&](CArchive& ar) { archive2000::Save(ar, *original); });
  CTable loaded;
  LoadBytes(bytes, [&](CArchive& ar) { archive2000::Load(ar, loaded); });
  EXPECT_EQ(Store([&](CArchive& ar) { archive2000::Save(ar, loaded); }), bytes);
  ASSERT_NE(loaded.m_pColumnHead, nullptr);
  EXPECT_EQ(loaded.m_pColumnHead->m_strName, "id");
  EXPECT_EQ(loaded.m_pColumnHead->m_nIdentitySeed64, 100);
  EXPECT_EQ(loaded.m_pColumnTail->m_strName, "n");
  const CIndexInfo* pk = *loaded.m_mapTableIndexes.Find("1");
  EXPECT_EQ(pk->m_vecColumns, std::vector<int>{1});
  EXPECT_EQ(pk->m_bFlag9, 1);
  EXPECT_EQ(pk->m_bFlag11, 0);
  EXPECT_TRUE(loaded.m_bHasIndexes);
  ASSERT_NE(loaded.m_pForeignKeyHead, nullptr);
  EXPECT_EQ(loaded.m_pForeignKeyHead->m_vecRefColumns, (std::vector<WORD>{1, 2}));
  ASSERT_NE(loaded.m_pForeignKeyHead->m_pNext, nullptr);
  EXPECT_EQ(loaded.m_pForeignKeyHead->m_pNext->Count(), 0);
  EXPECT_EQ(loaded.m_vecDataPages, (std::vector<DWORD>{5, 9}));
}

TEST(Records2000, CutOrInflatedTablesFailWithTheArchiveException) {
  const std::string bytes = SampleTableForm().bytes;
  // Cut at every length: one clean exception, nothing leaked (the sanitizer build checks).
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    CTable t;
    LoadBytes(bytes.substr(0, cut), [&](CArchive& ar) { EXPECT_THROW(archive2000::Load(ar, t), CArchiveException); });
  }
  // A huge foreign-key pair count is refused before anything is allocated for it.
  Golden g;
  g.S("T").S("").S("").S("").S("").D(1).D(1).D(0).D(0).D(0).D(0).D(0).S("").W(0).D(0).D(0).D(0);
  g.D(0).D(0).D(0).D(1).D(1).D(1).D(1).W(0xFFFF);
  CTable t;
  LoadBytes(g.bytes, [&](CArchive& ar) { EXPECT_THROW(archive2000::Load(ar, t), CArchiveException); });
}
