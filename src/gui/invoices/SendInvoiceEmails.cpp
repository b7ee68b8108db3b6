#include "gui/invoices/SendInvoiceEmails.h"

#include "gui/main/GuiText.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace dm {

TSendInvoiceEmails::TSendInvoiceEmails(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SendInvoiceEmails"));
    setWindowTitle(QStringLiteral("Send Invoice Emails"));
    // A fixed dialog border without title-bar buttons: it is answered, not closed.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint);
    ApplyFormFont(this);

    lblTitle = new QLabel(QStringLiteral("You have chosen to send invoice notification emails to your customers."), this);
    QFont bold = lblTitle->font();
    bold.setBold(true);
    lblTitle->setFont(bold);
    lblText = new QLabel(QStringLiteral("You have chosen to sync invoices that will send email notifications to your "
                                        "customers. Are you sure you want to send these emails to your customers now?"),
                         this);
    lblText->setWordWrap(true);
    Button1 = new QPushButton(QStringLiteral("Yes, Send Invoice Notification Emails to My Customers Now"), this);
    Button1->setFont(bold);
    Button2 = new QPushButton(QStringLiteral("No, Do Not Sync These Invoices"), this);
    for (QPushButton* b : {Button1, Button2}) b->setAutoDefault(false);
    chkDoNotAsk = new QCheckBox(QStringLiteral("Do not show this question the next time I synchronize"), this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 12);
    layout->setSpacing(10);
    layout->addWidget(lblTitle);
    layout->addWidget(lblText);
    layout->addSpacing(4);
    layout->addWidget(Button1);
    layout->addWidget(Button2);
    layout->addSpacing(4);
    layout->addWidget(chkDoNotAsk);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    const int textWidth = std::max(420, Button1->sizeHint().width());
    lblText->setFixedWidth(textWidth);
    lblText->setFixedHeight(lblText->heightForWidth(textWidth));

    connect(Button1, &QPushButton::clicked, this, [this] { done(Yes); });
    connect(Button2, &QPushButton::clicked, this, [this] { done(No); });

    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

void TSendInvoiceEmails::reject() { done(No); }

} // namespace dm
