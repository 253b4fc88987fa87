// Whole copy runs and listings through the engine alone, on the fake device
// service: what lands on disk, the log, the counts and the announcements.

#include "common/DeviceBuilders.h"
#include "common/TestMain.h"
#include "copy/CopyTestSupport.h"

#include "copy/CopyRun.h"
#include "copy/DeviceLock.h"
#include "settings/FileFilter.h"

#include <QSignalSpy>

#include <atomic>
#include <stdexcept>

Q_DECLARE_METATYPE(CopyOutcome::End)

namespace {

constexpr int kFiles = 5;
const QString kCamera = QStringLiteral("usb:canon");

QString FileId(int i)
{
    return QStringLiteral("/store_S1/DCIM/IMG_%1.JPG").arg(i);
}
QByteArray FileData(int i)
{
    return QByteArray(1000 + i * 100, char('a' + i));
}
// Where the user's commands run.
QString ProgramFolder()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/');
}

}  // namespace

class TestCopyRun : public QObject
{
    Q_OBJECT

private:
    FakeDeviceService service_;
    MemoryLog log_;
    std::unique_ptr<DeviceConnection> connection_;
    std::unique_ptr<CopyRun> engine_;
    std::unique_ptr<QTemporaryDir> dest_;
    RunSettings settings_;
    // What the engine announced, in order.
    QStringList heard_;
    std::atomic<bool> held_{false};
    std::atomic<bool> release_{false};

    FakeDevice &Camera() { return service_.Device(kCamera); }
    QString DestFile(int i) const { return dest_->path() + QStringLiteral("/2016-08-1%1/IMG_%1.JPG").arg(i); }
    // Holds the walk at an object until released or stopped.
    void HoldAt(const QString &objectId, CopyRun &engine)
    {
        held_ = false;
        release_ = false;
        service_.onGetValues = [this, objectId, &engine](const QString &id) {
            if (id != objectId)
                return;
            held_ = true;
            QDeadlineTimer limit(60000);
            while (!release_ && !engine.State().StopSignalled && !limit.hasExpired())
                QThread::msleep(2);
        };
    }
    // One copy run to its end.
    CopyOutcome Copy(CopyRun &engine)
    {
        QSignalSpy finished(&engine, &CopyRun::copyFinished);
        QSignalSpy idle(&engine, &CopyRun::workerFinished);
        if (engine.StartCopying(kCamera, QStringLiteral("Canon EOS"), settings_) != CopyRun::Start::Started)
            return {CopyOutcome::End::Failed, {}, QStringLiteral("not started")};
        if (!idle.wait(30000) || finished.isEmpty())
            return {CopyOutcome::End::Failed, {}, QStringLiteral("no end")};
        return finished.first().first().value<CopyOutcome>();
    }
    CopyOutcome Copy() { return Copy(*engine_); }
    // The statistics block at the end of the log, or nothing.
    QStringList Statistics(qsizetype from) const
    {
        const QStringList log = log_.Texts().mid(from);
        for (qsizetype i = 0; i < log.size(); ++i)
            if (log[i].startsWith(QStringLiteral("Elapsed Time: ")))
                return log.mid(i);
        return {};
    }
    QStringList Tail(qsizetype from) const { return log_.Texts().mid(from); }

private slots:
    void init()
    {
        DebugFlag = false;
        log_.Clear();
        heard_.clear();
        dest_ = std::make_unique<QTemporaryDir>();
        FakeDevice &d = service_.AddDevice(kCamera, QStringLiteral("Canon friendly"), QStringLiteral("Canon"),
                                           QStringLiteral("EOS"));
        const QString dcim =
            d.AddFolder(d.AddStorage(QStringLiteral("Card"), QStringLiteral("store_S1")).id, QStringLiteral("DCIM")).id;
        for (int i = 1; i <= kFiles; ++i)
            d.AddFile(dcim, QStringLiteral("IMG_%1.JPG").arg(i), QStringLiteral("IMAGE"),
                      QStringLiteral("2016/08/1%1:10:22:33.000").arg(i), FileData(i));
        connection_ = std::make_unique<DeviceConnection>(service_, log_);
        engine_ = std::make_unique<CopyRun>(*connection_, log_, ProgramFolder());
        settings_ = RunSettings();
        settings_.Destination = dest_->path();
        settings_.DateFormat = QStringLiteral("yyyy-mm-dd");
        settings_.Filters.enabled = false;
        CopyRun *engine = engine_.get();
        connect(engine, &CopyRun::rowsCleared, this, [this] { heard_ << "cleared"; });
        connect(engine, &CopyRun::rowsListed, this, [this](const QList<ListedRow> &rows) {
            for (const ListedRow &r : rows)
                heard_ << "row " + r.row[5];
        });
        connect(engine, &CopyRun::rowRemoved, this, [this](const QString &id) { heard_ << "removed " + id; });
        connect(engine, &CopyRun::walkFinished, this, [this] { heard_ << "walked"; });
        connect(engine, &CopyRun::copyStarted, this, [this] { heard_ << "started"; });
        connect(engine, &CopyRun::copyFinished, this, [this] { heard_ << "finished"; });
        connect(engine, &CopyRun::workerFinished, this, [this] { heard_ << "idle"; });
    }
    void cleanup()
    {
        release_ = true;
        service_.onGetValues = nullptr;
        service_.onRead = nullptr;
        engine_.reset();
        connection_.reset();
        service_.devices.clear();
        service_.deletedIds.clear();
    }

