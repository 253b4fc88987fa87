#pragma once

// Moving one device object into one local file, comparing local files with
// the object, and the proof that a copy holds the object's bytes.
//
// Data never lands under its final name while it is arriving: it goes into
// a temporary file in the destination's own folder and gets its name only
// once the whole object arrived with the size the catalogue gave, the
// device had nothing past that end, and (with verification on) the copy
// read back from the disk hashed alike. Where the file system allows it the
// temporary has no name at all until then (O_TMPFILE), so nothing of it can
// be left behind or clash with another run; elsewhere it is a hidden
// ".ferrovane-" six letters ".part", locked from the moment it is made and
// marked as ours, and only such a marked file that no live run holds is
// ever removed as a leftover. A file standing under the final name is never
// replaced by another file; a name taken meanwhile sends the copy on to the
// next free "NAME (n).EXT".
//
// A stream over a local file (a memory card, a folder) is copied inside the
// kernel with copy_file_range, keeping the source's holes; where that is not
// possible, or the bytes are to be verified, they pass through the program
// in 131072-byte chunks, and a chunk of zeros becomes a hole. The bytes are
// hashed (XXH3-128) as they pass, or from the copy once the kernel wrote it.
//
// A stop request ends a transfer between two chunks (a copy inside the
// kernel goes in pieces short enough to notice it within a fraction of a
// second): its temporary is removed and nothing is placed.

#include "copy/ContentHash.h"
#include "copy/ImportRecord.h"
#include "device/DeviceConnection.h"
#include "log/Exception.h"

#include <QDateTime>
#include <QFile>
#include <QSet>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include <sys/stat.h>
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

// What shows that a file at the destination holds the object's bytes. The
// log names it under "Source and Destination files match.", and a source is
// deleted only on one of these.
struct CopyProof
{
    enum class Kind {
        None,
        Compared,    // the file was compared byte for byte with the object
        ReadBack,    // the copy, read back from the disk, hashed as the bytes the device gave
        SizeAndEnd,  // the copy has the object's size and the device had nothing past it
        Record,      // the import record names this file as this object's copy, unchanged since
    };
    Kind kind = Kind::None;
    std::optional<ContentHash> hash;  // of the object's bytes, when they passed (XXH3-128)
    std::optional<FileStamp> stamp;   // the proven file's size and time, as it was placed or found
    // The object's bytes came from this copy of them, proven before, not
    // from the device again (a file sent to several destinations).
    QString via;
    // "Proof: ..." for the log.
    QString Text() const;

private:
    QString KindText() const;
};

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
    // Its hidden name, or empty for a file without one (O_TMPFILE).
    const QString &Path() const { return path_; }
    // What the log names it by: its name, or the folder it is being made in.
    const QString &Shown() const { return path_.isEmpty() ? folder_ : path_; }
    qint64 Received() const { return received_; }
    // The transfer into it ended at a stop request (it is discarded then).
    bool Stopped() const { return stopped_; }
    // The hash of the bytes it received, and how they were proven.
    const CopyProof &Proof() const { return proof_; }
    void Discard();

private:
    friend class StreamTransfer;
    QString path_;
    QString folder_;
    int fd_ = -1;
    qint64 received_ = 0;
    bool stopped_ = false;
    CopyProof proof_;
};

class StreamTransfer
{
public:
    StreamTransfer(DeviceHandles &handles, LogSink &log);
    ~StreamTransfer();
    StreamTransfer(const StreamTransfer &) = delete;
    StreamTransfer &operator=(const StreamTransfer &) = delete;

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

    // Puts the object at DestFileName or, when a file stands there, finds
    // where it already is or where it goes: DestFileName, then
    // "NAME (2).EXT", "NAME (3).EXT", ... up to the first free name. A file
    // found there counts as the object's copy only when proven: by the
    // import record (a Recorded function, when given) or by comparing its
    // bytes with the object's, read from the device in large pieces; nothing
    // is written for a comparison. A shorter file holding the object's first
    // bytes is an earlier copy cut short and is finished in place; any other
    // file is kept. Same: one of them holds the object (PlacedAs names it).
    // Replaced: the object's data now stands under PlacedAs, verified. A
    // failed transfer, a device that gave another number of bytes than Size,
    // or a file that cannot be read or placed gives TransferFailed; a
    // transfer ended by a stop request gives Stopped. With a FileName, the
    // data is announced as "Copying file FileName to NAME ..." before it is
    // transferred. Proof, when given, says how the result was proven.
    // Found, when given, is what the caller just found under DestFileName
    // (lstat; all zeros when nothing stood there), which is then not looked
    // at again.
    using RecordedFunction = std::function<bool(const QString &candidate)>;
    ByteLevelResult ByteLevelCheck(const QString &ObjectID, const QString &DestFileName, qint64 Size,
                                   QString *PlacedAs = nullptr, const QString &FileName = QString(),
                                   CopyProof *Proof = nullptr, const RecordedFunction &Recorded = {},
                                   const struct stat *Found = nullptr);
    // The number of bytes the device gave in the last transfer that failed
    // for its length (what ByteLevelCheck's TransferFailed then reports).
    qint64 LastReceived() const { return lastReceived_; }
    // True, once, after a device call failed because the device or its
    // card is gone.
    bool TakeDeviceGone() { return std::exchange(deviceGone_, false); }
    bool LastFailedOnLength() const { return lastFailedOnLength_; }

