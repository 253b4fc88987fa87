#pragma once

#include "copy/GridOperations.h"

#include <QObject>

#include <functional>
#include <vector>

class ImportSession;
class LabeledEdit;
class QAction;
class QMenu;
class QPushButton;
class QStatusBar;
class QWidget;
class TStringGrid;

// The main window's catalogue: the grid of the session's shown rows, the
// search field, the popup menu's Open, Copy and Delete, and the grid
// following the file a run has in hand.
class CatalogueView : public QObject
{
    Q_OBJECT
public:
    CatalogueView(ImportSession &session, QWidget *parent, QStatusBar *&statusBar, std::function<void()> beep);

    TStringGrid *StringGrid1;
    QMenu *PopupMenu1;
    QAction *Open1;
    QAction *Copy1;
    QAction *Delete1;
    LabeledEdit *SearchLabeledEdit;
    QPushButton *SearchBitBtn;
    // Where the next search starts.
    int SearchRow = 0;

    void SearchDeviceContents();
    void GridCopyFile();
    void GridDeleteFile();
    void OpenFile();
    // Fits the Name column to the grid.
    void AutoSizeGrid();
    void SetIdle(bool idle);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool RefuseWhileBusy();
    GridRow GridRowAt(int row) const;
    std::vector<GridRow> SelectedGridRows() const;

    ImportSession &session_;
    QStatusBar *&statusBar_;
    std::function<void()> beep_;
};
