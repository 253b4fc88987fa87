#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QWidget>

// An edit field with its label just above it. Enabling, hiding and the
// focus act on both as one control.
class LabeledEdit : public QWidget
{
    Q_OBJECT
public:
    LabeledEdit(const QString &label, QWidget *parent = nullptr) : QWidget(parent)
    {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(2);
        EditLabel = new QLabel(label, this);
        Edit = new QLineEdit(this);
        EditLabel->setBuddy(Edit);
        layout->addWidget(EditLabel);
        layout->addWidget(Edit);
        setFocusProxy(Edit);
    }

    QString text() const { return Edit->text(); }
    void setText(const QString &text) { Edit->setText(text); }
    void setReadOnly(bool readOnly) { Edit->setReadOnly(readOnly); }

    QLabel *EditLabel;
    QLineEdit *Edit;
};

// A titled group of option buttons of which exactly one is chosen.
class RadioGroup : public QGroupBox
{
    Q_OBJECT
public:
    RadioGroup(const QString &title, const QStringList &items, QWidget *parent = nullptr) : QGroupBox(title, parent)
    {
        group_ = new QButtonGroup(this);
        for (int i = 0; i < items.size(); ++i) {
            auto *button = new QRadioButton(items[i], this);
            group_->addButton(button, i);
            Buttons << button;
        }
        connect(group_, &QButtonGroup::idClicked, this, &RadioGroup::Click);
    }

    int ItemIndex() const { return group_->checkedId(); }
    void SetItemIndex(int index)
    {
        if (QAbstractButton *button = group_->button(index))
            button->setChecked(true);
    }

    QList<QRadioButton *> Buttons;

signals:
    void Click(int index);

private:
    QButtonGroup *group_;
};
