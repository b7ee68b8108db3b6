// The payment notification popup in the real browser engine under Xvfb, fed by the real engine
// against the local service: the queue and its header, commands, the update notice, the
// placement beside the desktop's panel, the download link, what a fragment may not do, and
// the desktop notification over a private session bus.

#include "engine/About.h"
#include "engine/MainEngine.h"
#include "gui/dialogs/AboutView.h"
#include "gui/main/DesktopNotifier.h"
#include "gui/main/Main.h"
#include "gui/main/NotifyPopup.h"
#include "gui/panel/Browser.h"
#include "platform/System.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <httplib.h>

#include <filesystem>

#include <gtest/gtest.h>

using namespace dm;
using dmtest::Account;
using dmtest::Business;
using dmtest::TWindowFixture;
using dmtest::WaitUntil;
using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const std::string Command(const std::string& text) { return std::string("<!-- \b\b") + text + "\b\b -->"; }

struct TNotifyFixture : TWindowFixture {
    std::vector<std::string> desktop; // addresses given to the user's browser
    ShellOpener previousShell;
    std::vector<std::string> handed;
    TInstallerOpener previousInstaller;

    explicit TNotifyFixture(json update = {{"available", false}}) : TWindowFixture(Accounts()) {
        httplib::Client client("127.0.0.1", service->Port());
        json scenario{{"accounts", Accounts()}, {"update", update}};
        auto r = client.Post("/_test/scenario", scenario.dump(), "application/json");
        EXPECT_TRUE(r && r->status == 200);
        previousShell = SetShellOpener([this](const std::string& url) { desktop.push_back(url); });
        previousInstaller = SetInstallerOpener([this](const std::string& path) {
            handed.push_back(path);
            return true;
        });
        prompts.onNotification = [this](bool onlyWhenHidden, const std::string& fragment) {
            if (window) window->ShowNotification(onlyWhenHidden, fragment);
        };
    }
    ~TNotifyFixture() {
        for (const std::string& path : handed) std::filesystem::remove_all(std::filesystem::path(path).parent_path());
        SetShellOpener(previousShell);
        SetInstallerOpener(previousInstaller);
    }
    static json Accounts() { return json::array({Account("ann", "Harbour Supplies", "1001")}); }

    // The window with its biller, then out of sight in the tray (or on screen).
    void OpenWindow(bool hidden) {
        Settings(Business("ann", "Harbour Supplies", "1001"));
        Open(true);
        ASSERT_TRUE(WaitConfirmed());
        if (hidden) window->HideToTray();
        ASSERT_EQ(window->isVisible(), !hidden);
    }
    TNotifyPopup* Popup() const { return window->NotifyPopup(); }
    bool PopupShows() const { return Popup() && Popup()->isVisible(); }
    // The page's text as the browser holds it, once it has the text wanted.
    std::string PageText(const std::string& wanted) {
        std::string text;
        WaitUntil([&] {
            bool done = false;
            Popup()->WebBrowser1->PageText([&](const QString& t) {
                text = t.toStdString();
                done = true;
            });
            WaitUntil([&] { return done; }, 5s);
            return text.find(wanted) != std::string::npos;
        }, 15s);
        return text;
    }
    std::vector<json> Requests(const std::string& endpoint) {
        httplib::Client client("127.0.0.1", service->Port());
        auto r = client.Get("/_test/requests");
        std::vector<json> out;
        if (!r) return out;
        for (const json& q : json::parse(r->body)) {
            const std::string e = q.value("endpoint", "");
            if (e.size() >= endpoint.size() && e.compare(e.size() - endpoint.size(), endpoint.size(), endpoint) == 0)
                out.push_back(q);
        }
        return out;
    }
};

// A click where a user's would land: on the page's render widget.
void ClickPage(TBrowserView* view, QPoint at) {
    QWidget* target = view;
    while (target->focusProxy()) target = target->focusProxy();
    QTest::mouseClick(target, Qt::LeftButton, {}, at);
}

