#pragma once

// A server on 127.0.0.1 that speaks raw bytes, plain or over TLS, for answers no well-behaved
// HTTP server gives: endless bodies, a byte now and then, a flood of header lines, resets.

#include <openssl/ssl.h>

#include <atomic>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace dmtest {

class THostileConnection {
public:
    THostileConnection(int fd, SSL* ssl, const std::atomic<bool>& stopping) : fd_(fd), ssl_(ssl), stopping_(stopping) {}
    // The request line and headers, up to the blank line; empty when the client went first.
    std::string ReadHead();
    // Exactly n bytes (a body whose length the head gave); fewer when the client went first.
    std::string Read(size_t n);
    // False once the client has gone (or the server is stopping).
    bool Write(std::string_view bytes);
    // The connection ends with a reset instead of a close once the script returns.
    void Reset();
    bool Stopping() const { return stopping_; }

private:
    int fd_;
    SSL* ssl_;
    const std::atomic<bool>& stopping_;
};

class THostileServer {
public:
    using TScript = std::function<void(THostileConnection&)>;
    // certFile and keyFile: TLS with that certificate; empty: plain. maxTlsVersion: the newest
    // protocol the server speaks (TLS1_1_VERSION, ...), 0 for any.
    explicit THostileServer(TScript script, const std::string& certFile = {}, const std::string& keyFile = {},
                            int maxTlsVersion = 0);
    ~THostileServer();
    THostileServer(const THostileServer&) = delete;
    THostileServer& operator=(const THostileServer&) = delete;

    int Port() const { return port_; }
    std::string Url(const std::string& path) const;
    int Connections() const { return connections_; }

private:
    void Accept();

    TScript script_;
    SSL_CTX* ctx_ = nullptr;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;
    std::list<std::thread> threads_;
    std::list<int> open_;
    std::thread acceptor_;
};

} // namespace dmtest
