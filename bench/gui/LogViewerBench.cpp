// Opening the log viewer on a 100 MB current log: from the menu command to the newest session
// shown with its events (snapshot, file list, sessions, events), and the peak memory it adds,
// against reading the same file line by line with std::getline in the same run. Each opening is
// a fresh process (offscreen) so that peaks do not carry over; the file sits in the page cache
// for both. Printed last: "ratio open_viewer_100MB/getline_100MB: X" (time),
// "ratio peak_viewer/peak_getline: X" and "ratio peak_log_share/one_session: X" (memory: the
// viewer's peak less that of the same window on a folder without logs, per session of text).

#include "engine/LogFormat.h"
#include "engine/UserPrompts.h"
#include "engine/ViewLog.h"
#include "gui/dialogs/ViewLogView.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int Sessions = 100;
constexpr std::int64_t SessionBytes = 1 << 20; // 100 sessions of about 1 MB: 100 MB

long long NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
    return -1;
}

// The peak from here on, for what is measured next.
long ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
    return StatusKb("VmRSS:");
}

class TSilentPrompts : public dm::TUserPrompts {
public:
    void ShowMessage(const std::string&) override {}
    std::optional<dm::TCredentials> AskCredentials(const std::string&, const dm::TCredentials&) override {
        return std::nullopt;
    }
    dm::TFileNotFoundChoice AskCompanyFileNotFound(const std::string&, const std::string&, const std::string&) override {
        return dm::TFileNotFoundChoice::None;
    }
    void ShowServicePopup(const dm::TPopupSpec&) override {}
};

// A session as the agent writes one: events with the messages as details, web-response runs.
std::string SessionText(int number) {
    const std::string stamp = "12/5/2023 10:15:00 AM";
    std::string text = dm::LogBeginLine(stamp, std::to_string(1000 + number));
    std::string xml = "<?xml version=\"1.0\"?><soap:Envelope><soap:Body><receiveResponseXML><response>";
    for (int i = 0; i < 60; ++i) xml += "&lt;InvoiceRet&gt;&lt;TxnID&gt;" + std::to_string(i) + "&lt;/TxnID&gt;";
    xml += "</response></receiveResponseXML></soap:Body></soap:Envelope>";
    int step = 0;
    while (static_cast<std::int64_t>(text.size()) < SessionBytes) {
        text += dm::LogEventLine(stamp, "Sending response to the server.") + xml + "\r\n";
        for (const char* m : {"Status code: 200", "Status text: OK", "Content type: text/xml", "Content length: 413",
                              "Progress: 413", "Progress: 413", "Done"})
            text += dm::LogEventLine(stamp, std::string(dm::WebResponsePrefix) + m);
        text += dm::LogEventLine(stamp, "Session percentage: " + std::to_string(++step % 100));
    }
    if (number % 4 != 3) text += dm::LogEndLine("12/5/2023 10:16:00 AM");
    return text;
}

