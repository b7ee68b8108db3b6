// The Add Biller wizard driven as a user drives it, on the real engine against the local service
// and the QuickBooks stand-in: every page and its buttons, the reply paths, the QuickBooks check
// with Try Again, the web setup step, Cancel, the first start without a biller, with screenshots.

#include "engine/AddBusiness.h"
#include "gui/enrol/AddBusinessView.h"
#include "gui/main/WindowedStart.h"
#include "platform/System.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <filesystem>

using namespace dm;
using dmtest::Account;
using dmtest::Business;
using dmtest::TWindowFixture;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// Runs the steps inside the wizard once it is open; the wizard is closed afterwards whatever
// the steps left behind, so that a failing step cannot hang the test.
bool DriveWizard(std::function<void(TAddBusinessView&)> steps, std::function<void()> open) {
    bool ran = false;
    dmtest::WhenModal([&](QWidget* modal) {
        auto* view = qobject_cast<TAddBusinessView*>(modal);
        if (!view) return;
        ran = true;
        steps(*view);
        if (view->isVisible() && !dmtest::WaitUntil([&] { return !view->isVisible(); }, std::chrono::milliseconds(500)))
            view->done(QDialog::Rejected);
    });
    open();
    return ran;
}

bool RunWizard(TWindowFixture& f, std::function<void(TAddBusinessView&)> steps) {
    return DriveWizard(std::move(steps), [&] { f.window->mnuAddBiller->trigger(); });
}

bool On(TAddBusinessView& v, QWidget* page) {
    return dmtest::WaitUntil([&] { return v.Pages->currentWidget() == page; });
}

void Login(TAddBusinessView& v, const QString& user, const QString& password) {
    v.txtUserName->setText(user);
    v.txtPassword->setText(password);
    v.btnNext->click();
}

// Which of Back, Next and Cancel the bar shows.
std::string Buttons(const TAddBusinessView& v) {
    std::string shown;
    if (v.btnBack->isVisible()) shown += "B";
    if (v.btnNext->isVisible()) shown += "N";
    if (v.btnCancel->isVisible()) shown += "C";
    return shown;
}

json Confirmation(const std::string& response) {
    return {{"endpoint", "dm_confirm_account.php"},
            {"body", "<?xml version=\"1.0\"?><dm><response>" + response + "</response></dm>"},
            {"content_type", "text/xml"}};
}

const std::string DemoBusiness = "<business><name>Demo Co</name><id>1001</id><type>qbd</type></business>";

} // namespace

