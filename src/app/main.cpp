#include "app/Application.h"
#include "app/ConsoleRun.h"
#include "app/ProgramArguments.h"
#include "app/SingleInstance.h"
#include "app/Unit1.h"
#include "base/FormatSettings.h"
#include "device/SystemDeviceService.h"

#include <QDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    // The arguments are read before any display is opened: --help,
    // --version, --list, --copy and --add-folder need none, and a mistake is
    // said the same way with a display or without one.
    QStringList given;
    for (int i = 0; i < argc; ++i)
        given << QString::fromLocal8Bit(argv[i]);
    const ProgramArguments early = ParseProgramArguments(WithoutToolkitOptions(given), QDir::currentPath());
    if (!early.error.isEmpty() || early.mode != ProgramArguments::Mode::Window)
        return RunWithoutWindow(argc, argv, early);

    Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrovane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ferrovane"));
    QGuiApplication::setDesktopFileName(QStringLiteral("ferrovane"));

    // What is left once the toolkit took its own options (-platform, -style, ...).
    const ProgramArguments arguments = ParseProgramArguments(QCoreApplication::arguments(), QDir::currentPath());
    if (!arguments.error.isEmpty()) {
        std::fprintf(stderr, "ferrovane: %s\nTry \"ferrovane --help\".\n", qPrintable(arguments.error));
        return 2;
    }

    // Logout, shutdown and Ctrl+C close the window as the Close button does
    // (a copy run is stopped, the log and the window's place are saved), but
    // ask nothing: nobody may be there to answer.
    TForm1 *window = nullptr;
    app.CatchExitSignals([&window] {
        if (window)
            window->CloseWithoutQuestion();
        // A dialog may still be open; every event loop ends here.
        QCoreApplication::quit();
    });

    // A second start brings the first one forward and ends without a window,
    // a log or a change to the settings.
    SingleInstance instance(SingleInstance::DefaultKey());
    if (!instance.Claim()) {
        instance.NotifyRunning(arguments.location);
        return 0;
    }

    InitFormatSettingsFromSystem();
    const std::unique_ptr<DeviceService> devices = CreateSystemDeviceService();
    TForm1 form(*devices);
    window = &form;
    form.WatchDevices();
    QObject::connect(&instance, &SingleInstance::RaiseRequested, &form, &TForm1::BringToFront);
    QObject::connect(&instance, &SingleInstance::LocationRequested, &form, &TForm1::OpenLocation);
    if (!arguments.location.isEmpty())
        form.OpenLocation(arguments.location);
    form.show();
    app.exec();
    return 0;
}
