#include "Unit3.h"

#include "log/ColorRules.h"
#include "log/LogSink.h"
#include "settings/DeviceSettings.h"
#include "settings/DialogKeys.h"
#include "settings/SettingsStore.h"
#include "settings/Style.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QKeyEvent>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

const char kHeading[] = "<span style=\"color:#0000FF; font-weight:bold\">%1</span>";

QString Heading(const char *text)
{
    return QString::fromLatin1(kHeading).arg(QLatin1String(text));
}

QString Escaped(const char *text)
{
    return QString::fromUtf8(text).toHtmlEscaped();
}

QString TagLine(const char *tag, const char *rest)
{
    return QStringLiteral("<b>%1</b>%2").arg(Escaped(tag), Escaped(rest));
}

QLabel *HelpLabel(const QStringList &lines, QWidget *parent)
{
    auto *label = new QLabel(lines.join(QStringLiteral("<br>")), parent);
    label->setTextFormat(Qt::RichText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QLineEdit *CodeField(QWidget *parent)
{
    auto *edit = new QLineEdit(QStringLiteral("0"), parent);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    edit->setMaximumWidth(60);
    edit->setStatusTip(QStringLiteral("Return code which indicates the command has run successfully."));
    return edit;
}

}  // namespace

TForm3::TForm3(LogSink &log, SettingsStore &settings, const QString &currentDeviceName, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), log_(log), settings_(settings),
      currentDeviceName_(currentDeviceName)
{
    setWindowTitle(QStringLiteral("Post Processing"));
    setModal(true);

    PostFileCopyCommandCheckBox = new QCheckBox(this);
    PostFileCopyCommandCheckBox->setStatusTip(QStringLiteral("Enable\\Disable Post Copy Command"));
    PostFileCopyCommandLabeledEdit = new LabeledEdit(QStringLiteral("Post File Copy Command:"), this);
    PostFileCopyCommandLabeledEdit->setStatusTip(
        QStringLiteral("Command and parameters run after copy of EACH FILE completes."));
    PostFileCopyForceCheckBox = new QCheckBox(QStringLiteral("Force Run"), this);
    PostFileCopyForceCheckBox->setStatusTip(QStringLiteral("Run the command even if the file was not copied."));
    PostFileCopyLabel1 = new QLabel(QStringLiteral("Success Return Code:"), this);
    PostFileCopySuccessCode = CodeField(this);
    PostFileCopyLabel1->setBuddy(PostFileCopySuccessCode);
    PostFileCopyHelpLabel = HelpLabel(
        {Heading("Tags:"),
         TagLine("[Path]", " represents the destination path where the file was copied to. Contains a terminating "
                           "path delimiter."),
         TagLine("[File]", " represents the file name copied. Can only be used for the Post File Copy Command."),
         QString(), Heading("Example 1:") + Escaped(" Copy the file to another drive."),
         Escaped("cp [Path][File] ~/Backup/"), QString(), Heading("Example 2:") + Escaped(" Upload file to DropBox"),
         Escaped("/usr/local/bin/pneumatictube -f [Path][File] -p CameraBackup -c")},
        this);

    PostProcessingCommandCheckBox = new QCheckBox(this);
    PostProcessingCommandCheckBox->setStatusTip(QStringLiteral("Enable\\Disable Post Processing Command"));
    PostProcessingCommandLabeledEdit = new LabeledEdit(QStringLiteral("Post Processing Command:"), this);
    PostProcessingCommandLabeledEdit->setStatusTip(
        QStringLiteral("Command and parameters run AFTER ALL COPYING completes."));
    PostProcessingLabel1 = new QLabel(QStringLiteral("Success Return Code:"), this);
    PostProcessingSuccessCode = CodeField(this);
    PostProcessingLabel1->setBuddy(PostProcessingSuccessCode);
    PostProcessingHelpLabel = HelpLabel(
        {Heading("Tag:"),
         TagLine("[Path]", " represents the destination path where the file was copied to. Contains a terminating "
                           "path delimiter."),
         QString(), Heading("Example 1:") + Escaped(" Copy directory to another drive."),
         Escaped("cp -r [Path] ~/\"Backup Camera\"/"), QString(),
         Heading("Example 2:") + Escaped(" Upload directory to Google Drive"),
         Escaped("/usr/local/bin/gdrive upload --no-progress [Path]")},
        this);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    OKButton->setAutoDefault(false);
    CancelButton->setAutoDefault(false);

    connect(PostFileCopyCommandCheckBox, &QCheckBox::toggled, this, &TForm3::PostFileCopyCommandCheckBoxClick);
    connect(PostProcessingCommandCheckBox, &QCheckBox::toggled, this, &TForm3::PostProcessingCommandCheckBoxClick);
    connect(OKButton, &QPushButton::clicked, this, &TForm3::OKButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TForm3::CancelButtonClick);

    auto *layout = new QGridLayout(this);
    layout->setColumnStretch(1, 1);
    layout->addWidget(PostFileCopyCommandCheckBox, 0, 0, Qt::AlignBottom);
    layout->addWidget(PostFileCopyCommandLabeledEdit, 0, 1, 1, 3);
    layout->addWidget(PostFileCopyForceCheckBox, 1, 1);
    layout->addWidget(PostFileCopyLabel1, 1, 2, Qt::AlignRight);
    layout->addWidget(PostFileCopySuccessCode, 1, 3);
    layout->addWidget(PostFileCopyHelpLabel, 2, 1, 1, 3);
    auto *separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    layout->addWidget(separator, 3, 0, 1, 4);
    layout->addWidget(PostProcessingCommandCheckBox, 4, 0, Qt::AlignBottom);
    layout->addWidget(PostProcessingCommandLabeledEdit, 4, 1, 1, 3);
    layout->addWidget(PostProcessingLabel1, 5, 2, Qt::AlignRight);
    layout->addWidget(PostProcessingSuccessCode, 5, 3);
    layout->addWidget(PostProcessingHelpLabel, 6, 1, 1, 3);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    layout->addLayout(buttons, 7, 0, 1, 4);
    layout->setRowStretch(6, 1);

    resize(560, 480);
    PostFileCopyCommandCheckBoxClick();
    PostProcessingCommandCheckBoxClick();
}

// The help texts wrap, so the height the dialog needs depends on its width
// and on which of them are shown: fit it whenever one is shown or hidden,
// so that neither is ever cut off.
void TForm3::FitHeight()
{
    layout()->activate();
    const int needed =
        layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width()) : layout()->totalMinimumSize().height();
    setMinimumHeight(needed);
    resize(width(), needed);
}

