#pragma once

#include <QColor>
#include <QPalette>
#include <QString>
#include <QStringList>

class QObject;

// The program's visual styles: twenty named colour schemes drawn with Qt's
// Fusion style, and "Windows", the desktop's own look.

inline const QString kSystemStyleName = QStringLiteral("Windows");

// Every style name the program knows: the twenty styles and "Windows".
QStringList StyleNames();
bool StyleExists(const QString &name);

// The colours of a named style ("Windows" and unknown names: the desktop's
// own palette, as it was before any style was applied).
QPalette StylePalette(const QString &name);

// The outline of check boxes and option buttons in the program's styles: at
// least 3:1 against the window colour when enabled.
QColor IndicatorEdge(const QPalette &palette, bool enabled);

// Makes the named style the look of every window. "Windows" brings back the
// desktop's look; an unknown name changes nothing and gives false.
bool ApplyStyle(const QString &name);

// At start: applies the chosen style; an unknown name leaves the desktop's
// look and is reported as "Style '<name>' not found" through the program's
// exception report once the event loop runs (context: the main window).
void ApplyStyleAtStart(QObject *context, const QString &name);
