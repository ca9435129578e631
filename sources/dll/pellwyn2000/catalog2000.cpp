// The 2000 system-table readers: sysobjects, syscolumns, sysindexes, sysreferences,
// syscomments, sysusers and systypes, each row read through a view bounded by the page body.
#include <algorithm>
#include <memory>

#include "common/constraintscripts.h"
#include "common/defaultobjects.h"
#include "common/executionlog.h"
#include "common/names.h"
#include "common/page.h"
#include "common/sqltypes.h"
#include "pellwyn2000.h"
#include "record2000.h"

namespace {

void Log(const CString& text) { CExecutionLog::WriteLog(0, 0, text.c_str(), false); }

constexpr DWORD kFirstUserObject = 200;
constexpr WORD kRowStatusWithVarPart = 0x0030;
constexpr size_t kMaxNameBytes = 500;
constexpr size_t kMaxTextBytes = 8192;
constexpr WORD kOffRowFlag = 0x8000;
constexpr DWORD kShippedObject = 0x80000000;
constexpr int kMaxForeignKeyColumns = 16;

// Where a row's variable part begins: the column count at `countOffset`, its null bitmap,
// the number of variable columns and their end offsets.
struct VarPart {
  int columns = 0;
  int varColumns = 0;
  size_t endsAt = 0;  // first end offset
  size_t dataAt = 0;  // first variable column's first byte
};

VarPart ReadVarPart(ByteView& row, size_t countOffset, int columns) {
  VarPart part;
  part.columns = columns;
  const size_t varCountAt = countOffset + 2 + BitmapBytes(columns);
  part.varColumns = row.U16(varCountAt);
  part.endsAt = varCountAt + 2;
  part.dataAt = part.endsAt + size_t(part.varColumns) * 2;
  return part;
}

// The bytes [start, end) of a row, or an empty view (row marked failed) when they leave it
// or run backwards.
ByteView Field(ByteView& row, size_t start, size_t end) {
  if (end < start) {
    row.Sub(row.size() + 1, 0);  // marks the row failed
    return ByteView();
  }
  return row.Sub(start, end - start);
}

// A stored name as UTF-8, trailing white space removed; false when it is no text (names.h).
bool NameText(const ByteView& name, CString& out) {
  const bool decodable = DecodeStoredName(name, out);
  out.TrimRight();
  return decodable;
}

// A name as UTF-8 where it decodes; otherwise every byte but the excluded ones (0, and 1
// where `dropOnes`), so a damaged row still names something. Trailing white space removed.
CString KeepBytes(const ByteView& name, bool dropOnes) {
  CString out;
  if (NameText(name, out)) return out;
  out.Empty();
  for (size_t i = 0; i < name.size(); ++i) {
    const BYTE b = name.data()[i];
    if (b == 0 || (dropOnes && b == 1)) continue;
    out += char(b);
  }
  out.TrimRight();
  return out;
}

template <class Record>
void Replace(CStringKeyMap<Record*>& map, const CString& key, Record* record) {
  Record** old = map.Find(key.view());
  if (old) {
    if (*old != record) delete *old;
    *old = record;
  } else {
    map.SetAt(key.view(), record);
  }
}

// The row at `offset`, or 256 bytes on or back when that one is not a row with a variable
// part: slot entries whose high byte was torn point there.
bool FindRowStart(BYTE* body, WORD offset, ByteView& row) {
  for (int delta : {0, 256, -256}) {
    const int at = int(offset) + delta;
    if (at < 0 || at >= kPageBodySize) continue;
    ByteView candidate = RecordView(body, WORD(at));
    if (candidate.U16(0) == kRowStatusWithVarPart && candidate.ok()) {
      row = candidate;
      return true;
    }
  }
  return false;
}

enum class ObjectKind { None, Table, View, Procedure, Rule, Trigger, Function, ForeignKey, Check, Default };

ObjectKind KindOf(char a, char b) {
  if (b == ' ') {
    switch (a) {
      case 'U': return ObjectKind::Table;
      case 'V': return ObjectKind::View;
      case 'P': return ObjectKind::Procedure;
      case 'R': return ObjectKind::Rule;
      case 'F': return ObjectKind::ForeignKey;
      case 'C': return ObjectKind::Check;
      case 'D': return ObjectKind::Default;
      default: return ObjectKind::None;
    }
  }
  if (a == 'T' && b == 'R') return ObjectKind::Trigger;
  if ((a == 'F' && b == 'N') || (a == 'I' && b == 'F') || (a == 'T' && b == 'F')) return ObjectKind::Function;
  return ObjectKind::None;
}

bool IsVariableType(const CString& type) {
  return type == "varchar" || type == "nvarchar" || type == "ntext" || type == "text" || type == "image" ||
         type == "varbinary" || type == "sql_variant";
}

// One identity value of autoval: `width` bytes of the column's type, little-endian.
INT64 IdentityValue(const BYTE* p, WORD width, const CString& type) {
  if (type == "tinyint") return p[0];
  if (type == "decimal" || type == "numeric") {
    // Sign byte (1 = positive), then the magnitude; identity decimals have scale 0.
    UINT64 magnitude = 0;
    const int bytes = std::min<int>(width - 1, 8);
    for (int i = bytes - 1; i >= 0; --i) magnitude = magnitude << 8 | p[1 + i];
    const INT64 value = INT64(magnitude & 0x7FFFFFFFFFFFFFFFull);
    return p[0] == 1 ? value : -value;
  }
  UINT64 raw = 0;
  for (int i = int(width) - 1; i >= 0; --i) raw = raw << 8 | p[i];
  if (width == 2) return INT64(std::int16_t(raw));
  if (width == 4) return INT64(std::int32_t(raw));
  return INT64(raw);
}

}  // namespace

