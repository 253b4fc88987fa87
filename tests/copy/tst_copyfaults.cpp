// The two promises, checked on disk: no file under a final name whose bytes
// differ from its source, and no source deleted without a verified copy.

#include "common/TestMain.h"
#include "copy/CopyTestSupport.h"

#include <QProcess>

#include <csignal>

#include <sys/resource.h>
#include <unistd.h>

namespace {

const QString kFolder = QStringLiteral("/store_1/DCIM/100CANON/");

}  // namespace

class TestCopyFaults : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CopyRig> rig_;
    std::map<QString, QByteArray> sources_;  // file name -> bytes

    void Add(const QString &name, const QByteArray &data)
    {
        rig_->AddFile(name, data);
        sources_[name] = data;
    }
    void TransferAll(bool folderMode = false)
    {
        for (const auto &[name, data] : sources_)
            rig_->Transfer(kFolder + name, folderMode);
    }
    // (a) every file under a final name holds its source's bytes, or is a
    // file that was there before; (b) every deleted source has such a copy.
    void CheckPromises(const QStringList &before = {})
    {
        for (const QString &f : FilesBelow(rig_->dest.path())) {
            QVERIFY2(!StreamTransfer::IsTemporaryName(NameOf(f)), qPrintable("temporary left: " + f));
            if (before.contains(f))
                continue;
            QString name = NameOf(f);
            name.remove(QRegularExpression(QStringLiteral(" \\(\\d+\\)(?=\\.|$)")));
            QVERIFY2(sources_.count(name), qPrintable("unexpected file " + f));
            QVERIFY2(ReadAll(rig_->Path(f)) == sources_[name], qPrintable("wrong bytes under " + f));
        }
        for (const auto &[name, data] : sources_) {
            if (rig_->OnDevice(kFolder + name))
                continue;
            bool found = false;
            for (const QString &f : FilesBelow(rig_->dest.path()))
                found = found || (!before.contains(f) && ReadAll(rig_->Path(f)) == data);
            QVERIFY2(found, qPrintable("deleted without a copy: " + name));
        }
    }

