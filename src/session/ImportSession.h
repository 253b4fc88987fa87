#pragma once

// One import session, for the window and the command line alike: the log,
// the device connection with discovery and the watcher, the engine, the
// catalogue's rows, the device registry (the remembered devices, the folders
// added as devices, the devices copied as they are connected), the settings
// of the chosen device as a model, and the session's start and end (the
// log saved, or rescued where it can be written).
//
// Everything here runs on the thread the session lives on; the engine's
// worker reports through the engine's ordered signals. No widgets: a face
// (the window, the command line) shows the session and edits its settings.

#include "catalogue/CatalogueGrid.h"
#include "copy/CopyRun.h"
#include "device/DeviceConnection.h"
#include "device/DeviceDiscovery.h"
#include "device/DeviceWatcher.h"
#include "log/ActivityLog.h"
#include "settings/DeviceSettings.h"
#include "settings/ProgramSettings.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class DeviceService;
class SettingsStore;

// Where a session keeps what it writes, and what it says of the program.
struct SessionPlaces
{
    QString programFolder;   // the commands' [ProgramFolder]
    QString userDataFolder;  // log files and the import record, ending with "/"
    QString versionText;     // "1.2.0.1 ..." for the first line of the log
};

class ImportSession : public QObject, private DiscoveryHost
{
    Q_OBJECT
public:
    ImportSession(DeviceService &service, SettingsStore &settings, SessionPlaces places, QObject *parent = nullptr);
    ~ImportSession() override;

    ActivityLog &Log() { return log_; }
    DeviceConnection &Connection() { return connection_; }
    const DeviceDiscovery &Discovery() const { return discovery_; }
    CopyRun &Engine() { return engine_; }
    SettingsStore &Store() { return store_; }
    const SessionPlaces &Places() const { return places_; }

    // --- the start and the end ------------------------------------------------------
    // Reads the settings file: the program's settings, the device list, the
    // folders added as devices and the device saved last, with its settings
    // as the chosen device's. Says what it could not read.
    ProgramSettings LoadSettings();
    // The session's first lines: the program and version, and what keeps
    // the log from being saved or a folder device from being offered.
    void WriteStartLines();
    // The session's first lines, then the devices: the scan, and the card or
    // folder at location (a path or a file: URL; may be empty) or else the
    // device saved last, opened and listed. A face shows itself first.
    void Begin(const QString &location);
    // Stops the worker and waits for it, removes log files older than
    // maxLogDays, and saves the log (rescued into the temporary folder when
    // its own folder cannot take it; said on standard error). The system's
    // details come first when asked for (after an exception), then the
    // session's last line, when given.
    void End(const QString &lastLine, bool withSystemInfo, const QString &maxLogDays);
    // An exception nobody handled: reported in the log and counted as an
    // error of the run.
    void ReportException(const QString &message, const QString &className, const void *exceptionObject);
    // The log saved now (as End does); the file's name, or empty.
    QString SaveLogNow();
    QString LastLogFile() const { return lastLogFile_; }

    // --- the settings model -----------------------------------------------------------
    // The chosen device's settings, as shown and edited; a run takes them as
    // they are when it starts.
    const DeviceSettings &Current() const { return current_; }
    // The face's edits. During a run the log says once that they count from
    // the next run.
    void SetCurrent(const DeviceSettings &values);
    RunSettings CurrentRunSettings() const;
    // Writes the device list (the chosen entry becomes the one opened at the
    // next start) and every setting of the chosen device. False, said in red,
    // when the settings file could not be written.
    bool SaveSettings(const QString &styleName);
    // A save of the user's (a dialog's OK): false, said once in red, when a
    // write of it failed.
    bool Saving(const std::function<void()> &writes);
    // The chosen device, or its settings, differ from what the settings file
    // holds (the device it opens at start, and that device's section).
    bool SettingsChanged() const;
    // Where a device without a destination of its own copies to: the user's
    // Pictures folder.
    static QString DefaultDestination();

