// Sessions against servers of the same protocol that others wrote: the local service answers
// in their shapes (its quirks), the real engine and the real QuickBooks stand-in do the rest.

#include "SessionFixture.h"

#include "core/General.h"
#include "qb/QbSimProcessor.h"

using namespace dm;
using nlohmann::json;

namespace {

using dmtest::SessionFixture;

// What QuickBooks was asked and answered, as the stand-in saw it.
struct TQbRecord {
    std::vector<std::string> sessions; // the paths BeginSession was given
    std::vector<std::pair<std::string, std::string>> exchanges;
};

class TRecordingProcessor : public TRequestProcessor {
public:
    explicit TRecordingProcessor(TQbRecord& record) : record_(record) {}
    void OpenConnection(const std::string& appId, const std::string& appName) override {
        inner_.OpenConnection(appId, appName);
    }
    TAuthPreferences& AuthPreferences() override { return inner_.AuthPreferences(); }
    std::string BeginSession(const std::string& path, int mode) override {
        record_.sessions.push_back(path);
        return inner_.BeginSession(path, mode);
    }
    std::string GetCurrentCompanyFileName(const std::string& ticket) override {
        return inner_.GetCurrentCompanyFileName(ticket);
    }
    int MajorVersion() override { return inner_.MajorVersion(); }
    int MinorVersion() override { return inner_.MinorVersion(); }
    std::string ProcessRequest(const std::string& ticket, const std::string& request) override {
        std::string response = inner_.ProcessRequest(ticket, request);
        record_.exchanges.emplace_back(request, response);
        return response;
    }
    void EndSession(const std::string& ticket) override { inner_.EndSession(ticket); }
    void CloseConnection() override { inner_.CloseConnection(); }

private:
    TQbSimRequestProcessor inner_; // the QuickBooks folder of the fixture, from the environment
    TQbRecord& record_;
};

// A fixture whose service plays another server, with QuickBooks recorded.
struct OtherServer {
    SessionFixture f;
    TQbRecord qb;
    TScopedRequestProcessorFactory factory{
        [this](std::string_view) { return std::make_unique<TRecordingProcessor>(qb); }};

    explicit OtherServer(json quirks, json faults = json::array())
        : f(std::move(faults), json::array({dmtest::Account()}), {{"quirks", std::move(quirks)}}) {}
};

const std::vector<std::string> ThreeRequests = {"authenticate",       "sendRequestXML", "receiveResponseXML",
                                                "sendRequestXML",     "receiveResponseXML", "sendRequestXML",
                                                "receiveResponseXML", "closeConnection"};

} // namespace

TEST(OtherServers, FullSessionInEveryShape) {
    const json shapes[] = {
        {{"wrapped_results", true}},
        {{"envelope_prefix", "SOAP-ENV"}, {"operation_prefix", "ns1"}},
        {{"envelope_prefix", "soapenv"}, {"operation_prefix", "tns"}, {"wrapped_results", true}},
        {{"chunked", true}, {"echo_content_type", true}},
    };
    for (const json& quirks : shapes) {
        SCOPED_TRACE(quirks.dump());
        OtherServer s(quirks);
        TSync* frame = s.f.Biller();
        ASSERT_TRUE(s.f.Sync(frame));
        EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
        EXPECT_TRUE(frame->CloseReceived);
        EXPECT_EQ(s.f.Operations(), ThreeRequests);

        // Each request reached QuickBooks whole, and each answer reached the server byte for byte.
        ASSERT_EQ(s.qb.exchanges.size(), 3u);
        const char* queries[] = {"<CustomerQueryRq ", "<InvoiceQueryRq ", "<CompanyQueryRq "};
        std::vector<std::string> relayed;
        for (const json& p : s.f.Posts("webservices/quickbooks.php")) {
            const std::string body = p["body"];
            if (body.find("<receiveResponseXML ") != std::string::npos) relayed.push_back(body);
        }
        ASSERT_EQ(relayed.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_NE(s.qb.exchanges[i].first.find(queries[i]), std::string::npos) << s.qb.exchanges[i].first;
            EXPECT_NE(relayed[i].find("<response>" + HtmlEscape(s.qb.exchanges[i].second) + "</response>"),
                      std::string::npos)
                << i;
        }
    }
}

TEST(OtherServers, NoWorkClosesTheConnectionWithoutOpeningTheCompanyFile) {
    for (const char* none : {"none", "NONE"}) {
        SCOPED_TRACE(none);
        OtherServer s({{"no_work", none}});
        TSync* frame = s.f.Biller();
        frame->CompanyFilePath = "/data/Demo Co.qbw"; // what an earlier session left for smart sync
        ASSERT_TRUE(s.f.Sync(frame));
        EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
        EXPECT_TRUE(frame->CloseReceived);
        EXPECT_EQ(s.f.Operations(), (std::vector<std::string>{"authenticate", "closeConnection"}));
        EXPECT_TRUE(s.qb.sessions.empty());
        EXPECT_EQ(frame->CompanyFilePath, "/data/Demo Co.qbw");
        EXPECT_TRUE(s.f.prompts.asked.empty());
        EXPECT_NE(s.f.Log().find("The server has no work for this session."), std::string::npos);
    }
}

