// The portable-device interfaces on top of a DeviceSession: what every real
// backend shares.

#include "device/DeviceSession.h"

#include "device/DeviceDiscovery.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>
#include <vector>

namespace {

enum class Kind { Image, Video, Audio, Other };

Kind KindOfFolded(QStringView ext);

// An extension of up to four lower-case ASCII characters as one number.
constexpr std::uint32_t Packed(std::string_view ext)
{
    std::uint32_t key = 0;
    for (char c : ext)
        key = key << 8 | std::uint8_t(c);
    return key;
}

// Every known extension (none is longer than four characters) with its kind,
// sorted for a binary search.
const std::vector<std::pair<std::uint32_t, Kind>> &KnownExtensions()
{
    static const std::vector<std::pair<std::uint32_t, Kind>> table = [] {
        std::vector<std::pair<std::uint32_t, Kind>> all;
        for (std::string_view e : {"jpg", "jpeg", "jpe", "png", "gif", "bmp", "tif", "tiff", "heic", "heif", "webp",
                                   "raw", "dng",  "cr2", "cr3", "crw", "nef", "nrw", "arw",  "srf",  "sr2",  "orf",
                                   "rw2", "raf",  "pef", "srw", "x3f", "3fr", "kdc", "mrw",  "erf"})
            all.emplace_back(Packed(e), Kind::Image);
        for (std::string_view e : {"mp4", "m4v", "mov", "avi",  "mts", "m2ts", "mkv", "wmv", "mpg",  "mpeg",
                                   "3gp", "3g2", "mxf", "webm", "asf", "mod",  "tod", "vob", "insv", "lrv"})
            all.emplace_back(Packed(e), Kind::Video);
        for (std::string_view e : {"mp3", "wav", "m4a", "mp4a", "aac", "flac", "ogg", "oga", "opus", "wma", "aif",
                                   "aiff", "amr", "rec", "3ga"})
            all.emplace_back(Packed(e), Kind::Audio);
        std::sort(all.begin(), all.end());
        return all;
    }();
    return table;
}

Kind KindOfExtension(QStringView ext)
{
    // Lower-cased into one number: a listing asks for every file, and every
    // known extension is short and plain ASCII.
    if (ext.isEmpty() || ext.size() > 4) {
        // Letters beyond ASCII can lower-case into it (the Kelvin sign into
        // "k"), and into a shorter text: those take the general way.
        for (QChar c : ext)
            if (c.unicode() >= 0x80)
                return ext.size() <= 16 ? KindOfFolded(ext) : Kind::Other;
        return Kind::Other;
    }
    std::uint32_t key = 0;
    for (QChar c : ext) {
        const char16_t u = c.unicode();
        if (u >= 0x80)
            return KindOfFolded(ext);
        key = key << 8 | std::uint8_t(u >= 'A' && u <= 'Z' ? u + 32 : u);
    }
    const auto &table = KnownExtensions();
    const auto found = std::lower_bound(table.begin(), table.end(), std::pair<std::uint32_t, Kind>(key, Kind::Image));
    return found != table.end() && found->first == key ? found->second : Kind::Other;
}

Kind KindOfFolded(QStringView ext)
{
    const QString folded = ext.toString().toLower();
    if (folded.size() > 4)
        return Kind::Other;
    for (QChar f : folded)
        if (f.unicode() >= 0x80)
            return Kind::Other;
    return KindOfExtension(folded);
}

}  // namespace

QString ContentTypeForFileName(const QString &name)
{
    static const QString image = ContentTypeGuid(QStringLiteral("IMAGE"));
    static const QString video = ContentTypeGuid(QStringLiteral("VIDEO"));
    static const QString sound = ContentTypeGuid(QStringLiteral("AUDIO"));
    static const QString other = ContentTypeGuid(QStringLiteral("GENERIC_FILE"));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    switch (dot < 0 ? Kind::Other : KindOfExtension(QStringView(name).sliced(dot + 1))) {
    case Kind::Image: return image;
    case Kind::Video: return video;
    case Kind::Audio: return sound;
    case Kind::Other: break;
    }
    return other;
}

