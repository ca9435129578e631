// The prompts and the desktop shell as the running program shows them: message boxes, file
// dialogs, the version and backup-set dialogs, and the desktop's default handlers.
#pragma once

#include <QPointer>
#include <QWidget>

#include "ui/core/prompts.h"

class QtPrompts : public IPrompts {
 public:
  explicit QtPrompts(QWidget* parent = nullptr) : m_pParent(parent) {}
  void SetParent(QWidget* parent) { m_pParent = parent; }

  bool AskYesNo(const std::string& title, const std::string& text) override;
  void Inform(const std::string& title, const std::string& text) override;
  std::optional<std::string> OpenFile(const std::string& filter) override;
  std::optional<std::string> SaveFile(const std::string& filter, const std::string& defaultSuffix) override;
  std::optional<std::string> ChooseFolder(const std::string& title, const std::string& start) override;
  int ChooseVersion(int preselected) override;
  int ChooseBackupSet(const CBackupReader& reader) override;

 private:
  QPointer<QWidget> m_pParent;
};

class QtDesktopShell : public IDesktopShell {
 public:
  bool OpenDocument(const std::string& path) override;
  bool OpenUrl(const std::string& url) override;
};
