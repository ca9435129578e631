#include "record2000.h"

#include <algorithm>

#include "common/records.h"
#include "common/unicodetext.h"

namespace rows2000 {

namespace {

constexpr int kMaxStoredColumns = 1000;
// A variable entry longer than this cannot be a value of a row.
constexpr size_t kMaxEntryBytes = 8192;
constexpr WORD kPointerEndFlag = 8192;  // end offsets above this hold a text pointer

const char* const kBinaryMarker = "<binary data>";

enum RecordType : BYTE {
  kPrimary = 0,
  kForwarded = 1,
  kForwardingStub = 2,
  kGhostData = 6,
};

// One variable entry as the record stores it.
struct Entry {
  enum Kind : BYTE { kEmpty, kInRow, kPointer, kCorrupt } kind = kEmpty;
  ByteView bytes;  // in-row data, or the 16 pointer bytes
};

const char* const kNotShown = "?????";

// In-row bytes of another type (varbinary, sql_variant) read as text when they look like UTF-16
// of single-byte characters: none of the bytes at positions 1, 3 and 5 set.
bool LooksSingleByteUnicode(ByteView bytes) {
  for (size_t i : {size_t(1), size_t(3), size_t(5)})
    if (i < bytes.size() && bytes.data()[i] != 0) return false;
  return true;
}

bool IsUnicode(SqlType t) { return t == SqlType::kNText || t == SqlType::kNVarChar; }
bool IsPlainText(SqlType t) { return t == SqlType::kText || t == SqlType::kVarChar; }

// The value of variable entry `index` in the row's mode.
Value RenderEntry(const RowPlan& plan, const Entry& entry, size_t index, const DecodeOptions& options,
                  DecodedRow& row) {
  const SqlType type = plan.EntryType(index);
  const bool display = options.mode == Mode::kDisplay;
  switch (entry.kind) {
    case Entry::kEmpty: return Value::Marked(Mark::kEmpty);
    case Entry::kCorrupt: return Value::Marked(Mark::kCorrupt);
    case Entry::kInRow: {
      std::string text;
      // 8-bit text is text in both modes: a text value kept in the row (which 2000 files do
      // not hold unless asked to) is read as varchar is.
      if (IsPlainText(type)) {
        text = FilteredText(entry.bytes);
        if (display) text = CodePageShown(text, plan.EntryCodePage(index));
      } else if (display && IsUnicode(type)) {
        text = UnicodeShown(entry.bytes);
      } else if (display && type == SqlType::kSqlVariant) {
        // Its base type's header comes first: the bytes are no text to show.
        text = kBinaryMarker;
      } else if (display) {
        text = LooksSingleByteUnicode(entry.bytes) ? FilteredText(entry.bytes) : std::string(kNotShown);
      } else {
        text = HexDigits(entry.bytes);
      }
      if (text.empty()) return Value::Marked(Mark::kEmpty);
      return Value::Of(std::move(text));
    }
    case Entry::kPointer: break;
  }
  // An off-row value. The preview does not read binary ones.
  LobRender render = LobRender::kHex;
  if (display) {
    if (IsUnicode(type)) render = LobRender::kUnicode;
    else if (IsPlainText(type)) render = LobRender::kText;
    else return Value::Of(kBinaryMarker);
  } else if (IsPlainText(type)) {
    render = LobRender::kText;
  }
  std::string bytes;
  lobcore::Report report;
  TextPointer pointer;
  ParseTextPointer(entry.bytes, pointer);
  if (options.lob) {
    report = options.lob->Read(pointer, bytes);
  } else {
    report.stop = lobcore::Stop::kDamaged;
  }
  if (!report.complete()) {
    ++row.incompleteValues;
    if (row.firstLobStop == lobcore::Stop::kNone) row.firstLobStop = report.stop;
  }
  std::string text = RenderLob(bytes, render);
  if (display && render == LobRender::kText) text = CodePageShown(text, plan.EntryCodePage(index));
  if (text.empty()) {
    if (type == SqlType::kImage) return Value::Of("0x");
    return Value::Marked(Mark::kEmpty);
  }
  return Value::Of(std::move(text));
}

}  // namespace

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kDecoded: return "decoded";
    case Verdict::kOutOfPage: return "record outside the page";
    case Verdict::kNoRecord: return "no record";
    case Verdict::kGhost: return "deleted row";
    case Verdict::kForwardingStub: return "forwarding stub";
    case Verdict::kNotData: return "not a data record";
    case Verdict::kBadHeader: return "fixed part ends inside the header";
    case Verdict::kBadColumnCount: return "column count out of range";
  }
  return "unknown";
}

