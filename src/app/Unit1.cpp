#include "Unit1.h"

#include "app/Application.h"
#include "app/ControlChanges.h"
#include "app/DesktopExtras.h"
#include "app/ProgramFolders.h"
#include "app/UiThread.h"
#include "app/Version.h"
#include "app/WindowControls.h"
#include "base/FileNames.h"
#include "base/FormatSettings.h"
#include "catalogue/Unit2.h"
#include "log/Exception.h"
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
#include <QDesktopServices>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kWindowHelpContext = 90;
// The log's height at the design size.
constexpr int kLogHeight = 228;

// The program's folders are known before the settings file is read.
std::unique_ptr<SettingsStore> OpenSettings()
{
    SetProgramFolders();
    return std::make_unique<SettingsStore>(IniFilePath);
}

}  // namespace

TForm1::TForm1(DeviceService &deviceService, QWidget *parent)
    : QMainWindow(parent), Settings(OpenSettings()),
      Session(std::make_unique<ImportSession>(deviceService, *Settings,
                                              SessionPlaces{ProgramFolder, UserDataFolder, GetVersionText()})),
      Log(Session->Log()), Connection(Session->Connection()), Discovery(Session->Discovery()),
      Engine(&Session->Engine()), StringGrid2(&Session->AllRows())
{
    setWindowTitle(QStringLiteral("Ferrovane"));
    setProperty(kHelpContextProperty, kWindowHelpContext);
    CreateControls();
    ArrangeControls();
    SetTabOrder();
    Log.AttachView(RichEdit1);
    // The design size, unless the desktop's font needs more room.
    const QSize least = minimumSizeHint().expandedTo(QSize(569, 798));
    designHeight_ = least.height();
    // Everything but the catalogue and the log, at its own size.
    othersHeight_ = sizeHint().height() - kLogHeight - StringGrid1->sizeHint().height();
    setMinimumSize(least);
    resize(least);
    Application::SetExceptionHandler(
        [this](QObject *sender, const std::exception &e) { GeneralExceptionHandler(sender, e); });
    ChosenStyleName = Settings->ReadProgram().StyleName;
    ApplyStyleAtStart(this, ChosenStyleName);
    Form2 = new TForm2(*StringGrid2, *DeviceRootEdit->Edit, Log, this);
    Form3 = new TForm3(Log, *Settings, Connection.CurrentDeviceName, this);
    Form4 = new TForm4(Log, *Settings, Connection.CurrentDeviceName, this);
    // The types of every file the last listing or copy run met, filtered or not.
    Form4->SetDeviceFileTypes([this] { return Session->ListedFileTypes(); });
    SettingsArea->SetDialogs(Form2, Form3, Form4);
    Geometry = std::make_unique<WindowGeometry>(this, *Settings);
    ConnectParts();
    // The settings model follows every edit of the chosen device's settings.
    WatchControlChanges(watchContext_.get(), {CopyModeRadioGroup, DeviceRootEdit, DestLabeledEdit, Form3, Form4},
                        [this] { SettingsArea->ControlChanged(); });
    InstallDesktopExtras(this, Log, *Settings, StatusBar1, HelpButton, AboutButton, Form4->ChangeStyleButton,
                         {{Form2, 110}, {Form3, 130}, {Form4, 120}});
}

TForm1::~TForm1()
{
    Engine->StopAndWait();
    PreviewArea->Previews.reset();
    Application::SetExceptionHandler(nullptr);
}

