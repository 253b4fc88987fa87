#include "FolderBackend.h"

#include "device/DeviceDiscovery.h"
#include "device/SystemDeviceService.h"

#include "base/FileNames.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kPrefix = QStringLiteral("folder:");

QByteArray ReadSmallFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(4096) : QByteArray();
}

// Mount table fields escape blanks and the like as \ooo.
QString UnescapeMountField(const QByteArray &field)
{
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += char(code);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return QString::fromUtf8(out);
}

// The name in /dev/disk/by-label or by-uuid that points at a device node.
QString LinkNameFor(const QString &folder, const QString &node)
{
    QDirIterator it(folder, QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        if (QFileInfo(it.filePath()).canonicalFilePath() == node) {
            // udev escapes blanks and slashes as \x20 and \x2f.
            QString name = it.fileName();
            name.replace(QStringLiteral("\\x20"), QStringLiteral(" "));
            name.replace(QStringLiteral("\\x2f"), QStringLiteral("/"));
            return name;
        }
    }
    return QString();
}

class FdStream : public IStream
{
public:
    FdStream(int fd, bool mayHaveHoles) : fd_(fd), mayHaveHoles_(mayHaveHoles) {}
    ~FdStream() override { ::close(fd_); }

    HRESULT Seek(std::int64_t offset, SeekOrigin origin, std::uint64_t *newPosition) override
    {
        const int whence = origin == STREAM_SEEK_SET ? SEEK_SET : origin == STREAM_SEEK_CUR ? SEEK_CUR : SEEK_END;
        const off_t at = ::lseek(fd_, off_t(offset), whence);
        if (at < 0)
            return HResultFromErrno(errno);
        if (newPosition)
            *newPosition = std::uint64_t(at);
        return S_OK;
    }

    HRESULT Read(void *buffer, std::uint32_t count, std::uint32_t *read) override
    {
        if (read)
            *read = 0;
        std::uint32_t total = 0;
        char *out = static_cast<char *>(buffer);
        while (total < count) {
            const ssize_t n = ::read(fd_, out + total, count - total);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return HResultFromErrno(errno);
            }
            if (n == 0)
                break;
            total += std::uint32_t(n);
        }
        if (read)
            *read = total;
        return S_OK;
    }

    int LocalFileDescriptor() override { return fd_; }
    bool LocalFileMayHaveHoles() override { return mayHaveHoles_; }

private:
    int fd_;
    bool mayHaveHoles_;
};

// A failure of the file system as a result code, with the system's own words
// kept for the log. With the folder itself still there, an error below it is
// that folder's trouble (a bad sector, a permission), not a lost card.
HRESULT FileSystemFailure(int error, bool rootPresent)
{
    HRESULT code = HResultFromErrno(error);
    if (!rootPresent)
        code = E_FOLDER_GONE;
    else if (code == E_DEVICE_NOT_CONNECTED)
        code = HRESULT(0x80070000u | (unsigned(error) & 0xFFFF));
    SetDeviceErrorMessage(code, qt_error_string(error));
    return code;
}

class FolderSession : public DeviceSession
{
public:
    FolderSession(QString root, DeviceEntry entry, VolumeIdentity volume)
        : root_(std::move(root)), entry_(std::move(entry)), volume_(std::move(volume))
    {
        token_ = QFileInfo(root_).fileName();
        if (token_.isEmpty())
            token_ = QStringLiteral("root");
        storageId_ = QLatin1Char('/') + token_;
        nativeRoot_ = QFile::encodeName(root_);
    }

