// The GUI side of the user prompts: message boxes with their texts, icons and buttons, and the
// password, credentials, login-hint and page windows, each with a screenshot.

#include "gui/main/GuiPrompts.h"
#include "gui/main/GuiText.h"
#include "gui/main/Pictures.h"
#include "gui/panel/AuthFailed.h"
#include "gui/panel/LoginBubble.h"
#include "gui/sync/SyncView.h"
#include "gui/sync/UnableConfirm.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>

#include <gtest/gtest.h>

using namespace dm;

TEST(Dialogs, MessageBoxesCarryTheirIconsAndButtons) {
    TGuiPrompts prompts;
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
    };
    auto answer = [](Seen& seen, QMessageBox::StandardButton press, const std::string& screenshot = {}) {
        dmtest::WhenModal([&seen, press, screenshot](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
            if (!screenshot.empty()) dmtest::SaveScreenshot(box, screenshot);
            box->button(press)->click();
        });
    };

    Seen seen;
    answer(seen, QMessageBox::Ok);
    prompts.ShowMessage(BillerRemovedMessage);
    EXPECT_EQ(seen.title, "Invara Desktop Manager");
    EXPECT_EQ(seen.text.toStdString(), BillerRemovedMessage);
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttons, QMessageBox::Ok);

    answer(seen, QMessageBox::Ok, "dialog_error_message");
    prompts.ShowError("There is a window open in QuickBooks that is preventing \rthe Desktop Manager from performing a "
                      "synchronization.");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.text, "There is a window open in QuickBooks that is preventing \nthe Desktop Manager from "
                         "performing a synchronization.");

    answer(seen, QMessageBox::No, "dialog_remove_question");
    EXPECT_FALSE(prompts.AskYesNo(RemoveBillerQuestion));
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(seen.text, GuiMessageText(RemoveBillerQuestion));
    answer(seen, QMessageBox::Yes);
    EXPECT_TRUE(prompts.AskYesNo(RemoveBillerQuestion));

    for (auto [press, expected] : {std::pair{QMessageBox::Yes, TAnswer::Yes}, std::pair{QMessageBox::No, TAnswer::No},
                                   std::pair{QMessageBox::Cancel, TAnswer::Cancel}}) {
        answer(seen, press);
        EXPECT_EQ(prompts.AskYesNoCancel("Send the e-mails?"), expected);
        EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    }
}

TEST(Dialogs, UnableConfirmAsksForThePassword) {
    TGuiPrompts prompts;
    std::optional<std::string> typed;
    dmtest::WhenModal([](QWidget* modal) {
        auto* d = qobject_cast<TUnableConfirm*>(modal);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->windowTitle(), "Unable to Confirm Account");
        EXPECT_EQ(d->size(), QSize(305, 209));
        EXPECT_FALSE(d->windowFlags() & Qt::WindowCloseButtonHint) << "no title-bar buttons";
        EXPECT_EQ(d->Label3->text(), "Smith & Sons");
        EXPECT_EQ(d->Label3->pos(), QPoint(12, 12));
        EXPECT_TRUE(d->Label3->font().bold());
        EXPECT_EQ(d->Label3->font().pixelSize(), 16);
        EXPECT_EQ(d->Label4->text(), "Business #1001 - User Name: ann&co");
        EXPECT_EQ(d->Label4->pos(), QPoint(12, 36));
        EXPECT_EQ(d->txtPassword->echoMode(), QLineEdit::Password);
        EXPECT_EQ(d->txtPassword->geometry().topLeft(), QPoint(88, 132));
        EXPECT_EQ(d->txtPassword->width(), 201);
        EXPECT_TRUE(d->btnContinue->isDefault());
        d->txtPassword->setText(QStringLiteral("n3w pässword"));
        dmtest::SaveScreenshot(d, "dialog_unable_confirm");
        d->btnContinue->click();
    });
    typed = prompts.AskPassword("Smith & Sons", "1001", "ann&co");
    EXPECT_EQ(typed, std::optional<std::string>("n3w pässword"));

    dmtest::WhenModal([](QWidget* modal) {
        auto* d = qobject_cast<TUnableConfirm*>(modal);
        ASSERT_NE(d, nullptr);
        d->txtPassword->setText(QStringLiteral("typed but cancelled"));
        d->reject(); // Escape
    });
    EXPECT_EQ(prompts.AskPassword("Smith & Sons", "1001", "ann"), std::nullopt);
}

