#include "ImportSession.h"

#include "copy/ImportRecord.h"
#include "device/FolderBackend.h"
#include "device/SystemDeviceService.h"
#include "log/ExceptionReport.h"
#include "log/LogFiles.h"
#include "log/SystemInfo.h"
#include "settings/FileFilter.h"
#include "settings/SettingsStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder only this user can enter, made if missing. False when the path
// exists as anything else (a file, a link, another user's folder).
bool MakePrivateFolder(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info
    {
    };
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return false;
    return (info.st_mode & 0077) == 0 || ::chmod(native.constData(), 0700) == 0;
}

QString WithSlash(const QString &path)
{
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

}  // namespace

ImportSession::ImportSession(DeviceService &service, SettingsStore &settings, SessionPlaces places, QObject *parent)
    : QObject(parent), store_(settings), places_(std::move(places)), connection_(service, log_),
      engine_(connection_, log_, places_.programFolder)
{
    all_.Clear();
    shown_.Clear();
    engine_.SetImportRecordPath(ImportRecord::PathIn(places_.userDataFolder));
    ConnectEngine();
    // A settings file that cannot be written is said at the start and at
    // each save; every other write that fails is let go.
    store_.OnWriteFailure([](const QString &) {});
    watcher_.SetBusyCheck([this] { return RefreshMustWait(); });
    connect(&watcher_, &DeviceWatcher::RefreshDue, this, &ImportSession::DevicesChanged);
}

ImportSession::~ImportSession()
{
    engine_.StopAndWait();
}

void ImportSession::ConnectEngine()
{
    CopyRun *engine = &engine_;
    connect(engine, &CopyRun::rowsCleared, this, [this] {
        shown_.Clear();
        all_.Clear();
    });
    connect(engine, &CopyRun::rowsListed, this, [this](const QList<ListedRow> &rows) {
        for (const ListedRow &listed : rows) {
            all_.AppendRow(listed.row);
            if (listed.shown)
                shown_.AppendRow(listed.row);
        }
    });
    connect(engine, &CopyRun::rowRemoved, this, [this](const QString &objectId) {
        const int row = shown_.FindRow(CatalogueGrid::ObjectIdColumn, objectId);
        if (row > 0)
            shown_.RemoveRow(row);
    });
    connect(engine, &CopyRun::walkFinished, this, [this] {
        shown_.FlushRows();
        all_.FlushRows();
        emit catalogueComplete();
    });
    connect(engine, &CopyRun::copyStarted, this, [this] { changeDuringRunSaid_ = false; });
    connect(engine, &CopyRun::catalogueBusy, this, [this](bool busy) { SetBusy(busy); });
    connect(engine, &CopyRun::workerFinished, this, &ImportSession::WorkerEnded);
}

// --- the start and the end ------------------------------------------------------------

ProgramSettings ImportSession::LoadSettings()
{
    store_.Reload();
    if (const QString note = store_.IgnoredLinesNote(); !note.isEmpty())
        log_.WriteLog(note, LogColor::Red);
    const ProgramSettings program = store_.ReadProgram();
    DebugFlag = program.Debug;

    devices_.clear();
    QStringList folders;
    const QStringList entries = store_.ReadDeviceList();
    for (int i = 0; i < entries.size(); ++i) {
        const QString &name = entries.at(i);
        devices_ << name;
        log_.WriteDebug(QStringLiteral("Loaded %1 %2").arg(i).arg(name));
        // The folders added as devices are offered again.
        const QString folder = store_.ReadDevice(name).FolderPath;
        if (!folder.isEmpty() && !folders.contains(folder))
            folders << folder;
    }
    FolderBackend::SetAddedFolders(folders);

    connection_.CurrentDeviceName = store_.ReadDevice(program.LastDevice).DeviceName;
    chosenEntry_.clear();
    for (const QString &name : std::as_const(devices_)) {
        if (name.compare(connection_.CurrentDeviceName, Qt::CaseInsensitive) == 0) {
            chosenEntry_ = name;
            break;
        }
    }
    current_ = WithDefaults(store_.ReadDevice(program.LastDevice));
    connection_.CurrentDeviceSerialNo = current_.DeviceSerialNo;
    emit deviceListChanged();
    emit currentChanged();
    log_.WriteLog(QStringLiteral("Settings Loaded."), LogColor::Black);
    return program;
}

