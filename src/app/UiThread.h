#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <utility>

// Runs f on the thread of context: at once when already there, otherwise
// queued behind everything handed over before it, waiting for it when asked.
template <typename F> void RunOnUiThread(QObject *context, F &&f, bool wait)
{
    if (QThread::currentThread() == context->thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(context, std::forward<F>(f), wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}
