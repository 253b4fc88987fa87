#include "TransferDecision.h"

#include "base/DateFormat.h"
#include "base/FileNames.h"
#include "base/NumberFormat.h"
#include "base/RunState.h"
#include "copy/DestinationOverlap.h"
#include "copy/SideFiles.h"
#include "device/DeviceConnection.h"
#include "device/FolderBackend.h"
#include "log/LogSink.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kResourceError = QStringLiteral("RESOURCE ERROR: Too many files.");
const QString kTransferError = QStringLiteral("ERROR: Could not transfer the file from the device.");


// Paths hold device names byte for byte (FileNames.h); Qt's encoding would
// change the bytes that are not UTF-8. The log escapes what it shows.
QByteArray Native(const QString &path)
{
    return nameToBytes(path);
}

bool IsFolder(const QString &path)
{
    struct stat info;
    return ::stat(Native(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Makes a folder with every missing parent; false with errno set.
bool MakeFolders(const QString &folder)
{
    const QByteArray path = Native(folder);
    for (qsizetype end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/')
            continue;
        const QByteArray step = path.left(end);
        if (step.endsWith('/'))
            continue;
        struct stat info;
        if (::stat(step.constData(), &info) == 0) {
            if (S_ISDIR(info.st_mode))
                continue;
            errno = ENOTDIR;
            return false;
        }
        if (errno != ENOENT || (::mkdir(step.constData(), 0777) != 0 && errno != EEXIST))
            return false;
    }
    return true;
}

}  // namespace

// --- names ----------------------------------------------------------------------

namespace {

bool IsUsableStep(QStringView name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

}  // namespace

bool IsUsableName(const QString &name)
{
    return IsUsableStep(name);
}

QString RelativeFolder(const QString &ObjectID, bool *ok, QString *badName)
{
    if (ok)
        *ok = true;
    if (!ObjectID.startsWith(QLatin1Char('/')))
        return QString();
    // "/storage/folders.../file name": the folders lie between the slash
    // after the storage and the last one. Each is checked where it stands,
    // without splitting the identifier (a copy run does this for every file).
    const qsizetype first = ObjectID.indexOf(QLatin1Char('/'), 1);
    const qsizetype last = ObjectID.lastIndexOf(QLatin1Char('/'));
    if (first < 0 || last <= first)
        return QString();
    const QStringView folder = QStringView(ObjectID).sliced(first + 1, last - first);  // ends with "/"
    for (const QStringView part : folder.chopped(1).tokenize(QLatin1Char('/'))) {
        if (!IsUsableStep(part)) {
            if (ok)
                *ok = false;
            if (badName)
                *badName = part.toString();
            return QString();
        }
    }
    return folder.toString();
}

DestinationName DestinationFileName(const QString &DestinationPath, const QString &DateFormat,
                                    const FormatSettings &Settings, const QString &ObjectID, const QString &FileName,
                                    const QDateTime &DateCreated, bool FolderMode)
{
    DestinationName result;
    if (!DestinationPath.startsWith(QLatin1Char('/'))) {
        result.error = QStringLiteral("ERROR: The Destination Path \"") + DestinationPath +
                       QStringLiteral("\" is not a full folder path.");
        return result;
    }
    if (!IsUsableName(FileName)) {
        result.error = QStringLiteral("ERROR: Refused the file name \"") + FileName + QStringLiteral("\" of ") +
                       ObjectID + QStringLiteral(": it cannot be a local file name.");
        return result;
    }
    const QString base =
        DestinationPath.endsWith(QLatin1Char('/')) ? DestinationPath : DestinationPath + QLatin1Char('/');
    QString folder;
    if (FolderMode) {
        bool ok = true;
        QString bad;
        folder = RelativeFolder(ObjectID, &ok, &bad);
        if (!ok) {
            result.error = QStringLiteral("ERROR: Refused the folder name \"") + bad + QStringLiteral("\" of ") +
                           ObjectID + QStringLiteral(": it cannot be a local folder name.");
            return result;
        }
    } else {
        QString dated = FormatDateTime(DateFormat, DateCreated, Settings);
        dated.replace(QLatin1Char('\\'), QLatin1Char('/'));
        for (const QString &part : dated.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            if (part == QLatin1String("..")) {
                result.error = QStringLiteral("ERROR: The date folder \"") + dated +
                               QStringLiteral("\" would leave the Destination Path.");
                return result;
            }
            if (part.contains(QChar(0)) || part == QLatin1String("."))
                continue;
            folder += part + QLatin1Char('/');
        }
    }
    result.fileName = base + folder + FileName;
    // Every step was checked; this guards the rule itself.
    const QString cleanBase = QDir::cleanPath(base);
    const QString clean = QDir::cleanPath(result.fileName);
    if (!clean.startsWith(cleanBase == QLatin1String("/") ? cleanBase : cleanBase + QLatin1Char('/'))) {
        result.error = QStringLiteral("ERROR: Refused ") + result.fileName +
                       QStringLiteral(": it would leave the Destination Path.");
        result.fileName.clear();
    }
    return result;
}

qint64 GetLocalFileSize(const QString &FileName)
{
    struct stat info;
    if (::lstat(Native(FileName).constData(), &info) != 0)
        return -1;
    return qint64(info.st_size);
}

// --- TransferDecision -------------------------------------------------------------

TransferDecision::TransferDecision(DeviceConnection &connection, RunState &run, LogSink &log, TransferEvents &events,
                                   PostFileCommand command)
    : connection_(connection), run_(run), log_(log), host_(events), command_(std::move(command)),
      streams_(connection.Handles(), log), takenDates_(connection.Handles())
{
    streams_.SetStopFlag(&run.StopSignalled);
    streams_.SetProgressCounter(&run_.BytesDone);
}

void TransferDecision::TransferFile(const QString &ObjectID, const QString &FileName, const QDateTime &DateCreated,
                                    quint64 Size, bool FolderMode)
{
    endedInError_ = false;
    // A decision used without BeginRun (a single file) sets its
    // destinations up at the first file, and again when they change.
    if (destinations_.empty() || destinations_.front().root != settings_.Destination ||
        destinationsOf_ != settings_.BackupPaths)
        SetUpDestinations();
    if (deviceLost_ || allLost_) {
        endedInError_ = true;
        return;
    }
    // In folder mode a side file lands beside its main file anyway.
    if (!FolderMode && IsSideFileName(FileName)) {
        waitingSides_.push_back({ObjectID, FileName, DateCreated, Size});
        return;
    }
    Transfer(ObjectID, FileName, DateCreated, Size, FolderMode, nullptr);
}

void TransferDecision::FolderDone(const QString &FolderID)
{
    // Side files come before or after their main file in a listing: they
    // wait for the end of their folder, which every main file of theirs
    // was handed over by.
    std::vector<WaitingSideFile> now, later;
    for (WaitingSideFile &side : waitingSides_)
        (DeviceFolderOf(side.ObjectID) == FolderID ? now : later).push_back(std::move(side));
    waitingSides_ = std::move(later);
    for (const WaitingSideFile &side : now) {
        if (deviceLost_ || run_.StopSignalled) {
            waitingSides_.push_back(side);
            continue;
        }
        DecideSideFile(side);
    }
    mainFiles_.remove(FolderID);
}

void TransferDecision::DecideSideFile(const WaitingSideFile &side)
{
    const MainFile *main = nullptr;
    const auto folder = mainFiles_.constFind(DeviceFolderOf(side.ObjectID));
    if (folder != mainFiles_.constEnd()) {
        for (const QString &key : MainFileKeysOf(side.FileName)) {
            const auto found = folder->constFind(key);
            if (found != folder->constEnd()) {
                main = &*found;
                break;
            }
        }
    }
    Transfer(side.ObjectID, side.FileName, side.DateCreated, side.Size, false, main);
}

void TransferDecision::EndSideFiles(bool finished)
{
    std::vector<WaitingSideFile> waiting = std::move(waitingSides_);
    waitingSides_.clear();
    qsizetype left = 0;
    for (const WaitingSideFile &side : waiting) {
        if (!finished || deviceLost_ || run_.StopSignalled)
            ++left;
        else
            DecideSideFile(side);
    }
    if (left > 0)
        log_.WriteLog(QStringLiteral("Not copied: %1 side file(s) (XMP, THM, AAE, edits) that wait for the rest of "
                                     "their folder; they stay on the device.")
                          .arg(left),
                      LogColor::Red);
    mainFiles_.clear();
}

void TransferDecision::Transfer(const QString &ObjectID, const QString &FileName, const QDateTime &DateCreated,
                                quint64 Size, bool FolderMode, const MainFile *main)
{
    endedInError_ = false;
    // However this file ends, the progress display counts its whole size
    // once, whatever was read of it (twice, for a copy that was compared
    // first) or not read at all (a file already present).
    const std::uint64_t doneBefore = run_.BytesDone;
    const auto countDone = qScopeGuard([&] { run_.BytesDone = doneBefore + Size; });
    try {
        Decide(ObjectID, FileName, DateCreated, qint64(Size), FolderMode, main);
    } catch (const OutOfResources &e) {
        log_.WriteLog(e.Message(), LogColor::Red);
        ResourceError();
    } catch (const std::bad_alloc &) {
        ResourceError();
    }
}

void TransferDecision::ResourceError()
{
    log_.WriteLog(kResourceError, LogColor::Red, LogStyle::Bold);
    run_.ErrorCount += 1;
    host_.ShowErrorMessage(kResourceError);
    throw RunAbort(kResourceError);
}

// An error ends this file only: the walk goes on with the next one, and the
// window stays busy with Stop usable until the run ends.
void TransferDecision::ErrorExit(const QString &line)
{
    log_.WriteLog(line, LogColor::Red, LogStyle::Bold);
    run_.ErrorCount += 1;
    endedInError_ = true;
}

// A stopped transfer left nothing at the destination; the source stays on
// the device, and no delete and no command follow for it.
void TransferDecision::NotCopied(const QString &FileName, const Destination &to)
{
    log_.WriteLog(QStringLiteral("Stopped: the file ") + FileName +
                      (&to == &destinations_.front() ? QStringLiteral(" was not copied and stays on the device.")
                                                     : QStringLiteral(" was not copied to ") + to.label +
                                                           QStringLiteral(" and stays on the device.")),
                  LogColor::Red);
}

namespace {

// Errors that tell of the destination as a whole rather than of one file.
bool DestinationFails(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EROFS:
    case EIO:
    case ENODEV:
    case ENXIO:
    case ESTALE:
    case ENOTCONN:
    case EACCES:
    case EPERM: return true;
    default: return false;
    }
}

}  // namespace

void TransferDecision::FailOn(Destination &to, const QString &line, int error)
{
    log_.WriteLog(line, LogColor::Red, LogStyle::Bold);
    run_.ErrorCount += 1;
    if (&to == &destinations_.front())
        endedInError_ = true;
    else
        to.counts.ErrorCount += 1;
    if (!to.StillThere())
        LoseDestination(to, QStringLiteral("it is gone"));
    else if (DestinationFails(error))
        LoseDestination(to, QString::fromLocal8Bit(std::strerror(error)));
}

void TransferDecision::LoseDestination(Destination &to, const QString &why)
{
    if (to.lost)
        return;
    to.lost = true;
    to.counts.failure = why;
    log_.WriteLog(QStringLiteral("ERROR: The ") + to.label + QStringLiteral(" \"") + to.root +
                      QStringLiteral("\" failed (") + why +
                      QStringLiteral("). Nothing more goes there in this run; the other destinations go on, and "
                                     "files stay on the device."),
                  LogColor::Red, LogStyle::Bold);
    if (std::all_of(destinations_.begin(), destinations_.end(), [](const Destination &d) { return d.lost; })) {
        allLost_ = true;
        log_.WriteLog(QStringLiteral("ERROR: No destination is left: the files after this one are not copied."),
                      LogColor::Red, LogStyle::Bold);
    }
}

QString TransferDecision::Destination::RootWithSlash() const
{
    return root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
}

bool TransferDecision::Destination::StillThere() const
{
    struct stat info;
    if (::stat(Native(root).constData(), &info) != 0)
        return device == 0 && inode == 0;  // not there when the run began either: it is made as it was before
    return (device == 0 && inode == 0) || (info.st_dev == device && info.st_ino == inode);
}

TransferDecision::Destination *TransferDecision::AddDestination(const QString &label, const QString &root)
{
    Destination &to = destinations_.emplace_back();
    to.label = label;
    to.root = root;
    to.counts.label = label;
    to.counts.path = root;
    struct stat info;
    if (::stat(Native(root).constData(), &info) == 0 && S_ISDIR(info.st_mode)) {
        to.device = info.st_dev;
        to.inode = info.st_ino;
    }
    return &to;
}

void TransferDecision::BeginRun()
{
    deviceLost_ = false;
    waitingSides_.clear();
    mainFiles_.clear();
    SetUpDestinations();
}

void TransferDecision::SetUpDestinations()
{
    allLost_ = false;
    destinations_.clear();
    destinationsOf_ = settings_.BackupPaths;
    destinations_.reserve(size_t(settings_.BackupPaths.size()) + 1);
    AddDestination(QStringLiteral("Destination Path"), settings_.Destination);
    const QString deviceFolder = FolderBackend::FolderOfDevice(connection_.OpenedDeviceID());
    for (qsizetype i = 0; i < settings_.BackupPaths.size(); ++i) {
        const QString path = settings_.BackupPaths.at(i);
        if (path.isEmpty())
            continue;
        const QString label = QStringLiteral("Backup Path %1").arg(i + 1);
        QString refused;
        if (!path.startsWith(QLatin1Char('/'))) {
            refused = QStringLiteral("ERROR: The %1 \"%2\" is not a full folder path.").arg(label, path);
        } else if (!IsFolder(path)) {
            refused = QStringLiteral("ERROR: The %1 \"%2\" %3.")
                          .arg(label, path,
                               GetLocalFileSize(path) >= 0 ? QStringLiteral("is not a folder")
                                                           : QStringLiteral("does not exist"));
        } else if (const QString overlap = DestinationOverlap(path, deviceFolder, label); !overlap.isEmpty()) {
            refused = overlap;
        } else {
            for (const Destination &other : destinations_)
                if (!other.lost && FoldersOverlap(path, other.root))
                    refused = QStringLiteral("ERROR: The %1 \"%2\" and the %3 \"%4\" are the same folder or lie "
                                             "one inside the other.")
                                  .arg(label, path, other.label, other.root);
        }
        Destination *to = AddDestination(label, path);
        if (!refused.isEmpty()) {
            log_.WriteLog(refused + QStringLiteral(" Nothing goes there in this run, and files stay on the device."),
                          LogColor::Red, LogStyle::Bold);
            run_.ErrorCount += 1;
            to->counts.ErrorCount += 1;
            to->lost = true;
            to->counts.failure = QStringLiteral("refused when the run began");
        }
    }
    MhlCreator creator = creator_;
    if (creator.tool.isEmpty()) {
        creator.tool = QStringLiteral("Ferrovane");
        creator.version = QStringLiteral(FERROVANE_VERSION_TEXT);
    }
    for (Destination &to : destinations_) {
        if (to.lost)
            continue;
        to.manifest = std::make_unique<MhlGeneration>();
        if (!to.manifest->Start(to.root, creator, MhlProcess::Transfer)) {
            log_.WriteLog(QStringLiteral("The hash list history at ") + to.root +
                              QStringLiteral(" is left as it is, and this run adds nothing to it: ") +
                              to.manifest->Trouble(),
                          LogColor::Red);
            to.manifest.reset();
        }
    }
}

void TransferDecision::EndDestinations()
{
    for (Destination &to : destinations_) {
        if (!to.manifest)
            continue;
        std::unique_ptr<MhlGeneration> manifest = std::move(to.manifest);
        if (manifest->Listed() == 0)
            continue;
        if (!to.StillThere()) {
            log_.WriteLog(QStringLiteral("No hash list was written at ") + to.root + QStringLiteral(": it is gone."),
                          LogColor::Red);
            continue;
        }
        if (!manifest->Finish()) {
            log_.WriteLog(QStringLiteral("The hash list at ") + to.root + QStringLiteral(" could not be written: ") +
                              manifest->Trouble(),
                          LogColor::Red);
            continue;
        }
        for (const QString &written : manifest->Written())
            log_.WriteLog(QStringLiteral("Hash list written: ") + to.RootWithSlash() + written +
                              (manifest->Listed() == 1 ? QStringLiteral(" (1 file).")
                                                       : QStringLiteral(" (%1 files).").arg(manifest->Listed())),
                          LogColor::Black);
    }
}

std::vector<BackupCounts> TransferDecision::BackupStatistics() const
{
    std::vector<BackupCounts> counts;
    for (size_t i = 1; i < destinations_.size(); ++i)
        counts.push_back(destinations_[i].counts);
    return counts;
}

void TransferDecision::RunCommand(const QString &Dest)
{
    if (command_)
        command_(FolderOf(Dest), NameOf(Dest));
}

bool TransferDecision::DeleteSource(const QString &ObjectID, const QString &FileName, const QStringList &Copies)
{
    // The device's copy goes only once ours would survive a power cut.
    for (const QString &Copy : Copies) {
        if (StreamTransfer::SyncFileAndFolder(Copy))
            continue;
        const int error = errno;
        if (error == EMFILE || error == ENFILE)
            throw OutOfResources(Copy + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)));
        log_.WriteLog(Copy + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)), LogColor::Red);
        ErrorExit(QStringLiteral("ERROR: Could not flush ") + Copy +
                  QStringLiteral(" to disk; the file stays on the device."));
        return false;
    }
    if (!DeleteFileFromDevice(ObjectID)) {
        ErrorExit(QStringLiteral("ERROR: Could not delete the file ") + FileName + QStringLiteral(" from the device."));
        return false;
    }
    log_.WriteLog(QStringLiteral("Deleted file ") + FileName + QStringLiteral(" from device."), LogColor::Green);
    run_.FilesDeleted += 1;
    return true;
}

