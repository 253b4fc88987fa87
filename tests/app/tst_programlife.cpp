#include "common/DeviceBuilders.h"
#include "common/FormTest.h"
#include "common/IniTestFiles.h"
#include "common/ModalWatcher.h"
#include "common/TestMain.h"

#include "app/ProgramFolders.h"
#include "app/SingleInstance.h"
#include "app/Unit1.h"
#include "device/fake/FakeDeviceService.h"
#include "log/Exception.h"
#include "log/LogFiles.h"
#include "log/RtfWriter.h"
#include "settings/IniFile.h"
#include "settings/SpinEdit.h"
#include "settings/Unit4.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTextDocumentFragment>
#include <QToolButton>

#include <csignal>
#include <sys/stat.h>
#include <utime.h>

namespace {

struct Run
{
    QString text;
    QString color;
    bool bold;
};

// unrtf's HTML as runs of text with their colour and weight, one list per line.
QList<QList<Run>> ParseUnrtfHtml(const QString &html)
{
    QList<QList<Run>> lines{{}};
    QStringList colors{QStringLiteral("#000000")};
    int bold = 0;
    const qsizetype body = html.indexOf(QStringLiteral("<body>"));
    qsizetype i = body < 0 ? 0 : body + 6;
    QString text;
    auto flush = [&] {
        if (!text.isEmpty())
            lines.last().append(Run{text, colors.last(), bold > 0});
        text.clear();
    };
    while (i < html.size()) {
        if (html.at(i) == QLatin1Char('<')) {
            flush();
            const qsizetype end = html.indexOf(QLatin1Char('>'), i);
            const QString tag = html.mid(i + 1, end - i - 1);
            if (tag.startsWith(QStringLiteral("font color=\"")))
                colors << tag.mid(12, 7).toLower();
            else if (tag.startsWith(QStringLiteral("font")))
                colors << colors.last();
            else if (tag == QLatin1String("/font") && colors.size() > 1)
                colors.removeLast();
            else if (tag == QLatin1String("b"))
                ++bold;
            else if (tag == QLatin1String("/b"))
                --bold;
            else if (tag == QLatin1String("br"))
                lines.append(QList<Run>());
            i = end + 1;
        } else if (html.at(i) == QLatin1Char('&')) {
            const qsizetype end = html.indexOf(QLatin1Char(';'), i);
            const QString entity = html.mid(i + 1, end - i - 1);
            if (entity.startsWith(QLatin1Char('#')))
                text += QChar(char16_t(entity.mid(1).toUInt()));
            else if (entity == QLatin1String("amp"))
                text += QLatin1Char('&');
            else if (entity == QLatin1String("lt"))
                text += QLatin1Char('<');
            else if (entity == QLatin1String("gt"))
                text += QLatin1Char('>');
            else if (entity == QLatin1String("quot"))
                text += QLatin1Char('"');
            else  // named letters such as &Auml;
                text += QTextDocumentFragment::fromHtml(QLatin1Char('&') + entity + QLatin1Char(';')).toPlainText();
            i = end + 1;
        } else {
            if (html.at(i) != QLatin1Char('\n'))
                text += html.at(i);
            ++i;
        }
    }
    flush();
    return lines;
}

void SetAge(const QString &path, qint64 secondsAgo)
{
    const time_t when = time(nullptr) - secondsAgo;
    utimbuf times{when, when};
    utime(QFile::encodeName(path).constData(), &times);
}

}  // namespace

class TestProgramLife : public QObject
{
    Q_OBJECT

private:
    FakeDeviceService service_;
    std::unique_ptr<TForm1> form_;

    void Start() { StartForm(form_, service_); }
    QStringList Log(qsizetype from = 0) const { return LogTexts(form_->Log, from); }
    FakeDevice &AddCamera(const QString &id, const QString &maker, const QString &model, const QString &serial)
    {
        return ::AddCamera(service_, id, maker, model, serial);
    }
    // The sockets that running instances listen on; none before a start.
    static QStringList InstanceSockets()
    {
        return QDir(qEnvironmentVariable("XDG_RUNTIME_DIR"))
            .entryList({QStringLiteral("ferrovane-*.socket")}, QDir::System);
    }
    static void RemoveInstanceFiles()
    {
        QDir runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
        for (const QString &name : runtime.entryList({QStringLiteral("ferrovane-*")}, QDir::Files | QDir::System))
            runtime.remove(name);
    }
    static QStringList LogFiles()
    {
        return QDir(UserDataFolder).entryList({QStringLiteral("Ferrovane Log *.rtf")}, QDir::Files);
    }

private slots:
    void init()
    {
        SetProgramFolders();
        QDir(UserDataFolder).removeRecursively();
        QDir().mkpath(UserDataFolder);
        service_.devices.clear();
        DebugFlag = false;
    }
    void cleanup()
    {
        form_.reset();
        DebugFlag = false;
    }

    void firstStart()
    {
        Start();
        QCOMPARE(Log(), (QStringList{"Settings Loaded.", "Ferrovane - Version 1.2 Release 0 Build 1",
                                     "0 Devices Found.", "No Portable Devices found.",
                                     "To copy from a device, plug in and unlock a camera or phone, insert a memory "
                                     "card, or add a folder with Add Folder."}));
        const LogDocument &doc = form_->Log.Document();
        QCOMPARE(doc.Line(3).color, LogColor::Red);
        QCOMPARE(doc.Line(4).color, LogColor::Black);
        QCOMPARE(doc.Line(4).style, LogStyle::Bold);
        QVERIFY(!form_->StopBitBtn->isEnabled());
    }

