#include "ProgramSettings.h"

#include "settings/IniFile.h"

#include <variant>

namespace {

using Field = std::variant<QString ProgramSettings::*, int ProgramSettings::*, bool ProgramSettings::*>;

struct Key
{
    const char *name;
    Field field;
    ProgramKeys group;
};

// In the order each group's keys are written.
const Key kKeys[] = {
    {"Width", &ProgramSettings::Width, ProgramKeys::Window},
    {"Height", &ProgramSettings::Height, ProgramKeys::Window},
    {"Left", &ProgramSettings::Left, ProgramKeys::Window},
    {"Top", &ProgramSettings::Top, ProgramKeys::Window},
    {"WindowState", &ProgramSettings::WindowState, ProgramKeys::Window},
    {"DeviceCount", &ProgramSettings::DeviceCount, ProgramKeys::DeviceList},
    {"LastDevice", &ProgramSettings::LastDevice, ProgramKeys::DeviceList},
    {"MaxLogDays", &ProgramSettings::MaxLogDays, ProgramKeys::Options},
    {"Debug", &ProgramSettings::Debug, ProgramKeys::Options},
    {"StyleName", &ProgramSettings::StyleName, ProgramKeys::Style},
};

}  // namespace

QString ProgramSection()
{
    return QStringLiteral("Ferrovane");
}

ProgramSettings ReadProgramSection(const IniFile &ini, const ProgramSettings &defaults)
{
    const QString section = ProgramSection();
    ProgramSettings values = defaults;
    for (const Key &key : kKeys) {
        const QString name = QString::fromLatin1(key.name);
        std::visit([&](auto member) { ini.ReadInto(section, name, values.*member); }, key.field);
    }
    values.DeviceCount = qMin(values.DeviceCount, ProgramSettings::kMaxDevices);
    return values;
}

void WriteProgramSection(IniFile &ini, const ProgramSettings &values, ProgramKeys keys)
{
    const QString section = ProgramSection();
    for (const Key &key : kKeys) {
        if (key.group != keys)
            continue;
        const QString name = QString::fromLatin1(key.name);
        std::visit([&](auto member) { ini.WriteFrom(section, name, values.*member); }, key.field);
    }
}
