// A sync session of 1,000 round trips (sendRequestXML / receiveResponseXML pairs) of the real
// engine against the local service in this process and the QuickBooks stand-in, beside a bare
// replay of the same HTTP exchanges with plain libcurl against the same service in the same run.
//
// The stand-in holds a company file of 998 customers, and the service asks for one customer per
// request; with the invoices and the company that makes 1,000 requests. Both sides start each
// session from the service's reset state, so they send and receive the same bytes.
//
// Times run from the authentication request to the end of the session; the half second the
// engine waits before it opens QuickBooks is the start timer's, shown as start_delay_ms.
// quickbooks_ms is the part of the engine's time spent inside the stand-in, which the replay
// does not do. EngineSessionNoLog is the same session with the activity log off. Printed last,
// with X = engine / replay (target: at most 2.5):
//   ratio session_1000_round_trips: X                    (everything in the session)
//   ratio session_1000_round_trips_without_quickbooks: X (the stand-in's time taken out)
//   ratio session_1000_round_trips_from_sync_button: X   (the start timer's wait put in)
//   ratio session_1000_kept_connection: X                (against a replay over one kept connection;
//                                                          target: at most 1.5)
//
// And the same engine over HTTPS through a proxy that gives the link a 20 ms round trip, in a
// session of about 200 round trips (five customers per request), against the physical floor of
// that link: two requests per round trip, one round trip each. Printed as
//   ratio session_https_20ms_vs_floor: X                  (target: at most 1.25)

#include "DelayProxy.h"
#include "EngineBench.h"
#include "TestCerts.h"

#include "TestService.h"
#include "TestSupport.h"
#include "qb/QuickBooksHome.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int RoundTrips = 1000;
constexpr int InvoicesPerRequest = 100; // the service's default

struct TWorld {
    dmtest::TempDir Dir;
    std::string QbHome;
    std::string Storage;
    std::unique_ptr<dm::TTestService> Service;
    std::string BaseUrl;
    std::unique_ptr<dmbench::TEngineRig> Rig;
    std::vector<dmbench::TExchange> Exchanges;
    // The HTTPS service behind the delaying proxy, with its own engine.
    std::unique_ptr<dm::TTestService> SecureService;
    std::unique_ptr<dmbench::TDelayProxy> Proxy;
    std::string SecureBaseUrl;
    std::string SecureStorage;
    std::unique_ptr<dmbench::TEngineRig> SecureRig;
    size_t SecureRoundTrips = 0;
};
TWorld* world = nullptr;

constexpr auto LinkRoundTrip = std::chrono::milliseconds(20);
constexpr int SecureCustomersPerRequest = 5;

// QuickBooks' user opens the demo company and enters customers until the session needs
// RoundTrips requests: one per customer, the invoices, the company.
void PrepareQuickBooks(const std::string& binDir) {
    world->QbHome = world->Dir.Folder() + "qb/";
    std::filesystem::create_directories(world->QbHome);
    if (QProcess::execute(QString::fromStdString(binDir + "/invara-qbsim"),
                          {"--home", QString::fromStdString(world->QbHome), "demo"}) != 0)
        throw std::runtime_error("invara-qbsim demo failed");
    // The same change the command line's "customer add" makes, once for all of them.
    dm::TCompanyFileStore store(dm::TQuickBooksHome(world->QbHome).CompanyFilePath("Demo Co"));
    store.Use([](dm::TCompanyFile& file) {
        int invoiceRequests = std::max(1, static_cast<int>(file.Invoices().size() + InvoicesPerRequest - 1) / InvoicesPerRequest);
        int wanted = RoundTrips - invoiceRequests - 1;
        std::int64_t now = std::time(nullptr);
        for (int i = static_cast<int>(file.Customers().size()); i < wanted; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Customer %04d", i);
            dm::TQbCustomer c;
            c.Name = name;
            c.CompanyName = std::string(name) + " & Co";
            c.FirstName = "Pat";
            c.LastName = "Doe " + std::to_string(i);
            c.Email = "billing" + std::to_string(i) + "@example.com";
            c.Phone = "555-01" + std::to_string(i % 100);
            c.BillAddress.Addr1 = std::to_string(i) + " Market Street";
            c.BillAddress.City = "Springfield";
            c.BillAddress.State = "IL";
            c.BillAddress.PostalCode = "62701";
            file.AddCustomer(c, now);
        }
        return true;
    });
}

