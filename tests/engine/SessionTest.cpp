// Sessions of the real engine against the real local service over loopback and the real
// QuickBooks stand-in, one scenario per row of the session's transitions and per failure.

#include "SessionFixture.h"

using namespace dm;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

using dmtest::Account;
using dmtest::SessionFixture;

size_t Count(const std::vector<std::string>& ops, const std::string& op) {
    return static_cast<size_t>(std::count(ops.begin(), ops.end(), op));
}

} // namespace

TEST(Session, FullSessionPassesRequestsUntilComplete) {
    SessionFixture f;
    TSync* frame = f.Biller();
    ASSERT_TRUE(f.Sync(frame));
    EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
    EXPECT_TRUE(frame->CloseReceived);
    EXPECT_EQ(frame->Phase, TSync::phIdle);
    EXPECT_EQ(frame->Percentage, 100);
    EXPECT_TRUE(frame->Biller.lastsync.isValid());
    EXPECT_FALSE(frame->QbConnected);
    EXPECT_TRUE(f.prompts.messages.empty());

    std::vector<std::string> ops = f.Operations();
    ASSERT_GE(ops.size(), 4u);
    EXPECT_EQ(ops.front(), "authenticate");
    EXPECT_EQ(ops.back(), "closeConnection");
    EXPECT_GE(Count(ops, "receiveResponseXML"), 1u);
    EXPECT_EQ(Count(ops, "reportError"), 0u);

    // The password goes to the service but never into the log.
    json auth = f.Posts("webservices/quickbooks.php").front();
    EXPECT_NE(auth["body"].get<std::string>().find("<strPassword>demo</strPassword>"), std::string::npos);
    std::string log = f.Log();
    EXPECT_NE(log.find("<strPassword>********</strPassword>"), std::string::npos);
    EXPECT_EQ(log.find("<strPassword>demo<"), std::string::npos);
    EXPECT_EQ(log.rfind("## ---------- BEGIN SESSION ---------- ", 0), 0u);
    EXPECT_NE(log.find("## ---------- END SESSION ---------- "), std::string::npos);
    EXPECT_NE(log.find("Server authentication successful."), std::string::npos);
}

// Over HTTPS, with a certificate the transport trusts through its authority file, on both
// stacks: the whole session, its requests on connections kept between them.
TEST(Session, FullSessionOverHttps) {
    for (bool alternate : {false, true}) {
        SessionFixture f(json::array(), json::array({Account()}), json::object(), &dmtest::TTestCerts::Get());
        f.engine->Options.AlternateConnection = alternate;
        f.engine->ApplyWebOptions();
        TSync* frame = f.Biller();
        ASSERT_TRUE(f.Sync(frame)) << alternate;
        EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
        EXPECT_TRUE(frame->CloseReceived) << alternate;
        std::vector<std::string> ops = f.Operations();
        ASSERT_GE(ops.size(), 4u) << alternate;
        EXPECT_EQ(ops.front(), "authenticate");
        EXPECT_EQ(ops.back(), "closeConnection");
    }
}

TEST(Session, RedirectMovesEveryBillerToTheNewEndpoint) {
    SessionFixture f(json::array({{{"operation", "authenticate"}, {"redirect", "eu2/"}}}));
    TSync* frame = f.Biller();
    ASSERT_TRUE(f.Sync(frame));
    EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
    EXPECT_EQ(frame->RedirectLabel, "eu2/");
    EXPECT_EQ(f.app.SyncServiceUrl, f.app.BaseUrl + "eu2/webservices/quickbooks.php");
    EXPECT_EQ(f.app.ServiceUrl, f.app.BaseUrl + "eu2/webservices/service.php");
    std::vector<json> posts = f.Posts("webservices/quickbooks.php");
    ASSERT_GE(posts.size(), 3u);
    EXPECT_EQ(posts[0]["path"], "/webservices/quickbooks.php");
    EXPECT_EQ(posts[1]["path"], "/eu2/webservices/quickbooks.php");
    EXPECT_NE(posts[1]["body"].get<std::string>().find("<authenticate "), std::string::npos);
    EXPECT_EQ(posts.back()["path"], "/eu2/webservices/quickbooks.php");
}

