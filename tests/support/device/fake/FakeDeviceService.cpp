#include "FakeDeviceService.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

FakeDevice *FindDevice(FakeDeviceService &service, const QString &deviceId);

class FakeStream : public IStream
{
public:
    FakeStream(FakeDeviceService &service, QString deviceId, FakeObject object)
        : service_(service), deviceId_(std::move(deviceId)), object_(std::move(object))
    {
    }

    HRESULT Seek(std::int64_t offset, SeekOrigin origin, std::uint64_t *newPosition) override
    {
        Lock lock(service_.mutex);
        std::int64_t base = 0;
        if (origin == STREAM_SEEK_CUR)
            base = std::int64_t(position_);
        else if (origin == STREAM_SEEK_END)
            base = std::int64_t(object_.size);
        if (base + offset < 0)
            return E_INVALIDARG;
        position_ = std::uint64_t(base + offset);
        if (newPosition)
            *newPosition = position_;
        return S_OK;
    }

    HRESULT Read(void *buffer, std::uint32_t count, std::uint32_t *read) override
    {
        if (read)
            *read = 0;
        if (object_.readDelayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(object_.readDelayMs));
        Lock lock(service_.mutex);
        if (service_.onRead)
            service_.onRead(object_.id, position_);
        if (!FindDevice(service_, deviceId_))
            return E_DEVICE_NOT_CONNECTED;
        if (object_.readFailsAt >= 0 && std::int64_t(position_) >= object_.readFailsAt)
            return object_.readFailCode;
        std::uint64_t end = object_.size;
        if (object_.readEndsAt >= 0)
            end = std::min<std::uint64_t>(end, std::uint64_t(object_.readEndsAt));
        if (object_.readFailsAt >= 0)
            end = std::min<std::uint64_t>(end, std::uint64_t(object_.readFailsAt));
        const std::uint64_t available = position_ < end ? end - position_ : 0;
        const std::uint32_t n = std::uint32_t(std::min<std::uint64_t>(count, available));
        char *out = static_cast<char *>(buffer);
        if (!object_.data.isEmpty()) {
            std::memcpy(out, object_.data.constData() + position_, n);
        } else if (object_.zeroData) {
            std::memset(out, 0, n);
        } else {
            for (std::uint32_t i = 0; i < n; ++i)
                out[i] = FakeDataByte(position_ + i);
        }
        position_ += n;
        if (read)
            *read = n;
        return S_OK;
    }

private:
    FakeDeviceService &service_;
    QString deviceId_;
    FakeObject object_;
    std::uint64_t position_ = 0;
};

class FakeEnumerator : public IEnumPortableDeviceObjectIDs
{
public:
    FakeEnumerator(FakeDeviceService &service, std::vector<QString> ids, int failAfter, HRESULT failCode)
        : service_(service), ids_(std::move(ids)), failAfter_(failAfter), failCode_(failCode)
    {
    }

    HRESULT Next(QString &objectId) override
    {
        Lock lock(service_.mutex);
        if (failAfter_ >= 0 && next_ >= size_t(failAfter_))
            return failCode_;
        if (next_ >= ids_.size())
            return S_FALSE;
        objectId = ids_[next_++];
        return S_OK;
    }

private:
    FakeDeviceService &service_;
    std::vector<QString> ids_;
    size_t next_ = 0;
    int failAfter_;
    HRESULT failCode_;
};

class FakeContent;

// Finds the device an open handle refers to; it may have been unplugged.
FakeDevice *FindDevice(FakeDeviceService &service, const QString &deviceId)
{
    for (FakeDevice &device : service.devices)
        if (device.deviceId == deviceId)
            return &device;
    return nullptr;
}

class FakeProperties : public IPortableDeviceProperties
{
public:
    FakeProperties(FakeDeviceService &service, QString deviceId) : service_(service), deviceId_(std::move(deviceId)) {}

    HRESULT GetSupportedProperties(const QString &objectId, std::shared_ptr<PortableDeviceKeyCollection> &keys) override
    {
        Lock lock(service_.mutex);
        FakeDevice *device = FindDevice(service_, deviceId_);
        if (!device)
            return E_DEVICE_NOT_CONNECTED;
        const auto it = device->objects.find(objectId);
        if (it == device->objects.end())
            return E_NOT_FOUND;
        if (FAILED(it->second.supportedCode))
            return it->second.supportedCode;
        keys = std::make_shared<PortableDeviceKeyCollection>();
        for (PROPERTYKEY key : {WPD_OBJECT_ID, WPD_OBJECT_NAME, WPD_OBJECT_ORIGINAL_FILE_NAME, WPD_OBJECT_DATE_CREATED,
                                WPD_OBJECT_SIZE, WPD_OBJECT_CONTENT_TYPE})
            keys->Add(key);
        return S_OK;
    }

