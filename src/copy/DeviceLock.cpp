#include "DeviceLock.h"

#include <QCryptographicHash>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

QString DeviceLock::Folder()
{
    const QString given = qEnvironmentVariable("FERROVANE_LOCK_FOLDER");
    if (!given.isEmpty())
        return given;
    // Not TMPDIR, nor XDG_RUNTIME_DIR: cron and the desktop set them apart.
    return QStringLiteral("/tmp/ferrovane-%1").arg(qulonglong(::getuid()));
}

DeviceLock::DeviceLock(const QString &deviceId) : folder_(Folder())
{
    const QByteArray key = QByteArray::number(qulonglong(::getuid())) + '|' + deviceId.toUtf8();
    const QString id = QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
    name_ = QStringLiteral("device-") + id + QStringLiteral(".lock");
}

DeviceLock::~DeviceLock()
{
    // The file goes while it is still locked: a copier that opened it in the
    // meantime finds it gone once it has the lock, and makes a new one.
    if (locked_)
        ::unlinkat(folderFd_, QFile::encodeName(name_).constData(), 0);
    if (fd_ >= 0)
        ::close(fd_);  // releases the lock
    if (folderFd_ >= 0)
        ::close(folderFd_);
}

bool DeviceLock::OpenFolder()
{
    if (folderFd_ >= 0)
        return true;
    const QByteArray folder = QFile::encodeName(folder_);
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
        failure_ = SystemError(errno);
        return false;
    }
    // Everything from here on goes through this descriptor, so a folder
    // swapped for another after the check is never used.
    folderFd_ = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st
    {
    };
    if (folderFd_ < 0 || ::fstat(folderFd_, &st) != 0) {
        failure_ = SystemError(errno);
    } else if (st.st_uid != ::getuid()) {
        failure_ = QStringLiteral("the folder belongs to another user");
    } else if ((st.st_mode & 077) != 0) {
        failure_ = QStringLiteral("other users may enter the folder");
    } else {
        return true;
    }
    if (folderFd_ >= 0)
        ::close(folderFd_);
    folderFd_ = -1;
    return false;
}

bool DeviceLock::TryLock()
{
    if (locked_)
        return true;
    failure_.clear();
    if (!OpenFolder())
        return false;
    const QByteArray name = QFile::encodeName(name_);
    // A few rounds at most: each one lost means another copier released
    // the lock and removed its file in between.
    for (int round = 0; round < 10; ++round) {
        if (fd_ < 0) {
            // Not inherited by the user's commands, which may outlive the run.
            fd_ = ::openat(folderFd_, name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd_ < 0) {
                failure_ = SystemError(errno);
                return false;
            }
        }
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
            return false;
        struct stat held
        {
        }, named{};
        if (::fstat(fd_, &held) == 0 && ::fstatat(folderFd_, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            locked_ = true;
            // Who holds it, for the refusal another copier writes.
            const QByteArray pid = QByteArray::number(qlonglong(::getpid())) + '\n';
            if (::ftruncate(fd_, 0) == 0) [[maybe_unused]]
                const ssize_t written = ::pwrite(fd_, pid.constData(), size_t(pid.size()), 0);
            return true;
        }
        ::close(fd_);
        fd_ = -1;
    }
    failure_ = QStringLiteral("the lock file keeps changing");
    return false;
}

qint64 DeviceLock::HolderPid() const
{
    QFile file(Path());
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
            .arg(deviceName, Path(), failure_);
    const qint64 pid = HolderPid();
    const QString who = pid > 0 ? QStringLiteral(" (process %1)").arg(pid) : QString();
    return QStringLiteral("Device \"%1\" is being copied by another Ferrovane%2; this copy did not start.")
        .arg(deviceName, who);
}
