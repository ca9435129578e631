// The allocation evidence on any pages: the PFS and IAM page parsers, the comparison of the
// two, the verdict and the owning unit of pages of every interval the input names, and the page
// chain of the input's pages taken as one unit's.
//
// Input: byte 0 holds options (bit 0: the pages come from a backup stream; bit 1: in a plain
// file each page lies at its place in the input rather than at its own page id), then pages
// of 8192 bytes, the last zero-padded.
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "common/allocation.h"
#include "common/page.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool backup = data[0] & 1;
  const bool byPlace = data[0] & 2;
  std::vector<std::vector<BYTE>> pages;
  for (size_t at = 1; at < size; at += kPageSize) {
    std::vector<BYTE> page(kPageSize, 0);
    std::memcpy(page.data(), data + at, std::min<size_t>(size - at, kPageSize));
    pages.push_back(std::move(page));
  }
  auto feed = [&](CAllocationEvidence& e) {
    for (size_t i = 0; i < pages.size(); ++i) {
      const INT64 place = backup ? CAllocationEvidence::kInsideBackup : byPlace ? INT64(i) : INT64(PageIdOf(pages[i].data()));
      e.AddPage(pages[i].data(), place);
    }
    e.Finish();
  };
  CAllocationEvidence evidence;
  feed(evidence);
  int allocationPages = 0;
  for (const auto& p : pages) allocationPages += PageTypeOf(p.data()) == kPagePfs || PageTypeOf(p.data()) == 10;
  FUZZ_CHECK(evidence.PfsPagesUsed() + evidence.RejectedPfsPages() + evidence.IamPagesUsed() +
                 evidence.RejectedIamPages() <=
             allocationPages);

  // Pages the input names (its own pages, the neighbours of PFS intervals) and the extremes.
  std::set<std::pair<WORD, DWORD>> judged;
  for (const auto& p : pages) {
    const WORD file = ReadU16(p.data() + 36);
    const DWORD id = PageIdOf(p.data());
    for (DWORD d : {0u, 1u, 7u, 8087u, 8088u}) judged.insert({file, id + d});
  }
  judged.insert({0, 0});
  judged.insert({0xFFFF, 0xFFFFFFFF});
  CAllocationEvidence again;
  feed(again);
  for (const auto& [file, id] : judged) {
    const CAllocationEvidence::Verdict v = evidence.Judge(file, id);
    FUZZ_CHECK(v == again.Judge(file, id));
    FUZZ_CHECK(evidence.SetAside(file, id) == (v == CAllocationEvidence::Verdict::kFree));
    // The owner answer is the same from the same pages, and only a page still in use has one
    // for the census.
    CAllocationEvidence::IamUnit unit, unitAgain;
    const CAllocationEvidence::Owners owners = evidence.OwnerOf(file, id, unit);
    FUZZ_CHECK(owners == again.OwnerOf(file, id, unitAgain));
    if (owners == CAllocationEvidence::Owners::kOne) FUZZ_CHECK(unit == unitAgain);
    FUZZ_CHECK(evidence.InUseOwner(file, id, unit) ==
               (owners == CAllocationEvidence::Owners::kOne && v != CAllocationEvidence::Verdict::kFree));
  }
  int counted = 0;
  for (int v = 0; v < 5; ++v) counted += evidence.Count(CAllocationEvidence::Verdict(v));
  FUZZ_CHECK(counted == int(judged.size()));
  for (const CString& line : evidence.LogLines()) FUZZ_CHECK(!line.IsEmpty());

  // The chain: decided or not, one flag per page, only leaf pages outside, and never every
  // leaf page (a decided chain holds at least one).
  std::vector<ChainLinks> links;
  for (size_t i = 0; i < pages.size(); ++i)
    links.push_back(ChainLinksOf(pages[i].data(), ReadU16(pages[i].data() + 36), PageIdOf(pages[i].data()), (i & 1) == 0));
  std::vector<bool> outside;
  const bool decided = LeafPagesOutsideTheChain(links, outside);
  FUZZ_CHECK(outside.size() == links.size());
  size_t leaves = 0, out = 0;
  for (size_t i = 0; i < links.size(); ++i) {
    leaves += links[i].leaf;
    out += outside[i];
    if (outside[i]) FUZZ_CHECK(links[i].leaf && decided);
  }
  if (decided) FUZZ_CHECK(out < leaves);
  return 0;
}
