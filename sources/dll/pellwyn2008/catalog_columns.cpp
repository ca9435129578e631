// Column catalog (system object 41), physical column positions and the last touches to the
// schema: filtering the table map and indexing columns by column id.
//
// Where each column lies in a stored row comes from the catalog, never from the column order:
// a row need not store its columns in column order (an upgraded table keeps the uniquifier of
// a clustered index that is not unique as its first variable entry; SQL Server 2005 and later
// store the clustered key's columns first). 2008-format files keep the places in system
// object 3, 2005-format files (on-disk versions below 655) in objects 13 and 4:
//   3  rowset column  4 rowset id (8), 12 rowset column id, 16 hobt column id, 28 type
//                     information, 32 collation, 40 status, 44 offset (low 16 bits: in the
//                     leaf rows), 48 null bit, 52 bit position
//   13 hobt column    4 hobt id (8), 12 hobt column id, 16 status, 20 key ordinal (2),
//                     22 type (1), 23 length (2), 25 precision, 26 scale, 27 collation (4),
//                     31 offset (low 16 bits: leaf), 35 bit position (2; low byte: leaf),
//                     37 null bit (low 16 bits: leaf); F = 41
//   4  rowset column  4 rowset id (8), 12 rowset column id, 16 hobt column id, 20 status; F = 34
// Rowset column 0 is the uniquifier. A rowset and its hobt share their id. Where the catalog
// holds no place for a column, the decoders compute one from the column order (logged).
#include <algorithm>

#include "common/executionlog.h"
#include "common/names.h"
#include "common/page.h"
#include "common/sqltext.h"
#include "common/sqltypes.h"
#include "common/defaultobjects.h"
#include "pellwyn2008.h"