ImportRecord *TransferDecision::Record()
{
    if (recordPath_.isEmpty())
        return nullptr;
    if (!record_) {
        record_ = std::make_unique<ImportRecord>();
        record_->Open(recordPath_);
        SayRecordTrouble();
    }
    return record_->Usable() ? record_.get() : nullptr;
}

void TransferDecision::SayRecordTrouble()
{
    if (!record_)
        return;
    const QString trouble = record_->TakeTrouble();
    if (!trouble.isEmpty())
        log_.WriteLog(trouble + QStringLiteral(" Files at the destination are compared with the device instead."),
                      LogColor::Red);
}

void TransferDecision::EndRecord()
{
    if (!record_)
        return;
    record_->Flush();
    SayRecordTrouble();
    record_.reset();
}

bool TransferDecision::MakeFolder(const QString &Folder, Destination &to)
{
    if (Folder.isEmpty() || streams_.IsKnownFolder(Folder) || IsFolder(Folder))
        return true;
    if (!MakeFolders(Folder)) {
        const int error = errno;
        if (error == EMFILE || error == ENFILE)
            throw OutOfResources(Folder + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)));
        FailOn(to, QStringLiteral("ERROR: Directory ") + Folder + QStringLiteral(" Could not be created."), error);
        return false;
    }
    log_.WriteLog(QStringLiteral("Directory ") + Folder + QStringLiteral(" created."), LogColor::Black);
    return true;
}

