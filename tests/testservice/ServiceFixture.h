#pragma once

// Starts the service in-process on a free port and talks to it over loopback with envelopes and
// forms written the way the agent writes them.

#include "TestService.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <memory>
#include <string>
#include <vector>

namespace dmtest {

struct THttpAnswer {
    bool ok = false; // false: the connection failed or broke
    int status = 0;
    std::string body;
    std::string contentType;
    std::string location;
    std::string cookie;
};

class ServiceTest : public ::testing::Test {
protected:
    void StartService(const std::string& scenarioJson);
    void TearDown() override;

    THttpAnswer Post(const std::string& path, const std::string& body, const std::string& contentType);
    THttpAnswer Get(const std::string& path, const std::string& cookie = {});
    // Fields "name=value", each value form-encoded the way the agent's transport does it.
    THttpAnswer PostForm(const std::string& path, const std::vector<std::string>& fields);
    THttpAnswer PostSoap(const std::string& envelope, const std::string& prefix = {});
    nlohmann::json Inspect(const std::string& what);

    std::unique_ptr<dm::TTestService> service_;
    std::unique_ptr<httplib::Client> client_;
};

// The agent's form encoding of one value.
std::string FormEncode(const std::string& text);

// Envelopes exactly as the agent writes them.
std::string Envelope(const std::string& operation, const std::string& content, const std::string& after = {});
std::string AuthenticateEnvelope(const std::string& escapedUser, const std::string& escapedPassword,
                                 const std::string& syncContent, const std::string& clientExtra = {});
std::string AskEnvelope(const std::string& ticket, const std::string& companyFile = "C:\\\\Data\\\\Demo.QBW");
std::string ReceiveEnvelope(const std::string& ticket, const std::string& escapedResponse);
std::string ChosenEnvelope(const std::string& ticket, const std::string& chosen);
std::string CloseEnvelope(const std::string& ticket);

// The soap:Body of an answer, parsed; fails the test when the answer is not XML.
pugi::xml_node SoapBody(pugi::xml_document& doc, const std::string& answer);

// A QuickBooks company answering the service's qbXML requests, iterators included.
class FakeQuickBooks {
public:
    struct Customer { std::string listId, name, email, modified; };
    struct Invoice { std::string txnId, number, customerListId, customer, subtotal, balance, due, modified; };
    std::vector<Customer> customers;
    std::vector<Invoice> invoices;
    std::vector<std::string> requests; // request element names with their key attributes
    std::vector<std::string> payments; // ReceivePaymentAdd bodies
    std::string Answer(const std::string& qbxml);

private:
    std::map<std::string, size_t> iterators_;
    int nextIterator_ = 1;
};

} // namespace dmtest
