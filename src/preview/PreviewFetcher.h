#pragma once

// Fetches previews on a worker of its own, one device request at a time.
// The newest request wins: one still waiting is replaced, and the one being
// fetched is abandoned at its next device read. Finished previews are kept
// for the session. The device's own work comes first: while the gate says
// no (a copy run or a listing owns the device), nothing is fetched and a
// fetch under way is abandoned.

#include "preview/PreviewCache.h"
#include "preview/PreviewLoader.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class PreviewFetcher : public QObject
{
    Q_OBJECT
public:
    // `mayUseDevice` is asked from the worker before and during each fetch.
    explicit PreviewFetcher(std::function<bool()> mayUseDevice = {}, QObject *parent = nullptr);
    ~PreviewFetcher() override;

    // User-interface thread. A kept preview good for the request's box is
    // handed over at once (true); otherwise the request goes to the worker,
    // unless paused.
    bool Request(const PreviewRequest &request);
    // Abandons what is waiting or under way, and takes no request until resumed.
    void SetPaused(bool paused);
    bool Paused() const { return paused_; }
    // Forgets the request waiting or under way.
    void Cancel();

    PreviewCache &Cache() { return cache_; }
    // Fetches begun by the worker (each costs device reads), for tests and benchmarks.
    int Fetches() const { return fetches_; }

signals:
    // On the user-interface thread: a picture for the request with this key.
    // An interim one is smaller, and a better one follows.
    void Ready(const QString &key, const PreviewResult &result, bool final);

private:
    void Run();
    void Deliver(const QString &key, const PreviewResult &result, bool final);
    static bool GoodFor(const PreviewResult &kept, QSize box);

    std::function<bool()> mayUseDevice_;
    PreviewCache cache_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<PreviewRequest> pending_;
    bool fetching_ = false;
    QString fetchingKey_;
    QSize fetchingBox_;
    quint64 fetchingGeneration_ = 0;
    std::atomic<quint64> generation_{0};
    std::atomic<bool> paused_{false};
    std::atomic<bool> stop_{false};
    std::atomic<int> fetches_{0};
    std::thread worker_;
};
