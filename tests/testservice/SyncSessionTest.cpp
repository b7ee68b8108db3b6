#include "ServiceFixture.h"

#include "core/General.h"
#include "core/KvXml.h"

using namespace dmtest;
using nlohmann::json;

namespace {

const char* kScenario = R"({
  "accounts": [
    {"user": "a&b", "password": "p<w", "name": "Demo Co", "id": "1001", "type": "qbd",
     "customers_per_request": 2, "allow_attachments": true,
     "smartsync": {"request": "<QBXML><InvoiceQueryRq><FromModifiedDate>{last_modified}</FromModifiedDate></InvoiceQueryRq></QBXML>",
                   "howoften": "120"},
     "payments": [{"customer": "Acme Supplies", "invoice": "1001", "amount": "125.00", "ref": "PMT-1", "date": "2024-03-04"}]},
    {"user": "held", "password": "x", "state": "suspended", "message": "Billing problem."},
    {"user": "files", "password": "x", "type": "ezi"}
  ]
})";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

class SyncSession : public ServiceTest {
protected:
    void SetUp() override {
        StartService(kScenario);
        qb.customers = {{"80000001-1", "Acme Supplies", "ap@acme.test", "2024-03-01T09:00:00"},
                        {"80000002-1", "Zed & Co", "", "2024-03-01T09:00:00"},
                        {"80000003-1", "Baker", "b@baker.test", "2024-03-02T09:00:00"}};
        qb.invoices = {{"T1", "1001", "80000001-1", "Acme Supplies", "125.00", "125.00", "2024-04-01", "2024-03-01T10:00:00"},
                       {"T2", "A&B", "80000002-1", "Zed & Co", "1234.50", "234.50", "2024-04-02", "2024-03-02T10:00:00"},
                       {"T3", "1003", "80000003-1", "Baker", "80.00", "80.00", "2024-04-03", "2024-03-03T11:30:00"}};
    }

    std::string Authenticate(const std::string& sync) {
        pugi::xml_document doc;
        auto a = PostSoap(AuthenticateEnvelope("a&amp;b", "p&lt;w", sync));
        pugi::xml_node result = SoapBody(doc, a.body).child("authenticateResponse").child("authenticateResult");
        EXPECT_EQ(std::string(result.child("string").next_sibling("string").text().as_string()), "");
        return result.child("string").text().as_string();
    }

    // Runs the request loop until the service reports 100 percent; returns the review element
    // text when one was asked for (answered with the given choice).
    void RunLoop(const std::string& ticket, const std::string& chosen = {}, std::string* invoices = nullptr) {
        for (int guard = 0; guard < 20; ++guard) {
            pugi::xml_document doc;
            pugi::xml_node body = SoapBody(doc, PostSoap(AskEnvelope(ticket)).body);
            if (pugi::xml_node unsent = body.child("dm").child("unsent_invoices")) {
                if (invoices) *invoices = doc.child("soap:Envelope").child("soap:Body").child("dm").child("unsent_invoices").child("invoices").text().as_string();
                reviews.push_back(unsent);
                allowAttachments = body.child("dm").child("allow_attachments").text().as_string();
                orders = {unsent.child("order_customer").text().as_string(), unsent.child("order_amount").text().as_string(),
                          unsent.child("order_balance").text().as_string()};
                doc.reset();
                body = SoapBody(doc, PostSoap(ChosenEnvelope(ticket, chosen)).body);
                chosenMessage = body.child("dm").child("client_message").text().as_string();
            }
            std::string request = body.child("sendRequestXMLResponse").child("sendRequestXMLResult").text().as_string();
            EXPECT_FALSE(request.empty());
            std::string response = qb.Answer(request);
            pugi::xml_document rdoc;
            std::string percent = SoapBody(rdoc, PostSoap(ReceiveEnvelope(ticket, dm::HtmlEscape(response))).body)
                                      .child("receiveResponseXMLResponse").child("receiveResponseXMLResult").text().as_string();
            percentages.push_back(std::stoi(percent));
            if (percentages.back() >= 100) return;
        }
        ADD_FAILURE() << "the session never reached 100 percent";
    }

    FakeQuickBooks qb;
    std::vector<pugi::xml_node> reviews;
    std::vector<std::string> orders;
    std::string allowAttachments, chosenMessage;
    std::vector<int> percentages;
};

