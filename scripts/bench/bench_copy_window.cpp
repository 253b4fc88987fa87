// Copies the same trees as bench_copy through the real main window, offscreen:
// the device chosen from the settings, the Copy button pressed, the log and
// the catalogue live; beside cp -r of the same tree in the same run. Reports
// the longest time the window's event loop was blocked while copying.
//
//   bench_copy_window [FOLDER [CASE]]   (the sources bench_copy makes, made here too when
//                                        missing; CASE big or small runs that one alone)

#include "CopyBench.h"
#include "PeakMemory.h"
#include "WindowBench.h"

#include "app/Application.h"
#include "app/ProgramFolders.h"
#include "app/Unit1.h"
#include "base/FormatSettings.h"
#include "common/FormProbe.h"
#include "device/FolderBackend.h"
#include "device/SystemDeviceService.h"

#include <QApplication>
#include <QDirIterator>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <clocale>
#include <cstdio>

using namespace copybench;

namespace {

double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Where the CPU went in the last run: the window's thread, and all others
// (the copy's worker, mostly).
struct CpuSplit
{
    double window = 0;
    double others = 0;
};
CpuSplit lastCpu;

// Runs the event loop, as the program does, until done or the timeout; the
// loop sleeps between events instead of spinning, so the window's thread
// uses only the CPU the window needs.
bool WaitFor(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start();
    loop.exec();
    return done();
}

bool WriteSettings(const QString &deviceName, const QString &serial, const QString &destination)
{
    QDir().mkpath(QFileInfo(IniFilePath).path());
    QFile ini(IniFilePath);
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray name = deviceName.toUtf8();
    ini.write("[Ferrovane]\nDeviceCount=1\nLastDevice=" + name + "\n[Devices]\nItem0=" + name + "\n[" + name +
              "]\nDeviceName=" + name + "\nDeviceSerialNo=" + serial.toUtf8() +
              "\nFileFiltersCheckBox=0\nDateFormat=yyyy-mm-dd\nCopyMode=1\nDestPath=" + destination.toUtf8() + "\n");
    return true;
}

qsizetype CountFiles(const QString &folder)
{
    qsizetype n = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++n;
    }
    return n;
}

// One copy run through the window: the seconds from the click on Copy until
// the window is idle again, or a negative number when it failed.
double CopyThroughWindow(const QString &source, const QString &destination, qsizetype expectedFiles,
                         Heartbeat &heartbeat)
{
    qputenv("FERROVANE_FOLDER_DEVICES", QFile::encodeName(source));
    const QString name = QStringLiteral("Folder ") + QFileInfo(source).fileName();
    if (!WriteSettings(name, source, destination))
        return -1;
    const std::unique_ptr<DeviceService> devices = CreateSystemDeviceService();
    TForm1 form(*devices);
    form.show();
    const auto idle = [&form] { return FormProbe::Idle(form); };
    // Started: the device from the settings is listed.
    if (!WaitFor([&] { return idle() && FormProbe::StringGrid1(form)->Cells()->rowCount() > 1; }, 30000)) {
        std::printf("%s was not listed; the log ends:\n", qPrintable(source));
        const LogDocument &log = FormProbe::Log(form).Document();
        for (qsizetype i = qMax<qsizetype>(0, log.LineCount() - 8); i < log.LineCount(); ++i)
            std::printf("  %s\n", qPrintable(log.Line(i).text));
        return -1;
    }

    // Our folder and no other: another card on this machine is never copied.
    const DeviceConnection &chosen = FormProbe::Connection(form);
    const QStringList ours{FolderBackend::DeviceIdFor(source),
                           FolderBackend::DeviceIdFor(QFileInfo(source).canonicalFilePath())};
    if (chosen.CurrentDeviceName != name || !ours.contains(chosen.CurrentDeviceID)) {
        std::printf("refusing to copy: the window has %s (%s) chosen, not %s\n", qPrintable(chosen.CurrentDeviceName),
                    qPrintable(chosen.CurrentDeviceID), qPrintable(name));
        return -1;
    }
    QElapsedTimer clock;
    clock.start();
    const double windowCpu = ThreadCpuSeconds();
    const double processCpu = ProcessCpuSeconds();
    heartbeat.Start();
    QPushButton *copy = FormProbe::CopyBitBtn(form);
    copy->click();
    const bool finished = WaitFor([&] { return !copy->isEnabled(); }, 10000) && WaitFor(idle, 600000);
    const double seconds = clock.nsecsElapsed() / 1e9;
    lastCpu.window = ThreadCpuSeconds() - windowCpu;
    lastCpu.others = ProcessCpuSeconds() - processCpu - lastCpu.window;
    heartbeat.Stop();
    form.close();
    const qsizetype copied = CountFiles(destination);
    if (!finished || copied != expectedFiles) {
        std::printf("%s: %lld of %lld files copied%s\n", qPrintable(source), static_cast<long long>(copied),
                    static_cast<long long>(expectedFiles), finished ? "" : ", the run did not end");
        return -1;
    }
    return seconds;
}

}  // namespace