    HRESULT GetValues(const QString &objectId, const PortableDeviceKeyCollection *keys,
                      std::shared_ptr<PortableDeviceValues> &values) override
    {
        if (service_.onGetValues)
            service_.onGetValues(objectId);
        Lock lock(service_.mutex);
        FakeDevice *device = FindDevice(service_, deviceId_);
        if (!device)
            return E_DEVICE_NOT_CONNECTED;
        const auto it = device->objects.find(objectId);
        if (it == device->objects.end())
            return E_NOT_FOUND;
        const FakeObject &object = it->second;
        if (FAILED(object.getValuesCode))
            return object.getValuesCode;
        auto result = std::make_shared<PortableDeviceValues>();
        auto put = [&](PROPERTYKEY key, const PROPVARIANT &value) {
            if (object.missing.count(key))
                return;
            if (objectId == QLatin1String("DEVICE") && device->missingDeviceProperties.count(key))
                return;
            if (keys && !keys->Contains(key))
                return;
            result->SetValue(key, value);
        };
        put(WPD_OBJECT_ID, object.id);
        put(WPD_OBJECT_NAME, object.name);
        put(WPD_OBJECT_CONTENT_TYPE, object.contentType);
        if (objectId == QLatin1String("DEVICE")) {
            put(WPD_DEVICE_TYPE, device->type);
            put(WPD_DEVICE_MANUFACTURER, device->manufacturer);
            put(WPD_DEVICE_MODEL, device->model);
            put(WPD_DEVICE_POWER_SOURCE, device->powerSource);
            put(WPD_DEVICE_POWER_LEVEL, device->powerLevel);
            put(WPD_DEVICE_SERIAL_NUMBER, device->serialNumber);
            put(WPD_DEVICE_FRIENDLY_NAME, device->friendlyName);
        } else {
            put(WPD_OBJECT_ORIGINAL_FILE_NAME, object.originalFileName);
            put(WPD_OBJECT_DATE_CREATED, object.dateCreated);
            put(WPD_OBJECT_SIZE, object.size);
        }
        values = std::move(result);
        return object.getValuesCode;  // S_OK, or S_FALSE when a test asks for it
    }

private:
    FakeDeviceService &service_;
    QString deviceId_;
};

class FakeResources : public IPortableDeviceResources
{
public:
    FakeResources(FakeDeviceService &service, QString deviceId) : service_(service), deviceId_(std::move(deviceId)) {}

    HRESULT GetStream(const QString &objectId, PROPERTYKEY resource, std::uint32_t,
                      std::shared_ptr<IStream> &stream) override
    {
        Lock lock(service_.mutex);
        FakeDevice *device = FindDevice(service_, deviceId_);
        if (!device)
            return E_DEVICE_NOT_CONNECTED;
        if (resource != WPD_RESOURCE_DEFAULT && resource != WPD_RESOURCE_THUMBNAIL)
            return E_INVALIDARG;
        const auto it = device->objects.find(objectId);
        if (it == device->objects.end())
            return E_NOT_FOUND;
        if (FAILED(it->second.getStreamCode))
            return it->second.getStreamCode;
        if (resource == WPD_RESOURCE_THUMBNAIL) {
            if (it->second.thumbnail.isEmpty())
                return E_NOT_SUPPORTED;
            ++service_.thumbnailsRead;
            FakeObject thumbnail = it->second;
            thumbnail.data = thumbnail.thumbnail;
            thumbnail.size = std::uint64_t(thumbnail.data.size());
            stream = std::make_shared<FakeStream>(service_, deviceId_, std::move(thumbnail));
            return S_OK;
        }
        ++service_.streamsOpened;
        stream = std::make_shared<FakeStream>(service_, deviceId_, it->second);
        return S_OK;
    }

private:
    FakeDeviceService &service_;
    QString deviceId_;
};

class FakeContent : public IPortableDeviceContent
{
public:
    FakeContent(FakeDeviceService &service, QString deviceId) : service_(service), deviceId_(std::move(deviceId)) {}

    HRESULT Properties(std::shared_ptr<IPortableDeviceProperties> &properties) override
    {
        Lock lock(service_.mutex);
        FakeDevice *device = FindDevice(service_, deviceId_);
        if (!device)
            return E_DEVICE_NOT_CONNECTED;
        if (FAILED(device->propertiesCode))
            return device->propertiesCode;
        properties = std::make_shared<FakeProperties>(service_, deviceId_);
        return S_OK;
    }

