#include "MediaDate.h"

#include "base/DateFormat.h"
#include "metadata/Exiv2Access.h"

#include <QRegularExpression>

#include <exiv2/bmffimage.hpp>
#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>

#include <algorithm>
#include <cstring>

// --- ChunkReader ------------------------------------------------------------------

ChunkReader::ChunkReader(IStream &stream, qint64 size, int maxChunks)
    : stream_(stream), size_(qMax<qint64>(size, 0)), maxChunks_(maxChunks)
{
}

const QByteArray *ChunkReader::Chunk(qint64 index)
{
    const auto known = chunks_.find(index);
    if (known != chunks_.end())
        return &known->second;
    if (failure_ != S_OK || int(chunks_.size()) >= maxChunks_)
        return nullptr;
    const qint64 start = index * qint64(kTransferChunkSize);
    if (position_ != start) {
        std::uint64_t at = 0;
        const HRESULT hr = stream_.Seek(start, IStream::STREAM_SEEK_SET, &at);
        if (FAILED(hr)) {
            failure_ = hr;
            return nullptr;
        }
        position_ = start;
    }
    QByteArray chunk(qsizetype(qMin<qint64>(kTransferChunkSize, size_ - start)), Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < chunk.size()) {
        std::uint32_t n = 0;
        const HRESULT hr = stream_.Read(chunk.data() + filled, std::uint32_t(chunk.size() - filled), &n);
        if (FAILED(hr)) {
            failure_ = hr;
            return nullptr;
        }
        if (n == 0)
            break;  // the data ends before the size said
        filled += qMin<qsizetype>(n, chunk.size() - filled);
    }
    chunk.truncate(filled);
    position_ = start + filled;
    fetched_ += filled;
    return &chunks_.emplace(index, std::move(chunk)).first->second;
}

bool ChunkReader::Read(qint64 offset, qint64 length, QByteArray &out)
{
    out.clear();
    if (offset < 0 || length < 0 || offset > size_ || length > size_ - offset)
        return false;
    if (length > qint64(maxChunks_) * kTransferChunkSize)
        return false;
    out.reserve(qsizetype(length));
    qint64 at = offset;
    while (at < offset + length) {
        const qint64 index = at / kTransferChunkSize;
        const QByteArray *chunk = Chunk(index);
        const qint64 from = at - index * qint64(kTransferChunkSize);
        if (!chunk || from >= chunk->size()) {
            out.clear();
            return false;
        }
        const qint64 take = qMin<qint64>(chunk->size() - from, offset + length - at);
        out.append(chunk->constData() + from, qsizetype(take));
        at += take;
    }
    return true;
}

// --- dates in text -------------------------------------------------------------------

namespace {

// The part of a second that a run of digits gives: "12" is 0.12 s.
int Milliseconds(const QString &digits)
{
    int ms = 0;
    for (int i = 0; i < 3; ++i)
        ms = ms * 10 + (i < digits.size() ? digits.at(i).digitValue() : 0);
    return ms;
}

bool InRange(const QDateTime &when)
{
    const int year = when.date().year();
    return year >= 1970 && year <= 2100;
}

// A value from a file, short enough for a log line; the log escapes it.
QString Printable(const QString &text)
{
    return text.size() > 40 ? text.left(40) + QStringLiteral("...") : text;
}

}  // namespace

QDateTime WallClockTime(QDate date, QTime time)
{
    const QDateTime local(date, time);
    if (local.isValid() || !date.isValid() || !time.isValid())
        return local;
    return QDateTime(date, time, Qt::UTC);
}

QDateTime InstantOf(const QDateTime &when)
{
    if (when.timeSpec() != Qt::UTC)
        return when;
    // A time the local clock skipped: the first local time after it.
    for (int step = 0; step <= 48; ++step) {
        const QDateTime later = when.addSecs(qint64(step) * 900);
        const QDateTime local(later.date(), later.time());
        if (local.isValid())
            return local;
    }
    return when;
}

