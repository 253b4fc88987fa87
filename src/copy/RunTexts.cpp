#include "RunTexts.h"

#include "base/NumberFormat.h"
#include "base/RunState.h"

RunCounts RunCounts::Of(const RunState &run)
{
    RunCounts counts;
    counts.FilesLocated = run.FilesLocated;
    counts.FilesExisting = run.FilesExisting;
    counts.FilesCopied = run.FilesCopied;
    counts.FilesDeleted = run.FilesDeleted;
    counts.ErrorCount = run.ErrorCount;
    counts.BytesCopied = run.BytesCopied;
    return counts;
}

QString TrimDeviceRootField(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= 32)
        ++first;
    while (last > first && text.at(last - 1).unicode() <= 32)
        --last;
    const QString trimmed = text.mid(first, last - first);
    return trimmed == QLatin1String("\\") ? QString() : trimmed;
}

QString ElapsedTimeText(std::int64_t elapsedMs)
{
    const std::int64_t seconds = elapsedMs < 0 ? 0 : elapsedMs / 1000;
    return QStringLiteral("Elapsed Time: %1 Minutes %2 Seconds.").arg(seconds / 60).arg(seconds % 60);
}

std::vector<RunLogLine> CopyHeaderLines(const QString &title, const RunHeader &header)
{
    std::vector<RunLogLine> lines = {
        {title, LogColor::Blue, LogStyle::Bold},
        {QStringLiteral("Device: ") + header.DeviceName, LogColor::Blue},
        {header.FolderMode  ? QStringLiteral("Copy Mode: Using folder structure")
         : header.DateTaken ? QStringLiteral("Copy Mode: Using date taken (the file date where a file tells none) "
                                             "format ") +
                                  header.DateFormat
                            : QStringLiteral("Copy Mode: Using file date format ") + header.DateFormat,
         LogColor::Blue},
        {QStringLiteral("Device Root Path: ") + header.DeviceRoot, LogColor::Blue},
        {QStringLiteral("Destination Path: ") + header.Destination, LogColor::Blue},
    };
    for (qsizetype i = 0; i < header.BackupPaths.size(); ++i)
        if (!header.BackupPaths.at(i).isEmpty())
            lines.push_back({QStringLiteral("Backup Path %1: ").arg(i + 1) + header.BackupPaths.at(i), LogColor::Blue});
    return lines;
}

std::vector<RunLogLine> DeleteHeaderLines(const RunHeader &header)
{
    return {
        {QStringLiteral("Delete File(s) Started"), LogColor::Blue, LogStyle::Bold},
        {QStringLiteral("Device: ") + header.DeviceName, LogColor::Blue},
        {QStringLiteral("Device Root Path: ") + header.DeviceRoot, LogColor::Blue},
    };
}

namespace {

RunLogLine Statistic(const QString &text)
{
    return {text, LogColor::Blue, LogStyle::Bold};
}

RunLogLine ErrorsLine(std::int32_t errors)
{
    return {QString::number(errors) + QStringLiteral(" Errors encountered."),
            errors > 0 ? LogColor::Red : LogColor::Blue, LogStyle::Bold};
}

}  // namespace

std::vector<RunLogLine> CopyStatisticsLines(const RunCounts &counts, std::int64_t elapsedMs, bool deleteFiles,
                                            const FormatSettings &settings)
{
    std::vector<RunLogLine> lines = {
        Statistic(ElapsedTimeText(elapsedMs)),
        Statistic(FormatCount(counts.FilesLocated, settings) + QStringLiteral(" Files located at Source.")),
        Statistic(FormatCount(counts.FilesExisting, settings) +
                  QStringLiteral(" Files already existing at Destination.")),
        Statistic(FormatCount(counts.FilesCopied, settings) + QStringLiteral(" Files copied to Destination.")),
    };
    if (deleteFiles)
        lines.push_back(
            Statistic(FormatCount(counts.FilesDeleted, settings) + QStringLiteral(" Files delete from Source.")));
    const QString leftOnDevice = LeftOnDeviceText(counts.LeftByFilter, settings);
    if (!leftOnDevice.isEmpty())
        lines.push_back({leftOnDevice, LogColor::Blue, deleteFiles ? LogStyle::Bold : LogStyle::Normal});
    lines.push_back(
        Statistic(FormatMiB(counts.BytesCopied, settings) + QStringLiteral(" Total size copied to Destination.")));
    for (const BackupCounts &backup : counts.Backups) {
        QString text = backup.label + QStringLiteral(": ") + FormatCount(backup.FilesExisting, settings) +
                       QStringLiteral(" Files already existing, ") + FormatCount(backup.FilesCopied, settings) +
                       QStringLiteral(" Files copied, ") + FormatMiB(backup.BytesCopied, settings) +
                       QStringLiteral(" copied, ") + FormatCount(backup.ErrorCount, settings) +
                       QStringLiteral(" Errors.");
        if (!backup.failure.isEmpty())
            text += QStringLiteral(" It failed during the run: ") + backup.failure;
        lines.push_back({text, backup.failure.isEmpty() && backup.ErrorCount == 0 ? LogColor::Blue : LogColor::Red,
                         LogStyle::Bold});
    }
    lines.push_back(ErrorsLine(counts.ErrorCount));
    return lines;
}

std::vector<RunLogLine> DeleteStatisticsLines(const RunCounts &counts, std::int64_t elapsedMs,
                                              const FormatSettings &settings)
{
    return {
        Statistic(ElapsedTimeText(elapsedMs)),
        Statistic(FormatCount(counts.FilesLocated, settings) + QStringLiteral(" Files processed.")),
        Statistic(FormatCount(counts.FilesDeleted, settings) + QStringLiteral(" Files delete from Source.")),
        Statistic(FormatMiB(counts.BytesCopied, settings) + QStringLiteral(" Total size delete.")),
        ErrorsLine(counts.ErrorCount),
    };
}