    // --- the devices ---------------------------------------------------------------------
    // The remembered devices, in their order.
    const QStringList &DeviceList() const { return devices_; }
    // The entry the list shows as chosen; empty when none is.
    const QString &ChosenEntry() const { return chosenEntry_; }
    // The device runs go to: its name, serial number and identifier.
    const QString &CurrentDeviceName() const { return connection_.CurrentDeviceName; }
    const QString &CurrentDeviceID() const { return connection_.CurrentDeviceID; }
    // The entry's device (by its name and saved serial number) was attached
    // at the last scan.
    bool EntryAttached(const QString &name) const;
    // Chooses an entry of the list: its saved settings become the model's.
    void ChooseDevice(const QString &name);
    // Scans the attached devices (the catalogue is emptied); says what to do
    // when there are none. The number found.
    int ScanDevices();
    // Connect: scans again, finds the chosen device and opens and lists it.
    void ConnectDevice();
    // Opens and lists the current device on the worker, or says why not.
    // False when nothing was started.
    bool OpenAndListCurrentDevice();
    // Takes the entry out of the list and the settings file (a folder added
    // as it is offered no longer); the list then shows no device.
    void ForgetDevice(const QString &name);
    // Offers the folder as a device, finds it, remembers it, chooses it and
    // lists it; or says why not.
    void AddFolderDevice(const QString &folder);
    // A location the desktop offered (a path or a file: URL): its folder,
    // added as a device. Waits while a run, a listing or a catalogue
    // operation goes on, or while the face says so (a dialog is open).
    void OpenLocation(const QString &location);

    // Looks up the named device only (no other device is opened, no other
    // mount looked into) and copies it with these settings; false, said in
    // the log, when it is not found or the run cannot start.
    bool CopyNamedDevice(const QString &name, const DeviceSettings &settings);

    // A location waiting for the worker or a dialog.
    const QString &PendingLocation() const { return pendingLocation_; }

    // --- watching devices -----------------------------------------------------------------
    // Notices USB devices and memory cards as they come and go.
    void WatchSystem();
    DeviceWatcher &Watcher() { return watcher_; }
    // A face's own reason to hold a refresh or a location back (a dialog open).
    void SetHoldCheck(std::function<bool()> hold) { hold_ = std::move(hold); }

    // --- copying -------------------------------------------------------------------------------
    void Copy();
    void Stop();
    bool WorkerActive() const { return engine_.IsActive(); }
    // A catalogue operation or the worker holds the device.
    bool Busy() const { return engine_.IsActive() || catalogueOperation_; }
    // The catalogue's operations on rows of the shown catalogue (from the
    // selection's top to its bottom); nothing while Busy.
    void CopyRows(const std::vector<GridRow> &rows);
    void DeleteRows(const std::vector<GridRow> &rows);
    void OpenRow(const GridRow &row, int selectedCount);

    // --- the catalogue ---------------------------------------------------------------------
    // The rows that pass the device root and the filters, and every listed object.
    CatalogueGrid &ShownRows() { return shown_; }
    CatalogueGrid &AllRows() { return all_; }
    void ClearCatalogue() override;
    // A listing stands in the catalogue.
    bool HoldsListing() const { return all_.RowCount() > 2; }
    // The types of every file the last listing or run met, filtered or not.
    FileTypeTally ListedFileTypes();
    // Lists the current device again, on this thread.
    void ListAgain();
    // Where opened files are copied to: a folder only this user can enter.
    QString OpenedFilesFolder();

signals:
    // An operation of the session begins (true) or has ended (false).
    void busyChanged(bool busy);
    // The device list changed, or the entry it shows.
    void deviceListChanged();
    // The model's settings were replaced (another device was chosen).
    void currentChanged();
    // The last walk's rows are all in the catalogue.
    void catalogueComplete();

private:
    // DiscoveryHost
    bool IsKnownDevice(const QString &name) override;
    void AddNewDevice(const QString &name, const QString &serial) override;

    void SetBusy(bool busy);
    void FindCurrentDeviceID();
    // Some attached device carries the name.
    bool NameAttached(const QString &name) const;
    QString OfferFolder(const QString &folder, bool &newlyOffered);
    QString LocalFolderOf(const QString &location);
    void SelectFolderDevice(const QString &path, bool newlyOffered);
    void OpenPendingLocation();
    bool RefreshMustWait() const;
    void DevicesChanged();
    bool CopyWhenConnected(const std::vector<TDevice> &came);
    void WorkerEnded();
    void ConnectEngine();
    void ShowChosen(const QString &name);
    static DeviceSettings WithDefaults(DeviceSettings values);

    SettingsStore &store_;
    SessionPlaces places_;
    ActivityLog log_;
    DeviceConnection connection_;
    DeviceDiscovery discovery_{connection_, log_};
    DeviceWatcher watcher_;
    CopyRun engine_;
    CatalogueGrid all_;
    CatalogueGrid shown_;

    DeviceSettings current_;
    QStringList devices_;
    QString chosenEntry_;
    bool changeDuringRunSaid_ = false;
    bool begun_ = false;
    bool ending_ = false;
    bool catalogueOperation_ = false;
    bool copyAfterListing_ = false;
    QString pendingLocation_;
    QString openedFolder_;
    QString lastLogFile_;
    std::function<bool()> hold_;
};
