// The backup reader on a whole file image: in memory and through the file, which must agree,
// and every stream it lists must lie inside the image.
#include <cstdint>
#include <string>

#include "common/backupreader.h"
#include "fuzzsupport.h"

namespace {

std::string Describe(const CBackupReader& reader) {
  std::string out = std::to_string(reader.m_nStreamCount) + ";";
  for (int i = 1; i <= reader.m_nStreamCount; ++i) {
    const CBackupSet* set = reader.GetSet(i);
    if (!set || !set->m_pStream) return out + "missing";
    out += std::to_string(set->m_pStream->nOffset) + "," + std::to_string(set->m_pStream->nLength) + "," +
           std::to_string(set->m_nPages) + "," + std::to_string(set->m_nFirstPage) + "," +
           std::to_string(set->m_nLastPage) + "," + set->m_pszName.str() + ";";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  CBackupReader memory;
  memory.ReadDataSets(data, size);
  FUZZ_CHECK(memory.m_nStreamCount == memory.m_mapSets.GetCount());
  for (int i = 1; i <= memory.m_nStreamCount; ++i) {
    const CBackupSet* set = memory.GetSet(i);
    FUZZ_CHECK(set && set->m_pStream);
    const DataStreamInfo& s = *set->m_pStream;
    FUZZ_CHECK(s.nOffset <= size && s.nLength <= size - s.nOffset);
    FUZZ_CHECK(set->m_nPages >= 0);
    // The census reads page n of the set at nOffset + n x 8192, for n below the page count.
    if (set->m_nBackupType == 1) FUZZ_CHECK(UINT64(set->m_nPages) * 8192 <= s.nLength);
  }
  FUZZ_CHECK(memory.GetSet(0) == nullptr && memory.GetSet(memory.m_nStreamCount + 1) == nullptr);

  const std::string path = fuzzsupport::WriteScratch("reader.bak", data, size);
  CBackupReader file;
  file.ReadDataSets(path.c_str());
  FUZZ_CHECK(Describe(file) == Describe(memory));
  return 0;
}
