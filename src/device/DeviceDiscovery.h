#pragma once

#include <QString>

#include <array>
#include <vector>

class DeviceConnection;
class LogSink;

// The display name of an attached device: its manufacturer and description
// joined by a blank. The name is also the device's settings section and list
// entry, so it must read back exactly as it was written: every run of control
// characters inside (line breaks, tabs) becomes one blank, and the ends lose
// blanks and control characters.
QString DeviceDisplayName(const QString &manufacturer, const QString &description);

// One attached device found by the last scan.
struct TDevice
{
    QString DeviceName;  // DeviceDisplayName(manufacturer, description)
    QString DeviceSerialNo;
    QString DeviceID;
};

// What the scan needs from the list of known devices around it.
class DiscoveryHost
{
public:
    virtual ~DiscoveryHost() = default;
    // True when an entry of the device list is exactly this name.
    virtual bool IsKnownDevice(const QString &name) = 0;
    // A device seen for the first time: the list gains the name, and the
    // settings remember the name and serial number.
    virtual void AddNewDevice(const QString &name, const QString &serial) = 0;
    // The scan empties the catalogue once it knows the attached devices.
    virtual void ClearCatalogue() = 0;
};

// What a scan found that the table before it did not hold, and what it no
// longer finds.
struct DeviceChanges
{
    std::vector<TDevice> came;
    std::vector<TDevice> went;
};

// Finds the attached devices and keeps the table of the last scan; the
// device list itself belongs to the host.
class DeviceDiscovery
{
public:
    DeviceDiscovery(DeviceConnection &connection, LogSink &log);

    // Refills the table from the device manager, logging each device. A scan
    // that finds nothing keeps the table and the catalogue as they were.
    // Returns the number of devices this scan found (0 when it failed).
    int ScanPortableDevices(DiscoveryHost &host);

    // The scan after the system announced a change: the table and the list
    // follow as in a scan, but the log gets one line per device that came
    // ("Device "NAME" was connected.", green, or the new-device line for one
    // never seen) or went ("Device "NAME" was disconnected.", red), the
    // catalogue is left alone, and finding no device empties the table.
    DeviceChanges RescanForChanges(DiscoveryHost &host);

    // The identifier of the last table entry with exactly this name and
    // serial number; empty when none matches.
    QString FindDeviceID(const QString &name, const QString &serial) const;

    // One device looked up by its name alone, without a scan of the others
    // or a change to the table: the first attached device of that name whose
    // serial number is the given one (any, when none is given), logged as a
    // scan logs it. Empty when none is attached; a device of the name with
    // another serial number is named in the log.
    TDevice FindNamedDevice(const QString &name, const QString &serial);

    static constexpr int kMaxConnectedDevices = 50;
    const TDevice &ConnectedDevice(int index) const { return connected_[size_t(index)]; }
    int ConnectedDeviceCount() const { return count_; }

private:
    // Fills the table; false when the device manager could not be asked.
    // A rescan passes the table as it was, and the scan says only what changed.
    bool Scan(DiscoveryHost &host, const std::vector<TDevice> *before);

    DeviceConnection &connection_;
    LogSink &log_;
    std::array<TDevice, kMaxConnectedDevices> connected_;
    int count_ = 0;
};