TEST(Session, DisconnectEndsTheSessionWithTheServicesMessage) {
    SessionFixture f(json::array({{{"operation", "authenticate"},
                                   {"dm", {{"disconnect", "1"}, {"after_sync_message", "Your account is on hold."}}}}}));
    TSync* frame = f.Biller();
    ASSERT_TRUE(f.Sync(frame));
    EXPECT_TRUE(frame->HadErrors);
    EXPECT_EQ(frame->ErrorText, "Your account is on hold.");
    EXPECT_EQ(f.Operations(), std::vector<std::string>{"authenticate"});
    std::string log = f.Log();
    EXPECT_NE(log.find("# Your account is on hold.\r\n"), std::string::npos);
    EXPECT_EQ(log.find("END SESSION"), std::string::npos);
}

TEST(Session, RejectedCredentialsAskForNewOnesAndStartAgain) {
    SessionFixture f(json::array({{{"operation", "authenticate"}, {"nvu", true}}}));
    f.prompts.credentials.push_back(TCredentials{"demo", "demo"});
    TSync* frame = f.Biller();
    frame->Biller.password = "wrong";
    ASSERT_TRUE(f.Sync(frame, 2));
    EXPECT_EQ(f.prompts.asked, std::vector<std::string>{"credentials Demo Co"});
    EXPECT_EQ(frame->Biller.password, "demo");
    EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
    std::vector<std::string> ops = f.Operations();
    EXPECT_EQ(Count(ops, "authenticate"), 2u);
    EXPECT_EQ(ops.back(), "closeConnection");

    // Cancelled: the session ends with its error and nothing more happens.
    SessionFixture g(json::array({{{"operation", "authenticate"}, {"nvu", true}}}));
    TSync* other = g.Biller();
    ASSERT_TRUE(g.Sync(other));
    EXPECT_TRUE(other->AuthFailed);
    EXPECT_EQ(other->ErrorText, "Server authentication failed. Invalid user name or password.");
    EXPECT_EQ(g.Operations(), std::vector<std::string>{"authenticate"});
}

TEST(Session, MissingCompanyFileOffersThreeChoices) {
    const json missing = json::array({{{"operation", "authenticate"}, {"company_file", "/nowhere/Old Co.qbw"}}});
    {
        SessionFixture f(missing);
        f.prompts.fileChoices.push_back(TFileNotFoundChoice::Disable);
        TSync* frame = f.Biller();
        frame->Biller.autosync = true;
        ASSERT_TRUE(f.Sync(frame));
        EXPECT_EQ(f.prompts.asked, std::vector<std::string>{"file /nowhere/Old Co.qbw"});
        EXPECT_EQ(frame->ErrorText, "QuickBooks company file not found.");
        EXPECT_FALSE(frame->Biller.autosync);
        EXPECT_FALSE(frame->Biller.paymentnotify);
        EXPECT_EQ(f.Operations(), std::vector<std::string>{"authenticate"});
    }
    {
        SessionFixture f(missing);
        f.prompts.fileChoices.push_back(TFileNotFoundChoice::Remove);
        TSync* frame = f.Biller();
        f.Biller("demo2", "Second", "1002");
        ASSERT_TRUE(f.Sync(frame));
        ASSERT_TRUE(dmtest::WaitUntil([&] { return f.engine->Billers().size() == 1; }));
        EXPECT_EQ(f.engine->Billers()[0]->Biller.id, "1002");
    }
    {
        SessionFixture f(missing);
        f.prompts.fileChoices.push_back(TFileNotFoundChoice::Link);
        TSync* frame = f.Biller();
        ASSERT_TRUE(f.Sync(frame, 2));
        EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
        std::vector<json> auths;
        for (const json& p : f.Posts("webservices/quickbooks.php"))
            if (p["body"].get<std::string>().find("<authenticate ") != std::string::npos) auths.push_back(p);
        ASSERT_EQ(auths.size(), 2u);
        EXPECT_EQ(auths[0]["body"].get<std::string>().find("resetcompanyfilepath"), std::string::npos);
        EXPECT_NE(auths[1]["body"].get<std::string>().find("<resetcompanyfilepath>1</resetcompanyfilepath>"),
                  std::string::npos);
    }
}

