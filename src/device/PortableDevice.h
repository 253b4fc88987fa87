#pragma once

// The one boundary between the program and the devices it copies from.
//
// Its shape follows the portable-device model: a manager lists the attached
// devices; a device is opened and gives its content; the content gives the
// properties of its objects, enumerators of their children, data streams and
// deletion. Every object of an open device has a text identifier; the device
// object itself is "DEVICE". Calls answer with signed 32-bit result codes:
// 0 success, 1 (S_FALSE) "no more" from Next and success from GetValues,
// negative values failures.
//
// Nothing above this header sees how a backend reaches its devices.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = HRESULT(0x80004005u);
inline constexpr HRESULT E_INVALIDARG = HRESULT(0x80070057u);
inline constexpr HRESULT E_OUTOFMEMORY = HRESULT(0x8007000Eu);
inline constexpr HRESULT E_ACCESSDENIED = HRESULT(0x80070005u);
inline constexpr HRESULT E_POINTER = HRESULT(0x80004003u);
// A property the value set lacks, or an object that does not exist.
inline constexpr HRESULT E_NOT_FOUND = HRESULT(0x80070490u);
// A property that cannot be read in the form asked for.
inline constexpr HRESULT E_TYPE_MISMATCH = HRESULT(0x80020005u);
// The device is held by another program or is busy.
inline constexpr HRESULT E_DEVICE_BUSY = HRESULT(0x800700AAu);
// The device is gone.
inline constexpr HRESULT E_DEVICE_NOT_CONNECTED = HRESULT(0x8007048Fu);
// The folder of a folder device is gone, or the card that held it (a
// device gone all the same, with another remedy).
inline constexpr HRESULT E_FOLDER_GONE = HRESULT(0x80070651u);
inline constexpr HRESULT E_NO_MORE_FILES = HRESULT(0x80070012u);
// The object has no such resource (a file without a device thumbnail).
inline constexpr HRESULT E_NOT_SUPPORTED = HRESULT(0x80070032u);

inline bool SUCCEEDED(HRESULT hr)
{
    return hr >= 0;
}
inline bool FAILED(HRESULT hr)
{
    return hr < 0;
}

// Property keys, by the names the log lines use.
enum PROPERTYKEY : int {
    WPD_OBJECT_ID,
    WPD_OBJECT_NAME,
    WPD_OBJECT_ORIGINAL_FILE_NAME,
    WPD_OBJECT_DATE_CREATED,
    WPD_OBJECT_SIZE,
    WPD_OBJECT_CONTENT_TYPE,
    WPD_DEVICE_TYPE,
    WPD_DEVICE_MANUFACTURER,
    WPD_DEVICE_MODEL,
    WPD_DEVICE_POWER_SOURCE,
    WPD_DEVICE_POWER_LEVEL,
    WPD_DEVICE_SERIAL_NUMBER,
    WPD_DEVICE_FRIENDLY_NAME,
    WPD_RESOURCE_DEFAULT,
    // The small picture a device keeps of an image, when it keeps one
    // (E_NOT_SUPPORTED otherwise). Its stream holds an encoded image.
    WPD_RESOURCE_THUMBNAIL,
};

// Device types reported under WPD_DEVICE_TYPE.
enum : std::uint32_t {
    WPD_DEVICE_TYPE_GENERIC = 0,
    WPD_DEVICE_TYPE_CAMERA = 1,
    WPD_DEVICE_TYPE_MEDIA_PLAYER = 2,
    WPD_DEVICE_TYPE_PHONE = 3,
    WPD_DEVICE_TYPE_VIDEO = 4,
    WPD_DEVICE_TYPE_PERSONAL_INFORMATION_MANAGER = 5,
    WPD_DEVICE_TYPE_AUDIO_RECORDER = 6,
};

// Power sources reported under WPD_DEVICE_POWER_SOURCE.
enum : std::uint32_t { WPD_POWER_SOURCE_BATTERY = 0, WPD_POWER_SOURCE_EXTERNAL = 1 };

inline constexpr std::uint32_t PORTABLE_DEVICE_DELETE_NO_RECURSION = 0;
inline constexpr std::uint32_t STGM_READ = 0;

// A property value: nothing, a text, or an unsigned integer (sizes are 64-bit).
using PROPVARIANT = std::variant<std::monostate, QString, std::uint32_t, std::uint64_t>;

