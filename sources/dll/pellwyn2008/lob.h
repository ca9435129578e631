// Off-row large values: the pointer a data row keeps for a value stored on text pages, and
// the bounded walk that gathers the value's bytes from those pages. Every decoder that meets
// an off-row column (object texts, preview, export) parses it with ParseOffRowPointer and
// reads it with a LobWalker (through CSQLServer2008::ReadOffRowValue inside the engine).
//
// Row side. A variable column whose end offset has bit 0x8000 holds a pointer; its bytes run
// from the column's start to the masked end offset (end & 0x7FFF), and the next column starts
// there. Two forms, told apart by that length:
//   16 bytes     text pointer (text, ntext, image):
//                  0  value identifier (its first 4 bytes are the stamp)   4
//                  4  rest of the identifier                               4
//                  8  page id of the value's root record                   4
//                 12  file id                                              2
//                 14  slot                                                 2
//   12 + 12 n    root (byte 0 = 4: a max-type value moved off row; byte 0 = 2: a row-overflow
//                value of a variable column), n >= 1 entries:
//                  0  form byte (4 or 2)                                   1
//                  1  index level of the records the entries name (0 = data)  1
//                  2  (not used)                                           4
//                  6  stamp: first 4 bytes of the value identifier         4
//                 10  (not used)                                           2
//                 12  entries, 12 bytes each:
//                       0 running byte count of the value after this piece 4
//                       4 page id                                          4
//                       8 file id                                          2
//                      10 slot                                             2
//
// Text-page side. Records on pages of type 3 (text mix) and 4 (text tree):
//    0 status (2), 2 record length, header included (2), 4 value identifier (8; the first
//   4 bytes are compared with the stamp), 12 kind (2), then by kind:
//   0 small value   14 data length (2); the data from 20
//   3 data          the data from 14 to the record's end
//   4, 5 large root 14 maximum links (2), 16 current links (2), 18 level (2); links from 24,
//                   12 bytes each (running byte count 4, page id 4, file id 2, slot 2)
//   2 internal node 14 maximum links (2), 16 current links (2), 18 level (2); links from 20,
//                   16 bytes each (running byte count 8, page id 4, file id 2, slot 2)
// A value is assembled depth first, in link order. Text pages carry torn bits; they are put
// back before a page is read, since they often sit in the slot array itself.
//
// Damaged pages are expected: links may point outside the source, at pages of other types,
// at slots that do not exist, or back into the value itself. The walk is bounded by depth,
// by the set of records already visited, by a record count and by a byte count; whatever
// stops it, the bytes read before that point stay the result and the report says why.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "common/lobcore.h"
#include "common/page.h"
#include "platform/cstring.h"
#include "platform/files.h"
#include "platform/types.h"

#if !defined(PELLWYN_EXPORT)
#if defined(__GNUC__)
#define PELLWYN_EXPORT __attribute__((visibility("default")))
#else
#define PELLWYN_EXPORT
#endif
#endif

// Where a large-value record lives. Page ids are the pages' own ids, as links name them; the
// file id is kept for diagnostics only (a source is one database file).
using LobRid = lobcore::Rid;

// One entry of a root: the value's running byte count after this piece, and the piece.
struct LobLink {
  UINT64 endOffset = 0;
  LobRid rid;
};

// An off-row pointer as a row holds it.
struct OffRowPointer {
  enum class Form : BYTE { kTextPointer, kRoot };
  Form form = Form::kTextPointer;
  BYTE rootKind = 0;   // root: its form byte (4 or 2)
  BYTE level = 0;      // root: level of the records its entries name
  DWORD stamp = 0;     // value identifier the named root record carries (first 4 bytes)
  // Text pointer: one link, to the value's root record (endOffset 0). Root: its entries, up to
  // the first whose running byte count does not grow (a damaged tail is left out).
  std::vector<LobLink> links;
  bool truncated = false;  // root entries were left out because their counts did not grow

  // Byte count the pointer promises (last running count of a root; 0 for a text pointer).
  UINT64 ExpectedBytes() const { return form == Form::kRoot && !links.empty() ? links.back().endOffset : 0; }
};

// Parses the pointer held in `column`, which must be exactly the column's bytes (from its
// start to its masked end offset). False, with `pointer` cleared, when the bytes are not a
// pointer of either form: a length that fits neither, a root whose form byte is not 4 or 2,
// or a root whose first entry is already damaged.
PELLWYN_EXPORT bool ParseOffRowPointer(ByteView column, OffRowPointer& pointer);

// Receives a value's bytes, in value order, as the walk reads them; LobBytesSink keeps them
// in memory.
using LobSink = lobcore::Sink;
using LobBytesSink = lobcore::BytesSink;

// Appends the bytes to an open file (a table's Blob file); the caller opens and closes it.
class PELLWYN_EXPORT LobFileSink : public LobSink {
 public:
  explicit LobFileSink(FILE_HANDLE file) : m_file(file) {}
  bool Append(const BYTE* data, size_t size) override;

 private:
  FILE_HANDLE m_file;
};

// The walk's bounds, why it ended early, and how far it got (common/lobcore.h).
using LobLimits = lobcore::Limits;
using LobStop = lobcore::Stop;
using LobReadReport = lobcore::Report;
inline const char* LobStopText(LobStop stop) { return lobcore::StopText(stop); }

// Reads the page with this page id into an 8192-byte buffer; false when the source has none.
using LobPageReader = std::function<bool(DWORD pageId, BYTE* page)>;

// One walk over the records of a value: the shared bounded walk under the 2005+ reading
// rules. Not shared between threads; cheap to construct. Each public read starts afresh
// (visited set and report); it keeps the last page it read, since the records of one value
// often share a page.
class PELLWYN_EXPORT LobWalker {
 public:
  explicit LobWalker(LobPageReader reader, const LobLimits& limits = LobLimits());

  // The whole value a row's pointer names, in value order.
  void ReadPointer(const OffRowPointer& pointer, LobSink& sink);
  // The record at `rid` and everything below it. `rootAllowed` admits a large root (kinds 4
  // and 5, as a text pointer names them), which is expanded only when its identifier matches
  // `stamp`; small values and data records are read either way, internal nodes walked.
  void ReadRecord(const LobRid& rid, DWORD stamp, bool rootAllowed, LobSink& sink);
  // The children of the internal node (kind 2) at `rid`, in link order.
  void ReadNode(const LobRid& rid, LobSink& sink);

  const LobReadReport& report() const { return m_report; }

 private:
  lobcore::Walker m_walker;
  LobReadReport m_report;
};

// A value's bytes as the row decoders show them: two lower-case hex digits per byte in hex
// mode; with the text check "?????" when any of the bytes at positions 1, 3 and 5 is not
// zero (not UTF-16 text of single-byte characters); otherwise the bytes without their zeros.
PELLWYN_EXPORT CString RenderLobText(const BYTE* data, size_t size, bool hex, bool textCheck);
