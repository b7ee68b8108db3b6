#include "Scenario.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace dm {

using nlohmann::json;

namespace {

// Numbers and booleans are accepted where a text is expected, so that "id": 1001 works.
std::string Text(const json& j, const char* key, const std::string& fallback = {}) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) return fallback;
    if (it->is_string()) return it->get<std::string>();
    if (it->is_number_integer()) return std::to_string(it->get<long long>());
    if (it->is_number()) return it->dump();
    throw std::runtime_error(std::string("\"") + key + "\" must be a text");
}

template <typename T>
T Value(const json& j, const char* key, T fallback) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) return fallback;
    try {
        return it->get<T>();
    } catch (const json::exception&) {
        throw std::runtime_error(std::string("\"") + key + "\" has the wrong type");
    }
}

const json& Array(const json& j, const char* key) {
    static const json empty = json::array();
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) return empty;
    if (!it->is_array()) throw std::runtime_error(std::string("\"") + key + "\" must be a list");
    return *it;
}

TCustomer CustomerFromJson(const json& j, int index) {
    TCustomer c;
    if (j.is_string()) {
        c.name = j.get<std::string>();
    } else {
        c.name = Text(j, "name");
        c.email = Text(j, "email");
        c.enrolled = Value(j, "enrolled", false);
        c.listId = Text(j, "list_id");
    }
    if (c.listId.empty()) c.listId = "80000" + std::to_string(index + 1) + "-1000000000";
    return c;
}

TInvoice InvoiceFromJson(const json& j, const TAccount& account, int index) {
    TInvoice inv;
    inv.key = Text(j, "key", std::to_string(5001 + index));
    inv.txnId = Text(j, "txn_id", std::to_string(index + 1) + "-1000000000");
    inv.number = Text(j, "number");
    inv.customer = Text(j, "customer");
    inv.amount = Text(j, "amount", "0.00");
    inv.balance = Text(j, "balance", inv.amount);
    inv.dueDate = Text(j, "due_date");
    inv.timeModified = Text(j, "time_modified");
    inv.sent = Value(j, "sent", false);
    inv.emailed = inv.sent;
    for (const auto& c : account.customers)
        if (c.name == inv.customer) inv.customerListId = c.listId;
    int next = 1;
    for (const auto& a : Array(j, "attachments")) {
        TAttachment att;
        att.id = next;
        att.data = "att_" + inv.key + "_" + std::to_string(next);
        ++next;
        att.filename = Text(a, "filename", "attachment.pdf");
        att.description = Text(a, "description");
        att.render = Value(a, "render", 0);
        att.bytes = std::string(static_cast<size_t>(Value(a, "size", 1024)), 'x');
        inv.attachments.push_back(std::move(att));
    }
    return inv;
}

