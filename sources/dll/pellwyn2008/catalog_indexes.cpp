// Index catalog: the index rows of system object 54 (one CIndexInfo per index of a table)
// and their key columns from system object 55.
#include <algorithm>

#include "common/executionlog.h"
#include "common/page.h"
#include "common/unicodetext.h"
#include "pellwyn2008.h"

namespace {

// Status bits of an index row.
constexpr DWORD kIndexIsIndex = 0x001;  // clear on statistics rows
constexpr DWORD kIndexUnique = 0x008;
constexpr DWORD kIndexPrimaryKey = 0x020;
constexpr DWORD kIndexUniqueConstraint = 0x040;
constexpr DWORD kIndexDisabled = 0x080;
constexpr DWORD kIndexHypothetical = 0x100;
constexpr DWORD kIndexNoRowLocks = 0x200;
constexpr DWORD kIndexNoPageLocks = 0x400;
constexpr DWORD kIndexFiltered = 0x20000;

// Status bits of an index-column row.
constexpr DWORD kIsColIndexColumn = 0x02;  // clear on statistics columns
constexpr DWORD kIsColDescending = 0x04;
constexpr DWORD kIsColIncluded = 0x10;

constexpr size_t kMaxNameBytes = 500;

// A catalog row worth decoding: a primary record (not a ghost, stub or index record) that
// carries its null bitmap.
bool IsLiveCatalogRecord(BYTE statusA) { return ((statusA >> 1) & 7) == 0 && (statusA & 0x10); }

void SetIndexFlags(CIndexInfo& index, DWORD indexId, DWORD status) {
  index.m_bConstraint = (status & (kIndexPrimaryKey | kIndexUniqueConstraint)) ? 1 : 0;
  index.m_bPrimaryKey = (status & kIndexPrimaryKey) ? 1 : 0;
  index.m_bClustered = indexId == 1 ? 1 : 0;
  // Padding (status 0x10) says nothing about the kind: a padded index is still scripted.
  index.m_bNonClustered = (indexId >= 2 && !(status & (kIndexDisabled | kIndexHypothetical))) ? 1 : 0;
  index.m_bUnique = (status & kIndexUnique) ? 1 : 0;
  index.m_bFlag6 = (status & kIndexDisabled) ? 1 : 0;
  index.m_bFlag7 = (status & kIndexHypothetical) ? 1 : 0;
  index.m_bFlag8 = (status & kIndexNoRowLocks) ? 0 : 1;
  index.m_bFlag9 = (status & kIndexNoPageLocks) ? 0 : 1;
}

}  // namespace

void CSQLServer2008::ReadIndexInfo() { WalkSystemTable("54", &CSQLServer2008::DecodeIndexRow, 500); }

void CSQLServer2008::DecodeIndexRow(BYTE* body, WORD recordOffset) {
  ByteView rec = RecordView(body, recordOffset);
  const BYTE statusA = rec.U8(0);
  rec.U8(1);
  if (!rec.ok()) return;
  // Ghost rows are dropped indexes; without a variable part there is no name.
  if (!IsLiveCatalogRecord(statusA) || !(statusA & 0x20)) return;

  const WORD fixedEnd = rec.U16(2);
  const int objectId = rec.I32(4);
  const DWORD indexId = rec.U32(8);
  const DWORD status = rec.U32(12);
  if (!rec.ok()) return;

  const WORD n = rec.U16(fixedEnd);
  if (!rec.ok() || n == 0 || n > 100) return;
  const size_t bitmap = BitmapBytes(n);
  const size_t v = rec.U16(fixedEnd + 2 + bitmap) & 0xFF;
  const WORD nameEnd = rec.U16(fixedEnd + 4 + bitmap);
  if (!rec.ok()) return;
  const size_t nameStart = fixedEnd + 4 + bitmap + 2 * v;
  // A name that ends before it starts is as bad as one that is too long.
  if (nameEnd < nameStart || nameEnd - nameStart > kMaxNameBytes) return;
  ByteView nameBytes = rec.Sub(nameStart, nameEnd - nameStart);
  if (!rec.ok()) return;

  CString name(Utf16ToUtf8(nameBytes));
  name.Trim();
  // Statistics are not indexes: neither the automatic "_WA_Sys" ones nor those a user made.
  if (name.Find("_WA_Sys") >= 0 || !(status & kIndexIsIndex)) return;

  CTable* table = nullptr;
  if (!m_mapTables.Lookup(FormatString("%ld", objectId).view(), table) || !table) {
    // An index of a view (an indexed view): kept with the view, as the view is no table.
    CViewStoredProc* view = nullptr;
    if (!m_mapViews.Lookup(FormatString("%ld", objectId).view(), view) || !view || view->FindIndex(indexId)) return;
    CIndexInfo index;
    index.m_dwId = indexId;
    index.m_strName = name;
    SetIndexFlags(index, indexId, status);
    view->m_vecIndexes.push_back(std::move(index));
    return;
  }

  CString filter;
  if (status & kIndexFiltered) {
    const auto text = m_mapIndexFilterTexts.find({objectId, int(indexId)});
    if (text != m_mapIndexFilterTexts.end()) filter = text->second;
    filter.Trim();
    // Created over every row, the index would differ from the original, and a unique one
    // could refuse rows the original took.
    if (filter.IsEmpty()) {
      CExecutionLog::WriteLog(0, 0,
                              ("Filtered index [" + name + "] of [" + table->m_strName +
                               "]: its filter text was not found; the index is not created")
                                  .c_str(),
                              false);
      return;
    }
  }

  auto* index = new CIndexInfo;
  index->m_strFilter = filter;
  index->m_strName = name;
  SetIndexFlags(*index, indexId, status);
  // A clustered index that is not unique adds a hidden uniquifier to every row.
  if (index->m_bClustered && !index->m_bUnique) table->m_nExtraColumn = 1;
  table->SetIndex(FormatString("%ld", int(indexId)), index);
}