bool IsRawBytesTable(const CTable& table) {
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext)
    if (c->m_nValue19 == kRawBytesColumn) return true;
  return false;
}

RowPlan::RowPlan(const CTable& table)
    : m_liveColumns(table.m_nCatalogColumns),
      m_allColumns(table.m_nAllColumns),
      m_uniquifier(table.m_nExtraColumn != 0) {
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext) {
    ColumnPlan p;
    p.column = c;
    p.fixed.type = SqlTypeFromName(c->m_strType);
    p.fixed.length = c->m_wLength;
    p.fixed.precision = c->m_bPrecision;
    p.fixed.scale = c->m_bScale;
    p.fixed.bitPosition = c->m_bBitPosition;
    if (const unsigned codePage = CodePageOfCollation(c->m_dwCollation)) p.fixed.codePage = codePage;
    p.position = int(c->m_wColOrder) - 1;
    p.hasDefault = !c->m_strDefault.IsEmpty();
    p.raw = c->m_nValue19 == kRawBytesColumn;
    const bool variable = IsVariableType(p.fixed.type);
    if (!c->m_strComputed.IsEmpty()) p.role = ColumnRole::kComputed;
    else if (c->m_bDropped) p.role = variable ? ColumnRole::kDroppedVariable : ColumnRole::kDroppedFixed;
    else p.role = variable ? ColumnRole::kVariable : ColumnRole::kFixed;
    if (variable) p.varIndex = c->m_nOffset < 0 ? -int(c->m_nOffset) : 0;
    else p.offset = c->m_nOffset;
    if (p.role == ColumnRole::kVariable && p.varIndex > 0) {
      if (m_entryCodePages.size() < size_t(p.varIndex)) m_entryCodePages.resize(size_t(p.varIndex), 1252);
      m_entryCodePages[size_t(p.varIndex) - 1] = p.fixed.codePage;
    }
    m_columns.push_back(p);
  }
  // A table rebuilt as raw bytes has one value per rebuilt column, however many columns its
  // records store.
  const bool raw = std::any_of(m_columns.begin(), m_columns.end(), [](const ColumnPlan& p) { return p.raw; });
  m_valueCount = raw ? m_columns.size() : std::max(m_columns.size(), size_t(std::max(m_allColumns, 0)));
  if (raw) {
    // The uniquifier entry has no column but is read all the same.
    m_rawEntries = m_uniquifier ? 1 : 0;
    for (const ColumnPlan& p : m_columns)
      if (p.raw && p.role == ColumnRole::kVariable) m_rawEntries = std::max(m_rawEntries, p.varIndex);
    if (m_rawEntries == 0) m_rawEntries = -1;  // fixed part only: every entry is left out
  }
  // Entry i's type is the map's under -(i+1); an entry the map does not name takes the type of
  // the entry before it. Entries past the last named one keep the last type.
  int last = 0;
  for (const auto& [key, type] : table.m_mapVarTypes) {
    const int k = std::atoi(key.c_str());
    if (k < 0 && k >= -0x7FFF) last = std::max(last, -k);
  }
  SqlType previous = SqlType::kUnknown;
  for (int i = 1; i <= last; ++i) {
    CString type;
    if (table.m_mapVarTypes.Lookup(FormatString("%hd", short(-i)).view(), type)) previous = SqlTypeFromName(type);
    m_entryTypes.push_back(previous);
  }
}

unsigned RowPlan::EntryCodePage(size_t entry) const {
  return entry < m_entryCodePages.size() ? m_entryCodePages[entry] : 1252;
}

SqlType RowPlan::EntryType(size_t entry) const {
  if (entry < m_entryTypes.size()) return m_entryTypes[entry];
  return m_entryTypes.empty() ? SqlType::kUnknown : m_entryTypes.back();
}