int CSQLServer2000::ReadSysObjects() {
  return ReadSystemTable({"1", "Could not find Sysobjects table", &CSQLServer2000::ParseSysObjectsRow, true}) ? 1 : 0;
}
int CSQLServer2000::ReadSysColumns() {
  return ReadSystemTable({"3", "Could not find syscolumns table", &CSQLServer2000::DecodeColumnRow, true}) ? 1 : 0;
}
int CSQLServer2000::ReadSysIndexes() {
  return ReadSystemTable({"2", "Could not find sysindexes table", &CSQLServer2000::ParseSysIndexesRow, true}) ? 1 : 0;
}
int CSQLServer2000::ReadSysForeignKeys() {
  return ReadSystemTable(
             {"14", "Could not find SysForeignKeys table", &CSQLServer2000::ParseSysForeignKeysRow, true})
             ? 1
             : 0;
}
int CSQLServer2000::ReadSysComments() {
  const bool found =
      ReadSystemTable({"6", "Could not find syscomments table", &CSQLServer2000::ParseSysCommentsRow, false});
  StoreObjectTexts();
  return found ? 1 : 0;
}
int CSQLServer2000::ReadSysUsers() {
  return ReadSystemTable({"10", "Could not find sysusers table", &CSQLServer2000::ParseSysUsersRow, true}) ? 1 : 0;
}
int CSQLServer2000::ReadSysTypes() {
  return ReadSystemTable({"4", "Could not find systypes table", &CSQLServer2000::ParseSysTypesRow, true}) ? 1 : 0;
}

// ---- sysobjects

void CSQLServer2000::ParseSysObjectsRow(BYTE* body, WORD rowOffset) {
  ByteView row = RecordView(body, rowOffset);
  const DWORD objectId = row.U32(4);
  const char type0 = char(row.U8(8));
  const char type1 = char(row.U8(9));
  const WORD ownerId = row.U16(12);
  const DWORD status = row.U32(16);
  const WORD info = row.U16(14);
  const DWORD parent = row.U32(28);
  if (!row.ok()) return;
  const ObjectKind kind = KindOf(type0, type1);
  // Whatever is not a user table: its syscolumns rows (view columns, parameters) make no table.
  if (kind != ObjectKind::Table) m_setNonTableObjects.insert(objectId);
  if (kind == ObjectKind::None) return;
  // A default object made by CREATE DEFAULT has no table; its text is all it needs.
  if ((kind == ObjectKind::Check || kind == ObjectKind::Default) && parent == 0) return;
  if (parent != 0 && kind != ObjectKind::Trigger && kind != ObjectKind::ForeignKey && kind != ObjectKind::Check &&
      kind != ObjectKind::Default)
    return;
  // Views, procedures and the like shipped with the server (syssegments, sysconstraints, the
  // replication procedures) are not the user's. Tables keep theirs: the diagram table
  // dtproperties holds the user's diagrams.
  if ((status & kShippedObject) && kind != ObjectKind::Table) {
    m_setNonTableObjects.insert(objectId);
    return;
  }

  const size_t countOffset = row.U16(2) & 0xFF;
  int columns = row.U16(countOffset);
  if (columns > 40) columns &= 0xFF;
  const size_t endAt = countOffset + 2 + BitmapBytes(columns) + 2;
  const size_t nameStart = endAt + 2;
  const size_t nameEnd = row.U16(endAt);
  if (!row.ok() || nameEnd < nameStart || nameEnd - nameStart > kMaxNameBytes) return;
  const ByteView nameBytes = Field(row, nameStart, nameEnd);
  if (!row.ok()) return;
  CString name;
  const bool decodable = NameText(nameBytes, name);
  const CString key = FormatString("%ld", objectId);

  auto addObject = [&](CStringKeyMap<CViewStoredProc*>& map) {
    auto* object = new CViewStoredProc();
    object->m_strName = name;
    // The owner an index of a view names (an indexed view's CREATE INDEX ... ON [o].[v]).
    if (kind == ObjectKind::View) m_mapOwnerNames.Lookup(FormatString("%d", int(ownerId)).view(), object->m_strOwner);
    Replace(map, key, object);
  };
  switch (kind) {
    case ObjectKind::Trigger: addObject(m_mapTriggers); break;
    case ObjectKind::Rule: addObject(m_mapRules); break;
    case ObjectKind::View: addObject(m_mapViews); break;
    case ObjectKind::Procedure: addObject(m_mapStoredProcs); break;
    case ObjectKind::Function: addObject(m_mapFunctions); break;
    case ObjectKind::ForeignKey:
      m_mapForeignKeyNames.SetAt(FormatString("%lu", objectId).view(), name);
      m_mapConstraintObjects[objectId] = {name, 'F', parent, info, status};
      break;
    case ObjectKind::Check: m_mapConstraintObjects[objectId] = {name, 'C', parent, info, status}; break;
    case ObjectKind::Default: m_mapConstraintObjects[objectId] = {name, 'D', parent, info, status}; break;
    case ObjectKind::Table: {
      if (objectId < kFirstUserObject) return;
      CTable* table = nullptr;
      if (!m_mapTables.Lookup(key.view(), table) || !table) {
        table = NewTable();
        table->m_nBitColumns = 0;
        m_mapTables.SetAt(key.view(), table);
      }
      if (decodable) {
        table->m_strName = name;
      } else {
        table->m_strName = SubstituteTableName(m_nUnicodeNameCounter++);
        LogSubstituteName("Table", long(objectId), nameBytes, table->m_strName);
      }
      table->m_dwObjectId = objectId;
      CString owner;
      if (!m_mapOwnerNames.Lookup(FormatString("%d", int(ownerId)).view(), owner) && ownerId == 1) {
        // User id 1 is dbo in every database: a lost sysusers page costs no owner name here.
        owner = "dbo";
      } else if (owner.IsEmpty()) {
        // The script would say dbo anyway; the warning says the name is a stand-in.
        owner = "dbo";
        const CString text = FormatString("table dbo.%s: its owner (user id %d) is not in sysusers; it is scripted as dbo",
                                          table->m_strName, int(ownerId));
        m_vecScanWarnings.push_back(text.str());
        CExecutionLog::WriteLog(0, 0, "Warning: " + text, true);
      }
      table->m_strOwner = owner;
      m_strLastOwnerName = owner;
      break;
    }
    case ObjectKind::None: break;
  }
}

