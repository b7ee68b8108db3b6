// From process start to the main window painted with 50 billers, and the resident memory once
// the window is idle, each against an empty Qt window started the same way in the same run.
// Every start is a fresh process (offscreen) so that library loading and platform set-up count.
// Printed last: "ratio startup_50_billers/empty_window: X" and "ratio rss_50_billers/empty_window: X"
// (how many times the empty window's cost ours is), the absolute figures with their targets,
// and whether a browser engine was loaded.
//
// Then the cost of being idle: each process, once started and every account confirmed, sits in
// its event loop for 60 s while its CPU time (all threads, from getrusage) and its wake-ups (the
// context switches of all its threads, from /proc) are counted. Printed as
// "ratio idle_cpu_percent_50_billers: X" (percent of one core) and
// "ratio idle_wakeups_per_second_50_billers: X", beside the empty window's figures.

#include "engine/MainEngine.h"
#include "engine/Startup.h"
#include "engine/Sync.h"
#include "gui/main/Main.h"
#include "gui/main/SingleInstance.h"
#include "gui/main/WindowedStart.h"

#include "TestService.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int BillerCount = 50;

long long NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

bool BrowserEngineLoaded() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("WebEngine") != std::string::npos) return true;
    return false;
}

// Notes the first paint of the window.
class TFirstPaint : public QObject {
public:
    long long at = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && at == 0) at = NowNs();
        return false;
    }
};

void Idle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Context switches of every thread of this process: each is a thread going to sleep or being
// put aside, so together they count how often the process woke up.
long long ContextSwitches() {
    long long total = 0;
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::strtoll(line.c_str() + line.find(':') + 1, nullptr, 10);
    }
    return total;
}

constexpr int IdleSeconds = 60;

