// PTP spoken directly to phones: the data sets as devices send them, and
// whole transactions over a USB pipe cut into packets the ways real devices
// cut them (the virtual camera only ever hands over a byte stream).

#include "common/TestMain.h"

#include "device/DeviceSession.h"
#include "device/PortableDevice.h"
#include "device/PtpConnection.h"

#include <QScopeGuard>

#include <deque>
#include <map>

namespace {

void Put16(QByteArray &out, std::uint16_t v)
{
    out.append(char(v & 0xFF)).append(char(v >> 8));
}
void Put32(QByteArray &out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF), Put16(out, v >> 16);
}
void PutString(QByteArray &out, const QString &text)
{
    out.append(char(text.isEmpty() ? 0 : text.size() + 1));
    for (QChar c : text)
        Put16(out, c.unicode());
    if (!text.isEmpty())
        Put16(out, 0);
}

// A phone behind a USB pipe: one folder of files under the storage's root.
class FakePhone : public PtpPort
{
public:
    enum Packets { Stream, Usb, SplitHeader };
    struct File
    {
        QString name;
        QByteArray data;
        QString date;
    };

    Packets packets = Usb;
    bool camera = false;          // a camera's operations: GetPartialObject, nothing of MTP
    bool byFolder = true;         // false: lists only every object at once
    bool refusesPastEnd = false;  // a read past the listed size is refused
    bool propList = true;
    bool propListSkipsFirst = false;  // a device whose list leaves one out
    bool sizeProperty = true;         // GetObjPropValue is offered
    bool listsSizeIn32Bits = false;   // the property list gives sizes as UINT32
    std::uint64_t firstSize = 0;      // the first file's declared size, when not its data's
    std::vector<File> files;
    std::map<std::uint16_t, int> requests;

