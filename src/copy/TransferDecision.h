#pragma once

// The decision for one file of a copy run: where it goes, whether it is
// already there, and what to do about it; then deleting the source and the
// per-file command as the options say. It keeps the run's counters and
// writes the file's part of the log.
//
// Nothing at the destination is ever overwritten by another file: a file
// under the destination name that is not this object's data is kept, and the
// object goes to the first free "NAME (n).EXT" beside it; only a truncated
// earlier copy of the same object is finished in place. A file found there
// counts as the object's copy only on a proof: its bytes compared with the
// object's, or the import record of this very object; a name and a size
// prove nothing. A new copy is proven by its size and the device's end of
// the object, and with Byte Level File Comparison by its hash read back
// from the disk. Every "Source and Destination files match." is followed by
// the line naming its proof. A source is deleted only when its copy is
// proven and flushed to disk. Names keep the device's bytes
// (base/FileNames.h) in every file-system call.
//
// Stop ends the file in flight between two chunks of its transfer: nothing
// of it is placed, its source stays on the device, and one red line names
// it. The data never stood under a final name, so nothing is lost by not
// finishing it.
//
// Backup paths: every file goes to the destination and to each backup path,
// each on its own (date folders, the file found there, free names, proofs)
// with its own log lines. The device gives the file's bytes once: the first
// destination that has them proven lends its copy to the others, whose
// copies must hash alike. The source is deleted only when every destination
// holds a proven copy. A destination that fails as a whole (full, gone,
// read-only) is named once in red and left for the rest of the run; the
// others go on. Each destination root gets a generation of its ASC MHL
// history (AscMhl.h) listing every file the run placed or proved present
// there, with the hash taken while copying or comparing.

#include "catalogue/ContentWalk.h"
#include "copy/AscMhl.h"
#include "copy/ImportRecord.h"
#include "copy/MediaDate.h"
#include "copy/RunTexts.h"
#include "copy/StreamTransfer.h"
#include "copy/TransferEvents.h"
#include "log/Exception.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class DeviceConnection;
class LogSink;
struct FormatSettings;
struct RunState;

// Ends the whole run (raised after an out-of-resources error).
class RunAbort : public Exception
{
public:
    using Exception::Exception;
};

// The local file name a device file is copied to, or why it cannot have one.
struct DestinationName
{
    QString fileName;  // empty when refused
    QString error;     // the "ERROR: ..." line when refused
};

// Date mode: destination / formatted date / file name ("/" and "\" in the
// formatted date make nested folders). Folder mode: destination / the
// identifier's folders below its storage / file name. Names from the device
// that cannot be a local name, or a path that would leave the destination,
// are refused.
DestinationName DestinationFileName(const QString &DestinationPath, const QString &DateFormat,
                                    const FormatSettings &Settings, const QString &ObjectID, const QString &FileName,
                                    const QDateTime &DateCreated, bool FolderMode);

// The folder part of an identifier below its storage component, ending with
// "/" unless empty: "/store_1/DCIM/100CANON/IMG_0001.JPG" gives
// "DCIM/100CANON/". Identifiers of any other form give an empty folder. A
// folder name that cannot be a local name makes ok false.
QString RelativeFolder(const QString &ObjectID, bool *ok = nullptr, QString *badName = nullptr);

// True when a device-given name can be one step of a local path.
bool IsUsableName(const QString &name);

// The size of a local file, or -1 when there is none by that name.
qint64 GetLocalFileSize(const QString &FileName);

class TransferDecision : public TransferTarget
{
public:
    using PostFileCommand = std::function<void(const QString &Path, const QString &File)>;

    TransferDecision(DeviceConnection &connection, RunState &run, LogSink &log, TransferEvents &events,
                     PostFileCommand command);

    // The settings of the copies from now on (set before a run starts).
    void SetSettings(TransferSettings settings) { settings_ = std::move(settings); }
    const TransferSettings &Settings() const { return settings_; }

    void TransferFile(const QString &ObjectID, const QString &FileName, const QDateTime &DateCreated, quint64 Size,
                      bool FolderMode) override;
    // Decides the side files that waited for the rest of their folder.
    void FolderDone(const QString &FolderID) override;
    bool DeviceLost() const override { return deviceLost_; }

    // At the start of every run and catalogue copy: the destinations of the
    // settings, the backup paths checked (a missing one, one inside the
    // device or overlapping another destination is said in red and left
    // out) and each root's hash list history read.
    void BeginRun();
    // At the end of every run and catalogue copy, stopped or not: writes
    // each destination's hash list generation.
    void EndDestinations();
    // What each backup path received in the run so far.
    std::vector<BackupCounts> BackupStatistics() const;
    // At the end of every run and catalogue copy: decide the side files
    // still waiting (finished true), or, after a stop, a lost device or an
    // error exit, leave them on the device with one red line naming how
    // many; then forget the run's main files.
    void EndSideFiles(bool finished);

    // Deletes one object from the device and its catalogue row.
    bool DeleteFileFromDevice(const QString &ObjectID);

