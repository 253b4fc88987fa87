#include "LogView.h"

#include "LogDocument.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Room between the frame and the text, as in the other text views.
constexpr int kMargin = 4;
// Enough laid-out lines for any view height; beyond that the cache starts
// over rather than keeping lines that scrolled away long ago.
constexpr size_t kMaxLaidLines = 1024;

QTextCharFormat CharFormat(LogColor color, LogStyle style)
{
    QTextCharFormat format;
    format.setForeground(QColor::fromRgb(LogColorRgb(color)));
    format.setFontWeight(style == LogStyle::Bold ? QFont::Bold : QFont::Normal);
    return format;
}

QList<QTextLayout::FormatRange> Formats(const LogLine &line)
{
    QList<QTextLayout::FormatRange> formats;
    // The date-time prefix is black and normal whatever the line's colour.
    if (!line.prefix.isEmpty())
        formats.append({0, int(line.prefix.size()), CharFormat(LogColor::Black, LogStyle::Normal)});
    if (!line.text.isEmpty())
        formats.append({int(line.prefix.size()), int(line.text.size()), CharFormat(line.color, line.style)});
    return formats;
}

bool IsWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// A text interface that is read only: no caret, no selection to set, no
// character geometry.
class ReadOnlyText : public QAccessibleTextInterface
{
public:
    void selection(int, int *startOffset, int *endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
};

// A piece of text for the boundary rules of the text interface: the rules
// look at the characters around an offset only, so they run on the lines
// around it instead of the whole log.
class TextPiece : public ReadOnlyText
{
public:
    explicit TextPiece(QString text) : text_(std::move(text)) {}
    QString text(int startOffset, int endOffset) const override
    {
        return text_.mid(startOffset, qMax(0, endOffset - startOffset));
    }
    int characterCount() const override { return int(text_.size()); }
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = -1;
        return QString();
    }

private:
    QString text_;
};

// What screen readers and desktop automation get: the whole log as a
// read-only text through the text interface, the lines in sight as the value.
class LogViewAccessible : public QAccessibleWidget, public ReadOnlyText
{
public:
    explicit LogViewAccessible(LogView *view) : QAccessibleWidget(view, QAccessible::EditableText) {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return View()->VisibleText();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        return s;
    }

    // The text interface, read-only: no caret, no selection to set.
    QString text(int startOffset, int endOffset) const override
    {
        if (endOffset < 0)
            endOffset = characterCount();
        return View()->Text(startOffset, endOffset);
    }
    int characterCount() const override
    {
        return int(qMin(View()->TextLength(), qint64(std::numeric_limits<int>::max())));
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int *startOffset,
                             int *endOffset) const override
    {
        return Around(offset, type, startOffset, endOffset, &QAccessibleTextInterface::textBeforeOffset);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int *startOffset,
                            int *endOffset) const override
    {
        return Around(offset, type, startOffset, endOffset, &QAccessibleTextInterface::textAfterOffset);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int *startOffset,
                         int *endOffset) const override
    {
        return Around(offset, type, startOffset, endOffset, &QAccessibleTextInterface::textAtOffset);
    }
    void scrollToSubstring(int startIndex, int) override
    {
        QScrollBar *bar = View()->verticalScrollBar();
        bar->setValue(int(qMin(View()->LineAt(startIndex), qsizetype(bar->maximum()))));
    }
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        return QString();
    }

private:
    using Boundary = QString (QAccessibleTextInterface::*)(int, QAccessible::TextBoundaryType, int *, int *) const;

    const LogView *View() const { return static_cast<const LogView *>(widget()); }

    // The rule asked for, applied to the line at the offset and its two
    // neighbours (with the line break after the last of them), so that the
    // line, word or character before and after are within reach.
    QString Around(int offset, QAccessible::TextBoundaryType type, int *startOffset, int *endOffset,
                   Boundary rule) const
    {
        const int count = characterCount();
        *startOffset = *endOffset = -1;
        if (type == QAccessible::NoBoundary) {
            // All of it is "at" any offset; nothing is before or after it.
            if (rule != &QAccessibleTextInterface::textAtOffset)
                return QString();
            *startOffset = 0;
            *endOffset = count;
            return text(0, count);
        }
        if (offset == -1)
            offset = count;
        if (offset < 0 || offset > count || count == 0)
            return QString();
        const LogView *view = View();
        const qsizetype line = view->LineAt(offset);
        const qint64 from = view->LineStart(qMax(qsizetype(0), line - 1));
        const qsizetype last = qMin(line + 1, view->LineCount() - 1);
        const qint64 to = qMin(view->LineStart(last + 1), qint64(count));
        const TextPiece piece(view->Text(from, to));
        const QString found = (piece.*rule)(int(offset - from), type, startOffset, endOffset);
        if (*startOffset >= 0) {
            *startOffset += int(from);
            *endOffset += int(from);
        }
        return found;
    }
};