    HRESULT DeviceValues(PortableDeviceValues &values) override
    {
        const bool card =
            QFileInfo(root_ + QStringLiteral("/DCIM")).isDir() || QFileInfo(root_ + QStringLiteral("/dcim")).isDir();
        values.SetUnsignedIntegerValue(WPD_DEVICE_TYPE, card ? WPD_DEVICE_TYPE_CAMERA : WPD_DEVICE_TYPE_GENERIC);
        values.SetStringValue(WPD_DEVICE_MANUFACTURER, entry_.manufacturer);
        values.SetStringValue(WPD_DEVICE_MODEL, entry_.description);
        values.SetStringValue(WPD_DEVICE_FRIENDLY_NAME, entry_.friendlyName);
        values.SetStringValue(WPD_OBJECT_NAME, entry_.friendlyName);
        // The volume's UUID recognises a card again; a plain folder is known by its path.
        values.SetStringValue(WPD_DEVICE_SERIAL_NUMBER, volume_.uuid.isEmpty() ? root_ : volume_.uuid);
        // A card reader has no battery to report, so neither power value is set.
        return S_OK;
    }

    HRESULT Children(const QString &parentId, QStringList &childIds) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        childIds.clear();
        if (parentId == QLatin1String("DEVICE")) {
            if (!RootPresent())
                return E_FOLDER_GONE;
            childIds << storageId_;
            return S_OK;
        }
        QByteArray dir;
        if (const Cached *known = Find(parentId)) {
            // An entry that could not be looked at was reported when its
            // properties were read; it has nothing more to give.
            if (FAILED(known->error) || !known->info.isFolder)
                return S_OK;  // a file has no children
            dir = known->native;
        } else {
            dir = NativePath(parentId);
        }
        if (dir.isEmpty())
            return E_NOT_FOUND;
        return List(parentId, dir, childIds);
    }

    HRESULT IsStorage(const QString &objectId, bool &storage) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            storage = false;
            if (const Cached *cached = Find(objectId))
                return FAILED(cached->error) ? Recorded(cached->error, cached->errorText) : S_OK;
        }
        return DeviceSession::IsStorage(objectId, storage);
    }

    HRESULT Info(const QString &objectId, ObjectInfo &info) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (objectId == storageId_) {
            info = ObjectInfo{};
            info.name = root_;
            info.isStorage = true;
            info.contentType = ContentTypeGuid(QStringLiteral("FUNCTIONAL_OBJECT"));
            info.dateCreated = WpdDateText(QFileInfo(root_).lastModified());
            return RootPresent() ? S_OK : E_FOLDER_GONE;
        }
        const Cached *cached = Find(objectId);
        if (!cached) {
            // Not met in a listing yet: its folder is listed now.
            if (NativePath(objectId).isEmpty())
                return RootPresent() ? E_NOT_FOUND : E_FOLDER_GONE;
            cached = Find(objectId);
            if (!cached)
                return E_NOT_FOUND;
        }
        if (FAILED(cached->error))
            return Recorded(cached->error, cached->errorText);
        info = cached->info;
        return S_OK;
    }

    HRESULT OpenStream(const QString &objectId, std::shared_ptr<IStream> &stream) override
    {
        QByteArray path;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            path = NativePath(objectId);
        }
        if (path.isEmpty() || objectId == storageId_)
            return E_NOT_FOUND;
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return FileSystemFailure(errno, RootPresent());
        struct stat st
        {
        };
        if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
            ::close(fd);
            return E_ACCESSDENIED;
        }
        // Read-ahead as it is covers a photo; a video gains from more.
        if (st.st_size > off_t(kTransferChunkSize))
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        stream =
            std::make_shared<FdStream>(fd, !S_ISREG(st.st_mode) || qint64(st.st_blocks) * 512 < qint64(st.st_size));
        return S_OK;
    }

    HRESULT Delete(const QString &objectId) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (objectId == storageId_)
            return E_ACCESSDENIED;
        const QByteArray native = NativePath(objectId);
        if (native.isEmpty())
            return RootPresent() ? E_NOT_FOUND : E_FOLDER_GONE;
        struct stat st
        {
        };
        if (::lstat(native.constData(), &st) != 0)
            return FileSystemFailure(errno, RootPresent());
        if (S_ISDIR(st.st_mode)) {
            if (::rmdir(native.constData()) != 0)
                return FileSystemFailure(errno, RootPresent());
            Forget(objectId);
            return S_OK;
        }
        // Cameras mark protected pictures read-only; such a file stays.
        if (!(st.st_mode & S_IWUSR))
            return E_ACCESSDENIED;
        if (::unlink(native.constData()) != 0)
            return FileSystemFailure(errno, RootPresent());
        Forget(objectId);
        return S_OK;
    }

