#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "common/records.h"
#include "platform/archive.h"
#include "support/fixtures.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

template <class R>
std::string Saved(const R& record) {
  TempDir dir;
  CArchive ar;
  EXPECT_TRUE(ar.Open(dir.file("r.bin").c_str(), CArchive::store));
  record.Save(ar);
  ar.Close();
  return ReadFile(dir.file("r.bin"));
}

// Loads bytes into record; true when the whole input was consumed without an exception.
template <class R>
bool Loaded(const std::string& bytes, R& record, int* cause = nullptr) {
  TempDir dir;
  WriteFile(dir.file("r.bin"), bytes);
  CArchive ar;
  EXPECT_TRUE(ar.Open(dir.file("r.bin").c_str(), CArchive::load));
  try {
    record.Load(ar);
  } catch (const CArchiveException& e) {
    if (cause) *cause = e.m_cause;
    return false;
  }
  return ar.BytesLeft() == 0;
}

// Little-endian byte builder for the expected archive forms.
struct Bytes {
  std::string s;
  Bytes& b(unsigned v) { s += char(v & 0xFF); return *this; }
  Bytes& w(unsigned v) { return b(v).b(v >> 8); }
  Bytes& d(unsigned v) { return w(v & 0xFFFF).w(v >> 16); }
  Bytes& str(const std::string& t) {  // texts below 255 bytes only
    b(unsigned(t.size()));
    s += t;
    return *this;
  }
};

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

CColumn* MakeColumn(const char* name, int id) {
  auto* c = new CColumn;
  c->m_strName = name;
  c->m_strType = "int";
  c->m_nColumnId = id;
  c->m_wColOrder = WORD(id);
  c->m_wLength = 4;
  return c;
}

// A table with something in every archived section.
void Populate(CTable& t) {
  t.m_strName = "Orders";
  t.m_strText2 = "t2";
  t.m_strOwner = "dbo";
  t.m_dwValue6 = 6;
  t.m_dwObjectId = 0x01020304;
  t.m_nCatalogColumns = 3;
  t.m_nVarColumns = 2;
  t.m_nAllColumns = 4;
  t.m_nBitColumns = 1;
  t.m_nExtraColumn = 1;
  t.m_nMaxColumnId = 9;
  t.m_nValue14 = -14;
  t.m_strText15 = "t15";
  t.m_wVarColumnCap = 0x0102;
  t.m_bHasIdentity = true;
  t.m_bHasBlob = true;
  // Column ids deliberately out of order: the list order is what must survive.
  t.AppendColumn(MakeColumn("c", 9));
  t.AppendColumn(MakeColumn("a", 1));
  t.AppendColumn(MakeColumn("b", 4));
  for (auto [name, index] : {std::pair{"vz", -1}, std::pair{"va", -2}}) {
    auto* v = new CVarColumn;
    v->m_strName = name;
    v->m_strType = "varchar";
    v->m_nVarIndex = short(index);
    t.AppendVarColumn(v);
  }
  t.m_mapComputed.SetAt("4", "([a]+(1))");
  t.m_mapComputed.SetAt("9", "(getdate())");
  auto* index = new CIndexInfo;
  index->m_dwId = 1;
  index->m_bPrimaryKey = 1;
  index->m_strName = "PK_Orders";
  index->m_vecColumns = {9, 1};
  t.SetIndex("1", index);
  t.m_mapVarTypes.SetAt("-1", "varchar");
  t.m_vecExtentPages = {8, -16};
  t.m_vecDataPages = {0xFFFFFFF0u, 120, 121};
  t.m_dwRowsetValue = 31;
  t.m_dwFirstIamPage = 32;
  t.m_wFirstIamFile = 33;
}

}  // namespace

