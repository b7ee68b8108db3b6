#include "gui/sync/UnableConfirm.h"

#include "gui/main/GuiText.h"
#include "gui/main/Pictures.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

namespace dm {

TUnableConfirm::TUnableConfirm(const std::string& businessName, const std::string& billerId,
                               const std::string& userName, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("UnableConfirm"));
    setWindowTitle(QStringLiteral("Unable to Confirm Account"));
    setFixedSize(305, 209);
    setFont(PixelFont(12));

    // Plain-text labels without a buddy show "&" as it is, which is what doubling achieves in captions.
    Label3 = new QLabel(GuiText(businessName), this);
    Label3->setTextFormat(Qt::PlainText);
    Label3->setFont(PixelFont(16, true));
    Label3->setGeometry(12, 12, 281, 20);
    Label4 = new QLabel(GuiText("Business #" + billerId + " - User Name: " + userName), this);
    Label4->setTextFormat(Qt::PlainText);
    Label4->setGeometry(12, 36, 281, 16);

    auto* text = new QLabel(
        QStringLiteral("Your account could not be confirmed. Please enter the correct account password."), this);
    text->setWordWrap(true);
    text->setGeometry(16, 80, 273, 41);

    auto* passwordLabel = new QLabel(QStringLiteral("Password:"), this);
    passwordLabel->setGeometry(16, 135, 70, 16);
    txtPassword = new QLineEdit(this);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setGeometry(88, 132, 201, 22);
    passwordLabel->setBuddy(txtPassword);

    btnContinue = new QPushButton(QStringLiteral("Continue"), this);
    btnContinue->setGeometry(133, 172, 75, 25);
    btnContinue->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setGeometry(214, 172, 75, 25);
    connect(btnContinue, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject); // Escape rejects as well
    txtPassword->setFocus();
}

void TUnableConfirm::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintDialogBand(p, QRect(0, 0, width(), 61));
}

} // namespace dm
