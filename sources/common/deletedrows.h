// Which rows a walk reads when the rows someone deleted are recovered too, for both formats.
// One plan per walk says, slot by slot, what to decode: the live records where their slots
// point, and the deleted rows (ghosts, the records of pages the allocation map marks free,
// the records of zeroed slots) that fit the table and are not copies of another row. The
// preview and the export plan alike, so both show the same rows in the same order.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "datarecord.h"
#include "platform/cstring.h"
#include "platform/types.h"

// One slot of a page as read with deleted rows.
struct SlotRow {
  WORD offset = 0;       // page offset of the record to decode; 0: nothing to decode
  bool deleted = false;  // the record is a deleted row, not a live one
};

// What a page's slots gave besides rows.
struct SlotRowsReport {
  struct Unfit {
    WORD offset = 0;
    RecordFault fault = RecordFault::kNone;
  };
  std::vector<Unfit> unfit;     // deleted records whose header does not fit the table
  std::vector<int> emptySlots;  // zeroed slots after which no record that fits was found
  int liveUnfit = 0;            // live data records that would not fit either (a shape to doubt)
  RecordFault liveFault = RecordFault::kNone;  // why the first of them does not
};

// The rows of a page's slots. `slotEntry` is the walk's own reading of a slot (its repairs
// and the entries it accepts; 0 for none). A live record is read where its slot points (it
// may still be no data record: the decoder decides). A deleted record is taken only when its
// header fits `shape` in the room before the next record the page knows: a ghost, any record
// of a page set aside, and for a zeroed slot the record that follows the previous slot's
// record (at that record's end, else the first that fits in the gap after it). A run of
// zeroed slots follows the chain; a slot whose record is not found breaks it.
std::vector<SlotRow> ReadSlotRows(const BYTE* page, bool pageSetAside, const RecordShape& shape,
                                  const std::function<WORD(const BYTE*, int)>& slotEntry, SlotRowsReport* report);

// What tells one row of a table from another, and how the log shows it.
struct RowIdentity {
  std::string key;     // primary key, else unique key, else every value, as stored bytes
  CString keyText;     // e.g. "[ID]=1", or "all columns"
  CString valuesText;  // every value, for the log
};

class CIndexInfo;
class CTable;
// The index whose key tells a table's rows apart: the primary key, else a unique clustered
// index, else another unique index; null when the table has none (every value then does).
const CIndexInfo* RowKeyIndex(const CTable& table);

struct DeletedRowSteps {
  // Reads the page at this place of the walk's list as the walk does (false: passed over).
  std::function<bool(size_t position, BYTE* page)> readPage;
  std::function<WORD(const BYTE* page, int slot)> slotEntry;
  // Decodes the record at a page offset; false when it is no row of the table. The texts are
  // wanted only with `texts` (the key alone tells rows apart).
  std::function<bool(const BYTE* page, WORD offset, bool texts, RowIdentity& identity)> identify;
};

class DeletedRowPlan {
 public:
  // A slot the walk reads as it always does.
  static constexpr WORD kAsStored = 0xFFFF;

  // What the walk decodes at a slot of the page at `position`: kAsStored, the page offset of
  // a deleted row, or 0 for nothing.
  WORD RowAt(size_t position, int slot) const;

  int recovered = 0;  // deleted rows the walks show
  int copies = 0;     // deleted rows left out: a live row or an earlier recovered row has their key
  int unfit = 0;      // deleted records whose header does not fit the table
  int notFound = 0;   // zeroed slots with no record after them
  int liveUnfit = 0;  // live data records whose header would not fit the table
  RecordFault liveFault = RecordFault::kNone;

 private:
  friend DeletedRowPlan PlanDeletedRows(size_t, size_t, const RecordShape&, const DeletedRowSteps&, const CString&,
                                        bool);
  // Per page: empty when every slot reads as stored, else one entry per slot.
  std::vector<std::vector<WORD>> m_pages;
};

// Plans a walk over `pageCount` pages, of which those from `firstSetAside` on are pages the
// allocation map marks free. Reads every page once and decodes every row once. With `log`,
// every deleted row left out as a copy (its table, key and values) and every deleted row that
// could not be read is written to the execution log, the first hundred of each kind.
DeletedRowPlan PlanDeletedRows(size_t pageCount, size_t firstSetAside, const RecordShape& shape,
                               const DeletedRowSteps& steps, const CString& tableName, bool log);

// The plan the walks of one table share: a table's pages do not change once it is scanned, so
// the preview's next window reads by the plan the export (or the first window) made. A plan
// made for another page list is made again.
class DeletedRowPlanCache {
 public:
  std::shared_ptr<const DeletedRowPlan> Find(const std::vector<DWORD>& pages) const;
  void Keep(const std::vector<DWORD>& pages, std::shared_ptr<const DeletedRowPlan> plan);

 private:
  mutable std::mutex m_lock;
  std::vector<DWORD> m_pages;
  std::shared_ptr<const DeletedRowPlan> m_plan;
};

// The plan kept for these pages, else the one `make` makes, kept from then on (a null cache
// keeps nothing).
std::shared_ptr<const DeletedRowPlan> KeptDeletedRowPlan(DeletedRowPlanCache* cache, const std::vector<DWORD>& pages,
                                                         const std::function<DeletedRowPlan()>& make);
