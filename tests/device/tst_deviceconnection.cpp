#include "common/LogLines.h"
#include "common/TestMain.h"

#include "device/DeviceConnection.h"
#include "device/DeviceDiscovery.h"
#include "device/fake/FakeDeviceService.h"
#include "log/ActivityLog.h"

namespace {

struct Rig
{
    FakeDeviceService service;
    ActivityLog log;
    DeviceConnection connection{service, log};

    Rig()
    {
        FakeDevice &cam = service.AddDevice(QStringLiteral("usb:002,005"), QStringLiteral("EOS 80D"),
                                            QStringLiteral("Canon Inc."), QStringLiteral("Canon EOS 80D"));
        cam.type = WPD_DEVICE_TYPE_CAMERA;
        cam.model = QStringLiteral("Canon EOS 80D");
        cam.powerSource = WPD_POWER_SOURCE_BATTERY;
        cam.powerLevel = 75;
        cam.serialNumber = QStringLiteral("  0123456789 ");
        connection.CurrentDeviceName = QStringLiteral("Canon EOS 80D");
    }
    FakeDevice &Cam() { return service.devices.front(); }
};

// The device list around a scan: names it knows, and what the scan tells it.
struct FakeDiscoveryHost : DiscoveryHost
{
    QStringList known;
    QStringList added;
    int cleared = 0;
    bool IsKnownDevice(const QString &name) override { return known.contains(name); }
    void AddNewDevice(const QString &name, const QString &serial) override
    {
        known << name;
        added << name + QLatin1Char('|') + serial;
    }
    void ClearCatalogue() override { ++cleared; }
};

const QStringList kHeader = {QStringLiteral("blue bold: DEVICE: Canon EOS 80D"),
                             QStringLiteral("black: DeviceID = usb:002,005")};

}  // namespace

class TestDeviceConnection : public QObject
{
    Q_OBJECT

private slots:
    void init() { DebugFlag = false; }
    void cleanup() { DebugFlag = false; }

    // The display name must survive being written as a list entry and a
    // section name and read back: no line breaks, no blanks at the ends.
    void displayName_data()
    {
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "Canon"
                               << "EOS 80D"
                               << "Canon EOS 80D";
        QTest::newRow("ends trimmed") << " Canon\t"
                                      << "\nEOS "
                                      << "Canon EOS";
        QTest::newRow("line break inside") << "Acme\r\nCorp"
                                           << "Cam\n2"
                                           << "Acme Corp Cam 2";
        QTest::newRow("tab and DEL inside") << "A\t\x7f"
                                               "B"
                                            << "C"
                                            << "A B C";
        QTest::newRow("inner blanks kept") << "A  B"
                                           << "C"
                                           << "A  B C";
        QTest::newRow("no description") << "Maker"
                                        << ""
                                        << "Maker";
        QTest::newRow("no manufacturer") << "\r\n"
                                         << "Model"
                                         << "Model";
        QTest::newRow("nothing") << ""
                                 << ""
                                 << "";
    }
    void scanFillsTheTableAndTheHost()
    {
        Rig rig;
        FakeDevice &phone = rig.service.AddDevice(QStringLiteral("usb:9"), QStringLiteral("Pixel"),
                                                  QStringLiteral("Google\n"), QStringLiteral("Pixel\r\n7"));
        phone.serialNumber = QStringLiteral("P7");
        DeviceDiscovery discovery(rig.connection, rig.log);
        FakeDiscoveryHost host;
        host.known << QStringLiteral("Canon Inc. Canon EOS 80D");
        QCOMPARE(discovery.ScanPortableDevices(host), 2);
        QCOMPARE(host.cleared, 1);
        QCOMPARE(host.added, QStringList{QStringLiteral("Google Pixel 7|P7")});
        QCOMPARE(discovery.ConnectedDeviceCount(), 2);
        QCOMPARE(discovery.ConnectedDevice(0).DeviceSerialNo, QStringLiteral("0123456789"));
        QCOMPARE(discovery.FindDeviceID(QStringLiteral("Google Pixel 7"), QStringLiteral("P7")),
                 QStringLiteral("usb:9"));
        QCOMPARE(discovery.FindDeviceID(QStringLiteral("Google Pixel 7"), QString()), QString());
        const QStringList lines = ColouredLogLines(rig.log);
        QVERIFY(lines.contains(QStringLiteral("blue: Device = Canon Inc. Canon EOS 80D")));
        QVERIFY(lines.contains(QStringLiteral("green: New device found \"Google Pixel 7\"")));

        // A scan that finds nothing keeps the table and the catalogue.
        rig.service.devices.clear();
        QCOMPARE(discovery.ScanPortableDevices(host), 0);
        QCOMPARE(host.cleared, 1);
        QCOMPARE(discovery.ConnectedDeviceCount(), 2);
        QCOMPARE(ColouredLogLines(rig.log).last(), QStringLiteral("red: No Portable Devices found."));
    }

