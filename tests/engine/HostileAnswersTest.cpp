// What the service answers is untrusted: it opens no local address, its size does not travel
// on whole, and the password goes nowhere in clear.

#include "SessionFixture.h"

using namespace dmtest;

namespace {

const std::string XmlHead = "<?xml version=\"1.0\"?>";

TEST(HostileAnswers, PopupAddressesOtherThanWebPagesAreRefused) {
    struct {
        const char* url;
        const char* shown;
    } cases[] = {
        {"http://x/notice", "http://x/notice"},
        {"/usr/bin/xterm", ""},
        {"file:///home/user/run.sh", ""},
        {"smb://server/share/setup.exe", ""},
    };
    for (const auto& c : cases) {
        SessionFixture f(json::array({{{"operation", "sendRequestXML"}, {"dm", {{"popup", {{"url", c.url}}}}}}}));
        TSync* frame = f.Biller();
        ASSERT_TRUE(f.Sync(frame)) << c.url;
        ASSERT_EQ(f.prompts.popups.size(), 1u) << c.url;
        EXPECT_EQ(f.prompts.popups[0].Url, c.shown);
        const bool refused = std::string(c.shown).empty();
        EXPECT_EQ(f.Log().find("Refused to open an address from the service") != std::string::npos, refused) << c.url;
        EXPECT_FALSE(frame->HadErrors) << c.url; // the session goes on as with any popup
    }
}

// Answers of a megabyte stand for any size: the log, the message box and the error report
// carry a head of them and their size, never all of them.
TEST(HostileAnswers, LogReportAndMessageCarryOnlyAHead) {
    const std::string junk(1 << 20, 'j');
    const std::string xmlJunk = XmlHead + "<!--" + junk + "-->";
    struct {
        const char* name;
        std::string body;
        bool testMode;
    } cases[] = {
        {"non-XML answer, error report", junk, false},
        {"XML answer without a body, log", xmlJunk, false},
        {"non-XML answer in test mode, message box", junk, true},
    };
    for (const auto& c : cases) {
        SessionFixture f(json::array({{{"operation", "authenticate"}, {"body", c.body}, {"content_type", "text/plain"}}}));
        f.app.TestMode = c.testMode;
        TSync* frame = f.Biller();
        ASSERT_TRUE(f.Sync(frame)) << c.name;
        EXPECT_TRUE(frame->HadErrors) << c.name;
        const std::string log = f.Log();
        EXPECT_LT(log.size(), 200u * 1024) << c.name;
        std::vector<json> reports = f.Posts("webservices/report_error.php");
        for (const json& r : reports) {
            const std::string body = r["body"];
            EXPECT_LT(body.size(), 8u * 1024) << c.name;
            EXPECT_NE(body.find("%2Bbytes%2Bin%2Ball)"), std::string::npos) << c.name; // " bytes in all)", twice encoded
        }
        for (const std::string& m : f.prompts.messages) EXPECT_LT(m.size(), 8u * 1024) << c.name;
        if (c.testMode) EXPECT_EQ(f.prompts.messages.size(), 1u);
        else if (c.body == junk) EXPECT_EQ(reports.size(), 1u) << c.name;
        else EXPECT_NE(log.find("(" + std::to_string(xmlJunk.size()) + " bytes in all)"), std::string::npos);
    }
}

TEST(HostileAnswers, ErrorReportSendsTheRequestWithThePasswordMasked) {
    SessionFixture f(json::array({{{"operation", "authenticate"}, {"non_xml", true}}}));
    TSync* frame = f.Biller();
    frame->Biller.password = "s3cret&pw";
    ASSERT_TRUE(f.Sync(frame));
    std::vector<json> reports = f.Posts("webservices/report_error.php");
    ASSERT_EQ(reports.size(), 1u);
    const std::string body = reports[0]["body"];
    // "<strPassword>********</strPassword>", encoded twice.
    EXPECT_NE(body.find("%253CstrPassword%253E********%253C%252FstrPassword%253E"), std::string::npos) << body;
    EXPECT_EQ(body.find("s3cret"), std::string::npos);
    EXPECT_EQ(f.Log().find("s3cret"), std::string::npos);
}

TEST(HostileAnswers, TheRealCauseOfAFailureIsLogged) {
    SessionFixture f;
    std::vector<std::string> causes;
    QObject::connect(f.engine.get(), &TMainEngine::webFailed,
                     [&](const std::string&, const std::string& cause) { causes.push_back(cause); });
    f.app.SyncServiceUrl = "http://127.0.0.1:1/webservices/quickbooks.php";
    TSync* frame = f.Biller();
    ASSERT_TRUE(f.Sync(frame));
    EXPECT_EQ(frame->ErrorText, "Unable to communicate with server."); // what the user reads stays
    EXPECT_NE(f.Log().find("Connection failure: connection refused"), std::string::npos) << f.Log();
    ASSERT_EQ(causes.size(), 1u);
    EXPECT_EQ(causes[0].rfind("connection refused", 0), 0u);
}

} // namespace