    // Junk in the settings file does not stop the start; the log names its
    // lines once, and they outlive the settings written at exit.
    void junkInTheSettingsFile()
    {
        const QByteArrayList junk = {QByteArray(3, '\0'), QByteArray(20000, 'x'), "\xFF\xFE="};
        WriteIni("[Ferrovane]\n" + junk[0] + "\nMaxLogDays=7\n" + junk[1] + "\n" + junk[2] + "\n");
        Start();
        const QStringList said = Log().filter(QStringLiteral("cannot be settings"));
        QCOMPARE(said.size(), 1);
        QVERIFY2(said.first().endsWith(QStringLiteral(": lines 2, 4-5.")), qPrintable(said.first()));
        QCOMPARE(form_->Form4->MaxLogDaysSpinEdit->Text(), QStringLiteral("7"));
        form_->ExitProg();
        QFile ini(IniFilePath);
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray after = ini.readAll();
        for (const QByteArray &line : junk)
            QVERIFY(after.contains('\n' + line + '\n'));
    }

    // The remembered device among others, in any order, is found, opened and listed.
    void rememberedDeviceIsOpened_data()
    {
        QTest::addColumn<QStringList>("order");
        QTest::newRow("first") << QStringList{"canon", "nikon", "sony"};
        QTest::newRow("middle") << QStringList{"nikon", "canon", "sony"};
        QTest::newRow("last") << QStringList{"sony", "nikon", "canon"};
    }
    void rememberedDeviceIsOpened()
    {
        QFETCH(QStringList, order);
        for (const QString &which : order) {
            if (which == QLatin1String("canon"))
                AddCamera(QStringLiteral("usb:canon"), QStringLiteral("Canon"), QStringLiteral("EOS 80D"), "SN1");
            else if (which == QLatin1String("nikon"))
                AddCamera(QStringLiteral("usb:nikon"), QStringLiteral("Nikon"), QStringLiteral("D750"), "SN2");
            else
                AddCamera(QStringLiteral("usb:sony"), QStringLiteral("Sony"), QStringLiteral("A7"), "SN3");
        }
        WriteIni("[Ferrovane]\nDeviceCount=1\nLastDevice=Canon EOS 80D\n[Devices]\nItem0=Canon EOS 80D\n"
                 "[Canon EOS 80D]\nDeviceName=Canon EOS 80D\nDeviceSerialNo=SN1\n");
        Start();
        QCOMPARE(form_->Connection.CurrentDeviceID, QStringLiteral("usb:canon"));
        QCOMPARE(form_->DeviceComboBox->currentText(), QStringLiteral("Canon EOS 80D"));
        QCOMPARE(form_->Discovery.ConnectedDeviceCount(), 3);
        QCOMPARE(form_->DeviceComboBox->count(), 3);
        const QStringList log = Log();
        QVERIFY(log.contains(QStringLiteral("3 Devices Found.")));
        QVERIFY(log.contains(QStringLiteral("3 Portable Devices found.")));
        QVERIFY(log.contains(QStringLiteral("Device = Canon EOS 80D")));
        QVERIFY(log.contains(QStringLiteral("New device found \"Nikon D750\"")));
        QVERIFY(log.contains(QStringLiteral("DEVICE: Canon EOS 80D")));
        QVERIFY(log.contains(QStringLiteral("DeviceID = usb:canon")));
        QCOMPARE(form_->StringGrid2->Cell(1, 2), QStringLiteral("IMG_SN1.JPG"));
        // New devices are remembered in the settings file, the known one is not rewritten.
        QCOMPARE(Ini("Nikon D750", "DeviceSerialNo"), QStringLiteral("SN2"));
        QCOMPARE(Ini("Sony A7", "DeviceName"), QStringLiteral("Sony A7"));
        QVERIFY(form_->CopyBitBtn->isEnabled());
    }

    void rememberedDeviceWithAnotherSerial()
    {
        AddCamera(QStringLiteral("usb:canon"), QStringLiteral("Canon"), QStringLiteral("EOS 80D"), "OTHER");
        WriteIni("[Ferrovane]\nDeviceCount=1\nLastDevice=Canon EOS 80D\n[Devices]\nItem0=Canon EOS 80D\n"
                 "[Canon EOS 80D]\nDeviceName=Canon EOS 80D\nDeviceSerialNo=SN1\n");
        Start();
        const QStringList log = Log();
        QCOMPARE(log.mid(log.size() - 2), (QStringList{"Device \"Canon EOS 80D\" was not found!",
                                                       "The device may need to be unlocked before it can be used."}));
        QCOMPARE(form_->Log.Document().Line(form_->Log.Document().LineCount() - 1).style, LogStyle::Bold);
        QVERIFY(!log.contains(QStringLiteral("DEVICE: Canon EOS 80D")));
        // The remembered serial number is not replaced by the one attached.
        QCOMPARE(Ini("Canon EOS 80D", "DeviceSerialNo"), QStringLiteral("SN1"));
        QVERIFY(form_->CopyBitBtn->isEnabled());
    }

    void rememberedDeviceWillNotOpen()
    {
        AddCamera(QStringLiteral("usb:l"), QStringLiteral("Locked"), QStringLiteral("Phone"), "").openCode =
            E_ACCESSDENIED;
        WriteIni("[Ferrovane]\nDeviceCount=1\nLastDevice=Locked Phone\n[Devices]\nItem0=Locked Phone\n"
                 "[Locked Phone]\nDeviceName=Locked Phone\nDeviceSerialNo=\n");
        Start();
        QCOMPARE(Log().last(), QStringLiteral("Device is not open!"));
        QCOMPARE(form_->Log.Document().Line(form_->Log.Document().LineCount() - 1).color, LogColor::Red);
        QVERIFY(form_->CopyBitBtn->isEnabled());
    }

