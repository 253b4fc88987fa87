#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <array>
#include <vector>

// The catalogue: rows of seven text cells (Level, Name, Size, Date, Type,
// object identifier, size in bytes). Addressed like a grid whose row 0 is
// the header: RowCount() counts the header and every data row, the last of
// which is the empty row that the next object is written into. As a Qt
// model it shows the six grid columns of the data rows.
class CatalogueGrid : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int kCellCount = 7;
    static constexpr int kColumnCount = 6;
    using Row = std::array<QString, kCellCount>;
    static const Row kHeaders;

    explicit CatalogueGrid(QObject *parent = nullptr);

    int RowCount() const { return int(rows_.size()) + 1; }
    // Keeps the header; new rows are empty.
    void SetRowCount(int count);
    QString Cell(int column, int row) const;
    void SetCell(int column, int row, const QString &text);
    const Row &Header() const { return header_; }

    // Writes the row into the last row and adds a new empty last row.
    void AppendRow(const Row &row);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    Row header_;
    std::vector<Row> rows_;  // grid rows 1 .. RowCount()-1
};
