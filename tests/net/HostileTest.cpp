// Servers that try to make the transport spend the machine, hang, crash or carry the password
// elsewhere.

#include "net/Web.h"

#include "EventLoop.h"
#include "HostileServer.h"
#include "NetFixtures.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <functional>

using namespace dm;
using namespace dmtest;

namespace {

// What a request may cost in memory at most: the answer limit and the program around it. Under
// AddressSanitizer freed memory is held back on purpose, and the bound says nothing.
constexpr long PeakBoundKilobytes = (DefaultMaxAnswerSize >> 10) + 200 * 1024;
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DM_SANITIZED 1
#endif
#endif
#ifdef DM_SANITIZED
constexpr bool MemoryBoundHolds = false;
#else
constexpr bool MemoryBoundHolds = true;
#endif

void ChunkedForever(THostileConnection& c) {
    if (c.ReadHead().empty()) return;
    c.Write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked\r\n\r\n");
    const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
    while (c.Write(chunk)) {
    }
}

void OneGigabyte(THostileConnection& c) {
    if (c.ReadHead().empty()) return;
    c.Write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 1073741824\r\n\r\n");
    const std::string block(0x10000, 'g');
    for (int i = 0; i < (1 << 14) && c.Write(block); ++i) {
    }
}

void MillionHeaderLines(THostileConnection& c) {
    if (c.ReadHead().empty()) return;
    std::string lines;
    for (int i = 0; i < 1000; ++i) lines += "X-Filler: 0123456789abcdef\r\n";
    if (!c.Write("HTTP/1.1 200 OK\r\n")) return;
    for (int i = 0; i < 1000; ++i)
        if (!c.Write(lines)) return;
    c.Write("Content-Length: 2\r\n\r\nok");
}

void ByteEveryHalfSecond(THostileConnection& c) {
    if (c.ReadHead().empty()) return;
    c.Write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 1000\r\n\r\n");
    for (int i = 0; i < 1000 && !c.Stopping(); ++i) {
        if (!c.Write("t")) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}

void ResetAfterHead(THostileConnection& c) {
    c.ReadHead(); // the body is still on its way
    c.Reset();
}

void ResetMidAnswer(THostileConnection& c) {
    if (c.ReadHead().empty()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the small body has arrived
    c.Write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'a'));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    c.Reset();
}

struct TProbeRun {
    bool crashed = true;
    std::string last, reason;
    long peakKilobytes = -1;
};

TProbeRun Probe(const std::string& method, const std::string& url, size_t bodyBytes, const std::string& caFile,
                long deadlineMs) {
    QProcess p;
    QStringList args{QString::fromStdString(method), QString::fromStdString(url), QString::number(bodyBytes),
                     QString::fromStdString(caFile), QString::number(deadlineMs)};
    p.start(QStringLiteral(DM_BIN_DIR "/net_limit_probe"), args);
    TProbeRun run;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.crashed = p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0;
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n')) {
        std::string l = line.toStdString();
        if (l.rfind("reason ", 0) == 0) run.reason = l.substr(7);
        else if (l.rfind("peak_kB ", 0) == 0) run.peakKilobytes = std::stol(l.substr(8));
        else if (run.last.empty()) run.last = l;
    }
    return run;
}

