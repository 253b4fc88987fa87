#include "StreamTransfer.h"

#include "base/FileNames.h"
#include "base/NumberFormat.h"
#include "device/DeviceSession.h"
#include "log/LogSink.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// Paths hold device names byte for byte (FileNames.h); Qt's encoding would
// change the bytes that are not UTF-8.
QByteArray Native(const QString &path)
{
    return nameToBytes(path);
}

// Opens a local file for reading into file; -1 on success, else errno.
int OpenForReading(const QString &path, QFile &file)
{
    const int fd = ::open(Native(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return EIO;
    }
    return -1;
}

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool IsOutOfHandles(int error)
{
    return error == EMFILE || error == ENFILE;
}

[[noreturn]] void ThrowOutOfResources(const QString &path, int error)
{
    throw OutOfResources(path + QStringLiteral(": ") + ErrorText(error));
}

// Writes all of count bytes; the bytes written, or -1 with errno.
qint64 WriteAll(int fd, const char *data, qint64 count)
{
    qint64 done = 0;
    while (done < count) {
        const ssize_t w = ::write(fd, data + done, size_t(count - done));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (w == 0) {
            errno = EIO;
            return -1;
        }
        done += w;
    }
    return done;
}

bool IsAllZero(const char *data, std::uint32_t n)
{
    static const char zeros[4096] = {};
    for (std::uint32_t at = 0; at < n; at += sizeof zeros) {
        const std::uint32_t part = std::min<std::uint32_t>(sizeof zeros, n - at);
        if (std::memcmp(data + at, zeros, part) != 0)
            return false;
    }
    return true;
}

bool SyncFolder(const QString &folder)
{
    const int fd = ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return ok;
}

// The date a failed device date leaves behind says nothing about the file.
bool IsUsableDate(const QDateTime &when)
{
    return when.isValid() && when.date() != QDate(1899, 12, 30);
}

QString RandomLetters()
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString text;
    for (int i = 0; i < 6; ++i)
        text += QLatin1Char(letters[QRandomGenerator::global()->bounded(62)]);
    return text;
}

// Marks a named temporary as ours, for the leftover cleaner.
const char kTemporaryMark[] = "user.ferrovane.part";

// Large pieces for comparisons and hashes: fewer calls, fewer requests.
constexpr qint64 kComparePiece = 1 << 20;

// A buffer for reading a file of the given size in pieces of at most
// limit bytes: no larger than the file needs, and not cleared (thousands of
// small files would otherwise each cost a cleared megabyte).
std::unique_ptr<char[]> PieceBuffer(qint64 size, qint64 limit, qint64 &length)
{
    length = std::clamp<qint64>(size, 1, limit);
    return std::unique_ptr<char[]>(new char[size_t(length)]);
}

// A big copy made inside the kernel is hashed on a thread of its own while
// it runs, from the pages it has just written, instead of in a second pass
// after it: the copy costs about the time of the copy alone.
class BackgroundHasher
{
public:
    explicit BackgroundHasher(int fd) : fd_(fd), thread_([this] { Run(); }) {}
    ~BackgroundHasher() { Cancel(); }
    BackgroundHasher(const BackgroundHasher &) = delete;
    BackgroundHasher &operator=(const BackgroundHasher &) = delete;

    // The first `end` bytes of the file are final.
    void Written(qint64 end)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            written_ = end;
        }
        wake_.notify_one();
    }
    // The hash of everything said written; nothing when a read failed.
    std::optional<ContentHash> Finish()
    {
        Stop(false);
        return ok_ ? std::optional<ContentHash>(hasher_.Digest()) : std::nullopt;
    }
    void Cancel() { Stop(true); }

private:
    void Stop(bool cancel)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
            cancelled_ = cancelled_ || cancel;
        }
        wake_.notify_one();
        if (thread_.joinable())
            thread_.join();
    }
    void Run()
    {
        const std::unique_ptr<char[]> buffer(new char[kHashReadSize]);
        qint64 at = 0;
        for (;;) {
            qint64 end = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return written_ > at || done_; });
                if (cancelled_ || (done_ && written_ <= at))
                    return;
                end = written_;
            }
            while (at < end) {
                const ssize_t n = ::pread(fd_, buffer.get(), size_t(std::min<qint64>(kHashReadSize, end - at)), at);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    ok_ = false;
                    return;
                }
                hasher_.Update(buffer.get(), size_t(n));
                at += n;
            }
        }
    }

    const int fd_;
    ContentHasher hasher_;
    bool ok_ = true;  // written by the thread, read after it ended
    std::mutex mutex_;
    std::condition_variable wake_;
    qint64 written_ = 0;
    bool done_ = false;
    bool cancelled_ = false;
    std::thread thread_;  // last: it starts once everything above is ready
};

// From this size on, an in-kernel copy is hashed while it runs.
constexpr qint64 kBackgroundHashSize = 16 << 20;

// Reads up to count bytes from a stream, as many as it gives; false on a
// failed read (hr says why).
bool ReadFull(IStream &stream, char *data, std::uint32_t count, std::uint32_t &got, HRESULT &hr)
{
    got = 0;
    while (got < count) {
        std::uint32_t n = 0;
        hr = stream.Read(data + got, count - got, &n);
        if (FAILED(hr))
            return false;
        n = std::min(n, count - got);
        if (n == 0)
            break;
        got += n;
    }
    return true;
}

constexpr int kMaxNumberedNames = 9999;

