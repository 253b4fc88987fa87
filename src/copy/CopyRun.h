#pragma once

// The copy run and the listing of a device as an engine of their own, with
// no window behind them: the one worker thread, the walk, the transfer
// decision, Stop, the post-processing command and the statistics. The
// engine tells the world what happens in the manner of a Qt model
// announcing its changes: catalogue rows in ordered batches, progress, the
// start and end of each job. The log lines go through the log sink it is
// given, which takes lines from any thread without a hand-off each.
//
// A run or a listing takes its settings as one value when it starts; what
// changes meanwhile counts from the next one. Every signal is emitted on the
// thread the engine lives on (the user-interface thread), in the order the
// work happened, so receivers never need a lock. A worker hands its
// announcements over and never waits for a receiver.

#include "base/RunState.h"
#include "catalogue/ContentWalk.h"
#include "commands/CommandRunner.h"
#include "copy/GridOperations.h"
#include "copy/RunSettings.h"
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

class CopyRun : public QObject, private WalkSink, private TransferEvents, private GridHost
{
    Q_OBJECT
public:
    CopyRun(DeviceConnection &connection, LogSink &log, QString programFolder, QObject *parent = nullptr);
    ~CopyRun() override;

    // The import record's file; empty: no record is kept.
    void SetImportRecordPath(const QString &path);
    // The settings the last run, listing or catalogue operation started with.
    const RunSettings &Settings() const { return settings_; }

    enum class Start {
        Started,
        Busy,         // a worker is active: nothing happened
        DeviceInUse,  // another copier holds the device: said in the log
    };
    // A copy run of the device on the worker. The device is reopened first,
    // so a Stop pressed meanwhile still ends the run.
    Start StartCopying(const QString &deviceId, const QString &deviceName, const RunSettings &settings);
    // Opens the device (with its lines in the log) and lists it on the worker.
    Start StartListing(const QString &deviceId, const RunSettings &settings);
    // The listing itself, on the calling thread: the header, the walk, the totals.
    void ListDeviceContents(const RunSettings &settings);

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

    // The catalogue's file operations, on the calling thread while no worker
    // runs: rows from the selection's top to its bottom. Each claims the
    // device and says so when another copier holds it; catalogueBusy
    // brackets the work.
    void CopyCatalogueFiles(const std::vector<GridRow> &rows, const QString &deviceId, const QString &deviceName,
                            const RunSettings &settings);
    void DeleteCatalogueFiles(const std::vector<GridRow> &rows, const QString &deviceId, const QString &deviceName,
                              const RunSettings &settings);
    // Copies the file of the current row into folder (ours, ending with "/")
    // and asks for it to be opened (fileToOpen).
    void OpenCatalogueFile(const GridRow &current, int selectedCount, const QString &folder);

    // The counters of the last run or operation, read as they change.
    const RunState &State() const { return run_; }
    // An error the program met outside the run's own handling (a general
    // exception) counts among the run's errors.
    void CountError() { ++run_.ErrorCount; }
    // What the last listing or copy walk found.
    struct WalkTotals
    {
        qint64 listedFiles = 0;  // files the last listing found, filtered or not
        quint64 shownFiles = 0;
        quint64 shownSize = 0;
        bool deviceGone = false;  // the device went away during the walk
    };
    WalkTotals LastWalk() const;
    // A command of the run is being waited for.
    bool WaitsForCommand() const { return commands_.IsWaiting(); }

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

    // A catalogue operation begins (true) and ends (false).
    void catalogueBusy(bool busy);
    // A file copied for opening is ready for the desktop to open.
    void fileToOpen(const QString &fileName);

    // For the user's attention; the worker does not wait for them.
    // An error message for the user ("RESOURCE ERROR: ...").
    void errorMessage(const QString &text);
    // The user's command could not be started at all.
    void commandNotStarted(const QString &message);
    // An exception ended the worker's job.
    void workerFailed(const QString &message);

private:
    // A test keeps the worker busy with a job of its own.
    friend class TestFolderDevices;
    void TakeSettings(const RunSettings &settings);
    bool ReadObjectDate(const QString &ObjectID, QDateTime &date);
    Start StartWorker(std::function<CopyOutcome()> job);
    CopyOutcome CopyJob(const QString &deviceId, const QString &deviceName);
    void ListJob(const QString &deviceId);
    // The listing's walk and totals, with the settings taken.
    void ListWalk();
    bool OnOwnThread() const { return QThread::currentThread() == thread(); }
    // Runs f on this object's thread after everything handed over before it
    // (rows and announcements, in the order made); waits for it when asked.
    void Announce(std::function<void()> f);
    // Works off the hand-overs in their order, rows in batches between the
    // announcements.
    void Drain();
    void EmitCurrentFile();

    // WalkSink
    void AppendRow(const CatalogueGrid::Row &row, bool shown) override;
    void UpdateUI() override;
    // TransferEvents
    void SelectCatalogueRow(const QString &ObjectID) override;
    void RemoveCatalogueRow(const QString &ObjectID) override;
    void ShowErrorMessage(const QString &text) override;
    // GridHost
    void SetBusy(bool busy) override;
    void OpenWithDesktop(const QString &fileName) override;

    DeviceConnection &connection_;
    LogSink &log_;
    RunState run_;
    ContentWalk walk_;
    CommandRunner commands_;
    TransferDecision decision_;
    RunStop stopper_{run_, log_};
    GridOperations grid_;
    // Set on this object's thread before a worker starts, and only then.
    RunSettings settings_;

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
