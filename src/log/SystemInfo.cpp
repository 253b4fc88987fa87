#include "SystemInfo.h"

#include "base/DateFormat.h"
#include "base/NumberFormat.h"
#include "log/LogSink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

QByteArray ReadAll(const char *path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// "key : value" lines of /proc/cpuinfo (first processor) or /proc/meminfo.
QMap<QByteArray, QByteArray> Fields(const QByteArray &text, char separator)
{
    QMap<QByteArray, QByteArray> fields;
    for (const QByteArray &line : text.split('\n')) {
        if (line.trimmed().isEmpty() && !fields.isEmpty() && separator == ':')
            break;  // first processor only
        const qsizetype at = line.indexOf(separator);
        if (at > 0 && !fields.contains(line.left(at).trimmed()))
            fields.insert(line.left(at).trimmed(), line.mid(at + 1).trimmed());
    }
    return fields;
}

// A "1234 kB" field in bytes; -1 when the field is missing.
qint64 MemInfoBytes(const QMap<QByteArray, QByteArray> &mem, const char *key)
{
    bool ok = false;
    const qint64 kib = mem.value(key).split(' ').value(0).toLongLong(&ok);
    return ok && kib >= 0 ? kib * 1024 : -1;
}

QString SizeText(qint64 bytes)
{
    return bytes < 0 ? QString() : FormatSizeKiB(bytes);
}

// A whole number as decimal text; empty when there is none.
QString Decimal(const QString &text)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    return ok ? QString::number(value) : QString();
}

QString CpuType(const QByteArray &vendor)
{
    if (vendor == "GenuineIntel")
        return QStringLiteral("cpuIntel");
    if (vendor == "AuthenticAMD")
        return QStringLiteral("cpuAMD");
    if (vendor == "CyrixInstead")
        return QStringLiteral("cpuCyrix");
    if (vendor == "GenuineTMx86" || vendor == "TransmetaCPU")
        return QStringLiteral("cpuCrusoe");
    return QStringLiteral("cpuUnknown");
}

QString OsProductName()
{
    for (const QByteArray &line : ReadAll("/etc/os-release").split('\n'))
        if (line.startsWith("PRETTY_NAME="))
            return QString::fromUtf8(line.mid(12)).remove(QLatin1Char('"'));
    return QSysInfo::prettyProductName();
}

}  // namespace

SystemSources SystemSources::OfThisMachine()
{
    struct utsname names
    {
    };
    uname(&names);
    return {ReadAll("/proc/cpuinfo"), ReadAll("/proc/meminfo"), ReadAll("/proc/self/status"), ReadAll("/proc/uptime"),
            QString::fromLatin1(names.release)};
}

