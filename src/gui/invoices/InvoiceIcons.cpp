#include "gui/invoices/InvoiceIcons.h"

#include <QPainter>
#include <QPainterPath>

#include <map>
#include <tuple>

namespace dm {

namespace {

QPixmap Canvas(QSize size, qreal dpr) {
    QPixmap pixmap(size * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void DrawProhibition(QPainter& p) {
    const QRectF circle(1.5, 2.5, 12, 12);
    p.setPen(QPen(QColor(200, 20, 20), 2));
    p.setBrush(Qt::white);
    p.drawEllipse(circle);
    const QPointF c = circle.center();
    const qreal r = 6 * 0.7071;
    p.drawLine(QPointF(c.x() - r, c.y() - r), QPointF(c.x() + r, c.y() + r));
}

void DrawEnvelope(QPainter& p, const QColor& fill, const QColor& outline) {
    const QRectF body(0.5, 4.5, 14, 9);
    p.setPen(QPen(outline, 1));
    p.setBrush(fill);
    p.drawRect(body);
    QPainterPath flap;
    flap.moveTo(body.topLeft());
    flap.lineTo(body.center().x(), body.top() + 5);
    flap.lineTo(body.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

QPixmap DrawEmailIcon(TEmailIconSet set, int kind, qreal dpr) {
    QPixmap pixmap = Canvas(EmailIconSize, dpr);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    if (set == TEmailIconSet::NoMail || kind == 0) DrawProhibition(p);
    else if (kind == 1) DrawEnvelope(p, QColor(60, 170, 70), QColor(20, 90, 30));
    else DrawEnvelope(p, Qt::white, QColor(90, 90, 90));
    return pixmap;
}

QPixmap DrawPaperClip(qreal dpr) {
    QPixmap pixmap = Canvas(PaperClipSize, dpr);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(128, 128, 128), 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    // One wire: down the outer loop, round the bottom, up and round the inner loop.
    QPainterPath wire;
    wire.moveTo(9.5, 4);
    wire.lineTo(9.5, 11.5);
    wire.arcTo(QRectF(4.5, 9, 5, 5), 0, -180);
    wire.lineTo(4.5, 3.5);
    wire.arcTo(QRectF(4.5, 1, 3.5, 3.5), 180, -180);
    wire.lineTo(8, 10.5);
    p.drawPath(wire);
    return pixmap;
}

} // namespace

const QPixmap& EmailIcon(TEmailIconSet set, int kind, qreal dpr) {
    static std::map<std::tuple<int, int, qreal>, QPixmap> cache;
    if (kind < 0 || kind > 2) kind = 0;
    auto key = std::make_tuple(static_cast<int>(set), kind, dpr);
    auto it = cache.find(key);
    if (it == cache.end()) it = cache.emplace(key, DrawEmailIcon(set, kind, dpr)).first;
    return it->second;
}

const QPixmap& PaperClip(qreal dpr) {
    static std::map<qreal, QPixmap> cache;
    auto it = cache.find(dpr);
    if (it == cache.end()) it = cache.emplace(dpr, DrawPaperClip(dpr)).first;
    return it->second;
}

} // namespace dm