// The popup drawn where it stands on a 1024 x 768 desktop with a panel at the bottom.
void SaveOnDesktop(TNotifyPopup* popup, const std::string& name) {
    QApplication::processEvents();
    QTest::qWait(400); // the page paints
    QImage desktop(1024, 768, QImage::Format_RGB32);
    desktop.fill(QColor(58, 110, 165));
    QPainter p(&desktop);
    p.fillRect(0, 738, 1024, 30, QColor(40, 40, 40));
    p.setPen(Qt::white);
    p.drawText(QRect(8, 738, 200, 30), Qt::AlignVCenter, QStringLiteral("desktop panel"));
    p.drawImage(popup->pos(), popup->grab().toImage());
    p.end();
    dmtest::SaveImage(desktop, name);
}

void BottomPanel(QRect& screen, QRect& available) {
    screen = QRect(0, 0, 1024, 768);
    available = QRect(0, 0, 1024, 738);
}

} // namespace

// One fragment is shown at once; fragments that come meanwhile wait and are counted in the
// header, and "Next >>" goes through them until the header goes and the height is 150 again.
TEST(NotifyPopup, QueueHeaderAndNextThroughTheRealEngine) {
    TNotifyFixture f;
    f.OpenWindow(true);
    f.window->PopupScreenArea = BottomPanel;
    f.engine->ShowNotification(false, "<b>Acme Ltd</b> paid $1,250.00 on invoice #1001.", true);
    ASSERT_TRUE(WaitUntil([&] { return f.PopupShows(); }, 10s));
    TNotifyPopup* popup = f.Popup();
    ASSERT_NE(popup->WebBrowser1, nullptr) << BrowserLoadError();
    EXPECT_TRUE(popup->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(f.window->isVisible()) << "the popup is seen without the main window";
    EXPECT_EQ(popup->height(), TNotifyPopup::PlainHeight);
    EXPECT_EQ(popup->width(), TNotifyPopup::ClientWidth);
    EXPECT_FALSE(popup->Panel1->isVisible());
    EXPECT_NE(f.PageText("Acme Ltd").find("<b>Acme Ltd</b> paid $1,250.00"), std::string::npos);
    EXPECT_NE(popup->ShownPage.find("font-family: "), std::string::npos);
    EXPECT_EQ(popup->ShownPage.find("<html>\r\n<head>\r\n<style>\r\n"), 0u);
    SaveOnDesktop(popup, "notify_popup");

    f.engine->ShowNotification(false, "<b>Bolt Co</b> paid $80.00.", true);
    f.engine->ShowNotification(false, "<b>Crane Inc</b> paid $12.00.", true);
    EXPECT_TRUE(popup->Panel1->isVisible());
    EXPECT_EQ(popup->height(), TNotifyPopup::HeaderHeight);
    EXPECT_EQ(popup->Label1->text(), "2 more notifications to view.");
    EXPECT_NE(f.PageText("Acme").find("Acme Ltd"), std::string::npos) << "the one on screen stays";
    SaveOnDesktop(popup, "notify_popup_header");

    popup->btnNext->click();
    EXPECT_EQ(popup->Label1->text(), "1 more notification to view.");
    EXPECT_NE(f.PageText("Bolt Co").find("Bolt Co"), std::string::npos);
    popup->btnNext->click();
    EXPECT_FALSE(popup->Panel1->isVisible());
    EXPECT_EQ(popup->height(), TNotifyPopup::PlainHeight);
    EXPECT_NE(f.PageText("Crane Inc").find("Crane Inc"), std::string::npos);

    // Closing ends the cycle and empties the queue; the next fragment starts a new one.
    f.engine->ShowNotification(false, "<b>Dove</b> paid.", true);
    EXPECT_EQ(popup->Queue.size(), 1u);
    popup->close();
    EXPECT_FALSE(popup->isVisible());
    EXPECT_TRUE(popup->Queue.empty());
    EXPECT_FALSE(popup->Showing);
    f.engine->ShowNotification(false, "<b>Eagle</b> paid.", true);
    EXPECT_TRUE(popup->isVisible());
    EXPECT_NE(f.PageText("Eagle").find("Eagle"), std::string::npos);
    EXPECT_EQ(f.window->NotifyPopup(), popup) << "one popup for the program";
}

// Commands run whatever is shown: a fragment that is only a command shows nothing, and with
// Show off nothing is queued. The update notice never shows while the window is on screen.
TEST(NotifyPopup, CommandsRunAndNothingIsShownWhenThereIsNothingToShow) {
    struct {
        const char* what;
        std::string fragment;
        bool show;
        bool onlyWhenHidden;
        bool hidden;
        bool syncs;
    } cases[] = {
        {"only a command", "  " + Command("DM:syncpayments(1001)") + " \r\n", true, false, true, true},
        {"show off", "<b>Paid</b>" + Command("DM:syncpayments(1001)"), false, false, true, true},
        {"update notice, window on screen", UpdateNoticeFragment, true, true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TNotifyFixture f;
        f.OpenWindow(c.hidden);
        f.engine->ShowNotification(c.onlyWhenHidden, c.fragment, c.show);
        QTest::qWait(300);
        EXPECT_FALSE(f.PopupShows());
        if (f.Popup()) EXPECT_TRUE(f.Popup()->Queue.empty());
        if (c.syncs) {
            EXPECT_TRUE(WaitUntil([&] { return !f.Requests("quickbooks.php").empty(); }, 10s));
            const auto auth = f.Requests("quickbooks.php");
            ASSERT_FALSE(auth.empty());
            EXPECT_NE(auth[0]["body"].get<std::string>().find("<paymentsonly>1</paymentsonly>"), std::string::npos);
            WaitUntil([&] { return f.Biller(0)->Phase == TSync::phIdle; }, 30s);
        }
    }
}

// The main window's own check: with the window on screen only the bar appears; hidden in the
// tray, the notice comes as a popup, and its link hides the popup and downloads the update.
TEST(NotifyPopup, UpdateNoticeAndItsDownloadLink) {
    for (bool hidden : {false, true}) {
        SCOPED_TRACE(hidden ? "hidden" : "on screen");
        TNotifyFixture f({{"available", true}, {"startup_version", "5"}});
        f.OpenWindow(hidden);
        f.window->PopupScreenArea = BottomPanel;
        ASSERT_TRUE(WaitUntil([&] { return f.engine->UpdateBarShown; }, 10s));
        QTest::qWait(300);
        EXPECT_EQ(f.PopupShows(), hidden);
        if (!hidden) continue;
        TNotifyPopup* popup = f.Popup();
        EXPECT_NE(f.PageText("download_update").find("Download an updated version"), std::string::npos);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));
        QTest::qWait(300);
        SaveOnDesktop(popup, "notify_popup_update");

        bool downloadMode = false, popupHidden = false;
        dmtest::WhenModal([&](QWidget* modal) {
            auto* about = qobject_cast<TAboutView*>(modal);
            ASSERT_NE(about, nullptr);
            popupHidden = !popup->isVisible();
            WaitUntil([&] { return about->About.Status != TAbout::TStatus::Checking; }, 5s);
            downloadMode = about->About.Status == TAbout::TStatus::Downloading;
        });
        // The link in the notice's first line.
        ClickPage(popup->WebBrowser1, QPoint(40, 20));
        ASSERT_TRUE(WaitUntil([&] { return !f.handed.empty(); }, 20s));
        EXPECT_TRUE(popupHidden);
        EXPECT_TRUE(downloadMode);
        EXPECT_EQ(std::filesystem::path(f.handed[0]).filename(), "invara-desktop-manager.deb");
        EXPECT_FALSE(popup->Showing);
        EXPECT_TRUE(f.desktop.empty());

        // The next payment is shown again.
        f.app.UpdateLaunched = false;
        f.engine->ShowNotification(false, "<b>Paid</b> again.", true);
        EXPECT_TRUE(popup->isVisible());
    }
}

