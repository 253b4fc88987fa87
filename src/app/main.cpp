#include "app/Unit1.h"
#include "device/SystemDeviceService.h"
#include "settings/FormatSettings.h"

#include <QApplication>

#include <clocale>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // QApplication adopted the user's locale for the C library; number
    // parsing must not depend on it.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Ferrovane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ferrovane"));
    InitFormatSettingsFromSystem();

    const std::unique_ptr<DeviceService> devices = CreateSystemDeviceService();
    TForm1 form(*devices);
    form.show();
    return app.exec();
}
