#include "EngineBench.h"

#include "core/General.h"
#include "qb/QbSimProcessor.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include <malloc.h>

namespace dmbench {

namespace {

using namespace std::chrono_literals;

// The stand-in's processor with the time QuickBooks takes added up, so that a session's own
// cost can be told from QuickBooks'. With an answer file, an InvoiceQuery gets that file.
class TTimedProcessor : public dm::TRequestProcessor {
public:
    TTimedProcessor(std::unique_ptr<dm::TRequestProcessor> inner, Clock::duration& spent, const std::string& answerFile)
        : inner_(std::move(inner)), spent_(spent), answerFile_(answerFile) {}

    void OpenConnection(const std::string& appId, const std::string& appName) override {
        Timed([&] { inner_->OpenConnection(appId, appName); });
    }
    dm::TAuthPreferences& AuthPreferences() override { return inner_->AuthPreferences(); }
    std::string BeginSession(const std::string& path, int mode) override {
        std::string ticket;
        Timed([&] { ticket = inner_->BeginSession(path, mode); });
        return ticket;
    }
    std::string GetCurrentCompanyFileName(const std::string& ticket) override {
        std::string name;
        Timed([&] { name = inner_->GetCurrentCompanyFileName(ticket); });
        return name;
    }
    int MajorVersion() override { return inner_->MajorVersion(); }
    int MinorVersion() override { return inner_->MinorVersion(); }
    std::string ProcessRequest(const std::string& ticket, const std::string& request) override {
        std::string response;
        Timed([&] {
            // QuickBooks hands over a fresh copy of its answer, so the engine holds it once.
            if (!answerFile_.empty() && request.find("<InvoiceQueryRq") != std::string::npos)
                response = ReadFile(answerFile_);
            else
                response = inner_->ProcessRequest(ticket, request);
        });
        return response;
    }
    void EndSession(const std::string& ticket) override { Timed([&] { inner_->EndSession(ticket); }); }
    void CloseConnection() override { Timed([&] { inner_->CloseConnection(); }); }

private:
    template <class F>
    void Timed(F call) {
        auto start = Clock::now();
        try {
            call();
        } catch (...) {
            spent_ += Clock::now() - start;
            throw;
        }
        spent_ += Clock::now() - start;
    }

