// Catalog stages I: the system-table page walk; allocation units (object 7) and rowsets
// (object 5), which give every table its data pages; scalar types (50), principals (27),
// schemas (64) and objects (34), which name tables, views, procedures, rules, triggers,
// functions and primary keys.
//
// Row layouts (offsets from the record start, little-endian; F = fixed-part end at 2):
//   7  allocation unit  0 status, 4 unit id (8), 12 type (1), 13 owning rowset id (8),
//                       39 first IAM page (4), 43 its file (2)
//   5  rowset           0 status, 4 rowset id (8), 13 object id (4), 17 index id (4)
//   50 scalar type      4 type id, 12 system type, 13 max length (2), 15 precision, 16 scale,
//                       17 collation (4), 21 status (4), 41 default object (4), 45 rule (4)
//   27 principal        4 id (low 16 bits kept)
//   64 class object     4 class (1; 50 = schema), 5 id (4)
//   34 object           4 id, 8 schema id, 17 type (2 characters, space padded)
// and each ends in the variable part: F column count N, F+2 null bitmap (1 byte below 8
// columns, else ceil(N/8)), then the variable-column count V, V end offsets and the name,
// the first variable column, in UTF-16.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <exception>
#include <string>

#include "common/catalogpages.h"
#include "common/executionlog.h"
#include "common/names.h"
#include "common/page.h"
#include "pellwyn2008.h"

namespace {

constexpr WORD kRowVersioned = 0x0040;  // set on rows that carry row-versioning data
constexpr int kCatalogSlotLimit = 500;
constexpr size_t kMaxNameBytes = 500;
constexpr DWORD kFirstUserObjectId = 200;
constexpr DWORD kLastBuiltInTypeId = 256;
constexpr BYTE kSchemaClass = 50;
// Scalar type status: columns of the type are NOT NULL unless declared otherwise (sysname
// and timestamp carry it, as do user types made with 'NOT NULL').
constexpr DWORD kTypeNotNull = 0x1;

// The record at `offset` of a page body, bounded by the page.
ByteView RecordAt(const BYTE* body, WORD offset) {
  if (!body || offset >= kPageBodySize) return ByteView();
  return ByteView(body + offset, size_t(kPageBodySize - offset));
}

// Record type, bits 1-3 of the first status byte: 0 a row, 6 a ghost (deleted) row.
int RecordType(WORD status) { return (status >> 1) & 7; }

// Rows a catalog reader takes: live rows, and ghost rows only when deleted records are asked
// for. Versioning bits do not matter.
bool AcceptRow(WORD status, bool recoverDeleted, bool* ghost) {
  const int type = RecordType(status);
  *ghost = type == 6;
  return type == 0 || (*ghost && recoverDeleted);
}

// Map keys are decimal texts of ids.
template <class T>
std::string KeyText(const char* format, T value) {
  return FormatString(format, value).str();
}

// Principal, schema and type names as UTF-8; bytes that are no name keep the old reading,
// every byte but 0x00 and 0x01, so a damaged row still names its owner.
CString ByteFilterName(ByteView name) {
  CString out;
  if (DecodeStoredName(name, out)) return out;
  out.Empty();
  for (size_t i = 0; i < name.size(); ++i) {
    const BYTE b = name.U8(i);
    if (b != 0x00 && b != 0x01) out += char(b);
  }
  return out;
}

// An object's name as UTF-8, trailing blanks removed (views, procedures, rules, triggers,
// functions). These names only label texts, so a damaged one is shown as far as it decodes.
CString ObjectName(ByteView name) {
  CString out(Utf16ToUtf8(name));
  out.TrimRight(' ');
  return out;
}

// End offsets carry the complex-column flag in their top bit.
size_t EndOffset(WORD stored) { return stored & 0x7FFF; }

// The name as the first variable column, when it starts at `start`, ends at the stored end
// offset and is at most kMaxNameBytes long; an end before the start counts as too long.
bool NameBytes(ByteView& row, size_t start, WORD storedEnd, ByteView* name) {
  const size_t end = EndOffset(storedEnd);
  if (end < start || end - start > kMaxNameBytes) return false;
  *name = row.Sub(start, end - start);
  return row.ok();
}

enum class ObjectKind { kNone, kTable, kView, kProcedure, kRule, kTrigger, kFunction, kPrimaryKey, kConstraint };

ObjectKind KindOfType(const CString& type) {
  static const struct {
    const char* code;
    ObjectKind kind;
  } kTypes[] = {
      {"U", ObjectKind::kTable},     {"V", ObjectKind::kView},     {"P", ObjectKind::kProcedure},
      {"R", ObjectKind::kRule},      {"TR", ObjectKind::kTrigger}, {"T", ObjectKind::kTrigger},
      {"PK", ObjectKind::kPrimaryKey}, {"FN", ObjectKind::kFunction}, {"IF", ObjectKind::kFunction},
      {"TF", ObjectKind::kFunction}, {"F", ObjectKind::kConstraint}, {"C", ObjectKind::kConstraint},
      {"D", ObjectKind::kConstraint}, {"UQ", ObjectKind::kConstraint},
  };
  for (const auto& t : kTypes)
    if (type == t.code) return t.kind;
  return ObjectKind::kNone;
}

// Stores a record its map owns, freeing the one it replaces.
template <class Map, class Record>
void StoreOwned(Map& map, const std::string& key, Record* record) {
  Record* old = nullptr;
  if (map.Lookup(key, old) && old != record) delete old;
  map.SetAt(key, record);
}

}  // namespace

