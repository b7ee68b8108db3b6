// The control panel's cost. In a fresh process each (offscreen): the agent with 50 billers,
// idle, then one control panel opened on the first biller and closed again; against a bare
// QWebEngineView (bench_gui_panel_bare, which alone links the browser) loading the same start
// page with the same kind of session in the same run.
// Printed last: "ratio login_to_start_page/bare_view: X" (the time from Login to the start page
// loaded and its markers handled, over the bare view's load time) and
// "ratio rss_after_panel/rss_before_panel: X", with the absolute figures and whether a browser
// engine was mapped before the first panel.

#include "engine/MainEngine.h"
#include "engine/Startup.h"
#include "engine/Sync.h"
#include "gui/main/Main.h"
#include "gui/main/SingleInstance.h"
#include "gui/main/WindowedStart.h"
#include "gui/panel/CPSignIn.h"
#include "gui/panel/ControlPanel.h"

#include "TestService.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int BillerCount = 50;

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

bool BrowserEngineMapped() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("WebEngine") != std::string::npos) return true;
    return false;
}

void Idle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

template <typename C>
bool Until(C condition, int ms) {
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// One agent: "rss_before rss_after login_ms mapped_before" on stdout.
int Child(const std::vector<std::string>& arguments) {
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    int argc = 1;
    char name[] = "bench_gui_panel";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    dm::TSingleInstance guard(QStringLiteral("bench-panel-%1").arg(getpid()));
    guard.Claim({});
    dm::TGuiPrompts prompts;
    dm::TAppState state = dm::RunStartup(dm::TStartupEnvironment::Current(arguments), prompts);
    dm::TWindowedProgram program(state);
    if (!program.Start()) return 1;
    const auto& billers = program.Engine->Billers();
    if (!Until([&] { return std::none_of(billers.begin(), billers.end(), [](const dm::TSync* f) { return f->Confirming; }); },
               30000))
        return 1;
    Idle(500);
    const long before = ResidentKb();
    const bool mappedBefore = BrowserEngineMapped();

    dm::TSync* first = billers.front();
    bool loaded = false;
    // The sign-in dialog is answered as soon as it is up.
    QTimer answer;
    answer.setInterval(1);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* d = qobject_cast<dm::TCPSignIn*>(QApplication::activeModalWidget())) {
            answer.stop();
            d->txtPassword->setText(QStringLiteral("demo"));
            d->btnLogin->click();
        }
    });
    answer.start();
    QElapsedTimer login;
    login.start();
    QObject::connect(program.Engine.get(), &QObject::destroyed, [] {});
    program.Window->OpenControlPanel(first);
    dm::TControlPanel* panel = program.Window->PanelOf(first);
    if (!panel) return 1;
    QObject::connect(panel, &dm::TControlPanel::pageProcessed, [&](const QUrl& url) {
        if (url.path().endsWith(QLatin1String("business/index.php"))) loaded = true;
    });
    if (!Until([&] { return loaded; }, 60000)) return 1;
    const double loginMs = double(login.nsecsElapsed()) / 1e6;
    program.Window->CloseControlPanel(first);
    Idle(1500);
    const long after = ResidentKb();
    std::printf("%ld %ld %.3f %d\n", before, after, loginMs, mappedBefore ? 1 : 0);
    std::fflush(stdout);
    std::_Exit(0);
}

struct TRun {
    long before = -1, after = -1;
    double loginMs = -1;
    bool mapped = false;
};

std::string self, bare, agentArguments, baseUrl;
int servicePort = 0;
std::vector<TRun> runs;
std::vector<double> bareMs;

std::string Environment() {
    std::string env = "QT_QPA_PLATFORM=offscreen QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu ";
    if (geteuid() == 0) env += "QTWEBENGINE_DISABLE_SANDBOX=1 ";
    return env;
}

void Agent(benchmark::State& state) {
    for (auto _ : state) {
        FILE* out = popen((Environment() + "'" + self + "' --child " + agentArguments + " 2>/dev/null").c_str(), "r");
        TRun r;
        int mapped = 0;
        const bool ok = out && std::fscanf(out, "%ld %ld %lf %d", &r.before, &r.after, &r.loginMs, &mapped) == 4;
        if (out) pclose(out);
        if (!ok) {
            state.SkipWithError("the agent did not report");
            return;
        }
        r.mapped = mapped != 0;
        state.SetIterationTime(r.loginMs / 1e3);
        runs.push_back(r);
    }
}

