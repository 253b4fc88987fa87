// The main window's part in noticing devices as they come and go, and in
// following a copy run: the device list refreshed after a change, a device
// copied when it is connected if it asks for that, the run's progress and
// its end.

#include "Unit1.h"

#include "app/RunMonitor.h"
#include "settings/DeviceSettings.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QComboBox>

#include <algorithm>
#include <utility>

namespace {

// The catalogue holds a listing: more than the header and the empty row.
bool HoldsListing(const CatalogueGrid &grid)
{
    return grid.RowCount() > 2;
}

}  // namespace

void TForm1::SetUpWatching()
{
    Monitor = new RunMonitor(Engine->State(), Log, StatusBar1, this);
    Watcher.SetBusyCheck([this] { return DeviceRefreshMustWait(); });
    connect(&Watcher, &DeviceWatcher::RefreshDue, this, &TForm1::DevicesChanged);
    // The totals a run is measured against are the last listing's: the
    // copy run's own walk adds to the walk's counts as it goes.
    connect(Engine.get(), &CopyRun::listingFinished, this,
            [this] { Monitor->SetListed(qint64(Engine->LastWalk().shownFiles), Engine->LastWalk().shownSize); });
    connect(Engine.get(), &CopyRun::copyStarted, this, [this] { Monitor->Started(Connection.CurrentDeviceName); });
    connect(Engine.get(), &CopyRun::workerFinished, this, &TForm1::WorkerEnded);
}

void TForm1::WatchDevices()
{
    for (const QString &line : Watcher.WatchSystem())
        Log.WriteLog(line, LogColor::Red);
}

bool TForm1::DeviceRefreshMustWait() const
{
    // A run or a listing owns the device handles that a scan replaces; a
    // dialog may be editing the settings of the device a scan would switch to.
    return !initDone_ || exiting_ || WorkerActive() || gridOperationActive_ || QApplication::activeModalWidget() ||
           QApplication::activePopupWidget();
}

void TForm1::DevicesChanged()
{
    const DeviceChanges changes = Discovery.RescanForChanges(*this);
    FindCurrentDeviceID();
    if (CopyWhenConnected(changes.came))
        return;
    const QString chosen = Connection.CurrentDeviceID;
    const bool listed = HoldsListing(*StringGrid2);
    if (chosen.isEmpty()) {
        // The listed device went: nothing in the list can be reached any more.
        if (listed)
            ClearStringGrid1();
        return;
    }
    if (!listed) {
        // The chosen device has come: show what it holds, as Connect would.
        if (std::any_of(changes.came.begin(), changes.came.end(),
                        [&](const TDevice &device) { return device.DeviceID == chosen; })) {
            DisableUI(true);
            OpenAndListCurrentDevice();
        }
        return;
    }
    // The scan opened each device it found: the listed one's handles again,
    // for the list's Open, Copy and Delete.
    if (!Connection.OpenDevice(chosen, true))
        ClearStringGrid1();
}

bool TForm1::CopyWhenConnected(const std::vector<TDevice> &came)
{
    bool started = false;
    for (const TDevice &device : came) {
        const DeviceSettings values = Settings->ReadDevice(device.DeviceName);
        // Only the device remembered under that name: another of the same
        // model has another serial number.
        if (!values.CopyOnConnect || values.DeviceSerialNo != device.DeviceSerialNo)
            continue;
        const int entry = DeviceComboBox->findText(device.DeviceName, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (entry < 0)
            continue;
        if (started) {
            Log.WriteLog(QStringLiteral("Device \"%1\" is to be copied when connected, but another copy is starting: "
                                        "choose it and press Copy when that has ended.")
                             .arg(device.DeviceName),
                         LogColor::Red);
            continue;
        }
        started = true;
        // Chosen as the user would choose it, with its saved settings.
        DeviceComboBox->setCurrentIndex(entry);
        DeviceComboBoxClick();
        FindCurrentDeviceID();
        Log.WriteLog(QStringLiteral("Device \"%1\" is copied as it was connected.").arg(device.DeviceName),
                     LogColor::Blue, LogStyle::Bold);
        // Listed first, so the run knows what there is to do.
        copyAfterListing_ = true;
        ClearStringGrid1();
        DisableUI(true);
        OpenAndListCurrentDevice();
        // Not found or not opened: said in the log, and nothing to follow.
        if (!WorkerActive())
            copyAfterListing_ = false;
    }
    return started;
}

void TForm1::WorkerEnded()
{
    Monitor->Ended();
    if (!std::exchange(copyAfterListing_, false))
        return;
    // A listing that was stopped, or found no device or nothing on it, is
    // not followed by a copy.
    if (Engine->State().StopSignalled || Engine->LastWalk().deviceGone || Connection.CurrentDeviceID.isEmpty() ||
        !HoldsListing(*StringGrid2))
        return;
    CopyClick();
}
