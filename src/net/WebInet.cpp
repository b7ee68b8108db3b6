#include "net/WebInet.h"

#include "core/General.h"

#include "net/WebConnections.h"
#include "net/WebDispatcher.h"

#include <curl/curl.h>


#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

namespace dm {

namespace {

constexpr long ReadChunk = 10240;
// What libcurl takes of a POST body at a time: a large body goes in a few hundred copies.
constexpr long UploadChunk = 512 * 1024;

// Numbers as the Windows Internet functions report them (ERROR_INTERNET_*): users read them out
// to support from "Error #N" messages, so they keep their meaning across platforms.
constexpr std::int32_t ErrTimeout = 12002;
constexpr std::int32_t ErrInternal = 12004;
constexpr std::int32_t ErrInvalidUrl = 12005;
constexpr std::int32_t ErrUnrecognizedScheme = 12006;
constexpr std::int32_t ErrNameNotResolved = 12007;
constexpr std::int32_t ErrCannotConnect = 12029;
constexpr std::int32_t ErrConnectionAborted = 12030;
constexpr std::int32_t ErrConnectionReset = 12031;
constexpr std::int32_t ErrInvalidCa = 12045;
constexpr std::int32_t ErrInvalidServerResponse = 12152;
constexpr std::int32_t ErrRedirectFailed = 12156;
constexpr std::int32_t ErrSecurityChannel = 12157;

// Status codes, lengths and ports: 0 when the text is not a number that fits.
std::int32_t ParseInt32(std::string_view s) {
    std::optional<int> v = ParseInteger(s);
    return v && *v >= 0 ? *v : 0;
}

size_t HeaderCallback(char* data, size_t size, size_t count, void* user) {
    return static_cast<TWebInet*>(user)->OnHeaderLine(std::string_view(data, size * count)) ? size * count : 0;
}

size_t WriteCallback(char* data, size_t size, size_t count, void* user) {
    return static_cast<TWebInet*>(user)->OnBody(data, size * count) ? size * count : 0;
}

int ProgressCallback(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    return static_cast<TWebInet*>(user)->OnProgress(received, sent) ? 0 : 1;
}

std::string FileError(const char* what, const std::string& path, int err) {
    return std::string(what) + " \"" + path + "\". " + std::strerror(err);
}

size_t ReadCallback(char* buffer, size_t size, size_t count, void* user) {
    return static_cast<TWebInet*>(user)->OnUpload(buffer, size * count);
}

int SeekCallback(void* user, curl_off_t offset, int origin) {
    return static_cast<TWebInet*>(user)->OnRewind(static_cast<std::int64_t>(offset), origin) ? CURL_SEEKFUNC_OK
                                                                                             : CURL_SEEKFUNC_FAIL;
}

// Host names and TLS sessions, shared by every request thread of the process. Connections are
// not in it: libcurl does not support one connection cache used by concurrent threads, so each
// kept connection stays with the multi handle that made it (TCurlLine).
class TCurlShare {
public:
    static CURLSH* Get() {
        // Never destroyed: kept connections hold it until the very end.
        static TCurlShare* share = new TCurlShare();
        return share->share_;
    }

private:
    TCurlShare() : share_(curl_share_init()) {
        if (!share_) return;
        curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, Lock);
        curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, Unlock);
        curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        static_cast<TCurlShare*>(user)->locks_[Index(data)].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* user) { static_cast<TCurlShare*>(user)->locks_[Index(data)].unlock(); }
    static size_t Index(curl_lock_data data) {
        auto i = static_cast<size_t>(data);
        return i < CURL_LOCK_DATA_LAST ? i : 0;
    }

    CURLSH* share_;
    std::mutex locks_[CURL_LOCK_DATA_LAST];
};

// One easy handle in a multi handle of its own (so that Abort can wake the wait at once), and
// with them the one connection the multi handle keeps after a transfer.
struct TCurlLine {
    CURLM* multi = curl_multi_init();
    CURL* handle = curl_easy_init();
    TCurlLine() {
        if (multi) curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 1L);
    }
    ~TCurlLine() {
        if (multi) curl_multi_cleanup(multi); // closes the kept connection
        if (handle) curl_easy_cleanup(handle);
    }
    TCurlLine(const TCurlLine&) = delete;
    TCurlLine& operator=(const TCurlLine&) = delete;
};