// ---- the system-table page walk

void CSQLServer2008::WalkSystemTable(const char* objectId, RowDecoder decoder, int slotLimit, bool logFound) {
  CTable* group = nullptr;
  if (!objectId || !decoder || !m_mapTables.Lookup(objectId, group) || !group) return;
  if (logFound) CExecutionLog::WriteLog(0, 0, FormatString("Found : %d", int(group->m_vecDataPages.size())), false);
  // A copy: decoders add records to the maps while the walk goes on.
  const std::vector<DWORD> pages = group->m_vecDataPages;
  std::array<BYTE, kPageSize> buffer{};
  BYTE* page = buffer.data();
  SlotWalkOptions slots;
  slots.skipPageAbove = slotLimit > 0 ? slotLimit : 0;
  CCatalogPageCheck check = m_catalogChecks.Start(group->m_dwObjectId);
  std::vector<int> failed;
  for (DWORD n : pages) {
    if (ScanStopped()) return;
    if (!ReadSourcePage(n, page)) continue;
    if (PageTypeOf(page) != kPageData) continue;
    RestoreTornBitsIfPresent(page);
    if (!check.Walked(page, slots, failed)) continue;
    ForEachSlot(page, slots, [&](int slot, WORD entry) {
      if (std::binary_search(failed.begin(), failed.end(), slot)) return true;
      // One row's failure ends that row only.
      try {
        (this->*decoder)(page + kPageHeaderSize, WORD(entry - kPageHeaderSize));
      } catch (const std::exception&) {
      }
      return true;
    });
  }
  FinishCatalogPageCheck(check);
  m_catalogChecks.Keep(std::move(check));
}

void CSQLServer2008::DecodeCatalogRow(const CString& objectId, BYTE* page, WORD slotEntry) {
  if (!page || slotEntry < kPageHeaderSize || slotEntry > kPageSize) return;
  BYTE* body = page + kPageHeaderSize;
  const WORD offset = WORD(slotEntry - kPageHeaderSize);
  if (objectId == "41") DecodeColumnRow(body, offset);
  else if (objectId == "5") DecodeRowsetRow(body, offset);
  else if (objectId == "7") DecodeAllocUnitRow(body, offset);
  else if (objectId == "60") DecodeObjectValueRow(body, offset);
  else if (objectId == "34") DecodeObjectRow(body, offset);
}

// ---- allocation units and rowsets

void CSQLServer2008::ReadAllocationInfo() { WalkSystemTable("7", &CSQLServer2008::DecodeAllocUnitRow); }

