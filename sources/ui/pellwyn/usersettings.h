// What the program remembers for its user between runs, in the user's configuration folder
// ($XDG_CONFIG_HOME/corvane/corvane.conf, ~/.config by default): the folder each file dialog
// was last left in, and the main window's size, place and tree width. The program's own
// folder keeps what the program writes (logs, sql.settings); this is the user's.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <string>

class QSettings;

std::unique_ptr<QSettings> OpenUserSettings();

// A dialog is known by its filter or title text, so each keeps a folder of its own.
QString RememberedFolder(const std::string& dialog);
void RememberFolder(const std::string& dialog, const QString& folder);

struct WindowPlacement {
  QByteArray geometry;  // QWidget::saveGeometry; empty when none was kept
  int treeWidth = -1;   // -1 when none was kept
};
WindowPlacement RememberedPlacement();
void RememberPlacement(const WindowPlacement& placement);
