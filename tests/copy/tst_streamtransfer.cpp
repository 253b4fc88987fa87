#include "common/TestMain.h"
#include "copy/CopyTestSupport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

class TestStreamTransfer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CopyRig> rig_;

    StreamTransfer &Streams() { return rig_->decision.Streams(); }
    QString Id(const QString &name) const { return QStringLiteral("/store_1/DCIM/100CANON/") + name; }
    QStringList Temporaries() const
    {
        QStringList found;
        for (const QString &f : FilesBelow(rig_->dest.path()))
            if (StreamTransfer::IsTemporaryName(NameOf(f)))
                found << f;
        return found;
    }

private slots:
    void init()
    {
        DebugFlag = false;
        rig_ = std::make_unique<CopyRig>();
        QVERIFY(rig_->Open());
    }
    void cleanup() { DebugFlag = false; }

    void chunkBoundaries_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QStringList>("passes");
        QTest::newRow("empty") << 0 << QStringList{"R 0 W 0"};
        QTest::newRow("one byte") << 1 << QStringList{"R 1 W 1"};
        QTest::newRow("one chunk") << 131072 << QStringList{"R 131072 W 131072", "R 0 W 0"};
        QTest::newRow("chunk and one") << 131073 << QStringList{"R 131072 W 131072", "R 1 W 1"};
        QTest::newRow("300000") << 300000 << QStringList{"R 131072 W 131072", "R 131072 W 131072", "R 37856 W 37856"};
    }
    void chunkBoundaries()
    {
        QFETCH(int, size);
        QFETCH(QStringList, passes);
        DebugFlag = true;
        const QByteArray data = Pattern(size);
        rig_->AddFile(QStringLiteral("A.JPG"), data);
        const QString dest = rig_->Path(QStringLiteral("A.JPG"));
        QCOMPARE(Streams().CopyFileFromDevice(Id("A.JPG"), dest, size), StreamTransfer::CopyResult::Copied);
        QCOMPARE(ReadAll(dest), data);
        QVERIFY(Temporaries().isEmpty());
        QStringList seen;
        for (const QString &t : rig_->log.Texts())
            if (t.startsWith(QLatin1String("R ")))
                seen << t;
        QCOMPARE(seen, passes);
        QVERIFY(rig_->log.Has(QStringLiteral("Number of 131072 byte chunks = %1").arg(size / 131072 + 1)));
        QVERIFY(rig_->log.Has(QStringLiteral("res aPortableDeviceContent.Transfer = 0")));
        QVERIFY(rig_->log.Has(QStringLiteral("res aPortableDeviceResources.GetStream = 0")));
    }

    void noDiagnosticsWithoutDebug()
    {
        rig_->AddFile(QStringLiteral("A.JPG"), Pattern(10));
        QCOMPARE(Streams().CopyFileFromDevice(Id("A.JPG"), rig_->Path("A.JPG"), 10),
                 StreamTransfer::CopyResult::Copied);
        QVERIFY(rig_->log.Texts().isEmpty());
    }

    // A failure at any point leaves the old file under the name as it was
    // and no temporary behind.
    void failures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<qint64>("at");
        QTest::addColumn<QString>("line");
        const QString read = QStringLiteral("Could not read A.JPG from the device: Error code 0x80004005.");
        QTest::newRow("read fails at chunk 0") << "read" << qint64(0) << read;
        QTest::newRow("read fails at chunk 1") << "read" << qint64(131072) << read;
        QTest::newRow("read fails at chunk 2") << "read" << qint64(262144) << read;
        QTest::newRow("stream cannot open") << "stream" << qint64(0)
                                            << "Failed to get IStream (representing object data on the device) from "
                                               "IPortableDeviceResources.";
        QTest::newRow("no resources") << "transfer" << qint64(0)
                                      << "Failed to get IPortableDeviceResources from IPortableDeviceContent.";
        QTest::newRow("device gone at chunk 1")
            << "gone" << qint64(131072)
            << "Could not read A.JPG from the device: The device or memory card is no longer connected: it was "
               "unplugged, removed or unmounted. Check the cable or put the card back (unlock a phone and allow file "
               "transfer on it), then press Connect.";
    }
    void failures()
    {
        QFETCH(QString, failure);
        QFETCH(qint64, at);
        QFETCH(QString, line);
        FakeObject &o = rig_->AddFile(QStringLiteral("A.JPG"), Pattern(300000));
        if (failure == QLatin1String("read"))
            o.readFailsAt = at;
        else if (failure == QLatin1String("stream"))
            o.getStreamCode = E_ACCESSDENIED;
        else if (failure == QLatin1String("transfer"))
            rig_->Device().transferCode = E_FAIL;
        else
            rig_->service.onRead = [this, at](const QString &, std::uint64_t offset) {
                if (offset >= std::uint64_t(at))
                    rig_->service.RemoveDevice(QStringLiteral("usb:1"));
            };
        const QString dest = rig_->Path(QStringLiteral("A.JPG"));
        WriteFile(dest, "old content");
        QCOMPARE(Streams().CopyFileFromDevice(Id("A.JPG"), dest, 300000, true), StreamTransfer::CopyResult::Failed);
        QCOMPARE(ReadAll(dest), QByteArray("old content"));
        QVERIFY(Temporaries().isEmpty());
        QVERIFY2(rig_->log.Has(line), qPrintable(rig_->log.Texts().join('\n')));
        QCOMPARE(rig_->log.lines.front().color, LogColor::Red);
        QCOMPARE(rig_->log.lines.front().style, LogStyle::Normal);
    }

    void missingFolder()
    {
        rig_->AddFile(QStringLiteral("A.JPG"), Pattern(10));
        QCOMPARE(Streams().CopyFileFromDevice(Id("A.JPG"), rig_->Path("no/such/A.JPG"), 10),
                 StreamTransfer::CopyResult::Failed);
        QCOMPARE(rig_->log.Texts().value(0), QStringLiteral("Failed to create destination IStream object."));
        QVERIFY(rig_->log.Texts().value(1).contains(QLatin1String("No such file")));
    }

    void wrongLength_data()
    {
        QTest::addColumn<qint64>("streamEnds");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("received");
        QTest::newRow("stream ends early") << qint64(200000) << qint64(300000) << qint64(200000);
        QTest::newRow("empty stream") << qint64(0) << qint64(300000) << qint64(0);
        // A read asks for one byte past the size: the first extra byte tells.
        QTest::newRow("stream longer than size") << qint64(-1) << qint64(1000) << qint64(1001);
    }
    void wrongLength()
    {
        QFETCH(qint64, streamEnds);
        QFETCH(qint64, size);
        QFETCH(qint64, received);
        FakeObject &o = rig_->AddFile(QStringLiteral("A.JPG"), Pattern(300000));
        o.readEndsAt = streamEnds;
        qint64 got = -1;
        QCOMPARE(Streams().CopyFileFromDevice(Id("A.JPG"), rig_->Path("A.JPG"), size, false, &got),
                 StreamTransfer::CopyResult::SizeMismatch);
        QCOMPARE(got, received);
        QVERIFY(FilesBelow(rig_->dest.path()).isEmpty());
    }

    void existingFileIsNotReplacedUnlessAsked()
    {
        rig_->AddFile(QStringLiteral("A.JPG"), Pattern(10));
        const QString dest = rig_->Path(QStringLiteral("A.JPG"));
        WriteFile(dest, "mine");
        QCOMPARE(Streams().CopyFileFromDevice(Id("A.JPG"), dest, 10), StreamTransfer::CopyResult::Failed);
        QCOMPARE(ReadAll(dest), QByteArray("mine"));
        QVERIFY(Temporaries().isEmpty());
    }

    void modificationTime()
    {
        rig_->AddFile(QStringLiteral("A.JPG"), Pattern(10));
        const QDateTime when(QDate(2016, 5, 4), QTime(13, 14, 15, 250));
        Streams().SetModificationTime(when);
        const QString dest = rig_->Path(QStringLiteral("A.JPG"));
        QCOMPARE(Streams().CopyFileFromDevice(Id("A.JPG"), dest, 10), StreamTransfer::CopyResult::Copied);
        QCOMPARE(QFileInfo(dest).lastModified().toMSecsSinceEpoch(), when.toMSecsSinceEpoch());
    }

    void zeroChunksReadBackAsZeros_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("partial last chunk") << 400000;
        QTest::newRow("whole chunks") << 262144;
    }
    void zeroChunksReadBackAsZeros()
    {
        QFETCH(int, size);
        FakeObject &o =
            rig_->Device().AddSizedFile(QStringLiteral("/store_1/DCIM/100CANON"), QStringLiteral("Z.MOV"),
                                        QStringLiteral("VIDEO"), QStringLiteral("2016/05/04:13:14:15.000"), size);
        o.zeroData = true;
        const QString dest = rig_->Path(QStringLiteral("Z.MOV"));
        QCOMPARE(Streams().CopyFileFromDevice(Id("Z.MOV"), dest, size), StreamTransfer::CopyResult::Copied);
        QCOMPARE(ReadAll(dest), QByteArray(size, '\0'));
    }

    void compareFiles_data()
    {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<bool>("same");
        const QByteArray big = Pattern(10000);
        QByteArray lastByte = big;
        lastByte[lastByte.size() - 1] = char(lastByte.back() + 1);
        QByteArray firstByte = big;
        firstByte[0] = char(firstByte[0] + 1);
        QTest::newRow("equal") << big << big << true;
        QTest::newRow("both empty") << QByteArray() << QByteArray() << true;
        QTest::newRow("last byte differs") << big << lastByte << false;
        QTest::newRow("first byte differs") << big << firstByte << false;
        QTest::newRow("other length") << big << big.left(9999) << false;
        QTest::newRow("one empty") << QByteArray() << big << false;
    }
    void compareFiles()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(bool, same);
        WriteFile(rig_->Path("a"), a);
        WriteFile(rig_->Path("b"), b);
        QFile fa(rig_->Path("a")), fb(rig_->Path("b"));
        QVERIFY(fa.open(QIODevice::ReadOnly) && fb.open(QIODevice::ReadOnly));
        QCOMPARE(StreamTransfer::CompareFiles(fa, fb), same);
        QCOMPARE(StreamTransfer::CompareFiles(fb, fa), same);
    }

    // What a byte-level check finds at the destination, and where the
    // object's data ends up; the file found there before is never lost.
    void byteLevelCheck_data()
    {
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<QByteArray>("second");  // "NAME (2).JPG", when not empty
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("placedAs");
        const QByteArray source = Pattern(300000);
        QByteArray other = source;
        other[150000] = char(other[150000] ^ 1);
        QTest::newRow("same") << source << QByteArray() << int(ByteLevelResult::Same) << "A.JPG";
        QTest::newRow("same size, other bytes")
            << other << QByteArray() << int(ByteLevelResult::Replaced) << "A (2).JPG";
        QTest::newRow("truncated copy") << source.left(140000) << QByteArray() << int(ByteLevelResult::Replaced)
                                        << "A.JPG";
        QTest::newRow("empty earlier copy")
            << QByteArray() << QByteArray() << int(ByteLevelResult::Replaced) << "A.JPG";
        QTest::newRow("shorter, other bytes")
            << other.left(200000) << QByteArray() << int(ByteLevelResult::Replaced) << "A (2).JPG";
        QTest::newRow("longer") << source + "x" << QByteArray() << int(ByteLevelResult::Replaced) << "A (2).JPG";
        QTest::newRow("found beside") << other << source << int(ByteLevelResult::Same) << "A (2).JPG";
        QTest::newRow("beside is other too") << other << other << int(ByteLevelResult::Replaced) << "A (3).JPG";
    }
    void byteLevelCheck()
    {
        QFETCH(QByteArray, existing);
        QFETCH(QByteArray, second);
        QFETCH(int, result);
        QFETCH(QString, placedAs);
        const QByteArray source = Pattern(300000);
        rig_->AddFile(QStringLiteral("A.JPG"), source);
        WriteFile(rig_->Path("A.JPG"), existing);
        if (!second.isEmpty())
            WriteFile(rig_->Path("A (2).JPG"), second);
        QString at;
        QCOMPARE(int(Streams().ByteLevelCheck(Id("A.JPG"), rig_->Path("A.JPG"), 300000, &at)), result);
        QCOMPARE(at, rig_->Path(placedAs));
        QCOMPARE(ReadAll(at), source);
        // Whatever was there and was not an earlier copy of the object stays.
        if (placedAs != QLatin1String("A.JPG"))
            QCOMPARE(ReadAll(rig_->Path("A.JPG")), existing);
        if (!second.isEmpty() && placedAs != QLatin1String("A (2).JPG"))
            QCOMPARE(ReadAll(rig_->Path("A (2).JPG")), second);
        QVERIFY(Temporaries().isEmpty());
        if (existing.size() == source.size() && existing != source)
            QVERIFY(rig_->log.Has(QStringLiteral("Destination file ") + rig_->Path("A.JPG") +
                                  QStringLiteral(" has BYTE mismatch with Source file.")));
    }

    void byteLevelCheckTransferFails()
    {
        FakeObject &o = rig_->AddFile(QStringLiteral("A.JPG"), Pattern(300000));
        o.readFailsAt = 131072;
        WriteFile(rig_->Path("A.JPG"), "old");
        QCOMPARE(Streams().ByteLevelCheck(Id("A.JPG"), rig_->Path("A.JPG"), 300000), ByteLevelResult::TransferFailed);
        QCOMPARE(ReadAll(rig_->Path("A.JPG")), QByteArray("old"));
        QVERIFY(Temporaries().isEmpty());
    }

    void numberedName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("numbered");
        QTest::newRow("first") << "/d/IMG.JPG" << 1 << "/d/IMG.JPG";
        QTest::newRow("second") << "/d/IMG.JPG" << 2 << "/d/IMG (2).JPG";
        QTest::newRow("two dots") << "/d/a.b.JPG" << 3 << "/d/a.b (3).JPG";
        QTest::newRow("no extension") << "/d/README" << 2 << "/d/README (2)";
        QTest::newRow("leading dot") << "/d/.hidden" << 2 << "/d/.hidden (2)";
        QTest::newRow("dot in folder") << "/d.x/IMG" << 2 << "/d.x/IMG (2)";
    }
    void numberedName()
    {
        QFETCH(QString, name);
        QFETCH(int, n);
        QFETCH(QString, numbered);
        QCOMPARE(StreamTransfer::NumberedName(name, n), numbered);
    }

    void temporaryNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("temporary");
        QTest::newRow("ours") << ".ferrovane-aB3xY9.part" << true;
        QTest::newRow("photo") << "IMG_0001.JPG" << false;
        QTest::newRow("named like ours") << "ferrovane-aB3xY9.part" << false;
        QTest::newRow("longer") << ".ferrovane-aB3xY9z.part" << false;
    }
    void temporaryNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, temporary);
        QCOMPARE(StreamTransfer::IsTemporaryName(name), temporary);
    }

    // An interrupted run's temporaries go; one still held by a live
    // transfer stays; other files are never touched, whatever their names.
    void leftoverTemporaries()
    {
        const QString folder = rig_->dest.path() + QLatin1Char('/');
        auto ours = [&](const QString &name, const QByteArray &data) {
            WriteFile(folder + name, data);
            return ::setxattr(QFile::encodeName(folder + name).constData(), "user.ferrovane.part", "1", 1, 0) == 0;
        };
        if (!ours(".ferrovane-AAAAAA.part", "dead") || !ours(".ferrovane-BBBBBB.part", "alive"))
            QSKIP("The test folder's file system keeps no extended attributes.");
        WriteFile(folder + ".ferrovane-CCCCCC.part", "a card's file named like ours");
        WriteFile(folder + ".ferrovane-notours.part", "user");
        WriteFile(folder + "IMG.JPG", "photo");
        const int held = ::open(QFile::encodeName(folder + ".ferrovane-BBBBBB.part").constData(), O_RDONLY);
        QVERIFY(held >= 0);
        QCOMPARE(::flock(held, LOCK_EX), 0);
        Streams().RemoveLeftoverTemporaries(folder);
        ::close(held);
        QCOMPARE(FilesBelow(folder), (QStringList{".ferrovane-BBBBBB.part", ".ferrovane-CCCCCC.part",
                                                  ".ferrovane-notours.part", "IMG.JPG"}));
        QVERIFY(
            rig_->log.Has("Removed the unfinished file " + folder + ".ferrovane-AAAAAA.part of an interrupted run."));
    }
};

FERROVANE_TEST_MAIN(TestStreamTransfer)
#include "tst_streamtransfer.moc"
