#pragma once

#include "catalogue/ContentWalk.h"
#include "commands/CommandRunner.h"
#include "copy/RunTexts.h"
#include "copy/TransferEvents.h"
#include "settings/FileFilter.h"

#include <QString>
#include <QStringList>

struct DeviceSettings;

// The settings a run goes by, as one value taken when it starts: a device's
// settings as the window shows them, or its saved section for a run without
// a window.
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
    QStringList BackupPaths;          // Backup Path 1, 2: copies beside the destination; empty entries are none
    CommandSettings PostFileCopy;
    CommandSettings PostProcessing;

    WalkSettings Walk() const { return {DeviceRoot, Filters, CopyMode}; }
    TransferSettings Transfer() const
    {
        return {Destination, DateFormat, ByteLevel, DeleteFiles, ForceRun, DateTaken, SkipImportedBefore, BackupPaths};
    }
    CommandRunSettings Commands() const { return {PostFileCopy, PostProcessing, Destination}; }
    // The run header's account of these settings for the device.
    RunHeader Header(const QString &deviceName) const
    {
        return RunHeader{deviceName, CopyMode == 1, DateFormat, DateTaken, DeviceRoot, Destination, BackupPaths};
    }
};

// The settings a device's saved section gives a run.
RunSettings RunSettingsOf(const DeviceSettings &device);
