#include "Unit4.h"

#include "base/TextRules.h"
#include "log/ColorRules.h"
#include "log/LogSink.h"
#include "settings/DeviceSettings.h"
#include "settings/DialogKeys.h"
#include "settings/FileFilter.h"
#include "settings/HintLine.h"
#include "settings/ProgramSettings.h"
#include "settings/SettingsStore.h"
#include "settings/SpinEdit.h"
#include "settings/Style.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QLabel *Heading(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// The hint shows as a tooltip and in a status bar; screen readers read it as
// the control's description.
void SetHint(QWidget *control, const QString &hint)
{
    control->setStatusTip(hint);
    // As rich text, a long hint wraps instead of running off the screen.
    control->setToolTip(QStringLiteral("<p>") + hint.toHtmlEscaped() + QStringLiteral("</p>"));
    control->setAccessibleDescription(hint);
    control->setProperty("HelpContext", 120);
}

QString FilesText(qint64 count)
{
    return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
}

}  // namespace

TForm4::TForm4(LogSink &log, SettingsStore &settings, const QString &currentDeviceName, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), log_(log), settings_(settings),
      currentDeviceName_(currentDeviceName)
{
    setWindowTitle(QStringLiteral("Options"));
    setModal(true);

    DeviceHeading = Heading(QStringLiteral("Options Per Device:"), this);
    ByteLevelCompareCheckBox = new QCheckBox(QStringLiteral("Byte Level File Comparison"), this);
    ByteLevelCompareCheckBox->setStatusTip(QStringLiteral("Perform a slower byte level comparison of all files."));
    DeleteFilesCheckBox = new QCheckBox(QStringLiteral("Delete files on source device after transfer"), this);
    DeleteFilesCheckBox->setStatusTip(QStringLiteral("Delete the files on source device after successful transfer."));
    CopyOnConnectCheckBox = new QCheckBox(QStringLiteral("Copy when this device is connected"), this);
    const QString copyOnConnectHint = QStringLiteral(
        "Start copying by itself, with these settings, when this device is plugged in or its card inserted.");
    CopyOnConnectCheckBox->setStatusTip(copyOnConnectHint);
    CopyOnConnectCheckBox->setToolTip(copyOnConnectHint);
    CopyOnConnectCheckBox->setAccessibleName(CopyOnConnectCheckBox->text());
    CopyOnConnectCheckBox->setAccessibleDescription(copyOnConnectHint);
    SkipImportedBeforeCheckBox = new QCheckBox(QStringLiteral("Skip files imported before"), this);
    SkipImportedBeforeCheckBox->setAccessibleName(SkipImportedBeforeCheckBox->text());
    SetHint(SkipImportedBeforeCheckBox,
            QStringLiteral("Leave on the device every file Ferrovane imported from it before, even when its copy "
                           "has since been moved, renamed or deleted."));
    DateSourceLabel = new QLabel(QStringLiteral("Date folders from:"), this);
    DateSourceComboBox = new QComboBox(this);
    DateSourceComboBox->addItems(
        {QStringLiteral("the file's date"), QStringLiteral("when the photo or video was taken")});
    DateSourceLabel->setBuddy(DateSourceComboBox);
    DateSourceComboBox->setAccessibleName(DateSourceLabel->text());
    SetHint(DateSourceComboBox,
            QStringLiteral("Name date folders after the file's date on the device, or after the date "
                           "the camera recorded in the photo or video."));
    for (int i = 0; i < 2; ++i) {
        const QString name = QStringLiteral("Backup Path %1").arg(i + 1);
        BackupPathLabel[i] = new QLabel(name + QLatin1Char(':'), this);
        BackupPathEdit[i] = new QLineEdit(this);
        BackupPathLabel[i]->setBuddy(BackupPathEdit[i]);
        BackupPathEdit[i]->setAccessibleName(name);
        SetHint(BackupPathEdit[i],
                QStringLiteral("A folder, on another disk, that receives a copy of every file as well as the "
                               "Destination Path, read from the device once; the files are deleted from the "
                               "device only when every copy is proven. Empty: no backup."));
        BackupPathButton[i] = new QToolButton(this);
        BackupPathButton[i]->setText(QStringLiteral("..."));
        BackupPathButton[i]->setAccessibleName(QStringLiteral("Choose the folder of ") + name);
        SetHint(BackupPathButton[i], QStringLiteral("Choose the folder of ") + name + QLatin1Char('.'));
        connect(BackupPathButton[i], &QToolButton::clicked, this, [this, i] { BackupPathButtonClick(i); });
    }
    FileFiltersCheckBox = new QCheckBox(QStringLiteral("File Display Filters:"), this);
    FileFiltersCheckBox->setStatusTip(QStringLiteral("Display all files OR file types shown below."));

    ListBox1 = new QListWidget(this);
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListBox1->setStatusTip(QStringLiteral("Controls files which are displayed and copied."));
    ListBox1->setAccessibleName(QStringLiteral("File types"));
    ListBox1->installEventFilter(this);
    FilterMenu = new QMenu(ListBox1);
    InsertFilter1 = FilterMenu->addAction(QStringLiteral("Insert Filter"));
    DeleteFilter1 = FilterMenu->addAction(QStringLiteral("Delete Filter"));
    ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListBox1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { FilterMenu->popup(ListBox1->viewport()->mapToGlobal(pos)); });
    connect(InsertFilter1, &QAction::triggered, this, &TForm4::InsertFilter1Click);
    connect(DeleteFilter1, &QAction::triggered, this, &TForm4::DeleteFilter1Click);
    connect(ListBox1, &QListWidget::itemDoubleClicked, this, &TForm4::ListBox1DblClick);

    FilterHelpLabel = new QLabel(this);
    FilterHelpLabel->setTextFormat(Qt::RichText);
    FilterHelpLabel->setText(QStringLiteral(
        "<b>Mouse:</b><br>Right-click to select menu.<br>Double-click to edit filter.<br><br>"
        "<b>Keyboard:</b><br>[Insert] Add new filter.<br>[Delete] Delete selected filter.<br>[Enter] Edit filter."));
    FilterHelpLabel->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    AddDeviceTypesButton = new QPushButton(QStringLiteral("Add Types From Device..."), this);
    AddDeviceTypesButton->setAutoDefault(false);
    AddDeviceTypesButton->setAccessibleName(QStringLiteral("Add Types From Device"));
    SetHint(AddDeviceTypesButton,
            QStringLiteral("Add the file types found on the connected device that the list lacks."));
    connect(AddDeviceTypesButton, &QPushButton::clicked, this, &TForm4::AddDeviceTypesButtonClick);

    ApplicationHeading = Heading(QStringLiteral("Application Options:"), this);
    MaxLogDaysSpinEdit = new SpinEdit(this);
    MaxLogDaysSpinEdit->setRange(0, 999);
    MaxLogDaysSpinEdit->setSingleStep(1);
    MaxLogDaysSpinEdit->SetText(QStringLiteral("30"));
    MaxLogDaysSpinEdit->setStatusTip(QStringLiteral("Number of days to keep log files. Zero = Keep always."));
    MaxLogDaysSpinEdit->setAccessibleName(QStringLiteral("Keep logs (days)"));
    ChangeStyleButton = new QPushButton(QStringLiteral("Change Style"), this);
    ChangeStyleButton->setStatusTip(QStringLiteral("Change the visible style (skin) of the application."));
    ChangeStyleButton->setAutoDefault(false);
    DebugCheckBox = new QCheckBox(QStringLiteral("Debug"), this);
    DebugCheckBox->setStatusTip(QStringLiteral("Debug the application."));
    DebugCheckBox->setVisible(false);
    OKButton = new QPushButton(QStringLiteral("OK"), this);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    OKButton->setAutoDefault(false);
    CancelButton->setAutoDefault(false);

    connect(FileFiltersCheckBox, &QCheckBox::toggled, this, &TForm4::FileFiltersCheckBoxClick);
    connect(DeleteFilesCheckBox, &QCheckBox::toggled, this, &TForm4::FileFiltersCheckBoxClick);
    connect(DebugCheckBox, &QCheckBox::toggled, this, &TForm4::DebugCheckBoxClick);
    connect(OKButton, &QPushButton::clicked, this, &TForm4::OKButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TForm4::CancelButtonClick);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(DeviceHeading);
    layout->addWidget(ByteLevelCompareCheckBox);
    layout->addWidget(DeleteFilesCheckBox);
    layout->addWidget(CopyOnConnectCheckBox);
    layout->addWidget(SkipImportedBeforeCheckBox);
    // The date source and the backup paths: labels in one column, their
    // fields lined up beside them.
    auto *fieldRows = new QGridLayout;
    fieldRows->addWidget(DateSourceLabel, 0, 0);
    fieldRows->addWidget(DateSourceComboBox, 0, 1, 1, 2);
    for (int i = 0; i < 2; ++i) {
        fieldRows->addWidget(BackupPathLabel[i], i + 1, 0);
        fieldRows->addWidget(BackupPathEdit[i], i + 1, 1);
        fieldRows->addWidget(BackupPathButton[i], i + 1, 2);
    }
    fieldRows->setColumnStretch(1, 1);
    layout->addLayout(fieldRows);
    layout->addWidget(FileFiltersCheckBox);
    auto *filterRow = new QHBoxLayout;
    filterRow->addWidget(ListBox1, 1);
    auto *helpColumn = new QVBoxLayout;
    helpColumn->addWidget(FilterHelpLabel, 1);
    helpColumn->addWidget(AddDeviceTypesButton);
    filterRow->addLayout(helpColumn, 1);
    layout->addLayout(filterRow);
    layout->addSpacing(8);
    layout->addWidget(ApplicationHeading);
    auto *logsRow = new QHBoxLayout;
    logsRow->addWidget(new QLabel(QStringLiteral("Keep logs"), this));
    logsRow->addWidget(MaxLogDaysSpinEdit);
    logsRow->addWidget(new QLabel(QStringLiteral("days"), this));
    logsRow->addStretch(1);
    logsRow->addWidget(ChangeStyleButton);
    layout->addLayout(logsRow);
    layout->addWidget(DebugCheckBox);
    // The hints have no status bar to go to here.
    layout->addWidget(MakeHintLine(this));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    layout->addLayout(buttons);

    FileFiltersCheckBox->setChecked(true);
    SetFilterList(DecodeFileFilter(QString::fromLatin1(kDefaultFileFilter)));
    resize(420, 400);
}