TEST_F(SyncSession, FullSessionReviewsChosenInvoicesPushesPaymentsAndSetsSmartSync) {
    std::string ticket = Authenticate("<manual>1</manual><paymentnotifications>1</paymentnotifications><previewinvoices>1</previewinvoices>");
    ASSERT_FALSE(ticket.empty());
    std::string lines;
    // The user ticks the invoice whose number needs escaping and keeps the e-mails.
    RunLoop(ticket, "<inv><id>5002</id><num>A&amp;B</num></inv>", &lines);

    EXPECT_EQ(qb.requests, (std::vector<std::string>{"CustomerQueryRq Start", "CustomerQueryRq Continue", "InvoiceQueryRq Start",
                                                     "ReceivePaymentAddRq", "CompanyQueryRq"}));
    ASSERT_EQ(reviews.size(), 1u);
    // Eight TAB-separated fields per line: id, e-mail kind, number, customer, amount, balance, short text, attachments.
    EXPECT_EQ(lines, "5001\t1\t1001\tAcme Supplies\t$125.00\t$125.00\t2024-04-01\t0\n"
                     "5002\t0\tA&B\tZed & Co\t$1,234.50\t$234.50\t2024-04-02\t0\n"
                     "5003\t1\t1003\tBaker\t$80.00\t$80.00\t2024-04-03\t0");
    EXPECT_EQ(orders, (std::vector<std::string>{"0,2,1", "2,0,1", "2,0,1"}));
    EXPECT_EQ(allowAttachments, "1");
    EXPECT_EQ(chosenMessage, "1 invoice will be sent to your customers.");
    ASSERT_EQ(qb.payments.size(), 1u);
    EXPECT_NE(qb.payments[0].find("<CustomerRef><ListID>80000001-1</ListID></CustomerRef>"), std::string::npos);
    EXPECT_NE(qb.payments[0].find("<AppliedToTxnAdd><TxnID>T1</TxnID><PaymentAmount>125.00</PaymentAmount></AppliedToTxnAdd>"),
              std::string::npos);
    EXPECT_TRUE(std::is_sorted(percentages.begin(), percentages.end()));
    EXPECT_LT(percentages.front(), 100);

    pugi::xml_document doc;
    pugi::xml_node smart = SoapBody(doc, PostSoap(CloseEnvelope(ticket)).body).child("closeConnectionResponse").child("smartsync");
    EXPECT_EQ(std::string(smart.child("howoften").text().as_string()), "120");
    EXPECT_EQ(dm::HtmlUnescape(smart.child("request").child_value()),
              "<QBXML><InvoiceQueryRq><FromModifiedDate>2024-03-03T11:30:01</FromModifiedDate></InvoiceQueryRq></QBXML>");
    EXPECT_EQ(std::string(smart.child("filepath").text().as_string()), "C:\\Data\\Demo.QBW");

    json account = Inspect("state")["accounts"][0];
    EXPECT_EQ(account["invoices"][1]["sent"], true);
    EXPECT_EQ(account["invoices"][1]["emailed"], true);
    EXPECT_EQ(account["invoices"][0]["sent"], false);
    EXPECT_EQ(account["payments"][0]["pushed"], true);
    EXPECT_EQ(account["payments"][0]["txn_id"], "PMT-1");
    EXPECT_EQ(account["company_name"], "Demo Company & Sons");
    EXPECT_EQ(account["company_file"], "C:\\Data\\Demo.QBW");

    // The next session asks only for what changed since, and returns the remembered file.
    qb.requests.clear();
    qb.invoices.push_back({"T4", "1004", "80000003-1", "Baker", "10.00", "10.00", "2024-05-01", "2024-03-05T08:00:00"});
    pugi::xml_document adoc;
    auto a = PostSoap(AuthenticateEnvelope("a&amp;b", "p&lt;w", "<automatic>1</automatic><paymentnotifications>0</paymentnotifications><sendinvoices>1</sendinvoices>"));
    pugi::xml_node result = SoapBody(adoc, a.body).child("authenticateResponse").child("authenticateResult");
    EXPECT_EQ(std::string(result.last_child().text().as_string()), "C:\\Data\\Demo.QBW");
    reviews.clear();
    RunLoop(result.first_child().text().as_string());
    EXPECT_TRUE(reviews.empty());
    EXPECT_EQ(qb.requests, (std::vector<std::string>{"CustomerQueryRq Start since 2024-03-02T09:00:00",
                                                     "InvoiceQueryRq Start since 2024-03-03T11:30:00", "CompanyQueryRq"}));
    account = Inspect("state")["accounts"][0];
    EXPECT_EQ(account["invoices"][3]["number"], "1004");
    EXPECT_EQ(account["invoices"][3]["sent"], true) << "sendinvoices sends what this session found";
    EXPECT_EQ(account["invoices"][0]["sent"], false) << "but not invoices held back in an earlier review";
}

