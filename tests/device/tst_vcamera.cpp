// The libgphoto2 backend and the main window against libgphoto2's virtual USB
// device, which serves the folder VCAMERA_DIR as a camera, an Android phone or
// an iPhone (VCAMERA_KIND; each spoken to directly over the port). Run by scripts/test-camera, which builds that
// libgphoto2 and the test cards; without VCAMERA_DIR every test is skipped.

#include "common/FormTest.h"
#include "common/IniTestFiles.h"
#include "common/TestMain.h"

#include "app/ProgramFolders.h"
#include "app/Unit1.h"
#include "copy/SideFiles.h"
#include "device/DeviceConnection.h"
#include "device/DeviceSession.h"
#include "device/GPhotoBackend.h"
#include "device/SystemDeviceService.h"
#include "log/ActivityLog.h"

#include <QComboBox>
#include <QDirIterator>
#include <QScopeGuard>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

namespace {

const QString kStorage = QStringLiteral("/store_00010001");

// Which device the emulator plays, and what it should show of itself.
struct Personality
{
    QString kind;         // VCAMERA_KIND
    QString maker;        // as the device reports it
    QString name;         // maker and model as the device reports them
    QString libraryName;  // libgphoto2's name for its USB ids
    QString storage;      // the storage's name, empty for any
    QString hidden;       // a folder whose content the device keeps to itself
    QString deviceType;
    bool phone = false;
};

Personality Device()
{
    const QString kind = qEnvironmentVariable("VCAMERA_KIND", QStringLiteral("camera"));
    if (kind == QLatin1String("android"))
        return {kind,
                QStringLiteral("Google"),
                QStringLiteral("Google Pixel 7"),
                QStringLiteral("Google Inc Nexus/Pixel (MTP)"),
                QStringLiteral("Internal shared storage"),
                QStringLiteral("Android/data/"),
                QStringLiteral("WPD_DEVICE_TYPE_PHONE"),
                true};
    if (kind == QLatin1String("iphone"))
        return {kind,
                QStringLiteral("Apple Inc."),
                QStringLiteral("Apple Inc. iPhone"),
                QStringLiteral("Apple iPhone 5 (PTP mode)"),
                QStringLiteral("iPhone"),
                QString(),
                QStringLiteral("WPD_DEVICE_TYPE_PHONE"),
                true};
    return {kind,
            QStringLiteral("GP"),
            QStringLiteral("GP VC"),
            QStringLiteral("Nikon DSC D750"),
            QString(),
            QString(),
            QStringLiteral("WPD_DEVICE_TYPE_CAMERA"),
            false};
}

// The card's files as the device should list them: identifier -> path on disk.
std::map<QString, QString> CardFiles(const QString &card)
{
    std::map<QString, QString> files;
    const QString hidden = Device().hidden;
    QDirIterator it(card, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(card).relativeFilePath(path);
        if (hidden.isEmpty() || !relative.startsWith(hidden))
            files[kStorage + QLatin1Char('/') + relative] = path;
    }
    return files;
}

QString RelativePath(const QString &id)
{
    return id.mid(kStorage.size() + 1);
}

QByteArray FileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

}  // namespace

class TestVirtualCamera : public QObject
{
    Q_OBJECT

private:
    QString card_;
    std::unique_ptr<DeviceService> pin_;
    std::unique_ptr<DeviceService> service_;
    std::unique_ptr<ActivityLog> log_;
    std::unique_ptr<DeviceConnection> connection_;

    IPortableDeviceContent &Content() { return *connection_->Handles().aPortableDeviceContent; }
    QStringList Lines() const { return LogTexts(*log_); }