    int Write(const char *data, int size) override
    {
        const QByteArray command(data, size);
        const auto header = ptp::ParseHeader(data, std::size_t(size));
        const std::vector<std::uint32_t> p = ptp::ResponseParams(data, std::size_t(size));
        ++requests[header->code];
        QByteArray payload;
        bool hasData = true;
        std::uint16_t rc = ptp::RcOK;
        switch (header->code) {
        case ptp::GetDeviceInfo: {
            Put16(payload, 100), Put32(payload, camera ? 0xA : 6), Put16(payload, 100);
            PutString(payload,
                      camera ? QStringLiteral("G-V: 1.0;") : QStringLiteral("microsoft.com: 1.0; android.com: 1.0;"));
            Put16(payload, 0);
            std::vector<std::uint16_t> ops{0x1001, 0x1002, 0x1004, 0x1005, 0x1007, 0x1008, 0x100A};
            if (camera)
                ops.push_back(0x101B);
            else
                ops.push_back(0x95C1);
            if (!camera && sizeProperty)
                ops.push_back(0x9803);
            if (!camera && propList)
                ops.push_back(0x9805);
            Put32(payload, std::uint32_t(ops.size()));
            for (std::uint16_t op : ops)
                Put16(payload, op);
            for (int i = 0; i < 4; ++i)
                Put32(payload, 0);
            for (const char *s : {"Google", "Pixel 7", "1.0", "SERIAL"})
                PutString(payload, QString::fromLatin1(s));
            break;
        }
        case ptp::GetStorageIDs: Put32(payload, 1), Put32(payload, 0x00010001); break;
        case ptp::GetStorageInfo:
            payload = QByteArray(26, '\0');  // types, access, capacity, free space
            PutString(payload, QStringLiteral("Internal shared storage")), PutString(payload, QString());
            break;
        case ptp::GetObjectHandles:
            if (!byFolder && p.at(2) != 0) {
                hasData = false, rc = ptp::RcParameterNotSupported;
                break;
            }
            // Every object of the device holds one in another folder.
            Put32(payload, std::uint32_t(files.size() + (byFolder ? 0 : 1)));
            for (std::size_t i = 0; i < files.size(); ++i)
                Put32(payload, std::uint32_t(i + 1));
            if (!byFolder)
                Put32(payload, kElsewhere);
            break;
        case ptp::MtpGetObjPropList: {
            const std::size_t from = propListSkipsFirst ? 1 : 0;
            Put32(payload, std::uint32_t((files.size() - from) * 4));
            for (std::size_t i = from; i < files.size(); ++i) {
                const std::uint32_t h = std::uint32_t(i + 1);
                Put32(payload, h), Put16(payload, 0xDC07), Put16(payload, 0xFFFF), PutString(payload, files[i].name);
                Put32(payload, h), Put16(payload, 0xDC02), Put16(payload, 0x0004), Put16(payload, 0x3801);
                const std::uint64_t declared = Declared(i);
                if (listsSizeIn32Bits)
                    Put32(payload, h), Put16(payload, 0xDC04), Put16(payload, 0x0006), Put32(payload, Size32(declared));
                else
                    Put32(payload, h), Put16(payload, 0xDC04), Put16(payload, 0x0008),
                        Put32(payload, std::uint32_t(declared)), Put32(payload, std::uint32_t(declared >> 32));
                Put32(payload, h), Put16(payload, 0xDC09), Put16(payload, 0xFFFF), PutString(payload, files[i].date);
            }
            break;
        }
        case ptp::GetObjectInfo: {
            const bool elsewhere = p.at(0) == kElsewhere;
            const File &f = elsewhere ? files.at(0) : files.at(p.at(0) - 1);
            Put32(payload, 0x00010001), Put16(payload, 0x3801), Put16(payload, 0);
            Put32(payload, Size32(Declared(elsewhere ? 0 : p.at(0) - 1)));
            payload.append(QByteArray(2 + 4 * 6, '\0'));
            Put32(payload, elsewhere ? 42 : 0), Put16(payload, 0), Put32(payload, 0), Put32(payload, 0);
            PutString(payload, f.name), PutString(payload, f.date), PutString(payload, QString());
            PutString(payload, QString());
            break;
        }
        case ptp::MtpGetObjPropValue:  // the size, the only one asked for
            Put32(payload, std::uint32_t(firstSize)), Put32(payload, std::uint32_t(firstSize >> 32));
            break;
        case ptp::GetThumb:  // an empty file has none
            payload = files.at(p.at(0) - 1).data.left(100);
            if (payload.isEmpty())
                hasData = false, rc = 0x2010;  // No Thumbnail Present
            break;
        case ptp::AndroidGetPartialObject64:  // whatever the declared size
        case ptp::GetPartialObject: {
            const bool wide = header->code == ptp::AndroidGetPartialObject64;
            const std::uint64_t offset = wide ? p.at(1) | std::uint64_t(p.at(2)) << 32 : p.at(1);
            const std::uint32_t count = wide ? p.at(3) : p.at(2);
            if (refusesPastEnd && offset + count > Declared(p.at(0) - 1)) {
                hasData = false, rc = ptp::RcInvalidParameter;
                break;
            }
            payload = files.at(p.at(0) - 1).data.mid(qsizetype(offset), qsizetype(count));
            break;
        }
        default: hasData = false; break;
        }
        if (hasData) {
            QByteArray container;
            Put32(container, std::uint32_t(12 + payload.size())), Put16(container, ptp::DataBlock);
            Put16(container, header->code), Put32(container, header->transaction);
            if (packets == SplitHeader && !payload.isEmpty()) {
                Queue(container);
                Queue(payload);
            } else {
                Queue(container + payload);
            }
        }
        QByteArray response;
        Put32(response, 12), Put16(response, ptp::ResponseBlock), Put16(response, rc);
        Put32(response, header->transaction);
        Queue(response);
        return size;
    }

    int Read(char *data, int size) override
    {
        if (transfers_.empty())
            return -10;  // a time-out
        int n = 0;
        while (n < size && !transfers_.empty()) {
            QByteArray &front = transfers_.front();
            const int take = std::min<int>(size - n, int(front.size()));
            std::memcpy(data + n, front.constData(), std::size_t(take));
            front.remove(0, take);
            n += take;
            if (!front.isEmpty())
                break;
            transfers_.pop_front();
            // A USB read ends with the transfer; only a stream runs on.
            if (packets != Stream)
                break;
        }
        return n;
    }

