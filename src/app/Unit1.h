#pragma once

#include "app/CatalogueView.h"
#include "app/CopyPanel.h"
#include "app/DeviceBar.h"
#include "app/PreviewPart.h"
#include "app/SettingsPanel.h"
#include "app/TabCycle.h"
#include "app/WindowGeometry.h"
#include "catalogue/StringGrid.h"
#include "log/LogView.h"
#include "session/ImportSession.h"
#include "settings/Controls.h"

#include <QMainWindow>

#include <memory>

class DeviceService;
class SettingsStore;
class TForm2;
class TForm3;
class TForm4;
class QAction;
class QStatusBar;

// The main window: a face of the import session. Its parts each own one
// area (the device bar, the settings of the chosen device, the catalogue,
// the copy panel, the preview, the window's place); the window lays them
// out, switches them between busy and idle, and starts and ends the session.
class TForm1 : public QMainWindow
{
    Q_OBJECT
public:
    explicit TForm1(DeviceService &deviceService, QWidget *parent = nullptr);
    ~TForm1() override;

    // Shows the window restored and in front, as when a second start asks.
    void BringToFront();
    // Selects the card or folder at this location (a path, or a file: URL),
    // adding it as a folder device when it is new: what the desktop asks when
    // it offers an inserted card. Before start-up has run it takes the place
    // of the remembered device; during a run or listing it waits for its end.
    void OpenLocation(const QString &location);
    // Notices USB devices and memory cards of this system as they come and go.
    void WatchDevices();
    // Closes without asking whether changed settings are to be saved.
    void CloseWithoutQuestion();

    // The help context of a control: its own, or the window's.
    static int HelpContextOf(const QWidget *control);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    // Tests drive the window through its own controls and parts and read
    // the session it shows; nothing else reaches in.
    friend struct FormProbe;
    friend class TestCatalogueView;
    friend class TestCopyWindow;
    friend class TestFolderDevices;
    friend class TestHelpAbout;
    friend class TestMainWindow;
    friend class TestPreview;
    friend class TestProgramLife;
    friend class TestSettingsDialogs;
    friend class TestVirtualCamera;
    friend class TestDeviceWatch;
    friend class TestRunProgress;

    // Switches between idle (false) and busy (true). Callable from any
    // thread; the controls change on the user-interface thread.
    void DisableUI(bool busy);
    void ApplyDisableUI(bool busy);
    // Closing: the session ends (a run is stopped, the log saved) and the
    // window's place is kept.
    void ExitProg();
    // Changed settings at Close: saved, discarded, or the close cancelled
    // (false).
    bool SettingsMayClose();
    // Reports an exception that no operation handled.
    void GeneralExceptionHandler(QObject *sender, const std::exception &e);
    // The system's beep; counted so that tests can hear it.
    void Beep();

    void CreateControls();
    void ArrangeControls();
    void SetTabOrder();
    void ConnectParts();
    void StartInit();
    void Init();

    // The settings file and the session, made before anything that shows them.
    std::unique_ptr<SettingsStore> Settings;
    std::unique_ptr<ImportSession> Session;
    // What the session holds, under the names the window has always used.
    ActivityLog &Log;
    DeviceConnection &Connection;
    const DeviceDiscovery &Discovery;
    CopyRun *Engine;
    CatalogueGrid *StringGrid2;  // every listed object, shown or not

    // The parts.
    DeviceBar *DeviceArea = nullptr;
    SettingsPanel *SettingsArea = nullptr;
    CatalogueView *CatalogueArea = nullptr;
    CopyPanel *CopyArea = nullptr;
    PreviewPart *PreviewArea = nullptr;
    std::unique_ptr<WindowGeometry> Geometry;

    // The dialogs, created with the window and kept for the whole run.
    TForm2 *Form2 = nullptr;
    TForm3 *Form3 = nullptr;
    TForm4 *Form4 = nullptr;

    // The controls, from top to bottom (the parts make their own).
    QLabel *Label1;
    QComboBox *DeviceComboBox;
    QPushButton *DeviceConnectSpeedButton;
    QToolButton *ScanPortableDevicesButton;
    QToolButton *DeleteDeviceButton;
    QPushButton *AddFolderButton;
    RadioGroup *CopyModeRadioGroup;
    LabeledEdit *DateFormatEdit;
    LabeledEdit *DateFormatExampleEdit;
    QFrame *Bevel1;
    LabeledEdit *DeviceRootEdit;
    QToolButton *DeviceRootSpeedButton;
    QPushButton *OptionsBitBtn;
    LabeledEdit *DestLabeledEdit;
    QToolButton *DestSpeedButton;
    QPushButton *PostProcessingBitBtn;
    LabeledEdit *SearchLabeledEdit;
    QPushButton *SearchBitBtn;
    QPushButton *SaveSettingsBitBtn;
    TStringGrid *StringGrid1;
    QPushButton *CopyBitBtn;
    QPushButton *StopBitBtn;
    QProgressBar *ProgressBar1;
    LogView *RichEdit1;
    QPushButton *ViewLogsBitBtn;
    QPushButton *PreviewBitBtn;
    QPushButton *HelpButton;
    QPushButton *AboutButton;
    QPushButton *CloseButton;
    QStatusBar *StatusBar1 = nullptr;
    QAction *Copy1;
    QAction *Open1;
    QAction *Delete1;
    // Ctrl+Q: Close, while Close is enabled.
    QAction *QuitAction;

    int BeepCount = 0;
    bool ExceptionOccurred = false;
    bool initDone_ = false;
    bool exiting_ = false;
    bool askOnClose_ = true;
    int designHeight_ = 0;
    int othersHeight_ = 0;
    // The designed Tab order, the copy mode group as one stop.
    TabCycle tabs_;
    // Holds the connections that hand the controls' changes to the model; it
    // goes before the controls do.
    std::unique_ptr<QObject> watchContext_ = std::make_unique<QObject>();
};
