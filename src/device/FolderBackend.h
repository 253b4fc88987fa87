#pragma once

#include "device/DeviceSession.h"

#include <functional>

// What the system knows of the volume a folder is, or lies on.
struct VolumeIdentity
{
    bool mountRoot = false;  // the folder is a mount point
    QString vendor;          // from sysfs, for a removable drive
    QString model;
    QString label;
    QString uuid;
};
VolumeIdentity IdentifyVolume(const QString &folder);

// Memory cards and folders read straight from the file system: mounted
// volumes whose root holds a DCIM folder, the folders named in
// FERROVANE_FOLDER_DEVICES (colon-separated) and the folders the user added
// in the window. Every file is listed, hidden ones included; symbolic links
// never lead out of the folder.
class FolderBackend : public DeviceBackend
{
public:
    // The folders to offer; by default the mounted cards and the
    // environment's folders.
    explicit FolderBackend(std::function<QStringList()> folders = {});

    bool Owns(const QString &deviceId) const override;
    HRESULT Enumerate(std::vector<DeviceEntry> &devices) override;
    HRESULT Open(const QString &deviceId, std::shared_ptr<DeviceSession> &session) override;

    static QString DeviceIdFor(const QString &folder);
    // The folder a device of ours stands for; empty for any other device.
    static QString FolderOfDevice(const QString &deviceId);
    // Mount points from a mount table (/proc/self/mountinfo syntax) whose
    // root holds a DCIM folder.
    static QStringList CardMounts(const QByteArray &mountTable);
    static QStringList DefaultFolders();
    // The folders the user added as devices, which the window remembers in
    // the settings file; part of the default folders from here on.
    static void SetAddedFolders(const QStringList &folders);
    static QStringList AddedFolders();
    // How the device list names a folder or volume.
    static DeviceEntry NameDevice(const QString &path, const VolumeIdentity &volume, bool card);

private:
    std::function<QStringList()> folders_;
};