private:
    // What a listing learnt of one entry: its properties, the bytes of its
    // path (a name need not be valid UTF-8: its name keeps the odd bytes as
    // base/FileNames.h says, and every file-system call uses the bytes), or
    // why it could not be looked at.
    struct Cached
    {
        ObjectInfo info;
        QByteArray native;
        HRESULT error = S_OK;
        QString errorText;
        bool deleted = false;
    };

    // The walk hands back the identifiers it was given: the same text
    // usually shares its characters.
    static bool SameText(const QString &a, const QString &b)
    {
        return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
    }

    // A folder as listed last: its children in the order they were handed
    // out, with what the listing learnt of each. A walk asks about them in
    // that order, so the next one is tried first; one asked for out of turn
    // is found through a table made the first time that happens.
    struct Listing
    {
        std::vector<QString> ids;
        std::vector<Cached> entries;
        QHash<QString, std::size_t> byId;
        std::size_t next = 0;

        Cached *Find(const QString &objectId)
        {
            std::size_t at = next;
            if (at >= ids.size() || !SameText(ids[at], objectId)) {
                if (byId.isEmpty()) {
                    byId.reserve(qsizetype(ids.size()));
                    for (std::size_t i = 0; i < ids.size(); ++i)
                        byId.insert(ids[i], i);
                }
                const auto found = byId.constFind(objectId);
                if (found == byId.constEnd())
                    return nullptr;
                at = *found;
            }
            next = at + 1;
            return entries[at].deleted ? nullptr : &entries[at];
        }
    };

    bool RootPresent() const { return QFileInfo(root_).isDir(); }

    static HRESULT Recorded(HRESULT code, const QString &text)
    {
        SetDeviceErrorMessage(code, text);
        return code;
    }

    // The cached entry of an identifier, or null. A walk asks about each
    // object several times in a row (its properties, then its children), and
    // about the children of a folder in the order they were listed: the
    // entry found last and the next one of the folder asked about last are
    // tried before the folder's own listing is looked up.
    const Cached *Find(const QString &objectId)
    {
        if (last_ && SameText(objectId, lastId_))
            return last_;
        Cached *found = nullptr;
        if (current_ && current_->next < current_->ids.size() && SameText(current_->ids[current_->next], objectId)) {
            found = current_->Find(objectId);
        } else {
            const qsizetype slash = objectId.lastIndexOf(QLatin1Char('/'));
            const auto listing = slash > 0 ? listings_.constFind(objectId.left(slash)) : listings_.constEnd();
            if (listing == listings_.constEnd())
                return nullptr;
            current_ = listing->get();
            found = current_->Find(objectId);
        }
        if (found) {
            lastId_ = objectId;
            last_ = found;
        }
        return found;
    }

    void LetGoOfRecent()
    {
        last_ = nullptr;
        current_ = nullptr;
    }

    // A deleted object is not found again; a deleted folder's listing goes.
    void Forget(const QString &objectId)
    {
        Find(objectId);
        if (last_)
            const_cast<Cached *>(last_)->deleted = true;
        listings_.remove(objectId);
        LetGoOfRecent();
    }

    static bool BytesBefore(QByteArrayView a, QByteArrayView b)
    {
        const int byBytes = std::memcmp(a.data(), b.data(), size_t(std::min(a.size(), b.size())));
        return byBytes != 0 ? byBytes < 0 : a.size() < b.size();
    }

    // What the one look at an entry says: its statx, or for a link the stat
    // of the file it leads to.
    struct Look
    {
        unsigned mode = 0;
        std::uint64_t size = 0;
        std::int64_t seconds = 0;
        std::uint32_t nanoseconds = 0;
    };

    static bool LookAt(int folder, const char *name, Look &look)
    {
        constexpr unsigned kWanted = STATX_TYPE | STATX_SIZE | STATX_MTIME;
        struct statx sx
        {
        };
        if (::statx(folder, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, kWanted, &sx) == 0 &&
            (sx.stx_mask & kWanted) == kWanted) {
            look = {sx.stx_mode, sx.stx_size, sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec};
            return true;
        }
        // A file system that cannot say all three through statx.
        struct stat st
        {
        };
        if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        look = {unsigned(st.st_mode), std::uint64_t(st.st_size), st.st_mtim.tv_sec, std::uint32_t(st.st_mtim.tv_nsec)};
        return true;
    }

    // Reads one folder into the cache; childIds in camera order.
    HRESULT List(const QString &parentId, const QByteArray &native, QStringList &childIds)
    {
        DIR *folder = ::opendir(native.constData());
        if (!folder) {
            const int error = errno;
            if (error == ENOTDIR)
                return S_OK;  // a file has no children
            return FileSystemFailure(error, RootPresent());
        }
        // Straight from the directory, with one statx per entry and none for
        // what the entry's type already rules out; every property of an
        // object comes from that one look. A phone folder can hold thousands
        // of files.
        struct Entry
        {
            Cached cached;
            qsizetype nameAt = 0;  // where the name starts in cached.native
            QByteArrayView raw() const { return QByteArrayView(cached.native).sliced(nameAt); }
        };
        std::vector<Entry> entries;
        const QByteArray rootPrefix = nativeRoot_ + '/';
        const int dfd = ::dirfd(folder);
        int readError = 0;
        // Names of plain printable ASCII show as their bytes, and sort so.
        bool plainNames = true;
        for (;;) {
            errno = 0;
            const dirent *e = ::readdir(folder);
            if (!e) {
                readError = errno;
                break;
            }
            const char *name = e->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            if (e->d_type == DT_CHR || e->d_type == DT_BLK || e->d_type == DT_FIFO || e->d_type == DT_SOCK)
                continue;  // devices, sockets, pipes
            const QByteArray raw = QByteArray::fromRawData(name, qsizetype(std::strlen(name)));
            for (const char c : raw)
                plainNames = plainNames && c >= 0x20 && c < 0x7F;
            Entry entry;
            entry.cached.native.reserve(native.size() + 1 + raw.size());
            entry.cached.native.append(native).append('/');
            entry.nameAt = entry.cached.native.size();
            entry.cached.native.append(raw);
            const QString shown = nameFromBytes(raw);
            entry.cached.info.name = shown;
            entry.cached.info.originalFileName = shown;
            Look look;
            if (!LookAt(dfd, name, look)) {
                const int error = errno;
                if (error == ENOENT)
                    continue;  // removed while being listed
                // Listed, so that reading it fails by name instead of the
                // file vanishing without a word.
                entry.cached.error = FileSystemFailure(error, RootPresent());
                entry.cached.errorText = qt_error_string(error);
                entry.cached.info.contentType = ContentTypeForFileName(shown);
                entries.push_back(std::move(entry));
                continue;
            }
            if (S_ISLNK(look.mode)) {
                // Only links to files inside the folder; never to folders (a
                // link to a parent would never end).
                char resolved[PATH_MAX];
                struct stat st
                {
                };
                if (!::realpath(entry.cached.native.constData(), resolved) ||
                    !QByteArray(resolved).startsWith(rootPrefix) || ::stat(resolved, &st) != 0 || !S_ISREG(st.st_mode))
                    continue;
                look = {unsigned(st.st_mode), std::uint64_t(st.st_size), st.st_mtim.tv_sec,
                        std::uint32_t(st.st_mtim.tv_nsec)};
            }
            if (!S_ISDIR(look.mode) && !S_ISREG(look.mode))
                continue;  // devices, sockets, pipes
            ObjectInfo &info = entry.cached.info;
            info.dateCreated = WpdDateText(look.seconds, int(look.nanoseconds / 1000000));
            info.isFolder = S_ISDIR(look.mode);
            if (info.isFolder) {
                static const QString folderType = ContentTypeGuid(QStringLiteral("FOLDER"));
                info.contentType = folderType;
            } else {
                info.contentType = ContentTypeForFileName(shown);
                info.size = look.size;
            }
            entries.push_back(std::move(entry));
        }
        ::closedir(folder);
        if (readError != 0)
            return FileSystemFailure(readError, RootPresent());
        // Files before folders, each by name, as a camera lists them. The
        // entries stay where they are; only their order is sorted.
        std::vector<std::uint32_t> order(entries.size());
        for (std::uint32_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&entries, plainNames](std::uint32_t x, std::uint32_t y) {
            const Entry &a = entries[x];
            const Entry &b = entries[y];
            if (a.cached.info.isFolder != b.cached.info.isFolder)
                return !a.cached.info.isFolder;
            if (plainNames)
                return BytesBefore(a.raw(), b.raw());
            if (const int byName = QString::compare(a.cached.info.name, b.cached.info.name); byName != 0)
                return byName < 0;
            return BytesBefore(a.raw(), b.raw());
        });
        auto listing = std::make_shared<Listing>();
        listing->ids.reserve(entries.size());
        listing->entries.reserve(entries.size());
        childIds.reserve(qsizetype(entries.size()));
        for (const std::uint32_t index : order) {
            Entry &entry = entries[index];
            const QString &name = entry.cached.info.name;
            // Names keep their bytes, so no two entries share an identifier.
            QString id;
            id.reserve(parentId.size() + 1 + name.size());
            id.append(parentId).append(QLatin1Char('/')).append(name);
            childIds << id;
            listing->ids.push_back(std::move(id));
            listing->entries.push_back(std::move(entry.cached));
        }
        LetGoOfRecent();
        listings_.insert(parentId, listing);
        current_ = listing.get();
        return S_OK;
    }

    // The bytes of an object's local path, or empty when the identifier does
    // not name a place inside the folder. Identifiers not met in a listing
    // yet are found by listing their folder.
    QByteArray NativePath(const QString &objectId)
    {
        if (objectId == storageId_)
            return nativeRoot_;
        if (const Cached *cached = Find(objectId))
            return cached->native;
        if (!objectId.startsWith(storageId_ + QLatin1Char('/')))
            return QByteArray();
        for (const QString &part : objectId.mid(storageId_.size() + 1).split(QLatin1Char('/')))
            if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
                return QByteArray();
        const QString parentId = objectId.left(objectId.lastIndexOf(QLatin1Char('/')));
        const QByteArray parent = NativePath(parentId);
        QStringList ignored;
        if (parent.isEmpty() || FAILED(List(parentId, parent, ignored)))
            return QByteArray();
        const Cached *listed = Find(objectId);
        return listed ? listed->native : QByteArray();
    }

    QString root_;
    QByteArray nativeRoot_;
    DeviceEntry entry_;
    VolumeIdentity volume_;
    QString token_;
    QString storageId_;
    std::mutex mutex_;
    // Every folder listed so far, by its identifier.
    QHash<QString, std::shared_ptr<Listing>> listings_;
    Listing *current_ = nullptr;
    QString lastId_;
    const Cached *last_ = nullptr;
};

}  // namespace