void ImportSession::Begin(const QString &location)
{
    begun_ = true;
    if (ending_)
        return;
    SetBusy(true);
    WriteStartLines();
    // A card or folder named at start is chosen instead of the remembered device.
    const QString named = location.isEmpty() ? std::exchange(pendingLocation_, QString()) : location;
    const QString folder = named.isEmpty() ? QString() : LocalFolderOf(named);
    bool newlyOffered = false;
    const QString startFolder = folder.isEmpty() ? QString() : OfferFolder(folder, newlyOffered);
    ScanDevices();
    if (!startFolder.isEmpty()) {
        SelectFolderDevice(startFolder, newlyOffered);
        return;
    }
    if (connection_.CurrentDeviceName.trimmed().isEmpty()) {
        // With no device at all the scan has said what to do.
        if (!devices_.isEmpty())
            log_.WriteLog(QStringLiteral("Choose a device from the list."), LogColor::Black, LogStyle::Bold);
        SetBusy(false);
        return;
    }
    FindCurrentDeviceID();
    if (devices_.contains(connection_.CurrentDeviceName))
        ShowChosen(connection_.CurrentDeviceName);
    OpenAndListCurrentDevice();
}

void ImportSession::WriteStartLines()
{
    log_.WriteLog(QStringLiteral("Ferrovane - ") + places_.versionText, LogColor::Blue, LogStyle::Bold);
    // Said now: at exit there is nobody left to read it.
    if (const QString trouble = LogFolderTrouble(places_.userDataFolder); !trouble.isEmpty())
        log_.WriteLog(QStringLiteral("This run's log cannot be saved in ") + places_.userDataFolder +
                          QStringLiteral(": ") + trouble,
                      LogColor::Red, LogStyle::Bold);
    if (const QString trouble = store_.WriteTrouble(); !trouble.isEmpty())
        log_.WriteLog(QStringLiteral("The settings file %1 cannot be written (%2): settings changed now are kept only "
                                     "until the program ends.")
                          .arg(store_.FileName(), trouble),
                      LogColor::Red, LogStyle::Bold);
    for (const QString &line : FolderDeviceTrouble(qEnvironmentVariable("FERROVANE_FOLDER_DEVICES")) +
                                   FolderDeviceTrouble(FolderBackend::AddedFolders()))
        log_.WriteLog(line, LogColor::Red);
}

void ImportSession::End(const QString &lastLine, bool withSystemInfo, const QString &maxLogDays)
{
    ending_ = true;
    engine_.StopAndWait();
    DeleteLogFiles(places_.userDataFolder, maxLogDays, QDateTime::currentDateTime());
    if (withSystemInfo) {
        LogSystemInfo(log_, places_.versionText, places_.programFolder, places_.userDataFolder);
        log_.WriteLogNoDate(QString(70, QLatin1Char('=')), LogColor::Black);
    }
    if (!lastLine.isEmpty()) {
        log_.WriteLogNoDate(QString(), LogColor::Black);
        log_.WriteLog(lastLine, LogColor::Black);
    }
    SaveLogNow();
}

QString ImportSession::SaveLogNow()
{
    // A log that cannot be written may not keep the program from ending; it
    // is said where it can still be seen, and kept where it can be written.
    const QDateTime now = QDateTime::currentDateTime();
    QString error;
    lastLogFile_ = SaveLog(log_.Document(), places_.userDataFolder, now, &error);
    if (lastLogFile_.isEmpty()) {
        std::fprintf(stderr, "ferrovane: could not write the log file in %s: %s\n", qPrintable(places_.userDataFolder),
                     qPrintable(error));
        const QString rescued = SaveLog(log_.Document(), WithSlash(QDir::tempPath()), now, &error);
        if (!rescued.isEmpty())
            std::fprintf(stderr, "ferrovane: the log was saved as %s instead\n", qPrintable(rescued));
    }
    return lastLogFile_;
}