RecordShape RowPlan::Shape() const {
  RecordShape shape;
  // The fixed part ends after the last stored fixed value, dropped ones included.
  shape.fixedEnd = 4;
  for (const ColumnPlan& p : m_columns) {
    if (p.role != ColumnRole::kFixed && p.role != ColumnRole::kDroppedFixed) continue;
    // A timestamp is read as nothing but stored in 8 bytes.
    const size_t width = p.fixed.type == SqlType::kTimestamp ? 8 : FixedWidth(p.fixed);
    if (width == 0 || p.offset < 4) {
      shape.fixedEnd = 0;  // a value whose place is not known: F cannot be told
      break;
    }
    shape.fixedEnd = std::max(shape.fixedEnd, p.offset + int(width));
  }
  shape.columnCount = m_allColumns > 0 ? m_allColumns : int(m_columns.size());
  shape.uniquifier = m_uniquifier;
  return shape;
}

bool RowPlan::AcceptsColumnCount(int n) const {
  if (n <= kMaxStoredColumns) return true;
  return n <= m_liveColumns || n == m_allColumns || (m_uniquifier && n == m_liveColumns + 1);
}

Verdict DecodeRecord(const RowPlan& plan, ByteView body, WORD recordOffset, const DecodeOptions& options,
                     DecodedRow& out) {
  if (recordOffset >= body.size()) return Verdict::kOutOfPage;
  ByteView rec = body.Sub(recordOffset, body.size() - recordOffset);
  const BYTE statusA = rec.U8(0);
  const WORD status = rec.U16(0);
  const WORD fixedEnd = rec.U16(2);
  if (!rec.ok()) return Verdict::kOutOfPage;
  if (status == 0) return Verdict::kNoRecord;
  switch ((statusA >> 1) & 7) {
    case kPrimary:
    case kForwarded: break;
    case kGhostData:
      if (!options.recoverDeleted) return Verdict::kGhost;
      break;
    case kForwardingStub: return Verdict::kForwardingStub;
    default: return Verdict::kNotData;
  }
  if (fixedEnd < 4) return Verdict::kBadHeader;
  const int n = rec.U16(fixedEnd);
  if (!rec.ok()) return Verdict::kOutOfPage;
  if (!plan.AcceptsColumnCount(n)) return Verdict::kBadColumnCount;
  const size_t bitmapBytes = BitmapBytes(n);
  const ByteView bitmap = rec.Sub(size_t(fixedEnd) + 2, bitmapBytes);
  if (!rec.ok()) return Verdict::kOutOfPage;

  // The variable entries, told apart (and bounded) before any column reads one.
  const bool hasVarPart = (statusA & 0x20) != 0;
  size_t pos = size_t(fixedEnd) + 2 + bitmapBytes;
  std::vector<Entry> entries;
  if (hasVarPart) {
    const int v = rec.U16(pos);
    const ByteView ends = rec.Sub(pos + 2, size_t(v) * 2);
    if (!rec.ok()) return Verdict::kOutOfPage;
    pos += 2 + size_t(v) * 2;
    entries.resize(size_t(v));
    for (int i = 0; i < v; ++i) {
      Entry& e = entries[size_t(i)];
      const WORD end = ReadU16(ends.data() + 2 * i);
      if (end == pos) {
        e.kind = Entry::kEmpty;
      } else if (end > kPointerEndFlag) {
        e.kind = rec.Has(pos, kTextPointerSize) ? Entry::kPointer : Entry::kCorrupt;
        if (e.kind == Entry::kPointer) e.bytes = ByteView(rec.data() + pos, kTextPointerSize);
        pos += kTextPointerSize;
      } else {
        // An end before the entry's start wraps to a length no entry has.
        const size_t length = size_t(WORD(end - pos));
        if (length > kMaxEntryBytes || !rec.Has(pos, length)) {
          e.kind = Entry::kCorrupt;
        } else {
          e.kind = Entry::kInRow;
          e.bytes = ByteView(rec.data() + pos, length);
        }
        pos = end;
      }
    }
  }

  DecodedRow row;
  row.columnCount = n;
  row.varCount = int(entries.size());
  row.endOffset = WORD(std::min<size_t>(size_t(recordOffset) + pos, body.size()));
  row.values.assign(plan.ValueCount(), Value::Marked(Mark::kEmpty));
  std::vector<char> rendered(entries.size(), 0);
  std::vector<Value> entryValues(entries.size());
  auto entryValue = [&](size_t i) -> const Value& {
    if (!rendered[i]) {
      entryValues[i] = RenderEntry(plan, entries[i], i, options, row);
      rendered[i] = 1;
    }
    return entryValues[i];
  };
  auto nullBit = [&](int position) {
    if (position < 0 || size_t(position) >= bitmapBytes * 8) return false;
    return (bitmap.data()[position / 8] >> (position % 8) & 1) != 0;
  };
  // No column of the record is NULL: every null bit of its N columns is clear.
  bool noNullBit = true;
  for (int position = 0; position < n && noNullBit; ++position) noNullBit = !nullBit(position);
  // Entries past the last one a raw-bytes column reads have no column to go to: counted, so
  // the walk says what it left out.
  if (plan.RawEntries() != 0) {
    const size_t read = size_t(std::max(plan.RawEntries(), 0));
    if (entries.size() > read) row.entriesLeftOut = int(entries.size() - read);
  }
  const bool display = options.mode == Mode::kDisplay;
  // A column the record predates (it was added later): the preview shows what the table gives
  // it, the export leaves it to the server.
  auto missing = [&](const ColumnPlan& p) {
    if (display && p.hasDefault) return Value{Mark::kDefault, p.column->m_strDefault.str()};
    return Value::Marked(Mark::kNull);
  };

  size_t varSeen = 0;  // variable-type columns visited, dropped or live
  const std::vector<ColumnPlan>& columns = plan.columns();
  for (size_t i = 0; i < columns.size(); ++i) {
    const ColumnPlan& p = columns[i];
    Value& value = row.values[i];
    if (p.raw) {
      // Raw bytes: the fixed part as far as this record has it, a variable entry as stored.
      // An entry without bytes is a NULL or an empty value, and which null bit is its own is
      // not known: it is empty only when the record marks no column NULL; an entry the record
      // does not store also needs the record to hold every column, or it may be one added
      // after the record was written.
      if (p.role == ColumnRole::kFixed) {
        const size_t width = std::min<size_t>(FixedWidth(p.fixed), fixedEnd > p.offset ? fixedEnd - p.offset : 0);
        value = p.offset >= 4 && width > 0 ? Value::Of("0x" + HexDigits(rec.Sub(size_t(p.offset), width)))
                                           : Value::Marked(Mark::kNull);
      } else if (p.varIndex < 1) {
        value = Value::Marked(Mark::kNull);
        ++varSeen;
      } else if (size_t(p.varIndex) > entries.size() || entries[size_t(p.varIndex) - 1].kind == Entry::kEmpty) {
        const bool stored = size_t(p.varIndex) <= entries.size();
        value = noNullBit && (stored || n >= plan.StoredColumnCount()) ? Value::Marked(Mark::kEmpty)
                                                                        : Value::Marked(Mark::kNull);
        ++varSeen;
      } else {
        const Entry& e = entries[size_t(p.varIndex) - 1];
        value = e.kind == Entry::kInRow ? Value::Of((display ? "0x" : "") + HexDigits(e.bytes))
                                        : entryValue(size_t(p.varIndex) - 1);
        ++varSeen;
      }
      continue;
    }
    switch (p.role) {
      case ColumnRole::kComputed: value = Value::Marked(Mark::kFormula); break;
      case ColumnRole::kDroppedFixed: value = Value::Marked(Mark::kDeleted); break;
      case ColumnRole::kDroppedVariable:
        value = varSeen < entries.size() ? entryValue(varSeen) : Value::Marked(Mark::kDeleted);
        ++varSeen;
        break;
      case ColumnRole::kVariable:
        if (p.position >= n) {
          value = missing(p);
        } else if (!hasVarPart || nullBit(p.position)) {
          value = Value::Marked(Mark::kNull);
        } else if (p.varIndex < 1 || size_t(p.varIndex) > entries.size()) {
          // Trailing entries of empty values are not stored.
          value = Value::Marked(Mark::kEmpty);
        } else {
          value = entryValue(size_t(p.varIndex) - 1);
        }
        if (hasVarPart) ++varSeen;
        break;
      case ColumnRole::kFixed: {
        if (p.position >= n) {
          value = missing(p);
          break;
        }
        if (nullBit(p.position)) {
          value = Value::Marked(Mark::kNull);
          break;
        }
        // A fixed value must lie in the fixed part; beyond it are the record's own fields.
        const size_t width = FixedWidth(p.fixed);
        const bool stored = width == 0 || (p.offset >= 4 && size_t(p.offset) + width <= fixedEnd);
        value = stored ? RenderFixed(p.fixed, width ? rec.Sub(size_t(p.offset), width) : ByteView(), options.mode)
                       : Value::Marked(Mark::kCorrupt);
        break;
      }
    }
  }
  row.allNull = !row.values.empty() && std::all_of(row.values.begin(), row.values.end(),
                                                   [](const Value& v) { return v.mark == Mark::kNull; });
  out = std::move(row);
  return Verdict::kDecoded;
}