TEST(Records, EmptyArchiveSizes) {
  EXPECT_EQ(Saved(CDataType()).size(), 18u);
  EXPECT_EQ(Saved(CColumn()).size(), 60u);
  EXPECT_EQ(Saved(CVarColumn()).size(), 21u);
  EXPECT_EQ(Saved(CIndexInfo()).size(), 50u);
  EXPECT_EQ(Saved(CViewStoredProc()).size(), 6u);
  EXPECT_EQ(Saved(CTable()).size(), 94u);
  EXPECT_EQ(CTable::kMinArchiveBytes, 94u);
  EXPECT_EQ(CColumn::kMinArchiveBytes, 60u);

  // Every list, map and array of an empty table is the int 0, and loads back empty.
  std::string empty = Saved(CTable());
  EXPECT_EQ(Hex(empty.substr(56, 28)), std::string(56, '0'));
  CTable back;
  ASSERT_TRUE(Loaded(empty, back));
  EXPECT_EQ(back.m_pColumnHead, nullptr);
  EXPECT_EQ(back.m_pVarHead, nullptr);
  EXPECT_TRUE(back.m_mapTableIndexes.IsEmpty());
  EXPECT_TRUE(back.m_vecDataPages.empty());
}

TEST(Records, DataTypeGoldenBytes) {
  CDataType t;
  t.m_bSystemTypeId = 0xA7;
  t.m_wLength = 0x32;
  t.m_bPrecision = 3;
  t.m_bScale = 4;
  t.m_dwValue1 = 0x11111111;
  t.m_dwValue2 = 0x22222222;
  t.m_dwValue3 = 0x33333333;
  t.m_dwValue4 = 0x44444444;
  t.m_strName = "ut";
  // Name first, then length before the type id; the fourth value is not written.
  std::string bytes = Saved(t);
  EXPECT_EQ(Hex(bytes), "027574" "3200" "a7" "03" "04" "11111111" "22222222" "33333333");

  CDataType back;
  back.m_dwValue4 = 99;
  ASSERT_TRUE(Loaded(bytes, back));
  EXPECT_EQ(back.m_bSystemTypeId, 0xA7);
  EXPECT_EQ(back.m_wLength, 0x32);
  EXPECT_EQ(back.m_bPrecision, 3);
  EXPECT_EQ(back.m_bScale, 4);
  EXPECT_EQ(back.m_dwValue3, 0x33333333u);
  EXPECT_EQ(back.m_dwValue4, 0u);
  EXPECT_EQ(back.m_strName, "ut");
}

TEST(Records, ColumnGoldenBytes) {
  CColumn c;
  c.m_strName = "id";
  c.m_strType = "int";
  c.m_strDefault = "(0)";
  c.m_wColOrder = 1;
  c.m_wSpare = 0x0909;
  c.m_dwRowsetColumn = 2;
  c.m_dwIdentitySeed = 1;
  c.m_dwIdentityIncrement = 0xFFFFFFFF;
  c.m_nOffset = -1;
  c.m_nColumnId = 5;
  c.m_wLength = 4;
  c.m_bPrecision = 10;
  c.m_bBitPosition = 3;
  c.m_bDropped = 2;  // an int field: its value survives as it is
  c.m_nValue19 = 7;
  c.m_nValue20 = -3;
  c.m_bNullable = true;
  c.m_bIdentity = true;
  c.m_pNext = &c;  // the link is not stored
  std::string bytes = Saved(c);
  EXPECT_EQ(Hex(bytes), "026964" "03696e74" "00" "03283029" "00" "0100" "0909" "02000000" "01000000" "ffffffff"
                        "ffff" "05000000" "0400" "0a" "00" "03" "02000000" "00000000" "07000000" "fdffffff"
                        "01000000" "00000000" "01000000");
  CColumn back;
  ASSERT_TRUE(Loaded(bytes, back));
  EXPECT_EQ(back.m_strDefault, "(0)");
  EXPECT_EQ(back.m_nOffset, -1);
  EXPECT_EQ(back.m_bDropped, 2);
  EXPECT_EQ(back.m_nValue20, -3);
  EXPECT_TRUE(back.m_bNullable);
  EXPECT_FALSE(back.m_bCatalogOffset);
  EXPECT_TRUE(back.m_bIdentity);
  EXPECT_EQ(back.m_nIdentitySeed64, 1);
  EXPECT_EQ(back.m_nIdentityIncrement64, -1);
  EXPECT_EQ(back.m_pNext, nullptr);
}

