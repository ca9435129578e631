#include "splashscreen.h"

#include <QTimer>

#include "ui/pellwyn/artwork.h"

namespace {
QPointer<CSplashScreen> g_pSplash;
}

CSplashScreen::CSplashScreen(QWidget* mainWindow, int delayMs)
    : QSplashScreen(SplashPixmap(), Qt::WindowStaysOnTopHint), m_pMainWindow(mainWindow) {
  setObjectName(QStringLiteral("id160"));
  QTimer::singleShot(delayMs, this, &CSplashScreen::OnTimer);
}

void CSplashScreen::ShowSplashScreen(QWidget* mainWindow, int delayMs) {
  if (g_pSplash) return;
  g_pSplash = new CSplashScreen(mainWindow, delayMs);
  g_pSplash->show();
  g_pSplash->update();
}

CSplashScreen* CSplashScreen::Current() { return g_pSplash.data(); }

void CSplashScreen::OnTimer() {
  close();
  if (m_pMainWindow) m_pMainWindow->update();
  g_pSplash = nullptr;
  deleteLater();
}
