#pragma once

// Loopback servers, a test certificate authority and a notification recorder for the
// transport tests.

#include "net/Web.h"

#include "TestCerts.h"

#include <httplib.h>

#include <QObject>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dmtest {

// A cpp-httplib server on 127.0.0.1 with a port of its own. Routes go in before Start.
class TLoopbackServer {
public:
    TLoopbackServer();
    TLoopbackServer(const std::string& certFile, const std::string& keyFile);
    ~TLoopbackServer();
    httplib::Server& Http() { return *server_; }
    void Start();
    void Stop();
    int Port() const { return port_; }
    std::string Url(const std::string& path) const;

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    bool secure_ = false;
};

// Holds handlers back until released (or until a bound passes, so that nothing waits forever).
class TGate {
public:
    void Wait(std::chrono::seconds bound = std::chrono::seconds(30));
    void Release();
    int Waiting() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
    int waiting_ = 0;
};

// A port on 127.0.0.1 where nothing listens.
int ClosedPort();

struct TNote {
    std::int32_t id;
    dm::WebStatus status;
    std::string text;
    std::int32_t value;
};

// A QObject owner that keeps what its handler was told.
class TRecorder : public QObject {
public:
    std::vector<TNote> notes;
    dm::TWebResponseEvent Handler();
    // wsDone or wsFailed has come.
    bool Ended() const;
    // "StatusCode 200|StatusText OK|..." for comparing whole sequences.
    std::string Describe() const;
};

std::string Describe(const std::vector<TNote>& notes);
// Waits for the recorder's last notification and then for every request thread to end.
bool WaitEnded(const TRecorder& recorder);
bool WaitIdle();

} // namespace dmtest