    // A whole run: every file on disk, the statistics, and the catalogue
    // announced in order: emptied, each row once, the walk's end, the run's end.
    void wholeRun_data()
    {
        QTest::addColumn<bool>("deleteFiles");
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("leftLine");  // coded, after the deletions
        QTest::newRow("delete off: six lines") << false << 6 << "";
        QTest::newRow("delete on: seven lines") << true << 7 << "";
        QTest::newRow("delete on, a raw file the filter leaves")
            << true << 8 << "Bb 1 Files left on the device by the file filter (NEF 1).";
    }
    void wholeRun()
    {
        QFETCH(bool, deleteFiles);
        QFETCH(int, lines);
        QFETCH(QString, leftLine);
        if (!leftLine.isEmpty()) {
            Camera().AddFile(Camera().Object(QStringLiteral("/store_S1/DCIM")).id, QStringLiteral("DSC_9.NEF"),
                             QStringLiteral("IMAGE"), QStringLiteral("2016/08/19:10:22:33.000"), FileData(9));
            settings_.Filters = {true, {QStringLiteral("jpg")}};
        }
        settings_.DeleteFiles = deleteFiles;
        const CopyOutcome outcome = Copy();
        QCOMPARE(outcome.end, CopyOutcome::End::Finished);
        for (int i = 1; i <= kFiles; ++i)
            QVERIFY2(ReadAll(DestFile(i)) == FileData(i), qPrintable(log_.Texts().join('\n')));
        const QStringList stats = Statistics(0);
        QCOMPARE(stats.size(), lines);
        QCOMPARE(stats[1], QStringLiteral("5 Files located at Source."));
        QCOMPARE(stats[3], QStringLiteral("5 Files copied to Destination."));
        if (deleteFiles)
            QCOMPARE(stats[4], QStringLiteral("5 Files delete from Source."));
        if (!leftLine.isEmpty())
            QVERIFY(log_.Coded().contains(leftLine));
        QCOMPARE(stats.last(), QStringLiteral("0 Errors encountered."));
        QCOMPARE(log_.Coded().last(), QStringLiteral("Bb 0 Errors encountered."));
        QCOMPARE(outcome.counts.FilesCopied, kFiles);
        QCOMPARE(service_.deletedIds.size(), size_t(deleteFiles ? kFiles : 0));
        QCOMPARE(heard_.mid(0, 2), (QStringList{"started", "cleared"}));
        QCOMPARE(heard_.mid(heard_.size() - 3), (QStringList{"walked", "finished", "idle"}));
        qsizetype previous = 0;
        for (int i = 1; i <= kFiles; ++i) {
            const qsizetype row = heard_.indexOf(QStringLiteral("row ") + FileId(i));
            QVERIFY(row > previous);
            QCOMPARE(heard_.count(QStringLiteral("row ") + FileId(i)), 1);
            QCOMPARE(heard_.indexOf(QStringLiteral("removed ") + FileId(i)) > row, deleteFiles);
            previous = row;
        }
    }

