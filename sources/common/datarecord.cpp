#include "datarecord.h"

#include <algorithm>

#include "page.h"

namespace {

constexpr BYTE kStatusBitmap = 0x10;
constexpr BYTE kStatusVarPart = 0x20;
constexpr WORD kOffRowBit = 0x8000;
constexpr int kRecordHeader = 4;  // status bytes and F

// The header fields up to the end of the null bitmap, read inside [offset, limit).
struct HeaderFields {
  BYTE statusA = 0;
  int fixedEnd = 0;
  int columnCount = 0;
  size_t bitmapEnd = 0;  // record offset just past the bitmap
};

bool ReadHeader(const BYTE* page, WORD offset, WORD limit, HeaderFields& h) {
  if (offset < kPageHeaderSize || limit > kPageSize || offset >= limit || limit - offset < kRecordHeader) return false;
  const size_t room = size_t(limit - offset);
  const BYTE* r = page + offset;
  h.statusA = r[0];
  h.fixedEnd = ReadU16(r + 2);
  if (h.fixedEnd < kRecordHeader || size_t(h.fixedEnd) + 2 > room) return false;
  h.columnCount = ReadU16(r + h.fixedEnd);
  h.bitmapEnd = size_t(h.fixedEnd) + 2 + BitmapBytes(h.columnCount);
  return h.bitmapEnd <= room;
}

// The record offset just past the variable part (or the bitmap), checking that the entries
// lie in order inside the room.
RecordFault VariableEnd(const BYTE* r, size_t room, const HeaderFields& h, size_t& end) {
  end = h.bitmapEnd;
  if (!(h.statusA & kStatusVarPart)) return RecordFault::kNone;
  if (end + 2 > room) return RecordFault::kOutOfRoom;
  const size_t count = ReadU16(r + end);
  const size_t offsetsAt = end + 2;
  if (count * 2 > room - offsetsAt) return RecordFault::kOutOfRoom;
  size_t previous = offsetsAt + count * 2;
  for (size_t k = 0; k < count; ++k) {
    const size_t entryEnd = ReadU16(r + offsetsAt + 2 * k) & WORD(~kOffRowBit);
    if (entryEnd < previous) return RecordFault::kOffsetsOrder;
    if (entryEnd > room) return RecordFault::kOutOfRoom;
    previous = entryEnd;
  }
  end = previous;
  return RecordFault::kNone;
}

}  // namespace

RecordKind RecordKindOf(BYTE statusA, bool ghostVersion) {
  switch ((statusA >> 1) & 7) {
    case 0:
    case 1: return RecordKind::kLive;
    case 6: return RecordKind::kDeleted;
    case 7: return ghostVersion ? RecordKind::kDeleted : RecordKind::kOther;
    default: return RecordKind::kOther;
  }
}

const char* RecordFaultText(RecordFault fault) {
  switch (fault) {
    case RecordFault::kNone: return "fits the table";
    case RecordFault::kNoRoom: return "no room for a record";
    case RecordFault::kNotData: return "not a data record";
    case RecordFault::kFixedEnd: return "fixed part is not the table's";
    case RecordFault::kColumnCount: return "column count is not the table's";
    case RecordFault::kOutOfRoom: return "record would overlap the next one";
    case RecordFault::kOffsetsOrder: return "variable offsets out of order";
  }
  return "unknown";
}

WORD RecordEndOf(const BYTE* page, WORD offset, WORD limit) {
  HeaderFields h;
  if (!page || !ReadHeader(page, offset, limit, h)) return 0;
  size_t end = 0;
  if (VariableEnd(page + offset, size_t(limit - offset), h, end) != RecordFault::kNone) return 0;
  return WORD(offset + end);
}

RecordFault CheckRecordCandidate(const BYTE* page, WORD offset, WORD limit, const RecordShape& shape, WORD* end) {
  if (!page || offset < kPageHeaderSize || limit > kPageSize || offset >= limit || limit - offset < kRecordHeader)
    return RecordFault::kNoRoom;
  const BYTE* r = page + offset;
  const size_t room = size_t(limit - offset);
  if (RecordKindOf(r[0], shape.ghostVersion) == RecordKind::kOther || !(r[0] & kStatusBitmap))
    return RecordFault::kNotData;
  const int fixedEnd = ReadU16(r + 2);
  if (fixedEnd < kRecordHeader || (shape.fixedEnd > 0 && fixedEnd != shape.fixedEnd)) return RecordFault::kFixedEnd;
  if (size_t(fixedEnd) + 2 > room) return RecordFault::kOutOfRoom;
  const int n = ReadU16(r + fixedEnd);
  if (n != shape.columnCount && !(shape.uniquifier && n == shape.columnCount + 1) &&
      !(n < shape.columnCount && std::find(shape.olderCounts.begin(), shape.olderCounts.end(), n) !=
                                     shape.olderCounts.end()))
    return RecordFault::kColumnCount;
  HeaderFields h;
  if (!ReadHeader(page, offset, limit, h)) return RecordFault::kOutOfRoom;
  size_t recordEnd = 0;
  const RecordFault fault = VariableEnd(r, room, h, recordEnd);
  if (fault != RecordFault::kNone) return fault;
  if (end) *end = WORD(offset + recordEnd);
  return RecordFault::kNone;
}

WORD FindRecordCandidate(const BYTE* page, WORD from, WORD limit, const RecordShape& shape, WORD* end) {
  if (!page || limit > kPageSize) return 0;
  for (int at = std::max<int>(from, kPageHeaderSize); at + kRecordHeader <= limit; ++at)
    if (CheckRecordCandidate(page, WORD(at), limit, shape, end) == RecordFault::kNone) return WORD(at);
  return 0;
}

WORD PageFreeSpaceOffset(const BYTE* page, int slots) {
  const int slotArray = kPageSize - 2 * std::clamp(slots, 0, kMaxSlots);
  const int free = ReadU16(page + 30);
  return WORD(free < kPageHeaderSize || free > slotArray ? slotArray : free);
}

WORD RecordRoomEnd(const std::vector<WORD>& knownStarts, WORD offset, WORD freeSpace) {
  const auto next = std::upper_bound(knownStarts.begin(), knownStarts.end(), offset);
  return next == knownStarts.end() ? freeSpace : std::min(*next, freeSpace);
}