bool CSQLServer2000::RebuildRawColumns(CTable* table) {
  CPageSource source;
  if (!OpenPageSource(source)) return false;
  rows2000::RawLayout layout;
  std::vector<BYTE> page(kPageSize);
  SlotWalkOptions options;
  options.maxEntry = kPageSize - 1;
  for (DWORD index : table->m_vecDataPages) {
    // A layout from part of the pages could miss entries later records hold: a stopped scan
    // names the table as not recovered instead.
    if (ScanStopped()) return false;
    if (!source.ReadPage(index, page.data()) || PageTypeOf(page.data()) != kPageData) continue;
    RestoreTornBitsIfPresent(page.data());
    ForEachSlot(page.data(), options, [&](int, WORD entry) {
      layout.Take(RecordView(page.data() + kPageHeaderSize, WORD(entry - kPageHeaderSize)));
      return true;
    });
  }
  if (!rows2000::BuildRawBytesColumns(*table, layout)) return false;
  const int fixedColumns = (std::max(layout.fixedEnd - 4, 0) + 7999) / 8000;
  const CString name = table->m_strName.IsEmpty() ? FormatString("with object id %lu", table->m_dwObjectId)
                                                   : table->m_strOwner + "." + table->m_strName;
  const CString text = FormatString(
      "table %s: its syscolumns rows are lost; its rows are kept as raw bytes in %d columns Column_N (the fixed "
      "part of %d bytes as binary, %d variable columns as varbinary or image), as its %d records on %d data pages "
      "show them; the column names and types are not known, and its keys, indexes and CHECK constraints are not "
      "exported",
      name, table->m_nCatalogColumns, std::max(layout.fixedEnd - 4, 0), table->m_nCatalogColumns - fixedColumns,
      layout.records, int(table->m_vecDataPages.size()));
  m_vecScanWarnings.push_back(text.str());
  CExecutionLog::WriteLog(0, 0, "Warning: " + text, true);
  return true;
}

void CSQLServer2000::NameUnnamedTables() {
  int serial = 1;
  for (auto it = m_mapTables.begin(); it != m_mapTables.end();) {
    CTable* table = it->second;
    if (table && table->m_dwObjectId >= kFirstUserObject && !table->m_pColumnHead && !table->m_vecDataPages.empty() &&
        !ScanStopped() && RebuildRawColumns(table)) {
      // Rebuilt from its records; kept below like any table with columns.
    } else if (table && table->m_dwObjectId >= kFirstUserObject && !table->m_pColumnHead &&
               !table->m_vecDataPages.empty()) {
      // Its rows are on the pages, but nothing says how to read them: said by name, never
      // dropped in silence.
      const CString name = table->m_strName.IsEmpty() ? FormatString("with object id %lu", table->m_dwObjectId)
                                                       : table->m_strOwner + "." + table->m_strName;
      const CString text = FormatString("table %s: its columns could not be recovered (its syscolumns rows are "
                                        "lost); its %d data pages were left unread",
                                        name, int(table->m_vecDataPages.size()));
      m_vecScanWarnings.push_back(text.str());
      CExecutionLog::WriteLog(0, 0, "Warning: " + text, true);
    } else if (table && table->m_dwObjectId >= kFirstUserObject && !table->m_pColumnHead && !table->m_strName.IsEmpty()) {
      // No row is lost with it, but its definition is: a table the catalog names is never
      // left out of the export in silence.
      const CString text = FormatString("table %s.%s: its columns could not be recovered (its syscolumns rows are "
                                        "lost); it holds no data page, and it is not exported",
                                        table->m_strOwner, table->m_strName);
      m_vecScanWarnings.push_back(text.str());
      CExecutionLog::WriteLog(0, 0, "Warning: " + text, true);
    }
    if (!table || table->m_dwObjectId < kFirstUserObject || !table->m_pColumnHead) {
      // The record stays in the pool until FreeRecoveredObjects; no key is scripted for it.
      m_mapForeignKeyTables.RemoveKey(it->first);
      it = m_mapTables.erase(it);
      continue;
    }
    if (table->m_strName.IsEmpty()) {
      table->m_strName = FormatString("RecoveredTab#_%d", serial++);
      table->m_strOwner = m_strLastOwnerName.IsEmpty() ? CString("dbo") : m_strLastOwnerName;
      // A table under a made-up name is a table whose name the damage cost: said so.
      const CString text = FormatString("table %s.%s: its name was lost (no sysobjects row for object id %lu); its "
                                        "columns and %d data pages are kept under this name",
                                        table->m_strOwner, table->m_strName, table->m_dwObjectId,
                                        int(table->m_vecDataPages.size()));
      m_vecScanWarnings.push_back(text.str());
      CExecutionLog::WriteLog(0, 0, "Warning: " + text, true);
    }
    ++it;
  }
}

