#include "Unit1.h"

#include "app/Application.h"
#include "app/ControlChanges.h"
#include "app/DesktopExtras.h"
#include "app/ProgramFolders.h"
#include "app/UiThread.h"
#include "app/Version.h"
#include "base/DateFormat.h"
#include "base/FormatSettings.h"
#include "catalogue/Unit2.h"
#include "device/FolderBackend.h"
#include "device/SystemDeviceService.h"
#include "log/Exception.h"
#include "log/ExceptionReport.h"
#include "log/LogFiles.h"
#include "log/SystemInfo.h"
#include "settings/ProgramSettings.h"
#include "settings/SettingsStore.h"
#include "settings/Style.h"
#include "settings/StyleList.h"
#include "settings/Unit3.h"
#include "settings/Unit4.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <utility>

namespace {

constexpr int kWindowHelpContext = 90;
constexpr char kHelpContextProperty[] = "HelpContext";
// Below this the Name column would vanish when the user has widened the other
// columns past the grid's width.
constexpr int kMinNameColumnWidth = 40;

void SetHint(QWidget *control, const QString &hint, int helpContext = 0)
{
    control->setStatusTip(hint);
    control->setAccessibleDescription(hint);
    if (helpContext)
        control->setProperty(kHelpContextProperty, helpContext);
}

QToolButton *IconButton(QWidget *parent, QStyle::StandardPixmap icon)
{
    auto *button = new QToolButton(parent);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setIconSize(QSize(16, 16));
    button->setFixedSize(23, 22);
    return button;
}

QPushButton *Button(QWidget *parent, const QString &caption, int width,
                    QStyle::StandardPixmap icon = QStyle::SP_CustomBase)
{
    auto *button = new QPushButton(caption, parent);
    if (icon != QStyle::SP_CustomBase) {
        button->setIcon(parent->style()->standardIcon(icon));
        button->setIconSize(QSize(16, 16));
    }
    button->setMinimumWidth(width);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

TForm1::TForm1(DeviceService &deviceService, QWidget *parent) : QMainWindow(parent), Connection(deviceService, Log)
{
    setWindowTitle(QStringLiteral("Ferrovane"));
    setProperty(kHelpContextProperty, kWindowHelpContext);
    CreateControls();
    ArrangeControls();
    SetTabOrder();
    Log.AttachView(RichEdit1);
    // The design size, unless the desktop's font needs more room.
    const QSize least = minimumSizeHint().expandedTo(QSize(569, 798));
    setMinimumSize(least);
    resize(least);
    FormCreate();
    Form2 = new TForm2(*StringGrid2, *DeviceRootEdit->Edit, Log, this);
    Form3 = new TForm3(Log, *Settings, Connection.CurrentDeviceName, this);
    Form4 = new TForm4(Log, *Settings, Connection.CurrentDeviceName, this);
    // The types of every file the last listing or copy run met, filtered or not.
    Form4->SetDeviceFileTypes([this] {
        Engine->FlushRows();
        FileTypeTally found;
        for (int row = 1; row + 1 < StringGrid2->RowCount(); ++row) {
            const QString &type = StringGrid2->CellRef(CatalogueGrid::TypeColumn, row);
            if (type != QLatin1String("FOLDER") && type != QLatin1String("STORAGE"))
                found.Add(ExtractFileExtension(StringGrid2->CellRef(CatalogueGrid::NameColumn, row)));
        }
        return found;
    });
    Engine = std::make_unique<CopyRun>(Connection, Log, ProgramFolder);
    Engine->SetImportRecordPath(ImportRecord::PathIn(UserDataFolder));
    ConnectEngine();
    ConnectPreview();
    ConnectHandlers();
    SetUpWatching();  // devices coming and going, a run's progress and end
    // A run goes by the settings it started with; a change made meanwhile
    // counts from the next run, and the log says so once a run.
    WatchControlChanges(watchContext_.get(), {this, Form3, Form4}, [this] { NoteChangeDuringRun(); });
    InstallDesktopExtras(this, Log, *Settings, StatusBar1, HelpButton, AboutButton, Form4->ChangeStyleButton,
                         {{Form2, 110}, {Form3, 130}, {Form4, 120}});
}

TForm1::~TForm1()
{
    StopCopyRunAndWait();
    Previews.reset();
    Application::SetExceptionHandler(nullptr);
}

void TForm1::ConnectHandlers()
{
    connect(SaveSettingsBitBtn, &QPushButton::clicked, this, &TForm1::SaveSettingsClick);
    connect(DateFormatEdit->Edit, &QLineEdit::textChanged, this, &TForm1::DateFormatEditChange);
    connect(CopyModeRadioGroup, &RadioGroup::Click, this, &TForm1::CopyModeRadioGroupClick);
    connect(DestSpeedButton, &QToolButton::clicked, this, &TForm1::SelectDestination);
    connect(OptionsBitBtn, &QPushButton::clicked, this, &TForm1::OptionsBitBtnClick);
    connect(PostProcessingBitBtn, &QPushButton::clicked, this, &TForm1::PostProcessingBitBtnClick);
    connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
    connect(ViewLogsBitBtn, &QPushButton::clicked, this, &TForm1::ViewLogsClick);
    connect(ScanPortableDevicesButton, &QToolButton::clicked, this, &TForm1::ScanPortableDevices);
    connect(DeleteDeviceButton, &QToolButton::clicked, this, &TForm1::DeleteDevice);
    connect(AddFolderButton, &QPushButton::clicked, this, &TForm1::AddFolderClick);
    connect(QuitAction, &QAction::triggered, this, [this] {
        if (CloseButton->isEnabled())
            close();
    });
    connect(DeviceConnectSpeedButton, &QPushButton::clicked, this, &TForm1::DeviceConnectSpeedButtonClick);
    connect(DeviceComboBox, &QComboBox::activated, this, [this] {
        DeviceComboBoxClick();
        DeviceComboBoxSelect();
    });
    connect(SearchBitBtn, &QPushButton::clicked, this, &TForm1::SearchDeviceContents);
    connect(SearchLabeledEdit->Edit, &QLineEdit::textChanged, this, &TForm1::SearchLabeledEditChange);
    SearchLabeledEdit->Edit->installEventFilter(this);
    connect(DeviceRootEdit->Edit, &QLineEdit::textChanged, this, &TForm1::DeviceRootEditChange);
    connect(DeviceRootSpeedButton, &QToolButton::clicked, this, &TForm1::SelectDeviceRoot);
    connect(CopyBitBtn, &QPushButton::clicked, this, &TForm1::CopyClick);
    connect(StopBitBtn, &QPushButton::clicked, this, &TForm1::StopCopying);
    connect(Open1, &QAction::triggered, this, &TForm1::OpenFile);
    connect(Copy1, &QAction::triggered, this, &TForm1::GridCopyFile);
    connect(Delete1, &QAction::triggered, this, &TForm1::GridDeleteFile);
    connect(StringGrid1, &QAbstractItemView::doubleClicked, this, &TForm1::OpenFile);
}

int TForm1::HelpContextOf(const QWidget *control)
{
    for (const QWidget *w = control; w; w = w->parentWidget()) {
        const QVariant context = w->property(kHelpContextProperty);
        if (context.isValid())
            return context.toInt();
    }
    return kWindowHelpContext;
}

void TForm1::CreateControls()
{
    auto *central = new QWidget(this);
    setCentralWidget(central);

    Label1 = new QLabel(QStringLiteral("Source Device (Camera):"), central);

    DeviceComboBox = new QComboBox(central);
    DeviceComboBox->setEditable(false);
    DeviceComboBox->setMinimumWidth(200);
    SetHint(DeviceComboBox, QStringLiteral("Select the device."), 80);
    Label1->setBuddy(DeviceComboBox);

    DeviceConnectSpeedButton = Button(central, QStringLiteral("Connect"), 57);
    SetHint(DeviceConnectSpeedButton, QStringLiteral("Reconnect and display contents of selected device."), 80);
    ScanPortableDevicesButton = IconButton(central, QStyle::SP_BrowserReload);
    SetHint(ScanPortableDevicesButton, QStringLiteral("Refresh portable device list."), 80);
    DeleteDeviceButton = IconButton(central, QStyle::SP_TrashIcon);
    SetHint(DeleteDeviceButton, QStringLiteral("Delete the device from the list."), 80);
    AddFolderButton = Button(central, QStringLiteral("Add Folder\u2026"), 57);
    SetHint(AddFolderButton,
            QStringLiteral("Add a folder as a device, such as a card reader's folder or a copy of a card."), 80);

    CopyModeRadioGroup = new RadioGroup(QStringLiteral("Copy Mode:"),
                                        {QStringLiteral("Copy files into folders named by source file created date:"),
                                         QStringLiteral("Copy folder structure as found on source device")},
                                        central);
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

    Bevel1 = new QFrame(central);
    Bevel1->setFrameShape(QFrame::StyledPanel);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setFixedWidth(124);

    DeviceRootEdit = new LabeledEdit(QStringLiteral("Device Root Path: (Blank is device root)"), central);
    DeviceRootEdit->setReadOnly(true);
    SetHint(DeviceRootEdit,
            QStringLiteral("Enter full path without drive (eg. \\folderA\\folderB) Leave blank for device root."), 110);
    DeviceRootSpeedButton = IconButton(central, QStyle::SP_DirIcon);
    DeviceRootSpeedButton->setFocusPolicy(Qt::NoFocus);
    SetHint(DeviceRootSpeedButton, QStringLiteral("Select device root path."), 110);
    OptionsBitBtn = Button(Bevel1, QStringLiteral("Options"), 105);
    SetHint(OptionsBitBtn, QStringLiteral("Application options."), 120);

    DestLabeledEdit = new LabeledEdit(QStringLiteral("Destination Path:"), central);
    DestLabeledEdit->setReadOnly(true);
    DestLabeledEdit->Edit->setFocusPolicy(Qt::ClickFocus);
    SetHint(DestLabeledEdit, QStringLiteral("Path where files will be copied to."), 110);
    DestSpeedButton = IconButton(central, QStyle::SP_DirOpenIcon);
    DestSpeedButton->setFocusPolicy(Qt::NoFocus);
    SetHint(DestSpeedButton, QStringLiteral("Select a destination path."), 110);
    PostProcessingBitBtn = Button(Bevel1, QStringLiteral("Post Processing"), 105);
    SetHint(PostProcessingBitBtn, QStringLiteral("Post processing options for current device."), 130);

    SearchLabeledEdit = new LabeledEdit(QStringLiteral("Search:"), central);
    SearchLabeledEdit->Edit->setFocusPolicy(Qt::ClickFocus);
    SetHint(SearchLabeledEdit, QStringLiteral("Search for a file\\folder."), 90);
    SearchBitBtn = Button(central, QStringLiteral("Search"), 75, QStyle::SP_FileDialogContentsView);
    SetHint(SearchBitBtn, QStringLiteral("Search for files."));
    SaveSettingsBitBtn = Button(central, QStringLiteral("Save Settings"), 105, QStyle::SP_DialogSaveButton);
    SetHint(SaveSettingsBitBtn, QStringLiteral("Save the settings for current device and makes it the default."), 90);

    StringGrid1 = new TStringGrid(central);
    SetHint(StringGrid1, QStringLiteral("Double-click to open the file."), 90);
    StringGrid2 = new CatalogueGrid(this);
    StringGrid1->Cells()->Clear();
    StringGrid2->Clear();
    // The design widths, widened where the desktop's font needs more for a header.
    const int widths[CatalogueGrid::ObjectIdColumn] = {30, 208, 70, 130, 88};
    const QFontMetrics headerMetrics(StringGrid1->horizontalHeader()->font());
    for (int c = 0; c < CatalogueGrid::ObjectIdColumn; ++c)
        StringGrid1->setColumnWidth(
            c, qMax(widths[c], headerMetrics.horizontalAdvance(CatalogueGrid::kHeaders[size_t(c)]) + 12));
    const QString sampleDate =
        DateTimeToStr(QDateTime(QDate(2016, 12, 28), QTime(23, 58, 58)), ProcessFormatSettings());
    StringGrid1->setColumnWidth(CatalogueGrid::DateColumn,
                                qMax(StringGrid1->columnWidth(CatalogueGrid::DateColumn),
                                     QFontMetrics(StringGrid1->font()).horizontalAdvance(sampleDate) + 12));

    PopupMenu1 = new QMenu(StringGrid1);
    Open1 = new QAction(QStringLiteral("Open"), StringGrid1);
    Open1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    Copy1 = new QAction(QStringLiteral("&Copy"), StringGrid1);
    Copy1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    Copy1->setStatusTip(QStringLiteral("Copy file from device to the Destination Path."));
    Delete1 = new QAction(QStringLiteral("&Delete"), StringGrid1);
    Delete1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    Delete1->setStatusTip(QStringLiteral("Permanently delete file from the device."));
    for (QAction *action : {Open1, Copy1, Delete1}) {
        // The shortcuts work while the grid has the keyboard focus.
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setShortcutVisibleInContextMenu(true);
        StringGrid1->addAction(action);
        PopupMenu1->addAction(action);
    }
    StringGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(StringGrid1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenu1->popup(StringGrid1->viewport()->mapToGlobal(pos)); });

    CopyBitBtn = Button(central, QStringLiteral("Copy"), 105, QStyle::SP_MediaPlay);
    SetHint(CopyBitBtn, QStringLiteral("Begin copying files."), 160);
    StopBitBtn = Button(central, QStringLiteral("Stop"), 105, QStyle::SP_MediaStop);
    StopBitBtn->setEnabled(false);
    SetHint(StopBitBtn, QStringLiteral("Stop copying files."), 160);
    ProgressBar1 = new QProgressBar(central);
    ProgressBar1->setFixedWidth(330);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);

