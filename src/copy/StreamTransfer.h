#pragma once

// Moving one device object into one local file, and comparing local files.
//
// Data never lands under its final name while it is arriving: it goes into
// a hidden temporary file in the destination's own folder (".ferrovane-" six
// letters ".part", never a photo's name) and is renamed into place only
// once the whole object arrived with the size the catalogue gave. A failed
// or short transfer removes its temporary; a file already standing under
// the final name stays as it is until one rename replaces it, and a
// different file there is never replaced at all. Temporaries left behind by
// a killed run are removed the next time a run copies into their folder.
//
// A stream over a local file (a memory card, a folder) is copied inside the
// kernel with copy_file_range, keeping the source's holes; where that is not
// possible the bytes pass through the program in 131072-byte chunks, and a
// chunk of zeros becomes a hole.
//
// A stop request ends a transfer between two chunks (a copy inside the
// kernel goes in pieces short enough to notice it within a fraction of a
// second): its temporary is removed and nothing is placed.

#include "device/DeviceConnection.h"
#include "log/Exception.h"

#include <QDateTime>
#include <QFile>
#include <QSet>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

#include <sys/types.h>
#include <unistd.h>

class LogSink;

// The system ran out of file handles (EMFILE, ENFILE) during a transfer.
class OutOfResources : public Exception
{
public:
    using Exception::Exception;
};

enum class ByteLevelResult { TransferFailed, Same, Replaced, Stopped };

// A temporary file in a destination folder. Removed when destroyed unless it
// was placed under a final name.
class TemporaryFile
{
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    ~TemporaryFile() { Discard(); }

    bool IsOpen() const { return fd_ >= 0; }
    const QString &Path() const { return path_; }
    qint64 Received() const { return received_; }
    // The transfer into it ended at a stop request (it is discarded then).
    bool Stopped() const { return stopped_; }
    void Discard();

private:
    friend class StreamTransfer;
    QString path_;
    int fd_ = -1;
    qint64 received_ = 0;
    bool stopped_ = false;
};

class StreamTransfer
{
public:
    StreamTransfer(DeviceHandles &handles, LogSink &log);

    // Copies the object's data to DestFileName through a temporary in its
    // folder; the folder must exist. Copied: the file stands under
    // DestFileName with exactly Size bytes. SizeMismatch: the device gave
    // another number of bytes (Received() says how many) and nothing was
    // placed. Failed: a call failed (logged in red) and nothing was placed.
    // Stopped: a stop request ended it and nothing was placed.
    // With ReplaceExisting false a file that appears under DestFileName
    // meanwhile is kept and the copy fails.
    enum class CopyResult { Failed, SizeMismatch, Copied, Stopped };
    CopyResult CopyFileFromDevice(const QString &ObjectID, const QString &DestFileName, qint64 Size,
                                  bool ReplaceExisting = false, qint64 *Received = nullptr);

    // True when both open files have the same length and the same bytes.
    static bool CompareFiles(QFile &A, QFile &B);
    // True when the whole of Shorter equals the start of Longer.
    static bool IsPrefixOf(QFile &Shorter, QFile &Longer);

    // Runs when a file stands under DestFileName. The object is transferred
    // once into a temporary in that folder and looked for at DestFileName,
    // then "NAME (2).EXT", "NAME (3).EXT", ... up to the first free name.
    // Same: one of them holds the same bytes (PlacedAs names it). Replaced:
    // the object's data now stands under PlacedAs: either in place of a
    // truncated earlier copy of it, or, every file found being a different
    // one, under the first free name; different files are kept. A failed
    // transfer, a device that gave another number of bytes than Size, or a
    // file that cannot be read or placed gives TransferFailed; a transfer
    // ended by a stop request gives Stopped. With a FileName, the data is
    // announced as "Copying file FileName to NAME ..." before it is placed
    // under a free name or over a copy cut short.
    ByteLevelResult ByteLevelCheck(const QString &ObjectID, const QString &DestFileName, qint64 Size,
                                   QString *PlacedAs = nullptr, const QString &FileName = QString());

    // Whether the whole of the local file FileName (shorter than the object)
    // is the start of the object's data: an earlier copy cut short. Reads
    // the object only up to the file's length or the first difference.
    // Failed: a call failed (logged in red).
    enum class PrefixResult { Failed, Prefix, Different };
    PrefixResult IsPrefixOfObject(const QString &FileName, const QString &ObjectID);