// Where a line's kept connection leads; a line is taken again only for the same place and the
// same transport settings.
std::string LineKey(const std::string& url, const TWebOptions& options, bool direct) {
    TUrlParts parts = SplitUrl(url);
    return std::string(parts.Secure ? "https://" : "http://") + ToLowerAscii(parts.Host) + ":" + parts.Port +
           (direct ? "|direct|" : "|proxy|") + options.CaFile;
}

// A request's use of a line: taken from the kept ones or new, given back when its transfer
// ended cleanly.
struct TCurl {
    std::string key;
    std::shared_ptr<TCurlLine> line;
    CURL* handle = nullptr;
    curl_slist* headers = nullptr;
    char error[CURL_ERROR_SIZE] = {};
    const void* kept = nullptr; // the line given back, for Touch

    explicit TCurl(std::string lineKey) : key(std::move(lineKey)) {
        line = std::static_pointer_cast<TCurlLine>(TKeptConnections::Instance().Take(key));
        if (!line) line = std::make_shared<TCurlLine>();
        if (!line->multi || !line->handle) return;
        handle = line->handle;
        curl_easy_reset(handle);
        if (CURLSH* share = TCurlShare::Get()) curl_easy_setopt(handle, CURLOPT_SHARE, share);
    }
    // The transfer is over and the connection fit for another request: later requests may take it.
    void GiveBack() {
        if (!handle) return;
        kept = line.get();
        // Nothing of this request may be reached from the handle once it is kept.
        curl_easy_reset(handle);
        handle = nullptr;
        TKeptConnections::Instance().Keep(key, std::move(line));
    }
    ~TCurl() { curl_slist_free_all(headers); }
    TCurl(const TCurl&) = delete;
    TCurl& operator=(const TCurl&) = delete;
};

// What every request of the normal stack shares.
void Configure(TCurl& c, TWebInet* inet, const std::string& url, const char* agent, const TWebOptions& options) {
    CURL* h = c.handle;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_USERAGENT, agent);
    // The status text exists only in HTTP/1.x.
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // One progress notification per chunk, as the handlers were written for.
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, ReadChunk);
    // Addresses can come from the service (an update link): nothing but the web, ever.
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // A POST carries a password or an envelope: it is never sent on to where a redirect points.
    // A GET follows a few, each checked by the header callback before libcurl goes there.
    const bool get = inet->Method == "GET";
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, get ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, MaxGetRedirects);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(RequestDeadlineOf(options).count()));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MaxAnswerSizeOf(options)));
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, c.error);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    if (!options.CaFile.empty()) {
        curl_easy_setopt(h, CURLOPT_CAINFO, options.CaFile.c_str());
        curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
    }
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, HeaderCallback);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, inet);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, WriteCallback);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, inet);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, ProgressCallback);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, inet);
    // libcurl's own additions go: the agent sends no header of its own but the content type.
    // Without "Expect:" a large POST waits a second for a "100 Continue" many servers never send.
    c.headers = curl_slist_append(c.headers, "Expect:");
    c.headers = curl_slist_append(c.headers, "Accept:");
}

// The reason of the notification being delivered; main thread only. Handlers can nest (one
// opens a dialog and another request delivers meanwhile), so each delivery puts back the last.
const std::string* deliveringReason = nullptr;

class TReasonScope {
public:
    explicit TReasonScope(const std::string& reason) : previous_(deliveringReason) { deliveringReason = &reason; }
    ~TReasonScope() { deliveringReason = previous_; }
    TReasonScope(const TReasonScope&) = delete;
    TReasonScope& operator=(const TReasonScope&) = delete;

private:
    const std::string* previous_;
};

} // namespace

const std::string& WebFailureReason() {
    static const std::string none;
    return deliveringReason ? *deliveringReason : none;
}

std::int32_t WebErrorNumber(int curlCode) {
    switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_OK: return 0;
    case CURLE_UNSUPPORTED_PROTOCOL: return ErrUnrecognizedScheme;
    case CURLE_URL_MALFORMAT: return ErrInvalidUrl;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST: return ErrNameNotResolved;
    case CURLE_COULDNT_CONNECT: return ErrCannotConnect;
    case CURLE_OPERATION_TIMEDOUT: return ErrTimeout;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE: return ErrInvalidCa;
    case CURLE_SSL_CONNECT_ERROR: return ErrSecurityChannel;
    case CURLE_GOT_NOTHING:
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_WEIRD_SERVER_REPLY: return ErrInvalidServerResponse;
    case CURLE_PARTIAL_FILE: return ErrConnectionAborted;
    case CURLE_SEND_ERROR:
    case CURLE_SEND_FAIL_REWIND:
    case CURLE_RECV_ERROR: return ErrConnectionReset;
    case CURLE_TOO_MANY_REDIRECTS: return ErrRedirectFailed;
    default: return ErrInternal;
    }
}

