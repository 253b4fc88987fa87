#pragma once

#include "LogColor.h"

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
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
// A phone copy writes hundreds of thousands of lines, most of them saying
// the same few things about names that repeat. The text goes into blocks of
// kBlockChars characters; a full block is compressed and its characters
// freed, and a line of it is unpacked again only when someone reads it
// (a little cache keeps the blocks read last). Per line there remain eight
// bytes: where it ends in its block, the prefix's length, colour and style.
// A thread of the document's own compresses the full blocks, so a writer
// pays no more for a line than to copy it.
//
// Writers take a lock among themselves; readers never wait for a writer. A
// line and its record never change once written, and a line is published
// only after it is complete. The characters of a block being compressed
// stay until no reader can still be looking at them.
class LogDocument
{
public:
    LogDocument();
    ~LogDocument();
    LogDocument(const LogDocument &) = delete;
    LogDocument &operator=(const LogDocument &) = delete;

    // Appends one line and returns its index (-1 when the log is full: a
    // billion lines).
    qsizetype Append(QStringView prefix, QStringView text, LogColor color, LogStyle style);
    qsizetype LineCount() const;
    LogLine Line(qsizetype index) const;
    // The characters of a line's prefix and text, without reading them.
    qsizetype LineLength(qsizetype index) const;
    // The characters of all lines before a line (without line breaks), so
    // that the whole log's text can be addressed without an index of its
    // own; LineCount() gives the total.
    qint64 CharactersBefore(qsizetype index) const;
    // Up to maxCount lines from index on.
    std::vector<LogLine> Lines(qsizetype from, qsizetype maxCount) const;

    // The memory that the text and the records take now, in bytes.
    qint64 MemoryUsed() const;

    static constexpr qsizetype kBlockChars = qsizetype(1) << 17;

private:
    struct Record
    {
        quint32 end;  // where the line ends in its block
        quint16 prefixLength;
        LogColor color;
        LogStyle style;
    };
    static_assert(sizeof(Record) == 8);
    struct Block;

    const Record &RecordAt(qsizetype index) const;
    const Block &BlockOf(qsizetype index) const;
    qsizetype StartInBlock(const Block &block, qsizetype index) const;
    LogLine MakeLine(qsizetype index) const;
    void SealBlock(qsizetype index);
    void PackBlocks();
    void Pack(Block &block);
    void FreeRetired();

    static constexpr int kSegmentBits = 16;
    static constexpr qsizetype kSegmentRecords = qsizetype(1) << kSegmentBits;
    static constexpr qsizetype kMaxSegments = qsizetype(1) << 14;
    static constexpr qsizetype kMaxBlocks = qsizetype(1) << 16;

    // Serialises writers only.
    mutable QMutex writeMutex_;
    std::atomic<qsizetype> count_{0};
    // Fixed-size tables, so that nothing a reader may be looking at is ever
    // moved: segments of records, and the blocks.
    std::unique_ptr<std::atomic<Record *>[]> segments_;
    std::unique_ptr<std::atomic<Block *>[]> blocks_;
    std::atomic<qsizetype> blockCount_{0};
    // The open block's use, writers only.
    qsizetype blockUsed_ = 0;
    qsizetype blockCapacity_ = 0;
    std::atomic<qint64> packedBytes_{0};
    // Full blocks wait here for the packer thread, which starts with the
    // first of them.
    std::mutex packMutex_;
    std::condition_variable packWake_;
    std::vector<qsizetype> toPack_;
    bool closing_ = false;
    // Readers looking at the characters of a block right now, and the
    // characters of packed blocks that wait for none to be (the packer's).
    mutable std::atomic<int> readers_{0};
    std::vector<std::pair<char16_t *, qsizetype>> retired_;
    // The blocks unpacked last, for readers.
    struct Unpacked
    {
        qsizetype firstLine = -1;  // of the block
        QByteArray chars;
    };
    mutable QMutex unpackMutex_;
    mutable Unpacked unpacked_[2];
    mutable int unpackedNext_ = 0;
    std::thread packer_;  // last: it stops before anything above goes
};