    RichEdit1 = new LogView(central);
    RichEdit1->setFixedHeight(228);
    SetHint(RichEdit1, QStringLiteral("Activity log."), 160);

    ViewLogsBitBtn = Button(central, QStringLiteral("View Logs"), 82, QStyle::SP_FileDialogDetailedView);
    SetHint(ViewLogsBitBtn, QStringLiteral("View log file location."), 170);
    HelpButton = Button(central, QStringLiteral("Help"), 82, QStyle::SP_DialogHelpButton);
    SetHint(HelpButton, QStringLiteral("Show application help."));
    AboutButton = Button(central, QStringLiteral("About"), 82, QStyle::SP_MessageBoxInformation);
    SetHint(AboutButton, QStringLiteral("About the application."));
    CloseButton = Button(central, QStringLiteral("&Close"), 105, QStyle::SP_DialogCloseButton);
    SetHint(CloseButton, QStringLiteral("Close the application."));
    CreatePreview();
    QuitAction = new QAction(QStringLiteral("Quit"), this);
    QuitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    addAction(QuitAction);

    StatusBar1 = statusBar();
    StatusBar1->setSizeGripEnabled(true);

    // What screen readers and UI automation call each control: its caption,
    // or its hint where it has none.
    for (LabeledEdit *edit :
         {DateFormatEdit, DateFormatExampleEdit, DeviceRootEdit, DestLabeledEdit, SearchLabeledEdit})
        edit->Edit->setAccessibleName(edit->EditLabel->text());
    DeviceComboBox->setAccessibleName(Label1->text());
    for (QWidget *control :
         {static_cast<QWidget *>(ScanPortableDevicesButton), static_cast<QWidget *>(DeleteDeviceButton),
          static_cast<QWidget *>(DeviceRootSpeedButton), static_cast<QWidget *>(DestSpeedButton),
          static_cast<QWidget *>(StringGrid1), static_cast<QWidget *>(RichEdit1)})
        control->setAccessibleName(control->statusTip());
    ProgressBar1->setAccessibleName(QStringLiteral("Copy progress"));
}