    // Streams the object into a new temporary in Folder. False after a
    // failure (logged) or a stop request (Temp.Stopped()), with nothing left
    // on disk.
    // With a comparison label, the debug line names the temporary.
    bool TransferToTemporary(const QString &ObjectID, const QString &Folder, qint64 Size, TemporaryFile &Temp,
                             bool ForComparison = false);
    // Puts the temporary under DestFileName in one rename. Without
    // ReplaceExisting an existing file there is never replaced. False (and
    // logged) when that fails; the temporary stays for the caller to discard.
    bool PlaceTemporary(TemporaryFile &Temp, const QString &DestFileName, bool ReplaceExisting);

    // Files written from now on get this modification time (an invalid one
    // leaves the time of writing).
    void SetModificationTime(const QDateTime &when) { mtime_ = when; }
    // Flush written files and their folder to disk before they are placed.
    void SetSyncToDisk(bool sync) { sync_ = sync; }
    // Transfers end between two chunks once this flag is set (none: never).
    void SetStopFlag(const std::atomic<bool> *stop) { stop_ = stop; }

    // Bytes read from a device's data stream are added here as they arrive
    // (for the progress display; none when null).
    void SetProgressCounter(std::atomic<std::uint64_t> *bytes) { progress_ = bytes; }

    // Forgets which folders were cleared of leftover temporaries; call at
    // the start of every run.
    void ResetRun() { cleanedFolders_.clear(); }
    // A folder that this run has copied into already.
    bool IsKnownFolder(const QString &Folder) const { return cleanedFolders_.contains(Folder); }

    // Removes temporaries that an interrupted run left in Folder (once per
    // run and folder; those still being written by a live process stay).
    void RemoveLeftoverTemporaries(const QString &Folder);

    // True when Name has the form of this program's temporary files.
    static bool IsTemporaryName(const QString &Name);

    // "NAME (n).EXT" for n >= 2 of a full file name; n = 1 gives it back.
    static QString NumberedName(const QString &FileName, int n);

    // Flushes a file and its folder to disk. False (with errno set) on failure.
    static bool SyncFileAndFolder(const QString &FileName);

    // The kernel's copy between two descriptors at given offsets, with
    // copy_file_range's contract. Tests put a failing one here to reach the
    // ordinary loop that takes over.
    using CopyRangeFunction = std::function<ssize_t(int, loff_t *, int, loff_t *, size_t, unsigned)>;
    void SetCopyRange(CopyRangeFunction copy) { copyRange_ = std::move(copy); }

    // A copy inside the kernel moves this many bytes per chunk.
    static constexpr std::uint32_t kInKernelChunkSize = kTransferChunkSize * 64;

private:
    // The object's data stream, as the first two steps of a transfer open
    // it; false after a failure (logged in red).
    bool OpenObjectStream(const QString &ObjectID, std::shared_ptr<IStream> &pObjectDataStream);
    void LocalFailure(const QString &line, const QString &path, int error);
    // The two red lines of a device stream that failed: the call, then the object and why.
    void StreamReadFailed(const QString &ObjectID, HRESULT hr);
    // Copies a local file into the temporary inside the kernel, keeping its
    // holes. False when it failed and the ordinary loop is to go on from
    // Temp.Received() (a multiple of the chunk size), or when it was stopped.
    bool CopyInKernel(int source, int fd, qint64 Size, TemporaryFile &Temp, bool &zeroTail);
    bool KernelCopyFailed(const TemporaryFile &Temp, int error);
    bool StopRequested() const { return stop_ && stop_->load(std::memory_order_relaxed); }
    // Ends a transfer at a stop request: the temporary goes.
    bool Stopped(TemporaryFile &Temp);
    // Length, time and flush of a temporary whose data all arrived;
    // fellBack after a kernel copy that failed part way.
    bool FinishTemporary(TemporaryFile &Temp, bool zeroTail, bool fellBack);

    DeviceHandles &handles_;
    LogSink &log_;
    QDateTime mtime_;
    bool sync_ = false;
    QSet<QString> cleanedFolders_;
    std::atomic<std::uint64_t> *progress_ = nullptr;
    CopyRangeFunction copyRange_ = ::copy_file_range;
    const std::atomic<bool> *stop_ = nullptr;
};

// The folder part of a local file name, ending with "/".
QString FolderOf(const QString &FileName);
// The name part of a local file name.
QString NameOf(const QString &FileName);
