#include "style.h"

#include <QApplication>
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
  for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::Button, QPalette::AlternateBase})
    p.setColor(role, Qt::white);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(role, Qt::black);
  window->setPalette(p);
  window->setAutoFillBackground(true);
}

QFont TabCaptionFont() {
  QFont f(QStringLiteral("Verdana"));
  f.setPixelSize(13);
  f.setWeight(QFont::Black);
  return f;
}
