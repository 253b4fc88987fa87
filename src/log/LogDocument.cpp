#include "LogDocument.h"

#include "base/TextRules.h"

#include <QMutexLocker>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <limits>
#include <new>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
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

// A block's characters are mapped, not taken from the heap: they go back to
// the system the moment the block is compressed, whatever else the heap
// holds around them.
char16_t *MapChars(qsizetype count)
{
    void *p =
        ::mmap(nullptr, size_t(count) * sizeof(char16_t), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    Prefault(p, size_t(count) * sizeof(char16_t));
    return static_cast<char16_t *>(p);
}

// Fast compression: a block is packed in about a millisecond, and log text
// still shrinks tenfold or more.
constexpr int kPackLevel = 1;

}  // namespace

struct LogDocument::Block
{
    qsizetype firstLine = 0;
    qint64 charsBefore = 0;  // of all earlier blocks
    qsizetype capacity = 0;
    qsizetype used = 0;  // set when the block is full
    // The characters while the block is open, and until it is compressed.
    std::atomic<char16_t *> chars{nullptr};
    // Once compressed: the characters, or with latin1 their Latin-1 bytes.
    std::atomic<const QByteArray *> packed{nullptr};
    bool latin1 = false;
};

LogDocument::LogDocument()
    : segments_(new std::atomic<Record *>[kMaxSegments]()), blocks_(new std::atomic<Block *>[kMaxBlocks]())
{
}

LogDocument::~LogDocument()
{
    {
        const std::lock_guard<std::mutex> lock(packMutex_);
        closing_ = true;
    }
    packWake_.notify_one();
    if (packer_.joinable())
        packer_.join();
    for (qsizetype s = 0; s < kMaxSegments; ++s)
        delete[] segments_[size_t(s)].load();
    const qsizetype blocks = blockCount_.load();
    for (qsizetype b = 0; b < blocks; ++b) {
        Block *block = blocks_[size_t(b)].load();
        if (char16_t *chars = block->chars.load())
            ::munmap(chars, size_t(block->capacity) * sizeof(char16_t));
        delete block->packed.load();
        delete block;
    }
    readers_.store(0);
    FreeRetired();
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
    // A prefix is a date and a time; one of more characters than a record
    // counts shows the rest in the line's colour.
    const qsizetype prefixLength = qMin(prefix.size(), qsizetype(std::numeric_limits<quint16>::max()));
    const qsizetype length = prefix.size() + text.size();
    QMutexLocker lock(&writeMutex_);
    const qsizetype index = count_.load(std::memory_order_relaxed);
    // A billion lines would take far more memory than any machine has for
    // a log; the limit is there so that the tables stay fixed.
    if (index >= kSegmentRecords * kMaxSegments || length > std::numeric_limits<quint32>::max())
        return -1;
    qsizetype blocks = blockCount_.load(std::memory_order_relaxed);
    if (blocks == 0 || blockUsed_ + length > blockCapacity_) {
        if (blocks >= kMaxBlocks)
            return -1;
        qint64 charsBefore = 0;
        if (blocks > 0) {
            const Block *last = blocks_[size_t(blocks - 1)].load(std::memory_order_relaxed);
            charsBefore = last->charsBefore + blockUsed_;
            SealBlock(blocks - 1);
        }
        auto *block = new Block;
        block->firstLine = index;
        block->charsBefore = charsBefore;
        block->capacity = qMax(kBlockChars, qMax(length, qsizetype(1)));
        block->chars.store(MapChars(block->capacity), std::memory_order_relaxed);
        blocks_[size_t(blocks)].store(block, std::memory_order_relaxed);
        blockCount_.store(++blocks, std::memory_order_release);
        blockCapacity_ = block->capacity;
        blockUsed_ = 0;
    }
    Block *block = blocks_[size_t(blocks - 1)].load(std::memory_order_relaxed);
    char16_t *chars = block->chars.load(std::memory_order_relaxed) + blockUsed_;
    std::copy_n(prefix.utf16(), prefix.size(), chars);
    std::copy_n(text.utf16(), text.size(), chars + prefix.size());
    blockUsed_ += length;

    std::atomic<Record *> &slot = segments_[size_t(index >> kSegmentBits)];
    Record *segment = slot.load(std::memory_order_relaxed);
    if (!segment) {
        segment = new Record[kSegmentRecords];
        Prefault(segment, sizeof(Record) * size_t(kSegmentRecords));
        slot.store(segment, std::memory_order_release);
    }
    segment[index & (kSegmentRecords - 1)] = Record{quint32(blockUsed_), quint16(prefixLength), color, style};
    // Publishes the line: a reader that sees the new count sees it whole.
    count_.store(index + 1, std::memory_order_release);
    return index;
}

