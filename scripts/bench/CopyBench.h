#pragma once

// What the copy benchmarks share: the source trees, made once, a copy
// through the real walk and transfer decision, and the comparison with cp -r
// of the same tree in the same run.

#include "base/RunState.h"
#include "catalogue/ContentWalk.h"
#include "copy/TransferDecision.h"
#include "copy/TransferEvents.h"
#include "device/DeviceConnection.h"
#include "device/FolderBackend.h"
#include "log/LogSink.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace copybench {

constexpr int kBigFiles = 4;
constexpr qint64 kBigFile = 256ll << 20;
constexpr int kSmallFiles = 5000;
constexpr int kSmallFolders = 10;
constexpr qint64 kSmallFile = 20000;
// Written with real bytes, so that the memory check copies them all.
constexpr qint64 kHugeFile = 2500ll * 1000 * 1000;

inline bool WriteFile(const QString &path, qint64 size, int seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < block.size(); ++i)
        block[i] = char(i * 31 + seed);
    for (qint64 written = 0; written < size;) {
        const qint64 n = std::min<qint64>(block.size(), size - written);
        if (file.write(block.constData(), n) != n)
            return false;
        written += n;
    }
    return true;
}

inline bool MakeSources(const QString &root)
{
    // Sources of earlier versions had a huge file made only of holes.
    if (QFile::exists(root + QStringLiteral("/.complete-real")))
        return true;
    QDir(root).removeRecursively();
    if (!QDir().mkpath(root + QStringLiteral("/big/DCIM")) || !QDir().mkpath(root + QStringLiteral("/huge")))
        return false;
    for (int i = 0; i < kBigFiles; ++i)
        if (!WriteFile(root + QStringLiteral("/big/DCIM/MVI_%1.MOV").arg(i), kBigFile, i))
            return false;
    for (int f = 0; f < kSmallFolders; ++f) {
        const QString folder = root + QStringLiteral("/small/DCIM/%1CANON").arg(100 + f);
        if (!QDir().mkpath(folder))
            return false;
        for (int i = 0; i < kSmallFiles / kSmallFolders; ++i)
            if (!WriteFile(folder + QStringLiteral("/IMG_%1.JPG").arg(f * 1000 + i, 5, 10, QLatin1Char('0')),
                           kSmallFile, i))
                return false;
    }
    if (!WriteFile(root + QStringLiteral("/huge/HUGE.MOV"), kHugeFile, 7))
        return false;
    QFile marker(root + QStringLiteral("/.complete-real"));
    return marker.open(QIODevice::WriteOnly);
}

class QuietLog : public LogSink
{
public:
    void WriteLog(const QString &text, LogColor color, LogStyle style) override
    {
        if (style == LogStyle::Bold && color == LogColor::Red)
            std::printf("%s\n", qPrintable(text));
    }
    void WriteLogNoDate(const QString &, LogColor, LogStyle) override {}
};

class BenchHost : public WalkSink, public TransferEvents
{
public:
    void AppendRow(const CatalogueGrid::Row &, bool) override {}
    void UpdateUI() override {}
    void SelectCatalogueRow(const QString &) override {}
    void RemoveCatalogueRow(const QString &) override {}
    void ShowErrorMessage(const QString &) override {}
    QString destination;
    bool byteLevel = false;
};

struct DecisionOptions
{
    bool byteLevel = false;  // Byte Level File Comparison
    QString recordPath;      // the import record's file; empty: none kept
};

