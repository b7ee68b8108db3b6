// The access repair against the stand-in's windows on a real X server, with the accessibility
// bus that carries its menus started by the test itself.

#include "gui/sync/AccessRepair.h"

#include "GuiSupport.h"
#include "EventLoop.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

// Last: Xlib's macros would break the headers above.
#include <X11/Xlib.h>

using namespace dm;
using namespace dmtest;
namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

const char* const BusLauncher = "/usr/libexec/at-spi-bus-launcher";

// A session bus and the accessibility bus beside it, started on first use and kept for the
// whole run: the accessibility library stays with the bus it first reached.
class TDesktopBus : public ::testing::Environment {
public:
    void TearDown() override {
        for (QProcess* p : {&launcher_, &daemon_}) {
            if (p->state() == QProcess::NotRunning) continue;
            p->terminate();
            if (!p->waitForFinished(3000)) p->kill();
            p->waitForFinished(3000);
        }
    }
    // Empty when both run; otherwise why not.
    const std::string& Problem() {
        if (!started_) {
            started_ = true;
            problem_ = Start();
        }
        return problem_;
    }

private:
    std::string Start() {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) return "dbus-daemon is not installed";
        if (!fs::exists(BusLauncher)) return std::string(BusLauncher) + " is not installed (at-spi2-core)";
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        if (!daemon_.waitForStarted() || !daemon_.waitForReadyRead(10000)) return "dbus-daemon did not start";
        const QByteArray address = daemon_.readLine().trimmed();
        setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1);
        unsetenv("AT_SPI_BUS_ADDRESS");
        launcher_.start(QString::fromLatin1(BusLauncher), {"--launch-immediately"});
        if (!launcher_.waitForStarted()) return "the accessibility bus did not start";
        return {};
    }
    bool started_ = false;
    std::string problem_;
    QProcess daemon_, launcher_;
};

TDesktopBus* const Bus = static_cast<TDesktopBus*>(::testing::AddGlobalTestEnvironment(new TDesktopBus));

// The stand-in's QuickBooks window, recording the keys it receives.
class TQuickBooksWindow {
public:
    explicit TQuickBooksWindow(const std::string& keysFile, const QStringList& more = {}) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(DM_BIN_DIR "/invara-qbsim"),
                       QStringList{"window", "--keys", QString::fromStdString(keysFile)} + more);
    }
    ~TQuickBooksWindow() {
        process_.kill();
        process_.waitForFinished(3000);
    }
    bool Shown(TWindowSearch& search) {
        return WaitUntil([&] { return bool(search.FindQuickBooksWindow()); }, std::chrono::seconds(20));
    }
    // Shown, and its menus reachable: the Help menu's About item does nothing.
    bool Ready(TWindowSearch& search) {
        return WaitUntil([&] { return search.FindQuickBooksWindow() && search.ClickQuickBooksMenu("Help", "About QuickBooks"); },
                         std::chrono::seconds(20));
    }

private:
    QProcess process_;
};

void SaveScreen(const std::string& name) {
    SaveImage(QGuiApplication::primaryScreen()->grabWindow(0).toImage(), name);
}

// Asks the window to close as a window manager's close box does.
void CloseWindow(TWindowHandle window) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_TRUE(display);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = static_cast<Window>(window);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, static_cast<Window>(window), False, NoEventMask, &event);
    XCloseDisplay(display);
}

struct TRepairFixture : TWindowFixture {
    TRepairFixture() : TWindowFixture(json::array({Account("demo", "Demo Co", "1001")})) {
        Settings(Business("demo", "Demo Co", "1001"));
        Qb({"deny"});
        Open();
        EXPECT_TRUE(WaitConfirmed());
        repair = window->findChild<TAccessRepair*>(QStringLiteral("AccessRepair"));
        EXPECT_TRUE(repair);
    }
    // The session is refused the company file; the user answers the offer with Yes.
    THelpAuthorize* SyncAndAcceptHelp() {
        prompts.answers = {TAnswer::Yes};
        Biller(0)->btnSyncNowClick(false);
        WaitUntil([&] { return repair->LastHelp && repair->LastHelp->isVisible(); }, std::chrono::seconds(20));
        return repair->LastHelp;
    }
    TAccessRepair* repair = nullptr;
};

} // namespace