QDateTime ExifDateTime(const QString &text, const QString &subSeconds)
{
    static const QRegularExpression form(QStringLiteral(
        "^\\s*(\\d{4})[:\\-/.](\\d{1,2})[:\\-/.](\\d{1,2})(?:[ T]+(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?)?"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return QDateTime();
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    static const QRegularExpression digits(QStringLiteral("^\\s*(\\d+)"));
    const QRegularExpressionMatch sub = digits.match(subSeconds);
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(),
                     sub.hasMatch() ? Milliseconds(sub.captured(1)) : 0);
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return WallClockTime(date, time);
}

QDateTime XmpDateTime(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(
        "^\\s*(\\d{4})(?:-(\\d{2})(?:-(\\d{2})(?:[T ](\\d{2}):(\\d{2})(?::(\\d{2})(?:[.,](\\d+))?)?)?)?)?"
        "\\s*(?:Z|[+-]\\d{2}(?::?\\d{2})?)?\\s*$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return QDateTime();
    auto part = [&](int n, int missing) { return m.captured(n).isEmpty() ? missing : m.captured(n).toInt(); };
    const QDate date(part(1, 0), part(2, 1), part(3, 1));
    const QTime time(part(4, 0), part(5, 0), part(6, 0), m.captured(7).isEmpty() ? 0 : Milliseconds(m.captured(7)));
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return WallClockTime(date, time);
}

// --- what a file holds -----------------------------------------------------------------

namespace {

constexpr qint64 kChunk = kTransferChunkSize;
// 1904-01-01 to 1970-01-01 in seconds: the movie header's epoch.
constexpr quint64 kMovieEpoch = 2082844800ull;
// Boxes looked at on one level before giving up.
constexpr int kMaxBoxes = 64;

enum class Kind { Unknown, Jpeg, Tiff, Orf, Rw2, Raf, Mrw, Crw, Png, WebP, BmffImage, Movie, Xmp };

// The candidates one after the other; the first date in range is taken, and
// without one the first problem met is told.
class Judge
{
public:
    bool Found() const { return result_.status == TakenDate::Status::Found; }
    void Offer(const QString &source, const QString &raw, const QDateTime &when)
    {
        if (Found())
            return;
        if (!when.isValid())
            Problem(TakenDate::Status::Unreadable,
                    QStringLiteral("its %1 \"%2\" is not a date").arg(source, Printable(raw)));
        else if (!InRange(when))
            Problem(TakenDate::Status::OutOfRange,
                    QStringLiteral("its %1 %2 is outside 1970 to 2100")
                        .arg(source, when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))));
        else
            result_ = TakenDate{TakenDate::Status::Found, when, source, QString()};
    }
    void Problem(TakenDate::Status status, const QString &reason)
    {
        if (result_.status == TakenDate::Status::None && result_.reason.isEmpty())
            result_ = TakenDate{status, QDateTime(), QString(), reason};
    }
    TakenDate Result() const
    {
        if (result_.status == TakenDate::Status::None && result_.reason.isEmpty())
            return TakenDate{TakenDate::Status::None, QDateTime(), QString(),
                             QStringLiteral("no date in its metadata")};
        return result_;
    }

private:
    TakenDate result_;
};

quint32 Be16(const QByteArray &b, qsizetype at)
{
    return quint32(quint8(b[at])) << 8 | quint8(b[at + 1]);
}

quint32 Be32(const QByteArray &b, qsizetype at)
{
    return Be16(b, at) << 16 | Be16(b, at + 2);
}

quint64 Be64(const QByteArray &b, qsizetype at)
{
    return quint64(Be32(b, at)) << 32 | Be32(b, at + 4);
}

Kind Sniff(const QByteArray &m)
{
    auto starts = [&](const char *magic, qsizetype length, qsizetype at = 0) {
        return m.size() >= at + length && std::memcmp(m.constData() + at, magic, size_t(length)) == 0;
    };
    if (starts("\xFF\xD8\xFF", 3))
        return Kind::Jpeg;
    if (starts("II*\0", 4) || starts("MM\0*", 4))
        return Kind::Tiff;
    if (starts("IIRO", 4) || starts("IIRS", 4) || starts("MMOR", 4))
        return Kind::Orf;
    if (starts("IIU\0", 4))
        return Kind::Rw2;
    if (starts("FUJIFILMCCD-RAW", 15))
        return Kind::Raf;
    if (starts("\0MRM", 4))
        return Kind::Mrw;
    if (starts("II\x1A\0\0\0HEAPCCDR", 14) || starts("MM\0\0\0\x1AHEAPCCDR", 14))
        return Kind::Crw;
    if (starts("\x89PNG\r\n\x1A\n", 8))
        return Kind::Png;
    if (starts("RIFF", 4) && starts("WEBP", 4, 8))
        return Kind::WebP;
    if (starts("ftyp", 4, 4)) {
        for (const char *brand :
             {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "avif", "avis", "crx "})
            if (starts(brand, 4, 8))
                return Kind::BmffImage;
        return Kind::Movie;
    }
    for (const char *box : {"moov", "mdat", "wide", "free", "skip", "pnot", "junk"})
        if (starts(box, 4, 4))
            return Kind::Movie;
    // An XMP side file: a packet, or the bare meta element, perhaps after a
    // byte order mark.
    const qsizetype skip = starts("\xEF\xBB\xBF", 3) ? 3 : 0;
    if (starts("<?xpacket", 9, skip) || starts("<x:xmpmeta", 10, skip) || starts("<?xml", 5, skip))
        return Kind::Xmp;
    return Kind::Unknown;
}

// --- exiv2 ---------------------------------------------------------------------------

Exiv2::Image::AutoPtr NewImage(Kind kind, Exiv2::BasicIo::AutoPtr io)
{
    switch (kind) {
    case Kind::Jpeg: return Exiv2::newJpegInstance(std::move(io), false);
    case Kind::Tiff: return Exiv2::newTiffInstance(std::move(io), false);
    case Kind::Orf: return Exiv2::newOrfInstance(std::move(io), false);
    case Kind::Rw2: return Exiv2::newRw2Instance(std::move(io), false);
    case Kind::Raf: return Exiv2::newRafInstance(std::move(io), false);
    case Kind::Mrw: return Exiv2::newMrwInstance(std::move(io), false);
    case Kind::Crw: return Exiv2::newCrwInstance(std::move(io), false);
    case Kind::Png: return Exiv2::newPngInstance(std::move(io), false);
    case Kind::WebP: return Exiv2::newWebPInstance(std::move(io), false);
    case Kind::BmffImage: return Exiv2::newBmffInstance(std::move(io), false);
    case Kind::Unknown:
    case Kind::Movie:
    case Kind::Xmp: break;
    }
    return Exiv2::Image::AutoPtr();
}

// exiv2 gives a CRW's time stamp (the camera's clock, counted as if it were
// UTC) as the computer's local time of that count: back to the count, and
// the clock's fields from it. In the hour a local clock repeats the count is
// ambiguous; the first one is taken.
QDateTime CrwClock(const QDateTime &local)
{
    if (!local.isValid() || local.timeSpec() == Qt::UTC)
        return local;
    const QDateTime count = QDateTime::fromSecsSinceEpoch(local.toSecsSinceEpoch(), Qt::UTC);
    return WallClockTime(count.date(), count.time());
}

// The date fields of a photo's metadata, best first. The first date in range
// is taken; the "Taken:" line names its field.
void OfferDates(const Exiv2::ExifData &exif, const Exiv2::XmpData &xmp, const Exiv2::IptcData &iptc, bool crw,
                Judge &judge)
{
    auto exifText = [&](const char *key) {
        const auto it = exif.findKey(Exiv2::ExifKey(key));
        return it == exif.end() ? QString() : QString::fromStdString(it->toString()).trimmed();
    };
    auto offerExif = [&](const char *key, const char *source, const char *subSeconds) {
        const QString text = exifText(key);
        if (text.isEmpty())
            return;
        const QDateTime when = ExifDateTime(text, exifText(subSeconds));
        judge.Offer(QString::fromLatin1(source), text, crw ? CrwClock(when) : when);
    };
    auto offerXmp = [&](const char *key, const char *source) {
        const auto it = xmp.findKey(Exiv2::XmpKey(key));
        if (it == xmp.end())
            return;
        const QString text = QString::fromStdString(it->toString()).trimmed();
        if (!text.isEmpty())
            judge.Offer(QString::fromLatin1(source), text, XmpDateTime(text));
    };
    offerExif("Exif.Photo.DateTimeOriginal", "EXIF DateTimeOriginal", "Exif.Photo.SubSecTimeOriginal");
    offerExif("Exif.Image.DateTimeOriginal", "EXIF DateTimeOriginal", "Exif.Photo.SubSecTimeOriginal");
    offerXmp("Xmp.exif.DateTimeOriginal", "XMP exif:DateTimeOriginal");
    offerExif("Exif.Photo.DateTimeDigitized", "EXIF CreateDate (DateTimeDigitized)", "Exif.Photo.SubSecTimeDigitized");
    offerXmp("Xmp.xmp.CreateDate", "XMP xmp:CreateDate");
    offerExif("Exif.Image.DateTime", "EXIF IFD0 DateTime", "Exif.Photo.SubSecTime");
    offerXmp("Xmp.photoshop.DateCreated", "XMP photoshop:DateCreated");
    // IPTC keeps the day and the time of day apart ("2016-08-13",
    // "10:22:33+02:00"); without a time the day starts at midnight.
    const auto day = iptc.findKey(Exiv2::IptcKey("Iptc.Application2.DateCreated"));
    if (day != iptc.end()) {
        const QString date = QString::fromStdString(day->toString()).trimmed();
        const auto clock = iptc.findKey(Exiv2::IptcKey("Iptc.Application2.TimeCreated"));
        const QString time = clock == iptc.end() ? QString() : QString::fromStdString(clock->toString()).trimmed();
        const QString text = time.isEmpty() ? date : date + QLatin1Char('T') + time;
        if (!date.isEmpty())
            judge.Offer(QStringLiteral("IPTC DateCreated"), text, XmpDateTime(text));
    }
}

// The dates of an XMP side file.
void OfferXmpPacket(const QByteArray &packet, Judge &judge)
{
    const auto exiv2 = Exiv2Access();
    try {
        Exiv2::XmpData xmp;
        if (Exiv2::XmpParser::decode(xmp, packet.toStdString()) != 0) {
            judge.Problem(TakenDate::Status::Unreadable, QStringLiteral("its XMP is damaged or cut short"));
            return;
        }
        OfferDates(Exiv2::ExifData(), xmp, Exiv2::IptcData(), false, judge);
    } catch (const std::exception &) {
        judge.Problem(TakenDate::Status::Unreadable, QStringLiteral("its XMP could not be read"));
    }
}

// Offers the dates that exiv2 finds in the head of a photo. A head cut short
// leaves exiv2 halfway: what it read up to there still counts.
void OfferMetadata(Kind kind, const QByteArray &head, Judge &judge)
{
    const auto exiv2 = Exiv2Access();
    try {
        Exiv2::BasicIo::AutoPtr io(
            new Exiv2::MemIo(reinterpret_cast<const Exiv2::byte *>(head.constData()), long(head.size())));
        Exiv2::Image::AutoPtr image = NewImage(kind, std::move(io));
        if (!image.get())
            return;
        bool damaged = false;
        try {
            image->readMetadata();
        } catch (const std::exception &) {
            damaged = true;
        }
        OfferDates(image->exifData(), image->xmpData(), image->iptcData(), kind == Kind::Crw, judge);
        if (damaged && !judge.Found())
            judge.Problem(TakenDate::Status::Unreadable, QStringLiteral("its metadata are damaged or cut short"));
    } catch (const std::exception &) {
        judge.Problem(TakenDate::Status::Unreadable, QStringLiteral("its metadata could not be read"));
    }
}

// How far the segments before a JPEG's image data reach (the metadata are
// all in there), within what may be read.
qint64 JpegHeadLength(ChunkReader &reader)
{
    const qint64 limit = qMin<qint64>(reader.Size(), ChunkReader::kMaxChunks * kChunk);
    qint64 at = 2;
    QByteArray b;
    while (at + 4 <= limit && reader.Read(at, 4, b)) {
        if (quint8(b[0]) != 0xFF)
            break;
        const quint8 marker = quint8(b[1]);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)  // start of scan, end of image: exiv2 stops there
            return at + 2;
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            at += 2;
            continue;
        }
        const quint32 length = Be16(b, 2);
        if (length < 2)
            break;
        at += 2 + length;
    }
    return qMin(at, limit);
}

