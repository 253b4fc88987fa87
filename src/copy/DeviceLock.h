#pragma once

#include <QString>

// One copier per device at a time, across every Ferrovane of this user: the
// window's copy run, a catalogue copy and a copy from the command line each
// hold the device's lock (a file named after the device identifier, locked
// with flock) while they work. The system releases the lock of a process that
// ends in any way, so no lock is ever left behind.
//
// The locks live in one folder per user whatever the environment says, so
// that a copy started from the desktop and one started by cron (without
// XDG_RUNTIME_DIR) meet: /tmp/ferrovane-UID, made private to the user (0700)
// and refused when another user owns it or may enter it. Test programs name
// a folder of their own in FERROVANE_LOCK_FOLDER, so that their runs, which
// share made-up device identifiers, never meet.
class DeviceLock
{
public:
    explicit DeviceLock(const QString &deviceId);
    ~DeviceLock();
    DeviceLock(const DeviceLock &) = delete;
    DeviceLock &operator=(const DeviceLock &) = delete;

    // False when another copier (in this process or another) holds it, or
    // the lock file cannot be made (Failure() then says why).
    bool TryLock();
    bool IsLocked() const { return locked_; }
    // The process that holds the lock, or 0 when that is unknown.
    qint64 HolderPid() const;
    // Why the lock file could not be made; empty when it could.
    QString Failure() const { return failure_; }
    // The red line that says why a copy did not start.
    QString RefusalText(const QString &deviceName) const;

    QString Path() const { return folder_ + QLatin1Char('/') + name_; }
    // The folder of this user's locks.
    static QString Folder();

private:
    // Opens the folder, checked to be this user's own; false with failure_ set.
    bool OpenFolder();

    QString folder_;
    QString name_;
    int folderFd_ = -1;
    int fd_ = -1;
    bool locked_ = false;
    QString failure_;
};
