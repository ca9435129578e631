// The program's look: black text on white in every window, the Verdana the windows were
// designed with (DejaVu Sans where Verdana is not installed), and the few colours of the
// main window.
#pragma once

#include <QColor>
#include <QFont>
#include <QSize>

class QApplication;
class QWidget;

inline const QColor kStatusBarColour(180, 180, 180);
inline const QColor kTabColour(244, 244, 244);
// Controls that cannot be used: grey text on a light grey face.
inline const QColor kDisabledText(128, 128, 128);
inline const QColor kDisabledFace(236, 236, 236);

// Application-wide font and palette; once, before the first window.
void ApplyProgramStyle(QApplication& app);
// Black on white for a window and everything in it that can be used; disabled controls grey.
void ApplyDialogColours(QWidget* window);
// The room a window has on its screen: the screen's free area (in its own, scaled units) less
// what the window manager's frame takes, borders and a title bar.
QSize ScreenRoom(const QWidget* window);
// `wanted`, made smaller where the screen has no room for it (never below what the window's
// layout needs).
QSize FittedSize(const QWidget* window, QSize wanted);

// The tab's caption font: Verdana of 13 pixels at its heaviest.
QFont TabCaptionFont();