bool RawLayout::Take(ByteView rec) {
  const BYTE status = rec.U8(0);
  const WORD f = rec.U16(2);
  const int type = (status >> 1) & 7;
  // A deleted row keeps its bytes as it was written: it may hold more entries than any live
  // row, and a column the layout does not give would drop them.
  if (!rec.ok() || (type != kPrimary && type != kForwarded && type != kGhostData) || !(status & 0x10) || f < 4)
    return false;
  const int n = rec.U16(f);
  if (!rec.ok() || n == 0 || n > kMaxStoredColumns) return false;
  int v = 0;
  std::vector<bool> holds;
  if (status & 0x20) {
    const size_t at = size_t(f) + 2 + BitmapBytes(n);
    v = rec.U16(at);
    if (!rec.ok() || v > n) return false;
    const ByteView ends = rec.Sub(at + 2, size_t(v) * 2);
    if (!rec.ok()) return false;
    holds.resize(size_t(v), false);
    for (int i = 0; i < v; ++i) holds[size_t(i)] = ReadU16(ends.data() + 2 * i) > kPointerEndFlag;
  }
  fixedEnd = std::max<int>(fixedEnd, f);
  entries = std::max(entries, v);
  storedColumns = std::max(storedColumns, n);
  if (pointer.size() < holds.size()) pointer.resize(holds.size(), false);
  for (size_t i = 0; i < holds.size(); ++i) pointer[i] = pointer[i] || holds[i];
  ++records;
  return true;
}

