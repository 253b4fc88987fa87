#pragma once

#include <QString>

// What a copy needs from the window. Values are read from the live controls
// at the moment of use; calls come from the worker thread and take effect on
// the user-interface thread in the order made.
class CopyHost
{
public:
    virtual ~CopyHost() = default;
    // The text of the "Destination Path:" field.
    virtual QString DestinationPathText() = 0;
    // The text of the "Date Format:" field.
    virtual QString DateFormatText() = 0;
    virtual bool ByteLevelCompare() = 0;
    virtual bool DeleteFiles() = 0;
    // "Force Run" of the post file copy command.
    virtual bool ForceRun() = 0;
    // Date folders go by the date the photo or video was taken, as the file
    // says, instead of the file's date ("Date folders from:").
    virtual bool DateFoldersByDateTaken() { return false; }
    // A file the import record shows as imported before is left alone,
    // wherever its copy went since ("Skip files imported before").
    virtual bool SkipImportedBefore() { return false; }
    // Makes the catalogue row with this object identifier the current one.
    virtual void SelectCatalogueRow(const QString &ObjectID) = 0;
    // Removes the catalogue row with this object identifier.
    virtual void RemoveCatalogueRow(const QString &ObjectID) = 0;
    // A modal error message box; returns when the user has closed it.
    virtual void ShowErrorMessage(const QString &text) = 0;
};
