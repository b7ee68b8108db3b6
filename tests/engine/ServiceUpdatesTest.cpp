// Account confirmation, notifications, smart sync, the review of new invoices, all-biller and
// scheduled runs, and the update check: the real engine against the real local service.

#include "core/General.h"
#include "core/KvXml.h"
#include "engine/Notifications.h"
#include "engine/UnsentInvoices.h"

#include "SessionFixture.h"

using namespace dm;
using dmtest::Account;
using dmtest::SessionFixture;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

json With(json account, const json& extra) {
    account.update(extra);
    return account;
}

std::vector<std::string> Authentications(SessionFixture& f) {
    std::vector<std::string> bodies;
    for (const json& p : f.Posts("webservices/quickbooks.php")) {
        std::string body = p["body"];
        if (body.find("<authenticate ") != std::string::npos) bodies.push_back(body);
    }
    return bodies;
}

} // namespace

TEST(Confirmation, EachAnswerOfTheService) {
    struct Case {
        json account;
        TSync::TButtonLayout layout;
        bool blocked;
        std::string blockedText;
    } cases[] = {
        {With(Account(), {{"name", "Demo & Co"}, {"id", "2002"}, {"delay_sending_invoices", true}}),
         TSync::TButtonLayout::Confirmed, false, ""},
        {With(Account(), {{"state", "suspended"}, {"message", "Your account is suspended for non-payment."}}),
         TSync::TButtonLayout::Suspended, true, "Your account is suspended for non-payment."},
        {With(Account(), {{"state", "deleted"}}), TSync::TButtonLayout::Canceled, true,
         "Your Invara account has been canceled."},
    };
    for (const Case& c : cases) {
        SessionFixture f(json::array(), json::array({c.account}));
        TSync* frame = f.Biller();
        EXPECT_TRUE(frame->Confirmed);
        EXPECT_EQ(frame->Layout, c.layout) << c.account.dump();
        EXPECT_EQ(frame->Blocked, c.blocked);
        EXPECT_EQ(frame->BlockedText, c.blockedText);
        if (!c.blocked) {
            EXPECT_EQ(frame->Biller.name, "Demo & Co"); // the text the service's escaped XML stands for
            EXPECT_EQ(frame->Biller.id, "2002");
            EXPECT_TRUE(frame->DelaySendingInvoices);
        }
        // A blocked account refuses sessions; the Sync button runs nothing.
        frame->StartSync(false, false, false);
        EXPECT_EQ(frame->Phase == TSync::phIdle, c.blocked);
        if (!c.blocked) ASSERT_TRUE(dmtest::WaitUntil([&] { return !f.engine->SyncInProgress(); }, std::chrono::seconds(30)));
    }
    json confirm = SessionFixture().Requests(); // an idle service has seen nothing
    EXPECT_TRUE(confirm.empty());
}

TEST(Confirmation, RejectedPasswordIsAskedForConfirmedAndSaved) {
    SessionFixture f;
    f.prompts.passwords.push_back(std::string("demo"));
    BillerRecord r;
    r.name = "Demo Co";
    r.id = "1001";
    r.username = "demo";
    r.password = "old";
    TSync* frame = f.engine->AddBiller(r);
    ASSERT_TRUE(dmtest::WaitUntil([&] { return frame->Confirmed && !frame->Confirming && !frame->Blocked &&
                                               frame->Layout == TSync::TButtonLayout::Confirmed; }));
    EXPECT_EQ(f.prompts.asked, std::vector<std::string>{"password Demo Co"});
    EXPECT_EQ(frame->Biller.password, "demo");
    std::string saved = dmtest::ReadFileBytes(f.dir.Path() / "store" / "invdesk.xml");
    EXPECT_NE(saved.find("<token>" + EncodeToken("demo") + "</token>"), std::string::npos) << saved;
    // The confirmation form as the service received it.
    std::vector<json> forms = f.Posts("business/dm_confirm_account.php");
    ASSERT_EQ(forms.size(), 2u);
    EXPECT_EQ(forms[1]["body"], "startup=1&un=demo&pw=demo&hosted=");

    SessionFixture g;
    BillerRecord wrong = r;
    TSync* cancelled = g.engine->AddBiller(wrong);
    ASSERT_TRUE(dmtest::WaitUntil([&] { return cancelled->Blocked; }));
    EXPECT_EQ(cancelled->BlockedText, "Your Invara account could not be confirmed.");
    EXPECT_EQ(cancelled->Layout, TSync::TButtonLayout::Canceled);
}

