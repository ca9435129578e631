#include "allocation.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "page.h"

namespace {
constexpr BYTE kPageIam = 10;
constexpr WORD kFlagTornBits = 0x100;
constexpr WORD kFlagChecksum = 0x200;
constexpr int kPfsFirstByte = 100;
constexpr BYTE kPfsAllocated = 0x40;
constexpr size_t kIamHeaderLength = 94;
constexpr size_t kIamStartPage = 40;
constexpr size_t kIamSingleSlots = 46;
constexpr int kIamSingleSlotCount = 8;
constexpr size_t kIamBitmapBytes = CAllocationEvidence::kIamInterval / 8 / 8;  // 7988
constexpr size_t kBitmapWords = (CAllocationEvidence::kIamInterval / 8 + 63) / 64;

bool Bit(const std::vector<std::uint64_t>& bits, size_t i) { return (bits[i / 64] >> (i % 64)) & 1; }

// Sector ends carry the torn-page pattern only when that is the page's protection; a page
// with a checksum keeps its own bytes there.
bool CarriesTornBits(const BYTE* page) {
  return (PageFlagBits(page) & (kFlagTornBits | kFlagChecksum)) == kFlagTornBits;
}
}  // namespace

DWORD PageChecksum(const BYTE* page) {
  DWORD sum = 0;
  for (int sector = 0; sector < kPageSize / 512; ++sector) {
    const BYTE* s = page + sector * 512;
    DWORD x = 0;
    for (int w = 0; w < 128; ++w)
      if (sector != 0 || w != 15) x ^= ReadU32(s + 4 * w);
    sum ^= std::rotl(x, 15 - sector);
  }
  return sum;
}

bool PageProtectionIntact(const BYTE* page) {
  const WORD flags = PageFlagBits(page);
  if (flags & kFlagChecksum) return PageChecksum(page) == PageTornBits(page);
  if (flags & kFlagTornBits) {
    // Each write flips the pattern between 01 and 10; a sector that missed the write keeps
    // the other one.
    const BYTE pattern = BYTE(PageTornBits(page) & 3);
    if (pattern != 1 && pattern != 2) return false;
    for (int s = 1; s < kPageSize / 512; ++s)
      if ((page[512 * s + 511] & 3) != pattern) return false;
  }
  return true;
}

void CAllocationEvidence::AddPage(const BYTE* page, INT64 plainPageNumber) {
  if (!page) return;
  const BYTE type = PageTypeOf(page);
  if (type != kPagePfs && type != kPageIam) return;
  const bool placed = plainPageNumber == kInsideBackup || INT64(PageIdOf(page)) == plainPageNumber;
  if (!placed || !PageProtectionIntact(page)) {
    ++(type == kPagePfs ? m_nRejectedPfs : m_nRejectedIam);
    return;
  }
  std::array<BYTE, kPageSize> copy;
  std::memcpy(copy.data(), page, kPageSize);
  if (CarriesTornBits(copy.data())) RestoreTornBits(copy.data() + kPageHeaderSize, PageTornBits(copy.data()));
  if (type == kPagePfs) AddPfs(copy.data());
  else AddIam(copy.data());
  m_bFinished = false;
}

void CAllocationEvidence::AddPfs(const BYTE* page) {
  const DWORD id = PageIdOf(page);
  // PFS pages sit at page 1 and at every 8088th page after it; anywhere else the page is not
  // what its type says.
  if (id != 1 && (id == 0 || id % kPfsInterval != 0)) {
    ++m_nRejectedPfs;
    return;
  }
  PfsPage& pfs = m_pfs[Key(ReadU16(page + 36), PfsBase(id))];
  pfs.pageId = id;
  pfs.contradictions = 0;
  pfs.allocated.assign((kPfsInterval + 63) / 64, 0);
  for (DWORD i = 0; i < kPfsInterval; ++i)
    if (page[kPfsFirstByte + i] & kPfsAllocated) pfs.allocated[i / 64] |= std::uint64_t(1) << (i % 64);
}

