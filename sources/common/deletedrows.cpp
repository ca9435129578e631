#include "deletedrows.h"

#include <algorithm>
#include <unordered_set>

#include "executionlog.h"
#include "page.h"
#include "records.h"

namespace {

// Lines of one kind a table writes to the log; the counts in its summary say the rest.
constexpr int kLoggedPerKind = 100;

void Log(const CString& text) { CExecutionLog::WriteLog(0, 0, text, false); }

}  // namespace

std::vector<SlotRow> ReadSlotRows(const BYTE* page, bool pageSetAside, const RecordShape& shape,
                                  const std::function<WORD(const BYTE*, int)>& slotEntry, SlotRowsReport* report) {
  const int count = SlotCountCapped(page);
  std::vector<SlotRow> rows(static_cast<size_t>(count));
  std::vector<WORD> entries(static_cast<size_t>(count));
  std::vector<WORD> known;
  for (int i = 0; i < count; ++i) {
    WORD entry = slotEntry(page, i);
    if (entry >= kPageSize) entry = 0;
    entries[size_t(i)] = entry;
    if (entry) known.push_back(entry);
  }
  std::sort(known.begin(), known.end());
  known.erase(std::unique(known.begin(), known.end()), known.end());
  const WORD slotArray = WORD(kPageSize - 2 * count);
  const WORD freeSpace = PageFreeSpaceOffset(page, count);

  WORD previousEnd = 0;  // page offset just past the previous slot's record; 0: not known
  for (int i = 0; i < count; ++i) {
    const WORD entry = entries[size_t(i)];
    SlotRow& row = rows[size_t(i)];
    if (entry != 0) {
      const bool deleted = pageSetAside || RecordKindOf(page[entry], shape.ghostVersion) == RecordKind::kDeleted;
      if (!deleted) {
        row.offset = entry;
        const WORD room = RecordRoomEnd(known, entry, slotArray);
        previousEnd = RecordEndOf(page, entry, room);
        if (report && RecordKindOf(page[entry], shape.ghostVersion) == RecordKind::kLive) {
          const RecordFault fault = CheckRecordCandidate(page, entry, room, shape, nullptr);
          if (fault != RecordFault::kNone && report->liveUnfit++ == 0) report->liveFault = fault;
        }
        continue;
      }
      WORD end = 0;
      const RecordFault fault = CheckRecordCandidate(page, entry, RecordRoomEnd(known, entry, freeSpace), shape, &end);
      if (fault == RecordFault::kNone) {
        row = SlotRow{entry, true};
        previousEnd = end;
      } else {
        if (report) report->unfit.push_back({entry, fault});
        previousEnd = 0;
      }
      continue;
    }
    if (ReadU16(page + kPageSize - 2 * (i + 1)) != 0) {
      // An entry the walk does not accept: nothing is known of where the records lie.
      previousEnd = 0;
      continue;
    }
    // A zeroed slot: its record, if the page still holds it, follows the previous record in
    // the gap before the next record the page knows.
    WORD at = 0;
    WORD end = 0;
    if (previousEnd != 0 && !std::binary_search(known.begin(), known.end(), previousEnd)) {
      const WORD room = RecordRoomEnd(known, previousEnd, freeSpace);
      if (CheckRecordCandidate(page, previousEnd, room, shape, &end) == RecordFault::kNone)
        at = previousEnd;
      else
        at = FindRecordCandidate(page, WORD(previousEnd + 1), room, shape, &end);
    }
    if (at) {
      row = SlotRow{at, true};
      previousEnd = end;
    } else {
      if (report) report->emptySlots.push_back(i);
      previousEnd = 0;
    }
  }
  return rows;
}

const CIndexInfo* RowKeyIndex(const CTable& table) {
  const CIndexInfo* unique = nullptr;
  for (const auto& entry : table.m_mapTableIndexes) {
    const CIndexInfo* index = entry.second;
    if (!index) continue;
    if (index->m_bPrimaryKey) return index;
    if (!index->m_bUnique) continue;
    if (!unique || (index->m_bClustered && !unique->m_bClustered)) unique = index;
  }
  return unique;
}

WORD DeletedRowPlan::RowAt(size_t position, int slot) const {
  if (position >= m_pages.size() || slot < 0) return kAsStored;
  const std::vector<WORD>& slots = m_pages[position];
  if (size_t(slot) >= slots.size()) return kAsStored;
  return slots[size_t(slot)];
}

namespace {

// The smaller column counts the live records of the table's own pages hold with the table's
// fixed part: rows written before a column was added still fit the table.
std::vector<int> OlderColumnCounts(size_t pages, const RecordShape& shape, const DeletedRowSteps& steps,
                                   std::vector<BYTE>& page) {
  std::vector<int> counts;
  for (size_t position = 0; position < pages; ++position) {
    if (!steps.readPage(position, page.data())) continue;
    const int slots = SlotCountCapped(page.data());
    for (int slot = 0; slot < slots; ++slot) {
      const WORD entry = steps.slotEntry(page.data(), slot);
      if (entry == 0 || entry + 4 > kPageSize) continue;
      const BYTE* r = page.data() + entry;
      if (RecordKindOf(r[0], shape.ghostVersion) != RecordKind::kLive) continue;
      const int fixedEnd = ReadU16(r + 2);
      if (fixedEnd < 4 || (shape.fixedEnd > 0 && fixedEnd != shape.fixedEnd) || entry + fixedEnd + 2 > kPageSize)
        continue;
      const int n = ReadU16(r + fixedEnd);
      if (n > 0 && n < shape.columnCount && std::find(counts.begin(), counts.end(), n) == counts.end())
        counts.push_back(n);
    }
  }
  return counts;
}

}  // namespace

