// The alternate stack: POSTs over cpp-httplib while the user has chosen the alternate connection.

#include "net/WebInet.h"

#include "core/General.h"
#include "net/TcpCounters.h"
#include "net/WebConnections.h"

#include <httplib.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <netdb.h>
#include <sys/socket.h>

#include <condition_variable>
#include <memory>
#include <thread>

namespace dm {

namespace {

int PortOf(const std::string& text) {
    int port = ParseInteger(text).value_or(0);
    return port > 0 && port <= 65535 ? port : 0;
}

class TAltWatch;

// One client of the library and the connection it keeps between requests to its host.
struct TAltConnection {
    std::unique_ptr<httplib::ClientImpl> client;
    std::atomic<TAltWatch*> watch{nullptr}; // of the request using it
    std::atomic<int> fd{-1};                // its socket, once connected
};

std::string AltKey(const TUrlParts& parts, int port, const TWebOptions& options) {
    return std::string("alt|") + (parts.Secure ? "https://" : "http://") + ToLowerAscii(parts.Host) + ":" +
           std::to_string(port) + "|" + options.CaFile;
}

std::unique_ptr<httplib::ClientImpl> MakeClient(const TUrlParts& parts, int port, const TWebOptions& options) {
    if (!parts.Secure) return std::make_unique<httplib::ClientImpl>(parts.Host, port);
    auto client = std::make_unique<httplib::SSLClient>(parts.Host, port);
    // The password travels in these requests: only TLS 1.2 or newer, and only to a server whose
    // certificate checks out.
    SSL_CTX_set_min_proto_version(client->ssl_context(), TLS1_2_VERSION);
    client->enable_server_certificate_verification(true);
    if (!options.CaFile.empty()) client->set_ca_cert_path(options.CaFile.c_str());
    return client;
}

// The receive buffer while the headers come: what the kernel may hold beyond them.
constexpr int HeaderPhaseReceiveBuffer = 1 << 20;

// cpp-httplib has no deadline for a whole request and reads any number of header lines, with no
// hook while it does. This watch, beside the transfer, ends it (as an abort does) when the
// deadline passes or when more has arrived before the end of the headers than they may take
// plus what the socket's buffers can hold of the body.
class TAltWatch {
public:
    TAltWatch(std::chrono::milliseconds deadline, std::function<void()> stop)
        : deadline_(std::chrono::steady_clock::now() + deadline), stop_(std::move(stop)),
          thread_([this] { Run(); }) {}
    ~TAltWatch() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    TAltWatch(const TAltWatch&) = delete;
    TAltWatch& operator=(const TAltWatch&) = delete;

    // The connection the answer comes on; what it had received before this request is not
    // counted.
    void Socket(int fd, std::uint64_t received, std::uint64_t allowance) {
        fd_ = -1;
        baseline_ = received;
        allowance_ = allowance;
        fd_ = fd;
    }
    void HeadersDone() { headersDone_ = true; }
    bool TimedOut() const { return timedOut_; }
    bool HeadersTooLarge() const { return headersTooLarge_; }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        while (!finished_) {
            cv_.wait_for(lock, std::chrono::milliseconds(10));
            if (finished_) break;
            if (std::chrono::steady_clock::now() >= deadline_) {
                timedOut_ = true;
                stop_();
                break;
            }
            int fd = fd_;
            if (!headersDone_ && fd >= 0 && TcpBytesReceived(fd) > baseline_ + allowance_) {
                headersTooLarge_ = true;
                stop_();
                break;
            }
        }
    }

    const std::chrono::steady_clock::time_point deadline_;
    std::function<void()> stop_;
    std::atomic<int> fd_{-1};
    std::atomic<std::uint64_t> baseline_{0}, allowance_{0};
    std::atomic<bool> headersDone_{false}, timedOut_{false}, headersTooLarge_{false};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool finished_ = false;
    std::thread thread_; // last: it starts once everything above is there
};

// The cause of a failure, as precise as the client and OpenSSL tell it.
std::string AltFailureReason(httplib::Error error, httplib::ClientImpl* client, bool secure, const TUrlParts& parts,
                             unsigned long sslError) {
    std::string where = parts.Host + ":" + parts.Port;
    std::string openssl;
    if (sslError != 0) {
        char text[256] = {};
        ERR_error_string_n(sslError, text, sizeof text);
        openssl = std::string(" (") + text + ")";
    }
    if (error == httplib::Error::Connection || error == httplib::Error::Unknown) {
        // The client tells a name that does not resolve from a refused connection by neither.
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        int rc = ::getaddrinfo(parts.Host.c_str(), nullptr, &hints, &found);
        if (found) ::freeaddrinfo(found);
        if (rc != 0) return "host name not found (DNS): " + parts.Host + " (" + ::gai_strerror(rc) + ")";
        if (error == httplib::Error::Connection) return "connection refused or host unreachable: " + where;
    }
    switch (error) {
    case httplib::Error::SSLServerVerification: {
        long verify = client && secure ? static_cast<httplib::SSLClient*>(client)->get_openssl_verify_result() : 0;
        return "certificate not trusted: " + where + " (" + X509_verify_cert_error_string(verify) + ")";
    }
    case httplib::Error::SSLConnection: return "TLS handshake failed (TLS version or cipher): " + where + openssl;
    case httplib::Error::Read: return "connection closed or reset while reading the answer" + openssl;
    case httplib::Error::Write: return "connection closed or reset while sending the request" + openssl;
    default: return "transfer failed: " + httplib::to_string(error) + openssl;
    }
}

} // namespace