QStringList TForm4::FilterList() const
{
    QStringList entries;
    for (int i = 0; i < ListBox1->count(); ++i)
        entries << ListBox1->item(i)->text();
    return entries;
}

void TForm4::SetFilterList(const QStringList &entries)
{
    ListBox1->clear();
    ListBox1->addItems(entries);
}

void TForm4::showEvent(QShowEvent *event)
{
    FormShow();
    QDialog::showEvent(event);
}

void TForm4::FormShow()
{
    keptMaxLogDays_ = MaxLogDaysSpinEdit->Text();
    DebugCheckBox->setVisible(DebugFlag.load());
    keptDevice_ = !currentDeviceName_.trimmed().isEmpty();
    if (!keptDevice_) {
        for (QWidget *w :
             {static_cast<QWidget *>(ByteLevelCompareCheckBox), static_cast<QWidget *>(DeleteFilesCheckBox),
              static_cast<QWidget *>(CopyOnConnectCheckBox), static_cast<QWidget *>(SkipImportedBeforeCheckBox),
              static_cast<QWidget *>(DateSourceComboBox), static_cast<QWidget *>(FileFiltersCheckBox),
              static_cast<QWidget *>(ListBox1), static_cast<QWidget *>(AddDeviceTypesButton),
              static_cast<QWidget *>(BackupPathEdit[0]), static_cast<QWidget *>(BackupPathEdit[1]),
              static_cast<QWidget *>(BackupPathButton[0]), static_cast<QWidget *>(BackupPathButton[1])})
            w->setEnabled(false);
        FilterHelpLabel->setVisible(false);
    } else {
        ByteLevelCompareCheckBox->setEnabled(true);
        DeleteFilesCheckBox->setEnabled(true);
        CopyOnConnectCheckBox->setEnabled(true);
        SkipImportedBeforeCheckBox->setEnabled(true);
        DateSourceComboBox->setEnabled(true);
        FileFiltersCheckBox->setEnabled(true);
        for (int i = 0; i < 2; ++i) {
            BackupPathEdit[i]->setEnabled(true);
            BackupPathButton[i]->setEnabled(true);
            keptBackupPaths_[i] = BackupPathEdit[i]->text();
        }
        keptByteLevel_ = ByteLevelCompareCheckBox->isChecked();
        keptDelete_ = DeleteFilesCheckBox->isChecked();
        keptCopyOnConnect_ = CopyOnConnectCheckBox->isChecked();
        keptSkipImported_ = SkipImportedBeforeCheckBox->isChecked();
        keptDateSource_ = DateSourceComboBox->currentIndex();
        keptFilters_ = FileFiltersCheckBox->isChecked();
        keptFilterList_ = FilterList();
        FileFiltersCheckBoxClick();
    }
    // On a dark style the help text would vanish into the background.
    QPalette palette = FilterHelpLabel->palette();
    const QColor face = QApplication::palette().color(QPalette::Button);
    if (ChosenStyleName != QLatin1String("Windows") && IsDarkButtonFace(face))
        palette.setColor(QPalette::WindowText, LightenColor(face, 800));
    else
        palette.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::WindowText));
    FilterHelpLabel->setPalette(palette);
}

