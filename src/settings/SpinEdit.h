#pragma once

#include <QLineEdit>
#include <QSpinBox>

#include <algorithm>

// A number field with up and down buttons that accepts any typed text while
// it has the focus; leaving it turns the text into the whole number it holds,
// brought into range (text that is not a number becomes 0).
class SpinEdit : public QSpinBox
{
    Q_OBJECT
public:
    explicit SpinEdit(QWidget *parent = nullptr) : QSpinBox(parent) {}

    QString Text() const { return lineEdit()->text(); }
    void SetText(const QString &text) { lineEdit()->setText(text); }

    // The number a text stands for in this field.
    int Normalised(const QString &text) const
    {
        bool ok = false;
        const qlonglong n = text.trimmed().toLongLong(&ok);
        if (!ok)
            return 0;
        return int(std::clamp<qlonglong>(n, minimum(), maximum()));
    }

protected:
    QValidator::State validate(QString &text, int &) const override
    {
        bool ok = false;
        const qlonglong n = text.toLongLong(&ok);
        return ok && n >= minimum() && n <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
    }
    void fixup(QString &text) const override { text = QString::number(Normalised(text)); }
    void focusOutEvent(QFocusEvent *event) override
    {
        const int n = Normalised(Text());
        setValue(n);
        SetText(QString::number(n));
        QSpinBox::focusOutEvent(event);
    }
};