TEST(AddBiller, FullPathAddsTheBillerItsTabAndAFirstSession) {
    TWindowFixture f(json::array({Account("demo", "Demo & Sons", "1001")}),
                     json::array({json{{"endpoint", "dm_confirm_account.php"}, {"delay_ms", 700}}}));
    f.Open();
    ASSERT_TRUE(f.window->mnuAddBiller->isEnabled());
    std::vector<QWidget*> visited;
    ASSERT_TRUE(RunWizard(f, [&](TAddBusinessView& v) {
        QObject::connect(v.Pages, &QStackedWidget::currentChanged, [&](int i) { visited.push_back(v.Pages->widget(i)); });
        EXPECT_EQ(v.windowTitle(), "Add Biller");
        EXPECT_EQ(v.size(), QSize(401, 385));
        EXPECT_EQ(v.Label3->text(), "Enter your Invara login information to continue setting up your business.");
        EXPECT_FALSE(v.Label4->isVisible());
        EXPECT_EQ(v.focusWidget(), v.txtUserName);
        EXPECT_EQ(Buttons(v), "BNC");
        EXPECT_EQ(v.txtPassword->echoMode(), QLineEdit::Password);
        v.txtUserName->setText("demo");
        v.txtPassword->setText("demo");
        dmtest::SaveScreenshot(&v, "add_biller_1_login");
        v.btnNext->click();

        ASSERT_TRUE(On(v, v.stepConfirmAccount));
        EXPECT_EQ(Buttons(v), "C");
        dmtest::SaveScreenshot(&v, "add_biller_2_confirming");

        ASSERT_TRUE(On(v, v.stepConnectQB));
        EXPECT_NE(v.htmlConnect->toPlainText().indexOf("located your business named Demo & Sons."), -1)
            << v.htmlConnect->toPlainText().toStdString();
        EXPECT_EQ(Buttons(v), "BNC");
        dmtest::SaveScreenshot(&v, "add_biller_3_connect");

        v.btnNext->click();
        EXPECT_EQ(v.Pages->currentWidget(), v.stepConfirmQB);
        EXPECT_FALSE(v.btnNext->isEnabled()) << "nothing to press while QuickBooks is being checked";
        dmtest::SaveImage(v.grab().toImage(), "add_biller_4_checking");

        ASSERT_TRUE(On(v, v.stepDone));
        EXPECT_EQ(Buttons(v), "N");
        EXPECT_EQ(v.btnNext->text(), "Continue");
        dmtest::SaveScreenshot(&v, "add_biller_5_done");
        v.reject(); // Escape: nothing to cancel any more
        EXPECT_TRUE(v.isVisible());
        v.btnNext->click();
        EXPECT_TRUE(dmtest::WaitUntil([&] { return !v.isVisible(); }));
        EXPECT_EQ(v.result(), QDialog::Accepted);
    }));
    EXPECT_EQ(visited.size(), 4u) << "login, confirming, connect, QuickBooks, done";

    ASSERT_EQ(f.engine->Billers().size(), 1u);
    TSync* frame = f.Biller(0);
    EXPECT_EQ(f.window->PageControl1->tabText(0), "Demo && Sons");
    EXPECT_EQ(f.window->PageControl1->currentWidget(), f.window->PageOf(frame));
    EXPECT_EQ(f.window->lbxBillers->itemText(0), "Demo & Sons");
    EXPECT_FALSE(f.window->lblNoBiller->isVisible());
    const std::string saved = dmtest::ReadFileBytes(f.app.SettingsFileName());
    EXPECT_NE(saved.find("<type>qbd</type><name>Demo & Sons</name><id>1001</id><username>demo</username><token>"),
              std::string::npos)
        << saved;
    EXPECT_EQ(saved.find("<password>"), std::string::npos);
    EXPECT_TRUE(dmtest::WaitUntil([&] { return frame->CloseReceived && !f.engine->SyncInProgress(); },
                                  std::chrono::seconds(30)))
        << "the first session ran";
    EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
    dmtest::SaveScreenshot(f.window.get(), "add_biller_main_after");
}

TEST(AddBiller, LoginPageChecksFocusDuplicatesAndLinks) {
    TWindowFixture f(json::array({Account("ann", "Ann Co", "1002"), Account("demo", "Demo Co", "1001")}));
    f.Settings(Business("ann", "Ann Co", "1002"));
    f.app.HostedPartner = "hosted";
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    const std::string before = dmtest::ReadFileBytes(f.app.SettingsFileName());
    std::vector<std::string> opened;
    ShellOpener previous = SetShellOpener([&](const std::string& target) { opened.push_back(target); });
    ASSERT_TRUE(RunWizard(f, [&](TAddBusinessView& v) {
        EXPECT_EQ(v.Label3->text(), "If you already have a Invara user account, enter your user name and password.");
        EXPECT_TRUE(v.Label4->isVisible());
        EXPECT_EQ(v.Label4->text().contains("Click here if you do not have a Invara user account."), true);
        dmtest::SaveScreenshot(&v, "add_biller_1_login_hosted");
        emit v.Label4->linkActivated(QString::fromStdString(f.app.BaseUrl + "signup/"));
        v.Label9->linkActivated(QString::fromStdString(f.app.BaseUrl + "login/forgot_username.php"));

        Login(v, "demo", "");
        EXPECT_EQ(f.prompts.messages, std::vector<std::string>{EnterLoginMessage});
        EXPECT_EQ(v.focusWidget(), v.txtPassword);
        Login(v, "", "");
        EXPECT_EQ(v.focusWidget(), v.txtUserName) << "the user name box wins when both are empty";
        f.prompts.messages.clear();
        Login(v, "  ANN ", "demo");
        EXPECT_EQ(f.prompts.messages, std::vector<std::string>{AlreadyLinkedMessage});
        EXPECT_EQ(v.Pages->currentWidget(), v.stepUserNamePassword);
        v.btnCancel->click();
    }));
    SetShellOpener(previous);
    EXPECT_EQ(opened, (std::vector<std::string>{f.app.BaseUrl + "signup/", f.app.BaseUrl + "login/forgot_username.php"}));
    EXPECT_EQ(f.engine->Billers().size(), 1u);
    EXPECT_EQ(dmtest::ReadFileBytes(f.app.SettingsFileName()), before);
}

