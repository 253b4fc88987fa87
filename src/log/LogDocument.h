#pragma once

#include "LogColor.h"

#include <QMutex>
#include <QString>

#include <vector>

// One line of the log: the black date-time prefix (empty for lines written
// without a date) followed by the text in its colour and style.
struct LogLine
{
    QString prefix;
    QString text;
    LogColor color = LogColor::Black;
    LogStyle style = LogStyle::Normal;
};

// The whole log of this program run. It only grows. Safe to use from any
// thread; every append is one indivisible line.
//
// A phone copy writes hundreds of thousands of lines, so the text is packed
// into large shared blocks instead of two heap strings per line.
class LogDocument
{
public:
    LogDocument();

    // Appends one line and returns its index.
    qsizetype Append(QStringView prefix, QStringView text, LogColor color, LogStyle style);
    qsizetype LineCount() const;
    LogLine Line(qsizetype index) const;
    // Up to maxCount lines from index on.
    std::vector<LogLine> Lines(qsizetype from, qsizetype maxCount) const;

private:
    struct Record
    {
        quint32 chunk;
        quint32 offset;
        quint32 prefixLength;
        quint32 textLength;
        LogColor color;
        LogStyle style;
    };

    LogLine MakeLine(const Record &record) const;

    static constexpr qsizetype kChunkChars = 1 << 20;
    mutable QMutex mutex_;
    std::vector<QString> chunks_;
    std::vector<Record> records_;
};