TEST(Confirmation, UnreachableServiceIsTriedAgainAboutFiveSecondsLater) {
    SessionFixture f;
    const std::string live = f.app.BusinessUrl;
    f.app.BusinessUrl = "http://127.0.0.1:1/business/";
    TSync* frame = f.Biller();
    EXPECT_TRUE(frame->Blocked);
    EXPECT_EQ(frame->BlockedText, "Unable to communicate with Invara.");
    EXPECT_EQ(frame->Layout, TSync::TButtonLayout::Confirming); // not even Remove
    EXPECT_EQ(frame->tmrServiceUpdate.interval(), 5000);
    f.app.BusinessUrl = live;
    ASSERT_TRUE(dmtest::WaitUntil([&] { return !frame->Blocked && frame->Layout == TSync::TButtonLayout::Confirmed; },
                                  std::chrono::seconds(8)));
}

TEST(Notifications, PaymentCommandStartsAPaymentsOnlySession) {
    for (bool popups : {true, false}) {
        SessionFixture f(json::array(), json::array({With(Account(), {{"notifications", {"<p>Welcome.</p>"}},
                                                                      {"payments", {{{"customer", "Acme Supplies"},
                                                                                     {"invoice", "1001"},
                                                                                     {"amount", "125.00"}}}}})}));
        BillerRecord r;
        r.name = "Demo Co";
        r.id = "1001";
        r.username = "demo";
        r.password = "demo";
        r.paymentnotify = popups;
        TSync* frame = f.engine->AddBiller(r);
        // The poll comes a second after the start; the command starts a session at once.
        ASSERT_TRUE(dmtest::WaitUntil([&] { return f.finished >= 1 && !f.engine->SyncInProgress(); },
                                      std::chrono::seconds(20)));
        std::vector<std::string> auths = Authentications(f);
        ASSERT_EQ(auths.size(), 1u);
        EXPECT_NE(auths[0].find("<paymentsonly>1</paymentsonly>"), std::string::npos);
        EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
        EXPECT_EQ(frame->tmrServiceUpdate.interval(), 60000);
        if (popups) {
            ASSERT_EQ(f.prompts.notifications.size(), 2u);
            EXPECT_EQ(f.prompts.notifications[0].second, "<p>Welcome.</p>");
            EXPECT_EQ(f.prompts.notifications[1].second.find(NotificationCommandStart), std::string::npos);
            EXPECT_FALSE(f.prompts.notifications[1].first);
        } else {
            EXPECT_TRUE(f.prompts.notifications.empty());
        }
    }
}

TEST(SmartSync, CountdownAndASessionStartedByRecords) {
    // The query finds every invoice: QuickBooks holds records, so a session is due each time.
    const std::string query =
        "<?xml version=\"1.0\" ?><?qbxml version=\"13.0\"?><QBXML><QBXMLMsgsRq onError=\"continueOnError\">"
        "<InvoiceQueryRq requestID=\"1\"><MaxReturned>1</MaxReturned></InvoiceQueryRq></QBXMLMsgsRq></QBXML>";
    SessionFixture f(json::array(), json::array({With(Account(), {{"smartsync", {{"request", query}, {"howoften", "3"}}}})}));
    TSync* frame = f.Biller();
    frame->Biller.smartsync = false; // until the service configures it
    ASSERT_TRUE(f.Sync(frame));
    EXPECT_TRUE(frame->Biller.smartsync);
    EXPECT_EQ(frame->Biller.smartsyncdelay, 3);
    EXPECT_EQ(frame->Biller.smartsyncsource, query);
    // Configured by the answer: saved.
    EXPECT_NE(dmtest::ReadFileBytes(f.dir.Path() / "store" / "invdesk.xml").find("<smartsyncdelay>3</smartsyncdelay>"),
              std::string::npos);

    std::vector<std::string> texts;
    QObject::connect(frame, &TSync::changed, [&] {
        if (texts.empty() || texts.back() != frame->StatusText) texts.push_back(frame->StatusText);
    });
    ASSERT_TRUE(dmtest::WaitUntil([&] { return f.finished >= 2 && !f.engine->SyncInProgress(); }, std::chrono::seconds(15)));
    std::vector<std::string> countdown(texts.begin(), std::find(texts.begin(), texts.end(), "Connecting to QuickBooks"));
    EXPECT_EQ(countdown, (std::vector<std::string>{"Smart Sync... 2", "Smart Sync... 1",
                                                   "Smart Sync Checking for Updates..."}));
    std::vector<std::string> auths = Authentications(f);
    ASSERT_EQ(auths.size(), 2u);
    EXPECT_NE(auths[1].find("<manual>1</manual>"), std::string::npos);
}

