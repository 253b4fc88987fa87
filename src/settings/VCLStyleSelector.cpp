#include "VCLStyleSelector.h"

#include "settings/ProgramSettings.h"
#include "settings/SettingsStore.h"
#include "settings/Style.h"
#include "settings/StyleList.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QStyleOptionMenuItem>
#include <QStyleOptionToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kPreviewWidth = 350;
constexpr int kPreviewHeight = 220;
constexpr int kCaptionHeight = 22;
constexpr int kMenuHeight = 20;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

}  // namespace

StylePreview::StylePreview(QWidget *parent) : QWidget(parent), style_(QStyleFactory::create(QStringLiteral("Fusion")))
{
    setMinimumSize(kPreviewWidth, kPreviewHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

StylePreview::~StylePreview()
{
    delete style_;
}

QSize StylePreview::sizeHint() const
{
    return {kPreviewWidth, kPreviewHeight};
}

void StylePreview::SetStyleName(const QString &name)
{
    name_ = name;
    palette_ = StylePalette(name);
    update();
}

void StylePreview::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect frame = rect();
    painter.fillRect(frame, palette_.color(QPalette::Window));
    if (name_.isEmpty())
        return;

    // Frame and caption bar.
    painter.setPen(palette_.color(QPalette::Shadow));
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
    const QRect caption(1, 1, frame.width() - 2, kCaptionHeight);
    painter.fillRect(caption, palette_.color(QPalette::Highlight));
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(palette_.color(QPalette::HighlightedText));
    painter.drawText(caption.adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft, name_);
    painter.setFont(font());

    // Menu bar.
    const int menuTop = caption.bottom() + 1;
    const QRect menuBar(1, menuTop, frame.width() - 2, kMenuHeight);
    QStyleOptionMenuItem bar;
    bar.initFrom(this);
    bar.palette = palette_;
    bar.rect = menuBar;
    bar.menuItemType = QStyleOptionMenuItem::EmptyArea;
    style_->drawControl(QStyle::CE_MenuBarEmptyArea, &bar, &painter, this);
    const std::pair<int, const char *> items[] = {{10, "File"}, {40, "Edit"}, {70, "View"}, {110, "Help"}};
    for (const auto &[x, text] : items) {
        QStyleOptionMenuItem item;
        item.initFrom(this);
        item.palette = palette_;
        item.state = QStyle::State_Enabled;
        item.menuItemType = QStyleOptionMenuItem::Normal;
        item.text = QString::fromLatin1(text);
        item.rect = QRect(menuBar.left() + x, menuTop, fontMetrics().horizontalAdvance(item.text) + 8, kMenuHeight);
        style_->drawControl(QStyle::CE_MenuBarItem, &item, &painter, this);
    }

    // Tool buttons, 30 pixels below the menu bar's top.
    for (int i = 0; i < 3; ++i) {
        QStyleOptionToolButton tool;
        tool.initFrom(this);
        tool.palette = palette_;
        tool.state = QStyle::State_Enabled | QStyle::State_Raised;
        tool.subControls = QStyle::SC_ToolButton;
        tool.toolButtonStyle = Qt::ToolButtonTextOnly;
        tool.text = QStringLiteral("ToolButton%1").arg(i + 1);
        tool.rect = QRect(menuBar.left() + 10 + i * 76, menuTop + 30, kButtonWidth, kButtonHeight);
        style_->drawComplexControl(QStyle::CC_ToolButton, &tool, &painter, this);
    }

    // Push buttons in their four states, 45 pixels above the bottom edge.
    const std::pair<const char *, QStyle::State> states[] = {
        {"Normal", QStyle::State_Enabled | QStyle::State_Raised},
        {"Hot", QStyle::State_Enabled | QStyle::State_Raised | QStyle::State_MouseOver},
        {"Pressed", QStyle::State_Enabled | QStyle::State_Sunken},
        {"Disabled", QStyle::State_Raised},
    };
    int x = 10;
    for (const auto &[text, state] : states) {
        QStyleOptionButton button;
        button.initFrom(this);
        button.palette = palette_;
        button.state = state;
        button.text = QString::fromLatin1(text);
        button.rect = QRect(x, frame.bottom() - 45, kButtonWidth, kButtonHeight);
        if (!(state & QStyle::State_Enabled))
            button.palette.setCurrentColorGroup(QPalette::Disabled);
        style_->drawControl(QStyle::CE_PushButton, &button, &painter, this);
        x += 80;
    }
}

TVCLStyleSelectorForm::TVCLStyleSelectorForm(SettingsStore &settings, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      settings_(settings)
{
    setWindowTitle(QStringLiteral("Style Selector"));
    setModal(true);
    setProperty("HelpContext", 120);

    Label1 = new QLabel(QStringLiteral("Double-click to apply the style."), this);
    StyleListBox1 = new QListWidget(this);
    StyleListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    StyleListBox1->setSortingEnabled(true);
    StyleListBox1->setMinimumWidth(170);
    StyleListBox1->installEventFilter(this);
    Label1->setBuddy(StyleListBox1);
    Panel1 = new QFrame(this);
    Panel1->setFrameShape(QFrame::StyledPanel);
    // Hidden for the desktop's look without the window jumping in size.
    QSizePolicy keepPlace = Panel1->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    Panel1->setSizePolicy(keepPlace);
    Preview = new StylePreview(Panel1);
    auto *panelLayout = new QVBoxLayout(Panel1);
    panelLayout->setContentsMargins(2, 2, 2, 2);
    panelLayout->addWidget(Preview);
    CloseButton = new QPushButton(QStringLiteral("Close"), this);
    CloseButton->setAutoDefault(false);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    auto *row = new QHBoxLayout;
    row->addWidget(StyleListBox1);
    row->addWidget(Panel1, 0, Qt::AlignTop);
    layout->addLayout(row);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(CloseButton);
    layout->addLayout(buttons);

    connect(StyleListBox1, &QListWidget::itemSelectionChanged, this, &TVCLStyleSelectorForm::StyleListBox1Click);
    connect(StyleListBox1, &QListWidget::itemDoubleClicked, this, &TVCLStyleSelectorForm::StyleListBox1DblClick);
    connect(CloseButton, &QPushButton::clicked, this, &TVCLStyleSelectorForm::CloseButtonClick);

    BuildStyleList();
    // Until an entry is clicked the preview is empty, but holds its place.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TVCLStyleSelectorForm::BuildStyleList()
{
    building_ = true;
    StyleListBox1->clear();
    for (const QString &name : StyleNames())
        StyleListBox1->addItem(name);
    const QList<QListWidgetItem *> chosen =
        StyleListBox1->findItems(ChosenStyleName, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (!chosen.isEmpty())
        StyleListBox1->setCurrentItem(chosen.first());
    building_ = false;
}

void TVCLStyleSelectorForm::StyleListBox1Click()
{
    if (building_)
        return;
    QListWidgetItem *item = StyleListBox1->currentItem();
    if (!item || !item->isSelected())
        return;
    if (item->text() == kSystemStyleName) {
        Panel1->setVisible(false);
        return;
    }
    Panel1->setVisible(true);
    Preview->SetStyleName(item->text());
}

void TVCLStyleSelectorForm::StyleListBox1DblClick()
{
    QListWidgetItem *item = StyleListBox1->currentItem();
    if (!item || !item->isSelected())
        return;
    ChosenStyleName = item->text();
    ProgramSettings style;
    style.StyleName = ChosenStyleName;
    settings_.WriteProgram(style, ProgramKeys::Style);
    QMessageBox box(QMessageBox::Information, QApplication::applicationDisplayName(), QStringLiteral("Style Changed:"),
                    QMessageBox::Ok, this);
    box.setInformativeText(QStringLiteral("The style has been changed to ") + ChosenStyleName +
                           QStringLiteral("\nPlease restart the application for the change to take effect."));
    box.exec();
    accept();
}

void TVCLStyleSelectorForm::CloseButtonClick()
{
    reject();
}

bool TVCLStyleSelectorForm::event(QEvent *event)
{
    // The list takes the keyboard whenever the selector becomes active.
    if (event->type() == QEvent::WindowActivate)
        StyleListBox1->setFocus();
    return QDialog::event(event);
}

bool TVCLStyleSelectorForm::eventFilter(QObject *watched, QEvent *event)
{
    // Enter on the list does what a double-click does, for the keyboard.
    if (watched == StyleListBox1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            StyleListBox1DblClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
