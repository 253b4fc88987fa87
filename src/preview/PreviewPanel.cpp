#include "PreviewPanel.h"

#include "base/TextRules.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVBoxLayout>

void PaintKindIcon(QPainter &painter, const QRectF &rect, FileKind kind, const QPalette &palette)
{
    // A page with a folded corner and the kind's sign on it, in the
    // window's own colours, as large as fits with a margin.
    const qreal side = std::min(rect.width(), rect.height()) * 0.55;
    if (side < 8)
        return;
    const QRectF page(rect.center().x() - side * 0.4, rect.center().y() - side * 0.5, side * 0.8, side);
    const qreal fold = side * 0.22;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.moveTo(page.topLeft());
    outline.lineTo(page.right() - fold, page.top());
    outline.lineTo(page.right(), page.top() + fold);
    outline.lineTo(page.bottomRight());
    outline.lineTo(page.bottomLeft());
    outline.closeSubpath();
    const QColor ink = palette.color(QPalette::WindowText);
    QColor faint = ink;
    faint.setAlphaF(0.55);
    painter.setPen(QPen(faint, std::max<qreal>(1.0, side / 48)));
    painter.setBrush(palette.color(QPalette::Base));
    painter.drawPath(outline);
    painter.drawLine(QPointF(page.right() - fold, page.top()), QPointF(page.right() - fold, page.top() + fold));
    painter.drawLine(QPointF(page.right() - fold, page.top() + fold), QPointF(page.right(), page.top() + fold));
    const QPointF c(page.center().x(), page.center().y() + side * 0.06);
    const qreal s = side * 0.22;
    painter.setPen(Qt::NoPen);
    painter.setBrush(faint);
    switch (kind) {
    case FileKind::Picture: {
        QPainterPath hills;
        hills.moveTo(c.x() - s * 1.3, c.y() + s);
        hills.lineTo(c.x() - s * 0.4, c.y() - s * 0.2);
        hills.lineTo(c.x() + s * 0.2, c.y() + s * 0.5);
        hills.lineTo(c.x() + s * 0.6, c.y() + s * 0.1);
        hills.lineTo(c.x() + s * 1.3, c.y() + s);
        hills.closeSubpath();
        painter.drawPath(hills);
        painter.drawEllipse(QPointF(c.x() + s * 0.7, c.y() - s * 0.7), s * 0.3, s * 0.3);
        break;
    }
    case FileKind::Video: {
        painter.drawRoundedRect(QRectF(c.x() - s * 1.2, c.y() - s * 0.8, s * 2.4, s * 1.6), s * 0.2, s * 0.2);
        painter.setBrush(palette.color(QPalette::Base));
        QPolygonF play;
        play << QPointF(c.x() - s * 0.35, c.y() - s * 0.5) << QPointF(c.x() + s * 0.55, c.y())
             << QPointF(c.x() - s * 0.35, c.y() + s * 0.5);
        painter.drawPolygon(play);
        break;
    }
    case FileKind::Sound: {
        painter.drawEllipse(QPointF(c.x() - s * 0.5, c.y() + s * 0.7), s * 0.4, s * 0.3);
        painter.drawEllipse(QPointF(c.x() + s * 0.7, c.y() + s * 0.5), s * 0.4, s * 0.3);
        painter.setPen(QPen(faint, s * 0.16));
        painter.drawLine(QPointF(c.x() - s * 0.14, c.y() + s * 0.7), QPointF(c.x() - s * 0.14, c.y() - s * 0.9));
        painter.drawLine(QPointF(c.x() + s * 1.06, c.y() + s * 0.5), QPointF(c.x() + s * 1.06, c.y() - s * 1.1));
        painter.drawLine(QPointF(c.x() - s * 0.14, c.y() - s * 0.9), QPointF(c.x() + s * 1.06, c.y() - s * 1.1));
        break;
    }
    case FileKind::Other:
        painter.setPen(QPen(faint, s * 0.14));
        for (int i = -1; i <= 1; ++i)
            painter.drawLine(QPointF(c.x() - s, c.y() + i * s * 0.55), QPointF(c.x() + s, c.y() + i * s * 0.55));
        break;
    }
    painter.restore();
}

PreviewPicture::PreviewPicture(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PreviewPicture::SetImage(const QImage &image)
{
    image_ = image;
    stale_ = false;
    fitted_ = QPixmap();
    update();
}

void PreviewPicture::SetKind(FileKind kind, bool empty)
{
    kind_ = kind;
    empty_ = empty;
    update();
}

void PreviewPicture::SetStale(bool stale)
{
    if (stale_ == stale)
        return;
    stale_ = stale;
    update();
}

void PreviewPicture::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitted_ = QPixmap();
}

