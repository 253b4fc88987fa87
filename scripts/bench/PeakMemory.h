#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <ctime>

// The process's peak resident memory in KiB (VmHWM), or -1.
inline long PeakMemoryKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// CPU seconds this process has used, all threads: beside the wall clock it
// shows how much of a slow run was waiting for a busy machine.
inline double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The load averages over 1, 5 and 15 minutes, as uptime shows them.
inline QString LoadText()
{
    QFile load(QStringLiteral("/proc/loadavg"));
    if (!load.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    const QList<QByteArray> fields = load.readAll().split(' ');
    return QStringLiteral("load average: %1, %2, %3")
        .arg(QString::fromLatin1(fields.value(0)), QString::fromLatin1(fields.value(1)),
             QString::fromLatin1(fields.value(2)));
}

// The 1-minute load average, or -1.
inline double LoadAverage()
{
    QFile load(QStringLiteral("/proc/loadavg"));
    if (!load.open(QIODevice::ReadOnly))
        return -1;
    return load.readAll().split(' ').value(0).toDouble();
}
