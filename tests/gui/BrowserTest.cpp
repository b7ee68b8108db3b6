// The embedded control panel and the web popups against the real local service, in the real
// browser engine under Xvfb: sign-in, reconnect, the command markers, the home page, PDFs, new
// windows, service popups, the all-biller summary and the agent's pseudo-addresses.

#include "engine/MainEngine.h"
#include "gui/enrol/BusinessSetupWizard.h"
#include "engine/Sync.h"
#include "gui/main/GuiPrompts.h"
#include "gui/main/Main.h"
#include "gui/panel/Browser.h"
#include "gui/panel/CPSignIn.h"
#include "gui/panel/ControlPanel.h"
#include "gui/panel/WebPopup.h"
#include "gui/sync/SyncView.h"
#include "platform/System.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QWindow>

#include <httplib.h>

#include <algorithm>

#include <gtest/gtest.h>

using namespace dm;
using dmtest::Account;
using dmtest::Business;
using dmtest::TWindowFixture;
using dmtest::WaitUntil;
using nlohmann::json;
using namespace std::chrono_literals;

namespace {

// What the user's browser would have been given.
struct TDesktopOpens {
    std::vector<std::string> urls;
    ShellOpener previous;
    TDesktopOpens() {
        previous = SetShellOpener([this](const std::string& url) { urls.push_back(url); });
    }
    ~TDesktopOpens() { SetShellOpener(previous); }
};

struct TPanelFixture : TWindowFixture {
    TDesktopOpens desktop;
    std::vector<QString> processed; // pages whose markers the current panel has handled
    int closeRequests = 0;

    explicit TPanelFixture(json accounts, json faults = json::array()) : TWindowFixture(accounts, faults) {}

    // The embedded panel, not the user's browser ("loginbrowser" is on when the file says nothing).
    void OpenWith(const std::string& businesses) {
        dmtest::WriteFileBytes(app.StorageFolder + app.EnvironmentPrefix + "invdesk.xml",
                       "<?xml version=\"1.0\"?><mvt><options><loginbrowser>0</loginbrowser></options><businesslist>" +
                           businesses + "</businesslist></mvt>");
        Open();
        ASSERT_TRUE(WaitConfirmed());
        ASSERT_FALSE(engine->Options.loginbrowser);
    }
    std::string Base() const { return app.BaseUrl; }
    TSyncView* View(size_t i) const { return window->ViewOf(Biller(i)); }
    TControlPanel* Panel(size_t i) const { return window->PanelOf(Biller(i)); }

    std::vector<json> Requests(const std::string& endpoint) {
        httplib::Client client("127.0.0.1", service->Port());
        auto r = client.Get("/_test/requests");
        std::vector<json> out;
        if (!r) return out;
        for (const json& q : json::parse(r->body))
            if (q.value("endpoint", "") == endpoint) out.push_back(q);
        return out;
    }

    // Presses Login; the dialog is answered by the action (which may look at it first).
    void PressLogin(size_t i, std::function<void(TCPSignIn&)> answer) {
        dmtest::WhenModal([answer](QWidget* modal) {
            auto* dialog = qobject_cast<TCPSignIn*>(modal);
            ASSERT_NE(dialog, nullptr);
            answer(*dialog);
        });
        View(i)->btnControlPanel->click();
    }
    void Watch(TControlPanel* panel) {
        processed.clear();
        QObject::connect(panel, &TControlPanel::pageProcessed, [this](const QUrl& url) { processed.push_back(url.toString()); });
        QObject::connect(panel, &TControlPanel::closeRequested, [this] { ++closeRequests; });
    }
    // Signs in with the password and waits for the start page.
    bool SignIn(size_t i, const std::string& password = "demo", bool remember = false) {
        PressLogin(i, [password, remember](TCPSignIn& d) {
            d.txtPassword->setText(QString::fromStdString(password));
            d.chkRemember->setChecked(remember);
            d.btnLogin->click();
        });
        if (!Panel(i)) return false;
        Watch(Panel(i));
        return WaitForPage("business/index.php");
    }
    bool WaitForPage(const std::string& ending, std::chrono::milliseconds bound = 20s) {
        const QString end = QString::fromStdString(ending);
        return WaitUntil([&] {
            for (const QString& url : processed)
                if (url.endsWith(end)) return true;
            return false;
        }, bound);
    }
    bool Load(size_t i, const std::string& page) {
        processed.clear();
        Panel(i)->Web->Navigate(QUrl(QString::fromStdString(Base() + page)));
        return WaitForPage(page);
    }
};

json Accounts() { return json::array({Account("ann", "Harbour Supplies", "1001"), Account("bob", "Bob's Bakery", "1002")}); }

QList<TWebPopup*> OpenPopups() {
    QList<TWebPopup*> popups;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<TWebPopup*>(w); p && p->isVisible()) popups << p;
    return popups;
}

} // namespace

