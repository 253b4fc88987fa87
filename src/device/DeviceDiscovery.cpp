#include "DeviceDiscovery.h"

#include "base/TextRules.h"
#include "device/DeviceConnection.h"
#include "log/LogSink.h"

#include <algorithm>

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

DeviceDiscovery::DeviceDiscovery(DeviceConnection &connection, LogSink &log) : connection_(connection), log_(log)
{
}

int DeviceDiscovery::ScanPortableDevices(DiscoveryHost &host)
{
    return Scan(host, nullptr) ? count_ : 0;
}

namespace {

// One attached device is the same one again while its identifier and name stay.
bool Holds(const std::vector<TDevice> &table, const TDevice &device)
{
    return std::any_of(table.begin(), table.end(), [&](const TDevice &d) {
        return d.DeviceID == device.DeviceID && d.DeviceName == device.DeviceName;
    });
}

}  // namespace

DeviceChanges DeviceDiscovery::RescanForChanges(DiscoveryHost &host)
{
    const std::vector<TDevice> before(connected_.begin(), connected_.begin() + count_);
    DeviceChanges changes;
    if (!Scan(host, &before))
        return changes;
    const std::vector<TDevice> after(connected_.begin(), connected_.begin() + count_);
    for (const TDevice &device : before)
        if (!Holds(after, device)) {
            log_.WriteLog(QStringLiteral("Device \"%1\" was disconnected.").arg(device.DeviceName), LogColor::Red);
            changes.went.push_back(device);
        }
    for (const TDevice &device : after)
        if (!Holds(before, device))
            changes.came.push_back(device);
    return changes;
}

bool DeviceDiscovery::Scan(DiscoveryHost &host, const std::vector<TDevice> *before)
{
    const bool quiet = before != nullptr;
    const std::shared_ptr<IPortableDeviceManager> manager = connection_.Service().CreateManager();
    if (!manager) {
        log_.WriteLog(QStringLiteral("No Portable Devices found."), LogColor::Red);
        return false;
    }
    QStringList ids;
    const HRESULT hr = manager->GetDevices(ids);
    const int count = SUCCEEDED(hr) ? int(ids.size()) : 0;
    if (!quiet)
        log_.WriteLog(QString::number(count) +
                          (count == 1 ? QStringLiteral(" Device Found.") : QStringLiteral(" Devices Found.")),
                      LogColor::Black);
    if (FAILED(hr)) {
        log_.WriteLog(QStringLiteral("No Portable Devices found."), LogColor::Red);
        return false;
    }
    if (count == 0) {
        // After a change that took the last device away, the table must say so.
        if (quiet)
            count_ = 0;
        else
            log_.WriteLog(QStringLiteral("No Portable Devices found."), LogColor::Red);
        return quiet;
    }

    // The catalogue shows the open device, which a rescan leaves open.
    if (!quiet)
        host.ClearCatalogue();
    count_ = 0;
    if (!quiet)
        log_.WriteLog(QString::number(count) + (count == 1 ? QStringLiteral(" Portable Device found.")
                                                           : QStringLiteral(" Portable Devices found.")),
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
        const TDevice device{name, serial, id};

        if (host.IsKnownDevice(name)) {
            if (quiet) {
                if (!Holds(*before, device))
                    log_.WriteLog(QStringLiteral("Device \"%1\" was connected.").arg(name), LogColor::Green);
            } else {
                log_.WriteLog(QStringLiteral("Device = ") + name, LogColor::Blue);
                log_.WriteLog(QStringLiteral("Name = ") + friendlyName, LogColor::Blue);
                log_.WriteLog(QStringLiteral("Serial No. = ") + serial, LogColor::Black);
                log_.WriteLog(QStringLiteral("Device ID = ") + id, LogColor::Black);
            }
        } else {
            log_.WriteLog(QStringLiteral("New device found \"%1\"").arg(name), LogColor::Green);
            if (!quiet) {
                log_.WriteLog(QStringLiteral("Name = ") + friendlyName, LogColor::Green);
                log_.WriteLog(QStringLiteral("Serial No. = ") + serial, LogColor::Green);
                log_.WriteLog(QStringLiteral("Device ID = ") + id, LogColor::Black);
            }
            host.AddNewDevice(name, serial);
        }
        connected_[size_t(count_++)] = device;
    }
    return true;
}

TDevice DeviceDiscovery::FindNamedDevice(const QString &name, const QString &serial)
{
    const std::shared_ptr<IPortableDeviceManager> manager = connection_.Service().CreateManager();
    QStringList ids;
    if (!manager || FAILED(manager->GetDevicesNamed(name, ids))) {
        log_.WriteLog(QStringLiteral("No Portable Devices found."), LogColor::Red);
        return TDevice{};
    }
    for (const QString &id : std::as_const(ids)) {
        const QString found = connection_.GetDeviceSerialNo(id);
        if (!serial.isEmpty() && found != serial) {
            log_.WriteLog(QStringLiteral("Device \"%1\" with serial number \"%2\" is not the one in the settings "
                                         "(serial number \"%3\").")
                              .arg(name, found, serial),
                          LogColor::Red);
            continue;
        }
        QString friendlyName;
        manager->GetDeviceFriendlyName(id, friendlyName);
        log_.WriteLog(QStringLiteral("Device = ") + name, LogColor::Blue);
        log_.WriteLog(QStringLiteral("Name = ") + friendlyName, LogColor::Blue);
        log_.WriteLog(QStringLiteral("Serial No. = ") + found, LogColor::Black);
        log_.WriteLog(QStringLiteral("Device ID = ") + id, LogColor::Black);
        return TDevice{name, found, id};
    }
    return TDevice{};
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