void LogSystemInfo(LogSink &log, const QString &versionText, const QString &programFolder,
                   const QString &userDataFolder, const SystemSources &sources)
{
    auto line = [&log](const char *label, const QString &value) {
        log.WriteLogNoDate(QString::fromLatin1(label) + value, LogColor::Black);
    };
    log.WriteLogNoDate(QString(70, QLatin1Char('=')), LogColor::Black);
    log.WriteLogNoDate(QStringLiteral("System Info:"), LogColor::Blue, LogStyle::Bold);
    line("LogSystemInfo App.ExeName : ", QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    line("LogSystemInfo App.Version : ", versionText);
    line("Current Path : ", programFolder);
    line("User Data Path : ", userDataFolder);
    line("WorkingPath : ", QDir::currentPath());

    const auto cpu = Fields(sources.cpuInfo, ':');
    bool haveMHz = false;
    const double mhz = cpu.value("cpu MHz").toDouble(&haveMHz);
    line("LogSystemInfo CPU.Name : ", QString::fromUtf8(cpu.value("model name")).left(48));
    line("LogSystemInfo CPU.CPUType : ", CpuType(cpu.value("vendor_id")));
    line("LogSystemInfo CPU.NormFreq : ", haveMHz ? QString::number(qRound(mhz)) : QString());
    line("LogSystemInfo CPU.ProcessorCount : ", QString::number(sysconf(_SC_NPROCESSORS_ONLN)));
    line("LogSystemInfo CPU.PhysicalCore : ", QString::fromUtf8(cpu.value("cpu cores")));
    line("LogSystemInfo CPU.LogicalCore : ", QString::fromUtf8(cpu.value("siblings")));

    const auto mem = Fields(sources.memInfo, ':');
    const auto status = Fields(sources.status, ':');
    const qint64 commitLimit = MemInfoBytes(mem, "CommitLimit");
    const qint64 committed = MemInfoBytes(mem, "Committed_AS");
    // A 64-bit process on x86-64 has 128 TiB of user address space.
    const qint64 addressSpace = qint64(1) << 47;
    const qint64 used = MemInfoBytes(status, "VmSize");
    line("LogSystemInfo Memory.TotalPhysicalMemory : ", SizeText(MemInfoBytes(mem, "MemTotal")));
    line("LogSystemInfo Memory.FreePhysicalMemory : ", SizeText(MemInfoBytes(mem, "MemAvailable")));
    line("LogSystemInfo Memory.TotalPageFileMemory : ", SizeText(commitLimit));
    line("LogSystemInfo Memory.FreePageFileMemory : ",
         SizeText(commitLimit < 0 || committed < 0 ? -1 : qMax<qint64>(0, commitLimit - committed)));
    line("LogSystemInfo Memory.TotalVirtualMemory : ", FormatSizeKiB(addressSpace));
    line("LogSystemInfo Memory.FreeVirtualMemory : ", SizeText(used < 0 ? -1 : addressSpace - used));

    const QStringList release = sources.kernelRelease.split(QRegularExpression(QStringLiteral("[.-]")));
    line("LogSystemInfo OS.ProductName : ", OsProductName());
    line("LogSystemInfo OS.OSVersion : ", QStringLiteral("wvUnknown"));
    line("LogSystemInfo OS.ProductType : ", QStringLiteral("ptUnknown"));
    line("LogSystemInfo OS.VersionBuild : ", Decimal(release.value(2)));
    line("LogSystemInfo OS.VersionMajor : ", Decimal(release.value(0)));
    line("LogSystemInfo OS.VersionMinor : ", Decimal(release.value(1)));
    // Linux has no service packs.
    line("LogSystemInfo OS.ServicePackVersion : ", QString());
    line("LogSystemInfo OS.VersionCSDString : ", QString());

    char domain[256] = {};
    QString domainName;
    if (getdomainname(domain, sizeof domain - 1) == 0 && QByteArray(domain) != "(none)")
        domainName = QString::fromLocal8Bit(domain);
    line("LogSystemInfo Identification.DomainName : ", domainName);
    line("LogSystemInfo Identification.LocalComputerName : ", QSysInfo::machineHostName());
    const passwd *user = getpwuid(getuid());
    line("LogSystemInfo Identification.LocalUserName : ", user ? QString::fromLocal8Bit(user->pw_name) : QString());
    bool haveUptime = false;
    const double uptime = sources.uptime.split(' ').value(0).toDouble(&haveUptime);
    const qint64 seconds = qint64(uptime);
    const QTime dayTime = QTime(0, 0).addSecs(int(seconds % 86400));
    line("LogSystemInfo Identification.TimeRunning : ",
         !haveUptime ? QString()
                     : QString::number(seconds / 86400) + QLatin1Char(' ') +
                           FormatDateTime(ProcessFormatSettings().LongTimeFormat,
                                          QDateTime(QDate(1899, 12, 30), dayTime), ProcessFormatSettings()));
    line("LogSystemInfo Folders.AppData : ", QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    line("LogSystemInfo Folders.ProgramFiles : ", QStringLiteral("/usr/bin"));
    line("LogSystemInfo Folders.Profile : ", QDir::homePath());
}
