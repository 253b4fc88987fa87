#pragma once

// Reading back what a test's activity log holds.

#include "log/ActivityLog.h"

#include <QStringList>

// The texts of the log's lines from line `from` on, without their prefixes.
inline QStringList LogTexts(const ActivityLog &log, qsizetype from = 0)
{
    QStringList texts;
    const LogDocument &doc = log.Document();
    for (const LogLine &line : doc.Lines(from, doc.LineCount()))
        texts << line.text;
    return texts;
}

// Each line as "colour[ bold]: text", the prefix left out.
inline QStringList ColouredLogLines(const ActivityLog &log)
{
    static const char *const names[] = {"black", "blue", "red", "green", "purple", "maroon"};
    QStringList out;
    for (const LogLine &line : log.Document().Lines(0, log.Document().LineCount()))
        out << QStringLiteral("%1%2: %3")
                   .arg(QLatin1String(names[int(line.color)]),
                        line.style == LogStyle::Bold ? QStringLiteral(" bold") : QString(), line.text);
    return out;
}
