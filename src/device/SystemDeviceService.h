#pragma once

#include "device/PortableDevice.h"

// The devices of this computer, as the running program sees them.
std::unique_ptr<DeviceService> CreateSystemDeviceService();

// What is wrong with the entries of a FERROVANE_FOLDER_DEVICES list (folders
// separated by ":"), one log line each: an entry that does not exist or is
// not a folder is not offered as a device.
QStringList FolderDeviceTrouble(const QString &folderList);
// The same for folders one by one (a folder added in the window).
QStringList FolderDeviceTrouble(const QStringList &folders);
