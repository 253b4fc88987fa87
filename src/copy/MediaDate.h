#pragma once

// When a photo or video was taken, as the file itself says.
//
// Photos: EXIF DateTimeOriginal with SubSecTimeOriginal, then XMP
// exif:DateTimeOriginal, EXIF CreateDate (DateTimeDigitized), XMP
// xmp:CreateDate, EXIF IFD0 DateTime, XMP photoshop:DateCreated and IPTC's
// date and time, read by exiv2 from the head of the file (JPEG, TIFF-based
// raw formats, ORF, RW2, RAF, MRW, CRW, PNG, WebP, HEIF/AVIF/CR3), or from
// an XMP side file. The camera's wall-clock time is taken as it stands, with
// no time-zone conversion, in every zone (WallClockTime).
// Videos (MOV, MP4, M4V, 3GP and their kin): the creation time of the
// QuickTime movie header ('mvhd'), seconds since 1904 in UTC, shown in
// local time. Our own reader walks the boxes; exiv2 0.27 misreads version 1
// headers and wants the whole movie box in one buffer.
//
// Only the parts of a file where these live are read: the head, and for a
// movie whose header follows its data, the boxes at the tail. Reads go
// through the device stream in whole 131072-byte chunks, each at most once,
// and never more than kMaxChunks of them, whatever a file claims: a
// truncated or hostile file gives an answer, never a crash or a huge
// allocation.

#include "device/DeviceConnection.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <map>

// Parts of one object's data, read in whole chunks at chunk-aligned offsets.
class ChunkReader
{
public:
    static constexpr int kMaxChunks = 8;  // 1 MiB

    // size: the object's size as the catalogue knows it.
    ChunkReader(IStream &stream, qint64 size, int maxChunks = kMaxChunks);

    // The bytes [offset, offset + length). False when they lie past the end
    // of the data, need more chunks than allowed, or a read failed.
    bool Read(qint64 offset, qint64 length, QByteArray &out);

    qint64 Size() const { return size_; }
    // The first failed device call's code, S_OK when none failed.
    HRESULT Failure() const { return failure_; }
    // Bytes fetched from the device.
    qint64 BytesFetched() const { return fetched_; }
    int ChunksFetched() const { return int(chunks_.size()); }

private:
    const QByteArray *Chunk(qint64 index);

    IStream &stream_;
    qint64 size_;
    int maxChunks_;
    std::map<qint64, QByteArray> chunks_;
    qint64 position_ = 0;
    qint64 fetched_ = 0;
    HRESULT failure_ = S_OK;
};

struct TakenDate
{
    enum class Status {
        Found,       // when holds the date, source says where it came from
        None,        // the file holds no date of its taking
        Unreadable,  // a date is there but is no date, or the data could not be read
        OutOfRange,  // a date is there but outside 1970 to 2100
    };
    Status status = Status::None;
    QDateTime when;  // local time
    QString source;  // "EXIF DateTimeOriginal", "XMP xmp:CreateDate", "QuickTime movie header"
    QString reason;  // why there is no date, for the log: "no date in its metadata"
};

// The date a photo or video was taken, from its data.
TakenDate ReadTakenDate(ChunkReader &reader);
// The same over bytes held in memory.
TakenDate ReadTakenDate(const QByteArray &data);

// The date-time a text of an EXIF date ("2016:08:13 10:22:33", subSeconds
// "12" giving 120 ms) or of an XMP date ("2016-08-13T10:22:33.5+02:00", the
// offset ignored) names; invalid when it names none.
QDateTime ExifDateTime(const QString &text, const QString &subSeconds = QString());
QDateTime XmpDateTime(const QString &text);

// A camera's clock time is a label, the same in every zone: the local
// date-time of its fields, or, for a time the local clock skipped (the hour
// of a spring-forward change), the fields held in a UTC date-time, so that
// its date folder is still its own day.
QDateTime WallClockTime(QDate date, QTime time);
// A moment to stamp a file with: the date-time itself, or for such a
// skipped time the first local time after it.
QDateTime InstantOf(const QDateTime &when);

// The black line of a copy into date folders that goes by the date taken:
// "Taken: " + the date as the catalogue shows dates + " (EXIF DateTimeOriginal)";
// or, when that date is not known, why the file's date is used instead:
// "No date taken from IMG_0001.JPG: no date in its metadata; the file's date is used."
QString TakenDateLine(const QString &FileName, const TakenDate &taken);

// Opens an object's stream and reads its date of taking.
class TakenDateReader
{
public:
    explicit TakenDateReader(DeviceHandles &handles) : handles_(handles) {}
    TakenDate Read(const QString &ObjectID, qint64 Size);

private:
    DeviceHandles &handles_;
};
