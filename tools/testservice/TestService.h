#pragma once

// invara-testservice: the local stand-in of the online service. One object serves every page
// and endpoint the agent talks to, keeps per-account state in memory, applies scripted faults
// and records every request for the inspection interface.

#include "Encoding.h"
#include "Scenario.h"

#include <nlohmann/json.hpp>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pugi {
class xml_node;
}

namespace dm {

struct TServiceRequest {
    std::string method;
    std::string path;     // as received, without the query
    std::string prefix;   // what stands between "/" and the endpoint, e.g. "eu2/" after a redirect
    std::string endpoint; // path below the prefix, e.g. "webservices/quickbooks.php"
    std::multimap<std::string, std::string> query;
    std::multimap<std::string, std::string> headers; // names lower case
    std::string body;
    std::string contentType;
    TFormFields form;
    bool formOk = true;
    // Filled in by the endpoint once it has read the request; faults match on them.
    std::string operation;
    std::string account;
    std::string step;
    size_t record = 0;

    std::string Query(const std::string& name) const;
    std::string Header(const std::string& name) const;
};

struct TServiceAnswer {
    int status = 200;
    std::string contentType = "text/xml; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    int delayMs = 0;
    bool drop = false;
    bool chunked = false; // sent in pieces with chunked transfer encoding
};

enum class TStepKind { Customers, Invoices, Review, Payment, Company };

struct TSyncStep {
    TStepKind kind;
    std::string iteratorId; // continuing an iterator
    size_t payment = 0;
    int requestId = 0;
};

struct TSyncSession {
    std::string ticket;
    size_t account = 0;
    bool manual = false;
    bool paymentsOnly = false;
    bool sendInvoices = false;
    bool previewInvoices = false;
    bool paymentNotifications = false;
    std::string qbxmlVersion = "13.0";
    std::string companyFile;
    std::deque<TSyncStep> plan;
    std::optional<TSyncStep> outstanding;
    int stepsDone = 0;
    int nextRequestId = 1;
    bool reviewGiven = false;
    std::vector<std::string> newInvoices; // keys first stored in this session
    std::vector<std::string> errors;      // QuickBooks' messages met on the way
};

struct TUpload {
    std::string filename;
    long long size = 0;
    long long blockSize = 0;
    std::string bytes;
    int blocks = 0;
    bool Complete() const { return static_cast<long long>(bytes.size()) == size; }
};

struct TImportInvoice {
    std::string id;
    std::string number;
    std::string customer;
    std::string amount;
    std::string dueDate;
};

struct TImport {
    std::string id;
    size_t account = 0;
    std::vector<TImportInvoice> invoices;
    size_t next = 0;          // first invoice not yet processed
    int progressPolls = 0;    // read progress answers given so far
    bool open = true;
};

class TTestService {
public:
    explicit TTestService(TScenario scenario);
    ~TTestService();
    TTestService(const TTestService&) = delete;
    TTestService& operator=(const TTestService&) = delete;

    // Serve HTTPS with this certificate (chain) and key, both PEM files; before Start.
    void UseTls(const std::string& certFile, const std::string& keyFile);
    // Binds (port 0: any free port) and serves on a thread of its own; the bound port, or -1
    // (also when the certificate or key cannot be loaded).
    int Start(const std::string& host, int port);
    void Stop();
    int Port() const { return port_; }

    // The whole answer for one request, faults applied; what the HTTP layer calls.
    TServiceAnswer Handle(TServiceRequest request);

private:
    TServiceAnswer HandleInspection(const TServiceRequest& request);
    TServiceAnswer Route(TServiceRequest& request);
    // The first fault that matches the request and is due, counted as seen; null for none.
    TFault* TakeFault(const TServiceRequest& request);
    // Applies the parts of a fault that do not depend on the endpoint; true when the fault
    // replaces the answer, so that the endpoint must not act on the request.
    static bool ReplacesAnswer(const TFault& fault, TServiceAnswer& answer);
    void ResetState();

