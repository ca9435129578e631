// The header of a stored data record, which SQL Server 2000 and 2005/2008 lay out alike, and
// the checks that decide whether bytes no slot vouches for are a record of a given table.
//
// Layout (little-endian; offsets from the record's first byte):
//      0  status byte A: bits 1-3 record type, 0x10 null bitmap, 0x20 variable part
//      1  status byte B
//      2  F: offset of the column count, the end of the fixed part
//      F  N: columns stored
//    F+2  null bitmap, BitmapBytes(N)
//  F+2+B  V: variable entries (only with 0x20)
//  F+4+B  V end offsets; bit 0x8000 marks an off-row pointer, the rest is still the end
// The record ends after its last variable entry, or after V (or the bitmap) without entries.
//
// A live record is where its slot says. A deleted one is not vouched for: a ghost (record
// type 6, or 7 in 2005/2008) or any record of a page the allocation map marks free may hold
// stale bytes, and a zeroed slot leaves only a guess of where its record was. Such a record is
// taken only when its header fits the table: a data record type with a null bitmap, the
// table's fixed-part length and column count (or a smaller count its live records hold), and
// a bitmap and variable offsets that lie in
// order inside the room the record may have (up to the next record the page knows, or its
// free-space offset). Every read is bounded by that room, never past the page.
#pragma once

#include <vector>

#include "platform/types.h"

// What every record of a table shows in its header.
struct RecordShape {
  // F: 4 plus the stored widths of the fixed-length columns, dropped ones included; 0 when a
  // width is not known (F is then not checked).
  int fixedEnd = 0;
  // N: the table's columns, dropped ones included.
  int columnCount = 0;
  // Smaller counts the table's live records hold: rows written before a column was added.
  std::vector<int> olderCounts;
  // One more stored column is the table's too (the uniquifier of a clustered index that is
  // not unique).
  bool uniquifier = false;
  // Record type 7 is a deleted data record too (2005/2008).
  bool ghostVersion = false;
};

enum class RecordKind : BYTE {
  kLive,     // a primary or forwarded data record
  kDeleted,  // a ghost data record: a row someone deleted
  kOther,    // forwarding stub, index, text or anything else
};
RecordKind RecordKindOf(BYTE statusA, bool ghostVersion);

enum class RecordFault : BYTE {
  kNone,
  kNoRoom,         // the record would start at or beyond the room it may have
  kNotData,        // not a data record, or no null bitmap
  kFixedEnd,       // F is not the table's
  kColumnCount,    // N is not the table's
  kOutOfRoom,      // the bitmap, the offsets or a value would leave the room
  kOffsetsOrder,   // a variable entry ends before the one before it
};
const char* RecordFaultText(RecordFault fault);

// The page offset just past the record at `offset` as its header tells it, if the header and
// the end lie inside [offset, limit); 0 otherwise. No shape is checked.
WORD RecordEndOf(const BYTE* page, WORD offset, WORD limit);

// Whether the bytes at page offset `offset` are a record of the shape that ends at or before
// `limit` (at most the page size). On kNone *end is the page offset just past the record.
RecordFault CheckRecordCandidate(const BYTE* page, WORD offset, WORD limit, const RecordShape& shape, WORD* end);

// The first page offset in [from, limit) that passes CheckRecordCandidate, or 0. The search
// is bounded by the room: a record needs at least its header inside it.
WORD FindRecordCandidate(const BYTE* page, WORD from, WORD limit, const RecordShape& shape, WORD* end);

// The page's free-space offset (header offset 30), where the next record would be written:
// no record reaches past it. A value outside the record area gives the start of the slot
// array of `slots` entries.
WORD PageFreeSpaceOffset(const BYTE* page, int slots);

// The room of a record that starts at `offset`: up to the first of `knownStarts` (sorted)
// after it, or up to `freeSpace`, whichever comes first.
WORD RecordRoomEnd(const std::vector<WORD>& knownStarts, WORD offset, WORD freeSpace);
