#pragma once

#include "LogColor.h"

#include <QMutex>
#include <QString>

#include <atomic>
#include <memory>
#include <vector>

// One line of the log: the black date-time prefix (empty for lines written
// without a date) followed by the text in its colour and style. The text
// holds no control characters: they are stored escaped ("\n", "\x1B"), as
// are the bytes of names that are not UTF-8 ("\xFF"), so every entry is one
// line in the view, its accessible text and the saved file.
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
// into large blocks instead of two heap strings per line. Readers take no
// lock: a line's text and record never move once written, and a line is
// published only after it is complete. So the window reading lines never
// waits for a writer that the system has put to sleep while it held a lock.
class LogDocument
{
public:
    LogDocument();
    ~LogDocument();
    LogDocument(const LogDocument &) = delete;
    LogDocument &operator=(const LogDocument &) = delete;

    // Appends one line and returns its index.
    qsizetype Append(QStringView prefix, QStringView text, LogColor color, LogStyle style);
    qsizetype LineCount() const;
    LogLine Line(qsizetype index) const;
    // The characters of a line's prefix and text, without copying them.
    qsizetype LineLength(qsizetype index) const;
    // Up to maxCount lines from index on.
    std::vector<LogLine> Lines(qsizetype from, qsizetype maxCount) const;

private:
    struct Record
    {
        const char16_t *chars;
        quint32 prefixLength;
        quint32 textLength;
        LogColor color;
        LogStyle style;
    };

    LogLine MakeLine(qsizetype index) const;

    static constexpr qsizetype kChunkChars = 1 << 20;
    static constexpr int kSegmentBits = 16;
    static constexpr qsizetype kSegmentRecords = qsizetype(1) << kSegmentBits;
    static constexpr qsizetype kMaxSegments = qsizetype(1) << 16;

    // Serialises writers only.
    QMutex writeMutex_;
    std::atomic<qsizetype> count_{0};
    // Fixed-size tables, so that nothing a reader may be looking at is ever
    // moved: segments of records, and the text blocks they point into.
    std::unique_ptr<Record *[]> segments_;
    std::vector<std::unique_ptr<char16_t[]>> chunks_;
    qsizetype chunkUsed_ = 0;
    qsizetype chunkCapacity_ = 0;
};