    // A device seen for the first time keeps today's raw, phone and video
    // files with its photos; only what no camera writes stays behind, said.
    void todaysFormatsOnAFreshDevice()
    {
        const QStringList kinds{"CR2",  "CR3",  "NEF", "ARW", "DNG",  "RAF", "ORF", "RW2",  "PEF", "HEIC",
                                "heif", "AVIF", "PNG", "MTS", "M2TS", "MOD", "mkv", "opus", "JPG"};
        const QString dcim = Camera().Object(QStringLiteral("/store_S1/DCIM")).id;
        for (qsizetype i = 0; i < kinds.size(); ++i)
            Camera().AddFile(dcim, QStringLiteral("DSC_%1.").arg(i) + kinds[i], QStringLiteral("IMAGE"),
                             QStringLiteral("2016/08/19:10:22:33.000"), FileData(int(i)));
        Camera().AddFile(dcim, QStringLiteral("NOTES.TXT"), QStringLiteral("TEXT"),
                         QStringLiteral("2016/08/19:10:22:33.000"), FileData(1));
        settings_.Filters = {true, DecodeFileFilter(QString::fromLatin1(kDefaultFileFilter))};
        QCOMPARE(Copy().end, CopyOutcome::End::Finished);
        for (qsizetype i = 0; i < kinds.size(); ++i)
            QVERIFY2(ReadAll(dest_->path() + QStringLiteral("/2016-08-19/DSC_%1.").arg(i) + kinds[i]) ==
                         FileData(int(i)),
                     qPrintable(kinds[i]));
        QCOMPARE(Statistics(0).value(3), QStringLiteral("%1 Files copied to Destination.").arg(kFiles + kinds.size()));
        QVERIFY(log_.Texts().contains(QStringLiteral("1 Files left on the device by the file filter (TXT 1).")));
    }

