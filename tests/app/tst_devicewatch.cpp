#include "common/DeviceBuilders.h"
#include "common/FormTest.h"
#include "common/IniTestFiles.h"
#include "common/TestMain.h"

#include "app/Unit1.h"
#include "device/DeviceWatcher.h"
#include "device/fake/FakeDeviceService.h"

#include <QComboBox>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <atomic>
#include <thread>

// A monitor that says what the test tells it to.
class FakeSource : public DeviceEventSource
{
public:
    void Fire() { emit Changed(); }
};

// Devices noticed as they come and go: the mount table, the watcher's
// timing, and the real window's device list following a fake device service.
class TestDeviceWatch : public QObject
{
    Q_OBJECT

private:
    FakeDeviceService service_;
    std::unique_ptr<TForm1> form_;
    FakeSource *source_ = nullptr;
    // Holding a copy run at its first read.
    std::atomic<bool> held_{false};
    std::atomic<bool> release_{false};

    void Start(const QByteArray &ini)
    {
        WriteIni(ini);
        StartForm(form_, service_);
        source_ = new FakeSource;
        form_->Session->Watcher().AddSource(source_);
        form_->Session->Watcher().SetSettleTime(0);
    }
    // The colour of the newest line with this text; an empty one when none has it.
    std::optional<LogColor> Line(const QString &text) const
    {
        const LogDocument &doc = form_->Log.Document();
        for (qsizetype i = doc.LineCount() - 1; i >= 0; --i)
            if (doc.Line(i).text == text)
                return doc.Line(i).color;
        return std::nullopt;
    }
    int Listed() const { return form_->StringGrid2->RowCount() - 2; }  // less the header and the empty row
    // Plugs in the Canon (serial S1) or the Nikon (N1) and tells the watcher.
    void Plug(bool canon)
    {
        const QStringList d =
            canon ? QStringList{"usb:canon", "Canon", "EOS", "S1"} : QStringList{"usb:nikon", "Nikon", "Z6", "N1"};
        AddCamera(service_, d[0], d[1], d[2], d[3]);
        if (source_)
            source_->Fire();
    }

private slots:
    void init() { SetProgramFolders(); }
    void cleanup()
    {
        release_ = true;
        source_ = nullptr;
        form_.reset();
        service_.devices.clear();
        service_.onGetValues = nullptr;
    }

    // Only a change of the mount points counts, not of their options.
    void mountTable_data()
    {
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<int>("changes");
        const QByteArray root = "20 1 8:1 / / rw - ext4 /dev/sda1 rw\n";
        const QByteArray card = "30 20 8:17 / /media/card rw - vfat /dev/sdb1 rw\n";
        QTest::newRow("card taken out") << root << 1;
        QTest::newRow("options only") << QByteArray("20 1 8:1 / / ro - ext4 /dev/sda1 ro\n"
                                                    "30 20 8:17 / /media/card rw,noatime - vfat /dev/sdb1 rw\n")
                                      << 0;
        QTest::newRow("another card in its place") << root + "31 20 8:33 / /media/card rw - vfat /dev/sdc1 rw\n" << 1;
        QTest::newRow("one more") << root + card + "32 20 8:1 /x /media/a\\040b rw - ext4 /dev/sda1 rw\n" << 1;
    }
    void mountTable()
    {
        QFETCH(QByteArray, after);
        QFETCH(int, changes);
        QTemporaryFile table;
        QVERIFY(table.open());
        table.write("20 1 8:1 / / rw - ext4 /dev/sda1 rw\n30 20 8:17 / /media/card rw - vfat /dev/sdb1 rw\n");
        table.flush();
        MountEventSource source(table.fileName());
        QVERIFY(source.IsOpen());
        QSignalSpy changed(&source, &DeviceEventSource::Changed);
        QVERIFY(table.resize(0) && table.seek(0) && table.write(after) == after.size() && table.flush());
        source.Check();
        source.Check();  // read again, nothing new
        QCOMPARE(changed.count(), changes);
    }

    // A burst of events gives one refresh; while the program is busy it waits.
    void burstAndBusy()
    {
        DeviceWatcher watcher;
        auto *source = new FakeSource;
        watcher.AddSource(source);
        watcher.SetSettleTime(10);
        std::atomic<bool> busy = true;
        watcher.SetBusyCheck([&] { return busy.load(); });
        QSignalSpy due(&watcher, &DeviceWatcher::RefreshDue);
        QSignalSpy postponed(&watcher, &DeviceWatcher::Postponed);
        source->Fire();
        source->Fire();
        QTRY_COMPARE(postponed.count(), 1);
        source->Fire();
        QCOMPARE(due.count(), 0);
        busy = false;
        QTRY_COMPARE(due.count(), 1);
        QVERIFY(!watcher.RefreshPending());
        QCOMPARE(postponed.count(), 1);
    }