TEST(Records, VarColumnAndObjectTextGoldenBytes) {
  CVarColumn v;
  v.m_strName = "v";
  v.m_strDefault = "d";
  v.m_strType = "varchar";
  v.m_wColOrder = 2;
  v.m_wLength = 50;
  v.m_dwRowsetColumn = 7;
  v.m_bDeleted = 1;
  v.m_nValue8 = -1;
  v.m_nVarIndex = -2;
  std::string bytes = Saved(v);
  EXPECT_EQ(Hex(bytes), "0176" "0164" "07" + Hex("varchar") + "0200" "3200" "07000000" "01000000" "ffffffff" "feff");
  CVarColumn vb;
  ASSERT_TRUE(Loaded(bytes, vb));
  EXPECT_EQ(vb.m_strType, "varchar");
  EXPECT_EQ(vb.m_nValue8, -1);
  EXPECT_EQ(vb.m_nVarIndex, -2);

  CViewStoredProc p;
  p.m_strName = "vw";
  p.m_wValue1 = 0x0102;
  p.m_wValue2 = 0x0304;
  p.m_strText = "select 1";
  bytes = Saved(p);
  EXPECT_EQ(Hex(bytes), "027677" "0201" "0403" "08" + Hex("select 1"));
  CViewStoredProc pb;
  ASSERT_TRUE(Loaded(bytes, pb));
  EXPECT_EQ(pb.m_wValue2, 0x0304);
  EXPECT_EQ(pb.m_strText, "select 1");
}

TEST(Records, IndexGoldenBytesAndFlags) {
  CIndexInfo x;
  x.m_dwId = 0x01020304;
  x.m_bConstraint = 1;
  x.m_bPrimaryKey = 2;  // a flag byte holding 2 is written as the int 1
  x.m_bNonClustered = 1;
  x.m_bFlag9 = 0xFF;
  x.m_nValue = -1;
  x.m_strName = "PK";
  x.m_vecColumns = {1, 3};
  std::string bytes = Saved(x);
  EXPECT_EQ(Hex(bytes), "04030201" "01000000" "01000000" "00000000" "01000000" "00000000" "00000000" "00000000"
                        "00000000" "01000000" "ffffffff" "02504b" "00" "02000000" "01000000" "03000000");
  CIndexInfo back;
  back.m_vecColumns = {77};  // load appends
  ASSERT_TRUE(Loaded(bytes, back));
  EXPECT_EQ(back.m_bPrimaryKey, 1);
  EXPECT_EQ(back.m_bFlag9, 1);
  EXPECT_EQ(back.m_bClustered, 0);
  EXPECT_EQ(back.m_vecColumns, (std::vector<int>{77, 1, 3}));
  EXPECT_EQ(back.m_vecDescending.size(), back.m_vecColumns.size());

  // Any non-zero int reads as set, also one whose low byte is 0.
  std::string odd = bytes;
  odd.replace(12, 4, std::string("\x00\x01\x00\x00", 4));  // clustered
  CIndexInfo oddBack;
  ASSERT_TRUE(Loaded(odd, oddBack));
  EXPECT_EQ(oddBack.m_bClustered, 1);
}

TEST(Records, TableGoldenBytes) {
  CTable t;
  Populate(t);
  t.m_nValue16 = 16;        // not archived
  t.m_strRowText = "rows";  // not archived
  t.m_vecValue30 = {30};    // not archived
  t.m_strText34 = "t34";    // not archived
  t.m_nRowsExported = 36;   // not archived

  Bytes want;
  want.str("Orders").str("t2").str("").str("").str("dbo").d(6).d(0x01020304);
  want.d(3).d(2).d(4).d(1).d(1).d(9).d(unsigned(-14)).str("t15").w(0x0102).d(1).d(0).d(1);
  want.d(3);
  for (auto [name, id] : {std::pair{"c", 9}, std::pair{"a", 1}, std::pair{"b", 4}}) {
    want.str(name).str("int").str("").str("").str("").w(unsigned(id)).w(0).d(0).d(0).d(0).w(0).d(unsigned(id));
    want.w(4).b(0).b(0).b(0).d(0).d(0).d(0).d(0).d(0).d(0).d(0);
  }
  want.d(2);
  for (auto [name, index] : {std::pair{"vz", -1}, std::pair{"va", -2}}) {
    want.str(name).str("").str("varchar").w(0).w(0).d(0).d(0).d(0).w(unsigned(index));
  }
  want.d(2).str("4").str("([a]+(1))").str("9").str("(getdate())");
  want.d(1).str("1").d(1).d(0).d(1).d(0).d(0).d(0).d(0).d(0).d(0).d(0).d(0).str("PK_Orders").str("").d(2).d(9).d(1);
  want.d(1).str("-1").str("varchar");
  want.d(2).d(8).d(unsigned(-16));
  want.d(3).d(0xFFFFFFF0u).d(120).d(121);
  want.d(31).d(32).w(33);
  EXPECT_EQ(Hex(Saved(t)), Hex(want.s));
}

