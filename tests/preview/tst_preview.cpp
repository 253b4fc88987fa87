// The preview: which source gives the picture and how much of the file it
// reads, broken and hostile files, the worker's newest-wins and pause, the
// cache's bounds, and the window following the grid.

#include "app/ProgramFolders.h"
#include "common/DeviceBuilders.h"
#include "common/FormTest.h"
#include "common/IniTestFiles.h"
#include "common/TestMain.h"
#include "preview/PreviewCache.h"
#include "preview/PreviewFetcher.h"
#include "preview/PreviewPanel.h"

#include <QBuffer>
#include <QDataStream>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>

#include <exiv2/exiv2.hpp>

#include <map>

#include <sys/resource.h>

namespace {

// A picture; a noisy one compresses as badly as a photo does.
QByteArray Encoded(QSize size, const char *format, bool noisy = false)
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y,
                           qRgb(x * 255 / size.width(), y * 255 / size.height(),
                                noisy ? int(random.bounded(256)) : (x ^ y) & 0xFF));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 85);
    return bytes;
}

// A picture with a camera's metadata (orientation 6: turned a quarter to
// the right) and, when asked, an EXIF thumbnail of that size.
QByteArray CameraFile(const QByteArray &picture, QSize thumbnail)
{
    Exiv2::Image::AutoPtr image =
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(picture.constData()), long(picture.size()));
    image->readMetadata();
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Canon";
    exif["Exif.Image.Model"] = "Canon EOS 80D";
    exif["Exif.Image.Orientation"] = uint16_t(6);
    exif["Exif.Photo.LensModel"] = "EF-S18-55mm f/3.5-5.6 IS STM";
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(8, 1);
    exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(100);
    exif["Exif.Photo.FocalLength"] = Exiv2::URational(35, 1);
    exif["Exif.Photo.DateTimeOriginal"] = "2016:08:13 10:22:33";
    if (thumbnail.isValid()) {
        const QByteArray small = Encoded(thumbnail, "jpeg");
        Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(small.constData()),
                                                long(small.size()));
    }
    image->setExifData(exif);
    image->writeMetadata();
    Exiv2::BasicIo &io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf all = io.read(io.size());
    return QByteArray(reinterpret_cast<const char *>(all.pData_), all.size_);
}

// A fake camera holding the files, opened; the content to read them through.
struct FakeCard
{
    FakeDeviceService service;
    FakeDevice *device = nullptr;
    QString storage;
    std::shared_ptr<IPortableDeviceContent> content;
    std::uint64_t furthestRead = 0;
    std::map<std::uint64_t, int> chunkReads;  // past the first chunk, where a thumbnail's reads never fall

    FakeCard()
    {
        device = &service.AddDevice(QStringLiteral("usb:card"), QStringLiteral("Card"));
        storage = device->AddStorage(QStringLiteral("Card"), QStringLiteral("card")).id;
        service.onRead = [this](const QString &, std::uint64_t offset) {
            furthestRead = std::max(furthestRead, offset + kTransferChunkSize);
            if (offset > 0 && offset % kTransferChunkSize == 0)
                ++chunkReads[offset];
        };
        auto opened = service.CreateDevice();
        opened->Open(QStringLiteral("usb:card"), nullptr);
        opened->Content(content);
    }
    PreviewRequest Add(const QString &name, const QString &type, const QByteArray &data, QSize box = QSize(400, 300))
    {
        const FakeObject &file = device->AddFile(storage, name, type, kFakeDate, data);
        return {QStringLiteral("usb:card"), file.id, name, type, qint64(data.size()), kFakeDate, box, content};
    }
};

