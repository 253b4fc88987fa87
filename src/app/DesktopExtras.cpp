#include "DesktopExtras.h"

#include "app/Help.h"
#include "app/Version.h"
#include "log/About.h"
#include "log/LogSink.h"
#include "log/ProgramIcon.h"
#include "settings/VCLStyleSelector.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QProcess>
#include <QStandardPaths>

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

void OpenLogFolder(QObject *context, LogSink &log, const QString &folder)
{
    auto fail = [&log, folder](const QString &reason) {
        log.WriteLog(QStringLiteral("Could not open the log folder ") + folder + QStringLiteral(": ") + reason,
                     LogColor::Red);
    };
    // xdg-open's exit code is the only word on whether a file manager took
    // the folder.
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
        fail(QStringLiteral("xdg-open was not found, so no file manager can be asked to show it."));
        return;
    }
    auto *opener = new QProcess(context);
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(opener, &QProcess::finished, context, [opener, fail](int code, QProcess::ExitStatus status) {
        opener->deleteLater();
        if (status != QProcess::NormalExit)
            fail(QStringLiteral("xdg-open ended abnormally."));
        else if (code == 3)
            fail(QStringLiteral("no file manager is set up to open folders (xdg-open: no method available)."));
        else if (code != 0)
            fail(QStringLiteral("xdg-open ended with code %1.").arg(code));
    });
    QObject::connect(opener, &QProcess::errorOccurred, context, [opener, fail](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        opener->deleteLater();
        fail(QStringLiteral("the shell could not be started."));
    });
    // Through a shell that waits for it: a file manager that xdg-open keeps in
    // the foreground then outlives this program.
    opener->start(QStringLiteral("/bin/sh"),
                  {QStringLiteral("-c"), QStringLiteral("xdg-open \"$1\"; exit $?"), QStringLiteral("sh"), folder});
}
