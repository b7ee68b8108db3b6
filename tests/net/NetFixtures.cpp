#include "NetFixtures.h"

#include "EventLoop.h"
#include "TestSupport.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace dmtest {

TLoopbackServer::TLoopbackServer() : server_(std::make_unique<httplib::Server>()) {}

TLoopbackServer::TLoopbackServer(const std::string& certFile, const std::string& keyFile)
    : server_(std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str())), secure_(true) {
    if (!server_->is_valid()) throw std::runtime_error("cannot load the test certificate");
}

TLoopbackServer::~TLoopbackServer() { Stop(); }

void TLoopbackServer::Start() {
    // Without it every answer waits for the client's delayed acknowledgement (about 40 ms).
    server_->set_tcp_nodelay(true);
    // More handlers than the default pool, so that held-back requests do not queue each other.
    server_->new_task_queue = [] { return new httplib::ThreadPool(24); };
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TLoopbackServer::Stop() {
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

std::string TLoopbackServer::Url(const std::string& path) const {
    return std::string(secure_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

void TGate::Wait(std::chrono::seconds bound) {
    std::unique_lock lock(mutex_);
    ++waiting_;
    cv_.wait_for(lock, bound, [this] { return open_; });
    --waiting_;
}

void TGate::Release() {
    std::lock_guard lock(mutex_);
    open_ = true;
    cv_.notify_all();
}

int TGate::Waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
}

int ClosedPort() {
    // Bound and never listened on: connections are refused, and nobody else gets the port meanwhile.
    static int port = [] {
        int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        return static_cast<int>(ntohs(a.sin_port));
    }();
    return port;
}

dm::TWebResponseEvent TRecorder::Handler() {
    return [this](std::int32_t id, dm::WebStatus status, const std::string& text, std::int32_t value) {
        notes.push_back({id, status, text, value});
    };
}

bool TRecorder::Ended() const {
    return !notes.empty() && (notes.back().status == dm::wsDone || notes.back().status == dm::wsFailed);
}

std::string TRecorder::Describe() const { return dmtest::Describe(notes); }

std::string Describe(const std::vector<TNote>& notes) {
    static const char* names[] = {"Failed",   "StatusCode", "StatusText", "ContentType",
                                  "ContentLength", "Progress", "Done",       "Finished"};
    std::string out;
    for (const auto& n : notes) {
        if (!out.empty()) out += '|';
        out += names[n.status];
        if (!n.text.empty()) out += " '" + n.text + "'";
        out += ' ' + std::to_string(n.value);
    }
    return out;
}

bool WaitEnded(const TRecorder& recorder) {
    return WaitUntil([&] { return recorder.Ended(); }) && WaitIdle();
}

bool WaitIdle() {
    return WaitUntil([] { return dm::WebActiveRequests() == 0; });
}

} // namespace dmtest
