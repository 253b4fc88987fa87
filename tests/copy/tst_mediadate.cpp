#include "common/TestMain.h"
#include "copy/CopyTestSupport.h"

#include "base/DateFormat.h"
#include "copy/MediaDate.h"
#include "device/fake/FakeDeviceService.h"
#include "log/LogSink.h"

#include <QBuffer>
#include <QImage>
#include <QRandomGenerator>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>

#include <sys/resource.h>

// The date a photo or video was taken, read from samples the test makes:
// JPEGs that exiv2 writes metadata into, TIFF heads as raw formats begin,
// and QuickTime boxes; then thousands of damaged copies of them.

namespace {

constexpr qint64 kChunk = kTransferChunkSize;

QByteArray Be32(quint32 v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}

QByteArray Le(quint32 v, int bytes)
{
    QByteArray b;
    for (int i = 0; i < bytes; ++i)
        b += char(v >> (8 * i));
    return b;
}

QByteArray Box(const char *type, const QByteArray &content)
{
    return Be32(quint32(8 + content.size())) + QByteArray(type, 4) + content;
}

QByteArray PlainJpeg()
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

Exiv2::ExifData Exif(const QStringList &tags)
{
    Exiv2::ExifData exif;
    for (const QString &tag : tags)
        if (tag.startsWith(QLatin1String("Exif.")))
            exif[tag.section(QLatin1Char('='), 0, 0).toStdString()] = tag.section(QLatin1Char('='), 1).toStdString();
    return exif;
}

// A JPEG with the tags ("Exif.Photo.DateTimeOriginal=...", "Xmp.xmp.CreateDate=...") written by exiv2.
QByteArray Jpeg(const QStringList &tags)
{
    const QByteArray plain = PlainJpeg();
    auto image =
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(plain.constData()), long(plain.size()));
    image->readMetadata();
    Exiv2::XmpData xmp;
    for (const QString &tag : tags)
        if (tag.startsWith(QLatin1String("Xmp.")))
            xmp[tag.section(QLatin1Char('='), 0, 0).toStdString()] = tag.section(QLatin1Char('='), 1).toStdString();
    Exiv2::IptcData iptc;
    for (const QString &tag : tags)
        if (tag.startsWith(QLatin1String("Iptc.")))
            iptc[tag.section(QLatin1Char('='), 0, 0).toStdString()] = tag.section(QLatin1Char('='), 1).toStdString();
    image->setExifData(Exif(tags));
    image->setXmpData(xmp);
    image->setIptcData(iptc);
    image->writeMetadata();
    Exiv2::BasicIo &io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    QByteArray out(qsizetype(io.size()), Qt::Uninitialized);
    io.read(reinterpret_cast<Exiv2::byte *>(out.data()), long(out.size()));
    return out;
}

// The head of a TIFF-based raw file: IFD0 with the maker and a pointer to
// the EXIF IFD at exifAt, which holds DateTimeOriginal; size bytes in all.
QByteArray Tiff(const QByteArray &date, quint32 exifAt, qint64 size)
{
    QByteArray t = QByteArray("II*\0", 4) + Le(8, 4);
    t += Le(2, 2) + Le(0x010F, 2) + Le(2, 2) + Le(6, 4) + Le(38, 4);  // Make, at 38
    t += Le(0x8769, 2) + Le(4, 2) + Le(1, 4) + Le(exifAt, 4) + Le(0, 4);
    t += QByteArray("NIKON\0", 6);
    t.resize(exifAt, '\0');
    t += Le(1, 2) + Le(0x9003, 2) + Le(2, 2) + Le(20, 4) + Le(exifAt + 18, 4) + Le(0, 4);
    t += date.leftJustified(19, ' ') + '\0';
    t.resize(qMax<qint64>(size, t.size()), '\0');
    return t;
}

// A big-endian TIFF as exiv2 encodes one.
QByteArray ExivTiff(const QStringList &tags)
{
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::bigEndian, Exif(tags));
    return QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
}