void CSQLServer2008::DecodeAllocUnitRow(BYTE* body, WORD recordOffset) {
  ByteView row = RecordAt(body, recordOffset);
  const WORD status = row.U16(0);
  // A live row with a null bitmap and no variable part; ghosts fail this test.
  if (!row.ok() || (status & ~kRowVersioned) != 0x0010) return;
  const INT64 unitId = row.I64(4);
  const BYTE type = row.U8(12);
  const INT64 owner = row.I64(13);
  const DWORD firstIam = row.U32(39);
  const WORD firstIamFile = row.U16(43);
  if (!row.ok()) return;
  // A system table's unit (index id << 48 | object id << 16): its first page (pgfirst) is
  // where its pages begin, a witness of a page its own walk may not have found.
  const UINT64 unitBits = UINT64(unitId);
  if (type == 1 && (unitBits & 0xFFFF) == 0 && (unitBits >> 48) <= 1 && ((unitBits >> 16) & 0xFFFFFFFF) < 100 &&
      ((unitBits >> 16) & 0xFFFFFFFF) > 0) {
    const CatalogPageRef first{row.U16(31), row.U32(27)};
    if (row.ok()) m_catalogChecks.SetFirstPage(DWORD(unitBits >> 16), first);
    row.clear_error();
  }
  if (type == 2) return;  // large-object units hold text pages only
  CTable* unit = NewTable();
  unit->m_nAllocUnitId = unitId;
  unit->m_dwFirstIamPage = firstIam;
  unit->m_wFirstIamFile = firstIamFile;
  const std::string unitKey = KeyText("%I64d", unitId);
  m_mapAllocUnits[KeyText("%I64d", owner)].push_back(unit);
  if (!m_mapRowsets.Contains(unitKey)) m_mapRowsets.SetAt(unitKey, unit);
}

void CSQLServer2008::ReadRowsets() {
  WalkSystemTable("5", &CSQLServer2008::DecodeRowsetRow);
  LinkUnitPagesToTables();
}


void CSQLServer2008::DecodeRowsetRow(BYTE* body, WORD recordOffset) {
  ByteView row = RecordAt(body, recordOffset);
  const WORD status = row.U16(0);
  if (!row.ok() || (status & 0xFF & ~kRowVersioned) != 0x10) return;
  const INT64 rowsetId = row.I64(4);
  const DWORD objectId = row.U32(13);
  DWORD indexId = row.U32(17);
  if (!row.ok()) return;
  if (indexId > 0xFFFF && (indexId & 0xFFFF) == 1) indexId = 1;
  // The rows the rowset held (rcrows), for a table whose pages a damaged catalog lost.
  if (indexId <= 1) {
    const INT64 rows = row.I64(31);
    if (row.ok() && rows > 0) m_mapCatalogRowCounts[objectId] += rows;
    m_setTablesWithRowsets.insert(objectId);
    row.clear_error();
  }
  const std::string rowsetKey = KeyText("%I64d", rowsetId);
  if (!m_mapRowsetObjects.Contains(rowsetKey)) m_mapRowsetObjects.SetAt(rowsetKey, FormatString("%lu", objectId));
  std::vector<CTable*>* units = m_mapAllocUnits.Find(rowsetKey);
  if (!units) return;
  if (indexId > 1) {
    // Units of other indexes hold no table rows; they stay unclaimed (object id 0).
    m_mapAllocUnits.RemoveKey(rowsetKey);
    return;
  }
  for (CTable* unit : *units)
    if (unit) unit->m_dwObjectId = objectId;
}

void CSQLServer2008::LinkUnitPagesToTables() {
  m_setLinkedUnits.clear();
  for (auto& entry : m_mapRowsets) {
    CTable* unit = entry.second;
    if (!unit || unit->m_dwObjectId == 0) continue;
    LinkUnitPages(entry.first, unit);
  }
}