// The popup sits beside the panel at whichever edge it is, and in the bottom-right corner of
// the work area where there is none.
TEST(NotifyPopup, PlacedBesideThePanelAtEachEdge) {
    TNotifyFixture f;
    f.OpenWindow(true);
    struct {
        const char* what;
        QRect available;
        TPanelEdge edge;
    } cases[] = {
        {"bottom", QRect(0, 0, 1024, 738), TPanelEdge::Bottom},
        {"top", QRect(0, 28, 1024, 740), TPanelEdge::Top},
        {"left", QRect(48, 0, 976, 768), TPanelEdge::Left},
        {"right", QRect(0, 0, 976, 768), TPanelEdge::Right},
        {"none", QRect(0, 0, 1024, 768), TPanelEdge::None},
    };
    const QRect screen(0, 0, 1024, 768);
    f.window->PopupScreenArea = [&](QRect& s, QRect& a) {
        s = screen;
        a = cases[0].available;
    };
    f.engine->ShowNotification(false, "<b>Placed</b>", true);
    ASSERT_TRUE(f.PopupShows());
    TNotifyPopup* popup = f.Popup();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(PanelEdgeOf(screen, c.available), c.edge);
        popup->ScreenArea = [&](QRect& s, QRect& a) {
            s = screen;
            a = c.available;
        };
        popup->UpdateLayout();
        const QRect outer = popup->frameGeometry();
        const int w = outer.width() + 4, h = outer.height() + 4;
        QPoint expected;
        switch (c.edge) {
        case TPanelEdge::Bottom: expected = {1024 - w, 738 - h - 1}; break;
        case TPanelEdge::Top: expected = {1024 - w, 28 + 4}; break;
        case TPanelEdge::Left: expected = {48 + 4, 768 - h}; break;
        case TPanelEdge::Right: expected = {976 - w, 768 - h}; break;
        case TPanelEdge::None: expected = {1024 - w, 768 - h - 1}; break;
        }
        EXPECT_EQ(outer.topLeft(), expected);
    }
    // Panels at two edges (a top bar and a dock): the wider one counts.
    EXPECT_EQ(PanelEdgeOf(screen, QRect(0, 28, 1024, 690)), TPanelEdge::Bottom);
    EXPECT_EQ(PanelEdgeOf(screen, QRect(64, 28, 960, 740)), TPanelEdge::Left);
}

