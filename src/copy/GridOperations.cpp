#include "GridOperations.h"

#include "base/DateFormat.h"
#include "base/NumberFormat.h"
#include "base/RunState.h"
#include "catalogue/ContentWalk.h"
#include "copy/TransferDecision.h"
#include "log/Exception.h"
#include "log/LogSink.h"

#include <QElapsedTimer>

bool IsFileRow(const GridRow &row)
{
    return !row.Type.isEmpty() && row.Type != QLatin1String("FOLDER") && row.Type != QLatin1String("STORAGE");
}

GridOperations::GridOperations(RunState &run, LogSink &log, GridHost &host, DateFunction deviceDate)
    : run_(run), log_(log), host_(host), deviceDate_(std::move(deviceDate))
{
}

QDateTime GridOperations::RowDate(const GridRow &row) const
{
    QDateTime date;
    if (deviceDate_ && deviceDate_(row.ObjectID, date))
        return date;
    // The catalogue leaves the cell empty for an object without a date.
    if (row.DateText.isEmpty())
        return ZeroDateTime();
    if (!StrToDateTime(row.DateText, UserLocaleSettings(), date))
        throw Exception(QStringLiteral("'%1' is not a valid date and time").arg(row.DateText));
    return date;
}

qint64 GridOperations::RowSize(const GridRow &row)
{
    bool ok = false;
    const qint64 size = row.SizeText.toLongLong(&ok);
    if (!ok || size < 0)
        throw Exception(QStringLiteral("'%1' is not a valid integer value").arg(row.SizeText));
    return size;
}

GridOperations::BusyOperation::BusyOperation(GridOperations &operations) : host_(operations.host_)
{
    RunState &run = operations.run_;
    host_.SetBusy(true);
    // A stop left over from a run or a listing must not end this operation's transfers.
    run.StopSignalled = false;
    run.RunStartTime = QDateTime::currentDateTime();
    run.ErrorCount = 0;
    run.FilesDeleted = 0;
    run.FilesLocated = 0;
    run.BytesCopied = 0;
}

GridOperations::BusyOperation::~BusyOperation()
{
    host_.SetBusy(false);
}

void GridOperations::WriteLines(const std::vector<RunLogLine> &lines)
{
    for (const RunLogLine &line : lines)
        log_.WriteLog(line.text, line.color, line.style);
}

void GridOperations::GridCopyFile(const std::vector<GridRow> &rows, TransferDecision &decision, const RunHeader &header)
{
    const bool deleteFiles = decision.Settings().DeleteFiles;
    WriteLines(CopyHeaderLines(QStringLiteral("Copy File(s) Started"), header));
    run_.FilesCopied = 0;
    run_.FilesExisting = 0;
    const BusyOperation busy(*this);
    QElapsedTimer elapsed;
    elapsed.start();
    if (!decision.DestinationApart(header.Destination)) {
        run_.ErrorCount += 1;
        WriteLines(CopyStatisticsLines(RunCounts::Of(run_), elapsed.elapsed(), deleteFiles));
        return;
    }

    decision.BeginRun();
    bool ended = false;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        if (!IsFileRow(*row))
            continue;
        const QDateTime date = RowDate(*row);
        const qint64 size = RowSize(*row);
        decision.TransferFile(row->ObjectID, row->FileName, date, quint64(size), header.FolderMode);
        // Stop ends the operation as it ends a run: the rows left are not tried.
        if (decision.EndedInError() || run_.StopSignalled) {
            ended = true;
            break;
        }
    }
    // Side files among the rows go with their main files among the rows.
    decision.EndSideFiles(!ended);
    decision.EndRecord();
    decision.EndDestinations();
    RunCounts counts = RunCounts::Of(run_);
    counts.Backups = decision.BackupStatistics();
    WriteLines(CopyStatisticsLines(counts, elapsed.elapsed(), deleteFiles));
}

void GridOperations::GridDeleteFile(const std::vector<GridRow> &rows, const RunHeader &header,
                                    const DeleteFunction &deleteFromDevice)
{
    WriteLines(DeleteHeaderLines(header));
    // A delete keeps the copy counters of the last copy.
    const BusyOperation busy(*this);
    QElapsedTimer elapsed;
    elapsed.start();

    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        if (!IsFileRow(*row))
            continue;
        const QDateTime date = RowDate(*row);
        const qint64 size = RowSize(*row);
        ++run_.FilesLocated;
        log_.WriteLog(QStringLiteral("Source File: ") + row->ObjectID, LogColor::Blue);
        log_.WriteLog(QStringLiteral("Dated: ") + DateTimeToStr(date, UserLocaleSettings()), LogColor::Black);
        log_.WriteLog(QStringLiteral("Size: ") + FormatSizeKiB(size), LogColor::Black);
        if (deleteFromDevice(row->ObjectID)) {
            log_.WriteLog(QStringLiteral("Deleted file ") + row->FileName + QStringLiteral(" from device."),
                          LogColor::Green);
            ++run_.FilesDeleted;
            run_.BytesCopied += quint64(size);
        } else {
            log_.WriteLog(QStringLiteral("ERROR: Could not delete the file ") + row->FileName +
                              QStringLiteral(" from the device."),
                          LogColor::Red, LogStyle::Bold);
            ++run_.ErrorCount;
        }
    }
    WriteLines(DeleteStatisticsLines(RunCounts::Of(run_), elapsed.elapsed()));
}

void GridOperations::OpenFile(const GridRow &current, int selectedCount, const QString &folder,
                              const CopyFunction &copy)
{
    if (current.Type.isEmpty())
        return;
    if (selectedCount != 1) {
        log_.WriteLog(QStringLiteral("Only one file can be opened at one time."), LogColor::Black);
        return;
    }
    if (!IsFileRow(current))
        return;
    const qint64 size = RowSize(current);
    log_.WriteLog(QStringLiteral("Transferring File: \"%1\" Size: %2 KiB").arg(current.FileName, FormatKiB(size)),
                  LogColor::Black);
    // The name comes from the device: it may only ever be one file inside
    // our own folder.
    const QString &name = current.FileName;
    const bool usable = !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
                        !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
    if (!usable) {
        log_.WriteLog(QStringLiteral("ERROR: The name \"%1\" cannot be used for a local file.").arg(name),
                      LogColor::Red, LogStyle::Bold);
        return;
    }
    if (folder.isEmpty()) {
        log_.WriteLog(QStringLiteral("ERROR: No private folder for opened files could be made."), LogColor::Red,
                      LogStyle::Bold);
        return;
    }
    const QString target = folder + name;
    run_.StopSignalled = false;  // one left over from a run must not end this transfer
    if (!copy(current.ObjectID, target, size)) {
        log_.WriteLog(QStringLiteral("ERROR: Could not transfer the file from the device."), LogColor::Red,
                      LogStyle::Bold);
        return;
    }
    log_.WriteLog(QStringLiteral("Opening File: \"%1\"").arg(current.FileName), LogColor::Black);
    host_.OpenWithDesktop(target);
}