void TForm4::FileFiltersCheckBoxClick()
{
    const bool filtering = FileFiltersCheckBox->isChecked();
    ListBox1->setEnabled(filtering);
    FilterHelpLabel->setVisible(filtering);
    AddDeviceTypesButton->setEnabled(filtering);
}

void TForm4::DebugCheckBoxClick()
{
    DebugFlag = DebugCheckBox->isChecked();
}

void TForm4::ShowDeviceSettings(const DeviceSettings &values)
{
    ByteLevelCompareCheckBox->setChecked(values.ByteLevelCompare);
    DeleteFilesCheckBox->setChecked(values.DeleteFiles);
    CopyOnConnectCheckBox->setChecked(values.CopyOnConnect);
    SkipImportedBeforeCheckBox->setChecked(values.SkipImportedBefore);
    DateSourceComboBox->setCurrentIndex(values.DateSource);
    BackupPathEdit[0]->setText(values.BackupPath1);
    BackupPathEdit[1]->setText(values.BackupPath2);
    FileFiltersCheckBox->setChecked(values.FileFiltersOn);
    SetFilterList(DecodeFileFilter(values.FileFilter));
    FileFiltersCheckBoxClick();
}

void TForm4::StoreDeviceSettings(DeviceSettings &values)
{
    ReadDeviceSettings(values);
    // The backup paths are shown as they are stored: without the blanks around them.
    for (QLineEdit *edit : BackupPathEdit)
        edit->setText(edit->text().trimmed());
    // The list is shown as it is stored: sorted.
    QStringList entries = FilterList();
    SortFileFilter(entries);
    SetFilterList(entries);
}

