#pragma once

// The few libgphoto2 calls the program makes, behind an interface of its own
// so that everything above them can be tested without a camera. Results are
// libgphoto2's: 0 or more success, negative failure.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

struct GPhotoCamera
{
    QString model;  // as the library knows it
    QString port;   // "usb:002,005"
};

struct GPhotoStorage
{
    QString baseDir;  // "/store_00010001"
    QString label;
    QString description;
};

struct GPhotoFileInfo
{
    bool hasSize = false;
    std::uint64_t size = 0;
    bool hasTime = false;
    std::int64_t mtime = 0;  // seconds since 1970
    // The device gave its clock without a zone: mtime holds those fields
    // counted as UTC, and they are shown as they are in every zone.
    bool wallClock = false;
};

// One child of a folder.
struct GPhotoEntry
{
    QString name;
    bool isFolder = false;
    bool hasInfo = false;  // info holds the file's size and date
    GPhotoFileInfo info;
};

enum class GPhotoKind { Camera, Phone, MediaPlayer };

// An opened camera. Not thread-safe by itself; implementations serialise.
class GPhotoConnection
{
public:
    virtual ~GPhotoConnection() = default;
    virtual int Storages(std::vector<GPhotoStorage> &storages) = 0;
    virtual int ListFolders(const QString &folder, QStringList &names) = 0;
    virtual int ListFiles(const QString &folder, QStringList &names) = 0;
    // A folder's files, then its folders; with each file's size and date
    // when the listing brings them (the camera driver's does not: FileInfo
    // asks for each).
    virtual int List(const QString &folder, std::vector<GPhotoEntry> &entries)
    {
        QStringList folders, files;
        int result = ListFolders(folder, folders);
        if (result >= 0)
            result = ListFiles(folder, files);
        if (result < 0)
            return result;
        entries.clear();
        for (const QString &name : std::as_const(files))
            entries.push_back({name, false, false, {}});
        for (const QString &name : std::as_const(folders))
            entries.push_back({name, true, false, {}});
        return result;
    }
    virtual GPhotoKind Kind() const { return GPhotoKind::Camera; }
    virtual int FileInfo(const QString &folder, const QString &name, GPhotoFileInfo &info) = 0;
    // Reads up to size bytes at offset; size becomes the bytes read.
    virtual int Read(const QString &folder, const QString &name, std::uint64_t offset, char *buffer,
                     std::uint64_t &size) = 0;
    virtual int Delete(const QString &folder, const QString &name) = 0;
    // The camera's own small picture of a file (libgphoto2's preview file
    // type), whole. Not every camera or file has one.
    virtual int Thumbnail(const QString &, const QString &, QByteArray &) { return kNotSupported; }
    static constexpr int kNotSupported = -6;  // GP_ERROR_NOT_SUPPORTED
    // A configuration value as text ("manufacturer", "serialnumber", ...).
    virtual int ConfigText(const char *key, QString &value) = 0;
    // The library's own words for the last call that failed ("PTP General
    // Error"); empty when it gave none.
    virtual QString LastError() const { return QString(); }
};

class GPhotoApi
{
public:
    virtual ~GPhotoApi() = default;
    virtual int Detect(std::vector<GPhotoCamera> &cameras) = 0;
    virtual int Open(const GPhotoCamera &camera, std::unique_ptr<GPhotoConnection> &connection) = 0;
    // The library's own words for the last Detect or Open that failed.
    virtual QString LastError() const { return QString(); }
};

// libgphoto2 itself.
std::shared_ptr<GPhotoApi> CreateLibGPhotoApi();