void CAllocationEvidence::AddIam(const BYTE* page) {
  const BYTE* header = page + kPageHeaderSize;
  const WORD bitmapEntry = SlotCountCapped(page) >= 2 ? SlotEntry(page, 1) : 0;
  const bool layout = SlotCountCapped(page) >= 2 && SlotEntry(page, 0) == kPageHeaderSize &&
                      ReadU16(header + 2) == kIamHeaderLength && bitmapEntry >= kPageHeaderSize + kIamHeaderLength &&
                      size_t(bitmapEntry) + 4 + kIamBitmapBytes <= size_t(kPageSize) - 4;
  const DWORD start = ReadU32(header + kIamStartPage);
  if (!layout || start % kIamInterval != 0) {
    ++m_nRejectedIam;
    return;
  }
  ++m_nIamPages;
  const UINT64 unit = UINT64(PageIndexId(page)) << 32 | PageObjectId(page);
  for (int i = 0; i < kIamSingleSlotCount; ++i) {
    const BYTE* slot = header + kIamSingleSlots + 6 * size_t(i);
    const DWORD single = ReadU32(slot);
    const WORD file = ReadU16(slot + 4);
    if (single || file) {
      m_vecSingles.push_back(Key(file, single));
      m_vecSingleOwners.emplace_back(Key(file, single), unit);
    }
  }
  const WORD intervalFile = ReadU16(header + kIamStartPage + 4);
  std::vector<std::uint64_t>& owned = m_extents[Key(intervalFile, start)];
  if (owned.empty()) owned.assign(kBitmapWords, 0);
  // Bit e of the bitmap is extent e: little-endian words of it are words of `owned`.
  const BYTE* bitmap = page + bitmapEntry + 4;
  for (size_t w = 0; w * 8 < kIamBitmapBytes; ++w) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, bitmap + w * 8, std::min<size_t>(8, kIamBitmapBytes - w * 8));
    if constexpr (std::endian::native == std::endian::big) bits = __builtin_bswap64(bits);
    owned[w] |= bits;
    for (std::uint64_t b = bits; b; b &= b - 1) {
      const UINT64 first = UINT64(start) + (w * 64 + size_t(std::countr_zero(b))) * 8;
      if (first <= 0xFFFFFFF8ull) m_vecExtentOwners.emplace_back(Key(intervalFile, DWORD(first)), unit);
    }
  }
}

const CAllocationEvidence::PfsPage* CAllocationEvidence::FindPfs(WORD fileId, DWORD pageId) const {
  auto it = m_pfs.find(Key(fileId, PfsBase(pageId)));
  return it == m_pfs.end() ? nullptr : &it->second;
}

int CAllocationEvidence::Allocated(WORD fileId, DWORD pageId) const {
  const PfsPage* pfs = FindPfs(fileId, pageId);
  if (!pfs) return -1;
  return Bit(pfs->allocated, pageId - PfsBase(pageId)) ? 1 : 0;
}

void CAllocationEvidence::Finish() {
  std::sort(m_vecSingles.begin(), m_vecSingles.end());
  m_vecSingles.erase(std::unique(m_vecSingles.begin(), m_vecSingles.end()), m_vecSingles.end());
  for (auto* owners : {&m_vecSingleOwners, &m_vecExtentOwners}) {
    std::sort(owners->begin(), owners->end());
    owners->erase(std::unique(owners->begin(), owners->end()), owners->end());
  }
  for (auto& e : m_pfs) e.second.contradictions = 0;
  auto contradict = [&](WORD file, DWORD page) {
    auto it = m_pfs.find(Key(file, PfsBase(page)));
    if (it != m_pfs.end()) ++it->second.contradictions;
  };
  // A page in a single-page slot is allocated.
  for (UINT64 single : m_vecSingles) {
    const WORD file = WORD(single >> 32);
    const DWORD page = DWORD(single);
    if (Allocated(file, page) == 0) contradict(file, page);
  }
  // An owned extent holds at least one allocated page: the extent goes back to the free
  // pool with its last page.
  for (const auto& [key, owned] : m_extents) {
    const WORD file = WORD(key >> 32);
    const UINT64 start = DWORD(key);
    for (size_t w = 0; w < owned.size(); ++w) {
      for (std::uint64_t bits = owned[w]; bits; bits &= bits - 1) {
        const UINT64 first = start + (w * 64 + size_t(std::countr_zero(bits))) * 8;
        if (first + 7 > 0xFFFFFFFFull) continue;
        bool anyAllocated = false;
        bool covered = true;
        for (DWORD p = DWORD(first); p < DWORD(first) + 8 && covered && !anyAllocated; ++p) {
          const int a = Allocated(file, p);
          covered = a >= 0;
          anyAllocated = a == 1;
        }
        if (covered && !anyAllocated) contradict(file, DWORD(first));
      }
    }
  }
  m_bFinished = true;
  m_lastPfsKey = m_lastIamKey = ~UINT64(0);
}

