#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

// Made before the application object of a benchmark that drives the real
// window: offscreen unless told otherwise, and the settings and log files of
// the run in a folder of their own.
class WindowBenchFolders
{
public:
    WindowBenchFolders()
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
    }

private:
    QTemporaryDir config_;
};

// The longest gap between two ticks of a 1 ms timer on the user-interface
// thread while it runs: the longest the window could not answer. The longest
// is kept over every Start and Stop until Reset.
class Heartbeat
{
public:
    Heartbeat()
    {
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            longest_ = qMax(longest_, now - last_);
            last_ = now;
        });
    }
    void Start()
    {
        clock_.start();
        last_ = 0;
        timer_.start();
    }
    void Stop() { timer_.stop(); }
    void Reset() { longest_ = 0; }
    qint64 Longest() const { return longest_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};