    QStringList Children(const QString &id)
    {
        std::shared_ptr<IEnumPortableDeviceObjectIDs> children;
        const HRESULT hr = Content().EnumObjects(0, id, children);
        if (FAILED(hr))
            return {QStringLiteral("failed %1").arg(hr)};
        QStringList ids;
        QString child;
        while (children->Next(child) == S_OK)
            ids << child;
        return ids;
    }
    // Every object below id, depth first.
    void Walk(const QString &id, QStringList &folders, QStringList &files)
    {
        std::shared_ptr<IPortableDeviceProperties> properties;
        Content().Properties(properties);
        for (const QString &child : Children(id)) {
            std::shared_ptr<PortableDeviceValues> values;
            QCOMPARE(properties->GetValues(child, nullptr, values), S_OK);
            QString type;
            values->GetStringValue(WPD_OBJECT_CONTENT_TYPE, type);
            if (ContentTypeName(type) == QLatin1String("FOLDER")) {
                folders << child;
                Walk(child, folders, files);
            } else {
                files << child;
            }
        }
    }
    HRESULT ReadAll(const QString &id, QByteArray &data, QList<int> &chunks)
    {
        std::shared_ptr<IPortableDeviceResources> resources;
        Content().Transfer(resources);
        std::shared_ptr<IStream> stream;
        HRESULT hr = resources->GetStream(id, WPD_RESOURCE_DEFAULT, STGM_READ, stream);
        if (FAILED(hr))
            return hr;
        QByteArray buffer(kTransferChunkSize, Qt::Uninitialized);
        for (;;) {
            std::uint32_t read = 0;
            hr = stream->Read(buffer.data(), kTransferChunkSize, &read);
            if (FAILED(hr) || read == 0)
                return hr;
            chunks << int(read);
            data.append(buffer.constData(), read);
        }
    }
    // The file the deletes test takes off a phone.
    static QString DeletedOnPhone()
    {
        return kStorage + (Device().kind == QLatin1String("android") ? QStringLiteral("/Movies/VID_20230901_100000.mp4")
                                                                     : QStringLiteral("/DCIM/101APPLE/IMG_0102.PNG"));
    }

    // The window over the program's own device service, its settings saying
    // where to copy the device's files, in which mode, and whether to
    // delete them after.
    void StartWindow(std::unique_ptr<TForm1> &form, const QString &dest, int copyMode, bool deleteFiles)
    {
        const QString name = Device().name;
        WriteIni(QStringLiteral("[Ferrovane]\nDeviceCount=1\nLastDevice=%1\n[Devices]\nItem0=%1\n[%1]\nDeviceName=%1\n"
                                "DeviceSerialNo=%2\nFileFiltersCheckBox=0\nDateFormat=yyyy-mm-dd\nCopyMode=%3\n"
                                "DeleteFiles=%4\nDestPath=%5\n")
                     .arg(name, qEnvironmentVariable("VCAMERA_SERIAL"))
                     .arg(copyMode)
                     .arg(deleteFiles ? 1 : 0)
                     .arg(dest)
                     .toUtf8());
        service_ = CreateSystemDeviceService();
        StartForm(form, *service_);
        // The runs that follow delete on the device: the virtual one alone,
        // chosen by its name, never another camera or card of this machine.
        QCOMPARE(form->DeviceComboBox->currentText(), name);
        QCOMPARE(form->Connection.CurrentDeviceID, GPhotoBackend::DeviceIdFor(QStringLiteral("usb:001,001")));
    }
    // Where a file of the card lands: below its date, or below its folders.
    static QString Destination(const QString &dest, const QString &id, const QString &path, bool folderMode)
    {
        if (folderMode)
            return dest + QLatin1Char('/') + RelativePath(id);
        // A side file (an iPhone's AAE edited later) goes with its photo.
        QDateTime when = QFileInfo(path).lastModified();
        const QString name = QFileInfo(path).fileName();
        if (IsSideFileName(name)) {
            const QDir folder = QFileInfo(path).dir();
            const QStringList others = folder.entryList(QDir::Files);
            bool found = false;
            for (const QString &key : MainFileKeysOf(name))
                for (const QString &other : others)
                    if (!found && !IsSideFileName(other) && KeysOfMainFile(other).contains(key)) {
                        when = QFileInfo(folder.filePath(other)).lastModified();
                        found = true;
                    }
        }
        return dest + QLatin1Char('/') + when.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('/') + name;
    }
    static QStringList Statistics(TForm1 &form, qsizetype from)
    {
        const QStringList log = LogTexts(form.Log, from);
        for (qsizetype i = 0; i < log.size(); ++i)
            if (log[i].startsWith(QStringLiteral("Elapsed Time: ")))
                return log.mid(i);
        return {};
    }
    static void Copy(TForm1 &form)
    {
        QTest::mouseClick(form.CopyBitBtn, Qt::LeftButton);
        WaitIdle(form, 120000);
    }
    // Every file below dest, relative to it, less the run's hash list history.
    static QStringList FilesBelow(const QString &dest)
    {
        QStringList files;
        QDirIterator it(dest, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString relative = QDir(dest).relativeFilePath(it.next());
            if (!relative.startsWith(QLatin1String("ascmhl/")))
                files << relative;
        }
        files.sort();
        return files;
    }

