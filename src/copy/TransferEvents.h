#pragma once

#include <QString>
#include <QStringList>

// The settings a copy goes by, given when a run or a catalogue copy starts:
// a change made meanwhile counts from the next one.
struct TransferSettings
{
    QString Destination;
    QString DateFormat;
    bool ByteLevel = false;
    bool DeleteFiles = false;
    // "Force Run" of the post file copy command.
    bool ForceRun = false;
    // Date folders go by the date the photo or video was taken, as the file
    // says, instead of the file's date ("Date folders from:").
    bool DateTaken = false;
    // A file the import record shows as imported before is left alone,
    // wherever its copy went since ("Skip files imported before").
    bool SkipImportedBefore = false;
    // "Backup Path 1", "Backup Path 2", ...: folders every file goes to as
    // well as the destination, read from the device once; an empty entry is
    // none.
    QStringList BackupPaths;
};

// What a copy tells of its files as it goes. Called on the thread that
// copies; nothing here waits for anybody.
class TransferEvents
{
public:
    virtual ~TransferEvents() = default;
    // The file in hand now.
    virtual void SelectCatalogueRow(const QString &ObjectID) = 0;
    // The file was deleted from the device.
    virtual void RemoveCatalogueRow(const QString &ObjectID) = 0;
    // An error for the user's attention ("RESOURCE ERROR: ...").
    virtual void ShowErrorMessage(const QString &text) = 0;
};
