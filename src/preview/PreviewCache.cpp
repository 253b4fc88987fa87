#include "PreviewCache.h"

const PreviewResult *PreviewCache::Find(const QString &key)
{
    const auto found = index_.constFind(key);
    if (found == index_.constEnd())
        return nullptr;
    entries_.splice(entries_.end(), entries_, *found);
    return &entries_.back().result;
}

void PreviewCache::Insert(const QString &key, const PreviewResult &result)
{
    if (const auto found = index_.constFind(key); found != index_.constEnd())
        Remove(*found);
    if (result.Cost() > maxBytes_ || maxEntries_ <= 0)
        return;
    entries_.push_back({key, result});
    index_.insert(key, std::prev(entries_.end()));
    bytes_ += result.Cost();
    while (int(entries_.size()) > maxEntries_ || bytes_ > maxBytes_)
        Remove(entries_.begin());
}

void PreviewCache::Clear()
{
    entries_.clear();
    index_.clear();
    bytes_ = 0;
}

void PreviewCache::Remove(std::list<Entry>::iterator it)
{
    bytes_ -= it->result.Cost();
    index_.remove(it->key);
    entries_.erase(it);
}