TWebInet::~TWebInet() {
    if (OutputStream) std::fclose(OutputStream);
}

void TWebInet::Execute() {
    if (Method == "GET")
        GetAttempt();
    else if (Options.AlternateConnection)
        AltPostAttempt();
    else
        PostAttempt();
}

bool TWebInet::OnProgress(std::int64_t received, std::int64_t sent) {
    // The receive time-out counts from the last byte that moved either way. libcurl's own
    // low-speed limit averages over five seconds and so lets a stalled upload run that much longer.
    auto now = std::chrono::steady_clock::now();
    if (received != lastReceived_ || sent != lastSent_ || lastActivity_ == std::chrono::steady_clock::time_point()) {
        lastReceived_ = received;
        lastSent_ = sent;
        lastActivity_ = now;
    } else if (now - lastActivity_ > ReceiveTimeoutOf(Options)) {
        timedOut_ = true;
        return false;
    }
    return !Stopped();
}

std::size_t TWebInet::OnUpload(char* buffer, std::size_t size) {
    if (Stopped()) return CURL_READFUNC_ABORT;
    std::size_t n = std::min(size, Body.size() - uploaded_);
    std::memcpy(buffer, Body.data() + uploaded_, n);
    uploaded_ += n;
    return n;
}

bool TWebInet::OnRewind(std::int64_t offset, int origin) {
    if (uploaded_ == 0 && offset == 0 && origin == SEEK_SET) return true;
    resendRefused_ = true;
    return false;
}

void TWebInet::Abort() {
    aborted_ = true;
    std::lock_guard lock(abortMutex_);
    if (multi_) curl_multi_wakeup(static_cast<CURLM*>(multi_));
    if (stopAlt_) stopAlt_();
}

void TWebInet::Queue(WebStatus status, std::string text, std::int32_t value) {
    pending_.push_back({status, std::move(text), value, {}});
}

bool TWebInet::Flush() {
    if (Stopped()) pending_.clear();
    if (pending_.empty()) return !Stopped();
    bool open = dispatcher_->Deliver([&] {
        for (auto& n : pending_) {
            if (!Owner.Alive()) {
                ownerGone_ = true;
                return;
            }
            if (dispatcher_->Closing()) return;
            TReasonScope scope(n.reason);
            if (OnResponse) OnResponse(RequestId, n.status, n.text, n.value);
        }
    });
    pending_.clear();
    if (!open) aborted_ = true; // the program is closing
    return !Stopped();
}

void TWebInet::Fail(const std::string& text, std::int32_t value, std::string reason) {
    pending_.push_back({wsFailed, text, value, std::move(reason)});
    Flush();
}

bool TWebInet::OnHeaderLine(std::string_view raw) {
    headerBytes_ += static_cast<std::int64_t>(raw.size());
    if (headerBytes_ > MaxHeaderSize) {
        limit_ = TLimit::HeadersTooLarge;
        return false;
    }
    std::string_view line = TrimBlanks(raw);
    if (line.empty()) {
        // The end of one response's headers: a redirect is checked before anything follows it.
        if (HttpStatusCode >= 300 && HttpStatusCode < 400 && !location_.empty()) {
            std::string refusal = RedirectRefusal(location_);
            if (!refusal.empty()) {
                limit_ = TLimit::RedirectRefused;
                limitDetail_ = refusal;
                return false;
            }
        }
        return !Stopped();
    }
    if (line.substr(0, 5) == "HTTP/") {
        // Every response (a redirect, a proxy's CONNECT answer) starts afresh; the last one counts.
        HttpContentLength = 0;
        HttpContentType.clear();
        location_.clear();
        auto sp = line.find(' ');
        std::string_view rest = sp == std::string_view::npos ? std::string_view() : line.substr(sp + 1);
        auto sp2 = rest.find(' ');
        HttpStatusCode = ParseInt32(rest.substr(0, sp2));
        HttpStatusText = sp2 == std::string_view::npos ? std::string() : std::string(TrimBlanks(rest.substr(sp2 + 1)));
        return true;
    }
    auto colon = line.find(':');
    if (colon == std::string_view::npos) return true;
    auto name = TrimBlanks(line.substr(0, colon));
    auto value = TrimBlanks(line.substr(colon + 1));
    if (EqualsNoCase(name, "content-type"))
        HttpContentType = value;
    else if (EqualsNoCase(name, "content-length"))
        HttpContentLength = ParseInt32(value);
    else if (EqualsNoCase(name, "location"))
        location_ = value;
    return true;
}

