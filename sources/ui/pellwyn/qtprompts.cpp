#include "qtprompts.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#include "ui/pellwyn/backupsetdlg.h"
#include "ui/pellwyn/sqlformatoptdlg.h"
#include "ui/pellwyn/style.h"
#include "ui/pellwyn/textconv.h"
#include "ui/pellwyn/usersettings.h"

namespace {
std::optional<std::string> Chosen(const QString& path) {
  if (path.isEmpty()) return std::nullopt;
  return ToPath(path);
}

// Runs a file dialog, fitted to the screen (the toolkit's own dialog is otherwise wider than a
// small or scaled screen), and gives its one chosen path; empty when cancelled. `remember`
// keeps the folder the next time starts in.
QString RunFileDialog(QFileDialog& dialog, const std::string& remember, bool folderChosen) {
  dialog.resize(FittedSize(&dialog, dialog.sizeHint()));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  const QString path = dialog.selectedFiles().front();
  RememberFolder(remember, folderChosen ? path : QFileInfo(path).absolutePath());
  return path;
}

}  // namespace

bool QtPrompts::AskYesNo(const std::string& title, const std::string& text) {
  return QMessageBox::question(m_pParent, FromEngineText(title), FromEngineText(text),
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void QtPrompts::Inform(const std::string& title, const std::string& text) {
  QMessageBox::information(m_pParent, FromEngineText(title), FromEngineText(text), QMessageBox::Ok);
}


// Each file dialog opens where it was last left, and remembers where that is.
std::optional<std::string> QtPrompts::OpenFile(const std::string& filter) {
  QFileDialog dialog(m_pParent, QString(), RememberedFolder(filter), FromEngineText(filter));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  return Chosen(RunFileDialog(dialog, filter, false));
}

std::optional<std::string> QtPrompts::SaveFile(const std::string& filter, const std::string& defaultSuffix) {
  // The dialog object adds the suffix to a bare name.
  QFileDialog dialog(m_pParent, QString(), RememberedFolder(filter), FromEngineText(filter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(FromEngineText(defaultSuffix));
  return Chosen(RunFileDialog(dialog, filter, false));
}

std::optional<std::string> QtPrompts::ChooseFolder(const std::string& title, const std::string& start) {
  const QString remembered = RememberedFolder(title);
  QFileDialog dialog(m_pParent, FromEngineText(title), remembered.isEmpty() ? FromPath(start) : remembered);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  return Chosen(RunFileDialog(dialog, title, true));
}

int QtPrompts::ChooseVersion(int preselected) {
  CSqlFormatOptDlg dialog(m_pParent, preselected);
  dialog.exec();
  return dialog.m_nVersion;
}

int QtPrompts::ChooseBackupSet(const CBackupReader& reader) {
  CBackupSetDlg dialog(reader, *this, m_pParent);
  dialog.exec();
  return dialog.m_nSelectedSet;
}

bool QtDesktopShell::OpenDocument(const std::string& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(FromPath(path)));
}

bool QtDesktopShell::OpenUrl(const std::string& url) {
  return QDesktopServices::openUrl(QUrl(FromEngineText(url)));
}