bool SameTime(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A copy inside the kernel goes in pieces of about this time, whatever the
// source's speed, so that a stop request is noticed soon.
constexpr double kPieceSeconds = 0.1;

// The next piece: what the last one's speed moves in kPieceSeconds, at most
// twice the last and never less than one ordinary chunk.
qint64 NextPiece(qint64 piece, qint64 copied, std::chrono::steady_clock::duration took)
{
    const double seconds = std::chrono::duration<double>(took).count();
    const double fits = seconds > 0 ? double(copied) * kPieceSeconds / seconds : double(2 * piece);
    return std::clamp<qint64>(qint64(std::min(fits, double(2 * piece))), kTransferChunkSize,
                              StreamTransfer::kInKernelChunkSize);
}

// A proven copy of an object read as the object itself, at explicit offsets
// on a descriptor it shares (a copy inside the kernel reads it at offsets
// too), so that each stream over it has a position of its own.
class CopyStream : public IStream
{
public:
    explicit CopyStream(int fd) : fd_(fd) {}
    HRESULT Seek(std::int64_t offset, SeekOrigin origin, std::uint64_t *newPosition) override
    {
        std::int64_t base = 0;
        if (origin == STREAM_SEEK_CUR) {
            base = at_;
        } else if (origin == STREAM_SEEK_END) {
            struct stat info;
            if (::fstat(fd_, &info) != 0)
                return HResultFromErrno(errno);
            base = std::int64_t(info.st_size);
        }
        if (base + offset < 0)
            return HResultFromErrno(EINVAL);
        at_ = base + offset;
        if (newPosition)
            *newPosition = std::uint64_t(at_);
        return S_OK;
    }
    HRESULT Read(void *buffer, std::uint32_t count, std::uint32_t *read) override
    {
        std::uint32_t total = 0;
        while (total < count) {
            const ssize_t n = ::pread(fd_, static_cast<char *>(buffer) + total, count - total, off_t(at_));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                if (read)
                    *read = total;
                return HResultFromErrno(errno);
            }
            if (n == 0)
                break;
            total += std::uint32_t(n);
            at_ += n;
        }
        if (read)
            *read = total;
        return S_OK;
    }
    int LocalFileDescriptor() override { return fd_; }

private:
    int fd_;
    std::int64_t at_ = 0;
};

}  // namespace

// --- TemporaryFile ------------------------------------------------------------

void TemporaryFile::Discard()
{
    // A temporary without a name goes with its last descriptor.
    if (!path_.isEmpty())
        ::unlink(Native(path_).constData());
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    path_.clear();
}

// --- proofs ---------------------------------------------------------------------

QString CopyProof::KindText() const
{
    switch (kind) {
    case Kind::Compared: return QStringLiteral("Proof: compared byte for byte with the file on the device.");
    case Kind::ReadBack:
        return QStringLiteral("Proof: the copy, read back from the disk, has the XXH3-128 hash %1 of the bytes the "
                              "device gave.")
            .arg(hash ? hash->Text() : QStringLiteral("(none)"));
    case Kind::SizeAndEnd:
        return QStringLiteral("Proof: the copy has the file's size, and the device had nothing past its end.");
    case Kind::Record:
        return QStringLiteral("Proof: the import record names this file as the copy of this device file, unchanged "
                              "since it was placed.");
    case Kind::None: return QStringLiteral("Proof: none.");
    }
    return QString();
}

QString CopyProof::Text() const
{
    const QString text = KindText();
    if (via.isEmpty() || kind == Kind::None || kind == Kind::Record)
        return text;
    return text.chopped(1) + QStringLiteral(" (the bytes were read from its copy ") + via +
           QStringLiteral(", proven above, not from the device again).");
}

// --- helpers --------------------------------------------------------------------

int LookAt(const QString &path, struct stat &info)
{
    info = {};
    if (::lstat(Native(path).constData(), &info) == 0)
        return 1;
    return errno == ENOENT || errno == ENOTDIR ? 0 : -1;
}

QString FolderOf(const QString &FileName)
{
    const qsizetype slash = FileName.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : FileName.left(slash + 1);
}

QString NameOf(const QString &FileName)
{
    return FileName.mid(FileName.lastIndexOf(QLatin1Char('/')) + 1);
}

bool StreamTransfer::IsTemporaryName(const QString &Name)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.ferrovane-[A-Za-z0-9]{6}\\.part$"));
    return pattern.match(Name).hasMatch();
}

QString StreamTransfer::NumberedName(const QString &FileName, int n)
{
    if (n <= 1)
        return FileName;
    const QString folder = FolderOf(FileName);
    const QString name = NameOf(FileName);
    // The extension is what follows the last dot, unless the name starts
    // with its only dot (".profile" has none).
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    QString stem = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot) : QString();
    const QString number = QStringLiteral(" (%1)").arg(n);
    // A name is at most NAME_MAX bytes: the stem gives way, a whole
    // character at a time, and the extension stays.
    const qsizetype room = NAME_MAX - nameToBytes(number).size() - nameToBytes(ext).size();
    if (nameToBytes(stem).size() > room) {
        while (!stem.isEmpty() && nameToBytes(stem).size() > std::max<qsizetype>(room, 1)) {
            stem.chop(1);
            if (!stem.isEmpty() && stem.back().isHighSurrogate())
                stem.chop(1);
        }
    }
    return folder + stem + number + ext;
}

bool StreamTransfer::SyncFileAndFolder(const QString &FileName)
{
    const int fd = ::open(Native(FileName).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!ok) {
        errno = error;
        return false;
    }
    return SyncFolder(FolderOf(FileName));
}

// --- StreamTransfer -----------------------------------------------------------

StreamTransfer::StreamTransfer(DeviceHandles &handles, LogSink &log) : handles_(handles), log_(log)
{
}

StreamTransfer::~StreamTransfer()
{
    ClearObjectSource();
}

bool StreamTransfer::SetObjectSource(int fd, const ContentHash &hash, const QString &shownAs)
{
    AdoptObjectSource(::fcntl(fd, F_DUPFD_CLOEXEC, 0), hash, shownAs);
    return sourceFd_ >= 0;
}

