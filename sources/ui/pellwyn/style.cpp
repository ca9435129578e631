#include "style.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QPalette>
#include <QStyleFactory>
#include <QWidget>

void ApplyProgramStyle(QApplication& app) {
  QFont::insertSubstitution(QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"));
  // The same look on every desktop, whatever style the platform would pick.
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
  QFont font(QStringLiteral("Verdana"));
  font.setPointSize(8);
  app.setFont(font);
}

void ApplyDialogColours(QWidget* window) {
  QPalette p = window->palette();
  // Black on white for what can be used; what cannot keeps a disabled look of its own, grey
  // text on a light grey face, so "<" on a first page or an unused field reads as such.
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::Button, QPalette::AlternateBase})
      p.setColor(group, role, Qt::white);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
      p.setColor(group, role, Qt::black);
  }
  p.setColor(QPalette::Disabled, QPalette::Window, Qt::white);
  p.setColor(QPalette::Disabled, QPalette::AlternateBase, Qt::white);
  for (QPalette::ColorRole role : {QPalette::Base, QPalette::Button}) p.setColor(QPalette::Disabled, role, kDisabledFace);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, kDisabledText);
  window->setPalette(p);
  window->setAutoFillBackground(true);
}

QSize ScreenRoom(const QWidget* window) {
  static constexpr QSize kFrameAllowance(16, 40);
  const QScreen* on = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!on) return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  return on->availableGeometry().size() - kFrameAllowance;
}

QSize FittedSize(const QWidget* window, QSize wanted) {
  return wanted.boundedTo(ScreenRoom(window)).expandedTo(window->minimumSizeHint());
}

QFont TabCaptionFont() {
  QFont f(QStringLiteral("Verdana"));
  f.setPixelSize(13);
  f.setWeight(QFont::Black);
  return f;
}