TEST(Records, TableRoundTripKeepsOrderMapsAndPages) {
  CTable t;
  Populate(t);
  std::string bytes = Saved(t);

  CTable back;
  ASSERT_TRUE(Loaded(bytes, back));
  std::string names;
  for (CColumn* c = back.m_pColumnHead; c; c = c->m_pNext) names += c->m_strName.str();
  EXPECT_EQ(names, "cab");
  EXPECT_EQ(back.m_pColumnTail->m_strName, "b");
  names.clear();
  for (CVarColumn* v = back.m_pVarHead; v; v = v->m_pNext) names += v->m_strName.str() + ",";
  EXPECT_EQ(names, "vz,va,");
  EXPECT_EQ(back.m_pVarTail->m_nVarIndex, -2);
  CString text;
  ASSERT_TRUE(back.m_mapComputed.Lookup("9", text));
  EXPECT_EQ(text, "(getdate())");
  ASSERT_TRUE(back.m_mapVarTypes.Lookup("-1", text));
  EXPECT_EQ(text, "varchar");
  CIndexInfo* const* index = back.m_mapTableIndexes.Find("1");
  ASSERT_TRUE(index && *index);
  EXPECT_EQ((*index)->m_strName, "PK_Orders");
  EXPECT_EQ((*index)->m_vecColumns, (std::vector<int>{9, 1}));
  EXPECT_EQ(back.m_vecExtentPages, (std::vector<int>{8, -16}));
  EXPECT_EQ(back.m_vecDataPages, (std::vector<DWORD>{0xFFFFFFF0u, 120, 121}));
  EXPECT_TRUE(back.m_bHasIdentity);
  EXPECT_FALSE(back.m_bHasNtext);
  EXPECT_EQ(back.m_wFirstIamFile, 33);
  // A loaded table writes the same bytes again.
  EXPECT_EQ(Saved(back), bytes);
}

TEST(Records, TruncatedTableRaisesAtEveryLength) {
  CTable t;
  Populate(t);
  std::string bytes = Saved(t);
  // Every shorter prefix must end in the archive exception, with nothing half-linked
  // leaked (the sanitizer build checks the leaks).
  for (size_t n = 0; n < bytes.size(); ++n) {
    CTable back;
    int cause = -1;
    EXPECT_FALSE(Loaded(bytes.substr(0, n), back, &cause)) << n;
    EXPECT_EQ(cause, CArchiveException::endOfFile) << n;
  }
}

TEST(Records, HugeDeclaredLengthsFailFast) {
  CTable t;
  Populate(t);
  const std::string good = Saved(t);
  // Offset of the column count: five texts, two DWORDs, seven ints, a text, a WORD, three flags.
  const size_t columnCount = (7 + 3 + 1 + 1 + 4) + 8 + 28 + 4 + 2 + 12;
  ASSERT_EQ(good.substr(columnCount, 4), std::string("\x03\x00\x00\x00", 4));

  struct Case {
    const char* what;
    size_t at;
    std::string bytes;
  };
  const Case cases[] = {
      {"name of 4 GB", 0, std::string("\xff\xff\xff\xfe\xff\xff\xff", 7)},
      {"column count near 2^31", columnCount, std::string("\xff\xff\xff\x7f", 4)},
      // A count that fits as ints but not as column records.
      {"column count of 1000", columnCount, std::string("\xe8\x03\x00\x00", 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bad = good;
    if (c.at == 0) bad = c.bytes + good.substr(1);
    else bad.replace(c.at, c.bytes.size(), c.bytes);
    auto start = std::chrono::steady_clock::now();
    CTable back;
    int cause = -1;
    EXPECT_FALSE(Loaded(bad, back, &cause));
    EXPECT_EQ(cause, CArchiveException::endOfFile);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  }

  // A negative count is an empty list, not a failure.
  std::string negative = good;
  negative.replace(columnCount, 4, std::string("\xff\xff\xff\xff", 4));
  CTable back;
  int cause = -1;
  Loaded(negative, back, &cause);
  EXPECT_EQ(back.m_pColumnHead, nullptr);
}
