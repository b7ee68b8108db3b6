#include "ServiceFixture.h"

#include "core/General.h"

#include <sstream>

namespace dmtest {

void ServiceTest::StartService(const std::string& scenarioJson) {
    service_ = std::make_unique<dm::TTestService>(dm::ScenarioFromJson(nlohmann::json::parse(scenarioJson)));
    int port = service_->Start("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port);
    client_->set_read_timeout(20);
}

void ServiceTest::TearDown() {
    client_.reset();
    if (service_) service_->Stop();
}

namespace {
THttpAnswer Convert(const httplib::Result& r) {
    THttpAnswer a;
    if (!r) return a;
    a.ok = true;
    a.status = r->status;
    a.body = r->body;
    a.contentType = r->get_header_value("Content-Type");
    a.location = r->get_header_value("Location");
    a.cookie = r->get_header_value("Set-Cookie");
    return a;
}
} // namespace

THttpAnswer ServiceTest::Post(const std::string& path, const std::string& body, const std::string& contentType) {
    return Convert(client_->Post(path.c_str(), body, contentType.c_str()));
}

THttpAnswer ServiceTest::Get(const std::string& path, const std::string& cookie) {
    httplib::Headers headers;
    if (!cookie.empty()) headers.emplace("Cookie", cookie.substr(0, cookie.find(';')));
    return Convert(client_->Get(path.c_str(), headers));
}

std::string FormEncode(const std::string& text) {
    static const std::string plain = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_.!~*'()";
    std::string out;
    for (unsigned char c : text) {
        if (c == ' ') {
            out += '+';
        } else if (plain.find(static_cast<char>(c)) != std::string::npos) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

THttpAnswer ServiceTest::PostForm(const std::string& path, const std::vector<std::string>& fields) {
    std::string body;
    for (const auto& f : fields) {
        size_t eq = f.find('=');
        if (!body.empty()) body += '&';
        body += f.substr(0, eq + 1) + FormEncode(f.substr(eq + 1));
    }
    return Post(path, body, "application/x-www-form-urlencoded");
}

THttpAnswer ServiceTest::PostSoap(const std::string& envelope, const std::string& prefix) {
    return Post("/" + prefix + "webservices/quickbooks.php", envelope, "text/xml");
}

nlohmann::json ServiceTest::Inspect(const std::string& what) {
    auto r = client_->Get(("/_test/" + what).c_str());
    EXPECT_TRUE(r && r->status == 200);
    return r ? nlohmann::json::parse(r->body) : nlohmann::json();
}

std::string Envelope(const std::string& operation, const std::string& content, const std::string& after) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><soap:Body><" +
           operation + " xmlns=\"http://developer.intuit.com/\">" + content + "</" + operation + ">" + after +
           "</soap:Body></soap:Envelope>";
}

std::string AuthenticateEnvelope(const std::string& user, const std::string& password, const std::string& sync,
                                 const std::string& clientExtra) {
    return Envelope("authenticate", "<strUserName>" + user + "</strUserName><strPassword>" + password + "</strPassword>",
                    "<client><version>1.0.0</version><build>1</build><computername>desk</computername><username>pat</username>"
                    "<hostname>desk</hostname><localip>127.0.0.1</localip>" + clientExtra + "</client><sync>" + sync +
                        "<hosted></hosted></sync>");
}

std::string AskEnvelope(const std::string& ticket, const std::string& companyFile) {
    return Envelope("sendRequestXML", "<ticket>" + ticket + "</ticket><strHCPResponse></strHCPResponse><strCompanyFileName>" +
                                          companyFile + "</strCompanyFileName><qbXMLCountry>US</qbXMLCountry>"
                                                        "<qbXMLMajorVers>13</qbXMLMajorVers><qbXMLMinorVers>0</qbXMLMinorVers>");
}

std::string ReceiveEnvelope(const std::string& ticket, const std::string& response) {
    return Envelope("receiveResponseXML", "<ticket>" + ticket + "</ticket><response>" + response +
                                              "</response><hresult /><message />");
}

std::string ChosenEnvelope(const std::string& ticket, const std::string& chosen) {
    return Envelope("sendRequestXML", "<ticket>" + ticket + "</ticket><sendchoseninvoices>" + chosen + "</sendchoseninvoices>");
}

std::string CloseEnvelope(const std::string& ticket) { return Envelope("closeConnection", "<ticket>" + ticket + "</ticket>"); }

pugi::xml_node SoapBody(pugi::xml_document& doc, const std::string& answer) {
    EXPECT_TRUE(doc.load_string(answer.c_str())) << answer;
    pugi::xml_node body = doc.child("soap:Envelope").child("soap:Body");
    EXPECT_TRUE(body) << answer;
    return body;
}

std::string FakeQuickBooks::Answer(const std::string& qbxml) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(qbxml.c_str())) << qbxml;
    pugi::xml_node rq = doc.child("QBXML").child("QBXMLMsgsRq").first_child();
    std::string name = rq.name();
    std::string id = rq.attribute("requestID").as_string();
    std::ostringstream rs;
    auto iterate = [&](const char* type, auto& list, auto ret) {
        std::string it = rq.attribute("iterator").as_string();
        std::string since = rq.child("FromModifiedDate") ? rq.child("FromModifiedDate").text().as_string()
                                                         : rq.child("ModifiedDateRangeFilter").child("FromModifiedDate").text().as_string();
        requests.push_back(name + " " + it + (since.empty() ? "" : " since " + since));
        std::string iteratorId = it == "Continue" ? rq.attribute("iteratorID").as_string() : "{" + std::to_string(nextIterator_++) + "}";
        size_t& pos = iterators_[iteratorId];
        size_t max = rq.child("MaxReturned").text().as_uint(1000);
        std::string items;
        size_t count = 0;
        while (pos < list.size() && count < max) {
            if (list[pos].modified >= since) {
                items += ret(list[pos]);
                ++count;
            }
            ++pos;
        }
        size_t remaining = 0;
        for (size_t i = pos; i < list.size(); ++i) remaining += list[i].modified >= since;
        rs << "<" << type << "QueryRs requestID=\"" << id << "\" statusCode=\"" << (count ? 0 : 1)
           << "\" statusSeverity=\"Info\" statusMessage=\"Status OK\" iteratorRemainingCount=\"" << remaining
           << "\" iteratorID=\"" << iteratorId << "\">" << items << "</" << type << "QueryRs>";
    };
    if (name == "CustomerQueryRq") {
        iterate("Customer", customers, [](const Customer& c) {
            return "<CustomerRet><ListID>" + c.listId + "</ListID><TimeModified>" + c.modified + "</TimeModified><Name>" +
                   dm::HtmlEscape(c.name) + "</Name><FullName>" + dm::HtmlEscape(c.name) + "</FullName><Email>" + c.email +
                   "</Email></CustomerRet>";
        });
    } else if (name == "InvoiceQueryRq") {
        iterate("Invoice", invoices, [](const Invoice& i) {
            return "<InvoiceRet><TxnID>" + i.txnId + "</TxnID><TimeModified>" + i.modified + "</TimeModified><RefNumber>" +
                   dm::HtmlEscape(i.number) + "</RefNumber><CustomerRef><ListID>" + i.customerListId + "</ListID><FullName>" +
                   dm::HtmlEscape(i.customer) + "</FullName></CustomerRef><DueDate>" + i.due + "</DueDate><Subtotal>" +
                   i.subtotal + "</Subtotal><SalesTaxTotal>0.00</SalesTaxTotal><BalanceRemaining>" + i.balance +
                   "</BalanceRemaining></InvoiceRet>";
        });
    } else if (name == "ReceivePaymentAddRq") {
        requests.push_back(name);
        std::ostringstream body;
        rq.child("ReceivePaymentAdd").print(body, "", pugi::format_raw);
        payments.push_back(body.str());
        rs << "<ReceivePaymentAddRs requestID=\"" << id << "\" statusCode=\"0\" statusSeverity=\"Info\" statusMessage=\"Status OK\">"
           << "<ReceivePaymentRet><TxnID>PMT-" << payments.size() << "</TxnID></ReceivePaymentRet></ReceivePaymentAddRs>";
    } else if (name == "CompanyQueryRq") {
        requests.push_back(name);
        rs << "<CompanyQueryRs requestID=\"" << id << "\" statusCode=\"0\" statusSeverity=\"Info\" statusMessage=\"Status OK\">"
           << "<CompanyRet><CompanyName>Demo Company &amp; Sons</CompanyName></CompanyRet></CompanyQueryRs>";
    } else {
        ADD_FAILURE() << "unexpected request " << name;
    }
    return "<?xml version=\"1.0\" ?><QBXML><QBXMLMsgsRs>" + rs.str() + "</QBXMLMsgsRs></QBXML>";
}

} // namespace dmtest
