#pragma once

#include "settings/FileTypeTally.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>

#include <functional>

class LogSink;
class SettingsStore;
struct DeviceSettings;
struct ProgramSettings;
class QComboBox;
class QLineEdit;
class QToolButton;
class QMenu;
class SpinEdit;

// The Options dialog: options of the selected device (byte-level compare,
// delete after transfer, skipping files imported before, the two backup paths, the file filter list) and of
// the application (days to keep logs, style, the hidden Debug switch). Its controls hold these
// settings while the program runs.
class TForm4 : public QDialog
{
    Q_OBJECT
public:
    // OK writes into the settings.
    TForm4(LogSink &log, SettingsStore &settings, const QString &currentDeviceName, QWidget *parent = nullptr);

    QLabel *DeviceHeading;
    QCheckBox *ByteLevelCompareCheckBox;
    QCheckBox *DeleteFilesCheckBox;
    QCheckBox *CopyOnConnectCheckBox;
    QCheckBox *SkipImportedBeforeCheckBox;
    QLabel *DateSourceLabel;
    QComboBox *DateSourceComboBox;
    // "Backup Path 1" and "Backup Path 2": a label, the folder and its
    // folder button each.
    QLabel *BackupPathLabel[2];
    QLineEdit *BackupPathEdit[2];
    QToolButton *BackupPathButton[2];
    QCheckBox *FileFiltersCheckBox;
    QListWidget *ListBox1;
    QLabel *FilterHelpLabel;
    QPushButton *AddDeviceTypesButton;
    QLabel *ApplicationHeading;
    SpinEdit *MaxLogDaysSpinEdit;
    QPushButton *ChangeStyleButton;
    QCheckBox *DebugCheckBox;
    QPushButton *OKButton;
    QPushButton *CancelButton;
    QMenu *FilterMenu;
    QAction *InsertFilter1;
    QAction *DeleteFilter1;

    // The filter list's entries, in their order.
    QStringList FilterList() const;
    void SetFilterList(const QStringList &entries);
    // Where the file types found on the connected device come from (the
    // window's catalogue).
    void SetDeviceFileTypes(std::function<FileTypeTally()> provider) { deviceFileTypes_ = std::move(provider); }
    // The inline editor over the selected entry, while it is open.
    QLineEdit *FilterEditor() const { return editor_; }

    // The device's option keys into the controls, and back; storing sorts
    // the filter list as it is kept.
    void ShowDeviceSettings(const DeviceSettings &values);
    // The device's options as the controls hold them, the filter list sorted
    // as it is stored; the controls stay as they are.
    void ReadDeviceSettings(DeviceSettings &values) const;
    void StoreDeviceSettings(DeviceSettings &values);
    // The program's options here: the days logs are kept and Debug.
    void ShowProgramSettings(const ProgramSettings &values);
    void StoreProgramSettings(ProgramSettings &values) const;
    // The program's options can be changed only while no run is going.
    void SetProgramOptionsEnabled(bool enabled);
    // What a run goes by, as the controls show it now.
    struct RunOptions
    {
        bool FileFilters = true;
        QStringList Filters;
        bool ByteLevelCompare = false;
        bool DateTaken = false;
        bool DeleteFiles = false;
        bool SkipImportedBefore = false;
        QStringList BackupPaths;  // Backup Path 1 and 2, empty when unused
    };
    RunOptions CurrentRunOptions() const;

    void FileFiltersCheckBoxClick();
    void DebugCheckBoxClick();
    void ListBox1DblClick();
    void InsertFilter1Click();
    void DeleteFilter1Click();
    // Lists the types found on the device that the list lacks, and adds
    // them when the user agrees.
    void AddDeviceTypesButtonClick();
    // Chooses the folder of Backup Path index + 1.
    void BackupPathButtonClick(int index);
    void OKButtonClick();
    void CancelButtonClick();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormShow();
    void OpenEditor();
    bool CommitEditor();

    LogSink &log_;
    SettingsStore &settings_;
    const QString &currentDeviceName_;
    QPointer<QLineEdit> editor_;
    std::function<FileTypeTally()> deviceFileTypes_;

    // What Cancel puts back.
    QString keptMaxLogDays_;
    bool keptDevice_ = false;
    bool keptByteLevel_ = false;
    bool keptDelete_ = false;
    bool keptCopyOnConnect_ = false;
    bool keptSkipImported_ = false;
    QString keptBackupPaths_[2];
    bool keptFilters_ = false;
    int keptDateSource_ = 0;
    QStringList keptFilterList_;
};
