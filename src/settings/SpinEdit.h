#pragma once

#include <QAbstractSpinBox>
#include <QFocusEvent>
#include <QLineEdit>

#include <algorithm>
#include <limits>

// A number field with up and down buttons whose text is only ever what was
// set or typed: a stored text outside the range, or not a number at all, is
// shown as it is. Leaving the field turns its text into the whole number it
// holds, brought into range (text that is not a number becomes 0). The
// buttons and arrow keys step from that number.
//
// Built on QAbstractSpinBox rather than QSpinBox because QSpinBox rewrites
// the text from its last valid value whenever it is shown, hidden or loses
// the active window.
class SpinEdit : public QAbstractSpinBox
{
    Q_OBJECT
public:
    explicit SpinEdit(QWidget *parent = nullptr) : QAbstractSpinBox(parent) { setAccelerated(true); }

    QString Text() const { return lineEdit()->text(); }
    void SetText(const QString &text) { lineEdit()->setText(text); }

    void setRange(int minimum, int maximum)
    {
        minimum_ = minimum;
        maximum_ = std::max(minimum, maximum);
        updateGeometry();
    }
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    void setSingleStep(int step) { step_ = step; }

    // The number a text stands for in this field: a whole number (a sign and
    // digits, blanks around allowed) brought into range; any other text
    // counts as 0.
    int Normalised(const QString &text) const
    {
        const QString t = text.trimmed();
        qsizetype digits = (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+'))) ? 1 : 0;
        if (digits == t.size())
            return Clamp(0);
        for (qsizetype i = digits; i < t.size(); ++i)
            if (t.at(i) < QLatin1Char('0') || t.at(i) > QLatin1Char('9'))
                return Clamp(0);
        bool ok = false;
        const qlonglong n = t.toLongLong(&ok);
        if (!ok)  // more digits than a 64-bit number holds
            return t.startsWith(QLatin1Char('-')) ? minimum_ : maximum_;
        return Clamp(n);
    }

    void stepBy(int steps) override
    {
        const qlonglong n = qlonglong(Normalised(Text())) + qlonglong(steps) * step_;
        SetText(QString::number(Clamp(n)));
        lineEdit()->selectAll();
    }

protected:
    StepEnabled stepEnabled() const override
    {
        if (isReadOnly())
            return StepNone;
        const int n = Normalised(Text());
        StepEnabled enabled = StepNone;
        if (n < maximum_)
            enabled |= StepUpEnabled;
        if (n > minimum_)
            enabled |= StepDownEnabled;
        return enabled;
    }
    // Any text may stand while the field is being edited; leaving the field
    // normalises it (below), and nothing else may rewrite it.
    QValidator::State validate(QString &, int &) const override { return QValidator::Acceptable; }
    // Only when the user moves on within the window: closing the window or
    // switching to another one leaves the text alone.
    void focusOutEvent(QFocusEvent *event) override
    {
        if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason) {
            const QString normal = QString::number(Normalised(Text()));
            if (normal != Text())
                SetText(normal);
        }
        QAbstractSpinBox::focusOutEvent(event);
    }

    // Room for the widest number of the range and a digit more, for a stored
    // value beyond it; the base class knows no numbers.
    QSize sizeHint() const override { return Widened(QAbstractSpinBox::sizeHint()); }
    QSize minimumSizeHint() const override { return Widened(QAbstractSpinBox::minimumSizeHint()); }

private:
    QSize Widened(QSize size) const
    {
        const QFontMetrics metrics = fontMetrics();
        size.rwidth() += std::max(metrics.horizontalAdvance(QString::number(minimum_)),
                                  metrics.horizontalAdvance(QString::number(maximum_))) +
                         metrics.horizontalAdvance(QLatin1Char('0'));
        return size;
    }
    int Clamp(qlonglong n) const { return int(std::clamp<qlonglong>(n, minimum_, maximum_)); }

    int minimum_ = 0;
    int maximum_ = 99;
    int step_ = 1;
};
