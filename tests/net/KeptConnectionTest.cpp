// Connections kept between requests: reused while requests follow each other, closed when idle
// and when a server closes them, and never used to send a request twice.

#include "net/Web.h"
#include "net/WebConnections.h"

#include "EventLoop.h"
#include "HostileServer.h"
#include "NetFixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>

using namespace dm;
using namespace dmtest;

namespace {

enum class TStack { Post, Get, Alt };

struct TStackCase {
    const char* name;
    TStack stack;
    bool tls;
};

const TStackCase StackCases[] = {
    {"POST", TStack::Post, false},  {"GET", TStack::Get, false},  {"alternate", TStack::Alt, false},
    {"POST over TLS", TStack::Post, true}, {"GET over TLS", TStack::Get, true}, {"alternate over TLS", TStack::Alt, true},
};

TWebOptions OptionsFor(TStack stack) {
    TWebOptions o;
    o.CaFile = TTestCerts::Get().CaFile;
    o.AlternateConnection = stack == TStack::Alt;
    return o;
}

void Send(TStack stack, const std::string& url, TRecorder& r) {
    if (stack == TStack::Get)
        WebGet(url, "", r.Handler(), &r, OptionsFor(stack));
    else
        WebPostXml(url, "<q/>", r.Handler(), &r, OptionsFor(stack));
}

std::string Last(const TRecorder& r) { return r.notes.empty() ? std::string() : Describe({r.notes.back()}); }

// The answer of a keep-alive server to one request whose head has been read.
void Answer(THostileConnection& c, const std::string& head, const std::string& body) {
    auto at = head.find("Content-Length: ");
    if (at != std::string::npos) c.Read(std::stoul(head.substr(at + 16)));
    c.Write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
            body);
}

class KeptConnections : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_TRUE(WaitIdle());
        TKeptConnections::Instance().SetIdleLimit(DefaultConnectionIdleLimit);
    }
};

} // namespace

TEST_F(KeptConnections, RequestsThatFollowEachOtherShareOneConnection) {
    const auto& certs = TTestCerts::Get();
    TLoopbackServer plain, secure(certs.CertFile, certs.KeyFile);
    std::mutex mutex;
    std::set<int> ports;
    for (auto* s : {&plain, &secure}) {
        auto route = [&](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard lock(mutex);
                ports.insert(req.remote_port);
            }
            res.set_content("<ok/>", "text/xml");
        };
        s->Http().Post("/k", route);
        s->Http().Get("/k", route);
        s->Http().set_keep_alive_max_count(100);
        s->Start();
    }
    for (const auto& c : StackCases) {
        TKeptConnections::Instance().CloseIdle();
        ports.clear();
        const std::string url = (c.tls ? secure : plain).Url("/k");
        // Each request starts from the handler of the one before, as a session's do.
        int left = 5;
        TRecorder chain;
        TWebResponseEvent onNote = [&](std::int32_t id, WebStatus status, const std::string& text, std::int32_t value) {
            chain.notes.push_back({id, status, text, value});
            if (status != wsDone || --left == 0) return;
            if (c.stack == TStack::Get)
                WebGet(url, "", onNote, &chain, OptionsFor(c.stack));
            else
                WebPostXml(url, "<q/>", onNote, &chain, OptionsFor(c.stack));
        };
        if (c.stack == TStack::Get)
            WebGet(url, "", onNote, &chain, OptionsFor(c.stack));
        else
            WebPostXml(url, "<q/>", onNote, &chain, OptionsFor(c.stack));
        ASSERT_TRUE(WaitUntil([&] { return left == 0; })) << c.name;
        ASSERT_TRUE(WaitIdle());
        EXPECT_EQ(Last(chain), "Done '<ok/>' 5") << c.name;
        std::lock_guard lock(mutex);
        EXPECT_EQ(ports.size(), 1u) << c.name;
    }
}

