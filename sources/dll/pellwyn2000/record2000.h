// Stored data records of SQL Server 2000 user tables, decoded into one value per column.
// The preview joins the values into its "$#$" row text; the export hands them, marks and all,
// to its statement builder. Both read the record through the one decoder here.
//
// Record layout (offsets from the record's first byte, little-endian):
//      0  status byte A: bits 1-3 record type; 0x10 null bitmap; 0x20 variable part    1
//      1  status byte B                                                               1
//      2  F: offset of the column count (end of the fixed part)                       2
//      4  fixed-length column data, each at its column's offset, up to F
//      F  N: columns stored in this record                                            2
//    F+2  null bitmap, B = 1 byte when N < 8, else ceil(N / 8); bit j of byte b is the
//         null bit of column position 8b + j (position = column order - 1)
//  F+2+B  V: variable entries (only with a variable part)                             2
//  F+4+B  V end offsets: the record offset just past each entry's data                2V
// F+4+B+2V  the variable data; entry i starts where entry i-1 ended
// An end offset above 8192 (bit 0x8000) marks a 16-byte text pointer at the entry's start
// (lob2000.h); the next entry then starts 16 bytes on. The variable entries are numbered by
// the columns' variable index (offset -k is entry k-1); a table with a non-unique clustered
// index keeps its uniquifier in the first entry, which no column names.
//
// Record types: 0 primary, 1 forwarded, 2 forwarding stub (the forwarded record is decoded
// where it lies), 3 index, 4 text, 5 ghost index, 6 ghost data (a deleted row), 7 other.
//
// Damaged records are expected. Every read is bounded by the page body. A header that does
// not fit rejects the record; a value whose bytes cannot be right is "Corrupt" and the other
// columns still decode; an off-row value is kept as far as it could be read.
#pragma once

#include <string>
#include <vector>

#include "common/datarecord.h"
#include "common/page.h"
#include "lob2000.h"
#include "platform/types.h"
#include "values2000.h"

class CColumn;
class CTable;

namespace rows2000 {

// CColumn::m_nValue19 of a column rebuilt from the records alone (its syscolumns row lost):
// its value is the stored bytes, read without a null bit, since which bit is whose is not known.
// An entry without bytes is NULL, or empty where the record shows no column NULL.
constexpr int kRawBytesColumn = 1;
// Whether the table's columns were rebuilt as raw bytes: no column of it is one the catalog
// named, so nothing that names its columns (keys, indexes, CHECK conditions) applies to them.
bool IsRawBytesTable(const CTable& table);

enum class ColumnRole : BYTE { kComputed, kDroppedVariable, kDroppedFixed, kVariable, kFixed };

// How one column of the table's list is found in a record; built once per walk.
struct ColumnPlan {
  const CColumn* column = nullptr;
  ColumnRole role = ColumnRole::kFixed;
  FixedColumn fixed;   // type and sizes (fixed columns: their stored width and bit)
  int position = 0;    // null-bitmap position: column order - 1
  int offset = 0;      // fixed: record offset of the value
  int varIndex = 0;    // variable: k of offset -k (1-based entry number)
  bool hasDefault = false;
  bool raw = false;    // kRawBytesColumn
};

// Everything a walk needs to decode one table's records. It reads the table and its columns
// once: the column list in list order, the catalog column count (m_nCatalogColumns), the count
// including dropped columns (m_nAllColumns), the uniquifier flag (m_nExtraColumn) and the
// types of the variable entries (m_mapVarTypes, keyed "%hd" of -1, -2, ...).
class RowPlan {
 public:
  explicit RowPlan(const CTable& table);