void StreamTransfer::AdoptObjectSource(int fd, const ContentHash &hash, const QString &shownAs)
{
    ClearObjectSource();
    sourceFd_ = fd;
    sourceHash_ = hash;
    sourceShown_ = shownAs;
}

void StreamTransfer::ClearObjectSource()
{
    if (sourceFd_ >= 0)
        ::close(sourceFd_);
    sourceFd_ = -1;
    sourceShown_.clear();
}

void StreamTransfer::StreamReadFailed(const QString &ObjectID, HRESULT hr)
{
    lastLocalError_ = 0;
    NoteDeviceGone(hr);
    log_.WriteLog(QStringLiteral("Could not read ") + NameOf(ObjectID) + QStringLiteral(" from the device: ") +
                      DeviceFailureReason(hr),
                  LogColor::Red);
}

void StreamTransfer::NoteDeviceGone(HRESULT hr)
{
    if (DeviceWentAway(hr))
        deviceGone_ = true;
}

void StreamTransfer::LocalFailure(const QString &line, const QString &path, int error)
{
    lastLocalError_ = error;
    log_.WriteLog(line, LogColor::Red);
    log_.WriteLog(path + QStringLiteral(": ") + ErrorText(error), LogColor::Red);
}

void StreamTransfer::RemoveLeftoverTemporaries(const QString &Folder)
{
    if (cleanedFolders_.contains(Folder))
        return;
    cleanedFolders_.insert(Folder);
    QStringList names;
    if (DIR *folder = ::opendir(Native(Folder).constData())) {
        while (const dirent *e = ::readdir(folder)) {
            const QString name = QString::fromLatin1(e->d_name);
            if (IsTemporaryName(name))
                names << name;
        }
        ::closedir(folder);
    }
    for (const QString &name : std::as_const(names)) {
        const QString path = Folder + name;
        const int fd = ::open(Native(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        // Ours only when marked so (a device's file may have any name), and
        // left by a dead run only when nobody holds its lock: a transfer
        // locks its temporary before it marks it, and holds it until placed.
        char mark = 0;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fgetxattr(fd, kTemporaryMark, &mark, 1) == 1 && mark == '1') {
            if (::unlink(Native(path).constData()) == 0)
                log_.WriteLog(QStringLiteral("Removed the unfinished file ") + path +
                                  QStringLiteral(" of an interrupted run."),
                              LogColor::Black);
            else
                LocalFailure(QStringLiteral("Could not remove the unfinished file ") + path + QLatin1Char('.'), path,
                             errno);
        }
        ::close(fd);
    }
}

bool StreamTransfer::OpenObjectStream(const QString &ObjectID, std::shared_ptr<IStream> &pObjectDataStream)
{
    if (sourceFd_ >= 0) {
        pObjectDataStream = std::make_shared<CopyStream>(sourceFd_);
        return true;
    }
    handles_.aPortableDeviceResources.reset();
    HRESULT hr = E_POINTER;
    if (handles_.aPortableDeviceContent)
        hr = handles_.aPortableDeviceContent->Transfer(handles_.aPortableDeviceResources);
    log_.WriteResult(QStringLiteral("aPortableDeviceContent.Transfer"), hr);
    if (FAILED(hr) || !handles_.aPortableDeviceResources) {
        NoteDeviceGone(hr);
        log_.WriteLog(QStringLiteral("Failed to get IPortableDeviceResources from IPortableDeviceContent."),
                      LogColor::Red);
        return false;
    }

    hr = handles_.aPortableDeviceResources->GetStream(ObjectID, WPD_RESOURCE_DEFAULT, STGM_READ, pObjectDataStream);
    log_.WriteResult(QStringLiteral("aPortableDeviceResources.GetStream"), hr);
    if (FAILED(hr) || !pObjectDataStream) {
        log_.WriteLog(
            QStringLiteral(
                "Failed to get IStream (representing object data on the device) from IPortableDeviceResources."),
            LogColor::Red);
        NoteDeviceGone(hr);
        const QString reason = DeviceErrorText(hr);
        if (!reason.isEmpty())
            log_.WriteLog(ObjectID + QStringLiteral(": ") + reason, LogColor::Red);
        return false;
    }
    return true;
}

StreamTransfer::Match StreamTransfer::MatchObject(const QString &FileName, const QString &ObjectID, qint64 Size)
{
    // The descriptor itself rather than a QFile: a run compares thousands
    // of files, and QFile would look at each twice more.
    const QString failed = QStringLiteral("Could not read ") + FileName + QStringLiteral(" for the comparison.");
    const int fd = ::open(Native(FileName).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        const int error = errno;
        if (IsOutOfHandles(error))
            ThrowOutOfResources(FileName, error);
        LocalFailure(failed, FileName, error);
        return Match::Failed;
    }
    const struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        LocalFailure(failed, FileName, errno);
        return Match::Failed;
    }
    const qint64 length = qint64(info.st_size);
    lastMatchHash_.reset();
    if (length > Size)
        return Match::Different;
    // The bytes found the same are hashed on the way: a hash list lists the
    // file with it, and a copy made from this file is checked against it.
    ContentHasher hasher;
    std::shared_ptr<IStream> stream;
    if (!OpenObjectStream(ObjectID, stream))
        return Match::Failed;
    // Both sides in large pieces, only as far as the file goes; another
    // photo differs in the first one. Nothing is written. The buffers are
    // as large as this file needs and left uninitialised: a run compares
    // thousands of small photos, and clearing two fresh megabytes for each
    // took most of its time.
    const qint64 piece = std::min<qint64>(length, kComparePiece);
    const auto object =
        std::make_unique_for_overwrite<char[]>(std::size_t(std::max<qint64>(piece, kTransferChunkSize)));
    const auto local = std::make_unique_for_overwrite<char[]>(std::size_t(std::max<qint64>(piece, 1)));
    for (qint64 at = 0; at < length;) {
        if (StopRequested())
            return Match::Stopped;
        const std::uint32_t want = std::uint32_t(std::min<qint64>(length - at, kComparePiece));
        std::uint32_t n = 0;
        HRESULT hr = S_OK;
        if (!ReadFull(*stream, object.get(), want, n, hr)) {
            StreamReadFailed(ObjectID, hr);
            return Match::Failed;
        }
        if (n < want)
            return Match::Different;  // the object is shorter than the file
        std::uint32_t got = 0;
        while (got < n) {
            const ssize_t r = ::read(fd, local.get() + got, n - got);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                // A file that shrank meanwhile is a failed read too.
                LocalFailure(failed, FileName, r < 0 ? errno : EIO);
                return Match::Failed;
            }
            got += std::uint32_t(r);
        }
        if (std::memcmp(object.get(), local.get(), n) != 0)
            return Match::Different;
        hasher.Update(object.get(), n);
        at += n;
    }
    if (length < Size)
        return Match::Prefix;
    // The same bytes as far as the object was said to go; the object must
    // end there too.
    std::uint32_t more = 0;
    const HRESULT hr = stream->Read(object.get(), kTransferChunkSize, &more);
    if (FAILED(hr)) {
        StreamReadFailed(ObjectID, hr);
        return Match::Failed;
    }
    if (more != 0)
        return Match::Different;
    lastMatchHash_ = hasher.Digest();
    return Match::Same;
}

