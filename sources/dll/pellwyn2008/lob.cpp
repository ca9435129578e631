#include "lob.h"

#include "common/executionlog.h"
#include "pellwyn2008.h"

namespace {

constexpr size_t kTextPointerSize = 16;
constexpr size_t kRootHeaderSize = 12;
constexpr size_t kRootEntrySize = 12;
constexpr size_t kLobHeaderSize = 14;       // status, length, identifier, kind
constexpr size_t kSmallValueData = 20;
constexpr size_t kLargeRootLinks = 24;
constexpr size_t kLargeRootLinkSize = 12;
constexpr size_t kNodeLinks = 20;
constexpr size_t kNodeLinkSize = 16;

enum LobKind : WORD {
  kSmallValue = 0,
  kInternalNode = 2,
  kData = 3,
  kLargeRootOld = 4,
  kLargeRoot = 5,
};

UINT64 VisitKey(const LobRid& rid) { return UINT64(rid.page) << 16 | rid.slot; }

}  // namespace

bool ParseOffRowPointer(ByteView column, OffRowPointer& pointer) {
  pointer = OffRowPointer();
  const size_t size = column.size();
  if (size == kTextPointerSize) {
    pointer.form = OffRowPointer::Form::kTextPointer;
    pointer.stamp = column.U32(0);
    LobLink link;
    link.rid.page = column.U32(8);
    link.rid.file = column.U16(12);
    link.rid.slot = column.U16(14);
    pointer.links.push_back(link);
    return column.ok();
  }
  if (size < kRootHeaderSize + kRootEntrySize || (size - kRootHeaderSize) % kRootEntrySize != 0) return false;
  const BYTE form = column.U8(0);
  if (form != 4 && form != 2) return false;
  pointer.form = OffRowPointer::Form::kRoot;
  pointer.rootKind = form;
  pointer.level = column.U8(1);
  pointer.stamp = column.U32(6);
  // Entries carry running byte counts, so each must grow; a count that does not is where
  // garbage begins, and nothing after it is trusted.
  UINT64 previous = 0;
  for (size_t off = kRootHeaderSize; off + kRootEntrySize <= size; off += kRootEntrySize) {
    LobLink link;
    link.endOffset = column.U32(off);
    link.rid.page = column.U32(off + 4);
    link.rid.file = column.U16(off + 8);
    link.rid.slot = column.U16(off + 10);
    if (!column.ok() || link.endOffset <= previous) {
      pointer.truncated = true;
      break;
    }
    previous = link.endOffset;
    pointer.links.push_back(link);
  }
  if (pointer.links.empty()) {
    pointer = OffRowPointer();
    return false;
  }
  return true;
}

bool LobBytesSink::Append(const BYTE* data, size_t size) {
  if (size) bytes.append(reinterpret_cast<const char*>(data), size);
  return true;
}

bool LobFileSink::Append(const BYTE* data, size_t size) {
  if (m_file == kInvalidFile) return false;
  return size == 0 || WriteFileAll(m_file, data, size);
}

const char* LobStopText(LobStop stop) {
  switch (stop) {
    case LobStop::kNone: return "complete";
    case LobStop::kDamaged: return "damaged record";
    case LobStop::kCycle: return "link back into the value";
    case LobStop::kDepth: return "tree deeper than the limit";
    case LobStop::kRecords: return "more records than the limit";
    case LobStop::kBytes: return "more bytes than the limit";
    case LobStop::kSink: return "output refused";
  }
  return "unknown";
}

LobWalker::LobWalker(LobPageReader reader, const LobLimits& limits)
    : m_reader(std::move(reader)), m_limits(limits), m_page(kPageSize) {}

void LobWalker::Begin() {
  m_report = LobReadReport();
  m_halted = false;
  m_visited.clear();
}

void LobWalker::Fail(LobStop stop) {
  if (m_report.stop == LobStop::kNone) m_report.stop = stop;
  if (stop != LobStop::kDamaged) m_halted = true;
}

void LobWalker::ReadPointer(const OffRowPointer& pointer, LobSink& sink) {
  Begin();
  if (pointer.links.empty()) {
    Fail(LobStop::kDamaged);
    return;
  }
  if (pointer.form == OffRowPointer::Form::kTextPointer) {
    Visit(pointer.links.front().rid, pointer.stamp, true, 0, sink);
    return;
  }
  // A root's entries name data records (level 0) or internal nodes, never another root.
  for (const LobLink& link : pointer.links) {
    if (m_halted) break;
    Visit(link.rid, pointer.stamp, false, 1, sink);
  }
  if (pointer.truncated) Fail(LobStop::kDamaged);
}