    // Sync SOAP endpoint.
    TServiceAnswer SyncEndpoint(TServiceRequest& request);
    TServiceAnswer SyncOperation(TServiceRequest& request);
    // The parts of an answer that the quirks of another server change. The frame hides the
    // free SoapAnswer inside the service, so that every sync answer takes the quirks' prefix.
    std::string SoapAnswer(const std::string& bodyContent) const;
    std::string OperationAnswer(const std::string& operation, const std::string& resultContent,
                                const std::string& more = {}) const;
    std::string Scalar(const std::string& type, const std::string& escapedText) const;
    TServiceAnswer SyncAuthenticate(TServiceRequest& request, const pugi::xml_node& body, const pugi::xml_node& op);
    TServiceAnswer SyncSendRequest(TServiceRequest& request, const pugi::xml_node& op);
    TServiceAnswer SyncReceiveResponse(TServiceRequest& request, const pugi::xml_node& op);
    TServiceAnswer SyncClose(TServiceRequest& request, const pugi::xml_node& op);
    TServiceAnswer SyncReportError(TServiceRequest& request, const pugi::xml_node& op);
    TServiceAnswer AttachmentList(TSyncSession& session, const std::string& invoiceKey);
    std::string StepRequest(TSyncSession& session, TSyncStep& step);
    std::string ReviewAnswer(TSyncSession& session);
    std::string ApplyChosenInvoices(TSyncSession& session, const pugi::xml_node& chosen);
    std::string ReadStepResponse(TSyncSession& session, const TSyncStep& step, const pugi::xml_node& msgs);
    int Percentage(const TSyncSession& session) const;

    // Biller request endpoint, chunked upload and the error report.
    TServiceAnswer BillerEndpoint(TServiceRequest& request);
    TServiceAnswer StartUpload(TServiceRequest& request, const pugi::xml_node& start);
    TServiceAnswer InvoiceUpdate(TServiceRequest& request, TAccount& account, const pugi::xml_node& update);
    TServiceAnswer ImportOperation(TServiceRequest& request, size_t account, const pugi::xml_node& op);
    std::string ImportInvoiceReply(TImport& import);
    TServiceAnswer UploaderEndpoint(TServiceRequest& request);
    TServiceAnswer ReportError(TServiceRequest& request);

    // Desktop-manager pages and the control panel.
    TServiceAnswer ConfirmAccount(TServiceRequest& request);
    TServiceAnswer Notifications(TServiceRequest& request);
    TServiceAnswer CheckUpdate(TServiceRequest& request);
    TServiceAnswer Installer(TServiceRequest& request);
    TServiceAnswer PanelSignIn(TServiceRequest& request);
    TServiceAnswer PanelStart(TServiceRequest& request);
    TServiceAnswer SendSession(TServiceRequest& request);
    TServiceAnswer SecureLogin(TServiceRequest& request);
    TServiceAnswer PanelPage(TServiceRequest& request);

    // Lookups.
    TAccount* FindByUser(const std::string& user);
    // -1 when the credentials match no account.
    int Authenticate(const std::string& idOrUser, const std::string& password);
    int CookieAccount(const TServiceRequest& request);
    std::string NewKey(const char* prefix);
    void RecordForm(const TServiceRequest& request, const TFormFields& fields);

    TScenario original_;
    TScenario scenario_;
    std::mutex mutex_;
    std::vector<nlohmann::json> records_;
    // The delay of the fault that fired for the request being answered: it holds whether the
    // fault replaces the answer or the endpoint builds its own.
    int firedDelayMs_ = 0;
    std::map<std::string, TSyncSession> sessions_;
    std::map<std::string, size_t> webSessions_; // control-panel session id -> account
    std::map<std::string, TUpload> uploads_;
    std::map<std::string, TImport> imports_;
    std::vector<nlohmann::json> errorReports_;
    std::vector<std::string> sentSessions_;
    long long counter_ = 0;

    struct TServer;
    std::unique_ptr<TServer> server_;
    std::thread thread_;
    int port_ = -1;
    std::string certFile_, keyFile_;
};

// The SOAP answer frame around the content of soap:Body.
std::string SoapAnswer(const std::string& bodyContent, const std::string& prefix = "soap");
std::string SoapFault(const std::string& code, const std::string& message);
// A valid one-page PDF showing the lines (invoice documents of the control panel).
std::string MakePdf(const std::vector<std::string>& lines);

} // namespace dm
