#pragma once

// The PTP and MTP data sets the program reads from phones, as plain
// functions over bytes: no device, no library. PtpConnection.cpp sends the
// requests; this file only packs and unpacks.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace ptp {

// Operation codes.
enum : std::uint16_t {
    GetDeviceInfo = 0x1001,
    OpenSession = 0x1002,
    CloseSession = 0x1003,
    GetStorageIDs = 0x1004,
    GetStorageInfo = 0x1005,
    GetObjectHandles = 0x1007,
    GetObjectInfo = 0x1008,
    GetObject = 0x1009,
    GetThumb = 0x100A,
    DeleteObject = 0x100B,
    GetDevicePropDesc = 0x1014,
    GetDevicePropValue = 0x1015,
    GetPartialObject = 0x101B,
    AndroidGetPartialObject64 = 0x95C1,
    MtpGetObjPropValue = 0x9803,
    MtpGetObjPropList = 0x9805,
};

// Response codes.
enum : std::uint16_t {
    RcOK = 0x2001,
    RcGeneralError = 0x2002,
    RcSessionNotOpen = 0x2003,
    RcOperationNotSupported = 0x2005,
    RcParameterNotSupported = 0x2006,
    RcInvalidStorageId = 0x2008,
    RcInvalidObjectHandle = 0x2009,
    RcStoreNotAvailable = 0x2013,
    RcDeviceBusy = 0x2019,
    RcAccessDenied = 0x200F,
    RcInvalidParameter = 0x201D,
    RcSessionAlreadyOpened = 0x201E,
};

// Container types of PTP over USB.
enum : std::uint16_t { CommandBlock = 1, DataBlock = 2, ResponseBlock = 3 };

inline constexpr std::uint16_t FormatAssociation = 0x3001;  // a folder
inline constexpr std::uint16_t PropBatteryLevel = 0x5001;
inline constexpr std::uint16_t PropObjectSize = 0xDC04;  // MTP object property, 64 bits
inline constexpr std::uint32_t VendorMicrosoft = 6;      // MTP devices

// A command container: length, type, code, transaction, parameters.
QByteArray PackCommand(std::uint16_t code, std::uint32_t transaction, const std::vector<std::uint32_t> &params);

struct ContainerHeader
{
    std::uint32_t length = 0;
    std::uint16_t type = 0;
    std::uint16_t code = 0;
    std::uint32_t transaction = 0;
};
// The 12 bytes every container starts with; nullopt when fewer arrived.
std::optional<ContainerHeader> ParseHeader(const char *data, std::size_t size);

// A response container's parameters (up to five).
std::vector<std::uint32_t> ResponseParams(const char *data, std::size_t size);

struct DeviceInfo
{
    std::uint32_t vendorExtensionId = 0;
    QString vendorExtensionDesc;
    std::vector<std::uint16_t> operations;
    std::vector<std::uint16_t> deviceProperties;
    QString manufacturer, model, deviceVersion, serialNumber;
    bool Supports(std::uint16_t operation) const;
    bool HasProperty(std::uint16_t property) const;
};
std::optional<DeviceInfo> ParseDeviceInfo(const QByteArray &data);

struct StorageInfo
{
    QString description, label;
};
std::optional<StorageInfo> ParseStorageInfo(const QByteArray &data);

// What the program needs of one object.
struct ObjectEntry
{
    std::uint32_t handle = 0;
    std::uint32_t storage = 0;
    std::uint32_t parent = 0;
    std::uint16_t format = 0;
    std::uint64_t size = 0;
    QString name;
    bool hasTime = false;
    std::int64_t mtime = 0;  // seconds since 1970
    bool wallClock = false;  // mtime is the device's clock without a zone (see DeviceTime)
    bool isFolder() const { return format == FormatAssociation; }
};
std::optional<ObjectEntry> ParseObjectInfo(std::uint32_t handle, const QByteArray &data);

// An MTP object property list: the objects it describes, in the order they
// first appear. An object whose name, format or (for a file) size the list
// does not give is left out: the caller asks for it on its own. nullopt
// when the list is malformed.
std::optional<std::vector<ObjectEntry>> ParseObjectPropList(const QByteArray &data);

std::vector<std::uint32_t> ParseUint32Array(const QByteArray &data, bool *ok);

// The battery level in percent from the description of property 0x5001
// (an 8-bit value, within a range or one of a list); nullopt for any
// other shape.
std::optional<int> ParseBatteryPercent(const QByteArray &description);

// A date a device gives. With a zone ("Z" or an offset) it is a moment:
// seconds since 1970. Without one it is what the device's clock showed, a
// label that reads the same in every zone (also inside a summer-time jump
// of the computer's zone): its fields counted as if they were UTC.
struct DeviceTime
{
    std::int64_t seconds = 0;
    bool wallClock = false;
};
// A PTP date-time text, "YYYYMMDDThhmmss[.s][Z|+hhmm|-hhmm|+hh:mm]".
std::optional<DeviceTime> ParseDateTime(const QString &text);

// The words for a response code ("PTP Access Denied").
QString ResponseText(std::uint16_t code);

}  // namespace ptp