void TForm1::ArrangeControls()
{
    QWidget *central = centralWidget();
    auto *main = new QVBoxLayout(central);
    main->setContentsMargins(8, 6, 8, 4);
    main->setSpacing(6);

    // Device selector.
    auto *deviceBox = new QVBoxLayout;
    deviceBox->setSpacing(2);
    deviceBox->addWidget(Label1);
    auto *deviceRow = new QHBoxLayout;
    deviceRow->addWidget(DeviceComboBox, 1);
    deviceRow->addWidget(DeviceConnectSpeedButton);
    deviceRow->addWidget(AddFolderButton);
    deviceRow->addWidget(ScanPortableDevicesButton);
    deviceRow->addWidget(DeleteDeviceButton);
    deviceBox->addLayout(deviceRow);
    main->addLayout(deviceBox);

    // Copy mode, with the date format beside the first option.
    auto *modeLayout = new QGridLayout(CopyModeRadioGroup);
    modeLayout->setContentsMargins(8, 4, 8, 4);
    modeLayout->setVerticalSpacing(2);
    modeLayout->addWidget(CopyModeRadioGroup->Buttons[0], 0, 0, Qt::AlignTop);
    modeLayout->addWidget(CopyModeRadioGroup->Buttons[1], 1, 0, Qt::AlignBottom);
    modeLayout->addWidget(DateFormatEdit, 0, 1, 2, 1, Qt::AlignBottom);
    modeLayout->addWidget(DateFormatExampleEdit, 0, 2, 2, 1, Qt::AlignBottom);
    modeLayout->setColumnStretch(0, 1);
    main->addWidget(CopyModeRadioGroup);

    // Paths and dialog buttons.
    auto *bevelLayout = new QVBoxLayout(Bevel1);
    bevelLayout->setContentsMargins(10, 8, 10, 8);
    bevelLayout->setSpacing(12);
    bevelLayout->addWidget(OptionsBitBtn);
    bevelLayout->addWidget(PostProcessingBitBtn);

    auto *paths = new QGridLayout;
    paths->setHorizontalSpacing(6);
    paths->setVerticalSpacing(6);
    paths->addWidget(DeviceRootEdit, 0, 0);
    paths->addWidget(DeviceRootSpeedButton, 0, 1, Qt::AlignBottom);
    paths->addWidget(DestLabeledEdit, 1, 0);
    paths->addWidget(DestSpeedButton, 1, 1, Qt::AlignBottom);
    auto *searchRow = new QHBoxLayout;
    searchRow->addWidget(SearchLabeledEdit, 1);
    searchRow->addWidget(SearchBitBtn, 0, Qt::AlignBottom);
    paths->addLayout(searchRow, 2, 0, 1, 2);
    paths->addWidget(Bevel1, 0, 2, 2, 1);
    paths->addWidget(SaveSettingsBitBtn, 2, 2, Qt::AlignBottom | Qt::AlignHCenter);
    paths->setColumnStretch(0, 1);
    paths->setColumnMinimumWidth(2, 124);
    main->addLayout(paths);

    // The catalogue takes every pixel the window grows by.
    main->addWidget(StringGrid1, 1);

    auto *copyRow = new QHBoxLayout;
    copyRow->addWidget(CopyBitBtn);
    copyRow->addWidget(StopBitBtn);
    copyRow->addStretch(1);
    copyRow->addWidget(ProgressBar1);
    main->addLayout(copyRow);

    main->addWidget(RichEdit1);

    auto *bottomRow = new QHBoxLayout;
    bottomRow->addWidget(ViewLogsBitBtn);
    bottomRow->addWidget(PreviewBitBtn);
    bottomRow->addStretch(1);
    bottomRow->addWidget(HelpButton);
    bottomRow->addWidget(AboutButton);
    bottomRow->addWidget(CloseButton);
    main->addLayout(bottomRow);
}

