// The 2000 off-row value reader on a set of pages: a row's 16-byte text pointer followed
// through text and text-tree pages that may link anywhere, loop, or lie about their sizes.
//
// Input: byte 0 chooses the limits, then the pointer's 16 bytes, then the pages (8192 bytes
// each, the last zero-padded); a page is found by its own page id, the first of an id winning.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/page.h"
#include "dll/pellwyn2000/lob2000.h"
#include "fuzzsupport.h"

using namespace rows2000;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size < 1 + kTextPointerSize) return 0;
  const BYTE mode = data[0];
  TextPointer pointer;
  FUZZ_CHECK(ParseTextPointer(ByteView(data + 1, kTextPointerSize), pointer));
  std::map<DWORD, std::vector<BYTE>> pages;
  for (size_t at = 1 + kTextPointerSize; at < size; at += kPageSize) {
    std::vector<BYTE> p(kPageSize, 0);
    std::memcpy(p.data(), data + at, std::min<size_t>(size - at, kPageSize));
    pages.emplace(PageIdOf(p.data()), std::move(p));
  }
  lobcore::Limits limits;
  if (mode & 1) {
    limits.maxDepth = 2;
    limits.maxRecords = 5;
    limits.maxBytes = 1000;
  }
  const LobReader reader(
      [&](const lobcore::Rid& rid, BYTE* out) {
        auto it = pages.find(rid.page);
        if (it == pages.end()) return false;
        std::memcpy(out, it->second.data(), kPageSize);
        return true;
      },
      limits);
  std::string bytes;
  const lobcore::Report report = reader.Read(pointer, bytes);
  FUZZ_CHECK(report.bytes == bytes.size());
  FUZZ_CHECK(report.bytes <= limits.maxBytes);
  // Every record is read at most once, and a record lies inside its page.
  FUZZ_CHECK(report.bytes <= UINT64(report.records) * kPageSize);
  FUZZ_CHECK(report.records <= limits.maxRecords + 1);
  FUZZ_CHECK(RenderLob(bytes, LobRender::kHex).size() == 2 * bytes.size());
  FUZZ_CHECK(RenderLob(bytes, LobRender::kText).size() <= bytes.size());
  const std::string unicode = RenderLob(bytes, LobRender::kUnicode);
  FUZZ_CHECK(unicode == "?????" || unicode.size() <= bytes.size());
  return 0;
}
