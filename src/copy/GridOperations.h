#pragma once

// The catalogue's three file operations on the rows the user selected: copy
// them to the destination, delete them from the device, open one with the
// desktop's application. They run on the user-interface thread and never
// while a copy run or a listing is active (the window refuses them then).

#include "copy/RunTexts.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <vector>

class LogSink;
class TransferDecision;
struct RunState;

// One catalogue row as the operations read it.
struct GridRow
{
    QString FileName;  // column 1
    QString DateText;  // column 3, the catalogue's date text
    QString Type;      // column 4
    QString ObjectID;  // column 5
    QString SizeText;  // column 6, bytes as decimal text
};

// Rows that stand for a file: a type, and not a folder or storage.
bool IsFileRow(const GridRow &row);

// What the operations tell while they work.
class GridHost
{
public:
    virtual ~GridHost() = default;
    // An operation begins (true) and ends (false).
    virtual void SetBusy(bool busy) = 0;
    // Asks the desktop to open a local file with its default application.
    virtual void OpenWithDesktop(const QString &fileName) = 0;
};

class GridOperations
{
public:
    // Deletes one object from the device (and its catalogue row); true on success.
    using DeleteFunction = std::function<bool(const QString &ObjectID)>;
    // Copies one object to a local file; true when the file stands there complete.
    using CopyFunction = std::function<bool(const QString &ObjectID, const QString &FileName, qint64 Size)>;

    // The creation date of a device object as the device reports it; false
    // when it cannot be read.
    using DateFunction = std::function<bool(const QString &ObjectID, QDateTime &Date)>;

    GridOperations(RunState &run, LogSink &log, GridHost &host, DateFunction deviceDate = {});

    // rows: the selection from its top row to its bottom row; handled from
    // the bottom up, so that rows removed by a deletion never shift the rows
    // still to come. Only an error exit of a file's decision ends the
    // operation early (a failing per-file command is counted and the next
    // row follows); the statistics block ends it either way.
    // The decision goes by the settings it was given; header names them in the log.
    void GridCopyFile(const std::vector<GridRow> &rows, TransferDecision &decision, const RunHeader &header);
    // Every file row is tried; failures are counted and logged.
    void GridDeleteFile(const std::vector<GridRow> &rows, const RunHeader &header,
                        const DeleteFunction &deleteFromDevice);
    // current: the row with the focus; selectedCount: rows in the selection.
    // The copy goes into folder (a private folder of ours, ending with "/").
    void OpenFile(const GridRow &current, int selectedCount, const QString &folder, const CopyFunction &copy);

    // The date and size of a row as the decision takes them; throws
    // Exception when neither the device nor the cell gives one. The device's
    // own date comes first: the cell's text is only as exact as the
    // locale's format (no seconds, perhaps, or month names).
    QDateTime RowDate(const GridRow &row) const;
    static qint64 RowSize(const GridRow &row);

private:
    // Keeps the window busy while it lives; sets the start time and resets
    // the counters that copy and delete both start from zero.
    class BusyOperation
    {
    public:
        explicit BusyOperation(GridOperations &operations);
        ~BusyOperation();
        BusyOperation(const BusyOperation &) = delete;
        BusyOperation &operator=(const BusyOperation &) = delete;

    private:
        GridHost &host_;
    };

    void WriteLines(const std::vector<RunLogLine> &lines);

    RunState &run_;
    LogSink &log_;
    GridHost &host_;
    DateFunction deviceDate_;
};
