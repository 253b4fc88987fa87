#pragma once

#include "LogDisplay.h"
#include "LogDocument.h"
#include "LogSink.h"

#include "base/FormatSettings.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <functional>
#include <limits>

// The activity log: the document of this run plus its view in the main
// window. Lines may come from any thread; they go into the document at once,
// in call order, and reach the view in batches on the user-interface thread:
// once per event-loop turn the view learns how many lines there are now, so
// a worker writing thousands of lines a second never freezes the window.
class ActivityLog : public QObject, public LogSink
{
    Q_OBJECT
public:
    explicit ActivityLog(QObject *parent = nullptr);
    ~ActivityLog() override;

    // The read-only log view of the main window (a QObject).
    void AttachView(LogDisplay *view);
    // The view attached, while it exists.
    LogDisplay *View() const;

    void WriteLog(const QString &text, LogColor color, LogStyle style = LogStyle::Normal) override;
    void WriteLogNoDate(const QString &text, LogColor color, LogStyle style = LogStyle::Normal) override;

    const LogDocument &Document() const { return document_; }

    // Shows every line written so far. User-interface thread only.
    void Flush();
    // Lines of the document that the view shows or has shown.
    qsizetype ShownLineCount() const { return shown_; }

    // Tests pin the clock the prefix is taken from.
    void SetClock(std::function<QDateTime()> clock);

private:
    void Append(const QString &prefix, const QString &text, LogColor color, LogStyle style);
    void ScheduleFlush();
    void FlushBatch();
    void ShowLines();

    LogDocument document_;
    LogDisplay *view_ = nullptr;
    QPointer<QObject> viewObject_;
    qsizetype shown_ = 0;
    std::atomic<bool> flushScheduled_{false};
    // Lines streaming in reach the view at most this often: enough for the
    // eye, and the view is not laid out and painted on every event-loop turn.
    static constexpr int kShowIntervalMs = 30;
    QElapsedTimer sinceShown_;
    QTimer showTimer_;
    // Unset: the system clock.
    std::function<QDateTime()> clock_;
    // The date-time prefix changes once a second; a copy run writes
    // thousands of lines a second from its worker.
    QString DatePrefix();
    QMutex prefixMutex_;
    qint64 prefixSecond_ = std::numeric_limits<qint64>::min();
    bool prefixReusable_ = false;
    FormatSettings prefixSettings_;
    QString prefix_;
};
