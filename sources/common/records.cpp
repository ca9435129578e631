#include "records.h"

#include <memory>

#include "deletedrows.h"
#include "platform/archive.h"

CTable::CTable() : m_pDeletedRows(std::make_shared<DeletedRowPlanCache>()) {}

CTable::~CTable() {
  for (CColumn* c = m_pColumnHead; c;) {
    CColumn* next = c->m_pNext;
    delete c;
    c = next;
  }
  for (CColumn* c = m_pColumn2Head; c;) {
    CColumn* next = c->m_pNext;
    delete c;
    c = next;
  }
  for (CVarColumn* v = m_pVarHead; v;) {
    CVarColumn* next = v->m_pNext;
    delete v;
    v = next;
  }
  for (CForeignKey* k = m_pForeignKeyHead; k;) {
    CForeignKey* next = k->m_pNext;
    delete k;
    k = next;
  }
  // The table owns its index records.
  for (auto& entry : m_mapTableIndexes) delete entry.second;
  if (m_hBlobFile != kInvalidFile) CloseFileHandle(m_hBlobFile);
}

void CTable::AppendColumn(CColumn* column) {
  if (!column) return;
  column->m_pNext = nullptr;
  if (m_pColumnTail) m_pColumnTail->m_pNext = column;
  else m_pColumnHead = column;
  m_pColumnTail = column;
}

void CTable::AppendVarColumn(CVarColumn* column) {
  if (!column) return;
  column->m_pNext = nullptr;
  if (m_pVarTail) m_pVarTail->m_pNext = column;
  else m_pVarHead = column;
  m_pVarTail = column;
}

void CTable::AppendForeignKey(CForeignKey* key) {
  if (!key) return;
  key->m_pNext = nullptr;
  if (m_pForeignKeyTail) m_pForeignKeyTail->m_pNext = key;
  else m_pForeignKeyHead = key;
  m_pForeignKeyTail = key;
}

void CTable::SetIndex(const CString& key, CIndexInfo* index) {
  CIndexInfo** old = m_mapTableIndexes.Find(key.view());
  if (old) {
    if (*old != index) delete *old;
    *old = index;
  } else {
    m_mapTableIndexes.SetAt(key.view(), index);
  }
}

// ---- archive form

namespace {
// Least archived sizes of section entries, so a count that cannot fit in what is left of
// the file is rejected before anything is read for it.
constexpr size_t kStringPairMinBytes = 2;
constexpr size_t kIntBytes = 4;
}  // namespace

void CDataType::Save(CArchive& ar) const {
  // The archive order is not the field order.
  ar << m_strName << m_wLength << m_bSystemTypeId << m_bPrecision << m_bScale;
  ar << m_dwValue1 << m_dwValue2 << m_dwValue3;
}

void CDataType::Load(CArchive& ar) {
  ar >> m_strName >> m_wLength >> m_bSystemTypeId >> m_bPrecision >> m_bScale;
  ar >> m_dwValue1 >> m_dwValue2 >> m_dwValue3;
  m_dwValue4 = 0;
}

void CColumn::Save(CArchive& ar) const {
  ar << m_strName << m_strType << m_strUserType << m_strDefault << m_strComputed;
  ar << m_wColOrder << m_wSpare;
  ar << m_dwRowsetColumn << m_dwIdentitySeed << m_dwIdentityIncrement;
  ar << m_nOffset << m_nColumnId << m_wLength;
  ar << m_bPrecision << m_bScale << m_bBitPosition;
  ar << m_bDropped << m_bFirstFixed << m_nValue19 << m_nValue20;
  ar.WriteFlag(m_bNullable);
  ar.WriteFlag(m_bCatalogOffset);
  ar.WriteFlag(m_bIdentity);
}

