#include "allocation2000.h"

#include <array>
#include <cstring>

#include "common/page.h"

namespace {
constexpr BYTE kPageIam = 10;
constexpr DWORD kPfsInterval = 8088;  // pages one PFS page covers
constexpr size_t kPfsFirstByte = 100;  // the PFS record's bytes begin after its 4-byte header
constexpr BYTE kPfsAllocated = 0x40;
// IAM header row (slot 0): start page of the interval at 40, eight single-page entries of
// 6 bytes (page, file) from 46. Extent bitmap row (slot 1): bits from its byte 4.
constexpr size_t kIamStartPage = 40;
constexpr size_t kIamSinglePages = 46;
constexpr int kIamSingleSlots = 8;
constexpr size_t kIamBitmapStart = 4;
constexpr size_t kIamBitmapBytes = 7988;

DWORD PfsBaseOf(DWORD pageId) { return pageId < kPfsInterval ? 1 : pageId / kPfsInterval * kPfsInterval; }
}  // namespace

void CAllocationEvidence2000::Note(const BYTE* original) {
  const BYTE type = PageTypeOf(original);
  if (type != kPagePfs && type != kPageIam) return;
  std::array<BYTE, kPageSize> page;
  std::memcpy(page.data(), original, kPageSize);
  RestoreTornBitsIfPresent(page.data());
  const DWORD pageId = PageIdOf(page.data());
  if (type == kPagePfs) {
    // The last PFS page seen for an interval wins.
    std::vector<bool>& bits = m_pfs[PfsBaseOf(pageId)];
    bits.assign(kPfsInterval, false);
    for (DWORD slot = 0; slot < kPfsInterval; ++slot)
      bits[slot] = (page[kPfsFirstByte + slot] & kPfsAllocated) != 0;
    return;
  }
  Iam& iam = m_iam[PageObjectId(page.data())];
  ByteView whole(page.data(), kPageSize);
  const WORD header = SlotEntry(page.data(), 0);
  if (header && whole.Has(header + kIamSinglePages, kIamSingleSlots * 6)) {
    for (int k = 0; k < kIamSingleSlots; ++k) {
      const DWORD single = whole.U32(header + kIamSinglePages + size_t(k) * 6);
      if (single) iam.singlePages.insert(single);
    }
  }
  const DWORD start = header ? whole.U32(header + kIamStartPage) : 0;
  const WORD bitmap = SlotEntry(page.data(), 1);
  if (!bitmap || !whole.ok()) return;
  const size_t from = size_t(bitmap) + kIamBitmapStart;
  const size_t bytes = from < kPageSize ? std::min(kIamBitmapBytes, kPageSize - from) : 0;
  for (size_t b = 0; b < bytes; ++b) {
    const BYTE v = page[from + b];
    if (!v) continue;
    for (int bit = 0; bit < 8; ++bit)
      if (v & (1 << bit)) iam.extents.insert(start + DWORD((b * 8 + size_t(bit)) * 8));
  }
}

bool CAllocationEvidence2000::SetAside(DWORD pageId, DWORD objectId) const {
  auto pfs = m_pfs.find(PfsBaseOf(pageId));
  if (pfs == m_pfs.end()) return false;
  const DWORD slot = pageId < kPfsInterval ? pageId : pageId - pfs->first;
  if (slot >= pfs->second.size() || pfs->second[slot]) return false;
  // Without any IAM page of the owner there is nothing to agree with: the page is kept.
  auto iam = m_iam.find(objectId);
  if (iam == m_iam.end()) return false;
  if (iam->second.singlePages.count(pageId)) return false;
  return iam->second.extents.count(pageId - pageId % 8) == 0;
}
