#include "gui/main/Pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>

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

QIcon AppIconFailed() {
    static const QIcon icon = [] {
        QIcon marked;
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            QPixmap pixmap = AppIcon().pixmap(QSize(size, size));
            QPainter p(&pixmap);
            // The mark keeps half the icon's width at most and is drawn at the icon's own scale.
            const QImage mark = FailedMark(std::max(size / 22.0, 1.0));
            const QSize markSize = mark.size();
            p.drawImage(QRect(size - markSize.width(), size - markSize.height(), markSize.width(), markSize.height()),
                        mark);
            marked.addPixmap(pixmap);
        }
        return marked;
    }();
    return icon;
}

QImage FailedMark(qreal devicePixelRatio) {
    // Drawn at the screen's own resolution, so that it stays sharp at a ratio of 2.
    auto draw = [](qreal ratio) {
        const int side = qRound(11 * ratio);
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        image.setDevicePixelRatio(ratio);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QColor(150, 0, 0));
        p.setBrush(QColor(210, 30, 30));
        p.drawEllipse(QRectF(0.5, 0.5, 10, 10));
        p.setPen(QPen(Qt::white, 1.6));
        p.drawLine(QPointF(3.5, 3.5), QPointF(7.5, 7.5));
        p.drawLine(QPointF(7.5, 3.5), QPointF(3.5, 7.5));
        return image;
    };
    static const QImage plain = draw(1);
    if (devicePixelRatio <= 1) return plain;
    static const QImage doubled = draw(2);
    if (devicePixelRatio == 2) return doubled;
    return draw(devicePixelRatio);
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
