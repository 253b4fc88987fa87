#include "Unit2.h"

#include "catalogue/CatalogueGrid.h"
#include "catalogue/PathRules.h"
#include "log/LogSink.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

bool IsLocalFolderStorage(const QString &name)
{
    return name.startsWith(QLatin1Char('/')) && QFileInfo(name).isDir();
}

namespace {

constexpr int kComponentRole = Qt::UserRole + 1;

// A node's part of a device path: its name with any "\\" made "/" (see
// DevicePathComponent), or "\\" for the top node of a drive device.
QString NodeComponent(const QTreeWidgetItem *node)
{
    const QVariant component = node->data(0, kComponentRole);
    if (component.isValid())
        return component.toString();
    return node->text(0) == QLatin1String("\\") ? node->text(0) : DevicePathComponent(node->text(0));
}

// Alphabetical in the user's locale; letter case decides only between names
// that are otherwise equal.
bool NodeLess(const QTreeWidgetItem *a, const QTreeWidgetItem *b)
{
    const QString x = a->text(0), y = b->text(0);
    const int folded = QString::localeAwareCompare(x.toLower(), y.toLower());
    if (folded != 0)
        return folded < 0;
    return QString::localeAwareCompare(x, y) < 0;
}

void SortChildren(QTreeWidgetItem *parent)
{
    QList<QTreeWidgetItem *> children = parent->takeChildren();
    std::stable_sort(children.begin(), children.end(), NodeLess);
    parent->addChildren(children);
    for (QTreeWidgetItem *child : children)
        SortChildren(child);
}

}  // namespace

TForm2::TForm2(CatalogueGrid &grid, QLineEdit &rootField, LogSink &log, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      grid_(grid), rootField_(rootField), log_(log)
{
    setWindowTitle(QStringLiteral("Device Root Path"));
    setProperty("HelpContext", 110);
    TreeView1 = new QTreeWidget(this);
    TreeView1->setHeaderHidden(true);
    TreeView1->setIndentation(19);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView1->setExpandsOnDoubleClick(false);
    SelecTButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), QStringLiteral("Select"), this);
    CancelBitBtn =
        new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancel"), this);
    SelecTButton->setAutoDefault(false);
    CancelBitBtn->setAutoDefault(false);
    connect(TreeView1, &QTreeWidget::itemDoubleClicked, this, &TForm2::SelectRootNode);
    connect(SelecTButton, &QPushButton::clicked, this, &TForm2::SelectRootNode);
    connect(CancelBitBtn, &QPushButton::clicked, this, &TForm2::CancelClick);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(TreeView1, 1);
    auto *buttons = new QVBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SelecTButton);
    buttons->addWidget(CancelBitBtn);
    layout->addLayout(buttons);
    setFixedSize(447, 301);
}

void TForm2::showEvent(QShowEvent *event)
{
    BuildTree();
    QDialog::showEvent(event);
}

bool TForm2::IsDriveDevice() const
{
    return grid_.RowCount() > 1 && grid_.CellRef(CatalogueGrid::TypeColumn, 1) == QLatin1String("STORAGE") &&
           IsLocalFolderStorage(grid_.CellRef(CatalogueGrid::NameColumn, 1));
}

