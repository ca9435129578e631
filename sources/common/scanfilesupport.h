// Helpers of the scan-file writers and readers: map sections written key by key, read back
// without leaks, and a file written whole or not at all.
#pragma once

#include <functional>
#include <memory>

#include "platform/archive.h"
#include "platform/collections.h"
#include "platform/cstring.h"

// Entries of a map that hold a record: the count a section really writes.
template <class Record>
int CountEntries(const CStringKeyMap<Record*>& map) {
  int n = 0;
  for (const auto& e : map) n += e.second ? 1 : 0;
  return n;
}

// Writes each entry that holds a record: its key, then the record through `save`.
template <class Record, class SaveFn>
void SaveSection(CArchive& ar, const CStringKeyMap<Record*>& map, SaveFn save) {
  for (const auto& e : map) {
    if (!e.second) continue;
    ar << CString(e.first);
    save(ar, *e.second);
  }
}

// Reads `count` entries into the map. A record is owned until it is in the map, so a damaged
// entry raises and leaks nothing; a repeated key replaces (and frees) the earlier record.
template <class Record, class LoadFn>
void LoadSection(CArchive& ar, int count, CStringKeyMap<Record*>& map, LoadFn load) {
  for (int i = 0; i < count; ++i) {
    CString key;
    ar >> key;
    auto record = std::make_unique<Record>();
    load(ar, *record);
    Record* old = nullptr;
    if (map.Lookup(key.view(), old)) delete old;
    map.SetAt(key.view(), record.release());
  }
}

// The engines' SaveScanInfo: asks where to save (`ask` shows the desktop's save dialog; false
// or an empty path = cancelled), adds the dialog's default extension ".str" to a name
// without one, and saves there. 1 saved, 0 failed, -1 cancelled or nobody to ask.
int SaveScanWhereAsked(const std::function<bool(CString& path)>& ask, const std::function<bool(const CString& path)>& save);

// Where a failed write is logged: the error code of the line and which log it goes to.
struct ScanFileLogTarget {
  int error = 1;
  bool toErrorLog = true;
};

// Writes a scan file through `write` into a temporary file beside `path`, renamed over it
// only when complete: an existing file is never left half-written. False, logged and with
// the reason in *error, when the file could not be created, written or replaced.
bool WriteScanFileAtomically(const char* path, const std::function<void(CArchive&)>& write, CString* error,
                             ScanFileLogTarget log = ScanFileLogTarget());
