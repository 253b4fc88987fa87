#include "SettingsPanel.h"

#include "app/WindowControls.h"
#include "base/DateFormat.h"
#include "catalogue/PathRules.h"
#include "catalogue/Unit2.h"
#include "session/Destination.h"
#include "session/ImportSession.h"
#include "settings/Controls.h"
#include "settings/Style.h"
#include "settings/Unit3.h"
#include "settings/Unit4.h"

#include <QCompleter>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFrame>
#include <QScopedValueRollback>
#include <QStatusBar>

#include <utility>

SettingsPanel::SettingsPanel(ImportSession &session, QWidget *parent, QStatusBar *&statusBar)
    : QObject(parent), session_(session), window_(parent->window()), statusBar_(statusBar)
{
    CopyModeRadioGroup = new RadioGroup(QStringLiteral("Copy Mode:"),
                                        {QStringLiteral("Copy files into folders named by source file created date:"),
                                         QStringLiteral("Copy folder structure as found on source device")},
                                        parent);
    CopyModeRadioGroup->SetItemIndex(0);
    SetHint(CopyModeRadioGroup, QStringLiteral("Change how files are copied to the destination."), 100);

    DateFormatEdit = new LabeledEdit(QStringLiteral("Date Format:"), CopyModeRadioGroup);
    DateFormatEdit->setText(QStringLiteral("yyyy-mm-dd"));
    DateFormatEdit->setFixedWidth(90);
    SetHint(DateFormatEdit, QStringLiteral("Date format. See Help for tags to use."), 100);
    DateFormatExampleEdit = new LabeledEdit(QStringLiteral("Date Example:"), CopyModeRadioGroup);
    DateFormatExampleEdit->setReadOnly(true);
    DateFormatExampleEdit->setFixedWidth(90);
    SetHint(DateFormatExampleEdit, QStringLiteral("Example of the date format."), 100);

    Bevel1 = new QFrame(parent);
    Bevel1->setFrameShape(QFrame::StyledPanel);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setFixedWidth(124);

    DeviceRootEdit = new LabeledEdit(QStringLiteral("Device Root Path: (Blank is device root)"), parent);
    DeviceRootEdit->setReadOnly(true);
    SetHint(DeviceRootEdit,
            QStringLiteral("Enter full path without drive (eg. \\folderA\\folderB) Leave blank for device root."), 110);
    DeviceRootSpeedButton = IconButton(parent, QStyle::SP_DirIcon);
    SetHint(DeviceRootSpeedButton, QStringLiteral("Select device root path."), 110);
    OptionsBitBtn = Button(Bevel1, QStringLiteral("Options"), 105);
    SetHint(OptionsBitBtn, QStringLiteral("Application options."), 120);

    DestLabeledEdit = new LabeledEdit(QStringLiteral("Destination Path:"), parent);
    SetHint(DestLabeledEdit, QStringLiteral("Path where files will be copied to."), 110);
    // Typed or chosen; the folders of the path typed so far are offered.
    auto *folders = new QFileSystemModel(DestLabeledEdit);
    folders->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    folders->setRootPath(QString());
    auto *completer = new QCompleter(folders, DestLabeledEdit);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    DestLabeledEdit->Edit->setCompleter(completer);
    DestSpeedButton = IconButton(parent, QStyle::SP_DirOpenIcon);
    SetHint(DestSpeedButton, QStringLiteral("Select a destination path."), 110);
    PostProcessingBitBtn = Button(Bevel1, QStringLiteral("Post Processing"), 105);
    SetHint(PostProcessingBitBtn, QStringLiteral("Post processing options for current device."), 130);

    SaveSettingsBitBtn = Button(parent, QStringLiteral("Save Settings"), 105, QStyle::SP_DialogSaveButton);
    SetHint(SaveSettingsBitBtn, QStringLiteral("Save the settings for current device and makes it the default."), 90);

    for (LabeledEdit *edit : {DateFormatEdit, DateFormatExampleEdit, DeviceRootEdit, DestLabeledEdit})
        edit->Edit->setAccessibleName(edit->EditLabel->text());
    for (QToolButton *button : {DeviceRootSpeedButton, DestSpeedButton})
        button->setAccessibleName(button->statusTip());

    connect(DateFormatEdit->Edit, &QLineEdit::textChanged, this, &SettingsPanel::DateFormatEditChange);
    connect(CopyModeRadioGroup, &RadioGroup::Click, this,
            [this] { ShowDateFields(CopyModeRadioGroup->ItemIndex() == 0); });
    connect(DestSpeedButton, &QToolButton::clicked, this, &SettingsPanel::SelectDestination);
    connect(DeviceRootSpeedButton, &QToolButton::clicked, this, &SettingsPanel::SelectDeviceRoot);
    connect(DeviceRootEdit->Edit, &QLineEdit::textChanged, this, [this] {
        const QString current = DeviceRootEdit->text();
        const QString normal = NormalDeviceRoot(current);
        if (normal != current)
            DeviceRootEdit->setText(normal);
    });
    // The dialogs save their own settings at OK: a failed save is said in the log.
    connect(OptionsBitBtn, &QPushButton::clicked, this, [this] { session_.Saving([this] { form4_->exec(); }); });
    connect(PostProcessingBitBtn, &QPushButton::clicked, this, [this] {
        if (!RefuseWithoutDevice())
            session_.Saving([this] { form3_->exec(); });
    });
    connect(SaveSettingsBitBtn, &QPushButton::clicked, this, &SettingsPanel::Save);
    connect(&session_, &ImportSession::currentChanged, this, &SettingsPanel::ShowSettings);
}