void ImportSession::ReportException(const QString &message, const QString &className, const void *exceptionObject)
{
    WriteExceptionReport(log_, message, className, exceptionObject);
    engine_.CountError();
}

void ImportSession::SetBusy(bool busy)
{
    emit busyChanged(busy);
    // A card the desktop offered meanwhile is opened now.
    if (!busy && !pendingLocation_.isEmpty())
        QMetaObject::invokeMethod(this, &ImportSession::OpenPendingLocation, Qt::QueuedConnection);
}

// --- the settings model ------------------------------------------------------------------

void ImportSession::SetCurrent(const DeviceSettings &values)
{
    current_ = values;
    if (engine_.IsActive() && !std::exchange(changeDuringRunSaid_, true))
        log_.WriteLog(QStringLiteral("A setting was changed during the run: this run goes on with the settings it "
                                     "started with, and the change counts from the next run."),
                      LogColor::Black);
}

RunSettings ImportSession::CurrentRunSettings() const
{
    return RunSettingsOf(current_);
}

bool ImportSession::SaveSettings(const QString &styleName)
{
    const bool saved = Saving([&] {
        store_.WriteDeviceList(devices_, chosenEntry_, log_);
        ProgramSettings style;
        style.StyleName = styleName;
        store_.WriteProgram(style, ProgramKeys::Style);
        if (!chosenEntry_.trimmed().isEmpty()) {
            current_.DeviceRoot = CleanDeviceRoot(current_.DeviceRoot);
            DeviceSettings values = current_;
            values.DeviceName = chosenEntry_;
            values.DeviceSerialNo = connection_.CurrentDeviceSerialNo.trimmed();
            values.CopyMode = qMax(0, values.CopyMode);
            store_.WriteDevice(chosenEntry_, values, DeviceKeys::All);
            emit currentChanged();
        }
    });
    if (!saved)
        return false;
    log_.WriteLog(QStringLiteral("Settings Saved."), LogColor::Black);
    return true;
}

bool ImportSession::Saving(const std::function<void()> &writes)
{
    const int failedBefore = store_.FailedWrites();
    writes();
    if (store_.FailedWrites() == failedBefore)
        return true;
    log_.WriteLog(QStringLiteral("The settings were not saved: ") + store_.LastWriteError(), LogColor::Red,
                  LogStyle::Bold);
    return false;
}

bool ImportSession::SettingsChanged() const
{
    if (chosenEntry_.trimmed().isEmpty())
        return false;
    // Measured against the file as it stands: a dialog's OK has saved its
    // own settings already.
    if (chosenEntry_.compare(store_.ReadProgram().LastDevice, Qt::CaseInsensitive) != 0)
        return true;
    DeviceSettings now = current_, saved = WithDefaults(store_.ReadDevice(chosenEntry_));
    for (DeviceSettings *values : {&now, &saved}) {
        // What identifies the device is not the user's to change here.
        values->DeviceName.clear();
        values->DeviceSerialNo.clear();
        values->FolderPath.clear();
        values->DeviceRoot = CleanDeviceRoot(values->DeviceRoot);
        values->CopyMode = qMax(0, values->CopyMode);
    }
    return !(now == saved);
}

QString ImportSession::DefaultDestination()
{
    // The desktop's own Pictures folder (xdg-user-dirs), made at the first Copy.
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
}

DeviceSettings ImportSession::WithDefaults(DeviceSettings values)
{
    if (values.DestPath.trimmed().isEmpty() && !values.DeviceName.trimmed().isEmpty())
        values.DestPath = DefaultDestination();
    return values;
}

// --- the devices ----------------------------------------------------------------------------