bool CSQLServer2008::LinkUnitPages(const std::string& unitKey, CTable* unit) {
  CTable* group = nullptr;
  if (!m_mapPageGroups.Lookup(unitKey, group) || !group) return false;
  // A unit its catalog row gives no first IAM page has never held a page: pages whose
  // header names it are another unit's, a damaged header field away. They stay unclaimed.
  if (unit->m_dwFirstIamPage == 0 && unit->m_wFirstIamFile == 0 && !group->m_vecDataPages.empty()) {
    CExecutionLog::WriteLog(0, 0,
                            FormatString("Allocation unit %s: its catalog row gives it no IAM page, so the %d data "
                                         "pages whose header names it are not taken as its",
                                         unitKey.c_str(), int(group->m_vecDataPages.size())),
                            false);
    return false;
  }
  m_setLinkedUnits.insert(unitKey);
  unit->m_vecDataPages = group->m_vecDataPages;
  unit->m_vecFreedPages = group->m_vecFreedPages;
  const std::string tableKey = KeyText("%lu", unit->m_dwObjectId);
  CTable* table = nullptr;
  if (!m_mapTables.Lookup(tableKey, table) || !table) {
    m_mapTables.SetAt(tableKey, unit);
    return true;
  }
  if (table == unit) return true;
  // Several units of one table: their pages follow one another in one list.
  table->m_vecDataPages.insert(table->m_vecDataPages.end(), group->m_vecDataPages.begin(), group->m_vecDataPages.end());
  table->m_vecFreedPages.insert(table->m_vecFreedPages.end(), group->m_vecFreedPages.begin(),
                                group->m_vecFreedPages.end());
  return true;
}

void CSQLServer2008::LinkOrphanRowsetsByColumns() {
  // The stored columns of a table or a rowset, in no order: (type name, byte length).
  using Columns = std::vector<std::pair<std::string, WORD>>;
  std::vector<std::pair<CTable*, Columns>> tables;
  for (auto& entry : m_mapTables) {
    CTable* t = entry.second;
    if (!t || t->m_dwObjectId < kFirstUserObjectId || !t->m_pColumnHead || !t->m_vecDataPages.empty() ||
        m_setTablesWithRowsets.count(t->m_dwObjectId))
      continue;
    Columns columns;
    for (const CColumn* c = t->m_pColumnHead; c; c = c->m_pNext)
      if (!c->m_bDropped && c->m_strComputed.IsEmpty()) columns.emplace_back(c->m_strType.str(), c->m_wLength);
    std::sort(columns.begin(), columns.end());
    tables.emplace_back(t, std::move(columns));
  }
  if (tables.empty()) return;
  // Rowsets of user units (unit ids from 1 << 56) that no rowset row named and whose units
  // hold data pages.
  struct Orphan {
    INT64 rowsetId = 0;
    std::vector<std::pair<std::string, CTable*>> units;  // (unit key, unit)
    Columns columns;
    int pages = 0;
  };
  std::vector<Orphan> orphans;
  for (auto& entry : m_mapAllocUnits) {
    Orphan o;
    o.rowsetId = std::strtoll(std::string(entry.first).c_str(), nullptr, 10);
    for (CTable* unit : entry.second) {
      if (!unit || unit->m_dwObjectId != 0 || UINT64(unit->m_nAllocUnitId) < (UINT64(1) << 56)) continue;
      const std::string unitKey = KeyText("%I64d", unit->m_nAllocUnitId);
      CTable* group = nullptr;
      if (m_setLinkedUnits.count(unitKey) || !m_mapPageGroups.Lookup(unitKey, group) || !group ||
          group->m_vecDataPages.empty())
        continue;
      o.units.emplace_back(unitKey, unit);
      o.pages += int(group->m_vecDataPages.size());
    }
    if (o.units.empty()) continue;
    for (auto it = m_mapHobtColumns.lower_bound({o.rowsetId, 0}); it != m_mapHobtColumns.end() && it->first.first == o.rowsetId;
         ++it) {
      const auto order = m_mapRowsetColumnOfHobt.find(it->first);
      // Rowset column 0 is the uniquifier, which is no column of the table.
      if ((order != m_mapRowsetColumnOfHobt.end() ? order->second : it->first.second) == 0) continue;
      o.columns.emplace_back(GetTypeName(it->second.systemType).str(), it->second.length);
    }
    if (o.columns.empty()) continue;
    std::sort(o.columns.begin(), o.columns.end());
    orphans.push_back(std::move(o));
  }
  for (const Orphan& o : orphans) {
    CTable* match = nullptr;
    int matches = 0;
    for (const auto& [t, columns] : tables)
      if (columns == o.columns) {
        match = t;
        ++matches;
      }
    // Another orphan rowset with the same columns could as well be this table's.
    int twins = 0;
    for (const Orphan& other : orphans) twins += other.columns == o.columns;
    if (matches != 1 || twins != 1) {
      if (matches > 0)
        CExecutionLog::WriteLog(0, 0,
                                FormatString("Rowset %I64d: no rowset row ties it to an object, and its stored columns "
                                             "fit %d tables and %d rowsets alike: its pages are not given to any",
                                             o.rowsetId, matches, twins),
                                false);
      continue;
    }
    int linked = 0;
    for (const auto& [unitKey, unit] : o.units) {
      unit->m_dwObjectId = match->m_dwObjectId;
      if (LinkUnitPages(unitKey, unit)) ++linked;
      else unit->m_dwObjectId = 0;
    }
    if (!linked) continue;
    // Its columns' places, which the stored rows named before the rowset had its table.
    for (auto it = m_mapHobtColumns.lower_bound({o.rowsetId, 0}); it != m_mapHobtColumns.end() && it->first.first == o.rowsetId;
         ++it) {
      const auto order = m_mapRowsetColumnOfHobt.find(it->first);
      const DWORD rowsetColumn = order != m_mapRowsetColumnOfHobt.end() ? order->second : it->first.second;
      const StoredColumnPlace& place = it->second;
      const DWORD nullBit = place.nullBit ? place.nullBit : it->first.second;
      if (rowsetColumn == 0 || rowsetColumn > 0xFFFF || nullBit == 0) continue;
      PlaceRowsetColumn(o.rowsetId, rowsetColumn, nullBit, place.offset, place.bitPosition);
    }
    m_setTablesWithRowsets.insert(match->m_dwObjectId);
    NoteScanWarning(FormatString("table %s.%s: its rowset rows were lost; the %d data pages of rowset %I64d were tied to "
                                 "it because its stored columns are this table's and no other's (its row count is not "
                                 "known to check them against)",
                                 match->m_strOwner, match->m_strName, o.pages, o.rowsetId));
  }
}

