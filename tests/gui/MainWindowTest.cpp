// The main window on the real engine: tabs, biller bar and layout rule, captions, removal,
// tray behaviour, update bar, menus and the order of shutdown, with screenshots.

#include "gui/main/Main.h"
#include "gui/main/UpdateBar.h"
#include "gui/panel/LoginBubble.h"
#include "gui/sync/SyncView.h"
#include "engine/ActivityLog.h"
#include "platform/System.h"
#include "qb/QuickBooksHome.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QCoreApplication>
#include <cstdio>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>

#include <gtest/gtest.h>

using namespace dm;
using dmtest::Account;
using dmtest::Business;
using dmtest::TWindowFixture;
using nlohmann::json;

namespace {

QStringList Tabs(const TMain& w) {
    QStringList tabs;
    for (int i = 0; i < w.PageControl1->count(); ++i) tabs << w.PageControl1->tabText(i);
    return tabs;
}

QStringList Entries(const TMain& w) {
    QStringList entries;
    for (int i = 0; i < w.lbxBillers->count(); ++i) entries << w.lbxBillers->itemText(i);
    return entries;
}

// The layout rule: with the bar the page control hides its tab strip under it.
void ExpectLayout(const TMain& w, bool bar, int top = 0) {
    const QSize client = w.centralWidget()->size();
    const int height = client.height() - top;
    EXPECT_EQ(w.pnlBillers->isVisible(), bar);
    EXPECT_EQ(w.mnuSearchBillers->isVisible(), bar);
    if (bar) {
        EXPECT_EQ(w.pnlBillers->geometry(), QRect(0, top, client.width(), 28));
        EXPECT_EQ(w.PageControl1->geometry(), QRect(-4, top + 2, client.width() + 8, height + 2));
    } else {
        EXPECT_EQ(w.PageControl1->geometry(), QRect(-3, top, client.width() + 7, height + 4));
    }
}

} // namespace

