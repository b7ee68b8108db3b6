#include "gui/panel/ControlPanel.h"

#include "engine/MainEngine.h"
#include "engine/Sync.h"
#include "engine/UserPrompts.h"
#include "gui/main/GuiText.h"
#include "gui/panel/CPSignIn.h"
#include "gui/panel/WebPopup.h"
#include "platform/System.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace dm {

TWaitAnim::TWaitAnim(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("WaitAnim"));
    setFixedSize(30, 30);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    timer_.setInterval(80);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 12;
        update();
    });
}

void TWaitAnim::Start() {
    timer_.start();
    show();
    raise();
}

void TWaitAnim::Stop() {
    timer_.stop();
    hide();
}

void TWaitAnim::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x2a, 0x6f, 0xb0), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(4, 4, 22, 22), -step_ * 30 * 16, 270 * 16);
}

// The hidden re-sign-in view reports only that its page has arrived.
class TControlPanel::TReconnectEvents : public TBrowserEvents {
public:
    explicit TReconnectEvents(TControlPanel& panel) : panel_(panel) {}
    void BrowserDownloadComplete() override { panel_.WebReconnectDownloadComplete(); }

private:
    TControlPanel& panel_;
};

TControlPanel::TControlPanel(TUserPrompts& prompts, TMainEngine* engine, bool isPopup, QWidget* parent)
    : QWidget(parent), IsPopup(isPopup), prompts_(prompts), engine_(engine),
      reconnectEvents_(std::make_unique<TReconnectEvents>(*this)) {
    setObjectName(QStringLiteral("ControlPanel"));
    setFont(PixelFont(12));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(26);
    auto button = [this](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromLatin1(caption), Panel1);
        b->setObjectName(QString::fromLatin1(name));
        b->setFlat(true);
        b->setGeometry(0, 0, 64, 24);
        return b;
    };
    btnBack = button("btnBack", "Back");
    btnPrint = button("btnPrint", "Print");
    btnClose = button("btnClose", "Close");
    btnPrint->hide();
    btnClose->hide();
    auto* bevel = new QFrame(Panel1);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setGeometry(0, 24, 4000, 2);
    connect(btnBack, &QPushButton::clicked, this, &TControlPanel::btnBackClick);
    connect(btnPrint, &QPushButton::clicked, this, &TControlPanel::btnPrintClick);
    connect(btnClose, &QPushButton::clicked, this, &TControlPanel::btnCloseClick);
    Panel1->hide();
    layout->addWidget(Panel1);

    WebContain = new QWidget(this);
    WebContain->setObjectName(QStringLiteral("WebContain"));
    WebContain->setFocusPolicy(Qt::StrongFocus);
    auto* contain = new QVBoxLayout(WebContain);
    contain->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(WebContain, 1);
    WebContain->hide();

    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->hide();

    if (TBrowserEngine* browser = BrowserEngine()) {
        Web = browser->CreateView(*this, WebContain);
        Web->setObjectName(QStringLiteral("Web"));
        contain->addWidget(Web);
    }

    WaitAnim = new TWaitAnim(this);
    WaitAnim->Start();
}

TControlPanel::~TControlPanel() {
    // The views report to this object, so they go before it does; a dying page still answers
    // its pending questions (with nothing), and those answers must find no view to use.
    Closed = true;
    TBrowserView* web = Web;
    TBrowserView* reconnect = WebReconnect;
    Web = WebReconnect = nullptr;
    delete reconnect;
    delete web;
}

void TControlPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    WaitAnim->move((width() - WaitAnim->width()) / 2, (height() - WaitAnim->height()) / 2);
}

bool TControlPanel::Login(TSync* sync) {
    Sync = sync;
    if (!Sync || !engine_) return false;
    if (!Web) {
        prompts_.ShowError("The embedded browser could not be loaded.\r\r" + BrowserLoadError());
        RequestClose();
        return false;
    }
    std::string password;
    if (Reconnecting) {
        password = Password;
    } else {
        TCPSignIn dialog(Sync->Biller.name, Sync->Biller.username, this);
        if (Sync->Biller.remembercppassword) {
            dialog.txtPassword->setText(GuiText(Sync->Biller.password));
            dialog.chkRemember->setChecked(true);
        }
        const bool ok = dialog.exec() == QDialog::Accepted;
        if (!ok || !Sync) {
            RequestClose();
            return false;
        }
        RememberPassword = dialog.chkRemember->isChecked();
        password = EngineText(dialog.txtPassword->text());
        Password = password;
    }
    const TAppState& app = engine_->App;
    WebPost(app.BusinessUrl + "dm_authenticate_2.php?DBGSESSID=1&b=" + app.BuildNumber,
            std::vector<std::string>{"un=" + Sync->Biller.username, "pw=" + password}, FormContentType, {},
            WebHandler(this, &TControlPanel::LoginResponse), this);
    return true;
}

