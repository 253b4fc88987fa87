#include "WindowGeometry.h"

#include "settings/ProgramSettings.h"
#include "settings/SettingsStore.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QWindow>

WindowGeometry::WindowGeometry(QMainWindow *window, SettingsStore &store) : window_(window), store_(store)
{
}

void WindowGeometry::Load()
{
    ProgramSettings designed;
    designed.Width = window_->width();
    designed.Height = window_->height();
    const ProgramSettings saved = store_.ReadProgram(designed);
    const int left = saved.Left, top = saved.Top;
    constexpr int kNone = ProgramSettings::kNoPosition;
    const QScreen *primaryScreen = QGuiApplication::primaryScreen();
    const QRect primary = primaryScreen ? primaryScreen->availableGeometry() : QRect(0, 0, 1024, 768);
    QList<QRect> areas;
    for (const QScreen *screen : QGuiApplication::screens())
        areas << screen->availableGeometry();
    const QMargins frame = window_->windowHandle() ? window_->windowHandle()->frameMargins() : QMargins();
    const bool centre = left == kNone || top == kNone;
    // A saved size below the design minimum is raised to it; only a screen
    // too small for the design gets less, and the minimum follows the screen.
    const QSize least = window_->minimumSize();
    const QRect placed = PlaceOnScreen(
        QRect(QPoint(centre ? 0 : left, centre ? 0 : top), QSize(saved.Width, saved.Height).expandedTo(least)), frame,
        areas, primary, centre);
    window_->setMinimumSize(least.boundedTo(placed.size()));
    window_->setGeometry(placed);
    if (saved.WindowState == 2)
        window_->setWindowState(Qt::WindowMaximized);
    else
        window_->setWindowState(Qt::WindowNoState);
}

QRect WindowGeometry::PlaceOnScreen(QRect wanted, const QMargins &frame, const QList<QRect> &areas,
                                    const QRect &primary, bool centre)
{
    const QRect outer = wanted.marginsAdded(frame);
    QRect area;
    int best = 0;
    for (const QRect &candidate : areas) {
        const QRect common = candidate.intersected(outer);
        const int shared = common.isEmpty() ? 0 : common.width() * common.height();
        if (shared > best) {
            best = shared;
            area = candidate;
        }
    }
    if (centre || area.isEmpty()) {
        area = primary;
        centre = true;
    }
    const QSize room = area.size().shrunkBy(frame);
    wanted.setSize(wanted.size().boundedTo(room).expandedTo(QSize(1, 1)));
    if (centre)
        wanted.moveTopLeft(area.topLeft() + QPoint(frame.left(), frame.top()) +
                           QPoint((room.width() - wanted.width()) / 2, (room.height() - wanted.height()) / 2));
    // Every edge of the frame on that area.
    const int minX = area.left() + frame.left(), maxX = area.right() - frame.right() - wanted.width() + 1;
    const int minY = area.top() + frame.top(), maxY = area.bottom() - frame.bottom() - wanted.height() + 1;
    wanted.moveTo(qBound(minX, wanted.x(), qMax(minX, maxX)), qBound(minY, wanted.y(), qMax(minY, maxY)));
    return wanted;
}

void WindowGeometry::Save()
{
    const Qt::WindowStates state = window_->windowState();
    int stateValue = 0;
    QRect bounds = window_->geometry();
    if (state & Qt::WindowMaximized)
        stateValue = 2;
    else if (state & Qt::WindowMinimized)
        stateValue = 1;
    if (stateValue != 0 && window_->normalGeometry().isValid())
        bounds = window_->normalGeometry();
    ProgramSettings window;
    window.Width = bounds.width();
    window.Height = bounds.height();
    window.Left = bounds.x();
    window.Top = bounds.y();
    window.WindowState = stateValue;
    store_.WriteProgram(window, ProgramKeys::Window);
}
