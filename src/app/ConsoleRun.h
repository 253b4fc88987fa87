#pragma once

// The program without a window: --help, --version, --list and --copy, on a
// QCoreApplication, so no display is needed.

#include <QString>

#include <cstdint>

class DeviceService;

// Parses the arguments and does what they ask; returns the exit code.
int RunWithoutWindow(int &argc, char **argv);

// Prints the attached devices, one a line: name, kind and serial number,
// separated by tabs. Returns the exit code.
int ListDevices(DeviceService &service);

// One copy run of the named device with its saved settings, its log on
// standard output and in a log file. Returns the exit code: 0 no errors, 1
// errors, 2 a name the device list does not hold, 128 + the signal number
// when a signal stopped it.
int CopyDevice(const QString &deviceName, DeviceService &service);

// What --list calls a device: "folder", "card", "camera", "phone", ...
QString DeviceKindName(const QString &deviceId, std::uint32_t deviceType);
