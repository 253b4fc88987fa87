#pragma once

#include "LogDisplay.h"

#include <QAbstractScrollArea>
#include <QList>
#include <QTextLayout>

#include <compare>
#include <memory>
#include <unordered_map>
#include <vector>

class LogDocument;
class QMenu;

// The read-only view of the activity log. It paints only the lines in sight,
// straight from the log document, so a run that writes hundreds of thousands
// of lines costs the window no more per turn than one that writes ten: no
// copy of the text is kept, and every line stays reachable by scrolling.
//
// The scroll bar counts lines: its value is the first line shown. At its end
// the newest line sits at the bottom of the view and stays there as lines
// arrive.
class LogView : public QAbstractScrollArea, public LogDisplay
{
    Q_OBJECT
public:
    explicit LogView(QWidget *parent = nullptr);
    ~LogView() override;

    // The document whose first LineCount() lines the view shows; it must
    // outlive the view or be replaced first.
    void SetDocument(const LogDocument *document) override;
    // How many lines of the document exist now. Only grows.
    void SetLineCount(qsizetype count) override;
    qsizetype LineCount() const { return count_; }

    void ScrollToEnd();
    // Scrolls to the end and takes the keyboard focus.
    void ShowNewest() override;
    bool IsAtEnd() const;
    // The first and last line at least partly in sight; -1 when empty.
    qsizetype FirstVisibleLine() const;
    qsizetype LastVisibleLine() const;
    // Where a line is painted in the viewport; empty when out of sight.
    QRect LineRect(qsizetype line) const;
    // A line as shown: its prefix and text, and their colours and weights.
    QString LineText(qsizetype line) const;
    QList<QTextLayout::FormatRange> LineFormats(qsizetype line) const;
    // The lines in sight, one per line: the accessible value.
    QString VisibleText() const;
    // The whole log as one text, lines joined by "\n", as screen readers and
    // desktop automation read it: its length, where a line starts, the line
    // at an offset, and a part of it. Offsets come from the document's own
    // count of characters, so no index per line is kept.
    qint64 TextLength() const;
    qint64 LineStart(qsizetype line) const;
    qsizetype LineAt(qint64 offset) const;
    QString Text(qint64 from, qint64 to) const;
    // How many rows a line wraps into at the current width.
    int LineRows(qsizetype line) const;

    bool isReadOnly() const { return true; }

    bool HasSelection() const;
    QString SelectedText() const;
    void SelectAll();
    void Copy() const;
    // The menu the right mouse button opens; the caller owns it.
    QMenu *CreateContextMenu();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // A place in the text: line and character within prefix + text.
    struct Position
    {
        qsizetype line = -1;
        int column = 0;
        auto operator<=>(const Position &) const = default;
    };
    // A line in sight and the y of its top in viewport coordinates.
    struct Placed
    {
        qsizetype line;
        int top;
        int height;
    };
    struct Laid
    {
        QTextLayout layout;
        int height = 0;
    };

    const Laid &Layout(qsizetype line) const;
    void ForgetLayouts();
    int TextWidth() const;
    int AvailableHeight() const;
    void UpdateScrollBar();
    std::vector<Placed> Visible() const;
    Position HitTest(const QPoint &point) const;
    void SetCursor(const Position &position);

    const LogDocument *document_ = nullptr;
    qsizetype count_ = 0;
    // Lines never change once written, so a laid-out line stays valid until
    // the width or the font changes.
    mutable std::unordered_map<qsizetype, std::unique_ptr<Laid>> layouts_;
    mutable int laidWidth_ = -1;
    Position anchor_;
    Position cursor_;
    bool selecting_ = false;
};