    std::unique_ptr<dm::TRequestProcessor> inner_;
    Clock::duration& spent_;
    const std::string& answerFile_;
};

// Turns the event loop until the condition holds; false when the bound passed first.
bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    auto end = Clock::now() + bound;
    while (!condition()) {
        if (Clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

size_t Collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

struct TCurlAnswer {
    long Status = 0;
    std::string Body;
};

// A plain request, HTTP/1.1 as the engine speaks: with a fresh easy handle (so a fresh
// connection), or with the one given, which keeps its connection from request to request.
TCurlAnswer CurlRequest(const std::string& url, const std::string* body, const std::string& contentType = {},
                        CURL* kept = nullptr, const std::string& caFile = {}) {
    CURL* h = kept ? kept : curl_easy_init();
    if (!h) throw std::runtime_error("curl_easy_init failed");
    if (kept) curl_easy_reset(h);
    curl_slist* headers = nullptr;
    TCurlAnswer answer;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    if (!caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer.Body);
    if (body) {
        if (!contentType.empty()) headers = curl_slist_append(headers, ("Content-Type: " + contentType).c_str());
        // Without it a large body waits a second for a "100 Continue".
        headers = curl_slist_append(headers, "Expect:");
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    }
    CURLcode rc = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer.Status);
    curl_slist_free_all(headers);
    if (!kept) curl_easy_cleanup(h);
    if (rc != CURLE_OK) throw std::runtime_error(url + ": " + curl_easy_strerror(rc));
    return answer;
}

// The text between the first open and the next close after it; npos positions when absent.
std::pair<size_t, size_t> Between(const std::string& text, const std::string& open, const std::string& close) {
    size_t start = text.find(open);
    if (start == std::string::npos) return {std::string::npos, std::string::npos};
    start += open.size();
    size_t end = text.find(close, start);
    if (end == std::string::npos) return {std::string::npos, std::string::npos};
    return {start, end};
}

} // namespace

// --- The engine -------------------------------------------------------------------------------

TEngineRig::TEngineRig(const std::string& baseUrl, const std::string& storageFolder, const std::string& qbHome,
                       std::string answerFile, const std::string& syncServiceUrl)
    : qbHome_(qbHome), answerFile_(std::move(answerFile)) {
    factory_ = std::make_unique<dm::TScopedRequestProcessorFactory>([this](std::string_view) {
        return std::make_unique<TTimedProcessor>(std::make_unique<dm::TQbSimRequestProcessor>(qbHome_), quickBooks_,
                                                 answerFile_);
    });
    app_.BaseUrl = baseUrl;
    dm::ComposeUrls(app_);
    if (!syncServiceUrl.empty()) app_.SyncServiceUrl = syncServiceUrl;
    app_.StorageFolder = storageFolder;
    app_.VersionText = "1.0.0";
    app_.BuildNumber = "1";
    engine_ = std::make_unique<dm::TMainEngine>(app_, prompts_);
    dm::BillerRecord r;
    r.name = "Demo Co";
    r.id = "1001";
    r.username = "demo";
    r.password = "demo";
    frame_ = engine_->AddBiller(r);
    // The account confirmation comes first, as in the program.
    if (!PumpUntil([&] { return !frame_->Confirming; }, 10s) || !frame_->Confirmed || frame_->Blocked)
        throw std::runtime_error("the account confirmation did not succeed");
}

TEngineRig::~TEngineRig() {
    engine_.reset();
    // Requests still on their way (notifications) end before the service goes.
    PumpUntil([] { return dm::WebActiveRequests() == 0; }, 10s);
}

TSessionTimes TEngineRig::RunSession() {
    QEventLoop loop;
    bool finished = false;
    Clock::time_point posted{}, ended{};
    QObject::connect(engine_.get(), &dm::TMainEngine::logged, &loop,
                     [&](const std::string&, const std::string& message) {
                         if (message == "Sending authentication request.") {
                             posted = Clock::now();
                             quickBooks_ = {};
                         }
                     });
    QObject::connect(engine_.get(), &dm::TMainEngine::sessionFinished, &loop, [&](dm::TSync*) {
        ended = Clock::now();
        finished = true;
        loop.quit();
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(std::chrono::minutes(3));

    prompts_.Shown.clear();
    auto pressed = Clock::now();
    frame_->btnSyncNowClick(true);
    if (!finished) loop.exec();
    if (!finished) throw std::runtime_error("the session did not end within three minutes");
    if (frame_->HadErrors) throw std::runtime_error("the session ended with errors: " + frame_->ErrorText);
    if (!frame_->CloseReceived) throw std::runtime_error("the session ended without closeConnection");
    if (!prompts_.Shown.empty()) throw std::runtime_error("the session asked the user: " + prompts_.Shown.front());
    TSessionTimes times;
    times.StartDelay = std::chrono::duration<double>(posted - pressed).count();
    times.Session = std::chrono::duration<double>(ended - posted).count();
    times.QuickBooks = std::chrono::duration<double>(quickBooks_).count();
    return times;
}

// --- Recording and replaying the exchanges ------------------------------------------------------

void ResetService(const std::string& baseUrl, const std::string& caFile) {
    std::string empty;
    TCurlAnswer a = CurlRequest(baseUrl + "_test/reset", &empty, "application/json", nullptr, caFile);
    if (a.Status != 200) throw std::runtime_error("the service did not reset: " + a.Body);
}

std::vector<TExchange> RecordSession(const std::string& baseUrl, const std::string* answer, const std::string& caFile) {
    TCurlAnswer listing = CurlRequest(baseUrl + "_test/requests", nullptr, {}, nullptr, caFile);
    if (listing.Status != 200) throw std::runtime_error("no request listing from the service");
    nlohmann::json requests = nlohmann::json::parse(listing.Body);
    listing.Body.clear();
    listing.Body.shrink_to_fit();

    std::string escaped = answer ? dm::HtmlEscape(*answer) : std::string();
    std::vector<TExchange> out;
    for (nlohmann::json& r : requests) {
        std::string endpoint = r.value("endpoint", "");
        if (endpoint != "webservices/quickbooks.php") continue;
        if (!r["body"].is_string()) throw std::runtime_error("a sync request that is not text");
        std::string body = r["body"].get<std::string>();
        r["body"] = nullptr;
        TExchange e;
        e.Path = r.value("path", "");
        e.ContentType = r["headers"].value("content-type", "");
        e.Operation = r.value("operation", "");
        if (r.value("status", 0) != 200) throw std::runtime_error("the service refused " + e.Operation);
        auto [start, end] = Between(body, "<ticket>", "</ticket>");
        if (start == std::string::npos) {
            e.Head = std::move(body);
        } else {
            e.HasTicket = true;
            e.Head = body.substr(0, start);
            e.Tail = body.substr(end);
        }
        if (answer && e.Operation == "receiveResponseXML") {
            auto [from, to] = Between(e.Tail, "<response>", "</response>");
            if (from != std::string::npos && to - from == escaped.size() &&
                e.Tail.compare(from, escaped.size(), escaped) == 0) {
                e.CarriesAnswer = true;
                e.AnswerTail = e.Tail.substr(to);
                e.Tail = e.Tail.substr(0, from); // not resize: that would keep the answer's capacity
            }
        }
        out.push_back(std::move(e));
    }
    if (out.empty() || out.front().Operation != "authenticate" || out.back().Operation != "closeConnection")
        throw std::runtime_error("the recorded session does not run from authenticate to closeConnection");
    if (answer && std::none_of(out.begin(), out.end(), [](const TExchange& e) { return e.CarriesAnswer; }))
        throw std::runtime_error("no receiveResponseXML carried the answer escaped");
    return out;
}

size_t CountOperation(const std::vector<TExchange>& exchanges, const std::string& operation) {
    return static_cast<size_t>(
        std::count_if(exchanges.begin(), exchanges.end(), [&](const TExchange& e) { return e.Operation == operation; }));
}

void Replay(const std::string& baseUrl, const std::vector<TExchange>& exchanges, const std::string* answer,
            bool keepConnection, const std::string& caFile) {
    // The base ends with "/", recorded paths start with one.
    const std::string origin = baseUrl.substr(0, baseUrl.size() - 1);
    std::unique_ptr<CURL, void (*)(CURL*)> kept(keepConnection ? curl_easy_init() : nullptr, curl_easy_cleanup);
    std::string ticket;
    for (const TExchange& e : exchanges) {
        std::string body;
        if (e.CarriesAnswer) {
            std::string escaped = dm::HtmlEscape(*answer);
            body.reserve(e.Head.size() + ticket.size() + e.Tail.size() + escaped.size() + e.AnswerTail.size());
            body.append(e.Head).append(ticket).append(e.Tail).append(escaped).append(e.AnswerTail);
        } else if (e.HasTicket) {
            body = e.Head + ticket + e.Tail;
        } else {
            body = e.Head;
        }
        TCurlAnswer a = CurlRequest(origin + e.Path, &body, e.ContentType, kept.get(), caFile);
        if (a.Status != 200) throw std::runtime_error("the service refused the replayed " + e.Operation + ": " + a.Body);
        if (e.Operation == "authenticate") {
            auto [start, end] = Between(a.Body, "<authenticateResult><string>", "</string>");
            if (start == std::string::npos) throw std::runtime_error("no ticket in the replayed authentication");
            ticket = a.Body.substr(start, end - start);
        } else if (e.Operation == "closeConnection" &&
                   a.Body.find("<closeConnectionResult>OK</closeConnectionResult>") == std::string::npos) {
            throw std::runtime_error("the replayed session did not close cleanly: " + a.Body);
        }
    }
}

// --- Memory and files -------------------------------------------------------------------------

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
    return -1;
}

void ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close(); // the kernel sees the write only when the stream flushes
    if (!clear) throw std::runtime_error("cannot reset the peak resident size through /proc/self/clear_refs");
}

void TrimHeap() { ::malloc_trim(0); }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    in.seekg(0, std::ios::end);
    std::string bytes(static_cast<size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

void RemoveRotatedLogs(const std::string& storageFolder) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(storageFolder, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("log_", 0) == 0) std::filesystem::remove(entry.path(), ec);
    }
}

// --- Reporting --------------------------------------------------------------------------------

void TRatioReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
        TResult& r = Results[run.run_name.function_name];
        r.Time = run.GetAdjustedRealTime();
        for (const auto& [name, counter] : run.counters) r.Counters[name] = counter.value;
    }
    ConsoleReporter::ReportRuns(runs);
}

double TRatioReporter::Time(const std::string& name) const {
    auto it = Results.find(name);
    return it == Results.end() ? 0 : it->second.Time;
}

double TRatioReporter::Counter(const std::string& name, const std::string& counter) const {
    auto it = Results.find(name);
    if (it == Results.end()) return 0;
    auto c = it->second.Counters.find(counter);
    return c == it->second.Counters.end() ? 0 : c->second;
}

void TRatioReporter::PrintRatio(const char* name, double ours, double reference) const {
    if (ours > 0 && reference > 0) std::printf("ratio %s: %.2f\n", name, ours / reference);
    else std::printf("ratio %s: n/a (a run failed)\n", name);
    std::fflush(stdout);
}

} // namespace dmbench