VolumeIdentity IdentifyVolume(const QString &folder)
{
    VolumeIdentity id;
    QFile mounts(MountTablePath());
    const QByteArray table = mounts.open(QIODevice::ReadOnly) ? mounts.readAll() : QByteArray();
    QString node;
    // The mount point is the fifth field; the source follows the file
    // system's type after the "-" that ends the optional fields.
    for (const QByteArray &line : table.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5 || UnescapeMountField(fields[4]) != folder)
            continue;
        id.mountRoot = true;
        const qsizetype dash = fields.indexOf(QByteArray("-"), 5);
        node = dash > 0 && dash + 2 < fields.size()
                   ? QFileInfo(UnescapeMountField(fields[dash + 2])).canonicalFilePath()
                   : QString();
    }
    if (node.startsWith(QStringLiteral("/dev/"))) {
        const QString name = QFileInfo(node).fileName();
        // A partition's block directory sits inside its disk's, which has the device.
        QString sys = QFileInfo(QStringLiteral("/sys/class/block/") + name).canonicalFilePath();
        for (int up = 0; up < 3 && !sys.isEmpty(); ++up) {
            if (QFile::exists(sys + QStringLiteral("/device/vendor")) ||
                QFile::exists(sys + QStringLiteral("/device/model"))) {
                id.vendor = QString::fromUtf8(ReadSmallFile(sys + QStringLiteral("/device/vendor"))).trimmed();
                id.model = QString::fromUtf8(ReadSmallFile(sys + QStringLiteral("/device/model"))).trimmed();
                break;
            }
            sys = QFileInfo(sys).path();
        }
        id.label = LinkNameFor(QStringLiteral("/dev/disk/by-label"), node);
        id.uuid = LinkNameFor(QStringLiteral("/dev/disk/by-uuid"), node);
    }
    return id;
}