TEST(ControlPanel, SignInLoadsTheStartPageWithTheSessionCookie) {
    TPanelFixture f(Accounts());
    f.OpenWith(Business("ann", "Harbour Supplies", "1001"));
    TSync* ann = f.Biller(0);
    EXPECT_FALSE(BrowserEngineLoaded()) << "no browser until the first control panel";

    f.PressLogin(0, [](TCPSignIn& d) {
        EXPECT_EQ(d.windowTitle(), "Control Panel Sign-In");
        EXPECT_EQ(d.lblBusiness->text(), "Harbour Supplies");
        EXPECT_EQ(d.lblUserName->text(), "ann");
        EXPECT_TRUE(d.txtPassword->text().isEmpty());
        EXPECT_FALSE(d.chkRemember->isChecked());
        d.txtPassword->setText("demo");
        d.chkRemember->setChecked(true);
        dmtest::SaveScreenshot(&d, "panel_sign_in_dialog");
        d.btnLogin->click();
    });
    TControlPanel* panel = f.Panel(0);
    ASSERT_NE(panel, nullptr) << BrowserLoadError();
    EXPECT_EQ(f.View(0)->btnControlPanel->text(), "Logout");
    f.Watch(panel);
    ASSERT_TRUE(f.WaitForPage("business/index.php"));
    EXPECT_TRUE(panel->AtHome);
    EXPECT_TRUE(ann->Biller.remembercppassword) << "the service accepted the sign-in";
    EXPECT_TRUE(f.window->windowState() & Qt::WindowMaximized);
    ASSERT_TRUE(WaitUntil([&] { return panel->WebContain->isVisible() && !panel->WaitAnim->Animating(); }));

    const auto signIns = f.Requests("business/dm_authenticate_2.php");
    ASSERT_EQ(signIns.size(), 1u);
    EXPECT_EQ(signIns[0]["form"]["un"], "ann");
    EXPECT_EQ(signIns[0]["form"]["pw"], "demo");
    EXPECT_EQ(signIns[0]["query"]["DBGSESSID"], "1");
    EXPECT_EQ(signIns[0]["query"]["b"], f.app.BuildNumber);
    const auto homes = f.Requests("business/index.php");
    ASSERT_FALSE(homes.empty());
    EXPECT_NE(homes.back()["headers"].value("cookie", "").find("INVARASESSID=S"), std::string::npos)
        << "the start page came with the session cookie";
    EXPECT_EQ(homes.back()["account"], "ann");
    QTest::qWait(300); // let the page paint before the picture
    dmtest::SaveScreenshot(f.window.get(), "panel_start_page");

    // The next sign-in offers the remembered password.
    f.View(0)->btnControlPanel->click();
    ASSERT_TRUE(WaitUntil([&] { return f.Panel(0) == nullptr; }));
    EXPECT_EQ(f.View(0)->btnControlPanel->text(), "Login");
    f.PressLogin(0, [](TCPSignIn& d) {
        EXPECT_EQ(d.txtPassword->text(), "demo");
        EXPECT_TRUE(d.chkRemember->isChecked());
        d.btnCancel->click();
    });
}

TEST(ControlPanel, CancelSendsNothingAndTheButtonStaysLogin) {
    TPanelFixture f(Accounts());
    f.OpenWith(Business("ann", "Harbour Supplies", "1001"));
    f.PressLogin(0, [](TCPSignIn& d) {
        d.txtPassword->setText("demo");
        d.chkRemember->setChecked(true);
        d.btnCancel->click();
    });
    ASSERT_TRUE(WaitUntil([&] { return f.Panel(0) == nullptr; }));
    QTest::qWait(200);
    EXPECT_TRUE(f.Requests("business/dm_authenticate_2.php").empty());
    EXPECT_EQ(f.View(0)->btnControlPanel->text(), "Login");
    EXPECT_FALSE(f.Biller(0)->Biller.remembercppassword);
}

