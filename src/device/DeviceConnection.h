#pragma once

#include "device/PortableDevice.h"
#include "log/LogColor.h"

#include <QString>

class LogSink;

// The device-service objects of the open device: one set for the whole
// program, replaced by every open.
struct DeviceHandles
{
    std::shared_ptr<IPortableDeviceManager> aPortableDeviceManager;
    std::shared_ptr<IPortableDevice> aPortableDevice;
    std::shared_ptr<IPortableDeviceContent> aPortableDeviceContent;
    std::shared_ptr<IPortableDeviceProperties> aPortableDeviceProperties;
    std::shared_ptr<PortableDeviceValues> aPortableDeviceValues;
    std::shared_ptr<PortableDeviceKeyCollection> aPortableDeviceKeys;
    std::shared_ptr<IPortableDeviceResources> aPortableDeviceResources;
};

// Opens devices and keeps their handles, reporting each step in the log.
class DeviceConnection
{
public:
    DeviceConnection(DeviceService &service, LogSink &log);

    // Opens the device and logs its type, maker, model, power and serial
    // number (only the debug lines when Quiet). True when the device is open
    // and its properties were read; false, with a line saying what to do,
    // for a phone that shows no storage (locked, or not set to transfer
    // files).
    bool OpenDevice(const QString &DeviceID, bool Quiet);
    // The last OpenDevice failed and its red line already told the user
    // what to do: no second line is needed.
    bool RefusalSaid() const { return refusalSaid_; }

    // Opens the device only to read its serial number, trimmed of blanks and
    // control characters; empty when that fails.
    QString GetDeviceSerialNo(const QString &DeviceID);

    DeviceHandles &Handles() { return handles_; }
    // The device the handles belong to: the last one opened, empty when the
    // last open failed.
    const QString &OpenedDeviceID() const { return openedId_; }
    DeviceService &Service() { return service_; }

    // The selected device: its device-list text (also its settings section),
    // the serial number remembered for it, and the identifier of the attached
    // device that matches both (empty when none does).
    QString CurrentDeviceName;
    QString CurrentDeviceSerialNo;
    QString CurrentDeviceID;

    // The name shown for a WPD_DEVICE_TYPE value.
    static QString DeviceTypeName(std::uint32_t type);

private:
    bool OpenHandles(const QString &DeviceID, bool reportFailures);
    // False when the open device lists nothing under DEVICE.
    bool HasStorage();
    void Failure(bool report, const QString &text, LogColor color);

    DeviceService &service_;
    LogSink &log_;
    QString openedId_;
    DeviceHandles handles_;
    bool refusalSaid_ = false;
};
