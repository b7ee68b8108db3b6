// The sync SOAP endpoint: the Web Connector operations run in reverse, with the service
// driving QuickBooks through qbXML requests and reading its answers.

#include "TestService.h"
#include "XmlInput.h"

#include "core/General.h"

#include <algorithm>

namespace dm {

namespace {

const std::string kSoapNs = "http://schemas.xmlsoap.org/soap/envelope/";
const std::string kQbwcNs = "http://developer.intuit.com/";

TServiceAnswer Fault(int status, const std::string& code, const std::string& message) {
    TServiceAnswer a;
    a.status = status;
    a.body = SoapFault(code, message);
    return a;
}

std::string Element(const std::string& name, const std::string& escapedText) {
    return "<" + name + ">" + escapedText + "</" + name + ">";
}

std::string JsonText(const nlohmann::json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_boolean()) return value.get<bool>() ? "1" : "0";
    if (value.is_null()) return {};
    return value.dump();
}

// The dm element of a scripted fault, children in the scenario's order of keys.
std::string DmElement(const nlohmann::json& dm, const std::string& clientMessage = {}) {
    std::string out = "<dm>";
    if (!clientMessage.empty() && !dm.contains("client_message")) out += Element("client_message", XmlText(clientMessage));
    for (auto it = dm.begin(); it != dm.end(); ++it) {
        if (it->is_object()) {
            out += "<" + it.key() + ">";
            for (auto c = it->begin(); c != it->end(); ++c) out += Element(c.key(), XmlText(JsonText(*c)));
            out += "</" + it.key() + ">";
        } else {
            out += Element(it.key(), XmlText(JsonText(*it)));
        }
    }
    return out + "</dm>";
}

// A dm that makes the agent ask again, show a window or stop: no qbXML request may go with it.
bool DmInterrupts(const nlohmann::json& dm) {
    if (!dm.is_object()) return false;
    auto is1 = [](const nlohmann::json& j, const char* key) { return j.contains(key) && JsonText(j[key]) == "1"; };
    return is1(dm, "send_request_again") || is1(dm, "disconnect") || dm.contains("popup") ||
           dm.contains("unsent_invoices");
}

const char* StepName(TStepKind kind) {
    switch (kind) {
    case TStepKind::Customers: return "customers";
    case TStepKind::Invoices: return "invoices";
    case TStepKind::Review: return "review";
    case TStepKind::Payment: return "payment";
    case TStepKind::Company: return "company";
    }
    return "";
}

std::string Child(const pugi::xml_node& node, const char* name) { return node.child(name).text().as_string(); }

// Tabs and line breaks would split an unsent-invoice line.
std::string LineField(std::string text, size_t capacity = std::string::npos) {
    for (char& c : text)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    if (text.size() > capacity) text.resize(capacity);
    return XmlText(text);
}

std::string Join(const std::vector<size_t>& positions) {
    std::string out;
    for (size_t i = 0; i < positions.size(); ++i) out += (i ? "," : "") + std::to_string(positions[i]);
    return out;
}

} // namespace

std::string TTestService::SoapAnswer(const std::string& bodyContent) const {
    return dm::SoapAnswer(bodyContent, scenario_.quirks.envelopePrefix);
}

std::string TTestService::OperationAnswer(const std::string& operation, const std::string& resultContent,
                                          const std::string& more) const {
    const std::string& prefix = scenario_.quirks.operationPrefix;
    const std::string p = prefix.empty() ? std::string() : prefix + ":";
    const std::string ns = prefix.empty() ? " xmlns=\"" + kQbwcNs + "\"" : " xmlns:" + prefix + "=\"" + kQbwcNs + "\"";
    return "<" + p + operation + "Response" + ns + "><" + p + operation + "Result>" + resultContent + "</" + p +
           operation + "Result>" + more + "</" + p + operation + "Response>";
}