namespace {

constexpr size_t kMaxNameBytes = 500;
constexpr int kCatalogSlotLimit = 500;
constexpr DWORD kFirstUserObjectId = 200;
// The boot page, and its on-disk version field (after the page header); 2008 begins at 655.
constexpr DWORD kBootPageId = 9;
constexpr size_t kBootVersionOffset = 4;
constexpr int kFirst2008Version = 655;
// Fixed parts of the 2005 position catalogs' rows (objects 13 and 4), up to the last field read.
constexpr WORD kHobtColumnFixedEnd = 41;
constexpr WORD kRowsetColumnFixedEnd = 20;
// Column status bits of a column row.
constexpr DWORD kColumnNotNull = 0x01;
constexpr DWORD kColumnIdentity = 0x04;
// Status bit of a rowset-column row whose column was dropped from the table.
constexpr DWORD kRsColDropped = 0x02;
// Status bit of a rowset-column row (system object 3) whose column takes no NULL.
constexpr DWORD kRsColNotNull = 0x80;
// Status bit of a hobt-column row (system object 13) whose column takes no NULL.
constexpr DWORD kHobtColumnNotNull = 0x20;
// The fixed part of a stored row ends before the largest record size.
constexpr int kMaxRecordSize = 8060;
// The longest binary a column declares; past it, varbinary(max).
constexpr WORD kMaxBinaryLength = 8000;
// Column orders are 16-bit; a table never holds more columns than a short can index.
constexpr int kMaxColumnsPerTable = 0x7FFF;

// Types that get a variable-column record and a variable index from the column catalog.
bool IsCatalogVarType(const CString& type) {
  for (const char* t : {"varchar", "nvarchar", "ntext", "text", "image", "varbinary", "xml"})
    if (type == t) return true;
  return false;
}

// Types the record decoders read from the variable part.
bool IsStoredVarType(const CString& type) { return IsCatalogVarType(type) || type == "sql_variant"; }

// The identity value block holds, each in the column's own width: the last value handed
// out, the seed and the increment. Decimal identities hold 20-byte numerics whose
// magnitude starts 4 bytes in. False when the block is too short or the type cannot hold
// an identity.
bool ReadIdentityValues(ByteView block, const CString& type, INT64& seed, INT64& increment) {
  if (type == "tinyint") {
    seed = block.U8(1);
    increment = block.U8(2);
  } else if (type == "smallint") {
    seed = block.I16(2);
    increment = block.I16(4);
  } else if (type == "int") {
    seed = block.I32(4);
    increment = block.I32(8);
  } else if (type == "bigint") {
    seed = block.I64(8);
    increment = block.I64(16);
  } else if (type == "decimal" || type == "numeric") {
    seed = INT64(block.U64(24) & 0x7FFFFFFFFFFFFFFFull);
    increment = INT64(block.U64(44) & 0x7FFFFFFFFFFFFFFFull);
    block.U8(59);
  } else {
    return false;
  }
  return block.ok();
}

// First column of the list with this column order; a live column wins over a dropped one.
CColumn* FindColumnByOrder(CTable* table, DWORD order) {
  CColumn* dropped = nullptr;
  for (CColumn* c = table->m_pColumnHead; c; c = c->m_pNext) {
    if (c->m_wColOrder != order) continue;
    if (!c->m_bDropped) return c;
    if (!dropped) dropped = c;
  }
  return dropped;
}

CVarColumn* FindVarColumnByOrder(CTable* table, DWORD order) {
  for (CVarColumn* v = table->m_pVarHead; v; v = v->m_pNext)
    if (v->m_wColOrder == order) return v;
  return nullptr;
}

// A live row (record type 0, with its null bitmap) of a 2005 position catalog whose fixed
// part holds every field up to `fixedEnd`.
bool IsLivePositionRow(ByteView& rec, WORD fixedEnd) {
  const BYTE statusA = rec.U8(0);
  const WORD stored = rec.U16(2);
  return rec.ok() && ((statusA >> 1) & 7) == 0 && (statusA & 0x10) && stored >= fixedEnd;
}

// True when the rowset-column catalog placed a column of any table.
bool AnyColumnPlaced(const CStringKeyMap<CTable*>& tables) {
  for (const auto& entry : tables)
    for (const CColumn* c = entry.second ? entry.second->m_pColumnHead : nullptr; c; c = c->m_pNext)
      if (c->m_bCatalogOffset) return true;
  return false;
}

// Variable-column records in column-id order; an equal id goes after the existing ones.
void InsertVarColumnInOrder(CTable* table, CVarColumn* varColumn) {
  CVarColumn* previous = nullptr;
  CVarColumn* next = table->m_pVarHead;
  while (next && next->m_wColOrder <= varColumn->m_wColOrder) {
    previous = next;
    next = next->m_pNext;
  }
  varColumn->m_pNext = next;
  if (previous) previous->m_pNext = varColumn;
  else table->m_pVarHead = varColumn;
  if (!next) table->m_pVarTail = varColumn;
}

// Where the catalog gives no places, stored rows are taken to hold their variable columns in
// column-id order, whatever order the catalog rows came in (a backup's pages need not be in
// page order): the k-th variable-length column of the list has variable index -k, in its
// column and in its variable-column record. The uniquifier of a clustered index that is not
// unique comes before them all.
void NumberVarColumns(CTable* table) {
  short index = table->m_nExtraColumn ? -1 : 0;
  CVarColumn* varColumn = table->m_pVarHead;
  for (CColumn* c = table->m_pColumnHead; c; c = c->m_pNext) {
    if (!IsCatalogVarType(c->m_strType)) continue;
    --index;
    if (!c->m_bCatalogOffset) c->m_nOffset = index;
    if (varColumn) {
      varColumn->m_nVarIndex = index;
      varColumn = varColumn->m_pNext;
    }
  }
}

// The length, precision and scale a column row declares for a type whose stored layout gives
// none of them: what the column catalog holds for a column of that type. False for the
// types that carry their own.
bool DeclaredTypeSize(BYTE systemType, WORD& length, BYTE& precision, BYTE& scale) {
  struct Size {
    BYTE id;
    WORD length;
    BYTE precision, scale;
  };
  static constexpr Size kSizes[] = {
      {48, 1, 3, 0},    {52, 2, 5, 0},   {56, 4, 10, 0},  {127, 8, 19, 0}, {104, 1, 1, 0},  // integers, bit
      {59, 4, 24, 0},   {62, 8, 53, 0},                                                     // real, float
      {60, 8, 19, 4},   {122, 4, 10, 4},                                                    // money, smallmoney
      {61, 8, 23, 3},   {58, 4, 16, 0},  {40, 3, 10, 0},                                    // datetime, smalldatetime, date
      {36, 16, 0, 0},   {189, 8, 0, 0},                                                     // uniqueidentifier, timestamp
      {34, 16, 0, 0},   {35, 16, 0, 0},  {99, 16, 0, 0},                                    // image, text, ntext (pointers)
      {98, 8016, 0, 0}, {241, 0xFFFF, 0, 0},                                                // sql_variant, xml
  };
  for (const Size& s : kSizes) {
    if (s.id != systemType) continue;
    length = s.length;
    precision = s.precision;
    scale = s.scale;
    return true;
  }
  return false;
}

// time, datetime2 and datetimeoffset of a scale: the width of their values and the precision
// the column catalog gives them (the digits of their longest text). False for a scale no
// server writes.
bool TimeTypeSize(BYTE systemType, BYTE scale, WORD& length, BYTE& precision) {
  if (scale > 7) return false;
  const int timeBytes = scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
  const int fraction = scale ? scale + 1 : 0;  // the point and the digits
  switch (systemType) {
    case 41: length = WORD(timeBytes); precision = BYTE(8 + fraction); return true;
    case 42: length = WORD(timeBytes + 3); precision = BYTE(19 + fraction); return true;
    case 43: length = WORD(timeBytes + 5); precision = BYTE(26 + fraction); return true;
    default: return false;
  }
}

// The type of a column from the type information of its rowset-column row, as the column
// catalog would declare it: the type id in the low byte; above it the byte length of the
// sized types (0: a (max) type), the precision and scale of decimal and numeric, the scale of
// the time types. The types whose size is fixed carry nothing above the id and get the
// catalog's own length, precision and scale. An id this reader does not know keeps the
// length the sized types' layout would give it.
void TypeFromTypeInfo(DWORD typeInfo, WORD& length, BYTE& precision, BYTE& scale) {
  const BYTE systemType = BYTE(typeInfo & 0xFF);
  length = 0;
  precision = scale = 0;
  if (DeclaredTypeSize(systemType, length, precision, scale)) return;
  switch (systemType) {
    case 106: case 108:                                              // decimal, numeric
      precision = BYTE((typeInfo >> 8) & 0xFF);
      scale = BYTE((typeInfo >> 16) & 0xFF);
      length = precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
      return;
    case 41: case 42: case 43:                                       // time, datetime2, datetimeoffset
      scale = BYTE((typeInfo >> 8) & 0xFF);
      TimeTypeSize(systemType, scale, length, precision);
      return;
    default:
      length = WORD((typeInfo >> 8) & 0xFFFF);
      // A sized type whose layout gives no length is a (max) type; the catalog says 0xFFFF.
      if (length == 0 && !CSQLServer2008::GetTypeName(systemType).IsEmpty()) length = 0xFFFF;
      return;
  }
}

// The type fields of a column as its column row declares them. A column rebuilt from the
// stored layout gets them through here too, so the record decoders, the preview and the
// scripts see the same column either way.
void SetColumnType(CColumn* column, const CString& type, WORD length, BYTE precision, BYTE scale, DWORD collation) {
  column->m_strType = type;
  column->m_strUserType = type;
  column->m_dwCollation = collation;
  column->m_wLength = length;
  column->m_bPrecision = precision;
  column->m_bScale = scale;
}

// How a column rebuilt from its stored layout is declared. A type the layout names keeps its
// length, precision, scale and collation. A layout that names no type this reader can decode
// (a CLR type, an unknown type id, a size no server writes) is declared as the bytes it
// stores, `asBytes` saying why: varbinary for a value of the variable part ((max) when its
// length is not a plain one), binary of its width for one of the fixed part. `type` stays
// empty when not even that width is known.
struct RebuiltType {
  CString type;
  WORD length = 0;
  BYTE precision = 0;
  BYTE scale = 0;
  DWORD collation = 0;
  CString asBytes;
};

// `fixedWidth`: the bytes from the column's fixed offset to the next column's, 0 when no
// column follows it in the fixed part.
RebuiltType DeclareRebuiltType(BYTE systemType, WORD length, BYTE precision, BYTE scale, DWORD collation, short offset,
                               WORD fixedWidth) {
  const CString name = CSQLServer2008::GetTypeName(systemType);
  RebuiltType out;
  WORD timeLength = 0, declaredLength = 0;
  BYTE timePrecision = 0, declaredPrecision = 0, declaredScale = 0;
  const bool fixedCharacters = systemType == 173 || systemType == 175 || systemType == 239;  // binary, char, nchar
  if (systemType == 240) {
    out.asBytes = "a CLR type (type id 240), kept as its serialised bytes";
  } else if (name.IsEmpty()) {
    out.asBytes = FormatString("type id %d names no type of these formats", int(systemType));
  } else if ((DeclaredTypeSize(systemType, declaredLength, declaredPrecision, declaredScale) &&
              length != declaredLength) ||
             (fixedCharacters && (length < 1 || length > kMaxBinaryLength))) {
    out.asBytes = FormatString("%s of length %d", name, int(length));
  } else if ((systemType == 106 || systemType == 108) && (precision < 1 || precision > 38 || scale > precision)) {
    out.asBytes = FormatString("%s with precision %d and scale %d", name, int(precision), int(scale));
  } else if (systemType >= 41 && systemType <= 43 &&
             (!TimeTypeSize(systemType, scale, timeLength, timePrecision) || timeLength != length)) {
    out.asBytes = FormatString("%s with scale %d and length %d", name, int(scale), int(length));
  } else {
    out.type = name;
    out.length = length;
    out.precision = precision;
    out.scale = scale;
    out.collation = collation;
    return out;
  }
  const bool plainLength = length >= 1 && length <= kMaxBinaryLength;
  if (offset < 0) {
    out.type = "varbinary";
    out.length = plainLength ? length : WORD(0xFFFF);
  } else {
    out.length = plainLength ? length : fixedWidth <= kMaxBinaryLength ? fixedWidth : WORD(0);
    if (out.length) out.type = "binary";
  }
  return out;
}

// Puts a column, its fields set, into its table: the column list and the variable-column
// records in column-id order (an equal id after the existing ones), and the table's counts.
void AttachColumn(CTable* table, CColumn* column, bool deleted) {
  const WORD order = column->m_wColOrder;
  const bool variable = IsCatalogVarType(column->m_strType);
  if (column->m_strType == "bit") ++table->m_nBitColumns;
  if (table->m_nMaxColumnId < int(order)) table->m_nMaxColumnId = order;
  if (variable) ++table->m_nVarColumns;
  // Column list in ascending column id; an equal id goes after the existing ones.
  CColumn* previous = nullptr;
  CColumn* next = table->m_pColumnHead;
  while (next && next->m_wColOrder <= order) {
    previous = next;
    next = next->m_pNext;
  }
  column->m_pNext = next;
  if (previous) previous->m_pNext = column;
  else table->m_pColumnHead = column;
  if (!next) table->m_pColumnTail = column;

  column->m_bDropped = deleted ? 1 : 0;
  if (variable) {
    if (!deleted) ++table->m_wVarColumnCap;
    auto* varColumn = new CVarColumn;
    varColumn->m_strName = column->m_strName;
    varColumn->m_strDefault = column->m_strDefault;
    varColumn->m_strType = column->m_strType;
    varColumn->m_wColOrder = order;
    varColumn->m_wLength = column->m_wLength;
    varColumn->m_dwRowsetColumn = order;
    InsertVarColumnInOrder(table, varColumn);
    NumberVarColumns(table);
  }
  if (!deleted) ++table->m_nCatalogColumns;
  ++table->m_nAllColumns;
}

}  // namespace

