#include "record.h"

#include <algorithm>
#include <utility>

#include "common/records.h"

namespace {

constexpr BYTE kStatusVarPart = 0x20;
constexpr WORD kComplexColumn = 0x8000;
// No stored value is longer than a page's worth of row data.
constexpr size_t kMaxInRowValue = 0x2000;
// A record of more columns than this belongs to no table unless its count matches the table.
constexpr int kMaxColumnCount = 1000;
constexpr int kFixedPartStart = 4;

// Stored width of the types whose width the type fixes; 0 = the column's length decides.
int TypeWidth(SqlType type) {
  switch (type) {
    case SqlType::kBit:
    case SqlType::kTinyInt: return 1;
    case SqlType::kSmallInt: return 2;
    case SqlType::kInt:
    case SqlType::kReal:
    case SqlType::kSmallMoney:
    case SqlType::kSmallDateTime: return 4;
    case SqlType::kBigInt:
    case SqlType::kFloat:
    case SqlType::kMoney:
    case SqlType::kDateTime:
    case SqlType::kTimestamp: return 8;
    case SqlType::kDate: return 3;
    case SqlType::kUniqueIdentifier: return 16;
    default: return 0;
  }
}

bool AssemblesByDefault(SqlType type) {
  return type == SqlType::kText || type == SqlType::kNText || type == SqlType::kVarChar || type == SqlType::kNVarChar;
}

// One entry of the variable part, as stored.
struct VarEntry {
  size_t start = 0;
  size_t end = 0;
  bool complex = false;
};

}  // namespace

bool IsVariableSqlType(SqlType type, bool dropped) {
  switch (type) {
    case SqlType::kVarChar:
    case SqlType::kNVarChar:
    case SqlType::kText:
    case SqlType::kNText:
    case SqlType::kImage:
    case SqlType::kVarBinary:
    case SqlType::kXml: return true;
    case SqlType::kSqlVariant: return !dropped;
    default: return false;
  }
}

RecordPlan::RecordPlan(const CTable& table) : m_table(&table) {
  m_catalogColumns = table.m_nCatalogColumns;
  m_allColumns = table.m_nAllColumns;
  m_extraColumn = table.m_nExtraColumn != 0;
  int listLength = 0;
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext) ++listLength;
  // A table record without its count (an old scan file) still shows every listed column.
  m_valueCount = m_allColumns > 0 ? m_allColumns : listLength;

  std::vector<const CVarColumn*> varColumns;
  for (const CVarColumn* v = table.m_pVarHead; v; v = v->m_pNext) varColumns.push_back(v);

  int running = kFixedPartStart;  // running position of fixed columns without a catalog offset
  int bitCounter = 0;
  m_columns.reserve(size_t(listLength));
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext) {
    ColumnPlan p;
    p.column = c;
    p.type = SqlTypeFromName(c->m_strType);
    p.nullable = c->m_bNullable;
    p.nullBit = c->m_dwRowsetColumn;
    const bool dropped = c->m_bDropped != 0;
    // A negative position is a variable index whatever the type name says.
    const bool variable = IsVariableSqlType(p.type, dropped) || c->m_nOffset < 0;
    if (variable) {
      p.varIndex = c->m_nOffset < 0 ? -int(c->m_nOffset) : 0;
      m_maxVarIndex = std::max(m_maxVarIndex, p.varIndex);
      SqlType stored = SqlType::kUnknown;
      if (p.varIndex > 0) {
        CString mapped;
        if (table.m_mapVarTypes.Lookup(FormatString("%hd", short(-p.varIndex)).view(), mapped))
          stored = SqlTypeFromName(mapped);
        else if (IsVariableSqlType(p.type, false))
          stored = p.type;
        else if (size_t(p.varIndex) <= varColumns.size())
          stored = SqlTypeFromName(varColumns[size_t(p.varIndex) - 1]->m_strType);
      }
      p.storedType = stored;
      p.assembleOffRow = AssemblesByDefault(stored);
    }
    if (!c->m_strComputed.IsEmpty()) {
      // Computed columns take no room in the running positions.
      p.role = ColumnRole::kComputed;
      m_columns.push_back(p);
      continue;
    }
    if (variable) {
      p.role = dropped ? ColumnRole::kDropped : ColumnRole::kVariable;
      m_columns.push_back(p);
      continue;
    }
    const int typeWidth = TypeWidth(p.type);
    p.width = typeWidth ? typeWidth : int(c->m_wLength);
    if (c->m_bCatalogOffset) {
      p.offset = c->m_nOffset;
      p.bitPosition = c->m_bBitPosition;
    } else {
      p.offset = c->m_bFirstFixed ? kFixedPartStart : running;
      if (p.type == SqlType::kBit) {
        p.bitPosition = BYTE(bitCounter);
        bitCounter = (bitCounter + 1) % 8;
      }
    }
    // Dropped fixed columns still hold their bytes in older records.
    running += int(c->m_wLength);
    if (m_fixedEnd > 0) m_fixedEnd = p.width > 0 ? std::max(m_fixedEnd, p.offset + p.width) : 0;
    p.role = dropped ? ColumnRole::kDropped : ColumnRole::kFixed;
    m_columns.push_back(p);
  }
}

