#include "CopyRun.h"

#include "base/NumberFormat.h"
#include "copy/DeviceLock.h"
#include "copy/MediaDate.h"
#include "device/DeviceConnection.h"
#include "log/LogSink.h"
#include "settings/DeviceSettings.h"
#include "settings/FileFilter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMetaObject>

#include <limits>

namespace {

// Rows of a walk on the worker reach the receivers at most this often, and
// the file in hand is followed at most this often.
constexpr int kBatchIntervalMs = 40;
// A walk on the engine's own thread announces its rows in batches of this many.
constexpr size_t kOwnThreadBatch = 4096;

}  // namespace

RunSettings RunSettingsOf(const DeviceSettings &device)
{
    RunSettings settings;
    settings.DeviceRoot = TrimDeviceRootField(device.DeviceRoot);
    settings.Destination = device.DestPath;
    settings.DateFormat = device.DateFormat;
    settings.CopyMode = device.CopyMode;
    settings.Filters = {device.FileFiltersOn, DecodeFileFilter(device.FileFilter)};
    settings.ByteLevel = device.ByteLevelCompare;
    settings.DeleteFiles = device.DeleteFiles;
    settings.ForceRun = device.PostFileCopyForceRun;
    settings.DateTaken = device.DateSource == 1;
    settings.SkipImportedBefore = device.SkipImportedBefore;
    settings.BackupPaths = {device.BackupPath1.trimmed(), device.BackupPath2.trimmed()};
    settings.PostFileCopy = {device.PostFileCopyCommandOn, device.PostFileCopyCommand, device.PostFileCopySuccessCode};
    settings.PostProcessing = {device.PostProcessingCommandOn, device.PostProcessingCommand,
                               device.PostProcessingSuccessCode};
    return settings;
}

CopyRun::CopyRun(DeviceConnection &connection, LogSink &log, QString programFolder, QObject *parent)
    : QObject(parent), connection_(connection), log_(log), walk_(connection.Handles(), run_, log, *this),
      commands_(
          log, run_, [this](const QString &message) { Announce([this, message] { emit commandNotStarted(message); }); },
          std::move(programFolder)),
      decision_(connection, run_, log, *this,
                [this](const QString &Path, const QString &File) { commands_.RunPostFileCopyCommand(Path, File); }),
      grid_(run_, log, *this, [this](const QString &id, QDateTime &date) { return ReadObjectDate(id, date); })
{
    rowsTimer_.setSingleShot(true);
    rowsTimer_.setInterval(kBatchIntervalMs);
    connect(&rowsTimer_, &QTimer::timeout, this, [this] {
        rowsTimerPending_ = false;
        Drain();
    });
    currentTimer_.setSingleShot(true);
    currentTimer_.setInterval(kBatchIntervalMs);
    connect(&currentTimer_, &QTimer::timeout, this, &CopyRun::EmitCurrentFile);
}

CopyRun::~CopyRun()
{
    StopAndWait();
}

void CopyRun::SetImportRecordPath(const QString &path)
{
    decision_.SetImportRecordPath(path);
}

void CopyRun::TakeSettings(const RunSettings &settings)
{
    settings_ = settings;
    walk_.SetSettings(settings.Walk());
    decision_.SetSettings(settings.Transfer());
    commands_.SetSettings(settings.Commands());
}

CopyRun::WalkTotals CopyRun::LastWalk() const
{
    return {walk_.ListedFileCount, walk_.ShownFiles, walk_.ShownSize, walk_.DeviceGone};
}

// --- announcing ----------------------------------------------------------------

void CopyRun::Announce(std::function<void()> f)
{
    if (OnOwnThread()) {
        Drain();
        f();
        return;
    }
    {
        const QMutexLocker lock(&handoverMutex_);
        handovers_.push_back({{}, std::move(f)});
    }
    if (!drainPending_.exchange(true))
        QMetaObject::invokeMethod(this, &CopyRun::Drain, Qt::QueuedConnection);
}

void CopyRun::Drain()
{
    std::vector<Handover> items;
    {
        const QMutexLocker lock(&handoverMutex_);
        drainPending_ = false;
        items.swap(handovers_);
    }
    QList<ListedRow> batch;
    for (Handover &item : items) {
        if (!item.announce) {
            batch.append(std::move(item.row));
            continue;
        }
        if (!batch.isEmpty()) {
            emit rowsListed(batch);
            batch.clear();
        }
        item.announce();
    }
    if (!batch.isEmpty())
        emit rowsListed(batch);
}

void CopyRun::FlushRows()
{
    Drain();
}

void CopyRun::ClearCatalogue()
{
    walk_.LastFolderLevel = 0;
    Announce([this] { emit rowsCleared(); });
}

