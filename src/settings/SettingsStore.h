#pragma once

#include "settings/DeviceSettings.h"
#include "settings/IniFile.h"
#include "settings/ProgramSettings.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class LogSink;

// The settings file, for the whole program: the one object that reads and
// writes it. The file is read when the store is made and again on Reload();
// reads in between come from that reading. Every write goes to the file at
// once by the settings file's rules (lines the program does not understand
// stay byte for byte, a failed write throws and leaves the old file) and
// brings the reading up to date, hand edits made meanwhile included.
//
// After every write, `changed` names the section written, also when the
// write failed part-way, so that a view showing it can follow.
class SettingsStore : public QObject
{
    Q_OBJECT

public:
    explicit SettingsStore(const QString &path, QObject *parent = nullptr);

    const QString &FileName() const { return file_.FileName(); }
    // Reads the file again, for changes made outside the program.
    void Reload();

    // Lines that cannot be settings, numbered from 1; the file keeps them.
    QList<int> IgnoredLines() const { return file_.IgnoredLines(); }
    // The log line naming them; empty when there are none.
    QString IgnoredLinesNote() const;

    ProgramSettings ReadProgram(const ProgramSettings &defaults = {}) const
    {
        return ReadProgramSection(file_, defaults);
    }
    DeviceSettings ReadDevice(const QString &section) const { return ReadDeviceSection(file_, section); }
    QStringList ReadDeviceList() const { return ::ReadDeviceList(file_); }
    bool SectionExists(const QString &section) const { return file_.SectionExists(section); }
    // Keys outside the tables (the preview window's).
    int ReadInteger(const QString &section, const QString &key, int defaultValue) const
    {
        return file_.ReadInteger(section, key, defaultValue);
    }
    bool ReadBool(const QString &section, const QString &key, bool defaultValue) const
    {
        return file_.ReadBool(section, key, defaultValue);
    }

    void WriteProgram(const ProgramSettings &values, ProgramKeys keys);
    void WriteDevice(const QString &section, const DeviceSettings &values, DeviceKeys keys);
    // DeviceCount and LastDevice in the program section, and the list's own section.
    void WriteDeviceList(const QStringList &entries, const QString &lastDevice, LogSink &log);
    void EraseSection(const QString &section);
    // Remembers a folder added as a device: the device NAME with serial
    // number SERIAL keeps FOLDER (unless it is a memory card, which is found
    // wherever it is mounted) and is in the device list (ENTRIES, the list as
    // it stands, saved with NAME when it lacks it or the folder is new). A
    // name remembered for another serial number is refused: the text says
    // why; it is empty when the folder is remembered.
    QString RememberFolderDevice(const QString &name, const QString &serial, const QString &folder, bool card,
                                 QStringList entries, LogSink &log);
    void WriteInteger(const QString &section, const QString &key, int value);
    void WriteBool(const QString &section, const QString &key, bool value);

    // Why the file cannot be written; empty when it can.
    QString WriteTrouble() const;
    // With a handler, a write that fails calls it with the error's text
    // instead of throwing, and the program goes on with what it has read.
    void OnWriteFailure(std::function<void(const QString &error)> handler) { onWriteFailure_ = std::move(handler); }
    // Writes that failed so far, and the last one's error.
    int FailedWrites() const { return failedWrites_; }
    const QString &LastWriteError() const { return lastWriteError_; }

signals:
    void changed(const QString &section);

private:
    // Runs a write and then says which sections it touched, whether or not it
    // got through.
    template <typename Write> void Change(const QStringList &sections, Write write);

    IniFile file_;
    std::function<void(const QString &)> onWriteFailure_;
    int failedWrites_ = 0;
    QString lastWriteError_;
};