void OfferPhoto(Kind kind, ChunkReader &reader, Judge &judge)
{
    // A JPEG's segments say how far its metadata go. Other formats point to
    // them by offsets: the first chunk holds them as a rule, and the head
    // grows to all that may be read only when it did not.
    qint64 want = kind == Kind::Jpeg ? JpegHeadLength(reader) : qMin(reader.Size(), kChunk);
    const qint64 most = qMin<qint64>(reader.Size(), ChunkReader::kMaxChunks * kChunk);
    for (;;) {
        QByteArray head;
        if (!reader.Read(0, want, head)) {
            judge.Problem(TakenDate::Status::Unreadable, QStringLiteral("its data could not be read"));
            return;
        }
        Judge attempt;
        OfferMetadata(kind, head, attempt);
        if (attempt.Found() || want >= most) {
            const TakenDate result = attempt.Result();
            if (result.status == TakenDate::Status::Found)
                judge.Offer(result.source, QString(), result.when);
            else if (!result.reason.isEmpty() && result.reason != QLatin1String("no date in its metadata"))
                judge.Problem(result.status, result.reason);
            return;
        }
        want = most;
    }
}

// --- the QuickTime movie header -------------------------------------------------------------

struct Box
{
    QByteArray type;
    qint64 content = 0;  // where its content starts
    qint64 end = 0;      // where the next box starts
};

