// What proving files costs, on bench-copy's two sets (1 GiB in four files;
// 5,000 files of 20 KB):
//  1. a re-run with Byte Level File Comparison over a destination that holds
//     every file (no import record), beside rsync -a --checksum over the same
//     up-to-date pair; with the bytes the re-run wrote and read from the
//     device;
//  2. a fresh copy with the import record kept and without it;
//  3. a re-run over 5,000 imported files through the real command line, the
//     record proving them, beside an earlier program that took a file of the
//     same size as present (given as OLD_FERROVANE; left out without it);
//  4. the fresh copy of the 1 GiB set, hashed on its way, beside cp -r.
// Every figure is the best of several rounds taken in turns, with the load
// average of the machine beside it.
//
//   bench_proof FOLDER FERROVANE [OLD_FERROVANE]   (sources made once in FOLDER)
//   bench_proof FOLDER --once big|small full|record|plain
//     one run alone, for profiling: the Byte Level re-run over a full
//     destination (kept for the next time), or a fresh copy with the record
//     or without it (into a new folder each time, removed by the next full run)

#include "CopyBench.h"
#include "PeakMemory.h"

#include "base/FormatSettings.h"
#include "copy/ImportRecord.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QProcessEnvironment>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

using namespace copybench;

namespace {

struct Io
{
    qint64 rchar = 0, readBytes = 0, writeBytes = 0;
};

// This process's I/O so far (/proc/self/io): bytes asked of read(), and
// bytes that went to and came from the disk.
Io ProcessIo()
{
    Io io;
    QFile file(QStringLiteral("/proc/self/io"));
    if (!file.open(QIODevice::ReadOnly))
        return io;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(':');
        const qint64 value = parts.value(1).trimmed().toLongLong();
        if (parts.value(0) == "rchar")
            io.rchar = value;
        else if (parts.value(0) == "read_bytes")
            io.readBytes = value;
        else if (parts.value(0) == "write_bytes")
            io.writeBytes = value;
    }
    return io;
}

QStringList FilesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

// Reads every file below folder into the page cache.
void Warm(const QString &folder)
{
    TimeCommand(QStringLiteral("find %1 -type f -exec cat {} + >/dev/null").arg(Quoted(folder)));
}