QAccessibleInterface *AccessibleLogView(const QString &className, QObject *object)
{
    if (className == QLatin1String("LogView") && object && object->isWidgetType())
        return new LogViewAccessible(static_cast<LogView *>(object));
    return nullptr;
}

}  // namespace

LogView::LogView(QWidget *parent) : QAbstractScrollArea(parent)
{
    static const bool accessible = [] {
        QAccessible::installFactory(AccessibleLogView);
        return true;
    }();
    Q_UNUSED(accessible);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
    palette.setColor(QPalette::Text, palette.color(QPalette::WindowText));
    setPalette(palette);
    verticalScrollBar()->setRange(0, 0);
    verticalScrollBar()->setSingleStep(1);
}

LogView::~LogView() = default;

void LogView::SetDocument(const LogDocument *document)
{
    document_ = document;
    count_ = 0;
    anchor_ = cursor_ = Position();
    selecting_ = false;
    ForgetLayouts();
    UpdateScrollBar();
}

void LogView::ShowNewest()
{
    ScrollToEnd();
    setFocus(Qt::OtherFocusReason);
}

void LogView::SetLineCount(qsizetype count)
{
    if (!document_ || count == count_)
        return;
    count_ = qBound(qsizetype(0), count, document_->LineCount());
    UpdateScrollBar();
}