TEST(SmartSync, AnswerWithoutRecordsStartsNothing) {
    const std::string nothing =
        "<?xml version=\"1.0\" ?><?qbxml version=\"13.0\"?><QBXML><QBXMLMsgsRq onError=\"continueOnError\">"
        "<CustomerQueryRq requestID=\"1\"><FullName>Nobody At All</FullName></CustomerQueryRq></QBXMLMsgsRq></QBXML>";
    SessionFixture f(json::array(), json::array({With(Account(), {{"smartsync", {{"request", nothing}, {"howoften", "1"}}}})}));
    TSync* frame = f.Biller();
    ASSERT_TRUE(f.Sync(frame));
    dmtest::WaitUntil([] { return false; }, std::chrono::milliseconds(3500));
    EXPECT_EQ(f.finished, 1);
    EXPECT_EQ(frame->StatusText, "Smart Sync");
}

TEST(Review, FilesAndChosenInvoicesReachTheService) {
    // Invoices QuickBooks holds that the service has not sent: a preview session asks for a review.
    SessionFixture f;
    TSync* frame = f.Biller();
    frame->DelaySendingInvoices = true; // the Sync button previews
    std::string records;
    std::vector<std::string> rows;
    f.prompts.review = [&](TUnsentInvoiceFiles& files, bool) {
        records = dmtest::ReadFileBytes(files.FileName(-1));
        files.selectOrder(1); // by customer
        for (int row = 0; row < files.RowCount(); ++row) rows.push_back(files.readRecordAtRow(row).customer);
        UnsentInvoiceRecord first = files.readRecordAtRow(0);
        first.checked = true;
        files.storeRecord(first);
        return TReviewResult{false, true};
    };
    ASSERT_TRUE(f.Sync(frame));
    EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
    ASSERT_EQ(f.prompts.reviews, 1);
    ASSERT_EQ(records.size() % UnsentInvoiceRecord::Size, 0u);
    ASSERT_FALSE(rows.empty());
    EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end(), [](const std::string& a, const std::string& b) {
        return ToLowerAscii(a) < ToLowerAscii(b);
    }));
    // The customer named with an ampersand and angle brackets comes through as the plain text.
    EXPECT_NE(std::find(rows.begin(), rows.end(), "O'Brien & Sons <UK>"), rows.end());
    UnsentInvoiceRecord r0 = UnsentInvoiceRecord::Decode(std::string_view(records).substr(0, UnsentInvoiceRecord::Size));
    EXPECT_EQ(r0.position, 0);
    EXPECT_FALSE(r0.checked);
    EXPECT_EQ(r0.amount.rfind("$", 0), 0u);
    EXPECT_FALSE(frame->PreviewInvoices);

    std::string chosen;
    for (const json& p : f.Posts("webservices/quickbooks.php")) {
        std::string body = p["body"];
        if (body.find("<sendchoseninvoices>") != std::string::npos) chosen = body;
    }
    ASSERT_FALSE(chosen.empty());
    EXPECT_NE(chosen.find("<sendchoseninvoices><skipemails>1</skipemails><inv><id>"), std::string::npos) << chosen;
    EXPECT_EQ(chosen.find("</inv><inv>"), std::string::npos); // exactly one ticked
    for (const char* name : {"uninv.txt", "uninv_0.txt", "uninv_1.txt", "uninv_2.txt", "uninv_3.txt"})
        EXPECT_FALSE(fs::exists(f.dir.Path() / "store" / name)) << name;
}