// ---- user data types, owners and schemas

void CSQLServer2008::GatherDataTypes() {
  WalkSystemTable("50", &CSQLServer2008::DecodeDataTypeRow, kCatalogSlotLimit);
}

void CSQLServer2008::DecodeDataTypeRow(BYTE* body, WORD recordOffset) {
  ByteView row = RecordAt(body, recordOffset);
  bool ghost = false;
  if (!AcceptRow(row.U16(0), m_bRecoverDeleted, &ghost)) return;
  const WORD fixedEnd = row.U16(2);
  if (!row.ok() || fixedEnd > kPageSize) return;
  const int typeId = row.I32(4);
  const BYTE systemTypeId = row.U8(12);
  const WORD maxLength = row.U16(13);
  const BYTE precision = row.U8(15);
  const BYTE scale = row.U8(16);
  const DWORD collation = row.U32(17);
  const DWORD typeStatus = row.U32(21);
  const DWORD defaultId = row.U32(41);
  const DWORD ruleId = row.U32(45);
  if (!row.ok()) return;
  // Built-in types (ids up to 256: system types, sysname, the CLR types) are not user types.
  if (int(systemTypeId) == typeId || typeId <= int(kLastBuiltInTypeId)) return;
  const WORD columns = row.U16(fixedEnd);
  if (!row.ok() || columns > 40) return;
  const size_t bitmap = BitmapBytes(columns);
  const WORD nameEnd = row.U16(fixedEnd + 4 + bitmap);
  ByteView name;
  if (!row.ok() || !NameBytes(row, fixedEnd + 6 + bitmap, nameEnd, &name)) return;
  const std::string key = KeyText("%ld", typeId);
  if (ghost && m_mapDataTypes.Contains(key)) return;
  auto* type = new CDataType;
  type->m_bSystemTypeId = systemTypeId;
  type->m_wLength = maxLength;
  type->m_bPrecision = precision;
  type->m_bScale = scale;
  type->m_dwValue1 = collation;
  type->m_dwValue2 = typeStatus;
  type->m_bNotNull = (typeStatus & kTypeNotNull) != 0;
  type->m_dwValue3 = defaultId;
  type->m_dwValue4 = ruleId;
  type->m_dwDefaultObjectId = defaultId;
  type->m_dwRuleId = ruleId;
  type->m_strName = ByteFilterName(name);
  StoreOwned(m_mapDataTypes, key, type);
}

