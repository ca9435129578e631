#include "ui/core/sourcedetection.h"

#include <sys/stat.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

#include "common/backupreader.h"
#include "common/page.h"
#include "common/pagesource.h"
#include "platform/files.h"
#include "ui/core/displaytext.h"
#include "ui/core/scanfollower.h"

namespace uicore {

namespace {

// The newest on-disk version and backup software the engines read: SQL Server 2008 R2.
constexpr int kNewestOnDiskVersion = 661;
constexpr int kNewestSoftwareMajor = 10;
// The first bytes of the compressed backups seen in the field: no tape header follows.
constexpr char kCompressedMagic[] = "MSSQLBAK";
constexpr char kTapeMagic[] = "TAPE";

// The release an on-disk version belongs to, and the choice that reads it.
struct Release {
  const char* name;  // "SQL Server 2008 R2"
  int choice;        // 1, 2, 3; 0: not readable
};

Release ReleaseOfOnDiskVersion(int version) {
  if (version <= 539) return {"SQL Server 2000", 1};
  // 590 and 607 are pre-release 2005 builds; the 2005 reader has always read them.
  if (version < 611) return {"pre-release SQL Server 2005", 2};
  if (version <= 612) return {"SQL Server 2005", 2};
  if (version < 661) return {"SQL Server 2008", 3};
  if (version == 661) return {"SQL Server 2008 R2", 3};
  if (version <= 706) return {"SQL Server 2012", 0};
  if (version <= 782) return {"SQL Server 2014", 0};
  if (version <= 852) return {"SQL Server 2016", 0};
  if (version <= 869) return {"SQL Server 2017", 0};
  if (version <= 904) return {"SQL Server 2019", 0};
  if (version <= 957) return {"SQL Server 2022", 0};
  return {"SQL Server release later than 2022", 0};
}

Release ReleaseOfSoftware(int major, int minor) {
  switch (major) {
    case 8: return {"SQL Server 2000", 1};
    case 9: return {"SQL Server 2005", 2};
    case 10: return {minor >= 50 ? "SQL Server 2008 R2" : "SQL Server 2008", 3};
    case 11: return {"SQL Server 2012", 0};
    case 12: return {"SQL Server 2014", 0};
    case 13: return {"SQL Server 2016", 0};
    case 14: return {"SQL Server 2017", 0};
    case 15: return {"SQL Server 2019", 0};
    case 16: return {"SQL Server 2022", 0};
    default: return {major > 16 ? "SQL Server release later than 2022" : "SQL Server release before 2000", 0};
  }
}

const char* const kSupported = "only SQL Server 2000, 2005 and 2008 (R2) files can be recovered.";

// Reads the boot page at `offset`; true with its versions when it is one.
bool ReadBootVersions(const CSourceFile& file, UINT64 offset, SourceFacts& facts) {
  std::vector<BYTE> page(kPageSize);
  if (!file.ReadExact(offset, page.data(), kPageSize)) return false;
  return BootPageVersions(page.data(), facts.onDiskVersion, facts.createdVersion);
}

// Page 0 of a database file: the file header page, page id 0.
bool IsFileHeaderPage(const CSourceFile& file) {
  std::vector<BYTE> page(kPageSize);
  return file.ReadExact(0, page.data(), kPageSize) && PageTypeOf(page.data()) == kPageFileHeader &&
         PageIdOf(page.data()) == 0;
}

void SayVersion(SourceFacts& facts, const std::string& name, const char* kind) {
  const std::string display = PathForDisplay(name);
  if (facts.onDiskVersion != 0) {
    const Release r = ReleaseOfOnDiskVersion(facts.onDiskVersion);
    facts.holds = std::string("a ") + r.name + " database (version " + std::to_string(facts.onDiskVersion) + ")";
    facts.engine = r.choice;
    if (facts.onDiskVersion > kNewestOnDiskVersion)
      facts.failure = display + " holds " + facts.holds + ", which is not supported: " + kSupported;
  } else if (facts.softwareMajor != 0) {
    const Release r = ReleaseOfSoftware(facts.softwareMajor, facts.softwareMinor);
    facts.holds = std::string("a ") + r.name + " database (backup software version " +
                  std::to_string(facts.softwareMajor) + "." + std::to_string(facts.softwareMinor) + ")";
    facts.engine = r.choice;
  }
  // A set written by newer software holds a newer database, whatever its boot page says.
  if (facts.failure.empty() && facts.softwareMajor > kNewestSoftwareMajor) {
    const Release r = ReleaseOfSoftware(facts.softwareMajor, facts.softwareMinor);
    facts.engine = 0;
    facts.failure = display + " is " + kind + " written by " + r.name + " (software version " +
                    std::to_string(facts.softwareMajor) + "." + std::to_string(facts.softwareMinor) +
                    "), which is not supported: " + kSupported;
  }
}

void DetectDatabaseFile(const std::string& path, const CSourceFile& file, const BYTE* head, size_t headBytes,
                        SourceFacts& facts);

// No tape header, and a boot page where a database file keeps it.
bool IsDatabaseFileByContent(const CSourceFile& file, const BYTE* head, size_t headBytes) {
  if (headBytes >= 4 && std::memcmp(head, kTapeMagic, 4) == 0) return false;
  SourceFacts unused;
  return file.Size() > kBootPageOffset && ReadBootVersions(file, kBootPageOffset, unused);
}

void DetectBackup(const std::string& path, const CSourceFile& file, const BYTE* head, size_t headBytes,
                  SourceFacts& facts) {
  const std::string display = PathForDisplay(path);
  const bool tape = headBytes >= 4 && std::memcmp(head, kTapeMagic, 4) == 0;
  // A database file named ".bak" (a copy saved under the wrong name) is read as what it is.
  if (IsDatabaseFileByContent(file, head, headBytes)) {
    facts.backup = false;
    return DetectDatabaseFile(path, file, head, headBytes, facts);
  }
  CBackupReader reader;
  reader.ReadDataSets(path.c_str());
  facts.sets = reader.m_nStreamCount;
  // A backup whose tape header was lost still holds its sets; without either it is no backup.
  if (!tape && facts.sets <= 0) {
    facts.failure = display + " is not a SQL Server backup: it has no tape header.";
    return;
  }
  const CBackupSet* first = reader.GetSet(1);
  if (facts.sets <= 0 || !first || !first->m_pStream) {
    facts.failure = display + " holds no backup set.";
    return;
  }
  facts.softwareMajor = first->m_nSoftwareMajor;
  facts.softwareMinor = first->m_nSoftwareMinor;
  facts.pagesHeld = first->m_pStream->nLength / kPageSize;
  facts.pagesDeclared = std::max(first->m_pStream->nDeclaredLength, first->m_pStream->nLength) / kPageSize;
  if (first->m_pStream->nLength >= kBootPageOffset + kPageSize)
    ReadBootVersions(file, first->m_pStream->nOffset + kBootPageOffset, facts);
  SayVersion(facts, path, "a backup");
}

void DetectDatabaseFile(const std::string& path, const CSourceFile& file, const BYTE* head, size_t headBytes,
                        SourceFacts& facts) {
  const std::string display = PathForDisplay(path);
  if (headBytes >= 4 && std::memcmp(head, kTapeMagic, 4) == 0) {
    facts.failure = display + " is a backup, not a database file: load it under a name that ends in .bak.";
    return;
  }
  const UINT64 size = file.Size();
  facts.pagesHeld = size / kPageSize;
  facts.pagesDeclared = (size + kPageSize - 1) / kPageSize;
  if (ReadBootVersions(file, kBootPageOffset, facts)) return SayVersion(facts, path, "a database file");
  // A secondary file (.ndf) has no boot page, only its file header: its version is unknown.
  if (IsFileHeaderPage(file)) return;
  facts.failure = display + " is not a SQL Server backup or database file.";
}

}  // namespace

SourceFacts DetectSource(const std::string& path) {
  SourceFacts facts;
  facts.backup = IsBackupFile(path);
  const std::string display = PathForDisplay(path);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    facts.failure = display + " cannot be opened: " + std::strerror(errno) + ".";
    return facts;
  }
  if (const char* kind = FileKindRefusal(st.st_mode)) {
    facts.failure = display + " " + kind + ".";
    return facts;
  }
  CSourceFile file;
  if (!file.Open(path.c_str())) {
    facts.failure = display + " cannot be opened: " + std::strerror(errno) + ".";
    return facts;
  }
  if (file.Size() == 0) {
    facts.failure = display + " is empty.";
    return facts;
  }
  BYTE head[16] = {};
  errno = 0;
  const size_t headBytes = file.ReadAt(0, head, sizeof head);
  if (headBytes == 0) {
    facts.failure = display + " cannot be read: " + std::strerror(errno ? errno : EIO) + ".";
    return facts;
  }
  if (headBytes >= 8 && std::memcmp(head, kCompressedMagic, 8) == 0) {
    facts.compressed = true;
    facts.failure = display + " is a compressed backup, which is not supported: only uncompressed backups can be recovered.";
    return facts;
  }
  if (facts.backup) DetectBackup(path, file, head, headBytes, facts);
  else DetectDatabaseFile(path, file, head, headBytes, facts);
  return facts;
}

bool ReadAsDatabaseFile(const std::string& path) {
  if (!IsBackupFile(path)) return true;
  CSourceFile file;
  if (!file.Open(path.c_str())) return false;
  BYTE head[16] = {};
  const size_t headBytes = file.ReadAt(0, head, sizeof head);
  return IsDatabaseFileByContent(file, head, headBytes);
}

bool SameEngineFamily(int a, int b) { return (a == 1) == (b == 1); }

std::string ChoiceName(int choice) {
  switch (choice) {
    case 1: return "SQL Server 2000";
    case 2: return "SQL Server 2005";
    case 3: return "SQL Server 2008";
    default: return "SQL Server";
  }
}

std::string ContraryChoiceQuestion(const SourceFacts& facts, int choice) {
  if (facts.engine == 0 || facts.holds.empty() || choice < 1 || choice > 3 || SameEngineFamily(facts.engine, choice))
    return std::string();
  const char* kind = facts.backup ? "This backup" : "This database file";
  return std::string(kind) + " holds " + facts.holds + ". Read it as " + ChoiceName(choice) + "?";
}

}  // namespace uicore
