// Stored data records of user tables (2005/2008 format) and the one decoder that turns a
// record into typed cells. The preview shows the cells as text with its markers; the export
// turns the same cells into INSERT literals. Neither re-reads the record.
//
// Record layout (little-endian; offsets from the record's first byte):
//      0  status byte A: bits 1-3 record type, 0x10 null bitmap, 0x20 variable part,
//         0x40 row-versioning tag (says nothing about the variable part)
//      1  status byte B
//      2  F: offset of the column count (end of the fixed part)                   2
//      4  fixed-length column data, up to F
//      F  N: columns stored in this record                                        2
//    F+2  null bitmap, B = ceil(N / 8) bytes, at least 1; bit i (byte i/8, bit i%8)
//         set = the column whose null-bit number is i + 1 is null
//  F+2+B  V: variable columns stored (only when A has 0x20)                        2
//  F+4+B  V end offsets (record offsets of the first byte after each value)        2V
// F+4+B+2V  the variable values, one after the other
// An end offset with bit 0x8000 is a complex column: its bytes, from the column's start to
// the offset without that bit, hold an off-row pointer (lob.h). Every value starts where the
// previous one ended (its masked end offset); a value of zero length is empty.
//
// Record types: 0 primary, 1 forwarded (its last variable entry is the 10-byte pointer back to
// the stub, not a column), 2 forwarding stub (a pointer to the forwarded record, which the
// walk meets where it lies), 3 index, 4 large-value fragment, 5 ghost index, 6 ghost data
// (deleted row), 7 ghost version.
//
// Damaged records are expected. Every read is bounded by the page: a header, bitmap, offset
// array or value that would leave it rejects the record; a value whose length cannot be
// right is "corrupt" and the other columns still decode.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/datarecord.h"
#include "common/page.h"
#include "common/sqltypes.h"
#include "lob.h"
#include "platform/cstring.h"
#include "platform/types.h"

class CColumn;
class CTable;

// Types stored in the variable part. A dropped sql_variant column is laid out as a fixed one.
bool IsVariableSqlType(SqlType type, bool dropped);
// Character types whose bytes are UTF-16 units.
inline bool IsUnicodeSqlType(SqlType t) { return t == SqlType::kNChar || t == SqlType::kNVarChar || t == SqlType::kNText; }

// What a cell holds.
enum class CellState : BYTE {
  kValue,     // bytes(): the stored value (in row, or the assembled off-row value)
  kNull,      // the value is NULL
  kEmpty,     // a stored value of zero length
  kMissing,   // the record does not hold the column (added after the record was written)
  kCorrupt,   // the stored length or pointer cannot be right; nothing was read
  kComputed,  // a computed column: not read
  kDropped,   // a dropped column: not read
};

enum class ColumnRole : BYTE { kComputed, kDropped, kVariable, kFixed };

// How one column of the table's column list is found in a record.
struct ColumnPlan {
  const CColumn* column = nullptr;
  SqlType type = SqlType::kUnknown;  // from the column's own type name
  ColumnRole role = ColumnRole::kFixed;
  bool nullable = false;
  DWORD nullBit = 0;  // 1-based null-bitmap number; 0 = unknown (a nullable column then reads as NULL)
  // Fixed columns: the value's record offset and width, and the bit of a bit column.
  int offset = 0;
  int width = 0;
  BYTE bitPosition = 0;
  // Variable columns: the 1-based variable index (0 = none: the column reads as missing) and
  // the type of the stored value (the table's variable-type map, else the column's own).
  int varIndex = 0;
  SqlType storedType = SqlType::kUnknown;
  // Off-row values of this column are gathered into the cell; otherwise the cell keeps only
  // the pointer, for a consumer that streams the value itself (a Blob file, or a preview that
  // shows a marker). Set for text, ntext, varchar and nvarchar; a consumer may change it.
  bool assembleOffRow = false;
};

// Everything a walk needs to decode the records of one table, built once per walk.
class RecordPlan {
 public:
  explicit RecordPlan(const CTable& table);