void CSQLServer2008::ReadOwnerNames() {
  WalkSystemTable("27", &CSQLServer2008::DecodeOwnerRow, kCatalogSlotLimit);
  // Tables belong to schemas; a schema's name replaces a principal's of the same id, and
  // principals remain the answer where no schema row was found.
  WalkSystemTable("64", &CSQLServer2008::DecodeSchemaRow, kCatalogSlotLimit);
}

void CSQLServer2008::DecodeOwnerRow(BYTE* body, WORD recordOffset) {
  ByteView row = RecordAt(body, recordOffset);
  bool ghost = false;
  if (!AcceptRow(row.U16(0), m_bRecoverDeleted, &ghost)) return;
  WORD fixedEnd = row.U16(2);
  if (fixedEnd > 255) fixedEnd &= 0xFF;
  if (!row.ok() || fixedEnd > 30) return;
  const WORD ownerId = row.U16(4);
  const WORD columns = row.U16(fixedEnd);
  if (!row.ok() || columns == 0) return;
  const size_t bitmap = BitmapBytes(columns);
  const WORD varColumns = row.U16(fixedEnd + 2 + bitmap);
  const WORD nameEnd = row.U16(fixedEnd + 4 + bitmap);
  if (!row.ok()) return;
  const size_t start = fixedEnd + 4 + bitmap + 2 * size_t(varColumns);
  ByteView name;
  if (start > kPageSize || !NameBytes(row, start, nameEnd, &name)) return;
  const std::string key = KeyText("%u", ownerId);
  if (ghost && m_mapOwnerNames.Contains(key)) return;
  m_mapOwnerNames.SetAt(key, ByteFilterName(name));
}

void CSQLServer2008::DecodeSchemaRow(BYTE* body, WORD recordOffset) {
  ByteView row = RecordAt(body, recordOffset);
  bool ghost = false;
  if (!AcceptRow(row.U16(0), m_bRecoverDeleted, &ghost)) return;
  const WORD fixedEnd = row.U16(2);
  const BYTE objectClass = row.U8(4);
  const DWORD schemaId = row.U32(5);
  if (!row.ok() || objectClass != kSchemaClass || fixedEnd < 9) return;
  const WORD columns = row.U16(fixedEnd);
  if (!row.ok() || columns == 0) return;
  const size_t bitmap = BitmapBytes(columns);
  const WORD varColumns = row.U16(fixedEnd + 2 + bitmap);
  const WORD nameEnd = row.U16(fixedEnd + 4 + bitmap);
  if (!row.ok() || varColumns == 0) return;
  ByteView name;
  if (!NameBytes(row, fixedEnd + 4 + bitmap + 2 * size_t(varColumns), nameEnd, &name)) return;
  const CString text = ByteFilterName(name);
  if (text.IsEmpty()) return;
  const std::string key = KeyText("%lu", schemaId);
  if (ghost && m_mapOwnerNames.Contains(key)) return;
  m_mapOwnerNames.SetAt(key, text);
}

// ---- objects

void CSQLServer2008::ReadObjectInfo() {
  WalkSystemTable("34", &CSQLServer2008::DecodeObjectRow, kCatalogSlotLimit);
}

