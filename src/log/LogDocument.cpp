#include "LogDocument.h"

#include "base/TextRules.h"

#include <QMutexLocker>

#include <algorithm>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// Makes the pages of a new block present in one call. A copy run writes
// thousands of lines a second, and the first touch of every fresh page would
// otherwise cost a fault of its own. Where the system cannot, the pages come
// one by one as before.
void Prefault(void *block, size_t bytes)
{
#ifdef MADV_POPULATE_WRITE
    static const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    const auto start = (reinterpret_cast<uintptr_t>(block) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(page - 1);
    if (end > start)
        ::madvise(reinterpret_cast<void *>(start), end - start, MADV_POPULATE_WRITE);
#else
    Q_UNUSED(block);
    Q_UNUSED(bytes);
#endif
}

}  // namespace

LogDocument::LogDocument() : segments_(new Record *[kMaxSegments]())
{
}

LogDocument::~LogDocument()
{
    for (qsizetype s = 0; s < kMaxSegments; ++s)
        delete[] segments_[size_t(s)];
}

qsizetype LogDocument::Append(QStringView prefix, QStringView text, LogColor color, LogStyle style)
{
    // Names, paths and command output come from outside: a newline or an
    // escape sequence in them must not start a line of their own making.
    QString escaped;
    if (needsEscaping(text)) {
        escaped = readableText(text);
        text = escaped;
    }
    const qsizetype length = prefix.size() + text.size();
    QMutexLocker lock(&writeMutex_);
    const qsizetype index = count_.load(std::memory_order_relaxed);
    // Four billion lines would take far more memory than any machine has
    // for a log; the limit is there so that the tables stay fixed.
    if (index >= kSegmentRecords * kMaxSegments)
        return -1;
    if (chunks_.empty() || chunkUsed_ + length > chunkCapacity_) {
        chunkCapacity_ = qMax(kChunkChars, length);
        chunks_.emplace_back(new char16_t[size_t(chunkCapacity_)]);
        Prefault(chunks_.back().get(), size_t(chunkCapacity_) * sizeof(char16_t));
        chunkUsed_ = 0;
    }
    char16_t *chars = chunks_.back().get() + chunkUsed_;
    std::copy_n(prefix.utf16(), prefix.size(), chars);
    std::copy_n(text.utf16(), text.size(), chars + prefix.size());
    chunkUsed_ += length;

    Record *&segment = segments_[size_t(index >> kSegmentBits)];
    if (!segment) {
        segment = new Record[kSegmentRecords];
        Prefault(segment, sizeof(Record) * size_t(kSegmentRecords));
    }
    segment[index & (kSegmentRecords - 1)] = Record{chars, quint32(prefix.size()), quint32(text.size()), color, style};
    // Publishes the line: a reader that sees the new count sees it whole.
    count_.store(index + 1, std::memory_order_release);
    return index;
}

qsizetype LogDocument::LineCount() const
{
    return count_.load(std::memory_order_acquire);
}

LogLine LogDocument::MakeLine(qsizetype index) const
{
    const Record &record = segments_[size_t(index >> kSegmentBits)][index & (kSegmentRecords - 1)];
    LogLine line;
    line.prefix = QString(reinterpret_cast<const QChar *>(record.chars), record.prefixLength);
    line.text = QString(reinterpret_cast<const QChar *>(record.chars + record.prefixLength), record.textLength);
    line.color = record.color;
    line.style = record.style;
    return line;
}

LogLine LogDocument::Line(qsizetype index) const
{
    if (index < 0 || index >= LineCount())
        return {};
    return MakeLine(index);
}

qsizetype LogDocument::LineLength(qsizetype index) const
{
    if (index < 0 || index >= LineCount())
        return 0;
    const Record &record = segments_[size_t(index >> kSegmentBits)][index & (kSegmentRecords - 1)];
    return qsizetype(record.prefixLength) + qsizetype(record.textLength);
}

std::vector<LogLine> LogDocument::Lines(qsizetype from, qsizetype maxCount) const
{
    std::vector<LogLine> lines;
    const qsizetype end = qMin(LineCount(), from + maxCount);
    if (from < 0 || from >= end)
        return lines;
    lines.reserve(size_t(end - from));
    for (qsizetype i = from; i < end; ++i)
        lines.push_back(MakeLine(i));
    return lines;
}
