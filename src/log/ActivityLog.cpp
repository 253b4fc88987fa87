#include "ActivityLog.h"

#include "LogView.h"
#include "base/DateFormat.h"

#include <QThread>

std::atomic<bool> DebugFlag{false};

ActivityLog::ActivityLog(QObject *parent)
    : QObject(parent), clock_([] { return QDateTime::currentDateTime(); })
{
    showTimer_.setSingleShot(true);
    connect(&showTimer_, &QTimer::timeout, this, &ActivityLog::FlushBatch);
}

void ActivityLog::AttachView(LogView *view)
{
    view_ = view;
    view->SetDocument(&document_);
    shown_ = 0;
    ScheduleFlush();
}

ActivityLog::~ActivityLog()
{
    // The view may outlive the log by a moment while its window is torn
    // down; it must not paint from a document that is gone.
    if (view_)
        view_->SetDocument(nullptr);
}

void ActivityLog::SetClock(std::function<QDateTime()> clock)
{
    clock_ = std::move(clock);
}

void ActivityLog::WriteLog(const QString &text, LogColor color, LogStyle style)
{
    Append(DateTimeToStr(clock_(), ProcessFormatSettings()) + QLatin1Char(' '), text, color, style);
}

void ActivityLog::WriteLogNoDate(const QString &text, LogColor color, LogStyle style)
{
    Append(QString(), text, color, style);
}

void ActivityLog::Append(const QString &prefix, const QString &text, LogColor color, LogStyle style)
{
    document_.Append(prefix, text, color, style);
    ScheduleFlush();
}

void ActivityLog::ScheduleFlush()
{
    if (!view_ || flushScheduled_.exchange(true))
        return;
    QMetaObject::invokeMethod(this, &ActivityLog::FlushBatch, Qt::QueuedConnection);
}

void ActivityLog::FlushBatch()
{
    const qint64 since = sinceShown_.isValid() ? sinceShown_.elapsed() : kShowIntervalMs;
    if (since < kShowIntervalMs) {
        // Still scheduled: lines written meanwhile post nothing more.
        if (!showTimer_.isActive())
            showTimer_.start(int(kShowIntervalMs - since));
        return;
    }
    flushScheduled_.store(false);
    ShowLines();
    sinceShown_.restart();
}

void ActivityLog::Flush()
{
    Q_ASSERT(QThread::currentThread() == thread());
    ShowLines();
}

void ActivityLog::ShowLines()
{
    if (!view_)
        return;
    // The view paints straight from the document, so telling it the new
    // count is all a batch costs, however many lines arrived.
    const qsizetype count = document_.LineCount();
    if (count == shown_)
        return;
    shown_ = count;
    view_->SetLineCount(count);
    // The newest line stays in sight and the log view takes the keyboard
    // focus, as after every write.
    view_->ScrollToEnd();
    view_->setFocus(Qt::OtherFocusReason);
}
