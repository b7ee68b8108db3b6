#include "net/Web.h"

#include "EventLoop.h"
#include "NetFixtures.h"
#include "TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>

using namespace dm;
using namespace dmtest;

namespace {

constexpr size_t SlowChunks = 100;

TWebOptions Alternate() {
    TWebOptions o;
    o.AlternateConnection = true;
    return o;
}

// What the server saw of the last request to a recording route.
struct TSeen {
    std::string method, version, target, body;
    httplib::Headers headers;
};

class WebTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = server.Http();
        s.Post("/ok", [](const auto&, auto& res) { res.set_content("<ok/>", "text/xml"); });
        s.Post("/err", [](const auto&, auto& res) {
            res.status = 500;
            res.set_content("boom", "text/plain");
        });
        s.Get("/page", [](const auto&, auto& res) { res.set_content("page body", "text/html"); });
        auto record = [this](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard lock(seenMutex);
                seen = {req.method, req.version, req.target, req.body, req.headers};
            }
            res.set_content(std::string(30000, 'r'), "application/octet-stream");
        };
        s.Post("/record", record);
        s.Get("/record", record);
        auto stall = [this](const auto&, auto& res) {
            gate.Wait();
            res.set_content("late", "text/plain");
        };
        s.Post("/stall", stall);
        s.Get("/stall", stall);
        // Announces 20000 bytes and hangs up after 10000.
        s.Get("/cut", [](const auto&, auto& res) {
            res.set_content_provider(20000, "text/plain", [](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset > 0) return false;
                std::string half(10000, 'c');
                sink.write(half.data(), half.size());
                return true;
            });
        });
        // A long answer in slow chunks, for owners that go away while it streams.
        s.Get("/slow", [this](const auto&, auto& res) {
            res.set_chunked_content_provider("text/plain", [this](size_t offset, httplib::DataSink& sink) {
                if (offset >= SlowChunks * 10240) {
                    sink.done();
                    return true;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                std::string chunk(10240, 's');
                sink.write(chunk.data(), chunk.size());
                slowChunks++;
                return true;
            });
        });
        server.Start();
    }

    void TearDown() override {
        gate.Release();
        EXPECT_TRUE(WaitIdle());
    }

    TSeen Seen() {
        std::lock_guard lock(seenMutex);
        return seen;
    }

    TLoopbackServer server;
    TGate gate;
    std::mutex seenMutex;
    TSeen seen;
    std::atomic<int> slowChunks{0};
};

TEST(WebForm, EncodeAndBodyTables) {
    struct {
        std::string in, out;
    } encode[] = {
        {"a b&c", "a+b%26c"},
        {"\xE9", "%E9"},
        {"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_.!~*'()",
         "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_.!~*'()"},
        {"=+%/?\r\n", "%3D%2B%25%2F%3F%0D%0A"},
        {std::string("\0\xFF", 2), "%00%FF"},
        {"", ""},
    };
    for (const auto& c : encode) EXPECT_EQ(FormEncode(c.in), c.out) << c.in;

    struct {
        std::vector<std::string> fields;
        std::string body;
    } bodies[] = {
        {{"un=a b", "pw=x&y"}, "un=a+b&pw=x%26y"},
        {{"a b"}, "a+b"},                      // no "=": the whole line encoded, no name
        {{"x y=1=2"}, "x y=1%3D2"},            // the name is never encoded; later "=" belong to the value
        {{"e=", "=v"}, "e=&=v"},
        {{}, ""},
    };
    for (const auto& b : bodies) EXPECT_EQ(FormBody(b.fields), b.body) << b.body;
}

TEST(WebUrl, SplitTable) {
    struct {
        const char* url;
        bool secure;
        const char* host;
        const char* port;
        const char* path;
    } cases[] = {
        {"https://h/p", true, "h", "443", "/p"},
        {"http://h:8080/x/y.php", false, "h", "8080", "/x/y.php"},
        {"http://h", false, "h", "80", "/"},              // no "/" after the host
        {"https://h:8443", true, "h", "8443", "/"},
        {"http://h/a?b=c/d", false, "h", "80", "/a?b=c/d"},
        {"ftp://h/x", false, "", "80", "/x"},             // not https: seven characters go, whatever they are
    };
    for (const auto& c : cases) {
        auto p = SplitUrl(c.url);
        EXPECT_EQ(p.Secure, c.secure) << c.url;
        EXPECT_EQ(p.Host, c.host) << c.url;
        EXPECT_EQ(p.Port, c.port) << c.url;
        EXPECT_EQ(p.Path, c.path) << c.url;
    }
}