QString WpdDateText(const QDateTime &when)
{
    return when.toLocalTime().toString(QStringLiteral("yyyy/MM/dd:HH:mm:ss.zzz"));
}

QString WpdDateText(std::int64_t seconds, int milliseconds, bool wallClock)
{
    const time_t t = time_t(seconds);
    struct tm local
    {
    };
    if (wallClock)
        gmtime_r(&t, &local);
    else
        localtime_r(&t, &local);
    const int year = local.tm_year + 1900;
    if (year < 0 || year > 9999 || milliseconds < 0 || milliseconds > 999) {
        char text[64];
        std::snprintf(text, sizeof text, "%04d/%02d/%02d:%02d:%02d:%02d.%03d", year, local.tm_mon + 1, local.tm_mday,
                      local.tm_hour, local.tm_min, local.tm_sec, milliseconds);
        return QString::fromLatin1(text);
    }
    // Written digit by digit: a listing makes one for every object.
    QChar text[23];
    QChar *at = text;
    const auto put = [&at](int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            at[i] = QLatin1Char(char('0' + value % 10));
        at += digits;
    };
    const auto sep = [&at](char c) { *at++ = QLatin1Char(c); };
    put(year, 4);
    sep('/');
    put(local.tm_mon + 1, 2);
    sep('/');
    put(local.tm_mday, 2);
    sep(':');
    put(local.tm_hour, 2);
    sep(':');
    put(local.tm_min, 2);
    sep(':');
    put(local.tm_sec, 2);
    sep('.');
    put(milliseconds, 3);
    return QString(text, int(at - text));
}

HRESULT HResultFromErrno(int error)
{
    switch (error) {
    case 0: return S_OK;
    case ENOENT:
    case ENOTDIR: return E_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return E_ACCESSDENIED;
    case EBUSY: return E_DEVICE_BUSY;
    case ENODEV:
    case ENXIO:
    case ENOTCONN:  // a FUSE card whose server went away
    case ESHUTDOWN:
    case EIO: return E_DEVICE_NOT_CONNECTED;
    case ENOMEM:
    case EMFILE:
    case ENFILE: return E_OUTOFMEMORY;
    default: return HRESULT(0x80070000u | (unsigned(error) & 0xFFFF));
    }
}

namespace {

class MemoryStream : public IStream
{
public:
    explicit MemoryStream(QByteArray bytes) : bytes_(std::move(bytes)) {}
    HRESULT Seek(std::int64_t offset, SeekOrigin origin, std::uint64_t *newPosition) override
    {
        const std::int64_t base = origin == STREAM_SEEK_CUR   ? std::int64_t(position_)
                                  : origin == STREAM_SEEK_END ? std::int64_t(bytes_.size())
                                                              : 0;
        if (base + offset < 0)
            return E_INVALIDARG;
        position_ = std::uint64_t(base + offset);
        if (newPosition)
            *newPosition = position_;
        return S_OK;
    }
    HRESULT Read(void *buffer, std::uint32_t count, std::uint32_t *read) override
    {
        const std::uint64_t size = std::uint64_t(bytes_.size());
        const std::uint32_t n = position_ >= size ? 0 : std::uint32_t(std::min<std::uint64_t>(count, size - position_));
        if (n)
            std::memcpy(buffer, bytes_.constData() + position_, n);
        position_ += n;
        if (read)
            *read = n;
        return S_OK;
    }

private:
    QByteArray bytes_;
    std::uint64_t position_ = 0;
};

}  // namespace

std::shared_ptr<IStream> MakeMemoryStream(QByteArray bytes)
{
    return std::make_shared<MemoryStream>(std::move(bytes));
}

