// Lists a fake device of 50,000 files in 500 folders over two storages into
// the real main window, offscreen, and reports the time, the rows, the peak
// memory and the time to search for the grid's last name.
//
//   bench_walk [FILES]   (scripts/bench-walk runs 10,000 and 50,000 files and
//                         reports the memory per 10,000 objects listed)

#include "app/Application.h"
#include "app/Unit1.h"
#include "base/FormatSettings.h"
#include "common/FormProbe.h"
#include "device/fake/FakeDeviceService.h"

#include "PeakMemory.h"
#include "WindowBench.h"

#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    const WindowBenchFolders benchFolders;
    Application app(argc, argv);
    InitFormatSettingsFromSystem();
    const int files = argc > 1 ? QByteArray(argv[1]).toInt() : 50000;
    const int folders = 500;

    FakeDeviceService service;
    FakeDevice &phone = service.AddDevice(QStringLiteral("usb:1"), QStringLiteral("Phone"));
    phone.serialNumber = QStringLiteral("BENCH");
    QString lastName;
    for (int s = 0; s < 2; ++s) {
        const QString storage =
            phone
                .AddStorage(s ? QStringLiteral("SD card") : QStringLiteral("Internal shared storage"),
                            QStringLiteral("store_%1").arg(s + 1))
                .id;
        const QString dcim = phone.AddFolder(storage, QStringLiteral("DCIM")).id;
        for (int f = 0; f < folders / 2; ++f) {
            const QString folder = phone.AddFolder(dcim, QStringLiteral("%1CAMERA").arg(100 + f)).id;
            for (int i = 0; i < files / folders; ++i) {
                lastName = QStringLiteral("IMG_%1_%2_%3.JPG")
                               .arg(s)
                               .arg(f, 3, 10, QLatin1Char('0'))
                               .arg(i, 4, 10, QLatin1Char('0'));
                phone.AddSizedFile(folder, lastName, QStringLiteral("IMAGE"), QStringLiteral("2016/08/13:10:22:33.000"),
                                   4u << 20);
            }
        }
    }
    const long baseline = PeakMemoryKiB();

    TForm1 form(service);
    form.show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        app.processEvents();

    const double loadAtStart = LoadAverage();
    const double cpuAtStart = ProcessCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    FormProbe::Connection(form).CurrentDeviceName = QStringLiteral("Phone");
    if (!FormProbe::Connection(form).OpenDevice(QStringLiteral("usb:1"), true)) {
        std::printf("could not open the fake device\n");
        return 1;
    }
    FormProbe::ListDeviceContents(form);
    app.processEvents();  // the view takes in the rows and paints
    const double listSeconds = clock.elapsed() / 1000.0;
    const double listCpuSeconds = ProcessCpuSeconds() - cpuAtStart;

    FormProbe::SearchLabeledEdit(form)->setText(lastName);
    QElapsedTimer searchClock;
    searchClock.start();
    FormProbe::SearchDeviceContents(form);
    app.processEvents();
    const double searchMs = searchClock.nsecsElapsed() / 1e6;
    const bool found = FormProbe::StringGrid1(form)->Row() == FormProbe::StringGrid1(form)->Cells()->RowCount() - 2;

    const long peak = PeakMemoryKiB();
    std::printf("objects: %d files in %d folders over 2 storages\n", files, folders);
    std::printf("listing: %.3f s (%.3f s of CPU; load average %.1f), %d rows shown, %d rows catalogued\n", listSeconds,
                listCpuSeconds, loadAtStart, FormProbe::StringGrid1(form)->Cells()->RowCount() - 2,
                FormProbe::StringGrid2(form)->RowCount() - 2);
    std::printf("search for the last name: %.1f ms (%s)\n", searchMs, found ? "found" : "NOT FOUND");
    std::printf("peak memory: %.1f MB (the fake device itself: %.1f MB; the window and its listing: %.1f MB)\n",
                peak / 1024.0, baseline / 1024.0, (peak - baseline) / 1024.0);
    std::printf("(%s at the end)\n", qPrintable(LoadText()));
    if (files != 50000)
        return 0;
    const bool ok = listSeconds < 0.25 && peak < 64 * 1024 && searchMs < 50 && found;
    std::printf("targets (< 0.25 s, < 64 MB, search < 50 ms): %s\n", ok ? "met" : "MISSED");
    return 0;
}
