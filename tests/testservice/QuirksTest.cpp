// The sync endpoint playing other servers of the protocol: each quirk changes the answers the
// way such a server writes them, and nothing else.

#include "ServiceFixture.h"

#include "core/General.h"

using namespace dmtest;
using nlohmann::json;

namespace {

const char* kSync = "<manual>1</manual><paymentnotifications>0</paymentnotifications>";
const std::string kQbAnswer = dm::HtmlEscape(
    "<?xml version=\"1.0\" ?><QBXML><QBXMLMsgsRs><CustomerQueryRs requestID=\"1\" statusCode=\"0\" "
    "statusSeverity=\"Info\" statusMessage=\"Status OK\"></CustomerQueryRs></QBXMLMsgsRs></QBXML>");

class Quirks : public ServiceTest {
protected:
    void Use(const json& quirks) {
        StartService(json{{"accounts", json::array({{{"user", "demo"}, {"password", "demo"}}})}, {"quirks", quirks}}.dump());
    }
    // The text of the first string element, whatever its prefix.
    static std::string Ticket(const std::string& answer) {
        size_t at = answer.find("string>");
        return at == std::string::npos ? std::string() : answer.substr(at + 7, answer.find('<', at) - at - 7);
    }
    // authenticate, one request and its answer, closeConnection: the four answers.
    std::vector<std::string> ShortSession() {
        std::vector<std::string> answers{PostSoap(AuthenticateEnvelope("demo", "demo", kSync)).body};
        std::string ticket = Ticket(answers[0]);
        answers.push_back(PostSoap(AskEnvelope(ticket)).body);
        answers.push_back(PostSoap(ReceiveEnvelope(ticket, kQbAnswer)).body);
        answers.push_back(PostSoap(CloseEnvelope(ticket)).body);
        for (const std::string& a : answers) {
            pugi::xml_document doc;
            EXPECT_TRUE(doc.load_string(a.c_str())) << a;
        }
        return answers;
    }
};

} // namespace

TEST_F(Quirks, AnswersTakeTheShapesOfOtherServers) {
    struct Case {
        json quirks;
        std::vector<std::string> present, absent;
    } cases[] = {
        {json::object(),
         {"<soap:Body><authenticateResponse xmlns=\"http://developer.intuit.com/\"><authenticateResult><string>",
          "</string><string></string></authenticateResult>", "<sendRequestXMLResult>&lt;?xml",
          "<closeConnectionResult>OK</closeConnectionResult>"},
         {}},
        {{{"wrapped_results", true}},
         {"<sendRequestXMLResult><string>&lt;?xml", "</string></sendRequestXMLResult>", "<receiveResponseXMLResult><int>",
          "<closeConnectionResult><string>OK</string></closeConnectionResult>"},
         {}},
        {{{"envelope_prefix", "SOAP-ENV"}, {"operation_prefix", "ns1"}},
         {"<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"",
          "<SOAP-ENV:Body><ns1:authenticateResponse xmlns:ns1=\"http://developer.intuit.com/\"><ns1:authenticateResult>"
          "<ns1:string>",
          "<ns1:sendRequestXMLResult>&lt;?xml", "<ns1:receiveResponseXMLResult>", "</SOAP-ENV:Body></SOAP-ENV:Envelope>"},
         {"soap:", "<string>"}},
        {{{"no_work", "NONE"}}, {"</string><string>NONE</string></authenticateResult>"}, {}},
        {{{"omit_empty_company_file", true}}, {"</string></authenticateResult>"}, {"<string></string>"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.quirks.dump());
        Use(c.quirks);
        std::string all;
        for (const std::string& a : ShortSession()) all += a;
        for (const std::string& p : c.present) EXPECT_NE(all.find(p), std::string::npos) << p << "\n" << all;
        for (const std::string& a : c.absent) EXPECT_EQ(all.find(a), std::string::npos) << a << "\n" << all;
    }
}

TEST_F(Quirks, EmptyRequestInsteadOfOneHundredPercent) {
    Use({{"empty_request", true}});
    std::string ticket = Ticket(PostSoap(AuthenticateEnvelope("demo", "demo", kSync)).body);
    FakeQuickBooks qb;
    std::vector<int> percentages;
    for (int guard = 0; guard < 10; ++guard) {
        pugi::xml_document doc;
        std::string request = SoapBody(doc, PostSoap(AskEnvelope(ticket)).body)
                                  .child("sendRequestXMLResponse").child("sendRequestXMLResult").text().as_string();
        if (request.empty()) break;
        pugi::xml_document rdoc;
        percentages.push_back(SoapBody(rdoc, PostSoap(ReceiveEnvelope(ticket, dm::HtmlEscape(qb.Answer(request)))).body)
                                  .child("receiveResponseXMLResponse").child("receiveResponseXMLResult").text().as_int());
    }
    EXPECT_EQ(percentages, (std::vector<int>{33, 66, 99}));
}

TEST_F(Quirks, WithoutReportErrorAStackTraceComesBack) {
    Use({{"no_report_error", true}});
    std::string ticket = Ticket(PostSoap(AuthenticateEnvelope("demo", "demo", kSync)).body);
    THttpAnswer a = PostSoap(Envelope("reportError", "<ticket>" + ticket + "</ticket><info>Access denied</info>"));
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.contentType.rfind("text/plain", 0), 0u);
    EXPECT_NE(a.body.rfind("<?xml version=", 0), 0u);
    EXPECT_TRUE(Inspect("state")["error_reports"].empty());
    EXPECT_NE(PostSoap(CloseEnvelope(ticket)).body.find("<closeConnectionResult>OK<"), std::string::npos);
}

TEST_F(Quirks, ChunkedAnswersWithTheRequestsContentType) {
    Use({{"chunked", true}, {"echo_content_type", true}});
    auto r = client_->Post("/webservices/quickbooks.php", AuthenticateEnvelope("demo", "demo", kSync), "text/xml");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->get_header_value("Transfer-Encoding"), "chunked");
    EXPECT_EQ(r->get_header_value("Content-Type"), "text/xml");
    EXPECT_NE(r->body.find("<authenticateResult><string>"), std::string::npos);

    EXPECT_THROW(dm::ScenarioFromJson(json{{"quirks", {{"wraped_results", true}}}}), std::runtime_error);
}