TEST(WebOptions, ReceiveTimeouts) {
    TWebOptions o;
    EXPECT_EQ(ReceiveTimeoutOf(o).count(), 180000);
    o.TestMode = true;
    EXPECT_EQ(ReceiveTimeoutOf(o).count(), 600000);
    o.ReceiveTimeout = std::chrono::milliseconds(1500);
    EXPECT_EQ(ReceiveTimeoutOf(o).count(), 1500);
}

TEST_F(WebTest, NotificationSequences) {
    TempDir dir;
    const std::string file = dir.Folder() + "page.html";
    struct {
        const char* name;
        std::function<std::int32_t(TRecorder&)> start;
        std::string expected;
    } cases[] = {
        {"POST answered 200",
         [&](TRecorder& r) { return WebPostXml(server.Url("/ok"), "<q/>", r.Handler(), &r); },
         "StatusCode 200|StatusText 'OK' 0|ContentType 'text/xml' 0|ContentLength 5|Progress 5|Progress 5|Done '<ok/>' 5"},
        {"POST answered 500 with a body",
         [&](TRecorder& r) { return WebPostXml(server.Url("/err"), "<q/>", r.Handler(), &r); },
         "StatusCode 500|StatusText 'Internal Server Error' 0|ContentType 'text/plain' 0|ContentLength 4|Progress 4|"
         "Progress 4|Done 'boom' 4"},
        {"GET into memory", [&](TRecorder& r) { return WebGet(server.Url("/page"), "", r.Handler(), &r); },
         "ContentLength 9|Progress 9|Progress 9|Done 'page body' 9"},
        {"GET into a file", [&](TRecorder& r) { return WebGet(server.Url("/page"), file, r.Handler(), &r); },
         "ContentLength 9|Progress 9|Progress 9|Done '" + file + "' 9"},
        {"alternate client, 200",
         [&](TRecorder& r) { return WebPostXml(server.Url("/ok"), "<q/>", r.Handler(), &r, Alternate()); },
         "StatusCode 200|Done '<ok/>' 5"},
        {"alternate client, 500",
         [&](TRecorder& r) { return WebPostXml(server.Url("/err"), "<q/>", r.Handler(), &r, Alternate()); },
         "Failed 0"},
    };
    for (const auto& c : cases) {
        TRecorder r;
        std::int32_t id = c.start(r);
        ASSERT_TRUE(WaitEnded(r)) << c.name;
        EXPECT_EQ(r.Describe(), c.expected) << c.name;
        for (const auto& n : r.notes) EXPECT_EQ(n.id, id) << c.name;
    }
    EXPECT_EQ(ReadFileBytes(file), "page body");
}

TEST_F(WebTest, FailureTexts) {
    TempDir dir;
    const std::string closed = "http://127.0.0.1:" + std::to_string(ClosedPort());
    const std::string missing = dir.Folder() + "no/such/folder/f.bin";
    struct {
        const char* name;
        std::function<void(TRecorder&)> start;
        std::string expected;
    } cases[] = {
        {"POST, nothing listens",
         [&](TRecorder& r) { WebPostXml(closed + "/x", "<q/>", r.Handler(), &r); },
         "Failed 'POST: Send request failed.' 12029"},
        {"POST, port not a number",
         [&](TRecorder& r) { WebPostXml("http://127.0.0.1:8o/x", "<q/>", r.Handler(), &r); },
         "Failed 'POST: Unable to connect to server.' 12005"},
        {"POST, no host", [&](TRecorder& r) { WebPostXml("http:///x", "<q/>", r.Handler(), &r); },
         "Failed 'POST: Unable to connect to server.' 12005"},
        {"POST, a host that cannot be written in a URL",
         [&](TRecorder& r) { WebPostXml("http://bad host/x", "<q/>", r.Handler(), &r); },
         "Failed 'POST: Unable to formulate URL.' 12005"},
        {"GET, nothing listens", [&](TRecorder& r) { WebGet(closed + "/x", "", r.Handler(), &r); },
         "Failed 'GET: Unable to connect to server.' 12029"},
        {"GET into a file that cannot be made",
         [&](TRecorder& r) { WebGet(server.Url("/page"), missing, r.Handler(), &r); },
         "ContentLength 9|Failed 'Cannot create file \"" + missing + "\". No such file or directory' 2"},
        {"alternate client, nothing listens",
         [&](TRecorder& r) { WebPostXml(closed + "/x", "<q/>", r.Handler(), &r, Alternate()); }, "Failed 0"},
    };
    for (const auto& c : cases) {
        TRecorder r;
        c.start(r);
        ASSERT_TRUE(WaitEnded(r)) << c.name;
        EXPECT_EQ(r.Describe(), c.expected) << c.name;
    }
}