// Drops every (clean) file below folder from the page cache.
void Evict(const QString &folder)
{
    for (const QString &path : FilesBelow(folder)) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

void RemoveRecord(const QString &path)
{
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

struct Set
{
    QString name;
    int files;
    qint64 bytes;
    int rounds;
};

const char *Verdict(bool ok)
{
    return ok ? "met" : "MISSED";
}

// Outputs of many files, removed when every figure is taken: ext4 without a
// journal looks at every inode freed in the last minutes before it hands out
// a new one, so files are created several times slower for a while after
// thousands were deleted. A folder of few files goes at once.
QStringList leftovers;
void Leave(const QString &folder)
{
    leftovers << folder;
}

// 1. Our re-run with Byte Level over a full destination against rsync
// --checksum over the same pair.
bool CompareFull(const QString &root, const Set &set)
{
    const QString source = root + QLatin1Char('/') + set.name;
    const QString dest = root + QStringLiteral("/out/full-") + set.name;
    QDir(dest).removeRecursively();
    QDir().mkpath(dest);
    RunState first;
    if (CopyThroughDecision(source, dest, first) < 0 || first.FilesCopied != set.files) {
        std::printf("1. %s: the first copy failed\n", qPrintable(set.name));
        return false;
    }
    const QString rsync = QStringLiteral("rsync -a --checksum %1/ %2/").arg(Quoted(source), Quoted(dest));
    // rsync sets the times and modes its way once; after that the pair is
    // up to date for both.
    TimeCommand(rsync);
    TimeCommand(QStringLiteral("sync"));

    // What the re-run reads and writes: the device's files out of the page
    // cache and the destination's in it, so the disk reads are the device's.
    Evict(source);
    Warm(dest);
    const Io before = ProcessIo();
    RunState counted;
    const double coldSeconds = CopyThroughDecision(source, dest, counted, {true, {}});
    const Io after = ProcessIo();
    const bool countedOk = coldSeconds >= 0 && counted.FilesExisting == set.files && counted.FilesCopied == 0;

    double ours = 1e9, theirs = 1e9;
    bool ok = countedOk;
    Warm(source);
    Warm(dest);
    for (int round = 0; round < set.rounds && ok; ++round) {
        const auto runRsync = [&] { theirs = std::min(theirs, TimeCommand(rsync)); };
        if (round % 2 == 1)
            runRsync();
        RunState run;
        const double seconds = CopyThroughDecision(source, dest, run, {true, {}});
        ok = seconds >= 0 && run.FilesExisting == set.files && run.FilesCopied == 0;
        ours = std::min(ours, seconds);
        if (round % 2 == 0)
            runRsync();
    }
    const double load = LoadAverage();
    if (set.files > 100)
        Leave(dest);
    else
        QDir(dest).removeRecursively();
    if (!ok) {
        std::printf("1. %s: the re-run did not find every file present\n", qPrintable(set.name));
        return false;
    }
    const double ratio = ours / theirs;
    std::printf("1. %s (%d files, %.0f MB), Byte Level re-run over a full destination: ours %.3f s, "
                "rsync -a --checksum %.3f s: %.2fx of rsync's time (target <= 1.3x: %s; load %.1f)\n",
                qPrintable(set.name), set.files, set.bytes / 1e6, ours, theirs, ratio, Verdict(ratio <= 1.3), load);
    std::printf("   with the device's files out of the cache: %.3f s; written %.1f MB, read from the disk %.1f MB "
                "(the device holds %.1f MB), read() in all %.1f MB\n",
                coldSeconds, (after.writeBytes - before.writeBytes) / 1e6, (after.readBytes - before.readBytes) / 1e6,
                set.bytes / 1e6, (after.rchar - before.rchar) / 1e6);
    return ratio <= 1.3;
}

// 2. A fresh copy with the import record and without it, each into a folder
// of its own. The record is made beforehand and kept from copy to copy, as a
// user's is: making the database is a cost of the first run ever.
bool RecordCost(const QString &root, const Set &set)
{
    const QString source = root + QLatin1Char('/') + set.name;
    const QString record = root + QStringLiteral("/out/record.sqlite");
    const bool many = set.files > 100;
    Warm(source);
    RemoveRecord(record);
    bool ok = ImportRecord().Open(record);
    double with = 1e9, without = 1e9;
    for (int round = 0; round < set.rounds && ok; ++round) {
        for (int turn = 0; turn < 2 && ok; ++turn) {
            const bool keep = (round + turn) % 2 == 1;
            const QString dest = root + QStringLiteral("/out/fresh-%1-%2-%3").arg(set.name).arg(round).arg(turn);
            QDir(dest).removeRecursively();
            TimeCommand(QStringLiteral("sync"));
            QDir().mkpath(dest);
            RunState run;
            const double seconds = CopyThroughDecision(source, dest, run, {false, keep ? record : QString()});
            ok = seconds >= 0 && run.FilesCopied == set.files;
            (keep ? with : without) = std::min(keep ? with : without, seconds);
            TimeCommand(QStringLiteral("sync"));
            if (many)
                Leave(dest);
            else
                QDir(dest).removeRecursively();
        }
    }
    const double load = LoadAverage();
    RemoveRecord(record);
    if (!ok) {
        std::printf("2. %s: a copy failed\n", qPrintable(set.name));
        return false;
    }
    const double ratio = with / without;
    std::printf("2. %s, fresh copy (Byte Level off): with the import record %.3f s, without %.3f s: %+.1f%% "
                "(target <= +5%%: %s; load %.1f)\n",
                qPrintable(set.name), with, without, (ratio - 1) * 100, Verdict(ratio <= 1.05), load);
    return ratio <= 1.05;
}

// One program as a user runs it, with its own home and settings, offered the
// small set as its only device.
struct CommandLine
{
    QString exe, home, dest, mountinfo, device, name, serial;

    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *gone : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(gone));
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
        env.insert(QStringLiteral("FERROVANE_FOLDER_DEVICES"), device);
        env.insert(QStringLiteral("FERROVANE_NO_USB"), QStringLiteral("1"));
        env.insert(QStringLiteral("FERROVANE_MOUNTINFO"), mountinfo);
        return env;
    }
    // Runs it with arguments; the exit code (-1: it did not end normally) and
    // its standard output in out.
    int Run(const QStringList &arguments, QByteArray *out = nullptr) const
    {
        QProcess program;
        program.setProcessEnvironment(Environment());
        program.setStandardOutputFile(home + QStringLiteral("/stdout.txt"));
        program.setStandardErrorFile(home + QStringLiteral("/stderr.txt"));
        program.start(exe, arguments);
        if (!program.waitForFinished(600000) || program.exitStatus() != QProcess::NormalExit)
            return -1;
        if (out) {
            QFile file(home + QStringLiteral("/stdout.txt"));
            *out = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }
        return program.exitCode();
    }
    // --list, the settings file, and the first run that imports the set.
    bool Prepare()
    {
        QDir(home).removeRecursively();
        QDir(dest).removeRecursively();
        QDir().mkpath(dest);
        const QString data = home + QStringLiteral("/.config/Quillmoor/Ferrovane/");
        QDir().mkpath(data);
        QByteArray list;
        if (Run({QStringLiteral("--list")}, &list) != 0)
            return false;
        for (const QByteArray &line : list.split('\n')) {
            const QStringList fields = QString::fromUtf8(line).split(QLatin1Char('\t'));
            if (fields.size() >= 3 && fields.value(2) == QFileInfo(device).canonicalFilePath()) {
                name = fields.value(0);
                serial = fields.value(2);
            }
        }
        if (name.isEmpty())
            return false;
        QFile ini(data + QStringLiteral("Ferrovane.ini"));
        if (!ini.open(QIODevice::WriteOnly))
            return false;
        ini.write("[Ferrovane]\nDeviceCount=1\n[Devices]\nItem0=" + name.toUtf8() + "\n[" + name.toUtf8() +
                  "]\nDeviceName=" + name.toUtf8() + "\nDeviceSerialNo=" + serial.toUtf8() +
                  "\nFileFiltersCheckBox=0\nDateFormat=yyyy-mm-dd\nDestPath=" + dest.toUtf8() + "\n");
        ini.close();
        return Run({QStringLiteral("--copy"), name}) == 0;
    }
    // The seconds a re-run took, or a negative number when it failed.
    double ReRun(QByteArray *out) const
    {
        QElapsedTimer clock;
        clock.start();
        const int code = Run({QStringLiteral("--copy"), name}, out);
        const double seconds = clock.nsecsElapsed() / 1e9;
        return code == 0 ? seconds : -1;
    }
};