// The box whose header starts at offset, within [.., limit). False with the
// judge told why when it cannot be read or its size makes no sense.
bool ReadBox(ChunkReader &reader, qint64 offset, qint64 limit, Box &box, Judge &judge)
{
    QByteArray b;
    if (!reader.Read(offset, 8, b)) {
        judge.Problem(TakenDate::Status::Unreadable,
                      reader.Failure() != S_OK ? QStringLiteral("its data could not be read")
                      : offset + 8 > reader.Size()
                          ? QStringLiteral("its boxes are cut short")
                          : QStringLiteral("its movie header lies beyond the parts that are read"));
        return false;
    }
    quint64 size = Be32(b, 0);
    box.type = b.mid(4, 4);
    qint64 header = 8;
    if (size == 1) {
        if (!reader.Read(offset + 8, 8, b)) {
            judge.Problem(TakenDate::Status::Unreadable, QStringLiteral("its boxes are cut short"));
            return false;
        }
        size = Be64(b, 0);
        header = 16;
    } else if (size == 0) {
        size = quint64(limit - offset);  // to the end
    }
    if (size < quint64(header) || size > quint64(limit - offset)) {
        judge.Problem(TakenDate::Status::Unreadable, QStringLiteral("its box \"%1\" has a size that does not fit")
                                                         .arg(Printable(QString::fromLatin1(box.type))));
        return false;
    }
    box.content = offset + header;
    box.end = offset + qint64(size);
    return true;
}