TAccount AccountFromJson(const json& j) {
    if (!j.is_object()) throw std::runtime_error("an account must be an object");
    TAccount a;
    a.user = Text(j, "user");
    if (a.user.empty()) throw std::runtime_error("an account needs a \"user\"");
    a.password = Text(j, "password");
    a.name = Text(j, "name", a.user);
    a.id = Text(j, "id");
    a.type = Text(j, "type", "qbd");
    if (a.type != "qbd" && a.type != "ezi") throw std::runtime_error("\"type\" must be \"qbd\" or \"ezi\"");
    a.state = Text(j, "state", "usable");
    static const char* states[] = {"usable", "suspended", "deleted", "password_not_accepted", "setup_wizard", "done"};
    bool known = false;
    for (const char* s : states) known = known || a.state == s;
    if (!known) throw std::runtime_error("unknown account state \"" + a.state + "\"");
    a.message = Text(j, "message");
    a.delaySendingInvoices = Value(j, "delay_sending_invoices", false);
    a.allowAttachments = Value(j, "allow_attachments", true);
    a.attachmentLimit = Value(j, "attachment_limit", a.attachmentLimit);
    if (j.contains("remaining_size")) a.reportedRemainingSize = Text(j, "remaining_size");
    a.omitRemainingSize = Value(j, "omit_remaining_size", false);
    a.companyFile = Text(j, "company_file");
    a.rememberCompanyFile = Value(j, "remember_company_file", true);
    a.customersPerRequest = std::max(1, Value(j, "customers_per_request", 100));
    a.invoicesPerRequest = std::max(1, Value(j, "invoices_per_request", 100));
    a.paymentNotices = Value(j, "payment_notifications", true);
    if (auto it = j.find("smartsync"); it != j.end() && !it->is_null()) {
        TSmartSync s;
        s.request = Text(*it, "request");
        s.howOften = Text(*it, "howoften", "300");
        s.filePath = Text(*it, "filepath");
        a.smartSync = s;
    }
    for (const auto& n : Array(j, "notifications")) a.notifications.push_back(n.get<std::string>());
    if (auto it = j.find("import"); it != j.end() && it->is_object()) {
        a.import.filePattern = Text(*it, "file_pattern", a.import.filePattern);
        a.import.pdfs = Value(*it, "pdfs", a.import.pdfs);
        a.import.skipFirstLine = Value(*it, "skip_first_line", a.import.skipFirstLine);
        a.import.pdfPattern = Text(*it, "pdf_pattern", a.import.pdfPattern);
        a.import.refuseMessage = Text(*it, "refuse_message");
        a.import.progressSteps = std::max(1, Value(*it, "progress_steps", a.import.progressSteps));
        for (const auto& inv : Array(*it, "open_invoices"))
            a.import.openInvoices.push_back({Text(inv, "number"), Text(inv, "customer"), Text(inv, "amount", "0.00"),
                                             Text(inv, "due_date")});
    }
    int i = 0;
    for (const auto& c : Array(j, "customers")) a.customers.push_back(CustomerFromJson(c, i++));
    i = 0;
    for (const auto& inv : Array(j, "invoices")) a.invoices.push_back(InvoiceFromJson(inv, a, i++));
    for (const auto& p : Array(j, "payments")) {
        TPayment pay;
        pay.customer = Text(p, "customer");
        pay.invoice = Text(p, "invoice");
        pay.amount = Text(p, "amount", "0.00");
        pay.ref = Text(p, "ref");
        pay.date = Text(p, "date", "2024-01-15");
        a.payments.push_back(std::move(pay));
    }
    return a;
}

TFault FaultFromJson(const json& j) {
    if (!j.is_object()) throw std::runtime_error("a fault must be an object");
    TFault f;
    f.endpoint = Text(j, "endpoint");
    f.operation = Text(j, "operation");
    f.step = Text(j, "step");
    f.account = Text(j, "account");
    f.skip = Value(j, "skip", 0);
    f.times = Value(j, "times", 1);
    f.delayMs = Value(j, "delay_ms", 0);
    f.drop = Value(j, "drop", false);
    if (j.contains("status")) f.status = Value(j, "status", 200);
    if (j.contains("body")) f.body = Text(j, "body");
    if (j.value("non_xml", false) && !f.body)
        f.body = "<br />\n<b>Fatal error</b>:  Uncaught exception in quickbooks.php on line 214<br />\n";
    f.contentType = Text(j, "content_type", f.contentType);
    f.redirect = Text(j, "redirect");
    f.redirectAlways = Value(j, "redirect_always", false);
    f.nvu = Value(j, "nvu", false);
    if (j.contains("company_file")) f.companyFile = Text(j, "company_file");
    if (j.contains("percentage")) f.percentage = Text(j, "percentage");
    if (auto it = j.find("dm"); it != j.end()) {
        if (!it->is_object()) throw std::runtime_error("\"dm\" must be an object");
        f.dm = *it;
    }
    return f;
}

TQuirks QuirksFromJson(const json& j) {
    if (!j.is_object()) throw std::runtime_error("\"quirks\" must be an object");
    static const char* known[] = {"wrapped_results", "envelope_prefix", "operation_prefix",
                                  "no_work",         "omit_empty_company_file", "empty_request",
                                  "no_report_error", "chunked", "echo_content_type"};
    for (auto it = j.begin(); it != j.end(); ++it)
        if (std::none_of(std::begin(known), std::end(known), [&](const char* k) { return it.key() == k; }))
            throw std::runtime_error("unknown quirk \"" + it.key() + "\"");
    TQuirks q;
    q.wrappedResults = Value(j, "wrapped_results", false);
    q.envelopePrefix = Text(j, "envelope_prefix", q.envelopePrefix);
    q.operationPrefix = Text(j, "operation_prefix");
    q.noWork = Text(j, "no_work");
    q.omitEmptyCompanyFile = Value(j, "omit_empty_company_file", false);
    q.emptyRequest = Value(j, "empty_request", false);
    q.noReportError = Value(j, "no_report_error", false);
    q.chunked = Value(j, "chunked", false);
    q.echoContentType = Value(j, "echo_content_type", false);
    // The prefixes go into the answers as they are.
    for (const std::string* prefix : {&q.envelopePrefix, &q.operationPrefix})
        if (prefix->find_first_of(" <>\"':/&") != std::string::npos)
            throw std::runtime_error("a prefix must be an XML name");
    if (q.envelopePrefix.empty()) throw std::runtime_error("\"envelope_prefix\" must not be empty");
    return q;
}

} // namespace