void CopyRun::AppendRow(const CatalogueGrid::Row &row, bool shown)
{
    size_t waiting = 0;
    {
        const QMutexLocker lock(&handoverMutex_);
        handovers_.push_back({{row, shown}, {}});
        waiting = handovers_.size();
    }
    if (OnOwnThread()) {
        // Nothing else runs here meanwhile: the rows go out in large batches,
        // the rest before anything else is announced.
        if (waiting >= kOwnThreadBatch)
            Drain();
        return;
    }
    if (!rowsTimerPending_.exchange(true))
        QMetaObject::invokeMethod(
            this, [this] { rowsTimer_.start(); }, Qt::QueuedConnection);
}

void CopyRun::UpdateUI()
{
    if (OnOwnThread()) {
        emit progressChanged(run_.FilesLocated);
        return;
    }
    // The newest count is what matters, one hand-off at a time; it need not
    // wait for the rows, which keep to their batches.
    if (!progressPending_.exchange(true))
        QMetaObject::invokeMethod(
            this,
            [this] {
                progressPending_ = false;
                emit progressChanged(run_.FilesLocated);
            },
            Qt::QueuedConnection);
}

void CopyRun::SelectCatalogueRow(const QString &ObjectID)
{
    // Only this engine's own copy run is followed; a catalogue copy leaves
    // the user's selection as it is.
    if (!copying_)
        return;
    // A run hands over a file after another, thousands a second: it is
    // followed at a pace the eye can follow, not scrolled to for each.
    {
        const QMutexLocker lock(&currentMutex_);
        currentFile_ = ObjectID;
    }
    if (!currentPending_.exchange(true))
        QMetaObject::invokeMethod(
            this, [this] { currentTimer_.start(); }, Qt::QueuedConnection);
}

void CopyRun::EmitCurrentFile()
{
    currentPending_ = false;
    // Its row was handed over before it.
    Drain();
    QString id;
    {
        const QMutexLocker lock(&currentMutex_);
        id = currentFile_;
    }
    emit currentFileChanged(id);
}

void CopyRun::RemoveCatalogueRow(const QString &ObjectID)
{
    Announce([this, ObjectID] { emit rowRemoved(ObjectID); });
}

void CopyRun::ShowErrorMessage(const QString &text)
{
    Announce([this, text] { emit errorMessage(text); });
}

void CopyRun::SetBusy(bool busy)
{
    emit catalogueBusy(busy);
}

void CopyRun::OpenWithDesktop(const QString &fileName)
{
    emit fileToOpen(fileName);
}

// --- the worker ---------------------------------------------------------------------

