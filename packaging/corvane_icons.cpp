// Writes the program's icon, which the program paints itself, as the PNG files a desktop
// entry names: <folder>/<size>x<size>/apps/corvane.png for every size the icon is drawn at.
// Runs at build time on Qt's offscreen platform.
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <cstdio>

#include "ui/pellwyn/artwork.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: corvane-icons FOLDER\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  const QString root = QString::fromLocal8Bit(argv[1]);
  const QIcon icon = ProgramIcon();
  const QList<QSize> sizes = icon.availableSizes();
  if (sizes.isEmpty()) {
    std::fprintf(stderr, "corvane-icons: the program icon has no pictures\n");
    return 1;
  }
  for (const QSize& size : sizes) {
    const QString folder = QStringLiteral("%1/%2x%3/apps").arg(root).arg(size.width()).arg(size.height());
    const QString file = folder + QStringLiteral("/corvane.png");
    if (!QDir().mkpath(folder) || !icon.pixmap(size).save(file, "PNG")) {
      std::fprintf(stderr, "corvane-icons: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