// Copies the folder device at source into destination; the seconds taken
// (the record's last write included), or a negative number when something
// failed.
inline double CopyThroughDecision(const QString &source, const QString &destination, RunState &run,
                                  const DecisionOptions &options = {})
{
    QuietLog log;
    auto service = CreateBackendService({std::make_shared<FolderBackend>([source] { return QStringList{source}; })});
    DeviceConnection connection(*service, log);
    if (!connection.OpenDevice(FolderBackend::DeviceIdFor(source), true))
        return -1;
    BenchHost host;
    host.destination = destination;
    host.byteLevel = options.byteLevel;
    TransferDecision decision(connection, run, log, host, {});
    TransferSettings settings;
    settings.Destination = host.destination;
    settings.DateFormat = QStringLiteral("yyyy-mm-dd");
    settings.ByteLevel = host.byteLevel;
    decision.SetSettings(settings);
    decision.SetImportRecordPath(options.recordPath);
    ContentWalk walk(connection.Handles(), run, log, host);
    walk.SetSettings({QString(), {false, {}}, 1});
    walk.SetTransferTarget(&decision);
    walk.ResetTotals();
    walk.ResetWalk();
    QElapsedTimer clock;
    clock.start();
    walk.EnumerateContent(connection.Handles().aPortableDeviceContent.get(), QStringLiteral("DEVICE"), false, -1);
    decision.EndRecord();
    const double seconds = clock.nsecsElapsed() / 1e9;
    return run.ErrorCount ? -1 : seconds;
}

inline double TimeCommand(const QString &shellCommand)
{
    QElapsedTimer clock;
    clock.start();
    QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), shellCommand});
    return clock.nsecsElapsed() / 1e9;
}

inline QString Quoted(const QString &path)
{
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

struct Figures
{
    double ours = 1e9;
    double cp = 1e9;
};

// The copier copies source into destination and returns the seconds taken,
// or a negative number when something failed.
using Copier = std::function<double(const QString &source, const QString &destination)>;

// With fresh, each round copies into folders of its own, all removed only
// at the end: ext4 creates files slowly for minutes after thousands were
// deleted, and a set of many files would meet that in every round after
// the first. Without it (a few big files) both outputs go before each round.
inline Figures Compare(const QString &root, const QString &name, int runs, const Copier &copier, bool fresh = false)
{
    Figures f;
    const QString source = root + QLatin1Char('/') + name;
    const QString outputs = root + QStringLiteral("/out/") + name;
    TimeCommand(QStringLiteral("cat -- $(find %1 -type f) >/dev/null").arg(Quoted(source)));
    QDir(outputs).removeRecursively();
    // Neither copier may profit from where it stands: on this kind of
    // virtual machine a copy made while the other's output still fills the
    // page cache has to take pages the host never gave out before and can
    // run at a tenth of its speed. So the two take turns at going first,
    // and the best run of each counts.
    for (int run = 0; run < runs; ++run) {
        const QString suffix = fresh ? QStringLiteral("-%1").arg(run) : QString();
        const QString ourDest = outputs + QStringLiteral("/ours") + suffix;
        const QString cpDest = outputs + QStringLiteral("/cp") + suffix;
        QDir(ourDest).removeRecursively();
        QDir(cpDest).removeRecursively();
        QDir().mkpath(outputs);
        TimeCommand(QStringLiteral("sync"));
        double cp = 0;
        const auto copyCp = [&] {
            cp = TimeCommand(QStringLiteral("cp -r %1 %2").arg(Quoted(source), Quoted(cpDest)));
            f.cp = std::min(f.cp, cp);
            TimeCommand(QStringLiteral("sync"));
        };
        if (run % 2 == 0)
            copyCp();
        QDir().mkpath(ourDest);
        const double ours = copier(source, ourDest);
        if (ours < 0) {
            f.ours = -1;
            return f;
        }
        TimeCommand(QStringLiteral("sync"));
        if (run % 2 == 1)
            copyCp();
        f.ours = std::min(f.ours, ours);
        std::printf("   %s round %d (%s first): ours %.3f s, cp -r %.3f s\n", qPrintable(name), run + 1,
                    run % 2 ? "ours" : "cp", ours, cp);
        if (!fresh) {
            QDir(ourDest).removeRecursively();
            QDir(cpDest).removeRecursively();
        }
    }
    QDir(outputs).removeRecursively();
    return f;
}

}  // namespace copybench