TEST(HostileServers, EveryRequestEndsWithinItsLimits) {
    const auto& certs = TTestCerts::Get();
    const std::string post = "'POST: Send request failed.' ", get = "'GET: Unable to connect to server.' ";
    struct {
        const char* name;
        THostileServer::TScript script;
        bool tls;
        const char* method;
        size_t bodyBytes;
        long deadlineMs; // 0: the default
        std::string last;
        const char* reason;
    } cases[] = {
        {"endless chunked answer", ChunkedForever, false, "post", 4, 0, "Failed " + post + "12152", "answer too large"},
        {"endless chunked answer, alternate client", ChunkedForever, false, "alt", 4, 0, "Failed '' 0", "answer too large"},
        {"1 GB answer", OneGigabyte, false, "post", 4, 0, "Failed " + post + "12152", "answer too large"},
        {"1 GB download", OneGigabyte, false, "get", 0, 0, "Failed " + get + "12152", "answer too large"},
        {"1 GB answer, alternate client", OneGigabyte, false, "alt", 4, 0, "Failed '' 0", "answer too large"},
        {"10^6 header lines", MillionHeaderLines, false, "post", 4, 0, "Failed " + post + "12152", "headers too large"},
        {"10^6 header lines, alternate client", MillionHeaderLines, false, "alt", 4, 0, "Failed '' 0",
         "headers too large"},
        {"a byte every half second", ByteEveryHalfSecond, false, "post", 4, 2000, "Failed " + post + "12002",
         "took longer than"},
        {"a byte every half second, download", ByteEveryHalfSecond, false, "get", 0, 2000, "Failed " + get + "12002",
         "took longer than"},
        {"a byte every half second, alternate client", ByteEveryHalfSecond, false, "alt", 4, 2000, "Failed '' 0",
         "took longer than"},
        {"HTTPS reset mid-request, alternate client", ResetAfterHead, true, "alt", 8 << 20, 0, "Failed '' 0",
         "connection"},
        {"HTTPS reset mid-answer, alternate client", ResetMidAnswer, true, "alt", 4, 0, "Failed '' 0", "connection"},
        {"HTTPS reset mid-answer", ResetMidAnswer, true, "post", 4, 0, "Failed " + post + "12031", "transfer failed"},
    };
    for (const auto& c : cases) {
        THostileServer server(c.script, c.tls ? certs.CertFile : std::string(), c.tls ? certs.KeyFile : std::string());
        TProbeRun run = Probe(c.method, server.Url("/x"), c.bodyBytes, certs.CaFile, c.deadlineMs);
        EXPECT_FALSE(run.crashed) << c.name;
        EXPECT_EQ(run.last, c.last) << c.name;
        EXPECT_NE(run.reason.find(c.reason), std::string::npos) << c.name << ": " << run.reason;
        EXPECT_GT(run.peakKilobytes, 0) << c.name;
        if (MemoryBoundHolds) EXPECT_LT(run.peakKilobytes, PeakBoundKilobytes) << c.name;
    }
}

// The target of every redirect below: whatever reaches it was carried there.
struct TRedirects {
    TLoopbackServer origin, secureOrigin{TTestCerts::Get().CertFile, TTestCerts::Get().KeyFile}, target;
    std::atomic<int> targetHits{0};

    TRedirects() {
        auto redirect = [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            res.set_header("Location", req.get_param_value("to"));
            res.set_content("moved", "text/plain");
        };
        for (auto* s : {&origin, &secureOrigin}) {
            s->Http().Post(R"(/(\d+))", redirect);
            s->Http().Get(R"(/(\d+))", redirect);
        }
        origin.Http().Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
        auto hit = [this](const httplib::Request&, httplib::Response& res) {
            ++targetHits;
            res.set_content("arrived", "text/plain");
        };
        target.Http().Post("/x", hit);
        target.Http().Get("/x", hit);
        origin.Start();
        secureOrigin.Start();
        target.Start();
    }
    // The target under another name of the same machine: another host as far as a URL goes.
    std::string OtherHost() const { return "http://localhost:" + std::to_string(target.Port()) + "/x"; }
};

TEST(HostileServers, RedirectsNeverCarryARequestElsewhere) {
    TRedirects r;
    const std::string sameHost = r.target.Url("/x");
    TWebOptions testCa;
    testCa.CaFile = TTestCerts::Get().CaFile;
    TWebOptions alternate = testCa, userStarted = testCa;
    alternate.AlternateConnection = true;
    userStarted.UserStarted = true;
    const std::string refusedPost = "Failed 'POST: Send request failed.' 12156",
                      refusedGet = "Failed 'GET: Unable to connect to server.' 12156";
    struct {
        std::string name;
        const char* method;
        std::string url;
        TWebOptions options;
        std::string last;
        int hits;
    } cases[] = {
        {"POST 301", "POST", r.origin.Url("/301?to=" + r.OtherHost()), testCa, refusedPost, 0},
        {"POST 302", "POST", r.origin.Url("/302?to=" + r.OtherHost()), testCa, refusedPost, 0},
        {"POST 303", "POST", r.origin.Url("/303?to=" + r.OtherHost()), testCa, refusedPost, 0},
        {"POST 307", "POST", r.origin.Url("/307?to=" + r.OtherHost()), testCa, refusedPost, 0},
        {"POST 308", "POST", r.origin.Url("/308?to=" + r.OtherHost()), testCa, refusedPost, 0},
        {"POST 307 to the same host", "POST", r.origin.Url("/307?to=" + sameHost), testCa, refusedPost, 0},
        {"POST 308, https to http", "POST", r.secureOrigin.Url("/308?to=" + sameHost), testCa, refusedPost, 0},
        {"POST 307, alternate client", "POST", r.origin.Url("/307?to=" + r.OtherHost()), alternate, "Failed 0", 0},
        {"GET 302 to another host", "GET", r.origin.Url("/302?to=" + r.OtherHost()), testCa, refusedGet, 0},
        {"GET 301, https to http", "GET", r.secureOrigin.Url("/301?to=" + sameHost), testCa, refusedGet, 0},
        {"GET 302 on the same host", "GET", r.origin.Url("/302?to=" + sameHost), testCa, "Done 'arrived' 7", 1},
        {"GET 307 to another host the user chose", "GET", r.origin.Url("/307?to=" + r.OtherHost()), userStarted,
         "Done 'arrived' 7", 1},
        {"GET redirected round in circles", "GET", r.origin.Url("/loop"), testCa, refusedGet, 0},
    };
    for (const auto& c : cases) {
        r.targetHits = 0;
        TRecorder rec;
        if (std::string(c.method) == "GET")
            WebGet(c.url, "", rec.Handler(), &rec, c.options);
        else
            WebPostXml(c.url, "<authenticate><strPassword>secret</strPassword></authenticate>", rec.Handler(), &rec,
                       c.options);
        ASSERT_TRUE(WaitEnded(rec)) << c.name;
        EXPECT_EQ(Describe({rec.notes.back()}), c.last) << c.name;
        EXPECT_EQ(r.targetHits.load(), c.hits) << c.name;
    }
}

