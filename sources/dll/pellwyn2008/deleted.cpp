// Deleted rows of a 2005/2008 table: what tells its rows apart, and the plan its preview and
// its export read them by (common/deletedrows.h).
#include <string>
#include <vector>

#include "common/deletedrows.h"
#include "common/page.h"
#include "common/records.h"
#include "common/sqltext.h"
#include "pellwyn2008.h"
#include "record.h"

namespace {

// The column an index entry names by column id.
const CColumn* ColumnById(const CTable& table, int columnId) {
  if (columnId <= 0) return nullptr;
  if (!table.m_vecColumnById.empty())
    return size_t(columnId) < table.m_vecColumnById.size() ? table.m_vecColumnById[size_t(columnId)] : nullptr;
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext)
    if (c->m_wColOrder == columnId) return c;
  return nullptr;
}

// Places in the plan's column list of the columns that tell rows apart; empty: all of them.
std::vector<size_t> KeyPlaces(const CTable& table, const RecordPlan& plan) {
  std::vector<size_t> places;
  const CIndexInfo* index = RowKeyIndex(table);
  if (!index) return places;
  // Entry 0 of an index's column list is not a key column.
  for (size_t k = 1; k < index->m_vecColumns.size(); ++k) {
    const CColumn* c = ColumnById(table, index->m_vecColumns[k]);
    for (size_t i = 0; c && i < plan.columns().size(); ++i)
      if (plan.columns()[i].column == c) places.push_back(i);
  }
  return places;
}

void AppendCell(std::string& key, const RecordCell& cell) {
  const ByteView v = cell.inRow;
  key += char(cell.state);
  const size_t n = v.size();
  key.append({char(n), char(n >> 8), char(n >> 16)});
  key.append(reinterpret_cast<const char*>(v.data()), n);
}

}  // namespace

DeletedRowPlan CSQLServer2008::PlanDeletedRowsOf(const CTable& table, const std::vector<DWORD>& pages,
                                                 const RecordPlan& plan, bool log) {
  const std::vector<size_t> keyPlaces = KeyPlaces(table, plan);
  DeletedRowSteps steps;
  steps.readPage = [&](size_t position, BYTE* page) {
    if (!ReadSourcePage(pages[position], page) || PageTypeOf(page) != kPageData) return false;
    RestoreTornBitsIfPresent(page);
    return true;
  };
  steps.slotEntry = [](const BYTE* page, int slot) { return SlotEntry(page, slot); };
  steps.identify = [&](const BYTE* page, WORD offset, bool texts, RowIdentity& id) {
    // The stored bytes tell rows apart: off-row values by their pointers, which are not read.
    RecordDecodeOptions options;
    options.includeGhosts = true;
    DecodedRecord record;
    if (offset >= kPageSize ||
        DecodeRecord(plan, ByteView(page + offset, size_t(kPageSize - offset)), options, record) !=
            RecordVerdict::kDecoded)
      return false;
    const std::vector<ColumnPlan>& columns = plan.columns();
    auto text = [&](size_t i) { return PreviewCellText(columns[i], record.cells[i]); };
    id.key.clear();
    id.keyText.Empty();
    id.valuesText.Empty();
    if (keyPlaces.empty()) {
      for (const RecordCell& cell : record.cells) AppendCell(id.key, cell);
      id.keyText = "(all columns)";
    }
    for (size_t i : keyPlaces) AppendCell(id.key, record.cells[i]);
    if (!texts) return true;
    for (size_t i : keyPlaces) {
      if (!id.keyText.IsEmpty()) id.keyText += ", ";
      id.keyText += SqlQuoteName(columns[i].column->m_strName) + "=" + text(i);
    }
    for (size_t i = 0; i < columns.size(); ++i) {
      if (i) id.valuesText += ", ";
      id.valuesText += text(i);
    }
    return true;
  };
  return PlanDeletedRows(pages.size(), table.m_vecDataPages.size(), plan.Shape(), steps,
                         SqlQualifiedName(table.m_strOwner, table.m_strName), log);
}