CopyRun::Start CopyRun::StartWorker(std::function<CopyOutcome()> job)
{
    // One worker at a time: a copy run or a listing owns the device until
    // it has ended.
    if (active_.exchange(true))
        return Start::Busy;
    // The last worker has announced its end and is only returning; no two
    // are ever alive, so waiting at the end waits for every one.
    if (thread_)
        thread_->wait();
    QThread *thread = QThread::create([this, job = std::move(job)] {
        CopyOutcome outcome;
        bool failed = false;
        try {
            outcome = job();
        } catch (const RunAbort &) {
            // Said already, in the log and in a message of its own.
            outcome.end = CopyOutcome::End::Aborted;
        } catch (const std::exception &e) {
            failed = true;
            outcome.message = QString::fromUtf8(e.what());
        } catch (...) {
            failed = true;
            outcome.message = QStringLiteral("Unknown exception.");
        }
        if (failed) {
            outcome.end = CopyOutcome::End::Failed;
            Announce([this, message = outcome.message] { emit workerFailed(message); });
        }
        outcome.counts = RunCounts::Of(run_);
        const bool wasCopying = copying_.exchange(false);
        Announce([this, outcome, wasCopying] {
            // Whatever ended the job, the device is free again.
            deviceLock_.reset();
            active_ = false;
            stopper_.JobEnded();
            if (wasCopying)
                emit copyFinished(outcome);
            emit workerFinished();
        });
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread_ = thread;
    thread->start();
    return Start::Started;
}

CopyRun::Start CopyRun::StartCopying(const QString &deviceId, const QString &deviceName, const RunSettings &settings)
{
    if (active_)
        return Start::Busy;
    TakeSettings(settings);
    std::unique_ptr<DeviceLock> lock;
    if (!deviceId.trimmed().isEmpty()) {
        lock = ClaimDevice(deviceId, deviceName);
        if (!lock)
            return Start::DeviceInUse;
    }
    // Cleared here rather than on the worker, so that a Stop pressed while
    // the device is being reopened still ends the run.
    run_.StopSignalled = false;
    deviceLock_ = std::move(lock);
    copying_ = true;
    const Start started = StartWorker([this, deviceId, deviceName] { return CopyJob(deviceId, deviceName); });
    if (started != Start::Started) {
        copying_ = false;
        deviceLock_.reset();
    }
    return started;
}

std::unique_ptr<DeviceLock> CopyRun::ClaimDevice(const QString &deviceId, const QString &deviceName)
{
    auto lock = std::make_unique<DeviceLock>(deviceId);
    if (lock->TryLock())
        return lock;
    log_.WriteLog(lock->RefusalText(deviceName), LogColor::Red, LogStyle::Bold);
    return nullptr;
}

CopyOutcome CopyRun::CopyJob(const QString &deviceId, const QString &deviceName)
{
    CopyOutcome outcome;
    if (!connection_.OpenDevice(deviceId, true)) {
        if (!connection_.RefusalSaid())
            log_.WriteLog(QStringLiteral("Device is not open!"), LogColor::Red, LogStyle::Bold);
        outcome.end = CopyOutcome::End::DeviceNotOpen;
        return outcome;
    }

    const RunHeader header = settings_.Header(deviceName);
    for (const RunLogLine &line : CopyHeaderLines(QStringLiteral("Copy Started"), header))
        log_.WriteLog(line.text, line.color, line.style);

    const int expected = int(qBound(qint64(1), walk_.ListedFileCount, qint64(std::numeric_limits<int>::max())));
    Announce([this, expected] { emit copyStarted(expected); });
    run_.RunStartTime = QDateTime::currentDateTime();
    QElapsedTimer elapsed;
    elapsed.start();

    if (const QFileInfo destination(header.Destination); !destination.isDir()) {
        const QString reason =
            destination.exists() ? QStringLiteral("is not a folder") : QStringLiteral("does not exist");
        log_.WriteLog(QStringLiteral("Destination path \"%1\" %2!").arg(header.Destination, reason), LogColor::Red,
                      LogStyle::Bold);
        outcome.end = CopyOutcome::End::NoDestination;
        return outcome;
    }
    if (!decision_.DestinationApart(header.Destination)) {
        outcome.end = CopyOutcome::End::NoDestination;
        return outcome;
    }

    ClearCatalogue();
    run_.ErrorCount = 0;
    run_.FilesCopied = 0;
    run_.FilesDeleted = 0;
    run_.FilesExisting = 0;
    run_.FilesLocated = 0;
    run_.BytesCopied = 0;
    run_.BytesDone = 0;
    walk_.ResetWalk();

    decision_.Streams().ResetRun();
    decision_.BeginRun();
    walk_.SetTransferTarget(&decision_);
    if (connection_.Handles().aPortableDeviceContent)
        walk_.EnumerateContent(connection_.Handles().aPortableDeviceContent.get(), QStringLiteral("DEVICE"), false, -1);
    walk_.SetTransferTarget(nullptr);
    decision_.EndSideFiles(!walk_.DeviceGone);
    decision_.EndRecord();
    decision_.EndDestinations();

    Announce([this] {
        emit walkFinished();
        emit progressChanged(run_.FilesLocated);
    });

    outcome.end = CopyOutcome::End::Stopped;
    if (run_.StopSignalled)
        return outcome;
    commands_.RunPostProcessingCommand();
    if (run_.StopSignalled)
        return outcome;
    RunCounts counts = RunCounts::Of(run_);
    counts.LeftByFilter = walk_.LeftByFilter;
    counts.Backups = decision_.BackupStatistics();
    for (const RunLogLine &line : CopyStatisticsLines(counts, elapsed.elapsed(), settings_.DeleteFiles))
        log_.WriteLog(line.text, line.color, line.style);
    outcome.end = CopyOutcome::End::Finished;
    return outcome;
}

CopyRun::Start CopyRun::StartListing(const QString &deviceId, const RunSettings &settings)
{
    if (active_)
        return Start::Busy;
    TakeSettings(settings);
    return StartWorker([this, deviceId] {
        ListJob(deviceId);
        return CopyOutcome();
    });
}

void CopyRun::ListJob(const QString &deviceId)
{
    if (connection_.OpenDevice(deviceId, false))
        ListWalk();
    else if (!connection_.RefusalSaid())
        log_.WriteLog(QStringLiteral("Device is not open!"), LogColor::Red, LogStyle::Bold);
}

void CopyRun::ListDeviceContents(const RunSettings &settings)
{
    if (active_)
        return;
    TakeSettings(settings);
    ListWalk();
}

void CopyRun::ListWalk()
{
    // On the worker, or on this object's thread when called there; every
    // announcement goes through the one ordered hand-off, so the rows and
    // the lines arrive in the order made.
    log_.WriteLog(QStringLiteral("DEVICE CONTENTS:"), LogColor::Blue, LogStyle::Bold);
    const FileFilterSettings filters = settings_.Filters;
    if (filters.enabled)
        log_.WriteLog(QStringLiteral("File Filters: ") + FileFilterLogText(filters.entries), LogColor::Black);
    else
        log_.WriteLog(QStringLiteral("File Filters: *.*"), LogColor::Black);

    walk_.ResetTotals();
    walk_.ResetWalk();
    run_.StopSignalled = false;
    ClearCatalogue();
    Announce([this] { emit listingStarted(); });

    if (connection_.Handles().aPortableDeviceContent)
        walk_.EnumerateContent(connection_.Handles().aPortableDeviceContent.get(), QStringLiteral("DEVICE"), true, -1);

    Announce([this] {
        emit walkFinished();
        emit listingFinished();
    });

    log_.WriteLog(QStringLiteral("Total Folders = %1 of %2")
                      .arg(FormatCount(qint64(walk_.ShownFolders)), FormatCount(qint64(walk_.TotalFolders))),
                  LogColor::Black);
    log_.WriteLog(QStringLiteral("Total Files = %1 of %2")
                      .arg(FormatCount(qint64(walk_.ShownFiles)), FormatCount(qint64(walk_.TotalFiles))),
                  LogColor::Black);
    log_.WriteLog(QStringLiteral("Total Size = %1 of %2").arg(FormatMiB(walk_.ShownSize), FormatMiB(walk_.TotalSize)),
                  LogColor::Black);
    if (walk_.ReadErrors > 0)
        log_.WriteLog(QStringLiteral("Not read = %1 (named above): the totals leave out what they hold.")
                          .arg(FormatCount(walk_.ReadErrors)),
                      LogColor::Red);
    const QString notInFilter = NotInFilterText(walk_.LeftByFilter);
    if (!notInFilter.isEmpty())
        log_.WriteLog(notInFilter, LogColor::Black);
    walk_.ListedFileCount = qint64(walk_.TotalFiles);
}

// --- Stop -----------------------------------------------------------------------------

void CopyRun::Stop()
{
    // Called on this object's thread, as is the worker's last announcement
    // that clears the active flag: exactly one of the two writes the ending.
    stopper_.Request(active_);
    if (commands_.IsWaiting())
        commands_.StopWaiting();
}

void CopyRun::StopAndWait()
{
    if (!thread_ || !thread_->isRunning())
        return;
    if (active_)
        stopper_.Request(active_);
    if (commands_.IsWaiting())
        commands_.StopWaiting();
    run_.StopSignalled = true;
    // The worker may wait for a hand-off to this thread (a message box), so
    // keep serving those while waiting.
    while (thread_ && !thread_->wait(20))
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    // Its last announcements (the log's ending among them) before anything
    // the caller writes next.
    Drain();
}

// --- the catalogue's file operations ------------------------------------------------

void CopyRun::CopyCatalogueFiles(const std::vector<GridRow> &rows, const QString &deviceId, const QString &deviceName,
                                 const RunSettings &settings)
{
    if (active_)
        return;
    // Never beside another copier of this device.
    const auto claim = ClaimDevice(deviceId, deviceName);
    if (!claim)
        return;
    TakeSettings(settings);
    grid_.GridCopyFile(rows, decision_, settings.Header(deviceName));
}

void CopyRun::DeleteCatalogueFiles(const std::vector<GridRow> &rows, const QString &deviceId, const QString &deviceName,
                                   const RunSettings &settings)
{
    if (active_)
        return;
    const auto claim = ClaimDevice(deviceId, deviceName);
    if (!claim)
        return;
    TakeSettings(settings);
    grid_.GridDeleteFile(rows, settings.Header(deviceName),
                         [this](const QString &id) { return decision_.DeleteFileFromDevice(id); });
}

void CopyRun::OpenCatalogueFile(const GridRow &current, int selectedCount, const QString &folder)
{
    if (active_)
        return;
    grid_.OpenFile(current, selectedCount, folder, [this](const QString &id, const QString &fileName, qint64 size) {
        // The opened file carries its own date from the device, never the
        // one the last copy left behind.
        QDateTime date;
        decision_.Streams().SetModificationTime(ReadObjectDate(id, date) ? InstantOf(date) : QDateTime());
        return decision_.Streams().CopyFileFromDevice(id, fileName, size, true) == StreamTransfer::CopyResult::Copied;
    });
}

bool CopyRun::ReadObjectDate(const QString &ObjectID, QDateTime &date)
{
    IPortableDeviceProperties *properties = connection_.Handles().aPortableDeviceProperties.get();
    if (!properties)
        return false;
    auto keys = std::make_shared<PortableDeviceKeyCollection>();
    keys->Add(WPD_OBJECT_DATE_CREATED);
    std::shared_ptr<PortableDeviceValues> values;
    QString text;
    if (FAILED(properties->GetValues(ObjectID, keys.get(), values)) || !values ||
        FAILED(values->GetStringValue(WPD_OBJECT_DATE_CREATED, text)))
        return false;
    return ParseWpdDateTime(text, date);
}