std::string TTestService::Scalar(const std::string& type, const std::string& escapedText) const {
    if (!scenario_.quirks.wrappedResults) return escapedText;
    const std::string& prefix = scenario_.quirks.operationPrefix;
    return Element(prefix.empty() ? type : prefix + ":" + type, escapedText);
}

TServiceAnswer TTestService::SyncEndpoint(TServiceRequest& request) {
    TServiceAnswer answer = SyncOperation(request);
    const TQuirks& quirks = scenario_.quirks;
    answer.chunked = quirks.chunked;
    if (quirks.echoContentType && !request.contentType.empty()) answer.contentType = request.contentType;
    return answer;
}

TServiceAnswer TTestService::SyncOperation(TServiceRequest& request) {
    if (request.method != "POST") {
        TakeFault(request);
        TServiceAnswer a;
        a.status = 405;
        a.contentType = "text/plain";
        a.body = "The sync service takes SOAP requests by POST.\n";
        return a;
    }
    pugi::xml_document doc;
    std::string error;
    bool parsed = ParseStrict(request.body, doc, error);
    pugi::xml_node root = doc.document_element();
    pugi::xml_node body = parsed ? ChildNs(root, "Body", kSoapNs) : pugi::xml_node();
    pugi::xml_node op;
    if (body)
        for (pugi::xml_node c = body.first_child(); c && !op; c = c.next_sibling())
            if (c.type() == pugi::node_element) op = c;
    if (op) request.operation = LocalName(op);

    if (!parsed || LocalName(root) != "Envelope" || NamespaceOf(root) != kSoapNs || !body || !op ||
        NamespaceOf(op) != kQbwcNs || request.contentType.rfind("text/xml", 0) != 0) {
        TServiceAnswer a;
        if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, a)) return a;
        if (!parsed) return Fault(400, "Client", "The request is not well-formed XML: " + error);
        if (request.contentType.rfind("text/xml", 0) != 0)
            return Fault(415, "Client", "Content type \"" + request.contentType + "\" is not text/xml.");
        return Fault(400, "Client", "The request is not a SOAP 1.1 envelope with a Web Connector operation.");
    }
    const std::string& name = request.operation;
    if (name == "authenticate") return SyncAuthenticate(request, body, op);
    if (name == "sendRequestXML") return SyncSendRequest(request, op);
    if (name == "receiveResponseXML") return SyncReceiveResponse(request, op);
    if (name == "closeConnection") return SyncClose(request, op);
    if (name == "reportError") return SyncReportError(request, op);
    TServiceAnswer a;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, a)) return a;
    return Fault(400, "Client", "Unknown operation " + name + ".");
}