TEST_F(KeptConnections, ARequestAfterTheServerClosedItsConnectionSucceeds) {
    // Every connection answers one request and is then closed by the server, as a server does
    // whose keep-alive time ran out.
    std::atomic<int> requests{0};
    auto answerOnce = [&](THostileConnection& c) {
        std::string head = c.ReadHead();
        if (head.empty()) return;
        ++requests;
        Answer(c, head, "<ok/>");
    };
    const auto& certs = TTestCerts::Get();
    THostileServer plain(answerOnce), secure(answerOnce, certs.CertFile, certs.KeyFile);
    for (const auto& c : StackCases) {
        auto& server = c.tls ? secure : plain;
        const int before = server.Connections();
        requests = 0;
        for (int i = 0; i < 2; ++i) {
            TRecorder r;
            Send(c.stack, server.Url("/x"), r);
            ASSERT_TRUE(WaitEnded(r)) << c.name;
            EXPECT_EQ(Last(r), "Done '<ok/>' 5") << c.name << " request " << i;
            // The server's close has reached the client before the next request goes.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_EQ(requests, 2) << c.name;
        EXPECT_EQ(server.Connections() - before, 2) << c.name;
    }
}

TEST_F(KeptConnections, ARequestThatWentOutIsNeverSentAgain) {
    // The first request is answered and the connection kept; the second is read whole and the
    // connection then dropped without an answer, as a server that crashed while acting on it.
    std::atomic<int> requests{0};
    auto dropSecond = [&](THostileConnection& c) {
        for (int n = 0;; ++n) {
            std::string head = c.ReadHead();
            if (head.empty()) return;
            ++requests;
            if (n == 0 && head.rfind("POST /first", 0) == 0) {
                Answer(c, head, "<ok/>");
                continue;
            }
            auto at = head.find("Content-Length: ");
            if (at != std::string::npos) c.Read(std::stoul(head.substr(at + 16)));
            c.Reset();
            return;
        }
    };
    const auto& certs = TTestCerts::Get();
    THostileServer plain(dropSecond), secure(dropSecond, certs.CertFile, certs.KeyFile);
    for (const auto& c : StackCases) {
        if (c.stack == TStack::Get) continue; // a GET changes nothing, and libcurl may repeat it
        auto& server = c.tls ? secure : plain;
        TKeptConnections::Instance().CloseIdle();
        requests = 0;
        TRecorder first;
        Send(c.stack, server.Url("/first"), first);
        ASSERT_TRUE(WaitEnded(first)) << c.name;
        EXPECT_EQ(Last(first), "Done '<ok/>' 5") << c.name;
        TRecorder second;
        Send(c.stack, server.Url("/second"), second);
        ASSERT_TRUE(WaitEnded(second)) << c.name;
        EXPECT_EQ(second.notes.back().status, wsFailed) << c.name << ": " << second.Describe();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(requests, 2) << c.name;
    }
}

TEST_F(KeptConnections, IdleConnectionsCloseByThemselvesAndNeverHoldAServersStop) {
    TKeptConnections::Instance().SetIdleLimit(std::chrono::milliseconds(300));
    for (const auto& c : StackCases) {
        if (c.tls) continue;
        // The client's close is what ends the server's wait on a kept connection.
        std::atomic<bool> closedByClient{false};
        THostileServer server([&](THostileConnection& conn) {
            std::string head = conn.ReadHead();
            if (head.empty()) return;
            Answer(conn, head, "<ok/>");
            closedByClient = conn.ReadHead().empty() && !conn.Stopping();
        });
        TRecorder r;
        Send(c.stack, server.Url("/x"), r);
        ASSERT_TRUE(WaitEnded(r)) << c.name;
        EXPECT_EQ(Last(r), "Done '<ok/>' 5") << c.name;
        EXPECT_TRUE(WaitUntil([&] { return closedByClient.load(); }, std::chrono::seconds(5))) << c.name;
        EXPECT_EQ(TKeptConnections::Instance().IdleCount(), 0) << c.name;
    }
    // A server of the library waits for its kept connections when it stops; with the default
    // idle limit its stop still ends well before its own keep-alive time-out (5 s).
    TKeptConnections::Instance().SetIdleLimit(DefaultConnectionIdleLimit);
    TLoopbackServer server;
    server.Http().Post("/k", [](const auto&, auto& res) { res.set_content("<ok/>", "text/xml"); });
    server.Start();
    TRecorder r;
    Send(TStack::Post, server.Url("/k"), r);
    ASSERT_TRUE(WaitEnded(r));
    EXPECT_EQ(TKeptConnections::Instance().IdleCount(), 1);
    auto start = std::chrono::steady_clock::now();
    server.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}
