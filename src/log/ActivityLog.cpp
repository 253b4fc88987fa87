#include "ActivityLog.h"

#include "base/DateFormat.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QElapsedTimer>
#include <QThread>

std::atomic<bool> DebugFlag{false};

ActivityLog::ActivityLog(QObject *parent)
    : QObject(parent), clock_([] { return QDateTime::currentDateTime(); })
{
    for (int c = 0; c < 6; ++c) {
        for (int s = 0; s < 2; ++s) {
            QTextCharFormat format;
            format.setForeground(QColor::fromRgb(LogColorRgb(LogColor(c))));
            format.setFontWeight(s ? QFont::Bold : QFont::Normal);
            formats_[size_t(c * 2 + s)] = format;
        }
    }
}

void ActivityLog::AttachView(QPlainTextEdit *view)
{
    view_ = view;
    view->setReadOnly(true);
    view->setUndoRedoEnabled(false);
    view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
    palette.setColor(QPalette::Text, palette.color(QPalette::WindowText));
    view->setPalette(palette);
    shown_ = 0;
    ScheduleFlush();
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
    flushScheduled_.store(false);
    ShowLines(kMaxLinesPerTurn, kTurnBudgetMs);
    if (shown_ < document_.LineCount())
        ScheduleFlush();
}

void ActivityLog::Flush()
{
    Q_ASSERT(QThread::currentThread() == thread());
    ShowLines(document_.LineCount(), -1);
}

const QTextCharFormat &ActivityLog::Format(LogColor color, LogStyle style) const
{
    return formats_[size_t(int(color) * 2 + (style == LogStyle::Bold ? 1 : 0))];
}

void ActivityLog::TrimView(bool all)
{
    // Dropping the oldest lines one at a time as new ones arrive (the view's
    // own block limit) costs more than the appending itself; dropping a few
    // thousand in one cut is cheap, and small enough cuts keep each turn short.
    QTextDocument *doc = view_->document();
    const int excess = doc->blockCount() - kViewLineLimit;
    if (excess < kViewTrimLines)
        return;
    QTextCursor cut(doc);
    cut.movePosition(QTextCursor::Start);
    cut.setPosition(doc->findBlockByNumber(all ? excess : qMin(excess, 4 * kViewTrimLines)).position(), QTextCursor::KeepAnchor);
    cut.removeSelectedText();
}

void ActivityLog::ShowLines(qsizetype maxLines, int budgetMs)
{
    if (!view_ || shown_ >= document_.LineCount())
        return;
    QTextDocument *doc = view_->document();
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    const QTextCharFormat &plain = Format(LogColor::Black, LogStyle::Normal);
    bool first = shown_ == 0 && doc->isEmpty();
    QElapsedTimer clock;
    clock.start();
    // Small steps, so that the time spent in one turn stays bounded however
    // fast or slow the machine is.
    constexpr qsizetype kStep = 200;
    for (qsizetype done = 0; done < maxLines;) {
        const std::vector<LogLine> lines = document_.Lines(shown_, qMin(kStep, maxLines - done));
        if (lines.empty())
            break;
        for (const LogLine &line : lines) {
            if (!first)
                cursor.insertBlock(QTextBlockFormat(), plain);
            first = false;
            if (!line.prefix.isEmpty())
                cursor.insertText(line.prefix, plain);
            cursor.insertText(line.text, Format(line.color, line.style));
            cursor.setCharFormat(plain);
        }
        shown_ += qsizetype(lines.size());
        done += qsizetype(lines.size());
        if (budgetMs >= 0 && clock.elapsed() >= budgetMs)
            break;
    }
    cursor.endEditBlock();
    TrimView(budgetMs < 0);

    // The newest line stays in sight and the log view takes the keyboard
    // focus, as after every write.
    view_->verticalScrollBar()->setValue(view_->verticalScrollBar()->maximum());
    view_->setFocus(Qt::OtherFocusReason);
}