TServiceAnswer TTestService::SyncAuthenticate(TServiceRequest& request, const pugi::xml_node& body,
                                              const pugi::xml_node& op) {
    std::string user = Child(op, "strUserName");
    std::string password = Child(op, "strPassword");
    pugi::xml_node client = body.child("client");
    pugi::xml_node sync = body.child("sync");
    request.account = user;

    TServiceAnswer answer;
    TFault* fault = TakeFault(request);
    if (fault && ReplacesAnswer(*fault, answer)) return answer;
    if (!op.child("strUserName") || !op.child("strPassword") || !client || !sync)
        return Fault(400, "Client", "authenticate needs strUserName, strPassword, client and sync.");

    if (fault && !fault->redirect.empty() && (request.prefix != fault->redirect || fault->redirectAlways)) {
        answer.body = SoapAnswer(Element("redirect", XmlText(fault->redirect)));
        return answer;
    }
    if (fault && fault->dm.is_object() && !fault->dm.empty()) {
        answer.body = SoapAnswer(DmElement(fault->dm));
        return answer;
    }
    auto result = [&](const std::string& ticket, const std::string& path) {
        const std::string& prefix = scenario_.quirks.operationPrefix;
        const std::string string = prefix.empty() ? "string" : prefix + ":string";
        std::string strings = Element(string, XmlText(ticket));
        if (!path.empty() || !scenario_.quirks.omitEmptyCompanyFile) strings += Element(string, XmlText(path));
        return OperationAnswer("authenticate", strings);
    };
    TAccount* account = FindByUser(user);
    if ((fault && fault->nvu) || !account || account->password != password ||
        account->state == "password_not_accepted") {
        answer.body = SoapAnswer(result("", "nvu"));
        return answer;
    }
    auto disconnect = [&](const std::string& message) {
        answer.body = SoapAnswer("<dm><disconnect>1</disconnect>" + Element("after_sync_message", XmlText(message)) +
                                 "</dm>");
        return answer;
    };
    if (account->state == "suspended")
        return disconnect(account->message.empty() ? "Your Invara account has been suspended." : account->message);
    if (account->state == "deleted") return disconnect("Your Invara account has been canceled.");
    if (account->type != "qbd")
        return disconnect("This business imports invoice files; it does not synchronize with QuickBooks.");

    TSyncSession session;
    session.ticket = NewKey("");
    session.account = static_cast<size_t>(account - scenario_.accounts.data());
    session.manual = Child(sync, "manual") == "1";
    session.paymentNotifications = Child(sync, "paymentnotifications") == "1";
    session.paymentsOnly = Child(sync, "paymentsonly") == "1";
    session.sendInvoices = Child(sync, "sendinvoices") == "1";
    session.previewInvoices = Child(sync, "previewinvoices") == "1";
    if (Child(client, "resetcompanyfilepath") == "1") account->companyFile.clear();
    if (!session.paymentsOnly) {
        session.plan.push_back({TStepKind::Customers});
        session.plan.push_back({TStepKind::Invoices});
    }
    for (size_t i = 0; i < account->payments.size(); ++i)
        if (!account->payments[i].pushed) session.plan.push_back({TStepKind::Payment, {}, i});
    session.plan.push_back({TStepKind::Company});

    std::string path = fault && fault->companyFile ? *fault->companyFile
                       : !scenario_.quirks.noWork.empty() ? scenario_.quirks.noWork
                                                          : account->companyFile;
    std::string ticket = session.ticket;
    sessions_[ticket] = std::move(session);
    answer.body = SoapAnswer(result(ticket, path));
    return answer;
}