void LobWalker::ReadRecord(const LobRid& rid, DWORD stamp, bool rootAllowed, LobSink& sink) {
  Begin();
  Visit(rid, stamp, rootAllowed, 0, sink);
}

void LobWalker::ReadNode(const LobRid& rid, LobSink& sink) {
  Begin();
  m_visited.insert(VisitKey(rid));
  ++m_report.records;
  Record record;
  if (!Locate(rid, record)) return;
  if (record.kind != kInternalNode) {
    Fail(LobStop::kDamaged);
    return;
  }
  WalkLinks(record, 0, sink);
}

bool LobWalker::Locate(const LobRid& rid, Record& record) {
  if (!m_pageValid || m_pageId != rid.page) {
    m_pageValid = false;
    BYTE* page = m_page.data();
    if (!m_reader || !m_reader(rid.page, page)) {
      Fail(LobStop::kDamaged);
      return false;
    }
    const BYTE type = PageTypeOf(page);
    // A page that is not the one named, or not a text page, holds nothing of this value.
    if (PageIdOf(page) != rid.page || (type != kPageTextMix && type != kPageTextTree)) {
      Fail(LobStop::kDamaged);
      return false;
    }
    RestoreTornBitsIfPresent(page);
    m_pageId = rid.page;
    m_pageValid = true;
  }
  const BYTE* page = m_page.data();
  if (rid.slot >= PageSlotCount(page)) {
    Fail(LobStop::kDamaged);
    return false;
  }
  const WORD entry = SlotEntry(page, rid.slot);
  if (entry == 0) {
    Fail(LobStop::kDamaged);
    return false;
  }
  ByteView whole(page, kPageSize);
  const WORD length = whole.U16(size_t(entry) + 2);
  ByteView bytes = whole.Sub(entry, length);
  if (!whole.ok() || length < kLobHeaderSize) {
    Fail(LobStop::kDamaged);
    return false;
  }
  record.bytes = bytes;
  record.stamp = bytes.U32(4);
  record.kind = bytes.U16(12);
  return true;
}

void LobWalker::Visit(const LobRid& rid, DWORD stamp, bool rootAllowed, int depth, LobSink& sink) {
  if (m_halted) return;
  if (depth > m_limits.maxDepth) {
    Fail(LobStop::kDepth);
    return;
  }
  if (!m_visited.insert(VisitKey(rid)).second) {
    Fail(LobStop::kCycle);
    return;
  }
  if (++m_report.records > m_limits.maxRecords) {
    Fail(LobStop::kRecords);
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
        Fail(LobStop::kDamaged);
        return;
      }
      Emit(run, sink);
      return;
    }
    case kData:
      Emit(r.Sub(kLobHeaderSize, r.size() - kLobHeaderSize), sink);
      return;
    case kLargeRootOld:
    case kLargeRoot:
      if (!rootAllowed || record.stamp != stamp) {
        Fail(LobStop::kDamaged);
        return;
      }
      WalkLinks(record, depth, sink);
      return;
    case kInternalNode:
      WalkLinks(record, depth, sink);
      return;
    default:
      Fail(LobStop::kDamaged);
      return;
  }
}

void LobWalker::WalkLinks(const Record& record, int depth, LobSink& sink) {
  ByteView r = record.bytes;
  const bool node = record.kind == kInternalNode;
  const WORD maxLinks = r.U16(14);
  const WORD links = r.U16(16);
  if (!r.ok() || (!node && links > maxLinks)) {
    Fail(LobStop::kDamaged);
    return;
  }
  const size_t first = node ? kNodeLinks : kLargeRootLinks;
  const size_t step = node ? kNodeLinkSize : kLargeRootLinkSize;
  const size_t pageAt = node ? 8 : 4;
  // The links are copied out first: reading a child replaces the page they sit on.
  std::vector<LobRid> children;
  children.reserve(links);
  for (size_t i = 0; i < links; ++i) {
    const size_t off = first + i * step;
    if (!r.Has(off, step)) {
      Fail(LobStop::kDamaged);
      break;
    }
    LobRid child;
    child.page = r.U32(off + pageAt);
    child.file = r.U16(off + pageAt + 4);
    child.slot = r.U16(off + pageAt + 6);
    children.push_back(child);
  }
  const DWORD stamp = record.stamp;
  for (const LobRid& child : children) {
    if (m_halted) return;
    Visit(child, stamp, false, depth + 1, sink);
  }
}

