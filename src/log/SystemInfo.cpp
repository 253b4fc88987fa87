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

qint64 MemInfoBytes(const QMap<QByteArray, QByteArray> &mem, const char *key)
{
    return mem.value(key).split(' ').value(0).toLongLong() * 1024;
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

} // namespace

void LogSystemInfo(LogSink &log, const QString &versionText, const QString &programFolder,
                   const QString &userDataFolder)
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

    const auto cpu = Fields(ReadAll("/proc/cpuinfo"), ':');
    line("LogSystemInfo CPU.Name : ", QString::fromUtf8(cpu.value("model name")).left(48));
    line("LogSystemInfo CPU.CPUType : ", CpuType(cpu.value("vendor_id")));
    line("LogSystemInfo CPU.NormFreq : ", QString::number(qRound(cpu.value("cpu MHz").toDouble())));
    line("LogSystemInfo CPU.ProcessorCount : ", QString::number(sysconf(_SC_NPROCESSORS_ONLN)));
    line("LogSystemInfo CPU.PhysicalCore : ", QString::fromUtf8(cpu.value("cpu cores")));
    line("LogSystemInfo CPU.LogicalCore : ", QString::fromUtf8(cpu.value("siblings")));

    const auto mem = Fields(ReadAll("/proc/meminfo"), ':');
    const auto status = Fields(ReadAll("/proc/self/status"), ':');
    const qint64 commitLimit = MemInfoBytes(mem, "CommitLimit");
    // A 64-bit process on x86-64 has 128 TiB of user address space.
    const qint64 addressSpace = qint64(1) << 47;
    const qint64 used = status.value("VmSize").split(' ').value(0).toLongLong() * 1024;
    line("LogSystemInfo Memory.TotalPhysicalMemory : ", FormatSizeKiB(MemInfoBytes(mem, "MemTotal")));
    line("LogSystemInfo Memory.FreePhysicalMemory : ", FormatSizeKiB(MemInfoBytes(mem, "MemAvailable")));
    line("LogSystemInfo Memory.TotalPageFileMemory : ", FormatSizeKiB(commitLimit));
    line("LogSystemInfo Memory.FreePageFileMemory : ",
         FormatSizeKiB(qMax<qint64>(0, commitLimit - MemInfoBytes(mem, "Committed_AS"))));
    line("LogSystemInfo Memory.TotalVirtualMemory : ", FormatSizeKiB(addressSpace));
    line("LogSystemInfo Memory.FreeVirtualMemory : ", FormatSizeKiB(addressSpace - used));

    struct utsname names {};
    uname(&names);
    const QStringList release = QString::fromLatin1(names.release).split(QRegularExpression(QStringLiteral("[.-]")));
    line("LogSystemInfo OS.ProductName : ", OsProductName());
    line("LogSystemInfo OS.OSVersion : ", QStringLiteral("wvUnknown"));
    line("LogSystemInfo OS.ProductType : ", QStringLiteral("ptUnknown"));
    line("LogSystemInfo OS.VersionBuild : ", QString::number(release.value(2).toInt()));
    line("LogSystemInfo OS.VersionMajor : ", QString::number(release.value(0).toInt()));
    line("LogSystemInfo OS.VersionMinor : ", QString::number(release.value(1).toInt()));
    line("LogSystemInfo OS.ServicePackVersion : ", QStringLiteral("0"));
    line("LogSystemInfo OS.VersionCSDString : ", QString());

    char domain[256] = {};
    QString domainName;
    if (getdomainname(domain, sizeof domain - 1) == 0 && QByteArray(domain) != "(none)")
        domainName = QString::fromLocal8Bit(domain);
    line("LogSystemInfo Identification.DomainName : ", domainName);
    line("LogSystemInfo Identification.LocalComputerName : ", QSysInfo::machineHostName());
    const passwd *user = getpwuid(getuid());
    line("LogSystemInfo Identification.LocalUserName : ", user ? QString::fromLocal8Bit(user->pw_name) : QString());
    const double uptime = ReadAll("/proc/uptime").split(' ').value(0).toDouble();
    const qint64 seconds = qint64(uptime);
    const QTime dayTime = QTime(0, 0).addSecs(int(seconds % 86400));
    line("LogSystemInfo Identification.TimeRunning : ",
         QString::number(seconds / 86400) + QLatin1Char(' ') +
             FormatDateTime(ProcessFormatSettings().LongTimeFormat, QDateTime(QDate(1899, 12, 30), dayTime),
                            ProcessFormatSettings()));
    line("LogSystemInfo Folders.AppData : ", QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    line("LogSystemInfo Folders.ProgramFiles : ", QStringLiteral("/usr/bin"));
    line("LogSystemInfo Folders.Profile : ", QDir::homePath());
}