bool ImportSession::IsKnownDevice(const QString &name)
{
    return devices_.contains(name);
}

void ImportSession::AddNewDevice(const QString &name, const QString &serial)
{
    // Adding to the list is not a choice of the user's.
    devices_ << name;
    DeviceSettings identity;
    identity.DeviceName = name;
    identity.DeviceSerialNo = serial;
    store_.WriteDevice(name, identity, DeviceKeys::Identity);
    emit deviceListChanged();
}

void ImportSession::ClearCatalogue()
{
    engine_.ClearCatalogue();
}

void ImportSession::ShowChosen(const QString &name)
{
    chosenEntry_ = devices_.contains(name) ? name : QString();
    emit deviceListChanged();
}

void ImportSession::ChooseDevice(const QString &name)
{
    connection_.CurrentDeviceName = name;
    chosenEntry_ = devices_.contains(name) ? name : QString();
    DeviceSettings stored = store_.ReadDevice(name);
    if (stored.DeviceName.isEmpty())
        stored.DeviceName = name;
    current_ = WithDefaults(stored);
    connection_.CurrentDeviceSerialNo = current_.DeviceSerialNo;
    emit currentChanged();
}

void ImportSession::FindCurrentDeviceID()
{
    connection_.CurrentDeviceID =
        discovery_.FindDeviceID(connection_.CurrentDeviceName, connection_.CurrentDeviceSerialNo);
}

bool ImportSession::EntryAttached(const QString &name) const
{
    return !discovery_.FindDeviceID(name, store_.ReadDevice(name).DeviceSerialNo.trimmed()).isEmpty();
}

bool ImportSession::NameAttached(const QString &name) const
{
    for (int i = 0; i < discovery_.ConnectedDeviceCount(); ++i)
        if (discovery_.ConnectedDevice(i).DeviceName == name)
            return true;
    return false;
}

int ImportSession::ScanDevices()
{
    const int found = discovery_.ScanPortableDevices(*this);
    // The list marks the devices that are attached now.
    emit deviceListChanged();
    if (found == 0)
        log_.WriteLog(
            QStringLiteral("To copy from a device, plug in and unlock a camera or phone, insert a memory card, "
                           "or add a folder with Add Folder."),
            LogColor::Black, LogStyle::Bold);
    return found;
}

void ImportSession::ConnectDevice()
{
    ClearCatalogue();
    SetBusy(true);
    ScanDevices();
    FindCurrentDeviceID();
    OpenAndListCurrentDevice();
}

bool ImportSession::OpenAndListCurrentDevice()
{
    if (connection_.CurrentDeviceID.trimmed().isEmpty() && !NameAttached(connection_.CurrentDeviceName)) {
        log_.WriteLog(QStringLiteral("Device \"%1\" is not connected.").arg(connection_.CurrentDeviceName),
                      LogColor::Red, LogStyle::Bold);
        log_.WriteLog(QStringLiteral("Connect it (a camera or phone switched on and unlocked, a card inserted), then "
                                     "press Connect."),
                      LogColor::Red, LogStyle::Bold);
        SetBusy(false);
        return false;
    }
    if (connection_.CurrentDeviceID.trimmed().isEmpty()) {
        log_.WriteLog(QStringLiteral("Device \"%1\" was not found!").arg(connection_.CurrentDeviceName), LogColor::Red,
                      LogStyle::Bold);
        log_.WriteLog(QStringLiteral("The device may need to be unlocked before it can be used."), LogColor::Red,
                      LogStyle::Bold);
        SetBusy(false);
        return false;
    }
    // Opening and listing a camera can take many seconds: the worker does
    // it (Stop ends it, the end waits for it) and the session is idle again
    // at its end.
    return engine_.StartListing(connection_.CurrentDeviceID, CurrentRunSettings()) == CopyRun::Start::Started;
}

