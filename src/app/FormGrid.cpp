// The main window's catalogue file operations, and the controls' values that
// the engine's runs go by.

#include "Unit1.h"

#include "base/FileNames.h"
#include "copy/DeviceLock.h"
#include "copy/GridOperations.h"
#include "copy/TransferDecision.h"
#include "settings/DeviceSettings.h"
#include "settings/Unit3.h"
#include "settings/Unit4.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QScopedValueRollback>
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
    struct stat info
    {
    };
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return false;
    return (info.st_mode & 0077) == 0 || ::chmod(native.constData(), 0700) == 0;
}

}  // namespace

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
    if (!Engine->IsActive() && !gridOperationActive_)
        return false;
    StatusBar1->showMessage(BusyMessage());
    return true;
}

GridRow TForm1::GridRowAt(int row) const
{
    const CatalogueGrid *cells = StringGrid1->Cells();
    return GridRow{cells->Cell(CatalogueGrid::NameColumn, row), cells->Cell(CatalogueGrid::DateColumn, row),
                   cells->Cell(CatalogueGrid::TypeColumn, row), cells->Cell(CatalogueGrid::ObjectIdColumn, row),
                   cells->Cell(CatalogueGrid::BytesColumn, row)};
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
    Engine->CopyCatalogueFiles(SelectedGridRows(), Connection.CurrentDeviceID, Connection.CurrentDeviceName,
                               ReadControls());
}

void TForm1::GridDeleteFile()
{
    if (StringGrid1->Row() == 0 || RefuseWhileBusy())
        return;
    const QScopedValueRollback<bool> active(gridOperationActive_, true);
    Engine->DeleteCatalogueFiles(SelectedGridRows(), Connection.CurrentDeviceID, Connection.CurrentDeviceName,
                                 ReadControls());
}

void TForm1::OpenFile()
{
    const int current = StringGrid1->Row();
    if (current == 0 || RefuseWhileBusy())
        return;
    const QScopedValueRollback<bool> active(gridOperationActive_, true);
    const int selected = int(StringGrid1->selectionModel()->selectedRows().size());
    Engine->OpenCatalogueFile(GridRowAt(current), selected, OpenedFilesFolder());
}

// --- what the runs go by -----------------------------------------------------------

RunSettings TForm1::ReadControls() const
{
    RunSettings values;
    values.DeviceRoot = DeviceRootEdit->text();
    values.Destination = DestLabeledEdit->text();
    values.DateFormat = DateFormatEdit->text();
    values.CopyMode = CopyModeRadioGroup->ItemIndex();
    if (Form3) {
        DeviceSettings commands;
        Form3->StoreDeviceSettings(commands);
        values.ForceRun = commands.PostFileCopyForceRun;
        values.PostFileCopy = {commands.PostFileCopyCommandOn, commands.PostFileCopyCommand,
                               commands.PostFileCopySuccessCode};
        values.PostProcessing = {commands.PostProcessingCommandOn, commands.PostProcessingCommand,
                                 commands.PostProcessingSuccessCode};
    }
    if (Form4) {
        const TForm4::RunOptions options = Form4->CurrentRunOptions();
        values.Filters = {options.FileFilters, options.Filters};
        values.ByteLevel = options.ByteLevelCompare;
        values.DateTaken = options.DateTaken;
        values.DeleteFiles = options.DeleteFiles;
        values.SkipImportedBefore = options.SkipImportedBefore;
        values.BackupPaths = options.BackupPaths;
    }
    return values;
}
