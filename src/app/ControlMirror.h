#pragma once

#include <QList>
#include <QMutex>
#include <QMutexLocker>

#include <functional>

class QObject;
class QWidget;

// Calls changed on the user-interface thread whenever a control under one of
// the roots changes its value, whether the user or the program changed it:
// line edits (spin boxes and editable combo boxes included), combo boxes,
// check boxes, radio buttons and list boxes.
void WatchControlChanges(QObject *context, const QList<QWidget *> &roots, const std::function<void()> &changed);

// The values of some controls, copied on the user-interface thread each time
// one of them changes, for a worker to read without waiting for that thread
// (which may be busy showing thousands of log lines).
template <typename Values>
class ControlMirror
{
public:
    void Set(Values values)
    {
        QMutexLocker lock(&mutex_);
        values_ = std::move(values);
    }
    Values Get() const
    {
        QMutexLocker lock(&mutex_);
        return values_;
    }

private:
    mutable QMutex mutex_;
    Values values_{};
};