TEST(AddBiller, ReplyPaths) {
    struct Case {
        const char* name;
        json faults;
        std::string endPage; // "done" or "login"
        std::vector<std::string> messages;
        bool billerAdded;
    } cases[] = {
        {"done and next", json::array({Confirmation("<next>1</next><done>1</done>" + DemoBusiness)}), "done", {}, true},
        {"back with a message", json::array(), "login", {"The user name or password you entered is not correct."}, false},
        {"back without a message", json::array({Confirmation("<back>1</back>")}), "login", {}, false},
    };
    for (const Case& c : cases) {
        TWindowFixture f(json::array({Account("demo", "Demo Co", "1001")}), c.faults);
        f.Open();
        ASSERT_TRUE(RunWizard(f, [&](TAddBusinessView& v) {
            bool checkedQuickBooks = false;
            int backs = 0;
            QObject::connect(v.Pages, &QStackedWidget::currentChanged, [&](int i) {
                checkedQuickBooks |= v.Pages->widget(i) == v.stepConfirmQB;
                backs += v.Pages->widget(i) == v.stepUserNamePassword;
            });
            Login(v, "demo", c.name == std::string("back with a message") ? "wrong" : "demo");
            if (c.endPage == "done") {
                ASSERT_TRUE(On(v, v.stepDone)) << c.name;
                EXPECT_FALSE(checkedQuickBooks) << "an account that is done skips the QuickBooks step";
                v.btnNext->click();
                dmtest::WaitUntil([&] { return !v.isVisible(); });
            } else {
                ASSERT_TRUE(dmtest::WaitUntil([&] { return backs == 1; })) << c.name;
                EXPECT_EQ(f.prompts.messages, c.messages) << c.name;
                v.btnCancel->click();
            }
        })) << c.name;
        EXPECT_EQ(f.engine->Billers().size(), c.billerAdded ? 1u : 0u) << c.name;
    }
}

TEST(AddBiller, UnreachableServiceLeavesOnlyCancel) {
    TWindowFixture f(json::array({Account("demo", "Demo Co", "1001")}));
    f.app.BusinessUrl = "http://127.0.0.1:1/business/";
    f.Open();
    ASSERT_TRUE(RunWizard(f, [&](TAddBusinessView& v) {
        Login(v, "demo", "demo");
        ASSERT_TRUE(dmtest::WaitUntil([&] { return !f.prompts.messages.empty(); }));
        const std::string& text = f.prompts.messages[0];
        EXPECT_EQ(text.rfind(ConnectionFailedText, 0), 0u) << text;
        EXPECT_GT(text.size(), std::string(ConnectionFailedText).size()) << "the error number follows";
        EXPECT_EQ(v.Pages->currentWidget(), v.stepConfirmAccount);
        EXPECT_EQ(Buttons(v), "C");
        EXPECT_EQ(v.lblConfirmText->text().toStdString(), text);
        dmtest::SaveScreenshot(&v, "add_biller_2_connection_failed");
        v.btnCancel->click();
    }));
    EXPECT_TRUE(f.engine->Billers().empty());
    EXPECT_FALSE(fs::exists(f.app.SettingsFileName()));
}

