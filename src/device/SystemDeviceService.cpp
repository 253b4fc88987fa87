#include "SystemDeviceService.h"

namespace {

// Lists the devices that the backends report. Cameras, phones and memory
// cards are reached by backends that join this list; until one is present
// the list is empty and every open fails as for an unplugged device.
class SystemManager : public IPortableDeviceManager
{
public:
    HRESULT GetDevices(QStringList &deviceIds) override
    {
        deviceIds.clear();
        return S_OK;
    }
    HRESULT GetDeviceManufacturer(const QString &, QString &text) override { return NotConnected(text); }
    HRESULT GetDeviceDescription(const QString &, QString &text) override { return NotConnected(text); }
    HRESULT GetDeviceFriendlyName(const QString &, QString &text) override { return NotConnected(text); }

private:
    static HRESULT NotConnected(QString &text)
    {
        text.clear();
        return E_DEVICE_NOT_CONNECTED;
    }
};

class SystemDevice : public IPortableDevice
{
public:
    HRESULT Open(const QString &, const PortableDeviceValues *) override { return E_DEVICE_NOT_CONNECTED; }
    HRESULT Content(std::shared_ptr<IPortableDeviceContent> &) override { return E_DEVICE_NOT_CONNECTED; }
};

class SystemDeviceService : public DeviceService
{
public:
    std::shared_ptr<IPortableDeviceManager> CreateManager() override { return std::make_shared<SystemManager>(); }
    std::shared_ptr<IPortableDevice> CreateDevice() override { return std::make_shared<SystemDevice>(); }
};

} // namespace

std::unique_ptr<DeviceService> CreateSystemDeviceService()
{
    return std::make_unique<SystemDeviceService>();
}