TEST(OtherServers, EmptyRequestEndsTheSessionCleanly) {
    const json shapes[] = {{{"empty_request", true}}, {{"empty_request", true}, {"wrapped_results", true}}};
    for (const json& quirks : shapes) {
        SCOPED_TRACE(quirks.dump());
        OtherServer s(quirks);
        TSync* frame = s.f.Biller();
        ASSERT_TRUE(s.f.Sync(frame));
        EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
        std::vector<std::string> expected = ThreeRequests;
        expected.insert(expected.end() - 1, "sendRequestXML");
        EXPECT_EQ(s.f.Operations(), expected);
        EXPECT_EQ(s.qb.exchanges.size(), 3u); // QuickBooks never got the empty one
        EXPECT_NE(s.f.Log().find("The server sent no request."), std::string::npos);
    }
}

TEST(OtherServers, MissingSecondStringMeansTheFileOpenInQuickBooks) {
    OtherServer s({{"omit_empty_company_file", true}});
    TSync* frame = s.f.Biller();
    ASSERT_TRUE(s.f.Sync(frame));
    EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
    EXPECT_EQ(s.qb.sessions, std::vector<std::string>{""});
    EXPECT_EQ(s.f.Operations(), ThreeRequests);
}

TEST(OtherServers, WithoutReportErrorTheQuickBooksFailureStaysAndTheConnectionCloses) {
    OtherServer s({{"no_report_error", true}});
    s.f.Qb({"deny"});
    TSync* frame = s.f.Biller();
    ASSERT_TRUE(s.f.Sync(frame));
    EXPECT_TRUE(frame->HadErrors);
    EXPECT_EQ(frame->ErrorText.rfind("QB Error: The QuickBooks user has denied access", 0), 0u) << frame->ErrorText;
    EXPECT_EQ(frame->ErrorKind, TSync::ekAccessNotGranted);
    EXPECT_EQ(s.f.Operations(), (std::vector<std::string>{"authenticate", "reportError", "closeConnection"}));
    EXPECT_TRUE(frame->CloseReceived);
    EXPECT_TRUE(s.f.Posts("webservices/report_error.php").empty());
}

TEST(OtherServers, PlainTextErrorsAreCaughtWhateverTheTransport) {
    // A plain-text error page, chunked, labelled with the request's text/xml.
    OtherServer s({{"chunked", true}, {"echo_content_type", true}},
                  json::array({{{"operation", "sendRequestXML"}, {"non_xml", true}}}));
    TSync* frame = s.f.Biller();
    ASSERT_TRUE(s.f.Sync(frame));
    EXPECT_EQ(frame->ErrorText, "Server error. Report sent to customer service.");
    EXPECT_EQ(s.f.Posts("webservices/report_error.php").size(), 1u);
    EXPECT_NE(s.f.Log().find("Web response - Content type: text/xml"), std::string::npos);
    EXPECT_TRUE(s.qb.exchanges.empty());
}

TEST(OtherServers, ResultsThatCannotBeReadEndWithAnError) {
    auto answer = [](const std::string& op, const std::string& result) {
        return "<?xml version=\"1.0\"?><soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
               "<soap:Body><" + op + "Response><" + op + "Result>" + result + "</" + op + "Result></" + op +
               "Response></soap:Body></soap:Envelope>";
    };
    struct {
        const char* operation;
        std::string body;
        size_t exchanges;
    } cases[] = {
        // Neither an empty request nor one to hand QuickBooks.
        {"sendRequestXML", answer("sendRequestXML", "<string>a</string><string>b</string>"), 0},
        // Not a percentage, and not 100 either: the session must not pass for synchronised.
        {"receiveResponseXML", answer("receiveResponseXML", "<int><value>50</value></int>"), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation);
        json fault = {{"operation", c.operation}, {"body", c.body}, {"content_type", "text/xml"}};
        OtherServer s(json::object(), json::array({fault}));
        TSync* frame = s.f.Biller();
        ASSERT_TRUE(s.f.Sync(frame));
        EXPECT_TRUE(frame->HadErrors);
        EXPECT_EQ(frame->ErrorText.rfind("Unexpected answer from the server (unreadable ", 0), 0u) << frame->ErrorText;
        EXPECT_EQ(s.qb.exchanges.size(), c.exchanges);
        EXPECT_EQ(s.f.Operations().back(), c.operation);
    }
}