void OfferMovieHeaderDate(quint64 seconds, Judge &judge)
{
    const QString source = QStringLiteral("QuickTime movie header");
    if (seconds == 0) {
        judge.Problem(TakenDate::Status::None, QStringLiteral("its movie header holds no date"));
        return;
    }
    // Past 9999 no date-time can be made; such a value is no date anyway.
    constexpr quint64 kLatest = kMovieEpoch + 253402300799ull;
    if (seconds > kLatest) {
        judge.Problem(TakenDate::Status::OutOfRange, QStringLiteral("its %1 date is outside 1970 to 2100").arg(source));
        return;
    }
    const QDateTime when = QDateTime::fromSecsSinceEpoch(qint64(seconds) - qint64(kMovieEpoch));  // local time
    judge.Offer(source, QString(), when);
}

void OfferMovie(ChunkReader &reader, Judge &judge)
{
    const qint64 end = reader.Size();
    qint64 offset = 0;
    for (int n = 0; n < kMaxBoxes && offset < end; ++n) {
        Box box;
        if (!ReadBox(reader, offset, end, box, judge))
            return;
        if (box.type == "moov") {
            qint64 child = box.content;
            for (int m = 0; m < kMaxBoxes && child < box.end; ++m) {
                Box inner;
                if (!ReadBox(reader, child, box.end, inner, judge))
                    return;
                if (inner.type == "mvhd") {
                    QByteArray b;
                    const qint64 length = inner.end - inner.content;
                    // Version and flags, then the creation time: 32 bits in
                    // version 0, 64 bits in version 1.
                    if (length < 8 || !reader.Read(inner.content, qMin<qint64>(length, 12), b)) {
                        judge.Problem(TakenDate::Status::Unreadable, QStringLiteral("its movie header is cut short"));
                        return;
                    }
                    const int version = quint8(b[0]);
                    if (version == 1 && b.size() < 12) {
                        judge.Problem(TakenDate::Status::Unreadable, QStringLiteral("its movie header is cut short"));
                        return;
                    }
                    if (version > 1) {
                        judge.Problem(TakenDate::Status::Unreadable,
                                      QStringLiteral("its movie header has the unknown version %1").arg(version));
                        return;
                    }
                    OfferMovieHeaderDate(version == 1 ? Be64(b, 4) : Be32(b, 4), judge);
                    return;
                }
                child = inner.end;
            }
            judge.Problem(TakenDate::Status::None,
                          child < box.end ? QStringLiteral("its movie header was not found in the first %1 boxes "
                                                           "of its movie box")
                                                .arg(kMaxBoxes)
                                          : QStringLiteral("its movie box holds no movie header"));
            return;
        }
        offset = box.end;
    }
    judge.Problem(TakenDate::Status::None,
                  offset < end
                      ? QStringLiteral("its movie header was not found in the first %1 boxes read").arg(kMaxBoxes)
                      : QStringLiteral("it holds no movie header"));
}