// Status bits of a constraint's sysobjects row. 0x4 (a name the server made up) and 0x800 (not
// trusted: the rows were not checked when it was last switched on) the fixtures' catalogs show
// against their install scripts; 0x100 (switched off by NOCHECK CONSTRAINT) and 0x400 (NOT FOR
// REPLICATION) are the bits the server's own sysconstraints view turns into its disabled and
// replication flags. A foreign key keeps its two CASCADE actions in 0x1000 (ON DELETE) and
// 0x2000 (ON UPDATE): this format knows no other action than NO ACTION.
namespace {

ConstraintState ConstraintStateOf2000(DWORD status) {
  // System-named, disabled, not for replication, not trusted.
  return ConstraintStateOf(status, ConstraintStatusBits{0x4, 0x100, 0x400, 0x800});
}

BYTE ForeignKeyDeleteAction2000(DWORD status) { return (status & 0x1000) ? kCascade : kNoAction; }
BYTE ForeignKeyUpdateAction2000(DWORD status) { return (status & 0x2000) ? kCascade : kNoAction; }

}  // namespace

void CSQLServer2000::AttachConstraints() {
  const auto stateOf = ConstraintStateOf2000;
  // The types are read before the rules and texts they name.
  ResolveTypeBindings(m_mapDataTypes, m_mapRules, m_mapObjectTexts);
  for (auto& [key, table] : m_mapTables) {
    if (!table) continue;
    for (CForeignKey* k = table->m_pForeignKeyHead; k; k = k->m_pNext) {
      m_mapForeignKeyNames.Lookup(FormatString("%lu", k->m_dwConstraintId).view(), k->m_strName);
      const auto found = m_mapConstraintObjects.find(k->m_dwConstraintId);
      if (found == m_mapConstraintObjects.end()) continue;
      k->m_state = stateOf(found->second.status);
      k->m_bDeleteAction = ForeignKeyDeleteAction2000(found->second.status);
      k->m_bUpdateAction = ForeignKeyUpdateAction2000(found->second.status);
      // No file at hand had a cascading key to confirm these two bits on: each one read is
      // named, so a restore that deletes or updates more than its original can be checked.
      if (k->m_bDeleteAction == kCascade || k->m_bUpdateAction == kCascade)
        CExecutionLog::WriteLog(
            0, 0,
            FormatString("Foreign key [%s] of [%s].[%s] is scripted with%s%s, as its status word 0x%lx gives it",
                         k->m_strName, table->m_strOwner, table->m_strName,
                         k->m_bDeleteAction == kCascade ? " ON DELETE CASCADE" : "",
                         k->m_bUpdateAction == kCascade ? " ON UPDATE CASCADE" : "", found->second.status),
            false);
    }
  }
  for (const auto& [id, constraint] : m_mapConstraintObjects) {
    if (constraint.type != 'C') continue;
    CTable* table = nullptr;
    if (!m_mapTables.Lookup(FormatString("%lu", constraint.parentId).view(), table) || !table) continue;
    const CString what = "CHECK constraint [" + constraint.name + "] of [" + table->m_strOwner + "].[" +
                         table->m_strName + "]";
    CIndexInfo* text = nullptr;
    if (constraint.name.IsEmpty() || !m_mapObjectTexts.Lookup(FormatString("%lu", id).view(), text) || !text ||
        text->m_strText.IsEmpty()) {
      Log(what + " has no name or condition text: not exported");
      continue;
    }
    if (rows2000::IsRawBytesTable(*table)) {
      Log(what + " names columns its table no longer has (they were rebuilt as raw bytes): not exported");
      continue;
    }
    CCheckConstraint check;
    check.m_dwId = id;
    check.m_strName = constraint.name;
    check.m_strText = text->m_strText;
    check.m_wColumnId = constraint.columnId;
    check.m_state = stateOf(constraint.status);
    table->m_vecChecks.push_back(check);
  }
}

// ---- syscolumns

CString CSQLServer2000::GetTypeName(BYTE id) { return SqlTypeName(id, false); }