  const std::vector<ColumnPlan>& columns() const { return m_columns; }
  // Values a row has: one per column of the list, and at least the table's column count.
  size_t ValueCount() const { return m_valueCount; }
  // The stored type of variable entry i (0-based): its own from the table's map, else that of
  // the entry before it.
  SqlType EntryType(size_t entry) const;
  // The code page variable entry i's text is shown in: its column's, else 1252.
  unsigned EntryCodePage(size_t entry) const;
  bool AcceptsColumnCount(int n) const;
  // The table's stored column count (m_nAllColumns): a record with fewer predates some.
  int StoredColumnCount() const { return m_allColumns; }
  // A raw-bytes table: the variable entries its columns read (the uniquifier's included),
  // -1 when they read none; 0 for a table of named columns.
  int RawEntries() const { return m_rawEntries; }
  // What every record of the table shows in its header, for records no slot vouches for.
  RecordShape Shape() const;

 private:
  std::vector<ColumnPlan> m_columns;
  std::vector<SqlType> m_entryTypes;
  std::vector<unsigned> m_entryCodePages;
  size_t m_valueCount = 0;
  int m_liveColumns = 0;
  int m_allColumns = 0;
  int m_rawEntries = 0;
  bool m_uniquifier = false;
};

enum class Verdict : BYTE {
  kDecoded,
  kOutOfPage,       // the record, or a header field, lies outside the page body
  kNoRecord,        // status word 0
  kGhost,           // a deleted row, and deleted rows were not asked for
  kForwardingStub,  // the row itself is decoded where it was forwarded to
  kNotData,         // not a data record (index, text, other)
  kBadHeader,       // the fixed part ends inside the header
  kBadColumnCount,  // N fits neither the table nor the limit of 1000
};
const char* VerdictText(Verdict verdict);

struct DecodeOptions {
  Mode mode = Mode::kDisplay;
  bool recoverDeleted = false;     // decode ghost data records as well
  const LobReader* lob = nullptr;  // none: off-row values cannot be read (they come out empty)
};

struct DecodedRow {
  std::vector<Value> values;  // ValueCount() of them, column-list order first
  int columnCount = 0;        // N
  int varCount = 0;           // V (0 without a variable part)
  // Body offset just past the record's last stored byte: past the last variable entry (a text
  // pointer counts 16 bytes), or past the bitmap or V when there are no entries.
  WORD endOffset = 0;
  bool allNull = false;       // every value is NULL
  int incompleteValues = 0;   // off-row values that could not be read whole
  int entriesLeftOut = 0;     // raw-bytes table: stored entries no column reads
  lobcore::Stop firstLobStop = lobcore::Stop::kNone;
};

// Decodes the record at `recordOffset` of a page body (the 8096 bytes after the page header;
// the offset is the slot entry minus 96). `out` is filled only for kDecoded.
Verdict DecodeRecord(const RowPlan& plan, ByteView body, WORD recordOffset, const DecodeOptions& options,
                     DecodedRow& out);

// What a table's own records show of their layout, for a table whose syscolumns rows are
// lost: the fixed part's end, the variable entries, and which entries keep a text pointer.
struct RawLayout {
  int fixedEnd = 0;           // the largest F of a record taken
  int entries = 0;            // the most variable entries a record holds
  int storedColumns = 0;      // the largest N
  int records = 0;            // records taken
  std::vector<bool> pointer;  // entry i (0-based) holds a text pointer in some record
  // Takes the record `rec` starts (bounded by its end) when it is a primary, forwarded or
  // deleted (ghost) data record with a null bitmap whose header and end offsets fit; false
  // otherwise. Deleted rows count: the widest record read gives the columns.
  bool Take(ByteView rec);
};

// Gives `table` (without columns) the columns the layout shows, each marked kRawBytesColumn:
// the fixed part as binary values of at most 8000 bytes each, then each variable entry as
// varbinary(8000), or image where a record keeps a text pointer in it; the uniquifier entry of
// a table with m_nExtraColumn gets no column. The columns are Column_1, Column_2, ... in record
// order and carry no column id. False (the table unchanged) when the layout gives no column.
bool BuildRawBytesColumns(CTable& table, const RawLayout& layout);

// The preview's row text: every value shown and followed by "$#$". False (and nothing
// written) for a row whose every value is NULL, which the preview does not show.
bool PreviewRowText(const DecodedRow& row, std::string& out);

}  // namespace rows2000