// A set of property values, as GetValues returns it and Open takes it.
class PortableDeviceValues
{
public:
    HRESULT GetStringValue(PROPERTYKEY key, QString &value) const;
    HRESULT GetUnsignedIntegerValue(PROPERTYKEY key, std::uint32_t &value) const;
    // Also reads a value stored as 32-bit.
    HRESULT GetUnsignedLargeIntegerValue(PROPERTYKEY key, std::uint64_t &value) const;
    HRESULT GetValue(PROPERTYKEY key, PROPVARIANT &value) const;
    HRESULT SetStringValue(PROPERTYKEY key, const QString &value);
    HRESULT SetUnsignedIntegerValue(PROPERTYKEY key, std::uint32_t value);
    HRESULT SetUnsignedLargeIntegerValue(PROPERTYKEY key, std::uint64_t value);
    HRESULT SetValue(PROPERTYKEY key, const PROPVARIANT &value);
    std::size_t GetCount() const { return std::size_t(__builtin_popcount(set_)); }
    void Clear()
    {
        values_ = {};
        set_ = 0;
    }

private:
    // One slot per key, so that the values of an object (read for every
    // object of a walk) cost no allocation each.
    static constexpr int kKeyCount = int(WPD_RESOURCE_DEFAULT) + 1;
    static bool Known(PROPERTYKEY key) { return int(key) >= 0 && int(key) < kKeyCount; }
    const PROPVARIANT *Find(PROPERTYKEY key) const
    {
        return Known(key) && (set_ & (1u << int(key))) ? &values_[std::size_t(key)] : nullptr;
    }
    template <typename Value> HRESULT Store(PROPERTYKEY key, const Value &value)
    {
        if (!Known(key))
            return E_INVALIDARG;
        values_[std::size_t(key)] = value;
        set_ |= 1u << int(key);
        return S_OK;
    }
    std::array<PROPVARIANT, kKeyCount> values_{};
    std::uint32_t set_ = 0;
};

// The keys asked for in GetValues.
class PortableDeviceKeyCollection
{
public:
    HRESULT Add(PROPERTYKEY key);
    std::size_t GetCount() const { return keys_.size(); }
    PROPERTYKEY GetAt(std::size_t index) const { return keys_.at(index); }
    bool Contains(PROPERTYKEY key) const;

private:
    std::vector<PROPERTYKEY> keys_;
};

// A list of property values; holds the object identifiers passed to Delete.
class PortableDevicePropVariantCollection
{
public:
    HRESULT Add(const PROPVARIANT &value);
    std::size_t GetCount() const { return values_.size(); }
    const PROPVARIANT &GetAt(std::size_t index) const { return values_.at(index); }

private:
    std::vector<PROPVARIANT> values_;
};

// An object's data.
class IStream
{
public:
    enum SeekOrigin { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };
    virtual ~IStream() = default;
    virtual HRESULT Seek(std::int64_t offset, SeekOrigin origin, std::uint64_t *newPosition) = 0;
    // Reads up to count bytes; 0 bytes read with S_OK marks the end.
    virtual HRESULT Read(void *buffer, std::uint32_t count, std::uint32_t *read) = 0;
    // A stream over a local file may give its open descriptor, so that a
    // copy can stay inside the kernel (copy_file_range); -1 for any other
    // stream. The descriptor stays the stream's: never closed by the caller,
    // never used after the stream is gone. A caller using it reads at
    // explicit offsets and Seeks before going back to Read.
    virtual int LocalFileDescriptor() { return -1; }
    // Whether that local file may have holes (fewer blocks than its size
    // needs), as the stream found when it was opened: a copy looks for them
    // only then. A stream that does not know says true.
    virtual bool LocalFileMayHaveHoles() { return true; }
};

class IEnumPortableDeviceObjectIDs
{
public:
    virtual ~IEnumPortableDeviceObjectIDs() = default;
    // One identifier per call: S_OK with it, S_FALSE when none is left,
    // negative on failure.
    virtual HRESULT Next(QString &objectId) = 0;
};

class IPortableDeviceResources
{
public:
    virtual ~IPortableDeviceResources() = default;
    virtual HRESULT GetStream(const QString &objectId, PROPERTYKEY resource, std::uint32_t mode,
                              std::shared_ptr<IStream> &stream) = 0;
};