namespace {

// Scheme and host (lower case) of ref read against base; false when it is not a URL.
bool SchemeAndHost(const char* base, const std::string& ref, std::string& scheme, std::string& host) {
    CURLU* u = curl_url();
    if (!u) return false;
    bool ok = (!base || curl_url_set(u, CURLUPART_URL, base, 0) == CURLUE_OK) &&
              curl_url_set(u, CURLUPART_URL, ref.c_str(), 0) == CURLUE_OK;
    char* s = nullptr;
    char* h = nullptr;
    if (ok) ok = curl_url_get(u, CURLUPART_SCHEME, &s, 0) == CURLUE_OK && curl_url_get(u, CURLUPART_HOST, &h, 0) == CURLUE_OK;
    if (ok) {
        scheme = ToLowerAscii(s);
        host = ToLowerAscii(h);
    }
    curl_free(s);
    curl_free(h);
    curl_url_cleanup(u);
    return ok;
}

} // namespace

std::string TWebInet::RedirectRefusal(std::string_view location) const {
    const std::string to = TextHead(location, 200);
    if (Method != "GET") return "redirect of a " + Method + " to " + to + " refused: what it carries goes nowhere else";
    char* current = nullptr;
    if (curl_) curl_easy_getinfo(static_cast<CURL*>(curl_), CURLINFO_EFFECTIVE_URL, &current);
    std::string fromScheme, fromHost, toScheme, toHost;
    if (!current || !SchemeAndHost(nullptr, current, fromScheme, fromHost) ||
        !SchemeAndHost(current, std::string(location), toScheme, toHost))
        return "redirect to " + to + " refused: not a URL";
    if (toScheme != fromScheme && !(fromScheme == "http" && toScheme == "https"))
        return "redirect from " + fromScheme + " to " + to + " refused: only the same scheme or https";
    if (toHost != fromHost && !Options.UserStarted)
        return "redirect from " + fromHost + " to " + to + " refused: another host";
    return {};
}

std::string TWebInet::LimitReason() const {
    switch (limit_) {
    case TLimit::AnswerTooLarge:
        return "answer too large: over the limit of " + std::to_string(MaxAnswerSizeOf(Options)) + " bytes";
    case TLimit::HeadersTooLarge:
        return "answer headers too large: over the limit of " + std::to_string(MaxHeaderSize) + " bytes";
    case TLimit::RedirectRefused: return limitDetail_;
    case TLimit::Deadline: {
        const auto ms = RequestDeadlineOf(Options).count();
        return "timed out: the request took longer than " +
               (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms") + " in all";
    }
    case TLimit::None: break;
    }
    return {};
}

std::int32_t TWebInet::LimitErrorNumber() const {
    switch (limit_) {
    case TLimit::AnswerTooLarge:
    case TLimit::HeadersTooLarge: return ErrInvalidServerResponse;
    case TLimit::RedirectRefused: return ErrRedirectFailed;
    case TLimit::Deadline: return ErrTimeout;
    case TLimit::None: break;
    }
    return 0;
}

std::string TWebInet::CurlFailureReason(int curlCode) const {
    if (limit_ != TLimit::None) return LimitReason();
    const auto code = static_cast<CURLcode>(curlCode);
    std::string detail = curlError_ && *curlError_ ? std::string(curlError_) : std::string(curl_easy_strerror(code));
    if (resendRefused_)
        return "connection closed by the server after the request had gone out; not sent again, since the "
               "server may have acted on it";
    if (timedOut_)
        return "timed out: nothing received or sent for " + std::to_string(ReceiveTimeoutOf(Options).count() / 1000) + " s";
    switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE: return "certificate not trusted: " + detail;
    case CURLE_SSL_CONNECT_ERROR: return "TLS handshake failed (TLS version or cipher): " + detail;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return "host name not found (DNS): " + detail;
    case CURLE_COULDNT_CONNECT: return "connection refused or host unreachable: " + detail;
    case CURLE_OPERATION_TIMEDOUT: return "timed out: " + detail;
    case CURLE_FILESIZE_EXCEEDED:
        return "answer too large: over the limit of " + std::to_string(MaxAnswerSizeOf(Options)) + " bytes";
    case CURLE_TOO_MANY_REDIRECTS: return "too many redirects: " + detail;
    default: return "transfer failed: " + detail;
    }
}

