// Constraints: foreign keys and CHECK constraints put together from three catalogs. System
// object 34 names them and gives their table and state (ReadObjectInfo), system object 60
// holds the CHECK conditions (ReadObjectValues), and system object 74, the object
// references, gives each foreign key its referenced table and its column pairs.
//
// Row of system object 74 (offsets from the record start, little-endian):
//    4 class (1)   5 referencing object (4)   9 its sub-id (4)   13 referenced object (4)
//   17 its sub-id (4)   21 status (4)
// Foreign keys use three classes: 27 names the referenced table (sub-id: the key index),
// 28 gives key position n (the referencing object's sub-id) its column of the table, 29 the
// column it references.
//
// Status bits of a constraint's object row, as the fixtures' catalogs show them against their
// install scripts: 0x4 a name the server made up, 0x100 switched off, 0x200 not for
// replication, 0x400 not trusted (the rows were not checked when it was last switched on);
// a foreign key's update action in bits 12-13 and its delete action in bits 14-15.
#include <memory>
#include <string>

#include "common/constraintscripts.h"
#include "common/defaultobjects.h"
#include "common/executionlog.h"
#include "common/page.h"
#include "pellwyn2008.h"

namespace {

constexpr int kReferenceSlotLimit = 500;
constexpr BYTE kForeignKeyTable = 27;
constexpr BYTE kForeignKeyColumn = 28;
constexpr BYTE kForeignKeyRefColumn = 29;
constexpr int kMaxKeyPosition = 32;  // a foreign key has at most 32 columns

// The state flags of a constraint's object row: system-named, disabled, not for
// replication, not trusted.
constexpr ConstraintStatusBits kStateBits{0x4, 0x100, 0x200, 0x400};

void Log(const CString& text) { CExecutionLog::WriteLog(0, 0, text.c_str(), false); }

ByteView RecordAt(const BYTE* body, WORD offset) {
  if (!body || offset >= kPageBodySize) return ByteView();
  return ByteView(body + offset, size_t(kPageBodySize - offset));
}

ConstraintState StateOf(DWORD status) { return ConstraintStateOf(status, kStateBits); }

CString TableText(const CTable& table) { return "[" + table.m_strOwner + "].[" + table.m_strName + "]"; }

}  // namespace

void CSQLServer2008::ReadObjectReferences() {
  WalkSystemTable("74", &CSQLServer2008::DecodeObjectReferenceRow, kReferenceSlotLimit, false);
}

void CSQLServer2008::DecodeObjectReferenceRow(BYTE* body, WORD recordOffset) {
  ByteView row = RecordAt(body, recordOffset);
  const WORD status = row.U16(0);
  // Live rows only: a ghost is a reference that was dropped.
  if (!row.ok() || ((status >> 1) & 7) != 0) return;
  const BYTE referenceClass = row.U8(4);
  const int objectId = row.I32(5);
  const int subId = row.I32(9);
  const int referenced = row.I32(13);
  const int referencedSubId = row.I32(17);
  if (!row.ok()) return;
  if (referenceClass != kForeignKeyTable && referenceClass != kForeignKeyColumn && referenceClass != kForeignKeyRefColumn)
    return;
  // Only what the objects stage knows as a foreign key: the class numbers mean other things
  // for other objects.
  const auto constraint = m_mapConstraintObjects.find(objectId);
  if (constraint == m_mapConstraintObjects.end() || constraint->second.type != "F") return;
  ForeignKeyReferences& key = m_mapForeignKeyReferences[objectId];
  if (referenceClass == kForeignKeyTable) {
    key.refTableId = referenced;
    return;
  }
  if (subId <= 0 || subId > kMaxKeyPosition || referencedSubId <= 0) return;
  auto& columns = referenceClass == kForeignKeyColumn ? key.parentColumns : key.refColumns;
  columns[subId] = {referenced, referencedSubId};
}

void CSQLServer2008::AttachConstraints() {
  // The types are read before the rules and texts they name.
  ResolveTypeBindings(m_mapDataTypes, m_mapRules, m_mapIndexes);
  for (const auto& [id, constraint] : m_mapConstraintObjects) {
    if (constraint.type != "F" && constraint.type != "C") continue;
    CTable* table = nullptr;
    // Constraints of system tables, or of tables the scan dropped, have nowhere to go.
    if (!m_mapTables.Lookup(FormatString("%ld", constraint.parentId).view(), table) || !table) continue;
    const CString what = (constraint.type == "F" ? "Foreign key [" : "CHECK constraint [") + constraint.name + "] of " +
                         TableText(*table);
    if (constraint.name.IsEmpty()) {
      Log(what + " has no name: not exported");
      continue;
    }
    if (constraint.type == "C") {
      if (m_setColumnsRebuilt.count(table)) {
        NoteScanWarning(what + ": its condition names columns whose names were lost: not exported");
        continue;
      }
      CIndexInfo* text = nullptr;
      if (!m_mapIndexes.Lookup(FormatString("%ld", id).view(), text) || !text || text->m_strText.IsEmpty()) {
        Log(what + " has no condition text: not exported");
        continue;
      }
      CCheckConstraint check;
      check.m_dwId = DWORD(id);
      check.m_strName = constraint.name;
      check.m_strText = text->m_strText;
      check.m_state = StateOf(constraint.status);
      table->m_vecChecks.push_back(check);
      continue;
    }
    const auto found = m_mapForeignKeyReferences.find(id);
    if (found == m_mapForeignKeyReferences.end()) {
      Log(what + " has no references in the catalog: not exported");
      continue;
    }
    const ForeignKeyReferences& refs = found->second;
    // Positions 1..n on both sides, each column of this table and of one referenced table.
    const size_t n = refs.parentColumns.size();
    bool whole = n > 0 && refs.refColumns.size() == n && refs.refTableId != 0;
    auto key = std::make_unique<CForeignKey>();
    for (size_t p = 1; whole && p <= n; ++p) {
      const auto parent = refs.parentColumns.find(int(p));
      const auto ref = refs.refColumns.find(int(p));
      if (parent == refs.parentColumns.end() || ref == refs.refColumns.end() ||
          parent->second.first != constraint.parentId || ref->second.first != refs.refTableId ||
          parent->second.second > 0xFFFF || ref->second.second > 0xFFFF) {
        whole = false;
        break;
      }
      key->m_vecKeyColumns.push_back(WORD(parent->second.second));
      key->m_vecRefColumns.push_back(WORD(ref->second.second));
    }
    if (!whole) {
      Log(what + ": its column pairs or referenced table cannot be read: not exported");
      continue;
    }
    key->m_dwConstraintId = DWORD(id);
    key->m_dwTableId = DWORD(constraint.parentId);
    key->m_dwRefTableId = DWORD(refs.refTableId);
    key->m_strName = constraint.name;
    key->m_bUpdateAction = BYTE((constraint.status >> 12) & 3);
    key->m_bDeleteAction = BYTE((constraint.status >> 14) & 3);
    key->m_state = StateOf(constraint.status);
    table->AppendForeignKey(key.release());
  }
  m_mapForeignKeyReferences.clear();
}