CString CSQLServer2008::GetTypeName(BYTE systemTypeId) { return SqlTypeName(systemTypeId, true); }

BYTE CSQLServer2008::BuildColumnStatus(BYTE systemTypeId, DWORD status) {
  const bool large = systemTypeId == 34 || systemTypeId == 35;
  int sum = 0;
  if (!(status & 0x01)) sum += 0x08;
  if ((status & 0x02) || (large && (status & 0x20000))) sum += 0x10;
  if (large ? (status & 0x40000) != 0
            : ((systemTypeId == 173 || systemTypeId == 175 || systemTypeId == 189) && !(status & 0x01)))
    sum += 0x20;
  if (status & 0x200) sum += 0x40;
  if (status & 0x10) sum += 0x40;
  if (status & 0x04) sum += 0x80;
  return BYTE(sum);
}

void CSQLServer2008::ReadColumnInfo() { WalkSystemTable("41", &CSQLServer2008::DecodeColumnRow, 500); }

void CSQLServer2008::DecodeColumnRow(BYTE* body, WORD recordOffset) {
  ByteView rec = RecordView(body, recordOffset);
  const BYTE statusA = rec.U8(0);
  if (!rec.ok()) return;
  // Ghost rows (record types 6 and 7) are columns that were dropped: kept as such. Other
  // record kinds (forwarding stubs, index records) are no column rows at all.
  const int recordType = (statusA >> 1) & 7;
  const bool deleted = recordType == 6 || recordType == 7;
  if ((recordType != 0 && !deleted) || !(statusA & 0x10) || !(statusA & 0x20)) return;

  const WORD fixedEnd = rec.U16(2);
  const int objectId = rec.I32(4);
  const DWORD columnId = rec.U32(10);
  const BYTE systemType = rec.U8(14);
  const int userType = rec.I32(15);
  const WORD length = rec.U16(19);
  const BYTE precision = rec.U8(21);
  const BYTE scale = rec.U8(22);
  const DWORD collation = rec.U32(23);
  const DWORD status = rec.U32(27);
  const int defaultId = rec.I32(37);
  if (!rec.ok() || fixedEnd > kPageSize) return;
  // chk, beside the default id: the rule bound to the column (CHECK constraints are objects
  // of their own here).
  const int ruleId = fixedEnd >= 45 && rec.Has(41, 4) ? rec.I32(41) : 0;

  WORD n = rec.U16(fixedEnd);
  if (n > 50) n &= 0xFF;
  const size_t bitmap = BitmapBytes(n);
  const size_t v = rec.U16(fixedEnd + 2 + bitmap) & 0xFF;
  const WORD nameEnd = rec.U16(fixedEnd + 4 + bitmap);
  if (!rec.ok()) return;
  const size_t nameStart = fixedEnd + 4 + bitmap + 2 * v;
  if (nameEnd < nameStart || nameEnd - nameStart > kMaxNameBytes) return;
  ByteView raw = rec.Sub(nameStart, nameEnd - nameStart);
  if (!rec.ok()) return;

  CString name;
  const bool decodable = DecodeStoredName(raw, name);
  name.Trim();

  const CString typeName = GetTypeName(systemType);
  const bool identity = (status & kColumnIdentity) != 0;
  INT64 seed = 0, increment = 0;
  if (identity) {
    // The identity values are the second variable column.
    bool read = false;
    if (v >= 2) {
      const WORD valuesEnd = rec.U16(fixedEnd + 6 + bitmap) & 0x7FFF;
      if (rec.ok() && valuesEnd >= nameEnd) {
        ByteView block = rec.Sub(nameEnd, valuesEnd - nameEnd);
        read = rec.ok() && ReadIdentityValues(block, typeName, seed, increment);
      }
      rec.clear_error();
    }
    // SQL Server's own default, rather than an IDENTITY(0,0) no server would accept.
    if (!read || increment == 0) {
      seed = 1;
      increment = 1;
    }
  }

  // A view's columns name the keys of its indexes; a name that is no text names none.
  CViewStoredProc* view = nullptr;
  if (m_mapViews.Lookup(FormatString("%ld", objectId).view(), view) && view) {
    if (!deleted) view->AddColumn(int(columnId & 0xFFFF), decodable ? name : CString());
    return;
  }
  CTable* table = nullptr;
  if (!m_mapTables.Lookup(FormatString("%ld", objectId).view(), table) || !table) return;
  const WORD order = WORD(columnId & 0xFFFF);
  // A backup can hold a page twice: the second copy of a column row changes nothing.
  if (m_nDataSetCount > 0) {
    for (const CColumn* c = table->m_pColumnHead; c; c = c->m_pNext)
      if (c->m_wColOrder == order) return;
  }
  if (table->m_nAllColumns >= kMaxColumnsPerTable) return;

  if (identity) table->m_bHasIdentity = true;
  auto* column = new CColumn;
  if (!decodable) {
    column->m_strName = SubstituteColumnName(m_nUnicodeNameSerial);
    ++m_nUnicodeNameSerial;
    LogSubstituteName("A column", long(objectId), raw, column->m_strName);
  } else {
    column->m_strName = name;
  }
  column->m_wColOrder = order;
  column->m_dwRowsetColumn = order;
  SetColumnType(column, typeName, length, precision, scale, collation);
  CDataType* userDataType = nullptr;
  if (m_mapDataTypes.Lookup(FormatString("%ld", userType).view(), userDataType) && userDataType)
    column->m_strUserType = userDataType->m_strName;
  column->m_bIdentity = identity;
  column->m_nIdentitySeed64 = seed;
  column->m_nIdentityIncrement64 = increment;
  // Two's complement in the 32-bit fields keeps the sign for the scan file.
  column->m_dwIdentitySeed = DWORD(UINT64(seed));
  column->m_dwIdentityIncrement = DWORD(UINT64(increment));
  column->m_bNullable = !(status & kColumnNotNull);
  if (const CString* computed = table->m_mapComputed.Find(FormatString("%ld", int(columnId)).view()))
    column->m_strComputed = *computed;
  if (defaultId != 0) {
    CIndexInfo* defaultObject = nullptr;
    if (m_mapIndexes.Lookup(FormatString("%ld", defaultId).view(), defaultObject) && defaultObject)
      column->m_strDefault = defaultObject->m_strText;
    // A default constraint belongs to its table and keeps its name; a default object made
    // by CREATE DEFAULT has no table and is bound by its own name instead.
    const auto constraint = m_mapConstraintObjects.find(defaultId);
    if (constraint != m_mapConstraintObjects.end() && constraint->second.type == "D" &&
        constraint->second.parentId == objectId && !column->m_strDefault.IsEmpty() &&
        !IsDefaultObjectText(column->m_strDefault))
      column->m_strDefaultName = constraint->second.name;
  }

  // Only an id that names a rule of this database is bound.
  CViewStoredProc* rule = nullptr;
  if (ruleId != 0 && m_mapRules.Lookup(FormatString("%ld", ruleId).view(), rule) && rule)
    column->m_strRuleName = rule->m_strName;

  AttachColumn(table, column, deleted);
}

