// Sessions that meet other sessions, confirmations, outages and follow-up dialogs: the real
// engine against the real local service and the real QuickBooks stand-in, across more than one
// session.

#include "core/General.h"
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

std::vector<std::string> Authentications(SessionFixture& f, const std::string& account = {}) {
    std::vector<std::string> bodies;
    for (const json& p : f.Posts("webservices/quickbooks.php")) {
        std::string body = p["body"];
        if (body.find("<authenticate ") == std::string::npos) continue;
        if (!account.empty() && p.value("account", "") != account) continue;
        bodies.push_back(body);
    }
    return bodies;
}

size_t Count(const std::vector<std::string>& items, const std::string& item) {
    return static_cast<size_t>(std::count(items.begin(), items.end(), item));
}

json State(SessionFixture& f) {
    httplib::Client client("127.0.0.1", f.service->Port());
    auto r = client.Get("/_test/state");
    return r ? json::parse(r->body) : json::object();
}

BillerRecord Record(const std::string& user, const std::string& name, const std::string& id) {
    BillerRecord r;
    r.name = name;
    r.id = id;
    r.username = user;
    r.password = "demo";
    return r;
}

// Finds every invoice: QuickBooks holds records, so a smart sync check makes a session due.
const char* const RecordsQuery =
    "<?xml version=\"1.0\" ?><?qbxml version=\"13.0\"?><QBXML><QBXMLMsgsRq onError=\"continueOnError\">"
    "<InvoiceQueryRq requestID=\"1\"><MaxReturned>1</MaxReturned></InvoiceQueryRq></QBXMLMsgsRq></QBXML>";

// The positions of the log's session markers, in order: 'B' for a begin, 'E' for an end.
std::string SessionMarkers(const std::string& log) {
    std::string markers;
    for (size_t at = 0; (at = log.find("## ---------- ", at)) != std::string::npos; ++at)
        markers += log.compare(at, 19, "## ---------- BEGIN") == 0 ? 'B' : 'E';
    return markers;
}

} // namespace

TEST(AcrossSessions, CompanyFileWithAmpersandWorksInEverySession) {
    SessionFixture f;
    f.Qb({"create", "Smith & Sons", "--sample"});
    f.Qb({"open", "Smith & Sons"});
    f.Qb({"grant"});
    TSync* frame = f.Biller();
    for (int session = 1; session <= 2; ++session) {
        ASSERT_TRUE(f.Sync(frame)) << session;
        EXPECT_FALSE(frame->HadErrors) << session << ": " << frame->ErrorText;
        EXPECT_TRUE(frame->CloseReceived);
    }
    // From the second session on the service names the file it remembered, escaped.
    EXPECT_EQ(fs::path(frame->CompanyFilePath).filename(), "Smith & Sons.qbw");
    EXPECT_EQ(f.Operations().back(), "closeConnection");
    EXPECT_TRUE(f.prompts.asked.empty()); // no company-file-not-found dialog
}