    // How a run ends when something is wrong before or during it.
    void endings_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<CopyOutcome::End>("end");
        QTest::addColumn<QStringList>("tail");
        QTest::addColumn<QString>("lastCoded");
        const QStringList header{"Copy Started", "Device: Canon EOS", "Copy Mode: Using file date format yyyy-mm-dd",
                                 "Device Root Path: "};
        QTest::newRow("no device") << "no device" << CopyOutcome::End::DeviceNotOpen
                                   << QStringList{"Device is not open!"} << "Rb Device is not open!";
        QTest::newRow("missing destination")
            << "missing" << CopyOutcome::End::NoDestination
            << (QStringList(header) << "Destination Path: <dest>/gone"
                                    << "Destination path \"<dest>/gone\" does not exist!")
            << "Rb Destination path \"<dest>/gone\" does not exist!";
        QTest::newRow("destination is a file")
            << "file" << CopyOutcome::End::NoDestination
            << (QStringList(header) << "Destination Path: <dest>/gone"
                                    << "Destination path \"<dest>/gone\" is not a folder!")
            << "Rb Destination path \"<dest>/gone\" is not a folder!";
        QTest::newRow("a file that cannot be read")
            << "read" << CopyOutcome::End::Finished << QStringList() << "Rb 1 Errors encountered.";
    }
    void endings()
    {
        QFETCH(QString, fault);
        QFETCH(CopyOutcome::End, end);
        QFETCH(QStringList, tail);
        QFETCH(QString, lastCoded);
        if (fault == QLatin1String("no device"))
            service_.RemoveDevice(kCamera);
        else if (fault == QLatin1String("missing") || fault == QLatin1String("file"))
            settings_.Destination = dest_->path() + QStringLiteral("/gone");
        else
            Camera().Object(FileId(2)).readFailsAt = 10;
        if (fault == QLatin1String("file"))
            WriteFile(settings_.Destination, "a file");
        const CopyOutcome outcome = Copy();
        QCOMPARE(outcome.end, end);
        tail.replaceInStrings(QStringLiteral("<dest>"), dest_->path());
        QCOMPARE(Tail(log_.Texts().size() - tail.size()), tail);
        QCOMPARE(log_.Coded().last(), lastCoded.replace(QStringLiteral("<dest>"), dest_->path()));
        QCOMPARE(QFileInfo::exists(dest_->path() + QStringLiteral("/gone")), fault == QLatin1String("file"));
        // The catalogue is emptied only by a run that walks.
        QCOMPARE(heard_.contains(QStringLiteral("cleared")), end == CopyOutcome::End::Finished);
        if (fault == QLatin1String("read")) {
            QVERIFY(!QFileInfo::exists(DestFile(2)));     // nothing partial under the name
            QCOMPARE(ReadAll(DestFile(3)), FileData(3));  // the run went on
        }
    }

    void stopMidway()
    {
        settings_.PostProcessing = {true, QStringLiteral("touch [Path]/ran"), QStringLiteral("0")};
        const QString ran = dest_->path() + QStringLiteral("/ran");
        HoldAt(FileId(3), *engine_);
        QSignalSpy finished(engine_.get(), &CopyRun::copyFinished);
        QCOMPARE(engine_->StartCopying(kCamera, QStringLiteral("Canon EOS"), settings_), CopyRun::Start::Started);
        QTRY_VERIFY(held_);
        engine_->Stop();
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.first().first().value<CopyOutcome>().end, CopyOutcome::End::Stopped);
        const QStringList log = log_.Texts();
        QVERIFY(log.contains(QStringLiteral("Stop Signalled.")));
        QVERIFY(Statistics(0).isEmpty());
        QVERIFY(!log.contains(QStringLiteral("Post Processing Command:")));
        QVERIFY(!QFileInfo::exists(ran));
        // The file being handled when Stop came is not copied; none after it
        // starts; the hash list names the two that were.
        QCOMPARE(log.mid(log.size() - 4, 1),
                 QStringList{"Stopped: the file IMG_3.JPG was not copied and stays on the device."});
        QVERIFY(log.at(log.size() - 3).endsWith(QStringLiteral(".mhl (2 files).")));
        QCOMPARE(log.mid(log.size() - 2), (QStringList{"", "Stop Signalled."}));
        QCOMPARE(ReadAll(DestFile(2)), FileData(2));
        QVERIFY(!QFileInfo::exists(DestFile(3)));
        QVERIFY(!QFileInfo::exists(DestFile(4)));
        QCOMPARE(engine_->State().FilesLocated.load(), 3);
        QTRY_VERIFY(!engine_->IsActive());

        // The next run starts again from zero, and runs the command before
        // its statistics.
        service_.onGetValues = nullptr;
        const qsizetype again = log_.Texts().size();
        QCOMPARE(Copy().end, CopyOutcome::End::Finished);
        const QStringList stats = Statistics(again);
        QCOMPARE(stats.value(1), QStringLiteral("5 Files located at Source."));
        QCOMPARE(stats.value(2), QStringLiteral("2 Files already existing at Destination."));
        QCOMPARE(stats.value(3), QStringLiteral("3 Files copied to Destination."));
        QVERIFY(Tail(again).indexOf(QStringLiteral("Post Processing Command:")) < Tail(again).indexOf(stats.first()));
        QVERIFY(QFileInfo::exists(ran));
    }

    // Stop while the post-processing command runs: the run stops waiting for
    // it and ends without statistics. The command runs until the test lets
    // it end (or its folder goes), so the run cannot have waited for it.
    void postProcessingWithStop()
    {
        const QString gate = dest_->path() + QStringLiteral("/go");
        settings_.PostProcessing = {
            true, QStringLiteral("until [ -e '%1' ] || [ ! -d '%2' ]; do sleep 0.01; done").arg(gate, dest_->path()),
            QStringLiteral("0")};
        QSignalSpy finished(engine_.get(), &CopyRun::copyFinished);
        QCOMPARE(engine_->StartCopying(kCamera, QStringLiteral("Canon EOS"), settings_), CopyRun::Start::Started);
        QTRY_VERIFY(engine_->WaitsForCommand());
        engine_->Stop();
        QVERIFY(finished.wait(30000));
        QVERIFY(QFile(gate).open(QIODevice::WriteOnly));
        QCOMPARE(finished.first().first().value<CopyOutcome>().end, CopyOutcome::End::Stopped);
        QVERIFY(log_.Has(QStringLiteral("Stopped waiting for the command; it goes on running.")));
        QVERIFY(Statistics(0).isEmpty());
        QCOMPARE(ReadAll(DestFile(kFiles)), FileData(kFiles));
    }

    // The device unplugged halfway through a file: nothing partial is left,
    // nothing is deleted, the walk ends with a red line, and the run with its
    // statistics.
    void deviceGoneMidFile()
    {
        settings_.DeleteFiles = true;
        FakeObject &big = Camera().Object(FileId(3));
        big.data = Pattern(400000);
        big.size = quint64(big.data.size());
        service_.onRead = [this](const QString &id, std::uint64_t offset) {
            if (id == FileId(3) && offset >= 131072)
                service_.RemoveDevice(kCamera);
        };
        const CopyOutcome outcome = Copy();
        QCOMPARE(outcome.end, CopyOutcome::End::Finished);
        // The file's decision names the loss; the walk ends there without
        // trying the files after it.
        QVERIFY2(log_.Has(QStringLiteral("ERROR: The device is gone while copying IMG_3.JPG; it and the files after "
                                         "it were not copied.")),
                 qPrintable(log_.Texts().join('\n')));
        QVERIFY(!log_.HasPrefix(QStringLiteral("Source File: ") + FileId(4)));
        QCOMPARE(Statistics(0).last(), QStringLiteral("%1 Errors encountered.").arg(outcome.counts.ErrorCount));
        QCOMPARE(FilesBelow(dest_->path()), (QStringList{"2016-08-11/IMG_1.JPG", "2016-08-12/IMG_2.JPG"}));
        QCOMPARE(service_.deletedIds, (std::vector<QString>{FileId(1), FileId(2)}));
    }

    void exceptionOnTheWorker()
    {
        service_.onGetValues = [](const QString &id) {
            if (id == FileId(2))
                throw std::runtime_error("the device went away");
        };
        QSignalSpy failed(engine_.get(), &CopyRun::workerFailed);
        const CopyOutcome outcome = Copy();
        QCOMPARE(outcome.end, CopyOutcome::End::Failed);
        QCOMPARE(outcome.message, QStringLiteral("the device went away"));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().toString(), QStringLiteral("the device went away"));
        QVERIFY(Statistics(0).isEmpty());
        QVERIFY(!engine_->IsActive());
        // Not stuck: the next run works.
        service_.onGetValues = nullptr;
        QCOMPARE(Copy().end, CopyOutcome::End::Finished);
        QCOMPARE(Statistics(0).value(1), QStringLiteral("5 Files located at Source."));
    }

    // One worker per engine, and one copier per device across engines (and
    // processes): a second start is refused with a red line, and works once
    // the first has ended.
    void neverTwoCopiers()
    {
        DeviceConnection otherConnection(service_, log_);
        CopyRun other(otherConnection, log_, ProgramFolder());
        HoldAt(FileId(1), *engine_);
        QCOMPARE(engine_->StartCopying(kCamera, QStringLiteral("Canon EOS"), settings_), CopyRun::Start::Started);
        QTRY_VERIFY(held_);
        QCOMPARE(engine_->StartCopying(kCamera, QStringLiteral("Canon EOS"), settings_), CopyRun::Start::Busy);
        QCOMPARE(engine_->StartListing(kCamera, settings_), CopyRun::Start::Busy);
        QCOMPARE(other.StartCopying(kCamera, QStringLiteral("Canon EOS"), settings_), CopyRun::Start::DeviceInUse);
        const QString refusal =
            QStringLiteral("Device \"Canon EOS\" is being copied by another Ferrovane (process %1); "
                           "this copy did not start.")
                .arg(QCoreApplication::applicationPid());
        QCOMPARE(log_.Coded().last(), QStringLiteral("Rb ") + refusal);
        QVERIFY(!other.ClaimDevice(kCamera, QStringLiteral("Canon EOS")));  // nor a catalogue copy
        release_ = true;
        QSignalSpy idle(engine_.get(), &CopyRun::workerFinished);
        QVERIFY(idle.wait(30000));
        service_.onGetValues = nullptr;
        QCOMPARE(Copy(other).end, CopyOutcome::End::Finished);
        QVERIFY(other.ClaimDevice(kCamera, QStringLiteral("Canon EOS")));
    }

    // What the listing writes around its walk: the header with the filters
    // it goes by, then the totals, and a red line when something was not read.
    void listingLog_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("filterLine");
        QTest::addColumn<QStringList>("tail");
        const QString defaults = QStringLiteral("File Filters: ") +
                                 QString::fromLatin1(kDefaultFileFilter).replace(QLatin1Char('|'), QLatin1Char(','));
        QTest::newRow("phone") << "" << defaults
                               << QStringList{"Total Folders = 4 of 4", "Total Files = 5 of 6",
                                              "Total Size = 0 MiB of 0 MiB", "Not in the file filter: 1 TXT"};
        QTest::newRow("filters off, Camera root")
            << "camera root"
            << "File Filters: *.*"
            << QStringList{"Total Folders = 1 of 4", "Total Files = 4 of 6", "Total Size = 0 MiB of 0 MiB"};
        QTest::newRow("huge files") << "huge" << defaults
                                    << QStringList{"Total Folders = 4 of 4", "Total Files = 7 of 8",
                                                   "Total Size = 8,192 MiB of 8,192 MiB",
                                                   "Not in the file filter: 1 TXT"};
        QTest::newRow("date nobody can read")
            << "date" << defaults
            << QStringList{"Total Folders = 2 of 2", "Total Files = 1 of 1", "Total Size = 0 MiB of 0 MiB"};
        QTest::newRow("listing refused") << "refused" << defaults
                                         << QStringList{
                                                "Total Folders = 4 of 4", "Total Files = 3 of 4",
                                                "Total Size = 0 MiB of 0 MiB",
                                                "Not read = 1 (named above): the totals leave out what they hold.",
                                                "Not in the file filter: 1 TXT"};
        QTest::newRow("listing breaks off")
            << "breaks" << defaults
            << QStringList{"Total Folders = 4 of 4", "Total Files = 4 of 5", "Total Size = 0 MiB of 0 MiB",
                           "Not read = 1 (named above): the totals leave out what they hold.",
                           "Not in the file filter: 1 TXT"};
    }
    void listingLog()
    {
        QFETCH(QString, change);
        QFETCH(QString, filterLine);
        QFETCH(QStringList, tail);
        FakeDevice &d = service_.AddDevice(QStringLiteral("usb:list"), QStringLiteral("Phone"));
        BuildPhone(d);
        FakeObject &camera = d.Object(QStringLiteral("/store_1/DCIM/Camera"));
        settings_.Filters = {true, DecodeFileFilter(QString::fromLatin1(kDefaultFileFilter))};
        if (change == QLatin1String("camera root")) {
            settings_.Filters.enabled = false;
            settings_.DeviceRoot = QStringLiteral("\\Phone\\DCIM\\Camera");
        } else if (change == QLatin1String("huge")) {
            d.AddSizedFile(camera.id, QStringLiteral("big.mp4"), QStringLiteral("VIDEO"), kFakeDate, 5ull << 30);
            d.AddSizedFile(camera.id, QStringLiteral("big2.mp4"), QStringLiteral("VIDEO"), kFakeDate, 3ull << 30);
        } else if (change == QLatin1String("date")) {
            d.Object(QStringLiteral("/store_1/DCIM/Camera/VID_0002.mp4")).dateCreated = QStringLiteral("yesterday");
        } else if (change == QLatin1String("refused")) {
            camera.enumObjectsCode = E_ACCESSDENIED;
        } else if (change == QLatin1String("breaks")) {
            camera.nextFailsAfter = 1;
            camera.nextFailCode = E_ACCESSDENIED;
        }
        QVERIFY(connection_->OpenDevice(QStringLiteral("usb:list"), true));
        QSignalSpy finished(engine_.get(), &CopyRun::listingFinished);
        engine_->ListDeviceContents(settings_);
        QCOMPARE(finished.size(), 1);
        const QStringList log = log_.Texts();
        QCOMPARE(log.first(), QStringLiteral("DEVICE CONTENTS:"));
        QCOMPARE(log.value(1), filterLine);
        QCOMPARE(log.mid(log.size() - tail.size()), tail);
        QCOMPARE(heard_.count(QStringLiteral("row ") + camera.id), 1);
        QCOMPARE(heard_.last(), QStringLiteral("walked"));
    }
};

FERROVANE_TEST_MAIN(TestCopyRun)
#include "tst_copyrun.moc"