void CSQLServer2008::ReadRsCols() {
  // The boot page says which catalog the file has; without it, the 2008 one when it places
  // anything, else the 2005 one.
  const int version = ReadOnDiskVersion();
  const bool format2005 = version > 0 && version < kFirst2008Version;
  m_setColumnsRebuilt.clear();
  if (!format2005) {
    m_mapHobtColumns.clear();
    m_mapRowsetColumnOfHobt.clear();
    WalkSystemTable("3", &CSQLServer2008::DecodeRsColRow, kCatalogSlotLimit);
    LinkOrphanRowsetsByColumns();
    RebuildAndPlaceLostColumns();
    m_mapHobtColumns.clear();
  }
  if (format2005 || (version == 0 && !AnyColumnPlaced(m_mapTables))) ReadHobtColumns();
  LogComputedPositions();
}

int CSQLServer2008::ReadOnDiskVersion() {
  std::vector<BYTE> page(kPageSize);
  if (!ReadPageById(kBootPageId, page.data()) || PageTypeOf(page.data()) != kPageBoot ||
      PageIdOf(page.data()) != kBootPageId)
    return 0;
  return ReadU16(page.data() + kPageHeaderSize + kBootVersionOffset);
}

void CSQLServer2008::DecodeRsColRow(BYTE* body, WORD recordOffset) {
  ByteView rec = RecordView(body, recordOffset);
  const BYTE statusA = rec.U8(0);
  rec.U8(1);
  if (!rec.ok() || ((statusA >> 1) & 7) != 0 || !(statusA & 0x10)) return;

  const INT64 rowsetId = rec.I64(4);
  const DWORD rowsetColumn = rec.U32(12);
  const DWORD physicalColumn = rec.U32(16);
  const DWORD status = rec.U32(40);
  const short offset = rec.I16(44);
  const WORD bitPosition = rec.U16(52);
  if (!rec.ok()) return;
  // A dropped column keeps its place in old rows but belongs to no catalog column; rowset
  // column 0 is the uniquifier of a clustered index that is not unique.
  if (status & kRsColDropped) return;
  if (rowsetColumn == 0 || rowsetColumn > 0xFFFF) return;
  if (physicalColumn == 0 || physicalColumn > 0xFFFF) return;

  PlaceRowsetColumn(rowsetId, rowsetColumn, physicalColumn, offset, bitPosition);
  // The stored type, for a table whose column rows were lost, and the collation beside it.
  const DWORD typeInfo = rec.U32(28);
  const DWORD collation = rec.U32(32);
  if (!rec.ok()) return;
  StoredColumnPlace place;
  place.offset = offset;
  place.nullBit = WORD(physicalColumn);
  place.bitPosition = bitPosition;
  place.systemType = BYTE(typeInfo & 0xFF);
  TypeFromTypeInfo(typeInfo, place.length, place.precision, place.scale);
  place.collation = collation;
  place.status = (status & kRsColNotNull) ? kHobtColumnNotNull : 0;
  m_mapHobtColumns[{rowsetId, rowsetColumn}] = place;
}