TEST(Dialogs, AuthFailedCorrectsUserNameAndPassword) {
    TGuiPrompts prompts;
    dmtest::WhenModal([](QWidget* modal) {
        auto* d = qobject_cast<TAuthFailed*>(modal);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->windowTitle(), "Authentication Failed");
        EXPECT_EQ(d->size(), QSize(353, 265));
        EXPECT_EQ(d->Label1->text(), "The Invara Desktop Manager could not authenticate your user account. Please enter "
                                     "your user name and password below then click the 'OK' button.");
        EXPECT_EQ(d->Label1->geometry(), QRect(76, 16, 249, 77));
        EXPECT_TRUE(d->Label1->font().bold());
        EXPECT_EQ(d->Label1->palette().color(QPalette::WindowText), QColor(128, 0, 0));
        EXPECT_EQ(d->Label6->text(), "A & B Plumbing");
        EXPECT_TRUE(d->Label6->font().bold());
        EXPECT_EQ(d->txtUserName->text(), "old");
        EXPECT_EQ(d->txtPassword->text(), "secret");
        EXPECT_EQ(d->txtPassword->echoMode(), QLineEdit::Password);
        EXPECT_TRUE(d->btnOk->isDefault());
        dmtest::SaveScreenshot(d, "dialog_auth_failed");
        d->txtUserName->setText(QStringLiteral("new"));
        d->txtPassword->setText(QStringLiteral("better"));
        d->btnOk->click();
    });
    auto fresh = prompts.AskCredentials("A & B Plumbing", {"old", "secret"});
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->UserName, "new");
    EXPECT_EQ(fresh->Password, "better");

    dmtest::WhenModal([](QWidget* modal) {
        auto* d = qobject_cast<TAuthFailed*>(modal);
        ASSERT_NE(d, nullptr);
        d->txtUserName->setText(QStringLiteral("changed"));
        d->btnCancel->click();
    });
    EXPECT_EQ(prompts.AskCredentials("A & B Plumbing", {"old", "secret"}), std::nullopt) << "Cancel changes nothing";
}

// A password stored by an older version in Latin-1 is shown as text; left as shown it goes back
// byte for byte, and only what the user typed is converted.
TEST(Dialogs, PrefilledBytesSurviveTheDialog) {
    TGuiPrompts prompts;
    const std::string latin1Password = "caf\xE9";
    dmtest::WhenModal([](QWidget* modal) {
        auto* d = qobject_cast<TAuthFailed*>(modal);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->txtPassword->text(), QString::fromUtf8("caf\u00e9"));
        d->txtUserName->setText(QString::fromUtf8("Jos\u00e9"));
        d->btnOk->click();
    });
    auto fresh = prompts.AskCredentials("A & B Plumbing", {"ann", latin1Password});
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->Password, latin1Password);
    EXPECT_EQ(fresh->UserName, "Jos\xC3\xA9") << "edited text is UTF-8";
}

TEST(Dialogs, LoginBubbleTexts) {
    TLoginBubble bubble;
    bubble.resize(624, 420);
    struct Line {
        QLabel* label;
        QPoint at;
        const char* text;
    };
    for (Line l : {Line{bubble.Label7, {52, 36}, "You do not need to login to synchronize."},
                   Line{bubble.Label1, {52, 68}, "Click \"Login\" above to connect to Invara where you can:"},
                   Line{bubble.Label2, {64, 94}, "\u2022 Send customer invoices electronically"},
                   Line{bubble.Label3, {64, 113}, "\u2022 View your customer list and unpaid invoices"},
                   Line{bubble.Label4, {64, 132}, "\u2022 See payments you have received through Invara"},
                   Line{bubble.Label5, {64, 151}, "\u2022 Take a payment over the phone from a customer"},
                   Line{bubble.Label6, {64, 170}, "\u2022 Customize Invara options to fit your business needs"}}) {
        EXPECT_EQ(l.label->text(), QString::fromUtf8(l.text));
        EXPECT_EQ(l.label->pos(), l.at) << l.text;
    }
    EXPECT_TRUE(bubble.Label7->font().bold());
    EXPECT_EQ(bubble.Label7->font().pixelSize(), 16);
    EXPECT_EQ(bubble.Label1->font().family(), bubble.Label3->font().family());
    EXPECT_EQ(bubble.Label1->font().pointSizeF(), bubble.Label3->font().pointSizeF());
    bubble.show();
    dmtest::SaveScreenshot(&bubble, "dialog_login_bubble");
}

// The icon comes from the one drawing shipped with the package; without an installed theme the
// sizes built into the program serve, sharp at every size the desktop asks for.
TEST(Dialogs, AppIconHasEverySizeWithoutATheme) {
    const QIcon icon = dm::AppIcon();
    ASSERT_FALSE(icon.isNull());
    for (int size : {16, 32, 48, 256}) {
        QPixmap pixmap = icon.pixmap(QSize(size, size));
        EXPECT_EQ(pixmap.size(), QSize(size, size));
        // The centre of the drawing is the blue square, never transparent.
        EXPECT_GT(qAlpha(pixmap.toImage().pixel(size / 2, size / 5)), 200) << size;
    }
}

TEST(Dialogs, SecondMessageBoxIsOffsetFromTheFirst) {
    TGuiPrompts prompts;
    QPoint first, second;
    dmtest::WhenModal([&](QWidget* outer) {
        first = outer->pos();
        dmtest::WhenModal([&](QWidget* inner) {
            second = inner->pos();
            static_cast<QMessageBox*>(inner)->accept();
        });
        // A second biller's message while the first is still open.
        QTimer::singleShot(0, [&] { prompts.ShowMessage("Second biller"); });
        dmtest::WaitUntil([&] { return !second.isNull(); });
        static_cast<QMessageBox*>(outer)->accept();
    });
    prompts.ShowMessage("First biller");
    EXPECT_EQ(second, first + QPoint(32, 32));
}