CAllocationEvidence::Verdict CAllocationEvidence::Decide(const PfsPage* pfs, DWORD pageId, bool iamMapped) {
  if (!pfs) return Verdict::kNoPfs;
  if (Bit(pfs->allocated, pageId - PfsBase(pageId))) return Verdict::kInUse;
  if (pfs->contradictions > 0) return Verdict::kPfsContradicted;
  // A page in a single-page slot would have contradicted its PFS page above; what is left is
  // whether the IAM pages of this interval were read at all.
  return iamMapped ? Verdict::kFree : Verdict::kNoIam;
}

std::vector<DWORD> CAllocationEvidence::PagesHeldBy(WORD fileId, DWORD objectId, WORD maxIndexId) const {
  std::vector<DWORD> pages;
  auto ofUnit = [&](UINT64 unit) { return DWORD(unit) == objectId && (unit >> 32) <= maxIndexId; };
  for (const auto& [key, unit] : m_vecSingleOwners)
    if (key >> 32 == fileId && ofUnit(unit)) pages.push_back(DWORD(key));
  for (const auto& [key, unit] : m_vecExtentOwners)
    if (key >> 32 == fileId && ofUnit(unit))
      for (UINT64 p = DWORD(key); p < UINT64(DWORD(key)) + 8 && p <= 0xFFFFFFFFull; ++p) pages.push_back(DWORD(p));
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  return pages;
}

CAllocationEvidence::Owners CAllocationEvidence::OwnerOf(WORD fileId, DWORD pageId, IamUnit& unit) const {
  // Every unit that claims the page, by slot or by extent: one answer only when they agree.
  Owners found = Owners::kNone;
  UINT64 owner = 0;
  auto claim = [&](const std::vector<std::pair<UINT64, UINT64>>& owners, UINT64 key) {
    auto it = std::lower_bound(owners.begin(), owners.end(), std::make_pair(key, UINT64(0)));
    for (; it != owners.end() && it->first == key; ++it) {
      if (found == Owners::kNone) {
        found = Owners::kOne;
        owner = it->second;
      } else if (owner != it->second) {
        found = Owners::kMany;
      }
    }
  };
  claim(m_vecSingleOwners, Key(fileId, pageId));
  claim(m_vecExtentOwners, Key(fileId, pageId / 8 * 8));
  if (found == Owners::kOne) unit = IamUnit{WORD(owner >> 32), DWORD(owner)};
  return found;
}

bool CAllocationEvidence::IamMapped(WORD fileId, DWORD pageId) const {
  return m_extents.count(Key(fileId, pageId / kIamInterval * kIamInterval)) > 0;
}

CAllocationEvidence::Verdict CAllocationEvidence::Judge(WORD fileId, DWORD pageId) const {
  return Decide(FindPfs(fileId, pageId), pageId, IamMapped(fileId, pageId));
}

CAllocationEvidence::Verdict CAllocationEvidence::JudgeCached(WORD fileId, DWORD pageId) {
  const UINT64 pfsKey = Key(fileId, PfsBase(pageId));
  if (pfsKey != m_lastPfsKey) {
    m_lastPfs = FindPfs(fileId, pageId);
    m_lastPfsKey = pfsKey;
  }
  const UINT64 iamKey = Key(fileId, pageId / kIamInterval * kIamInterval);
  if (iamKey != m_lastIamKey) {
    m_lastIamMapped = IamMapped(fileId, pageId);
    m_lastIamKey = iamKey;
  }
  return Decide(m_lastPfs, pageId, m_lastIamMapped);
}

bool CAllocationEvidence::SetAside(WORD fileId, DWORD pageId, Chain chain) {
  if (!m_bFinished) Finish();
  const Verdict v = JudgeCached(fileId, pageId);
  if (v == Verdict::kNoPfs && chain != Chain::kUnknown) {
    ++(chain == Chain::kOutside ? m_nChainSetAside : m_nChainKept);
    return chain == Chain::kOutside;
  }
  ++m_nVerdicts[size_t(v)];
  return v == Verdict::kFree;
}