TEST(Session, QuickBooksRefusalsAreReportedThenClosed) {
    struct Case {
        QStringList setup;
        std::string message; // contained in ErrorText
        int errorKind;
        bool otherFile;
        std::string manualMessage; // start of the message a user-started session shows
    } cases[] = {
        {{"deny"}, "QB Error: The QuickBooks user has denied access", TSync::ekAccessNotGranted, false, ""},
        {{"no-auto-login"}, "QB Error: This application is not allowed to log into", TSync::ekAccessNotGranted, false, ""},
        {{"dialog", "show"}, "modal dialog box", TSync::ekGeneral, false, "There is a window open in QuickBooks"},
    };
    for (const Case& c : cases) {
        SessionFixture f;
        f.Qb(c.setup);
        TSync* frame = f.Biller();
        ASSERT_TRUE(f.Sync(frame));
        EXPECT_TRUE(frame->HadErrors);
        EXPECT_NE(frame->ErrorText.find(c.message), std::string::npos) << frame->ErrorText;
        EXPECT_EQ(frame->ErrorKind, c.errorKind) << frame->ErrorText;
        EXPECT_EQ(frame->OtherFileOpen, c.otherFile);
        EXPECT_EQ(f.Operations(), (std::vector<std::string>{"authenticate", "reportError", "closeConnection"}));
        json report = f.Posts("webservices/quickbooks.php")[1];
        EXPECT_NE(report["body"].get<std::string>().find("<info>" + frame->LastQbError.substr(0, 20)), std::string::npos);
        if (c.manualMessage.empty()) EXPECT_TRUE(f.prompts.errors.empty());
        else {
            ASSERT_EQ(f.prompts.errors.size(), 1u);
            EXPECT_EQ(f.prompts.errors[0].rfind(c.manualMessage, 0), 0u);
        }
        EXPECT_NE(f.Log().find("Unable to connect to QuickBooks."), std::string::npos);
    }
}

TEST(Session, AnotherOpenFileIsExplainedOnlyAfterAManualSession) {
    for (bool manual : {true, false}) {
        SessionFixture f;
        f.Qb({"create", "Other Co", "--sample"});
        std::string other = (f.dir.Path() / "qb" / "Other Co.qbw").string();
        f.service = nullptr; // replaced below: the service names the other file
        f.service = std::make_unique<TTestService>(ScenarioFromJson(
            {{"accounts", json::array({Account()})},
             {"faults", json::array({{{"operation", "authenticate"}, {"company_file", other}, {"times", 0}}})}}));
        int port = f.service->Start("127.0.0.1", 0);
        f.app.BaseUrl = "http://127.0.0.1:" + std::to_string(port) + "/";
        ComposeUrls(f.app);
        TSync* frame = f.Biller();
        if (manual) {
            ASSERT_TRUE(f.Sync(frame));
        } else {
            int target = f.finished + 1;
            frame->StartSync(false, false, true);
            ASSERT_TRUE(dmtest::WaitUntil([&] { return f.finished >= target; }, std::chrono::seconds(30)));
        }
        EXPECT_TRUE(frame->OtherFileOpen) << frame->ErrorText;
        EXPECT_EQ(f.prompts.errors.size(), manual ? 1u : 0u);
        if (manual) EXPECT_EQ(f.prompts.errors[0].rfind("The Desktop Manager is unable to synchronize right now because\r", 0), 0u);
    }
}

