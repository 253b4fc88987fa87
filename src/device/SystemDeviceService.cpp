#include "SystemDeviceService.h"

#include "device/DeviceSession.h"
#include "device/FolderBackend.h"
#include "device/GPhotoBackend.h"

std::unique_ptr<DeviceService> CreateSystemDeviceService()
{
    std::vector<std::shared_ptr<DeviceBackend>> backends;
    backends.push_back(std::make_shared<FolderBackend>());
    backends.push_back(std::make_shared<GPhotoBackend>(CreateLibGPhotoApi()));
    return CreateBackendService(std::move(backends));
}
