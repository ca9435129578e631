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

class CSQLServer;

namespace uicore {

inline constexpr const char* kScanFileMagic = "tarnwell";
inline constexpr const char* kNotScanFile = "The selected file is not an str file.";
inline constexpr const char* kScanFileUnreadable = "The selected file could not be read.";
inline constexpr const char* kLoadComplete = "Load Complete";
inline constexpr const char* kLoadBeforeSaving = "Please load mdf file before saving";
inline constexpr const char* kNotReplaced = "The selected file is not an str file and was not replaced.";

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

}  // namespace uicore