StreamTransfer::Match StreamTransfer::MatchTemporary(const QString &Candidate, TemporaryFile &Temp)
{
    QFile file;
    if (const int error = OpenForReading(Candidate, file); error >= 0) {
        if (IsOutOfHandles(error))
            ThrowOutOfResources(Candidate, error);
        LocalFailure(QStringLiteral("Could not read ") + Candidate + QStringLiteral(" for the comparison."), Candidate,
                     error);
        return Match::Failed;
    }
    QFile copy;
    if (!copy.open(Temp.fd_, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        LocalFailure(QStringLiteral("Could not read the copy for the comparison."), Temp.Shown(), EIO);
        return Match::Failed;
    }
    if (CompareFiles(file, copy))
        return Match::Same;
    return file.size() < copy.size() && IsPrefixOf(file, copy) ? Match::Prefix : Match::Different;
}

bool StreamTransfer::CreateTemporary(const QString &Folder, TemporaryFile &Temp)
{
    // Without a name: nothing to clash with, nothing left after a crash.
    int fd = ::open(Native(Folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    QString path;
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without nameless files: a fresh hidden name with
        // O_EXCL (never an existing file, never a planted link), locked
        // before it is marked as ours, so no cleaner ever takes it for a
        // dead run's leftover.
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            path = Folder + QStringLiteral(".ferrovane-") + RandomLetters() + QStringLiteral(".part");
            fd = ::open(Native(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd < 0) {
                if (errno != EEXIST)
                    break;
                continue;
            }
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                // A cleaner looked at it in the instant before the lock: it
                // is not marked, so it stays; ours takes another name.
                ::unlink(Native(path).constData());
                ::close(fd);
                fd = -1;
                errno = EEXIST;
                continue;
            }
            ::fsetxattr(fd, kTemporaryMark, "1", 1, 0);  // where the file system keeps marks
        }
    }
    if (fd < 0) {
        const int error = errno;
        if (IsOutOfHandles(error))
            ThrowOutOfResources(path.isEmpty() ? Folder : path, error);
        LocalFailure(QStringLiteral("Failed to create destination IStream object."), path.isEmpty() ? Folder : path,
                     error);
        return false;
    }
    Temp.path_ = path;
    Temp.folder_ = Folder;
    Temp.fd_ = fd;
    return true;
}

bool StreamTransfer::TransferToTemporary(const QString &ObjectID, const QString &Folder, qint64 Size,
                                         TemporaryFile &Temp)
{
    Temp.Discard();
    Temp.received_ = 0;
    Temp.stopped_ = false;
    Temp.proof_ = CopyProof();
    lastFailedOnLength_ = false;
    RemoveLeftoverTemporaries(Folder);

    std::shared_ptr<IStream> pObjectDataStream;
    if (!OpenObjectStream(ObjectID, pObjectDataStream))
        return false;
    if (!CreateTemporary(Folder, Temp))
        return false;
    const int fd = Temp.fd_;
    HRESULT hr = S_OK;

    // A local source is looked at before and after: a file that changed
    // while it was copied is not what the copy holds.
    const int source = pObjectDataStream->LocalFileDescriptor();
    struct stat before
    {
    };
    const bool watched = source >= 0 && ::fstat(source, &before) == 0;
    auto sourceChanged = [&] {
        struct stat after
        {
        };
        if (!watched || ::fstat(source, &after) != 0)
            return false;
        return after.st_size != before.st_size || !SameTime(after.st_mtim, before.st_mtim);
    };

    // A local file is copied inside the kernel, at explicit offsets, unless
    // its bytes are to be hashed on their way for a verification; whatever
    // goes wrong there (another file system, no support, a failing disk)
    // hands the rest to the ordinary loop, which then names the side that
    // failed.
    bool zeroTail = false;
    bool fellBack = false;
    bool inKernel = false;
    std::optional<BackgroundHasher> background;
    if (source < 0 || verify_) {
        pObjectDataStream->Seek(0, IStream::STREAM_SEEK_SET, nullptr);
    } else if (Size >= kBackgroundHashSize && (background.emplace(fd), true) &&
               CopyInKernel(source, pObjectDataStream->LocalFileMayHaveHoles(), fd, Size, Temp, zeroTail,
                            [&](qint64 end) { background->Written(end); })) {
        inKernel = true;
    } else if (!background &&
               CopyInKernel(source, pObjectDataStream->LocalFileMayHaveHoles(), fd, Size, Temp, zeroTail, {})) {
        inKernel = true;
    } else {
        // Whatever the thread hashed may be written again from a chunk's start.
        background.reset();
        if (Temp.stopped_)
            return Stopped(Temp);
        fellBack = true;
        hr = pObjectDataStream->Seek(Temp.received_, IStream::STREAM_SEEK_SET, nullptr);
        if (FAILED(hr)) {
            StreamReadFailed(ObjectID, hr);
            Temp.Discard();
            return false;
        }
        if (::lseek(fd, off_t(Temp.received_), SEEK_SET) < 0) {
            LocalFailure(QStringLiteral("pFinalFileStream.Write failed."), Temp.Shown(), errno);
            Temp.Discard();
            return false;
        }
    }

    // The thread's hash is taken before anything else may close the file.
    std::optional<ContentHash> kernelHash;
    if (background) {
        if (inKernel) {
            background->Written(Temp.received_);
            kernelHash = background->Finish();
        }
        background.reset();
    }

    ContentHasher hasher;
    bool hashedOnTheWay = false;
    if (!inKernel) {
        // The loop may make one pass more than the whole chunks of Size: the
        // last, partial chunk, or the empty read that ends the stream.
        std::uint64_t passes = std::uint64_t(std::max<qint64>(Size - Temp.received_, 0)) / kTransferChunkSize + 1;
        log_.WriteDebug(QStringLiteral("Number of %1 byte chunks = %2").arg(kTransferChunkSize).arg(passes));
        hashedOnTheWay = !fellBack;

        qint64 length = 0;
        const std::unique_ptr<char[]> chunk = PieceBuffer(Size - Temp.received_ + 1, kTransferChunkSize, length);
        char *const buffer = chunk.get();
        const std::uint32_t chunkSize = std::uint32_t(length);
        std::uint32_t last = 0;
        for (;;) {
            if (StopRequested())
                return Stopped(Temp);
            std::uint32_t n = 0;
            hr = pObjectDataStream->Read(buffer, chunkSize, &n);
            if (FAILED(hr)) {
                StreamReadFailed(ObjectID, hr);
                Temp.Discard();
                return false;
            }
            n = std::min<std::uint32_t>(n, chunkSize);
            last = n;
            if (hashedOnTheWay)
                hasher.Update(buffer, n);
            // A chunk of zeros becomes a hole, as cp makes them: the file reads
            // the same and a mostly empty video takes no room.
            qint64 w;
            if (n > 0 && IsAllZero(buffer, n)) {
                w = ::lseek(fd, off_t(n), SEEK_CUR) < 0 ? -1 : qint64(n);
                zeroTail = true;
            } else {
                w = WriteAll(fd, buffer, n);
                if (n > 0)
                    zeroTail = false;
            }
            if (w < 0) {
                const int error = errno;
                LocalFailure(QStringLiteral("pFinalFileStream.Write failed."), Temp.Shown(), error);
                Temp.Discard();
                return false;
            }
            Temp.received_ += w;
            if (progress_)
                progress_->fetch_add(std::uint64_t(w), std::memory_order_relaxed);
            if (DebugFlag.load(std::memory_order_relaxed))
                log_.WriteDebug(QStringLiteral("R %1 W %2").arg(n).arg(w));
            if (w <= 0 || --passes == 0)
                break;
        }
        // The loop ended on the size it was told. The device is asked for
        // more: an object longer than declared gives a wrong copy, never a
        // whole one.
        if (last > 0 && Temp.received_ == Size) {
            std::uint32_t more = 0;
            hr = pObjectDataStream->Read(buffer, chunkSize, &more);
            if (FAILED(hr)) {
                StreamReadFailed(ObjectID, hr);
                Temp.Discard();
                return false;
            }
            Temp.received_ += std::min<std::uint32_t>(more, chunkSize);
        }
    }
    if (Temp.received_ != Size) {
        // The caller says so; nothing is placed.
        lastReceived_ = Temp.received_;
        lastFailedOnLength_ = true;
        return true;
    }
    if (!FinishTemporary(Temp, zeroTail, fellBack))
        return false;
    if (sourceChanged()) {
        log_.WriteLog(QStringLiteral("The file ") + ObjectID +
                          QStringLiteral(" changed while it was copied; the copy is removed and the file stays on "
                                         "the device."),
                      LogColor::Red);
        Temp.Discard();
        return false;
    }

    // The hash of the bytes: taken on their way, or from the copy the
    // kernel wrote (still in the page cache), while it was written or after.
    std::optional<ContentHash> hash = hashedOnTheWay ? std::optional<ContentHash>(hasher.Digest()) : kernelHash;
    if (!hash)
        hash = HashTemporary(Temp, false);
    if (!hash) {
        if (Temp.stopped_)
            return Stopped(Temp);
        Temp.Discard();
        return false;
    }
    if (sourceFd_ >= 0) {
        // A copy of a copy holds the device's bytes only when it hashes as
        // they did.
        if (*hash != sourceHash_) {
            log_.WriteLog(QStringLiteral("The copy of ") + ObjectID + QStringLiteral(" made from ") + sourceShown_ +
                              QStringLiteral(" differs from the bytes the device gave (XXH3-128 %1, the copy %2); it "
                                             "is removed.")
                                  .arg(sourceHash_.Text(), hash->Text()),
                          LogColor::Red);
            lastLocalError_ = EBADMSG;
            Temp.Discard();
            return false;
        }
        Temp.proof_.via = sourceShown_;
    }
    Temp.proof_.hash = hash;
    Temp.proof_.kind = CopyProof::Kind::SizeAndEnd;
    if (struct stat written{}; ::fstat(fd, &written) == 0)
        Temp.proof_.stamp =
            FileStamp{qint64(written.st_size), qint64(written.st_mtim.tv_sec) * 1000000000 + written.st_mtim.tv_nsec};
    if (verify_) {
        const std::optional<ContentHash> onDisk = HashTemporary(Temp, true);
        if (!onDisk) {
            if (Temp.stopped_)
                return Stopped(Temp);
            Temp.Discard();
            return false;
        }
        if (*onDisk != *hash) {
            log_.WriteLog(QStringLiteral("The copy of ") + ObjectID +
                              QStringLiteral(" read back from the disk differs from the bytes the device gave "
                                             "(XXH3-128 %1, read back %2); it is removed.")
                                  .arg(hash->Text(), onDisk->Text()),
                          LogColor::Red);
            Temp.Discard();
            return false;
        }
        Temp.proof_.kind = CopyProof::Kind::ReadBack;
    }
    return true;
}

std::optional<ContentHash> StreamTransfer::HashTemporary(TemporaryFile &Temp, bool fromDisk)
{
    const int fd = Temp.fd_;
    const QString shown = Temp.Shown();
    if (fromDisk) {
        // What reached the disk, not what the page cache kept: flushed, then
        // dropped from the cache, then read again.
        if (::fdatasync(fd) != 0) {
            LocalFailure(QStringLiteral("Could not flush the copy to disk."), shown, errno);
            return std::nullopt;
        }
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    }
    // With a look at the stop flag before each read: a video of some
    // gigabytes still stops within a second.
    QString why;
    std::optional<ContentHash> hash;
    if (::lseek(fd, 0, SEEK_SET) == 0)
        hash = HashFile(fd, &why, [this] { return StopRequested(); });
    else
        why = ErrorText(errno);
    if (!hash && why.isEmpty()) {
        Temp.stopped_ = true;
    } else if (!hash) {
        lastLocalError_ = EIO;
        log_.WriteLog(fromDisk ? QStringLiteral("Could not read the copy back from the disk.")
                               : QStringLiteral("Could not read the copy back."),
                      LogColor::Red);
        log_.WriteLog(shown + QStringLiteral(": ") + why, LogColor::Red);
    }
    return hash;
}

bool StreamTransfer::CopyInKernel(int source, bool mayHaveHoles, int fd, qint64 Size, TemporaryFile &Temp,
                                  bool &zeroTail, const std::function<void(qint64)> &written)
{
    // Holes are looked for only in a file that has some, as cp does; a
    // card's file systems have none. The stream's own look at the file
    // tells, when it has one.
    struct stat st
    {
    };
    const bool sparse = mayHaveHoles && ::fstat(source, &st) == 0 && S_ISREG(st.st_mode) &&
                        qint64(st.st_blocks) * 512 < qint64(st.st_size);
    const bool debug = DebugFlag.load(std::memory_order_relaxed);

    // The same rule as the ordinary loop, in larger chunks: nothing passes
    // through the program, so a chunk costs a call whatever its length.
    std::uint64_t passes = std::uint64_t(std::max<qint64>(Size, 0)) / kInKernelChunkSize + 1;
    if (debug)
        log_.WriteDebug(QStringLiteral("Number of %1 byte chunks = %2").arg(kInKernelChunkSize).arg(passes));

    qint64 piece = kTransferChunkSize;
    for (;;) {
        // Each chunk starts at a multiple of the chunk size and is filled
        // unless the file ends in it; a failure part way leaves the chunk to
        // be written again from its start.
        const qint64 start = Temp.received_;
        const qint64 end = start + kInKernelChunkSize;
        qint64 at = start;
        bool tailHole = zeroTail;
        while (at < end) {
            qint64 dataEnd = end;
            if (sparse) {
                const off_t data = ::lseek(source, off_t(at), SEEK_DATA);
                if (data != off_t(at)) {
                    // A hole up to the next data, or to the end of the file:
                    // left unwritten, it reads as zeros.
                    qint64 holeEnd = data;
                    if (data < 0) {
                        if (errno != ENXIO || ::fstat(source, &st) != 0)
                            return KernelCopyFailed(Temp, errno);
                        holeEnd = st.st_size;
                    }
                    if (holeEnd <= at)
                        break;  // the end of the file
                    at = std::min(holeEnd, end);
                    tailHole = true;
                    continue;
                }
                const off_t hole = ::lseek(source, off_t(at), SEEK_HOLE);
                if (hole > off_t(at))
                    dataEnd = std::min<qint64>(hole, end);
            }
            if (StopRequested()) {
                Temp.received_ = at;
                Temp.stopped_ = true;
                return false;
            }
            loff_t in = at;
            loff_t out = at;
            const auto began = std::chrono::steady_clock::now();
            const ssize_t c = copyRange_(source, &in, fd, &out, size_t(std::min(dataEnd - at, piece)), 0);
            if (c < 0) {
                if (errno == EINTR)
                    continue;
                return KernelCopyFailed(Temp, errno);
            }
            if (c == 0)
                break;  // the end of the file
            at += c;
            tailHole = false;
            piece = NextPiece(piece, c, std::chrono::steady_clock::now() - began);
            if (written)
                written(at);
        }
        const qint64 n = at - start;
        zeroTail = tailHole;
        Temp.received_ = at;
        if (progress_ && n > 0)
            progress_->fetch_add(std::uint64_t(n), std::memory_order_relaxed);
        if (debug)
            log_.WriteDebug(QStringLiteral("R %1 W %2").arg(n).arg(n));
        if (n <= 0 || --passes == 0)
            return true;
    }
}

bool StreamTransfer::KernelCopyFailed(const TemporaryFile &Temp, int error)
{
    log_.WriteDebug(QStringLiteral("copy_file_range: ") + ErrorText(error) +
                    QStringLiteral("; copying the rest through the program from byte %1").arg(Temp.received_));
    return false;
}

bool StreamTransfer::Stopped(TemporaryFile &Temp)
{
    log_.WriteDebug(QStringLiteral("Stopped after %1 bytes; removing ").arg(Temp.received_) + Temp.path_);
    Temp.stopped_ = true;
    Temp.Discard();
    return false;
}

bool StreamTransfer::FinishTemporary(TemporaryFile &Temp, bool zeroTail, bool fellBack)
{
    const int fd = Temp.fd_;
    const QString &path = Temp.Shown();
    // A trailing hole still needs the file's length; a kernel copy that
    // failed part way may have written past what counts as received.
    bool resize = zeroTail;
    if (fellBack && !resize) {
        struct stat st
        {
        };
        resize = ::fstat(fd, &st) != 0 || qint64(st.st_size) != Temp.received_;
    }
    if (resize && ::ftruncate(fd, off_t(Temp.received_)) != 0) {
        const int error = errno;
        LocalFailure(QStringLiteral("pFinalFileStream.Write failed."), path, error);
        Temp.Discard();
        return false;
    }
    if (IsUsableDate(mtime_)) {
        const qint64 ms = mtime_.toMSecsSinceEpoch();
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = time_t(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
        times[1].tv_nsec = long((ms - qint64(times[1].tv_sec) * 1000) * 1000000);
        ::futimens(fd, times);
    }
    if (sync_ && ::fsync(fd) != 0) {
        const int error = errno;
        LocalFailure(QStringLiteral("Could not flush the copy to disk."), path, error);
        Temp.Discard();
        return false;
    }
    return true;
}

bool StreamTransfer::PlaceTemporary(TemporaryFile &Temp, const QString &DestFileName, bool ReplaceExisting)
{
    const QByteArray to = Native(DestFileName);
    int result;
    if (Temp.path_.isEmpty()) {
        // A nameless file gets its name by a link, which never replaces
        // anything; a replacement goes through a hidden name of its own.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(Temp.fd_);
        if (!ReplaceExisting) {
            result = ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, to.constData(), AT_SYMLINK_FOLLOW);
        } else {
            QByteArray hidden;
            result = -1;
            for (int attempt = 0; attempt < 100 && result != 0; ++attempt) {
                hidden = Native(FolderOf(DestFileName) + QStringLiteral(".ferrovane-") + RandomLetters() +
                                QStringLiteral(".part"));
                result = ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, hidden.constData(), AT_SYMLINK_FOLLOW);
                if (result != 0 && errno != EEXIST)
                    break;
            }
            if (result == 0) {
                result = ::rename(hidden.constData(), to.constData());
                if (result != 0) {
                    const int error = errno;
                    ::unlink(hidden.constData());
                    errno = error;
                }
            }
        }
    } else {
        const QByteArray from = Native(Temp.path_);
        if (ReplaceExisting) {
            result = ::rename(from.constData(), to.constData());
        } else {
            result = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
            if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
                // File systems without the exclusive rename: a hard link fails
                // on an existing name just as well.
                result = ::link(from.constData(), to.constData());
                if (result == 0) {
                    ::unlink(from.constData());
                } else if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS) {
                    struct stat info;
                    const int seen = LookAt(DestFileName, info);
                    if (seen != 0) {
                        errno = seen > 0 ? EEXIST : errno;
                        result = -1;
                    } else {
                        result = ::rename(from.constData(), to.constData());
                    }
                }
            }
        }
    }
    if (result != 0) {
        const int error = errno;
        // A name taken meanwhile is for the caller to look at, not a failure.
        if (error != EEXIST || ReplaceExisting)
            LocalFailure(QStringLiteral("Could not put the copy in place as ") + DestFileName + QLatin1Char('.'),
                         Temp.path_.isEmpty() ? DestFileName : Temp.path_, error);
        errno = error;
        return false;
    }
    Temp.path_.clear();
    Temp.Discard();
    if (sync_ && !SyncFolder(FolderOf(DestFileName))) {
        // The file is in place; only its folder entry may not yet be durable.
        const int error = errno;
        LocalFailure(QStringLiteral("Could not flush the folder to disk."), FolderOf(DestFileName), error);
        return false;
    }
    return true;
}

