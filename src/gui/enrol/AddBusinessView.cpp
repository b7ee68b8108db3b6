#include "gui/enrol/AddBusinessView.h"
#include "gui/enrol/BusinessSetupWizard.h"

#include "engine/AppState.h"
#include "engine/UserPrompts.h"
#include "gui/main/GuiText.h"
#include "gui/main/Pictures.h"
#include "platform/System.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTextBrowser>

namespace dm {

namespace {

constexpr int ClientWidth = 401;
constexpr int ClientHeight = 385;
constexpr int BannerHeight = 77;
constexpr int ButtonBarHeight = 42;
constexpr int PageHeight = ClientHeight - BannerHeight - ButtonBarHeight;

const char* const NextCaption = "&Next >";
const char* const TryAgainCaption = "Try Again";
const char* const ContinueCaption = "Continue";

// The artwork of the banner: the program's band, its icon and its name.
class TBanner : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        PaintDialogBand(p, rect());
        AppIcon().paint(&p, QRect(16, 14, 48, 48));
        p.setPen(QColor(31, 56, 100));
        p.setFont(FormFont(14, true));
        p.drawText(QRect(76, 14, width() - 90, 28), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Add Biller"));
        p.setFont(FormFont(9));
        p.drawText(QRect(76, 40, width() - 90, 22), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromLatin1(ApplicationTitle));
    }
};

// The agent's own fixed pages, without the browser engine; links are the wizard's to handle.
QTextBrowser* HtmlViewer(QWidget* page, const QString& name) {
    auto* viewer = new QTextBrowser(page);
    viewer->setObjectName(name);
    viewer->setOpenLinks(false);
    viewer->setFrameShape(QFrame::NoFrame);
    return viewer;
}

QProgressBar* Busy(QWidget* page, int top) {
    auto* busy = new QProgressBar(page);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setGeometry(40, top, ClientWidth - 80, 14);
    return busy;
}

QLabel* Text(const QString& text, QWidget* page, const QRect& where, bool bold = false) {
    auto* label = new QLabel(text, page);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setGeometry(where);
    if (bold) label->setFont(FormFont(11, true));
    return label;
}

QLabel* Link(const QString& text, const std::string& url, QWidget* page, const QRect& where) {
    auto* label = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(GuiText(url).toHtmlEscaped(), text.toHtmlEscaped()),
                             page);
    label->setTextFormat(Qt::RichText);
    label->setGeometry(where);
    label->setCursor(Qt::PointingHandCursor);
    QObject::connect(label, &QLabel::linkActivated, label, [](const QString& href) { ShellOpen(EngineText(href)); });
    return label;
}

} // namespace

TBusinessSetupRunner& BusinessSetupRunner() {
    static TBusinessSetupRunner runner;
    return runner;
}

