#include "app/Application.h"
#include "app/Unit1.h"
#include "device/SystemDeviceService.h"
#include "settings/FormatSettings.h"


int main(int argc, char *argv[])
{
    Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrovane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ferrovane"));
    InitFormatSettingsFromSystem();

    const std::unique_ptr<DeviceService> devices = CreateSystemDeviceService();
    TForm1 form(*devices);
    form.show();
    return app.exec();
}