void TForm3::showEvent(QShowEvent *event)
{
    FormShow();
    QDialog::showEvent(event);
}

void TForm3::FormShow()
{
    kept_.fileCommandOn = PostFileCopyCommandCheckBox->isChecked();
    kept_.processingCommandOn = PostProcessingCommandCheckBox->isChecked();
    kept_.fileCommand = PostFileCopyCommandLabeledEdit->text();
    kept_.processingCommand = PostProcessingCommandLabeledEdit->text();
    kept_.force = PostFileCopyForceCheckBox->isChecked();
    kept_.fileCode = PostFileCopySuccessCode->text();
    kept_.processingCode = PostProcessingSuccessCode->text();
    PostFileCopyCommandCheckBoxClick();
    PostProcessingCommandCheckBoxClick();
}

void TForm3::StyleHelp(QLabel *help)
{
    // On a dark style the black help text gets a light background of its own.
    const QColor face = QApplication::palette().color(QPalette::Button);
    QPalette palette = help->palette();
    if (ChosenStyleName != QLatin1String("Windows") && IsDarkButtonFace(face)) {
        help->setAutoFillBackground(true);
        palette.setColor(QPalette::Window, LightenColor(face, 500));
        palette.setColor(QPalette::WindowText, Qt::black);
    } else {
        help->setAutoFillBackground(false);
        palette = QApplication::palette();
    }
    help->setPalette(palette);
}