    HRESULT EnumObjects(std::uint32_t, const QString &parentId,
                        std::shared_ptr<IEnumPortableDeviceObjectIDs> &enumerator) override
    {
        Lock lock(service_.mutex);
        FakeDevice *device = FindDevice(service_, deviceId_);
        if (!device)
            return E_DEVICE_NOT_CONNECTED;
        const auto it = device->objects.find(parentId);
        if (it == device->objects.end())
            return E_NOT_FOUND;
        if (FAILED(it->second.enumObjectsCode))
            return it->second.enumObjectsCode;
        enumerator = std::make_shared<FakeEnumerator>(service_, it->second.children, it->second.nextFailsAfter,
                                                      it->second.nextFailCode);
        return S_OK;
    }

    HRESULT Transfer(std::shared_ptr<IPortableDeviceResources> &resources) override
    {
        Lock lock(service_.mutex);
        FakeDevice *device = FindDevice(service_, deviceId_);
        if (!device)
            return E_DEVICE_NOT_CONNECTED;
        if (FAILED(device->transferCode))
            return device->transferCode;
        resources = std::make_shared<FakeResources>(service_, deviceId_);
        return S_OK;
    }

    HRESULT Delete(std::uint32_t, const PortableDevicePropVariantCollection &ids,
                   std::shared_ptr<PortableDevicePropVariantCollection> *results) override
    {
        Lock lock(service_.mutex);
        FakeDevice *device = FindDevice(service_, deviceId_);
        if (!device)
            return E_DEVICE_NOT_CONNECTED;
        if (results)
            *results = std::make_shared<PortableDevicePropVariantCollection>();
        for (std::size_t i = 0; i < ids.GetCount(); ++i) {
            const QString *id = std::get_if<QString>(&ids.GetAt(i));
            if (!id)
                return E_INVALIDARG;
            const auto it = device->objects.find(*id);
            if (it == device->objects.end())
                return E_NOT_FOUND;
            if (FAILED(it->second.deleteCode))
                return it->second.deleteCode;
            if (!it->second.children.empty())
                return E_ACCESSDENIED;  // no recursion
            device->RemoveObject(*id);
            service_.deletedIds.push_back(*id);
        }
        return S_OK;
    }

private:
    FakeDeviceService &service_;
    QString deviceId_;
};

class FakePortableDevice : public IPortableDevice
{
public:
    explicit FakePortableDevice(FakeDeviceService &service) : service_(service) {}

    HRESULT Open(const QString &deviceId, const PortableDeviceValues *) override
    {
        Lock lock(service_.mutex);
        FakeDevice *device = FindDevice(service_, deviceId);
        if (!device)
            return E_DEVICE_NOT_CONNECTED;
        if (device->openCode != S_OK)
            return device->openCode;
        deviceId_ = deviceId;
        return S_OK;
    }

    HRESULT Content(std::shared_ptr<IPortableDeviceContent> &content) override
    {
        Lock lock(service_.mutex);
        if (deviceId_.isEmpty())
            return E_FAIL;  // not open
        FakeDevice *device = FindDevice(service_, deviceId_);
        if (!device)
            return E_DEVICE_NOT_CONNECTED;
        if (FAILED(device->contentCode))
            return device->contentCode;
        content = std::make_shared<FakeContent>(service_, deviceId_);
        return S_OK;
    }

private:
    FakeDeviceService &service_;
    QString deviceId_;
};

class FakeManager : public IPortableDeviceManager
{
public:
    explicit FakeManager(FakeDeviceService &service) : service_(service) {}

    HRESULT GetDevices(QStringList &deviceIds) override
    {
        Lock lock(service_.mutex);
        deviceIds.clear();
        if (FAILED(service_.getDevicesCode))
            return service_.getDevicesCode;
        for (const FakeDevice &device : service_.devices)
            deviceIds << device.deviceId;
        return S_OK;
    }

    HRESULT GetDeviceManufacturer(const QString &deviceId, QString &text) override
    {
        return Text(deviceId, text, &FakeDevice::manufacturer);
    }
    HRESULT GetDeviceDescription(const QString &deviceId, QString &text) override
    {
        return Text(deviceId, text, &FakeDevice::description);
    }
    HRESULT GetDeviceFriendlyName(const QString &deviceId, QString &text) override
    {
        return Text(deviceId, text, &FakeDevice::friendlyName);
    }

private:
    HRESULT Text(const QString &deviceId, QString &text, QString FakeDevice::*field)
    {
        Lock lock(service_.mutex);
        text.clear();
        FakeDevice *device = FindDevice(service_, deviceId);
        if (!device)
            return E_DEVICE_NOT_CONNECTED;
        if (FAILED(device->managerTextCode))
            return device->managerTextCode;
        // A device text ends at its first terminator.
        text = device->*field;
        const qsizetype nul = text.indexOf(QChar(0));
        if (nul >= 0)
            text.truncate(nul);
        return S_OK;
    }

