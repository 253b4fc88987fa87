#pragma once

// The shape every real backend fills in: a list of devices and, for an open
// device, a tree of objects with properties, children, data and deletion.
// SessionDevice.cpp turns it into the portable-device interfaces.

#include "device/PortableDevice.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// What the device list shows of a device before it is opened.
struct DeviceEntry
{
    QString deviceId;
    QString manufacturer;
    QString description;
    QString friendlyName;
};

// One object of an open device.
struct ObjectInfo
{
    QString name;              // WPD_OBJECT_NAME
    QString originalFileName;  // WPD_OBJECT_ORIGINAL_FILE_NAME; empty for storages
    QString contentType;       // GUID text
    QString dateCreated;       // "YYYY/MM/DD:HH:MM:SS.mmm"
    std::uint64_t size = 0;
    // False when the device does not tell the file's size: WPD_OBJECT_SIZE
    // is then left out rather than guessed.
    bool sizeKnown = true;
    bool isStorage = false;
    bool isFolder = false;
};

class DeviceSession
{
public:
    virtual ~DeviceSession() = default;
    // The values of the object "DEVICE": type, maker, model, power, serial.
    virtual HRESULT DeviceValues(PortableDeviceValues &values) = 0;
    virtual HRESULT Children(const QString &parentId, QStringList &childIds) = 0;
    virtual HRESULT Info(const QString &objectId, ObjectInfo &info) = 0;
    // Whether the object is a storage; fails as Info does. A walk asks this
    // of every object before its values.
    virtual HRESULT IsStorage(const QString &objectId, bool &storage)
    {
        ObjectInfo info;
        const HRESULT hr = Info(objectId, info);
        storage = info.isStorage;
        return hr;
    }
    virtual HRESULT OpenStream(const QString &objectId, std::shared_ptr<IStream> &stream) = 0;
    // The device's own thumbnail of the object; most backends keep none.
    virtual HRESULT OpenThumbnail(const QString &, std::shared_ptr<IStream> &) { return E_NOT_SUPPORTED; }
    virtual HRESULT Delete(const QString &objectId) = 0;
};

class DeviceBackend
{
public:
    virtual ~DeviceBackend() = default;
    // True when the identifier belongs to this backend.
    virtual bool Owns(const QString &deviceId) const = 0;
    virtual HRESULT Enumerate(std::vector<DeviceEntry> &devices) = 0;
    // The devices whose display name is exactly this one; a backend that can
    // tell names apart without opening or reading every device does so.
    virtual HRESULT EnumerateNamed(const QString &name, std::vector<DeviceEntry> &devices);
    virtual HRESULT Open(const QString &deviceId, std::shared_ptr<DeviceSession> &session) = 0;
};

// A service over backends, all of them listed at once.
std::unique_ptr<DeviceService> CreateBackendService(std::vector<std::shared_ptr<DeviceBackend>> backends);

// The content type of a file, from its name's extension.
QString ContentTypeForFileName(const QString &name);

// A date as device dates read: "YYYY/MM/DD:HH:MM:SS.mmm", local time; or,
// for a device clock that came without a zone (its fields counted as UTC),
// those fields as they are.
QString WpdDateText(const QDateTime &when);
QString WpdDateText(std::int64_t secondsSinceEpoch, int milliseconds, bool wallClock = false);

// A stream over bytes held in memory (a thumbnail the device handed over whole).
std::shared_ptr<IStream> MakeMemoryStream(QByteArray bytes);

// A result code for an errno value.
HRESULT HResultFromErrno(int error);
