#include "app/Application.h"
#include "app/SingleInstance.h"
#include "app/Unit1.h"
#include "device/SystemDeviceService.h"
#include "settings/FormatSettings.h"

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrovane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ferrovane"));
    QGuiApplication::setDesktopFileName(QStringLiteral("ferrovane"));

    // A second start brings the first one forward and ends without a window,
    // a log or a change to the settings.
    SingleInstance instance(SingleInstance::DefaultKey());
    if (!instance.Claim()) {
        instance.NotifyRunning();
        return 0;
    }

    InitFormatSettingsFromSystem();
    const std::unique_ptr<DeviceService> devices = CreateSystemDeviceService();
    TForm1 form(*devices);
    QObject::connect(&instance, &SingleInstance::RaiseRequested, &form, &TForm1::BringToFront);
    form.show();
    app.exec();
    return 0;
}
