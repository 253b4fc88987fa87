#pragma once

#include <QList>

class QWidget;
class RadioGroup;

// Tab and Shift+Tab walk a designed order of stops, round and round. Qt's
// own focus chain also holds the labelled edits' containers and the parts of
// the scroll areas, and does not lead from the last stop back to the first.
// The buttons of a radio group are one stop: the checked one.
class TabCycle
{
public:
    // The order, Qt's focus chain set to match; group's buttons stand in it
    // one after the other.
    void SetOrder(const QList<QWidget *> &order, const RadioGroup *group);
    // Moves the focus to the next (or previous) stop that can take it; false
    // when the focus is on none of the stops.
    bool Move(bool next) const;

private:
    QList<QWidget *> stops_;
    const RadioGroup *group_ = nullptr;
};
