// The program's pictures, drawn here rather than shipped as files: the banner across the top
// of the main window, the splash, the program icon, the twelve tree icons and the toolbar
// buttons. Every function must run on the GUI thread (pixmaps live there).
#pragma once

#include <QIcon>
#include <QPixmap>

enum class ToolbarImage { Load, OpenScan, SaveScan, Export, Support, Help, Exit };

QPixmap BannerPixmap();                  // 632 x 60
QPixmap SplashPixmap();                  // 380 x 200
QIcon ProgramIcon();                     // 16 to 64 pixels
QPixmap TreeImage(int index);            // 16 x 16, index 0 to 11 as the tree's image list
QPixmap ToolbarPixmap(ToolbarImage image);  // 50 x 50, picture and caption