    void Open()
    {
        service_ = CreateBackendService({std::make_shared<GPhotoBackend>(CreateLibGPhotoApi())});
        log_ = std::make_unique<ActivityLog>();
        connection_ = std::make_unique<DeviceConnection>(*service_, *log_);
        connection_->CurrentDeviceName = Device().name;
        QVERIFY(connection_->OpenDevice(GPhotoBackend::DeviceIdFor(QStringLiteral("usb:001,001")), false));
    }

private slots:
    void initTestCase()
    {
        // This test is about the USB camera, which the test setup hides.
        qunsetenv("FERROVANE_NO_USB");
        SetProgramFolders();
        // The emulator forgets what was deleted whenever its library is
        // unloaded, with the last port closed: one device stays open for
        // the whole run, as a device stays plugged in.
        if (!qEnvironmentVariableIsEmpty("VCAMERA_DIR")) {
            pin_ = CreateBackendService({std::make_shared<GPhotoBackend>(CreateLibGPhotoApi())});
            QStringList ids;
            pin_->CreateManager()->GetDevices(ids);
        }
    }
    void cleanupTestCase() { pin_.reset(); }
    void init()
    {
        card_ = qEnvironmentVariable("VCAMERA_DIR");
        if (card_.isEmpty())
            QSKIP("No virtual camera (VCAMERA_DIR): run scripts/test-camera.");
    }
    void cleanup()
    {
        connection_.reset();
        log_.reset();
        service_.reset();
    }

    // Found under the maker and model the camera reports, with its serial
    // number and battery level.
    void foundUnderItsOwnName()
    {
        service_ = CreateBackendService({std::make_shared<GPhotoBackend>(CreateLibGPhotoApi())});
        auto manager = service_->CreateManager();
        QStringList ids;
        QCOMPARE(manager->GetDevices(ids), S_OK);
        QCOMPARE(ids, QStringList{GPhotoBackend::DeviceIdFor(QStringLiteral("usb:001,001"))});
        QString maker, model, friendly;
        manager->GetDeviceManufacturer(ids[0], maker);
        manager->GetDeviceDescription(ids[0], model);
        manager->GetDeviceFriendlyName(ids[0], friendly);
        QCOMPARE(maker + QLatin1Char(' ') + model, Device().name);
        QCOMPARE(friendly, Device().libraryName);  // the library's own name for it
        log_ = std::make_unique<ActivityLog>();
        connection_ = std::make_unique<DeviceConnection>(*service_, *log_);
        QCOMPARE(connection_->GetDeviceSerialNo(ids[0]), qEnvironmentVariable("VCAMERA_SERIAL", QStringLiteral("0.1")));
        QVERIFY(connection_->OpenDevice(ids[0], false));
        const QStringList lines = Lines();
        QVERIFY(lines.contains(QStringLiteral("MANUFACTURER: ") + maker));
        QVERIFY(lines.contains(QStringLiteral("MODEL: ") + model));
        QVERIFY(lines.contains(QStringLiteral("POWER LEVEL = 50%")));
        QVERIFY2(lines.contains(QStringLiteral("DEVICE TYPE = ") + Device().deviceType), qPrintable(lines.join('\n')));
    }

