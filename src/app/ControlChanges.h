#pragma once

#include <QList>

#include <functional>

class QObject;
class QWidget;

// Calls changed on the user-interface thread whenever a control under one of
// the roots changes its value, whether the user or the program changed it:
// line edits (spin boxes and editable combo boxes included), combo boxes,
// check boxes, radio buttons and list boxes.
void WatchControlChanges(QObject *context, const QList<QWidget *> &roots, const std::function<void()> &changed);
