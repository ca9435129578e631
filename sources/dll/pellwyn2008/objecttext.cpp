// Object definition texts: the rows of system object 60 (object values) give the source of
// views, procedures, rules, triggers and functions, the texts of computed columns and column
// defaults, and the texts of other objects such as default objects.
//
// Row layout (offsets from the record start, little-endian):
//    0 status (2)            2 fixed-part end F (2; only its low byte when above 255)
//    4 value class (1)       5 object id (4)      9 sub-object id (4; a table's column id)
//   13 value number (4)
//    F column count N (2), F+2 null bitmap (B bytes), F+2+B variable-column count (2),
//    F+4+B end of the first variable column E1, F+6+B end of the second, the text, E2.
// The text runs from E1 to E2 in the row, or, when E2 carries the complex-column flag, the
// bytes there are an off-row pointer (lob.h). Texts are stored as UTF-16.
#include <string>

#include "common/page.h"
#include "common/unicodetext.h"
#include "lob.h"
#include "pellwyn2008.h"

namespace {

constexpr WORD kRowVersioned = 0x0040;
constexpr WORD kValueRowStatus = 0x0030;       // a row with null bitmap and variable part
constexpr WORD kGhostValueRowStatus = 0x003C;  // the same row, deleted
constexpr int kValueSlotLimit = 500;
constexpr int kFirstUnlistedObjectId = 2000;
constexpr BYTE kModuleValueClass = 1;
constexpr BYTE kColumnValueClass = 2;
// A definition text filed under a table with the index id as sub-object: the predicate of a
// filtered index. The same class as module texts, which always have sub-object 0.
constexpr BYTE kIndexFilterValueClass = 1;

ByteView RecordAt(const BYTE* body, WORD offset) {
  if (!body || offset >= kPageBodySize) return ByteView();
  return ByteView(body + offset, size_t(kPageBodySize - offset));
}

// Map keys are decimal texts of ids.
template <class T>
std::string KeyText(const char* format, T value) {
  return FormatString(format, value).str();
}

bool IsValueRow(const BYTE* body, WORD offset, bool recoverDeleted) {
  ByteView row = RecordAt(body, offset);
  const WORD status = WORD(row.U16(0) & ~kRowVersioned);
  if (!row.ok()) return false;
  return status == kValueRowStatus || (recoverDeleted && status == kGhostValueRowStatus);
}

// Slot entries whose high byte is off by one still lead to the row: the row is looked for at
// the offset itself, then 256 bytes further, then 256 bytes back.
bool FindValueRow(const BYTE* body, WORD offset, bool recoverDeleted, WORD* found) {
  if (IsValueRow(body, offset, recoverDeleted)) {
    *found = offset;
    return true;
  }
  const WORD entry = WORD(offset + kPageHeaderSize);
  const BYTE high = BYTE(entry >> 8);
  const BYTE low = BYTE(entry);
  for (BYTE shifted : {BYTE(high + 1), BYTE(high - 1)}) {
    const WORD candidate = WORD((WORD(shifted) << 8 | low) - kPageHeaderSize);
    if (IsValueRow(body, candidate, recoverDeleted)) {
      *found = candidate;
      return true;
    }
  }
  return false;
}

CString DefinitionText(const BYTE* data, size_t size) { return CString(DefinitionTextToUtf8(ByteView(data, size))); }

enum class TextOwner { kView, kProcedure, kRule, kTrigger, kTable, kFunction, kUnlisted };

}  // namespace

void CSQLServer2008::ReadObjectValues() {
  WalkSystemTable("60", &CSQLServer2008::DecodeObjectValueRow, kValueSlotLimit);
}

void CSQLServer2008::DecodeObjectValueRow(BYTE* body, WORD recordOffset) {
  WORD offset = 0;
  if (!FindValueRow(body, recordOffset, m_bRecoverDeleted, &offset)) return;
  ByteView row = RecordAt(body, offset);
  const BYTE valueClass = row.U8(4);
  const int objectId = row.I32(5);
  const int subObjectId = row.I32(9);
  const int valueNumber = row.I32(13);
  if (!row.ok()) return;

  // The first map that knows the object wins.
  const std::string key = KeyText("%ld", objectId);
  CViewStoredProc* object = nullptr;
  CTable* table = nullptr;
  TextOwner owner;
  if (m_mapViews.Lookup(key, object)) owner = TextOwner::kView;
  else if (m_mapStoredProcs.Lookup(key, object)) owner = TextOwner::kProcedure;
  else if (m_mapRules.Lookup(key, object)) owner = TextOwner::kRule;
  else if (m_mapTriggers.Lookup(key, object)) owner = TextOwner::kTrigger;
  else if (m_mapTables.Lookup(key, table)) owner = TextOwner::kTable;
  else if (m_mapFunctions.Lookup(key, object)) owner = TextOwner::kFunction;
  else if (objectId > kFirstUnlistedObjectId) owner = TextOwner::kUnlisted;
  else return;
  if (owner == TextOwner::kTable ? !table : (owner != TextOwner::kUnlisted && !object)) return;
  if (owner == TextOwner::kTrigger && (valueClass != kModuleValueClass || subObjectId != 0 || valueNumber != 0))
    return;
  const bool indexFilter = owner == TextOwner::kTable && valueClass == kIndexFilterValueClass && subObjectId > 0;
  if (owner == TextOwner::kTable && valueClass != kColumnValueClass && !indexFilter) return;
  // An object keeps the first text it is given: nothing to read for it.
  if (object && !object->m_strText.IsEmpty()) return;

  WORD fixedEnd = row.U16(2);
  if (fixedEnd > 255) fixedEnd &= 0xFF;
  if (!row.ok() || fixedEnd > 30) return;
  const WORD columns = row.U16(fixedEnd);
  if (!row.ok() || columns == 0) return;
  const size_t bitmap = BitmapBytes(columns);
  const WORD varColumns = row.U16(fixedEnd + 2 + bitmap);
  const WORD firstEnd = row.U16(fixedEnd + 4 + bitmap);
  const WORD textEnd = row.U16(fixedEnd + 6 + bitmap);
  // The text is the second variable column; without it the row holds no text.
  if (!row.ok() || varColumns < 2) return;
  const size_t start = firstEnd & 0x7FFF;
  const size_t end = textEnd & 0x7FFF;
  if (end < start) return;
  ByteView column = row.Sub(start, end - start);
  if (!row.ok()) return;

  CString text;
  if (textEnd & 0x8000) {
    OffRowPointer pointer;
    if (!ParseOffRowPointer(column, pointer)) return;
    LobBytesSink sink;
    ReadOffRowValue(pointer, sink);
    text = DefinitionText(reinterpret_cast<const BYTE*>(sink.bytes.data()), sink.bytes.size());
  } else {
    text = DefinitionText(column.data(), column.size());
  }

  switch (owner) {
    case TextOwner::kTable:
      if (indexFilter) m_mapIndexFilterTexts.emplace(std::make_pair(objectId, subObjectId), text);
      else table->m_mapComputed.SetAt(KeyText("%ld", subObjectId), text);
      break;
    case TextOwner::kUnlisted: {
      auto* index = new CIndexInfo;
      index->m_nValue = objectId;
      index->m_strText = text;
      CIndexInfo* old = nullptr;
      if (m_mapIndexes.Lookup(key, old)) delete old;
      m_mapIndexes.SetAt(key, index);
      break;
    }
    default:
      object->m_strText = text;
      break;
  }
}