// 3. The second run over the imported small set: the new program proving
// files through the record, the old one taking them on their size.
bool CompareReRuns(const QString &root, const Set &set, const QString &newExe, const QString &oldExe)
{
    const QString mountinfo = root + QStringLiteral("/out/empty-mountinfo");
    QFile empty(mountinfo);
    if (!empty.open(QIODevice::WriteOnly))
        return false;
    empty.close();
    const QString device = root + QLatin1Char('/') + set.name;
    CommandLine now{newExe,
                    root + QStringLiteral("/out/cli-new"),
                    root + QStringLiteral("/out/cli-new-dest"),
                    mountinfo,
                    device,
                    {},
                    {}};
    CommandLine before{oldExe,
                       root + QStringLiteral("/out/cli-old"),
                       root + QStringLiteral("/out/cli-old-dest"),
                       mountinfo,
                       device,
                       {},
                       {}};
    if (!now.Prepare() || !before.Prepare()) {
        std::printf("3. the first (importing) run of %s failed\n",
                    qPrintable(now.name.isEmpty() || now.serial.isEmpty() ? now.exe : before.exe));
        return false;
    }
    if (FilesBelow(now.dest).size() != set.files || FilesBelow(before.dest).size() != set.files) {
        std::printf("3. the first runs did not copy every file\n");
        return false;
    }
    TimeCommand(QStringLiteral("sync"));
    Warm(device);
    double newSeconds = 1e9, oldSeconds = 1e9;
    qsizetype recordProofs = 0;
    for (int round = 0; round < set.rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool isNew = (round + turn) % 2 == 0;
            QByteArray out;
            const double seconds = (isNew ? now : before).ReRun(&out);
            if (seconds < 0) {
                std::printf("3. a re-run of the %s program failed\n", isNew ? "new" : "old");
                return false;
            }
            if (isNew)
                recordProofs = out.count("Proof: the import record names this file");
            (isNew ? newSeconds : oldSeconds) = std::min(isNew ? newSeconds : oldSeconds, seconds);
        }
    }
    const double load = LoadAverage();
    Leave(now.dest);
    Leave(before.dest);
    const double ratio = newSeconds / oldSeconds;
    const bool ok = ratio <= 1.2 && recordProofs == set.files;
    std::printf("3. re-run over %d imported files through --copy: new (the import record) %.3f s, "
                "before (same size) %.3f s: %.2fx (target <= 1.2x: %s; load %.1f); files proven by the record: %lld\n",
                set.files, newSeconds, oldSeconds, ratio, Verdict(ok), load, qlonglong(recordProofs));
    return ok;
}

