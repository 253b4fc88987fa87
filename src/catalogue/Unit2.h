#pragma once

#include <QDialog>

class CatalogueGrid;
class LogSink;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The device root picker: a tree of the storages and folders of the last
// listing, from which the device root path is chosen.
class TForm2 : public QDialog
{
    Q_OBJECT
public:
    TForm2(CatalogueGrid &grid, QLineEdit &rootField, LogSink &log, QWidget *parent = nullptr);

    QTreeWidget *TreeView1;
    QPushButton *SelecTButton;
    QPushButton *CancelBitBtn;

    void BuildTree();
    void SelectRootNode();
    void CancelClick();
    bool IsDriveDevice() const;
    QTreeWidgetItem *FindNodeByPath(QString Path) const;
    static QString GetNodePath(const QTreeWidgetItem *node);

protected:
    void showEvent(QShowEvent *event) override;

private:
    CatalogueGrid &grid_;
    QLineEdit &rootField_;
    LogSink &log_;
};

// True when the text is the absolute path of an existing local folder: the
// storage name of a memory card or folder read straight from the disk.
bool IsLocalFolderStorage(const QString &name);