// A fragment's own scripts do not run, local files do not load, and its links go to the
// user's browser (web addresses only) without the popup leaving the fragment.
TEST(NotifyPopup, FragmentsRunNoScriptsAndTheirLinksOpenOutside) {
    TNotifyFixture f;
    f.OpenWindow(true);
    f.engine->ShowNotification(false,
                               "<a href=\"" + f.app.BaseUrl + "business/index.php\" style=\"display:block;height:30px\">"
                               "home</a><a href=\"file:///etc/hostname\" style=\"display:block;height:30px\">file</a>"
                               "<p id=\"p\">before</p><script>document.getElementById('p').textContent='after';"
                               "</script>",
                               true);
    ASSERT_TRUE(f.PopupShows());
    TNotifyPopup* popup = f.Popup();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));
    std::string text = f.PageText("before");
    EXPECT_NE(text.find(">before<"), std::string::npos) << text;
    EXPECT_EQ(text.find(">after<"), std::string::npos) << "the fragment's script ran";
    QTest::qWait(300);
    ClickPage(popup->WebBrowser1, QPoint(20, 22)); // the service's own page: still outside
    ClickPage(popup->WebBrowser1, QPoint(20, 52)); // a local file: nowhere
    ASSERT_TRUE(WaitUntil([&] { return !f.desktop.empty(); }, 10s));
    QTest::qWait(500);
    ASSERT_EQ(f.desktop.size(), 1u);
    EXPECT_EQ(f.desktop[0], f.app.BaseUrl + "business/index.php");
    EXPECT_EQ(popup->WebBrowser1->Url().toString(), "app://local/") << "the fragment's page stays";
    EXPECT_NE(f.PageText("before").find(">before<"), std::string::npos);
}