TServiceAnswer TTestService::SyncSendRequest(TServiceRequest& request, const pugi::xml_node& op) {
    auto found = sessions_.find(Child(op, "ticket"));
    if (found == sessions_.end()) {
        TServiceAnswer a;
        if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, a)) return a;
        return Fault(500, "Server", "Unknown or closed session ticket.");
    }
    TSyncSession& session = found->second;
    TAccount& account = scenario_.accounts[session.account];
    request.account = account.user;
    pugi::xml_node chosen = op.child("sendchoseninvoices");
    pugi::xml_node attachments = op.child("getInvoiceAttachments");
    if (chosen)
        request.step = "review";
    else if (attachments)
        request.step = "attachments";
    else if (session.outstanding)
        request.step = StepName(session.outstanding->kind);
    else
        request.step = StepName(session.plan.empty() ? TStepKind::Company : session.plan.front().kind);

    TServiceAnswer answer;
    TFault* fault = TakeFault(request);
    if (fault && ReplacesAnswer(*fault, answer)) return answer;
    if (attachments) return AttachmentList(session, attachments.text().as_string());
    if (!chosen) {
        for (const char* field : {"strHCPResponse", "strCompanyFileName", "qbXMLCountry", "qbXMLMajorVers", "qbXMLMinorVers"})
            if (!op.child(field))
                return Fault(400, "Client", std::string("sendRequestXML lacks ") + field + ".");
        // The agent doubles every backslash of a Windows path.
        std::string file = Child(op, "strCompanyFileName");
        for (size_t at = 0; (at = file.find("\\\\", at)) != std::string::npos; ++at) file.erase(at, 1);
        session.companyFile = file;
        if (account.rememberCompanyFile && account.companyFile.empty()) account.companyFile = file;
        std::string major = Child(op, "qbXMLMajorVers");
        std::string minor = Child(op, "qbXMLMinorVers");
        int majorValue = std::atoi(major.c_str());
        if (majorValue > 0) session.qbxmlVersion = std::to_string(std::min(majorValue, 13)) + "." +
                                                   (majorValue >= 13 ? "0" : std::to_string(std::atoi(minor.c_str())));
    }
    if (fault && DmInterrupts(fault->dm)) {
        answer.body = SoapAnswer(DmElement(fault->dm));
        return answer;
    }
    std::string message;
    if (chosen) {
        if (!session.reviewGiven) return Fault(400, "Client", "No invoices were offered for review in this session.");
        for (pugi::xml_node c = chosen.first_child(); c; c = c.next_sibling()) {
            std::string n = c.name();
            if (c.type() != pugi::node_element || (n != "inv" && n != "skipemails"))
                return Fault(400, "Client", "sendchoseninvoices holds something other than skipemails and inv.");
        }
        message = ApplyChosenInvoices(session, chosen);
    }
    if (!session.outstanding) {
        if (session.plan.empty() && scenario_.quirks.emptyRequest) {
            answer.body = SoapAnswer(OperationAnswer("sendRequestXML", Scalar("string", "")));
            return answer;
        }
        if (session.plan.empty()) session.plan.push_back({TStepKind::Company});
        TSyncStep step = session.plan.front();
        session.plan.pop_front();
        if (step.kind == TStepKind::Review) {
            session.reviewGiven = true;
            answer.body = SoapAnswer(ReviewAnswer(session));
            return answer;
        }
        step.requestId = session.nextRequestId++;
        session.outstanding = step;
    }
    std::string qbxml = StepRequest(session, *session.outstanding);
    if (message.empty()) {
        switch (session.outstanding->kind) {
        case TStepKind::Customers: message = "Reading customers from QuickBooks..."; break;
        case TStepKind::Invoices: message = "Reading invoices from QuickBooks..."; break;
        case TStepKind::Payment: message = "Recording a payment received online..."; break;
        default: message = "Finishing..."; break;
        }
    }
    nlohmann::json dm = fault && fault->dm.is_object() ? fault->dm : nlohmann::json::object();
    answer.body =
        SoapAnswer(DmElement(dm, message) + OperationAnswer("sendRequestXML", Scalar("string", XmlText(qbxml))));
    return answer;
}

