// Which pages of a census are read where they were met. A page whose header names another
// place than the one it was read from (a misdirected write, a page copied over another) is
// set aside and read only when no page of that id is where it belongs; a page id met twice
// in one census is read once. Shared by both engines' censuses.
#pragma once

#include <set>
#include <vector>

#include "platform/cstring.h"
#include "platform/types.h"

class CPagePlacement {
 public:
  // backup: pages met in a backup's stream, whose place is no page id (extents are left out),
  // so only a page id met a second time is set aside; otherwise a plain database file of
  // `pages` pages, where page n is at place n.
  CPagePlacement(bool backup, UINT64 pages);

  // Called for every page met, in census order: true when the page is read where it was met.
  // An unformatted page (type 0) names no place and is always taken.
  bool Admit(const BYTE* page, DWORD index);

  struct Stand {
    DWORD index;   // where the page was met
    DWORD pageId;  // the page it stands for
  };
  // Once every page has been met: the set-aside pages read after all, each standing for the
  // page its header names, which the file does not hold in its place. Also makes the log lines.
  std::vector<Stand> Finish();
  const std::vector<CString>& LogLines() const { return m_lines; }
  // Pages set aside for good.
  int SetAsideCount() const { return m_nSetAside; }

 private:
  struct Misplaced {
    DWORD index;
    DWORD pageId;
    WORD fileId;
  };
  void Note(const CString& line);

  bool m_bBackup;
  UINT64 m_nPages;
  int m_nFileId = -1;  // the file id of the file header page; -1: not known
  std::vector<bool> m_inPlace;  // plain file: the page at place n says it is page n
  std::vector<Misplaced> m_misplaced;
  std::set<UINT64> m_seen;  // backup: (file, page id) of every page met
  std::vector<CString> m_lines;
  int m_nSetAside = 0;
  int m_nUnlogged = 0;
};