// One run alone, for a profiler.
int Once(const QString &root, const QString &set, const QString &what)
{
    if (!MakeSources(root))
        return 1;
    const QString source = root + QLatin1Char('/') + set;
    RunState run;
    double seconds = -1;
    if (what == QLatin1String("full")) {
        const QString dest = root + QStringLiteral("/out/full-") + set;
        if (!QFileInfo::exists(dest)) {
            QDir().mkpath(dest);
            RunState first;
            if (CopyThroughDecision(source, dest, first) < 0)
                return 1;
        }
        seconds = CopyThroughDecision(source, dest, run, {true, {}});
    } else {
        // A new folder every time, left for the next full run to remove
        // (see leftovers).
        QString dest;
        for (int n = 0; dest.isEmpty() || QFileInfo::exists(dest); ++n)
            dest = root + QStringLiteral("/out/once-%1-%2").arg(set).arg(n);
        const QString record = root + QStringLiteral("/out/record.sqlite");
        RemoveRecord(record);
        QDir().mkpath(dest);
        seconds = CopyThroughDecision(source, dest, run, {false, what == QLatin1String("record") ? record : QString()});
    }
    std::printf("%s %s: %.3f s (CPU %.3f s; %d copied, %d present; load %.1f)\n", qPrintable(set), qPrintable(what),
                seconds, ProcessCpuSeconds(), int(run.FilesCopied), int(run.FilesExisting), LoadAverage());
    return seconds < 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    InitFormatSettingsFromSystem();
    if (argc < 3) {
        std::printf("usage: bench_proof FOLDER FERROVANE [OLD_FERROVANE]\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    if (argc > 4 && qstrcmp(argv[2], "--once") == 0)
        return Once(root, QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]));
    const QString newExe = QString::fromLocal8Bit(argv[2]);
    const QString oldExe = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    std::printf("test folder: %s (sources made once; load average %.1f)\n", qPrintable(root), LoadAverage());
    if (!MakeSources(root)) {
        std::printf("could not make the sources\n");
        return 1;
    }
    QDir().mkpath(root + QStringLiteral("/out"));
    const Set big{QStringLiteral("big"), kBigFiles, kBigFiles * kBigFile, 6};
    const Set small{QStringLiteral("small"), kSmallFiles, kSmallFiles * kSmallFile, 6};

    bool ok = true;
    // Nothing of many files is deleted before the end; still, start it when
    // no thousands of files were deleted on this disk in the last minutes.
    ok = RecordCost(root, small) && ok;
    ok = RecordCost(root, big) && ok;
    ok = CompareFull(root, big) && ok;
    ok = CompareFull(root, small) && ok;
    if (oldExe.isEmpty())
        std::printf("3. not measured: no earlier program given\n");
    else
        ok = CompareReRuns(root, small, newExe, oldExe) && ok;

    const Copier ours = [](const QString &source, const QString &destination) {
        RunState state;
        return CopyThroughDecision(source, destination, state);
    };
    const Figures hashed = Compare(root, QStringLiteral("big"), 2, ours);
    if (hashed.ours < 0) {
        std::printf("4. the copy failed\n");
        return 1;
    }
    const double mb = big.bytes / 1e6;
    std::printf("4. big, fresh copy hashed on its way: ours %.3f s (%.0f MB/s), cp -r %.3f s (%.0f MB/s): "
                "%.2fx of cp's throughput (reported; load %.1f)\n",
                hashed.ours, mb / hashed.ours, hashed.cp, mb / hashed.cp, hashed.cp / hashed.ours, LoadAverage());
    for (const QString &folder : QDir(root + QStringLiteral("/out")).entryList({QStringLiteral("once-*")}, QDir::Dirs))
        leftovers << root + QStringLiteral("/out/") + folder;
    for (const QString &folder : leftovers)
        QDir(folder).removeRecursively();
    std::printf("targets (1. <= 1.3x rsync, 2. record <= +5%%, 3. <= 1.2x the earlier re-run): %s\n",
                ok ? "met" : "MISSED");
    return ok ? 0 : 1;
}
