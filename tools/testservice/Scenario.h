#pragma once

// What the local service knows: accounts with their businesses, customers, invoices, payments
// received online, notifications and import settings; the update on offer; and the faults a test
// scripts. A scenario seeds it; the endpoints change it as the agent talks to them.

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace dm {

struct TCustomer {
    std::string listId;
    std::string name;
    std::string email;
    bool enrolled = false; // the customer receives invoices through the service
};

struct TAttachment {
    int id = 0;        // key for re-ordering
    std::string data;  // key for deleting
    std::string filename;
    std::string description;
    int render = 0; // 0 link, 1 appended to the invoice PDF
    std::string bytes;
};

struct TInvoice {
    std::string key; // the service's own id of the invoice
    std::string txnId;
    std::string number;
    std::string customer;
    std::string customerListId;
    std::string amount;  // decimal text, as QuickBooks gives it
    std::string balance;
    std::string dueDate;
    std::string timeModified;
    bool sent = false;
    bool emailed = false;
    bool imported = false; // came from an invoice file import
    std::vector<TAttachment> attachments;
};

struct TPayment {
    std::string customer;
    std::string invoice; // invoice number it pays
    std::string amount;
    std::string ref;
    std::string date;
    bool pushed = false;
    bool announced = false;
    std::string txnId; // QuickBooks' id once recorded
    std::string error; // QuickBooks' message when it refused the payment
};

struct TImportSettings {
    std::string filePattern = "*.csv";
    bool pdfs = true;
    bool skipFirstLine = true;
    std::string pdfPattern = "{number}.pdf";
    std::string refuseMessage;
    int progressSteps = 2;
    // Invoices of an import that a previous session left open (the agent resumes it).
    std::vector<std::vector<std::string>> openInvoices; // number, customer, amount, due date
};

struct TSmartSync {
    std::string request; // "{last_modified}" is replaced when the answer is built
    std::string howOften;
    std::string filePath;
};

struct TAccount {
    std::string user;
    std::string password;
    std::string name;
    std::string id;
    std::string type = "qbd";
    std::string state = "usable"; // usable, suspended, deleted, password_not_accepted, setup_wizard, done
    std::string message;
    bool delaySendingInvoices = false;
    bool allowAttachments = true;
    long long attachmentLimit = 5 * 1024 * 1024;
    // What the attachment list says may still be attached, in place of the true figure (the
    // limit itself is still enforced), and whether it says it at all.
    std::optional<std::string> reportedRemainingSize;
    bool omitRemainingSize = false;
    std::string companyFile;
    bool rememberCompanyFile = true;
    int customersPerRequest = 100;
    int invoicesPerRequest = 100;
    bool paymentNotices = true;
    std::optional<TSmartSync> smartSync;
    std::vector<std::string> notifications;
    TImportSettings import;

    std::vector<TCustomer> customers;
    std::vector<TInvoice> invoices;
    std::vector<TPayment> payments;
    std::string customersModified; // newest TimeModified seen, for the next session's filter
    std::string invoicesModified;
    std::string lastSync;
    std::string companyName; // as QuickBooks last reported it
};

struct TUpdateOffer {
    bool available = false;
    std::string startupVersion; // empty: not sent
    std::string message = "A new version of the Invara Desktop Manager is available.|Do you want to download and install it now?";
    long long installerSize = 256 * 1024;
    // A package to offer instead of the one made in memory (the project's own, when built).
    std::string installerFile;
};

// One scripted fault: which requests it matches and what it does to them.
struct TFault {
    std::string endpoint;  // matched against the end of the request's endpoint; empty: any
    std::string operation; // SOAP operation or biller operation; empty: any
    std::string step;      // session step: customers, invoices, review, payment, company
    std::string account;   // user name; empty: any
    int skip = 0;          // matching requests to let through before firing
    int times = 1;         // how often it fires; 0: every time
    int delayMs = 0;
    bool drop = false;
    std::optional<int> status;
    std::optional<std::string> body;
    std::string contentType = "text/html";
    std::string redirect;
    bool redirectAlways = false; // redirect even at that prefix: a service that never stops
    bool nvu = false;
    std::optional<std::string> companyFile;
    std::optional<std::string> percentage;
    nlohmann::json dm; // children of the dm element, object
    // Counters, changed as requests arrive.
    int seen = 0;
    int fired = 0;
};

// How the sync endpoint answers when it plays another server of the same protocol; every
// switch off is the service's own way.
struct TQuirks {
    bool wrappedResults = false;       // scalar results in one child element: <string>, <int>
    std::string envelopePrefix = "soap";
    std::string operationPrefix;       // on the operation elements and everything inside them
    std::string noWork;                // authenticate answers this as the second string
    bool omitEmptyCompanyFile = false; // authenticateResult without a second string for ""
    bool emptyRequest = false;         // never 100 percent; an empty request when all is done
    bool noReportError = false;        // reportError unknown: status 200 and a stack trace
    bool chunked = false;              // answers sent with chunked transfer encoding
    bool echoContentType = false;      // the answer's Content-Type is the request's
};

struct TScenario {
    std::vector<TAccount> accounts;
    TUpdateOffer update;
    std::vector<TFault> faults;
    TQuirks quirks;
};

// Throws std::runtime_error (with the reason) when the JSON does not describe a scenario.
TScenario ScenarioFromJson(const nlohmann::json& json);
// user "demo", password "demo", business "Demo Co", id 1001, type "qbd".
TScenario DemoScenario();

// The account state as the inspection interface shows it.
nlohmann::json AccountToJson(const TAccount& account);

} // namespace dm
