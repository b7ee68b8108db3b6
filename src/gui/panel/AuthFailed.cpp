#include "gui/panel/AuthFailed.h"

#include "gui/main/GuiText.h"
#include "gui/main/Pictures.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

namespace dm {

TAuthFailed::TAuthFailed(const std::string& businessName, const std::string& userName, const std::string& password,
                         QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("AuthFailed"));
    setWindowTitle(QStringLiteral("Authentication Failed"));
    setFixedSize(353, 265);
    ApplyFormFont(this);

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(48, 48));
    icon->setGeometry(16, 16, 48, 48);

    Label1 = new QLabel(QStringLiteral("The Invara Desktop Manager could not authenticate your user account. Please "
                                       "enter your user name and password below then click the 'OK' button."),
                        this);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setGeometry(76, 16, 249, 77);
    Label1->setFont(PixelFont(12, true));
    QPalette red = Label1->palette();
    red.setColor(QPalette::WindowText, QColor(128, 0, 0));
    Label1->setPalette(red);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(0, 101, 353, 2);

    auto* businessLabel = new QLabel(QStringLiteral("Business:"), this);
    businessLabel->setGeometry(24, 118, 80, 18);
    Label6 = new QLabel(GuiText(businessName), this);
    Label6->setTextFormat(Qt::PlainText); // shows "&" as it is
    Label6->setFont(PixelFont(12, true));
    Label6->setGeometry(104, 118, 225, 18);

    auto* userLabel = new QLabel(QStringLiteral("User Name:"), this);
    userLabel->setGeometry(24, 148, 80, 18);
    txtUserName = new QLineEdit(GuiText(userName), this);
    txtUserName->setObjectName(QStringLiteral("txtUserName"));
    txtUserName->setGeometry(104, 145, 225, 23);

    auto* passwordLabel = new QLabel(QStringLiteral("Password:"), this);
    passwordLabel->setGeometry(24, 180, 80, 18);
    txtPassword = new QLineEdit(GuiText(password), this);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setGeometry(104, 177, 225, 23);

    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setDefault(true);
    btnOk->setGeometry(173, 224, 75, 25);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setGeometry(254, 224, 75, 25);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    txtPassword->setFocus();
}

void TAuthFailed::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintDialogBand(p, QRect(0, 0, width(), 101));
}

} // namespace dm
