#include "DelayProxy.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

namespace dmbench {

namespace {

using Clock = std::chrono::steady_clock;

int Connect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void NoDelay(int fd) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// One direction: what is read from `from` is written to `to` once its time has come.
class TPipe {
public:
    TPipe(int from, int to, Clock::duration delay, Clock::time_point notBefore, const std::atomic<bool>& stopping)
        : from_(from), to_(to), delay_(delay), notBefore_(notBefore), stopping_(stopping) {
        reader_ = std::thread([this] { Read(); });
        writer_ = std::thread([this] { Write(); });
    }
    ~TPipe() {
        Stop();
        reader_.join();
        writer_.join();
    }
    void Stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        cv_.notify_all();
    }

private:
    struct TPiece {
        Clock::time_point due;
        std::string bytes; // empty: the sender closed its side
    };

    void Read() {
        std::vector<char> buffer(256 * 1024);
        for (;;) {
            pollfd p{from_, POLLIN, 0};
            int r = ::poll(&p, 1, 50);
            if (stopping_ || Stopped()) break;
            if (r <= 0) continue;
            ssize_t n = ::recv(from_, buffer.data(), buffer.size(), 0);
            std::lock_guard lock(mutex_);
            auto due = std::max(Clock::now() + delay_, notBefore_);
            if (n <= 0) {
                pieces_.push_back({due, {}});
                cv_.notify_all();
                break;
            }
            pieces_.push_back({due, std::string(buffer.data(), static_cast<size_t>(n))});
            cv_.notify_all();
        }
    }

    void Write() {
        std::unique_lock lock(mutex_);
        for (;;) {
            cv_.wait(lock, [this] { return stopped_ || !pieces_.empty(); });
            if (stopped_) return;
            auto due = pieces_.front().due;
            if (Clock::now() < due) {
                cv_.wait_until(lock, due, [this] { return stopped_.load(); });
                continue;
            }
            TPiece piece = std::move(pieces_.front());
            pieces_.pop_front();
            lock.unlock();
            if (piece.bytes.empty()) {
                ::shutdown(to_, SHUT_WR);
                return;
            }
            const char* data = piece.bytes.data();
            size_t left = piece.bytes.size();
            while (left > 0) {
                ssize_t n = ::send(to_, data, left, MSG_NOSIGNAL);
                if (n <= 0) {
                    ::shutdown(from_, SHUT_RDWR);
                    return;
                }
                data += n;
                left -= static_cast<size_t>(n);
            }
            lock.lock();
        }
    }

    bool Stopped() {
        std::lock_guard lock(mutex_);
        return stopped_;
    }

    const int from_, to_;
    const Clock::duration delay_;
    const Clock::time_point notBefore_;
    const std::atomic<bool>& stopping_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<TPiece> pieces_;
    std::atomic<bool> stopped_{false};
    std::thread reader_, writer_;
};

} // namespace

struct TDelayProxy::TLink {
    int client, server;
    std::unique_ptr<TPipe> up, down;
    ~TLink() {
        ::shutdown(client, SHUT_RDWR);
        ::shutdown(server, SHUT_RDWR);
        up.reset();
        down.reset();
        ::close(client);
        ::close(server);
    }
};

TDelayProxy::TDelayProxy(int targetPort, std::chrono::milliseconds roundTrip)
    : targetPort_(targetPort), roundTrip_(roundTrip) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 64) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("the delaying proxy cannot bind a loopback port");
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
}

TDelayProxy::~TDelayProxy() {
    stopping_ = true;
    acceptor_.join();
    std::lock_guard lock(mutex_);
    links_.clear();
    ::close(listen_);
}

void TDelayProxy::Accept() {
    while (!stopping_) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        int server = Connect(targetPort_);
        if (server < 0) {
            ::close(client);
            continue;
        }
        ++connections_;
        NoDelay(client);
        NoDelay(server);
        // The handshake: the client's first bytes go on one round trip after it connected,
        // plus the half a round trip every byte takes.
        const auto half = std::chrono::duration_cast<Clock::duration>(roundTrip_) / 2;
        const auto opened = Clock::now() + std::chrono::duration_cast<Clock::duration>(roundTrip_);
        auto link = std::make_shared<TLink>();
        link->client = client;
        link->server = server;
        link->up = std::make_unique<TPipe>(client, server, half, opened + half, stopping_);
        link->down = std::make_unique<TPipe>(server, client, half, opened, stopping_);
        std::lock_guard lock(mutex_);
        links_.push_back(std::move(link));
    }
}

} // namespace dmbench
