#include "common/TestMain.h"
#include "copy/CopyTestSupport.h"

#include "base/FileNames.h"
#include "device/DeviceSession.h"
#include "device/FolderBackend.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using Pieces = QList<QPair<qint64, qint64>>;
using Names = QList<QByteArray>;

namespace {

// Files by their bytes: QFile would change a name that is not UTF-8.
bool WriteRaw(const QByteArray &path, const QByteArray &data, time_t mtime)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, data.constData(), size_t(data.size())) == data.size();
    const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ::futimens(fd, times);
    ::close(fd);
    return ok;
}

QByteArray ReadRaw(const QByteArray &path)
{
    QFile f;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return "(missing)";
    return f.readAll();
}

Names ListRaw(const QByteArray &folder)
{
    Names names;
    if (DIR *d = ::opendir(folder.constData())) {
        while (const dirent *e = ::readdir(d))
            if (qstrcmp(e->d_name, ".") != 0 && qstrcmp(e->d_name, "..") != 0)
                names << QByteArray(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// Copies from a folder device, whose streams hand over their descriptor and
// are copied inside the kernel, and the ordinary loop taking over when that
// copy fails.
class TestLocalCopy : public QObject
{
    Q_OBJECT

private:
    static constexpr qint64 kChunk = StreamTransfer::kInKernelChunkSize;

    QTemporaryDir sourceParent_;
    QTemporaryDir dest_;
    QString card_;
    std::unique_ptr<DeviceService> service_;
    MemoryLog log_;
    std::unique_ptr<DeviceConnection> connection_;
    std::unique_ptr<StreamTransfer> streams_;
    int copyCalls_ = 0;

    QString Id(const QString &name) const { return QStringLiteral("/CARD/") + name; }
    QString Source(const QString &name) const { return card_ + QLatin1Char('/') + name; }
    QString Dest(const QString &name) const { return dest_.path() + QLatin1Char('/') + name; }
    QStringList Lines(const QString &prefix) const
    {
        QStringList seen;
        for (const QString &t : log_.Texts())
            if (t.startsWith(prefix))
                seen << t;
        return seen;
    }
    QStringList Temporaries() const
    {
        QStringList found;
        for (const QString &f : FilesBelow(dest_.path()))
            if (StreamTransfer::IsTemporaryName(NameOf(f)))
                found << f;
        return found;
    }
    // Counts the kernel copies, then makes them.
    void CountCopies()
    {
        streams_->SetCopyRange([this](int in, loff_t *inAt, int out, loff_t *outAt, size_t n, unsigned flags) {
            ++copyCalls_;
            return ::copy_file_range(in, inAt, out, outAt, n, flags);
        });
    }
    static qint64 AllocatedBytes(const QString &path)
    {
        struct stat st
        {
        };
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? qint64(st.st_blocks) * 512 : -1;
    }
    // A file of size bytes with data only at the given (offset, length) pieces.
    static QByteArray WriteSparse(const QString &path, qint64 size, const Pieces &pieces)
    {
        QByteArray expected(size, '\0');
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(size))
            return {};
        for (const auto &[at, length] : pieces) {
            const QByteArray data = Pattern(length, int(at % 97) + 1);
            f.seek(at);
            f.write(data);
            expected.replace(at, length, data);
        }
        return expected;
    }

private slots:
    void init()
    {
        DebugFlag = false;
        copyCalls_ = 0;
        log_.Clear();
        card_ = sourceParent_.path() + QStringLiteral("/CARD");
        QDir(card_).removeRecursively();
        QVERIFY(QDir().mkpath(card_));
        for (const QString &f : FilesBelow(dest_.path()))
            QFile::remove(dest_.path() + QLatin1Char('/') + f);
        const QString folder = card_;
        service_ = CreateBackendService({std::make_shared<FolderBackend>([folder] { return QStringList{folder}; })});
        connection_ = std::make_unique<DeviceConnection>(*service_, log_);
        QVERIFY(connection_->OpenDevice(FolderBackend::DeviceIdFor(card_), false));
        streams_ = std::make_unique<StreamTransfer>(connection_->Handles(), log_);
        log_.Clear();
    }
    void cleanup()
    {
        DebugFlag = false;
        streams_.reset();
        connection_.reset();
        service_.reset();
    }

    void copiedInKernel_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QStringList>("passes");
        const QString full = QStringLiteral("R %1 W %1").arg(kChunk);
        QTest::newRow("empty") << qint64(0) << QStringList{"R 0 W 0"};
        QTest::newRow("one byte") << qint64(1) << QStringList{"R 1 W 1"};
        QTest::newRow("one small chunk") << qint64(131072) << QStringList{"R 131072 W 131072"};
        QTest::newRow("one chunk") << kChunk << QStringList{full, "R 0 W 0"};
        QTest::newRow("chunk and one") << kChunk + 1 << QStringList{full, "R 1 W 1"};
        QTest::newRow("two and a bit") << 2 * kChunk + 37856 << QStringList{full, full, "R 37856 W 37856"};
    }
    void copiedInKernel()
    {
        QFETCH(qint64, size);
        QFETCH(QStringList, passes);
        DebugFlag = true;
        const QByteArray data = Pattern(size);
        WriteFile(Source(QStringLiteral("A.MOV")), data);
        CountCopies();
        const QString dest = Dest(QStringLiteral("A.MOV"));
        QString at;
        CopyProof proof;
        QCOMPARE(streams_->ByteLevelCheck(Id("A.MOV"), dest, size, &at, QString(), &proof), ByteLevelResult::Replaced);
        QCOMPARE(ReadAll(dest), data);
        // Hashed while the kernel copied it (a big file), or after.
        QVERIFY(proof.hash && proof.hash->Text() == HashBytes(data).Text());
        QVERIFY(Temporaries().isEmpty());
        QCOMPARE(Lines(QStringLiteral("R ")), passes);
        QCOMPARE(Lines(QStringLiteral("Number of ")),
                 QStringList{QStringLiteral("Number of %1 byte chunks = %2").arg(kChunk).arg(size / kChunk + 1)});
        QVERIFY(copyCalls_ > 0);
        QVERIFY(Lines(QStringLiteral("copy_file_range")).isEmpty());
    }

    void noDiagnosticsWithoutDebug()
    {
        WriteFile(Source(QStringLiteral("A.JPG")), Pattern(10));
        QCOMPARE(streams_->CopyFileFromDevice(Id("A.JPG"), Dest("A.JPG"), 10), StreamTransfer::CopyResult::Copied);
        QCOMPARE(log_.Texts(), QStringList());
    }

    // The kernel copy fails at once or part way; the ordinary loop finishes
    // the file from the failed chunk's start, whatever the failed call left.
    void fallback_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("failingChunk");
        QTest::addColumn<bool>("scribble");
        QTest::newRow("EXDEV at once") << EXDEV << 1 << false;
        QTest::newRow("EINVAL at once") << EINVAL << 1 << false;
        QTest::newRow("ENOSYS at once") << ENOSYS << 1 << false;
        QTest::newRow("EOPNOTSUPP at once") << EOPNOTSUPP << 1 << false;
        QTest::newRow("EIO in the second chunk") << EIO << 2 << false;
        QTest::newRow("EIO after writing past the chunk") << EIO << 2 << true;
        QTest::newRow("EXDEV in the last chunk") << EXDEV << 3 << true;
    }
    void fallback()
    {
        QFETCH(int, error);
        QFETCH(int, failingChunk);
        QFETCH(bool, scribble);
        DebugFlag = true;
        const qint64 size = 2 * kChunk + 300000;
        const QByteArray data = Pattern(size, 3);
        WriteFile(Source(QStringLiteral("A.MOV")), data);
        const qint64 from = (failingChunk - 1) * kChunk;
        int callsAfterFailure = 0;
        bool failed = false;
        streams_->SetCopyRange([&](int in, loff_t *inAt, int out, loff_t *outAt, size_t n, unsigned flags) -> ssize_t {
            if (failed) {
                ++callsAfterFailure;
            } else if (*inAt >= from) {
                failed = true;
                if (scribble) {
                    // Junk over the chunk and beyond the file's end.
                    const QByteArray junk(int(kChunk + 300000 + 4096), 'x');
                    if (::pwrite(out, junk.constData(), size_t(junk.size()), off_t(*outAt)) < 0)
                        return -1;
                }
                errno = error;
                return -1;
            }
            return ::copy_file_range(in, inAt, out, outAt, n, flags);
        });
        const QString dest = Dest(QStringLiteral("A.MOV"));
        QCOMPARE(streams_->CopyFileFromDevice(Id("A.MOV"), dest, size), StreamTransfer::CopyResult::Copied);
        QCOMPARE(QFileInfo(dest).size(), size);
        QVERIFY(ReadAll(dest) == data);
        QVERIFY(Temporaries().isEmpty());
        QCOMPARE(Lines(QStringLiteral("copy_file_range: ")),
                 QStringList{QStringLiteral("copy_file_range: ") + QString::fromLocal8Bit(std::strerror(error)) +
                             QStringLiteral("; copying the rest through the program from byte %1").arg(from)});
        QCOMPARE(Lines(QStringLiteral("Number of ")),
                 (QStringList{QStringLiteral("Number of %1 byte chunks = 3").arg(kChunk),
                              QStringLiteral("Number of 131072 byte chunks = %1").arg((size - from) / 131072 + 1)}));
        QVERIFY(failed);
        QCOMPARE(callsAfterFailure, 0);
    }

    // A stop ends the kernel copy between two of its pieces, in the first
    // chunk or a later one, and leaves nothing behind.
    void stoppedInKernel_data()
    {
        QTest::addColumn<qint64>("stopAt");
        QTest::newRow("first piece") << qint64(0);
        QTest::newRow("second chunk") << kChunk;
    }
    void stoppedInKernel()
    {
        QFETCH(qint64, stopAt);
        const qint64 size = 2 * kChunk + 300000;
        WriteFile(Source(QStringLiteral("A.MOV")), Pattern(size));
        std::atomic<bool> stop{false};
        int callsAfterStop = 0;
        streams_->SetStopFlag(&stop);
        streams_->SetCopyRange([&](int in, loff_t *inAt, int out, loff_t *outAt, size_t n, unsigned flags) {
            callsAfterStop += stop ? 1 : 0;
            stop = stop || *inAt >= stopAt;
            return ::copy_file_range(in, inAt, out, outAt, n, flags);
        });
        QCOMPARE(streams_->CopyFileFromDevice(Id("A.MOV"), Dest("A.MOV"), size), StreamTransfer::CopyResult::Stopped);
        QCOMPARE(callsAfterStop, 0);
        QCOMPARE(FilesBelow(dest_.path()), QStringList());
        QCOMPARE(QFileInfo(Source(QStringLiteral("A.MOV"))).size(), size);
    }

    // A stream without a descriptor (a camera's) goes through the ordinary
    // loop and never reaches the kernel copy.
    void streamWithoutDescriptor()
    {
        CopyRig rig;
        QVERIFY(rig.Open());
        rig.decision.Streams().SetCopyRange([this](int, loff_t *, int, loff_t *, size_t, unsigned) -> ssize_t {
            ++copyCalls_;
            errno = ENOSYS;
            return -1;
        });
        DebugFlag = true;
        const QByteArray data = Pattern(300000);
        rig.AddFile(QStringLiteral("A.JPG"), data);
        const QString dest = rig.Path(QStringLiteral("A.JPG"));
        QCOMPARE(
            rig.decision.Streams().CopyFileFromDevice(QStringLiteral("/store_1/DCIM/100CANON/A.JPG"), dest, 300000),
            StreamTransfer::CopyResult::Copied);
        QCOMPARE(ReadAll(dest), data);
        QCOMPARE(copyCalls_, 0);
        QVERIFY(rig.log.Has(QStringLiteral("Number of 131072 byte chunks = 3")));
    }

    // A sparse video keeps its holes and reads back byte for byte.
    void holesStayHoles_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<Pieces>("pieces");
        QTest::newRow("all hole") << 3 * kChunk + 5 << Pieces{};
        QTest::newRow("data in the middle") << 3 * kChunk << Pieces{{kChunk + 4096, 100000}};
        QTest::newRow("data across a chunk end") << 3 * kChunk << Pieces{{kChunk - 65536, 200000}};
        QTest::newRow("data at both ends") << 3 * kChunk + 77 << Pieces{{0, 50000}, {3 * kChunk - 50000, 50077}};
        QTest::newRow("trailing hole") << 3 * kChunk << Pieces{{0, 300000}};
    }
    void holesStayHoles()
    {
        QFETCH(qint64, size);
        QFETCH(Pieces, pieces);
        const QByteArray expected = WriteSparse(Source(QStringLiteral("S.MOV")), size, pieces);
        QCOMPARE(expected.size(), size);
        const qint64 sourceBlocks = AllocatedBytes(Source(QStringLiteral("S.MOV")));
        if (sourceBlocks >= size)
            QSKIP("this file system keeps no holes");
        const QString dest = Dest(QStringLiteral("S.MOV"));
        QCOMPARE(streams_->CopyFileFromDevice(Id("S.MOV"), dest, size), StreamTransfer::CopyResult::Copied);
        QCOMPARE(QFileInfo(dest).size(), size);
        QVERIFY(ReadAll(dest) == expected);
        // Holes may be rounded to blocks; the data's room, not the file's.
        QVERIFY2(AllocatedBytes(dest) <= sourceBlocks + 2 * 65536,
                 qPrintable(QStringLiteral("%1 bytes taken").arg(AllocatedBytes(dest))));
    }

    // The same rule on the length as for any device: the file on the card
    // grew or shrank since it was listed, and nothing is placed.
    void wrongLength_data()
    {
        QTest::addColumn<qint64>("actual");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("received");
        QTest::newRow("shorter") << qint64(200000) << qint64(300000) << qint64(200000);
        QTest::newRow("empty") << qint64(0) << qint64(300000) << qint64(0);
        QTest::newRow("longer, within a chunk") << qint64(300000) << qint64(1000) << qint64(300000);
        QTest::newRow("longer by chunks") << 3 * kChunk << qint64(1000) << kChunk;
    }
    void wrongLength()
    {
        QFETCH(qint64, actual);
        QFETCH(qint64, size);
        QFETCH(qint64, received);
        WriteFile(Source(QStringLiteral("A.MOV")), Pattern(actual));
        qint64 got = -1;
        QCOMPARE(streams_->CopyFileFromDevice(Id("A.MOV"), Dest("A.MOV"), size, false, &got),
                 StreamTransfer::CopyResult::SizeMismatch);
        QCOMPARE(got, received);
        QCOMPARE(FilesBelow(dest_.path()), QStringList());
    }

    // Photos whose names are not UTF-8, all of one size and date, Delete
    // files on, byte-level comparison off: each arrives under its own bytes,
    // and none leaves the card before it is there byte for byte.
    void namesKeepTheirBytes_data()
    {
        QTest::addColumn<QByteArray>("present");  // at the destination before, with card file 0's bytes
        QTest::addColumn<Names>("arrived");       // where each card file's bytes are afterwards
        const Names own{"x\xFF.JPG", "x\xFE.JPG", "x\xEF\xBF\xBD.JPG", "\xC0\xAF.JPG", "\xFF.JPG"};
        QTest::newRow("first run") << QByteArray() << own;
        QTest::newRow("the same photo there") << QByteArray("x\xFF.JPG") << own;
        Names besides = own;
        besides[2] = "x\xEF\xBF\xBD (2).JPG";
        QTest::newRow("another photo under U+FFFD") << QByteArray("x\xEF\xBF\xBD.JPG") << besides;
    }
    void namesKeepTheirBytes()
    {
        QFETCH(QByteArray, present);
        QFETCH(Names, arrived);
        const Names card{"x\xFF.JPG", "x\xFE.JPG", "x\xEF\xBF\xBD.JPG", "\xC0\xAF.JPG", "\xFF.JPG"};
        const QByteArray cardPath = nameToBytes(card_) + '/';
        QTemporaryDir destDir;
        const QByteArray dest = nameToBytes(destDir.path()) + '/';
        const QDateTime date(QDate(2016, 5, 4), QTime(13, 14, 16));
        std::vector<QByteArray> data;
        for (int i = 0; i < card.size(); ++i) {
            data.push_back(Pattern(5000, i + 1));
            QVERIFY(WriteRaw(cardPath + card[i], data.back(), time_t(date.toSecsSinceEpoch())));
        }
        if (!present.isEmpty())
            QVERIFY(WriteRaw(dest + present, data[0], time_t(date.toSecsSinceEpoch())));

        RunState run;
        FakeCopyHost host;
        host.destination = destDir.path();
        host.deleteFiles = true;
        TransferDecision decision(*connection_, run, log_, host, {});
        decision.SetSettings(host.Settings());
        for (const QByteArray &name : card)
            decision.TransferFile(Id(nameFromBytes(name)), nameFromBytes(name), date, 5000, true);

        QVERIFY2(run.ErrorCount == 0, qPrintable(log_.Texts().join('\n')));
        for (int i = 0; i < card.size(); ++i)
            QVERIFY2(ReadRaw(dest + arrived[i]) == data[i], arrived[i].constData());
        Names expected = arrived;
        if (!present.isEmpty() && !expected.contains(present))
            expected << present;
        std::sort(expected.begin(), expected.end());
        QCOMPARE(ListRaw(dest), expected);
        if (!present.isEmpty() && present != arrived[0])
            QCOMPARE(ReadRaw(dest + present), data[0]);
        QCOMPARE(ListRaw(cardPath), Names());  // each was proved there first
        QCOMPARE(run.FilesDeleted.load(), card.size());
        for (const QByteArray &name : ListRaw(dest))
            ::unlink((dest + name).constData());
    }

    // The card's file is rewritten while it is copied: the copy holds
    // neither version whole, so nothing is placed and the file stays.
    void sourceChangesWhileCopied()
    {
        const QByteArray data = Pattern(3 * kChunk, 3);
        const QString source = Source(QStringLiteral("A.MOV"));
        WriteFile(source, data);
        streams_->SetCopyRange([&](int in, loff_t *inAt, int out, loff_t *outAt, size_t n, unsigned flags) {
            if (*inAt > 0) {
                QFile f(source);
                if (f.open(QIODevice::ReadWrite))
                    f.write(Pattern(1000, 9));
            }
            return ::copy_file_range(in, inAt, out, outAt, n, flags);
        });
        const QString dest = Dest(QStringLiteral("A.MOV"));
        QCOMPARE(streams_->CopyFileFromDevice(Id("A.MOV"), dest, data.size()), StreamTransfer::CopyResult::Failed);
        QVERIFY(!QFile::exists(dest));
        QVERIFY(Temporaries().isEmpty());
        QVERIFY(
            log_.HasPrefix(QStringLiteral("The file ") + Id("A.MOV") + QStringLiteral(" changed while it was copied")));
    }

    // A comparison against an existing file reads what the kernel wrote.
    void byteLevelCheckAfterKernelCopy()
    {
        const QByteArray data = Pattern(kChunk + 12345, 5);
        WriteFile(Source(QStringLiteral("A.MOV")), data);
        const QString dest = Dest(QStringLiteral("A.MOV"));
        WriteFile(dest, data);
        QString at;
        QCOMPARE(streams_->ByteLevelCheck(Id("A.MOV"), dest, data.size(), &at), ByteLevelResult::Same);
        QCOMPARE(at, dest);
        WriteFile(dest, data.left(5000));
        QCOMPARE(streams_->ByteLevelCheck(Id("A.MOV"), dest, data.size(), &at), ByteLevelResult::Replaced);
        QVERIFY(ReadAll(dest) == data);
        QVERIFY(Temporaries().isEmpty());
    }
};

FERROVANE_TEST_MAIN(TestLocalCopy)
#include "tst_localcopy.moc"
