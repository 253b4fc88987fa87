#include "StreamTransfer.h"

#include "base/FileNames.h"
#include "log/LogSink.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
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

// lstat: a link under a destination name is never followed.
bool Occupied(const QString &path, struct stat *info)
{
    return ::lstat(Native(path).constData(), info) == 0 || errno != ENOENT;
}

constexpr int kMaxNumberedNames = 9999;

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

}  // namespace

// --- TemporaryFile ------------------------------------------------------------

void TemporaryFile::Discard()
{
    if (!path_.isEmpty())
        ::unlink(Native(path_).constData());
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    path_.clear();
}

// --- helpers --------------------------------------------------------------------

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
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot) : QString();
    return folder + stem + QStringLiteral(" (%1)").arg(n) + ext;
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

void StreamTransfer::StreamReadFailed(const QString &ObjectID, HRESULT hr)
{
    log_.WriteLog(QStringLiteral("pObjectDataStream.Read failed"), LogColor::Red);
    const QString reason = DeviceErrorText(hr);
    log_.WriteLog(ObjectID + QStringLiteral(": ") + (reason.isEmpty() ? QStringLiteral("result %1").arg(hr) : reason),
                  LogColor::Red);
}

void StreamTransfer::LocalFailure(const QString &line, const QString &path, int error)
{
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
        // A transfer in progress holds its temporary locked until it is placed;
        // only a dead process's temporaries can be locked here.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
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
    handles_.aPortableDeviceResources.reset();
    HRESULT hr = E_POINTER;
    if (handles_.aPortableDeviceContent)
        hr = handles_.aPortableDeviceContent->Transfer(handles_.aPortableDeviceResources);
    log_.WriteResult(QStringLiteral("aPortableDeviceContent.Transfer"), hr);
    if (FAILED(hr) || !handles_.aPortableDeviceResources) {
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
        const QString reason = DeviceErrorText(hr);
        if (!reason.isEmpty())
            log_.WriteLog(ObjectID + QStringLiteral(": ") + reason, LogColor::Red);
        return false;
    }
    return true;
}

StreamTransfer::PrefixResult StreamTransfer::IsPrefixOfObject(const QString &FileName, const QString &ObjectID)
{
    QFile file;
    if (const int error = OpenForReading(FileName, file); error >= 0) {
        if (IsOutOfHandles(error))
            ThrowOutOfResources(FileName, error);
        LocalFailure(QStringLiteral("Could not read ") + FileName + QStringLiteral(" for the comparison."), FileName,
                     error);
        return PrefixResult::Failed;
    }
    std::shared_ptr<IStream> stream;
    if (!OpenObjectStream(ObjectID, stream))
        return PrefixResult::Failed;
    // Only as far as the file goes, and usually one chunk: another photo
    // differs at once.
    std::vector<char> object(kTransferChunkSize);
    std::vector<char> local(kTransferChunkSize);
    for (qint64 left = file.size(); left > 0;) {
        std::uint32_t n = 0;
        const HRESULT hr = stream->Read(object.data(), std::uint32_t(std::min<qint64>(left, kTransferChunkSize)), &n);
        if (FAILED(hr)) {
            StreamReadFailed(ObjectID, hr);
            return PrefixResult::Failed;
        }
        n = std::min<std::uint32_t>(n, std::uint32_t(std::min<qint64>(left, kTransferChunkSize)));
        if (n == 0 || file.read(local.data(), n) != qint64(n) || std::memcmp(object.data(), local.data(), n) != 0)
            return PrefixResult::Different;
        left -= n;
    }
    return PrefixResult::Prefix;
}

