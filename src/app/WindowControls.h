#pragma once

// Small helpers the main window's parts make their controls with.

#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVariant>
#include <QWidget>

// The property that names a control's help topic; a control without one
// takes its parent's.
inline constexpr char kHelpContextProperty[] = "HelpContext";

inline void SetHint(QWidget *control, const QString &hint, int helpContext = 0)
{
    control->setStatusTip(hint);
    control->setAccessibleDescription(hint);
    if (helpContext)
        control->setProperty(kHelpContextProperty, helpContext);
}

inline QToolButton *IconButton(QWidget *parent, QStyle::StandardPixmap icon)
{
    auto *button = new QToolButton(parent);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setIconSize(QSize(16, 16));
    button->setFixedSize(23, 22);
    return button;
}

inline QPushButton *Button(QWidget *parent, const QString &caption, int width,
                           QStyle::StandardPixmap icon = QStyle::SP_CustomBase)
{
    auto *button = new QPushButton(caption, parent);
    if (icon != QStyle::SP_CustomBase) {
        button->setIcon(parent->style()->standardIcon(icon));
        button->setIconSize(QSize(16, 16));
    }
    button->setMinimumWidth(width);
    button->setAutoDefault(false);
    return button;
}