void TForm1::SetTabOrder()
{
    const QList<QWidget *> order = {
        CopyBitBtn,
        SaveSettingsBitBtn,
        RichEdit1,
        ViewLogsBitBtn,
        PreviewBitBtn,
        DeviceComboBox,
        StopBitBtn,
        DeviceRootEdit->Edit,
        StringGrid1,
        DateFormatEdit->Edit,
        ScanPortableDevicesButton,
        CopyModeRadioGroup->Buttons[0],
        CopyModeRadioGroup->Buttons[1],
        DateFormatExampleEdit->Edit,
        SearchBitBtn,
        OptionsBitBtn,
        PostProcessingBitBtn,
        AboutButton,
        CloseButton,
        DeleteDeviceButton,
        DeviceConnectSpeedButton,
        AddFolderButton,
        HelpButton,
    };
    for (int i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
    tabStops_ = order;
    tabStops_.removeOne(CopyModeRadioGroup->Buttons[1]);
}

bool TForm1::focusNextPrevChild(bool next)
{
    // Qt's focus chain also holds the labelled edits' containers and the
    // parts of the scroll areas, and does not lead from the last stop back to
    // the first: Tab and Shift+Tab walk the designed order here, round and round.
    auto stopOf = [this](QWidget *w) {
        return CopyModeRadioGroup->Buttons.contains(w) ? CopyModeRadioGroup->Buttons[0] : w;
    };
    const qsizetype at = tabStops_.indexOf(stopOf(QApplication::focusWidget()));
    if (at < 0)
        return QMainWindow::focusNextPrevChild(next);
    const qsizetype count = tabStops_.size();
    for (qsizetype step = 1; step < count; ++step) {
        QWidget *w = tabStops_[((at + (next ? step : -step)) % count + count) % count];
        if (w == CopyModeRadioGroup->Buttons[0] && CopyModeRadioGroup->ItemIndex() > 0)
            w = CopyModeRadioGroup->Buttons[CopyModeRadioGroup->ItemIndex()];
        if (w->isEnabled() && w->isVisible() && (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return QMainWindow::focusNextPrevChild(next);
}

void TForm1::FormCreate()
{
    Application::SetExceptionHandler(
        [this](QObject *sender, const std::exception &e) { GeneralExceptionHandler(sender, e); });
    SetProgramFolders();
    Settings = std::make_unique<SettingsStore>(IniFilePath);
    ChosenStyleName = Settings->ReadProgram().StyleName;
    ApplyStyleAtStart(this, ChosenStyleName);
}

void TForm1::GeneralExceptionHandler(QObject *, const std::exception &e)
{
    const QString message = QString::fromUtf8(e.what());
    const QString className = ExceptionClassName(e);
    WriteExceptionReport(Log, message, className, &e);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ferrovane"), QStringLiteral("GENERAL EXCEPTION ERROR:"),
                    QMessageBox::Ok, this);
    box.setInformativeText(message);
    box.exec();
    ExceptionOccurred = true;
    Engine->CountError();
    LastLogFile = SaveLog(Log.Document(), UserDataFolder, QDateTime::currentDateTime());
    DisableUI(false);
}

void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!initDone_) {
        // Start-up waits for the first paint, so the window is never seen
        // black; a window that is not painted (started minimised) starts a
        // moment later all the same.
        QTimer::singleShot(500, this, &TForm1::StartInit);
    }
}

void TForm1::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    if (!initDone_)
        QMetaObject::invokeMethod(this, &TForm1::StartInit, Qt::QueuedConnection);
}

