#include "HintLine.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QStatusTipEvent>

namespace {

// The hint of a control: its own, or that of the nearest control around it
// that has one, within the dialog.
QString HintOf(const QWidget *control, const QWidget *dialog)
{
    for (const QWidget *w = control; w && w != dialog; w = w->parentWidget())
        if (!w->statusTip().isEmpty())
            return w->statusTip();
    return QString();
}

class HintWatcher : public QObject
{
public:
    HintWatcher(QWidget *dialog, QLabel *line) : QObject(line), dialog_(dialog), line_(line)
    {
        dialog->installEventFilter(this);
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
            if (now && dialog_ && now->window() == dialog_.data() && !hovering_)
                line_->setText(HintOf(now, dialog_));
        });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Status tips climb from the control under the mouse to its window.
        if (watched == dialog_ && event->type() == QEvent::StatusTip) {
            const QString tip = static_cast<QStatusTipEvent *>(event)->tip();
            hovering_ = !tip.isEmpty();
            QWidget *focus = QApplication::focusWidget();
            line_->setText(hovering_ || !focus || focus->window() != dialog_ ? tip : HintOf(focus, dialog_));
            return true;
        }
        return false;
    }

private:
    QPointer<QWidget> dialog_;
    QLabel *line_;
    bool hovering_ = false;
};

}  // namespace

QLabel *MakeHintLine(QWidget *dialog)
{
    auto *line = new QLabel(dialog);
    line->setWordWrap(true);
    line->setAccessibleName(QStringLiteral("Hint"));
    // Room for two lines, so that the dialog does not change height with the hint.
    line->setMinimumHeight(2 * line->fontMetrics().lineSpacing());
    line->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    line->setFrameShape(QFrame::StyledPanel);
    line->setFrameShadow(QFrame::Sunken);
    new HintWatcher(dialog, line);
    return line;
}