namespace {

// What may arrive on the socket before the end of the headers: their limit, what the kernel's
// receive buffer can hold beyond them, and a little for TLS records and the client's own buffers.
std::uint64_t HeaderPhaseAllowance(int fd) {
    int size = 0;
    socklen_t len = sizeof size;
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &len) != 0) size = 2 * HeaderPhaseReceiveBuffer;
    return static_cast<std::uint64_t>(MaxHeaderSize) + static_cast<std::uint64_t>(size) + 65536;
}

std::shared_ptr<TAltConnection> MakeConnection(const TUrlParts& parts, int port, const TWebOptions& options) {
    auto connection = std::make_shared<TAltConnection>();
    connection->client = MakeClient(parts, port, options);
    connection->client->set_tcp_nodelay(true);
    connection->client->set_keep_alive(true);
    TAltConnection* raw = connection.get();
    // Runs for every new connection, also when a kept one had gone and the client made another.
    connection->client->set_socket_options([raw](int fd) {
        int size = HeaderPhaseReceiveBuffer;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        raw->fd = fd;
        if (TAltWatch* watch = raw->watch) watch->Socket(fd, 0, HeaderPhaseAllowance(fd));
    });
    return connection;
}

} // namespace

void TWebInet::AltPostAttempt() {
    TUrlParts parts = SplitUrl(Url);
    int port = PortOf(parts.Port);
    std::shared_ptr<TAltConnection> connection;
    httplib::ClientImpl* client = nullptr;
    std::string key;
    httplib::Response response;
    httplib::Error error = httplib::Error::Unknown;
    bool sent = false;
    bool headersTooLarge = false;
    unsigned long sslError = 0;
    try {
        if (!parts.Host.empty() && port != 0) {
            key = AltKey(parts, port, Options);
            connection = std::static_pointer_cast<TAltConnection>(TKeptConnections::Instance().Take(key));
            if (!connection) connection = MakeConnection(parts, port, Options);
            client = connection->client.get();
            auto timeout = ReceiveTimeoutOf(Options);
            client->set_read_timeout(timeout.count() / 1000, (timeout.count() % 1000) * 1000);
            client->set_write_timeout(timeout.count() / 1000, (timeout.count() % 1000) * 1000);
            {
                std::lock_guard lock(abortMutex_);
                stopAlt_ = [client] { client->stop(); };
            }
            TAltWatch watch(RequestDeadlineOf(Options), [client] { client->stop(); });
            if (client->is_socket_open() && connection->fd >= 0)
                watch.Socket(connection->fd, TcpBytesReceived(connection->fd), HeaderPhaseAllowance(connection->fd));
            connection->watch = &watch;
            if (!Stopped()) {
                httplib::Request request;
                request.method = "POST";
                request.path = parts.Path;
                std::string contentType = ContentType;
                if (FormFields && contentType.empty()) contentType = FormContentType;
                request.headers = {{"User-Agent", PostAgent}};
                if (!contentType.empty()) request.headers.emplace("Content-Type", contentType);
                request.body = FormFields ? FormBody(*FormFields) : std::move(Body);
                request.response_handler = [&watch](const httplib::Response&) {
                    watch.HeadersDone();
                    return true;
                };
                // The body comes here piece by piece, so that its limit holds before it is kept.
                request.content_receiver = [&](const char* data, size_t size, std::uint64_t, std::uint64_t) {
                    return AppendBody(data, size) && !Stopped();
                };
                ERR_clear_error();
                sent = client->send(request, response, error);
                if (!sent) sslError = ERR_peek_last_error();
            }
            connection->watch = nullptr;
            if (watch.TimedOut()) limit_ = TLimit::Deadline;
            headersTooLarge = watch.HeadersTooLarge();
        }
    } catch (...) {
        sent = false;
        error = httplib::Error::Unknown;
    }
    {
        std::lock_guard lock(abortMutex_);
        stopAlt_ = nullptr;
    }
    FormFields.reset();
    // Before the last notifications: a handler that starts the next request finds it kept.
    const void* kept = nullptr;
    if (sent && !Stopped() && !headersTooLarge && limit_ == TLimit::None && client->is_socket_open()) {
        kept = connection.get();
        TKeptConnections::Instance().Keep(key, std::move(connection));
    }
    if (Stopped()) return;
    if (headersTooLarge) limit_ = TLimit::HeadersTooLarge;
    if (sent && limit_ == TLimit::None && response.status >= 300 && response.status < 400 &&
        response.has_header("Location")) {
        limit_ = TLimit::RedirectRefused;
        limitDetail_ = RedirectRefusal(response.get_header_value("Location"));
    }
    // The client treats an error status as a failure, and then nothing more is read from it.
    if (!sent || limit_ != TLimit::None || response.status >= 400) {
        std::string reason;
        if (limit_ != TLimit::None) reason = LimitReason();
        else if (!client) reason = "not a URL that can be reached: " + TextHead(Url, 200);
        else if (!sent) reason = AltFailureReason(error, client, parts.Secure, parts, sslError);
        else reason = "the server answered with status " + std::to_string(response.status);
        Fail(std::string(), 0, std::move(reason));
        return;
    }
    Queue(wsStatusCode, std::string(), response.status);
    auto length = static_cast<std::int32_t>(ResponseBody.size());
    Queue(wsDone, std::move(ResponseBody), length);
    Flush();
    if (kept) TKeptConnections::Instance().Touch(kept);
}

} // namespace dm
