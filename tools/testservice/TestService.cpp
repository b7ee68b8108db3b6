#include "TestService.h"

#include "core/General.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace dm {

using nlohmann::json;

struct TTestService::TServer {
    std::unique_ptr<httplib::Server> server;
};

namespace {

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The JSON dump must not throw on bytes that are not UTF-8 (uploads, Latin-1 names).
json BodyJson(const std::string& body) {
    if (IsValidUtf8(body)) return body;
    return nullptr;
}

std::string Base64Encode(std::string_view bytes) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[n & 63] : '=';
    }
    return out;
}

json FieldsJson(const TFormFields& fields) {
    json out = json::object();
    for (const auto& [name, value] : fields) out[IsValidUtf8(name) ? name : "?"] = BodyJson(value);
    return out;
}

} // namespace

std::string TServiceRequest::Query(const std::string& name) const {
    auto it = query.find(name);
    return it == query.end() ? std::string() : it->second;
}

std::string TServiceRequest::Header(const std::string& name) const {
    auto it = headers.find(ToLowerAscii(name));
    return it == headers.end() ? std::string() : it->second;
}

std::string SoapAnswer(const std::string& bodyContent, const std::string& prefix) {
    const std::string& p = prefix;
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
           "<" + p + ":Envelope xmlns:" + p + "=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><" + p + ":Body>" +
           bodyContent + "</" + p + ":Body></" + p + ":Envelope>";
}

std::string SoapFault(const std::string& code, const std::string& message) {
    return SoapAnswer("<soap:Fault><faultcode>soap:" + code + "</faultcode><faultstring>" + XmlText(message) +
                      "</faultstring></soap:Fault>");
}

TTestService::TTestService(TScenario scenario) : original_(scenario), scenario_(std::move(scenario)) { ResetState(); }

TTestService::~TTestService() { Stop(); }

void TTestService::UseTls(const std::string& certFile, const std::string& keyFile) {
    certFile_ = certFile;
    keyFile_ = keyFile;
}

int TTestService::Start(const std::string& host, int port) {
    server_ = std::make_unique<TServer>();
    if (certFile_.empty()) {
        server_->server = std::make_unique<httplib::Server>();
    } else {
        server_->server = std::make_unique<httplib::SSLServer>(certFile_.c_str(), keyFile_.c_str());
        if (!server_->server->is_valid()) return -1;
    }
    auto& http = *server_->server;
    // A client that keeps its connection sends a whole session over it. A kept connection holds
    // one of the server's threads while it waits, so there are enough for many billers at once.
    http.set_keep_alive_max_count(1000);
    http.new_task_queue = [] { return new httplib::ThreadPool(64); };
    // Small answers go out at once instead of waiting for the peer's delayed acknowledgement.
    http.set_tcp_nodelay(true);
    http.set_read_timeout(30);
    http.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        // Posts are read by their handler, so their size is the announced one.
        const size_t in = req.body.empty() && req.has_header("Content-Length")
                              ? std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10)
                              : req.body.size();
        std::fprintf(stderr, "%s %s -> %d (%zu bytes in, %zu out)\n", req.method.c_str(), req.target.c_str(),
                     res.status, in, res.body.size());
    });
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        TServiceRequest r;
        r.method = req.method;
        r.path = req.path;
        size_t q = req.target.find('?');
        if (q != std::string::npos) {
            TFormFields fields;
            if (ParseForm(std::string_view(req.target).substr(q + 1), fields))
                for (auto& [n, v] : fields) r.query.emplace(n, v);
        }
        for (const auto& [name, value] : req.headers) r.headers.emplace(ToLowerAscii(name), value);
        r.body = req.body;
        r.contentType = req.get_header_value("Content-Type");
        TServiceAnswer answer = Handle(std::move(r));
        res.status = answer.status;
        for (const auto& [name, value] : answer.headers) res.set_header(name, value);
        if (answer.drop) {
            // Headers promise a body that never comes: the peer sees the connection break.
            res.set_content_provider(answer.body.size() + 1024, answer.contentType,
                                     [](size_t, size_t, httplib::DataSink&) { return false; });
            return;
        }
        if (answer.chunked) {
            // Pieces of at most 100 bytes, so that even a short answer comes in several chunks.
            auto body = std::make_shared<std::string>(std::move(answer.body));
            res.set_chunked_content_provider(answer.contentType, [body](size_t offset, httplib::DataSink& sink) {
                if (offset >= body->size()) {
                    sink.done();
                    return true;
                }
                return sink.write(body->data() + offset, std::min<size_t>(100, body->size() - offset));
            });
            return;
        }
        res.set_content(answer.body, answer.contentType);
    };
    http.Get(".*", handler);
    // Bodies are read whole here: the library's own form parsing refuses forms above 8 KB, and
    // the agent posts larger ones (a log session for support). The service parses forms itself.
    http.Post(".*", [handler](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& read) {
        if (req.is_multipart_form_data()) {
            res.status = 415; // nothing the agent sends is multipart
            return;
        }
        httplib::Request whole = req;
        read([&whole](const char* data, size_t size) {
            whole.body.append(data, size);
            return true;
        });
        handler(whole, res);
    });
    int bound = port == 0 ? http.bind_to_any_port(host) : (http.bind_to_port(host, port) ? port : -1);
    if (bound < 0) return -1;
    port_ = bound;
    thread_ = std::thread([this] { server_->server->listen_after_bind(); });
    while (!server_->server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return port_;
}

