#include "DeviceSettings.h"

#include "log/LogSink.h"
#include "settings/FileFilter.h"
#include "settings/IniFile.h"
#include "settings/ProgramSettings.h"

#include <QStringList>

#include <variant>

namespace {

// How a value is stored: commands keep their blanks and quotes.
enum class Form { Plain, Command };

using Field = std::variant<QString DeviceSettings::*, int DeviceSettings::*, bool DeviceSettings::*>;

struct Key
{
    const char *name;
    Field field;
    DeviceKeys group;
    Form form = Form::Plain;
};

// In the order the keys are read and written.
const Key kKeys[] = {
    {"DeviceName", &DeviceSettings::DeviceName, DeviceKeys::Identity},
    {"DeviceSerialNo", &DeviceSettings::DeviceSerialNo, DeviceKeys::Identity},
    {"DestPath", &DeviceSettings::DestPath, DeviceKeys::Paths},
    {"DateFormat", &DeviceSettings::DateFormat, DeviceKeys::Paths},
    {"DeviceRoot", &DeviceSettings::DeviceRoot, DeviceKeys::Paths},
    {"CopyMode", &DeviceSettings::CopyMode, DeviceKeys::Paths},
    {"ByteLevelCompare", &DeviceSettings::ByteLevelCompare, DeviceKeys::Options},
    {"DeleteFiles", &DeviceSettings::DeleteFiles, DeviceKeys::Options},
    {"PostFileCopyCommandCheckBox", &DeviceSettings::PostFileCopyCommandOn, DeviceKeys::PostProcessing},
    {"PostProcessingCommandCheckBox", &DeviceSettings::PostProcessingCommandOn, DeviceKeys::PostProcessing},
    {"PostFileCopyCommandLabeledEdit", &DeviceSettings::PostFileCopyCommand, DeviceKeys::PostProcessing, Form::Command},
    {"PostProcessingCommandLabeledEdit", &DeviceSettings::PostProcessingCommand, DeviceKeys::PostProcessing,
     Form::Command},
    {"PostFileCopyForceCheckBox", &DeviceSettings::PostFileCopyForceRun, DeviceKeys::PostProcessing},
    {"PostFileCopySuccessCode", &DeviceSettings::PostFileCopySuccessCode, DeviceKeys::PostProcessing},
    {"PostProcessingSuccessCode", &DeviceSettings::PostProcessingSuccessCode, DeviceKeys::PostProcessing},
    {"FileFiltersCheckBox", &DeviceSettings::FileFiltersOn, DeviceKeys::Options},
    {"FileFilter", &DeviceSettings::FileFilter, DeviceKeys::Options},
    {"DateSource", &DeviceSettings::DateSource, DeviceKeys::Options},
    {"FolderPath", &DeviceSettings::FolderPath, DeviceKeys::Folder},
    {"CopyOnConnect", &DeviceSettings::CopyOnConnect, DeviceKeys::Options},
    {"SkipImportedBefore", &DeviceSettings::SkipImportedBefore, DeviceKeys::Options},
    {"BackupPath1", &DeviceSettings::BackupPath1, DeviceKeys::Options},
    {"BackupPath2", &DeviceSettings::BackupPath2, DeviceKeys::Options},
};

// The keys of the device list's entries.
QString ItemKey(int index)
{
    return QStringLiteral("Item%1").arg(index);
}

bool InGroups(DeviceKeys group, DeviceKeys keys)
{
    return (unsigned(group) & unsigned(keys)) != 0;
}

}  // namespace

QString DevicesSection()
{
    return QStringLiteral("Devices");
}

DeviceSettings::DeviceSettings() : FileFilter(QString::fromLatin1(kDefaultFileFilter))
{
}

QString CleanDeviceRoot(const QString &root)
{
    const QString trimmed = root.trimmed();
    return trimmed == QLatin1String("\\") ? QString() : trimmed;
}

DeviceSettings ReadDeviceSection(const IniFile &ini, const QString &section)
{
    DeviceSettings values;
    for (const Key &key : kKeys) {
        const QString name = QString::fromLatin1(key.name);
        std::visit(
            [&](auto member) {
                auto &value = values.*member;
                if constexpr (std::is_same_v<std::decay_t<decltype(value)>, QString>) {
                    if (key.form == Form::Command) {
                        value = ini.ReadCommand(section, name, value);
                        return;
                    }
                }
                ini.ReadInto(section, name, value);
            },
            key.field);
    }
    values.DeviceSerialNo = values.DeviceSerialNo.trimmed();
    values.DeviceRoot = CleanDeviceRoot(values.DeviceRoot);
    values.CopyMode = qBound(0, values.CopyMode, 1);
    values.DateSource = qBound(0, values.DateSource, 1);
    return values;
}

void WriteDeviceSection(IniFile &ini, const QString &section, const DeviceSettings &values, DeviceKeys keys)
{
    for (const Key &key : kKeys) {
        if (!InGroups(key.group, keys))
            continue;
        const QString name = QString::fromLatin1(key.name);
        std::visit(
            [&](auto member) {
                const auto &value = values.*member;
                if constexpr (std::is_same_v<std::decay_t<decltype(value)>, QString>) {
                    if (key.form == Form::Command) {
                        ini.WriteCommand(section, name, value);
                        return;
                    }
                }
                ini.WriteFrom(section, name, value);
            },
            key.field);
    }
}

void WriteDeviceList(IniFile &ini, const QStringList &entries, const QString &lastDevice, LogSink &log)
{
    const QString devices = DevicesSection();
    ProgramSettings list;
    list.DeviceCount = int(entries.size());
    list.LastDevice = lastDevice;
    WriteProgramSection(ini, list, ProgramKeys::DeviceList);
    // In one go: the list's lines that are not entries stay as they are.
    QList<std::pair<QString, QString>> items;
    items.reserve(entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        items.append({ItemKey(i), entries.at(i)});
        log.WriteDebug(QStringLiteral("Saved %1 %2").arg(i).arg(entries.at(i)));
    }
    ini.WriteSection(devices, items);
}

QStringList ReadDeviceList(const IniFile &ini)
{
    const int count = ReadProgramSection(ini).DeviceCount;
    QStringList entries;
    for (int i = 0; i < count; ++i) {
        // A blank entry (a count larger than the list, a hand edit) is no device.
        const QString entry = ini.ReadString(DevicesSection(), ItemKey(i), QString());
        if (!entry.trimmed().isEmpty())
            entries << entry;
    }
    return entries;
}