void CSQLServer2008::PlaceRowsetColumn(INT64 rowsetId, DWORD rowsetColumn, DWORD physicalColumn, short offset,
                                       WORD bitPosition) {
  const std::vector<CTable*>* units = m_mapAllocUnits.Find(FormatString("%I64d", rowsetId).view());
  if (!units) return;
  for (CTable* unit : *units) {
    CTable* table = nullptr;
    if (!unit || !m_mapTables.Lookup(FormatString("%ld", int(unit->m_dwObjectId)).view(), table) || !table)
      return;
    if (CColumn* column = SetPhysicalColumnId(table, physicalColumn, rowsetColumn))
      ApplyColumnPosition(table, column, offset, bitPosition);
  }
}

void CSQLServer2008::ReadHobtColumns() {
  m_mapHobtColumns.clear();
  m_setHobtsNamedByRowsets.clear();
  m_mapRowsetColumnOfHobt.clear();
  WalkSystemTable("13", &CSQLServer2008::DecodeHobtColumnRow, kCatalogSlotLimit);
  WalkSystemTable("4", &CSQLServer2008::DecodeRowsetColumnRow, kCatalogSlotLimit);
  // A hobt whose rowset-column rows were all lost: its hobt column ids are taken for the
  // rowset column ids, which they are in the tables SQL Server 2005 writes and upgrades.
  for (const auto& [key, place] : m_mapHobtColumns) {
    if (m_setHobtsNamedByRowsets.count(key.first) || key.second == 0) continue;
    PlaceRowsetColumn(key.first, key.second, place.nullBit ? place.nullBit : key.second, place.offset,
                      place.bitPosition);
  }
  LinkOrphanRowsetsByColumns();
  RebuildAndPlaceLostColumns();
  m_mapHobtColumns.clear();
  m_setHobtsNamedByRowsets.clear();
  m_mapRowsetColumnOfHobt.clear();
}