std::string TTestService::StepRequest(TSyncSession& session, TSyncStep& step) {
    TAccount& account = scenario_.accounts[session.account];
    std::string id = std::to_string(step.requestId);
    std::string rq;
    auto iterator = [&](const char* type, int max, const std::string& since) {
        std::string out = std::string("<") + type + "QueryRq requestID=\"" + id + "\" iterator=\"" +
                          (step.iteratorId.empty() ? "Start\"" : "Continue\" iteratorID=\"" + XmlText(step.iteratorId) + "\"") +
                          "><MaxReturned>" + std::to_string(max) + "</MaxReturned>";
        if (step.iteratorId.empty()) {
            if (std::string(type) == "Customer") {
                out += "<ActiveStatus>All</ActiveStatus>";
                if (!since.empty()) out += Element("FromModifiedDate", XmlText(since));
            } else if (!since.empty()) {
                out += "<ModifiedDateRangeFilter>" + Element("FromModifiedDate", XmlText(since)) + "</ModifiedDateRangeFilter>";
            }
        }
        return out + "</" + type + "QueryRq>";
    };
    switch (step.kind) {
    case TStepKind::Customers: rq = iterator("Customer", account.customersPerRequest, account.customersModified); break;
    case TStepKind::Invoices: rq = iterator("Invoice", account.invoicesPerRequest, account.invoicesModified); break;
    case TStepKind::Payment: {
        const TPayment& p = account.payments[step.payment];
        std::string customerRef, txn;
        for (const auto& c : account.customers)
            if (c.name == p.customer) customerRef = Element("ListID", XmlText(c.listId));
        if (customerRef.empty()) customerRef = Element("FullName", XmlText(p.customer));
        for (const auto& inv : account.invoices)
            if (inv.number == p.invoice && !inv.txnId.empty()) txn = inv.txnId;
        rq = "<ReceivePaymentAddRq requestID=\"" + id + "\"><ReceivePaymentAdd><CustomerRef>" + customerRef +
             "</CustomerRef>" + Element("TxnDate", XmlText(p.date)) + Element("RefNumber", XmlText(p.ref)) +
             Element("TotalAmount", XmlText(p.amount)) + "<Memo>Payment received online through Invara</Memo>" +
             (txn.empty() ? std::string("<IsAutoApply>true</IsAutoApply>")
                          : "<AppliedToTxnAdd>" + Element("TxnID", XmlText(txn)) +
                                Element("PaymentAmount", XmlText(p.amount)) + "</AppliedToTxnAdd>") +
             "</ReceivePaymentAdd></ReceivePaymentAddRq>";
        break;
    }
    default: rq = "<CompanyQueryRq requestID=\"" + id + "\"></CompanyQueryRq>"; break;
    }
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><?qbxml version=\"" + session.qbxmlVersion +
           "\"?><QBXML><QBXMLMsgsRq onError=\"stopOnError\">" + rq + "</QBXMLMsgsRq></QBXML>";
}

std::string TTestService::ReviewAnswer(TSyncSession& session) {
    TAccount& account = scenario_.accounts[session.account];
    std::vector<const TInvoice*> unsent;
    for (const auto& inv : account.invoices)
        if (!inv.sent) unsent.push_back(&inv);
    std::string lines;
    for (const TInvoice* inv : unsent) {
        int kind = 0;
        for (const auto& c : account.customers)
            if ((!inv->customerListId.empty() && c.listId == inv->customerListId) || c.name == inv->customer)
                kind = c.email.empty() ? 0 : c.enrolled ? 2 : 1;
        if (!lines.empty()) lines += "\r\n";
        lines += LineField(inv->key, 40) + "\t" + std::to_string(kind) + "\t" + LineField(inv->number, 40) + "\t" +
                 LineField(inv->customer, 200) + "\t" + LineField(MoneyText(inv->amount), 15) + "\t" +
                 LineField(MoneyText(inv->balance), 15) + "\t" + LineField(inv->dueDate, 10) + "\t" +
                 std::to_string(inv->attachments.size());
    }
    auto order = [&](auto less) {
        std::vector<size_t> positions(unsent.size());
        for (size_t i = 0; i < positions.size(); ++i) positions[i] = i;
        std::stable_sort(positions.begin(), positions.end(),
                         [&](size_t a, size_t b) { return less(*unsent[a], *unsent[b]); });
        return Join(positions);
    };
    std::string byCustomer = order([](const TInvoice& a, const TInvoice& b) {
        return ToLowerAscii(a.customer) < ToLowerAscii(b.customer);
    });
    std::string byAmount = order([](const TInvoice& a, const TInvoice& b) { return AmountValue(a.amount) < AmountValue(b.amount); });
    std::string byBalance = order([](const TInvoice& a, const TInvoice& b) { return AmountValue(a.balance) < AmountValue(b.balance); });
    std::string count = std::to_string(unsent.size());
    return "<dm>" + Element("client_message", count + (unsent.size() == 1 ? " invoice" : " invoices") + " to review.") +
           "<unsent_invoices>" + Element("invoices", lines) + Element("order_customer", byCustomer) +
           Element("order_amount", byAmount) + Element("order_balance", byBalance) + "</unsent_invoices>" +
           Element("allow_attachments", account.allowAttachments ? "1" : "0") + "</dm>";
}