    // False, with one red line naming both, when the destination and the
    // open device's own folder (a card or a folder device) lie one inside
    // the other. Runs check it before listing; every file checks it too,
    // which costs a comparison of two texts once the pair is known.
    bool DestinationApart(const QString &destination);

    // Who writes the hash lists ("Ferrovane" and its version when not set).
    void SetManifestCreator(const MhlCreator &creator) { creator_ = creator; }

    // The import record's file; empty: no record is kept. The record is
    // opened at the first file of a run or catalogue copy and closed by
    // EndRecord.
    void SetImportRecordPath(const QString &path) { recordPath_ = path; }
    // Writes what the record still holds and closes it; a record that failed
    // is said once in red.
    void EndRecord();

    // Whether the last TransferFile ended in an error exit (a failing
    // per-file command is not one).
    bool EndedInError() const { return endedInError_; }

    StreamTransfer &Streams() { return streams_; }

private:
    // One destination of a run: the Destination Path or a backup path.
    struct Destination
    {
        QString label;  // "Destination Path", "Backup Path 1", ...
        QString root;
        dev_t device = 0;  // the root folder as it was when the run began
        ino_t inode = 0;
        bool lost = false;
        BackupCounts counts;
        std::unique_ptr<MhlGeneration> manifest;  // none when its history cannot take a generation

        QString RootWithSlash() const;
        // The root is still the folder it was.
        bool StillThere() const;
    };
    struct FileToPlace
    {
        QString ObjectID;
        QString FileName;
        qint64 Size = 0;
        bool FolderMode = false;
        QDateTime folderDate;
        ImportedObject object;
        ImportRecord *record = nullptr;
    };
    // How the file ended at one destination.
    struct Placement
    {
        enum class Kind {
            None,     // not tried (the destination was lost before)
            Placed,   // copied there, proven
            Present,  // found there, proven
            Failed,   // not there; the other destinations go on
            Stopped,  // Stop ended it
            Ended,    // the device failed or refused the file: no destination gets it
        };
        Kind kind = Kind::None;
        QString at;
        CopyProof proof;
    };
    Placement PlaceOn(Destination &to, const FileToPlace &file);
    // The proven copy just placed or found is read for the destinations after it.
    void LendCopy(const Placement &placed);
    void ListInManifest(Destination &to, const QString &at, const CopyProof &proof,
                        const std::optional<ImportEntry> &recorded);
    // An error of this file at one destination; a local error that shows
    // the destination itself failing (error) leaves it for the run.
    void FailOn(Destination &to, const QString &line, int error);
    void LoseDestination(Destination &to, const QString &why);
    Destination *AddDestination(const QString &label, const QString &root);
    void SetUpDestinations();

    // A numbered name beside DEST ("name (2).ext", ...) holds a file of SIZE bytes.
    static bool SameSizeBeside(const QString &dest, qint64 size);
    // A side file's main file: its name, and the date its date folder went by.
    struct MainFile
    {
        QString name;
        QDateTime folderDate;
    };
    struct WaitingSideFile
    {
        QString ObjectID;
        QString FileName;
        QDateTime DateCreated;
        quint64 Size = 0;
    };

    void Transfer(const QString &ObjectID, const QString &FileName, const QDateTime &DateCreated, quint64 Size,
                  bool FolderMode, const MainFile *main);
    void Decide(const QString &ObjectID, const QString &FileName, const QDateTime &DateCreated, qint64 Size,
                bool FolderMode, const MainFile *main);
    void DecideSideFile(const WaitingSideFile &side);
    void ErrorExit(const QString &line);
    void NotCopied(const QString &FileName, const Destination &to);
    void ResourceError();
    // False after an error exit.
    bool DeleteSource(const QString &ObjectID, const QString &FileName, const QStringList &Copies);
    void RunCommand(const QString &Dest);
    // Makes a missing destination folder with its parents; false after an
    // error exit.
    bool MakeFolder(const QString &Folder, Destination &to);
    // The open import record, or null (none kept, or unusable).
    ImportRecord *Record();
    void SayRecordTrouble();

    DeviceConnection &connection_;
    RunState &run_;
    LogSink &log_;
    TransferEvents &host_;
    TransferSettings settings_;
    PostFileCommand command_;
    StreamTransfer streams_;
    TakenDateReader takenDates_;
    bool endedInError_ = false;
    QString recordPath_;
    std::unique_ptr<ImportRecord> record_;
    bool deviceLost_ = false;
    // The destination first, then the backup paths, as the run began.
    std::vector<Destination> destinations_;
    bool allLost_ = false;
    QStringList destinationsOf_;  // the backup paths destinations_ was set up for
    MhlCreator creator_;
    // Side files in date folders (see SideFiles.h): each waits until every
    // file of its device folder was handed over, then goes to the date
    // folder of its main file. By device folder, the main files decided so
    // far, under their base names and full names in lower case.
    QHash<QString, QHash<QString, MainFile>> mainFiles_;
    std::vector<WaitingSideFile> waitingSides_;
    // The last pair DestinationApart judged, and its verdict.
    QString apartDestination_;
    QString apartDevice_;
    QString overlap_;
};
