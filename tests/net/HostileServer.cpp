#include "HostileServer.h"

#include "core/General.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace dmtest {

std::string THostileConnection::ReadHead() {
    std::string head;
    char c;
    while (!stopping_ && head.size() < 65536) {
        int n = ssl_ ? SSL_read(ssl_, &c, 1) : static_cast<int>(::recv(fd_, &c, 1, 0));
        if (n <= 0) return {};
        head += c;
        if (head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0) return head;
    }
    return {};
}

std::string THostileConnection::Read(size_t n) {
    std::string bytes(n, '\0');
    size_t got = 0;
    while (!stopping_ && got < n) {
        int r = ssl_ ? SSL_read(ssl_, bytes.data() + got, static_cast<int>(n - got))
                     : static_cast<int>(::recv(fd_, bytes.data() + got, n - got, 0));
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    bytes.resize(got);
    return bytes;
}

bool THostileConnection::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        if (stopping_) return false;
        int n = ssl_ ? SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()))
                     : static_cast<int>(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL));
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void THostileConnection::Reset() {
    struct linger hard {1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard); // the close that follows resets
}

THostileServer::THostileServer(TScript script, const std::string& certFile, const std::string& keyFile,
                               int maxTlsVersion)
    : script_(std::move(script)) {
    // The server writes to clients that have gone; that must not end the test program.
    dm::IgnoreBrokenPipes();
    if (!certFile.empty()) {
        ctx_ = SSL_CTX_new(TLS_server_method());
        if (!ctx_ || SSL_CTX_use_certificate_chain_file(ctx_, certFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx_, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
            throw std::runtime_error("cannot load the test certificate");
        if (maxTlsVersion != 0) {
            SSL_CTX_set_security_level(ctx_, 0); // old protocols are refused by the client, not here
            SSL_CTX_set_min_proto_version(ctx_, TLS1_VERSION);
            SSL_CTX_set_max_proto_version(ctx_, maxTlsVersion);
        }
    }
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 16) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("cannot bind a loopback port");
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
}

THostileServer::~THostileServer() {
    stopping_ = true;
    acceptor_.join();
    {
        std::lock_guard lock(mutex_);
        for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& t : threads_) t.join();
    ::close(listen_);
    if (ctx_) SSL_CTX_free(ctx_);
}

std::string THostileServer::Url(const std::string& path) const {
    return std::string(ctx_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

void THostileServer::Accept() {
    while (!stopping_) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++connections_;
        std::lock_guard lock(mutex_);
        open_.push_back(fd);
        threads_.emplace_back([this, fd] {
            SSL* ssl = nullptr;
            bool ready = true;
            if (ctx_) {
                ssl = SSL_new(ctx_);
                SSL_set_fd(ssl, fd);
                ready = SSL_accept(ssl) == 1;
            }
            if (ready) {
                THostileConnection connection(fd, ssl, stopping_);
                script_(connection);
            }
            if (ssl) SSL_free(ssl);
            std::lock_guard lock(mutex_);
            open_.remove(fd);
            ::close(fd);
        });
    }
}

} // namespace dmtest