void CSQLServer2008::RebuildAndPlaceLostColumns() {
  // Tables that lost every column row get them back from the stored layout, then their places.
  const std::set<CTable*> rebuilt = RebuildLostColumns();
  m_setColumnsRebuilt.insert(rebuilt.begin(), rebuilt.end());
  for (const auto& [key, place] : m_mapHobtColumns) {
    const auto rowsetColumn = m_mapRowsetColumnOfHobt.find(key);
    const DWORD order = rowsetColumn != m_mapRowsetColumnOfHobt.end() ? rowsetColumn->second : key.second;
    if (order == 0 || order > 0xFFFF) continue;
    const std::vector<CTable*>* units = m_mapAllocUnits.Find(FormatString("%I64d", key.first).view());
    if (!units) continue;
    for (CTable* unit : *units) {
      CTable* table = nullptr;
      if (!unit || !m_mapTables.Lookup(FormatString("%ld", int(unit->m_dwObjectId)).view(), table) ||
          !rebuilt.count(table))
        continue;
      if (CColumn* column = SetPhysicalColumnId(table, place.nullBit ? place.nullBit : key.second, order))
        ApplyColumnPosition(table, column, place.offset, place.bitPosition);
    }
  }
}

std::set<CTable*> CSQLServer2008::RebuildLostColumns() {
  // Tables of heap and clustered hobts (m_mapAllocUnits keeps only those) that have no column.
  std::map<CTable*, INT64> lost;
  for (const auto& [key, place] : m_mapHobtColumns) {
    const std::vector<CTable*>* units = m_mapAllocUnits.Find(FormatString("%I64d", key.first).view());
    if (!units) continue;
    for (CTable* unit : *units) {
      CTable* table = nullptr;
      if (!unit || unit->m_dwObjectId < kFirstUserObjectId ||
          !m_mapTables.Lookup(FormatString("%ld", int(unit->m_dwObjectId)).view(), table) || !table)
        continue;
      if (!table->m_pColumnHead && !lost.count(table)) lost[table] = key.first;
    }
  }
  std::set<CTable*> rebuilt;
  for (const auto& [table, hobtOfTable] : lost) {
    // A copy: a lambda may not capture a structured binding under every compiler we build with.
    const INT64 hobt = hobtOfTable;
    const auto first = m_mapHobtColumns.lower_bound({hobt, 0});
    auto ofHobt = [&](auto it) { return it != m_mapHobtColumns.end() && it->first.first == hobt; };
    // The fixed offsets of the hobt's columns tell the width of one whose type gives none.
    std::set<short> fixedOffsets;
    for (auto it = first; ofHobt(it); ++it)
      if (it->second.offset >= 4) fixedOffsets.insert(it->second.offset);
    CString asBytes, leftOut;
    for (auto it = first; ofHobt(it); ++it) {
      const auto rowsetColumn = m_mapRowsetColumnOfHobt.find(it->first);
      const DWORD order =
          rowsetColumn != m_mapRowsetColumnOfHobt.end() ? rowsetColumn->second : it->first.second;
      // Rowset column 0 is the uniquifier, which is no column of the table.
      if (order == 0 || order > 0xFFFF || table->m_nAllColumns >= kMaxColumnsPerTable) continue;
      const StoredColumnPlace& place = it->second;
      const CString name = FormatString("Column_%lu", order);
      // A width only where both ends lie inside a record's fixed part.
      const auto next = place.offset >= 4 ? fixedOffsets.upper_bound(place.offset) : fixedOffsets.end();
      const WORD fixedWidth = next != fixedOffsets.end() && *next <= kMaxRecordSize ? WORD(*next - place.offset) : 0;
      const RebuiltType type = DeclareRebuiltType(place.systemType, place.length, place.precision, place.scale,
                                                  place.collation, place.offset, fixedWidth);
      if (type.type.IsEmpty()) {
        leftOut += (leftOut.IsEmpty() ? "" : ", ") + name + " (" + type.asBytes + ", and its width is not known)";
        continue;
      }
      if (!type.asBytes.IsEmpty())
        asBytes += (asBytes.IsEmpty() ? "" : ", ") + name + " as " + type.type +
                   SqlTypeSuffix(type.type, type.length, 0, 0) + " (" + type.asBytes + ")";
      auto* column = new CColumn;
      column->m_strName = name;
      column->m_wColOrder = WORD(order);
      column->m_dwRowsetColumn = order;
      SetColumnType(column, type.type, type.length, type.precision, type.scale, type.collation);
      column->m_bNullable = !(place.status & kHobtColumnNotNull);
      AttachColumn(table, column, false);
    }
    // Nothing kept: the table is named with its unread pages once the objects are filtered.
    if (!table->m_pColumnHead) continue;
    rebuilt.insert(table);
    const CString tableName = table->m_strName.IsEmpty() ? FormatString("with object id %lu", table->m_dwObjectId)
                                                          : table->m_strOwner + "." + table->m_strName;
    CString warning = FormatString("table %s: its column rows were lost; %d columns were rebuilt as Column_N from the "
                                   "stored layout of its rows (names, identity and defaults are not known)",
                                   tableName, table->m_nAllColumns);
    if (!asBytes.IsEmpty()) warning += "; kept as bytes: " + asBytes;
    if (!leftOut.IsEmpty()) warning += "; left out: " + leftOut;
    NoteScanWarning(warning);
  }
  return rebuilt;
}

