#pragma once

#include <QString>

class LogSink;

// Writes the block that describes this machine: program, folders, processor,
// memory, system, names, uptime. Written at exit after an exception was
// reported, so the saved log tells where it happened.
// The program's own facts come from the caller.
void LogSystemInfo(LogSink &log, const QString &versionText, const QString &programFolder,
                   const QString &userDataFolder);