void TForm1::StartInit()
{
    if (initDone_)
        return;
    initDone_ = true;
    Init();
}

void TForm1::Init()
{
    if (exiting_)
        return;  // closed (by a signal) before it was first shown
    LoadSettings();
    LoadFormSettings();
    UserLocaleSettings() = FormatSettings::FromLocale(QLocale::system());
    DateFormatEditChange();
    StringGrid1->setColumnHidden(CatalogueGrid::ObjectIdColumn, true);
    DisableUI(true);
    Log.WriteLog(QStringLiteral("Ferrovane - ") + GetVersionText(), LogColor::Blue, LogStyle::Bold);
    // Said now: at exit there is nobody left to read it.
    if (const QString trouble = LogFolderTrouble(UserDataFolder); !trouble.isEmpty())
        Log.WriteLog(QStringLiteral("This run's log cannot be saved in ") + UserDataFolder + QStringLiteral(": ") +
                         trouble,
                     LogColor::Red, LogStyle::Bold);
    for (const QString &line : FolderDeviceTrouble(qEnvironmentVariable("FERROVANE_FOLDER_DEVICES")) +
                                   FolderDeviceTrouble(FolderBackend::AddedFolders()))
        Log.WriteLog(line, LogColor::Red);
    // A card or folder named at start is chosen instead of the remembered device.
    const QString location = std::exchange(pendingLocation_, QString());
    const QString folder = location.isEmpty() ? QString() : LocalFolderOf(location);
    bool newlyOffered = false;
    const QString startFolder = folder.isEmpty() ? QString() : OfferFolder(folder, newlyOffered);
    ScanPortableDevices();
    if (!startFolder.isEmpty()) {
        SelectFolderDevice(startFolder, newlyOffered);
        return;
    }
    if (Connection.CurrentDeviceName.trimmed().isEmpty()) {
        // With no device at all the scan has said what to do.
        if (DeviceComboBox->count() > 0)
            Log.WriteLog(QStringLiteral("Choose a device from the list."), LogColor::Black, LogStyle::Bold);
        DisableUI(false);
        return;
    }
    FindCurrentDeviceID();
    const int entry = DeviceComboBox->findText(Connection.CurrentDeviceName, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (entry >= 0)
        DeviceComboBox->setCurrentIndex(entry);
    OpenAndListCurrentDevice();
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // The close box, the system menu and the Close button all end here.
    ExitProg();
    event->accept();
}

void TForm1::ExitProg()
{
    if (exiting_)
        return;
    exiting_ = true;
    StopCopyRunAndWait();
    ProgramSettings options;
    Form4->StoreProgramSettings(options);
    DeleteLogFiles(UserDataFolder, options.MaxLogDays, QDateTime::currentDateTime());
    if (ExceptionOccurred) {
        LogSystemInfo(Log, GetVersionText(), ProgramFolder, UserDataFolder);
        Log.WriteLogNoDate(QString(70, QLatin1Char('=')), LogColor::Black);
    }
    Log.WriteLogNoDate(QString(), LogColor::Black);
    Log.WriteLog(QStringLiteral("Program exited by user."), LogColor::Black);
    // Neither a log file nor the settings that cannot be written may keep
    // the program from ending; say so where it can still be seen.
    const QDateTime now = QDateTime::currentDateTime();
    QString error;
    LastLogFile = SaveLog(Log.Document(), UserDataFolder, now, &error);
    if (LastLogFile.isEmpty()) {
        std::fprintf(stderr, "Ferrovane: could not write the log file in %s: %s\n", qPrintable(UserDataFolder),
                     qPrintable(error));
        // Kept where it can be written rather than lost.
        const QString rescued = SaveLog(Log.Document(), IncludeTrailingPathDelimiter(QDir::tempPath()), now, &error);
        if (!rescued.isEmpty())
            std::fprintf(stderr, "Ferrovane: the log was saved as %s instead\n", qPrintable(rescued));
    }
    try {
        SaveFormSettings();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "Ferrovane: %s\n", e.what());
    }
}