std::string TTestService::ApplyChosenInvoices(TSyncSession& session, const pugi::xml_node& chosen) {
    TAccount& account = scenario_.accounts[session.account];
    bool skipEmails = Child(chosen, "skipemails") == "1";
    int count = 0;
    for (pugi::xml_node inv : chosen.children("inv")) {
        std::string key = Child(inv, "id");
        std::string number = Child(inv, "num");
        auto it = std::find_if(account.invoices.begin(), account.invoices.end(),
                               [&](const TInvoice& i) { return i.key == key; });
        if (it == account.invoices.end() || it->number != number) {
            session.errors.push_back("chosen invoice " + key + " / " + number + " is not an unsent invoice");
            continue;
        }
        if (it->sent) continue;
        it->sent = true;
        it->emailed = !skipEmails;
        ++count;
    }
    std::string n = std::to_string(count) + (count == 1 ? " invoice" : " invoices");
    if (count == 0) return "No invoices were chosen for sending.";
    return skipEmails ? n + " recorded as sent; no emails will be sent." : n + " will be sent to your customers.";
}

TServiceAnswer TTestService::SyncReceiveResponse(TServiceRequest& request, const pugi::xml_node& op) {
    auto found = sessions_.find(Child(op, "ticket"));
    TServiceAnswer answer;
    if (found == sessions_.end()) {
        if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
        return Fault(500, "Server", "Unknown or closed session ticket.");
    }
    TSyncSession& session = found->second;
    request.account = scenario_.accounts[session.account].user;
    if (session.outstanding) request.step = StepName(session.outstanding->kind);
    TFault* fault = TakeFault(request);
    if (fault && ReplacesAnswer(*fault, answer)) return answer;
    if (!op.child("response") || !op.child("hresult") || !op.child("message"))
        return Fault(400, "Client", "receiveResponseXML needs ticket, response, hresult and message.");
    if (session.outstanding) {
        pugi::xml_document qb;
        std::string error;
        if (!ParseStrict(op.child("response").text().as_string(), qb, error))
            return Fault(400, "Client", "The QuickBooks response is not well-formed XML: " + error);
        pugi::xml_node msgs = qb.child("QBXML").child("QBXMLMsgsRs");
        if (!msgs) return Fault(400, "Client", "The QuickBooks response has no QBXML/QBXMLMsgsRs.");
        TSyncStep step = *session.outstanding;
        session.outstanding.reset();
        ReadStepResponse(session, step, msgs);
        ++session.stepsDone;
    }
    std::string percentage = fault && fault->percentage ? *fault->percentage : std::to_string(Percentage(session));
    answer.body = SoapAnswer(OperationAnswer("receiveResponseXML", Scalar("int", XmlText(percentage))));
    return answer;
}