quint64 MovieSeconds(const QDateTime &utc)
{
    return quint64(utc.toSecsSinceEpoch() + 2082844800ll);
}

QByteArray MovieHeader(int version, quint64 seconds)
{
    QByteArray c(1, char(version));
    c += QByteArray(3, '\0');
    if (version == 1)
        c += Be32(quint32(seconds >> 32)) + Be32(quint32(seconds)) + QByteArray(8, '\0') + Be32(600) +
             QByteArray(8, '\0');
    else
        c += Be32(quint32(seconds)) + Be32(0) + Be32(600) + Be32(0);
    return Box("mvhd", c + QByteArray(80, '\0'));
}

// ftyp, then the movie box before or after the media data.
QByteArray Movie(bool headerFirst, int version, quint64 seconds, qint64 mediaBytes = 1000)
{
    const QByteArray ftyp = Box("ftyp", "qt  " + Be32(0x200) + "qt  ");
    const QByteArray moov = Box("moov", MovieHeader(version, seconds));
    const QByteArray mdat = Box("mdat", QByteArray(mediaBytes, '\x11'));
    return headerFirst ? ftyp + moov + mdat : ftyp + mdat + moov;
}

// A CRW (Canon's CIFF) whose image properties hold the time stamp: the
// camera's clock counted in seconds as if it were UTC.
QByteArray Crw(const QDateTime &clock)
{
    const quint32 stamp = quint32(QDateTime(clock.date(), clock.time(), Qt::UTC).toSecsSinceEpoch());
    // The properties heap: the stamp, its directory, the directory's offset.
    QByteArray props = Le(stamp, 4) + Le(0, 4) + Le(0, 4);
    props += Le(1, 2) + Le(0x180E, 2) + Le(12, 4) + Le(0, 4) + Le(12, 4);
    // The root heap: the properties heap, then a directory pointing to it.
    QByteArray root = props + Le(1, 2) + Le(0x300A, 2) + Le(quint32(props.size()), 4) + Le(0, 4);
    root += Le(quint32(props.size()), 4);
    return QByteArray("II", 2) + Le(26, 4) + QByteArray("HEAPCCDR") + Le(0x10002, 4) + QByteArray(8, '\0') + root;
}

// An XMP side file with the given properties ("exif:DateTimeOriginal=...").
QByteArray XmpSideFile(const QStringList &properties)
{
    QByteArray body;
    for (const QString &p : properties)
        body += ' ' + p.section(QLatin1Char('='), 0, 0).toLatin1() + "=\"" + p.section(QLatin1Char('='), 1).toLatin1() +
                '"';
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
           "<rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" "
           "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\"" +
           body + "/></rdf:RDF></x:xmpmeta>\n<?xpacket end=\"w\"?>";
}