bool BuildRawBytesColumns(CTable& table, const RawLayout& layout) {
  // The uniquifier of a clustered index that is not unique is the first entry: no column.
  const int firstEntry = table.m_nExtraColumn ? 2 : 1;
  if (table.m_pColumnHead || layout.records == 0 || (layout.fixedEnd <= 4 && layout.entries < firstEntry))
    return false;
  int order = 0;
  auto add = [&](CColumn* column) {
    column->m_wColOrder = WORD(++order);
    column->m_strName = FormatString("Column_%d", order);
    column->m_strUserType = column->m_strType;
    column->m_bNullable = true;
    // No column id: the table's keys and indexes name columns this table no longer knows.
    column->m_nColumnId = 0;
    column->m_nValue19 = kRawBytesColumn;
    table.AppendColumn(column);
  };
  constexpr int kMostBinaryBytes = 8000;
  for (int at = 4; at < layout.fixedEnd; at += kMostBinaryBytes) {
    auto* column = new CColumn;
    column->m_strType = "binary";
    column->m_wLength = WORD(std::min(kMostBinaryBytes, layout.fixedEnd - at));
    column->m_nOffset = short(at);
    add(column);
  }
  for (int entry = firstEntry; entry <= layout.entries; ++entry) {
    auto* column = new CColumn;
    const bool offRow = size_t(entry - 1) < layout.pointer.size() && layout.pointer[size_t(entry - 1)];
    column->m_strType = offRow ? "image" : "varbinary";
    column->m_wLength = offRow ? WORD(kTextPointerSize) : WORD(kMostBinaryBytes);
    column->m_nOffset = short(-entry);
    add(column);
    auto* var = new CVarColumn;
    var->m_strName = column->m_strName;
    var->m_strType = column->m_strType;
    var->m_wColOrder = column->m_wColOrder;
    var->m_wLength = column->m_wLength;
    var->m_nVarIndex = column->m_nOffset;
    table.AppendVarColumn(var);
    table.m_mapVarTypes.SetAt(FormatString("%hd", short(-entry)).view(), column->m_strType);
    ++table.m_nVarColumns;
    ++table.m_wVarColumnCap;
  }
  if (table.m_nExtraColumn) table.m_mapVarTypes.SetAt(CString("-1").view(), CString("varbinary"));
  table.m_nCatalogColumns = order;
  // The column count the records store: deleted rows no slot vouches for are told by it.
  table.m_nAllColumns = layout.storedColumns;
  table.m_nBitColumns = 0;
  return true;
}

bool PreviewRowText(const DecodedRow& row, std::string& out) {
  if (row.allNull) return false;
  for (const Value& v : row.values) {
    out += v.Shown();
    out += "$#$";
  }
  return true;
}

}  // namespace rows2000
