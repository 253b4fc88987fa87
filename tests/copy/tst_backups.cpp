#include "common/TestMain.h"
#include "copy/CopyTestSupport.h"

#include "copy/AscMhl.h"
#include "copy/ContentHash.h"

namespace {

const QString kId = QStringLiteral("/store_1/DCIM/100CANON/IMG_0001.JPG");
const QString kDated = QStringLiteral("2016-05-04/IMG_0001.JPG");

}  // namespace

// The destination and two backup paths, each a folder of its own.
class TestBackups : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CopyRig> rig_;
    std::unique_ptr<QTemporaryDir> backup_[2];
    QByteArray source_;
    int passes_ = 0;  // reads of a device file from its start

    QStringList Roots() const { return {rig_->dest.path(), backup_[0]->path(), backup_[1]->path()}; }
    void Run(const QStringList &ids)
    {
        rig_->Apply();
        rig_->decision.BeginRun();
        for (const QString &id : ids)
            rig_->Transfer(id);
        rig_->decision.EndDestinations();
    }

private slots:
    void init()
    {
        DebugFlag = false;
        rig_ = std::make_unique<CopyRig>();
        for (auto &backup : backup_)
            backup = std::make_unique<QTemporaryDir>();
        rig_->host.backupPaths = {backup_[0]->path(), backup_[1]->path()};
        source_ = Pattern(300000);
        rig_->AddFile(QStringLiteral("IMG_0001.JPG"), source_);
        passes_ = 0;
        rig_->service.onRead = [this](const QString &, std::uint64_t offset) { passes_ += offset == 0 ? 1 : 0; };
        QVERIFY(rig_->Open());
    }

    // Every destination gets the file, from one read of the device, and
    // the source goes only once all three hold it.
    void everyDestination_data()
    {
        QTest::addColumn<bool>("byteLevel");
        QTest::addColumn<bool>("deleteFiles");
        QTest::addColumn<QList<int>>("present");  // destinations that hold the file already
        QTest::newRow("new") << false << false << QList<int>{};
        QTest::newRow("new, byte level, delete") << true << true << QList<int>{};
        QTest::newRow("at the destination, delete") << false << true << QList<int>{0};
        QTest::newRow("at backup 1, byte level") << true << false << QList<int>{1};
        QTest::newRow("everywhere, delete") << false << true << QList<int>{0, 1, 2};
    }
    void everyDestination()
    {
        QFETCH(bool, byteLevel);
        QFETCH(bool, deleteFiles);
        QFETCH(QList<int>, present);
        rig_->host.byteLevel = byteLevel;
        rig_->host.deleteFiles = deleteFiles;
        for (int i : present)
            WriteFile(Roots().at(i) + QLatin1Char('/') + kDated, source_);
        Run({kId});
        QCOMPARE(passes_, 1);
        for (int i = 0; i < 3; ++i) {
            const QString copy = Roots().at(i) + QLatin1Char('/') + kDated;
            QCOMPARE(FilesBelow(Roots().at(i)), QStringList{kDated});
            QCOMPARE(ReadAll(copy), source_);
            QVERIFY(rig_->log.Has(present.contains(i) ? QStringLiteral("Destination file found ") + copy
                                                      : QStringLiteral("Copied file IMG_0001.JPG to ") + copy));
        }
        // The copies after the first name the copy their bytes came from.
        const QStringList proofs = rig_->log.Texts().filter(QStringLiteral("Proof: "));
        QCOMPARE(proofs.size(), 3);
        QVERIFY(!proofs.at(0).contains(QStringLiteral("read from its copy")));
        QVERIFY(proofs.at(2).contains(QStringLiteral("read from its copy ") + rig_->Path(kDated)));
        QCOMPARE(rig_->OnDevice(kId), !deleteFiles);
        QCOMPARE(int(rig_->run.ErrorCount), 0);
        QCOMPARE(int(rig_->run.FilesCopied + rig_->run.FilesExisting), 1);
        for (const BackupCounts &counts : rig_->decision.BackupStatistics())
            QCOMPARE(counts.FilesCopied + counts.FilesExisting, 1);
        // Each root's hash list lists the file, and the lists verify.
        for (const QString &root : Roots()) {
            QStringList checked;
            const MhlVerification verified =
                VerifyMhlHistory(root, [&](const MhlCheck &check) { checked << check.path; });
            QVERIFY2(verified.read, qPrintable(verified.trouble));
            QCOMPARE(checked, QStringList{kDated});
            QCOMPARE(verified.failures, 0);
        }
    }

    // A backup path refused at the start is named, the others get the file,
    // and the source stays on the device.
    void refusedBackup_data()
    {
        QTest::addColumn<QString>("path");  // relative to the first backup; "=" the destination
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << QStringLiteral("missing") << QStringLiteral("\" does not exist.");
        QTest::newRow("a file") << QStringLiteral("file") << QStringLiteral("\" is not a folder.");
        QTest::newRow("the destination") << QStringLiteral("=") << QStringLiteral("are the same folder");
        QTest::newRow("relative") << QStringLiteral("~rel") << QStringLiteral("is not a full folder path");
    }
    void refusedBackup()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        WriteFile(backup_[0]->path() + QStringLiteral("/file"), "x");
        const QString refused = path == QLatin1String("=")      ? rig_->dest.path()
                                : path == QLatin1String("~rel") ? QStringLiteral("relative/folder")
                                                                : backup_[0]->path() + QLatin1Char('/') + path;
        rig_->host.backupPaths = {refused, backup_[1]->path()};
        rig_->host.deleteFiles = true;
        Run({kId});
        QVERIFY(rig_->log.Texts().filter(reason).size() == 1);
        QCOMPARE(ReadAll(rig_->Path(kDated)), source_);
        QCOMPARE(ReadAll(backup_[1]->path() + QLatin1Char('/') + kDated), source_);
        QVERIFY(rig_->OnDevice(kId));
        QVERIFY(!rig_->decision.BackupStatistics().front().failure.isEmpty());
        QCOMPARE(int(rig_->run.ErrorCount), 1);
    }

    // A backup that goes away during the run is named once and nothing is
    // made in its place; the others go on, and the sources stay.
    void backupGoneMidRun()
    {
        const QString second = QStringLiteral("/store_1/DCIM/100CANON/IMG_0002.JPG");
        rig_->AddFile(QStringLiteral("IMG_0002.JPG"), Pattern(5000, 2));
        rig_->AddFile(QStringLiteral("IMG_0003.JPG"), Pattern(5000, 3));
        rig_->host.deleteFiles = true;
        rig_->Apply();
        rig_->decision.BeginRun();
        rig_->Transfer(kId);
        QVERIFY(!rig_->OnDevice(kId));
        QVERIFY(QDir(backup_[0]->path()).removeRecursively());
        rig_->Transfer(second);
        rig_->Transfer(QStringLiteral("/store_1/DCIM/100CANON/IMG_0003.JPG"));
        rig_->decision.EndDestinations();
        QCOMPARE(rig_->log.Texts().filter(QStringLiteral("failed (it is gone)")).size(), 1);
        QVERIFY(!QFileInfo::exists(backup_[0]->path()));
        QCOMPARE(FilesBelow(rig_->dest.path()).size(), 3);
        QCOMPARE(FilesBelow(backup_[1]->path()).size(), 3);
        QVERIFY(rig_->OnDevice(second));
        QCOMPARE(rig_->decision.BackupStatistics().front().FilesCopied, 1);
    }

    // A second run lists what it finds as verified; a copy changed since is
    // found by the backup's own history.
    void secondRun()
    {
        Run({kId});
        Run({kId});
        QCOMPARE(passes_, 2);
        for (const QString &root : Roots())
            QCOMPARE(QDir(root + QStringLiteral("/ascmhl")).entryList({QStringLiteral("*.mhl")}).size(), 2);
        QFile copy(backup_[1]->path() + QLatin1Char('/') + kDated);
        QVERIFY(copy.open(QIODevice::ReadWrite));
        copy.seek(100);
        copy.write("!");
        copy.close();
        QCOMPARE(VerifyMhlHistory(backup_[1]->path(), [](const MhlCheck &) {}).failures, 1);
        QCOMPARE(VerifyMhlHistory(backup_[0]->path(), [](const MhlCheck &) {}).failures, 0);
    }

    // A free name the history lists for another file is passed over.
    void knownFreeNameIsPassed()
    {
        rig_->host.backupPaths.clear();
        WriteFile(rig_->Path(kDated), "another photo");
        Run({kId});
        const QString second = rig_->Path(QStringLiteral("2016-05-04/IMG_0001 (2).JPG"));
        QCOMPARE(ReadAll(second), source_);
        QVERIFY(QFile::remove(second));
        Run({kId});
        QVERIFY(rig_->log.Has(second + QStringLiteral(" is free but named in the hash list history for another "
                                                      "file; the next name is taken.")));
        QCOMPARE(ReadAll(rig_->Path(QStringLiteral("2016-05-04/IMG_0001 (3).JPG"))), source_);
    }
};

FERROVANE_TEST_MAIN(TestBackups)
#include "tst_backups.moc"
