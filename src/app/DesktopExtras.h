#pragma once

#include <QList>
#include <utility>

class HelpHandler;
class LogSink;
class QAbstractButton;
class QMainWindow;
class QObject;
class QStatusBar;
class QWidget;
class SettingsStore;
class TAboutForm;
class TVCLStyleSelectorForm;

// What the main window owns besides its own controls: the help handler, the
// about box and the style selector, made once at start and kept, and the
// program's icon on every window.
struct DesktopExtras
{
    HelpHandler *Help = nullptr;
    TAboutForm *AboutForm = nullptr;
    TVCLStyleSelectorForm *StyleSelector = nullptr;
};

// Makes them, children of the main window, and connects the Help, About and
// Change Style buttons. The style selector stores the chosen style in
// `settings`; `dialogContexts`: the help context of each dialog.
DesktopExtras InstallDesktopExtras(QMainWindow *mainWindow, LogSink &log, SettingsStore &settings,
                                   QStatusBar *statusBar, QAbstractButton *helpButton, QAbstractButton *aboutButton,
                                   QAbstractButton *changeStyleButton,
                                   const QList<std::pair<QWidget *, int>> &dialogContexts);

// Asks the desktop's file manager to show the log folder; what keeps it from
// doing so is said in the log.
void OpenLogFolder(QObject *context, LogSink &log, const QString &folder);
