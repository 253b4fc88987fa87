#pragma once

#include "catalogue/CatalogueGrid.h"
#include "catalogue/StringGrid.h"
#include "copy/CopyRun.h"
#include "device/DeviceConnection.h"
#include "device/DeviceDiscovery.h"
#include "device/DeviceWatcher.h"
#include "log/ActivityLog.h"
#include "log/LogView.h"
#include "preview/PreviewFetcher.h"
#include "settings/Controls.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QSet>
#include <QTimer>

#include <memory>

class TForm2;
class TForm3;
class TForm4;
class QAction;
class QComboBox;
class QFrame;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QToolButton;
class RunMonitor;
class SettingsStore;
class PreviewPanel;

// The main window. The copy run and the listing are the engine's; the
// window hands it the controls' values, starts and stops it, and shows what
// it announces.
class TForm1 : public QMainWindow, private DiscoveryHost
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

    // The help context of a control: its own, or the window's.
    static int HelpContextOf(const QWidget *control);
    // Where a window of the wanted bounds (without its frame) goes: on the
    // screen area that holds most of it, or centred on the primary one when it
    // is off every screen or centre is asked for; never larger than that area.
    static QRect PlaceOnScreen(QRect wanted, const QMargins &frame, const QList<QRect> &areas, const QRect &primary,
                               bool centre);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    // Tests drive the window through its own controls and handlers and read
    // its state; nothing else reaches in.
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
    // Fits the Name column of the grid to the window.
    void AutoSizeGrid(TStringGrid *grid);

    // Settings file and window geometry.
    void LoadSettings();
    void SaveSettings();
    void LoadFormSettings();
    void SaveFormSettings();
    // Event handlers of the settings controls.
    void SaveSettingsClick();
    void DateFormatEditChange();
    void CopyModeRadioGroupClick();
    void SelectDestination();
    void OptionsBitBtnClick();
    void PostProcessingBitBtnClick();

    // Devices.
    void ScanPortableDevices();
    void FindCurrentDeviceID();
    void DeviceComboBoxClick();
    void DeviceComboBoxSelect();
    void DeviceConnectSpeedButtonClick();
    void DeleteDevice();
    // Asks for a folder and adds it as a device.
    void AddFolderClick();
    // Offers the folder as a device from now on, finds it, remembers it in
    // the settings file, selects it and lists it; or logs why not.
    void AddFolderDevice(const QString &folder);
    // The folder's canonical path, offered as a device from now on; empty
    // (and logged) when it is no folder.
    QString OfferFolder(const QString &folder, bool &newlyOffered);
    // The local folder a location names; empty (and logged) when it names none.
    QString LocalFolderOf(const QString &location);
    // After a scan: selects, remembers and opens the offered folder.
    void SelectFolderDevice(const QString &path, bool newlyOffered);
    void OpenPendingLocation();
    QString pendingLocation_;

    // Program life.
    void ExitProg();
    void ViewLogsClick();
    // Closing the window stops the engine's worker and waits for it.
    void StopCopyRunAndWait();

    // The copy run.
    void CopyClick();
    void StopCopying();
    // The catalogue's file operations.
    void GridCopyFile();
    void GridDeleteFile();
    void OpenFile();
    // True from the start of a worker's job to its end.
    bool WorkerActive() const { return Engine->IsActive(); }
    // What the status bar says when an operation must wait for the worker.
    static QString BusyMessage()
    {
        return QStringLiteral("Busy: wait until the copy run or listing has ended, or press Stop.");
    }
    // The log file saved last in UserDataFolder (after an exception or at
    // the end); empty when it could not be written there.
    QString LastLogFile;

    // The catalogue.
    void ClearStringGrid1();
    void ListDeviceContents();
    void UpdateUI(int filesLocated);
    void SearchDeviceContents();
    void SearchLabeledEditChange();
    void DeviceRootEditChange();
    void SelectDeviceRoot();
    // The system's beep; counted so that tests can hear it.
    void Beep();
    int BeepCount = 0;
    int UpdateUICount = 0;
    int SearchRow = 0;

    // Reports an exception that no operation handled.
    void GeneralExceptionHandler(QObject *sender, const std::exception &e);
    bool ExceptionOccurred = false;

    // The settings file, read at start; the dialogs write through it too.
    std::unique_ptr<SettingsStore> Settings;
    // The dialogs, created with the window and kept for the whole run.
    TForm2 *Form2 = nullptr;
    TForm3 *Form3 = nullptr;
    TForm4 *Form4 = nullptr;

    ActivityLog Log;
    DeviceConnection Connection;
    DeviceDiscovery Discovery{Connection, Log};
    // The copy run and the listing.
    std::unique_ptr<CopyRun> Engine;

    // The controls, from top to bottom.
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
    CatalogueGrid *StringGrid2;  // every listed object, shown or not
    QPushButton *CopyBitBtn;
    QPushButton *StopBitBtn;
    QProgressBar *ProgressBar1;
    LogView *RichEdit1;
    QPushButton *ViewLogsBitBtn;
    QPushButton *HelpButton;
    QPushButton *AboutButton;
    QPushButton *CloseButton;
    QStatusBar *StatusBar1;

    // The grid's popup menu.
    QMenu *PopupMenu1;
    QAction *Open1;
    QAction *Copy1;
    QAction *Delete1;
    // Ctrl+Q: Close, while Close is enabled.
    QAction *QuitAction;

    // The preview window (FormPreview.cpp): its button and F3 show and hide
    // it; it follows the grid's current row and waits while the worker owns
    // the device.
    QPushButton *PreviewBitBtn;
    QAction *PreviewAction;
    PreviewPanel *Preview;
    std::unique_ptr<PreviewFetcher> Previews;
    void CreatePreview();
    void ConnectPreview();
    void SetPreviewVisible(bool visible);
    void PreviewSelectionChanged();
    void RequestPreview();
    void PreviewReady(const QString &key, const PreviewResult &result, bool final);
    void PausePreviews(bool busy);
    void LoadPreviewSettings();
    void SavePreviewSettings();
    QTimer previewTimer_;
    QElapsedTimer previewClock_;
    PreviewRequest previewRequest_;
    QSet<QString> previewTroubleSaid_;


    void CreateControls();
    void ConnectHandlers();
    void ArrangeControls();
    void SetTabOrder();
    void FormCreate();
    void StartInit();
    void Init();
    void FormResize();
    void ReadDeviceSettings(const QString &section);
    // The device list's entries, in their order.
    QStringList DeviceListEntries() const;
    // Opens the device found for the current name and serial number and
    // lists it, or says why not.
    void OpenAndListCurrentDevice();
    void ApplyDisableUI(bool busy);
    // A control changed: during a run, the log says once that the change
    // counts from the next run.
    void NoteChangeDuringRun();
    bool changeDuringRunSaid_ = false;
    void ApplyAutoSizeGrid(TStringGrid *grid);
    // What the window does with the engine's announcements.
    void ConnectEngine();
    void ShowWorkerException(const QString &message);
    void ShowErrorMessage(const QString &text);
    void ShowExecError(const QString &message);

    // Everything a run reads of the controls. User-interface thread only.
    RunSettings ReadControls() const;

    // What the device scan reads and writes through.
    bool IsKnownDevice(const QString &name) override;
    void AddNewDevice(const QString &name, const QString &serial) override;
    void ClearCatalogue() override;

    // The designed Tab order, the copy mode group as one stop.
    QList<QWidget *> tabStops_;
    bool RefuseWhileBusy();
    GridRow GridRowAt(int row) const;
    std::vector<GridRow> SelectedGridRows() const;
    // Where opened files are copied to: a folder only this user can enter.
    QString OpenedFilesFolder();

    bool gridOperationActive_ = false;
    QString openedFolder_;
    bool initDone_ = false;
    bool exiting_ = false;
    QElapsedTimer lastRepaint_;
    // Devices noticed as they come and go, the progress of a copy run and
    // its end (FormDeviceWatch.cpp), following the engine's announcements.
    DeviceWatcher Watcher;
    RunMonitor *Monitor = nullptr;
    void SetUpWatching();
    bool DeviceRefreshMustWait() const;
    void DevicesChanged();
    // Starts the first device that came and asks to be copied when
    // connected: listed, then copied. False when none asks.
    bool CopyWhenConnected(const std::vector<TDevice> &came);
    bool copyAfterListing_ = false;
    void WorkerEnded();
    // Holds the connections that hand the controls' changes to the engine;
    // it goes before the controls do.
    std::unique_ptr<QObject> watchContext_ = std::make_unique<QObject>();
};
