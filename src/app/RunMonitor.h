#pragma once

#include "base/RunProgress.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

class DesktopNotifier;
class LogSink;
class QLabel;
class QStatusBar;
class QWidget;
struct RunState;

// A copy run as the user follows it: its progress in the status bar while
// it lasts, read from the run's counters a few times a second (the run
// itself never waits for the display), and a desktop notification when a
// long run ends while the window is not in front.
class RunMonitor : public QObject
{
    Q_OBJECT
public:
    RunMonitor(const RunState &run, LogSink &log, QStatusBar *statusBar, QWidget *window);

    // What the last listing showed: the totals a run is measured against.
    void SetListed(qint64 files, quint64 bytes);
    // A copy run of the device starts.
    void Started(const QString &deviceName);
    // Its worker has ended (any worker: one that was not a copy run is passed over).
    void Ended();
    bool Running() const { return ticks_.isActive(); }

    QLabel *ProgressLabel() const { return label_; }
    DesktopNotifier &Notifier() { return *notifier_; }
    // Tests shorten the run worth a notification and say whether the window
    // counts as the active one.
    void SetNotifyAfter(qint64 ms) { notifyAfterMs_ = ms; }
    void SetWindowActiveCheck(std::function<bool()> active) { windowActive_ = std::move(active); }

    static constexpr int kTickMs = 250;
    static constexpr qint64 kNotifyAfterMs = 10000;

signals:
    // Each tick of a run: the bytes done, and of how many listed.
    void progressed(quint64 bytesDone, quint64 bytesTotal);

private:
    void Tick();

    const RunState &run_;
    QStatusBar *statusBar_;
    QLabel *label_;
    DesktopNotifier *notifier_;
    QTimer ticks_;
    QElapsedTimer elapsed_;
    TransferRate rate_;
    QString deviceName_;
    qint64 filesTotal_ = 0;
    quint64 bytesTotal_ = 0;
    qint64 notifyAfterMs_ = kNotifyAfterMs;
    std::function<bool()> windowActive_;
};
