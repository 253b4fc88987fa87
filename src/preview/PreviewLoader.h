#pragma once

// Finding a picture of one device file, cheapest source first: the device's
// own thumbnail, a preview embedded in the file (EXIF thumbnails, the JPEG
// inside a raw file), a scaled decode of the file itself; otherwise none, and
// the window shows the icon of the file's kind. Runs on the preview worker;
// every step reads only the bytes it needs and gives up at once when told.

#include "device/PortableDevice.h"

#include <QImage>
#include <QMetaType>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

// What the catalogue knows of the selected file, and where to read it.
struct PreviewRequest
{
    QString deviceId;
    QString objectId;
    QString name;      // the file's name as the catalogue keeps it
    QString typeName;  // the catalogue's Type: IMAGE, VIDEO, AUDIO, ...
    qint64 size = -1;  // bytes
    QString dateText;  // the catalogue's Date cell
    QSize box;         // the picture's room, in pixels: larger pictures are scaled into it
    std::shared_ptr<IPortableDeviceContent> content;

    // The same file again: same device, object, size and date.
    QString Key() const;
};

// What a photo's metadata says, each empty when it says nothing.
struct PhotoFacts
{
    QString camera;  // maker and model
    QString lens;
    QString exposure;     // "1/250 s, F8, ISO 100, 35.0 mm"
    QString captured;     // the capture date and time, in the program's date format
    int orientation = 1;  // EXIF orientation, 1 to 8
    bool IsEmpty() const { return camera.isEmpty() && lens.isEmpty() && exposure.isEmpty() && captured.isEmpty(); }
};

enum class PreviewSource { None, DeviceThumbnail, EmbeddedPreview, ScaledDecode };

struct PreviewResult
{
    QImage image;  // null: no picture; the kind's icon stands in
    PreviewSource source = PreviewSource::None;
    PhotoFacts facts;
    QString trouble;  // why a picture could not be had, for one debug line
    bool cancelled = false;
    QSize box;  // the room it was made for
    qint64 Cost() const { return image.sizeInBytes() + 512; }
};
Q_DECLARE_METATYPE(PreviewResult)

// The kinds a catalogue row can show an icon for.
enum class FileKind { Picture, Video, Sound, Other };
FileKind KindOf(const QString &typeName, const QString &name);

// Reading limits, so that hostile or broken files cost little.
struct PreviewLimits
{
    qint64 headBytes = 256 * 1024;      // read first for metadata and embedded previews
    qint64 embeddedBytes = 24ll << 20;  // the furthest an embedded preview is fetched from
    qint64 decodeBytes = 160ll << 20;   // larger files are not decoded themselves
    int allocationMb = 128;             // the most one decoded image may take
};

// Loads the picture for the request. `cancelled` is asked between device
// reads; `interim` hears of a smaller picture while a better one is fetched.
PreviewResult LoadPreview(const PreviewRequest &request, const std::function<bool()> &cancelled,
                          const std::function<void(const PreviewResult &)> &interim = {},
                          const PreviewLimits &limits = PreviewLimits());

// The metadata facts and the best embedded preview in the first bytes of a
// file (its head, or all of it). `neededBytes` becomes how far into the file
// the previews it names reach (0 when they lie within the bytes given).
// Never throws.
struct EmbeddedPreview
{
    PhotoFacts facts;
    QImage image;
    qint64 neededBytes = 0;
    QString trouble;
};
EmbeddedPreview ReadEmbeddedPreview(const QByteArray &bytes, qint64 fileSize, QSize box, const PreviewLimits &limits);

// Decodes an encoded picture no larger than fits the box (never scaled up),
// turned as `orientation` says (when the picture itself does not say).
QImage DecodePicture(const QByteArray &bytes, QSize box, int orientation, const PreviewLimits &limits,
                     QString *trouble = nullptr);