TEST(Session, ProcessRequestFailureSendsTheErrorReportForm) {
    const std::string bad = "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                            "<soap:Body><sendRequestXMLResponse xmlns=\"http://developer.intuit.com/\"><sendRequestXMLResult>"
                            "&lt;?xml version=\"1.0\" ?&gt;&lt;QBXML&gt;&lt;QBXMLMsgsRq&gt;&lt;Broken"
                            "</sendRequestXMLResult></sendRequestXMLResponse></soap:Body></soap:Envelope>";
    SessionFixture f(json::array({{{"operation", "sendRequestXML"}, {"body", bad}, {"content_type", "text/xml"}}}));
    TSync* frame = f.Biller();
    frame->Biller.name = "A & B";
    ASSERT_TRUE(f.Sync(frame));
    EXPECT_TRUE(frame->HadErrors);
    EXPECT_EQ(frame->ErrorKind, TSync::ekProcessRequestFailed);
    std::vector<std::string> ops = f.Operations();
    EXPECT_EQ(Count(ops, "closeConnection"), 0u);
    std::vector<json> reports = f.Posts("webservices/report_error.php");
    ASSERT_EQ(reports.size(), 1u);
    const std::string body = reports[0]["body"];
    // Encoded twice, as the service expects; the merchant id once.
    EXPECT_EQ(body.rfind("MerchantID=1001&BusinessName=A%2B%2526%2BB&Request=", 0), 0u) << body;
    EXPECT_NE(body.find("&Location=Process_SendRequest%2B-%2BQB%2BProcessRequest%2BCOM%2BError"), std::string::npos) << body;
    EXPECT_NE(body.find("&ServerResponse=%253C%253Fxml"), std::string::npos) << body;
}

TEST(Session, TransportAndAnswerFailures) {
    struct Case {
        json fault;
        std::string errorText;
        bool reportSent;
    } cases[] = {
        {{{"operation", "sendRequestXML"}, {"non_xml", true}}, "Server error. Report sent to customer service.", true},
        {{{"operation", "sendRequestXML"}, {"status", 500}, {"body", "<?xml version=\"1.0\"?><x/>"}},
         "Unable to communicate with server.", false},
        {{{"operation", "authenticate"}, {"drop", true}}, "Unable to communicate with server.", false},
    };
    for (const Case& c : cases) {
        SessionFixture f(json::array({c.fault}));
        TSync* frame = f.Biller();
        ASSERT_TRUE(f.Sync(frame)) << c.fault.dump();
        EXPECT_TRUE(frame->HadErrors);
        EXPECT_EQ(frame->ErrorText, c.errorText) << c.fault.dump();
        std::vector<json> reports = f.Posts("webservices/report_error.php");
        EXPECT_EQ(reports.size(), c.reportSent ? 1u : 0u) << c.fault.dump();
        if (c.reportSent)
            EXPECT_NE(reports[0]["body"].get<std::string>().find("&Location=AsyncWebResponse%2B-%2BNon-XML%2BResponse"),
                      std::string::npos);
        EXPECT_EQ(Count(f.Operations(), "closeConnection"), 0u);
    }

    // Nobody listening.
    SessionFixture f;
    f.app.SyncServiceUrl = "http://127.0.0.1:1/webservices/quickbooks.php";
    TSync* frame = f.Biller();
    ASSERT_TRUE(f.Sync(frame));
    EXPECT_EQ(frame->ErrorText, "Unable to communicate with server.");
    EXPECT_NE(f.Log().find("Web response - Failed: Error #"), std::string::npos);
}

TEST(Session, TestModeShowsANonXmlAnswerAndEnds) {
    SessionFixture f(json::array({{{"operation", "authenticate"}, {"non_xml", true}}}));
    f.app.TestMode = true;
    TSync* frame = f.Biller();
    ASSERT_TRUE(f.Sync(frame));
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_TRUE(f.Posts("webservices/report_error.php").empty());
    EXPECT_EQ(frame->ErrorText, "Server error. Report sent to customer service.");
}

