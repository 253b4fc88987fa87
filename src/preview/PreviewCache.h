#pragma once

// The previews of this session, newest use last, within a bound on their
// count and on the bytes their pictures take.

#include "preview/PreviewLoader.h"

#include <QHash>
#include <QString>

#include <list>

class PreviewCache
{
public:
    explicit PreviewCache(int maxEntries = 200, qint64 maxBytes = 64ll << 20)
        : maxEntries_(maxEntries), maxBytes_(maxBytes)
    {
    }

    // The preview kept under the key, now the most recently used; null when none.
    const PreviewResult *Find(const QString &key);
    // Keeps it, dropping the least recently used until both bounds hold.
    // A single preview larger than the whole bound is not kept.
    void Insert(const QString &key, const PreviewResult &result);
    void Clear();

    int Count() const { return int(entries_.size()); }
    qint64 Bytes() const { return bytes_; }

private:
    struct Entry
    {
        QString key;
        PreviewResult result;
    };
    void Remove(std::list<Entry>::iterator it);

    int maxEntries_;
    qint64 maxBytes_;
    qint64 bytes_ = 0;
    std::list<Entry> entries_;  // least recently used first
    QHash<QString, std::list<Entry>::iterator> index_;
};
