#include "TabCycle.h"

#include "settings/Controls.h"

#include <QApplication>
#include <QWidget>

void TabCycle::SetOrder(const QList<QWidget *> &order, const RadioGroup *group)
{
    for (int i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
    stops_ = order;
    group_ = group;
    if (group_)
        for (qsizetype i = 1; i < group_->Buttons.size(); ++i)
            stops_.removeOne(group_->Buttons[i]);
}

bool TabCycle::Move(bool next) const
{
    auto stopOf = [this](QWidget *w) { return group_ && group_->Buttons.contains(w) ? group_->Buttons[0] : w; };
    const qsizetype at = stops_.indexOf(stopOf(QApplication::focusWidget()));
    if (at < 0)
        return false;
    const qsizetype count = stops_.size();
    for (qsizetype step = 1; step < count; ++step) {
        QWidget *w = stops_[((at + (next ? step : -step)) % count + count) % count];
        if (group_ && w == group_->Buttons[0] && group_->ItemIndex() > 0)
            w = group_->Buttons[group_->ItemIndex()];
        if (w->isEnabled() && w->isVisible() && (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return false;
}
