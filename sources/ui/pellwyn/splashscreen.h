// The start-up splash: a borderless picture centred on the screen, on top, which closes
// itself after a delay once the event loop runs. The main window never waits for it.
#pragma once

#include <QPointer>
#include <QSplashScreen>

class CSplashScreen : public QSplashScreen {
  Q_OBJECT

 public:
  static constexpr int kDefaultDelayMs = 2000;

  // Shows the splash (one at a time) and starts its timer; `mainWindow` is redrawn when the
  // splash goes.
  static void ShowSplashScreen(QWidget* mainWindow, int delayMs = kDefaultDelayMs);
  // The splash on screen, or null.
  static CSplashScreen* Current();

 private:
  CSplashScreen(QWidget* mainWindow, int delayMs);
  void OnTimer();

  QPointer<QWidget> m_pMainWindow;
};
