#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTextBrowser>
#include <QUrl>

#include <functional>

class LogSink;
class QStatusBar;

class QWidget;

// Help: HTML pages opened in the desktop's browser, or in a viewer of our
// own where the desktop has none. A help context number N is the anchor
// "ctxN" of the start page.

inline constexpr char kHelpContextProperty[] = "HelpContext";

// The help context of a control: its own number, else that of the nearest
// enclosing control that has one, up to its window; 0 when none has one.
int HelpContextFor(const QWidget *control);

// The start page: beside the program, where an install puts it
// (../share/ferrovane/help), or in the build tree; HelpFilePath when none
// of them exists.
QString FindHelpFile();

// The address of a topic; context 0 is the start page.
QUrl HelpUrl(const QString &helpFile, int context);

// The desktop has a program to show web pages: xdg-open and a browser it
// knows of.
bool DesktopCanShowPages();
// Hands the page to the desktop; false when it cannot show it.
bool OpenOnDesktop(const QUrl &url);

// The program's help handler: the Help button's start page, and F1 in any
// window for the focused control's topic. When the page cannot be opened it
// says so in the log and the status bar.
class HelpHandler : public QObject
{
    Q_OBJECT
public:
    static constexpr int HELP_CONTEXT = 1;

    HelpHandler(LogSink &log, QStatusBar *statusBar, QObject *parent = nullptr);
    ~HelpHandler() override;

    void ShowHelp();
    // A help request; command HELP_CONTEXT opens topic data. Other commands
    // do nothing. Never leaves help to the toolkit: the result is always false.
    bool HH(int command, int data);
    // How pages go to the desktop (tests stand in for it); false when it cannot show them.
    void SetOpener(std::function<bool(const QUrl &)> opener) { opener_ = std::move(opener); }
    // Our own viewer, once it has been needed.
    QTextBrowser *Viewer() const { return viewer_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Open(const QUrl &url, const QString &file);
    void ShowInViewer(const QUrl &url);

    LogSink &log_;
    QStatusBar *statusBar_;
    std::function<bool(const QUrl &)> opener_;
    QPointer<QTextBrowser> viewer_;
};