bool RecordPlan::AcceptsColumnCount(int n) const {
  if (n <= m_catalogColumns || n == m_allColumns) return true;
  if (m_extraColumn && n == m_catalogColumns + 1) return true;
  return n <= kMaxColumnCount;
}

RecordShape RecordPlan::Shape() const {
  RecordShape shape;
  shape.fixedEnd = m_fixedEnd;
  // A record holds every rowset column: a column dropped from the catalog still counts.
  shape.columnCount = m_allColumns > 0 ? m_allColumns : int(m_columns.size());
  for (const ColumnPlan& p : m_columns) shape.columnCount = std::max(shape.columnCount, int(p.nullBit));
  shape.uniquifier = m_extraColumn;
  shape.ghostVersion = true;
  return shape;
}

const char* RecordVerdictText(RecordVerdict verdict) {
  switch (verdict) {
    case RecordVerdict::kDecoded: return "decoded";
    case RecordVerdict::kNoRecord: return "no record";
    case RecordVerdict::kForwardingStub: return "forwarding stub";
    case RecordVerdict::kGhost: return "deleted record";
    case RecordVerdict::kNotData: return "not a data record";
    case RecordVerdict::kBadHeader: return "bad record header";
    case RecordVerdict::kBadColumnCount: return "column count fits no table";
    case RecordVerdict::kOutOfPage: return "field outside the page";
  }
  return "unknown";
}

