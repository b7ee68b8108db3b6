#include "ServiceFixture.h"

#include "core/General.h"

using namespace dmtest;
using nlohmann::json;

namespace {

const char* kAccount = R"({"user": "demo", "password": "demo", "name": "Demo Co", "id": "1001"})";
const char* kSync = "<manual>1</manual><paymentnotifications>0</paymentnotifications>";

class Faults : public ServiceTest {
protected:
    void SetUp() override { StartService(std::string("{\"accounts\": [") + kAccount + "]}"); }

    void Script(const std::string& faults) {
        auto r = Post("/_test/scenario", std::string("{\"accounts\": [") + kAccount + "], \"faults\": " + faults + "}",
                      "application/json");
        ASSERT_EQ(r.status, 200) << r.body;
    }

    std::string Ticket(const std::string& prefix = {}) {
        pugi::xml_document doc;
        auto a = PostSoap(AuthenticateEnvelope("demo", "demo", kSync), prefix);
        return SoapBody(doc, a.body).child("authenticateResponse").child("authenticateResult").first_child().text().as_string();
    }
};

TEST_F(Faults, AnswersReplacedOnAnyEndpoint) {
    Script(R"([
      {"operation": "authenticate", "status": 500, "body": "<?xml version=\"1.0\"?><x/>", "content_type": "text/xml"},
      {"endpoint": "dm_confirm_account.php", "drop": true},
      {"endpoint": "dm_checkupdate.php", "non_xml": true},
      {"endpoint": "service.php", "status": 502, "body": "Bad gateway"}
    ])");
    auto a = PostSoap(AuthenticateEnvelope("demo", "demo", kSync));
    EXPECT_EQ(a.status, 500);
    EXPECT_EQ(a.body, "<?xml version=\"1.0\"?><x/>");
    EXPECT_FALSE(PostForm("/business/dm_confirm_account.php", {"startup=1", "un=demo", "pw=demo", "hosted="}).ok)
        << "a dropped connection must break the transfer";
    auto u = PostForm("/business/dm_checkupdate.php", {"v=1.0.0", "b=1"});
    EXPECT_EQ(u.status, 200);
    EXPECT_NE(u.body.rfind("<?xml version=", 0), 0u);
    EXPECT_EQ(Post("/webservices/service.php", "<?xml version=\"1.0\"?><request/>", "text/xml").status, 502);
    // Each fired once: the same requests now get their normal answers.
    EXPECT_EQ(PostSoap(AuthenticateEnvelope("demo", "demo", kSync)).status, 200);
    EXPECT_EQ(PostForm("/business/dm_confirm_account.php", {"startup=1", "un=demo", "pw=demo", "hosted="}).status, 200);
}

TEST_F(Faults, SkipTimesAndAccountSelectWhichRequestsFire) {
    Script(R"([
      {"endpoint": "dm_notifications_update.php", "account": "someone-else", "times": 0, "status": 500},
      {"endpoint": "dm_notifications_update.php", "skip": 1, "times": 2, "status": 503, "delay_ms": 20}
    ])");
    std::vector<int> statuses;
    for (int i = 0; i < 4; ++i) statuses.push_back(PostForm("/business/dm_notifications_update.php", {"un=demo", "pw=demo", "hosted="}).status);
    EXPECT_EQ(statuses, (std::vector<int>{200, 503, 503, 200}));
}

TEST_F(Faults, RedirectMovesTheEndpointForGood) {
    Script(R"([{"operation": "authenticate", "redirect": "eu2/", "times": 0}])");
    pugi::xml_document doc;
    EXPECT_EQ(std::string(SoapBody(doc, PostSoap(AuthenticateEnvelope("demo", "demo", kSync)).body).child("redirect").text().as_string()), "eu2/");
    std::string ticket = Ticket("eu2/");
    ASSERT_FALSE(ticket.empty());
    pugi::xml_document ask;
    EXPECT_TRUE(SoapBody(ask, PostSoap(AskEnvelope(ticket), "eu2/").body).child("sendRequestXMLResponse"));
    EXPECT_EQ(Inspect("requests").back()["prefix"], "eu2/");
}

