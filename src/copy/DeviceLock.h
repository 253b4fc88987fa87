#pragma once

#include <QString>

// One copier per device at a time, across every Ferrovane of this user: the
// window's copy run, a catalogue copy and a copy from the command line each
// hold the device's lock (a file in the user's runtime folder, named after
// the device identifier, locked with flock) while they work. The system
// releases the lock of a process that ends in any way, so no lock is ever
// left behind.
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

    QString Path() const { return path_; }

private:
    QString path_;
    int fd_ = -1;
    bool locked_ = false;
    QString failure_;
};