StreamTransfer::CopyResult StreamTransfer::CopyFileFromDevice(const QString &ObjectID, const QString &DestFileName,
                                                              qint64 Size, bool ReplaceExisting, qint64 *Received)
{
    TemporaryFile temp;
    const bool transferred = TransferToTemporary(ObjectID, FolderOf(DestFileName), Size, temp);
    if (Received)
        *Received = temp.Received();
    if (!transferred)
        return temp.Stopped() ? CopyResult::Stopped : CopyResult::Failed;
    if (temp.Received() != Size)
        return CopyResult::SizeMismatch;
    if (PlaceTemporary(temp, DestFileName, ReplaceExisting))
        return CopyResult::Copied;
    if (errno == EEXIST)
        LocalFailure(QStringLiteral("Could not put the copy in place as ") + DestFileName + QLatin1Char('.'),
                     DestFileName, EEXIST);
    return CopyResult::Failed;
}

bool StreamTransfer::CompareFiles(QFile &A, QFile &B)
{
    // Lengths first: files of different lengths are never read.
    return A.size() == B.size() && IsPrefixOf(A, B);
}

bool StreamTransfer::IsPrefixOf(QFile &Shorter, QFile &Longer)
{
    if (Shorter.size() > Longer.size())
        return false;
    if (!Shorter.seek(0) || !Longer.seek(0))
        return false;
    char a[4096];
    char b[4096];
    while (Shorter.pos() < Shorter.size()) {
        const qint64 n = Shorter.read(a, sizeof a);
        if (n <= 0)
            return false;
        if (Longer.read(b, n) != n || std::memcmp(a, b, size_t(n)) != 0)
            return false;
    }
    return true;
}

