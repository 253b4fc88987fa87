#include "ActivityLog.h"

#include "base/DateFormat.h"

#include <QThread>

#include <algorithm>

std::atomic<bool> DebugFlag{false};

ActivityLog::ActivityLog(QObject *parent) : QObject(parent)
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
    const FormatSettings &settings = ProcessFormatSettings();
    // The system clock is read as a count: making a local date-time of it
    // costs more than the rest of a line, and the prefix changes only once
    // a second.
    QDateTime now;
    qint64 ms;
    if (clock_) {
        now = clock_();
        ms = now.toMSecsSinceEpoch();
    } else {
        ms = QDateTime::currentMSecsSinceEpoch();
    }
    const qint64 second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    // The cached copy shares its texts with the settings until they change:
    // texts that share their characters are equal without a comparison.
    const auto same = [](const QString &a, const QString &b) {
        return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
    };
    const auto sameNames = [&same](const auto &a, const auto &b) {
        return std::equal(a.begin(), a.end(), b.begin(), same);
    };
    const auto sameSettings = [&](const FormatSettings &cached) {
        return cached.DateSeparator == settings.DateSeparator && cached.TimeSeparator == settings.TimeSeparator &&
               same(cached.ShortDateFormat, settings.ShortDateFormat) &&
               same(cached.LongTimeFormat, settings.LongTimeFormat) &&
               same(cached.TimeAMString, settings.TimeAMString) && same(cached.TimePMString, settings.TimePMString) &&
               sameNames(cached.ShortMonthNames, settings.ShortMonthNames) &&
               sameNames(cached.LongMonthNames, settings.LongMonthNames) &&
               sameNames(cached.ShortDayNames, settings.ShortDayNames) &&
               sameNames(cached.LongDayNames, settings.LongDayNames);
    };
    const QMutexLocker lock(&prefixMutex_);
    if (second == prefixSecond_ && prefixReusable_ && sameSettings(prefixSettings_))
        return prefix_;
    if (!now.isValid())
        now = QDateTime::fromMSecsSinceEpoch(ms);
    prefix_ = DateTimeToStr(now, settings) + QLatin1Char(' ');
    prefixSecond_ = second;
    prefixSettings_ = settings;
    // The first second of a day is not reused (at midnight exactly the
    // prefix has no time), nor is a format that shows milliseconds.
    const QTime time = now.time();
    prefixReusable_ = !(time.hour() == 0 && time.minute() == 0 && time.second() == 0) &&
                      !settings.LongTimeFormat.contains(QLatin1Char('z'), Qt::CaseInsensitive) &&
                      !settings.ShortDateFormat.contains(QLatin1Char('z'), Qt::CaseInsensitive);
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