private slots:
    void init()
    {
        rig_ = std::make_unique<CopyRig>();
        sources_.clear();
        rig_->host.deleteFiles = true;
        QVERIFY(rig_->Open());
    }
    void cleanup() { rig_.reset(); }

    void transferFailsMidFile_data()
    {
        QTest::addColumn<bool>("byteLevel");
        QTest::newRow("copy") << false;
        QTest::newRow("byte level over a truncated copy") << true;
    }
    void transferFailsMidFile()
    {
        QFETCH(bool, byteLevel);
        rig_->host.byteLevel = byteLevel;
        Add(QStringLiteral("A.JPG"), Pattern(400000));
        Add(QStringLiteral("B.JPG"), Pattern(1000, 2));
        rig_->Device().Object(kFolder + "A.JPG").readFailsAt = 262144;
        const QString a = rig_->Path(QStringLiteral("2016-05-04/A.JPG"));
        if (byteLevel)
            WriteFile(a, Pattern(400000).left(1000));
        TransferAll();
        QVERIFY(rig_->OnDevice(kFolder + "A.JPG"));
        QVERIFY(!rig_->OnDevice(kFolder + "B.JPG"));
        QCOMPARE(rig_->run.ErrorCount.load(), 1);
        if (byteLevel)
            QCOMPARE(ReadAll(a), Pattern(400000).left(1000));
        else
            QVERIFY(!QFile::exists(a));
        CheckPromises(byteLevel ? QStringList{"2016-05-04/A.JPG"} : QStringList{});
    }

    void deviceGoneMidFile()
    {
        Add(QStringLiteral("A.JPG"), Pattern(400000));
        Add(QStringLiteral("B.JPG"), Pattern(1000, 2));
        rig_->service.onRead = [this](const QString &, std::uint64_t offset) {
            if (offset >= 131072)
                rig_->service.RemoveDevice(QStringLiteral("usb:1"));
        };
        rig_->Transfer(kFolder + "A.JPG");
        QCOMPARE(rig_->run.ErrorCount.load(), 1);
        QCOMPARE(FilesBelow(rig_->dest.path()), QStringList{});
        QVERIFY(rig_->service.deletedIds.empty());
    }

    // Stop arrives while a file is transferred: no read after it, nothing
    // placed, the source kept, no delete and no command for it, one red line.
    void stopMidFile_data()
    {
        QTest::addColumn<bool>("byteLevel");
        QTest::addColumn<bool>("forceRun");
        QTest::addColumn<QByteArray>("existing");  // at the destination before
        QTest::newRow("copy") << false << false << QByteArray();
        QTest::newRow("command forced") << false << true << QByteArray();
        QTest::newRow("byte level beside another file") << true << false << Pattern(400000, 7);
    }
    void stopMidFile()
    {
        QFETCH(bool, byteLevel);
        QFETCH(bool, forceRun);
        QFETCH(QByteArray, existing);
        rig_->host.byteLevel = byteLevel;
        rig_->host.forceRun = forceRun;
        Add(QStringLiteral("A.JPG"), Pattern(400000));
        const QStringList before = existing.isEmpty() ? QStringList() : QStringList{"2016-05-04/A.JPG"};
        if (!existing.isEmpty())
            WriteFile(rig_->Path(before[0]), existing);
        int readsAfterStop = 0;
        rig_->service.onRead = [&](const QString &, std::uint64_t offset) {
            if (rig_->run.StopSignalled)
                ++readsAfterStop;
            else if (offset >= 131072)
                rig_->run.StopSignalled = true;
        };
        rig_->Transfer(kFolder + "A.JPG");
        QCOMPARE(readsAfterStop, 0);
        QCOMPARE(rig_->log.Coded().last(),
                 QStringLiteral("R Stopped: the file A.JPG was not copied and stays on the device."));
        QCOMPARE(FilesBelow(rig_->dest.path()), before);
        QVERIFY(rig_->OnDevice(kFolder + "A.JPG"));
        QVERIFY(rig_->commands.isEmpty());
        QCOMPARE(rig_->run.FilesCopied + rig_->run.ErrorCount, 0);
    }

    // A file-size limit makes writes fail like a full disk.
    void diskFull()
    {
        Add(QStringLiteral("A.JPG"), Pattern(400000));
        Add(QStringLiteral("B.JPG"), Pattern(1000, 2));
        struct rlimit old;
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old;
        small.rlim_cur = 200000;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        TransferAll();
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(rig_->log.Has(QStringLiteral("pFinalFileStream.Write failed.")));
        QVERIFY(rig_->OnDevice(kFolder + "A.JPG"));
        QVERIFY(!rig_->OnDevice(kFolder + "B.JPG"));
        QCOMPARE(rig_->run.ErrorCount.load(), 1);
        CheckPromises();
    }

    // A destination folder that exists but takes no new files: one without
    // write permission, or, for root, a folder of /sys.
    void readOnlyDestination()
    {
        Add(QStringLiteral("A.JPG"), Pattern(1000));
        QString folder;
        if (::geteuid() == 0) {
            rig_->host.destination = QStringLiteral("/sys");
            rig_->host.dateFormat = QStringLiteral("'kernel'");
        } else {
            folder = rig_->Path(QStringLiteral("2016-05-04"));
            QDir().mkpath(folder);
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        }
        TransferAll();
        if (!folder.isEmpty())
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(rig_->run.ErrorCount.load(), 1);
        QVERIFY(rig_->OnDevice(kFolder + "A.JPG"));
        QVERIFY(rig_->log.Has(QStringLiteral("Failed to create destination IStream object.")));
        QVERIFY(rig_->log.Has(QStringLiteral("ERROR: Could not transfer the file from the device.")));
        CheckPromises();
    }

    void folderCannotBeCreated()
    {
        Add(QStringLiteral("A.JPG"), Pattern(1000));
        WriteFile(rig_->Path(QStringLiteral("DCIM")), "a file in the way");
        TransferAll(true);
        QVERIFY(rig_->log.Has(QStringLiteral("ERROR: Directory ") + rig_->Path(QStringLiteral("DCIM/100CANON/")) +
                              QStringLiteral(" Could not be created.")));
        QVERIFY(rig_->OnDevice(kFolder + "A.JPG"));
        QCOMPARE(ReadAll(rig_->Path(QStringLiteral("DCIM"))), QByteArray("a file in the way"));
    }

    // Two cameras with the same file names, in either order, any options:
    // nothing is lost. With Delete files on, a file of the same size is
    // compared before the source goes, so the photo lands beside it.
    void nameClashes_data()
    {
        QTest::addColumn<bool>("byteLevel");
        QTest::newRow("size only") << false;
        QTest::newRow("byte level") << true;
    }
    void nameClashes()
    {
        QFETCH(bool, byteLevel);
        rig_->host.byteLevel = byteLevel;
        const QString mine = QStringLiteral("2016-05-04/IMG_0001.JPG");
        const QStringList before = {mine, QStringLiteral("2016-05-04/IMG_0002.JPG"),
                                    QStringLiteral("2016-05-04/IMG_0003.JPG")};
        WriteFile(rig_->Path(before[0]), Pattern(5000, 9));            // other size
        WriteFile(rig_->Path(before[1]), Pattern(3000, 9));            // same size, other bytes
        WriteFile(rig_->Path(before[2]), Pattern(3000, 4).left(100));  // shorter, other bytes
        Add(QStringLiteral("IMG_0001.JPG"), Pattern(3000, 3));
        Add(QStringLiteral("IMG_0002.JPG"), Pattern(3000, 3));
        Add(QStringLiteral("IMG_0003.JPG"), Pattern(3000, 3));
        rig_->host.deleteFiles = false;
        TransferAll();
        rig_->host.deleteFiles = true;
        TransferAll();
        for (const QString &f : before)
            QCOMPARE(ReadAll(rig_->Path(f)), f == mine             ? Pattern(5000, 9)
                                             : f.endsWith("2.JPG") ? Pattern(3000, 9)
                                                                   : Pattern(3000, 4).left(100));
        QCOMPARE(rig_->run.ErrorCount.load(), 0);
        QCOMPARE(FilesBelow(rig_->Path(QStringLiteral("2016-05-04"))).size(), 6);
        CheckPromises(before);
    }

    void hostileNames_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("folderMode");
        QTest::newRow("dot dot") << ".."
                                 << "/store_1/DCIM/x" << false;
        QTest::newRow("dot") << "."
                             << "/store_1/DCIM/x" << false;
        QTest::newRow("empty") << ""
                               << "/store_1/DCIM/x" << false;
        QTest::newRow("slash") << "../../../escape.jpg"
                               << "/store_1/DCIM/x" << false;
        QTest::newRow("nul") << QString("a") + QChar(0) + "/b"
                             << "/store_1/DCIM/x" << false;
        QTest::newRow("folder dot dot") << "escape.jpg"
                                        << "/store_1/../../../escape.jpg" << true;
        QTest::newRow("folder dot") << "escape.jpg"
                                    << "/store_1/./escape.jpg" << true;
    }
    void hostileNames()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, id);
        QFETCH(bool, folderMode);
        rig_->host.destination = rig_->Path(QStringLiteral("inner"));
        QDir().mkpath(rig_->host.destination);
        FakeDevice &d = rig_->Device();
        FakeObject &o = d.AddFile(QStringLiteral("/store_1/DCIM"), QStringLiteral("x"), QStringLiteral("IMAGE"),
                                  QStringLiteral("2016/05/04:13:14:15.000"), "evil");
        o.originalFileName = fileName;
        QDateTime date;
        ParseWpdDateTime(o.dateCreated, date);
        if (id != o.id) {
            d.objects[id] = o;
            d.objects[id].id = id;
        }
        rig_->Apply();
        rig_->decision.TransferFile(id, fileName, date, 4, folderMode);
        QCOMPARE(rig_->run.ErrorCount.load(), 1);
        QVERIFY(rig_->log.Coded().last().startsWith(QStringLiteral("Rb ERROR: ")));
        QCOMPARE(FilesBelow(rig_->dest.path()), QStringList{});
        QVERIFY(rig_->service.deletedIds.empty());
    }

    // Killed at any moment: no partial file under a final name, nothing left
    // behind, the source stays, and the next run copies.
    void killedMidCopy()
    {
        const QString dest = rig_->Path(QStringLiteral("killed"));
        const QString folder = dest + QStringLiteral("/2016-05-04/");
        QProcess helper;
        helper.start(QStringLiteral(FERROVANE_COPY_HELPER), {dest});
        QVERIFY(helper.waitForStarted());
        // The copy in flight: a file of the helper's in that folder, with
        // more than a chunk in it (a nameless one, where the file system
        // allows it, or a hidden temporary).
        const QString fds = QStringLiteral("/proc/%1/fd/").arg(helper.processId());
        auto partial = [&] {
            for (const QFileInfo &fd : QDir(fds).entryInfoList(QDir::Files | QDir::System))
                if (fd.symLinkTarget().startsWith(folder) && QFileInfo(fd.absoluteFilePath()).size() > 131072)
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(partial(), 30000);
        QCOMPARE(::kill(pid_t(helper.processId()), SIGKILL), 0);
        QVERIFY(helper.waitForFinished());
        QVERIFY(!helper.readAllStandardOutput().contains("finished"));
        QVERIFY(!QFile::exists(folder + QStringLiteral("SLOW.MOV")));

        rig_->host.destination = dest;
        Add(QStringLiteral("A.JPG"), Pattern(1000));
        TransferAll();
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"A.JPG"});
    }
};

FERROVANE_TEST_MAIN(TestCopyFaults)
#include "tst_copyfaults.moc"