int main(int argc, char *argv[])
{
    const WindowBenchFolders benchFolders;
    Application app(argc, argv);
    InitFormatSettingsFromSystem();
    SetProgramFolders();

    const QString root =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath() + QStringLiteral("/ferrovane-bench-copy");
    std::printf("test folder: %s (sources made once; %s)\n", qPrintable(root), qPrintable(LoadText()));
    if (!MakeSources(root)) {
        std::printf("could not make the sources\n");
        return 1;
    }

    Heartbeat heartbeat;
    if (argc > 2) {
        const QString only = QString::fromLocal8Bit(argv[2]);
        const QString dest = root + QStringLiteral("/out/ours-") + only;
        QDir(dest).removeRecursively();
        QDir().mkpath(dest);
        const double seconds = CopyThroughWindow(root + QLatin1Char('/') + only, dest,
                                                 only == QLatin1String("big") ? kBigFiles : kSmallFiles, heartbeat);
        std::printf("%s: %.3f s (CPU: window thread %.3f s, others %.3f s), longest block %lld ms\n", qPrintable(only),
                    seconds, lastCpu.window, lastCpu.others, static_cast<long long>(heartbeat.Longest()));
        QDir(dest).removeRecursively();
        return seconds < 0;
    }
    const auto throughWindow = [&heartbeat](qsizetype files) {
        return [&heartbeat, files](const QString &source, const QString &destination) {
            return CopyThroughWindow(source, destination, files, heartbeat);
        };
    };
    // Several rounds, each copier first in turn, the fastest of each counts:
    // one round swings several times over with the state of the disk.
    const Figures big = Compare(root, QStringLiteral("big"), 4, throughWindow(kBigFiles));
    const Figures small = Compare(root, QStringLiteral("small"), 6, throughWindow(kSmallFiles), true);
    if (big.ours < 0 || small.ours < 0) {
        std::printf("a copy failed\n");
        std::printf("targets (window: a >= 0.9x cp, b >= 0.6x cp, never blocked > 100 ms): MISSED\n");
        return 1;
    }
    const double bigMB = kBigFiles * kBigFile / 1e6;
    const double smallMB = kSmallFiles * kSmallFile / 1e6;
    const double bigRatio = big.cp / big.ours;
    const double smallRatio = small.cp / small.ours;
    std::printf("(a) window, %d files, %.0f MB: ours %.3f s (%.0f MB/s); cp -r %.3f s (%.0f MB/s); %.2fx of cp\n",
                kBigFiles, bigMB, big.ours, bigMB / big.ours, big.cp, bigMB / big.cp, bigRatio);
    std::printf("(b) window, %d files, %.0f MB: ours %.3f s (%.0f files/s); cp -r %.3f s (%.0f files/s); %.2fx of cp\n",
                kSmallFiles, smallMB, small.ours, kSmallFiles / small.ours, small.cp, kSmallFiles / small.cp,
                smallRatio);
    std::printf("longest event-loop block while copying: %lld ms\n", static_cast<long long>(heartbeat.Longest()));
    std::printf("(minima of alternated rounds; %s at the end)\n", qPrintable(LoadText()));
    const bool ok = bigRatio >= 0.9 && smallRatio >= 0.6 && heartbeat.Longest() <= 100;
    std::printf("targets (window: a >= 0.9x cp, b >= 0.6x cp, never blocked > 100 ms): %s\n", ok ? "met" : "MISSED");
    return 0;
}
