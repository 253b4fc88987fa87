#include "DeviceDiscovery.h"

#include "base/TextRules.h"
#include "device/DeviceConnection.h"
#include "log/LogSink.h"

QString DeviceDisplayName(const QString &manufacturer, const QString &description)
{
    const QString joined = TrimControl(manufacturer) + QLatin1Char(' ') + TrimControl(description);
    QString name;
    name.reserve(joined.size());
    bool inControl = false;
    for (const QChar c : joined) {
        const bool control = c.unicode() < 32 || c.unicode() == 127;
        if (control && !inControl)
            name += QLatin1Char(' ');
        else if (!control)
            name += c;
        inControl = control;
    }
    return TrimControl(name);
}

DeviceDiscovery::DeviceDiscovery(DeviceConnection &connection, LogSink &log) : connection_(connection), log_(log) {}

int DeviceDiscovery::ScanPortableDevices(DiscoveryHost &host)
{
    const std::shared_ptr<IPortableDeviceManager> manager = connection_.Service().CreateManager();
    if (!manager) {
        log_.WriteLog(QStringLiteral("No Portable Devices found."), LogColor::Red);
        return 0;
    }
    QStringList ids;
    const HRESULT hr = manager->GetDevices(ids);
    const int count = SUCCEEDED(hr) ? int(ids.size()) : 0;
    log_.WriteLog(QString::number(count) + (count == 1 ? QStringLiteral(" Device Found.") : QStringLiteral(" Devices Found.")),
                  LogColor::Black);
    if (FAILED(hr) || count == 0) {
        log_.WriteLog(QStringLiteral("No Portable Devices found."), LogColor::Red);
        return 0;
    }

    host.ClearCatalogue();
    count_ = 0;
    log_.WriteLog(QString::number(count) +
                      (count == 1 ? QStringLiteral(" Portable Device found.") : QStringLiteral(" Portable Devices found.")),
                  LogColor::Black);
    for (const QString &id : std::as_const(ids)) {
        if (count_ == kMaxConnectedDevices) {
            log_.WriteLog(QStringLiteral("Only the first %1 devices are used; %2 more attached devices are ignored.")
                              .arg(kMaxConnectedDevices)
                              .arg(count - kMaxConnectedDevices),
                          LogColor::Red);
            break;
        }
        QString manufacturer, description, friendlyName;
        manager->GetDeviceManufacturer(id, manufacturer);
        manager->GetDeviceDescription(id, description);
        manager->GetDeviceFriendlyName(id, friendlyName);
        const QString serial = connection_.GetDeviceSerialNo(id);
        const QString name = DeviceDisplayName(manufacturer, description);

        if (host.IsKnownDevice(name)) {
            log_.WriteLog(QStringLiteral("Device = ") + name, LogColor::Blue);
            log_.WriteLog(QStringLiteral("Name = ") + friendlyName, LogColor::Blue);
            log_.WriteLog(QStringLiteral("Serial No. = ") + serial, LogColor::Black);
            log_.WriteLog(QStringLiteral("Device ID = ") + id, LogColor::Black);
        } else {
            log_.WriteLog(QStringLiteral("New device found \"%1\"").arg(name), LogColor::Green);
            log_.WriteLog(QStringLiteral("Name = ") + friendlyName, LogColor::Green);
            log_.WriteLog(QStringLiteral("Serial No. = ") + serial, LogColor::Green);
            log_.WriteLog(QStringLiteral("Device ID = ") + id, LogColor::Black);
            host.AddNewDevice(name, serial);
        }
        connected_[size_t(count_++)] = TDevice{name, serial, id};
    }
    return count_;
}

QString DeviceDiscovery::FindDeviceID(const QString &name, const QString &serial) const
{
    QString id;
    for (int i = 0; i < count_; ++i) {
        const TDevice &device = connected_[size_t(i)];
        if (device.DeviceName == name && device.DeviceSerialNo == serial)
            id = device.DeviceID;
    }
    return id;
}