TAddBusinessView::TAddBusinessView(TAddBusiness& wizard, const TAppState& app, TUserPrompts& prompts, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), wizard_(wizard), app_(app),
      prompts_(prompts) {
    setObjectName(QStringLiteral("AddBusiness"));
    setWindowTitle(QStringLiteral("Add Biller"));
    ApplyFormFont(this);
    setFixedSize(ClientWidth, ClientHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(ClientWidth / 2, ClientHeight / 2));

    auto* banner = new TBanner(this);
    banner->setGeometry(0, 0, ClientWidth, BannerHeight);

    Pages = new QStackedWidget(this);
    Pages->setGeometry(0, BannerHeight, ClientWidth, PageHeight);

    // 1: the login.
    stepUserNamePassword = new QWidget;
    stepUserNamePassword->setObjectName(QStringLiteral("stepUserNamePassword"));
    const bool hosted = !app.HostedPartner.empty();
    Label3 = Text(hosted ? QStringLiteral("If you already have a Invara user account, enter your user name and password.")
                         : QStringLiteral("Enter your Invara login information to continue setting up your business."),
                  stepUserNamePassword, QRect(24, 60, ClientWidth - 48, 34));
    Label4 = Link(QStringLiteral("Click here if you do not have a Invara user account."), app.BaseUrl + "signup/",
                  stepUserNamePassword, QRect(24, 96, ClientWidth - 48, 18));
    Label4->setVisible(hosted);
    auto* userLabel = new QLabel(QStringLiteral("User Name:"), stepUserNamePassword);
    userLabel->setGeometry(24, 129, 90, 20);
    txtUserName = new QLineEdit(stepUserNamePassword);
    txtUserName->setObjectName(QStringLiteral("txtUserName"));
    txtUserName->setGeometry(120, 126, 240, 24);
    userLabel->setBuddy(txtUserName);
    auto* passwordLabel = new QLabel(QStringLiteral("Password:"), stepUserNamePassword);
    passwordLabel->setGeometry(24, 163, 90, 20);
    txtPassword = new QLineEdit(stepUserNamePassword);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // "*"
    txtPassword->setGeometry(120, 160, 240, 24);
    passwordLabel->setBuddy(txtPassword);
    Label9 = Link(QStringLiteral("I forgot my user name or password."), app.BaseUrl + "login/forgot_username.php",
                  stepUserNamePassword, QRect(120, 194, 240, 18));

    // 2: the confirmation.
    stepConfirmAccount = new QWidget;
    stepConfirmAccount->setObjectName(QStringLiteral("stepConfirmAccount"));
    Text(QStringLiteral("Confirming Account"), stepConfirmAccount, QRect(24, 30, ClientWidth - 48, 24), true);
    lblConfirmText = Text(QStringLiteral("Checking with Invara to make sure the user name and password you entered "
                                         "are valid."),
                          stepConfirmAccount, QRect(24, 62, ClientWidth - 48, 48));
    aniConfirmAccount = Busy(stepConfirmAccount, 130);

    // 3: the connect text.
    stepConnectQB = new QWidget;
    stepConnectQB->setObjectName(QStringLiteral("stepConnectQB"));
    htmlConnect = HtmlViewer(stepConnectQB, QStringLiteral("htmlConnect"));
    htmlConnect->setGeometry(0, 0, ClientWidth, PageHeight);
    // The page asks for 20-pixel margins with body attributes the light viewer does not read.
    htmlConnect->document()->setDocumentMargin(20);

    // 4: the QuickBooks check.
    stepConfirmQB = new QWidget;
    stepConfirmQB->setObjectName(QStringLiteral("stepConfirmQB"));
    Text(QStringLiteral("Connecting to Quick Books"), stepConfirmQB, QRect(24, 12, ClientWidth - 48, 24), true);
    aniConfirmQB = Busy(stepConfirmQB, 48);
    htmlQbError = HtmlViewer(stepConfirmQB, QStringLiteral("htmlQbError"));
    htmlQbError->setGeometry(0, 72, ClientWidth, PageHeight - 72);
    htmlQbError->document()->setDocumentMargin(12);
    htmlQbError->hide();

    // 5: done.
    stepDone = new QWidget;
    stepDone->setObjectName(QStringLiteral("stepDone"));
    Text(QStringLiteral("Done!"), stepDone, QRect(24, 30, ClientWidth - 48, 24), true);
    Text(QStringLiteral("You have successfully setup your business to work with Invara."), stepDone,
         QRect(24, 62, ClientWidth - 48, 48));

    for (QWidget* page : {stepUserNamePassword, stepConfirmAccount, stepConnectQB, stepConfirmQB, stepDone})
        Pages->addWidget(page);

    // The button bar.
    btnBack = new QPushButton(QStringLiteral("< &Back"), this);
    btnBack->setObjectName(QStringLiteral("btnBack"));
    btnNext = new QPushButton(QString::fromLatin1(NextCaption), this);
    btnNext->setObjectName(QStringLiteral("btnNext"));
    btnNext->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    const int buttonTop = ClientHeight - ButtonBarHeight + 9;
    btnBack->setGeometry(ClientWidth - 3 * 83 - 10, buttonTop, 75, 25);
    btnNext->setGeometry(ClientWidth - 2 * 83 - 10, buttonTop, 75, 25);
    btnCancel->setGeometry(ClientWidth - 83, buttonTop, 75, 25);
    connect(btnBack, &QPushButton::clicked, this, &TAddBusinessView::btnBackClick);
    connect(btnNext, &QPushButton::clicked, this, &TAddBusinessView::btnNextClick);
    connect(btnCancel, &QPushButton::clicked, this, &TAddBusinessView::reject);

    connect(&wizard_, &TAddBusiness::confirmed, this, &TAddBusinessView::Confirmed);
    connect(&wizard_, &TAddBusiness::confirmFailed, this, &TAddBusinessView::ConfirmFailed);

    tmrStartup.setSingleShot(true);
    tmrStartup.setInterval(2000);
    connect(&tmrStartup, &QTimer::timeout, this, &TAddBusinessView::tmrStartupTimer);
    for (QTimer* t : {&tmrConnectQB, &tmrDone, &tmrClose}) {
        t->setSingleShot(true);
        t->setInterval(1);
    }
    connect(&tmrConnectQB, &QTimer::timeout, this, &TAddBusinessView::tmrConnectQBTimer);
    connect(&tmrDone, &QTimer::timeout, this, &TAddBusinessView::tmrDoneTimer);
    connect(&tmrClose, &QTimer::timeout, this, &TAddBusinessView::tmrCloseTimer);

    GoTo(stepUserNamePassword);
    txtUserName->setFocus();
    tmrStartup.start();
}

