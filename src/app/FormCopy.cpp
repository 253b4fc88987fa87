// The main window's copy run: the Copy and Stop buttons and the one worker
// thread that copy runs and listings share.

#include "Unit1.h"

#include "app/UiThread.h"
#include "commands/CommandRunner.h"
#include "copy/CopyRun.h"
#include "copy/TransferDecision.h"
#include "log/Exception.h"
#include "settings/Unit4.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

#include <limits>

bool TForm1::StartWorker(std::function<void()> job)
{
    // One worker at a time: a copy run or a listing owns the device until it
    // has ended.
    if (workerActive_.exchange(true))
        return false;
    QThread *thread = QThread::create([this, job = std::move(job)] {
        try {
            job();
        } catch (const RunAbort &) {
            // Said already, in the log and in a message box of its own.
        } catch (const std::exception &e) {
            ShowWorkerException(QString::fromUtf8(e.what()));
        } catch (...) {
            ShowWorkerException(QStringLiteral("Unknown exception."));
        }
        workerActive_ = false;
        Stopper.JobEnded();
        // Whatever ended the job, the window is usable again.
        DisableUI(false);
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    CopyThread = thread;
    thread->start();
    return true;
}

void TForm1::ShowWorkerException(const QString &message)
{
    RunOnUiThread(
        this,
        [this, message] {
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Application Error"), message, QMessageBox::Ok, this);
            box.exec();
        },
        true);
}

void TForm1::CopyClick()
{
    DeviceRootEdit->setText(TrimDeviceRootField(DeviceRootEdit->text()));
    RichEdit1->setFocus(Qt::OtherFocusReason);
    // A catalogue operation waiting for a command keeps the window's events
    // running; it shares the device and the counters, so no run may start.
    if (workerActive_ || gridOperationActive_)
        return;
    // Cleared here rather than on the worker, so that a Stop pressed while
    // the device is being reopened still ends the run.
    Run.StopSignalled = false;
    StartWorker([this] { StartCopying(); });
}

void TForm1::StartCopying()
{
    const QString deviceId = CallOnUiThread(this, [this] { return Connection.CurrentDeviceID; });
    if (!Connection.OpenDevice(deviceId, true)) {
        Log.WriteLog(QStringLiteral("Device is not open!"), LogColor::Red, LogStyle::Bold);
        return;
    }

    const RunHeader header = CallOnUiThread(this, [this] { return CurrentRunHeader(); });
    for (const RunLogLine &line : CopyHeaderLines(QStringLiteral("Copy Started"), header))
        Log.WriteLog(line.text, line.color, line.style);

    DisableUI(true);
    const int maximum = int(qBound(qint64(1), Walk.ListedFileCount, qint64(std::numeric_limits<int>::max())));
    RunOnUiThread(
        this,
        [this, maximum] {
            ProgressBar1->setRange(0, maximum);
            ProgressBar1->setValue(0);
        },
        false);
    Run.RunStartTime = QDateTime::currentDateTime();
    QElapsedTimer elapsed;
    elapsed.start();

    if (const QFileInfo destination(header.Destination); !destination.isDir()) {
        const QString reason = destination.exists() ? QStringLiteral("is not a folder") : QStringLiteral("does not exist");
        Log.WriteLog(QStringLiteral("Destination path \"%1\" %2!").arg(header.Destination, reason), LogColor::Red,
                     LogStyle::Bold);
        return;
    }

    QueueCatalogueChange({true, {}, false});
    Run.ErrorCount = 0;
    Run.FilesCopied = 0;
    Run.FilesDeleted = 0;
    Run.FilesExisting = 0;
    Run.FilesLocated = 0;
    Run.BytesCopied = 0;
    Walk.ResetWalk();

    Decision->Streams().ResetRun();
    Walk.SetTransferTarget(Decision.get());
    if (Connection.Handles().aPortableDeviceContent)
        Walk.EnumerateContent(Connection.Handles().aPortableDeviceContent.get(), QStringLiteral("DEVICE"), false, -1);
    Walk.SetTransferTarget(nullptr);

    RunOnUiThread(
        this,
        [this] {
            ShowWalkedRows();
            ProgressBar1->setValue(Run.FilesLocated);
        },
        false);

    if (Run.StopSignalled)
        return;
    RunPostProcessingCommand();
    if (Run.StopSignalled)
        return;
    const bool deleteFiles = CallOnUiThread(this, [this] { return DeleteFilesOption(); });
    for (const RunLogLine &line : CopyStatisticsLines(RunCounts::Of(Run), elapsed.elapsed(), deleteFiles))
        Log.WriteLog(line.text, line.color, line.style);
}

void TForm1::StopCopying()
{
    Beep();
    Stopper.Request(workerActive_);
    StopCommandWait();
    if (workerActive_) {
        // The worker leaves at its next look at the stop flag (a transfer
        // within a second), ends the log with "Stop Signalled." and returns
        // the window to idle itself; until then it still owns the device, so
        // nothing that reaches the device may start.
        StopBitBtn->setEnabled(false);
        return;
    }
    DisableUI(false);
}

RunHeader TForm1::CurrentRunHeader() const
{
    return RunHeader{Connection.CurrentDeviceName, CopyModeRadioGroup->ItemIndex() == 1, DateFormatEdit->text(),
                     DeviceRootEdit->text(), DestLabeledEdit->text()};
}

bool TForm1::DeleteFilesOption() const
{
    return Form4->DeleteFilesCheckBox->isChecked();
}

void TForm1::RunPostProcessingCommand()
{
    Commands->RunPostProcessingCommand();
}

void TForm1::StopCommandWait()
{
    if (Commands && Commands->IsWaiting())
        Commands->StopWaiting();
}

void TForm1::RunPostFileCopyCommand(const QString &Path, const QString &File)
{
    Commands->RunPostFileCopyCommand(Path, File);
}
