// Synthetic SQL Server 2000 pages and system-table rows for the 2000 engine's tests: rows in
// the format the server writes (status, fixed part, column count, null bitmap, variable
// columns with their end offsets), placed on 8192-byte pages with a slot array.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/page.h"

namespace pages2000 {

using Bytes = std::vector<BYTE>;

inline Bytes Utf16(const std::string& s) {
  Bytes out;
  for (char c : s) {
    out.push_back(BYTE(c));
    out.push_back(0);
  }
  return out;
}

inline Bytes Le(UINT64 v, int width) {
  Bytes out;
  for (int i = 0; i < width; ++i) out.push_back(i < 8 ? BYTE(v >> (8 * i)) : BYTE(0));
  return out;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A row: `fixedEnd` is the offset of its column count (the end of the fixed part).
class Row {
 public:
  explicit Row(size_t fixedEnd, WORD status = 0x0030) : m_fixed(fixedEnd, 0) { Put(0, status, 2); }
  Row& Put(size_t offset, UINT64 value, int width) {
    for (int i = 0; i < width; ++i) m_fixed.at(offset + size_t(i)) = BYTE(value >> (8 * i));
    return *this;
  }
  Row& Columns(int n) {
    m_columns = n;
    return *this;
  }
  Row& Var(const Bytes& value) {
    m_vars.push_back(value);
    return *this;
  }
  Bytes Build() const {
    Bytes row = m_fixed;
    row[2] = BYTE(m_fixed.size());
    row[3] = BYTE(m_fixed.size() >> 8);
    Bytes count = Le(WORD(m_columns), 2);
    row.insert(row.end(), count.begin(), count.end());
    row.insert(row.end(), BitmapBytes(m_columns), 0);
    Bytes v = Le(WORD(m_vars.size()), 2);
    row.insert(row.end(), v.begin(), v.end());
    size_t end = row.size() + 2 * m_vars.size();
    for (const Bytes& var : m_vars) {
      end += var.size();
      Bytes e = Le(WORD(end), 2);
      row.insert(row.end(), e.begin(), e.end());
    }
    for (const Bytes& var : m_vars) row.insert(row.end(), var.begin(), var.end());
    return row;
  }

 private:
  Bytes m_fixed;
  int m_columns = 1;
  std::vector<Bytes> m_vars;
};

// An 8192-byte page of file 1 (the primary data file): header fields, rows from byte 96 on,
// the slot array at the end.
class Page {
 public:
  Page(BYTE type, DWORD objectId, DWORD pageId) : m_bytes(kPageSize, 0) {
    m_bytes[1] = type;
    Put(24, objectId, 4);
    Put(32, pageId, 4);
    Put(36, 1, 2);
  }
  Page& Put(size_t offset, UINT64 value, int width) {
    for (int i = 0; i < width; ++i) m_bytes.at(offset + size_t(i)) = BYTE(value >> (8 * i));
    return *this;
  }
  // Places a row and gives it the next slot; returns its offset from the page start.
  WORD Add(const Bytes& row) {
    const WORD at = WORD(m_next);
    std::memcpy(m_bytes.data() + m_next, row.data(), row.size());
    m_next += row.size();
    SetSlot(m_slots, at);
    return at;
  }
  void SetSlot(int slot, WORD entry) {
    Put(size_t(kPageSize - 2 * (slot + 1)), entry, 2);
    if (slot >= m_slots) {
      m_slots = slot + 1;
      Put(22, WORD(m_slots), 2);
    }
  }
  void SetSlotCount(int count) {
    m_slots = count;
    Put(22, WORD(count), 2);
  }
  // Places a row at an offset of its own, with no slot.
  void Place(size_t at, const Bytes& row) { std::memcpy(m_bytes.data() + at, row.data(), row.size()); }
  BYTE* data() { return m_bytes.data(); }
  BYTE* body() { return m_bytes.data() + kPageHeaderSize; }
  const Bytes& bytes() const { return m_bytes; }

 private:
  Bytes m_bytes;
  size_t m_next = kPageHeaderSize;
  int m_slots = 0;
};

// sysobjects row: id, two-character type, owner, status, parent, name.
inline Bytes ObjectRow(DWORD id, const char* type, const std::string& name, DWORD status = 0, DWORD parent = 0,
                       WORD owner = 1) {
  return Row(42).Put(4, id, 4).Put(8, BYTE(type[0]), 1).Put(9, BYTE(type[1] ? type[1] : ' '), 1).Put(12, owner, 2)
      .Put(16, status, 4).Put(28, parent, 4).Columns(25).Var(Utf16(name)).Build();
}

struct ColumnSpec {
  DWORD table;
  std::string name;
  BYTE typeId;
  WORD length;
  WORD colid;
  WORD order;
  short offset = 0;
  bool notNull = false;
  bool identity = false;
  Bytes autoval;
  WORD userType = 0;
  DWORD defaultId = 0;
  BYTE bit = 0;
  DWORD ruleId = 0;  // domain
};

// syscolumns row: the fixed fields the reader takes, the name and autoval.
inline Bytes ColumnRow(const ColumnSpec& c, WORD status = 0x0030) {
  Row row(40, status);
  row.Put(4, c.table, 4).Put(8, c.typeId, 1).Put(9, c.notNull ? 1 : 0, 1).Put(10, c.userType ? c.userType : c.typeId, 2)
      .Put(12, c.length, 2).Put(16, c.colid, 2).Put(18, WORD(c.offset), 2).Put(20, c.bit, 1)
      .Put(22, c.identity ? 1 : 0, 2).Put(24, c.defaultId, 4).Put(28, c.ruleId, 4)
      .Put(34, c.order, 2);
  row.Columns(21).Var(Utf16(c.name));
  if (!c.autoval.empty()) row.Var(c.autoval);
  return row.Build();
}

// sysindexes row: key entries of 32 bytes (column id at 16, byte 30), then the name.
inline Bytes IndexRow(DWORD table, WORD indexId, DWORD status, const std::vector<std::pair<WORD, BYTE>>& keys,
                      const std::string& name) {
  Bytes list;
  for (auto [colid, flag] : keys) {
    Bytes entry(32, 0);
    entry[16] = BYTE(colid);
    entry[17] = BYTE(colid >> 8);
    entry[30] = flag;
    list.insert(list.end(), entry.begin(), entry.end());
  }
  return Row(32).Put(4, table, 4).Put(8, status, 4).Put(18, indexId, 2).Put(28, WORD(keys.size()), 2).Columns(27)
      .Var(list).Var(Utf16(name)).Build();
}

// sysreferences row: constraint, referencing and referenced table, the column pairs.
inline Bytes ForeignKeyRow(DWORD constraint, DWORD table, DWORD refTable, const std::vector<WORD>& keys,
                           const std::vector<WORD>& refs, int pairs = -1) {
  Bytes k, r;
  for (WORD id : keys) {
    Bytes b = Le(id, 2);
    k.insert(k.end(), b.begin(), b.end());
  }
  for (WORD id : refs) {
    Bytes b = Le(id, 2);
    r.insert(r.end(), b.begin(), b.end());
  }
  return Row(20).Put(4, constraint, 4).Put(8, table, 4).Put(12, refTable, 4)
      .Put(18, WORD(pairs < 0 ? int(keys.size()) : pairs), 2).Columns(7).Var(k).Var(r).Build();
}

// syscomments row: object, number, colid, 8-bit text.
inline Bytes CommentRow(DWORD id, WORD number, WORD colid, const std::string& text) {
  return Row(14).Put(4, id, 4).Put(8, number, 2).Put(10, colid, 2).Put(12, 2, 2).Columns(6)
      .Var(Bytes(text.begin(), text.end())).Build();
}

inline Bytes UserRow(WORD uid, const std::string& name) {
  return Row(16).Put(4, uid, 2).Columns(9).Var(Utf16(name)).Build();
}

inline Bytes TypeRow(BYTE typeId, WORD userType, WORD length, const std::string& name) {
  return Row(28).Put(4, typeId, 1).Put(6, userType, 2).Put(8, length, 2).Put(12, 0x1234, 4).Put(24, 0x5678, 4)
      .Columns(13).Var(Utf16(name)).Build();
}

}  // namespace pages2000
