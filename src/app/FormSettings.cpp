// The main window's settings routines: loading and saving the settings file,
// the window geometry, and the handlers of the settings controls.

#include "Unit1.h"

#include "app/ProgramFolders.h"
#include "settings/DateFormat.h"
#include "settings/FileFilter.h"
#include "settings/IniFile.h"
#include "settings/SpinEdit.h"
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

#include <limits>

namespace {

const QString kProgramSection = QStringLiteral("Ferrovane");
const QString kDevicesSection = QStringLiteral("Devices");
const QString kDefaultDateFormat = QStringLiteral("yyyy-mm-dd");
constexpr int kMaxDeviceList = 1000;

// The device root as stored: trimmed, and a lone "\" means the device's root.
QString CleanDeviceRoot(const QString &root)
{
    const QString trimmed = root.trimmed();
    return trimmed == QLatin1String("\\") ? QString() : trimmed;
}

} // namespace

void TForm1::LoadSettings()
{
    IniFile ini(IniFilePath);
    ini.Preload();
    DebugFlag = ini.ReadBool(kProgramSection, QStringLiteral("Debug"), false);
    Form4->DebugCheckBox->setChecked(DebugFlag.load());
    Form4->DebugCheckBox->setVisible(DebugFlag.load());

    // A hand-edited count in the millions would only fill the list with empty
    // entries; no one keeps more than a thousand devices.
    const int deviceCount = qMin(ini.ReadInteger(kProgramSection, QStringLiteral("DeviceCount"), 0), kMaxDeviceList);
    const QString lastDevice = ini.ReadString(kProgramSection, QStringLiteral("LastDevice"), QString());
    Form4->MaxLogDaysSpinEdit->SetText(ini.ReadString(kProgramSection, QStringLiteral("MaxLogDays"), QStringLiteral("30")));
    ChosenStyleName = ini.ReadString(kProgramSection, QStringLiteral("StyleName"), QStringLiteral("Auric"));

    DeviceComboBox->clear();
    for (int i = 0; i < deviceCount; ++i) {
        const QString name = ini.ReadString(kDevicesSection, QStringLiteral("Item%1").arg(i), QString());
        DeviceComboBox->addItem(name);
        Log.WriteDebug(QStringLiteral("Loaded %1 %2").arg(i).arg(name));
    }

    Connection.CurrentDeviceName = ini.ReadString(lastDevice, QStringLiteral("DeviceName"), QString());
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
    Connection.CurrentDeviceSerialNo = ini.ReadString(section, QStringLiteral("DeviceSerialNo"), QString()).trimmed();
    DestLabeledEdit->setText(ini.ReadString(section, QStringLiteral("DestPath"), QString()));
    DateFormatEdit->setText(ini.ReadString(section, QStringLiteral("DateFormat"), kDefaultDateFormat));
    DeviceRootEdit->setText(CleanDeviceRoot(ini.ReadString(section, QStringLiteral("DeviceRoot"), QString())));
    CopyModeRadioGroup->SetItemIndex(qBound(0, ini.ReadInteger(section, QStringLiteral("CopyMode"), 0), 1));
    CopyModeRadioGroupClick();
    Form4->ByteLevelCompareCheckBox->setChecked(ini.ReadBool(section, QStringLiteral("ByteLevelCompare"), false));
    Form4->DeleteFilesCheckBox->setChecked(ini.ReadBool(section, QStringLiteral("DeleteFiles"), false));
    Form3->PostFileCopyCommandCheckBox->setChecked(
        ini.ReadBool(section, QStringLiteral("PostFileCopyCommandCheckBox"), false));
    Form3->PostProcessingCommandCheckBox->setChecked(
        ini.ReadBool(section, QStringLiteral("PostProcessingCommandCheckBox"), false));
    Form3->PostFileCopyCommandLabeledEdit->setText(
        ini.ReadCommand(section, QStringLiteral("PostFileCopyCommandLabeledEdit"), QString()));
    Form3->PostProcessingCommandLabeledEdit->setText(
        ini.ReadCommand(section, QStringLiteral("PostProcessingCommandLabeledEdit"), QString()));
    Form3->PostFileCopyForceCheckBox->setChecked(
        ini.ReadBool(section, QStringLiteral("PostFileCopyForceCheckBox"), false));
    Form3->PostFileCopySuccessCode->setText(
        ini.ReadString(section, QStringLiteral("PostFileCopySuccessCode"), QStringLiteral("0")));
    Form3->PostProcessingSuccessCode->setText(
        ini.ReadString(section, QStringLiteral("PostProcessingSuccessCode"), QStringLiteral("0")));
    Form4->FileFiltersCheckBox->setChecked(ini.ReadBool(section, QStringLiteral("FileFiltersCheckBox"), true));
    Form4->SetFilterList(DecodeFileFilter(
        ini.ReadString(section, QStringLiteral("FileFilter"), QString::fromLatin1(kDefaultFileFilter))));
    Form4->FileFiltersCheckBoxClick();
}