    void twoDevicesOfOneModel()
    {
        AddCamera(QStringLiteral("usb:a"), QStringLiteral("Canon"), QStringLiteral("EOS 80D"), "SNA");
        AddCamera(QStringLiteral("usb:b"), QStringLiteral("Canon"), QStringLiteral("EOS 80D"), "SNB");
        WriteIni("[Ferrovane]\nDeviceCount=1\nLastDevice=Canon EOS 80D\n[Devices]\nItem0=Canon EOS 80D\n"
                 "[Canon EOS 80D]\nDeviceName=Canon EOS 80D\nDeviceSerialNo=SNB\n");
        Start();
        QCOMPARE(form_->Discovery.ConnectedDeviceCount(), 2);
        QCOMPARE(form_->DeviceComboBox->count(), 1);
        QCOMPARE(form_->Connection.CurrentDeviceID, QStringLiteral("usb:b"));
        QCOMPARE(form_->StringGrid2->Cell(1, 2), QStringLiteral("IMG_SNB.JPG"));
    }

    void deviceWithoutSerial()
    {
        FakeDevice &d = AddCamera(QStringLiteral("usb:x"), QStringLiteral("Acme"), QStringLiteral("Cam"), "");
        d.missingDeviceProperties = {WPD_DEVICE_SERIAL_NUMBER};
        Start();
        // Found, but nothing is chosen for the user.
        QCOMPARE(form_->DeviceComboBox->count(), 1);
        QCOMPARE(form_->DeviceComboBox->currentIndex(), -1);
        QCOMPARE(Ini("Acme Cam", "DeviceSerialNo"), QString());
        QVERIFY(Log().contains(QStringLiteral("Serial No. = ")));
        // Chosen from the list: it matches its empty remembered serial number.
        form_->DeviceComboBox->setCurrentIndex(0);
        form_->DeviceArea->Choose();
        form_->DeviceArea->Connect();
        WaitIdle(*form_);
        QCOMPARE(form_->Connection.CurrentDeviceID, QStringLiteral("usb:x"));
        QVERIFY(Log().contains(QStringLiteral("DEVICE CONTENTS:")));
    }

    // A scan that finds nothing leaves the table and the catalogue as they were.
    void emptyScanKeepsWhatWasThere()
    {
        AddCamera(QStringLiteral("usb:c"), QStringLiteral("Canon"), QStringLiteral("EOS"), "S");
        Start();
        form_->DeviceComboBox->setCurrentIndex(0);
        form_->DeviceArea->Choose();
        form_->DeviceArea->Connect();
        WaitIdle(*form_);
        const int rows = form_->StringGrid2->RowCount();
        QVERIFY(rows > 2);
        service_.devices.clear();
        const qsizetype from = form_->Log.Document().LineCount();
        form_->ScanPortableDevicesButton->click();
        QCOMPARE(Log(from), (QStringList{"0 Devices Found.", "No Portable Devices found.",
                                         "To copy from a device, plug in and unlock a camera or phone, insert a "
                                         "memory card, or add a folder with Add Folder."}));
        QCOMPARE(form_->Discovery.ConnectedDeviceCount(), 1);
        QCOMPARE(form_->StringGrid2->RowCount(), rows);
    }

    void moreThanFiftyDevices()
    {
        for (int i = 0; i < 52; ++i)
            service_.AddDevice(QStringLiteral("usb:%1").arg(i), QStringLiteral("cam"), QStringLiteral("Maker"),
                               QStringLiteral("Model %1").arg(i));
        Start();
        QCOMPARE(form_->Discovery.ConnectedDeviceCount(), 50);
        QCOMPARE(form_->DeviceComboBox->count(), 50);
        QVERIFY(
            Log().contains(QStringLiteral("Only the first 50 devices are used; 2 more attached devices are ignored.")));
    }