bool StreamTransfer::TransferToTemporary(const QString &ObjectID, const QString &Folder, qint64 Size,
                                         TemporaryFile &Temp, bool ForComparison)
{
    Temp.Discard();
    Temp.received_ = 0;
    Temp.stopped_ = false;
    RemoveLeftoverTemporaries(Folder);

    std::shared_ptr<IStream> pObjectDataStream;
    if (!OpenObjectStream(ObjectID, pObjectDataStream))
        return false;
    HRESULT hr = S_OK;

    // A fresh name with O_EXCL: never an existing file, never a planted link.
    QString path;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        path = Folder + QStringLiteral(".ferrovane-") + RandomLetters() + QStringLiteral(".part");
        fd = ::open(Native(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int error = errno;
        if (IsOutOfHandles(error))
            ThrowOutOfResources(path, error);
        LocalFailure(QStringLiteral("Failed to create destination IStream object."), path, error);
        return false;
    }
    ::flock(fd, LOCK_EX | LOCK_NB);
    Temp.path_ = path;
    Temp.fd_ = fd;
    if (ForComparison)
        log_.WriteDebug(QStringLiteral("Byte Comparison: Copying ") + ObjectID + QStringLiteral(" to ") + path);

    // A local file is copied inside the kernel, at explicit offsets;
    // whatever goes wrong there (another file system, no support, a failing
    // disk) hands the rest to the ordinary loop, which then names the side
    // that failed.
    bool zeroTail = false;
    bool fellBack = false;
    const int source = pObjectDataStream->LocalFileDescriptor();
    if (source < 0) {
        pObjectDataStream->Seek(0, IStream::STREAM_SEEK_SET, nullptr);
    } else {
        if (CopyInKernel(source, pObjectDataStream->LocalFileMayHaveHoles(), fd, Size, Temp, zeroTail))
            return FinishTemporary(Temp, zeroTail, false);
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
            LocalFailure(QStringLiteral("pFinalFileStream.Write failed."), path, errno);
            Temp.Discard();
            return false;
        }
    }

    // The loop may make one pass more than the whole chunks of Size: the
    // last, partial chunk, or the empty read that ends the stream.
    std::uint64_t passes = std::uint64_t(std::max<qint64>(Size - Temp.received_, 0)) / kTransferChunkSize + 1;
    log_.WriteDebug(QStringLiteral("Number of %1 byte chunks = %2").arg(kTransferChunkSize).arg(passes));

    std::vector<char> buffer(kTransferChunkSize);
    for (;;) {
        if (StopRequested())
            return Stopped(Temp);
        std::uint32_t n = 0;
        hr = pObjectDataStream->Read(buffer.data(), kTransferChunkSize, &n);
        if (FAILED(hr)) {
            StreamReadFailed(ObjectID, hr);
            Temp.Discard();
            return false;
        }
        n = std::min<std::uint32_t>(n, kTransferChunkSize);
        // A chunk of zeros becomes a hole, as cp makes them: the file reads
        // the same and a mostly empty video takes no room.
        qint64 w;
        if (n > 0 && IsAllZero(buffer.data(), n)) {
            w = ::lseek(fd, off_t(n), SEEK_CUR) < 0 ? -1 : qint64(n);
            zeroTail = true;
        } else {
            w = WriteAll(fd, buffer.data(), n);
            if (n > 0)
                zeroTail = false;
        }
        if (w < 0) {
            const int error = errno;
            LocalFailure(QStringLiteral("pFinalFileStream.Write failed."), path, error);
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
    return FinishTemporary(Temp, zeroTail, fellBack);
}

bool StreamTransfer::CopyInKernel(int source, bool mayHaveHoles, int fd, qint64 Size, TemporaryFile &Temp,
                                  bool &zeroTail)
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
    const QString &path = Temp.path_;
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
    const QByteArray from = Native(Temp.path_);
    const QByteArray to = Native(DestFileName);
    int result;
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
                if (Occupied(DestFileName, &info)) {
                    errno = EEXIST;
                    result = -1;
                } else {
                    result = ::rename(from.constData(), to.constData());
                }
            }
        }
    }
    if (result != 0) {
        const int error = errno;
        LocalFailure(QStringLiteral("Could not put the copy in place as ") + DestFileName + QLatin1Char('.'),
                     Temp.path_, error);
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
    return PlaceTemporary(temp, DestFileName, ReplaceExisting) ? CopyResult::Copied : CopyResult::Failed;
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
                                               QString *PlacedAs, const QString &FileName)
{
    TemporaryFile temp;
    if (!TransferToTemporary(ObjectID, FolderOf(DestFileName), Size, temp, true))
        return temp.Stopped() ? ByteLevelResult::Stopped : ByteLevelResult::TransferFailed;
    if (temp.Received() != Size) {
        log_.WriteLog(QStringLiteral("The device gave %1 bytes of %2 instead of %3.")
                          .arg(temp.Received())
                          .arg(ObjectID)
                          .arg(Size),
                      LogColor::Red);
        return ByteLevelResult::TransferFailed;
    }
    QFile copy;
    if (const int error = OpenForReading(temp.Path(), copy); error >= 0) {
        if (IsOutOfHandles(error))
            ThrowOutOfResources(temp.Path(), error);
        LocalFailure(QStringLiteral("Could not read the copy for the comparison."), temp.Path(), error);
        return ByteLevelResult::TransferFailed;
    }

    for (int n = 1; n <= kMaxNumberedNames; ++n) {
        const QString candidate = NumberedName(DestFileName, n);
        struct stat info;
        if (!Occupied(candidate, &info)) {
            if (n > 1 && !FileName.isEmpty())
                log_.WriteLog(QStringLiteral("Copying file ") + FileName + QStringLiteral(" to ") + candidate +
                                  QStringLiteral(" ..."),
                              LogColor::Black);
            if (PlaceTemporary(temp, candidate, false)) {
                if (PlacedAs)
                    *PlacedAs = candidate;
                return ByteLevelResult::Replaced;
            }
            if (errno == EEXIST)
                continue;  // taken meanwhile: look at it like the others
            return ByteLevelResult::TransferFailed;
        }
        if (!S_ISREG(info.st_mode)) {
            log_.WriteLog(candidate + QStringLiteral(" is not a plain file and is kept."), LogColor::Black);
            continue;
        }
        QFile existing;
        if (const int error = OpenForReading(candidate, existing); error >= 0) {
            if (IsOutOfHandles(error))
                ThrowOutOfResources(candidate, error);
            LocalFailure(QStringLiteral("Could not read ") + candidate + QStringLiteral(" for the comparison."),
                         candidate, error);
            return ByteLevelResult::TransferFailed;
        }
        if (existing.size() == Size) {
            if (CompareFiles(existing, copy)) {
                if (PlacedAs)
                    *PlacedAs = candidate;
                return ByteLevelResult::Same;
            }
            log_.WriteLog(QStringLiteral("Destination file ") + candidate +
                              QStringLiteral(" has BYTE mismatch with Source file."),
                          LogColor::Red);
        } else if (n > 1) {
            log_.WriteLog(QStringLiteral("Destination file ") + candidate +
                              QStringLiteral(" has SIZE mismatch with Source file."),
                          LogColor::Red);
        }
        // A shorter file holding the object's first bytes is an earlier copy
        // that was cut short: finish it. Anything else is another file.
        if (existing.size() < Size && IsPrefixOf(existing, copy)) {
            existing.close();
            log_.WriteLog(QStringLiteral("Overwritting Destination file..."), LogColor::Red);
            if (!FileName.isEmpty())
                log_.WriteLog(QStringLiteral("Copying file ") + FileName + QStringLiteral(" to ") + candidate +
                                  QStringLiteral(" ..."),
                              LogColor::Black);
            if (!PlaceTemporary(temp, candidate, true))
                return ByteLevelResult::TransferFailed;
            if (PlacedAs)
                *PlacedAs = candidate;
            return ByteLevelResult::Replaced;
        }
        log_.WriteLog(QStringLiteral("Destination file ") + candidate +
                          QStringLiteral(" is a different file and is kept."),
                      LogColor::Black);
    }
    log_.WriteLog(QStringLiteral("No free name is left beside ") + DestFileName + QLatin1Char('.'), LogColor::Red);
    return ByteLevelResult::TransferFailed;
}
