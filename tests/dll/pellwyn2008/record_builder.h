// Small synthetic user tables, data records and data pages for the record decoder and
// preview tests. Records are laid out as SQL Server stores them; each test changes the one
// field that shows its fault.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/page.h"
#include "common/records.h"

namespace recordtest {

using Bytes = std::vector<BYTE>;

inline void Put(Bytes& b, size_t at, std::uint64_t value, size_t width) {
  if (b.size() < at + width) b.resize(at + width, 0);
  for (size_t i = 0; i < width; ++i) b[at + i] = BYTE(value >> (8 * i));
}

inline Bytes LE(std::uint64_t value, size_t width) {
  Bytes b;
  Put(b, 0, value, width);
  return b;
}

inline Bytes Utf16(const std::string& text) {
  Bytes out;
  for (unsigned char c : text) {
    out.push_back(c);
    out.push_back(0);
  }
  return out;
}

inline Bytes Ascii(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A user table whose columns get catalog positions as they are added: fixed columns one after
// the other from offset 4, variable columns the next variable index, null bits in order.
class TableBuilder {
 public:
  explicit TableBuilder(CTable& table, const char* name = "T") : m_table(table) {
    m_table.m_strName = name;
    m_table.m_strOwner = "dbo";
  }

  CColumn* Fixed(const char* name, const char* type, WORD length, bool nullable = true, BYTE precision = 0,
                 BYTE scale = 0) {
    CColumn* c = Add(name, type, length, nullable);
    c->m_bPrecision = precision;
    c->m_bScale = scale;
    c->m_bCatalogOffset = true;
    c->m_nOffset = short(m_fixedEnd);
    m_fixedEnd += length;
    return c;
  }
  // A bit column sharing the byte of the previous bit column when `bit` > 0.
  CColumn* Bit(const char* name, BYTE bit, bool nullable = true) {
    CColumn* c = Add(name, "bit", 1, nullable);
    c->m_bCatalogOffset = true;
    if (bit == 0) m_bitByte = m_fixedEnd++;
    c->m_nOffset = short(m_bitByte);
    c->m_bBitPosition = bit;
    return c;
  }
  CColumn* Variable(const char* name, const char* type, WORD length, bool nullable = true) {
    CColumn* c = Add(name, type, length, nullable);
    c->m_bCatalogOffset = true;
    c->m_nOffset = short(-(++m_vars));
    m_table.m_mapVarTypes.SetAt(FormatString("%hd", c->m_nOffset).view(), type);
    auto* v = new CVarColumn;
    v->m_strName = name;
    v->m_strType = type;
    v->m_wColOrder = c->m_wColOrder;
    v->m_nVarIndex = c->m_nOffset;
    m_table.AppendVarColumn(v);
    ++m_table.m_nVarColumns;
    return c;
  }
  CColumn* Computed(const char* name, const char* type, const char* formula) {
    CColumn* c = Add(name, type, 4, true);
    c->m_strComputed = formula;
    return c;
  }

  // Offset of the end of the fixed part (F) for records of all the columns added so far.
  int FixedEnd() const { return m_fixedEnd; }
  DWORD NullBits() const { return m_nextNullBit - 1; }

 private:
  CColumn* Add(const char* name, const char* type, WORD length, bool nullable) {
    auto* c = new CColumn;
    c->m_strName = name;
    c->m_strType = type;
    c->m_strUserType = type;
    c->m_wLength = length;
    c->m_bNullable = nullable;
    c->m_wColOrder = WORD(m_nextNullBit);
    c->m_dwRowsetColumn = m_nextNullBit++;
    m_table.AppendColumn(c);
    ++m_table.m_nCatalogColumns;
    ++m_table.m_nAllColumns;
    return c;
  }

  CTable& m_table;
  int m_fixedEnd = 4;
  int m_bitByte = 4;
  int m_vars = 0;
  DWORD m_nextNullBit = 1;
};

// A stored record: the fixed part (4-byte header included; its status bytes and F are filled
// in), N, the null bitmap and the variable part.
struct RecordParts {
  BYTE statusA = 0x30;
  Bytes fixed = Bytes(4, 0);
  int columnCount = 0;        // N
  std::vector<int> nullBits;  // 1-based numbers of the set null bits
  bool writeVarPart = true;   // the variable count and offsets (whatever statusA says)
  struct Var {
    Bytes bytes;
    bool complex = false;
  };
  std::vector<Var> vars;

  // Writes a value into the fixed part at its record offset.
  void Set(int offset, const Bytes& value) {
    if (fixed.size() < size_t(offset) + value.size()) fixed.resize(size_t(offset) + value.size(), 0);
    std::copy(value.begin(), value.end(), fixed.begin() + offset);
  }
};

inline Bytes BuildRecord(const RecordParts& s) {
  Bytes r = s.fixed;
  if (r.size() < 4) r.resize(4, 0);
  r[0] = s.statusA;
  r[1] = 0;
  Put(r, 2, r.size(), 2);
  Put(r, r.size(), WORD(s.columnCount), 2);
  const size_t bitmapAt = r.size();
  const size_t bitmap = s.columnCount < 8 ? 1 : size_t(s.columnCount + 7) / 8;
  r.resize(r.size() + bitmap, 0);
  for (int bit : s.nullBits)
    if (bit >= 1 && size_t(bit - 1) / 8 < bitmap) r[bitmapAt + size_t(bit - 1) / 8] |= BYTE(1 << ((bit - 1) % 8));
  if (s.writeVarPart && (!s.vars.empty() || (s.statusA & 0x20))) {
    Put(r, r.size(), s.vars.size(), 2);
    const size_t offsetsAt = r.size();
    r.resize(r.size() + 2 * s.vars.size(), 0);
    size_t end = r.size();
    for (size_t k = 0; k < s.vars.size(); ++k) {
      end += s.vars[k].bytes.size();
      Put(r, offsetsAt + 2 * k, end | (s.vars[k].complex ? 0x8000 : 0), 2);
    }
    for (const auto& v : s.vars) r.insert(r.end(), v.bytes.begin(), v.bytes.end());
  }
  return r;
}

// A data page (type 1) of the object holding these records, one slot each, in order; the slot
// array is filled from the page end. Records that do not fit are left out.
inline Bytes DataPage(DWORD pageId, DWORD objectId, const std::vector<Bytes>& records, BYTE type = kPageData) {
  Bytes page(kPageSize, 0);
  page[0] = 1;
  page[1] = type;
  Put(page, 24, objectId, 4);
  Put(page, 32, pageId, 4);
  size_t at = kPageHeaderSize;
  WORD slots = 0;
  for (const Bytes& r : records) {
    const size_t slotAt = kPageSize - 2 * (size_t(slots) + 1);
    if (at + r.size() > slotAt - 2) break;
    std::copy(r.begin(), r.end(), page.begin() + at);
    Put(page, slotAt, at, 2);
    at += r.size();
    ++slots;
  }
  Put(page, 22, slots, 2);
  return page;
}

}  // namespace recordtest
