// The alternate stack: POSTs over cpp-httplib while the user has chosen the alternate connection.

#include "net/WebInet.h"

#include "core/General.h"

#include <httplib.h>
#include <openssl/ssl.h>

#include <memory>

namespace dm {

namespace {

int PortOf(const std::string& text) {
    int port = ParseInteger(text).value_or(0);
    return port > 0 && port <= 65535 ? port : 0;
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

} // namespace

void TWebInet::AltPostAttempt() {
    TUrlParts parts = SplitUrl(Url);
    int port = PortOf(parts.Port);
    std::unique_ptr<httplib::ClientImpl> client;
    httplib::Result result(nullptr, httplib::Error::Unknown);
    try {
        if (!parts.Host.empty() && port != 0) {
            client = MakeClient(parts, port, Options);
            auto timeout = ReceiveTimeoutOf(Options);
            client->set_read_timeout(timeout.count() / 1000, (timeout.count() % 1000) * 1000);
            client->set_write_timeout(timeout.count() / 1000, (timeout.count() % 1000) * 1000);
            client->set_tcp_nodelay(true);
            client->set_keep_alive(false);
            {
                std::lock_guard lock(abortMutex_);
                httplib::ClientImpl* raw = client.get();
                stopAlt_ = [raw] { raw->stop(); };
            }
            if (!Stopped()) {
                httplib::Headers headers{{"User-Agent", PostAgent}};
                std::string contentType = ContentType;
                if (FormFields && contentType.empty()) contentType = FormContentType;
                std::string formBody;
                if (FormFields) formBody = FormBody(*FormFields);
                result = client->Post(parts.Path, headers, FormFields ? formBody : Body, contentType);
            }
        }
    } catch (...) {
        result = httplib::Result(nullptr, httplib::Error::Unknown);
    }
    {
        std::lock_guard lock(abortMutex_);
        stopAlt_ = nullptr;
    }
    FormFields.reset();
    if (Stopped()) return;
    // The client treats an error status as a failure, and then nothing more is read from it.
    if (!result || result->status >= 400) {
        Fail(std::string(), 0);
        return;
    }
    Queue(wsStatusCode, std::string(), result->status);
    auto length = static_cast<std::int32_t>(result->body.size());
    Queue(wsDone, std::move(result->body), length);
    Flush();
}

} // namespace dm