// An object's data held in memory.
class MemoryStream : public IStream
{
public:
    explicit MemoryStream(const QByteArray &data) : data_(data) {}
    HRESULT Seek(std::int64_t offset, SeekOrigin origin, std::uint64_t *newPosition) override
    {
        const std::int64_t base = origin == STREAM_SEEK_CUR ? position_ : origin == STREAM_SEEK_END ? data_.size() : 0;
        if (base + offset < 0)
            return E_INVALIDARG;
        position_ = base + offset;
        if (newPosition)
            *newPosition = std::uint64_t(position_);
        return S_OK;
    }
    HRESULT Read(void *buffer, std::uint32_t count, std::uint32_t *read) override
    {
        const std::int64_t n = std::clamp<std::int64_t>(std::int64_t(data_.size()) - position_, 0, count);
        if (n > 0)
            std::memcpy(buffer, data_.constData() + position_, size_t(n));
        position_ += n;
        if (read)
            *read = std::uint32_t(n);
        return S_OK;
    }

private:
    const QByteArray &data_;
    std::int64_t position_ = 0;
};

}  // namespace

TakenDate ReadTakenDate(ChunkReader &reader)
{
    Judge judge;
    QByteArray magic;
    if (reader.Size() == 0)
        judge.Problem(TakenDate::Status::None, QStringLiteral("it is empty"));
    else if (!reader.Read(0, qMin<qint64>(reader.Size(), 16), magic))
        judge.Problem(TakenDate::Status::Unreadable, QStringLiteral("its data could not be read"));
    else {
        const Kind kind = Sniff(magic);
        if (kind == Kind::Unknown)
            judge.Problem(TakenDate::Status::None, QStringLiteral("its format holds no date that is read"));
        else if (kind == Kind::Movie)
            OfferMovie(reader, judge);
        else if (kind == Kind::Xmp) {
            QByteArray packet;
            if (reader.Read(0, qMin<qint64>(reader.Size(), ChunkReader::kMaxChunks * kChunk), packet))
                OfferXmpPacket(packet, judge);
            else
                judge.Problem(TakenDate::Status::Unreadable, QStringLiteral("its data could not be read"));
        } else {
            OfferPhoto(kind, reader, judge);
            // A CR3 or a HEIF sequence may carry a movie header too; a
            // still image without one does not say so.
            if (kind == Kind::BmffImage && !judge.Found()) {
                Judge movie;
                OfferMovie(reader, movie);
                if (movie.Found())
                    judge.Offer(movie.Result().source, QString(), movie.Result().when);
            }
        }
    }
    return judge.Result();
}

TakenDate ReadTakenDate(const QByteArray &data)
{
    MemoryStream stream(data);
    ChunkReader reader(stream, data.size());
    return ReadTakenDate(reader);
}

TakenDate TakenDateReader::Read(const QString &ObjectID, qint64 Size)
{
    auto unreadable = [](HRESULT hr) {
        return TakenDate{TakenDate::Status::Unreadable, QDateTime(), QString(),
                         QStringLiteral("its data could not be read: ") + DeviceFailureReason(hr)};
    };
    std::shared_ptr<IPortableDeviceResources> resources;
    HRESULT hr = handles_.aPortableDeviceContent ? handles_.aPortableDeviceContent->Transfer(resources) : E_POINTER;
    if (FAILED(hr) || !resources)
        return unreadable(FAILED(hr) ? hr : E_POINTER);
    std::shared_ptr<IStream> stream;
    hr = resources->GetStream(ObjectID, WPD_RESOURCE_DEFAULT, STGM_READ, stream);
    if (FAILED(hr) || !stream)
        return unreadable(FAILED(hr) ? hr : E_POINTER);
    ChunkReader reader(*stream, Size);
    TakenDate taken = ReadTakenDate(reader);
    if (taken.status != TakenDate::Status::Found && reader.Failure() != S_OK)
        return unreadable(reader.Failure());
    return taken;
}

QString TakenDateLine(const QString &FileName, const TakenDate &taken)
{
    if (taken.status == TakenDate::Status::Found)
        return QStringLiteral("Taken: ") + DateTimeToStr(taken.when, UserLocaleSettings()) + QStringLiteral(" (") +
               taken.source + QLatin1Char(')');
    return QStringLiteral("No date taken from ") + FileName + QStringLiteral(": ") + taken.reason +
           QStringLiteral("; the file's date is used.");
}