nlohmann::json DemoAccount(int customersPerRequest) {
    return {{"user", "demo"},
            {"password", "demo"},
            {"name", "Demo Co"},
            {"id", "1001"},
            {"customers_per_request", customersPerRequest},
            {"invoices_per_request", InvoicesPerRequest},
            {"payment_notifications", false}};
}

void StartService() {
    world->Service = std::make_unique<dm::TTestService>(dm::ScenarioFromJson({{"accounts", {DemoAccount(1)}}}));
    int port = world->Service->Start("127.0.0.1", 0);
    if (port <= 0) throw std::runtime_error("the local service did not start");
    world->BaseUrl = "http://127.0.0.1:" + std::to_string(port) + "/";
}

// The service over HTTPS with a certificate of the test authority, which the engine's transport
// trusts, reached through the delaying proxy.
void StartSecureService() {
    const auto& certs = dmtest::TTestCerts::Get();
    world->SecureService =
        std::make_unique<dm::TTestService>(dm::ScenarioFromJson({{"accounts", {DemoAccount(SecureCustomersPerRequest)}}}));
    world->SecureService->UseTls(certs.CertFile, certs.KeyFile);
    int port = world->SecureService->Start("127.0.0.1", 0);
    if (port <= 0) throw std::runtime_error("the HTTPS service did not start");
    world->Proxy = std::make_unique<dmbench::TDelayProxy>(port, LinkRoundTrip);
    world->SecureBaseUrl = "https://127.0.0.1:" + std::to_string(world->Proxy->Port()) + "/";
    dm::TWebOptions web = dm::WebOptions();
    web.CaFile = certs.CaFile;
    dm::SetWebOptions(web);
}

void RunEngine(benchmark::State& state, bool noLogs) {
    double startDelay = 0, quickBooks = 0;
    world->Rig->Engine().Options.NoLogs = noLogs;
    try {
        for (auto _ : state) {
            dmbench::ResetService(world->BaseUrl);
            dmbench::RemoveRotatedLogs(world->Storage);
            dmbench::TSessionTimes t = world->Rig->RunSession();
            state.SetIterationTime(t.Session);
            startDelay += t.StartDelay;
            quickBooks += t.QuickBooks;
        }
    } catch (const std::exception& e) {
        world->Rig->Engine().Options.NoLogs = false;
        state.SkipWithError(e.what());
        return;
    }
    world->Rig->Engine().Options.NoLogs = false;
    double n = static_cast<double>(state.iterations());
    state.counters["start_delay_ms"] = startDelay / n * 1e3;
    state.counters["quickbooks_ms"] = quickBooks / n * 1e3;
    state.counters["round_trips"] = static_cast<double>(dmbench::CountOperation(world->Exchanges, "receiveResponseXML"));
}

void EngineSession(benchmark::State& state) { RunEngine(state, false); }

