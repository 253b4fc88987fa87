#include "SettingsStore.h"

SettingsStore::SettingsStore(const QString &path, QObject *parent) : QObject(parent), file_(path)
{
    file_.Preload();
}

void SettingsStore::Reload()
{
    file_.Preload();
}

QString SettingsStore::WriteTrouble() const
{
    return file_.WriteTrouble();
}

QString SettingsStore::IgnoredLinesNote() const
{
    return file_.IgnoredLinesText();
}

QString SettingsStore::RememberFolderDevice(const QString &name, const QString &serial, const QString &folder,
                                            bool card, QStringList entries, LogSink &log)
{
    const DeviceSettings remembered = ReadDevice(name);
    // One list entry per name: an entry that opens another device keeps it.
    if (!remembered.DeviceSerialNo.isEmpty() && remembered.DeviceSerialNo != serial)
        return QStringLiteral("Folder \"%1\" was not added: its name \"%2\" already belongs to another device. "
                              "Rename the folder, or delete that device from the list first.")
            .arg(folder, name);
    if (remembered.DeviceSerialNo.isEmpty()) {
        DeviceSettings identity;
        identity.DeviceName = name;
        identity.DeviceSerialNo = serial;
        WriteDevice(name, identity, DeviceKeys::Identity);
    }
    bool listChanged = !entries.contains(name);
    if (listChanged)
        entries << name;
    if (!card && remembered.FolderPath != folder) {
        DeviceSettings added;
        added.FolderPath = folder;
        WriteDevice(name, added, DeviceKeys::Folder);
        listChanged = true;
    }
    // The list is saved too, so that the next start offers the folder again;
    // the device opened at start stays the one saved last.
    if (listChanged)
        WriteDeviceList(entries, ReadProgram().LastDevice, log);
    return QString();
}

template <typename Write> void SettingsStore::Change(const QStringList &sections, Write write)
{
    const auto tell = [&] {
        for (const QString &section : sections)
            emit changed(section);
    };
    // One reading of the file and one write, however many keys change.
    try {
        file_.BeginBatch();
        write();
        file_.CommitBatch();
    } catch (const std::exception &e) {
        file_.DropBatch();
        tell();
        ++failedWrites_;
        lastWriteError_ = QString::fromUtf8(e.what());
        if (!onWriteFailure_)
            throw;
        onWriteFailure_(lastWriteError_);
        return;
    }
    tell();
}

void SettingsStore::WriteProgram(const ProgramSettings &values, ProgramKeys keys)
{
    Change({ProgramSection()}, [&] { WriteProgramSection(file_, values, keys); });
}

void SettingsStore::WriteDevice(const QString &section, const DeviceSettings &values, DeviceKeys keys)
{
    Change({section}, [&] { WriteDeviceSection(file_, section, values, keys); });
}

void SettingsStore::WriteDeviceList(const QStringList &entries, const QString &lastDevice, LogSink &log)
{
    Change({ProgramSection(), DevicesSection()}, [&] { ::WriteDeviceList(file_, entries, lastDevice, log); });
}

void SettingsStore::EraseSection(const QString &section)
{
    Change({section}, [&] { file_.EraseSection(section); });
}

void SettingsStore::WriteInteger(const QString &section, const QString &key, int value)
{
    Change({section}, [&] { file_.WriteInteger(section, key, value); });
}

void SettingsStore::WriteBool(const QString &section, const QString &key, bool value)
{
    Change({section}, [&] { file_.WriteBool(section, key, value); });
}