    void chooseAndConnect()
    {
        AddCamera(QStringLiteral("usb:c"), QStringLiteral("Canon"), QStringLiteral("EOS"), "S1");
        WriteIni("[Ferrovane]\nDeviceCount=2\n[Devices]\nItem0=Canon EOS\nItem1=Old Phone\n"
                 "[Canon EOS]\nDeviceName=Canon EOS\nDeviceSerialNo=S1\nDestPath=/pics\nDeviceRoot= \\ \nCopyMode=1\n");
        Start();
        // Connect with nothing chosen does nothing.
        form_->DeviceComboBox->setCurrentIndex(-1);
        const qsizetype from = form_->Log.Document().LineCount();
        form_->DeviceConnectSpeedButton->click();
        QCOMPARE(form_->Log.Document().LineCount(), from);

        // Choosing an entry loads its section, then finds, opens and lists it.
        form_->DeviceComboBox->setCurrentIndex(0);
        emit form_->DeviceComboBox->activated(0);
        WaitIdle(*form_);
        QCOMPARE(form_->DestLabeledEdit->text(), QStringLiteral("/pics"));
        QCOMPARE(form_->DeviceRootEdit->text(), QString());
        QCOMPARE(form_->CopyModeRadioGroup->ItemIndex(), 1);
        QCOMPARE(form_->Connection.CurrentDeviceSerialNo, QStringLiteral("S1"));
        QVERIFY(Log(from).contains(QStringLiteral("DEVICE CONTENTS:")));
        QVERIFY(form_->CopyBitBtn->isEnabled());

        // A remembered device that is not attached: marked in the list, and
        // choosing it says it is not connected.
        for (int i : {0, 1}) {
            const QString mark = i ? QStringLiteral("Not connected") : QString();
            QCOMPARE(form_->DeviceComboBox->itemData(i, Qt::ToolTipRole).toString(), mark);
            QCOMPARE(form_->DeviceComboBox->itemData(i, Qt::AccessibleDescriptionRole).toString(), mark);
            QCOMPARE(form_->DeviceComboBox->itemData(i, Qt::DecorationRole).isValid(), i == 1);
        }
        QCOMPARE(form_->DeviceComboBox->itemText(1), QStringLiteral("Old Phone"));
        form_->DeviceComboBox->setCurrentIndex(1);
        emit form_->DeviceComboBox->activated(1);
        WaitIdle(*form_);
        QVERIFY(Log().contains(QStringLiteral("Device \"Old Phone\" is not connected.")));
        QVERIFY(!Log().contains(QStringLiteral("The device may need to be unlocked before it can be used.")));

        // Connect reopens the chosen one without reading its settings again.
        form_->DeviceComboBox->setCurrentIndex(0);
        emit form_->DeviceComboBox->activated(0);
        WaitIdle(*form_);
        form_->DestLabeledEdit->setText(QStringLiteral("/changed"));
        const qsizetype before = form_->Log.Document().LineCount();
        form_->DeviceConnectSpeedButton->click();
        WaitIdle(*form_);
        QCOMPARE(form_->DestLabeledEdit->text(), QStringLiteral("/changed"));
        QVERIFY(Log(before).contains(QStringLiteral("DEVICE: Canon EOS")));
    }

    void deleteDevice()
    {
        WriteIni("[Ferrovane]\nDeviceCount=3\nLastDevice=B\n[Devices]\nItem0=A\nItem1=B\nItem2=C\n[A]\nDeviceName=A\n"
                 "[B]\nDeviceName=B\nDestPath=/b\n[C]\nDeviceName=C\n");
        Start();
        QCOMPARE(form_->DeviceComboBox->currentText(), QStringLiteral("B"));
        {
            // No is the default: Enter keeps the device.
            ModalWatcher watcher([](QWidget *w) {
                auto *box = qobject_cast<QMessageBox *>(w);
                QCOMPARE(box->windowTitle(), QStringLiteral("Ferrovane"));
                QCOMPARE(box->text(), QStringLiteral("Delete Device?"));
                QCOMPARE(box->informativeText(),
                         QStringLiteral("Do you want to delete the device \"B\" from the list?"));
                QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
                box->defaultButton()->click();
            });
            form_->DeleteDeviceButton->click();
            QCOMPARE(watcher.Seen(), 1);
        }
        QCOMPARE(form_->DeviceComboBox->count(), 3);
        {
            ModalWatcher watcher([](QWidget *w) { qobject_cast<QMessageBox *>(w)->button(QMessageBox::Yes)->click(); });
            form_->DeleteDeviceButton->click();
        }
        QCOMPARE(form_->DeviceComboBox->count(), 2);
        QCOMPARE(Ini("Ferrovane", "DeviceCount"), QStringLiteral("2"));
        QCOMPARE(Ini("Devices", "Item0"), QStringLiteral("A"));
        QCOMPARE(Ini("Devices", "Item1"), QStringLiteral("C"));
        QCOMPARE(Ini("Devices", "Item2"), QStringLiteral("<none>"));
        // LastDevice is the list's text after the removal, not the removed name.
        QCOMPARE(Ini("Ferrovane", "LastDevice"), form_->DeviceComboBox->currentText());
        QVERIFY(Ini("Ferrovane", "LastDevice") != QLatin1String("B"));
        QVERIFY(!IniFile(IniFilePath).SectionExists(QStringLiteral("B")));
        QVERIFY(IniFile(IniFilePath).SectionExists(QStringLiteral("A")));
        QCOMPARE(Log().last(), QStringLiteral("Device \"B\" was removed from the list."));
    }

    // After a delete the list shows no device rather than the next entry, so
    // that saving cannot write the deleted device's values into another
    // device's section.
    void deleteDeviceKeepsOtherSections()
    {
        WriteIni("[Ferrovane]\nDeviceCount=3\nLastDevice=B\n[Devices]\nItem0=A\nItem1=B\nItem2=C\n"
                 "[A]\nDeviceName=A\nDeviceSerialNo=SA\n[B]\nDeviceName=B\nDeviceSerialNo=SB\nDestPath=/b\n"
                 "[C]\nDeviceName=C\nDeviceSerialNo=SC\n");
        Start();
        QCOMPARE(form_->DeviceComboBox->currentText(), QStringLiteral("B"));
        {
            ModalWatcher watcher([](QWidget *w) { qobject_cast<QMessageBox *>(w)->button(QMessageBox::Yes)->click(); });
            form_->DeleteDeviceButton->click();
        }
        QCOMPARE(form_->DeviceComboBox->count(), 2);
        QCOMPARE(form_->DeviceComboBox->currentText(), QString());
        QCOMPARE(Ini("Ferrovane", "LastDevice"), QString());
        form_->SaveSettingsBitBtn->click();
        for (const char *section : {"A", "C"}) {
            QCOMPARE(Ini(section, "DeviceName"), QString::fromLatin1(section));
            QCOMPARE(Ini(section, "DeviceSerialNo"), QStringLiteral("S") + QString::fromLatin1(section));
            QCOMPARE(Ini(section, "DestPath"), QStringLiteral("<none>"));
        }
        QVERIFY(!IniFile(IniFilePath).SectionExists(QStringLiteral("B")));
    }

