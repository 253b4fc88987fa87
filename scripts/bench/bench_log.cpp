// Appends 300,000 log lines (mixed colours, bold) from a worker thread into
// the main window's real log view, offscreen, and reports how long until all
// are shown, the longest time the event loop was blocked, and peak memory.

#include "app/Unit1.h"
#include "device/fake/FakeDeviceService.h"
#include "settings/FormatSettings.h"

#include <QApplication>
#include "PeakMemory.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTemporaryDir>
#include <QTimer>

#include <clocale>
#include <cstdio>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Settings and log files of this run go to a folder of its own.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    InitFormatSettingsFromSystem();

    const int lines = argc > 1 ? QByteArray(argv[1]).toInt() : 300000;
    FakeDeviceService devices;
    TForm1 form(devices);
    form.show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        app.processEvents();
    const qsizetype before = form.Log.Document().LineCount();

    // The event loop's heartbeat: the longest gap between two ticks is the
    // longest it was blocked.
    QElapsedTimer beat;
    qint64 lastBeat = 0;
    qint64 longestGap = 0;
    QTimer heartbeat;
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = beat.elapsed();
        longestGap = qMax(longestGap, now - lastBeat);
        lastBeat = now;
    });

    const LogColor colors[] = {LogColor::Black, LogColor::Blue, LogColor::Red,
                               LogColor::Green, LogColor::Purple, LogColor::Maroon};
    QElapsedTimer clock;
    QThread *worker = QThread::create([&] {
        for (int i = 0; i < lines; ++i)
            form.Log.WriteLog(QStringLiteral("Copied file IMG_%1.JPG to /home/user/Pictures/2016-08-13/IMG_%1.JPG")
                                  .arg(i, 5, 10, QLatin1Char('0')),
                              colors[i % 6], i % 4 == 0 ? LogStyle::Bold : LogStyle::Normal);
    });
    qint64 writtenAt = -1;
    QObject::connect(worker, &QThread::finished, [&] { writtenAt = clock.elapsed(); });

    beat.start();
    clock.start();
    heartbeat.start();
    worker->start();
    qint64 shownAt = -1;
    long peakAtEnd = -1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (form.Log.ShownLineCount() >= before + lines && writtenAt >= 0) {
            shownAt = clock.elapsed();
            // Measured before quitting: closing the window saves the log file.
            heartbeat.stop();
            peakAtEnd = PeakMemoryKiB();
            app.quit();
        } else if (clock.elapsed() > 60000) {
            app.quit();
        }
    });
    poll.start(5);
    app.exec();
    worker->wait();
    delete worker;

    const double seconds = shownAt / 1000.0;
    const long peak = peakAtEnd;
    std::printf("lines: %d\n", lines);
    std::printf("worker finished writing after: %.3f s\n", writtenAt / 1000.0);
    std::printf("all lines shown after: %.3f s (%.0f lines/s)%s\n", seconds, lines / seconds,
                shownAt < 0 ? "  [NOT ALL SHOWN]" : "");
    std::printf("longest event-loop block: %lld ms\n", static_cast<long long>(longestGap));
    std::printf("peak memory: %.1f MB\n", peak / 1024.0);
    std::printf("view lines kept: %d of %lld in the document\n", form.RichEdit1->document()->blockCount(),
                static_cast<long long>(form.Log.Document().LineCount()));
    const bool ok = shownAt >= 0 && seconds <= 5.0 && longestGap <= 100 && peak < 300 * 1024;
    std::printf("targets (<= 5 s, <= 100 ms, < 300 MB): %s\n", ok ? "met" : "MISSED");
    return 0;
}