void CSQLServer2008::DecodeHobtColumnRow(BYTE* body, WORD recordOffset) {
  ByteView rec = RecordView(body, recordOffset);
  if (!IsLivePositionRow(rec, kHobtColumnFixedEnd)) return;
  const INT64 hobtId = rec.I64(4);
  const DWORD hobtColumn = rec.U32(12);
  StoredColumnPlace place;
  place.offset = rec.I16(31);
  place.bitPosition = rec.U16(35);
  place.nullBit = rec.U16(37);
  place.status = rec.U32(16);
  place.systemType = rec.U8(22);
  place.length = rec.U16(23);
  place.precision = rec.U8(25);
  place.scale = rec.U8(26);
  place.collation = rec.U32(27);
  if (!rec.ok() || hobtColumn > 0xFFFF) return;
  m_mapHobtColumns[{hobtId, hobtColumn}] = place;
}

void CSQLServer2008::DecodeRowsetColumnRow(BYTE* body, WORD recordOffset) {
  ByteView rec = RecordView(body, recordOffset);
  if (!IsLivePositionRow(rec, kRowsetColumnFixedEnd)) return;
  const INT64 rowsetId = rec.I64(4);
  const DWORD rowsetColumn = rec.U32(12);
  const DWORD hobtColumn = rec.U32(16);
  if (!rec.ok()) return;
  m_setHobtsNamedByRowsets.insert(rowsetId);
  m_mapRowsetColumnOfHobt[{rowsetId, hobtColumn}] = rowsetColumn;
  // Rowset column 0 is the uniquifier, which no catalog column names.
  if (rowsetColumn == 0 || rowsetColumn > 0xFFFF) return;
  auto it = m_mapHobtColumns.find({rowsetId, hobtColumn});
  if (it == m_mapHobtColumns.end()) return;
  const StoredColumnPlace& place = it->second;
  // The null bit is the column's physical number in the record; hobt column 0 has none.
  const DWORD nullBit = place.nullBit ? place.nullBit : hobtColumn;
  if (nullBit == 0) return;
  PlaceRowsetColumn(rowsetId, rowsetColumn, nullBit, place.offset, place.bitPosition);
}