void LobWalker::Emit(ByteView run, LobSink& sink) {
  if (m_halted || run.size() == 0) return;
  size_t size = run.size();
  bool overLimit = false;
  if (m_report.bytes + size > m_limits.maxBytes) {
    size = size_t(m_limits.maxBytes - m_report.bytes);
    overLimit = true;
  }
  if (size && !sink.Append(run.data(), size)) {
    Fail(LobStop::kSink);
    return;
  }
  m_report.bytes += size;
  if (overLimit) Fail(LobStop::kBytes);
}

CString RenderLobText(const BYTE* data, size_t size, bool hex, bool textCheck) {
  CString out;
  if (!data || size == 0) return out;
  std::string& s = out.str();
  if (hex) {
    static const char kHex[] = "0123456789abcdef";
    s.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
      s += kHex[data[i] >> 4];
      s += kHex[data[i] & 15];
    }
    return out;
  }
  if (textCheck) {
    for (size_t i : {size_t(1), size_t(3), size_t(5)}) {
      if (i < size && data[i] != 0) return CString("?????");
    }
  }
  s.reserve(size);
  for (size_t i = 0; i < size; ++i)
    if (data[i]) s += char(data[i]);
  return out;
}

// ---- the engine's side: pages come from the page locator, by page id.

namespace {

LobPageReader EnginePages(CSQLServer2008* engine) {
  return [engine](DWORD pageId, BYTE* page) { return engine->ReadPageById(pageId, page); };
}

// One line per value that could not be read whole, so damage leaves a trace without
// interrupting the scan or the row.
void LogIncomplete(const LobReadReport& report, DWORD page, WORD slot) {
  if (report.complete()) return;
  CString line;
  line.Format("Off-row value at page %lu slot %u: %s after %I64u bytes", page, unsigned(slot),
              LobStopText(report.stop), report.bytes);
  CExecutionLog::WriteLog(0, 0, line, false);
}

}  // namespace

CString CSQLServer2008::ReadLobValue(DWORD page, WORD slot, DWORD stamp, bool hex, bool root, bool textCheck,
                                     bool blob, CTable* table) {
  LobWalker walker(EnginePages(this));
  LobRid rid;
  rid.page = page;
  rid.slot = slot;
  if (blob) {
    if (!table || table->m_hBlobFile == kInvalidFile) return CString();
    LobFileSink sink(table->m_hBlobFile);
    walker.ReadRecord(rid, stamp, root, sink);
    LogIncomplete(walker.report(), page, slot);
    return CString();
  }
  LobBytesSink sink;
  walker.ReadRecord(rid, stamp, root, sink);
  LogIncomplete(walker.report(), page, slot);
  return RenderLobText(reinterpret_cast<const BYTE*>(sink.bytes.data()), sink.bytes.size(), hex, textCheck);
}

CString CSQLServer2008::ReadLobFragment(DWORD page, WORD slot, DWORD, bool hex, bool textCheck, bool blob,
                                        CTable* table) {
  LobWalker walker(EnginePages(this));
  LobRid rid;
  rid.page = page;
  rid.slot = slot;
  if (blob) {
    if (!table || table->m_hBlobFile == kInvalidFile) return CString();
    LobFileSink sink(table->m_hBlobFile);
    walker.ReadNode(rid, sink);
    LogIncomplete(walker.report(), page, slot);
    return CString();
  }
  LobBytesSink sink;
  walker.ReadNode(rid, sink);
  LogIncomplete(walker.report(), page, slot);
  return RenderLobText(reinterpret_cast<const BYTE*>(sink.bytes.data()), sink.bytes.size(), hex, textCheck);
}

bool CSQLServer2008::ReadOffRowValue(const OffRowPointer& pointer, LobSink& sink, LobReadReport* report) {
  LobWalker walker(EnginePages(this));
  walker.ReadPointer(pointer, sink);
  const LobReadReport& result = walker.report();
  if (!pointer.links.empty()) LogIncomplete(result, pointer.links.front().rid.page, pointer.links.front().rid.slot);
  if (report) *report = result;
  return result.complete();
}