void CColumn::Load(CArchive& ar) {
  ar >> m_strName >> m_strType >> m_strUserType >> m_strDefault >> m_strComputed;
  ar >> m_wColOrder >> m_wSpare;
  ar >> m_dwRowsetColumn >> m_dwIdentitySeed >> m_dwIdentityIncrement;
  ar >> m_nOffset >> m_nColumnId >> m_wLength;
  ar >> m_bPrecision >> m_bScale >> m_bBitPosition;
  ar >> m_bDropped >> m_bFirstFixed >> m_nValue19 >> m_nValue20;
  ar.ReadFlag(m_bNullable);
  ar.ReadFlag(m_bCatalogOffset);
  ar.ReadFlag(m_bIdentity);
  // The scan file carries the 32-bit identity values only; read them back as signed.
  m_nIdentitySeed64 = INT64(int(m_dwIdentitySeed));
  m_nIdentityIncrement64 = INT64(int(m_dwIdentityIncrement));
}

void CVarColumn::Save(CArchive& ar) const {
  ar << m_strName << m_strDefault << m_strType;
  ar << m_wColOrder << m_wLength << m_dwRowsetColumn;
  ar << m_bDeleted << m_nValue8 << m_nVarIndex;
}

void CVarColumn::Load(CArchive& ar) {
  ar >> m_strName >> m_strDefault >> m_strType;
  ar >> m_wColOrder >> m_wLength >> m_dwRowsetColumn;
  ar >> m_bDeleted >> m_nValue8 >> m_nVarIndex;
}

void CIndexInfo::Save(CArchive& ar) const {
  ar << m_dwId;
  for (BYTE flag : {m_bConstraint, m_bPrimaryKey, m_bClustered, m_bNonClustered, m_bUnique, m_bFlag6, m_bFlag7,
                    m_bFlag8, m_bFlag9})
    ar.WriteFlag(flag != 0);
  ar << m_nValue << m_strName << m_strText;
  ar.WriteCount(m_vecColumns.size());
  for (int id : m_vecColumns) ar << id;
}

void CIndexInfo::Load(CArchive& ar) {
  ar >> m_dwId;
  for (BYTE* flag : {&m_bConstraint, &m_bPrimaryKey, &m_bClustered, &m_bNonClustered, &m_bUnique, &m_bFlag6,
                     &m_bFlag7, &m_bFlag8, &m_bFlag9})
    ar.ReadFlag(*flag);
  ar >> m_nValue >> m_strName >> m_strText;
  int count = ar.ReadCount(kIntBytes);
  for (int i = 0; i < count; ++i) {
    int id;
    ar >> id;
    m_vecColumns.push_back(id);
  }
  // Sort directions are not archived: every loaded key column reads as ascending.
  m_vecDescending.resize(m_vecColumns.size(), false);
}

void CViewStoredProc::Save(CArchive& ar) const { ar << m_strName << m_wValue1 << m_wValue2 << m_strText; }

void CViewStoredProc::Load(CArchive& ar) { ar >> m_strName >> m_wValue1 >> m_wValue2 >> m_strText; }

CIndexInfo* CViewStoredProc::FindIndex(DWORD id) {
  for (CIndexInfo& index : m_vecIndexes)
    if (index.m_dwId == id) return &index;
  return nullptr;
}

void CViewStoredProc::AddColumn(int id, const CString& name) {
  if (!ColumnName(id)) m_vecColumns.push_back({id, name});
}

const CString* CViewStoredProc::ColumnName(int id) const {
  for (const ViewColumn& c : m_vecColumns)
    if (c.id == id) return &c.name;
  return nullptr;
}