TEST(Review, ClosingTheWindowCancelsTheSession) {
    SessionFixture f;
    TSync* frame = f.Biller();
    frame->DelaySendingInvoices = true;
    f.prompts.review = [](TUnsentInvoiceFiles&, bool) { return TReviewResult{true, false}; };
    ASSERT_TRUE(f.Sync(frame));
    EXPECT_EQ(frame->StatusDetail, "Canceling...");
    EXPECT_FALSE(frame->CloseReceived);
    for (const json& p : f.Posts("webservices/quickbooks.php"))
        EXPECT_EQ(p["body"].get<std::string>().find("<sendchoseninvoices>"), std::string::npos);
}

TEST(SyncAll, ThreeBillersInListOrderWithTheirSummary) {
    SessionFixture f(json::array({{{"operation", "authenticate"}, {"account", "zed"}, {"nvu", true}}}),
                     json::array({Account("demo", "Demo Co", "1001"), Account("alpha", "Alpha <b>Co</b>", "1003"),
                                  Account("zed", "Zed Co", "1002")}));
    TSync* demo = f.Biller("demo", "Demo Co", "1001");
    TSync* alpha = f.Biller("alpha", "Alpha <b>Co</b>", "1003");
    TSync* zed = f.Biller("zed", "Zed Co", "1002");
    ASSERT_FALSE(demo->Blocked || alpha->Blocked || zed->Blocked);
    std::vector<std::string> progress;
    QObject::connect(f.engine.get(), &TMainEngine::syncAllChanged, [&] {
        if (!f.engine->SyncAllProgress.empty()) progress.push_back(f.engine->SyncAllProgress);
    });
    f.prompts.answers.push_back(TAnswer::No);
    f.engine->SyncAll(true);
    ASSERT_TRUE(dmtest::WaitUntil([&] { return !f.engine->SyncAllActive; }, std::chrono::seconds(60)));
    ASSERT_EQ(f.prompts.questions.size(), 1u);
    EXPECT_EQ(f.prompts.questions[0].rfind("Do you want to review new invoices from QuickBooks", 0), 0u);
    // Sorted by list entry: 1001, 1002, 1003; positions count in tab order.
    EXPECT_EQ(progress, (std::vector<std::string>{"Synchronize all billers... 1 of 3: Demo Co",
                                                  "Synchronize all billers... 3 of 3: Zed Co",
                                                  "Synchronize all billers... 2 of 3: Alpha <b>Co</b>"}));
    ASSERT_EQ(f.prompts.pages.size(), 1u);
    EXPECT_EQ(f.prompts.pages[0].first, "Invara Synchronize All Billers Summary");
    const std::string cell = "<td width=\"1%\" style=\"border-top: 1px solid #C0C0C0; padding: 4px 8px 6px 8px;\" nowrap><b>";
    const std::string status = "<td width=\"99%\" style=\"border-top: 1px solid #C0C0C0; padding: 4px 8px 6px 8px;";
    EXPECT_EQ(f.prompts.pages[0].second,
              "<html><head><style>body {font-family: Verdana, Arial, Helvetica;font-size: 10pt;}td {font-family: "
              "Verdana, Arial, Helvetica;font-size: 10pt;}</style></head><body><!-- DMCOMMAND_SHOW_PRINT_TOOLBAR -->"
              "<table cellpadding=\"0\" cellspacing=\"0\" style=\"border-bottom: 1px solid #C0C0C0; border-left: 1px "
              "solid #C0C0C0; border-right: 1px solid #C0C0C0;\">"
              "<tr>" + cell + "Demo Co</b></td>" + status + "\">Successful</td></tr>"
              "<tr>" + cell + "Alpha &lt;b&gt;Co&lt;/b&gt;</b></td>" + status + "\">Successful</td></tr>"
              "<tr>" + cell + "Zed Co</b></td>" + status + " background-color: #FFD0D0;\"><i>ERROR: Server "
              "authentication failed. Invalid user name or password.</i></td></tr></table></body></html>");

    // Cancel in the question leaves everything as it was.
    f.engine->SyncAll(true);
    EXPECT_FALSE(f.engine->SyncAllActive);
    EXPECT_EQ(f.prompts.pages.size(), 1u);
}

