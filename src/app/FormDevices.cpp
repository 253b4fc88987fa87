// The main window's device list: discovering attached devices, recognising
// known ones, choosing, connecting and deleting them.

#include "Unit1.h"

#include "app/ProgramFolders.h"
#include "settings/DeviceSettings.h"
#include "settings/IniFile.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QScopeGuard>
#include <QScreen>
#include <QStatusBar>

namespace {

// A message box sizes itself by its short main text, so a longer informative
// text wraps over several lines in a narrow box. Give it room for that text on
// one line, up to half the screen.
void WidenForInformativeText(QMessageBox &box)
{
    auto *grid = qobject_cast<QGridLayout *>(box.layout());
    auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
    const QScreen *screen = box.screen() ? box.screen() : QGuiApplication::primaryScreen();
    const int at = grid && label ? grid->indexOf(label) : -1;
    if (at < 0 || !screen)
        return;
    int row = 0, column = 0, rows = 0, columns = 0;
    grid->getItemPosition(at, &row, &column, &rows, &columns);
    const QFontMetrics metrics = label->fontMetrics();
    // A few characters to spare for the label's own margins and indent.
    const int width = qMin(metrics.horizontalAdvance(box.informativeText()) + 6 * metrics.averageCharWidth(),
                           screen->availableGeometry().width() / 2);
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), column, 1,
                  columns);
}

} // namespace

void TForm1::ScanPortableDevices()
{
    Discovery.ScanPortableDevices(*this);
}

bool TForm1::IsKnownDevice(const QString &name)
{
    return DeviceComboBox->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive) >= 0;
}

void TForm1::AddNewDevice(const QString &name, const QString &serial)
{
    // Adding to an empty list must not look like a choice the user made.
    const int chosen = DeviceComboBox->currentIndex();
    DeviceComboBox->addItem(name);
    DeviceComboBox->setCurrentIndex(chosen);
    DeviceSettings identity;
    identity.DeviceName = name;
    identity.DeviceSerialNo = serial;
    IniFile ini(IniFilePath);
    WriteDeviceSection(ini, name, identity, DeviceKeys::Identity);
}

void TForm1::ClearCatalogue()
{
    ClearStringGrid1();
}

void TForm1::FindCurrentDeviceID()
{
    Connection.CurrentDeviceID = Discovery.FindDeviceID(Connection.CurrentDeviceName, Connection.CurrentDeviceSerialNo);
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
    if (Engine->StartListing(Connection.CurrentDeviceID) != CopyRun::Start::Started)
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
    WidenForInformativeText(question);
    if (question.exec() == QMessageBox::No)
        return;

    // Released on every way out, a failed settings write included.
    DeviceComboBox->setUpdatesEnabled(false);
    const auto releaseUpdates = qScopeGuard([this] { DeviceComboBox->setUpdatesEnabled(true); });
    DeviceComboBox->removeItem(DeviceComboBox->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive));
    // Removing the shown entry makes the list show its neighbour, while the
    // current device stays the removed one; a later save would write it
    // into the neighbour's section. Show no device instead.
    DeviceComboBox->setCurrentIndex(-1);
    IniFile ini(IniFilePath);
    WriteDeviceList(ini, DeviceListEntries(), DeviceComboBox->currentText(), Log);
    ini.EraseSection(name);
    Log.WriteLog(QStringLiteral("Device \"%1\" was removed from the list.").arg(name), LogColor::Black);
}

QStringList TForm1::DeviceListEntries() const
{
    QStringList entries;
    for (int i = 0; i < DeviceComboBox->count(); ++i)
        entries << DeviceComboBox->itemText(i);
    return entries;
}
