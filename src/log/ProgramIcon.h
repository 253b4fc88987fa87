#pragma once

#include <QIcon>
#include <QImage>

// The program's picture: a photo going down into a tray. The same drawing
// as data/ferrovane.svg, painted here so that no image plugin is needed.
QImage ProgramIconImage(int size);
QIcon ProgramIcon();
