#include "LogDocument.h"

#include <QMutexLocker>

LogDocument::LogDocument() = default;

qsizetype LogDocument::Append(QStringView prefix, QStringView text, LogColor color, LogStyle style)
{
    const qsizetype length = prefix.size() + text.size();
    QMutexLocker lock(&mutex_);
    if (chunks_.empty() || chunks_.back().size() + length > chunks_.back().capacity()) {
        QString chunk;
        chunk.reserve(qMax(kChunkChars, length));
        chunks_.push_back(std::move(chunk));
    }
    QString &chunk = chunks_.back();
    Record record{quint32(chunks_.size() - 1), quint32(chunk.size()), quint32(prefix.size()),
                  quint32(text.size()), color, style};
    chunk.append(prefix);
    chunk.append(text);
    records_.push_back(record);
    return qsizetype(records_.size()) - 1;
}

qsizetype LogDocument::LineCount() const
{
    QMutexLocker lock(&mutex_);
    return qsizetype(records_.size());
}

LogLine LogDocument::MakeLine(const Record &record) const
{
    const QString &chunk = chunks_[record.chunk];
    LogLine line;
    line.prefix = chunk.mid(record.offset, record.prefixLength);
    line.text = chunk.mid(record.offset + record.prefixLength, record.textLength);
    line.color = record.color;
    line.style = record.style;
    return line;
}

LogLine LogDocument::Line(qsizetype index) const
{
    QMutexLocker lock(&mutex_);
    if (index < 0 || index >= qsizetype(records_.size()))
        return {};
    return MakeLine(records_[size_t(index)]);
}

std::vector<LogLine> LogDocument::Lines(qsizetype from, qsizetype maxCount) const
{
    QMutexLocker lock(&mutex_);
    std::vector<LogLine> lines;
    const qsizetype end = qMin(qsizetype(records_.size()), from + maxCount);
    if (from < 0 || from >= end)
        return lines;
    lines.reserve(size_t(end - from));
    for (qsizetype i = from; i < end; ++i)
        lines.push_back(MakeLine(records_[size_t(i)]));
    return lines;
}