void ImportSession::ForgetDevice(const QString &name)
{
    devices_.removeAll(name);
    // The list shows no device now, while the current device stays the
    // removed one: a later save writes no section for it.
    chosenEntry_.clear();
    emit deviceListChanged();
    // A folder added as this device is offered no longer.
    if (const QString folder = store_.ReadDevice(name).FolderPath; !folder.isEmpty()) {
        QStringList folders = FolderBackend::AddedFolders();
        folders.removeAll(folder);
        FolderBackend::SetAddedFolders(folders);
    }
    Saving([&] {
        store_.WriteDeviceList(devices_, chosenEntry_, log_);
        store_.EraseSection(name);
    });
    log_.WriteLog(QStringLiteral("Device \"%1\" was removed from the list.").arg(name), LogColor::Black);
}

QString ImportSession::OfferFolder(const QString &folder, bool &newlyOffered)
{
    newlyOffered = false;
    const QStringList trouble = FolderDeviceTrouble(QStringList{folder});
    for (const QString &line : trouble)
        log_.WriteLog(line, LogColor::Red, LogStyle::Bold);
    const QString path = QFileInfo(folder).canonicalFilePath();
    if (!trouble.isEmpty() || path.isEmpty())
        return QString();
    QStringList folders = FolderBackend::AddedFolders();
    if (!folders.contains(path)) {
        FolderBackend::SetAddedFolders(folders << path);
        newlyOffered = true;
    }
    return path;
}

void ImportSession::AddFolderDevice(const QString &folder)
{
    bool newlyOffered = false;
    const QString path = OfferFolder(folder, newlyOffered);
    if (path.isEmpty())
        return;
    ClearCatalogue();
    SetBusy(true);
    ScanDevices();
    SelectFolderDevice(path, newlyOffered);
}

void ImportSession::SelectFolderDevice(const QString &path, bool newlyOffered)
{
    const auto giveUp = [&](const QString &line) {
        log_.WriteLog(line, LogColor::Red, LogStyle::Bold);
        if (newlyOffered) {
            QStringList folders = FolderBackend::AddedFolders();
            folders.removeAll(path);
            FolderBackend::SetAddedFolders(folders);
        }
        SetBusy(false);
    };
    const QString id = FolderBackend::DeviceIdFor(path);
    const TDevice *found = nullptr;
    for (int i = 0; i < discovery_.ConnectedDeviceCount(); ++i)
        if (discovery_.ConnectedDevice(i).DeviceID == id)
            found = &discovery_.ConnectedDevice(i);
    if (!found) {
        giveUp(QStringLiteral("Folder \"%1\" could not be added as a device.").arg(path));
        return;
    }
    const QString name = found->DeviceName;
    if (const QString refused = store_.RememberFolderDevice(name, found->DeviceSerialNo, path,
                                                            FolderBackend::IsMountedCard(path), devices_, log_);
        !refused.isEmpty()) {
        giveUp(refused);
        return;
    }
    if (!devices_.contains(name))
        devices_ << name;
    ShowChosen(name);
    ChooseDevice(name);
    FindCurrentDeviceID();
    OpenAndListCurrentDevice();
}

void ImportSession::OpenLocation(const QString &location)
{
    pendingLocation_ = location;
    if (begun_)
        OpenPendingLocation();
}

void ImportSession::OpenPendingLocation()
{
    if (pendingLocation_.isEmpty() || ending_)
        return;
    // A run or listing owns the device list until it ends (its end calls
    // this again); a dialog is waited for.
    if (engine_.IsActive())
        return;
    if (catalogueOperation_ || (hold_ && hold_())) {
        QTimer::singleShot(200, this, &ImportSession::OpenPendingLocation);
        return;
    }
    const QString folder = LocalFolderOf(std::exchange(pendingLocation_, QString()));
    if (!folder.isEmpty())
        AddFolderDevice(folder);
}