TEST_F(SyncSession, PaymentsOnlySessionAsksForNothingElse) {
    std::string ticket = Authenticate("<manual>0</manual><automatic>1</automatic><paymentnotifications>1</paymentnotifications><paymentsonly>1</paymentsonly>");
    RunLoop(ticket);
    EXPECT_EQ(qb.requests, (std::vector<std::string>{"ReceivePaymentAddRq", "CompanyQueryRq"}));
    // Without a customer list the payment names its customer by full name and lets QuickBooks apply it.
    EXPECT_NE(qb.payments[0].find("<FullName>Acme Supplies</FullName>"), std::string::npos);
    EXPECT_NE(qb.payments[0].find("<IsAutoApply>true</IsAutoApply>"), std::string::npos);
}

TEST_F(SyncSession, AuthenticationAnswersReadableByTheAgentsModel) {
    struct {
        std::string user, password, clientExtra;
        std::string child0, child1, disconnectMessage;
    } cases[] = {
        {"a&amp;b", "wrong", "", "", "nvu", ""},
        {"nobody", "x", "", "", "nvu", ""},
        {"held", "x", "", "", "", "Billing problem."},
        {"files", "x", "", "", "", "This business imports invoice files; it does not synchronize with QuickBooks."},
    };
    for (const auto& c : cases) {
        auto a = PostSoap(AuthenticateEnvelope(c.user, c.password, "<manual>1</manual><paymentnotifications>0</paymentnotifications>", c.clientExtra));
        ASSERT_EQ(a.status, 200) << c.user;
        // The agent reads answers with its own model: lower-cased names, soap:Body below the envelope.
        dm::TKvXML xml;
        xml.Parse(a.body);
        dm::TKvXMLElement* body = xml.Root()->FindChild("soap:Body");
        ASSERT_NE(body, nullptr) << a.body;
        if (c.disconnectMessage.empty()) {
            dm::TKvXMLElement* result = body->FindPath("authenticateResponse/authenticateResult");
            ASSERT_NE(result, nullptr);
            EXPECT_EQ(result->ChildAt(0)->Text(), c.child0);
            EXPECT_EQ(result->ChildAt(1)->Text(), c.child1);
        } else {
            EXPECT_EQ(body->PathText("dm/disconnect"), "1");
            EXPECT_EQ(body->PathText("dm/after_sync_message"), c.disconnectMessage);
            EXPECT_EQ(body->FindChild("authenticateResponse"), nullptr);
        }
    }
}

TEST_F(SyncSession, ResetCompanyFilePathForgetsTheRememberedFile) {
    RunLoop(Authenticate("<manual>1</manual><paymentnotifications>0</paymentnotifications>"));
    pugi::xml_document doc;
    auto a = PostSoap(AuthenticateEnvelope("a&amp;b", "p&lt;w", "<manual>1</manual><paymentnotifications>0</paymentnotifications>",
                                           "<resetcompanyfilepath>1</resetcompanyfilepath>"));
    EXPECT_EQ(std::string(SoapBody(doc, a.body).child("authenticateResponse").child("authenticateResult").last_child().text().as_string()), "");
}

TEST_F(SyncSession, MalformedOrForeignRequestsAreRefused) {
    std::string ticket = Authenticate("<manual>1</manual><paymentnotifications>0</paymentnotifications>");
    std::string good = AskEnvelope(ticket);
    struct {
        const char* what;
        std::string body;
        std::string contentType;
    } cases[] = {
        {"bare ampersand", AuthenticateEnvelope("a&b", "p&lt;w", "<manual>1</manual>"), "text/xml"},
        {"bare less-than", AuthenticateEnvelope("a&amp;b", "p<w", "<manual>1</manual>"), "text/xml"},
        {"truncated", good.substr(0, good.size() - 10), "text/xml"},
        {"other SOAP namespace", Replaced(good, "schemas.xmlsoap.org", "example.org"), "text/xml"},
        {"operation without the Web Connector namespace", Replaced(good, " xmlns=\"http://developer.intuit.com/\"", ""), "text/xml"},
        {"not text/xml", good, "application/soap+xml"},
        {"unknown ticket", AskEnvelope("no-such-ticket"), "text/xml"},
        {"ask without the company file", Envelope("sendRequestXML", "<ticket>" + ticket + "</ticket>"), "text/xml"},
        {"chosen invoices without a review", ChosenEnvelope(ticket, ""), "text/xml"},
        {"authenticate without client and sync", Envelope("authenticate", "<strUserName>x</strUserName><strPassword>y</strPassword>"), "text/xml"},
        {"response that is not qbXML", ReceiveEnvelope(ticket, "&lt;QBXML&gt;&lt;QBXMLMsgsRs&gt;"), "text/xml"},
    };
    // The last case needs an outstanding request.
    PostSoap(good);
    for (const auto& c : cases) {
        auto a = Post("/webservices/quickbooks.php", c.body, c.contentType);
        EXPECT_GE(a.status, 400) << c.what << ": " << a.body;
        pugi::xml_document doc;
        EXPECT_TRUE(SoapBody(doc, a.body).child("soap:Fault")) << c.what;
    }
}

} // namespace