void LogView::ScrollToEnd()
{
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

bool LogView::IsAtEnd() const
{
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

int LogView::TextWidth() const
{
    return qMax(1, viewport()->width() - 2 * kMargin);
}

int LogView::AvailableHeight() const
{
    return viewport()->height() - 2 * kMargin;
}

void LogView::ForgetLayouts()
{
    layouts_.clear();
    laidWidth_ = -1;
}

const LogView::Laid &LogView::Layout(qsizetype line) const
{
    const int width = TextWidth();
    if (width != laidWidth_) {
        layouts_.clear();
        laidWidth_ = width;
    }
    if (auto it = layouts_.find(line); it != layouts_.end())
        return *it->second;
    if (layouts_.size() >= kMaxLaidLines)
        layouts_.clear();

    auto laid = std::make_unique<Laid>();
    const LogLine entry = document_->Line(line);
    QTextLayout &layout = laid->layout;
    layout.setText(entry.prefix + entry.text);
    layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setFormats(Formats(entry));
    layout.setCacheEnabled(true);
    layout.beginLayout();
    qreal y = 0;
    for (QTextLine row = layout.createLine(); row.isValid(); row = layout.createLine()) {
        row.setLeadingIncluded(true);
        row.setLineWidth(width);
        row.setPosition(QPointF(0, y));
        y += row.height();
    }
    layout.endLayout();
    laid->height = qMax(1, int(std::ceil(y)));
    return *layouts_.emplace(line, std::move(laid)).first->second;
}

// The scroll bar ends where the last lines just fill the view, so that
// "at the end" means "the newest line at the bottom".
void LogView::UpdateScrollBar()
{
    QScrollBar *bar = verticalScrollBar();
    const bool atEnd = IsAtEnd();
    qsizetype fit = 0;
    if (document_) {
        const int available = AvailableHeight();
        int used = 0;
        for (qsizetype i = count_ - 1; i >= 0; --i) {
            used += Layout(i).height;
            if (used > available)
                break;
            ++fit;
        }
    }
    if (count_ > 0)
        fit = qMax(fit, qsizetype(1));
    const qsizetype last = qMin(count_ - fit, qsizetype(std::numeric_limits<int>::max()));
    bar->setRange(0, int(last));
    bar->setPageStep(int(qMax(fit, qsizetype(1))));
    if (atEnd)
        bar->setValue(bar->maximum());
    viewport()->update();
}

std::vector<LogView::Placed> LogView::Visible() const
{
    std::vector<Placed> placed;
    if (!document_ || count_ == 0)
        return placed;
    const QScrollBar *bar = verticalScrollBar();
    const int height = viewport()->height();
    if (bar->maximum() > 0 && bar->value() >= bar->maximum()) {
        // Anchored at the bottom: laid out upwards from the newest line.
        int y = height - kMargin;
        for (qsizetype i = count_ - 1; i >= 0 && y > 0; --i) {
            const int h = Layout(i).height;
            y -= h;
            placed.push_back({i, y, h});
        }
        std::reverse(placed.begin(), placed.end());
        return placed;
    }
    int y = kMargin;
    for (qsizetype i = qBound(qsizetype(0), qsizetype(bar->value()), count_ - 1); i < count_ && y < height; ++i) {
        const int h = Layout(i).height;
        placed.push_back({i, y, h});
        y += h;
    }
    return placed;
}

qsizetype LogView::FirstVisibleLine() const
{
    const auto placed = Visible();
    return placed.empty() ? -1 : placed.front().line;
}

qsizetype LogView::LastVisibleLine() const
{
    const auto placed = Visible();
    return placed.empty() ? -1 : placed.back().line;
}

QRect LogView::LineRect(qsizetype line) const
{
    for (const Placed &p : Visible()) {
        if (p.line == line)
            return QRect(kMargin, p.top, TextWidth(), p.height);
    }
    return {};
}

QString LogView::LineText(qsizetype line) const
{
    if (!document_ || line < 0 || line >= count_)
        return {};
    const LogLine entry = document_->Line(line);
    return entry.prefix + entry.text;
}

QString LogView::VisibleText() const
{
    QStringList lines;
    for (const Placed &p : Visible())
        lines << LineText(p.line);
    return lines.join(QLatin1Char('\n'));
}

qint64 LogView::TextLength() const
{
    return count_ > 0 ? LineStart(count_) - 1 : 0;
}

qint64 LogView::LineStart(qsizetype line) const
{
    if (!document_)
        return 0;
    // Each line before it, and its line break.
    line = qBound(qsizetype(0), line, count_);
    return document_->CharactersBefore(line) + line;
}

qsizetype LogView::LineAt(qint64 offset) const
{
    // The last line that starts at or before the offset.
    qsizetype low = 0;
    qsizetype high = qMax(qsizetype(0), count_ - 1);
    while (low < high) {
        const qsizetype mid = low + (high - low + 1) / 2;
        if (LineStart(mid) <= offset)
            low = mid;
        else
            high = mid - 1;
    }
    return low;
}

QString LogView::Text(qint64 from, qint64 to) const
{
    to = qMin(to, TextLength());
    QString out;
    if (from < 0 || from >= to)
        return out;
    out.reserve(qsizetype(to - from));
    for (qsizetype line = LineAt(from); line < count_ && LineStart(line) < to; ++line) {
        const qint64 start = LineStart(line);
        const QString text = LineText(line) + QLatin1Char('\n');
        const qint64 first = qMax(from, start) - start;
        out += QStringView(text).mid(first, qMin(to, start + text.size()) - start - first);
    }
    return out;
}

QList<QTextLayout::FormatRange> LogView::LineFormats(qsizetype line) const
{
    if (!document_ || line < 0 || line >= count_)
        return {};
    return Formats(document_->Line(line));
}

int LogView::LineRows(qsizetype line) const
{
    if (!document_ || line < 0 || line >= count_)
        return 0;
    return Layout(line).layout.lineCount();
}

bool LogView::HasSelection() const
{
    return anchor_.line >= 0 && anchor_ != cursor_;
}

QString LogView::SelectedText() const
{
    if (!HasSelection())
        return {};
    const auto [from, to] = std::minmax(anchor_, cursor_);
    QString out;
    constexpr qsizetype kStep = 1000;
    for (qsizetype at = from.line; at <= to.line; at += kStep) {
        const std::vector<LogLine> lines = document_->Lines(at, qMin(kStep, to.line + 1 - at));
        for (size_t k = 0; k < lines.size(); ++k) {
            const qsizetype i = at + qsizetype(k);
            const QString text = lines[k].prefix + lines[k].text;
            const int start = i == from.line ? qMin(from.column, int(text.size())) : 0;
            const int end = i == to.line ? qMin(to.column, int(text.size())) : int(text.size());
            out += QStringView(text).mid(start, qMax(0, end - start));
            if (i != to.line)
                out += QLatin1Char('\n');
        }
        if (lines.empty())
            break;
    }
    return out;
}

void LogView::SelectAll()
{
    if (count_ == 0)
        return;
    anchor_ = {0, 0};
    cursor_ = {count_ - 1, int(LineText(count_ - 1).size())};
    viewport()->update();
}

void LogView::Copy() const
{
    if (HasSelection())
        QGuiApplication::clipboard()->setText(SelectedText());
}

QMenu *LogView::CreateContextMenu()
{
    auto *menu = new QMenu(this);
    QAction *copy = menu->addAction(tr("&Copy"), this, [this] { Copy(); });
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(HasSelection());
    QAction *all = menu->addAction(tr("Select All"), this, [this] { SelectAll(); });
    all->setShortcut(QKeySequence::SelectAll);
    all->setEnabled(count_ > 0);
    return menu;
}

void LogView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const QRect clip = event->rect();
    const auto [from, to] = std::minmax(anchor_, cursor_);
    QTextLayout::FormatRange selected;
    selected.format.setBackground(palette().brush(QPalette::Highlight));
    selected.format.setForeground(palette().brush(QPalette::HighlightedText));
    for (const Placed &p : Visible()) {
        if (p.top + p.height < clip.top() || p.top > clip.bottom())
            continue;
        const Laid &laid = Layout(p.line);
        QList<QTextLayout::FormatRange> selections;
        if (HasSelection() && p.line >= from.line && p.line <= to.line) {
            const int length = int(laid.layout.text().size());
            const int start = p.line == from.line ? qMin(from.column, length) : 0;
            const int end = p.line == to.line ? qMin(to.column, length) : length;
            if (end > start) {
                selected.start = start;
                selected.length = end - start;
                selections.append(selected);
            }
        }
        laid.layout.draw(&painter, QPointF(kMargin, p.top), selections, clip);
    }
}

void LogView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBar();
}