QString ImportSession::LocalFolderOf(const QString &location)
{
    if (location.startsWith(QLatin1Char('/')))
        return location;
    const QUrl url(location);
    if (url.isLocalFile())
        return url.toLocalFile();
    // Only a folder of this computer can be a device here; a camera that the
    // desktop offers by its own address is in the device list.
    log_.WriteLog(
        QStringLiteral("\"%1\" is not a folder on this computer: choose the device from the list.").arg(location),
        LogColor::Red, LogStyle::Bold);
    return QString();
}

// --- watching devices -------------------------------------------------------------------------

void ImportSession::WatchSystem()
{
    for (const QString &line : watcher_.WatchSystem())
        log_.WriteLog(line, LogColor::Red);
}

bool ImportSession::RefreshMustWait() const
{
    // A run or a listing owns the device handles that a scan replaces; a
    // dialog may be editing the settings of the device a scan would switch to.
    return !begun_ || ending_ || Busy() || (hold_ && hold_());
}

void ImportSession::DevicesChanged()
{
    const DeviceChanges changes = discovery_.RescanForChanges(*this);
    emit deviceListChanged();
    FindCurrentDeviceID();
    if (CopyWhenConnected(changes.came))
        return;
    const QString chosen = connection_.CurrentDeviceID;
    const bool listed = HoldsListing();
    if (chosen.isEmpty()) {
        // The listed device went: nothing in the list can be reached any more.
        if (listed)
            ClearCatalogue();
        return;
    }
    if (!listed) {
        // The chosen device has come: show what it holds, as Connect would.
        if (std::any_of(changes.came.begin(), changes.came.end(),
                        [&](const TDevice &device) { return device.DeviceID == chosen; })) {
            SetBusy(true);
            OpenAndListCurrentDevice();
        }
        return;
    }
    // The scan opened each device it found: the listed one's handles again,
    // for the list's Open, Copy and Delete.
    if (!connection_.OpenDevice(chosen, true))
        ClearCatalogue();
}

bool ImportSession::CopyWhenConnected(const std::vector<TDevice> &came)
{
    if (came.empty())
        return false;
    // The sections as the file stands now: the option may have been set by
    // hand since the file was read.
    store_.Reload();
    bool started = false;
    for (const TDevice &device : came) {
        const DeviceSettings values = store_.ReadDevice(device.DeviceName);
        // Only the device remembered under that name: another of the same
        // model has another serial number.
        if (!values.CopyOnConnect || values.DeviceSerialNo != device.DeviceSerialNo)
            continue;
        if (!devices_.contains(device.DeviceName))
            continue;
        if (started) {
            log_.WriteLog(QStringLiteral("Device \"%1\" is to be copied when connected, but another copy is starting: "
                                         "choose it and press Copy when that has ended.")
                              .arg(device.DeviceName),
                          LogColor::Red);
            continue;
        }
        started = true;
        // Chosen as the user would choose it, with its saved settings.
        ShowChosen(device.DeviceName);
        ChooseDevice(device.DeviceName);
        FindCurrentDeviceID();
        log_.WriteLog(QStringLiteral("Device \"%1\" is copied as it was connected.").arg(device.DeviceName),
                      LogColor::Blue, LogStyle::Bold);
        // Listed first, so the run knows what there is to do.
        copyAfterListing_ = true;
        ClearCatalogue();
        SetBusy(true);
        // Not found or not opened: said in the log, and nothing to follow.
        if (!OpenAndListCurrentDevice())
            copyAfterListing_ = false;
    }
    return started;
}

void ImportSession::WorkerEnded()
{
    if (std::exchange(copyAfterListing_, false)) {
        // A listing that was stopped, or found no device or nothing on it, is
        // not followed by a copy.
        if (!engine_.State().StopSignalled && !engine_.LastWalk().deviceGone &&
            !connection_.CurrentDeviceID.isEmpty() && HoldsListing()) {
            Copy();
            return;
        }
    }
    // A card the desktop offered during a run is opened after it.
    if (!pendingLocation_.isEmpty())
        QMetaObject::invokeMethod(this, &ImportSession::OpenPendingLocation, Qt::QueuedConnection);
}