// The child: one measurement, then "elapsed_ns peak_kb" on stdout.
int Child(const std::string& mode, const std::string& folder) {
    if (mode == "getline") {
        const long base = ResetPeak();
        const long long started = NowNs();
        std::ifstream in(folder + "log.txt", std::ios::binary);
        std::string line;
        long long lines = 0, bytes = 0;
        while (std::getline(in, line)) {
            ++lines;
            bytes += static_cast<long long>(line.size());
        }
        const long long elapsed = NowNs() - started;
        benchmark::DoNotOptimize(bytes);
        std::printf("%lld %ld\n", elapsed, StatusKb("VmHWM:") - base);
        return lines > 0 ? 0 : 1;
    }
    int argc = 1;
    char name[] = "bench_gui_logviewer";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    TSilentPrompts prompts;
    const long base = ResetPeak();
    const long long started = NowNs();
    dm::TViewLog log(folder, "http://127.0.0.1:1/business/", prompts);
    dm::TViewLogView view(log);
    view.show();
    QElapsedTimer bound;
    bound.start();
    const bool empty = mode == "empty";
    while ((log.Busy() || (!empty && view.lbxSessions->model()->rowCount() == 0)) && bound.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    QApplication::processEvents(); // the first paint of what was read
    const long long elapsed = NowNs() - started;
    if (mode == "viewer" && (log.Sessions.size() != Sessions || log.Events.empty())) {
        std::fprintf(stderr, "expected %d sessions and events, found %zu and %zu\n", Sessions, log.Sessions.size(),
                     log.Events.size());
        return 1;
    }
    std::printf("%lld %ld\n", elapsed, StatusKb("VmHWM:") - base);
    std::fflush(stdout);
    std::_Exit(0); // the snapshot stays for the next child to replace
}

struct TRun {
    double seconds = -1;
    long peakKb = -1;
};

std::string self, folder;
std::string emptyFolder;
std::vector<TRun> getlineRuns, viewerRuns, emptyRuns;

void Measure(benchmark::State& state, const std::string& mode, std::vector<TRun>* runs) {
    for (auto _ : state) {
        const std::string command = "QT_QPA_PLATFORM=offscreen '" + self + "' --child " + mode + " '" +
                                    (mode == "empty" ? emptyFolder : folder) + "'";
        FILE* out = popen(command.c_str(), "r");
        long long ns = 0;
        TRun run;
        if (out && std::fscanf(out, "%lld %ld", &ns, &run.peakKb) == 2) run.seconds = double(ns) / 1e9;
        if (out) pclose(out);
        if (run.seconds < 0) {
            state.SkipWithError("the child did not report");
            return;
        }
        state.SetIterationTime(run.seconds);
        runs->push_back(run);
    }
}

template <typename T>
double Median(const std::vector<TRun>& runs, T value) {
    std::vector<double> v;
    for (const TRun& r : runs) v.push_back(double(value(r)));
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--child") return Child(argv[2], argv[3]);

    self = fs::canonical("/proc/self/exe").string();
    const fs::path work = fs::temp_directory_path() / ("dmbench-log-" + std::to_string(getpid()));
    fs::create_directories(work);
    folder = work.string() + "/";
    fs::create_directories(work / "empty");
    emptyFolder = folder + "empty/";
    std::int64_t oneSession = 0;
    {
        std::ofstream log(work / "log.txt", std::ios::binary);
        for (int i = 0; i < Sessions; ++i) {
            const std::string text = SessionText(i);
            oneSession = std::max<std::int64_t>(oneSession, static_cast<std::int64_t>(text.size()));
            log << text;
        }
    }
    const auto size = fs::file_size(work / "log.txt");

    benchmark::RegisterBenchmark("Getline/100MB", [](benchmark::State& s) { Measure(s, "getline", &getlineRuns); })
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
    benchmark::RegisterBenchmark("OpenViewer/100MB", [](benchmark::State& s) { Measure(s, "viewer", &viewerRuns); })
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
    // The same window on a folder without logs: what the widgets cost by themselves.
    benchmark::RegisterBenchmark("OpenViewer/nolog", [](benchmark::State& s) { Measure(s, "empty", &emptyRuns); })
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    fs::remove_all(work);

    if (getlineRuns.empty() || viewerRuns.empty() || emptyRuns.empty()) return 1;
    const double getlineTime = Median(getlineRuns, [](const TRun& r) { return r.seconds; });
    const double viewerTime = Median(viewerRuns, [](const TRun& r) { return r.seconds; });
    const double getlinePeak = std::max(1.0, Median(getlineRuns, [](const TRun& r) { return r.peakKb; }));
    const double viewerPeak = Median(viewerRuns, [](const TRun& r) { return r.peakKb; });
    const double emptyPeak = Median(emptyRuns, [](const TRun& r) { return r.peakKb; });
    const double logPeak = std::max(0.0, viewerPeak - emptyPeak);
    std::printf("log of %.1f MB in %d sessions of up to %.2f MB\n", double(size) / 1e6, Sessions, double(oneSession) / 1e6);
    std::printf("getline through the file: %.0f ms, peak added %.1f MB\n", getlineTime * 1e3, getlinePeak / 1024);
    std::printf("viewer opened, newest session shown: %.0f ms, peak added %.1f MB\n", viewerTime * 1e3,
                viewerPeak / 1024);
    std::printf("the window without a log: peak added %.1f MB; the log's share %.1f MB\n", emptyPeak / 1024,
                logPeak / 1024);
    std::printf("ratio open_viewer_100MB/getline_100MB: %.3f\n", viewerTime / getlineTime);
    std::printf("ratio peak_viewer/peak_getline: %.3f\n", viewerPeak / getlinePeak);
    std::printf("ratio peak_log_share/one_session: %.3f\n", logPeak * 1024 / double(oneSession));
    return 0;
}