std::vector<CAllocationEvidence::Chain> CAllocationEvidence::ChainWords(const std::vector<ChainLinks>& pages) const {
  std::vector<Chain> words(pages.size(), Chain::kUnknown);
  const bool unwitnessed = std::any_of(pages.begin(), pages.end(), [&](const ChainLinks& l) {
    return Judge(WORD(l.self >> 32), DWORD(l.self)) == Verdict::kNoPfs;
  });
  std::vector<bool> outside;
  if (!unwitnessed || !LeafPagesOutsideTheChain(pages, outside)) return words;
  for (size_t i = 0; i < pages.size(); ++i) words[i] = outside[i] ? Chain::kOutside : Chain::kInChain;
  return words;
}

ChainLinks ChainLinksOf(const BYTE* page, WORD fileId, DWORD pageId, bool heldByIam) {
  ChainLinks links;
  links.self = UINT64(fileId) << 32 | pageId;
  auto link = [&](size_t at) {
    const DWORD id = ReadU32(page + at);
    return id == 0 ? UINT64(0) : UINT64(ReadU16(page + at + 4)) << 32 | id;
  };
  links.prev = link(8);
  links.next = link(16);
  links.leaf = page[3] == 0;
  links.heldByIam = heldByIam;
  return links;
}

bool LeafPagesOutsideTheChain(const std::vector<ChainLinks>& pages, std::vector<bool>& outside) {
  outside.assign(pages.size(), false);
  std::vector<std::pair<UINT64, size_t>> byPlace;
  for (size_t i = 0; i < pages.size(); ++i)
    if (pages[i].leaf) byPlace.emplace_back(pages[i].self, i);
  if (byPlace.empty()) return false;
  std::sort(byPlace.begin(), byPlace.end());
  // A place met twice is no chain anyone can follow.
  for (size_t k = 1; k < byPlace.size(); ++k)
    if (byPlace[k].first == byPlace[k - 1].first) return false;
  auto find = [&](UINT64 place) -> const ChainLinks* {
    auto it = std::lower_bound(byPlace.begin(), byPlace.end(), std::make_pair(place, size_t(0)));
    return it != byPlace.end() && it->first == place ? &pages[it->second] : nullptr;
  };
  std::vector<bool> inChain(pages.size(), false);
  std::vector<bool> visited(pages.size(), false);
  int chains = 0;
  std::vector<size_t> members;
  for (size_t i = 0; i < pages.size(); ++i) {
    if (!pages[i].leaf || pages[i].prev != 0) continue;
    // Walk the next links from a first page while the page linked to links back.
    std::vector<size_t> walk;
    bool complete = false, held = true;
    for (size_t at = i;;) {
      if (visited[at]) break;  // a cycle, or a page two chains claim
      visited[at] = true;
      walk.push_back(at);
      held = held && pages[at].heldByIam;
      if (pages[at].next == 0) {
        complete = true;
        break;
      }
      const ChainLinks* next = find(pages[at].next);
      if (!next || next->prev != pages[at].self) break;
      at = size_t(next - pages.data());
    }
    if (!complete || !held) continue;
    if (++chains > 1) return false;
    members = std::move(walk);
  }
  if (chains != 1) return false;
  for (size_t i : members) inChain[i] = true;
  for (size_t i = 0; i < pages.size(); ++i) outside[i] = pages[i].leaf && !inChain[i];
  return true;
}

CString CAllocationEvidence::LostPfsWarning() const {
  // Every interval of a file has its PFS page (page 1, then every 8088 pages): a data page
  // none covers lost it.
  const int n = Count(Verdict::kNoPfs);
  if (n == 0) return CString();
  return FormatString("%d data pages were read with no page free space page to say whether they are in use (the "
                      "one that covers them is lost or failed its checks): freed pages among them can bring back "
                      "rows that were deleted or moved",
                      n);
}