std::string TTestService::ReadStepResponse(TSyncSession& session, const TSyncStep& step, const pugi::xml_node& msgs) {
    TAccount& account = scenario_.accounts[session.account];
    pugi::xml_node rs;
    for (pugi::xml_node c = msgs.first_child(); c && !rs; c = c.next_sibling())
        if (c.type() == pugi::node_element) rs = c;
    int status = rs.attribute("statusCode").as_int(-1);
    if (status != 0 && status != 1) {
        std::string message = rs ? rs.attribute("statusMessage").as_string() : "no response element";
        session.errors.push_back(message);
        if (step.kind == TStepKind::Payment) account.payments[step.payment].error = message;
        return message;
    }
    auto continueIterator = [&](TStepKind kind) {
        std::string iteratorId = rs.attribute("iteratorID").as_string();
        if (rs.attribute("iteratorRemainingCount").as_int(0) > 0 && !iteratorId.empty()) {
            session.plan.push_front({kind, iteratorId});
            return true;
        }
        return false;
    };
    switch (step.kind) {
    case TStepKind::Customers:
        for (pugi::xml_node c : rs.children("CustomerRet")) {
            TCustomer customer;
            customer.listId = Child(c, "ListID");
            customer.name = c.child("FullName") ? Child(c, "FullName") : Child(c, "Name");
            customer.email = Child(c, "Email");
            auto it = std::find_if(account.customers.begin(), account.customers.end(),
                                   [&](const TCustomer& x) { return x.listId == customer.listId; });
            if (it == account.customers.end()) {
                account.customers.push_back(customer);
            } else {
                it->name = customer.name;
                it->email = customer.email;
            }
            account.customersModified = std::max(account.customersModified, Child(c, "TimeModified"));
        }
        continueIterator(TStepKind::Customers);
        break;
    case TStepKind::Invoices:
        for (pugi::xml_node i : rs.children("InvoiceRet")) {
            std::string txn = Child(i, "TxnID");
            auto it = std::find_if(account.invoices.begin(), account.invoices.end(),
                                   [&](const TInvoice& x) { return x.txnId == txn; });
            if (it == account.invoices.end()) {
                TInvoice inv;
                inv.txnId = txn;
                inv.key = std::to_string(5001 + account.invoices.size());
                session.newInvoices.push_back(inv.key);
                account.invoices.push_back(inv);
                it = account.invoices.end() - 1;
            }
            it->number = Child(i, "RefNumber");
            it->customerListId = Child(i.child("CustomerRef"), "ListID");
            it->customer = Child(i.child("CustomerRef"), "FullName");
            it->dueDate = Child(i, "DueDate");
            char total[32];
            std::snprintf(total, sizeof total, "%.2f", AmountValue(Child(i, "Subtotal")) + AmountValue(Child(i, "SalesTaxTotal")));
            it->amount = total;
            it->balance = i.child("BalanceRemaining") ? Child(i, "BalanceRemaining") : it->amount;
            it->timeModified = Child(i, "TimeModified");
            account.invoicesModified = std::max(account.invoicesModified, it->timeModified);
        }
        if (!continueIterator(TStepKind::Invoices)) {
            if (session.sendInvoices && !session.previewInvoices)
                for (auto& inv : account.invoices)
                    if (std::find(session.newInvoices.begin(), session.newInvoices.end(), inv.key) != session.newInvoices.end()) {
                        inv.sent = true;
                        inv.emailed = true;
                    }
            bool anyUnsent = std::any_of(account.invoices.begin(), account.invoices.end(), [](const TInvoice& x) { return !x.sent; });
            if (session.previewInvoices && anyUnsent) session.plan.push_front({TStepKind::Review});
        }
        break;
    case TStepKind::Payment: {
        TPayment& p = account.payments[step.payment];
        p.pushed = status == 0;
        p.txnId = Child(rs.child("ReceivePaymentRet"), "TxnID");
        p.error.clear();
        break;
    }
    default:
        if (rs.child("CompanyRet")) account.companyName = Child(rs.child("CompanyRet"), "CompanyName");
        break;
    }
    return {};
}

int TTestService::Percentage(const TSyncSession& session) const {
    size_t left = session.plan.size() + (session.outstanding ? 1 : 0);
    // A server that learns of the end only when it has nothing left to ask never says 100.
    if (left == 0) return scenario_.quirks.emptyRequest ? 99 : 100;
    return std::min(99, static_cast<int>(session.stepsDone * 100 / (session.stepsDone + left)));
}