    void displayName()
    {
        QFETCH(QString, manufacturer);
        QFETCH(QString, description);
        QFETCH(QString, name);
        QCOMPARE(DeviceDisplayName(manufacturer, description), name);
    }

    void openReportsTheDevice()
    {
        Rig rig;
        QVERIFY(rig.connection.OpenDevice(QStringLiteral("usb:002,005"), false));
        QCOMPARE(ColouredLogLines(rig.log), (kHeader + QStringList{
                                                           "black: DEVICE TYPE = WPD_DEVICE_TYPE_CAMERA",
                                                           "black: MANUFACTURER: Canon Inc.",
                                                           "black: MODEL: Canon EOS 80D",
                                                           "black: POWER SOURCE = Battery",
                                                           "black: POWER LEVEL = 75%",
                                                           // Shown as the device gives it; only the scan trims it.
                                                           "black: SERIAL No.:   0123456789 ",
                                                       }));
        const DeviceHandles &h = rig.connection.Handles();
        QVERIFY(h.aPortableDeviceManager && h.aPortableDevice && h.aPortableDeviceContent &&
                h.aPortableDeviceProperties && h.aPortableDeviceValues);
    }

    void openInDebugMode()
    {
        Rig rig;
        DebugFlag = true;
        QVERIFY(rig.connection.OpenDevice(QStringLiteral("usb:002,005"), false));
        QCOMPARE(ColouredLogLines(rig.log), (kHeader + QStringList{
                                                           "purple: res aPortableDevice.Open = 0",
                                                           "purple: res aPortableDevice.Content = 0",
                                                           "purple: res aPortableDeviceContent.Properties = 0",
                                                           "purple: res aPortableDeviceProperties.GetValues = 0",
                                                           "purple: res WPD_DEVICE_TYPE = 0",
                                                           "black: DEVICE TYPE = WPD_DEVICE_TYPE_CAMERA",
                                                           "purple: res WPD_DEVICE_MANUFACTURER = 0",
                                                           "black: MANUFACTURER: Canon Inc.",
                                                           "purple: res WPD_DEVICE_MODEL = 0",
                                                           "black: MODEL: Canon EOS 80D",
                                                           "purple: res WPD_DEVICE_POWER_SOURCE = 0",
                                                           "black: POWER SOURCE = Battery",
                                                           "purple: res WPD_DEVICE_POWER_LEVEL = 0",
                                                           "black: POWER LEVEL = 75%",
                                                           "purple: res WPD_DEVICE_SERIAL_NUMBER = 0",
                                                           "black: SERIAL No.:   0123456789 ",
                                                       }));
    }

    void quietWritesOnlyDebugLines()
    {
        Rig rig;
        QVERIFY(rig.connection.OpenDevice(QStringLiteral("usb:002,005"), true));
        QCOMPARE(ColouredLogLines(rig.log), QStringList());

        rig.Cam().openCode = E_DEVICE_BUSY;
        QVERIFY(!rig.connection.OpenDevice(QStringLiteral("usb:002,005"), true));
        QCOMPARE(ColouredLogLines(rig.log), QStringList());

        DebugFlag = true;
        QVERIFY(!rig.connection.OpenDevice(QStringLiteral("usb:002,005"), true));
        QCOMPARE(ColouredLogLines(rig.log),
                 QStringList{QStringLiteral("purple: res aPortableDevice.Open = %1").arg(E_DEVICE_BUSY)});
    }

