// Pieces of an engine object that every engine has alike: the source path's extension, the
// pool that owns the table records, and the status blocks of engines that are gone.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/cstring.h"

class CBackupReader;
class CSQLServer;
class CBackupSet;
class CSourceFile;
class CEngineStatus;
class CTable;

// Text after the last '.' of a path; empty when the path has two characters or fewer or
// holds no '.'.
CString FileExtensionOf(const CString& path);
// Whether a source with this extension is a backup ("bak", any case), whose pages are read
// through its backup sets rather than as a database file.
bool IsBackupExtensionText(const CString& extension);
// The extension an engine reads its source by: its path's, or "mdf" when the program has said
// the file is a database file (m_bSourceIsDatabaseFile), so that the user's file need not be
// renamed to be read as what it is.
CString EngineSourceExtension(const CSQLServer& engine);

// Lists the backup sets of the backup at `path` with a new reader that replaces (and frees)
// `reader`; returns the number of sets found.
int ReadBackupSets(const CString& path, CBackupReader*& reader);

// Holds the engine's source (m_strFilePath) open for the work that follows; nothing to do when
// it holds it already. False, after a log line saying why, when it cannot be opened.
bool PinEngineSource(CSQLServer& engine);
// Logs that the source changed since it was pinned, naming the work it changed during
// ("scan", "export"); true when it did.
bool ReportSourceChange(CSQLServer& engine, const char* work);

// The database name of a backup set, from the boot page at its stream's page 9; empty when the
// stream does not hold that page or it is not a boot page.
CString DatabaseNameOfSet(const CSourceFile& file, const CBackupSet& set);

// The full set a differential set (number `number` in the reader's list) is read over, as a
// restore lays it: the latest full set before it of the same database (by the boot pages'
// database names), or, when the differential's own boot page does not say, the reader's
// pairing with the latest full set before it. Null for a full set, or when the file holds no
// base for it.
CBackupSet* FindDifferentialBase(const CBackupReader& reader, const CSourceFile& file, int number,
                                 const CBackupSet* differential);

// A destroyed engine's status block stays alive for the process: a detached thread of that
// engine may still look at it. It is kept reachable so it is not taken for a leak.
void RetireStatusBlock(CEngineStatus* status);

// Every table record of an engine is made here and owned here until Clear, whichever maps
// point at it, so a record in several maps is freed exactly once. Safe from several threads.
class CTablePool {
 public:
  CTable* New();
  void Clear();

 private:
  std::mutex m_mutex;
  std::vector<std::unique_ptr<CTable>> m_tables;
};