void CTable::Save(CArchive& ar) const {
  ar << m_strName << m_strText2 << m_strText3 << m_strText4 << m_strOwner;
  ar << m_dwValue6 << m_dwObjectId;
  ar << m_nCatalogColumns << m_nVarColumns << m_nAllColumns << m_nBitColumns << m_nExtraColumn << m_nMaxColumnId
     << m_nValue14;
  ar << m_strText15 << m_wVarColumnCap;
  ar.WriteFlag(m_bHasIdentity);
  ar.WriteFlag(m_bHasNtext);
  ar.WriteFlag(m_bHasBlob);

  size_t columns = 0;
  for (const CColumn* c = m_pColumnHead; c; c = c->m_pNext) ++columns;
  ar.WriteCount(columns);
  for (const CColumn* c = m_pColumnHead; c; c = c->m_pNext) c->Save(ar);

  size_t varColumns = 0;
  for (const CVarColumn* v = m_pVarHead; v; v = v->m_pNext) ++varColumns;
  ar.WriteCount(varColumns);
  for (const CVarColumn* v = m_pVarHead; v; v = v->m_pNext) v->Save(ar);

  ar.WriteCount(size_t(m_mapComputed.GetCount()));
  for (const auto& [key, text] : m_mapComputed) ar << CString(key) << text;

  ar.WriteCount(size_t(m_mapTableIndexes.GetCount()));
  for (const auto& [key, index] : m_mapTableIndexes) {
    ar << CString(key);
    // An empty slot still writes a record, so the count stays true.
    if (index) index->Save(ar);
    else CIndexInfo().Save(ar);
  }

  ar.WriteCount(size_t(m_mapVarTypes.GetCount()));
  for (const auto& [key, type] : m_mapVarTypes) ar << CString(key) << type;

  ar.WriteCount(m_vecExtentPages.size());
  for (int page : m_vecExtentPages) ar << page;
  ar.WriteCount(m_vecDataPages.size());
  for (DWORD page : m_vecDataPages) ar << page;

  ar << m_dwRowsetValue << m_dwFirstIamPage << m_wFirstIamFile;
}

void CTable::Load(CArchive& ar) {
  ar >> m_strName >> m_strText2 >> m_strText3 >> m_strText4 >> m_strOwner;
  ar >> m_dwValue6 >> m_dwObjectId;
  ar >> m_nCatalogColumns >> m_nVarColumns >> m_nAllColumns >> m_nBitColumns >> m_nExtraColumn >> m_nMaxColumnId >>
      m_nValue14;
  ar >> m_strText15 >> m_wVarColumnCap;
  ar.ReadFlag(m_bHasIdentity);
  ar.ReadFlag(m_bHasNtext);
  ar.ReadFlag(m_bHasBlob);

  // Each record is owned here until it is linked, so a damaged file leaks nothing.
  int count = ar.ReadCount(CColumn::kMinArchiveBytes);
  for (int i = 0; i < count; ++i) {
    auto column = std::make_unique<CColumn>();
    column->Load(ar);
    AppendColumn(column.release());
  }
  count = ar.ReadCount(CVarColumn::kMinArchiveBytes);
  for (int i = 0; i < count; ++i) {
    auto column = std::make_unique<CVarColumn>();
    column->Load(ar);
    AppendVarColumn(column.release());
  }

  count = ar.ReadCount(kStringPairMinBytes);
  for (int i = 0; i < count; ++i) {
    CString key, text;
    ar >> key >> text;
    m_mapComputed.SetAt(key.view(), text);
  }
  count = ar.ReadCount(1 + CIndexInfo::kMinArchiveBytes);
  for (int i = 0; i < count; ++i) {
    CString key;
    ar >> key;
    auto index = std::make_unique<CIndexInfo>();
    index->Load(ar);
    SetIndex(key, index.release());
  }
  count = ar.ReadCount(kStringPairMinBytes);
  for (int i = 0; i < count; ++i) {
    CString key, type;
    ar >> key >> type;
    m_mapVarTypes.SetAt(key.view(), type);
  }

  count = ar.ReadCount(kIntBytes);
  for (int i = 0; i < count; ++i) {
    int page;
    ar >> page;
    m_vecExtentPages.push_back(page);
  }
  count = ar.ReadCount(kIntBytes);
  for (int i = 0; i < count; ++i) {
    DWORD page;
    ar >> page;
    m_vecDataPages.push_back(page);
  }

  ar >> m_dwRowsetValue >> m_dwFirstIamPage >> m_wFirstIamFile;
}