void LogView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        ForgetLayouts();
        UpdateScrollBar();
    }
}

void LogView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void LogView::keyPressEvent(QKeyEvent *event)
{
    QScrollBar *bar = verticalScrollBar();
    if (event == QKeySequence::Copy)
        Copy();
    else if (event == QKeySequence::SelectAll)
        SelectAll();
    else if (event == QKeySequence::MoveToStartOfDocument)
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
    else if (event == QKeySequence::MoveToEndOfDocument)
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
    else if (event == QKeySequence::MoveToPreviousPage)
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    else if (event == QKeySequence::MoveToNextPage)
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    else if (event == QKeySequence::MoveToPreviousLine)
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (event == QKeySequence::MoveToNextLine)
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    else {
        event->ignore();
        return;
    }
    event->accept();
}

LogView::Position LogView::HitTest(const QPoint &point) const
{
    const auto placed = Visible();
    if (placed.empty())
        return {};
    if (point.y() < placed.front().top)
        return {placed.front().line, 0};
    for (const Placed &p : placed) {
        if (point.y() >= p.top + p.height)
            continue;
        const QTextLayout &layout = Layout(p.line).layout;
        const qreal y = point.y() - p.top;
        for (int r = 0; r < layout.lineCount(); ++r) {
            const QTextLine row = layout.lineAt(r);
            if (y < row.y() + row.height() || r == layout.lineCount() - 1)
                return {p.line, row.xToCursor(point.x() - kMargin)};
        }
        return {p.line, 0};
    }
    return {placed.back().line, int(Layout(placed.back().line).layout.text().size())};
}

void LogView::SetCursor(const Position &position)
{
    if (position.line < 0)
        return;
    cursor_ = position;
    viewport()->update();
}

void LogView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const Position at = HitTest(event->position().toPoint());
    if (at.line < 0)
        return;
    if (!(event->modifiers() & Qt::ShiftModifier) || anchor_.line < 0)
        anchor_ = at;
    SetCursor(at);
    selecting_ = true;
}

void LogView::mouseMoveEvent(QMouseEvent *event)
{
    if (!selecting_)
        return;
    // Dragging past an edge scrolls, so a selection can run beyond the view.
    const QPoint point = event->position().toPoint();
    if (point.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (point.y() > viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    SetCursor(HitTest(point));
}

void LogView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !selecting_)
        return;
    selecting_ = false;
    SetCursor(HitTest(event->position().toPoint()));
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (HasSelection() && clipboard->supportsSelection())
        clipboard->setText(SelectedText(), QClipboard::Selection);
}

void LogView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const Position at = HitTest(event->position().toPoint());
    if (at.line < 0)
        return;
    const QString text = LineText(at.line);
    int start = qMin(at.column, int(text.size()));
    int end = start;
    while (start > 0 && IsWordChar(text.at(start - 1)))
        --start;
    while (end < text.size() && IsWordChar(text.at(end)))
        ++end;
    anchor_ = {at.line, start};
    SetCursor({at.line, end});
}

void LogView::contextMenuEvent(QContextMenuEvent *event)
{
    const std::unique_ptr<QMenu> menu(CreateContextMenu());
    menu->exec(event->globalPos());
}