class IPortableDeviceProperties
{
public:
    virtual ~IPortableDeviceProperties() = default;
    virtual HRESULT GetSupportedProperties(const QString &objectId,
                                           std::shared_ptr<PortableDeviceKeyCollection> &keys) = 0;
    // With keys, the values of those keys; with none, every value.
    virtual HRESULT GetValues(const QString &objectId, const PortableDeviceKeyCollection *keys,
                              std::shared_ptr<PortableDeviceValues> &values) = 0;
};

class IPortableDeviceContent
{
public:
    virtual ~IPortableDeviceContent() = default;
    virtual HRESULT Properties(std::shared_ptr<IPortableDeviceProperties> &properties) = 0;
    virtual HRESULT EnumObjects(std::uint32_t flags, const QString &parentId,
                                std::shared_ptr<IEnumPortableDeviceObjectIDs> &enumerator) = 0;
    virtual HRESULT Transfer(std::shared_ptr<IPortableDeviceResources> &resources) = 0;
    // Deletes the objects named in ids (text values); results may be null.
    virtual HRESULT Delete(std::uint32_t options, const PortableDevicePropVariantCollection &ids,
                           std::shared_ptr<PortableDevicePropVariantCollection> *results) = 0;
};

class IPortableDevice
{
public:
    virtual ~IPortableDevice() = default;
    // 0 means open; any other code is a failure.
    virtual HRESULT Open(const QString &deviceId, const PortableDeviceValues *clientInformation) = 0;
    virtual HRESULT Content(std::shared_ptr<IPortableDeviceContent> &content) = 0;
};

class IPortableDeviceManager
{
public:
    virtual ~IPortableDeviceManager() = default;
    // The identifiers of the attached devices, in a stable order.
    virtual HRESULT GetDevices(QStringList &deviceIds) = 0;
    virtual HRESULT GetDeviceManufacturer(const QString &deviceId, QString &text) = 0;
    virtual HRESULT GetDeviceDescription(const QString &deviceId, QString &text) = 0;
    virtual HRESULT GetDeviceFriendlyName(const QString &deviceId, QString &text) = 0;
    // The identifiers of the attached devices whose display name is exactly
    // this one (see DeviceDisplayName). A manager may look at fewer devices
    // to find them than GetDevices does; by default it asks them all.
    virtual HRESULT GetDevicesNamed(const QString &name, QStringList &deviceIds);
};

// Creates the service's objects. A creation that cannot be made gives null;
// one that fails unexpectedly throws.
class DeviceService
{
public:
    virtual ~DeviceService() = default;
    virtual std::shared_ptr<IPortableDeviceManager> CreateManager() = 0;
    virtual std::shared_ptr<IPortableDevice> CreateDevice() = 0;
    virtual std::shared_ptr<PortableDeviceValues> CreateValues();
    virtual std::shared_ptr<PortableDevicePropVariantCollection> CreatePropVariantCollection();
};

// Puts a text into a property value the way Delete expects object
// identifiers: through a value set, under WPD_OBJECT_ID.
HRESULT StringToPropVariant(DeviceService &service, const QString &text, PROPVARIANT &value);

// The short name of a content type given as a GUID text in braces
// ("{EF2107D5-A52A-4243-A26B-62D4176D7603}" gives "IMAGE"). Any other text
// comes back unchanged.
QString ContentTypeName(const QString &contentType);

// The GUID text of a content type's short name ("IMAGE" gives
// "{EF2107D5-...}"); empty for an unknown name. Backends use it.
QString ContentTypeGuid(const QString &name);

// What a failure code means, in words a user can act on; empty for codes
// that say nothing more than "failed".
QString DeviceErrorText(HRESULT code);
// True for the codes that mean the device or its card went away (unplugged,
// removed, unmounted).
bool DeviceWentAway(HRESULT code);

// The device library's own words for a failure ("PTP General Error", "Could
// not claim the USB device"). A backend records them on the calling thread as
// it returns the failure's code; they are kept with that code, so a later
// failure with another code never shows them.
void SetDeviceErrorMessage(HRESULT code, const QString &message);
QString DeviceErrorMessage(HRESULT code);
// Forgets them: at the start of every device call, so that a failure without
// words never shows an earlier one's.
inline void ClearDeviceErrorMessage()
{
    SetDeviceErrorMessage(S_OK, QString());
}

// Why a device call failed, for a log line: what the code means (or the code
// itself), then the library's own words when it gave any.
QString DeviceFailureReason(HRESULT code);

// Reads that are short by design must not look complete: callers compare the
// bytes received with the object's size.
inline constexpr std::uint32_t kTransferChunkSize = 131072;
