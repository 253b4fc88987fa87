#include "common/TestMain.h"

#include "device/DeviceSession.h"
#include "device/PortableDevice.h"
#include "device/fake/FakeDeviceService.h"

// The boundary's own rules: content-type names, value reads, identifier
// collections, and the fake's streams and failures that later code relies on.
class TestPortableDevice : public QObject
{
    Q_OBJECT

private slots:
    void contentTypeName_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::newRow("image") << "{EF2107D5-A52A-4243-A26B-62D4176D7603}"
                               << "IMAGE";
        QTest::newRow("lower case guid") << "{ef2107d5-a52a-4243-a26b-62d4176d7603}"
                                         << "IMAGE";
        QTest::newRow("functional object") << "{99ED0160-17FF-4C44-9D98-1D7A6F941921}"
                                           << "FUNCTIONAL_OBJECT";
        QTest::newRow("folder") << "{27E2E392-A111-48E0-AB0C-E17705A05F85}"
                                << "FOLDER";
        QTest::newRow("video") << "{9261B03C-3D78-4519-85E3-02C5E1F50BB9}"
                               << "VIDEO";
        QTest::newRow("audio") << "{4AD2C85E-5E2D-45E5-8864-4F229E3C6CF0}"
                               << "AUDIO";
        QTest::newRow("generic file") << "{0085E0A6-8D34-45D7-BC5C-447E59C73D48}"
                                      << "GENERIC_FILE";
        QTest::newRow("all") << "{80E170D2-1055-4A3E-B952-82CC4F8A8689}"
                             << "ALL";
        QTest::newRow("unknown guid unchanged") << "{00000000-1111-2222-3333-444444444444}"
                                                << "{00000000-1111-2222-3333-444444444444}";
        QTest::newRow("not a guid unchanged") << "IMAGE"
                                              << "IMAGE";
        QTest::newRow("broken guid unchanged") << "{EF2107D5-A52A-4243}"
                                               << "{EF2107D5-A52A-4243}";
        QTest::newRow("empty") << ""
                               << "";
    }
    void contentTypeName()
    {
        QFETCH(QString, text);
        QFETCH(QString, name);
        QCOMPARE(ContentTypeName(text), name);
    }

    // A file's content type from its extension, whatever its case.
    void contentTypeForFileName_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("type");
        QTest::newRow("upper case") << "IMG_0001.JPG"
                                    << "IMAGE";
        QTest::newRow("four letters") << "a.JPeg"
                                      << "IMAGE";
        QTest::newRow("video") << "clip.M2TS"
                               << "VIDEO";
        QTest::newRow("audio, digit inside") << "voice.mp4a"
                                             << "AUDIO";
        QTest::newRow("last dot counts") << "a.mov.jpg"
                                         << "IMAGE";
        QTest::newRow("longer than any known") << "a.jpegx"
                                               << "GENERIC_FILE";
        QTest::newRow("known start only") << "a.jp"
                                          << "GENERIC_FILE";
        QTest::newRow("no extension") << "README"
                                      << "GENERIC_FILE";
        QTest::newRow("ends with a dot") << "a."
                                         << "GENERIC_FILE";
        QTest::newRow("Kelvin sign lower-cases to k") << QString("a.") + QChar(0x212A) + "DC"
                                                      << "IMAGE";
        QTest::newRow("letters beyond ASCII") << QString("a.j") + QChar(0xE9) + "g"
                                              << "GENERIC_FILE";
    }
    void contentTypeForFileName()
    {
        QFETCH(QString, file);
        QFETCH(QString, type);
        QCOMPARE(ContentTypeName(ContentTypeForFileName(file)), type);
    }

    // Every one of the 29 names maps to a GUID and back.
    void allContentTypesRoundTrip()
    {
        const QStringList names = {"ALL",
                                   "APPOINTMENT",
                                   "AUDIO",
                                   "AUDIO_ALBUM",
                                   "CALENDAR",
                                   "CERTIFICATE",
                                   "CONTACT",
                                   "CONTACT_GROUP",
                                   "DOCUMENT",
                                   "EMAIL",
                                   "FUNCTIONAL_OBJECT",
                                   "GENERIC_FILE",
                                   "GENERIC_MESSAGE",
                                   "IMAGE",
                                   "IMAGE_ALBUM",
                                   "MEDIA_CAST",
                                   "MEMO",
                                   "MIXED_CONTENT_ALBUM",
                                   "NETWORK_ASSOCIATION",
                                   "PLAYLIST",
                                   "PROGRAM",
                                   "SECTION",
                                   "TASK",
                                   "TELEVISION",
                                   "UNSPECIFIED",
                                   "VIDEO",
                                   "VIDEO_ALBUM",
                                   "WIRELESS_PROFILE",
                                   "FOLDER"};
        QCOMPARE(names.size(), 29);
        QSet<QString> guids;
        for (const QString &name : names) {
            const QString guid = ContentTypeGuid(name);
            QVERIFY2(!guid.isEmpty(), qPrintable(name));
            guids.insert(guid.toUpper());
            QCOMPARE(ContentTypeName(guid), name);
        }
        QCOMPARE(guids.size(), 29);
    }

    void valueReads()
    {
        PortableDeviceValues values;
        values.SetStringValue(WPD_OBJECT_NAME, QStringLiteral("DCIM"));
        values.SetUnsignedIntegerValue(WPD_DEVICE_POWER_LEVEL, 50);
        values.SetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, 5ull << 30);

        QString text;
        std::uint32_t number = 0;
        std::uint64_t large = 0;
        QCOMPARE(values.GetStringValue(WPD_OBJECT_NAME, text), S_OK);
        QCOMPARE(text, QStringLiteral("DCIM"));
        QVERIFY(FAILED(values.GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, text)));
        QVERIFY(FAILED(values.GetStringValue(WPD_DEVICE_POWER_LEVEL, text)));
        QVERIFY(FAILED(values.GetUnsignedIntegerValue(WPD_OBJECT_NAME, number)));
        QCOMPARE(values.GetUnsignedIntegerValue(WPD_DEVICE_POWER_LEVEL, number), S_OK);
        QCOMPARE(number, 50u);
        // A 5 GiB size is kept whole; it cannot be read as 32 bits.
        QCOMPARE(values.GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, large), S_OK);
        QCOMPARE(large, 5ull << 30);
        QVERIFY(FAILED(values.GetUnsignedIntegerValue(WPD_OBJECT_SIZE, number)));
        QCOMPARE(values.GetUnsignedLargeIntegerValue(WPD_DEVICE_POWER_LEVEL, large), S_OK);
        QCOMPARE(large, 50ull);
    }

    void stringToPropVariantFillsDeleteCollection()
    {
        FakeDeviceService service;
        FakeDevice &device = service.AddDevice(QStringLiteral("usb:1"), QStringLiteral("Cam"));
        const QString storage = device.AddStorage(QStringLiteral("Card"), QStringLiteral("store_1")).id;
        const QString file = device
                                 .AddFile(storage, QStringLiteral("a.jpg"), QStringLiteral("IMAGE"),
                                          QStringLiteral("2016/08/13:10:20:30.000"), QByteArray("abc"))
                                 .id;
        PROPVARIANT id;
        QCOMPARE(StringToPropVariant(service, file, id), S_OK);
        QCOMPARE(std::get<QString>(id), file);

        auto dev = service.CreateDevice();
        QCOMPARE(dev->Open(QStringLiteral("usb:1"), nullptr), S_OK);
        std::shared_ptr<IPortableDeviceContent> content;
        QCOMPARE(dev->Content(content), S_OK);
        auto ids = service.CreatePropVariantCollection();
        ids->Add(id);
        QCOMPARE(content->Delete(PORTABLE_DEVICE_DELETE_NO_RECURSION, *ids, nullptr), S_OK);
        QCOMPARE(service.deletedIds, std::vector<QString>{file});
        // Gone for good: a second delete fails with a code.
        QVERIFY(FAILED(content->Delete(PORTABLE_DEVICE_DELETE_NO_RECURSION, *ids, nullptr)));

        service.valuesCreateFails = true;
        QVERIFY(FAILED(StringToPropVariant(service, file, id)));
    }

    // Reads come in chunks of at most 131072 bytes, and failures of the data
    // stream show as codes, never as a silently short file.
    void streamReadsInChunks_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QList<int>>("chunks");
        QTest::newRow("empty") << qint64(0) << QList<int>{};
        QTest::newRow("exactly one chunk") << qint64(131072) << QList<int>{131072};
        QTest::newRow("300000 bytes") << qint64(300000) << QList<int>{131072, 131072, 37856};
    }
    void streamReadsInChunks()
    {
        QFETCH(qint64, size);
        QFETCH(QList<int>, chunks);
        FakeDeviceService service;
        FakeDevice &device = service.AddDevice(QStringLiteral("usb:1"), QStringLiteral("Cam"));
        const QString storage = device.AddStorage(QStringLiteral("Card"), QStringLiteral("store_1")).id;
        QByteArray data(size, Qt::Uninitialized);
        for (qint64 i = 0; i < size; ++i)
            data[i] = char(i * 7);
        const QString file = device
                                 .AddFile(storage, QStringLiteral("v.mp4"), QStringLiteral("VIDEO"),
                                          QStringLiteral("2016/08/13:10:20:30.000"), data)
                                 .id;
        auto stream = OpenStream(service, file);
        QVERIFY(stream);
        QCOMPARE(stream->Seek(0, IStream::STREAM_SEEK_SET, nullptr), S_OK);
        QByteArray got;
        QList<int> sizes;
        QByteArray buffer(kTransferChunkSize, Qt::Uninitialized);
        for (;;) {
            std::uint32_t read = 0;
            QCOMPARE(stream->Read(buffer.data(), kTransferChunkSize, &read), S_OK);
            if (read == 0)
                break;
            sizes << int(read);
            got.append(buffer.constData(), read);
        }
        QCOMPARE(sizes, chunks);
        QCOMPARE(got, data);
    }

    void streamFailures()
    {
        FakeDeviceService service;
        FakeDevice &device = service.AddDevice(QStringLiteral("usb:1"), QStringLiteral("Cam"));
        const QString storage = device.AddStorage(QStringLiteral("Card"), QStringLiteral("store_1")).id;
        FakeObject &broken = device.AddSizedFile(storage, QStringLiteral("b.jpg"), QStringLiteral("IMAGE"),
                                                 QStringLiteral("2016/08/13:10:20:30.000"), 400000);
        broken.readFailsAt = 200000;
        broken.readFailCode = E_DEVICE_NOT_CONNECTED;
        FakeObject &locked = device.AddSizedFile(storage, QStringLiteral("c.jpg"), QStringLiteral("IMAGE"),
                                                 QStringLiteral("2016/08/13:10:20:30.000"), 10);
        locked.getStreamCode = E_ACCESSDENIED;

        auto stream = OpenStream(service, broken.id);
        QByteArray buffer(kTransferChunkSize, Qt::Uninitialized);
        std::uint32_t read = 0;
        std::uint64_t total = 0;
        HRESULT hr = S_OK;
        while ((hr = stream->Read(buffer.data(), kTransferChunkSize, &read)) == S_OK && read > 0)
            total += read;
        QCOMPARE(hr, E_DEVICE_NOT_CONNECTED);
        QCOMPARE(total, 200000ull);

        QVERIFY(!OpenStream(service, locked.id));
        QVERIFY(!OpenStream(service, storage + QStringLiteral("/missing.jpg")));
    }

    void enumerationFailures()
    {
        FakeDeviceService service;
        FakeDevice &device = service.AddDevice(QStringLiteral("usb:1"), QStringLiteral("Cam"));
        FakeObject &storage = device.AddStorage(QStringLiteral("Card"), QStringLiteral("store_1"));
        device.AddFolder(storage.id, QStringLiteral("DCIM"));
        device.AddFolder(storage.id, QStringLiteral("MISC"));
        device.Object(storage.id).nextFailsAfter = 1;
        device.Object(storage.id).nextFailCode = E_FAIL;

        auto dev = service.CreateDevice();
        QCOMPARE(dev->Open(QStringLiteral("usb:1"), nullptr), S_OK);
        std::shared_ptr<IPortableDeviceContent> content;
        QCOMPARE(dev->Content(content), S_OK);
        std::shared_ptr<IEnumPortableDeviceObjectIDs> children;
        QCOMPARE(content->EnumObjects(0, QStringLiteral("DEVICE"), children), S_OK);
        QString id;
        QCOMPARE(children->Next(id), S_OK);
        QCOMPARE(id, storage.id);
        QCOMPARE(children->Next(id), S_FALSE);

        QCOMPARE(content->EnumObjects(0, storage.id, children), S_OK);
        QCOMPARE(children->Next(id), S_OK);
        QCOMPARE(children->Next(id), E_FAIL);

        // Unplugged after opening: every call fails, none hangs.
        service.RemoveDevice(QStringLiteral("usb:1"));
        QCOMPARE(content->EnumObjects(0, QStringLiteral("DEVICE"), children), E_DEVICE_NOT_CONNECTED);
    }

private:
    static std::shared_ptr<IStream> OpenStream(FakeDeviceService &service, const QString &objectId)
    {
        auto dev = service.CreateDevice();
        if (dev->Open(service.devices.front().deviceId, nullptr) != S_OK)
            return nullptr;
        std::shared_ptr<IPortableDeviceContent> content;
        std::shared_ptr<IPortableDeviceResources> resources;
        std::shared_ptr<IStream> stream;
        if (dev->Content(content) != S_OK || content->Transfer(resources) != S_OK ||
            resources->GetStream(objectId, WPD_RESOURCE_DEFAULT, STGM_READ, stream) != S_OK)
            return nullptr;
        return stream;
    }
};

FERROVANE_TEST_MAIN(TestPortableDevice)
#include "tst_portabledevice.moc"
