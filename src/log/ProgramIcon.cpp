#include "ProgramIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

QImage ProgramIconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    p.setPen(Qt::NoPen);

    QLinearGradient back(0, 16, 0, 240);
    back.setColorAt(0, QColor(0x2A, 0x7F, 0x9E));
    back.setColorAt(1, QColor(0x15, 0x50, 0x6A));
    p.setBrush(back);
    p.drawRoundedRect(QRectF(16, 16, 224, 224), 40, 40);

    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(52, 40, 152, 112), 10, 10);
    p.setBrush(QColor(0xBF, 0xE3, 0xF0));
    p.drawRect(QRectF(62, 50, 132, 92));
    p.setBrush(QColor(0xF2, 0xB5, 0x3A));
    p.drawEllipse(QPointF(170, 74), 12, 12);
    p.setBrush(QColor(0x3C, 0x8D, 0x5A));
    const QPointF hills[] = {{62, 142}, {100, 92}, {128, 124}, {150, 102}, {194, 142}};
    p.drawPolygon(hills, 5);

    p.setBrush(QColor(0xF2, 0xB5, 0x3A));
    p.drawRect(QRectF(116, 158, 24, 28));
    const QPointF head[] = {{96, 184}, {160, 184}, {128, 214}};
    p.drawPolygon(head, 3);

    QPen tray(Qt::white, 10, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(tray);
    p.setBrush(Qt::NoBrush);
    const QPointF trayPoints[] = {{60, 194}, {60, 222}, {196, 222}, {196, 194}};
    p.drawPolyline(trayPoints, 4);
    return image;
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(ProgramIconImage(size)));
    return icon;
}