TEST(HostileServers, RefusedRedirectSaysWhy) {
    TRedirects r;
    std::string reason;
    WebGet(r.origin.Url("/302?to=" + r.OtherHost()), "",
           [&](std::int32_t, WebStatus status, const std::string&, std::int32_t) {
               if (status == wsFailed) reason = WebFailureReason();
           },
           nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !reason.empty(); }));
    EXPECT_EQ(reason, "redirect from 127.0.0.1 to " + r.OtherHost() + " refused: another host");
    EXPECT_TRUE(WebFailureReason().empty()); // outside a failure there is none
    ASSERT_TRUE(WaitIdle());
}

void Answer(THostileConnection& c) {
    if (!c.ReadHead().empty()) c.Write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
}

// The user reads "Unable to communicate"; the log says what really happened.
TEST(HostileServers, FailureCausesOnBothStacks) {
    const auto& certs = TTestCerts::Get();
    THostileServer untrusted(Answer, certs.UntrustedCertFile, certs.UntrustedKeyFile);
    THostileServer oldTls(Answer, certs.CertFile, certs.KeyFile, TLS1_1_VERSION);
    const std::string closed = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x";
    TWebOptions testCa;
    testCa.CaFile = certs.CaFile;
    TWebOptions alternate = testCa;
    alternate.AlternateConnection = true;
    struct {
        const char* name;
        const char* method;
        std::string url;
        TWebOptions options;
        const char* cause;
    } cases[] = {
        {"nothing listens", "POST", closed, testCa, "connection refused"},
        {"nothing listens, download", "GET", closed, testCa, "connection refused"},
        {"nothing listens, alternate client", "POST", closed, alternate, "connection refused"},
        {"no such host", "POST", "http://no-such-host.invalid/x", testCa, "host name not found (DNS)"},
        {"no such host, alternate client", "POST", "http://no-such-host.invalid/x", alternate, "name not found (DNS)"},
        {"untrusted certificate", "POST", untrusted.Url("/x"), testCa, "certificate not trusted: SSL certificate problem"},
        {"untrusted certificate, alternate client", "POST", untrusted.Url("/x"), alternate,
         "certificate not trusted: 127.0.0.1:"},
        {"TLS 1.1 only, alternate client", "POST", oldTls.Url("/x"), alternate, "TLS handshake failed"},
    };
    for (const auto& c : cases) {
        std::string cause;
        bool ended = false;
        auto handler = [&](std::int32_t, WebStatus status, const std::string&, std::int32_t) {
            if (status == wsFailed) cause = WebFailureReason();
            ended = ended || status == wsFailed || status == wsDone;
        };
        if (std::string(c.method) == "GET")
            WebGet(c.url, "", handler, nullptr, c.options);
        else
            WebPostXml(c.url, "<q/>", handler, nullptr, c.options);
        ASSERT_TRUE(WaitUntil([&] { return ended; })) << c.name;
        EXPECT_NE(cause.find(c.cause), std::string::npos) << c.name << ": " << cause;
        ASSERT_TRUE(WaitIdle());
    }
}

} // namespace