TEST(ControlPanel, RefusedSignIns) {
    const struct {
        const char* name;
        json account;
        json faults;
        const char* message;
        bool askedAgain;
    } cases[] = {
        {"wrong password", Account("ann", "Harbour Supplies", "1001"), json::array(),
         "The user name or password you entered is not correct.", true},
        {"cancelled account",
         json{{"user", "ann"}, {"password", "demo"}, {"name", "Harbour Supplies"}, {"id", "1001"}, {"state", "deleted"}},
         json::array(), "Your Invara account has been canceled.", false},
        {"no message", Account("ann", "Harbour Supplies", "1001"),
         json::array({json{{"endpoint", "dm_authenticate_2.php"}, {"body", "sid=\r\nshowlogin=0\r\n"},
                           {"content_type", "text/plain"}}}),
         "Unable to connect to the control panel.", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPanelFixture f(json::array({c.account}), c.faults);
        f.OpenWith(Business("ann", "Harbour Supplies", "1001"));
        int dialogs = 0;
        std::function<void(TCPSignIn&)> answer = [&](TCPSignIn& d) {
            if (++dialogs == 2) {
                d.btnCancel->click();
                return;
            }
            d.txtPassword->setText(c.askedAgain ? "wrong" : "demo");
            d.chkRemember->setChecked(true);
            // showlogin=1: a second dialog follows the message.
            if (c.askedAgain)
                dmtest::WhenModal([&](QWidget* m) {
                    if (auto* again = qobject_cast<TCPSignIn*>(m)) answer(*again);
                });
            d.btnLogin->click();
        };
        dmtest::WhenModal([&](QWidget* m) {
            if (auto* d = qobject_cast<TCPSignIn*>(m)) answer(*d);
        });
        f.window->OpenControlPanel(f.Biller(0));
        ASSERT_TRUE(WaitUntil([&] { return f.Panel(0) == nullptr; }, 15s));
        ASSERT_EQ(f.prompts.messages.size(), 1u);
        EXPECT_EQ(f.prompts.messages.front(), c.message);
        EXPECT_EQ(dialogs, c.askedAgain ? 2 : 1);
        EXPECT_EQ(f.Requests("business/dm_authenticate_2.php").size(), 1u);
        EXPECT_FALSE(f.Biller(0)->Biller.remembercppassword) << "only an accepted sign-in sets the flag";
        EXPECT_EQ(f.View(0)->btnControlPanel->text(), "Login");
    }
}

TEST(ControlPanel, ReconnectOnTabChangeSignsInAgainWithoutADialog) {
    TPanelFixture f(Accounts());
    f.OpenWith(Business("ann", "Harbour Supplies", "1001") + Business("bob", "Bob's Bakery", "1002"));
    ASSERT_TRUE(f.SignIn(0, "demo", false));
    TControlPanel* panel = f.Panel(0);
    int dialogs = 0;
    auto refuseDialogs = [&] {
        dmtest::WhenModal([&](QWidget* m) {
            ++dialogs;
            if (auto* d = qobject_cast<TCPSignIn*>(m)) d->btnCancel->click();
        });
    };
    refuseDialogs();

    f.window->PageControl1->setCurrentIndex(1);
    f.window->PageControl1->setCurrentIndex(0);
    EXPECT_TRUE(panel->Reconnecting);
    EXPECT_FALSE(panel->WebContain->isVisible()) << "the wait indicator shows while the session is renewed";
    ASSERT_TRUE(WaitUntil([&] { return !panel->Reconnecting; }, 20s));
    EXPECT_TRUE(panel->WebContain->isVisible());
    EXPECT_FALSE(panel->WaitAnim->Animating());
    ASSERT_NE(panel->WebReconnect, nullptr);
    EXPECT_FALSE(panel->WebReconnect->isVisible());
    const auto signIns = f.Requests("business/dm_authenticate_2.php");
    ASSERT_EQ(signIns.size(), 2u);
    EXPECT_EQ(signIns[1]["form"]["pw"], "demo") << "the password of the last sign-in";
    EXPECT_EQ(f.Requests("business/dm_start.php").size(), 2u);
    EXPECT_EQ(dialogs, 0);

    // The service now refuses that password: it is sent once more, silently, and then the
    // user is asked.
    httplib::Client client("127.0.0.1", f.service->Port());
    json scenario = {{"accounts", json::array({json{{"user", "ann"}, {"password", "changed"}, {"name", "Harbour Supplies"},
                                                    {"id", "1001"}}})}};
    ASSERT_EQ(client.Post("/_test/scenario", scenario.dump(), "application/json")->status, 200);
    f.window->PageControl1->setCurrentIndex(1);
    f.window->PageControl1->setCurrentIndex(0);
    ASSERT_TRUE(WaitUntil([&] { return f.Panel(0) == nullptr; }, 20s)) << "the dialog's Cancel closes the panel";
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(f.prompts.messages, (std::vector<std::string>{"The user name or password you entered is not correct.",
                                                            "The user name or password you entered is not correct."}));
    const auto retries = f.Requests("business/dm_authenticate_2.php");
    ASSERT_EQ(retries.size(), 2u) << "the scenario reset forgot the first two";
    EXPECT_EQ(retries[0]["form"]["pw"], "demo");
    EXPECT_EQ(retries[1]["form"]["pw"], "demo");
}

TEST(ControlPanel, CommandMarkersOnTheBillersTab) {
    json ann = Account("ann", "Harbour Supplies", "1001");
    ann["invoices"] = json::array({json{{"number", "1001"}, {"customer", "Acme"}, {"amount", "125.00"},
                                        {"balance", "125.00"}, {"key", "5001"}}});
    TPanelFixture f(json::array({ann}));
    f.OpenWith(Business("ann", "Harbour Supplies", "1001"));
    ASSERT_TRUE(f.SignIn(0));
    TControlPanel* panel = f.Panel(0);

    const size_t confirmations = f.Requests("business/dm_confirm_account.php").size();
    ASSERT_TRUE(f.Load(0, "business/settings.php?saved=1"));
    ASSERT_TRUE(WaitUntil([&] { return f.Requests("business/dm_confirm_account.php").size() == confirmations + 1; }));
    EXPECT_FALSE(panel->Panel1->isVisible());

    ASSERT_TRUE(f.Load(0, "business/statement.php"));
    EXPECT_TRUE(panel->Panel1->isVisible());
    EXPECT_TRUE(panel->btnPrint->isVisible());
    EXPECT_TRUE(panel->btnClose->isVisible());
    EXPECT_EQ(panel->btnClose->x(), panel->btnPrint->width());
    EXPECT_FALSE(panel->btnBack->isVisible());

    // The text tested is the top document's, whichever frame completed: the frames carry the
    // print marker, the page around them does not.
    ASSERT_TRUE(f.Load(0, "business/frames.php"));
    EXPECT_GE(f.processed.size(), 3u) << "each frame and the page";
    EXPECT_FALSE(panel->Panel1->isVisible());

    // A PDF has no markers; Back lets the user leave it.
    f.processed.clear();
    panel->Web->Navigate(QUrl(QString::fromStdString(f.Base() + "business/invoice_pdf.php?id=5001")));
    ASSERT_TRUE(f.WaitForPage("invoice_pdf.php?id=5001"));
    EXPECT_TRUE(panel->Panel1->isVisible());
    EXPECT_TRUE(panel->btnBack->isVisible());
    EXPECT_FALSE(panel->btnPrint->isVisible());
    QTest::qWait(500);
    dmtest::SaveScreenshot(f.window.get(), "panel_pdf");
    panel->btnBack->click();
    ASSERT_TRUE(f.WaitForPage("business/frames.php"));

    // Logout closes the panel once, even when several documents carry the marker.
    panel->Web->Navigate(QUrl(QString::fromStdString(f.Base() + "business/frames.php?marker=logout")));
    ASSERT_TRUE(WaitUntil([&] { return f.Panel(0) == nullptr; }));
    QTest::qWait(300);
    EXPECT_EQ(f.closeRequests, 1);
    EXPECT_EQ(f.View(0)->btnControlPanel->text(), "Login");

    // Cancelling the account: the tab says so and the panel closes.
    ASSERT_TRUE(f.SignIn(0));
    f.closeRequests = 0;
    f.Panel(0)->Web->Navigate(QUrl(QString::fromStdString(f.Base() + "business/cancel_account.php?confirm=1")));
    ASSERT_TRUE(WaitUntil([&] { return f.Panel(0) == nullptr; }));
    EXPECT_EQ(f.closeRequests, 1);
    EXPECT_EQ(f.Biller(0)->Layout, TSync::TButtonLayout::Canceled);
    EXPECT_EQ(f.Biller(0)->BlockedText, "Your Invara account has been canceled.");
    EXPECT_FALSE(f.View(0)->btnControlPanel->isVisible());
}

TEST(ControlPanel, HomeIsTheIndexPageAndIsRefreshedAfterASession) {
    TPanelFixture f(Accounts());
    f.OpenWith(Business("ann", "Harbour Supplies", "1001"));
    ASSERT_TRUE(f.SignIn(0));
    TControlPanel* panel = f.Panel(0);
    EXPECT_TRUE(panel->AtHome);
    ASSERT_TRUE(f.Load(0, "business/index.php?x"));
    EXPECT_FALSE(panel->AtHome);
    ASSERT_TRUE(f.Load(0, "business/INDEX.PHP"));
    EXPECT_FALSE(panel->AtHome);
    ASSERT_TRUE(f.Load(0, "business/index.php"));
    EXPECT_TRUE(panel->AtHome);

    const size_t homes = f.Requests("business/index.php").size();
    f.View(0)->btnSyncNow->click();
    ASSERT_TRUE(WaitUntil([&] { return f.Biller(0)->Phase == TSync::phIdle && f.Biller(0)->CloseReceived; }, 30s));
    EXPECT_FALSE(f.Biller(0)->HadErrors) << f.Biller(0)->ErrorText;
    ASSERT_TRUE(WaitUntil([&] { return f.Requests("business/index.php").size() == homes + 1; }))
        << "the home page shows the new data";

    ASSERT_TRUE(f.Load(0, "business/statement.php"));
    f.View(0)->btnSyncNow->click();
    ASSERT_TRUE(WaitUntil([&] { return f.Biller(0)->Phase == TSync::phIdle; }, 30s));
    QTest::qWait(500);
    EXPECT_EQ(f.Requests("business/statement.php").size(), 1u) << "other pages are left as they are";
}

TEST(ControlPanel, NewWindowsOpenInAPopupOrTheUsersBrowser) {
    TPanelFixture f(Accounts());
    f.OpenWith(Business("ann", "Harbour Supplies", "1001"));
    ASSERT_TRUE(f.SignIn(0));

    ASSERT_TRUE(f.Load(0, "business/new_window.php?external=0"));
    ASSERT_TRUE(WaitUntil([&] { return OpenPopups().size() == 1; }));
    TWebPopup* popup = OpenPopups().front();
    EXPECT_EQ(popup->windowTitle(), "Invara");
    EXPECT_TRUE(popup->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(popup->ControlPanel1->IsPopup);
    ASSERT_TRUE(WaitUntil([&] { return popup->ControlPanel1->btnPrint->isVisible(); }, 20s))
        << "the print marker is honoured in a popup";
    EXPECT_TRUE(popup->ControlPanel1->btnClose->isVisible());
    EXPECT_TRUE(popup->ControlPanel1->Web->Url().toString().endsWith("business/report.php"));
    QTest::qWait(300);
    dmtest::SaveScreenshot(popup, "panel_new_window_popup");
    QPointer<TWebPopup> gone(popup);
    popup->ControlPanel1->btnClose->click();
    ASSERT_TRUE(WaitUntil([&] { return gone.isNull(); })) << "a modeless popup is freed when it closes";
    EXPECT_TRUE(f.desktop.urls.empty());

    ASSERT_TRUE(f.Load(0, "business/new_window.php?external=1"));
    ASSERT_TRUE(WaitUntil([&] { return !f.desktop.urls.empty(); }));
    EXPECT_EQ(f.desktop.urls.back(), f.Base() + "business/report.php");

    ASSERT_TRUE(f.Load(0, "business/new_window.php?external=0&to=foreign"));
    ASSERT_TRUE(WaitUntil([&] { return f.desktop.urls.size() == 2; }));
    EXPECT_EQ(f.desktop.urls.back(), "http://localhost:9/elsewhere.html") << "another host is never shown inside";
    QTest::qWait(300);
    EXPECT_TRUE(OpenPopups().isEmpty());
}

TEST(WebPopup, ServicePopupsTakeTheirSizeAndIgnoreTheOtherMarkers) {
    TPanelFixture f(Accounts());
    f.OpenWith(Business("ann", "Harbour Supplies", "1001"));
    TGuiPrompts prompts;
    prompts.Owner = f.window.get();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();

    TPopupSpec spec;
    spec.Url = f.Base() + "business/dm_start.php?sid=unknown"; // carries the logout marker
    spec.WidthPercent = 80;
    spec.Height = 500;
    spec.HideMaximize = true;
    bool seen = false;
    dmtest::WhenModal([&](QWidget* m) {
        auto* popup = qobject_cast<TWebPopup*>(m);
        ASSERT_NE(popup, nullptr);
        std::vector<QString> pages;
        QObject::connect(popup->ControlPanel1, &TControlPanel::pageProcessed,
                         [&](const QUrl& url) { pages.push_back(url.toString()); });
        EXPECT_TRUE(WaitUntil([&] { return !pages.empty(); }, 20s)) << popup->ControlPanel1->Web->Url().toString().toStdString();
        EXPECT_EQ(popup->width(), static_cast<int>(std::lround(area.width() * 0.8)));
        EXPECT_EQ(popup->height(), 500);
        EXPECT_FALSE(popup->windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_TRUE(popup->windowFlags() & Qt::WindowCloseButtonHint);
        QTest::qWait(300);
        EXPECT_TRUE(popup->isVisible()) << "the logout marker means nothing in a popup";
        dmtest::SaveScreenshot(popup, "service_popup");
        seen = true;
        popup->close();
    });
    prompts.ShowServicePopup(spec);
    EXPECT_TRUE(seen);

    // A page that closes its window closes the popup.
    TPopupSpec closing;
    closing.Url = f.Base() + "business/dm_popup.php?msg=Bye&close=1";
    bool forced = false;
    QTimer::singleShot(20000, [&] {
        if (QWidget* m = QApplication::activeModalWidget()) {
            forced = true;
            m->close();
        }
    });
    prompts.ShowServicePopup(closing);
    EXPECT_FALSE(forced);

    // Addresses of another host go to the user's browser; others are not opened at all.
    TPopupSpec foreign;
    foreign.Url = "https://elsewhere.test/offer";
    prompts.ShowServicePopup(foreign);
    TPopupSpec program;
    program.Url = "file:///usr/bin/xterm";
    prompts.ShowServicePopup(program);
    EXPECT_EQ(f.desktop.urls, std::vector<std::string>{"https://elsewhere.test/offer"});
}

TEST(WebPopup, AllBillerSummaryWithPrintAndClose) {
    TPanelFixture f(Accounts());
    f.OpenWith(Business("ann", "Harbour Supplies", "1001") + Business("bob", "Bob's <b>Bakery</b>", "1002"));
    f.Biller(0)->CloseReceived = true;
    f.Biller(1)->HadErrors = true;
    f.Biller(1)->ErrorKind = TSync::ekAccessNotGranted;
    TGuiPrompts prompts;
    prompts.Owner = f.window.get();
    bool printAsked = false, seen = false;
    dmtest::WhenModal([&](QWidget* m) {
        auto* popup = qobject_cast<TWebPopup*>(m);
        ASSERT_NE(popup, nullptr);
        TControlPanel* panel = popup->ControlPanel1;
        ASSERT_TRUE(WaitUntil([&] { return panel->btnPrint->isVisible(); }, 20s));
        EXPECT_EQ(popup->windowTitle(), SyncAllSummaryCaption);
        EXPECT_TRUE(panel->btnClose->isVisible());
        EXPECT_FALSE(panel->btnBack->isVisible());
        EXPECT_EQ(panel->Web->Url().scheme(), "app") << "the agent's own page, on its own scheme";
        QTest::qWait(300);
        dmtest::SaveScreenshot(popup, "summary_popup");
        dmtest::WhenModal([&](QWidget* dialog) {
            printAsked = qobject_cast<QPrintDialog*>(dialog) != nullptr;
            dialog->close();
        });
        panel->btnPrint->click();
        seen = true;
        panel->btnClose->click();
    });
    prompts.ShowHtml(SyncAllSummaryCaption, TMainEngine::SummaryHtml(f.engine->Billers()));
    EXPECT_TRUE(seen);
    EXPECT_TRUE(printAsked) << "Print opens the system print dialog";
}

namespace {

struct TRecorder : TBrowserEvents {
    std::vector<std::string> pseudo;
    int completes = 0;
    void BrowserPseudoLink(const std::string& address) override { pseudo.push_back(address); }
    void BrowserDownloadComplete() override { ++completes; }
};

} // namespace

TEST(BrowserEngine, PageScriptsCannotFakeAPseudoAddressOrOpenFiles) {
    TPanelFixture f(Accounts());
    f.OpenWith(Business("ann", "Harbour Supplies", "1001"));
    TRecorder events;
    QWidget host;
    host.resize(400, 300);
    TBrowserEngine* engine = BrowserEngine();
    ASSERT_NE(engine, nullptr) << BrowserLoadError();
    std::unique_ptr<TBrowserView> view(engine->CreateView(events, &host));
    view->setGeometry(0, 0, 400, 300);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    // The page's own script tries both fakes: a synthetic click and a console line in the
    // reporter's form.
    LoadHtmlIntoBrowser(*view, R"(<html><body style="margin:0">
<a id="l" href="about:link" style="position:absolute;left:0;top:0;width:200px;height:40px;display:block">link</a>
<a id="d" href="#download_update" style="position:absolute;left:0;top:60px;width:200px;height:40px;display:block">download</a>
<a id="r" href="about:remove" style="position:absolute;left:0;top:120px;width:200px;height:40px;display:block">remove</a>
<script>document.getElementById('r').click(); console.log('dm-00000000000000000000000000000000 link about:remove');</script>
</body></html>)");
    ASSERT_TRUE(WaitUntil([&] { return events.completes > 0; }, 20s));
    QTest::qWait(500);
    EXPECT_TRUE(events.pseudo.empty()) << "neither fake is taken for the user's click";

    // The engine's pages may not navigate to local files or programs.
    view->Navigate(QUrl("file:///etc/hostname"));
    QTest::qWait(500);
    EXPECT_NE(view->Url().scheme(), "file");
}

// The service's setup pages inside the Add Biller wizard: signed in with the new biller's login,
// closed by the page that reports success, or at once when there is no session to show.
TEST(BusinessSetup, SignsInShowsTheSetupPagesAndClosesOnSuccess) {
    TPanelFixture f(Accounts());
    f.OpenWith(Business("ann", "Harbour Supplies", "1001"));
    TBusinessSetupWizard window(f.app, f.window.get());
    ASSERT_NE(window.Web, nullptr);
    EXPECT_EQ(window.windowTitle(), "Invara Business Setup");
    EXPECT_EQ(window.width(), 684);
    EXPECT_LE(window.height(), 905);
    std::vector<QString> read;
    QObject::connect(&window, &TBusinessSetupWizard::documentRead, [&](const QUrl& url) { read.push_back(url.toString()); });
    window.UserName = "ann";
    window.Password = "demo";
    window.Start();
    window.show();
    auto shown = [&](const char* ending) {
        return dmtest::WaitUntil([&] {
            return std::any_of(read.begin(), read.end(), [&](const QString& u) { return u.endsWith(ending); });
        }, 20s);
    };
    ASSERT_TRUE(shown("setup.php?step=1"));
    const std::vector<json> signIns = f.Requests("business/dm_authenticate_2.php");
    ASSERT_EQ(signIns.size(), 1u);
    EXPECT_NE(signIns[0].dump().find("un=ann"), std::string::npos);
    EXPECT_TRUE(window.isVisible()) << "a page without the marker keeps the window open";
    dmtest::SaveScreenshot(&window, "business_setup_step1");

    window.Web->Navigate(QUrl(QString::fromStdString(f.Base() + "business/setup.php?step=3")));
    EXPECT_TRUE(dmtest::WaitUntil([&] { return !window.isVisible(); }, 20s)) << "the success marker closes it";
}

TEST(BusinessSetup, ClosesWhenThereIsNoSessionToShow) {
    TPanelFixture f(Accounts());
    f.OpenWith(Business("ann", "Harbour Supplies", "1001"));
    struct Case {
        const char* name;
        std::string password;
        bool unreachable;
    };
    for (const Case& c : {Case{"refused sign-in", "wrong", false}, Case{"service unreachable", "demo", true}}) {
        SCOPED_TRACE(c.name);
        TAppState app = f.app;
        if (c.unreachable) {
            app.BaseUrl = "http://127.0.0.1:9/";
            ComposeUrls(app);
        }
        TBusinessSetupWizard window(app, f.window.get());
        window.UserName = "ann";
        window.Password = c.password;
        window.Start();
        window.show();
        EXPECT_TRUE(dmtest::WaitUntil([&] { return !window.isVisible(); }, 20s));
    }
    // The user can always leave: Escape closes it while the pages are shown.
    TBusinessSetupWizard window(f.app, f.window.get());
    window.UserName = "ann";
    window.Password = "demo";
    window.Start();
    window.show();
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
}
