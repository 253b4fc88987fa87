#include "StringGrid.h"

#include <QHeaderView>
#include <QPainter>

namespace {

// The fills of storage and folder rows.
constexpr QRgb kGridAqua = 0xFF00FFFF;
constexpr QRgb kGridSilver = 0xFFC0C0C0;

}  // namespace

void CatalogueDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QString type = index.siblingAtColumn(CatalogueGrid::TypeColumn).data().toString();
    QColor fill;
    if (type == QLatin1String("STORAGE"))
        fill = QColor::fromRgb(kGridAqua);
    else if (type == QLatin1String("FOLDER"))
        fill = QColor::fromRgb(kGridSilver);
    if (!fill.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    painter->save();
    painter->fillRect(option.rect, fill);
    painter->setPen(Qt::black);
    painter->setFont(option.font);
    const QRect text = option.rect.adjusted(2, 2, -2, 0);
    painter->drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                      option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, text.width()));
    painter->restore();
}

TStringGrid::TStringGrid(QWidget *parent) : TStringGrid(nullptr, parent)
{
}

TStringGrid::TStringGrid(CatalogueGrid *cells, QWidget *parent)
    : QTableView(parent), cells_(cells ? cells : new CatalogueGrid(this))
{
    setModel(cells_);
    setItemDelegate(new CatalogueDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setTabKeyNavigation(false);  // Tab leaves the grid
    setWordWrap(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(qMax(16, fontMetrics().height() + 2));
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
}

int TStringGrid::Row() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() + 1 : 0;
}

void TStringGrid::SetRow(int row)
{
    cells_->FlushRows();
    const QModelIndex target = cells_->index(row - 1, 0);
    if (!target.isValid())
        return;
    setCurrentIndex(target);
    selectionModel()->select(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(target);
}

void TStringGrid::FitSizeColumn()
{
    const int needed = cells_->WidestCell(CatalogueGrid::SizeColumn, font()) + kCellPadding;
    if (columnWidth(CatalogueGrid::SizeColumn) < needed)
        setColumnWidth(CatalogueGrid::SizeColumn, needed);
}
