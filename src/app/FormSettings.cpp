// The main window's settings routines: loading and saving the settings file,
// the window geometry, and the handlers of the settings controls.

#include "Unit1.h"

#include "app/ProgramFolders.h"
#include "base/DateFormat.h"
#include "device/FolderBackend.h"
#include "settings/DeviceSettings.h"
#include "settings/IniFile.h"
#include "settings/ProgramSettings.h"
#include "settings/Style.h"
#include "settings/Unit3.h"
#include "settings/Unit4.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QWindow>

void TForm1::LoadSettings()
{
    IniFile ini(IniFilePath);
    ini.Preload();
    if (const QString ignored = ini.IgnoredLinesText(); !ignored.isEmpty())
        Log.WriteLog(ignored, LogColor::Red);
    const ProgramSettings program = ReadProgramSection(ini);
    DebugFlag = program.Debug;
    Form4->ShowProgramSettings(program);
    const QString lastDevice = program.LastDevice;
    ChosenStyleName = program.StyleName;

    DeviceComboBox->clear();
    QStringList folders;
    const QStringList entries = ReadDeviceList(ini);
    for (int i = 0; i < entries.size(); ++i) {
        const QString &name = entries.at(i);
        DeviceComboBox->addItem(name);
        Log.WriteDebug(QStringLiteral("Loaded %1 %2").arg(i).arg(name));
        // The folders added as devices are offered again.
        const QString folder = ReadDeviceSection(ini, name).FolderPath;
        if (!folder.isEmpty() && !folders.contains(folder))
            folders << folder;
    }
    FolderBackend::SetAddedFolders(folders);

    Connection.CurrentDeviceName = ReadDeviceSection(ini, lastDevice).DeviceName;
    ReadDeviceSettings(lastDevice);

    int selected = -1;
    for (int i = 0; i < DeviceComboBox->count(); ++i) {
        if (DeviceComboBox->itemText(i).compare(Connection.CurrentDeviceName, Qt::CaseInsensitive) == 0) {
            selected = i;
            break;
        }
    }
    DeviceComboBox->setCurrentIndex(selected);

    Log.WriteLog(QStringLiteral("Settings Loaded."), LogColor::Black);
}

void TForm1::ReadDeviceSettings(const QString &section)
{
    IniFile ini(IniFilePath);
    ini.Preload();
    const DeviceSettings values = ReadDeviceSection(ini, section);
    Connection.CurrentDeviceSerialNo = values.DeviceSerialNo;
    DestLabeledEdit->setText(values.DestPath);
    DateFormatEdit->setText(values.DateFormat);
    DeviceRootEdit->setText(values.DeviceRoot);
    CopyModeRadioGroup->SetItemIndex(values.CopyMode);
    CopyModeRadioGroupClick();
    Form3->ShowDeviceSettings(values);
    Form4->ShowDeviceSettings(values);
}

void TForm1::SaveSettings()
{
    IniFile ini(IniFilePath);
    const QString current = DeviceComboBox->currentText();
    WriteDeviceList(ini, DeviceListEntries(), current, Log);
    ProgramSettings style;
    style.StyleName = ChosenStyleName;
    WriteProgramSection(ini, style, ProgramKeys::Style);

    if (!current.trimmed().isEmpty()) {
        DeviceRootEdit->setText(CleanDeviceRoot(DeviceRootEdit->text()));
        DeviceSettings values;
        values.DeviceName = current;
        values.DeviceSerialNo = Connection.CurrentDeviceSerialNo.trimmed();
        values.DestPath = DestLabeledEdit->text();
        values.DateFormat = DateFormatEdit->text();
        values.DeviceRoot = DeviceRootEdit->text();
        values.CopyMode = qMax(0, CopyModeRadioGroup->ItemIndex());
        Form3->StoreDeviceSettings(values);
        Form4->StoreDeviceSettings(values);
        WriteDeviceSection(ini, current, values, DeviceKeys::All);
    }
    Log.WriteLog(QStringLiteral("Settings Saved."), LogColor::Black);
}

void TForm1::SaveSettingsClick()
{
    SaveSettings();
}