namespace {

// The desktop's notification service, as a test plays it on a private bus.
class TNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct TNotice {
        QString app, summary, body;
        QStringList actions;
    };
    std::vector<TNotice> notices;

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("actions")}; }
    uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int) {
        notices.push_back({app, summary, body, actions});
        return static_cast<uint>(notices.size());
    }
    void CloseNotification(uint) {}
    QString GetServerInformation(QString& vendor, QString& version, QString& protocol) {
        vendor = QStringLiteral("test");
        version = protocol = QStringLiteral("1.2");
        return QStringLiteral("test");
    }
};

// A session bus of the test's own, ended with the test.
struct TPrivateBus {
    QProcess daemon;
    QString address;
    TPrivateBus() {
        daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
        if (!daemon.waitForStarted(5000)) return;
        WaitUntil([&] { return daemon.canReadLine(); }, 5s);
        address = QString::fromUtf8(daemon.readLine()).trimmed();
    }
    ~TPrivateBus() {
        QDBusConnection::disconnectFromBus(QStringLiteral("test-agent"));
        QDBusConnection::disconnectFromBus(QStringLiteral("test-service"));
        daemon.terminate();
        daemon.waitForFinished(5000);
    }
};

} // namespace

// With a notification service on the bus, a payment while the window is hidden raises one
// desktop notice (its text without markup), whose default action brings the popup back; none
// while the window is on screen.
TEST(NotifyPopup, DesktopNotificationWhileHidden) {
    TPrivateBus bus;
    if (bus.address.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    QDBusConnection serviceBus = QDBusConnection::connectToBus(bus.address, QStringLiteral("test-service"));
    QDBusConnection agentBus = QDBusConnection::connectToBus(bus.address, QStringLiteral("test-agent"));
    ASSERT_TRUE(serviceBus.isConnected() && agentBus.isConnected());

    TNotifyFixture f;
    f.OpenWindow(true);
    // No service yet: only the popup, and nothing fails.
    f.window->SetNotifier(std::make_unique<TDesktopNotifier>(agentBus));
    EXPECT_FALSE(f.window->Notifier().Available());
    f.engine->ShowNotification(false, "<b>Early</b> payment.", true);
    EXPECT_TRUE(f.PopupShows());
    f.Popup()->close();

    TNotificationService service;
    ASSERT_TRUE(serviceBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                          QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serviceBus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    f.window->SetNotifier(std::make_unique<TDesktopNotifier>(agentBus));
    ASSERT_TRUE(WaitUntil([&] { return f.window->Notifier().Available() && f.window->Notifier().CapabilitiesRead(); }, 5s));

    f.engine->ShowNotification(false, "<b>Acme &amp; Sons</b> paid <i>$1,250.00</i>." + Command("DM:none"), true);
    ASSERT_TRUE(WaitUntil([&] { return !service.notices.empty(); }, 5s));
    QTest::qWait(300);
    ASSERT_EQ(service.notices.size(), 1u);
    EXPECT_EQ(service.notices[0].summary, "Invara");
    EXPECT_EQ(service.notices[0].body, "Acme & Sons paid $1,250.00.");
    EXPECT_EQ(service.notices[0].app, "Invara Desktop Manager");
    EXPECT_TRUE(service.notices[0].actions.contains("default"));
    ASSERT_TRUE(f.PopupShows());

    // Its default action brings the popup to the front again.
    f.Popup()->hide();
    QDBusMessage invoked = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                      QStringLiteral("org.freedesktop.Notifications"),
                                                      QStringLiteral("ActionInvoked"));
    invoked << uint(1) << QStringLiteral("default");
    serviceBus.send(invoked);
    EXPECT_TRUE(WaitUntil([&] { return f.PopupShows(); }, 5s));

    // On screen: the popup, no desktop notice.
    f.window->RestoreFromTray();
    ASSERT_TRUE(f.window->isVisible());
    f.engine->ShowNotification(false, "<b>Bolt</b> paid.", true);
    QTest::qWait(500);
    EXPECT_EQ(service.notices.size(), 1u);
}

#include "NotifyTest.moc"
