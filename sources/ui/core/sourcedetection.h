// What a chosen file is, read before any engine is made: a backup or a database file, which
// SQL Server wrote it (the boot page's on-disk version, or the backup set's software version
// where the boot page is missing), and whether it can be loaded at all. The window's Load and
// engine-driver ask this one function, so both say the same about the same file.
#pragma once

#include <string>

namespace uicore {

struct SourceFacts {
  bool backup = false;      // read through its backup sets (named ".bak", and no database file inside)
  int sets = 0;             // backup sets listed
  int onDiskVersion = 0;    // the boot page's current on-disk version; 0 when no boot page was read
  int createdVersion = 0;
  int softwareMajor = 0;    // the first set's writer; 0 when not a backup
  int softwareMinor = 0;
  bool compressed = false;
  // The version dialog's choice that reads the file: 1 (2000), 2 (2005) or 3 (2008); 0 when the
  // file does not say.
  int engine = 0;
  // "a SQL Server 2008 database (version 655)"; empty when the file does not say.
  std::string holds;
  // Pages the file holds of those the first set's stream header declares; equal unless the
  // backup was cut off. Database files: whole pages, and one more when a part page ends the
  // file. (The chosen set's are told by SourceCutOffText once a set is chosen.)
  unsigned long long pagesHeld = 0;
  unsigned long long pagesDeclared = 0;
  // Why the file cannot be loaded, as the user is told; empty when it can.
  std::string failure;
  bool Loadable() const { return failure.empty(); }
  bool Truncated() const { return pagesHeld < pagesDeclared; }
};

// Reads what the file at `path` is. Never fails: what cannot be read is said in `failure`.
SourceFacts DetectSource(const std::string& path);

// Whether the file at `path` is read as a database file: its name does not end in ".bak", or
// it does but the file holds a database file's boot page and no tape header.
bool ReadAsDatabaseFile(const std::string& path);

// The engine family of a version dialog choice: the 2005 and 2008 choices share one.
bool SameEngineFamily(int a, int b);

// The question asked once when the user's choice reads the file with the other family's
// engine: "This backup holds a SQL Server 2008 database (version 655). Read it as SQL Server
// 2000?"; empty when the choice fits the file or the file does not say.
std::string ContraryChoiceQuestion(const SourceFacts& facts, int choice);

// The SQL Server a version dialog choice names: "SQL Server 2000".
std::string ChoiceName(int choice);

}  // namespace uicore
