// The off-row value reader on a set of pages: a row's pointer parsed and followed through
// text pages that may link anywhere, loop, or lie about their sizes.
//
// Input: byte 0 chooses limits and the sink, bytes 1-2 give the pointer's length L, then the
// pointer's L bytes, then the pages (8192 bytes each, the last zero-padded); a page is found
// by its own page id, the first of an id winning.
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "common/page.h"
#include "dll/pellwyn2008/lob.h"
#include "fuzzsupport.h"

namespace {

// Keeps the bytes, or refuses them once it holds `cap`.
class CappedSink : public LobSink {
 public:
  explicit CappedSink(size_t cap) : m_cap(cap) {}
  bool Append(const BYTE* data, size_t size) override {
    FUZZ_CHECK(size > 0);
    if (bytes.size() + size > m_cap) return false;
    bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  std::string bytes;

 private:
  size_t m_cap;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const BYTE mode = data[0];
  size_t length = size_t(data[1] | data[2] << 8) % 8060;
  length = std::min(length, size - 3);
  const ByteView column(data + 3, length);
  std::map<DWORD, std::vector<BYTE>> pages;
  for (size_t at = 3 + length; at < size; at += kPageSize) {
    std::vector<BYTE> p(kPageSize, 0);
    std::memcpy(p.data(), data + at, std::min<size_t>(size - at, kPageSize));
    pages.emplace(PageIdOf(p.data()), std::move(p));
  }
  const LobPageReader reader = [&](DWORD id, BYTE* out) {
    auto it = pages.find(id);
    if (it == pages.end()) return false;
    std::memcpy(out, it->second.data(), kPageSize);
    return true;
  };
  LobLimits limits;
  if (mode & 1) {
    limits.maxDepth = 2;
    limits.maxRecords = 5;
    limits.maxBytes = 1000;
  }
  const size_t cap = (mode & 2) ? 3000 : SIZE_MAX;

  OffRowPointer pointer;
  const bool parsed = ParseOffRowPointer(column, pointer);
  if (parsed) {
    FUZZ_CHECK(!pointer.links.empty());
    for (size_t i = 1; i < pointer.links.size(); ++i)
      FUZZ_CHECK(pointer.links[i].endOffset > pointer.links[i - 1].endOffset);
  } else {
    FUZZ_CHECK(pointer.links.empty());
  }

  LobWalker walker(reader, limits);
  CappedSink sink(cap);
  walker.ReadPointer(pointer, sink);
  const LobReadReport& report = walker.report();
  FUZZ_CHECK(report.bytes == sink.bytes.size());
  FUZZ_CHECK(report.bytes <= limits.maxBytes);
  // Every record is read at most once, and a record lies inside its page.
  FUZZ_CHECK(report.bytes <= UINT64(report.records) * kPageSize);
  FUZZ_CHECK(report.records <= limits.maxRecords + 1);
  (void)RenderLobText(reinterpret_cast<const BYTE*>(sink.bytes.data()), sink.bytes.size(), mode & 4, mode & 8);

  // The same pages through the two record-level reads the object texts use.
  if (parsed) {
    const LobRid rid = pointer.links.front().rid;
    CappedSink record(cap);
    walker.ReadRecord(rid, pointer.stamp, true, record);
    FUZZ_CHECK(walker.report().bytes == record.bytes.size());
    CappedSink node(cap);
    walker.ReadNode(rid, node);
    FUZZ_CHECK(walker.report().bytes == node.bytes.size());
  }
  return 0;
}