    // Each failure: the line, its colour, and which handles were replaced.
    void failures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("no manager") << "manager" << QStringList{"red: CoPortableDeviceManager.Create failed."};
        QTest::newRow("no device object") << "device" << QStringList{"red: CoPortableDevice.Create failed."};
        QTest::newRow("no value set") << "values" << QStringList{"black: aPortableDevValues failed."};
        QTest::newRow("open fails") << "open"
                                    << QStringList{"red: aPortableDevice.Open failed. No Portable Devices found.",
                                                   "red: " + DeviceErrorText(E_ACCESSDENIED)};
        QTest::newRow("open says S_FALSE")
            << "open1" << QStringList{"red: aPortableDevice.Open failed. No Portable Devices found."};
        QTest::newRow("device unplugged") << "gone"
                                          << QStringList{"red: aPortableDevice.Open failed. No Portable Devices found.",
                                                         "red: " + DeviceErrorText(E_DEVICE_NOT_CONNECTED)};
        QTest::newRow("device busy") << "busy"
                                     << QStringList{"red: aPortableDevice.Open failed. No Portable Devices found.",
                                                    "red: The device is busy: another program is using it. Most often "
                                                    "the desktop's file manager has opened the camera or phone by "
                                                    "itself. Unmount or eject it in the file manager (or close the "
                                                    "program that uses it), then press Connect."};
        QTest::newRow("content fails") << "content" << QStringList{"red: aPortableDevice.Content failed."};
        QTest::newRow("properties fail") << "properties"
                                         << QStringList{"red: aPortableDeviceContent.Properties failed."};
        QTest::newRow("device values fail")
            << "getvalues" << QStringList{"red: aPortableDeviceProperties.GetValues failed."};
    }
    void failures()
    {
        QFETCH(QString, failure);
        QFETCH(QStringList, lines);
        Rig rig;
        // Handles of an earlier, successful open.
        QVERIFY(rig.connection.OpenDevice(QStringLiteral("usb:002,005"), true));
        const DeviceHandles before = rig.connection.Handles();

        FakeDevice &cam = rig.Cam();
        if (failure == QLatin1String("manager"))
            rig.service.managerCreateFails = true;
        else if (failure == QLatin1String("device"))
            rig.service.deviceCreateFails = true;
        else if (failure == QLatin1String("values"))
            rig.service.valuesCreateFails = true;
        else if (failure == QLatin1String("open"))
            cam.openCode = E_ACCESSDENIED;
        else if (failure == QLatin1String("busy"))
            cam.openCode = -53;
        else if (failure == QLatin1String("open1"))
            cam.openCode = S_FALSE;
        else if (failure == QLatin1String("gone"))
            rig.service.RemoveDevice(QStringLiteral("usb:002,005"));
        else if (failure == QLatin1String("content"))
            cam.contentCode = E_FAIL;
        else if (failure == QLatin1String("properties"))
            cam.propertiesCode = E_FAIL;
        else if (failure == QLatin1String("getvalues"))
            cam.Object(QStringLiteral("DEVICE")).getValuesCode = E_FAIL;

        QVERIFY(!rig.connection.OpenDevice(QStringLiteral("usb:002,005"), false));
        QCOMPARE(ColouredLogLines(rig.log), kHeader + lines);

        // What the open reached before failing is replaced; nothing is restored.
        const DeviceHandles &after = rig.connection.Handles();
        if (failure == QLatin1String("manager")) {
            QVERIFY(!after.aPortableDeviceManager);
            QCOMPARE(after.aPortableDevice, before.aPortableDevice);
        } else {
            QVERIFY(after.aPortableDeviceManager);
            QVERIFY(after.aPortableDeviceManager != before.aPortableDeviceManager);
        }
        if (failure == QLatin1String("content"))
            QVERIFY(!after.aPortableDeviceContent);

        // With Quiet nothing is written, and the scan's serial read reports
        // the failure regardless.
        ActivityLog quietLog;
        DeviceConnection quiet(rig.service, quietLog);
        QVERIFY(!quiet.OpenDevice(QStringLiteral("usb:002,005"), true));
        QCOMPARE(ColouredLogLines(quietLog), QStringList());
        QCOMPARE(quiet.GetDeviceSerialNo(QStringLiteral("usb:002,005")), QString());
        QCOMPARE(ColouredLogLines(quietLog), lines);
    }

    // GetValues answering S_FALSE counts as success.
    void getValuesSFalseIsSuccess()
    {
        Rig rig;
        rig.Cam().Object(QStringLiteral("DEVICE")).getValuesCode = S_FALSE;
        QVERIFY(rig.connection.OpenDevice(QStringLiteral("usb:002,005"), false));
    }

    void informationLines_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<uint>("source");
        QTest::addColumn<uint>("level");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("phone on mains") << 3u << 1u << 100u
                                        << QStringList{"black: DEVICE TYPE = WPD_DEVICE_TYPE_PHONE",
                                                       "black: POWER SOURCE = External", "black: POWER LEVEL = 100%"};
        QTest::newRow("level 0 gives no level line")
            << 2u << 0u << 0u
            << QStringList{"black: DEVICE TYPE = WPD_DEVICE_TYPE_MEDIA_PLAYER", "black: POWER SOURCE = Battery"};
        QTest::newRow("source 2 gives no source line")
            << 6u << 2u << 1u
            << QStringList{"black: DEVICE TYPE = WPD_DEVICE_TYPE_AUDIO_RECORDER", "black: POWER LEVEL = 1%"};
        QTest::newRow("generic") << 0u << 0u << 5u
                                 << QStringList{"black: DEVICE TYPE = WPD_DEVICE_TYPE_GENERIC",
                                                "black: POWER SOURCE = Battery", "black: POWER LEVEL = 5%"};
        QTest::newRow("video") << 4u << 0u << 5u
                               << QStringList{"black: DEVICE TYPE = WPD_DEVICE_TYPE_VIDEO",
                                              "black: POWER SOURCE = Battery", "black: POWER LEVEL = 5%"};
        QTest::newRow("pim") << 5u << 0u << 5u
                             << QStringList{"black: DEVICE TYPE = WPD_DEVICE_TYPE_PERSONAL_INFORMATION_MANAGER",
                                            "black: POWER SOURCE = Battery", "black: POWER LEVEL = 5%"};
        QTest::newRow("type above 6") << 9u << 0u << 5u
                                      << QStringList{"black: DEVICE TYPE = WPD_DEVICE_TYPE_UNKNOWN (9)",
                                                     "black: POWER SOURCE = Battery", "black: POWER LEVEL = 5%"};
    }
    void informationLines()
    {
        QFETCH(uint, type);
        QFETCH(uint, source);
        QFETCH(uint, level);
        QFETCH(QStringList, expected);
        Rig rig;
        rig.Cam().type = type;
        rig.Cam().powerSource = source;
        rig.Cam().powerLevel = level;
        rig.Cam().AddStorage(QStringLiteral("Internal shared storage"), QStringLiteral("s1"));
        QVERIFY(rig.connection.OpenDevice(QStringLiteral("usb:002,005"), false));
        QStringList lines = ColouredLogLines(rig.log);
        lines = lines.filter(QRegularExpression(QStringLiteral("DEVICE TYPE|POWER")));
        QCOMPARE(lines, expected);
    }

    // A phone without a storage is locked or not set to transfer files: it
    // is not open, and the log says what to do. A camera without a card is
    // open (and lists as empty), as is a phone whose storages cannot be listed.
    void lockedPhone_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<QString>("maker");
        QTest::addColumn<bool>("storage");
        QTest::addColumn<HRESULT>("listing");
        QTest::addColumn<bool>("open");
        const QString android = QStringLiteral("Google");
        const QString apple = QStringLiteral("Apple Inc.");
        QTest::newRow("locked phone") << 3u << android << false << S_OK << false;
        QTest::newRow("unlocked phone") << 3u << android << true << S_OK << true;
        QTest::newRow("phone whose listing fails") << 3u << android << false << E_FAIL << true;
        QTest::newRow("camera without a card") << 1u << android << false << S_OK << true;
        QTest::newRow("locked iPhone, as a camera") << 1u << apple << false << S_OK << false;
        QTest::newRow("unlocked iPhone") << 1u << apple << true << S_OK << true;
    }
    void lockedPhone()
    {
        QFETCH(uint, type);
        QFETCH(QString, maker);
        QFETCH(bool, storage);
        QFETCH(HRESULT, listing);
        QFETCH(bool, open);
        const QString line =
            maker.startsWith(QLatin1String("Apple"))
                ? QStringLiteral("red bold: The iPhone shows no storage: unlock it and tap \"Trust\" on the phone "
                                 "(trust this computer), then press Connect.")
                : QStringLiteral("red bold: The phone shows no storage: unlock it and allow file transfer (USB: File "
                                 "transfer / MTP), then press Connect.");
        for (bool quiet : {false, true}) {
            Rig rig;
            rig.Cam().type = type;
            rig.Cam().manufacturer = maker;
            if (storage)
                rig.Cam().AddStorage(QStringLiteral("Internal shared storage"), QStringLiteral("s1"));
            rig.Cam().Object(QStringLiteral("DEVICE")).enumObjectsCode = listing;
            QCOMPARE(rig.connection.OpenDevice(QStringLiteral("usb:002,005"), quiet), open);
            QCOMPARE(ColouredLogLines(rig.log).contains(line), !open);
            QCOMPARE(rig.connection.RefusalSaid(), !open);
        }
    }

    // A property the device does not report gives no line, never the value
    // of another property.
    void missingPropertiesGiveNoLine()
    {
        Rig rig;
        rig.Cam().missingDeviceProperties = {WPD_DEVICE_TYPE, WPD_DEVICE_MODEL, WPD_DEVICE_POWER_SOURCE,
                                             WPD_DEVICE_POWER_LEVEL, WPD_DEVICE_SERIAL_NUMBER};
        DebugFlag = true;
        QVERIFY(rig.connection.OpenDevice(QStringLiteral("usb:002,005"), false));
        const QStringList lines = ColouredLogLines(rig.log);
        QCOMPARE(lines.filter(QStringLiteral("black:")),
                 (QStringList{"black: DeviceID = usb:002,005", "black: MANUFACTURER: Canon Inc."}));
        QVERIFY(lines.contains(QStringLiteral("purple: res WPD_DEVICE_MODEL = %1").arg(E_NOT_FOUND)));
        QVERIFY(E_NOT_FOUND < 0);
    }

    void serialNumber_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "ABC123"
                               << "ABC123";
        QTest::newRow("blanks around") << "  ABC 123 "
                                       << "ABC 123";
        QTest::newRow("control characters") << "\t\r\nABC\x01\x1f"
                                            << "ABC";
        QTest::newRow("blanks only") << "    "
                                     << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("non-ASCII kept") << " Gerät-Ω "
                                        << "Gerät-Ω";
    }
    void serialNumber()
    {
        QFETCH(QString, serial);
        QFETCH(QString, expected);
        Rig rig;
        rig.Cam().serialNumber = serial;
        QCOMPARE(rig.connection.GetDeviceSerialNo(QStringLiteral("usb:002,005")), expected);
        QCOMPARE(ColouredLogLines(rig.log), QStringList());  // nothing outside debug mode
    }

    void serialNumberDebugLines()
    {
        Rig rig;
        DebugFlag = true;
        QCOMPARE(rig.connection.GetDeviceSerialNo(QStringLiteral("usb:002,005")), QStringLiteral("0123456789"));
        QCOMPARE(ColouredLogLines(rig.log), (QStringList{
                                                "purple: DEVICE ID: usb:002,005",
                                                "purple: res aPortableDevice.Open = 0",
                                                "purple: res aPortableDevice.Content = 0",
                                                "purple: res aPortableDeviceContent.Properties = 0",
                                                "purple: res aPortableDeviceProperties.GetValues = 0",
                                                "purple: res WPD_DEVICE_SERIAL_NUMBER = 0",
                                                "purple: SERIAL No.:   0123456789 ",
                                            }));
    }

    void noSerialNumberGivesEmpty()
    {
        Rig rig;
        rig.Cam().missingDeviceProperties = {WPD_DEVICE_SERIAL_NUMBER};
        QCOMPARE(rig.connection.GetDeviceSerialNo(QStringLiteral("usb:002,005")), QString());
    }

    // Every open makes new handles; the scan leaves those of the last device.
    void everyOpenReplacesTheHandles()
    {
        Rig rig;
        rig.service.AddDevice(QStringLiteral("usb:003,001"), QStringLiteral("Phone")).serialNumber =
            QStringLiteral("P1");
        QVERIFY(rig.connection.OpenDevice(QStringLiteral("usb:002,005"), true));
        const auto first = rig.connection.Handles().aPortableDevice;
        QCOMPARE(rig.connection.GetDeviceSerialNo(QStringLiteral("usb:003,001")), QStringLiteral("P1"));
        QVERIFY(rig.connection.Handles().aPortableDevice != first);
        QCOMPARE(rig.service.managersCreated, 2);
        QCOMPARE(rig.service.devicesCreated, 2);
        QString serial;
        rig.connection.Handles().aPortableDeviceValues->GetStringValue(WPD_DEVICE_SERIAL_NUMBER, serial);
        QCOMPARE(serial, QStringLiteral("P1"));
    }

    // A creation that fails with an error ends the operation with it.
    void creationErrorPropagates()
    {
        Rig rig;
        rig.service.createThrows = true;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, rig.connection.OpenDevice(QStringLiteral("usb:002,005"), false));
    }
};

FERROVANE_TEST_MAIN(TestDeviceConnection)
#include "tst_deviceconnection.moc"
