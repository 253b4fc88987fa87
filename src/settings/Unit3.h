#pragma once

#include "settings/Controls.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>

class LogSink;
class SettingsStore;
struct DeviceSettings;

// The post-processing dialog: the selected device's command run after each
// copied file and the one run after the whole copy, each with its switch and
// success code, and Force Run for the per-file command.
class TForm3 : public QDialog
{
    Q_OBJECT
public:
    // OK writes into the settings.
    TForm3(LogSink &log, SettingsStore &settings, const QString &currentDeviceName, QWidget *parent = nullptr);

    QCheckBox *PostFileCopyCommandCheckBox;
    LabeledEdit *PostFileCopyCommandLabeledEdit;
    QCheckBox *PostFileCopyForceCheckBox;
    QLabel *PostFileCopyLabel1;
    QLineEdit *PostFileCopySuccessCode;
    QLabel *PostFileCopyHelpLabel;
    QCheckBox *PostProcessingCommandCheckBox;
    LabeledEdit *PostProcessingCommandLabeledEdit;
    QLabel *PostProcessingLabel1;
    QLineEdit *PostProcessingSuccessCode;
    QLabel *PostProcessingHelpLabel;
    QPushButton *OKButton;
    QPushButton *CancelButton;

    // The device's post-processing keys into the controls, and back.
    void ShowDeviceSettings(const DeviceSettings &values);
    void StoreDeviceSettings(DeviceSettings &values) const;

    void PostFileCopyCommandCheckBoxClick();
    void PostProcessingCommandCheckBoxClick();
    void OKButtonClick();
    void CancelButtonClick();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormShow();
    void StyleHelp(QLabel *help);
    void FitHeight();

    LogSink &log_;
    SettingsStore &settings_;
    const QString &currentDeviceName_;

    struct Kept
    {
        bool fileCommandOn = false;
        bool processingCommandOn = false;
        QString fileCommand;
        QString processingCommand;
        bool force = false;
        QString fileCode;
        QString processingCode;
    } kept_;
};