TEST(AddBiller, QuickBooksNotRunningThenStartedWithTryAgainAndBack) {
    TWindowFixture f(json::array({Account("demo", "Demo Co", "1001")}));
    f.Open();
    f.Qb({"quit"});
    ASSERT_TRUE(RunWizard(f, [&](TAddBusinessView& v) {
        Login(v, "demo", "demo");
        ASSERT_TRUE(On(v, v.stepConnectQB));
        v.btnNext->click();
        ASSERT_TRUE(dmtest::WaitUntil([&] { return v.htmlQbError->isVisible(); }));
        EXPECT_EQ(v.Pages->currentWidget(), v.stepConfirmQB);
        EXPECT_EQ(v.btnNext->text(), "Try Again");
        EXPECT_TRUE(v.btnNext->isEnabled());
        const QString first = v.htmlQbError->toPlainText();
        EXPECT_TRUE(first.contains("Unable to connect to QuickBooks.")) << first.toStdString();
        EXPECT_TRUE(first.contains("Error Message: ")) << first.toStdString();
        dmtest::SaveScreenshot(&v, "add_biller_4_quickbooks_error");

        // Back from the check to the connect text, and from there to the login.
        v.btnBack->click();
        EXPECT_EQ(v.Pages->currentWidget(), v.stepConnectQB);
        v.btnBack->click();
        EXPECT_EQ(v.Pages->currentWidget(), v.stepUserNamePassword);
        Login(v, "demo", "demo");
        ASSERT_TRUE(On(v, v.stepConnectQB)) << "the account is confirmed again";
        v.btnNext->click();
        ASSERT_TRUE(dmtest::WaitUntil([&] { return v.btnNext->text() == "Try Again"; }));
        EXPECT_FALSE(v.htmlQbError->isHidden());

        // A second failure shows its own message.
        f.Qb({"demo"});
        f.Qb({"deny"});
        v.btnNext->click();
        ASSERT_TRUE(dmtest::WaitUntil([&] { return v.btnNext->text() == "Try Again"; }));
        EXPECT_TRUE(v.htmlQbError->toPlainText().contains(QString::fromLatin1(kQbMsgUserDenied.data())))
            << v.htmlQbError->toPlainText().toStdString();
        EXPECT_EQ(v.Pages->currentWidget(), v.stepConfirmQB);

        f.Qb({"grant"});
        v.btnNext->click();
        ASSERT_TRUE(On(v, v.stepDone));
        v.btnNext->click();
        dmtest::WaitUntil([&] { return !v.isVisible(); });
    }));
    EXPECT_EQ(f.engine->Billers().size(), 1u);
}

TEST(AddBiller, WebSetupRunsOnlyAfterTheQuickBooksStepWhenAsked) {
    struct Case {
        const char* name;
        json account;
        json faults;
        bool setup;
    } cases[] = {
        {"setup_wizard with next", {{"user", "demo"}, {"password", "demo"}, {"state", "setup_wizard"}}, json::array(), true},
        {"setup_wizard with done", {{"user", "demo"}, {"password", "demo"}},
         json::array({Confirmation("<next>1</next><done>1</done><setup_wizard>1</setup_wizard>" + DemoBusiness)}), false},
        {"no setup", {{"user", "demo"}, {"password", "demo"}}, json::array(), false},
    };
    for (const Case& c : cases) {
        TWindowFixture f(json::array({c.account}), c.faults);
        f.Open();
        std::vector<std::string> runs;
        ASSERT_TRUE(RunWizard(f, [&](TAddBusinessView& v) {
            v.RunSetupWizard = [&](QWidget* parent, const std::string& user, const std::string& password) {
                EXPECT_EQ(parent, &v);
                EXPECT_EQ(v.Pages->currentWidget(), v.stepConfirmQB) << "after the QuickBooks check";
                runs.push_back(user + "/" + password);
            };
            Login(v, "demo", "demo");
            if (v.Pages->currentWidget() != v.stepDone) {
                dmtest::WaitUntil([&] { return v.Pages->currentWidget() != v.stepConfirmAccount; });
                if (v.Pages->currentWidget() == v.stepConnectQB) v.btnNext->click();
            }
            ASSERT_TRUE(On(v, v.stepDone)) << c.name;
            v.btnNext->click();
            dmtest::WaitUntil([&] { return !v.isVisible(); });
        })) << c.name;
        EXPECT_EQ(runs, c.setup ? std::vector<std::string>{"demo/demo"} : std::vector<std::string>{}) << c.name;
        EXPECT_EQ(f.engine->Billers().size(), 1u) << c.name;
    }
}