void TForm4::ReadDeviceSettings(DeviceSettings &values) const
{
    values.ByteLevelCompare = ByteLevelCompareCheckBox->isChecked();
    values.DeleteFiles = DeleteFilesCheckBox->isChecked();
    values.CopyOnConnect = CopyOnConnectCheckBox->isChecked();
    values.SkipImportedBefore = SkipImportedBeforeCheckBox->isChecked();
    values.DateSource = qMax(0, DateSourceComboBox->currentIndex());
    // Kept without the blanks around them.
    values.BackupPath1 = BackupPathEdit[0]->text().trimmed();
    values.BackupPath2 = BackupPathEdit[1]->text().trimmed();
    values.FileFiltersOn = FileFiltersCheckBox->isChecked();
    QStringList entries = FilterList();
    SortFileFilter(entries);
    values.FileFilter = EncodeFileFilter(entries);
}

void TForm4::ShowProgramSettings(const ProgramSettings &values)
{
    DebugCheckBox->setChecked(values.Debug);
    DebugCheckBox->setVisible(values.Debug);
    MaxLogDaysSpinEdit->SetText(values.MaxLogDays);
}

void TForm4::StoreProgramSettings(ProgramSettings &values) const
{
    values.MaxLogDays = MaxLogDaysSpinEdit->Text();
    values.Debug = DebugCheckBox->isChecked();
}

