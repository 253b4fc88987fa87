// The main window's catalogue: listing the open device, the progress, the
// search field, the device root field and its picker.

#include "Unit1.h"

#include "app/UiThread.h"
#include "base/NumberFormat.h"
#include "catalogue/PathRules.h"
#include "catalogue/Unit2.h"
#include "settings/FileFilter.h"
#include "settings/Unit4.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>

void TForm1::ClearStringGrid1()
{
    ApplyCatalogueChanges();
    StringGrid1->Cells()->Clear();
    StringGrid2->Clear();
    Walk.LastFolderLevel = 0;
}

void TForm1::ListDeviceContents()
{
    // Runs on the worker (or, when called there, on the user-interface
    // thread); every change to the window goes through the one ordered
    // hand-off, so the rows and the lines arrive in the order made.
    Log.WriteLog(QStringLiteral("DEVICE CONTENTS:"), LogColor::Blue, LogStyle::Bold);
    const FileFilterSettings filters = FileFilters();
    if (filters.enabled)
        Log.WriteLog(QStringLiteral("File Filters: ") + FileFilterLogText(filters.entries), LogColor::Black);
    else
        Log.WriteLog(QStringLiteral("File Filters: *.*"), LogColor::Black);

    Walk.ResetTotals();
    Walk.ResetWalk();
    Run.StopSignalled = false;
    QueueCatalogueChange({true, {}, false});
    RunOnUiThread(
        this,
        [this] {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            ProgressBar1->setRange(0, 0);  // the marquee form
            lastRepaint_.invalidate();
        },
        false);

    if (Connection.Handles().aPortableDeviceContent)
        Walk.EnumerateContent(Connection.Handles().aPortableDeviceContent.get(), QStringLiteral("DEVICE"), true, -1);

    RunOnUiThread(
        this,
        [this] {
            ShowWalkedRows();
            QApplication::restoreOverrideCursor();
            ProgressBar1->setRange(0, 100);
        },
        false);

    Log.WriteLog(QStringLiteral("Total Folders = %1 of %2")
                     .arg(FormatCount(qint64(Walk.ShownFolders)), FormatCount(qint64(Walk.TotalFolders))),
                 LogColor::Black);
    Log.WriteLog(QStringLiteral("Total Files = %1 of %2")
                     .arg(FormatCount(qint64(Walk.ShownFiles)), FormatCount(qint64(Walk.TotalFiles))),
                 LogColor::Black);
    Log.WriteLog(QStringLiteral("Total Size = %1 of %2").arg(FormatMiB(Walk.ShownSize), FormatMiB(Walk.TotalSize)),
                 LogColor::Black);
    if (Walk.ReadErrors > 0)
        Log.WriteLog(QStringLiteral("Not read = %1 (named above): the totals leave out what they hold.")
                         .arg(FormatCount(Walk.ReadErrors)),
                     LogColor::Red);
    Walk.ListedFileCount = qint64(Walk.TotalFiles);
}

void TForm1::UpdateUI()
{
    RunOnUiThread(
        this,
        [this] {
            ++UpdateUICount;
            if (ProgressBar1->maximum() == 0 && ProgressBar1->minimum() == 0) {
                // The marquee only needs a repaint now and then, not after every object.
                if (!lastRepaint_.isValid() || lastRepaint_.elapsed() > 50) {
                    ProgressBar1->repaint();
                    lastRepaint_.restart();
                }
                return;
            }
            ProgressBar1->setValue(Run.FilesLocated);
        },
        true);
}

QString TForm1::DeviceRootText()
{
    return LiveControls().DeviceRoot;
}

FileFilterSettings TForm1::FileFilters()
{
    return LiveControls().Filters;
}

int TForm1::CopyModeIndex()
{
    return LiveControls().CopyMode;
}

void TForm1::AppendRow(const CatalogueGrid::Row &row, bool shown)
{
    QueueCatalogueChange({false, row, shown});
}

void TForm1::QueueCatalogueChange(CatalogueChange change)
{
    if (QThread::currentThread() == thread()) {
        // Already where the grids live: in order, at once.
        ApplyCatalogueChanges();
        ApplyCatalogueChange(change);
        return;
    }
    {
        const QMutexLocker lock(&catalogueChangesMutex_);
        catalogueChanges_.push_back(std::move(change));
    }
    if (!catalogueChangesPending_.exchange(true))
        RunOnUiThread(this, [this] { catalogueChangesTimer_.start(); }, false);
}

void TForm1::ShowWalkedRows()
{
    ApplyCatalogueChanges();
    StringGrid1->Cells()->FlushRows();
    StringGrid2->FlushRows();
    ApplyAutoSizeGrid(StringGrid1);
}

void TForm1::ApplyCatalogueChanges()
{
    std::vector<CatalogueChange> changes;
    {
        const QMutexLocker lock(&catalogueChangesMutex_);
        catalogueChangesPending_ = false;
        changes.swap(catalogueChanges_);
    }
    for (const CatalogueChange &change : changes)
        ApplyCatalogueChange(change);
}

void TForm1::ApplyCatalogueChange(const CatalogueChange &change)
{
    if (change.clear) {
        StringGrid1->Cells()->Clear();
        StringGrid2->Clear();
        return;
    }
    StringGrid2->AppendRow(change.row);
    if (change.shown)
        StringGrid1->Cells()->AppendRow(change.row);
}

void TForm1::Beep()
{
    ++BeepCount;
    QApplication::beep();
}

void TForm1::SearchDeviceContents()
{
    const CatalogueGrid *cells = StringGrid1->Cells();
    if (cells->RowCount() < 3)
        return;
    const QString text = SearchLabeledEdit->text();
    if (text.trimmed().isEmpty())
        return;
    auto fold = [](QString s) {
        for (QChar &c : s)
            if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                c = QChar(c.unicode() + 32);
        return s;
    };
    const QString needle = fold(text);
    // Row 0 is the header, which cannot be selected.
    for (int row = qMax(SearchRow, 1); row < cells->RowCount(); ++row) {
        // Names are searched as the grid shows them ("x\xFF.JPG").
        if (fold(CatalogueGrid::Shown(cells->CellRef(1, row))).contains(needle)) {
            StringGrid1->SetRow(row);
            SearchRow = row + 1;
            return;
        }
    }
    SearchRow = 0;
    Beep();
}

void TForm1::SearchLabeledEditChange()
{
    SearchRow = 0;
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == SearchLabeledEdit->Edit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            SearchDeviceContents();
            return true;  // the field never sees the Enter
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::DeviceRootEditChange()
{
    const QString current = DeviceRootEdit->text();
    const QString normal = NormalDeviceRoot(current);
    if (normal != current)
        DeviceRootEdit->setText(normal);
}

void TForm1::SelectDeviceRoot()
{
    if (Connection.CurrentDeviceName.trimmed().isEmpty()) {
        StatusBar1->showMessage(QStringLiteral("No device selected."));
        return;
    }
    Form2->exec();
}