void TControlPanel::LoginResponse(std::int32_t, WebStatus status, const std::string& text, std::int32_t) {
    if (status != wsDone || Closed || !Sync) return;
    const TSignInReply reply = ParseSignInReply(text);
    const TAppState& app = engine_->App;
    if (!reply.sid.empty()) {
        const std::string start = app.BusinessUrl + "dm_start.php?sid=" + reply.sid;
        reconnectRefusals_ = 0;
        if (Reconnecting) {
            if (!WebReconnect) {
                WebReconnect = BrowserEngine()->CreateView(*reconnectEvents_, Panel2);
                WebReconnect->setObjectName(QStringLiteral("WebReconnect"));
            }
            WebReconnect->Navigate(QUrl(GuiText(start)));
            return;
        }
        Sync->Biller.remembercppassword = RememberPassword;
        if (app.LoginExternal) {
            // The control panel now runs in the user's browser.
            ShellOpen(start);
            RequestClose();
            return;
        }
        Web->Navigate(QUrl(GuiText(start)));
        window()->setWindowState(window()->windowState() | Qt::WindowMaximized);
        return;
    }

    QPointer<TControlPanel> self(this);
    prompts_.ShowMessage(reply.msg.empty() ? std::string(PanelConnectFailedMessage) : reply.msg);
    if (!self || Closed || !Sync) return;
    if (reply.showlogin == "1") {
        // A silent re-sign-in that the service refuses twice asks the user instead of sending
        // the same password for ever.
        if (Reconnecting && ++reconnectRefusals_ > 1) {
            Reconnecting = false;
            reconnectRefusals_ = 0;
        }
        Login(Sync);
    } else {
        RequestClose();
    }
}

void TControlPanel::Reconnect() {
    if (Closed) return;
    WebContain->hide();
    WaitAnim->Start();
    Reconnecting = true;
    Login(Sync);
}

void TControlPanel::RefreshIfHome() {
    if (AtHome && Web) Web->Refresh();
}

void TControlPanel::WebReconnectDownloadComplete() {
    Reconnecting = false;
    WebContain->show();
    WaitAnim->Stop();
    ActivateBrowser();
}

void TControlPanel::ActivateBrowser() {
    if (Closed || !Web) return;
    // Only the page the user is looking at takes the keys.
    if (!IsPopup && !isVisible()) return;
    WebContain->setFocus(Qt::OtherFocusReason);
    if (Web->Url().isEmpty()) return;
    Web->Activate();
}

void TControlPanel::WebBeforeNavigate2(const QUrl&) {
    Panel1->hide();
    WaitAnim->Start();
    // In a popup the indicator is seen while every page loads.
    if (IsPopup) WebContain->hide();
}

void TControlPanel::WebDownloadComplete() {
    WebContain->show();
    WaitAnim->Stop();
    if (!IsPopup) ActivateBrowser();
}

void TControlPanel::WebDocumentComplete(const QUrl& url) {
    if (Closed || !Web) return;
    AtHome = false;
    const QString address = url.toString(QUrl::FullyEncoded);
    if (!IsPopup && !address.isEmpty()) AtHome = IsHomeUrl(address.toStdString());
    // The markers are always looked for in the top document, whichever frame completed.
    QPointer<TControlPanel> self(this);
    Web->PageText([self, url](const QString& text) {
        if (!self || !self->Web) return;
        self->Web->ContentType([self, url, text](const QString& type) {
            if (self) self->PageLoaded(url, text, type);
        });
    });
    Web->ElementAttribute(QStringLiteral("input"), QStringLiteral("_new_window_external"), QStringLiteral("value"),
                          [self](const QString& value, const QString&) {
                              if (self) self->newWindowExternal_ = value;
                          });
}

void TControlPanel::PageLoaded(const QUrl& url, const QString& text, const QString& contentType) {
    if (Closed) return;
    const QByteArray markup = text.toUtf8();
    const std::string_view page(markup.constData(), static_cast<size_t>(markup.size()));
    if (!IsPopup) {
        if (contentType.toLower() != QLatin1String("text/html")) {
            // A PDF or another document without our markers: Back lets the user leave it.
            btnPrint->hide();
            btnClose->hide();
            btnBack->show();
            Panel1->show();
        } else {
            switch (PanelCommandOf(page)) {
            case TPanelCommand::AccountCanceled:
                if (Sync) Sync->ShowCanceled();
                RequestClose();
                break;
            case TPanelCommand::Logout: btnCloseClick(); break;
            case TPanelCommand::ConfirmAccount:
                if (Sync) Sync->ConfirmAccount();
                break;
            case TPanelCommand::None: break;
            }
        }
    }
    if (HasPrintToolbarMarker(page)) ShowPrintToolbar();
    emit pageProcessed(url);
}

void TControlPanel::ShowPrintToolbar() {
    btnBack->hide();
    btnPrint->move(0, 0);
    btnPrint->show();
    btnClose->move(btnPrint->width(), 0);
    btnClose->show();
    Panel1->show();
}

TBrowserView* TControlPanel::WebNewWindow2(const QUrl& url) {
    if (newWindowExternal_ == QLatin1String("1")) return nullptr;
    auto* popup = new TWebPopup(prompts_, nullptr);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->ControlPanel1->OnActiveBrowser = OnActiveBrowser;
    popup->show();
    return popup->ControlPanel1->Web;
}

void TControlPanel::GetElementAttribute(const QString& tag, const QString& id, const QString& attribute,
                                        std::function<void(const QString&, const QString&)> done) {
    if (!Web) return;
    QPointer<TControlPanel> self(this);
    Web->ElementAttribute(tag, id, attribute, [self, done](const QString& value, const QString& error) {
        if (!self) return;
        if (!error.isEmpty()) self->prompts_.ShowError(EngineText(error));
        done(value, error);
    });
}

void TControlPanel::BrowserWindowClose() {
    if (IsPopup) RequestClose();
}

void TControlPanel::btnBackClick() {
    if (Web) Web->Back();
}

void TControlPanel::btnPrintClick() {
    if (Web) Web->Print([](bool) {});
}

void TControlPanel::btnCloseClick() { RequestClose(); }

void TControlPanel::RequestClose() {
    if (Closed) return;
    Closed = true;
    if (IsPopup) window()->close();
    else emit closeRequested(Sync);
}

void TControlPanel::SetActiveBrowser(TBrowserView* browser) {
    if (OnActiveBrowser) OnActiveBrowser(browser);
}

} // namespace dm