void LogDocument::SealBlock(qsizetype index)
{
    // The block is full: its packer compresses it, off the writers' way.
    blocks_[size_t(index)].load(std::memory_order_relaxed)->used = blockUsed_;
    {
        const std::lock_guard<std::mutex> lock(packMutex_);
        toPack_.push_back(index);
        if (!packer_.joinable())
            packer_ = std::thread([this] { PackBlocks(); });
    }
    packWake_.notify_one();
}

void LogDocument::PackBlocks()
{
    // Housekeeping: the threads that write and show lines go first on a
    // busy machine, and the packer catches up when they wait.
    ::setpriority(PRIO_PROCESS, pid_t(::syscall(SYS_gettid)), 10);
    std::vector<qsizetype> batch;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(packMutex_);
            // Characters that a reader held at the last try are let go
            // with the next block, or after a second; with none waiting the
            // thread sleeps until a block is full.
            const auto work = [this] { return closing_ || !toPack_.empty(); };
            if (retired_.empty())
                packWake_.wait(lock, work);
            else
                packWake_.wait_for(lock, std::chrono::seconds(1), work);
            if (closing_)
                return;
            batch.swap(toPack_);
        }
        for (const qsizetype index : batch)
            Pack(*blocks_[size_t(index)].load(std::memory_order_acquire));
        batch.clear();
        FreeRetired();
    }
}

void LogDocument::Pack(Block &block)
{
    char16_t *chars = block.chars.load(std::memory_order_acquire);
    // Most log text is Latin-1: packed as one byte a character, it takes
    // half the time to compress.
    const QStringView text(chars, block.used);
    const bool latin1 = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x100; });
    QByteArray packed = latin1 ? qCompress(text.toLatin1(), kPackLevel)
                               : qCompress(reinterpret_cast<const uchar *>(chars),
                                           block.used * qsizetype(sizeof(char16_t)), kPackLevel);
    // The compressor makes room for the worst case; a block keeps what it needs.
    packed.squeeze();
    packedBytes_.fetch_add(packed.capacity(), std::memory_order_relaxed);
    block.latin1 = latin1;
    block.packed.store(new QByteArray(std::move(packed)), std::memory_order_release);
    // From here on a reader that comes finds the packed text; one that came
    // before may still read the characters, so they go once none is left.
    block.chars.store(nullptr, std::memory_order_seq_cst);
    retired_.push_back({chars, block.capacity});
}

void LogDocument::FreeRetired()
{
    if (retired_.empty() || readers_.load(std::memory_order_seq_cst) != 0)
        return;
    for (const auto &[chars, capacity] : retired_)
        ::munmap(chars, size_t(capacity) * sizeof(char16_t));
    retired_.clear();
}

qsizetype LogDocument::LineCount() const
{
    return count_.load(std::memory_order_acquire);
}

const LogDocument::Record &LogDocument::RecordAt(qsizetype index) const
{
    return segments_[size_t(index >> kSegmentBits)].load(std::memory_order_acquire)[index & (kSegmentRecords - 1)];
}