void TAddBusinessView::GoTo(QWidget* page) {
    Pages->setCurrentWidget(page);
    btnBack->setVisible(page != stepConfirmAccount && page != stepDone);
    btnNext->setVisible(page != stepConfirmAccount);
    btnCancel->setVisible(page != stepDone);
    btnBack->setEnabled(page != stepUserNamePassword);
    btnNext->setEnabled(true);
    if (page == stepConfirmAccount) {
        lblConfirmText->setText(QStringLiteral("Checking with Invara to make sure the user name and password you "
                                               "entered are valid."));
        aniConfirmAccount->show();
        wizard_.ConfirmAccount();
    } else if (page == stepConnectQB) {
        htmlConnect->setHtml(GuiText(ConnectPageHtml(wizard_.BusinessName)));
    } else if (page == stepConfirmQB) {
        btnNext->setText(QString::fromLatin1(NextCaption));
        // The check decides: Next comes back only as "Try Again" after a failure.
        btnNext->setEnabled(false);
        htmlQbError->hide();
        aniConfirmQB->show();
        tmrConnectQB.start();
    } else if (page == stepDone) {
        btnNext->setText(QString::fromLatin1(ContinueCaption));
        btnNext->setFocus();
    }
}

void TAddBusinessView::btnNextClick() {
    QWidget* page = Pages->currentWidget();
    if (page == stepUserNamePassword) {
        wizard_.UserName = EngineText(txtUserName->text());
        wizard_.Password = EngineText(txtPassword->text());
        const TAddBusiness::TLoginCheck check = wizard_.CheckLogin();
        if (check.Ok()) {
            GoTo(stepConfirmAccount);
            return;
        }
        for (const std::string& message : check.Messages) prompts_.ShowMessage(message);
        if (check.Focus == TAddBusiness::TLoginCheck::PasswordBox) txtPassword->setFocus();
        if (check.Focus == TAddBusiness::TLoginCheck::UserNameBox) txtUserName->setFocus();
    } else if (page == stepConnectQB) {
        GoTo(stepConfirmQB);
    } else if (page == stepConfirmQB) {
        if (btnNext->text() == QString::fromLatin1(TryAgainCaption)) {
            btnNext->setText(QString::fromLatin1(NextCaption));
            btnNext->setEnabled(false);
            htmlQbError->hide();
            aniConfirmQB->show();
            tmrConnectQB.start();
        } else {
            GoTo(stepDone);
        }
    } else if (page == stepDone) {
        tmrClose.start();
    }
}

void TAddBusinessView::btnBackClick() {
    QWidget* page = Pages->currentWidget();
    // From the connect text back to the login, so that the next Next confirms the account again.
    if (page == stepConnectQB) {
        GoTo(stepUserNamePassword);
    } else if (page == stepConfirmQB) {
        tmrConnectQB.stop();
        tmrDone.stop();
        GoTo(stepConnectQB);
    }
}

void TAddBusinessView::reject() {
    if (!btnCancel->isVisible()) return;
    tmrConnectQB.stop();
    tmrDone.stop();
    QDialog::reject();
}

void TAddBusinessView::Confirmed(TConfirmStep step, const std::string& message) {
    if (Pages->currentWidget() != stepConfirmAccount) return;
    switch (step) {
    case TConfirmStep::Done: GoTo(stepDone); break;
    case TConfirmStep::Connect: GoTo(stepConnectQB); break;
    case TConfirmStep::Back:
        GoTo(stepUserNamePassword);
        if (!message.empty()) prompts_.ShowMessage(message);
        break;
    case TConfirmStep::Stay: break;
    }
}

void TAddBusinessView::ConfirmFailed(const std::string& text) {
    if (Pages->currentWidget() != stepConfirmAccount) return;
    // Only Cancel remains; the page stops looking busy and says why.
    aniConfirmAccount->hide();
    lblConfirmText->setText(GuiText(text));
    prompts_.ShowMessage(text);
}

void TAddBusinessView::tmrStartupTimer() {
    tmrStartup.stop();
    if (ShowMainWindow) ShowMainWindow();
    raise();
    activateWindow();
}

void TAddBusinessView::tmrConnectQBTimer() {
    tmrConnectQB.stop();
    const std::string error = wizard_.CheckQuickBooks();
    if (Pages->currentWidget() != stepConfirmQB) return;
    if (error.empty()) {
        tmrDone.start();
        return;
    }
    aniConfirmQB->hide();
    htmlQbError->setHtml(GuiText(QuickBooksErrorHtml(error)));
    htmlQbError->show();
    btnNext->setText(QString::fromLatin1(TryAgainCaption));
    btnNext->setEnabled(true);
}

void TAddBusinessView::tmrDoneTimer() {
    tmrDone.stop();
    if (Pages->currentWidget() != stepConfirmQB) return;
    if (wizard_.SetupWizard) {
        if (RunSetupWizard)
            RunSetupWizard(this, wizard_.UserName, wizard_.Password);
        else
            RunBusinessSetupWizard(app_, this, wizard_.UserName, wizard_.Password);
    }
    GoTo(stepDone);
}

void TAddBusinessView::tmrCloseTimer() {
    tmrClose.stop();
    wizard_.Finish();
    accept();
}

} // namespace dm
