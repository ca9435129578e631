// Small synthetic catalog rows for the index, column and schema-completion tests: the
// records are laid out as SQL Server stores them (status bytes, fixed part, column count,
// null bitmap, variable-column ends, variable data) and placed in a page body.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/page.h"
#include "common/records.h"
#include "dll/pellwyn2008/pellwyn2008.h"

namespace catalogrows {

using Bytes = std::vector<BYTE>;

inline void Put(Bytes& b, size_t at, std::uint64_t value, int width) {
  if (b.size() < at + width) b.resize(at + width, 0);
  for (int i = 0; i < width; ++i) b[at + i] = BYTE(value >> (8 * i));
}

// UTF-16LE of an ASCII text.
inline Bytes Utf16(const std::string& text) {
  Bytes out;
  for (unsigned char c : text) {
    out.push_back(c);
    out.push_back(0);
  }
  return out;
}

// A record: `fixed` is the whole fixed part from offset 0 (its status bytes and F are
// filled in here), then N, a zero null bitmap and, when `vars` is not empty, the variable
// part. Status byte A is 0x30 with a variable part, 0x10 without, unless given.
inline Bytes Record(Bytes fixed, WORD columns, const std::vector<Bytes>& vars, int statusA = -1) {
  if (fixed.size() < 4) fixed.resize(4, 0);
  fixed[0] = BYTE(statusA >= 0 ? statusA : (vars.empty() ? 0x10 : 0x30));
  fixed[1] = 0;
  Put(fixed, 2, fixed.size(), 2);
  Bytes r = fixed;
  Put(r, r.size(), columns, 2);
  const size_t bitmap = columns < 8 ? 1 : (columns + 7) / 8;
  r.resize(r.size() + bitmap, 0);
  if (!vars.empty()) {
    Put(r, r.size(), vars.size(), 2);
    size_t end = r.size() + 2 * vars.size();
    for (const Bytes& v : vars) {
      end += v.size();
      Put(r, r.size(), end, 2);
    }
    for (const Bytes& v : vars) r.insert(r.end(), v.begin(), v.end());
  }
  return r;
}

// Row of the column catalog (system object 41).
struct ColumnRow {
  int objectId = 1001;
  DWORD columnId = 1;
  BYTE systemType = 56;
  int userType = -1;  // -1: the system type
  WORD length = 4;
  BYTE precision = 10;
  BYTE scale = 0;
  DWORD collation = 0;
  DWORD status = 0;
  int defaultId = 0;
  int ruleId = 0;  // chk
  std::string name = "c";
  Bytes rawName;     // overrides `name` when not empty
  Bytes identity;    // the identity value block (second variable column)
  int statusA = -1;

  Bytes Build() const {
    Bytes f(45, 0);
    Put(f, 4, DWORD(objectId), 4);
    Put(f, 10, columnId, 4);
    Put(f, 14, systemType, 1);
    Put(f, 15, DWORD(userType >= 0 ? userType : systemType), 4);
    Put(f, 19, length, 2);
    Put(f, 21, precision, 1);
    Put(f, 22, scale, 1);
    Put(f, 23, collation, 4);
    Put(f, 27, status, 4);
    Put(f, 37, DWORD(defaultId), 4);
    Put(f, 41, DWORD(ruleId), 4);
    std::vector<Bytes> vars{rawName.empty() ? Utf16(name) : rawName};
    if (!identity.empty()) vars.push_back(identity);
    return Record(f, 16, vars, statusA);
  }
};

// Row of the index catalog (system object 54).
struct IndexRow {
  int objectId = 1001;
  DWORD indexId = 1;
  DWORD status = 0x01;
  std::string name = "IX";
  Bytes rawName;
  WORD columns = 11;
  int statusA = -1;

  Bytes Build() const {
    Bytes f(39, 0);
    Put(f, 4, DWORD(objectId), 4);
    Put(f, 8, indexId, 4);
    Put(f, 12, status, 4);
    return Record(f, columns, {rawName.empty() ? Utf16(name) : rawName}, statusA);
  }
};

// A row of the object values (system object 60); `text` is the second variable column, an
// off-row pointer when `offRow` is set.
struct ValueRow {
  BYTE valueClass = 1;
  int objectId = 1001;
  int subObjectId = 0;
  int valueNumber = 0;
  Bytes text;
  bool offRow = false;
  int statusA = -1;

  Bytes Build() const {
    Bytes f(17, 0);
    Put(f, 4, valueClass, 1);
    Put(f, 5, DWORD(objectId), 4);
    Put(f, 9, DWORD(subObjectId), 4);
    Put(f, 13, DWORD(valueNumber), 4);
    Bytes r = Record(f, 6, {Bytes{0x7f, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, text}, statusA);
    // The second end offset, at F + 6 + B (B = 1 for six columns), marks a pointer.
    if (offRow) r[17 + 6 + 1 + 1] |= 0x80;
    return r;
  }
};

// Row of the rowset-column catalog (system object 3).
struct RsColRow {
  std::int64_t rowsetId = 72057594038779904;
  DWORD rowsetColumn = 1;
  DWORD physicalColumn = 1;
  DWORD status = 0;
  short offset = 4;
  WORD bitPosition = 0;
  DWORD typeInfo = 0;  // the type id in the low byte, its size above it
  DWORD collation = 0;
  int statusA = -1;