    // Storages, folders and files, with their sizes and dates.
    void storagesFoldersFiles()
    {
        Open();
        QCOMPARE(Children(QStringLiteral("DEVICE")), QStringList{kStorage});
        std::shared_ptr<IPortableDeviceProperties> properties;
        Content().Properties(properties);
        std::shared_ptr<PortableDeviceValues> values;
        QCOMPARE(properties->GetValues(kStorage, nullptr, values), S_OK);
        QString name;
        values->GetStringValue(WPD_OBJECT_NAME, name);
        QVERIFY2(!name.isEmpty(), "the storage has a name");
        if (!Device().storage.isEmpty())
            QCOMPARE(name, Device().storage);

        QStringList folders, files;
        Walk(kStorage, folders, files);
        QDirIterator dirs(card_, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (dirs.hasNext()) {
            const QString folder = kStorage + QLatin1Char('/') + QDir(card_).relativeFilePath(dirs.next());
            const bool inHidden = !Device().hidden.isEmpty() &&
                                  RelativePath(folder + QLatin1Char('/')).startsWith(Device().hidden) &&
                                  RelativePath(folder + QLatin1Char('/')) != Device().hidden;
            QVERIFY2(folders.contains(folder) != inHidden, qPrintable(folder));
        }
        const auto expected = CardFiles(card_);
        QCOMPARE(files.size(), qsizetype(expected.size()));
        for (const auto &[id, path] : expected) {
            QVERIFY2(files.contains(id), qPrintable(id + " in " + files.join(", ")));
            QCOMPARE(properties->GetValues(id, nullptr, values), S_OK);
            std::uint64_t size = 0;
            QString date, original;
            values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, size);
            values->GetStringValue(WPD_OBJECT_DATE_CREATED, date);
            values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, original);
            const QFileInfo fi(path);
            QCOMPARE(size, std::uint64_t(fi.size()));
            QCOMPARE(date, WpdDateText(fi.lastModified().toSecsSinceEpoch(), 0));
            QCOMPARE(original, fi.fileName());
        }
    }

    // Read in 131072-byte chunks, byte for byte what the card holds.
    void chunkedReads_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::newRow("empty") << "DCIM/100TEST/EMPTY.JPG";
        QTest::newRow("non-ASCII name") << QStringLiteral("DCIM/100TEST/photo with spaces ünïcødé 写真.jpg");
        QTest::newRow("3 MB") << "DCIM/100TEST/IMG_0002.JPG";
        QTest::newRow("30 MB") << "DCIM/100TEST/BIG_0003.JPG";
        QTest::newRow("deep") << "DCIM/101NEST/DEEP/er/IMG_0008.JPG";
    }
    void chunkedReads()
    {
        QFETCH(QString, relative);
        if (Device().kind != QLatin1String("camera"))
            QSKIP("The camera's test card; everyFileByteForByte reads the others.");
        Open();
        QStringList folders, files;
        Walk(kStorage, folders, files);
        QByteArray data;
        QList<int> chunks;
        QCOMPARE(ReadAll(kStorage + QLatin1Char('/') + relative, data, chunks), S_OK);
        QFile f(card_ + QLatin1Char('/') + relative);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray expected = f.readAll();
        QCOMPARE(data.size(), expected.size());
        QVERIFY(data == expected);
        for (qsizetype i = 0; i + 1 < chunks.size(); ++i)
            QCOMPARE(chunks.at(i), int(kTransferChunkSize));
    }

    // Every file the device lists reads in 131072-byte chunks, byte for byte.
    void everyFileByteForByte()
    {
        Open();
        QStringList folders, files;
        Walk(kStorage, folders, files);
        for (const auto &[id, path] : CardFiles(card_)) {
            QByteArray data;
            QList<int> chunks;
            QCOMPARE(ReadAll(id, data, chunks), S_OK);
            QVERIFY2(data == FileBytes(path), qPrintable(id));
            for (qsizetype i = 0; i + 1 < chunks.size(); ++i)
                QCOMPARE(chunks.at(i), int(kTransferChunkSize));
        }
    }

    // A device's dates, whichever way it writes them: its clock without a
    // zone (a camera's in UTC, a phone's in local time) is shown as it is;
    // in UTC with a Z, or with an offset, the moment is shown in the
    // computer's zone (scripts/test-camera runs this in Kolkata's too).
    void deviceDates_data()
    {
        QTest::addColumn<QByteArray>("style");
        QTest::newRow("clock in UTC") << QByteArray("utc");
        QTest::newRow("local time") << QByteArray("local");
        QTest::newRow("UTC with Z") << QByteArray("zulu");
        QTest::newRow("with an offset") << QByteArray("offset");
    }
    void deviceDates()
    {
        QFETCH(QByteArray, style);
        qputenv("VCAMERA_DATES", style);
        auto restore = qScopeGuard([] { qunsetenv("VCAMERA_DATES"); });
        Open();
        std::shared_ptr<IPortableDeviceProperties> properties;
        Content().Properties(properties);
        QStringList folders, files;
        Walk(kStorage, folders, files);
        for (const auto &[id, path] : CardFiles(card_)) {
            std::shared_ptr<PortableDeviceValues> values;
            QCOMPARE(properties->GetValues(id, nullptr, values), S_OK);
            QString date;
            values->GetStringValue(WPD_OBJECT_DATE_CREATED, date);
            QCOMPARE(date, WpdDateText(QFileInfo(path).lastModified().toSecsSinceEpoch(), 0, style == "utc"));
        }
    }

    // The program's own window over the program's own device service: the
    // camera is found, connected and listed.
    void theProgramListsTheCamera()
    {
        // The emulator writes one line to stderr at every open of the camera:
        // count them over the whole run.
        QTemporaryFile said;
        QVERIFY(said.open());
        std::fflush(stderr);
        const int savedStderr = ::dup(2);
        ::dup2(said.handle(), 2);
        bool restored = false;
        auto restoreStderr = [&] {
            if (restored)
                return;
            restored = true;
            std::fflush(stderr);
            ::dup2(savedStderr, 2);
            ::close(savedStderr);
        };
        auto restore = qScopeGuard(restoreStderr);
        service_ = CreateSystemDeviceService();
        std::unique_ptr<TForm1> form;
        StartForm(form, *service_);
        QVERIFY(LogTexts(form->Log).contains(QStringLiteral("New device found \"%1\"").arg(Device().name)));
        const int index = form->DeviceComboBox->findText(Device().name);
        QVERIFY(index >= 0);
        // Chosen as a user chooses it, which lists it; then Connect, which
        // scans and lists again with the camera still open.
        for (int round = 0; round < 2; ++round) {
            const qsizetype at = form->Log.Document().LineCount();
            if (round == 0) {
                form->DeviceComboBox->setCurrentIndex(index);
                emit form->DeviceComboBox->activated(index);
            } else {
                form->DeviceConnectSpeedButton->click();
            }
            QTRY_VERIFY2(!LogTexts(form->Log, at).filter(QStringLiteral("Total Files = ")).isEmpty(),
                         qPrintable(LogTexts(form->Log).join(QLatin1Char('\n'))));
            WaitIdle(*form);
        }
        const QStringList all = LogTexts(form->Log);
        QVERIFY(all.contains(QStringLiteral("MANUFACTURER: ") + Device().maker));
        QVERIFY(all.contains(QStringLiteral("SERIAL No.: ") +
                             qEnvironmentVariable("VCAMERA_SERIAL", QStringLiteral("0.1"))));
        const QStringList log = all;
        const auto expected = CardFiles(card_);
        QStringList listed;
        const CatalogueGrid &grid = *form->StringGrid2;
        for (int r = 1; r < grid.RowCount(); ++r)
            listed << grid.Cell(5, r);
        for (const auto &[id, path] : expected)
            QVERIFY2(listed.contains(id), qPrintable(id));
        QVERIFY(log.filter(QStringLiteral("Total Files = "))
                    .value(0)
                    .endsWith(QStringLiteral(" of %1").arg(expected.size())));
        // Nothing went wrong on the way.
        for (const LogLine &line : form->Log.Document().Lines(0, form->Log.Document().LineCount()))
            QVERIFY2(line.color != LogColor::Red, qPrintable(line.text));
        form.reset();
        restoreStderr();
        said.seek(0);
        const QByteArray stderrText = said.readAll();
        std::fputs(stderrText.constData(), stderr);
        // Start-up, a choice and a Connect: three scans, and the camera was
        // opened once.
        QCOMPARE(stderrText.count("001,001: No such file or directory"), 1);
    }

    // A copy run through the window in each mode: every file lands byte for
    // byte with the device's date, under its date's folder (the local date)
    // or its device folders, and nothing else lands; a second run finds them
    // all there.
    void copyBothModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("date folders") << 0;
        QTest::newRow("device folders") << 1;
    }
    void copyBothModes()
    {
        QFETCH(int, mode);
        QTemporaryDir dest;
        std::unique_ptr<TForm1> form;
        StartWindow(form, dest.path(), mode, false);
        if (QTest::currentTestFailed())
            return;
        const auto expected = CardFiles(card_);
        for (int run = 0; run < 2; ++run) {
            const qsizetype from = form->Log.Document().LineCount();
            Copy(*form);
            const QStringList stats = Statistics(*form, from);
            const QString log = LogTexts(form->Log, from).join(QLatin1Char('\n'));
            QVERIFY2(
                stats.contains(QStringLiteral("%1 Files copied to Destination.").arg(run == 0 ? expected.size() : 0)),
                qPrintable(log));
            if (run == 1)
                QVERIFY2(
                    stats.contains(QStringLiteral("%1 Files already existing at Destination.").arg(expected.size())),
                    qPrintable(log));
            QCOMPARE(stats.value(stats.size() - 1), QStringLiteral("0 Errors encountered."));
        }
        QStringList wanted;
        for (const auto &[id, path] : expected) {
            const QString target = Destination(dest.path(), id, path, mode == 1);
            QVERIFY2(FileBytes(target) == FileBytes(path), qPrintable(target));
            QCOMPARE(QFileInfo(target).lastModified().toSecsSinceEpoch(),
                     QFileInfo(path).lastModified().toSecsSinceEpoch());
            wanted << QDir(dest.path()).relativeFilePath(target);
        }
        wanted.sort();
        QCOMPARE(FilesBelow(dest.path()), wanted);
    }

    // A locked phone shows no storage: the log says what to do instead of
    // showing an empty catalogue, and once unlocked, Connect lists it.
    void lockedPhone()
    {
        if (!Device().phone)
            QSKIP("Only a phone locks.");
        qputenv("VCAMERA_LOCKED", "1");
        auto unlock = qScopeGuard([] { qunsetenv("VCAMERA_LOCKED"); });
        QTemporaryDir dest;
        std::unique_ptr<TForm1> form;
        StartWindow(form, dest.path(), 0, false);
        if (QTest::currentTestFailed())
            return;
        const QString line = Device().kind == QLatin1String("iphone")
                                 ? QStringLiteral("The iPhone shows no storage: unlock it and tap \"Trust\" on the "
                                                  "phone (trust this computer), then press Connect.")
                                 : QStringLiteral("The phone shows no storage: unlock it and allow file transfer "
                                                  "(USB: File transfer / MTP), then press Connect.");
        const QStringList log = LogTexts(form->Log);
        QVERIFY2(log.contains(line), qPrintable(log.join(QLatin1Char('\n'))));
        QVERIFY(!log.contains(QStringLiteral("Device is not open!")));
        QVERIFY(log.filter(QStringLiteral("Total Files = ")).isEmpty());
        qunsetenv("VCAMERA_LOCKED");
        const qsizetype at = form->Log.Document().LineCount();
        form->DeviceConnectSpeedButton->click();
        QTRY_VERIFY(!LogTexts(form->Log, at).filter(QStringLiteral("Total Files = ")).isEmpty());
        WaitIdle(*form);
        QVERIFY(!LogTexts(form->Log, at).contains(line));
        QVERIFY(LogTexts(form->Log, at)
                    .filter(QStringLiteral("Total Files = "))
                    .value(0)
                    .endsWith(QStringLiteral(" of %1").arg(CardFiles(card_).size())));
    }

    // Deleted on the camera, and gone from a later listing of its folder.
    void deletes()
    {
        Open();
        QStringList folders, files;
        Walk(kStorage, folders, files);
        const QString id = Device().kind == QLatin1String("camera")
                               ? kStorage + QStringLiteral("/DCIM/100TEST/IMG_0001.JPG")
                               : DeletedOnPhone();
        PortableDevicePropVariantCollection ids;
        PROPVARIANT value;
        StringToPropVariant(*service_, id, value);
        ids.Add(value);
        QCOMPARE(Content().Delete(PORTABLE_DEVICE_DELETE_NO_RECURSION, ids, nullptr), S_OK);
        QVERIFY(!Children(id.left(id.lastIndexOf(QLatin1Char('/')))).contains(id));
    }

    // A file that went away after the listing never reads as complete.
    void vanishedFile()
    {
        Open();
        QStringList folders, files;
        Walk(kStorage, folders, files);
        const QString relative = Device().kind == QLatin1String("camera") ? QStringLiteral("DCIM/100TEST/SND_0005.WAV")
                                 : Device().kind == QLatin1String("android")
                                     ? QStringLiteral("Pictures/Screenshots/Screenshot_20230801-090000.png")
                                     : QStringLiteral("DCIM/100APPLE/IMG_0004.JPG");
        const QString path = card_ + QLatin1Char('/') + relative;
        QFile original(path);
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray kept = original.readAll();
        original.close();
        QVERIFY(QFile::remove(path));
        QByteArray data;
        QList<int> chunks;
        const HRESULT hr = ReadAll(kStorage + QLatin1Char('/') + relative, data, chunks);
        // Put back for the tests that follow.
        QVERIFY(original.open(QIODevice::WriteOnly));
        original.write(kept);
        original.close();
        QVERIFY2(FAILED(hr), qPrintable(QStringLiteral("read gave %1 bytes").arg(data.size())));
        QVERIFY(data.size() < kept.size());
        // With libgphoto2's own words for it.
        QVERIFY2(!DeviceErrorMessage(hr).isEmpty(), qPrintable(DeviceFailureReason(hr)));
        qInfo("%s", qPrintable(DeviceFailureReason(hr)));
    }

    // Run with VUSB_CLASS=1 and an unknown VUSB_VIDPID: the library knows the
    // camera only as a PTP class camera; it is named by what it reports.
    void classCamera()
    {
        if (qEnvironmentVariable("VUSB_CLASS") != QLatin1String("1"))
            QSKIP("Needs VUSB_CLASS=1 and an unknown VUSB_VIDPID.");
        service_ = CreateBackendService({std::make_shared<GPhotoBackend>(CreateLibGPhotoApi())});
        auto manager = service_->CreateManager();
        QStringList ids;
        QCOMPARE(manager->GetDevices(ids), S_OK);
        QCOMPARE(ids.size(), 1);
        QString maker, model, friendly;
        manager->GetDeviceManufacturer(ids[0], maker);
        manager->GetDeviceDescription(ids[0], model);
        manager->GetDeviceFriendlyName(ids[0], friendly);
        QCOMPARE(friendly, QStringLiteral("USB PTP Class Camera"));
        QCOMPARE(maker + QLatin1Char(' ') + model, QStringLiteral("GP VC"));
    }
    // Unplugged in the middle of a copy that deletes after copying: red
    // lines name the file and the reason, nothing partial or temporary is
    // left, only files copied whole are gone from the device, and once it
    // is back, Connect lists it again.
    void unpluggedMidCopy()
    {
        Open();
        QStringList folders, files;
        Walk(kStorage, folders, files);
        connection_.reset();
        QTemporaryDir dest, flags;
        const QString gone = flags.path() + QStringLiteral("/gone");
        std::unique_ptr<TForm1> form;
        StartWindow(form, dest.path(), 1, true);
        if (QTest::currentTestFailed())
            return;
        qputenv("VCAMERA_GONE", QFile::encodeName(gone));
        qputenv("VCAMERA_GONE_AFTER", "3");  // at the third request for file data
        auto plugBack = qScopeGuard([&] {
            QFile::remove(gone);
            qunsetenv("VCAMERA_GONE_AFTER");
            qunsetenv("VCAMERA_GONE");
        });
        const qsizetype from = form->Log.Document().LineCount();
        Copy(*form);
        QVERIFY(QFile::exists(gone));
        QStringList red;
        for (const LogLine &line : form->Log.Document().Lines(from, form->Log.Document().LineCount() - from))
            if (line.color == LogColor::Red)
                red << line.text;
        const QString said = red.join(QLatin1Char('\n'));
        QVERIFY2(said.contains(QStringLiteral("no longer connected")), qPrintable(said));
        bool named = false;
        for (const QString &id : std::as_const(files))
            named = named || said.contains(QFileInfo(id).fileName());
        QVERIFY2(named, qPrintable(said));
        // The run ends at the loss: the files after it are not tried one by one.
        QVERIFY2(red.size() <= 3, qPrintable(said));
        QStringList copied;
        for (const QString &relative : FilesBelow(dest.path())) {
            QVERIFY2(FileBytes(dest.path() + QLatin1Char('/') + relative) ==
                         FileBytes(card_ + QLatin1Char('/') + relative),
                     qPrintable(relative));
            copied << kStorage + QLatin1Char('/') + relative;
        }
        QVERIFY(copied.size() < files.size());

        QFile::remove(gone);
        const qsizetype at = form->Log.Document().LineCount();
        form->DeviceConnectSpeedButton->click();
        QTRY_VERIFY(!LogTexts(form->Log, at).filter(QStringLiteral("Total Files = ")).isEmpty());
        WaitIdle(*form);
        QStringList listed;
        const CatalogueGrid &grid = *form->StringGrid2;
        for (int r = 1; r < grid.RowCount(); ++r)
            listed << grid.Cell(5, r);
        for (const QString &id : std::as_const(files))
            QVERIFY2(listed.contains(id) || copied.contains(id), qPrintable(id));
    }

    // Deleted from the device after copying: every file it lists lands, and
    // the device lists none after.
    void deleteAfterCopy()
    {
        Open();
        QStringList folders, files;
        Walk(kStorage, folders, files);
        connection_.reset();
        QTemporaryDir dest;
        std::unique_ptr<TForm1> form;
        StartWindow(form, dest.path(), 1, true);
        if (QTest::currentTestFailed())
            return;
        const qsizetype from = form->Log.Document().LineCount();
        Copy(*form);
        const QStringList stats = Statistics(*form, from);
        const QString log = LogTexts(form->Log, from).join(QLatin1Char('\n'));
        QVERIFY2(stats.contains(QStringLiteral("%1 Files delete from Source.").arg(files.size())), qPrintable(log));
        QCOMPARE(stats.value(stats.size() - 1), QStringLiteral("0 Errors encountered."));
        for (const QString &id : std::as_const(files))
            QVERIFY2(FileBytes(dest.path() + QLatin1Char('/') + RelativePath(id)) ==
                         FileBytes(card_ + QLatin1Char('/') + RelativePath(id)),
                     qPrintable(id));
        form.reset();
        Open();
        QStringList after;
        folders.clear();
        Walk(kStorage, folders, after);
        QVERIFY2(after.isEmpty(), qPrintable(after.join(QLatin1Char('\n'))));
    }
};

FERROVANE_TEST_MAIN(TestVirtualCamera)
#include "tst_vcamera.moc"