ByteLevelResult StreamTransfer::ByteLevelCheck(const QString &ObjectID, const QString &DestFileName, qint64 Size,
                                               QString *PlacedAs, const QString &FileName, CopyProof *Proof,
                                               const RecordedFunction &Recorded, const struct stat *Found)
{
    lastFailedOnLength_ = false;
    deviceGone_ = false;
    lastLocalError_ = 0;
    TemporaryFile temp;  // the object's bytes, once they were needed
    auto done = [&](ByteLevelResult result, const QString &at, const CopyProof &proof) {
        if (PlacedAs)
            *PlacedAs = at;
        if (Proof)
            *Proof = proof;
        return result;
    };
    auto announce = [&](const QString &target) {
        if (!FileName.isEmpty())
            log_.WriteLog(QStringLiteral("Copying file ") + FileName + QStringLiteral(" to ") + target +
                              QStringLiteral(" ..."),
                          LogColor::Black);
    };
    // The object's bytes into the temporary, unless they are there already.
    auto transfer = [&](const QString &target, ByteLevelResult &failed) {
        if (temp.IsOpen())
            return true;
        if (!TransferToTemporary(ObjectID, FolderOf(DestFileName), Size, temp)) {
            failed = temp.Stopped() ? ByteLevelResult::Stopped : ByteLevelResult::TransferFailed;
            return false;
        }
        if (temp.Received() != Size) {
            if (PlacedAs)
                *PlacedAs = target;
            failed = ByteLevelResult::TransferFailed;
            return false;
        }
        return true;
    };

    int retaken = 0;  // free names that were taken before the copy got there
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
        const QString candidate = NumberedName(DestFileName, n);
        struct stat info;
        int seen;
        if (n == 1 && Found && retaken == 0) {
            info = *Found;
            seen = Found->st_mode == 0 ? 0 : 1;
        } else {
            seen = LookAt(candidate, info);
        }
        if (seen < 0) {
            const int error = errno;
            if (IsOutOfHandles(error))
                ThrowOutOfResources(candidate, error);
            LocalFailure(QStringLiteral("Could not look at ") + candidate + QLatin1Char('.'), candidate, error);
            return ByteLevelResult::TransferFailed;
        }
        if (seen == 0 && n > 1 && avoidName_ && avoidName_(candidate)) {
            log_.WriteLog(candidate + QStringLiteral(" is free but named in the hash list history for another file; "
                                                     "the next name is taken."),
                          LogColor::Black);
            continue;
        }
        if (seen == 0) {
            ByteLevelResult failed = ByteLevelResult::TransferFailed;
            announce(candidate);
            if (!transfer(candidate, failed))
                return failed;
            if (PlaceTemporary(temp, candidate, false))
                return done(ByteLevelResult::Replaced, candidate, temp.Proof());
            if (errno != EEXIST || ++retaken > 100)
                return ByteLevelResult::TransferFailed;
            // Another run put something there meanwhile: look at it too.
            --n;
            continue;
        }
        if (!S_ISREG(info.st_mode)) {
            log_.WriteLog(candidate + QStringLiteral(" is not a plain file and is kept."), LogColor::Black);
            continue;
        }
        const qint64 length = qint64(info.st_size);
        if (n > 1) {
            log_.WriteLog(QStringLiteral("Destination file found ") + candidate, LogColor::Black);
            log_.WriteLog(QStringLiteral("Size: ") + FormatKiB(length) + QStringLiteral(" KiB"), LogColor::Black);
        }
        if (length == Size && Recorded && Recorded(candidate)) {
            CopyProof proof;
            proof.kind = CopyProof::Kind::Record;
            return done(ByteLevelResult::Same, candidate, proof);
        }
        Match match = Match::Different;
        if (temp.IsOpen())
            match = MatchTemporary(candidate, temp);
        else if (length <= Size)
            match = MatchObject(candidate, ObjectID, Size);
        switch (match) {
        case Match::Failed: return ByteLevelResult::TransferFailed;
        case Match::Stopped: return ByteLevelResult::Stopped;
        case Match::Same: {
            CopyProof proof = temp.Proof();
            if (!temp.IsOpen()) {
                proof.hash = lastMatchHash_;
                proof.via = sourceShown_;
            }
            proof.kind = CopyProof::Kind::Compared;
            proof.stamp = FileStamp{length, qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
            return done(ByteLevelResult::Same, candidate, proof);
        }
        case Match::Prefix: {
            // An earlier copy cut short: it is finished in place.
            if (n > 1)
                log_.WriteLog(QStringLiteral("Destination file ") + candidate +
                                  QStringLiteral(" has SIZE mismatch with Source file."),
                              LogColor::Red);
            log_.WriteLog(QStringLiteral("Overwritting Destination file..."), LogColor::Red);
            announce(candidate);
            ByteLevelResult failed = ByteLevelResult::TransferFailed;
            if (!transfer(candidate, failed))
                return failed;
            if (!PlaceTemporary(temp, candidate, true))
                return ByteLevelResult::TransferFailed;
            return done(ByteLevelResult::Replaced, candidate, temp.Proof());
        }
        case Match::Different: break;
        }
        if (length == Size)
            log_.WriteLog(QStringLiteral("Destination file ") + candidate +
                              QStringLiteral(" has BYTE mismatch with Source file."),
                          LogColor::Red);
        else if (n > 1)
            log_.WriteLog(QStringLiteral("Destination file ") + candidate +
                              QStringLiteral(" has SIZE mismatch with Source file."),
                          LogColor::Red);
        log_.WriteLog(QStringLiteral("Destination file ") + candidate +
                          QStringLiteral(" is a different file and is kept."),
                      LogColor::Black);
    }
    log_.WriteLog(QStringLiteral("No free name is left beside ") + DestFileName + QLatin1Char('.'), LogColor::Red);
    return ByteLevelResult::TransferFailed;
}