TEST(AddBiller, CancelOnEachPageAddsAndSavesNothing) {
    const char* pages[] = {"login", "confirming", "connect", "quickbooks"};
    for (const char* page : pages) {
        TWindowFixture f(json::array({Account("demo", "Demo Co", "1001")}),
                         json::array({json{{"endpoint", "dm_confirm_account.php"}, {"delay_ms", 400}}}));
        f.Open();
        if (page == std::string("quickbooks")) f.Qb({"quit"});
        ASSERT_TRUE(RunWizard(f, [&](TAddBusinessView& v) {
            const std::string p = page;
            if (p != "login") Login(v, "demo", "demo");
            if (p == "confirming") EXPECT_EQ(v.Pages->currentWidget(), v.stepConfirmAccount);
            if (p == "connect" || p == "quickbooks") ASSERT_TRUE(On(v, v.stepConnectQB));
            if (p == "quickbooks") {
                v.btnNext->click();
                ASSERT_TRUE(dmtest::WaitUntil([&] { return v.btnNext->text() == "Try Again"; }));
            }
            v.btnCancel->click();
            EXPECT_FALSE(v.isVisible()) << p;
            EXPECT_EQ(v.result(), QDialog::Rejected);
        })) << page;
        dmtest::WaitUntil([] { return false; }, std::chrono::milliseconds(600)); // a late answer changes nothing
        EXPECT_TRUE(f.engine->Billers().empty()) << page;
        EXPECT_FALSE(fs::exists(f.app.SettingsFileName())) << page;
        EXPECT_EQ(f.window->PageControl1->count(), 0) << page;
    }
}

TEST(AddBiller, FirstStartWithoutABillerOpensTheWizard) {
    for (bool enrol : {false, true}) {
        dmtest::TXdgFolders xdg;
        TWindowFixture f(json::array({Account("demo", "Demo Co", "1001")}));
        TWindowedProgram program(f.app);
        bool mainShown = false;
        const bool ran = DriveWizard(
            [&](TAddBusinessView& v) {
                // The wizard brings the main window out after two seconds.
                dmtest::WaitUntil([&] { return !v.tmrStartup.isActive(); }, std::chrono::seconds(5));
                mainShown = program.Window->isVisible();
                if (!enrol) {
                    v.btnCancel->click();
                    return;
                }
                Login(v, "demo", "demo");
                ASSERT_TRUE(On(v, v.stepConnectQB));
                v.btnNext->click();
                ASSERT_TRUE(On(v, v.stepDone));
                v.btnNext->click();
                dmtest::WaitUntil([&] { return !v.isVisible(); });
            },
            [&] { EXPECT_EQ(program.Start(), enrol); });
        EXPECT_TRUE(ran);
        EXPECT_TRUE(mainShown);
        if (enrol) {
            EXPECT_EQ(program.Engine->Billers().size(), 1u);
            EXPECT_TRUE(program.Window->tmrStartup.isActive() || program.Window->isVisible());
        } else {
            EXPECT_EQ(program.ExitCode, 0);
            EXPECT_TRUE(f.app.TerminateRequested);
            EXPECT_TRUE(program.Engine->Billers().empty());
        }
    }
}