namespace {

class SessionEnumerator : public IEnumPortableDeviceObjectIDs
{
public:
    explicit SessionEnumerator(QStringList ids) : ids_(std::move(ids)) {}
    HRESULT Next(QString &objectId) override
    {
        if (next_ >= ids_.size())
            return S_FALSE;
        objectId = ids_.at(next_++);
        return S_OK;
    }

private:
    QStringList ids_;
    qsizetype next_ = 0;
};

std::shared_ptr<PortableDeviceKeyCollection> MakeKeys(std::initializer_list<PROPERTYKEY> list)
{
    auto keys = std::make_shared<PortableDeviceKeyCollection>();
    for (PROPERTYKEY key : list)
        keys->Add(key);
    return keys;
}

class SessionProperties : public IPortableDeviceProperties
{
public:
    explicit SessionProperties(std::shared_ptr<DeviceSession> session) : session_(std::move(session)) {}

    HRESULT GetSupportedProperties(const QString &objectId, std::shared_ptr<PortableDeviceKeyCollection> &keys) override
    {
        ClearDeviceErrorMessage();
        // The same few collections serve every object; callers only read them.
        static const auto deviceKeys =
            MakeKeys({WPD_OBJECT_ID, WPD_OBJECT_NAME, WPD_OBJECT_CONTENT_TYPE, WPD_DEVICE_TYPE, WPD_DEVICE_MANUFACTURER,
                      WPD_DEVICE_MODEL, WPD_DEVICE_POWER_SOURCE, WPD_DEVICE_POWER_LEVEL, WPD_DEVICE_SERIAL_NUMBER,
                      WPD_DEVICE_FRIENDLY_NAME});
        static const auto storageKeys = MakeKeys(
            {WPD_OBJECT_ID, WPD_OBJECT_NAME, WPD_OBJECT_CONTENT_TYPE, WPD_OBJECT_SIZE, WPD_OBJECT_DATE_CREATED});
        static const auto objectKeys =
            MakeKeys({WPD_OBJECT_ID, WPD_OBJECT_NAME, WPD_OBJECT_CONTENT_TYPE, WPD_OBJECT_SIZE, WPD_OBJECT_DATE_CREATED,
                      WPD_OBJECT_ORIGINAL_FILE_NAME});
        if (objectId == QLatin1String("DEVICE")) {
            keys = deviceKeys;
            return S_OK;
        }
        bool storage = false;
        const HRESULT hr = session_->IsStorage(objectId, storage);
        if (FAILED(hr))
            return hr;
        keys = storage ? storageKeys : objectKeys;
        return S_OK;
    }

    HRESULT GetValues(const QString &objectId, const PortableDeviceKeyCollection *keys,
                      std::shared_ptr<PortableDeviceValues> &values) override
    {
        ClearDeviceErrorMessage();
        std::shared_ptr<PortableDeviceValues> all;
        if (objectId == QLatin1String("DEVICE")) {
            all = std::make_shared<PortableDeviceValues>();
            const HRESULT hr = session_->DeviceValues(*all);
            if (FAILED(hr))
                return hr;
            all->SetStringValue(WPD_OBJECT_ID, objectId);
            all->SetStringValue(WPD_OBJECT_CONTENT_TYPE, ContentTypeGuid(QStringLiteral("FUNCTIONAL_OBJECT")));
        } else {
            ObjectInfo info;
            const HRESULT hr = session_->Info(objectId, info);
            if (FAILED(hr))
                return hr;
            values = std::make_shared<PortableDeviceValues>();
            auto wanted = [keys](PROPERTYKEY key) { return !keys || keys->Contains(key); };
            if (wanted(WPD_OBJECT_ID))
                values->SetStringValue(WPD_OBJECT_ID, objectId);
            if (wanted(WPD_OBJECT_NAME))
                values->SetStringValue(WPD_OBJECT_NAME, info.name);
            if (wanted(WPD_OBJECT_CONTENT_TYPE))
                values->SetStringValue(WPD_OBJECT_CONTENT_TYPE, info.contentType);
            if (wanted(WPD_OBJECT_DATE_CREATED))
                values->SetStringValue(WPD_OBJECT_DATE_CREATED, info.dateCreated);
            if (wanted(WPD_OBJECT_SIZE) && info.sizeKnown)
                values->SetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, info.size);
            if (!info.isStorage && wanted(WPD_OBJECT_ORIGINAL_FILE_NAME))
                values->SetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, info.originalFileName);
            return S_OK;
        }
        if (!keys) {
            values = all;
            return S_OK;
        }
        values = std::make_shared<PortableDeviceValues>();
        for (std::size_t i = 0; i < keys->GetCount(); ++i) {
            PROPVARIANT value;
            if (SUCCEEDED(all->GetValue(keys->GetAt(i), value)))
                values->SetValue(keys->GetAt(i), value);
        }
        return S_OK;
    }

