// Pieces of the differential-set tests of both engines: a scan of one set with the rows of every
// table and the log it wrote, and the row edits that make a differential's changed pages out of
// a real full backup's.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

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

}  // namespace testsupport