std::vector<CString> CAllocationEvidence::LogLines() const {
  std::vector<CString> lines;
  if (m_nChainKept || m_nChainSetAside)
    lines.push_back(FormatString("Page census: %d data pages with no page free space page to witness them were sorted by "
                                 "their index's page chain: %d in it kept, %d outside it set aside",
                                 m_nChainKept + m_nChainSetAside, m_nChainKept, m_nChainSetAside));
  if (m_nRejectedPfs || m_nRejectedIam)
    lines.push_back(FormatString("Page census: %d PFS and %d IAM pages failed their own checks and are no evidence of allocation",
                                 m_nRejectedPfs, m_nRejectedIam));
  int listed = 0;
  int unlisted = 0;
  for (const auto& [key, pfs] : m_pfs) {
    if (pfs.contradictions == 0) continue;
    if (listed++ < 8)
      lines.push_back(FormatString("Page census: PFS page %u:%u contradicts the IAM pages on %d pages and is no evidence of allocation",
                                   unsigned(key >> 32), pfs.pageId, pfs.contradictions));
    else
      ++unlisted;
  }
  if (unlisted) lines.push_back(FormatString("Page census: %d more PFS pages contradict the IAM pages", unlisted));
  if (int n = Count(Verdict::kFree))
    lines.push_back(FormatString("Page census: %d data pages set aside: free by their PFS byte and by the IAM pages", n));
  if (int n = Count(Verdict::kPfsContradicted))
    lines.push_back(FormatString(
        "Page census: %d data pages kept although their PFS byte says free: their PFS page contradicts the IAM pages", n));
  if (int n = Count(Verdict::kNoIam))
    lines.push_back(
        FormatString("Page census: %d data pages kept although their PFS byte says free: no IAM page maps them", n));
  if (int n = Count(Verdict::kNoPfs); n && (m_nRejectedPfs || !m_pfs.empty()))
    lines.push_back(FormatString("Page census: %d data pages kept: no PFS page that passed its checks covers them", n));
  return lines;
}

void CUnitWitnessLog::Moved(WORD fileId, DWORD pageId, Unit header, Unit iam) {
  if (m_nMoved++ < kNamed)
    m_vecLines.push_back(FormatString("Page census: data page %u:%u names index id %u, object id %lu in its header, but "
                                      "the IAM pages of index id %u, object id %lu hold it: it is read as theirs",
                                      unsigned(fileId), pageId, unsigned(header.indexId), header.objectId,
                                      unsigned(iam.indexId), iam.objectId));
}

void CUnitWitnessLog::ByLayout(WORD fileId, DWORD pageId, Unit header, Unit placed) {
  if (m_nByLayout++ < kNamed)
    m_vecLines.push_back(FormatString("Page census: data page %u:%u names index id %u, object id %lu in its header; no "
                                      "IAM page holds it, and its records have the layout of index id %u, object id "
                                      "%lu: it is read as theirs",
                                      unsigned(fileId), pageId, unsigned(header.indexId), header.objectId,
                                      unsigned(placed.indexId), placed.objectId));
}

void CUnitWitnessLog::Unplaced(WORD fileId, DWORD pageId, Unit header) {
  if (m_nUnplaced++ < kNamed)
    m_vecLines.push_back(FormatString("Page census: data page %u:%u names index id %u, object id %lu in its header, "
                                      "which is no unit of data pages, and no IAM page holds it: it is unplaced",
                                      unsigned(fileId), pageId, unsigned(header.indexId), header.objectId));
}

void CUnitWitnessLog::NotItsUnits(WORD fileId, DWORD pageId, Unit header) {
  if (m_nUnplaced++ < kNamed)
    m_vecLines.push_back(FormatString("Page census: data page %u:%u names index id %u, object id %lu in its header, but "
                                      "that unit's IAM pages do not hold it and its records are not laid out as its "
                                      "other pages': it is unplaced",
                                      unsigned(fileId), pageId, unsigned(header.indexId), header.objectId));
}

std::vector<CString> CUnitWitnessLog::LogLines() const {
  std::vector<CString> lines = m_vecLines;
  if (m_nMoved > kNamed)
    lines.push_back(FormatString("Page census: %d data pages in all are read as the unit their IAM pages name, not "
                                 "their header's", m_nMoved));
  if (m_nByLayout > kNamed)
    lines.push_back(FormatString("Page census: %d data pages in all are read as the unit their records' layout "
                                 "names, not their header's", m_nByLayout));
  if (m_nUnplaced > kNamed)
    lines.push_back(FormatString("Page census: %d data pages in all are unplaced", m_nUnplaced));
  return lines;
}
