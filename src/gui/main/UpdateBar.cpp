#include "gui/main/UpdateBar.h"

#include "gui/main/GuiText.h"

#include <QLabel>
#include <QPainter>

namespace dm {

const char* const UpdateBarText = "Download an updated version of the Invara Desktop Manager.";

namespace {

QString Link(const QString& target, const QString& text, const char* colour, int pixels, bool bold) {
    return QStringLiteral("<a href=\"%1\" style=\"color:%2; text-decoration:underline; font-size:%3px;%4\">%5</a>")
        .arg(target, QString::fromLatin1(colour), QString::number(pixels),
             bold ? QStringLiteral(" font-weight:bold;") : QString(), text.toHtmlEscaped());
}

} // namespace

TUpdateBar::TUpdateBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("pnlUpdate"));
    setFixedHeight(BarHeight);
    hide();

    Label4 = new QLabel(this);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setFont(FormFont(9, true));
    Label4->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    Label4->hide();
    connect(Label4, &QLabel::linkActivated, this, &TUpdateBar::downloadClicked);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(PixelFont(11));
    Label1->setText(Link(QStringLiteral("skip"), QStringLiteral("Skip Update"), "#808080", 11, false));
    Label1->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    Label1->adjustSize();
    connect(Label1, &QLabel::linkActivated, this, &TUpdateBar::skipClicked);
}

void TUpdateBar::Announce() {
    Label4->setText(Link(QStringLiteral("download"), QString::fromLatin1(UpdateBarText), "#0000ff",
                         QFontInfo(FormFont(9)).pixelSize(), true));
    Label4->adjustSize();
    Label4->move(40, (BarHeight - Label4->height()) / 2);
    Label4->show();
}

void TUpdateBar::resizeEvent(QResizeEvent*) {
    Label1->move(width() - Label1->width() - 10, (BarHeight - Label1->height()) / 2);
}

void TUpdateBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    // A faint band across the lower part.
    QLinearGradient band(0, height() / 2, 0, height());
    band.setColorAt(0, QColor(255, 255, 255));
    band.setColorAt(1, QColor(238, 240, 244));
    p.fillRect(QRect(0, height() / 2, width(), height() - height() / 2), band);

    p.setRenderHint(QPainter::Antialiasing);
    const QRectF badge(12, (height() - 20) / 2.0, 20, 20);
    QRadialGradient amber(badge.center() - QPointF(3, 3), 14);
    amber.setColorAt(0, QColor(255, 214, 90));
    amber.setColorAt(1, QColor(235, 150, 10));
    p.setPen(QPen(QColor(190, 120, 0), 1));
    p.setBrush(amber);
    p.drawEllipse(badge);
    QFont mark(QStringLiteral("Arial"));
    mark.setPointSize(12);
    mark.setBold(true);
    p.setFont(mark);
    p.setPen(Qt::black);
    p.drawText(badge, Qt::AlignCenter, QStringLiteral("!"));
}

} // namespace dm