void TransferDecision::Decide(const QString &ObjectID, const QString &FileName, const QDateTime &DateCreated,
                              qint64 Size, bool FolderMode, const MainFile *main)
{
    run_.FilesLocated += 1;
    log_.WriteLog(QStringLiteral("Source File: ") + ObjectID, LogColor::Blue);
    log_.WriteLog(QStringLiteral("Dated: ") + DateTimeToStr(DateCreated, UserLocaleSettings()), LogColor::Black);
    log_.WriteLog(QStringLiteral("Size: ") + FormatKiB(Size) + QStringLiteral(" KiB"), LogColor::Black);
    // This very object in the import record: the device, its path there,
    // its size and date.
    ImportRecord *record = Record();
    const ImportedObject object{connection_.CurrentDeviceName, connection_.CurrentDeviceSerialNo, ObjectID, Size,
                                DateCreated.isValid() ? DateCreated.toMSecsSinceEpoch() : 0};
    if (record && settings_.SkipImportedBefore && record->EverImported(object)) {
        // Wherever its copy went since: nothing is claimed of it, and the
        // device keeps it.
        log_.WriteLog(QStringLiteral("Skipped file ") + FileName +
                          QStringLiteral(": the import record shows it was imported before."),
                      LogColor::Black);
        SayRecordTrouble();
        return;
    }
    // The date folder, the file found there and the copy's time may go by
    // the date the photo or video was taken; the log says which date counts.
    // A side file goes to its main file's folder and keeps its own time.
    QDateTime when = DateCreated;
    QDateTime folderDate = DateCreated;
    if (main) {
        folderDate = main->folderDate;
        log_.WriteLog(QStringLiteral("Side file of ") + main->name + QStringLiteral(": it goes to the same folder."),
                      LogColor::Black);
    } else if (!FolderMode && settings_.DateTaken) {
        const TakenDate taken = takenDates_.Read(ObjectID, Size);
        if (taken.status == TakenDate::Status::Found)
            when = folderDate = taken.when;
        log_.WriteLog(TakenDateLine(FileName, taken), LogColor::Black);
    }
    if (!FolderMode && !IsSideFileName(FileName)) {
        QHash<QString, MainFile> &folder = mainFiles_[DeviceFolderOf(ObjectID)];
        for (const QString &key : KeysOfMainFile(FileName))
            if (!folder.contains(key))
                folder.insert(key, MainFile{FileName, folderDate});
    }
    host_.SelectCatalogueRow(ObjectID);

    // The object goes to each destination on its own, the main one first.
    // Its bytes come from the device once: the first destination that has
    // them proven (copied or compared) lends its copy to the others.
    const bool deleteFiles = settings_.DeleteFiles;
    streams_.SetModificationTime(InstantOf(when));
    streams_.SetSyncToDisk(deleteFiles);
    streams_.SetVerifyOnDisk(settings_.ByteLevel);
    const auto forgetSource = qScopeGuard([this] {
        streams_.ClearObjectSource();
        streams_.SetAvoidedName({});
    });
    const FileToPlace file{ObjectID, FileName, Size, FolderMode, folderDate, object, record};
    std::vector<Placement> placements;
    placements.reserve(destinations_.size());
    bool everyCopyProven = true;
    for (size_t i = 0; i < destinations_.size(); ++i) {
        Destination &to = destinations_[i];
        if (to.lost) {
            everyCopyProven = false;
            placements.emplace_back();
            continue;
        }
        placements.push_back(PlaceOn(to, file));
        const Placement &placed = placements.back();
        if (placed.kind != Placement::Kind::Placed && placed.kind != Placement::Kind::Present)
            everyCopyProven = false;
        if (placed.kind == Placement::Kind::Stopped) {
            NotCopied(FileName, to);
            return;
        }
        if (placed.kind == Placement::Kind::Ended)
            return;
        const bool proven = placed.kind == Placement::Kind::Placed || placed.kind == Placement::Kind::Present;
        if (proven && !streams_.HasObjectSource() && i + 1 < destinations_.size())
            LendCopy(placed);
    }

    // The device's file goes only when every destination holds its proven copy.
    const auto holder = std::find_if(placements.begin(), placements.end(), [](const Placement &p) {
        return p.kind == Placement::Kind::Placed || p.kind == Placement::Kind::Present;
    });
    if (holder == placements.end())
        return;
    if (deleteFiles) {
        if (!everyCopyProven) {
            log_.WriteLog(QStringLiteral("The file ") + FileName +
                              QStringLiteral(" stays on the device: not every destination holds its proven copy."),
                          LogColor::Red);
        } else {
            QStringList copies;
            for (const Placement &p : placements)
                copies << p.at;
            if (!DeleteSource(ObjectID, FileName, copies))
                return;
        }
    }
    // The per-file command runs once, for the first copy.
    if (settings_.ForceRun || holder->kind == Placement::Kind::Placed)
        RunCommand(holder->at);
}