private:
    std::shared_ptr<DeviceSession> session_;
};

class SessionResources : public IPortableDeviceResources
{
public:
    explicit SessionResources(std::shared_ptr<DeviceSession> session) : session_(std::move(session)) {}
    HRESULT GetStream(const QString &objectId, PROPERTYKEY resource, std::uint32_t,
                      std::shared_ptr<IStream> &stream) override
    {
        ClearDeviceErrorMessage();
        if (resource == WPD_RESOURCE_THUMBNAIL)
            return session_->OpenThumbnail(objectId, stream);
        if (resource != WPD_RESOURCE_DEFAULT)
            return E_INVALIDARG;
        return session_->OpenStream(objectId, stream);
    }

private:
    std::shared_ptr<DeviceSession> session_;
};

class SessionContent : public IPortableDeviceContent
{
public:
    explicit SessionContent(std::shared_ptr<DeviceSession> session) : session_(std::move(session)) {}

    HRESULT Properties(std::shared_ptr<IPortableDeviceProperties> &properties) override
    {
        properties = std::make_shared<SessionProperties>(session_);
        return S_OK;
    }
    HRESULT EnumObjects(std::uint32_t, const QString &parentId,
                        std::shared_ptr<IEnumPortableDeviceObjectIDs> &enumerator) override
    {
        ClearDeviceErrorMessage();
        QStringList ids;
        const HRESULT hr = session_->Children(parentId, ids);
        if (FAILED(hr))
            return hr;
        enumerator = std::make_shared<SessionEnumerator>(std::move(ids));
        return S_OK;
    }
    HRESULT Transfer(std::shared_ptr<IPortableDeviceResources> &resources) override
    {
        resources = std::make_shared<SessionResources>(session_);
        return S_OK;
    }
    HRESULT Delete(std::uint32_t, const PortableDevicePropVariantCollection &ids,
                   std::shared_ptr<PortableDevicePropVariantCollection> *results) override
    {
        ClearDeviceErrorMessage();
        if (results)
            *results = std::make_shared<PortableDevicePropVariantCollection>();
        for (std::size_t i = 0; i < ids.GetCount(); ++i) {
            const QString *id = std::get_if<QString>(&ids.GetAt(i));
            if (!id)
                return E_INVALIDARG;
            const HRESULT hr = session_->Delete(*id);
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }

private:
    std::shared_ptr<DeviceSession> session_;
};

class BackendDevice : public IPortableDevice
{
public:
    explicit BackendDevice(const std::vector<std::shared_ptr<DeviceBackend>> &backends) : backends_(backends) {}

    HRESULT Open(const QString &deviceId, const PortableDeviceValues *) override
    {
        ClearDeviceErrorMessage();
        for (const auto &backend : backends_) {
            if (backend->Owns(deviceId)) {
                session_.reset();
                return backend->Open(deviceId, session_);
            }
        }
        return E_DEVICE_NOT_CONNECTED;
    }
    HRESULT Content(std::shared_ptr<IPortableDeviceContent> &content) override
    {
        if (!session_)
            return E_FAIL;
        content = std::make_shared<SessionContent>(session_);
        return S_OK;
    }

private:
    std::vector<std::shared_ptr<DeviceBackend>> backends_;
    std::shared_ptr<DeviceSession> session_;
};

class BackendManager : public IPortableDeviceManager
{
public:
    explicit BackendManager(const std::vector<std::shared_ptr<DeviceBackend>> &backends) : backends_(backends) {}

