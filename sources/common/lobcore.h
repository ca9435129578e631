// The bounded walk over the records of an off-row text, ntext or image value, as both page
// formats store them on text pages (page type 3, text mix, and 4, text tree). A data row keeps
// only a pointer to the value's first record; the walk gathers the value's bytes from there.
//
// Text-page records ("fragments"; offsets from the record's first byte, little-endian):
//    0  status                                                     2
//    2  record length, header included                             2
//    4  value identifier (the first 4 bytes are compared)          8
//   12  kind                                                       2
//   then by kind:
//   0 small value   14 data length (2); the data from 20
//   3 data          the data from 14 to the record's end
//   4, 5 large root 14 maximum links (2), 16 links (2); links from 24, 12 bytes each:
//                   running byte count (4), page (4), file (2), slot (2)
//   2 tree node     14 maximum entries (2), 16 entries (2); entries from 20, 16 bytes each:
//                   running byte count (4), not used (4), page (4), file (2), slot (2)
// A value is its records' data in link order, depth first. Only a large root is checked
// against the pointer's value identifier, and only where the pointer leads straight to it.
//
// Damaged pages are expected: links may point outside the source, at pages of other types,
// at slots that do not exist, or back into the value itself. The walk is bounded by depth,
// by the set of records already visited, by a record count and by a byte count. A piece that
// cannot be read is left out and the walk goes on with the next; whatever stops the walk, the
// bytes gathered before that point stay the result and the report says why.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/page.h"
#include "platform/types.h"

namespace lobcore {

// Where a text-page record lives.
struct Rid {
  DWORD page = 0;
  WORD file = 0;
  WORD slot = 0;
};

// Reads page `rid.page` of file `rid.file` into an 8192-byte buffer; false when the source
// has no such page. Torn bits need not be restored: the walk does it.
using PageReader = std::function<bool(const Rid& rid, BYTE* page)>;

struct Limits {
  int maxDepth = 8;                 // records between a pointer and its data records
  size_t maxRecords = 400000;       // records one value may visit (2 GB is ~270,000)
  UINT64 maxBytes = 0x80000000ull;  // the largest value the server stores
};

// What the two page formats read differently.
struct Policy {
  // Slots past the page's slot count that are still read. The 2000 format's reader accepts
  // a slot number up to the count + 1 (extraSlots 2); the 2005+ reader none.
  int extraSlots = 0;
  // Tree-node entries: as many as the node's length holds (2000) rather than its count field.
  bool nodeEntriesFromLength = false;
  // The reader finds pages by page id alone (the 2005+ engine reads one database file, and
  // its file ids are only diagnostics): records whose links differ only in the file id are
  // one record, so a link back to one of them is a cycle.
  bool pagesByIdAlone = false;
};

// Why a walk ended before the value was whole.
enum class Stop : BYTE {
  kNone,     // nothing went wrong
  kDamaged,  // a page, slot or record failed a check (missing page, wrong type or kind...)
  kCycle,    // a link led back to a record of this value
  kDepth,    // the tree was deeper than the limit
  kRecords,  // more records than the limit
  kBytes,    // more bytes than the limit
  kSink,     // the sink refused the bytes
};
const char* StopText(Stop stop);

// Receives a value's bytes, in value order, as the walk reads them.
class Sink {
 public:
  virtual ~Sink() = default;
  // Takes the next run; false stops the walk (the sink could not keep the bytes).
  virtual bool Append(const BYTE* data, size_t size) = 0;
};

// Keeps the bytes in memory.
class BytesSink : public Sink {
 public:
  bool Append(const BYTE* data, size_t size) override;
  std::string bytes;
};

struct Report {
  UINT64 bytes = 0;     // bytes gathered
  size_t records = 0;   // records visited
  Stop stop = Stop::kNone;  // the first thing that went wrong
  bool complete() const { return stop == Stop::kNone; }
};

// One walk at a time; cheap to construct, not shared between threads. It keeps the last page
// it read, since the records of one value often share a page.
class Walker {
 public:
  Walker(PageReader reader, const Policy& policy, const Limits& limits = Limits());

  // Each read starts afresh (visited set and report).
  // The value whose first record a row's pointer names, appended to `out`. A large root there
  // is expanded when its identifier's first 4 bytes equal `valueId`; a large root met any
  // deeper is damage.
  Report ReadValue(const Rid& rid, DWORD valueId, std::string& out);
  // The record at `rid` and everything below it, to `sink`. `rootAllowed` admits a large root,
  // expanded only when its identifier matches `valueId`; small values and data records are
  // read either way, tree nodes walked.
  const Report& ReadRecord(const Rid& rid, DWORD valueId, bool rootAllowed, Sink& sink);
  // The children of the tree node at `rid`, in link order.
  const Report& ReadNode(const Rid& rid, Sink& sink);
  // The pieces a root held in a row names, in order: data records or tree nodes one level
  // below the root, never another root. No piece at all is damage.
  const Report& ReadPieces(const std::vector<Rid>& pieces, DWORD valueId, Sink& sink);

  const Report& report() const { return m_report; }

 private:
  struct Record {
    ByteView bytes;  // the record, bounded by its length and by the page
    WORD kind = 0;
    DWORD valueId = 0;
  };
  void Begin();
  // Notes a problem; all but kDamaged also end the walk (a damaged piece is only skipped).
  void Fail(Stop stop);
  bool Locate(const Rid& rid, Record& record);
  UINT64 VisitKey(const Rid& rid) const;
  void Visit(const Rid& rid, DWORD valueId, bool rootAllowed, int depth, Sink& sink);
  void WalkLinks(const Record& record, int depth, Sink& sink);
  void Emit(ByteView run, Sink& sink);

  PageReader m_reader;
  Policy m_policy;
  Limits m_limits;
  Report m_report;
  bool m_halted = false;
  std::unordered_set<UINT64> m_visited;
  std::vector<BYTE> m_page;
  Rid m_pageRid;
  bool m_pageValid = false;
};

}  // namespace lobcore
