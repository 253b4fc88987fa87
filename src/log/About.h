#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

class LogSink;

// The about box: the program's picture, name, description, rights lines,
// version and web address. A double-click on the second rights line raises
// a test exception, to try the exception report.
class TAboutForm : public QDialog
{
    Q_OBJECT
public:
    // versionText: the line shown under the rights lines.
    TAboutForm(LogSink &log, QString versionText, QWidget *parent = nullptr);

    QLabel *ProgramIcon;
    QLabel *TitleLabel;
    QLabel *SubTitleLabel;
    QLabel *CopyrightLabel;
    QLabel *RightsLabel;
    QLabel *Version;
    QLabel *URLLabel;
    QPushButton *CloseButton;

    // The web address shown, without its scheme.
    static QString WebAddress();

    void URLClick();
    void CloseForm();
    [[noreturn]] void CreateTestException();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void FormShow();

    LogSink &log_;
    QString versionText_;
};
