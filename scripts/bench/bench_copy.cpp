// Copies folder devices through the real walk and transfer decision into a
// destination on the same disk, beside cp -r of the same tree in the same
// run: (a) 1 GiB in four files, (b) 5,000 files of 20 KB; and watches the
// memory while one file of 2.5 GB of real bytes (no holes) is copied.
//
//   bench_copy [FOLDER [CASE]]   (sources made once; default: $TMPDIR/ferrovane-bench-copy;
//                                 CASE big, small or huge runs that one alone, for profiling)

#include "CopyBench.h"
#include "PeakMemory.h"

#include "base/FormatSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

using namespace copybench;

namespace {

long CurrentMemoryKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // As the program starts: the regional settings, and the time zone file
    // read once instead of looked at again for every date.
    InitFormatSettingsFromSystem();
    const QString root =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath() + QStringLiteral("/ferrovane-bench-copy");
    std::printf("test folder: %s (sources made once; %s)\n", qPrintable(root), qPrintable(LoadText()));
    if (!MakeSources(root)) {
        std::printf("could not make the sources\n");
        return 1;
    }

    if (argc > 2) {
        const QString only = QString::fromLocal8Bit(argv[2]);
        RunState state;
        const QString dest = root + QStringLiteral("/out/ours-") + only;
        QDir(dest).removeRecursively();
        QDir().mkpath(dest);
        const double cpu = ProcessCpuSeconds();
        const double seconds = CopyThroughDecision(root + QLatin1Char('/') + only, dest, state);
        std::printf("%s: %.3f s (CPU %.3f s)\n", qPrintable(only), seconds, ProcessCpuSeconds() - cpu);
        QDir(dest).removeRecursively();
        return seconds < 0;
    }

    // Memory first, while the peak still belongs to this copy alone.
    const long idle = CurrentMemoryKiB();
    RunState hugeRun;
    const QString hugeDest = root + QStringLiteral("/out/ours-huge");
    QDir(hugeDest).removeRecursively();
    QDir().mkpath(hugeDest);
    const double hugeSeconds = CopyThroughDecision(root + QStringLiteral("/huge"), hugeDest, hugeRun);
    const long peak = PeakMemoryKiB();
    // What the copy holds on the disk, not only its length: a file of holes
    // would be copied in no time and prove nothing about the memory.
    struct stat hugeCopy
    {
    };
    const bool hugeThere =
        ::stat(QFile::encodeName(hugeDest + QStringLiteral("/HUGE.MOV")).constData(), &hugeCopy) == 0;
    const double hugeWrittenGB = hugeThere ? double(hugeCopy.st_blocks) * 512 / 1e9 : 0;
    const bool hugeOk = hugeSeconds >= 0 && hugeThere && hugeCopy.st_size == kHugeFile && hugeWrittenGB >= 2.0;
    QDir(hugeDest).removeRecursively();
    const double aboveIdleMB = (peak - idle) / 1024.0;

    // Even numbers of runs: each copier goes first as often as second.
    const Copier ours = [](const QString &source, const QString &destination) {
        RunState state;
        return CopyThroughDecision(source, destination, state);
    };
    const Figures big = Compare(root, QStringLiteral("big"), 2, ours);
    const Figures small = Compare(root, QStringLiteral("small"), 4, ours, true);
    if (big.ours < 0 || small.ours < 0 || !hugeOk) {
        std::printf(hugeOk ? "a copy failed\n" : "the huge copy failed or holds less than 2 GB (%.2f GB)\n",
                    hugeWrittenGB);
        std::printf("targets (a >= 0.9x cp, b >= 0.6x cp, memory < 50 MB above idle): MISSED\n");
        return 1;
    }
    const double bigMB = kBigFiles * kBigFile / 1e6;
    const double smallMB = kSmallFiles * kSmallFile / 1e6;
    const double bigRatio = big.cp / big.ours;  // throughput relative to cp
    const double smallRatio = small.cp / small.ours;
    std::printf("(a) %d files, %.0f MB: ours %.3f s (%.0f MB/s); cp -r %.3f s (%.0f MB/s); %.2fx of cp\n", kBigFiles,
                bigMB, big.ours, bigMB / big.ours, big.cp, bigMB / big.cp, bigRatio);
    std::printf("(b) %d files, %.0f MB: ours %.3f s (%.0f files/s); cp -r %.3f s (%.0f files/s); %.2fx of cp\n",
                kSmallFiles, smallMB, small.ours, kSmallFiles / small.ours, small.cp, kSmallFiles / small.cp,
                smallRatio);
    std::printf("memory: one file of %.1f GB copied in %.1f s (%.2f GB written), peak %.1f MB above idle\n",
                kHugeFile / 1e9, hugeSeconds, hugeWrittenGB, aboveIdleMB);
    std::printf("(minima of alternated rounds; %s at the end)\n", qPrintable(LoadText()));
    const bool ok = bigRatio >= 0.9 && smallRatio >= 0.6 && aboveIdleMB < 50;
    std::printf("targets (a >= 0.9x cp, b >= 0.6x cp, memory < 50 MB above idle): %s\n", ok ? "met" : "MISSED");
    return 0;
}