void TForm1::LoadFormSettings()
{
    IniFile ini(IniFilePath);
    ini.Preload();
    ProgramSettings designed;
    designed.Width = this->width();
    designed.Height = this->height();
    const ProgramSettings saved = ReadProgramSection(ini, designed);
    const int left = saved.Left, top = saved.Top;
    constexpr int kNone = ProgramSettings::kNoPosition;
    const QScreen *primaryScreen = QGuiApplication::primaryScreen();
    const QRect primary = primaryScreen ? primaryScreen->availableGeometry() : QRect(0, 0, 1024, 768);
    QList<QRect> areas;
    for (const QScreen *screen : QGuiApplication::screens())
        areas << screen->availableGeometry();
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    const bool centre = left == kNone || top == kNone;
    // A saved size below the design minimum is raised to it; only a screen
    // too small for the design gets less, and the minimum follows the screen.
    const QSize least = minimumSize();
    const QRect placed = PlaceOnScreen(
        QRect(QPoint(centre ? 0 : left, centre ? 0 : top), QSize(saved.Width, saved.Height).expandedTo(least)), frame,
        areas, primary, centre);
    setMinimumSize(least.boundedTo(placed.size()));
    setGeometry(placed);
    if (saved.WindowState == 2)
        setWindowState(Qt::WindowMaximized);
    else
        setWindowState(Qt::WindowNoState);
    LoadPreviewSettings();
}

QRect TForm1::PlaceOnScreen(QRect wanted, const QMargins &frame, const QList<QRect> &areas, const QRect &primary,
                            bool centre)
{
    const QRect outer = wanted.marginsAdded(frame);
    QRect area;
    int best = 0;
    for (const QRect &candidate : areas) {
        const QRect common = candidate.intersected(outer);
        const int shared = common.isEmpty() ? 0 : common.width() * common.height();
        if (shared > best) {
            best = shared;
            area = candidate;
        }
    }
    if (centre || area.isEmpty()) {
        area = primary;
        centre = true;
    }
    const QSize room = area.size().shrunkBy(frame);
    wanted.setSize(wanted.size().boundedTo(room).expandedTo(QSize(1, 1)));
    if (centre)
        wanted.moveTopLeft(area.topLeft() + QPoint(frame.left(), frame.top()) +
                           QPoint((room.width() - wanted.width()) / 2, (room.height() - wanted.height()) / 2));
    // Every edge of the frame on that area.
    const int minX = area.left() + frame.left(), maxX = area.right() - frame.right() - wanted.width() + 1;
    const int minY = area.top() + frame.top(), maxY = area.bottom() - frame.bottom() - wanted.height() + 1;
    wanted.moveTo(qBound(minX, wanted.x(), qMax(minX, maxX)), qBound(minY, wanted.y(), qMax(minY, maxY)));
    return wanted;
}

void TForm1::SaveFormSettings()
{
    const Qt::WindowStates state = windowState();
    int stateValue = 0;
    QRect bounds = geometry();
    if (state & Qt::WindowMaximized)
        stateValue = 2;
    else if (state & Qt::WindowMinimized)
        stateValue = 1;
    if (stateValue != 0 && normalGeometry().isValid())
        bounds = normalGeometry();
    ProgramSettings window;
    window.Width = bounds.width();
    window.Height = bounds.height();
    window.Left = bounds.x();
    window.Top = bounds.y();
    window.WindowState = stateValue;
    IniFile ini(IniFilePath);
    WriteProgramSection(ini, window, ProgramKeys::Window);
    SavePreviewSettings();
}

void TForm1::DateFormatEditChange()
{
    DateFormatExampleEdit->setText(
        FormatDateTime(DateFormatEdit->text(), QDateTime::currentDateTime(), ProcessFormatSettings()));
}

void TForm1::CopyModeRadioGroupClick()
{
    const bool dated = CopyModeRadioGroup->ItemIndex() == 0;
    DateFormatEdit->setVisible(dated);
    DateFormatExampleEdit->setVisible(dated);
}

void TForm1::SelectDestination()
{
    if (Connection.CurrentDeviceName.trimmed().isEmpty()) {
        StatusBar1->showMessage(QStringLiteral("No device selected."));
        return;
    }
    QString start = DestLabeledEdit->text();
    if (start.isEmpty() || !QDir(start).exists())
        start = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!QDir(start).exists())
        start = QDir::homePath();  // a desktop without a Desktop folder
    QFileDialog dialog(this, QStringLiteral("Select Destination Folder"), start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        DestLabeledEdit->setText(dialog.selectedFiles().constFirst());
}

void TForm1::OptionsBitBtnClick()
{
    Form4->exec();
}

void TForm1::PostProcessingBitBtnClick()
{
    if (Connection.CurrentDeviceName.trimmed().isEmpty()) {
        StatusBar1->showMessage(QStringLiteral("No device selected."));
        return;
    }
    Form3->exec();
}