TransferDecision::Placement TransferDecision::PlaceOn(Destination &to, const FileToPlace &file)
{
    Placement placement;
    placement.kind = Placement::Kind::Failed;
    const bool primary = &to == &destinations_.front();
    // A destination whose folder went away (a disk unplugged) or was
    // replaced is never written to again: nothing is made in its place.
    if (!to.StillThere()) {
        LoseDestination(to, QStringLiteral("it is gone"));
        return placement;
    }
    if (primary && !DestinationApart(to.root)) {
        run_.ErrorCount += 1;
        endedInError_ = true;
        return placement;
    }
    const DestinationName name = DestinationFileName(to.root, settings_.DateFormat, ProcessFormatSettings(),
                                                     file.ObjectID, file.FileName, file.folderDate, file.FolderMode);
    if (name.fileName.isEmpty()) {
        // The device's name, refused the same way everywhere.
        ErrorExit(name.error);
        placement.kind = Placement::Kind::Ended;
        return placement;
    }
    const QString Dest = name.fileName;
    const qint64 Size = file.Size;
    const QString &FileName = file.FileName;

    // What stands under the name: the placement below looks at it and at
    // the numbered names beside it, and proves or refuses each.
    struct stat info
    {
    };
    QString announced = FileName;
    bool sizeDiffers = false, mismatchSaid = false;
    const auto sayMismatch = [&] {
        log_.WriteLog(QStringLiteral("Destination file ") + Dest +
                          QStringLiteral(" has SIZE mismatch with Source file."),
                      LogColor::Red);
        mismatchSaid = true;
    };
    const int seen = LookAt(Dest, info);
    if (seen < 0) {
        const int error = errno;
        if (error == EMFILE || error == ENFILE)
            throw OutOfResources(Dest + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)));
        log_.WriteLog(Dest + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)), LogColor::Red);
        FailOn(to, kTransferError, error);
        return placement;
    } else if (seen > 0 && S_ISREG(info.st_mode)) {
        log_.WriteLog(QStringLiteral("Destination file found ") + Dest, LogColor::Black);
        log_.WriteLog(QStringLiteral("Size: ") + FormatKiB(qint64(info.st_size)) + QStringLiteral(" KiB"),
                      LogColor::Black);
        sizeDiffers = qint64(info.st_size) != Size;
        // A numbered copy of the file's size beside it may be its copy from
        // an earlier run: then nothing is wrong, and the mismatch is said
        // only if that copy turns out not to match.
        if (sizeDiffers && !SameSizeBeside(Dest, Size))
            sayMismatch();
    } else if (seen == 0) {
        info = {};  // nothing there, which the placement need not look at again
        // A new file: said before its folder is made, as it goes there.
        log_.WriteLog(QStringLiteral("Copying file ") + FileName + QStringLiteral(" to ") + Dest +
                          QStringLiteral(" ..."),
                      LogColor::Black);
        announced.clear();
        if (!MakeFolder(FolderOf(Dest), to))
            return placement;
    }

    // A file the record names as this object's copy, unchanged since it was
    // placed, is present without reading the device.
    ImportRecord *record = file.record;
    std::optional<std::vector<ImportEntry>> entries;
    std::optional<ImportEntry> recordedEntry;
    auto recorded = [&](const QString &candidate) {
        if (!record)
            return false;
        if (!entries)
            entries = record->Find(file.object);
        for (const ImportEntry &entry : *entries)
            if (entry.destination == candidate && CopyUnchanged(entry)) {
                recordedEntry = entry;
                return true;
            }
        return false;
    };
    MhlGeneration *manifest = to.manifest.get();
    const QString root = to.RootWithSlash();
    streams_.SetAvoidedName(manifest ? std::function<bool(const QString &)>([manifest, root](const QString &c) {
        return c.startsWith(root) && manifest->Knows(c.mid(root.size()));
    })
                                     : std::function<bool(const QString &)>());
    QString at;
    CopyProof proof;
    const ByteLevelResult result =
        streams_.ByteLevelCheck(file.ObjectID, Dest, Size, &at, announced, &proof, recorded, &info);
    if (record && (result == ByteLevelResult::Same || result == ByteLevelResult::Replaced) &&
        proof.kind != CopyProof::Kind::Record && proof.stamp)
        record->Add(ImportEntry{file.object, proof.hash, at, *proof.stamp, QDateTime::currentMSecsSinceEpoch()});
    SayRecordTrouble();
    if (sizeDiffers && !mismatchSaid && !(result == ByteLevelResult::Same && at != Dest))
        sayMismatch();
    switch (result) {
    case ByteLevelResult::TransferFailed:
        placement.at = at;
        if (streams_.TakeDeviceGone()) {
            // Every later file would fail the same way, each after a
            // timeout on a real bus: the run ends here.
            deviceLost_ = true;
            ErrorExit(QStringLiteral("ERROR: The device is gone while copying ") + FileName +
                      QStringLiteral("; it and the files after it were not copied."));
            placement.kind = Placement::Kind::Ended;
        } else if (streams_.LastFailedOnLength()) {
            // Nothing was placed: the short or long data was thrown away.
            log_.WriteLog(QStringLiteral("Size: ") + FormatKiB(streams_.LastReceived()) + QStringLiteral(" KiB"),
                          LogColor::Black);
            FailOn(to,
                   QStringLiteral("FATAL ERROR: Destination file ") + at +
                       QStringLiteral(" file size mismatch with Source file."),
                   0);
            if (!streams_.HasObjectSource())
                placement.kind = Placement::Kind::Ended;
        } else {
            const int error = streams_.LastLocalError();
            FailOn(to, kTransferError, error);
            // The device could not give the file: no other destination gets it.
            if (error == 0 && !streams_.HasObjectSource())
                placement.kind = Placement::Kind::Ended;
        }
        return placement;
    case ByteLevelResult::Stopped: placement.kind = Placement::Kind::Stopped; return placement;
    case ByteLevelResult::Same: break;
    case ByteLevelResult::Replaced: break;
    }
    placement.at = at;
    placement.proof = proof;
    if (result == ByteLevelResult::Replaced) {
        log_.WriteLog(QStringLiteral("Copied file ") + FileName + QStringLiteral(" to ") + at, LogColor::Green);
        const qint64 DestSize = GetLocalFileSize(at);
        log_.WriteLog(QStringLiteral("Size: ") + FormatKiB(DestSize) + QStringLiteral(" KiB"), LogColor::Black);
        if (primary) {
            run_.FilesCopied += 1;
            run_.BytesCopied += quint64(Size);
        } else {
            to.counts.FilesCopied += 1;
            to.counts.BytesCopied += quint64(Size);
        }
        if (DestSize != Size) {
            FailOn(to,
                   QStringLiteral("FATAL ERROR: Destination file ") + at +
                       QStringLiteral(" file size mismatch with Source file."),
                   0);
            return placement;
        }
        placement.kind = Placement::Kind::Placed;
    } else {
        placement.kind = Placement::Kind::Present;
        if (primary)
            run_.FilesExisting += 1;
        else
            to.counts.FilesExisting += 1;
    }
    log_.WriteLog(QStringLiteral("Source and Destination files match."), LogColor::Black);
    log_.WriteLog(proof.Text(), LogColor::Black);
    ListInManifest(to, at, proof, recordedEntry);
    return placement;
}