void TTestService::Stop() {
    if (server_) server_->server->stop();
    if (thread_.joinable()) thread_.join();
}

TServiceAnswer TTestService::Handle(TServiceRequest request) {
    if (request.path.rfind("/_test/", 0) == 0) return HandleInspection(request);
    TServiceAnswer answer;
    {
        std::lock_guard lock(mutex_);
        if (request.contentType.rfind("application/x-www-form-urlencoded", 0) == 0)
            request.formOk = ParseForm(request.body, request.form);
        json record = {{"method", request.method}, {"path", request.path}, {"body", BodyJson(request.body)},
                       {"body_size", request.body.size()}};
        if (record["body"].is_null()) record["body_base64"] = Base64Encode(request.body);
        json query = json::object();
        for (const auto& [n, v] : request.query) query[n] = BodyJson(v);
        record["query"] = query;
        json headers = json::object();
        for (const auto& [n, v] : request.headers) headers[n] = BodyJson(v);
        record["headers"] = headers;
        record["form"] = request.form.empty() ? json(nullptr) : FieldsJson(request.form);
        request.record = records_.size();
        records_.push_back(std::move(record));

        firedDelayMs_ = 0;
        answer = Route(request);
        answer.delayMs = std::max(answer.delayMs, firedDelayMs_);

        json& r = records_[request.record];
        r["prefix"] = request.prefix;
        r["endpoint"] = request.endpoint;
        r["operation"] = request.operation;
        r["account"] = request.account;
        r["status"] = answer.drop ? 0 : answer.status;
    }
    if (answer.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
    return answer;
}

void TTestService::RecordForm(const TServiceRequest& request, const TFormFields& fields) {
    records_[request.record]["form"] = FieldsJson(fields);
}

TServiceAnswer TTestService::HandleInspection(const TServiceRequest& request) {
    std::lock_guard lock(mutex_);
    TServiceAnswer answer;
    answer.contentType = "application/json";
    if (request.path == "/_test/requests" && request.method == "GET") {
        answer.body = json(records_).dump(1, ' ', false, json::error_handler_t::replace);
    } else if (request.path == "/_test/state" && request.method == "GET") {
        json accounts = json::array();
        for (const auto& a : scenario_.accounts) accounts.push_back(AccountToJson(a));
        json uploads = json::object();
        for (const auto& [id, u] : uploads_)
            uploads[id] = {{"filename", u.filename}, {"size", u.size}, {"received", u.bytes.size()},
                           {"blocks", u.blocks}, {"complete", u.Complete()}};
        json imports = json::object();
        for (const auto& [id, im] : imports_)
            imports[id] = {{"invoices", im.invoices.size()}, {"processed", im.next}, {"open", im.open}};
        json state = {{"accounts", accounts}, {"error_reports", errorReports_}, {"sent_sessions", sentSessions_},
                      {"uploads", uploads}, {"imports", imports}, {"open_sync_sessions", sessions_.size()}};
        answer.body = state.dump(1, ' ', false, json::error_handler_t::replace);
    } else if (request.path == "/_test/upload" && request.method == "GET") {
        // The bytes one upload delivered, exactly as received.
        auto it = uploads_.find(request.Query("id"));
        if (it == uploads_.end()) {
            answer.status = 404;
            answer.body = "{\"error\": \"no upload has that id\"}";
        } else {
            answer.contentType = "application/octet-stream";
            answer.body = it->second.bytes;
        }
    } else if (request.path == "/_test/reset" && request.method == "POST") {
        scenario_ = original_;
        ResetState();
        answer.body = "{\"reset\":true}";
    } else if (request.path == "/_test/scenario" && request.method == "POST") {
        try {
            original_ = ScenarioFromJson(json::parse(request.body));
            scenario_ = original_;
            ResetState();
            answer.body = "{\"scenario\":true}";
        } catch (const std::exception& e) {
            answer.status = 400;
            answer.body = json{{"error", e.what()}}.dump();
        }
    } else {
        answer.status = 404;
        answer.body = "{\"error\":\"no such inspection request\"}";
    }
    return answer;
}

void TTestService::ResetState() {
    records_.clear();
    sessions_.clear();
    webSessions_.clear();
    uploads_.clear();
    imports_.clear();
    errorReports_.clear();
    sentSessions_.clear();
    for (size_t i = 0; i < scenario_.accounts.size(); ++i) {
        const auto& open = scenario_.accounts[i].import.openInvoices;
        if (open.empty()) continue;
        TImport import;
        import.id = "imp" + std::to_string(++counter_);
        import.account = i;
        for (const auto& row : open) import.invoices.push_back({"i" + std::to_string(++counter_), row[0], row[1], row[2], row[3]});
        imports_[import.id] = std::move(import);
    }
}

TFault* TTestService::TakeFault(const TServiceRequest& request) {
    for (auto& f : scenario_.faults) {
        if (!f.endpoint.empty() && !EndsWith(request.endpoint, f.endpoint)) continue;
        if (!f.operation.empty() && !EqualsNoCase(f.operation, request.operation)) continue;
        if (!f.step.empty() && f.step != request.step) continue;
        if (!f.account.empty() && !EqualsNoCase(f.account, request.account)) continue;
        ++f.seen;
        if (f.seen <= f.skip) continue;
        if (f.times > 0 && f.fired >= f.times) continue;
        ++f.fired;
        firedDelayMs_ = std::max(firedDelayMs_, f.delayMs);
        return &f;
    }
    return nullptr;
}

bool TTestService::ReplacesAnswer(const TFault& fault, TServiceAnswer& answer) {
    answer.delayMs = fault.delayMs;
    if (fault.drop) {
        answer.drop = true;
        return true;
    }
    if (fault.status || fault.body) {
        answer.status = fault.status.value_or(200);
        answer.body = fault.body.value_or("");
        answer.contentType = fault.contentType;
        return true;
    }
    return false;
}

TServiceAnswer TTestService::Route(TServiceRequest& request) {
    const std::string& path = request.path;
    // The endpoint starts after the "/" in front of its area, or after the last "/"; what stands
    // before it is the prefix that a redirect adds.
    size_t root = std::string::npos;
    for (const char* area : {"/webservices/", "/business/"}) {
        size_t at = path.find(area);
        if (at != std::string::npos && (root == std::string::npos || at < root)) root = at;
    }
    if (root == std::string::npos) root = path.rfind('/');
    if (root == std::string::npos) root = 0;
    request.prefix = path.empty() ? std::string() : path.substr(1, root);
    request.endpoint = path.substr(std::min(path.size(), root + 1));
    // Pages under "signup/" and "login/" keep their folder in the endpoint name.
    for (const char* folder : {"signup/", "login/"}) {
        if (EndsWith(request.prefix, folder)) {
            request.prefix.resize(request.prefix.size() - std::string_view(folder).size());
            request.endpoint = folder + request.endpoint;
        }
    }

    const std::string& e = request.endpoint;
    if (e == "webservices/quickbooks.php") return SyncEndpoint(request);
    if (e == "webservices/service.php") return BillerEndpoint(request);
    if (e == "webservices/uploader.php") return UploaderEndpoint(request);
    if (e == "webservices/report_error.php") return ReportError(request);
    if (e == "business/dm_confirm_account.php") return ConfirmAccount(request);
    if (e == "business/dm_notifications_update.php") return Notifications(request);
    if (e == "business/dm_checkupdate.php") return CheckUpdate(request);
    if (e == "business/dm_authenticate_2.php") return PanelSignIn(request);
    if (e == "business/dm_start.php") return PanelStart(request);
    if (e == "business/dm_send_session.php") return SendSession(request);
    if (e == "invara-desktop-manager.deb") return Installer(request);
    if (e == "securelogin") return SecureLogin(request);
    return PanelPage(request);
}

TAccount* TTestService::FindByUser(const std::string& user) {
    std::string wanted = ToLowerAscii(TrimBlanks(user));
    for (auto& a : scenario_.accounts)
        if (ToLowerAscii(a.user) == wanted) return &a;
    return nullptr;
}

int TTestService::Authenticate(const std::string& idOrUser, const std::string& password) {
    for (size_t i = 0; i < scenario_.accounts.size(); ++i) {
        const auto& a = scenario_.accounts[i];
        bool named = (!a.id.empty() && a.id == idOrUser) || EqualsNoCase(a.user, TrimBlanks(idOrUser));
        if (named && a.password == password) return static_cast<int>(i);
    }
    return -1;
}

std::string TTestService::NewKey(const char* prefix) {
    static std::mt19937 random(std::random_device{}());
    char tail[16];
    std::snprintf(tail, sizeof tail, "%08x", static_cast<unsigned>(random()));
    return prefix + std::to_string(++counter_) + "-" + tail;
}

} // namespace dm
