#include "common/LogLines.h"
#include "common/TestMain.h"

#include "device/DeviceConnection.h"
#include "device/DeviceSession.h"
#include "device/GPhotoBackend.h"
#include "log/ActivityLog.h"

#include <map>

namespace {

// A camera as libgphoto2 would show it: storages under /store_..., folders,
// files, config values, and failures on demand.
struct FakeCamera
{
    GPhotoCamera id{QStringLiteral("Canon EOS 80D"), QStringLiteral("usb:002,005")};
    std::vector<GPhotoStorage> storages{
        {QStringLiteral("/store_00010001"), QStringLiteral("EOS_DIGITAL"), QStringLiteral("SD")},
        {QStringLiteral("/store_00020001"), QString(), QString()}};
    std::map<QString, QStringList> folders{{QStringLiteral("/store_00010001"), {QStringLiteral("DCIM")}},
                                           {QStringLiteral("/store_00010001/DCIM"), {QStringLiteral("100CANON")}}};
    std::map<QString, QStringList> files{{QStringLiteral("/store_00010001/DCIM/100CANON"),
                                          {QStringLiteral("IMG_0001.JPG"), QStringLiteral("MVI_0002.MOV")}}};
    std::map<QString, QByteArray> data{
        {QStringLiteral("/store_00010001/DCIM/100CANON/IMG_0001.JPG"), QByteArray(5, 'j')},
        {QStringLiteral("/store_00010001/DCIM/100CANON/MVI_0002.MOV"), QByteArray(300000, 'm')}};
    std::map<QString, QString> config{{QStringLiteral("manufacturer"), QStringLiteral("Canon Inc.")},
                                      {QStringLiteral("cameramodel"), QStringLiteral("Canon EOS 80D")},
                                      {QStringLiteral("serialnumber"), QStringLiteral("0123456789")},
                                      {QStringLiteral("batterylevel"), QStringLiteral("50%")}};
    int openResult = 0;
    QString said;                              // the library's words for the last failure
    std::map<QString, int> listFails;          // folder -> result of listing it
    std::int64_t readFailsAt = -1;             // a read reaching past this offset fails
    std::int64_t readShortAt = -1;             // the data the camera gives stops here
    std::map<QString, std::int64_t> declared;  // a listed size other than the data's; -1: none
    int opens = 0;
    std::vector<QString> deleted;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> reads;  // offset and size of each read asked for
};

class FakeConnection : public GPhotoConnection
{
public:
    explicit FakeConnection(FakeCamera &camera) : camera_(camera) {}
    int Storages(std::vector<GPhotoStorage> &storages) override
    {
        storages = camera_.storages;
        return 0;
    }
    int ListFolders(const QString &folder, QStringList &names) override
    {
        const auto fails = camera_.listFails.find(folder);
        if (fails != camera_.listFails.end())
            return fails->second;
        return ListNames(camera_.folders, folder, names);
    }
    QString LastError() const override { return camera_.said; }
    int ListFiles(const QString &folder, QStringList &names) override
    {
        return ListNames(camera_.files, folder, names);
    }
    int FileInfo(const QString &folder, const QString &name, GPhotoFileInfo &info) override
    {
        const auto it = camera_.data.find(folder + QLatin1Char('/') + name);
        if (it == camera_.data.end())
            return -108;
        const auto declared = camera_.declared.find(it->first);
        const std::int64_t size = declared == camera_.declared.end() ? it->second.size() : declared->second;
        info.hasSize = size >= 0;
        info.size = std::uint64_t(std::max<std::int64_t>(size, 0));
        info.hasTime = true;
        info.mtime = QDateTime(QDate(2016, 8, 13), QTime(10, 22, 33)).toSecsSinceEpoch();
        return 0;
    }
    int Read(const QString &folder, const QString &name, std::uint64_t offset, char *buffer,
             std::uint64_t &size) override
    {
        const auto it = camera_.data.find(folder + QLatin1Char('/') + name);
        if (it == camera_.data.end())
            return -108;
        camera_.reads.emplace_back(offset, size);
        if (camera_.readFailsAt >= 0 && std::int64_t(offset + size) > camera_.readFailsAt)
            return -7;
        if (camera_.readShortAt >= 0 && std::int64_t(offset + size) > camera_.readShortAt)
            size = std::uint64_t(std::max<std::int64_t>(camera_.readShortAt - std::int64_t(offset), 0));
        size = std::min<std::uint64_t>(size, std::uint64_t(it->second.size()) -
                                                 std::min<std::uint64_t>(offset, it->second.size()));
        std::memcpy(buffer, it->second.constData() + offset, size);
        return 0;
    }
    int Delete(const QString &folder, const QString &name) override
    {
        camera_.deleted.push_back(folder + QLatin1Char('/') + name);
        return 0;
    }
    int ConfigText(const char *key, QString &value) override
    {
        const auto it = camera_.config.find(QString::fromLatin1(key));
        if (it == camera_.config.end())
            return -6;  // not supported
        value = it->second;
        return 0;
    }

private:
    static int ListNames(const std::map<QString, QStringList> &map, const QString &folder, QStringList &names)
    {
        const auto it = map.find(folder);
        names = it == map.end() ? QStringList() : it->second;
        return 0;
    }
    FakeCamera &camera_;
};

class FakeApi : public GPhotoApi
{
public:
    FakeCamera camera;
    std::vector<GPhotoCamera> extra;  // other ports the library reports

