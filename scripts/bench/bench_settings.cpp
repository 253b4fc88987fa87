// A settings file of many device sections (10,000 unless told) through the
// program: a --copy run of one of them, the window's start, and Save
// Settings; each should take about as long as with one section.

#include "app/Application.h"
#include "app/ConsoleRun.h"
#include "app/ProgramFolders.h"
#include "app/Unit1.h"
#include "base/FormatSettings.h"
#include "common/DeviceBuilders.h"
#include "common/FormProbe.h"
#include "device/fake/FakeDeviceService.h"
#include "settings/DeviceSettings.h"
#include "settings/IniFile.h"

#include "WindowBench.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// [Ferrovane], the list (as long as a list may be) and SECTIONS device
// sections of every key, the first of them the device saved last.
void WriteSettings(int sections, const QString &dest)
{
    QDir().mkpath(QFileInfo(IniFilePath).path());
    QFile::remove(IniFilePath);
    const QString model = QDir::tempPath() + QStringLiteral("/bench-settings-model.ini");
    QFile::remove(model);
    IniFile one(model);
    DeviceSettings values;
    values.DeviceName = QStringLiteral("@");
    values.DeviceSerialNo = QStringLiteral("S#");
    values.DestPath = dest;
    WriteDeviceSection(one, QStringLiteral("@"), values, DeviceKeys::All);
    QFile modelFile(model);
    modelFile.open(QIODevice::ReadOnly);
    const QByteArray section = modelFile.readAll();
    QFile::remove(model);

    QByteArray text = "[Ferrovane]\nDeviceCount=" + QByteArray::number(sections) + "\nLastDevice=Cam 0\n[Devices]\n";
    for (int i = 0; i < qMin(sections, 1000); ++i)
        text += "Item" + QByteArray::number(i) + "=Cam " + QByteArray::number(i) + "\n";
    for (int i = 0; i < sections; ++i)
        text += QByteArray(section).replace("@", "Cam " + QByteArray::number(i)).replace("#", QByteArray::number(i));
    QFile file(IniFilePath);
    file.open(QIODevice::WriteOnly);
    file.write(text);
}

double Seconds(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char *argv[])
{
    const WindowBenchFolders benchFolders;
    Application app(argc, argv);
    InitFormatSettingsFromSystem();
    SetProgramFolders();
    const int sections = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;
    QTemporaryDir dest;
    FakeDeviceService service;
    AddCamera(service, QStringLiteral("usb:cam"), QStringLiteral("Cam"), QStringLiteral("0"), QStringLiteral("S0"));
    WriteSettings(sections, dest.path());
    std::printf("Settings file of %d device sections: %lld KiB\n", sections, QFileInfo(IniFilePath).size() / 1024);

    // --copy prints its log on standard output: kept out of the report.
    std::fflush(stdout);
    const int savedOut = ::dup(1);
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, 1);
    QElapsedTimer clock;
    clock.start();
    const int code = CopyDevice(QStringLiteral("Cam 0"), QString(), service);
    const double copy = Seconds(clock);
    std::fflush(stdout);
    ::dup2(savedOut, 1);
    std::printf("--copy of one device:  %.2f s (exit code %d)\n", copy, code);

    clock.restart();
    TForm1 form(service);
    form.show();
    while (!(FormProbe::Idle(form) && FormProbe::Session(form).HoldsListing()) && clock.elapsed() < 120000)
        QTest::qWait(5);
    std::printf("window start:          %.2f s\n", Seconds(clock));

    clock.restart();
    FormProbe::SaveSettingsBitBtn(form)->click();
    std::printf("Save Settings:         %.2f s\n", Seconds(clock));
    return 0;
}