bool SettingsPanel::Save()
{
    // The filter list is shown as it is saved.
    DeviceSettings sorted;
    form4_->StoreDeviceSettings(sorted);
    ControlChanged();
    return session_.SaveSettings(ChosenStyleName);
}

void SettingsPanel::SetDialogs(TForm2 *rootPicker, TForm3 *postProcessing, TForm4 *options)
{
    form2_ = rootPicker;
    form3_ = postProcessing;
    form4_ = options;
}

void SettingsPanel::ShowSettings()
{
    const QScopedValueRollback<bool> showing(showing_, true);
    const DeviceSettings &values = session_.Current();
    DestLabeledEdit->setText(values.DestPath);
    DateFormatEdit->setText(values.DateFormat);
    DeviceRootEdit->setText(values.DeviceRoot);
    CopyModeRadioGroup->SetItemIndex(values.CopyMode);
    ShowDateFields(CopyModeRadioGroup->ItemIndex() == 0);
    if (form3_)
        form3_->ShowDeviceSettings(values);
    if (form4_)
        form4_->ShowDeviceSettings(values);
}

DeviceSettings SettingsPanel::ReadSettings() const
{
    DeviceSettings values = session_.Current();
    values.DestPath = DestLabeledEdit->text();
    values.DateFormat = DateFormatEdit->text();
    values.DeviceRoot = DeviceRootEdit->text();
    values.CopyMode = CopyModeRadioGroup->ItemIndex();
    if (form3_)
        form3_->StoreDeviceSettings(values);
    if (form4_)
        form4_->ReadDeviceSettings(values);
    return values;
}

void SettingsPanel::ControlChanged()
{
    // Reading the dialogs may tidy their controls, which reports changes again.
    if (showing_)
        return;
    const QScopedValueRollback<bool> reading(showing_, true);
    session_.SetCurrent(ReadSettings());
}

void SettingsPanel::SetIdle(bool idle)
{
    for (QWidget *control : {static_cast<QWidget *>(DestSpeedButton), static_cast<QWidget *>(SaveSettingsBitBtn),
                             static_cast<QWidget *>(DestLabeledEdit), static_cast<QWidget *>(CopyModeRadioGroup),
                             static_cast<QWidget *>(DeviceRootEdit), static_cast<QWidget *>(DeviceRootSpeedButton),
                             static_cast<QWidget *>(OptionsBitBtn), static_cast<QWidget *>(PostProcessingBitBtn)})
        control->setEnabled(idle);
    ShowDateFields(idle && CopyModeRadioGroup->ItemIndex() == 0);
    if (form4_)
        form4_->SetProgramOptionsEnabled(idle);
}

void SettingsPanel::ShowDateFields(bool visible)
{
    DateFormatEdit->setVisible(visible);
    DateFormatExampleEdit->setVisible(visible);
}

void SettingsPanel::DateFormatEditChange()
{
    DateFormatExampleEdit->setText(
        FormatDateTime(DateFormatEdit->text(), QDateTime::currentDateTime(), ProcessFormatSettings()));
}

bool SettingsPanel::RefuseWithoutDevice()
{
    if (!session_.CurrentDeviceName().trimmed().isEmpty())
        return false;
    statusBar_->showMessage(QStringLiteral("No device selected."));
    return true;
}

void SettingsPanel::SelectDestination()
{
    if (RefuseWithoutDevice())
        return;
    // The folder typed, or the nearest one of it that exists.
    QString start = DestLabeledEdit->text().trimmed();
    if (start.isEmpty())
        start = ImportSession::DefaultDestination();
    while (!start.isEmpty() && !QFileInfo(start).isDir() && QDir::cleanPath(start) != QLatin1String("/"))
        start = QFileInfo(QDir::cleanPath(start)).path();
    if (!QFileInfo(start).isDir() || start == QLatin1String("/"))
        start = QDir::homePath();
    QFileDialog dialog(window_, QStringLiteral("Select Destination Folder"), start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString chosen = dialog.selectedFiles().constFirst();
    const DestinationCheck check = CheckDestination(chosen);
    if (check.state == DestinationCheck::Refused) {
        session_.Log().WriteLog(check.reason, LogColor::Red, LogStyle::Bold);
        return;
    }
    DestLabeledEdit->setText(check.path);
}

void SettingsPanel::SelectDeviceRoot()
{
    if (!RefuseWithoutDevice())
        form2_->exec();
}