    int detects = 0;
    QString LastError() const override { return camera.said; }
    int Detect(std::vector<GPhotoCamera> &cameras) override
    {
        ++detects;
        cameras = extra;
        cameras.push_back(camera.id);
        return 0;
    }
    int Open(const GPhotoCamera &wanted, std::unique_ptr<GPhotoConnection> &connection) override
    {
        if (wanted.port != camera.id.port)
            return -52;
        ++camera.opens;
        if (camera.openResult < 0)
            return camera.openResult;
        connection = std::make_unique<FakeConnection>(camera);
        return 0;
    }
};

}  // namespace

class TestGPhotoBackend : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<FakeApi> api_;
    std::unique_ptr<DeviceService> service_;
    std::unique_ptr<ActivityLog> log_;
    std::unique_ptr<DeviceConnection> connection_;
    const QString deviceId_ = GPhotoBackend::DeviceIdFor(QStringLiteral("usb:002,005"));

    QStringList Lines() { return LogTexts(*log_); }
    QStringList Children(const QString &id)
    {
        std::shared_ptr<IEnumPortableDeviceObjectIDs> children;
        if (FAILED(connection_->Handles().aPortableDeviceContent->EnumObjects(0, id, children)))
            return {QStringLiteral("failed")};
        QStringList ids;
        QString child;
        while (children->Next(child) == S_OK)
            ids << child;
        return ids;
    }
    std::shared_ptr<IStream> Stream(const QString &id, HRESULT *result = nullptr)
    {
        std::shared_ptr<IPortableDeviceResources> resources;
        connection_->Handles().aPortableDeviceContent->Transfer(resources);
        std::shared_ptr<IStream> stream;
        const HRESULT hr = resources->GetStream(id, WPD_RESOURCE_DEFAULT, STGM_READ, stream);
        if (result)
            *result = hr;
        return stream;
    }