bool TWebInet::QueueHeaders() {
    if (headersQueued_) return fileError_.empty();
    headersQueued_ = true;
    if (Method != "GET") {
        Queue(wsStatusCode, std::string(), HttpStatusCode);
        Queue(wsStatusText, HttpStatusText, 0);
        Queue(wsContentType, HttpContentType, 0);
    }
    Queue(wsContentLength, std::string(), HttpContentLength);
    if (Method == "GET" && !OutputFile.empty()) {
        OutputStream = std::fopen(OutputFile.c_str(), "wb");
        if (!OutputStream) {
            fileErrno_ = errno;
            fileError_ = FileError("Cannot create file", OutputFile, fileErrno_);
            return false;
        }
    }
    return true;
}

bool TWebInet::AppendBody(const char* data, std::size_t size) {
    const auto max = static_cast<std::size_t>(MaxAnswerSizeOf(Options));
    if (ResponseBody.size() + size > max) {
        limit_ = TLimit::AnswerTooLarge;
        return false;
    }
    // Grown in powers of two up to the limit, never past it: a copy of a buffer that is almost
    // the limit into one twice as large would cost three times the limit for a moment.
    if (ResponseBody.size() + size > ResponseBody.capacity()) {
        std::size_t capacity = 4096;
        while (capacity < ResponseBody.size() + size) capacity *= 2;
        ResponseBody.reserve(std::min(capacity, max));
    }
    ResponseBody.append(data, size);
    return true;
}

bool TWebInet::OnBody(const char* data, std::size_t size) {
    if (!QueueHeaders()) return false;
    if (total_ + static_cast<std::int64_t>(size) > MaxAnswerSizeOf(Options)) {
        limit_ = TLimit::AnswerTooLarge;
        return false;
    }
    if (OutputStream) {
        if (size > 0 && std::fwrite(data, 1, size, OutputStream) != size) {
            fileErrno_ = errno;
            fileError_ = FileError("Cannot write file", OutputFile, fileErrno_);
            return false;
        }
    } else if (!AppendBody(data, size)) {
        return false;
    }
    total_ += static_cast<std::int64_t>(size);
    Queue(wsProgress, std::string(), static_cast<std::int32_t>(total_));
    return !Stopped();
}

int TWebInet::Perform(void* multiHandle, void* curl) {
    auto* multi = static_cast<CURLM*>(multiHandle);
    if (curl_multi_add_handle(multi, curl) != CURLM_OK) return CURLE_FAILED_INIT;
    curl_ = curl;
    const auto started = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(abortMutex_);
        multi_ = multi;
    }
    int running = 1;
    CURLMcode mc = CURLM_OK;
    while (running && !aborted_ && mc == CURLM_OK) {
        mc = curl_multi_perform(multi, &running);
        if (!running || mc != CURLM_OK) break;
        // What this pass read is delivered before the thread waits for the network again; what
        // the last pass read goes with the final notifications. Each trip to the main thread costs
        // two thread wake-ups, which is most of what a small request costs.
        if (!Flush()) break;
        mc = curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    // Left before the end (stopped, or a multi failure): nothing was finished.
    CURLcode code = mc != CURLM_OK ? CURLE_FAILED_INIT : CURLE_ABORTED_BY_CALLBACK;
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left))
        if (msg->msg == CURLMSG_DONE) code = msg->data.result;
    {
        std::lock_guard lock(abortMutex_);
        multi_ = nullptr;
    }
    curl_multi_remove_handle(multi, curl);
    curl_ = nullptr;
    // libcurl's time-out is the whole-request deadline, unless it came sooner (connecting).
    if (code == CURLE_OPERATION_TIMEDOUT && !timedOut_ && limit_ == TLimit::None &&
        std::chrono::steady_clock::now() - started >= RequestDeadlineOf(Options) - std::chrono::milliseconds(100))
        limit_ = TLimit::Deadline;
    return timedOut_ ? CURLE_OPERATION_TIMEDOUT : code;
}