  const CTable& table() const { return *m_table; }
  std::vector<ColumnPlan>& columns() { return m_columns; }
  const std::vector<ColumnPlan>& columns() const { return m_columns; }
  // Number of value texts a row has: the table's column count including dropped columns.
  int ValueCount() const { return m_valueCount; }
  // Highest variable index any column uses: variable entries beyond it are not the table's.
  int MaxVarIndex() const { return m_maxVarIndex; }
  // The column-count check: a record of N columns belongs to this table.
  bool AcceptsColumnCount(int n) const;
  // What every record of the table shows in its header, for records no slot vouches for.
  RecordShape Shape() const;

 private:
  const CTable* m_table;
  std::vector<ColumnPlan> m_columns;
  int m_catalogColumns = 0;
  int m_allColumns = 0;
  bool m_extraColumn = false;
  int m_valueCount = 0;
  int m_maxVarIndex = 0;
  int m_fixedEnd = 4;  // end of the stored fixed part; 0 when a width is not known
};

// One decoded column value.
struct RecordCell {
  CellState state = CellState::kMissing;
  bool offRow = false;    // the value is stored off row; `pointer` names it
  OffRowPointer pointer;
  bool assembled = false; // the off-row value was gathered into `lob`
  bool complete = false;  // ... whole (otherwise `lob` holds what could be read)
  // The bytes stored in the record (for an off-row value, its pointer), inside the page:
  // valid while the page buffer is.
  ByteView inRow;
  std::string lob;

  // The value's bytes: the in-row bytes, or the gathered off-row bytes.
  ByteView bytes() const {
    return offRow ? ByteView(reinterpret_cast<const BYTE*>(lob.data()), lob.size()) : inRow;
  }
};

enum class RecordType : BYTE {
  kPrimary = 0,
  kForwarded = 1,
  kForwardingStub = 2,
  kIndex = 3,
  kLargeValue = 4,
  kGhostIndex = 5,
  kGhostData = 6,
  kGhostVersion = 7,
};

struct DecodedRecord {
  RecordType type = RecordType::kPrimary;
  WORD status = 0;
  int columnCount = 0;      // N
  bool hasVarPart = false;
  int varCount = 0;         // V as stored (a forwarded record's back-pointer included)
  size_t recordEnd = 0;     // record offset just past the record's last stored byte
  std::vector<RecordCell> cells;  // one per column of the plan, in column-list order
};

enum class RecordVerdict : BYTE {
  kDecoded,
  kNoRecord,        // status word 0
  kForwardingStub,  // its forwarded record is decoded where it lies
  kGhost,           // a deleted row, and deleted rows were not asked for
  kNotData,         // index or large-value record
  kBadHeader,       // fixed-part end before the header
  kBadColumnCount,  // N fits neither the table nor the 1000-column limit
  kOutOfPage,       // a field would leave the page
};
// The layout of a data page's records: the fixed-part length F and column count N of its
// first primary record with a null bitmap. Every record of one table has the same (a system
// table's are known numbers), so the layout witnesses whose the page is. False when the
// page holds no such record.
bool PageRecordLayout(const BYTE* page, int& fixedEnd, int& columns);

const char* RecordVerdictText(RecordVerdict verdict);

// Gathers an off-row value (the engine: CSQLServer2008::ReadOffRowValue).
using OffRowReader = std::function<bool(const OffRowPointer& pointer, LobSink& sink, LobReadReport* report)>;

struct RecordDecodeOptions {
  bool includeGhosts = false;            // decode deleted (ghost) records as well
  const OffRowReader* offRow = nullptr;  // none: off-row cells keep only their pointer
};

// Decodes the record that starts at `record` (a view from the record's first byte to the end
// of its page). `out` is filled only when the verdict is kDecoded.
RecordVerdict DecodeRecord(const RecordPlan& plan, ByteView record, const RecordDecodeOptions& options,
                           DecodedRecord& out);
