#pragma once

#include "net/Web.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace dm {

class TWebDispatcher;

// One request, run on its own thread: one attempt, its notifications, then the thread ends.
class TWebInet {
public:
    std::int32_t RequestId = 0;
    std::string Method; // "GET" or "POST"
    std::string Url;
    std::string OutputFile; // GET: the body goes here instead of into memory
    std::string Body;
    std::optional<std::vector<std::string>> FormFields; // only for the alternate client
    std::string ContentType;
    TWebResponseEvent OnResponse;
    TWebOwnerRef Owner;
    TWebOptions Options;

    explicit TWebInet(TWebDispatcher* dispatcher) : dispatcher_(dispatcher) {}
    ~TWebInet();

    void Execute();
    // From any thread: ends the transfer as soon as possible; nothing more is delivered.
    void Abort();

    // Called by the transfer callbacks.
    bool Stopped() const { return aborted_ || ownerGone_; }
    // False when the transfer must end: the headers are over their limit, or a redirect is refused.
    bool OnHeaderLine(std::string_view line);
    bool OnBody(const char* data, std::size_t size);
    // Keeps the bytes in ResponseBody; false (and nothing kept) when they pass the answer limit.
    bool AppendBody(const char* data, std::size_t size);
    // False when the transfer must end: stopped, or silent for longer than the receive time-out.
    bool OnProgress(std::int64_t received, std::int64_t sent);
    // The next piece of the POST body; 0 at its end.
    std::size_t OnUpload(char* buffer, std::size_t size);
    // libcurl wants to send the body again, on a fresh connection after a kept one failed. Only
    // while none of it has gone: the server may have acted on what it got.
    bool OnRewind(std::int64_t offset, int origin);

private:
    void GetAttempt();
    void PostAttempt();
    void AltPostAttempt();
    // Runs the easy handle inside the multi handle of its line.
    int Perform(void* multi, void* curl);
    // Notifications wait in order until Flush runs them on the main thread while this thread
    // waits. Flush is false when nothing more may be delivered.
    void Queue(WebStatus status, std::string text, std::int32_t value);
    bool Flush();
    // The header notifications of the final response; for a GET into a file, the file too.
    bool QueueHeaders();
    void Fail(const std::string& text, std::int32_t value, std::string reason = {});
    // The cause of a failed transfer of the normal stack, for the log.
    std::string CurlFailureReason(int curlCode) const;
    // Where a redirect of this request may not go: the reason, or empty when it may.
    std::string RedirectRefusal(std::string_view location) const;
    // Why this request broke off by its own rules; the error number it then reports.
    std::string LimitReason() const;
    std::int32_t LimitErrorNumber() const;

    TWebDispatcher* dispatcher_;
    std::int32_t HttpStatusCode = 0;
    std::int32_t HttpContentLength = 0;
    std::string HttpStatusText;
    std::string HttpContentType;
    std::string ResponseBody;
    std::FILE* OutputStream = nullptr;
    std::int64_t total_ = 0;
    bool headersQueued_ = false;
    struct TNotice {
        WebStatus status;
        std::string text;
        std::int32_t value;
        std::string reason; // wsFailed only
    };
    std::vector<TNotice> pending_;
    std::string fileError_;
    int fileErrno_ = 0;

    std::int64_t lastReceived_ = 0;
    std::int64_t lastSent_ = 0;
    std::chrono::steady_clock::time_point lastActivity_;
    bool timedOut_ = false;

    // The limits a request keeps by itself (the transfer is ended when one is reached).
    enum class TLimit { None, AnswerTooLarge, HeadersTooLarge, RedirectRefused, Deadline };
    TLimit limit_ = TLimit::None;
    std::int64_t headerBytes_ = 0;
    std::size_t uploaded_ = 0;    // of Body, handed to libcurl
    bool resendRefused_ = false;
    std::string location_;      // of the response whose headers are being read
    std::string limitDetail_;   // the refused redirect's reason
    void* curl_ = nullptr;      // the easy handle while it runs, for the redirect check
    const char* curlError_ = nullptr;

    std::atomic<bool> aborted_{false};
    std::atomic<bool> ownerGone_{false};
    std::mutex abortMutex_; // guards multi_ and stopAlt_ against Abort from another thread
    void* multi_ = nullptr;
    std::function<void()> stopAlt_;
};

// The error number a failed transfer reports, in the numbering the service's support knows.
std::int32_t WebErrorNumber(int curlCode);

} // namespace dm
