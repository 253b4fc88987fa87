#pragma once

#include "settings/DeviceSettings.h"

#include <QObject>

class ImportSession;
class LabeledEdit;
class QFrame;
class QPushButton;
class QStatusBar;
class QToolButton;
class QWidget;
class RadioGroup;
class TForm2;
class TForm3;
class TForm4;

// The main window's settings of the chosen device: the copy mode and date
// format, the device root and destination with their pickers, the Options
// and Post Processing dialogs and Save Settings. The controls show the
// session's settings model; every edit goes back to it.
class SettingsPanel : public QObject
{
    Q_OBJECT
public:
    SettingsPanel(ImportSession &session, QWidget *parent, QStatusBar *&statusBar);
    // The dialogs, made once the window has its catalogue.
    void SetDialogs(TForm2 *rootPicker, TForm3 *postProcessing, TForm4 *options);

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
    QPushButton *SaveSettingsBitBtn;

    // Shows the model's settings in the controls and the dialogs.
    void ShowSettings();
    // The model's settings as the controls and the dialogs hold them now.
    DeviceSettings ReadSettings() const;
    // A control changed: the model follows.
    void ControlChanged();
    void SetIdle(bool idle);
    // The date fields belong to the dated-folder mode only.
    void ShowDateFields(bool visible);

    // Save Settings; false when the settings file could not be written.
    bool Save();
    void DateFormatEditChange();
    void SelectDestination();
    void SelectDeviceRoot();

private:
    bool RefuseWithoutDevice();

    ImportSession &session_;
    QWidget *window_;
    QStatusBar *&statusBar_;
    TForm2 *form2_ = nullptr;
    TForm3 *form3_ = nullptr;
    TForm4 *form4_ = nullptr;
    bool showing_ = false;
};
