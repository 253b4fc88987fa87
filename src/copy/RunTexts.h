#pragma once

// The texts a copy run and the catalogue operations write around their work:
// the header lines before it and the statistics block after it. Pure text,
// so the rules (colours, which lines, number formats) can be checked alone.

#include "base/FormatSettings.h"
#include "log/LogColor.h"
#include "settings/FileTypeTally.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

struct RunState;

struct RunLogLine
{
    QString text;
    LogColor color = LogColor::Blue;
    LogStyle style = LogStyle::Normal;

    bool operator==(const RunLogLine &other) const
    {
        return text == other.text && color == other.color && style == other.style;
    }
};

// What a backup path received in a run or catalogue copy.
struct BackupCounts
{
    QString label;  // "Backup Path 1"
    QString path;
    std::int32_t FilesExisting = 0;
    std::int32_t FilesCopied = 0;
    std::int32_t ErrorCount = 0;  // its own, among the run's
    std::uint64_t BytesCopied = 0;
    QString failure;  // why it was left for the rest of the run; empty while it works
};

// The counters a statistics block reports, taken from the run state at its end.
struct RunCounts
{
    std::int32_t FilesLocated = 0;
    std::int32_t FilesExisting = 0;
    std::int32_t FilesCopied = 0;
    std::int32_t FilesDeleted = 0;
    std::int32_t ErrorCount = 0;
    std::uint64_t BytesCopied = 0;
    FileTypeTally LeftByFilter;         // files the file filter left on the device, by type
    std::vector<BackupCounts> Backups;  // the counters above are the destination's; these, each backup's

    static RunCounts Of(const RunState &run);
};

// What the header of a run shows, read from the window's fields.
struct RunHeader
{
    QString DeviceName;
    bool FolderMode = false;
    QString DateFormat;
    // Date folders go by the date a photo or video was taken.
    bool DateTaken = false;
    QString DeviceRoot;
    QString Destination;
    QStringList BackupPaths;  // Backup Path 1, 2, ...; empty entries are none
};

// The root path field as a run uses it: blanks and control characters
// trimmed from both ends, and a lone "\" (the device root) made empty.
QString TrimDeviceRootField(const QString &text);

// "Elapsed Time: M Minutes S Seconds." Runs of an hour or more show their
// total minutes, so a long run never looks shorter than it was.
QString ElapsedTimeText(std::int64_t elapsedMs);

// "Copy Started" (or "Copy File(s) Started") and the device, copy mode, root
// and destination lines, all blue, the first bold.
std::vector<RunLogLine> CopyHeaderLines(const QString &title, const RunHeader &header);
// "Delete File(s) Started", the device and the root path.
std::vector<RunLogLine> DeleteHeaderLines(const RunHeader &header);

// The statistics block after a copy run or a catalogue copy: six lines, or
// seven when files are deleted from the device after transfer, all bold; and
// before the total size, the files the filter left on the device, bold only
// when files are deleted (the card is not as empty as it seems). Before the
// errors, one bold line for each backup path, red when it failed.
std::vector<RunLogLine> CopyStatisticsLines(const RunCounts &counts, std::int64_t elapsedMs, bool deleteFiles,
                                            const FormatSettings &settings = ProcessFormatSettings());
// The statistics block after a catalogue delete.
std::vector<RunLogLine> DeleteStatisticsLines(const RunCounts &counts, std::int64_t elapsedMs,
                                              const FormatSettings &settings = ProcessFormatSettings());
