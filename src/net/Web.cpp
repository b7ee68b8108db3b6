#include "net/Web.h"

#include "net/WebDispatcher.h"
#include "net/WebInet.h"

#include <QCoreApplication>
#include <QThread>

namespace dm {

namespace {

TWebOptions processOptions;
// Touched on the main thread only.
std::int32_t lastRequestId = 0;

std::int32_t Launch(std::shared_ptr<TWebInet> inet) {
    Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
    ++lastRequestId;
    inet->RequestId = lastRequestId;
    TWebDispatcher::Instance()->Start(std::move(inet));
    return lastRequestId;
}

} // namespace

void SetWebOptions(const TWebOptions& options) { processOptions = options; }
const TWebOptions& WebOptions() { return processOptions; }

std::chrono::milliseconds ReceiveTimeoutOf(const TWebOptions& options) {
    if (options.ReceiveTimeout.count() > 0) return options.ReceiveTimeout;
    return std::chrono::milliseconds(options.TestMode ? 600000 : 180000);
}

std::chrono::milliseconds RequestDeadlineOf(const TWebOptions& options) {
    if (options.RequestDeadline.count() > 0) return options.RequestDeadline;
    return std::chrono::minutes(30);
}

std::int64_t MaxAnswerSizeOf(const TWebOptions& options) {
    return options.MaxAnswerSize > 0 ? options.MaxAnswerSize : DefaultMaxAnswerSize;
}

std::int32_t WebGet(const std::string& url, const std::string& outputFile, TWebResponseEvent handler,
                    TWebOwnerRef owner, const std::optional<TWebOptions>& options) {
    auto inet = std::make_shared<TWebInet>(TWebDispatcher::Instance());
    inet->Method = "GET";
    inet->Url = url;
    inet->OutputFile = outputFile;
    inet->OnResponse = std::move(handler);
    inet->Owner = std::move(owner);
    inet->Options = options.value_or(processOptions);
    return Launch(std::move(inet));
}

std::int32_t WebPost(const std::string& url, const std::optional<std::vector<std::string>>& formFields,
                     const std::string& contentType, std::string body, TWebResponseEvent handler,
                     TWebOwnerRef owner, const std::optional<TWebOptions>& options) {
    auto inet = std::make_shared<TWebInet>(TWebDispatcher::Instance());
    inet->Method = "POST";
    inet->Url = url;
    inet->Options = options.value_or(processOptions);
    if (contentType == FormContentType)
        inet->Body = formFields ? FormBody(*formFields) : std::string();
    else
        inet->Body = std::move(body);
    inet->ContentType = contentType;
    if (formFields && inet->Options.AlternateConnection) inet->FormFields = formFields;
    inet->OnResponse = std::move(handler);
    inet->Owner = std::move(owner);
    return Launch(std::move(inet));
}

std::int32_t WebPostXml(const std::string& url, std::string body, TWebResponseEvent handler,
                        TWebOwnerRef owner, const std::optional<TWebOptions>& options) {
    return WebPost(url, std::nullopt, "text/xml", std::move(body), std::move(handler), std::move(owner),
                   options);
}

std::int32_t LastRequestId() { return lastRequestId; }

std::string FormEncode(std::string_view text) {
    static constexpr std::string_view kept =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_.!~*'()";
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (c == ' ') {
            out += '+';
        } else if (kept.find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out;
}

std::string FormBody(const std::vector<std::string>& fields) {
    std::string out;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out += '&';
        const std::string& line = fields[i];
        auto eq = line.find('=');
        size_t nameEnd = eq == std::string::npos ? 0 : eq + 1;
        out.append(line, 0, nameEnd);
        out += FormEncode(std::string_view(line).substr(nameEnd));
    }
    return out;
}

TUrlParts SplitUrl(std::string_view url) {
    TUrlParts parts;
    parts.Secure = url.substr(0, 8) == "https://";
    std::string_view rest = url.substr(std::min<size_t>(url.size(), parts.Secure ? 8 : 7));
    std::string_view hostPart = rest;
    auto slash = rest.find('/');
    if (slash != std::string_view::npos) {
        hostPart = rest.substr(0, slash);
        parts.Path = rest.substr(slash);
    } else {
        parts.Path = "/";
    }
    auto colon = hostPart.find(':');
    if (colon != std::string_view::npos) {
        parts.Host = hostPart.substr(0, colon);
        parts.Port = hostPart.substr(colon + 1);
    } else {
        parts.Host = hostPart;
        parts.Port = parts.Secure ? "443" : "80";
    }
    return parts;
}

int WebActiveRequests() {
    Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
    return TWebDispatcher::Instance()->Active();
}

void WebShutdown() { TWebDispatcher::Instance()->Shutdown(); }

} // namespace dm