TScenario ScenarioFromJson(const json& j) {
    if (!j.is_object()) throw std::runtime_error("a scenario must be a JSON object");
    TScenario s;
    for (const auto& a : Array(j, "accounts")) s.accounts.push_back(AccountFromJson(a));
    if (auto it = j.find("update"); it != j.end() && it->is_object()) {
        s.update.available = Value(*it, "available", false);
        s.update.startupVersion = Text(*it, "startup_version");
        s.update.message = Text(*it, "message", s.update.message);
        s.update.installerSize = Value(*it, "installer_size", s.update.installerSize);
        s.update.installerFile = Text(*it, "installer_file");
    }
    for (const auto& f : Array(j, "faults")) s.faults.push_back(FaultFromJson(f));
    if (auto it = j.find("quirks"); it != j.end() && !it->is_null()) s.quirks = QuirksFromJson(*it);
    return s;
}

TScenario DemoScenario() {
    return ScenarioFromJson(json::parse(R"({
      "accounts": [{
        "user": "demo", "password": "demo", "name": "Demo Co", "id": "1001", "type": "qbd",
        "allow_attachments": true,
        "smartsync": {
          "request": "<?xml version=\"1.0\" encoding=\"utf-8\"?><?qbxml version=\"13.0\"?><QBXML><QBXMLMsgsRq onError=\"continueOnError\"><InvoiceQueryRq requestID=\"1\"><MaxReturned>1</MaxReturned><ModifiedDateRangeFilter><FromModifiedDate>{last_modified}</FromModifiedDate></ModifiedDateRangeFilter></InvoiceQueryRq></QBXMLMsgsRq></QBXML>",
          "howoften": "300"
        },
        "notifications": ["<div><b>Welcome to Invara.</b></div><div>Your invoices and payments will appear here.</div>"],
        "payments": [
          {"customer": "Acme Supplies", "invoice": "1001", "amount": "125.00", "ref": "INV-PMT-7001", "date": "2024-03-04"}
        ]
      }]
    })"));
}

json AccountToJson(const TAccount& a) {
    json customers = json::array();
    for (const auto& c : a.customers)
        customers.push_back({{"list_id", c.listId}, {"name", c.name}, {"email", c.email}, {"enrolled", c.enrolled}});
    json invoices = json::array();
    for (const auto& inv : a.invoices) {
        json atts = json::array();
        for (const auto& att : inv.attachments)
            atts.push_back({{"id", att.id}, {"data", att.data}, {"filename", att.filename},
                            {"description", att.description}, {"render", att.render}, {"size", att.bytes.size()}});
        invoices.push_back({{"key", inv.key}, {"txn_id", inv.txnId}, {"number", inv.number}, {"customer", inv.customer},
                            {"amount", inv.amount}, {"balance", inv.balance}, {"due_date", inv.dueDate},
                            {"time_modified", inv.timeModified}, {"sent", inv.sent}, {"emailed", inv.emailed},
                            {"imported", inv.imported}, {"attachments", atts}});
    }
    json payments = json::array();
    for (const auto& p : a.payments)
        payments.push_back({{"customer", p.customer}, {"invoice", p.invoice}, {"amount", p.amount}, {"ref", p.ref},
                            {"date", p.date}, {"pushed", p.pushed}, {"announced", p.announced},
                            {"txn_id", p.txnId}, {"error", p.error}});
    return {{"user", a.user}, {"name", a.name}, {"id", a.id}, {"type", a.type}, {"state", a.state},
            {"password", a.password}, {"company_file", a.companyFile}, {"company_name", a.companyName},
            {"last_sync", a.lastSync}, {"customers", customers}, {"invoices", invoices}, {"payments", payments},
            {"pending_notifications", a.notifications}};
}

} // namespace dm
