#pragma once

// The program without a window: --help, --version, --list, --copy and
// --add-folder, on a QCoreApplication, so no display is needed. Each ends
// with exit code 1 when standard output could not be written.

#include <QString>

#include <cstdint>

class DeviceService;
struct ProgramArguments;

// Does what the arguments ask, or says what is wrong with them (exit code 2);
// returns the exit code.
int RunWithoutWindow(int &argc, char **argv, const ProgramArguments &arguments);

// Prints the attached devices, one a line: name, kind and serial number,
// separated by tabs. Returns the exit code.
int ListDevices(DeviceService &service);

// One copy run of the named attached device with the settings of its
// section (the defaults when it has none) and DESTINATION, when given, in
// place of the saved one; its log on standard output and in a log file.
// Returns the exit code: 0 no errors, 1 errors or no such device, 2 no
// destination, 128 + the signal number when a signal stopped it.
int CopyDevice(const QString &deviceName, const QString &destination, DeviceService &service);

// Remembers a folder as a device, as the window's Add Folder does, and
// prints the device's name. Returns the exit code: 0 done, 1 not.
int AddFolderDevice(const QString &folder, DeviceService &service);

// What --list calls a device: "folder", "card", "camera", "phone", ...
QString DeviceKindName(const QString &deviceId, std::uint32_t deviceType);
