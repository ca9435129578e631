#include "lob2000.h"

#include "values2000.h"

namespace rows2000 {

bool ParseTextPointer(ByteView bytes, TextPointer& pointer) {
  pointer = TextPointer();
  if (!bytes.Has(0, kTextPointerSize)) return false;
  pointer.valueId = bytes.U32(0);
  pointer.page = bytes.U32(8);
  pointer.file = bytes.U16(12);
  pointer.slot = bytes.U16(14);
  return true;
}

std::string RenderLob(const std::string& bytes, LobRender render) {
  const ByteView view(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
  switch (render) {
    case LobRender::kHex: return HexDigits(view);
    case LobRender::kUnicode: return UnicodeShown(view);
    case LobRender::kText: break;
  }
  return BytesToString(view.data(), int(view.size()), false).str();
}

LobReader::LobReader(lobcore::PageReader pages, const lobcore::Limits& limits)
    : m_pages(std::move(pages)), m_limits(limits) {}

lobcore::Policy LobReader::Policy() {
  lobcore::Policy policy;
  // A slot number up to the page's count + 1 is still looked at; the record found there must
  // pass every other check.
  policy.extraSlots = 2;
  policy.nodeEntriesFromLength = true;
  return policy;
}

lobcore::Report LobReader::Read(const TextPointer& pointer, std::string& bytes) const {
  lobcore::Walker walker(m_pages, Policy(), m_limits);
  lobcore::Rid rid;
  rid.page = pointer.page;
  rid.file = pointer.file;
  rid.slot = pointer.slot;
  return walker.ReadValue(rid, pointer.valueId, bytes);
}

std::string LobReader::ReadRendered(const TextPointer& pointer, LobRender render) const {
  std::string bytes;
  Read(pointer, bytes);
  return RenderLob(bytes, render);
}

}  // namespace rows2000