void EngineSessionHttps(benchmark::State& state) {
    const std::string& ca = dmtest::TTestCerts::Get().CaFile;
    double quickBooks = 0;
    int connections = world->Proxy->Connections();
    try {
        for (auto _ : state) {
            dmbench::ResetService(world->SecureBaseUrl, ca);
            dmbench::RemoveRotatedLogs(world->SecureStorage);
            connections = world->Proxy->Connections();
            dmbench::TSessionTimes t = world->SecureRig->RunSession();
            connections = world->Proxy->Connections() - connections;
            state.SetIterationTime(t.Session);
            quickBooks += t.QuickBooks;
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    state.counters["quickbooks_ms"] = quickBooks / double(state.iterations()) * 1e3;
    state.counters["round_trips"] = static_cast<double>(world->SecureRoundTrips);
    state.counters["connections"] = connections; // of the last session
}
void EngineSessionNoLog(benchmark::State& state) { RunEngine(state, true); }

void ReplaySession(benchmark::State& state, bool keepConnection) {
    try {
        for (auto _ : state) {
            dmbench::ResetService(world->BaseUrl);
            auto start = dmbench::Clock::now();
            dmbench::Replay(world->BaseUrl, world->Exchanges, nullptr, keepConnection);
            state.SetIterationTime(std::chrono::duration<double>(dmbench::Clock::now() - start).count());
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    state.counters["requests"] = static_cast<double>(world->Exchanges.size());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    TWorld w;
    world = &w;
    int savedStderr = -1;
    try {
        PrepareQuickBooks(QCoreApplication::applicationDirPath().toStdString());
        ::setenv("INVARA_QB_HOME", w.QbHome.c_str(), 1);
        w.Storage = w.Dir.Folder() + "store/";
        std::filesystem::create_directories(w.Storage);

        // The service writes a line per request on standard error; 2,000 per session would
        // bury the table.
        std::string serviceLog = w.Dir.Folder() + "service.log";
        std::fflush(stderr);
        savedStderr = ::dup(2);
        int logFd = ::open(serviceLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(logFd, 2);
        ::close(logFd);

        StartService();
        StartSecureService();
        w.Rig = std::make_unique<dmbench::TEngineRig>(w.BaseUrl, w.Storage, w.QbHome);
        w.SecureStorage = w.Dir.Folder() + "store-https/";
        std::filesystem::create_directories(w.SecureStorage);
        w.SecureRig = std::make_unique<dmbench::TEngineRig>(w.SecureBaseUrl, w.SecureStorage, w.QbHome);
        const std::string& ca = dmtest::TTestCerts::Get().CaFile;
        dmbench::ResetService(w.SecureBaseUrl, ca);
        w.SecureRig->RunSession();
        w.SecureRoundTrips = dmbench::CountOperation(dmbench::RecordSession(w.SecureBaseUrl, nullptr, ca), "receiveResponseXML");
        std::printf("recorded HTTPS session through a %lld ms link: %zu receiveResponseXML\n",
                    static_cast<long long>(LinkRoundTrip.count()), w.SecureRoundTrips);
        // One session to warm up and to record the exchanges that the replay sends.
        dmbench::ResetService(w.BaseUrl);
        w.Rig->RunSession();
        w.Exchanges = dmbench::RecordSession(w.BaseUrl);
        size_t sends = dmbench::CountOperation(w.Exchanges, "sendRequestXML");
        size_t receives = dmbench::CountOperation(w.Exchanges, "receiveResponseXML");
        std::printf("recorded session: %zu requests, %zu sendRequestXML, %zu receiveResponseXML\n",
                    w.Exchanges.size(), sends, receives);
        if (static_cast<int>(receives) != RoundTrips || sends != receives)
            throw std::runtime_error("the session did not make " + std::to_string(RoundTrips) + " round trips");
    } catch (const std::exception& e) {
        if (savedStderr >= 0) ::dup2(savedStderr, 2);
        std::fprintf(stderr, "set-up failed: %s\n", e.what());
        return 1;
    }

    auto ms = benchmark::kMillisecond;
    benchmark::RegisterBenchmark("EngineSession/1000", EngineSession)->Unit(ms)->UseManualTime()->Iterations(5);
    benchmark::RegisterBenchmark("ReplaySession/1000", ReplaySession, false)->Unit(ms)->UseManualTime()->Iterations(5);
    benchmark::RegisterBenchmark("ReplaySessionKeptConnection/1000", ReplaySession, true)
        ->Unit(ms)->UseManualTime()->Iterations(5);
    benchmark::RegisterBenchmark("EngineSessionHttps20ms/200", EngineSessionHttps)->Unit(ms)->UseManualTime()->Iterations(3);
    benchmark::RegisterBenchmark("EngineSessionNoLog/1000", EngineSessionNoLog)->Unit(ms)->UseManualTime()->Iterations(5);

    dmbench::TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double engine = reporter.Time("EngineSession/1000");
    double quickBooks = reporter.Counter("EngineSession/1000", "quickbooks_ms");
    double replay = reporter.Time("ReplaySession/1000");
    reporter.PrintRatio("session_1000_round_trips", engine, replay);
    reporter.PrintRatio("session_1000_round_trips_without_quickbooks", engine - quickBooks, replay);
    reporter.PrintRatio("session_1000_round_trips_from_sync_button",
                        engine + reporter.Counter("EngineSession/1000", "start_delay_ms"), replay);
    reporter.PrintRatio("session_1000_kept_connection", engine, reporter.Time("ReplaySessionKeptConnection/1000"));
    const double floor = double(w.SecureRoundTrips) * 2 * double(LinkRoundTrip.count());
    std::printf("HTTPS session through the %lld ms link: %.0f ms for %zu round trips, floor %.0f ms\n",
                static_cast<long long>(LinkRoundTrip.count()), reporter.Time("EngineSessionHttps20ms/200"),
                w.SecureRoundTrips, floor);
    reporter.PrintRatio("session_https_20ms_vs_floor", reporter.Time("EngineSessionHttps20ms/200"), floor);

    w.Rig.reset();
    w.SecureRig.reset();
    w.Proxy.reset();
    w.SecureService->Stop();
    w.Service->Stop();
    dm::WebShutdown();
    ::dup2(savedStderr, 2);
    curl_global_cleanup();
    benchmark::Shutdown();
    return 0;
}