// Sets the time zone for as long as it lives.
class Zone
{
public:
    explicit Zone(const char *zone) : old_(qgetenv("TZ")), had_(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~Zone()
    {
        if (had_)
            qputenv("TZ", old_);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray old_;
    bool had_;
};

const QDateTime kTaken(QDate(2016, 8, 13), QTime(10, 22, 33));
const QDateTime kTakenUtc(QDate(2016, 8, 13), QTime(10, 22, 33), Qt::UTC);

// A stream of size bytes that holds the given pieces and zeros elsewhere;
// it counts what is read.
class SparseStream : public IStream
{
public:
    SparseStream(qint64 size, std::map<qint64, QByteArray> pieces) : size_(size), pieces_(std::move(pieces)) {}
    HRESULT Seek(std::int64_t offset, SeekOrigin origin, std::uint64_t *newPosition) override
    {
        position_ = (origin == STREAM_SEEK_END ? size_ : origin == STREAM_SEEK_CUR ? position_ : 0) + offset;
        if (newPosition)
            *newPosition = std::uint64_t(position_);
        return S_OK;
    }
    HRESULT Read(void *buffer, std::uint32_t count, std::uint32_t *read) override
    {
        const qint64 n = std::clamp<qint64>(size_ - position_, 0, count);
        char *out = static_cast<char *>(buffer);
        std::memset(out, 0, size_t(n));
        for (const auto &[at, bytes] : pieces_) {
            const qint64 from = qMax(at, position_), to = qMin(at + bytes.size(), position_ + n);
            if (from < to)
                std::memcpy(out + (from - position_), bytes.constData() + (from - at), size_t(to - from));
        }
        position_ += n;
        bytesRead += n;
        *read = std::uint32_t(n);
        return S_OK;
    }
    qint64 bytesRead = 0;

private:
    qint64 size_;
    std::map<qint64, QByteArray> pieces_;
    qint64 position_ = 0;
};

}  // namespace

class TestMediaDate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
    }

    void takenDates_data()
    {
        using S = TakenDate::Status;
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("status");
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("said");  // the source, or a part of the reason
        const QString exif = QStringLiteral("EXIF DateTimeOriginal");
        const QString movie = QStringLiteral("QuickTime movie header");
        const QDateTime xmpDate(QDate(2014, 2, 3), QTime(4, 5, 6));
        QTest::newRow("JPEG: EXIF with sub-seconds before XMP")
            << Jpeg({"Exif.Photo.DateTimeOriginal=2016:08:13 10:22:33", "Exif.Photo.SubSecTimeOriginal=12",
                     "Xmp.xmp.CreateDate=2001-01-01T00:00:00"})
            << int(S::Found) << kTaken.addMSecs(120) << exif;
        QTest::newRow("JPEG: XMP exif:DateTimeOriginal")
            << Jpeg({"Xmp.exif.DateTimeOriginal=2014-02-03T04:05:06.5"}) << int(S::Found) << xmpDate.addMSecs(500)
            << "XMP exif:DateTimeOriginal";
        QTest::newRow("JPEG: XMP CreateDate as written, its offset ignored")
            << Jpeg({"Xmp.xmp.CreateDate=2014-02-03T04:05:06+09:00"}) << int(S::Found) << xmpDate
            << "XMP xmp:CreateDate";
        QTest::newRow("JPEG: an EXIF that is no date gives way to XMP")
            << Jpeg({"Exif.Photo.DateTimeOriginal=0000:00:00 00:00:00", "Xmp.xmp.CreateDate=2014-02-03T04:05:06"})
            << int(S::Found) << xmpDate << "XMP xmp:CreateDate";
        QTest::newRow("JPEG: EXIF that is no date")
            << Jpeg({"Exif.Photo.DateTimeOriginal=0000:00:00 00:00:00"}) << int(S::Unreadable) << QDateTime()
            << "its EXIF DateTimeOriginal \"0000:00:00 00:00:00\" is not a date";
        QTest::newRow("JPEG: EXIF before 1970")
            << Jpeg({"Exif.Photo.DateTimeOriginal=1969:12:31 23:59:59"}) << int(S::OutOfRange) << QDateTime()
            << "its EXIF DateTimeOriginal 1969-12-31 23:59:59 is outside 1970 to 2100";
        QTest::newRow("JPEG without metadata")
            << PlainJpeg() << int(S::None) << QDateTime() << "no date in its metadata";
        QTest::newRow("TIFF raw: EXIF in the first chunk")
            << Tiff("2016:08:13 10:22:33", 44, 4096) << int(S::Found) << kTaken << exif;
        QTest::newRow("TIFF raw: EXIF past the first chunk")
            << Tiff("2016:08:13 10:22:33", 300000, 400000) << int(S::Found) << kTaken << exif;
        QTest::newRow("TIFF raw: EXIF past what is read") << Tiff("2016:08:13 10:22:33", 1200000, 1300000)
                                                          << int(S::None) << QDateTime() << "no date in its metadata";
        QTest::newRow("TIFF big-endian, DateTimeOriginal in IFD0")
            << ExivTiff({"Exif.Image.Make=NIKON", "Exif.Image.DateTimeOriginal=2016:08:13 10:22:33"}) << int(S::Found)
            << kTaken << exif;
        QTest::newRow("MP4: movie header first, version 0")
            << Movie(true, 0, MovieSeconds(kTakenUtc)) << int(S::Found) << kTakenUtc.toLocalTime() << movie;
        QTest::newRow("MOV: movie header last, version 1")
            << Movie(false, 1, MovieSeconds(kTakenUtc)) << int(S::Found) << kTakenUtc.toLocalTime() << movie;
        QTest::newRow("MOV without ftyp")
            << Box("mdat", QByteArray(64, '\0')) + Box("moov", MovieHeader(0, MovieSeconds(kTakenUtc))) << int(S::Found)
            << kTakenUtc.toLocalTime() << movie;
        QTest::newRow("movie header without a date")
            << Movie(true, 0, 0) << int(S::None) << QDateTime() << "its movie header holds no date";
        QTest::newRow("movie header of 1950")
            << Movie(true, 0, MovieSeconds(QDateTime(QDate(1950, 6, 1), QTime(12, 0), Qt::UTC))) << int(S::OutOfRange)
            << QDateTime() << "outside 1970 to 2100";
        QTest::newRow("movie header of an unknown version")
            << Movie(true, 7, 1) << int(S::Unreadable) << QDateTime() << "unknown version 7";
        QTest::newRow("movie box cut short") << Movie(false, 0, MovieSeconds(kTakenUtc)).chopped(60)
                                             << int(S::Unreadable) << QDateTime() << "has a size that does not fit";
        QTest::newRow("a box larger than the file")
            << Box("ftyp", "isom") + Be32(0xFFFFFFF0u) + "mdat" << int(S::Unreadable) << QDateTime()
            << "its box \"mdat\" has a size that does not fit";
        QTest::newRow("JPEG: EXIF CreateDate when DateTimeOriginal is missing")
            << Jpeg({"Exif.Image.DateTime=2001:01:01 00:00:00", "Exif.Photo.DateTimeDigitized=2016:08:13 10:22:33"})
            << int(S::Found) << kTaken << "EXIF CreateDate (DateTimeDigitized)";
        QTest::newRow("JPEG: IFD0 DateTime next")
            << Jpeg({"Exif.Image.DateTime=2016:08:13 10:22:33", "Xmp.photoshop.DateCreated=2001-01-01"})
            << int(S::Found) << kTaken << "EXIF IFD0 DateTime";
        QTest::newRow("JPEG: XMP photoshop:DateCreated next")
            << Jpeg({"Xmp.photoshop.DateCreated=2014-02-03T04:05:06", "Iptc.Application2.DateCreated=2001-01-01"})
            << int(S::Found) << xmpDate << "XMP photoshop:DateCreated";
        QTest::newRow("JPEG: IPTC date and time last")
            << Jpeg({"Iptc.Application2.DateCreated=2014-02-03", "Iptc.Application2.TimeCreated=04:05:06+02:00"})
            << int(S::Found) << xmpDate << "IPTC DateCreated";
        QTest::newRow("JPEG: EXIF block cut short")
            << Jpeg({"Exif.Photo.DateTimeOriginal=2016:08:13 10:22:33"}).left(60) << int(S::Unreadable) << QDateTime()
            << "its metadata are damaged or cut short";
        QTest::newRow("XMP side file") << XmpSideFile({"xmp:CreateDate=2014-02-03T04:05:06"}) << int(S::Found)
                                       << xmpDate << "XMP xmp:CreateDate";
        QTest::newRow("HEIC without a date")
            << Box("ftyp", "heic" + Be32(0) + "mif1heic") + Box("mdat", QByteArray(64, '\0')) << int(S::None)
            << QDateTime() << "no date in its metadata";
        QByteArray boxes = Box("ftyp", "qt  " + Be32(0x200) + "qt  ");
        for (int i = 0; i < 70; ++i)
            boxes += Box("free", QByteArray(8, '\0'));
        QTest::newRow("movie header after 64 boxes")
            << boxes + Box("moov", MovieHeader(0, MovieSeconds(kTakenUtc))) << int(S::None) << QDateTime()
            << "its movie header was not found in the first 64 boxes read";
        QTest::newRow("empty file") << QByteArray() << int(S::None) << QDateTime() << "it is empty";
        QTest::newRow("a text file") << QByteArray("hello, world\n") << int(S::None) << QDateTime()
                                     << "its format holds no date that is read";
    }
    void takenDates()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, status);
        QFETCH(QDateTime, when);
        QFETCH(QString, said);
        const TakenDate taken = ReadTakenDate(data);
        QCOMPARE(int(taken.status), status);
        QCOMPARE(taken.when, when);
        if (status == int(TakenDate::Status::Found))
            QCOMPARE(taken.source, said);
        else
            QVERIFY2(taken.reason.contains(said), qPrintable(taken.reason));
    }

    void dateTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("subSeconds");
        QTest::addColumn<bool>("xmp");
        QTest::addColumn<QDateTime>("when");
        QTest::newRow("EXIF") << "2016:08:13 10:22:33"
                              << "" << false << kTaken;
        QTest::newRow("EXIF sub-seconds") << "2016:08:13 10:22:33"
                                          << "7 " << false << kTaken.addMSecs(700);
        QTest::newRow("EXIF with dashes") << "2016-08-13 10:22:33"
                                          << "" << false << kTaken;
        QTest::newRow("EXIF blank") << "    :  :     :  :  "
                                    << "" << false << QDateTime();
        QTest::newRow("EXIF 31 February") << "2016:02:31 10:22:33"
                                          << "" << false << QDateTime();
        QTest::newRow("XMP date only") << "2016-08-13"
                                       << "" << true << QDateTime(QDate(2016, 8, 13), QTime(0, 0));
        QTest::newRow("XMP year and month") << "2016-08"
                                            << "" << true << QDateTime(QDate(2016, 8, 1), QTime(0, 0));
        QTest::newRow("XMP Z") << "2016-08-13T10:22:33Z"
                               << "" << true << kTaken;
        QTest::newRow("XMP minutes only") << "2016-08-13T10:22-05:00"
                                          << "" << true << kTaken.addSecs(-33);
        QTest::newRow("XMP garbage after") << "2016-08-13T10:22:33 and more"
                                           << "" << true << QDateTime();
    }
    void dateTexts()
    {
        QFETCH(QString, text);
        QFETCH(QString, subSeconds);
        QFETCH(bool, xmp);
        QFETCH(QDateTime, when);
        QCOMPARE(xmp ? XmpDateTime(text) : ExifDateTime(text, subSeconds), when);
    }

    void takenDateLines()
    {
        QCOMPARE(
            TakenDateLine(QStringLiteral("CLIP.MOV"), ReadTakenDate(Movie(true, 0, 0))),
            QStringLiteral("No date taken from CLIP.MOV: its movie header holds no date; the file's date is used."));
        QCOMPARE(TakenDateLine(QStringLiteral("IMG_1.JPG"), ReadTakenDate(Tiff("2016:08:13 10:22:33", 44, 100))),
                 QStringLiteral("Taken: ") + DateTimeToStr(kTaken, UserLocaleSettings()) +
                     QStringLiteral(" (EXIF DateTimeOriginal)"));
    }

    // Only the parts where the date lives are read, in whole chunks, and
    // never more than the reader's allowance, whatever the file claims.
    void readsOnlyWhereTheDateLives_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<int>("status");
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<qint64>("mostRead");
        const qint64 big = 200ll << 20;
        const QByteArray ftyp = Box("ftyp", "mp42" + Be32(0) + "mp42isom");
        const QByteArray moov = Box("moov", MovieHeader(1, MovieSeconds(kTakenUtc)));
        const qint64 mediaSize = big - ftyp.size() - moov.size();
        QTest::newRow("200 MB movie, header at the end")
            << big << ftyp + Be32(1) + "mdat" + Be32(quint32(quint64(mediaSize) >> 32)) + Be32(quint32(mediaSize))
            << moov << int(TakenDate::Status::Found) << kTakenUtc.toLocalTime() << 2 * kChunk;
        QTest::newRow("8 MB JPEG") << (8ll << 20) << Jpeg({"Exif.Photo.DateTimeOriginal=2016:08:13 10:22:33"})
                                   << QByteArray() << int(TakenDate::Status::Found) << kTaken << kChunk;
        // Each box one mebibyte long: every header sits in a chunk of its own.
        QByteArray hops = ftyp;
        hops += Be32(quint32((1 << 20) - hops.size())) + "free";
        QTest::newRow("boxes that hop through a 200 MB file")
            << big << hops << QByteArray() << int(TakenDate::Status::Unreadable) << QDateTime()
            << ChunkReader::kMaxChunks * kChunk;
    }
    void readsOnlyWhereTheDateLives()
    {
        QFETCH(qint64, size);
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, tail);
        QFETCH(int, status);
        QFETCH(QDateTime, when);
        QFETCH(qint64, mostRead);
        std::map<qint64, QByteArray> pieces{{0, head}, {size - tail.size(), tail}};
        if (QByteArray(QTest::currentDataTag()).startsWith("boxes"))
            for (qint64 at = 1 << 20; at < size; at += 1 << 20)
                pieces[at] = Be32(1 << 20) + "free";
        SparseStream stream(size, pieces);
        ChunkReader reader(stream, size);
        const TakenDate taken = ReadTakenDate(reader);
        QCOMPARE(int(taken.status), status);
        QVERIFY2(stream.bytesRead <= mostRead, qPrintable(QString::number(stream.bytesRead)));
        QCOMPARE(reader.BytesFetched(), stream.bytesRead);
        QCOMPARE(taken.when, when);
    }

    // Through the device: the object's stream, and why it could not be read.
    void fromTheDevice_data()
    {
        QTest::addColumn<qint64>("readFailsAt");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("read") << qint64(-1) << int(TakenDate::Status::Found) << "QuickTime movie header";
        QTest::newRow("the tail cannot be read") << qint64(1000) << int(TakenDate::Status::Unreadable)
                                                 << "its data could not be read: " + DeviceFailureReason(E_FAIL);
    }
    void fromTheDevice()
    {
        QFETCH(qint64, readFailsAt);
        QFETCH(int, status);
        QFETCH(QString, said);
        FakeDeviceService service;
        FakeDevice &device = service.AddDevice(QStringLiteral("usb:1"), QStringLiteral("Cam"));
        const QString card = device.AddStorage(QStringLiteral("Card"), QStringLiteral("card")).id;
        const QByteArray movie = Movie(false, 0, MovieSeconds(kTakenUtc), 3 * kChunk);
        FakeObject &file = device.AddFile(card, QStringLiteral("CLIP.MOV"), QStringLiteral("VIDEO"),
                                          QStringLiteral("2020/01/01:00:00:00.000"), movie);
        file.readFailsAt = readFailsAt;
        struct : LogSink
        {
            void WriteLog(const QString &, LogColor, LogStyle) override {}
            void WriteLogNoDate(const QString &, LogColor, LogStyle) override {}
        } log;
        DeviceConnection connection(service, log);
        QVERIFY(connection.OpenDevice(QStringLiteral("usb:1"), true));
        const TakenDate taken = TakenDateReader(connection.Handles()).Read(file.id, movie.size());
        QCOMPARE(int(taken.status), status);
        QCOMPARE(status == int(TakenDate::Status::Found) ? taken.source : taken.reason, said);
    }

    // A copy into date folders goes by the date taken: the folder, the file
    // found there on the next run, and the copy's time; without one, by the
    // file's date with one line saying why.
    void copiesGoByTheDateTaken_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("dateTaken");
        QTest::addColumn<bool>("folderMode");
        QTest::addColumn<QString>("placed");
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QString>("line");  // the line after "Size:", or "" for none
        const QDateTime fileDate(QDate(2016, 5, 4), QTime(13, 14, 15));
        const QByteArray jpeg = Jpeg({"Exif.Photo.DateTimeOriginal=2015:03:02 01:02:03"});
        const QDateTime movie = kTakenUtc.toLocalTime();
        QTest::newRow("JPEG by its EXIF date")
            << jpeg << true << false << "2015-03-02/IMG.JPG" << QDateTime(QDate(2015, 3, 2), QTime(1, 2, 3))
            << "Taken: " + DateTimeToStr(QDateTime(QDate(2015, 3, 2), QTime(1, 2, 3)), UserLocaleSettings()) +
                   " (EXIF DateTimeOriginal)";
        QTest::newRow("MOV by its movie header")
            << Movie(false, 0, MovieSeconds(kTakenUtc)) << true << false
            << movie.toString(QStringLiteral("yyyy-MM-dd")) + "/IMG.JPG" << movie
            << "Taken: " + DateTimeToStr(movie, UserLocaleSettings()) + " (QuickTime movie header)";
        QTest::newRow("no metadata: the file's date")
            << QByteArray("plain bytes") << true << false << "2016-05-04/IMG.JPG" << fileDate
            << "No date taken from IMG.JPG: its format holds no date that is read; the file's date is used.";
        QTest::newRow("option off") << jpeg << false << false << "2016-05-04/IMG.JPG" << fileDate << "";
        QTest::newRow("folder mode") << jpeg << true << true << "DCIM/100CANON/IMG.JPG" << fileDate << "";
    }
    void copiesGoByTheDateTaken()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, dateTaken);
        QFETCH(bool, folderMode);
        QFETCH(QString, placed);
        QFETCH(QDateTime, time);
        QFETCH(QString, line);
        CopyRig rig;
        rig.host.dateTaken = dateTaken;
        const QString id = rig.AddFile(QStringLiteral("IMG.JPG"), data).id;
        QVERIFY(rig.Open());
        rig.Transfer(id, folderMode);
        QCOMPARE(FilesBelow(rig.dest.path()), QStringList{placed});
        QCOMPARE(ReadAll(rig.Path(placed)), data);
        QCOMPARE(QFileInfo(rig.Path(placed)).lastModified(), time);
        const QStringList texts = rig.log.Texts();
        const qsizetype after = texts.indexOf(QRegularExpression(QStringLiteral("Size: .*")));
        QCOMPARE(texts.value(after + 1).startsWith(QLatin1String("Taken: ")) ||
                     texts.value(after + 1).startsWith(QLatin1String("No date taken")),
                 !line.isEmpty());
        if (!line.isEmpty())
            QCOMPARE(texts.value(after + 1), line);
        // The next run finds it where the same date puts it.
        rig.Transfer(id, folderMode);
        QCOMPARE(rig.run.FilesExisting.load(), 1);
        QCOMPARE(rig.run.FilesCopied.load(), 1);
        QCOMPARE(FilesBelow(rig.dest.path()), QStringList{placed});
    }

    // The camera's clock is a label, the same in every zone: a CRW's time
    // stamp, and a time the computer's clock skipped (spring forward), land
    // in their own day's folder, run through the real decision.
    void zones_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QDateTime>("clock");
        const QDateTime crw(QDate(2003, 11, 10), QTime(17, 39, 26));
        for (const char *zone : {"UTC", "Asia/Tokyo", "America/Los_Angeles"})
            QTest::newRow(qPrintable(QStringLiteral("CRW in ") + QLatin1String(zone)))
                << QByteArray(zone) << Crw(crw) << crw;
        QTest::newRow("EXIF in New York's spring-forward hour")
            << QByteArray("America/New_York") << Jpeg({"Exif.Photo.DateTimeOriginal=2021:03:14 02:30:00"})
            << QDateTime(QDate(2021, 3, 14), QTime(2, 30));
        QTest::newRow("EXIF in Berlin's spring-forward hour")
            << QByteArray("Europe/Berlin") << Jpeg({"Exif.Photo.DateTimeOriginal=2021:03:28 02:30:00"})
            << QDateTime(QDate(2021, 3, 28), QTime(2, 30));
    }
    void zones()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QByteArray, data);
        QFETCH(QDateTime, clock);
        const Zone inZone(zone.constData());
        CopyRig rig;
        rig.host.dateTaken = true;
        const QString id = rig.AddFile(QStringLiteral("IMG.CRW"), data).id;
        QVERIFY(rig.Open());
        rig.Transfer(id);
        const QString placed = clock.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("/IMG.CRW");
        QCOMPARE(FilesBelow(rig.dest.path()), QStringList{placed});
        const QStringList taken = rig.log.Texts().filter(QRegularExpression(QStringLiteral("^Taken: ")));
        QCOMPARE(taken.size(), 1);
        QVERIFY2(taken[0].contains(clock.toString(QStringLiteral(":mm:ss"))), qPrintable(taken[0]));
    }

    // Thousands of damaged samples: cut short, bytes changed, sizes made
    // hostile. Each gives an answer; none crashes or takes the memory.
    void damagedFilesNeverCrash()
    {
        const QByteArray heif = Box("ftyp", "heic" + Be32(0) + "mif1heic") +
                                Box("meta", QByteArray(4, '\0') + Box("hdlr", QByteArray(24, '\0')) +
                                                Box("iloc", QByteArray(4, '\0') + QByteArray("\x44\x00\x00\x01", 4) +
                                                                QByteArray(16, '\x20')));
        const QList<QByteArray> seeds = {
            Jpeg({"Exif.Photo.DateTimeOriginal=2016:08:13 10:22:33", "Exif.Photo.SubSecTimeOriginal=12",
                  "Xmp.xmp.CreateDate=2014-02-03T04:05:06"}),
            Tiff("2016:08:13 10:22:33", 44, 600),
            ExivTiff({"Exif.Image.Make=NIKON", "Exif.Photo.DateTimeOriginal=2016:08:13 10:22:33"}),
            Movie(true, 0, MovieSeconds(kTakenUtc), 64),
            Movie(false, 1, MovieSeconds(kTakenUtc), 64),
            heif,
        };
        const quint32 hostile[] = {0, 1, 7, 8, 16, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFF, 0x10000};
        QRandomGenerator random(20);
        std::map<int, int> outcomes;
        // FERROVANE_FUZZ_ROUNDS asks for a longer run by hand.
        const int kRounds = qMax(4000, qEnvironmentVariableIntValue("FERROVANE_FUZZ_ROUNDS"));
        for (int round = 0; round < kRounds; ++round) {
            QByteArray data = seeds.at(round % seeds.size());
            const int kind = random.bounded(4);
            if (kind == 0 || kind == 3)
                data.truncate(random.bounded(data.size() + 1));
            if ((kind == 1 || kind == 3) && !data.isEmpty())
                for (int n = random.bounded(1, 17); n > 0; --n)
                    data[random.bounded(data.size())] = char(random.bounded(256));
            if (kind == 2 && data.size() >= 4) {
                const QByteArray number =
                    random.bounded(2) ? Be32(hostile[random.bounded(10)]) : Le(hostile[random.bounded(10)], 4);
                data.replace(random.bounded(data.size() - 3), 4, number);
            }
            const TakenDate taken = ReadTakenDate(data);
            ++outcomes[int(taken.status)];
            if (taken.status == TakenDate::Status::Found) {
                QVERIFY(taken.when.isValid());
                QVERIFY(taken.when.date().year() >= 1970 && taken.when.date().year() <= 2100);
            } else {
                QVERIFY(!taken.reason.isEmpty());
            }
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        qInfo("%d damaged samples: %d found, %d none, %d unreadable, %d out of range; largest resident %ld MiB",
              kRounds, outcomes[0], outcomes[1], outcomes[2], outcomes[3], usage.ru_maxrss / 1024);
        QVERIFY(usage.ru_maxrss < 512 * 1024);
    }
};

FERROVANE_TEST_MAIN(TestMediaDate)
#include "tst_mediadate.moc"
