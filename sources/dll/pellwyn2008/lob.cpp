#include "lob.h"

#include "common/executionlog.h"
#include "common/sqltext.h"
#include "pellwyn2008.h"

namespace {

constexpr size_t kTextPointerSize = 16;
constexpr size_t kRootHeaderSize = 12;
constexpr size_t kRootEntrySize = 12;

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

bool LobFileSink::Append(const BYTE* data, size_t size) {
  if (m_file == kInvalidFile) return false;
  return size == 0 || WriteFileAll(m_file, data, size);
}

namespace {
// What the 2005+ formats read differently from the 2000 format: no slot past the page's slot
// count, a node's count field, pages found by page id alone.
lobcore::Policy LaterFormatPolicy() {
  lobcore::Policy policy;
  policy.pagesByIdAlone = true;
  return policy;
}
}  // namespace

LobWalker::LobWalker(LobPageReader reader, const LobLimits& limits)
    : m_walker(
          [reader = std::move(reader)](const lobcore::Rid& rid, BYTE* page) { return reader && reader(rid.page, page); },
          LaterFormatPolicy(), limits) {}

void LobWalker::ReadPointer(const OffRowPointer& pointer, LobSink& sink) {
  if (pointer.form == OffRowPointer::Form::kTextPointer && !pointer.links.empty()) {
    m_report = m_walker.ReadRecord(pointer.links.front().rid, pointer.stamp, true, sink);
    return;
  }
  // A root's entries name data records (level 0) or internal nodes, never another root.
  std::vector<LobRid> pieces;
  pieces.reserve(pointer.links.size());
  for (const LobLink& link : pointer.links) pieces.push_back(link.rid);
  m_report = m_walker.ReadPieces(pieces, pointer.stamp, sink);
  // Entries left out of a damaged root are bytes the value misses.
  if (pointer.truncated && m_report.stop == LobStop::kNone) m_report.stop = LobStop::kDamaged;
}

void LobWalker::ReadRecord(const LobRid& rid, DWORD stamp, bool rootAllowed, LobSink& sink) {
  m_report = m_walker.ReadRecord(rid, stamp, rootAllowed, sink);
}

void LobWalker::ReadNode(const LobRid& rid, LobSink& sink) { m_report = m_walker.ReadNode(rid, sink); }

CString RenderLobText(const BYTE* data, size_t size, bool hex, bool textCheck) {
  CString out;
  if (!data || size == 0) return out;
  std::string& s = out.str();
  if (hex) return CString(SqlHexDigits(data, size));
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