void TransferDecision::LendCopy(const Placement &placed)
{
    // Only bytes read from the device (copied or compared) are lent; a
    // file the record vouches for was not read.
    if (placed.proof.kind == CopyProof::Kind::Record || !placed.proof.hash || !placed.proof.stamp)
        return;
    const int fd = ::open(Native(placed.at).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return;
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && qint64(info.st_size) == placed.proof.stamp->size &&
        qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec == placed.proof.stamp->mtimeNs)
        streams_.AdoptObjectSource(fd, *placed.proof.hash, placed.at);
    else
        ::close(fd);
}

void TransferDecision::ListInManifest(Destination &to, const QString &at, const CopyProof &proof,
                                      const std::optional<ImportEntry> &recorded)
{
    if (!to.manifest)
        return;
    const QString root = to.RootWithSlash();
    if (!at.startsWith(root))
        return;
    std::optional<ContentHash> hash = proof.hash;
    std::optional<FileStamp> stamp = proof.stamp;
    if (proof.kind == CopyProof::Kind::Record && recorded) {
        hash = recorded->hash;
        stamp = recorded->destinationStamp;
    }
    if (!hash) {
        // Found present on the record's word, which kept no hash: the file
        // is hashed where it is.
        const int fd = ::open(Native(at).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        QString why = fd < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QString();
        struct stat info;
        if (fd >= 0 && ::fstat(fd, &info) == 0) {
            hash = HashFile(fd, &why);
            stamp = FileStamp{qint64(info.st_size), qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
        }
        if (fd >= 0)
            ::close(fd);
        if (!hash || !stamp) {
            log_.WriteLog(at + QStringLiteral(" is not listed in the hash list at ") + to.root +
                              QStringLiteral(": it could not be hashed: ") + why,
                          LogColor::Red);
            return;
        }
    }
    const MhlGeneration::Added added = to.manifest->Add(at.mid(root.size()), *stamp, MhlHashOf(*hash));
    if (!added.listed)
        log_.WriteLog(at + QStringLiteral(" is not listed in the hash list at ") + to.root + QStringLiteral(": ") +
                          added.note,
                      LogColor::Red);
    else if (added.action == MhlAction::Failed)
        log_.WriteLog(QStringLiteral("The hash list at ") + to.root + QStringLiteral(" lists ") + at +
                          QStringLiteral(" as failed: ") + added.note + QLatin1Char('.'),
                      LogColor::Red);
}

bool TransferDecision::SameSizeBeside(const QString &dest, qint64 size)
{
    for (int n = 2; n <= 10; ++n) {
        const QFileInfo numbered(StreamTransfer::NumberedName(dest, n));
        if (!numbered.exists())
            return false;
        if (numbered.isFile() && numbered.size() == size)
            return true;
    }
    return false;
}

bool TransferDecision::DestinationApart(const QString &destination)
{
    const QString &device = connection_.OpenedDeviceID();
    if (destination != apartDestination_ || device != apartDevice_) {
        apartDestination_ = destination;
        apartDevice_ = device;
        overlap_ = DestinationOverlap(destination, FolderBackend::FolderOfDevice(device));
    }
    if (overlap_.isEmpty())
        return true;
    log_.WriteLog(overlap_, LogColor::Red, LogStyle::Bold);
    return false;
}

bool TransferDecision::DeleteFileFromDevice(const QString &ObjectID)
{
    DeviceService &service = connection_.Service();
    std::shared_ptr<PortableDevicePropVariantCollection> ids = service.CreatePropVariantCollection();
    std::shared_ptr<PortableDevicePropVariantCollection> results = service.CreatePropVariantCollection();
    if (!ids || !results)
        return false;
    PROPVARIANT id;
    StringToPropVariant(service, ObjectID, id);
    ids->Add(id);
    HRESULT hr = E_POINTER;
    if (connection_.Handles().aPortableDeviceContent)
        hr = connection_.Handles().aPortableDeviceContent->Delete(PORTABLE_DEVICE_DELETE_NO_RECURSION, *ids, &results);
    if (hr != S_OK) {
        log_.WriteLog(QStringLiteral("Failed to Delete the file using aPortableDeviceContent.Delete."), LogColor::Red);
        const QString reason = DeviceErrorText(hr);
        log_.WriteLog(ObjectID + QStringLiteral(": ") +
                          (reason.isEmpty() ? QStringLiteral("result %1").arg(hr) : reason),
                      LogColor::Red);
        return false;
    }
    host_.RemoveCatalogueRow(ObjectID);
    return true;
}