BYTE CSQLServer2000::BuildColumnStatus(BYTE bitPosition, BYTE typeStatus, BYTE typeId, WORD columnStatus) {
  const bool textType = typeId == 34 || typeId == 35;
  unsigned b = bitPosition & 7;
  if (!(typeStatus & 1)) b += 0x08;
  if ((typeStatus & 2) || (textType && (columnStatus & 0x1000))) b += 0x10;
  if (textType && (columnStatus & 0x2000)) b += 0x20;
  if (columnStatus & 0x0004) b += 0x40;
  if (columnStatus & 0x0001) b += 0x80;
  return BYTE(b & 0xFF);
}

void CSQLServer2000::DecodeColumnRow(BYTE* body, WORD rowOffset) {
  ByteView row = RecordView(body, rowOffset);
  if (row.U16(0) != kRowStatusWithVarPart || !row.ok()) return;
  const DWORD objectId = row.U32(4);
  const BYTE typeId = row.U8(8);
  const BYTE typeStatus = row.U8(9);
  const WORD userTypeId = row.U16(10);
  const WORD length = row.U16(12);
  const BYTE precision = row.U8(14);
  const BYTE scale = row.U8(15);
  const WORD columnId = row.U16(16);
  const short offset = row.I16(18);
  const BYTE bitPosition = row.U8(20);
  const WORD columnStatus = row.U16(22);
  const DWORD defaultId = row.U32(24);
  const DWORD ruleId = row.U32(28);  // domain: the rule bound to the column
  WORD order = row.U16(34);
  const DWORD collation = row.Has(38, 4) ? row.U32(38) : 0;  // only the preview needs it
  if (!row.ok() || objectId < kFirstUserObject) return;
  // Columns of views and procedure parameters make no table; a view's columns name the keys
  // of its indexes, by column id.
  if (m_setNonTableObjects.count(objectId)) {
    CViewStoredProc* view = nullptr;
    if (!m_mapViews.Lookup(FormatString("%ld", objectId).view(), view) || !view) return;
    size_t at = row.U16(2);
    if (at > 50) at &= 0xFF;
    const int n = row.U16(at);
    if (!row.ok() || n > 50) return;
    const VarPart part = ReadVarPart(row, at, n);
    if (!row.ok() || part.varColumns < 1) return;
    const size_t end = row.U16(part.endsAt) & ~kOffRowFlag;
    if (!row.ok() || end < part.dataAt || end - part.dataAt > kMaxNameBytes) return;
    const ByteView bytes = Field(row, part.dataAt, end);
    CString columnName;
    if (!row.ok() || !NameText(bytes, columnName)) columnName.Empty();
    view->AddColumn(columnId, columnName);
    return;
  }

  size_t countOffset = row.U16(2);
  if (countOffset > 50) countOffset &= 0xFF;
  const int columns = row.U16(countOffset);
  if (!row.ok() || columns > 50) return;
  const VarPart part = ReadVarPart(row, countOffset, columns);
  if (!row.ok() || part.varColumns < 1) return;
  const size_t nameEnd = row.U16(part.endsAt) & ~kOffRowFlag;
  if (!row.ok() || nameEnd < part.dataAt || nameEnd - part.dataAt > kMaxNameBytes) return;
  const ByteView nameBytes = Field(row, part.dataAt, nameEnd);
  if (!row.ok()) return;

  const CString type = GetTypeName(typeId);
  CString name;
  const bool decodable = NameText(nameBytes, name);
  const bool identity = (BuildColumnStatus(bitPosition, typeStatus, typeId, columnStatus) & 0x80) != 0;
  INT64 seed = 0, increment = 0;
  if (identity && part.varColumns >= 2) {
    // autoval: [current][seed][increment], each as wide as the column.
    const size_t autoEnd = row.U16(part.endsAt + 2) & ~kOffRowFlag;
    const bool known = type == "int" || type == "bigint" || type == "smallint" || type == "tinyint" ||
                       type == "decimal" || type == "numeric";
    // An autoval that leaves the page means the row is cut off: it is not taken.
    const ByteView autoval = Field(row, nameEnd, autoEnd);
    if (!row.ok()) return;
    if (known && length > 0 && length <= 17 && autoval.Has(0, size_t(length) * 3)) {
      seed = IdentityValue(autoval.data() + length, length, type);
      increment = IdentityValue(autoval.data() + 2 * size_t(length), length, type);
    }
  }

  const CString key = FormatString("%ld", objectId);
  CTable* table = nullptr;
  if (!m_mapTables.Lookup(key.view(), table) || !table) {
    table = NewTable();
    table->m_dwObjectId = objectId;
    table->m_nBitColumns = 0;
    m_mapTables.SetAt(key.view(), table);
  }
  if (identity) table->m_bHasIdentity = true;
  if (type == "bit") ++table->m_nBitColumns;

  auto column = std::make_unique<CColumn>();
  if (decodable) {
    column->m_strName = name;
  } else {
    column->m_strName = SubstituteColumnName(m_nUnicodeNameCounter++);
    LogSubstituteName("A column", long(objectId), nameBytes, column->m_strName);
  }
  column->m_strType = type;
  column->m_dwCollation = collation;
  column->m_wLength = length;
  column->m_bPrecision = precision;
  column->m_bScale = scale;
  column->m_nColumnId = columnId;
  column->m_nOffset = offset;
  column->m_bBitPosition = bitPosition;
  column->m_bNullable = !(typeStatus & 1);
  if (order > 255) order &= 0xFF;
  column->m_wColOrder = order;
  table->m_mapComputed.Lookup(FormatString("%u", unsigned(columnId)).view(), column->m_strComputed);
  if (defaultId != 0) {
    CIndexInfo* text = nullptr;
    if (m_mapObjectTexts.Lookup(FormatString("%ld", defaultId).view(), text) && text)
      column->m_strDefault = text->m_strText;
    // A default constraint of this table keeps its name; a bound default object has none.
    const auto constraint = m_mapConstraintObjects.find(defaultId);
    if (constraint != m_mapConstraintObjects.end() && constraint->second.type == 'D' &&
        constraint->second.parentId == objectId && !column->m_strDefault.IsEmpty())
      column->m_strDefaultName = constraint->second.name;
  }
  // Only an id that names a rule of this database is bound: anything else is not a rule.
  CViewStoredProc* rule = nullptr;
  if (ruleId != 0 && m_mapRules.Lookup(FormatString("%ld", long(ruleId)).view(), rule) && rule)
    column->m_strRuleName = rule->m_strName;
  CDataType* userType = nullptr;
  if (m_mapDataTypes.Lookup(FormatString("%d", int(userTypeId)).view(), userType) && userType)
    column->m_strUserType = userType->m_strName;
  else
    column->m_strUserType = type;
  column->m_bIdentity = identity;
  column->m_nIdentitySeed64 = seed;
  column->m_nIdentityIncrement64 = increment;
  column->m_dwIdentitySeed = DWORD(seed);
  column->m_dwIdentityIncrement = DWORD(increment);
  column->m_bDropped = 0;

  // Into the list by column order; a column seen before adds nothing.
  CColumn* before = nullptr;
  CColumn* after = nullptr;
  for (CColumn* c = table->m_pColumnHead; c; c = c->m_pNext) {
    if (m_nDataSetCount > 0) {
      if (c->m_nColumnId == column->m_nColumnId && c->m_wColOrder == column->m_wColOrder) return;
    } else if (c->m_strName == column->m_strName) {
      return;
    }
    if (!after && c->m_wColOrder > column->m_wColOrder) after = c;
    if (!after) before = c;
  }
  CColumn* placed = column.release();
  if (!after) {
    table->AppendColumn(placed);
  } else {
    placed->m_pNext = after;
    if (before) before->m_pNext = placed;
    else table->m_pColumnHead = placed;
  }

  if (IsVariableType(type)) {
    ++table->m_wVarColumnCap;
    ++table->m_nVarColumns;
    auto var = std::make_unique<CVarColumn>();
    var->m_strName = name;
    var->m_strType = type;
    var->m_wColOrder = row.U16(34);
    var->m_wLength = length;
    var->m_nVarIndex = offset;
    table->AppendVarColumn(var.release());
    table->m_mapVarTypes.SetAt(FormatString("%hd", offset).view(), type);
  }
  ++table->m_nCatalogColumns;
  ++table->m_nAllColumns;
}