RecordVerdict DecodeRecord(const RecordPlan& plan, ByteView record, const RecordDecodeOptions& options,
                           DecodedRecord& out) {
  ByteView r = record;
  const BYTE statusA = r.U8(0);
  const WORD status = r.U16(0);
  const WORD fixedEnd = r.U16(2);
  if (!r.ok()) return RecordVerdict::kOutOfPage;
  if (status == 0) return RecordVerdict::kNoRecord;
  const auto type = RecordType((statusA >> 1) & 7);
  switch (type) {
    case RecordType::kPrimary:
    case RecordType::kForwarded: break;
    case RecordType::kForwardingStub: return RecordVerdict::kForwardingStub;
    case RecordType::kGhostData:
    case RecordType::kGhostVersion:
      if (!options.includeGhosts) return RecordVerdict::kGhost;
      break;
    default: return RecordVerdict::kNotData;
  }
  if (fixedEnd < kFixedPartStart) return RecordVerdict::kBadHeader;
  const int n = r.U16(fixedEnd);
  if (!r.ok()) return RecordVerdict::kOutOfPage;
  if (!plan.AcceptsColumnCount(n)) return RecordVerdict::kBadColumnCount;
  const size_t bitmapAt = size_t(fixedEnd) + 2;
  const size_t bitmapBytes = BitmapBytes(n);
  ByteView bitmap = r.Sub(bitmapAt, bitmapBytes);
  if (!r.ok()) return RecordVerdict::kOutOfPage;

  // The variable part: its entries, each bounded; a forwarded record's last entry points back
  // at its stub, and entries beyond the table's own variable columns are nobody's.
  const bool hasVarPart = (statusA & kStatusVarPart) != 0;
  int storedVars = 0;
  std::vector<VarEntry> entries;
  size_t recordEnd = bitmapAt + bitmapBytes;
  if (hasVarPart) {
    const size_t countAt = bitmapAt + bitmapBytes;
    storedVars = r.U16(countAt);
    const size_t offsetsAt = countAt + 2;
    ByteView offsets = r.Sub(offsetsAt, size_t(storedVars) * 2);
    if (!r.ok()) return RecordVerdict::kOutOfPage;
    size_t start = offsetsAt + size_t(storedVars) * 2;
    recordEnd = start;
    int usable = storedVars;
    if (type == RecordType::kForwarded && usable > 0) --usable;
    usable = std::min(usable, plan.MaxVarIndex());
    entries.reserve(size_t(std::max(usable, 0)));
    for (int k = 0; k < storedVars; ++k) {
      const WORD raw = offsets.U16(size_t(k) * 2);
      VarEntry e;
      e.start = start;
      e.complex = (raw & kComplexColumn) != 0;
      e.end = e.complex ? size_t(raw & ~kComplexColumn) : size_t(raw);
      if (k < usable) {
        // A value that claims bytes outside the page means the offsets are not this record's.
        if (e.end > e.start && !r.Has(e.start, e.end - e.start)) return RecordVerdict::kOutOfPage;
        entries.push_back(e);
      }
      start = e.end;
    }
    if (storedVars > 0) recordEnd = start;
  }

  out.type = type;
  out.status = status;
  out.columnCount = n;
  out.hasVarPart = hasVarPart;
  out.varCount = storedVars;
  out.recordEnd = recordEnd;
  out.cells.assign(plan.columns().size(), RecordCell());

  auto isNull = [&](const ColumnPlan& p) {
    if (!p.nullable) return false;
    // A column beyond the record's own count was added after it was written.
    if (p.nullBit == 0 || p.nullBit > DWORD(n)) return true;
    const DWORD i = p.nullBit - 1;
    return (bitmap.data()[i / 8] >> (i % 8) & 1) != 0;
  };

  for (size_t i = 0; i < plan.columns().size(); ++i) {
    const ColumnPlan& p = plan.columns()[i];
    RecordCell& cell = out.cells[i];
    switch (p.role) {
      case ColumnRole::kComputed: cell.state = CellState::kComputed; continue;
      case ColumnRole::kDropped: cell.state = CellState::kDropped; continue;
      case ColumnRole::kFixed: {
        if (isNull(p)) {
          cell.state = CellState::kNull;
        } else if (p.offset < kFixedPartStart || p.width < 0 || p.offset + p.width > int(fixedEnd)) {
          cell.state = CellState::kMissing;
        } else {
          cell.inRow = r.Sub(size_t(p.offset), size_t(p.width));
          cell.state = CellState::kValue;
        }
        continue;
      }
      case ColumnRole::kVariable: break;
    }
    if (!hasVarPart || isNull(p)) {
      cell.state = CellState::kNull;
      continue;
    }
    if (p.varIndex < 1 || size_t(p.varIndex) > entries.size()) {
      cell.state = CellState::kMissing;
      continue;
    }
    const VarEntry& e = entries[size_t(p.varIndex) - 1];
    if (e.end == e.start) {
      cell.state = CellState::kEmpty;
      continue;
    }
    if (e.end < e.start || e.end - e.start > kMaxInRowValue) {
      cell.state = CellState::kCorrupt;
      continue;
    }
    ByteView bytes = r.Sub(e.start, e.end - e.start);
    if (!e.complex) {
      cell.inRow = bytes;
      cell.state = CellState::kValue;
      continue;
    }
    if (!ParseOffRowPointer(bytes, cell.pointer)) {
      cell.state = CellState::kCorrupt;
      continue;
    }
    cell.offRow = true;
    cell.inRow = bytes;
    cell.state = CellState::kValue;
    if (p.assembleOffRow && options.offRow && *options.offRow) {
      LobBytesSink sink;
      LobReadReport report;
      cell.complete = (*options.offRow)(cell.pointer, sink, &report);
      cell.lob = std::move(sink.bytes);
      cell.assembled = true;
      if (cell.lob.empty()) cell.state = cell.complete ? CellState::kEmpty : CellState::kCorrupt;
    }
  }
  return RecordVerdict::kDecoded;
}