void TWebInet::GetAttempt() {
    TCurl c(LineKey(Url, Options, false));
    if (!c.handle) {
        Fail("GET: Unable to create WININET session.", 0);
        return;
    }
    // GET goes the way the system is set up, whatever the proxy option says.
    Configure(c, this, Url, GetAgent, Options);
    curlError_ = c.error;
    curl_easy_setopt(c.handle, CURLOPT_HTTPHEADER, c.headers);
    auto code = static_cast<CURLcode>(Perform(c.line->multi, c.handle));
    // An empty body never reached the write callback: the headers (and the file) come now.
    if (code == CURLE_OK) QueueHeaders();
    if (Stopped()) return;
    // Before the last notifications: a handler that starts the next request finds it kept.
    if (code == CURLE_OK && limit_ == TLimit::None) c.GiveBack();
    if (!fileError_.empty()) {
        Fail(fileError_, fileErrno_);
        return;
    }
    if (code != CURLE_OK) {
        // A transfer broken after the headers is a failure too: a cut-off installer is not "done".
        Fail("GET: Unable to connect to server.", limit_ != TLimit::None ? LimitErrorNumber() : WebErrorNumber(code),
             CurlFailureReason(code));
        return;
    }
    // The read that finds the end reports the total once more.
    Queue(wsProgress, std::string(), static_cast<std::int32_t>(total_));
    if (OutputStream) {
        bool closed = std::fclose(OutputStream) == 0;
        int err = errno;
        OutputStream = nullptr;
        if (!closed) {
            Fail(FileError("Cannot write file", OutputFile, err), err);
            return;
        }
    }
    Queue(wsDone, OutputFile.empty() ? std::move(ResponseBody) : OutputFile, static_cast<std::int32_t>(total_));
    Flush();
    if (c.kept) TKeptConnections::Instance().Touch(c.kept);
}

void TWebInet::PostAttempt() {
    TUrlParts parts = SplitUrl(Url);
    int port = ParseInt32(parts.Port);
    if (parts.Host.empty() || port <= 0 || port > 65535) {
        Fail("POST: Unable to connect to server.", ErrInvalidUrl);
        return;
    }
    TCurl c(LineKey(Url, Options, !Options.UseDefaultProxy));
    if (!c.handle) {
        Fail("POST: Unable to create WININET session.", 0);
        return;
    }
    std::string url = std::string(parts.Secure ? "https://" : "http://") + parts.Host + ":" +
                      std::to_string(port) + parts.Path;
    Configure(c, this, url, PostAgent, Options);
    curlError_ = c.error;
    if (!Options.UseDefaultProxy) curl_easy_setopt(c.handle, CURLOPT_NOPROXY, "*");
    c.headers = curl_slist_append(c.headers, ("Content-Type: " + ContentType).c_str());
    curl_easy_setopt(c.handle, CURLOPT_HTTPHEADER, c.headers);
    curl_easy_setopt(c.handle, CURLOPT_POST, 1L);
    // The body is read through a callback, not handed over whole, only so that libcurl has to
    // ask before it sends it a second time (below, OnRewind).
    curl_easy_setopt(c.handle, CURLOPT_READFUNCTION, ReadCallback);
    curl_easy_setopt(c.handle, CURLOPT_READDATA, this);
    curl_easy_setopt(c.handle, CURLOPT_SEEKFUNCTION, SeekCallback);
    curl_easy_setopt(c.handle, CURLOPT_SEEKDATA, this);
    // A large buffer only for a large body: each transfer allocates it afresh.
    if (Body.size() > 65536) curl_easy_setopt(c.handle, CURLOPT_UPLOAD_BUFFERSIZE, UploadChunk);
    curl_easy_setopt(c.handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(Body.size()));
    auto code = static_cast<CURLcode>(Perform(c.line->multi, c.handle));
    if (Stopped()) return;
    if (code == CURLE_OK && limit_ == TLimit::None) c.GiveBack();
    if (code == CURLE_URL_MALFORMAT) {
        Fail("POST: Unable to formulate URL.", ErrInvalidUrl, CurlFailureReason(code));
        return;
    }
    if (code != CURLE_OK) {
        Fail("POST: Send request failed.", limit_ != TLimit::None ? LimitErrorNumber() : WebErrorNumber(code),
             CurlFailureReason(code));
        return;
    }
    QueueHeaders();
    Queue(wsProgress, std::string(), static_cast<std::int32_t>(total_));
    Queue(wsDone, std::move(ResponseBody), static_cast<std::int32_t>(total_));
    Flush();
    if (c.kept) TKeptConnections::Instance().Touch(c.kept);
}

} // namespace dm