    // A settings file that cannot be written: the delete says the removal
    // was not saved, and the device list still repaints.
    void deleteDeviceWithUnwritableSettings()
    {
        WriteIni("[Ferrovane]\nDeviceCount=2\nLastDevice=A\n[Devices]\nItem0=A\nItem1=B\n[A]\nDeviceName=A\n");
        Start();
        // A folder where the file should be.
        QFile::remove(IniFilePath);
        QVERIFY(QDir().mkpath(IniFilePath));
        const auto unblock = qScopeGuard([] { QDir(IniFilePath).removeRecursively(); });
        {
            ModalWatcher watcher([](QWidget *w) { qobject_cast<QMessageBox *>(w)->button(QMessageBox::Yes)->click(); });
            form_->DeviceArea->DeleteDevice();
        }
        QVERIFY(Log().contains(QStringLiteral("The settings were not saved: Unable to write to ") + IniFilePath));
        QVERIFY(form_->DeviceComboBox->updatesEnabled());
    }

    // A name with line breaks is stored and recognised as one name: the next
    // start finds the same single entry and section.
    void deviceNameWithLineBreaks()
    {
        FakeDevice &d =
            AddCamera(QStringLiteral("usb:n"), QStringLiteral("Acme\r\nCorp"), QStringLiteral("Cam\n2"), "S9");
        Q_UNUSED(d);
        Start();
        QCOMPARE(form_->DeviceComboBox->count(), 1);
        const QString name = form_->DeviceComboBox->itemText(0);
        QCOMPARE(name, QStringLiteral("Acme Corp Cam 2"));
        form_->DeviceComboBox->setCurrentIndex(0);
        emit form_->DeviceComboBox->activated(0);
        WaitIdle(*form_);
        form_->SaveSettingsBitBtn->click();
        form_->close();
        form_.reset();

        Start();
        QCOMPARE(form_->DeviceComboBox->count(), 1);
        QCOMPARE(form_->DeviceComboBox->currentText(), name);
        QVERIFY(Log().contains(QStringLiteral("Device = ") + name));
        QVERIFY(!Log().contains(QStringLiteral("New device found \"%1\"").arg(name)));
        QCOMPARE(Ini(name, "DeviceSerialNo"), QStringLiteral("S9"));
        QVERIFY(Log().contains(QStringLiteral("DEVICE CONTENTS:")));
    }

