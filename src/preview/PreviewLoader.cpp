#include "PreviewLoader.h"

#include "base/DateFormat.h"
#include "base/FormatSettings.h"
#include "base/TextRules.h"
#include "device/DeviceSession.h"
#include "metadata/Exiv2Access.h"

#include <QBuffer>
#include <QDateTime>
#include <QIODevice>
#include <QImageReader>
#include <QTransform>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// A device thumbnail is a few kilobytes; anything past this is no thumbnail.
constexpr qint64 kMaxThumbnailBytes = 8ll << 20;
// Pictures of more pixels than this are not decoded at all, scaled or not.
constexpr qint64 kMaxPixels = 400ll * 1000 * 1000;
// Of the previews a raw file names beyond its head, the largest up to this
// size is fetched: enough for a sharp picture, far less than the full one.
constexpr qint64 kPreferredPreviewBytes = 3ll << 20;
// Texts from a file's metadata are data: shown escaped, and never long.
constexpr qsizetype kMaxFactLength = 80;

// What Qt's image plugins say while this thread decodes: kept for the
// decode to judge (libjpeg pads a file that ends early with grey and only
// warns), instead of reaching the terminal.
thread_local QStringList *decodeMessages = nullptr;
QtMessageHandler previousHandler = nullptr;

void KeepDecodeMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (decodeMessages && context.category && QByteArrayView(context.category).startsWith("qt.gui.imageio")) {
        decodeMessages->append(message);
        return;
    }
    if (previousHandler)
        previousHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

class DecodeMessages
{
public:
    DecodeMessages()
    {
        static std::once_flag once;
        std::call_once(once, [] { previousHandler = qInstallMessageHandler(KeepDecodeMessages); });
        decodeMessages = &messages_;
    }
    ~DecodeMessages() { decodeMessages = nullptr; }
    bool Say(const char *text) const
    {
        for (const QString &message : messages_)
            if (message.contains(QLatin1String(text), Qt::CaseInsensitive))
                return true;
        return false;
    }

private:
    QStringList messages_;
};

// Where bytes come from: memory, or a device stream read in chunks.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    virtual qint64 Size() const = 0;
    // Up to n bytes at offset; fewer at the end, -1 on a failure.
    virtual qint64 ReadAt(qint64 offset, char *out, qint64 n) = 0;
};

class MemorySource : public ByteSource
{
public:
    explicit MemorySource(const QByteArray &bytes) : bytes_(bytes) {}
    qint64 Size() const override { return bytes_.size(); }
    qint64 ReadAt(qint64 offset, char *out, qint64 n) override
    {
        if (offset >= bytes_.size())
            return 0;
        n = std::min(n, bytes_.size() - offset);
        std::memcpy(out, bytes_.constData() + offset, size_t(n));
        return n;
    }

private:
    QByteArray bytes_;
};

// A device stream, read in the device's chunk size whatever the decoder
// asks for (a camera answers each request over USB), with one chunk kept.
class DeviceSource : public ByteSource
{
public:
    DeviceSource(std::shared_ptr<IStream> stream, qint64 size, const std::function<bool()> &cancelled)
        : stream_(std::move(stream)), size_(size), cancelled_(cancelled)
    {
    }
    qint64 Size() const override { return size_; }
    HRESULT Error() const { return error_; }
    bool Cancelled() const { return cancelledSeen_; }
    bool EndedEarly() const { return endedEarly_; }

    qint64 ReadAt(qint64 offset, char *out, qint64 n) override
    {
        qint64 done = 0;
        while (done < n && offset + done < size_) {
            const qint64 at = offset + done;
            // The head is kept whole: a decode from the start costs no request again.
            if (at < kept_) {
                const qint64 take = std::min(n - done, kept_ - at);
                std::memcpy(out + done, prefix_.constData() + at, size_t(take));
                done += take;
                continue;
            }
            if (at < chunkStart_ || at >= chunkStart_ + chunk_.size()) {
                if (!Fill(at - at % kTransferChunkSize))
                    return done > 0 ? done : -1;
                if (at >= chunkStart_ + chunk_.size())
                    break;  // the stream ended before the size it was given
            }
            const qint64 take = std::min(n - done, chunkStart_ + chunk_.size() - at);
            std::memcpy(out + done, chunk_.constData() + (at - chunkStart_), size_t(take));
            done += take;
        }
        return done;
    }

