#pragma once

#include <QByteArray>
#include <QString>

class LogSink;

// What the block is read from: the kernel's files and its release text.
struct SystemSources
{
    QByteArray cpuInfo;     // /proc/cpuinfo
    QByteArray memInfo;     // /proc/meminfo
    QByteArray status;      // /proc/self/status
    QByteArray uptime;      // /proc/uptime
    QString kernelRelease;  // uname's release, e.g. "6.1.0-18-amd64"

    static SystemSources OfThisMachine();
};

// Writes the block that describes this machine: program, folders, processor,
// memory, system, names, uptime. Written at exit after an exception was
// reported, so the saved log tells where it happened.
// The program's own facts come from the caller. A value the machine does
// not give (no clock rate, no service pack) is an empty text.
void LogSystemInfo(LogSink &log, const QString &versionText, const QString &programFolder,
                   const QString &userDataFolder, const SystemSources &sources = SystemSources::OfThisMachine());
