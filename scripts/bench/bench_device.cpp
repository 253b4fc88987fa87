// Lists a folder device of 20,000 files through the real drive backend and
// reads a 1 GB file through it in 131072-byte chunks; beside each, the same
// work done by find (with stat) and cat on the same folder in the same run.
//
//   bench_device [FOLDER [CASE]]   (made once; default: $TMPDIR/ferrovane-bench-device;
//                                   CASE list runs the listing alone, many times, for profiling)

#include "PeakMemory.h"

#include "device/DeviceSession.h"
#include "device/FolderBackend.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kFiles = 20000;
constexpr int kFolders = 100;
constexpr qint64 kBigFile = 1ll << 30;

bool MakeTree(const QString &root)
{
    if (QFile::exists(root + QStringLiteral("/.complete")))
        return true;
    QDir(root).removeRecursively();
    for (int f = 0; f < kFolders; ++f) {
        const QString folder = root + QStringLiteral("/DCIM/%1CANON").arg(100 + f);
        if (!QDir().mkpath(folder))
            return false;
        for (int i = 0; i < kFiles / kFolders; ++i) {
            QFile file(folder + QStringLiteral("/IMG_%1.JPG").arg(f * 1000 + i, 5, 10, QLatin1Char('0')));
            if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(512, 'j')) != 512)
                return false;
        }
    }
    QFile big(root + QStringLiteral("/BIG.MOV"));
    if (!big.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < block.size(); ++i)
        block[i] = char(i * 31);
    for (qint64 written = 0; written < kBigFile; written += block.size())
        if (big.write(block) != block.size())
            return false;
    big.close();
    QFile marker(root + QStringLiteral("/.complete"));
    return marker.open(QIODevice::WriteOnly);
}

double TimeCommand(const QString &shellCommand)
{
    QElapsedTimer clock;
    clock.start();
    QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), shellCommand});
    return clock.nsecsElapsed() / 1e9;
}

qint64 Walk(IPortableDeviceContent &content, IPortableDeviceProperties &properties, const QString &id)
{
    std::shared_ptr<IEnumPortableDeviceObjectIDs> children;
    if (FAILED(content.EnumObjects(0, id, children)))
        return 0;
    qint64 count = 0;
    QString child;
    std::shared_ptr<PortableDeviceKeyCollection> keys;
    std::shared_ptr<PortableDeviceValues> values;
    while (children->Next(child) == S_OK) {
        properties.GetSupportedProperties(child, keys);
        properties.GetValues(child, keys.get(), values);
        count += 1 + Walk(content, properties, child);
    }
    return count;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                  : QDir::tempPath() + QStringLiteral("/ferrovane-bench-device");
    std::printf("test folder: %s (made once; load average %.1f)\n", qPrintable(root), LoadAverage());
    if (!MakeTree(root)) {
        std::printf("could not make the test folder\n");
        return 1;
    }
    const QString quoted = QLatin1Char('\'') + root + QLatin1Char('\'');

    auto service = CreateBackendService({std::make_shared<FolderBackend>([root] { return QStringList{root}; })});
    auto device = service->CreateDevice();
    std::shared_ptr<IPortableDeviceContent> content;
    std::shared_ptr<IPortableDeviceProperties> properties;
    if (device->Open(FolderBackend::DeviceIdFor(root), nullptr) != S_OK || device->Content(content) != S_OK ||
        content->Properties(properties) != S_OK) {
        std::printf("could not open the folder device\n");
        return 1;
    }

    if (argc > 2 && QByteArray(argv[2]) == "list") {
        QElapsedTimer clock;
        double best = 1e9, bestCpu = 1e9;
        qint64 objects = 0;
        for (int run = 0; run < 20; ++run) {
            const double cpu = ProcessCpuSeconds();
            clock.restart();
            objects = Walk(*content, *properties, QStringLiteral("DEVICE"));
            best = std::min(best, clock.nsecsElapsed() / 1e9);
            bestCpu = std::min(bestCpu, ProcessCpuSeconds() - cpu);
        }
        std::printf("listing: %lld objects, best of 20: %.3f s, CPU %.3f s\n", static_cast<long long>(objects), best,
                    bestCpu);
        return 0;
    }

    // Each figure is the best of three runs, both sides from warm caches:
    // this machine's timings wander.
    constexpr int kRuns = 3;
    const QString findCommand = QStringLiteral("find %1 -printf '%s %T@\\n' >/dev/null").arg(quoted);
    TimeCommand(findCommand);
    double findSeconds = 1e9, listSeconds = 1e9;
    qint64 objects = 0;
    QElapsedTimer clock;
    for (int run = 0; run < kRuns; ++run) {
        findSeconds = std::min(findSeconds, TimeCommand(findCommand));
        clock.restart();
        objects = Walk(*content, *properties, QStringLiteral("DEVICE"));
        listSeconds = std::min(listSeconds, clock.nsecsElapsed() / 1e9);
    }

    const QString catCommand = QStringLiteral("cat %1/BIG.MOV >/dev/null").arg(quoted);
    TimeCommand(catCommand);
    std::shared_ptr<IPortableDeviceResources> resources;
    content->Transfer(resources);
    const QString bigId = QLatin1Char('/') + QFileInfo(root).fileName() + QStringLiteral("/BIG.MOV");
    QByteArray buffer(kTransferChunkSize, Qt::Uninitialized);
    double catSeconds = 1e9, readSeconds = 1e9;
    std::uint64_t total = 0;
    for (int run = 0; run < kRuns; ++run) {
        catSeconds = std::min(catSeconds, TimeCommand(catCommand));
        std::shared_ptr<IStream> stream;
        if (resources->GetStream(bigId, WPD_RESOURCE_DEFAULT, STGM_READ, stream) != S_OK) {
            std::printf("could not open the big file\n");
            return 1;
        }
        std::uint32_t read = 0;
        total = 0;
        clock.restart();
        while (stream->Read(buffer.data(), kTransferChunkSize, &read) == S_OK && read > 0)
            total += read;
        readSeconds = std::min(readSeconds, clock.nsecsElapsed() / 1e9);
    }
    const double mb = total / 1e6;

    std::printf("listing: %lld objects in %.3f s (%.0f objects/s); find with stat: %.3f s; ratio %.2fx\n",
                static_cast<long long>(objects), listSeconds, objects / listSeconds, findSeconds,
                listSeconds / findSeconds);
    std::printf("reading: %.0f MB in %.3f s (%.0f MB/s); cat: %.3f s (%.0f MB/s); ratio %.2fx\n", mb, readSeconds,
                mb / readSeconds, catSeconds, mb / catSeconds, readSeconds / catSeconds);
    std::printf("peak memory: %.1f MB\n", PeakMemoryKiB() / 1024.0);
    const bool ok = listSeconds <= 1.5 * findSeconds && readSeconds <= 1.25 * catSeconds && total == quint64(kBigFile);
    std::printf("targets (listing within 1.5x of find, reading within 1.25x of cat): %s\n", ok ? "met" : "MISSED");
    return 0;
}