// ---- sysindexes and sysreferences

std::vector<int> CSQLServer2000::ReadIndexKeyColumns(const BYTE* keys, size_t keyBytes, int entries) {
  std::vector<int> ids;
  for (int k = 0; k < entries && size_t(k + 1) * 32 <= keyBytes; ++k) {
    const BYTE* entry = keys + size_t(k) * 32;
    const int id = ReadU16(entry + 16);
    if (id == 0 || entry[30] == 1) continue;
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }
  return ids;
}

void CSQLServer2000::ParseSysIndexesRow(BYTE* body, WORD rowOffset) {
  ByteView row;
  if (!FindRowStart(body, rowOffset, row)) return;
  const DWORD objectId = row.U32(4);
  const DWORD status = row.U32(8);
  const WORD indexId = row.U16(18);
  const WORD keyEntries = row.U16(28);
  if (!row.ok()) return;
  // A system table's heap or clustered row: its first data page, a witness of a page the
  // table's own walk may not have found.
  if (objectId > 0 && objectId < kFirstUserObject && indexId <= 1) {
    const CatalogPageRef first{row.U16(16), row.U32(12)};
    if (row.ok()) m_catalogChecks.SetFirstPage(objectId, first);
    row.clear_error();
  }
  if (!(objectId == 1 || objectId == 2 || objectId == 3 || objectId == 6 || objectId >= kFirstUserObject)) return;
  // Statistics (0x40), hypothetical indexes (0x20), the heap (0) and text/image (255) rows
  // are no key or index of the table.
  if ((status & 0x40) || (status & 0x20) || indexId == 0 || indexId == 255) return;

  const size_t countOffset = row.U16(2);
  const int columns = row.U16(countOffset);
  if (!row.ok() || columns == 0 || columns > 30) return;
  const VarPart part = ReadVarPart(row, countOffset, columns);
  if (!row.ok() || part.varColumns < 1) return;
  const size_t keysEnd = row.U16(part.endsAt) & ~kOffRowFlag;
  const ByteView keys = Field(row, part.dataAt, keysEnd);
  if (!row.ok()) return;
  CString name;
  if (part.varColumns >= 2) {
    const size_t nameEnd = row.U16(part.endsAt + 2) & ~kOffRowFlag;
    const ByteView nameBytes = Field(row, keysEnd, nameEnd);
    if (!row.ok()) return;
    name = KeepBytes(nameBytes, false);
  }

  CTable* table = nullptr;
  CViewStoredProc* view = nullptr;
  if (!m_mapTables.Lookup(FormatString("%ld", objectId).view(), table) || !table) {
    // An index of a view (an indexed view): kept with the view, as the view is no table.
    if (!m_mapViews.Lookup(FormatString("%ld", objectId).view(), view) || !view || view->FindIndex(indexId)) return;
  }
  auto index = std::make_unique<CIndexInfo>();
  index->m_dwId = indexId;
  index->m_strName = name;
  index->m_bConstraint = (status & 0x1000) ? 1 : 0;
  index->m_bPrimaryKey = (status & 0x800) ? 1 : 0;
  index->m_bClustered = indexId == 1 ? 1 : 0;
  index->m_bNonClustered = (indexId >= 2 && !(status & (0x10 | 0x80 | 0x100))) ? 1 : 0;
  index->m_bUnique = (status & 0x2) ? 1 : 0;
  index->m_bFlag7 = (status & 0x80) ? 1 : 0;
  index->m_bFlag8 = (status & 0x100) ? 1 : 0;
  index->m_bFlag9 = (status & 0x200) ? 0 : 1;
  index->m_bFlag10 = (status & 0x400) ? 0 : 1;
  index->m_bFlag11 = (status & 0x200) ? 1 : 0;
  index->m_vecColumns = ReadIndexKeyColumns(keys.data(), keys.size(), keyEntries);
  index->m_vecDescending.assign(index->m_vecColumns.size(), false);
  if (view) {
    view->m_vecIndexes.push_back(std::move(*index));
    return;
  }
  table->m_bHasIndexes = true;
  // A clustered index that is not unique makes every row carry a uniquifier.
  if (index->m_bClustered && !index->m_bUnique) table->m_nExtraColumn = 1;
  table->SetIndex(FormatString("%ld", long(indexId)), index.release());
}