    HRESULT GetDevices(QStringList &deviceIds) override
    {
        Take();
        deviceIds.clear();
        for (const DeviceEntry &entry : entries_)
            deviceIds << entry.deviceId;
        return S_OK;
    }
    // The backends are asked in turn, and the first that has a device of
    // this name ends the search: copying a card opens no camera.
    HRESULT GetDevicesNamed(const QString &name, QStringList &deviceIds) override
    {
        deviceIds.clear();
        if (!taken_) {
            taken_ = true;
            for (const auto &backend : backends_)
                if (SUCCEEDED(backend->EnumerateNamed(name, entries_)) && !entries_.empty())
                    break;
        }
        for (const DeviceEntry &entry : entries_)
            if (DeviceDisplayName(entry.manufacturer, entry.description) == name)
                deviceIds << entry.deviceId;
        return S_OK;
    }
    HRESULT GetDeviceManufacturer(const QString &deviceId, QString &text) override
    {
        return Text(deviceId, text, &DeviceEntry::manufacturer);
    }
    HRESULT GetDeviceDescription(const QString &deviceId, QString &text) override
    {
        return Text(deviceId, text, &DeviceEntry::description);
    }
    HRESULT GetDeviceFriendlyName(const QString &deviceId, QString &text) override
    {
        return Text(deviceId, text, &DeviceEntry::friendlyName);
    }

private:
    // The list is taken once, on first use, so that the count and the texts
    // of one scan agree. A manager made only to open a device never asks the
    // backends: detecting cameras costs time, and opens them.
    void Take()
    {
        if (taken_)
            return;
        taken_ = true;
        for (const auto &backend : backends_) {
            std::vector<DeviceEntry> found;
            if (SUCCEEDED(backend->Enumerate(found)))
                for (DeviceEntry &entry : found)
                    entries_.push_back(std::move(entry));
        }
    }

    HRESULT Text(const QString &deviceId, QString &text, QString DeviceEntry::*field)
    {
        Take();
        text.clear();
        for (const DeviceEntry &entry : entries_) {
            if (entry.deviceId == deviceId) {
                text = entry.*field;
                return S_OK;
            }
        }
        return E_DEVICE_NOT_CONNECTED;
    }

    std::vector<std::shared_ptr<DeviceBackend>> backends_;
    bool taken_ = false;
    std::vector<DeviceEntry> entries_;
};

class BackendService : public DeviceService
{
public:
    explicit BackendService(std::vector<std::shared_ptr<DeviceBackend>> backends) : backends_(std::move(backends)) {}
    std::shared_ptr<IPortableDeviceManager> CreateManager() override
    {
        return std::make_shared<BackendManager>(backends_);
    }
    std::shared_ptr<IPortableDevice> CreateDevice() override { return std::make_shared<BackendDevice>(backends_); }

private:
    std::vector<std::shared_ptr<DeviceBackend>> backends_;
};

}  // namespace

HRESULT IPortableDeviceManager::GetDevicesNamed(const QString &name, QStringList &deviceIds)
{
    QStringList all;
    const HRESULT hr = GetDevices(all);
    deviceIds.clear();
    for (const QString &id : std::as_const(all)) {
        QString manufacturer, description;
        GetDeviceManufacturer(id, manufacturer);
        GetDeviceDescription(id, description);
        if (DeviceDisplayName(manufacturer, description) == name)
            deviceIds << id;
    }
    return hr;
}

HRESULT DeviceBackend::EnumerateNamed(const QString &name, std::vector<DeviceEntry> &devices)
{
    std::vector<DeviceEntry> all;
    const HRESULT hr = Enumerate(all);
    devices.clear();
    for (DeviceEntry &entry : all)
        if (DeviceDisplayName(entry.manufacturer, entry.description) == name)
            devices.push_back(std::move(entry));
    return hr;
}

std::unique_ptr<DeviceService> CreateBackendService(std::vector<std::shared_ptr<DeviceBackend>> backends)
{
    return std::make_unique<BackendService>(std::move(backends));
}
