#include "common/LogLines.h"
#include "common/TestMain.h"

#include "base/FileNames.h"
#include "device/DeviceConnection.h"
#include "device/DeviceSession.h"
#include "device/FolderBackend.h"
#include "log/ActivityLog.h"

#include <QProcess>

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The drive backend against real folders: nothing is faked here.
class TestFolderBackend : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir outside_;
    QTemporaryDir parent_;
    QString card_;  // .../EOS_DIGITAL
    std::unique_ptr<DeviceService> service_;
    std::shared_ptr<IPortableDeviceContent> content_;

    static void Write(const QString &path, const QByteArray &data)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(data), data.size());
    }
    static QByteArray Pattern(qint64 size)
    {
        QByteArray data(size, Qt::Uninitialized);
        for (qint64 i = 0; i < size; ++i)
            data[i] = char((i * 7 + i / 251) & 0xFF);
        return data;
    }
    QString Id(const QString &relative) const { return QStringLiteral("/EOS_DIGITAL/") + relative; }

    // Every object below the storage, depth first, as "id|type|size".
    QStringList Walk(const QString &id)
    {
        QStringList out;
        std::shared_ptr<IEnumPortableDeviceObjectIDs> children;
        if (FAILED(content_->EnumObjects(0, id, children)))
            return {QStringLiteral("enumeration failed")};
        std::shared_ptr<IPortableDeviceProperties> properties;
        content_->Properties(properties);
        QString child;
        while (children->Next(child) == S_OK) {
            std::shared_ptr<PortableDeviceValues> values;
            properties->GetValues(child, nullptr, values);
            QString type;
            std::uint64_t size = 0;
            values->GetStringValue(WPD_OBJECT_CONTENT_TYPE, type);
            values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, size);
            out << QStringLiteral("%1|%2|%3").arg(child, ContentTypeName(type)).arg(size);
            out << Walk(child);
        }
        return out;
    }
    HRESULT ReadAll(const QString &id, QByteArray &data, QList<int> &chunks)
    {
        std::shared_ptr<IPortableDeviceResources> resources;
        content_->Transfer(resources);
        std::shared_ptr<IStream> stream;
        HRESULT hr = resources->GetStream(id, WPD_RESOURCE_DEFAULT, STGM_READ, stream);
        if (FAILED(hr))
            return hr;
        stream->Seek(0, IStream::STREAM_SEEK_SET, nullptr);
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
    HRESULT Delete(const QString &id)
    {
        PortableDevicePropVariantCollection ids;
        PROPVARIANT value;
        StringToPropVariant(*service_, id, value);
        ids.Add(value);
        return content_->Delete(PORTABLE_DEVICE_DELETE_NO_RECURSION, ids, nullptr);
    }

private slots:
    void init()
    {
        card_ = parent_.path() + QStringLiteral("/EOS_DIGITAL");
        QDir(card_).removeRecursively();
        Write(card_ + QStringLiteral("/DCIM/100CANON/IMG_0001.JPG"), "jpeg");
        Write(card_ + QStringLiteral("/DCIM/100CANON/with blank 'and' \"quotes\".jpg"), "q");
        Write(card_ + QStringLiteral("/DCIM/100CANON/Straße_写真.JPG"), "u");
        Write(card_ + QStringLiteral("/DCIM/100CANON/empty.MOV"), QByteArray());
        Write(card_ + QStringLiteral("/DCIM/100CANON/chunk.WAV"), Pattern(131072));
        Write(card_ + QStringLiteral("/DCIM/100CANON/three.MP4"), Pattern(300000));
        Write(card_ + QStringLiteral("/DCIM/.hidden.jpg"), "h");
        Write(card_ + QStringLiteral("/MISC/notes.txt"), "n");
        Write(outside_.path() + QStringLiteral("/secret.jpg"), "s");
        QFile::link(outside_.path() + QStringLiteral("/secret.jpg"), card_ + QStringLiteral("/DCIM/outside.jpg"));
        QFile::link(card_ + QStringLiteral("/MISC/notes.txt"), card_ + QStringLiteral("/DCIM/inside.txt"));
        QFile::link(card_, card_ + QStringLiteral("/DCIM/loop"));
        const QString folder = card_;
        service_ = CreateBackendService({std::make_shared<FolderBackend>([folder] { return QStringList{folder}; })});
        auto device = service_->CreateDevice();
        QCOMPARE(device->Open(FolderBackend::DeviceIdFor(card_), nullptr), S_OK);
        QCOMPARE(device->Content(content_), S_OK);
    }
    void cleanup()
    {
        content_.reset();
        service_.reset();
        // Names that are not UTF-8, and paths longer than a path may be, are
        // beyond QDir; rm takes them as they are.
        QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), card_});
    }

    void foundByTheManager()
    {
        auto manager = service_->CreateManager();
        QStringList ids;
        QCOMPARE(manager->GetDevices(ids), S_OK);
        QCOMPARE(ids, QStringList{FolderBackend::DeviceIdFor(card_)});
        QString maker, description, friendly;
        manager->GetDeviceManufacturer(ids[0], maker);
        manager->GetDeviceDescription(ids[0], description);
        manager->GetDeviceFriendlyName(ids[0], friendly);
        QCOMPARE(maker, QStringLiteral("Folder"));
        QCOMPARE(description, QStringLiteral("EOS_DIGITAL"));
        QCOMPARE(friendly, card_);
    }

    void openedAndReported()
    {
        ActivityLog log;
        DeviceConnection connection(*service_, log);
        connection.CurrentDeviceName = QStringLiteral("Folder EOS_DIGITAL");
        QVERIFY(connection.OpenDevice(FolderBackend::DeviceIdFor(card_), false));
        const QStringList lines = LogTexts(log);
        QVERIFY(lines.contains(QStringLiteral("DEVICE TYPE = WPD_DEVICE_TYPE_CAMERA")));
        QVERIFY(lines.contains(QStringLiteral("MANUFACTURER: Folder")));
        QVERIFY(lines.contains(QStringLiteral("SERIAL No.: ") + card_));
        QVERIFY(!lines.join(QLatin1Char(',')).contains(QStringLiteral("POWER")));
        QCOMPARE(connection.GetDeviceSerialNo(FolderBackend::DeviceIdFor(card_)), card_);
    }

    void walk()
    {
        std::shared_ptr<IEnumPortableDeviceObjectIDs> top;
        QCOMPARE(content_->EnumObjects(0, QStringLiteral("DEVICE"), top), S_OK);
        QString storage;
        QCOMPARE(top->Next(storage), S_OK);
        QCOMPARE(storage, QStringLiteral("/EOS_DIGITAL"));
        std::shared_ptr<IPortableDeviceProperties> properties;
        content_->Properties(properties);
        std::shared_ptr<PortableDeviceValues> values;
        QCOMPARE(properties->GetValues(storage, nullptr, values), S_OK);
        QString name, type, original;
        values->GetStringValue(WPD_OBJECT_NAME, name);
        values->GetStringValue(WPD_OBJECT_CONTENT_TYPE, type);
        QCOMPARE(name, card_);  // a drive device: the folder's absolute path
        QCOMPARE(ContentTypeName(type), QStringLiteral("FUNCTIONAL_OBJECT"));
        QVERIFY(FAILED(values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, original)));

        const QStringList all = Walk(storage);
        const QStringList expected = {
            Id("DCIM") + "|FOLDER|0",
            Id("DCIM/.hidden.jpg") + "|IMAGE|1",
            Id("DCIM/inside.txt") + "|GENERIC_FILE|1",
            Id("DCIM/100CANON") + "|FOLDER|0",
        };
        for (const QString &e : expected)
            QVERIFY2(all.contains(e), qPrintable(e + " in " + all.join(", ")));
        for (const QString &file :
             {QStringLiteral("IMG_0001.JPG|IMAGE|4"), QStringLiteral("with blank 'and' \"quotes\".jpg|IMAGE|1"),
              QStringLiteral("Straße_写真.JPG|IMAGE|1"), QStringLiteral("empty.MOV|VIDEO|0"),
              QStringLiteral("chunk.WAV|AUDIO|131072"), QStringLiteral("three.MP4|VIDEO|300000")})
            QVERIFY2(all.contains(Id("DCIM/100CANON/") + file), qPrintable(file));
        QVERIFY(all.contains(Id("MISC/notes.txt") + "|GENERIC_FILE|1"));
        // Links never lead out of the folder, nor round in circles.
        QVERIFY(!all.join(',').contains(QStringLiteral("outside.jpg")));
        QVERIFY(!all.join(',').contains(QStringLiteral("loop")));
        QCOMPARE(all.size(), 12);

        QCOMPARE(properties->GetValues(Id("DCIM/100CANON/IMG_0001.JPG"), nullptr, values), S_OK);
        QString date;
        values->GetStringValue(WPD_OBJECT_DATE_CREATED, date);
        QCOMPARE(date, QFileInfo(card_ + "/DCIM/100CANON/IMG_0001.JPG")
                           .lastModified()
                           .toString(QStringLiteral("yyyy/MM/dd:HH:mm:ss.zzz")));
        values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, original);
        QCOMPARE(original, QStringLiteral("IMG_0001.JPG"));
    }

    void reads_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<int>>("chunks");
        QTest::addColumn<int>("grown");  // bytes added after the listing
        QTest::newRow("empty") << "empty.MOV" << QList<int>{} << 0;
        QTest::newRow("one chunk exactly") << "chunk.WAV" << QList<int>{131072} << 0;
        QTest::newRow("300000 bytes") << "three.MP4" << QList<int>{131072, 131072, 37856} << 0;
        // Longer than listed: read past the listed size to the file's end.
        QTest::newRow("grown after the listing") << "chunk.WAV" << QList<int>{131072, 1000} << 1000;
        QTest::newRow("empty when listed") << "empty.MOV" << QList<int>{7} << 7;
    }
    void reads()
    {
        QFETCH(QString, name);
        QFETCH(QList<int>, chunks);
        QFETCH(int, grown);
        QVERIFY(Walk(QStringLiteral("/EOS_DIGITAL")).size() > 1);
        QFile grow(card_ + "/DCIM/100CANON/" + name);
        QVERIFY(grow.open(QIODevice::Append));
        QCOMPARE(grow.write(QByteArray(grown, 'g')), qint64(grown));
        grow.close();
        QByteArray data;
        QList<int> got;
        QCOMPARE(ReadAll(Id("DCIM/100CANON/") + name, data, got), S_OK);
        QCOMPARE(got, chunks);
        QFile f(card_ + "/DCIM/100CANON/" + name);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(data, f.readAll());
    }

    // A folder lists files before folders, each by name, and leaves out
    // pipes; the ASCII-only and the general way sort alike. An object just
    // deleted is not found again, however recently it was asked about.
    void listingOrder_data()
    {
        QTest::addColumn<QStringList>("names");  // as created; "/" ends a folder
        QTest::addColumn<QStringList>("order");
        QTest::newRow("ASCII") << QStringList{"b.jpg", "A/", "a.jpg", "B.JPG", "_x.jpg", "0/"}
                               << QStringList{"B.JPG", "_x.jpg", "a.jpg", "b.jpg", "0", "A"};
        QTest::newRow("beyond ASCII") << QStringList{"b.jpg", "ä.jpg", "Z/", "a.jpg", "é/", "写.jpg"}
                                      << QStringList{"a.jpg", "b.jpg", "ä.jpg", "写.jpg", "Z", "é"};
    }
    void listingOrder()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, order);
        const QString folder = card_ + QStringLiteral("/SORT/");
        for (const QString &name : names) {
            if (name.endsWith(QLatin1Char('/')))
                QVERIFY(QDir().mkpath(folder + name));
            else
                Write(folder + name, "x");
        }
        QCOMPARE(::mkfifo(QFile::encodeName(folder + QStringLiteral("pipe.jpg")).constData(), 0644), 0);
        std::shared_ptr<IEnumPortableDeviceObjectIDs> children;
        QCOMPARE(content_->EnumObjects(0, Id("SORT"), children), S_OK);
        QStringList listed;
        for (QString child; children->Next(child) == S_OK;)
            listed << child.mid(Id("SORT/").size());
        QCOMPARE(listed, order);

        std::shared_ptr<IPortableDeviceProperties> properties;
        content_->Properties(properties);
        std::shared_ptr<PortableDeviceValues> values;
        const QString first = Id("SORT/") + order.first();
        QCOMPARE(properties->GetValues(first, nullptr, values), S_OK);
        QCOMPARE(Delete(first), S_OK);
        QCOMPARE(properties->GetValues(first, nullptr, values), E_NOT_FOUND);
        QCOMPARE(properties->GetValues(Id("SORT/") + order.at(1), nullptr, values), S_OK);
    }

    void bigFilesKeepTheirSize()
    {
        QFile big(card_ + QStringLiteral("/DCIM/100CANON/BIG.MOV"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(5ll << 30));  // sparse: costs no disk
        big.close();
        const QStringList all = Walk(QStringLiteral("/EOS_DIGITAL"));
        QVERIFY(all.contains(Id("DCIM/100CANON/BIG.MOV") + "|VIDEO|5368709120"));
    }

    void failures()
    {
        Walk(QStringLiteral("/EOS_DIGITAL"));
        QByteArray data;
        QList<int> chunks;
        // Removed between listing and reading.
        QFile::remove(card_ + QStringLiteral("/DCIM/100CANON/IMG_0001.JPG"));
        QCOMPARE(ReadAll(Id("DCIM/100CANON/IMG_0001.JPG"), data, chunks), E_NOT_FOUND);
        // A folder that is not there.
        std::shared_ptr<IEnumPortableDeviceObjectIDs> children;
        QCOMPARE(content_->EnumObjects(0, Id("NOPE"), children), E_NOT_FOUND);
        // Identifiers cannot climb out of the folder.
        QCOMPARE(ReadAll(QStringLiteral("/EOS_DIGITAL/../") + QFileInfo(outside_.path()).fileName() +
                             QStringLiteral("/secret.jpg"),
                         data, chunks),
                 E_NOT_FOUND);
        QCOMPARE(ReadAll(QStringLiteral("/OTHER/DCIM/x.jpg"), data, chunks), E_NOT_FOUND);
        // The whole card gone: every way in says so, and tells to put it back
        // (not to unlock a phone).
        QVERIFY(QDir(card_).removeRecursively());
        const HRESULT gone[] = {content_->EnumObjects(0, QStringLiteral("DEVICE"), children),
                                ReadAll(Id("DCIM/100CANON/three.MP4"), data, chunks),
                                Delete(Id("DCIM/100CANON/three.MP4")), content_->EnumObjects(0, Id("DCIM"), children)};
        for (const HRESULT hr : gone) {
            QCOMPARE(hr, E_FOLDER_GONE);
            QVERIFY(DeviceFailureReason(hr).startsWith(QStringLiteral("The folder or memory card is gone")));
        }
    }

    void deletes()
    {
        Walk(QStringLiteral("/EOS_DIGITAL"));
        QCOMPARE(Delete(Id("DCIM/100CANON/IMG_0001.JPG")), S_OK);
        QVERIFY(!QFile::exists(card_ + QStringLiteral("/DCIM/100CANON/IMG_0001.JPG")));
        QCOMPARE(Delete(Id("DCIM/100CANON/IMG_0001.JPG")), E_NOT_FOUND);
        // A protected (read-only) picture stays, with a code that says so.
        const QString locked = card_ + QStringLiteral("/DCIM/100CANON/three.MP4");
        QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        QCOMPARE(Delete(Id("DCIM/100CANON/three.MP4")), E_ACCESSDENIED);
        QVERIFY(QFile::exists(locked));
        // The storage itself is never deleted.
        QCOMPARE(Delete(QStringLiteral("/EOS_DIGITAL")), E_ACCESSDENIED);
    }

    void cardMountsFromTheMountTable()
    {
        QTemporaryDir mounts;
        const QString withDcim = mounts.path() + QStringLiteral("/NIKON D750");
        const QString without = mounts.path() + QStringLiteral("/USB STICK");
        QDir().mkpath(withDcim + QStringLiteral("/DCIM"));
        QDir().mkpath(without + QStringLiteral("/Music"));
        auto escaped = [](QString path) { return path.replace(QLatin1Char(' '), QStringLiteral("\\040")).toUtf8(); };
        const QByteArray table = "22 28 0:21 / /proc rw - proc proc rw\n41 28 8:17 / " + escaped(withDcim) +
                                 " rw shared:1 - vfat /dev/sdb1 rw\n42 28 8:33 / " + escaped(without) +
                                 " rw - vfat /dev/sdc1 rw\n28 1 8:1 / / rw - ext4 /dev/sda1 rw\n";
        QCOMPARE(FolderBackend::CardMounts(table), QStringList{withDcim});

        // The program reads the table it is given, never the machine's own.
        QFile given(qEnvironmentVariable("FERROVANE_MOUNTINFO"));
        QVERIFY(!FolderBackend::DefaultFolders().contains(withDcim));
        QVERIFY(given.open(QIODevice::WriteOnly) && given.write(table) == table.size());
        given.close();
        QVERIFY(FolderBackend::DefaultFolders().contains(withDcim));
        QVERIFY(given.open(QIODevice::WriteOnly | QIODevice::Truncate));
    }

    void environmentFolders()
    {
        qputenv("FERROVANE_FOLDER_DEVICES", QFile::encodeName(card_ + QStringLiteral(":/no/such/folder:")));
        QVERIFY(FolderBackend::DefaultFolders().contains(card_));
        FolderBackend backend;
        std::vector<DeviceEntry> devices;
        QCOMPARE(backend.Enumerate(devices), S_OK);
        bool found = false;
        for (const DeviceEntry &d : devices)
            found |= d.deviceId == FolderBackend::DeviceIdFor(card_);
        QVERIFY(found);
        qunsetenv("FERROVANE_FOLDER_DEVICES");
    }

    // A name that is not valid UTF-8 is listed under its own bytes (odd
    // bytes as U+DC80 + byte, FileNames.h), read, and deleted like any
    // other; two names that differ only in such bytes stay two objects.
    void namesThatAreNotUtf8()
    {
        const QByteArray folder = QFile::encodeName(card_) + "/DCIM/100CANON/";
        auto make = [](const QByteArray &path, const QByteArray &data) {
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, data.constData(), size_t(data.size())), ssize_t(data.size()));
            ::close(fd);
        };
        make(folder + "bad\xff.jpg", "first");
        make(folder + "bad\xfe.jpg", "second");
        QCOMPARE(::mkdir((folder + "dir\xfd").constData(), 0755), 0);
        make(folder + "dir\xfd/in.jpg", "inside");

        const QString badFF = nameFromBytes("bad\xff.jpg");
        const QString badFE = nameFromBytes("bad\xfe.jpg");
        const QString dir = nameFromBytes("dir\xfd");
        const QStringList all = Walk(QStringLiteral("/EOS_DIGITAL"));
        QVERIFY2(all.contains(Id("DCIM/100CANON/") + badFF + "|IMAGE|5"), qPrintable(all.join(", ")));
        QVERIFY(all.contains(Id("DCIM/100CANON/") + badFE + "|IMAGE|6"));
        QVERIFY(all.contains(Id("DCIM/100CANON/") + dir + "|FOLDER|0"));
        QVERIFY(all.contains(Id("DCIM/100CANON/") + dir + "/in.jpg|IMAGE|6"));

        std::shared_ptr<IPortableDeviceProperties> properties;
        content_->Properties(properties);
        std::shared_ptr<PortableDeviceValues> values;
        QCOMPARE(properties->GetValues(Id("DCIM/100CANON/") + badFF, nullptr, values), S_OK);
        QString original;
        values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, original);
        QCOMPARE(nameToBytes(original), QByteArray("bad\xff.jpg"));

        QByteArray data;
        QList<int> chunks;
        QCOMPARE(ReadAll(Id("DCIM/100CANON/") + badFE, data, chunks), S_OK);
        QCOMPARE(data, QByteArray("second"));
        data.clear();
        QCOMPARE(ReadAll(Id("DCIM/100CANON/") + badFF, data, chunks), S_OK);
        QCOMPARE(data, QByteArray("first"));
        data.clear();
        QCOMPARE(ReadAll(Id("DCIM/100CANON/") + dir + "/in.jpg", data, chunks), S_OK);
        QCOMPARE(data, QByteArray("inside"));

        QCOMPARE(Delete(Id("DCIM/100CANON/") + badFF), S_OK);
        struct stat st
        {
        };
        QCOMPARE(::stat((folder + "bad\xff.jpg").constData(), &st), -1);
        QCOMPARE(::stat((folder + "bad\xfe.jpg").constData(), &st), 0);

        // A session that has not listed the folder yet finds the bytes too.
        auto device = service_->CreateDevice();
        QCOMPARE(device->Open(FolderBackend::DeviceIdFor(card_), nullptr), S_OK);
        QCOMPARE(device->Content(content_), S_OK);
        data.clear();
        QCOMPARE(ReadAll(Id("DCIM/100CANON/") + dir + "/in.jpg", data, chunks), S_OK);
        QCOMPARE(data, QByteArray("inside"));
    }

    // A folder that cannot be listed says why, in the system's words; its
    // siblings list as before.
    void folderThatCannotBeListed()
    {
        // Deeper than a path may be: opening it fails even for root.
        const QByteArray top = QFile::encodeName(card_) + "/DEEP";
        QCOMPARE(::mkdir(top.constData(), 0755), 0);
        int fd = ::open(top.constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(fd >= 0);
        const QByteArray part(200, 'd');
        QString id = Id("DEEP");
        QByteArray path = top;
        // The first folder whose path is too long; its parent lists it.
        while (path.size() < PATH_MAX) {
            QCOMPARE(::mkdirat(fd, part.constData(), 0755), 0);
            const int next = ::openat(fd, part.constData(), O_RDONLY | O_DIRECTORY);
            ::close(fd);
            QVERIFY(next >= 0);
            fd = next;
            id += QLatin1Char('/') + QString::fromLatin1(part);
            path += '/' + part;
        }
        ::close(fd);
        std::shared_ptr<IEnumPortableDeviceObjectIDs> children;
        const HRESULT hr = content_->EnumObjects(0, id, children);
        QVERIFY(FAILED(hr));
        QVERIFY(hr != E_DEVICE_NOT_CONNECTED);  // the card is still there
        QVERIFY2(DeviceFailureReason(hr).contains(qt_error_string(ENAMETOOLONG)), qPrintable(DeviceFailureReason(hr)));
        QCOMPARE(content_->EnumObjects(0, Id("MISC"), children), S_OK);
    }

    // How the device list names a folder or volume: never after a bare
    // hexadecimal vendor id, never with an empty part.
    void deviceNames_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("mountRoot");
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("card");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain folder") << "/home/u/Pictures" << false << ""
                                      << ""
                                      << "" << false << "Folder Pictures";
        QTest::newRow("card reader with label") << "/media/u/EOS_DIGITAL" << true << "Generic"
                                                << "SD/MMC"
                                                << "EOS_DIGITAL" << true << "Generic EOS_DIGITAL";
        QTest::newRow("card reader, no label") << "/media/u/x" << true << "Generic"
                                               << "SD/MMC"
                                               << "" << true << "Generic SD/MMC";
        QTest::newRow("virtio root disk") << "/" << true << "0x1af4"
                                          << ""
                                          << "" << false << "Folder /";
        QTest::newRow("hex vendor, labelled card") << "/media/u/card" << true << "0x1af4"
                                                   << "0x0001"
                                                   << "NIKON" << true << "Memory Card NIKON";
        QTest::newRow("no vendor, no label") << "/media/u/card" << true << ""
                                             << ""
                                             << "" << true << "Memory Card card";
        QTest::newRow("vendor, hex model") << "/media/u/card" << true << "SanDisk"
                                           << "0x5581"
                                           << "" << true << "SanDisk card";
    }
    void deviceNames()
    {
        QFETCH(QString, path);
        QFETCH(bool, mountRoot);
        QFETCH(QString, vendor);
        QFETCH(QString, model);
        QFETCH(QString, label);
        QFETCH(bool, card);
        QFETCH(QString, name);
        VolumeIdentity volume;
        volume.mountRoot = mountRoot;
        volume.vendor = vendor;
        volume.model = model;
        volume.label = label;
        const DeviceEntry entry = FolderBackend::NameDevice(path, volume, card);
        QVERIFY(!entry.manufacturer.trimmed().isEmpty());
        QVERIFY(!entry.description.trimmed().isEmpty());
        QCOMPARE(entry.manufacturer + QLatin1Char(' ') + entry.description, name);
    }
};

FERROVANE_TEST_MAIN(TestFolderBackend)
#include "tst_folderbackend.moc"
