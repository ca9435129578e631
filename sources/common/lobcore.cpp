#include "lobcore.h"

namespace lobcore {

namespace {

constexpr size_t kHeaderSize = 14;  // status, length, identifier, kind
constexpr size_t kSmallValueData = 20;
constexpr size_t kRootLinks = 24;
constexpr size_t kRootLinkSize = 12;
constexpr size_t kNodeEntries = 20;
constexpr size_t kNodeEntrySize = 16;

enum Kind : WORD {
  kSmallValue = 0,
  kTreeNode = 2,
  kData = 3,
  kLargeRootOld = 4,
  kLargeRoot = 5,
};

}  // namespace

const char* StopText(Stop stop) {
  switch (stop) {
    case Stop::kNone: return "complete";
    case Stop::kDamaged: return "damaged record";
    case Stop::kCycle: return "link back into the value";
    case Stop::kDepth: return "tree deeper than the limit";
    case Stop::kRecords: return "more records than the limit";
    case Stop::kBytes: return "more bytes than the limit";
    case Stop::kSink: return "output refused";
  }
  return "unknown";
}

Walker::Walker(PageReader reader, const Policy& policy, const Limits& limits)
    : m_reader(std::move(reader)), m_policy(policy), m_limits(limits), m_page(kPageSize) {}

void Walker::Begin() {
  m_report = Report();
  m_halted = false;
  m_visited.clear();
}

void Walker::Fail(Stop stop) {
  if (m_report.stop == Stop::kNone) m_report.stop = stop;
  if (stop != Stop::kDamaged) m_halted = true;
}

bool BytesSink::Append(const BYTE* data, size_t size) {
  if (size) bytes.append(reinterpret_cast<const char*>(data), size);
  return true;
}

Report Walker::ReadValue(const Rid& rid, DWORD valueId, std::string& out) {
  BytesSink sink;
  sink.bytes.swap(out);
  ReadRecord(rid, valueId, true, sink);
  out.swap(sink.bytes);
  return m_report;
}

const Report& Walker::ReadRecord(const Rid& rid, DWORD valueId, bool rootAllowed, Sink& sink) {
  Begin();
  Visit(rid, valueId, rootAllowed, 0, sink);
  return m_report;
}

const Report& Walker::ReadNode(const Rid& rid, Sink& sink) {
  Begin();
  // The node itself is where the walk starts: a link back to it is a cycle.
  m_visited.insert(VisitKey(rid));
  ++m_report.records;
  Record record;
  if (!Locate(rid, record)) return m_report;
  if (record.kind != kTreeNode) {
    Fail(Stop::kDamaged);
    return m_report;
  }
  WalkLinks(record, 0, sink);
  return m_report;
}

const Report& Walker::ReadPieces(const std::vector<Rid>& pieces, DWORD valueId, Sink& sink) {
  Begin();
  if (pieces.empty()) Fail(Stop::kDamaged);
  for (const Rid& piece : pieces) {
    if (m_halted) break;
    Visit(piece, valueId, false, 1, sink);
  }
  return m_report;
}

UINT64 Walker::VisitKey(const Rid& rid) const {
  const UINT64 file = m_policy.pagesByIdAlone ? 0 : rid.file;
  return file << 48 | UINT64(rid.page) << 16 | rid.slot;
}

bool Walker::Locate(const Rid& rid, Record& record) {
  if (!m_pageValid || m_pageRid.page != rid.page || (!m_policy.pagesByIdAlone && m_pageRid.file != rid.file)) {
    m_pageValid = false;
    BYTE* page = m_page.data();
    if (!m_reader || !m_reader(rid, page)) {
      Fail(Stop::kDamaged);
      return false;
    }
    const BYTE type = PageTypeOf(page);
    // A page that is not the one named, or not a text page, holds nothing of this value.
    if (PageIdOf(page) != rid.page || (type != kPageTextMix && type != kPageTextTree)) {
      Fail(Stop::kDamaged);
      return false;
    }
    // Before anything else is read: torn bits often sit in the slot array itself.
    RestoreTornBitsIfPresent(page);
    m_pageRid = rid;
    m_pageValid = true;
  }
  const BYTE* page = m_page.data();
  if (int(rid.slot) >= int(PageSlotCount(page)) + m_policy.extraSlots) {
    Fail(Stop::kDamaged);
    return false;
  }
  const WORD entry = SlotEntry(page, rid.slot);
  if (entry == 0) {
    Fail(Stop::kDamaged);
    return false;
  }
  ByteView whole(page, kPageSize);
  const WORD length = whole.U16(size_t(entry) + 2);
  ByteView bytes = whole.Sub(entry, length);
  if (!whole.ok() || length < kHeaderSize) {
    Fail(Stop::kDamaged);
    return false;
  }
  record.bytes = bytes;
  record.valueId = bytes.U32(4);
  record.kind = bytes.U16(12);
  return true;
}

void Walker::Visit(const Rid& rid, DWORD valueId, bool rootAllowed, int depth, Sink& sink) {
  if (m_halted) return;
  if (depth > m_limits.maxDepth) {
    Fail(Stop::kDepth);
    return;
  }
  if (!m_visited.insert(VisitKey(rid)).second) {
    Fail(Stop::kCycle);
    return;
  }
  if (++m_report.records > m_limits.maxRecords) {
    Fail(Stop::kRecords);
    return;
  }
  Record record;
  if (!Locate(rid, record)) return;
  ByteView& r = record.bytes;
  switch (record.kind) {
    case kSmallValue: {
      const WORD length = r.U16(14);
      ByteView run = r.Sub(kSmallValueData, length);
      if (!r.ok()) {
        Fail(Stop::kDamaged);
        return;
      }
      Emit(run, sink);
      return;
    }
    case kData:
      Emit(r.Sub(kHeaderSize, r.size() - kHeaderSize), sink);
      return;
    case kLargeRootOld:
    case kLargeRoot:
      // Another value's root, or a root where only data and nodes belong.
      if (!rootAllowed || record.valueId != valueId) {
        Fail(Stop::kDamaged);
        return;
      }
      WalkLinks(record, depth, sink);
      return;
    case kTreeNode:
      WalkLinks(record, depth, sink);
      return;
    default:
      Fail(Stop::kDamaged);
      return;
  }
}

void Walker::WalkLinks(const Record& record, int depth, Sink& sink) {
  ByteView r = record.bytes;
  const bool node = record.kind == kTreeNode;
  const WORD maxLinks = r.U16(14);
  WORD links = r.U16(16);
  if (!r.ok() || (!node && links > maxLinks)) {
    Fail(Stop::kDamaged);
    return;
  }
  const size_t first = node ? kNodeEntries : kRootLinks;
  const size_t step = node ? kNodeEntrySize : kRootLinkSize;
  const size_t pageAt = node ? 8 : 4;
  if (node && m_policy.nodeEntriesFromLength) links = WORD(r.size() > first ? (r.size() - first) / step : 0);
  // The links are copied out first: reading a child replaces the page they sit on.
  std::vector<Rid> children;
  children.reserve(links);
  for (size_t i = 0; i < links; ++i) {
    const size_t off = first + i * step;
    if (!r.Has(off, step)) {
      Fail(Stop::kDamaged);
      break;
    }
    Rid child;
    child.page = r.U32(off + pageAt);
    child.file = r.U16(off + pageAt + 4);
    child.slot = r.U16(off + pageAt + 6);
    children.push_back(child);
  }
  for (const Rid& child : children) {
    if (m_halted) return;
    Visit(child, record.valueId, false, depth + 1, sink);
  }
}

void Walker::Emit(ByteView run, Sink& sink) {
  if (m_halted || run.size() == 0) return;
  size_t size = run.size();
  bool overLimit = false;
  if (m_report.bytes + size > m_limits.maxBytes) {
    size = size_t(m_limits.maxBytes - m_report.bytes);
    overLimit = true;
  }
  if (size && !sink.Append(run.data(), size)) {
    Fail(Stop::kSink);
    return;
  }
  m_report.bytes += size;
  if (overLimit) Fail(Stop::kBytes);
}

}  // namespace lobcore
