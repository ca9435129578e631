#include "usersettings.h"

#include <QDir>
#include <QSettings>

#include "ui/pellwyn/textconv.h"

namespace {

const char* const kFolders = "folders/";

// Letters and digits of the dialog's text: a key QSettings keeps as it is.
QString FolderKey(const std::string& dialog) {
  QString key;
  for (const QChar c : FromEngineText(dialog)) {
    if (c.isLetterOrNumber()) key += c;
    else if (!key.endsWith(QLatin1Char('_'))) key += QLatin1Char('_');
  }
  while (key.startsWith(QLatin1Char('_'))) key.remove(0, 1);
  while (key.endsWith(QLatin1Char('_'))) key.chop(1);
  return QLatin1String(kFolders) + (key.isEmpty() ? QStringLiteral("any") : key);
}

}  // namespace

std::unique_ptr<QSettings> OpenUserSettings() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("corvane"),
                                     QStringLiteral("corvane"));
}

QString RememberedFolder(const std::string& dialog) {
  const QString folder = OpenUserSettings()->value(FolderKey(dialog)).toString();
  // A folder removed since is no place to start.
  return !folder.isEmpty() && QDir(folder).exists() ? folder : QString();
}

void RememberFolder(const std::string& dialog, const QString& folder) {
  if (!folder.isEmpty()) OpenUserSettings()->setValue(FolderKey(dialog), folder);
}

WindowPlacement RememberedPlacement() {
  const std::unique_ptr<QSettings> settings = OpenUserSettings();
  WindowPlacement placement;
  placement.geometry = settings->value(QStringLiteral("window/geometry")).toByteArray();
  bool ok = false;
  const int width = settings->value(QStringLiteral("window/treeWidth")).toInt(&ok);
  if (ok) placement.treeWidth = width;
  return placement;
}

void RememberPlacement(const WindowPlacement& placement) {
  const std::unique_ptr<QSettings> settings = OpenUserSettings();
  settings->setValue(QStringLiteral("window/geometry"), placement.geometry);
  settings->setValue(QStringLiteral("window/treeWidth"), placement.treeWidth);
}
