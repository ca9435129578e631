#include "support/backupwrap.h"

#include <algorithm>

#include "common/backupreader.h"
#include "platform/types.h"

namespace testsupport {

namespace {
constexpr size_t kStreamHeaderBytes = 22;
constexpr size_t kLeadingBytes = 2;  // between the header and the first page
constexpr size_t kPage = 8192;

void PutU64(std::string& s, size_t at, UINT64 v) {
  for (int i = 0; i < 8; ++i) s[at + size_t(i)] = char(BYTE(v >> (8 * i)));
}

// The stream header's checksum: the XOR of its first ten 16-bit words.
void FixChecksum(std::string& header) {
  WORD x = 0;
  for (size_t i = 0; i < 20; i += 2) x ^= WORD(BYTE(header[i]) | BYTE(header[i + 1]) << 8);
  header[20] = char(BYTE(x));
  header[21] = char(BYTE(x >> 8));
}
}  // namespace

bool WrapPagesInBackup(const std::string& backup, const std::vector<std::string>& images, std::string& out,
                       std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    return false;
  };
  CBackupReader reader;
  reader.ReadDataSets(reinterpret_cast<const BYTE*>(backup.data()), backup.size());
  std::vector<const DataStreamInfo*> streams;
  for (int i = 1; i <= reader.m_nStreamCount; ++i)
    if (const CBackupSet* set = reader.GetSet(i); set && set->m_pStream) streams.push_back(set->m_pStream);
  std::sort(streams.begin(), streams.end(), [](auto* a, auto* b) { return a->nOffset < b->nOffset; });
  if (streams.size() < images.size()) return fail("the backup has fewer data streams than images");
  out.clear();
  size_t at = 0;
  for (size_t k = 0; k < images.size(); ++k) {
    const std::string& image = images[k];
    const DataStreamInfo* stream = streams[k];
    if (image.empty() || image.size() % kPage) return fail("an image is not whole pages");
    // Only whole-page changes of length: the tape blocks after the stream keep their
    // alignment.
    if (stream->nLength % kPage) return fail("a data stream is not whole pages");
    const size_t header = size_t(stream->nOffset) - kLeadingBytes - kStreamHeaderBytes;
    out.append(backup, at, header - at);
    std::string head = backup.substr(header, kStreamHeaderBytes);
    PutU64(head, 8, UINT64(image.size() + kLeadingBytes));
    FixChecksum(head);
    out += head;
    out.append(backup, header + kStreamHeaderBytes, kLeadingBytes);
    out += image;
    at = size_t(stream->nOffset + stream->nLength);
  }
  out.append(backup, at, std::string::npos);
  return true;
}

}  // namespace testsupport