TEST_F(WebTest, ConnectionCutMidBodyIsAFailureNotDone) {
    TempDir dir;
    TRecorder r;
    WebGet(server.Url("/cut"), dir.Folder() + "cut.bin", r.Handler(), &r);
    ASSERT_TRUE(WaitEnded(r));
    ASSERT_GE(r.notes.size(), 2u);
    EXPECT_EQ(r.notes.front().status, wsContentLength);
    EXPECT_EQ(r.notes.front().value, 20000);
    EXPECT_EQ(Describe({r.notes.back()}), "Failed 'GET: Unable to connect to server.' 12030");
}

TEST_F(WebTest, RequestOnTheWireAndChunkedProgress) {
    std::string big(1 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    TRecorder r;
    WebPost(server.Url("/record"), std::nullopt, "application/octet-stream", big, r.Handler(), &r);
    ASSERT_TRUE(WaitEnded(r));
    TSeen s = Seen();
    EXPECT_EQ(s.version, "HTTP/1.1");
    EXPECT_EQ(s.body, big);
    EXPECT_EQ(s.headers.find("User-Agent")->second, PostAgent);
    EXPECT_EQ(s.headers.find("Content-Type")->second, "application/octet-stream");
    EXPECT_EQ(s.headers.count("Expect"), 0u);
    EXPECT_EQ(s.headers.count("Accept"), 0u);

    // The 30000-byte answer comes in reads of at most 10240 bytes, each reported with the running
    // total; the last read finds nothing and repeats the total.
    std::vector<std::int32_t> progress;
    for (const auto& n : r.notes)
        if (n.status == wsProgress) progress.push_back(n.value);
    ASSERT_GE(progress.size(), 4u);
    for (size_t i = 1; i + 1 < progress.size(); ++i) {
        EXPECT_GT(progress[i], progress[i - 1]);
        EXPECT_LE(progress[i] - progress[i - 1], 10240);
    }
    EXPECT_LE(progress.front(), 10240);
    EXPECT_EQ(progress[progress.size() - 2], 30000);
    EXPECT_EQ(progress.back(), 30000);
    EXPECT_EQ(r.notes.back().status, wsDone);
    EXPECT_EQ(r.notes.back().text, std::string(30000, 'r'));

    TRecorder g;
    WebGet(server.Url("/record?a=1"), "", g.Handler(), &g);
    ASSERT_TRUE(WaitEnded(g));
    s = Seen();
    EXPECT_EQ(s.method, "GET");
    EXPECT_EQ(s.target, "/record?a=1");
    EXPECT_EQ(s.headers.find("User-Agent")->second, GetAgent);
    EXPECT_EQ(s.headers.count("Accept"), 0u);
}

TEST_F(WebTest, FormFieldsAndBodyChoice) {
    const std::vector<std::string> fields{"un=a b", "pw=x&y"};
    struct {
        const char* name;
        bool alternate;
        std::optional<std::vector<std::string>> fields;
        const char* contentType;
        std::string body;
    } cases[] = {
        {"form: body from the fields", false, fields, FormContentType, "un=a+b&pw=x%26y"},
        {"form without fields: empty", false, std::nullopt, FormContentType, ""},
        {"entity: fields ignored", false, fields, "text/xml", "<x/>"},
        {"alternate, form", true, fields, FormContentType, "un=a+b&pw=x%26y"},
        {"alternate, fields win over the entity", true, fields, "text/xml", "un=a+b&pw=x%26y"},
        {"alternate, entity", true, std::nullopt, "text/xml", "<x/>"},
    };
    for (const auto& c : cases) {
        TRecorder r;
        TWebOptions o;
        o.AlternateConnection = c.alternate;
        WebPost(server.Url("/record"), c.fields, c.contentType, "<x/>", r.Handler(), &r, o);
        ASSERT_TRUE(WaitEnded(r)) << c.name;
        TSeen s = Seen();
        EXPECT_EQ(s.body, c.body) << c.name;
        EXPECT_EQ(s.headers.find("Content-Type")->second, c.contentType) << c.name;
        EXPECT_EQ(s.headers.find("User-Agent")->second, PostAgent) << c.name;
    }
}

TEST_F(WebTest, IdsCountUpAndHandlersMayStartRequests) {
    TRecorder first, second;
    std::int32_t chained = 0;
    std::int32_t a = WebGet(server.Url("/page"), "", first.Handler(), &first);
    std::int32_t b = WebPostXml(
        server.Url("/ok"), "<q/>",
        [&](std::int32_t, WebStatus status, const std::string&, std::int32_t) {
            if (status == wsDone) chained = WebGet(server.Url("/page"), "", second.Handler(), &second);
        },
        nullptr);
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(LastRequestId(), b);
    ASSERT_TRUE(WaitUntil([&] { return first.Ended() && second.Ended(); }));
    EXPECT_EQ(chained, b + 1);
    EXPECT_EQ(second.notes.back().text, "page body");
    EXPECT_EQ(first.notes.back().text, "page body");
}

TEST(WebTls, TrustAndRefusalOnBothStacks) {
    const auto& certs = TTestCerts::Get();
    TLoopbackServer trusted(certs.CertFile, certs.KeyFile);
    TLoopbackServer untrusted(certs.UntrustedCertFile, certs.UntrustedKeyFile);
    for (auto* s : {&trusted, &untrusted}) {
        s->Http().Post("/s", [](const auto&, auto& res) { res.set_content("secure", "text/plain"); });
        s->Http().Get("/s", [](const auto&, auto& res) { res.set_content("secure", "text/plain"); });
        s->Start();
    }
    TWebOptions testCa;
    testCa.CaFile = certs.CaFile;
    TWebOptions testCaAlt = testCa;
    testCaAlt.AlternateConnection = true;
    TWebOptions systemStore, systemStoreAlt = Alternate();
    struct {
        const char* name;
        TLoopbackServer* server;
        const char* method;
        TWebOptions options;
        const char* last;
    } cases[] = {
        {"POST, test authority", &trusted, "POST", testCa, "Done 'secure' 6"},
        {"POST, unknown issuer", &untrusted, "POST", testCa, "Failed 'POST: Send request failed.' 12045"},
        {"POST, system store", &trusted, "POST", systemStore, "Failed 'POST: Send request failed.' 12045"},
        {"GET, test authority", &trusted, "GET", testCa, "Done 'secure' 6"},
        {"GET, unknown issuer", &untrusted, "GET", testCa, "Failed 'GET: Unable to connect to server.' 12045"},
        {"alternate, test authority", &trusted, "POST", testCaAlt, "Done 'secure' 6"},
        {"alternate, unknown issuer", &untrusted, "POST", testCaAlt, "Failed 0"},
        {"alternate, system store", &trusted, "POST", systemStoreAlt, "Failed 0"},
    };
    for (const auto& c : cases) {
        TRecorder r;
        if (std::string(c.method) == "GET")
            WebGet(c.server->Url("/s"), "", r.Handler(), &r, c.options);
        else
            WebPostXml(c.server->Url("/s"), "<q/>", r.Handler(), &r, c.options);
        ASSERT_TRUE(WaitEnded(r)) << c.name;
        EXPECT_EQ(Describe({r.notes.back()}), c.last) << c.name;
    }
}

// Sets environment variables for one test and puts the old values back.
class TEnvironment {
public:
    void Set(const char* name, const char* value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~TEnvironment() {
        for (auto& [name, value] : saved_)
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(WebProxy, DefaultProxyOnlyWhenChosen) {
    TLoopbackServer target, proxy;
    target.Http().Post("/where", [](const auto&, auto& res) { res.set_content("direct", "text/plain"); });
    target.Http().Get("/where", [](const auto&, auto& res) { res.set_content("direct", "text/plain"); });
    // A proxy receives the whole URL as the request target; this one answers by itself.
    auto viaProxy = [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("proxy " + req.target, "text/plain");
    };
    proxy.Http().Post(".*", viaProxy);
    proxy.Http().Get(".*", viaProxy);
    target.Start();
    proxy.Start();

    TEnvironment env;
    env.Set("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.Port())).c_str());
    for (const char* name : {"no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY"}) env.Set(name, nullptr);

    const std::string url = target.Url("/where");
    struct {
        const char* name;
        const char* method;
        bool useDefaultProxy;
        bool alternate;
        std::string answer;
    } cases[] = {
        {"POST, default proxy on", "POST", true, false, "proxy " + url},
        {"POST, default proxy off", "POST", false, false, "direct"},
        {"GET ignores the option", "GET", false, false, "proxy " + url},
        {"alternate client goes direct", "POST", true, true, "direct"},
    };
    for (const auto& c : cases) {
        TWebOptions o;
        o.UseDefaultProxy = c.useDefaultProxy;
        o.AlternateConnection = c.alternate;
        TRecorder r;
        if (std::string(c.method) == "GET")
            WebGet(url, "", r.Handler(), &r, o);
        else
            WebPostXml(url, "<q/>", r.Handler(), &r, o);
        ASSERT_TRUE(WaitEnded(r)) << c.name;
        EXPECT_EQ(r.notes.back().status, wsDone) << c.name;
        EXPECT_EQ(r.notes.back().text, c.answer) << c.name;
    }
}

TEST_F(WebTest, ReceiveTimeoutOnEveryPath) {
    TWebOptions o;
    o.ReceiveTimeout = std::chrono::seconds(1);
    TWebOptions alt = o;
    alt.AlternateConnection = true;
    TRecorder post, get, alternate;
    WebPostXml(server.Url("/stall"), "<q/>", post.Handler(), &post, o);
    WebGet(server.Url("/stall"), "", get.Handler(), &get, o);
    WebPostXml(server.Url("/stall"), "<q/>", alternate.Handler(), &alternate, alt);
    // The server holds its answers for 30 s; only the time-out ends these requests sooner.
    ASSERT_TRUE(WaitUntil([&] { return post.Ended() && get.Ended() && alternate.Ended(); },
                          std::chrono::seconds(15)));
    EXPECT_EQ(post.Describe(), "Failed 'POST: Send request failed.' 12002");
    EXPECT_EQ(get.Describe(), "Failed 'GET: Unable to connect to server.' 12002");
    EXPECT_EQ(alternate.Describe(), "Failed 0");
}

TEST_F(WebTest, OwnerDestroyedMidRequestHearsNothingMore) {
    // A QObject owner and a plain one, each destroyed by its own handler at the first chunk.
    {
        int calls = 0;
        auto* owner = new QObject;
        WebGet(
            server.Url("/slow"), "",
            [&](std::int32_t, WebStatus status, const std::string&, std::int32_t) {
                ++calls;
                if (status == wsProgress) delete owner;
            },
            owner);
        ASSERT_TRUE(WaitUntil([&] { return calls >= 2; }));
        ASSERT_TRUE(WaitIdle());
        EXPECT_EQ(calls, 2); // the content length, then the first chunk
    }
    {
        int calls = 0;
        auto owner = std::make_unique<TWebOwner>();
        WebGet(
            server.Url("/slow"), "",
            [&](std::int32_t, WebStatus status, const std::string&, std::int32_t) {
                ++calls;
                if (status == wsProgress) owner.reset();
            },
            owner.get());
        ASSERT_TRUE(WaitUntil([&] { return calls >= 2; }));
        ASSERT_TRUE(WaitIdle());
        EXPECT_EQ(calls, 2);
    }
    // The transfer was given up rather than read to its end.
    EXPECT_LT(slowChunks.load(), 2 * SlowChunks);

    // Destroyed from outside while the server has not answered yet.
    int calls = 0;
    auto* owner = new QObject;
    WebPostXml(
        server.Url("/stall"), "<q/>", [&](std::int32_t, WebStatus, const std::string&, std::int32_t) { ++calls; },
        owner);
    ASSERT_TRUE(WaitUntil([&] { return gate.Waiting() == 1; }));
    delete owner;
    gate.Release();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(calls, 0);
}

TEST_F(WebTest, ExitWithTenRequestsInFlight) {
    // A program of its own: exit is once per process.
    QProcess probe;
    probe.start(QString::fromStdString(std::string(DM_BIN_DIR) + "/net_exit_probe"),
                {QString::fromStdString(server.Url("/stall")), QString::fromStdString(server.Url("/slow"))});
    ASSERT_TRUE(probe.waitForStarted());
    // Eight requests held by the server before it answers, two receiving a slow answer.
    ASSERT_TRUE(WaitUntil([&] { return gate.Waiting() == 8 && slowChunks >= 2; }));
    probe.write("quit\n");
    // The held requests would take 30 s; the probe must not wait for them.
    ASSERT_TRUE(probe.waitForFinished(10000));
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe.exitCode(), 0);
    std::string out = probe.readAllStandardOutput().toStdString();
    EXPECT_EQ(out, "ids 1 2 3 4 5 6 7 8 9 10\nafter exit: 0 notifications, 0 requests\n");
}

} // namespace
