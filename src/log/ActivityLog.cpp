#include "ActivityLog.h"

#include "base/DateFormat.h"

#include <QThread>

std::atomic<bool> DebugFlag{false};

ActivityLog::ActivityLog(QObject *parent)
    : QObject(parent), clock_([] { return QDateTime::currentDateTime(); })
{
    showTimer_.setSingleShot(true);
    connect(&showTimer_, &QTimer::timeout, this, &ActivityLog::FlushBatch);
}

void ActivityLog::AttachView(LogDisplay *view)
{
    view_ = view;
    viewObject_ = dynamic_cast<QObject *>(view);
    Q_ASSERT(viewObject_);
    view->SetDocument(&document_);
    shown_ = 0;
    ScheduleFlush();
}

LogDisplay *ActivityLog::View() const
{
    return viewObject_ ? view_ : nullptr;
}

ActivityLog::~ActivityLog()
{
    // The view may outlive the log by a moment while its window is torn
    // down; it must not paint from a document that is gone.
    if (LogDisplay *view = View())
        view->SetDocument(nullptr);
}

void ActivityLog::SetClock(std::function<QDateTime()> clock)
{
    clock_ = std::move(clock);
}

QString ActivityLog::DatePrefix()
{
    const QDateTime now = clock_();
    const FormatSettings &settings = ProcessFormatSettings();
    // The first second of a day is left alone (at midnight exactly the
    // prefix has no time), and so is a format that shows milliseconds.
    const QTime time = now.time();
    if ((time.hour() == 0 && time.minute() == 0 && time.second() == 0) ||
        settings.LongTimeFormat.contains(QLatin1Char('z'), Qt::CaseInsensitive) ||
        settings.ShortDateFormat.contains(QLatin1Char('z'), Qt::CaseInsensitive))
        return DateTimeToStr(now, settings) + QLatin1Char(' ');
    const qint64 second = now.toSecsSinceEpoch();
    const auto sameSettings = [&settings](const FormatSettings &cached) {
        return cached.DateSeparator == settings.DateSeparator && cached.TimeSeparator == settings.TimeSeparator &&
               cached.ShortDateFormat == settings.ShortDateFormat && cached.LongTimeFormat == settings.LongTimeFormat &&
               cached.TimeAMString == settings.TimeAMString && cached.TimePMString == settings.TimePMString &&
               cached.ShortMonthNames == settings.ShortMonthNames && cached.LongMonthNames == settings.LongMonthNames &&
               cached.ShortDayNames == settings.ShortDayNames && cached.LongDayNames == settings.LongDayNames;
    };
    const QMutexLocker lock(&prefixMutex_);
    if (second != prefixSecond_ || !sameSettings(prefixSettings_)) {
        prefix_ = DateTimeToStr(now, settings) + QLatin1Char(' ');
        prefixSecond_ = second;
        prefixSettings_ = settings;
    }
    return prefix_;
}

void ActivityLog::WriteLog(const QString &text, LogColor color, LogStyle style)
{
    Append(DatePrefix(), text, color, style);
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
    if (!View() || flushScheduled_.exchange(true))
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
    LogDisplay *view = View();
    if (!view)
        return;
    // The view paints straight from the document, so telling it the new
    // count is all a batch costs, however many lines arrived.
    const qsizetype count = document_.LineCount();
    if (count == shown_)
        return;
    shown_ = count;
    view->SetLineCount(count);
    view->ShowNewest();
}
