#include "DesktopExtras.h"

#include "app/Help.h"
#include "app/Version.h"
#include "log/About.h"
#include "log/ProgramIcon.h"
#include "settings/VCLStyleSelector.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>

DesktopExtras InstallDesktopExtras(QMainWindow *mainWindow, LogSink &log, SettingsStore &settings,
                                   QStatusBar *statusBar, QAbstractButton *helpButton, QAbstractButton *aboutButton,
                                   QAbstractButton *changeStyleButton,
                                   const QList<std::pair<QWidget *, int>> &dialogContexts)
{
    QApplication::setWindowIcon(ProgramIcon());
    for (const auto &[dialog, context] : dialogContexts)
        if (dialog && dialog->property(kHelpContextProperty).toInt() == 0)
            dialog->setProperty(kHelpContextProperty, context);

    DesktopExtras extras;
    extras.Help = new HelpHandler(log, statusBar, mainWindow);
    extras.AboutForm = new TAboutForm(log, GetVersionText(), mainWindow);
    extras.StyleSelector = new TVCLStyleSelectorForm(settings, mainWindow);
    QObject::connect(helpButton, &QAbstractButton::clicked, extras.Help, &HelpHandler::ShowHelp);
    QObject::connect(aboutButton, &QAbstractButton::clicked, extras.AboutForm,
                     [about = extras.AboutForm] { about->exec(); });
    QObject::connect(changeStyleButton, &QAbstractButton::clicked, extras.StyleSelector,
                     [selector = extras.StyleSelector] { selector->exec(); });
    return extras;
}
