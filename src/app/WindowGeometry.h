#pragma once

#include <QList>
#include <QMargins>
#include <QRect>

class QMainWindow;
class SettingsStore;

// The main window's place and size on the screens, kept in the settings file.
class WindowGeometry
{
public:
    WindowGeometry(QMainWindow *window, SettingsStore &store);
    // Places the window as it was saved, on a screen that shows it.
    void Load();
    void Save();
    // Where a window of the wanted bounds (without its frame) goes: on the
    // screen area that holds most of it, or centred on the primary one when it
    // is off every screen or centre is asked for; never larger than that area.
    static QRect PlaceOnScreen(QRect wanted, const QMargins &frame, const QList<QRect> &areas, const QRect &primary,
                               bool centre);

private:
    QMainWindow *window_;
    SettingsStore &store_;
};