TEST_F(Faults, AuthenticationAnswersScripted) {
    Script(R"([
      {"operation": "authenticate", "nvu": true},
      {"operation": "authenticate", "company_file": "/no/such/Company.QBW"},
      {"operation": "authenticate", "dm": {"disconnect": "1", "after_sync_message": "Service maintenance until 5 pm.",
                                           "popup": {"url": "http://localhost/business/dm_popup.php", "width": "80%"}}}
    ])");
    std::vector<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        pugi::xml_document doc;
        pugi::xml_node body = SoapBody(doc, PostSoap(AuthenticateEnvelope("demo", "demo", kSync)).body);
        pugi::xml_node result = body.child("authenticateResponse").child("authenticateResult");
        seen.push_back(result ? result.last_child().text().as_string()
                              : std::string(body.child("dm").child("after_sync_message").text().as_string()) + " / " +
                                    body.child("dm").child("popup").child("width").text().as_string());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"nvu", "/no/such/Company.QBW", "Service maintenance until 5 pm. / 80%"}));
}

TEST_F(Faults, DmDuringTheRequestLoop) {
    Script(R"([
      {"operation": "sendRequestXML", "step": "customers", "dm": {"send_request_again": "1"}},
      {"operation": "sendRequestXML", "step": "customers", "dm": {"client_message": "Hello from the service"}},
      {"operation": "receiveResponseXML", "percentage": "abc"},
      {"operation": "sendRequestXML", "step": "invoices", "dm": {"popup": {"url": "http://x/", "send_request_again": "1"}}},
      {"operation": "sendRequestXML", "step": "invoices", "dm": {"disconnect": "1", "after_sync_message": "Stopped."}}
    ])");
    std::string ticket = Ticket();
    auto ask = [&](pugi::xml_document& doc) { return SoapBody(doc, PostSoap(AskEnvelope(ticket)).body); };

    pugi::xml_document d1, d2, d3, d4, d5;
    pugi::xml_node again = ask(d1);
    EXPECT_EQ(std::string(again.child("dm").child("send_request_again").text().as_string()), "1");
    EXPECT_FALSE(again.child("sendRequestXMLResponse")) << "no request may go with send_request_again";

    pugi::xml_node withMessage = ask(d2);
    EXPECT_EQ(std::string(withMessage.child("dm").child("client_message").text().as_string()), "Hello from the service");
    std::string request = withMessage.child("sendRequestXMLResponse").child("sendRequestXMLResult").text().as_string();
    EXPECT_NE(request.find("<CustomerQueryRq"), std::string::npos) << "the step was not consumed by send_request_again";

    FakeQuickBooks qb;
    pugi::xml_node percent = SoapBody(d3, PostSoap(ReceiveEnvelope(ticket, dm::HtmlEscape(qb.Answer(request)))).body);
    EXPECT_EQ(std::string(percent.child("receiveResponseXMLResponse").child("receiveResponseXMLResult").text().as_string()), "abc");

    pugi::xml_node popup = ask(d4);
    EXPECT_EQ(std::string(popup.child("dm").child("popup").child("send_request_again").text().as_string()), "1");
    EXPECT_FALSE(popup.child("sendRequestXMLResponse"));

    pugi::xml_node stop = ask(d5);
    EXPECT_EQ(std::string(stop.child("dm").child("disconnect").text().as_string()), "1");
    EXPECT_EQ(std::string(stop.child("dm").child("after_sync_message").text().as_string()), "Stopped.");
}

TEST_F(Faults, ScenarioAndResetThroughTheInspectionInterface) {
    EXPECT_EQ(Post("/_test/scenario", "{\"accounts\": [{\"password\": \"x\"}]}", "application/json").status, 400);
    EXPECT_EQ(Post("/_test/scenario", "not json", "application/json").status, 400);
    PostForm("/business/dm_confirm_account.php", {"startup=1", "un=demo", "pw=a b&c", "hosted="});
    json requests = Inspect("requests");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["method"], "POST");
    EXPECT_EQ(requests[0]["endpoint"], "business/dm_confirm_account.php");
    EXPECT_EQ(requests[0]["body"], "startup=1&un=demo&pw=a+b%26c&hosted=");
    EXPECT_EQ(requests[0]["form"]["pw"], "a b&c");
    EXPECT_EQ(requests[0]["headers"]["content-type"], "application/x-www-form-urlencoded");
    EXPECT_EQ(Post("/_test/reset", "", "text/plain").status, 200);
    EXPECT_TRUE(Inspect("requests").empty());
}

} // namespace
