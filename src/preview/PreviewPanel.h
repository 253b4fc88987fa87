#pragma once

// The preview window: a tool window beside the main window showing the
// selected file's picture scaled to fit, and under it what is known of the
// file. Screen readers hear the file's name and facts.

#include "preview/PreviewLoader.h"

#include <QPixmap>
#include <QWidget>

class QLabel;
class QTimer;

// What the catalogue row says of the file.
struct PreviewFile
{
    QString name;  // as the catalogue keeps it (odd bytes escaped when shown)
    QString sizeText;
    QString dateText;
    FileKind kind = FileKind::Other;
};

// The picture, or the icon of the file's kind while there is none.
class PreviewPicture : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewPicture(QWidget *parent = nullptr);
    void SetImage(const QImage &image);
    void SetKind(FileKind kind, bool empty);
    // The picture stays, faded, until the next one comes: no flash of an icon
    // between two photos.
    void SetStale(bool stale);
    // A picture of the file shown now (not one faded out).
    bool ShowsImage() const { return !image_.isNull() && !stale_; }
    const QImage &Image() const { return image_; }
    QSize sizeHint() const override { return QSize(360, 270); }
    QSize minimumSizeHint() const override { return QSize(120, 90); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QImage image_;
    QPixmap fitted_;  // the image scaled to the widget, made once per size
    FileKind kind_ = FileKind::Other;
    bool empty_ = true;
    bool stale_ = false;
};

class PreviewPanel : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewPanel(QWidget *owner);

    // A new file: its facts at once, its kind's icon until a picture comes.
    void ShowFile(const PreviewFile &file);
    // A picture (or none) and the photo's facts for the file shown.
    void ShowPicture(const PreviewResult &result);
    // No file: a folder or storage row, or nothing selected.
    void ShowNothing();
    // A line under the facts, such as why previews wait.
    void SetNote(const QString &note);

    // The picture's room in device pixels: what a fetch scales into.
    QSize PictureBox() const;
    const PreviewPicture *Picture() const { return picture_; }
    QString FactsText() const;

signals:
    // The user closed the window.
    void Closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void UpdateFacts();

    PreviewPicture *picture_;
    QTimer *staleTimer_;
    QLabel *name_;
    QLabel *facts_;
    QLabel *note_;
    PreviewFile file_;
    PhotoFacts photo_;
    bool hasFile_ = false;
};

// Paints the icon of a kind of file into the rectangle.
void PaintKindIcon(QPainter &painter, const QRectF &rect, FileKind kind, const QPalette &palette);
