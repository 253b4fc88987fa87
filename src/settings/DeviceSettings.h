#pragma once

#include <QString>
#include <QStringList>

class IniFile;

// The settings a device keeps in its own section of the settings file; the
// section is named after the device's display name. Every reader and writer
// goes through the one key table behind ReadDeviceSection and
// WriteDeviceSection, so a key is spelled, typed and defaulted in one place.
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
    bool PostFileCopyCommandCheckBox = false;
    bool PostProcessingCommandCheckBox = false;
    QString PostFileCopyCommandLabeledEdit;
    QString PostProcessingCommandLabeledEdit;
    bool PostFileCopyForceCheckBox = false;
    QString PostFileCopySuccessCode = QStringLiteral("0");
    QString PostProcessingSuccessCode = QStringLiteral("0");
    bool FileFiltersCheckBox = true;
    QString FileFilter;  // encoded; see FileFilter.h
    // Where date folders take their date from: 0 the file's date on the
    // device, 1 the date the photo or video was taken (its metadata).
    int DateSource = 0;
    QString FolderPath;          // a folder the user added as this device; empty for any other device
    bool CopyOnConnect = false;  // a copy run starts by itself when the device is connected
    // A file the import record shows was imported before is left on the
    // device, wherever its copy is now.
    bool SkipImportedBefore = false;

    DeviceSettings();
};

// Which keys a writer owns: the main window saves them all, each dialog only
// its own.
enum class DeviceKeys : unsigned {
    Identity = 1,        // DeviceName, DeviceSerialNo
    MainWindow = 2,      // DestPath, DateFormat, DeviceRoot, CopyMode
    Options = 4,         // ByteLevelCompare, DeleteFiles, FileFiltersCheckBox, FileFilter, DateSource,
                         // CopyOnConnect, SkipImportedBefore
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

// The list of known devices: DeviceCount and LastDevice in the program
// section, the entries as Item0, Item1, ... in section Devices (rewritten
// whole). In debug mode each entry is logged as it is saved.
void WriteDeviceList(IniFile &ini, const QStringList &entries, const QString &lastDevice, LogSink &log);
// The entries as saved, at most ProgramSettings::kMaxDevices.
QStringList ReadDeviceList(const IniFile &ini);

// Remembers a folder added as a device, as Add Folder does: the device NAME
// with serial number SERIAL keeps FOLDER (unless it is a memory card, which
// is found wherever it is mounted) and is in the device list (ENTRIES, the
// list as it stands, which is saved with NAME when it lacks it or the folder
// is new). A name remembered for another serial number is refused: the
// returned text says why; it is empty when the folder is remembered.
QString RememberFolderDevice(IniFile &ini, const QString &name, const QString &serial, const QString &folder, bool card,
                             QStringList entries, LogSink &log);