    // The first n bytes (fewer when the file is shorter); empty and false on
    // a failure or when cancelled.
    bool Prefix(qint64 n, QByteArray &bytes)
    {
        n = std::min(n, size_);
        if (kept_ < n) {
            const qint64 had = kept_;
            prefix_.resize(n);
            const qint64 got = ReadAt(had, prefix_.data() + had, n - had);
            prefix_.resize(got < 0 ? had : had + got);
            kept_ = prefix_.size();
            if (got < 0)
                return false;
        }
        bytes = prefix_.left(n);
        return true;
    }

private:
    bool Fill(qint64 start)
    {
        if (cancelled_ && cancelled_()) {
            cancelledSeen_ = true;
            return false;
        }
        chunk_.resize(qsizetype(std::min<qint64>(kTransferChunkSize, size_ - start)));
        if (position_ != start) {
            std::uint64_t now = 0;
            error_ = stream_->Seek(start, IStream::STREAM_SEEK_SET, &now);
            if (FAILED(error_))
                return false;
            position_ = start;
        }
        qint64 filled = 0;
        while (filled < chunk_.size()) {
            std::uint32_t got = 0;
            error_ = stream_->Read(chunk_.data() + filled, std::uint32_t(chunk_.size() - filled), &got);
            if (FAILED(error_)) {
                position_ = -1;
                return false;
            }
            if (got == 0) {
                endedEarly_ = true;
                break;
            }
            filled += got;
            position_ += got;
        }
        chunk_.resize(filled);
        chunkStart_ = start;
        return true;
    }

    std::shared_ptr<IStream> stream_;
    qint64 size_;
    std::function<bool()> cancelled_;
    QByteArray chunk_;
    qint64 chunkStart_ = 0;
    qint64 position_ = 0;
    QByteArray prefix_;  // the first kept_ bytes of the file, read once
    qint64 kept_ = 0;
    HRESULT error_ = S_OK;
    bool cancelledSeen_ = false;
    bool endedEarly_ = false;
};

