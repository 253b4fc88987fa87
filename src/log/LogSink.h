#pragma once

#include "LogColor.h"

#include <QString>

#include <atomic>
#include <cstdint>

// Debug mode: purple diagnostic lines and green ">>> " lines are written only
// while this is set.
extern std::atomic<bool> DebugFlag;

// Where the program's log lines go. Implementations accept calls from any
// thread; each call is one indivisible line.
class LogSink
{
public:
    virtual ~LogSink() = default;
    // The local date-time, a blank, then the text.
    virtual void WriteLog(const QString &text, LogColor color, LogStyle style = LogStyle::Normal) = 0;
    // The text alone.
    virtual void WriteLogNoDate(const QString &text, LogColor color, LogStyle style = LogStyle::Normal) = 0;

    // A purple diagnostic line, written only in debug mode.
    void WriteDebug(const QString &text)
    {
        if (DebugFlag.load(std::memory_order_relaxed))
            WriteLog(text, LogColor::Purple);
    }
    // "res <call> = <code>", the debug line after a device call.
    void WriteResult(const QString &call, std::int32_t code)
    {
        if (DebugFlag.load(std::memory_order_relaxed))
            WriteLog(QStringLiteral("res %1 = %2").arg(call).arg(code), LogColor::Purple);
    }
};