void TForm1::ViewLogsClick()
{
    const QString folder = UserDataFolder;
    auto fail = [this, folder](const QString &reason) {
        Log.WriteLog(QStringLiteral("Could not open the log folder ") + folder + QStringLiteral(": ") + reason,
                     LogColor::Red);
    };
    // xdg-open's exit code is the only word on whether a file manager took
    // the folder.
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
        fail(QStringLiteral("xdg-open was not found, so no file manager can be asked to show it."));
        return;
    }
    auto *opener = new QProcess(this);
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    connect(opener, &QProcess::finished, this, [opener, fail](int code, QProcess::ExitStatus status) {
        opener->deleteLater();
        if (status != QProcess::NormalExit)
            fail(QStringLiteral("xdg-open ended abnormally."));
        else if (code == 3)
            fail(QStringLiteral("no file manager is set up to open folders (xdg-open: no method available)."));
        else if (code != 0)
            fail(QStringLiteral("xdg-open ended with code %1.").arg(code));
    });
    connect(opener, &QProcess::errorOccurred, this, [opener, fail](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        opener->deleteLater();
        fail(QStringLiteral("the shell could not be started."));
    });
    // Through a shell that waits for it: a file manager that xdg-open keeps in
    // the foreground then outlives this program.
    opener->start(QStringLiteral("/bin/sh"),
                  {QStringLiteral("-c"), QStringLiteral("xdg-open \"$1\"; exit $?"), QStringLiteral("sh"), folder});
}

