#include "placement.h"

#include "common/page.h"

namespace {
// One line per page up to this many; a file shifted whole would otherwise fill the log.
constexpr size_t kMostLines = 50;
}  // namespace

CPagePlacement::CPagePlacement(bool backup, UINT64 pages) : m_bBackup(backup), m_nPages(pages) {
  if (!backup) m_inPlace.assign(size_t(pages), false);
}

void CPagePlacement::Note(const CString& line) {
  if (m_lines.size() < kMostLines) m_lines.push_back(line);
  else ++m_nUnlogged;
}

bool CPagePlacement::Admit(const BYTE* page, DWORD index) {
  if (PageTypeOf(page) == 0) return true;
  const DWORD pageId = PageIdOf(page);
  const WORD fileId = PageFileIdOf(page);
  if (m_bBackup) {
    if (m_seen.insert(UINT64(fileId) << 32 | pageId).second) return true;
    ++m_nSetAside;
    Note(FormatString("Page census: page %d:%u met again at stream page %u; the copy met first is read", int(fileId),
                      pageId, index));
    return false;
  }
  // The file header page (page 0) says which file this is; without it any file id is taken.
  if (index == 0 && pageId == 0 && PageTypeOf(page) == kPageFileHeader) m_nFileId = fileId;
  if (pageId == index && (m_nFileId < 0 || fileId == m_nFileId)) {
    if (index < m_inPlace.size()) m_inPlace[index] = true;
    return true;
  }
  m_misplaced.push_back({index, pageId, fileId});
  return false;
}

std::vector<CPagePlacement::Stand> CPagePlacement::Finish() {
  std::vector<Stand> stands;
  std::set<DWORD> taken;
  for (const Misplaced& m : m_misplaced) {
    const bool ours = (m_nFileId < 0 || m.fileId == m_nFileId) && m.pageId < m_nPages;
    if (ours && !m_inPlace[m.pageId] && taken.insert(m.pageId).second) {
      stands.push_back({m.index, m.pageId});
      Note(FormatString("Page census: page %u of the file says it is page %d:%u, which is not in its place; "
                        "it is read as that page",
                        m.index, int(m.fileId), m.pageId));
      continue;
    }
    ++m_nSetAside;
    Note(FormatString("Page census: page %u of the file says it is page %d:%u; set aside (%s)", m.index,
                      int(m.fileId), m.pageId,
                      !ours ? "this file holds no such page" : taken.count(m.pageId) ? "another copy of it is read"
                                                                                     : "that page is in its place"));
  }
  if (m_nUnlogged > 0) m_lines.push_back(FormatString("Page census: %d more pages out of place", m_nUnlogged));
  return stands;
}
