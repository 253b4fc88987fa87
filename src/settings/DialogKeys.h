#pragma once

#include <QKeyEvent>

// The settings dialogs' keys: Escape is Cancel, and Enter is nobody's
// default (it belongs to the field that has the focus). True when handled.
template <typename Cancel> bool HandleDialogKey(QKeyEvent *event, Cancel cancel)
{
    if (event->key() == Qt::Key_Escape) {
        cancel();
        return true;
    }
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}
