// The scan-file forms of the catalog records in the 2000 format. The records themselves are
// the shared ones (common/records.h); the 2000 form keeps its fields in these members:
//   CTable     page object id m_dwValue6, m_nColumns m_nCatalogColumns, m_nAllVarColumns
//              m_nVarColumns, m_bUniquifier m_nExtraColumn, further text m_strText15,
//              WORD m_nVarColumns m_wVarColumnCap, fourth flag m_bHasBlob, the foreign
//              keys m_pForeignKeyHead
//   CColumn    further int m_nValue19;  CVarColumn further int m_nValue8
//   CIndexInfo the five further flags m_bFlag6..m_bFlag10, further number m_nValue
//   CDataType  first and second value m_dwValue1, m_dwValue2
// The index form also carries its key columns (a count and the ids), so a reopened scan keeps
// them. Loading is bounded: every count and length is checked against the bytes left, and a
// record is owned until it is linked, so a damaged file raises CArchiveException and leaks
// nothing.
#pragma once

class CArchive;
class CColumn;
class CDataType;
class CIndexInfo;
class CTable;
class CVarColumn;

namespace archive2000 {

// Least archived sizes, with every text empty.
constexpr unsigned kDataTypeMinBytes = 14;
constexpr unsigned kIndexMinBytes = 54;
constexpr unsigned kColumnMinBytes = 42;
constexpr unsigned kVarColumnMinBytes = 17;
constexpr unsigned kForeignKeyMinBytes = 14;
constexpr unsigned kTableMinBytes = 76;

void Save(CArchive& ar, const CDataType& type);
void Load(CArchive& ar, CDataType& type);
void Save(CArchive& ar, const CIndexInfo& index);
void Load(CArchive& ar, CIndexInfo& index);
void Save(CArchive& ar, const CColumn& column);
void Load(CArchive& ar, CColumn& column);
void Save(CArchive& ar, const CVarColumn& column);
void Load(CArchive& ar, CVarColumn& column);
void Save(CArchive& ar, const CTable& table);
void Load(CArchive& ar, CTable& table);

}  // namespace archive2000