TEST(AccessRepair, WithoutQuickBooksTheEmptyHelpPageStaysUntilClosed) {
    TRepairFixture f;
    ASSERT_TRUE(f.repair);
    THelpAuthorize* help = f.SyncAndAcceptHelp();
    ASSERT_TRUE(help);
    ASSERT_EQ(f.prompts.questions.size(), 1u);
    EXPECT_EQ(f.prompts.questions[0], FixAccessQuestion);
    EXPECT_EQ(f.repair->Outcome, roNotFound);
    EXPECT_EQ(f.Biller(0)->ErrorKind, TSync::ekAccessNotGranted);
    EXPECT_TRUE(help->Web->toPlainText().trimmed().isEmpty()) << help->Web->toPlainText().toStdString();
    EXPECT_EQ(help->windowTitle(), "Invara Help");
    EXPECT_TRUE(help->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(f.window->isVisible());
    // Nothing to follow: the page does not close by itself.
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    ASSERT_TRUE(f.repair->LastHelp);
    EXPECT_FALSE(help->tmrWatchQBPrefsWindow.isActive());
    SaveScreen("access_repair_quickbooks_not_running");

    help->close();
    EXPECT_TRUE(WaitUntil([&] { return !f.repair->LastHelp && f.window->isVisible(); }));
}

TEST(AccessRepair, OpensTheIntegratedApplicationsPageAndFollowsThePreferencesWindow) {
    if (const std::string& why = Bus->Problem(); !why.empty()) GTEST_SKIP() << why;
    TRepairFixture f;
    ASSERT_TRUE(f.repair);
    const std::string keys = f.dir.Folder() + "keys.txt";
    TQuickBooksWindow quickBooks(keys);
    TWindowSearch& search = f.window->WindowSearch;
    ASSERT_TRUE(quickBooks.Ready(search)) << "the stand-in's window or its menus never appeared";
    SaveScreen("access_repair_quickbooks_window");
    // A menu that exists with an item that does not: nothing is pressed.
    for (const auto& [menu, item] : {std::pair{"Edit", "Preferences"}, {"Edit", "No Such Item"}, {"Edition", "Preferences..."}})
        EXPECT_FALSE(search.ClickQuickBooksMenu(menu, item)) << menu << " > " << item;
    EXPECT_FALSE(search.FindTopWindow(PreferencesWindowClass, PreferencesTitlePart));

    THelpAuthorize* help = f.SyncAndAcceptHelp();
    ASSERT_TRUE(help);
    EXPECT_EQ(f.repair->Outcome, roPageReached);
    EXPECT_TRUE(WaitUntil([&] { return ReadFileBytes(keys) == "{home}\n{down}\n{down}\n{down}\n%c\n"; }))
        << ReadFileBytes(keys);
    EXPECT_FALSE(f.window->isVisible());
    EXPECT_TRUE(help->Web->toPlainText().contains("Click the \"Properties...\" button."));
    EXPECT_FALSE(help->Web->toPlainText().contains("Integrated Applications\" option"));

    // The help window hangs right below the Preferences window, moved to the top of the screen.
    const TWindowMatch prefs = search.FindTopWindow(PreferencesWindowClass, PreferencesTitlePart);
    ASSERT_TRUE(prefs);
    const std::optional<TWindowRect> below = search.Windows().Rect(prefs.Window);
    ASSERT_TRUE(below);
    EXPECT_EQ(below->Top, 0);
    EXPECT_TRUE(WaitUntil([&] {
        const std::optional<TWindowRect> r = search.Windows().Rect(help->winId());
        return r && r->Left == below->Left && r->Top == below->Bottom() && r->Width == below->Width;
    })) << "Preferences " << below->Left << "," << below->Top << " " << below->Width << "x" << below->Height
        << ", help " << help->x() << "," << help->y() << " " << help->width() << "x" << help->height();
    WaitUntil([] { return false; }, std::chrono::milliseconds(300)); // the Company Preferences tab paints
    SaveScreen("access_repair_integrated_applications");

    CloseWindow(prefs.Window);
    ASSERT_TRUE(WaitUntil([&] { return !search.FindTopWindow(PreferencesWindowClass, PreferencesTitlePart); }));
    int ticks = 0;
    if (f.repair->LastHelp)
        QObject::connect(&f.repair->LastHelp->tmrWatchQBPrefsWindow, &QTimer::timeout, [&] { ++ticks; });
    EXPECT_TRUE(WaitUntil([&] { return !f.repair->LastHelp; }));
    EXPECT_LE(ticks, 2);
    EXPECT_TRUE(WaitUntil([&] { return f.window->isVisible(); }));
}

TEST(AccessRepair, PreferencesOnAnotherPageGetTheStepsThatLeadThere) {
    if (const std::string& why = Bus->Problem(); !why.empty()) GTEST_SKIP() << why;
    TRepairFixture f;
    ASSERT_TRUE(f.repair);
    const std::string keys = f.dir.Folder() + "keys.txt";
    // The page sits further down the list than the walk goes.
    TQuickBooksWindow quickBooks(keys, {"--page-at", "9"});
    TWindowSearch& search = f.window->WindowSearch;
    ASSERT_TRUE(quickBooks.Ready(search));

    THelpAuthorize* help = f.SyncAndAcceptHelp();
    ASSERT_TRUE(help);
    EXPECT_EQ(f.repair->Outcome, roPageNotReached);
    std::string walked = "{home}\n";
    for (int i = 0; i < 7; ++i) walked += "{down}\n";
    EXPECT_TRUE(WaitUntil([&] { return ReadFileBytes(keys) == walked; })) << ReadFileBytes(keys);
    EXPECT_TRUE(help->Web->toPlainText().contains("Click on the \"Integrated Applications\" option"));
    const TWindowMatch prefs = search.FindTopWindow(PreferencesWindowClass, PreferencesTitlePart);
    ASSERT_TRUE(prefs);
    const std::optional<TWindowRect> below = search.Windows().Rect(prefs.Window);
    ASSERT_TRUE(below);
    EXPECT_TRUE(WaitUntil([&] {
        const std::optional<TWindowRect> r = search.Windows().Rect(help->winId());
        return r && r->Left == below->Left && r->Top == below->Bottom() && r->Width == below->Width;
    }));
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    SaveScreen("access_repair_other_page");

    // The user closes the help window first: the main window comes back, QuickBooks stays.
    help->close();
    EXPECT_TRUE(WaitUntil([&] { return !f.repair->LastHelp && f.window->isVisible(); }));
    EXPECT_TRUE(search.FindTopWindow(PreferencesWindowClass, PreferencesTitlePart));
}

// Its own test run (see CMakeLists.txt): the process keeps the bus it first reached.
TEST(AccessRepairWithoutBus, QuickBooksMenuOutOfReachShowsTheHelpWindowWithoutSteps) {
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    unsetenv("AT_SPI_BUS_ADDRESS");
    TRepairFixture f;
    ASSERT_TRUE(f.repair);
    const std::string keys = f.dir.Folder() + "keys.txt";
    TQuickBooksWindow quickBooks(keys);
    ASSERT_TRUE(quickBooks.Shown(f.window->WindowSearch));

    THelpAuthorize* help = f.SyncAndAcceptHelp();
    ASSERT_TRUE(help);
    EXPECT_EQ(f.repair->Outcome, roNotFound);
    EXPECT_TRUE(help->Web->toPlainText().trimmed().isEmpty());
    EXPECT_FALSE(f.window->isVisible());
    EXPECT_EQ(ReadFileBytes(keys), "") << "no keys go anywhere when the Preferences window is not there";
    help->close();
    EXPECT_TRUE(WaitUntil([&] { return f.window->isVisible(); }));
}

TEST(AccessRepair, HelpPagesCarryTheStepsOfTheirOutcome) {
    const std::string none = HelpAuthorizePage(roNotFound);
    EXPECT_EQ(none.find("<ol>"), std::string::npos);
    EXPECT_NE(none.find("bgcolor=\"#FFFFC0\""), std::string::npos);
    const std::string reached = HelpAuthorizePage(roPageReached);
    const std::string other = HelpAuthorizePage(roPageNotReached);
    EXPECT_EQ(reached.find("Integrated Applications"), std::string::npos);
    EXPECT_LT(other.find("Integrated Applications"), other.find("Company Preferences"));
    EXPECT_LT(other.find("Company Preferences"), other.find("Properties..."));
    EXPECT_NE(reached.find("Properties..."), std::string::npos);
}