void TForm1::ConnectParts()
{
    // The window is busy while the session works, and idle again at its end.
    connect(Session.get(), &ImportSession::busyChanged, this, &TForm1::ApplyDisableUI);
    connect(Engine, &CopyRun::copyStarted, this, [this] { ApplyDisableUI(true); });
    connect(Engine, &CopyRun::workerFinished, this, [this] { ApplyDisableUI(false); });
    connect(Engine, &CopyRun::fileToOpen, this,
            [](const QString &fileName) { QDesktopServices::openUrl(localFileUrl(fileName)); });
    Session->SetHoldCheck([] { return QApplication::activeModalWidget() || QApplication::activePopupWidget(); });

    connect(StopBitBtn, &QPushButton::clicked, this, [this] {
        if (!CopyArea->StopCopying())
            DisableUI(false);
    });
    connect(DeviceConnectSpeedButton, &QPushButton::clicked, this, [this] {
        const QString name = DeviceComboBox->currentText();
        if (name.isEmpty())
            return;
        Connection.CurrentDeviceName = name;
        if (DeviceRootEdit->text() == QLatin1String("\\"))
            DeviceRootEdit->setText(QString());
        DeviceArea->Connect();
    });
    connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
    connect(ViewLogsBitBtn, &QPushButton::clicked, this, [this] { OpenLogFolder(this, Log, UserDataFolder); });
    connect(QuitAction, &QAction::triggered, this, [this] {
        if (CloseButton->isEnabled())
            close();
    });
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
    const auto beep = [this] { Beep(); };

    DeviceArea = new DeviceBar(*Session, central);
    Label1 = DeviceArea->Label1;
    DeviceComboBox = DeviceArea->DeviceComboBox;
    DeviceConnectSpeedButton = DeviceArea->DeviceConnectSpeedButton;
    ScanPortableDevicesButton = DeviceArea->ScanPortableDevicesButton;
    DeleteDeviceButton = DeviceArea->DeleteDeviceButton;
    AddFolderButton = DeviceArea->AddFolderButton;

    SettingsArea = new SettingsPanel(*Session, central, StatusBar1);
    CopyModeRadioGroup = SettingsArea->CopyModeRadioGroup;
    DateFormatEdit = SettingsArea->DateFormatEdit;
    DateFormatExampleEdit = SettingsArea->DateFormatExampleEdit;
    Bevel1 = SettingsArea->Bevel1;
    DeviceRootEdit = SettingsArea->DeviceRootEdit;
    DeviceRootSpeedButton = SettingsArea->DeviceRootSpeedButton;
    OptionsBitBtn = SettingsArea->OptionsBitBtn;
    DestLabeledEdit = SettingsArea->DestLabeledEdit;
    DestSpeedButton = SettingsArea->DestSpeedButton;
    PostProcessingBitBtn = SettingsArea->PostProcessingBitBtn;
    SaveSettingsBitBtn = SettingsArea->SaveSettingsBitBtn;

    CatalogueArea = new CatalogueView(*Session, central, StatusBar1, beep);
    SearchLabeledEdit = CatalogueArea->SearchLabeledEdit;
    SearchBitBtn = CatalogueArea->SearchBitBtn;
    StringGrid1 = CatalogueArea->StringGrid1;
    Open1 = CatalogueArea->Open1;
    Copy1 = CatalogueArea->Copy1;
    Delete1 = CatalogueArea->Delete1;

    CopyArea = new CopyPanel(*Session, central, beep);
    CopyBitBtn = CopyArea->CopyBitBtn;
    StopBitBtn = CopyArea->StopBitBtn;
    ProgressBar1 = CopyArea->ProgressBar1;

    RichEdit1 = new LogView(central);
    RichEdit1->setFixedHeight(kLogHeight);
    SetHint(RichEdit1, QStringLiteral("Activity log."), 160);
    RichEdit1->setAccessibleName(RichEdit1->statusTip());
    CopyArea->FocusOnCopy = RichEdit1;

    ViewLogsBitBtn = Button(central, QStringLiteral("View Logs"), 82, QStyle::SP_FileDialogDetailedView);
    SetHint(ViewLogsBitBtn, QStringLiteral("View log file location."), 170);
    HelpButton = Button(central, QStringLiteral("Help"), 82, QStyle::SP_DialogHelpButton);
    SetHint(HelpButton, QStringLiteral("Show application help."));
    AboutButton = Button(central, QStringLiteral("About"), 82, QStyle::SP_MessageBoxInformation);
    SetHint(AboutButton, QStringLiteral("About the application."));
    CloseButton = Button(central, QStringLiteral("&Close"), 105, QStyle::SP_DialogCloseButton);
    SetHint(CloseButton, QStringLiteral("Close the application."));
    PreviewArea = new PreviewPart(*Session, this, StringGrid1);
    PreviewBitBtn = PreviewArea->PreviewBitBtn;
    QuitAction = new QAction(QStringLiteral("Quit"), this);
    QuitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    addAction(QuitAction);

    StatusBar1 = statusBar();
    StatusBar1->setSizeGripEnabled(true);
    CopyArea->CreateMonitor(StatusBar1);
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

    // The catalogue takes every pixel the window grows by; below the design
    // height it and the log give up the height, and nothing else does.
    main->addWidget(StringGrid1, 1);
    for (QWidget *keeps : {static_cast<QWidget *>(CopyModeRadioGroup), static_cast<QWidget *>(DeviceRootEdit),
                           static_cast<QWidget *>(DestLabeledEdit), static_cast<QWidget *>(SearchLabeledEdit),
                           static_cast<QWidget *>(Bevel1)}) {
        QSizePolicy policy = keeps->sizePolicy();
        policy.setVerticalPolicy(QSizePolicy::Fixed);
        keeps->setSizePolicy(policy);
    }

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
    // Reading order: row by row, left to right, every control a stop.
    tabs_.SetOrder({DeviceComboBox,
                    DeviceConnectSpeedButton,
                    AddFolderButton,
                    ScanPortableDevicesButton,
                    DeleteDeviceButton,
                    CopyModeRadioGroup->Buttons[0],
                    CopyModeRadioGroup->Buttons[1],
                    DateFormatEdit->Edit,
                    DateFormatExampleEdit->Edit,
                    DeviceRootEdit->Edit,
                    DeviceRootSpeedButton,
                    OptionsBitBtn,
                    DestLabeledEdit->Edit,
                    DestSpeedButton,
                    PostProcessingBitBtn,
                    SearchLabeledEdit->Edit,
                    SearchBitBtn,
                    SaveSettingsBitBtn,
                    StringGrid1,
                    CopyBitBtn,
                    StopBitBtn,
                    RichEdit1,
                    ViewLogsBitBtn,
                    PreviewBitBtn,
                    HelpButton,
                    AboutButton,
                    CloseButton},
                   CopyModeRadioGroup);
}