    FakeDeviceService &service_;
};

}  // namespace

// --- FakeDevice builders ------------------------------------------------------

FakeObject &FakeDevice::AddChild(const QString &parentId, const QString &id, const QString &name,
                                 const QString &contentType)
{
    FakeObject object;
    object.id = id;
    object.parentId = parentId;
    object.name = name;
    object.originalFileName = name;
    object.contentType = contentType;
    object.dateCreated = QStringLiteral("2016/08/13:10:20:30.000");
    objects.at(parentId).children.push_back(id);
    return objects[id] = std::move(object);
}

FakeObject &FakeDevice::AddStorage(const QString &name, const QString &token)
{
    FakeObject &storage = AddChild(QStringLiteral("DEVICE"), QLatin1Char('/') + token, name,
                                   ContentTypeGuid(QStringLiteral("FUNCTIONAL_OBJECT")));
    // A storage has a name but no file name, like on a real device.
    storage.originalFileName.clear();
    storage.missing.insert(WPD_OBJECT_ORIGINAL_FILE_NAME);
    return storage;
}

FakeObject &FakeDevice::AddFolder(const QString &parentId, const QString &name)
{
    return AddChild(parentId, parentId + QLatin1Char('/') + name, name, ContentTypeGuid(QStringLiteral("FOLDER")));
}

FakeObject &FakeDevice::AddFile(const QString &parentId, const QString &name, const QString &contentTypeName,
                                const QString &dateCreated, const QByteArray &data)
{
    FakeObject &file = AddChild(parentId, parentId + QLatin1Char('/') + name, name, ContentTypeGuid(contentTypeName));
    file.dateCreated = dateCreated;
    file.data = data;
    file.size = std::uint64_t(data.size());
    return file;
}

FakeObject &FakeDevice::AddSizedFile(const QString &parentId, const QString &name, const QString &contentTypeName,
                                     const QString &dateCreated, std::uint64_t size)
{
    FakeObject &file = AddChild(parentId, parentId + QLatin1Char('/') + name, name, ContentTypeGuid(contentTypeName));
    file.dateCreated = dateCreated;
    file.size = size;
    return file;
}

void FakeDevice::RemoveObject(const QString &id)
{
    const auto it = objects.find(id);
    if (it == objects.end())
        return;
    const std::vector<QString> children = it->second.children;
    for (const QString &child : children)
        RemoveObject(child);
    const auto parent = objects.find(it->second.parentId);
    if (parent != objects.end()) {
        auto &siblings = parent->second.children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
    }
    objects.erase(id);
}

// --- FakeDeviceService --------------------------------------------------------

FakeDeviceService::FakeDeviceService() = default;

FakeDevice &FakeDeviceService::AddDevice(const QString &deviceId, const QString &friendlyName,
                                         const QString &manufacturer, const QString &description)
{
    Lock lock(mutex);
    FakeDevice device;
    device.deviceId = deviceId;
    device.friendlyName = friendlyName;
    device.manufacturer = manufacturer;
    device.description = description;
    device.model = description;
    FakeObject root;
    root.id = QStringLiteral("DEVICE");
    root.name = friendlyName;
    root.contentType = ContentTypeGuid(QStringLiteral("FUNCTIONAL_OBJECT"));
    device.objects[root.id] = root;
    devices.push_back(std::move(device));
    return devices.back();
}

FakeDevice &FakeDeviceService::Device(const QString &deviceId)
{
    FakeDevice *device = FindDevice(*this, deviceId);
    if (!device)
        throw std::out_of_range("no such fake device");
    return *device;
}

void FakeDeviceService::RemoveDevice(const QString &deviceId)
{
    Lock lock(mutex);
    devices.erase(
        std::remove_if(devices.begin(), devices.end(), [&](const FakeDevice &d) { return d.deviceId == deviceId; }),
        devices.end());
}

std::shared_ptr<IPortableDeviceManager> FakeDeviceService::CreateManager()
{
    Lock lock(mutex);
    if (createThrows)
        throw std::runtime_error("Class not registered");
    if (managerCreateFails)
        return nullptr;
    ++managersCreated;
    return std::make_shared<FakeManager>(*this);
}

std::shared_ptr<IPortableDevice> FakeDeviceService::CreateDevice()
{
    Lock lock(mutex);
    if (createThrows)
        throw std::runtime_error("Class not registered");
    if (deviceCreateFails)
        return nullptr;
    ++devicesCreated;
    return std::make_shared<FakePortableDevice>(*this);
}

std::shared_ptr<PortableDeviceValues> FakeDeviceService::CreateValues()
{
    Lock lock(mutex);
    if (valuesCreateFails)
        return nullptr;
    return DeviceService::CreateValues();
}
