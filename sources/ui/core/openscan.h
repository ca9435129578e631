// Save Scan and Open Scan without the window. Open Scan reads a scan file's first two strings
// itself, the magic word and the version, creates a new engine of that version and lets it
// read the rest; the engine held before is the caller's to keep until the load succeeded, so
// a file that cannot be read changes nothing. Save Scan hands the writing to the engine
// through its save hook.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

class CBackupReader;
class CSQLServer;

namespace uicore {

inline constexpr const char* kScanFileMagic = "tarnwell";
inline constexpr const char* kNotScanFile = "The selected file is not an str file.";
inline constexpr const char* kScanFileUnreadable = "The selected file could not be read.";
inline constexpr const char* kLoadComplete = "Load Complete";
inline constexpr const char* kLoadBeforeSaving = "Please load mdf file before saving";
inline constexpr const char* kNotReplaced = "The selected file is not an str file and was not replaced.";
// Status pane text when a scan's rows cannot be read; the file's name follows.
inline constexpr const char* kRowsNeedBackup = "The rows need the backup file ";

// True when the file begins with the scan files' magic word.
bool IsScanFile(const std::string& path);

struct OpenScanResult {
  enum class Outcome {
    Loaded,       // `engine` holds the scan
    NotScanFile,  // no magic word, or a version no engine has
    Unreadable,   // cannot be opened, or damaged or cut short after the magic word
    NoEngine,     // the version's engine is not part of this build
  };
  Outcome outcome = Outcome::Unreadable;
  std::unique_ptr<CSQLServer> engine;
  std::string version;  // the file's version text, when it was read
  std::string message;  // for the message box, when not Loaded
  bool Loaded() const { return outcome == Outcome::Loaded; }
};

OpenScanResult OpenScanFile(const std::string& path);

// Where a preview or an export finds the rows of a scan. A scan file keeps the catalog and
// the path of the file the scan read, not which backup set of it: reopened, the engine can
// locate its pages only once that set is located again, as Recover locates it.
struct PageSourceCheck {
  bool ready = false;
  std::string message;  // for the status pane, when not ready
};

// Answers the set dialog over the backup's sets: the 1-based set number, -1 for Cancel.
using ChooseSet = std::function<int(const CBackupReader& reader)>;

// Ready at once when the engine can read its source's pages (a scan run in this program, or a
// plain database file that is there). For a backup whose set is not located (a scan reopened
// from its file), lists the backup's sets, asks `choose` when it holds several, and locates
// the chosen one; not ready, with the message naming the file, when the file cannot be
// read, holds no set or the choice was cancelled.
PageSourceCheck AttachPageSource(CSQLServer& engine, const ChooseSet& choose);

struct SaveScanResult {
  enum class Outcome {
    Saved,
    Cancelled,    // no file chosen
    NothingToSave,  // no backup loaded in this run
    Refused,      // the chosen file exists and is not a scan file
    Failed,       // the engine could not write the file (its log says why)
  };
  Outcome outcome = Outcome::Failed;
  std::string path;     // the file written or refused
  std::string message;  // for the message box, when there is one
};

// Asks for the file to save to; nothing for Cancel.
using AskSavePath = std::function<std::optional<std::string>()>;

// `sourcePath` is the backup the program loaded last (empty: nothing to save). A chosen name
// without an extension gets ".str", as the save dialog's default suffix gives it. An existing
// file is replaced only when it is a scan file itself: choosing the backup by mistake must
// not turn it into a scan file.
SaveScanResult SaveScan(CSQLServer* engine, const std::string& sourcePath, const AskSavePath& ask);

// What Open Scan does to the texts a scan file held once the engine has loaded them: those of
// files written before names were kept as UTF-8 become UTF-8, their bytes read as Latin-1.
void KeepLoadedTextsUtf8(CSQLServer& engine);

}  // namespace uicore
