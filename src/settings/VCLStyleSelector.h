#pragma once

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>

class QStyle;
class SettingsStore;

// A small window drawn in one style: caption bar, menu bar, three tool
// buttons and push buttons in their normal, hot, pressed and disabled states.
class StylePreview : public QWidget
{
    Q_OBJECT
public:
    explicit StylePreview(QWidget *parent = nullptr);
    ~StylePreview() override;

    void SetStyleName(const QString &name);
    const QString &StyleName() const { return name_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString name_;
    QPalette palette_;
    QStyle *style_;
};

// The style selector: lists the styles, previews the one clicked and, on a
// double-click (or Enter), stores it as the style of the next start.
class TVCLStyleSelectorForm : public QDialog
{
    Q_OBJECT
public:
    // The chosen style is stored in the settings.
    explicit TVCLStyleSelectorForm(SettingsStore &settings, QWidget *parent = nullptr);

    QLabel *Label1;
    QListWidget *StyleListBox1;
    QFrame *Panel1;
    StylePreview *Preview;
    QPushButton *CloseButton;

    void BuildStyleList();
    void StyleListBox1Click();
    void StyleListBox1DblClick();
    void CloseButtonClick();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    SettingsStore &settings_;
    bool building_ = false;
};
