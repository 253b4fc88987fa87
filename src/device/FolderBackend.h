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
    // Only the folders that can bear the name are looked at: a mounted
    // volume's name comes from the mount table and the system's disk
    // information, so no other mount is touched (a hung network or FUSE
    // mount holds up nothing).
    HRESULT EnumerateNamed(const QString &name, std::vector<DeviceEntry> &devices) override;
    HRESULT Open(const QString &deviceId, std::shared_ptr<DeviceSession> &session) override;

    static QString DeviceIdFor(const QString &folder);
    // The folder a device of ours stands for; empty for any other device.
    static QString FolderOfDevice(const QString &deviceId);
    // Mount points from a mount table (/proc/self/mountinfo syntax) whose
    // root holds a DCIM folder.
    static QStringList CardMounts(const QByteArray &mountTable);
    // The mount points of a mount table that may be cards, without looking
    // into any of them.
    static QStringList MountPoints(const QByteArray &mountTable);
    static QStringList DefaultFolders();
    // The folders the user added as devices, which the window remembers in
    // the settings file; part of the default folders from here on.
    static void SetAddedFolders(const QStringList &folders);
    static QStringList AddedFolders();
    // How the device list names a folder or volume.
    static DeviceEntry NameDevice(const QString &path, const VolumeIdentity &volume, bool card);
    // The device a folder is, by its canonical path.
    static DeviceEntry EntryFor(const QString &path);
    // True when the folder is a mounted memory card (a volume with DCIM).
    static bool IsMountedCard(const QString &path);

private:
    std::function<QStringList()> folders_;
    bool defaultFolders_;
};