    // The question is wide enough for its text: one line for a short name,
    // never more than half the screen for a long one.
    void deleteDeviceQuestionWidth_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("oneLine");
        QTest::newRow("short name") << "Cam" << true;
        QTest::newRow("long name") << QString(200, QLatin1Char('W')) << false;
    }
    void deleteDeviceQuestionWidth()
    {
        QFETCH(QString, name);
        QFETCH(bool, oneLine);
        WriteIni("[Ferrovane]\nDeviceCount=1\nLastDevice=" + name.toUtf8() + "\n[Devices]\nItem0=" + name.toUtf8() +
                 "\n[" + name.toUtf8() + "]\nDeviceName=" + name.toUtf8() + "\n");
        Start();
        QCOMPARE(form_->DeviceComboBox->currentText(), name);
        int lines = 0, boxWidth = 0, textWidth = 0;
        ModalWatcher watcher([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
            if (label && QTest::qWaitForWindowExposed(box)) {
                // The height of one line as this label lays it out.
                const int lineHeight = label->heightForWidth(100000);
                lines = lineHeight > 0 ? (label->height() + lineHeight / 2) / lineHeight : 0;
                boxWidth = box->width();
                textWidth = label->fontMetrics().horizontalAdvance(box->informativeText());
            }
            box->button(QMessageBox::No)->click();
        });
        form_->DeleteDeviceButton->click();
        QCOMPARE(watcher.Seen(), 1);
        QVERIFY(lines >= 1);
        const int screenWidth = form_->screen()->availableGeometry().width();
        if (oneLine) {
            QVERIFY2(textWidth < screenWidth / 2, "the test screen is too narrow for this test");
            QCOMPARE(lines, 1);
        }
        QVERIFY(boxWidth <= screenWidth);
        QCOMPARE(form_->DeviceComboBox->count(), 1);
    }

    // --- exit -----------------------------------------------------------------

    void exitWritesTheLogAndGeometry()
    {
        Start();
        form_->Form4->MaxLogDaysSpinEdit->SetText(QStringLiteral("1"));
        const QString dir = UserDataFolder;
        auto make = [&](const QString &name, qint64 age) {
            QFile f(dir + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("x");
            f.close();
            SetAge(dir + name, age);
        };
        make(QStringLiteral("Ferrovane Log 2016-01-01 10.00.00.rtf"), 25 * 3600);
        make(QStringLiteral("Ferrovane Log 2016-01-02 10.00.00.rtf"), 23 * 3600);
        make(QStringLiteral("Other.rtf"), 100 * 86400);
        QDir().mkpath(dir + QStringLiteral("Ferrovane Log folder.rtf"));
        SetAge(dir + QStringLiteral("Ferrovane Log folder.rtf"), 100 * 86400);

        form_->close();
        QVERIFY(!QFile::exists(dir + QStringLiteral("Ferrovane Log 2016-01-01 10.00.00.rtf")));
        QVERIFY(QFile::exists(dir + QStringLiteral("Ferrovane Log 2016-01-02 10.00.00.rtf")));
        QVERIFY(QFile::exists(dir + QStringLiteral("Other.rtf")));
        QVERIFY(QFileInfo(dir + QStringLiteral("Ferrovane Log folder.rtf")).isDir());
        QVERIFY(QFile::exists(form_->Session->LastLogFile()));
        QVERIFY(QFileInfo(form_->Session->LastLogFile())
                    .fileName()
                    .contains(QRegularExpression(
                        QStringLiteral("^Ferrovane Log \\d{4}-\\d{2}-\\d{2} \\d{2}\\.\\d{2}\\.\\d{2}\\.rtf$"))));
        const QStringList log = Log();
        QCOMPARE(log.mid(log.size() - 2), (QStringList{"", "Program exited by user."}));
        QVERIFY(!log.contains(QStringLiteral("System Info:")));
        QCOMPARE(Ini("Ferrovane", "WindowState"), QStringLiteral("0"));
        // The saved file ends with the closing line.
        QFile saved(form_->Session->LastLogFile());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll().contains("Program exited by user."));
        // Closing twice does nothing more.
        const qsizetype lines = form_->Log.Document().LineCount();
        form_->ExitProg();
        QCOMPARE(form_->Log.Document().LineCount(), lines);
    }

    void keepLogsForEver_data()
    {
        QTest::addColumn<QString>("days");
        QTest::newRow("zero") << "0";
        QTest::newRow("empty") << "";
        QTest::newRow("text") << "abc";
    }
    void keepLogsForEver()
    {
        QFETCH(QString, days);
        const QString old = UserDataFolder + QStringLiteral("Ferrovane Log 2000-01-01 00.00.00.rtf");
        QFile f(old);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        SetAge(old, 5000LL * 86400);
        QCOMPARE(DeleteLogFiles(UserDataFolder, days, QDateTime::currentDateTime()), 0);
        QVERIFY(QFile::exists(old));
    }

    void exitAfterAnException()
    {
        Start();
        form_->ExceptionOccurred = true;
        form_->ExitProg();
        const QStringList log = Log();
        const qsizetype info = log.indexOf(QStringLiteral("System Info:"));
        QVERIFY(info > 0);
        QCOMPARE(log.at(info - 1), QString(70, QLatin1Char('=')));
        QVERIFY(log.at(info + 1).startsWith(QStringLiteral("LogSystemInfo App.ExeName : ")));
        QVERIFY(log.contains(QStringLiteral("LogSystemInfo OS.OSVersion : wvUnknown")));
        QVERIFY(log.contains(QStringLiteral("LogSystemInfo App.Version : Version 1.2 Release 0 Build 1")));
        QCOMPARE(log.mid(log.size() - 3), (QStringList{QString(70, QLatin1Char('=')), "", "Program exited by user."}));
        QCOMPARE(log.size() - info, 34 + 2);
    }

    // A log file that cannot be written does not stop the exit.
    void exitWithUnwritableFolder()
    {
        Start();
        // The log folder is gone, and a file stands in its place.
        const QString folder = UserDataFolder.chopped(1);
        QVERIFY(QDir().rename(folder, folder + QStringLiteral(".away")));
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        form_->ExitProg();
        QVERIFY(form_->Session->LastLogFile().isEmpty());
        QCOMPARE(Log().last(), QStringLiteral("Program exited by user."));
        QVERIFY(QFile::remove(folder));
        QVERIFY(QDir().rename(folder + QStringLiteral(".away"), folder));
    }

    // Closing during a copy run stops the run and waits for it; the worker's
    // hand-offs to this thread keep being served meanwhile.
    void exitStopsACopyRun()
    {
        AddCamera(QStringLiteral("usb:1"), QStringLiteral("Canon"), QStringLiteral("EOS"), QStringLiteral("S1"));
        const QTemporaryDir dest;
        WriteIni("[Ferrovane]\nDeviceCount=1\nLastDevice=Canon EOS\n[Devices]\nItem0=Canon EOS\n[Canon EOS]\n"
                 "DeviceName=Canon EOS\nDeviceSerialNo=S1\nDestPath=" +
                 dest.path().toUtf8() + "\n");
        Start();
        std::atomic<int> handedOver{0};
        TForm1 *form = form_.get();
        service_.onGetValues = [form, &handedOver](const QString &id) {
            if (!id.endsWith(QLatin1String(".JPG")) || QThread::currentThread() == form->thread())
                return;
            while (!form->Engine->State().StopSignalled) {
                // A hand-off that waits for the user-interface thread.
                QMetaObject::invokeMethod(
                    form, [] {}, Qt::BlockingQueuedConnection);
                ++handedOver;
                QThread::msleep(5);
            }
        };
        QTest::mouseClick(form_->CopyBitBtn, Qt::LeftButton);
        QTRY_VERIFY(handedOver > 3);
        form_->close();
        service_.onGetValues = nullptr;
        const int after = handedOver;
        QTRY_VERIFY(!form_->Engine->IsActive());
        QCOMPARE(handedOver.load(), after);
        const QStringList log = Log();
        QCOMPARE(log.mid(log.size() - 3), (QStringList{"Stop Signalled.", "", "Program exited by user."}));
        QVERIFY(log.filter(QStringLiteral("Elapsed Time: ")).isEmpty());
    }

    // --- the log file as rich text ----------------------------------------------

    void logFileReadsBackInARealReader()
    {
        const QString unrtf = QStandardPaths::findExecutable(QStringLiteral("unrtf"));
        if (unrtf.isEmpty())
            QSKIP("unrtf is not installed (scripts/test installs it)");
        ActivityLog log;
        log.SetClock([] { return QDateTime(QDate(2016, 8, 13), QTime(8, 41, 21)); });
        const QString japanese = QStringLiteral("写真_0001.JPG");
        const QString emoji = QStringLiteral("party 🎉 time");
        log.WriteLog(QStringLiteral("Ferrovane - Version 1.2 Release 0 Build 1"), LogColor::Blue, LogStyle::Bold);
        log.WriteLog(QStringLiteral("ERROR: ") + japanese, LogColor::Red, LogStyle::Bold);
        log.WriteLog(QStringLiteral("Copied file ") + emoji, LogColor::Green);
        log.WriteLogNoDate(QStringLiteral("braces {x} and \\ backslash"), LogColor::Maroon);
        log.WriteLog(QStringLiteral("Ärger, naïve café"), LogColor::Purple);
        // A name that tries to start lines of its own stays in its line.
        log.WriteLog(QStringLiteral("Source File: /CARD/x\n12:00 forged\r\x1B[2K") + QChar(0xDCFF) +
                         QStringLiteral(".JPG"),
                     LogColor::Blue);
        // A name that holds "\xFF" as typed, and a Hebrew letter.
        log.WriteLog(QStringLiteral("Source File: /CARD/x\\xFF_7\u05D0 (2) 3.JPG"), LogColor::Blue);
        const QString path = SaveLog(log.Document(), UserDataFolder, QDateTime(QDate(2016, 8, 13), QTime(8, 41, 21)));
        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("Ferrovane Log 2016-08-13 08.41.21.rtf"));

        QProcess reader;
        reader.start(unrtf, {QStringLiteral("--html"), path});
        QVERIFY(reader.waitForFinished(20000));
        const auto lines = ParseUnrtfHtml(QString::fromUtf8(reader.readAllStandardOutput()));
        const QString prefix = log.Document().Line(0).prefix;
        struct Expect
        {
            QString prefix, text, color;
            bool bold;
        };
        const QList<Expect> expected = {
            {prefix, QStringLiteral("Ferrovane - Version 1.2 Release 0 Build 1"), "#0000ff", true},
            {prefix, QStringLiteral("ERROR: ") + japanese, "#ff0000", true},
            {prefix, QStringLiteral("Copied file ") + emoji, "#008000", false},
            {QString(), QStringLiteral("braces {x} and \\ backslash"), "#800000", false},
            {prefix, QStringLiteral("Ärger, naïve café"), "#800080", false},
            {prefix, QStringLiteral("Source File: /CARD/x\\n12:00 forged\\r\\x1B[2K\\xFF.JPG"), "#0000ff", false},
            {prefix, QStringLiteral("Source File: /CARD/x\\\\xFF_7\u2067\u05D0\u2069 (2) 3.JPG"), "#0000ff", false},
        };
        QVERIFY(lines.size() >= expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QString prefixSeen, textSeen;
            for (const Run &run : lines[i]) {
                if (run.color == QLatin1String("#000000") && !run.bold && textSeen.isEmpty())
                    prefixSeen += run.text;
                else {
                    textSeen += run.text;
                    QCOMPARE(run.color, expected[i].color);
                    QCOMPARE(run.bold, expected[i].bold);
                }
            }
            QCOMPARE(prefixSeen, expected[i].prefix);
            QCOMPARE(textSeen, expected[i].text);
        }
    }

    // --- one instance ------------------------------------------------------------

    void secondInstanceIsRefused()
    {
        const QString key = QStringLiteral("test-key-") + QString::number(QCoreApplication::applicationPid());
        SingleInstance first(key);
        QVERIFY(first.Claim());
        QSignalSpy raised(&first, &SingleInstance::RaiseRequested);
        SingleInstance second(key);
        QVERIFY(!second.Claim());
        QVERIFY(second.NotifyRunning());
        QTRY_COMPARE(raised.count(), 1);
    }

    void secondStartOfTheProgram()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        RemoveInstanceFiles();
        QProcess first;
        first.setProcessEnvironment(env);
        first.start(QStringLiteral(FERROVANE_EXE), {});
        QVERIFY(first.waitForStarted());
        // The first instance is up once it listens for later starts.
        QTRY_VERIFY_WITH_TIMEOUT(!InstanceSockets().isEmpty(), 30000);
        WriteIni("[Ferrovane]\nDebug=0\n");
        const QByteArray settingsBefore = [] {
            QFile f(IniFilePath);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        const QStringList logsBefore = LogFiles();

        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(FERROVANE_EXE), {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(LogFiles(), logsBefore);
        QFile f(IniFilePath);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), settingsBefore);
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        first.waitForFinished();
    }

    // Every way of writing one display names one desktop, so the second
    // start there is refused.
    void displayKey_data()
    {
        QTest::addColumn<QString>("wayland1");
        QTest::addColumn<QString>("x1");
        QTest::addColumn<QString>("wayland2");
        QTest::addColumn<QString>("x2");
        QTest::addColumn<bool>("same");
        QTest::newRow(":0 and :0.0") << ""
                                     << ":0"
                                     << ""
                                     << ":0.0" << true;
        QTest::newRow(":0 and :0.1") << ""
                                     << ":0"
                                     << ""
                                     << ":0.1" << true;
        QTest::newRow("unix:0") << ""
                                << "unix:0"
                                << ""
                                << ":0" << true;
        QTest::newRow("localhost:10.0") << ""
                                        << "localhost:10.0"
                                        << ""
                                        << ":10" << true;
        QTest::newRow("this host") << ""
                                   << "box:0"
                                   << ""
                                   << ":0" << true;
        QTest::newRow("socket path") << ""
                                     << "/tmp/.X11-unix/X0"
                                     << ""
                                     << ":0" << true;
        QTest::newRow("protocol") << ""
                                  << "unix/:0"
                                  << ""
                                  << ":0" << true;
        QTest::newRow("leading zero") << ""
                                      << ":00"
                                      << ""
                                      << ":0" << true;
        QTest::newRow("two servers") << ""
                                     << ":0"
                                     << ""
                                     << ":1" << false;
        QTest::newRow(":1 and :10") << ""
                                    << ":1"
                                    << ""
                                    << ":10" << false;
        QTest::newRow("another host") << ""
                                      << "other:0"
                                      << ""
                                      << ":0" << false;
        QTest::newRow("wayland name and path") << "wayland-0"
                                               << ":0"
                                               << "/run/user/7/wayland-0"
                                               << ":1" << true;
        QTest::newRow("two wayland") << "wayland-0"
                                     << ""
                                     << "wayland-1"
                                     << "" << false;
    }
    void displayKey()
    {
        QFETCH(QString, wayland1);
        QFETCH(QString, x1);
        QFETCH(QString, wayland2);
        QFETCH(QString, x2);
        QFETCH(bool, same);
        const QString runtime = QStringLiteral("/run/user/7");
        const QString host = QStringLiteral("box");
        QCOMPARE(SingleInstance::DisplayKey(wayland1, x1, runtime, host) ==
                     SingleInstance::DisplayKey(wayland2, x2, runtime, host),
                 same);
    }

    // Two runs ending in the same second: each log keeps its own file.
    void logFilesOfOneSecond()
    {
        const QDateTime when(QDate(2016, 8, 13), QTime(8, 41, 21));
        ActivityLog first, second;
        first.WriteLog(QStringLiteral("the first run"), LogColor::Black);
        second.WriteLog(QStringLiteral("the second run"), LogColor::Black);
        const QString path1 = SaveLog(first.Document(), UserDataFolder, when);
        const QString path2 = SaveLog(second.Document(), UserDataFolder, when);
        QCOMPARE(QFileInfo(path1).fileName(), QStringLiteral("Ferrovane Log 2016-08-13 08.41.21.rtf"));
        QCOMPARE(QFileInfo(path2).fileName(), QStringLiteral("Ferrovane Log 2016-08-13 08.41.21 (2).rtf"));
        QFile file1(path1), file2(path2);
        QVERIFY(file1.open(QIODevice::ReadOnly) && file2.open(QIODevice::ReadOnly));
        QVERIFY(file1.readAll().contains("the first run"));
        QVERIFY(file2.readAll().contains("the second run"));
        // Both are log files to prune, and nothing else was left behind.
        QCOMPARE(LogFiles().size(), 2);
        QCOMPARE(QDir(UserDataFolder).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    void unwritableLogFolderIsSaidAtStart()
    {
        // A settings folder that cannot be made; root may write anywhere else.
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", "/proc/ferrovane-none");
        Start();
        qputenv("XDG_CONFIG_HOME", saved);
        const QString folder = UserDataFolder;
        SetProgramFolders();
        QVERIFY(Log().contains(QStringLiteral("This run's log cannot be saved in ") + folder +
                               QStringLiteral(": the folder does not exist.")));
        QVERIFY(LogFolderTrouble(UserDataFolder).isEmpty());
        QVERIFY(!LogFolderTrouble(IniFilePath + QStringLiteral("/")).isEmpty());
    }

    void missingFolderDevicesAreSaid()
    {
        QFile file(UserDataFolder + QStringLiteral("a file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString missing = UserDataFolder + QStringLiteral("no such card");
        qputenv("FERROVANE_FOLDER_DEVICES", QFile::encodeName(missing + ":" + UserDataFolder + ":" + file.fileName()));
        Start();
        qunsetenv("FERROVANE_FOLDER_DEVICES");
        const QStringList log = Log();
        QVERIFY(log.contains(QStringLiteral("Folder device \"%1\" is not offered: it does not exist.").arg(missing)));
        QVERIFY(log.contains(
            QStringLiteral("Folder device \"%1\" is not offered: it is not a folder.").arg(file.fileName())));
        QCOMPARE(log.filter(QStringLiteral("Folder device")).size(), 2);
    }

    // Logout, shutdown and Ctrl+C end the program as Close does.
    void exitSignals_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void exitSignals()
    {
        QFETCH(int, signal);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        RemoveInstanceFiles();
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(FERROVANE_EXE), {});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!InstanceSockets().isEmpty(), 30000);
        QCOMPARE(::kill(pid_t(program.processId()), signal), 0);
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        const QStringList logs = LogFiles();
        QCOMPARE(logs.size(), 1);
        QFile log(UserDataFolder + logs.first());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("Program exited by user."));
        QVERIFY(!Ini("Ferrovane", "Width").isEmpty());
    }

    void bringToFrontRestoresAMinimisedWindow()
    {
        Start();
        form_->showMinimized();
        QTRY_VERIFY(form_->isMinimized());
        form_->BringToFront();
        QTRY_VERIFY(!form_->isMinimized());
        QVERIFY(form_->isVisible());
    }
};

FERROVANE_TEST_MAIN(TestProgramLife)
#include "tst_programlife.moc"
