#include "About.h"

#include "log/ColorRules.h"
#include "log/Exception.h"
#include "log/LogSink.h"
#include "log/ProgramIcon.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QStyle>
#include <QUrl>

namespace {

constexpr int kWidth = 409;
constexpr int kHeight = 247;
constexpr int kTextLeft = 135;

QFont BoldPixels(const QFont &base, int pixels)
{
    QFont font = base;
    font.setBold(true);
    font.setPixelSize(pixels);
    return font;
}

}  // namespace

TAboutForm::TAboutForm(LogSink &log, QString versionText, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      log_(log), versionText_(std::move(versionText))
{
    setWindowTitle(QStringLiteral("About..."));
    setModal(true);

    ProgramIcon = new QLabel(this);
    ProgramIcon->setPixmap(QPixmap::fromImage(ProgramIconImage(128)));
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setGeometry(8, 8, 121, 125);

    TitleLabel = new QLabel(QStringLiteral("Ferrovane"), this);
    TitleLabel->setFont(BoldPixels(font(), 24));
    SubTitleLabel = new QLabel(QStringLiteral("Photo, video and sound copier"), this);
    SubTitleLabel->setFont(BoldPixels(font(), 13));
    CopyrightLabel = new QLabel(this);
    RightsLabel = new QLabel(this);
    // Shown once the box is made, so they never show empty.
    CopyrightLabel->setVisible(false);
    RightsLabel->setVisible(false);
    RightsLabel->installEventFilter(this);
    Version = new QLabel(this);

    URLLabel = new QLabel(this);
    URLLabel->setTextFormat(Qt::RichText);
    URLLabel->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    URLLabel->setCursor(Qt::PointingHandCursor);
    connect(URLLabel, &QLabel::linkActivated, this, &TAboutForm::URLClick);

    CloseButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("Close"), this);
    CloseButton->setAutoDefault(true);
    CloseButton->setDefault(true);
    connect(CloseButton, &QPushButton::clicked, this, &TAboutForm::CloseForm);

    FormCreate();
}

QString TAboutForm::WebAddress()
{
    return QStringLiteral("www.quillmoor.example/ferrovane");
}

void TAboutForm::FormCreate()
{
    Version->setText(versionText_);
    CopyrightLabel->setVisible(true);
    RightsLabel->setVisible(true);
    FormShow();
}

void TAboutForm::showEvent(QShowEvent *event)
{
    FormShow();
    QDialog::showEvent(event);
}

void TAboutForm::FormShow()
{
    CopyrightLabel->setText(QStringLiteral("Copyright \u00A9 2016-2026 Quillmoor"));
    RightsLabel->setText(QStringLiteral("All rights reserved."));
    // Blue, unless the style's background would swallow it.
    QColor link(0x00, 0x00, 0xFF);
    if (ContrastRatio(link, palette().color(QPalette::Window)) < 4.5)
        link = palette().color(QPalette::Link);
    URLLabel->setText(
        QStringLiteral("<a href=\"https://%1\" style=\"color:%2\">%1</a>").arg(WebAddress(), link.name()));

    // The design's places; a desktop font wider than the design's widens
    // the box instead of cutting texts off.
    const std::pair<QLabel *, int> rows[] = {
        {TitleLabel, 8}, {SubTitleLabel, 45}, {CopyrightLabel, 67}, {RightsLabel, 86}, {Version, 113}};
    int width = kWidth;
    for (const auto &[label, top] : rows) {
        label->adjustSize();
        label->move(kTextLeft, top);
        width = qMax(width, kTextLeft + label->width() + 8);
    }
    const int height = qMax(kHeight, Version->geometry().bottom() + 8 + CloseButton->sizeHint().height() + 12);
    setFixedSize(width, height);
    URLLabel->adjustSize();
    URLLabel->move(8, height - 27);
    const QSize button = CloseButton->sizeHint().expandedTo(QSize(75, 25));
    CloseButton->setGeometry(width - 14 - button.width(), height - 7 - button.height(), button.width(),
                             button.height());
}

void TAboutForm::URLClick()
{
    const QUrl url(QStringLiteral("https://") + WebAddress());
    if (!QDesktopServices::openUrl(url))
        log_.WriteLog(QStringLiteral("Unable to open ") + url.toString() + QStringLiteral(": no web browser answered."),
                      LogColor::Red);
}

void TAboutForm::CloseForm()
{
    accept();
}

void TAboutForm::CreateTestException()
{
    throw Exception(QStringLiteral("Test"));
}

bool TAboutForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == RightsLabel && event->type() == QEvent::MouseButtonDblClick)
        CreateTestException();
    return QDialog::eventFilter(watched, event);
}
