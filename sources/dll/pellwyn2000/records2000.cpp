#include "records2000.h"

#include <memory>

#include "common/records.h"
#include "platform/archive.h"

namespace archive2000 {

namespace {
constexpr size_t kStringPairMinBytes = 2;
constexpr size_t kIntBytes = 4;
}  // namespace

void Save(CArchive& ar, const CDataType& t) {
  ar << t.m_strName << t.m_wLength << t.m_bSystemTypeId << t.m_bPrecision << t.m_bScale << t.m_dwValue1
     << t.m_dwValue2;
}

void Load(CArchive& ar, CDataType& t) {
  ar >> t.m_strName >> t.m_wLength >> t.m_bSystemTypeId >> t.m_bPrecision >> t.m_bScale >> t.m_dwValue1 >>
      t.m_dwValue2;
}

void Save(CArchive& ar, const CIndexInfo& x) {
  ar << x.m_dwId;
  for (BYTE flag : {x.m_bConstraint, x.m_bPrimaryKey, x.m_bClustered, x.m_bNonClustered, x.m_bUnique, x.m_bFlag6,
                    x.m_bFlag7, x.m_bFlag8, x.m_bFlag9, x.m_bFlag10})
    ar.WriteFlag(flag != 0);
  ar << x.m_nValue << x.m_strName << x.m_strText;
  // The key columns follow, so a reopened scan still scripts its keys with their columns.
  ar.WriteCount(x.m_vecColumns.size());
  for (int id : x.m_vecColumns) ar << id;
}

void Load(CArchive& ar, CIndexInfo& x) {
  ar >> x.m_dwId;
  for (BYTE* flag : {&x.m_bConstraint, &x.m_bPrimaryKey, &x.m_bClustered, &x.m_bNonClustered, &x.m_bUnique,
                     &x.m_bFlag6, &x.m_bFlag7, &x.m_bFlag8, &x.m_bFlag9, &x.m_bFlag10})
    ar.ReadFlag(*flag);
  ar >> x.m_nValue >> x.m_strName >> x.m_strText;
  x.m_vecColumns.clear();
  const int count = ar.ReadCount(kIntBytes);
  for (int i = 0; i < count; ++i) {
    int id;
    ar >> id;
    x.m_vecColumns.push_back(id);
  }
  x.m_vecDescending.assign(x.m_vecColumns.size(), false);
}

void Save(CArchive& ar, const CColumn& c) {
  ar << c.m_strName << c.m_strType << c.m_strUserType << c.m_strDefault << c.m_strComputed;
  ar << c.m_wColOrder << c.m_dwIdentitySeed << c.m_dwIdentityIncrement << c.m_nOffset << c.m_nColumnId << c.m_wLength;
  ar << c.m_bPrecision << c.m_bScale << c.m_bBitPosition;
  ar << c.m_bDropped << c.m_nValue19;
  ar.WriteFlag(c.m_bNullable);
  ar.WriteFlag(c.m_bIdentity);
}

void Load(CArchive& ar, CColumn& c) {
  ar >> c.m_strName >> c.m_strType >> c.m_strUserType >> c.m_strDefault >> c.m_strComputed;
  ar >> c.m_wColOrder >> c.m_dwIdentitySeed >> c.m_dwIdentityIncrement >> c.m_nOffset >> c.m_nColumnId >> c.m_wLength;
  ar >> c.m_bPrecision >> c.m_bScale >> c.m_bBitPosition;
  ar >> c.m_bDropped >> c.m_nValue19;
  ar.ReadFlag(c.m_bNullable);
  ar.ReadFlag(c.m_bIdentity);
  // The file carries 32 bits of each identity value.
  c.m_nIdentitySeed64 = INT64(int(c.m_dwIdentitySeed));
  c.m_nIdentityIncrement64 = INT64(int(c.m_dwIdentityIncrement));
}

void Save(CArchive& ar, const CVarColumn& v) {
  ar << v.m_strName << v.m_strDefault << v.m_strType << v.m_wColOrder << v.m_wLength << v.m_bDeleted << v.m_nValue8
     << v.m_nVarIndex;
}

void Load(CArchive& ar, CVarColumn& v) {
  ar >> v.m_strName >> v.m_strDefault >> v.m_strType >> v.m_wColOrder >> v.m_wLength >> v.m_bDeleted >> v.m_nValue8 >>
      v.m_nVarIndex;
}

void Save(CArchive& ar, const CTable& t) {
  ar << t.m_strName << t.m_strText2 << t.m_strText3 << t.m_strText4 << t.m_strOwner;
  ar << t.m_dwValue6 << t.m_dwObjectId;
  ar << t.m_nCatalogColumns << t.m_nBitColumns << t.m_nAllColumns << t.m_nVarColumns << t.m_nExtraColumn;
  ar << t.m_strText15 << t.m_wVarColumnCap;
  ar.WriteFlag(t.m_bHasIdentity);
  ar.WriteFlag(t.m_bHasNtext);
  ar.WriteFlag(t.m_bHasBlob);

  size_t n = 0;
  for (const CColumn* c = t.m_pColumnHead; c; c = c->m_pNext) ++n;
  ar.WriteCount(n);
  for (const CColumn* c = t.m_pColumnHead; c; c = c->m_pNext) Save(ar, *c);
  n = 0;
  for (const CVarColumn* v = t.m_pVarHead; v; v = v->m_pNext) ++n;
  ar.WriteCount(n);
  for (const CVarColumn* v = t.m_pVarHead; v; v = v->m_pNext) Save(ar, *v);

  ar.WriteCount(size_t(t.m_mapTableIndexes.GetCount()));
  for (const auto& [key, index] : t.m_mapTableIndexes) {
    ar << CString(key);
    // An empty slot still writes a record, so the count stays true.
    if (index) Save(ar, *index);
    else Save(ar, CIndexInfo());
  }

  n = 0;
  for (const CForeignKey* k = t.m_pForeignKeyHead; k; k = k->m_pNext) ++n;
  ar.WriteCount(n);
  for (const CForeignKey* k = t.m_pForeignKeyHead; k; k = k->m_pNext) {
    ar << k->m_dwConstraintId << k->m_dwTableId << k->m_dwRefTableId << k->Count();
    for (WORD id : k->m_vecKeyColumns) ar << id;
    for (size_t i = 0; i < k->m_vecKeyColumns.size(); ++i)
      ar << (i < k->m_vecRefColumns.size() ? k->m_vecRefColumns[i] : WORD(0));
  }

  ar.WriteCount(size_t(t.m_mapVarTypes.GetCount()));
  for (const auto& [key, type] : t.m_mapVarTypes) ar << CString(key) << type;
  ar.WriteCount(t.m_vecExtentPages.size());
  for (int page : t.m_vecExtentPages) ar << page;
  ar.WriteCount(t.m_vecDataPages.size());
  for (DWORD page : t.m_vecDataPages) ar << page;
}

void Load(CArchive& ar, CTable& t) {
  ar >> t.m_strName >> t.m_strText2 >> t.m_strText3 >> t.m_strText4 >> t.m_strOwner;
  ar >> t.m_dwValue6 >> t.m_dwObjectId;
  ar >> t.m_nCatalogColumns >> t.m_nBitColumns >> t.m_nAllColumns >> t.m_nVarColumns >> t.m_nExtraColumn;
  ar >> t.m_strText15 >> t.m_wVarColumnCap;
  ar.ReadFlag(t.m_bHasIdentity);
  ar.ReadFlag(t.m_bHasNtext);
  ar.ReadFlag(t.m_bHasBlob);

  int count = ar.ReadCount(kColumnMinBytes);
  for (int i = 0; i < count; ++i) {
    auto column = std::make_unique<CColumn>();
    Load(ar, *column);
    t.AppendColumn(column.release());
  }
  count = ar.ReadCount(kVarColumnMinBytes);
  for (int i = 0; i < count; ++i) {
    auto column = std::make_unique<CVarColumn>();
    Load(ar, *column);
    t.AppendVarColumn(column.release());
  }
  count = ar.ReadCount(1 + kIndexMinBytes);
  for (int i = 0; i < count; ++i) {
    CString key;
    ar >> key;
    auto index = std::make_unique<CIndexInfo>();
    Load(ar, *index);
    t.SetIndex(key, index.release());
    t.m_bHasIndexes = true;
  }
  count = ar.ReadCount(kForeignKeyMinBytes);
  for (int i = 0; i < count; ++i) {
    auto key = std::make_unique<CForeignKey>();
    WORD pairs = 0;
    ar >> key->m_dwConstraintId >> key->m_dwTableId >> key->m_dwRefTableId >> pairs;
    if (UINT64(pairs) * 4 > ar.BytesLeft()) throw CArchiveException(CArchiveException::endOfFile);
    key->m_vecKeyColumns.resize(pairs);
    key->m_vecRefColumns.resize(pairs);
    for (WORD& id : key->m_vecKeyColumns) ar >> id;
    for (WORD& id : key->m_vecRefColumns) ar >> id;
    t.AppendForeignKey(key.release());
  }
  count = ar.ReadCount(kStringPairMinBytes);
  for (int i = 0; i < count; ++i) {
    CString key, type;
    ar >> key >> type;
    t.m_mapVarTypes.SetAt(key.view(), type);
  }
  count = ar.ReadCount(kIntBytes);
  for (int i = 0; i < count; ++i) {
    int page;
    ar >> page;
    t.m_vecExtentPages.push_back(page);
  }
  count = ar.ReadCount(kIntBytes);
  for (int i = 0; i < count; ++i) {
    DWORD page;
    ar >> page;
    t.m_vecDataPages.push_back(page);
  }
}

}  // namespace archive2000
