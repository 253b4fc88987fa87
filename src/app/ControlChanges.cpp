#include "ControlChanges.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

void WatchControlChanges(QObject *context, const QList<QWidget *> &roots, const std::function<void()> &changed)
{
    for (QWidget *root : roots) {
        for (QLineEdit *edit : root->findChildren<QLineEdit *>())
            QObject::connect(edit, &QLineEdit::textChanged, context, changed);
        for (QAbstractButton *button : root->findChildren<QAbstractButton *>())
            if (button->isCheckable())
                QObject::connect(button, &QAbstractButton::toggled, context, changed);
        for (QComboBox *combo : root->findChildren<QComboBox *>())
            QObject::connect(combo, &QComboBox::currentIndexChanged, context, changed);
        for (QListWidget *list : root->findChildren<QListWidget *>()) {
            QAbstractItemModel *model = list->model();
            QObject::connect(model, &QAbstractItemModel::rowsInserted, context, changed);
            QObject::connect(model, &QAbstractItemModel::rowsRemoved, context, changed);
            QObject::connect(model, &QAbstractItemModel::rowsMoved, context, changed);
            QObject::connect(model, &QAbstractItemModel::dataChanged, context, changed);
            QObject::connect(model, &QAbstractItemModel::modelReset, context, changed);
            QObject::connect(model, &QAbstractItemModel::layoutChanged, context, changed);
        }
    }
}
