#include "SystemDeviceService.h"

#include "device/DeviceSession.h"
#include "device/FolderBackend.h"
#include "device/GPhotoBackend.h"

#include <QFileInfo>

std::unique_ptr<DeviceService> CreateSystemDeviceService()
{
    std::vector<std::shared_ptr<DeviceBackend>> backends;
    backends.push_back(std::make_shared<FolderBackend>());
    if (UsbDevicesOffered())
        backends.push_back(std::make_shared<GPhotoBackend>(CreateLibGPhotoApi()));
    return CreateBackendService(std::move(backends));
}

QString MountTablePath()
{
    const QString given = qEnvironmentVariable("FERROVANE_MOUNTINFO");
    return given.isEmpty() ? QStringLiteral("/proc/self/mountinfo") : given;
}

bool UsbDevicesOffered()
{
    const QByteArray off = qgetenv("FERROVANE_NO_USB");
    return off.isEmpty() || off == "0";
}

QStringList FolderDeviceTrouble(const QString &folderList)
{
    return FolderDeviceTrouble(folderList.split(QLatin1Char(':'), Qt::SkipEmptyParts));
}

QStringList FolderDeviceTrouble(const QStringList &folders)
{
    QStringList lines;
    for (const QString &folder : folders) {
        const QFileInfo info(folder);
        if (!info.exists())
            lines << QStringLiteral("Folder device \"%1\" is not offered: it does not exist.").arg(folder);
        else if (!info.isDir())
            lines << QStringLiteral("Folder device \"%1\" is not offered: it is not a folder.").arg(folder);
    }
    return lines;
}