void TForm1::SaveSettings()
{
    IniFile ini(IniFilePath);
    const QString current = DeviceComboBox->currentText();
    ini.WriteInteger(kProgramSection, QStringLiteral("DeviceCount"), DeviceComboBox->count());
    ini.WriteString(kProgramSection, QStringLiteral("LastDevice"), current);
    ini.WriteString(kProgramSection, QStringLiteral("StyleName"), ChosenStyleName);

    ini.EraseSection(kDevicesSection);
    for (int i = 0; i < DeviceComboBox->count(); ++i) {
        ini.WriteString(kDevicesSection, QStringLiteral("Item%1").arg(i), DeviceComboBox->itemText(i));
        Log.WriteDebug(QStringLiteral("Saved %1 %2").arg(i).arg(DeviceComboBox->itemText(i)));
    }

    if (!current.trimmed().isEmpty()) {
        const QString &section = current;
        ini.WriteString(section, QStringLiteral("DeviceName"), current);
        ini.WriteString(section, QStringLiteral("DeviceSerialNo"), Connection.CurrentDeviceSerialNo.trimmed());
        ini.WriteString(section, QStringLiteral("DestPath"), DestLabeledEdit->text());
        ini.WriteString(section, QStringLiteral("DateFormat"), DateFormatEdit->text());
        DeviceRootEdit->setText(CleanDeviceRoot(DeviceRootEdit->text()));
        ini.WriteString(section, QStringLiteral("DeviceRoot"), DeviceRootEdit->text());
        ini.WriteInteger(section, QStringLiteral("CopyMode"), qMax(0, CopyModeRadioGroup->ItemIndex()));
        ini.WriteBool(section, QStringLiteral("ByteLevelCompare"), Form4->ByteLevelCompareCheckBox->isChecked());
        ini.WriteBool(section, QStringLiteral("DeleteFiles"), Form4->DeleteFilesCheckBox->isChecked());
        ini.WriteBool(section, QStringLiteral("PostFileCopyCommandCheckBox"),
                      Form3->PostFileCopyCommandCheckBox->isChecked());
        ini.WriteBool(section, QStringLiteral("PostProcessingCommandCheckBox"),
                      Form3->PostProcessingCommandCheckBox->isChecked());
        ini.WriteCommand(section, QStringLiteral("PostFileCopyCommandLabeledEdit"),
                         Form3->PostFileCopyCommandLabeledEdit->text());
        ini.WriteCommand(section, QStringLiteral("PostProcessingCommandLabeledEdit"),
                         Form3->PostProcessingCommandLabeledEdit->text());
        ini.WriteBool(section, QStringLiteral("PostFileCopyForceCheckBox"), Form3->PostFileCopyForceCheckBox->isChecked());
        ini.WriteString(section, QStringLiteral("PostFileCopySuccessCode"), Form3->PostFileCopySuccessCode->text());
        ini.WriteString(section, QStringLiteral("PostProcessingSuccessCode"), Form3->PostProcessingSuccessCode->text());
        ini.WriteBool(section, QStringLiteral("FileFiltersCheckBox"), Form4->FileFiltersCheckBox->isChecked());
        QStringList filters = Form4->FilterList();
        SortFileFilter(filters);
        Form4->SetFilterList(filters);
        ini.WriteString(section, QStringLiteral("FileFilter"), EncodeFileFilter(filters));
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
    const int width = ini.ReadInteger(kProgramSection, QStringLiteral("Width"), this->width());
    const int height = ini.ReadInteger(kProgramSection, QStringLiteral("Height"), this->height());
    constexpr int kNone = std::numeric_limits<int>::min();
    const int left = ini.ReadInteger(kProgramSection, QStringLiteral("Left"), kNone);
    const int top = ini.ReadInteger(kProgramSection, QStringLiteral("Top"), kNone);
    const QScreen *primaryScreen = QGuiApplication::primaryScreen();
    const QRect primary = primaryScreen ? primaryScreen->availableGeometry() : QRect(0, 0, 1024, 768);
    QList<QRect> areas;
    for (const QScreen *screen : QGuiApplication::screens())
        areas << screen->availableGeometry();
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    const bool centre = left == kNone || top == kNone;
    const QRect placed = PlaceOnScreen(QRect(centre ? 0 : left, centre ? 0 : top, width, height), frame, areas,
                                       primary, centre);
    // The design minimum gives way to a smaller screen.
    setMinimumSize(minimumSize().boundedTo(placed.size()));
    setGeometry(placed);
    if (ini.ReadInteger(kProgramSection, QStringLiteral("WindowState"), 0) == 2)
        setWindowState(Qt::WindowMaximized);
    else
        setWindowState(Qt::WindowNoState);
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
    IniFile ini(IniFilePath);
    ini.WriteInteger(kProgramSection, QStringLiteral("Width"), bounds.width());
    ini.WriteInteger(kProgramSection, QStringLiteral("Height"), bounds.height());
    ini.WriteInteger(kProgramSection, QStringLiteral("Left"), bounds.x());
    ini.WriteInteger(kProgramSection, QStringLiteral("Top"), bounds.y());
    ini.WriteInteger(kProgramSection, QStringLiteral("WindowState"), stateValue);
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
