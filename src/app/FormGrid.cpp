// The main window's side of the copy engine: the catalogue's file operations
// and what the transfer decision, the command runner and the grid operations
// read from the window.

#include "Unit1.h"

#include "app/UiThread.h"
#include "base/FileNames.h"
#include "commands/CommandRunner.h"
#include "copy/GridOperations.h"
#include "copy/TransferDecision.h"
#include "settings/Unit3.h"
#include "settings/Unit4.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QScopedValueRollback>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QUrl>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder only this user can enter, made if missing. False when the path
// exists as anything else (a file, a link, another user's folder).
bool MakePrivateFolder(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return false;
    return (info.st_mode & 0077) == 0 || ::chmod(native.constData(), 0700) == 0;
}

} // namespace

QString TForm1::OpenedFilesFolder()
{
    // The runtime folder is the user's own; the shared temporary folder gets
    // a folder whose name nobody can guess before we make it.
    if (!openedFolder_.isEmpty() && MakePrivateFolder(openedFolder_.chopped(1)))
        return openedFolder_;
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty() && MakePrivateFolder(runtime + QStringLiteral("/ferrovane-opened"))) {
        openedFolder_ = runtime + QStringLiteral("/ferrovane-opened/");
        return openedFolder_;
    }
    QByteArray pattern = QFile::encodeName(QDir::tempPath() + QStringLiteral("/ferrovane-opened-XXXXXX"));
    if (::mkdtemp(pattern.data()) == nullptr)
        return QString();
    openedFolder_ = QFile::decodeName(pattern) + QLatin1Char('/');
    return openedFolder_;
}

bool TForm1::RefuseWhileBusy()
{
    if (!workerActive_ && !gridOperationActive_)
        return false;
    StatusBar1->showMessage(BusyMessage());
    return true;
}

bool TForm1::ReadObjectDate(const QString &ObjectID, QDateTime &date)
{
    IPortableDeviceProperties *properties = Connection.Handles().aPortableDeviceProperties.get();
    if (!properties)
        return false;
    auto keys = std::make_shared<PortableDeviceKeyCollection>();
    keys->Add(WPD_OBJECT_DATE_CREATED);
    std::shared_ptr<PortableDeviceValues> values;
    QString text;
    if (FAILED(properties->GetValues(ObjectID, keys.get(), values)) || !values ||
        FAILED(values->GetStringValue(WPD_OBJECT_DATE_CREATED, text)))
        return false;
    return ParseWpdDateTime(text, date);
}

GridRow TForm1::GridRowAt(int row) const
{
    const CatalogueGrid *cells = StringGrid1->Cells();
    return GridRow{cells->Cell(1, row), cells->Cell(3, row), cells->Cell(4, row), cells->Cell(5, row),
                   cells->Cell(6, row)};
}

std::vector<GridRow> TForm1::SelectedGridRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : StringGrid1->selectionModel()->selectedRows())
        rows << index.row() + 1;
    std::sort(rows.begin(), rows.end());
    std::vector<GridRow> selected;
    for (int row : std::as_const(rows))
        selected.push_back(GridRowAt(row));
    return selected;
}

void TForm1::GridCopyFile()
{
    if (StringGrid1->Row() == 0 || RefuseWhileBusy())
        return;
    const QScopedValueRollback<bool> active(gridOperationActive_, true);
    Grid->GridCopyFile(SelectedGridRows(), *Decision);
}

void TForm1::GridDeleteFile()
{
    if (StringGrid1->Row() == 0 || RefuseWhileBusy())
        return;
    const QScopedValueRollback<bool> active(gridOperationActive_, true);
    Grid->GridDeleteFile(SelectedGridRows(), [this](const QString &id) { return Decision->DeleteFileFromDevice(id); });
}

void TForm1::OpenFile()
{
    const int current = StringGrid1->Row();
    if (current == 0 || RefuseWhileBusy())
        return;
    const QScopedValueRollback<bool> active(gridOperationActive_, true);
    const int selected = int(StringGrid1->selectionModel()->selectedRows().size());
    Grid->OpenFile(GridRowAt(current), selected, OpenedFilesFolder(),
                   [this](const QString &id, const QString &fileName, qint64 size) {
                       return Decision->Streams().CopyFileFromDevice(id, fileName, size, true) ==
                              StreamTransfer::CopyResult::Copied;
                   });
}

// --- what the grid operations read ------------------------------------------

RunHeader TForm1::GridRunHeader()
{
    return CurrentRunHeader();
}

