// Copies bench-copy's folder devices through the real walk and transfer
// decision to one destination, and to the destination and a backup path
// (two destinations, the device read once), beside cp -r to each in turn:
// (a) 1 GiB in four files, (b) 5,000 files of 20 KB. Each run ends with the
// hash lists written. The kinds take turns at going first, every run starts
// with the outputs synced (the small files' in fresh folders, removed at the
// end), and the best run of each counts.
//
//   bench_backup [FOLDER [ROUNDS [big|small]]]   (sources made once; default: $TMPDIR/ferrovane-bench-copy;
//   with a set named, only that one is measured)

#include "CopyBench.h"
#include "PeakMemory.h"

#include "base/FormatSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace copybench;

namespace {

// Copies the folder device at source into the destinations (the first is
// the Destination Path, the others backup paths); the seconds taken, or a
// negative number when something failed.
double CopyToAll(const QString &source, const QStringList &destinations)
{
    QuietLog log;
    RunState run;
    auto service = CreateBackendService({std::make_shared<FolderBackend>([source] { return QStringList{source}; })});
    DeviceConnection connection(*service, log);
    if (!connection.OpenDevice(FolderBackend::DeviceIdFor(source), true))
        return -1;
    BenchHost host;
    TransferDecision decision(connection, run, log, host, {});
    TransferSettings settings;
    settings.Destination = destinations.front();
    settings.DateFormat = QStringLiteral("yyyy-mm-dd");
    settings.BackupPaths = destinations.mid(1);
    decision.SetSettings(settings);
    ContentWalk walk(connection.Handles(), run, log, host);
    walk.SetSettings({QString(), {false, {}}, 1});
    walk.SetTransferTarget(&decision);
    walk.ResetTotals();
    walk.ResetWalk();
    QElapsedTimer clock;
    clock.start();
    decision.BeginRun();
    walk.EnumerateContent(connection.Handles().aPortableDeviceContent.get(), QStringLiteral("DEVICE"), false, -1);
    decision.EndDestinations();
    const double seconds = clock.nsecsElapsed() / 1e9;
    return run.ErrorCount ? -1 : seconds;
}

struct Times
{
    double one = 1e9, two = 1e9, cpOne = 1e9, cpTwo = 1e9;
};

Times Measure(const QString &root, const QString &name, int rounds)
{
    Times t;
    const QString source = root + QLatin1Char('/') + name;
    // Many small files go into fresh folders removed only at the end: a
    // file system without a journal (ext4 so made) passes over inodes freed
    // in the last seconds when it makes a file, so thousands of files made
    // right after thousands removed cost many times their own price.
    const bool fresh = name == QStringLiteral("small");
    const QString out = root + QStringLiteral("/out/backup-");
    QStringList a;
    QStringList made;
    int runs = 0;
    auto clear = [&] {
        for (const QString &folder : a)
            if (!fresh)
                QDir(folder).removeRecursively();
        ++runs;
        a = QStringList{out + QStringLiteral("%1a").arg(runs), out + QStringLiteral("%1b").arg(runs)};
        made += a;
        TimeCommand(QStringLiteral("sync"));
        for (const QString &folder : a)
            QDir().mkpath(folder);
    };
    TimeCommand(QStringLiteral("cat -- $(find %1 -type f) >/dev/null").arg(Quoted(source)));
    auto ours = [&](int count, double &best) {
        clear();
        const double s = CopyToAll(source, a.mid(0, count));
        TimeCommand(QStringLiteral("sync"));
        best = s < 0 ? -1e9 : std::min(best, s);
    };
    auto cp = [&](int count, double &best) {
        clear();
        QString command;
        for (int i = 0; i < count; ++i)
            command += QStringLiteral("cp -r %1/. %2 && ").arg(Quoted(source), Quoted(a.at(i)));
        const double s = TimeCommand(command + QStringLiteral("true"));
        TimeCommand(QStringLiteral("sync"));
        best = std::min(best, s);
    };
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0) {
            ours(1, t.one);
            ours(2, t.two);
        } else {
            ours(2, t.two);
            ours(1, t.one);
        }
        cp(1, t.cpOne);
        cp(2, t.cpTwo);
    }
    for (const QString &folder : made)
        QDir(folder).removeRecursively();
    return t;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    InitFormatSettingsFromSystem();
    const QString root =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath() + QStringLiteral("/ferrovane-bench-copy");
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 4;
    std::printf("test folder: %s (sources made once); load average %.1f\n", qPrintable(root), LoadAverage());
    if (!MakeSources(root)) {
        std::printf("could not make the sources\n");
        return 1;
    }
    const QString only = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    const Times big =
        only == QStringLiteral("small") ? Times{1, 1, 0, 0} : Measure(root, QStringLiteral("big"), rounds);
    std::printf("load average %.1f\n", LoadAverage());
    const Times small =
        only == QStringLiteral("big") ? Times{1, 1, 0, 0} : Measure(root, QStringLiteral("small"), rounds);
    std::printf("load average %.1f\n", LoadAverage());
    if (big.one < 0 || big.two < 0 || small.one < 0 || small.two < 0) {
        std::printf("a copy failed\n");
        return 1;
    }
    const double bigRatio = big.two / big.one;
    const double smallRatio = small.two / small.one;
    std::printf("(a) %d files, %.0f MB: one destination %.3f s, two %.3f s (%.2fx); cp -r to one %.3f s, to two in "
                "turn %.3f s\n",
                kBigFiles, kBigFiles * kBigFile / 1e6, big.one, big.two, bigRatio, big.cpOne, big.cpTwo);
    std::printf("(b) %d files, %.0f MB: one destination %.3f s, two %.3f s (%.2fx); cp -r to one %.3f s, to two in "
                "turn %.3f s\n",
                kSmallFiles, kSmallFiles * kSmallFile / 1e6, small.one, small.two, smallRatio, small.cpOne,
                small.cpTwo);
    const bool ok = bigRatio <= 1.6 && smallRatio <= 1.8;
    std::printf("targets (a two <= 1.6x one, b two <= 1.8x one; best of %d alternated rounds): %s\n", rounds,
                ok ? "met" : "MISSED");
    return 0;
}