TEST(MainWindow, OneBillerHasATabAndThreeHaveTheBar) {
    TWindowFixture f(json::array({Account("ann", "Zeta Works", "1003"), Account("bob", "alpha Co", "1001"),
                                  Account("cy", "Midway", "1002")}));
    f.Settings(Business("ann", "Zeta Works", "1003"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    EXPECT_EQ(Tabs(*f.window), QStringList{"Zeta Works"});
    ExpectLayout(*f.window, false);
    EXPECT_TRUE(f.window->PageControl1->tabBar()->isVisible());
    EXPECT_TRUE(f.window->BubbleOf(f.Biller(0))->isVisible()) << "a confirmed account shows the login hint";
    dmtest::SaveScreenshot(f.window.get(), "main_one_biller");

    f.window.reset();
    f.engine.reset();
    f.Settings(Business("ann", "Zeta Works", "1003") + Business("bob", "alpha Co", "1001") +
               Business("cy", "Midway", "1002"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    TMain& w = *f.window;
    EXPECT_EQ(Tabs(w), (QStringList{"Zeta Works", "alpha Co", "Midway"})) << "tabs in the order loaded";
    EXPECT_EQ(Entries(w), (QStringList{"Biller 1001 - alpha Co", "Biller 1002 - Midway", "Biller 1003 - Zeta Works"}))
        << "the list is sorted";
    ExpectLayout(w, true);

    // The list and the tabs follow each other.
    w.PageControl1->setCurrentIndex(2);
    EXPECT_EQ(w.lbxBillers->currentText(), "Biller 1002 - Midway");
    emit w.lbxBillers->activated(2);
    EXPECT_EQ(w.PageControl1->currentWidget(), w.PageOf(f.Biller(0)));

    w.resize(900, 600);
    QCoreApplication::processEvents();
    ExpectLayout(w, true);
}

TEST(MainWindow, ThreeBillersInDifferentStates) {
    TWindowFixture f(json::array({Account("ann", "Harbour Supplies", "1001"),
                                  json{{"user", "bob"}, {"password", "demo"}, {"name", "Bob's Bakery"}, {"id", "1002"},
                                       {"state", "suspended"}, {"message", "Your account is suspended. Please call us."}},
                                  Account("cy", "City & Country", "1003")}),
                     json::array({json{{"operation", "sendRequestXML"}, {"account", "cy"}, {"delay_ms", 3000}}}));
    f.Settings(Business("ann", "Harbour Supplies", "1001") + Business("bob", "Bob's Bakery", "1002") +
               Business("cy", "City &amp; Country", "1003"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    TMain& w = *f.window;

    TSync* ann = f.Biller(0);
    TSyncView* annView = w.ViewOf(ann);
    ASSERT_TRUE(annView->btnSyncNow->isVisible());
    annView->btnSyncNow->click();
    ASSERT_TRUE(dmtest::WaitUntil([&] { return ann->Phase == TSync::phIdle && ann->Biller.lastsync.isValid(); },
                                  std::chrono::seconds(30)));
    EXPECT_FALSE(ann->HadErrors) << ann->ErrorText;
    dmtest::SaveScreenshot(&w, "main_three_billers_synchronised");

    TSync* bob = f.Biller(1);
    EXPECT_TRUE(bob->Blocked);
    w.PageControl1->setCurrentWidget(w.PageOf(bob));
    EXPECT_TRUE(w.ViewOf(bob)->btnControlPanel->isVisible());
    EXPECT_FALSE(w.ViewOf(bob)->btnSyncNow->isVisible());
    EXPECT_FALSE(w.BubbleOf(bob)->isVisible());
    dmtest::SaveScreenshot(&w, "main_three_billers_suspended");

    TSync* cy = f.Biller(2);
    w.PageControl1->setCurrentWidget(w.PageOf(cy));
    EXPECT_EQ(w.PageControl1->tabText(2), "City && Country");
    w.ViewOf(cy)->btnSyncNow->click();
    ASSERT_TRUE(dmtest::WaitUntil([&] { return cy->Phase == TSync::phSendRequest && cy->QbConnected; }));
    EXPECT_FALSE(w.ViewOf(cy)->btnSyncNow->isEnabled());
    EXPECT_FALSE(w.ViewOf(cy)->btnRemove->isEnabled());
    dmtest::SaveScreenshot(&w, "main_three_billers_session");
    ASSERT_TRUE(dmtest::WaitUntil([&] { return cy->Phase == TSync::phIdle; }, std::chrono::seconds(30)));
}

TEST(MainWindow, CaptionsDoubleAmpersandsAndPrefixOnlyLoadedBillers) {
    TWindowFixture f(json::array({Account("ann", "A & B", "1001"), Account("bob", "Second & Co", "1002")}));
    f.app.EnvironmentPrefix = "dev";
    f.app.TabCaptionPrefix = "Dev - ";
    f.Settings(Business("ann", "A &amp; B", "1001"));
    f.Open();
    EXPECT_EQ(Tabs(*f.window), QStringList{"Dev - A && B"});

    BillerRecord added;
    added.name = "Second & Co";
    added.id = "1002";
    added.username = "bob";
    added.password = "demo";
    f.engine->AddBiller(added, false); // as the Add Biller wizard adds it
    EXPECT_EQ(Tabs(*f.window), (QStringList{"Dev - A && B", "Second && Co"}));
    EXPECT_EQ(Entries(*f.window), (QStringList{"Biller 1001 - A & B", "Second & Co"}));
    ExpectLayout(*f.window, true);
}

TEST(MainWindow, RemovingOneOfTwoHidesTheBarAndConfirms) {
    TWindowFixture f(json::array({Account("ann", "Keep Co", "1001"), Account("bob", "Gone Co", "1002")}));
    f.Settings(Business("ann", "Keep Co", "1001") + Business("bob", "Gone Co", "1002"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    TMain& w = *f.window;
    TSync* gone = f.Biller(1);
    w.PageControl1->setCurrentWidget(w.PageOf(gone));

    f.prompts.answers = {TAnswer::Yes};
    w.ViewOf(gone)->btnRemove->click();
    ASSERT_TRUE(dmtest::WaitUntil([&] { return !f.prompts.messages.empty(); }));
    EXPECT_EQ(f.prompts.messages, std::vector<std::string>{BillerRemovedMessage});
    EXPECT_EQ(Tabs(w), QStringList{"Keep Co"});
    EXPECT_EQ(Entries(w), QStringList{"Biller 1001 - Keep Co"});
    EXPECT_EQ(w.lbxBillers->currentIndex(), 0);
    ExpectLayout(w, false);
    std::string saved = dmtest::ReadFileBytes(f.app.StorageFolder + "invdesk.xml");
    EXPECT_EQ(saved.find("Gone Co"), std::string::npos);
    EXPECT_NE(saved.find("Keep Co"), std::string::npos);
}

TEST(MainWindow, CloseBoxHidesToTheTrayOrMinimisesWithoutOne) {
    for (bool tray : {true, false}) {
        SCOPED_TRACE(tray);
        TWindowFixture f(json::array({Account("ann", "Demo Co", "1001")}));
        f.Settings(Business("ann", "Demo Co", "1001"));
        f.Open(tray);
        TMain& w = *f.window;
        EXPECT_FALSE(w.close()) << "the close box does not end the program";
        QCoreApplication::processEvents();
        if (tray) {
            EXPECT_FALSE(w.isVisible());
            EXPECT_TRUE(w.TrayIcon->isVisible());
        } else {
            EXPECT_TRUE(w.isVisible()) << "without a tray the window could not be found again";
            EXPECT_TRUE(w.isMinimized());
        }
        EXPECT_FALSE(f.engine->Billers().empty());

        w.mnuTrayOpen->trigger();
        ASSERT_TRUE(dmtest::WaitUntil([&] { return w.isVisible() && !w.isMinimized() && !w.tmrStartup.isActive(); }));

        w.showMinimized();
        ASSERT_TRUE(dmtest::WaitUntil([&] { return tray ? !w.isVisible() : w.isMinimized(); }));
        w.BringToFront();
        EXPECT_TRUE(w.isVisible());
        EXPECT_FALSE(w.isMinimized());
    }
}

TEST(MainWindow, StartedMinimisedGoesToTheTrayAtOnce) {
    for (bool tray : {true, false}) {
        SCOPED_TRACE(tray);
        TWindowFixture f(json::array({Account("ann", "Demo Co", "1001")}));
        f.Settings(Business("ann", "Demo Co", "1001"));
        f.app.StartMinimized = true;
        f.engine = std::make_unique<TMainEngine>(f.app, f.prompts);
        f.window = std::make_unique<TMain>(f.app, *f.engine, f.prompts);
        f.window->TrayAvailable = tray;
        f.window->LoadBillers();
        f.window->StartTimers();
        EXPECT_EQ(f.window->tmrStartup.interval(), 1);
        ASSERT_TRUE(dmtest::WaitUntil([&] { return !f.window->tmrStartup.isActive(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(f.window->isVisible(), !tray);
        EXPECT_EQ(f.window->isMinimized(), !tray);
        EXPECT_FALSE(f.app.StartMinimized);
    }
}

TEST(MainWindow, ShutdownSavesThenClosesQuickBooksFromTheLastBillerToTheFirst) {
    TWindowFixture f(json::array({Account("ann", "First Co", "1001"), Account("bob", "Last Co", "1002")}),
                     json::array({json{{"operation", "sendRequestXML"}, {"delay_ms", 2500}}}));
    f.Settings(Business("ann", "First Co", "1001") + Business("bob", "Last Co", "1002"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    TSync* last = f.Biller(1);
    f.window->ViewOf(last)->btnSyncNow->click();
    ASSERT_TRUE(dmtest::WaitUntil([&] { return last->QbConnected && last->Phase == TSync::phSendRequest; }));
    TQuickBooksHome qb(f.QbHome());
    ASSERT_EQ(qb.ReadState().Sessions.size(), 1u) << "a QuickBooks session is open";

    const std::string settings = f.app.StorageFolder + "invdesk.xml";
    std::remove(settings.c_str());
    std::vector<std::string> order;
    for (TSync* frame : f.engine->Billers()) {
        QObject::connect(frame, &QObject::destroyed, [&, name = frame->Biller.name] {
            // By then the settings are saved with every biller, and QuickBooks is closed.
            std::string saved = dmtest::ReadFileBytes(settings);
            bool both = saved.find("First Co") != std::string::npos && saved.find("Last Co") != std::string::npos;
            order.push_back(name + (both ? " saved" : " unsaved") +
                            (TQuickBooksHome(f.QbHome()).ReadState().Sessions.empty() ? " closed" : " open"));
        });
    }
    f.window->Exit();
    f.window->Shutdown();
    EXPECT_EQ(order, (std::vector<std::string>{"Last Co saved closed", "First Co saved closed"}));
    EXPECT_EQ(f.window->PageControl1->count(), 0);
    // The session the exit cut short did not end: its log has no end line, so it never reads as
    // a successful one.
    std::string log = dmtest::ReadFileBytes(f.app.StorageFolder + "log.txt");
    const size_t cut = log.rfind(std::string(" # 1002"));
    ASSERT_NE(cut, std::string::npos);
    EXPECT_EQ(log.find(LogSessionEndMarker, cut), std::string::npos) << log.substr(cut);
    QCoreApplication::processEvents(); // the posted quit must not linger into the next test
}

TEST(MainWindow, UpdateBarPushesTheTabsDownUntilSkipped) {
    TWindowFixture f(json::array({Account("ann", "Demo Co", "1001")}));
    f.Settings(Business("ann", "Demo Co", "1001"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    TMain& w = *f.window;
    EXPECT_FALSE(w.pnlUpdate->isVisible());
    w.ShowUpdateBar();
    EXPECT_TRUE(w.pnlUpdate->isVisible());
    EXPECT_EQ(w.pnlUpdate->geometry(), QRect(0, 0, w.centralWidget()->width(), 33));
    EXPECT_NE(w.pnlUpdate->Label4->text().indexOf(QString::fromLatin1(UpdateBarText)), -1);
    ExpectLayout(w, false, 33);
    dmtest::SaveScreenshot(&w, "main_update_bar");

    emit w.pnlUpdate->Label1->linkActivated(QStringLiteral("skip"));
    EXPECT_FALSE(w.pnlUpdate->isVisible());
    ExpectLayout(w, false);
}

TEST(MainWindow, MenusFollowTheVariantAndTheOptions) {
    struct Case {
        bool hosted, noLogs, local;
        std::string statusText;
    };
    for (Case c : {Case{false, false, true, "QA Environment"}, Case{true, false, false, ""},
                   Case{false, true, false, ""}}) {
        SCOPED_TRACE(std::to_string(c.hosted) + std::to_string(c.noLogs));
        TWindowFixture f(json::array({Account("ann", "Demo Co", "1001")}));
        f.app.HostedMode = c.hosted;
        f.app.ShowLocalMenu = c.local;
        f.app.StatusBarText = c.statusText;
        f.app.WindowCaption = c.statusText.empty() ? ApplicationTitle : "[ QA ] Invara Desktop Manager";
        f.Settings(Business("ann", "Demo Co", "1001"));
        f.Open();
        TMain& w = *f.window;
        f.engine->Options.NoLogs = c.noLogs;
        emit w.mnuFile->aboutToShow();
        EXPECT_EQ(w.mnuOptions->isVisible(), !c.hosted);
        EXPECT_EQ(w.mnuViewLog->isVisible(), !c.hosted && !c.noLogs);
        EXPECT_EQ(w.mnuLocal != nullptr, c.local);
        EXPECT_EQ(w.windowTitle().toStdString(), f.app.WindowCaption);
        if (c.statusText.empty()) {
            EXPECT_EQ(w.StatusPanel, nullptr);
        } else {
            ASSERT_NE(w.StatusPanel, nullptr);
            EXPECT_EQ(w.StatusPanel->text().toStdString(), c.statusText);
            EXPECT_EQ(w.StatusPanel->width(), 300);
        }
        EXPECT_TRUE(w.mnuAbout->isEnabled()) << "the About box, in every variant";
        EXPECT_TRUE(w.mnuAddBiller->isEnabled());
        EXPECT_EQ(w.mnuViewLog->isEnabled(), !c.hosted && !c.noLogs);
        EXPECT_FALSE(w.mnuSearchBillers->isEnabled()) << "hidden with one biller, F3 included";
        EXPECT_TRUE(w.mnuExit->isEnabled());
        EXPECT_EQ(w.mnuOptions->isEnabled(), !c.hosted); // a hidden action is disabled as well
        EXPECT_EQ(w.mnuAddBiller->shortcut(), QKeySequence(QStringLiteral("Ctrl+A")));
        EXPECT_EQ(w.mnuExit->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
        if (c.local) dmtest::SaveScreenshot(&w, "main_qa_environment");
    }
}

TEST(MainWindow, LoginOpensTheSignInPageInTheDesktopBrowser) {
    TWindowFixture f(json::array({Account("ann", "Demo Co", "1001")}));
    f.Settings(Business("ann", "Demo Co", "1001"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    std::vector<std::string> opened;
    ShellOpener previous = SetShellOpener([&](const std::string& target) { opened.push_back(target); });
    f.window->ViewOf(f.Biller(0))->btnControlPanel->click();
    SetShellOpener(previous);
    EXPECT_EQ(opened, std::vector<std::string>{f.app.BaseUrl + "securelogin"});
}

TEST(MainWindow, NoBillerSaysSoPlainly) {
    TWindowFixture f(json::array());
    f.Open();
    EXPECT_TRUE(f.window->lblNoBiller->isVisible());
    EXPECT_TRUE(f.window->lblNoBiller->text().startsWith(QStringLiteral("No biller is set up.")));
    EXPECT_FALSE(f.window->PageControl1->isVisible());
    dmtest::SaveScreenshot(f.window.get(), "main_no_biller");
}

TEST(MainWindow, SyncAllBillersShowsItsProgressInTheBar) {
    TWindowFixture f(json::array({Account("ann", "Alpha Co", "1001"), Account("bob", "Beta Co", "1002")}),
                     json::array({json{{"operation", "sendRequestXML"}, {"account", "ann"}, {"delay_ms", 1500}}}));
    f.Settings(Business("ann", "Alpha Co", "1001") + Business("bob", "Beta Co", "1002"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    TMain& w = *f.window;

    // A single biller's session greys the button out until it ends.
    TSync* beta = f.Biller(1);
    ASSERT_TRUE(w.btnSyncAllBillers->isEnabled());
    w.ViewOf(beta)->btnSyncNow->click();
    EXPECT_FALSE(w.btnSyncAllBillers->isEnabled());
    ASSERT_TRUE(dmtest::WaitUntil([&] { return !f.engine->SyncInProgress(); }, std::chrono::seconds(30)));
    EXPECT_TRUE(w.btnSyncAllBillers->isEnabled());

    f.prompts.answers = {TAnswer::No}; // no review of new invoices
    w.btnSyncAllBillers->click();
    ASSERT_TRUE(dmtest::WaitUntil([&] { return f.Biller(0)->Phase == TSync::phSendRequest; }));
    EXPECT_TRUE(w.lblSyncAll->isVisible());
    EXPECT_EQ(w.lblSyncAll->text(), "Synchronize all billers... 1 of 2: Alpha Co");
    EXPECT_FALSE(w.lbxBillers->isVisible());
    EXPECT_FALSE(w.btnSearchBillers->isVisible());
    EXPECT_FALSE(w.btnSyncAllBillers->isVisible());
    EXPECT_EQ(w.PageControl1->currentWidget(), w.PageOf(f.Biller(0)));
    EXPECT_FALSE(w.ViewOf(f.Biller(0))->btnControlPanel->isEnabled());
    EXPECT_FALSE(w.ViewOf(f.Biller(1))->btnSyncOptions->isEnabled());
    EXPECT_FALSE(w.BubbleOf(f.Biller(0))->isVisibleTo(w.PageOf(f.Biller(0)))) << "the running biller shows no login hint";
    dmtest::SaveScreenshot(&w, "main_sync_all_running");

    ASSERT_TRUE(dmtest::WaitUntil([&] { return !f.prompts.pages.empty(); }, std::chrono::seconds(30)));
    EXPECT_EQ(f.prompts.pages[0].first, SyncAllSummaryCaption);
    EXPECT_FALSE(w.lblSyncAll->isVisible());
    EXPECT_TRUE(w.lbxBillers->isVisible());
    EXPECT_TRUE(w.btnSyncAllBillers->isVisible());
    EXPECT_TRUE(w.btnSyncAllBillers->isEnabled());
    for (TSync* frame : f.engine->Billers()) {
        EXPECT_TRUE(w.ViewOf(frame)->btnControlPanel->isEnabled());
        EXPECT_TRUE(w.ViewOf(frame)->btnSyncOptions->isEnabled());
        EXPECT_TRUE(w.BubbleOf(frame)->isVisibleTo(w.PageOf(frame)));
    }
}

// The panel comes after the agent (started at login) and may go away again: the window follows
// it and is never hidden without a way back.
TEST(MainWindow, TrayThatComesAndGoes) {
    TWindowFixture f(json::array({Account("ann", "Demo Co", "1001")}));
    f.Settings(Business("ann", "Demo Co", "1001"));
    f.Open(false);
    bool panel = false;
    f.window->TrayProbe = [&] { return panel; };
    EXPECT_TRUE(f.window->tmrTrayWatch.isActive());
    EXPECT_EQ(f.window->tmrTrayWatch.timerType(), Qt::VeryCoarseTimer);

    f.window->close();
    EXPECT_TRUE(f.window->isVisible()) << "no tray yet: the close box only minimises";
    EXPECT_TRUE(f.window->isMinimized());

    panel = true;
    f.window->tmrTrayWatchTimer();
    EXPECT_TRUE(f.window->TrayAvailable);
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.window->isVisible()) << "the minimised window moves into the tray that appeared";

    panel = false;
    f.window->tmrTrayWatchTimer();
    EXPECT_FALSE(f.window->TrayAvailable);
    EXPECT_TRUE(f.window->isVisible()) << "the tray holding the window went away: it is shown minimised";
    EXPECT_TRUE(f.window->isMinimized());
}

TEST(MainWindow, ModalDialogKeepsTheWindowAndComesBackFirst) {
    TWindowFixture f(json::array({Account("ann", "Demo Co", "1001")}));
    f.Settings(Business("ann", "Demo Co", "1001"));
    f.Open(true);
    bool hiddenUnderDialog = true, dialogBack = false;
    QMessageBox box(QMessageBox::Question, "Invara Desktop Manager", "A question", QMessageBox::Yes | QMessageBox::No,
                    f.window.get());
    dmtest::WhenModal([&](QWidget* modal) {
        // The dialog's minimise takes the window with it; the window must not hide then.
        modal->showMinimized();
        f.window->showMinimized();
        QCoreApplication::processEvents();
        dmtest::WaitUntil([] { return false; }, std::chrono::milliseconds(100));
        hiddenUnderDialog = !f.window->isVisible();
        // A second start (or a tray click) brings the dialog itself back.
        f.window->BringToFront();
        dialogBack = modal->isVisible() && !modal->isMinimized();
        static_cast<QMessageBox*>(modal)->done(QMessageBox::No);
    });
    box.exec();
    EXPECT_FALSE(hiddenUnderDialog);
    EXPECT_TRUE(dialogBack);
}

TEST(MainWindow, ExitFromTheTrayAnswersAnOpenDialogAsCancel) {
    TWindowFixture f(json::array({Account("ann", "Demo Co", "1001")}));
    f.Settings(Business("ann", "Demo Co", "1001"));
    f.Open(true);
    ASSERT_TRUE(f.window->mnuTrayExit->isEnabled());
    QDialog dialog(f.window.get());
    dmtest::WhenModal([&](QWidget*) { f.window->mnuTrayExit->trigger(); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(MainWindow, TrayTellsWhatTheAgentIsDoing) {
    TWindowFixture f(json::array({Account("ann", "Demo Co", "1001")}));
    f.Settings(Business("ann", "Demo Co", "1001"));
    f.Open(true);
    ASSERT_TRUE(f.WaitConfirmed());
    TSync* frame = f.Biller(0);
    EXPECT_EQ(f.window->TrayIcon->toolTip(), "Invara Desktop Manager");
    frame->Phase = TSync::phReceiveResponse;
    frame->Percentage = 42;
    emit frame->changed();
    EXPECT_EQ(f.window->TrayIcon->toolTip(), "Invara Desktop Manager\nSynchronizing Demo Co: 42%");
    frame->Phase = TSync::phIdle;
    frame->HadErrors = true;
    emit frame->changed();
    EXPECT_EQ(f.window->TrayIcon->toolTip(), "Invara Desktop Manager\nLast sync of Demo Co failed");
    EXPECT_TRUE(f.window->TrayIcon->property("failed").toBool());
    EXPECT_FALSE(f.window->TrayIcon->icon().isNull());
    frame->HadErrors = false;
    emit frame->changed();
    EXPECT_FALSE(f.window->TrayIcon->property("failed").toBool());
}
