#pragma once

#include "catalogue/CatalogueGrid.h"
#include "catalogue/PathRules.h"
#include "device/DeviceConnection.h"
#include "settings/FileTypeTally.h"

#include <QDateTime>
#include <QHash>

struct FormatSettings;

class LogSink;
struct RunState;

// The settings a walk goes by, read from the controls when it starts: a
// change made during a walk counts from the next one.
struct WalkSettings
{
    QString deviceRoot;
    FileFilterSettings filters;
};

// What the walk needs from the window: the live settings, the grids and the
// progress hand-off.
class WalkHost
{
public:
    virtual ~WalkHost() = default;
    virtual QString DeviceRootText() = 0;
    virtual FileFilterSettings FileFilters() = 0;
    // The settings as the controls show them now.
    virtual WalkSettings CurrentWalkSettings() { return {DeviceRootText(), FileFilters()}; }
    // 0 dated folders, 1 folder structure, -1 none chosen.
    virtual int CopyModeIndex() = 0;
    // Appends to the hidden grid, and to the visible one when shown.
    virtual void AppendRow(const CatalogueGrid::Row &row, bool shown) = 0;
    // Hands the progress to the user-interface thread without waiting for it.
    virtual void UpdateUI() = 0;
};

// Where a copy run's walk hands each file that passes the copy rules.
class TransferTarget
{
public:
    virtual ~TransferTarget() = default;
    virtual void TransferFile(const QString &ObjectID, const QString &FileName, const QDateTime &DateCreated,
                              quint64 Size, bool FolderMode) = 0;
    // Every file of the folder was handed over (a folder's identifier is
    // the start of its files' identifiers up to their last "/").
    virtual void FolderDone(const QString &FolderID) { Q_UNUSED(FolderID); }
    // The device went away during a transfer: the walk ends there (the
    // target said so in the log).
    virtual bool DeviceLost() const { return false; }
};

// The catalogue's text for a device date: the fields as the local date-time
// shows them. Building a local date-time for every object costs a time-zone
// lookup each; the fields show unchanged except in an hour that holds a
// clock change, so each hour is checked once and only objects in such an
// hour take the full conversion.
class DeviceDateText
{
public:
    QString Text(QDate date, QTime time, const FormatSettings &settings);
    // Forget the checked hours (the time zone may change between walks).
    void Reset()
    {
        checkedHours_.clear();
        lastSettings_ = nullptr;
    }

private:
    bool HourShowsFieldsUnchanged(QDate date, int hour);
    QHash<qint64, bool> checkedHours_;
    // Pictures of one burst share their date: the text made last is kept.
    const FormatSettings *lastSettings_ = nullptr;
    QDate lastDate_;
    QTime lastTime_;
    QString lastText_;
};

// The depth-first walk of an open device's object tree into the catalogue.
class ContentWalk
{
public:
    ContentWalk(DeviceHandles &handles, RunState &run, LogSink &log, WalkHost &host);

    void SetTransferTarget(TransferTarget *target) { transfer_ = target; }

    HRESULT EnumerateContent(IPortableDeviceContent *Content, const QString &ObjectID, bool ListOnly, int Level);
    HRESULT GetDeviceFileProperties(IPortableDeviceProperties *Properties, const QString &ObjectID, bool ListOnly,
                                    int Level);

    // Before every walk.
    void ResetWalk();
    // Before a listing.
    void ResetTotals();

    // Device path of the storage or folder met most recently: the storage's
    // name, then folder names, separated by "\".
    QString DevPath;
    int LastFolderLevel = 0;
    bool DeviceObjectSeen = false;
    // Totals are 64-bit so a phone full of videos adds up correctly.
    quint64 TotalFolders = 0;
    quint64 TotalFiles = 0;
    quint64 TotalSize = 0;
    quint64 ShownFolders = 0;
    quint64 ShownFiles = 0;
    quint64 ShownSize = 0;
    qint64 ListedFileCount = 0;
    // Folders (or objects) of this walk that could not be read: each was
    // named in the log and added to the run's ErrorCount, and the walk went on.
    int ReadErrors = 0;
    // The device went away during this walk: the walk ended there, with a
    // red line, and EnumerateContent gave E_DEVICE_NOT_CONNECTED.
    bool DeviceGone = false;
    // Files of this walk that the file filter alone kept out, by type: in a
    // listing those under the device root, in a copy run those the copy
    // root would have handed over. Nothing is silently left on a device.
    FileTypeTally LeftByFilter;

private:
    // Reads the settings when a walk starts (the outermost EnumerateContent,
    // or a lone GetDeviceFileProperties call).
    void TakeSettings();
    void CheckStorageRow(const QString &childId);
    // A folder that could not be listed: logged, counted, and the walk goes
    // on (S_OK); a lost device ends the walk (its code).
    HRESULT ListingFailed(const QString &ObjectID, HRESULT code);
    void ReadFailed(const QString &ObjectID, HRESULT code);
    HRESULT Lost(const QString &ObjectID, HRESULT code);

    DeviceHandles &handles_;
    RunState &run_;
    LogSink &log_;
    WalkHost &host_;
    TransferTarget *transfer_ = nullptr;
    int depth_ = 0;
    QString root_;  // trimmed
    FileFilterRule filterRule_;
    DeviceDateText dateText_;
    bool handedOver_ = false;  // the object just read went to the transfer target
};

// "2016/08/13:10:22:33.123" and other digit layouts of a device date.
bool ParseWpdDateTime(const QString &text, QDateTime &value);
// The same, as the date and time of day the text names (no time zone applied).
bool ParseWpdFields(const QString &text, QDate &date, QTime &time);

// The date that a failed device date leaves: 30 December 1899, 00:00.
QDateTime ZeroDateTime();