DeletedRowPlan PlanDeletedRows(size_t pageCount, size_t firstSetAside, const RecordShape& tableShape,
                               const DeletedRowSteps& steps, const CString& tableName, bool log) {
  DeletedRowPlan plan;
  std::vector<BYTE> page(kPageSize);
  RecordShape shape = tableShape;
  shape.olderCounts = OlderColumnCounts(std::min(pageCount, firstSetAside), shape, steps, page);
  plan.m_pages.resize(pageCount);
  struct Candidate {
    size_t position = 0;
    int slot = 0;
    WORD offset = 0;
    RowIdentity identity;
  };
  std::unordered_set<std::string> live;
  std::vector<Candidate> candidates;
  int loggedUnread = 0;
  auto logUnread = [&](const CString& text) {
    if (log && loggedUnread++ < kLoggedPerKind) Log(text);
  };

  for (size_t position = 0; position < pageCount; ++position) {
    if (!steps.readPage(position, page.data())) continue;
    const DWORD pageId = PageIdOf(page.data());
    SlotRowsReport report;
    const std::vector<SlotRow> rows =
        ReadSlotRows(page.data(), position >= firstSetAside, shape, steps.slotEntry, &report);
    std::vector<WORD> at(rows.size(), DeletedRowPlan::kAsStored);
    bool own = false;
    for (size_t slot = 0; slot < rows.size(); ++slot) {
      const SlotRow& row = rows[slot];
      if (!row.deleted) {
        if (row.offset == 0) {
          // A zeroed slot, an unfit deleted record, or an entry the walk does not read.
          at[slot] = 0;
          own = true;
          continue;
        }
        RowIdentity identity;
        if (steps.identify(page.data(), row.offset, false, identity)) live.insert(std::move(identity.key));
        continue;
      }
      at[slot] = 0;
      own = true;
      Candidate c;
      c.position = position;
      c.slot = int(slot);
      c.offset = row.offset;
      if (!steps.identify(page.data(), row.offset, log, c.identity)) {
        ++plan.unfit;
        logUnread(FormatString("Deleted row of table %s at page %lu offset %u left out: it cannot be decoded",
                               tableName, pageId, unsigned(row.offset)));
        continue;
      }
      candidates.push_back(std::move(c));
    }
    for (const SlotRowsReport::Unfit& u : report.unfit) {
      ++plan.unfit;
      logUnread(FormatString("Deleted row of table %s at page %lu offset %u left out: %s", tableName, pageId,
                             unsigned(u.offset), RecordFaultText(u.fault)));
    }
    if (plan.liveUnfit == 0) plan.liveFault = report.liveFault;
    plan.liveUnfit += report.liveUnfit;
    for (int slot : report.emptySlots) {
      ++plan.notFound;
      logUnread(FormatString("Table %s: page %lu slot %d is zeroed and no deleted row that fits the table was "
                             "found for it: nothing recovered there",
                             tableName, pageId, slot));
    }
    if (own) plan.m_pages[position] = std::move(at);
  }

  if (log && plan.liveUnfit > 0)
    Log(FormatString("Table %s: %d live records do not show the header its catalog describes (%s); deleted "
                     "rows written like them are not recovered",
                     tableName, plan.liveUnfit, RecordFaultText(plan.liveFault)));
  std::unordered_set<std::string> kept;
  int loggedCopies = 0;
  for (const Candidate& c : candidates) {
    const bool ofLive = live.count(c.identity.key) != 0;
    if (ofLive || !kept.insert(c.identity.key).second) {
      ++plan.copies;
      if (log && loggedCopies++ < kLoggedPerKind)
        Log(FormatString("Deleted row of table %s left out as a copy: its key %s is that of %s; its values: %s",
                         tableName, c.identity.keyText, ofLive ? "a live row" : "another recovered row",
                         c.identity.valuesText));
      continue;
    }
    ++plan.recovered;
    plan.m_pages[c.position][size_t(c.slot)] = c.offset;
  }
  return plan;
}

std::shared_ptr<const DeletedRowPlan> DeletedRowPlanCache::Find(const std::vector<DWORD>& pages) const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_plan && m_pages == pages ? m_plan : nullptr;
}

void DeletedRowPlanCache::Keep(const std::vector<DWORD>& pages, std::shared_ptr<const DeletedRowPlan> plan) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_pages = pages;
  m_plan = std::move(plan);
}

std::shared_ptr<const DeletedRowPlan> KeptDeletedRowPlan(DeletedRowPlanCache* cache, const std::vector<DWORD>& pages,
                                                         const std::function<DeletedRowPlan()>& make) {
  if (cache)
    if (std::shared_ptr<const DeletedRowPlan> kept = cache->Find(pages)) return kept;
  auto plan = std::make_shared<const DeletedRowPlan>(make());
  if (cache) cache->Keep(pages, plan);
  return plan;
}