FolderBackend::FolderBackend(std::function<QStringList()> folders)
    : folders_(folders ? std::move(folders) : std::function<QStringList()>(&FolderBackend::DefaultFolders)),
      defaultFolders_(!folders)
{
}

QString FolderBackend::DeviceIdFor(const QString &folder)
{
    return kPrefix + folder;
}

QString FolderBackend::FolderOfDevice(const QString &deviceId)
{
    return deviceId.startsWith(kPrefix) ? deviceId.mid(kPrefix.size()) : QString();
}

bool FolderBackend::Owns(const QString &deviceId) const
{
    return deviceId.startsWith(kPrefix);
}

QStringList FolderBackend::MountPoints(const QByteArray &mountTable)
{
    // "36 35 98:0 /mnt1 /mnt/card rw,noatime master:1 - vfat /dev/sdb1 rw"
    QStringList mounts;
    for (const QByteArray &line : mountTable.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5)
            continue;
        const QString point = UnescapeMountField(fields[4]);
        if (point == QLatin1String("/") || point.startsWith(QStringLiteral("/proc")) ||
            point.startsWith(QStringLiteral("/sys")) || point.startsWith(QStringLiteral("/dev")))
            continue;
        mounts << point;
    }
    return mounts;
}

namespace {

bool HoldsDcim(const QString &folder)
{
    return QFileInfo(folder + QStringLiteral("/DCIM")).isDir() || QFileInfo(folder + QStringLiteral("/dcim")).isDir();
}

QStringList EnvironmentFolders()
{
    return qEnvironmentVariable("FERROVANE_FOLDER_DEVICES").split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

}  // namespace

QStringList FolderBackend::CardMounts(const QByteArray &mountTable)
{
    QStringList mounts = MountPoints(mountTable);
    mounts.removeIf([](const QString &point) { return !HoldsDcim(point); });
    return mounts;
}

namespace {

// Set on the user-interface thread, read by scans and opens on the worker.
std::mutex addedFoldersMutex;
QStringList addedFolders;

}  // namespace

void FolderBackend::SetAddedFolders(const QStringList &folders)
{
    std::lock_guard<std::mutex> lock(addedFoldersMutex);
    addedFolders = folders;
}

QStringList FolderBackend::AddedFolders()
{
    std::lock_guard<std::mutex> lock(addedFoldersMutex);
    return addedFolders;
}

QStringList FolderBackend::DefaultFolders()
{
    QFile mounts(MountTablePath());
    QStringList folders;
    if (mounts.open(QIODevice::ReadOnly))
        folders = CardMounts(mounts.readAll());
    return folders + EnvironmentFolders() + AddedFolders();
}

namespace {

// A text from sysfs that names something: not empty, with a letter in it,
// and not a bare hexadecimal id ("0x1af4").
bool ReadableName(const QString &text)
{
    static const QRegularExpression hexId(QStringLiteral("^(0x)?[0-9a-fA-F]+$"));
    bool letter = false;
    for (QChar c : text)
        letter |= c.isLetter();
    return letter && !hexId.match(text).hasMatch();
}

}  // namespace

DeviceEntry FolderBackend::NameDevice(const QString &path, const VolumeIdentity &volume, bool card)
{
    DeviceEntry entry;
    entry.deviceId = DeviceIdFor(path);
    const QString vendor = volume.vendor.trimmed();
    const QString model = volume.model.trimmed();
    const QString label = volume.label.trimmed();
    QString folderName = QFileInfo(path).fileName();
    if (folderName.isEmpty())
        folderName = path;  // "/"
    if (volume.mountRoot && ReadableName(vendor)) {
        entry.manufacturer = vendor;
        entry.description = !label.isEmpty() ? label : ReadableName(model) ? model : folderName;
    } else if (volume.mountRoot) {
        // Without a vendor that names anything, the volume is known by its
        // label or its folder's name.
        entry.manufacturer = card ? QStringLiteral("Memory Card") : QStringLiteral("Folder");
        entry.description = !label.isEmpty() ? label : folderName;
    } else {
        entry.manufacturer = QStringLiteral("Folder");
        entry.description = folderName;
    }
    entry.friendlyName = label.isEmpty() ? path : label;
    return entry;
}

DeviceEntry FolderBackend::EntryFor(const QString &path)
{
    return NameDevice(path, IdentifyVolume(path), HoldsDcim(path));
}

bool FolderBackend::IsMountedCard(const QString &path)
{
    return IdentifyVolume(path).mountRoot && HoldsDcim(path);
}

HRESULT FolderBackend::Enumerate(std::vector<DeviceEntry> &devices)
{
    devices.clear();
    QStringList seen;
    for (const QString &folder : folders_()) {
        const QString path = QFileInfo(folder).canonicalFilePath();
        if (path.isEmpty() || !QFileInfo(path).isDir() || seen.contains(path))
            continue;
        seen << path;
        devices.push_back(EntryFor(path));
    }
    return S_OK;
}

HRESULT FolderBackend::EnumerateNamed(const QString &name, std::vector<DeviceEntry> &devices)
{
    if (!defaultFolders_)
        return DeviceBackend::EnumerateNamed(name, devices);
    devices.clear();
    const auto named = [&name](const DeviceEntry &entry) {
        return DeviceDisplayName(entry.manufacturer, entry.description) == name;
    };
    // A mount point in the table is already canonical; it is looked into
    // only when its name may be the one wanted.
    QStringList folders;
    QFile mounts(MountTablePath());
    for (const QString &point : MountPoints(mounts.open(QIODevice::ReadOnly) ? mounts.readAll() : QByteArray()))
        if (named(NameDevice(point, IdentifyVolume(point), true)) && HoldsDcim(point))
            folders << point;
    // The folders named by the user are their own to look at.
    folders << EnvironmentFolders() << AddedFolders();
    QStringList seen;
    for (const QString &folder : std::as_const(folders)) {
        const QString path = QFileInfo(folder).canonicalFilePath();
        if (path.isEmpty() || !QFileInfo(path).isDir() || seen.contains(path))
            continue;
        seen << path;
        if (DeviceEntry entry = EntryFor(path); named(entry))
            devices.push_back(std::move(entry));
    }
    return S_OK;
}

HRESULT FolderBackend::Open(const QString &deviceId, std::shared_ptr<DeviceSession> &session)
{
    const QString path = deviceId.mid(kPrefix.size());
    if (!QFileInfo(path).isDir())
        return E_FOLDER_GONE;
    // Named as the device list names it; no other folder is looked at.
    session = std::make_shared<FolderSession>(path, EntryFor(path), IdentifyVolume(path));
    return S_OK;
}
