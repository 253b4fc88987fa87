#pragma once

#include "catalogue/CatalogueGrid.h"

#include <QStyledItemDelegate>
#include <QTableView>

// Paints storage rows aqua and folder rows silver in every cell, selected or
// not, with black text.
class CatalogueDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

// The catalogue grid of the main window: a view of a CatalogueGrid whose
// grid row r is the model's row r - 1 (row 0 is the header).
class TStringGrid : public QTableView
{
    Q_OBJECT
public:
    explicit TStringGrid(QWidget *parent = nullptr);
    // A view of cells kept elsewhere (they must outlive the view).
    TStringGrid(CatalogueGrid *cells, QWidget *parent);
    CatalogueGrid *Cells() const { return cells_; }

    // The grid's current row, as a grid row (0 when none).
    int Row() const;
    // Makes grid row r current and selected, scrolled into view.
    void SetRow(int row);
    // Widens the Size column to its widest text (sizes of many gigabytes run
    // past the design width); never narrows it.
    void FitSizeColumn();
    static constexpr int kCellPadding = 12;

private:
    CatalogueGrid *cells_;
};
