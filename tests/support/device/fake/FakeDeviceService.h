#pragma once

// A device service built in code, for tests and benchmarks: devices with
// their properties and object trees, and a switch for every failure the
// program has to survive.

#include "device/PortableDevice.h"

#include <QDateTime>

#include <functional>

#include <list>
#include <map>
#include <mutex>
#include <set>

struct FakeObject
{
    QString id;
    QString parentId;
    QString originalFileName;  // WPD_OBJECT_ORIGINAL_FILE_NAME
    QString name;              // WPD_OBJECT_NAME
    QString contentType;       // GUID text in braces
    QString dateCreated;       // "YYYY/MM/DD:HH:MM:SS.mmm"
    std::uint64_t size = 0;
    QByteArray data;
    std::vector<QString> children;

    // Failures of this object.
    std::set<PROPERTYKEY> missing;   // not reported by GetValues
    HRESULT supportedCode = S_OK;    // GetSupportedProperties answers this
    HRESULT getValuesCode = S_OK;    // GetValues answers this
    HRESULT enumObjectsCode = S_OK;  // EnumObjects of its children
    int nextFailsAfter = -1;         // Next fails after this many children
    HRESULT nextFailCode = E_FAIL;
    HRESULT getStreamCode = S_OK;
    std::int64_t readFailsAt = -1;  // Read fails once this offset is reached
    HRESULT readFailCode = E_FAIL;
    std::int64_t readEndsAt = -1;  // Read reports the end early (short data)
    std::uint64_t extraBytes = 0;  // generated data past the declared size (an object longer than it says)
    int readDelayMs = 0;           // every Read waits this long (a slow device)
    // Called before every Read with the offset, on the reading thread and
    // outside the service's lock: where a test holds a transfer.
    std::function<void(std::uint64_t offset)> beforeRead;
    bool zeroData = false;  // a sized file's generated data is all zero
    HRESULT deleteCode = S_OK;
    QByteArray thumbnail;  // the device's own thumbnail; none when empty
};

struct FakeDevice
{
    QString deviceId;
    // What the manager reports without opening.
    QString manufacturer;
    QString description;
    QString friendlyName;
    HRESULT managerTextCode = S_OK;
    // What GetValues("DEVICE") reports.
    std::uint32_t type = WPD_DEVICE_TYPE_CAMERA;
    QString model;
    std::uint32_t powerSource = WPD_POWER_SOURCE_BATTERY;
    std::uint32_t powerLevel = 100;
    QString serialNumber;
    std::set<PROPERTYKEY> missingDeviceProperties;

    // Failures of the device.
    HRESULT openCode = S_OK;
    HRESULT contentCode = S_OK;
    HRESULT propertiesCode = S_OK;
    HRESULT transferCode = S_OK;

    std::map<QString, FakeObject> objects;  // "DEVICE" and everything below it

    FakeObject &Object(const QString &id) { return objects.at(id); }
    // A storage below the device object, its identifier "/" + token.
    FakeObject &AddStorage(const QString &name, const QString &token);
    FakeObject &AddFolder(const QString &parentId, const QString &name);
    FakeObject &AddFile(const QString &parentId, const QString &name, const QString &contentTypeName,
                        const QString &dateCreated, const QByteArray &data);
    // A file whose size is given but whose data is generated on reading.
    FakeObject &AddSizedFile(const QString &parentId, const QString &name, const QString &contentTypeName,
                             const QString &dateCreated, std::uint64_t size);
    // Drops an object and everything below it, as if removed on the device.
    void RemoveObject(const QString &id);

private:
    FakeObject &AddChild(const QString &parentId, const QString &id, const QString &name, const QString &contentType);
};

class FakeDeviceService : public DeviceService
{
public:
    FakeDeviceService();

    FakeDevice &AddDevice(const QString &deviceId, const QString &friendlyName,
                          const QString &manufacturer = QStringLiteral("Fake Maker"),
                          const QString &description = QStringLiteral("Fake Camera"));
    FakeDevice &Device(const QString &deviceId);
    void RemoveDevice(const QString &deviceId);

    std::shared_ptr<IPortableDeviceManager> CreateManager() override;
    std::shared_ptr<IPortableDevice> CreateDevice() override;
    std::shared_ptr<PortableDeviceValues> CreateValues() override;

    // Service-wide failures.
    bool managerCreateFails = false;
    bool deviceCreateFails = false;
    bool valuesCreateFails = false;
    bool createThrows = false;  // creation of a manager or device throws
    HRESULT getDevicesCode = S_OK;

    // Called by every Read of a data stream, with the object and the offset
    // reached, before the read is served; may change the service (unplug
    // the device, for one).
    std::function<void(const QString &objectId, std::uint64_t offset)> onRead;
    // Called on the caller's thread when an object's properties are read,
    // before the lock is taken: tests hold a walk at an object with it.
    std::function<void(const QString &objectId)> onGetValues;

    // What happened.
    int managersCreated = 0;
    int devicesCreated = 0;
    int thumbnailsRead = 0;
    int streamsOpened = 0;
    std::vector<QString> deletedIds;

    // Every call of the fake holds this lock, as a real backend serialises
    // its device calls.
    std::recursive_mutex mutex;
    std::list<FakeDevice> devices;  // in the order the manager lists them
};

// Byte i of a generated file's data.
inline char FakeDataByte(std::uint64_t offset)
{
    return char((offset * 131 + 7) & 0xFF);
}
