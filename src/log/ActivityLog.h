#pragma once

#include "LogDocument.h"
#include "LogSink.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTextCharFormat>

#include <array>
#include <atomic>
#include <functional>

#include <QPlainTextEdit>

// The activity log: the document of this run plus its view in the main
// window. Lines may come from any thread; they go into the document at once,
// in call order, and reach the view in batches on the user-interface thread,
// so that a worker writing thousands of lines a second never freezes it.
class ActivityLog : public QObject, public LogSink
{
    Q_OBJECT
public:
    // What one event-loop turn shows at most: as many lines as fit in a few
    // milliseconds, the rest wait for the next turn.
    static constexpr int kMaxLinesPerTurn = 5000;
    static constexpr int kTurnBudgetMs = 8;
    // The view keeps the newest lines only; the document keeps them all for
    // the log file.
    static constexpr int kViewLineLimit = 100000;
    static constexpr int kViewTrimLines = 2000;

    explicit ActivityLog(QObject *parent = nullptr);

    // The read-only log view of the main window.
    void AttachView(QPlainTextEdit *view);
    QPlainTextEdit *View() const { return view_; }

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
    // budgetMs < 0: no limit.
    void ShowLines(qsizetype maxLines, int budgetMs);
    // all: down to the limit at once; otherwise a bounded cut per turn.
    void TrimView(bool all);
    const QTextCharFormat &Format(LogColor color, LogStyle style) const;

    LogDocument document_;
    QPointer<QPlainTextEdit> view_;
    qsizetype shown_ = 0;
    std::atomic<bool> flushScheduled_{false};
    std::function<QDateTime()> clock_;
    std::array<QTextCharFormat, 12> formats_;
};