// The one catalog walk that logs no page count.
void CSQLServer2008::ReadIsCols() { WalkSystemTable("55", &CSQLServer2008::DecodeIsColRow, 500, false); }

void CSQLServer2008::DecodeIsColRow(BYTE* body, WORD recordOffset) {
  ByteView rec = RecordView(body, recordOffset);
  const BYTE statusA = rec.U8(0);
  rec.U8(1);
  if (!rec.ok() || !IsLiveCatalogRecord(statusA)) return;

  const int objectId = rec.I32(4);
  const int indexId = rec.I32(8);
  const DWORD status = rec.U32(16);
  const DWORD columnId = rec.U32(20);
  const BYTE keyOrdinal = rec.U8(24);
  if (!rec.ok() || objectId == 55) return;
  // Only key columns of an index: statistics columns and included columns have no key
  // position, and included columns would otherwise read as keys.
  const bool included = (status & kIsColIncluded) != 0;
  if (!(status & kIsColIndexColumn) || (keyOrdinal == 0 && !included)) return;
  if (columnId == 0 || columnId > 0xFFFF) return;

  CTable* table = nullptr;
  CIndexInfo* index = nullptr;
  bool present = false;
  if (m_mapTables.Lookup(FormatString("%ld", objectId).view(), table) && table) {
    CIndexInfo** found = table->m_mapTableIndexes.Find(FormatString("%ld", indexId).view());
    if (!found || !*found) return;
    index = *found;
    // The row names its column by column id, which differs from the list position once a
    // column has been dropped.
    for (const CColumn* c = table->m_pColumnHead; c && !present; c = c->m_pNext)
      present = c->m_wColOrder == columnId;
  } else {
    CViewStoredProc* view = nullptr;
    if (!m_mapViews.Lookup(FormatString("%ld", objectId).view(), view) || !view) return;
    index = view->FindIndex(DWORD(indexId));
    // A key whose view column is unknown is kept: the script names it or leaves the whole
    // index out, never a part of it.
    present = index != nullptr;
  }
  if (!present) return;
  if (included) {
    // Carried beside the keys; a page read twice gives the row twice.
    if (std::find(index->m_vecIncluded.begin(), index->m_vecIncluded.end(), int(columnId)) == index->m_vecIncluded.end())
      index->m_vecIncluded.push_back(int(columnId));
    return;
  }

  // Position p holds the p-th key column; position 0 and unfilled positions hold 0.
  const size_t p = keyOrdinal;
  if (index->m_vecColumns.size() < p + 1) index->m_vecColumns.resize(p + 1, 0);
  index->m_vecDescending.resize(index->m_vecColumns.size(), false);
  index->m_vecColumns[p] = int(columnId);
  index->m_vecDescending[p] = (status & kIsColDescending) != 0;
}
