#include "gui/main/Pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace dm {

namespace {

QPixmap IconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, size);
    fill.setColorAt(0, QColor(40, 110, 210));
    fill.setColorAt(1, QColor(10, 60, 150));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    const qreal m = size / 16.0;
    p.drawRoundedRect(QRectF(m, m, size - 2 * m, size - 2 * m), size / 5.0, size / 5.0);
    // Two arrows chasing each other: synchronisation.
    QPen pen(Qt::white, size / 9.0, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF ring(size * 0.27, size * 0.27, size * 0.46, size * 0.46);
    p.drawArc(ring, 30 * 16, 120 * 16);
    p.drawArc(ring, 210 * 16, 120 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    const qreal a = size * 0.12;
    QPointF tip1(ring.center().x() + ring.width() / 2 * 0.87, ring.center().y() - ring.height() / 2 * 0.5);
    p.drawPolygon(QPolygonF{tip1 + QPointF(-a, -a * 0.2), tip1 + QPointF(a, -a * 0.2), tip1 + QPointF(0, a)});
    QPointF tip2(ring.center().x() - ring.width() / 2 * 0.87, ring.center().y() + ring.height() / 2 * 0.5);
    p.drawPolygon(QPolygonF{tip2 + QPointF(-a, a * 0.2), tip2 + QPointF(a, a * 0.2), tip2 + QPointF(0, -a)});
    return pixmap;
}

} // namespace

QIcon AppIcon() {
    static const QIcon icon = [] {
        QIcon i;
        for (int size : {16, 22, 24, 32, 48, 64}) i.addPixmap(IconPixmap(size));
        return i;
    }();
    return icon;
}

const QImage& FailedMark() {
    static const QImage mark = [] {
        QImage image(11, 11, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QColor(150, 0, 0));
        p.setBrush(QColor(210, 30, 30));
        p.drawEllipse(QRectF(0.5, 0.5, 10, 10));
        p.setPen(QPen(Qt::white, 1.6));
        p.drawLine(QPointF(3.5, 3.5), QPointF(7.5, 7.5));
        p.drawLine(QPointF(7.5, 3.5), QPointF(3.5, 7.5));
        return image;
    }();
    return mark;
}

void PaintDialogBand(QPainter& painter, const QRect& band) {
    QLinearGradient fill(band.topLeft(), band.bottomLeft());
    fill.setColorAt(0, QColor(255, 255, 255));
    fill.setColorAt(1, QColor(222, 233, 247));
    painter.fillRect(band, fill);
    painter.setPen(QColor(180, 196, 220));
    painter.drawLine(band.bottomLeft(), band.bottomRight());
}

} // namespace dm
