// Every question, message box and file dialog the program shows goes through IPrompts, so
// the controllers stay free of the widget toolkit and tests answer the prompts themselves
// (no test blocks in a modal dialog). Texts are the program's 8-bit texts; paths are
// file-system bytes.
#pragma once

#include <optional>
#include <string>

class CBackupReader;

// The title of every message box.
inline constexpr const char* kMessageTitle = "Tarnwell Brackmoor";

class IPrompts {
 public:
  virtual ~IPrompts() = default;

  // A question with Yes and No and the question icon; true for Yes.
  virtual bool AskYesNo(const std::string& title, const std::string& text) = 0;
  // Information with an OK button only.
  virtual void Inform(const std::string& title, const std::string& text) = 0;

  // File dialogs. `filter` is a label with its patterns, "BAK Files (*.bak *.BAK)"; empty
  // when the user cancelled.
  virtual std::optional<std::string> OpenFile(const std::string& filter) = 0;
  virtual std::optional<std::string> SaveFile(const std::string& filter, const std::string& defaultSuffix) = 0;
  virtual std::optional<std::string> ChooseFolder(const std::string& title, const std::string& start) = 0;

  // The server-version dialog with `preselected` (1, 2 or 3; 0: the dialog's own default,
  // 2000) turned on: 1, 2 or 3; 0 when cancelled.
  virtual int ChooseVersion(int preselected) = 0;
  // The backup-set dialog over the engine's reader: the 1-based set number, -1 when cancelled.
  virtual int ChooseBackupSet(const CBackupReader& reader) = 0;
};

// The desktop's default handlers (the shell's "open" verb).
class IDesktopShell {
 public:
  virtual ~IDesktopShell() = default;
  // Opens a local file with its default application; false when nothing could open it.
  virtual bool OpenDocument(const std::string& path) = 0;
  virtual bool OpenUrl(const std::string& url) = 0;
};
