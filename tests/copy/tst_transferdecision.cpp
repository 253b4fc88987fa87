#include "common/TestMain.h"
#include "copy/CopyTestSupport.h"

#include "base/DateFormat.h"
#include "base/NumberFormat.h"

#include <utime.h>

namespace {

const QString kId = QStringLiteral("/store_1/DCIM/100CANON/IMG_0001.JPG");
const QDateTime kDate(QDate(2016, 5, 4), QTime(13, 14, 15));

void SetTime(const QString &path, const QDateTime &when)
{
    struct utimbuf times;
    times.actime = time_t(when.toSecsSinceEpoch());
    times.modtime = time_t(when.toSecsSinceEpoch());
    ::utime(QFile::encodeName(path).constData(), &times);
}

}  // namespace

class TestTransferDecision : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CopyRig> rig_;
    QByteArray source_;

    QString Dated(const QString &name) const { return rig_->Path(QStringLiteral("2016-05-04/") + name); }
    RunState &Run() { return rig_->run; }
    QString Counters()
    {
        return QStringLiteral("located %1 existing %2 copied %3 deleted %4 errors %5")
            .arg(Run().FilesLocated)
            .arg(Run().FilesExisting)
            .arg(Run().FilesCopied)
            .arg(Run().FilesDeleted)
            .arg(Run().ErrorCount);
    }

