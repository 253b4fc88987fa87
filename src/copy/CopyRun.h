#pragma once

// The copy run and the listing of a device as an engine of their own, with
// no window behind them: the one worker thread, the walk, the transfer
// decision, Stop, the post-processing command and the statistics. The
// engine tells the world what happens in the manner of a Qt model
// announcing its changes: catalogue rows in ordered batches, progress, the
// start and end of each job. The log lines go through the log sink it is
// given, which takes lines from any thread without a hand-off each.
//
// Every signal is emitted on the thread the engine lives on (the
// user-interface thread), in the order the work happened, so receivers
// never need a lock. A worker hands its announcements over without waiting,
// except for the three requests that wait for the user (the message boxes).

#include "base/RunState.h"
#include "catalogue/ContentWalk.h"
#include "commands/CommandRunner.h"
#include "copy/CopyHost.h"
#include "copy/RunStop.h"
#include "copy/RunTexts.h"
#include "copy/TransferDecision.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class DeviceConnection;
class DeviceLock;
class LogSink;
struct DeviceSettings;

// The settings a run goes by: the window's controls as they are now, or a
// device's saved section for a run without a window.
struct RunSettings
{
    QString DeviceRoot;
    QString Destination;
    QString DateFormat;
    int CopyMode = 0;  // 0 dated folders, 1 folder structure, -1 none chosen
    FileFilterSettings Filters;
    bool ByteLevel = false;
    bool DeleteFiles = false;
    bool ForceRun = false;
    bool DateTaken = false;           // date folders by the date the photo or video was taken
    bool SkipImportedBefore = false;  // leave files the import record shows were imported before
    CommandSettings PostFileCopy;
    CommandSettings PostProcessing;
};

// The settings a device's saved section gives a run.
RunSettings RunSettingsOf(const DeviceSettings &device);

// One catalogue row of a walk, and whether it passes the root and the filters.
struct ListedRow
{
    CatalogueGrid::Row row;
    bool shown = false;
};

// How a copy run ended.
struct CopyOutcome
{
    enum class End {
        Finished,       // the statistics were written
        Stopped,        // Stop ended it
        DeviceNotOpen,  // "Device is not open!"
        NoDestination,  // the destination is not a folder
        Aborted,        // out of resources: said in the log and a message
        Failed,         // an exception ended the worker; message holds its text
    };
    End end = End::Finished;
    RunCounts counts;
    QString message;
};

class CopyRun : public QObject, private WalkHost, private CopyHost, private CommandHost
{
    Q_OBJECT
public:
    CopyRun(DeviceConnection &connection, LogSink &log, QString programFolder, QObject *parent = nullptr);
    ~CopyRun() override;

    // The settings from now on: the window hands over its controls' values
    // at every change, so a run reads them as they are at the moment of use.
    // Safe from any thread.
    void SetSettings(RunSettings settings);
    RunSettings Settings() const;

    enum class Start {
        Started,
        Busy,         // a worker is active: nothing happened
        DeviceInUse,  // another copier holds the device: said in the log
    };
    // A copy run of the device on the worker. The device is reopened first,
    // so a Stop pressed meanwhile still ends the run.
    Start StartCopying(const QString &deviceId, const QString &deviceName);
    // Opens the device (with its lines in the log) and lists it on the worker.
    Start StartListing(const QString &deviceId);
    // The listing itself, on the calling thread: the header, the walk, the totals.
    void ListDeviceContents();

    // The user's Stop: the stop flag, and no more waiting for a command. The
    // worker leaves at its next look at the flag (a transfer within a
    // second); the log's "Stop Signalled." ending follows whatever the job
    // still wrote, or comes at once when no worker runs.
    void Stop();
    // Stops the worker as Stop does and waits for it, serving its hand-offs
    // meanwhile; everything it announced has been announced on return.
    void StopAndWait();
    // True from the start of a worker's job until its workerFinished.
    bool IsActive() const { return active_.load(); }

    // Empties the catalogue: the receivers hear rowsCleared.
    void ClearCatalogue();
    // Announces at once what a worker handed over so far (rows still waiting
    // for their batch, above all).
    void FlushRows();

    // Claims the device for a copy of the catalogue's files: null (and a red
    // line) when another copier holds it; released when dropped.
    std::unique_ptr<DeviceLock> ClaimDevice(const QString &deviceId, const QString &deviceName);

