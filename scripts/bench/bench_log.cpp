// Appends 300,000 log lines (mixed colours, bold) from a worker thread into
// the main window's real log view, offscreen, and reports how long until all
// are shown, the longest time the event loop was blocked, and peak memory;
// then the same again while another process keeps every core busy.

#include "app/Application.h"
#include "app/Unit1.h"
#include "base/FormatSettings.h"
#include "common/FormProbe.h"
#include "device/fake/FakeDeviceService.h"

#include <QApplication>
#include "PeakMemory.h"
#include "WindowBench.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

namespace {

struct Figures
{
    qint64 writtenAt = -1;
    qint64 shownAt = -1;
    qint64 longestGap = 0;
    // CPU time the user-interface thread spent inside that longest gap: a
    // gap much longer than it was spent waiting for a core, not working.
    qint64 longestGapCpu = 0;
    // And the time it spent ready to run but waiting for a core.
    qint64 longestGapQueued = 0;
    long peak = -1;
    int viewLines = 0;
    qsizetype documentLines = 0;
};

// The time this thread has waited on a run queue, from the scheduler's
// statistics; 0 where the kernel keeps none.
qint64 ThreadQueuedMs()
{
    QFile file(QStringLiteral("/proc/thread-self/schedstat"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = file.readAll().simplified().split(' ');
    return fields.size() >= 2 ? fields.at(1).toLongLong() / 1000000 : 0;
}

qint64 ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

Figures Run(QApplication &app, int lines)
{
    Figures figures;
    FakeDeviceService devices;
    TForm1 form(devices);
    form.show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        app.processEvents();
    const qsizetype before = FormProbe::Log(form).Document().LineCount();

    // The event loop's heartbeat: the longest gap between two ticks is the
    // longest it was blocked.
    QElapsedTimer beat;
    qint64 lastBeat = 0;
    qint64 lastCpu = ThreadCpuMs();
    qint64 lastQueued = ThreadQueuedMs();
    QTimer heartbeat;
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = beat.elapsed();
        const qint64 cpu = ThreadCpuMs();
        const qint64 queued = ThreadQueuedMs();
        if (now - lastBeat > figures.longestGap) {
            figures.longestGap = now - lastBeat;
            figures.longestGapCpu = cpu - lastCpu;
            figures.longestGapQueued = queued - lastQueued;
        }
        lastBeat = now;
        lastCpu = cpu;
        lastQueued = queued;
    });

    const LogColor colors[] = {LogColor::Black, LogColor::Blue, LogColor::Red,
                               LogColor::Green, LogColor::Purple, LogColor::Maroon};
    QElapsedTimer clock;
    QThread *worker = QThread::create([&] {
        for (int i = 0; i < lines; ++i)
            FormProbe::Log(form).WriteLog(QStringLiteral("Copied file IMG_%1.JPG to /home/user/Pictures/2016-08-13/IMG_%1.JPG")
                                  .arg(i, 5, 10, QLatin1Char('0')),
                              colors[i % 6], i % 4 == 0 ? LogStyle::Bold : LogStyle::Normal);
    });
    QObject::connect(worker, &QThread::finished, [&] { figures.writtenAt = clock.elapsed(); });

    beat.start();
    clock.start();
    heartbeat.start();
    worker->start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (FormProbe::Log(form).ShownLineCount() >= before + lines && figures.writtenAt >= 0) {
            figures.shownAt = clock.elapsed();
            // Measured before quitting: closing the window saves the log file.
            heartbeat.stop();
            figures.peak = PeakMemoryKiB();
            app.quit();
        } else if (clock.elapsed() > 60000) {
            app.quit();
        }
    });
    poll.start(5);
    app.exec();
    worker->wait();
    delete worker;
    figures.viewLines = int(FormProbe::RichEdit1(form)->LineCount());
    figures.documentLines = FormProbe::Log(form).Document().LineCount();
    return figures;
}

// Another process that keeps every core busy until it is killed.
class BusyCores
{
public:
    explicit BusyCores(const char *self)
    {
        process_.setProgram(QString::fromLocal8Bit(self));
        process_.setArguments({QStringLiteral("--busy-cores")});
        process_.start();
        process_.waitForStarted();
        QThread::msleep(200);  // its threads are spinning by then
    }
    ~BusyCores()
    {
        process_.kill();
        process_.waitForFinished();
    }

private:
    QProcess process_;
};

[[noreturn]] void Spin()
{
    std::atomic<unsigned long> n{0};
    for (;;)
        n.fetch_add(1, std::memory_order_relaxed);
}

[[noreturn]] void SpinEveryCore()
{
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < qMax(1u, std::thread::hardware_concurrency()); ++i)
        threads.emplace_back(Spin);
    Spin();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && QByteArray(argv[1]) == "--busy-cores")
        SpinEveryCore();
    const WindowBenchFolders benchFolders;
    Application app(argc, argv);
    InitFormatSettingsFromSystem();

    const int lines = argc > 1 ? QByteArray(argv[1]).toInt() : 300000;
    const double load = LoadAverage();
    const Figures idle = Run(app, lines);
    Figures loaded;
    {
        const BusyCores busy(argv[0]);
        loaded = Run(app, lines);
    }

    const double seconds = idle.shownAt / 1000.0;
    std::printf("lines: %d (load average %.1f before the runs)\n", lines, load);
    std::printf("worker finished writing after: %.3f s\n", idle.writtenAt / 1000.0);
    std::printf("all lines shown after: %.3f s (%.0f lines/s)%s\n", seconds, lines / seconds,
                idle.shownAt < 0 ? "  [NOT ALL SHOWN]" : "");
    std::printf("longest event-loop block: %lld ms (%lld ms of it working, %lld ms waiting for a core)\n",
                static_cast<long long>(idle.longestGap), static_cast<long long>(idle.longestGapCpu),
                static_cast<long long>(idle.longestGapQueued));
    std::printf("peak memory: %.1f MB\n", idle.peak / 1024.0);
    std::printf("view lines kept: %d of %lld in the document\n", idle.viewLines,
                static_cast<long long>(idle.documentLines));
    std::printf("with another process keeping every core busy: all shown after %.3f s%s, longest block %lld ms"
                " (%lld ms of it working, %lld ms waiting for a core)\n",
                loaded.shownAt / 1000.0, loaded.shownAt < 0 ? " [NOT ALL SHOWN]" : "",
                static_cast<long long>(loaded.longestGap), static_cast<long long>(loaded.longestGapCpu),
                static_cast<long long>(loaded.longestGapQueued));
    const bool ok = idle.shownAt >= 0 && seconds <= 5.0 && idle.longestGap <= 100 && idle.peak < 300 * 1024;
    const bool loadedOk = loaded.shownAt >= 0 && loaded.longestGap <= 50;
    std::printf("targets (<= 5 s, <= 100 ms, < 300 MB; busy cores: <= 50 ms): %s\n",
                ok && loadedOk ? "met" : "MISSED");
    return 0;
}
