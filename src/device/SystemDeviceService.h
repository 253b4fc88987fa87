#pragma once

#include "device/PortableDevice.h"

// The devices of this computer, as the running program sees them.
std::unique_ptr<DeviceService> CreateSystemDeviceService();

// Where the program looks for this computer's devices. Tests and scripts
// narrow it so that they never see, copy from or delete on a card, camera or
// phone they did not make: FERROVANE_MOUNTINFO names a mount table (in
// /proc/self/mountinfo syntax) to read instead of the system's, and
// FERROVANE_NO_USB, when set and not "0", leaves out USB cameras, phones and
// players (no libgphoto2 ports, no udev events).
QString MountTablePath();
bool UsbDevicesOffered();

// What is wrong with the entries of a FERROVANE_FOLDER_DEVICES list (folders
// separated by ":"), one log line each: an entry that does not exist or is
// not a folder is not offered as a device.
QStringList FolderDeviceTrouble(const QString &folderList);
// The same for folders one by one (a folder added in the window).
QStringList FolderDeviceTrouble(const QStringList &folders);