    // The list gains the new, keeps the choice, drops the listing of a device
    // that went and lists it again when it comes back; one line each.
    void listFollowsDevices()
    {
        Plug(true);
        Start("[Ferrovane]\nDeviceCount=1\nLastDevice=Canon EOS\n[Devices]\nItem0=Canon EOS\n"
              "[Canon EOS]\nDeviceName=Canon EOS\nDeviceSerialNo=S1\nFileFiltersCheckBox=0\n");
        TForm1 &f = *form_;
        QVERIFY(Listed() > 0);
        const qsizetype before = f.Log.Document().LineCount();

        Plug(false);
        QTRY_COMPARE(Line(QStringLiteral("New device found \"Nikon Z6\"")), LogColor::Green);
        QCOMPARE(f.DeviceComboBox->currentText(), QStringLiteral("Canon EOS"));
        QCOMPARE(f.DeviceComboBox->findText(QStringLiteral("Nikon Z6")), 1);
        QVERIFY(Listed() > 0);
        // The listed device's handles are its own again, not the last one scanned.
        QString serial;
        f.Connection.Handles().aPortableDeviceValues->GetStringValue(WPD_DEVICE_SERIAL_NUMBER, serial);
        QCOMPARE(serial, QStringLiteral("S1"));

        service_.RemoveDevice(QStringLiteral("usb:canon"));
        source_->Fire();
        QTRY_COMPARE(Line(QStringLiteral("Device \"Canon EOS\" was disconnected.")), LogColor::Red);
        QCOMPARE(Listed(), 0);
        QCOMPARE(f.DeviceComboBox->currentText(), QStringLiteral("Canon EOS"));

        Plug(true);
        QTRY_COMPARE(Line(QStringLiteral("Device \"Canon EOS\" was connected.")), LogColor::Green);
        QTRY_VERIFY(Listed() > 0);
        WaitIdle(f);
        // Quiet: none of a scan's own lines.
        const QStringList lines = LogTexts(f.Log, before);
        QVERIFY2(lines.filter(QStringLiteral("Found.")).isEmpty() && lines.filter(QStringLiteral("found.")).isEmpty(),
                 qPrintable(lines.join('\n')));
    }

    // A device set to be copied when connected (in the file, while the
    // program runs) is listed and copied when it comes; a change noticed
    // during the run waits for its end.
    void copyWhenConnected()
    {
        QTemporaryDir dest;
        const QByteArray ini = "[Ferrovane]\nDeviceCount=1\nLastDevice=\n[Devices]\nItem0=Canon EOS\n"
                               "[Canon EOS]\nDeviceName=Canon EOS\nDeviceSerialNo=S1\nFileFiltersCheckBox=0\n"
                               "DestPath=" +
                               dest.path().toUtf8() + "\n";
        Start(ini);
        WriteIni(ini + "CopyOnConnect=1\n");
        TForm1 &f = *form_;
        held_ = release_ = false;
        // The picture's properties are read by the listing, then by the copy run: held there.
        service_.onGetValues = [this, reads = 0](const QString &id) mutable {
            if (id != QLatin1String("/store_S1/IMG_S1.JPG") || ++reads < 2)
                return;
            held_ = true;
            while (!release_)
                std::this_thread::yield();
        };
        Plug(true);
        QTRY_VERIFY(held_);
        QCOMPARE(Line(QStringLiteral("Device \"Canon EOS\" is copied as it was connected.")), LogColor::Blue);
        QCOMPARE(f.DeviceComboBox->currentText(), QStringLiteral("Canon EOS"));

        QSignalSpy postponed(&f.Session->Watcher(), &DeviceWatcher::Postponed);
        Plug(false);
        QTRY_COMPARE(postponed.count(), 1);
        QVERIFY(!Line(QStringLiteral("New device found \"Nikon Z6\"")));
        release_ = true;
        WaitIdle(f);
        QTRY_VERIFY(Line(QStringLiteral("New device found \"Nikon Z6\"")));
        QFile copy(dest.path() + QStringLiteral("/2016-08-13/IMG_S1.JPG"));
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), QByteArray("x"));
    }
};

FERROVANE_TEST_MAIN(TestDeviceWatch)
#include "tst_devicewatch.moc"
