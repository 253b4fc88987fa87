#include "DeviceLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

DeviceLock::DeviceLock(const QString &deviceId)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QByteArray key = QByteArray::number(qulonglong(::getuid())) + '|' + deviceId.toUtf8();
    const QString id = QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
    path_ = folder + QStringLiteral("/ferrovane-device-") + id + QStringLiteral(".lock");
}

DeviceLock::~DeviceLock()
{
    if (fd_ >= 0)
        ::close(fd_);  // releases the lock
}

bool DeviceLock::TryLock()
{
    if (locked_)
        return true;
    if (fd_ < 0) {
        // Not inherited by the user's commands, which may outlive the run.
        fd_ = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) {
            failure_ = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
        return false;
    locked_ = true;
    // Who holds it, for the refusal another copier writes.
    const QByteArray pid = QByteArray::number(qlonglong(::getpid())) + '\n';
    if (::ftruncate(fd_, 0) == 0) [[maybe_unused]]
        const ssize_t written = ::pwrite(fd_, pid.constData(), size_t(pid.size()), 0);
    return true;
}

qint64 DeviceLock::HolderPid() const
{
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 pid = file.read(32).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

QString DeviceLock::RefusalText(const QString &deviceName) const
{
    if (!failure_.isEmpty())
        return QStringLiteral("Device \"%1\" cannot be claimed for copying: %2 (%3); this copy did not start.")
            .arg(deviceName, path_, failure_);
    const qint64 pid = HolderPid();
    const QString who = pid > 0 ? QStringLiteral(" (process %1)").arg(pid) : QString();
    return QStringLiteral("Device \"%1\" is being copied by another Ferrovane%2; this copy did not start.")
        .arg(deviceName, who);
}
