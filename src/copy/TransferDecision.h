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

#include "catalogue/ContentWalk.h"
#include "copy/ImportRecord.h"
#include "copy/MediaDate.h"
#include "copy/StreamTransfer.h"
#include "copy/TransferEvents.h"
#include "log/Exception.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <functional>
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

    // At the start of every run and catalogue copy.
    void BeginRun()
    {
        deviceLost_ = false;
        waitingSides_.clear();
        mainFiles_.clear();
    }
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
    void NotCopied(const QString &FileName);
    void ResourceError();
    // False after an error exit.
    bool DeleteSource(const QString &ObjectID, const QString &FileName, const QString &Copy);
    void RunCommand(const QString &Dest);
    // Makes a missing destination folder with its parents; false after an
    // error exit.
    bool MakeFolder(const QString &Folder);
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