void TForm4::SetProgramOptionsEnabled(bool enabled)
{
    MaxLogDaysSpinEdit->setEnabled(enabled);
    DebugCheckBox->setEnabled(enabled);
}

TForm4::RunOptions TForm4::CurrentRunOptions() const
{
    RunOptions options;
    options.FileFilters = FileFiltersCheckBox->isChecked();
    options.Filters = FilterList();
    options.ByteLevelCompare = ByteLevelCompareCheckBox->isChecked();
    options.DateTaken = DateSourceComboBox->currentIndex() == 1;
    options.DeleteFiles = DeleteFilesCheckBox->isChecked();
    options.SkipImportedBefore = SkipImportedBeforeCheckBox->isChecked();
    options.BackupPaths = {BackupPathEdit[0]->text().trimmed(), BackupPathEdit[1]->text().trimmed()};
    return options;
}

void TForm4::OKButtonClick()
{
    if (editor_)
        CommitEditor();
    ProgramSettings options;
    StoreProgramSettings(options);
    settings_.WriteProgram(options, ProgramKeys::Options);
    if (!currentDeviceName_.trimmed().isEmpty()) {
        DeviceSettings values;
        StoreDeviceSettings(values);
        settings_.WriteDevice(currentDeviceName_, values, DeviceKeys::Options);
    }
    log_.WriteLog(QStringLiteral("Options Saved."), LogColor::Black);
    accept();
}

void TForm4::CancelButtonClick()
{
    if (editor_)
        editor_->deleteLater();
    MaxLogDaysSpinEdit->SetText(keptMaxLogDays_);
    if (keptDevice_) {
        ByteLevelCompareCheckBox->setChecked(keptByteLevel_);
        DeleteFilesCheckBox->setChecked(keptDelete_);
        CopyOnConnectCheckBox->setChecked(keptCopyOnConnect_);
        SkipImportedBeforeCheckBox->setChecked(keptSkipImported_);
        DateSourceComboBox->setCurrentIndex(keptDateSource_);
        BackupPathEdit[0]->setText(keptBackupPaths_[0]);
        BackupPathEdit[1]->setText(keptBackupPaths_[1]);
        FileFiltersCheckBox->setChecked(keptFilters_);
        SetFilterList(keptFilterList_);
        FileFiltersCheckBoxClick();
    }
    reject();
}

void TForm4::keyPressEvent(QKeyEvent *event)
{
    if (!HandleDialogKey(event, [this] { CancelButtonClick(); }))
        QDialog::keyPressEvent(event);
}

// --- the filter list's inline editor ---------------------------------------------

void TForm4::ListBox1DblClick()
{
    OpenEditor();
}

void TForm4::InsertFilter1Click()
{
    ListBox1->addItem(QStringLiteral("<New>"));
    ListBox1->setCurrentRow(ListBox1->count() - 1);
    OpenEditor();
}

void TForm4::DeleteFilter1Click()
{
    const int row = ListBox1->currentRow();
    if (row >= 0 && ListBox1->currentItem() && ListBox1->currentItem()->isSelected())
        delete ListBox1->takeItem(row);
    ListBox1->setFocus();
}