const LogDocument::Block &LogDocument::BlockOf(qsizetype index) const
{
    // The last block that starts at or before the line.
    qsizetype low = 0;
    qsizetype high = blockCount_.load(std::memory_order_acquire) - 1;
    while (low < high) {
        const qsizetype mid = (low + high + 1) / 2;
        if (blocks_[size_t(mid)].load(std::memory_order_acquire)->firstLine <= index)
            low = mid;
        else
            high = mid - 1;
    }
    return *blocks_[size_t(low)].load(std::memory_order_acquire);
}

qsizetype LogDocument::StartInBlock(const Block &block, qsizetype index) const
{
    return index == block.firstLine ? 0 : qsizetype(RecordAt(index - 1).end);
}

LogLine LogDocument::MakeLine(qsizetype index) const
{
    const Record &record = RecordAt(index);
    const Block &block = BlockOf(index);
    const qsizetype start = StartInBlock(block, index);
    const qsizetype length = qsizetype(record.end) - start;
    const qsizetype prefixLength = qMin(qsizetype(record.prefixLength), length);
    LogLine line;
    line.color = record.color;
    line.style = record.style;
    const auto take = [&](const char16_t *chars) {
        line.prefix = QString(reinterpret_cast<const QChar *>(chars + start), prefixLength);
        line.text = QString(reinterpret_cast<const QChar *>(chars + start + prefixLength), length - prefixLength);
    };

    readers_.fetch_add(1, std::memory_order_seq_cst);
    if (const char16_t *chars = block.chars.load(std::memory_order_seq_cst)) {
        take(chars);
        readers_.fetch_sub(1, std::memory_order_release);
        return line;
    }
    readers_.fetch_sub(1, std::memory_order_release);

    const QByteArray *packed = block.packed.load(std::memory_order_acquire);
    const QMutexLocker lock(&unpackMutex_);
    for (const Unpacked &u : unpacked_) {
        if (u.firstLine == block.firstLine) {
            take(reinterpret_cast<const char16_t *>(u.chars.constData()));
            return line;
        }
    }
    Unpacked &u = unpacked_[size_t(unpackedNext_)];
    unpackedNext_ = (unpackedNext_ + 1) % int(std::size(unpacked_));
    u.firstLine = block.firstLine;
    u.chars = qUncompress(*packed);
    if (block.latin1) {
        const QString wide = QString::fromLatin1(u.chars);
        u.chars = QByteArray(reinterpret_cast<const char *>(wide.utf16()), wide.size() * qsizetype(sizeof(char16_t)));
    }
    if (u.chars.size() < record.end * qsizetype(sizeof(char16_t))) {
        // Only when memory ran out: the line shows empty rather than wrong.
        u.firstLine = -1;
        u.chars.clear();
        line.prefix.clear();
        line.text.clear();
        return line;
    }
    take(reinterpret_cast<const char16_t *>(u.chars.constData()));
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
    return qsizetype(RecordAt(index).end) - StartInBlock(BlockOf(index), index);
}

qint64 LogDocument::CharactersBefore(qsizetype index) const
{
    const qsizetype count = LineCount();
    if (index <= 0 || count == 0)
        return 0;
    if (index >= count) {
        const Block &block = BlockOf(count - 1);
        return block.charsBefore + RecordAt(count - 1).end;
    }
    const Block &block = BlockOf(index);
    return block.charsBefore + StartInBlock(block, index);
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

qint64 LogDocument::MemoryUsed() const
{
    const QMutexLocker lock(&writeMutex_);
    qint64 bytes = packedBytes_.load();
    const qsizetype blocks = blockCount_.load();
    for (qsizetype b = 0; b < blocks; ++b) {
        const Block *block = blocks_[size_t(b)].load();
        bytes += qint64(sizeof(Block));
        if (block->chars.load())
            bytes += block->capacity * qint64(sizeof(char16_t));
    }
    for (qsizetype s = 0; s < kMaxSegments && segments_[size_t(s)].load(); ++s)
        bytes += kSegmentRecords * qint64(sizeof(Record));
    return bytes;
}