void CSQLServer2000::ParseSysForeignKeysRow(BYTE* body, WORD rowOffset) {
  ByteView row = RecordView(body, rowOffset);
  if (row.U16(0) != kRowStatusWithVarPart || !row.ok()) return;
  const DWORD constraintId = row.U32(4);
  const DWORD tableId = row.U32(8);
  const DWORD refTableId = row.U32(12);
  const int pairs = row.U16(18);
  if (!row.ok()) return;
  // The row ends where its last variable column ends; a damaged pair count must not reach
  // past it.
  size_t rowEnd = row.size();
  const size_t countOffset = row.U16(2);
  const int columns = row.U16(countOffset);
  if (row.ok()) {
    const VarPart part = ReadVarPart(row, countOffset, columns);
    if (row.ok() && part.varColumns > 0) {
      const size_t last = row.U16(part.endsAt + size_t(part.varColumns - 1) * 2) & ~kOffRowFlag;
      if (row.ok()) rowEnd = std::min(rowEnd, last);
    }
  }
  row.clear_error();
  if (pairs > kMaxForeignKeyColumns || 29 + 4 * size_t(pairs) > rowEnd) return;
  auto key = std::make_unique<CForeignKey>();
  key->m_dwConstraintId = constraintId;
  key->m_dwTableId = tableId;
  key->m_dwRefTableId = refTableId;
  for (int k = 0; k < pairs; ++k) {
    key->m_vecKeyColumns.push_back(row.U16(29 + 2 * size_t(k)));
    key->m_vecRefColumns.push_back(row.U16(29 + 2 * size_t(pairs) + 2 * size_t(k)));
  }
  if (!row.ok()) return;
  const CString tableKey = FormatString("%lu", tableId);
  CTable* table = nullptr;
  if (!m_mapTables.Lookup(tableKey.view(), table) || !table) return;
  table->AppendForeignKey(key.release());
  m_mapForeignKeyTables.SetAt(tableKey.view(), table);
}

// ---- syscomments

CViewStoredProc* CSQLServer2000::FindTextOwner(const CString& key, CStringKeyMap<CViewStoredProc*>** map) {
  for (auto* m : {&m_mapViews, &m_mapStoredProcs, &m_mapRules, &m_mapTriggers, &m_mapFunctions}) {
    CViewStoredProc* object = nullptr;
    if (m->Lookup(key.view(), object) && object) {
      if (map) *map = m;
      return object;
    }
  }
  return nullptr;
}