  Bytes Build() const {
    Bytes f(58, 0);
    Put(f, 4, std::uint64_t(rowsetId), 8);
    Put(f, 12, rowsetColumn, 4);
    Put(f, 16, physicalColumn, 4);
    Put(f, 28, typeInfo, 4);
    Put(f, 32, collation, 4);
    Put(f, 40, status, 4);
    Put(f, 44, WORD(offset), 2);
    Put(f, 48, physicalColumn, 4);
    Put(f, 52, bitPosition, 2);
    return Record(f, 13, {}, statusA);
  }
};

// Row of the 2005 hobt-column catalog (system object 13): a column's place in the stored
// rows of one heap or B-tree.
struct HobtColRow {
  std::int64_t hobtId = 72057594038779904;
  DWORD hobtColumn = 1;
  short offset = 4;
  WORD bitPosition = 0;
  WORD nullBit = 1;
  DWORD status = 0x20;  // takes no NULL
  BYTE systemType = 56;
  WORD length = 4;
  BYTE precision = 10;
  BYTE scale = 0;
  DWORD collation = 0;
  int statusA = -1;

  Bytes Build() const {
    Bytes f(41, 0);
    Put(f, 4, std::uint64_t(hobtId), 8);
    Put(f, 12, hobtColumn, 4);
    Put(f, 16, status, 4);
    Put(f, 22, systemType, 1);
    Put(f, 23, length, 2);
    Put(f, 25, precision, 1);
    Put(f, 26, scale, 1);
    Put(f, 27, collation, 4);
    Put(f, 31, WORD(offset), 2);
    Put(f, 33, WORD(offset), 2);  // the place in the rows above the leaf level
    Put(f, 35, bitPosition, 2);
    Put(f, 37, nullBit, 2);
    return Record(f, 15, {}, statusA);
  }
};

// Row of the 2005 rowset-column catalog (system object 4): which hobt column a rowset column is.
struct RowsetColRow {
  std::int64_t rowsetId = 72057594038779904;
  DWORD rowsetColumn = 1;
  DWORD hobtColumn = 1;
  int statusA = -1;

  Bytes Build() const {
    Bytes f(34, 0);
    Put(f, 4, std::uint64_t(rowsetId), 8);
    Put(f, 12, rowsetColumn, 4);
    Put(f, 16, hobtColumn, 4);
    Put(f, 32, 4, 2);
    return Record(f, 6, {}, statusA);
  }
};

// Row of the index-column catalog (system object 55).
struct IsColRow {
  int objectId = 1001;
  int indexId = 1;
  DWORD subId = 1;
  DWORD status = 0x03;  // an index column of an index (not a statistics column)
  DWORD columnId = 1;
  BYTE keyOrdinal = 1;
  int statusA = -1;

  Bytes Build() const {
    Bytes f(26, 0);
    Put(f, 4, DWORD(objectId), 4);
    Put(f, 8, DWORD(indexId), 4);
    Put(f, 12, subId, 4);
    Put(f, 16, status, 4);
    Put(f, 20, columnId, 4);
    Put(f, 24, keyOrdinal, 1);
    return Record(f, 7, {}, statusA);
  }
};

// A page body (the page after its header) holding one record at `offset`.
struct Body {
  Bytes bytes = Bytes(kPageBodySize, 0);
  WORD Place(const Bytes& record, WORD offset = 0) {
    for (size_t i = 0; i < record.size() && offset + i < bytes.size(); ++i) bytes[offset + i] = record[i];
    return offset;
  }
  BYTE* data() { return bytes.data(); }
};

// Decodes one record with an engine row decoder, as the page walk would.
inline void Decode(CSQLServer2008& engine, CSQLServer2008::RowDecoder decoder, const Bytes& record,
                   WORD offset = 0) {
  Body body;
  body.Place(record, offset);
  (engine.*decoder)(body.data(), offset);
}

// A table record in the engine's map, as the object stage leaves it.
inline CTable* AddTable(CSQLServer2008& engine, DWORD objectId, const char* name, const char* owner = "dbo") {
  CTable* t = engine.NewTable();
  t->m_dwObjectId = objectId;
  t->m_strName = name;
  t->m_strOwner = owner;
  engine.m_mapTables.SetAt(FormatString("%lu", objectId).view(), t);
  return t;
}

inline std::vector<const CColumn*> Columns(const CTable* t) {
  std::vector<const CColumn*> out;
  for (const CColumn* c = t->m_pColumnHead; c; c = c->m_pNext) out.push_back(c);
  return out;
}

inline std::vector<const CVarColumn*> VarColumns(const CTable* t) {
  std::vector<const CVarColumn*> out;
  for (const CVarColumn* v = t->m_pVarHead; v; v = v->m_pNext) out.push_back(v);
  return out;
}

inline const CColumn* ColumnNamed(const CTable* t, const std::string& name) {
  for (const CColumn* c = t->m_pColumnHead; c; c = c->m_pNext)
    if (name == c->m_strName.c_str()) return c;
  return nullptr;
}

}  // namespace catalogrows