TEST(AcrossSessions, SmartSyncDueWhileTheAccountCannotStartRunsOnceItCan) {
    struct Case {
        const char* what;
        json faults;
        bool confirmFirst; // the account is confirmed before smart sync is switched on
    } cases[] = {
        // The check comes due a second after the start; the confirmation answers later.
        {"at start-up", json::array({{{"endpoint", "dm_confirm_account.php"}, {"delay_ms", 2500}}}), false},
        // Two confirmations fail (the second one while the frame re-confirms), the third succeeds.
        {"in an outage that ends",
         json::array({{{"endpoint", "dm_confirm_account.php"}, {"drop", true}, {"delay_ms", 1500}, {"times", 2}}}), false},
        // A confirmation asked for again later (as the control panel does).
        {"during a later confirmation",
         json::array({{{"endpoint", "dm_confirm_account.php"}, {"skip", 1}, {"delay_ms", 2500}}}), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SessionFixture f(c.faults);
        BillerRecord r = Record("demo", "Demo Co", "1001");
        r.smartsync = !c.confirmFirst;
        r.smartsyncdelay = 1;
        r.smartsyncsource = RecordsQuery;
        TSync* frame = f.engine->AddBiller(r);
        if (c.confirmFirst) {
            ASSERT_TRUE(dmtest::WaitUntil([&] { return frame->Confirmed && !frame->Confirming; }));
            frame->Biller.smartsync = true;
            frame->SmartSyncCountdown = 1;
            frame->ConfirmAccount();
        }
        ASSERT_TRUE(dmtest::WaitUntil([&] { return f.finished >= 1 && !f.engine->SyncInProgress(); },
                                      std::chrono::seconds(25)));
        EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
        EXPECT_FALSE(frame->Blocked);
        EXPECT_TRUE(frame->CloseReceived);
        std::vector<std::string> auths = Authentications(f);
        ASSERT_EQ(auths.size(), 1u);
        EXPECT_NE(auths[0].find("<manual>1</manual>"), std::string::npos);
    }
}

TEST(AcrossSessions, StartsDeferredByAConfirmationKeepTheirOptions) {
    // An all-biller run with review reaches a biller that is still being confirmed: its session
    // waits for the confirmation and then previews; nothing is sent that nobody reviewed.
    {
        SessionFixture f(json::array({{{"endpoint", "dm_confirm_account.php"}, {"account", "early"}, {"skip", 1},
                                       {"delay_ms", 1500}}}),
                         json::array({Account("early", "Early Co", "1000"), Account("demo", "Demo Co", "1001")}));
        TSync* early = f.Biller("early", "Early Co", "1000");
        TSync* demo = f.Biller("demo", "Demo Co", "1001");
        early->ConfirmAccount();
        ASSERT_TRUE(early->Confirming);
        f.prompts.answers.push_back(TAnswer::Yes); // review new invoices
        f.engine->SyncAll(true);
        EXPECT_TRUE(early->SyncAfterConfirm);
        EXPECT_FALSE(f.engine->SyncInProgress()); // nothing runs for a frame that cannot start yet
        ASSERT_TRUE(dmtest::WaitUntil([&] { return !f.engine->SyncAllActive; }, std::chrono::seconds(60)));
        EXPECT_FALSE(f.engine->SyncInProgress());
        EXPECT_TRUE(early->CloseReceived && demo->CloseReceived);
        EXPECT_EQ(f.prompts.reviews, 2);
        for (const std::string& auth : Authentications(f)) {
            EXPECT_NE(auth.find("<previewinvoices>1</previewinvoices>"), std::string::npos);
            EXPECT_EQ(auth.find("<sendinvoices>"), std::string::npos);
            EXPECT_EQ(auth.find("<manual>"), std::string::npos);
        }
        const json state = State(f);
        for (const json& account : state["accounts"])
            for (const json& invoice : account["invoices"]) EXPECT_FALSE(invoice["sent"].get<bool>()) << invoice.dump();
    }
    // The schedule's single biller, still being confirmed: an automatic session that sends
    // nothing of its own accord, not a manual one with send-invoices.
    {
        SessionFixture f(json::array({{{"endpoint", "dm_confirm_account.php"}, {"delay_ms", 1500}}}));
        TSync* frame = f.engine->AddBiller(Record("demo", "Demo Co", "1001"));
        ASSERT_TRUE(frame->Confirming);
        f.engine->Options.autosync = true;
        f.engine->Options.autosynchowoften = 11; // every minute
        f.engine->tmrAutoSyncTimer();
        EXPECT_FALSE(f.engine->SyncInProgress());
        ASSERT_TRUE(dmtest::WaitUntil([&] { return f.finished >= 1 && !f.engine->SyncInProgress(); },
                                      std::chrono::seconds(30)));
        std::vector<std::string> auths = Authentications(f);
        ASSERT_EQ(auths.size(), 1u);
        EXPECT_NE(auths[0].find("<automatic>1</automatic>"), std::string::npos);
        EXPECT_EQ(auths[0].find("<sendinvoices>"), std::string::npos);
    }
}

TEST(AcrossSessions, AStartDuringAnotherSessionWaitsForItsEnd) {
    SessionFixture f(json::array({{{"operation", "sendRequestXML"}, {"account", "demo"}, {"delay_ms", 400}}}),
                     json::array({Account(), Account("demo2", "Second", "1002")}));
    TSync* first = f.Biller();
    TSync* second = f.Biller("demo2", "Second", "1002");

    // A payments-only start in the first 500 ms of the user's session comes after it.
    first->btnSyncNowClick(true);
    ASSERT_EQ(first->Phase, TSync::phAuthenticate);
    first->StartSync(true, false, false);
    EXPECT_TRUE(first->PaymentsOnlyPending);

    // A payment notification for another biller is queued, not run beside the session.
    ASSERT_TRUE(dmtest::WaitUntil([&] { return first->Phase == TSync::phSendRequest; }));
    f.engine->SyncBillerById("1002", true);
    EXPECT_EQ(second->Phase, TSync::phIdle);

    ASSERT_TRUE(dmtest::WaitUntil([&] { return f.finished >= 3 && !f.engine->SyncInProgress(); },
                                  std::chrono::seconds(40)));
    EXPECT_FALSE(first->HadErrors || second->HadErrors) << first->ErrorText << second->ErrorText;
    std::vector<std::string> firstAuths = Authentications(f, "demo");
    ASSERT_EQ(firstAuths.size(), 2u);
    EXPECT_EQ(firstAuths[0].find("<paymentsonly>"), std::string::npos);
    EXPECT_NE(firstAuths[1].find("<paymentsonly>1</paymentsonly>"), std::string::npos);
    std::vector<std::string> secondAuths = Authentications(f, "demo2");
    ASSERT_EQ(secondAuths.size(), 1u);
    EXPECT_NE(secondAuths[0].find("<paymentsonly>1</paymentsonly>"), std::string::npos);
    // One session after the other, each with its end.
    EXPECT_EQ(SessionMarkers(f.Log()), "BEBEBE");
}

TEST(AcrossSessions, NoSessionStartsWhileAFollowUpDialogIsOpen) {
    SessionFixture f(json::array({{{"operation", "authenticate"}, {"account", "demo"}, {"nvu", true}}}),
                     json::array({Account(), Account("demo2", "Second", "1002")}));
    TSync* first = f.Biller();
    TSync* second = f.Biller("demo2", "Second", "1002");
    f.engine->Options.autosync = true;
    f.engine->Options.autosynchowoften = 11;
    bool checked = false;
    f.prompts.whileAsked = [&](const std::string&) {
        // The schedule's and smart sync's ticks, and a payment notification, during the dialog.
        EXPECT_TRUE(f.engine->SyncInProgress());
        f.engine->tmrAutoSyncTimer();
        EXPECT_FALSE(f.engine->SyncAllActive);
        f.engine->SyncBillerById("1002", true);
        EXPECT_EQ(second->Phase, TSync::phIdle);
        checked = true;
    };
    ASSERT_TRUE(f.Sync(first));
    ASSERT_TRUE(checked);
    EXPECT_TRUE(first->AuthFailed);
    // The notification's session ran once the dialog had closed.
    ASSERT_TRUE(dmtest::WaitUntil([&] { return f.finished >= 2 && !f.engine->SyncInProgress(); },
                                  std::chrono::seconds(30)));
    EXPECT_TRUE(second->CloseReceived);
    EXPECT_EQ(f.prompts.asked.size(), 1u);
}

TEST(AcrossSessions, EachSessionHasItsOwnCause) {
    const std::string bad =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
        "<soap:Body><sendRequestXMLResponse xmlns=\"http://developer.intuit.com/\"><sendRequestXMLResult>"
        "&lt;?xml version=\"1.0\" ?&gt;&lt;QBXML&gt;&lt;QBXMLMsgsRq&gt;&lt;Broken"
        "</sendRequestXMLResult></sendRequestXMLResponse></soap:Body></soap:Envelope>";
    SessionFixture f(json::array({{{"operation", "sendRequestXML"}, {"body", bad}, {"content_type", "text/xml"}},
                                  {{"operation", "authenticate"}, {"skip", 1}, {"status", 500}}}));
    TSync* frame = f.Biller();
    ASSERT_TRUE(f.Sync(frame));
    EXPECT_EQ(frame->ErrorKind, TSync::ekProcessRequestFailed);
    EXPECT_EQ(frame->ErrorText.rfind("QB Error: ", 0), 0u) << frame->ErrorText; // QuickBooks' message
    EXPECT_GT(frame->ErrorText.size(), 10u);

    ASSERT_TRUE(f.Sync(frame));
    EXPECT_EQ(frame->ErrorKind, TSync::ekGeneral);
    EXPECT_EQ(frame->ErrorText, "Unable to communicate with server.");
    EXPECT_NE(TMainEngine::SummaryHtml({frame}).find("<i>ERROR: Unable to communicate with server.</i>"),
              std::string::npos);
}

TEST(AcrossSessions, EndlessRedirectsAndRepeatsEndTheSession) {
    struct Case {
        json fault;
        std::string operation;
        size_t count; // of that operation
        std::string errorText;
    } cases[] = {
        {{{"operation", "authenticate"}, {"redirect", "eu2/"}, {"redirect_always", true}, {"times", 0}},
         "authenticate", 6, "The server redirected the session too many times."},
        {{{"operation", "sendRequestXML"}, {"dm", {{"send_request_again", "1"}}}, {"times", 0}}, "sendRequestXML", 101,
         "The server asked for a request again too many times."},
        {{{"operation", "sendRequestXML"}, {"dm", {{"popup", {{"url", "http://x/"}, {"send_request_again", "1"}}}}},
          {"times", 0}},
         "sendRequestXML", 101, "The server asked for a request again too many times."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault.dump());
        SessionFixture f(json::array({c.fault}));
        TSync* frame = f.Biller();
        ASSERT_TRUE(f.Sync(frame));
        EXPECT_TRUE(frame->HadErrors);
        EXPECT_EQ(frame->ErrorText, c.errorText);
        EXPECT_FALSE(frame->QbConnected);
        EXPECT_EQ(Count(f.Operations(), c.operation), c.count);
        EXPECT_NE(f.Log().find("# " + c.errorText), std::string::npos);
    }
}

TEST(AcrossSessions, InvoiceKeysGoBackAsTheyCame) {
    SessionFixture f(json::array(),
                     json::array({With(Account(), {{"invoices", {{{"number", "A&B-7"}, {"customer", "Smith & Sons"},
                                                                    {"amount", "10.00"}, {"balance", "10.00"},
                                                                    {"key", "K&1"}, {"sent", false}}}}})}));
    TSync* frame = f.Biller();
    frame->DelaySendingInvoices = true; // the Sync button previews
    f.prompts.review = [&](TUnsentInvoiceFiles& files, bool) {
        for (int row = 0; row < files.RowCount(); ++row) {
            UnsentInvoiceRecord r = files.readRecordAtRow(row);
            if (r.invoiceId != "K&amp;1") continue;
            EXPECT_EQ(r.invoiceNumber, "A&B-7");
            EXPECT_EQ(r.customer, "Smith & Sons");
            r.checked = true;
            files.storeRecord(r);
        }
        return TReviewResult{};
    };
    ASSERT_TRUE(f.Sync(frame));
    EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
    bool sent = false;
    const json state = State(f);
    for (const json& invoice : state["accounts"][0]["invoices"])
        if (invoice["key"] == "K&1") sent = invoice["sent"].get<bool>();
    EXPECT_TRUE(sent);
}
