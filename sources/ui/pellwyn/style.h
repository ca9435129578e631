// The program's look: black text on white in every window, the Verdana the windows were
// designed with (DejaVu Sans where Verdana is not installed), and the few colours of the
// main window.
#pragma once

#include <QColor>
#include <QFont>

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
// The tab's caption font: Verdana of 13 pixels at its heaviest.
QFont TabCaptionFont();