void TForm3::PostFileCopyCommandCheckBoxClick()
{
    const bool on = PostFileCopyCommandCheckBox->isChecked();
    for (QWidget *w :
         {static_cast<QWidget *>(PostFileCopyCommandLabeledEdit), static_cast<QWidget *>(PostFileCopyForceCheckBox),
          static_cast<QWidget *>(PostFileCopySuccessCode), static_cast<QWidget *>(PostFileCopyLabel1)})
        w->setEnabled(on);
    PostFileCopyHelpLabel->setVisible(on);
    StyleHelp(PostFileCopyHelpLabel);
    FitHeight();
}

void TForm3::PostProcessingCommandCheckBoxClick()
{
    const bool on = PostProcessingCommandCheckBox->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(PostProcessingCommandLabeledEdit),
                       static_cast<QWidget *>(PostProcessingSuccessCode), static_cast<QWidget *>(PostProcessingLabel1)})
        w->setEnabled(on);
    PostProcessingHelpLabel->setVisible(on);
    StyleHelp(PostProcessingHelpLabel);
    FitHeight();
}

void TForm3::ShowDeviceSettings(const DeviceSettings &values)
{
    PostFileCopyCommandCheckBox->setChecked(values.PostFileCopyCommandOn);
    PostProcessingCommandCheckBox->setChecked(values.PostProcessingCommandOn);
    PostFileCopyCommandLabeledEdit->setText(values.PostFileCopyCommand);
    PostProcessingCommandLabeledEdit->setText(values.PostProcessingCommand);
    PostFileCopyForceCheckBox->setChecked(values.PostFileCopyForceRun);
    PostFileCopySuccessCode->setText(values.PostFileCopySuccessCode);
    PostProcessingSuccessCode->setText(values.PostProcessingSuccessCode);
}

void TForm3::StoreDeviceSettings(DeviceSettings &values) const
{
    values.PostFileCopyCommandOn = PostFileCopyCommandCheckBox->isChecked();
    values.PostProcessingCommandOn = PostProcessingCommandCheckBox->isChecked();
    values.PostFileCopyCommand = PostFileCopyCommandLabeledEdit->text();
    values.PostProcessingCommand = PostProcessingCommandLabeledEdit->text();
    values.PostFileCopyForceRun = PostFileCopyForceCheckBox->isChecked();
    values.PostFileCopySuccessCode = PostFileCopySuccessCode->text();
    values.PostProcessingSuccessCode = PostProcessingSuccessCode->text();
}

void TForm3::OKButtonClick()
{
    DeviceSettings values;
    StoreDeviceSettings(values);
    settings_.WriteDevice(currentDeviceName_, values, DeviceKeys::PostProcessing);
    log_.WriteLog(QStringLiteral("Post Processing Options Saved."), LogColor::Black);
    accept();
}

void TForm3::CancelButtonClick()
{
    PostFileCopyCommandCheckBox->setChecked(kept_.fileCommandOn);
    PostProcessingCommandCheckBox->setChecked(kept_.processingCommandOn);
    PostFileCopyCommandLabeledEdit->setText(kept_.fileCommand);
    PostProcessingCommandLabeledEdit->setText(kept_.processingCommand);
    PostFileCopyForceCheckBox->setChecked(kept_.force);
    PostFileCopySuccessCode->setText(kept_.fileCode);
    PostProcessingSuccessCode->setText(kept_.processingCode);
    PostFileCopyCommandCheckBoxClick();
    PostProcessingCommandCheckBoxClick();
    reject();
}

void TForm3::keyPressEvent(QKeyEvent *event)
{
    if (!HandleDialogKey(event, [this] { CancelButtonClick(); }))
        QDialog::keyPressEvent(event);
}
