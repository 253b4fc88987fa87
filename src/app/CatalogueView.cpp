#include "CatalogueView.h"

#include "app/WindowControls.h"
#include "base/DateFormat.h"
#include "base/FormatSettings.h"
#include "catalogue/StringGrid.h"
#include "session/ImportSession.h"
#include "settings/Controls.h"

#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QStatusBar>

#include <algorithm>

namespace {

// Below this the Name column would vanish when the user has widened the other
// columns past the grid's width.
constexpr int kMinNameColumnWidth = 40;

QString BusyMessage()
{
    return QStringLiteral("Busy: wait until the copy run or listing has ended, or press Stop.");
}

}  // namespace

CatalogueView::CatalogueView(ImportSession &session, QWidget *parent, QStatusBar *&statusBar,
                             std::function<void()> beep)
    : QObject(parent), session_(session), statusBar_(statusBar), beep_(std::move(beep))
{
    SearchLabeledEdit = new LabeledEdit(QStringLiteral("Search:"), parent);
    SetHint(SearchLabeledEdit, QStringLiteral("Search for a file\\folder."), 90);
    SearchLabeledEdit->Edit->setAccessibleName(SearchLabeledEdit->EditLabel->text());
    SearchBitBtn = Button(parent, QStringLiteral("Search"), 75, QStyle::SP_FileDialogContentsView);
    SetHint(SearchBitBtn, QStringLiteral("Search for files."));

    StringGrid1 = new TStringGrid(&session_.ShownRows(), parent);
    SetHint(StringGrid1, QStringLiteral("Double-click to open the file."), 90);
    StringGrid1->setAccessibleName(StringGrid1->statusTip());
    // On a small screen the grid gives up height down to its header and three rows.
    StringGrid1->setMinimumHeight(StringGrid1->horizontalHeader()->sizeHint().height() +
                                  3 * StringGrid1->verticalHeader()->defaultSectionSize() +
                                  2 * StringGrid1->frameWidth());
    // The design widths, widened where the desktop's font needs more for a header.
    const int widths[CatalogueGrid::ObjectIdColumn] = {30, 208, 70, 130, 88};
    const QFontMetrics headerMetrics(StringGrid1->horizontalHeader()->font());
    for (int c = 0; c < CatalogueGrid::ObjectIdColumn; ++c)
        StringGrid1->setColumnWidth(
            c, qMax(widths[c], headerMetrics.horizontalAdvance(CatalogueGrid::kHeaders[size_t(c)]) + 12));
    const QString sampleDate =
        DateTimeToStr(QDateTime(QDate(2016, 12, 28), QTime(23, 58, 58)), ProcessFormatSettings());
    StringGrid1->setColumnWidth(CatalogueGrid::DateColumn,
                                qMax(StringGrid1->columnWidth(CatalogueGrid::DateColumn),
                                     QFontMetrics(StringGrid1->font()).horizontalAdvance(sampleDate) + 12));

    PopupMenu1 = new QMenu(StringGrid1);
    Open1 = new QAction(QStringLiteral("Open"), StringGrid1);
    Open1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    Copy1 = new QAction(QStringLiteral("&Copy"), StringGrid1);
    Copy1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    Copy1->setStatusTip(QStringLiteral("Copy file from device to the Destination Path."));
    Delete1 = new QAction(QStringLiteral("&Delete"), StringGrid1);
    Delete1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    Delete1->setStatusTip(QStringLiteral("Permanently delete file from the device."));
    for (QAction *action : {Open1, Copy1, Delete1}) {
        // The shortcuts work while the grid has the keyboard focus.
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setShortcutVisibleInContextMenu(true);
        StringGrid1->addAction(action);
        PopupMenu1->addAction(action);
    }
    StringGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(StringGrid1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenu1->popup(StringGrid1->viewport()->mapToGlobal(pos)); });

    connect(Open1, &QAction::triggered, this, &CatalogueView::OpenFile);
    connect(Copy1, &QAction::triggered, this, &CatalogueView::GridCopyFile);
    connect(Delete1, &QAction::triggered, this, &CatalogueView::GridDeleteFile);
    connect(StringGrid1, &QAbstractItemView::doubleClicked, this, &CatalogueView::OpenFile);
    connect(SearchBitBtn, &QPushButton::clicked, this, &CatalogueView::SearchDeviceContents);
    connect(SearchLabeledEdit->Edit, &QLineEdit::textChanged, this, [this] { SearchRow = 0; });
    SearchLabeledEdit->Edit->installEventFilter(this);

    CopyRun &engine = session_.Engine();
    connect(&session_, &ImportSession::catalogueComplete, this, &CatalogueView::AutoSizeGrid);
    connect(&engine, &CopyRun::currentFileChanged, this, [this](const QString &objectId) {
        const int row = StringGrid1->Cells()->FindRow(CatalogueGrid::ObjectIdColumn, objectId);
        if (row > 0)
            StringGrid1->SetRow(row);
    });
}

void CatalogueView::SetIdle(bool idle)
{
    SearchBitBtn->setEnabled(idle);
    SearchLabeledEdit->setEnabled(idle);
}

void CatalogueView::SearchDeviceContents()
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
        if (fold(CatalogueGrid::Shown(cells->CellRef(CatalogueGrid::NameColumn, row))).contains(needle)) {
            StringGrid1->SetRow(row);
            SearchRow = row + 1;
            return;
        }
    }
    SearchRow = 0;
    beep_();
}

bool CatalogueView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == SearchLabeledEdit->Edit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            SearchDeviceContents();
            return true;  // the field never sees the Enter
        }
    }
    return QObject::eventFilter(watched, event);
}

void CatalogueView::AutoSizeGrid()
{
    TStringGrid *grid = StringGrid1;
    grid->FitSizeColumn();
    int others = 0;
    for (int c = 0; c < CatalogueGrid::ObjectIdColumn; ++c)
        if (c != CatalogueGrid::NameColumn && !grid->isColumnHidden(c))
            others += grid->columnWidth(c);
    const int available = grid->width() - others;
    const int needed = grid->Cells()->WidestName(grid->font()) + 8;
    grid->setColumnWidth(CatalogueGrid::NameColumn, qMax(kMinNameColumnWidth, needed < available ? needed : available));
}

bool CatalogueView::RefuseWhileBusy()
{
    if (!session_.Busy())
        return false;
    statusBar_->showMessage(BusyMessage());
    return true;
}

GridRow CatalogueView::GridRowAt(int row) const
{
    const CatalogueGrid *cells = StringGrid1->Cells();
    return GridRow{cells->Cell(CatalogueGrid::NameColumn, row), cells->Cell(CatalogueGrid::DateColumn, row),
                   cells->Cell(CatalogueGrid::TypeColumn, row), cells->Cell(CatalogueGrid::ObjectIdColumn, row),
                   cells->Cell(CatalogueGrid::BytesColumn, row)};
}

std::vector<GridRow> CatalogueView::SelectedGridRows() const
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

void CatalogueView::GridCopyFile()
{
    if (StringGrid1->Row() == 0 || RefuseWhileBusy())
        return;
    session_.CopyRows(SelectedGridRows());
}

void CatalogueView::GridDeleteFile()
{
    if (StringGrid1->Row() == 0 || RefuseWhileBusy())
        return;
    session_.DeleteRows(SelectedGridRows());
}

void CatalogueView::OpenFile()
{
    const int current = StringGrid1->Row();
    if (current == 0 || RefuseWhileBusy())
        return;
    session_.OpenRow(GridRowAt(current), int(StringGrid1->selectionModel()->selectedRows().size()));
}