TEST(Session, PercentageThatIsNotANumberCompletesTheSession) {
    SessionFixture f(json::array({{{"operation", "receiveResponseXML"}, {"percentage", "abc"}}}));
    TSync* frame = f.Biller();
    ASSERT_TRUE(f.Sync(frame));
    EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
    EXPECT_EQ(f.Operations(), (std::vector<std::string>{"authenticate", "sendRequestXML", "receiveResponseXML",
                                                        "closeConnection"}));
}

TEST(Session, SendRequestAgainAndPopups) {
    {
        SessionFixture f(json::array({{{"operation", "sendRequestXML"}, {"dm", {{"send_request_again", "1"}}}}}));
        TSync* frame = f.Biller();
        ASSERT_TRUE(f.Sync(frame));
        std::vector<std::string> ops = f.Operations();
        ASSERT_GE(ops.size(), 4u);
        EXPECT_EQ(ops[1], "sendRequestXML");
        EXPECT_EQ(ops[2], "sendRequestXML");
        EXPECT_FALSE(frame->HadErrors);
    }
    {
        SessionFixture f(json::array({{{"operation", "sendRequestXML"},
                                       {"dm", {{"popup", {{"url", "http://x/notice?a=1&b=2"}, {"width", "80%"}, {"send_request_again", "1"}}}}}}}));
        TSync* frame = f.Biller();
        ASSERT_TRUE(f.Sync(frame));
        ASSERT_EQ(f.prompts.popups.size(), 1u);
        EXPECT_EQ(f.prompts.popups[0].Url, "http://x/notice?a=1&b=2"); // the text its escaped XML stands for
        EXPECT_EQ(f.prompts.popups[0].WidthPercent, 80);
        std::vector<std::string> ops = f.Operations();
        EXPECT_EQ(ops[2], "sendRequestXML");
        EXPECT_EQ(ops.back(), "closeConnection");
    }
    {
        SessionFixture f(json::array({{{"operation", "sendRequestXML"}, {"dm", {{"popup", {{"url", "http://x/bye"}}}}}}}));
        TSync* frame = f.Biller();
        ASSERT_TRUE(f.Sync(frame));
        EXPECT_EQ(f.prompts.popups.size(), 1u);
        EXPECT_EQ(f.Operations(), (std::vector<std::string>{"authenticate", "sendRequestXML", "closeConnection"}));
        EXPECT_FALSE(frame->HadErrors);
    }
}

TEST(Session, OneSessionAtATime) {
    SessionFixture f(json::array({{{"operation", "sendRequestXML"}, {"delay_ms", 300}}}),
                     json::array({Account(), Account("demo2", "Second", "1002")}));
    TSync* first = f.Biller();
    TSync* second = f.Biller("demo2", "Second", "1002");
    first->btnSyncNowClick(true);
    ASSERT_TRUE(dmtest::WaitUntil([&] { return first->Phase >= TSync::phSendRequest; }));
    second->btnSyncNowClick(true);
    EXPECT_EQ(second->Phase, TSync::phIdle);
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0],
              "Another business is being synchronized right now. Only one business can be synchronized at a time. (1)");
    second->btnSyncNowClick(false); // from the program: silently nothing
    EXPECT_EQ(f.prompts.messages.size(), 1u);

    // A payments-only request while connected waits for the end of the session.
    first->StartSync(true, false, false);
    EXPECT_TRUE(first->PaymentsOnlyPending);
    ASSERT_TRUE(dmtest::WaitUntil([&] { return f.finished >= 2 && !f.engine->SyncInProgress(); }, std::chrono::seconds(30)));
    EXPECT_FALSE(first->PaymentsOnlyPending);
    std::vector<json> auths;
    for (const json& p : f.Posts("webservices/quickbooks.php"))
        if (p["body"].get<std::string>().find("<authenticate ") != std::string::npos) auths.push_back(p);
    ASSERT_EQ(auths.size(), 2u);
    EXPECT_NE(auths[1]["body"].get<std::string>().find("<paymentsonly>1</paymentsonly>"), std::string::npos);
}
