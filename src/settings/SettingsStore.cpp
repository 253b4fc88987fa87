#include "SettingsStore.h"

namespace {

// "3, 7-9, 12", and how many more after the first few runs.
QString LineNumbers(const QList<int> &lines)
{
    constexpr int kMaxRuns = 20;
    QStringList runs;
    int more = 0;
    for (qsizetype i = 0; i < lines.size();) {
        qsizetype j = i;
        while (j + 1 < lines.size() && lines[j + 1] == lines[j] + 1)
            ++j;
        if (runs.size() < kMaxRuns)
            runs << (i == j ? QString::number(lines[i]) : QStringLiteral("%1-%2").arg(lines[i]).arg(lines[j]));
        else
            more += int(j - i + 1);
        i = j + 1;
    }
    return runs.join(QStringLiteral(", ")) + (more ? QStringLiteral(" and %1 more").arg(more) : QString());
}

}  // namespace

SettingsStore::SettingsStore(const QString &path, QObject *parent) : QObject(parent), file_(path)
{
    file_.Preload();
}

void SettingsStore::Reload()
{
    file_.Preload();
}

QString SettingsStore::IgnoredLinesNote() const
{
    const QList<int> ignored = IgnoredLines();
    if (ignored.isEmpty())
        return QString();
    return QStringLiteral("The settings file %1 has lines that cannot be settings (binary data, NUL bytes, "
                          "not UTF-8 or too long); they were ignored and stay in the file as they are: %2 %3.")
        .arg(FileName(), ignored.size() == 1 ? QStringLiteral("line") : QStringLiteral("lines"), LineNumbers(ignored));
}

template <typename Write> void SettingsStore::Change(const QStringList &sections, Write write)
{
    const auto tell = [&] {
        for (const QString &section : sections)
            emit changed(section);
    };
    try {
        write();
    } catch (...) {
        tell();
        throw;
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