TEST(SyncAll, ScheduledRunPassesOverBillersWithoutAutosync) {
    SessionFixture f(json::array(), json::array({Account("demo", "Demo Co", "1001"), Account("b2", "Second", "1002")}));
    TSync* first = f.Biller("demo", "Demo Co", "1001");
    TSync* second = f.Biller("b2", "Second", "1002");
    first->Biller.autosync = true;
    second->Biller.autosync = false;
    f.engine->Options.autosync = true;
    f.engine->Options.autosynchowoften = 11; // every minute
    f.engine->Options.autosynchour = 0;
    f.engine->Options.autosyncminute = 0;
    f.engine->tmrAutoSyncTimer();
    EXPECT_EQ(f.engine->tmrAutoSync.interval(), 70000);
    ASSERT_TRUE(dmtest::WaitUntil([&] { return !f.engine->SyncAllActive && !f.engine->SyncInProgress(); },
                                  std::chrono::seconds(30)));
    EXPECT_TRUE(first->CloseReceived);
    EXPECT_FALSE(second->CloseReceived);
    EXPECT_TRUE(f.prompts.pages.empty()); // no summary after a scheduled run
    EXPECT_TRUE(f.prompts.questions.empty());
    f.engine->tmrAutoSyncTimer();
    EXPECT_EQ(f.engine->tmrAutoSync.interval(), 70000); // the next minute, a new start
}

TEST(UpdateCheck, AnnouncedOnceAndNeverInHostedVariants) {
    struct Case {
        json update;
        bool hosted;
        bool announced;
    } cases[] = {
        {{{"available", true}}, false, true},                              // no versions: the build number counts
        {{{"available", true}, {"startup_version", "0"}}, false, false},   // 0 is not above 0
        {{{"available", false}, {"startup_version", "9"}}, false, false},
        {{{"available", true}}, true, false},
    };
    for (const Case& c : cases) {
        SessionFixture f(json::array(), json::array({Account()}), {{"update", c.update}});
        f.app.HostedMode = c.hosted;
        f.engine->tmrCheckForUpdates.start();
        dmtest::WaitUntil([&] { return f.engine->UpdateBarShown; }, std::chrono::milliseconds(2500));
        EXPECT_EQ(f.engine->UpdateBarShown, c.announced) << c.update.dump();
        EXPECT_EQ(f.prompts.notifications.size(), c.announced ? 1u : 0u);
        if (c.announced) {
            EXPECT_TRUE(f.prompts.notifications[0].first); // only while the window is hidden
            EXPECT_EQ(f.prompts.notifications[0].second, UpdateNoticeFragment);
            EXPECT_EQ(f.engine->AnnouncedStartupVersion, 1);
            EXPECT_FALSE(f.engine->UpdateUrl.empty());
        }
        EXPECT_EQ(f.Posts("business/dm_checkupdate.php").size(), c.hosted ? 0u : 1u);
        EXPECT_FALSE(f.engine->tmrCheckForUpdates.isActive());
    }
}

// A PHP notice after the answer's XML is a failed answer, and those the user never sees.
TEST(UpdateCheck, AnswerWithTextAfterItsXmlStaysSilent) {
    SessionFixture f(json::array({{{"endpoint", "dm_checkupdate.php"},
                                   {"status", 200},
                                   {"content_type", "text/xml"},
                                   {"body", "<?xml version=\"1.0\"?><dm><response><update>1</update></response></dm>\r\n"
                                            "PHP Notice: Undefined index"}}}),
                     json::array({Account()}), {{"update", {{"available", true}}}});
    std::vector<std::string> shown;
    TKvXML::MessageHandler previous = TKvXML::SetMessageHandler([&](const std::string& m) { shown.push_back(m); });
    f.engine->tmrCheckForUpdates.start();
    dmtest::WaitUntil([&] { return !shown.empty() || f.engine->UpdateBarShown; }, std::chrono::milliseconds(2000));
    TKvXML::SetMessageHandler(previous);
    EXPECT_EQ(f.Posts("business/dm_checkupdate.php").size(), 1u);
    EXPECT_TRUE(shown.empty()) << shown.front();
    EXPECT_TRUE(f.prompts.messages.empty());
    EXPECT_FALSE(f.engine->UpdateBarShown);
}