    // How the local file FileName compares with the object: the same bytes
    // (and the object ends where the file does), the start of the object (an
    // earlier copy cut short), or different. Reads the object only up to the
    // file's length or the first difference. Failed: a call failed (logged
    // in red).
    enum class Match { Failed, Stopped, Same, Prefix, Different };
    Match MatchObject(const QString &FileName, const QString &ObjectID, qint64 Size);

    // Streams the object into a new temporary in Folder. False after a
    // failure (logged) or a stop request (Temp.Stopped()), with nothing left
    // on disk.
    bool TransferToTemporary(const QString &ObjectID, const QString &Folder, qint64 Size, TemporaryFile &Temp);
    // Puts the temporary under DestFileName. Without ReplaceExisting an
    // existing file there is never replaced: false with errno EEXIST and
    // nothing logged, the temporary kept for another name. Any other failure
    // is logged; the temporary stays for the caller to discard.
    bool PlaceTemporary(TemporaryFile &Temp, const QString &DestFileName, bool ReplaceExisting);

    // Files written from now on get this modification time (an invalid one
    // leaves the time of writing).
    void SetModificationTime(const QDateTime &when) { mtime_ = when; }
    // Flush written files and their folder to disk before they are placed.
    void SetSyncToDisk(bool sync) { sync_ = sync; }
    // Read every copy back from the disk (not from the page cache) and
    // compare its hash with the hash of the bytes the device gave, before it
    // gets its name. The bytes then pass through the program.
    void SetVerifyOnDisk(bool verify) { verify_ = verify; }
    // Transfers end between two chunks once this flag is set (none: never).
    void SetStopFlag(const std::atomic<bool> *stop) { stop_ = stop; }

    // Transfers and comparisons of the object from now on read the local
    // file open on fd (duplicated here) instead of the device: a copy of the
    // object proven a moment ago, shown in the log as shownAs, whose bytes
    // hash as hash. A copy made from it is kept only when it hashes alike,
    // so a file sent to several destinations is read from the device once.
    // False when fd cannot be duplicated (the device is read then).
    bool SetObjectSource(int fd, const ContentHash &hash, const QString &shownAs);
    // The same with fd itself, which is closed here when no longer needed.
    void AdoptObjectSource(int fd, const ContentHash &hash, const QString &shownAs);
    void ClearObjectSource();
    bool HasObjectSource() const { return sourceFd_ >= 0; }
    // A free numbered name that this says to avoid is passed over, as if
    // taken (a name a hash list history knows for another file).
    void SetAvoidedName(std::function<bool(const QString &)> avoid) { avoidName_ = std::move(avoid); }
    // The error number of the last failure on the local side (the
    // destination's disk) since ByteLevelCheck began, or 0 when the last
    // failure was the device's or there was none.
    int LastLocalError() const { return lastLocalError_; }

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

    // True when Name has the form of this program's temporary files (only a
    // file of that form marked as ours is ever removed as a leftover).
    static bool IsTemporaryName(const QString &Name);

    // "NAME (n).EXT" for n >= 2 of a full file name; n = 1 gives it back.
    // The name stays within the file system's 255 bytes: the part before the
    // extension is shortened to make room for " (n)".
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
    // Names the file and says why in words.
    void StreamReadFailed(const QString &ObjectID, HRESULT hr);
    void NoteDeviceGone(HRESULT hr);
    // A new temporary in Folder, without a name where the file system
    // allows it. False after a failure (logged).
    bool CreateTemporary(const QString &Folder, TemporaryFile &Temp);
    // Hashes what the temporary holds (from the page cache, or with
    // fromDisk from the disk itself); nothing on a read failure (logged).
    std::optional<ContentHash> HashTemporary(TemporaryFile &Temp, bool fromDisk);
    // Where a free name was taken: looks at the candidate again. Same:
    // the file there holds the temporary's bytes.
    Match MatchTemporary(const QString &Candidate, TemporaryFile &Temp);
    // Copies a local file into the temporary inside the kernel, keeping its
    // holes. False when it failed and the ordinary loop is to go on from
    // Temp.Received() (a multiple of the chunk size), or when it was stopped.
    // written hears of each piece's end as it is copied.
    bool CopyInKernel(int source, bool mayHaveHoles, int fd, qint64 Size, TemporaryFile &Temp, bool &zeroTail,
                      const std::function<void(qint64)> &written);
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
    bool verify_ = false;
    qint64 lastReceived_ = 0;
    bool lastFailedOnLength_ = false;
    bool deviceGone_ = false;
    QSet<QString> cleanedFolders_;
    std::atomic<std::uint64_t> *progress_ = nullptr;
    CopyRangeFunction copyRange_ = ::copy_file_range;
    const std::atomic<bool> *stop_ = nullptr;
    // The object's proven copy read instead of the device, and its hash.
    int sourceFd_ = -1;
    ContentHash sourceHash_;
    QString sourceShown_;
    std::function<bool(const QString &)> avoidName_;
    int lastLocalError_ = 0;
    // The hash of the object's bytes the last comparison found the same.
    std::optional<ContentHash> lastMatchHash_;
};

// What stands under a name: lstat, so a link there is never followed.
// Nothing: 0 (a missing folder on the way counts as nothing). Something: 1,
// with info filled. The name cannot be looked at: -1, with errno saying why
// (a name too long, a folder we may not read).
int LookAt(const QString &path, struct stat &info);
// The folder part of a local file name, ending with "/".
QString FolderOf(const QString &FileName);
// The name part of a local file name.
QString NameOf(const QString &FileName);