qint64 PeakMemoryMb()
{
    struct rusage usage
    {
    };
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

}  // namespace

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { SetProgramFolders(); }

    // Each source in its turn, cheapest first, and how little of the file it reads.
    void sources_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("thumbnail");
        QTest::addColumn<QSize>("box");
        QTest::addColumn<int>("source");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<bool>("headOnly");
        const QByteArray photo = CameraFile(Encoded(QSize(2400, 1600), "jpeg", true), QSize(160, 120));
        const QByteArray raw = CameraFile(Encoded(QSize(1200, 800), "tiff"), QSize(640, 480));
        using S = PreviewSource;
        QTest::newRow("the device's thumbnail")
            << "IMG_1.JPG"
            << "IMAGE" << photo << Encoded(QSize(320, 240), "jpeg") << QSize(200, 200) << int(S::DeviceThumbnail)
            << QSize(150, 200) << true;
        QTest::newRow("the EXIF thumbnail, turned as the photo is")
            << "IMG_2.JPG"
            << "IMAGE" << photo << QByteArray() << QSize(120, 160) << int(S::EmbeddedPreview) << QSize(120, 160)
            << true;
        QTest::newRow("a scaled decode, turned by its own EXIF")
            << "IMG_3.JPG"
            << "IMAGE" << photo << Encoded(QSize(160, 120), "jpeg") << QSize(400, 400) << int(S::ScaledDecode)
            << QSize(266, 400) << false;
        QTest::newRow("a raw file's preview")
            << "IMG_4.NEF"
            << "IMAGE" << raw << QByteArray() << QSize(400, 400) << int(S::EmbeddedPreview) << QSize(300, 400) << true;
        QTest::newRow("a PNG") << "shot.png"
                               << "IMAGE" << Encoded(QSize(800, 200), "png") << QByteArray() << QSize(400, 400)
                               << int(S::ScaledDecode) << QSize(400, 100) << true;
        QTest::newRow("a small PNG, not scaled up") << "scan.png"
                                                    << "IMAGE" << Encoded(QSize(90, 60), "png") << QByteArray()
                                                    << QSize(400, 400) << int(S::ScaledDecode) << QSize(90, 60) << true;
        QTest::newRow("a video: its icon, nothing read") << "VID.MP4"
                                                         << "VIDEO" << QByteArray(5000, 'v') << QByteArray()
                                                         << QSize(400, 400) << int(S::None) << QSize(0, 0) << true;
    }
    void sources()
    {
        QFETCH(QString, name);
        QFETCH(QString, type);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, thumbnail);
        QFETCH(QSize, box);
        QFETCH(int, source);
        QFETCH(QSize, picture);
        QFETCH(bool, headOnly);
        FakeCard card;
        PreviewRequest request = card.Add(name, type, data, box);
        card.device->Object(request.objectId).thumbnail = thumbnail;
        const PreviewResult result = LoadPreview(request, {});
        QCOMPARE(int(result.source), source);
        QCOMPARE(result.image.size(), picture);
        QVERIFY2(result.trouble.isEmpty(), qPrintable(result.trouble));
        QCOMPARE(card.furthestRead <= std::uint64_t(PreviewLimits().headBytes), headOnly);
        for (const auto &[offset, count] : card.chunkReads)
            QVERIFY2(count == 1,
                     qPrintable(QStringLiteral("the chunk at %1 was fetched %2 times").arg(offset).arg(count)));
        if (name.startsWith(QLatin1String("IMG"))) {
            QCOMPARE(result.facts.camera, QStringLiteral("Canon EOS 80D"));
            QCOMPARE(result.facts.lens, QStringLiteral("EF-S18-55mm f/3.5-5.6 IS STM"));
            QCOMPARE(result.facts.exposure, QStringLiteral("1/250 s, F8, ISO 100, 35.0 mm"));
            QVERIFY(!result.facts.captured.isEmpty());
        }
    }

    // A raw file whose preview runs past the head: read on to its end, no further.
    void rawPreviewPastTheHead()
    {
        FakeCard card;
        const QByteArray raw = CameraFile(Encoded(QSize(1200, 800), "tiff"), QSize(640, 480));
        PreviewLimits limits;
        limits.headBytes = 16 * 1024;
        const PreviewResult result =
            LoadPreview(card.Add(QStringLiteral("IMG.NEF"), QStringLiteral("IMAGE"), raw), {}, {}, limits);
        QCOMPARE(int(result.source), int(PreviewSource::EmbeddedPreview));
        QVERIFY(card.furthestRead < std::uint64_t(raw.size()) / 4);
    }

    // Broken files give no picture and one reason; nothing throws or crashes.
    void badInput_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("thumbnail");
        const QByteArray jpeg = Encoded(QSize(640, 480), "jpeg");
        QTest::newRow("truncated JPEG") << "cut.jpg" << jpeg.left(jpeg.size() / 2) << QByteArray();
        QTest::newRow("zero-length") << "empty.jpg" << QByteArray() << QByteArray();
        QTest::newRow("not a picture") << "noise.jpg" << QByteArray(3000, '\x5a') << QByteArray();
        QByteArray bmp;
        QDataStream header(&bmp, QIODevice::WriteOnly);
        header.setByteOrder(QDataStream::LittleEndian);
        header.writeRawData("BM", 2);
        header << quint32(86) << quint32(0) << quint32(54) << quint32(40) << qint32(15000) << qint32(15000)
               << quint16(1) << quint16(24) << quint32(0) << quint32(32) << quint32(2835) << quint32(2835) << quint32(0)
               << quint32(0);
        bmp.append(32, '\x40');
        QTest::newRow("BMP claiming 15000 x 15000 pixels") << "huge.bmp" << bmp << QByteArray();
        QByteArray raw = CameraFile(Encoded(QSize(64, 48), "tiff"), QSize(64, 48));
        raw.replace(raw.indexOf("\xff\xd8\xff") + 3, 300, QByteArray(300, '\x11'));
        QTest::newRow("raw with a broken preview and thumbnail") << "bad.nef" << raw << QByteArray("\xff\xd8\xff junk");
        // The system's TIFF reader is never handed a device's bytes.
        QTest::newRow("a TIFF without a preview") << "scan.tif" << Encoded(QSize(90, 60), "tiff") << QByteArray();
    }
    void badInput()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, thumbnail);
        FakeCard card;
        PreviewRequest request = card.Add(name, QStringLiteral("IMAGE"), data);
        card.device->Object(request.objectId).thumbnail = thumbnail;
        const PreviewResult result = LoadPreview(request, {});
        QVERIFY2(result.image.isNull(), qPrintable(QString::number(int(result.source))));
        QVERIFY(!result.trouble.isEmpty());
        QVERIFY(!result.trouble.contains(QLatin1Char('\n')));
    }

    // Mutated JPEG, TIFF and raw previews through every parser: no crash, no
    // huge allocation. FERROVANE_FUZZ_ROUNDS runs longer (scripts/fuzz-preview).
    void fuzz_data()
    {
        QTest::addColumn<QByteArray>("seed");
        QTest::newRow("JPEG with EXIF") << CameraFile(Encoded(QSize(96, 64), "jpeg"), QSize(32, 24));
        QTest::newRow("TIFF") << Encoded(QSize(40, 30), "tiff");
        QTest::newRow("raw with preview") << CameraFile(Encoded(QSize(48, 32), "tiff"), QSize(64, 48));
        QTest::newRow("PNG") << Encoded(QSize(40, 30), "png");
    }
    void fuzz()
    {
        QFETCH(QByteArray, seed);
        const int rounds = qEnvironmentVariableIntValue("FERROVANE_FUZZ_ROUNDS") > 0
                               ? qEnvironmentVariableIntValue("FERROVANE_FUZZ_ROUNDS")
                               : 150;
        QRandomGenerator random(quint32(qHash(seed)));
        PreviewLimits limits;
        for (int round = 0; round < rounds; ++round) {
            QByteArray bytes = seed;
            const int kind = random.bounded(4);
            const int edits = 1 + random.bounded(8);
            for (int i = 0; i < edits && !bytes.isEmpty(); ++i) {
                const int at = random.bounded(int(bytes.size()));
                if (kind == 0)
                    bytes[at] = char(random.bounded(256));
                else if (kind == 1)
                    bytes.replace(at, 4, QByteArray::fromHex("ffffff7f"));
                else if (kind == 2)
                    bytes.truncate(at);
                else
                    bytes.insert(at, bytes.mid(random.bounded(int(bytes.size())), 64));
            }
            DecodePicture(bytes, QSize(300, 300), 1, limits);
            ReadEmbeddedPreview(bytes, bytes.size(), QSize(300, 300), limits);
        }
        QVERIFY2(PeakMemoryMb() < 900, qPrintable(QString::number(PeakMemoryMb())));
    }

    // The worker: moving fast over many files fetches few; the newest wins;
    // nothing is fetched while the gate is shut; a fetched picture is kept.
    void fetcher()
    {
        FakeCard card;
        const QByteArray jpeg = Encoded(QSize(640, 480), "jpeg");
        std::vector<PreviewRequest> requests;
        for (int i = 0; i < 40; ++i) {
            requests.push_back(card.Add(QStringLiteral("IMG_%1.JPG").arg(i), QStringLiteral("IMAGE"), jpeg));
            card.device->Object(requests.back().objectId).readDelayMs = 5;
        }
        // The worker is held at its first read until every request is
        // queued: the test checks the rule, not which thread runs faster.
        QSemaphore gate;
        std::atomic<bool> held{false};
        card.service.onRead = [&](const QString &, std::uint64_t) {
            if (!held.exchange(true))
                gate.acquire();
        };
        std::atomic<bool> open{false};
        PreviewFetcher fetcher([&] { return open.load(); });
        QSignalSpy ready(&fetcher, &PreviewFetcher::Ready);
        fetcher.Request(requests[0]);
        open = true;
        for (const PreviewRequest &request : requests)
            fetcher.Request(request);
        gate.release();
        QTRY_VERIFY(!ready.isEmpty() && ready.last().at(2).toBool());
        QCOMPARE(ready.last().at(0).toString(), requests.back().Key());
        QVERIFY2(fetcher.Fetches() <= 3, qPrintable(QString::number(fetcher.Fetches())));
        for (const QList<QVariant> &signal : std::as_const(ready))
            QCOMPARE(signal.at(0).toString(), requests.back().Key());
        // Kept: handed over at once, without the worker.
        const int fetches = fetcher.Fetches();
        QVERIFY(fetcher.Request(requests.back()));
        QCOMPARE(fetcher.Fetches(), fetches);
        // Paused: nothing new is asked of the device.
        fetcher.SetPaused(true);
        QVERIFY(!fetcher.Request(requests[5]));
        fetcher.SetPaused(false);
        fetcher.Request(requests[6]);
        QTRY_COMPARE(ready.last().at(0).toString(), requests[6].Key());
        QCOMPARE(fetcher.Fetches(), fetches + 1);
    }

    void cacheBounds_data()
    {
        QTest::addColumn<int>("maxEntries");
        QTest::addColumn<int>("maxKiB");
        QTest::addColumn<int>("inserted");
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("oldestKept");
        // Each picture 64 x 64 x 4 bytes = 16 KiB, plus the entry's own half KiB.
        QTest::newRow("by count") << 3 << 1000 << 5 << 3 << 2;
        QTest::newRow("by bytes") << 100 << 34 << 5 << 2 << 3;
        QTest::newRow("too large for the cache") << 100 << 8 << 2 << 0 << -1;
    }
    void cacheBounds()
    {
        QFETCH(int, maxEntries);
        QFETCH(int, maxKiB);
        QFETCH(int, inserted);
        QFETCH(int, kept);
        QFETCH(int, oldestKept);
        PreviewCache cache(maxEntries, qint64(maxKiB) * 1024);
        PreviewResult result;
        result.image = QImage(64, 64, QImage::Format_RGB32);
        for (int i = 0; i < inserted; ++i)
            cache.Insert(QString::number(i), result);
        QCOMPARE(cache.Count(), kept);
        QVERIFY(cache.Bytes() <= qint64(maxKiB) * 1024);
        for (int i = 0; i < inserted; ++i)
            QCOMPARE(cache.Find(QString::number(i)) != nullptr, oldestKept >= 0 && i >= oldestKept);
    }

    // The real window: F3 shows the preview and is remembered; the arrow
    // keys walk the grid and the picture, its name and its facts follow.
    void windowFollowsTheGrid()
    {
        FakeDeviceService service;
        FakeDevice &d = service.AddDevice(QStringLiteral("usb:pv"), QStringLiteral("Pv"), QStringLiteral("Pv"),
                                          QStringLiteral("Cam"));
        d.serialNumber = QStringLiteral("SN1");
        const QString storage = d.AddStorage(QStringLiteral("Card"), QStringLiteral("card")).id;
        const QByteArray photo = CameraFile(Encoded(QSize(1200, 800), "jpeg"), QSize(160, 120));
        const QStringList names{QStringLiteral("IMG_0001.JPG"), QStringLiteral("IMG_0002.JPG"),
                                QStringLiteral("clip.mp4")};
        for (const QString &name : names)
            d.AddFile(storage, name,
                      name.endsWith(QLatin1String(".mp4")) ? QStringLiteral("VIDEO") : QStringLiteral("IMAGE"),
                      kFakeDate, name.endsWith(QLatin1String(".mp4")) ? QByteArray(100, 'm') : photo);
        WriteIni("[Ferrovane]\nDeviceCount=1\nLastDevice=Pv Cam\n[Devices]\nItem0=Pv Cam\n"
                 "[Pv Cam]\nDeviceName=Pv Cam\nDeviceSerialNo=SN1\n");
        std::unique_ptr<TForm1> form;
        StartForm(form, service);
        PreviewPanel *panel = form->PreviewArea->Preview;
        QVERIFY(!panel->isVisible());
        QTest::keyClick(form.get(), Qt::Key_F3);
        QTRY_VERIFY(panel->isVisible());
        QVERIFY(form->PreviewBitBtn->isChecked());
        QCOMPARE(Ini(QStringLiteral("Ferrovane"), QStringLiteral("PreviewVisible")), QStringLiteral("1"));

        TStringGrid *grid = form->StringGrid1;
        grid->setFocus();
        grid->SetRow(grid->Cells()->FindRow(1, names[0]));
        for (const QString &name : names) {
            if (name != names[0])
                QTest::keyClick(grid, Qt::Key_Down);
            QCOMPARE(grid->Cells()->Cell(1, grid->Row()), name);
            const PreviewPicture *picture = panel->Picture();
            QCOMPARE(picture->accessibleName(), name);
            if (name.endsWith(QLatin1String(".mp4"))) {
                QVERIFY(!picture->ShowsImage());
                continue;
            }
            // Turned upright: taller than wide.
            QTRY_VERIFY(picture->ShowsImage() && picture->Image().height() > picture->Image().width());
            QTRY_VERIFY(picture->accessibleDescription().contains(QLatin1String("Canon EOS 80D")));
            QVERIFY(panel->FactsText().contains(QLatin1String("1/250 s, F8, ISO 100, 35.0 mm")));
        }
        form->PreviewBitBtn->click();
        QVERIFY(!panel->isVisible());
        QCOMPARE(Ini(QStringLiteral("Ferrovane"), QStringLiteral("PreviewVisible")), QStringLiteral("0"));
        form->close();
    }
};

FERROVANE_TEST_MAIN(TestPreview)
#include "tst_preview.moc"