    static constexpr std::uint32_t kElsewhere = 99;

private:
    std::uint64_t Declared(std::size_t i) const
    {
        return i == 0 && firstSize ? firstSize : std::uint64_t(files.at(i).data.size());
    }
    // A size in 32 bits: all ones for 4 GiB or more.
    static std::uint32_t Size32(std::uint64_t size)
    {
        return std::uint32_t(std::min<std::uint64_t>(size, 0xFFFFFFFFu));
    }

    // A transfer as the device sends it: over USB, one whose length fills
    // its last packet is followed by a zero-length packet.
    void Queue(const QByteArray &transfer)
    {
        transfers_.push_back(transfer);
        if (packets != Stream && transfer.size() % 512 == 0)
            transfers_.push_back(QByteArray());
    }
    std::deque<QByteArray> transfers_;
};

}  // namespace

class TestPtpConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TZ", "XST-05:30");  // no summer time, no zone files needed
        tzset();
    }

    void dates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("expected");  // -1: not a date
        QTest::addColumn<bool>("wallClock");
        const qint64 utc = 1623752430;  // 2021-06-15 10:20:30 UTC
        QTest::newRow("UTC") << "20210615T102030Z" << utc << false;
        QTest::newRow("offset") << "20210615T122030+0200" << utc << false;
        QTest::newRow("negative offset with tenths") << "20210615T085030.5-0130" << utc << false;
        QTest::newRow("offset with a colon") << "20210615T122030+02:00" << utc << false;
        QTest::newRow("no zone: the device's clock") << "20210615T102030" << utc << true;
        QTest::newRow("month 13") << "20211315T102030" << qint64(-1) << false;
        QTest::newRow("no T") << "20210615 102030" << qint64(-1) << false;
        QTest::newRow("cut short") << "20210615T1020" << qint64(-1) << false;
        QTest::newRow("unknown zone") << "20210615T102030 CEST" << qint64(-1) << false;
    }
    void dates()
    {
        QFETCH(QString, text);
        QFETCH(qint64, expected);
        QFETCH(bool, wallClock);
        const auto parsed = ptp::ParseDateTime(text);
        QCOMPARE(parsed ? qint64(parsed->seconds) : qint64(-1), expected);
        QCOMPARE(parsed && parsed->wallClock, wallClock);
    }

    // A camera's date with a zone is a moment, shown in the computer's
    // zone: "Z" is UTC, not the local clock. Without a zone it is the
    // camera's clock, a label that reads the same in every zone (also in
    // an hour the computer's zone skips for summer time).
    void datesInZones_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("Z in Kolkata: the next day") << QByteArray("Asia/Kolkata") << "20231231T235958Z"
                                                    << "2024/01/01:05:29:58.000";
        QTest::newRow("Z in UTC") << QByteArray("UTC") << "20231231T235958Z"
                                  << "2023/12/31:23:59:58.000";
        QTest::newRow("Z in New York") << QByteArray("America/New_York") << "20231231T235958Z"
                                       << "2023/12/31:18:59:58.000";
        QTest::newRow("offset in Tokyo") << QByteArray("Asia/Tokyo") << "20231231T235958+0100"
                                         << "2024/01/01:07:59:58.000";
        QTest::newRow("no zone in Kolkata") << QByteArray("Asia/Kolkata") << "20231231T235958"
                                            << "2023/12/31:23:59:58.000";
        QTest::newRow("no zone in New York") << QByteArray("America/New_York") << "20231231T235958"
                                             << "2023/12/31:23:59:58.000";
        QTest::newRow("no zone, New York's skipped hour") << QByteArray("America/New_York") << "20210314T023000"
                                                          << "2021/03/14:02:30:00.000";
    }
    void datesInZones()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        qputenv("TZ", zone);
        tzset();
        auto restore = qScopeGuard([] {
            qputenv("TZ", "XST-05:30");
            tzset();
        });
        auto port = std::make_unique<FakePhone>();
        port->camera = true;
        port->files.push_back({QStringLiteral("DSC_0001.JPG"), QByteArray(10, 'j'), text});
        PtpConnection connection(std::move(port), 0x04b0, GPhotoKind::Camera);
        QCOMPARE(connection.Start(), 0);
        std::vector<GPhotoStorage> storages;
        QCOMPARE(connection.Storages(storages), 0);
        std::vector<GPhotoEntry> entries;
        QCOMPARE(connection.List(storages.at(0).baseDir, entries), 0);
        QCOMPARE(entries.size(), std::size_t(1));
        QVERIFY(entries[0].info.hasTime);
        QCOMPARE(WpdDateText(entries[0].info.mtime, 0, entries[0].info.wallClock), shown);
    }

    void batteryLevels_data()
    {
        QTest::addColumn<QByteArray>("description");  // after the property code
        QTest::addColumn<int>("percent");             // -1: none
        // type, get/set, default, current, form (1: a range, then min, max, step)
        QTest::newRow("0 to 100") << QByteArray("\x02\x00\x00\x64\x32\x01\x00\x64\x01", 9) << 50;
        QTest::newRow("0 to 3") << QByteArray("\x02\x00\x00\x03\x02\x01\x00\x03\x01", 9) << 66;
        QTest::newRow("1 to 4, empty") << QByteArray("\x02\x00\x00\x04\x01\x01\x01\x04\x01", 9) << 0;
        QTest::newRow("a list of levels") << QByteArray("\x02\x00\x00\x64\x4b\x02\x00\x00", 8) << 75;
        QTest::newRow("16 bits") << QByteArray("\x04\x00\x00\x64\x00\x4b\x00\x00", 8) << -1;
        QTest::newRow("cut short") << QByteArray("\x02\x00\x00", 3) << -1;
    }
    void batteryLevels()
    {
        QFETCH(QByteArray, description);
        QFETCH(int, percent);
        const auto parsed = ptp::ParseBatteryPercent(QByteArray("\x01\x50", 2) + description);
        QCOMPARE(parsed.value_or(-1), percent);
    }

    // A camera is listed and read through the same connection: one that
    // can only list every object at once is filtered to the folder asked
    // for (each object described once), and one that refuses a read past
    // the size it listed ends the file at that size.
    void camera_data()
    {
        QTest::addColumn<bool>("byFolder");
        QTest::addColumn<bool>("refusesPastEnd");
        QTest::newRow("plain") << true << false;
        QTest::newRow("every object at once") << false << false;
        QTest::newRow("refuses reads past the end") << true << true;
    }
    void camera()
    {
        QFETCH(bool, byFolder);
        QFETCH(bool, refusesPastEnd);
        auto port = std::make_unique<FakePhone>();
        FakePhone &device = *port;
        device.camera = true;
        device.byFolder = byFolder;
        device.refusesPastEnd = refusesPastEnd;
        for (int size : {0, 300000})
            device.files.push_back(
                {QStringLiteral("DSC_%1.JPG").arg(size), QByteArray(size, 'c'), QStringLiteral("20210615T102030")});
        PtpConnection connection(std::move(port), 0x04b0, GPhotoKind::Camera);
        QCOMPARE(connection.Start(), 0);
        QVERIFY(connection.Kind() == GPhotoKind::Camera);
        std::vector<GPhotoStorage> storages;
        QCOMPARE(connection.Storages(storages), 0);
        const QString root = storages.at(0).baseDir;
        for (int round = 0; round < 2; ++round) {
            std::vector<GPhotoEntry> entries;
            QCOMPARE(connection.List(root, entries), 0);
            QCOMPARE(entries.size(), std::size_t(2));
            QCOMPARE(entries[1].name, QStringLiteral("DSC_300000.JPG"));
            QCOMPARE(entries[1].info.size, std::uint64_t(300000));
        }
        QCOMPARE(device.requests[ptp::GetObjectInfo], byFolder ? 4 : 3);
        // Whole, with one byte more asked for to see the end; then at the end.
        for (const FakePhone::File &file : device.files) {
            QByteArray buffer(int(file.data.size()) + 1, Qt::Uninitialized);
            std::uint64_t got = std::uint64_t(buffer.size());
            QCOMPARE(connection.Read(root, file.name, 0, buffer.data(), got), 0);
            QCOMPARE(buffer.left(qsizetype(got)), file.data);
            got = 100;
            QCOMPARE(connection.Read(root, file.name, std::uint64_t(file.data.size()), buffer.data(), got), 0);
            QCOMPARE(got, std::uint64_t(0));
        }
    }

    // Listed and read byte for byte, whatever packets the device cuts its
    // answers into, with one request per folder where the device offers
    // the property list and one per object where it does not (or leaves
    // an object out).
    void listsAndReads_data()
    {
        QTest::addColumn<int>("packets");
        QTest::addColumn<bool>("propList");
        QTest::addColumn<bool>("skipsFirst");
        QTest::addColumn<int>("infoRequests");
        QTest::newRow("USB packets") << int(FakePhone::Usb) << true << false << 0;
        QTest::newRow("header apart") << int(FakePhone::SplitHeader) << true << false << 0;
        QTest::newRow("byte stream") << int(FakePhone::Stream) << true << false << 0;
        QTest::newRow("no property list") << int(FakePhone::Usb) << false << false << 4;
        QTest::newRow("list leaves one out") << int(FakePhone::Usb) << true << true << 1;
    }
    void listsAndReads()
    {
        QFETCH(int, packets);
        QFETCH(bool, propList);
        QFETCH(bool, skipsFirst);
        QFETCH(int, infoRequests);
        auto port = std::make_unique<FakePhone>();
        FakePhone &phone = *port;
        phone.packets = FakePhone::Packets(packets);
        phone.propList = propList;
        phone.propListSkipsFirst = skipsFirst;
        // 500 bytes fill a 512-byte packet with their header; 300,000 span
        // chunks of 131072.
        for (int size : {0, 500, 1000, 300000}) {
            QByteArray data(size, '\0');
            for (int i = 0; i < size; ++i)
                data[i] = char((i * 7 + size) & 0xFF);
            phone.files.push_back({QStringLiteral("IMG_%1 ü.jpg").arg(size), data, QStringLiteral("20210615T102030Z")});
        }
        PtpConnection connection(std::move(port), 0x18d1);
        QCOMPARE(connection.Start(), 0);
        QVERIFY(connection.Kind() == GPhotoKind::Phone);
        std::vector<GPhotoStorage> storages;
        QCOMPARE(connection.Storages(storages), 0);
        QCOMPARE(storages.size(), std::size_t(1));
        QCOMPARE(storages[0].description, QStringLiteral("Internal shared storage"));
        std::vector<GPhotoEntry> entries;
        QCOMPARE(connection.List(storages[0].baseDir, entries), 0);
        QCOMPARE(entries.size(), phone.files.size());
        QCOMPARE(phone.requests[ptp::GetObjectInfo], infoRequests);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const FakePhone::File &file = phone.files[i];
            QCOMPARE(entries[i].name, file.name);
            QVERIFY(entries[i].hasInfo && !entries[i].isFolder);
            QCOMPARE(entries[i].info.size, std::uint64_t(file.data.size()));
            QCOMPARE(entries[i].info.mtime, std::int64_t(1623752430));
            QByteArray read;
            QByteArray chunk(kTransferChunkSize, Qt::Uninitialized);
            for (;;) {
                std::uint64_t got = kTransferChunkSize;
                QCOMPARE(connection.Read(storages[0].baseDir, file.name, std::uint64_t(read.size()), chunk.data(), got),
                         0);
                if (got == 0)
                    break;
                read.append(chunk.constData(), qsizetype(got));
            }
            QVERIFY2(read == file.data, qPrintable(file.name));
            QByteArray thumbnail;
            const int result = connection.Thumbnail(storages[0].baseDir, file.name, thumbnail);
            QVERIFY(file.data.isEmpty() ? result < 0 : result == 0 && thumbnail == file.data.left(100));
        }
        // Nothing was asked twice.
        QCOMPARE(phone.requests[ptp::GetObjectHandles], 1);
        QCOMPARE(phone.requests[ptp::GetObjectInfo], infoRequests);
    }

    // A file of 4 GiB or more has no room for its size in the object
    // information: it comes as a 64-bit property, in the property list or
    // asked for on its own, and is never taken as 4 GiB - 1. A device that
    // will not tell it leaves the size unknown; the folder still lists.
    void sizeOfFourGiBOrMore_data()
    {
        QTest::addColumn<bool>("propList");
        QTest::addColumn<bool>("listsIn32Bits");
        QTest::addColumn<bool>("sizeProperty");
        QTest::addColumn<bool>("known");
        QTest::addColumn<int>("propertyRequests");
        QTest::newRow("property list") << true << false << true << true << 0;
        QTest::newRow("list in 32 bits, then the property") << true << true << true << true << 1;
        QTest::newRow("object information, then the property") << false << false << true << true << 1;
        QTest::newRow("no size property") << false << false << false << false << 0;
    }
    void sizeOfFourGiBOrMore()
    {
        QFETCH(bool, propList);
        QFETCH(bool, listsIn32Bits);
        QFETCH(bool, sizeProperty);
        QFETCH(bool, known);
        QFETCH(int, propertyRequests);
        auto port = std::make_unique<FakePhone>();
        FakePhone &phone = *port;
        phone.propList = propList;
        phone.listsSizeIn32Bits = listsIn32Bits;
        phone.sizeProperty = sizeProperty;
        phone.firstSize = 4299161600;  // 4 MiB past 4 GiB
        phone.files.push_back({QStringLiteral("MOV_0001.MOV"), QByteArray(10, 'm'), QStringLiteral("20210615T102030")});
        phone.files.push_back({QStringLiteral("IMG_0002.JPG"), QByteArray(10, 'j'), QStringLiteral("20210615T102030")});
        PtpConnection connection(std::move(port), 0x05ac);
        QCOMPARE(connection.Start(), 0);
        std::vector<GPhotoStorage> storages;
        QCOMPARE(connection.Storages(storages), 0);
        std::vector<GPhotoEntry> entries;
        QCOMPARE(connection.List(storages.at(0).baseDir, entries), 0);
        QCOMPARE(entries.size(), std::size_t(2));
        QCOMPARE(entries[0].info.hasSize, known);
        QCOMPARE(entries[0].info.size, known ? std::uint64_t(4299161600) : 0);
        QVERIFY(entries[1].info.hasSize);
        QCOMPARE(entries[1].info.size, std::uint64_t(10));
        QCOMPARE(phone.requests[ptp::MtpGetObjPropValue], propertyRequests);
    }

    // A read at or past the declared size still asks the device: an object
    // longer than it says gives its further bytes, and the end is the
    // device's empty answer.
    void readsPastTheDeclaredSize()
    {
        auto port = std::make_unique<FakePhone>();
        FakePhone &phone = *port;
        phone.firstSize = 600;
        phone.files.push_back({QStringLiteral("a.jpg"), QByteArray(1000, 'a'), QStringLiteral("20210615T102030")});
        phone.files.push_back({QStringLiteral("b.jpg"), QByteArray(10, 'b'), QStringLiteral("20210615T102030")});
        PtpConnection connection(std::move(port), 0x18d1);
        QCOMPARE(connection.Start(), 0);
        std::vector<GPhotoStorage> storages;
        QCOMPARE(connection.Storages(storages), 0);
        std::vector<GPhotoEntry> entries;
        QCOMPARE(connection.List(storages[0].baseDir, entries), 0);
        QCOMPARE(entries.at(0).info.size, std::uint64_t(600));
        char buffer[1024];
        for (const auto &[offset, expected] : {std::pair{600, 400}, std::pair{1000, 0}}) {
            std::uint64_t got = sizeof buffer;
            QCOMPARE(connection.Read(storages[0].baseDir, QStringLiteral("a.jpg"), std::uint64_t(offset), buffer, got),
                     0);
            QCOMPARE(got, std::uint64_t(expected));
        }
        QCOMPARE(phone.requests[ptp::AndroidGetPartialObject64], 2);
    }
};

FERROVANE_TEST_MAIN(TestPtpConnection)
#include "tst_ptpconnection.moc"