void TForm2::BuildTree()
{
    TreeView1->setUpdatesEnabled(false);
    TreeView1->clear();
    QTreeWidgetItem *current = nullptr;
    int currentLevel = 0;
    for (int row = 1; row < grid_.RowCount(); ++row) {
        const QString &type = grid_.CellRef(CatalogueGrid::TypeColumn, row);
        if (type != QLatin1String("FOLDER") && type != QLatin1String("STORAGE"))
            continue;
        const int level = grid_.CellRef(CatalogueGrid::LevelColumn, row).toInt();
        QString text = grid_.CellRef(CatalogueGrid::NameColumn, row);
        // The node shows the name; its path component is the name as the
        // walk's device paths hold it.
        QString component = DevicePathComponent(text);
        if (type == QLatin1String("STORAGE") && IsLocalFolderStorage(text))
            text = component = QStringLiteral("\\");
        log_.WriteDebug(QStringLiteral("Level=%1 Value=%2").arg(level).arg(text));
        if (!current || level <= 0) {
            current = new QTreeWidgetItem(TreeView1, QStringList{text});
            currentLevel = 0;
        } else if (level == currentLevel) {
            QTreeWidgetItem *parent = current->parent();
            current = parent ? new QTreeWidgetItem(parent, QStringList{text})
                             : new QTreeWidgetItem(TreeView1, QStringList{text});
        } else {
            while (level <= currentLevel && current->parent()) {
                current = current->parent();
                --currentLevel;
            }
            current = new QTreeWidgetItem(current, QStringList{text});
            ++currentLevel;
        }
        current->setData(0, kComponentRole, component);
    }
    QList<QTreeWidgetItem *> tops;
    while (TreeView1->topLevelItemCount() > 0)
        tops << TreeView1->takeTopLevelItem(0);
    std::stable_sort(tops.begin(), tops.end(), NodeLess);
    TreeView1->addTopLevelItems(tops);
    for (QTreeWidgetItem *top : tops)
        SortChildren(top);

    QString root = rootField_.text();
    if (!IsDriveDevice() && root.startsWith(QLatin1Char('\\')))
        root.remove(0, 1);
    if (QTreeWidgetItem *node = FindNodeByPath(root)) {
        TreeView1->collapseAll();
        TreeView1->setCurrentItem(node);
        for (QTreeWidgetItem *up = node->parent(); up; up = up->parent())
            up->setExpanded(true);
        TreeView1->scrollToItem(node);
    }
    TreeView1->setUpdatesEnabled(true);
    TreeView1->setFocus();
}

QTreeWidgetItem *TForm2::FindNodeByPath(QString Path) const
{
    const bool drive = IsDriveDevice();
    QTreeWidgetItem *node = TreeView1->topLevelItem(0);
    while (!Path.isEmpty() && node) {
        QString component;
        if (drive && Path.startsWith(QLatin1Char('\\'))) {
            component = QStringLiteral("\\");
            Path.remove(0, 1);
        } else {
            const qsizetype slash = Path.indexOf(QLatin1Char('\\'));
            if (slash < 0) {
                component = Path;
                Path.clear();
            } else {
                component = Path.left(slash);
                Path.remove(0, slash + 1);
            }
        }
        // From node on, along its following siblings.
        QTreeWidgetItem *parent = node->parent();
        int index = parent ? parent->indexOfChild(node) : TreeView1->indexOfTopLevelItem(node);
        const int count = parent ? parent->childCount() : TreeView1->topLevelItemCount();
        QTreeWidgetItem *found = nullptr;
        for (; index < count; ++index) {
            QTreeWidgetItem *candidate = parent ? parent->child(index) : TreeView1->topLevelItem(index);
            if (NodeComponent(candidate) == component) {
                found = candidate;
                break;
            }
        }
        node = found;
        if (node && !Path.isEmpty())
            node = node->child(0);
        else
            break;
    }
    return node;
}

QString TForm2::GetNodePath(const QTreeWidgetItem *node)
{
    QString path;
    for (; node; node = node->parent())
        path = NodeComponent(node) + QLatin1Char('\\') + path;
    return path;
}

void TForm2::SelectRootNode()
{
    if (TreeView1->topLevelItemCount() == 0)
        return;
    QTreeWidgetItem *node = TreeView1->currentItem();
    if (!node || !node->isSelected())
        return;  // nothing chosen: the dialog stays open
    QString path = GetNodePath(node);
    if (path.endsWith(QLatin1Char('\\')))
        path.chop(1);
    path = CollapseBackslashes(QLatin1Char('\\') + path);
    rootField_.setText(path);
    accept();
}

void TForm2::CancelClick()
{
    reject();
}
