#pragma once

// Web requests: each runs on a thread of its own and reports to a handler that is always
// called on the main thread, while the request's thread waits for it to return.

#include <QPointer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QObject;

namespace dm {

enum WebStatus : std::uint8_t {
    wsFailed = 0,        // text: error text; value: error number
    wsStatusCode = 1,    // value: HTTP status code, 0 when unreadable (POST only)
    wsStatusText = 2,    // text: HTTP status text (POST over the normal stack)
    wsContentType = 3,   // text: response content type (POST over the normal stack)
    wsContentLength = 4, // value: Content-Length, 0 when absent (normal stack)
    wsProgress = 5,      // value: bytes received so far, after every read
    wsDone = 6,          // text: the body, or the output file; value: bytes received
    wsFinished = 7,      // never delivered to a handler
};

using TWebResponseEvent = std::function<void(std::int32_t requestId, WebStatus status,
                                             const std::string& text, std::int32_t value)>;

// A plain (non-QObject) handler object holds one, as a member or a base: once it is destroyed,
// the requests started for it tell nobody anything more.
class TWebOwner {
public:
    TWebOwner() : token_(std::make_shared<char>(0)) {}
    TWebOwner(const TWebOwner&) = delete;
    TWebOwner& operator=(const TWebOwner&) = delete;

private:
    friend class TWebOwnerRef;
    std::shared_ptr<char> token_;
};

// Whose handler a request calls. Checked on the main thread before every notification.
class TWebOwnerRef {
public:
    TWebOwnerRef() = default; // nobody to outlive: the handler is always called
    TWebOwnerRef(std::nullptr_t) {}
    TWebOwnerRef(QObject* owner) : qobject_(owner), watchesQObject_(owner != nullptr) {}
    TWebOwnerRef(const TWebOwner& owner) : token_(owner.token_), watchesToken_(true) {}
    TWebOwnerRef(const TWebOwner* owner)
        : token_(owner ? std::weak_ptr<char>(owner->token_) : std::weak_ptr<char>()),
          watchesToken_(owner != nullptr) {}

    bool Alive() const {
        if (watchesQObject_ && qobject_.isNull()) return false;
        if (watchesToken_ && token_.expired()) return false;
        return true;
    }

private:
    QPointer<QObject> qobject_;
    std::weak_ptr<char> token_;
    bool watchesQObject_ = false;
    bool watchesToken_ = false;
};

// Binds a method of the owner as a handler: WebPostXml(url, xml, WebHandler(this, &TSync::WebResponse), this).
template <class T>
TWebResponseEvent WebHandler(T* owner,
                             void (T::*method)(std::int32_t, WebStatus, const std::string&, std::int32_t)) {
    return [owner, method](std::int32_t id, WebStatus status, const std::string& text, std::int32_t value) {
        (owner->*method)(id, status, text, value);
    };
}

// What the engine decides for the transport. Filled once for the process (SetWebOptions) and
// copied into each request when it starts; a request may be given its own.
struct TWebOptions {
    bool TestMode = false;            // receive time-out 600 s instead of 180 s
    bool AlternateConnection = false; // POSTs over the alternate client
    bool UseDefaultProxy = true;      // POSTs through the proxy the environment names, else direct
    // Tests only: a shorter receive time-out than the two above.
    std::chrono::milliseconds ReceiveTimeout{0};
    // Tests only: trust the authorities in this PEM file instead of the system store.
    std::string CaFile;
    // Tests only: a shorter whole-request deadline and a smaller answer limit than the defaults.
    std::chrono::milliseconds RequestDeadline{0};
    std::int64_t MaxAnswerSize = 0;
    // GET only: the user started this download, so a redirect may take it to another host.
    bool UserStarted = false;
};

void SetWebOptions(const TWebOptions& options);
const TWebOptions& WebOptions();
std::chrono::milliseconds ReceiveTimeoutOf(const TWebOptions& options);

// What a hostile or broken server can make a request cost. No real exchange comes near these:
// the largest qbXML answers of a session are tens of megabytes, and they travel upwards.
inline constexpr std::int64_t DefaultMaxAnswerSize = std::int64_t(256) << 20;
inline constexpr std::int64_t MaxHeaderSize = 256 << 10; // all header lines of one request
inline constexpr long MaxGetRedirects = 5;
// Besides the receive time-out, which a server trickling a byte now and then never reaches.
std::chrono::milliseconds RequestDeadlineOf(const TWebOptions& options);
std::int64_t MaxAnswerSizeOf(const TWebOptions& options);

// During a wsFailed notification: the transport's own account of the cause ("certificate not
// trusted: ...", "connection refused: ..."), for the activity log. Empty at any other time.
const std::string& WebFailureReason();

inline constexpr const char* PostAgent = "Invara Desktop Manager Support Assistant";
inline constexpr const char* GetAgent = "Invara Desktop Manager";
inline constexpr const char* FormContentType = "application/x-www-form-urlencoded";

// Each returns the new request's id at once (1, 2, 3 ... for the life of the process).
// Call them on the main thread only; a handler may start further requests.
std::int32_t WebGet(const std::string& url, const std::string& outputFile, TWebResponseEvent handler,
                    TWebOwnerRef owner, const std::optional<TWebOptions>& options = std::nullopt);
// For the form content type the body is built from the fields and the body argument is ignored;
// otherwise the body is sent as it is.
std::int32_t WebPost(const std::string& url, const std::optional<std::vector<std::string>>& formFields,
                     const std::string& contentType, std::string body, TWebResponseEvent handler,
                     TWebOwnerRef owner, const std::optional<TWebOptions>& options = std::nullopt);
std::int32_t WebPostXml(const std::string& url, std::string body, TWebResponseEvent handler,
                        TWebOwnerRef owner, const std::optional<TWebOptions>& options = std::nullopt);

std::int32_t LastRequestId();

// One form value: space -> "+", unreserved bytes kept, every other byte as %XX.
std::string FormEncode(std::string_view text);
// name=value lines joined with "&"; names are sent as they are, values encoded.
std::string FormBody(const std::vector<std::string>& fields);

struct TUrlParts {
    bool Secure = false;
    std::string Host;
    std::string Port; // as written; "443" or "80" when absent
    std::string Path; // from the first "/" on; "/" when the URL has none
};
TUrlParts SplitUrl(std::string_view url);

// Requests whose threads have not ended yet.
int WebActiveRequests();
// Stops all delivery, ends the transfers in flight and joins their threads. Runs by itself when
// the application's event loop quits; afterwards requests start but report nothing.
void WebShutdown();

} // namespace dm