bool TForm1::focusNextPrevChild(bool next)
{
    return tabs_.Move(next) || QMainWindow::focusNextPrevChild(next);
}

void TForm1::GeneralExceptionHandler(QObject *, const std::exception &e)
{
    const QString message = QString::fromUtf8(e.what());
    Session->ReportException(message, ExceptionClassName(e), &e);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ferrovane"), QStringLiteral("GENERAL EXCEPTION ERROR:"),
                    QMessageBox::Ok, this);
    box.setInformativeText(message);
    box.exec();
    ExceptionOccurred = true;
    Session->SaveLogNow();
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
    const ProgramSettings program = Session->LoadSettings();
    Form4->ShowProgramSettings(program);
    ChosenStyleName = program.StyleName;
    Geometry->Load();
    PreviewArea->LoadSettings();
    UserLocaleSettings() = FormatSettings::FromLocale(QLocale::system());
    SettingsArea->DateFormatEditChange();
    StringGrid1->setColumnHidden(CatalogueGrid::ObjectIdColumn, true);
    DisableUI(true);
    Session->Begin(QString());
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // The close box, the system menu and the Close button all end here.
    if (!exiting_ && askOnClose_ && !SettingsMayClose()) {
        event->ignore();
        return;
    }
    ExitProg();
    event->accept();
}

void TForm1::CloseWithoutQuestion()
{
    askOnClose_ = false;
    close();
}

bool TForm1::SettingsMayClose()
{
    if (!initDone_ || !Session->SettingsChanged())
        return true;
    QMessageBox question(QMessageBox::Question, QStringLiteral("Ferrovane"),
                         QStringLiteral("Save the changed settings?"),
                         QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    question.setInformativeText(QStringLiteral("The device \"%1\" and its settings as they are now were not saved. "
                                               "Save them, so that the next start opens this device with them?")
                                    .arg(Session->ChosenEntry()));
    question.setDefaultButton(QMessageBox::Save);
    switch (question.exec()) {
    case QMessageBox::Save:
        // A save that failed is said in the log, which stays open to read.
        return SettingsArea->Save();
    case QMessageBox::Discard: return true;
    default: return false;
    }
}

void TForm1::ExitProg()
{
    if (exiting_)
        return;
    exiting_ = true;
    ProgramSettings options;
    Form4->StoreProgramSettings(options);
    Session->End(QStringLiteral("Program exited by user."), ExceptionOccurred, options.MaxLogDays);
    // Settings that cannot be written may not keep the program from ending;
    // say so where it can still be seen.
    try {
        Geometry->Save();
        PreviewArea->SaveSettings();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "Ferrovane: %s\n", e.what());
    }
}

void TForm1::BringToFront()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void TForm1::OpenLocation(const QString &location)
{
    Session->OpenLocation(location);
}

void TForm1::WatchDevices()
{
    Session->WatchSystem();
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    // Below the design height (a small screen, a large scale) the log and
    // the catalogue give up the height between them, down to a few lines
    // each; everything else keeps its size.
    const int shared = event->size().height() - othersHeight_;
    const int missing = qMax(0, designHeight_ - event->size().height());
    const int least = 3 * RichEdit1->fontMetrics().lineSpacing() + 2 * RichEdit1->frameWidth();
    const int log = qMin(kLogHeight - missing / 2, shared - StringGrid1->minimumHeight());
    RichEdit1->setFixedHeight(qBound(least, log, kLogHeight));
    QMainWindow::resizeEvent(event);
    CatalogueArea->AutoSizeGrid();
}

void TForm1::Beep()
{
    ++BeepCount;
    QApplication::beep();
}

void TForm1::DisableUI(bool busy)
{
    RunOnUiThread(
        this, [this, busy] { ApplyDisableUI(busy); }, false);
}

void TForm1::ApplyDisableUI(bool busy)
{
    const bool idle = !busy;
    for (QWidget *control : {static_cast<QWidget *>(CloseButton), static_cast<QWidget *>(AboutButton),
                             static_cast<QWidget *>(ViewLogsBitBtn)})
        control->setEnabled(idle);
    DeviceArea->SetIdle(idle);
    SettingsArea->SetIdle(idle);
    CatalogueArea->SetIdle(idle);
    CopyArea->SetIdle(idle);
    PreviewArea->PausePreviews(busy);
}