private slots:
    void init()
    {
        DebugFlag = false;
        rig_ = std::make_unique<CopyRig>();
        source_ = Pattern(300000);
        rig_->AddFile(QStringLiteral("IMG_0001.JPG"), source_);
        QVERIFY(rig_->Open());
    }

    void destinationName_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("folderMode");
        QTest::addColumn<QString>("expected");  // "!" + start of the error line when refused
        const QString id = kId;
        QTest::newRow("date, with delimiter")
            << "/D/Photos/"
            << "yyyy-mm-dd" << id << "IMG_0001.JPG" << false << "/D/Photos/2016-05-04/IMG_0001.JPG";
        QTest::newRow("date, without") << "/D/Photos"
                                       << "yyyy-mm-dd" << id << "IMG_0001.JPG" << false
                                       << "/D/Photos/2016-05-04/IMG_0001.JPG";
        QTest::newRow("backslash nests") << "/D"
                                         << "yyyy\\mm" << id << "a.jpg" << false << "/D/2016/05/a.jpg";
        QTest::newRow("separator nests") << "/D"
                                         << "yyyy/mm/dd" << id << "a.jpg" << false << "/D/2016/05/04/a.jpg";
        QTest::newRow("folder mode") << "/D/Photos"
                                     << "" << id << "IMG_0001.JPG" << true << "/D/Photos/DCIM/100CANON/IMG_0001.JPG";
        QTest::newRow("storage root") << "/D/Photos"
                                      << ""
                                      << "/store_00010001/IMG_0001.JPG"
                                      << "IMG_0001.JPG" << true << "/D/Photos/IMG_0001.JPG";
        QTest::newRow("other identifier") << "/D/Photos"
                                          << ""
                                          << "IMG_0001.JPG"
                                          << "IMG_0001.JPG" << true << "/D/Photos/IMG_0001.JPG";
        QTest::newRow("empty name") << "/D"
                                    << "yyyy" << id << "" << false << "!ERROR: Refused the file name";
        QTest::newRow("dot") << "/D"
                             << "yyyy" << id << "." << false << "!ERROR: Refused the file name";
        QTest::newRow("dot dot") << "/D"
                                 << "yyyy" << id << ".." << false << "!ERROR: Refused the file name";
        QTest::newRow("slash") << "/D"
                               << "yyyy" << id << "../../etc/passwd" << false << "!ERROR: Refused the file name";
        QTest::newRow("nul") << "/D"
                             << "yyyy" << id << QString("a") + QChar(0) + "b" << false
                             << "!ERROR: Refused the file name";
        QTest::newRow("folder dot dot") << "/D"
                                        << ""
                                        << "/store_1/../../x/a.jpg"
                                        << "a.jpg" << true << "!ERROR: Refused the folder name";
        QTest::newRow("folder empty") << "/D"
                                      << ""
                                      << "/store_1//a.jpg"
                                      << "a.jpg" << true << "!ERROR: Refused the folder name";
        QTest::newRow("date leaves") << "/D"
                                     << "'..'" << id << "a.jpg" << false << "!ERROR: The date folder";
        QTest::newRow("no destination") << ""
                                        << "yyyy" << id << "a.jpg" << false << "!ERROR: The Destination Path";
        QTest::newRow("relative destination") << "Photos"
                                              << "yyyy" << id << "a.jpg" << false << "!ERROR: The Destination Path";
    }
    void destinationName()
    {
        QFETCH(QString, destination);
        QFETCH(QString, format);
        QFETCH(QString, id);
        QFETCH(QString, name);
        QFETCH(bool, folderMode);
        QFETCH(QString, expected);
        FormatSettings settings;
        settings.DateSeparator = QLatin1Char('/');
        const DestinationName result = DestinationFileName(destination, format, settings, id, name, kDate, folderMode);
        if (expected.startsWith(QLatin1Char('!'))) {
            QVERIFY(result.fileName.isEmpty());
            QVERIFY2(result.error.startsWith(expected.mid(1)), qPrintable(result.error));
        } else {
            QCOMPARE(result.fileName, expected);
            QVERIFY(result.error.isEmpty());
        }
    }

    void newFileLines()
    {
        rig_->Transfer(kId);
        const QString dest = Dated(QStringLiteral("IMG_0001.JPG"));
        const QString folder = rig_->Path(QStringLiteral("2016-05-04/"));
        const QStringList expected = {
            "B Source File: " + kId,
            "K Dated: " + DateTimeToStr(kDate, UserLocaleSettings()),
            "K Size: 293 KiB",
            "K Copying file IMG_0001.JPG to " + dest + " ...",
            "K Directory " + folder + " created.",
            "G Copied file IMG_0001.JPG to " + dest,
            "K Size: 293 KiB",
            "K Source and Destination files match.",
            "K Proof: the copy has the file's size, and the device had nothing past its end.",
        };
        QCOMPARE(rig_->log.Coded(), expected);
        QCOMPARE(ReadAll(dest), source_);
        QCOMPARE(QFileInfo(dest).lastModified(), kDate);
        QCOMPARE(Counters(), QStringLiteral("located 1 existing 0 copied 1 deleted 0 errors 0"));
        QCOMPARE(Run().BytesCopied.load(), quint64(300000));
        QCOMPARE(rig_->commands, QStringList{folder + "|IMG_0001.JPG"});
        QCOMPARE(rig_->host.selected, QStringList{kId});
        QVERIFY(rig_->OnDevice(kId));
    }

    void folderMode()
    {
        rig_->Transfer(kId, true);
        QCOMPARE(ReadAll(rig_->Path(QStringLiteral("DCIM/100CANON/IMG_0001.JPG"))), source_);
    }

    // What a second run finds, and whether the source may go.
    void existingDestination_data()
    {
        QTest::addColumn<QString>("existing");  // same / other bytes / truncated / longer / shorter other
        QTest::addColumn<bool>("sameTime");
        QTest::addColumn<bool>("byteLevel");
        QTest::addColumn<QString>("counters");
        QTest::addColumn<QString>("copyAt");  // where the source's bytes are afterwards
        QTest::addColumn<bool>("deleted");
        QTest::newRow("same, same time") << "same" << true << false
                                         << "located 1 existing 1 copied 0 deleted 1 errors 0"
                                         << "IMG_0001.JPG" << true;
        QTest::newRow("same size, other time")
            << "same" << false << false << "located 1 existing 1 copied 0 deleted 1 errors 0"
            << "IMG_0001.JPG" << true;
        QTest::newRow("same, byte level")
            << "same" << false << true << "located 1 existing 1 copied 0 deleted 1 errors 0"
            << "IMG_0001.JPG" << true;
        QTest::newRow("other bytes, byte level")
            << "other" << true << true << "located 1 existing 0 copied 1 deleted 1 errors 0"
            << "IMG_0001 (2).JPG" << true;
        // Size and date alike prove nothing: the bytes decide before the source goes.
        QTest::newRow("other bytes, size only")
            << "other" << true << false << "located 1 existing 0 copied 1 deleted 1 errors 0"
            << "IMG_0001 (2).JPG" << true;
        QTest::newRow("truncated") << "truncated" << true << false << "located 1 existing 0 copied 1 deleted 1 errors 0"
                                   << "IMG_0001.JPG" << true;
        QTest::newRow("truncated, byte level")
            << "truncated" << true << true << "located 1 existing 0 copied 1 deleted 1 errors 0"
            << "IMG_0001.JPG" << true;
        QTest::newRow("longer") << "longer" << true << false << "located 1 existing 0 copied 1 deleted 1 errors 0"
                                << "IMG_0001 (2).JPG" << true;
        QTest::newRow("shorter, other") << "shorter" << true << false
                                        << "located 1 existing 0 copied 1 deleted 1 errors 0"
                                        << "IMG_0001 (2).JPG" << true;
    }
    void existingDestination()
    {
        QFETCH(QString, existing);
        QFETCH(bool, sameTime);
        QFETCH(bool, byteLevel);
        QFETCH(QString, counters);
        QFETCH(QString, copyAt);
        QFETCH(bool, deleted);
        QByteArray other = source_;
        other[100] = char(other[100] ^ 0x55);
        const QByteArray before = existing == QLatin1String("same")        ? source_
                                  : existing == QLatin1String("other")     ? other
                                  : existing == QLatin1String("truncated") ? source_.left(131072)
                                  : existing == QLatin1String("longer")    ? source_ + "tail"
                                                                           : other.left(1000);
        const QString dest = Dated(QStringLiteral("IMG_0001.JPG"));
        WriteFile(dest, before);
        SetTime(dest, sameTime ? kDate : kDate.addDays(-3));
        rig_->host.byteLevel = byteLevel;
        rig_->host.deleteFiles = true;
        rig_->Transfer(kId);
        QCOMPARE(Counters(), counters);
        if (!copyAt.isEmpty())
            QCOMPARE(ReadAll(Dated(copyAt)), source_);
        // A different file is still there, byte for byte.
        if (copyAt != QLatin1String("IMG_0001.JPG"))
            QCOMPARE(ReadAll(dest), before);
        QCOMPARE(!rig_->OnDevice(kId), deleted);
        QCOMPARE(rig_->log.Has(QStringLiteral("Deleted file IMG_0001.JPG from device.")), deleted);
        for (const QString &f : FilesBelow(rig_->dest.path()))
            QVERIFY2(!StreamTransfer::IsTemporaryName(NameOf(f)), qPrintable(f));
    }

    // A file put beside a different one is found there by the next run.
    void secondRunFindsNumberedCopy_data()
    {
        QTest::addColumn<bool>("byteLevel");
        QTest::addColumn<QByteArray>("other");  // the different file under the name
        QTest::newRow("size only") << false << QByteArray("another camera's picture");
        QTest::newRow("size only, a longer file") << false << Pattern(400000, 9);
        QTest::newRow("byte level") << true << QByteArray("another camera's picture");
    }
    void secondRunFindsNumberedCopy()
    {
        QFETCH(bool, byteLevel);
        QFETCH(QByteArray, other);
        const QString dest = Dated(QStringLiteral("IMG_0001.JPG"));
        WriteFile(dest, other);
        // The free name is chosen before the transfer and named in its line.
        const QString copying = "Copying file IMG_0001.JPG to " + Dated(QStringLiteral("IMG_0001 (2).JPG")) + " ...";
        bool namedFirst = true;
        rig_->service.onRead = [&](const QString &, std::uint64_t offset) {
            namedFirst = namedFirst && (offset == 0 || rig_->log.Has(copying));
        };
        rig_->Transfer(kId);
        rig_->service.onRead = {};
        QVERIFY(namedFirst);
        QCOMPARE(ReadAll(Dated(QStringLiteral("IMG_0001 (2).JPG"))), source_);
        const QStringList coded = rig_->log.Coded();
        const qsizetype kept = coded.indexOf("K Destination file " + dest + " is a different file and is kept.");
        QVERIFY2(kept > 0, qPrintable(coded.join('\n')));
        QCOMPARE(coded.mid(kept + 1, 2), (QStringList{"K " + copying, "G Copied file IMG_0001.JPG to " +
                                                                          Dated(QStringLiteral("IMG_0001 (2).JPG"))}));
        QVERIFY(!rig_->log.HasPrefix("Copying file IMG_0001.JPG to " + dest));
        rig_->host.byteLevel = byteLevel;
        rig_->Transfer(kId);
        QCOMPARE(Counters(), QStringLiteral("located 2 existing 1 copied 1 deleted 0 errors 0"));
        QCOMPARE(FilesBelow(rig_->Path(QStringLiteral("2016-05-04"))),
                 (QStringList{"IMG_0001 (2).JPG", "IMG_0001.JPG"}));
    }

    // Two cameras' folders, one name, one size, other bytes: both photos
    // land whatever the settings; a name and a size prove nothing.
    void sameNameSameSizeOtherPhoto_data()
    {
        QTest::addColumn<bool>("byteLevel");
        QTest::addColumn<bool>("deleteFiles");
        QTest::newRow("defaults") << false << false;
        QTest::newRow("delete") << false << true;
        QTest::newRow("byte level") << true << false;
    }
    void sameNameSameSizeOtherPhoto()
    {
        QFETCH(bool, byteLevel);
        QFETCH(bool, deleteFiles);
        QByteArray other = source_;
        other[0] = char(other[0] ^ 1);
        rig_->Device().AddFolder(QStringLiteral("/store_1/DCIM"), QStringLiteral("101CANON"));
        rig_->Device().AddFile(QStringLiteral("/store_1/DCIM/101CANON"), QStringLiteral("IMG_0001.JPG"),
                               QStringLiteral("IMAGE"), QStringLiteral("2016/05/04:13:14:15.000"), other);
        rig_->host.byteLevel = byteLevel;
        rig_->host.deleteFiles = deleteFiles;
        rig_->Transfer(kId);
        rig_->Transfer(QStringLiteral("/store_1/DCIM/101CANON/IMG_0001.JPG"));
        QCOMPARE(Counters(),
                 QStringLiteral("located 2 existing 0 copied 2 deleted %1 errors 0").arg(deleteFiles ? 2 : 0));
        QCOMPARE(ReadAll(Dated(QStringLiteral("IMG_0001.JPG"))), source_);
        QCOMPARE(ReadAll(Dated(QStringLiteral("IMG_0001 (2).JPG"))), other);
    }

    // Every match names its proof; a comparison writes nothing and reads
    // the device once; the import record spares the device altogether.
    void proofs_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("byteLevel");
        QTest::addColumn<QString>("proof");
        QTest::newRow("new") << "" << false
                             << "Proof: the copy has the file's size, and the device had nothing past its end.";
        QTest::newRow("new, byte level") << "" << true
                                         << "Proof: the copy, read back from the disk, has the XXH3-128 hash ";
        QTest::newRow("present") << "present" << false << "Proof: compared byte for byte with the file on the device.";
        QTest::newRow("present, byte level")
            << "present" << true << "Proof: compared byte for byte with the file on the device.";
        QTest::newRow("recorded") << "recorded" << false
                                  << "Proof: the import record names this file as the copy of this device file, "
                                     "unchanged since it was placed.";
        QTest::newRow("recorded, touched since")
            << "touched" << false << "Proof: compared byte for byte with the file on the device.";
        QTest::newRow("recorded, byte level") << "recorded" << true
                                              << "Proof: the import record names this file as the copy of this device "
                                                 "file, unchanged since it was placed.";
    }
    void proofs()
    {
        QFETCH(QString, setup);
        QFETCH(bool, byteLevel);
        QFETCH(QString, proof);
        QTemporaryDir records;
        rig_->decision.SetImportRecordPath(records.path() + QStringLiteral("/record.sqlite"));
        const QString dest = Dated(QStringLiteral("IMG_0001.JPG"));
        if (setup == QLatin1String("present")) {
            WriteFile(dest, source_);
        } else if (!setup.isEmpty()) {
            rig_->Transfer(kId);
            if (setup == QLatin1String("touched"))
                SetTime(dest, kDate.addSecs(1));
            rig_->decision.EndRecord();
        }
        rig_->log.Clear();
        rig_->host.byteLevel = byteLevel;
        rig_->host.deleteFiles = true;
        int reads = 0;
        rig_->service.onRead = [&](const QString &, std::uint64_t) { ++reads; };
        rig_->Transfer(kId);
        rig_->service.onRead = {};
        rig_->decision.EndRecord();
        const QStringList texts = rig_->log.Texts();
        const qsizetype match = texts.indexOf(QStringLiteral("Source and Destination files match."));
        QVERIFY2(match > 0 && texts.value(match + 1).startsWith(proof), qPrintable(texts.join('\n')));
        if (proof.contains(QLatin1String("XXH3-128")))
            QCOMPARE(texts.value(match + 1), proof + HashBytes(source_).Text() + " of the bytes the device gave.");
        QCOMPARE(ReadAll(dest), source_);
        QCOMPARE(FilesBelow(rig_->Path(QStringLiteral("2016-05-04"))), QStringList{"IMG_0001.JPG"});
        QVERIFY(!rig_->OnDevice(kId));
        if (proof.contains(QLatin1String("import record")))
            QCOMPARE(reads, 0);
        else if (proof.contains(QLatin1String("compared")))
            QVERIFY2(reads > 0 && reads <= 3,
                     qPrintable(QString::number(reads)));  // once, in large pieces, and its end
    }

    // Stop during the read-back of a verified copy: nothing is placed and
    // the file stays on the device.
    void stopDuringReadBack()
    {
        rig_->host.byteLevel = true;
        rig_->host.deleteFiles = true;
        rig_->service.onRead = [&](const QString &, std::uint64_t offset) {
            if (offset >= std::uint64_t(source_.size()))
                Run().StopSignalled = true;
        };
        rig_->Transfer(kId);
        rig_->service.onRead = {};
        QVERIFY(
            rig_->log.Has(QStringLiteral("Stopped: the file IMG_0001.JPG was not copied and stays on the device.")));
        QVERIFY(rig_->OnDevice(kId));
        QCOMPARE(FilesBelow(rig_->dest.path()), QStringList{});
    }

    // An object longer than it says is never a whole copy and never goes,
    // also when the file there holds the bytes it declared.
    void objectLongerThanDeclared_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("new") << false;
        QTest::newRow("declared part present") << true;
    }
    void objectLongerThanDeclared()
    {
        QFETCH(bool, present);
        rig_->Device().Object(kId).extraBytes = 5000;
        if (present)
            WriteFile(Dated(QStringLiteral("IMG_0001.JPG")), source_);
        rig_->host.deleteFiles = true;
        rig_->Transfer(kId);
        QCOMPARE(Counters(), QStringLiteral("located 1 existing 0 copied 0 deleted 0 errors 1"));
        QVERIFY(rig_->OnDevice(kId));
        QVERIFY(!rig_->log.Has(QStringLiteral("Source and Destination files match.")));
        QVERIFY(rig_->log.HasPrefix(QStringLiteral("FATAL ERROR: Destination file ")));
        QCOMPARE(FilesBelow(rig_->dest.path()).size(), present ? 1 : 0);
    }

    // Another run takes the free name while ours is on its way: ours goes
    // to the next one, and that is no error.
    void nameTakenMeanwhile()
    {
        const QString dest = Dated(QStringLiteral("IMG_0001.JPG"));
        rig_->service.onRead = [&](const QString &, std::uint64_t offset) {
            if (offset > 0 && !QFile::exists(dest))
                WriteFile(dest, "another run's photo");
        };
        rig_->Transfer(kId);
        rig_->service.onRead = {};
        QCOMPARE(Counters(), QStringLiteral("located 1 existing 0 copied 1 deleted 0 errors 0"));
        QCOMPARE(ReadAll(dest), QByteArray("another run's photo"));
        QCOMPARE(ReadAll(Dated(QStringLiteral("IMG_0001 (2).JPG"))), source_);
    }

    // Names and paths at the file system's limits: the real reason, and a
    // free name that fits.
    void limits()
    {
        const QString longName = QString(250, QLatin1Char('A')) + QStringLiteral(".JPG");
        rig_->AddFile(longName, source_);
        WriteFile(Dated(longName), Pattern(300000, 5));
        rig_->Transfer(QStringLiteral("/store_1/DCIM/100CANON/") + longName);
        const QString numbered = StreamTransfer::NumberedName(Dated(longName), 2);
        QCOMPARE(NameOf(numbered).toUtf8().size(), 255);
        QVERIFY(numbered.endsWith(QLatin1String("A (2).JPG")));
        QCOMPARE(ReadAll(numbered), source_);

        rig_->log.Clear();
        QString deep = rig_->dest.path();  // past PATH_MAX
        for (int i = 0; i < 18; ++i)
            deep += QLatin1Char('/') + QString(250, QLatin1Char('d'));
        rig_->host.destination = deep;
        rig_->Transfer(kId);
        QVERIFY2(rig_->log.Coded().contains(QStringLiteral("Rb ERROR: Could not transfer the file from the device.")) ||
                     rig_->log.HasPrefix(QStringLiteral("ERROR: Directory ")),
                 qPrintable(rig_->log.Texts().join('\n')));
        bool reason = false;
        for (const QString &t : rig_->log.Texts())
            reason |= t.endsWith(QLatin1String("File name too long"));
        QVERIFY2(reason, qPrintable(rig_->log.Texts().join('\n')));
        QVERIFY(!rig_->log.HasPrefix(QStringLiteral("Could not read")));
        QVERIFY(!rig_->log.Texts().join('\n').contains(QLatin1String("is not a plain file")));
    }

    // Skip files imported before: once imported, never again, wherever the
    // copy went; the device keeps it. A damaged record is said once, and the
    // run goes on comparing.
    void importRecordOptions()
    {
        QTemporaryDir records;
        const QString record = records.path() + QStringLiteral("/record.sqlite");
        rig_->decision.SetImportRecordPath(record);
        rig_->Transfer(kId);
        rig_->decision.EndRecord();
        QVERIFY(QFile::rename(Dated(QStringLiteral("IMG_0001.JPG")), rig_->Path(QStringLiteral("moved.JPG"))));
        rig_->host.skipImportedBefore = true;
        rig_->host.deleteFiles = true;
        rig_->log.Clear();
        rig_->Transfer(kId);
        rig_->decision.EndRecord();
        QVERIFY(rig_->log.Has(
            QStringLiteral("Skipped file IMG_0001.JPG: the import record shows it was imported before.")));
        QVERIFY(rig_->OnDevice(kId));
        QVERIFY(!QFile::exists(Dated(QStringLiteral("IMG_0001.JPG"))));

        QFile::remove(record + QStringLiteral("-wal"));
        QFile::remove(record + QStringLiteral("-shm"));
        WriteFile(record, QByteArray(4096, 'x'));
        rig_->host.deleteFiles = false;
        rig_->log.Clear();
        rig_->Transfer(kId);
        rig_->Transfer(kId);
        rig_->decision.EndRecord();
        int red = 0;
        for (const LoggedLine &line : rig_->log.lines)
            red += line.color == LogColor::Red;
        QCOMPARE(red, 1);
        QVERIFY(rig_->log.Has(QStringLiteral("Proof: compared byte for byte with the file on the device.")));
        QCOMPARE(ReadAll(record), QByteArray(4096, 'x'));
    }

    void sizeMismatchLines()
    {
        const QString dest = Dated(QStringLiteral("IMG_0001.JPG"));
        WriteFile(dest, source_.left(5000));
        rig_->Transfer(kId);
        const QStringList coded = rig_->log.Coded();
        QVERIFY(coded.contains("K Destination file found " + dest));
        QVERIFY(coded.contains("K Size: 5 KiB"));
        QVERIFY(coded.contains("R Destination file " + dest + " has SIZE mismatch with Source file."));
        QVERIFY(coded.contains("R Overwritting Destination file..."));
        QVERIFY(coded.contains("G Copied file IMG_0001.JPG to " + dest));
    }

    // A different file under the name and the copy of an earlier run at
    // "(2)": the match is named and nothing is red; a "(2)" of the same size
    // that is not the copy leaves the mismatch said in red.
    void numberedCopyFromAnEarlierRun_data()
    {
        QTest::addColumn<bool>("copyMatches");
        QTest::newRow("the copy at (2)") << true;
        QTest::newRow("another file at (2)") << false;
    }
    void numberedCopyFromAnEarlierRun()
    {
        QFETCH(bool, copyMatches);
        const QString dest = Dated(QStringLiteral("IMG_0001.JPG"));
        const QString second = Dated(QStringLiteral("IMG_0001 (2).JPG"));
        WriteFile(dest, QByteArray(5000, 'z'));
        QByteArray earlier = source_;
        if (!copyMatches)
            earlier[10] = char(earlier[10] ^ 1);
        WriteFile(second, earlier);
        rig_->Transfer(kId);
        const QStringList coded = rig_->log.Coded();
        QVERIFY(coded.contains("K Destination file found " + second));
        QCOMPARE(coded.contains("R Destination file " + dest + " has SIZE mismatch with Source file."), !copyMatches);
        QCOMPARE(coded.filter(QRegularExpression(QStringLiteral("^R "))).isEmpty(), copyMatches);
        QCOMPARE(coded.contains("K Source and Destination files match."), true);
    }

    void forceRun_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("forceRun");
        QTest::addColumn<int>("commands");
        QTest::newRow("copied") << false << false << 1;
        QTest::newRow("copied, force") << false << true << 1;
        QTest::newRow("present") << true << false << 0;
        QTest::newRow("present, force") << true << true << 1;
    }
    void forceRun()
    {
        QFETCH(bool, present);
        QFETCH(bool, forceRun);
        QFETCH(int, commands);
        if (present)
            WriteFile(Dated(QStringLiteral("IMG_0001.JPG")), source_);
        rig_->host.forceRun = forceRun;
        rig_->Transfer(kId);
        QCOMPARE(rig_->commands.size(), commands);
        if (commands)
            QCOMPARE(rig_->commands.front(), rig_->Path(QStringLiteral("2016-05-04/")) + "|IMG_0001.JPG");
    }

    // Every error ends the file with a red bold line, counts it, keeps the
    // source and runs no command; the next file goes on.
    void errorExits_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("line");
        QTest::newRow("read fails") << "read"
                                    << "ERROR: Could not transfer the file from the device.";
        QTest::newRow("short stream") << "short"
                                      << "FATAL ERROR: Destination file %DEST file size mismatch with Source file.";
        QTest::newRow("folder") << "folder"
                                << "ERROR: Directory %FOLDER Could not be created.";
        QTest::newRow("delete fails") << "delete"
                                      << "ERROR: Could not delete the file IMG_0001.JPG from the device.";
        QTest::newRow("byte level read fails") << "byteread"
                                               << "ERROR: Could not transfer the file from the device.";
        QTest::newRow("hostile name") << "name"
                                      << "ERROR: Refused the file name \"..\" of " + kId +
                                             ": it cannot be a local file name.";
    }
    void errorExits()
    {
        QFETCH(QString, failure);
        QFETCH(QString, line);
        FakeObject &o = rig_->Device().Object(kId);
        const QString dest = Dated(QStringLiteral("IMG_0001.JPG"));
        const QString folder = rig_->Path(QStringLiteral("2016-05-04/"));
        if (failure == QLatin1String("read"))
            o.readFailsAt = 131072;
        else if (failure == QLatin1String("short"))
            o.readEndsAt = 200000;
        else if (failure == QLatin1String("folder"))
            WriteFile(rig_->Path(QStringLiteral("2016-05-04")), "a file where the folder goes");
        else if (failure == QLatin1String("delete"))
            o.deleteCode = E_ACCESSDENIED;
        else if (failure == QLatin1String("byteread")) {
            WriteFile(dest, source_);
            rig_->host.byteLevel = true;
            o.readFailsAt = 131072;
        } else if (failure == QLatin1String("name"))
            o.originalFileName = QStringLiteral("..");
        rig_->host.deleteFiles = true;
        rig_->Transfer(kId);
        line.replace(QLatin1String("%DEST"), dest).replace(QLatin1String("%FOLDER"), folder);
        QVERIFY2(rig_->log.Coded().contains("Rb " + line), qPrintable(rig_->log.Coded().join('\n')));
        QCOMPARE(Run().ErrorCount.load(), 1);
        QCOMPARE(Run().FilesDeleted.load(), 0);
        QVERIFY(rig_->OnDevice(kId));
        QVERIFY(rig_->commands.isEmpty());
        QVERIFY(rig_->host.messages.isEmpty());
        // Nothing under the final name but the source's bytes.
        if (QFile::exists(dest))
            QCOMPARE(ReadAll(dest), source_);
        if (failure == QLatin1String("delete")) {
            QVERIFY(rig_->log.Has(QStringLiteral("Failed to Delete the file using aPortableDeviceContent.Delete.")));
            QVERIFY(rig_->host.removed.isEmpty());
        }
        // The run goes on.
        rig_->AddFile(QStringLiteral("NEXT.JPG"), "next");
        rig_->Transfer(QStringLiteral("/store_1/DCIM/100CANON/NEXT.JPG"));
        if (failure != QLatin1String("folder"))
            QCOMPARE(ReadAll(Dated(QStringLiteral("NEXT.JPG"))), QByteArray("next"));
    }

    // Side files go to their main file's date folder whatever their own
    // date, coming before or after it in the listing; one without a main
    // file (or whose main file lies in another folder) keeps its own date.
    // With Delete files on each is deleted only on its own proof.
    void sideFiles_data()
    {
        QTest::addColumn<QStringList>("files");   // "FOLDER/NAME@YYYY-MM-DD[!]" in listing order; "!": its read fails
        QTest::addColumn<QStringList>("placed");  // files below the destination
        QTest::addColumn<QStringList>("kept");    // names still on the device (Delete files on)
        QTest::newRow("XMP and AAE after the raw")
            << QStringList{"100CANON/IMG_0001.CR2@2016-05-04", "100CANON/IMG_0001.XMP@2016-06-01",
                           "100CANON/IMG_0001.aae@2016-06-02"}
            << QStringList{"2016-05-04/IMG_0001.CR2", "2016-05-04/IMG_0001.XMP", "2016-05-04/IMG_0001.aae"}
            << QStringList{};
        QTest::newRow("THM before its MOV")
            << QStringList{"100CANON/MVI_0002.THM@2016-05-05", "100CANON/MVI_0002.MOV@2016-05-04"}
            << QStringList{"2016-05-04/MVI_0002.MOV", "2016-05-04/MVI_0002.THM"} << QStringList{};
        QTest::newRow("iPhone edit and its AAE")
            << QStringList{"100APPLE/IMG_E0003.HEIC@2016-07-01", "100APPLE/IMG_0003.AAE@2016-07-01",
                           "100APPLE/IMG_0003.HEIC@2016-05-04"}
            << QStringList{"2016-05-04/IMG_0003.AAE", "2016-05-04/IMG_0003.HEIC", "2016-05-04/IMG_E0003.HEIC"}
            << QStringList{};
        QTest::newRow("XMP named after the whole name")
            << QStringList{"100CANON/IMG_0004.CR2@2016-05-04", "100CANON/IMG_0004.CR2.xmp@2016-06-01"}
            << QStringList{"2016-05-04/IMG_0004.CR2", "2016-05-04/IMG_0004.CR2.xmp"} << QStringList{};
        QTest::newRow("no main file: its own date")
            << QStringList{"100CANON/IMG_0005.XMP@2016-06-01", "100APPLE/IMG_E0006.HEIC@2016-07-01"}
            << QStringList{"2016-06-01/IMG_0005.XMP", "2016-07-01/IMG_E0006.HEIC"} << QStringList{};
        QTest::newRow("main file in another folder")
            << QStringList{"100CANON/IMG_0007.JPG@2016-05-04", "101CANON/IMG_0007.XMP@2016-06-01"}
            << QStringList{"2016-05-04/IMG_0007.JPG", "2016-06-01/IMG_0007.XMP"} << QStringList{};
        QTest::newRow("a side file that fails stays on the device")
            << QStringList{"100CANON/IMG_0008.JPG@2016-05-04", "100CANON/IMG_0008.XMP@2016-06-01!"}
            << QStringList{"2016-05-04/IMG_0008.JPG"} << QStringList{"IMG_0008.XMP"};
    }
    void sideFiles()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, placed);
        QFETCH(QStringList, kept);
        rig_->Device().objects.erase(kId);
        rig_->host.deleteFiles = true;
        QStringList ids, folders;
        for (QString file : files) {
            const bool fails = file.endsWith(QLatin1Char('!'));
            if (fails)
                file.chop(1);
            const QString folder = QStringLiteral("/store_1/DCIM/") + file.section(QLatin1Char('/'), 0, 0);
            const QString name = file.section(QLatin1Char('/'), 1).section(QLatin1Char('@'), 0, 0);
            const QString date = file.section(QLatin1Char('@'), 1).replace(QLatin1Char('-'), QLatin1Char('/'));
            if (!folders.contains(folder)) {
                folders << folder;
                if (!rig_->Device().objects.count(folder))
                    rig_->Device().AddFolder(QStringLiteral("/store_1/DCIM"), folder.section(QLatin1Char('/'), -1));
            }
            FakeObject &o = rig_->Device().AddFile(folder, name, QStringLiteral("IMAGE"),
                                                   date + QStringLiteral(":12:00:00.000"), name.toLatin1());
            if (fails)
                o.readFailsAt = 0;
            ids << o.id;
        }
        // As the walk hands them over: folder by folder, each ended by FolderDone.
        rig_->decision.BeginRun();
        for (const QString &folder : std::as_const(folders)) {
            for (const QString &id : std::as_const(ids))
                if (id.startsWith(folder + QLatin1Char('/')))
                    rig_->Transfer(id);
            rig_->decision.FolderDone(folder);
        }
        rig_->decision.EndSideFiles(true);
        QCOMPARE(FilesBelow(rig_->dest.path()), placed);
        for (const QString &relative : placed)
            QCOMPARE(ReadAll(rig_->Path(relative)), relative.section(QLatin1Char('/'), -1).toLatin1());
        QStringList left;
        for (const QString &id : std::as_const(ids))
            if (rig_->OnDevice(id))
                left << id.section(QLatin1Char('/'), -1);
        QCOMPARE(left, kept);
        QCOMPARE(Run().FilesDeleted.load(), int(files.size() - kept.size()));
        QCOMPARE(Run().ErrorCount.load(), int(kept.size()));
    }

    // Waiting side files are not decided after a stop or a lost device:
    // one red line says how many stay on the device.
    void sideFilesLeftAtTheEnd()
    {
        const QString xmp = rig_->AddFile(QStringLiteral("IMG_0001.XMP"), "xmp").id;
        rig_->decision.BeginRun();
        rig_->Transfer(xmp);
        QVERIFY(FilesBelow(rig_->dest.path()).isEmpty());
        Run().StopSignalled = true;
        rig_->decision.EndSideFiles(true);
        QVERIFY(FilesBelow(rig_->dest.path()).isEmpty());
        QVERIFY2(rig_->log.Coded().contains(QStringLiteral("R Not copied: 1 side file(s) (XMP, THM, AAE, edits) "
                                                           "that wait for the rest of their folder; they stay on "
                                                           "the device.")),
                 qPrintable(rig_->log.Coded().join('\n')));
    }

    // A device that goes away during a transfer ends the run there: the
    // file is named, the reason said in words, and nothing after it is tried.
    void deviceGoneEndsTheRun()
    {
        rig_->AddFile(QStringLiteral("IMG_0002.JPG"), "second");
        rig_->service.onRead = [this](const QString &, std::uint64_t offset) {
            if (offset >= 131072)
                rig_->service.RemoveDevice(QStringLiteral("usb:1"));
        };
        rig_->decision.BeginRun();
        rig_->Transfer(kId);
        QVERIFY(rig_->decision.DeviceLost());
        const QStringList red = rig_->log.Coded().filter(QRegularExpression(QStringLiteral("^R")));
        QVERIFY2(red.size() == 2, qPrintable(red.join('\n')));
        QVERIFY2(red[0].startsWith(QStringLiteral("R Could not read IMG_0001.JPG from the device: The device or "
                                                  "memory card is no longer connected")),
                 qPrintable(red[0]));
        QCOMPARE(red[1], QStringLiteral("Rb ERROR: The device is gone while copying IMG_0001.JPG; it and the files "
                                        "after it were not copied."));
        rig_->log.Clear();
        rig_->Apply();
        rig_->decision.TransferFile(QStringLiteral("/store_1/DCIM/100CANON/IMG_0002.JPG"),
                                    QStringLiteral("IMG_0002.JPG"), kDate, 6, false);
        QVERIFY(rig_->log.Texts().isEmpty());
        QVERIFY(rig_->decision.EndedInError());
        QCOMPARE(Run().ErrorCount.load(), 1);
        QVERIFY(FilesBelow(rig_->dest.path()).isEmpty());
    }

    void deleteRemovesRow()
    {
        rig_->host.deleteFiles = true;
        rig_->Transfer(kId);
        QCOMPARE(rig_->host.removed, QStringList{kId});
        QCOMPARE(Counters(), QStringLiteral("located 1 existing 0 copied 1 deleted 1 errors 0"));
        QCOMPARE(rig_->service.deletedIds, std::vector<QString>{kId});
    }

    // Sizes past 4 GiB add up in full.
    void bytesCopiedIs64Bit()
    {
        const quint64 size = 3ull << 30;
        for (const QString &name : {QStringLiteral("A.MOV"), QStringLiteral("B.MOV")}) {
            FakeObject &o =
                rig_->Device().AddSizedFile(QStringLiteral("/store_1/DCIM/100CANON"), name, QStringLiteral("VIDEO"),
                                            QStringLiteral("2016/05/04:13:14:15.000"), size);
            o.zeroData = true;
            rig_->Transfer(o.id);
            QVERIFY2(GetLocalFileSize(Dated(name)) == qint64(size), qPrintable(rig_->log.Texts().join('\n')));
        }
        QCOMPARE(Run().BytesCopied.load(), 2 * size);
        QCOMPARE(FormatMiB(Run().BytesCopied.load()), QStringLiteral("6,144 MiB"));
        QCOMPARE(Run().FilesCopied.load(), 2);
        QVERIFY(rig_->log.Has(QStringLiteral("Size: 3,145,728 KiB")));
    }

    void outOfResources()
    {
        rig_->host.deleteFiles = true;
        rig_->service.onRead = [](const QString &, std::uint64_t) { throw std::bad_alloc(); };
        QVERIFY_THROWS_EXCEPTION(RunAbort, rig_->Transfer(kId));
        QVERIFY(rig_->log.Coded().contains(QStringLiteral("Rb RESOURCE ERROR: Too many files.")));
        QCOMPARE(rig_->host.messages, QStringList{"RESOURCE ERROR: Too many files."});
        QCOMPARE(Run().ErrorCount.load(), 1);
        QVERIFY(rig_->OnDevice(kId));
        QCOMPARE(FilesBelow(rig_->dest.path()), QStringList{});
    }
};

FERROVANE_TEST_MAIN(TestTransferDecision)
#include "tst_transferdecision.moc"