void CSQLServer2008::DecodeObjectRow(BYTE* body, WORD recordOffset) {
  ByteView row = RecordAt(body, recordOffset);
  // Kept for any row, ghost or of any kind: only a table no object row names at all is told lost.
  if (const int id = row.I32(4); row.ok()) m_setObjectRowIds.insert(DWORD(id));
  row.clear_error();
  bool ghost = false;
  // Dropped objects stay dropped unless deleted records are asked for.
  if (!AcceptRow(row.U16(0), m_bRecoverDeleted, &ghost)) return;
  const WORD fixedEnd = row.U16(2);
  const int objectId = row.I32(4);
  const DWORD schemaId = row.U32(8);
  const DWORD objectStatus = row.U32(13);
  BYTE typeBytes[2] = {row.U8(17), row.U8(18)};
  const int parentId = row.I32(19);
  if (!row.ok()) return;
  CString typeText = BytesToString(typeBytes, 2, false);
  typeText.TrimRight(' ');
  const ObjectKind kind = KindOfType(typeText);
  if (kind == ObjectKind::kNone) return;

  WORD columns = row.U16(fixedEnd);
  if (columns > 40) columns &= 0xFF;
  const size_t bitmap = BitmapBytes(columns);
  const WORD nameEnd = row.U16(fixedEnd + 4 + bitmap);
  ByteView nameBytes;
  if (!row.ok() || !NameBytes(row, fixedEnd + 6 + bitmap, nameEnd, &nameBytes)) return;
  const CString name = ObjectName(nameBytes);
  const std::string key = KeyText("%ld", objectId);

  CStringKeyMap<CViewStoredProc*>* objects = nullptr;
  switch (kind) {
    case ObjectKind::kConstraint:
      // A dropped constraint stays dropped: restored, it would refuse rows the table holds.
      if (ghost) return;
      m_mapConstraintObjects[objectId] = CatalogConstraint{name, typeText, parentId, objectStatus};
      return;
    case ObjectKind::kPrimaryKey: {
      if (ghost && m_mapIndexes.Contains(key)) return;
      auto* index = new CIndexInfo;
      index->m_nValue = objectId;
      StoreOwned(m_mapIndexes, key, index);
      return;
    }
    case ObjectKind::kTrigger: objects = &m_mapTriggers; break;
    case ObjectKind::kRule: objects = &m_mapRules; break;
    case ObjectKind::kView: objects = &m_mapViews; break;
    case ObjectKind::kProcedure: objects = &m_mapStoredProcs; break;
    case ObjectKind::kFunction: objects = &m_mapFunctions; break;
    case ObjectKind::kTable:
    case ObjectKind::kNone: break;
  }
  if (objects) {
    if (ghost && objects->Contains(key)) return;
    auto* object = new CViewStoredProc;
    object->m_strName = name;
    // The owner an index of the view names (an indexed view's CREATE INDEX ... ON [o].[v]).
    if (kind == ObjectKind::kView) m_mapOwnerNames.Lookup(KeyText("%lu", schemaId), object->m_strOwner);
    StoreOwned(*objects, key, object);
    return;
  }

  // A user table: usually the record the rowset stage linked to its pages, else a new one.
  // Its name goes into statements and file names, so one that is no text gets a substitute
  // on either path; a second row for a table that already has one keeps it.
  const bool systemObject = DWORD(objectId) < kFirstUserObjectId;
  CString tableName;
  const bool decodable = DecodeStoredName(nameBytes, tableName);
  tableName.TrimRight(' ');
  auto giveName = [&](CTable* t) {
    if (decodable) {
      t->m_strName = tableName;
    } else if (!IsSubstituteTableName(t->m_strName)) {
      t->m_strName = SubstituteTableName(m_nUnicodeNameSerial);
      ++m_nUnicodeNameSerial;
      LogSubstituteName("Table", long(objectId), nameBytes, t->m_strName);
    }
  };
  CTable* table = nullptr;
  if (!m_mapTables.Lookup(key, table) || !table) {
    if (systemObject) return;
    ++m_nObjectSerial;
    table = NewTable();
    giveName(table);
  } else {
    if (systemObject) return;
    if (ghost && !table->m_strName.IsEmpty()) return;
    giveName(table);
  }
  table->m_dwObjectId = DWORD(objectId);
  CString owner;
  m_mapOwnerNames.Lookup(KeyText("%lu", schemaId), owner);
  table->m_strOwner = owner;
  m_strLastOwnerName = owner;
  m_mapTables.SetAt(key, table);
}