void TForm1::BringToFront()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TForm1::FormResize()
{
    AutoSizeGrid(StringGrid1);
}

void TForm1::DisableUI(bool busy)
{
    RunOnUiThread(
        this, [this, busy] { ApplyDisableUI(busy); }, false);
}

void TForm1::ApplyDisableUI(bool busy)
{
    const bool idle = !busy;
    for (QWidget *control : {static_cast<QWidget *>(CopyBitBtn), static_cast<QWidget *>(CloseButton),
                             static_cast<QWidget *>(DestSpeedButton), static_cast<QWidget *>(SaveSettingsBitBtn),
                             static_cast<QWidget *>(AboutButton), static_cast<QWidget *>(DeviceComboBox),
                             static_cast<QWidget *>(DestLabeledEdit), static_cast<QWidget *>(ViewLogsBitBtn),
                             static_cast<QWidget *>(CopyModeRadioGroup)})
        control->setEnabled(idle);

    // The date fields belong to the dated-folder mode only.
    const bool showDate = idle && CopyModeRadioGroup->ItemIndex() == 0;
    DateFormatEdit->setVisible(showDate);
    DateFormatExampleEdit->setVisible(showDate);

    for (QWidget *control : {static_cast<QWidget *>(DeviceRootEdit), static_cast<QWidget *>(ScanPortableDevicesButton),
                             static_cast<QWidget *>(DeleteDeviceButton), static_cast<QWidget *>(SearchBitBtn),
                             static_cast<QWidget *>(SearchLabeledEdit), static_cast<QWidget *>(DeviceRootSpeedButton),
                             static_cast<QWidget *>(OptionsBitBtn), static_cast<QWidget *>(PostProcessingBitBtn),
                             static_cast<QWidget *>(DeviceConnectSpeedButton), static_cast<QWidget *>(AddFolderButton)})
        control->setEnabled(idle);

    Form4->SetProgramOptionsEnabled(idle);

    StopBitBtn->setEnabled(busy);
    PausePreviews(busy);
    ProgressBar1->setEnabled(busy);
    ProgressBar1->setValue(0);
    // A card the desktop offered during a run is opened after it.
    if (idle && !pendingLocation_.isEmpty())
        QMetaObject::invokeMethod(this, &TForm1::OpenPendingLocation, Qt::QueuedConnection);
}

void TForm1::AutoSizeGrid(TStringGrid *grid)
{
    RunOnUiThread(
        this, [this, grid] { ApplyAutoSizeGrid(grid); }, false);
}

void TForm1::ApplyAutoSizeGrid(TStringGrid *grid)
{
    grid->FitSizeColumn();
    int others = 0;
    for (int c = 0; c < CatalogueGrid::ObjectIdColumn; ++c)
        if (c != CatalogueGrid::NameColumn && !grid->isColumnHidden(c))
            others += grid->columnWidth(c);
    const int available = grid->width() - others;
    const int needed = grid->Cells()->WidestName(grid->font()) + 8;
    grid->setColumnWidth(CatalogueGrid::NameColumn, qMax(kMinNameColumnWidth, needed < available ? needed : available));
}
