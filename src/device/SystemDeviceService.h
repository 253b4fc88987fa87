#pragma once

#include "device/PortableDevice.h"

// The devices of this computer, as the running program sees them.
std::unique_ptr<DeviceService> CreateSystemDeviceService();