void Bare(benchmark::State& state) {
    for (auto _ : state) {
        // The same kind of session: a sign-in, then the start page with its id.
        httplib::Client client("127.0.0.1", servicePort);
        auto reply = client.Post("/business/dm_authenticate_2.php", "un=user1&pw=demo", "application/x-www-form-urlencoded");
        std::string sid;
        if (reply) {
            size_t at = reply->body.find("sid=");
            if (at != std::string::npos) sid = reply->body.substr(at + 4, reply->body.find('\r', at) - at - 4);
        }
        const std::string url = baseUrl + "business/dm_start.php?sid=" + sid;
        FILE* out = popen((Environment() + "'" + bare + "' '" + url + "' 2>/dev/null").c_str(), "r");
        double ms = -1;
        const bool ok = out && std::fscanf(out, "%lf", &ms) == 1;
        if (out) pclose(out);
        if (!ok || ms < 0) {
            state.SkipWithError("the bare view did not report");
            return;
        }
        state.SetIterationTime(ms / 1e3);
        bareMs.push_back(ms);
    }
}

template <typename T>
double Median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : double(v[v.size() / 2]);
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "--child") return Child(std::vector<std::string>(argv + 2, argv + argc));

    self = fs::canonical("/proc/self/exe").string();
    bare = (fs::path(self).parent_path() / "bench_gui_panel_bare").string();
    const fs::path work = fs::temp_directory_path() / ("dmbench-panel-" + std::to_string(getpid()));
    fs::create_directories(work / "store");
    fs::create_directories(work / "qb");
    setenv("INVARA_QB_HOME", (work / "qb").c_str(), 1);

    nlohmann::json accounts = nlohmann::json::array();
    std::string businesses;
    for (int i = 1; i <= BillerCount; ++i) {
        const std::string id = std::to_string(1000 + i), user = "user" + std::to_string(i);
        const std::string name = "Biller Number " + std::to_string(i);
        accounts.push_back({{"user", user}, {"password", "demo"}, {"name", name}, {"id", id}});
        businesses += "<business><name>" + name + "</name><id>" + id + "</id><username>" + user +
                      "</username><password>demo</password></business>";
    }
    std::ofstream(work / "store" / "invdesk.xml")
        << "<?xml version=\"1.0\"?><mvt><options><loginbrowser>0</loginbrowser></options><businesslist>" << businesses
        << "</businesslist></mvt>";
    dm::TTestService service(dm::ScenarioFromJson({{"accounts", accounts}}));
    servicePort = service.Start("127.0.0.1", 0);
    baseUrl = "http://127.0.0.1:" + std::to_string(servicePort) + "/";
    agentArguments = "-localtest -baseurl=" + baseUrl + " '-storage=" + (work / "store").string() + "'";

    benchmark::RegisterBenchmark("BareView/start_page", Bare)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
    benchmark::RegisterBenchmark("ControlPanel/login_to_start_page", Agent)
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    service.Stop();
    fs::remove_all(work);

    if (runs.empty() || bareMs.empty()) return 1;
    std::vector<double> logins;
    std::vector<long> befores, afters;
    bool mapped = false;
    for (const TRun& r : runs) {
        logins.push_back(r.loginMs);
        befores.push_back(r.before);
        afters.push_back(r.after);
        mapped = mapped || r.mapped;
    }
    const double login = Median(logins), bareLoad = Median(bareMs);
    const double before = Median(befores), after = Median(afters);
    std::printf("login to start page: control panel %.0f ms, bare QWebEngineView %.0f ms\n", login, bareLoad);
    std::printf("resident memory idle with %d billers: before the first panel %.1f MB, after one panel opened and closed %.1f MB\n",
                BillerCount, before / 1024, after / 1024);
    std::printf("browser engine mapped before the first panel: %s\n", mapped ? "yes" : "no");
    std::printf("ratio login_to_start_page/bare_view: %.3f\n", login / bareLoad);
    std::printf("ratio rss_after_panel/rss_before_panel: %.3f\n", after / before);
    return mapped ? 1 : 0;
}