TServiceAnswer TTestService::SyncClose(TServiceRequest& request, const pugi::xml_node& op) {
    auto found = sessions_.find(Child(op, "ticket"));
    if (found != sessions_.end()) request.account = scenario_.accounts[found->second.account].user;
    TServiceAnswer answer;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
    std::string smart;
    std::string result = "Unknown session.";
    if (found != sessions_.end()) {
        TAccount& account = scenario_.accounts[found->second.account];
        account.lastSync = NowText();
        result = found->second.errors.empty() ? "OK" : "Completed with " + std::to_string(found->second.errors.size()) + " errors.";
        if (account.smartSync) {
            std::string since = account.invoicesModified.empty() ? "2000-01-01T00:00:00" : NextSecond(account.invoicesModified);
            std::string query = account.smartSync->request;
            for (size_t at = 0; (at = query.find("{last_modified}", at)) != std::string::npos;)
                query.replace(at, 15, since);
            std::string file = account.smartSync->filePath.empty() ? account.companyFile : account.smartSync->filePath;
            smart = "<smartsync>" + Element("request", XmlText(query)) + Element("howoften", XmlText(account.smartSync->howOften)) +
                    Element("filepath", XmlText(file)) + "</smartsync>";
        }
        sessions_.erase(found);
    }
    answer.body = SoapAnswer(OperationAnswer("closeConnection", Scalar("string", XmlText(result)), smart));
    return answer;
}

TServiceAnswer TTestService::SyncReportError(TServiceRequest& request, const pugi::xml_node& op) {
    auto found = sessions_.find(Child(op, "ticket"));
    if (found != sessions_.end()) request.account = scenario_.accounts[found->second.account].user;
    TServiceAnswer answer;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
    if (scenario_.quirks.noReportError) {
        // The framework of a server without the operation answers with its error page.
        answer.contentType = "text/plain; charset=utf-8";
        answer.body = "Error: no such operation: reportError\n"
                      "    at Dispatcher.route (/srv/qbws/lib/dispatcher.js:88:13)\n"
                      "    at Server.handle (/srv/qbws/lib/server.js:41:22)\n";
        return answer;
    }
    if (found != sessions_.end()) found->second.errors.push_back(Child(op, "info"));
    errorReports_.push_back({{"kind", "reportError"}, {"ticket", Child(op, "ticket")}, {"info", Child(op, "info")}});
    answer.body = SoapAnswer(OperationAnswer("reportError", Scalar("string", "Error recorded.")));
    return answer;
}

TServiceAnswer TTestService::AttachmentList(TSyncSession& session, const std::string& invoiceKey) {
    TAccount& account = scenario_.accounts[session.account];
    auto it = std::find_if(account.invoices.begin(), account.invoices.end(),
                           [&](const TInvoice& i) { return i.key == invoiceKey; });
    std::string dm = "<dm>";
    if (it == account.invoices.end()) {
        dm += "<invoice><remainingsize>0</remainingsize></invoice><attachments></attachments>";
    } else {
        long long used = 0;
        for (const auto& a : it->attachments) used += static_cast<long long>(a.bytes.size());
        long long remaining = account.allowAttachments ? std::max(0LL, account.attachmentLimit - used) : 0;
        dm += "<invoice>" + Element("number", XmlText(it->number)) + Element("customer", XmlText(it->customer)) +
              Element("total", XmlText(MoneyText(it->amount))) + Element("balance", XmlText(MoneyText(it->balance))) +
              (account.omitRemainingSize
                   ? std::string()
                   : Element("remainingsize", XmlText(account.reportedRemainingSize.value_or(std::to_string(remaining))))) +
              "</invoice><attachments>";
        for (const auto& a : it->attachments) {
            size_t size = a.bytes.size();
            std::string sizeText = size < 1024 ? std::to_string(size) + " bytes" : std::to_string((size + 1023) / 1024) + " KB";
            dm += "<attachment>" + Element("filename", XmlText(a.filename)) + Element("render", std::to_string(a.render)) +
                  Element("size", sizeText) + Element("description", XmlText(a.description)) +
                  Element("id", std::to_string(a.id)) + Element("data", XmlText(a.data)) + "</attachment>";
        }
        dm += "</attachments>";
    }
    TServiceAnswer answer;
    answer.body = SoapAnswer(dm + "</dm>");
    return answer;
}

} // namespace dm