bool TForm1::DeleteFilesAfterTransfer()
{
    return DeleteFilesOption();
}

void TForm1::SetBusy(bool busy)
{
    DisableUI(busy);
}

void TForm1::OpenWithDesktop(const QString &fileName)
{
    QDesktopServices::openUrl(localFileUrl(fileName));
}

// --- what the workers read ----------------------------------------------------

TForm1::ControlValues TForm1::ReadControls() const
{
    ControlValues values;
    values.DeviceRoot = DeviceRootEdit->text();
    values.Destination = DestLabeledEdit->text();
    values.DateFormat = DateFormatEdit->text();
    values.CopyMode = CopyModeRadioGroup->ItemIndex();
    if (Form3) {
        values.ForceRun = Form3->PostFileCopyForceCheckBox->isChecked();
        values.PostFileCopy = {Form3->PostFileCopyCommandCheckBox->isChecked(),
                               Form3->PostFileCopyCommandLabeledEdit->text(), Form3->PostFileCopySuccessCode->text()};
        values.PostProcessing = {Form3->PostProcessingCommandCheckBox->isChecked(),
                                 Form3->PostProcessingCommandLabeledEdit->text(),
                                 Form3->PostProcessingSuccessCode->text()};
    }
    if (Form4) {
        values.Filters = {Form4->FileFiltersCheckBox->isChecked(), Form4->FilterList()};
        values.ByteLevel = Form4->ByteLevelCompareCheckBox->isChecked();
        values.DateTaken = Form4->DateSourceComboBox->currentIndex() == 1;
        values.DeleteFiles = DeleteFilesOption();
    }
    return values;
}

TForm1::ControlValues TForm1::LiveControls() const
{
    return QThread::currentThread() == thread() ? ReadControls() : controls_.Get();
}

QString TForm1::DestinationPathText()
{
    return LiveControls().Destination;
}

QString TForm1::DateFormatText()
{
    return LiveControls().DateFormat;
}

bool TForm1::ByteLevelCompare()
{
    return LiveControls().ByteLevel;
}

bool TForm1::DeleteFiles()
{
    return LiveControls().DeleteFiles;
}

bool TForm1::ForceRun()
{
    return LiveControls().ForceRun;
}

bool TForm1::DateFoldersByDateTaken()
{
    return LiveControls().DateTaken;
}

void TForm1::SelectCatalogueRow(const QString &ObjectID)
{
    // A catalogue copy leaves the user's selection as it is.
    if (gridOperationActive_)
        return;
    // A run hands over a row for every file, thousands a second: the grid
    // follows the newest one at a pace the eye can follow, instead of
    // scrolling and repainting for each.
    {
        const QMutexLocker lock(&rowToSelectMutex_);
        rowToSelect_ = ObjectID;
    }
    if (!rowSelectPending_.exchange(true))
        RunOnUiThread(this, [this] { rowSelectTimer_.start(); }, false);
}

void TForm1::ApplyRowToSelect()
{
    rowSelectPending_ = false;
    ApplyCatalogueChanges();
    QString id;
    {
        const QMutexLocker lock(&rowToSelectMutex_);
        id = rowToSelect_;
    }
    const int row = StringGrid1->Cells()->FindRow(5, id);
    if (row > 0)
        StringGrid1->SetRow(row);
}

void TForm1::RemoveCatalogueRow(const QString &ObjectID)
{
    RunOnUiThread(
        this,
        [this, ObjectID] {
            ApplyCatalogueChanges();
            CatalogueGrid *cells = StringGrid1->Cells();
            const int row = cells->FindRow(5, ObjectID);
            if (row > 0)
                cells->RemoveRow(row);
        },
        false);
}

void TForm1::ShowErrorMessage(const QString &text)
{
    RunOnUiThread(
        this,
        [this, text] {
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Ferrovane:"), text, QMessageBox::Ok, this);
            box.exec();
        },
        true);
}

// --- what the command runner reads ----------------------------------------------

CommandSettings TForm1::PostFileCopyCommand()
{
    return LiveControls().PostFileCopy;
}

CommandSettings TForm1::PostProcessingCommand()
{
    return LiveControls().PostProcessing;
}

QString TForm1::DestinationText()
{
    return DestinationPathText();
}

void TForm1::ShowExecError(const QString &message)
{
    RunOnUiThread(
        this,
        [this, message] {
            QApplication::restoreOverrideCursor();
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Ferrovane"), QStringLiteral("ExecNewProcess Error:"),
                            QMessageBox::Ok, this);
            box.setInformativeText(message);
            box.exec();
        },
        true);
}
