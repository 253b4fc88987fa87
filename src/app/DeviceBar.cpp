#include "DeviceBar.h"

#include "app/WindowControls.h"
#include "session/ImportSession.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QScopeGuard>
#include <QScreen>

namespace {

constexpr int kDeviceHelpContext = 80;

// A message box sizes itself by its short main text, so a longer informative
// text wraps over several lines in a narrow box. Give it room for that text on
// one line, up to half the screen.
void WidenForInformativeText(QMessageBox &box)
{
    auto *grid = qobject_cast<QGridLayout *>(box.layout());
    auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
    const QScreen *screen = box.screen() ? box.screen() : QGuiApplication::primaryScreen();
    const int at = grid && label ? grid->indexOf(label) : -1;
    if (at < 0 || !screen)
        return;
    int row = 0, column = 0, rows = 0, columns = 0;
    grid->getItemPosition(at, &row, &column, &rows, &columns);
    const QFontMetrics metrics = label->fontMetrics();
    // A few characters to spare for the label's own margins and indent.
    const int width = qMin(metrics.horizontalAdvance(box.informativeText()) + 6 * metrics.averageCharWidth(),
                           screen->availableGeometry().width() / 2);
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), column, 1,
                  columns);
}

}  // namespace

DeviceBar::DeviceBar(ImportSession &session, QWidget *parent)
    : QObject(parent), session_(session), window_(parent->window())
{
    Label1 = new QLabel(QStringLiteral("Source Device (Camera):"), parent);
    DeviceComboBox = new QComboBox(parent);
    DeviceComboBox->setEditable(false);
    DeviceComboBox->setMinimumWidth(200);
    SetHint(DeviceComboBox, QStringLiteral("Select the device."), kDeviceHelpContext);
    Label1->setBuddy(DeviceComboBox);
    DeviceComboBox->setAccessibleName(Label1->text());

    DeviceConnectSpeedButton = Button(parent, QStringLiteral("Connect"), 57);
    SetHint(DeviceConnectSpeedButton, QStringLiteral("Reconnect and display contents of selected device."),
            kDeviceHelpContext);
    ScanPortableDevicesButton = IconButton(parent, QStyle::SP_BrowserReload);
    SetHint(ScanPortableDevicesButton, QStringLiteral("Refresh portable device list."), kDeviceHelpContext);
    DeleteDeviceButton = IconButton(parent, QStyle::SP_TrashIcon);
    SetHint(DeleteDeviceButton, QStringLiteral("Delete the device from the list."), kDeviceHelpContext);
    AddFolderButton = Button(parent, QStringLiteral("Add Folder\u2026"), 57);
    SetHint(AddFolderButton,
            QStringLiteral("Add a folder as a device, such as a card reader's folder or a copy of a card."),
            kDeviceHelpContext);
    for (QToolButton *button : {ScanPortableDevicesButton, DeleteDeviceButton})
        button->setAccessibleName(button->statusTip());

    connect(ScanPortableDevicesButton, &QToolButton::clicked, this, [this] { session_.ScanDevices(); });
    connect(DeleteDeviceButton, &QToolButton::clicked, this, &DeviceBar::DeleteDevice);
    connect(AddFolderButton, &QPushButton::clicked, this, &DeviceBar::AddFolder);
    connect(DeviceComboBox, &QComboBox::activated, this, [this] {
        Choose();
        Connect();
    });
    connect(&session_, &ImportSession::deviceListChanged, this, &DeviceBar::ShowList);
}

void DeviceBar::ShowList()
{
    const QStringList &entries = session_.DeviceList();
    QStringList shown;
    for (int i = 0; i < DeviceComboBox->count(); ++i)
        shown << DeviceComboBox->itemText(i);
    if (shown != entries) {
        // Released on every way out.
        DeviceComboBox->setUpdatesEnabled(false);
        const auto releaseUpdates = qScopeGuard([this] { DeviceComboBox->setUpdatesEnabled(true); });
        DeviceComboBox->clear();
        DeviceComboBox->addItems(entries);
    }
    // Remembered devices that are not attached stay listed, marked: dimmed,
    // with a sign and a tip that say so.
    for (int i = 0; i < DeviceComboBox->count(); ++i) {
        const bool attached = session_.EntryAttached(DeviceComboBox->itemText(i));
        const QVariant mark = attached ? QVariant() : QVariant(QStringLiteral("Not connected"));
        DeviceComboBox->setItemData(i, attached ? QVariant() : QVariant(NotConnectedIcon()), Qt::DecorationRole);
        DeviceComboBox->setItemData(i, mark, Qt::ToolTipRole);
        DeviceComboBox->setItemData(i, mark, Qt::AccessibleDescriptionRole);
        DeviceComboBox->setItemData(
            i, attached ? QVariant() : QVariant(DeviceComboBox->palette().brush(QPalette::Disabled, QPalette::Text)),
            Qt::ForegroundRole);
    }
    DeviceComboBox->setCurrentIndex(
        DeviceComboBox->findText(session_.ChosenEntry(), Qt::MatchExactly | Qt::MatchCaseSensitive));
}

QIcon DeviceBar::NotConnectedIcon() const
{
    // A ring struck through, in the list's dimmed text colour.
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(DeviceComboBox->palette().color(QPalette::Disabled, QPalette::Text), 1.6));
    painter.drawEllipse(QRectF(2.5, 2.5, 11, 11));
    painter.drawLine(QPointF(4.5, 11.5), QPointF(11.5, 4.5));
    return QIcon(pixmap);
}

void DeviceBar::Choose()
{
    session_.ChooseDevice(DeviceComboBox->currentText());
}

void DeviceBar::Connect()
{
    session_.ConnectDevice();
}

void DeviceBar::DeleteDevice()
{
    const QString name = DeviceComboBox->currentText();
    if (name.trimmed().isEmpty())
        return;
    QApplication::beep();
    QMessageBox question(QMessageBox::Question, QStringLiteral("Ferrovane"), QStringLiteral("Delete Device?"),
                         QMessageBox::Yes | QMessageBox::No, window_);
    question.setInformativeText(QStringLiteral("Do you want to delete the device \"%1\" from the list?").arg(name));
    question.setDefaultButton(QMessageBox::No);
    WidenForInformativeText(question);
    if (question.exec() == QMessageBox::No)
        return;
    session_.ForgetDevice(name);
}

void DeviceBar::AddFolder()
{
    // Non-native, like the destination's: the same dialog on every desktop.
    const QString folder =
        QFileDialog::getExistingDirectory(window_, QStringLiteral("Add Folder as Device"), QDir::homePath(),
                                          QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (!folder.isEmpty())
        session_.AddFolderDevice(folder);
}

void DeviceBar::SetIdle(bool idle)
{
    for (QWidget *control : {static_cast<QWidget *>(DeviceComboBox), static_cast<QWidget *>(ScanPortableDevicesButton),
                             static_cast<QWidget *>(DeleteDeviceButton),
                             static_cast<QWidget *>(DeviceConnectSpeedButton), static_cast<QWidget *>(AddFolderButton)})
        control->setEnabled(idle);
}
