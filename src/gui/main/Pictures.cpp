#include "gui/main/Pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace dm {

QIcon AppIcon() {
    // The installed theme icon wins, so that the window, the tray and the desktop entry agree;
    // the sizes built into the program serve when it runs from the build tree.
    static const QIcon icon = [] {
        QIcon bundled;
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
            bundled.addFile(QStringLiteral(":/icons/invara-desktop-manager-%1.png").arg(size), QSize(size, size));
        return QIcon::fromTheme(QStringLiteral("invara-desktop-manager"), bundled);
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

const QImage& FlagMark(bool set) {
    auto draw = [](bool tick) {
        QImage image(15, 14, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(tick ? QColor(40, 120, 40) : QColor(150, 150, 150));
        p.setBrush(tick ? QColor(225, 245, 225) : QColor(250, 250, 250));
        p.drawRect(QRectF(1.5, 0.5, 12, 12));
        if (tick) {
            p.setPen(QPen(QColor(20, 130, 20), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawPolyline(QPolygonF{QPointF(4.5, 6.5), QPointF(7, 9), QPointF(11.5, 3.5)});
        }
        return image;
    };
    static const QImage setMark = draw(true), clearedMark = draw(false);
    return set ? setMark : clearedMark;
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