void TForm4::AddDeviceTypesButtonClick()
{
    if (editor_)
        CommitEditor();
    const FileTypeTally found = deviceFileTypes_ ? deviceFileTypes_() : FileTypeTally();
    const QStringList missing = found.MissingFrom(FilterList());
    if (missing.isEmpty()) {
        QMessageBox box(QMessageBox::Information, windowTitle(),
                        found.IsEmpty() ? QStringLiteral("No files of the device are listed: connect the device first.")
                                        : QStringLiteral("Every file type found on the device is in the list."),
                        QMessageBox::Ok, this);
        box.exec();
        return;
    }
    QStringList named;
    for (const FileTypeTally::Entry &entry : found.Entries())
        if (missing.contains(entry.extension.toLower()))
            named << readableText(FileTypeText(entry.extension)) + QStringLiteral(" (") + FilesText(entry.count) +
                         QLatin1Char(')');
    QMessageBox box(QMessageBox::Question, windowTitle(),
                    QStringLiteral("These file types are on the device and not in the list:\n\n") +
                        named.join(QStringLiteral(", ")) + QStringLiteral("\n\nAdd them to the list?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::Yes);
    if (box.exec() != QMessageBox::Yes)
        return;
    QStringList entries = FilterList();
    entries << missing;
    SortFileFilter(entries);
    SetFilterList(entries);
    ListBox1->setCurrentRow(int(entries.indexOf(missing.constFirst())));
    ListBox1->setFocus();
}

void TForm4::BackupPathButtonClick(int index)
{
    const QString current = BackupPathEdit[index]->text().trimmed();
    const QString chosen =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Backup Path %1").arg(index + 1),
                                          current.isEmpty() ? QDir::homePath() : current, QFileDialog::ShowDirsOnly);
    if (!chosen.isEmpty())
        BackupPathEdit[index]->setText(chosen);
}

void TForm4::OpenEditor()
{
    QListWidgetItem *item = ListBox1->currentItem();
    if (!item || !item->isSelected() || editor_)
        return;
    const QRect rect = ListBox1->visualItemRect(item);
    editor_ = new QLineEdit(ListBox1->viewport());
    editor_->setGeometry(rect.left(), rect.top() - 2, ListBox1->viewport()->width(), rect.height() + 4);
    editor_->setText(item->text());
    editor_->installEventFilter(this);
    qApp->installEventFilter(this);
    editor_->show();
    editor_->setFocus();
    // Typing replaces the entry, "<New>" above all; the arrow keys keep it.
    editor_->selectAll();
}

bool TForm4::CommitEditor()
{
    if (!editor_)
        return true;
    if (editor_->text().trimmed().isEmpty())
        return false;
    if (QListWidgetItem *item = ListBox1->currentItem())
        item->setText(editor_->text());
    QLineEdit *done = editor_;
    editor_ = nullptr;
    qApp->removeEventFilter(this);
    done->removeEventFilter(this);
    done->hide();
    done->deleteLater();  // once the current event has been handled
    ListBox1->setFocus();
    return true;
}

bool TForm4::eventFilter(QObject *watched, QEvent *event)
{
    if (editor_ && watched == editor_) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                CommitEditor();
                return true;
            }
            if (key == Qt::Key_Escape)
                return true;  // nothing special: the editor stays
        } else if (event->type() == QEvent::FocusOut) {
            if (!CommitEditor())
                QTimer::singleShot(0, editor_, [e = editor_] { e->setFocus(); });
        }
        return false;
    }
    if (editor_ && event->type() == QEvent::MouseButtonPress && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        if (widget != editor_ && !editor_->isAncestorOf(widget)) {
            if (!CommitEditor())
                return true;  // the press belongs to the editor while it stays open
        }
        return false;
    }
    if (watched == ListBox1 && event->type() == QEvent::KeyPress && !editor_) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Insert) {
            InsertFilter1Click();
            return true;
        }
        if (key == Qt::Key_Delete) {
            DeleteFilter1Click();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OpenEditor();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