    RunState &State() { return run_; }
    ContentWalk &Walk() { return walk_; }
    TransferDecision &Decision() { return decision_; }
    CommandRunner &Commands() { return commands_; }

signals:
    // The catalogue: emptied, rows appended in the order listed (in
    // batches), one row removed (its file deleted from the device).
    void rowsCleared();
    void rowsListed(const QList<ListedRow> &rows);
    void rowRemoved(const QString &objectId);
    // Every row of the walk that just ended has been announced.
    void walkFinished();
    // The file the copy run handles now, at most 25 times a second.
    void currentFileChanged(const QString &objectId);

    // A listing's walk begins (no end is known), and ends.
    void listingStarted();
    void listingFinished();
    // A copy run got past its device check and begins; expectedFiles is what
    // the last listing found (at least 1), for a progress scale.
    void copyStarted(int expectedFiles);
    void progressChanged(int filesLocated);
    // A copy run ended, however; the counts are the run's at its end.
    void copyFinished(const CopyOutcome &outcome);
    // The worker's job (a listing or a copy run) has ended; the device is free.
    void workerFinished();

    // Requests that wait: a worker goes on once every receiver has returned.
    // An error message for the user ("RESOURCE ERROR: ...").
    void errorMessage(const QString &text);
    // The user's command could not be started at all.
    void commandNotStarted(const QString &message);
    // An exception ended the worker's job.
    void workerFailed(const QString &message);

private:
    // A test keeps the worker busy with a job of its own.
    friend class TestFolderDevices;
    Start StartWorker(std::function<CopyOutcome()> job);
    CopyOutcome CopyJob(const QString &deviceId, const QString &deviceName);
    void ListJob(const QString &deviceId);
    bool OnOwnThread() const { return QThread::currentThread() == thread(); }
    // Runs f on this object's thread after everything handed over before it
    // (rows and announcements, in the order made); waits for it when asked.
    void Announce(std::function<void()> f, bool wait = false);
    // Works off the hand-overs in their order, rows in batches between the
    // announcements.
    void Drain();
    void EmitCurrentFile();

    // WalkHost
    QString DeviceRootText() override;
    FileFilterSettings FileFilters() override;
    int CopyModeIndex() override;
    void AppendRow(const CatalogueGrid::Row &row, bool shown) override;
    void UpdateUI() override;
    // CopyHost
    QString DestinationPathText() override;
    QString DateFormatText() override;
    bool ByteLevelCompare() override;
    bool DeleteFiles() override;
    bool ForceRun() override;
    bool DateFoldersByDateTaken() override;
    bool SkipImportedBefore() override;
    void SelectCatalogueRow(const QString &ObjectID) override;
    void RemoveCatalogueRow(const QString &ObjectID) override;
    void ShowErrorMessage(const QString &text) override;
    // CommandHost
    CommandSettings PostFileCopyCommand() override;
    CommandSettings PostProcessingCommand() override;
    QString DestinationText() override;
    void ShowExecError(const QString &message) override;

    DeviceConnection &connection_;
    LogSink &log_;
    RunState run_;
    ContentWalk walk_;
    CommandRunner commands_;
    TransferDecision decision_;
    RunStop stopper_{run_, log_};
    // Replaced whole at every change; a run reads a value or two for every
    // file and shares the settings instead of copying them for each.
    std::shared_ptr<const RunSettings> Current() const;
    mutable QMutex settingsMutex_;
    std::shared_ptr<const RunSettings> settings_ = std::make_shared<const RunSettings>();

    QPointer<QThread> thread_;
    std::atomic<bool> active_{false};
    // A copy run of this engine is on: the files it hands over are followed.
    std::atomic<bool> copying_{false};
    std::unique_ptr<DeviceLock> deviceLock_;

    // What a worker hands over, in the order made: a row of the walk, or an
    // announcement (then announce is set). Rows wait for their batch, at most
    // one timer interval; an announcement is worked off at once.
    struct Handover
    {
        ListedRow row;
        std::function<void()> announce;
    };
    QMutex handoverMutex_;
    std::vector<Handover> handovers_;
    std::atomic<bool> drainPending_{false};
    std::atomic<bool> rowsTimerPending_{false};
    QTimer rowsTimer_;
    std::atomic<bool> progressPending_{false};
    // The newest file a copy run asked to follow, announced when the timer fires.
    QMutex currentMutex_;
    QString currentFile_;
    std::atomic<bool> currentPending_{false};
    QTimer currentTimer_;
};

Q_DECLARE_METATYPE(CopyOutcome)