// A random-access device for Qt's image reader over a byte source. It notes
// a read at the end: a JPEG decoder asks there only when the file ends
// before its picture does (it then pads the rest grey and calls it done).
class SourceDevice : public QIODevice
{
public:
    explicit SourceDevice(ByteSource &source) : source_(source) { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }
    bool isSequential() const override { return false; }
    qint64 size() const override { return source_.Size(); }
    bool ReadPastEnd() const { return readPastEnd_; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (pos() >= source_.Size()) {
            readPastEnd_ = true;
            return maxSize > 0 ? -1 : 0;
        }
        return source_.ReadAt(pos(), data, maxSize);
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    ByteSource &source_;
    bool readPastEnd_ = false;
};

QImage Oriented(const QImage &image, int orientation)
{
    switch (orientation) {
    case 2: return image.mirrored(true, false);
    case 3: return image.mirrored(true, true);
    case 4: return image.mirrored(false, true);
    case 5: return image.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6: return image.transformed(QTransform().rotate(90));
    case 7: return image.transformed(QTransform().rotate(270)).mirrored(true, false);
    case 8: return image.transformed(QTransform().rotate(270));
    default: return image;
    }
}

// The picture formats decoded in this process (raw files are TIFFs, and
// TIFF is left out: see DecodeFrom).
bool IsDecodedFormat(const QByteArray &format)
{
    return format == "jpeg" || format == "png" || format == "webp" || format == "gif" || format == "bmp";
}

QImage DecodeFrom(SourceDevice &device, QSize box, int orientation, const PreviewLimits &limits, QString *trouble)
{
    auto fail = [trouble](const QString &why) {
        if (trouble)
            *trouble = why;
        return QImage();
    };
    const DecodeMessages messages;
    QImageReader reader(&device);
    reader.setDecideFormatFromContent(true);
    reader.setAllocationLimit(limits.allocationMb);
    // The format comes from the first bytes alone; nothing is parsed yet.
    // Debian 12's TIFF library writes outside its buffers on some damaged
    // files (seen under valgrind on mutated raw files), so a picture from a
    // device never reaches it: a TIFF shows its embedded preview or its icon.
    const QByteArray format = reader.format();
    if (!IsDecodedFormat(format))
        return fail(format.isEmpty()
                        ? QStringLiteral("not a picture Qt can read")
                        : QStringLiteral("%1 pictures are not decoded here").arg(QString::fromLatin1(format)));
    const QSize full = reader.size();
    if (!full.isValid() || full.isEmpty())
        return fail(QStringLiteral("not a picture Qt can read (%1)").arg(reader.errorString()));
    if (qint64(full.width()) * full.height() > kMaxPixels)
        return fail(QStringLiteral("a picture of %1 x %2 pixels is too large").arg(full.width()).arg(full.height()));
    // The picture's own orientation wins; the file's applies otherwise.
    const QImageIOHandler::Transformations own = reader.transformation();
    const bool ownTurn = own != QImageIOHandler::TransformationNone;
    reader.setAutoTransform(ownTurn);
    const bool transposed = ownTurn ? bool(own & QImageIOHandler::TransformationRotate90) : orientation >= 5;
    const QSize room = transposed ? box.transposed() : box;
    if (full.width() > room.width() || full.height() > room.height())
        reader.setScaledSize(full.scaled(room, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return fail(QStringLiteral("the picture could not be decoded (%1)").arg(reader.errorString()));
    if ((device.ReadPastEnd() || messages.Say("premature end")) && format == "jpeg")
        return fail(QStringLiteral("the picture ends before its data does"));
    if (!ownTurn)
        image = Oriented(image, orientation);
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
}

// True when the picture fills most of the box: nothing larger is worth a fetch.
bool Covers(const QImage &image, QSize box)
{
    return !image.isNull() && (image.width() * 4 >= box.width() * 3 || image.height() * 4 >= box.height() * 3);
}

QString Fact(const std::string &text)
{
    QString fact = readableText(QString::fromStdString(text).trimmed());
    if (fact.size() > kMaxFactLength)
        fact = fact.left(kMaxFactLength - 1) + QChar(0x2026);
    return fact;
}

QString Printed(const Exiv2::ExifData &exif, Exiv2::ExifData::const_iterator it)
{
    return it == exif.end() ? QString() : Fact(it->print(&exif));
}

PhotoFacts FactsOf(const Exiv2::ExifData &exif)
{
    PhotoFacts facts;
    if (exif.empty())
        return facts;
    const QString make = Printed(exif, Exiv2::make(exif));
    const QString model = Printed(exif, Exiv2::model(exif));
    facts.camera = model.startsWith(make, Qt::CaseInsensitive) ? model : (make + QLatin1Char(' ') + model).trimmed();
    auto lensModel = exif.findKey(Exiv2::ExifKey("Exif.Photo.LensModel"));
    QString lens = Printed(exif, lensModel);
    if (lens.isEmpty())
        lens = Printed(exif, Exiv2::lensName(exif));
    // Maker notes give a bare number or "Unknown" for lenses they do not know.
    bool number = false;
    lens.toInt(&number);
    if (!number && !lens.startsWith(QLatin1Char('(')) &&
        lens.compare(QLatin1String("Unknown"), Qt::CaseInsensitive) != 0)
        facts.lens = lens;
    QStringList exposure;
    if (const QString time = Printed(exif, Exiv2::exposureTime(exif)); !time.isEmpty())
        exposure << time;
    if (const QString f = Printed(exif, Exiv2::fNumber(exif)); !f.isEmpty())
        exposure << f;
    if (const QString iso = Printed(exif, Exiv2::isoSpeed(exif)); !iso.isEmpty())
        exposure << QStringLiteral("ISO ") + iso;
    if (const QString focal = Printed(exif, Exiv2::focalLength(exif)); !focal.isEmpty())
        exposure << focal;
    facts.exposure = exposure.join(QStringLiteral(", "));
    auto taken = Exiv2::dateTimeOriginal(exif);
    if (taken != exif.end()) {
        const QDateTime when = QDateTime::fromString(QString::fromStdString(taken->toString()).trimmed(),
                                                     QStringLiteral("yyyy:MM:dd HH:mm:ss"));
        if (when.isValid())
            facts.captured = DateTimeToStr(when, ProcessFormatSettings());
    }
    auto turn = Exiv2::orientation(exif);
    if (turn != exif.end() && turn->count() > 0) {
        const long value = turn->toLong();
        if (value >= 1 && value <= 8)
            facts.orientation = int(value);
    }
    return facts;
}

// How far into a TIFF-based file (most raw files) the previews it names
// reach, for those beyond the bytes read: the end of the largest of a
// sensible size, or else of the smallest. 0 when none lies further in.
qint64 NeededBytes(const Exiv2::ExifData &exif, qint64 have, qint64 fileSize, const PreviewLimits &limits)
{
    static const std::pair<const char *, const char *> pairs[] = {
        {"JPEGInterchangeFormat", "JPEGInterchangeFormatLength"},
        {"StripOffsets", "StripByteCounts"},
        {"PreviewImageStart", "PreviewImageLength"},
        {"PreviewOffset", "PreviewLength"},
        {"ThumbnailOffset", "ThumbnailLength"},
    };
    qint64 bestSensible = 0, bestSensibleEnd = 0, smallest = 0, smallestEnd = 0;
    for (const Exiv2::Exifdatum &datum : exif) {
        for (const auto &[offsetTag, lengthTag] : pairs) {
            if (datum.tagName() != offsetTag)
                continue;
            // A group without the length tag, or one whose strips hold the
            // photo itself (strips are a preview only in a reduced-resolution
            // image, as exiv2's preview reader judges too), names no preview.
            Exiv2::ExifData::const_iterator length = exif.end();
            try {
                length = exif.findKey(
                    Exiv2::ExifKey(datum.familyName() + std::string(".") + datum.groupName() + "." + lengthTag));
                if (length != exif.end() && datum.tagName() == "StripOffsets" && datum.groupName() != "Thumbnail" &&
                    datum.groupName() != "Image2") {
                    const auto kind = exif.findKey(Exiv2::ExifKey("Exif." + datum.groupName() + ".NewSubfileType"));
                    if (kind == exif.end() || kind->count() == 0 || kind->toLong() != 1)
                        length = exif.end();
                }
            } catch (const Exiv2::AnyError &) {
                length = exif.end();
            }
            if (length == exif.end())
                continue;
            const long count = std::min(datum.count(), length->count());
            for (long i = 0; i < count && i < 64; ++i) {
                const qint64 offset = datum.toLong(i);
                const qint64 bytes = length->toLong(i);
                const qint64 end = offset + bytes;
                if (offset <= 0 || bytes < 1024 || end <= have || end > fileSize || end > limits.embeddedBytes)
                    continue;
                if (bytes <= kPreferredPreviewBytes && bytes > bestSensible) {
                    bestSensible = bytes;
                    bestSensibleEnd = end;
                }
                if (smallest == 0 || bytes < smallest) {
                    smallest = bytes;
                    smallestEnd = end;
                }
            }
        }
    }
    return bestSensible ? bestSensibleEnd : smallestEnd;
}

}  // namespace

QString PreviewRequest::Key() const
{
    return deviceId + QLatin1Char('\n') + objectId + QLatin1Char('\n') + QString::number(size) + QLatin1Char('\n') +
           dateText;
}

FileKind KindOf(const QString &typeName, const QString &name)
{
    QString type = typeName;
    if (type != QLatin1String("IMAGE") && type != QLatin1String("VIDEO") && type != QLatin1String("AUDIO"))
        type = ContentTypeName(ContentTypeForFileName(name));
    if (type == QLatin1String("IMAGE"))
        return FileKind::Picture;
    if (type == QLatin1String("VIDEO"))
        return FileKind::Video;
    if (type == QLatin1String("AUDIO"))
        return FileKind::Sound;
    return FileKind::Other;
}

QImage DecodePicture(const QByteArray &bytes, QSize box, int orientation, const PreviewLimits &limits, QString *trouble)
{
    if (bytes.isEmpty()) {
        if (trouble)
            *trouble = QStringLiteral("no bytes");
        return QImage();
    }
    MemorySource source(bytes);
    SourceDevice device(source);
    return DecodeFrom(device, box, orientation, limits, trouble);
}

EmbeddedPreview ReadEmbeddedPreview(const QByteArray &bytes, qint64 fileSize, QSize box, const PreviewLimits &limits)
{
    EmbeddedPreview found;
    // Held for every call into exiv2, the image's end included; let go
    // while a preview is decoded.
    auto exiv2 = Exiv2Access();
    try {
        Exiv2::Image::AutoPtr image =
            Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(bytes.constData()), long(bytes.size()));
        if (!image.get()) {
            found.trouble = QStringLiteral("no metadata reader knows the file");
            return found;
        }
        image->readMetadata();
        const Exiv2::ExifData &exif = image->exifData();
        found.facts = FactsOf(exif);
        Exiv2::PreviewManager manager(*image);
        const Exiv2::PreviewPropertiesList list = manager.getPreviewProperties();  // smallest first
        const QSize room = found.facts.orientation >= 5 ? box.transposed() : box;
        auto covers = [room](const Exiv2::PreviewProperties &p) {
            return qint64(p.width_) >= room.width() || qint64(p.height_) >= room.height();
        };
        // The smallest that covers the box, then the others from the largest down.
        std::vector<const Exiv2::PreviewProperties *> order;
        for (const auto &p : list)
            if (covers(p))
                order.push_back(&p);
        for (auto it = list.rbegin(); it != list.rend(); ++it)
            if (!covers(*it))
                order.push_back(&*it);
        QStringList why;
        for (const Exiv2::PreviewProperties *p : order) {
            if (order.size() > 3 && p == order[3])
                break;
            const Exiv2::PreviewImage preview = manager.getPreviewImage(*p);
            const QByteArray data =
                QByteArray::fromRawData(reinterpret_cast<const char *>(preview.pData()), qsizetype(preview.size()));
            QString trouble;
            exiv2.unlock();
            QImage picture = DecodePicture(data, box, found.facts.orientation, limits, &trouble);
            exiv2.lock();
            if (!picture.isNull()) {
                found.image = picture;
                break;
            }
            why << trouble;
        }
        if (!Covers(found.image, box) && image->mimeType() != "image/jpeg")
            found.neededBytes = NeededBytes(exif, bytes.size(), fileSize, limits);
        if (found.image.isNull())
            found.trouble = why.isEmpty() ? QStringLiteral("no embedded preview")
                                          : QStringLiteral("embedded preview: ") + why.join(QStringLiteral("; "));
    } catch (const Exiv2::AnyError &e) {
        found.trouble = QStringLiteral("metadata: ") + Fact(e.what());
    } catch (const std::exception &e) {
        found.trouble = QStringLiteral("metadata: ") + Fact(e.what());
    }
    return found;
}

PreviewResult LoadPreview(const PreviewRequest &request, const std::function<bool()> &cancelled,
                          const std::function<void(const PreviewResult &)> &interim, const PreviewLimits &limits)
{
    PreviewResult result;
    if (KindOf(request.typeName, request.name) != FileKind::Picture)
        return result;
    const QSize box = request.box.isValid() && !request.box.isEmpty() ? request.box : QSize(512, 512);
    QStringList troubles;
    auto fail = [&](const QString &why) {
        troubles << why;
        result.trouble = troubles.join(QStringLiteral("; "));
        return result;
    };
    auto stopped = [&] { return cancelled && cancelled(); };
    if (!request.content)
        return fail(QStringLiteral("no device is open"));
    std::shared_ptr<IPortableDeviceResources> resources;
    HRESULT hr = request.content->Transfer(resources);
    if (FAILED(hr) || !resources)
        return fail(QStringLiteral("the device gives no data (%1)").arg(DeviceFailureReason(hr)));
    auto offer = [&](const QImage &image, PreviewSource source) {
        if (!image.isNull() && (result.image.isNull() || qint64(image.width()) * image.height() >
                                                             qint64(result.image.width()) * result.image.height())) {
            result.image = image;
            result.source = source;
        }
    };

    // The device's own thumbnail: one small request, no decoding of the file.
    QByteArray thumbnail;
    {
        std::shared_ptr<IStream> stream;
        hr = resources->GetStream(request.objectId, WPD_RESOURCE_THUMBNAIL, STGM_READ, stream);
        if (SUCCEEDED(hr) && stream) {
            DeviceSource source(stream, kMaxThumbnailBytes, cancelled);
            if (!source.Prefix(kMaxThumbnailBytes, thumbnail) && source.Cancelled()) {
                result.cancelled = true;
                return result;
            }
            QString trouble;
            offer(DecodePicture(thumbnail, box, 1, limits, &trouble), PreviewSource::DeviceThumbnail);
            if (result.image.isNull())
                troubles << QStringLiteral("device thumbnail: ") + trouble;
            else if (interim)
                interim(result);
        }
    }
    if (stopped()) {
        result.cancelled = true;
        return result;
    }

    // The head of the file: its metadata, and the previews inside it.
    if (request.size <= 0)
        return fail(QStringLiteral("the file is empty"));
    std::shared_ptr<IStream> stream;
    hr = resources->GetStream(request.objectId, WPD_RESOURCE_DEFAULT, STGM_READ, stream);
    if (FAILED(hr) || !stream)
        return fail(QStringLiteral("the file cannot be read (%1)").arg(DeviceFailureReason(hr)));
    DeviceSource source(stream, request.size, cancelled);
    auto readFailure = [&]() -> PreviewResult {
        if (source.Cancelled()) {
            result.cancelled = true;
            return result;
        }
        return fail(QStringLiteral("reading the file failed (%1)").arg(DeviceFailureReason(source.Error())));
    };
    QByteArray head;
    if (!source.Prefix(limits.headBytes, head))
        return readFailure();
    EmbeddedPreview embedded = ReadEmbeddedPreview(head, request.size, box, limits);
    // A JPEG whose metadata runs past the head, or a raw file whose
    // previews lie further in: read on to where they end, once.
    qint64 further = embedded.neededBytes;
    if (!further && embedded.facts.IsEmpty() && !embedded.trouble.isEmpty() && head.size() < request.size)
        further = std::min<qint64>(request.size, 8 * limits.headBytes);
    if (further > head.size()) {
        QByteArray more;
        if (!source.Prefix(further, more))
            return readFailure();
        EmbeddedPreview again = ReadEmbeddedPreview(more, request.size, box, limits);
        if (!again.image.isNull() || !again.facts.IsEmpty())
            embedded = again;
    }
    result.facts = embedded.facts;
    if (result.source == PreviewSource::DeviceThumbnail && result.facts.orientation != 1)
        result.image = DecodePicture(thumbnail, box, result.facts.orientation, limits);
    offer(embedded.image, PreviewSource::EmbeddedPreview);
    if (Covers(result.image, box))
        return result;
    if (embedded.image.isNull())
        troubles << embedded.trouble;

    // The file itself, decoded no larger than the box.
    QBuffer headDevice(&head);
    headDevice.open(QIODevice::ReadOnly);
    const QByteArray format = QImageReader::imageFormat(&headDevice);
    const bool decodable = IsDecodedFormat(format);
    if (!decodable) {
        if (result.image.isNull())
            troubles << QStringLiteral("not a picture format that can be decoded here");
    } else if (request.size > limits.decodeBytes) {
        if (result.image.isNull())
            troubles << QStringLiteral("too large to decode (%1 bytes)").arg(request.size);
    } else {
        if (!result.image.isNull() && interim)
            interim(result);
        SourceDevice device(source);
        QString trouble;
        const QImage decoded = DecodeFrom(device, box, result.facts.orientation, limits, &trouble);
        if (source.Cancelled()) {
            result.cancelled = true;
            return result;
        }
        if (source.EndedEarly())
            trouble = QStringLiteral("the device gave fewer bytes than the file's size");
        else if (FAILED(source.Error()))
            trouble = QStringLiteral("reading the file failed (%1)").arg(DeviceFailureReason(source.Error()));
        if (trouble.isEmpty())
            offer(decoded, PreviewSource::ScaledDecode);
        if (result.image.isNull())
            troubles << trouble;
    }
    if (result.image.isNull())
        result.trouble = troubles.join(QStringLiteral("; "));
    return result;
}
