#include "gui/panel/CPSignIn.h"

#include "gui/main/GuiText.h"
#include "gui/main/Pictures.h"

#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

namespace dm {

namespace {
constexpr int BannerHeight = 121;
}

TCPSignIn::TCPSignIn(const std::string& businessName, const std::string& userName, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("CPSignIn"));
    setWindowTitle(QStringLiteral("Control Panel Sign-In"));
    setFont(PixelFont(12));
    ApplyFormFont(this);
    setFixedSize(353, 197);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));

    auto label = [this](const QString& text, int x, int y, int w, bool bold) {
        auto* l = new QLabel(text, this);
        l->setTextFormat(Qt::PlainText); // an "&" of a name is shown as it is
        l->setGeometry(x, y, w, 18);
        if (bold) l->setFont(PixelFont(12, true));
        return l;
    };
    label(QStringLiteral("Business:"), 24, 22, 80, false);
    lblBusiness = label(GuiText(businessName), 104, 22, 225, true);
    lblBusiness->setObjectName(QStringLiteral("lblBusiness"));
    label(QStringLiteral("User Name:"), 24, 52, 80, false);
    lblUserName = label(GuiText(userName), 104, 52, 225, true);
    lblUserName->setObjectName(QStringLiteral("lblUserName"));
    label(QStringLiteral("Password:"), 24, 84, 80, false);
    txtPassword = new QLineEdit(this);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setGeometry(104, 81, 225, 23);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(0, BannerHeight, 353, 2);

    chkRemember = new QCheckBox(QStringLiteral("Remember my password"), this);
    chkRemember->setObjectName(QStringLiteral("chkRemember"));
    chkRemember->setGeometry(24, 134, 200, 20);
    btnLogin = new QPushButton(QStringLiteral("Login"), this);
    btnLogin->setObjectName(QStringLiteral("btnLogin"));
    btnLogin->setDefault(true);
    btnLogin->setGeometry(173, 162, 75, 25);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(254, 162, 75, 25);
    connect(btnLogin, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    txtPassword->setFocus();
}

void TCPSignIn::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintDialogBand(p, QRect(0, 0, width(), BannerHeight));
}

} // namespace dm