private slots:
    void init()
    {
        api_ = std::make_shared<FakeApi>();
        service_ = CreateBackendService({std::make_shared<GPhotoBackend>(api_)});
        log_ = std::make_unique<ActivityLog>();
        connection_ = std::make_unique<DeviceConnection>(*service_, *log_);
        connection_->CurrentDeviceName = QStringLiteral("Canon EOS 80D");
    }

    void listedByTheManager()
    {
        api_->extra = {{QStringLiteral("Mass Storage Camera"), QStringLiteral("disk:/media/card")}};
        auto manager = service_->CreateManager();
        QStringList ids;
        manager->GetDevices(ids);
        QCOMPARE(ids, QStringList{deviceId_});  // cards come through the file system
        QString maker, model;
        manager->GetDeviceManufacturer(ids[0], maker);
        manager->GetDeviceDescription(ids[0], model);
        // Named by what the camera reports, as its information lines are.
        QCOMPARE(maker, QStringLiteral("Canon Inc."));
        QCOMPARE(model, QStringLiteral("Canon EOS 80D"));
    }

    // libgphoto2 knows many cameras only by their class: each must still get
    // a name of its own (the name is its settings section).
    void cameraKnownOnlyByItsClass()
    {
        api_->camera.id.model = QStringLiteral("USB PTP Class Camera");
        api_->camera.config[QStringLiteral("manufacturer")] = QStringLiteral("Nikon Corporation");
        api_->camera.config[QStringLiteral("cameramodel")] = QStringLiteral("D750");
        auto manager = service_->CreateManager();
        QStringList ids;
        manager->GetDevices(ids);
        QString maker, model, friendly;
        manager->GetDeviceManufacturer(ids[0], maker);
        manager->GetDeviceDescription(ids[0], model);
        manager->GetDeviceFriendlyName(ids[0], friendly);
        QCOMPARE(maker + QLatin1Char(' ') + model, QStringLiteral("Nikon Corporation D750"));
        QCOMPARE(friendly, QStringLiteral("USB PTP Class Camera"));

        // A camera that will not open keeps the library's name.
        api_->camera.id.port = QStringLiteral("usb:002,006");  // plugged in again
        api_->camera.openResult = -53;
        auto again = service_->CreateManager();
        again->GetDevices(ids);
        again->GetDeviceDescription(ids[0], model);
        QCOMPARE(model, QStringLiteral("PTP Class Camera"));
    }

    // One Connect (scan, serial number of each device, open of the chosen
    // one) detects the cameras once and opens the camera once.
    void oneDetectAndOneOpenPerConnect()
    {
        for (int round = 1; round <= 2; ++round) {
            api_->detects = api_->camera.opens = 0;
            auto manager = service_->CreateManager();
            QStringList ids;
            manager->GetDevices(ids);
            QString text;
            for (const QString &id : std::as_const(ids)) {
                manager->GetDeviceManufacturer(id, text);
                manager->GetDeviceDescription(id, text);
                manager->GetDeviceFriendlyName(id, text);
                QCOMPARE(connection_->GetDeviceSerialNo(id), QStringLiteral("0123456789"));
            }
            QVERIFY(connection_->OpenDevice(deviceId_, false));
            QCOMPARE(Children(QStringLiteral("/store_00010001")), QStringList{"/store_00010001/DCIM"});
            QCOMPARE(api_->detects, 1);
            // The second Connect finds the camera still open.
            QCOMPARE(api_->camera.opens, round == 1 ? 1 : 0);
        }
    }

    // The library's own words reach the red lines.
    void libraryMessages()
    {
        api_->camera.openResult = -53;
        api_->camera.said = QStringLiteral("Could not claim the USB device");
        QVERIFY(!connection_->OpenDevice(deviceId_, false));
        QVERIFY(Lines().last().endsWith(QStringLiteral("The device says: \"Could not claim the USB device\"")));

        // A folder that fails while the camera still answers: that folder's
        // trouble, with the library's words.
        api_->camera.openResult = 0;
        api_->camera.listFails[QStringLiteral("/store_00010001/DCIM")] = -1;
        api_->camera.said = QStringLiteral("PTP General Error");
        QVERIFY(connection_->OpenDevice(deviceId_, true));
        std::shared_ptr<IEnumPortableDeviceObjectIDs> children;
        const HRESULT hr = connection_->Handles().aPortableDeviceContent->EnumObjects(
            0, QStringLiteral("/store_00010001/DCIM"), children);
        QCOMPARE(hr, -1);
        QVERIFY(DeviceFailureReason(hr).endsWith(QStringLiteral("The device says: \"PTP General Error\"")));
        QCOMPARE(Children(QStringLiteral("/store_00010001")), QStringList{"/store_00010001/DCIM"});

        // When it no longer opens after the failure, the camera is gone.
        api_->camera.openResult = -52;
        api_->camera.said = QStringLiteral("Could not find USB device");
        QCOMPARE(connection_->Handles().aPortableDeviceContent->EnumObjects(0, QStringLiteral("/store_00010001/DCIM"),
                                                                            children),
                 E_DEVICE_NOT_CONNECTED);
        QVERIFY(DeviceFailureReason(E_DEVICE_NOT_CONNECTED).contains(QStringLiteral("Could not find USB device")));
    }

    void propertiesFromTheConfig()
    {
        QVERIFY(connection_->OpenDevice(deviceId_, false));
        const QStringList lines = Lines();
        QVERIFY(lines.contains(QStringLiteral("DEVICE TYPE = WPD_DEVICE_TYPE_CAMERA")));
        QVERIFY(lines.contains(QStringLiteral("MANUFACTURER: Canon Inc.")));
        QVERIFY(lines.contains(QStringLiteral("MODEL: Canon EOS 80D")));
        QVERIFY(lines.contains(QStringLiteral("POWER LEVEL = 50%")));
        QVERIFY(lines.contains(QStringLiteral("SERIAL No.: 0123456789")));
        QVERIFY(!lines.join(',').contains(QStringLiteral("POWER SOURCE")));  // libgphoto2 reports none
    }

    void noSerialNoBattery()
    {
        api_->camera.config.erase(QStringLiteral("serialnumber"));
        api_->camera.config[QStringLiteral("batterylevel")] = QStringLiteral("Full");
        api_->camera.config.erase(QStringLiteral("manufacturer"));
        QVERIFY(connection_->OpenDevice(deviceId_, false));
        const QStringList lines = Lines();
        QVERIFY(!lines.join(',').contains(QStringLiteral("SERIAL No.")));
        QVERIFY(!lines.join(',').contains(QStringLiteral("POWER LEVEL")));
        QVERIFY(lines.contains(QStringLiteral("MANUFACTURER: Canon")));  // from the model name
        QCOMPARE(connection_->GetDeviceSerialNo(deviceId_), QString());
    }

    void storesFoldersFiles()
    {
        QVERIFY(connection_->OpenDevice(deviceId_, true));
        QCOMPARE(Children(QStringLiteral("DEVICE")), (QStringList{"/store_00010001", "/store_00020001"}));
        QCOMPARE(Children(QStringLiteral("/store_00010001")), QStringList{"/store_00010001/DCIM"});
        QCOMPARE(
            Children(QStringLiteral("/store_00010001/DCIM/100CANON")),
            (QStringList{"/store_00010001/DCIM/100CANON/IMG_0001.JPG", "/store_00010001/DCIM/100CANON/MVI_0002.MOV"}));
        QCOMPARE(Children(QStringLiteral("/store_00010001/DCIM/100CANON/IMG_0001.JPG")), QStringList{});

        std::shared_ptr<IPortableDeviceProperties> properties;
        connection_->Handles().aPortableDeviceContent->Properties(properties);
        std::shared_ptr<PortableDeviceValues> values;
        QString text;
        QCOMPARE(properties->GetValues(QStringLiteral("/store_00010001"), nullptr, values), S_OK);
        values->GetStringValue(WPD_OBJECT_NAME, text);
        QCOMPARE(text, QStringLiteral("SD"));
        properties->GetValues(QStringLiteral("/store_00020001"), nullptr, values);
        values->GetStringValue(WPD_OBJECT_NAME, text);
        QCOMPARE(text, QStringLiteral("store_00020001"));
        QCOMPARE(properties->GetValues(QStringLiteral("/store_00010001/DCIM/100CANON/MVI_0002.MOV"), nullptr, values),
                 S_OK);
        std::uint64_t size = 0;
        values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, size);
        QCOMPARE(size, 300000ull);
        values->GetStringValue(WPD_OBJECT_CONTENT_TYPE, text);
        QCOMPARE(ContentTypeName(text), QStringLiteral("VIDEO"));
        values->GetStringValue(WPD_OBJECT_DATE_CREATED, text);
        QCOMPARE(text, QStringLiteral("2016/08/13:10:22:33.000"));
        properties->GetValues(QStringLiteral("/store_00010001/DCIM"), nullptr, values);
        values->GetStringValue(WPD_OBJECT_CONTENT_TYPE, text);
        QCOMPARE(ContentTypeName(text), QStringLiteral("FOLDER"));
    }

    void readsInChunks()
    {
        QVERIFY(connection_->OpenDevice(deviceId_, true));
        Children(QStringLiteral("/store_00010001/DCIM/100CANON"));
        auto stream = Stream(QStringLiteral("/store_00010001/DCIM/100CANON/MVI_0002.MOV"));
        QVERIFY(stream);
        QByteArray buffer(kTransferChunkSize, Qt::Uninitialized);
        QList<int> chunks;
        std::uint32_t read = 0;
        while (stream->Read(buffer.data(), kTransferChunkSize, &read) == S_OK && read > 0)
            chunks << int(read);
        QCOMPARE(chunks, (QList<int>{131072, 131072, 37856}));
    }

    // The camera is asked past the size it listed: an object longer than
    // that gives its further bytes, and one of unknown size is read to the
    // camera's empty answer, with no size among its values.
    void readsPastTheListedSize_data()
    {
        QTest::addColumn<qint64>("declared");
        QTest::addColumn<QList<int>>("chunks");
        QTest::newRow("as listed") << qint64(300000) << QList<int>{131072, 131072, 37856};
        QTest::newRow("longer than listed") << qint64(200000) << QList<int>{131072, 131072, 37856};
        QTest::newRow("size unknown") << qint64(-1) << QList<int>{131072, 131072, 37856};
    }
    void readsPastTheListedSize()
    {
        QFETCH(qint64, declared);
        QFETCH(QList<int>, chunks);
        const QString id = QStringLiteral("/store_00010001/DCIM/100CANON/MVI_0002.MOV");
        api_->camera.declared[id] = declared;
        QVERIFY(connection_->OpenDevice(deviceId_, true));
        Children(QStringLiteral("/store_00010001/DCIM/100CANON"));
        std::shared_ptr<IPortableDeviceProperties> properties;
        connection_->Handles().aPortableDeviceContent->Properties(properties);
        std::shared_ptr<PortableDeviceValues> values;
        QCOMPARE(properties->GetValues(id, nullptr, values), S_OK);
        std::uint64_t size = 0;
        QCOMPARE(values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, size), declared < 0 ? E_NOT_FOUND : S_OK);
        QCOMPARE(size, std::uint64_t(std::max<qint64>(declared, 0)));
        auto stream = Stream(id);
        QByteArray buffer(kTransferChunkSize, Qt::Uninitialized);
        QList<int> got;
        std::uint32_t read = 0;
        while (stream->Read(buffer.data(), kTransferChunkSize, &read) == S_OK && read > 0)
            got << int(read);
        QCOMPARE(got, chunks);
        QCOMPARE(read, 0u);
    }

    // A read that fails midway, or that stops giving data before the end,
    // is a failure, and the camera is opened afresh for what follows.
    void brokenTransfers_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("read error") << false;
        QTest::newRow("silent end") << true;
    }
    void brokenTransfers()
    {
        QFETCH(bool, silent);
        (silent ? api_->camera.readShortAt : api_->camera.readFailsAt) = 131072;
        QVERIFY(connection_->OpenDevice(deviceId_, true));
        Children(QStringLiteral("/store_00010001/DCIM/100CANON"));
        auto stream = Stream(QStringLiteral("/store_00010001/DCIM/100CANON/MVI_0002.MOV"));
        QByteArray buffer(kTransferChunkSize, Qt::Uninitialized);
        std::uint32_t read = 0;
        // The device's bytes before the break are given; the read that
        // meets it fails, never the end of the file.
        HRESULT failed = S_OK;
        std::uint32_t before = 0;
        while (SUCCEEDED(failed = stream->Read(buffer.data(), kTransferChunkSize, &read)) && read > 0)
            before += read;
        QCOMPARE(before, silent ? 131072u : 0u);
        QCOMPARE(read, 0u);
        QCOMPARE(failed, -7);
        QVERIFY(!DeviceErrorText(failed).isEmpty());
        const int opens = api_->camera.opens;
        api_->camera.readFailsAt = api_->camera.readShortAt = -1;
        auto again = Stream(QStringLiteral("/store_00010001/DCIM/100CANON/IMG_0001.JPG"));
        QCOMPARE(again->Read(buffer.data(), kTransferChunkSize, &read), S_OK);
        QCOMPARE(read, 5u);
        QCOMPARE(api_->camera.opens, opens + 1);
    }

    // A file read through goes in few requests: a small one whole, with a
    // byte more asked for to see its end, and the date reader's start of a
    // file serves the copy that follows it. A read far into a file (a
    // movie's header) asks only for what it needs.
    void readAhead_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<qint64>("declared");  // -1: no size listed
        QTest::addColumn<bool>("dateReaderFirst");
        QTest::addColumn<int>("requests");
        const QString jpg = QStringLiteral("IMG_0001.JPG"), mov = QStringLiteral("MVI_0002.MOV");
        QTest::newRow("5 bytes") << jpg << qint64(5) << false << 1;
        QTest::newRow("300,000 bytes") << mov << qint64(300000) << false << 1;
        QTest::newRow("date reader first") << mov << qint64(300000) << true << 1;
        QTest::newRow("longer than listed") << mov << qint64(200000) << false << 3;
        QTest::newRow("no size listed: to the empty answer") << mov << qint64(-1) << false << 2;
    }
    void readAhead()
    {
        QFETCH(QString, file);
        QFETCH(qint64, declared);
        QFETCH(bool, dateReaderFirst);
        QFETCH(int, requests);
        const QString id = QStringLiteral("/store_00010001/DCIM/100CANON/") + file;
        api_->camera.declared[id] = declared;
        QVERIFY(connection_->OpenDevice(deviceId_, true));
        Children(QStringLiteral("/store_00010001/DCIM/100CANON"));
        QByteArray buffer(kTransferChunkSize, Qt::Uninitialized);
        std::uint32_t read = 0;
        if (dateReaderFirst)
            QCOMPARE(Stream(id)->Read(buffer.data(), kTransferChunkSize, &read), S_OK);
        const QByteArray &data = api_->camera.data.at(id);
        // As a copy reads: at most the size and one byte more at a time.
        const auto count = std::uint32_t(std::min<qint64>(kTransferChunkSize, data.size() + 1));
        auto stream = Stream(id);
        QByteArray got;
        while (stream->Read(buffer.data(), count, &read) == S_OK && read > 0)
            got.append(buffer.constData(), read);
        QCOMPARE(stream->Read(buffer.data(), count, &read), S_OK);
        QCOMPARE(read, 0u);
        QVERIFY(got == data);
        QCOMPARE(int(api_->camera.reads.size()), requests);

        if (data.size() < 1000)
            return;
        api_->camera.reads.clear();
        auto far = Stream(id);
        QCOMPARE(far->Seek(data.size() - 1000, IStream::STREAM_SEEK_SET, nullptr), S_OK);
        QCOMPARE(far->Read(buffer.data(), 10, &read), S_OK);
        QCOMPARE(api_->camera.reads,
                 (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{std::uint64_t(data.size() - 1000), 10}}));
    }

    // A request takes a fraction of a second at the pace measured, so that
    // a Stop still ends a file within a second: 30 MB/s is USB 2's pace.
    void requestSizes_data()
    {
        QTest::addColumn<QList<qint64>>("bytes");  // requests measured
        QTest::addColumn<double>("seconds");       // each took
        QTest::addColumn<qint64>("least");
        QTest::addColumn<qint64>("most");
        QTest::newRow("nothing measured yet") << QList<qint64>{} << 0.0 << qint64(4 << 20) << qint64(4 << 20);
        QTest::newRow("USB 2") << QList<qint64>{12000000, 12000000} << 0.4 << qint64(4 << 20) << qint64(15000000);
        QTest::newRow("1 MB/s") << QList<qint64>{1 << 20} << 1.05 << qint64(1 << 20) << qint64(1 << 20);
        QTest::newRow("1 GB/s") << QList<qint64>{32 << 20} << 0.033 << qint64(32 << 20) << qint64(32 << 20);
        QTest::newRow("small requests say nothing")
            << QList<qint64>{100000} << 1.0 << qint64(4 << 20) << qint64(4 << 20);
        QTest::newRow("slowing down") << QList<qint64>{32 << 20, 4 << 20, 2 << 20} << 0.5 << qint64(1 << 20)
                                      << qint64(8 << 20);
    }
    void requestSizes()
    {
        QFETCH(QList<qint64>, bytes);
        QFETCH(double, seconds);
        QFETCH(qint64, least);
        QFETCH(qint64, most);
        DevicePace pace;
        for (qint64 n : bytes)
            pace.Measured(std::uint64_t(n), seconds);
        QVERIFY2(qint64(pace.PieceBytes()) >= least && qint64(pace.PieceBytes()) <= most,
                 qPrintable(QString::number(pace.PieceBytes())));
    }

    void deviceBusy()
    {
        api_->camera.openResult = -53;  // could not claim the USB device
        QVERIFY(!connection_->OpenDevice(deviceId_, false));
        const QStringList lines = Lines();
        QVERIFY(lines.contains(QStringLiteral("aPortableDevice.Open failed. No Portable Devices found.")));
        QVERIFY(lines.last().startsWith(QStringLiteral("The device is busy")));
        QVERIFY(lines.last().contains(QStringLiteral("file manager")));
    }

    void deleteAndMissing()
    {
        QVERIFY(connection_->OpenDevice(deviceId_, true));
        Children(QStringLiteral("/store_00010001/DCIM/100CANON"));
        PortableDevicePropVariantCollection ids;
        ids.Add(QStringLiteral("/store_00010001/DCIM/100CANON/IMG_0001.JPG"));
        QCOMPARE(connection_->Handles().aPortableDeviceContent->Delete(0, ids, nullptr), S_OK);
        QCOMPARE(api_->camera.deleted, std::vector<QString>{"/store_00010001/DCIM/100CANON/IMG_0001.JPG"});
        HRESULT hr = S_OK;
        QVERIFY(!Stream(QStringLiteral("/store_00010001/DCIM/100CANON/NOPE.JPG"), &hr));
        QCOMPARE(hr, E_NOT_FOUND);
    }

    void unpluggedCamera()
    {
        api_->camera.id.port = QStringLiteral("usb:009,009");  // gone from where it was
        QVERIFY(!connection_->OpenDevice(deviceId_, false));
        QVERIFY(Lines().contains(DeviceErrorText(E_DEVICE_NOT_CONNECTED)));
    }
};

FERROVANE_TEST_MAIN(TestGPhotoBackend)
#include "tst_gphotobackend.moc"
