// The main window's side of the copy run: the Copy and Stop buttons, and what
// the window shows of the engine's announcements. The run itself is the
// engine's (copy/CopyRun).

#include "Unit1.h"

#include "settings/Unit4.h"

#include "base/FileNames.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

#include <utility>

void TForm1::ConnectEngine()
{
    CopyRun *engine = Engine.get();
    // The catalogue, as the engine lists it.
    connect(engine, &CopyRun::rowsCleared, this, [this] {
        StringGrid1->Cells()->Clear();
        StringGrid2->Clear();
    });
    connect(engine, &CopyRun::rowsListed, this, [this](const QList<ListedRow> &rows) {
        CatalogueGrid *shown = StringGrid1->Cells();
        for (const ListedRow &listed : rows) {
            StringGrid2->AppendRow(listed.row);
            if (listed.shown)
                shown->AppendRow(listed.row);
        }
    });
    connect(engine, &CopyRun::rowRemoved, this, [this](const QString &objectId) {
        CatalogueGrid *cells = StringGrid1->Cells();
        const int row = cells->FindRow(CatalogueGrid::ObjectIdColumn, objectId);
        if (row > 0)
            cells->RemoveRow(row);
    });
    connect(engine, &CopyRun::walkFinished, this, [this] {
        StringGrid1->Cells()->FlushRows();
        StringGrid2->FlushRows();
        ApplyAutoSizeGrid(StringGrid1);
    });
    connect(engine, &CopyRun::currentFileChanged, this, [this](const QString &objectId) {
        const int row = StringGrid1->Cells()->FindRow(CatalogueGrid::ObjectIdColumn, objectId);
        if (row > 0)
            StringGrid1->SetRow(row);
    });

    // The progress and the window's state.
    connect(engine, &CopyRun::listingStarted, this, [this] {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ProgressBar1->setRange(0, 0);  // the marquee form
        lastRepaint_.invalidate();
    });
    connect(engine, &CopyRun::listingFinished, this, [this] {
        QApplication::restoreOverrideCursor();
        ProgressBar1->setRange(0, 100);
    });
    connect(engine, &CopyRun::copyStarted, this, [this](int expectedFiles) {
        changeDuringRunSaid_ = false;
        ApplyDisableUI(true);
        ProgressBar1->setRange(0, expectedFiles);
        ProgressBar1->setValue(0);
    });
    connect(engine, &CopyRun::progressChanged, this, &TForm1::UpdateUI);
    connect(engine, &CopyRun::workerFinished, this, [this] { ApplyDisableUI(false); });
    connect(engine, &CopyRun::catalogueBusy, this, &TForm1::ApplyDisableUI);
    connect(engine, &CopyRun::fileToOpen, this,
            [](const QString &fileName) { QDesktopServices::openUrl(localFileUrl(fileName)); });

    // For the user's attention.
    connect(engine, &CopyRun::errorMessage, this, &TForm1::ShowErrorMessage);
    connect(engine, &CopyRun::commandNotStarted, this, &TForm1::ShowExecError);
    connect(engine, &CopyRun::workerFailed, this, &TForm1::ShowWorkerException);
}

void TForm1::CopyClick()
{
    DeviceRootEdit->setText(TrimDeviceRootField(DeviceRootEdit->text()));
    RichEdit1->setFocus(Qt::OtherFocusReason);
    // A catalogue operation waiting for a command keeps the window's events
    // running; it shares the device and the counters, so no run may start.
    if (Engine->IsActive() || gridOperationActive_)
        return;
    Engine->StartCopying(Connection.CurrentDeviceID, Connection.CurrentDeviceName, ReadControls());
}

void TForm1::NoteChangeDuringRun()
{
    if (!Engine->IsActive() || std::exchange(changeDuringRunSaid_, true))
        return;
    Log.WriteLog(QStringLiteral("A setting was changed during the run: this run goes on with the settings it "
                                "started with, and the change counts from the next run."),
                 LogColor::Black);
}

void TForm1::StopCopying()
{
    Beep();
    Engine->Stop();
    if (Engine->IsActive()) {
        // The worker leaves at its next look at the stop flag (a transfer
        // within a second), the log ends with "Stop Signalled." and the
        // window returns to idle; until then the worker still owns the
        // device, so nothing that reaches the device may start.
        StopBitBtn->setEnabled(false);
        return;
    }
    DisableUI(false);
}

void TForm1::StopCopyRunAndWait()
{
    Engine->StopAndWait();
}

void TForm1::ShowWorkerException(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Application Error"), message, QMessageBox::Ok, this);
    box.exec();
}

void TForm1::ShowErrorMessage(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ferrovane:"), text, QMessageBox::Ok, this);
    box.exec();
}

void TForm1::ShowExecError(const QString &message)
{
    QApplication::restoreOverrideCursor();
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ferrovane"), QStringLiteral("ExecNewProcess Error:"),
                    QMessageBox::Ok, this);
    box.setInformativeText(message);
    box.exec();
}
