// Pieces of the differential-set tests of both engines: a scan of one set with the rows of every
// table and the log it wrote, and the row edits that make a differential's changed pages out of
// a real full backup's.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/backupreader.h"
#include "common/page.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"

namespace testsupport {

struct ScannedSet {
  bool finished = false;
  int sets = 0;
  std::map<std::string, std::vector<std::string>> tables;  // name -> rows in order
  std::string log;
};

// Scans set `set` of the backup with a fresh engine of type Engine, its log in a folder of its own.
template <class Engine>
ScannedSet ScanSet(const std::string& path, int set) {
  ModuleFolderScope scope;
  Engine engine;
  RecoveryOptions o;
  o.selectedSet = set;
  ScannedSet s;
  s.finished = RunRecovery(engine, path, o).finished;
  s.sets = engine.m_nDataSetCount;
  for (const auto& e : engine.m_mapTables) s.tables[e.second->m_strName.str()] = AllRows(engine, e.second);
  s.log = scope.ReadExecLog();
  return s;
}

inline std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// Renames the rows of a data page whose nchar column at record offset 8 (after an int at 4)
// starts with `from` (replaced by `to`, as long); gives how many.
inline int RenameNcharRows(std::vector<BYTE>& page, const std::string& from, const std::string& to) {
  const std::u16string f = Widen(from), t = Widen(to);
  int n = 0;
  ForEachSlot(page.data(), [&](int, WORD entry) {
    BYTE* name = page.data() + entry + 8;
    if (entry + 8 + f.size() * 2 <= kPageSize && std::memcmp(name, f.data(), f.size() * 2) == 0) {
      std::memcpy(name, t.data(), t.size() * 2);
      ++n;
    }
    return true;
  });
  return n;
}

// A differential set made from the first (full) set of a real backup: its first two extents
// (the PFS page also allocating the added page, the boot page naming `databaseName` when one is
// given), the data page holding the one row whose nchar name starts with `row`, that row renamed
// to `renamed`, and an added copy of that page under the first page id the set does not use,
// with every int id at record offset 4 raised by 100 and the names starting with
// `addedFrom` renamed to `addedTo` (when given). `seal` finishes each page changed (a page
// checksum, for the formats that keep one).
struct DifferentialPages {
  std::string full;                     // the real backup file
  std::vector<std::vector<BYTE>> pages;  // the differential's stream
};

struct DifferentialEdit {
  std::string row, renamed;
  std::string addedFrom, addedTo;
  std::string databaseName;
  std::function<void(std::vector<BYTE>&)> seal = [](std::vector<BYTE>&) {};
};

inline DifferentialPages MakeDifferentialPages(const std::string& path, const DifferentialEdit& edit) {
  using Page = std::vector<BYTE>;
  DifferentialPages d;
  d.full = ReadFile(path);
  CBackupReader reader;
  reader.ReadDataSets(path.c_str());
  const CBackupSet* set = reader.GetSet(1);
  if (!set || !set->m_pStream) {
    ADD_FAILURE() << "no full set in " << path;
    return d;
  }
  auto streamPage = [&](DWORD index) {
    const char* p = d.full.data() + set->m_pStream->nOffset + size_t(index) * kPageSize;
    return Page(p, p + kPageSize);
  };
  const DWORD pages = DWORD(set->m_pStream->nLength / kPageSize);
  // Where the row lies, and the first page id nothing in the set uses.
  DWORD holder = 0, maxId = 0;
  for (DWORD i = 0; i < pages; ++i) {
    Page p = streamPage(i);
    maxId = std::max(maxId, PageIdOf(p.data()));
    if (PageTypeOf(p.data()) == kPageData && RenameNcharRows(p, edit.row, edit.row) == 1) holder = i;
  }
  EXPECT_NE(holder, 0u);
  const DWORD addedId = maxId + 1;
  // Extents 0 and 1: file header, PFS (now also allocating the added page), boot page, ...
  for (DWORD i = 0; i < 16; ++i) {
    Page p = streamPage(i);
    EXPECT_TRUE(PageIdOf(p.data()) == i || PageTypeOf(p.data()) == 0) << i;  // unused pages are zero
    if (i == 1) p[100 + addedId] = 0x60;
    if (i == 9 && !edit.databaseName.empty()) {
      std::fill(p.begin() + 148, p.begin() + 148 + 256, 0);
      const std::u16string name = Widen(edit.databaseName);
      std::memcpy(p.data() + 148, name.data(), name.size() * 2);
    }
    if (i == 1 || i == 9) edit.seal(p);
    d.pages.push_back(p);
  }
  Page changed = streamPage(holder);
  EXPECT_EQ(RenameNcharRows(changed, edit.row, edit.renamed), 1);
  edit.seal(changed);
  d.pages.push_back(changed);
  Page added = streamPage(holder);
  added[32] = BYTE(addedId);
  added[33] = BYTE(addedId >> 8);
  added[34] = BYTE(addedId >> 16);
  added[35] = BYTE(addedId >> 24);
  if (!edit.addedFrom.empty()) EXPECT_GT(RenameNcharRows(added, edit.addedFrom, edit.addedTo), 0);
  ForEachSlot(added.data(), [&](int, WORD entry) {
    const DWORD id = ReadU32(added.data() + entry + 4) + 100;
    for (int b = 0; b < 4; ++b) added[entry + 4 + b] = BYTE(id >> (8 * b));
    return true;
  });
  edit.seal(added);
  d.pages.push_back(added);
  return d;
}

}  // namespace testsupport
