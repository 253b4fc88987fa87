// The main window's device list: discovering attached devices, recognising
// known ones, choosing, connecting and deleting them.

#include "Unit1.h"

#include "app/ProgramFolders.h"
#include "settings/IniFile.h"

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QStatusBar>

void TForm1::ScanPortableDevices()
{
    const std::shared_ptr<IPortableDeviceManager> manager = Connection.Service().CreateManager();
    if (!manager) {
        Log.WriteLog(QStringLiteral("No Portable Devices found."), LogColor::Red);
        return;
    }
    QStringList ids;
    const HRESULT hr = manager->GetDevices(ids);
    const int count = SUCCEEDED(hr) ? int(ids.size()) : 0;
    Log.WriteLog(QString::number(count) + (count == 1 ? QStringLiteral(" Device Found.") : QStringLiteral(" Devices Found.")),
                 LogColor::Black);
    if (FAILED(hr) || count == 0) {
        Log.WriteLog(QStringLiteral("No Portable Devices found."), LogColor::Red);
        return;
    }

    ClearStringGrid1();
    ConnectedDeviceCount = 0;
    Log.WriteLog(QString::number(count) +
                     (count == 1 ? QStringLiteral(" Portable Device found.") : QStringLiteral(" Portable Devices found.")),
                 LogColor::Black);
    IniFile ini(IniFilePath);
    for (const QString &id : std::as_const(ids)) {
        if (ConnectedDeviceCount == kMaxConnectedDevices) {
            Log.WriteLog(QStringLiteral("Only the first %1 devices are used; %2 more attached devices are ignored.")
                             .arg(kMaxConnectedDevices)
                             .arg(count - kMaxConnectedDevices),
                         LogColor::Red);
            break;
        }
        QString manufacturer, description, friendlyName;
        manager->GetDeviceManufacturer(id, manufacturer);
        manager->GetDeviceDescription(id, description);
        manager->GetDeviceFriendlyName(id, friendlyName);
        const QString serial = Connection.GetDeviceSerialNo(id);
        const QString name = TrimControl(manufacturer) + QLatin1Char(' ') + TrimControl(description);

        if (DeviceComboBox->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive) >= 0) {
            Log.WriteLog(QStringLiteral("Device = ") + name, LogColor::Blue);
            Log.WriteLog(QStringLiteral("Name = ") + friendlyName, LogColor::Blue);
            Log.WriteLog(QStringLiteral("Serial No. = ") + serial, LogColor::Black);
            Log.WriteLog(QStringLiteral("Device ID = ") + id, LogColor::Black);
        } else {
            // Adding to an empty list must not look like a choice the user made.
            const int chosen = DeviceComboBox->currentIndex();
            DeviceComboBox->addItem(name);
            DeviceComboBox->setCurrentIndex(chosen);
            Log.WriteLog(QStringLiteral("New device found \"%1\"").arg(name), LogColor::Green);
            Log.WriteLog(QStringLiteral("Name = ") + friendlyName, LogColor::Green);
            Log.WriteLog(QStringLiteral("Serial No. = ") + serial, LogColor::Green);
            Log.WriteLog(QStringLiteral("Device ID = ") + id, LogColor::Black);
            ini.WriteString(name, QStringLiteral("DeviceName"), name);
            ini.WriteString(name, QStringLiteral("DeviceSerialNo"), serial);
        }
        ConnectedDevices[size_t(ConnectedDeviceCount++)] = TDevice{name, serial, id};
    }
}

void TForm1::FindCurrentDeviceID()
{
    Connection.CurrentDeviceID.clear();
    for (int i = 0; i < ConnectedDeviceCount; ++i) {
        const TDevice &device = ConnectedDevices[size_t(i)];
        if (device.DeviceName == Connection.CurrentDeviceName && device.DeviceSerialNo == Connection.CurrentDeviceSerialNo)
            Connection.CurrentDeviceID = device.DeviceID;
    }
}

void TForm1::DeviceComboBoxClick()
{
    Connection.CurrentDeviceName = DeviceComboBox->currentText();
    ReadDeviceSettings(Connection.CurrentDeviceName);
}

void TForm1::DeviceComboBoxSelect()
{
    ClearStringGrid1();
    DisableUI(true);
    ScanPortableDevices();
    FindCurrentDeviceID();
    OpenAndListCurrentDevice();
}

void TForm1::OpenAndListCurrentDevice()
{
    if (Connection.CurrentDeviceID.trimmed().isEmpty()) {
        Log.WriteLog(QStringLiteral("Device \"%1\" was not found!").arg(Connection.CurrentDeviceName), LogColor::Red,
                     LogStyle::Bold);
        Log.WriteLog(QStringLiteral("The device may need to be unlocked before it can be used."), LogColor::Red,
                     LogStyle::Bold);
        DisableUI(false);
        return;
    }
    // Opening and listing a camera can take many seconds: the worker does
    // it while the window keeps answering (Stop ends it, closing waits for
    // it), and returns the window to idle at its end.
    const QString deviceId = Connection.CurrentDeviceID;
    const bool started = StartWorker([this, deviceId] {
        if (Connection.OpenDevice(deviceId, false))
            ListDeviceContents();
        else
            Log.WriteLog(QStringLiteral("Device is not open!"), LogColor::Red, LogStyle::Bold);
    });
    if (!started)
        StatusBar1->showMessage(BusyMessage());
}

void TForm1::DeviceConnectSpeedButtonClick()
{
    Connection.CurrentDeviceName = DeviceComboBox->currentText();
    if (Connection.CurrentDeviceName.isEmpty())
        return;
    if (DeviceRootEdit->text() == QLatin1String("\\"))
        DeviceRootEdit->setText(QString());
    DeviceComboBoxSelect();
}

void TForm1::DeleteDevice()
{
    const QString name = DeviceComboBox->currentText();
    if (name.trimmed().isEmpty())
        return;
    QApplication::beep();
    QMessageBox question(QMessageBox::Question, QStringLiteral("Ferrovane"), QStringLiteral("Delete Device?"),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setInformativeText(QStringLiteral("Do you want to delete the device \"%1\" from the list?").arg(name));
    question.setDefaultButton(QMessageBox::No);
    if (question.exec() == QMessageBox::No)
        return;

    DeviceComboBox->setUpdatesEnabled(false);
    DeviceComboBox->removeItem(DeviceComboBox->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive));
    IniFile ini(IniFilePath);
    ini.EraseSection(QStringLiteral("Devices"));
    for (int i = 0; i < DeviceComboBox->count(); ++i) {
        ini.WriteString(QStringLiteral("Devices"), QStringLiteral("Item%1").arg(i), DeviceComboBox->itemText(i));
        Log.WriteDebug(QStringLiteral("Saved %1 %2").arg(i).arg(DeviceComboBox->itemText(i)));
    }
    ini.WriteInteger(QStringLiteral("Ferrovane"), QStringLiteral("DeviceCount"), DeviceComboBox->count());
    ini.WriteString(QStringLiteral("Ferrovane"), QStringLiteral("LastDevice"), DeviceComboBox->currentText());
    ini.EraseSection(name);
    Log.WriteLog(QStringLiteral("Device \"%1\" was removed from the list.").arg(name), LogColor::Black);
    DeviceComboBox->setUpdatesEnabled(true);
}
