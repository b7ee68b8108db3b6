#pragma once

// A TCP proxy on 127.0.0.1 that gives loopback the latency of a real link: each direction's
// data reaches the other side half a round trip after it was sent, and a new connection pays one
// round trip (the TCP handshake) before its first byte goes on. TLS passes through untouched.
// Bandwidth is not limited.

#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace dmbench {

class TDelayProxy {
public:
    TDelayProxy(int targetPort, std::chrono::milliseconds roundTrip);
    ~TDelayProxy();
    TDelayProxy(const TDelayProxy&) = delete;
    TDelayProxy& operator=(const TDelayProxy&) = delete;

    int Port() const { return port_; }
    int Connections() const { return connections_; }

private:
    struct TLink;
    void Accept();

    const int targetPort_;
    const std::chrono::milliseconds roundTrip_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;
    std::list<std::shared_ptr<TLink>> links_;
    std::thread acceptor_;
};

} // namespace dmbench
