#pragma once

#include <QIcon>
#include <QObject>

class ImportSession;
class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;
class QWidget;

// The main window's device bar: the device list, Connect, Add Folder,
// Refresh and Delete. The list shows the session's device registry; the
// choices go to the session.
class DeviceBar : public QObject
{
    Q_OBJECT
public:
    DeviceBar(ImportSession &session, QWidget *parent);

    QLabel *Label1;
    QComboBox *DeviceComboBox;
    QPushButton *DeviceConnectSpeedButton;
    QToolButton *ScanPortableDevicesButton;
    QToolButton *DeleteDeviceButton;
    QPushButton *AddFolderButton;

    // The list as the session's registry holds it, its chosen entry shown.
    void ShowList();
    // The entry shown becomes the chosen device, with its saved settings.
    void Choose();
    // Scans again, then opens and lists the chosen device.
    void Connect();
    // Asks, then takes the shown entry out of the list.
    void DeleteDevice();
    // Asks for a folder and adds it as a device.
    void AddFolder();
    void SetIdle(bool idle);

private:
    QIcon NotConnectedIcon() const;

    ImportSession &session_;
    QWidget *window_;
};
