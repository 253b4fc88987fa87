#include "PreviewFetcher.h"

#include <QMetaObject>
#include <QPointer>

#include <sys/resource.h>
#include <unistd.h>

PreviewFetcher::PreviewFetcher(std::function<bool()> mayUseDevice, QObject *parent)
    : QObject(parent), mayUseDevice_(std::move(mayUseDevice))
{
    qRegisterMetaType<PreviewResult>();
    worker_ = std::thread([this] { Run(); });
}

PreviewFetcher::~PreviewFetcher()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        ++generation_;
    }
    wake_.notify_all();
    worker_.join();
}

bool PreviewFetcher::GoodFor(const PreviewResult &kept, QSize box)
{
    // A picture made for a smaller room is fetched again, unless it was not
    // scaled down to fit that room (it is all there is).
    return kept.image.isNull() || (kept.box.width() >= box.width() && kept.box.height() >= box.height()) ||
           (kept.image.width() < kept.box.width() && kept.image.height() < kept.box.height());
}

bool PreviewFetcher::Request(const PreviewRequest &request)
{
    const QString key = request.Key();
    if (const PreviewResult *kept = cache_.Find(key)) {
        const PreviewResult copy = *kept;
        if (GoodFor(copy, request.box)) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                pending_.reset();
                ++generation_;
            }
            emit Ready(key, copy, true);
            return true;
        }
        emit Ready(key, copy, false);
    }
    if (paused_)
        return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The picture under way is the one wanted again: let it come.
        if (fetching_ && fetchingGeneration_ == generation_ && fetchingKey_ == key && fetchingBox_ == request.box) {
            pending_.reset();
            return false;
        }
        pending_ = request;
        ++generation_;
    }
    wake_.notify_all();
    return false;
}

void PreviewFetcher::SetPaused(bool paused)
{
    paused_ = paused;
    if (paused)
        Cancel();
}

void PreviewFetcher::Cancel()
{
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.reset();
    ++generation_;
}

void PreviewFetcher::Run()
{
    // Decoding takes the processor the window and a copy run would
    // otherwise have: this thread gives way to both.
    setpriority(PRIO_PROCESS, id_t(gettid()), 10);
    for (;;) {
        PreviewRequest request;
        quint64 generation = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || (pending_ && !paused_); });
            if (stop_)
                return;
            request = std::move(*pending_);
            pending_.reset();
            generation = generation_;
            fetching_ = true;
            fetchingKey_ = request.Key();
            fetchingBox_ = request.box;
            fetchingGeneration_ = generation;
        }
        auto abandoned = [&] {
            return stop_ || paused_ || generation_ != generation || (mayUseDevice_ && !mayUseDevice_());
        };
        auto done = [this] {
            std::lock_guard<std::mutex> lock(mutex_);
            fetching_ = false;
        };
        if (abandoned()) {
            done();
            continue;
        }
        ++fetches_;
        const QString key = request.Key();
        PreviewResult result = LoadPreview(request, abandoned, [&](const PreviewResult &interim) {
            if (!abandoned())
                Deliver(key, interim, false);
        });
        // Drop the device's objects here, not on the user-interface thread.
        request.content.reset();
        result.box = request.box;
        if (!result.cancelled && !abandoned())
            Deliver(key, result, true);
        done();
    }
}

void PreviewFetcher::Deliver(const QString &key, const PreviewResult &result, bool final)
{
    QPointer<PreviewFetcher> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, key, result, final] {
            if (!self)
                return;
            if (final)
                self->cache_.Insert(key, result);
            emit self->Ready(key, result, final);
        },
        Qt::QueuedConnection);
}
