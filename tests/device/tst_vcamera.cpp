// The libgphoto2 backend and the main window against libgphoto2's virtual USB
// camera, which serves the folder VCAMERA_DIR through the real PTP driver.
// Run by scripts/test-camera, which builds that libgphoto2 and the test card;
// without VCAMERA_DIR every test is skipped.

#include "common/FormTest.h"
#include "common/TestMain.h"

#include "app/Unit1.h"
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

// The card's files as the camera should list them: identifier -> path on disk.
std::map<QString, QString> CardFiles(const QString &card)
{
    std::map<QString, QString> files;
    QDirIterator it(card, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[kStorage + QLatin1Char('/') + QDir(card).relativeFilePath(path)] = path;
    }
    return files;
}

} // namespace

class TestVirtualCamera : public QObject
{
    Q_OBJECT

private:
    QString card_;
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
    void Open()
    {
        service_ = CreateBackendService({std::make_shared<GPhotoBackend>(CreateLibGPhotoApi())});
        log_ = std::make_unique<ActivityLog>();
        connection_ = std::make_unique<DeviceConnection>(*service_, *log_);
        connection_->CurrentDeviceName = QStringLiteral("GP VC");
        QVERIFY(connection_->OpenDevice(GPhotoBackend::DeviceIdFor(QStringLiteral("usb:001,001")), false));
    }

private slots:
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
        QCOMPARE(maker + QLatin1Char(' ') + model, QStringLiteral("GP VC"));
        QCOMPARE(friendly, QStringLiteral("Nikon DSC D750"));  // the library's own name for it
        log_ = std::make_unique<ActivityLog>();
        connection_ = std::make_unique<DeviceConnection>(*service_, *log_);
        QCOMPARE(connection_->GetDeviceSerialNo(ids[0]), qEnvironmentVariable("VCAMERA_SERIAL", QStringLiteral("0.1")));
        QVERIFY(connection_->OpenDevice(ids[0], false));
        const QStringList lines = Lines();
        QVERIFY(lines.contains(QStringLiteral("MANUFACTURER: GP")));
        QVERIFY(lines.contains(QStringLiteral("MODEL: VC")));
        QVERIFY(lines.contains(QStringLiteral("POWER LEVEL = 50%")));
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

        QStringList folders, files;
        Walk(kStorage, folders, files);
        for (const char *folder : {"DCIM", "DCIM/100TEST", "DCIM/100TEST/SUB", "DCIM/101NEST/DEEP/er", "DCIM/102EMPTY"})
            QVERIFY2(folders.contains(kStorage + QLatin1Char('/') + QLatin1String(folder)), folder);
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

    // Deleted on the camera, and gone from a later listing of its folder.
    void deletes()
    {
        Open();
        QStringList folders, files;
        Walk(kStorage, folders, files);
        const QString id = kStorage + QStringLiteral("/DCIM/100TEST/IMG_0001.JPG");
        PortableDevicePropVariantCollection ids;
        PROPVARIANT value;
        StringToPropVariant(*service_, id, value);
        ids.Add(value);
        QCOMPARE(Content().Delete(PORTABLE_DEVICE_DELETE_NO_RECURSION, ids, nullptr), S_OK);
        QVERIFY(!Children(kStorage + QStringLiteral("/DCIM/100TEST")).contains(id));
    }

    // A file that went away after the listing never reads as complete.
    void vanishedFile()
    {
        Open();
        QStringList folders, files;
        Walk(kStorage, folders, files);
        const QString relative = QStringLiteral("DCIM/100TEST/SND_0005.WAV");
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
        QVERIFY(LogTexts(form->Log).contains(QStringLiteral("New device found \"GP VC\"")));
        const int index = form->DeviceComboBox->findText(QStringLiteral("GP VC"));
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
        QVERIFY(all.contains(QStringLiteral("MANUFACTURER: GP")));
        QVERIFY(all.contains(QStringLiteral("SERIAL No.: ") + qEnvironmentVariable("VCAMERA_SERIAL", QStringLiteral("0.1"))));
        const QStringList log = all;
        const auto expected = CardFiles(card_);
        QStringList listed;
        const CatalogueGrid &grid = *form->StringGrid2;
        for (int r = 1; r < grid.RowCount(); ++r)
            listed << grid.Cell(5, r);
        for (const auto &[id, path] : expected)
            QVERIFY2(listed.contains(id), qPrintable(id));
        QVERIFY(log.filter(QStringLiteral("Total Files = ")).value(0).endsWith(QStringLiteral(" of %1").arg(expected.size())));
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
};

FERROVANE_TEST_MAIN(TestVirtualCamera)
#include "tst_vcamera.moc"
