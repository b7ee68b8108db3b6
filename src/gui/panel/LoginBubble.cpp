#include "gui/panel/LoginBubble.h"

#include "gui/main/GuiText.h"

#include <QLabel>
#include <QLinearGradient>
#include <QPainter>

namespace dm {

TLoginBubble::TLoginBubble(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("LoginBubble"));
    setMinimumSize(475, 280);
    setAutoFillBackground(false);
    ApplyFormFont(this);

    auto label = [this](const QString& text, int x, int y) {
        auto* l = new QLabel(text, this);
        l->setTextFormat(Qt::PlainText);
        l->move(x, y);
        return l;
    };
    Label7 = label(QStringLiteral("You do not need to login to synchronize."), 52, 36);
    QFont title = font();
    title.setPixelSize(16);
    title.setBold(true);
    Label7->setFont(title);
    Label1 = label(QStringLiteral("Click \"Login\" above to connect to Invara where you can:"), 52, 68);
    Label2 = label(QStringLiteral("\u2022 Send customer invoices electronically"), 64, 94);
    Label3 = label(QStringLiteral("\u2022 View your customer list and unpaid invoices"), 64, 113);
    Label4 = label(QStringLiteral("\u2022 See payments you have received through Invara"), 64, 132);
    Label5 = label(QStringLiteral("\u2022 Take a payment over the phone from a customer"), 64, 151);
    Label6 = label(QStringLiteral("\u2022 Customize Invara options to fit your business needs"), 64, 170);
    // Label1 has a font of its own; it takes the family and size of the list below it.
    QFont own = Label1->font();
    own.setFamily(Label3->font().family());
    own.setPointSizeF(Label3->font().pointSizeF());
    Label1->setFont(own);
    for (QLabel* l : {Label1, Label2, Label3, Label4, Label5, Label6, Label7}) l->adjustSize();
}

void TLoginBubble::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QLinearGradient background(0, 0, 0, height());
    background.setColorAt(0, Qt::white);
    background.setColorAt(1, QColor(240, 245, 252));
    p.fillRect(rect(), background);

    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(18.5, 1.5, 439, 217);
    QLinearGradient fill(box.topLeft(), box.bottomLeft());
    fill.setColorAt(0, QColor(255, 255, 255));
    fill.setColorAt(1, QColor(233, 241, 251));
    p.setPen(QPen(QColor(150, 178, 216), 1));
    p.setBrush(fill);
    p.drawRoundedRect(box, 10, 10);
}

} // namespace dm