void CSQLServer2008::LogComputedPositions() {
  for (const auto& entry : m_mapTables) {
    const CTable* table = entry.second;
    if (!table || table->m_dwObjectId < kFirstUserObjectId) continue;
    int stored = 0, unplaced = 0;
    for (const CColumn* c = table->m_pColumnHead; c; c = c->m_pNext) {
      if (c->m_bDropped || !c->m_strComputed.IsEmpty()) continue;
      ++stored;
      if (!c->m_bCatalogOffset) ++unplaced;
    }
    if (unplaced == 0) continue;
    CExecutionLog::WriteLog(0, 0,
                            FormatString("Table %s (object %lu): the catalog gives no stored place for %d of its %d "
                                         "columns; they are read at places computed from the column order",
                                         table->m_strName, table->m_dwObjectId, unplaced, stored),
                            false);
  }
}

CColumn* CSQLServer2008::SetPhysicalColumnId(CTable* table, DWORD physicalColumnId, DWORD rowsetColumnId) {
  if (!table) return nullptr;
  CColumn* column = FindColumnByOrder(table, rowsetColumnId);
  if (!column) return nullptr;
  column->m_dwRowsetColumn = physicalColumnId;
  if (IsCatalogVarType(column->m_strType)) {
    if (CVarColumn* varColumn = FindVarColumnByOrder(table, rowsetColumnId))
      varColumn->m_dwRowsetColumn = physicalColumnId;
  }
  return column;
}

void CSQLServer2008::ApplyColumnPosition(CTable* table, CColumn* column, short offset, WORD bitPosition) {
  if (!table || !column) return;
  if (offset < 0) {
    // A negative position is a variable-column index, whatever the type name says.
    column->m_bCatalogOffset = true;
    column->m_nOffset = offset;
    if (CVarColumn* varColumn = FindVarColumnByOrder(table, column->m_wColOrder)) varColumn->m_nVarIndex = offset;
    if (!column->m_strType.IsEmpty()) table->m_mapVarTypes.SetAt(FormatString("%hd", offset).view(), column->m_strType);
    return;
  }
  // A fixed position lies inside the fixed part of a record, after its 4-byte header; a
  // variable-length type cannot have one.
  const int width = column->m_wLength ? column->m_wLength : 1;
  if (IsStoredVarType(column->m_strType) || offset < 4 || offset + width > kMaxRecordSize) return;
  column->m_bCatalogOffset = true;
  column->m_nOffset = offset;
  if (column->m_strType == "bit") column->m_bBitPosition = BYTE(bitPosition & 0xFF);
}

void CSQLServer2008::FilterObjects() {
  int serial = 1;
  for (auto it = m_mapTables.begin(); it != m_mapTables.end();) {
    CTable* table = it->second;
    bool remove = false;
    if (!table) {
      remove = true;
    } else if (table->m_dwObjectId == 55) {
      // The index-column catalog is read after this stage; the scan drops it afterwards.
    } else if (table->m_dwObjectId < 200) {
      remove = true;
    } else if (table->m_strName.IsEmpty() && table->m_pColumnHead) {
      table->m_strName.Format("RecoveredTab#_%d", serial++);
      table->m_strOwner = m_strLastOwnerName.IsEmpty() ? CString("dbo") : m_strLastOwnerName;
      // A table under a made-up name is a table whose name the damage cost: said so.
      NoteScanWarning(FormatString("table %s.%s: its name was lost (no object row for object id %lu); its columns "
                                   "and %d data pages are kept under this name",
                                   table->m_strOwner, table->m_strName, table->m_dwObjectId,
                                   int(table->m_vecDataPages.size())));
    } else if (table->m_strName.IsEmpty() || !table->m_pColumnHead) {
      remove = true;
      // Rows on its pages, but nothing says how to read them: said by name.
      if (!table->m_vecDataPages.empty())
        NoteScanWarning(FormatString("table %s: its columns could not be recovered; its %d data pages were left unread",
                                     table->m_strName.IsEmpty() ? FormatString("with object id %lu", table->m_dwObjectId)
                                                                : table->m_strOwner + "." + table->m_strName,
                                     int(table->m_vecDataPages.size())));
      // No row is lost with it, but its definition is: never left out in silence.
      else if (!table->m_strName.IsEmpty())
        NoteScanWarning(FormatString("table %s.%s: its columns could not be recovered; it holds no data page, and it is "
                                     "not exported",
                                     table->m_strOwner, table->m_strName));
    }
    // The records stay in the engine's pool; only the map forgets them.
    it = remove ? m_mapTables.erase(it) : std::next(it);
  }
}

void CSQLServer2008::OrganizeSchemaInfo() {
  for (auto& entry : m_mapTables) {
    CTable* table = entry.second;
    if (!table) continue;
    // Column orders keep their values, so wide tables and tables with gaps left by dropped
    // columns are indexed by their real column ids.
    size_t size = size_t(std::clamp(table->m_nCatalogColumns, 0, 0xFFFF)) + 1;
    for (const CColumn* c = table->m_pColumnHead; c; c = c->m_pNext) size = std::max(size, size_t(c->m_wColOrder) + 1);
    table->m_vecColumnById.assign(size, nullptr);
    for (CColumn* c = table->m_pColumnHead; c; c = c->m_pNext) {
      CColumn*& slot = table->m_vecColumnById[c->m_wColOrder];
      if (!slot || (slot->m_bDropped && !c->m_bDropped)) slot = c;
    }
  }
}