void CSQLServer2000::ParseSysCommentsRow(BYTE* body, WORD rowOffset) {
  ByteView row;
  if (!FindRowStart(body, rowOffset, row)) return;
  const DWORD objectId = row.U32(4);
  const WORD number = row.U16(8);
  const WORD colid = row.U16(10);
  if (!row.ok() || objectId < 100) return;
  const CString key = FormatString("%ld", objectId);
  CStringKeyMap<CViewStoredProc*>* ownerMap = nullptr;
  const bool hasOwner = FindTextOwner(key, &ownerMap) || m_mapTables.Contains(key.view());
  if (!hasOwner && objectId <= 2000) return;

  size_t countOffset = row.U16(2);
  if (countOffset > 255) countOffset &= 0xFF;
  if (countOffset > 30) return;
  const int columns = row.U16(countOffset);
  if (!row.ok() || columns == 0) return;
  const VarPart part = ReadVarPart(row, countOffset, columns);
  if (!row.ok() || part.varColumns < 1) return;
  const WORD end = row.U16(part.endsAt);
  if (!row.ok()) return;
  if (end & kOffRowFlag) {
    // A text kept off the row needs the text/image reader; the row is left out and said so.
    CExecutionLog::WriteLog(0, 1, FormatString("Object text of %ld is not in its row: not read", objectId), true);
    return;
  }
  if (end < part.dataAt || end - part.dataAt > kMaxTextBytes) return;
  const ByteView textBytes = Field(row, part.dataAt, end);
  if (!row.ok()) return;
  // Rows keep their stored bytes: a character may be split between two of them.
  const CString text(std::string(reinterpret_cast<const char*>(textBytes.data()), textBytes.size()));
  if (ownerMap != &m_mapTriggers)
    CExecutionLog::WriteLog(0, 0, DefinitionTextToUtf8(textBytes).c_str(), false);

  // Rows of one text are joined when the walk ends, in colid order whatever the page order.
  TextPieces& pieces = m_mapTextPieces[{objectId, number}];
  if (pieces.rows.empty() || colid < pieces.colid) {
    pieces.number = number;
    pieces.colid = colid;
  }
  pieces.rows.emplace(colid, text);
}

void CSQLServer2000::StoreObjectTexts() {
  for (auto& [id, pieces] : m_mapTextPieces) {
    std::string stored;
    for (const auto& row : pieces.rows) stored += row.second.str();
    const CString text(DefinitionTextToUtf8(ByteView(reinterpret_cast<const BYTE*>(stored.data()), stored.size())));
    const CString key = FormatString("%ld", id.first);
    if (CViewStoredProc* object = FindTextOwner(key, nullptr)) {
      object->m_wValue1 = pieces.number;
      object->m_wValue2 = pieces.colid;
      if (object->m_strText.IsEmpty()) object->m_strText = text;
      continue;
    }
    CTable* table = nullptr;
    if (m_mapTables.Lookup(key.view(), table) && table) {
      table->m_mapComputed.SetAt(FormatString("%u", unsigned(pieces.number)).view(), text);
      continue;
    }
    if (id.first <= 2000) continue;
    auto* record = new CIndexInfo();
    record->m_nValue = int(id.first);
    record->m_strText = text;
    Replace(m_mapObjectTexts, key, record);
  }
  m_mapTextPieces.clear();
}

// ---- sysusers and systypes

void CSQLServer2000::ParseSysUsersRow(BYTE* body, WORD rowOffset) {
  ByteView row = RecordView(body, rowOffset);
  const WORD userId = row.U16(4);
  const size_t countOffset = row.U16(2);
  const int columns = row.U16(countOffset);
  if (!row.ok() || columns > 40) return;
  const VarPart part = ReadVarPart(row, countOffset, columns);
  if (!row.ok() || part.varColumns < 1) return;
  const size_t end = row.U16(part.endsAt) & ~kOffRowFlag;
  if (!row.ok() || end < part.dataAt || end - part.dataAt > kMaxNameBytes) return;
  const ByteView nameBytes = Field(row, part.dataAt, end);
  if (!row.ok()) return;
  m_mapOwnerNames.SetAt(FormatString("%u", unsigned(userId)).view(), KeepBytes(nameBytes, true));
}

void CSQLServer2000::ParseSysTypesRow(BYTE* body, WORD rowOffset) {
  ByteView row = RecordView(body, rowOffset);
  const size_t countOffset = row.U16(2);
  if (!row.ok() || countOffset >= 501) return;
  const BYTE typeId = row.U8(4);
  // Bit 0x1: columns of the type are NOT NULL unless declared otherwise.
  const BYTE typeStatus = row.U8(5);
  const WORD userTypeId = row.U16(6);
  const WORD length = row.U16(8);
  const BYTE precision = row.U8(10);
  const BYTE scale = row.U8(11);
  const DWORD defaultId = row.U32(12);  // tdefault: the default object bound to the type
  const DWORD ruleId = row.U32(16);     // domain: the rule bound to the type
  const DWORD collationId = row.U32(24);
  if (!row.ok() || userTypeId == typeId || userTypeId == 256) return;
  const int columns = row.U16(countOffset);
  if (!row.ok() || columns > 40) return;
  // The name is the row's one variable column.
  const size_t endAt = countOffset + 2 + BitmapBytes(columns) + 2;
  const size_t nameStart = endAt + 2;
  const size_t end = row.U16(endAt) & ~kOffRowFlag;
  if (!row.ok() || end < nameStart || end - nameStart > kMaxNameBytes) return;
  const ByteView nameBytes = Field(row, nameStart, end);
  if (!row.ok()) return;
  auto* type = new CDataType();
  type->m_strName = KeepBytes(nameBytes, true);
  type->m_bSystemTypeId = typeId;
  type->m_wLength = length;
  type->m_bPrecision = precision;
  type->m_bScale = scale;
  type->m_dwValue1 = collationId;
  type->m_dwValue2 = defaultId;
  type->m_dwDefaultObjectId = defaultId;
  type->m_dwRuleId = ruleId;
  type->m_bNotNull = (typeStatus & 0x1) != 0;
  Replace(m_mapDataTypes, FormatString("%d", int(userTypeId)), type);
}