// The child: one start, then "shown_ns rss_kb browser" on stdout; with idle set, instead
// "cpu_seconds context_switches" of IdleSeconds in the event loop.
int Child(const std::string& mode, const std::vector<std::string>& arguments, bool idle) {
    int argc = 1;
    char name[] = "bench_gui_startup";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    TFirstPaint paint;
    std::unique_ptr<QWidget> empty;
    std::unique_ptr<dm::TSingleInstance> guard;
    std::unique_ptr<dm::TAppState> state;
    std::unique_ptr<dm::TWindowedProgram> program;
    if (mode == "empty") {
        empty = std::make_unique<QWidget>();
        empty->resize(652, 494);
        empty->installEventFilter(&paint);
        empty->show();
    } else {
        // The windowed start as the program makes it, with a guard of its own name.
        QApplication::setQuitOnLastWindowClosed(false);
        guard = std::make_unique<dm::TSingleInstance>(QStringLiteral("bench-guard-%1").arg(getpid()));
        guard->Claim({});
        dm::TGuiPrompts prompts;
        state = std::make_unique<dm::TAppState>(dm::RunStartup(dm::TStartupEnvironment::Current(arguments), prompts));
        program = std::make_unique<dm::TWindowedProgram>(*state);
        // The filter goes on before the window exists: installed on the application, it sees
        // the window's first paint.
        app.installEventFilter(&paint);
        if (!program->Start()) return 1;
    }
    QElapsedTimer bound;
    bound.start();
    while (paint.at == 0 && bound.elapsed() < 20000) QApplication::processEvents(QEventLoop::AllEvents, 5);
    // Idle: every account confirmed, then a moment of quiet.
    while (program && bound.elapsed() < 20000) {
        const auto& billers = program->Engine->Billers();
        if (std::none_of(billers.begin(), billers.end(), [](const dm::TSync* f) { return f->Confirming; })) break;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    Idle(500);
    if (program && program->Engine->Billers().size() != BillerCount) {
        std::fprintf(stderr, "expected %d billers, found %zu\n", BillerCount, program->Engine->Billers().size());
        return 1;
    }
    if (idle) {
        QEventLoop loop;
        QTimer::singleShot(IdleSeconds * 1000, &loop, &QEventLoop::quit);
        const double cpu = CpuSeconds();
        const long long switches = ContextSwitches();
        loop.exec();
        std::printf("%.6f %lld\n", CpuSeconds() - cpu, ContextSwitches() - switches);
    } else {
        std::printf("%lld %ld %d\n", paint.at, ResidentKb(), BrowserEngineLoaded() ? 1 : 0);
    }
    std::fflush(stdout);
    std::_Exit(0); // the measurement is taken; shutting down is not part of it
}

struct TStart {
    double seconds = -1;
    long rssKb = -1;
    bool browser = false;
};

std::string self;
std::string agentArguments;
std::vector<TStart> emptyStarts, agentStarts;

TStart Spawn(const std::string& mode) {
    const std::string command = "QT_QPA_PLATFORM=offscreen '" + self + "' --child " + mode + " " + agentArguments;
    const long long started = NowNs();
    FILE* out = popen(command.c_str(), "r");
    TStart s;
    long long shown = 0;
    int browser = 0;
    if (out && std::fscanf(out, "%lld %ld %d", &shown, &s.rssKb, &browser) == 3 && shown > 0) {
        s.seconds = double(shown - started) / 1e9;
        s.browser = browser != 0;
    }
    if (out) pclose(out);
    return s;
}

void Start(benchmark::State& state, const std::string& mode, std::vector<TStart>* starts) {
    for (auto _ : state) {
        TStart s = Spawn(mode);
        if (s.seconds < 0) {
            state.SkipWithError("the child did not report");
            return;
        }
        state.SetIterationTime(s.seconds);
        starts->push_back(s);
    }
}

struct TIdle {
    double cpuPercent = -1;
    double wakeupsPerSecond = -1;
};
TIdle emptyIdle, agentIdle;

TIdle SpawnIdle(const std::string& mode) {
    const std::string command = "QT_QPA_PLATFORM=offscreen '" + self + "' --idle " + mode + " " + agentArguments;
    FILE* out = popen(command.c_str(), "r");
    TIdle idle;
    double cpu = 0;
    long long switches = 0;
    if (out && std::fscanf(out, "%lf %lld", &cpu, &switches) == 2) {
        idle.cpuPercent = cpu / IdleSeconds * 100;
        idle.wakeupsPerSecond = double(switches) / IdleSeconds;
    }
    if (out) pclose(out);
    return idle;
}

void MeasureIdle(benchmark::State& state, const std::string& mode, TIdle* result) {
    for (auto _ : state) {
        *result = SpawnIdle(mode);
        if (result->cpuPercent < 0) {
            state.SkipWithError("the child did not report");
            return;
        }
        state.SetIterationTime(result->cpuPercent / 100 * IdleSeconds);
        state.counters["cpu_percent"] = result->cpuPercent;
        state.counters["wakeups_per_s"] = result->wakeupsPerSecond;
    }
}

template <typename T>
double Median(std::vector<TStart> starts, T value) {
    std::vector<double> v;
    for (const TStart& s : starts) v.push_back(double(value(s)));
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && (std::string(argv[1]) == "--child" || std::string(argv[1]) == "--idle"))
        return Child(argv[2], std::vector<std::string>(argv + 3, argv + argc), std::string(argv[1]) == "--idle");

    self = fs::canonical("/proc/self/exe").string();
    const fs::path work = fs::temp_directory_path() / ("dmbench-gui-" + std::to_string(getpid()));
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
        << "<?xml version=\"1.0\"?><mvt><businesslist>" << businesses << "</businesslist></mvt>";
    dm::TTestService service(dm::ScenarioFromJson({{"accounts", accounts}}));
    const int port = service.Start("127.0.0.1", 0);
    agentArguments = "-localtest -baseurl=http://127.0.0.1:" + std::to_string(port) + "/ '-storage=" +
                     (work / "store").string() + "'";

    benchmark::RegisterBenchmark("EmptyWindow", [](benchmark::State& s) { Start(s, "empty", &emptyStarts); })
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(7);
    benchmark::RegisterBenchmark("MainWindow/50billers", [](benchmark::State& s) { Start(s, "agent", &agentStarts); })
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(7);
    benchmark::RegisterBenchmark("IdleEmptyWindow/60s", [](benchmark::State& s) { MeasureIdle(s, "empty", &emptyIdle); })
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
    benchmark::RegisterBenchmark("IdleMainWindow/50billers/60s", [](benchmark::State& s) { MeasureIdle(s, "agent", &agentIdle); })
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    service.Stop();
    fs::remove_all(work);

    if (agentIdle.cpuPercent >= 0 && emptyIdle.cpuPercent >= 0) {
        std::printf("idle for %d s: empty window %.3f%% of a core, %.1f wake-ups/s; main window with %d billers "
                    "%.3f%% of a core (target 0.3%%), %.1f wake-ups/s (target 20)\n",
                    IdleSeconds, emptyIdle.cpuPercent, emptyIdle.wakeupsPerSecond, BillerCount, agentIdle.cpuPercent,
                    agentIdle.wakeupsPerSecond);
        std::printf("ratio idle_cpu_percent_50_billers: %.3f\n", agentIdle.cpuPercent);
        std::printf("ratio idle_wakeups_per_second_50_billers: %.1f\n", agentIdle.wakeupsPerSecond);
    }
    if (emptyStarts.empty() || agentStarts.empty()) return 1;
    const double emptyTime = Median(emptyStarts, [](const TStart& s) { return s.seconds; });
    const double agentTime = Median(agentStarts, [](const TStart& s) { return s.seconds; });
    const double emptyRss = Median(emptyStarts, [](const TStart& s) { return s.rssKb; });
    const double agentRss = Median(agentStarts, [](const TStart& s) { return s.rssKb; });
    const bool browser = std::any_of(agentStarts.begin(), agentStarts.end(), [](const TStart& s) { return s.browser; });
    std::printf("start to window shown: empty window %.0f ms, main window with %d billers %.0f ms (target 500 ms)\n",
                emptyTime * 1e3, BillerCount, agentTime * 1e3);
    std::printf("resident memory once idle: empty window %.1f MB, main window with %d billers %.1f MB (target 80 MB)\n",
                emptyRss / 1024, BillerCount, agentRss / 1024);
    std::printf("browser engine loaded at start: %s\n", browser ? "yes" : "no");
    std::printf("ratio startup_50_billers/empty_window: %.3f\n", agentTime / emptyTime);
    std::printf("ratio rss_50_billers/empty_window: %.3f\n", agentRss / emptyRss);
    return browser ? 1 : 0;
}