// --- copying ---------------------------------------------------------------------------------------

void ImportSession::Copy()
{
    // A catalogue operation waiting for a command keeps the events running;
    // it shares the device and the counters, so no run may start.
    if (Busy())
        return;
    current_.DeviceRoot = TrimDeviceRootField(current_.DeviceRoot);
    emit currentChanged();
    engine_.StartCopying(connection_.CurrentDeviceID, connection_.CurrentDeviceName, CurrentRunSettings());
}

bool ImportSession::CopyNamedDevice(const QString &name, const DeviceSettings &settings)
{
    const TDevice device = discovery_.FindNamedDevice(name, settings.DeviceSerialNo);
    connection_.CurrentDeviceName = name;
    connection_.CurrentDeviceSerialNo = device.DeviceSerialNo;
    connection_.CurrentDeviceID = device.DeviceID;
    current_ = settings;
    if (connection_.CurrentDeviceID.trimmed().isEmpty()) {
        log_.WriteLog(QStringLiteral("Device \"%1\" was not found!").arg(name), LogColor::Red, LogStyle::Bold);
        log_.WriteLog(QStringLiteral("The device may need to be unlocked before it can be used."), LogColor::Red,
                      LogStyle::Bold);
        return false;
    }
    return engine_.StartCopying(connection_.CurrentDeviceID, name, CurrentRunSettings()) == CopyRun::Start::Started;
}

void ImportSession::Stop()
{
    engine_.Stop();
}

void ImportSession::CopyRows(const std::vector<GridRow> &rows)
{
    if (Busy())
        return;
    const QScopedValueRollback<bool> active(catalogueOperation_, true);
    engine_.CopyCatalogueFiles(rows, connection_.CurrentDeviceID, connection_.CurrentDeviceName, CurrentRunSettings());
}

void ImportSession::DeleteRows(const std::vector<GridRow> &rows)
{
    if (Busy())
        return;
    const QScopedValueRollback<bool> active(catalogueOperation_, true);
    engine_.DeleteCatalogueFiles(rows, connection_.CurrentDeviceID, connection_.CurrentDeviceName,
                                 CurrentRunSettings());
}

void ImportSession::OpenRow(const GridRow &row, int selectedCount)
{
    if (Busy())
        return;
    const QScopedValueRollback<bool> active(catalogueOperation_, true);
    engine_.OpenCatalogueFile(row, selectedCount, OpenedFilesFolder());
}

// --- the catalogue ---------------------------------------------------------------------------

FileTypeTally ImportSession::ListedFileTypes()
{
    engine_.FlushRows();
    FileTypeTally found;
    for (int row = 1; row + 1 < all_.RowCount(); ++row) {
        const QString &type = all_.CellRef(CatalogueGrid::TypeColumn, row);
        if (type != QLatin1String("FOLDER") && type != QLatin1String("STORAGE"))
            found.Add(ExtractFileExtension(all_.CellRef(CatalogueGrid::NameColumn, row)));
    }
    return found;
}

void ImportSession::ListAgain()
{
    engine_.ListDeviceContents(CurrentRunSettings());
}

QString ImportSession::OpenedFilesFolder()
{
    // The runtime folder is the user's own; the shared temporary folder gets
    // a folder whose name nobody can guess before we make it.
    if (!openedFolder_.isEmpty() && MakePrivateFolder(openedFolder_.chopped(1)))
        return openedFolder_;
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty() && MakePrivateFolder(runtime + QStringLiteral("/ferrovane-opened"))) {
        openedFolder_ = runtime + QStringLiteral("/ferrovane-opened/");
        return openedFolder_;
    }
    QByteArray pattern = QFile::encodeName(QDir::tempPath() + QStringLiteral("/ferrovane-opened-XXXXXX"));
    if (::mkdtemp(pattern.data()) == nullptr)
        return QString();
    openedFolder_ = QFile::decodeName(pattern) + QLatin1Char('/');
    return openedFolder_;
}