void PreviewPicture::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (image_.isNull()) {
        if (!empty_)
            PaintKindIcon(painter, rect(), kind_, palette());
        return;
    }
    // Scaled down to fit, never up past twice its size; made once per size.
    const qreal ratio = devicePixelRatioF();
    const QSize room = (QSizeF(size()) * ratio).toSize();
    QSize want = image_.size().scaled(room, Qt::KeepAspectRatio);
    if (want.width() > image_.width() * 2)
        want = image_.size() * 2;
    if (fitted_.isNull() || fitted_.size() != want) {
        fitted_ = QPixmap::fromImage(
            want == image_.size() ? image_ : image_.scaled(want, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        fitted_.setDevicePixelRatio(ratio);
    }
    if (stale_)
        painter.setOpacity(0.3);
    const QSizeF shown = QSizeF(fitted_.size()) / ratio;
    painter.drawPixmap(QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2), fitted_);
}

PreviewPanel::PreviewPanel(QWidget *owner) : QWidget(owner, Qt::Tool)
{
    setWindowTitle(QStringLiteral("Preview"));
    setObjectName(QStringLiteral("PreviewPanel"));
    picture_ = new PreviewPicture(this);
    name_ = new QLabel(this);
    name_->setTextFormat(Qt::PlainText);
    name_->setWordWrap(true);
    name_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = name_->font();
    bold.setBold(true);
    name_->setFont(bold);
    facts_ = new QLabel(this);
    facts_->setTextFormat(Qt::PlainText);
    facts_->setWordWrap(true);
    facts_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    facts_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    note_ = new QLabel(this);
    note_->setTextFormat(Qt::PlainText);
    note_->setWordWrap(true);
    note_->hide();
    // A picture that takes longer than this gives way to the file's icon.
    staleTimer_ = new QTimer(this);
    staleTimer_->setSingleShot(true);
    staleTimer_->setInterval(150);
    connect(staleTimer_, &QTimer::timeout, this, [this] { picture_->SetImage(QImage()); });
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addWidget(picture_, 1);
    layout->addWidget(name_);
    layout->addWidget(facts_);
    layout->addWidget(note_);
    resize(380, 460);
    ShowNothing();
}

void PreviewPanel::ShowFile(const PreviewFile &file)
{
    file_ = file;
    photo_ = PhotoFacts();
    hasFile_ = true;
    picture_->SetKind(file.kind, false);
    if (file.kind == FileKind::Picture && !picture_->Image().isNull()) {
        picture_->SetStale(true);
        staleTimer_->start();
    } else {
        staleTimer_->stop();
        picture_->SetImage(QImage());
    }
    UpdateFacts();
}

void PreviewPanel::ShowPicture(const PreviewResult &result)
{
    staleTimer_->stop();
    picture_->SetImage(result.image);
    photo_ = result.facts;
    UpdateFacts();
}

void PreviewPanel::ShowNothing()
{
    hasFile_ = false;
    file_ = PreviewFile();
    photo_ = PhotoFacts();
    staleTimer_->stop();
    picture_->SetImage(QImage());
    picture_->SetKind(FileKind::Other, true);
    UpdateFacts();
}

void PreviewPanel::SetNote(const QString &note)
{
    note_->setText(note);
    note_->setVisible(!note.isEmpty());
}

QSize PreviewPanel::PictureBox() const
{
    const QSize room = (QSizeF(picture_->size()) * picture_->devicePixelRatioF()).toSize();
    return room.expandedTo(QSize(160, 120));
}

QString PreviewPanel::FactsText() const
{
    return name_->text() + QLatin1Char('\n') + facts_->text();
}

void PreviewPanel::UpdateFacts()
{
    if (!hasFile_) {
        name_->setText(QStringLiteral("No file selected."));
        facts_->clear();
        picture_->setAccessibleName(QStringLiteral("Preview"));
        picture_->setAccessibleDescription(QStringLiteral("No file selected."));
        return;
    }
    const QString name = readableText(file_.name);
    name_->setText(name);
    QStringList lines;
    QStringList said;
    const QString sizeDate = QStringList{file_.sizeText, file_.dateText}.join(QStringLiteral("   ")).trimmed();
    if (!sizeDate.isEmpty()) {
        lines << sizeDate;
        said << file_.sizeText << file_.dateText;
    }
    if (!photo_.camera.isEmpty()) {
        lines << photo_.camera;
        said << photo_.camera;
    }
    if (!photo_.lens.isEmpty()) {
        lines << photo_.lens;
        said << QStringLiteral("lens ") + photo_.lens;
    }
    if (!photo_.exposure.isEmpty()) {
        lines << photo_.exposure;
        said << photo_.exposure;
    }
    if (!photo_.captured.isEmpty()) {
        lines << QStringLiteral("Taken ") + photo_.captured;
        said << QStringLiteral("taken ") + photo_.captured;
    }
    said.removeAll(QString());
    facts_->setText(lines.join(QLatin1Char('\n')));
    picture_->setAccessibleName(name);
    picture_->setAccessibleDescription(said.join(QStringLiteral(", ")));
}

void PreviewPanel::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    emit Closed();
}
