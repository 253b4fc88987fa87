#include "CatalogueGrid.h"

#include <QFontMetrics>

const CatalogueGrid::Row CatalogueGrid::kHeaders = {
    QStringLiteral("Level"), QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Date"),
    QStringLiteral("Type"), QStringLiteral("[File Full Path]"), QStringLiteral("[File Size]")};

CatalogueGrid::CatalogueGrid(QObject *parent) : QAbstractTableModel(parent) {}

void CatalogueGrid::ForgetWidths(int column)
{
    widths_[size_t(column)].widest = 0;
    widths_[size_t(column)].measured = -1;
}

void CatalogueGrid::ForgetWidths()
{
    for (int column = 0; column < kColumnCount; ++column)
        ForgetWidths(column);
}

void CatalogueGrid::Clear()
{
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    rows_.emplace_back();
    notified_ = 1;
    header_ = kHeaders;
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
    ForgetWidths();
}

QString CatalogueGrid::Cell(int column, int row) const
{
    return CellRef(column, row);
}

const QString &CatalogueGrid::CellRef(int column, int row) const
{
    static const QString empty;
    if (column < 0 || column >= kCellCount || row < 0 || row >= RowCount())
        return empty;
    return row == 0 ? header_[size_t(column)] : rows_[size_t(row - 1)][size_t(column)];
}

void CatalogueGrid::SetCell(int column, int row, const QString &text)
{
    if (column < 0 || column >= kCellCount || row < 0 || row >= RowCount())
        return;
    if (column < kColumnCount)
        ForgetWidths(column);
    if (row == 0) {
        header_[size_t(column)] = text;
        if (column < kColumnCount)
            emit headerDataChanged(Qt::Horizontal, column, column);
        return;
    }
    rows_[size_t(row - 1)][size_t(column)] = text;
    if (column < kColumnCount && row - 1 < notified_)
        emit dataChanged(index(row - 1, column), index(row - 1, column));
}

void CatalogueGrid::AppendRow(const Row &row)
{
    if (rows_.empty())
        rows_.emplace_back();
    const int written = int(rows_.size()) - 1;
    rows_.back() = row;
    for (Widths &w : widths_)
        if (w.measured > written)
            w.measured = written;  // that row was measured while empty
    rows_.emplace_back();
    if (written < notified_)
        emit dataChanged(index(written, 0), index(written, kColumnCount - 1));
    if (!flushQueued_) {
        flushQueued_ = true;
        QMetaObject::invokeMethod(this, &CatalogueGrid::FlushRows, Qt::QueuedConnection);
    }
}

void CatalogueGrid::FlushRows()
{
    flushQueued_ = false;
    const int total = int(rows_.size());
    if (total <= notified_)
        return;
    const int first = notified_;
    beginInsertRows(QModelIndex(), first, total - 1);
    notified_ = total;
    endInsertRows();
    // The row that was the empty last one when the views last looked may hold
    // an object now.
    if (first > 0)
        emit dataChanged(index(first - 1, 0), index(first - 1, kColumnCount - 1));
}

int CatalogueGrid::FindRow(int column, const QString &text) const
{
    if (column < 0 || column >= kCellCount)
        return 0;
    // The empty last row never matches: it holds no object.
    for (size_t i = 0; i + 1 < rows_.size(); ++i)
        if (rows_[i][size_t(column)] == text)
            return int(i) + 1;
    return 0;
}

void CatalogueGrid::RemoveRow(int row)
{
    // The empty last row stays: it is where the next object goes.
    if (row < 1 || row >= RowCount() - 1)
        return;
    const int index = row - 1;
    const bool known = index < notified_;
    if (known)
        beginRemoveRows(QModelIndex(), index, index);
    rows_.erase(rows_.begin() + index);
    if (known) {
        --notified_;
        endRemoveRows();
    }
    ForgetWidths();
}

int CatalogueGrid::WidestCell(int column, const QFont &font)
{
    if (column < 0 || column >= kColumnCount)
        return 0;
    Widths &w = widths_[size_t(column)];
    if (font != w.font) {
        w.font = font;
        ForgetWidths(column);
    }
    const QFontMetrics metrics(font);
    for (int row = w.measured + 1; row < RowCount(); ++row)
        w.widest = qMax(w.widest, metrics.horizontalAdvance(CellRef(column, row)));
    w.measured = RowCount() - 1;
    return w.widest;
}

int CatalogueGrid::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : notified_;
}

int CatalogueGrid::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CatalogueGrid::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= notified_)
        return QVariant();
    return rows_[size_t(index.row())][size_t(index.column())];
}

QVariant CatalogueGrid::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount)
        return QVariant();
    return header_[size_t(section)];
}
