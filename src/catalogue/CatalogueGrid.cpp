#include "CatalogueGrid.h"

const CatalogueGrid::Row CatalogueGrid::kHeaders = {
    QStringLiteral("Level"), QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Date"),
    QStringLiteral("Type"), QStringLiteral("[File Full Path]"), QStringLiteral("[File Size]")};

CatalogueGrid::CatalogueGrid(QObject *parent) : QAbstractTableModel(parent) {}

void CatalogueGrid::SetRowCount(int count)
{
    const int dataRows = qMax(0, count - 1);
    if (dataRows == int(rows_.size()))
        return;
    beginResetModel();
    rows_.resize(size_t(dataRows));
    endResetModel();
}

QString CatalogueGrid::Cell(int column, int row) const
{
    if (column < 0 || column >= kCellCount || row < 0 || row >= RowCount())
        return QString();
    return row == 0 ? header_[size_t(column)] : rows_[size_t(row - 1)][size_t(column)];
}

void CatalogueGrid::SetCell(int column, int row, const QString &text)
{
    if (column < 0 || column >= kCellCount || row < 0 || row >= RowCount())
        return;
    if (row == 0) {
        header_[size_t(column)] = text;
        if (column < kColumnCount)
            emit headerDataChanged(Qt::Horizontal, column, column);
        return;
    }
    rows_[size_t(row - 1)][size_t(column)] = text;
    if (column < kColumnCount)
        emit dataChanged(index(row - 1, column), index(row - 1, column));
}

void CatalogueGrid::AppendRow(const Row &row)
{
    if (rows_.empty()) {
        beginInsertRows(QModelIndex(), 0, 0);
        rows_.emplace_back();
        endInsertRows();
    }
    const int last = int(rows_.size()) - 1;
    rows_.back() = row;
    emit dataChanged(index(last, 0), index(last, kColumnCount - 1));
    beginInsertRows(QModelIndex(), last + 1, last + 1);
    rows_.emplace_back();
    endInsertRows();
}

int CatalogueGrid::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int CatalogueGrid::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CatalogueGrid::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return QVariant();
    return rows_[size_t(index.row())][size_t(index.column())];
}

QVariant CatalogueGrid::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount)
        return QVariant();
    return header_[size_t(section)];
}
