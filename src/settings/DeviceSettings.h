#pragma once

#include <QString>
#include <QStringList>

class IniFile;

// The settings a device keeps in its own section of the settings file; the
// section is named after the device's display name. Every reader and writer
// goes through the one key table behind ReadDeviceSection and
// WriteDeviceSection, so a key is spelled, typed and defaulted in one place.
// Some keys still carry the names of the controls that once held them
// ("PostFileCopyCommandCheckBox"); settings files keep them, the fields are
// named by what they hold.
struct DeviceSettings
{
    QString DeviceName;
    QString DeviceSerialNo;
    QString DestPath;
    QString DateFormat = QStringLiteral("yyyy-mm-dd");
    QString DeviceRoot;
    int CopyMode = 0;
    bool ByteLevelCompare = false;
    bool DeleteFiles = false;
    bool PostFileCopyCommandOn = false;
    bool PostProcessingCommandOn = false;
    QString PostFileCopyCommand;
    QString PostProcessingCommand;
    bool PostFileCopyForceRun = false;
    QString PostFileCopySuccessCode = QStringLiteral("0");
    QString PostProcessingSuccessCode = QStringLiteral("0");
    bool FileFiltersOn = true;
    QString FileFilter;  // encoded; see FileFilter.h
    // Where date folders take their date from: 0 the file's date on the
    // device, 1 the date the photo or video was taken (its metadata).
    int DateSource = 0;
    QString FolderPath;          // a folder the user added as this device; empty for any other device
    bool CopyOnConnect = false;  // a copy run starts by itself when the device is connected
    // A file the import record shows was imported before is left on the
    // device, wherever its copy is now.
    bool SkipImportedBefore = false;
    // Folders every file is copied to as well as DestPath ("Backup Path 1"
    // and "Backup Path 2"); empty: none.
    QString BackupPath1;
    QString BackupPath2;

    DeviceSettings();
    bool operator==(const DeviceSettings &) const = default;
};

// The keys in groups, as their writers own them: the main window saves them
// all, each dialog only its own.
enum class DeviceKeys : unsigned {
    Identity = 1,        // DeviceName, DeviceSerialNo
    Paths = 2,           // DestPath, DateFormat, DeviceRoot, CopyMode: where files come from and go
    Options = 4,         // ByteLevelCompare, DeleteFiles, FileFiltersCheckBox, FileFilter, DateSource,
                         // CopyOnConnect, SkipImportedBefore, BackupPath1, BackupPath2
    PostProcessing = 8,  // the two commands, their switches, Force and the success codes
    All = 15,            // everything Save Settings writes
    Folder = 16,         // FolderPath: written when a folder is added, kept by every other writer
};

// Reads the section; a missing key reads as its default. The serial number
// and the device root come back trimmed, a root of exactly "\" as empty, and
// the copy mode and the date source within 0..1.
DeviceSettings ReadDeviceSection(const IniFile &ini, const QString &section);

// Writes the keys of the given groups, in the table's order.
void WriteDeviceSection(IniFile &ini, const QString &section, const DeviceSettings &values, DeviceKeys keys);

// The device root as stored: trimmed, and a lone "\" means the device's root.
QString CleanDeviceRoot(const QString &root);

class LogSink;

// The name of the device list's section.
QString DevicesSection();

// The list of known devices: DeviceCount and LastDevice in the program
// section, the entries as Item0, Item1, ... in section Devices (rewritten
// whole). In debug mode each entry is logged as it is saved.
void WriteDeviceList(IniFile &ini, const QStringList &entries, const QString &lastDevice, LogSink &log);
// The entries as saved, at most ProgramSettings::kMaxDevices; blank ones are passed over.
QStringList ReadDeviceList(const IniFile &ini);
