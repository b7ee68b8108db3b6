#pragma once

// Connections kept open between requests, so that a session's exchanges do not each pay a TCP
// connect and a TLS handshake. Request threads hand a connection back when its transfer is over
// and take it again for the next request to the same place. A kept connection that nobody takes
// for a short while is closed by a thread of its own (never by the main thread, which may be
// blocked waiting for a server to stop), and every kept connection is closed at exit.

#include <chrono>
#include <memory>
#include <string>

namespace dm {

// How long an unused connection stays open: below the keep-alive time-out of common servers
// (5 s and more), so the agent closes first and does not send into a connection the server is
// closing; short enough that a server being stopped never waits long for it.
inline constexpr std::chrono::milliseconds DefaultConnectionIdleLimit{1000};

class TKeptConnections {
public:
    static TKeptConnections& Instance();

    // An idle connection kept under this key, or null. Its deleter closes it.
    std::shared_ptr<void> Take(const std::string& key);
    // Keeps a connection whose last exchange ended cleanly. Closed at once after CloseAll.
    void Keep(const std::string& key, std::shared_ptr<void> connection);
    // The idle time of a kept connection starts again now, if it is still kept: a request hands
    // its connection back before its last notification, whose handler may work for a while
    // before it starts the next request (QuickBooks answering, for a session).
    void Touch(const void* connection);
    // Closes every idle connection; from then on nothing more is kept (the program is closing).
    void CloseAll();
    // Closes every idle connection and goes on keeping.
    void CloseIdle();
    int IdleCount() const;

    // Tests only: a shorter or longer idle limit.
    void SetIdleLimit(std::chrono::milliseconds limit);

    TKeptConnections(const TKeptConnections&) = delete;
    TKeptConnections& operator=(const TKeptConnections&) = delete;

private:
    TKeptConnections();
    ~TKeptConnections();
    struct TState;
    std::unique_ptr<TState> state_;
};

} // namespace dm
